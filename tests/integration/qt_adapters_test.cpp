// The Qt adapters on their own: timers on the event loop, the TCP socket
// against a QTcpServer on 127.0.0.1, the serial port on socat pseudo-terminal
// pairs, the port list, the settings file, the clock.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "qt/QtPlatform.h"
#include "qt/adapters/qt_port_list.h"
#include "qt/adapters/qt_serial_port.h"
#include "qt/adapters/qt_settings_store.h"
#include "qt/adapters/qt_tcp_socket.h"
#include "qt/adapters/qt_timer.h"
#include "qt_test_util.h"

using testutil::RunFor;
using testutil::RunUntil;

namespace {

Frame AllByteValues() {
  Frame f(256);
  for (int i = 0; i < 256; ++i) f[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
  return f;
}

// ---- timers ------------------------------------------------------------------

struct TickLog {
  std::vector<qint64> at;  // ms since `clock` started
  QElapsedTimer clock;
};

std::unique_ptr<platform::Timer> MakeTimer(TickLog& log) {
  auto t = qt::QtTimerFactory().CreateTimer();
  t->SetHandler([&log] { log.at.push_back(log.clock.elapsed()); });
  return t;
}

TEST(QtTimerTest, FiresRepeatedlyOncePerInterval) {
  TickLog log;
  auto t = MakeTimer(log);
  t->SetInterval(60);
  log.clock.start();
  t->SetEnabled(true);
  EXPECT_TRUE(log.at.empty());  // never from inside the call
  ASSERT_TRUE(RunUntil([&] { return log.at.size() >= 3; }, 3000));
  EXPECT_GE(log.at[0], 58);
  EXPECT_GE(log.at[1] - log.at[0], 50);
  EXPECT_GE(log.at[2] - log.at[1], 50);
  EXPECT_EQ(t->Interval(), 60);
  EXPECT_TRUE(t->Enabled());
}

TEST(QtTimerTest, SilentWhenDisabledOrIntervalZero) {
  struct Case {
    const char* name;
    void (*setup)(platform::Timer&);
    bool enabledAfter;
  };
  const Case cases[] = {
      {"enabled with interval 0", [](platform::Timer& t) { t.SetEnabled(true); }, true},
      {"interval 0 set after enabling",
       [](platform::Timer& t) {
         t.SetInterval(20);
         t.SetEnabled(true);
         t.SetInterval(0);
       },
       true},
      {"interval without enabling", [](platform::Timer& t) { t.SetInterval(20); }, false},
      {"disabled again",
       [](platform::Timer& t) {
         t.SetInterval(20);
         t.SetEnabled(true);
         t.SetEnabled(false);
       },
       false},
  };
  std::vector<TickLog> logs(std::size(cases));
  std::vector<std::unique_ptr<platform::Timer>> timers;
  for (size_t i = 0; i < std::size(cases); ++i) {
    timers.push_back(MakeTimer(logs[i]));
    cases[i].setup(*timers.back());
  }
  RunFor(250);
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_TRUE(logs[i].at.empty());
    EXPECT_EQ(timers[i]->Enabled(), cases[i].enabledAfter);
  }
}

TEST(QtTimerTest, IntervalOrEnabledSetWhileRunningRestartsThePeriod) {
  struct Case {
    const char* name;
    void (*change)(platform::Timer&);
    qint64 earliestFirstTick;  // ms after start; the change comes at 60 ms
  };
  const Case cases[] = {
      {"new interval", [](platform::Timer& t) { t.SetInterval(110); }, 60 + 105},
      {"enabled again", [](platform::Timer& t) { t.SetEnabled(true); }, 60 + 95},
      {"interval after enabling with 0",
       [](platform::Timer& t) {
         t.SetInterval(0);
         t.SetInterval(40);
       },
       60 + 38},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TickLog log;
    auto t = MakeTimer(log);
    t->SetInterval(100);
    log.clock.start();
    t->SetEnabled(true);
    ASSERT_TRUE(RunUntil([&] { return log.clock.elapsed() >= 60; }, 1000));
    ASSERT_TRUE(log.at.empty());
    c.change(*t);
    ASSERT_TRUE(RunUntil([&] { return !log.at.empty(); }, 3000));
    EXPECT_GE(log.at[0], c.earliestFirstTick);
  }
}

TEST(QtTimerTest, HandlerMayDeleteItsOwnTimerAnotherTimerOrReplaceItself) {
  qt::QtTimerFactory factory;
  std::unique_ptr<platform::Timer> first = factory.CreateTimer();
  std::unique_ptr<platform::Timer> second = factory.CreateTimer();
  std::unique_ptr<platform::Timer> third = factory.CreateTimer();
  int firstTicks = 0, secondTicks = 0, thirdOld = 0, thirdNew = 0;
  first->SetHandler([&] {
    ++firstTicks;
    second.reset();
    first.reset();
  });
  second->SetHandler([&] { ++secondTicks; });
  const std::string captured(64, 'x');  // a handler with state that replacing it destroys
  third->SetHandler([&, captured] {
    thirdOld += captured.size() == 64 ? 1 : 100;
    third->SetHandler([&] { ++thirdNew; });
  });
  first->SetInterval(20);
  second->SetInterval(45);
  third->SetInterval(25);
  first->SetEnabled(true);
  second->SetEnabled(true);
  third->SetEnabled(true);
  ASSERT_TRUE(RunUntil([&] { return thirdNew >= 2; }, 3000));
  RunFor(60);
  EXPECT_EQ(firstTicks, 1);
  EXPECT_EQ(secondTicks, 0);
  EXPECT_EQ(first, nullptr);
  EXPECT_EQ(thirdOld, 1);
}

// ---- TCP socket -----------------------------------------------------------------

struct SocketEvents {
  int connects = 0;
  int dataEvents = 0;
  std::vector<int> stateAtConnect;
  std::vector<std::pair<int, std::string>> errors;
  Frame received;

