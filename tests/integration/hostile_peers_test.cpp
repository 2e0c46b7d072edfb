// Hostile slaves on the real Qt socket and serial port: a late answer waiting on the line and a
// frame queued on the socket before the request (a connection closed or reset while an answer is
// awaited: the polling test).
#include <chrono>
#include <thread>

#include "fault_steps.h"

namespace {

using namespace rig;

// The slave answers the first request 700 ms late, after the 500 ms time-out closed the port: the
// late answer waits on the line and is dropped (and counted) when the port opens again; the next
// request gets its own answer.
TEST(HostilePeers, ALateSerialAnswerIsDroppedNotTakenForTheNextOne) {
  vesk::test::PtyPair pair;
  Peer slave;
  ASSERT_TRUE(pair.Open());
  ASSERT_TRUE(slave.FaultDevice(pair.B(), "delay 700 reply 01 03 02 00 05 CRC\nreply 01 03 02 00 07 CRC\n"));
  Panel p;
  p.UseSerial(pair.A(), "9600", 0, 0, "500");
  p.SetRequest(3, "0", "1");
  const Frame request = WithCrc({1, 3, 0, 0, 0, 1});
  EXPECT_EQ(p.Send(), Cat(Open(pair.A()), {Req(request), kTimedOut, pair.A() + " closed"}));
  RunFor(400);  // the late answer reaches the closed line
  EXPECT_EQ(p.Send(), Cat(Open(pair.A()), {"Dropped 7 unread bytes", Req(request), Rsp(WithCrc({1, 3, 2, 0, 7}))}));
  EXPECT_EQ(p.f().txtResponse.Text(), "HR 00000: 7");
  EXPECT_EQ(p.f().Stats.protocolErrors, 0u);
  EXPECT_EQ(p.f().Stats.timeouts, 1u);
}

// A frame the slave sends unasked as soon as it accepts the connection waits on the socket when the
// request is about to go out: it is dropped and counted, never read as the answer.
TEST(HostilePeers, AFrameQueuedOnTheSocketBeforeTheRequestIsDropped) {
  Peer peer;
  const int port = peer.FaultPeer(
      "early TID 00 00 LEN UID FC 02 00 05\nreply TID 00 00 LEN UID FC 02 00 07\nreply TID 00 00 LEN UID FC 02 00 "
      "08\n");
  ASSERT_GT(port, 0);
  Panel p;
  p.UseSocket(kTcp, port, "1000");
  p.SetRequest(3, "0", "1");
  p.Mark();
  p.f().cmdSend_Click();
  // The loop is held while the connection is made and the frame arrives.
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  ASSERT_TRUE(RunUntil([&] { return p.Idle() && p.f().TransactionID == 1; }, 3000));
  EXPECT_EQ(p.Rows(), Cat(Connect(port), {"Dropped 11 unread bytes", Req(Adu(kTcp, 1, {1, 3, 0, 0, 0, 1})),
                                          Rsp(Adu(kTcp, 1, {1, 3, 2, 0, 7}))}));
  EXPECT_EQ(p.f().txtResponse.Text(), "HR 00000: 7");
  EXPECT_EQ(p.f().Stats.protocolErrors, 0u);
  // The next request gets its own answer.
  EXPECT_EQ(p.Send(), (Rows{Req(Adu(kTcp, 2, {1, 3, 0, 0, 0, 1})), Rsp(Adu(kTcp, 2, {1, 3, 2, 0, 8}))}));
}

}  // namespace
