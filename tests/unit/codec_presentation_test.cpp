// Conversions, number parsing, CRC-16, value formats, the command line; on the panel: request builders, requests
// composed from the form (sent and previewed), the response view and its mends, the inspector, the log.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <numeric>
#include <string>
#include <tuple>
#include <vector>

#include "codec/convert.h"
#include "codec/crc16.h"
#include "common/module1.h"
#include "common/number_text.h"
#include "fakes/fake_platform.h"
#include "panel/frmMain.h"
#include "presentation/formats.h"
#include "presentation/register_decoding.h"

namespace {

enum Fmt { INT16, UINT16, F_ABCD, F_CDAB, F_BADC, F_DCBA, I_ABCD, I_CDAB, I_BADC, I_DCBA, U_ABCD, U_CDAB, U_BADC };
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::string Hex(const Frame& f) {
  std::string s;
  for (uint8_t b : f) s += (s.empty() ? "" : " ") + std::string{"0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 15]};
  return s;
}

TEST(Convert, LongToByteArray) {
  // Zero is one byte whatever the count (count untouched); a count below 0 is the minimal one, written back.
  const std::vector<std::tuple<int32_t, int16_t, std::string, int16_t>> cases = {
      {0, 2, "00", 2},       {0, -1, "00", -1},
      {258, -1, "01 02", 2}, {-1, -1, "FF FF FF FF", 4},
      {0x1234, 1, "34", 1},  {5, 6, "00 00 00 00 00 05", 6},
      {5, 0, "", 0}};
  for (auto [value, countIn, bytes, countOut] : cases) {
    int16_t count = countIn;
    EXPECT_EQ(Hex(LongToByteArray(value, count)), bytes) << value << " count " << countIn;
    EXPECT_EQ(count, countOut) << value << " count " << countIn;
  }
}

// The four bytes, index 0 the least significant, as one number.
uint32_t U32(const std::array<uint8_t, 4>& b) { return uint32_t(b[3]) << 24 | b[2] << 16 | b[1] << 8 | b[0]; }

TEST(Convert, BytesOfLongAndFloat) {
  // The whole part, never rounded; zero outside 0..4294967295.
  for (auto [v, u] : std::vector<std::pair<double, uint32_t>>{
           {305419896, 0x12345678}, {12.9, 12}, {4294967295.0, 0xFFFFFFFF}, {-0.5, 0}, {4294967295.5, 0}, {kNaN, 0}})
    EXPECT_EQ(U32(BytesOfLong(v)), u) << v;
  // Rounded to the nearest single; zero on overflow.
  for (auto [v, u] : std::vector<std::pair<double, uint32_t>>{
           {-2.5, 0xC0200000}, {0.1, 0x3DCCCCCD}, {3.4028234663852886e38, 0x7F7FFFFF}, {1.401298464324817e-45, 1}})
    EXPECT_EQ(U32(BytesOfFloat(v)), u) << v;
  for (double v : {1e39, -1e39, kInf, kNaN}) EXPECT_EQ(U32(BytesOfFloat(v)), 0u) << v;
}

TEST(Convert, StringToLong) {
  const std::vector<std::pair<std::string, int32_t>> cases = {
      {" \r\n0x10 \n", 16}, {" 0X10 ", 0}, {"0x", 0},    {"0x1fzz", 31}, {"1F", 0}, {"abc", 0},
      {"12.5", 12},         {"13.5", 14},  {"-2.5", -2}, {"12.51", 13},  {"-", 0},  {"1e3", 1000}};
  for (const auto& [text, value] : cases) EXPECT_EQ(StringToLong(text), value) << '"' << text << '"';
  EXPECT_EQ(StringToLong("2147483647"), INT32_MAX);
  EXPECT_EQ(StringToLong("-2147483648"), INT32_MIN);
  EXPECT_EQ(StringToLong("2147483648"), 0);                    // outside the Long range
  EXPECT_EQ(StringToLong("0x123456789ABC") & 0xFFFF, 0x9ABC);  // low 16 bits of a longer hex number
}

TEST(Convert, StringToDouble) {
  const std::vector<std::pair<std::string, double>> cases = {
      {"1,5", 1.5}, {"1.5.0", 1.5}, {"1,234.5", 1.2345}, {"12abc3", 123}, {"5-3", 53}, {" -3,25 ", -3.25},
      {"-", 0},     {".", 0},       {"-,5", -0.5},       {"--5", -5},     {"1e5", 15}, {std::string(400, '9'), 0}};
  for (const auto& [text, value] : cases) EXPECT_EQ(StringToDouble(text), value) << '"' << text << '"';
}

TEST(Convert, IsHexAndHexToBytes) {
  for (auto [text, hex] : std::vector<std::pair<std::string, bool>>{
           {" 0x", true}, {"0x1F  ", true}, {"0X1", false}, {"12", false}, {"", false}, {"\n0x1", false}})
    EXPECT_EQ(IsHex(text), hex) << '"' << text << '"';
  // Pairs of digits form bytes; any other character ends a byte of one digit (a non-ASCII one too).
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"0103 0A", "01 03 0A"}, {"ABC", "AB 0C"}, {"A,B", "0A 0B"},       {"0x1F", "00 1F"},
      {"FFF", "FF 0F"},        {"xyz -+", ""},   {"--ab;;;cd", "AB CD"}, {"\u00E912", "12"}};
  for (const auto& [text, bytes] : cases) EXPECT_EQ(Hex(HexToBytes(text)), bytes) << '"' << text << '"';
  const std::string longest(32767, 'A');  // at most 32767 characters, not bytes
  EXPECT_EQ(HexToBytes(longest).size(), 16384u);
  EXPECT_TRUE(HexToBytes(longest + "A").empty());
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
  EXPECT_EQ(ParseInteger("32767"), 32767);
  EXPECT_EQ(ParseInteger("32768"), std::nullopt);
}

