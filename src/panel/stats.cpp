// The session statistics on the panel: reset, the status-bar line and the
// change notice. The session counts them; Stats mirrors its counters.
#include "panel/frmMain.h"
#include "panel/stats_text.h"

void frmMain::ResetStats() {
  // The session reports the change, which updates Stats and raises the notice.
  session_->ResetStats();
}

std::string frmMain::StatsText() const {
  return FormatSessionStats(Stats, platform_.locale ? platform_.locale->DecimalSeparator() : std::string("."));
}

void frmMain::StatsChanged() {
  // A copy: the observer may replace itself.
  const auto observer = onStatsChanged;
  if (observer) observer();
}
