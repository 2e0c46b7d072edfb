#pragma once
// Polling: a timer that asks for a new request at every tick while polling
// runs, and skips the ticks at which an answer is still awaited.
#include <functional>
#include <memory>

#include "platform/platform.h"

namespace engine {

class Poller {
 public:
  // `busy`: an answer is awaited. `poll`: send the next request.
  Poller(std::unique_ptr<platform::Timer> timer, std::function<bool()> busy, std::function<void()> poll);
  ~Poller();
  Poller(const Poller&) = delete;
  Poller& operator=(const Poller&) = delete;

  // The interval in ms (a value outside 1..65535 is the caller's to refuse).
  void SetIntervalMs(int ms) { timer_->SetInterval(ms); }
  // Starts or stops; starting polls at once, without waiting for a tick.
  void SetRunning(bool on);
  bool Running() const { return timer_->Enabled(); }
  // One tick: polls unless an answer is awaited.
  void Tick();

 private:
  std::unique_ptr<platform::Timer> timer_;
  std::function<bool()> busy_;
  std::function<void()> poll_;
};

}  // namespace engine
