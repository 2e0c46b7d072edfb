#pragma once
// Deterministic fakes of the platform interfaces: a clock advanced by hand and its timers, a scripted serial
// port and socket, and in-memory settings, clipboard, beeper, desktop and port list recording what they were asked.
#include <algorithm>
#include <chrono>
#include <map>
#include <utility>

#include "platform/platform.h"

namespace fakes {

struct FakeTimer;

// Wall and monotonic clock in one, starting at 05.12.26 06:04:09.045; Advance
// moves both and fires every due timer in deadline order.
struct FakeClock : platform::Clock, platform::TimerFactory {
  LocalTime Now() const override {
    using namespace std::chrono;
    const auto day = floor<days>(sys_time<milliseconds>{milliseconds{wallMs_}});
    const year_month_day d{day};
    const int ms = int(wallMs_ - duration_cast<milliseconds>(day.time_since_epoch()).count());
    return {int(d.year()), int(unsigned(d.month())), int(unsigned(d.day())),
            ms / 3600000,  ms / 60000 % 60,          ms / 1000 % 60,
            ms % 1000};
  }
  int64_t MonotonicMs() const override { return mono_; }
  void Sleep(int ms) override { Advance(ms); }
  void JumpWallClock(int64_t ms) { wallMs_ += ms; }  // the wall clock alone
  inline void Advance(int64_t ms);
  std::unique_ptr<platform::Timer> CreateTimer() override;
  int64_t wallMs_ = 1796450649045, mono_ = 1000000;  // the wall clock counts from 1970-01-01 00:00 local time
  std::vector<FakeTimer*> timers_;
};

struct FakeTimer : platform::Timer {
  explicit FakeTimer(FakeClock& clock) : clock_(clock) { clock_.timers_.push_back(this); }
  ~FakeTimer() override { std::erase(clock_.timers_, this); }
  void SetInterval(int ms) override { interval_ = ms, deadline = clock_.mono_ + ms; }
  int Interval() const override { return interval_; }
  void SetEnabled(bool on) override { enabled_ = on, deadline = clock_.mono_ + interval_; }
  bool Enabled() const override { return enabled_; }
  void SetHandler(std::function<void()> h) override { handler_ = std::move(h); }
  FakeClock& clock_;
  int64_t deadline = 0;
  int interval_ = 0;
  bool enabled_ = false;
  std::function<void()> handler_;
};

inline std::unique_ptr<platform::Timer> FakeClock::CreateTimer() { return std::make_unique<FakeTimer>(*this); }

void FakeClock::Advance(int64_t ms) {
  const int64_t target = mono_ + ms;
  for (int guard = 0; guard < 10000000; ++guard) {  // a 1 ms timer over a long advance still ends
    FakeTimer* next = nullptr;
    for (FakeTimer* t : timers_)
      if (t->enabled_ && t->interval_ > 0 && t->deadline <= target && (next == nullptr || t->deadline < next->deadline))
        next = t;
    if (next == nullptr) break;
    wallMs_ += next->deadline - mono_;
    mono_ = next->deadline;
    next->deadline += next->interval_;  // first: the handler may change or stop the timer
    if (next->handler_) next->handler_();
  }
  wallMs_ += target - mono_;
  mono_ = target;
}

struct FakeSerialPort : platform::SerialPort {
  bool Open(const std::string&, const platform::SerialSettings& settings, std::string& error) override {
    openedSettings.push_back(settings);
    error = failOpenWith;
    return open_ = failOpenWith.empty();
  }
  void Close() override {
    if (std::exchange(open_, false)) ++closeCount;
    inbound_.clear();
  }
  bool IsOpen() const override { return open_; }
  void Write(const Frame& bytes) override { written.push_back(bytes); }
  Frame ReadAll() override { return std::exchange(inbound_, {}); }
  void SetHandlers(std::function<void()> onReadyRead, std::function<void(const std::string&)> onGone) override {
    onReadyRead_ = std::move(onReadyRead);
    onGone_ = std::move(onGone);
  }
  bool LastOpenDeniedPermission() const override { return !failOpenWith.empty() && failOpenDeniesPermission; }
  void Deliver(const Frame& bytes) {  // bytes arrive on the line (none on a closed port)
    if (!open_) return;
    Queue(bytes);
    if (onReadyRead_) onReadyRead_();
  }
  void Queue(const Frame& bytes) { inbound_.insert(inbound_.end(), bytes.begin(), bytes.end()); }  // no event yet
  void Vanish(const std::string& reason) {  // the open port disappears (adapter unplugged)
    if (!std::exchange(open_, false)) return;
    inbound_.clear();
    if (onGone_) onGone_(reason);
  }
  std::string failOpenWith;               // non-empty: the next opens fail with this reason
  bool failOpenDeniesPermission = false;  // ... for lack of permission
  std::vector<Frame> written;
  std::vector<platform::SerialSettings> openedSettings;
  int closeCount = 0;  // closes of an open port
  bool open_ = false;
  Frame inbound_;
  std::function<void()> onReadyRead_;
  std::function<void(const std::string&)> onGone_;
};

struct FakePortList : platform::PortList {
  std::vector<platform::PortInfo> Ports() override { return ports; }
  void SetNames(const std::vector<std::string>& names) {
    ports.clear();
    for (const auto& n : names) ports.push_back({n, {}, {}, {}, {}, {}});
  }
  std::vector<platform::PortInfo> ports;
};

struct FakeTcpSocket : platform::TcpSocket {
  int State() const override { return state; }
  void Connect(const std::string& host, int32_t port) override {
    connects.emplace_back(host, port);
    state = kConnecting;
  }
  void Send(const Frame& bytes) override { sent.push_back(bytes); }
  Frame ReadAll() override { return std::exchange(inbound_, {}); }
  void Close() override {
    state = kClosed;
    inbound_.clear();
  }
  void SetNoDelay() override {}
  void SetHandlers(std::function<void()> onConnect, std::function<void()> onDataArrival,
                   std::function<void(int, const std::string&)> onError) override {
    onConnect_ = std::move(onConnect);
    onDataArrival_ = std::move(onDataArrival);
    onError_ = std::move(onError);
  }
  void AcceptConnect() {  // the pending connect succeeds: state 7 and the connect event
    state = kConnected;
    if (onConnect_) onConnect_();
  }
  void RaiseError(int number, const std::string& description) {  // the state is left to the core
    if (onError_) onError_(number, description);
  }
  void Deliver(const Frame& bytes) {
    Queue(bytes);
    if (onDataArrival_) onDataArrival_();
  }
  void Queue(const Frame& bytes) { inbound_.insert(inbound_.end(), bytes.begin(), bytes.end()); }  // no event yet
  // The peer closes or resets the connection: as the real socket does, the state leaves "connected" and error 1 is
  // reported with the reason.
  void PeerClose(const std::string& reason = "The remote host closed the connection") {
    state = kOther, RaiseError(kPeerClosed, reason);
  }
  int state = 0;
  std::vector<std::pair<std::string, int32_t>> connects;
  std::vector<Frame> sent;
  Frame inbound_;
  std::function<void()> onConnect_, onDataArrival_;
  std::function<void(int, const std::string&)> onError_;
};

struct FakeSettings : platform::SettingsStore {
  std::optional<std::string> Read(const std::string& section, const std::string& key) override {
    const auto it = values.find(section + "/" + key);
    return it == values.end() ? std::nullopt : std::optional(it->second);
  }
  bool Write(const std::string& section, const std::string& key, const std::string& value) override {
    if (std::ranges::find(failingKeys, key) != failingKeys.end()) return false;
    values[section + "/" + key] = value, writeOrder.push_back(key);
    return true;
  }
  void Flush() override { ++flushCount; }
  std::map<std::string, std::string> values;  // "section/key" -> value
  std::vector<std::string> writeOrder;        // keys in the order written
  std::vector<std::string> failingKeys;       // writes of these keys fail
  int flushCount = 0;
};

struct FakeClipboard : platform::Clipboard {
  void Clear() override { text.reset(); }
  void SetText(const std::string& t) override { text = t; }
  bool HasText() const override { return text.has_value(); }
  std::string GetText() const override { return text.value_or(""); }
  std::optional<std::string> text;
};

struct FakeBeeper : platform::Beeper {
  void Beep() override { ++count; }
  int count = 0;
};

struct FakeEventPump : platform::EventPump {
  void ProcessEvents() override {
    if (onPump) onPump();
  }
  std::function<void()> onPump;
};

struct FakeDesktop : platform::Desktop {
  bool OpenUrl(const std::string& url) override {
    opened.push_back(url);
    return succeed;
  }
  std::vector<std::string> opened;
  bool succeed = true;
};

struct FakeLocale : platform::Locale {
  std::string DecimalSeparator() const override { return separator; }
  std::string separator = ".";
};

// The whole bundle, with typed handles to every fake; the clock makes the timers.
struct FakePlatform {
  std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
  std::shared_ptr<FakeClock> timers = clock;
  std::shared_ptr<FakeSerialPort> serial = std::make_shared<FakeSerialPort>();
  std::shared_ptr<FakePortList> ports = std::make_shared<FakePortList>();
  std::shared_ptr<FakeTcpSocket> socket = std::make_shared<FakeTcpSocket>();
  std::shared_ptr<FakeSettings> settings = std::make_shared<FakeSettings>();
  std::shared_ptr<FakeClipboard> clipboard = std::make_shared<FakeClipboard>();
  std::shared_ptr<FakeBeeper> beeper = std::make_shared<FakeBeeper>();
  std::shared_ptr<FakeEventPump> events = std::make_shared<FakeEventPump>();
  std::shared_ptr<FakeDesktop> desktop = std::make_shared<FakeDesktop>();
  std::shared_ptr<FakeLocale> locale = std::make_shared<FakeLocale>();
  platform::Platform Bundle() const {
    return {clock, timers, serial, ports, socket, settings, clipboard, beeper, events, desktop, locale};
  }
};

}  // namespace fakes
