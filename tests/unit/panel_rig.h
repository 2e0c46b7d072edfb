#pragma once
// A started panel on the fakes: the form filled as the operator does, requests composed, answers shown, the log
// rows written since a mark and the bytes painted in the last response row.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "common/module1.h"
#include "engine/session.h"
#include "fakes/fake_platform.h"
#include "modbus/address_notation.h"
#include "panel/frmMain.h"
#include "test_bytes.h"

namespace rig {

using namespace testbytes;
constexpr int16_t kRtu = 0, kTcp = 1, kRtuOverTcp = 2;
// cmbFormat's items
constexpr int INT16 = 0, UINT16 = 1, F_ABCD = 2, F_CDAB = 3, F_BADC = 4, F_DCBA = 5, I_ABCD = 6, I_CDAB = 7, I_BADC = 8,
              I_DCBA = 9, U_ABCD = 10, U_CDAB = 11, U_BADC = 12, U_DCBA = 13, I64_ABCDEFGH = 14, I64_HGFEDCBA = 17,
              U64_ABCDEFGH = 18, D_ABCDEFGH = 22, HEX = 26, BINARY = 27, ASCII = 28;

// A folder of its own under the system's temporary folder, removed with all it holds at the end.
struct ScratchDir {
  explicit ScratchDir(const std::string& name)
      : path(std::filesystem::temp_directory_path() / ("vesk_" + name + "_" + std::to_string(::getpid()))) {
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  std::filesystem::path path;
};

inline std::string ReadFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A session on a link of its own (a fake socket and serial port, 127.0.0.1:1502, port "ttyV0") on a fake clock.
struct Link {
  explicit Link(modbus::Mode mode = modbus::Mode::Tcp, int timeoutMs = 1000,
                std::shared_ptr<fakes::FakeClock> shared = std::make_shared<fakes::FakeClock>())
      : clock(std::move(shared)), settings{mode,      "127.0.0.1", 1502,
                                           timeoutMs, timeoutMs,   true,
                                           true,      "ttyV0",     platform::SerialSettings{},
                                           ""} {}
  std::shared_ptr<fakes::FakeClock> clock;
  engine::LinkSettings settings;
  std::shared_ptr<fakes::FakeSerialPort> serial = std::make_shared<fakes::FakeSerialPort>();
  std::shared_ptr<fakes::FakeTcpSocket> socket = std::make_shared<fakes::FakeTcpSocket>();
  std::unique_ptr<engine::Session> session =
      std::make_unique<engine::Session>(engine::LinkParts{clock, clock, serial, socket}, [this] { return settings; });
};

// A TCP slave's answer to a read: bits all 0x55, registers valued as their address; or exception `exception`.
inline Frame TcpAnswer(const Frame& req, uint8_t exception = 0) {
  const uint8_t fc = req.at(7);
  const int address = req.at(8) * 256 + req.at(9), quantity = req.at(10) * 256 + req.at(11);
  Frame pdu{fc, static_cast<uint8_t>(fc <= 2 ? (quantity + 7) / 8 : quantity * 2)};
  if (exception) pdu = {static_cast<uint8_t>(fc | 0x80), exception};
  for (int i = 0; !exception && i < quantity; ++i) {
    if (fc > 2)
      pdu.insert(pdu.end(), {uint8_t((address + i) >> 8), uint8_t(address + i)});
    else if (i % 8 == 0)
      pdu.push_back(0x55);
  }
  Frame adu{req.at(0), req.at(1), 0, 0, 0, static_cast<uint8_t>(pdu.size() + 1), req.at(6)};
  adu.insert(adu.end(), pdu.begin(), pdu.end());
  return adu;
}

struct Panel {
  fakes::FakePlatform fp;
  frmMain f{fp.Bundle()};
  size_t mark = 0;

