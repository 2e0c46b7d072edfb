// Automatic polling: the first poll at once, ticks skipped while an answer is
// awaited, and polling through time-outs.
#include "transaction_rig.h"

namespace {

using namespace txrig;

struct PollRig : Rig {
  PollRig() : Rig(kRtu) {
    UsePorts({"COM3"});
    TypeHex("01 03 00 00 00 01 84 0A");
  }
  size_t Polls() const { return fp.serial->written.size(); }
};

TEST(Polling, StartPollsAtOnceAndStopEndsIt) {
  PollRig r;
  r.f.cmdAuto1.onMouseDown();
  EXPECT_EQ(r.Polls(), 1u);
  EXPECT_TRUE(r.f.AutoPolling);
  EXPECT_TRUE(r.f.pctAuto.Visible());
  EXPECT_FALSE(r.f.cmdAuto1.Visible());
  EXPECT_TRUE(r.f.tmrAuto.Enabled());

  r.fp.serial->Deliver(WithCrc({1, 3, 2, 0, 7}));
  r.fp.clock->Advance(1000);
  EXPECT_EQ(r.Polls(), 2u);

  r.f.cmdAuto0.onMouseDown();
  EXPECT_FALSE(r.f.AutoPolling);
  EXPECT_FALSE(r.f.pctAuto.Visible());
  EXPECT_TRUE(r.f.cmdAuto1.Visible());
  EXPECT_FALSE(r.f.tmrAuto.Enabled());
  r.fp.serial->Deliver(WithCrc({1, 3, 2, 0, 7}));
  r.fp.clock->Advance(5000);
  EXPECT_EQ(r.Polls(), 2u);
}

TEST(Polling, TicksWhileAwaitingAreSkippedAndTheFirstTickAfterATimeOutPollsAgain) {
  PollRig r;
  r.f.txtRtuTimeout.SetText("2500");
  r.f.cmdAuto1.onMouseDown();
  // Ticks at 1000 and 2000 find the answer awaited; the time-out at 2500
  // closes the port; the tick at 3000 opens it and polls again.
  const std::pair<int, size_t> timeline[] = {{999, 1}, {1000, 1}, {2000, 1}, {2999, 1}, {3000, 2}};
  int64_t now = 0;
  for (auto [at, polls] : timeline) {
    r.fp.clock->Advance(at - now);
    now = at;
    EXPECT_EQ(r.Polls(), polls) << "at " << at;
  }
  EXPECT_EQ(r.Count("Request Timeout"), 1);
  EXPECT_EQ(r.Count("COM3 opened"), 2);
}

}  // namespace
