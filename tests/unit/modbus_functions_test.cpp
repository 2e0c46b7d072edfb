// The function codes beyond the seven basic ones and the ASCII framing: PDUs built from values (the protocol's
// published examples), refusals, answer lengths, answer checks and view lines on the pure builders; the same codes
// through the request builder and the answer assembler, framed; LRC, ASCII frames and every kind of damaged frame.
#include "modbus/ascii_framing.h"
#include "modbus/pdu_ext.h"
#include "modbus/requests.h"
#include "test_bytes.h"

// Requests are written with designated initializers: the members not named keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace modbus {
namespace {

using namespace testbytes;

// "2B 0E 01" -> bytes; a quoted run "Abc" adds its characters.
Pdu P(std::string_view text) {
  Pdu p;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '"') {
      for (++i; text[i] != '"'; ++i) p.push_back(static_cast<uint8_t>(text[i]));
    } else if (text[i] != ' ')
      p.push_back(static_cast<uint8_t>(std::stoi(std::string(text.substr(i++, 2)), nullptr, 16)));
  }
  return p;
}

std::vector<uint8_t> Bits(std::string_view zeroOne) {
  std::vector<uint8_t> b;
  for (char c : zeroOne) b.push_back(static_cast<uint8_t>(c - '0'));
  return b;
}

// The PDU built (the largest quantities fit in a PDU), or the refusal, which has no bytes.
TEST(FunctionPdu, BuildersFillBytesAndRefuseOutOfRange) {
  const std::vector<uint16_t> threeFF = {0x00FF, 0x00FF, 0x00FF};
  const std::string address = "\": an address is a number from 0 to 65535",
                    mask = "\": a mask is a number from 0 to 65535";
  const std::vector<std::pair<PduResult, std::string>> table = {
      {BuildWriteMultipleCoils(0, Bits("00000001")), "0F 00 00 00 08 01 80"},  // eight coils fill one byte
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
      {BuildDiagnostics(0, {}), "Invalid query data count \"0\": send 1 to 125 data words"},
      {BuildWriteMultipleCoils(0, std::vector<uint8_t>(1968, 1)), "252 bytes"},
      {BuildReadWriteMultipleRegisters(0, 125, 0, std::vector<uint16_t>(121, 7)), "252 bytes"},
      {BuildDiagnostics(0, std::vector<uint16_t>(125, 7)), "253 bytes"}};
  for (const auto& [r, expected] : table) {
    const std::string got = !r.Ok()                       ? r.refusal
                            : expected.ends_with("bytes") ? std::to_string(r.pdu.size()) + " bytes"
                                                          : Hex(r.pdu);
    EXPECT_EQ(got, expected);
    EXPECT_TRUE(r.Ok() == r.refusal.empty() && r.pdu.empty() == !r.Ok()) << expected;
  }
}

TEST(FunctionPdu, CoilsAsTypedListsOrWireBytes) {
  // hex, text, quantity, the coils or the refusal. The protocol's example: CD 01 holds coils 20..29 as 1011001110.
  const std::vector<std::tuple<bool, std::string, int32_t, std::string>> table = {
      {false, "1 0 1 1", 0, "1011"},
      {false, "1,0;1\t1", 0, "1011"},
      {false, "1011001110", 0, "1011001110"},
      {false, "1 2", 0, "Invalid coil list \"1 2\": a coil is 0 or 1"},
      {false, " ", 0, "Invalid coil list \" \": a coil is 0 or 1"},
      {true, "CD 01", 10, "1011001110"},
      {true, "0xcd0x01", 10, "1011001110"},
      {true, "FF", 3, "111"},
      {true, "CD", 10, "Invalid coil bytes \"CD\": 10 coils take 2 bytes"},
      {true, "CD 01 00", 10, "Invalid coil bytes \"CD 01 00\": 10 coils take 2 bytes"},
      {true, "C D", 4, "Invalid coil bytes \"C D\": bytes are pairs of hexadecimal digits"},
      {true, "CG", 4, "Invalid coil bytes \"CG\": bytes are pairs of hexadecimal digits"},
      {true, "", 1969, "Invalid quantity \"1969\": write 1 to 1968 coils"}};
  for (const auto& [hex, text, quantity, expected] : table) {
    const CoilValues v = hex ? CoilsFromHexBytes(text, quantity) : CoilsFromList(text);
    std::string bits;
    for (uint8_t b : v.bits) bits += char('0' + b);
    EXPECT_EQ(v.refusal.empty() ? bits : v.refusal + bits, expected) << text;
  }
}

