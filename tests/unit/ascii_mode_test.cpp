// The ASCII modes end to end on the fakes: request frames as characters with
// their LRC, answers assembled and checked with their faults painted
// on the characters that carry them, and the panel on the serial port (mode 3)
// and on the socket (mode 4).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modbus/requests.h"
#include "modbus/response.h"
#include "panel_rig.h"

namespace {

using modbus::Fault;
using modbus::Format;
using modbus::Mode;

Frame Chars(const std::string& s) { return Frame(s.begin(), s.end()); }
std::string Text(const Frame& f) { return std::string(f.begin(), f.end()); }

TEST(AsciiMode, RequestFramesCarryTheirLrcAndNoIdentifier) {
  struct Case {
    modbus::RequestValues rq;
    std::vector<std::string> frames;  // without CR LF
  };
  auto rq = [](int32_t function, int32_t address, int32_t quantity, double value, Format format = Format::Int16) {
    modbus::RequestValues v;
    v.slave = 0x11;
    v.function = function;
    v.address = address;
    v.quantity = quantity;
    v.value = value;
    v.format = format;
    return v;
  };
  modbus::RequestValues coils = rq(15, 0x13, 0, 0);
  coils.coils = {1, 0, 1, 1, 0, 0, 1, 1, 1, 0};
  // A basic read, a 32-bit value written as two 06 frames, and a further code built from its PDU: each code's PDU is
  // checked byte by byte in the binary framings.
  const std::vector<Case> table = {
      {rq(3, 0x6B, 3, 0), {":1103006B00037E"}},
      {rq(6, 1, 0, 1.0, Format::FloatAbcd), {":110600013F8029", ":110600020000E7"}},
      {coils, {":110F0013000A02CD01F3"}},
  };
  for (Mode mode : {Mode::Ascii, Mode::AsciiOverTcp}) {
    for (Case c : table) {
      SCOPED_TRACE(c.frames[0]);
      c.rq.mode = mode;
      int32_t id = 7;
      std::vector<Frame> out;
      std::string refusal;
      ASSERT_EQ(modbus::BuildRequestFrames(c.rq, id, out, &refusal), modbus::BuildResult::Built) << refusal;
      ASSERT_EQ(out.size(), c.frames.size());
      for (size_t i = 0; i < out.size(); ++i) EXPECT_EQ(Text(out[i]), c.frames[i] + "\r\n");
      EXPECT_EQ(id, 7);  // no MBAP header: the identifier is not counted on
    }
  }
}

// The read of two registers from slave 1 that the answers below reply to.
const std::string kRead = ":010300000002FA\r\n";

TEST(AsciiMode, AnswersAreCheckedAsBinaryFramesAndFaultsPaintTheirCharacters) {
  struct Case {
    const char* what;
    std::vector<std::string> chunks;
    std::vector<Fault> faults;  // offsets and lengths in received characters
    int exception;              // -1: none
    std::string answer;         // the binary frame as hex, slave to LRC
  };
  const std::vector<Case> table = {
      {"good", {":010304000A000BE3\r\n"}, {}, -1, "010304000A000BE3"},
      {"split anywhere", {":0103", "04000A00", "0BE3\r", "\n"}, {}, -1, "010304000A000BE3"},
      {"bad LRC", {":010304000A000B00\r\n"}, {{"Bad LRC (expected E3)", 15, 2}}, -1, "010304000A000B00"},
      {"wrong slave",
       {":020304000A000BE2\r\n"},
       {{"Wrong response slave (expected 01)", 1, 2}},
       -1,
       "020304000A000BE2"},
      {"exception", {":0183027A\r\n"}, {}, 2, "0183027A"},
      {"noise before the colon shifts the paint",
       {"xy:010304000A000B00\r\n"},
       {{"2 characters before ':' dropped", 3, 0}, {"Bad LRC (expected E3)", 17, 2}},
       -1,
       "010304000A000B00"},
      {"not a hex digit", {":0103040G0A000BE3\r\n"}, {{"Invalid hex character 'G'", 7, 2}}, -1, "010304000A000BE3"},
      {"LF without CR", {":010304000A000BE3\n"}, {{"Missing CR before LF", 17, 0}}, -1, "010304000A000BE3"},
      {"shorter than its byte count",
       {":010304000AEE\r\n"},
       {{"Frame too short (8 bytes expected)", 11, 2}},
       -1,
       "010304000AEE"},
      {"longer than its byte count",
       {":010304000A000B0CD7\r\n"},
       {{"Frame too long (8 bytes expected)", 15, 2}},
       -1,
       "010304000A000B0CD7"},
      {"two bytes", {":0103\r\n"}, {{"Frame too short (at least 3 bytes expected)", 1, 4}}, -1, "0103"},
  };
  auto hex = [](const Frame& f) {
    std::string s;
    for (uint8_t b : f) s += std::string{"0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 15]};
    return s;
  };
  for (Mode mode : {Mode::Ascii, Mode::AsciiOverTcp}) {
    for (const Case& c : table) {
      SCOPED_TRACE(c.what);
      modbus::ResponseAssembler a(mode, Chars(kRead));
      std::string all;
      for (size_t i = 0; i < c.chunks.size(); ++i) {
        all += c.chunks[i];
        // Only the last chunk, which holds the LF, completes the frame.
        EXPECT_EQ(a.FeedChunk(Chars(c.chunks[i])), i + 1 == c.chunks.size());
      }
      EXPECT_EQ(Text(a.Received()), all);
      EXPECT_EQ(a.Faults(), c.faults);
      EXPECT_EQ(a.Exception() ? *a.Exception() : -1, c.exception);
      EXPECT_EQ(hex(a.Answer()), c.answer);
    }
  }
  // The exception code's characters, for the row that paints an unknown code.
  modbus::ResponseAssembler a(Mode::Ascii, Chars(kRead));
  ASSERT_TRUE(a.FeedChunk(Chars("\n:01830C70\r\n")));
  EXPECT_EQ(a.Exception(), 0x0C);
  EXPECT_EQ(a.WireSpan("", 2, 1), (Fault{"", 6, 2}));
}

TEST(AsciiMode, PanelRunsAsciiOnTheSerialPortAndOnTheSocket) {
  using rig::Panel;
  for (const int16_t mode : {3, 4}) {
    SCOPED_TRACE(mode);
    Panel r(0);
    r.UsePorts({"COM1"});
    r.f.cmbMode.SetListIndex(mode);
    EXPECT_EQ(r.f.Mode, mode);
    EXPECT_EQ(r.f.pctRTU.Visible(), mode == 3);
    EXPECT_EQ(r.f.pctTCP.Visible(), mode == 4);
    r.f.txtUnitID.SetText("1");
    r.f.cmbCmd.SetListIndex(2);  // 03
    r.f.txtAddr.SetText("0");
    r.f.txtQuantity.SetText("2");
    EXPECT_EQ(r.f.PreviewRequest(), ":010300000002FA<CR><LF>");
    r.f.cmdSend_Click();
    if (mode == 4) r.fp.socket->AcceptConnect();
    const std::vector<Frame>& wire = mode == 3 ? r.fp.serial->written : r.fp.socket->sent;
    ASSERT_EQ(wire, std::vector<Frame>{Chars(kRead)});
    r.Mark();
    const Frame answer = Chars(":010304000A000B00\r\n");
    mode == 3 ? r.fp.serial->Deliver(answer) : r.fp.socket->Deliver(answer);
    EXPECT_FALSE(r.f.AwaitingResponse);
    // The log shows the characters as hex bytes and paints the two that carry the LRC.
    EXPECT_NE(r.NewLog().find("Response <-- 3A 30 31 30 33"), std::string::npos) << r.NewLog();
    EXPECT_NE(r.NewLog().find("Protocol Error: Bad LRC (expected E3)"), std::string::npos) << r.NewLog();
    EXPECT_EQ(r.Painted(), (std::vector<int>{15, 16}));
    EXPECT_EQ(r.f.Stats.protocolErrors, 1u);
    // The view is the one of the same answer in RTU framing.
    EXPECT_EQ(r.f.txtResponse.Text(), "HR 00000: 10\r\nHR 00001: 11");
  }
}

TEST(AsciiMode, StoredModesLoadAndRawBytesGoOutAsCharacters) {
  for (const char* stored : {"3", "4"}) {
    fakes::FakePlatform fp;
    fp.settings->values["main/mode"] = stored;
    frmMain f{fp.Bundle()};
    f.Form_Load();
    EXPECT_EQ(f.Mode, std::stoi(stored));
    EXPECT_EQ(f.cmbMode.Text(), stored[0] == '3' ? "ASCII" : "ASCII-OVER-TCP");
    EXPECT_EQ(f.pctTCP.Visible(), stored[0] == '4');
    f.HexView = true;
    f.txtHEX.SetText("01 03 00 00 00 02 FA");
    EXPECT_EQ(f.PreviewRequest(), ":010300000002FA<CR><LF>");
    f.txtHEX.SetText("");
    EXPECT_EQ(f.PreviewRequest(), "");
  }
}

}  // namespace
