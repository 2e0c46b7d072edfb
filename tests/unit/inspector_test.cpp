// The value inspector: a register pair in the fourteen formats, and the
// response view lines it is asked about.
#include "transaction_rig.h"

namespace {

using namespace txrig;

using Texts = std::vector<std::pair<std::string, std::string>>;  // format, value

Texts ValuesOf(const std::vector<InspectorRow>& rows) {
  Texts out;
  for (const InspectorRow& row : rows) out.emplace_back(row.format, row.value);
  return out;
}

TEST(Inspector, FourteenFormatsOfAKnownPair) {
  const std::vector<InspectorRow> rows = InspectRegisters({0x3F, 0x80}, RegisterBytes{0x00, 0x00}, ".");
  const Texts expected = {
      {"INT16", "16256"},
      {"UINT16", "16256"},
      {"FLOAT_ABCD", "1"},
      {"FLOAT_CDAB", "2.27795078360642E-41"},
      {"FLOAT_BADC", "-5.78563625795345E-39"},
      {"FLOAT_DCBA", "4.60060298822481E-41"},
      {"INT32_ABCD", "1065353216"},
      {"INT32_CDAB", "16256"},
      {"INT32_BADC", "-2143354880"},
      {"INT32_DCBA", "32831"},
      {"UINT32_ABCD", "1065353216"},
      {"UINT32_CDAB", "16256"},
      {"UINT32_BADC", "2151612416"},
      {"UINT32_DCBA", "32831"},
  };
  EXPECT_EQ(ValuesOf(rows), expected);
  for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i].bytes, i < 2 ? "3F 80" : "3F 80 00 00") << i;
}

TEST(Inspector, SignedSixteenBitsSeparatorAndAMissingNextRegister) {
  const auto comma = InspectRegisters({0x3F, 0xC0}, RegisterBytes{0x00, 0x00}, ",");
  EXPECT_EQ(comma[2].value, "1,5");  // FLOAT_ABCD 1.5

  const auto alone = InspectRegisters({0xFF, 0xFE}, std::nullopt, ".");
  ASSERT_EQ(alone.size(), 14u);
  EXPECT_EQ(alone[0].value, "-2");
  EXPECT_EQ(alone[1].value, "65534");
  EXPECT_EQ(alone[1].bytes, "FF FE");
  for (size_t i = 2; i < 14; ++i) {
    EXPECT_EQ(alone[i].value, "\u2014") << alone[i].format;
    EXPECT_EQ(alone[i].bytes, "FF FE -- --") << alone[i].format;
  }
}

// A connected panel that reads `count` registers from 100 in `format` and
// gets `data` back.
struct ViewRig : Rig {
  ViewRig(int format, uint8_t count, const Frame& data, uint8_t fc = 3) : Rig(kTcp) {
    f.cmbCmd.SetListIndex(2);
    f.cmbFormat.SetListIndex(format);
    Connect();
    Frame answer = {0, 1, 0, 0, 0, static_cast<uint8_t>(3 + data.size()), 1, fc, static_cast<uint8_t>(data.size())};
    answer.insert(answer.end(), data.begin(), data.end());
    f.txtResponse.SetEnabled(false);  // a new Send greys the view
    Send({0, 1, 0, 0, 0, 6, 1, fc, 0, 100, 0, count});
    fp.socket->Deliver(answer);
  }
  std::string Value(int line, const std::string& format) const {
    for (const InspectorRow& row : f.InspectResponseLine(line))
      if (row.format == format) return row.value;
    return "(none)";
  }
};

TEST(Inspector, LinesOfASixteenBitView) {
  ViewRig r(0, 3, {0x3F, 0x80, 0x00, 0x00, 0xFF, 0xFF});
  ASSERT_EQ(r.f.txtResponse.Text(), "HR 00100: 16256\r\nHR 00101: 0    \r\nHR 00102: -1   ");
  EXPECT_EQ(r.Value(0, "FLOAT_ABCD"), "1");
  EXPECT_EQ(r.Value(1, "INT32_ABCD"), "65535");  // 00 00 FF FF
  EXPECT_EQ(r.Value(2, "UINT16"), "65535");
  EXPECT_EQ(r.Value(2, "FLOAT_ABCD"), "\u2014");  // no register after the last
  EXPECT_EQ(r.f.ResponseLineAddress(2), 102);
  EXPECT_TRUE(r.f.InspectResponseLine(3).empty());
  EXPECT_TRUE(r.f.InspectResponseLine(-1).empty());
  EXPECT_FALSE(r.f.ResponseLineAddress(3).has_value());
}

TEST(Inspector, LinesOfAThirtyTwoBitViewStartAtTheirFirstRegister) {
  ViewRig r(2, 4, {0x3F, 0x80, 0x00, 0x00, 0x40, 0x49, 0x0F, 0xDB}, 4);
  ASSERT_EQ(r.f.txtResponse.Text(), "FLT IR 00100: 1               \r\nFLT IR 00102: 3.14159274101257");
  EXPECT_EQ(r.f.ResponseLineAddress(1), 102);
  EXPECT_EQ(r.Value(1, "INT16"), "16457");            // 40 49
  EXPECT_EQ(r.Value(1, "INT32_ABCD"), "1078530011");  // 40 49 0F DB
  EXPECT_TRUE(r.f.InspectResponseLine(2).empty());
}

TEST(Inspector, CoilAndWriteLinesAndANewAnswerGiveNothingOld) {
  {
    ViewRig r(0, 1, {0x12, 0x34});
    ASSERT_FALSE(r.f.InspectResponseLine(0).empty());
    // The next answer, a coil read, replaces the view and the registers.
    r.f.txtResponse.SetEnabled(false);
    r.Send({0, 2, 0, 0, 0, 6, 1, 1, 0, 0, 0, 8});
    r.fp.socket->Deliver({0, 2, 0, 0, 0, 4, 1, 1, 1, 0x05});
    ASSERT_EQ(r.f.txtResponse.Text().substr(0, 11), "CL 00000: 1");
    EXPECT_TRUE(r.f.InspectResponseLine(0).empty());
  }
  ViewRig w(0, 1, {});
  w.f.txtResponse.SetEnabled(false);
  w.Send({0, 3, 0, 0, 0, 6, 1, 6, 0, 7, 0, 9});
  w.fp.socket->Deliver({0, 3, 0, 0, 0, 6, 1, 6, 0, 7, 0, 9});
  ASSERT_EQ(w.f.txtResponse.Text(), "HR 00007 <- 9");
  EXPECT_TRUE(w.f.InspectResponseLine(0).empty());
}

}  // namespace
