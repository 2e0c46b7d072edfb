// Assembly and checking of one answer.
#include "modbus/response.h"

#include <algorithm>
#include <array>
#include <climits>
#include <initializer_list>
#include <limits>

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
  const auto count = static_cast<int32_t>(rx_.size());
  if (count >= kMaxResponseBytes) return false;
  // Most answers are short; reserving once spares the early regrowths.
  if (rx_.empty()) rx_.reserve(256);
  rx_.push_back(b);
  const int32_t n = count + 1;
  // Once the length is settled by bytes already held, the checks below would
  // only find again what they found: wait for the last byte.
  if (settledEnd_ >= 0) return n == settledEnd_ && Finish(settledEnd_ - SlaveOffset(mode_), settledL_);
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
        const PduLength length = ExpectedResponsePduLength(pduHeld, RequestPduSize());
        if (length.kind == PduLength::Kind::Known) {
          // Never shorter than slave, function and one byte, as every other
          // answer; the shortest valid PDU answers (07, 17) have two bytes.
          E = std::max<int32_t>(length.bytes + 1, 3) + t;
          pduSettled = true;
          break;
        }
        if (length.kind == PduLength::Kind::NotYet) break;
        // A layout the rule does not know (43 with another MEI type): as for
        // a function without a rule.
        pduUnknown = true;
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

bool ResponseAssembler::FeedChunk(const uint8_t* bytes, size_t size) {
  const auto chunkSize = static_cast<int32_t>(std::min<size_t>(size, INT32_MAX));
  chunkEnd_ = -1;
  size_t i = 0;
  while (i < size && !complete_) {
    const auto held = static_cast<int32_t>(rx_.size());
    if (held >= kMaxResponseBytes) return false;
    // Where the frame ends as far as the bytes held and this chunk tell.
    const int32_t end = settledEnd_ >= 0 ? settledEnd_ : chunkEnd_;
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
  } else {
    std::array<uint8_t, 2> crc{};
    if (!CheckCRC(rx_, crc))
      AddFault(Expected("Bad Checksum", {crc[0], crc[1]}), static_cast<int32_t>(rx_.size()) - 2, 2);
  }
  if (ByteAt(rx_, s + 1) & 0x80) {
    exception_ = ByteAt(rx_, s + 2);
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
    for (Fault& fault : CheckResponsePdu(pdu(request_), pdu(rx_)))
      AddFault(std::move(fault.message), fault.offset + s + 1, fault.length);
  }
  return true;
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
