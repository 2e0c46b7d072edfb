// The response view and its mends: a response to another
// function shows nothing new; a line is shown only when all its bytes are
// present (RTU CRC bytes are never data); the time is monotonic.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/convert.h"
#include "codec/crc16.h"
#include "fakes/fake_platform.h"
#include "panel/frmMain.h"

namespace {

enum Fmt { INT16, UINT16, F_ABCD, F_CDAB, F_BADC, F_DCBA, I_ABCD, I_CDAB, I_BADC, I_DCBA, U_ABCD, U_CDAB, U_BADC, U_DCBA };

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  if (text.empty()) return out;
  size_t from = 0;
  for (;;) {
    const size_t at = text.find("\r\n", from);
    out.push_back(text.substr(from, at == std::string::npos ? std::string::npos : at - from));
    if (at == std::string::npos) return out;
    from = at + 2;
  }
}

// A frame with its CRC appended.
Frame WithCrc(Frame f) {
  const size_t n = f.size();
  f.resize(n + 2);
  AppendCRC(f, static_cast<int32_t>(n));
  return f;
}

struct Panel {
  fakes::FakePlatform fp;
  frmMain f{fp.Bundle()};
  Panel() { f.Form_Load(); }

  // The request in flight, as the builders made it; then the send's stamps and the greyed view.
  void Sent(int mode, int format, const Frame& request, const std::string& addrText = "0") {
    f.Mode = static_cast<int16_t>(mode);
    f.cmbFormat.SetListIndex(format);
    f.txtAddr.SetText(addrText);
    f.LastRequest = request;
    f.RequestStartMono = fp.clock->MonotonicMs();
    f.txtResponse.SetEnabled(false);
  }
  // The response PDU from the slave byte on, framed for the mode.
  std::vector<std::string> Answer(const Frame& pdu, bool addCrc = true) {
    Frame frame;
    int16_t s = 0;
    if (f.Mode == 1) {
      frame = {0x00, 0x01, 0x00, 0x00, gethi(static_cast<int32_t>(pdu.size())), getlo(static_cast<int32_t>(pdu.size()))};
      frame.insert(frame.end(), pdu.begin(), pdu.end());
      s = 6;
    } else {
      frame = addCrc ? WithCrc(pdu) : pdu;
    }
    f.ShowResponse(frame, s);
    return Lines(f.txtResponse.Text());
  }
};

