#include "panel/frmMain.h"

#include "common/version.h"
#include "modbus/formats64.h"
#include "modbus/response.h"

namespace {
// Design sizes are in twips; 15 twips make one pixel at 96 dots per inch.
constexpr int kTw = 15;
void Place(Field& f, int x, int y, int w, int h) { f.Move(x * kTw, y * kTw, w * kTw, h * kTw); }
}  // namespace

frmMain::frmMain(const platform::Platform& platform)
    : FormFields(),
      tmrRefreshComPorts("tmrRefreshComPorts", *platform.timers, 1000, true),
      tmrConnectTimeout("tmrConnectTimeout", *platform.timers, 0, false),
      tmrTimeout("tmrTimeout", *platform.timers, 0, false),
      tmrAuto("tmrAuto", *platform.timers, 1000, false),
      comm1(platform.serial),
      ws(platform.socket),
      platform_(platform) {
  SetDesignValues();
  StartEngine();
  WireHandlers();
}

frmMain::~frmMain() {
  // The transports may outlive the panel (they are shared with whoever made
  // the platform bundle): make sure none of their events reaches it any more.
  if (comm1) comm1->SetHandlers(nullptr, nullptr);
  if (ws) ws->SetHandlers(nullptr, nullptr, nullptr);
}

std::string frmMain::VersionText() {
  return std::to_string(VESKTARVELO_VERSION_MAJOR) + "." + std::to_string(VESKTARVELO_VERSION_MINOR) + "." +
         std::to_string(VESKTARVELO_VERSION_PATCH);
}

