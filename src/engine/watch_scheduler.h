#pragma once
// Decides what goes out next over one link shared by the panel's own Send and
// the watched blocks. Pure: the caller passes a monotonic time in
// milliseconds, starts what Next() names, and reports its end; nothing here
// owns a clock or a timer.
//
// Rules:
//   - at most one transaction in flight: Next() names nothing and Started()
//     refuses while one is;
//   - a pending Send of the panel goes first;
//   - then the due blocks, the one due longest (oldest due time) first, list
//     order breaking ties;
//   - a block is due one interval after its last start; periods missed while
//     the link was busy are skipped, never made up in a burst;
//   - a block that timed out, or found no link, waits longer before its next
//     turn (the wait doubles per consecutive failure, up to kMaxBackoffMs or
//     its interval if longer), so a dead slave holds the link for a bounded
//     share and the panel's Send and the other blocks keep their turns, and a
//     slave that refuses connections is not dialled at every interval.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "engine/watch_outcome.h"

namespace engine {

using WatchBlockId = uint32_t;

class WatchScheduler {
 public:
  // The id under which the panel's own Send is handed out; blocks use others.
  static constexpr WatchBlockId kPanelSend = 0;
  static constexpr uint32_t kMinIntervalMs = 100;
  static constexpr uint32_t kMaxIntervalMs = 65535;
  static constexpr uint32_t kMaxBackoffMs = 10000;

  // Per-block counters: transactions started, and whole intervals that
  // passed between a block's due time and its start (periods skipped because
  // the link was busy).
  struct Counters {
    uint64_t started = 0;
    uint64_t skipped = 0;
  };

  // Adds a block at the end of the list; a running block is due at once.
  // False (and nothing changes) for kPanelSend, a known id or an interval
  // outside kMinIntervalMs..kMaxIntervalMs.
  bool Add(WatchBlockId id, uint32_t intervalMs, bool paused, int64_t now);
  // Removes a block. If it is in flight, the link stays busy until its
  // Finished() arrives (which then touches no block, even one added again
  // under the same id).
  bool Remove(WatchBlockId id);
  // A paused block is never due. A resumed one is due one interval after its
  // last start, or at once if that has passed.
  bool SetPaused(WatchBlockId id, bool paused, int64_t now);
  // Takes effect for the next due time (also when the block is in flight).
  bool SetInterval(WatchBlockId id, uint32_t intervalMs);
  // Moves a block to `position` in the list (clamped to the end).
  bool Move(WatchBlockId id, size_t position);

  // The panel asks for its own transaction; it goes next.
  void RequestSend() { sendPending_ = true; }
  void CancelSend() { sendPending_ = false; }
  bool SendPending() const { return sendPending_; }

  // The blocks due at `now`, in the order they would be served.
  std::vector<WatchBlockId> Due(int64_t now) const;
  // What goes out next when the link is free: kPanelSend, a block id, or
  // nothing (in flight, or nothing due).
  std::optional<WatchBlockId> Next(int64_t now) const;
  // Marks `id` in flight. False while another is in flight or for an unknown
  // id; a pending Send is cleared when kPanelSend starts. A block need not be
  // due (the caller may run one at once, say on the operator's request).
  bool Started(WatchBlockId id, int64_t now);
  // Ends the transaction in flight. False (ignored) unless `id` is the one in
  // flight.
  bool Finished(WatchBlockId id, int64_t now, WatchOutcome outcome);
  // When to call Next() again: `now` when something can go at once, the
  // earliest due time otherwise; nothing while in flight (look again after
  // Finished) or when no block runs and no Send is pending.
  std::optional<int64_t> NextWakeUp(int64_t now) const;

  std::optional<WatchBlockId> InFlight() const { return inFlight_; }
  std::vector<WatchBlockId> Order() const;
  std::optional<Counters> CountersOf(WatchBlockId id) const;
  // The due time of a running block that is not in flight.
  std::optional<int64_t> DueAt(WatchBlockId id) const;

 private:
  struct Block {
    WatchBlockId id = 0;
    uint32_t intervalMs = 1000;
    bool paused = false;
    int64_t notBefore = 0;  // added or resumed at
    std::optional<int64_t> lastStart;
    std::optional<int64_t> lastFinish;
    uint32_t timeouts = 0;  // consecutive time-outs and connection errors
    Counters counters;
  };
  Block* Find(WatchBlockId id);
  const Block* Find(WatchBlockId id) const;
  std::optional<int64_t> DueOf(const Block& b) const;

  std::vector<Block> blocks_;
  std::optional<WatchBlockId> inFlight_;
  bool inFlightRemoved_ = false;
  bool sendPending_ = false;
};

}  // namespace engine