TEST(ResponseView, ReadRows) {
  struct Case {
    const char* what;
    int format;
    std::string addrText;
    Frame request;  // fc, address, quantity (slave 1 prepended)
    Frame data;     // response PDU after the slave byte
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {"INT16, padded to 6", INT16, "0", {3, 0, 0, 0, 3}, {3, 6, 0x00, 0x01, 0xFF, 0xFF, 0x80, 0x00},
       {"HR 00000: 1     ", "HR 00001: -1    ", "HR 00002: -32768"}},
      {"UINT16 padding", UINT16, "0", {3, 0, 0, 0, 2}, {3, 4, 0x00, 0x05, 0x12, 0x34},
       {"HR 00000: 5   ", "HR 00001: 4660"}},
      {"UINT16 input registers", UINT16, "7", {4, 0, 7, 0, 1}, {4, 2, 0xFF, 0xFF}, {"IR 00007: 65535"}},
      {"FLOAT_ABCD 1.0", F_ABCD, "0", {3, 0, 0, 0, 2}, {3, 4, 0x3F, 0x80, 0x00, 0x00}, {"FLT HR 00000: 1"}},
      {"FLOAT_CDAB 1.0", F_CDAB, "0", {3, 0, 0, 0, 2}, {3, 4, 0x00, 0x00, 0x3F, 0x80}, {"FLT HR 00000: 1"}},
      {"FLOAT_BADC 1.0", F_BADC, "0", {3, 0, 0, 0, 2}, {3, 4, 0x80, 0x3F, 0x00, 0x00}, {"FLT HR 00000: 1"}},
      {"FLOAT_DCBA 1.0", F_DCBA, "0", {3, 0, 0, 0, 2}, {3, 4, 0x00, 0x00, 0x80, 0x3F}, {"FLT HR 00000: 1"}},
      {"FLOAT 0.1 and subnormal", F_ABCD, "0", {3, 0, 0, 0, 4},
       {3, 8, 0x3D, 0xCC, 0xCC, 0xCD, 0x00, 0x00, 0x00, 0x01},
       {"FLT HR 00000: 0.100000001490116   ", "FLT HR 00002: 1.40129846432482E-45"}},
      {"FLOAT NaN/Inf", F_ABCD, "0", {3, 0, 0, 0, 4}, {3, 8, 0x7F, 0x80, 0, 0, 0xFF, 0xC0, 0, 0},
       {"FLT HR 00000: Inf", "FLT HR 00002: NaN"}},
      {"INT32 and UINT32", I_CDAB, "0", {3, 0, 0, 0, 2}, {3, 4, 0x00, 0x01, 0x00, 0x00}, {"I32 HR 00000: 1"}},
      {"UINT32 all digits", U_ABCD, "0", {3, 0, 0, 0, 2}, {3, 4, 0xFF, 0xFF, 0xFF, 0xFF}, {"U32 HR 00000: 4294967295"}},
      {"INT32_DCBA", I_DCBA, "0", {3, 0, 0, 0, 2}, {3, 4, 0xFF, 0xFF, 0xFF, 0xFF}, {"I32 HR 00000: -1"}},
      {"32-bit drops the incomplete group", I_ABCD, "0", {3, 0, 0, 0, 3}, {3, 6, 0, 0, 0, 5, 0, 9},
       {"I32 HR 00000: 5"}},
      {"hex address style", UINT16, "0x10", {3, 0, 0x10, 0, 1}, {3, 2, 0, 1}, {"HR 0x0010: 1"}},
      {"hex style, address above 65535", U_BADC, " 0xFFFF", {3, 0xFF, 0xFF, 0, 4},
       {3, 8, 0, 0, 0, 1, 0, 0, 0, 2}, {"U32 HR 0xFFFF: 256", "U32 HR 0x0001: 512"}},
      {"decimal style, address above 65535", I_ABCD, "65535", {3, 0xFF, 0xFF, 0, 4}, {3, 8, 0, 0, 0, 1, 0, 0, 0, 2},
       {"I32 HR 65535: 1", "I32 HR 65537: 2"}},
      // Coils stop at the quantity.
      {"10 coils from 20", UINT16, "20", {1, 0, 20, 0, 10}, {1, 2, 0b10100101, 0b11111110},
       {"CL 00020: 1", "CL 00021: 0", "CL 00022: 1", "CL 00023: 0", "CL 00024: 0", "CL 00025: 1", "CL 00026: 0",
        "CL 00027: 1", "CL 00028: 0", "CL 00029: 1"}},
      {"inputs", UINT16, "0", {2, 0, 0, 0, 3}, {2, 1, 0xFF}, {"DI 00000: 1", "DI 00001: 1", "DI 00002: 1"}},
      {"byte count 0", UINT16, "0", {3, 0, 0, 0, 1}, {3, 0}, {}},
      // Writes echo the response's address and value.
      {"coil on", UINT16, "172", {5, 0, 172, 0xFF, 0}, {5, 0, 172, 0xFF, 0x00}, {"CL 00172 <- 1"}},
      {"coil off", UINT16, "172", {5, 0, 172, 0, 0}, {5, 0, 172, 0x00, 0x00}, {"CL 00172 <- 0"}},
      {"register", INT16, "0x1", {6, 0, 1, 0xFF, 0xFF}, {6, 0, 1, 0xFF, 0xFF}, {"HR 0x0001 <- 65535"}},
  };
  for (int mode : {0, 1, 2}) {
    for (const Case& c : cases) {
      Panel p;
      Frame request = {1};
      request.insert(request.end(), c.request.begin(), c.request.end());
      if (mode == 1) {
        Frame mbap = {0, 1, 0, 0, 0, static_cast<uint8_t>(request.size())};
        request.insert(request.begin(), mbap.begin(), mbap.end());
      } else {
        request = WithCrc(request);
      }
      p.Sent(mode, c.format, request, c.addrText);
      Frame pdu = {1};
      pdu.insert(pdu.end(), c.data.begin(), c.data.end());
      EXPECT_EQ(p.Answer(pdu), c.lines) << c.what << " mode " << mode;
      EXPECT_TRUE(p.f.txtResponse.Enabled()) << c.what;
    }
  }
}

