#pragma once
// The panel on the real Qt parts against real peers on 127.0.0.1 and pseudo-terminals: a fixed
// port list (each path listed only while it exists), event-loop waits with deadlines, and the
// frames and rows the tests expect, built apart from the codec (the fault peer's steps included).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <map>
#include <regex>
#include <sstream>

#include "panel/frmMain.h"
#include "peer_harness.h"
#include "qt/QtPlatform.h"

namespace rig {

using Rows = std::vector<std::string>;
using Peer = vesk::test::Peer;
constexpr int16_t kRtu = 0, kTcp = 1, kRtuOverTcp = 2;
inline const std::string kTimedOut = "Communication Error: Request Timeout";

// Runs the event loop until `done` holds or `ms` have passed (a 5 ms wake-up checks); `done()`.
inline bool RunUntil(const std::function<bool()>& done, int ms) {
  QElapsedTimer clock;
  clock.start();
  QTimer wake;
  wake.start(5);
  while (!done() && clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  return done();
}
inline void RunFor(int ms) {
  RunUntil([] { return false; }, ms);
}
inline bool Within(long value, long low, long high) { return value >= low && value < high; }

// CRC-16/MODBUS bit by bit, appended low byte first.
inline Frame WithCrc(Frame f) {
  uint16_t crc = 0xFFFF;
  for (uint8_t b : f) {
    crc ^= b;
    for (int bit = 0; bit < 8; ++bit) crc = static_cast<uint16_t>((crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1);
  }
  f.insert(f.end(), {static_cast<uint8_t>(crc & 0xFF), static_cast<uint8_t>(crc >> 8)});
  return f;
}
// `pdu` (slave byte first) behind an MBAP header with transaction id `tid` in TCP, else with a CRC.
inline Frame Adu(int16_t mode, int tid, const Frame& pdu) {
  if (mode != kTcp) return WithCrc(pdu);
  Frame f = {static_cast<uint8_t>(tid >> 8), static_cast<uint8_t>(tid), 0, 0, 0, static_cast<uint8_t>(pdu.size())};
  f.insert(f.end(), pdu.begin(), pdu.end());
  return f;
}
// "01 03 0A": upper-case pairs, one blank between bytes.
inline std::string Hex(const Frame& f) {
  std::string s;
  char buf[4];
  for (uint8_t b : f) s += (std::snprintf(buf, sizeof buf, s.empty() ? "%02X" : " %02X", b), buf);
  return s;
}
inline std::string Req(const Frame& f) { return "Request  --> " + Hex(f); }
inline std::string Rsp(const Frame& f) { return "Response <-- " + Hex(f); }
inline Rows Cat(Rows a, const Rows& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
// The rows of a connect on demand and of opening a serial port.
inline Rows Connect(int port) { return {"", "Connect to 127.0.0.1:" + std::to_string(port) + "...", "Connected"}; }
inline Rows Open(const std::string& port) { return {"", "Open " + port + "...", port + " opened"}; }

// The bytes a fault peer's script step sends ("reply ..." or "chunks <ms> ... | ..."), in answer to
// a request of unit 1, function code 03 and transaction id `tid`; plain hex pairs read alone too.
inline Frame Sent(const std::string& step, int tid) {
  std::istringstream in(step.rfind("chunks", 0) == 0 ? step.substr(step.find(' ', 7)) : step);  // not its pause
  Frame f;
  size_t len = 0;
  for (std::string t; in >> t;) {
    if (t == "TID") f.insert(f.end(), {static_cast<uint8_t>(tid >> 8), static_cast<uint8_t>(tid)});
    if (t == "LEN") len = f.size(), f.insert(f.end(), {0, 0});
    if (t == "UID" || t == "FC" || t == "EFC") f.push_back(t == "UID" ? 1 : t == "FC" ? 3 : 0x83);
    if (t == "CRC") f = WithCrc(f);
    if (t.size() == 2 && t != "FC" && std::isxdigit(t[0]) && std::isxdigit(t[1]))
      f.push_back(static_cast<uint8_t>(std::stoi(t, nullptr, 16)));
  }
  if (len) f[len + 1] = static_cast<uint8_t>(f.size() - len - 2);
  return f;
}
// Faults in answer to a read of one register (its value 7) in TCP: the step and the row after the
// response row ("TID": the request's id).
struct Fault {
  const char *step, *error;
};
inline const Fault kTcpFaults[] = {
    {"reply 99 99 00 00 LEN UID FC 02 00 07", "Protocol Error: Wrong Transaction ID (expected TID)"},
    {"reply TID 00 01 LEN UID FC 02 00 07", "Protocol Error: Invalid protocol ID (expected 00 00)"},
    {"reply TID 00 00 00 02 UID FC 02 00 07", "Protocol Error: Invalid MBAP Length"},
    {"reply TID 00 00 LEN 09 FC 02 00 07", "Protocol Error: Wrong response slave (expected 01)"},
    {"reply TID 00 00 LEN UID 04 02 00 07", "Protocol Error: Wrong response command (expected 03)"},
    {"reply TID 00 00 LEN UID EFC 0C", "Modbus Exception: Unknown exception (Code 12)"},
    {"chunks 60 TID 00 | 00 LEN UID FC | 02 00 07", ""},
};
inline Rows FaultRows(const std::string& step, std::string error, int tid) {
  if (const size_t at = error.find("TID"); at != std::string::npos) error.replace(at, 3, Hex(Sent("TID", tid)));
  return error.empty() ? Rows{Rsp(Sent(step, tid))} : Rows{Rsp(Sent(step, tid)), error};
}

// A fixed list of device paths, each listed only while it exists (a pty pair that ends drops out
// as an unplugged adapter does, and comes back when made again under the same name).
struct StaticPortList : platform::PortList {
  std::vector<platform::PortInfo> Ports() override {
    std::vector<platform::PortInfo> out;
    struct stat st {};
    for (const std::string& path : paths)
      if (::stat(path.c_str(), &st) == 0) out.emplace_back().name = path;
    return out;
  }
  Rows paths;
};

class Panel {
 public:
  Panel() {
    platform::Platform p = qt::MakePlatform();
    p.ports = ports;
    f_ = std::make_unique<frmMain>(p);
    f_->Form_Load();
    Mark();
  }
  frmMain& f() { return *f_; }
  const std::shared_ptr<StaticPortList> ports = std::make_shared<StaticPortList>();

  void UseSocket(int16_t mode, int port, const std::string& timeoutMs = "500") {
    f_->cmbMode.SetListIndex(mode);
    f_->txtTcpHost.SetText("127.0.0.1");
    f_->txtTcpPort.SetText(std::to_string(port));
    f_->txtTcpTimeout.SetText(timeoutMs);
  }
  bool ConnectNow() {
    f_->cmdTcpConnect_Click();
    return RunUntil([&] { return f_->ws->State() == 7 && Idle(); }, 3000);
  }
  // A serial mode on `path` (listed and selected) with the line settings and the serial time-out.
  void UseSerial(const std::string& path, const std::string& timeoutMs = "500", const std::string& speed = "9600",
                 int parity = 0, int stop = 0, int16_t mode = kRtu) {
    f_->cmbMode.SetListIndex(mode);
    ports->paths = {path};
    f_->RefreshComPorts();
    f_->cmbRtuPort.SetText(path);
    f_->cmbRtuSpeed.SetText(speed);
    f_->cmbRtuParity.SetListIndex(parity);
    f_->cmbRtuStopBit.SetListIndex(stop);
    f_->txtRtuTimeout.SetText(timeoutMs);
  }
  // The form's request: function code, address, quantity (reads) or value, format, slave.
  void SetRequest(int cmd, const std::string& addr, const std::string& value, int format = 0,
                  const std::string& unit = "1") {
    static const std::map<int, int> kIndex = {{1, 0}, {2, 1}, {3, 2}, {4, 3}, {5, 4}, {6, 5}, {16, 6}};
    f_->txtUnitID.SetText(unit);
    f_->cmbCmd.SetListIndex(kIndex.at(cmd));
    if (cmd >= 3) f_->cmbFormat.SetListIndex(format);
    f_->txtAddr.SetText(addr);
    (cmd <= 4 ? f_->txtQuantity : f_->txtValue).SetText(value);
  }

  bool Idle() const { return !f_->AwaitingResponse && !f_->tmrConnectTimeout.Enabled(); }
  // Marks, presses Send and runs the event loop until the transaction is over: the rows it wrote.
  rig::Rows Send() {
    Mark();
    f_->cmdSend_Click();
    EXPECT_TRUE(RunUntil([&] { return Idle(); }, 5000)) << "the transaction did not end";
    return Rows();
  }

  void Mark() { mark_ = f_->txtLog.Length(); }
  // The rows since the mark without their time stamps ("" for an empty row), each long frame's
  // continuation rows joined to it; a malformed row is kept whole, so that comparing it fails.
  rig::Rows Rows() const {
    rig::Rows out;
    for (const auto& [row, pos] : Lines()) out.push_back(row);
    return out;
  }
  // The colour of each byte of the first response row since the mark (0 where its digits differ).
  std::vector<uint32_t> ByteColors() const {
    std::vector<uint32_t> out;
    const std::string& t = f_->txtLog.Text();
    const size_t head = t.find("Response <-- ", mark_);
    for (size_t pos = head + 13; head != std::string::npos && pos + 1 < t.size() && std::isxdigit(t[pos]); pos += 3)
      out.push_back(f_->txtLog.ColorAt(pos) == f_->txtLog.ColorAt(pos + 1) ? f_->txtLog.ColorAt(pos) : 0);
    return out;
  }
  // The same with `painted` bytes of `size` in the highlight, the others plain.
  static std::vector<uint32_t> Painted(size_t size, const std::vector<size_t>& painted) {
    std::vector<uint32_t> out(size, LogColorInfo);
    for (size_t i : painted) out.at(i) = LogColorHighlight;
    return out;
  }
  // The times of the rows since the mark that begin with `prefix`, in milliseconds of the day.
  std::vector<long> TimesOf(const std::string& prefix) const {
    std::vector<long> out;
    const rig::Rows rows = Rows();
    size_t i = 0;
    for (const LogRecord& r : f_->LogRecords())
      if (r.start >= mark_ && i < rows.size() && rows[i++].rfind(prefix, 0) == 0)
        out.push_back(((r.time.hour * 60L + r.time.minute) * 60 + r.time.second) * 1000 + r.time.millisecond);
    return out;
  }
  // Milliseconds from the first row beginning with `from` to the first beginning with `to`.
  long Between(const std::string& from, const std::string& to) const { return TimesOf(to).at(0) - TimesOf(from).at(0); }
  int CountPrefix(const std::string& prefix) const {
    const rig::Rows rows = Rows();
    return static_cast<int>(std::count_if(rows.begin(), rows.end(), [&](auto& r) { return r.rfind(prefix, 0) == 0; }));
  }

 private:
  std::vector<std::pair<std::string, size_t>> Lines() const {
    static const std::regex kStamp(R"(^\d\d\.\d\d\.\d\d  \d\d:\d\d:\d\d\.\d\d\d  )");
    std::vector<std::pair<std::string, size_t>> out;
    const std::string& t = f_->txtLog.Text();
    for (size_t pos = std::min(mark_, t.size()), end; pos < t.size(); pos = end + 2) {
      end = std::min(t.find("\r\n", pos), t.size());
      const std::string row = t.substr(pos, end - pos);
      if (row.size() > 37 && row.find_first_not_of(' ') == 37 && !out.empty())
        out.back().first += row.substr(37);
      else
        out.emplace_back(std::regex_search(row, kStamp) ? row.substr(24) : row, pos);
    }
    return out;
  }

  std::unique_ptr<frmMain> f_;
  size_t mark_ = 0;
};

}  // namespace rig