  int Total() const { return connects + dataEvents + static_cast<int>(errors.size()); }
};

void Attach(platform::TcpSocket& socket, SocketEvents& e) {
  socket.SetHandlers(
      [&] {
        ++e.connects;
        e.stateAtConnect.push_back(socket.State());
      },
      [&] {
        ++e.dataEvents;
        const Frame chunk = socket.ReadAll();
        e.received.insert(e.received.end(), chunk.begin(), chunk.end());
      },
      [&](int number, const std::string& description) { e.errors.emplace_back(number, description); });
}

class QtTcpSocketTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.listen(QHostAddress::LocalHost, 0)); }

  int Port() const { return server_.serverPort(); }

  // The server side of the next accepted connection.
  QTcpSocket* Accept() {
    if (!RunUntil([&] { return server_.hasPendingConnections(); }, 3000)) return nullptr;
    return server_.nextPendingConnection();
  }

  // Connects `socket` and waits for its connect event.
  QTcpSocket* ConnectAndAccept(qt::QtTcpSocket& socket, SocketEvents& e) {
    socket.Connect("127.0.0.1", Port());
    if (!RunUntil([&] { return e.connects == 1; }, 3000)) return nullptr;
    return Accept();
  }

  QTcpServer server_;
};

TEST_F(QtTcpSocketTest, ConnectsExchangesEveryByteValueAndReportsThePeerClosing) {
  qt::QtTcpSocket socket;
  SocketEvents e;
  Attach(socket, e);
  EXPECT_EQ(socket.State(), 0);
  socket.Connect("127.0.0.1", Port());
  EXPECT_EQ(socket.State(), 6);
  EXPECT_EQ(e.Total(), 0);  // never from inside Connect
  ASSERT_TRUE(RunUntil([&] { return e.connects == 1; }, 3000));
  EXPECT_EQ(e.stateAtConnect, std::vector<int>{7});
  EXPECT_EQ(socket.State(), 7);
  QTcpSocket* peer = Accept();
  ASSERT_NE(peer, nullptr);

  const Frame out = AllByteValues();
  socket.SetNoDelay();
  socket.Send(out);
  QByteArray atPeer;
  ASSERT_TRUE(RunUntil(
      [&] {
        atPeer += peer->readAll();
        return atPeer.size() >= 256;
      },
      3000));
  EXPECT_EQ(Frame(atPeer.begin(), atPeer.end()), out);

  const Frame back(out.rbegin(), out.rend());
  peer->write(reinterpret_cast<const char*>(back.data()), static_cast<qint64>(back.size()));
  ASSERT_TRUE(RunUntil([&] { return e.received.size() >= back.size(); }, 3000));
  EXPECT_EQ(e.received, back);
  EXPECT_GE(e.dataEvents, 1);

  // A peer closing the connection raises no event; the socket reports
  // another state (half closed) until it is closed here.
  peer->close();
  ASSERT_TRUE(RunUntil([&] { return socket.State() == 9; }, 3000));
  RunFor(100);
  EXPECT_TRUE(e.errors.empty());
  EXPECT_EQ(socket.State(), 9);
  socket.Close();
  EXPECT_EQ(socket.State(), 0);
  EXPECT_EQ(e.connects, 1);
}

