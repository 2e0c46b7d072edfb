#include "engine/watch_model.h"

#include <algorithm>
#include <utility>

#include "modbus/formats.h"
using modbus::DecodeFormat32;
using modbus::Format2B;
using modbus::FormatValueText;
using modbus::kFormatNames;

namespace engine {

namespace {

constexpr int kMaxBits = 2000;
constexpr int kMaxRegisters = 125;

std::string Range(long lo, long hi) { return "must be " + std::to_string(lo) + " to " + std::to_string(hi); }

bool Format32(int formatIndex) { return !Format2B(formatIndex); }

// The number of values a block shows: one per bit or register, or one per
// two registers in a 32-bit format.
size_t ValueCount(const WatchBlockConfig& s) {
  if (WatchReadsBits(s.function) || !Format32(s.formatIndex)) return s.quantity;
  return s.quantity / 2u;
}

// Same registers on the wire: the data of one answer fits the other.
bool SameRead(const WatchBlockConfig& a, const WatchBlockConfig& b) {
  return a.slave == b.slave && a.function == b.function && a.address == b.address && a.quantity == b.quantity;
}

}  // namespace

int WatchFormatCount() { return static_cast<int>(kFormatNames.size()); }

bool WatchReadsBits(uint8_t function) { return function == 1 || function == 2; }

size_t WatchDataBytes(const WatchBlockConfig& config) {
  return WatchReadsBits(config.function) ? (config.quantity + 7u) / 8u : 2u * config.quantity;
}

std::optional<WatchConfigProblem> CheckWatchBlock(const WatchBlockConfig& s) {
  if (s.slave < 1 || s.slave > 247) return WatchConfigProblem{"slave", Range(1, 247)};
  if (s.function < 1 || s.function > 4) return WatchConfigProblem{"function", Range(1, 4)};
  if (s.formatIndex < 0 || s.formatIndex >= WatchFormatCount()) {
    // Named as the operator chooses formats, not by their place in the list.
    return WatchConfigProblem{"format", "must be a 16- or 32-bit format, " + std::string(kFormatNames.front()) +
                                            " to " + std::string(kFormatNames.back())};
  }
  const bool bits = WatchReadsBits(s.function);
  const long lowest = !bits && Format32(s.formatIndex) ? 2 : 1;
  // The last bit or register read must not pass address 65535.
  const long highest = std::min<long>(bits ? kMaxBits : kMaxRegisters, 65536L - s.address);
  if (s.quantity < lowest || s.quantity > highest) {
    return WatchConfigProblem{"quantity", highest < lowest ? "cannot be read from address " + std::to_string(s.address)
                                                           : Range(lowest, highest)};
  }
  if (s.intervalMs < WatchScheduler::kMinIntervalMs || s.intervalMs > WatchScheduler::kMaxIntervalMs) {
    return WatchConfigProblem{"interval", Range(WatchScheduler::kMinIntervalMs, WatchScheduler::kMaxIntervalMs)};
  }
  return std::nullopt;
}

WatchModel::WatchModel(std::string decimalSeparator) : separator_(std::move(decimalSeparator)) {}

WatchBlock* WatchModel::FindMutable(WatchBlockId id) {
  auto it = std::find_if(blocks_.begin(), blocks_.end(), [id](const WatchBlock& b) { return b.id == id; });
  return it == blocks_.end() ? nullptr : &*it;
}

const WatchBlock* WatchModel::Find(WatchBlockId id) const {
  auto it = std::find_if(blocks_.begin(), blocks_.end(), [id](const WatchBlock& b) { return b.id == id; });
  return it == blocks_.end() ? nullptr : &*it;
}

void WatchModel::ResetValues(WatchBlock& b) {
  const WatchBlockConfig& s = b.config;
  const size_t n = ValueCount(s);
  const uint32_t step = WatchReadsBits(s.function) || !Format32(s.formatIndex) ? 1 : 2;
  b.values.assign(n, WatchValue{});
  for (size_t i = 0; i < n; ++i) b.values[i].address = s.address + static_cast<uint32_t>(i) * step;
  b.data.clear();
}

// Fills the value texts and numbers from b.data (which holds at least
// WatchDataBytes); freshness is the caller's.
void WatchModel::Decode(WatchBlock& b) const {
  const WatchBlockConfig& s = b.config;
  const std::vector<uint8_t>& d = b.data;
  for (size_t i = 0; i < b.values.size(); ++i) {
    WatchValue& v = b.values[i];
    if (WatchReadsBits(s.function)) {
      const bool on = (d[i / 8] >> (i % 8)) & 1u;
      v.number = on ? 1 : 0;
      v.text = on ? "1" : "0";
    } else if (!Format32(s.formatIndex)) {
      int32_t word = (d[2 * i] << 8) | d[2 * i + 1];
      if (s.formatIndex == 0 && word > 32767) word -= 65536;
      v.number = word;
      v.text = std::to_string(word);
    } else {
      const size_t g = 4 * i;
      v.number = DecodeFormat32(s.formatIndex, d[g], d[g + 1], d[g + 2], d[g + 3]);
      v.text = FormatValueText(v.number, separator_);
    }
  }
}

WatchBlockId WatchModel::Add(const WatchBlockConfig& config) {
  if (CheckWatchBlock(config)) return 0;
  WatchBlock b;
  b.id = nextId_++;
  b.config = config;
  ResetValues(b);
  blocks_.push_back(std::move(b));
  return blocks_.back().id;
}

bool WatchModel::Edit(WatchBlockId id, const WatchBlockConfig& config) {
  WatchBlock* b = FindMutable(id);
  if (!b || CheckWatchBlock(config)) return false;
  const bool sameRead = SameRead(b->config, config);
  const bool sameFormat = b->config.formatIndex == config.formatIndex;
  b->config = config;
  if (!sameRead) {
    ++b->revision;
    ResetValues(*b);
    b->state = WatchBlockState{};
  } else if (!sameFormat && !WatchReadsBits(config.function)) {
    // Same bytes, another reading of them: the values keep their freshness.
    std::vector<WatchValue> old = std::move(b->values);
    std::vector<uint8_t> data = std::move(b->data);
    ResetValues(*b);
    b->data = std::move(data);
    const bool stale = old.empty() || old.front().stale;
    const std::optional<int64_t> lastGood = old.empty() ? std::nullopt : old.front().lastGoodMs;
    for (WatchValue& v : b->values) {
      v.stale = stale;
      v.lastGoodMs = lastGood;
    }
    if (!b->data.empty()) Decode(*b);
  }
  return true;
}

bool WatchModel::Remove(WatchBlockId id) {
  auto it = std::find_if(blocks_.begin(), blocks_.end(), [id](const WatchBlock& b) { return b.id == id; });
  if (it == blocks_.end()) return false;
  blocks_.erase(it);
  return true;
}

bool WatchModel::Move(WatchBlockId id, size_t position) {
  auto it = std::find_if(blocks_.begin(), blocks_.end(), [id](const WatchBlock& b) { return b.id == id; });
  if (it == blocks_.end()) return false;
  WatchBlock b = std::move(*it);
  blocks_.erase(it);
  blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(std::min(position, blocks_.size())), std::move(b));
  return true;
}

