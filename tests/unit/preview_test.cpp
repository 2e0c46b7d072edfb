// The request preview: the frames Send would write, for every function code
// in both framings, the two-frame write and raw hex input; the transaction
// identifier is only shown, never used up; the refusals are named.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "transaction_rig.h"

namespace {

using namespace txrig;

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

enum Fmt { INT16 = 0, UINT16 = 1, F_ABCD = 2 };

// The form filled in as the operator does: command first, then format.
void Fill(frmMain& f, int16_t mode, int fc, int format, const std::string& unit, const std::string& addr,
          const std::string& quantityOrValue) {
  f.Mode = mode;
  f.HexView = false;
  f.cmbCmd.SetListIndex(fc == 16 ? 6 : fc - 1);
  f.cmbFormat.SetListIndex(format);
  f.txtUnitID.SetText(unit);
  f.txtAddr.SetText(addr);
  f.txtQuantity.SetText(quantityOrValue);
  f.txtValue.SetText(quantityOrValue);
}

// What Send would push for the same panel, as the preview writes it.
std::string Composed(frmMain& f) {
  f.Requests.clear();
  f.GetBytesOfForm();
  std::string s;
  for (const Frame& fr : f.Requests) s += (s.empty() ? "" : " | ") + Hex(fr);
  return s;
}

TEST(RequestPreview, EveryFunctionCodeInBothFramings) {
  struct Case {
    int fc, format;
    std::string operand;
    std::vector<Frame> pdus;  // slave byte on, without CRC
  };
  const std::vector<Case> cases = {
      {1, UINT16, "16", {{1, 1, 0, 100, 0, 16}}},
      {2, UINT16, "16", {{1, 2, 0, 100, 0, 16}}},
      {3, INT16, "5", {{1, 3, 0, 100, 0, 5}}},
      {4, F_ABCD, "5", {{1, 4, 0, 100, 0, 10}}},
      {5, UINT16, "1", {{1, 5, 0, 100, 0xFF, 0}}},
      {6, UINT16, "258", {{1, 6, 0, 100, 1, 2}}},
      {16, INT16, "-2", {{1, 16, 0, 100, 0, 1, 2, 0xFF, 0xFE}}},
      {16, F_ABCD, "1", {{1, 16, 0, 100, 0, 2, 4, 0x3F, 0x80, 0, 0}}},
      {6, F_ABCD, "1", {{1, 6, 0, 100, 0x3F, 0x80}, {1, 6, 0, 101, 0, 0}}},
  };
  for (const Case& c : cases) {
    for (int16_t mode : {kRtu, kTcp, kRtuOverTcp}) {
      Rig r(mode);
      r.f.TransactionID = 41;
      Fill(r.f, mode, c.fc, c.format, "1", "100", c.operand);
      std::string expected;
      int32_t id = 41;
      for (const Frame& pdu : c.pdus) {
        Frame frame = pdu;
        if (mode == kTcp) {
          ++id;
          frame = {0, static_cast<uint8_t>(id), 0, 0, 0, static_cast<uint8_t>(pdu.size())};
          frame.insert(frame.end(), pdu.begin(), pdu.end());
        } else {
          frame = WithCrc(pdu);
        }
        expected += (expected.empty() ? "" : " | ") + Hex(frame);
      }
      const size_t logLength = r.f.txtLog.Length();
      EXPECT_EQ(r.f.PreviewRequest(), expected) << "fc " << c.fc << " mode " << mode;
      // Nothing used up, queued, logged or beeped.
      EXPECT_EQ(r.f.TransactionID, 41);
      EXPECT_TRUE(r.f.Requests.empty());
      EXPECT_EQ(r.f.txtLog.Length(), logLength);
      EXPECT_EQ(r.fp.beeper->count, 0);
      // Send composes the very same frames.
      EXPECT_EQ(Composed(r.f), expected) << "fc " << c.fc << " mode " << mode;
      EXPECT_EQ(r.f.TransactionID, id);
    }
  }
}

TEST(RequestPreview, TheNextSendUsesTheIdentifierShown) {
  Rig r(kTcp);
  r.Connect();
  Fill(r.f, kTcp, 3, UINT16, "1", "0", "1");
  r.f.TransactionID = 0x1233;
  const std::string shown = r.f.PreviewRequest();
  EXPECT_EQ(shown, "12 34 00 00 00 06 01 03 00 00 00 01");
  r.f.cmdSend_Click();
  ASSERT_EQ(r.fp.socket->sent.size(), 1u);
  EXPECT_EQ(Hex(r.fp.socket->sent[0]), shown);
  EXPECT_NE(r.f.PreviewRequest(), shown);  // the next one is 12 35
}

TEST(RequestPreview, HexViewShowsTheTypedBytes) {
  for (int16_t mode : {kRtu, kTcp}) {
    Rig r(mode);
    r.TypeHex("01 03 00 00 00 0a c5 cd");
    EXPECT_EQ(r.f.PreviewRequest(), "01 03 00 00 00 0A C5 CD");
    r.TypeHex(" ;; ");
    EXPECT_EQ(r.f.PreviewRequest(), "");
    EXPECT_EQ(r.f.TransactionID, 0);
  }
}

TEST(RequestPreview, RefusalsAreNamedAndNothingElseHappens) {
  struct Case {
    int fc, format;
    std::string unit, addr, message;
  };
  const Case cases[] = {
      {3, UINT16, "300", "0", "Invalid slave address \"300\": a slave address is a number from 0 to 255"},
      {3, UINT16, "1", "1F",
       "Invalid address \"1F\": an address is a decimal number or 0x followed by hexadecimal digits"},
      {3, UINT16, "1", "", "Invalid address: the start address is empty"},
      {6, F_ABCD, "1", "65535", "Address out of range: a 32-bit value at 65535 needs registers 65535 and 65536"},
  };
  for (const Case& c : cases) {
    Rig r(kTcp);
    Fill(r.f, kTcp, c.fc, c.format, c.unit, c.addr, "1");
    const size_t logLength = r.f.txtLog.Length();
    EXPECT_EQ(r.f.PreviewRequest(), c.message);
    EXPECT_EQ(r.f.txtLog.Length(), logLength);
    EXPECT_EQ(r.fp.beeper->count, 0);
    EXPECT_EQ(r.f.TransactionID, 0);
  }
  // No command: nothing would be sent.
  Rig r(kTcp);
  Fill(r.f, kTcp, 3, UINT16, "1", "0", "1");
  r.f.cmbCmd.SetListIndex(-1);
  EXPECT_EQ(r.f.PreviewRequest(), "");
}

}  // namespace