TEST_F(QtTcpSocketTest, FailedConnectEndsInOneLaterErrorEvent) {
  QTcpServer closed;
  ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
  const int refusedPort = closed.serverPort();
  closed.close();

  struct Case {
    std::string host;
    int32_t port;
    int number;
  };
  const Case cases[] = {
      {"127.0.0.1", refusedPort, QAbstractSocket::ConnectionRefusedError},
      {"127.0.0.1", 0, QAbstractSocket::SocketAddressNotAvailableError},
      {"127.0.0.1", 65536, QAbstractSocket::SocketAddressNotAvailableError},
      {"127.0.0.1", -502, QAbstractSocket::SocketAddressNotAvailableError},
      {"", 502, QAbstractSocket::HostNotFoundError},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.host + ":" + std::to_string(c.port));
    qt::QtTcpSocket socket;
    SocketEvents e;
    Attach(socket, e);
    socket.Connect(c.host, c.port);
    EXPECT_EQ(e.Total(), 0);
    ASSERT_TRUE(RunUntil([&] { return !e.errors.empty(); }, 5000));
    RunFor(50);
    ASSERT_EQ(e.errors.size(), 1u);
    EXPECT_EQ(e.errors[0].first, c.number);
    EXPECT_FALSE(e.errors[0].second.empty());
    EXPECT_EQ(e.connects, 0);
    EXPECT_EQ(socket.State(), 0);
  }
}

