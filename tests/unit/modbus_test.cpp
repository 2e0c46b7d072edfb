// The Modbus layer on its own: conversions, number parsing, CRC-16, the register formats and their decoders,
// request frames from values and the assembly and checking of answers.
#include <bit>
#include <cmath>
#include <limits>
#include <tuple>

#include "common/number_text.h"
#include "modbus/address_notation.h"
#include "modbus/formats.h"
#include "modbus/requests.h"
#include "test_bytes.h"

namespace {

using namespace modbus;
using namespace testbytes;

enum Fmt { INT16, UINT16, F_ABCD, F_CDAB, F_BADC, F_DCBA, I_ABCD, I_CDAB, I_BADC, I_DCBA, U_ABCD, U_CDAB, U_BADC };
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(Convert, LongToByteArray) {
  // Zero is one byte whatever the count (count untouched); a count below 0 is the minimal one, written back.
  const std::vector<std::tuple<int32_t, int16_t, std::string, int16_t>> cases = {
      {0, 2, "00", 2},       {0, -1, "00", -1},
      {258, -1, "01 02", 2}, {-1, -1, "FF FF FF FF", 4},
      {0x1234, 1, "34", 1},  {5, 6, "00 00 00 00 00 05", 6},
      {5, 0, "", 0}};
  for (auto [value, countIn, bytes, countOut] : cases) {
    int16_t count = countIn;
    const std::string got = Hex(LongToByteArray(value, count));
    EXPECT_EQ(got + " count " + std::to_string(count), bytes + " count " + std::to_string(countOut))
        << value << " count " << countIn;
  }
}

TEST(Convert, BytesOfLongAndFloat) {
  // The four bytes, index 0 the least significant, as one number.
  auto u32 = [](const std::array<uint8_t, 4>& b) { return uint32_t(b[3]) << 24 | b[2] << 16 | b[1] << 8 | b[0]; };
  // The whole part, never rounded; zero outside 0..4294967295.
  for (auto [v, u] : std::vector<std::pair<double, uint32_t>>{
           {305419896, 0x12345678}, {12.9, 12}, {4294967295.0, 0xFFFFFFFF}, {-0.5, 0}, {4294967295.5, 0}, {kNaN, 0}})
    EXPECT_EQ(u32(BytesOfLong(v)), u) << v;
  // Rounded to the nearest single; zero on overflow.
  for (auto [v, u] : std::vector<std::pair<double, uint32_t>>{{-2.5, 0xC0200000},
                                                              {0.1, 0x3DCCCCCD},
                                                              {3.4028234663852886e38, 0x7F7FFFFF},
                                                              {1.401298464324817e-45, 1},
                                                              {3.4028235e38, 0x7F7FFFFF},  // past the largest, not over
                                                              {-3.4028235e38, 0xFF7FFFFF},
                                                              {1e39, 0},
                                                              {-1e39, 0},
                                                              {kNaN, 0}})
    EXPECT_EQ(u32(BytesOfFloat(v)), u) << v;
}

TEST(Convert, StringToLongAndDouble) {
  // A longer hex number keeps its low 32 bits; other texts are read as ParseLong reads them.
  const std::vector<std::pair<std::string, int32_t>> longs = {
      {" \r\n0x10 \n", 16},          {" 0X10 ", 0}, {"0x", 0}, {"0x1fzz", 31}, {"abc", 0}, {"12.51", 13},
      {"0x123456789ABC", 0x56789ABC}};
  for (const auto& [text, value] : longs) EXPECT_EQ(StringToLong(text), value) << '"' << text << '"';
  const std::vector<std::pair<std::string, double>> doubles = {
      {"1,5", 1.5}, {"1,234.5", 1.2345}, {"12abc3", 123}, {"5-3", 53}, {" -3,25 ", -3.25},
      {"-", 0},     {"-,5", -0.5},       {"--5", -5},     {"1e5", 15}, {std::string(400, '9'), 0}};
  for (const auto& [text, value] : doubles) EXPECT_EQ(StringToDouble(text), value) << '"' << text << '"';
}

TEST(Convert, IsHexAndHexToBytes) {
  for (auto [text, hex] : std::vector<std::pair<std::string, bool>>{
           {" 0x", true}, {"0x1F  ", true}, {"0X1", false}, {"12", false}, {"", false}, {"\n0x1", false}})
    EXPECT_EQ(IsHex(text), hex) << '"' << text << '"';
  // Pairs of digits form bytes; any other character ends a byte of one digit (a non-ASCII one too); at most 32767
  // characters, not bytes.
  const std::string longest(32767, 'A');
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"0103 0A", "01 03 0A"}, {"ABC", "AB 0C"},       {"A,B", "0A 0B"},   {"0x1F", "00 1F"},  {"FFF", "FF 0F"},
      {"xyz -+", ""},          {"--ab;;;cd", "AB CD"}, {"\u00E912", "12"}, {longest + "A", ""}};
  for (const auto& [text, bytes] : cases) EXPECT_EQ(Hex(HexToBytes(text)), bytes) << '"' << text << '"';
  EXPECT_EQ(HexToBytes(longest).size(), 16384u);
}