void frmMain::SetDesignValues() {
  SetCaption("VeskTarvelo");
  Place(*this, 0, 0, 904, 640);

  lblProtocol.SetCaption("MODE");
  Place(lblProtocol, 8, 8, 120, 16);
  for (const char* item : {"RTU", "TCP", "RTU-OVER-TCP", "ASCII", "ASCII-OVER-TCP"}) cmbMode.AddItem(item);
  Place(cmbMode, 8, 26, 150, 26);

  Place(pctHEXOpt, 740, 24, 156, 30);
  optFORM.SetCaption("FORM");
  Place(optFORM, 4, 4, 70, 22);
  optHEX.SetCaption("HEX");
  Place(optHEX, 80, 4, 70, 22);
  optFORM.SetPartner(&optHEX);
  optHEX.SetPartner(&optFORM);

  // Serial settings. Start-up moves the group onto the socket group's place.
  Place(pctRTU, 170, 560, 560, 44);
  Label3.SetCaption("Port");
  Place(Label3, 0, 0, 120, 16);
  Place(cmbRtuPort, 0, 18, 120, 26);
  Label4.SetCaption("Speed");
  Place(Label4, 126, 0, 80, 16);
  Place(cmbRtuSpeed, 126, 18, 80, 26);
  Label11.SetCaption("Parity");
  Place(Label11, 212, 0, 70, 16);
  for (const char* item : {"None", "Odd", "Even"}) cmbRtuParity.AddItem(item);
  Place(cmbRtuParity, 212, 18, 70, 26);
  Label12.SetCaption("Stop-bit");
  Place(Label12, 288, 0, 58, 16);
  for (const char* item : {"1 ", "2 "}) cmbRtuStopBit.AddItem(item);
  Place(cmbRtuStopBit, 288, 18, 58, 26);
  Label13.SetCaption("Timeout");
  Place(Label13, 352, 0, 56, 16);
  txtRtuTimeout.SetToolTipText("Timeout in milliseconds (1-65535)");
  Place(txtRtuTimeout, 352, 18, 56, 26);
  Label14.SetCaption("ms");
  Place(Label14, 412, 23, 20, 16);
  cmdRtuOpenPort.SetCaption("Open");
  cmdRtuOpenPort.SetToolTipText("Open COM port");
  Place(cmdRtuOpenPort, 436, 18, 60, 26);
  cmdRtuClosePort.SetCaption("Close");
  cmdRtuClosePort.SetToolTipText("Close COM port");
  Place(cmdRtuClosePort, 500, 18, 60, 26);

  // Socket settings.
  Place(pctTCP, 170, 8, 560, 44);
  Label1.SetCaption("Host");
  Place(Label1, 0, 0, 150, 16);
  txtTcpHost.SetToolTipText("IP address or domain name of ModbusTCP Slave");
  Place(txtTcpHost, 0, 18, 150, 26);
  Label2.SetCaption("Port");
  Place(Label2, 156, 0, 60, 16);
  txtTcpPort.SetToolTipText("IP port of ModbusTCP Slave (1-65535)");
  Place(txtTcpPort, 156, 18, 60, 26);
  Label5.SetCaption("Timeout");
  Place(Label5, 222, 0, 60, 16);
  txtTcpTimeout.SetToolTipText("Timeout in milliseconds (1-65535)");
  Place(txtTcpTimeout, 222, 18, 56, 26);
  Label6.SetCaption("ms");
  Place(Label6, 282, 23, 20, 16);
  cmdTcpConnect.SetCaption("Connect");
  cmdTcpConnect.SetToolTipText("Connect to ModbusTCP host");
  Place(cmdTcpConnect, 330, 18, 110, 26);
  cmdTcpDisconnect.SetCaption("Disconnect");
  cmdTcpDisconnect.SetToolTipText("Disconnect from ModbusTCP host");
  Place(cmdTcpDisconnect, 446, 18, 110, 26);

  // Request area.
  Label10.SetCaption("REQUEST");
  Place(Label10, 8, 64, 120, 16);
  Place(pctRequest, 8, 82, 440, 132);
  Place(pctForm, 0, 0, 440, 44);
  lblUnitID.SetCaption("Slave ID");
  Place(lblUnitID, 0, 0, 60, 16);
  txtUnitID.SetToolTipText("Slave address (1-247)");
  Place(txtUnitID, 0, 18, 60, 26);
  lblCommand.SetCaption("Command");
  Place(lblCommand, 66, 0, 170, 16);
  for (const char* item :
       {"01 Read CL", "02 Read DI", "03 Read HR", "04 Read IR", "05 Write CL", "06 Write Sngl HR", "16 Write Mltp HR"})
    cmbCmd.AddItem(item);
  // The further commands follow (stored indexes keep their meaning).
  for (const char* item : {"15 Write Mltp CL", "22 Mask Write HR", "23 Read/Write HR", "43/14 Read Device ID",
                           "17 Report Server ID", "07 Read Excp Status", "08 Diagnostics"})
    cmbCmd.AddItem(item);
  Place(cmbCmd, 66, 18, 170, 26);
  Label7.SetCaption("Address");
  Place(Label7, 242, 0, 90, 16);
  txtAddr.SetToolTipText("Address of first Register (0-65535, Dec,  Hex)");
  Place(txtAddr, 242, 18, 90, 26);
  lblLen.SetCaption("Quantity");
  Place(lblLen, 338, 0, 100, 16);
  txtQuantity.SetToolTipText("Number of registers (1-127) or coils (1-1016) to return ");
  Place(txtQuantity, 338, 18, 100, 26);
  txtValue.SetToolTipText("Value to write");
  Place(txtValue, 338, 18, 100, 26);
  txtValue.SetVisible(false);
  // The further commands' second row (commands.cpp shows what a command reads).
  lblValues.SetCaption("Coil values");
  Place(lblValues, 0, 48, 236, 16);
  Place(txtValues, 0, 66, 236, 26);
  lblValuesAs.SetCaption("Values as");
  Place(lblValuesAs, 242, 48, 90, 16);
  for (const char* item : {"0/1 list", "Hex bytes"}) cmbValuesAs.AddItem(item);
  cmbValuesAs.SetListIndex(0);
  cmbValuesAs.SetToolTipText("How the coil values are typed: 0 and 1 per coil, or the bytes as sent in hexadecimal");
  Place(cmbValuesAs, 242, 66, 90, 26);
  lblWriteAddr.SetCaption("Write address");
  Place(lblWriteAddr, 242, 48, 90, 16);
  txtWriteAddr.SetToolTipText("Address of the first register written (0-65535, Dec,  Hex)");
  Place(txtWriteAddr, 242, 66, 90, 26);
  lblAndMask.SetCaption("AND mask");
  Place(lblAndMask, 338, 0, 100, 16);
  txtAndMask.SetToolTipText("AND mask (0-65535, Dec, Hex): the bits kept");
  Place(txtAndMask, 338, 18, 100, 26);
  lblOrMask.SetCaption("OR mask");
  Place(lblOrMask, 338, 48, 100, 16);
  txtOrMask.SetToolTipText("OR mask (0-65535, Dec, Hex): the bits set where the AND mask clears them");
  Place(txtOrMask, 338, 66, 100, 26);
  lblReadCode.SetCaption("Read code");
  Place(lblReadCode, 0, 48, 236, 16);
  for (const char* item : {"1 Basic", "2 Regular", "3 Extended", "4 Individual"}) cmbReadCode.AddItem(item);
  cmbReadCode.SetListIndex(0);
  cmbReadCode.SetToolTipText("Which objects: basic, regular or extended from the object ID on, or that one object");
  Place(cmbReadCode, 0, 66, 236, 26);
  lblObjectId.SetCaption("Object ID");
  Place(lblObjectId, 242, 48, 90, 16);
  txtObjectId.SetToolTipText("The first object asked for (0-255, Dec, Hex)");
  Place(txtObjectId, 242, 66, 90, 26);
  for (Field* f : std::initializer_list<Field*>{&lblValues, &txtValues, &lblValuesAs, &cmbValuesAs, &lblWriteAddr,
                                                &txtWriteAddr, &lblAndMask, &txtAndMask, &lblOrMask, &txtOrMask,
                                                &lblReadCode, &cmbReadCode, &lblObjectId, &txtObjectId})
    f->SetVisible(false);
  Label15.SetCaption("Format");
  Place(Label15, 0, 58, 170, 16);
  Place(cmbFormat, 0, 76, 170, 26);
  cmdSend.SetCaption("Send");
  cmdSend.SetToolTipText("Send request to ModbusTCP host");
  Place(cmdSend, 242, 76, 90, 26);
  cmdAuto1.SetCaption("Auto");
  cmdAuto1.SetToolTipText("Start polling");
  Place(cmdAuto1, 338, 76, 100, 26);
  Place(pctAuto, 0, 0, 100, 26);
  pctAuto.SetVisible(false);
  cmdAuto0.SetCaption("Auto");
  cmdAuto0.SetToolTipText("Stop polling");
  txtPollInterval.SetText(kDefaultPollText);
  txtPollInterval.SetToolTipText("Polling interval in milliseconds (100-65535)");
  Place(txtPollInterval, 338, 106, 100, 26);
  lblPollInterval.SetCaption("Poll ms");
  Place(lblPollInterval, 284, 111, 50, 16);
  lblAddresses.SetCaption("Addresses");
  Place(lblAddresses, 0, 111, 70, 16);
  cmbAddresses.SetToolTipText(
      "How addresses are written: protocol address from 0, register number from 1, "
      "or reference number (0xxxx, 1xxxx, 3xxxx, 4xxxx)");
  Place(cmbAddresses, 74, 106, 170, 26);

  // Raw request input; start-up places it over the form fields.
  Place(pctHEX, 8, 420, 440, 52);
  pctHEX.SetVisible(false);
  Place(txtHEX, 0, 0, 440, 52);

  // Response area.
  lblResponse.SetCaption("RESPONSE");
  Place(lblResponse, 460, 64, 120, 16);
  lblDT.SetCaption("00000 ms");
  Place(lblDT, 776, 64, 120, 16);
  Place(pctResponseForm, 460, 82, 436, 140);
  Place(pctResponseText, 0, 0, 436, 140);
  Place(txtResponse, 0, 0, 436, 140);
  txtResponse.SetLocked(true);

  // Log area.
  Place(pctLog, 8, 232, 888, 400);
  Place(txtLog, 0, 0, 888, 370);
  txtLog.SetLocked(true);
  Place(pctLogo, 0, 374, 888, 26);
  Place(imgLogo, 0, 1, 79, 24);
  Label8.SetCaption("Public Modbus-TCP Test Server");
  Label8.SetForeColor(RGB(95, 97, 103));
  Place(Label8, 90, 5, 260, 16);
  lblScada.SetCaption("Tarvelo SCADA: vesktarvelo.example");
  lblScada.SetForeColor(RGB(95, 97, 103));
  Place(lblScada, 560, 5, 328, 16);
}

