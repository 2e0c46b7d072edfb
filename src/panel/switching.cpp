#include "panel/frmMain.h"

// Not built yet: empty bodies so the panel links while this subsystem is written.

void frmMain::RefreshCmd() {}
void frmMain::RefreshMode() {}
void frmMain::RefreshHexView() {}
void frmMain::cmbMode_Click() {}
void frmMain::cmbCmd_Click() {}
void frmMain::cmbFormat_Click() {}
void frmMain::optFORM_Click() {}
void frmMain::optHEX_Click() {}
