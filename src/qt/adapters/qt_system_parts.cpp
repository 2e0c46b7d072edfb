#include "qt/adapters/qt_system_parts.h"

#include <QCoreApplication>
#include <QLocale>
#include <QThread>
#include <chrono>
#include <ctime>

namespace qt {

QtClock::QtClock() { elapsed_.start(); }

LocalTime QtClock::Now() const {
  // localtime_r keeps the zone it has read; tzset reads it again (a stat of
  // the zone file, which would otherwise be paid by each log row).
  const int64_t mono = elapsed_.elapsed();
  if (zoneReadAtMs_ < 0 || mono - zoneReadAtMs_ >= 60000) {
    tzset();
    zoneReadAtMs_ = mono;
    cached_ = false;
  }
  const auto now = std::chrono::system_clock::now();
  const int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  const std::time_t secs = static_cast<std::time_t>(ms >= 0 ? ms / 1000 : (ms - 999) / 1000);
  const int millisecond = static_cast<int>(ms - static_cast<int64_t>(secs) * 1000);
  // A zone's offset changes on a whole second: within one the date and time
  // of day are those converted last.
  if (cached_ && secs == cachedSecond_) {
    LocalTime lt = cachedTime_;
    lt.millisecond = millisecond;
    return lt;
  }
  std::tm tm{};
  localtime_r(&secs, &tm);
  LocalTime lt;
  lt.year = tm.tm_year + 1900;
  lt.month = tm.tm_mon + 1;
  lt.day = tm.tm_mday;
  lt.hour = tm.tm_hour;
  lt.minute = tm.tm_min;
  lt.second = tm.tm_sec;
  lt.millisecond = millisecond;
  cachedSecond_ = secs;
  cachedTime_ = lt;
  cached_ = true;
  return lt;
}

int64_t QtClock::MonotonicMs() const { return elapsed_.elapsed(); }

void QtClock::Sleep(int ms) {
  if (ms > 0) QThread::msleep(static_cast<unsigned long>(ms));
}

void QtEventPump::ProcessEvents() { QCoreApplication::processEvents(); }

std::string QtLocale::DecimalSeparator() const { return QLocale().decimalPoint().toStdString(); }

}  // namespace qt