TEST(Convert, IsValidAddressText) {
  for (const char* ok : {"0", "16", " 65535 \r\n", "65535", "0x10", "0x1f", "0xFFFFF", "99999999999"})
    EXPECT_TRUE(IsValidAddressText(ok)) << ok;
  for (const char* bad : {"", "  ", "1F", "ABC", "0x", "0X10", "0x1G", "0x 1", "x10", "1 2", "-", ".", "1E3", "1e999",
                          "12.5", "-1", "+3"})
    EXPECT_FALSE(IsValidAddressText(bad)) << bad;
}

TEST(NumberText, ParseNumberLongAndInteger) {
  const std::vector<std::pair<std::string, std::optional<double>>> numbers = {
      {"12", 12},    {" -3.25 ", -3.25}, {"+7", 7},      {"1e3", 1000},   {".5", 0.5},         {"5.", 5},
      {"", {}},      {"-", {}},          {".", {}},      {"1,5", {}},     {"0x10", {}},        {"1e", {}},
      {"12abc", {}}, {"1e999", {}},      {"-1e999", {}}, {"1e-999", 0.0}, {"0.0001e-400", 0.0}};
  for (const auto& [text, value] : numbers) EXPECT_EQ(ParseNumber(text), value) << '"' << text << '"';
  const std::vector<std::pair<std::string, std::optional<int32_t>>> longs = {
      {"12.5", 12},        {"13.5", 14},
      {"-2.5", -2},        {"2147483647", INT32_MAX},
      {"2147483648", {}},  {"-2147483648.5", INT32_MIN},
      {"-2147483649", {}}, {"abc", {}}};
  for (const auto& [text, value] : longs) EXPECT_EQ(ParseLong(text), value) << text;
  EXPECT_EQ(std::make_pair(ParseInteger("32767"), ParseInteger("32768")),
            std::make_pair(std::optional<int16_t>(32767), std::optional<int16_t>()));
}

TEST(Crc16, AppendAndCheck) {
  Frame frame = HexToBytes("01 03 00 00 00 0A 00 00");
  EXPECT_EQ(AppendCRC(frame, 6), 2);
  EXPECT_EQ(AppendCRC(frame, 7), 0);  // no room: nothing written
  EXPECT_EQ(Hex(frame), "01 03 00 00 00 0A C5 CD");
  // A CRC over no data; too short for a CRC.
  const std::vector<std::pair<std::string, std::string>> cases = {{"01 03 00 00 00 0A C5 CD", "good C5 CD"},
                                                                  {"01 03 00 00 00 0A CD C5", "bad C5 CD"},
                                                                  {"FF FF", "good FF FF"},
                                                                  {"01", "bad FF FF"}};
  for (const auto& [frame, result] : cases) {
    std::array<uint8_t, 2> expected{0x12, 0x34};
    const bool good = CheckCRC(HexToBytes(frame), expected);
    EXPECT_EQ((good ? "good " : "bad ") + Digits(expected, " "), result) << frame;
  }
}

