#include "modbus/ascii_framing.h"

#include <algorithm>
#include <array>

namespace modbus {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

std::string HexByte(uint8_t b) { return {kHex[b >> 4], kHex[b & 15]}; }

// What a received character is, looked up in one step (a character is taken
// on every byte of an answer, so a chain of range tests per byte would cost
// more than the rest of its handling): an upper-case hex digit is its value
// 0..15, a lower-case one 0x10 + its value, CR and LF kEndOfLine, ':' kColon
// and anything else kOther.
constexpr uint8_t kLowerCase = 0x10;
constexpr uint8_t kOther = 0x20;
constexpr uint8_t kEndOfLine = 0x30;
constexpr uint8_t kColon = 0x40;
// Characters a frame's start does not see: dropped before ':' (both kOther and
// kEndOfLine carry this bit, no other class does).
constexpr uint8_t kDroppedOutside = 0x20;

constexpr std::array<uint8_t, 256> kClass = [] {
  std::array<uint8_t, 256> t{};
  for (uint8_t& c : t) c = kOther;
  for (int i = 0; i < 10; ++i) t['0' + i] = static_cast<uint8_t>(i);
  for (int i = 0; i < 6; ++i) {
    t['A' + i] = static_cast<uint8_t>(10 + i);
    t['a' + i] = static_cast<uint8_t>(kLowerCase + 10 + i);
  }
  t['\r'] = kEndOfLine;
  t['\n'] = kEndOfLine;
  t[':'] = kColon;
  return t;
}();

uint8_t ClassOf(char c) { return kClass[static_cast<unsigned char>(c)]; }

// The value of a hex digit of either case, -1 for any other character.
int HexValue(char c) {
  const uint8_t k = ClassOf(c);
  return k < kOther ? (k & 0x0F) : -1;
}

// A character for a fault text: printable ASCII as is, else its code.
std::string CharText(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u >= 0x20 && u <= 0x7E) return std::string("'") + c + "'";
  return "0x" + HexByte(u);
}

}  // namespace

uint8_t Lrc(std::span<const uint8_t> bytes) {
  uint8_t sum = 0;
  for (uint8_t b : bytes) sum = static_cast<uint8_t>(sum + b);
  return static_cast<uint8_t>(-sum);
}

std::string AsciiCharacters(std::span<const uint8_t> bytes) {
  std::string s;
  s.reserve(2 * bytes.size() + 3);
  s += ':';
  for (uint8_t b : bytes) s += HexByte(b);
  s += "\r\n";
  return s;
}

std::string EncodeAscii(std::span<const uint8_t> adu) {
  Frame framed(adu.begin(), adu.end());
  framed.push_back(Lrc(adu));
  return AsciiCharacters(framed);
}

Frame AsciiFrameBytes(std::span<const uint8_t> chars) {
  AsciiDecoder decoder;
  std::string_view rest(reinterpret_cast<const char*>(chars.data()), chars.size());
  while (!rest.empty()) {
    rest.remove_prefix(decoder.TakeRun(rest));
    if (rest.empty()) break;
    if (std::optional<AsciiFrame> f = decoder.Push(rest.front())) return std::move(f->adu);
    rest.remove_prefix(1);
  }
  if (std::optional<AsciiFrame> f = decoder.Finish()) return std::move(f->adu);
  return {};
}

void AsciiDecoder::Fault(std::string message, int32_t offset, int32_t length) {
  PduFault f{std::move(message), offset, length};
  if (std::find(faults_.begin(), faults_.end(), f) == faults_.end()) faults_.push_back(std::move(f));
}

void AsciiDecoder::Start() {
  adu_.clear();
  // Room for the largest frame at once, rather than a regrowth every few
  // bytes of a long one.
  adu_.reserve(kMaxAdu);
  nibble_ = -1;
  overlong_ = false;
  state_ = State::Hex;
}

