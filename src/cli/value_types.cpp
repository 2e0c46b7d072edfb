#include "cli/value_types.h"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace cli {
namespace {

enum class Kind { Signed, Unsigned, Float, Double, Hex, Binary, Ascii };

struct TypeInfo {
  std::string_view name;
  Kind kind;
  int bytes;  // width of one value
  // wire[i] = the value's byte order[i], byte 0 being the most significant.
  std::array<uint8_t, 8> order;
};

constexpr std::array<uint8_t, 8> kAbcd = {0, 1, 2, 3};
constexpr std::array<uint8_t, 8> kCdab = {2, 3, 0, 1};
constexpr std::array<uint8_t, 8> kBadc = {1, 0, 3, 2};
constexpr std::array<uint8_t, 8> kDcba = {3, 2, 1, 0};
constexpr std::array<uint8_t, 8> kAbcdefgh = {0, 1, 2, 3, 4, 5, 6, 7};
constexpr std::array<uint8_t, 8> kGhefcdab = {6, 7, 4, 5, 2, 3, 0, 1};
constexpr std::array<uint8_t, 8> kBadcfehg = {1, 0, 3, 2, 5, 4, 7, 6};
constexpr std::array<uint8_t, 8> kHgfedcba = {7, 6, 5, 4, 3, 2, 1, 0};
constexpr std::array<uint8_t, 8> kAb = {0, 1};

// In the order of the enum.
constexpr std::array<TypeInfo, kValueTypeCount> kTypes = {{
    {"INT16", Kind::Signed, 2, kAb},
    {"UINT16", Kind::Unsigned, 2, kAb},
    {"FLOAT_ABCD", Kind::Float, 4, kAbcd},
    {"FLOAT_CDAB", Kind::Float, 4, kCdab},
    {"FLOAT_BADC", Kind::Float, 4, kBadc},
    {"FLOAT_DCBA", Kind::Float, 4, kDcba},
    {"INT32_ABCD", Kind::Signed, 4, kAbcd},
    {"INT32_CDAB", Kind::Signed, 4, kCdab},
    {"INT32_BADC", Kind::Signed, 4, kBadc},
    {"INT32_DCBA", Kind::Signed, 4, kDcba},
    {"UINT32_ABCD", Kind::Unsigned, 4, kAbcd},
    {"UINT32_CDAB", Kind::Unsigned, 4, kCdab},
    {"UINT32_BADC", Kind::Unsigned, 4, kBadc},
    {"UINT32_DCBA", Kind::Unsigned, 4, kDcba},
    {"INT64_ABCDEFGH", Kind::Signed, 8, kAbcdefgh},
    {"INT64_GHEFCDAB", Kind::Signed, 8, kGhefcdab},
    {"INT64_BADCFEHG", Kind::Signed, 8, kBadcfehg},
    {"INT64_HGFEDCBA", Kind::Signed, 8, kHgfedcba},
    {"UINT64_ABCDEFGH", Kind::Unsigned, 8, kAbcdefgh},
    {"UINT64_GHEFCDAB", Kind::Unsigned, 8, kGhefcdab},
    {"UINT64_BADCFEHG", Kind::Unsigned, 8, kBadcfehg},
    {"UINT64_HGFEDCBA", Kind::Unsigned, 8, kHgfedcba},
    {"DOUBLE_ABCDEFGH", Kind::Double, 8, kAbcdefgh},
    {"DOUBLE_GHEFCDAB", Kind::Double, 8, kGhefcdab},
    {"DOUBLE_BADCFEHG", Kind::Double, 8, kBadcfehg},
    {"DOUBLE_HGFEDCBA", Kind::Double, 8, kHgfedcba},
    {"HEX", Kind::Hex, 2, kAb},
    {"BINARY", Kind::Binary, 2, kAb},
    {"ASCII", Kind::Ascii, 2, kAb},
}};

const TypeInfo& Info(ValueType type) { return kTypes[static_cast<size_t>(type)]; }

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string_view Trim(std::string_view t) {
  size_t b = 0, e = t.size();
  while (b < e && (t[b] == ' ' || t[b] == '\t')) ++b;
  while (e > b && (t[e - 1] == ' ' || t[e - 1] == '\t')) --e;
  return t.substr(b, e - b);
}

std::vector<std::string_view> SplitCommas(std::string_view text) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (;;) {
    const size_t comma = text.find(',', start);
    parts.push_back(Trim(text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start)));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return parts;
}

