#include "panel/field_timers.h"

namespace {

class FieldTimer : public platform::Timer {
 public:
  explicit FieldTimer(TimerField& field) : field_(field) {}
  // TimerField refuses an interval outside 0..65535, as a timer field does.
  void SetInterval(int ms) override { field_.SetInterval(ms); }
  int Interval() const override { return field_.Interval(); }
  void SetEnabled(bool on) override { field_.SetEnabled(on); }
  bool Enabled() const override { return field_.Enabled(); }
  void SetHandler(std::function<void()>) override {}

 private:
  TimerField& field_;
};

}  // namespace

std::unique_ptr<platform::Timer> FieldTimerFactory::CreateTimer() {
  // Every field is handed out once; a further timer would have no field.
  if (next_ >= fields_.size()) return nullptr;
  return std::make_unique<FieldTimer>(*fields_[next_++]);
}