bool WatchModel::SetPaused(WatchBlockId id, bool paused) {
  WatchBlock* b = FindMutable(id);
  if (!b) return false;
  b->config.paused = paused;
  return true;
}

bool WatchModel::FeedGood(WatchBlockId id, uint32_t revision, int64_t now, int64_t responseMs,
                          const std::vector<uint8_t>& data) {
  WatchBlock* b = FindMutable(id);
  if (!b || b->revision != revision) return false;
  const size_t need = WatchDataBytes(b->config);
  if (data.size() < need) {
    FeedFailure(id, revision, now, WatchOutcome::ProtocolError, responseMs);
    return false;
  }
  b->data.assign(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(need));
  Decode(*b);
  for (WatchValue& v : b->values) {
    v.stale = false;
    v.lastGoodMs = now;
  }
  b->state.lastUpdateMs = now;
  b->state.responseTimeMs = responseMs;
  b->state.outcome = WatchOutcome::Good;
  b->state.exceptionCode = 0;
  return true;
}

bool WatchModel::FeedFailure(WatchBlockId id, uint32_t revision, int64_t now, WatchOutcome outcome,
                             std::optional<int64_t> responseMs, uint8_t exceptionCode) {
  WatchBlock* b = FindMutable(id);
  if (!b || b->revision != revision || outcome == WatchOutcome::Good) return false;
  for (WatchValue& v : b->values) v.stale = true;
  b->state.lastUpdateMs = now;
  if (responseMs) b->state.responseTimeMs = responseMs;
  b->state.outcome = outcome;
  b->state.exceptionCode = outcome == WatchOutcome::Exception ? exceptionCode : 0;
  return true;
}

}  // namespace engine
