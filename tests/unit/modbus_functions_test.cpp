// The function codes beyond the seven basic ones and the ASCII framing: PDUs built from values (the protocol's
// published examples), refusals, answer lengths, answer checks and view lines on the pure builders; the same codes
// through the request builder and the answer assembler, framed; LRC, ASCII frames and every kind of damaged frame.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "modbus/ascii_framing.h"
#include "modbus/pdu_ext.h"
#include "modbus/requests.h"
#include "modbus/response.h"
#include "test_bytes.h"

namespace modbus {
namespace {

using testbytes::WithCrc;

// Two digits a byte, no blanks.
std::string Digits(const Frame& f) {
  std::string s;
  for (uint8_t b : f) s += std::string{"0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 15]};
  return s;
}

// "2B 0E 01" -> bytes; a quoted run "Abc" adds its characters.
Pdu P(std::string_view text) {
  Pdu p;
  for (size_t i = 0; i < text.size();) {
    if (text[i] == '"') {
      const size_t end = text.find('"', i + 1);
      for (size_t k = i + 1; k < end; ++k) p.push_back(static_cast<uint8_t>(text[k]));
      i = end + 1;
    } else if (text[i] == ' ') {
      ++i;
    } else {
      p.push_back(static_cast<uint8_t>(std::stoi(std::string(text.substr(i, 2)), nullptr, 16)));
      i += 2;
    }
  }
  return p;
}

std::vector<uint8_t> Bits(std::string_view zeroOne) {
  std::vector<uint8_t> b;
  for (char c : zeroOne) b.push_back(static_cast<uint8_t>(c - '0'));
  return b;
}

// The PDU built, or the refusal (the protocol's examples are in the framed requests below).
TEST(FunctionPdu, BuildersFillBytesAndRefuseOutOfRange) {
  const std::vector<uint16_t> threeFF = {0x00FF, 0x00FF, 0x00FF};
  const std::string address = "\": an address is a number from 0 to 65535",
                    mask = "\": a mask is a number from 0 to 65535";
  const std::vector<std::pair<PduResult, std::string>> table = {
      {BuildWriteMultipleCoils(0, Bits("00000001")), "0F 00 00 00 08 01 80"},  // eight coils fill one byte
      {BuildWriteMultipleCoils(0, Bits("111111111")), "0F 00 00 00 09 02 FF 01"},
      {BuildWriteMultipleCoils(0, {}), "Invalid quantity \"0\": write 1 to 1968 coils"},
      {BuildWriteMultipleCoils(0, std::vector<uint8_t>(1969, 1)), "Invalid quantity \"1969\": write 1 to 1968 coils"},
      {BuildWriteMultipleCoils(0, {1, 0, 2}), "Invalid coil value \"2\" at position 3: a coil is 0 or 1"},
      {BuildWriteMultipleCoils(65536, {1}), "Invalid address \"65536" + address},
      {BuildMaskWriteRegister(0, 65536, 0), "Invalid AND mask \"65536" + mask},
      {BuildMaskWriteRegister(0, 0, -1), "Invalid OR mask \"-1" + mask},
      {BuildReadWriteMultipleRegisters(0, 126, 0, threeFF), "Invalid read quantity \"126\": read 1 to 125 registers"},
      {BuildReadWriteMultipleRegisters(0, 1, 0, std::vector<uint16_t>(122)),
       "Invalid write quantity \"122\": write 1 to 121 registers"},
      {BuildReadWriteMultipleRegisters(0, 1, 70000, threeFF), "Invalid write address \"70000" + address},
      {BuildReadDeviceIdentification(4, 0x81), "2B 0E 04 81"},
      {BuildReadDeviceIdentification(5, 0),
       "Invalid read device ID code \"5\": 1 basic, 2 regular, 3 extended or 4 one object"},
      {BuildReadDeviceIdentification(1, 256), "Invalid object ID \"256\": an object ID is a number from 0 to 255"},
      {BuildDiagnostics(1, {0}), "Invalid sub-function \"1\": only 0 (return query data) is supported"},
      {BuildDiagnostics(0, {}), "Invalid quantity \"0\": send 1 to 125 data words"},
  };
  for (const auto& [r, expected] : table) {
    EXPECT_EQ(r.Ok() ? testbytes::Hex(r.pdu) : r.refusal, expected);
    EXPECT_TRUE(r.Ok() == r.refusal.empty() && r.pdu.empty() == !r.Ok()) << expected;  // a refusal has no bytes
  }
}

TEST(FunctionPdu, CoilsAsTypedListsOrWireBytes) {
  struct Case {
    bool hex;
    const char* text;
    int32_t quantity;
    const char* bits;
    std::string refusal;
  };
  const std::vector<Case> table = {
      {false, "1 0 1 1", 0, "1011", ""},
      {false, "1,0;1\t1", 0, "1011", ""},
      {false, "1011001110", 0, "1011001110", ""},
      {false, "1 2", 0, "", "Invalid coil list \"1 2\": a coil is 0 or 1"},
      {false, " ", 0, "", "Invalid coil list \" \": a coil is 0 or 1"},
      // The protocol's example: CD 01 holds coils 20..29 as 1011001110.
      {true, "CD 01", 10, "1011001110", ""},
      {true, "0xcd0x01", 10, "1011001110", ""},
      {true, "FF", 3, "111", ""},
      {true, "CD", 10, "", "Invalid coil bytes \"CD\": 10 coils take 2 bytes"},
      {true, "CD 01 00", 10, "", "Invalid coil bytes \"CD 01 00\": 10 coils take 2 bytes"},
      {true, "C D", 4, "", "Invalid coil bytes \"C D\": bytes are pairs of hexadecimal digits"},
      {true, "CG", 4, "", "Invalid coil bytes \"CG\": bytes are pairs of hexadecimal digits"},
      {true, "", 1969, "", "Invalid quantity \"1969\": write 1 to 1968 coils"},
  };
  for (const Case& c : table) {
    const CoilValues v = c.hex ? CoilsFromHexBytes(c.text, c.quantity) : CoilsFromList(c.text);
    EXPECT_EQ(v.refusal, c.refusal) << c.text;
    EXPECT_EQ(v.bits, Bits(c.bits)) << c.text;
  }
}

// The largest quantities are accepted and make requests that fit in a PDU.
TEST(FunctionPdu, LargestQuantitiesAreAccepted) {
  EXPECT_EQ(BuildWriteMultipleCoils(0, std::vector<uint8_t>(1968, 1)).pdu.size(), 6u + 246u);
  EXPECT_EQ(BuildReadWriteMultipleRegisters(0, 125, 0, std::vector<uint16_t>(121, 7)).pdu.size(), 10u + 242u);
  EXPECT_EQ(BuildDiagnostics(0, std::vector<uint16_t>(125, 7)).pdu.size(), 3u + 250u);
}

TEST(FunctionPdu, AnswerLengthFromTheBytesReceivedSoFar) {
  using K = PduLength::Kind;
  const std::string id22(22, 'x');
  struct Case {
    Pdu received;
    int32_t requestSize;
    PduLength expected;
  };
  const std::vector<Case> table = {
      {{}, 0, {K::NotYet, 0}},
      {P("0F"), 0, PduLength::Of(5)},
      {P("16"), 0, PduLength::Of(7)},
      {P("17"), 0, {K::NotYet, 0}},
      {P("17 0C"), 0, PduLength::Of(14)},
      {P("11 00"), 0, PduLength::Of(2)},
      {P("11 FF"), 0, PduLength::Of(257)},
      {P("07"), 0, PduLength::Of(2)},
      {P("08"), 5, PduLength::Of(5)},
      {P("08 00"), 0, {K::Unknown, 0}},
      {P("8F"), 0, PduLength::Of(2)},
      {P("03 04"), 0, PduLength::Of(6)},
      {P("2B"), 0, {K::NotYet, 0}},
      {P("2B 0D"), 0, {K::Unknown, 0}},
      {P("2B 0E 01 01 00"), 0, {K::NotYet, 0}},
      // No objects: the header alone.
      {P("2B 0E 01 01 00 00 00"), 0, PduLength::Of(7)},
      // Objects walked: the length byte of the second object not yet there.
      {P("2B 0E 01 01 00 00 02 00 03 \"abc\" 01"), 0, {K::NotYet, 0}},
      {P("2B 0E 01 01 00 00 02 00 03 \"abc\" 01 02"), 0, PduLength::Of(16)},
      // The first object complete, its value partly there: length known.
      {P("2B 0E 01 01 00 00 01 00 16 \"Comp\""), 0, PduLength::Of(31)},
      // 255 objects of 255 bytes: the walk stays bounded and exact.
      {P("2B 0E 03 03 00 00 FF 80 FF"), 0, {K::NotYet, 0}},
  };
  for (const Case& c : table) {
    EXPECT_EQ(ExpectedResponsePduLength(c.received, c.requestSize), c.expected)
        << "received " << c.received.size() << " bytes starting " << int(c.received.empty() ? -1 : c.received[0]);
  }
  // The protocol's example answer with three objects, fed byte by byte:
  // not yet until the last object's length byte, then the full length.
  const Pdu answer =
      P("2B 0E 01 01 00 00 03 00 16 \"Company identification\" 01 0F \"Product code XX\" 02 05 \"V2.11\"");
  for (size_t n = 1; n <= answer.size(); ++n) {
    const PduLength l = ExpectedResponsePduLength(std::span(answer).first(n));
    const size_t lastLengthByte = 7 + 24 + 17 + 1;
    if (n <= lastLengthByte) {
      EXPECT_EQ(l.kind, K::NotYet) << n;
    } else {
      EXPECT_EQ(l, PduLength::Of(static_cast<int32_t>(answer.size()))) << n;
    }
  }
}

TEST(FunctionPdu, AnswerChecksReportEveryWrongEchoAndCount) {
  struct Case {
    const char* what;
    Pdu request, response;
    std::vector<PduFault> faults;
  };
  const Pdu rq15 = P("0F 00 13 00 0A 02 CD 01"), rq22 = P("16 00 04 00 F2 00 25");
  const Pdu rq23 = P("17 00 03 00 06 00 0E 00 03 06 00 FF 00 FF 00 FF"), rq08 = P("08 00 00 A5 37 12 34");
  const std::vector<Case> table = {
      {"15 good", rq15, P("0F 00 13 00 0A"), {}},
      {"15 address and quantity",
       rq15,
       P("0F 00 14 00 09"),
       {{"Wrong echo of the address (expected 00 13)", 1, 2}, {"Wrong echo of the quantity (expected 00 0A)", 3, 2}}},
      {"15 cut short: only what is there is checked", rq15, P("0F 00 13"), {}},
      {"22 good", rq22, P("16 00 04 00 F2 00 25"), {}},
      {"22 masks",
       rq22,
       P("16 00 04 00 F3 00 24"),
       {{"Wrong echo of the AND mask (expected 00 F2)", 3, 2}, {"Wrong echo of the OR mask (expected 00 25)", 5, 2}}},
      {"23 good", rq23, P("17 0C 00 FE 0A CD 00 01 00 03 00 0D 00 FF"), {}},
      {"23 byte count", rq23, P("17 0A 00 FE 0A CD 00 01 00 03 00 0D"), {{"Wrong byte count (expected 0C)", 1, 1}}},
      {"08 good", rq08, rq08, {}},
      {"08 sub-function", rq08, P("08 00 01 A5 37 12 34"), {{"Wrong echo of the sub-function (expected 00 00)", 1, 2}}},
      {"08 data span", rq08, P("08 00 00 A5 00 12 00"), {{"Wrong echo of the query data (expected 37 12 34)", 4, 3}}},
      {"08 echo too long", rq08, P("08 00 00 A5 37 12 34 56"), {{"Wrong echo length (expected 7 bytes)", 7, 1}}},
      {"17 good", P("11"), P("11 02 01 FF"), {}},
      {"17 count", P("11"), P("11 01 01"), {{"Byte count too small (expected at least 02)", 1, 1}}},
      {"07 any status", P("07"), P("07 6D"), {}},
      {"exception not checked", rq15, P("8F 02"), {}},
      {"other function not checked", rq15, P("10 00 00 00 01"), {}},
      {"43 good stream", P("2B 0E 01 00"), P("2B 0E 01 01 00 00 02 00 01 \"A\" 01 01 \"B\""), {}},
      {"43 MEI type", P("2B 0E 01 00"), P("2B 0D 01 01 00 00 00"), {{"Wrong MEI type (expected 0E)", 1, 1}}},
      {"43 header",
       P("2B 0E 01 00"),
       P("2B 0E 02 04 7F 05 00"),
       {{"Wrong echo of the read device ID code (expected 01)", 2, 1},
        {"Invalid conformity level (expected 01, 02, 03, 81, 82 or 83)", 3, 1},
        {"Invalid more follows (expected 00 or FF)", 4, 1}}},
      {"43 next id without more",
       P("2B 0E 01 00"),
       P("2B 0E 01 81 00 03 00"),
       {{"Invalid next object ID (expected 00 when no more follows)", 5, 1}}},
      {"43 more follows with next id", P("2B 0E 01 00"), P("2B 0E 01 81 FF 03 01 00 01 \"A\""), {}},
      {"43 order",
       P("2B 0E 02 00"),
       P("2B 0E 02 02 00 00 03 00 01 \"A\" 02 01 \"B\" 01 01 \"C\""),
       {{"Object ID out of order (expected above 02)", 13, 1}}},
      {"43 individual",
       P("2B 0E 04 05"),
       P("2B 0E 04 82 FF 00 02 06 01 \"X\" 07 00"),
       {{"Invalid more follows (expected 00 for one object)", 4, 1},
        {"Wrong number of objects (expected 01)", 6, 1},
        {"Wrong object ID (expected 05)", 7, 1},
        {"Wrong object ID (expected 05)", 10, 1}}},
  };
  for (const Case& c : table) EXPECT_EQ(CheckResponsePdu(c.request, c.response), c.faults) << c.what;
}

TEST(FunctionPdu, ViewLinesOfEachAnswer) {
  struct Case {
    const char* what;
    Pdu request, response;
    bool hex;
    std::vector<std::string> lines;
  };
  const std::vector<Case> table = {
      {"15 coils from the request",
       P("0F 00 13 00 0A 02 CD 01"),
       P("0F 00 13 00 0A"),
       false,
       {"CL 00019 <- 1", "CL 00020 <- 0", "CL 00021 <- 1", "CL 00022 <- 1", "CL 00023 <- 0", "CL 00024 <- 0",
        "CL 00025 <- 1", "CL 00026 <- 1", "CL 00027 <- 1", "CL 00028 <- 0"}},
      {"22", P("16 00 04 00 F2 00 25"), P("16 00 04 00 F2 00 25"), true, {"HR 0x0004 <- AND 00F2, OR 0025"}},
      {"23 writes then reads, values padded",
       P("17 00 03 00 03 00 0E 00 02 04 00 FF 01 00"),
       P("17 06 00 FE 0A CD 00 01"),
       false,
       {"HR 00014 <- 255", "HR 00015 <- 256", "HR 00003: 254 ", "HR 00004: 2765", "HR 00005: 1   "}},
      {"23 odd byte count shows whole registers only",
       P("17 00 00 00 02 00 00 00 01 02 00 01"),
       P("17 03 00 07 00"),
       false,
       {"HR 00000 <- 1", "HR 00000: 7"}},
      {"17",
       P("11"),
       P("11 07 2A FF \"V1\\0\" 00"),
       false,
       {"Server ID: 2A", "Run indicator: ON (FF)", "Additional data: 56 31 5C 30 00 \"V1\\x5C0\\x00\""}},
      {"17 run indicator off", P("11"), P("11 02 01 00"), false, {"Server ID: 01", "Run indicator: OFF (00)"}},
      {"07",
       P("07"),
       P("07 6D"),
       false,
       {"Exception status: 6D", "Status bit 0: 1", "Status bit 1: 0", "Status bit 2: 1", "Status bit 3: 1",
        "Status bit 4: 0", "Status bit 5: 1", "Status bit 6: 1", "Status bit 7: 0"}},
      {"08", P("08 00 00 A5 37"), P("08 00 00 A5 37"), false, {"Diagnostics 0000 (return query data): A5 37"}},
      {"43 with more follows",
       P("2B 0E 01 00"),
       P("2B 0E 01 81 FF 02 03 00 04 \"Acme\" 01 02 \"P\x01\" 80 01 \"z\""),
       false,
       {"Read device ID code 01, conformity level 81", "00 VendorName: Acme", "01 ProductCode: P\\x01", "80: z",
        "More follows: next object ID 02"}},
      {"43 object cut short is not shown",
       P("2B 0E 01 00"),
       P("2B 0E 01 01 00 00 02 02 03 \"1.0\" 06 09 \"Mod\""),
       false,
       {"Read device ID code 01, conformity level 01", "02 MajorMinorRevision: 1.0"}},
      {"exception shows nothing", P("07"), P("87 01"), false, {}},
  };
  for (const Case& c : table) EXPECT_EQ(ResponseLines(c.request, c.response, c.hex), c.lines) << c.what;
}

TEST(AsciiFraming, LrcAndEncodingOfHandComputedFrames) {
  struct Case {
    Frame adu;
    uint8_t lrc;
    std::string chars;
  };
  const std::vector<Case> table = {
      // 11+03+00+6B+00+03 = 82, -82 = 7E.
      {{0x11, 0x03, 0x00, 0x6B, 0x00, 0x03}, 0x7E, ":1103006B00037E\r\n"},
      {{0x01, 0x03, 0x00, 0x00, 0x00, 0x01}, 0xFB, ":010300000001FB\r\n"},
      {{0x11, 0x07}, 0xE8, ":1107E8\r\n"},
      // 11+0F+00+13+00+0A+02+CD+01 = 10D: the carry is dropped, -0D = F3.
      {{0x11, 0x0F, 0x00, 0x13, 0x00, 0x0A, 0x02, 0xCD, 0x01}, 0xF3, ":110F0013000A02CD01F3\r\n"},
      {{0x80, 0x80}, 0x00, ":808000\r\n"},
      {{}, 0x00, ":00\r\n"},
  };
  for (const Case& c : table) {
    EXPECT_EQ(Lrc(c.adu), c.lrc) << Digits(c.adu);
    EXPECT_EQ(EncodeAscii(c.adu), c.chars) << Digits(c.adu);
    if (c.adu.size() < 2) continue;
    AsciiDecoder d;
    const std::vector<AsciiFrame> frames = d.Feed(c.chars);
    ASSERT_EQ(frames.size(), 1u) << c.chars;
    Frame withLrc = c.adu;
    withLrc.push_back(c.lrc);
    EXPECT_EQ(frames[0].adu, withLrc);
    EXPECT_TRUE(frames[0].faults.empty()) << frames[0].faults[0].message;
  }
}

TEST(AsciiFraming, DecoderReportsDamagedFramesAndStillDeliversThem) {
  struct Expected {
    std::string adu;
    std::vector<PduFault> faults;
  };
  struct Case {
    const char* what;
    std::string chars;
    std::vector<Expected> frames;
  };
  const std::string zeros300(600, '0');
  const std::vector<Case> table = {
      {"bad LRC", ":1103006B00037F\r\n", {{"1103006B00037F", {{"Bad LRC (expected 7E)", 6, 1}}}}},
      {"noise before ':'", "x\r:010300000001FB\r\n", {{"010300000001FB", {{"2 characters before ':' dropped", 0, 0}}}}},
      {"one character before ':'",
       "x:010300000001FB\r\n",
       {{"010300000001FB", {{"1 character before ':' dropped", 0, 0}}}}},
      {"no ':'", "010300000001FB\r\n", {{"010300000001FB", {{"Missing ':' at the start of the frame", 0, 0}}}}},
      {"bad hex counts as 0", ":01G300000001FB\r\n", {{"010300000001FB", {{"Invalid hex character 'G'", 1, 1}}}}},
      {"control character", ":0103\t0000001FB\r\n", {{"010300000001FB", {{"Invalid hex character 0x09", 2, 1}}}}},
      {"lower case",
       ":1103006b00037E\r\n",
       {{"1103006B00037E", {{"Lower-case hex character 'b' (upper-case expected)", 3, 1}}}}},
      {"odd length",
       ":010300000001FB0\r\n",
       {{"010300000001FB", {{"Odd number of hex characters: the last one is dropped", 7, 0}}}}},
      {"bad hex in a dropped half byte marks nothing",
       ":1107E8G\r\n",
       {{"1107E8",
         {{"Invalid hex character 'G'", 3, 0}, {"Odd number of hex characters: the last one is dropped", 3, 0}}}}},
      {"LF alone", ":010300000001FB\n", {{"010300000001FB", {{"Missing CR before LF", 7, 0}}}}},
      {"CR then the next frame",
       ":010300000001FB\r:1107E8\r\n",
       {{"010300000001FB", {{"Missing LF after CR", 7, 0}}}, {"1107E8", {}}}},
      {"restart", ":0103:1107E8\r\n", {{"1107E8", {{"Frame restarted by ':' (2 bytes dropped)", 0, 0}}}}},
      {"short", ":0101\r\n", {{"0101", {{"Frame too short (at least 3 bytes expected)", 0, 2}}}}},
      {"two frames, blank line between",
       ":1107E8\r\n\r\n:1107E8\r\n",
       {{"1107E8", {}}, {"1107E8", {{"2 characters before ':' dropped", 0, 0}}}}},
      {"faults cut back to one place are one",
       ":000G0G:\r\n",
       {{"",
         {{"Invalid hex character 'G'", 0, 0},
          {"Frame restarted by ':' (3 bytes dropped)", 0, 0},
          {"Frame too short (at least 3 bytes expected)", 0, 0}}}}},
      {"overlong",
       ":" + zeros300 + "\r\n",
       {{std::string(510, '0'), {{"Frame longer than 255 bytes: the rest is dropped", 254, 1}}}}},
      {"one fault per kind and place",
       ":1G1G07E8\r\n",
       {{"101007E8",
         {{"Invalid hex character 'G'", 0, 1}, {"Invalid hex character 'G'", 1, 1}, {"Bad LRC (expected D9)", 3, 1}}}}},
      {"noise inside a frame: the first eight bad characters listed, the rest counted",
       ":1107" + std::string(20, 'Z') + "00\r\n",
       {{"1107" + std::string(20, '0') + "00",
         [] {
           std::vector<PduFault> f;
           for (int32_t i = 0; i < 8; ++i) f.push_back({"Invalid hex character 'Z'", 2 + i / 2, 1});
           f.erase(std::unique(f.begin(), f.end()), f.end());
           f.push_back({"12 more invalid or lower-case hex characters not listed", 0, 0});
           f.push_back({"Bad LRC (expected E8)", 12, 1});
           return f;
         }()}}},
  };
  for (const Case& c : table) {
    AsciiDecoder d;
    const std::vector<AsciiFrame> got = d.Feed(c.chars);
    ASSERT_EQ(got.size(), c.frames.size()) << c.what;
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(Digits(got[i].adu), c.frames[i].adu) << c.what;
      EXPECT_EQ(got[i].faults, c.frames[i].faults) << c.what;
    }
    EXPECT_FALSE(d.InFrame()) << c.what;
  }
}

TEST(AsciiFraming, FinishEndsAnOpenFrameForTheTimeOut) {
  AsciiDecoder d;
  EXPECT_FALSE(d.Finish().has_value());
  EXPECT_TRUE(d.Feed(":1107E8").empty());
  EXPECT_TRUE(d.InFrame());
  std::optional<AsciiFrame> f = d.Finish();
  ASSERT_TRUE(f.has_value());
  EXPECT_EQ(Digits(f->adu), "1107E8");
  EXPECT_EQ(f->faults, (std::vector<PduFault>{{"Missing CR LF at the end of the frame", 3, 0}}));
  EXPECT_FALSE(d.InFrame());
  // After a lone CR the missing part is the LF.
  d.Feed(":1107E8\r");
  f = d.Finish();
  ASSERT_TRUE(f.has_value());
  EXPECT_EQ(f->faults, (std::vector<PduFault>{{"Missing LF after CR", 3, 0}}));
  // Reset forgets a frame half received.
  d.Feed(":11");
  d.Reset();
  EXPECT_EQ(d.Feed("07E8\r\n").size(), 1u);
}

// The TCP frame of a slave and PDU: identifier 1, protocol 0, length.
Frame Mbap(uint8_t slave, const Frame& pdu, int32_t id = 1) {
  Frame f = {
      static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id), 0, 0, 0, static_cast<uint8_t>(pdu.size() + 1), slave};
  f.insert(f.end(), pdu.begin(), pdu.end());
  return f;
}

RequestValues Values(int32_t function) {
  RequestValues rq;
  rq.slave = 1;
  rq.function = function;
  return rq;
}

// Each code's values reach its request: the PDU in an MBAP header (identifier moved on) or after the slave byte with
// the CRC (identifier untouched); values out of range are refused without a frame and use up no identifier.
TEST(FunctionCodes, RequestFramesInEveryFramingAndRefusals) {
  using Set = std::function<void(RequestValues&)>;
  const std::vector<std::tuple<int32_t, Set, Frame>> built = {
      {15,
       [](RequestValues& r) { r.address = 0x13, r.coils = {1, 0, 1, 1, 0, 0, 1, 1, 1, 0}; },
       {0x0F, 0, 0x13, 0, 0x0A, 2, 0xCD, 1}},
      {22, [](RequestValues& r) { r.address = 4, r.andMask = 0xF2, r.orMask = 0x25; }, {0x16, 0, 4, 0, 0xF2, 0, 0x25}},
      {23,
       [](RequestValues& r) {
         r.address = 3, r.quantity = 6, r.writeAddress = 0x0E, r.words = {0xFF, 0xFF, 0xFF};
       },
       {0x17, 0, 3, 0, 6, 0, 0x0E, 0, 3, 6, 0, 0xFF, 0, 0xFF, 0, 0xFF}},
      {43, [](RequestValues& r) { r.readCode = 1; }, {0x2B, 0x0E, 1, 0}},
      {8, [](RequestValues& r) { r.words = {0xA537}; }, {8, 0, 0, 0xA5, 0x37}},
      {7, [](RequestValues&) {}, {7}},
      {17, [](RequestValues&) {}, {0x11}},
      // refused (one case per code; the builders' own ranges are checked above): no coil, read 0, read device ID
      // code 5, a mask beyond 16 bits, no data
      {15, [](RequestValues&) {}, {}},
      {23, [](RequestValues& r) { r.words = {1}; }, {}},
      {43, [](RequestValues& r) { r.readCode = 5; }, {}},
      {22, [](RequestValues& r) { r.andMask = 0x10000; }, {}},
      {8, [](RequestValues&) {}, {}},
  };
  for (const auto& [function, set, pdu] : built) {
    for (Mode mode : {Mode::Rtu, Mode::Tcp, Mode::RtuOverTcp}) {
      SCOPED_TRACE(std::to_string(function) + " " + Digits(pdu) + " mode " + std::to_string(int(mode)));
      RequestValues rq = Values(function);
      rq.mode = mode;
      set(rq);
      int32_t transactionId = 0x1233;
      std::vector<Frame> out;
      std::string refusal;
      const BuildResult result = BuildRequestFrames(rq, transactionId, out, &refusal);
      if (pdu.empty()) {
        EXPECT_EQ(result, BuildResult::Refused);
        EXPECT_TRUE(out.empty());
        EXPECT_FALSE(refusal.empty());
        EXPECT_EQ(transactionId, 0x1233);
        continue;
      }
      ASSERT_EQ(result, BuildResult::Built);
      Frame rtu = {1};
      rtu.insert(rtu.end(), pdu.begin(), pdu.end());
      EXPECT_EQ(out, std::vector<Frame>{mode == Mode::Tcp ? Mbap(1, pdu, 0x1234) : WithCrc(rtu)});
      EXPECT_EQ(transactionId, mode == Mode::Tcp ? 0x1234 : 0x1233);  // moved on only where the frame carries it
    }
  }
}

// Answers fed byte by byte: the frame completes exactly at its last byte
// (never before), and the faults stand where they are in the whole frame.
TEST(FunctionCodes, AnswersSizedAndCheckedInTheWholeFrame) {
  const Frame rq15 = {1, 0x0F, 0, 0x13, 0, 0x0A, 2, 0xCD, 1}, rq22 = {1, 0x16, 0, 4, 0, 0xF2, 0, 0x25},
              rq23 = {1, 0x17, 0, 3, 0, 6, 0, 0x0E, 0, 3, 6, 0, 0xFF, 0, 0xFF, 0, 0xFF}, rq43 = {1, 0x2B, 0x0E, 1, 0},
              rq08 = {1, 8, 0, 0, 0xA5, 0x37}, rq07 = {1, 7}, rq17 = {1, 0x11};
  const Frame idAnswer = {1, 0x2B, 0x0E, 1, 1, 0, 0, 2, 0, 3, 0x41, 0x42, 0x43, 1, 2, 0x58, 0x59};
  struct Case {
    const char* what;
    Frame request, answer;      // from the slave byte on, without CRC or header
    std::vector<Fault> faults;  // offsets from the slave byte
    std::optional<uint8_t> exception;
  };
  const std::vector<Case> cases = {
      {"15 echo", rq15, {1, 0x0F, 0, 0x13, 0, 0x0A}, {}, {}},
      {"22 echo", rq22, {1, 0x16, 0, 4, 0, 0xF2, 0, 0x25}, {}, {}},
      {"23 six registers", rq23, {1, 0x17, 0x0C, 0, 0xFE, 0, 0x0A, 0x0D, 0xFE, 0, 0xFE, 0, 0xFE, 0, 0xFE}, {}, {}},
      {"23 wrong byte count", rq23, {1, 0x17, 2, 0, 0xFE}, {{"Wrong byte count (expected 0C)", 2, 1}}, {}},
      {"23 exception", rq23, {1, 0x97, 2}, {}, 2},
      {"43/14 two objects", rq43, idAnswer, {}, {}},
      {"08 echo", rq08, {1, 8, 0, 0, 0xA5, 0x37}, {}, {}},
      {"08 wrong data", rq08, {1, 8, 0, 0, 0xA5, 0x36}, {{"Wrong echo of the query data (expected 37)", 5, 1}}, {}},
      {"07 status", rq07, {1, 7, 0x6D}, {}, {}},
      {"17 id", rq17, {1, 0x11, 3, 0x0A, 0xFF, 0x42}, {}, {}},
      {"17 count too small", rq17, {1, 0x11, 1, 0x0A}, {{"Byte count too small (expected at least 02)", 2, 1}}, {}},
  };
  for (const Case& c : cases) {
    for (Mode mode : {Mode::Rtu, Mode::Tcp}) {
      SCOPED_TRACE(std::string(c.what) + (mode == Mode::Tcp ? " TCP" : " RTU"));
      const Frame pduRq(c.request.begin() + 1, c.request.end()), pduAn(c.answer.begin() + 1, c.answer.end());
      const Frame request = mode == Mode::Tcp ? Mbap(1, pduRq) : WithCrc(c.request);
      const Frame answer = mode == Mode::Tcp ? Mbap(1, pduAn) : WithCrc(c.answer);
      const int32_t shift = mode == Mode::Tcp ? 6 : 0;
      ResponseAssembler a(mode, request);
      for (size_t i = 0; i < answer.size(); ++i) {
        // One byte per chunk: the rule of a function without one would end it at once.
        EXPECT_EQ(a.Feed(answer[i], 1), i + 1 == answer.size()) << "byte " << i;
      }
      ASSERT_TRUE(a.Complete());
      EXPECT_EQ(a.Received(), answer);
      std::vector<Fault> expected = c.faults;
      for (Fault& f : expected) f.offset += shift;
      EXPECT_EQ(a.Faults(), expected);
      EXPECT_EQ(a.Exception(), c.exception);
    }
  }
}

}  // namespace
}  // namespace modbus
