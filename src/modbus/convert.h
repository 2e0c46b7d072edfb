#pragma once
// Byte, number and text conversions. Pure functions without
// state; none of them throws or reports an error: every failure ends in a
// defined result (0, four zero bytes, an empty frame or false).
#include <array>
#include <cstdint>
#include <string_view>

#include "common/bytes.h"

namespace modbus {

// hi * 256 + lo, 0..65535.
int32_t Uint16(uint8_t hi, uint8_t lo);
// Bits 8..15 and bits 0..7 of x (only the low 16 bits of x count; -1 gives FF).
uint8_t gethi(int32_t x);
uint8_t getlo(int32_t x);

// The bytes of lValue, most significant first.
// - lValue 0 gives the single byte 00 whatever byteCount is (byteCount untouched).
// - byteCount < 0 is replaced (written back) by the minimal number of bytes (1..4).
// - byteCount 0 gives an empty frame; byteCount > 4 puts byteCount - 4 zero bytes first.
// A negative lValue (no caller passes one) is taken as its 32-bit two's complement.
Frame LongToByteArray(int32_t lValue, int16_t& byteCount);
// The same with the optional byteCount left out: the minimal number of bytes.
Frame LongToByteArray(int32_t lValue);

// The four bytes of the whole part of value (fraction dropped, never rounded),
// index 0 the least significant. All zero outside 0..4294967295 (and for NaN).
std::array<uint8_t, 4> BytesOfLong(double value);

// The four bytes of dblValue rounded to single precision (to nearest), index 0
// the least significant. All zero when the magnitude overflows single
// precision (and for NaN and infinities).
std::array<uint8_t, 4> BytesOfFloat(double dblValue);

// An address or a whole number as typed: trimmed of blanks, CR and LF; "0x"
// (lower-case x) and hexadecimal digits up to the first other character (low
// 32 bits kept, so the low 16 bits are always those of the typed number);
// otherwise a locale-independent decimal number rounded half to even. Text that
// is not a number, or a number outside the Long range, gives 0.
int32_t StringToLong(std::string_view strValue);

// A decimal value as typed: trimmed of blanks, then cleaned (digits kept, the
// first "." or "," becomes the decimal point and later ones are dropped, "-"
// kept only as the very first character, everything else dropped) and
// converted independent of the locale. Nothing convertible, or beyond the
// range of a double, gives 0.
double StringToDouble(std::string_view strValue);

// True when the text, trimmed of blanks, begins with "0x" (lower-case x).
bool IsHex(std::string_view strValue);

// Raw hexadecimal bytes: pairs of hex digits (either case) form bytes, any
// other character ends a byte that holds one digit (or is skipped). A text of
// more than 32767 characters (UTF-8 code points) gives an empty frame.
Frame HexToBytes(std::string_view HexString);
// The longest raw hexadecimal text HexToBytes takes, in UTF-8 code points.
inline constexpr size_t kMaxHexTextChars = 32767;
// Number of UTF-8 code points of the text.
size_t CodePointCount(std::string_view s);

// The value check of the address field (txtAddr) and of composition: after
// trimming blanks, CR and LF, the text is either decimal digits only or "0x"
// followed by one or more hexadecimal digits and nothing else. "1F", "ABC",
// "0x", "0xZ1", "1E3", "-1" and the empty text are not.
// It checks the grammar only; the range (0..65535) is the caller's business.
bool IsValidAddressText(std::string_view text);

}  // namespace modbus
