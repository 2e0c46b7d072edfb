// The polling interval: its key filter and value check, its setting, and the
// period of the polls following it.
#include "transaction_rig.h"

namespace {

using namespace txrig;

TEST(PollInterval, KeyFilterTakesDigitsAndControlKeysLikeTheTcpTimeout) {
  Rig r;
  int& beeps = r.fp.beeper->count;
  for (int16_t key = -5; key < 256; ++key) {
    int16_t a = key, b = key;
    const int before = beeps;
    r.f.txtPollInterval_KeyPress(a);
    const int pollBeeps = beeps - before;
    r.f.txtTcpTimeout_KeyPress(b);
    EXPECT_EQ(a, b) << key;
    EXPECT_EQ(pollBeeps, beeps - before - pollBeeps) << key;
  }
  int16_t digit = '7';
  r.f.txtPollInterval_KeyPress(digit);
  EXPECT_EQ(digit, '7');
}

TEST(PollInterval, ValueCheckAndTheTimerInterval) {
  struct Case {
    std::string text;
    bool refused;
    int interval;  // tmrAuto's afterwards (was 1000)
  };
  const Case cases[] = {
      {"100", false, 100},   {" 65535 ", false, 65535}, {"250", false, 250}, {"99", true, 1000},
      {"65536", true, 1000}, {"0", true, 1000},         {"", true, 1000},    {"abc", true, 1000},
  };
  for (const Case& c : cases) {
    Rig r;
    ASSERT_EQ(r.f.tmrAuto.Interval(), 1000);
    r.f.txtPollInterval.SetText(c.text);
    bool cancel = false;
    r.f.txtPollInterval_Validate(cancel);
    EXPECT_EQ(cancel, c.refused) << c.text;
    EXPECT_EQ(r.fp.beeper->count, c.refused ? 1 : 0) << c.text;
    EXPECT_EQ(r.f.tmrAuto.Interval(), c.interval) << c.text;
  }
}

TEST(PollInterval, StoredAfterComportAndRestored) {
  fakes::FakePlatform fp;
  {
    frmMain f(fp.Bundle());
    f.Form_Load();
    EXPECT_EQ(f.txtPollInterval.Text(), "1000");
    f.txtPollInterval.SetText("250");
    int16_t cancel = 0;
    f.Form_QueryUnload(cancel, 0);
  }
  const auto& order = fp.settings->writeOrder;
  ASSERT_GE(order.size(), 2u);
  EXPECT_EQ(order[order.size() - 2], "comport");
  EXPECT_EQ(order.back(), "pollinterval");
  EXPECT_EQ(fp.settings->values["main/pollinterval"], "250");

  frmMain again(fp.Bundle());
  again.Form_Load();
  EXPECT_EQ(again.txtPollInterval.Text(), "250");
  EXPECT_EQ(again.tmrAuto.Interval(), 250);

  for (const char* stored : {"abc", "50", "70000", "", "99.4"}) {
    fakes::FakePlatform bad;
    bad.settings->values["main/pollinterval"] = stored;
    frmMain f(bad.Bundle());
    f.Form_Load();
    EXPECT_EQ(f.txtPollInterval.Text(), "1000") << stored;
    EXPECT_EQ(f.tmrAuto.Interval(), 1000) << stored;
  }
}

struct PollRig : Rig {
  PollRig() : Rig(kRtu) {
    UsePorts({"COM3"});
    TypeHex("01 03 00 00 00 01 84 0A");
  }
  size_t Polls() const { return fp.serial->written.size(); }
  void Answer() { fp.serial->Deliver(WithCrc({1, 3, 2, 0, 7})); }
};

TEST(PollInterval, TicksFollowTheIntervalAndNeverOverlapAnAnswer) {
  PollRig r;
  r.f.txtPollInterval.SetText("250");
  r.f.cmdAuto1.onMouseDown();  // polling starts with the field's interval
  EXPECT_EQ(r.f.tmrAuto.Interval(), 250);
  EXPECT_EQ(r.Polls(), 1u);
  r.Answer();
  r.fp.clock->Advance(249);
  EXPECT_EQ(r.Polls(), 1u);
  r.fp.clock->Advance(1);
  EXPECT_EQ(r.Polls(), 2u);
  r.Answer();

  // A new value passing its check applies to the running poll at once.
  r.f.txtPollInterval.SetText("400");
  bool cancel = false;
  r.f.txtPollInterval_Validate(cancel);
  r.fp.clock->Advance(399);
  EXPECT_EQ(r.Polls(), 2u);
  r.fp.clock->Advance(1);
  EXPECT_EQ(r.Polls(), 3u);

  // Unanswered: the 100 ms ticks within the 1000 ms time-out send nothing.
  r.f.txtPollInterval.SetText("100");
  r.f.txtPollInterval_Validate(cancel);
  r.fp.clock->Advance(999);
  EXPECT_EQ(r.Polls(), 3u);
  EXPECT_TRUE(r.f.AwaitingResponse);
}

}  // namespace
