#pragma once
// Byte helpers shared by the unit tests: frames written as hex, the CRC appended, a PDU framed for a mode, and what
// an answer assembler ends with after a list of chunks.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "modbus/convert.h"
#include "modbus/crc16.h"
#include "modbus/response.h"

namespace modbus {
inline void PrintTo(const Fault& f, std::ostream* os) {
  *os << '{' << f.message << ", " << f.offset << ", " << f.length << '}';
}
}  // namespace modbus

namespace testbytes {

// Two digits a byte, `gap` between bytes: "01 03 0A".
inline std::string Digits(std::span<const uint8_t> f, const char* gap = "") {
  std::string s;
  for (uint8_t b : f) s += (s.empty() ? "" : gap) + std::string{"0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 15]};
  return s;
}
inline std::string Hex(const Frame& f) { return Digits(f, " "); }

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

// What an assembler ends with: per chunk '1' if it completed the answer, else '0'; then its state.
struct Outcome {
  std::string done;
  bool complete = false;
  Frame received, answer;
  std::vector<modbus::Fault> faults;
  std::optional<uint8_t> exception;
  bool operator==(const Outcome&) const = default;
};
inline void PrintTo(const Outcome& o, std::ostream* os) {
  *os << "done " << o.done << (o.complete ? " complete" : "") << ", received " << Hex(o.received) << ", answer "
      << Hex(o.answer) << ", faults " << testing::PrintToString(o.faults) << ", exception "
      << (o.exception ? int(*o.exception) : -1);
}

// The chunks fed whole, or byte by byte with each byte told its chunk's size.
inline Outcome Assemble(modbus::Mode mode, const Frame& request, const std::vector<Frame>& chunks, bool bytes = false) {
  modbus::ResponseAssembler a(mode, request);
  Outcome o;
  for (const Frame& chunk : chunks) {
    bool done = false;
    if (!bytes) done = a.FeedChunk(chunk);
    for (size_t i = 0; bytes && i < chunk.size(); ++i)
      done = a.Feed(chunk[i], static_cast<int32_t>(chunk.size())) || done;
    o.done += done ? '1' : '0';
  }
  o.complete = a.Complete(), o.received = a.Received(), o.answer = a.Answer(), o.faults = a.Faults();
  o.exception = a.Exception();
  return o;
}
// Fed both ways: the same outcome either way.
inline Outcome AssembleBothWays(modbus::Mode mode, const Frame& request, const std::vector<Frame>& chunks) {
  Outcome whole = Assemble(mode, request, chunks);
  EXPECT_EQ(Assemble(mode, request, chunks, true), whole);
  return whole;
}

}  // namespace testbytes
