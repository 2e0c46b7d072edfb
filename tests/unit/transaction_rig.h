#pragma once
// A started panel on the fakes for the transaction tests, with helpers to
// read the log rows written since a mark and to build response frames.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/crc16.h"
#include "common/module1.h"
#include "fakes/fake_platform.h"
#include "panel/frmMain.h"

namespace txrig {

constexpr int16_t kRtu = 0, kTcp = 1, kRtuOverTcp = 2;

// The frame with its CRC appended (low byte first).
inline Frame WithCrc(Frame f) {
  const uint16_t crc = Crc16Modbus(f.data(), f.size());
  f.push_back(static_cast<uint8_t>(crc & 0xFF));
  f.push_back(static_cast<uint8_t>(crc >> 8));
  return f;
}

struct Rig {
  fakes::FakePlatform fp;
  frmMain f{fp.Bundle()};
  size_t mark = 0;

  explicit Rig(int16_t mode = kTcp) {
    f.Form_Load();
    f.Mode = mode;
    f.txtTcpHost.SetText("127.0.0.1");
    f.txtTcpPort.SetText("502");
    f.txtTcpTimeout.SetText("1000");
    f.txtRtuTimeout.SetText("1000");
    Mark();
  }

  // Rows written from now on are what NewLog returns.
  void Mark() { mark = f.txtLog.Length(); }
  std::string NewLog() const { return f.txtLog.Text().substr(mark); }
  // One log row stamped with the fake clock's present time.
  std::string Row(const std::string& text) const { return FormatTimeStamp(fp.clock->Now()) + "  " + text + "\r\n"; }

  // Queues a frame and has the transport of the mode send it.
  void Send(const Frame& frame) {
    f.PushRequest(frame);
    if (f.Mode != kRtu)
      f.SendTcpRequest();
    else
      f.SendRtuRequest();
  }
  // Feeds a chunk to reception the way the transports do (total = chunk size),
  // stopping at the completing byte; returns the index of that byte or -1.
  int Feed(const Frame& chunk) {
    for (size_t i = 0; i < chunk.size(); ++i)
      if (f.Receive(chunk[i], static_cast<int32_t>(chunk.size()))) return static_cast<int>(i);
    return -1;
  }
  // A connected socket with the log mark after the connect rows.
  void Connect() {
    f.ConnectTCP();
    fp.socket->AcceptConnect();
    Mark();
  }
  // Serial ports on the system's list, the first (or the last chosen) one
  // selected, and the panel's line settings at 9600, None, 1 stop bit.
  void UsePorts(const std::vector<std::string>& names) {
    f.cmbRtuSpeed.SetText("9600");
    f.cmbRtuParity.SetListIndex(0);
    f.cmbRtuStopBit.SetListIndex(0);
    f.ComPortName.clear();
    fp.ports->SetNames(names);
    f.RefreshComPorts();
  }
  // Raw hexadecimal input, as the operator types it in HEX view.
  void TypeHex(const std::string& text) {
    f.HexView = true;
    f.txtHEX.SetText(text);
  }
  // Bytes written to the socket and to the serial port, all frames together.
  size_t BytesOnWire() const {
    size_t n = 0;
    for (const Frame& fr : fp.socket->sent) n += fr.size();
    for (const Frame& fr : fp.serial->written) n += fr.size();
    return n;
  }
  int Count(const std::string& text) const {
    int n = 0;
    for (size_t p = f.txtLog.Text().find(text); p != std::string::npos; p = f.txtLog.Text().find(text, p + 1)) ++n;
    return n;
  }
  // Colour of the two hex digits of byte `index` of the last response row.
  uint32_t ByteColor(int index) const {
    const std::string& t = f.txtLog.Text();
    int n = 0;
    for (size_t p = static_cast<size_t>(f.RxLogStart) + 37; p < static_cast<size_t>(f.RxLogEnd); ++p) {
      const char c = t[p];
      if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) continue;
      if (n++ == 2 * index) return f.txtLog.ColorAt(p) == f.txtLog.ColorAt(p + 1) ? f.txtLog.ColorAt(p) : 0;
    }
    return 0;
  }
  // Indices of the painted bytes of the last response row.
  std::vector<int> Painted(int count) const {
    std::vector<int> out;
    for (int i = 0; i < count; ++i)
      if (ByteColor(i) == LogColorHighlight) out.push_back(i);
    return out;
  }
};

}  // namespace txrig
