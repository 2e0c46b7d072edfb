// vesktarvelo-cli as a script runs it: the built program against the bundled
// slave (TCP, RTU on a pseudo-terminal pair, RTU over TCP through the bridge)
// and the fault peer, its output parsed back and its exit status checked.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <chrono>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "peer_harness.h"

namespace {

using Rows = std::vector<std::string>;
using std::chrono::milliseconds;

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

// Reads what is ready on `fd` into `into`; false at its end.
bool Drain(int fd, std::string& into) {
  char buf[4096];
  const ssize_t n = ::read(fd, buf, sizeof buf);
  if (n > 0) into.append(buf, static_cast<size_t>(n));
  return n > 0;
}

int StatusOf(int raw) { return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw); }

// Runs the program with `args`; with `interruptAfter`, sends SIGINT once
// standard output holds that many lines. Bounded: killed after 15 s.
Result RunCli(const Rows& args, int interruptAfter = 0) {
  int out[2], err[2];
  if (::pipe(out) != 0 || ::pipe(err) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    ::close(out[0]);
    ::close(err[0]);
    std::vector<char*> argv{const_cast<char*>(VESK_CLI_PATH)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(VESK_CLI_PATH, argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  Result r;
  bool outOpen = true, errOpen = true, interrupted = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while ((outOpen || errOpen) && std::chrono::steady_clock::now() < deadline) {
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    ::poll(fds, 2, 100);
    if (outOpen && fds[0].revents) outOpen = Drain(out[0], r.out);
    if (errOpen && fds[1].revents) errOpen = Drain(err[0], r.err);
    if (interruptAfter > 0 && !interrupted &&
        std::count(r.out.begin(), r.out.end(), '\n') >= static_cast<long>(interruptAfter)) {
      ::kill(pid, SIGINT);
      interrupted = true;
    }
  }
  if (outOpen || errOpen) ::kill(pid, SIGKILL);
  int raw = 0;
  ::waitpid(pid, &raw, 0);
  r.status = StatusOf(raw);
  ::close(out[0]);
  ::close(err[0]);
  return r;
}

Rows Lines(const std::string& text) {
  Rows lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A peer on 127.0.0.1 that logs each request it receives.
class Peer {
 public:
  Peer() : dir_(vesk::test::MakeTempDir("vesk-cli")) {}
  ~Peer() {
    proc_.Stop();
    vesk::test::RemoveTempDir(dir_);
  }
  std::string Slave(const Rows& args) { return Run(VESK_MODBUS_SLAVE_PATH, args); }
  std::string FaultPeer(const std::string& script, const Rows& extra = {}) {
    std::ofstream(dir_ + "/script.txt") << script;
    Rows args{"--port", "0", "--script", dir_ + "/script.txt"};
    args.insert(args.end(), extra.begin(), extra.end());
    return Run(VESK_FAULT_PEER_PATH, args);
  }
  Rows Requests() const {
    std::ifstream in(dir_ + "/requests.log");
    std::stringstream s;
    s << in.rdbuf();
    return Lines(s.str());
  }

 private:
  std::string Run(const char* program, Rows args) {
    args.insert(args.end(), {"--log", dir_ + "/requests.log"});
    if (!proc_.Start(program, args, dir_ + "/stderr.txt")) return "";
    return proc_.WaitReady().value_or("");
  }
  std::string dir_;
  vesk::test::PeerProcess proc_;
};

Rows Tcp(const std::string& port, Rows more) {
  Rows args{"--host", "127.0.0.1", "--port", port, "--timeout", "500"};
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

// The same reads over the three links give the slave's contents.
TEST(CliRun, ReadsTheSlaveOverEveryLink) {
  Peer tcp;
  const std::string port = tcp.Slave({"--tcp", "0"});
  ASSERT_FALSE(port.empty());
  vesk::test::PtyPair pair;
  ASSERT_TRUE(pair.Open());
  Peer rtu;
  ASSERT_FALSE(rtu.Slave({"--rtu", pair.B()}).empty());
  vesk::test::TcpToPtyBridge bridge;
  ASSERT_TRUE(bridge.Open());
  Peer bridged;
  ASSERT_FALSE(bridged.Slave({"--rtu", bridge.PtyPath()}).empty());

  const std::vector<std::pair<std::string, Rows>> links = {
      {"tcp", {"--host", "127.0.0.1", "--port", port}},
      {"rtu", {"--mode", "rtu", "--device", pair.A()}},
      {"rtu-over-tcp", {"--mode", "rtu-over-tcp", "--host", "127.0.0.1", "--port", std::to_string(bridge.Port())}},
  };
  struct Case {
    Rows args;
    Rows lines;
  };
  const Case cases[] = {
      {{"--address", "5", "--quantity", "3"}, {"00005: 5", "00006: 6", "00007: 7"}},
      {{"--function", "4", "--address", "0x10", "--quantity", "2"}, {"0x0010: 1016", "0x0011: 1017"}},
      {{"--function", "1", "--address", "2", "--quantity", "3"}, {"00002: 0", "00003: 1", "00004: 0"}},
      {{"--function", "2", "--address", "1", "--quantity", "2"}, {"00001: 1", "00002: 0"}},
      {{"--address", "100", "--quantity", "6", "--type", "FLOAT_ABCD"},
       {"00100: 1", "00102: 5.6904566e-28", "00104: NaN"}},
      {{"--address", "102", "--quantity", "4", "--type", "int32_abcd"}, {"00102: 305419896", "00104: -2"}},
      {{"--address", "106", "--quantity", "4", "--type", "DOUBLE_ABCDEFGH"}, {"00106: 1"}},
      {{"--address", "110", "--quantity", "2", "--type", "UINT16"}, {"00110: 32768", "00111: 65535"}},
      {{"--address", "112", "--quantity", "2", "--type", "FLOAT_CDAB"}, {"00112: 1"}},
      {{"--address", "110", "--quantity", "1", "--type", "HEX"}, {"00110: 0x8000"}},
      {{"--address", "1000", "--addresses", "one"}, {"01000: 999"}},
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
  const std::string port = slave.Slave({"--tcp", "0"});
  ASSERT_FALSE(port.empty());
  const struct {
    Rows args;
    Rows lines;
    std::string wire;  // the request logged, when given
  } steps[] = {
      {{"-f", "16", "-a", "20", "-t", "FLOAT_ABCD", "-w", "1.5,-2"},
       {},
       "00 01 00 00 00 0F 01 10 00 14 00 04 08 3F C0 00 00 C0 00 00 00"},
      {{"-a", "20", "-q", "4", "-t", "FLOAT_ABCD"}, {"00020: 1.5", "00022: -2"}, ""},
      {{"-f", "6", "-a", "30", "-w", "-3"}, {"00030: -3"}, "00 01 00 00 00 06 01 06 00 1E FF FD"},
      {{"-a", "30"}, {"00030: -3"}, ""},
      {{"-f", "5", "-a", "1", "-w", "1"}, {"00001: 1"}, "00 01 00 00 00 06 01 05 00 01 FF 00"},
      {{"-f", "15", "-a", "10", "-w", "0,1,1"}, {}, "00 01 00 00 00 08 01 0F 00 0A 00 03 01 06"},
      {{"-f", "1", "-a", "0", "-q", "13"},
       {"00000: 1", "00001: 1", "00002: 0", "00003: 1", "00004: 0", "00005: 0", "00006: 1", "00007: 0", "00008: 0",
        "00009: 1", "00010: 0", "00011: 1", "00012: 1"},
       ""},
      {{"-f", "22", "-a", "40", "--and-mask", "0xF2", "--or-mask", "0x25"},
       {},
       "00 01 00 00 00 08 01 16 00 28 00 F2 00 25"},
      {{"-a", "40"}, {"00040: 37"}, ""},
      {{"-f", "23", "-a", "49", "-q", "4", "--write-address", "50", "-w", "7,8,-9"},
       {"00049: 49", "00050: 7", "00051: 8", "00052: -9"},
       "00 01 00 00 00 11 01 17 00 31 00 04 00 32 00 03 06 00 07 00 08 FF F7"},
      // --raw goes out as typed.
      {{"--raw", "00 07 00 00 00 06 01 03 00 00 00 01"}, {}, "00 07 00 00 00 06 01 03 00 00 00 01"},
      {{"-f", "17"}, {"Server ID: 0xB4", "Run indicator: ON"}, ""},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(::testing::PrintToString(step.args));
    const Result r = RunCli(Tcp(port, step.args));
    EXPECT_EQ(r.status, 0) << r.err;
    Rows lines = Lines(r.out);
    // The server's further data names the slave's library version.
    if (step.args[1] == "17" && lines.size() == 3) lines.pop_back();
    EXPECT_EQ(lines, step.lines) << r.out;
    if (!step.wire.empty()) {
      EXPECT_EQ(slave.Requests().back(), "REQ " + step.wire);
    }
  }
}

// The further functions against scripted answers: values, a device
// identification chain followed to its end, and faults.
TEST(CliRun, FurtherFunctionsAgainstScriptedAnswers) {
  const std::string object0 = "reply TID 00 00 LEN UID FC 0E 01 01 FF 01 01 00 04 41 63 6D 65\n";
  const struct {
    std::string script;
    Rows args;
    int status;
    Rows lines;
    std::string lastRequest;  // the tail of the last request logged
  } cases[] = {
      {"reply TID 00 00 LEN UID FC 6D\n", {"-f", "7"}, 0, {"Exception status: 0x6D"}, "01 07"},
      {"echo\n", {"-f", "8", "-w", "0xA537,1"}, 0, {"Data 1: 0xA537", "Data 2: 0x0001"}, "08 00 00 A5 37 00 01"},
      {object0 + "reply TID 00 00 LEN UID FC 0E 01 01 00 00 01 01 02 56 31\n",
       {"-f", "43"},
       0,
       {"00 VendorName: Acme", "01 ProductCode: V1"},
       "2B 0E 01 01"},
      // A server that keeps saying more follows from the same object: no loop.
      {object0 + "reply TID 00 00 LEN UID FC 0E 01 01 FF 01 01 01 02 56 31\n",
       {"-f", "43"},
       0,
       {"00 VendorName: Acme", "01 ProductCode: V1"},
       "2B 0E 01 01"},
      {"reply TID 00 00 LEN UID FC 00 01 00 03\n", {"-f", "15", "-a", "1", "-w", "1,0"}, 6, {}, "0F 00 01 00 02 01 01"},
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
    const std::string port = peer.FaultPeer(c.script);
    ASSERT_FALSE(port.empty());
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
  const std::string port = peer.FaultPeer("echo\ndrop\necho\nreply TID 00 00 LEN UID EFC 02\necho\n");
  ASSERT_FALSE(port.empty());
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
  const std::string port = slave.Slave({"--tcp", "0"});
  ASSERT_FALSE(port.empty());
  Peer tid, crc;
  const std::string tidPort = tid.FaultPeer("reply 00 99 00 00 00 05 UID 03 02 00 07\n");
  const std::string crcPort = crc.FaultPeer("reply 01 03 02 00 07 00 00\n", {"--rtu"});
  ASSERT_FALSE(tidPort.empty() || crcPort.empty());
  const std::string closed = std::to_string(vesk::test::FreeTcpPort());
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
      {{"--mode", "rtu-over-tcp", "--host", "127.0.0.1", "--port", crcPort, "--timeout", "500"}, 6, "Checksum"},
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

// Bad options and values, and serial devices that are missing, no serial
// port or may not be opened: one line on stderr, status 2, and nothing on
// either wire.
TEST(CliRun, UsageErrorsSendNothing) {
  Peer slave;
  const std::string port = slave.Slave({"--tcp", "0"});
  ASSERT_FALSE(port.empty());
  vesk::test::PtyPair pair;
  ASSERT_TRUE(pair.Open());
  Peer rtu;
  ASSERT_FALSE(rtu.Slave({"--rtu", pair.B()}).empty());
  const std::string file = pair.Dir() + "/plain-file";
  std::ofstream(file) << "x";
  const Rows rtuLink{"--mode", "rtu", "--device", pair.A()};
  struct Case {
    Rows args;
    std::string errHas;
  };
  std::vector<Case> cases = {
      {Tcp(port, {"--address", "70000"}), "70000"},
      {Tcp(port, {"--slave", "300"}), "300"},
      {Tcp(port, {"--quantity", "0"}), "quantity"},
      {Tcp(port, {"--type", "INT13"}), "INT13"},
      {Tcp(port, {"--address", "12x"}), "12x"},
      {Tcp(port, {"--function", "16", "--values", "1,zwei"}), "zwei"},
      {Tcp(port, {"--function", "6", "--values", "70000"}), "70000"},
      {Tcp(port, {"--function", "15", "--values", "1,2"}), "coil"},
      {Tcp(port, {"--function", "43", "--read-code", "0"}), "read-code"},
      {Tcp(port, {"--timeout", "-5"}), "timeout"},
      {Tcp(port, {"--polls", "1e3"}), "polls"},
      {Tcp(port, {"--no-such-option"}), "no-such-option"},
      {{"--mode", "rtu", "--device", "/dev/vesk-no-such-port"}, "No such file"},
      {{"--mode", "rtu", "--device", file}, "not a serial port"},
      {{"--mode", "rtu", "--device", pair.A(), "--slave", "300"}, "300"},
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

// JSON and CSV parse back to the values and faults of each transaction.
TEST(CliRun, JsonAndCsvParseBack) {
  Peer slave;
  const std::string port = slave.Slave({"--tcp", "0"});
  ASSERT_FALSE(port.empty());
  const Result json =
      RunCli(Tcp(port, {"--address", "110", "--quantity", "2", "--json", "--polls", "2", "--interval", "10"}));
  EXPECT_EQ(json.status, 0) << json.err;
  const Rows lines = Lines(json.out);
  ASSERT_EQ(lines.size(), 2u) << json.out;
  for (const std::string& line : lines) {
    const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
    EXPECT_EQ(o["slave"].toInt(), 1);
    EXPECT_EQ(o["function"].toInt(), 3);
    EXPECT_EQ(o["address"].toInt(), 110);
    EXPECT_EQ(o["values"].toArray(), (QJsonArray{-32768, -1}));
    EXPECT_TRUE(o["exception"].isNull());
    EXPECT_TRUE(o["faults"].toArray().isEmpty());
    EXPECT_TRUE(o["response_ms"].isDouble());
    EXPECT_EQ(o["response"].toString().right(11), "80 00 FF FF");
  }
  Peer tid;
  const std::string tidPort = tid.FaultPeer("reply 00 99 00 00 00 05 UID 03 02 00 07\n");
  const Result bad = RunCli(Tcp(tidPort, {"--json"}));
  EXPECT_EQ(bad.status, 6);
  const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(Lines(bad.out).at(0))).object();
  const QJsonArray faults = o["faults"].toArray();
  ASSERT_EQ(faults.size(), 1);
  EXPECT_EQ(faults[0].toObject()["offset"].toInt(), 0);
  EXPECT_EQ(faults[0].toObject()["length"].toInt(), 2);

  const Result csv = RunCli(Tcp(port, {"--function", "1", "--address", "0", "--quantity", "4", "--csv"}));
  EXPECT_EQ(csv.status, 0) << csv.err;
  const Rows rows = Lines(csv.out);
  ASSERT_EQ(rows.size(), 2u);
  auto Fields = [](const std::string& row) {
    Rows f;
    std::istringstream in(row);
    for (std::string field; std::getline(in, field, ',');) f.push_back(field);
    return f;
  };
  const Rows head = Fields(rows[0]), row = Fields(rows[1]);
  auto Column = [&](const std::string& name) {
    const auto at = std::find(head.begin(), head.end(), name);
    return at == head.end() || static_cast<size_t>(at - head.begin()) >= row.size() ? std::string("?")
                                                                                    : row[at - head.begin()];
  };
  EXPECT_EQ(Column("function"), "1");
  EXPECT_EQ(Column("values"), "1;0;0;1");
  EXPECT_EQ(Column("exception_code"), "");
}

// Colour only when standard output is a terminal (auto), never in a pipe.
TEST(CliRun, ColourOnlyOnATerminal) {
  Peer slave;
  const std::string port = slave.Slave({"--tcp", "0"});
  ASSERT_FALSE(port.empty());
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
  for (int i = 0; i < 100; ++i) {
    pollfd fd{master, POLLIN, 0};
    if (::poll(&fd, 1, 100) > 0 && !Drain(master, text)) break;
  }
  int raw = 0;
  ::waitpid(pid, &raw, 0);
  ::close(master);
  EXPECT_EQ(StatusOf(raw), 5);
  EXPECT_NE(text.find("\x1b["), std::string::npos) << text;
}

// Ctrl+C while polling: the summary, and the status of what happened so far.
TEST(CliRun, InterruptPrintsTheSummary) {
  Peer slave;
  const std::string port = slave.Slave({"--tcp", "0"});
  ASSERT_FALSE(port.empty());
  const Result ok = RunCli(Tcp(port, {"--polls", "0", "--interval", "20"}), 3);
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_NE(ok.out.find("--- statistics ---"), std::string::npos) << ok.out;
  const Result exc = RunCli(Tcp(port, {"--address", "1000", "--polls", "0", "--interval", "20", "--json"}), 2);
  EXPECT_EQ(exc.status, 5);
  EXPECT_NE(Lines(exc.out).back().find("\"statistics\""), std::string::npos) << exc.out;
}

}  // namespace
