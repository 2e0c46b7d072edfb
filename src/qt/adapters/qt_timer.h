#pragma once
// Timers on QTimer.
#include <QTimer>
#include <functional>
#include <memory>

#include "platform/platform.h"

namespace qt {

// A repeating timer on a QTimer of the calling thread. The QTimer runs only
// while the timer is enabled with an interval above 0 (a QTimer with interval
// 0 would fire on every pass of the event loop). Every SetInterval and
// SetEnabled call restarts the period, as the fakes of the unit tests do.
// The handler runs from the event loop; it may change, disable or delete its
// own timer or any other timer.
class QtTimer : public platform::Timer {
 public:
  QtTimer();
  ~QtTimer() override;
  QtTimer(const QtTimer&) = delete;
  QtTimer& operator=(const QtTimer&) = delete;

  void SetInterval(int ms) override;
  int Interval() const override { return interval_; }
  void SetEnabled(bool on) override;
  bool Enabled() const override { return enabled_; }
  void SetHandler(std::function<void()> onTick) override { handler_ = std::move(onTick); }

 private:
  void Restart();
  void Tick();

  std::unique_ptr<QTimer> timer_;
  int interval_ = 0;
  bool enabled_ = false;
  std::function<void()> handler_;
};

class QtTimerFactory : public platform::TimerFactory {
 public:
  std::unique_ptr<platform::Timer> CreateTimer() override { return std::make_unique<QtTimer>(); }
};

}  // namespace qt
