#include "engine/watch_scheduler.h"

#include <algorithm>
#include <utility>

namespace engine {

namespace {

bool IntervalInRange(uint32_t ms) {
  return ms >= WatchScheduler::kMinIntervalMs && ms <= WatchScheduler::kMaxIntervalMs;
}

// The wait after `timeouts` consecutive time-outs, counted from the end of the
// last one: the interval, doubled per further time-out, capped.
int64_t BackoffMs(uint32_t intervalMs, uint32_t timeouts) {
  const int64_t cap = std::max<int64_t>(intervalMs, WatchScheduler::kMaxBackoffMs);
  int64_t wait = intervalMs;
  for (uint32_t k = 1; k < timeouts && wait < cap; ++k) wait *= 2;
  return std::min(wait, cap);
}

}  // namespace

WatchScheduler::Block* WatchScheduler::Find(WatchBlockId id) {
  auto it = std::find_if(blocks_.begin(), blocks_.end(), [id](const Block& b) { return b.id == id; });
  return it == blocks_.end() ? nullptr : &*it;
}

const WatchScheduler::Block* WatchScheduler::Find(WatchBlockId id) const {
  auto it = std::find_if(blocks_.begin(), blocks_.end(), [id](const Block& b) { return b.id == id; });
  return it == blocks_.end() ? nullptr : &*it;
}

std::optional<int64_t> WatchScheduler::DueOf(const Block& b) const {
  if (b.paused || inFlight_ == b.id) return std::nullopt;
  int64_t due = b.notBefore;
  if (b.lastStart) due = std::max(due, *b.lastStart + b.intervalMs);
  if (b.timeouts > 0 && b.lastFinish) due = std::max(due, *b.lastFinish + BackoffMs(b.intervalMs, b.timeouts));
  return due;
}

bool WatchScheduler::Add(WatchBlockId id, uint32_t intervalMs, bool paused, int64_t now) {
  if (id == kPanelSend || Find(id) || !IntervalInRange(intervalMs)) return false;
  Block b;
  b.id = id;
  b.intervalMs = intervalMs;
  b.paused = paused;
  b.notBefore = now;
  blocks_.push_back(b);
  return true;
}

bool WatchScheduler::Remove(WatchBlockId id) {
  auto it = std::find_if(blocks_.begin(), blocks_.end(), [id](const Block& b) { return b.id == id; });
  if (it == blocks_.end()) return false;
  if (inFlight_ == id) inFlightRemoved_ = true;
  blocks_.erase(it);
  return true;
}

bool WatchScheduler::SetPaused(WatchBlockId id, bool paused, int64_t now) {
  Block* b = Find(id);
  if (!b) return false;
  if (b->paused && !paused) b->notBefore = now;
  b->paused = paused;
  return true;
}

bool WatchScheduler::SetInterval(WatchBlockId id, uint32_t intervalMs) {
  Block* b = Find(id);
  if (!b || !IntervalInRange(intervalMs)) return false;
  b->intervalMs = intervalMs;
  return true;
}

bool WatchScheduler::Move(WatchBlockId id, size_t position) {
  auto it = std::find_if(blocks_.begin(), blocks_.end(), [id](const Block& b) { return b.id == id; });
  if (it == blocks_.end()) return false;
  const Block b = *it;
  blocks_.erase(it);
  blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(std::min(position, blocks_.size())), b);
  return true;
}

std::vector<WatchBlockId> WatchScheduler::Due(int64_t now) const {
  struct Entry {
    int64_t due;
    size_t position;
    WatchBlockId id;
  };
  std::vector<Entry> due;
  for (size_t i = 0; i < blocks_.size(); ++i) {
    const std::optional<int64_t> d = DueOf(blocks_[i]);
    if (d && *d <= now) due.push_back({*d, i, blocks_[i].id});
  }
  std::sort(due.begin(), due.end(),
            [](const Entry& a, const Entry& b) { return a.due != b.due ? a.due < b.due : a.position < b.position; });
  std::vector<WatchBlockId> ids;
  ids.reserve(due.size());
  for (const Entry& e : due) ids.push_back(e.id);
  return ids;
}

std::optional<WatchBlockId> WatchScheduler::Next(int64_t now) const {
  if (inFlight_) return std::nullopt;
  if (sendPending_) return kPanelSend;
  // The oldest due time; the first in the list among equals.
  std::optional<WatchBlockId> best;
  int64_t bestDue = 0;
  for (const Block& b : blocks_) {
    const std::optional<int64_t> d = DueOf(b);
    if (d && *d <= now && (!best || *d < bestDue)) {
      best = b.id;
      bestDue = *d;
    }
  }
  return best;
}

bool WatchScheduler::Started(WatchBlockId id, int64_t now) {
  if (inFlight_) return false;
  if (id == kPanelSend) {
    sendPending_ = false;
    inFlight_ = id;
    return true;
  }
  Block* b = Find(id);
  if (!b) return false;
  if (const std::optional<int64_t> d = DueOf(*b); d && now > *d) {
    b->counters.skipped += static_cast<uint64_t>((now - *d) / b->intervalMs);
  }
  b->lastStart = now;
  ++b->counters.started;
  inFlight_ = id;
  return true;
}

bool WatchScheduler::Finished(WatchBlockId id, int64_t now, WatchOutcome outcome) {
  if (inFlight_ != id) return false;
  inFlight_.reset();
  const bool removed = std::exchange(inFlightRemoved_, false);
  if (Block* b = removed ? nullptr : Find(id)) {
    b->lastFinish = now;
    // A link that cannot be opened fails at once, again and again: it waits
    // as a time-out does, so that a slave that is down is not dialled (and
    // logged) for every block at every interval.
    const bool failed = outcome == WatchOutcome::Timeout || outcome == WatchOutcome::ConnectionError;
    b->timeouts = failed ? b->timeouts + 1 : 0;
  }
  return true;
}

std::optional<int64_t> WatchScheduler::NextWakeUp(int64_t now) const {
  if (inFlight_) return std::nullopt;
  if (sendPending_) return now;
  std::optional<int64_t> earliest;
  for (const Block& b : blocks_) {
    const std::optional<int64_t> d = DueOf(b);
    if (d && (!earliest || *d < *earliest)) earliest = d;
  }
  if (earliest && *earliest < now) return now;
  return earliest;
}

std::vector<WatchBlockId> WatchScheduler::Order() const {
  std::vector<WatchBlockId> ids;
  ids.reserve(blocks_.size());
  for (const Block& b : blocks_) ids.push_back(b.id);
  return ids;
}

std::optional<WatchScheduler::Counters> WatchScheduler::CountersOf(WatchBlockId id) const {
  const Block* b = Find(id);
  if (!b) return std::nullopt;
  return b->counters;
}

std::optional<int64_t> WatchScheduler::DueAt(WatchBlockId id) const {
  const Block* b = Find(id);
  if (!b) return std::nullopt;
  return DueOf(*b);
}

}  // namespace engine
