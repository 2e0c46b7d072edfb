// The socket transport: the log rows of connecting, connected, disconnecting,
// the connect time-out and socket errors, and the operator's buttons.
#include "transaction_rig.h"

namespace {

using namespace txrig;

const Frame kRead = {0, 1, 0, 0, 0, 6, 1, 3, 0, 0, 0, 2};
const std::string kReadHex = "00 01 00 00 00 06 01 03 00 00 00 02";

TEST(TcpTransport, SendWithTheSocketClosedConnectsFirstAndSendsOnConnected) {
  Rig r(kTcp);
  r.f.txtTcpHost.SetText(" 127.0.0.1 ");
  r.TypeHex(kReadHex);
  r.f.cmdSend_Click();
  // The host as typed in the row; trimmed for the connect.
  EXPECT_EQ(r.NewLog(), "\r\n" + r.Row("Connect to  127.0.0.1 :502..."));
  ASSERT_EQ(r.fp.socket->connects.size(), 1u);
  EXPECT_EQ(r.fp.socket->connects[0], (std::pair<std::string, int32_t>{"127.0.0.1", 502}));
  EXPECT_FALSE(r.f.txtTcpHost.Enabled());
  EXPECT_FALSE(r.f.txtTcpPort.Enabled());
  EXPECT_TRUE(r.fp.socket->sent.empty());
  EXPECT_EQ(r.f.Requests.size(), 1u);

  r.fp.clock->Advance(20);
  r.Mark();
  r.fp.socket->AcceptConnect();
  EXPECT_EQ(r.NewLog(), r.Row("Connected") + r.Row("Request  --> " + kReadHex));
  EXPECT_EQ(r.fp.socket->sent, std::vector<Frame>{kRead});
  EXPECT_EQ(r.fp.socket->noDelayCount, 1);
  EXPECT_FALSE(r.f.tmrConnectTimeout.Enabled());
  EXPECT_EQ(r.f.ExpectedTransactionId, 1);

  // Connected: the next Send writes at once, without connect rows.
  r.fp.socket->Deliver({0, 1, 0, 0, 0, 7, 1, 3, 4, 0, 1, 0, 2});
  r.Mark();
  r.f.cmdSend_Click();
  EXPECT_EQ(r.NewLog(), r.Row("Request  --> " + kReadHex));
  EXPECT_EQ(r.fp.socket->sent.size(), 2u);
  EXPECT_EQ(r.fp.socket->noDelayCount, 2);
}

TEST(TcpTransport, PortTextThatIsNoNumberConnectsToPortZero) {
  Rig r(kTcp);
  r.f.txtTcpPort.SetText("x");
  r.f.ConnectTCP();
  EXPECT_EQ(r.NewLog(), "\r\n" + r.Row("Connect to 127.0.0.1:0..."));
  EXPECT_EQ(r.fp.socket->connects.back().second, 0);
}

TEST(TcpTransport, RefusedConnectLogsTheErrorThenTheConnectTimeoutAndDropsTheRequest) {
  Rig r(kTcp);
  r.TypeHex(kReadHex);
  r.f.cmdSend_Click();
  r.Mark();
  r.fp.socket->RaiseError(10061, "Connection refused");
  EXPECT_EQ(r.NewLog(), r.Row("Communication Error: Connection refused (Code 10061)"));
  EXPECT_EQ(r.f.txtLog.ColorAt(r.mark), LogColorError);
  EXPECT_EQ(r.fp.socket->state, 0);
  EXPECT_EQ(r.f.Requests.size(), 1u);
  r.Mark();
  r.fp.clock->Advance(1000);
  EXPECT_EQ(r.NewLog(), r.Row("Communication Error: Connect timeout"));
  EXPECT_TRUE(r.f.Requests.empty());
  EXPECT_TRUE(r.f.txtTcpHost.Enabled());
  EXPECT_FALSE(r.f.tmrConnectTimeout.Enabled());
  r.fp.clock->Advance(5000);
  EXPECT_EQ(r.Count("Connect timeout"), 1);
}

TEST(TcpTransport, ConnectTimeOutWhileConnectingDisconnects) {
  Rig r(kTcp);
  r.f.txtTcpTimeout.SetText("250");
  r.f.cmdTcpConnect_Click();
  r.Mark();
  r.fp.clock->Advance(250);
  EXPECT_EQ(r.NewLog(), r.Row("Communication Error: Connect timeout") + r.Row("Disconnected"));
  EXPECT_EQ(r.fp.socket->state, 0);
}

TEST(TcpTransport, SocketErrorDuringATransactionEndsIt) {
  Rig r(kTcp);
  r.Connect();
  r.Send(kRead);
  r.fp.socket->Deliver({0, 1, 0});
  r.Mark();
  r.fp.socket->RaiseError(1, "The remote host closed the connection");
  EXPECT_EQ(r.NewLog(), r.Row("Response <-- 00 01 00") +
                            r.Row("Communication Error: The remote host closed the connection (Code 1)"));
  EXPECT_FALSE(r.f.AwaitingResponse);
  EXPECT_FALSE(r.f.tmrTimeout.Enabled());
  EXPECT_EQ(r.fp.socket->state, 0);
}

TEST(TcpTransport, PollingGoesOnAfterASocketErrorInATransaction) {
  Rig r(kTcp);
  r.Connect();
  r.TypeHex(kReadHex);
  r.f.cmdAuto1_MouseDown();
  ASSERT_EQ(r.fp.socket->sent.size(), 1u);
  r.fp.socket->RaiseError(1, "The remote host closed the connection");
  r.fp.clock->Advance(1000);
  // The tick was not skipped: it connects again and sends once connected.
  EXPECT_EQ(r.fp.socket->connects.size(), 2u);
  r.fp.socket->AcceptConnect();
  EXPECT_EQ(r.fp.socket->sent.size(), 2u);
}

TEST(TcpTransport, ConnectButtonWhileConnectedReconnectsAndEndsTheTransactionInFlight) {
  Rig r(kTcp);
  r.Connect();
  r.f.PushRequest(kRead);
  r.f.PushRequest(kRead);
  r.f.SendTcpRequest();
  r.Mark();
  r.f.cmdTcpConnect.onClick();
  EXPECT_EQ(r.NewLog(), r.Row("Disconnected") + "\r\n" + r.Row("Connect to 127.0.0.1:502..."));
  EXPECT_FALSE(r.f.AwaitingResponse);
  EXPECT_FALSE(r.f.tmrTimeout.Enabled());
  EXPECT_TRUE(r.f.Requests.empty());
  r.Mark();
  r.fp.socket->AcceptConnect();
  EXPECT_EQ(r.NewLog(), r.Row("Connected"));
  EXPECT_EQ(r.fp.socket->sent.size(), 1u);
}

TEST(TcpTransport, DisconnectButtonEndsTheTransactionAndDropsFramesWaitingForTheConnect) {
  {
    Rig r(kTcp);
    r.Connect();
    r.Send(kRead);
    r.Mark();
    r.f.lblDT.SetCaption("12 ms");
    r.f.cmdTcpDisconnect.onClick();
    EXPECT_EQ(r.NewLog(), r.Row("Disconnected"));
    EXPECT_EQ(r.f.lblDT.Caption(), "");
    EXPECT_FALSE(r.f.AwaitingResponse);
    EXPECT_FALSE(r.f.tmrTimeout.Enabled());
    EXPECT_TRUE(r.f.txtTcpHost.Enabled());
  }
  {
    Rig r(kTcp);
    r.TypeHex(kReadHex);
    r.f.cmdSend_Click();  // connecting, the frame waits
    r.f.cmdTcpDisconnect.onClick();
    EXPECT_TRUE(r.f.Requests.empty());
    EXPECT_FALSE(r.f.tmrConnectTimeout.Enabled());
  }
}

TEST(TcpTransport, SendOnAConnectionInAnotherStateReconnectsAndKeepsItsFrame) {
  Rig r(kTcp);
  r.Connect();
  r.fp.socket->state = platform::TcpSocket::kOther;  // the slave closed its end
  r.TypeHex(kReadHex);
  r.f.cmdSend_Click();
  EXPECT_EQ(r.NewLog(), r.Row("Disconnected") + "\r\n" + r.Row("Connect to 127.0.0.1:502..."));
  EXPECT_EQ(r.f.Requests.size(), 1u);
  r.fp.socket->AcceptConnect();
  EXPECT_EQ(r.fp.socket->sent, std::vector<Frame>{kRead});
}

TEST(TcpTransport, ReconnectingFromAClosedConnectionEndsTheAnswerInFlight) {
  Rig r(kTcp);
  r.Connect();
  r.Send(kRead);
  r.fp.socket->Deliver({0, 1, 0});
  r.fp.socket->state = platform::TcpSocket::kOther;  // the slave closed its end mid-answer
  r.TypeHex(kReadHex);
  r.f.cmdSend_Click();  // reconnects: the request time-out is stopped, the old answer cannot come
  EXPECT_FALSE(r.f.AwaitingResponse);
  r.Mark();
  r.fp.clock->Advance(1000);  // the connect never completes
  // No bytes of the abandoned answer with the connect time-out.
  EXPECT_EQ(r.NewLog(), r.Row("Communication Error: Connect timeout") + r.Row("Disconnected"));
  EXPECT_FALSE(r.f.AwaitingResponse);
  // Polling is not stuck behind an answer that can never come: it polls at once.
  r.f.cmdAuto1_MouseDown();
  EXPECT_EQ(r.fp.socket->connects.size(), 3u);
}

}  // namespace
