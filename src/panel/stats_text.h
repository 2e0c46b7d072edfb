#pragma once
// The session statistics as one status-bar line.
#include <string>

#include "engine/session_stats.h"

// One status-bar line, for example
// "Sent 12 · OK 10 · Protocol errors 1 · Exceptions 0 · Time-outs 1 · Connection errors 0 · Response ms last 3 min 2
// avg 3.4 max 9"
// ("Response ms —" before the first good answer). The mean has one decimal,
// written with `decimalSeparator` ("." when empty). The dots are U+00B7.
std::string FormatSessionStats(const engine::SessionStats& stats, const std::string& decimalSeparator);
