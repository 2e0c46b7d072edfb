// Polling at the shortest interval the panel allows (100 ms) against the
// libmodbus slave: one request per tick, each answered before the next goes
// out. Checked from both sides: the panel's rows alternate request and
// response with consecutive transaction ids, and the slave's request log,
// watched while it grows, never runs more than one request ahead of the
// answers the panel has taken in.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "panel_rig.h"

namespace {

using rig::Adu;
using rig::kTcp;
using rig::Req;
using rig::Rsp;

// Reads the lines a peer appends to its request log, as they arrive.
class LogFollower {
 public:
  explicit LogFollower(std::string path) : path_(std::move(path)) {}
  // The complete lines written since the last call.
  std::vector<std::string> NewLines() {
    std::vector<std::string> out;
    std::ifstream in(path_, std::ios::binary);
    if (!in) return out;
    in.seekg(static_cast<std::streamoff>(offset_));
    std::string chunk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t pos = 0;
    for (size_t end; (end = chunk.find('\n', pos)) != std::string::npos; pos = end + 1)
      out.push_back(chunk.substr(pos, end - pos));
    offset_ += pos;  // a line still being written is read next time
    return out;
  }

 private:
  std::string path_;
  size_t offset_ = 0;
};

// Counts the request and response entries the panel logs, reading its
// structured log entries incrementally.
class RowCounter {
 public:
  explicit RowCounter(const frmMain& f) : f_(f) {
    if (!f.LogRecords().empty()) seen_ = f.LogRecords().back().start;
  }
  void Update() {
    const auto& records = f_.LogRecords();
    auto it = records.end();
    while (it != records.begin() && std::prev(it)->start > seen_) --it;
    for (; it != records.end(); ++it) {
      requests += it->kind == LogRecord::Kind::Request ? 1 : 0;
      responses += it->kind == LogRecord::Kind::Response ? 1 : 0;
      seen_ = it->start;
    }
  }
  int requests = 0;
  int responses = 0;

 private:
  const frmMain& f_;
  size_t seen_ = 0;
};

TEST(FastPollingTest, PollingEvery100MsSendsOneRequestPerTickAndNeverTwoInFlight) {
  rig::Peer slave;
  // A short delay keeps every request on the slave for a while, so that a
  // second request sent before the first answer would be seen in its log.
  const int port = slave.StartTcpSlave({"--delay-ms", "20"});
  ASSERT_GT(port, 0);
  rig::Panel p;
  p.UseSocket(kTcp, port, "1000");
  p.SetRequest(4, "5", "2", 1);  // IR 5..6, UINT16
  p.f().txtPollInterval.SetText("100");
  p.Mark();

  LogFollower slaveLog(slave.LogPath());
  RowCounter counter(p.f());
  std::vector<std::string> slaveLines;
  std::vector<long long> slaveSeenAt;  // when each line was first seen, ms since polling began
  int worstAhead = 0;                  // slave requests beyond the answers taken in, at the worst moment
  int worstInFlight = 0;               // panel requests beyond its answers, at the worst moment
  QElapsedTimer clock;
  const auto observe = [&] {
    // The slave's log first, then the panel: the panel cannot change in
    // between, so the comparison holds for the moment the log was read.
    for (std::string& line : slaveLog.NewLines()) {
      slaveLines.push_back(std::move(line));
      slaveSeenAt.push_back(clock.elapsed());
    }
    counter.Update();
    worstAhead = std::max(worstAhead, static_cast<int>(slaveLines.size()) - counter.responses);
    worstInFlight = std::max(worstInFlight, counter.requests - counter.responses);
  };

  clock.start();
  p.f().cmdAuto1_MouseDown();
  EXPECT_EQ(p.f().tmrAuto.Interval(), 100);
  testutil::RunUntil(
      [&] {
        observe();
        return clock.elapsed() >= 10000;
      },
      11000);
  p.f().cmdAuto0_MouseDown();
  EXPECT_FALSE(p.f().tmrAuto.Enabled());
  // The poll in flight ends; then the slave's log holds every request.
  ASSERT_TRUE(testutil::RunUntil(
      [&] {
        observe();
        return p.Idle() && static_cast<int>(slaveLines.size()) == counter.requests;
      },
      3000))
      << "panel requests " << counter.requests << ", slave requests " << slaveLines.size();

  const int n = static_cast<int>(slaveLines.size());
  EXPECT_GE(n, 85);
  EXPECT_LE(n, 105);
  EXPECT_LE(worstAhead, 1) << "the slave received a request before the panel had the previous answer";
  EXPECT_LE(worstInFlight, 1);

  // The panel's rows: connected once, then request and answer by turns.
  const Frame request = {1, 4, 0, 5, 0, 2};
  const Frame answer = {1, 4, 4, 0x03, 0xED, 0x03, 0xEE};
  std::vector<std::string> expected = {"", "Connect to 127.0.0.1:" + std::to_string(port) + "...", "Connected"};
  std::vector<std::string> expectedSlave;
  for (int tid = 1; tid <= n; ++tid) {
    expected.push_back(Req(Adu(kTcp, tid, request)));
    expected.push_back(Rsp(Adu(kTcp, tid, answer)));
    expectedSlave.push_back("REQ " + rig::Hex(Adu(kTcp, tid, request)));
  }
  EXPECT_EQ(p.Rows(), expected);
  EXPECT_EQ(slaveLines, expectedSlave);
  EXPECT_EQ(p.f().txtResponse.Text(), "IR 00005: 1005\r\nIR 00006: 1006");

  const SessionStats& stats = p.f().Stats;
  EXPECT_EQ(stats.sent, static_cast<uint64_t>(n));
  EXPECT_EQ(stats.answers, static_cast<uint64_t>(n));
  EXPECT_EQ(stats.timeouts, 0u);
  EXPECT_EQ(stats.protocolErrors, 0u);
  EXPECT_EQ(stats.connectionErrors, 0u);

  // Time stamps: every request after the previous answer; one tick apart on
  // the whole, as the panel and as the slave saw them.
  std::vector<long> sent, answered;
  for (const auto& [row, ms] : p.StampedRows()) {
    if (row.rfind("Request", 0) == 0) sent.push_back(ms);
    if (row.rfind("Response", 0) == 0) answered.push_back(ms);
  }
  ASSERT_EQ(sent.size(), static_cast<size_t>(n));
  ASSERT_EQ(answered.size(), static_cast<size_t>(n));
  constexpr long kDay = 86400000;
  const auto since = [&](long later, long earlier) { return (later - earlier + kDay) % kDay; };
  for (int i = 1; i < n; ++i) {
    EXPECT_LT(since(sent[i], answered[i - 1]), 1000) << "request " << i + 1 << " was sent before answer " << i;
  }
  const double meanGap = static_cast<double>(since(sent.back(), sent.front())) / (n - 1);
  EXPECT_GE(meanGap, 90.0);
  EXPECT_LE(meanGap, 125.0);
  std::vector<long long> slaveGaps;
  for (size_t i = 1; i < slaveSeenAt.size(); ++i) slaveGaps.push_back(slaveSeenAt[i] - slaveSeenAt[i - 1]);
  ASSERT_FALSE(slaveGaps.empty());
  std::nth_element(slaveGaps.begin(), slaveGaps.begin() + static_cast<long>(slaveGaps.size() / 2), slaveGaps.end());
  const long long medianGap = slaveGaps[slaveGaps.size() / 2];
  EXPECT_GE(medianGap, 75) << "the slave's requests came in bursts";
  EXPECT_LE(medianGap, 130);
}

}  // namespace
