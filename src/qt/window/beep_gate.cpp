#include "qt/window/beep_gate.h"

namespace qt {

void BeepGate::Beep() {
  if (holding_) {
    ++held_;
    return;
  }
  if (inner_) inner_->Beep();
}

void BeepGate::Hold() {
  holding_ = true;
  held_ = 0;
}

int BeepGate::Release() {
  holding_ = false;
  const int n = held_;
  held_ = 0;
  if (n > 0 && inner_) inner_->Beep();
  return n;
}

std::shared_ptr<BeepGate> BeepGate::Install(platform::Platform& platform) {
  if (auto existing = std::dynamic_pointer_cast<BeepGate>(platform.beeper)) return existing;
  auto gate = std::make_shared<BeepGate>(platform.beeper);
  platform.beeper = gate;
  return gate;
}

}  // namespace qt