TEST(Crc16, CheckValueAppendAndCheck) {
  EXPECT_EQ(Crc16Modbus(reinterpret_cast<const uint8_t*>("123456789"), 9), 0x4B37);
  Frame frame = HexToBytes("01 03 00 00 00 0A 00 00");
  EXPECT_EQ(AppendCRC(frame, 6), 2);
  EXPECT_EQ(AppendCRC(frame, 7), 0);  // no room: nothing written
  EXPECT_EQ(Hex(frame), "01 03 00 00 00 0A C5 CD");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"01 03 00 00 00 0A C5 CD", "good C5 CD"},
      {"01 03 00 00 00 0A CD C5", "bad C5 CD"},
      {"FF FF", "good FF FF"},
      {"01", "bad FF FF"}};  // a CRC over no data; too short for a CRC
  for (const auto& [frame, result] : cases) {
    std::array<uint8_t, 2> expected{0x12, 0x34};
    const bool good = CheckCRC(HexToBytes(frame), expected);
    EXPECT_EQ((good ? "good " : "bad ") + Hex({expected[0], expected[1]}), result) << frame;
  }
}

TEST(Formats, Decoders) {
  // The register bytes in wire order (the first register's high byte first) and their value.
  const std::vector<std::tuple<int, uint32_t, double>> cases = {
      {I_ABCD, 0x80000000, -2147483648.0},
      {I_ABCD, 0x7FFFFFFF, 2147483647},
      {U_ABCD, 0xFFFFFFFF, 4294967295.0},
      {F_ABCD, 0x3F800000, 1},
      {F_CDAB, 0x00003F80, 1},
      {F_BADC, 0x803F0000, 1},
      {F_DCBA, 0x0000803F, 1},
      {F_ABCD, 0x00000001, std::ldexp(1.0, -149)},          // smallest subnormal
      {F_DCBA, 0xCDCCCC3D, 0.100000001490116119384765625},  // widened, not rounded to 0.1
      {F_ABCD, 0xFF800000, -kInf},
  };
  for (const auto& [format, w, value] : cases)
    EXPECT_EQ(DecodeFormat32(format, w >> 24, w >> 16 & 255, w >> 8 & 255, w & 255), value) << format << " " << w;
  EXPECT_TRUE(std::isnan(TO_FORMAT_FLOAT_ABCD(0x7F, 0xC0, 0, 0)) && std::isnan(TO_FORMAT_FLOAT_ABCD(0xFF, 0x80, 0, 1)));
}

TEST(Formats, FloatOfBytesMatchesTheBitPatternEverywhere) {
  for (uint32_t e = 0; e < 255; ++e)
    for (uint32_t fraction : {0u, 1u, 2u, 0x400000u, 0x7FFFFEu, 0x7FFFFFu, 0x123456u})
      for (uint32_t u : {e << 23 | fraction, 1u << 31 | e << 23 | fraction})
        EXPECT_EQ(std::bit_cast<uint32_t>(FloatOfBytes(u >> 24, u >> 16 & 255, u >> 8 & 255, u & 255)), u) << u;
}

TEST(Formats, ValueText) {
  const std::vector<std::pair<double, std::string>> cases = {
      {4294967295.0, "4294967295"},
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
      {std::numeric_limits<double>::quiet_NaN(), "NaN"},
  };
  for (const auto& [v, text] : cases) EXPECT_EQ(FormatValueText(v, "."), text) << v;
  EXPECT_EQ(FormatValueText(-2.5, ",") + " " + FormatValueText(0.000015, ",") + " " + FormatValueText(2.5, ""),
            "-2,5 1,5E-05 2.5");
  EXPECT_EQ(FormatValueText(0.5, "\u066B"), "0\u066B5");
}

