#pragma once
// The engine's timers as the panel's timer fields: a factory whose timers are
// views of given TimerFields, handed out in order. So tmrTimeout is the very
// timer the session arms, and reading f.tmrTimeout.Enabled() tells what the
// session did. The fields' ticks reach the engine through the panel's
// handlers (tmrTimeout_Timer ...), so a view ignores the handler it is given.
#include <memory>
#include <vector>

#include "panel/fields.h"
#include "platform/platform.h"

class FieldTimerFactory : public platform::TimerFactory {
 public:
  explicit FieldTimerFactory(std::vector<TimerField*> fields) : fields_(std::move(fields)) {}
  std::unique_ptr<platform::Timer> CreateTimer() override;

 private:
  std::vector<TimerField*> fields_;
  size_t next_ = 0;
};
