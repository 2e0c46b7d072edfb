#include "qt/adapters/qt_timer.h"

namespace qt {

QtTimer::QtTimer() : timer_(std::make_unique<QTimer>()) {
  // Request and connect time-outs are counted in milliseconds: a coarse
  // timer could fire up to 5 % early.
  timer_->setTimerType(Qt::PreciseTimer);
  timer_->setSingleShot(false);
  QObject::connect(timer_.get(), &QTimer::timeout, timer_.get(), [this] { Tick(); });
}

QtTimer::~QtTimer() {
  // The timer may be deleted from inside its own handler; stopping and
  // disconnecting first leaves the QTimer nothing to call back into.
  timer_->stop();
  timer_->disconnect();
}

void QtTimer::SetInterval(int ms) {
  interval_ = ms;
  Restart();
}

void QtTimer::SetEnabled(bool on) {
  enabled_ = on;
  Restart();
}

void QtTimer::Restart() {
  if (enabled_ && interval_ > 0) {
    timer_->start(interval_);  // (re)starts the period
  } else {
    timer_->stop();
  }
}

void QtTimer::Tick() {
  // A copy: the handler may replace itself or delete this timer while it runs.
  const std::function<void()> handler = handler_;
  if (handler) handler();
}

}  // namespace qt
