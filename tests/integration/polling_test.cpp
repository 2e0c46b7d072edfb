// Polling on the real timers and socket: the first poll at once, one request
// per tick and never two in flight with a slow slave, a switch of the mode
// ending it, a timed-out poll retried on the next tick, and polling going on
// after the connection is reset by the peer or closed by the operator in the
// middle of a transaction.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <functional>
#include <string>
#include <vector>

#include "panel_rig.h"

namespace {

using rig::Adu;
using rig::kTcp;
using rig::Req;
using rig::Rsp;

std::string ConnectRow(int port) { return "Connect to 127.0.0.1:" + std::to_string(port) + "..."; }

bool WaitFor(const std::function<bool()>& done, int ms) { return testutil::RunUntil(done, ms); }

// Connects the panel's socket (Connect button) so that polls go out at once.
void Connect(rig::Panel& p) {
  p.f().cmdTcpConnect_Click();
  ASSERT_TRUE(p.WaitRow("Connected", 3000));
}

TEST(PollingTest, SlowSlaveGetsOneRequestPerTwoTicksAndNeverTwoInFlight) {
  rig::Peer slave;
  const int port = slave.StartTcpSlave({"--delay-ms", "1500"});
  ASSERT_GT(port, 0);
  rig::Panel p;
  p.UseSocket(kTcp, port, "2000");
  p.SetRequest(3, "9", "1");
  Connect(p);

  p.Mark();
  QElapsedTimer clock;
  clock.start();
  p.f().cmdAuto1_MouseDown();
  // The first poll does not wait for the first tick.
  EXPECT_EQ(p.Rows(), std::vector<std::string>{Req(Adu(kTcp, 1, {1, 3, 0, 9, 0, 1}))});
  EXPECT_TRUE(p.f().AutoPolling);
  EXPECT_TRUE(p.f().pctAuto.Visible());
  EXPECT_FALSE(p.f().cmdAuto1.Visible());

  // Answers at 1.5 s, 3.5 s, 5.5 s; polls at 0, 2, 4 and 6 s.
  WaitFor([&] { return clock.elapsed() >= 6300; }, 7000);
  std::vector<std::string> expected;
  for (int tid = 1; tid <= 4; ++tid) {
    expected.push_back(Req(Adu(kTcp, tid, {1, 3, 0, 9, 0, 1})));
    if (tid < 4) expected.push_back(Rsp(Adu(kTcp, tid, {1, 3, 2, 0, 9})));
  }
  EXPECT_EQ(p.Rows(), expected);
  EXPECT_EQ(slave.Requests().size(), 4u);
  std::vector<long> sentAt;
  for (const auto& [row, ms] : p.StampedRows())
    if (row.rfind("Request", 0) == 0) sentAt.push_back(ms);
  ASSERT_EQ(sentAt.size(), 4u);
  for (size_t i = 1; i < sentAt.size(); ++i) {
    EXPECT_GE(sentAt[i] - sentAt[i - 1], 1900) << i;
    EXPECT_LE(sentAt[i] - sentAt[i - 1], 2200) << i;
  }

  // Switching the mode ends polling: nothing more goes out.
  p.f().cmbMode.SetListIndex(rig::kRtu);
  EXPECT_FALSE(p.f().AutoPolling);
  EXPECT_FALSE(p.f().tmrAuto.Enabled());
  EXPECT_TRUE(p.f().cmdAuto1.Visible());
  EXPECT_FALSE(p.f().pctAuto.Visible());
  testutil::RunFor(1300);
  EXPECT_EQ(slave.Requests().size(), 4u);
}

TEST(PollingTest, TimedOutPollIsRetriedOnTheNextTick) {
  rig::Peer slave;
  const int port = slave.StartTcpSlave();
  ASSERT_GT(port, 0);
  rig::Panel p;
  p.UseSocket(kTcp, port, "300");
  p.SetRequest(3, "0", "1", 0, "7");  // never answered
  QElapsedTimer clock;
  clock.start();
  p.f().cmdAuto1_MouseDown();
  WaitFor([&] { return clock.elapsed() >= 2150; }, 3000);
  p.f().cmdAuto0_MouseDown();
  EXPECT_FALSE(p.f().AutoPolling);
  EXPECT_TRUE(p.f().cmdAuto1.Visible());

  // Polls at 0, 1 and 2 s, each on a fresh connection after the time-out.
  std::vector<std::string> expected;
  for (int tid = 1; tid <= 3; ++tid) {
    for (const std::string& row :
         {std::string(), ConnectRow(port), std::string("Connected"), Req(Adu(kTcp, tid, {7, 3, 0, 0, 0, 1}))})
      expected.push_back(row);
    if (tid < 3) {
      expected.push_back("Communication Error: Request Timeout");
      expected.push_back("Disconnected");
    }
  }
  EXPECT_EQ(p.Rows(), expected);

  // The poll in flight when polling stopped runs to its end; no new poll.
  testutil::RunFor(1200);
  const std::vector<std::string> rows = p.Rows();
  ASSERT_EQ(rows.size(), expected.size() + 2);
  EXPECT_EQ(rows[expected.size()], "Communication Error: Request Timeout");
  EXPECT_EQ(slave.Requests().size(), 3u);

  // The retry waits for the tick: not sent straight after the time-out.
  std::vector<long> sent, timedOut;
  for (const auto& [row, ms] : p.StampedRows()) {
    if (row.rfind("Request", 0) == 0) sent.push_back(ms);
    if (row == "Communication Error: Request Timeout") timedOut.push_back(ms);
  }
  ASSERT_EQ(sent.size(), 3u);
  ASSERT_EQ(timedOut.size(), 3u);
  for (size_t i = 0; i < 3; ++i) EXPECT_GE(timedOut[i] - sent[i], 290) << i;
  for (size_t i = 1; i < 3; ++i) {
    EXPECT_GE(sent[i] - timedOut[i - 1], 600) << i;
    EXPECT_GE(sent[i] - sent[i - 1], 950) << i;
    EXPECT_LE(sent[i] - sent[i - 1], 1200) << i;
  }
}

TEST(PollingTest, PollingGoesOnAfterThePeerResetsTheConnection) {
  rig::Peer peer;
  const int port = peer.StartFaultPeer("echo\nreset\necho\n");
  ASSERT_GT(port, 0);
  rig::Panel p;
  p.UseSocket(kTcp, port, "400");
  p.SetRequest(3, "0", "1");
  p.f().cmdAuto1_MouseDown();
  // Poll 1 answered, poll 2 reset, a later poll answered again.
  ASSERT_TRUE(WaitFor([&] { return p.CountPrefix("Response <-- ") >= 2; }, 4500)) << ::testing::PrintToString(p.Rows());
  EXPECT_TRUE(p.f().AutoPolling);
  p.f().cmdAuto0_MouseDown();
  // Qt reports a reset like an orderly close, without an error event: the
  // poll in flight ends by its time-out, and the next tick connects again.
  const Frame request = {1, 3, 0, 0, 0, 1};
  const Frame answer = {1, 3, 2, 0, 0};
  EXPECT_EQ(p.Rows(), (std::vector<std::string>{
                          "", ConnectRow(port), "Connected", Req(Adu(kTcp, 1, request)), Rsp(Adu(kTcp, 1, answer)),
                          Req(Adu(kTcp, 2, request)), "Communication Error: Request Timeout", "Disconnected", "",
                          ConnectRow(port), "Connected", Req(Adu(kTcp, 3, request)), Rsp(Adu(kTcp, 3, answer))}));
  EXPECT_EQ(peer.Requests().size(), 3u);
}

TEST(PollingTest, DisconnectInTheMiddleOfATransactionDoesNotStopPolling) {
  rig::Peer slave;
  const int port = slave.StartTcpSlave({"--delay-ms", "800"});
  ASSERT_GT(port, 0);
  rig::Panel p;
  p.UseSocket(kTcp, port, "2000");
  p.SetRequest(4, "1", "1", 1);
  Connect(p);
  p.Mark();
  p.f().cmdAuto1_MouseDown();
  ASSERT_TRUE(p.f().AwaitingResponse);
  testutil::RunFor(200);
  p.f().cmdTcpDisconnect_Click();
  EXPECT_FALSE(p.f().AwaitingResponse);
  EXPECT_TRUE(p.f().AutoPolling);

  // The next tick connects again and its request is answered.
  ASSERT_TRUE(WaitFor([&] { return p.CountPrefix("Response <-- ") >= 1; }, 3000)) << ::testing::PrintToString(p.Rows());
  p.f().cmdAuto0_MouseDown();
  EXPECT_EQ(p.Rows(), (std::vector<std::string>{Req(Adu(kTcp, 1, {1, 4, 0, 1, 0, 1})), "Disconnected", "",
                                                ConnectRow(port), "Connected", Req(Adu(kTcp, 2, {1, 4, 0, 1, 0, 1})),
                                                Rsp(Adu(kTcp, 2, {1, 4, 2, 0x03, 0xE9}))}));
  EXPECT_EQ(p.f().txtResponse.Text(), "IR 00001: 1001");
}

}  // namespace
