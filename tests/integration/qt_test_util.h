#pragma once
// Event-loop helpers for the integration tests: every wait has a deadline.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <functional>

namespace testutil {

// Runs the event loop until `done` holds or `timeoutMs` has passed; returns
// whether `done` holds. The loop sleeps between events (a 5 ms wake-up checks
// the predicate and the deadline), so waiting costs next to no CPU.
inline bool RunUntil(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  QTimer wake;
  wake.start(5);
  while (!done()) {
    if (clock.elapsed() >= timeoutMs) return done();
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

// Runs the event loop for `ms` milliseconds.
inline void RunFor(int ms) {
  RunUntil([] { return false; }, ms);
}

}  // namespace testutil
