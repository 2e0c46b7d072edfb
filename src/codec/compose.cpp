#include "panel/frmMain.h"

// Not built yet: empty bodies so the panel links while this subsystem is written.

void frmMain::GetBytesOfForm() { }
void frmMain::GetBytesOfHexInput() { }
bool frmMain::Format2B() { return false; }
