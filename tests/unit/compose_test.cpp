// Panel-to-request composition and its mends: bad slave, bad
// address text and a 32-bit write with function 06 at 65535 leave no frame.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/fake_platform.h"
#include "panel/frmMain.h"

namespace {

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

// Index of a function code in cmbCmd.
int CmdIndex(int fc) { return fc == 16 ? 6 : fc - 1; }

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) ++n;
  return n;
}

struct Panel {
  fakes::FakePlatform fp;
  frmMain f{fp.Bundle()};

  Panel() { f.Form_Load(); }

  // The form as the operator fills it; the command first (choosing 01/02
  // forces UINT16), then the format.
  void Fill(int mode, int fc, const std::string& unit, const std::string& addr, const std::string& quantity,
            const std::string& value, int format) {
    f.cmbMode.SetListIndex(mode);
    f.Mode = static_cast<int16_t>(mode);
    f.cmbCmd.SetListIndex(CmdIndex(fc));
    f.cmbFormat.SetListIndex(format);
    f.txtUnitID.SetText(unit);
    f.txtAddr.SetText(addr);
    f.txtQuantity.SetText(quantity);
    f.txtValue.SetText(value);
  }

  std::vector<std::string> Compose() {
    f.Requests.clear();
    f.GetBytesOfForm();
    std::vector<std::string> out;
    for (const Frame& r : f.Requests) out.push_back(Hex(r));
    return out;
  }
  size_t ErrorRows() const { return Count(f.txtLog.Text(), "Communication Error: "); }
};

enum Fmt { INT16, UINT16, F_ABCD, F_CDAB, F_BADC, F_DCBA, I_ABCD, I_CDAB, I_BADC, I_DCBA, U_ABCD, U_CDAB, U_BADC, U_DCBA };

