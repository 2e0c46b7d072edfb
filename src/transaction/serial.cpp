#include "panel/frmMain.h"

// Not built yet: empty bodies so the panel links while this subsystem is written.

void frmMain::OpenRtuPort() { }
void frmMain::CloseRtuPort() { }
void frmMain::SendRtuRequest() { }
void frmMain::RefreshComPorts() { }
void frmMain::cmbRtuPort_Click() { }
void frmMain::SetComPort(int16_t) { }
void frmMain::comm1_OnComm() { }
void frmMain::comm1_Gone(const std::string&) { }
void frmMain::tmrRefreshComPorts_Timer() { }
void frmMain::cmdRtuOpenPort_Click() { }
void frmMain::cmdRtuClosePort_Click() { }
std::string CleanString(const std::string&) { return {}; }
bool SetComboIndexByText(ListField&, const std::string&, bool) { return false; }
