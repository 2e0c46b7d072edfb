// The whole transaction in RTU mode on a real serial port (QSerialPort on a
// socat pseudo-terminal pair, the libmodbus RTU slave on the other end), and
// in RTU-OVER-TCP mode through a TCP-to-pty bridge: opening on demand, every
// function code, the line settings reaching the port, request time-outs,
// missing and unopenable ports.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "panel_rig.h"
#include "qt/adapters/qt_serial_port.h"

namespace {

using rig::kRtu;
using rig::kRtuOverTcp;
using rig::Req;
using rig::Rsp;
using rig::WithCrc;

std::vector<std::string> LoggedAs(int16_t mode, const std::vector<rig::Exchange>& cases, std::vector<Frame> first) {
  std::vector<std::string> out;
  for (const Frame& f : first) out.push_back("REQ " + rig::Hex(f));
  for (const rig::Exchange& e : cases)
    for (const Frame& pdu : e.requests) out.push_back("REQ " + rig::Hex(rig::Adu(mode, 0, pdu)));
  return out;
}

std::vector<rig::Exchange> AllExchanges(const rig::Panel& p) {
  std::vector<rig::Exchange> all = rig::ReadExchanges();
  const std::vector<rig::Exchange> writes = rig::WriteExchanges(p.f().Platform().locale->DecimalSeparator());
  all.insert(all.end(), writes.begin(), writes.end());
  return all;
}

// A pty pair with the RTU slave on its B end. The panel opens A.
struct SerialLine {
  vesk::test::PtyPair pair;
  rig::Peer slave;
  bool Start(std::vector<std::string> slaveArgs = {}) {
    if (!pair.Open()) return false;
    std::vector<std::string> args = {"--rtu", pair.B()};
    args.insert(args.end(), slaveArgs.begin(), slaveArgs.end());
    return slave.StartSlave(args).has_value();
  }
};

TEST(EngineRtuTest, FirstSendOpensThePortAndEveryFunctionCodeWorks) {
  SerialLine line;
  ASSERT_TRUE(line.Start());
  const std::string port = line.pair.A();
  rig::Panel p;
  p.UseSerial(port);
  ASSERT_EQ(p.f().cmbRtuPort.Text(), port);
  p.SetRequest(3, "0", "1");
  ASSERT_TRUE(p.Send());
  const Frame first = WithCrc({1, 3, 0, 0, 0, 1});
  EXPECT_EQ(p.Rows(), (std::vector<std::string>{"", "Open " + port + "...", port + " opened", Req(first),
                                                Rsp(WithCrc({1, 3, 2, 0, 0}))}));
  // The line settings cannot change while the port is open.
  EXPECT_FALSE(p.f().cmbRtuPort.Enabled());
  EXPECT_FALSE(p.f().cmbRtuSpeed.Enabled());
  EXPECT_FALSE(p.f().cmbRtuParity.Enabled());
  EXPECT_FALSE(p.f().cmbRtuStopBit.Enabled());

  // The port stays open: no more "Open" rows.
  const std::vector<rig::Exchange> all = AllExchanges(p);
  rig::RunExchanges(p, kRtu, all);
  EXPECT_EQ(line.slave.Requests(), LoggedAs(kRtu, all, {first}));

  p.Mark();
  p.f().cmdRtuClosePort_Click();
  EXPECT_EQ(p.Rows(), std::vector<std::string>{port + " closed"});
  EXPECT_TRUE(p.f().cmbRtuSpeed.Enabled());
}

// Reads the settings of a terminal through a descriptor of our own, opened
// before the panel's port takes the terminal exclusively.
class TermProbe {
 public:
  explicit TermProbe(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK)) {}
  ~TermProbe() {
    if (fd_ >= 0) ::close(fd_);
  }
  TermProbe(const TermProbe&) = delete;
  TermProbe& operator=(const TermProbe&) = delete;
  bool Ok() const { return fd_ >= 0; }
  termios Get() const {
    termios t{};
    ::tcgetattr(fd_, &t);
    return t;
  }

 private:
  int fd_;
};

