// The whole transaction on the real Qt socket and serial port: against the libmodbus slave on
// 127.0.0.1, on a pty pair and through a TCP-to-pty bridge, and against the scripted fault peer.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <sstream>
#include <tuple>

#include "fault_steps.h"
#include "qt/adapters/qt_serial_port.h"

namespace {

using namespace rig;

// One press of Send against the slave's known contents: the form, the frames on the wire (slave
// byte first, "|" between two frames) and the response view. A bit read, a register read, one in
// hex addresses, writes of one and of two frames and a 32-bit read: the codes' own frames and
// views are the unit tests' and the libmodbus comparisons'.
struct Exchange {
  int cmd;
  const char *addr, *value;
  int format;
  const char *requests, *responses, *view;
};
const Exchange kExchanges[] = {
    {1, "20", "4", 0, "01 01 00 14 00 04", "01 01 01 02", "CL 00020: 0\r\nCL 00021: 1\r\nCL 00022: 0\r\nCL 00023: 0"},
    {3, "110", "2", 0, "01 03 00 6E 00 02", "01 03 04 80 00 FF FF", "HR 00110: -32768\r\nHR 00111: -1    "},
    {4, "0x10", "2", 1, "01 04 00 10 00 02", "01 04 04 03 F8 03 F9", "IR 0x0010: 1016\r\nIR 0x0011: 1017"},
    {16, "7", "4321", 0, "01 10 00 07 00 01 02 10 E1", "01 10 00 07 00 01", "HR 00007 <- 4321"},
    {6, "30", "305419896", 6, "01 06 00 1E 12 34|01 06 00 1F 56 78", "01 06 00 1E 12 34|01 06 00 1F 56 78",
     "HR 00030 <- 4660\r\nHR 00031 <- 22136"},
    {3, "30", "1", 6, "01 03 00 1E 00 02", "01 03 04 12 34 56 78", "I32 HR 00030: 305419896"},
};

// Runs every exchange on a panel set up for `mode`: the first Send makes the transport ready
// (`ready` rows), then a request row and a response row per frame with consecutive transaction
// ids, the view and "<n> ms"; the slave received exactly what the log shows as sent.
void RunExchanges(Panel& p, int16_t mode, const Peer& slave, Rows want) {
  Rows sent;
  for (const Exchange& x : kExchanges) {
    SCOPED_TRACE(x.requests);
    p.SetRequest(x.cmd, x.addr, x.value, x.format);
    std::istringstream requests(x.requests), responses(x.responses);
    int tid = p.f().TransactionID;
    for (std::string rq, rs; std::getline(requests, rq, '|') && std::getline(responses, rs, '|');) {
      sent.push_back("REQ " + Hex(Adu(mode, ++tid, Sent(rq, 0))));
      want = Cat(want, {Req(Adu(mode, tid, Sent(rq, 0))), Rsp(Adu(mode, tid, Sent(rs, 0)))});
    }
    EXPECT_EQ(p.Send(), want);
    EXPECT_EQ(p.f().txtResponse.Text(), x.view);
    EXPECT_TRUE(p.f().txtResponse.Enabled());
    EXPECT_TRUE(std::regex_match(p.f().lblDT.Caption(), std::regex("[0-9]+ ms"))) << p.f().lblDT.Caption();
    want.clear();
  }
  EXPECT_EQ(slave.Requests(), sent);
}

// Then, through the bridge, requests to unit 7 (not served) time out by the socket's time-out.
TEST(EngineTest, EveryFunctionCodeOnTheSocketAndThroughTheBridge) {
  Peer slave, rtuSlave;
  vesk::test::TcpToPtyBridge bridge;
  const int port = slave.TcpSlave();
  ASSERT_TRUE(port > 0 && bridge.Open() && rtuSlave.Slave({"--rtu", bridge.PtyPath()}));
  Panel p, q;
  p.UseSocket(kTcp, port);
  RunExchanges(p, kTcp, slave, Connect(port));
  q.UseSocket(kRtuOverTcp, bridge.Port());
  RunExchanges(q, kRtuOverTcp, rtuSlave, Connect(bridge.Port()));
  q.SetRequest(3, "0", "1", 0, "7");
  for (const auto& [tcp, rtu, low, high] : {std::tuple{"300", "3000", 290, 1000}, {"1200", "200", 1190, 2000}}) {
    SCOPED_TRACE(tcp);
    q.f().txtTcpTimeout.SetText(tcp);
    q.f().txtRtuTimeout.SetText(rtu);
    const Rows ready = q.f().ws->State() == 7 ? Rows{} : Connect(bridge.Port());
    EXPECT_EQ(q.Send(), Cat(ready, {Req(WithCrc({7, 3, 0, 0, 0, 1})), kTimedOut, "Disconnected"}));
    EXPECT_PRED3(Within, q.Between("Request", kTimedOut), low, high);
  }
}

// The terminal's settings, seen on our own descriptor, also after a refresh that lists a new port.
TEST(EngineTest, EveryFunctionCodeOnTheSerialLineWithItsSettings) {
  for (const auto& [speed, parity, stop, args, baud] :
       {std::tuple{"9600", 0, 0, Rows{"--baud", "9600", "--parity", "N", "--stop", "1"}, B9600},
        {"19200", 2, 1, Rows{"--baud", "19200", "--parity", "E", "--stop", "2"}, B19200}}) {
    SCOPED_TRACE(speed);
    vesk::test::PtyPair pair, other;
    Peer slave;
    ASSERT_TRUE(pair.Open() && other.Open() && slave.Slave(Cat({"--rtu", pair.B()}, args)));
    const int probe = ::open(pair.A().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(probe, 0);
    Panel p;
    p.UseSerial(pair.A(), speed, parity, stop);
    RunExchanges(p, kRtu, slave, Open(pair.A()));
    p.ports().Set({other.A(), pair.A()});
    ASSERT_TRUE(RunUntil([&] { return p.f().cmbRtuPort.ListCount() == 2; }, 2500));
    EXPECT_EQ(p.f().cmbRtuPort.ListIndex(), 1);
    termios t{};
    ASSERT_EQ(::tcgetattr(probe, &t), 0);
    ::close(probe);
    EXPECT_EQ(cfgetospeed(&t), baud);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, stop == 1);
    EXPECT_EQ(t.c_cflag & PARODD, 0u);
    EXPECT_EQ(p.Send().size(), 2u);
  }
}

// The slave closes after two answers; unit 7 is not served.
TEST(EngineTest, ExceptionSlaveClosingAndTimeoutOnTheSocket) {
  Peer slave;
  const int port = slave.TcpSlave({"--close-after", "2"});
  ASSERT_GT(port, 0);
  Panel p;
  p.UseSocket(kTcp, port, "400");
  const auto good = [&](int tid) {
    return Rows{Req(Adu(kTcp, tid, {1, 4, 0, 3, 0, 1})), Rsp(Adu(kTcp, tid, {1, 4, 2, 3, 0xEB}))};
  };
  p.SetRequest(4, "3", "1", 1);
  EXPECT_EQ(p.Send(), Cat(Connect(port), good(1)));
  p.SetRequest(3, "1000", "1");
  EXPECT_EQ(p.Send(), (Rows{Req(Adu(kTcp, 2, {1, 3, 0x03, 0xE8, 0, 1})), Rsp(Adu(kTcp, 2, {1, 0x83, 2})),
                            "Modbus Exception: Illegal Data Address (Code 2)"}));
  EXPECT_EQ(p.RowColors(), (std::vector<uint32_t>{LogColorInfo, LogColorInfo, LogColorError}));
  EXPECT_EQ(p.ByteColors(), std::vector<uint32_t>(9, LogColorInfo));
  EXPECT_EQ(p.f().txtResponse.Text(), "IR 00003: 1003");
  EXPECT_FALSE(p.f().txtResponse.Enabled());
  p.Mark();
  ASSERT_TRUE(RunUntil([&] { return p.f().ws->State() == 9; }, 3000));
  RunFor(100);
  EXPECT_EQ(p.Rows(), Rows{"Slave closed the connection: The remote host closed the connection"});
  p.SetRequest(4, "3", "1", 1);
  EXPECT_EQ(p.Send(), Cat(Cat({"Disconnected"}, Connect(port)), good(3)));
  p.f().txtUnitID.SetText("7");
  EXPECT_EQ(p.Send(), (Rows{Req(Adu(kTcp, 4, {7, 4, 0, 3, 0, 1})), kTimedOut, "Disconnected"}));
  EXPECT_PRED3(Within, p.Between("Request", kTimedOut), 390, 1000);
  EXPECT_EQ(p.f().ws->State(), 0);
  EXPECT_EQ(p.f().lblDT.Caption(), "");
  p.f().txtUnitID.SetText("1");
  EXPECT_EQ(p.Send(), Cat(Connect(port), good(5)));

  RunFor(200);
  EXPECT_EQ(slave.Requests().size(), 5u);
}

// Nothing listens on the port; the time-out counts from the connect.
TEST(EngineTest, RefusedConnectionLogsTheSocketErrorThenConnectTimeout) {
  const int port = vesk::test::FreeTcpPort();
  ASSERT_GT(port, 0);
  Panel p;
  p.UseSocket(kTcp, port, "400");
  EXPECT_EQ(p.Send(), (Rows{"", Connect(port)[1], "Communication Error: Connection refused (Code 0)",
                            "Communication Error: Connect timeout"}));
  EXPECT_EQ(p.RowColors(), (std::vector<uint32_t>{LogColorInfo, LogColorError, LogColorError}));
  EXPECT_PRED3(Within, p.Between("Connect to", "Communication Error: Connect timeout"), 380, 1500);
  p.Mark();
  RunFor(600);
  EXPECT_EQ(p.Rows(), Rows{});
}

// Last, a two-frame 06 write whose first answer has a stray byte behind it.
TEST(EngineTest, FaultsAreLoggedWithTheirBytesPaintedAndStrayBytesDropped) {
  const Fault kRtuFaults[] = {
      {"reply 01 03 02 00 07 00 00", "Protocol Error: Bad Checksum (expected F9 86)", {5, 6}, true},
      {"reply 09 03 02 00 07 CRC", "Protocol Error: Wrong response slave (expected 01)", {0}, true},
      {"chunks 60 01 03 | 02 00 | 07 CRC", "", {}, true},
  };
  for (const int16_t mode : {kTcp, kRtuOverTcp}) {
    SCOPED_TRACE(mode);
    const std::vector<Fault> faults(mode == kTcp ? std::begin(kTcpFaults) : std::begin(kRtuFaults),
                                    mode == kTcp ? std::end(kTcpFaults) : std::end(kRtuFaults));
    std::string script;
    for (const Fault& c : faults) script += std::string(c.step) + "\n";
    script +=
        mode == kTcp ? "reply TID 00 00 00 06 UID 06 00 1E 12 34 EE\necho\n" : "reply 01 06 00 1E 12 34 CRC EE\necho\n";
    Peer peer;
    const int port = peer.FaultPeer(script, mode == kTcp ? Rows{} : Rows{"--rtu"});
    ASSERT_GT(port, 0);
    Panel p;
    p.UseSocket(mode, port, "300");
    ASSERT_TRUE(p.ConnectNow());
    p.SetRequest(3, "0", "1");
    for (const Fault& c : faults) {
      SCOPED_TRACE(c.step);
      const int tid = p.f().TransactionID + 1;
      const Rows after = FaultRows(c.step, c.error, tid);
      EXPECT_EQ(p.Send(), Cat({Req(Adu(mode, tid, {1, 3, 0, 0, 0, 1}))}, after));
      std::vector<uint32_t> colors(2, LogColorInfo), bytes(Sent(c.step, tid).size(), LogColorInfo);
      if (after.size() > 1) colors.push_back(LogColorError);
      for (size_t i : c.painted) bytes[i] = LogColorHighlight;
      EXPECT_EQ(p.RowColors(), colors);
      EXPECT_EQ(p.ByteColors(), bytes);
      EXPECT_EQ(p.f().txtResponse.Enabled(), c.shown);
      EXPECT_EQ(p.f().txtResponse.Text(), "HR 00000: 7");
    }
    p.SetRequest(6, "30", "305419896", 6);
    const int tid = p.f().TransactionID + 1;
    const Frame first = Adu(mode, tid, {1, 6, 0, 30, 0x12, 0x34}),
                second = Adu(mode, tid + 1, {1, 6, 0, 31, 0x56, 0x78});
    EXPECT_EQ(p.Send(), (Rows{Req(first), Rsp(first), Req(second), Rsp(second)}));
    EXPECT_EQ(p.f().txtResponse.Text(), "HR 00030 <- 4660\r\nHR 00031 <- 22136");
    p.Mark();
    RunFor(350);
    EXPECT_EQ(p.Rows(), Rows{});
  }
}

// Unit 7 is not served; a file that is no terminal and a port held by another program get their
// reason and no permission hint.
TEST(EngineTest, SerialTimeoutAndPortsThatCannotBeUsed) {
  vesk::test::PtyPair pair;
  Peer slave;
  ASSERT_TRUE(pair.Open() && slave.Slave({"--rtu", pair.B()}));
  const std::string port = pair.A(), file = slave.Dir() + "/not-a-tty", fail = "Communication Error: Failed to open ";
  std::ofstream(file) << "x";
  Panel p;
  p.UseSerial(port, "9600", 0, 0, "300");
  p.SetRequest(3, "2", "1", 0, "7");
  EXPECT_EQ(p.Send(), Cat(Open(port), {Req(WithCrc({7, 3, 0, 2, 0, 1})), kTimedOut, port + " closed"}));
  EXPECT_PRED3(Within, p.Between("Request", kTimedOut), 290, 1000);
  const auto sendGood = [&](const char* why) {
    SCOPED_TRACE(why);
    p.SetRequest(3, "2", "1");
    EXPECT_EQ(p.Send(), Cat(Open(port), {Req(WithCrc({1, 3, 0, 2, 0, 1})), Rsp(WithCrc({1, 3, 2, 0, 2}))}));
    p.Mark();
    p.f().cmdRtuClosePort_Click();
    EXPECT_EQ(p.Rows(), Rows{port + " closed"});
  };
  sendGood("after the time-out");
  qt::QtSerialPort holder;
  for (const std::string& path : {file, port}) {
    SCOPED_TRACE(path);
    std::string error;
    ASSERT_TRUE(path == file || holder.Open(port, {}, error)) << error;
    p.ports().Set({path});
    p.f().RefreshComPorts();
    p.f().cmbRtuPort.SetText(path);
    Rows rows = p.Send();
    RunFor(350);
    ASSERT_EQ(p.Rows().size(), 3u) << ::testing::PrintToString(p.Rows());
    EXPECT_GT(rows.back().size(), fail.size() + path.size() + 2);  // with its reason
    rows.back().resize(fail.size() + path.size() + 2);
    EXPECT_EQ(rows, (Rows{"", "Open " + path + "...", fail + path + ": "}));
    EXPECT_EQ(p.RowColors().back(), LogColorError);
    EXPECT_FALSE(p.f().comm1->IsOpen());
  }
  holder.Close();
  sendGood("once free");
  EXPECT_EQ(slave.Requests().size(), 3u);
}

// A request to unit 9 (not served) is in flight when the pty pair ends.
TEST(EngineTest, VanishedPortIsDroppedAndRegainedByName) {
  vesk::test::PtyPair pair;
  Peer slave;
  ASSERT_TRUE(pair.Open() && slave.Slave({"--rtu", pair.B()}));
  const std::string port = pair.A(), closed = port + " closed: ";
  Panel p;
  p.UseSerial(port, "9600", 0, 0, "1500");
  p.SetRequest(3, "4", "1", 0, "9");
  QElapsedTimer sinceSend;
  sinceSend.start();
  p.f().cmdSend_Click();
  ASSERT_TRUE(p.f().AwaitingResponse);
  pair.Close();
  ASSERT_TRUE(RunUntil([&] { return p.CountPrefix(closed) > 0; }, 3000));
  EXPECT_FALSE(p.f().comm1->IsOpen() || p.f().AwaitingResponse);
  ASSERT_TRUE(RunUntil([&] { return p.f().cmbRtuPort.ListCount() == 0; }, 2500));
  EXPECT_EQ(p.f().cmbRtuPort.ListIndex(), -1);
  const std::clock_t cpu = std::clock();
  RunFor(1000);
  EXPECT_LT(std::clock() - cpu, CLOCKS_PER_SEC * 15 / 100) << "CPU time in one idle second";
  RunUntil([&] { return sinceSend.elapsed() > 1800; }, 2000);
  Rows rows = p.Rows();
  ASSERT_EQ(rows.size(), 5u) << ::testing::PrintToString(rows);
  EXPECT_GT(rows[4].size(), closed.size());
  rows[4].resize(closed.size());
  EXPECT_EQ(rows, Cat(Open(port), {Req(WithCrc({9, 3, 0, 4, 0, 1})), closed}));

  ASSERT_TRUE(pair.Open() && slave.WaitReady());
  ASSERT_TRUE(RunUntil([&] { return p.f().cmbRtuPort.ListIndex() == 0; }, 2500));
  EXPECT_EQ(p.f().cmbRtuPort.Text(), port);
  p.SetRequest(3, "4", "1");
  EXPECT_EQ(p.Send(), Cat(Open(port), {Req(WithCrc({1, 3, 0, 4, 0, 1})), Rsp(WithCrc({1, 3, 2, 0, 4}))}));
}

}  // namespace
