#include "panel/frmMain.h"

// Not built yet: empty bodies so the panel links while this subsystem is written.

bool frmMain::Receive(uint8_t, int32_t) { return false; }
void frmMain::ResetProtocolErrors() { }
void frmMain::LogProtocolError(const std::string&, int32_t, int32_t) { }
