#pragma once
// Byte helpers shared by the unit tests: frames written as spaced hex, the CRC appended, a PDU framed for a mode.
#include <string>

#include "modbus/convert.h"
#include "modbus/crc16.h"

namespace testbytes {

// "01 03 0A": two digits a byte, one blank between.
inline std::string Hex(const Frame& f) {
  std::string s;
  for (uint8_t b : f) s += (s.empty() ? "" : " ") + std::string{"0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 15]};
  return s;
}

// The frame with its CRC appended (low byte first).
inline Frame WithCrc(Frame f) {
  const uint16_t crc = modbus::Crc16Modbus(f.data(), f.size());
  f.insert(f.end(), {static_cast<uint8_t>(crc & 0xFF), static_cast<uint8_t>(crc >> 8)});
  return f;
}

// A PDU given from the slave byte on ("01 03 00 00 00 01"), framed for the mode: the MBAP header with
// identifier `id` in mode 1 (TCP), the CRC otherwise.
inline Frame Framed(int16_t mode, const std::string& pdu, uint16_t id = 1) {
  Frame f = modbus::HexToBytes(pdu);
  const auto n = static_cast<uint8_t>(f.size());
  if (mode == 1) f.insert(f.begin(), {static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id), 0, 0, 0, n});
  return mode == 1 ? f : WithCrc(f);
}

// The response view's text from its lines separated by '|'.
inline std::string View(std::string lines) {
  for (size_t at; (at = lines.find('|')) != std::string::npos;) lines.replace(at, 1, "\r\n");
  return lines;
}

}  // namespace testbytes