TEST(Inspector, FourteenFormatsOfAPairAndAMissingNextRegister) {
  std::string texts;
  const std::vector<InspectorRow> rows = InspectRegisters({0x3F, 0x80}, RegisterBytes{0, 0}, ".");
  for (size_t i = 0; i < rows.size(); ++i) {
    texts += rows[i].format + " " + rows[i].value + "|";
    EXPECT_EQ(rows[i].bytes, i < 2 ? "3F 80" : "3F 80 00 00") << i;
  }
  EXPECT_EQ(texts,
            "INT16 16256|UINT16 16256|FLOAT_ABCD 1|FLOAT_CDAB 2.27795078360642E-41|FLOAT_BADC -5.78563625795345E-39|"
            "FLOAT_DCBA 4.60060298822481E-41|INT32_ABCD 1065353216|INT32_CDAB 16256|INT32_BADC -2143354880|"
            "INT32_DCBA 32831|UINT32_ABCD 1065353216|UINT32_CDAB 16256|UINT32_BADC 2151612416|UINT32_DCBA 32831|");
  EXPECT_EQ(InspectRegisters({0x3F, 0xC0}, RegisterBytes{0, 0}, ",")[F_ABCD].value, "1,5");
  const std::vector<InspectorRow> alone = InspectRegisters({0xFF, 0xFE}, std::nullopt, ".");
  ASSERT_EQ(alone.size(), 14u);
  EXPECT_EQ(alone[0].value + " " + alone[1].value + " [" + alone[1].bytes + "]", "-2 65534 [FF FE]");
  for (size_t i = 2; i < 14; ++i) EXPECT_EQ(alone[i].value + " [" + alone[i].bytes + "]", "\u2014 [FF FE -- --]") << i;
}

const std::string kStamp = "05.12.26  06:04:09.045  ", kIndent(37, ' ');

Frame Bytes(int n, int first = 0) {
  Frame f(static_cast<size_t>(n));
  std::iota(f.begin(), f.end(), static_cast<uint8_t>(first));
  return f;
}

// The bytes of the last response row whose two digits are both painted.
std::vector<int> Painted(const frmMain& f) {
  std::vector<int> out;
  const std::string& t = f.txtLog.Text();
  for (size_t p = static_cast<size_t>(f.RxLogStart) + 37, digit = 0; p < static_cast<size_t>(f.RxLogEnd); ++p)
    if (std::isxdigit(static_cast<unsigned char>(t[p])) && digit++ % 2 == 0 &&
        f.txtLog.ColorAt(p) == LogColorHighlight && f.txtLog.ColorAt(p + 1) == LogColorHighlight)
      out.push_back(static_cast<int>(digit / 2));
  return out;
}

TEST(Log, HexText) {
  const std::string row = "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F";
  EXPECT_EQ(ToLogHexString({}), "");
  EXPECT_EQ(ToLogHexString(Bytes(16)), row);
  EXPECT_EQ(ToLogHexString(Bytes(33)),
            row + " \r\n" + kIndent + "10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F \r\n" + kIndent + "20");
}

// A PDU (slave byte on) framed for the mode: MBAP header with identifier `id` in TCP, CRC otherwise.
Frame Framed(int16_t mode, const std::string& pdu, uint8_t id = 1) {
  Frame f = HexToBytes(pdu);
  const auto n = static_cast<uint8_t>(f.size());
  if (mode == 1) f.insert(f.begin(), {0, id, 0, 0, 0, n});
  if (mode != 1) f.resize(n + 2u), AppendCRC(f, n);
  return f;
}

// The view's text from its lines separated by '|'.
std::string View(std::string lines) {
  for (size_t at; (at = lines.find('|')) != std::string::npos;) lines.replace(at, 1, "\r\n");
  return lines;
}

struct Panel {
  fakes::FakePlatform fp;
  frmMain f{fp.Bundle()};
  explicit Panel(int16_t mode = 1, bool load = true) {
    if (load) f.Form_Load();
    f.Mode = mode;
  }
  // One builder call: fc 1-4 read (a = count), 5 coil and 6 register (a = value), 16 (a = count, b, c = values).
  Frame Build(int16_t mode, int16_t slave, int16_t fc, int32_t addr, int32_t a, int32_t b = 0, int32_t c = 0) {
    f.Mode = mode;
    if (fc == 5) return f.GetWriteSingleCoilRequestData(slave, fc, addr, a);
    if (fc == 6) return f.GetWriteSingleRegisterRequestData(slave, fc, addr, a);
    if (fc == 16) return f.GetWriteMultipleRegisterRequestData(slave, fc, addr, a, b, c);
    return f.GetReadRequestData(slave, fc, addr, a);
  }
  // The form as the operator fills it: the command first (01 and 02 force UINT16), then the format.
  void Fill(int fc, int format, const std::string& unit, const std::string& addr, const std::string& quantity,
            const std::string& value) {
    f.cmbCmd.SetListIndex(fc == 16 ? 6 : fc - 1);
    f.cmbFormat.SetListIndex(format);
    f.txtUnitID.SetText(unit);
    f.txtAddr.SetText(addr);
    f.txtQuantity.SetText(quantity);
    f.txtValue.SetText(value);
  }
  // What Send pushes, written like the preview.
  std::string Compose() {
    f.Requests.clear();
    f.GetBytesOfForm();
    std::string s;
    for (const Frame& r : f.Requests) s += (s.empty() ? "" : " | ") + Hex(r);
    return s;
  }
  // The request in flight and the panel as Send leaves it: start stamp taken, the old answer greyed.
  void Sent(int16_t mode, int format, const std::string& addrText, const std::string& pdu) {
    f.Mode = mode;
    f.cmbFormat.SetListIndex(format);
    f.txtAddr.SetText(addrText);
    f.LastRequest = Framed(mode, pdu);
    f.RequestStartMono = fp.clock->MonotonicMs();
    f.txtResponse.SetEnabled(false);
    f.lblDT.SetForeColor(kColorGrayText);
  }
  std::string Answer(const std::string& pdu) {
    f.ShowResponse(Framed(f.Mode, pdu), f.Mode == 1 ? 6 : 0);
    return f.txtResponse.Text();
  }
};

