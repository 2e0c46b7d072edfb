// The socket transport: one TCP client connection to the slave, opened on the
// operator's command or on demand when a request is to go out, guarded by a
// connect time-out. Serves TCP (MBAP framing) and RTU-OVER-TCP (RTU frames
// with CRC) alike; the framing is not looked at here.
#include "common/module1.h"
#include "common/number_text.h"
#include "panel/frmMain.h"

using platform::TcpSocket;

void frmMain::ConnectTCP() {
  // A port text that is no number connects to port 0 (the socket reports the
  // failure as an error event).
  const int32_t port = ParseLong(TrimBlank(txtTcpPort.Text())).value_or(0);
  DisconnectTCP();
  Log("", LogColorInfo);
  Log("Connect to " + txtTcpHost.Text() + ":" + std::to_string(port) + "...", LogColorInfo);
  // Host and port cannot change while a connection is attempted or up.
  txtTcpHost.SetEnabled(false);
  txtTcpPort.SetEnabled(false);
  StartConnectTimer();
  ws->Connect(TrimBlank(txtTcpHost.Text()), port);
}

void frmMain::TryTcpConnect() {
  const int state = ws->State();
  if (state == TcpSocket::kConnected || state == TcpSocket::kConnecting) return;
  if (state > TcpSocket::kClosed) DisconnectTCP();
  ConnectTCP();
}

void frmMain::DisconnectTCP() {
  txtTcpHost.SetEnabled(true);
  txtTcpPort.SetEnabled(true);
  if (ws->State() == TcpSocket::kClosed) return;
  // Logged in every state but closed, connecting included.
  Log("Disconnected", LogColorInfo);
  lblDT.SetCaption("");
  StopTimer();
  // The answer in flight on this connection can no longer arrive, and its
  // time-out is stopped: nothing else would end the wait (polling would skip
  // every tick for good).
  AwaitingResponse = false;
  StopConnectTimer();
  ws->Close();
}

void frmMain::SendTcpRequest() {
  // Not connected yet: the frame stays queued for the connect event.
  if (ws->State() != TcpSocket::kConnected || !TakeNextRequest()) return;
  ExpectedTransactionId = ByteAt(LastRequest, 0) * 256 + ByteAt(LastRequest, 1);
  ws->SetNoDelay();
  PutRequestOnWire([this](const Frame& bytes) { ws->Send(bytes); });
}

void frmMain::StartConnectTimer() { ArmTimeout(tmrConnectTimeout); }

void frmMain::StopConnectTimer() {
  tmrConnectTimeout.SetEnabled(false);
  tmrConnectTimeout.SetInterval(0);
}

void frmMain::tmrConnectTimeout_Timer() {
  StopConnectTimer();
  LogError("Communication Error", "Connect timeout", true, 0, 0);
  ResetRequests();
  ResetCommunication();
  ++Stats.connectionErrors;
  StatsChanged();
}

void frmMain::ws_Connect() {
  Log("Connected", LogColorInfo);
  StopConnectTimer();
  StopTimer();
  SendTcpRequest();
}

void frmMain::ws_DataArrival(int32_t /*bytesTotal*/) {
  const Frame data = ws->ReadAll();
  if (ReceiveChunk(data)) {
    // The answer is complete. The next queued request goes out at once;
    // the rest of this chunk belongs to no request and is dropped, so it
    // can never be taken as the start of the next answer.
    SendTcpRequest();
  }
}

void frmMain::ws_Error(int16_t Number, const std::string& Description) {
  // Logged while AwaitingResponse still holds, so the bytes received for the
  // request in flight are shown.
  LogError("Communication Error", Description + " (Code " + std::to_string(Number) + ")", true, 0, 0);
  StopTimer();
  ws->Close();
  // The connection is gone and with it the answer: no time-out will end the
  // transaction any more, so it ends here and polling goes on at its next tick.
  AwaitingResponse = false;
  ++Stats.connectionErrors;
  StatsChanged();
}

void frmMain::cmdTcpConnect_Click() {
  // A fresh connection replaces the one that carries the request in flight.
  if (Mode != 0) EndTransaction();
  ConnectTCP();
}

void frmMain::cmdTcpDisconnect_Click() {
  if (Mode != 0) EndTransaction();
  DisconnectTCP();
}
