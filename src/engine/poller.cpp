#include "engine/poller.h"

namespace engine {

Poller::Poller(std::unique_ptr<platform::Timer> timer, std::function<bool()> busy, std::function<void()> poll)
    : timer_(std::move(timer)), busy_(std::move(busy)), poll_(std::move(poll)) {
  timer_->SetHandler([this] { Tick(); });
}

Poller::~Poller() { timer_->SetHandler(nullptr); }

void Poller::SetRunning(bool on) {
  timer_->SetEnabled(on);
  if (timer_->Enabled()) Tick();
}

void Poller::Tick() {
  if (!busy_ || !busy_()) {
    if (poll_) poll_();
  }
}

}  // namespace engine