TEST(Builders, FramesByteForByte) {
  // mode, slave, fc, addr, a, b, c (as for Build), the frame (TCP with transaction identifier 1)
  const std::vector<std::tuple<int16_t, int16_t, int16_t, int32_t, int32_t, int32_t, int32_t, std::string>> cases = {
      {1, 1, 3, 0, 10, 0, 0, "00 01 00 00 00 06 01 03 00 00 00 0A"},
      {0, 1, 3, 0, 10, 0, 0, "01 03 00 00 00 0A C5 CD"},
      {0, 17, 1, 19, 37, 0, 0, "11 01 00 13 00 25 0E 84"},
      {0, 17, 2, 196, 22, 0, 0, "11 02 00 C4 00 16 BA A9"},
      {0, 17, 4, 8, 1, 0, 0, "11 04 00 08 00 01 B2 98"},
      {0, 1, 5, 172, 1, 0, 0, "01 05 00 AC FF 00 4C 1B"},
      {0, 1, 5, 172, 0, 0, 0, "01 05 00 AC 00 00 0D EB"},
      {1, 1, 5, 0, -1, 0, 0, "00 01 00 00 00 06 01 05 00 00 FF 00"},  // anything but 0 is on
      {0, 1, 6, 1, 3, 0, 0, "01 06 00 01 00 03 98 0B"},
      {0, 1, 6, 1, 70000, 0, 0, "01 06 00 01 11 70 D5 BE"},  // low 16 bits
      {1, 1, 6, 65535, -1, 0, 0, "00 01 00 00 00 06 01 06 FF FF FF FF"},
      {0, 1, 16, 1, 2, 0x000A, 0x0102, "01 10 00 01 00 02 04 00 0A 01 02 92 30"},
      {1, 1, 16, 100, 1, 0x1234, 0x5555, "00 01 00 00 00 09 01 10 00 64 00 01 02 12 34"},  // value 2 ignored
      {1, 1, 3, 65536, 1, 0, 0, "00 01 00 00 00 06 01 03 00 00 00 01"},
      {1, 300, 256, 1, 1, 0, 0, "00 01 00 00 00 06 00 00 00 01 00 01"},  // bytes that do not fit stay 0
  };
  for (const auto& [mode, slave, fc, addr, a, b, c, frame] : cases)
    EXPECT_EQ(Hex(Panel().Build(mode, slave, fc, addr, a, b, c)), frame) << fc << " mode " << mode;
}

TEST(Builders, TransactionIdentifier) {
  Panel p;
  auto heads = [&p](std::initializer_list<int16_t> modes) {
    std::string s;
    for (int16_t mode : modes) s += Hex(p.Build(mode, 1, 3, 0, 1)).substr(0, 5) + "|";
    return s;
  };
  EXPECT_EQ(heads({1, 1, 0, 2, 1}), "00 01|00 02|01 03|01 03|00 03|");  // RTU frames do not advance it
  p.f.TransactionID = 65534;                                            // the wire carries the low 16 bits
  EXPECT_EQ(heads({1, 1, 1}), "FF FF|00 00|00 01|");
  EXPECT_EQ(p.f.TransactionID, 65537);
  p.f.TransactionID = 2147483646;  // saturates
  EXPECT_EQ(heads({1, 1, 1}), "FF FF|FF FF|FF FF|");
  EXPECT_EQ(p.f.TransactionID, 2147483647);
}