TEST(Formats, Decoders) {
  // The register bytes in wire order (the first register's high byte first) and their value; the smallest
  // subnormal; a single widened, not rounded to 0.1.
  const std::vector<std::tuple<int, uint32_t, double>> cases = {{I_ABCD, 0x80000000, -2147483648.0},
                                                                {I_ABCD, 0x7FFFFFFF, 2147483647},
                                                                {U_ABCD, 0xFFFFFFFF, 4294967295.0},
                                                                {F_CDAB, 0x00003F80, 1},
                                                                {F_BADC, 0x803F0000, 1},
                                                                {F_DCBA, 0x0000803F, 1},
                                                                {F_ABCD, 0x00000001, std::ldexp(1.0, -149)},
                                                                {F_DCBA, 0xCDCCCC3D, 0.100000001490116119384765625},
                                                                {F_ABCD, 0xFF800000, -kInf}};
  for (const auto& [format, w, value] : cases)
    EXPECT_EQ(DecodeFormat32(format, w >> 24, w >> 16 & 255, w >> 8 & 255, w & 255), value) << format << " " << w;
  EXPECT_TRUE(std::isnan(TO_FORMAT_FLOAT_ABCD(0x7F, 0xC0, 0, 0)) && std::isnan(TO_FORMAT_FLOAT_ABCD(0xFF, 0x80, 0, 1)));
  for (uint32_t e = 0; e < 255; ++e)
    for (uint32_t fraction : {0u, 1u, 2u, 0x400000u, 0x7FFFFEu, 0x7FFFFFu, 0x123456u})
      for (uint32_t u : {e << 23 | fraction, 1u << 31 | e << 23 | fraction})
        EXPECT_EQ(std::bit_cast<uint32_t>(FloatOfBytes(u >> 24, u >> 16 & 255, u >> 8 & 255, u & 255)), u) << u;
}

TEST(Formats, ValueText) {
  const std::vector<std::pair<double, std::string>> cases = {{4294967295.0, "4294967295"},
                                                             {-0.0, "0"},
                                                             {0.100000001490116119384765625, "0.100000001490116"},
                                                             {std::ldexp(1.0, -149), "1.40129846432482E-45"},
                                                             {1e15, "1E+15"},
                                                             {1e14, "100000000000000"},
                                                             {1234567890123456.0, "1.23456789012346E+15"},
                                                             {999999999999999.5, "1E+15"},
                                                             {0.0001, "0.0001"},
                                                             {0.000015, "1.5E-05"},
                                                             {kInf, "Inf"},
                                                             {-kInf, "-Inf"},
                                                             {kNaN, "NaN"}};
  for (const auto& [v, text] : cases) EXPECT_EQ(FormatValueText(v, "."), text) << v;
  EXPECT_EQ(FormatValueText(-2.5, ",") + " " + FormatValueText(0.000015, ",") + " " + FormatValueText(2.5, "") + " " +
                FormatValueText(0.5, "\u066B"),
            "-2,5 1,5E-05 2.5 0\u066B5");
}

TEST(Requests, FramesByteForByte) {
  // mode, slave, fc, addr, a, b, c (fc 1-4: a = count; 5, 6: a = value; 16: a = count, b, c = values), the frame
  // (transaction identifier 1 in TCP); 70000 is written as its low 16 bits, value 2 of a one-register 16 is
  // ignored, bytes that do not fit stay 0, a mode outside the list frames like RTU, a count beyond 255 keeps its high
  // byte.
  const std::vector<std::tuple<int16_t, int16_t, int16_t, int32_t, int32_t, int32_t, int32_t, std::string>> cases = {
      {1, 1, 3, 0, 10, 0, 0, "00 01 00 00 00 06 01 03 00 00 00 0A"},
      {2, 1, 3, 0, 10, 0, 0, "01 03 00 00 00 0A C5 CD"},
      {0, 17, 4, 8, 1, 0, 0, "11 04 00 08 00 01 B2 98"},
      {0, 1, 5, 172, 1, 0, 0, "01 05 00 AC FF 00 4C 1B"},
      {0, 1, 6, 1, 70000, 0, 0, "01 06 00 01 11 70 D5 BE"},
      {1, 1, 6, 65535, -1, 0, 0, "00 01 00 00 00 06 01 06 FF FF FF FF"},
      {1, 1, 16, 100, 1, 0x1234, 0x5555, "00 01 00 00 00 09 01 10 00 64 00 01 02 12 34"},
      {1, 1, 3, 65536, 1, 0, 0, "00 01 00 00 00 06 01 03 00 00 00 01"},
      {1, 300, 256, 1, 1, 0, 0, "00 01 00 00 00 06 00 00 00 01 00 01"},
      {5, 1, 3, 0, 10, 0, 0, "01 03 00 00 00 0A C5 CD"},
      {1, 1, 1, 0, 1000, 0, 0, "00 01 00 00 00 06 01 01 00 00 03 E8"}};
  for (const auto& [mode, slave, fc, addr, a, b, c, frame] : cases) {
    const Mode m = ModeOf(mode);
    const Frame built = fc == 5    ? WriteSingleCoilRequest(m, slave, fc, addr, a != 0, 1)
                        : fc == 6  ? WriteSingleRegisterRequest(m, slave, fc, addr, a, 1)
                        : fc == 16 ? WriteMultipleRegistersRequest(m, slave, fc, addr, a, b, c, 1)
                                   : ReadRequest(m, slave, fc, addr, a, 1);
    EXPECT_EQ(Hex(built), frame) << fc << " mode " << mode;
  }
  // A count far beyond the work buffer is laid out with what fits, its fields as given.
  const Frame big = WriteMultipleRegistersRequest(Mode::Tcp, 1, 16, 0, 300, 1, 2, 7);
  EXPECT_EQ(std::to_string(big.size()) + ": " + Hex(Frame(big.begin(), big.begin() + 13)),
            "255: 00 07 00 00 02 5F 01 10 00 00 01 2C 00");
}

