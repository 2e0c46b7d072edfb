// CRC-16/MODBUS.
#include "codec/crc16.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(Crc16, CheckValueAndKnownFrames) {
  const std::string check = "123456789";
  EXPECT_EQ(Crc16Modbus(reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0x4B37);

  struct Case {
    Frame data;
    uint8_t lo, hi;
  };
  for (const Case& c : std::vector<Case>{{{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A}, 0xC5, 0xCD},
                                         {{0x11, 0x03, 0x00, 0x6B, 0x00, 0x03}, 0x76, 0x87},
                                         {{0x01, 0x05, 0x00, 0x00, 0xFF, 0x00}, 0x8C, 0x3A},
                                         {{}, 0xFF, 0xFF}}) {
    Frame buf = c.data;
    buf.resize(buf.size() + 2, 0xEE);
    EXPECT_EQ(AppendCRC(buf, static_cast<int32_t>(c.data.size())), 2);
    EXPECT_EQ(buf[c.data.size()], c.lo);
    EXPECT_EQ(buf[c.data.size() + 1], c.hi);
  }
}

TEST(Crc16, AppendIntoAWorkBufferLeavesTheRest) {
  Frame work(256, 0xAA);
  const Frame pdu = {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A};
  std::copy(pdu.begin(), pdu.end(), work.begin());
  EXPECT_EQ(AppendCRC(work, 6), 2);
  EXPECT_EQ(work.size(), 256u);
  EXPECT_EQ(work[6], 0xC5);
  EXPECT_EQ(work[7], 0xCD);
  EXPECT_EQ(work[8], 0xAA);
}

TEST(Crc16, AppendWithoutRoomIsANoOp) {
  Frame full = {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A};
  const Frame before = full;
  EXPECT_EQ(AppendCRC(full, 6), 0);  // no room at all
  EXPECT_EQ(AppendCRC(full, 5), 0);  // room for one byte only
  EXPECT_EQ(AppendCRC(full, -1), 0);
  EXPECT_EQ(full, before);
  Frame empty;
  EXPECT_EQ(AppendCRC(empty, 0), 0);
  EXPECT_TRUE(empty.empty());
}

TEST(Crc16, CheckCRC) {
  struct Case {
    Frame frame;
    bool ok;
    std::array<uint8_t, 2> expected;
  };
  const std::vector<Case> cases = {
      {{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD}, true, {0xC5, 0xCD}},
      {{0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xCD, 0xC5}, false, {0xC5, 0xCD}},
      {{0x01, 0x03, 0x00, 0x00, 0x00, 0x0B, 0xC5, 0xCD}, false, {0x04, 0x0D}},
      {{0xFF, 0xFF}, true, {0xFF, 0xFF}},  // a CRC over no data
      {{0xFF, 0xFE}, false, {0xFF, 0xFF}},
      {{0x01}, false, {0xFF, 0xFF}},  // too short to carry a CRC
      {{}, false, {0xFF, 0xFF}},
  };
  for (const Case& c : cases) {
    std::array<uint8_t, 2> expected{0x12, 0x34};
    const Frame copy = c.frame;
    EXPECT_EQ(CheckCRC(c.frame, expected), c.ok) << ::testing::PrintToString(c.frame);
    EXPECT_EQ(expected, c.expected) << ::testing::PrintToString(c.frame);
    EXPECT_EQ(c.frame, copy);
  }
}

}  // namespace