TEST(Compose, FramesOfTheFormPreviewedThenPushed) {
  // fc, format, slave, address, quantity and value as typed; the PDUs the frames carry (slave byte on)
  const std::vector<std::tuple<int, int, std::string, std::string, std::string, std::string, std::vector<std::string>>>
      cases = {
          {16, F_ABCD, "1", "100", "1", "1.5", {"01 10 00 64 00 02 04 3F C0 00 00"}},
          {16, F_CDAB, "1", "100", "1", "1.5", {"01 10 00 64 00 02 04 00 00 3F C0"}},
          {16, F_BADC, "1", "100", "1", "1.5", {"01 10 00 64 00 02 04 C0 3F 00 00"}},
          {16, F_DCBA, "1", "100", "1", "1.5", {"01 10 00 64 00 02 04 00 00 C0 3F"}},
          {16, I_ABCD, "1", "100", "1", "-1", {"01 10 00 64 00 02 04 FF FF FF FF"}},
          {16, U_ABCD, "1", "100", "1", "-1", {"01 10 00 64 00 02 04 00 00 00 00"}},
          {16, U_ABCD, "1", "100", "1", "2.9", {"01 10 00 64 00 02 04 00 00 00 02"}},  // whole part
          {16, INT16, "1", "100", "1", "-2", {"01 10 00 64 00 01 02 FF FE"}},
          {16, F_ABCD, "1", "65535", "1", "1", {"01 10 FF FF 00 02 04 3F 80 00 00"}},
          {6, U_ABCD, "1", "100", "1", "305419896", {"01 06 00 64 12 34", "01 06 00 65 56 78"}},
          {6, I_BADC, "1", "65534", "1", "-2", {"01 06 FF FE FF FF", "01 06 FF FF FE FF"}},
          {6, INT16, "1", "100", "1", "2.5", {"01 06 00 64 00 02"}},  // rounded half to even
          {6, UINT16, "1", "100", "1", "3,5", {"01 06 00 64 00 04"}},
          {3, I_BADC, "1", "100", "10", "", {"01 03 00 64 00 14"}},  // a 32-bit value is two registers
          {4, F_ABCD, "1", "100", "5", "", {"01 04 00 64 00 0A"}},
          {1, UINT16, "1", "100", "16", "", {"01 01 00 64 00 10"}},
          {2, UINT16, "1", "100", "16", "", {"01 02 00 64 00 10"}},
          {5, UINT16, "1", "100", "1", "0.4", {"01 05 00 64 00 00"}},  // the whole value decides
          {5, UINT16, "1", "100", "1", "0.5", {"01 05 00 64 00 00"}},
          {5, UINT16, "1", "100", "1", "0.6", {"01 05 00 64 FF 00"}},
          {3, UINT16, " 0 ", "0", "1", "", {"00 03 00 00 00 01"}},  // slave 0 is sent
          {3, UINT16, "255", "0xFFFF", "1", "", {"FF 03 FF FF 00 01"}},
      };
  for (const auto& [fc, format, unit, addr, quantity, value, pdus] : cases) {
    for (int16_t mode : {0, 1, 2}) {
      Panel p(mode);
      p.Fill(fc, format, unit, addr, quantity, value);
      const std::string what = pdus[0] + " mode " + std::to_string(mode);
      std::string expected;
      for (size_t i = 0; i < pdus.size(); ++i)
        expected += (i ? " | " : "") + Hex(Framed(mode, pdus[i], uint8_t(i + 1)));
      const size_t logLength = p.f.txtLog.Length();
      EXPECT_EQ(p.f.PreviewRequest(), expected) << what;
      EXPECT_TRUE(p.f.Requests.empty() && p.f.TransactionID == 0) << what;  // the preview uses up nothing
      EXPECT_EQ(p.Compose(), expected) << what;
      EXPECT_EQ(p.f.TransactionID, mode == 1 ? static_cast<int32_t>(pdus.size()) : 0) << what;
      EXPECT_EQ(p.f.txtLog.Length() + p.fp.beeper->count, logLength) << what;  // no beep, no row
    }
  }
}

TEST(Compose, RefusalsAreNamedAndSendNothingWithABeepAndOneRedRow) {
  const std::string range = "Address out of range: a 32-bit value at 65535 needs registers 65535 and 65536",
                    addr = "\": an address is a decimal number or 0x followed by hexadecimal digits",
                    slave = "\": a slave address is a number from 0 to 255";
  const std::vector<std::tuple<int, int, std::string, std::string, std::string>> cases = {
      {6, F_ABCD, "1", "65535", range},
      {3, UINT16, "1", "1F", "Invalid address \"1F" + addr},
      {1, UINT16, "1", "", "Invalid address: the start address is empty"},
      {3, UINT16, "300", "0", "Invalid slave address \"300" + slave},
      {16, F_ABCD, "-1", "0", "Invalid slave address \"-1" + slave},
  };
  for (const auto& [fc, format, unit, address, message] : cases) {
    for (int16_t mode : {0, 1, 2}) {
      Panel p(mode);
      p.Fill(fc, format, unit, address, "1", "1");
      const size_t logLength = p.f.txtLog.Length();
      EXPECT_EQ(p.f.PreviewRequest(), message) << mode;
      EXPECT_EQ(p.f.txtLog.Length() + p.fp.beeper->count, logLength) << mode;  // the preview neither logs nor beeps
      EXPECT_EQ(p.Compose(), "") << message;
      EXPECT_EQ(p.fp.beeper->count, 1) << message;
      EXPECT_EQ(p.f.txtLog.Text().substr(logLength),
                FormatTimeStamp(p.fp.clock->Now()) + "  Communication Error: " + message + "\r\n");
      EXPECT_EQ(p.f.txtLog.ColorAt(logLength), LogColorError) << message;
      EXPECT_EQ(p.f.TransactionID, 0) << message;
    }
  }
}