void frmMain::WireHandlers() {
  cmbMode.onClick = [this] { cmbMode_Click(); };
  cmbCmd.onClick = [this] { cmbCmd_Click(); };
  cmbFormat.onClick = [this] { cmbFormat_Click(); };
  cmbAddresses.onClick = [this] { cmbAddresses_Click(); };
  optFORM.onClick = [this] { optFORM_Click(); };
  optHEX.onClick = [this] { optHEX_Click(); };
  cmbRtuPort.onClick = [this] { cmbRtuPort_Click(); };
  cmdRtuOpenPort.onClick = [this] { cmdRtuOpenPort_Click(); };
  cmdRtuClosePort.onClick = [this] { cmdRtuClosePort_Click(); };
  cmdTcpConnect.onClick = [this] { cmdTcpConnect_Click(); };
  cmdTcpDisconnect.onClick = [this] { cmdTcpDisconnect_Click(); };
  cmdSend.onClick = [this] { cmdSend_Click(); };
  // The Auto buttons act on the mouse button going down only.
  cmdAuto1.onMouseDown = [this] { cmdAuto1_MouseDown(); };
  cmdAuto0.onMouseDown = [this] { cmdAuto0_MouseDown(); };
  imgLogo.onClick = [this] { imgLogo_Click(); };
  Label8.onClick = [this] { Label8_Click(); };
  lblScada.onClick = [this] { lblScada_Click(); };

  tmrRefreshComPorts.onTimer = [this] { tmrRefreshComPorts_Timer(); };
  tmrConnectTimeout.onTimer = [this] { tmrConnectTimeout_Timer(); };
  tmrTimeout.onTimer = [this] { tmrTimeout_Timer(); };
  tmrAuto.onTimer = [this] { tmrAuto_Timer(); };

  if (comm1) comm1->SetHandlers([this] { comm1_OnComm(); }, [this](const std::string& why) { comm1_Gone(why); });
  if (ws)
    ws->SetHandlers(
        [this] { ws_Connect(); },
        [this] {
          // The byte count of the event is not used; ws_DataArrival reads all there is.
          ws_DataArrival(0);
        },
        [this](int number, const std::string& description) { ws_Error(static_cast<int16_t>(number), description); });
}