TEST(EngineRtuTest, LineSettingsOfThePanelReachThePort) {
  struct Case {
    const char* speed;
    int parityIndex;
    int stopIndex;
    std::vector<std::string> slaveArgs;
    speed_t baud;
    bool twoStopBits;
  };
  const Case cases[] = {
      {"9600", 0, 0, {"--baud", "9600", "--parity", "N", "--stop", "1"}, B9600, false},
      {"19200", 2, 1, {"--baud", "19200", "--parity", "E", "--stop", "2"}, B19200, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.speed);
    SerialLine line;
    ASSERT_TRUE(line.Start(c.slaveArgs));
    const std::string port = line.pair.A();
    TermProbe probe(port);
    ASSERT_TRUE(probe.Ok());
    rig::Panel p;
    p.UseSerial(port, c.speed, c.parityIndex, c.stopIndex);
    p.SetRequest(4, "7", "1", 1);
    ASSERT_TRUE(p.Send());
    EXPECT_EQ(p.Rows(), (std::vector<std::string>{"", "Open " + port + "...", port + " opened",
                                                  Req(WithCrc({1, 4, 0, 7, 0, 1})), Rsp(WithCrc({1, 4, 2, 3, 0xEF}))}));
    EXPECT_EQ(p.f().txtResponse.Text(), "IR 00007: 1007");
    const termios t = probe.Get();
    EXPECT_EQ(cfgetospeed(&t), c.baud);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.twoStopBits);
    EXPECT_EQ(t.c_cflag & PARODD, 0u);  // even or none, never odd

    // The second Send uses the open port.
    p.Mark();
    ASSERT_TRUE(p.Send());
    EXPECT_EQ(p.Rows(), (std::vector<std::string>{Req(WithCrc({1, 4, 0, 7, 0, 1})), Rsp(WithCrc({1, 4, 2, 3, 0xEF}))}));
  }
}

TEST(EngineRtuTest, RequestTimeoutClosesThePortAndTheNextSendReopensIt) {
  SerialLine line;
  ASSERT_TRUE(line.Start());
  const std::string port = line.pair.A();
  rig::Panel p;
  p.UseSerial(port, "9600", 0, 0, "300");
  p.SetRequest(3, "2", "1", 0, "7");  // a slave id the slave does not serve
  ASSERT_TRUE(p.Send(3000));
  const Frame unanswered = WithCrc({7, 3, 0, 2, 0, 1});
  EXPECT_EQ(p.Rows(), (std::vector<std::string>{"", "Open " + port + "...", port + " opened", Req(unanswered),
                                                "Communication Error: Request Timeout", port + " closed"}));
  const auto stamped = p.StampedRows();
  ASSERT_EQ(stamped.size(), 5u);
  EXPECT_GE(stamped[3].second - stamped[2].second, 290);
  EXPECT_LT(stamped[3].second - stamped[2].second, 1000);
  EXPECT_FALSE(p.f().comm1->IsOpen());
  EXPECT_TRUE(p.f().cmbRtuPort.Enabled());

  p.f().txtUnitID.SetText("1");
  p.Mark();
  ASSERT_TRUE(p.Send());
  EXPECT_EQ(p.Rows(), (std::vector<std::string>{"", "Open " + port + "...", port + " opened",
                                                Req(WithCrc({1, 3, 0, 2, 0, 1})), Rsp(WithCrc({1, 3, 2, 0, 2}))}));
  EXPECT_EQ(line.slave.Requests().size(), 2u);
}

