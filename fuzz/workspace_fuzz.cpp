// Fuzz target for workspace files: arbitrary text to the JSON reader and to
// ParseWorkspace. Besides the sanitizers, two properties must hold for every
// input (a violation traps, and libFuzzer reports it as a crash):
//   - JSON that reads writes back to text that reads as the same value;
//   - a workspace that reads, written and read again, is the same workspace
//     with no problem reported.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/json.h"
#include "panel/workspace.h"

namespace {

void Require(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const json::ParseResult parsed = json::Parse(text);
  Require(parsed.value.has_value() == parsed.error.empty());
  if (parsed.value) {
    const json::ParseResult again = json::Parse(json::Write(*parsed.value));
    Require(again.value && *again.value == *parsed.value);
  } else {
    Require(parsed.line >= 1 && parsed.column >= 1);
  }

  const WorkspaceLoad load = ParseWorkspace(text);
  Require(load.workspace.has_value() == load.error.empty());
  if (load.workspace) {
    for (const auto& b : load.workspace->watch) Require(!engine::CheckWatchBlock(b));
    for (const auto& p : load.workspace->plot) Require(p.block < load.workspace->watch.size());
    Require(load.workspace->plot.size() <= kWorkspaceMaxPlotted);
    const WorkspaceLoad back = ParseWorkspace(WorkspaceToJson(*load.workspace));
    Require(back.workspace && back.problems.empty() && *back.workspace == *load.workspace);
  } else {
    Require(load.problems.empty());
  }
  return 0;
}