TEST_F(QtTcpSocketTest, CloseIsImmediateAndNothingOfTheOldConnectionFollows) {
  // While connecting.
  {
    qt::QtTcpSocket socket;
    SocketEvents e;
    Attach(socket, e);
    socket.Connect("127.0.0.1", Port());
    socket.Close();
    EXPECT_EQ(socket.State(), 0);
    RunFor(200);
    EXPECT_EQ(e.Total(), 0);
    // The server may have accepted that connection; it is not the next one.
    while (server_.hasPendingConnections()) delete server_.nextPendingConnection();
  }
  // Connected, with data and the peer's close already arrived but not yet
  // handled.
  {
    qt::QtTcpSocket socket;
    SocketEvents e;
    Attach(socket, e);
    QTcpSocket* peer = ConnectAndAccept(socket, e);
    ASSERT_NE(peer, nullptr);
    peer->write("\x01\x02\x03", 3);
    peer->flush();
    peer->close();
    QThread::msleep(50);
    QCoreApplication::processEvents();  // Qt notices the data; its event is queued
    socket.Close();
    EXPECT_EQ(socket.State(), 0);
    RunFor(200);
    EXPECT_EQ(e.Total(), 1);  // the connect event only
  }
  // Closed from inside its own data event while the peer's close is pending.
  {
    qt::QtTcpSocket socket;
    SocketEvents e;
    Attach(socket, e);
    QTcpSocket* peer = ConnectAndAccept(socket, e);
    ASSERT_NE(peer, nullptr);
    socket.SetHandlers([] {},
                       [&] {
                         ++e.dataEvents;
                         socket.Close();
                       },
                       [&](int n, const std::string& d) { e.errors.emplace_back(n, d); });
    peer->write("\x01\x02\x03", 3);
    peer->close();
    ASSERT_TRUE(RunUntil([&] { return e.dataEvents == 1; }, 3000));
    RunFor(200);
    EXPECT_EQ(e.dataEvents, 1);
    EXPECT_TRUE(e.errors.empty());
    EXPECT_EQ(socket.State(), 0);
    // The same socket connects again, and its events come through.
    socket.SetHandlers([&] { ++e.connects; }, [] {}, [&](int n, const std::string& d) { e.errors.emplace_back(n, d); });
    socket.Connect("127.0.0.1", Port());
    ASSERT_TRUE(RunUntil([&] { return e.connects == 2; }, 3000));
    EXPECT_EQ(socket.State(), 7);
  }
}

// ---- serial port -----------------------------------------------------------------

// Two pseudo-terminals joined by socat, as links a and b in a temporary folder.
class SocatPair {
 public:
  bool Start() {
    if (!dir_.isValid()) return false;
    process_.setProgram("socat");
    process_.setArguments({"-d", "-d", "pty,raw,echo=0,link=" + Path("a"), "pty,raw,echo=0,link=" + Path("b")});
    process_.start();
    if (!process_.waitForStarted(5000)) return false;
    return RunUntil([&] { return QFileInfo::exists(Path("a")) && QFileInfo::exists(Path("b")); }, 5000);
  }
  // Ends socat at once: both pseudo-terminals go away under their users.
  void Kill() {
    process_.kill();
    process_.waitForFinished(5000);
  }
  ~SocatPair() {
    if (process_.state() != QProcess::NotRunning) Kill();
  }
  std::string A() const { return Path("a").toStdString(); }
  std::string B() const { return Path("b").toStdString(); }

 private:
  QString Path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }

  QTemporaryDir dir_;
  QProcess process_;
};

struct SerialEvents {
  int readyReads = 0;
  std::vector<std::string> gone;
  Frame received;
};

void Attach(platform::SerialPort& port, SerialEvents& e) {
  port.SetHandlers(
      [&] {
        ++e.readyReads;
        const Frame chunk = port.ReadAll();
        e.received.insert(e.received.end(), chunk.begin(), chunk.end());
      },
      [&](const std::string& reason) { e.gone.push_back(reason); });
}