void frmMain::Form_Load() {
  SetCaption("VeskTarvelo " + VersionText() + " Beta");

  for (int32_t code = 1; code <= 11; ++code) ExceptionText[static_cast<size_t>(code)] = modbus::ExceptionName(code);

  cmbRtuSpeed.Clear();
  for (const char* item : {"1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"})
    cmbRtuSpeed.AddItem(item);

  cmbFormat.Clear();
  for (const char* item :
       {"INT16", "UINT16", "FLOAT_ABCD", "FLOAT_CDAB", "FLOAT_BADC", "FLOAT_DCBA", "INT32_ABCD", "INT32_CDAB",
        "INT32_BADC", "INT32_DCBA", "UINT32_ABCD", "UINT32_CDAB", "UINT32_BADC", "UINT32_DCBA"})
    cmbFormat.AddItem(item);
  cmbAddresses.Clear();
  for (const char* item : {"Protocol (from 0)", "Register (from 1)", "Reference (4xxxx)"}) cmbAddresses.AddItem(item);
  cmbAddresses.SetListIndex(0);
  // The 64-bit formats and the register views follow (stored indexes keep their meaning).
  for (std::string_view item : modbus::kWideFormatNames) cmbFormat.AddItem(std::string(item));

  txtLog.SetText("");
  txtLog.SetRightMargin(999999);

  LoadSett();

  Log("", LogColorInfo);
  Log("Run Tarvelo", LogColorInfo);

  lblDT.SetCaption("");

  pctRTU.SetTop(pctTCP.Top());
  pctRTU.SetLeft(pctTCP.Left());
  pctHEX.SetTop(pctRequest.Top());
  pctHEX.SetLeft(pctRequest.Left());
  txtHEX.SetWidth(pctHEX.Width() - 2 * txtHEX.Left());
  txtHEX.SetHeight(pctHEX.Height() - 2 * txtHEX.Top());
  pctAuto.Move(cmdAuto1.Left(), cmdAuto1.Top(), cmdAuto1.Width(), cmdAuto1.Height());
  cmdAuto0.SetWidth(pctAuto.ScaleWidth());
  cmdAuto0.SetHeight(pctAuto.ScaleHeight());
}

void frmMain::Form_QueryUnload(int16_t& Cancel, int16_t /*UnloadMode*/) {
  SaveSett();
  Cancel = 0;  // closing is never refused
}

int16_t frmMain::GetCmd() {
  const std::string& text = cmbCmd.Text();
  if (text.size() < 2) return 0;
  // The first two characters as a whole number; anything else gives 0.
  const char a = text[0], b = text[1];
  if (a < '0' || a > '9' || b < '0' || b > '9') return 0;
  return static_cast<int16_t>((a - '0') * 10 + (b - '0'));
}
