// The whole transaction through the panel on the real Qt socket and serial port: every function code
// against the libmodbus slave on 127.0.0.1, through a TCP-to-pty bridge and on a pty pair; faults,
// hostile answers, the ASCII framings and ports that fail against the scripted fault peer. Each
// code's frames, views and fault texts are the unit tests' and the libmodbus comparisons'.
#include <dlfcn.h>
#include <modbus-version.h>
#include <termios.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <thread>
#include <tuple>

#include "panel_rig.h"
#include "qt/adapters/qt_serial_port.h"
#include "slave_contents.h"

namespace {
// What the serial port asked of each terminal, and the last of it.
std::map<int, termios> asked;
termios lastAsked{};

template <typename F>
F Real(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}
}  // namespace

// A pty keeps 8 data bits and no parity bit whatever it is asked. Here it answers with the character
// size and parity it was last asked for, as a serial line does: the port changes one setting at a
// time on what it reads back, so the line settings can then be checked as the port set them.
extern "C" int tcsetattr(int fd, int action, const termios* t) noexcept {
  static const auto real = Real<int (*)(int, int, const termios*)>("tcsetattr");
  const int result = real(fd, action, t);
  if (result == 0) asked[fd] = lastAsked = *t;
  return result;
}

extern "C" int tcgetattr(int fd, termios* t) noexcept {
  static const auto real = Real<int (*)(int, termios*)>("tcgetattr");
  const int result = real(fd, t);
  constexpr tcflag_t kKept = CSIZE | PARENB;
  if (const auto it = asked.find(fd); result == 0 && it != asked.end())
    t->c_cflag = (t->c_cflag & ~kKept) | (it->second.c_cflag & kKept);
  return result;
}

