// Register value formats.
#include "modbus/formats.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "modbus/convert.h"

namespace modbus {

std::string_view FormatName(int formatIndex) {
  if (formatIndex >= 0 && formatIndex < kFormatCount) return kFormatNames[static_cast<size_t>(formatIndex)];
  if (formatIndex >= kFormatCount && formatIndex < kAllFormatCount) {
    return kWideFormatNames[static_cast<size_t>(formatIndex - kFormatCount)];
  }
  return {};
}

std::optional<Format64> Format64Of(Format f) {
  if (!Is64Bit(f)) return std::nullopt;
  const int i = static_cast<int>(f) - static_cast<int>(Format::Int64Abcdefgh);
  return Format64{static_cast<Kind64>(i / 4), static_cast<WordOrder64>(i % 4)};
}

std::optional<RegisterView> RegisterViewOf(Format f) {
  if (!IsRegisterView(f)) return std::nullopt;
  return static_cast<RegisterView>(static_cast<int>(f) - static_cast<int>(Format::Hex));
}

std::string WideValueText(Format f, const uint8_t* wire, size_t size, std::string_view decimalSeparator) {
  const std::string_view sep = decimalSeparator.empty() ? std::string_view(".") : decimalSeparator;
  if (wire == nullptr || size < static_cast<size_t>(2 * RegistersPerValue(f))) return {};
  switch (KindOf(f)) {
    case ValueKind::Int16: {
      const int32_t w = wire[0] * 256 + wire[1];
      return std::to_string(w > 32767 ? w - 65536 : w);
    }
    case ValueKind::Uint16:
      return std::to_string(wire[0] * 256 + wire[1]);
    case ValueKind::Hex:
    case ValueKind::Binary:
    case ValueKind::Ascii:
      return RegisterViewText(*RegisterViewOf(f), wire[0], wire[1]);
    case ValueKind::Int64:
    case ValueKind::Uint64:
    case ValueKind::Double:
      return Decode64(*Format64Of(f), std::span<const uint8_t, 8>(wire, 8), sep);
    default:
      return {};
  }
}

std::string_view FormatTag(int formatIndex) {
  switch (KindOf(static_cast<Format>(formatIndex))) {
    case ValueKind::Int16:
      return "I16";
    case ValueKind::Uint16:
      return "U16";
    case ValueKind::Float:
      return "FLT";
    case ValueKind::Int32:
      return "I32";
    case ValueKind::Uint32:
      return "U32";
    case ValueKind::Int64:
      return "I64";
    case ValueKind::Uint64:
      return "U64";
    case ValueKind::Double:
      return "DBL";
    case ValueKind::Hex:
      return "HEX";
    case ValueKind::Binary:
      return "BIN";
    case ValueKind::Ascii:
      return "ASC";
    case ValueKind::None:
      break;
  }
  return {};
}

bool Format2B(int formatIndex) { return IsOneRegister(static_cast<Format>(formatIndex)); }

namespace {

int64_t BitsOf(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  return static_cast<int64_t>(a) * 16777216 + static_cast<int64_t>(b) * 65536 + static_cast<int64_t>(c) * 256 + d;
}

}  // namespace

int32_t LongOfBytes(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  const int64_t u = BitsOf(a, b, c, d);
  return static_cast<int32_t>(a >= 128 ? u - 4294967296LL : u);
}

double UlongOfBytes(uint8_t a, uint8_t b, uint8_t c, uint8_t d) { return static_cast<double>(BitsOf(a, b, c, d)); }

float FloatOfBytes(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  const int64_t u = BitsOf(a, b, c, d);
  const bool negative = u >= 2147483648LL;
  const int e = static_cast<int>((u >> 23) & 0xFF);
  const int64_t f = u & 0x7FFFFF;
  double magnitude = 0.0;
  if (e == 0) {
    magnitude = std::ldexp(static_cast<double>(f), -149);
  } else if (e <= 254) {
    magnitude = std::ldexp(1.0 + static_cast<double>(f) / 8388608.0, e - 127);
  } else if (f == 0) {
    magnitude = std::numeric_limits<double>::infinity();
  } else {
    return std::numeric_limits<float>::quiet_NaN();
  }
  // Every magnitude above is a single-precision value, so the conversion is exact.
  return static_cast<float>(negative ? -magnitude : magnitude);
}

double TO_FORMAT_INT32_ABCD(uint8_t d0, uint8_t d1, uint8_t d2, uint8_t d3) { return LongOfBytes(d0, d1, d2, d3); }
double TO_FORMAT_INT32_CDAB(uint8_t d0, uint8_t d1, uint8_t d2, uint8_t d3) { return LongOfBytes(d2, d3, d0, d1); }
double TO_FORMAT_INT32_BADC(uint8_t d0, uint8_t d1, uint8_t d2, uint8_t d3) { return LongOfBytes(d1, d0, d3, d2); }
double TO_FORMAT_INT32_DCBA(uint8_t d0, uint8_t d1, uint8_t d2, uint8_t d3) { return LongOfBytes(d3, d2, d1, d0); }
double TO_FORMAT_UINT32_ABCD(uint8_t d0, uint8_t d1, uint8_t d2, uint8_t d3) { return UlongOfBytes(d0, d1, d2, d3); }
double TO_FORMAT_UINT32_CDAB(uint8_t d0, uint8_t d1, uint8_t d2, uint8_t d3) { return UlongOfBytes(d2, d3, d0, d1); }
double TO_FORMAT_UINT32_BADC(uint8_t d0, uint8_t d1, uint8_t d2, uint8_t d3) { return UlongOfBytes(d1, d0, d3, d2); }
double TO_FORMAT_UINT32_DCBA(uint8_t d0, uint8_t d1, uint8_t d2, uint8_t d3) { return UlongOfBytes(d3, d2, d1, d0); }
double TO_FORMAT_FLOAT_ABCD(uint8_t d0, uint8_t d1, uint8_t d2, uint8_t d3) { return FloatOfBytes(d0, d1, d2, d3); }
double TO_FORMAT_FLOAT_CDAB(uint8_t d0, uint8_t d1, uint8_t d2, uint8_t d3) { return FloatOfBytes(d2, d3, d0, d1); }
double TO_FORMAT_FLOAT_BADC(uint8_t d0, uint8_t d1, uint8_t d2, uint8_t d3) { return FloatOfBytes(d1, d0, d3, d2); }
double TO_FORMAT_FLOAT_DCBA(uint8_t d0, uint8_t d1, uint8_t d2, uint8_t d3) { return FloatOfBytes(d3, d2, d1, d0); }

double DecodeFormat32(int formatIndex, uint8_t d0, uint8_t d1, uint8_t d2, uint8_t d3) {
  using Decoder = double (*)(uint8_t, uint8_t, uint8_t, uint8_t);
  static constexpr Decoder kDecoders[12] = {TO_FORMAT_FLOAT_ABCD,  TO_FORMAT_FLOAT_CDAB,  TO_FORMAT_FLOAT_BADC,
                                            TO_FORMAT_FLOAT_DCBA,  TO_FORMAT_INT32_ABCD,  TO_FORMAT_INT32_CDAB,
                                            TO_FORMAT_INT32_BADC,  TO_FORMAT_INT32_DCBA,  TO_FORMAT_UINT32_ABCD,
                                            TO_FORMAT_UINT32_CDAB, TO_FORMAT_UINT32_BADC, TO_FORMAT_UINT32_DCBA};
  if (!Is32Bit(static_cast<Format>(formatIndex))) return 0.0;
  return kDecoders[formatIndex - 2](d0, d1, d2, d3);
}

std::string FormatValueText(double v, const std::string& decimalSeparator) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v > 0 ? "Inf" : "-Inf";
  if (v == 0.0) return "0";
  const std::string sep = decimalSeparator.empty() ? std::string(".") : decimalSeparator;

