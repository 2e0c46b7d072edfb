#include "panel/frmMain.h"

// Not built yet: empty bodies so the panel links while this subsystem is written.

void frmMain::imgLogo_Click() {}
void frmMain::Label8_Click() {}
void frmMain::lblScada_Click() {}
std::string frmMain::OpenDocument(const std::string&) { return {}; }
