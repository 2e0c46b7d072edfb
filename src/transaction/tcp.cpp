#include "panel/frmMain.h"

// Not built yet: empty bodies so the panel links while this subsystem is written.

void frmMain::ConnectTCP() { }
void frmMain::TryTcpConnect() { }
void frmMain::DisconnectTCP() { }
void frmMain::SendTcpRequest() { }
void frmMain::StartConnectTimer() { }
void frmMain::StopConnectTimer() { }
void frmMain::tmrConnectTimeout_Timer() { }
void frmMain::ws_Connect() { }
void frmMain::ws_DataArrival(int32_t) { }
void frmMain::ws_Error(int16_t, const std::string&) { }
void frmMain::cmdTcpConnect_Click() { }
void frmMain::cmdTcpDisconnect_Click() { }
