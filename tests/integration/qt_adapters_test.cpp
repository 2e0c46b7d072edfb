// The Qt adapters where the engine tests do not reach: timers, the socket's events (posted, or taken
// straight from the read notification), the serial port's first drain, the settings and the clock's
// local time.
#include <fcntl.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <chrono>
#include <thread>

#include "panel_rig.h"
#include "qt/adapters/qt_serial_port.h"
#include "qt/adapters/qt_settings_store.h"
#include "qt/adapters/qt_system_parts.h"
#include "qt/adapters/qt_tcp_socket.h"
#include "qt/adapters/qt_timer.h"

namespace {

using rig::RunFor;
using rig::RunUntil;

// Interval 0 from the start and set while running; handlers that stop or delete their timer.
TEST(QtAdaptersTest, TimerWithIntervalZeroNeverFiresAndAHandlerMayStopItsOwnTimer) {
  qt::QtTimerFactory factory;
  std::unique_ptr<platform::Timer> t[4] = {factory.CreateTimer(), factory.CreateTimer(), factory.CreateTimer(),
                                           factory.CreateTimer()};
  int ticks[4] = {};
  for (int i = 0; i < 2; ++i) t[i]->SetHandler([&, i] { ++ticks[i]; });
  t[2]->SetHandler([&] { ++ticks[2], t[2]->SetEnabled(false); });
  t[3]->SetHandler([&] { ++ticks[3], t[3].reset(); });
  for (int i = 1; i < 4; ++i) t[i]->SetInterval(20), t[i]->SetEnabled(true);
  t[0]->SetEnabled(true);
  t[1]->SetInterval(0);
  RunFor(250);
  EXPECT_EQ(std::vector<int>(ticks, ticks + 4), (std::vector<int>{0, 0, 1, 1}));
  EXPECT_FALSE(t[2]->Enabled());
  EXPECT_EQ(t[3], nullptr);
}

// Refused; closed while connecting; closed with data and the peer's close arrived, not handled. Connected
// only once the connect event is delivered: a send between Qt's connect and that event would go out twice.
TEST(QtAdaptersTest, SocketEventsComeLaterAndNoneAfterClose) {
  QTcpServer server, closed;
  ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0) && closed.listen(QHostAddress::LocalHost, 0));
  const int refused = closed.serverPort();
  closed.close();
  for (const int kase : {0, 1, 2}) {
    SCOPED_TRACE(kase);
    qt::QtTcpSocket s;
    int connects = 0, data = 0, early = 0;
    std::vector<int> errors;
    s.SetHandlers([&] { ++connects; }, [&] { ++data, s.ReadAll(); },
                  [&](int number, const std::string& text) { errors.push_back(text.empty() ? -1 : number); });
    s.Connect("127.0.0.1", kase == 0 ? refused : server.serverPort());
    EXPECT_EQ(connects + data + errors.size(), 0u);
    if (kase == 2) {
      ASSERT_TRUE(RunUntil(
          [&] {
            early += s.State() == 7 && connects == 0;
            return connects == 1 && server.hasPendingConnections();
          },
          3000));
      EXPECT_EQ(early, 0);
      std::unique_ptr<QTcpSocket> peer(server.nextPendingConnection());
      peer->write("\x01\x02\x03", 3);
      peer->flush();
      peer->close();
      QThread::msleep(50);
      QCoreApplication::processEvents();
    }
    if (kase > 0) s.Close();
    EXPECT_TRUE(kase == 0 || s.State() == 0) << "Close() is not immediate";
    RunFor(kase == 0 ? 1000 : 200);
    EXPECT_EQ(errors, kase == 0 ? std::vector<int>{QAbstractSocket::ConnectionRefusedError} : std::vector<int>{});
    EXPECT_EQ(connects + data, kase == 2 ? 1 : 0);
    EXPECT_EQ(s.State(), 0);
    while (server.hasPendingConnections()) delete server.nextPendingConnection();
  }
}

// Data events taken straight from the read notification come in the loop pass that reads the bytes
// (posted ones a pass later), after the connect event, and a handler may close or reconnect the
// socket from inside one.
TEST(QtAdaptersTest, DataEventsKeepTheirOrderAndAHandlerMayEndTheConnection) {
  const struct {
    const char* name;
    bool direct;
    int onFirstData;  // 0 nothing, 1 Close(), 2 Close() and Connect() again
    std::vector<std::string> expected;
  } cases[] = {
      {"posted", false, 0, {"connect", "data abc", "data def", "error 1"}},
      {"direct", true, 0, {"connect", "data abc", "data def", "error 1"}},
      {"direct, closed in the handler", true, 1, {"connect", "data abc"}},
      {"direct, reconnected in the handler", true, 2, {"connect", "data abc", "connect", "data def", "error 1"}},
  };
  for (const auto& c : cases) {
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
                    const Frame bytes = s.ReadAll();
                    if (++dataEvents, bytes.empty()) return;
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
    QCoreApplication::processEvents();  // one pass reads the bytes
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
    RunFor(100);
    EXPECT_EQ(events, c.expected);
    EXPECT_EQ(s.State(), c.onFirstData == 1 ? 0 : 9) << "9: closed by the peer, not yet here";
  }
}

