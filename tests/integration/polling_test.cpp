// Polling on the real timers and socket against the libmodbus slave and the fault peer.
#include "panel_rig.h"

namespace {

using namespace rig;

// Marks, starts polling and runs the event loop for `ms` or until `done` holds; polling goes on.
bool Poll(
    Panel& p, int ms, const std::function<bool()>& done = [] { return false; }) {
  p.Mark();
  p.f().cmdAuto1_MouseDown();
  return RunUntil(done, ms);
}
// The request and answer rows of a read of `pdu` (slave first) with transaction id `tid`, and its answer.
Rows Exchange(int tid, const Frame& pdu, const Frame& answer) {
  return {Req(Adu(kTcp, tid, pdu)), Rsp(Adu(kTcp, tid, answer))};
}

// A close or reset while an answer is awaited ends the poll at once as a connection error (not a
// time-out); the next poll connects again.
TEST(PollingTest, PollingGoesOnAfterThePeerClosesOrResetsTheConnection) {
  for (const std::string step : {"reset", "delay 100 close"}) {
    SCOPED_TRACE(step);
    Peer peer;
    const int port = peer.FaultPeer("echo\n" + step + "\necho\n");
    ASSERT_GT(port, 0);
    Panel p;
    p.UseSocket(kTcp, port, "400");
    p.SetRequest(3, "0", "1");
    ASSERT_TRUE(Poll(p, 4500, [&] { return p.CountPrefix("Response") >= 2; })) << ::testing::PrintToString(p.Rows());
    EXPECT_TRUE(p.f().AutoPolling);
    p.f().cmdAuto0_MouseDown();
    const Frame read = {1, 3, 0, 0, 0, 1}, answer = {1, 3, 2, 0, 0};
    EXPECT_EQ(p.Rows(), Cat(Cat(Connect(port), Exchange(1, read, answer)),
                            Cat({Req(Adu(kTcp, 2, read)),
                                 "Communication Error: Slave closed the connection: The remote host closed the "
                                 "connection (Code 1)",
                                 "Disconnected"},
                                Cat(Connect(port), Exchange(3, read, answer)))));
    EXPECT_EQ(std::tuple(p.f().Stats.timeouts, p.f().Stats.connectionErrors), std::tuple(0u, 1u));
  }
}

// The slave answers after 800 ms; the disconnect drops the request in flight and polling goes on on a new
// connection (the stop button shown while polling, the start button again after).
TEST(PollingTest, DisconnectInTheMiddleOfATransactionDoesNotStopPolling) {
  Peer slave;
  const int port = slave.TcpSlave({"--delay-ms", "800"});
  ASSERT_GT(port, 0);
  Panel p;
  p.UseSocket(kTcp, port, "2000");
  p.SetRequest(4, "1", "1", 1);
  ASSERT_TRUE(p.ConnectNow());
  Poll(p, 200);
  ASSERT_TRUE(p.f().AwaitingResponse);
  p.f().cmdTcpDisconnect_Click();
  EXPECT_TRUE(!p.f().AwaitingResponse && p.f().AutoPolling && p.f().pctAuto.Visible() && !p.f().cmdAuto1.Visible());
  ASSERT_TRUE(RunUntil([&] { return p.CountPrefix("Response") >= 1; }, 3000)) << ::testing::PrintToString(p.Rows());
  p.f().cmdAuto0_MouseDown();
  EXPECT_FALSE(p.f().pctAuto.Visible() || !p.f().cmdAuto1.Visible());
  EXPECT_EQ(p.Rows(), Cat(Cat({Req(Adu(kTcp, 1, {1, 4, 0, 1, 0, 1})), "Disconnected"}, Connect(port)),
                          Exchange(2, {1, 4, 0, 1, 0, 1}, {1, 4, 2, 0x03, 0xE9})));
  // The response time on the real clock: the slave's 800 ms and what a loaded machine adds, below the time-out.
  EXPECT_TRUE(std::regex_match(p.f().lblDT.Caption(), std::regex("([89][0-9]{2}|1[0-9]{3}) ms")))
      << p.f().lblDT.Caption();
}

// The slave's log, read before the panel's, never runs more than one request ahead.
TEST(PollingTest, PollingEvery100MsSendsOneRequestPerTickAndNeverTwoInFlight) {
  Peer slave;
  const int port = slave.TcpSlave({"--delay-ms", "20"});
  ASSERT_GT(port, 0);
  Panel p;
  p.UseSocket(kTcp, port, "1000");
  p.SetRequest(4, "5", "2", 1);
  p.f().txtPollInterval.SetText("100");
  int received = 0, answers = 0, worstAhead = 0;
  const auto observe = [&] {
    received = static_cast<int>(slave.Requests().size());
    const auto& records = p.f().LogRecords();
    answers = static_cast<int>(std::count_if(records.begin(), records.end(),
                                             [](const LogRecord& r) { return r.kind == LogRecord::Kind::Response; }));
    worstAhead = std::max(worstAhead, received - answers);
    return false;
  };
  Poll(p, 10000, observe);
  p.f().cmdAuto0_MouseDown();
  ASSERT_TRUE(RunUntil([&] { return observe() || (received == answers && p.Idle()); }, 3000));
  EXPECT_PRED3(Within, answers, 85, 106);
  EXPECT_LE(worstAhead, 1) << "the slave received a request before the panel had the previous answer";
  Rows want = Connect(port), sent;
  for (int tid = 1; tid <= answers; ++tid) {
    want = Cat(want, Exchange(tid, {1, 4, 0, 5, 0, 2}, {1, 4, 4, 3, 0xED, 3, 0xEE}));
    sent.push_back("REQ " + Hex(Adu(kTcp, tid, {1, 4, 0, 5, 0, 2})));
  }
  EXPECT_EQ(p.Rows(), want);
  EXPECT_EQ(slave.Requests(), sent);
  EXPECT_EQ(p.f().txtResponse.Text(), "IR 00005: 1005\r\nIR 00006: 1006");
}

}  // namespace
