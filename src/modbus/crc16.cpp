// CRC-16/MODBUS.
#include "modbus/crc16.h"

namespace modbus {

uint16_t Crc16Modbus(const uint8_t* data, size_t size) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) {
      const bool lowBit = (crc & 1u) != 0;
      crc = static_cast<uint16_t>(crc >> 1);
      if (lowBit) crc ^= 0xA001;
    }
  }
  return crc;
}

int16_t AppendCRC(Frame& buf, int32_t n) {
  if (n < 0 || buf.size() < static_cast<size_t>(n) + 2) return 0;
  const uint16_t crc = Crc16Modbus(buf.data(), static_cast<size_t>(n));
  buf[static_cast<size_t>(n)] = static_cast<uint8_t>(crc & 0xFF);
  buf[static_cast<size_t>(n) + 1] = static_cast<uint8_t>(crc >> 8);
  return 2;
}

bool CheckCRC(const Frame& frame, std::array<uint8_t, 2>& expected) {
  if (frame.size() < 2) {
    expected = {0xFF, 0xFF};
    return false;
  }
  const size_t dataSize = frame.size() - 2;
  const uint16_t crc = Crc16Modbus(frame.data(), dataSize);
  expected = {static_cast<uint8_t>(crc & 0xFF), static_cast<uint8_t>(crc >> 8)};
  return frame[dataSize] == expected[0] && frame[dataSize + 1] == expected[1];
}

}  // namespace modbus
