// The watch list: its blocks (range checks, decoding of answers in every kind of format, stale marking after
// failures and edits), the live plot's series, the scheduler over a scripted clock (intervals, the panel's Send
// first, a dead slave, one transaction at a time, changes while in flight) and the runner over a session on the
// fakes, where a scripted slave on a fake socket answers each read.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "engine/plot_series.h"
#include "engine/session.h"
#include "engine/watch_model.h"
#include "engine/watch_runner.h"
#include "engine/watch_scheduler.h"
#include "fakes/fake_platform.h"

namespace {

using engine::CheckWatchBlock;
using engine::WatchBlockConfig;
using engine::WatchModel;
using engine::WatchOutcome;

WatchBlockConfig Block(uint8_t function, uint16_t address, uint16_t quantity, int format = 0, uint8_t slave = 1,
                       uint32_t interval = 1000) {
  WatchBlockConfig s;
  s.slave = slave;
  s.function = function;
  s.address = address;
  s.quantity = quantity;
  s.formatIndex = format;
  s.intervalMs = interval;
  return s;
}

TEST(WatchModel, RangeChecksNameTheFieldAndTheRange) {
  const struct {
    WatchBlockConfig config;
    std::string field, message;  // empty: valid
  } cases[] = {
      {Block(3, 0, 125), "", ""},
      {Block(1, 0, 2000), "", ""},
      {Block(2, 65535, 1), "", ""},
      {Block(4, 65534, 2, 2), "", ""},
      {Block(3, 0, 1, 0, 247, 100), "", ""},
      {Block(3, 0, 1, 0, 1, 65535), "", ""},
      {Block(3, 0, 1, 0, 0), "slave", "must be 1 to 247"},
      {Block(3, 0, 1, 0, 248), "slave", "must be 1 to 247"},
      {Block(5, 0, 1), "function", "must be 1 to 4"},
      {Block(0, 0, 1), "function", "must be 1 to 4"},
      {Block(3, 0, 126), "quantity", "must be 1 to 125"},
      {Block(4, 0, 0), "quantity", "must be 1 to 125"},
      {Block(1, 0, 2001), "quantity", "must be 1 to 2000"},
      {Block(3, 0, 1, 13), "quantity", "must be 2 to 125"},
      {Block(1, 0, 1, 13), "", ""},  // the format of a bit read is not used
      {Block(3, 65530, 7), "quantity", "must be 1 to 6"},
      {Block(3, 65535, 2, 6), "quantity", "cannot be read from address 65535"},
      {Block(3, 0, 1, 14), "format", "must be 0 to 13"},
      {Block(3, 0, 1, -1), "format", "must be 0 to 13"},
      {Block(3, 0, 1, 0, 1, 99), "interval", "must be 100 to 65535"},
      {Block(3, 0, 1, 0, 1, 65536), "interval", "must be 100 to 65535"},
  };
  for (const auto& c : cases) {
    const auto problem = CheckWatchBlock(c.config);
    SCOPED_TRACE(c.field + " " + c.message);
    ASSERT_EQ(problem.has_value(), !c.field.empty());
    if (problem) {
      EXPECT_EQ(std::make_pair(problem->field, problem->message), std::make_pair(c.field, c.message));
    }
    WatchModel m;
    EXPECT_EQ(m.Add(c.config) != 0, c.field.empty());
  }
}

TEST(WatchModel, AGoodAnswerGivesOneValuePerBitRegisterOr32BitValue) {
  using Values = std::vector<std::pair<uint32_t, std::string>>;
  const struct {
    const char* name;
    WatchBlockConfig config;
    std::vector<uint8_t> data;
    Values expected;
  } cases[] = {
      {"coils, least significant bit first, across bytes",
       Block(1, 10, 10),
       {0b1000'0101, 0b10},
       {{10, "1"}, {11, "0"}, {12, "1"}, {13, "0"}, {14, "0"}, {15, "0"}, {16, "0"}, {17, "1"}, {18, "0"}, {19, "1"}}},
      {"discrete inputs, padding bits ignored", Block(2, 0, 3), {0xFE}, {{0, "0"}, {1, "1"}, {2, "1"}}},
      {"INT16",
       Block(3, 100, 3, 0),
       {0xFF, 0xFF, 0x80, 0x00, 0x7F, 0xFF},
       {{100, "-1"}, {101, "-32768"}, {102, "32767"}}},
      {"UINT16", Block(4, 7, 2, 1), {0xFF, 0xFF, 0x12, 0x34}, {{7, "65535"}, {8, "4660"}}},
      {"FLOAT_ABCD", Block(3, 0, 4, 2), {0x3F, 0xC0, 0, 0, 0xC1, 0x20, 0, 0}, {{0, "1.5"}, {2, "-10"}}},
      {"FLOAT_CDAB", Block(3, 0, 2, 3), {0, 0, 0x3F, 0xC0}, {{0, "1.5"}}},
      {"INT32_DCBA, odd quantity leaves the last register out",
       Block(3, 50, 3, 9),
       {0xFE, 0xFF, 0xFF, 0xFF, 1, 2},
       {{50, "-2"}}},
      {"UINT32_ABCD", Block(4, 0, 2, 10), {0xFF, 0xFF, 0xFF, 0xFF}, {{0, "4294967295"}}},
      {"extra bytes ignored", Block(3, 0, 1, 1), {0, 5, 9, 9}, {{0, "5"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WatchModel m;
    const auto id = m.Add(c.config);
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(m.FeedGood(id, 0, 1000, 12, c.data));
    Values got;
    for (const auto& v : m.Find(id)->values) {
      got.emplace_back(v.address, v.text);
      EXPECT_FALSE(v.stale);
      EXPECT_EQ(v.lastGoodMs, 1000);
    }
    EXPECT_EQ(got, c.expected);
  }
  WatchModel comma(",");
  const auto id = comma.Add(Block(3, 0, 2, 2));
  ASSERT_TRUE(comma.FeedGood(id, 0, 0, 1, {0x3F, 0xC0, 0, 0}));
  EXPECT_EQ(comma.Find(id)->values[0].text, "1,5");
  EXPECT_EQ(comma.Find(id)->values[0].number, 1.5);
}

TEST(WatchModel, AValueIsNeverFreshAfterItsBlockFailed) {
  // Each step feeds the block and states what every value must then show.
  struct Step {
    const char* name;
    enum { Good, Fail, Short, EditFormat, EditRead, EditInterval } op;
    WatchOutcome outcome;
    bool stale;
    const char* firstText;
    std::optional<int64_t> lastGood;
  };
  const Step steps[] = {
      {"new block: stale, no text", Step::EditInterval, WatchOutcome::Good, true, "", {}},
      {"good answer", Step::Good, WatchOutcome::Good, false, "-2", 200},
      {"time-out: stale, last value kept for reference", Step::Fail, WatchOutcome::Timeout, true, "-2", 200},
      {"good again", Step::Good, WatchOutcome::Good, false, "-2", 400},
      {"exception", Step::Fail, WatchOutcome::Exception, true, "-2", 400},
      {"protocol error", Step::Fail, WatchOutcome::ProtocolError, true, "-2", 400},
      {"connection error", Step::Fail, WatchOutcome::ConnectionError, true, "-2", 400},
      {"format changed while stale: re-decoded, still stale", Step::EditFormat, WatchOutcome::ConnectionError, true,
       "65534", 400},
      {"good", Step::Good, WatchOutcome::Good, false, "65534", 900},
      {"interval changed: values unchanged", Step::EditInterval, WatchOutcome::Good, false, "65534", 900},
      {"answer too short: protocol error, stale", Step::Short, WatchOutcome::ProtocolError, true, "65534", 900},
      {"good", Step::Good, WatchOutcome::Good, false, "65534", 1200},
      {"other registers: start over", Step::EditRead, WatchOutcome::Good, true, "", {}},
  };
  WatchModel m;
  const auto id = m.Add(Block(3, 0, 2, 0));
  int64_t now = 0;
  for (const Step& st : steps) {
    SCOPED_TRACE(st.name);
    now += 100;
    WatchBlockConfig config = m.Find(id)->config;
    const uint32_t rev = m.Find(id)->revision;
    switch (st.op) {
      case Step::Good:
        ASSERT_TRUE(m.FeedGood(id, rev, now, 7, {0xFF, 0xFE, 0, 1}));
        break;
      case Step::Fail:
        ASSERT_TRUE(m.FeedFailure(id, rev, now, st.outcome, 9, 2));
        break;
      case Step::Short:
        ASSERT_FALSE(m.FeedGood(id, rev, now, 7, {0xFF, 0xFE, 0}));
        break;
      case Step::EditFormat:
        config.formatIndex = 1;
        ASSERT_TRUE(m.Edit(id, config));
        break;
      case Step::EditRead:
        config.address = 1;
        ASSERT_TRUE(m.Edit(id, config));
        break;
      case Step::EditInterval:
        config.intervalMs = 500;
        ASSERT_TRUE(m.Edit(id, config));
        break;
    }
    const auto& b = *m.Find(id);
    ASSERT_EQ(b.values.size(), 2u);
    for (const auto& v : b.values) {
      EXPECT_EQ(v.stale, st.stale);
      EXPECT_EQ(v.lastGoodMs, st.lastGood);
    }
    EXPECT_EQ(b.values[0].text, st.firstText);
    if (st.op == Step::Good || st.op == Step::Fail || st.op == Step::Short) {
      EXPECT_EQ(b.state.outcome, st.outcome);
      EXPECT_EQ(b.state.lastUpdateMs, now);
      EXPECT_EQ(b.state.exceptionCode, st.outcome == WatchOutcome::Exception ? 2 : 0);
    }
  }
  EXPECT_FALSE(m.FeedFailure(id, 1, now, WatchOutcome::Good));
  EXPECT_FALSE(m.FeedGood(999, 0, now, 1, {0, 0, 0, 0}));
  // An answer to the registers read before the last edit is not shown.
  EXPECT_EQ(m.Find(id)->revision, 1u);
  EXPECT_FALSE(m.FeedGood(id, 0, now, 7, {1, 2, 3, 4}));
  EXPECT_FALSE(m.FeedFailure(id, 0, now, WatchOutcome::Timeout));
  EXPECT_TRUE(m.Find(id)->values[0].stale);
  EXPECT_EQ(m.Find(id)->values[0].text, "");
  EXPECT_FALSE(m.Find(id)->state.outcome);
}

TEST(WatchModel, AFormatChangeReDecodesTheLastAnswerAndIdsAreNeverReused) {
  WatchModel m;
  const auto a = m.Add(Block(3, 10, 4, 0));
  const auto b = m.Add(Block(1, 0, 8));
  m.Add(Block(4, 0, 1));
  ASSERT_TRUE(m.FeedGood(a, 0, 50, 3, {0x3F, 0x80, 0, 0, 0x40, 0, 0, 0}));
  WatchBlockConfig s = m.Find(a)->config;
  s.formatIndex = 2;  // FLOAT_ABCD: two values from the same four registers
  ASSERT_TRUE(m.Edit(a, s));
  const auto& values = m.Find(a)->values;
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[0].address, 10u);
  EXPECT_EQ(values[1].address, 12u);
  EXPECT_EQ(values[0].text, "1");
  EXPECT_EQ(values[1].text, "2");
  EXPECT_FALSE(values[1].stale);
  s.quantity = 1;
  EXPECT_FALSE(m.Edit(a, s));  // a 32-bit format needs two registers; nothing changes
  EXPECT_EQ(m.Find(a)->config.quantity, 4);

  ASSERT_TRUE(m.Remove(b));
  EXPECT_EQ(m.Add(Block(3, 0, 1)), 4u);  // ids are never reused
  EXPECT_EQ(m.Blocks().size(), 3u);
}

// ---- the live plot's series ----

using engine::PlotData;
using engine::PlotPoint;

TEST(PlotData, DecimationKeepsEveryBucketsExtremesAndBoundsMemory) {
  const struct {
    const char* name;
    int windowMinutes;
    int64_t stepMs;
    int64_t runMs;
  } cases[] = {
      {"60 minutes at 10 points a second", 60, 100, 3'600'000},
      {"1 minute at 1000 points a second", 1, 1, 120'000},
      {"30 minutes, a point every 5 ms", 30, 5, 2'400'000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PlotData plot(c.windowMinutes);
    const size_t s = *plot.AddSeries("v");
    size_t most = 0;
    int64_t spikeAt = -1;
    for (int64_t t = 0, k = 0; t <= c.runMs; t += c.stepMs, ++k) {
      // A slow sine with one spike up and one down in the last quarter.
      double v = std::sin(static_cast<double>(t) / 50'000.0);
      if (k == (c.runMs / c.stepMs) * 3 / 4) {
        v = 1000;
        spikeAt = t;
      }
      if (k == (c.runMs / c.stepMs) * 3 / 4 + 7) v = -1000;
      ASSERT_TRUE(plot.Append(s, t, v));
      most = std::max(most, plot.Stored(s));
    }
    EXPECT_LE(most, PlotData::kCompactAt);
    // Everything older than the window is gone; the newest point is exact.
    const auto all = plot.Points(s, 0, c.runMs, 100'000);
    ASSERT_FALSE(all.empty());
    EXPECT_GE(all.front().t, c.runMs - int64_t{c.windowMinutes} * 60'000);
    EXPECT_EQ(all.back(),
              (PlotPoint{c.runMs - c.runMs % c.stepMs, std::sin((c.runMs - c.runMs % c.stepMs) / 50'000.0)}));
    // Both spikes survive storage and a drawing at 400 points.
    for (const auto& drawn : {all, plot.Points(s, 0, c.runMs, 400)}) {
      EXPECT_LE(drawn.size(), std::max<size_t>(400, all.size()));
      double lo = 0, hi = 0;
      for (const PlotPoint& p : drawn) {
        lo = std::min(lo, p.v);
        hi = std::max(hi, p.v);
      }
      EXPECT_EQ(hi, 1000);
      EXPECT_EQ(lo, -1000);
      EXPECT_TRUE(std::is_sorted(drawn.begin(), drawn.end(), [](auto& a, auto& b) { return a.t < b.t; }));
    }
    const auto spike = plot.Points(s, spikeAt, spikeAt, 4);
    ASSERT_EQ(spike.size(), 1u);
    EXPECT_EQ(spike[0].v, 1000);
  }
}

TEST(PlotData, SeriesLimitsOrderAndCsvExport) {
  PlotData plot(1);
  for (int i = 0; i < 8; ++i) ASSERT_EQ(plot.AddSeries("s" + std::to_string(i)), static_cast<size_t>(i));
  EXPECT_FALSE(plot.AddSeries("ninth"));
  ASSERT_TRUE(plot.RemoveSeries(7));
  ASSERT_TRUE(plot.RemoveSeries(1));
  for (int i = 1; i < 6; ++i) ASSERT_TRUE(plot.RemoveSeries(1));
  ASSERT_EQ(plot.SeriesCount(), 1u);
  ASSERT_EQ(plot.AddSeries("HR 00010, \"speed\""), 1u);
  EXPECT_FALSE(plot.SetWindowMinutes(0));
  EXPECT_FALSE(plot.SetWindowMinutes(61));

  const struct {
    size_t series;
    int64_t t;
    double v;
    bool accepted;
  } points[] = {
      {0, 0, 1.5, true},    {1, 0, -2, true},          {0, 10, 2, true},  {0, 5, 9, false},  // back in time
      {1, 20, NAN, false},  {1, 20, INFINITY, false},  {2, 20, 1, false}, {1, 30, 1e20, true},
      {0, 60'010, 3, true}, {1, 60'020, 0.0001, true},
  };
  for (const auto& p : points) EXPECT_EQ(plot.Append(p.series, p.t, p.v), p.accepted) << p.t;
  // The window is one minute up to the latest point (60020): times 0 and 10
  // have left it.
  EXPECT_EQ(plot.ToCsv(),
            "time,s0,\"HR 00010, \"\"speed\"\"\"\r\n"
            "30,,1E+20\r\n"
            "60010,3,\r\n"
            "60020,,0.0001\r\n");
  EXPECT_NE(plot.ToCsv([](int64_t t) { return "t" + std::to_string(t / 1000); })
                .find("\r\nt0,,1E+20\r\nt60,3,\r\nt60,,0.0001\r\n"),
            std::string::npos);
}

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

using engine::WatchBlockConfig;
using engine::WatchOutcome;

constexpr uint8_t kDeadSlave = 9;      // never answers
constexpr uint8_t kRefusingSlave = 5;  // answers every read with exception 2

// A session over a fake TCP socket, a runner on it, and a slave that answers
// the requests on the wire `delayMs` after they were sent. Every request sent
// while another is unanswered counts as an overlap.
struct Rig {
  explicit Rig(int timeoutMs = 300) {
    settings.mode = modbus::Mode::Tcp;
    settings.host = "127.0.0.1";
    settings.port = 1502;
    settings.socketTimeoutMs = timeoutMs;
    session = std::make_unique<engine::Session>(engine::LinkParts{clock, clock, nullptr, socket},
                                                [this] { return settings; });
    runner = std::make_unique<engine::WatchRunner>(
        *session, clock, clock->CreateTimer(), [] { return modbus::Mode::Tcp; },
        [this](const engine::Event& e) { forwarded.push_back(e.kind); });
  }

  // Advances the clock in 1 ms steps, answering as the slave would.
  void Run(int64_t ms) {
    for (int64_t t = 0; t < ms; ++t) {
      // The slave takes every connection (the session closes the link after a time-out).
      if (autoAccept && socket->state == platform::TcpSocket::kConnecting) socket->AcceptConnect();
      while (seen < socket->sent.size()) {
        if (pending) ++overlaps;
        pending = true;
        sentAt = clock->MonotonicMs();
        ++seen;
      }
      if (pending && clock->MonotonicMs() - sentAt >= delayMs) {
        pending = false;
        Answer(socket->sent.back());
      }
      clock->Advance(1);
    }
  }

  void Answer(const Frame& req) {
    const uint8_t unit = req.at(6), fc = req.at(7);
    const int address = req.at(8) * 256 + req.at(9), quantity = req.at(10) * 256 + req.at(11);
    if (unit == kDeadSlave) return;
    Frame pdu{fc};
    if (unit == kRefusingSlave) {
      pdu = {static_cast<uint8_t>(fc | 0x80), 2};
    } else if (fc <= 2) {
      pdu.push_back(static_cast<uint8_t>((quantity + 7) / 8));
      for (int i = 0; i < (quantity + 7) / 8; ++i) pdu.push_back(0x55);
    } else {
      pdu.push_back(static_cast<uint8_t>(quantity * 2));
      for (int i = 0; i < quantity; ++i) {
        pdu.push_back(static_cast<uint8_t>((address + i) >> 8));
        pdu.push_back(static_cast<uint8_t>(address + i));
      }
    }
    Frame adu{req.at(0), req.at(1), 0, 0, 0, static_cast<uint8_t>(pdu.size() + 1), unit};
    adu.insert(adu.end(), pdu.begin(), pdu.end());
    socket->Deliver(adu);
  }

  WatchBlockConfig Block(uint8_t slave, uint8_t fc, uint16_t address, uint16_t quantity, uint32_t intervalMs) {
    WatchBlockConfig c;
    c.slave = slave, c.function = fc, c.address = address, c.quantity = quantity, c.intervalMs = intervalMs;
    return c;
  }

  uint64_t Started(engine::WatchBlockId id) const { return runner->Scheduler().CountersOf(id)->started; }

  std::shared_ptr<fakes::FakeClock> clock = std::make_shared<fakes::FakeClock>();
  std::shared_ptr<fakes::FakeTcpSocket> socket = std::make_shared<fakes::FakeTcpSocket>();
  engine::LinkSettings settings;
  std::unique_ptr<engine::Session> session;
  std::unique_ptr<engine::WatchRunner> runner;
  std::vector<engine::EventKind> forwarded;
  size_t seen = 0;
  bool pending = false;
  int64_t sentAt = 0, delayMs = 5;
  int overlaps = 0;
  bool autoAccept = true;
};

TEST(WatchRunner, BlocksAreReadAtTheirOwnIntervalsOneAtATime) {
  Rig rig;
  struct Case {
    uint32_t intervalMs;
    uint64_t low, high;  // reads expected over 5 s
  };
  const std::vector<Case> cases{{100, 48, 51}, {250, 19, 21}, {1000, 5, 6}};
  std::vector<engine::WatchBlockId> ids;
  for (const Case& c : cases) ids.push_back(rig.runner->Add(rig.Block(1, 3, 10, 4, c.intervalMs)));
  rig.runner->Start();
  rig.socket->AcceptConnect();
  rig.Run(5000);
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].intervalMs);
    EXPECT_GE(rig.Started(ids[i]), cases[i].low);
    EXPECT_LE(rig.Started(ids[i]), cases[i].high);
  }
  EXPECT_EQ(rig.overlaps, 0);
  EXPECT_EQ(rig.runner->Overlaps(), 0u);
  const engine::WatchBlock* b = rig.runner->Model().Find(ids[0]);
  ASSERT_EQ(b->values.size(), 4u);
  EXPECT_EQ(b->values[2].text, "12");
  EXPECT_FALSE(b->values[2].stale);
  EXPECT_EQ(b->state.outcome, WatchOutcome::Good);
  // Every read and answer was handed on for the log.
  EXPECT_GE(std::count(rig.forwarded.begin(), rig.forwarded.end(), engine::EventKind::AnswerComplete), 74);
}

TEST(WatchRunner, NothingGoesOutWhileStoppedOrPaused) {
  Rig rig;
  const auto a = rig.runner->Add(rig.Block(1, 3, 0, 1, 100));
  const auto paused = rig.runner->Add(rig.Block(1, 4, 0, 1, 100));
  rig.runner->SetPaused(paused, true);
  rig.socket->AcceptConnect();
  rig.Run(500);
  EXPECT_TRUE(rig.socket->sent.empty());
  rig.runner->Start();
  rig.Run(1000);
  EXPECT_GE(rig.Started(a), 9u);
  EXPECT_EQ(rig.Started(paused), 0u);
  EXPECT_TRUE(rig.runner->Model().Find(paused)->values[0].stale);
  rig.runner->Stop();
  const size_t before = rig.socket->sent.size();
  rig.Run(1000);
  EXPECT_EQ(rig.socket->sent.size(), before);
}

TEST(WatchRunner, FailuresMarkTheBlockStaleAndKeepTheOthersGoing) {
  struct Case {
    uint8_t slave;
    WatchOutcome outcome;
  };
  for (const Case c : {Case{kDeadSlave, WatchOutcome::Timeout}, Case{kRefusingSlave, WatchOutcome::Exception}}) {
    SCOPED_TRACE(static_cast<int>(c.slave));
    Rig rig(300);
    const auto good = rig.runner->Add(rig.Block(1, 3, 0, 2, 100));
    const auto bad = rig.runner->Add(rig.Block(c.slave, 3, 0, 2, 100));
    rig.runner->Start();
    rig.socket->AcceptConnect();
    rig.Run(5000);
    const engine::WatchBlock* b = rig.runner->Model().Find(bad);
    EXPECT_EQ(b->state.outcome, c.outcome);
    for (const auto& v : b->values) EXPECT_TRUE(v.stale);
    EXPECT_FALSE(rig.runner->Model().Find(good)->values[0].stale);
    // A dead slave costs time-outs but the good block still gets most of its turns.
    EXPECT_GE(rig.Started(good), c.outcome == WatchOutcome::Timeout ? 30u : 48u);
    EXPECT_EQ(rig.overlaps, 0);
    const auto& stats = rig.session->Stats();
    if (c.outcome == WatchOutcome::Timeout)
      EXPECT_GE(stats.timeouts, 1u);
    else
      EXPECT_GE(stats.exceptions, 40u);
  }
}

TEST(WatchRunner, ALinkThatFailsEndsTheReadAndTheListCarriesOnWhenItIsBack) {
  Rig rig;
  rig.autoAccept = false;
  const auto id = rig.runner->Add(rig.Block(1, 3, 0, 1, 100));
  rig.runner->Start();
  rig.Run(2);
  ASSERT_EQ(rig.socket->connects.size(), 1u);
  rig.socket->RaiseError(10061, "Connection refused");
  rig.Run(2);
  EXPECT_EQ(rig.runner->Model().Find(id)->state.outcome, WatchOutcome::ConnectionError);
  EXPECT_FALSE(rig.runner->Scheduler().InFlight().has_value());
  rig.Run(150);
  ASSERT_GE(rig.socket->connects.size(), 2u);
  rig.socket->AcceptConnect();
  rig.Run(300);
  EXPECT_EQ(rig.runner->Model().Find(id)->state.outcome, WatchOutcome::Good);
}

TEST(WatchRunner, AnAnswerToAReadBeforeAnEditIsNotShownAsTheNewRegisters) {
  Rig rig;
  rig.delayMs = 50;
  const auto id = rig.runner->Add(rig.Block(1, 3, 0, 2, 1000));
  rig.runner->Start();
  rig.socket->AcceptConnect();
  rig.Run(10);  // the read of 0..1 is out
  rig.runner->Edit(id, rig.Block(1, 3, 100, 2, 1000));
  rig.Run(60);
  const engine::WatchBlock* b = rig.runner->Model().Find(id);
  EXPECT_TRUE(b->values[0].stale);
  EXPECT_EQ(b->values[0].address, 100u);
  rig.Run(1000);
  EXPECT_EQ(rig.runner->Model().Find(id)->values[0].text, "100");
}

TEST(WatchRunner, ARunnerGoneBeforeItsSessionLeavesNoHook) {
  Rig rig;
  rig.runner->Add(rig.Block(1, 3, 0, 1, 100));
  rig.runner->Start();
  rig.socket->AcceptConnect();
  rig.Run(3);
  rig.runner.reset();
  rig.Run(1000);  // the answer and the session's events reach no runner
  EXPECT_LE(rig.socket->sent.size(), 1u);
}

TEST(WatchRunner, AReadTheOperatorEndedWithTheLinkDoesNotHoldTheListForever) {
  Rig rig;
  rig.delayMs = 100000;  // the answer never comes in time
  const auto id = rig.runner->Add(rig.Block(1, 3, 0, 1, 100));
  rig.runner->Start();
  rig.Run(5);
  ASSERT_TRUE(rig.runner->Scheduler().InFlight().has_value());
  rig.session->EndTransaction();  // reports nothing
  rig.Run(260);
  EXPECT_EQ(rig.runner->Model().Find(id)->state.outcome, WatchOutcome::ConnectionError);
  EXPECT_GE(rig.Started(id), 2u);
}

}  // namespace