TEST(Requests, TransactionIdentifierMovesOnOnlyInMbapFramingAndSaturates) {
  RequestValues read;
  read.slave = 1, read.function = 3, read.quantity = 1, read.format = Format::Uint16;
  // The first two bytes of each frame built, then the identifier left; the wire carries its low 16 bits.
  auto heads = [&read](int32_t id, std::initializer_list<Mode> modes) {
    std::string s;
    for (Mode mode : modes) {
      std::vector<Frame> out;
      read.mode = mode;
      BuildRequestFrames(read, id, out);
      s += Hex(out.at(0)).substr(0, 5) + "|";
    }
    return s + std::to_string(id);
  };
  EXPECT_EQ(heads(0, {Mode::Tcp, Mode::Tcp, Mode::Rtu, Mode::RtuOverTcp, Mode::Tcp}),
            "00 01|00 02|01 03|01 03|00 03|3");
  EXPECT_EQ(heads(65534, {Mode::Tcp, Mode::Tcp, Mode::Tcp}), "FF FF|00 00|00 01|65537");
  EXPECT_EQ(heads(2147483646, {Mode::Tcp, Mode::Tcp, Mode::Tcp}), "FF FF|FF FF|FF FF|2147483647");
}

TEST(Formats, RangesAndWordOrders) {
  for (int i = -1; i <= 29; ++i) {
    const Format f = static_cast<Format>(i);
    EXPECT_EQ(!FormatTag(i).empty(), i >= 0 && i <= 28) << i;
    EXPECT_EQ(IsOneRegister(f), i == 0 || i == 1 || (i >= 26 && i <= 28)) << i;
    EXPECT_EQ(Is32Bit(f), i >= 2 && i <= 13) << i;
    EXPECT_EQ(EncodeValue32(f, 1.0).has_value(), Is32Bit(f)) << i;
  }
  // Registers per value and the view's tag, by name: the one rule every caller follows.
  const std::vector<std::tuple<std::string, int, std::string>> named = {
      {"INT16", 1, "I16"},           {"UINT32_DCBA", 2, "U32"},
      {"INT64_ABCDEFGH", 4, "I64"},  {"UINT64_BADCFEHG", 4, "U64"},
      {"DOUBLE_HGFEDCBA", 4, "DBL"}, {"HEX", 1, "HEX"},
      {"BINARY", 1, "BIN"},          {"ASCII", 1, "ASC"}};
  for (const auto& [name, registers, tag] : named) {
    int index = -1;
    for (int i = 0; i < kAllFormatCount; ++i) index = FormatName(i) == name ? i : index;
    ASSERT_GE(index, 0) << name;
    EXPECT_EQ(std::make_pair(RegistersPerValue(static_cast<Format>(index)), std::string(FormatTag(index))),
              std::make_pair(registers, tag))
        << name;
  }
  EXPECT_TRUE(FormatName(kAllFormatCount).empty() && FormatName(-1).empty());
  // The registers of the four bytes 11 22 33 44 (A..D).
  const std::array<uint8_t, 4> abcd{0x44, 0x33, 0x22, 0x11};
  EXPECT_EQ(std::vector({RegistersOf(Format::FloatAbcd, abcd), RegistersOf(Format::Int32Cdab, abcd),
                         RegistersOf(Format::Uint32Badc, abcd), RegistersOf(Format::Uint32Dcba, abcd)}),
            (std::vector<std::pair<int, int>>{{0x1122, 0x3344}, {0x3344, 0x1122}, {0x2211, 0x4433}, {0x4433, 0x2211}}));
  // Encoding then decoding gives the value back in every 32-bit format.
  for (int i = 2; i <= 13; ++i) {
    const auto f = static_cast<Format>(i);
    const double v = KindOf(f) == ValueKind::Int32 ? -123456.0 : 123456.0;
    const auto [first, second] = RegistersOf(f, *EncodeValue32(f, v));
    EXPECT_EQ(DecodeFormat32(i, uint8_t(first >> 8), uint8_t(first), uint8_t(second >> 8), uint8_t(second)), v) << i;
  }
}

