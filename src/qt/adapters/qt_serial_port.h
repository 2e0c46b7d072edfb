#pragma once
// The serial port on QSerialPort.
#include <QSerialPort>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace qt {

// A serial port on a QSerialPort of the calling thread.
//
// Open takes a port name ("ttyUSB0", "COM3") or a device path, absolute or
// relative ("/tmp/x/ttyV0", "x/ttyV0", a pseudo-terminal link) and configures the line before it
// opens the port read/write. On failure `error` is QSerialPort's errorString()
// (or a short reason for a setting the port cannot take).
//
// Events: received bytes are reported through onReadyRead, and an open port
// that fails for good through onGone(reason) - once per opening. Both are
// posted to the event loop, never called from inside a call of this class, and
// nothing of an earlier opening is reported after Close or a new Open.
//
// A port that vanishes while open: on Qt 6.4 a pseudo-terminal whose other end
// closes reports ReadError ("Inappropriate ioctl for device") on every pass of
// the event loop and never ResourceError, so every error of an open port
// except NoError and TimeoutError counts as the port gone: the port is closed
// once (which ends the error stream) and onGone reports it, with
// kHangUpReason when the device hung up (Qt's own text is then a stale one).
class QtSerialPort : public platform::SerialPort {
 public:
  static constexpr const char* kHangUpReason = "Device disconnected";

  QtSerialPort();
  ~QtSerialPort() override;
  QtSerialPort(const QtSerialPort&) = delete;
  QtSerialPort& operator=(const QtSerialPort&) = delete;

  bool Open(const std::string& name, const platform::SerialSettings& settings, std::string& error) override;
  void Close() override;
  bool IsOpen() const override;
  void Write(const Frame& bytes) override;
  Frame ReadAll() override;
  size_t Discard() override;
  void SetHandlers(std::function<void()> onReadyRead, std::function<void(const std::string&)> onGone) override;
  // QSerialPort::PermissionError on the last Open.
  bool LastOpenDeniedPermission() const override { return lastOpenDenied_; }

 private:
  void OnError(QSerialPort::SerialPortError error);
  // Runs `event` from the event loop, unless the port was closed or reopened
  // in the meantime.
  void Post(std::function<void()> event);

  std::unique_ptr<QSerialPort> port_;
  uint64_t generation_ = 0;  // counts openings and closings
  bool goneReported_ = false;
  bool lastOpenDenied_ = false;
  // Opened and not yet drained: the first Discard waits kOpenSettleMs for late bytes.
  bool justOpened_ = false;
  static constexpr int kOpenSettleMs = 20;
  std::function<void()> onReadyRead_;
  std::function<void(const std::string&)> onGone_;
};

}  // namespace qt