TEST(FunctionPdu, AnswerLengthFromTheBytesReceivedSoFar) {
  constexpr int32_t kNotYet = -1, kUnknown = -2;
  // received, the request's PDU size, the length. No objects: the header is the answer; 255 objects of 255 bytes:
  // the walk stays bounded and exact (the walk of an answer's objects prefix by prefix follows the table).
  const std::vector<std::tuple<std::string, int32_t, int32_t>> table = {{"", 0, kNotYet},
                                                                        {"0F", 0, 5},
                                                                        {"16", 0, 7},
                                                                        {"17", 0, kNotYet},
                                                                        {"17 0C", 0, 14},
                                                                        {"11 00", 0, 2},
                                                                        {"11 FF", 0, 257},
                                                                        {"07", 0, 2},
                                                                        {"08", 5, 5},
                                                                        {"08 00", 0, kUnknown},
                                                                        {"8F", 0, 2},
                                                                        {"03 04", 0, 6},
                                                                        {"2B", 0, kNotYet},
                                                                        {"2B 0D", 0, kUnknown},
                                                                        {"2B 0E 01 01 00 00 00", 0, 7},
                                                                        {"2B 0E 03 03 00 00 FF 80 FF", 0, kNotYet}};
  const auto length = [](int32_t n) {
    return n >= 0 ? PduLength::Of(n) : PduLength{n == kNotYet ? PduLength::Kind::NotYet : PduLength::Kind::Unknown, 0};
  };
  for (const auto& [received, requestSize, n] : table)
    EXPECT_EQ(ExpectedResponsePduLength(P(received), requestSize), length(n)) << received;
  // The protocol's example answer with three objects, fed byte by byte: not yet until the last object's length
  // byte, then the full length; the same with the walk carried from call to call, which also says how many bytes
  // must be held before the answer can change.
  const Pdu answer =
      P("2B 0E 01 01 00 00 03 00 16 \"Company identification\" 01 0F \"Product code XX\" 02 05 \"V2.11\"");
  ObjectWalk walk;
  for (size_t n = 1; n <= answer.size(); ++n) {
    size_t needed = 0;
    const PduLength expected = length(n <= 7 + 24 + 17 + 1 ? kNotYet : int32_t(answer.size()));
    EXPECT_EQ(ExpectedResponsePduLength(std::span(answer).first(n)), expected) << n;
    EXPECT_EQ(ExpectedResponsePduLength(std::span(answer).first(n), 0, &needed, &walk), expected) << n;
    const size_t next = n < 7 ? 7 : n < 9 ? 9 : n < 7 + 24 + 2 ? 7 + 24 + 2 : 7 + 24 + 17 + 2;
    if (expected.kind == PduLength::Kind::NotYet && n > 1) {
      EXPECT_EQ(needed, next) << n;
    }
  }
}

