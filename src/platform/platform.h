#pragma once
// The platform seam: everything the core needs from the outside world, as
// small interfaces. The Qt program implements them in src/qt/; the unit tests
// implement them with deterministic fakes in tests/fakes/.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "common/local_time.h"

namespace platform {

// Wall clock with milliseconds, a monotonic clock and a sleep.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalTime Now() const = 0;
  // Milliseconds from an arbitrary origin; never goes back, does not jump
  // with the wall clock (midnight, daylight saving).
  virtual int64_t MonotonicMs() const = 0;
  virtual void Sleep(int ms) = 0;
};

// A repeating timer. Interval 0..65535 ms; an enabled timer with interval 0
// never fires. Changing interval or enabled state restarts the period.
class Timer {
 public:
  virtual ~Timer() = default;
  virtual void SetInterval(int ms) = 0;
  virtual int Interval() const = 0;
  virtual void SetEnabled(bool on) = 0;
  virtual bool Enabled() const = 0;
  virtual void SetHandler(std::function<void()> onTick) = 0;
};

class TimerFactory {
 public:
  virtual ~TimerFactory() = default;
  virtual std::unique_ptr<Timer> CreateTimer() = 0;
};

// Line settings of a serial port (always 8 data bits in practice).
struct SerialSettings {
  int32_t baud = 9600;
  char parity = 'n';  // 'n', 'o' or 'e'
  int dataBits = 8;
  int stopBits = 1;  // 1 or 2
};

// A serial port. Events are delivered later from the event loop, never from
// inside a call of the core.
// The device a serial port name stands for: a bare name ("ttyUSB0") is the
// device of that name in /dev, as the serial port opens it; a name with a
// slash is a path as typed.
inline std::string SerialDevicePath(const std::string& name) {
  return name.find('/') == std::string::npos ? "/dev/" + name : name;
}

class SerialPort {
 public:
  virtual ~SerialPort() = default;
  // Opens `name` with `settings`. On failure returns false and sets `error` to
  // the port's own reason.
  virtual bool Open(const std::string& name, const SerialSettings& settings, std::string& error) = 0;
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  virtual void Write(const Frame& bytes) = 0;
  // All bytes received and not yet read.
  virtual Frame ReadAll() = 0;
  // onReadyRead: bytes have arrived. onGone: the open port failed for good
  // (device unplugged, pty closed); reported once per opening.
  virtual void SetHandlers(std::function<void()> onReadyRead, std::function<void(const std::string&)> onGone) = 0;
  // True when the last Open failed because the system denied access to the
  // device (the user lacks permission); false after a successful Open.
  virtual bool LastOpenDeniedPermission() const { return false; }
  // Drops every byte received and not read yet, the system's input buffer
  // included, and returns how many were dropped.
  virtual size_t Discard() { return ReadAll().size(); }
};

// One entry of the system's serial port list.
struct PortInfo {
  std::string name;  // what the port is opened by (a device name or a path)
  std::string description;
  std::string manufacturer;
  std::string serialNumber;
  std::optional<uint16_t> vendorId;
  std::optional<uint16_t> productId;
};

class PortList {
 public:
  virtual ~PortList() = default;
  // The ports in the system's enumeration order.
  virtual std::vector<PortInfo> Ports() = 0;
};

// A TCP client socket. State numbers: 0 closed, 6 connecting, 7 connected;
// anything else (host lookup, closing) counts as another state.
class TcpSocket {
 public:
  static constexpr int kClosed = 0;
  static constexpr int kConnecting = 6;
  static constexpr int kConnected = 7;
  static constexpr int kOther = 9;
  // The error number of a peer that closed or reset the connection; the
  // state is then kOther until the socket is closed here.
  static constexpr int kPeerClosed = 1;

  virtual ~TcpSocket() = default;
  virtual int State() const = 0;
  // Starts an asynchronous connect; the outcome comes as onConnect or onError.
  virtual void Connect(const std::string& host, int32_t port) = 0;
  virtual void Send(const Frame& bytes) = 0;
  // All bytes received and not yet read.
  virtual Frame ReadAll() = 0;
  // Closes at once; State() is 0 afterwards. No event follows.
  virtual void Close() = 0;
  // The socket option set before each send (no send delay).
  virtual void SetNoDelay() = 0;
  // Drops every byte received and not read yet, what the system holds
  // included, and returns how many were dropped.
  virtual size_t Discard() { return ReadAll().size(); }
  virtual void SetHandlers(std::function<void()> onConnect, std::function<void()> onDataArrival,
                           std::function<void(int number, const std::string& description)> onError) = 0;
};

// Per-user settings store of this program (application name fixed when the
// store is made).
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  virtual std::optional<std::string> Read(const std::string& section, const std::string& key) = 0;
  virtual bool Write(const std::string& section, const std::string& key, const std::string& value) = 0;
  // Makes what was written durable (called once after a batch of writes).
  virtual void Flush() {}
};

class Clipboard {
 public:
  virtual ~Clipboard() = default;
  virtual void Clear() = 0;
  virtual void SetText(const std::string& text) = 0;
  virtual bool HasText() const = 0;
  virtual std::string GetText() const = 0;
};

class Beeper {
 public:
  virtual ~Beeper() = default;
  virtual void Beep() = 0;
};

// Lets pending events run (timers, socket and window events).
class EventPump {
 public:
  virtual ~EventPump() = default;
  virtual void ProcessEvents() = 0;
};

class Desktop {
 public:
  virtual ~Desktop() = default;
  // Opens an address with the desktop's default handler; false when no
  // handler took it.
  virtual bool OpenUrl(const std::string& url) = 0;
};

// The user's number formatting.
class Locale {
 public:
  virtual ~Locale() = default;
  virtual std::string DecimalSeparator() const = 0;
};

// The bundle handed to the panel. Every part can be replaced on its own.
struct Platform {
  std::shared_ptr<Clock> clock;
  std::shared_ptr<TimerFactory> timers;
  std::shared_ptr<SerialPort> serial;
  std::shared_ptr<PortList> ports;
  std::shared_ptr<TcpSocket> socket;
  std::shared_ptr<SettingsStore> settings;
  std::shared_ptr<Clipboard> clipboard;
  std::shared_ptr<Beeper> beeper;
  std::shared_ptr<EventPump> events;
  std::shared_ptr<Desktop> desktop;
  std::shared_ptr<Locale> locale;
};

}  // namespace platform
