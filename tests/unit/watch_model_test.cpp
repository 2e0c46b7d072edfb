// The watch list's blocks: range checks, decoding of answers in every kind of
// format, and stale marking after failures and edits.
#include "engine/watch_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "engine/plot_series.h"

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

}  // namespace

// ---- the live plot's series ----

namespace {

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

}  // namespace