TEST(FunctionPdu, AnswerChecksReportEveryWrongEchoAndCount) {
  const std::string rq15 = "0F 00 13 00 0A 02 CD 01", rq22 = "16 00 04 00 F2 00 25",
                    rq23 = "17 00 03 00 06 00 0E 00 03 06 00 FF 00 FF 00 FF", rq08 = "08 00 00 A5 37 12 34",
                    rq43 = "2B 0E 01 00";
  // request, answer, faults; an answer cut short is checked as far as it goes; exceptions and other functions
  // are not checked here.
  const std::vector<std::tuple<std::string, std::string, std::vector<PduFault>>> table = {
      {rq15,
       "0F 00 14 00 09",
       {{"Wrong echo of the address (expected 00 13)", 1, 2}, {"Wrong echo of the quantity (expected 00 0A)", 3, 2}}},
      {rq15, "0F 00 13", {}},
      {rq22, rq22, {}},
      {rq22,
       "16 00 04 00 F3 00 24",
       {{"Wrong echo of the AND mask (expected 00 F2)", 3, 2}, {"Wrong echo of the OR mask (expected 00 25)", 5, 2}}},
      {rq23, "17 0C 00 FE 0A CD 00 01 00 03 00 0D 00 FF", {}},
      {rq08, rq08, {}},
      {rq08, "08 00 01 A5 37 12 34", {{"Wrong echo of the sub-function (expected 00 00)", 1, 2}}},
      {rq08, "08 00 00 A5 00 12 00", {{"Wrong echo of the query data (expected 37 12 34)", 4, 3}}},
      {rq08, "08 00 00 A5 37 12 34 56", {{"Wrong echo length (expected 7 bytes)", 7, 1}}},
      {"11", "11 02 01 FF", {}},
      {"07", "07 6D", {}},
      {rq15, "8F 02", {}},
      {rq15, "10 00 00 00 01", {}},
      {rq43, "2B 0D 01 01 00 00 00", {{"Wrong MEI type (expected 0E)", 1, 1}}},
      {rq43,
       "2B 0E 02 04 7F 05 00",
       {{"Wrong echo of the read device ID code (expected 01)", 2, 1},
        {"Invalid conformity level (expected 01, 02, 03, 81, 82 or 83)", 3, 1},
        {"Invalid more follows (expected 00 or FF)", 4, 1}}},
      {rq43, "2B 0E 01 81 00 03 00", {{"Invalid next object ID (expected 00 when no more follows)", 5, 1}}},
      {rq43, "2B 0E 01 81 FF 03 01 00 01 \"A\"", {}},
      {"2B 0E 02 00",
       "2B 0E 02 02 00 00 03 00 01 \"A\" 02 01 \"B\" 02 01 \"C\"",
       {{"Object ID out of order (expected above 02)", 13, 1}}},
      {"2B 0E 04 05",
       "2B 0E 04 82 FF 00 02 06 01 \"X\" 07 00",
       {{"Invalid more follows (expected 00 for one object)", 4, 1},
        {"Wrong number of objects (expected 01)", 6, 1},
        {"Wrong object ID (expected 05)", 7, 1},
        {"Wrong object ID (expected 05)", 10, 1}}}};
  for (const auto& [request, response, faults] : table)
    EXPECT_EQ(CheckResponsePdu(P(request), P(response)), faults) << request << " / " << response;
}

