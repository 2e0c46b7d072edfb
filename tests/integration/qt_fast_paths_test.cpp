// The adapters' shortcuts. The TCP socket's data events taken straight from the read notification:
// they come in the loop pass that reads the bytes (posted ones a pass later), after the connect event,
// and a handler may close or reconnect the socket from inside one. The clock's local time, converted
// once a second: every reading is the system time's, across second boundaries.
#include <QDateTime>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include "panel_rig.h"
#include "qt/adapters/qt_system_parts.h"
#include "qt/adapters/qt_tcp_socket.h"

namespace {

using rig::RunUntil;

struct DirectCase {
  const char* name;
  bool direct;
  int onFirstData;  // 0 nothing, 1 Close(), 2 Close() and Connect() again
  std::vector<std::string> expected;
};

TEST(QtFastPathsTest, DataEventsKeepTheirOrderAndAHandlerMayEndTheConnection) {
  const DirectCase cases[] = {
      {"posted", false, 0, {"connect", "data abc", "data def", "error 1"}},
      {"direct", true, 0, {"connect", "data abc", "data def", "error 1"}},
      {"direct, closed in the handler", true, 1, {"connect", "data abc"}},
      {"direct, reconnected in the handler", true, 2, {"connect", "data abc", "connect", "data def", "error 1"}},
  };
  for (const DirectCase& c : cases) {
    SCOPED_TRACE(c.name);
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    std::vector<std::unique_ptr<QTcpSocket>> peers;
    qt::QtTcpSocket s;
    s.SetDirectDataEvents(c.direct);
    std::vector<std::string> events;
    int dataEvents = 0;
    s.SetHandlers([&] { events.push_back("connect"); },
                  [&] {
                    ++dataEvents;
                    const Frame bytes = s.ReadAll();
                    if (bytes.empty()) return;
                    events.push_back("data " + std::string(bytes.begin(), bytes.end()));
                    if (dataEvents == 1 && c.onFirstData >= 1) s.Close();
                    if (dataEvents == 1 && c.onFirstData == 2) s.Connect("127.0.0.1", server.serverPort());
                  },
                  [&](int number, const std::string&) { events.push_back("error " + std::to_string(number)); });
    s.Connect("127.0.0.1", server.serverPort());
    ASSERT_TRUE(RunUntil([&] { return !events.empty() && server.hasPendingConnections(); }, 3000));
    peers.emplace_back(server.nextPendingConnection());
    peers.back()->write("abc");
    peers.back()->flush();
    QThread::msleep(30);
    // One pass of the loop reads the bytes: a direct event comes in it, a posted one in the next.
    QCoreApplication::processEvents();
    EXPECT_EQ(dataEvents, c.direct ? 1 : 0);
    ASSERT_TRUE(RunUntil([&] { return dataEvents >= 1; }, 3000));
    if (c.onFirstData == 2) {
      ASSERT_TRUE(RunUntil([&] { return events.size() >= 3 && server.hasPendingConnections(); }, 3000));
      peers.emplace_back(server.nextPendingConnection());
    }
    // The last connection's peer says more and leaves (error 1: closed by the peer); a closed
    // adapter hears none of it.
    peers.back()->write("def");
    peers.back()->flush();
    peers.back()->close();
    RunUntil([&] { return events.size() >= c.expected.size() && s.State() != 7; }, 1000);
    rig::RunFor(100);
    EXPECT_EQ(events, c.expected);
    EXPECT_EQ(s.State(), c.onFirstData == 1 ? 0 : 9) << "9: closed by the peer, not yet here";
  }
}

// Readings for 1.2 s (more than one second boundary), each between the system times taken around it.
TEST(QtFastPathsTest, ClockNowFollowsTheSystemTimeAcrossSeconds) {
  qt::QtClock clock;
  QElapsedTimer spent;
  spent.start();
  int seconds = 0, lastSecond = -1;
  for (int i = 0; i < 2000000 && spent.elapsed() < 1200; ++i) {
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    const LocalTime lt = clock.Now();
    const qint64 after = QDateTime::currentMSecsSinceEpoch();
    const qint64 read =
        QDateTime(QDate(lt.year, lt.month, lt.day), QTime(lt.hour, lt.minute, lt.second, lt.millisecond))
            .toMSecsSinceEpoch();
    ASSERT_TRUE(read >= before && read <= after) << before << " <= " << read << " <= " << after;
    seconds += lt.second != lastSecond;
    lastSecond = lt.second;
    if (i % 64 == 0) QThread::usleep(200);
  }
  EXPECT_GE(seconds, 2) << "the readings did not cross a second";
}

}  // namespace
