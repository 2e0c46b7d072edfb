// Register value formats.
#include "presentation/formats.h"

#include <gtest/gtest.h>

#include <bit>
#include <clocale>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

TEST(Formats, NamesTagsAndWidths) {
  ASSERT_EQ(kFormatNames.size(), 14u);
  EXPECT_EQ(kFormatNames[0], "INT16");
  EXPECT_EQ(kFormatNames[1], "UINT16");
  EXPECT_EQ(kFormatNames[3], "FLOAT_CDAB");
  EXPECT_EQ(kFormatNames[8], "INT32_BADC");
  EXPECT_EQ(kFormatNames[13], "UINT32_DCBA");
  const std::vector<std::string_view> tags = {"I16", "U16", "FLT", "FLT", "FLT", "FLT", "I32",
                                              "I32", "I32", "I32", "U32", "U32", "U32", "U32"};
  for (int i = 0; i < 14; ++i) {
    EXPECT_EQ(FormatTag(i), tags[static_cast<size_t>(i)]) << i;
    EXPECT_EQ(Format2B(i), i <= 1) << i;
  }
  EXPECT_EQ(FormatTag(-1), "");
  EXPECT_EQ(FormatTag(14), "");
  EXPECT_FALSE(Format2B(-1));
  EXPECT_FALSE(Format2B(14));
}

