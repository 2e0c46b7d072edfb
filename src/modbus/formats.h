#pragma once
// Register value formats: the fourteen display formats, the
// decoders of 32-bit values from register bytes, and the text of a value.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "modbus/formats64.h"
#include "modbus/types.h"

namespace modbus {

// The names of the display formats in the order of cmbFormat (index 0..13;
// the settings store the index, so the order is fixed).
inline constexpr std::array<std::string_view, 14> kFormatNames = {
    "INT16",      "UINT16",     "FLOAT_ABCD", "FLOAT_CDAB",  "FLOAT_BADC",  "FLOAT_DCBA",  "INT32_ABCD",
    "INT32_CDAB", "INT32_BADC", "INT32_DCBA", "UINT32_ABCD", "UINT32_CDAB", "UINT32_BADC", "UINT32_DCBA"};

// The name of any format of the list (index 0..28: the fourteen above, then
// the wide ones of kWideFormatNames); empty for an index outside it.
std::string_view FormatName(int formatIndex);

// The tag of a format in the response view: "I16", "U16", "FLT", "I32",
// "U32", "I64", "U64", "DBL", "HEX", "BIN" or "ASC"; empty for an index
// outside the list.
std::string_view FormatTag(int formatIndex);

// True when a value of the format takes one register (INT16, UINT16 and the
// HEX, BINARY and ASCII views).
bool Format2B(int formatIndex);

// The 64-bit format of a list index (14..25), or nothing.
std::optional<Format64> Format64Of(Format f);
// The register view of a list index (26..28), or nothing.
std::optional<RegisterView> RegisterViewOf(Format f);

// The text of one value of a 16-bit format, a register view or a 64-bit
// format, from its registers' bytes in wire order (2 or 8 bytes as
// RegistersPerValue says); the 32-bit formats go through DecodeFormat32 and
// FormatValueText. Empty for a format it does not cover or too few bytes.
std::string WideValueText(Format f, const uint8_t* wire, size_t size, std::string_view decimalSeparator);

// A, B, C, D: the bytes of a 32-bit value, most significant first.
// The signed value (two's complement).
int32_t LongOfBytes(uint8_t a, uint8_t b, uint8_t c, uint8_t d);
// The unsigned value 0..4294967295.
double UlongOfBytes(uint8_t a, uint8_t b, uint8_t c, uint8_t d);
// The IEEE-754 single of the bit pattern, computed arithmetically from the
// bits. Exponent 255: +/-infinity for a zero fraction, NaN otherwise.
float FloatOfBytes(uint8_t a, uint8_t b, uint8_t c, uint8_t d);

// The decoders: d0..d3 are the register bytes in wire order (d0 the first
// register's high byte), mapped to A..D by the suffix.
double TO_FORMAT_INT32_ABCD(uint8_t d0, uint8_t d1, uint8_t d2, uint8_t d3);
double TO_FORMAT_INT32_CDAB(uint8_t d0, uint8_t d1, uint8_t d2, uint8_t d3);
double TO_FORMAT_INT32_BADC(uint8_t d0, uint8_t d1, uint8_t d2, uint8_t d3);
double TO_FORMAT_INT32_DCBA(uint8_t d0, uint8_t d1, uint8_t d2, uint8_t d3);
double TO_FORMAT_UINT32_ABCD(uint8_t d0, uint8_t d1, uint8_t d2, uint8_t d3);
double TO_FORMAT_UINT32_CDAB(uint8_t d0, uint8_t d1, uint8_t d2, uint8_t d3);
double TO_FORMAT_UINT32_BADC(uint8_t d0, uint8_t d1, uint8_t d2, uint8_t d3);
double TO_FORMAT_UINT32_DCBA(uint8_t d0, uint8_t d1, uint8_t d2, uint8_t d3);
double TO_FORMAT_FLOAT_ABCD(uint8_t d0, uint8_t d1, uint8_t d2, uint8_t d3);
double TO_FORMAT_FLOAT_CDAB(uint8_t d0, uint8_t d1, uint8_t d2, uint8_t d3);
double TO_FORMAT_FLOAT_BADC(uint8_t d0, uint8_t d1, uint8_t d2, uint8_t d3);
double TO_FORMAT_FLOAT_DCBA(uint8_t d0, uint8_t d1, uint8_t d2, uint8_t d3);

// The decoder of a 32-bit format index (2..13) applied to d0..d3; 0 for a
// 16-bit or unknown index.
double DecodeFormat32(int formatIndex, uint8_t d0, uint8_t d1, uint8_t d2, uint8_t d3);

// The text of a 32-bit format's value, like a classic desktop number-to-text
// conversion: rounded to at most 15 significant digits, no trailing zeros, no
// thousands separators, `decimalSeparator` between whole part and fraction
// ("." when it is empty). Exponent notation exactly when the decimal exponent
// of the rounded value is >= 15 or < -4: mantissa, "E", sign and at least two
// exponent digits (1E+15, 1.5E-05, 1.40129846432482E-45). So 100000000000000
// and 0.0001 are written out, 4294967295 shows all its digits. Zero (either
// sign) is "0"; NaN is "NaN"; the infinities are "Inf" and "-Inf".
std::string FormatValueText(double v, const std::string& decimalSeparator);

// The four bytes (index 0 = D, the least significant .. 3 = A) of a value
// written in a 32-bit format: floats rounded to single precision, unsigned
// whole parts, signed ones as their two's complement (zero below the Long
// range). Nothing for a format that is not 32-bit.
std::optional<std::array<uint8_t, 4>> EncodeValue32(Format format, double value);
// The two registers (first, second) that carry those bytes in the format's
// word order.
std::pair<int32_t, int32_t> RegistersOf(Format format, const std::array<uint8_t, 4>& bytes);

}  // namespace modbus