// Digits in `base` only, the whole text, into a 64-bit value.
std::optional<uint64_t> ParseDigits(std::string_view t, int base) {
  if (t.empty()) return std::nullopt;
  uint64_t v = 0;
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v, base);
  if (ec != std::errc() || end != t.data() + t.size()) return std::nullopt;
  return v;
}

bool HasPrefix(std::string_view t, char second) {
  return t.size() >= 2 && t[0] == '0' && (t[1] == second || t[1] == Upper(second));
}

std::string RangeText(const TypeInfo& info) {
  const int bits = info.bytes * 8;
  switch (info.kind) {
    case Kind::Signed:
      return bits == 16   ? "-32768 to 32767"
             : bits == 32 ? "-2147483648 to 2147483647"
                          : "-9223372036854775808 to 9223372036854775807";
    case Kind::Unsigned:
      return bits == 16 ? "0 to 65535" : bits == 32 ? "0 to 4294967295" : "0 to 18446744073709551615";
    case Kind::Float:
      return "a number within single precision, nan or inf";
    case Kind::Double:
      return "a number, nan or inf";
    case Kind::Hex:
      return "hexadecimal 0 to FFFF";
    case Kind::Binary:
      return "up to 16 binary digits";
    case Kind::Ascii:
      return "text";
  }
  return {};
}

// The value's bit pattern (the low `bytes` bytes) of one typed value.
std::optional<uint64_t> PatternOf(const TypeInfo& info, std::string_view t) {
  const int bits = info.bytes * 8;
  const uint64_t mask = bits == 64 ? ~uint64_t{0} : (uint64_t{1} << bits) - 1;
  // "0x" gives the bit pattern in every type, BINARY included.
  if (info.kind == Kind::Binary && !HasPrefix(t, 'x')) {
    const std::string_view digits = HasPrefix(t, 'b') ? t.substr(2) : t;
    if (digits.size() > 16) return std::nullopt;
    return ParseDigits(digits, 2);
  }
  if (info.kind == Kind::Hex || HasPrefix(t, 'x')) {
    const std::string_view digits = HasPrefix(t, 'x') ? t.substr(2) : t;
    const auto v = ParseDigits(digits, 16);
    if (!v || (*v & ~mask) != 0) return std::nullopt;
    return v;
  }
  const bool negative = !t.empty() && t[0] == '-';
  const std::string_view unsigned_part = (!t.empty() && (t[0] == '-' || t[0] == '+')) ? t.substr(1) : t;
  switch (info.kind) {
    case Kind::Signed: {
      const auto magnitude = ParseDigits(unsigned_part, 10);
      if (!magnitude) return std::nullopt;
      const uint64_t limit = uint64_t{1} << (bits - 1);  // |min|; max is limit - 1
      if (negative ? *magnitude > limit : *magnitude >= limit) return std::nullopt;
      const uint64_t v = negative ? (~*magnitude + 1) : *magnitude;
      return v & mask;
    }
    case Kind::Unsigned: {
      if (negative) return std::nullopt;
      const auto v = ParseDigits(unsigned_part, 10);
      if (!v || (*v & ~mask) != 0) return std::nullopt;
      return v;
    }
    case Kind::Float: {
      // from_chars does not take a leading "+".
      float f = 0;
      const std::string_view s = (!t.empty() && t[0] == '+') ? t.substr(1) : t;
      if (s.empty()) return std::nullopt;
      const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), f);
      if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
      return std::bit_cast<uint32_t>(f);
    }
    case Kind::Double: {
      double d = 0;
      const std::string_view s = (!t.empty() && t[0] == '+') ? t.substr(1) : t;
      if (s.empty()) return std::nullopt;
      const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), d);
      if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
      return std::bit_cast<uint64_t>(d);
    }
    default:
      return std::nullopt;
  }
}

