// The engine on its own, on the fakes: sessions on separate links in one process, one session serving requesters in
// turn (also when one submits from inside its answer), failed connects counted once, a stream ended at the bound.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "modbus/requests.h"
#include "modbus/response.h"
#include "panel_rig.h"

namespace {

using engine::Event;
using engine::EventKind;
using modbus::Mode;
using testbytes::WithCrc;

// A link whose requesters record "connected", "sent <low byte of the count read>", "answer <bytes>[ <last
// fault>][ exception]" and "timeout <bytes received>"; a send while a request of the link is awaited is an overlap.
struct Link : rig::Link {
  using rig::Link::Link;
  int outstanding = 0, overlaps = 0;
  engine::RequesterId Requester(std::vector<std::string>& log) {
    return session->AddRequester([this, &log](const Event& e) {
      if (e.kind == EventKind::RequestSent) overlaps += outstanding++ != 0;
      if (e.kind == EventKind::AnswerComplete || e.kind == EventKind::RequestTimeout) --outstanding;
      if (e.kind == EventKind::Connected) log.push_back("connected");
      if (e.kind == EventKind::RequestSent)
        log.push_back("sent " + std::to_string(e.frame.at(e.frame.size() == 12 ? 11 : 5)));
      if (e.kind == EventKind::RequestTimeout) log.push_back("timeout " + std::to_string(e.received.size()));
      if (e.kind == EventKind::AnswerComplete)
        log.push_back("answer " + std::to_string(e.frame.size()) +
                      (e.faults.empty() ? "" : " " + e.faults.back().message) + (e.exception ? " exception" : ""));
    });
  }
};

Frame Read(Mode mode, int32_t count, int32_t id = 0) { return modbus::ReadRequest(mode, 1, 3, 0, count, id); }
using Log = std::vector<std::string>;

TEST(EngineSessions, TwoLinksInOneProcessKeepTheirAnswersTimeOutsAndStatisticsApart) {
  auto clock = std::make_shared<fakes::FakeClock>();
  Link tcp(Mode::Tcp, 500, clock), rtu(Mode::RtuOverTcp, 800, clock);
  Log tcpLog, rtuLog;
  const auto a = tcp.Requester(tcpLog), b = rtu.Requester(rtuLog);
  tcp.session->Submit(a, {Read(Mode::Tcp, 1, 1), Read(Mode::Tcp, 2, 2)});
  rtu.session->Submit(b, {Read(Mode::RtuOverTcp, 3), Read(Mode::RtuOverTcp, 4)});
  EXPECT_EQ(tcp.socket->connects.size() + rtu.socket->connects.size(), 2u);
  rtu.socket->AcceptConnect();
  tcp.socket->AcceptConnect();
  // Answers interleaved: the RTU-over-TCP link answers first, in two chunks around the TCP answer.
  const Frame rtuAnswer = WithCrc({1, 3, 6, 0, 1, 0, 2, 0, 3});
  rtu.socket->Deliver(Frame(rtuAnswer.begin(), rtuAnswer.begin() + 4));
  clock->Advance(100);
  tcp.socket->Deliver({0, 1, 0, 0, 0, 5, 1, 3, 2, 0, 7});
  rtu.socket->Deliver(Frame(rtuAnswer.begin() + 4, rtuAnswer.end()));
  // The TCP link's second request gets no answer and times out at 100 + 500; the other link is not touched.
  rtu.socket->Deliver({1, 3});
  clock->Advance(499);
  EXPECT_TRUE(tcp.session->AwaitingResponse());
  clock->Advance(1);
  EXPECT_FALSE(tcp.session->AwaitingResponse());
  EXPECT_TRUE(rtu.session->AwaitingResponse());
  const Frame rest = WithCrc({1, 3, 8, 0, 0, 0, 0, 0, 0, 0, 0});
  rtu.socket->Deliver(Frame(rest.begin() + 2, rest.end()));
  EXPECT_EQ(tcpLog, (Log{"connected", "sent 1", "answer 11", "sent 2", "timeout 0"}));
  EXPECT_EQ(rtuLog, (Log{"connected", "sent 3", "answer 11", "sent 4", "answer 13"}));
  EXPECT_EQ(tcp.socket->sent, (std::vector<Frame>{Read(Mode::Tcp, 1, 1), Read(Mode::Tcp, 2, 2)}));
  EXPECT_EQ(rtu.socket->sent.size(), 2u);
  EXPECT_EQ(tcp.socket->state, platform::TcpSocket::kClosed);  // a time-out ends the connection
  EXPECT_EQ(rtu.socket->state, platform::TcpSocket::kConnected);
  const engine::SessionStats &s1 = tcp.session->Stats(), &s2 = rtu.session->Stats();
  EXPECT_EQ(std::tie(s1.sent, s1.answers, s1.timeouts, s1.lastMs), std::make_tuple(2u, 1u, 1u, 100));
  EXPECT_EQ(std::tie(s2.sent, s2.answers, s2.timeouts, s2.lastMs), std::make_tuple(2u, 2u, 0u, 500));
  EXPECT_EQ(tcp.overlaps + rtu.overlaps, 0);
}

TEST(EngineSessions, OneLinkServesTwoRequestersInTurnNeverTwoInFlight) {
  Link rtu(Mode::Rtu, 1000);
  Log first, second;
  const auto p = rtu.Requester(first), q = rtu.Requester(second);
  // Each answer is followed by the line's silence, 3.5 characters of 10 bits at 9600 baud (4 ms): nothing is
  // written within it. A frame taken in a later ms than the answer's waits one ms more (the clock counts whole ms).
  auto answer = [&](std::initializer_list<uint8_t> counts) {
    for (uint8_t n : counts) {
      const size_t written = rtu.serial->written.size();
      rtu.serial->Deliver(WithCrc({1, 3, 2, 0, n}));
      rtu.clock->Advance(3);
      EXPECT_EQ(rtu.serial->written.size(), written) << "within the silence after answer " << int(n);
      rtu.clock->Advance(2);
    }
  };
  // p's transaction of two frames, then q's one frame submitted while p's first is in flight.
  rtu.session->Submit(p, {Read(Mode::Rtu, 1), Read(Mode::Rtu, 2)});
  rtu.session->Submit(q, {Read(Mode::Rtu, 3)});
  ASSERT_EQ(rtu.serial->written.size(), 1u);
  answer({1, 2, 3});  // p's second frame goes next: a transaction's frames go back to back
  EXPECT_EQ(rtu.serial->written, (std::vector<Frame>{Read(Mode::Rtu, 1), Read(Mode::Rtu, 2), Read(Mode::Rtu, 3)}));
  // Turns: p's next transaction, submitted while its previous one runs, waits for q's.
  for (const auto& [who, n] : std::vector<std::pair<engine::RequesterId, int>>{{p, 7}, {q, 8}, {p, 9}})
    rtu.session->Submit(who, {Read(Mode::Rtu, n)});
  answer({7, 8, 9});
  EXPECT_EQ(first, (Log{"sent 1", "answer 7", "sent 2", "answer 7", "sent 7", "answer 7", "sent 9", "answer 7"}));
  EXPECT_EQ(second, (Log{"sent 3", "answer 7", "sent 8", "answer 7"}));
  // q asks to go next while p's request is in flight: it waits for p's answer, then goes before p's queued frame.
  rtu.session->Submit(p, {Read(Mode::Rtu, 4), Read(Mode::Rtu, 5)});
  rtu.session->Submit(q, {Read(Mode::Rtu, 6)});
  rtu.session->SendNow(q);
  EXPECT_EQ(rtu.serial->written.size(), 7u);
  answer({4});
  EXPECT_EQ(rtu.serial->written.back(), Read(Mode::Rtu, 6));
  // q's request times out: the link is closed and every waiting frame is dropped.
  rtu.clock->Advance(1000);
  EXPECT_EQ(second.back(), "timeout 0");
  EXPECT_TRUE(rtu.session->Queued(p).empty());
  EXPECT_FALSE(rtu.serial->IsOpen());
  EXPECT_EQ(rtu.overlaps, 0);
  EXPECT_EQ(rtu.session->Stats().sent, 8u);
}

// Requester A submits its next read from inside the report of its answer while B has one waiting: exactly one of
// them goes on the wire, the other after its answer.
TEST(EngineSessions, ASubmitFromInsideAnAnswerLeavesOneRequestInFlight) {
  Link tcp(Mode::Tcp, 500);
  engine::RequesterId a = 0;
  bool resubmitted = false;
  a = tcp.session->AddRequester([&](const Event& e) {
    if (e.kind == EventKind::AnswerComplete && !std::exchange(resubmitted, true))
      tcp.session->Submit(a, {Read(Mode::Tcp, 1, 2)});
  });
  const engine::RequesterId b = tcp.session->AddRequester([](const Event&) {});
  tcp.session->Submit(a, {Read(Mode::Tcp, 1, 1)});
  tcp.socket->AcceptConnect();
  tcp.session->Submit(b, {modbus::ReadRequest(Mode::Tcp, 1, 3, 9, 1, 3)});
  ASSERT_EQ(tcp.socket->sent.size(), 1u);
  tcp.socket->Deliver({0, 1, 0, 0, 0, 5, 1, 3, 2, 0, 7});
  ASSERT_EQ(tcp.socket->sent.size(), 2u) << "one request after the answer, not two";
  tcp.socket->Deliver({0, tcp.socket->sent[1].at(1), 0, 0, 0, 5, 1, 3, 2, 0, 7});
  EXPECT_EQ(tcp.socket->sent.size(), 3u);
  EXPECT_EQ(tcp.session->Stats().answers, 2u);
}

// A failed connect is one connection error however it ends: a refusal, the connect time-out after it, further
// errors of the same attempt. A new attempt, and an error on an established connection, count again.
TEST(EngineSessions, OneFailedConnectCountsOnceAcrossRefusalAndTimeOut) {
  const struct {
    int refusals;  // socket errors raised while the connect is pending
    bool timeOut;  // the connect time-out passes afterwards
  } cases[] = {{1, true}, {2, true}, {1, false}, {0, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.refusals) + (c.timeOut ? " and the time-out" : ""));
    Link tcp(Mode::Tcp, 1000);
    Log log;
    const auto p = tcp.Requester(log);
    int timeOuts = 0;
    tcp.session->AddRequester([&](const Event& e) { timeOuts += e.kind == EventKind::ConnectTimeout; });
    for (uint64_t attempt : {1u, 2u}) {
      tcp.session->Submit(p, {Read(Mode::Tcp, 1, static_cast<int32_t>(attempt))});
      for (int i = 0; i < c.refusals; ++i) tcp.socket->RaiseError(10061, "Connection refused");
      if (c.timeOut) tcp.clock->Advance(1000);
      // The time-out is still reported to the operator; only the count is shared.
      EXPECT_EQ(std::make_pair(tcp.session->Stats().connectionErrors, timeOuts),
                std::make_pair(attempt, c.timeOut ? int(attempt) : 0));
    }
  }
  // Connected: a reset of the connection is an error of its own, and so is the next failed connect.
  Link tcp(Mode::Tcp, 1000);
  Log log;
  const auto p = tcp.Requester(log);
  tcp.session->Submit(p, {Read(Mode::Tcp, 1, 1)});
  tcp.socket->AcceptConnect();
  tcp.socket->RaiseError(10054, "Connection reset by peer");
  EXPECT_EQ(tcp.session->Stats().connectionErrors, 1u);
  tcp.session->Submit(p, {Read(Mode::Tcp, 1, 2)});
  tcp.socket->RaiseError(10061, "Connection refused");
  tcp.clock->Advance(1000);
  EXPECT_EQ(tcp.session->Stats().connectionErrors, 2u);
}

