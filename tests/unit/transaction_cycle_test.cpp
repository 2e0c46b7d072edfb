// The transaction cycle: queued frames, the request time-out and Send.
#include "transaction_rig.h"

namespace {

using namespace txrig;

const Frame kRead1 = {0, 1, 0, 0, 0, 6, 1, 3, 0, 0, 0, 2};
const Frame kRead2 = {0, 2, 0, 0, 0, 6, 1, 3, 0, 0, 0, 2};
const Frame kAnswer1 = {0, 1, 0, 0, 0, 7, 1, 3, 4, 0, 10, 0, 11};
const Frame kAnswer2 = {0, 2, 0, 0, 0, 7, 1, 3, 4, 0, 12, 0, 13};

TEST(TransactionCycle, SecondFrameGoesOutOnTheCompletingByteAndTheRestOfTheChunkIsDropped) {
  Rig r(kTcp);
  r.Connect();
  r.f.PushRequest(kRead1);
  r.f.PushRequest(kRead2);
  r.f.SendTcpRequest();
  ASSERT_EQ(r.fp.socket->sent, std::vector<Frame>{kRead1});
  const int32_t firstStart = r.f.RequestStartTime;
  EXPECT_EQ(firstStart, 6 * 3600000 + 4 * 60000 + 9 * 1000 + 45);
  EXPECT_EQ(r.f.RequestStartMono, r.fp.clock->MonotonicMs());

  r.fp.clock->Advance(250);
  // The answer, then three bytes that look like the start of the next one.
  Frame chunk = kAnswer1;
  chunk.insert(chunk.end(), {0, 2, 0});
  r.fp.socket->Deliver(chunk);
  EXPECT_EQ(r.fp.socket->sent, (std::vector<Frame>{kRead1, kRead2}));
  EXPECT_EQ(r.f.RequestStartTime, firstStart + 250);
  EXPECT_EQ(r.f.RequestStartMono, r.fp.clock->MonotonicMs());
  EXPECT_TRUE(r.f.AwaitingResponse);
  EXPECT_EQ(r.f.RxCount, 0) << "bytes after a complete answer must not start the next one";
  EXPECT_TRUE(r.f.Requests.empty());

  r.fp.socket->Deliver(kAnswer2);
  EXPECT_FALSE(r.f.AwaitingResponse);
  EXPECT_EQ(r.Count("Protocol Error"), 0);
  EXPECT_EQ(r.Count("Response <-- "), 2);
}

TEST(TransactionCycle, TimeOutShowsTheBytesSoFarAndDropsTheRestOfTheList) {
  Rig r(kTcp);
  r.Connect();
  r.f.PushRequest(kRead1);
  r.f.PushRequest(kRead2);
  r.f.SendTcpRequest();
  r.fp.socket->Deliver({0, 1});
  r.Mark();
  r.fp.clock->Advance(1000);
  // The received bytes of this request are shown, so AwaitingResponse held
  // until after the error row.
  EXPECT_EQ(r.NewLog(),
            r.Row("Response <-- 00 01") + r.Row("Communication Error: Request Timeout") + r.Row("Disconnected"));
  EXPECT_FALSE(r.f.AwaitingResponse);
  EXPECT_FALSE(r.f.tmrTimeout.Enabled());
  EXPECT_TRUE(r.f.Requests.empty());
  EXPECT_EQ(r.fp.socket->state, 0);
  r.fp.clock->Advance(10000);
  EXPECT_EQ(r.fp.socket->sent.size(), 1u);
  EXPECT_EQ(r.Count("Request Timeout"), 1);
}

TEST(TransactionCycle, SendWhileAwaitingSendsAtOnceAndRestartsTheTimeOut) {
  Rig r(kTcp);
  r.Connect();
  r.TypeHex("00 01 00 00 00 06 01 03 00 00 00 02");
  r.f.cmdSend_Click();
  ASSERT_EQ(r.fp.socket->sent.size(), 1u);
  EXPECT_EQ(r.f.lblDT.ForeColor(), kColorGrayText);
  EXPECT_FALSE(r.f.txtResponse.Enabled());
  r.fp.socket->Deliver({0, 1, 0});
  r.fp.clock->Advance(600);
  r.f.cmdSend_Click();
  EXPECT_EQ(r.fp.socket->sent.size(), 2u);
  EXPECT_EQ(r.f.RxCount, 0);
  r.fp.clock->Advance(999);
  EXPECT_TRUE(r.f.AwaitingResponse);
  EXPECT_EQ(r.Count("Request Timeout"), 0);
  r.fp.clock->Advance(1);
  EXPECT_EQ(r.Count("Request Timeout"), 1);
}

TEST(TransactionCycle, EmptyRawFrameIsLoggedPutsNothingOnTheWireAndTimesOut) {
  Rig r(kTcp);
  r.Connect();
  r.TypeHex("zz");
  r.f.cmdSend_Click();
  EXPECT_EQ(r.NewLog(), r.Row("Request  --> "));
  EXPECT_EQ(r.BytesOnWire(), 0u);
  EXPECT_TRUE(r.f.AwaitingResponse);
  r.Mark();
  r.fp.clock->Advance(1000);
  EXPECT_EQ(r.NewLog(), r.Row("Communication Error: Request Timeout") + r.Row("Disconnected"));
}

TEST(TransactionCycle, TimeOutTextDecidesWhetherAndWhenTheRequestTimesOut) {
  struct Case {
    const char* text;
    int firesAfter;  // 0: never
  };
  const Case cases[] = {{"", 0}, {"65536", 0}, {"abc", 0}, {"-5", 0}, {"0", 0}, {" 500\r\n", 500}, {"65535", 65535}};
  for (const Case& c : cases) {
    Rig r(kTcp);
    r.Connect();
    r.f.txtTcpTimeout.SetText(c.text);
    r.Send(kRead1);
    if (c.firesAfter > 0) {
      r.fp.clock->Advance(c.firesAfter - 1);
      EXPECT_TRUE(r.f.AwaitingResponse) << c.text;
      r.fp.clock->Advance(1);
      EXPECT_FALSE(r.f.AwaitingResponse) << c.text;
    } else {
      r.fp.clock->Advance(200000);
      EXPECT_TRUE(r.f.AwaitingResponse) << c.text;
      EXPECT_EQ(r.Count("Request Timeout"), 0) << c.text;
    }
  }
}

TEST(TransactionCycle, TimeOutFieldFollowsTheTransport) {
  struct Case {
    int16_t mode;
    int firesAfter;
  };
  // TCP field 300 ms, serial field 700 ms: RTU-OVER-TCP travels on the socket.
  for (const Case& c : {Case{kTcp, 300}, Case{kRtuOverTcp, 300}, Case{kRtu, 700}}) {
    Rig r(c.mode);
    r.f.txtTcpTimeout.SetText("300");
    r.f.txtRtuTimeout.SetText("700");
    if (c.mode == kRtu) {
      r.UsePorts({"COM3"});
      r.f.OpenRtuPort();
    } else {
      r.Connect();
    }
    r.Send(WithCrc({1, 3, 0, 0, 0, 1}));
    r.fp.clock->Advance(c.firesAfter - 1);
    EXPECT_TRUE(r.f.AwaitingResponse) << "mode " << c.mode;
    r.fp.clock->Advance(1);
    EXPECT_FALSE(r.f.AwaitingResponse) << "mode " << c.mode;
  }
}

}  // namespace
