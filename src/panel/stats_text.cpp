// The session statistics as one status-bar line.
#include "panel/stats_text.h"

std::string FormatSessionStats(const engine::SessionStats& stats, const std::string& decimalSeparator) {
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
