#include "modbus/ascii_framing.h"

#include <algorithm>

namespace modbus {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

std::string HexByte(uint8_t b) { return {kHex[b >> 4], kHex[b & 15]}; }

// The value of a hex digit of either case, -1 for any other character.
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
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
  for (uint8_t c : chars)
    if (std::optional<AsciiFrame> f = decoder.Push(static_cast<char>(c))) return std::move(f->adu);
  if (std::optional<AsciiFrame> f = decoder.Finish()) return std::move(f->adu);
  return {};
}

void AsciiDecoder::Fault(std::string message, int32_t offset, int32_t length) {
  PduFault f{std::move(message), offset, length};
  if (std::find(faults_.begin(), faults_.end(), f) == faults_.end()) faults_.push_back(std::move(f));
}

void AsciiDecoder::Start() {
  adu_.clear();
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
  int v = HexValue(c);
  const bool bad = v < 0 || (c >= 'a' && c <= 'f');
  if (bad && charFaults_++ < kListedCharFaults) {
    if (v < 0)
      Fault("Invalid hex character " + CharText(c), at, 1);
    else
      Fault("Lower-case hex character " + CharText(c) + " (upper-case expected)", at, 1);
  }
  if (v < 0) v = 0;
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
  for (PduFault& f : faults_) {
    f.offset = std::min(f.offset, n);
    f.length = std::min(f.length, n - f.offset);
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
          faults_.push_back({"Frame restarted by ':' (" + std::to_string(n) + " bytes dropped)", 0, 0});
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

std::vector<AsciiFrame> AsciiDecoder::Feed(std::string_view chars) {
  std::vector<AsciiFrame> frames;
  for (char c : chars) {
    if (std::optional<AsciiFrame> f = Push(c)) frames.push_back(std::move(*f));
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
