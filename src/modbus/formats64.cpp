#include "modbus/formats64.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <limits>

#include "common/module1.h"

namespace modbus {

namespace {

// For each order, the letter (0 = A) that each wire byte carries.
constexpr std::array<std::array<uint8_t, 8>, 4> kLetterAt = {{
    {0, 1, 2, 3, 4, 5, 6, 7},  // ABCDEFGH
    {6, 7, 4, 5, 2, 3, 0, 1},  // GHEFCDAB
    {1, 0, 3, 2, 5, 4, 7, 6},  // BADCFEHG
    {7, 6, 5, 4, 3, 2, 1, 0},  // HGFEDCBA
}};

constexpr std::array<std::string_view, 3> kKindNames = {"INT64", "UINT64", "DOUBLE"};
constexpr std::array<std::string_view, 4> kOrderNames = {"ABCDEFGH", "GHEFCDAB", "BADCFEHG", "HGFEDCBA"};

std::string_view Trim(std::string_view t) {
  while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
  while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
  return t;
}

// "0x" and 1 to 16 hex digits, as a bit pattern.
std::optional<uint64_t> HexPattern(std::string_view t) {
  if (t.size() < 3 || t.size() > 18 || t[0] != '0' || (t[1] != 'x' && t[1] != 'X')) return std::nullopt;
  uint64_t v = 0;
  const auto r = std::from_chars(t.data() + 2, t.data() + t.size(), v, 16);
  if (r.ec != std::errc() || r.ptr != t.data() + t.size()) return std::nullopt;
  return v;
}

// Whole decimal text of an integer type: optional sign, digits only.
template <class T>
std::optional<T> WholeNumber(std::string_view t) {
  const bool plus = !t.empty() && t.front() == '+';
  if (plus) t.remove_prefix(1);
  if (t.empty() || (plus && (t.front() == '+' || t.front() == '-'))) return std::nullopt;
  if constexpr (std::is_unsigned_v<T>) {
    // from_chars of an unsigned type refuses "-"; "-0" is still zero.
    if (t == "-0") return T{0};
  }
  T v{};
  const auto r = std::from_chars(t.data(), t.data() + t.size(), v, 10);
  if (r.ec != std::errc() || r.ptr != t.data() + t.size()) return std::nullopt;
  return v;
}

std::optional<double> DoubleNumber(std::string_view t) {
  if (EqualsIgnoreCase(t, "nan")) return std::numeric_limits<double>::quiet_NaN();
  if (EqualsIgnoreCase(t, "inf") || EqualsIgnoreCase(t, "+inf") || EqualsIgnoreCase(t, "infinity"))
    return std::numeric_limits<double>::infinity();
  if (EqualsIgnoreCase(t, "-inf") || EqualsIgnoreCase(t, "-infinity")) return -std::numeric_limits<double>::infinity();
  std::string s(t);
  if (!s.empty() && s.front() == '+') s.erase(0, 1);
  // Only digits, one point (either separator), sign and exponent reach
  // from_chars: it would also take "nan(...)" and hex forms otherwise.
  bool point = false;
  for (char& c : s) {
    if (c == ',') c = '.';
    if (c == '.') {
      if (point) return std::nullopt;
      point = true;
    } else if (!((c >= '0' && c <= '9') || c == 'e' || c == 'E' || c == '-' || c == '+')) {
      return std::nullopt;
    }
  }
  double v = 0;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
  if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return std::nullopt;
  return v;
}

}  // namespace

std::optional<Format64> Format64Named(std::string_view name) {
  for (size_t k = 0; k < kKindNames.size(); ++k) {
    for (size_t o = 0; o < kOrderNames.size(); ++o) {
      const Format64 f{static_cast<Kind64>(k), static_cast<WordOrder64>(o)};
      if (NameOf(f) == name) return f;
    }
  }
  return std::nullopt;
}

std::optional<RegisterView> RegisterViewNamed(std::string_view name) {
  if (name == "HEX") return RegisterView::Hex;
  if (name == "BINARY") return RegisterView::Binary;
  if (name == "ASCII") return RegisterView::Ascii;
  return std::nullopt;
}

std::string_view NameOf(Format64 f) {
  return kWideFormatNames[4 * static_cast<size_t>(f.kind) + static_cast<size_t>(f.order)];
}

uint64_t BitsOfWire(WordOrder64 order, std::span<const uint8_t, 8> wire) {
  const auto& letter = kLetterAt[static_cast<size_t>(order)];
  uint64_t bits = 0;
  for (size_t i = 0; i < 8; ++i) bits |= static_cast<uint64_t>(wire[i]) << (8 * (7 - letter[i]));
  return bits;
}

Wire8 WireOfBits(WordOrder64 order, uint64_t bits) {
  const auto& letter = kLetterAt[static_cast<size_t>(order)];
  Wire8 wire{};
  for (size_t i = 0; i < 8; ++i) wire[i] = static_cast<uint8_t>(bits >> (8 * (7 - letter[i])));
  return wire;
}

std::string DoubleText(double v, std::string_view decimalSeparator) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v > 0 ? "Inf" : "-Inf";
  char buf[40];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  std::string out;
  for (const char* p = buf; p != r.ptr; ++p) {
    if (*p == '.') {
      out += decimalSeparator.empty() ? std::string_view(".") : decimalSeparator;
    } else {
      out += *p == 'e' ? 'E' : *p;
    }
  }
  return out;
}

