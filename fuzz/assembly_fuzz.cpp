// Fuzz target for the assembly and checking of answers on its own, in each
// framing. The input picks the mode (RTU, TCP, RTU-OVER-TCP, ASCII, ASCII
// over TCP, or a number outside the list, which frames like RTU) and the request (framed as the
// program frames it, or raw bytes), then the answer's bytes in chunks of arbitrary
// sizes. After every byte the assembler's invariants are checked; a violation
// traps and libFuzzer reports it as a crash.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "modbus/ascii_framing.h"
#include "modbus/crc16.h"
#include "modbus/response.h"

namespace {

void Require(bool ok) {
  if (!ok) __builtin_trap();
}

class Input {
 public:
  Input(const uint8_t* d, size_t n) : d_(d), n_(n) {}
  size_t Position() const { return i_ < n_ ? i_ : n_; }
  uint8_t Byte() { return i_ < n_ ? d_[i_++] : 0; }
  Frame Bytes(size_t len) {
    const size_t k = std::min(len, n_ - Position());
    Frame f(d_ + Position(), d_ + Position() + k);
    i_ += k;
    return f;
  }

 private:
  const uint8_t* d_;
  size_t n_;
  size_t i_ = 0;
};

modbus::Mode ModeOf(uint8_t b) {
  static constexpr int16_t kModes[] = {0, 1, 2, 3, 4, 5};
  return modbus::ModeOf(kModes[b % 6]);
}

// A request: six PDU bytes (slave, function, address, count or value) framed
// for the mode as the program frames them (MBAP header with the identifier
// from the input, or the CRC), or raw bytes as the HEX view sends them. Framed
// here rather than by the builders, whose own edges would only slow every run.
Frame RequestOf(Input& in, modbus::Mode mode) {
  const uint8_t kind = in.Byte();
  if (kind & 0x80) return in.Bytes(in.Byte() % 24);
  Frame pdu = in.Bytes(6);
  pdu.resize(6);
  pdu[1] = static_cast<uint8_t>(pdu[1] % 20);
  if (modbus::IsAscii(mode)) {
    const std::string chars = modbus::EncodeAscii(pdu);
    return Frame(chars.begin(), chars.end());
  }
  if (!modbus::UsesMbap(mode)) {
    const uint16_t crc = modbus::Crc16Modbus(pdu.data(), pdu.size());
    pdu.push_back(static_cast<uint8_t>(crc & 0xFF));
    pdu.push_back(static_cast<uint8_t>(crc >> 8));
    return pdu;
  }
  Frame frame = {in.Byte(), in.Byte(), 0, 0, 0, 6};
  frame.insert(frame.end(), pdu.begin(), pdu.end());
  return frame;
}

// No fault twice: pair by pair for a short list; a long one (an answer can
// carry some hundred faults, most of them of one kind with texts of one
// length) by sorted hashes, faults compared only where two hashes meet.
bool Distinct(const std::vector<modbus::Fault>& faults) {
  if (faults.size() <= 16) {
    for (size_t i = 0; i < faults.size(); ++i)
      for (size_t j = 0; j < i; ++j)
        if (faults[i] == faults[j]) return false;
    return true;
  }
  std::vector<std::pair<size_t, size_t>> keyed;  // hash, index
  keyed.reserve(faults.size());
  for (size_t i = 0; i < faults.size(); ++i) {
    keyed.emplace_back(modbus::HashOf(faults[i]), i);
  }
  std::sort(keyed.begin(), keyed.end());
  for (size_t i = 1; i < keyed.size(); ++i)
    for (size_t j = i; j > 0 && keyed[j - 1].first == keyed[i].first; --j)
      if (faults[keyed[j - 1].second] == faults[keyed[i].second]) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 8192) return 0;
  Input in(data, size);
  const modbus::Mode mode = ModeOf(in.Byte());
  modbus::ResponseAssembler a(mode, RequestOf(in, mode));
  const int32_t s = a.SlaveIndex();
  // A chunk length byte, then that many bytes (the last chunk may be short);
  // a long chunk now and then pushes frames past the 255-byte counts. The
  // chunks are fed straight from the input, as a transport hands them over.
  size_t at = in.Position();
  size_t fed = 0;
  bool completed = false;
  while (at < size && !completed) {
    const uint8_t head = data[at++];
    const size_t length = std::min<size_t>(head == 0xFF ? 1024 : head % 64 + 1, size - at);
    const size_t before = a.Received().size();
    completed = a.FeedChunk(data + at, length);
    // Every byte of the chunk is taken up to the bound, or up to the frame's end.
    Require(completed
                ? a.Received().size() <= before + length
                : a.Received().size() == std::min(before + length, static_cast<size_t>(modbus::kMaxResponseBytes)));
    fed += length;
    at += length;
  }
  Require(completed == a.Complete());
  Require(a.Received().size() <= std::min(fed, static_cast<size_t>(modbus::kMaxResponseBytes)));
  if (completed) {
    // Whatever follows the frame belongs to no answer: ignored, the frame kept.
    const size_t length = a.Received().size();
    Require(!a.Feed(0x55, 1) && a.Received().size() == length);
  } else {
    Require(!a.Exception());
  }
  // Faults are distinct, and each one's bytes lie inside the frame once it is
  // complete. In ASCII framing a fault about characters (a missing ':', CR
  // or LF) may paint none.
  const bool ascii = modbus::IsAscii(mode);
  const auto& faults = a.Faults();
  for (const modbus::Fault& f : faults) {
    Require(!f.message.empty() && f.offset >= 0 && f.length >= (ascii ? 0 : 1));
    if (a.Complete()) Require(f.offset + f.length <= static_cast<int32_t>(a.Received().size()));
  }
  Require(Distinct(faults));
  if (a.Complete() && ascii) {
    // The checks read the binary frame the characters carry.
    const Frame& answer = a.Answer();
    Require(answer.size() <= modbus::AsciiDecoder::kMaxAdu);
    if (answer.size() >= 3) {
      Require(a.Exception().has_value() == ((answer[1] & 0x80) != 0));
      if (a.Exception()) Require(*a.Exception() == answer[2]);
    } else {
      // Cut short before the exception code: no code is reported.
      Require(!a.Exception());
    }
  } else if (a.Complete()) {
    const Frame& frame = a.Received();
    Require(frame.size() >= static_cast<size_t>(s + 3));
    Require(a.Exception().has_value() == ((frame[static_cast<size_t>(s + 1)] & 0x80) != 0));
    if (a.Exception()) Require(*a.Exception() == frame[static_cast<size_t>(s + 2)]);
  }
  return 0;
}
