// The function codes beyond the seven basic ones through the Modbus layer's
// request builder and the answer assembler: frames to the byte in both
// framings, refusals, and answers sized and checked with their faults at
// their place in the whole frame.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modbus/crc16.h"
#include "modbus/requests.h"
#include "modbus/response.h"

using namespace modbus;

namespace {

Frame Crc(Frame f) {
  const auto n = static_cast<int32_t>(f.size());
  f.resize(f.size() + 2);
  AppendCRC(f, n);
  return f;
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

}  // namespace

TEST(FunctionCodes, RequestFramesInRtuAndTcp) {
  struct Case {
    const char* what;
    RequestValues rq;
    Frame pdu;  // function code and data
    Frame rtu;  // the whole RTU frame, CRC as checked by hand
  };
  RequestValues coils = Values(15);
  coils.address = 0x13;
  coils.coils = {1, 0, 1, 1, 0, 0, 1, 1, 1, 0};
  RequestValues mask = Values(22);
  mask.address = 4;
  mask.andMask = 0xF2;
  mask.orMask = 0x25;
  RequestValues rw = Values(23);
  rw.address = 3;
  rw.quantity = 6;
  rw.writeAddress = 0x0E;
  rw.words = {0xFF, 0xFF, 0xFF};
  RequestValues id = Values(43);
  id.readCode = 1;
  RequestValues diag = Values(8);
  diag.words = {0xA537};
  const std::vector<Case> cases = {
      {"15", coils, {0x0F, 0, 0x13, 0, 0x0A, 2, 0xCD, 1}, {1, 0x0F, 0, 0x13, 0, 0x0A, 2, 0xCD, 1, 0x72, 0xCB}},
      {"22", mask, {0x16, 0, 4, 0, 0xF2, 0, 0x25}, {1, 0x16, 0, 4, 0, 0xF2, 0, 0x25, 0x67, 0xEE}},
      {"23",
       rw,
       {0x17, 0, 3, 0, 6, 0, 0x0E, 0, 3, 6, 0, 0xFF, 0, 0xFF, 0, 0xFF},
       {1, 0x17, 0, 3, 0, 6, 0, 0x0E, 0, 3, 6, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0x46, 0x91}},
      {"43/14", id, {0x2B, 0x0E, 1, 0}, {1, 0x2B, 0x0E, 1, 0, 0x70, 0x77}},
      {"08", diag, {8, 0, 0, 0xA5, 0x37}, {1, 8, 0, 0, 0xA5, 0x37, 0xDA, 0x8D}},
      {"07", Values(7), {7}, {1, 7, 0x41, 0xE2}},
      {"17", Values(17), {0x11}, {1, 0x11, 0xC0, 0x2C}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (Mode mode : {Mode::Rtu, Mode::Tcp, Mode::RtuOverTcp}) {
      RequestValues rq = c.rq;
      rq.mode = mode;
      int32_t transactionId = 0x1233;
      std::vector<Frame> out;
      ASSERT_EQ(BuildRequestFrames(rq, transactionId, out), BuildResult::Built);
      ASSERT_EQ(out.size(), 1u);
      if (mode == Mode::Tcp) {
        EXPECT_EQ(out[0], Mbap(1, c.pdu, 0x1234));
        EXPECT_EQ(transactionId, 0x1234);
      } else {
        EXPECT_EQ(out[0], c.rtu);
        EXPECT_EQ(transactionId, 0x1233);  // moved on only where the frame carries it
      }
    }
  }
}

TEST(FunctionCodes, ValuesOutOfRangeAreRefusedWithoutAFrame) {
  struct Case {
    const char* what;
    RequestValues rq;
  };
  RequestValues noCoils = Values(15);
  RequestValues tooManyCoils = Values(15);
  tooManyCoils.coils.assign(1969, 1);
  RequestValues readNone = Values(23);
  readNone.words = {1};
  RequestValues readTooMany = Values(23);
  readTooMany.quantity = 126;
  readTooMany.words = {1};
  RequestValues writeNone = Values(23);
  writeNone.quantity = 1;
  RequestValues badCode = Values(43);
  badCode.readCode = 5;
  RequestValues badMask = Values(22);
  badMask.andMask = 0x10000;
  RequestValues noData = Values(8);
  for (const Case& c : std::vector<Case>{{"15 none", noCoils},
                                         {"15 1969", tooManyCoils},
                                         {"23 read 0", readNone},
                                         {"23 read 126", readTooMany},
                                         {"23 write 0", writeNone},
                                         {"43 code 5", badCode},
                                         {"22 mask", badMask},
                                         {"08 no data", noData}}) {
    SCOPED_TRACE(c.what);
    int32_t transactionId = 7;
    std::vector<Frame> out;
    std::string refusal;
    RequestValues rq = c.rq;
    rq.mode = Mode::Tcp;
    EXPECT_EQ(BuildRequestFrames(rq, transactionId, out, &refusal), BuildResult::Refused);
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(refusal.empty());
    EXPECT_EQ(transactionId, 7);
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
      {"15 wrong quantity",
       rq15,
       {1, 0x0F, 0, 0x13, 0, 0x0B},
       {{"Wrong echo of the quantity (expected 00 0A)", 4, 2}},
       {}},
      {"22 echo", rq22, {1, 0x16, 0, 4, 0, 0xF2, 0, 0x25}, {}, {}},
      {"22 wrong OR mask",
       rq22,
       {1, 0x16, 0, 4, 0, 0xF2, 0, 0x24},
       {{"Wrong echo of the OR mask (expected 00 25)", 6, 2}},
       {}},
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
      const Frame request = mode == Mode::Tcp ? Mbap(1, pduRq) : Crc(c.request);
      const Frame answer = mode == Mode::Tcp ? Mbap(1, pduAn) : Crc(c.answer);
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

// A TCP answer whose MBAP length disagrees with the function's own rule: the
// rule sizes the frame and the length is painted.
TEST(FunctionCodes, MbapLengthAgainstTheFunctionsRule) {
  const Frame request = Mbap(1, {0x16, 0, 4, 0, 0xF2, 0, 0x25});
  Frame answer = Mbap(1, {0x16, 0, 4, 0, 0xF2, 0, 0x25});
  answer[5] = 9;
  ResponseAssembler a(Mode::Tcp, request);
  EXPECT_TRUE(a.FeedChunk(answer));
  EXPECT_EQ(a.Received().size(), answer.size());
  EXPECT_EQ(a.Faults(), (std::vector<Fault>{{"Invalid MBAP Length", 4, 2}}));
}
