#include "panel/frmMain.h"

// Not built yet: empty bodies so the panel links while this subsystem is written.

void frmMain::LoadSett() {}
void frmMain::SaveSett() {}
