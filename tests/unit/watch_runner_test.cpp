// The watch list run over a session on the fakes: a scripted slave on a fake
// socket answers each read, time moves only as the test advances the clock.
#include "engine/watch_runner.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/session.h"
#include "fakes/fake_platform.h"
#include "modbus/requests.h"

namespace {

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

TEST(WatchRunner, ThePanelsSendGoesNextAfterTheReadInFlight) {
  Rig rig;
  for (int i = 0; i < 4; ++i) rig.runner->Add(rig.Block(1, 3, static_cast<uint16_t>(i * 10), 2, 100));
  std::vector<engine::EventKind> panelEvents;
  const auto panel = rig.session->AddRequester([&](const engine::Event& e) { panelEvents.push_back(e.kind); });
  rig.runner->Start();
  rig.socket->AcceptConnect();
  rig.delayMs = 40;
  rig.Run(1003);  // a read is in flight now
  ASSERT_TRUE(rig.session->AwaitingResponse());
  const size_t before = rig.socket->sent.size();
  rig.session->Submit(panel, {modbus::ReadRequest(modbus::Mode::Tcp, 1, 3, 500, 1, 0x7777)});
  rig.session->SendNow(panel);
  EXPECT_EQ(rig.socket->sent.size(), before);  // never two in flight
  rig.Run(100);
  ASSERT_GT(rig.socket->sent.size(), before + 1);
  EXPECT_EQ(rig.socket->sent[before].at(0), 0x77);
  EXPECT_EQ(std::count(panelEvents.begin(), panelEvents.end(), engine::EventKind::AnswerComplete), 1);
  EXPECT_EQ(rig.overlaps, 0);
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

}  // namespace

namespace {

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
