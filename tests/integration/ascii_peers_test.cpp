// The panel in the ASCII modes on the real Qt parts against the fault peer
// answering in ASCII: on the socket (mode 4) and on a pseudo-terminal pair
// (mode 3). A good answer, a bad LRC painted, an exception and a frame that
// never ends (the other faults' texts are the unit tests' on the fakes).
#include "panel_rig.h"

namespace {

using rig::Rows;

constexpr int16_t kAscii = 3, kAsciiOverTcp = 4;

Frame Chars(const std::string& s) { return Frame(s.begin(), s.end()); }

// One step per request; the expected rows after the request row, and the
// response row's bytes painted (indices of characters, in the row's first 16:
// the rig reads the colours of the first row only).
struct Case {
  const char* step;
  std::string answer;  // the characters the step puts on the wire ("" for none)
  Rows rows;
  std::vector<size_t> painted;
};

const std::string kRead = ":010300000002FA\r\n";

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      {"echo", ":01030400000000F8\r\n", {}, {}},
      {"reply 01 03 04 00 0A 00 0B 00", ":010304000A000B00\r\n", {"Protocol Error: Bad LRC (expected E3)"}, {15}},
      {"reply UID EFC 02 LRC", ":0183027A\r\n", {"Modbus Exception: Illegal Data Address (Code 2)"}, {}},
      {"text :010304000A", "", {rig::kTimedOut}, {}},
  };
  return cases;
}

std::string Script() {
  std::string s;
  for (const Case& c : Cases()) s += std::string(c.step) + "\n";
  return s;
}

void RunCases(rig::Panel& p) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.step);
    Rows rows = p.Send();
    // A connect or an opening comes first.
    while (!rows.empty() && rows.front().rfind("Request", 0) != 0) rows.erase(rows.begin());
    Rows expected = {rig::Req(Chars(kRead))};
    if (c.answer.empty()) {
      // The characters received so far are shown with the time-out.
      expected.push_back(rig::Rsp(Chars(":010304000A")));
    } else {
      expected.push_back(rig::Rsp(Chars(c.answer)));
    }
    expected.insert(expected.end(), c.rows.begin(), c.rows.end());
    // After a time-out the link is closed: its row ("Disconnected", "... closed") follows.
    if (c.answer.empty() && rows.size() == expected.size() + 1) rows.pop_back();
    EXPECT_EQ(rows, expected);
    const std::vector<uint32_t> colours = p.ByteColors();
    std::vector<size_t> painted;
    for (size_t i = 0; i < colours.size(); ++i)
      if (colours[i] == LogColorHighlight) painted.push_back(i);
    EXPECT_EQ(painted, c.painted);
  }
}

void SetRead(rig::Panel& p) {
  p.SetRequest(3, "0", "2");
  EXPECT_EQ(p.f().PreviewRequest(), ":010300000002FA<CR><LF>");
}

TEST(AsciiPeers, AsciiOverTcpAgainstTheFaultPeer) {
  rig::Peer peer;
  const int port = peer.FaultPeer(Script(), {"--ascii"});
  ASSERT_GT(port, 0);
  rig::Panel p;
  p.UseSocket(kAsciiOverTcp, port);
  EXPECT_TRUE(p.f().pctTCP.Visible() && !p.f().pctRTU.Visible());
  SetRead(p);
  RunCases(p);
  EXPECT_EQ(p.f().Stats.protocolErrors, 1u);
  EXPECT_EQ(p.f().Stats.exceptions, 1u);
  EXPECT_EQ(p.f().Stats.timeouts, 1u);
}

TEST(AsciiPeers, AsciiOnAPseudoTerminalAgainstTheFaultPeer) {
  vesk::test::PtyPair pair;
  ASSERT_TRUE(pair.Open());
  rig::Peer peer;
  ASSERT_TRUE(peer.FaultDevice(pair.B(), Script(), {"--ascii"}));
  rig::Panel p;
  p.f().cmbMode.SetListIndex(kAscii);
  EXPECT_TRUE(p.f().pctRTU.Visible() && !p.f().pctTCP.Visible());
  p.ports().Set({pair.A()});
  p.f().RefreshComPorts();
  p.f().cmbRtuPort.SetText(pair.A());
  p.f().txtRtuTimeout.SetText("500");
  SetRead(p);
  RunCases(p);
  EXPECT_EQ(p.f().Stats.timeouts, 1u);
}

}  // namespace
