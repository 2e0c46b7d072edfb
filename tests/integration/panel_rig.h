#pragma once
// The panel on the real Qt parts, for the end-to-end tests against real
// slaves: the port list is a fixed list of pseudo-terminal paths (each one
// reported only while it exists, as a plugged adapter would be), the settings
// start empty, and every wait runs the event loop with a deadline.
//
// Also here: the peers the tests talk to (a libmodbus slave or the scripted
// fault peer with a request log in a temp dir), and the frames and log rows
// the tests expect, built independently of the codec (own CRC, own MBAP
// header, own hex text).
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "panel/frmMain.h"
#include "peer_harness.h"
#include "qt/QtPlatform.h"
#include "qt/adapters/headless_parts.h"
#include "qt_test_util.h"
#include "slave_contents.h"

namespace rig {

constexpr int16_t kRtu = 0, kTcp = 1, kRtuOverTcp = 2;

// ---- frames and log texts as the tests expect them ---------------------------------------------

// CRC-16/MODBUS, bit by bit.
inline uint16_t Crc(const Frame& data) {
  uint16_t crc = 0xFFFF;
  for (uint8_t b : data) {
    crc ^= b;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
  }
  return crc;
}

inline Frame WithCrc(Frame pdu) {
  const uint16_t crc = Crc(pdu);
  pdu.push_back(static_cast<uint8_t>(crc & 0xFF));
  pdu.push_back(static_cast<uint8_t>(crc >> 8));
  return pdu;
}

// The frame of `pdu` (slave byte first) in the framing of `mode`: behind an
// MBAP header with transaction id `tid` in TCP, followed by its CRC otherwise.
inline Frame Adu(int16_t mode, int tid, const Frame& pdu) {
  if (mode != kTcp) return WithCrc(pdu);
  const size_t len = pdu.size();
  Frame f = {static_cast<uint8_t>(tid >> 8), static_cast<uint8_t>(tid & 0xFF), 0, 0,
             static_cast<uint8_t>(len >> 8), static_cast<uint8_t>(len & 0xFF)};
  f.insert(f.end(), pdu.begin(), pdu.end());
  return f;
}

// "01 03 0A" style: upper-case pairs, one blank between bytes.
inline std::string Hex(const Frame& f) {
  std::string s;
  char buf[4];
  for (uint8_t b : f) {
    std::snprintf(buf, sizeof buf, "%02X", b);
    if (!s.empty()) s += ' ';
    s += buf;
  }
  return s;
}

inline std::string Req(const Frame& f) { return "Request  --> " + Hex(f); }
inline std::string Rsp(const Frame& f) { return "Response <-- " + Hex(f); }

// Lines of the response view joined as the view joins them.
inline std::string ViewText(const std::vector<std::string>& lines) {
  std::string t;
  for (const std::string& l : lines) {
    if (!t.empty()) t += "\r\n";
    t += l;
  }
  return t;
}

// CPU time of this process (user + system), in seconds.
inline double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// ---- platform parts swapped for the tests ------------------------------------------------------

// A fixed list of device paths; each is reported only while it exists, so a
// pseudo-terminal pair that ends drops out of the list as an unplugged
// adapter does, and comes back when a new pair is made under the same name.
class StaticPortList : public platform::PortList {
 public:
  std::vector<platform::PortInfo> Ports() override {
    std::vector<platform::PortInfo> out;
    for (const std::string& path : paths_) {
      struct stat st {};
      if (::stat(path.c_str(), &st) != 0) continue;
      platform::PortInfo p;
      p.name = path;
      out.push_back(std::move(p));
    }
    return out;
  }
  void Set(std::vector<std::string> paths) { paths_ = std::move(paths); }
  void Add(const std::string& path) { paths_.push_back(path); }

 private:
  std::vector<std::string> paths_;
};

// Settings that start empty and stay in memory: every panel starts from the
// program's defaults, whatever another test stored.
class MemorySettings : public platform::SettingsStore {
 public:
  std::optional<std::string> Read(const std::string& section, const std::string& key) override {
    auto it = values_.find(section + "/" + key);
    if (it == values_.end()) return std::nullopt;
    return it->second;
  }
  bool Write(const std::string& section, const std::string& key, const std::string& value) override {
    values_[section + "/" + key] = value;
    return true;
  }