constexpr auto P = AddressNotation::Protocol, R = AddressNotation::RegisterNumber, F = AddressNotation::Reference;

TEST(AddressNotation, TypedAddressesToTheWire) {
  // notation, text, protocol address (-1: refused), table digit (-1: none); 40001 is just a number in protocol
  // notation, there is no table 2, 4001 is too short.
  const std::vector<std::tuple<AddressNotation, std::string, int, int>> cases = {
      {P, "0", 0, -1},         {P, "65535", 65535, -1},   {P, "65536", -1, -1},    {P, "0x1234", 0x1234, -1},
      {P, "40001", 40001, -1}, {R, "1", 0, -1},           {R, "65536", 65535, -1}, {R, "0", -1, -1},
      {R, "65537", -1, -1},    {R, " 40001 ", 40000, -1}, {R, "0x10", 15, -1},     {R, "99999999999", -1, -1},
      {F, "00001", 0, 0},      {F, "10001", 0, 1},        {F, "30010", 9, 3},      {F, "40001", 0, 4},
      {F, "49999", 9998, 4},   {F, "400001", 0, 4},       {F, "465536", 65535, 4}, {F, "465537", -1, -1},
      {F, "40000", -1, -1},    {F, "400000", -1, -1},     {F, "20001", -1, -1},    {F, "4001", -1, -1},
      {F, "4000001", -1, -1},  {F, "0x9C41", -1, -1},     {F, "", -1, -1},         {R, "0x100000001", -1, -1}};
  for (const auto& [n, text, protocol, digit] : cases) {
    const TypedAddress a = ParseAddress(n, text);
    const int got = a.Ok() ? a.protocol : -1, gotDigit = a.Ok() && a.table ? TableDigit(*a.table) : -1;
    EXPECT_EQ(std::make_pair(got, gotDigit), std::make_pair(protocol, digit))
        << text << " in notation " << int(n) << ": " << a.refusal;
  }
}

TEST(AddressNotation, AddressesWrittenBackAndTheStoredChoice) {
  // Beyond 9999 a reference takes the 6-digit form; what the view writes reads back as the same address.
  const std::vector<std::tuple<AddressNotation, int32_t, int32_t, bool, std::string>> cases = {
      {P, 3, 0, false, "00000"},     {P, 3, 0x1F, true, "0x001F"},   {R, 3, 0, false, "00001"},
      {R, 3, 65535, false, "65536"}, {F, 3, 0, false, "40001"},      {F, 4, 9998, false, "39999"},
      {F, 4, 9999, false, "310000"}, {F, 1, 65535, false, "065536"}, {F, 2, 7, false, "10008"},
      {F, 16, 0, true, "40001"},     {R, 3, 65535, true, "0x10000"}};
  for (const auto& [n, fc, protocol, hex, text] : cases) {
    EXPECT_EQ(AddressText(n, TableOf(fc), protocol, hex), text) << text;
    EXPECT_TRUE(hex || ParseAddress(n, text).protocol == protocol) << text;
  }
  for (const auto& [stored, expected] :
       std::vector<std::pair<int, AddressNotation>>{{0, P}, {1, R}, {2, F}, {3, P}, {-1, P}})
    EXPECT_EQ(AddressNotationOf(stored), expected) << stored;
}

