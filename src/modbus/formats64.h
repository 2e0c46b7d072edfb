#pragma once
// The 64-bit register formats (four registers a value) and the HEX, BINARY
// and ASCII views of one register.
//
// Letters A..H are the eight bytes of the 64-bit value, A the most
// significant. A format's suffix lists them in wire order: its first letter
// is the first register's high byte, its second that register's low byte,
// and so on. This is the convention of the 32-bit formats (FLOAT_CDAB sends
// C D A B), widened to four registers:
//   ABCDEFGH  registers and bytes most significant first (A B C D E F G H);
//   GHEFCDAB  registers least significant first, bytes in a register as usual;
//   BADCFEHG  registers most significant first, the two bytes of each swapped;
//   HGFEDCBA  everything least significant first.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace modbus {

enum class Kind64 : uint8_t { Int64, Uint64, Double };
enum class WordOrder64 : uint8_t { ABCDEFGH, GHEFCDAB, BADCFEHG, HGFEDCBA };

struct Format64 {
  Kind64 kind = Kind64::Int64;
  WordOrder64 order = WordOrder64::ABCDEFGH;
  bool operator==(const Format64&) const = default;
};

enum class RegisterView : uint8_t { Hex, Binary, Ascii };

// The names of the formats added after the fourteen 16- and 32-bit ones, in
// the order they follow them in the format list: the twelve 64-bit formats
// (kind-major, orders as in WordOrder64), then HEX, BINARY and ASCII.
inline constexpr std::array<std::string_view, 15> kWideFormatNames = {"INT64_ABCDEFGH",
                                                                      "INT64_GHEFCDAB",
                                                                      "INT64_BADCFEHG",
                                                                      "INT64_HGFEDCBA",
                                                                      "UINT64_ABCDEFGH",
                                                                      "UINT64_GHEFCDAB",
                                                                      "UINT64_BADCFEHG",
                                                                      "UINT64_HGFEDCBA",
                                                                      "DOUBLE_ABCDEFGH",
                                                                      "DOUBLE_GHEFCDAB",
                                                                      "DOUBLE_BADCFEHG",
                                                                      "DOUBLE_HGFEDCBA",
                                                                      "HEX",
                                                                      "BINARY",
                                                                      "ASCII"};

// The 64-bit format of a name in kWideFormatNames, or nothing.
std::optional<Format64> Format64Named(std::string_view name);
// The register view of "HEX", "BINARY" or "ASCII", or nothing.
std::optional<RegisterView> RegisterViewNamed(std::string_view name);
// The name of a format ("DOUBLE_GHEFCDAB").
std::string_view NameOf(Format64 f);

using Wire8 = std::array<uint8_t, 8>;

// The value's bit pattern (A the most significant byte) from the eight
// register bytes in wire order, and back.
uint64_t BitsOfWire(WordOrder64 order, std::span<const uint8_t, 8> wire);
Wire8 WireOfBits(WordOrder64 order, uint64_t bits);

// The shortest text that reads back as exactly `v` (std::to_chars), with
// upper-case "E" in exponents and `decimalSeparator` for the point: "0.1",
// "1E+16", "5E-324", "-0". NaN is "NaN" (sign and payload are not shown),
// the infinities are "Inf" and "-Inf".
std::string DoubleText(double v, std::string_view decimalSeparator = ".");

// The value of eight register bytes in wire order as text: integers exact to
// the last digit, doubles as DoubleText.
std::string Decode64(Format64 f, std::span<const uint8_t, 8> wire, std::string_view decimalSeparator = ".");

// The register bytes for a typed value, or the refusal. Integers: an optional
// sign and decimal digits, or "0x" and 1 to 16 hex digits giving the bit
// pattern; no rounding, nothing outside the type's range. Doubles: a decimal
// number with "." or "," as the point and an optional exponent, or NaN, Inf,
// -Inf (any case); rounded to the nearest double. Blanks around are ignored.
struct Encoded64 {
  Wire8 wire{};
  std::string refusal;
  bool Ok() const { return refusal.empty(); }
};
Encoded64 Encode64(Format64 f, std::string_view text);

// One register (hi, lo) as the view shows it: HEX "3F80", BINARY
// "00111111 10000000", ASCII two characters (a byte outside printable ASCII
// as ".").
std::string RegisterViewText(RegisterView v, uint8_t hi, uint8_t lo);

// A typed register for a write in a view: HEX 1 to 4 hex digits (an optional
// "0x" first), BINARY 1 to 16 binary digits (blanks between them allowed),
// ASCII one or two characters of printable ASCII (one: the low byte is 0).
struct EncodedRegister {
  std::array<uint8_t, 2> bytes{};
  std::string refusal;
  bool Ok() const { return refusal.empty(); }
};
EncodedRegister EncodeRegisterView(RegisterView v, std::string_view text);

}  // namespace modbus
