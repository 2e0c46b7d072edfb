// The watch list's scheduler over a scripted clock: intervals, the panel's
// Send first, a dead slave, one transaction at a time, changes while in flight.
#include "engine/watch_scheduler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <vector>

namespace {

using engine::WatchBlockId;
using engine::WatchOutcome;
using engine::WatchScheduler;
constexpr WatchBlockId kSend = WatchScheduler::kPanelSend;

// A link on a scripted clock: each transaction lasts its block's answer time,
// or the time-out for a dead slave (answer time < 0).
struct Link {
  WatchScheduler s;
  int64_t now = 0;
  int64_t timeoutMs = 1000;
  int64_t sendMs = 20;
  std::map<WatchBlockId, int64_t> answerMs;
  std::vector<int64_t> sendRequests;  // when the panel presses Send, ascending
  struct Start {
    int64_t at;
    WatchBlockId id;
  };
  std::vector<Start> starts;
  std::vector<int64_t> sendLatency;  // request to start, per Send
  int overlaps = 0;

  void Run(int64_t until) {
    size_t nextRequest = 0;
    std::vector<int64_t> waiting;
    for (int guard = 0; guard < 2'000'000 && now < until; ++guard) {
      while (nextRequest < sendRequests.size() && sendRequests[nextRequest] <= now) {
        waiting.push_back(sendRequests[nextRequest++]);
        s.RequestSend();
      }
      if (const std::optional<WatchBlockId> id = s.Next(now)) {
        if (s.InFlight() || !s.Started(*id, now)) ++overlaps;
        if (s.Started(*id, now)) ++overlaps;  // a second start must be refused
        starts.push_back({now, *id});
        int64_t lasts = sendMs;
        WatchOutcome outcome = WatchOutcome::Good;
        if (*id == kSend) {
          for (int64_t w : waiting) sendLatency.push_back(now - w);
          waiting.clear();
        } else if (answerMs.count(*id) && answerMs[*id] < 0) {
          lasts = timeoutMs;
          outcome = WatchOutcome::Timeout;
        } else if (answerMs.count(*id)) {
          lasts = answerMs[*id];
        }
        now += lasts;
        if (!s.Finished(*id, now, outcome)) ++overlaps;
        continue;
      }
      std::optional<int64_t> wake = s.NextWakeUp(now);
      if (nextRequest < sendRequests.size()) {
        wake = std::min(wake.value_or(sendRequests[nextRequest]), sendRequests[nextRequest]);
      }
      if (!wake || *wake <= now) {
        now = wake ? now + 1 : until;  // nothing to do: time passes
      } else {
        now = std::min(*wake, until);
      }
    }
  }
  std::vector<int64_t> StartsOf(WatchBlockId id) const {
    std::vector<int64_t> at;
    for (const Start& st : starts)
      if (st.id == id) at.push_back(st.at);
    return at;
  }
};

TEST(WatchScheduler, BlocksGoOutAtTheirIntervalsOldestDueFirstWithoutBurstsAfterAStall) {
  struct Case {
    const char* name;
    std::vector<uint32_t> intervals;
    int64_t answerMs;
    int64_t runMs;
    std::vector<int> expectedStarts;  // per block
  };
  const Case cases[] = {
      {"one fast block", {100}, 10, 10'000, {100}},
      {"three rates", {100, 250, 1000}, 10, 10'000, {100, 40, 10}},
      {"slowest allowed", {65535}, 10, 140'000, {3}},
      // Answers take 60 ms: three blocks at 100 ms cannot all keep up; the
      // link is shared evenly and nothing is made up later.
      {"overloaded link", {100, 100, 100}, 60, 9'000, {50, 50, 50}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Link l;
    for (size_t i = 0; i < c.intervals.size(); ++i) {
      ASSERT_TRUE(l.s.Add(static_cast<WatchBlockId>(i + 1), c.intervals[i], false, 0));
      l.answerMs[static_cast<WatchBlockId>(i + 1)] = c.answerMs;
    }
    l.Run(c.runMs);
    EXPECT_EQ(l.overlaps, 0);
    for (size_t i = 0; i < c.intervals.size(); ++i) {
      const std::vector<int64_t> at = l.StartsOf(static_cast<WatchBlockId>(i + 1));
      EXPECT_NEAR(static_cast<int>(at.size()), c.expectedStarts[i], 1) << "block " << i + 1;
      for (size_t k = 1; k < at.size(); ++k) ASSERT_GE(at[k] - at[k - 1], c.intervals[i]) << "burst at " << at[k];
    }
  }
}

TEST(WatchScheduler, AStallSkipsMissedPeriodsAndCountsThem) {
  Link l;
  ASSERT_TRUE(l.s.Add(1, 100, false, 0));
  l.sendRequests = {0};
  l.sendMs = 1050;  // the panel's transaction holds the link for 1050 ms
  l.answerMs[1] = 10;
  l.Run(1300);
  EXPECT_EQ(l.StartsOf(kSend), std::vector<int64_t>{0});
  // Due at 0, served at 1050 after the Send, then every 100 ms from there.
  EXPECT_EQ(l.StartsOf(1), (std::vector<int64_t>{1050, 1150, 1250}));
  EXPECT_EQ(l.s.CountersOf(1)->skipped, 10u);
  EXPECT_EQ(l.s.CountersOf(1)->started, 3u);
}

TEST(WatchScheduler, ThePanelsSendGoesNextEvenWithADeadSlaveAndOtherBlocksKeepTheirTurns) {
  struct Case {
    const char* name;
    std::vector<int64_t> answers;  // per block, < 0: dead slave
    uint32_t intervalMs;
    int minGoodStarts;  // each live block over the run
    int maxDeadStarts;  // the dead block over the run
  };
  const Case cases[] = {
      {"no dead slave", {10, 10, 10}, 100, 500, 0},
      {"one dead of three", {-1, 10, 10}, 100, 400, 15},
      {"every block dead", {-1, -1}, 100, 0, 15},
      {"dead at a slow rate", {-1, 10}, 5000, 10, 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Link l;
    for (size_t i = 0; i < c.answers.size(); ++i) {
      ASSERT_TRUE(l.s.Add(static_cast<WatchBlockId>(i + 1), c.intervalMs, false, 0));
      l.answerMs[static_cast<WatchBlockId>(i + 1)] = c.answers[i];
    }
    for (int64_t t = 500; t < 60'000; t += 2'000) l.sendRequests.push_back(t);
    l.Run(60'000);
    EXPECT_EQ(l.overlaps, 0);
    ASSERT_EQ(l.sendLatency.size(), l.sendRequests.size());
    // A Send waits at most for the transaction already on the wire.
    EXPECT_LE(*std::max_element(l.sendLatency.begin(), l.sendLatency.end()), l.timeoutMs);
    for (size_t i = 0; i < c.answers.size(); ++i) {
      const int n = static_cast<int>(l.StartsOf(static_cast<WatchBlockId>(i + 1)).size());
      if (c.answers[i] < 0) {
        EXPECT_LE(n, c.maxDeadStarts) << "dead block " << i + 1;
        EXPECT_GE(n, 5) << "a dead block is still retried";
      } else {
        EXPECT_GE(n, c.minGoodStarts) << "live block " << i + 1;
      }
    }
  }
}

TEST(WatchScheduler, AGoodAnswerEndsTheBackOff) {
  WatchScheduler s;
  ASSERT_TRUE(s.Add(1, 100, false, 0));
  int64_t now = 0;
  for (int k = 0; k < 4; ++k) {  // four time-outs: waits 100, 200, 400, 800 from each end
    ASSERT_TRUE(s.Started(1, now));
    now += 1000;
    ASSERT_TRUE(s.Finished(1, now, WatchOutcome::Timeout));
    EXPECT_EQ(s.DueAt(1), now + (100 << k));
    now = *s.DueAt(1);
  }
  ASSERT_TRUE(s.Started(1, now));
  ASSERT_TRUE(s.Finished(1, now + 5, WatchOutcome::Good));
  EXPECT_EQ(s.DueAt(1), now + 100);
  // An exception answer is an answer: no back-off.
  ASSERT_TRUE(s.Started(1, now + 100));
  ASSERT_TRUE(s.Finished(1, now + 105, WatchOutcome::Exception));
  EXPECT_EQ(s.DueAt(1), now + 200);
}

TEST(WatchScheduler, OneTransactionAtATimeAndChangesWhileInFlight) {
  struct Step {
    enum Op { Add, Remove, Pause, Resume, Interval, Move, Send, Start, Finish, TimedOut, ExpectNext, ExpectWake } op;
    WatchBlockId id;
    int64_t arg;                    // time, interval or position
    std::optional<int64_t> expect;  // Next/NextWakeUp result; for the others 1 = accepted, 0 = refused
  };
  using S = Step;
  const struct {
    const char* name;
    std::vector<Step> steps;
  } cases[] = {
      {"refuses a second start",
       {{S::Add, 1, 0, 1},
        {S::Add, 2, 0, 1},
        {S::Start, 1, 0, 1},
        {S::ExpectNext, 0, 0, {}},
        {S::Start, 2, 0, 0},
        {S::Start, kSend, 0, 0},
        {S::ExpectWake, 0, 0, {}},
        {S::Finish, 2, 5, 0},
        {S::Finish, 1, 5, 1},
        {S::ExpectNext, 0, 5, 2},
        {S::Finish, 1, 6, 0}}},
      {"send first, then the oldest due; list order breaks ties",
       {{S::Add, 1, 0, 1},
        {S::Add, 2, 0, 1},
        {S::Move, 2, 0, 1},
        {S::ExpectNext, 0, 0, 2},
        {S::Send, 0, 0, 1},
        {S::ExpectNext, 0, 0, kSend},
        {S::Start, kSend, 0, 1},
        {S::ExpectNext, 0, 0, {}},
        {S::Finish, kSend, 50, 1},
        {S::ExpectNext, 0, 50, 2},
        {S::Start, 2, 50, 1},
        {S::Finish, 2, 60, 1},
        {S::ExpectNext, 0, 60, 1},
        {S::Start, 1, 60, 1},
        {S::Finish, 1, 70, 1},
        {S::ExpectWake, 0, 70, 150}}},
      {"remove while in flight keeps the link busy until its end",
       {{S::Add, 1, 0, 1},
        {S::Add, 2, 0, 1},
        {S::Start, 1, 0, 1},
        {S::Remove, 1, 0, 1},
        {S::ExpectNext, 0, 1, {}},
        {S::Finish, 1, 9, 1},
        {S::ExpectNext, 0, 9, 2},
        {S::Remove, 1, 9, 0}}},
      {"removed in flight and added again: the old end leaves the new block alone",
       {{S::Add, 1, 0, 1},
        {S::Start, 1, 0, 1},
        {S::Remove, 1, 0, 1},
        {S::Add, 1, 0, 1},
        {S::ExpectNext, 0, 500, {}},
        {S::TimedOut, 1, 1000, 1},
        {S::ExpectNext, 0, 1000, 1}}},
      {"pause while in flight: not due again until resumed",
       {{S::Add, 1, 0, 1},
        {S::Start, 1, 0, 1},
        {S::Pause, 1, 5, 1},
        {S::Finish, 1, 10, 1},
        {S::ExpectWake, 0, 10, {}},
        {S::ExpectNext, 0, 5000, {}},
        {S::Resume, 1, 5000, 1},
        {S::ExpectNext, 0, 5000, 1}}},
      {"resumed soon after a start: due one interval after it",
       {{S::Add, 1, 0, 1},
        {S::Start, 1, 0, 1},
        {S::Finish, 1, 10, 1},
        {S::Pause, 1, 20, 1},
        {S::Resume, 1, 30, 1},
        {S::ExpectNext, 0, 30, {}},
        {S::ExpectWake, 0, 30, 100}}},
      {"interval changed in flight applies to the next due time",
       {{S::Add, 1, 0, 1},
        {S::Start, 1, 0, 1},
        {S::Interval, 1, 2000, 1},
        {S::Finish, 1, 10, 1},
        {S::ExpectWake, 0, 10, 2000},
        {S::Interval, 1, 99, 0},
        {S::Interval, 1, 65536, 0},
        {S::Interval, 7, 500, 0}}},
      {"added paused, duplicate and reserved ids refused",
       {{S::Add, 1, 1, 1},
        {S::ExpectNext, 0, 0, {}},
        {S::ExpectWake, 0, 0, {}},
        {S::Add, kSend, 0, 0},
        {S::Start, 9, 0, 0},
        {S::Resume, 1, 40, 1},
        {S::ExpectWake, 0, 10, 40},
        {S::ExpectWake, 0, 90, 90}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WatchScheduler s;
    size_t n = 0;
    for (const Step& st : c.steps) {
      SCOPED_TRACE("step " + std::to_string(n++));
      bool ok = true;
      switch (st.op) {
        case S::Add:
          ok = s.Add(st.id, 100, st.arg != 0, 0);  // arg: added paused
          break;
        case S::Remove:
          ok = s.Remove(st.id);
          break;
        case S::Pause:
          ok = s.SetPaused(st.id, true, st.arg);
          break;
        case S::Resume:
          ok = s.SetPaused(st.id, false, st.arg);
          break;
        case S::Interval:
          ok = s.SetInterval(st.id, static_cast<uint32_t>(st.arg));
          break;
        case S::Move:
          ok = s.Move(st.id, static_cast<size_t>(st.arg));
          break;
        case S::Send:
          s.RequestSend();
          break;
        case S::Start:
          ok = s.Started(st.id, st.arg);
          break;
        case S::Finish:
          ok = s.Finished(st.id, st.arg, WatchOutcome::Good);
          break;
        case S::TimedOut:
          ok = s.Finished(st.id, st.arg, WatchOutcome::Timeout);
          break;
        case S::ExpectNext: {
          const std::optional<WatchBlockId> next = s.Next(st.arg);
          EXPECT_EQ(next ? std::optional<int64_t>(*next) : std::nullopt, st.expect);
          continue;
        }
        case S::ExpectWake:
          EXPECT_EQ(s.NextWakeUp(st.arg), st.expect);
          continue;
      }
      EXPECT_EQ(ok, st.expect == 1);
    }
  }
}

TEST(WatchScheduler, DueListsTheOrderOfServiceAndSkipsTheBlockInFlight) {
  WatchScheduler s;
  ASSERT_TRUE(s.Add(1, 100, false, 30));
  ASSERT_TRUE(s.Add(2, 100, false, 10));
  ASSERT_TRUE(s.Add(3, 100, false, 30));
  ASSERT_TRUE(s.Add(4, 100, false, 50));
  EXPECT_EQ(s.Due(40), (std::vector<WatchBlockId>{2, 1, 3}));
  ASSERT_TRUE(s.Move(3, 0));
  EXPECT_EQ(s.Order(), (std::vector<WatchBlockId>{3, 1, 2, 4}));
  EXPECT_EQ(s.Due(40), (std::vector<WatchBlockId>{2, 3, 1}));
  ASSERT_TRUE(s.Started(2, 40));
  EXPECT_EQ(s.Due(60), (std::vector<WatchBlockId>{3, 1, 4}));
}

}  // namespace
