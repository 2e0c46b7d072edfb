// The requests, answer lengths, answer checks and view lines of functions 07,
// 08, 15, 17, 22, 23 and 43/14, on PDUs taken from the protocol's published
// examples and on hand-made faulty answers.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "modbus/pdu_ext.h"

namespace modbus {
namespace {

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

TEST(BreadthPdu, BuildersMakeThePublishedRequestsAndRefuseOutOfRange) {
  const std::vector<uint16_t> threeFF = {0x00FF, 0x00FF, 0x00FF};
  struct Case {
    const char* what;
    std::function<PduResult()> build;
    Pdu pdu;
    std::string refusal;
  };
  const std::vector<Case> table = {
      // The protocol's examples: 10 coils from 20 (address 19), values CD 01.
      {"15 example", [] { return BuildWriteMultipleCoils(19, Bits("1011001110")); }, P("0F 00 13 00 0A 02 CD 01"), ""},
      {"15 eight coils fill one byte", [] { return BuildWriteMultipleCoils(0, Bits("00000001")); },
       P("0F 00 00 00 08 01 80"), ""},
      {"15 nine coils need two", [] { return BuildWriteMultipleCoils(0, Bits("111111111")); },
       P("0F 00 00 00 09 02 FF 01"), ""},
      {"15 no coil",
       [] { return BuildWriteMultipleCoils(0, {}); },
       {},
       "Invalid quantity \"0\": write 1 to 1968 coils"},
      {"15 too many",
       [] { return BuildWriteMultipleCoils(0, std::vector<uint8_t>(1969, 1)); },
       {},
       "Invalid quantity \"1969\": write 1 to 1968 coils"},
      {"15 not a bit",
       [] {
         return BuildWriteMultipleCoils(0, {1, 0, 2});
       },
       {},
       "Invalid coil value \"2\" at position 3: a coil is 0 or 1"},
      {"15 address",
       [] { return BuildWriteMultipleCoils(65536, {1}); },
       {},
       "Invalid address \"65536\": an address is a number from 0 to 65535"},
      {"22 example", [] { return BuildMaskWriteRegister(4, 0xF2, 0x25); }, P("16 00 04 00 F2 00 25"), ""},
      {"22 AND mask",
       [] { return BuildMaskWriteRegister(0, 65536, 0); },
       {},
       "Invalid AND mask \"65536\": a mask is a number from 0 to 65535"},
      {"22 OR mask",
       [] { return BuildMaskWriteRegister(0, 0, -1); },
       {},
       "Invalid OR mask \"-1\": a mask is a number from 0 to 65535"},
      {"23 example", [&] { return BuildReadWriteMultipleRegisters(3, 6, 14, threeFF); },
       P("17 00 03 00 06 00 0E 00 03 06 00 FF 00 FF 00 FF"), ""},
      {"23 read 126",
       [&] { return BuildReadWriteMultipleRegisters(0, 126, 0, threeFF); },
       {},
       "Invalid read quantity \"126\": read 1 to 125 registers"},
      {"23 write 122",
       [] { return BuildReadWriteMultipleRegisters(0, 1, 0, std::vector<uint16_t>(122)); },
       {},
       "Invalid write quantity \"122\": write 1 to 121 registers"},
      {"23 write address",
       [&] { return BuildReadWriteMultipleRegisters(0, 1, 70000, threeFF); },
       {},
       "Invalid write address \"70000\": an address is a number from 0 to 65535"},
      {"43/14 basic", [] { return BuildReadDeviceIdentification(1, 0); }, P("2B 0E 01 00"), ""},
      {"43/14 individual", [] { return BuildReadDeviceIdentification(4, 0x81); }, P("2B 0E 04 81"), ""},
      {"43/14 code 5",
       [] { return BuildReadDeviceIdentification(5, 0); },
       {},
       "Invalid read device ID code \"5\": 1 basic, 2 regular, 3 extended or 4 one object"},
      {"43/14 object 256",
       [] { return BuildReadDeviceIdentification(1, 256); },
       {},
       "Invalid object ID \"256\": an object ID is a number from 0 to 255"},
      {"17", [] { return BuildReportServerId(); }, P("11"), ""},
      {"07", [] { return BuildReadExceptionStatus(); }, P("07"), ""},
      {"08 example", [] { return BuildDiagnostics(0, {0xA537}); }, P("08 00 00 A5 37"), ""},
      {"08 other sub-function",
       [] { return BuildDiagnostics(1, {0}); },
       {},
       "Invalid sub-function \"1\": only 0 (return query data) is supported"},
      {"08 no data", [] { return BuildDiagnostics(0, {}); }, {}, "Invalid quantity \"0\": send 1 to 125 data words"},
  };
  for (const Case& c : table) {
    const PduResult r = c.build();
    EXPECT_EQ(r.pdu, c.pdu) << c.what;
    EXPECT_EQ(r.refusal, c.refusal) << c.what;
    EXPECT_EQ(r.Ok(), c.refusal.empty()) << c.what;
  }
}

TEST(BreadthPdu, CoilsAsTypedListsOrWireBytes) {
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
TEST(BreadthPdu, LargestQuantitiesAreAccepted) {
  EXPECT_EQ(BuildWriteMultipleCoils(0, std::vector<uint8_t>(1968, 1)).pdu.size(), 6u + 246u);
  EXPECT_EQ(BuildReadWriteMultipleRegisters(0, 125, 0, std::vector<uint16_t>(121, 7)).pdu.size(), 10u + 242u);
  EXPECT_EQ(BuildDiagnostics(0, std::vector<uint16_t>(125, 7)).pdu.size(), 3u + 250u);
}

TEST(BreadthPdu, AnswerLengthFromTheBytesReceivedSoFar) {
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

TEST(BreadthPdu, AnswerChecksReportEveryWrongEchoAndCount) {
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

TEST(BreadthPdu, ViewLinesOfEachAnswer) {
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

}  // namespace
}  // namespace modbus
