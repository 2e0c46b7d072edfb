// Locale-independent number parsing under every text conversion.
#include "common/number_text.h"

#include <gtest/gtest.h>

namespace {

TEST(NumberText, ParseNumber) {
  struct Case {
    const char* text;
    std::optional<double> value;
  } cases[] = {
      {"12", 12},
      {" -3.25 ", -3.25},
      {"+7", 7},
      {"1e3", 1000},
      {".5", 0.5},
      {"5.", 5},
      {"", std::nullopt},
      {"-", std::nullopt},
      {".", std::nullopt},
      {"1,5", std::nullopt},
      {"0x10", std::nullopt},
      {"1e", std::nullopt},
      {"12abc", std::nullopt},
      {"1e999", std::nullopt},
      {"-1e999", std::nullopt},
      {"99999e99999", std::nullopt},
      {"1e-999", 0.0},
      {"0.00000e-999", 0.0},
      {"0.0001e-400", 0.0},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseNumber(c.text), c.value) << '"' << c.text << '"';
}

TEST(NumberText, WholeNumbersRoundHalfToEvenAndStayInRange) {
  struct Case {
    const char* text;
    std::optional<int32_t> value;
  } cases[] = {
      {"12.5", 12},
      {"13.5", 14},
      {"-2.5", -2},
      {"2147483647", 2147483647},
      {"2147483648", std::nullopt},
      {"-2147483648", INT32_MIN},
      {"-2147483648.5", INT32_MIN},
      {"-2147483649", std::nullopt},
      {"abc", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseLong(c.text), c.value) << c.text;
  EXPECT_EQ(ParseInteger("32767"), 32767);
  EXPECT_EQ(ParseInteger("32768"), std::nullopt);
}

}  // namespace