TEST(FunctionPdu, ViewLinesOfEachAnswer) {
  // what, request, answer, hex, the lines joined by '|'. 23: the writes, then the reads, values padded; an odd byte
  // count shows whole registers only; an object cut short is not shown; an exception shows nothing.
  const std::vector<std::tuple<std::string, std::string, std::string, bool, std::string>> table = {
      {"15 coils from the request", "0F 00 13 00 0A 02 CD 01", "0F 00 13 00 0A", false,
       "CL 00019 <- 1|CL 00020 <- 0|CL 00021 <- 1|CL 00022 <- 1|CL 00023 <- 0|CL 00024 <- 0|CL 00025 <- 1|"
       "CL 00026 <- 1|CL 00027 <- 1|CL 00028 <- 0"},
      {"22", "16 00 04 00 F2 00 25", "16 00 04 00 F2 00 25", true, "HR 0x0004 <- AND 00F2, OR 0025"},
      {"23", "17 00 03 00 03 00 0E 00 02 04 00 FF 01 00", "17 06 00 FE 0A CD 00 01", false,
       "HR 00014 <- 255|HR 00015 <- 256|HR 00003: 254 |HR 00004: 2765|HR 00005: 1   "},
      {"23 odd", "17 00 00 00 02 00 00 00 01 02 00 01", "17 03 00 07 00", false, "HR 00000 <- 1|HR 00000: 7"},
      {"17", "11", "11 07 2A FF \"V1\\0\" 00", false,
       "Server ID: 2A|Run indicator: ON (FF)|Additional data: 56 31 5C 30 00 \"V1\\x5C0\\x00\""},
      {"17 off", "11", "11 02 01 00", false, "Server ID: 01|Run indicator: OFF (00)"},
      {"07", "07", "07 6D", false,
       "Exception status: 6D|Status bit 0: 1|Status bit 1: 0|Status bit 2: 1|Status bit 3: 1|Status bit 4: 0|"
       "Status bit 5: 1|Status bit 6: 1|Status bit 7: 0"},
      {"08", "08 00 00 A5 37", "08 00 00 A5 37", false, "Diagnostics 0000 (return query data): A5 37"},
      {"43 with more follows", "2B 0E 01 00", "2B 0E 01 81 FF 02 03 00 04 \"Acme\" 01 02 \"P\x01\" 80 01 \"z\"", false,
       "Read device ID code 01, conformity level 81|00 VendorName: Acme|01 ProductCode: P\\x01|80: z|"
       "More follows: next object ID 02"},
      {"43 cut short", "2B 0E 01 00", "2B 0E 01 01 00 00 02 02 03 \"1.0\" 06 09 \"Mod\"", false,
       "Read device ID code 01, conformity level 01|02 MajorMinorRevision: 1.0"},
      {"exception", "07", "87 01", false, ""}};
  for (const auto& [what, request, response, hex, lines] : table) {
    std::string joined;
    for (const std::string& l : ResponseLines(P(request), P(response), hex)) joined += (joined.empty() ? "" : "|") + l;
    EXPECT_EQ(joined, lines) << what;
  }
}

// The frames decoded: each ADU in hex digits and its faults as {message@offset+length}.
std::string Decoded(const std::vector<AsciiFrame>& frames) {
  std::string s;
  for (const AsciiFrame& f : frames) {
    s += (s.empty() ? "" : " | ") + Digits(f.adu);
    for (const PduFault& x : f.faults)
      s += " {" + x.message + "@" + std::to_string(x.offset) + "+" + std::to_string(x.length) + "}";
  }
  return s;
}

TEST(AsciiFraming, LrcAndEncodingOfHandComputedFrames) {
  // 11+03+00+6B+00+03 = 82, -82 = 7E; 11+0F+00+13+00+0A+02+CD+01 = 10D: the carry is dropped, -0D = F3.
  const std::vector<std::tuple<Frame, uint8_t, std::string>> table = {
      {{0x11, 0x03, 0x00, 0x6B, 0x00, 0x03}, 0x7E, ":1103006B00037E\r\n"},
      {{0x11, 0x0F, 0x00, 0x13, 0x00, 0x0A, 0x02, 0xCD, 0x01}, 0xF3, ":110F0013000A02CD01F3\r\n"},
      {{0x80, 0x80}, 0x00, ":808000\r\n"},
      {{}, 0x00, ":00\r\n"}};
  for (const auto& [adu, lrc, chars] : table) {
    EXPECT_EQ(Lrc(adu), lrc) << Digits(adu);
    EXPECT_EQ(EncodeAscii(adu), chars) << Digits(adu);
  }
}

