#include "panel/frmMain.h"

// Not built yet: empty bodies so the panel links while this subsystem is written.

void frmMain::ShowResponse(const Frame&, int16_t) { }
void frmMain::AddResponseLine(const std::string&) { }
