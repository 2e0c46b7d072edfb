#pragma once
// The value types of --type and the conversion of typed values into the
// register words that go on the wire.
//
// Byte order: a type's suffix lists the value's bytes in the order they stand
// on the wire, A being the most significant byte. FLOAT_CDAB puts C D in the
// first register and A B in the second; INT64_GHEFCDAB puts G H, E F, C D,
// A B in four registers. Each register is sent high byte first.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

enum class ValueType {
  Int16,
  Uint16,
  FloatAbcd,
  FloatCdab,
  FloatBadc,
  FloatDcba,
  Int32Abcd,
  Int32Cdab,
  Int32Badc,
  Int32Dcba,
  Uint32Abcd,
  Uint32Cdab,
  Uint32Badc,
  Uint32Dcba,
  Int64Abcdefgh,
  Int64Ghefcdab,
  Int64Badcfehg,
  Int64Hgfedcba,
  Uint64Abcdefgh,
  Uint64Ghefcdab,
  Uint64Badcfehg,
  Uint64Hgfedcba,
  DoubleAbcdefgh,
  DoubleGhefcdab,
  DoubleBadcfehg,
  DoubleHgfedcba,
  Hex,
  Binary,
  Ascii,
};

inline constexpr int kValueTypeCount = 29;

// The name as the window lists it ("INT16", "FLOAT_CDAB", "UINT64_GHEFCDAB",
// "HEX", ...).
std::string_view ValueTypeName(ValueType type);
// The type of a name, in any letter case; nothing for an unknown name.
std::optional<ValueType> ValueTypeOfName(std::string_view name);
// Registers one value takes: 1, 2 or 4 (ASCII: 1, two characters a register).
int RegistersPerValue(ValueType type);

// The registers to write for the comma-separated `values` typed in `type`
// (ASCII: the whole text, two characters a register, the last one padded with
// a zero byte). Integers in decimal within the type's range; floats and
// doubles in decimal or exponent notation, or nan, inf, -inf; "0x" followed by
// hexadecimal digits gives the value's bit pattern for every type (0xFFFF as
// INT16 is -1, 0x3F800000 as FLOAT_ABCD is 1); HEX takes hexadecimal with or
// without "0x", BINARY up to 16 binary digits with or without "0b".
struct EncodedValues {
  std::vector<uint16_t> registers;
  // Empty when every value converted; otherwise why the first one did not,
  // for example "'70000' is not an INT16 (-32768 to 32767)".
  std::string error;
};
EncodedValues EncodeValues(ValueType type, std::string_view values);

// Coil states typed as 0 and 1 separated by commas.
struct EncodedCoils {
  std::vector<uint8_t> coils;
  std::string error;
};
EncodedCoils EncodeCoils(std::string_view values);

// A whole number in decimal or "0x" hexadecimal within 0..max; nothing for
// anything else (a sign, blanks inside, a fraction, too large).
std::optional<uint32_t> ParseUnsigned(std::string_view text, uint32_t max);

}  // namespace cli