TEST(ResponseView, WriteMultipleShowsTheValuesSent) {
  for (int mode : {0, 1}) {
    Panel p;
    p.f.Mode = static_cast<int16_t>(mode);
    p.Sent(mode, F_ABCD, p.f.GetWriteMultipleRegisterRequestData(1, 16, 100, 2, 0x3F80, 0x0000), "100");
    EXPECT_EQ(p.Answer({1, 16, 0, 100, 0, 2}), (std::vector<std::string>{"HR 00100 <- 16256", "HR 00101 <- 0"}))
        << mode;
    Panel q;
    q.f.Mode = static_cast<int16_t>(mode);
    q.Sent(mode, INT16, q.f.GetWriteMultipleRegisterRequestData(1, 16, 100, 1, -1), "100");
    EXPECT_EQ(q.Answer({1, 16, 0, 100, 0, 1}), (std::vector<std::string>{"HR 00100 <- 65535"})) << mode;
  }
}

TEST(ResponseView, LinesWithoutAllTheirBytesAreLeftOut) {
  // RTU: the byte count claims 4 data bytes but only 2 are there; the CRC
  // behind them is not a register. As written, the CRC showed as a value.
  {
    Panel p;
    p.Sent(0, UINT16, WithCrc({1, 3, 0, 0, 0, 2}));
    EXPECT_EQ(p.Answer({1, 3, 4, 0x00, 0x05}), (std::vector<std::string>{"HR 00000: 5"}));
  }
  // TCP: the frame ends early; a missing byte is never shown as 0.
  {
    Panel p;
    p.Sent(1, UINT16, {0, 1, 0, 0, 0, 6, 1, 3, 0, 0, 0, 3});
    EXPECT_EQ(p.Answer({1, 3, 6, 0x00, 0x05, 0x00}), (std::vector<std::string>{"HR 00000: 5"}));
  }
  // 32-bit: a group cut short by the end of the data is dropped.
  {
    Panel p;
    p.Sent(0, F_ABCD, WithCrc({1, 3, 0, 0, 0, 4}));
    EXPECT_EQ(p.Answer({1, 3, 8, 0x3F, 0x80, 0, 0, 0x40, 0x00}), (std::vector<std::string>{"FLT HR 00000: 1"}));
  }
  // Coils: bits come only from data bytes that are present.
  {
    Panel p;
    p.Sent(0, UINT16, WithCrc({1, 1, 0, 0, 0, 16}));
    EXPECT_EQ(p.Answer({1, 1, 2, 0x01}).size(), 8u);
  }
  // Write single register cut after the address: no line (no "<- 0").
  {
    Panel p;
    p.Sent(1, UINT16, {0, 1, 0, 0, 0, 6, 1, 6, 0, 1, 0, 9});
    EXPECT_TRUE(p.Answer({1, 6, 0, 1}).empty());
    EXPECT_TRUE(p.f.txtResponse.Enabled());
  }
  // Function 16: the slave confirms 2 registers but the request carried 1 —
  // the second value would be the request's CRC bytes.
  {
    Panel p;
    p.f.Mode = 0;
    p.Sent(0, INT16, p.f.GetWriteMultipleRegisterRequestData(1, 16, 5, 1, 7));
    EXPECT_EQ(p.Answer({1, 16, 0, 5, 0, 2}), (std::vector<std::string>{"HR 00005 <- 7"}));
  }
  // A request too short to give its start address: no rows.
  {
    Panel p;
    p.Sent(1, UINT16, {0, 1, 0, 0, 0, 2, 1, 3});
    EXPECT_TRUE(p.Answer({1, 3, 2, 0, 1}).empty());
  }
}