namespace {

using namespace rig;

// The form: the function code and the fields it reads.
struct Form {
  int cmd;
  std::string addr = {}, quantity = {}, values = {};
  int format = 0;
  std::string writeAddr = {};
  int readCode = 0;
  std::string objectId = "0";
  std::string andMask = {}, orMask = {};
};
void Fill(Panel& p, const Form& x) {
  static const std::map<int, int> kItem = {{15, 7}, {22, 8}, {23, 9}, {43, 10}, {17, 11}, {7, 12}, {8, 13}};
  if (!kItem.count(x.cmd)) return p.SetRequest(x.cmd, x.addr, x.cmd <= 4 ? x.quantity : x.values, x.format);
  frmMain& f = p.f();
  f.txtUnitID.SetText("1");
  f.cmbCmd.SetListIndex(kItem.at(x.cmd));
  f.cmbFormat.SetListIndex(x.format);
  f.txtAddr.SetText(x.addr);
  f.txtQuantity.SetText(x.quantity);
  f.txtValues.SetText(x.values);
  f.txtWriteAddr.SetText(x.writeAddr);
  f.cmbReadCode.SetListIndex(x.readCode);
  f.txtObjectId.SetText(x.objectId);
  f.txtAndMask.SetText(x.andMask);
  f.txtOrMask.SetText(x.orMask);
}

// One press of Send: the form, the frames on the wire (slave byte first, "|" between the frames of
// one press) and the response view.
struct Exchange {
  Form form;
  std::string requests = {}, answers = {}, view = {};
};

// The slave's extended device identification in three answers, as slave_contents.h says it must be.
Exchange DeviceIdChain() {
  static const char* kNames[] = {"VendorName",  "ProductCode", "MajorMinorRevision", "VendorUrl",
                                 "ProductName", "ModelName",   "UserApplicationName"};
  Exchange x{{43, "", "", "", 0, "", 2}, "01 2B 0E 03 00|01 2B 0E 03 06|01 2B 0E 03 80"};
  for (const auto& [from, next] : {std::pair{0, 6}, {6, 0x80}, {0x80, 0}}) {
    Frame f = {1, 43, 14, 3, VESK_SLAVE_CONFORMITY, static_cast<uint8_t>(next ? 0xFF : 0), static_cast<uint8_t>(next),
               0};
    std::string view = "Read device ID code 03, conformity level 83";
    for (int id = from; id <= 0x80 && (next == 0 || id < next); ++id)
      if (const char* v = vesk_slave_device_object(id)) {
        f.insert(f.end(), {static_cast<uint8_t>(id), static_cast<uint8_t>(std::strlen(v))});
        f.insert(f.end(), v, v + std::strlen(v));
        ++f[7];
        view += std::string("\r\n") + (id < 0x10 ? "0" : "") + (id < 0x80 ? std::to_string(id) : "80") +
                (id < 7 ? std::string(" ") + kNames[id] : "") + ": " + v;
      }
    x.answers += (from ? "|" : "") + Hex(f);
    x.view += (from ? "\r\n" : "") + view + (next ? "\r\nMore follows: next object ID " + Hex({uint8_t(next)}) : "");
  }
  return x;
}

// Against the slave's known contents: a bit read, register reads (one in hex addresses), writes of
// one and of two frames, coils written, a mask write, a read/write of registers, a device
// identification chain, the server id (libmodbus's own, its version in it), the exception status and
// a diagnostics echo.
std::vector<Exchange> Exchanges() {
  std::string coils, status = "Exception status: 6D";
  for (int i = 0; i < 10; ++i)
    coils += (i ? "\r\nCL 000" : "CL 000") + std::to_string(19 + i) + " <- " + "1011001110"[i];
  for (int bit = 0; bit < 8; ++bit)
    status += "\r\nStatus bit " + std::to_string(bit) + ": " + std::to_string(VESK_SLAVE_EXCEPTION_STATUS >> bit & 1);
  const std::string id = "LMB" LIBMODBUS_VERSION_STRING;
  const std::string idHex = Hex(Frame(id.begin(), id.end()));
  return {
      {{1, "20", "4"}, "01 01 00 14 00 04", "01 01 01 02", "CL 00020: 0\r\nCL 00021: 1\r\nCL 00022: 0\r\nCL 00023: 0"},
      {{3, "110", "2"}, "01 03 00 6E 00 02", "01 03 04 80 00 FF FF", "HR 00110: -32768\r\nHR 00111: -1    "},
      {{4, "0x10", "2", "", 1}, "01 04 00 10 00 02", "01 04 04 03 F8 03 F9", "IR 0x0010: 1016\r\nIR 0x0011: 1017"},
      {{16, "7", "", "4321"}, "01 10 00 07 00 01 02 10 E1", "01 10 00 07 00 01", "HR 00007 <- 4321"},
      {{6, "30", "", "305419896", 6},
       "01 06 00 1E 12 34|01 06 00 1F 56 78",
       "01 06 00 1E 12 34|01 06 00 1F 56 78",
       "HR 00030 <- 4660\r\nHR 00031 <- 22136"},
      {{15, "19", "10", "1 0 1 1 0 0 1 1 1 0"}, "01 0F 00 13 00 0A 02 CD 01", "01 0F 00 13 00 0A", coils},
      {{23, "14", "2", "7 -2", 0, "14"},
       "01 17 00 0E 00 02 00 0E 00 02 04 00 07 FF FE",
       "01 17 04 00 07 FF FE",
       "HR 00014 <- 7\r\nHR 00015 <- 65534\r\nHR 00014: 7    \r\nHR 00015: 65534"},
      {{22, "4", "", "", 0, "", 0, "0", "0x00F2", "37"},
       "01 16 00 04 00 F2 00 25",
       "01 16 00 04 00 F2 00 25",
       "HR 00004 <- AND 00F2, OR 0025"},
      DeviceIdChain(),
      {{17},
       "01 11",
       "01 11 " + Hex({uint8_t(id.size() + 2), 0xB4, 0xFF}) + " " + idHex,
       "Server ID: B4\r\nRun indicator: ON (FF)\r\nAdditional data: " + idHex + " \"" + id + "\""},
      {{7}, "01 07", "01 07 6D", status},
      {{8, "", "", "0x1 ffff"},
       "01 08 00 00 00 01 FF FF",
       "01 08 00 00 00 01 FF FF",
       "Diagnostics 0000 (return query data): 00 01 FF FF"},
  };
}

// Every exchange on a panel in `mode`: the first Send makes the transport ready (`want` rows), then
// a request row and a response row per frame with consecutive transaction ids, the view and
// "<n> ms"; the slave received exactly what the log shows as sent.
void RunExchanges(Panel& p, int16_t mode, const Peer& slave, Rows want) {
  Rows sent;
  for (const Exchange& x : Exchanges()) {
    SCOPED_TRACE(x.requests);
    Fill(p, x.form);
    std::istringstream requests(x.requests), answers(x.answers);
    int tid = p.f().TransactionID;
    for (std::string rq, rs; std::getline(requests, rq, '|') && std::getline(answers, rs, '|');) {
      sent.push_back("REQ " + Hex(Adu(mode, ++tid, Sent(rq, 0))));
      want = Cat(want, {Req(Adu(mode, tid, Sent(rq, 0))), Rsp(Adu(mode, tid, Sent(rs, 0)))});
    }
    EXPECT_EQ(p.Send(), want);
    EXPECT_EQ(p.f().txtResponse.Text(), x.view);
    EXPECT_TRUE(std::regex_match(p.f().lblDT.Caption(), std::regex("[0-9]+ ms"))) << p.f().lblDT.Caption();
    want.clear();
  }
  EXPECT_EQ(slave.Requests(), sent);
}

// Then the slave's own refusals of 43/14 and 08.
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
  // An object the slave lacks, a sub-function it does not serve.
  Fill(p, {43, "", "", "", 0, "", 3, "0x7F"});
  EXPECT_EQ(p.Send().back(), "Modbus Exception: Illegal Data Address (Code 2)");
  p.f().optHEX.SetValue(true);
  p.f().txtHEX.SetText("00 00 00 00 00 06 01 08 00 01 00 00");
  EXPECT_EQ(p.Send().back(), "Modbus Exception: Illegal Function (Code 1)");
}

