#pragma once
// Clock, event pump and number locale on QtCore.
#include <QElapsedTimer>

#include "platform/platform.h"

namespace qt {

// Wall clock from QDateTime (local time, milliseconds); monotonic clock from a
// QElapsedTimer started when the clock is made; Sleep blocks the thread.
class QtClock : public platform::Clock {
 public:
  QtClock();
  LocalTime Now() const override;
  int64_t MonotonicMs() const override;
  void Sleep(int ms) override;

 private:
  QElapsedTimer elapsed_;
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
