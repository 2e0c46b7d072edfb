// The 64-bit formats at the edges of each type, the word orders against
// hand-written wire bytes, exact text both ways, and the register views.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modbus/formats64.h"

namespace modbus {
namespace {

Wire8 W(std::string_view hex16) {
  Wire8 w{};
  for (size_t i = 0; i < 8; ++i)
    w[i] = static_cast<uint8_t>(std::stoi(std::string(hex16.substr(2 * i, 2)), nullptr, 16));
  return w;
}

std::string Hex(const Wire8& w) {
  std::string s;
  for (uint8_t b : w) s += std::string{"0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 15]};
  return s;
}

Format64 F(std::string_view name) {
  const std::optional<Format64> f = Format64Named(name);
  EXPECT_TRUE(f.has_value()) << name;
  return f.value_or(Format64{});
}

struct DecodeCase {
  const char* format;
  const char* wire;
  const char* text;
};

// Wire bytes in the order they arrive, the first register's high byte first.
const std::vector<DecodeCase> kDecodeTable = {
    {"INT64_ABCDEFGH", "7FFFFFFFFFFFFFFF", "9223372036854775807"},
    {"INT64_ABCDEFGH", "8000000000000000", "-9223372036854775808"},
    {"INT64_HGFEDCBA", "0000000000000080", "-9223372036854775808"},
    {"INT64_GHEFCDAB", "FFFFFFFFFFFFFFFF", "-1"},
    // 2^53 + 1: a double would make it ...992.
    {"INT64_ABCDEFGH", "0020000000000001", "9007199254740993"},
    {"INT64_BADCFEHG", "0080000000000100", "-9223372036854775807"},
    {"UINT64_ABCDEFGH", "FFFFFFFFFFFFFFFF", "18446744073709551615"},
    {"UINT64_ABCDEFGH", "FFFFFFFFFFFFFFFE", "18446744073709551614"},
    {"UINT64_ABCDEFGH", "0000000000000000", "0"},
    // 0x0102030405060708 in the four orders.
    {"UINT64_ABCDEFGH", "0102030405060708", "72623859790382856"},
    {"UINT64_GHEFCDAB", "0708050603040102", "72623859790382856"},
    {"UINT64_BADCFEHG", "0201040306050807", "72623859790382856"},
    {"UINT64_HGFEDCBA", "0807060504030201", "72623859790382856"},
    {"DOUBLE_ABCDEFGH", "3FF0000000000000", "1"},
    {"DOUBLE_ABCDEFGH", "3FB999999999999A", "0.1"},
    {"DOUBLE_ABCDEFGH", "3FD3333333333334", "0.30000000000000004"},
    {"DOUBLE_ABCDEFGH", "4340000000000000", "9007199254740992"},
    {"DOUBLE_ABCDEFGH", "4341C37937E08000", "1E+16"},
    {"DOUBLE_ABCDEFGH", "0000000000000000", "0"},
    {"DOUBLE_ABCDEFGH", "8000000000000000", "-0"},
    {"DOUBLE_ABCDEFGH", "0000000000000001", "5E-324"},
    {"DOUBLE_ABCDEFGH", "8000000000000001", "-5E-324"},
    {"DOUBLE_ABCDEFGH", "000FFFFFFFFFFFFF", "2.225073858507201E-308"},
    {"DOUBLE_ABCDEFGH", "0010000000000000", "2.2250738585072014E-308"},
    {"DOUBLE_ABCDEFGH", "7FEFFFFFFFFFFFFF", "1.7976931348623157E+308"},
    {"DOUBLE_ABCDEFGH", "FFEFFFFFFFFFFFFF", "-1.7976931348623157E+308"},
    {"DOUBLE_ABCDEFGH", "7FF0000000000000", "Inf"},
    {"DOUBLE_ABCDEFGH", "FFF0000000000000", "-Inf"},
    {"DOUBLE_ABCDEFGH", "7FF8000000000000", "NaN"},
    {"DOUBLE_ABCDEFGH", "FFF0000000000001", "NaN"},
    {"DOUBLE_ABCDEFGH", "7FF0000000000001", "NaN"},
    // Pi and 1.5 in the other orders.
    {"DOUBLE_GHEFCDAB", "2D18544421FB4009", "3.141592653589793"},
    {"DOUBLE_BADCFEHG", "0940FB214454182D", "3.141592653589793"},
    {"DOUBLE_HGFEDCBA", "182D4454FB210940", "3.141592653589793"},
    {"DOUBLE_GHEFCDAB", "0000000000003FF8", "1.5"},
};

TEST(BreadthFormats64, DecodersAreExactAtTheEdgesOfEveryType) {
  for (const DecodeCase& c : kDecodeTable) {
    const Wire8 wire = W(c.wire);
    EXPECT_EQ(Decode64(F(c.format), wire), c.text) << c.format << " " << c.wire;
  }
  EXPECT_EQ(Decode64(F("DOUBLE_GHEFCDAB"), W("0000000000003FF8"), ","), "1,5");
  EXPECT_EQ(Decode64(F("DOUBLE_ABCDEFGH"), W("000FFFFFFFFFFFFF"), ","), "2,225073858507201E-308");
}

// The text of a value reads back as the very same bytes (NaN reads back as
// the quiet NaN, its payload is not part of the text).
TEST(BreadthFormats64, TextReadsBackToTheSameBytes) {
  for (const DecodeCase& c : kDecodeTable) {
    const Format64 f = F(c.format);
    const Encoded64 e = Encode64(f, c.text);
    ASSERT_TRUE(e.Ok()) << c.format << " " << c.text << ": " << e.refusal;
    if (std::string(c.text) == "NaN") {
      EXPECT_EQ(BitsOfWire(f.order, e.wire), 0x7FF8000000000000u) << c.format;
    } else {
      EXPECT_EQ(Hex(e.wire), c.wire) << c.format << " " << c.text;
    }
  }
}

TEST(BreadthFormats64, EncodersTakeTypedTextOrRefuseIt) {
  struct Case {
    const char* format;
    const char* text;
    const char* wire;  // nullptr: refused with `refusal`
    const char* refusal;
  };
  const char* int64Range = "an INT64 value is a whole number from -9223372036854775808 to 9223372036854775807";
  const char* uint64Range = "a UINT64 value is a whole number from 0 to 18446744073709551615";
  const char* doubleRange =
      "a DOUBLE value is NaN, Inf, -Inf, 0 or a number of magnitude from 4.9406564584124654E-324 to "
      "1.7976931348623157E+308";
  const std::vector<Case> table = {
      {"INT64_ABCDEFGH", " 42 ", "000000000000002A", ""},
      {"INT64_HGFEDCBA", "-2", "FEFFFFFFFFFFFFFF", ""},
      {"INT64_ABCDEFGH", "0xFFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", ""},
      {"INT64_ABCDEFGH", "9223372036854775808", nullptr, int64Range},
      {"INT64_ABCDEFGH", "-9223372036854775809", nullptr, int64Range},
      {"INT64_ABCDEFGH", "1.5", nullptr, int64Range},
      {"INT64_ABCDEFGH", "1e3", nullptr, int64Range},
      {"INT64_ABCDEFGH", "+-5", nullptr, int64Range},
      {"INT64_ABCDEFGH", "", nullptr, int64Range},
      {"INT64_ABCDEFGH", "0x10000000000000000", nullptr, int64Range},
      {"UINT64_GHEFCDAB", "18446744073709551615", "FFFFFFFFFFFFFFFF", ""},
      {"UINT64_ABCDEFGH", "-0", "0000000000000000", ""},
      {"UINT64_ABCDEFGH", "18446744073709551616", nullptr, uint64Range},
      {"UINT64_ABCDEFGH", "-1", nullptr, uint64Range},
      {"DOUBLE_ABCDEFGH", "1,5", "3FF8000000000000", ""},
      {"DOUBLE_ABCDEFGH", "-1.5e-3", "BF589374BC6A7EFA", ""},
      {"DOUBLE_ABCDEFGH", "4.9406564584124654E-324", "0000000000000001", ""},
      {"DOUBLE_ABCDEFGH", "-inf", "FFF0000000000000", ""},
      {"DOUBLE_ABCDEFGH", "1e400", nullptr, doubleRange},
      {"DOUBLE_ABCDEFGH", "1e-400", nullptr, doubleRange},
      {"DOUBLE_ABCDEFGH", "1.2.3", nullptr, doubleRange},
      {"DOUBLE_ABCDEFGH", "0x1p3", nullptr, doubleRange},
      {"DOUBLE_ABCDEFGH", "nan(1)", nullptr, doubleRange},
      {"DOUBLE_ABCDEFGH", "", nullptr, doubleRange},
  };
  for (const Case& c : table) {
    const Encoded64 e = Encode64(F(c.format), c.text);
    if (c.wire) {
      EXPECT_TRUE(e.Ok()) << c.format << " \"" << c.text << "\": " << e.refusal;
      EXPECT_EQ(Hex(e.wire), c.wire) << c.format << " \"" << c.text << "\"";
    } else {
      EXPECT_EQ(e.refusal, "Invalid value \"" + std::string(c.text) + "\": " + c.refusal) << c.format;
    }
  }
}

TEST(BreadthFormats64, NamesOutsideTheirFamilyAreNotTaken) {
  EXPECT_EQ(F("UINT64_BADCFEHG"), (Format64{Kind64::Uint64, WordOrder64::BADCFEHG}));
  EXPECT_FALSE(Format64Named("HEX").has_value());
  EXPECT_FALSE(Format64Named("INT64_ABCD").has_value());
  EXPECT_EQ(RegisterViewNamed("BINARY"), RegisterView::Binary);
  EXPECT_FALSE(RegisterViewNamed("INT16").has_value());
}

TEST(BreadthFormats64, RegisterViewsBothWays) {
  struct Case {
    uint8_t hi, lo;
    const char *hex, *binary, *ascii;
  };
  const std::vector<Case> table = {
      {0x3F, 0x80, "3F80", "00111111 10000000", "?."},
      {0x41, 0x7A, "417A", "01000001 01111010", "Az"},
      {0x00, 0x00, "0000", "00000000 00000000", ".."},
      {0xFF, 0x20, "FF20", "11111111 00100000", ". "},
  };
  for (const Case& c : table) {
    EXPECT_EQ(RegisterViewText(RegisterView::Hex, c.hi, c.lo), c.hex);
    EXPECT_EQ(RegisterViewText(RegisterView::Binary, c.hi, c.lo), c.binary);
    EXPECT_EQ(RegisterViewText(RegisterView::Ascii, c.hi, c.lo), c.ascii);
    for (RegisterView v : {RegisterView::Hex, RegisterView::Binary}) {
      const EncodedRegister e = EncodeRegisterView(v, RegisterViewText(v, c.hi, c.lo));
      EXPECT_TRUE(e.Ok()) << e.refusal;
      EXPECT_EQ(e.bytes, (std::array<uint8_t, 2>{c.hi, c.lo}));
    }
  }
  struct Typed {
    RegisterView view;
    const char* text;
    std::array<uint8_t, 2> bytes;
    const char* refusal;
  };
  const std::vector<Typed> typed = {
      {RegisterView::Hex, "0x1f", {0x00, 0x1F}, ""},
      {RegisterView::Hex, "12345", {}, "Invalid value \"12345\": a HEX register is 1 to 4 hexadecimal digits"},
      {RegisterView::Hex, "0x", {}, "Invalid value \"0x\": a HEX register is 1 to 4 hexadecimal digits"},
      {RegisterView::Binary, "101", {0x00, 0x05}, ""},
      {RegisterView::Binary,
       "10000000000000001",
       {},
       "Invalid value \"10000000000000001\": a BINARY register is 1 to 16 binary digits"},
      {RegisterView::Ascii, "OK", {'O', 'K'}, ""},
      {RegisterView::Ascii, " A", {' ', 'A'}, ""},
      {RegisterView::Ascii, "A", {'A', 0}, ""},
      {RegisterView::Ascii, "ABC", {}, "Invalid value \"ABC\": an ASCII register is 1 or 2 printable characters"},
      {RegisterView::Ascii,
       "\xC3\xA9",
       {},
       "Invalid value \"\xC3\xA9\": an ASCII register is 1 or 2 printable characters"},
  };
  for (const Typed& t : typed) {
    const EncodedRegister e = EncodeRegisterView(t.view, t.text);
    EXPECT_EQ(e.refusal, t.refusal) << t.text;
    if (e.Ok()) {
      EXPECT_EQ(e.bytes, t.bytes) << t.text;
    }
  }
}

}  // namespace
}  // namespace modbus