 private:
  std::map<std::string, std::string> values_;
};

// ---- the panel -----------------------------------------------------------------------------------

class Panel {
 public:
  Panel() : ports_(std::make_shared<StaticPortList>()) {
    platform::Platform p = qt::MakePlatform();
    p.ports = ports_;
    p.settings = std::make_shared<MemorySettings>();
    beeper_ = std::dynamic_pointer_cast<qt::CountingBeeper>(p.beeper);
    f_ = std::make_unique<frmMain>(p);
    f_->Form_Load();
    Mark();
  }

  frmMain& f() { return *f_; }
  const frmMain& f() const { return *f_; }
  StaticPortList& ports() { return *ports_; }
  int Beeps() const { return beeper_ ? beeper_->Count() : -1; }

  // Socket modes: host 127.0.0.1, the port, the socket's time-out.
  void UseSocket(int16_t mode, int port, const std::string& timeoutMs = "500") {
    f_->cmbMode.SetListIndex(mode);
    f_->txtTcpHost.SetText("127.0.0.1");
    f_->txtTcpPort.SetText(std::to_string(port));
    f_->txtTcpTimeout.SetText(timeoutMs);
  }

  // RTU on `path` (put on the port list and selected), with the line settings
  // and the serial time-out.
  void UseSerial(const std::string& path, const std::string& speed = "9600", int parityIndex = 0, int stopIndex = 0,
                 const std::string& timeoutMs = "500") {
    f_->cmbMode.SetListIndex(kRtu);
    ports_->Set({path});
    f_->RefreshComPorts();
    f_->cmbRtuPort.SetText(path);
    f_->cmbRtuSpeed.SetText(speed);
    f_->cmbRtuParity.SetListIndex(parityIndex);
    f_->cmbRtuStopBit.SetListIndex(stopIndex);
    f_->txtRtuTimeout.SetText(timeoutMs);
  }

  // The request on the form: function code, address, quantity (reads) or
  // value (writes), display format (function codes 3 to 16), slave.
  void SetRequest(int cmd, const std::string& addr, const std::string& quantityOrValue, int format = 0,
                  const std::string& unit = "1") {
    static const std::map<int, int> kIndex = {{1, 0}, {2, 1}, {3, 2}, {4, 3}, {5, 4}, {6, 5}, {16, 6}};
    f_->txtUnitID.SetText(unit);
    f_->cmbCmd.SetListIndex(kIndex.at(cmd));
    if (cmd >= 3) f_->cmbFormat.SetListIndex(format);
    f_->txtAddr.SetText(addr);
    if (cmd <= 4) {
      f_->txtQuantity.SetText(quantityOrValue);
    } else {
      f_->txtValue.SetText(quantityOrValue);
    }
  }

  // No answer awaited and no connect attempt running.
  bool Idle() const { return !f_->AwaitingResponse && !f_->tmrConnectTimeout.Enabled(); }
  bool WaitIdle(int ms = 5000) {
    return testutil::RunUntil([&] { return Idle(); }, ms);
  }
  // Presses Send and runs the event loop until the transaction is over.
  bool Send(int ms = 5000) {
    f_->cmdSend_Click();
    return WaitIdle(ms);
  }

  // Rows written from now on are what Rows() returns.
  void Mark() { mark_ = f_->txtLog.Length(); }
  size_t MarkPos() const { return mark_; }

