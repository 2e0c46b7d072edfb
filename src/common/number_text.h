#pragma once
// Locale-independent conversion of typed text to numbers. Nothing here
// throws; a text that is not a number gives an empty optional.
#include <cstdint>
#include <optional>
#include <string_view>

// A decimal number: optional blanks, optional sign, digits with an optional
// "." and fraction, an optional exponent (e or E), optional blanks. At least
// one digit. Returns nothing for any other text or a non-finite result.
std::optional<double> ParseNumber(std::string_view text);

// Rounds half to even (12.5 gives 12, 13.5 gives 14).
double RoundHalfEven(double v);

// The text as a whole number: ParseNumber, rounded half to even, and in the
// range of the type; otherwise nothing.
std::optional<int32_t> ParseLong(std::string_view text);
std::optional<int16_t> ParseInteger(std::string_view text);
