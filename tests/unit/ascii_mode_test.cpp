// The ASCII modes end to end on the fakes: answers assembled and checked with their faults painted on the characters
// that carry them, and the panel on the serial port (mode 3) and on the socket (mode 4), its requests as characters
// with their LRC and no identifier counted.
#include "panel_rig.h"

namespace {

using namespace testbytes;
using modbus::Fault;
using modbus::Mode;

Frame Chars(const std::string& s) { return Frame(s.begin(), s.end()); }
std::string Text(const Frame& f) { return std::string(f.begin(), f.end()); }

// The read of two registers from slave 1 that the answers below reply to.
const std::string kRead = ":010300000002FA\r\n";

TEST(AsciiMode, AnswersAreCheckedAsBinaryFramesAndFaultsPaintTheirCharacters) {
  // what, chunks (only the last, which holds the LF, completes the frame), faults (offsets and lengths in received
  // characters), exception, the binary frame as hex from the slave to the LRC
  const std::vector<
      std::tuple<std::string, std::vector<std::string>, std::vector<Fault>, std::optional<uint8_t>, std::string>>
      table = {{"good", {":010304000A000BE3\r\n"}, {}, {}, "010304000A000BE3"},
               {"split anywhere", {":0103", "04000A00", "0BE3\r", "\n"}, {}, {}, "010304000A000BE3"},
               {"bad LRC", {":010304000A000B00\r\n"}, {{"Bad LRC (expected E3)", 15, 2}}, {}, "010304000A000B00"},
               {"wrong slave",
                {":020304000A000BE2\r\n"},
                {{"Wrong response slave (expected 01)", 1, 2}},
                {},
                "020304000A000BE2"},
               {"exception", {":0183027A\r\n"}, {}, 2, "0183027A"},
               {"noise before the colon shifts the paint",
                {"xy:010304000A000B00\r\n"},
                {{"2 characters before ':' dropped", 3, 0}, {"Bad LRC (expected E3)", 17, 2}},
                {},
                "010304000A000B00"},
               {"LF without CR", {":010304000A000BE3\n"}, {{"Missing CR before LF", 17, 0}}, {}, "010304000A000BE3"},
               {"shorter than its byte count",
                {":010304000AEE\r\n"},
                {{"Frame too short (8 bytes expected)", 11, 2}},
                {},
                "010304000AEE"},
               {"longer than its byte count",
                {":010304000A000B0CD7\r\n"},
                {{"Frame too long (8 bytes expected)", 15, 2}},
                {},
                "010304000A000B0CD7"},
               {"two bytes", {":0103\r\n"}, {{"Frame too short (at least 3 bytes expected)", 1, 4}}, {}, "0103"},
               {"an exception without its code",
                {":0183\r\n"},
                {{"Frame too short (at least 3 bytes expected)", 1, 4}},
                {},
                "0183"},
               {"no line end: the bound ends it",
                {":01", std::string(65533, '3')},
                {{"No frame ends within 65536 bytes", 65535, 1}},
                {},
                ""}};
  for (Mode mode : {Mode::Ascii, Mode::AsciiOverTcp})
    for (const auto& [what, chunks, faults, exception, answer] : table) {
      std::vector<Frame> frames;
      std::string all;
      for (const std::string& c : chunks) frames.push_back(Chars(c)), all += c;
      const Outcome got = Assemble(mode, Chars(kRead), frames);
      EXPECT_EQ(got, (Outcome{std::string(chunks.size() - 1, '0') + "1", true, Chars(all), modbus::HexToBytes(answer),
                              faults, exception}))
          << what;
    }
  // The exception code's characters, for the row that paints an unknown code.
  modbus::ResponseAssembler a(Mode::Ascii, Chars(kRead));
  ASSERT_TRUE(a.FeedChunk(Chars("\n:01830C70\r\n")));
  EXPECT_EQ(std::make_pair(a.Exception(), a.WireSpan("", 2, 1)),
            std::make_pair(std::optional<uint8_t>(0x0C), Fault{"", 6, 2}));
}

TEST(AsciiMode, PanelRunsAsciiOnTheSerialPortAndOnTheSocket) {
  for (const int16_t mode : {3, 4}) {
    SCOPED_TRACE(mode);
    rig::Panel r(0);
    r.UsePorts({"COM1"});
    r.f.cmbMode.SetListIndex(mode);
    EXPECT_EQ(std::make_tuple(r.f.Mode, r.f.pctRTU.Visible(), r.f.pctTCP.Visible()),
              std::make_tuple(mode, mode == 3, mode == 4));
    r.Fill(3, rig::INT16, "1", "0", "2", "");
    EXPECT_EQ(r.f.PreviewRequest(), ":010300000002FA<CR><LF>");
    r.f.cmdSend_Click();
    if (mode == 4) r.fp.socket->AcceptConnect();
    ASSERT_EQ(mode == 3 ? r.fp.serial->written : r.fp.socket->sent, std::vector<Frame>{Chars(kRead)});
    r.Mark();
    const Frame answer = Chars(":010304000A000B00\r\n");
    mode == 3 ? r.fp.serial->Deliver(answer) : r.fp.socket->Deliver(answer);
    // The log shows the characters as hex bytes and paints the two that carry the LRC; the view is the one of the
    // same answer in RTU framing.
    const std::string log = r.NewLog();  // the response row wraps
    EXPECT_TRUE(log.find("Response <-- 3A 30 31 30 33") != log.npos &&
                log.ends_with(r.Rows({"Protocol Error: Bad LRC (expected E3)"})))
        << log;
    EXPECT_EQ(r.Painted(), (std::vector<int>{15, 16}));
    EXPECT_EQ(std::make_tuple(r.f.AwaitingResponse, r.f.Stats.protocolErrors, r.f.txtResponse.Text()),
              std::make_tuple(false, uint64_t(1), std::string("HR 00000: 10\r\nHR 00001: 11")));
    // A device identification answer that says more follows asks for the next object at once.
    r.f.cmbCmd.SetListIndex(10);  // 43/14, read code 1 from object 0
    r.f.cmdSend_Click();
    r.fp.clock->Advance(4);  // on the serial port, after the line's silence
    const std::string more = modbus::EncodeAscii(Frame{1, 43, 14, 1, 0x83, 0xFF, 1, 1, 0, 1, 'x'});
    mode == 3 ? r.fp.serial->Deliver(Chars(more)) : r.fp.socket->Deliver(Chars(more));
    r.fp.clock->Advance(4);  // on the serial port, after the line's silence
    // No MBAP header: no identifier is counted on.
    EXPECT_EQ(
        std::make_pair(Text(mode == 3 ? r.fp.serial->written.back() : r.fp.socket->sent.back()), r.f.TransactionID),
        std::make_pair(std::string(":012B0E0101C4\r\n"), 0));
  }
}

TEST(AsciiMode, StoredModesLoadAndRawBytesGoOutAsCharacters) {
  for (const std::string stored : {"3", "4"}) {
    rig::Panel r(0, false);
    r.fp.settings->values["main/mode"] = stored;
    r.f.Form_Load();
    EXPECT_EQ(std::make_tuple(r.f.Mode, r.f.cmbMode.Text(), r.f.pctTCP.Visible()),
              std::make_tuple(int16_t(std::stoi(stored)), std::string(stored == "3" ? "ASCII" : "ASCII-OVER-TCP"),
                              stored == "4"));
    r.UsePorts({"COM1"});
    r.TypeHex("01 03 00 00 00 02 FA");
    EXPECT_EQ(r.f.PreviewRequest(), ":010300000002FA<CR><LF>");
    r.f.cmdSend_Click();  // the typed bytes go out as their characters, the LRC as typed
    if (stored == "4") r.fp.socket->AcceptConnect();
    EXPECT_EQ(stored == "3" ? r.fp.serial->written : r.fp.socket->sent, std::vector<Frame>{Chars(kRead)});
    r.f.txtHEX.SetText("");
    EXPECT_EQ(r.f.PreviewRequest(), "");
  }
}

}  // namespace
