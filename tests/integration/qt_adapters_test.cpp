// The Qt adapters where the engine tests do not reach: timers, the socket's events, the settings.
#include <QDateTime>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include "panel_rig.h"
#include "qt/adapters/qt_settings_store.h"
#include "qt/adapters/qt_system_parts.h"
#include "qt/adapters/qt_tcp_socket.h"
#include "qt/adapters/qt_timer.h"

namespace {

using rig::RunFor;

// Interval 0 from the start and set while running; handlers that stop or delete their timer.
TEST(QtAdaptersTest, TimerWithIntervalZeroNeverFiresAndAHandlerMayStopItsOwnTimer) {
  qt::QtTimerFactory factory;
  std::unique_ptr<platform::Timer> t[4] = {factory.CreateTimer(), factory.CreateTimer(), factory.CreateTimer(),
                                           factory.CreateTimer()};
  int ticks[4] = {};
  for (int i = 0; i < 4; ++i) t[i]->SetHandler([&, i] { ++ticks[i]; });
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
      ASSERT_TRUE(rig::RunUntil(
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
  ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
  const QByteArray text = raw.readAll();
  EXPECT_TRUE(text.contains("[main]") && text.contains("txtTcpHost=127.0.0.1")) << text.toStdString();
  qt::QtSettingsStore again("roundtrip");
  for (const auto& [key, value] : values) EXPECT_EQ(again.Read("main", key), value) << key;
  EXPECT_EQ(again.Read("main", "Missing"), std::nullopt);
}

// The wall clock gives the local time Qt gives, in a zone half an hour off UTC, fields in their ranges (a month
// counted from 0, a year from 1900 or the zone ignored would show here); the first call reads the zone, the second
// uses what it read.
TEST(QtAdaptersTest, ClockNowIsTheLocalTime) {
  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  setenv("TZ", "XYZ-5:30", 1);
  tzset();
  qt::QtClock clock;
  for (int i = 0; i < 2; ++i) {
    const QDateTime before = QDateTime::currentDateTime();
    ASSERT_EQ(before.offsetFromUtc(), 5 * 3600 + 1800);
    const LocalTime lt = clock.Now();
    const QDateTime now(QDate(lt.year, lt.month, lt.day), QTime(lt.hour, lt.minute, lt.second, lt.millisecond));
    ASSERT_TRUE(now.isValid());
    EXPECT_LE(std::abs(before.msecsTo(now)), 1000);
  }
  if (old)
    setenv("TZ", saved.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

}  // namespace