const Frame kTcpRead = {0, 5, 0, 0, 0, 6, 1, 3, 0, 0, 0, 1}, kTcpWrite = {0, 1, 0, 0, 0, 6, 1, 6, 0, 1, 0, 3};
const Frame kRtuRead = WithCrc({1, 3, 0, 0, 0, 1});

// Each answer fed in one chunk with two bytes after it that belong to no answer.
TEST(ResponseAssembly, FaultsInTheOrderFirstFoundEachOnceAndTheException) {
  const Frame goodCrc = WithCrc({2, 3, 2, 0, 10});
  Frame badCrc = goodCrc;
  badCrc[5] ^= 0xFF;
  const Fault tid{"Wrong Transaction ID (expected 00 05)", 0, 2}, pid{"Invalid protocol ID (expected 00 00)", 2, 2},
      mbap{"Invalid MBAP Length", 4, 2}, slave{"Wrong response slave (expected 01)", 0, 1},
      cmd{"Wrong response command (expected 03)", 1, 1}, tid0{"Wrong Transaction ID (expected 00)", 0, 2},
      crc{"Bad Checksum (expected " + Hex({goodCrc[5], goodCrc[6]}) + ")", 5, 2};
  const std::vector<Fault> all = {tid, pid, mbap, {slave.message, 6, 1}, {cmd.message, 7, 1}};
  const Frame tcpRead0 = {0, 0, 0, 0, 0, 6, 1, 3, 0, 0, 0, 1},
              write22 = {0, 1, 0, 0, 0, 8, 1, 0x16, 0, 4, 0, 0xF2, 0, 0x25};
  // An MBAP length found wrong early and at the end is one fault; one that disagrees with the function's own rule
  // is painted while the rule sizes the frame; a mode outside the list frames like RTU.
  const std::tuple<Mode, Frame, Frame, std::vector<Fault>, std::optional<uint8_t>> cases[] = {
      {Mode::Tcp, tcpRead0, {0, 1, 0, 0, 0, 5, 1, 3, 2, 0, 42}, {tid0}, {}},
      {Mode::Tcp, kTcpWrite, {0, 1, 0, 0, 0, 7, 1, 6, 0, 1, 0, 3}, {mbap}, {}},
      {Mode::Tcp, kTcpRead, {0, 5, 0, 0, 0, 3, 1, 0x83, 2}, {}, 2},
      {Mode::Tcp, kTcpRead, {0, 5, 0, 0, 0, 3, 1, 0x83, 12}, {}, 12},
      {Mode::RtuOverTcp, kRtuRead, WithCrc({1, 0x83, 0}), {}, 0},
      {Mode::Rtu, kRtuRead, badCrc, {slave, crc}, {}},
      {Mode::RtuOverTcp, kRtuRead, WithCrc({1, 0x84, 2}), {cmd}, 2},
      {Mode::Tcp, kTcpRead, {0, 9, 0, 1, 0, 2, 7, 4, 2, 0, 42}, all, {}},
      {ModeOf(7), kRtuRead, WithCrc({1, 3, 2, 0, 1}), {}, {}},
      {Mode::Tcp, write22, {0, 1, 0, 0, 0, 9, 1, 0x16, 0, 4, 0, 0xF2, 0, 0x25}, {mbap}, {}}};
  for (const auto& [mode, request, response, faults, exception] : cases) {
    Frame chunk = response;
    chunk.insert(chunk.end(), {0xAA, 0xBB});
    const Outcome got = AssembleBothWays(mode, request, {chunk});
    EXPECT_EQ(got, (Outcome{"1", true, response, got.answer, faults, exception})) << Hex(response);
  }
}

