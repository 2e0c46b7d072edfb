// Conversions, table by table.
#include "codec/convert.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

namespace {

using Bytes4 = std::array<uint8_t, 4>;

TEST(Convert, Uint16GethiGetlo) {
  EXPECT_EQ(Uint16(255, 255), 65535);
  EXPECT_EQ(Uint16(0x12, 0x34), 0x1234);
  EXPECT_EQ(Uint16(0, 0), 0);
  struct Case {
    int32_t x;
    uint8_t hi, lo;
  };
  for (const Case& c : std::vector<Case>{{-1, 0xFF, 0xFF},
                                         {65536, 0x00, 0x00},
                                         {305419896, 0x56, 0x78},
                                         {0x1234, 0x12, 0x34},
                                         {65535, 0xFF, 0xFF},
                                         {-32768, 0x80, 0x00}}) {
    EXPECT_EQ(gethi(c.x), c.hi) << c.x;
    EXPECT_EQ(getlo(c.x), c.lo) << c.x;
  }
}

TEST(Convert, LongToByteArray) {
  struct Case {
    int32_t value;
    int16_t countIn;
    Frame bytes;
    int16_t countOut;
  };
  const std::vector<Case> cases = {
      {0, 2, {0x00}, 2},  // zero: one byte whatever the count, count untouched
      {0, -1, {0x00}, -1},
      {0, 0, {0x00}, 0},
      {42, 2, {0x00, 0x2A}, 2},
      {17, 1, {0x11}, 1},
      {258, -1, {0x01, 0x02}, 2},  // minimal, written back
      {1, -1, {0x01}, 1},
      {0x12345678, -1, {0x12, 0x34, 0x56, 0x78}, 4},
      {0x00010000, -1, {0x01, 0x00, 0x00}, 3},
      {5, 6, {0, 0, 0, 0, 0, 5}, 6},
      {5, 0, {}, 0},
      {0x1234, 1, {0x34}, 1},  // the last byteCount bytes
      {65535, 2, {0xFF, 0xFF}, 2},
      {-1, -1, {0xFF, 0xFF, 0xFF, 0xFF}, 4},
  };
  for (const Case& c : cases) {
    int16_t count = c.countIn;
    EXPECT_EQ(LongToByteArray(c.value, count), c.bytes) << c.value << " count " << c.countIn;
    EXPECT_EQ(count, c.countOut) << c.value << " count " << c.countIn;
  }
  EXPECT_EQ(LongToByteArray(258), (Frame{0x01, 0x02}));
}

TEST(Convert, BytesOfLong) {
  struct Case {
    double value;
    Bytes4 bytes;
  };
  for (const Case& c : std::vector<Case>{{305419896, {0x78, 0x56, 0x34, 0x12}},
                                         {12.9, {0x0C, 0, 0, 0}},  // dropped, not rounded
                                         {0.99, {0, 0, 0, 0}},
                                         {-1, {0, 0, 0, 0}},
                                         {-0.5, {0, 0, 0, 0}},
                                         {4294967296.0, {0, 0, 0, 0}},
                                         {4294967295.5, {0, 0, 0, 0}},
                                         {4294967295.0, {0xFF, 0xFF, 0xFF, 0xFF}},
                                         {65536, {0, 0, 1, 0}},
                                         {1e300, {0, 0, 0, 0}},
                                         {std::numeric_limits<double>::quiet_NaN(), {0, 0, 0, 0}}}) {
    EXPECT_EQ(BytesOfLong(c.value), c.bytes) << c.value;
  }
}

TEST(Convert, BytesOfFloat) {
  struct Case {
    double value;
    Bytes4 bytes;
  };
  for (const Case& c : std::vector<Case>{{1.0, {0x00, 0x00, 0x80, 0x3F}},
                                         {-2.5, {0x00, 0x00, 0x20, 0xC0}},
                                         {0.1, {0xCD, 0xCC, 0xCC, 0x3D}},  // rounded to nearest
                                         {0.0, {0, 0, 0, 0}},
                                         {1e39, {0, 0, 0, 0}},
                                         {-1e39, {0, 0, 0, 0}},
                                         {3.4028234663852886e38, {0xFF, 0xFF, 0x7F, 0x7F}},
                                         {std::numeric_limits<double>::infinity(), {0, 0, 0, 0}},
                                         {std::numeric_limits<double>::quiet_NaN(), {0, 0, 0, 0}},
                                         {1.401298464324817e-45, {0x01, 0, 0, 0}}}) {
    EXPECT_EQ(BytesOfFloat(c.value), c.bytes) << c.value;
  }
}

TEST(Convert, StringToLong) {
  struct Case {
    std::string text;
    int32_t value;
  };
  const std::vector<Case> cases = {
      {" \r\n0x10 \n", 16},
      {" 0X10 ", 0},  // upper-case X not recognised
      {"0x", 0},
      {"0xZZ", 0},
      {"0x1F", 31},
      {"0x1fzz", 31},  // up to the first non-digit
      {"0xFFFF", 65535},
      {"0x0000FFFF", 65535},
      {"abc", 0},
      {"", 0},
      {"   ", 0},
      {"12", 12},
      {"12.5", 12},  // ties to even
      {"13.5", 14},
      {"-2.5", -2},
      {"12.51", 13},
      {"-", 0},
      {"1F", 0},
      {"2147483647", 2147483647},
      {"2147483648", 0},  // outside the Long range
      {"-2147483648", -2147483647 - 1},
      {"1e3", 1000},
  };
  for (const Case& c : cases) EXPECT_EQ(StringToLong(c.text), c.value) << '"' << c.text << '"';
  // The low 16 bits of a longer hexadecimal number are those of the text.
  EXPECT_EQ(StringToLong("0x123456789ABC") & 0xFFFF, 0x9ABC);
}

TEST(Convert, StringToDouble) {
  struct Case {
    std::string text;
    double value;
  };
  const std::vector<Case> cases = {
      {"1,5", 1.5},
      {"1.5.0", 1.5},
      {"1,234.5", 1.2345},
      {"12abc3", 123},
      {"+7", 7},
      {"5-3", 53},
      {" -3,25 ", -3.25},
      {"-", 0},
      {"3-", 3},
      {"", 0},
      {"  ", 0},
      {".", 0},
      {"-.", 0},
      {".5", 0.5},
      {"-,5", -0.5},
      {"5.", 5},
      {"abc", 0},
      {"--5", -5},
      {"1e5", 15},                 // the letter is dropped
      {std::string(400, '9'), 0},  // beyond the range of a double
  };
  for (const Case& c : cases) EXPECT_EQ(StringToDouble(c.text), c.value) << '"' << c.text << '"';
}

TEST(Convert, DecimalConversionIgnoresTheLocale) {
  const char* old = std::setlocale(LC_ALL, nullptr);
  const std::string saved = old ? old : "C";
  // A locale with a decimal comma, when the machine has one; C otherwise.
  const bool haveComma = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
  EXPECT_EQ(StringToDouble("1,5"), 1.5);
  EXPECT_EQ(StringToDouble("1.5"), 1.5);
  EXPECT_EQ(StringToLong("12.5"), 12);
  EXPECT_EQ(StringToLong("13.5"), 14);
  std::setlocale(LC_ALL, saved.c_str());
  if (!haveComma) GTEST_LOG_(INFO) << "de_DE.UTF-8 not installed; checked in the C locale only";
}

TEST(Convert, IsHex) {
  EXPECT_TRUE(IsHex(" 0x"));
  EXPECT_TRUE(IsHex("0x1F  "));
  EXPECT_FALSE(IsHex("0X1"));
  EXPECT_FALSE(IsHex("12"));
  EXPECT_FALSE(IsHex(""));
  EXPECT_FALSE(IsHex("\n0x1"));  // blanks only, not line feeds
}

TEST(Convert, HexToBytes) {
  struct Case {
    std::string text;
    Frame bytes;
  };
  const std::vector<Case> cases = {
      {"01 03 00 00 00 0A", {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A}},
      {"0103 0000 000A", {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A}},
      {"ABC", {0xAB, 0x0C}},
      {"A,B", {0x0A, 0x0B}},
      {"1 2 3", {0x01, 0x02, 0x03}},
      {"0x1F", {0x00, 0x1F}},
      {"F", {0x0F}},
      {"F F", {0x0F, 0x0F}},
      {"FFF", {0xFF, 0x0F}},
      {"ff", {0xFF}},
      {"  --  ab;;;cd  ", {0xAB, 0xCD}},
      {"", {}},
      {"xyz -+", {}},
      {"\xC3\xA9"
       "12",
       {0x12}},  // a non-ASCII character is a separator
  };
  for (const Case& c : cases) EXPECT_EQ(HexToBytes(c.text), c.bytes) << '"' << c.text << '"';

  const std::string longest(32767, 'A');
  EXPECT_EQ(HexToBytes(longest).size(), 16384u);
  EXPECT_TRUE(HexToBytes(longest + "A").empty());
  // Characters, not bytes, count: 32767 two-byte characters are still read.
  std::string wide;
  for (int i = 0; i < 32766; ++i) wide += "\xC3\xA9";
  EXPECT_EQ(HexToBytes(wide + "7"), (Frame{0x07}));
}

TEST(Convert, IsValidAddressText) {
  for (const char* ok : {"0", "16", " 65535 \r\n", "0x10", "0x1f", "0xFFFFF", "99999999999"}) {
    EXPECT_TRUE(IsValidAddressText(ok)) << ok;
  }
  for (const char* bad : {"", "  ", "1F", "ABC", "0x", "0X10", "0x1G", "0x 1", "x10", "1 2", "-", ".", "1E3", "1e999",
                          "12.5", "-1", "+3"}) {
    EXPECT_FALSE(IsValidAddressText(bad)) << bad;
  }
}

}  // namespace
