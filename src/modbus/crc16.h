#pragma once
// CRC-16/MODBUS: reflected polynomial 0xA001, initial value
// 0xFFFF, no final XOR, computed bit by bit; on the wire low byte first.
#include <array>
#include <cstddef>
#include <cstdint>

#include "common/bytes.h"

namespace modbus {

// The CRC over `size` bytes at `data` (check value 0x4B37 over "123456789").
uint16_t Crc16Modbus(const uint8_t* data, size_t size);

// Computes the CRC over buf[0..n-1], writes its low byte to buf[n] and its high
// byte to buf[n+1], and returns 2, the number of bytes appended. Never resizes
// buf. When buf has no room for the two bytes (buf.size() < n + 2) or n is
// negative, nothing is written and the result is 0 — a safe no-op whose result,
// added to a frame length as the builders do, appends nothing.
int16_t AppendCRC(Frame& buf, int32_t n);

// Verifies a received frame whose last two bytes are its CRC. `expected` gets
// the CRC computed over all bytes but the last two, in wire order (low byte
// first), whether the check passes or not. A two-byte frame is a CRC over no
// data (passes exactly when FF FF). A frame shorter than two bytes cannot carry
// a CRC: expected is set to FF FF (the CRC of no data) and the result is false.
bool CheckCRC(const Frame& frame, std::array<uint8_t, 2>& expected);

}  // namespace modbus
