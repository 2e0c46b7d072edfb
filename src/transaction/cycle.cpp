#include "panel/frmMain.h"

// Not built yet: empty bodies so the panel links while this subsystem is written.

void frmMain::cmdSend_Click() { }
void frmMain::SendRequest() { }
void frmMain::PushRequest(const Frame&) { }
std::optional<Frame> frmMain::PopRequest() { return std::nullopt; }
void frmMain::ResetRequests() { }
void frmMain::StartTimer() { }
void frmMain::StopTimer() { }
void frmMain::tmrTimeout_Timer() { }
void frmMain::ResetCommunication() { }
void frmMain::ResetRxBuffer() { }
int32_t frmMain::GetDayMilliseconds() { return 0; }