TEST(ResponseAssembly, SplitFramesCompleteOnTheByteThatReachesTheLength) {
  const std::tuple<Mode, Frame, Frame> cases[] = {
      {Mode::RtuOverTcp, kRtuRead, WithCrc({1, 3, 2, 0, 10})},
      {Mode::Rtu, WithCrc({1, 16, 0, 1, 0, 2, 4, 0, 1, 0, 2}), WithCrc({1, 16, 0, 1, 0, 2})},
      {Mode::RtuOverTcp, kRtuRead, WithCrc({1, 0x83, 2})},
      {Mode::Tcp, {0, 1, 0, 0, 0, 6, 1, 1, 0, 0, 0, 9}, {0, 1, 0, 0, 0, 5, 1, 1, 2, 0xFF, 1}},
      {Mode::Tcp, {0, 1, 0, 0, 0, 6, 1, 5, 0, 0, 0xFF, 0}, {0, 1, 0, 0, 0, 6, 1, 5, 0, 0, 0xFF, 0}},
      {Mode::Tcp, kTcpRead, {0, 5, 0, 0, 0, 3, 1, 0x83, 2}}};
  for (const auto& [mode, request, response] : cases)
    for (long split = 1; split < static_cast<long>(response.size()); ++split) {
      const Outcome got = AssembleBothWays(
          mode, request,
          {Frame(response.begin(), response.begin() + split), Frame(response.begin() + split, response.end())});
      EXPECT_EQ(got.done + " " + Hex(got.received) + " faults " + std::to_string(got.faults.size()),
                "01 " + Hex(response) + " faults 0")
          << "split " << split;
    }
}

TEST(ResponseAssembly, UnknownFunctionTakesItsLengthFromTheMbapHeaderOrTheChunk) {
  // mode, request, chunks, which chunk completes it, the frame's length. An RTU answer is at least slave, function,
  // one byte and the CRC; the size of the chunk being fed counts from the slave byte, whatever came in earlier
  // chunks; an MBAP length beyond 16 bits never completes.
  const std::tuple<Mode, Frame, std::vector<Frame>, std::string, size_t> cases[] = {
      {Mode::Tcp, {0, 1, 0, 0, 0, 2, 1, 0x41}, {{0, 1, 0, 0, 0, 4, 1, 0x41, 14, 1, 0xEE, 0xEE}}, "1", 10},
      {Mode::RtuOverTcp, WithCrc({1, 0x41}), {WithCrc({1, 0x41, 3, 0xAA, 0xBB, 0xCC})}, "1", 8},
      {Mode::RtuOverTcp, WithCrc({1, 0x41}), {{1, 0x41, 0}, {0, 0}}, "01", 5},
      {Mode::Rtu, WithCrc({1, 0x41}), {{1, 0x41, 7, 7}, {7, 7, 7, 7, 7, 7}}, "01", 6},
      {Mode::Tcp, {0, 1, 0, 0, 0, 2, 1, 0x41}, {{0, 1, 0, 0, 0x9C, 0x40, 1, 0x41}, Frame(100, 0x55)}, "00", 108}};
  for (const auto& [mode, request, chunks, done, length] : cases) {
    const Outcome a = AssembleBothWays(mode, request, chunks);
    EXPECT_EQ(std::make_pair(a.done, a.received.size()), std::make_pair(done, length)) << Hex(chunks[0]);
  }
}

TEST(ResponseAssembly, AStreamingPeerCannotGrowTheBufferBeyondOneBound) {
  // An answer that never completes ends at the bound with one fault on its last byte, byte by byte or in chunks;
  // a frame the rules can tell completes below the bound as before.
  const Frame request{0, 1, 0, 0, 0, 2, 1, 0x41}, rest(70000, 0x55);
  const Fault atBound{"No frame ends within 65536 bytes", kMaxResponseBytes - 1, 1};
  // the MBAP length, chunk size for the 70,000 bytes after the header, length held at the end
  const std::tuple<uint8_t, uint8_t, size_t, size_t> cases[] = {{0x9C, 0x40, 1, size_t(kMaxResponseBytes)},
                                                                {0x9C, 0x40, 70000, size_t(kMaxResponseBytes)},
                                                                {0x7D, 0x00, 4096, 6u + 0x7D00}};
  for (const auto& [hi, lo, chunk, held] : cases) {
    ResponseAssembler a(Mode::Tcp, request);
    int completions = a.FeedChunk({0, 1, 0, 0, hi, lo, 1, 0x41}) ? 1 : 0;
    for (size_t at = 0; at < rest.size(); at += chunk)
      completions += a.FeedChunk(rest.data() + at, std::min(chunk, rest.size() - at)) ? 1 : 0;
    const bool bound = held == size_t(kMaxResponseBytes),
               faultAtBound = !a.Faults().empty() && a.Faults().back() == atBound;
    EXPECT_EQ(std::make_tuple(completions, a.Complete(), a.Received().size(), faultAtBound),
              std::make_tuple(1, true, held, bound))
        << int(hi) << " " << int(lo) << " in chunks of " << chunk;
  }
}

}  // namespace