  // The log rows since the mark without their time stamps ("" for an empty
  // row). The continuation rows of a long frame are joined to the row they
  // continue, so a frame reads as one row. A row whose stamp or indent is
  // malformed is returned as it stands, so that comparing it fails.
  std::vector<std::string> Rows() const { return RowsFrom(mark_); }
  std::vector<std::string> RowsFrom(size_t pos) const {
    std::vector<std::string> rows;
    const std::string& text = f_->txtLog.Text();
    if (pos > text.size()) pos = text.size();
    while (pos < text.size()) {
      size_t end = text.find("\r\n", pos);
      if (end == std::string::npos) end = text.size();
      const std::string row = text.substr(pos, end - pos);
      pos = end + 2;
      const std::string indent(37, ' ');
      if (row.size() > 37 && row.compare(0, 37, indent) == 0 && IsHexDigit(row[37]) && !rows.empty()) {
        rows.back() += row.substr(37);
      } else if (row.empty()) {
        rows.push_back(row);
      } else if (HasStamp(row)) {
        rows.push_back(row.substr(24));
      } else {
        rows.push_back(row);
      }
    }
    return rows;
  }
  // The time stamp of each row since the mark, as milliseconds of the day (-1
  // for a row without one).
  std::vector<std::pair<std::string, long>> StampedRows() const {
    std::vector<std::pair<std::string, long>> out;
    const std::string& text = f_->txtLog.Text();
    size_t pos = mark_;
    while (pos < text.size()) {
      size_t end = text.find("\r\n", pos);
      if (end == std::string::npos) end = text.size();
      const std::string row = text.substr(pos, end - pos);
      pos = end + 2;
      if (!HasStamp(row)) continue;
      const long ms = ((Num(row, 10, 2) * 60 + Num(row, 13, 2)) * 60 + Num(row, 16, 2)) * 1000 + Num(row, 19, 3);
      out.emplace_back(row.substr(24), ms);
    }
    return out;
  }
  int Count(const std::string& row) const {
    int n = 0;
    for (const std::string& r : Rows()) n += r == row ? 1 : 0;
    return n;
  }
  int CountPrefix(const std::string& prefix) const {
    int n = 0;
    for (const std::string& r : Rows()) n += r.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
  }
  // Runs the event loop until a row equal to `row` has been written since the
  // mark.
  bool WaitRow(const std::string& row, int ms) {
    return testutil::RunUntil([&] { return Count(row) > 0; }, ms);
  }

  // The colour of every byte of the first response row since the mark (both
  // digits of a byte must agree, else 0 is given for it), and the colour of
  // every row since the mark by its text. Scanned from the pane's own text.
  std::vector<uint32_t> ResponseByteColors() const {
    std::vector<uint32_t> colors;
    const std::string& text = f_->txtLog.Text();
    const size_t head = text.find("Response <-- ", mark_);
    if (head == std::string::npos) return colors;
    size_t pos = head + 13;
    while (pos < text.size()) {
      if (text.compare(pos, 2, "\r\n") == 0) {
        // A continuation row follows only behind 37 blanks.
        if (text.compare(pos + 2, 37, std::string(37, ' ')) != 0) break;
        pos += 2 + 37;
        continue;
      }
      if (IsHexDigit(text[pos]) && pos + 1 < text.size() && IsHexDigit(text[pos + 1])) {
        const uint32_t c = f_->txtLog.ColorAt(pos);
        colors.push_back(c == f_->txtLog.ColorAt(pos + 1) ? c : 0);
        pos += 2;
        continue;
      }
      ++pos;
    }
    return colors;
  }
  // The colour of the first character of each non-empty row since the mark.
  std::vector<uint32_t> RowColors() const {
    std::vector<uint32_t> out;
    const std::string& text = f_->txtLog.Text();
    size_t pos = mark_;
    while (pos < text.size()) {
      size_t end = text.find("\r\n", pos);
      if (end == std::string::npos) end = text.size();
      if (end > pos && text[pos] != ' ') out.push_back(f_->txtLog.ColorAt(pos));
      pos = end + 2;
    }
    return out;
  }

 private:
  static bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }
  static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
  static long Num(const std::string& s, size_t at, size_t n) { return std::stol(s.substr(at, n)); }
  // "dd.mm.yy  hh:mm:ss.mmm  " in front of the text.
  static bool HasStamp(const std::string& row) {
    static const char kPattern[] = "99.99.99  99:99:99.999  ";
    if (row.size() < 24) return false;
    for (size_t i = 0; i < 24; ++i) {
      const char p = kPattern[i];
      if (p == '9' ? !IsDigit(row[i]) : row[i] != p) return false;
    }
    return true;
  }

  std::shared_ptr<StaticPortList> ports_;
  std::shared_ptr<qt::CountingBeeper> beeper_;
  std::unique_ptr<frmMain> f_;
  size_t mark_ = 0;
};

// ---- peers ---------------------------------------------------------------------------------------

