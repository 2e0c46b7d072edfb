// Session statistics: how a scripted series of transactions is counted, the
// response times of the good answers, the status-bar line, and the resets.
#include "transaction_rig.h"

namespace {

using namespace txrig;

// A read of one register with transaction id `id`, and its answers.
Frame Read(uint8_t id) { return {0, id, 0, 0, 0, 6, 1, 3, 0, 0, 0, 1}; }
Frame Good(uint8_t id) { return {0, id, 0, 0, 0, 5, 1, 3, 2, 0, 7}; }
Frame Excepted(uint8_t id) { return {0, id, 0, 0, 0, 3, 1, 0x83, 2}; }

TEST(SessionStats, ScriptedSessionOverTcp) {
  Rig r(kTcp);
  int notices = 0;
  r.f.onStatsChanged = [&notices] { ++notices; };
  r.Connect();
  // Each step: send, let `ms` pass, then the slave's answer (none: time-out).
  struct Step {
    int ms;
    Frame answer;
  };
  const Step steps[] = {
      {3, Good(1)},
      {9, Good(2)},
      {5, {0, 9, 0, 0, 0, 5, 1, 3, 2, 0, 7}},  // wrong transaction id
      {4, Excepted(4)},
      {6, {0, 9, 0, 0, 0, 3, 1, 0x83, 2}},  // an exception with a wrong id: a protocol error
      {1000, {}},                           // no answer: time-out
  };
  uint8_t id = 0;
  for (const Step& step : steps) {
    if (r.fp.socket->state != platform::TcpSocket::kConnected) r.Connect();
    r.Send(Read(++id));
    r.fp.clock->Advance(step.ms);
    if (!step.answer.empty()) r.fp.socket->Deliver(step.answer);
  }
  r.Connect();
  r.Send(Read(++id));
  r.fp.clock->Advance(2);
  r.fp.socket->Deliver(Good(id));
  EXPECT_EQ(r.f.lblDT.Caption(), "2 ms");
  // A socket error event is a connection error.
  r.fp.socket->RaiseError(10054, "Connection reset by peer");

  const SessionStats& s = r.f.Stats;
  EXPECT_EQ(s.sent, 7u);
  EXPECT_EQ(s.answers, 3u);
  EXPECT_EQ(s.protocolErrors, 2u);
  EXPECT_EQ(s.exceptions, 1u);
  EXPECT_EQ(s.timeouts, 1u);
  EXPECT_EQ(s.connectionErrors, 1u);
  EXPECT_EQ(s.lastMs, 2);
  EXPECT_EQ(s.minMs, 2);
  EXPECT_EQ(s.maxMs, 9);
  EXPECT_EQ(s.totalMs, 14);
  r.fp.locale->separator = ",";
  EXPECT_EQ(r.f.StatsText(),
            "Sent 7 \u00B7 OK 3 \u00B7 Protocol errors 2 \u00B7 Exceptions 1 \u00B7 Time-outs 1 \u00B7 "
            "Connection errors 1 \u00B7 Response ms last 2 min 2 avg 4,7 max 9");
  // One notice per counted event.
  EXPECT_EQ(notices, 7 + 3 + 2 + 1 + 1 + 1);
}

TEST(SessionStats, ConnectionErrorsOfBothTransports) {
  Rig r(kRtu);
  r.TypeHex("01 03 00 00 00 01 84 0A");
  r.UsePorts({});
  r.f.cmdSend_Click();  // "COM ports not found"
  r.UsePorts({"COM1", "COM2"});
  r.f.cmbRtuPort.SetListIndex(-1);
  r.f.cmdSend_Click();  // "COM port not selected"
  r.f.cmbRtuPort.SetListIndex(0);
  r.fp.serial->failOpenWith = "No such file or directory";
  r.f.cmdSend_Click();  // "Failed to open COM1: ..."
  EXPECT_EQ(r.f.Stats.connectionErrors, 3u);
  EXPECT_EQ(r.f.Stats.sent, 0u);

  Rig t(kTcp);
  t.TypeHex("00 01 00 00 00 06 01 03 00 00 00 01");
  t.f.cmdSend_Click();
  t.fp.clock->Advance(1000);  // "Connect timeout"
  EXPECT_EQ(t.f.Stats.connectionErrors, 1u);
  EXPECT_EQ(t.f.Stats.timeouts, 0u);
  EXPECT_EQ(t.f.StatsText(),
            "Sent 0 \u00B7 OK 0 \u00B7 Protocol errors 0 \u00B7 Exceptions 0 \u00B7 Time-outs 0 \u00B7 "
            "Connection errors 1 \u00B7 Response ms \u2014");
}

TEST(SessionStats, ResetByHandAndByAChangeOfMode) {
  Rig r(kTcp);
  r.f.cmbMode.SetListIndex(1);
  r.Connect();
  r.Send(Read(1));
  r.fp.socket->Deliver(Good(1));
  int notices = 0;
  r.f.onStatsChanged = [&notices] { ++notices; };

  r.f.cmbMode.SetListIndex(1);  // no change: kept
  EXPECT_EQ(r.f.Stats.sent, 1u);
  r.f.cmbMode.SetListIndex(2);  // TCP to RTU-OVER-TCP
  EXPECT_EQ(r.f.Stats.sent, 0u);
  EXPECT_EQ(r.f.Stats.answers, 0u);
  EXPECT_EQ(notices, 1);

  r.f.Stats.timeouts = 4;
  r.f.ResetStats();
  EXPECT_EQ(r.f.Stats.timeouts, 0u);
  EXPECT_EQ(notices, 2);
}

TEST(SessionStats, MeanIsRoundedToOneDecimal) {
  struct Case {
    std::vector<int64_t> ms;
    std::string tail;
  };
  const Case cases[] = {
      {{5}, "last 5 min 5 avg 5.0 max 5"},
      {{1, 2}, "last 2 min 1 avg 1.5 max 2"},
      {{0, 0, 1}, "last 1 min 0 avg 0.3 max 1"},
      {{1, 1, 2, 2, 2, 2}, "last 2 min 1 avg 1.7 max 2"},  // 1.666..
      {{10, -3, 20}, "last 20 min 0 avg 10.0 max 20"},     // a negative time counts as 0
  };
  for (const Case& c : cases) {
    SessionStats s;
    for (int64_t ms : c.ms) s.CountAnswer(ms);
    const std::string text = FormatSessionStats(s, "");
    EXPECT_EQ(text.substr(text.find("last")), c.tail);
  }
}

}  // namespace