TEST(Compose, HexInputGoesOutAsTypedAndNoCommandSendsNothing) {
  for (int16_t mode : {0, 1, 2}) {
    Panel p(mode);
    p.f.HexView = true;
    p.f.txtHEX.SetText("01 03 00 00 00 0a c5 cd");
    EXPECT_EQ(p.f.PreviewRequest(), "01 03 00 00 00 0A C5 CD");
    p.f.GetBytesOfHexInput();
    p.f.txtHEX.SetText(" ;; ");
    EXPECT_EQ(p.f.PreviewRequest(), "");
    p.f.GetBytesOfHexInput();  // one empty frame, still pushed
    EXPECT_EQ(p.f.Requests, (std::vector<Frame>{HexToBytes("01 03 00 00 00 0A C5 CD"), {}})) << mode;
    EXPECT_EQ(p.f.TransactionID, 0) << mode;
  }
  Panel p;
  p.Fill(3, UINT16, "1", "0", "1", "");
  p.f.cmbCmd.SetListIndex(-1);
  EXPECT_EQ(p.f.PreviewRequest() + p.Compose(), "");
  EXPECT_EQ(p.f.txtLog.Text().find("Error"), std::string::npos);
}

TEST(Compose, TheNextSendUsesTheIdentifierPreviewed) {
  Panel p;
  p.Fill(3, UINT16, "1", "0", "1", "");
  p.f.TransactionID = 0x1233;
  const std::string shown = p.f.PreviewRequest();
  EXPECT_EQ(shown, "12 34 00 00 00 06 01 03 00 00 00 01");
  p.f.cmdSend_Click();
  p.fp.socket->AcceptConnect();
  EXPECT_EQ(p.fp.socket->sent, std::vector<Frame>{HexToBytes(shown)});
  EXPECT_EQ(p.f.PreviewRequest().substr(0, 5), "12 35");
}

TEST(ResponseView, Rows) {
  struct Case {
    int format;
    std::string request, response, view, addrText = "0";  // request and response after the slave byte
  };
  const std::vector<Case> cases = {
      {INT16, "03 00 00 00 03", "03 06 00 01 FF FF 80 00", "HR 00000: 1     |HR 00001: -1    |HR 00002: -32768"},
      {UINT16, "03 00 00 00 02", "03 04 00 05 12 34", "HR 00000: 5   |HR 00001: 4660"},
      {I_ABCD, "03 00 00 00 03", "03 06 00 00 00 05 00 09", "I32 HR 00000: 5"},  // the incomplete value dropped
      {UINT16, "03 00 10 00 01", "03 02 00 01", "HR 0x0010: 1", "0x10"},
      {U_BADC, "03 FF FF 00 04", "03 08 00 00 00 01 00 00 00 02", "U32 HR 0xFFFF: 256|U32 HR 0x0001: 512", " 0xFFFF"},
      {I_ABCD, "03 FF FF 00 04", "03 08 00 00 00 01 00 00 00 02", "I32 HR 65535: 1|I32 HR 65537: 2", "65535"},
      {UINT16, "02 00 00 00 02", "02 01 FF", "DI 00000: 1|DI 00001: 1"},
      {UINT16, "05 00 AC FF 00", "05 00 AC FF 00", "CL 00172 <- 1", "172"},
      {UINT16, "05 00 AC 00 00", "05 00 AC 00 00", "CL 00172 <- 0", "172"},
      {INT16, "06 00 01 FF FF", "06 00 01 FF FF", "HR 0x0001 <- 65535", "0x1"},
      {F_ABCD, "10 00 64 00 02 04 3F 80 00 00", "10 00 64 00 02", "HR 00100 <- 16256|HR 00101 <- 0", "100"},
      // Lines whose bytes are missing are left out; the CRC is never a value.
      {UINT16, "03 00 00 00 02", "03 04 00 05", "HR 00000: 5"},
      {UINT16, "06 00 01 00 09", "06 00 01", ""},
      {INT16, "10 00 05 00 01 02 00 07", "10 00 05 00 02", "HR 00005 <- 7", "5"},  // the request carried one value
      {UINT16, "03", "03 02 00 01", ""},
  };
  for (int16_t mode : {0, 1, 2}) {
    for (const Case& c : cases) {
      Panel p;
      p.Sent(mode, c.format, c.addrText, "01 " + c.request);
      EXPECT_EQ(p.Answer("01 " + c.response), View(c.view)) << c.response << " mode " << mode;
      EXPECT_TRUE(p.f.txtResponse.Enabled());
    }
  }
}

TEST(ResponseView, CoilsStopAtTheQuantityAndAtTheLastByte) {
  for (int16_t mode : {0, 1, 2}) {
    Panel p;
    p.Sent(mode, UINT16, "20", "01 01 00 14 00 0A");
    EXPECT_EQ(p.Answer("01 01 02 A5 FE"), View("CL 00020: 1|CL 00021: 0|CL 00022: 1|CL 00023: 0|CL 00024: 0|"
                                               "CL 00025: 1|CL 00026: 0|CL 00027: 1|CL 00028: 0|CL 00029: 1"));
    p.Sent(mode, UINT16, "0", "01 01 00 00 00 10");
    EXPECT_EQ(p.Answer("01 01 02 81"), View("CL 00000: 1|CL 00001: 0|CL 00002: 0|CL 00003: 0|CL 00004: 0|"
                                            "CL 00005: 0|CL 00006: 0|CL 00007: 1"));
  }
}

