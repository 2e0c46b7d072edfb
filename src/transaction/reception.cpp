// Reception: received bytes are assembled into one response frame, checked
// against the request in flight and reported. A faulty frame is never
// discarded: it is logged and shown, and each fault follows it as a
// "Protocol Error" row with its bytes painted in the response row.
#include <array>
#include <limits>

#include "codec/convert.h"
#include "codec/crc16.h"
#include "common/module1.h"
#include "common/number_text.h"
#include "panel/frmMain.h"

namespace {

// The most bytes held for one response. A peer that keeps streaming without
// ever completing a frame cannot make the buffer grow further; the request
// time-out, if one runs, ends the transaction.
constexpr int32_t kMaxResponseBytes = 65536;

constexpr int16_t kModeTcp = 1;
constexpr char kTab = '\t';

// The hex text of the low `bytes` bytes of value, as quoted in the messages
// (the value 0 is always the single byte 00).
std::string HexOf(int32_t value, int16_t bytes) { return ToLogHexString(LongToByteArray(value, bytes)); }

bool FitsInt16(int32_t v) {
  return v >= std::numeric_limits<int16_t>::min() && v <= std::numeric_limits<int16_t>::max();
}

}  // namespace

bool frmMain::Receive(uint8_t b, int32_t total) {
  if (!AwaitingResponse) return false;
  if (RxCount >= kMaxResponseBytes) return false;

  RxBuffer.resize(static_cast<size_t>(RxCount));
  RxBuffer.push_back(b);
  ++RxCount;
  const auto rx = [this](int32_t i) { return ByteAt(RxBuffer, i); };

  int32_t s = 0;  // index of the slave byte
  int32_t t = 0;  // trailer length (the CRC)
  int32_t L = 0;  // MBAP length field
  if (Mode == kModeTcp) {
    ExpectedTransactionId = ByteAt(LastRequest, 0) * 256 + ByteAt(LastRequest, 1);
    s = 6;
    if (RxCount >= 2 && Uint16(rx(0), rx(1)) != ExpectedTransactionId)
      LogProtocolError("Wrong Transaction ID (expected " + HexOf(ExpectedTransactionId, 2) + ")", 0, 2);
    if (RxCount >= 4 && Uint16(rx(2), rx(3)) != 0) LogProtocolError("Invalid protocol ID (expected 00 00)", 2, 2);
    if (RxCount >= 6) {
      L = Uint16(rx(4), rx(5));
      if (L < 3) LogProtocolError("Invalid MBAP Length", 4, 2);
    }
  } else {
    t = 2;
  }

  // Bytes from the slave byte on. Past the 16-bit range no frame can
  // complete any more; the time-out ends the transaction.
  const int32_t avail = RxCount - s;
  if (!FitsInt16(avail) || avail < 2) return false;

  if (rx(s) != ByteAt(LastRequest, s))
    LogProtocolError("Wrong response slave (expected " + HexOf(ByteAt(LastRequest, s), 1) + ")", s, 1);

  int32_t f = rx(s + 1);
  const int32_t ef = ByteAt(LastRequest, s + 1);

  // Expected length from the slave byte to the end of the frame, trailer
  // included; 0 while it cannot be told yet.
  int32_t E = 0;
  bool exception = false;
  if (f & 0x80) {
    f -= 0x80;
    E = t + 3;
    exception = true;
  } else {
    switch (f) {
      case 1:
      case 2:
      case 3:
      case 4:
        if (avail >= 3) E = rx(s + 2) + 3 + t;
        break;
      case 5:
      case 6:
      case 15:
      case 16:
        E = t + 6;
        break;
      default:
        // No rule for this function code: the MBAP length tells it in TCP
        // mode; otherwise the chunk being fed is taken as the frame.
        if (L >= 3) {
          if (FitsInt16(L)) E = L;
        } else {
          const int32_t rest = total - s;
          if (FitsInt16(rest)) E = rest;
          if (E < t + 3) E = t + 3;
        }
        break;
    }
  }

  // An exception answer to the right function passes: bit 7 is off by now.
  if (f != ef) LogProtocolError("Wrong response command (expected " + HexOf(ef, 1) + ")", s + 1, 1);

  if (E <= 0 || avail < E) return false;

  // The frame is complete.
  AwaitingResponse = false;
  StopTimer();
  RxCount = s + E;
  RxBuffer.resize(static_cast<size_t>(RxCount));

  if (Mode == kModeTcp) {
    if (L != E) LogProtocolError("Invalid MBAP Length", 4, 2);
  } else {
    std::array<uint8_t, 2> crc{};
    if (!CheckCRC(RxBuffer, crc))
      LogProtocolError("Bad Checksum (expected " + ToLogHexString(Frame{crc[0], crc[1]}) + ")", RxCount - 2, 2);
  }

  LogResponse(RxBuffer);

  if (exception) {
    const int32_t code = rx(s + 2);
    if (code < 1 || code > 11) {
      LogError("Modbus Exception", "Unknown exception (Code " + std::to_string(code) + ")", false, 1, s + 2);
    } else {
      LogError("Modbus Exception", ExceptionText[static_cast<size_t>(code)] + " (Code " + std::to_string(code) + ")",
               false, 0, 0);
    }
  } else {
    ShowResponse(RxBuffer, static_cast<int16_t>(s));
  }

  // The faults in the order first found. The list stays until the next send.
  for (const std::string& entry : ProtocolErrors) {
    const size_t second = entry.rfind(kTab);
    const size_t first = second == std::string::npos || second == 0 ? std::string::npos : entry.rfind(kTab, second - 1);
    if (first == std::string::npos) continue;
    const int32_t offset = ParseLong(entry.substr(first + 1, second - first - 1)).value_or(0);
    const int32_t length = ParseLong(entry.substr(second + 1)).value_or(0);
    LogError("Protocol Error", entry.substr(0, first), false, length, offset);
  }

  // Each complete answer counts once; only a good one has a response time.
  if (!ProtocolErrors.empty()) {
    ++Stats.protocolErrors;
  } else if (exception) {
    ++Stats.exceptions;
  } else {
    Stats.CountAnswer(ResponseElapsedMs());
  }
  StatsChanged();
  return true;
}

void frmMain::ResetProtocolErrors() { ProtocolErrors.clear(); }

void frmMain::LogProtocolError(const std::string& err, int32_t Offset, int32_t Length) {
  // Every check runs again on each following byte; an identical entry is
  // recorded only once.
  const std::string entry = err + kTab + std::to_string(Offset) + kTab + std::to_string(Length);
  for (const std::string& known : ProtocolErrors)
    if (known == entry) return;
  ProtocolErrors.push_back(entry);
}