void AsciiDecoder::AddDigit(char c) {
  if (adu_.size() >= kMaxAdu) {
    if (!overlong_) Fault("Frame longer than 255 bytes: the rest is dropped", static_cast<int32_t>(kMaxAdu - 1), 1);
    overlong_ = true;
    return;
  }
  const auto at = static_cast<int32_t>(adu_.size());
  const uint8_t k = ClassOf(c);
  if (k >= kLowerCase && charFaults_++ < kListedCharFaults) {
    if (k >= kOther)
      Fault("Invalid hex character " + CharText(c), at, 1);
    else
      Fault("Lower-case hex character " + CharText(c) + " (upper-case expected)", at, 1);
  }
  // Any other character counts as 0.
  const int v = k < kOther ? (k & 0x0F) : 0;
  if (nibble_ < 0) {
    nibble_ = v;
  } else {
    adu_.push_back(static_cast<uint8_t>(nibble_ << 4 | v));
    nibble_ = -1;
  }
}

AsciiFrame AsciiDecoder::End() {
  if (charFaults_ > kListedCharFaults)
    Fault(std::to_string(charFaults_ - kListedCharFaults) + " more invalid or lower-case hex characters not listed", 0,
          0);
  if (nibble_ >= 0)
    Fault("Odd number of hex characters: the last one is dropped", static_cast<int32_t>(adu_.size()), 0);
  const auto n = static_cast<int32_t>(adu_.size());
  if (n < 3) {
    Fault("Frame too short (at least 3 bytes expected)", 0, n);
  } else {
    const uint8_t expected = Lrc(std::span(adu_).first(adu_.size() - 1));
    if (expected != adu_.back()) Fault("Bad LRC (expected " + HexByte(expected) + ")", n - 1, 1);
  }
  // A fault at a dropped half byte keeps its message but marks no byte.
  std::vector<size_t> cut;
  for (size_t i = 0; i < faults_.size(); ++i) {
    PduFault& f = faults_[i];
    if (f.offset <= n && f.length <= n - f.offset) continue;
    f.offset = std::min(f.offset, n);
    f.length = std::min(f.length, n - f.offset);
    cut.push_back(i);
  }
  // Faults of one text cut back to one place are one fault: the first stays.
  // Only a fault cut back can meet another; the rest were distinct.
  if (!cut.empty()) {
    std::vector<bool> drop(faults_.size(), false);
    for (const size_t c : cut)
      for (size_t j = 0; j < faults_.size(); ++j)
        if (j != c && faults_[j] == faults_[c]) drop[std::max(j, c)] = true;
    size_t kept = 0;
    for (size_t i = 0; i < faults_.size(); ++i) {
      if (drop[i]) continue;
      if (kept != i) faults_[kept] = std::move(faults_[i]);
      ++kept;
    }
    faults_.resize(kept);
  }
  AsciiFrame frame{std::move(adu_), std::move(faults_)};
  adu_.clear();
  faults_.clear();
  nibble_ = -1;
  overlong_ = false;
  charFaults_ = 0;
  restartsSaid_.reset();
  state_ = State::Idle;
  return frame;
}

std::optional<AsciiFrame> AsciiDecoder::Push(char c) {
  switch (state_) {
    case State::Idle:
      if (c == ':') {
        if (dropped_ > 0)
          Fault(std::to_string(dropped_) + (dropped_ == 1 ? " character" : " characters") + " before ':' dropped", 0,
                0);
        dropped_ = 0;
        Start();
      } else if (HexValue(c) >= 0) {
        Fault("Missing ':' at the start of the frame", 0, 0);
        dropped_ = 0;
        Start();
        AddDigit(c);
      } else {
        ++dropped_;
      }
      return std::nullopt;
    case State::Hex:
      if (c == '\r') {
        state_ = State::AfterCr;
      } else if (c == '\n') {
        Fault("Missing CR before LF", static_cast<int32_t>(adu_.size()), 0);
        return End();
      } else if (c == ':') {
        // Each count is said once; no other fault has this text, so a new
        // one needs no search of the list (a peer repeating ':' would
        // otherwise make every restart search them all).
        if (const size_t n = adu_.size(); !restartsSaid_.test(n)) {
          restartsSaid_.set(n);
          faults_.push_back(
              {"Frame restarted by ':' (" + std::to_string(n) + (n == 1 ? " byte" : " bytes") + " dropped)", 0, 0});
        }
        Start();
      } else {
        AddDigit(c);
      }
      return std::nullopt;
    case State::AfterCr:
      if (c == '\n') return End();
      Fault("Missing LF after CR", static_cast<int32_t>(adu_.size()), 0);
      {
        AsciiFrame frame = End();
        if (c == ':') {
          Start();
        } else {
          ++dropped_;
        }
        return frame;
      }
  }
  return std::nullopt;
}