TEST(AsciiFraming, DecoderReportsDamagedFramesAndStillDeliversThem) {
  const std::string zeros300(600, '0'), over = "Odd number of hex characters: the last one is dropped";
  // what, characters, the frames decoded. A bad hex digit counts as 0; one in a dropped half byte marks nothing;
  // noise inside a frame: the first eight bad characters are listed, the rest counted.
  const std::vector<std::tuple<std::string, std::string, std::string>> table = {
      {"bad LRC", ":1103006B00037F\r\n", "1103006B00037F {Bad LRC (expected 7E)@6+1}"},
      {"noise before ':'", "x\r:010300000001FB\r\n", "010300000001FB {2 characters before ':' dropped@0+0}"},
      {"one character before ':'", "x:010300000001FB\r\n", "010300000001FB {1 character before ':' dropped@0+0}"},
      {"no ':'", "010300000001FB\r\n", "010300000001FB {Missing ':' at the start of the frame@0+0}"},
      {"bad hex", ":01G300000001FB\r\n", "010300000001FB {Invalid hex character 'G'@1+1}"},
      {"control character", ":0103\t0000001FB\r\n", "010300000001FB {Invalid hex character 0x09@2+1}"},
      {"lower case", ":1103006b00037E\r\n", "1103006B00037E {Lower-case hex character 'b' (upper-case expected)@3+1}"},
      {"bad hex dropped", ":1107E8G\r\n", "1107E8 {Invalid hex character 'G'@3+0} {" + over + "@3+0}"},
      {"LF alone", ":010300000001FB\n", "010300000001FB {Missing CR before LF@7+0}"},
      {"CR then the next frame", ":010300000001FB\r:1107E8\r\n", "010300000001FB {Missing LF after CR@7+0} | 1107E8"},
      {"short", ":0101\r\n", "0101 {Frame too short (at least 3 bytes expected)@0+2}"},
      {"blank line between", ":1107E8\r\n\r\n:1107E8\r\n", "1107E8 | 1107E8 {2 characters before ':' dropped@0+0}"},
      {"faults cut back to one place are one", ":000G0G:\r\n",
       " {Invalid hex character 'G'@0+0} {Frame restarted by ':' (3 bytes dropped)@0+0} "
       "{Frame too short (at least 3 bytes expected)@0+0}"},
      {"restart with half a byte pending", ":010:1107E8\r\n", "1107E8 {Frame restarted by ':' (1 byte dropped)@0+0}"},
      {"overlong", ":" + zeros300 + "\r\n",
       std::string(510, '0') + " {Frame longer than 255 bytes: the rest is dropped@254+1}"},
      {"one fault per kind and place", ":1G1G07E8\r\n",
       "101007E8 {Invalid hex character 'G'@0+1} {Invalid hex character 'G'@1+1} {Bad LRC (expected D9)@3+1}"},
      {"noise inside", ":1107" + std::string(20, 'Z') + "00\r\n",
       "1107" + std::string(20, '0') +
           "00 {Invalid hex character 'Z'@2+1} {Invalid hex character 'Z'@3+1} {Invalid hex character 'Z'@4+1} "
           "{Invalid hex character 'Z'@5+1} {12 more invalid or lower-case hex characters not listed@0+0} "
           "{Bad LRC (expected E8)@12+1}"}};
  for (const auto& [what, chars, frames] : table) {
    AsciiDecoder d;
    EXPECT_EQ(Decoded(d.Feed(chars)), frames) << what;
    EXPECT_FALSE(d.InFrame()) << what;
  }
}

TEST(AsciiFraming, FinishEndsAnOpenFrameForTheTimeOut) {
  AsciiDecoder d;
  EXPECT_FALSE(d.Finish().has_value());
  EXPECT_TRUE(d.Feed(":1107E8").empty() && d.InFrame());
  std::optional<AsciiFrame> f = d.Finish();
  EXPECT_EQ(f ? Decoded({*f}) : "none", "1107E8 {Missing CR LF at the end of the frame@3+0}");
  EXPECT_FALSE(d.InFrame());
  d.Feed(":1107E8\r");  // after a lone CR the missing part is the LF
  f = d.Finish();
  EXPECT_EQ(f ? Decoded({*f}) : "none", "1107E8 {Missing LF after CR@3+0}");
  d.Feed(":11");  // Reset forgets a frame half received
  d.Reset();
  EXPECT_EQ(d.Feed("07E8\r\n").size(), 1u);
}

