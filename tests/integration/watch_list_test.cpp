// The watch list on the panel over real links for 10 s: three blocks in three formats against the
// libmodbus slave (the panel's own Send among them), and one block against the fault peer, whose
// answers cycle through good, exception and none. Over TCP and over RTU on pseudo-terminal pairs.
#include <cmath>

#include "panel_rig.h"

namespace {

using namespace rig;
using engine::WatchOutcome;

constexpr int kRunMs = 10'000;

// Holding registers 110-111 as INT16, 100-101 as FLOAT_ABCD, input registers 5-7 as UINT16: the
// numbers of a good read and the text of the first value.
const struct {
  engine::WatchBlockConfig config;
  std::vector<double> want;
  std::string firstText;
} kSlaveBlocks[] = {
    {{1, 3, 110, 2, 0, 100, false}, {-32768, -1}, "-32768"},
    {{1, 3, 100, 2, 2, 250, false}, {1.0}, "1"},
    {{1, 4, 5, 3, 1, 500, false}, {1005, 1006, 1007}, "1005"},
};
// Holding register 3 as UINT16 from the fault peer (its good answer is all zeros).
const engine::WatchBlockConfig kFaultBlock{1, 3, 3, 1, 1, 200, false};
// Good, exception 2, no answer; repeated for longer than the run.
std::string FaultScript(bool rtu) {
  std::string s;
  for (int i = 0; i < 200; ++i)
    s += rtu ? "echo\nreply UID EFC 02 CRC\ndrop\n" : "echo\nreply TID 00 00 LEN UID EFC 02\ndrop\n";
  return s;
}

// Counts each block's outcomes, and checks on every event-loop turn that no value of a block whose
// last read failed shows as fresh.
struct Watcher {
  explicit Watcher(frmMain& f) : f(f) {
    f.Watch().onFinished = [this](engine::WatchBlockId id) {
      const engine::WatchBlock* b = this->f.Watch().Model().Find(id);
      if (b != nullptr && b->state.outcome) ++outcomes[id][*b->state.outcome];
    };
  }
  ~Watcher() { f.Watch().onFinished = nullptr; }
  void Check() {
    for (const engine::WatchBlock& b : f.Watch().Model().Blocks())
      for (const engine::WatchValue& v : b.values)
        freshAfterFailure += b.state.outcome != WatchOutcome::Good && !v.stale;
  }
  frmMain& f;
  std::map<engine::WatchBlockId, std::map<WatchOutcome, int>> outcomes;
  int freshAfterFailure = 0;
};

// Runs both panels' watch lists for kRunMs; halfway the slave panel's own Send reads holding
// register 9 and must be answered while the blocks go on.
void RunAndCheck(Panel& slave, Panel& fault) {
  fault.f().HideWatchGoodInLog = true;
  fault.Mark();
  std::vector<engine::WatchBlockId> ids;
  for (const auto& b : kSlaveBlocks) ids.push_back(slave.f().Watch().Add(b.config));
  const engine::WatchBlockId faultId = fault.f().Watch().Add(kFaultBlock);
  ASSERT_TRUE(std::count(ids.begin(), ids.end(), 0) == 0 && faultId != 0);
  Watcher ws(slave.f()), wf(fault.f());
  const auto check = [&] { return ws.Check(), wf.Check(), false; };
  RunUntil(check, kRunMs / 2);
  slave.SetRequest(3, "9", "1");
  slave.f().cmdSend_Click();
  EXPECT_TRUE(RunUntil([&] { return check() || !slave.f().AwaitingResponse; }, 1000));
  EXPECT_EQ(slave.f().txtResponse.Text(), "HR 00009: 9");
  RunUntil(check, kRunMs / 2);
  slave.f().Watch().Stop();
  fault.f().Watch().Stop();

  int good = 1;  // the panel's one Send
  for (size_t i = 0; i < ids.size(); ++i) {
    const auto& want = kSlaveBlocks[i];
    SCOPED_TRACE(i);
    const int due = kRunMs / static_cast<int>(want.config.intervalMs), reads = ws.outcomes[ids[i]][WatchOutcome::Good];
    EXPECT_PRED3(Within, reads, due * 7 / 10, due + 2);
    EXPECT_EQ(ws.outcomes[ids[i]].size(), 1u) << "only good reads from the slave";
    good += reads;
    const engine::WatchBlock* b = slave.f().Watch().Model().Find(ids[i]);
    ASSERT_NE(b, nullptr);
    std::vector<double> numbers;
    for (const engine::WatchValue& v : b->values) numbers.push_back(v.stale ? NAN : v.number);
    EXPECT_EQ(numbers, want.want);
    EXPECT_EQ(b->values.at(0).text, want.firstText);
  }
  EXPECT_EQ(std::tuple(slave.f().Watch().Overlaps(), ws.freshAfterFailure), std::tuple(0u, 0));
  // Every read counted once in the session's statistics.
  EXPECT_EQ(slave.f().Stats.answers, static_cast<uint64_t>(good));

  // The fault peer: each of good, exception and time-out many times, a failed read stale.
  std::map<WatchOutcome, int>& seen = wf.outcomes[faultId];
  for (WatchOutcome o : {WatchOutcome::Good, WatchOutcome::Exception, WatchOutcome::Timeout})
    EXPECT_GE(seen[o], 4) << static_cast<int>(o);
  EXPECT_EQ(std::tuple(fault.f().Watch().Overlaps(), wf.freshAfterFailure), std::tuple(0u, 0));
  EXPECT_EQ(fault.f().Stats.exceptions, static_cast<uint64_t>(seen[WatchOutcome::Exception]));
  EXPECT_EQ(fault.f().Stats.timeouts, static_cast<uint64_t>(seen[WatchOutcome::Timeout]));
  // Faults stay in the log with the good reads hidden.
  EXPECT_EQ(fault.CountPrefix("Modbus Exception"), seen[WatchOutcome::Exception]);
  EXPECT_EQ(fault.CountPrefix("Request"), seen[WatchOutcome::Exception] + seen[WatchOutcome::Timeout]);
}

TEST(WatchListTest, BlocksOverTcpWithThePanelsSendAndAFaultyPeer) {
  Peer slavePeer, faultPeer;
  const int slavePort = slavePeer.TcpSlave(), faultPort = faultPeer.FaultPeer(FaultScript(false));
  ASSERT_TRUE(slavePort > 0 && faultPort > 0);
  Panel slave, fault;
  slave.UseSocket(kTcp, slavePort, "1000");
  fault.UseSocket(kTcp, faultPort, "300");
  ASSERT_TRUE(slave.ConnectNow());
  RunAndCheck(slave, fault);
}

TEST(WatchListTest, BlocksOverRtuWithThePanelsSendAndAFaultyPeer) {
  vesk::test::PtyPair slaveLine, faultLine;
  Peer slavePeer, faultPeer;
  ASSERT_TRUE(slaveLine.Open() && faultLine.Open() && slavePeer.Slave({"--rtu", slaveLine.B()}));
  ASSERT_TRUE(faultPeer.FaultDevice(faultLine.B(), FaultScript(true)));
  Panel slave, fault;
  slave.UseSerial(slaveLine.A(), "1000");
  fault.UseSerial(faultLine.A(), "300");
  RunAndCheck(slave, fault);
}

}  // namespace
