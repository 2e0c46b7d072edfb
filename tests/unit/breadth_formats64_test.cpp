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

// format, then each wire (the bytes in the order they arrive, the first register's high byte first) = its text:
// the edges of each type, 2^53 + 1 (a double would make it ...992), 0x0102030405060708 and pi in every order.
const std::vector<std::pair<std::string, std::vector<std::string>>> kDecodeTable = {
    {"INT64_ABCDEFGH",
     {"7FFFFFFFFFFFFFFF=9223372036854775807", "8000000000000000=-9223372036854775808",
      "0020000000000001=9007199254740993"}},
    {"INT64_HGFEDCBA", {"0000000000000080=-9223372036854775808"}},
    {"INT64_GHEFCDAB", {"FFFFFFFFFFFFFFFF=-1"}},
    {"INT64_BADCFEHG", {"0080000000000100=-9223372036854775807"}},
    {"UINT64_ABCDEFGH",
     {"FFFFFFFFFFFFFFFF=18446744073709551615", "FFFFFFFFFFFFFFFE=18446744073709551614", "0000000000000000=0",
      "0102030405060708=72623859790382856"}},
    {"UINT64_GHEFCDAB", {"0708050603040102=72623859790382856"}},
    {"UINT64_BADCFEHG", {"0201040306050807=72623859790382856"}},
    {"UINT64_HGFEDCBA", {"0807060504030201=72623859790382856"}},
    {"DOUBLE_ABCDEFGH",
     {"3FF0000000000000=1", "3FB999999999999A=0.1", "3FD3333333333334=0.30000000000000004",
      "4340000000000000=9007199254740992", "4341C37937E08000=1E+16", "0000000000000000=0", "8000000000000000=-0",
      "0000000000000001=5E-324", "8000000000000001=-5E-324", "000FFFFFFFFFFFFF=2.225073858507201E-308",
      "0010000000000000=2.2250738585072014E-308", "7FEFFFFFFFFFFFFF=1.7976931348623157E+308",
      "FFEFFFFFFFFFFFFF=-1.7976931348623157E+308", "7FF0000000000000=Inf", "FFF0000000000000=-Inf",
      "7FF8000000000000=NaN", "FFF0000000000001=NaN", "7FF0000000000001=NaN"}},
    {"DOUBLE_GHEFCDAB", {"2D18544421FB4009=3.141592653589793", "0000000000003FF8=1.5"}},
    {"DOUBLE_BADCFEHG", {"0940FB214454182D=3.141592653589793"}},
    {"DOUBLE_HGFEDCBA", {"182D4454FB210940=3.141592653589793"}}};

// The text of a value reads back as the very same bytes (NaN reads back as the quiet NaN, its payload is not part of
// the text; every NaN row is in the order ABCDEFGH).
TEST(BreadthFormats64, DecodersAreExactAtTheEdgesOfEveryTypeAndTheirTextReadsBack) {
  for (const auto& [format, rows] : kDecodeTable)
    for (const std::string& row : rows) {
      const std::string wire = row.substr(0, 16), text = row.substr(17);
      EXPECT_EQ(Decode64(F(format), W(wire)), text) << format << " " << wire;
      const Encoded64 e = Encode64(F(format), text);
      EXPECT_EQ(e.refusal + Digits(e.wire), text == "NaN" ? "7FF8000000000000" : wire) << format << " " << text;
    }
  EXPECT_EQ(Decode64(F("DOUBLE_GHEFCDAB"), W("0000000000003FF8"), ",") + " " +
                Decode64(F("DOUBLE_ABCDEFGH"), W("000FFFFFFFFFFFFF"), ","),
            "1,5 2,225073858507201E-308");
}

TEST(BreadthFormats64, EncodersTakeTypedTextOrRefuseIt) {
  const std::string int64Range =
                        "an INT64 value is a whole number from -9223372036854775808 "
                        "to 9223372036854775807",
                    uint64Range = "a UINT64 value is a whole number from 0 to 18446744073709551615",
                    doubleRange =
                        "a DOUBLE value is NaN, Inf, -Inf, 0 or a number of "
                        "magnitude from 4.9406564584124654E-324 to "
                        "1.7976931348623157E+308";
  // format, text, the wire bytes
  const std::vector<std::tuple<std::string, std::string, std::string>> taken = {
      {"INT64_ABCDEFGH", " 42 ", "000000000000002A"},
      {"INT64_ABCDEFGH", "0xFFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF"},
      {"UINT64_ABCDEFGH", "-0", "0000000000000000"},
      {"DOUBLE_ABCDEFGH", "1,5", "3FF8000000000000"},
      {"DOUBLE_ABCDEFGH", "-1.5e-3", "BF589374BC6A7EFA"},
      {"DOUBLE_ABCDEFGH", "4.9406564584124654E-324", "0000000000000001"},
      {"DOUBLE_ABCDEFGH", "-inf", "FFF0000000000000"}};
  for (const auto& [format, text, wire] : taken) {
    const Encoded64 e = Encode64(F(format), text);
    EXPECT_EQ(e.refusal + Digits(e.wire), wire) << format << " \"" << text << "\"";
  }
  // format, the reason, the texts refused for it
  const std::vector<std::tuple<std::string, std::string, std::vector<std::string>>> refused = {
      {"INT64_ABCDEFGH",
       int64Range,
       {"9223372036854775808", "-9223372036854775809", "1.5", "1e3", "+-5", "", "0x10000000000000000"}},
      {"UINT64_ABCDEFGH", uint64Range, {"18446744073709551616", "-1"}},
      {"DOUBLE_ABCDEFGH", doubleRange, {"1e400", "1e-400", "1.2.3", "0x1p3", "nan(1)", ""}}};
  for (const auto& [format, reason, texts] : refused)
    for (const std::string& text : texts)
      EXPECT_EQ(Encode64(F(format), text).refusal, "Invalid value \"" + text + "\": " + reason) << format;
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
