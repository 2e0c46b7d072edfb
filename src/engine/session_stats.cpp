// Session statistics: the counters.
#include "engine/session_stats.h"

#include <algorithm>

namespace engine {

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

}  // namespace engine
