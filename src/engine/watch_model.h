#pragma once
// The watch list's data: the blocks the operator watches, the state of each
// block's last transaction, and the values decoded from its last good answer.
// Time is a monotonic time in milliseconds given by the caller.
//
// A value is stale when its block's last transaction failed or it never had a
// value: a failure never leaves a value looking fresh.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/watch_outcome.h"
#include "engine/watch_scheduler.h"

namespace engine {

// What one block reads and how often.
struct WatchBlockConfig {
  uint8_t slave = 1;
  uint8_t function = 3;  // 1 coils, 2 discrete inputs, 3 holding registers, 4 input registers
  uint16_t address = 0;
  uint16_t quantity = 1;  // bits for functions 1 and 2, registers for 3 and 4
  int formatIndex = 0;    // into the register display formats; kept but unused for bits
  uint32_t intervalMs = 1000;
  bool paused = false;

  bool operator==(const WatchBlockConfig&) const = default;
};

// The first field of a config that is out of range, with what it must be:
// {"quantity", "must be 1 to 125"}.
struct WatchConfigProblem {
  std::string field;
  std::string message;
};

// Nothing when the config is valid. Ranges: slave 1..247, function 1..4,
// quantity 1..2000 bits or 1..125 registers (2..125 for a 32-bit format) and
// never past address 65535, format index within the known formats, interval
// 100..65535 ms.
std::optional<WatchConfigProblem> CheckWatchBlock(const WatchBlockConfig& config);

// The number of display formats a block can use.
int WatchFormatCount();

// True for the bit reads (functions 1 and 2).
bool WatchReadsBits(uint8_t function);

// The data bytes of a complete good answer: packed bits, or two bytes per
// register.
size_t WatchDataBytes(const WatchBlockConfig& config);

struct WatchValue {
  uint32_t address = 0;  // the bit, the register, or a 32-bit value's first register
  std::string text;      // in the block's format; empty until the first good answer
  double number = 0;     // the same value as a number, for plotting
  std::optional<int64_t> lastGoodMs;
  bool stale = true;
};

struct WatchBlockState {
  std::optional<int64_t> lastUpdateMs;    // end of the last transaction, whatever its outcome
  std::optional<int64_t> responseTimeMs;  // of the last transaction that got an answer
  std::optional<WatchOutcome> outcome;    // of the last transaction; nothing before the first
  uint8_t exceptionCode = 0;              // with WatchOutcome::Exception
};

struct WatchBlock {
  WatchBlockId id = 0;
  // Counts the edits that changed what the block reads. The caller notes it
  // when a transaction starts and hands it back with the outcome, so that an
  // answer to the registers read before an edit is never shown as the new
  // ones.
  uint32_t revision = 0;
  WatchBlockConfig config;
  WatchBlockState state;
  std::vector<WatchValue> values;
  // The data of the last good answer, so a change of format re-decodes it.
  std::vector<uint8_t> data;
};

class WatchModel {
 public:
  // `decimalSeparator` goes between whole part and fraction of 32-bit values.
  explicit WatchModel(std::string decimalSeparator = ".");

  // Appends a block; its id (never 0, never reused, so it can serve as the
  // block's id in the scheduler too), or 0 for an invalid config.
  WatchBlockId Add(const WatchBlockConfig& config);
  // Replaces a block's config. Same registers read (slave, function, address,
  // quantity): the values stay, re-decoded in a changed format. Otherwise the
  // values start over, stale. False for an unknown id or an invalid config.
  bool Edit(WatchBlockId id, const WatchBlockConfig& config);
  bool Remove(WatchBlockId id);
  // Moves a block to `position` (clamped to the end).
  bool Move(WatchBlockId id, size_t position);
  bool SetPaused(WatchBlockId id, bool paused);

  // The outcome of a transaction started at `revision` of the block; false
  // (and ignored) for an unknown id or an older revision.
  //
  // A good answer: `data` as WatchDataBytes says (extra bytes are ignored).
  // Too few bytes count as a protocol error, mark the values stale and give
  // false.
  bool FeedGood(WatchBlockId id, uint32_t revision, int64_t now, int64_t responseMs, const std::vector<uint8_t>& data);
  // A failed transaction: every value of the block becomes stale.
  // `responseMs` for outcomes that had an answer (exception, protocol error).
  // False also for WatchOutcome::Good.
  bool FeedFailure(WatchBlockId id, uint32_t revision, int64_t now, WatchOutcome outcome,
                   std::optional<int64_t> responseMs = {}, uint8_t exceptionCode = 0);

  const WatchBlock* Find(WatchBlockId id) const;
  const std::vector<WatchBlock>& Blocks() const { return blocks_; }

 private:
  WatchBlock* FindMutable(WatchBlockId id);
  void Decode(WatchBlock& b) const;
  static void ResetValues(WatchBlock& b);

  std::string separator_;
  std::vector<WatchBlock> blocks_;
  WatchBlockId nextId_ = 1;
};

}  // namespace engine
