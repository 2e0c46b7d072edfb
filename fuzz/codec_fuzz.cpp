// Fuzz target for the codec and the register formats: arbitrary text to the
// text conversions, arbitrary bytes to the decoders and the CRC. Besides the
// sanitizers, a few properties that must hold for every input are checked;
// a violation traps, and libFuzzer reports it as a crash.
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "common/number_text.h"
#include "modbus/address_notation.h"
#include "modbus/convert.h"
#include "modbus/crc16.h"
#include "modbus/formats.h"

using namespace modbus;

namespace {

void Require(bool ok) {
  if (!ok) __builtin_trap();
}

// The value text parses back to the value within 15 significant digits.
void CheckValueText(double v) {
  const std::string dot = FormatValueText(v, ".");
  const std::string comma = FormatValueText(v, ",");
  Require(!dot.empty() && dot.size() <= 24);
  if (std::isnan(v)) {
    Require(dot == "NaN");
    return;
  }
  if (std::isinf(v)) {
    Require(dot == (v > 0 ? "Inf" : "-Inf"));
    return;
  }
  Require(dot.find(',') == std::string::npos);
  std::string fromComma = comma;
  for (char& c : fromComma) {
    if (c == ',') c = '.';
  }
  Require(fromComma == dot);
  // Near the largest double the 15-digit text rounds beyond it
  // (1.79769313486232E+308) and cannot be read back; only its form is checked.
  if (std::fabs(v) > 1.7976931348623e308) {
    Require(dot.find("E+308") != std::string::npos);
    return;
  }
  const auto back = ParseNumber(dot);
  Require(back.has_value());
  // Half a unit in the 15th digit, plus the rounding of the text back to a double.
  const double err = std::fabs(*back - v);
  const double ulp = std::fabs(std::nextafter(v, 0.0) - v);
  Require(err <= std::fabs(v) * 5e-15 + 2 * ulp + std::numeric_limits<double>::denorm_min());
}

void FuzzText(std::string_view text) {
  (void)StringToLong(text);
  const double d = StringToDouble(text);
  Require(std::isfinite(d));
  (void)IsHex(text);
  (void)IsValidAddressText(text);
  const Frame bytes = HexToBytes(text);
  Require(bytes.size() <= text.size());
  (void)BytesOfFloat(d);
  (void)BytesOfLong(d);
  CheckValueText(d);
  // Addresses typed in every notation: an accepted one is a 16-bit address
  // and is written back as text that reads as the same address.
  for (int n = 0; n < kAddressNotationCount; ++n) {
    const AddressNotation notation = AddressNotationOf(n);
    const TypedAddress a = ParseAddress(notation, text);
    if (!a.Ok()) continue;
    Require(a.protocol >= 0 && a.protocol <= 65535);
    Require(notation == AddressNotation::Reference || !a.table);
    const TypedAddress back = ParseAddress(notation, AddressText(notation, a.table, a.protocol, false));
    Require(back.Ok() && back.protocol == a.protocol && back.table == a.table);
  }
}

void FuzzBytes(const uint8_t* data, size_t size) {
  for (size_t i = 0; i + 4 <= size && i < 64; ++i) {
    const uint8_t d0 = data[i], d1 = data[i + 1], d2 = data[i + 2], d3 = data[i + 3];
    for (int format = 0; format < 16; ++format) {
      const double v = DecodeFormat32(format, d0, d1, d2, d3);
      CheckValueText(v);
    }
    // Every format of the list reads the bytes (a 64-bit one reads eight).
    if (i + 8 <= size) {
      for (int format = 0; format < kAllFormatCount; ++format) {
        const auto f = static_cast<Format>(format);
        const std::string t = WideValueText(f, data + i, 8, ",");
        Require(Is32Bit(f) ? t.empty() : !t.empty());
      }
    }
    // The float decoder agrees with the bit pattern.
    const uint32_t u = (uint32_t{d0} << 24) | (uint32_t{d1} << 16) | (uint32_t{d2} << 8) | d3;
    const float want = std::bit_cast<float>(u);
    const float got = FloatOfBytes(d0, d1, d2, d3);
    Require(std::isnan(want) ? std::isnan(got) : std::bit_cast<uint32_t>(got) == u);
    // Encoding a decoded finite float gives the same bytes back.
    if (std::isfinite(want)) {
      const auto b = BytesOfFloat(static_cast<double>(got));
      Require(b[0] == d3 && b[1] == d2 && b[2] == d1 && b[3] == d0);
    }
    const auto l = BytesOfLong(UlongOfBytes(d0, d1, d2, d3));
    Require(l[0] == d3 && l[1] == d2 && l[2] == d1 && l[3] == d0);
    int16_t count = static_cast<int16_t>(static_cast<int8_t>(d0));
    const int16_t before = count;
    const Frame f = LongToByteArray(LongOfBytes(d0, d1, d2, d3), count);
    Require(before < 0 ? (count >= 1 && count <= 4) : count == before);
  }
  // CRC: append over the data, then the frame checks.
  Frame frame(data, data + size);
  frame.resize(size + 2);
  Require(AppendCRC(frame, static_cast<int32_t>(size)) == 2);
  std::array<uint8_t, 2> expected{};
  Require(CheckCRC(frame, expected));
  Require(expected[0] == frame[size] && expected[1] == frame[size + 1]);
  // Arbitrary n (including no room) never writes outside the frame.
  if (size >= 1) {
    Frame raw(data, data + size);
    const int32_t n = static_cast<int32_t>(static_cast<int8_t>(data[0]));
    const int16_t r = AppendCRC(raw, n);
    Require(r == 0 || r == 2);
    (void)CheckCRC(raw, expected);
  }
  // Arbitrary doubles, including NaN payloads and subnormals.
  for (size_t i = 0; i + 8 <= size && i < 64; i += 8) {
    double v = 0;
    std::memcpy(&v, data + i, sizeof v);
    CheckValueText(v);
    (void)BytesOfFloat(v);
    (void)BytesOfLong(v);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  FuzzText(std::string_view(reinterpret_cast<const char*>(data), size));
  FuzzBytes(data, size);
  return 0;
}
