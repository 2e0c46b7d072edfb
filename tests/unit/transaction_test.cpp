// The transaction cycle, reception, the socket and serial transports, polling and the statistics.
#include <tuple>

#include "panel_rig.h"

namespace {

using namespace rig;

const Frame kRead1 = {0, 1, 0, 0, 0, 6, 1, 3, 0, 0, 0, 2}, kRead2 = {0, 2, 0, 0, 0, 6, 1, 3, 0, 0, 0, 2};
const Frame kAnswer1 = {0, 1, 0, 0, 0, 7, 1, 3, 4, 0, 10, 0, 11}, kRtuRead = WithCrc({1, 3, 0, 0, 0, 1});
const std::string kRead1Hex = "00 01 00 00 00 06 01 03 00 00 00 02", kRtuHex = "01 03 00 00 00 01 84 0A";

TEST(TransactionCycle, QueuedFramesGoOutOnTheCompletingByteAndATimeOutDropsTheRest) {
  Panel r(kTcp);
  r.Connect();
  for (const Frame& q : {kRead1, kRead2, Frame{0, 3}}) r.f.PushRequest(q);
  r.f.SendTcpRequest();
  r.fp.clock->Advance(250);
  r.Mark();
  Frame chunk = kAnswer1;
  chunk.insert(chunk.end(), {0, 2, 0});
  r.fp.socket->Deliver(chunk);  // the bytes behind the answer are dropped, counted before the next request
  EXPECT_EQ(r.NewLog(),
            r.Rows({"Response <-- " + Hex(kAnswer1), "Dropped 3 unread bytes", "Request  --> " + Hex(kRead2)}));
  EXPECT_EQ(r.f.RequestStartTime, 21849045 + 250);  // 06:04:09.045 in day milliseconds, stamped again
  r.fp.socket->Deliver({0, 2});
  r.Mark();
  r.fp.clock->Advance(1000);
  EXPECT_EQ(r.NewLog(), r.Rows({"Response <-- 00 02", "Communication Error: Request Timeout", "Disconnected"}));
  r.fp.clock->Advance(10000);
  EXPECT_EQ(r.fp.socket->sent, (std::vector<Frame>{kRead1, kRead2}));
  EXPECT_EQ(r.Count("Request Timeout"), 1);
}

TEST(TransactionCycle, AnEmptyRawFrameOnlyLogsItsRowAndSendWhileAwaitingGoesOutAtOnce) {
  Panel r(kTcp);
  r.Connect();
  r.TypeHex("zz");
  r.f.cmdSend_Click();
  EXPECT_EQ(r.NewLog(), r.Rows({"Request  --> "}));
  EXPECT_TRUE(r.fp.socket->sent.empty() && r.f.AwaitingResponse);
  r.fp.socket->Deliver({0, 1, 0});
  r.fp.clock->Advance(600);
  r.TypeHex(kRead1Hex);
  r.f.cmdSend_Click();
  EXPECT_EQ(r.fp.socket->sent, std::vector<Frame>{kRead1});
  r.fp.clock->Advance(999);
  r.Mark();
  r.fp.clock->Advance(1);  // the time-out restarted with the second Send
  EXPECT_EQ(r.NewLog(), r.Rows({"Communication Error: Request Timeout", "Disconnected"}));
}

TEST(TransactionCycle, TimeOutFieldOfTheTransportDecidesWhetherAndWhenItFires) {
  const std::tuple<int16_t, const char*, const char*, int> cases[] = {
      // mode, TCP and RTU field, 0: never fires
      {kTcp, "", "700", 0},           {kTcp, "65536", "700", 0},  {kTcp, "abc", "700", 0},
      {kTcp, " 500\r\n", "700", 500}, {kTcp, "65535", "", 65535}, {kRtuOverTcp, "300", "700", 300},
      {kRtu, "300", "700", 700},      {kRtu, "700", "", 0}};
  for (const auto& [mode, tcp, rtu, firesAfter] : cases) {
    SCOPED_TRACE(std::to_string(mode) + " \"" + tcp + "\" \"" + rtu + "\"");
    Panel r(mode);
    r.f.txtTcpTimeout.SetText(tcp);
    r.f.txtRtuTimeout.SetText(rtu);
    mode == kRtu ? (r.UsePorts({"COM3"}), r.f.OpenRtuPort()) : r.Connect();
    r.Send(kRtuRead);
    r.fp.clock->Advance(firesAfter > 0 ? firesAfter - 1 : 200000);
    EXPECT_TRUE(r.f.AwaitingResponse);
    r.fp.clock->Advance(1);
    EXPECT_EQ(r.f.AwaitingResponse, firesAfter == 0);
  }
}

// The rows after the response row, red from their first character, and the bytes painted in the response row
// (the faults themselves are the assembler's, tested in modbus_test.cpp).
TEST(Reception, ChecksMessagesPaintedBytesAndReportingOrder) {
  const Frame tcpRead = {0, 5, 0, 0, 0, 6, 1, 3, 0, 0, 0, 1};
  const std::string pe = "Protocol Error: ", tid = pe + "Wrong Transaction ID (expected 00 05)",
                    pid = pe + "Invalid protocol ID (expected 00 00)", mbap = pe + "Invalid MBAP Length",
                    e2 = "Modbus Exception: Illegal Data Address (Code 2)",
                    cmd = pe + "Wrong response command (expected 03)",
                    slave = pe + "Wrong response slave (expected 01)";
  // mode, request, answer, the rows after the response row, the bytes painted
  const std::tuple<int16_t, Frame, Frame, std::vector<std::string>, std::vector<int>> cases[] = {
      {kTcp, tcpRead, {0, 7, 0, 0, 0, 5, 1, 3, 2, 0, 42}, {tid}, {0, 1}},
      {kTcp, tcpRead, {0, 5, 0, 0, 0, 3, 1, 0x83, 12}, {"Modbus Exception: Unknown exception (Code 12)"}, {8}},
      {kRtuOverTcp, kRtuRead, WithCrc({1, 0x83, 9}), {"Modbus Exception: Unknown exception (Code 9)"}, {}},
      {kRtuOverTcp, kRtuRead, WithCrc({1, 0x83, 0}), {"Modbus Exception: Unknown exception (Code 0)"}, {2}},
      {kRtuOverTcp, kRtuRead, WithCrc({1, 0x84, 2}), {e2, cmd}, {1}},
      {kTcp, tcpRead, {0, 9, 0, 1, 0, 2, 7, 4, 2, 0, 42}, {tid, pid, mbap, slave, cmd}, {0, 1, 2, 3, 4, 5, 6, 7}},
  };
  for (const auto& [mode, request, response, rows, painted] : cases) {
    SCOPED_TRACE(Hex(response));
    Panel r(mode);
    r.Connect();
    r.Send(request);
    r.Mark();
    r.fp.socket->Deliver(response);
    const std::string expected = r.Rows({"Response <-- " + Hex(response)}) + r.Rows(rows);
    EXPECT_EQ(std::make_tuple(r.NewLog(), r.Painted(), r.f.AwaitingResponse),
              std::make_tuple(expected, painted, false));
    EXPECT_EQ(r.f.txtLog.ColorAt(r.mark + expected.find(rows[0])), LogColorError);
  }
}

TEST(TcpTransport, ConnectRowsTheConnectTimeOutAndPollingThroughASocketError) {
  Panel r(kTcp);
  r.f.txtTcpHost.SetText(" 127.0.0.1 ");
  r.TypeHex(kRead1Hex);
  r.f.cmdSend_Click();
  EXPECT_EQ(r.NewLog(), r.Rows({"", "Connect to  127.0.0.1 :502..."}));
  r.Mark();
  r.fp.clock->Advance(1000);
  EXPECT_EQ(r.NewLog(), r.Rows({"Communication Error: Connect timeout", "Disconnected"}));
  EXPECT_TRUE(r.f.Requests.empty());
  r.f.cmdAuto1_MouseDown();
  r.Mark();
  r.fp.socket->AcceptConnect();
  EXPECT_EQ(r.NewLog(), r.Rows({"Connected", "Request  --> " + kRead1Hex}));
  r.fp.socket->Deliver({0, 1, 0});
  r.Mark();
  r.fp.socket->PeerClose();
  EXPECT_EQ(r.NewLog(), r.Rows({"Response <-- 00 01 00",
                                "Communication Error: Slave closed the connection: The remote host closed the "
                                "connection (Code 1)"}));
  EXPECT_EQ(r.f.Stats.connectionErrors, 2u);  // the connect time-out and the close
  EXPECT_EQ(r.f.Stats.timeouts, 0u);
  EXPECT_FALSE(r.f.AwaitingResponse || r.f.tmrTimeout.Enabled());
  r.fp.clock->Advance(1000);  // the tick is not skipped: it connects again and sends once connected
  r.fp.socket->AcceptConnect();
  EXPECT_EQ(r.fp.socket->connects, (std::vector<std::pair<std::string, int32_t>>(3, {"127.0.0.1", 502})));
  EXPECT_EQ(r.fp.socket->sent, std::vector<Frame>(2, kRead1));
}

TEST(TcpTransport, ButtonsEndTheTransactionInFlightWhileSendsOwnReconnectKeepsItsFrame) {
  const std::vector<std::string> reconnect = {"Disconnected", "", "Connect to 127.0.0.1:502..."};
  const std::tuple<std::function<void(Panel&)>, std::vector<std::string>, size_t> cases[] = {
      // action, rows, frames left queued; the last: Send after the slave closed its end mid-answer
      {[](Panel& r) { r.f.cmdTcpConnect.onClick(); }, reconnect, 0},
      {[](Panel& r) { r.f.cmdTcpDisconnect.onClick(); }, {"Disconnected"}, 0},
      {[](Panel& r) {
         r.fp.socket->state = platform::TcpSocket::kOther;
         r.TypeHex(kRead1Hex);
         r.f.cmdSend_Click();
       },
       reconnect, 1}};
  for (const auto& [act, rows, queued] : cases) {
    SCOPED_TRACE(rows.size() + queued);
    Panel r(kTcp);
    r.Connect();
    r.f.PushRequest(kRead2);
    r.Send(kRead2);
    r.fp.socket->Deliver({0, 2, 0});
    r.Mark();
    act(r);
    EXPECT_EQ(r.NewLog(), r.Rows(rows));
    EXPECT_FALSE(r.f.AwaitingResponse || r.f.tmrTimeout.Enabled());
    EXPECT_EQ(r.f.Requests.size(), queued);
    r.fp.socket->AcceptConnect();
    EXPECT_EQ(r.fp.socket->sent, (queued ? std::vector<Frame>{kRead2, kRead1} : std::vector<Frame>{kRead2}));
  }
}

TEST(SerialTransport, OpenRowsOnceThenTheCloseButtonAndAVanishedPortEndTheTransaction) {
  Panel r(kRtu);
  r.UsePorts({"COM1", "COM3"});
  r.f.cmbRtuPort.SetListIndex(1);
  r.f.cmbRtuParity.SetListIndex(2);
  r.f.cmbRtuStopBit.SetListIndex(1);
  r.TypeHex(kRtuHex);
  r.f.cmdSend_Click();
  r.f.cmdSend_Click();
  EXPECT_EQ(r.NewLog(),
            r.Rows({"", "Open COM3...", "COM3 opened", "Request  --> " + kRtuHex, "Request  --> " + kRtuHex}));
  const platform::SerialSettings& s = r.fp.serial->openedSettings.at(0);
  EXPECT_EQ(std::tie(s.baud, s.parity, s.dataBits, s.stopBits), std::make_tuple(9600, 'e', 8, 2));
  EXPECT_FALSE(r.f.cmbRtuPort.Enabled() || r.f.cmbRtuSpeed.Enabled() || r.f.cmbRtuStopBit.Enabled());
  r.Mark();
  r.f.cmdRtuClosePort.onClick();
  EXPECT_FALSE(r.f.AwaitingResponse || r.f.tmrTimeout.Enabled());
  r.f.cmdRtuClosePort.onClick();
  r.f.cmdSend_Click();
  r.fp.serial->Vanish("Inappropriate ioctl for device");
  EXPECT_FALSE(r.f.AwaitingResponse || r.f.tmrTimeout.Enabled());
  r.f.comm1_Gone("Inappropriate ioctl for device");  // a second report changes nothing
  EXPECT_EQ(r.NewLog(), r.Rows({"COM3 closed", "", "Open COM3...", "COM3 opened", "Request  --> " + kRtuHex,
                                "COM3 closed: Inappropriate ioctl for device"}));
  EXPECT_EQ(r.fp.serial->closeCount, 1);
  EXPECT_EQ(r.fp.serial->written, std::vector<Frame>(3, kRtuRead));
  EXPECT_TRUE(r.f.cmbRtuPort.Enabled() && r.f.cmbRtuStopBit.Enabled());
}

TEST(SerialTransport, OpenFailuresAreLoggedWithTheirReasonAndTheRequestStaysQueued) {
  const std::string hint =
      "Access denied: add your user to the group that owns the device (usually dialout: sudo usermod -aG dialout "
      "$USER), then log in again.";
  const std::tuple<std::vector<std::string>, std::string, std::string, bool, std::string> cases[] = {
      // ports, speed, the port's failure, for lack of permission, the error after "Communication Error: "
      {{"COM1"}, "9600", "", false, "COM port not selected"},
      {{}, "9600", "", false, "COM ports not found"},
      {{"COM3"}, "abc", "", false, "Failed to open COM3: Invalid baud rate: abc"},
      {{"COM3"}, "9600", "Permission denied", true, "Failed to open COM3: Permission denied"}};
  for (const auto& [ports, speed, fails, denied, error] : cases) {
    SCOPED_TRACE(error);
    Panel r(kRtu);
    r.UsePorts(ports);
    r.f.cmbRtuPort.SetListIndex(error == "COM port not selected" ? -1 : 0);
    r.f.cmbRtuSpeed.SetText(speed);
    r.fp.serial->failOpenWith = fails;
    r.fp.serial->failOpenDeniesPermission = denied;
    r.TypeHex(kRtuHex);
    r.f.cmdSend_Click();
    const std::string rows =
        (error[0] == 'F' ? r.Rows({"", "Open COM3..."}) : "") + r.Rows({"Communication Error: " + error});
    EXPECT_EQ(r.NewLog(), rows + (denied ? r.Rows({hint}) : ""));
    EXPECT_TRUE(!denied || r.f.txtLog.ColorAt(r.mark + rows.size() + 24) == LogColorInfo);
    EXPECT_FALSE(r.fp.serial->IsOpen() || r.f.AwaitingResponse || r.f.tmrTimeout.Enabled());
    EXPECT_EQ(std::make_pair(r.f.Requests.size(), r.f.Stats.connectionErrors), std::make_pair(size_t(1), uint64_t(1)));
  }
}

TEST(SerialTransport, RefreshReselectsByNameAndLeavesAnUnchangedListAndAnOpenPortAlone) {
  Panel r(kRtu);
  r.f.ComPortName = "com3";
  r.fp.ports->ports = {{"COM1", "", "", "", std::nullopt, std::nullopt},
                       {"COM3", "FT232R USB UART", "FTDI", "A10KZ3", 0x0403, 0x6001}};
  r.f.RefreshComPorts();
  EXPECT_EQ(std::make_pair(r.f.cmbRtuPort.ListIndex(), r.f.ComPortName), std::make_pair(1, std::string("COM3")));
  EXPECT_EQ(r.f.cmbRtuPort.ToolTipText(),
            "Description: FT232R USB UART\nManufacturer: FTDI\nSerial number: A10KZ3\nUSB vendor ID: 0403\nUSB product "
            "ID: 6001");
  r.f.OpenRtuPort();
  r.f.CommSettings = "marker";
  r.fp.ports->ports[0].name = " COM1 ";
  r.fp.ports->ports[1].serialNumber = "B77";
  r.fp.clock->Advance(1000);
  EXPECT_EQ(r.f.CommSettings, "marker");
  EXPECT_NE(r.f.cmbRtuPort.ToolTipText().find("Serial number: B77"), std::string::npos);
  r.fp.ports->ports.insert(r.fp.ports->ports.begin(), {"ttyS0", "", "", "", std::nullopt, std::nullopt});
  r.Mark();
  r.fp.clock->Advance(1000);
  EXPECT_EQ(r.f.cmbRtuPort.Items(), (std::vector<std::string>{"ttyS0", "COM1", "COM3"}));
  EXPECT_EQ(r.f.cmbRtuPort.ListIndex(), 2);
  EXPECT_EQ(std::make_pair(r.fp.serial->openedSettings.size(), r.fp.serial->closeCount), std::make_pair(size_t(1), 0));
  r.fp.ports->SetNames({"COM1"});
  r.fp.clock->Advance(1000);
  EXPECT_EQ(std::make_pair(r.f.cmbRtuPort.ListIndex(), r.f.cmbRtuPort.ToolTipText()),
            std::make_pair(-1, std::string()));
  r.f.CloseRtuPort();  // the open port keeps its name
  EXPECT_EQ(r.NewLog(), r.Rows({"COM3 closed"}));
}

TEST(Polling, StartsAtOnceSkipsTicksWhileAwaitingRetriesAfterATimeOutAndFollowsTheInterval) {
  Panel r(kRtu);
  r.UsePorts({"COM3"});
  r.TypeHex(kRtuHex);
  r.f.txtRtuTimeout.SetText("600");
  r.f.txtPollInterval.SetText("250");
  auto polls = [&] { return r.fp.serial->written.size(); };
  auto answer = [&] { r.fp.serial->Deliver(WithCrc({1, 3, 2, 0, 7})); };
  r.f.cmdAuto1.onMouseDown();
  EXPECT_EQ(polls(), 1u);
  answer();
  // Answered: the tick at 250 polls; then 500 is skipped, the time-out at 850 closes the port, 1000 polls again.
  const std::pair<int, size_t> timeline[] = {{249, 1}, {250, 2}, {500, 2}, {999, 2}, {1000, 3}};
  for (int64_t now = 0; auto [at, n] : timeline) {
    r.fp.clock->Advance(at - std::exchange(now, at));
    EXPECT_EQ(polls(), n) << "at " << at;
  }
  EXPECT_EQ(std::make_pair(r.Count("Request Timeout"), r.Count("COM3 opened")), std::make_pair(1, 2));
  answer();
  r.f.txtPollInterval.SetText("400");
  bool cancel = false;
  r.f.txtPollInterval_Validate(cancel);
  r.fp.clock->Advance(399);
  EXPECT_EQ(polls(), 3u);
  r.fp.clock->Advance(1);
  EXPECT_EQ(polls(), 4u);
}

TEST(SessionStats, ScriptedSessionAndTheResetOnAChangeOfMode) {
  Panel r(kTcp);
  int notices = 0;
  r.f.onStatsChanged = [&notices] { ++notices; };
  auto good = [](uint8_t id) { return Frame{0, id, 0, 0, 0, 5, 1, 3, 2, 0, 7}; };
  auto exception = [](uint8_t id) { return Frame{0, id, 0, 0, 0, 3, 1, 0x83, 2}; };
  // Good, good, a wrong transaction id, an exception, one with a wrong id (a protocol error), a time-out, good.
  const int ms[] = {3, 9, 5, 4, 6, 1000, 4};  // the last answer is not the quickest
  const Frame answers[] = {good(1), good(2), good(9), exception(4), exception(9), Frame(), good(7)};
  for (uint8_t id = 1; id <= 7; ++id) {
    if (r.fp.socket->state != platform::TcpSocket::kConnected) r.Connect();
    r.Send({0, id, 0, 0, 0, 6, 1, 3, 0, 0, 0, 1});
    r.fp.clock->Advance(ms[id - 1]);
    if (!answers[id - 1].empty()) r.fp.socket->Deliver(answers[id - 1]);
  }
  r.fp.socket->RaiseError(10054, "Connection reset by peer");
  const SessionStats& s = r.f.Stats;
  EXPECT_EQ(std::tie(s.sent, s.answers, s.protocolErrors, s.exceptions, s.timeouts, s.connectionErrors),
            std::make_tuple(7u, 3u, 2u, 1u, 1u, 1u));
  EXPECT_EQ(std::tie(s.lastMs, s.minMs, s.maxMs, s.totalMs), std::make_tuple(4, 3, 9, 16));
  r.fp.locale->separator = ",";
  EXPECT_EQ(r.f.StatsText(),
            "Sent 7 \u00B7 OK 3 \u00B7 Protocol errors 2 \u00B7 Exceptions 1 \u00B7 Time-outs 1 \u00B7 "
            "Connection errors 1 \u00B7 Response ms last 4 min 3 avg 5,3 max 9");
  EXPECT_EQ(notices, 7 + 3 + 2 + 1 + 1 + 1);
  r.f.cmbMode.SetListIndex(1);
  EXPECT_EQ(s.sent, 7u);
  r.f.cmbMode.SetListIndex(2);
  EXPECT_EQ(std::tie(s.sent, s.answers, s.timeouts, s.totalMs), std::make_tuple(0u, 0u, 0u, 0));
  EXPECT_EQ(notices, 16);
}

// Bytes left unread on the link (a late answer, an unsolicited frame) are dropped before the next request goes out,
// counted in one row, and never taken for its answer; so are bytes that come (and are read) while nothing is awaited.
TEST(HostilePeers, UnreadBytesAreDroppedBeforeTheRequestAndCounted) {
  const Frame rtuAnswer = WithCrc({1, 3, 2, 0, 7}), tcpAnswer = {0, 2, 0, 0, 0, 5, 1, 3, 2, 0, 9};
  // mode, the bytes, the row, whether they come while nothing is awaited (else they wait unread)
  const std::tuple<int16_t, Frame, std::string, bool> cases[] = {{kTcp, kAnswer1, "Dropped 13 unread bytes", false},
                                                                 {kTcp, {0x55}, "Dropped 1 unread byte", false},
                                                                 {kTcp, {}, "", false},
                                                                 {kRtu, rtuAnswer, "Dropped 7 unread bytes", false},
                                                                 {kTcp, {0x55, 0x56}, "Dropped 2 unread bytes", true},
                                                                 {kRtu, rtuAnswer, "Dropped 7 unread bytes", true}};
  for (const auto& [mode, stale, dropped, come] : cases) {
    SCOPED_TRACE(dropped + " mode " + std::to_string(mode) + (come ? " come" : ""));
    Panel r(mode);
    const Frame request = mode == kTcp ? kRead2 : kRtuRead;
    if (mode == kTcp) r.Connect();
    if (mode == kRtu) {  // the first Send opens the port
      r.UsePorts({"COM1"}), r.TypeHex(kRtuHex), r.f.cmdSend_Click();
      r.fp.serial->Deliver(rtuAnswer);
    }
    r.Mark();
    // Right behind an answer on the serial port the Send is held for the line's silence (4 ms at 9600 baud): the
    // bytes come, or wait unread, while it is held.
    r.TypeHex(Hex(request));
    if (mode == kRtu) r.f.cmdSend_Click();
    for (size_t half = 0; come && half < 2; ++half) {  // in two chunks, dropped in one row
      const Frame part(stale.begin() + (half ? stale.size() / 2 : 0),
                       half ? stale.end() : stale.begin() + stale.size() / 2);
      mode == kTcp ? r.fp.socket->Deliver(part) : r.fp.serial->Deliver(part);
    }
    if (!come) mode == kTcp ? r.fp.socket->Queue(stale) : r.fp.serial->Queue(stale);
    if (mode == kRtu) {
      r.fp.clock->Advance(3);
      EXPECT_EQ(std::make_pair(r.NewLog(), r.fp.serial->written.size()), std::make_pair(std::string(), size_t{1}));
      r.fp.clock->Advance(1);
    } else {
      r.f.cmdSend_Click();
    }
    const std::string requestRow = "Request  --> " + Hex(request);
    EXPECT_EQ(r.NewLog(), dropped.empty() ? r.Rows({requestRow}) : r.Rows({dropped, requestRow}));
    r.Mark();
    mode == kTcp ? r.fp.socket->Deliver(tcpAnswer) : r.fp.serial->Deliver(rtuAnswer);
    EXPECT_EQ(std::make_tuple(r.NewLog().find("Protocol Error"), r.f.Stats.protocolErrors, r.f.AwaitingResponse),
              std::make_tuple(std::string::npos, uint64_t(0), false));
  }
}

// A close by the peer with nothing awaited is one information row and no error (while an answer is awaited it is a
// connection error: TcpTransport); no time-out follows and the next send reconnects.
TEST(HostilePeers, APeerCloseWithNothingAwaitedIsOneInformationRow) {
  Panel r(kTcp);
  r.Connect();
  r.Send(kRead1);
  r.fp.socket->Deliver(kAnswer1);
  r.Mark();
  r.fp.socket->PeerClose("The remote host closed the connection");
  EXPECT_EQ(r.NewLog(), r.Rows({"Slave closed the connection: The remote host closed the connection"}));
  r.Mark();
  r.fp.clock->Advance(5000);
  EXPECT_EQ(std::make_tuple(r.NewLog(), r.f.Stats.timeouts, r.f.Stats.connectionErrors),
            std::make_tuple(std::string(), uint64_t(0), uint64_t(0)));
  r.TypeHex(kRead1Hex);
  r.f.cmdSend_Click();
  EXPECT_EQ(r.NewLog(), r.Rows({"Disconnected", "", "Connect to 127.0.0.1:502..."}));
}

}  // namespace
