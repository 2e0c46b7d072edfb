#pragma once
// A beeper in front of the real one that can hold the beeps of a burst and
// sound them as one. Pasting text into a filtered field runs the field's key
// filter once per character; each refused character beeps in the filter, and
// the operator should hear one beep for the paste, not one per character.
#include <memory>

#include "platform/platform.h"

namespace qt {

class BeepGate : public platform::Beeper {
 public:
  explicit BeepGate(std::shared_ptr<platform::Beeper> inner) : inner_(std::move(inner)) {}

  void Beep() override;
  // From now on beeps are counted instead of sounded.
  void Hold();
  // Ends the hold and sounds one beep when any was held; returns how many.
  int Release();

  // Puts a gate in front of the bundle's beeper (unless there is one already)
  // and returns it.
  static std::shared_ptr<BeepGate> Install(platform::Platform& platform);

 private:
  std::shared_ptr<platform::Beeper> inner_;
  bool holding_ = false;
  int held_ = 0;
};

}  // namespace qt
