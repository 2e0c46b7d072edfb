#include "panel/frmMain.h"

// Not built yet: empty bodies so the panel links while this subsystem is written.

void frmMain::AutoON() { }
void frmMain::AutoOFF() { }
void frmMain::RefreshTimerAuto() { }
void frmMain::tmrAuto_Timer() { }
void frmMain::cmdAuto1_MouseDown() { }
void frmMain::cmdAuto0_MouseDown() { }
