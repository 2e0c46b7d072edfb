// Assembly and checking of one answer.
#include "modbus/response.h"

#include <algorithm>
#include <array>
#include <climits>
#include <initializer_list>
#include <limits>
#include <unordered_set>

#include "modbus/convert.h"
#include "modbus/crc16.h"
#include "modbus/pdu_ext.h"

namespace modbus {

namespace {

bool FitsInt16(int32_t v) {
  return v >= std::numeric_limits<int16_t>::min() && v <= std::numeric_limits<int16_t>::max();
}

// "<text> (expected <bytes>)", the bytes as upper-case hex pairs.
std::string Expected(const char* text, std::initializer_list<uint8_t> bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string s;
  s.reserve(48);
  s += text;
  s += " (expected";
  for (uint8_t b : bytes) {
    s += ' ';
    s += kDigits[b >> 4];
    s += kDigits[b & 0x0F];
  }
  s += ')';
  return s;
}

// The same for the low byte of a value, or its low two bytes; the value 0 is
// always the single byte 00 (as LongToByteArray writes it).
std::string Expected(const char* text, int32_t value, int bytes) {
  if (value == 0 || bytes == 1) return Expected(text, {getlo(value)});
  return Expected(text, {gethi(value), getlo(value)});
}

}  // namespace

ResponseAssembler::ResponseAssembler(Mode mode, Frame request) : mode_(mode), request_(std::move(request)) {}

ResponseAssembler::ResponseAssembler(Mode mode, Frame requestAdu, bool binary)
    : mode_(mode), request_(std::move(requestAdu)), binary_(binary) {}

Fault ResponseAssembler::WireSpan(std::string message, int32_t offset, int32_t length) const {
  if (!IsAscii(mode_) || binary_) return {std::move(message), offset, length};
  // Two characters a byte, from the frame's first digit on.
  const int64_t at = digitsAt_ + 2LL * offset;
  const int64_t n = 2LL * length;
  return {std::move(message), static_cast<int32_t>(std::clamp<int64_t>(at, 0, INT32_MAX)),
          static_cast<int32_t>(std::clamp<int64_t>(n, 0, INT32_MAX))};
}

bool ResponseAssembler::FeedAscii(uint8_t c) {
  if (static_cast<int32_t>(rx_.size()) >= kMaxResponseBytes) return false;
  if (rx_.empty()) rx_.reserve(256);
  const bool started = decoder_.InFrame();
  rx_.push_back(c);
  const auto at = static_cast<int32_t>(rx_.size()) - 1;
  const int32_t framed = digitsAt_;
  std::optional<AsciiFrame> frame = decoder_.Push(static_cast<char>(c));
  // ':' starts a frame whatever came before it; a hex digit out of a frame
  // starts one without it (the decoder reports the missing ':').
  if (c == ':') {
    digitsAt_ = at + 1;
  } else if (!started && decoder_.InFrame()) {
    digitsAt_ = at;
  }
  // A frame that ends here began before this character.
  return frame && FinishAscii(std::move(*frame), framed);
}

bool ResponseAssembler::FinishAscii(AsciiFrame frame, int32_t digitsAt) {
  complete_ = true;
  digitsAt_ = digitsAt;
  adu_ = std::move(frame.adu);
  // The request as the binary frame it carries (nothing for characters that
  // carry none: the checks then compare with 0).
  Frame requestAdu = AsciiFrameBytes(request_);

  // The binary frame, fed whole: a function without a length rule takes it
  // all, as the ASCII frame delimits it.
  ResponseAssembler binary(mode_, std::move(requestAdu), true);
  const auto size = static_cast<int32_t>(adu_.size());
  binary.FeedChunk(adu_);
  std::vector<Fault> lengthFaults;
  if (!binary.complete_) {
    // Shorter than its length rule (the decoder reports a frame of fewer than
    // three bytes itself): checked as it is, the last byte painted.
    const int32_t expected = binary.settledEnd_;
    if (size >= 3)
      lengthFaults.push_back({expected > size && expected != std::numeric_limits<int32_t>::max()
                                  ? "Frame too short (" + std::to_string(expected) + " bytes expected)"
                                  : std::string("Frame too short"),
                              size - 1, 1});
    if (size >= 2) binary.Finish(size, 0);
  } else if (const auto used = static_cast<int32_t>(binary.rx_.size()); used < size) {
    // Longer: the bytes beyond the rule stand before the LRC.
    lengthFaults.push_back({"Frame too long (" + std::to_string(used) + " bytes expected)", used - 1, size - used});
  }
  // The binary frame's faults come first; they and the decoder's are each
  // free of repeats already, so a fault of the decoder is looked for only
  // among the ones before its own.
  faults_ = std::move(binary.faults_);
  for (Fault& f : lengthFaults) AddFault(std::move(f.message), f.offset, f.length);
  const auto before = static_cast<std::ptrdiff_t>(faults_.size());
  for (Fault& f : frame.faults)
    if (std::find(faults_.begin(), faults_.begin() + before, f) == faults_.begin() + before)
      faults_.push_back(std::move(f));
  // Painted on the characters that carry the bytes.
  for (Fault& f : faults_) f = WireSpan(std::move(f.message), f.offset, f.length);
  exception_ = binary.exception_;
  return true;
}

void ResponseAssembler::AddFault(std::string message, int32_t offset, int32_t length) {
  // Every check runs again on each following byte; an identical fault is
  // recorded only once.
  Fault fault{std::move(message), offset, length};
  for (const Fault& known : faults_)
    if (known == fault) return;
  faults_.push_back(std::move(fault));
}

bool ResponseAssembler::Feed(uint8_t b, int32_t chunkSize) {
  if (complete_) return false;
  if (IsAscii(mode_) && !binary_)
    return FeedAscii(b) || (static_cast<int32_t>(rx_.size()) >= kMaxResponseBytes && EndAtBound());
  if (FeedByte(b, chunkSize)) return true;
  return static_cast<int32_t>(rx_.size()) >= kMaxResponseBytes && EndAtBound();
}

bool ResponseAssembler::EndAtBound() {
  // No frame can complete past this point (its length would not fit the
  // rules' 16-bit range), and waiting out the time-out would only hold the
  // link while the peer streams on: the answer ends here, as a fault.
  complete_ = true;
  AddFault("No frame ends within " + std::to_string(kMaxResponseBytes) + " bytes", kMaxResponseBytes - 1, 1);
  return true;
}

bool ResponseAssembler::FeedByte(uint8_t b, int32_t chunkSize) {
  const auto count = static_cast<int32_t>(rx_.size());
  if (count >= kMaxResponseBytes) return false;
  // Most answers are short; reserving once spares the early regrowths.
  if (rx_.empty()) rx_.reserve(256);
  rx_.push_back(b);
  const int32_t n = count + 1;
  // Once the length is settled by bytes already held, the checks below would
  // only find again what they found: wait for the last byte.
  if (settledEnd_ >= 0) return n == settledEnd_ && Finish(settledEnd_ - SlaveOffset(mode_), settledL_);
  // Likewise while the bytes held cannot tell the length yet.
  if (n < quietUntil_) return false;
  const auto rx = [this](int32_t i) { return ByteAt(rx_, i); };

  const int32_t s = SlaveOffset(mode_);  // index of the slave byte
  const int32_t t = TrailerSize(mode_);  // the CRC
  int32_t L = 0;                         // MBAP length field
  // Each check concerns bytes that never change once received, so it is made
  // on the byte that completes them: a check repeated on every later byte
  // would find the same fault again, which is recorded only once anyway.
  if (UsesMbap(mode_)) {
    if (n == 2 && Uint16(rx(0), rx(1)) != ExpectedTransactionId())
      AddFault(Expected("Wrong Transaction ID", ExpectedTransactionId(), 2), 0, 2);
    if (n == 4 && Uint16(rx(2), rx(3)) != 0) AddFault("Invalid protocol ID (expected 00 00)", 2, 2);
    if (n >= 6) {
      L = Uint16(rx(4), rx(5));
      if (n == 6 && L < 3) AddFault("Invalid MBAP Length", 4, 2);
    }
  }

  // Bytes from the slave byte on. Past the 16-bit range no frame can
  // complete any more; the time-out ends the transaction.
  const int32_t avail = n - s;
  if (!FitsInt16(avail) || avail < 2) return false;

  if (avail == 2 && rx(s) != ByteAt(request_, s))
    AddFault(Expected("Wrong response slave", ByteAt(request_, s), 1), s, 1);

  int32_t f = rx(s + 1);
  const int32_t ef = ByteAt(request_, s + 1);

  // Expected length from the slave byte to the end of the frame, trailer
  // included; 0 while it cannot be told yet.
  int32_t E = 0;
  bool exception = false;
  bool pduSettled = false;  // the PDU's rule told the length
  bool pduUnknown = false;  // the PDU's rule does not know this layout
  if (f & 0x80) {
    f -= 0x80;
    E = t + 3;
    exception = true;
  } else {
    switch (AnswerShapeOf(f)) {
      case AnswerShape::ByteCount:
        if (avail >= 3) E = rx(s + 2) + 3 + t;
        break;
      case AnswerShape::Echo:
        E = t + 6;
        break;
      case AnswerShape::Pdu: {
        // The PDU's own rule, from the function code on; Diagnostics echoes
        // the request, so its size is the request's PDU.
        const auto pduHeld = std::span<const uint8_t>(rx_).subspan(static_cast<size_t>(s + 1));
        size_t needed = 0;
        const PduLength length = ExpectedResponsePduLength(pduHeld, RequestPduSize(), &needed, &objectWalk_);
        if (length.kind == PduLength::Kind::Known) {
          // Never shorter than slave, function and one byte, as every other
          // answer; the shortest valid PDU answers (07, 17) have two bytes.
          E = std::max<int32_t>(length.bytes + 1, 3) + t;
          pduSettled = true;
          break;
        }
        if (length.kind == PduLength::Kind::NotYet) {
          // Nothing is told before that many bytes are held: the rule would
          // only walk again the objects held so far.
          quietUntil_ = static_cast<int32_t>(std::min<size_t>(static_cast<size_t>(s + 1) + needed, INT32_MAX));
          break;
        }
        // A layout the rule does not know (43 with another MEI type): as for
        // a function without a rule; the rule waits for nothing any more.
        pduUnknown = true;
        quietUntil_ = 0;
        [[fallthrough]];
      }
      case AnswerShape::Unknown:
        // No rule for this function code: the MBAP length tells it in TCP
        // framing; otherwise the chunk being fed is taken as the frame.
        if (L >= 3) {
          if (FitsInt16(L)) E = L;
        } else {
          const int32_t rest = chunkSize - s;
          if (FitsInt16(rest)) E = rest;
          if (E < t + 3) E = t + 3;
          chunkEnd_ = s + E;  // holds for the rest of this chunk
        }
        break;
    }
  }

  // An exception answer to the right function passes: bit 7 is off by now.
  if (avail == 2 && f != ef) AddFault(Expected("Wrong response command", ef, 1), s + 1, 1);

  // The length no longer depends on the chunk: every rule but the chunk's.
  const AnswerShape shape = AnswerShapeOf(f);
  const bool byRule = shape == AnswerShape::Pdu ? pduSettled : shape != AnswerShape::Unknown;
  const bool settled = exception || byRule || (L >= 3 && (shape != AnswerShape::Pdu || pduUnknown));
  if (settled && (exception || shape != AnswerShape::ByteCount || avail >= 3)) {
    settledEnd_ = E > 0 ? s + E : std::numeric_limits<int32_t>::max();
  }
  settledL_ = L;
  if (E <= 0 || avail < E) return false;
  return Finish(E, L);
}

bool ResponseAssembler::FeedAsciiChunk(const uint8_t* bytes, size_t size) {
  if (complete_) return false;
  if (rx_.empty()) rx_.reserve(256);
  size_t i = 0;
  while (i < size && !complete_) {
    const size_t room = static_cast<size_t>(kMaxResponseBytes) - rx_.size();
    // A stream that never ends a frame (characters past the largest frame
    // are dropped up to its end, which may never come) ends at the bound,
    // as a binary one does.
    if (room == 0) return EndAtBound();
    // The characters that only carry digits (or are dropped before a frame)
    // are held at once; they move neither the frame's start nor its end.
    const size_t run =
        decoder_.TakeRun(std::string_view(reinterpret_cast<const char*>(bytes + i), std::min(size - i, room)));
    if (run > 0) {
      rx_.insert(rx_.end(), bytes + i, bytes + i + run);
      i += run;
      continue;
    }
    if (FeedAscii(bytes[i++])) return true;
  }
  return static_cast<int32_t>(rx_.size()) >= kMaxResponseBytes && EndAtBound();
}

bool ResponseAssembler::FeedChunk(const uint8_t* bytes, size_t size) {
  if (IsAscii(mode_) && !binary_) return FeedAsciiChunk(bytes, size);
  const auto chunkSize = static_cast<int32_t>(std::min<size_t>(size, INT32_MAX));
  chunkEnd_ = -1;
  size_t i = 0;
  while (i < size && !complete_) {
    const auto held = static_cast<int32_t>(rx_.size());
    if (held >= kMaxResponseBytes) return false;
    // Where the frame ends as far as the bytes held and this chunk tell.
    const int32_t end = settledEnd_ >= 0 ? settledEnd_ : chunkEnd_;
    if (end < 0 && quietUntil_ > 0) {
      // The PDU's rule waits for bytes (the next object header of a 43/14
      // answer, say). It reads every byte held, so the rest of the chunk is
      // held first and only its last byte goes through Feed: below the byte
      // the rule waits for that only holds it; from there the rule walks all
      // of them at once, once a chunk rather than once an object. A length it
      // settles short of those bytes cuts the frame there, as the byte that
      // reached it would have. Taken within the 16-bit range while the rule
      // can still settle a length; past it only the bound ends the answer.
      const int32_t s = SlaveOffset(mode_);
      const int32_t limit = held - s < INT16_MAX ? std::min(s + INT16_MAX, kMaxResponseBytes) : kMaxResponseBytes;
      const size_t take = std::min<size_t>(size - i, static_cast<size_t>(limit - held));
      rx_.insert(rx_.end(), bytes + i, bytes + i + take - 1);
      i += take - 1;
      if (Feed(bytes[i++], chunkSize)) return true;
      continue;
    }
    if (end < 0 || held >= end) {
      if (Feed(bytes[i++], chunkSize)) return true;
      continue;
    }
    // Every byte up to that end (or the bound) would only be appended: take
    // them at once.
    const size_t take = std::min<size_t>(size - i, static_cast<size_t>(std::min(end, kMaxResponseBytes) - held));
    rx_.insert(rx_.end(), bytes + i, bytes + i + take);
    i += take;
    if (static_cast<int32_t>(rx_.size()) == end) return Finish(end - SlaveOffset(mode_), settledL_);
    if (static_cast<int32_t>(rx_.size()) >= kMaxResponseBytes) return EndAtBound();
  }
  return false;
}

bool ResponseAssembler::Finish(int32_t E, int32_t L) {
  const int32_t s = SlaveOffset(mode_);
  // The frame is complete.
  complete_ = true;
  rx_.resize(static_cast<size_t>(s + E));

  if (UsesMbap(mode_)) {
    if (L != E) AddFault("Invalid MBAP Length", 4, 2);
  } else if (UsesCrc(mode_)) {
    std::array<uint8_t, 2> crc{};
    if (!CheckCRC(rx_, crc))
      AddFault(Expected("Bad Checksum", {crc[0], crc[1]}), static_cast<int32_t>(rx_.size()) - 2, 2);
  }
  if (ByteAt(rx_, s + 1) & 0x80) {
    // An ASCII frame cut short can end at the function code: without its
    // code byte there is no exception to report.
    if (rx_.size() > static_cast<size_t>(s + 2)) exception_ = rx_[static_cast<size_t>(s + 2)];
  } else if (const int32_t f = ByteAt(rx_, s + 1); f == ByteAt(request_, s + 1) && f != 5 && f != 6 && f != 16) {
    // The checks of the answer's fields against the request (echoes, byte
    // counts, device identification objects), counted from the function code.
    const int32_t t = TrailerSize(mode_);
    const auto pdu = [s, t](const Frame& frame) {
      const auto end = static_cast<int32_t>(frame.size()) - t;
      return end > s + 1
                 ? std::span<const uint8_t>(frame).subspan(static_cast<size_t>(s + 1), static_cast<size_t>(end - s - 1))
                 : std::span<const uint8_t>();
    };
    AddFaults(CheckResponsePdu(pdu(request_), pdu(rx_)), s + 1);
  }
  return true;
}

void ResponseAssembler::AddFaults(std::vector<PduFault> found, int32_t shift) {
  // A long answer (some hundred device identification objects) can carry
  // as many faults: each looked up in a list of them all would cost their
  // number squared, so a long batch is looked up by hash.
  if (faults_.size() + found.size() <= 32) {
    for (PduFault& f : found) AddFault(std::move(f.message), f.offset + shift, f.length);
    return;
  }
  const auto hash = [this](size_t i) { return HashOf(faults_[i]); };
  const auto equal = [this](size_t a, size_t b) { return faults_[a] == faults_[b]; };
  std::unordered_set<size_t, decltype(hash), decltype(equal)> known(2 * (faults_.size() + found.size()), hash, equal);
  for (size_t i = 0; i < faults_.size(); ++i) known.insert(i);
  for (PduFault& f : found) {
    faults_.push_back({std::move(f.message), f.offset + shift, f.length});
    if (!known.insert(faults_.size() - 1).second) faults_.pop_back();
  }
}

int32_t ResponseAssembler::RequestPduSize() const {
  return std::max<int32_t>(0, static_cast<int32_t>(request_.size()) - SlaveOffset(mode_) - 1 - TrailerSize(mode_));
}

const char* ExceptionName(int32_t code) {
  static const char* const kNames[] = {"Illegal Function",
                                       "Illegal Data Address",
                                       "Illegal Data Value",
                                       "Slave Device Failure",
                                       "Acknowledge",
                                       "Slave Device Busy",
                                       "Negative Acknowledge",
                                       "Memory Parity Error",
                                       "Unknown exception",
                                       "Gateway Path Unavailable",
                                       "Gateway Target Device Failed to Respond"};
  return code >= 1 && code <= 11 ? kNames[code - 1] : "";
}

}  // namespace modbus
