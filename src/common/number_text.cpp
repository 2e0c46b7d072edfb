#include "common/number_text.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace {
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Roughly the decimal exponent of a well-formed number text: the count of
// significant integer digits plus its exponent, less the leading zeros of the
// fraction when there is no integer digit.
long long DecimalMagnitude(std::string_view t) {
  size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  while (i < t.size() && t[i] == '0') ++i;
  long long digits = 0;
  while (i < t.size() && IsDigit(t[i])) ++i, ++digits;
  if (i < t.size() && t[i] == '.') {
    ++i;
    if (digits == 0)
      while (i < t.size() && t[i] == '0') ++i, --digits;
    while (i < t.size() && IsDigit(t[i])) ++i;
  }
  long long exp = 0;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    bool neg = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) neg = t[i++] == '-';
    while (i < t.size() && IsDigit(t[i]) && exp < 100000000) exp = exp * 10 + (t[i++] - '0');
    if (neg) exp = -exp;
  }
  return digits + exp;
}
}  // namespace

std::optional<double> ParseNumber(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && text[b] == ' ') ++b;
  while (e > b && text[e - 1] == ' ') --e;
  std::string_view t = text.substr(b, e - b);
  // Validate the grammar first; from_chars would accept a prefix of the text.
  size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  size_t digits = 0;
  while (i < t.size() && IsDigit(t[i])) ++i, ++digits;
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (i < t.size() && IsDigit(t[i])) ++i, ++digits;
  }
  if (digits == 0) return std::nullopt;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    size_t expDigits = 0;
    while (i < t.size() && IsDigit(t[i])) ++i, ++expDigits;
    if (expDigits == 0) return std::nullopt;
  }
  if (i != t.size()) return std::nullopt;
  // from_chars takes no leading '+'.
  if (!t.empty() && t[0] == '+') t.remove_prefix(1);
  double v = 0;
  auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), v, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    // from_chars leaves the value alone here, so tell overflow from
    // underflow by the magnitude the text spells: overflow is not a number,
    // a number too small to represent is zero.
    return DecimalMagnitude(t) > 0 ? std::nullopt : std::optional<double>(0.0);
  }
  if (ec != std::errc() || ptr != t.data() + t.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

double RoundHalfEven(double v) {
  if (!std::isfinite(v)) return v;
  double r = std::nearbyint(v);  // default rounding mode: to nearest, ties to even
  return r;
}

std::optional<int32_t> ParseLong(std::string_view text) {
  auto v = ParseNumber(text);
  if (!v) return std::nullopt;
  double r = RoundHalfEven(*v);
  if (r < static_cast<double>(std::numeric_limits<int32_t>::min()) ||
      r > static_cast<double>(std::numeric_limits<int32_t>::max()))
    return std::nullopt;
  return static_cast<int32_t>(r);
}

std::optional<int16_t> ParseInteger(std::string_view text) {
  auto v = ParseLong(text);
  if (!v || *v < std::numeric_limits<int16_t>::min() || *v > std::numeric_limits<int16_t>::max()) return std::nullopt;
  return static_cast<int16_t>(*v);
}
