// vesktarvelo-cli as a script runs it: the built program against the bundled
// slave (TCP, RTU on a pseudo-terminal pair, RTU over TCP through the bridge)
// and the fault peer (also in the ASCII modes), its output parsed back and its
// exit status checked.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "peer_harness.h"

namespace {

using Rows = std::vector<std::string>;

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

Rows Lines(const std::string& text) {
  Rows lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Runs the program with `args`; with `interruptAfter`, sends SIGINT once standard output holds
// that many lines. Bounded: killed after 15 s.
Result RunCli(const Rows& args, int interruptAfter = 0) {
  QStringList list;
  for (const std::string& a : args) list << QString::fromStdString(a);
  QProcess p;
  p.start(VESK_CLI_PATH, list);
  Result r;
  for (int i = 0; interruptAfter > 0 && i < 150 && p.state() != QProcess::NotRunning; ++i) {
    p.waitForReadyRead(100);
    r.out += p.readAllStandardOutput().toStdString();
    if (std::count(r.out.begin(), r.out.end(), '\n') >= interruptAfter) {
      ::kill(static_cast<pid_t>(p.processId()), SIGINT);
      break;
    }
  }
  if (!p.waitForFinished(15000)) p.kill(), p.waitForFinished(2000);
  r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out += p.readAllStandardOutput().toStdString();
  r.err = p.readAllStandardError().toStdString();
  return r;
}

Rows Cat(Rows a, const Rows& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

using vesk::test::Peer;

Rows Tcp(int port, const Rows& more) {
  return Cat({"--host", "127.0.0.1", "--port", std::to_string(port), "--timeout", "500"}, more);
}

// The same reads over the three links give the slave's contents.
TEST(CliRun, ReadsTheSlaveOverEveryLink) {
  Peer tcp;
  const int port = tcp.TcpSlave();
  ASSERT_GT(port, 0);
  vesk::test::PtyPair pair;
  ASSERT_TRUE(pair.Open());
  Peer rtu;
  ASSERT_TRUE(rtu.Slave({"--rtu", pair.B()}));
  vesk::test::TcpToPtyBridge bridge;
  ASSERT_TRUE(bridge.Open());
  Peer bridged;
  ASSERT_TRUE(bridged.Slave({"--rtu", bridge.PtyPath()}));

  const std::vector<std::pair<std::string, Rows>> links = {
      {"tcp", {"--host", "127.0.0.1", "--port", std::to_string(port)}},
      {"rtu", {"--mode", "rtu", "--device", pair.A()}},
      {"rtu-over-tcp", {"--mode", "rtu-over-tcp", "--host", "127.0.0.1", "--port", std::to_string(bridge.Port())}},
  };
  struct Case {
    Rows args;
    Rows lines;
  };
  const Case cases[] = {
      {{"--address", "5", "--quantity", "3"}, {"00005: 5", "00006: 6", "00007: 7"}},
      {{"--function", "1", "--address", "2", "--quantity", "3"}, {"00002: 0", "00003: 1", "00004: 0"}},
      {{"--address", "100", "--quantity", "6", "--type", "FLOAT_ABCD"},
       {"00100: 1", "00102: 5.6904566e-28", "00104: NaN"}},
  };
  for (const auto& [name, link] : links) {
    for (const Case& c : cases) {
      Rows args = link;
      args.insert(args.end(), c.args.begin(), c.args.end());
      SCOPED_TRACE(name + " " + ::testing::PrintToString(c.args));
      const Result r = RunCli(args);
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(Lines(r.out), c.lines);
      EXPECT_EQ(r.err, "");
    }
  }
}

// Writes reach the slave and show in the read after them; each request on
// the wire is the one asked for.
TEST(CliRun, WritesAndReadsBack) {
  Peer slave;
  const int port = slave.TcpSlave();
  ASSERT_GT(port, 0);
  const struct {
    Rows args;
    Rows lines;
    std::string wire;  // the request logged, when given
  } steps[] = {
      {{"-f", "16", "-a", "20", "-t", "FLOAT_ABCD", "-w", "1.5,-2"},
       {},
       "00 01 00 00 00 0F 01 10 00 14 00 04 08 3F C0 00 00 C0 00 00 00"},
      {{"-a", "20", "-q", "4", "-t", "FLOAT_ABCD"}, {"00020: 1.5", "00022: -2"}, ""},
      {{"-f", "23", "-a", "49", "-q", "4", "--write-address", "50", "-w", "7,8,-9"},
       {"00049: 49", "00050: 7", "00051: 8", "00052: -9"},
       "00 01 00 00 00 11 01 17 00 31 00 04 00 32 00 03 06 00 07 00 08 FF F7"},
      // --raw goes out as typed.
      {{"--raw", "00 07 00 00 00 06 01 03 00 00 00 01"}, {}, "00 07 00 00 00 06 01 03 00 00 00 01"},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(::testing::PrintToString(step.args));
    const Result r = RunCli(Tcp(port, step.args));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Lines(r.out), step.lines) << r.out;
    if (!step.wire.empty()) {
      EXPECT_EQ(slave.Requests().back(), "REQ " + step.wire);
    }
  }
}

// Against scripted answers: a device identification chain followed to its
// end in a second request, an echo fault and an exception.
TEST(CliRun, FurtherFunctionsAgainstScriptedAnswers) {
  const std::string object0 = "reply TID 00 00 LEN UID FC 0E 01 01 FF 01 01 00 04 41 63 6D 65\n";
  const struct {
    std::string script;
    Rows args;
    int status;
    Rows lines;
    std::string lastRequest;  // the tail of the last request logged
  } cases[] = {
      {object0 + "reply TID 00 00 LEN UID FC 0E 01 01 00 00 01 01 02 56 31\n",
       {"-f", "43"},
       0,
       {"00 VendorName: Acme", "01 ProductCode: V1"},
       "2B 0E 01 01"},
      {"reply TID 00 00 LEN UID FC 00 00 A5 38\n", {"-f", "8", "-w", "0xA537"}, 6, {}, "08 00 00 A5 37"},
      {"reply TID 00 00 LEN UID EFC 01\n",
       {"-f", "43", "--read-code", "4", "--object-id", "0x81"},
       5,
       {},
       "2B 0E 04 81"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    Peer peer;
    const int port = peer.FaultPeer(c.script);
    ASSERT_GT(port, 0);
    const Result r = RunCli(Tcp(port, c.args));
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(Lines(r.out), c.lines) << r.out;
    EXPECT_EQ(r.err.empty(), c.status == 0) << r.err;
    const Rows wire = peer.Requests();
    ASSERT_FALSE(wire.empty());
    EXPECT_EQ(wire.back().substr(wire.back().size() - c.lastRequest.size()), c.lastRequest);
    EXPECT_EQ(wire.size(), c.args[1] == "43" && c.status == 0 ? 2u : 1u);
  }
}

// Back-to-back polls: one request per poll, numbered without a gap, each
// reported in turn, whatever the answer (or its absence) was.
TEST(CliRun, BackToBackPollsKeepTheirOrder) {
  Peer peer;
  const int port = peer.FaultPeer("echo\ndrop\necho\nreply TID 00 00 LEN UID EFC 02\necho\n");
  ASSERT_GT(port, 0);
  const Result r = RunCli(Tcp(port, {"--polls", "5", "--interval", "0", "--timeout", "300", "--json"}));
  EXPECT_EQ(r.status, 4) << r.err;
  Rows outcomes;
  for (const std::string& line : Lines(r.out))
    outcomes.push_back(
        QJsonDocument::fromJson(QByteArray::fromStdString(line)).object()["outcome"].toString().toStdString());
  EXPECT_EQ(outcomes, (Rows{"ok", "timeout", "ok", "exception", "ok"})) << r.out;
  Rows ids;
  for (const std::string& request : peer.Requests()) ids.push_back(request.substr(4, 5));
  EXPECT_EQ(ids, (Rows{"00 01", "00 02", "00 03", "00 04", "00 05"}));
}

// Every exit status, and the one stderr line that names what went wrong.
TEST(CliRun, ExitStatusIsTheMostSevereOutcome) {
  Peer slave;
  const int port = slave.TcpSlave();
  ASSERT_GT(port, 0);
  Peer tid, crc;
  const int tidPort = tid.FaultPeer("reply 00 99 00 00 00 05 UID 03 02 00 07\n");
  const int crcPort = crc.FaultPeer("reply 01 03 02 00 07 00 00\n", {"--rtu"});
  ASSERT_TRUE(tidPort > 0 && crcPort > 0);
  const int closed = vesk::test::FreeTcpPort();
  struct Case {
    Rows args;
    int status;
    std::string errHas;
  };
  const Case cases[] = {
      {Tcp(port, {"--address", "1"}), 0, ""},
      {Tcp(port, {"--address", "1000"}), 5, "Illegal Data Address"},
      {Tcp(port, {"--slave", "7"}), 4, "Timeout"},
      // A broadcast write gets no answer and wants none.
      {Tcp(port, {"--slave", "0", "--function", "6", "--address", "40", "--values", "1"}), 0, ""},
      {Tcp(closed, {}), 3, "refused"},
      {Tcp(tidPort, {}), 6, "Transaction ID"},
      {{"--mode", "rtu-over-tcp", "--host", "127.0.0.1", "--port", std::to_string(crcPort), "--timeout", "500"},
       6,
       "Checksum"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const Result r = RunCli(c.args);
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    if (c.errHas.empty()) {
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
      EXPECT_NE(r.err.find(c.errHas), std::string::npos) << r.err;
    }
  }
}

// Bad options (each refusal's text is the front's table) and serial devices
// that are missing, no serial port or may not be opened: one line on stderr,
// status 2, and nothing on either wire.
TEST(CliRun, UsageErrorsSendNothing) {
  Peer slave;
  const int port = slave.TcpSlave();
  ASSERT_GT(port, 0);
  vesk::test::PtyPair pair;
  ASSERT_TRUE(pair.Open());
  Peer rtu;
  ASSERT_TRUE(rtu.Slave({"--rtu", pair.B()}));
  const std::string file = pair.Dir() + "/plain-file";
  std::ofstream(file) << "x";
  struct Case {
    Rows args;
    std::string errHas;
  };
  std::vector<Case> cases = {
      {Tcp(port, {"--address", "70000"}), "70000"},
      {Tcp(port, {"--no-such-option"}), "no-such-option"},
      {{"--mode", "rtu", "--device", "/dev/vesk-no-such-port"}, "No such file"},
      {{"--mode", "rtu", "--device", file}, "not a serial port"},
      {{"--mode", "rtu", "--device", pair.A(), "--baud", "fast"}, "fast"},
  };
  // Root may open anything: the permission case needs an ordinary user.
  if (::geteuid() != 0) cases.push_back({{"--mode", "rtu", "--device", "/dev/console"}, "Permission denied"});
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const Result r = RunCli(c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    ASSERT_EQ(Lines(r.err).size(), 1u) << r.err;
    EXPECT_EQ(r.err.rfind("vesktarvelo-cli: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(c.errHas), std::string::npos) << r.err;
  }
  EXPECT_TRUE(slave.Requests().empty());
  EXPECT_TRUE(rtu.Requests().empty());
}

// JSON lines and CSV rows of the real program parse back to the slave's values (each field of
// both formats is the front's test).
TEST(CliRun, JsonAndCsvParseBack) {
  Peer slave;
  const int port = slave.TcpSlave();
  ASSERT_GT(port, 0);
  const Result json =
      RunCli(Tcp(port, {"--address", "110", "--quantity", "2", "--json", "--polls", "2", "--interval", "10"}));
  EXPECT_EQ(json.status, 0) << json.err;
  const Rows lines = Lines(json.out);
  ASSERT_EQ(lines.size(), 2u) << json.out;
  for (const std::string& line : lines) {
    const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
    EXPECT_EQ(o["address"].toInt(), 110);
    EXPECT_EQ(o["values"].toArray(), (QJsonArray{-32768, -1}));
  }
  const Result csv = RunCli(Tcp(port, {"--function", "1", "--address", "0", "--quantity", "4", "--csv"}));
  EXPECT_EQ(csv.status, 0) << csv.err;
  const Rows rows = Lines(csv.out);
  ASSERT_EQ(rows.size(), 2u);
  const QStringList head = QString::fromStdString(rows[0]).split(','), row = QString::fromStdString(rows[1]).split(',');
  const auto at = head.indexOf(QStringLiteral("values"));
  ASSERT_TRUE(at >= 0 && at < row.size()) << rows[0];
  EXPECT_EQ(row[at].toStdString(), "1;0;0;1");
}

// Colour only when standard output is a terminal (auto), never in a pipe.
TEST(CliRun, ColourOnlyOnATerminal) {
  Peer slave;
  const int port = slave.TcpSlave();
  ASSERT_GT(port, 0);
  const Rows args = Tcp(port, {"--address", "1000", "--verbose"});
  const Result piped = RunCli(args);
  EXPECT_EQ(piped.status, 5);
  EXPECT_EQ(piped.out.find('\x1b'), std::string::npos);
  EXPECT_NE(piped.out.find("Illegal Data Address"), std::string::npos);

  int master = -1;
  const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::setenv("TERM", "xterm", 1);
    ::unsetenv("NO_COLOR");
    std::vector<char*> argv{const_cast<char*>(VESK_CLI_PATH)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(VESK_CLI_PATH, argv.data());
    ::_exit(127);
  }
  std::string text;
  char buf[4096];
  for (int i = 0; i < 100; ++i) {
    pollfd fd{master, POLLIN, 0};
    const ssize_t n = ::poll(&fd, 1, 100) > 0 ? ::read(master, buf, sizeof buf) : 1;
    if (n <= 0) break;
    if (fd.revents) text.append(buf, static_cast<size_t>(n));
  }
  int raw = 0;
  ::waitpid(pid, &raw, 0);
  ::close(master);
  EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 5) << raw;
  EXPECT_NE(text.find("\x1b["), std::string::npos) << text;
}

// Ctrl+C while polling: the summary, and the status of what happened so far.
TEST(CliRun, InterruptPrintsTheSummary) {
  Peer slave;
  const int port = slave.TcpSlave();
  ASSERT_GT(port, 0);
  const Result ok = RunCli(Tcp(port, {"--polls", "0", "--interval", "20"}), 3);
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_NE(ok.out.find("--- statistics ---"), std::string::npos) << ok.out;
  const Result exc = RunCli(Tcp(port, {"--address", "1000", "--polls", "0", "--interval", "20", "--json"}), 2);
  EXPECT_EQ(exc.status, 5);
  EXPECT_NE(Lines(exc.out).back().find("\"statistics\""), std::string::npos) << exc.out;
}

// The ASCII modes against the fault peer answering in ASCII, on the socket and on a pty pair: the
// frame sent, a good answer's values, and a bad LRC reported with a protocol error's status.
TEST(CliRun, AsciiOverTcpAndOnAPseudoTerminal) {
  vesk::test::PtyPair pair;
  ASSERT_TRUE(pair.Open());
  const std::string script = "reply 01 03 04 00 0A 00 0B LRC\nreply 01 03 04 00 0A 00 0B 00\n";
  for (const bool serial : {false, true}) {
    SCOPED_TRACE(serial ? "serial" : "socket");
    Peer peer;
    int port = 0;
    ASSERT_TRUE(serial ? peer.FaultDevice(pair.B(), script, {"--ascii"})
                       : (port = peer.FaultPeer(script, {"--ascii"})) > 0);
    const Rows read =
        Cat(serial ? Rows{"--mode", "ascii", "--device", pair.A()}
                   : Rows{"--mode", "ascii-over-tcp", "--host", "127.0.0.1", "--port", std::to_string(port)},
            {"--slave", "1", "--function", "3", "--address", "0", "--quantity", "2"});
    const Result good = RunCli(read);
    EXPECT_EQ(good.status, 0) << good.err;
    EXPECT_EQ(good.out, "00000: 10\n00001: 11\n");
    // ":010300000002FA" CR LF as the peer received it.
    EXPECT_EQ(peer.Requests(), Rows{"REQ 3A 30 31 30 33 30 30 30 30 30 30 30 32 46 41 0D 0A"});
    const Result bad = RunCli(Cat(read, {"--verbose"}));
    EXPECT_EQ(bad.status, 6);  // a protocol error
    EXPECT_NE((bad.out + bad.err).find("Bad LRC (expected E3)"), std::string::npos) << bad.out << bad.err;
  }
}

}  // namespace