  // 15 significant digits, correctly rounded, independent of the locale:
  // "[-]d.dddddddddddddde[+-]xx".
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, 14);
  const std::string_view sci(buf, static_cast<size_t>(res.ptr - buf));
  const bool negative = sci.front() == '-';
  const size_t ePos = sci.find('e');
  std::string digits;  // the 15 significant digits
  for (char c : sci.substr(0, ePos)) {
    if (c >= '0' && c <= '9') digits.push_back(c);
  }
  int exponent = 0;
  {
    std::string_view ex = sci.substr(ePos + 1);
    const bool expNegative = ex.front() == '-';
    if (ex.front() == '+' || ex.front() == '-') ex.remove_prefix(1);
    std::from_chars(ex.data(), ex.data() + ex.size(), exponent);
    if (expNegative) exponent = -exponent;
  }
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  std::string out;
  if (negative) out.push_back('-');
  if (exponent >= 15 || exponent < -4) {
    out.push_back(digits[0]);
    if (digits.size() > 1) {
      out += sep;
      out.append(digits, 1, std::string::npos);
    }
    out += exponent < 0 ? "E-" : "E+";
    const int mag = exponent < 0 ? -exponent : exponent;
    if (mag < 10) out.push_back('0');
    out += std::to_string(mag);
  } else if (exponent < 0) {
    out += '0';
    out += sep;
    out.append(static_cast<size_t>(-exponent - 1), '0');
    out += digits;
  } else {
    const size_t whole = static_cast<size_t>(exponent) + 1;
    if (digits.size() <= whole) {
      out += digits;
      out.append(whole - digits.size(), '0');
    } else {
      out.append(digits, 0, whole);
      out += sep;
      out.append(digits, whole, std::string::npos);
    }
  }
  return out;
}

std::optional<std::array<uint8_t, 4>> EncodeValue32(Format format, double value) {
  switch (KindOf(format)) {
    case ValueKind::Float:
      return BytesOfFloat(value);
    case ValueKind::Uint32:
      return BytesOfLong(value);
    case ValueKind::Int32:
      if (value >= 0) return BytesOfLong(value);
      if (value >= -2147483648.0) return BytesOfLong(value + 4294967296.0);
      return std::array<uint8_t, 4>{0, 0, 0, 0};
    default:
      return std::nullopt;
  }
}

std::pair<int32_t, int32_t> RegistersOf(Format format, const std::array<uint8_t, 4>& bytes) {
  const uint8_t A = bytes[3], B = bytes[2], C = bytes[1], D = bytes[0];
  switch (OrderOf(format)) {
    case WordOrder::Abcd:
      return {Uint16(A, B), Uint16(C, D)};
    case WordOrder::Cdab:
      return {Uint16(C, D), Uint16(A, B)};
    case WordOrder::Badc:
      return {Uint16(B, A), Uint16(D, C)};
    case WordOrder::Dcba:
      break;
  }
  return {Uint16(D, C), Uint16(B, A)};
}

}  // namespace modbus