// Bytes the far end sent while the port was closed can still be in the relay when it opens: the
// drain before the first request waits for them, so that they are not taken for its answer. The
// port is opened by a path relative to the working directory ("dir/port", not taken for /dev/dir/port).
// A second opening is refused as a port in use. When the far end goes, the port reports it once,
// as a hang-up.
TEST(QtAdaptersTest, SerialPortFromOpeningToHangUp) {
  vesk::test::PtyPair pair;
  ASSERT_TRUE(pair.Open());
  const int sender = ::open(pair.B().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(sender, 0);
  qt::QtSerialPort port;
  std::string error;
  const QString home = QDir::currentPath();
  const QDir dir(QString::fromStdString(pair.Dir()));
  ASSERT_TRUE(QDir::setCurrent(dir.absolutePath() + "/.."));
  const bool opened = port.Open(dir.dirName().toStdString() + pair.A().substr(pair.Dir().size()), {}, error);
  QDir::setCurrent(home);
  ASSERT_TRUE(opened) << error;
  qt::QtSerialPort other;
  EXPECT_FALSE(other.Open(pair.A(), {}, error));
  EXPECT_EQ(error.substr(0, 32), "Port in use by another program (") << error;
  EXPECT_FALSE(other.LastOpenDeniedPermission());
  std::thread late([sender] {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(::write(sender, "late", 4), 4);
  });
  EXPECT_EQ(port.Discard(), 4u);
  late.join();
  ::close(sender);
  // The pair ends: the port hangs up, named so rather than by a stale errno text.
  std::vector<std::string> gone;
  port.SetHandlers(nullptr, [&](const std::string& reason) { gone.push_back(reason); });
  pair.Close();
  RunUntil([&] { return !port.IsOpen(); }, 3000);
  RunFor(50);
  EXPECT_EQ(gone, std::vector<std::string>{qt::QtSerialPort::kHangUpReason});
}

// In XDG_CONFIG_HOME, which main() points at a temp dir.
TEST(QtAdaptersTest, SettingsRoundTripThroughTheConfigFile) {
  const std::pair<std::string, std::string> values[] = {{"txtTcpHost", "127.0.0.1"},
                                                        {"Empty", ""},
                                                        {"List", "a, b,c"},
                                                        {"Utf8", "Größe µs"},
                                                        {"Specials", "x=1;#y\"z\\ [main]\n2"}};
  {
    qt::QtSettingsStore store("roundtrip");
    EXPECT_EQ(store.Location(), qEnvironmentVariable("XDG_CONFIG_HOME").toStdString() + "/VeskTarvelo/roundtrip.conf");
    for (const auto& [key, value] : values) EXPECT_TRUE(store.Write("main", key, value));
    store.Flush();
  }
  QFile raw(qEnvironmentVariable("XDG_CONFIG_HOME") + "/VeskTarvelo/roundtrip.conf");
  ASSERT_TRUE(raw.open(QIODevice::ReadWrite));
  const QByteArray text = raw.readAll();
  EXPECT_TRUE(text.contains("[main]") && text.contains("txtTcpHost=127.0.0.1")) << text.toStdString();
  raw.write("Edited=1,2,3\n");  // unquoted, as edited by hand: read back as a list
  raw.close();
  qt::QtSettingsStore again("roundtrip");
  for (const auto& [key, value] : values) EXPECT_EQ(again.Read("main", key), value) << key;
  EXPECT_EQ(again.Read("main", "Edited"), std::string("1,2,3"));
  EXPECT_EQ(again.Read("main", "Missing"), std::nullopt);
}

// Readings for 1.2 s (across second boundaries, where the clock converts anew) in a zone half an
// hour off UTC, each between the system times taken around it: a month counted from 0, a year from
// 1900, the zone ignored or a stale cached second would show here.
TEST(QtAdaptersTest, ClockNowIsTheLocalTimeAcrossSeconds) {
  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  setenv("TZ", "XYZ-5:30", 1);
  tzset();
  ASSERT_EQ(QDateTime::currentDateTime().offsetFromUtc(), 5 * 3600 + 1800);
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
  old ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
  tzset();
}

}  // namespace
