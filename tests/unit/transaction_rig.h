#pragma once
// A started panel on the fakes for the transaction tests, with helpers to read
// the log rows written since a mark and to build response frames.
#include <gtest/gtest.h>

#include "common/module1.h"
#include "fakes/fake_platform.h"
#include "modbus/crc16.h"
#include "panel/frmMain.h"

namespace txrig {

constexpr int16_t kRtu = 0, kTcp = 1, kRtuOverTcp = 2;

// The frame with its CRC appended (low byte first).
inline Frame WithCrc(Frame f) {
  const uint16_t crc = modbus::Crc16Modbus(f.data(), f.size());
  f.insert(f.end(), {static_cast<uint8_t>(crc & 0xFF), static_cast<uint8_t>(crc >> 8)});
  return f;
}

struct Rig {
  fakes::FakePlatform fp;
  frmMain f{fp.Bundle()};
  size_t mark = 0;

  // The defaults of a first start: host 127.0.0.1, port 502, time-outs of 1000 ms, the line at 9600, None, 1 stop bit.
  explicit Rig(int16_t mode = kTcp) {
    f.Form_Load();
    f.Mode = mode;
    Mark();
  }
  // Rows written from now on are what NewLog returns.
  void Mark() { mark = f.txtLog.Length(); }
  std::string NewLog() const { return f.txtLog.Text().substr(mark); }
  // Log rows stamped with the fake clock's present time; an empty one has no time stamp.
  std::string Rows(std::initializer_list<std::string> texts) const {
    std::string rows;
    for (const auto& t : texts) rows += (t.empty() ? "" : FormatTimeStamp(fp.clock->Now()) + "  " + t) + "\r\n";
    return rows;
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
  int Count(const std::string& text) const {
    int n = 0;
    for (size_t p = f.txtLog.Text().find(text); p != std::string::npos; p = f.txtLog.Text().find(text, p + 1)) ++n;
    return n;
  }
  // Indices of the bytes of the last response row painted in the highlight colour (both hex digits).
  std::vector<int> Painted() const {
    std::vector<int> out;
    for (size_t i = 0, p = f.RxLogStart + 37u; p + 1 < size_t(f.RxLogEnd); ++i, p += 3)
      if (f.txtLog.ColorAt(p) == LogColorHighlight && f.txtLog.ColorAt(p + 1) == LogColorHighlight)
        out.push_back(int(i));
    return out;
  }
};

}  // namespace txrig
