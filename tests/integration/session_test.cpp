// The engine alone, with no panel: sessions on the real Qt socket against the libmodbus slave on 127.0.0.1.
#include "engine/session.h"

#include "modbus/requests.h"
#include "panel_rig.h"
#include "qt/adapters/qt_system_parts.h"
#include "qt/adapters/qt_tcp_socket.h"
#include "qt/adapters/qt_timer.h"

namespace {

using namespace rig;

// A session on a socket of its own to a slave on 127.0.0.1, and what its requesters were told:
// "<requester>: <frame>" per answer, with "!" for faults and the exception code.
struct Link {
  explicit Link(int port) {
    settings.host = "127.0.0.1";
    settings.port = port;
    settings.socketTimeoutMs = 2000;
    session = std::make_unique<engine::Session>(
        engine::LinkParts{std::make_shared<qt::QtClock>(), std::make_shared<qt::QtTimerFactory>(), nullptr,
                          std::make_shared<qt::QtTcpSocket>()},
        [this] { return settings; });
  }
  engine::RequesterId Requester() {
    return session->AddRequester([this](const engine::Event& e) {
      if (e.kind == engine::EventKind::AnswerComplete)
        answers.push_back(std::to_string(e.requester) + ": " + Hex(e.frame) + (e.faults.empty() ? "" : " !") +
                          (e.exception ? " exception " + std::to_string(*e.exception) : ""));
      failures += e.kind == engine::EventKind::RequestTimeout || e.kind == engine::EventKind::ConnectionError;
    });
  }
  engine::LinkSettings settings;
  std::unique_ptr<engine::Session> session;
  Rows answers;
  int failures = 0;
};

Frame Read(int address, int count, int id) { return modbus::ReadRequest(modbus::Mode::Tcp, 1, 3, address, count, id); }
std::string Answer(engine::RequesterId r, int id, const Frame& pdu) {
  return std::to_string(r) + ": " + Hex(Adu(kTcp, id, pdu));
}

TEST(EngineAgainstSlave, TwoSessionsOnTwoLinksAndTwoRequestersOnOneGetTheirOwnAnswers) {
  Peer first, second;
  const int port1 = first.TcpSlave(), port2 = second.TcpSlave();
  ASSERT_TRUE(port1 > 0 && port2 > 0);
  Link a(port1), b(port2);
  const auto a1 = a.Requester(), a2 = a.Requester(), b1 = b.Requester();
  // a1's transaction of two frames and a2's frame share link a; b1 has link b to itself.
  a.session->Submit(a1, {Read(110, 2, 1), Read(102, 4, 2)});
  a.session->Submit(a2, {Read(5, 3, 3)});
  b.session->Submit(b1, {Read(30, 2, 7)});
  ASSERT_TRUE(RunUntil([&] { return a.answers.size() == 3 && b.answers.size() == 1; }, 5000));
  EXPECT_EQ(a.failures + b.failures, 0);
  // The answers in the order sent, each to its requester, framed and checked by the session.
  EXPECT_EQ(a.answers, (Rows{Answer(a1, 1, {1, 3, 4, 0x80, 0, 0xFF, 0xFF}),
                             Answer(a1, 2, {1, 3, 8, 0x12, 0x34, 0x56, 0x78, 0xFF, 0xFF, 0xFF, 0xFE}),
                             Answer(a2, 3, {1, 3, 6, 0, 5, 0, 6, 0, 7})}));
  EXPECT_EQ(b.answers, Rows{Answer(b1, 7, {1, 3, 4, 0, 30, 0, 31})});
  EXPECT_EQ(std::tuple(first.Requests().size(), second.Requests().size()), std::tuple(3u, 1u));
}

}  // namespace