// A test peer with a temp dir for its request log (and script). Stopped and
// cleaned up when it goes out of scope.
class Peer {
 public:
  Peer() : dir_(vesk::test::MakeTempDir("vesk-it")) {}
  ~Peer() {
    proc_.Stop();
    if (!dir_.empty()) vesk::test::RemoveTempDir(dir_);
  }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  // modbus_slave with `args` and a request log; the text of its READY line.
  std::optional<std::string> StartSlave(std::vector<std::string> args) {
    args.push_back("--log");
    args.push_back(LogPath());
    if (!proc_.Start(VESK_MODBUS_SLAVE_PATH, args, dir_ + "/stderr.txt")) return std::nullopt;
    return proc_.WaitReady();
  }
  // modbus_slave on 127.0.0.1; the port it listens on, 0 on failure.
  int StartTcpSlave(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--tcp", "0"};
    args.insert(args.end(), extra.begin(), extra.end());
    const std::optional<std::string> ready = StartSlave(args);
    return ready ? std::atoi(ready->c_str()) : 0;
  }
  // fault_peer on 127.0.0.1 running `script`; its port, 0 on failure.
  int StartFaultPeer(const std::string& script, std::vector<std::string> extra = {}) {
    const std::string path = dir_ + "/script.txt";
    std::ofstream(path) << script;
    std::vector<std::string> args = {"--port", "0", "--script", path, "--log", LogPath()};
    args.insert(args.end(), extra.begin(), extra.end());
    if (!proc_.Start(VESK_FAULT_PEER_PATH, args, dir_ + "/stderr.txt")) return 0;
    const std::optional<std::string> ready = proc_.WaitReady();
    return ready ? std::atoi(ready->c_str()) : 0;
  }
  // The next READY line (a slave that reopened its device prints one again).
  std::optional<std::string> WaitReady(int ms = 5000) { return proc_.WaitReady(std::chrono::milliseconds(ms)); }

  // The requests the peer received, "REQ <hex>" each.
  std::vector<std::string> Requests() const {
    std::vector<std::string> lines;
    std::ifstream in(LogPath());
    std::string line;
    while (std::getline(in, line))
      if (!line.empty()) lines.push_back(line);
    return lines;
  }
  std::string LogPath() const { return dir_ + "/requests.log"; }
  const std::string& Dir() const { return dir_; }

 private:
  std::string dir_;
  vesk::test::PeerProcess proc_;
};

// ---- the slave's known contents as exchanges ----------------------------------------------------

// One press of Send: the form's request, the frames on the wire (slave byte
// first, without MBAP header or CRC) and what the response view then shows.
struct Exchange {
  std::string name;
  int cmd;
  std::string addr;
  std::string quantityOrValue;
  int format;
  std::vector<Frame> requests;
  std::vector<Frame> responses;
  std::vector<std::string> view;
};

// Runs each exchange on a panel whose transport is set up and connected (or
// open): the log shows exactly a request row and a response row per frame, in
// order, with consecutive transaction ids in TCP; the view shows the lines and
// the response time.
inline void RunExchanges(Panel& p, int16_t mode, const std::vector<Exchange>& cases) {
  for (const Exchange& c : cases) {
    SCOPED_TRACE(c.name);
    p.SetRequest(c.cmd, c.addr, c.quantityOrValue, c.format);
    p.Mark();
    const int tid = p.f().TransactionID;
    ASSERT_TRUE(p.Send());
    std::vector<std::string> expected;
    for (size_t i = 0; i < c.requests.size(); ++i) {
      expected.push_back(Req(Adu(mode, tid + 1 + static_cast<int>(i), c.requests[i])));
      expected.push_back(Rsp(Adu(mode, tid + 1 + static_cast<int>(i), c.responses[i])));
    }
    EXPECT_EQ(p.Rows(), expected);
    EXPECT_EQ(p.f().txtResponse.Text(), ViewText(c.view));
    EXPECT_TRUE(p.f().txtResponse.Enabled());
    const std::string dt = p.f().lblDT.Caption();
    EXPECT_TRUE(dt.size() > 3 && dt.compare(dt.size() - 3, 3, " ms") == 0 &&
                dt.find_first_not_of("0123456789") == dt.size() - 3)
        << dt;
  }
}

