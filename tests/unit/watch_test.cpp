// The watch list: its blocks (range checks, decoding of answers in every kind of format, stale marking after
// failures and edits), the live plot's series, the scheduler over a scripted clock (intervals, the panel's Send
// first, one transaction at a time, changes while in flight) and the runner over a session on the fakes, where a
// scripted slave on a fake socket answers each read.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <functional>
#include <map>
#include <sstream>

#include "engine/plot_series.h"
#include "engine/watch_model.h"
#include "engine/watch_runner.h"
#include "engine/watch_scheduler.h"
#include "panel_rig.h"

namespace {

using engine::WatchBlockConfig;
using engine::WatchBlockId;
using engine::WatchModel;
using engine::WatchOutcome;
using engine::WatchScheduler;

WatchBlockConfig Block(uint8_t function, uint16_t address, uint16_t quantity, int format = 0, uint8_t slave = 1,
                       uint32_t interval = 1000) {
  return {slave, function, address, quantity, format, interval, false};
}

std::string Shown(const engine::WatchBlock& b) {
  std::string s;
  for (const auto& v : b.values)
    s += (s.empty() ? "" : " ") + std::to_string(v.address) + "=" + v.text + (v.stale ? "?" : "");
  return s;
}

TEST(WatchModel, RangeChecksNameTheFieldAndTheRange) {
  const struct {
    WatchBlockConfig config;
    std::string problem;  // field and message; empty: valid
  } cases[] = {
      {Block(3, 0, 125), ""},
      {Block(1, 0, 2000), ""},
      {Block(2, 65535, 1), ""},
      {Block(4, 65534, 2, 2), ""},
      {Block(3, 0, 1, 0, 247, 100), ""},
      {Block(3, 0, 1, 0, 1, 65535), ""},
      {Block(1, 0, 1, 13), ""},  // the format of a bit read is not used
      {Block(3, 0, 1, 0, 0), "slave must be 1 to 247"},
      {Block(3, 0, 1, 0, 248), "slave must be 1 to 247"},
      {Block(5, 0, 1), "function must be 1 to 4"},
      {Block(0, 0, 1), "function must be 1 to 4"},
      {Block(3, 0, 126), "quantity must be 1 to 125"},
      {Block(4, 0, 0), "quantity must be 1 to 125"},
      {Block(1, 0, 2001), "quantity must be 1 to 2000"},
      {Block(3, 0, 1, 13), "quantity must be 2 to 125"},
      {Block(3, 65530, 7), "quantity must be 1 to 6"},
      {Block(3, 65535, 2, 6), "quantity cannot be read from address 65535"},
      {Block(3, 0, 1, 14), "format must be a 16- or 32-bit format, INT16 to UINT32_DCBA"},
      {Block(3, 0, 1, -1), "format must be a 16- or 32-bit format, INT16 to UINT32_DCBA"},
      {Block(3, 0, 1, 0, 1, 99), "interval must be 100 to 65535"},
      {Block(3, 0, 1, 0, 1, 65536), "interval must be 100 to 65535"},
  };
  for (const auto& c : cases) {
    const auto problem = engine::CheckWatchBlock(c.config);
    EXPECT_EQ(problem ? problem->field + " " + problem->message : "", c.problem);
    EXPECT_EQ(WatchModel().Add(c.config) != 0, c.problem.empty()) << c.problem;
  }
}

TEST(WatchModel, AGoodAnswerGivesOneValuePerBitRegisterOr32BitValue) {
  const struct {
    const char* name;
    WatchBlockConfig config;
    std::vector<uint8_t> data;
    std::string shown;
  } cases[] = {
      {"coils, least significant bit first, across bytes",
       Block(1, 10, 10),
       {0b1000'0101, 0b10},
       "10=1 11=0 12=1 13=0 14=0 15=0 16=0 17=1 18=0 19=1"},
      {"discrete inputs, padding bits ignored", Block(2, 0, 3), {0xFE}, "0=0 1=1 2=1"},
      {"INT16", Block(3, 100, 3, 0), {0xFF, 0xFF, 0x80, 0x00, 0x7F, 0xFF}, "100=-1 101=-32768 102=32767"},
      {"UINT16", Block(4, 7, 2, 1), {0xFF, 0xFF, 0x12, 0x34}, "7=65535 8=4660"},
      {"INT32_DCBA, odd quantity leaves the last register out",
       Block(3, 50, 3, 9),
       {0xFE, 0xFF, 0xFF, 0xFF, 1, 2},
       "50=-2"},
      {"extra bytes ignored", Block(3, 0, 1, 1), {0, 5, 9, 9}, "0=5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WatchModel m;
    const auto id = m.Add(c.config);
    ASSERT_TRUE(m.FeedGood(id, 0, 1000, 12, c.data));
    EXPECT_EQ(Shown(*m.Find(id)), c.shown);
  }
  WatchModel comma(",");
  const auto id = comma.Add(Block(3, 0, 2, 2));
  ASSERT_TRUE(comma.FeedGood(id, 0, 0, 1, {0x3F, 0xC0, 0, 0}));
  EXPECT_EQ(std::make_pair(comma.Find(id)->values[0].text, comma.Find(id)->values[0].number),
            std::make_pair(std::string("1,5"), 1.5));
}

TEST(WatchModel, AValueIsNeverFreshAfterItsBlockFailed) {
  // Each step feeds the block or edits it, and states what both values must then show.
  enum Op { Good, Fail, Short, EditFormat, EditRead, EditInterval };
  const struct {
    const char* name;
    Op op;
    WatchOutcome outcome;
    std::string shown;
    std::optional<int64_t> lastGood;
  } steps[] = {
      {"new block: stale, no text", EditInterval, WatchOutcome::Good, "0=? 1=?", {}},
      {"good answer", Good, WatchOutcome::Good, "0=-2 1=1", 200},
      {"time-out: stale, last value kept for reference", Fail, WatchOutcome::Timeout, "0=-2? 1=1?", 200},
      {"good again", Good, WatchOutcome::Good, "0=-2 1=1", 400},
      {"exception", Fail, WatchOutcome::Exception, "0=-2? 1=1?", 400},
      {"connection error", Fail, WatchOutcome::ConnectionError, "0=-2? 1=1?", 400},
      {"format changed while stale: re-decoded, still stale", EditFormat, WatchOutcome::ConnectionError,
       "0=65534? 1=1?", 400},
      {"good", Good, WatchOutcome::Good, "0=65534 1=1", 800},
      {"interval changed: values unchanged", EditInterval, WatchOutcome::Good, "0=65534 1=1", 800},
      {"answer too short: protocol error, stale", Short, WatchOutcome::ProtocolError, "0=65534? 1=1?", 800},
      {"good", Good, WatchOutcome::Good, "0=65534 1=1", 1100},
      {"other registers: start over", EditRead, WatchOutcome::Good, "1=? 2=?", {}},
  };
  WatchModel m;
  const auto id = m.Add(Block(3, 0, 2, 0));
  int64_t now = 0;
  for (const auto& st : steps) {
    SCOPED_TRACE(st.name);
    now += 100;
    WatchBlockConfig config = m.Find(id)->config;
    const uint32_t rev = m.Find(id)->revision;
    if (st.op == EditFormat) config.formatIndex = 1;
    if (st.op == EditRead) config.address = 1;
    if (st.op == EditInterval) config.intervalMs = 500;
    ASSERT_EQ(st.op == Good    ? m.FeedGood(id, rev, now, 7, {0xFF, 0xFE, 0, 1})
              : st.op == Fail  ? m.FeedFailure(id, rev, now, st.outcome, 9, 2)
              : st.op == Short ? m.FeedGood(id, rev, now, 7, {0xFF, 0xFE, 0})
                               : m.Edit(id, config),
              st.op != Short);
    const auto& b = *m.Find(id);
    EXPECT_EQ(Shown(b), st.shown);
    for (const auto& v : b.values) EXPECT_EQ(v.lastGoodMs, st.lastGood);
    if (st.op < EditFormat) {
      EXPECT_EQ(std::make_tuple(b.state.outcome, b.state.lastUpdateMs, b.state.exceptionCode),
                std::make_tuple(st.outcome, now, st.outcome == WatchOutcome::Exception ? 2 : 0));
    }
  }
  EXPECT_FALSE(m.FeedFailure(id, 1, now, WatchOutcome::Good));
  EXPECT_FALSE(m.FeedGood(999, 0, now, 1, {0, 0, 0, 0}));
  // An answer to the registers read before the last edit is not shown.
  EXPECT_EQ(m.Find(id)->revision, 1u);
  EXPECT_FALSE(m.FeedGood(id, 0, now, 7, {1, 2, 3, 4}));
  EXPECT_FALSE(m.FeedFailure(id, 0, now, WatchOutcome::Timeout));
  EXPECT_EQ(Shown(*m.Find(id)), "1=? 2=?");
  EXPECT_FALSE(m.Find(id)->state.outcome);
}

TEST(WatchModel, AFormatChangeReDecodesTheLastAnswerAndIdsAreNeverReused) {
  WatchModel m;
  const auto a = m.Add(Block(3, 10, 4, 0)), b = m.Add(Block(1, 0, 8));
  m.Add(Block(4, 0, 1));
  ASSERT_TRUE(m.FeedGood(a, 0, 50, 3, {0x3F, 0x80, 0, 0, 0x40, 0, 0, 0}));
  WatchBlockConfig s = m.Find(a)->config;
  s.formatIndex = 2;  // FLOAT_ABCD: two values from the same four registers
  ASSERT_TRUE(m.Edit(a, s));
  EXPECT_EQ(Shown(*m.Find(a)), "10=1 12=2");
  s.quantity = 1;
  EXPECT_FALSE(m.Edit(a, s));  // a 32-bit format needs two registers; nothing changes
  EXPECT_EQ(m.Find(a)->config.quantity, 4);
  ASSERT_TRUE(m.Remove(b));
  EXPECT_EQ(m.Add(Block(3, 0, 1)), 4u);  // ids are never reused
  EXPECT_EQ(m.Blocks().size(), 3u);
}

using engine::PlotData;
using engine::PlotPoint;

TEST(PlotData, DecimationKeepsEveryBucketsExtremesAndBoundsMemory) {
  const struct {
    int windowMinutes;
    int64_t stepMs, runMs;
  } cases[] = {{60, 100, 3'600'000}, {1, 1, 120'000}};  // 10 points a second for an hour, 1000 for two minutes
  for (const auto& c : cases) {
    SCOPED_TRACE(c.runMs);
    PlotData plot(c.windowMinutes);
    const size_t s = *plot.AddSeries("v");
    size_t most = 0;
    const int64_t up = (c.runMs / c.stepMs) * 3 / 4, spikeAt = up * c.stepMs;
    for (int64_t t = 0, k = 0; t <= c.runMs; t += c.stepMs, ++k) {
      // A slow sine with one spike up and one down in the last quarter.
      ASSERT_TRUE(plot.Append(s, t,
                              k == up       ? 1000
                              : k == up + 7 ? -1000
                                            : std::sin(static_cast<double>(t) / 50'000.0)));
      most = std::max(most, plot.Stored(s));
    }
    EXPECT_LE(most, PlotData::kCompactAt);
    // Everything older than the window is gone; the newest point is exact.
    const auto all = plot.Points(s, 0, c.runMs, 100'000);
    ASSERT_FALSE(all.empty());
    EXPECT_GE(all.front().t, c.runMs - int64_t{c.windowMinutes} * 60'000);
    const int64_t last = c.runMs - c.runMs % c.stepMs;
    EXPECT_EQ(all.back(), (PlotPoint{last, std::sin(last / 50'000.0)}));
    for (const auto& drawn : {all, plot.Points(s, 0, c.runMs, 400)}) {
      EXPECT_LE(drawn.size(), std::max<size_t>(400, all.size()));
      const auto [lo, hi] = std::minmax_element(drawn.begin(), drawn.end(), [](auto& a, auto& b) { return a.v < b.v; });
      EXPECT_EQ(std::make_pair(lo->v, hi->v), std::make_pair(-1000.0, 1000.0));
      EXPECT_TRUE(std::is_sorted(drawn.begin(), drawn.end(), [](auto& a, auto& b) { return a.t < b.t; }));
    }
    EXPECT_EQ(plot.Points(s, spikeAt, spikeAt, 4), (std::vector<PlotPoint>{{spikeAt, 1000}}));
  }
}

TEST(PlotData, SeriesLimitsOrderAndCsvExport) {
  PlotData plot(1);
  for (int i = 0; i < 8; ++i) ASSERT_EQ(plot.AddSeries("s" + std::to_string(i)), static_cast<size_t>(i));
  EXPECT_FALSE(plot.AddSeries("ninth"));
  ASSERT_TRUE(plot.RemoveSeries(7) && plot.RemoveSeries(1));
  for (int i = 1; i < 6; ++i) ASSERT_TRUE(plot.RemoveSeries(1));
  ASSERT_EQ(plot.SeriesCount(), 1u);
  ASSERT_EQ(plot.AddSeries("HR 00010, \"speed\""), 1u);
  EXPECT_FALSE(plot.SetWindowMinutes(0) || plot.SetWindowMinutes(61));
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
  // The window is one minute up to the latest point (60020): times 0 and 10 have left it.
  EXPECT_EQ(plot.ToCsv(), "time,s0,\"HR 00010, \"\"speed\"\"\"\r\n30,,1E+20\r\n60010,3,\r\n60020,,0.0001\r\n");
  EXPECT_NE(plot.ToCsv([](int64_t t) { return "t" + std::to_string(t / 1000); })
                .find("\r\nt0,,1E+20\r\nt60,3,\r\nt60,,0.0001\r\n"),
            std::string::npos);
}

constexpr WatchBlockId kSend = WatchScheduler::kPanelSend;

// A link on a scripted clock: each block's read lasts `answerMs`, the panel's Send `sendMs`.
struct Clocked {
  WatchScheduler s;
  int64_t now = 0, answerMs = 10, sendMs = 20;
  std::vector<std::pair<int64_t, WatchBlockId>> starts;
  int overlaps = 0;

  void Run(int64_t until) {
    for (int guard = 0; guard < 2'000'000 && now < until; ++guard) {
      if (const std::optional<WatchBlockId> id = s.Next(now)) {
        if (s.InFlight() || !s.Started(*id, now)) ++overlaps;
        if (s.Started(*id, now)) ++overlaps;  // a second start must be refused
        starts.emplace_back(now, *id);
        now += *id == kSend ? sendMs : answerMs;
        overlaps += !s.Finished(*id, now, WatchOutcome::Good);
        continue;
      }
      const std::optional<int64_t> wake = s.NextWakeUp(now);
      now = !wake ? until : *wake <= now ? now + 1 : std::min(*wake, until);
    }
  }
  std::vector<int64_t> StartsOf(WatchBlockId id) const {
    std::vector<int64_t> at;
    for (const auto& [t, started] : starts)
      if (started == id) at.push_back(t);
    return at;
  }
};

TEST(WatchScheduler, BlocksGoOutAtTheirIntervalsOldestDueFirstWithoutBurstsAfterAStall) {
  const struct {
    std::vector<uint32_t> intervals;
    int64_t answerMs, runMs;
    std::vector<int> expectedStarts;  // per block
  } cases[] = {
      {{100, 250, 1000}, 10, 10'000, {100, 40, 10}},
      {{65535}, 10, 140'000, {3}},
      // Answers take 60 ms: three blocks at 100 ms cannot all keep up; the link is shared evenly and nothing is made
      // up later.
      {{100, 100, 100}, 60, 9'000, {50, 50, 50}},
  };
  for (const auto& c : cases) {
    Clocked l;
    l.answerMs = c.answerMs;
    for (size_t i = 0; i < c.intervals.size(); ++i) ASSERT_TRUE(l.s.Add(WatchBlockId(i + 1), c.intervals[i], false, 0));
    l.Run(c.runMs);
    EXPECT_EQ(l.overlaps, 0);
    for (size_t i = 0; i < c.intervals.size(); ++i) {
      const std::vector<int64_t> at = l.StartsOf(WatchBlockId(i + 1));
      EXPECT_NEAR(static_cast<int>(at.size()), c.expectedStarts[i], 1) << "block " << i + 1;
      for (size_t k = 1; k < at.size(); ++k) ASSERT_GE(at[k] - at[k - 1], c.intervals[i]) << "burst at " << at[k];
    }
  }
  // A stall: the panel's transaction holds the link for 1050 ms; the block due at 0 is served after it, then every
  // 100 ms from there, and the missed periods are counted.
  Clocked l;
  ASSERT_TRUE(l.s.Add(1, 100, false, 0));
  l.s.RequestSend();
  l.sendMs = 1050;
  l.Run(1300);
  EXPECT_EQ(l.StartsOf(kSend), std::vector<int64_t>{0});
  EXPECT_EQ(l.StartsOf(1), (std::vector<int64_t>{1050, 1150, 1250}));
  EXPECT_EQ(std::make_pair(l.s.CountersOf(1)->skipped, l.s.CountersOf(1)->started), std::make_pair(10ul, 3ul));
}

// Runs steps separated by ';' on a scheduler: "add ID [paused] [@T]", "remove ID", "pause ID @T", "resume ID @T",
// "interval ID MS", "move ID POS", "send", "start ID @T", "finish|timeout|exception|refused ID @T" (a step ending in
// "!" must be refused), and the checks "next @T = ID", "wake @T = T" ("-": nothing), "due @T = ID,..." and "order =
// ID,...".
void RunScript(const std::string& script) {
  WatchScheduler s;
  std::istringstream steps(script);
  for (std::string step; std::getline(steps, step, ';');) {
    std::istringstream in(step);
    std::string op, token, expected;  // an action's "!" or a check's value
    int64_t args[2] = {0, 0}, t = 0;
    bool paused = false;
    in >> op;
    for (size_t n = 0; in >> token;) {
      if (token == "!") expected = "!";
      if (token == "=") in >> expected;
      if (token[0] == '@') t = std::stoll(token.substr(1));
      if (std::isdigit(static_cast<unsigned char>(token[0])) && n < 2) args[n++] = std::stoll(token);
      paused = paused || token == "paused";
    }
    const auto id = static_cast<WatchBlockId>(args[0]);
    const auto done = [](bool accepted) { return std::string(accepted ? "" : "!"); };
    const auto shown = [](std::optional<int64_t> v) { return v ? std::to_string(*v) : std::string("-"); };
    const auto list = [](const std::vector<WatchBlockId>& ids) {
      std::string text;
      for (WatchBlockId i : ids) text += (text.empty() ? "" : ",") + std::to_string(i);
      return text;
    };
    const std::map<std::string, std::function<std::string()>> ops = {
        {"add", [&] { return done(s.Add(id, 100, paused, t)); }},
        {"remove", [&] { return done(s.Remove(id)); }},
        {"pause", [&] { return done(s.SetPaused(id, true, t)); }},
        {"resume", [&] { return done(s.SetPaused(id, false, t)); }},
        {"interval", [&] { return done(s.SetInterval(id, static_cast<uint32_t>(args[1]))); }},
        {"move", [&] { return done(s.Move(id, static_cast<size_t>(args[1]))); }},
        {"send", [&] { return s.RequestSend(), done(true); }},
        {"start", [&] { return done(s.Started(id, t)); }},
        {"finish", [&] { return done(s.Finished(id, t, WatchOutcome::Good)); }},
        {"timeout", [&] { return done(s.Finished(id, t, WatchOutcome::Timeout)); }},
        {"exception", [&] { return done(s.Finished(id, t, WatchOutcome::Exception)); }},
        {"refused", [&] { return done(s.Finished(id, t, WatchOutcome::ConnectionError)); }},
        {"next", [&] { return shown(s.Next(t)); }},
        {"wake", [&] { return shown(s.NextWakeUp(t)); }},
        {"due", [&] { return list(s.Due(t)); }},
        {"order", [&] { return list(s.Order()); }},
    };
    EXPECT_EQ(ops.count(op) ? ops.at(op)() : "unknown step", expected) << step;
  }
}

TEST(WatchScheduler, OneTransactionAtATimeAndChangesWhileInFlight) {
  const std::pair<const char*, const char*> cases[] = {
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
      {"time-outs and refused links double the wait from their end; an answer, even an exception, ends it",
       "add 1; start 1 @0; timeout 1 @1000; wake @1000 = 1100; start 1 @1100; timeout 1 @2100; wake @2100 = 2300;"
       "start 1 @2300; timeout 1 @3300; wake @3300 = 3700; start 1 @3700; finish 1 @3705; wake @3705 = 3800;"
       "start 1 @3800; timeout 1 @4800; start 1 @4900; exception 1 @4950; wake @4950 = 5000; start 1 @5000;"
       "refused 1 @5001; start 1 @5101; refused 1 @5102; wake @5102 = 5302"},
      {"added paused, duplicate and reserved ids refused",
       "add 1 paused; next @0 = -; wake @0 = -; add 1 !; add 0 !; start 9 @0 !; resume 1 @40; wake @10 = 40;"
       "wake @90 = 90"},
  };
  for (const auto& [name, script] : cases) {
    SCOPED_TRACE(name);
    RunScript(script);
  }
}

constexpr uint8_t kDeadSlave = 9;      // never answers
constexpr uint8_t kRefusingSlave = 5;  // answers every read with exception 2

// A runner on a session over a fake TCP socket, and a slave that answers the request on the wire `delayMs` after
// it was sent. Every request sent while another is unanswered counts as an overlap.
struct Rig : rig::Link {
  explicit Rig(int timeoutMs = 300) : rig::Link(modbus::Mode::Tcp, timeoutMs) {}
  std::vector<engine::EventKind> forwarded;
  std::unique_ptr<engine::WatchRunner> runner = std::make_unique<engine::WatchRunner>(
      *session, clock, clock->CreateTimer(), [] { return modbus::Mode::Tcp; },
      [this](const engine::Event& e) { forwarded.push_back(e.kind); });
  size_t seen = 0;
  bool pending = false, autoAccept = true;
  int64_t sentAt = 0, delayMs = 5;
  int overlaps = 0;

  void Run(int64_t ms) {
    for (int64_t t = 0; t < ms; ++t) {
      // The slave takes every connection (the session closes the link after a time-out).
      if (autoAccept && socket->state == platform::TcpSocket::kConnecting) socket->AcceptConnect();
      for (; seen < socket->sent.size(); ++seen, pending = true, sentAt = clock->MonotonicMs()) overlaps += pending;
      if (pending && clock->MonotonicMs() - sentAt >= delayMs) {
        pending = false;
        const uint8_t unit = socket->sent.back().at(6);
        if (unit != kDeadSlave) socket->Deliver(rig::TcpAnswer(socket->sent.back(), unit == kRefusingSlave ? 2 : 0));
      }
      clock->Advance(1);
    }
  }
  uint64_t Started(WatchBlockId id) const { return runner->Scheduler().CountersOf(id)->started; }
  const engine::WatchBlock& Block(WatchBlockId id) const { return *runner->Model().Find(id); }
};

TEST(WatchRunner, NothingGoesOutWhileStoppedOrPaused) {
  Rig rig;
  const auto a = rig.runner->Add(Block(3, 0, 1, 0, 1, 100)), paused = rig.runner->Add(Block(4, 0, 1, 0, 1, 100));
  rig.runner->SetPaused(paused, true);
  rig.socket->AcceptConnect();
  rig.Run(500);
  EXPECT_TRUE(rig.socket->sent.empty());
  rig.runner->Start();
  rig.Run(1000);
  EXPECT_GE(rig.Started(a), 9u);
  EXPECT_EQ(rig.Started(paused), 0u);
  EXPECT_TRUE(rig.Block(paused).values[0].stale);
  rig.runner->Stop();
  const size_t before = rig.socket->sent.size();
  rig.Run(1000);
  EXPECT_EQ(rig.socket->sent.size(), before);
}

TEST(WatchRunner, FailuresMarkTheBlockStaleAndKeepTheOthersGoing) {
  for (const auto& [slave, outcome] : std::vector<std::pair<uint8_t, WatchOutcome>>{
           {kDeadSlave, WatchOutcome::Timeout}, {kRefusingSlave, WatchOutcome::Exception}}) {
    SCOPED_TRACE(static_cast<int>(slave));
    Rig rig(300);
    const auto good = rig.runner->Add(Block(3, 0, 2, 0, 1, 100)), bad = rig.runner->Add(Block(3, 0, 2, 0, slave, 100));
    rig.runner->Start();
    rig.socket->AcceptConnect();
    rig.Run(5000);
    EXPECT_EQ(rig.Block(bad).state.outcome, outcome);
    EXPECT_EQ(Shown(rig.Block(bad)), "0=? 1=?");
    EXPECT_FALSE(rig.Block(good).values[0].stale);
    // A dead slave costs time-outs but the good block still gets most of its turns.
    EXPECT_GE(rig.Started(good), outcome == WatchOutcome::Timeout ? 30u : 48u);
    EXPECT_EQ(rig.overlaps + rig.runner->Overlaps(), 0u);
    EXPECT_GE(std::count(rig.forwarded.begin(), rig.forwarded.end(), engine::EventKind::AnswerComplete), 30);
    const auto& stats = rig.session->Stats();
    EXPECT_GE(outcome == WatchOutcome::Timeout ? stats.timeouts : stats.exceptions / 40, 1u);
  }
}

TEST(WatchRunner, ALinkThatFailsEndsTheReadAndTheListCarriesOnWhenItIsBack) {
  Rig rig;
  rig.autoAccept = false;
  const auto id = rig.runner->Add(Block(3, 0, 1, 0, 1, 100));
  rig.runner->Start();
  rig.Run(2);
  ASSERT_EQ(rig.socket->connects.size(), 1u);
  rig.socket->RaiseError(10061, "Connection refused");
  rig.Run(2);
  EXPECT_EQ(rig.Block(id).state.outcome, WatchOutcome::ConnectionError);
  EXPECT_FALSE(rig.runner->Scheduler().InFlight().has_value());
  rig.Run(150);
  ASSERT_GE(rig.socket->connects.size(), 2u);
  rig.socket->AcceptConnect();
  rig.Run(300);
  EXPECT_EQ(rig.Block(id).state.outcome, WatchOutcome::Good);
}

TEST(WatchRunner, AnAnswerToAReadBeforeAnEditIsNotShownAsTheNewRegisters) {
  Rig rig;
  rig.delayMs = 50;
  const auto id = rig.runner->Add(Block(3, 0, 2, 0, 1, 1000));
  rig.runner->Start();
  rig.socket->AcceptConnect();
  rig.Run(10);  // the read of 0..1 is out
  rig.runner->Edit(id, Block(3, 100, 2, 0, 1, 1000));
  rig.Run(60);
  EXPECT_EQ(Shown(rig.Block(id)), "100=? 101=?");
  rig.Run(1000);
  EXPECT_EQ(Shown(rig.Block(id)), "100=100 101=101");
}

TEST(WatchRunner, OnlyTheBytesTheByteCountAnnouncesAreData) {
  // Three registers read, two announced and sent, the CRC good: the CRC is not the third register.
  rig::Link link(modbus::Mode::RtuOverTcp, 300);
  engine::WatchRunner runner(*link.session, link.clock, link.clock->CreateTimer(),
                             [] { return modbus::Mode::RtuOverTcp; }, {});
  const auto id = runner.Add(Block(3, 0, 3));
  runner.Start();
  link.clock->Advance(2);
  link.socket->AcceptConnect();
  link.socket->Deliver(testbytes::WithCrc({1, 3, 4, 0, 7, 0, 8}));
  EXPECT_EQ(std::make_pair(runner.Model().Find(id)->state.outcome, Shown(*runner.Model().Find(id))),
            std::make_pair(std::optional(WatchOutcome::ProtocolError), std::string("0=? 1=? 2=?")));
}

TEST(WatchRunner, ARunnerGoneBeforeItsSessionOrALinkEndedByTheOperatorHoldsNothing) {
  Rig gone;
  gone.runner->Add(Block(3, 0, 1, 0, 1, 100));
  gone.runner->Start();
  gone.socket->AcceptConnect();
  gone.Run(3);
  gone.runner.reset();
  gone.Run(1000);  // the answer and the session's events reach no runner
  EXPECT_LE(gone.socket->sent.size(), 1u);

  Rig ended;
  ended.delayMs = 100000;  // the answer never comes in time
  const auto id = ended.runner->Add(Block(3, 0, 1, 0, 1, 100));
  ended.runner->Start();
  ended.Run(5);
  ASSERT_TRUE(ended.runner->Scheduler().InFlight().has_value());
  ended.session->EndTransaction();  // reports nothing
  ended.Run(360);
  EXPECT_EQ(ended.Block(id).state.outcome, WatchOutcome::ConnectionError);
  EXPECT_GE(ended.Started(id), 2u);
}

}  // namespace