TEST(Formats, IntegerOfBytes) {
  EXPECT_EQ(LongOfBytes(0x80, 0, 0, 0), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(LongOfBytes(0xFF, 0xFF, 0xFF, 0xFF), -1);
  EXPECT_EQ(LongOfBytes(0x7F, 0xFF, 0xFF, 0xFF), 2147483647);
  EXPECT_EQ(LongOfBytes(0x12, 0x34, 0x56, 0x78), 0x12345678);
  EXPECT_EQ(UlongOfBytes(0xFF, 0xFF, 0xFF, 0xFF), 4294967295.0);
  EXPECT_EQ(UlongOfBytes(0x80, 0, 0, 0), 2147483648.0);
}

TEST(Formats, Decoders) {
  struct Case {
    int format;
    std::array<uint8_t, 4> d;
    double value;
  };
  const std::vector<Case> cases = {
      {6, {0x80, 0x00, 0x00, 0x00}, -2147483648.0},
      {6, {0xFF, 0xFF, 0xFF, 0xFF}, -1},
      {10, {0xFF, 0xFF, 0xFF, 0xFF}, 4294967295.0},
      {7, {0x00, 0x01, 0x00, 0x00}, 1},         // CDAB: second register is the high word
      {8, {0x00, 0x01, 0x00, 0x00}, 16777216},  // BADC: A = 01
      {9, {0x00, 0x01, 0x00, 0x00}, 256},       // DCBA
      {11, {0x00, 0x01, 0x80, 0x00}, 2147483649.0},
      {12, {0x34, 0x12, 0x78, 0x56}, 0x12345678},
      {13, {0x78, 0x56, 0x34, 0x12}, 0x12345678},
      // 1.0 in the four byte orders
      {2, {0x3F, 0x80, 0x00, 0x00}, 1},
      {3, {0x00, 0x00, 0x3F, 0x80}, 1},
      {4, {0x80, 0x3F, 0x00, 0x00}, 1},
      {5, {0x00, 0x00, 0x80, 0x3F}, 1},
      {2, {0x00, 0x00, 0x00, 0x01}, std::ldexp(1.0, -149)},  // smallest subnormal
      {2, {0x00, 0x7F, 0xFF, 0xFF}, std::ldexp(8388607.0, -149)},  // largest subnormal
      {2, {0x00, 0x80, 0x00, 0x00}, std::ldexp(1.0, -126)},        // smallest normal
      {2, {0x7F, 0x7F, 0xFF, 0xFF}, 3.4028234663852886e38},
      {2, {0x00, 0x00, 0x00, 0x00}, 0},
      {2, {0xC0, 0x20, 0x00, 0x00}, -2.5},
      {2, {0x3D, 0xCC, 0xCC, 0xCD}, 0.100000001490116119384765625},  // widened, not rounded to 0.1
      {5, {0xCD, 0xCC, 0xCC, 0x3D}, 0.100000001490116119384765625},
  };
  for (const Case& c : cases) {
    const auto& d = c.d;
    EXPECT_EQ(DecodeFormat32(c.format, d[0], d[1], d[2], d[3]), c.value) << kFormatNames[static_cast<size_t>(c.format)];
  }
  // Negative zero keeps its sign bit.
  EXPECT_TRUE(std::signbit(TO_FORMAT_FLOAT_ABCD(0x80, 0, 0, 0)));
  EXPECT_EQ(DecodeFormat32(0, 1, 2, 3, 4), 0);
  EXPECT_EQ(DecodeFormat32(14, 1, 2, 3, 4), 0);
}

TEST(Formats, FloatOfBytesMatchesTheBitPatternEverywhere) {
  // A sweep over exponents and fractions: arithmetic decoding equals the
  // IEEE-754 value of the pattern for every finite pattern.
  for (uint32_t e = 0; e < 255; ++e) {
    for (uint32_t f : {0u, 1u, 2u, 0x400000u, 0x7FFFFEu, 0x7FFFFFu, 0x123456u}) {
      for (uint32_t s : {0u, 1u}) {
        const uint32_t u = (s << 31) | (e << 23) | f;
        const float want = std::bit_cast<float>(u);
        const float got = FloatOfBytes(static_cast<uint8_t>(u >> 24), static_cast<uint8_t>(u >> 16),
                                       static_cast<uint8_t>(u >> 8), static_cast<uint8_t>(u));
        EXPECT_EQ(std::bit_cast<uint32_t>(got), u) << std::hex << u << " " << want;
      }
    }
  }
}

TEST(Formats, ExponentAllOnes) {
  EXPECT_EQ(TO_FORMAT_FLOAT_ABCD(0x7F, 0x80, 0, 0), std::numeric_limits<double>::infinity());
  EXPECT_EQ(TO_FORMAT_FLOAT_ABCD(0xFF, 0x80, 0, 0), -std::numeric_limits<double>::infinity());
  EXPECT_TRUE(std::isnan(TO_FORMAT_FLOAT_ABCD(0x7F, 0xC0, 0, 0)));
  EXPECT_TRUE(std::isnan(TO_FORMAT_FLOAT_ABCD(0xFF, 0x80, 0, 1)));
  EXPECT_EQ(FormatValueText(TO_FORMAT_FLOAT_ABCD(0x7F, 0x80, 0, 0), "."), "Inf");
  EXPECT_EQ(FormatValueText(TO_FORMAT_FLOAT_ABCD(0xFF, 0x80, 0, 0), "."), "-Inf");
  EXPECT_EQ(FormatValueText(TO_FORMAT_FLOAT_ABCD(0x7F, 0xFF, 0xFF, 0xFF), "."), "NaN");
  EXPECT_EQ(FormatValueText(TO_FORMAT_FLOAT_ABCD(0xFF, 0x80, 0, 1), "."), "NaN");
}

TEST(Formats, ValueText) {
  struct Case {
    double v;
    std::string dot;
  };
  const std::vector<Case> cases = {
      {4294967295.0, "4294967295"},
      {-2147483648.0, "-2147483648"},
      {0.0, "0"},
      {-0.0, "0"},
      {1.0, "1"},
      {-2.5, "-2.5"},
      {0.100000001490116119384765625, "0.100000001490116"},
      {std::ldexp(1.0, -149), "1.40129846432482E-45"},
      {3.4028234663852886e38, "3.40282346638529E+38"},
      {1e15, "1E+15"},
      {1e14, "100000000000000"},
      {123456789012345.0, "123456789012345"},
      {1234567890123456.0, "1.23456789012346E+15"},
      {999999999999999.5, "1E+15"},  // rounds up into the exponent form
      {0.0001, "0.0001"},
      {0.00001, "1E-05"},
      {0.000015, "1.5E-05"},
      {-0.00012345, "-0.00012345"},
      {1.5e-300, "1.5E-300"},
      {100, "100"},
      {10.25, "10.25"},
      {1.0 / 3.0, "0.333333333333333"},
      {2.0 / 3.0, "0.666666666666667"},
      {16777216, "16777216"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatValueText(c.v, "."), c.dot) << c.v;
  EXPECT_EQ(FormatValueText(-2.5, ","), "-2,5");
  EXPECT_EQ(FormatValueText(0.000015, ","), "1,5E-05");
  EXPECT_EQ(FormatValueText(4294967295.0, ","), "4294967295");
  EXPECT_EQ(FormatValueText(0.100000001490116119384765625, "\xD9\xAB"), "0\xD9\xAB" "100000001490116");
  EXPECT_EQ(FormatValueText(2.5, ""), "2.5");
}

TEST(Formats, ValueTextIgnoresTheProcessLocale) {
  const char* old = std::setlocale(LC_ALL, nullptr);
  const std::string saved = old ? old : "C";
  std::setlocale(LC_ALL, "de_DE.UTF-8");
  EXPECT_EQ(FormatValueText(-2.5, "."), "-2.5");
  std::setlocale(LC_ALL, saved.c_str());
}

}  // namespace