std::string Decode64(Format64 f, std::span<const uint8_t, 8> wire, std::string_view decimalSeparator) {
  const uint64_t bits = BitsOfWire(f.order, wire);
  switch (f.kind) {
    case Kind64::Int64:
      return std::to_string(static_cast<int64_t>(bits));
    case Kind64::Uint64:
      return std::to_string(bits);
    case Kind64::Double:
      return DoubleText(std::bit_cast<double>(bits), decimalSeparator);
  }
  return {};
}

Encoded64 Encode64(Format64 f, std::string_view text) {
  const std::string_view t = Trim(text);
  const std::string quoted = "Invalid value \"" + std::string(t) + "\": ";
  std::optional<uint64_t> bits;
  switch (f.kind) {
    case Kind64::Int64:
      bits = HexPattern(t);
      if (!bits) {
        if (auto v = WholeNumber<int64_t>(t)) bits = static_cast<uint64_t>(*v);
      }
      if (!bits)
        return {{}, quoted + "an INT64 value is a whole number from -9223372036854775808 to 9223372036854775807"};
      break;
    case Kind64::Uint64:
      bits = HexPattern(t);
      if (!bits) bits = WholeNumber<uint64_t>(t);
      if (!bits) return {{}, quoted + "a UINT64 value is a whole number from 0 to 18446744073709551615"};
      break;
    case Kind64::Double: {
      const std::optional<double> v = DoubleNumber(t);
      if (!v) {
        return {{},
                quoted +
                    "a DOUBLE value is NaN, Inf, -Inf, 0 or a number of magnitude from 4.9406564584124654E-324 "
                    "to 1.7976931348623157E+308"};
      }
      bits = std::bit_cast<uint64_t>(*v);
      break;
    }
  }
  return {WireOfBits(f.order, *bits), {}};
}

std::string RegisterViewText(RegisterView v, uint8_t hi, uint8_t lo) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  switch (v) {
    case RegisterView::Hex:
      return {kHex[hi >> 4], kHex[hi & 15], kHex[lo >> 4], kHex[lo & 15]};
    case RegisterView::Binary: {
      std::string s;
      for (int bit = 15; bit >= 0; --bit) {
        s += ((hi << 8 | lo) >> bit) & 1 ? '1' : '0';
        if (bit == 8) s += ' ';
      }
      return s;
    }
    case RegisterView::Ascii: {
      auto ch = [](uint8_t b) { return (b >= 0x20 && b <= 0x7E) ? static_cast<char>(b) : '.'; };
      return {ch(hi), ch(lo)};
    }
  }
  return {};
}

EncodedRegister EncodeRegisterView(RegisterView v, std::string_view text) {
  const std::string_view t = Trim(text);
  const std::string quoted = "Invalid value \"" + std::string(t) + "\": ";
  switch (v) {
    case RegisterView::Hex: {
      std::string_view digits = t;
      if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) digits.remove_prefix(2);
      unsigned value = 0;
      const auto r = std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
      if (digits.empty() || digits.size() > 4 || r.ec != std::errc() || r.ptr != digits.data() + digits.size())
        return {{}, quoted + "a HEX register is 1 to 4 hexadecimal digits"};
      return {{static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)}, {}};
    }
    case RegisterView::Binary: {
      unsigned value = 0;
      int digits = 0;
      for (char c : t) {
        if (c == ' ') continue;
        if ((c != '0' && c != '1') || ++digits > 16) return {{}, quoted + "a BINARY register is 1 to 16 binary digits"};
        value = value << 1 | static_cast<unsigned>(c - '0');
      }
      if (digits == 0) return {{}, quoted + "a BINARY register is 1 to 16 binary digits"};
      return {{static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)}, {}};
    }
    case RegisterView::Ascii: {
      // Untrimmed: a blank is a character of the register.
      bool printable = !text.empty() && text.size() <= 2;
      for (char c : text) printable = printable && c >= 0x20 && c <= 0x7E;
      if (!printable)
        return {{}, "Invalid value \"" + std::string(text) + "\": an ASCII register is 1 or 2 printable characters"};
      return {{static_cast<uint8_t>(text[0]), static_cast<uint8_t>(text.size() > 1 ? text[1] : 0)}, {}};
    }
  }
  return {};
}

}  // namespace modbus