TEST(ResponseView, AnotherFunctionShowsNothingNew) {
  Panel p;
  p.f.txtResponse.SetText("HR 00000: 1");
  p.f.lblDT.SetCaption("12 ms");
  p.Sent(0, UINT16, "0", "01 03 00 00 00 01");
  EXPECT_EQ(p.Answer("01 04 02 00 09"), "HR 00000: 1");
  EXPECT_FALSE(p.f.txtResponse.Enabled());  // still the old answer, greyed
  EXPECT_EQ(p.f.lblDT.Caption(), "12 ms");
  EXPECT_EQ(p.Answer("01 83 02"), "");  // bit 7 alone: an exception to the same function, no rows
  EXPECT_TRUE(p.f.txtResponse.Enabled());
}

TEST(ResponseView, MonotonicTimeSeparatorAndHexView) {
  Panel p;
  p.Sent(0, UINT16, "0", "01 03 00 00 00 01");
  p.fp.clock->Advance(37);
  p.fp.clock->JumpWallClock(-86400000);  // midnight or a clock set back: no effect
  p.Answer("01 03 02 00 01");
  EXPECT_EQ(p.f.lblDT.Caption(), "37 ms");
  EXPECT_EQ(p.f.lblDT.ForeColor(), kColorButtonText);
  p.Sent(1, F_ABCD, "32", "01 03 00 20 00 02");
  p.f.RequestStartMono += 1000;  // a start stamp ahead of the clock: never negative
  p.fp.locale->separator = ",";
  p.f.HexView = true;
  EXPECT_EQ(p.Answer("01 03 04 C0 20 00 00"), "FLT HR 0x0020: -2,5");
  EXPECT_EQ(p.f.lblDT.Caption(), "0 ms");
}

TEST(Inspector, LinesOfTheView) {
  Panel p;
  p.Sent(1, INT16, "100", "01 03 00 64 00 03");
  ASSERT_EQ(p.Answer("01 03 06 3F 80 00 00 FF FF"), "HR 00100: 16256\r\nHR 00101: 0    \r\nHR 00102: -1   ");
  EXPECT_EQ(p.f.InspectResponseLine(0).at(F_ABCD).value, "1");
  EXPECT_EQ(p.f.InspectResponseLine(1).at(I_ABCD).value, "65535");
  EXPECT_EQ(p.f.InspectResponseLine(2).at(F_ABCD).value, "\u2014");  // no register after the last
  EXPECT_EQ(p.f.ResponseLineAddress(2), 102);
  EXPECT_TRUE(p.f.InspectResponseLine(3).empty() && p.f.InspectResponseLine(-1).empty());
  p.Sent(1, F_ABCD, "100", "01 04 00 64 00 04");  // a 32-bit line starts at its first register
  ASSERT_EQ(p.Answer("01 04 08 3F 80 00 00 40 49 0F DB"),
            "FLT IR 00100: 1               \r\nFLT IR 00102: 3.14159274101257");
  EXPECT_EQ(p.f.ResponseLineAddress(1), 102);
  EXPECT_EQ(p.f.InspectResponseLine(1).at(INT16).value + " " + p.f.InspectResponseLine(1).at(I_ABCD).value,
            "16457 1078530011");
  p.Sent(1, UINT16, "0", "01 01 00 00 00 08");  // a coil answer replaces the registers
  p.Answer("01 01 01 05");
  EXPECT_TRUE(p.f.InspectResponseLine(0).empty());
}