void AppendValue(const TypeInfo& info, uint64_t pattern, std::vector<uint16_t>& registers) {
  std::array<uint8_t, 8> big{};  // most significant first
  for (int i = 0; i < info.bytes; ++i) big[i] = static_cast<uint8_t>(pattern >> (8 * (info.bytes - 1 - i)));
  for (int i = 0; i < info.bytes; i += 2) {
    const uint8_t hi = big[info.order[i]];
    const uint8_t lo = big[info.order[i + 1]];
    registers.push_back(static_cast<uint16_t>(hi << 8 | lo));
  }
}

}  // namespace

std::string_view ValueTypeName(ValueType type) { return Info(type).name; }

std::optional<ValueType> ValueTypeOfName(std::string_view name) {
  for (size_t i = 0; i < kTypes.size(); ++i) {
    const std::string_view n = kTypes[i].name;
    if (n.size() != name.size()) continue;
    bool same = true;
    for (size_t k = 0; k < n.size() && same; ++k) same = Upper(name[k]) == n[k];
    if (same) return static_cast<ValueType>(i);
  }
  return std::nullopt;
}

int RegistersPerValue(ValueType type) { return Info(type).bytes / 2; }

EncodedValues EncodeValues(ValueType type, std::string_view values) {
  const TypeInfo& info = Info(type);
  EncodedValues result;
  if (info.kind == Kind::Ascii) {
    if (values.empty()) {
      result.error = "no text to write";
      return result;
    }
    for (size_t i = 0; i < values.size(); i += 2) {
      for (size_t k = i; k < i + 2 && k < values.size(); ++k) {
        const unsigned char c = static_cast<unsigned char>(values[k]);
        if (c < 0x20 || c > 0x7E) {
          result.error = "the text holds a character outside printable ASCII";
          result.registers.clear();
          return result;
        }
      }
      const uint8_t hi = static_cast<uint8_t>(values[i]);
      const uint8_t lo = i + 1 < values.size() ? static_cast<uint8_t>(values[i + 1]) : 0;
      result.registers.push_back(static_cast<uint16_t>(hi << 8 | lo));
    }
    return result;
  }
  for (std::string_view part : SplitCommas(values)) {
    const auto pattern = PatternOf(info, part);
    if (!pattern) {
      result.registers.clear();
      result.error = part.empty() ? "an empty value in the list"
                                  : "'" + std::string(part) + "' is not a valid " + std::string(info.name) +
                                        " value (" + RangeText(info) + ")";
      return result;
    }
    AppendValue(info, *pattern, result.registers);
  }
  return result;
}

EncodedCoils EncodeCoils(std::string_view values) {
  EncodedCoils result;
  for (std::string_view part : SplitCommas(values)) {
    if (part != "0" && part != "1") {
      result.coils.clear();
      result.error =
          part.empty() ? "an empty value in the list" : "'" + std::string(part) + "' is not a coil state (0 or 1)";
      return result;
    }
    result.coils.push_back(part == "1" ? 1 : 0);
  }
  return result;
}

std::optional<uint32_t> ParseUnsigned(std::string_view text, uint32_t max) {
  const bool hex = HasPrefix(text, 'x');
  const auto v = ParseDigits(hex ? text.substr(2) : text, hex ? 16 : 10);
  if (!v || *v > max) return std::nullopt;
  return static_cast<uint32_t>(*v);
}

}  // namespace cli