TEST(EngineRtuTest, NoPortSelectedOrNoPortsSendNothing) {
  SerialLine line;
  ASSERT_TRUE(line.Start());
  const std::string port = line.pair.A();
  struct Case {
    const char* name;
    std::vector<std::string> ports;
    bool deselect;
    const char* row;
  };
  const Case cases[] = {
      {"a port listed but none selected", {port}, true, "Communication Error: COM port not selected"},
      {"no ports", {}, false, "Communication Error: COM ports not found"},
      {"a listed port that does not exist", {port + "-gone"}, false, "Communication Error: COM ports not found"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    rig::Panel p;
    p.UseSerial(port);
    p.ports().Set(c.ports);
    p.f().RefreshComPorts();
    if (c.deselect) p.f().cmbRtuPort.SetListIndex(-1);
    p.SetRequest(3, "0", "1");
    p.Mark();
    ASSERT_TRUE(p.Send());
    EXPECT_EQ(p.Rows(), std::vector<std::string>{c.row});
    EXPECT_EQ(p.RowColors(), std::vector<uint32_t>{LogColorError});
    EXPECT_FALSE(p.f().comm1->IsOpen());
    // Nothing is awaited and nothing times out.
    p.Mark();
    testutil::RunFor(600);
    EXPECT_TRUE(p.Rows().empty());
  }
  EXPECT_TRUE(line.slave.Requests().empty());
}

TEST(EngineRtuTest, PortThatFailsToOpenIsLoggedWithTheReason) {
  SerialLine line;
  ASSERT_TRUE(line.Start());
  // A file that is no terminal.
  const std::string notATerminal = line.slave.Dir() + "/not-a-tty";
  std::ofstream(notATerminal) << "x";
  rig::Panel p;
  p.UseSerial(notATerminal);
  ASSERT_EQ(p.f().cmbRtuPort.Text(), notATerminal);
  p.SetRequest(3, "0", "1");
  ASSERT_TRUE(p.Send());
  std::vector<std::string> rows = p.Rows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0], "");
  EXPECT_EQ(rows[1], "Open " + notATerminal + "...");
  const std::string head = "Communication Error: Failed to open " + notATerminal + ": ";
  ASSERT_EQ(rows[2].rfind(head, 0), 0u) << rows[2];
  EXPECT_GT(rows[2].size(), head.size()) << "the port's reason is missing";
  EXPECT_FALSE(p.f().comm1->IsOpen());
  EXPECT_TRUE(p.f().cmbRtuSpeed.Enabled());

  // A port held by another program: the reason first, then, once it is
  // free, the port opens.
  const std::string port = line.pair.A();
  qt::QtSerialPort holder;
  std::string error;
  ASSERT_TRUE(holder.Open(port, {}, error)) << error;
  p.ports().Set({notATerminal, port});
  p.f().RefreshComPorts();
  p.f().cmbRtuPort.SetText(port);
  p.Mark();
  ASSERT_TRUE(p.Send());
  rows = p.Rows();
  // A port in use is no matter of the user's permissions: the reason row
  // says it all, nothing more follows.
  EXPECT_EQ(rows.size(), 3u) << ::testing::PrintToString(rows);
  ASSERT_GE(rows.size(), 3u);
  EXPECT_EQ(rows[1], "Open " + port + "...");
  EXPECT_EQ(rows[2].rfind("Communication Error: Failed to open " + port + ": ", 0), 0u) << rows[2];
  EXPECT_FALSE(p.f().comm1->IsOpen());

  holder.Close();
  p.Mark();
  ASSERT_TRUE(p.Send());
  EXPECT_EQ(p.Rows(), (std::vector<std::string>{"", "Open " + port + "...", port + " opened",
                                                Req(WithCrc({1, 3, 0, 0, 0, 1})), Rsp(WithCrc({1, 3, 2, 0, 0}))}));
  EXPECT_EQ(line.slave.Requests().size(), 1u);
}

// ---- RTU-OVER-TCP through a TCP-to-pty bridge ----------------------------------------------------

struct BridgedLine {
  vesk::test::TcpToPtyBridge bridge;
  rig::Peer slave;
  bool Start() { return bridge.Open() && slave.StartSlave({"--rtu", bridge.PtyPath()}).has_value(); }
};

TEST(EngineRtuOverTcpTest, ReadsAndWritesThroughTheBridge) {
  BridgedLine line;
  ASSERT_TRUE(line.Start());
  const int port = line.bridge.Port();
  rig::Panel p;
  p.UseSocket(kRtuOverTcp, port);
  p.SetRequest(3, "0", "1");
  ASSERT_TRUE(p.Send());
  const Frame first = WithCrc({1, 3, 0, 0, 0, 1});
  EXPECT_EQ(p.Rows(), (std::vector<std::string>{"", "Connect to 127.0.0.1:" + std::to_string(port) + "...", "Connected",
                                                Req(first), Rsp(WithCrc({1, 3, 2, 0, 0}))}));
  const std::vector<rig::Exchange> all = AllExchanges(p);
  rig::RunExchanges(p, kRtuOverTcp, all);
  EXPECT_EQ(line.slave.Requests(), LoggedAs(kRtuOverTcp, all, {first}));
}

TEST(EngineRtuOverTcpTest, TheSocketsTimeoutGovernsNotTheSerialOne) {
  BridgedLine line;
  ASSERT_TRUE(line.Start());
  const int port = line.bridge.Port();
  struct Case {
    const char* tcpTimeout;
    const char* rtuTimeout;
    long atLeast;
    long below;
  };
  const Case cases[] = {{"300", "3000", 290, 1000}, {"1200", "200", 1190, 2000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tcpTimeout);
    rig::Panel p;
    p.UseSocket(kRtuOverTcp, port, c.tcpTimeout);
    p.f().txtRtuTimeout.SetText(c.rtuTimeout);
    p.SetRequest(3, "0", "1", 0, "7");  // not served
    ASSERT_TRUE(p.Send(5000));
    const std::vector<std::string> rows = p.Rows();
    ASSERT_EQ(rows.size(), 6u) << ::testing::PrintToString(rows);
    EXPECT_EQ(rows[3], Req(WithCrc({7, 3, 0, 0, 0, 1})));
    EXPECT_EQ(rows[4], "Communication Error: Request Timeout");
    EXPECT_EQ(rows[5], "Disconnected");
    const auto stamped = p.StampedRows();
    ASSERT_EQ(stamped.size(), 5u);
    const long waited = stamped[3].second - stamped[2].second;
    EXPECT_GE(waited, c.atLeast);
    EXPECT_LT(waited, c.below);
  }
}

}  // namespace
