// vesktarvelo-cli as a script runs it: the built program against the bundled slave (TCP, RTU on a
// pseudo-terminal pair, RTU over TCP through the bridge) and the fault peer (also in the ASCII
// modes), its output parsed back and its exit status checked.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <sstream>

#include "peer_harness.h"

namespace {

using Rows = std::vector<std::string>;
using vesk::test::Peer;

struct Result {
  int status = -1;
  std::string out, err;
};

Rows Lines(const std::string& text) {
  Rows lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

QJsonObject Json(const std::string& line) { return QJsonDocument::fromJson(QByteArray::fromStdString(line)).object(); }

// Runs the program; with `interruptAfter`, sends SIGINT once standard output holds that many lines.
// Bounded: killed after 15 s.
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

Rows Tcp(int port, const Rows& more) {
  return Cat({"--host", "127.0.0.1", "--port", std::to_string(port), "--timeout", "500"}, more);
}

// A read over each of the three links gives the slave's contents.
TEST(CliRun, ReadsTheSlaveOverEveryLink) {
  Peer tcp, rtu, bridged;
  const int port = tcp.TcpSlave();
  vesk::test::PtyPair pair;
  vesk::test::TcpToPtyBridge bridge;
  ASSERT_TRUE(port > 0 && pair.Open() && bridge.Open());
  ASSERT_TRUE(rtu.Slave({"--rtu", pair.B()}) && bridged.Slave({"--rtu", bridge.PtyPath()}));
  const Rows links[] = {{"--host", "127.0.0.1", "--port", std::to_string(port)},
                        {"--mode", "rtu", "--device", pair.A()},
                        {"--mode", "rtu-over-tcp", "--host", "127.0.0.1", "--port", std::to_string(bridge.Port())}};
  for (const Rows& link : links) {
    SCOPED_TRACE(::testing::PrintToString(link));
    const Result r = RunCli(Cat(link, {"--address", "5", "--quantity", "3"}));
    EXPECT_EQ(std::tuple(r.status, Lines(r.out), r.err), std::tuple(0, Rows{"00005: 5", "00006: 6", "00007: 7"}, ""));
  }
}

// Writes reach the slave and show in the read after them; each request on the wire is the one asked
// for (--raw goes out as typed).
TEST(CliRun, WritesAndReadsBack) {
  Peer slave;
  const int port = slave.TcpSlave();
  ASSERT_GT(port, 0);
  const std::tuple<Rows, Rows, std::string> steps[] = {
      {{"-f", "16", "-a", "20", "-t", "FLOAT_ABCD", "-w", "1.5,-2"},
       {},
       "00 01 00 00 00 0F 01 10 00 14 00 04 08 3F C0 00 00 C0 00 00 00"},
      {{"-a", "20", "-q", "4", "-t", "FLOAT_ABCD"}, {"00020: 1.5", "00022: -2"}, ""},
      {{"-f", "23", "-a", "49", "-q", "4", "--write-address", "50", "-w", "7,8,-9"},
       {"00049: 49", "00050: 7", "00051: 8", "00052: -9"},
       "00 01 00 00 00 11 01 17 00 31 00 04 00 32 00 03 06 00 07 00 08 FF F7"},
      {{"--raw", "00 07 00 00 00 06 01 03 00 00 00 01"}, {"0x0000: 0"}, "00 07 00 00 00 06 01 03 00 00 00 01"},
      // A 32-bit value written with function 6: one request a register.
      {{"-f", "6", "-a", "30", "-t", "FLOAT_ABCD", "-w", "1.5"},
       {"00030: 16320", "00031: 0"},
       "00 02 00 00 00 06 01 06 00 1F 00 00"},
      {{"-a", "30", "-q", "2", "-t", "FLOAT_ABCD"}, {"00030: 1.5"}, ""},
  };
  for (const auto& [args, lines, wire] : steps) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const Result r = RunCli(Tcp(port, args));
    EXPECT_EQ(std::pair(r.status, Lines(r.out)), std::pair(0, lines)) << r.err;
    if (!wire.empty()) {
      EXPECT_EQ(slave.Requests().back(), "REQ " + wire);
    }
  }
}

// Against scripted answers: a device identification chain followed to its end in a second request;
// then back-to-back polls, one request a poll, numbered without a gap, each reported in turn
// whatever the answer (or its absence) was.
TEST(CliRun, ScriptedAnswersAndBackToBackPolls) {
  Peer chain;
  const int chainPort = chain.FaultPeer(
      "reply TID 00 00 LEN UID FC 0E 01 01 FF 01 01 00 04 41 63 6D 65\n"
      "reply TID 00 00 LEN UID FC 0E 01 01 00 00 01 01 02 56 31\n");
  ASSERT_GT(chainPort, 0);
  const Result objects = RunCli(Tcp(chainPort, {"-f", "43"}));
  EXPECT_EQ(std::tuple(objects.status, Lines(objects.out), objects.err),
            std::tuple(0, Rows{"00 VendorName: Acme", "01 ProductCode: V1"}, ""));
  const Rows asked = chain.Requests();
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[1].substr(asked[1].size() - 11), "2B 0E 01 01");
  // A late answer still waiting when the next request goes out is dropped, and the traffic rows say so.
  vesk::test::PtyPair pair;
  Peer late;
  ASSERT_TRUE(pair.Open() && late.FaultDevice(pair.B(), "delay 700 echo\n"));
  const Result dropped = RunCli(
      {"--mode", "rtu", "--device", pair.A(), "--timeout", "300", "--polls", "2", "--interval", "600", "--verbose"});
  EXPECT_NE(dropped.out.find("  Dropped 7 unread bytes\n"), std::string::npos) << dropped.out;
  // Back to back on a serial line, the next request still waits out the line's silence (33 ms at
  // 1200 baud): bytes sent behind an answer are dropped then, not read as the next poll's answer.
  late.Stop();
  Peer tail;
  ASSERT_TRUE(tail.FaultDevice(pair.B(), "chunks 2 01 03 02 00 07 CRC | AA BB\n"));
  const Result tailed =
      RunCli({"--mode", "rtu", "--device", pair.A(), "--baud", "1200", "--polls", "3", "--interval", "0"});
  EXPECT_EQ(tailed.status, 0) << tailed.out << tailed.err;
  // A slave that closes the connection between two polls: said so before the next connect.
  Peer closing;
  const int closingPort = closing.TcpSlave({"--close-after", "1"});
  ASSERT_GT(closingPort, 0);
  const Result closed = RunCli(Tcp(closingPort, {"--polls", "2", "--interval", "200", "--verbose"}));
  EXPECT_NE(closed.out.find("  Slave closed the connection: "), std::string::npos) << closed.out;
  Peer peer;
  const int port = peer.FaultPeer("echo\ndrop\necho\nreply TID 00 00 LEN UID EFC 02\necho\n");
  ASSERT_GT(port, 0);
  const Result r = RunCli(Tcp(port, {"--polls", "5", "--interval", "0", "--timeout", "300", "--json"}));
  EXPECT_EQ(r.status, 4) << r.err;
  Rows outcomes, ids;
  for (const std::string& line : Lines(r.out)) outcomes.push_back(Json(line)["outcome"].toString().toStdString());
  EXPECT_EQ(outcomes, (Rows{"ok", "timeout", "ok", "exception", "ok"})) << r.out;
  for (const std::string& request : peer.Requests()) ids.push_back(request.substr(4, 5));
  EXPECT_EQ(ids, (Rows{"00 01", "00 02", "00 03", "00 04", "00 05"}));
}

