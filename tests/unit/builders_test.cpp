// Request builders and the MBAP header: frames byte for byte.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "codec/convert.h"
#include "codec/crc16.h"
#include "fakes/fake_platform.h"
#include "panel/frmMain.h"

namespace {

struct Panel {
  fakes::FakePlatform fp;
  frmMain f{fp.Bundle()};
};

// Hex text of a frame, "01 03 ..." — failures read as frames.
std::string Hex(const Frame& f) {
  static const char* d = "0123456789ABCDEF";
  std::string s;
  for (uint8_t b : f) {
    if (!s.empty()) s += ' ';
    s += d[b >> 4];
    s += d[b & 15];
  }
  return s;
}

using Build = std::function<Frame(frmMain&)>;

TEST(Builders, FramesByteForByte) {
  struct Case {
    const char* what;
    int16_t mode;
    Build build;
    std::string frame;  // TCP with transaction identifier 1
  };
  const std::vector<Case> cases = {
      // The documented examples.
      {"read HR", 1, [](frmMain& f) { return f.GetReadRequestData(1, 3, 0, 10); }, "00 01 00 00 00 06 01 03 00 00 00 0A"},
      {"read HR", 0, [](frmMain& f) { return f.GetReadRequestData(1, 3, 0, 10); }, "01 03 00 00 00 0A C5 CD"},
      {"read HR", 2, [](frmMain& f) { return f.GetReadRequestData(1, 3, 0, 10); }, "01 03 00 00 00 0A C5 CD"},
      {"coil on", 0, [](frmMain& f) { return f.GetWriteSingleCoilRequestData(1, 5, 172, 1); }, "01 05 00 AC FF 00 4C 1B"},
      {"reg", 0, [](frmMain& f) { return f.GetWriteSingleRegisterRequestData(1, 6, 1, 3); }, "01 06 00 01 00 03 98 0B"},
      {"mult", 0, [](frmMain& f) { return f.GetWriteMultipleRegisterRequestData(1, 16, 1, 2, 0x000A, 0x0102); },
       "01 10 00 01 00 02 04 00 0A 01 02 92 30"},
      // Every read function code, both framings, boundary addresses.
      {"coils", 1, [](frmMain& f) { return f.GetReadRequestData(17, 1, 19, 37); }, "00 01 00 00 00 06 11 01 00 13 00 25"},
      {"coils", 0, [](frmMain& f) { return f.GetReadRequestData(17, 1, 19, 37); }, "11 01 00 13 00 25 0E 84"},
      {"inputs", 1, [](frmMain& f) { return f.GetReadRequestData(17, 2, 196, 22); }, "00 01 00 00 00 06 11 02 00 C4 00 16"},
      {"inputs", 0, [](frmMain& f) { return f.GetReadRequestData(17, 2, 196, 22); }, "11 02 00 C4 00 16 BA A9"},
      {"HR", 0, [](frmMain& f) { return f.GetReadRequestData(17, 3, 107, 3); }, "11 03 00 6B 00 03 76 87"},
      {"IR", 1, [](frmMain& f) { return f.GetReadRequestData(17, 4, 8, 1); }, "00 01 00 00 00 06 11 04 00 08 00 01"},
      {"IR", 0, [](frmMain& f) { return f.GetReadRequestData(17, 4, 8, 1); }, "11 04 00 08 00 01 B2 98"},
      {"addr 65535", 1, [](frmMain& f) { return f.GetReadRequestData(247, 3, 65535, 1); },
       "00 01 00 00 00 06 F7 03 FF FF 00 01"},
      {"addr 65536", 1, [](frmMain& f) { return f.GetReadRequestData(1, 3, 65536, 1); },
       "00 01 00 00 00 06 01 03 00 00 00 01"},
      {"addr 0 slave 0", 1, [](frmMain& f) { return f.GetReadRequestData(0, 3, 0, 1); },
       "00 01 00 00 00 06 00 03 00 00 00 01"},
      // Coils: 0 is off, anything else on.
      {"coil off", 1, [](frmMain& f) { return f.GetWriteSingleCoilRequestData(1, 5, 0, 0); }, "00 01 00 00 00 06 01 05 00 00 00 00"},
      {"coil 1", 1, [](frmMain& f) { return f.GetWriteSingleCoilRequestData(1, 5, 0, 1); }, "00 01 00 00 00 06 01 05 00 00 FF 00"},
      {"coil -1", 1, [](frmMain& f) { return f.GetWriteSingleCoilRequestData(1, 5, 0, -1); }, "00 01 00 00 00 06 01 05 00 00 FF 00"},
      {"coil 255", 1, [](frmMain& f) { return f.GetWriteSingleCoilRequestData(1, 5, 0, 255); }, "00 01 00 00 00 06 01 05 00 00 FF 00"},
      {"coil off", 0, [](frmMain& f) { return f.GetWriteSingleCoilRequestData(1, 5, 172, 0); }, "01 05 00 AC 00 00 0D EB"},
      // Single register: low 16 bits, two's complement.
      {"reg -1", 1, [](frmMain& f) { return f.GetWriteSingleRegisterRequestData(1, 6, 65535, -1); },
       "00 01 00 00 00 06 01 06 FF FF FF FF"},
      {"reg 70000", 0, [](frmMain& f) { return f.GetWriteSingleRegisterRequestData(1, 6, 1, 70000); },
       "01 06 00 01 11 70 D5 BE"},
      // Multiple registers: Count 1 and 2.
      {"mult 1", 1, [](frmMain& f) { return f.GetWriteMultipleRegisterRequestData(1, 16, 100, 1, 0x1234); },
       "00 01 00 00 00 09 01 10 00 64 00 01 02 12 34"},
      {"mult 2", 1, [](frmMain& f) { return f.GetWriteMultipleRegisterRequestData(1, 16, 100, 2, 0x3FC0, 0); },
       "00 01 00 00 00 0B 01 10 00 64 00 02 04 3F C0 00 00"},
      {"mult 1 value2 ignored", 0,
       [](frmMain& f) { return f.GetWriteMultipleRegisterRequestData(1, 16, 100, 1, -1, 0x5555); },
       "01 10 00 64 00 01 02 FF FF AF C4"},
      {"mult 3 zero filled", 1, [](frmMain& f) { return f.GetWriteMultipleRegisterRequestData(1, 16, 0, 3, 1, 2); },
       "00 01 00 00 00 0D 01 10 00 00 00 03 06 00 01 00 02 00 00"},
      // Bytes that do not fit stay 0.
      {"slave 300, cmd 256", 1, [](frmMain& f) { return f.GetReadRequestData(300, 256, 1, 1); },
       "00 01 00 00 00 06 00 00 00 01 00 01"},
      {"slave -1", 1, [](frmMain& f) { return f.GetWriteSingleRegisterRequestData(-1, 6, 1, 1); },
       "00 01 00 00 00 06 00 06 00 01 00 01"},
  };
  for (const Case& c : cases) {
    Panel p;
    p.f.Mode = c.mode;
    EXPECT_EQ(Hex(c.build(p.f)), c.frame) << c.what << " mode " << c.mode;
  }
}

TEST(Builders, MultipleRegistersByteCountAndBufferLimits) {
  Panel p;
  p.f.Mode = 1;
  // 2 x 200 does not fit in the byte-count byte: 0. The frame never grows
  // beyond the 256-byte work buffer.
  const Frame big = p.f.GetWriteMultipleRegisterRequestData(1, 16, 0, 200, 1, 2);
  EXPECT_LE(big.size(), 256u);
  EXPECT_EQ(ByteAt(big, 12), 0);
  EXPECT_EQ(Uint16(ByteAt(big, 4), ByteAt(big, 5)), 407);  // MBAP length as given
  EXPECT_EQ(Uint16(ByteAt(big, 10), ByteAt(big, 11)), 200);
  p.f.Mode = 0;
  const Frame rtu = p.f.GetWriteMultipleRegisterRequestData(1, 16, 0, 1000, 1, 2);
  EXPECT_LE(rtu.size(), 256u);
  std::array<uint8_t, 2> expected{};
  EXPECT_TRUE(CheckCRC(rtu, expected));  // still a consistent RTU frame
  const Frame none = p.f.GetWriteMultipleRegisterRequestData(1, 16, 0, -5, 1, 2);
  EXPECT_EQ(none.size(), 9u);  // slave .. byte count, and the CRC
}

TEST(Builders, TransactionIdAdvancesOncePerTcpFrame) {
  Panel p;
  EXPECT_EQ(p.f.TransactionID, 0);
  p.f.Mode = 1;
  EXPECT_EQ(Hex(p.f.GetReadRequestData(1, 3, 0, 1)).substr(0, 5), "00 01");
  EXPECT_EQ(Hex(p.f.GetWriteSingleCoilRequestData(1, 5, 0, 1)).substr(0, 5), "00 02");
  p.f.Mode = 0;  // RTU frames do not advance it
  p.f.GetReadRequestData(1, 3, 0, 1);
  p.f.Mode = 2;
  p.f.GetWriteMultipleRegisterRequestData(1, 16, 0, 1, 1);
  EXPECT_EQ(p.f.TransactionID, 2);
  p.f.Mode = 1;
  EXPECT_EQ(Hex(p.f.GetWriteMultipleRegisterRequestData(1, 16, 0, 1, 1)).substr(0, 5), "00 03");

  // The wire carries the low 16 bits: ..., FF FF, 00 00, 00 01.
  p.f.TransactionID = 65534;
  const std::vector<std::string> wire = {"FF FF", "00 00", "00 01"};
  for (const std::string& w : wire) EXPECT_EQ(Hex(p.f.GetReadRequestData(1, 3, 0, 1)).substr(0, 5), w);
  EXPECT_EQ(p.f.TransactionID, 65537);

  // Saturates at 2147483647: every later frame carries FF FF.
  p.f.TransactionID = 2147483646;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Hex(p.f.GetReadRequestData(1, 3, 0, 1)).substr(0, 5), "FF FF");
  EXPECT_EQ(p.f.TransactionID, 2147483647);
}

TEST(Builders, SetTcpHeader) {
  Panel p;
  Frame buf(256, 0xEE);
  EXPECT_EQ(p.f.SetTcpHeader(buf, 0x0109), 6);
  EXPECT_EQ(Hex(Frame(buf.begin(), buf.begin() + 7)), "00 01 00 00 01 09 EE");  // unit id untouched
  Frame tiny(5, 0);
  EXPECT_EQ(p.f.SetTcpHeader(tiny, 6), 0);  // no room: nothing written, counter unchanged
  EXPECT_EQ(p.f.TransactionID, 1);
  EXPECT_EQ(tiny, Frame(5, 0));
}

TEST(Builders, ModeSwitchChangesOnlyTheNextFrame) {
  Panel p;
  p.f.Mode = 1;
  const Frame tcp = p.f.GetReadRequestData(1, 3, 0, 10);
  p.f.Mode = 0;
  const Frame rtu = p.f.GetReadRequestData(1, 3, 0, 10);
  EXPECT_EQ(tcp.size(), 12u);
  EXPECT_EQ(rtu.size(), 8u);
  EXPECT_EQ(Frame(tcp.begin() + 6, tcp.end()), Frame(rtu.begin(), rtu.begin() + 6));
}

}  // namespace