TEST(Compose, FramesFromTheForm) {
  struct Case {
    const char* what;
    int mode, fc;
    std::string unit, addr, quantity, value;
    int format;
    std::vector<std::string> frames;
  };
  const std::vector<Case> cases = {
      // The documented examples (RTU, slave 1, address 100).
      {"fc16 FLOAT_ABCD 1.5", 0, 16, "1", "100", "1", "1.5", F_ABCD, {"01 10 00 64 00 02 04 3F C0 00 00 F8 5C"}},
      {"fc16 FLOAT_CDAB 1.5", 0, 16, "1", "100", "1", "1.5", F_CDAB, {"01 10 00 64 00 02 04 00 00 3F C0 E5 D4"}},
      {"fc16 FLOAT_BADC 1.5", 0, 16, "1", "100", "1", "1.5", F_BADC, {"01 10 00 64 00 02 04 C0 3F 00 00 F8 78"}},
      {"fc16 FLOAT_DCBA 1.5", 0, 16, "1", "100", "1", "1.5", F_DCBA, {"01 10 00 64 00 02 04 00 00 C0 3F E4 64"}},
      {"fc06 UINT32_ABCD", 0, 6, "1", "100", "1", "305419896", U_ABCD,
       {"01 06 00 64 12 34 C5 62", "01 06 00 65 56 78 A6 57"}},
      {"fc06 UINT32_CDAB", 0, 6, "1", "100", "1", "305419896", U_CDAB,
       {"01 06 00 64 56 78 F7 97", "01 06 00 65 12 34 94 A2"}},
      {"fc06 INT32_BADC -2", 1, 6, "1", "100", "1", "-2", I_BADC,
       {"00 01 00 00 00 06 01 06 00 64 FF FF", "00 02 00 00 00 06 01 06 00 65 FE FF"}},
      {"fc06 UINT32_DCBA", 1, 6, "1", "0x64", "1", "305419896", U_DCBA,
       {"00 01 00 00 00 06 01 06 00 64 78 56", "00 02 00 00 00 06 01 06 00 65 34 12"}},
      {"fc16 INT32_ABCD -1", 1, 16, "1", "100", "1", "-1", I_ABCD,
       {"00 01 00 00 00 0B 01 10 00 64 00 02 04 FF FF FF FF"}},
      {"fc16 INT32_DCBA 1", 1, 16, "1", "100", "1", "1", I_DCBA, {"00 01 00 00 00 0B 01 10 00 64 00 02 04 01 00 00 00"}},
      {"fc16 UINT32_BADC", 1, 16, "1", "100", "1", "305419896", U_BADC,
       {"00 01 00 00 00 0B 01 10 00 64 00 02 04 34 12 78 56"}},
      {"fc16 UINT32 -1 is zeros", 1, 16, "1", "100", "1", "-1", U_ABCD,
       {"00 01 00 00 00 0B 01 10 00 64 00 02 04 00 00 00 00"}},
      {"fc16 UINT32 2.9 whole part", 1, 16, "1", "100", "1", "2.9", U_ABCD,
       {"00 01 00 00 00 0B 01 10 00 64 00 02 04 00 00 00 02"}},
      {"fc16 FLOAT 2.9 nearest single", 1, 16, "1", "100", "1", "2.9", F_ABCD,
       {"00 01 00 00 00 0B 01 10 00 64 00 02 04 40 39 99 9A"}},
      {"fc16 INT32 below range", 1, 16, "1", "100", "1", "-2147483649", I_ABCD,
       {"00 01 00 00 00 0B 01 10 00 64 00 02 04 00 00 00 00"}},
      {"fc16 INT16", 1, 16, "1", "100", "1", "-2", INT16, {"00 01 00 00 00 09 01 10 00 64 00 01 02 FF FE"}},
      {"fc06 INT16 -1", 0, 6, "1", "100", "1", "-1", INT16, {"01 06 00 64 FF FF C9 A5"}},
      {"fc06 INT16 2.5 ties to even", 1, 6, "1", "100", "1", "2.5", INT16, {"00 01 00 00 00 06 01 06 00 64 00 02"}},
      {"fc06 UINT16 3.5", 1, 6, "1", "100", "1", "3.5", UINT16, {"00 01 00 00 00 06 01 06 00 64 00 04"}},
      {"fc06 UINT16 comma", 1, 6, "1", "100", "1", "1,5", UINT16, {"00 01 00 00 00 06 01 06 00 64 00 02"}},
      {"fc06 empty value", 1, 6, "1", "100", "1", "", UINT16, {"00 01 00 00 00 06 01 06 00 64 00 00"}},
      // Reads: quantity counts values; coils ignore the format.
      {"fc03 INT32_BADC q10", 0, 3, "1", "100", "10", "", I_BADC, {"01 03 00 64 00 14 04 1A"}},
      {"fc03 UINT16 q5", 1, 3, "1", "100", "5", "", UINT16, {"00 01 00 00 00 06 01 03 00 64 00 05"}},
      {"fc04 FLOAT q5", 1, 4, "1", "100", "5", "", F_ABCD, {"00 01 00 00 00 06 01 04 00 64 00 0A"}},
      {"fc01 q16", 1, 1, "1", "100", "16", "", UINT16, {"00 01 00 00 00 06 01 01 00 64 00 10"}},
      {"fc02 q16", 2, 2, "1", "100", "16", "", UINT16, {"01 02 00 64 00 10 38 19"}},
      // Coils: the whole value decides.
      {"fc05 0", 1, 5, "1", "100", "1", "0", UINT16, {"00 01 00 00 00 06 01 05 00 64 00 00"}},
      {"fc05 0.4", 1, 5, "1", "100", "1", "0.4", UINT16, {"00 01 00 00 00 06 01 05 00 64 00 00"}},
      {"fc05 0.5 ties to even", 1, 5, "1", "100", "1", "0.5", UINT16, {"00 01 00 00 00 06 01 05 00 64 00 00"}},
      {"fc05 0.6", 1, 5, "1", "100", "1", "0.6", UINT16, {"00 01 00 00 00 06 01 05 00 64 FF 00"}},
      {"fc05 -1", 0, 5, "1", "172", "1", "-1", UINT16, {"01 05 00 AC FF 00 4C 1B"}},
      {"fc05 beyond Long", 1, 5, "1", "100", "1", "4294967296", UINT16, {"00 01 00 00 00 06 01 05 00 64 FF 00"}},
      // Slave: empty is 0, 0 on purpose is sent, rounding of the text.
      {"empty slave", 1, 3, "", "0", "1", "", UINT16, {"00 01 00 00 00 06 00 03 00 00 00 01"}},
      {"slave 0", 1, 3, " 0 ", "0", "1", "", UINT16, {"00 01 00 00 00 06 00 03 00 00 00 01"}},
      {"slave 255", 1, 3, "255", "0", "1", "", UINT16, {"00 01 00 00 00 06 FF 03 00 00 00 01"}},
      {"slave 12.5", 1, 3, "12.5", "0", "1", "", UINT16, {"00 01 00 00 00 06 0C 03 00 00 00 01"}},
      // Addresses: hexadecimal, boundary, cut to 16 bits.
      {"addr 0xFFFF", 1, 3, "1", "0xFFFF", "1", "", UINT16, {"00 01 00 00 00 06 01 03 FF FF 00 01"}},
      {"addr 0x1ffff", 1, 3, "1", "0x1ffff", "1", "", UINT16, {"00 01 00 00 00 06 01 03 FF FF 00 01"}},
      {"addr 65535 fc16 32-bit", 1, 16, "1", "65535", "1", "1", F_ABCD,
       {"00 01 00 00 00 0B 01 10 FF FF 00 02 04 3F 80 00 00"}},
      {"fc06 32-bit at 65534", 1, 6, "1", "65534", "1", "1", F_ABCD,
       {"00 01 00 00 00 06 01 06 FF FE 3F 80", "00 02 00 00 00 06 01 06 FF FF 00 00"}},
      {"quantity not a number", 1, 3, "1", "0", "x", "", UINT16, {"00 01 00 00 00 06 01 03 00 00 00 00"}},
  };
  for (const Case& c : cases) {
    Panel p;
    p.Fill(c.mode, c.fc, c.unit, c.addr, c.quantity, c.value, c.format);
    EXPECT_EQ(p.Compose(), c.frames) << c.what;
    EXPECT_EQ(p.fp.beeper->count, 0) << c.what;
    EXPECT_EQ(p.ErrorRows(), 0u) << c.what;
  }
}