TEST(QtSerialPortTest, OpensWithTheLineSettingsAndCarriesEveryByteValue) {
  struct Case {
    platform::SerialSettings settings;
    speed_t speed;
    bool oddParity;
    bool twoStopBits;
  };
  const Case cases[] = {
      {{9600, 'n', 8, 1}, B9600, false, false},
      {{19200, 'e', 8, 2}, B19200, false, true},
      {{4800, 'o', 8, 1}, B4800, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.settings.baud) + c.settings.parity);
    SocatPair pair;
    ASSERT_TRUE(pair.Start());
    // A descriptor of our own on the same terminal shows the settings the
    // port applies (opened first: the port then takes the terminal exclusively).
    const int probe = ::open(pair.A().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(probe, 0);

    qt::QtSerialPort a, b;
    SerialEvents ea, eb;
    Attach(a, ea);
    Attach(b, eb);
    std::string error;
    ASSERT_TRUE(a.Open(pair.A(), c.settings, error)) << error;  // a full path as the name
    ASSERT_TRUE(b.Open(pair.B(), {}, error)) << error;
    EXPECT_TRUE(a.IsOpen());

    termios tio{};
    ASSERT_EQ(::tcgetattr(probe, &tio), 0);
    ::close(probe);
    EXPECT_EQ(::cfgetospeed(&tio), c.speed);
    EXPECT_EQ((tio.c_cflag & CSIZE), static_cast<tcflag_t>(CS8));
    // The pseudo-terminal driver keeps CS8 and drops PARENB, but PARODD
    // tells odd from even.
    EXPECT_EQ((tio.c_cflag & PARODD) != 0, c.oddParity);
    EXPECT_EQ((tio.c_cflag & CSTOPB) != 0, c.twoStopBits);

    const Frame out = AllByteValues();
    a.Write(out);
    ASSERT_TRUE(RunUntil([&] { return eb.received.size() >= out.size(); }, 3000));
    EXPECT_EQ(eb.received, out);
    const Frame back(out.rbegin(), out.rend());
    b.Write(back);
    ASSERT_TRUE(RunUntil([&] { return ea.received.size() >= back.size(); }, 3000));
    EXPECT_EQ(ea.received, back);

    // Bytes on their way when the port closes are not reported.
    const int readsBefore = ea.readyReads;
    b.Write({1, 2, 3});
    QThread::msleep(50);
    QCoreApplication::processEvents();
    a.Close();
    EXPECT_FALSE(a.IsOpen());
    RunFor(100);
    EXPECT_EQ(ea.readyReads, readsBefore);
    EXPECT_TRUE(ea.gone.empty());
    EXPECT_TRUE(eb.gone.empty());
  }
}

TEST(QtSerialPortTest, FailedOpenGivesTheReasonAndLeavesThePortClosed) {
  SocatPair pair;
  ASSERT_TRUE(pair.Start());
  struct Case {
    std::string name;
    platform::SerialSettings settings;
  };
  const Case cases[] = {
      {pair.A() + "-missing", {}},   {pair.A(), {0, 'n', 8, 1}},    {pair.A(), {9600, 'x', 8, 1}},
      {pair.A(), {9600, 'n', 9, 1}}, {pair.A(), {9600, 'n', 8, 3}},
  };
  qt::QtSerialPort port;
  SerialEvents e;
  Attach(port, e);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name + " " + std::to_string(c.settings.baud) + c.settings.parity +
                 std::to_string(c.settings.dataBits) + std::to_string(c.settings.stopBits));
    std::string error;
    EXPECT_FALSE(port.Open(c.name, c.settings, error));
    EXPECT_FALSE(error.empty());
    EXPECT_NE(error, "Unknown error");
    EXPECT_FALSE(port.IsOpen());
  }
  // A failed attempt does not spoil the next one.
  std::string error;
  EXPECT_TRUE(port.Open(pair.A(), {}, error)) << error;
  RunFor(50);
  EXPECT_TRUE(e.gone.empty());
}

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

TEST(QtSerialPortTest, VanishedPortIsClosedAndReportedOnceWithoutSpinning) {
  SocatPair pair;
  ASSERT_TRUE(pair.Start());
  qt::QtSerialPort port;
  SerialEvents e;
  Attach(port, e);
  std::string error;
  ASSERT_TRUE(port.Open(pair.A(), {}, error)) << error;
  RunFor(50);

  pair.Kill();
  ASSERT_TRUE(RunUntil([&] { return !e.gone.empty(); }, 5000));
  EXPECT_FALSE(port.IsOpen());
  EXPECT_FALSE(e.gone[0].empty());

  const double before = CpuSeconds();
  RunFor(500);
  const double spent = CpuSeconds() - before;
  EXPECT_LT(spent, 0.2);
  EXPECT_EQ(e.gone.size(), 1u);
  EXPECT_FALSE(port.IsOpen());
}

// ---- port list, settings, the bundle -------------------------------------------------