TEST(Log, RowsAndCsv) {
  Panel p(1, false);
  p.f.Log("", LogColorInfo);
  p.f.LogRequest(HexToBytes("01 03 00 00 00 0A C5 CD"));
  p.f.LogResponse(HexToBytes("00 02 00 00 00 06 01"));
  p.f.LogError("Protocol Error", "Wrong Transaction ID (expected 00 01)", false, 2, 0);
  p.f.LogError("Protocol Error", "Invalid MBAP Length", false, 2, 4);
  p.f.Log("a \"quoted\", text", LogColorInfo);
  EXPECT_EQ(p.f.LogAsCsv(),
            "time,kind,class,bytes,message,painted\r\n"
            "2026-12-05T06:04:09.045,information,,,,\r\n"
            "2026-12-05T06:04:09.045,request,,01 03 00 00 00 0A C5 CD,,\r\n"
            "2026-12-05T06:04:09.045,response,,00 02 00 00 00 06 01,,0+2 4+2\r\n"
            "2026-12-05T06:04:09.045,error,Protocol Error,,Wrong Transaction ID (expected 00 01),\r\n"
            "2026-12-05T06:04:09.045,error,Protocol Error,,Invalid MBAP Length,\r\n"
            "2026-12-05T06:04:09.045,information,,,\"a \"\"quoted\"\", text\",\r\n");
  p.f.RxBuffer = {0x01, 0x03};  // a time-out shows the bytes of the request in flight, once
  p.f.RxCount = 2;
  p.f.AwaitingResponse = true;
  p.f.LogError("Communication Error", "Request Timeout", true, 0, 0);
  p.f.AwaitingResponse = false;
  p.f.LogError("Communication Error", "Connect timeout", true, 0, 0);
  const std::string& t = p.f.txtLog.Text();
  EXPECT_EQ(t, "\r\n" + kStamp + "Request  --> 01 03 00 00 00 0A C5 CD\r\n" + kStamp +
                   "Response <-- 00 02 00 00 00 06 01\r\n" + kStamp +
                   "Protocol Error: Wrong Transaction ID (expected 00 01)\r\n" + kStamp +
                   "Protocol Error: Invalid MBAP Length\r\n" + kStamp + "a \"quoted\", text\r\n" + kStamp +
                   "Response <-- 01 03\r\n" + kStamp + "Communication Error: Request Timeout\r\n" + kStamp +
                   "Communication Error: Connect timeout\r\n");
  EXPECT_EQ(p.f.txtLog.ColorAt(t.rfind(kStamp)), LogColorError);
  EXPECT_EQ(p.f.txtLog.ColorAt(t.find("a \"quoted")), LogColorInfo);
}

TEST(Log, HighlightsCountDigitsAcrossRowBreaks) {
  const std::vector<std::tuple<int, std::vector<std::pair<int, int>>, std::vector<int>>> cases = {
      {20, {{15, 2}}, {15, 16}},                       // across the row break and the indent
      {9, {{0, 2}, {4, 2}, {6, 1}}, {0, 1, 4, 5, 6}},  // several in one row
      {9, {{7, 5}}, {7, 8}},                           // beyond the frame: what exists
      {9, {{3, 0}}, {}},
  };
  for (const auto& [length, errors, painted] : cases) {
    Panel p(1, false);
    p.f.LogResponse(Bytes(length, 0x10));
    for (auto [offset, count] : errors) p.f.LogError("Protocol Error", "x", false, count, offset);
    EXPECT_EQ(Painted(p.f), painted) << length;
  }
}

TEST(Log, KeepsAtMostAThousandWholeEntries) {
  Panel p;                                                     // the empty row and "Run Tarvelo"
  for (int i = 0; i < 997; ++i) p.f.LogRequest(Bytes(20, i));  // two rows each
  p.f.LogResponse(Bytes(20, 0x40));
  EXPECT_EQ(p.f.LogLineCount, 1000);
  p.f.LogError("Protocol Error", "a", false, 2, 15);  // entry 1001 removes the empty start row only
  EXPECT_EQ(p.f.txtLog.Text().substr(0, kStamp.size() + 11), kStamp + "Run Tarvelo");
  EXPECT_EQ(Painted(p.f), (std::vector<int>{15, 16}));
  p.f.Log("x", LogColorInfo);  // entry 1002 removes "Run Tarvelo", entry 1003 the whole first request
  p.f.LogError("Protocol Error", "b", false, 1, 19);
  const std::string& t = p.f.txtLog.Text();
  const std::string first = kStamp + "Request  --> " + ToLogHexString(Bytes(20, 1)) + "\r\n" + kStamp + "Request";
  EXPECT_EQ(t.substr(0, first.size()), first);
  EXPECT_EQ(p.f.LogLineCount, 1000);
  EXPECT_EQ(Painted(p.f), (std::vector<int>{15, 16, 19}));
  EXPECT_EQ(std::count(t.begin(), t.end(), '\n'), 996 * 2 + 2 + 3);
}

TEST(Log, SaveWritesTheWholeFileOrReportsWhyNot) {
  auto read = [](const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  Panel p;
  p.f.LogRequest({0x01, 0x03});
  const auto dir = std::filesystem::temp_directory_path() / ("vesk-log-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  ASSERT_TRUE(p.f.SaveLog((dir / "log.txt").string(), false));
  EXPECT_EQ(read(dir / "log.txt"), p.f.txtLog.Text());
  ASSERT_TRUE(p.f.SaveLog((dir / "log.csv").string(), true));
  EXPECT_EQ(read(dir / "log.csv"), p.f.LogAsCsv());
  EXPECT_FALSE(std::filesystem::exists(dir / "log.csv.part"));
  const std::string missing = (dir / "no-such-folder" / "log.txt").string();
  EXPECT_FALSE(p.f.SaveLog(missing, false) || std::filesystem::exists(missing));
  const std::string& text = p.f.txtLog.Text();
  const std::string row = kStamp + "Failed to save the log to " + missing + ": ";
  EXPECT_EQ(text.substr(text.rfind(kStamp), row.size()), row);
  EXPECT_EQ(p.f.txtLog.ColorAt(text.rfind(kStamp)), LogColorError);
  std::filesystem::remove_all(dir);
}

}  // namespace
