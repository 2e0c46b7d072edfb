#include "fakes/fake_platform.h"

#include <algorithm>
#include <chrono>

namespace fakes {

namespace {
constexpr int64_t kDayMs = 86400000;

int64_t ToWallMs(const LocalTime& t) {
  using namespace std::chrono;
  const sys_days d = year{t.year} / month{static_cast<unsigned>(t.month)} / day{static_cast<unsigned>(t.day)};
  return d.time_since_epoch().count() * kDayMs + t.hour * 3600000LL + t.minute * 60000LL + t.second * 1000LL +
         t.millisecond;
}
}  // namespace

FakeClock::FakeClock() { SetNow({2026, 12, 5, 6, 4, 9, 45}); }

LocalTime FakeClock::Now() const {
  using namespace std::chrono;
  int64_t days = wallMs_ / kDayMs;
  int64_t ms = wallMs_ % kDayMs;
  if (ms < 0) {
    ms += kDayMs;
    --days;
  }
  const year_month_day ymd{sys_days{std::chrono::days{days}}};
  LocalTime t;
  t.year = static_cast<int>(ymd.year());
  t.month = static_cast<int>(static_cast<unsigned>(ymd.month()));
  t.day = static_cast<int>(static_cast<unsigned>(ymd.day()));
  t.hour = static_cast<int>(ms / 3600000);
  t.minute = static_cast<int>(ms / 60000 % 60);
  t.second = static_cast<int>(ms / 1000 % 60);
  t.millisecond = static_cast<int>(ms % 1000);
  return t;
}

void FakeClock::SetNow(const LocalTime& t) { wallMs_ = ToWallMs(t); }

void FakeClock::Advance(int64_t ms) {
  const int64_t target = mono_ + ms;
  // Bounded: a timer with a 1 ms period over a long advance still ends.
  for (int guard = 0; guard < 10000000; ++guard) {
    FakeTimer* next = nullptr;
    for (FakeTimer* t : timers_)
      if (t->Armed() && t->deadline <= target && (next == nullptr || t->deadline < next->deadline)) next = t;
    if (next == nullptr) break;
    wallMs_ += next->deadline - mono_;
    mono_ = next->deadline;
    next->Fire();
  }
  wallMs_ += target - mono_;
  mono_ = target;
}

void FakeClock::Register(FakeTimer* t) { timers_.push_back(t); }
void FakeClock::Unregister(FakeTimer* t) {
  timers_.erase(std::remove(timers_.begin(), timers_.end(), t), timers_.end());
}

FakeTimer::FakeTimer(FakeClock& clock) : clock_(clock) { clock_.Register(this); }
FakeTimer::~FakeTimer() { clock_.Unregister(this); }

void FakeTimer::SetInterval(int ms) {
  interval_ = ms;
  Restart();
}
void FakeTimer::SetEnabled(bool on) {
  enabled_ = on;
  Restart();
}
void FakeTimer::Restart() { deadline = clock_.MonotonicMs() + interval_; }

void FakeTimer::Fire() {
  // Schedule the next period first: the handler may change or stop the timer.
  deadline += interval_;
  if (handler_) handler_();
}

bool FakeSerialPort::Open(const std::string& name, const platform::SerialSettings& settings, std::string& error) {
  openedNames.push_back(name);
  openedSettings.push_back(settings);
  lastOpenDenied_ = !failOpenWith.empty() && failOpenDeniesPermission;
  if (!failOpenWith.empty()) {
    error = failOpenWith;
    return false;
  }
  open_ = true;
  inbound_.clear();
  return true;
}

void FakeSerialPort::Close() {
  if (open_) ++closeCount;
  open_ = false;
  inbound_.clear();
}

Frame FakeSerialPort::ReadAll() {
  Frame f;
  f.swap(inbound_);
  return f;
}

void FakeSerialPort::SetHandlers(std::function<void()> onReadyRead, std::function<void(const std::string&)> onGone) {
  onReadyRead_ = std::move(onReadyRead);
  onGone_ = std::move(onGone);
}

void FakeSerialPort::Deliver(const Frame& bytes) {
  if (!open_) return;
  inbound_.insert(inbound_.end(), bytes.begin(), bytes.end());
  if (onReadyRead_) onReadyRead_();
}

void FakeSerialPort::Vanish(const std::string& reason) {
  if (!open_) return;
  open_ = false;
  inbound_.clear();
  if (onGone_) onGone_(reason);
}

void FakePortList::SetNames(const std::vector<std::string>& names) {
  ports.clear();
  for (const auto& n : names) ports.push_back({n, {}, {}, {}, {}, {}});
}

void FakeTcpSocket::Connect(const std::string& host, int32_t port) {
  connects.emplace_back(host, port);
  state = kConnecting;
}

Frame FakeTcpSocket::ReadAll() {
  Frame f;
  f.swap(inbound_);
  return f;
}

void FakeTcpSocket::Close() {
  ++closeCount;
  state = kClosed;
  inbound_.clear();
}

void FakeTcpSocket::SetHandlers(std::function<void()> onConnect, std::function<void()> onDataArrival,
                                std::function<void(int, const std::string&)> onError) {
  onConnect_ = std::move(onConnect);
  onDataArrival_ = std::move(onDataArrival);
  onError_ = std::move(onError);
}

void FakeTcpSocket::AcceptConnect() {
  state = kConnected;
  if (onConnect_) onConnect_();
}

void FakeTcpSocket::RaiseError(int number, const std::string& description) {
  if (onError_) onError_(number, description);
}

void FakeTcpSocket::Deliver(const Frame& bytes) {
  inbound_.insert(inbound_.end(), bytes.begin(), bytes.end());
  if (onDataArrival_) onDataArrival_();
}

std::optional<std::string> FakeSettings::Read(const std::string& section, const std::string& key) {
  auto it = values.find(section + "/" + key);
  if (it == values.end()) return std::nullopt;
  return it->second;
}

bool FakeSettings::Write(const std::string& section, const std::string& key, const std::string& value) {
  if (std::find(failingKeys.begin(), failingKeys.end(), key) != failingKeys.end()) return false;
  values[section + "/" + key] = value;
  writeOrder.push_back(key);
  return true;
}

FakePlatform::FakePlatform()
    : clock(std::make_shared<FakeClock>()),
      timers(std::make_shared<FakeTimerFactory>(*clock)),
      serial(std::make_shared<FakeSerialPort>()),
      ports(std::make_shared<FakePortList>()),
      socket(std::make_shared<FakeTcpSocket>()),
      settings(std::make_shared<FakeSettings>()),
      clipboard(std::make_shared<FakeClipboard>()),
      beeper(std::make_shared<FakeBeeper>()),
      events(std::make_shared<FakeEventPump>()),
      desktop(std::make_shared<FakeDesktop>()),
      locale(std::make_shared<FakeLocale>()) {}

platform::Platform FakePlatform::Bundle() const {
  return {clock, timers, serial, ports, socket, settings, clipboard, beeper, events, desktop, locale};
}

}  // namespace fakes