TEST(QtPortListTest, ExtraPortsFollowTheSystemPortsOnceEach) {
  qt::QtPortList list;
  const size_t systemPorts = list.Ports().size();
  list.AddExtraPort("/tmp/vesk-test/ttyV0");
  list.AddExtraPort("/tmp/vesk-test/ttyV1");
  list.AddExtraPort("/tmp/vesk-test/ttyV0");
  const std::vector<platform::PortInfo> ports = list.Ports();
  ASSERT_EQ(ports.size(), systemPorts + 2);
  EXPECT_EQ(ports[systemPorts].name, "/tmp/vesk-test/ttyV0");
  EXPECT_EQ(ports[systemPorts + 1].name, "/tmp/vesk-test/ttyV1");
  for (size_t i = 0; i < systemPorts; ++i) EXPECT_FALSE(ports[i].name.empty());
}

TEST(QtSettingsStoreTest, TextRoundTripsThroughTheUsersConfigFile) {
  const QString home = qEnvironmentVariable("XDG_CONFIG_HOME");
  ASSERT_FALSE(home.isEmpty());
  const QString file =
      home + "/VeskTarvelo/" + QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName() + ".conf";
  const std::pair<std::string, std::string> values[] = {
      {"txtTcpHost", "127.0.0.1"}, {"Empty", ""},        {"List", "a, b,c"},
      {"Padded", "  x  "},         {"Utf8", "Größe µs"}, {"Specials", "x=1;#y\"z\\ [main]\n2"},
  };
  {
    qt::QtSettingsStore store;
    EXPECT_EQ(store.Location(), file.toStdString());
    for (const auto& [key, value] : values) EXPECT_TRUE(store.Write("main", key, value));
    store.Flush();
  }
  QFile raw(file);
  ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
  const QByteArray text = raw.readAll();
  EXPECT_TRUE(text.contains("[main]"));
  EXPECT_TRUE(text.contains("txtTcpHost=127.0.0.1"));

  qt::QtSettingsStore again;
  for (const auto& [key, value] : values) EXPECT_EQ(again.Read("main", key), value) << key;
  EXPECT_EQ(again.Read("main", "Missing"), std::nullopt);
  EXPECT_EQ(again.Read("other", "txtTcpHost"), std::nullopt);
}

TEST(QtSettingsStoreTest, HandEditedListValueReadsAsItsText) {
  const QString dir = qEnvironmentVariable("XDG_CONFIG_HOME") + "/VeskTarvelo";
  ASSERT_TRUE(QDir().mkpath(dir));
  QFile raw(dir + "/hand_edited.conf");
  ASSERT_TRUE(raw.open(QIODevice::WriteOnly));
  raw.write("[main]\ntxtTcpHost=a,b\ntxtTcpPort=502\n");
  raw.close();
  qt::QtSettingsStore store("hand_edited");
  EXPECT_EQ(store.Read("main", "txtTcpHost"), "a,b");
  EXPECT_EQ(store.Read("main", "txtTcpPort"), "502");
}

TEST(QtPlatformTest, BundleHasEveryPartAndALocalClock) {
  const platform::Platform p = qt::MakePlatform();
  ASSERT_TRUE(p.clock && p.timers && p.serial && p.ports && p.socket && p.settings && p.clipboard && p.beeper &&
              p.events && p.desktop && p.locale);
  EXPECT_FALSE(p.locale->DecimalSeparator().empty());
  EXPECT_FALSE(p.desktop->OpenUrl("https://example.com/"));

  const LocalTime t = p.clock->Now();
  const QDateTime now(QDate(t.year, t.month, t.day), QTime(t.hour, t.minute, t.second, t.millisecond));
  ASSERT_TRUE(now.isValid());
  EXPECT_LT(std::abs(now.msecsTo(QDateTime::currentDateTime())), 1000);

  const int64_t start = p.clock->MonotonicMs();
  p.clock->Sleep(30);
  EXPECT_GE(p.clock->MonotonicMs() - start, 30);
}

}  // namespace
