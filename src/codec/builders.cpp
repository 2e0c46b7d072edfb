// Request builders and the MBAP header.
//
// Every builder starts from a 256-byte work buffer of zeros, writes the MBAP
// header in TCP mode (Mode 1) or appends the CRC-16 in the two RTU modes, and
// returns the buffer cut to the frame's length. Slave, Cmd and the byte count
// of function 16 are written only when they fit in a byte (0 otherwise);
// addresses, counts and values are cut to their low 16 bits.
#include <algorithm>
#include <climits>

#include "codec/convert.h"
#include "codec/crc16.h"
#include "panel/frmMain.h"

namespace {

constexpr size_t kWorkBufferSize = 256;
constexpr int32_t kMbapSize = 6;

// The byte of v when v is 0..255, 0 otherwise.
uint8_t ByteOrZero(int32_t v) { return (v >= 0 && v <= 255) ? static_cast<uint8_t>(v) : 0; }

void Put16(Frame& buf, int32_t p, int32_t v) {
  buf[static_cast<size_t>(p)] = gethi(v);
  buf[static_cast<size_t>(p) + 1] = getlo(v);
}

}  // namespace

int16_t frmMain::SetTcpHeader(Frame& buf, int32_t len) {
  // Never writes outside the caller's buffer (the builders pass 256 bytes).
  if (buf.size() < static_cast<size_t>(kMbapSize)) return 0;
  // Saturates: once at 2147483647 the counter stays there (wire FF FF).
  if (TransactionID < INT32_MAX) ++TransactionID;
  Put16(buf, 0, TransactionID);
  buf[2] = 0x00;
  buf[3] = 0x00;
  Put16(buf, 4, len);
  return kMbapSize;
}

namespace {

// The steps shared by every builder: header, PDU by `writePdu` at the slave
// byte's offset, CRC, cut. `pduSize` counts the bytes from the slave byte on.
template <class WritePdu>
Frame BuildFrame(frmMain& f, int32_t mbapLength, int32_t pduSize, WritePdu writePdu) {
  Frame buf(kWorkBufferSize, 0);
  int32_t p = 0;
  if (f.Mode == 1) p += f.SetTcpHeader(buf, mbapLength);
  writePdu(buf, p);
  p += pduSize;
  if (f.Mode != 1) p += AppendCRC(buf, p);
  buf.resize(static_cast<size_t>(p));
  return buf;
}

}  // namespace

Frame frmMain::GetReadRequestData(int16_t Slave, int16_t Cmd, int32_t Addr, int32_t Count) {
  return BuildFrame(*this, 6, 6, [&](Frame& b, int32_t p) {
    b[static_cast<size_t>(p)] = ByteOrZero(Slave);
    b[static_cast<size_t>(p) + 1] = ByteOrZero(Cmd);
    Put16(b, p + 2, Addr);
    Put16(b, p + 4, Count);
  });
}

Frame frmMain::GetWriteSingleCoilRequestData(int16_t Slave, int16_t Cmd, int32_t Addr, int32_t value) {
  return BuildFrame(*this, 6, 6, [&](Frame& b, int32_t p) {
    b[static_cast<size_t>(p)] = ByteOrZero(Slave);
    b[static_cast<size_t>(p) + 1] = ByteOrZero(Cmd);
    Put16(b, p + 2, Addr);
    Put16(b, p + 4, value != 0 ? 0xFF00 : 0x0000);
  });
}

Frame frmMain::GetWriteSingleRegisterRequestData(int16_t Slave, int16_t Cmd, int32_t Addr, int32_t value) {
  return BuildFrame(*this, 6, 6, [&](Frame& b, int32_t p) {
    b[static_cast<size_t>(p)] = ByteOrZero(Slave);
    b[static_cast<size_t>(p) + 1] = ByteOrZero(Cmd);
    Put16(b, p + 2, Addr);
    Put16(b, p + 4, value);
  });
}

Frame frmMain::GetWriteMultipleRegisterRequestData(int16_t Slave, int16_t Cmd, int32_t Addr, int32_t Count,
                                                   int32_t Value1, int32_t Value2) {
  // The frame carries 2 x Count data bytes. The panel passes Count 1 or 2; a
  // Count that would not fit in the work buffer (or a negative one) is laid out
  // with as many data bytes as fit, so nothing is ever written outside it. The
  // fields themselves (count, byte count, MBAP length) are written as given.
  const int32_t overhead = (Mode == 1 ? kMbapSize : 2) + 7;
  const int32_t maxCount = (static_cast<int32_t>(kWorkBufferSize) - overhead) / 2;
  const int32_t layoutCount = std::clamp(Count, 0, maxCount);
  const int64_t mbapLength = 7 + 2 * static_cast<int64_t>(Count);
  return BuildFrame(*this, static_cast<int32_t>(mbapLength & 0xFFFF), 7 + 2 * layoutCount, [&](Frame& b, int32_t p) {
    b[static_cast<size_t>(p)] = ByteOrZero(Slave);
    b[static_cast<size_t>(p) + 1] = ByteOrZero(Cmd);
    Put16(b, p + 2, Addr);
    Put16(b, p + 4, Count);
    const int64_t byteCount = 2 * static_cast<int64_t>(Count);
    b[static_cast<size_t>(p) + 6] = (byteCount >= 0 && byteCount <= 255) ? static_cast<uint8_t>(byteCount) : 0;
    if (layoutCount >= 1) Put16(b, p + 7, Value1);
    if (layoutCount >= 2) Put16(b, p + 9, Value2);
  });
}