  // The defaults of a first start: host 127.0.0.1, port 502, time-outs of 1000 ms, the line at 9600, None, 1 stop bit.
  explicit Panel(int16_t mode = kTcp, bool load = true) {
    if (load) f.Form_Load();
    f.Mode = mode;
    Mark();
  }
  // Rows written from now on are what NewLog returns.
  void Mark() { mark = f.txtLog.Length(); }
  std::string NewLog() const { return f.txtLog.Text().substr(mark); }
  // Log rows stamped with the fake clock's present time; an empty one has no time stamp.
  std::string Rows(const std::vector<std::string>& texts) const {
    std::string rows;
    for (const auto& t : texts) rows += (t.empty() ? "" : FormatTimeStamp(fp.clock->Now()) + "  " + t) + "\r\n";
    return rows;
  }
  int Count(const std::string& text) const {
    int n = 0;
    for (size_t p = f.txtLog.Text().find(text); p != std::string::npos; p = f.txtLog.Text().find(text, p + 1)) ++n;
    return n;
  }
  // Indices of the bytes of the last response row whose two digits are both painted in the highlight colour.
  std::vector<int> Painted() const {
    std::vector<int> out;
    const std::string& t = f.txtLog.Text();
    for (size_t p = static_cast<size_t>(f.RxLogStart) + 37, digit = 0; p < static_cast<size_t>(f.RxLogEnd); ++p)
      if (std::isxdigit(static_cast<unsigned char>(t[p])) && digit++ % 2 == 0 &&
          f.txtLog.ColorAt(p) == LogColorHighlight && f.txtLog.ColorAt(p + 1) == LogColorHighlight)
        out.push_back(static_cast<int>(digit / 2));
    return out;
  }

  // Queues a frame and has the transport of the mode send it.
  void Send(const Frame& frame) {
    f.PushRequest(frame);
    f.Mode != kRtu ? f.SendTcpRequest() : f.SendRtuRequest();
  }
  // A connected socket, the log marked after the connect rows.
  void Connect() {
    f.ConnectTCP();
    fp.socket->AcceptConnect();
    Mark();
  }
  // These serial ports on the system's list, the first selected.
  void UsePorts(const std::vector<std::string>& names) { fp.ports->SetNames(names), f.RefreshComPorts(); }
  // Raw hexadecimal input, as the operator types it in HEX view.
  void TypeHex(const std::string& text) {
    f.HexView = true;
    f.txtHEX.SetText(text);
  }

  // The form as the operator fills it: the command first (01 and 02 force UINT16), then the format.
  void Fill(int fc, int format, const std::string& unit, const std::string& addr, const std::string& quantity,
            const std::string& value, modbus::AddressNotation notation = modbus::AddressNotation::Protocol) {
    f.cmbCmd.SetListIndex(fc == 16 ? 6 : fc - 1);
    f.cmbFormat.SetListIndex(format);
    f.cmbAddresses.SetListIndex(static_cast<int>(notation));
    f.txtUnitID.SetText(unit);
    f.txtAddr.SetText(addr);
    f.txtQuantity.SetText(quantity);
    f.txtValue.SetText(value);
  }
  // What Send pushes, written like the preview.
  std::string Compose() {
    f.Requests.clear();
    f.GetBytesOfForm();
    std::string s;
    for (const Frame& r : f.Requests) s += (s.empty() ? "" : " | ") + Hex(r);
    return s;
  }
  // The request in flight (a PDU from the slave byte on) and the panel as Send leaves it: start stamp taken, the
  // old answer greyed.
  void Sent(int16_t mode, int format, const std::string& addrText, const std::string& pdu,
            modbus::AddressNotation notation = modbus::AddressNotation::Protocol) {
    f.Mode = mode;
    f.cmbFormat.SetListIndex(format);
    f.cmbAddresses.SetListIndex(static_cast<int>(notation));
    f.txtAddr.SetText(addrText);
    f.LastRequest = Framed(mode, pdu);
    f.RequestStartMono = fp.clock->MonotonicMs();
    f.txtResponse.SetEnabled(false);
    f.lblDT.SetForeColor(kColorGrayText);
  }
  // The answer (a PDU from the slave byte on) shown; the view's text.
  std::string Answer(const std::string& pdu) {
    f.ShowResponse(Framed(f.Mode, pdu), f.Mode == 1 ? 6 : 0);
    return f.txtResponse.Text();
  }
};

}  // namespace rig
