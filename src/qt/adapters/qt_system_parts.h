#pragma once
// Clock, event pump and number locale on QtCore.
#include <QElapsedTimer>
#include <ctime>

#include "platform/platform.h"

namespace qt {

// Wall clock in local time with milliseconds; monotonic clock from a
// QElapsedTimer started when the clock is made; Sleep blocks the thread.
// Every log row asks for the local time, so the time zone is read once and
// then again at most once a minute (a zone changed while the program runs is
// followed within a minute), not on every call.
class QtClock : public platform::Clock {
 public:
  QtClock();
  LocalTime Now() const override;
  int64_t MonotonicMs() const override;
  void Sleep(int ms) override;

 private:
  QElapsedTimer elapsed_;
  mutable int64_t zoneReadAtMs_ = -1;
  // The local date and time of the last second converted: the next calls in
  // the same second only change the milliseconds.
  mutable std::time_t cachedSecond_ = 0;
  mutable LocalTime cachedTime_{};
  mutable bool cached_ = false;
};

// Lets the pending events of the calling thread run once.
class QtEventPump : public platform::EventPump {
 public:
  void ProcessEvents() override;
};

// The decimal separator of the default QLocale (the user's, unless the
// program changed the default), as UTF-8.
class QtLocale : public platform::Locale {
 public:
  std::string DecimalSeparator() const override;
};

}  // namespace qt