// A peer that streams without ever completing a frame: the answer ends at the assembler's bound as a protocol
// error, the next request goes out at once on the same connection, and no time-out is waited for.
TEST(EngineSessions, AStreamThatNeverCompletesEndsAtTheBoundNotAtTheTimeOut) {
  for (const size_t chunk : {size_t(1) << 20, size_t(4096), size_t(1000)}) {
    SCOPED_TRACE("chunks of " + std::to_string(chunk));
    Link tcp(Mode::Tcp, 2000);
    Log log;
    const auto id = tcp.Requester(log);
    tcp.session->Submit(id, {modbus::ReadRequest(Mode::Tcp, 1, 0x41, 0, 1, 1)});
    tcp.socket->AcceptConnect();
    // The header claims 40,000 bytes for a function without a length rule: no frame can complete.
    tcp.socket->Deliver({0, 1, 0, 0, 0x9C, 0x40, 1, 0x41});
    for (size_t at = 0; at < 70000; at += chunk) tcp.socket->Deliver(Frame(std::min(chunk, 70000 - at), 0x55));
    tcp.clock->Advance(5000);  // past the time-out: nothing is awaited any more
    tcp.session->Submit(id, {Read(Mode::Tcp, 1, 2)});
    tcp.socket->Deliver({0, 2, 0, 0, 0, 5, 1, 3, 2, 0, 7});
    EXPECT_EQ(log, (Log{"connected", "sent 1",
                        "answer 65536 No frame ends within " + std::to_string(modbus::kMaxResponseBytes) + " bytes",
                        "sent 1", "answer 11"}));
    const engine::SessionStats& s = tcp.session->Stats();
    EXPECT_EQ(std::tie(s.protocolErrors, s.timeouts, s.answers), std::make_tuple(1u, 0u, 1u));
  }
}

}  // namespace