// Each code's values reach its request: the PDU in an MBAP header (identifier moved on) or after the slave byte with
// the CRC (identifier untouched); values out of range are refused without a frame and use up no identifier.
TEST(FunctionCodes, RequestFramesInEveryFramingAndRefusals) {
  // The request (slave 1), the frame from the slave byte on ("": refused; the builders' own ranges are checked
  // above: here a refusal passed on, and a mask beyond 16 bits that reaches its builder whole).
  const std::vector<std::pair<RequestValues, std::string>> built = {
      {{.function = 15, .address = 0x13, .coils = Bits("1011001110")}, "01 0F 00 13 00 0A 02 CD 01"},
      {{.function = 22, .address = 4, .andMask = 0xF2, .orMask = 0x25}, "01 16 00 04 00 F2 00 25"},
      {{.function = 23, .address = 3, .quantity = 6, .words = {0xFF, 0xFF, 0xFF}, .writeAddress = 0x0E},
       "01 17 00 03 00 06 00 0E 00 03 06 00 FF 00 FF 00 FF"},
      {{.function = 43, .readCode = 1}, "01 2B 0E 01 00"},
      {{.function = 8, .words = {0xA537}}, "01 08 00 00 A5 37"},
      {{.function = 7}, "01 07"},
      {{.function = 17}, "01 11"},
      {{.function = 15}, ""},
      {{.function = 22, .andMask = 0x10000}, ""}};

  for (auto [rq, frame] : built)
    for (Mode mode : {Mode::Rtu, Mode::Tcp, Mode::RtuOverTcp}) {
      rq.slave = 1, rq.mode = mode;
      int32_t transactionId = 0x1233;
      std::vector<Frame> out;
      std::string refusal;
      const BuildResult result = BuildRequestFrames(rq, transactionId, out, &refusal);
      const bool tcp = mode == Mode::Tcp && !frame.empty();
      const std::vector<Frame> expected =
          frame.empty() ? std::vector<Frame>{} : std::vector<Frame>{Framed(int16_t(tcp), frame, 0x1234)};
      EXPECT_EQ(std::make_tuple(result, out, transactionId, refusal.empty()),
                std::make_tuple(frame.empty() ? BuildResult::Refused : BuildResult::Built, expected,
                                tcp ? 0x1234 : 0x1233, !frame.empty()))
          << rq.function << " " << frame << " mode " << int(mode);
    }
}

// Answers fed byte by byte: the frame completes exactly at its last byte (never before), and the faults stand where
// they are in the whole frame.
TEST(FunctionCodes, AnswersSizedAndCheckedInTheWholeFrame) {
  const std::string rq15 = "01 0F 00 13 00 0A 02 CD 01", rq23 = "01 17 00 03 00 06 00 0E 00 03 06 00 FF 00 FF 00 FF",
                    rq08 = "01 08 00 00 A5 37", rq17 = "01 11";
  // what, request, answer (from the slave byte on), faults (offsets from the slave byte), exception
  const std::vector<std::tuple<std::string, std::string, std::string, std::vector<Fault>, std::optional<uint8_t>>>
      cases = {
          {"15 echo", rq15, "01 0F 00 13 00 0A", {}, {}},
          {"23 wrong byte count", rq23, "01 17 02 00 FE", {{"Wrong byte count (expected 0C)", 2, 1}}, {}},
          {"23 exception", rq23, "01 97 02", {}, 2},
          {"43/14 two objects", "01 2B 0E 01 00", "01 2B 0E 01 01 00 00 02 00 03 41 42 43 01 02 58 59", {}, {}},
          {"08 wrong data", rq08, "01 08 00 00 A5 36", {{"Wrong echo of the query data (expected 37)", 5, 1}}, {}},
          {"17 count too small", rq17, "01 11 01 0A", {{"Byte count too small (expected at least 02)", 2, 1}}, {}}};
  for (const auto& [what, request, answer, faults, exception] : cases)
    for (Mode mode : {Mode::Rtu, Mode::Tcp}) {
      const Frame framed = Framed(int16_t(mode), answer);
      std::vector<Frame> bytes;  // one byte per chunk: the rule of a function without one would end it at once
      for (uint8_t b : framed) bytes.push_back({b});
      std::vector<Fault> expected = faults;
      for (Fault& f : expected) f.offset += mode == Mode::Tcp ? 6 : 0;
      const Outcome got = AssembleBothWays(mode, Framed(int16_t(mode), request), bytes);
      EXPECT_EQ(got,
                (Outcome{std::string(framed.size() - 1, '0') + "1", true, framed, got.answer, expected, exception}))
          << what << " mode " << int(mode);
    }
}

}  // namespace
}  // namespace modbus
