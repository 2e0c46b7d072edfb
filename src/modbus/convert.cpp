// Byte, number and text conversions.
#include "modbus/convert.h"

#include <bit>
#include <cfloat>
#include <cmath>
#include <string>

#include "common/module1.h"
#include "common/number_text.h"

namespace modbus {

namespace {

// The value of a hexadecimal digit in either case, or -1.
int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Removes blanks (space characters only) from both ends.
std::string_view TrimSpaces(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

}  // namespace

// Number of UTF-8 code points (bytes that are not continuation bytes).
size_t CodePointCount(std::string_view s) {
  size_t n = 0;
  for (unsigned char c : s) {
    if ((c & 0xC0) != 0x80) ++n;
  }
  return n;
}

int32_t Uint16(uint8_t hi, uint8_t lo) { return static_cast<int32_t>(hi) * 256 + lo; }

uint8_t gethi(int32_t x) { return static_cast<uint8_t>((static_cast<uint32_t>(x) >> 8) & 0xFFu); }

uint8_t getlo(int32_t x) { return static_cast<uint8_t>(static_cast<uint32_t>(x) & 0xFFu); }

Frame LongToByteArray(int32_t lValue, int16_t& byteCount) {
  if (lValue == 0) return Frame{0x00};
  const uint32_t u = static_cast<uint32_t>(lValue);
  const std::array<uint8_t, 4> abcd = {static_cast<uint8_t>(u >> 24), static_cast<uint8_t>(u >> 16),
                                       static_cast<uint8_t>(u >> 8), static_cast<uint8_t>(u)};
  if (byteCount < 0) {
    int leadingZeros = 0;
    while (leadingZeros < 3 && abcd[static_cast<size_t>(leadingZeros)] == 0) ++leadingZeros;
    byteCount = static_cast<int16_t>(4 - leadingZeros);
  }
  Frame out;
  if (byteCount == 0) return out;
  const size_t count = static_cast<size_t>(byteCount);
  out.reserve(count);
  if (count > 4) out.assign(count - 4, 0x00);
  const size_t first = count >= 4 ? 0 : 4 - count;
  out.insert(out.end(), abcd.begin() + static_cast<std::ptrdiff_t>(first), abcd.end());
  return out;
}

Frame LongToByteArray(int32_t lValue) {
  int16_t byteCount = -1;
  return LongToByteArray(lValue, byteCount);
}

std::array<uint8_t, 4> BytesOfLong(double value) {
  std::array<uint8_t, 4> out{0, 0, 0, 0};
  // The negated form also rejects NaN.
  if (!(value >= 0.0 && value <= 4294967295.0)) return out;
  // The whole part, fraction dropped; in range, so the conversion is exact.
  uint32_t u = static_cast<uint32_t>(std::trunc(value));
  for (auto& b : out) {
    b = static_cast<uint8_t>(u & 0xFFu);
    u >>= 8;
  }
  return out;
}

std::array<uint8_t, 4> BytesOfFloat(double dblValue) {
  std::array<uint8_t, 4> out{0, 0, 0, 0};
  // Below this magnitude a double rounds to a finite single (round to nearest,
  // ties to even: FLT_MAX + half an ulp rounds up to infinity).
  constexpr double kOverflow = 0x1.ffffffp127;
  if (!(std::fabs(dblValue) < kOverflow)) return out;  // also NaN and infinities
  float f = 0.0f;
  if (std::fabs(dblValue) > static_cast<double>(FLT_MAX)) {
    f = dblValue > 0 ? FLT_MAX : -FLT_MAX;  // rounds down to the largest single
  } else {
    f = static_cast<float>(dblValue);
  }
  uint32_t u = std::bit_cast<uint32_t>(f);
  for (auto& b : out) {
    b = static_cast<uint8_t>(u & 0xFFu);
    u >>= 8;
  }
  return out;
}

int32_t StringToLong(std::string_view strValue) {
  const std::string t = TrimBlank(strValue);
  if (t.empty()) return 0;
  if (t.size() >= 2 && t[0] == '0' && t[1] == 'x') {
    uint32_t u = 0;  // keeps the low 32 bits of a longer number
    for (size_t i = 2; i < t.size(); ++i) {
      const int d = HexDigitValue(t[i]);
      if (d < 0) break;
      u = (u << 4) | static_cast<uint32_t>(d);
    }
    return static_cast<int32_t>(u);
  }
  return ParseLong(t).value_or(0);
}

double StringToDouble(std::string_view strValue) {
  const std::string_view t = TrimSpaces(strValue);
  if (t.empty()) return 0.0;
  std::string cleaned;
  cleaned.reserve(t.size() + 2);
  bool separator = false;
  bool digit = false;
  for (size_t i = 0; i < t.size(); ++i) {
    const char c = t[i];
    if (c >= '0' && c <= '9') {
      cleaned.push_back(c);
      digit = true;
    } else if (c == '.' || c == ',') {
      if (!separator) {
        // A separator without a digit before it: "0" keeps the text a number
        // for any decimal grammar (".5" is 0.5, "-,5" is -0.5).
        if (!digit) cleaned.push_back('0');
        cleaned.push_back('.');
        separator = true;
      }
    } else if (c == '-' && i == 0) {
      cleaned.push_back('-');
    }
  }
  // Only a minus sign and/or a point: not a number.
  if (!digit) return 0.0;
  // "5." is 5: complete the fraction so that no grammar can refuse it.
  if (cleaned.back() == '.') cleaned.push_back('0');
  return ParseNumber(cleaned).value_or(0.0);
}

bool IsHex(std::string_view strValue) {
  const std::string_view t = TrimSpaces(strValue);
  return t.size() >= 2 && t[0] == '0' && t[1] == 'x';
}

Frame HexToBytes(std::string_view HexString) {
  Frame out;
  if (CodePointCount(HexString) > kMaxHexTextChars) return out;
  int current = 0;
  int digits = 0;  // digits in the current byte, 0 or 1
  for (char c : HexString) {
    const int d = HexDigitValue(c);
    if (d >= 0) {
      current = current * 16 + d;
      if (++digits == 2) {
        out.push_back(static_cast<uint8_t>(current));
        current = 0;
        digits = 0;
      }
    } else if (digits == 1) {
      out.push_back(static_cast<uint8_t>(current));
      current = 0;
      digits = 0;
    }
  }
  if (digits == 1) out.push_back(static_cast<uint8_t>(current));
  return out;
}

bool IsValidAddressText(std::string_view text) {
  const std::string t = TrimBlank(text);
  if (t.empty()) return false;
  if (t.size() >= 2 && t[0] == '0' && t[1] == 'x') {
    if (t.size() == 2) return false;
    for (size_t i = 2; i < t.size(); ++i) {
      if (HexDigitValue(t[i]) < 0) return false;
    }
    return true;
  }
  // A decimal address is digits only: a sign, a fraction or an exponent is
  // not an address an operator types ("1E3" is far more likely meant as
  // hexadecimal than as 1000).
  for (char c : t)
    if (c < '0' || c > '9') return false;
  return true;
}

}  // namespace modbus
