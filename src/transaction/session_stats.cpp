// Session statistics: the counters and the status-bar line.
#include "transaction/session_stats.h"

#include <algorithm>

void SessionStats::CountAnswer(int64_t responseMs) {
  const int64_t ms = std::max<int64_t>(0, responseMs);
  if (answers == 0) {
    minMs = ms;
    maxMs = ms;
  } else {
    minMs = std::min(minMs, ms);
    maxMs = std::max(maxMs, ms);
  }
  ++answers;
  lastMs = ms;
  totalMs += ms;
}

int64_t SessionStats::MeanTenthsMs() const {
  if (answers == 0) return 0;
  // Integer arithmetic: exact, and independent of the C library's locale.
  const auto n = static_cast<int64_t>(answers);
  return (totalMs * 20 + n) / (2 * n);
}

std::string FormatSessionStats(const SessionStats& stats, const std::string& decimalSeparator) {
  static const std::string kDot = " \u00B7 ";
  std::string s = "Sent " + std::to_string(stats.sent) + kDot + "OK " + std::to_string(stats.answers) + kDot +
                  "Protocol errors " + std::to_string(stats.protocolErrors) + kDot + "Exceptions " +
                  std::to_string(stats.exceptions) + kDot + "Time-outs " + std::to_string(stats.timeouts) + kDot +
                  "Connection errors " + std::to_string(stats.connectionErrors) + kDot + "Response ms ";
  if (stats.answers == 0) return s + "\u2014";
  const int64_t mean = stats.MeanTenthsMs();
  const std::string sep = decimalSeparator.empty() ? std::string(".") : decimalSeparator;
  s += "last " + std::to_string(stats.lastMs) + " min " + std::to_string(stats.minMs) + " avg " +
       std::to_string(mean / 10) + sep + std::to_string(mean % 10) + " max " + std::to_string(stats.maxMs);
  return s;
}