// Packs bits 0/1 least significant first, as coils travel.
inline Frame BitBytes(const std::vector<int>& bits) {
  Frame out((bits.size() + 7) / 8, 0);
  for (size_t i = 0; i < bits.size(); ++i)
    if (bits[i]) out[i / 8] = static_cast<uint8_t>(out[i / 8] | (1u << (i % 8)));
  return out;
}

inline Frame Concat(Frame a, const Frame& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Reads of every table, in several formats, against the slave's contents.
inline std::vector<Exchange> ReadExchanges() {
  std::vector<Exchange> out;
  {
    std::vector<int> bits;
    std::vector<std::string> view;
    for (int a = 20; a < 30; ++a) {
      bits.push_back(vesk_slave_coil(a));
      view.push_back("CL 000" + std::to_string(a) + ": " + std::to_string(vesk_slave_coil(a)));
    }
    const Frame data = BitBytes(bits);
    out.push_back({"01 coils 20..29",
                   1,
                   "20",
                   "10",
                   1,
                   {{1, 1, 0, 20, 0, 10}},
                   {Concat({1, 1, static_cast<uint8_t>(data.size())}, data)},
                   view});
  }
  {
    std::vector<int> bits;
    std::vector<std::string> view;
    for (int a = 0; a < 5; ++a) {
      bits.push_back(vesk_slave_discrete_input(a));
      view.push_back("DI 0000" + std::to_string(a) + ": " + std::to_string(vesk_slave_discrete_input(a)));
    }
    const Frame data = BitBytes(bits);
    out.push_back({"02 inputs 0..4",
                   2,
                   "0",
                   "5",
                   1,
                   {{1, 2, 0, 0, 0, 5}},
                   {Concat({1, 2, static_cast<uint8_t>(data.size())}, data)},
                   view});
  }
  out.push_back({"03 INT16 0..2",
                 3,
                 "0",
                 "3",
                 0,
                 {{1, 3, 0, 0, 0, 3}},
                 {{1, 3, 6, 0, 0, 0, 1, 0, 2}},
                 {"HR 00000: 0", "HR 00001: 1", "HR 00002: 2"}});
  out.push_back({"03 INT16 110..111",
                 3,
                 "110",
                 "2",
                 0,
                 {{1, 3, 0, 110, 0, 2}},
                 {{1, 3, 4, 0x80, 0x00, 0xFF, 0xFF}},
                 {"HR 00110: -32768", "HR 00111: -1    "}});
  out.push_back({"03 UINT16 110..111",
                 3,
                 "110",
                 "2",
                 1,
                 {{1, 3, 0, 110, 0, 2}},
                 {{1, 3, 4, 0x80, 0x00, 0xFF, 0xFF}},
                 {"HR 00110: 32768", "HR 00111: 65535"}});
  out.push_back({"03 FLOAT_ABCD 100",
                 3,
                 "100",
                 "1",
                 2,
                 {{1, 3, 0, 100, 0, 2}},
                 {{1, 3, 4, 0x3F, 0x80, 0, 0}},
                 {"FLT HR 00100: 1"}});
  out.push_back({"03 FLOAT_CDAB 112",
                 3,
                 "112",
                 "1",
                 3,
                 {{1, 3, 0, 112, 0, 2}},
                 {{1, 3, 4, 0, 0, 0x3F, 0x80}},
                 {"FLT HR 00112: 1"}});
  out.push_back({"03 INT32_ABCD 104",
                 3,
                 "104",
                 "1",
                 6,
                 {{1, 3, 0, 104, 0, 2}},
                 {{1, 3, 4, 0xFF, 0xFF, 0xFF, 0xFE}},
                 {"I32 HR 00104: -2"}});
  out.push_back({"03 UINT32_ABCD 102..105",
                 3,
                 "102",
                 "2",
                 10,
                 {{1, 3, 0, 102, 0, 4}},
                 {{1, 3, 8, 0x12, 0x34, 0x56, 0x78, 0xFF, 0xFF, 0xFF, 0xFE}},
                 {"U32 HR 00102: 305419896 ", "U32 HR 00104: 4294967294"}});
  out.push_back({"04 UINT16 0x10..0x11",
                 4,
                 "0x10",
                 "2",
                 1,
                 {{1, 4, 0, 0x10, 0, 2}},
                 {{1, 4, 4, 0x03, 0xF8, 0x03, 0xF9}},
                 {"IR 0x0010: 1016", "IR 0x0011: 1017"}});
  return out;
}

// Writes of every write function, each followed by a read that shows it
// landed. The order matters: later reads see earlier writes. `point` is the
// decimal separator the view uses.
inline std::vector<Exchange> WriteExchanges(const std::string& point) {
  std::vector<Exchange> out;
  out.push_back({"05 coil 1 on", 5, "1", "1", 0, {{1, 5, 0, 1, 0xFF, 0}}, {{1, 5, 0, 1, 0xFF, 0}}, {"CL 00001 <- 1"}});
  out.push_back({"05 coil 3 off", 5, "3", "0", 0, {{1, 5, 0, 3, 0, 0}}, {{1, 5, 0, 3, 0, 0}}, {"CL 00003 <- 0"}});
  out.push_back({"01 coils 0..3 read back",
                 1,
                 "0",
                 "4",
                 1,
                 {{1, 1, 0, 0, 0, 4}},
                 {{1, 1, 1, 0x03}},
                 {"CL 00000: 1", "CL 00001: 1", "CL 00002: 0", "CL 00003: 0"}});
  out.push_back({"06 HR 5 = 1234",
                 6,
                 "5",
                 "1234",
                 0,
                 {{1, 6, 0, 5, 0x04, 0xD2}},
                 {{1, 6, 0, 5, 0x04, 0xD2}},
                 {"HR 00005 <- 1234"}});
  out.push_back(
      {"06 HR 6 = -2", 6, "6", "-2", 0, {{1, 6, 0, 6, 0xFF, 0xFE}}, {{1, 6, 0, 6, 0xFF, 0xFE}}, {"HR 00006 <- 65534"}});
  out.push_back({"16 HR 7 = 4321",
                 16,
                 "7",
                 "4321",
                 0,
                 {{1, 16, 0, 7, 0, 1, 2, 0x10, 0xE1}},
                 {{1, 16, 0, 7, 0, 1}},
                 {"HR 00007 <- 4321"}});
  out.push_back({"03 HR 5..7 read back",
                 3,
                 "5",
                 "3",
                 0,
                 {{1, 3, 0, 5, 0, 3}},
                 {{1, 3, 6, 0x04, 0xD2, 0xFF, 0xFE, 0x10, 0xE1}},
                 {"HR 00005: 1234", "HR 00006: -2  ", "HR 00007: 4321"}});
  out.push_back({"16 FLOAT_ABCD HR 20 = 1.5",
                 16,
                 "20",
                 "1.5",
                 2,
                 {{1, 16, 0, 20, 0, 2, 4, 0x3F, 0xC0, 0, 0}},
                 {{1, 16, 0, 20, 0, 2}},
                 {"HR 00020 <- 16320", "HR 00021 <- 0"}});
  // A 32-bit value written with 06 takes two frames, the second sent on the
  // first answer; the view shows both echoes.
  out.push_back({"06 INT32_ABCD HR 30 = 305419896",
                 6,
                 "30",
                 "305419896",
                 6,
                 {{1, 6, 0, 30, 0x12, 0x34}, {1, 6, 0, 31, 0x56, 0x78}},
                 {{1, 6, 0, 30, 0x12, 0x34}, {1, 6, 0, 31, 0x56, 0x78}},
                 {"HR 00030 <- 4660", "HR 00031 <- 22136"}});
  out.push_back({"03 INT32_ABCD HR 30 read back",
                 3,
                 "30",
                 "1",
                 6,
                 {{1, 3, 0, 30, 0, 2}},
                 {{1, 3, 4, 0x12, 0x34, 0x56, 0x78}},
                 {"I32 HR 00030: 305419896"}});
  out.push_back({"03 FLOAT_ABCD HR 20 read back",
                 3,
                 "20",
                 "1",
                 2,
                 {{1, 3, 0, 20, 0, 2}},
                 {{1, 3, 4, 0x3F, 0xC0, 0, 0}},
                 {"FLT HR 00020: 1" + point + "5"}});
  return out;
}

}  // namespace rig