size_t AsciiDecoder::TakeRun(std::string_view chars) {
  const char* const begin = chars.data();
  const char* const end = begin + chars.size();
  const char* p = begin;
  if (state_ == State::Idle) {
    // Dropped before a frame: counted for the next one.
    while (p != end && (ClassOf(*p) & kDroppedOutside) != 0) ++p;
    dropped_ += static_cast<size_t>(p - begin);
    return static_cast<size_t>(p - begin);
  }
  if (state_ != State::Hex) return 0;
  if (adu_.size() >= kMaxAdu) {
    // Past the largest frame, once that is said, only the frame's end counts.
    if (!overlong_) return 0;
    while (p != end && ClassOf(*p) < kEndOfLine) ++p;
    return static_cast<size_t>(p - begin);
  }
  // Characters up to the largest frame, a half byte pending counted. Digits
  // are taken in bulk, and so are bad characters once the listed ones are
  // said (counted, taken as 0 or, in lower case, at their value); one still
  // to be listed goes through AddDigit.
  const size_t room = 2 * (kMaxAdu - adu_.size()) - (nibble_ >= 0 ? 1 : 0);
  const char* const stop = begin + std::min(chars.size(), room);
  while (p != stop) {
    p = TakeDigits(p, stop, charFaults_ < kListedCharFaults ? kLowerCase : kEndOfLine);
    if (p == stop || ClassOf(*p) >= kEndOfLine) break;
    AddDigit(*p++);
  }
  return static_cast<size_t>(p - begin);
}

const char* AsciiDecoder::TakeDigits(const char* p, const char* stop, uint8_t limit) {
  // Written in place, a byte per two characters: the pairing of half bytes
  // and the count of bad characters are arithmetic, so a character costs the
  // loop's own two tests and nothing else (noise from a broken peer is the
  // case this matters for: every character of it is a bad one).
  size_t n = adu_.size();
  adu_.resize(kMaxAdu);
  uint8_t* const out = adu_.data();
  unsigned half = nibble_ >= 0 ? 1U : 0U;  // 1 while a high half byte waits
  unsigned high = half != 0 ? static_cast<unsigned>(nibble_) : 0U;
  size_t bad = 0;
  for (; p != stop; ++p) {
    const unsigned k = ClassOf(*p);
    if (k >= limit) break;
    // A class below kEndOfLine carries the value in its low four bits (0 for
    // kOther); every class from kLowerCase up is a bad character.
    const unsigned v = k & 0x0F;
    bad += (k + 0xF0) >> 8;
    // Room was counted by the caller: n stays below kMaxAdu here. With no
    // half byte waiting the write is overwritten by the next one, or cut.
    out[n] = static_cast<uint8_t>(high << 4 | v);
    n += half;
    high = v;
    half ^= 1U;
  }
  adu_.resize(n);
  nibble_ = half != 0 ? static_cast<int>(high) : -1;
  charFaults_ += bad;
  return p;
}

std::vector<AsciiFrame> AsciiDecoder::Feed(std::string_view chars) {
  std::vector<AsciiFrame> frames;
  while (!chars.empty()) {
    chars.remove_prefix(TakeRun(chars));
    if (chars.empty()) break;
    if (std::optional<AsciiFrame> f = Push(chars.front())) frames.push_back(std::move(*f));
    chars.remove_prefix(1);
  }
  return frames;
}

std::optional<AsciiFrame> AsciiDecoder::Finish() {
  if (state_ == State::Idle) return std::nullopt;
  Fault(state_ == State::AfterCr ? "Missing LF after CR" : "Missing CR LF at the end of the frame",
        static_cast<int32_t>(adu_.size()), 0);
  return End();
}

}  // namespace modbus
