// The watch list's scheduler over a scripted clock: intervals, the panel's
// Send first, a dead slave, one transaction at a time, changes while in flight.
#include "engine/watch_scheduler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
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

// Runs steps separated by ';' on a scheduler: "add ID [paused] [@T]",
// "remove ID", "pause ID @T", "resume ID @T", "interval ID MS", "move ID POS",
// "send", "start ID @T", "finish|timeout|exception ID @T" (a step ending in
// "!" must be refused), and the checks "next @T = ID", "wake @T = T" ("-":
// nothing), "due @T = ID,ID,..." and "order = ID,ID,...".
void RunScript(const std::string& script) {
  WatchScheduler s;
  std::istringstream steps(script);
  for (std::string step; std::getline(steps, step, ';');) {
    SCOPED_TRACE(step);
    std::istringstream in(step);
    std::string op, token, expected;
    std::vector<int64_t> args{0, 0};
    int64_t t = 0;
    bool refused = false, paused = false;
    in >> op;
    for (size_t n = 0; in >> token;) {
      refused = refused || token == "!";
      paused = paused || token == "paused";
      if (token == "=") in >> expected;
      if (token[0] == '@') t = std::stoll(token.substr(1));
      if (std::isdigit(static_cast<unsigned char>(token[0])) && n < 2) args[n++] = std::stoll(token);
    }
    const auto id = static_cast<WatchBlockId>(args[0]);
    const auto shown = [](std::optional<int64_t> v) { return v ? std::to_string(*v) : std::string("-"); };
    const auto list = [](const std::vector<WatchBlockId>& ids) {
      std::string text;
      for (WatchBlockId i : ids) text += (text.empty() ? "" : ",") + std::to_string(i);
      return text;
    };
    const auto check = [&](const std::string& got) {
      EXPECT_EQ(got, expected);
      return true;
    };
    const std::map<std::string, std::function<bool()>> ops = {
        {"add", [&] { return s.Add(id, 100, paused, t); }},
        {"remove", [&] { return s.Remove(id); }},
        {"pause", [&] { return s.SetPaused(id, true, t); }},
        {"resume", [&] { return s.SetPaused(id, false, t); }},
        {"interval", [&] { return s.SetInterval(id, static_cast<uint32_t>(args[1])); }},
        {"move", [&] { return s.Move(id, static_cast<size_t>(args[1])); }},
        {"send",
         [&] {
           s.RequestSend();
           return true;
         }},
        {"start", [&] { return s.Started(id, t); }},
        {"finish", [&] { return s.Finished(id, t, WatchOutcome::Good); }},
        {"timeout", [&] { return s.Finished(id, t, WatchOutcome::Timeout); }},
        {"exception", [&] { return s.Finished(id, t, WatchOutcome::Exception); }},
        {"next", [&] { return check(shown(s.Next(t))); }},
        {"wake", [&] { return check(shown(s.NextWakeUp(t))); }},
        {"due", [&] { return check(list(s.Due(t))); }},
        {"order", [&] { return check(list(s.Order())); }},
    };
    const auto it = ops.find(op);
    ASSERT_NE(it, ops.end()) << "unknown step";
    EXPECT_EQ(it->second(), !refused);
  }
}

TEST(WatchScheduler, OneTransactionAtATimeAndChangesWhileInFlight) {
  const struct {
    const char* name;
    const char* script;
  } cases[] = {
      {"refuses a second start",
       "add 1; add 2; start 1 @0; next @0 = -; start 2 @0 !; start 0 @0 !; wake @0 = -; finish 2 @5 !;"
       "finish 1 @5; next @5 = 2; finish 1 @6 !"},
      {"send first, then the oldest due; list order breaks ties",
       "add 1; add 2; move 2 0; next @0 = 2; send; next @0 = 0; start 0 @0; next @0 = -; finish 0 @50;"
       "next @50 = 2; start 2 @50; finish 2 @60; next @60 = 1; start 1 @60; finish 1 @70; wake @70 = 150"},
      {"remove while in flight keeps the link busy until its end",
       "add 1; add 2; start 1 @0; remove 1; next @1 = -; finish 1 @9; next @9 = 2; remove 1 !"},
      {"removed in flight and added again: the old end leaves the new block alone",
       "add 1; start 1 @0; remove 1; add 1; next @500 = -; timeout 1 @1000; next @1000 = 1"},
      {"pause while in flight: not due again until resumed",
       "add 1; start 1 @0; pause 1 @5; finish 1 @10; wake @10 = -; next @5000 = -; resume 1 @5000; next @5000 = 1"},
      {"resumed soon after a start: due one interval after it",
       "add 1; start 1 @0; finish 1 @10; pause 1 @20; resume 1 @30; next @30 = -; wake @30 = 100"},
      {"interval changed in flight applies to the next due time",
       "add 1; start 1 @0; interval 1 2000; finish 1 @10; wake @10 = 2000; interval 1 99 !; interval 1 65536 !;"
       "interval 7 500 !"},
      {"the due list in the order of service, without the block in flight",
       "add 1 @30; add 2 @10; add 3 @30; add 4 @50; due @40 = 2,1,3; move 3 0; order = 3,1,2,4; due @40 = 2,3,1;"
       "start 2 @40; due @60 = 3,1,4"},
      {"time-outs double the wait from their end; an answer, even an exception, ends it",
       "add 1; start 1 @0; timeout 1 @1000; wake @1000 = 1100; start 1 @1100; timeout 1 @2100; wake @2100 = 2300;"
       "start 1 @2300; timeout 1 @3300; wake @3300 = 3700; start 1 @3700; finish 1 @3705; wake @3705 = 3800;"
       "start 1 @3800; timeout 1 @4800; start 1 @4900; exception 1 @4950; wake @4950 = 5000"},
      {"added paused, duplicate and reserved ids refused",
       "add 1 paused; next @0 = -; wake @0 = -; add 1 !; add 0 !; start 9 @0 !; resume 1 @40; wake @10 = 40;"
       "wake @90 = 90"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RunScript(c.script);
  }
}

}  // namespace