TEST(ResponseView, AnotherFunctionShowsNothingNew) {
  Panel p;
  p.f.txtResponse.SetText("HR 00000: 1");
  p.f.lblDT.SetCaption("12 ms");
  p.Sent(0, UINT16, WithCrc({1, 3, 0, 0, 0, 1}));
  p.fp.clock->Advance(5);
  EXPECT_EQ(p.Answer({1, 4, 2, 0, 9}), (std::vector<std::string>{"HR 00000: 1"}));
  EXPECT_FALSE(p.f.txtResponse.Enabled());  // still the old answer, greyed
  EXPECT_EQ(p.f.lblDT.Caption(), "12 ms");
  // Bit 7 alone does not make it another function (an exception carries no rows).
  p.Answer({1, 0x83, 2});
  EXPECT_TRUE(p.f.txtResponse.Enabled());
  EXPECT_EQ(p.f.txtResponse.Text(), "");
}

TEST(ResponseView, ResponseTimeIsMonotonic) {
  Panel p;
  p.Sent(0, UINT16, WithCrc({1, 3, 0, 0, 0, 1}));
  p.f.lblDT.SetForeColor(kColorGrayText);
  p.fp.clock->Advance(37);
  p.fp.clock->JumpWallClock(-86400000);  // midnight or a clock set back: no effect
  p.Answer({1, 3, 2, 0, 1});
  EXPECT_EQ(p.f.lblDT.Caption(), "37 ms");
  EXPECT_EQ(p.f.lblDT.ForeColor(), kColorButtonText);
  // A start stamp ahead of the clock never shows a negative time.
  p.Sent(0, UINT16, WithCrc({1, 3, 0, 0, 0, 1}));
  p.f.RequestStartMono = p.fp.clock->MonotonicMs() + 1000;
  p.Answer({1, 3, 2, 0, 1});
  EXPECT_EQ(p.f.lblDT.Caption(), "0 ms");
}

TEST(ResponseView, GreyedViewIsEmptiedEnabledViewAppends) {
  Panel p;
  p.f.txtResponse.SetText("old");
  p.Sent(1, UINT16, {0, 1, 0, 0, 0, 6, 1, 3, 0, 0, 0, 1});
  EXPECT_EQ(p.Answer({1, 3, 2, 0, 1}), (std::vector<std::string>{"HR 00000: 1"}));
  // A second call without a send appends.
  EXPECT_EQ(p.Answer({1, 3, 2, 0, 2}), (std::vector<std::string>{"HR 00000: 1", "HR 00000: 2"}));
}

TEST(ResponseView, DecimalSeparatorFromThePlatform) {
  Panel p;
  p.fp.locale->separator = ",";
  p.Sent(1, F_ABCD, {0, 1, 0, 0, 0, 6, 1, 3, 0, 0, 0, 2});
  EXPECT_EQ(p.Answer({1, 3, 4, 0xC0, 0x20, 0, 0}), (std::vector<std::string>{"FLT HR 00000: -2,5"}));
}

TEST(ResponseView, HexViewMeansHexAddresses) {
  Panel p;
  p.f.HexView = true;
  p.Sent(1, UINT16, {0, 1, 0, 0, 0, 6, 1, 3, 0, 0x20, 0, 1}, "32");
  EXPECT_EQ(p.Answer({1, 3, 2, 0, 1}), (std::vector<std::string>{"HR 0x0020: 1"}));
}

TEST(ResponseView, AddResponseLine) {
  Panel p;
  p.f.txtResponse.SetText("");
  p.f.AddResponseLine("a");
  p.f.AddResponseLine("b");
  EXPECT_EQ(p.f.txtResponse.Text(), "a\r\nb");
}

}  // namespace
