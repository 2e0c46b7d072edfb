#include "panel/frmMain.h"

// Not built yet: empty bodies so the panel links while this subsystem is written.

void frmMain::txtUnitID_KeyPress(int16_t&) {}
void frmMain::txtAddr_KeyPress(int16_t&) {}
void frmMain::txtQuantity_KeyPress(int16_t&) {}
void frmMain::txtValue_KeyPress(int16_t&) {}
void frmMain::txtHEX_KeyPress(int16_t&) {}
void frmMain::txtTcpPort_KeyPress(int16_t&) {}
void frmMain::txtTcpTimeout_KeyPress(int16_t&) {}
void frmMain::txtRtuTimeout_KeyPress(int16_t&) {}
void frmMain::txtUnitID_Validate(bool&) {}
void frmMain::txtAddr_Validate(bool&) {}
void frmMain::txtQuantity_Validate(bool&) {}
void frmMain::txtTcpPort_Validate(bool&) {}
void frmMain::txtTcpTimeout_Validate(bool&) {}
void frmMain::txtRtuTimeout_Validate(bool&) {}
void frmMain::txtResponse_KeyDown(int16_t, int16_t) {}
void frmMain::txtLog_KeyDown(int16_t, int16_t) {}
void frmMain::txtHEX_KeyDown(int16_t, int16_t) {}
void frmMain::ProcessClipBoard(TextBox&, int16_t, int16_t) {}
void frmMain::WaitWithEvents(double, const bool&, int) {}
