#include "qt/adapters/qt_system_parts.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QLocale>
#include <QThread>

namespace qt {

QtClock::QtClock() { elapsed_.start(); }

LocalTime QtClock::Now() const {
  const QDateTime now = QDateTime::currentDateTime();
  const QDate d = now.date();
  const QTime t = now.time();
  LocalTime lt;
  lt.year = d.year();
  lt.month = d.month();
  lt.day = d.day();
  lt.hour = t.hour();
  lt.minute = t.minute();
  lt.second = t.second();
  lt.millisecond = t.msec();
  return lt;
}

int64_t QtClock::MonotonicMs() const { return elapsed_.elapsed(); }

void QtClock::Sleep(int ms) {
  if (ms > 0) QThread::msleep(static_cast<unsigned long>(ms));
}

void QtEventPump::ProcessEvents() { QCoreApplication::processEvents(); }

std::string QtLocale::DecimalSeparator() const { return QLocale().decimalPoint().toStdString(); }

}  // namespace qt
