#pragma once
// Deterministic fakes of the platform interfaces for the unit tests: a clock
// that tests advance by hand, timers that fire when the clock passes their
// deadline, a scripted serial port and socket, and in-memory settings,
// clipboard, beeper, desktop and port list that record what they were asked.
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fakes {

class FakeTimer;

// Wall clock and monotonic clock in one; Advance moves both and fires every
// timer whose deadline is passed, in deadline order.
class FakeClock : public platform::Clock {
 public:
  FakeClock();
  LocalTime Now() const override;
  int64_t MonotonicMs() const override { return mono_; }
  void Sleep(int ms) override { Advance(ms); }

  // Sets the wall clock; the monotonic clock is not touched.
  void SetNow(const LocalTime& t);
  // Moves both clocks forward by ms, firing due timers on the way.
  void Advance(int64_t ms);
  // Moves the wall clock alone (a daylight-saving change, a clock set by hand).
  void JumpWallClock(int64_t ms) { wallMs_ += ms; }

  void Register(FakeTimer* t);
  void Unregister(FakeTimer* t);

 private:
  int64_t wallMs_ = 0;  // milliseconds since 1970-01-01 00:00 local time
  int64_t mono_ = 1000000;
  std::vector<FakeTimer*> timers_;
};

class FakeTimer : public platform::Timer {
 public:
  explicit FakeTimer(FakeClock& clock);
  ~FakeTimer() override;
  void SetInterval(int ms) override;
  int Interval() const override { return interval_; }
  void SetEnabled(bool on) override;
  bool Enabled() const override { return enabled_; }
  void SetHandler(std::function<void()> h) override { handler_ = std::move(h); }

  bool Armed() const { return enabled_ && interval_ > 0; }
  int64_t deadline = 0;
  void Fire();

 private:
  void Restart();
  FakeClock& clock_;
  int interval_ = 0;
  bool enabled_ = false;
  std::function<void()> handler_;
};

class FakeTimerFactory : public platform::TimerFactory {
 public:
  explicit FakeTimerFactory(FakeClock& clock) : clock_(clock) {}
  std::unique_ptr<platform::Timer> CreateTimer() override { return std::make_unique<FakeTimer>(clock_); }

 private:
  FakeClock& clock_;
};

class FakeSerialPort : public platform::SerialPort {
 public:
  bool Open(const std::string& name, const platform::SerialSettings& settings, std::string& error) override;
  void Close() override;
  bool IsOpen() const override { return open_; }
  void Write(const Frame& bytes) override { written.push_back(bytes); }
  Frame ReadAll() override;
  void SetHandlers(std::function<void()> onReadyRead, std::function<void(const std::string&)> onGone) override;
  bool LastOpenDeniedPermission() const override { return lastOpenDenied_; }

  // Bytes arrive from the line: queued and the receive event raised.
  void Deliver(const Frame& bytes);
  // The open port disappears (adapter unplugged).
  void Vanish(const std::string& reason);

  std::string failOpenWith;  // non-empty: the next opens fail with this reason
  // Those failures are for lack of permission.
  bool failOpenDeniesPermission = false;
  std::vector<Frame> written;
  std::vector<std::string> openedNames;
  std::vector<platform::SerialSettings> openedSettings;
  int closeCount = 0;

 private:
  bool open_ = false;
  bool lastOpenDenied_ = false;
  Frame inbound_;
  std::function<void()> onReadyRead_;
  std::function<void(const std::string&)> onGone_;
};

class FakePortList : public platform::PortList {
 public:
  std::vector<platform::PortInfo> Ports() override { return ports; }
  void SetNames(const std::vector<std::string>& names);
  std::vector<platform::PortInfo> ports;
};

class FakeTcpSocket : public platform::TcpSocket {
 public:
  int State() const override { return state; }
  void Connect(const std::string& host, int32_t port) override;
  void Send(const Frame& bytes) override { sent.push_back(bytes); }
  Frame ReadAll() override;
  void Close() override;
  void SetNoDelay() override { ++noDelayCount; }
  void SetHandlers(std::function<void()> onConnect, std::function<void()> onDataArrival,
                   std::function<void(int, const std::string&)> onError) override;

  // The pending connect succeeds: state 7 and the connect event.
  void AcceptConnect();
  // An asynchronous failure: the error event (the state is left to the core).
  void RaiseError(int number, const std::string& description);
  // Bytes arrive: queued and the data-arrival event raised.
  void Deliver(const Frame& bytes);

  int state = 0;
  std::vector<std::pair<std::string, int32_t>> connects;
  std::vector<Frame> sent;
  int closeCount = 0;
  int noDelayCount = 0;

 private:
  Frame inbound_;
  std::function<void()> onConnect_;
  std::function<void()> onDataArrival_;
  std::function<void(int, const std::string&)> onError_;
};

class FakeSettings : public platform::SettingsStore {
 public:
  std::optional<std::string> Read(const std::string& section, const std::string& key) override;
  bool Write(const std::string& section, const std::string& key, const std::string& value) override;
  void Flush() override { ++flushCount; }

  std::map<std::string, std::string> values;  // "section/key" -> value
  std::vector<std::string> writeOrder;        // keys in the order written
  std::vector<std::string> failingKeys;       // writes of these keys fail
  int flushCount = 0;
};

class FakeClipboard : public platform::Clipboard {
 public:
  void Clear() override {
    text.reset();
    ++clearCount;
  }
  void SetText(const std::string& t) override { text = t; }
  bool HasText() const override { return text.has_value(); }
  std::string GetText() const override { return text.value_or(""); }
  std::optional<std::string> text;
  int clearCount = 0;
};

class FakeBeeper : public platform::Beeper {
 public:
  void Beep() override { ++count; }
  int count = 0;
};

class FakeEventPump : public platform::EventPump {
 public:
  void ProcessEvents() override {
    ++count;
    if (onPump) onPump();
  }
  int count = 0;
  std::function<void()> onPump;
};

class FakeDesktop : public platform::Desktop {
 public:
  bool OpenUrl(const std::string& url) override {
    opened.push_back(url);
    return succeed;
  }
  std::vector<std::string> opened;
  bool succeed = true;
};

class FakeLocale : public platform::Locale {
 public:
  std::string DecimalSeparator() const override { return separator; }
  std::string separator = ".";
};

// The whole bundle, with typed handles to every fake.
struct FakePlatform {
  FakePlatform();
  platform::Platform Bundle() const;

  std::shared_ptr<FakeClock> clock;
  std::shared_ptr<FakeTimerFactory> timers;
  std::shared_ptr<FakeSerialPort> serial;
  std::shared_ptr<FakePortList> ports;
  std::shared_ptr<FakeTcpSocket> socket;
  std::shared_ptr<FakeSettings> settings;
  std::shared_ptr<FakeClipboard> clipboard;
  std::shared_ptr<FakeBeeper> beeper;
  std::shared_ptr<FakeEventPump> events;
  std::shared_ptr<FakeDesktop> desktop;
  std::shared_ptr<FakeLocale> locale;
};

}  // namespace fakes