// The walkthrough on a pty pair; the terminal's settings as the port set them.
TEST(EngineTest, EveryFunctionCodeOnTheSerialLineWithItsSettings) {
  for (const auto& [speed, parity, stop, args, baud] :
       {std::tuple{"9600", 0, 0, Rows{"--baud", "9600", "--parity", "N", "--stop", "1"}, B9600},
        {"19200", 2, 1, Rows{"--baud", "19200", "--parity", "E", "--stop", "2"}, B19200}}) {
    SCOPED_TRACE(speed);
    vesk::test::PtyPair pair;
    Peer slave;
    ASSERT_TRUE(pair.Open() && slave.Slave(Cat({"--rtu", pair.B()}, args)));
    Panel p;
    p.UseSerial(pair.A(), "500", speed, parity, stop);
    if (baud == B9600) RunExchanges(p, kRtu, slave, Open(pair.A()));
    p.SetRequest(3, "2", "1");
    EXPECT_EQ(p.Send(), Cat(baud == B9600 ? Rows{} : Open(pair.A()),
                            {Req(WithCrc({1, 3, 0, 2, 0, 1})), Rsp(WithCrc({1, 3, 2, 0, 2}))}));
    const termios& t = lastAsked;
    EXPECT_EQ(std::tuple(cfgetospeed(&t), t.c_cflag & CSIZE, (t.c_cflag & CSTOPB) != 0, t.c_cflag & (PARENB | PARODD)),
              std::tuple(baud, tcflag_t{CS8}, stop == 1, tcflag_t{parity == 2 ? PARENB : 0u}));
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
  EXPECT_PRED3(Within, p.Between("Connect to", "Communication Error: Connect timeout"), 380, 1500);
  p.Mark();
  RunFor(600);
  EXPECT_EQ(p.Rows(), Rows{});
}

// The further codes' faults in TCP: the step, the form, the request (slave byte first), the error row
// and the bytes painted (frame offsets), as for the basic codes.
const std::tuple<const char*, Form, const char*, const char*, std::vector<size_t>> kFurtherFaults[] = {
    {"reply TID 00 00 LEN UID 17 04 00 01 00 02",
     {23, "14", "1", "5", 0, "14"},
     "01 17 00 0E 00 01 00 0E 00 01 02 00 05",
     "Protocol Error: Wrong byte count (expected 02)",
     {8}},
    {"reply TID 00 00 LEN UID 0F 00 14 00 0A",
     {15, "19", "10", "1 0 1 1 0 0 1 1 1 0"},
     "01 0F 00 13 00 0A 02 CD 01",
     "Protocol Error: Wrong echo of the address (expected 00 13)",
     {8, 9}},
    {"reply TID 00 00 LEN UID 16 00 04 00 F2 00 26",
     {22, "4", "", "", 0, "", 0, "0", "0xF2", "0x25"},
     "01 16 00 04 00 F2 00 25",
     "Protocol Error: Wrong echo of the OR mask (expected 00 25)",
     {12, 13}},
    {"reply TID 00 00 LEN UID 08 00 00 A5 38",
     {8, "", "", "A537"},
     "01 08 00 00 A5 37",
     "Protocol Error: Wrong echo of the query data (expected 37)",
     {11}},
    {"reply TID 00 00 LEN UID 11 01 2A",
     {17},
     "01 11",
     "Protocol Error: Byte count too small (expected at least 02)",
     {8}},
    {"reply TID 00 00 LEN UID AB 02", {43}, "01 2B 0E 01 00", "Modbus Exception: Illegal Data Address (Code 2)", {}},
};

// A fault per transport with the answer's bytes painted in its row (frame offsets; each fault's rows
// and paint are the unit tests' and the soak's), in TCP the further codes' faults, and a short frame
// whose MBAP length cuts 07's status byte off: it waits for its last byte until the time-out, which
// shows the bytes received.
TEST(EngineTest, FaultsAreLoggedWithTheirBytesPainted) {
  for (const auto& [mode, step, error, painted] :
       {std::tuple{kTcp, kTcpFaults[0].step, kTcpFaults[0].error, std::vector<size_t>{0, 1}},
        {kRtuOverTcp, "reply 01 03 02 00 07 00 00", "Protocol Error: Bad Checksum (expected F9 86)", {5, 6}}}) {
    SCOPED_TRACE(mode);
    Peer peer;
    std::string script = std::string(step) + "\n";
    if (mode == kTcp) {
      for (const auto& further : kFurtherFaults) script += std::get<0>(further) + std::string("\n");
      script += "reply TID 00 00 00 02 UID 07\n";
    }
    const int port = peer.FaultPeer(script, mode == kTcp ? Rows{} : Rows{"--rtu"});
    ASSERT_GT(port, 0);
    Panel p;
    p.UseSocket(mode, port, "300");
    p.SetRequest(3, "0", "1");
    EXPECT_EQ(p.Send(), Cat(Connect(port), Cat({Req(Adu(mode, 1, {1, 3, 0, 0, 0, 1}))}, FaultRows(step, error, 1))));
    EXPECT_EQ(p.ByteColors(), Panel::Painted(Sent(step, 1).size(), painted));
    if (mode != kTcp) continue;
    for (const auto& [fstep, form, request, ferror, fpainted] : kFurtherFaults) {
      SCOPED_TRACE(fstep);
      Fill(p, form);
      const int tid = p.f().TransactionID + 1;
      EXPECT_EQ(p.Send(), Rows({Req(Adu(kTcp, tid, Sent(request, 0))), Rsp(Sent(fstep, tid)), ferror}));
      EXPECT_EQ(p.ByteColors(), Panel::Painted(Sent(fstep, tid).size(), fpainted));
    }
    Fill(p, {7});
    const int tid = p.f().TransactionID + 1;
    EXPECT_EQ(p.Send(),
              Rows({Req(Adu(kTcp, tid, {1, 7})), Rsp(Sent("TID 00 00 00 02 01 07", tid)), kTimedOut, "Disconnected"}));
  }
}

// The slave answers the first request 700 ms late, after the 500 ms time-out closed the port: the
// late answer waits on the line and is dropped (and counted) when the port opens again; the next
// request gets its own answer.
TEST(HostilePeers, ALateSerialAnswerIsDroppedNotTakenForTheNextOne) {
  vesk::test::PtyPair pair;
  Peer slave;
  ASSERT_TRUE(pair.Open());
  ASSERT_TRUE(slave.FaultDevice(pair.B(), "delay 700 reply 01 03 02 00 05 CRC\nreply 01 03 02 00 07 CRC\n"));
  Panel p;
  p.UseSerial(pair.A(), "500");
  p.SetRequest(3, "0", "1");
  const Frame request = WithCrc({1, 3, 0, 0, 0, 1});
  EXPECT_EQ(p.Send(), Cat(Open(pair.A()), {Req(request), kTimedOut, pair.A() + " closed"}));
  RunFor(400);  // the late answer reaches the closed line
  EXPECT_EQ(p.Send(), Cat(Open(pair.A()), {"Dropped 7 unread bytes", Req(request), Rsp(WithCrc({1, 3, 2, 0, 7}))}));
  EXPECT_EQ(p.f().txtResponse.Text(), "HR 00000: 7");
  EXPECT_EQ(std::tuple(p.f().Stats.protocolErrors, p.f().Stats.timeouts), std::tuple(0u, 1u));
}

// A frame the slave sends unasked as soon as it accepts the connection waits on the socket when the
// request is about to go out: it is dropped and counted, never read as the answer.
TEST(HostilePeers, AFrameQueuedOnTheSocketBeforeTheRequestIsDropped) {
  Peer peer;
  const int port = peer.FaultPeer(
      "early TID 00 00 LEN UID FC 02 00 05\nreply TID 00 00 LEN UID FC 02 00 07\n"
      "reply TID 00 00 LEN UID FC 02 00 08\n");
  ASSERT_GT(port, 0);
  Panel p;
  p.UseSocket(kTcp, port, "1000");
  p.SetRequest(3, "0", "1");
  p.f().cmdSend_Click();
  // The loop is held while the connection is made and the frame arrives.
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  ASSERT_TRUE(RunUntil([&] { return p.Idle() && p.f().TransactionID == 1; }, 3000));
  EXPECT_EQ(p.Rows(), Cat(Connect(port), {"Dropped 11 unread bytes", Req(Adu(kTcp, 1, {1, 3, 0, 0, 0, 1})),
                                          Rsp(Adu(kTcp, 1, {1, 3, 2, 0, 7}))}));
  EXPECT_EQ(p.f().txtResponse.Text(), "HR 00000: 7");
  EXPECT_EQ(p.f().Stats.protocolErrors, 0u);
  EXPECT_EQ(p.Send(), (Rows{Req(Adu(kTcp, 2, {1, 3, 0, 0, 0, 1})), Rsp(Adu(kTcp, 2, {1, 3, 2, 0, 8}))}));
}

// The ASCII framings against the fault peer answering in ASCII, on the socket (mode 4) and on a pty
// pair (mode 3): a good answer and one with a bad LRC, their characters (CR and LF among them) as sent.
TEST(EngineTest, AsciiOnTheSocketAndOnAPtyAgainstTheFaultPeer) {
  const std::pair<std::string, Rows> answers[] = {{":01030400000000F8\r\n", {}},
                                                  {":010304000A000B00\r\n", {"Protocol Error: Bad LRC (expected E3)"}}};
  const auto chars = [](const std::string& s) { return Frame(s.begin(), s.end()); };
  vesk::test::PtyPair pair;
  ASSERT_TRUE(pair.Open());
  for (const int16_t mode : {3, 4}) {
    SCOPED_TRACE(mode);
    Peer peer;
    Panel p;
    const std::string script = "echo\nreply 01 03 04 00 0A 00 0B 00\n";
    if (mode == 4) {
      const int port = peer.FaultPeer(script, {"--ascii"});
      ASSERT_GT(port, 0);
      p.UseSocket(mode, port);
    } else {
      ASSERT_TRUE(peer.FaultDevice(pair.B(), script, {"--ascii"}));
      p.UseSerial(pair.A(), "500", "9600", 0, 0, mode);
    }
    p.SetRequest(3, "0", "2");
    for (const auto& [answer, faults] : answers) {
      Rows rows = p.Send();
      rows.erase(rows.begin(),
                 std::find_if(rows.begin(), rows.end(), [](auto& r) { return r.rfind("Request", 0) == 0; }));
      EXPECT_EQ(rows, Cat({Req(chars(":010300000002FA\r\n")), Rsp(chars(answer))}, faults));
    }
  }
}

// A file that is no terminal and a port held by another program get their reason and no permission
// hint; the port is used once it is free.
TEST(EngineTest, SerialPortsThatCannotBeUsed) {
  vesk::test::PtyPair pair;
  Peer slave;
  ASSERT_TRUE(pair.Open() && slave.Slave({"--rtu", pair.B()}));
  const std::string port = pair.A(), file = slave.Dir() + "/not-a-tty", fail = "Communication Error: Failed to open ";
  std::ofstream(file) << "x";
  Panel p;
  p.UseSerial(port, "300");
  p.SetRequest(3, "2", "1");
  qt::QtSerialPort holder;
  for (const std::string& path : {file, port}) {
    SCOPED_TRACE(path);
    std::string error;
    ASSERT_TRUE(path == file || holder.Open(port, {}, error)) << error;
    p.ports->paths = {path};
    p.f().RefreshComPorts();
    p.f().cmbRtuPort.SetText(path);
    Rows rows = p.Send();
    RunFor(350);
    ASSERT_EQ(p.Rows().size(), 3u) << ::testing::PrintToString(p.Rows());
    EXPECT_GT(rows.back().size(), fail.size() + path.size() + 2);  // with its reason
    rows.back().resize(fail.size() + path.size() + 2);
    EXPECT_EQ(rows, (Rows{"", "Open " + path + "...", fail + path + ": "}));
    EXPECT_FALSE(p.f().comm1->IsOpen());
  }
  holder.Close();
  EXPECT_EQ(p.Send(), Cat(Open(port), {Req(WithCrc({1, 3, 0, 2, 0, 1})), Rsp(WithCrc({1, 3, 2, 0, 2}))}));
  EXPECT_EQ(slave.Requests().size(), 1u);
}

// A request to unit 9 (not served) is in flight when the pty pair ends.
TEST(EngineTest, VanishedPortIsDroppedAndRegainedByName) {
  vesk::test::PtyPair pair;
  Peer slave;
  ASSERT_TRUE(pair.Open() && slave.Slave({"--rtu", pair.B()}));
  const std::string port = pair.A(), closed = port + " closed: ";
  Panel p;
  p.UseSerial(port, "1500");
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
