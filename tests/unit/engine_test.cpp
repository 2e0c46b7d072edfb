// The engine on its own, on the fakes: sessions on separate links in one process, and one session serving two
// requesters in turn.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/session.h"
#include "fakes/fake_platform.h"
#include "modbus/requests.h"
#include "test_bytes.h"

namespace {

using engine::Event;
using engine::EventKind;
using testbytes::WithCrc;

// One link: a socket and a serial port of its own on the shared fake clock, and a session on them.
struct Link {
  Link(std::shared_ptr<fakes::FakeClock> clock, modbus::Mode mode, int timeoutMs) {
    settings.mode = mode;
    settings.host = "127.0.0.1";
    settings.port = 1502;
    settings.socketTimeoutMs = timeoutMs;
    settings.serialTimeoutMs = timeoutMs;
    settings.portChosen = settings.portsListed = true;
    settings.portName = "ttyV0";
    settings.serial = platform::SerialSettings{};
    session =
        std::make_unique<engine::Session>(engine::LinkParts{clock, clock, serial, socket}, [this] { return settings; });
  }
  // A requester that records its events: "sent <count>" (the low byte of the count read), "answer <faults>",
  // "timeout <bytes received>", "connected". A send while any request of the link is awaited is counted in overlap.
  engine::RequesterId Requester(std::vector<std::string>& log) {
    return session->AddRequester([this, &log](const Event& e) {
      if (e.kind == EventKind::RequestSent) {
        overlaps += outstanding++ != 0;
        log.push_back("sent " + std::to_string(e.frame.at(e.frame.size() == 12 ? 11 : 5)));
      }
      if (e.kind == EventKind::AnswerComplete) {
        --outstanding;
        log.push_back("answer " + std::to_string(e.faults.size()) + (e.exception ? " exception" : ""));
      }
      if (e.kind == EventKind::RequestTimeout) {
        --outstanding;
        log.push_back("timeout " + std::to_string(e.received.size()));
      }
      if (e.kind == EventKind::Connected) log.push_back("connected");
    });
  }
  int outstanding = 0, overlaps = 0;
  engine::LinkSettings settings;
  std::shared_ptr<fakes::FakeSerialPort> serial = std::make_shared<fakes::FakeSerialPort>();
  std::shared_ptr<fakes::FakeTcpSocket> socket = std::make_shared<fakes::FakeTcpSocket>();
  std::unique_ptr<engine::Session> session;
};

// A read of `count` registers from address 0 with identifier `id`, framed for the mode.
Frame Read(modbus::Mode mode, int32_t count, int32_t id) { return modbus::ReadRequest(mode, 1, 3, 0, count, id); }

TEST(EngineSessions, TwoLinksInOneProcessKeepTheirAnswersTimeOutsAndStatisticsApart) {
  auto clock = std::make_shared<fakes::FakeClock>();
  Link tcp(clock, modbus::Mode::Tcp, 500), rtu(clock, modbus::Mode::RtuOverTcp, 800);
  std::vector<std::string> tcpLog, rtuLog;
  const auto a = tcp.Requester(tcpLog), b = rtu.Requester(rtuLog);
  tcp.session->Submit(a, {Read(modbus::Mode::Tcp, 1, 1), Read(modbus::Mode::Tcp, 2, 2)});
  rtu.session->Submit(b, {Read(modbus::Mode::RtuOverTcp, 3, 0), Read(modbus::Mode::RtuOverTcp, 4, 0)});
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
  EXPECT_EQ(tcpLog, (std::vector<std::string>{"connected", "sent 1", "answer 0", "sent 2", "timeout 0"}));
  EXPECT_EQ(rtuLog, (std::vector<std::string>{"connected", "sent 3", "answer 0", "sent 4", "answer 0"}));
  EXPECT_EQ(tcp.socket->sent, (std::vector<Frame>{Read(modbus::Mode::Tcp, 1, 1), Read(modbus::Mode::Tcp, 2, 2)}));
  EXPECT_EQ(rtu.socket->sent.size(), 2u);
  EXPECT_EQ(tcp.socket->state, platform::TcpSocket::kClosed);  // a time-out ends the connection
  EXPECT_EQ(rtu.socket->state, platform::TcpSocket::kConnected);
  const engine::SessionStats &s1 = tcp.session->Stats(), &s2 = rtu.session->Stats();
  EXPECT_EQ(std::tie(s1.sent, s1.answers, s1.timeouts), std::make_tuple(2u, 1u, 1u));
  EXPECT_EQ(std::tie(s2.sent, s2.answers, s2.timeouts), std::make_tuple(2u, 2u, 0u));
  EXPECT_EQ(std::tie(s1.lastMs, s2.lastMs), std::make_tuple(100, 500));
  EXPECT_EQ(tcp.overlaps + rtu.overlaps, 0);
}

TEST(EngineSessions, OneLinkServesTwoRequestersInTurnNeverTwoInFlight) {
  auto clock = std::make_shared<fakes::FakeClock>();
  Link rtu(clock, modbus::Mode::Rtu, 1000);
  std::vector<std::string> first, second;
  const auto p = rtu.Requester(first), q = rtu.Requester(second);
  auto answer = [&](uint8_t n) { rtu.serial->Deliver(WithCrc({1, 3, 2, 0, n})); };
  // p's transaction of two frames, then q's one frame submitted while p's first is in flight.
  rtu.session->Submit(p, {Read(modbus::Mode::Rtu, 1, 0), Read(modbus::Mode::Rtu, 2, 0)});
  rtu.session->Submit(q, {Read(modbus::Mode::Rtu, 3, 0)});
  ASSERT_EQ(rtu.serial->written.size(), 1u);
  answer(1);  // p's second frame goes next: a transaction's frames go back to back
  answer(2);
  answer(3);
  EXPECT_EQ(rtu.serial->written, (std::vector<Frame>{Read(modbus::Mode::Rtu, 1, 0), Read(modbus::Mode::Rtu, 2, 0),
                                                     Read(modbus::Mode::Rtu, 3, 0)}));
  EXPECT_EQ(first, (std::vector<std::string>{"sent 1", "answer 0", "sent 2", "answer 0"}));
  EXPECT_EQ(second, (std::vector<std::string>{"sent 3", "answer 0"}));

  // Turns: p's next transaction, submitted while its previous one runs, waits for q's.
  rtu.session->Submit(p, {Read(modbus::Mode::Rtu, 7, 0)});
  rtu.session->Submit(q, {Read(modbus::Mode::Rtu, 8, 0)});
  rtu.session->Submit(p, {Read(modbus::Mode::Rtu, 9, 0)});
  answer(7);
  answer(8);
  answer(9);
  EXPECT_EQ(second, (std::vector<std::string>{"sent 3", "answer 0", "sent 8", "answer 0"}));
  EXPECT_EQ(first.back(), "answer 0");
  EXPECT_EQ(first.at(first.size() - 2), "sent 9");

  // q asks to go next while p's request is in flight: it waits for p's answer, then goes before p's queued frame.
  rtu.session->Submit(p, {Read(modbus::Mode::Rtu, 4, 0), Read(modbus::Mode::Rtu, 5, 0)});
  rtu.session->Submit(q, {Read(modbus::Mode::Rtu, 6, 0)});
  rtu.session->SendNow(q);
  EXPECT_EQ(rtu.serial->written.size(), 7u);
  answer(4);
  EXPECT_EQ(rtu.serial->written.back(), Read(modbus::Mode::Rtu, 6, 0));
  // q's request times out: the link is closed and every waiting frame is dropped.
  clock->Advance(1000);
  EXPECT_EQ(second.back(), "timeout 0");
  EXPECT_TRUE(rtu.session->Queued(p).empty());
  EXPECT_FALSE(rtu.serial->IsOpen());
  EXPECT_EQ(rtu.overlaps, 0);
  EXPECT_EQ(rtu.session->Stats().sent, 8u);
}

// A failed connect is one connection error however it ends: a refusal, the connect time-out after it, further
// errors of the same attempt. A new attempt, and an error on an established connection, count again.
TEST(EngineSessions, OneFailedConnectCountsOnceAcrossRefusalAndTimeOut) {
  struct Case {
    const char* name;
    int errorsBeforeTimeOut;  // socket errors raised while the connect is pending
    bool timeOut;             // the connect time-out passes afterwards
    uint64_t expected;
  } const cases[] = {
      {"refused, then the time-out", 1, true, 1},
      {"refused twice, then the time-out", 2, true, 1},
      {"refused, no time-out yet", 1, false, 1},
      {"only the time-out", 0, true, 1},
  };
  for (const Case& c : cases) {
    auto clock = std::make_shared<fakes::FakeClock>();
    Link tcp(clock, modbus::Mode::Tcp, 1000);
    std::vector<std::string> log;
    const auto p = tcp.Requester(log);
    std::vector<EventKind> kinds;
    tcp.session->AddRequester([&kinds](const Event& e) { kinds.push_back(e.kind); });
    tcp.session->Submit(p, {Read(modbus::Mode::Tcp, 1, 1)});
    for (int i = 0; i < c.errorsBeforeTimeOut; ++i) tcp.socket->RaiseError(10061, "Connection refused");
    if (c.timeOut) clock->Advance(1000);
    EXPECT_EQ(tcp.session->Stats().connectionErrors, c.expected) << c.name;
    // The time-out is still reported to the operator; only the count is shared.
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), EventKind::ConnectTimeout), c.timeOut ? 1 : 0) << c.name;
    // A second attempt that fails the same way counts once more.
    tcp.session->Submit(p, {Read(modbus::Mode::Tcp, 1, 2)});
    for (int i = 0; i < c.errorsBeforeTimeOut; ++i) tcp.socket->RaiseError(10061, "Connection refused");
    if (c.timeOut) clock->Advance(1000);
    EXPECT_EQ(tcp.session->Stats().connectionErrors, 2 * c.expected) << c.name;
  }
  // Connected: a reset of the connection is an error of its own, and so is the next failed connect.
  auto clock = std::make_shared<fakes::FakeClock>();
  Link tcp(clock, modbus::Mode::Tcp, 1000);
  std::vector<std::string> log;
  const auto p = tcp.Requester(log);
  tcp.session->Submit(p, {Read(modbus::Mode::Tcp, 1, 1)});
  tcp.socket->AcceptConnect();
  tcp.socket->RaiseError(10054, "Connection reset by peer");
  EXPECT_EQ(tcp.session->Stats().connectionErrors, 1u);
  tcp.session->Submit(p, {Read(modbus::Mode::Tcp, 1, 2)});
  tcp.socket->RaiseError(10061, "Connection refused");
  clock->Advance(1000);
  EXPECT_EQ(tcp.session->Stats().connectionErrors, 2u);
}

}  // namespace
