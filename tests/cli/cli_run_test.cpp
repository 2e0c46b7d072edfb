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

// Writes reach the slave and read back; the request on the wire is the one asked for.
TEST(CliRun, WritesAndReadsBack) {
  Peer slave;
  const std::string port = slave.Slave({"--tcp", "0"});
  ASSERT_FALSE(port.empty());
  EXPECT_EQ(
      RunCli(Tcp(port, {"--function", "16", "--address", "20", "--type", "FLOAT_ABCD", "--values", "1.5,-2"})).status,
      0);
  EXPECT_EQ(RunCli(Tcp(port, {"--function", "6", "--address", "30", "--values", "-3"})).status, 0);
  EXPECT_EQ(RunCli(Tcp(port, {"--function", "5", "--address", "1", "--values", "1"})).status, 0);
  EXPECT_EQ(Lines(RunCli(Tcp(port, {"--address", "20", "--quantity", "4", "--type", "FLOAT_ABCD"})).out),
            (Rows{"00020: 1.5", "00022: -2"}));
  EXPECT_EQ(Lines(RunCli(Tcp(port, {"--address", "30"})).out), (Rows{"00030: -3"}));
  EXPECT_EQ(Lines(RunCli(Tcp(port, {"--function", "1", "--address", "1"})).out), (Rows{"00001: 1"}));
  const Rows wire = slave.Requests();
  ASSERT_GE(wire.size(), 3u);
  EXPECT_EQ(wire[0], "REQ 00 01 00 00 00 0F 01 10 00 14 00 04 08 3F C0 00 00 C0 00 00 00");
  EXPECT_EQ(wire[1], "REQ 00 01 00 00 00 06 01 06 00 1E FF FD");
  EXPECT_EQ(wire[2], "REQ 00 01 00 00 00 06 01 05 00 01 FF 00");
  // --raw goes out as typed.
  const Result raw = RunCli(Tcp(port, {"--raw", "00 07 00 00 00 06 01 03 00 00 00 01", "--json"}));
  EXPECT_EQ(raw.status, 0) << raw.err;
  EXPECT_EQ(slave.Requests().back(), "REQ 00 07 00 00 00 06 01 03 00 00 00 01");
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
      {{"--mode", "rtu", "--device", "/dev/vesk-no-such-port"}, 2, "No such file"},
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

// Bad options and values: one line on stderr, status 2, and nothing on the wire.
TEST(CliRun, UsageErrorsSendNothing) {
  Peer slave;
  const std::string port = slave.Slave({"--tcp", "0"});
  ASSERT_FALSE(port.empty());
  const Rows bad[] = {
      {"--address", "70000"}, {"--slave", "300"},   {"--quantity", "0"},
      {"--type", "INT13"},    {"--address", "12x"}, {"--function", "16", "--values", "1,zwei"},
      {"--timeout", "-5"},    {"--no-such-option"}, {"--function", "6", "--values", "70000"},
      {"--polls", "1e3"},
  };
  for (const Rows& args : bad) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const Result r = RunCli(Tcp(port, args));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    ASSERT_EQ(Lines(r.err).size(), 1u) << r.err;
    EXPECT_EQ(r.err.rfind("vesktarvelo-cli: ", 0), 0u) << r.err;
  }
  EXPECT_TRUE(slave.Requests().empty());
}

// A serial device that is missing, is no serial port, or may not be opened:
// a usage error before anything is opened.
TEST(CliRun, UnusableDevicesAreUsageErrors) {
  vesk::test::PtyPair pair;
  ASSERT_TRUE(pair.Open());
  Peer slave;
  ASSERT_FALSE(slave.Slave({"--rtu", pair.B()}).empty());
  const std::string file = pair.Dir() + "/plain-file";
  std::ofstream(file) << "x";
  std::vector<std::pair<std::string, std::string>> cases = {{"/dev/vesk-no-such-port", "No such file"},
                                                            {file, "not a serial port"}};
  // Root may open anything: the permission case needs an ordinary user.
  if (::geteuid() != 0) cases.emplace_back("/dev/console", "Permission denied");
  for (const auto& [device, why] : cases) {
    SCOPED_TRACE(device);
    const Result r = RunCli({"--mode", "rtu", "--device", device});
    EXPECT_EQ(r.status, 2);
    ASSERT_EQ(Lines(r.err).size(), 1u) << r.err;
    EXPECT_NE(r.err.find(why), std::string::npos) << r.err;
  }
  // Bad values with a working device put nothing on the line either.
  EXPECT_EQ(RunCli({"--mode", "rtu", "--device", pair.A(), "--slave", "300"}).status, 2);
  EXPECT_EQ(RunCli({"--mode", "rtu", "--device", pair.A(), "--baud", "fast"}).status, 2);
  EXPECT_TRUE(slave.Requests().empty());
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
