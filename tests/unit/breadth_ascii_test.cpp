// Modbus ASCII: LRC and frames checked by hand, and the decoder's handling of
// every kind of damaged frame.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modbus/ascii_framing.h"

namespace modbus {
namespace {

std::string Hex(const Frame& f) {
  std::string s;
  for (uint8_t b : f) s += std::string{"0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 15]};
  return s;
}

TEST(BreadthAscii, LrcAndEncodingOfHandComputedFrames) {
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
    EXPECT_EQ(Lrc(c.adu), c.lrc) << Hex(c.adu);
    EXPECT_EQ(EncodeAscii(c.adu), c.chars) << Hex(c.adu);
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

TEST(BreadthAscii, DecoderReportsDamagedFramesAndStillDeliversThem) {
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
      {"overlong",
       ":" + zeros300 + "\r\n",
       {{std::string(510, '0'), {{"Frame longer than 255 bytes: the rest is dropped", 254, 1}}}}},
      {"one fault per kind and place",
       ":1G1G07E8\r\n",
       {{"101007E8",
         {{"Invalid hex character 'G'", 0, 1}, {"Invalid hex character 'G'", 1, 1}, {"Bad LRC (expected D9)", 3, 1}}}}},
  };
  for (const Case& c : table) {
    AsciiDecoder d;
    const std::vector<AsciiFrame> got = d.Feed(c.chars);
    ASSERT_EQ(got.size(), c.frames.size()) << c.what;
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(Hex(got[i].adu), c.frames[i].adu) << c.what;
      EXPECT_EQ(got[i].faults, c.frames[i].faults) << c.what;
    }
    EXPECT_FALSE(d.InFrame()) << c.what;
  }
}

TEST(BreadthAscii, FinishEndsAnOpenFrameForTheTimeOut) {
  AsciiDecoder d;
  EXPECT_FALSE(d.Finish().has_value());
  EXPECT_TRUE(d.Feed(":1107E8").empty());
  EXPECT_TRUE(d.InFrame());
  std::optional<AsciiFrame> f = d.Finish();
  ASSERT_TRUE(f.has_value());
  EXPECT_EQ(Hex(f->adu), "1107E8");
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

}  // namespace
}  // namespace modbus
