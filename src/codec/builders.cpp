#include "panel/frmMain.h"

// Not built yet: empty bodies so the panel links while this subsystem is written.

int16_t frmMain::SetTcpHeader(Frame&, int32_t) { return 0; }
Frame frmMain::GetReadRequestData(int16_t, int16_t, int32_t, int32_t) { return {}; }
Frame frmMain::GetWriteSingleCoilRequestData(int16_t, int16_t, int32_t, int32_t) { return {}; }
Frame frmMain::GetWriteSingleRegisterRequestData(int16_t, int16_t, int32_t, int32_t) { return {}; }
Frame frmMain::GetWriteMultipleRegisterRequestData(int16_t, int16_t, int32_t, int32_t, int32_t, int32_t) { return {}; }