// A bad option (each refusal's text is the front's table) and serial devices that are missing or
// may not be opened: one line on stderr, status 2, nothing on the wire. Then every other exit
// status with the one stderr line that names what went wrong.
TEST(CliRun, ExitStatusesAndTheirLines) {
  Peer slave, tid;
  const int port = slave.TcpSlave();
  ASSERT_GT(port, 0);
  std::vector<std::pair<Rows, std::string>> usage = {
      {Tcp(port, {"--address", "70000"}), "70000"},
      {{"--mode", "rtu", "--device", "/dev/vesk-no-such-port"}, "No such file"},
  };
  // Root may open anything: the permission case needs an ordinary user.
  if (::geteuid() != 0) usage.push_back({{"--mode", "rtu", "--device", "/dev/console"}, "Permission denied"});
  for (const auto& [args, errHas] : usage) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const Result r = RunCli(args);
    EXPECT_EQ(std::tuple(r.status, r.out, Lines(r.err).size()), std::tuple(2, "", 1u)) << r.err;
    EXPECT_EQ(r.err.rfind("vesktarvelo-cli: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(errHas), std::string::npos) << r.err;
  }
  EXPECT_TRUE(slave.Requests().empty());

  const int tidPort = tid.FaultPeer("reply 00 99 00 00 00 05 UID 03 02 00 07\n");
  ASSERT_GT(tidPort, 0);
  const std::tuple<Rows, int, std::string> cases[] = {
      {Tcp(port, {"--address", "1000"}), 5, "Illegal Data Address"},
      {Tcp(port, {"--slave", "7"}), 4, "Timeout"},
      // A broadcast write gets no answer and wants none.
      {Tcp(port, {"--slave", "0", "--function", "6", "--address", "40", "--values", "1"}), 0, ""},
      {Tcp(vesk::test::FreeTcpPort(), {}), 3, "refused"},
      {Tcp(tidPort, {}), 6, "Transaction ID"},
  };
  for (const auto& [args, status, errHas] : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const Result r = RunCli(args);
    EXPECT_EQ(r.status, status) << r.out << r.err;
    EXPECT_EQ(Lines(r.err).size(), errHas.empty() ? 0u : 1u) << r.err;
    EXPECT_NE(r.err.find(errHas), std::string::npos) << r.err;
  }
}

// CSV rows of the real program parse back to the slave's values (each field of both formats is the
// front's test); colour only when standard output is a terminal; Ctrl+C while polling prints the
// summary (as JSON with --json) and the status of what happened so far.
TEST(CliRun, OutputFormatsColourAndInterrupt) {
  Peer slave;
  const int port = slave.TcpSlave();
  ASSERT_GT(port, 0);
  const Result csv = RunCli(Tcp(port, {"--function", "1", "--address", "0", "--quantity", "4", "--csv"}));
  const Rows rows = Lines(csv.out);
  ASSERT_EQ(rows.size(), 2u) << csv.err;
  const QStringList head = QString::fromStdString(rows[0]).split(','), row = QString::fromStdString(rows[1]).split(',');
  ASSERT_TRUE(head.indexOf("values") >= 0 && head.indexOf("values") < row.size()) << rows[0];
  EXPECT_EQ(std::pair(csv.status, row[head.indexOf("values")].toStdString()), std::pair(0, std::string("1;0;0;1")));

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

  const Result ok = RunCli(Tcp(port, {"--polls", "0", "--interval", "20"}), 3);
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_NE(ok.out.find("--- statistics ---"), std::string::npos) << ok.out;
  const Result exc = RunCli(Tcp(port, {"--address", "1000", "--polls", "0", "--interval", "20", "--json"}), 2);
  EXPECT_EQ(exc.status, 5);
  EXPECT_NE(Lines(exc.out).back().find("\"statistics\""), std::string::npos) << exc.out;

  // A reader that stops reading (a pipe into head) ends a poll until interrupted, by SIGPIPE (141;
  // 124 when the time-out has to end it).
  QProcess pipeline;
  pipeline.start("bash", {"-c", QString("set -o pipefail; timeout 5 '%1' -H 127.0.0.1 -p %2 -n 0 -i 10 | head -1")
                                    .arg(VESK_CLI_PATH)
                                    .arg(port)});
  EXPECT_TRUE(pipeline.waitForFinished(10000));
  EXPECT_EQ(pipeline.exitCode(), 141);
}

// The ASCII modes against the fault peer answering in ASCII, on the socket and on a pty pair: the
// frame sent and the answer's values.
TEST(CliRun, AsciiOverTcpAndOnAPseudoTerminal) {
  vesk::test::PtyPair pair;
  ASSERT_TRUE(pair.Open());
  const std::string script = "reply 01 03 04 00 0A 00 0B LRC\n";
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
    EXPECT_EQ(std::pair(good.status, good.out), std::pair(0, std::string("00000: 10\n00001: 11\n"))) << good.err;
    // ":010300000002FA" CR LF as the peer received it.
    EXPECT_EQ(peer.Requests(), Rows{"REQ 3A 30 31 30 33 30 30 30 30 30 30 30 32 46 41 0D 0A"});
  }
}

}  // namespace
