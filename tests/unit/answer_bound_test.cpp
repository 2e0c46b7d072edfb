// A peer that streams without ever completing a frame: the answer ends at the assembler's bound as a
// protocol error, the next request goes out at once on the same connection, and no time-out is waited
// for (a flood used to hold the link for the whole time-out and a reconnect).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/session.h"
#include "fakes/fake_platform.h"
#include "modbus/requests.h"
#include "modbus/response.h"

namespace {

using engine::Event;
using engine::EventKind;

TEST(AnswerBound, AStreamThatNeverCompletesEndsAtTheBoundNotAtTheTimeOut) {
  // The header claims 40,000 bytes for a function without a length rule: no frame can complete.
  const Frame header{0, 1, 0, 0, 0x9C, 0x40, 1, 0x41};
  for (const size_t chunk : {size_t(1) << 20, size_t(4096), size_t(1000)}) {
    SCOPED_TRACE("chunks of " + std::to_string(chunk));
    auto clock = std::make_shared<fakes::FakeClock>();
    auto socket = std::make_shared<fakes::FakeTcpSocket>();
    engine::LinkSettings settings;
    settings.mode = modbus::Mode::Tcp;
    settings.host = "127.0.0.1";
    settings.port = 1502;
    settings.socketTimeoutMs = 2000;
    engine::Session session(engine::LinkParts{clock, clock, std::make_shared<fakes::FakeSerialPort>(), socket},
                            [&] { return settings; });
    std::vector<std::string> log;
    const auto id = session.AddRequester([&](const Event& e) {
      if (e.kind == EventKind::RequestSent) log.push_back("sent");
      if (e.kind == EventKind::RequestTimeout) log.push_back("timeout");
      if (e.kind == EventKind::AnswerComplete)
        log.push_back("answer " + std::to_string(e.frame.size()) + " " +
                      (e.faults.empty() ? std::string("good") : e.faults.back().message));
    });
    session.Submit(id, {modbus::ReadRequest(modbus::Mode::Tcp, 1, 0x41, 0, 1, 1)});
    socket->AcceptConnect();
    socket->Deliver(header);
    const Frame stream(70000, 0x55);
    for (size_t at = 0; at < stream.size(); at += chunk)
      socket->Deliver(Frame(stream.begin() + at, stream.begin() + std::min(stream.size(), at + chunk)));
    clock->Advance(5000);  // past the time-out: nothing is awaited any more
    // The next poll, on the same connection.
    session.Submit(id, {modbus::ReadRequest(modbus::Mode::Tcp, 1, 3, 0, 1, 2)});
    socket->Deliver({0, 2, 0, 0, 0, 5, 1, 3, 2, 0, 7});
    EXPECT_EQ(log,
              (std::vector<std::string>{
                  "sent", "answer 65536 No frame ends within " + std::to_string(modbus::kMaxResponseBytes) + " bytes",
                  "sent", "answer 11 good"}));
    EXPECT_EQ(socket->state, platform::TcpSocket::kConnected);
    EXPECT_EQ(socket->connects.size(), 1u);
    EXPECT_EQ(std::tie(session.Stats().protocolErrors, session.Stats().timeouts, session.Stats().answers),
              std::make_tuple(1u, 0u, 1u));
  }
}

}  // namespace
