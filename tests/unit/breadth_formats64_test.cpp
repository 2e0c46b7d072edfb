// The 64-bit formats at the edges of each type, the word orders against hand-written wire bytes, exact text both
// ways, and the register views.
#include "modbus/formats64.h"
#include "test_bytes.h"

namespace modbus {
namespace {

using testbytes::Digits;

Wire8 W(const std::string& hex16) {
  Wire8 w{};
  const Frame f = HexToBytes(hex16);
  std::copy_n(f.begin(), std::min<size_t>(8, f.size()), w.begin());
  return w;
}

Format64 F(std::string_view name) {
  const std::optional<Format64> f = Format64Named(name);
  EXPECT_TRUE(f.has_value()) << name;
  return f.value_or(Format64{});
}

// format, wire bytes in the order they arrive (the first register's high byte first), text
const std::vector<std::tuple<std::string, std::string, std::string>> kDecodeTable = {
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
    {"DOUBLE_GHEFCDAB", "0000000000003FF8", "1.5"}};

// The text of a value reads back as the very same bytes (NaN reads back as the quiet NaN, its payload is not part of
// the text; every NaN row is in the order ABCDEFGH).
TEST(BreadthFormats64, DecodersAreExactAtTheEdgesOfEveryTypeAndTheirTextReadsBack) {
  for (const auto& [format, wire, text] : kDecodeTable) {
    EXPECT_EQ(Decode64(F(format), W(wire)), text) << format << " " << wire;
    const Encoded64 e = Encode64(F(format), text);
    EXPECT_EQ(e.refusal + Digits(e.wire), text == "NaN" ? "7FF8000000000000" : wire) << format << " " << text;
  }
  EXPECT_EQ(Decode64(F("DOUBLE_GHEFCDAB"), W("0000000000003FF8"), ",") + " " +
                Decode64(F("DOUBLE_ABCDEFGH"), W("000FFFFFFFFFFFFF"), ","),
            "1,5 2,225073858507201E-308");
}

TEST(BreadthFormats64, EncodersTakeTypedTextOrRefuseIt) {
  const std::string int64Range = "an INT64 value is a whole number from -9223372036854775808 to 9223372036854775807",
                    uint64Range = "a UINT64 value is a whole number from 0 to 18446744073709551615",
                    doubleRange =
                        "a DOUBLE value is NaN, Inf, -Inf, 0 or a number of magnitude from 4.9406564584124654E-324 to "
                        "1.7976931348623157E+308";
  // format, text, the wire bytes or the refusal's reason
  const std::vector<std::tuple<std::string, std::string, std::string>> table = {
      {"INT64_ABCDEFGH", " 42 ", "000000000000002A"},
      {"INT64_HGFEDCBA", "-2", "FEFFFFFFFFFFFFFF"},
      {"INT64_ABCDEFGH", "0xFFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF"},
      {"INT64_ABCDEFGH", "9223372036854775808", int64Range},
      {"INT64_ABCDEFGH", "-9223372036854775809", int64Range},
      {"INT64_ABCDEFGH", "1.5", int64Range},
      {"INT64_ABCDEFGH", "1e3", int64Range},
      {"INT64_ABCDEFGH", "+-5", int64Range},
      {"INT64_ABCDEFGH", "", int64Range},
      {"INT64_ABCDEFGH", "0x10000000000000000", int64Range},
      {"UINT64_GHEFCDAB", "18446744073709551615", "FFFFFFFFFFFFFFFF"},
      {"UINT64_ABCDEFGH", "-0", "0000000000000000"},
      {"UINT64_ABCDEFGH", "18446744073709551616", uint64Range},
      {"UINT64_ABCDEFGH", "-1", uint64Range},
      {"DOUBLE_ABCDEFGH", "1,5", "3FF8000000000000"},
      {"DOUBLE_ABCDEFGH", "-1.5e-3", "BF589374BC6A7EFA"},
      {"DOUBLE_ABCDEFGH", "4.9406564584124654E-324", "0000000000000001"},
      {"DOUBLE_ABCDEFGH", "-inf", "FFF0000000000000"},
      {"DOUBLE_ABCDEFGH", "1e400", doubleRange},
      {"DOUBLE_ABCDEFGH", "1e-400", doubleRange},
      {"DOUBLE_ABCDEFGH", "1.2.3", doubleRange},
      {"DOUBLE_ABCDEFGH", "0x1p3", doubleRange},
      {"DOUBLE_ABCDEFGH", "nan(1)", doubleRange},
      {"DOUBLE_ABCDEFGH", "", doubleRange}};
  for (const auto& [format, text, expected] : table) {
    const Encoded64 e = Encode64(F(format), text);
    const bool refused = expected.size() != 16;
    EXPECT_EQ(e.Ok() ? Digits(e.wire) : e.refusal, refused ? "Invalid value \"" + text + "\": " + expected : expected)
        << format << " \"" << text << "\"";
  }
}

TEST(BreadthFormats64, NamesOutsideTheirFamilyAreNotTaken) {
  EXPECT_EQ(F("UINT64_BADCFEHG"), (Format64{Kind64::Uint64, WordOrder64::BADCFEHG}));
  EXPECT_FALSE(Format64Named("HEX") || Format64Named("INT64_ABCD") || RegisterViewNamed("INT16"));
  EXPECT_EQ(RegisterViewNamed("BINARY"), RegisterView::Binary);
}

TEST(BreadthFormats64, RegisterViewsBothWays) {
  // the register, its text in HEX, BINARY and ASCII; the first two read back as the same bytes
  const std::vector<std::pair<std::array<uint8_t, 2>, std::string>> table = {
      {{0x3F, 0x80}, "3F80|00111111 10000000|?."},
      {{0x41, 0x7A}, "417A|01000001 01111010|Az"},
      {{0x00, 0x00}, "0000|00000000 00000000|.."},
      {{0xFF, 0x20}, "FF20|11111111 00100000|. "}};
  for (const auto& [b, texts] : table) {
    std::string got;
    for (RegisterView v : {RegisterView::Hex, RegisterView::Binary, RegisterView::Ascii})
      got += (got.empty() ? "" : "|") + RegisterViewText(v, b[0], b[1]);
    EXPECT_EQ(got, texts);
    for (RegisterView v : {RegisterView::Hex, RegisterView::Binary}) {
      const EncodedRegister e = EncodeRegisterView(v, RegisterViewText(v, b[0], b[1]));
      EXPECT_EQ(e.refusal + Digits(e.bytes), Digits(b));
    }
  }
  const std::string hex = "\": a HEX register is 1 to 4 hexadecimal digits",
                    binary = "\": a BINARY register is 1 to 16 binary digits",
                    ascii = "\": an ASCII register is 1 or 2 printable characters";
  // view, text, the bytes or the refusal
  const std::vector<std::tuple<RegisterView, std::string, std::string>> typed = {
      {RegisterView::Hex, "0x1f", "001F"},
      {RegisterView::Hex, "12345", "Invalid value \"12345" + hex},
      {RegisterView::Hex, "0x", "Invalid value \"0x" + hex},
      {RegisterView::Binary, "101", "0005"},
      {RegisterView::Binary, "10000000000000001", "Invalid value \"10000000000000001" + binary},
      {RegisterView::Ascii, "OK", "4F4B"},
      {RegisterView::Ascii, " A", "2041"},
      {RegisterView::Ascii, "A", "4100"},
      {RegisterView::Ascii, "ABC", "Invalid value \"ABC" + ascii},
      {RegisterView::Ascii, "\xC3\xA9", "Invalid value \"\xC3\xA9" + ascii}};
  for (const auto& [view, text, expected] : typed) {
    const EncodedRegister e = EncodeRegisterView(view, text);
    EXPECT_EQ(e.Ok() ? Digits(e.bytes) : e.refusal, expected) << text;
  }
}

}  // namespace
}  // namespace modbus