TEST(Compose, RefusedFormsSendNothingBeepAndLogOneRedRow) {
  struct Case {
    const char* what;
    int fc;
    std::string unit, addr, value;
    int format;
    std::string message;
  };
  const std::vector<Case> cases = {
      // (a) The text as written wraps the second register to address 0.
      {"fc06 32-bit at 65535", 6, "1", "65535", "1", F_ABCD,
       "Address out of range: a 32-bit value at 65535 needs registers 65535 and 65536"},
      {"fc06 32-bit at 0xFFFF", 6, "1", "0xFFFF", "7", U_DCBA,
       "Address out of range: a 32-bit value at 65535 needs registers 65535 and 65536"},
      // (b) Address text that is neither decimal nor 0x and hex digits.
      {"addr 1F", 3, "1", "1F", "", UINT16,
       "Invalid address \"1F\": an address is a decimal number or 0x followed by hexadecimal digits"},
      {"addr ABC", 6, "1", "ABC", "1", UINT16,
       "Invalid address \"ABC\": an address is a decimal number or 0x followed by hexadecimal digits"},
      {"addr 0x", 5, "1", "0x", "1", UINT16,
       "Invalid address \"0x\": an address is a decimal number or 0x followed by hexadecimal digits"},
      {"addr empty", 1, "1", "", "", UINT16, "Invalid address: the start address is empty"},
      // (c) Slave outside 0..255 or not a number.
      {"slave 300", 3, "300", "0", "", UINT16,
       "Invalid slave address \"300\": a slave address is a number from 0 to 255"},
      {"slave abc", 16, "abc", "0", "1", F_ABCD,
       "Invalid slave address \"abc\": a slave address is a number from 0 to 255"},
      {"slave -1", 5, "-1", "0", "1", UINT16,
       "Invalid slave address \"-1\": a slave address is a number from 0 to 255"},
  };
  for (const Case& c : cases) {
    for (int mode : {0, 1, 2}) {
      Panel p;
      p.Fill(mode, c.fc, c.unit, c.addr, "1", c.value, c.format);
      const int32_t idBefore = p.f.TransactionID;
      EXPECT_TRUE(p.Compose().empty()) << c.what << " mode " << mode;
      EXPECT_EQ(p.fp.beeper->count, 1) << c.what;
      EXPECT_EQ(p.ErrorRows(), 1u) << c.what;
      EXPECT_NE(p.f.txtLog.Text().find("Communication Error: " + c.message), std::string::npos)
          << c.what << "\n" << p.f.txtLog.Text();
      EXPECT_EQ(p.f.TransactionID, idBefore) << c.what;  // no frame was built
    }
  }
}

TEST(Compose, RefusedRowIsRed) {
  Panel p;
  p.Fill(1, 6, "1", "65535", "1", "1", F_ABCD);
  p.Compose();
  const std::string& log = p.f.txtLog.Text();
  const size_t at = log.find("Communication Error: Address out of range");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(p.f.txtLog.ColorAt(at), LogColorError);
}

TEST(Compose, NoCommandNoFrame) {
  Panel p;
  p.Fill(1, 3, "1", "0", "1", "", UINT16);
  p.f.cmbCmd.SetListIndex(-1);
  EXPECT_TRUE(p.Compose().empty());
  EXPECT_EQ(p.fp.beeper->count, 0);
  EXPECT_EQ(p.ErrorRows(), 0u);
}

TEST(Compose, HexInputGoesOutAsTyped) {
  for (int mode : {0, 1, 2}) {
    Panel p;
    p.f.Mode = static_cast<int16_t>(mode);
    p.f.txtHEX.SetText("01 03 00 00 00 0A C5 CD");
    p.f.Requests.clear();
    p.f.GetBytesOfHexInput();
    ASSERT_EQ(p.f.Requests.size(), 1u) << mode;
    EXPECT_EQ(Hex(p.f.Requests[0]), "01 03 00 00 00 0A C5 CD") << mode;
    EXPECT_EQ(p.f.TransactionID, 0) << mode;
    p.f.txtHEX.SetText(" ;; ");
    p.f.GetBytesOfHexInput();
    ASSERT_EQ(p.f.Requests.size(), 2u);
    EXPECT_TRUE(p.f.Requests[1].empty());  // one empty frame, still pushed
  }
}

TEST(Compose, Format2BReadsThePanel) {
  Panel p;
  for (int i = 0; i < 14; ++i) {
    p.f.cmbFormat.SetListIndex(i);
    EXPECT_EQ(p.f.Format2B(), i <= 1) << i;
  }
}

}  // namespace
