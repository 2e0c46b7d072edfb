// The session statistics on the panel: reset, the status-bar line and the
// change notice. The engine counts in cycle.cpp, reception.cpp, serial.cpp
// and tcp.cpp.
#include "panel/frmMain.h"

void frmMain::ResetStats() {
  Stats = SessionStats{};
  StatsChanged();
}

std::string frmMain::StatsText() const {
  return FormatSessionStats(Stats, platform_.locale ? platform_.locale->DecimalSeparator() : std::string("."));
}

void frmMain::StatsChanged() {
  // A copy: the observer may replace itself.
  const auto observer = onStatsChanged;
  if (observer) observer();
}
