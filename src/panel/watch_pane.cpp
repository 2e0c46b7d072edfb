// The watch list on the panel: its runner shares the panel's session, its
// transactions go to the log like the panel's own, and "Add to watch" takes
// the request's fields.
#include <memory>
#include <string>

#include "common/module1.h"
#include "common/number_text.h"
#include "engine/watch_runner.h"
#include "modbus/convert.h"
#include "modbus/types.h"
#include "panel/frmMain.h"

void frmMain::StartWatch() {
  // The list shows its values in the operator's notation, as the response view does.
  watch_ = std::make_unique<engine::WatchRunner>(
      *session_, platform_.clock, platform_.timers->CreateTimer(), [this] { return modbus::ModeOf(Mode); },
      [this](const engine::Event& e) { OnWatchEvent(e); },
      platform_.locale ? platform_.locale->DecimalSeparator() : std::string("."));
  watch_->Start();
}

engine::WatchBlockId frmMain::AddRequestToWatch() {
  engine::WatchBlockConfig c;
  const int16_t cmd = GetCmd();
  const std::optional<int32_t> slave = ParseLong(TrimBlank(txtUnitID.Text()));
  const std::optional<int32_t> quantity = ParseLong(TrimBlank(txtQuantity.Text()));
  const std::optional<int32_t> interval = ParseLong(TrimBlank(txtPollInterval.Text()));
  std::string refusal;
  if (cmd < 1 || cmd > 4) {
    refusal = "only the reads 01 to 04 can be watched";
  } else if (!slave || *slave < 1 || *slave > 247) {
    refusal = "the slave address must be 1 to 247";
  } else if (!modbus::IsValidAddressText(txtAddr.Text())) {
    refusal = "the address is not valid";
  } else if (!quantity || *quantity < 1 || *quantity > 65535) {
    refusal = "the quantity is not valid";
  } else {
    c.slave = static_cast<uint8_t>(*slave);
    c.function = static_cast<uint8_t>(cmd);
    c.address = static_cast<uint16_t>(modbus::StringToLong(txtAddr.Text()));
    c.quantity = static_cast<uint16_t>(*quantity);
    c.formatIndex = engine::WatchReadsBits(c.function) ? 0 : cmbFormat.ListIndex();
    c.intervalMs = interval && *interval >= 100 && *interval <= 65535 ? static_cast<uint32_t>(*interval) : 1000;
    if (const auto problem = engine::CheckWatchBlock(c)) refusal = problem->field + " " + problem->message;
  }
  WatchRefusal = refusal;
  if (!refusal.empty()) {
    Log("Not added to watch: " + refusal, LogColorError);
    return 0;
  }
  return watch_->Add(c);
}

void frmMain::OnWatchEvent(const engine::Event& e) {
  using engine::EventKind;
  switch (e.kind) {
    case EventKind::RequestSent:
      // Held back until the outcome is known, so that a good transaction can
      // be left out of the log view as a whole.
      watchRequest_ = e.frame;
      break;
    case EventKind::AnswerComplete: {
      const bool good = e.faults.empty() && !e.exception;
      if (good && HideWatchGoodInLog) break;
      LogRequest(watchRequest_);
      LogResponse(e.frame);
      if (e.exception) {
        const int32_t code = *e.exception;
        if (code < 1 || code > 11)
          LogError("Modbus Exception", "Unknown exception (Code " + std::to_string(code) + ")", false,
                   e.codeMark.length, e.codeMark.offset);
        else
          LogError("Modbus Exception",
                   ExceptionText[static_cast<size_t>(code)] + " (Code " + std::to_string(code) + ")", false, 0, 0);
      }
      for (const modbus::Fault& fault : e.faults)
        LogError("Protocol Error", fault.message, false, fault.length, fault.offset);
      break;
    }
    case EventKind::RequestTimeout:
      LogRequest(watchRequest_);
      LogErrorShowing("Communication Error", "Request Timeout", e.received);
      break;
    default:
      break;
  }
}

namespace {

bool HasValue(const engine::WatchBlock& b, uint32_t address) {
  for (const engine::WatchValue& v : b.values)
    if (v.address == address) return true;
  return false;
}

}  // namespace

bool frmMain::IsPlotted(engine::WatchBlockId block, uint32_t address) const {
  for (const PlottedValue& p : Plotted)
    if (p.block == block && p.address == address) return true;
  return false;
}

bool frmMain::SetPlotted(engine::WatchBlockId block, uint32_t address, bool on) {
  const bool was = IsPlotted(block, address);
  if (!on) {
    std::erase(Plotted, PlottedValue{block, address});
    return true;
  }
  if (was) return true;
  const engine::WatchBlock* b = watch_->Model().Find(block);
  if (b == nullptr || !HasValue(*b, address) || Plotted.size() >= kMaxPlotted) return false;
  Plotted.push_back({block, address});
  return true;
}

bool frmMain::RemoveFromWatch(engine::WatchBlockId block) {
  if (!watch_->Remove(block)) return false;
  PrunePlotted();
  return true;
}

void frmMain::PrunePlotted() {
  std::erase_if(Plotted, [this](const PlottedValue& p) {
    const engine::WatchBlock* b = watch_->Model().Find(p.block);
    return b == nullptr || !HasValue(*b, p.address);
  });
}
