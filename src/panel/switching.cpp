// Mode, command and input-kind switching: the refresh procedures that put the
// panel into the layout of the chosen mode, command and input kind, and the
// click handlers of the lists and options that call them.
#include "modbus/types.h"
#include "panel/frmMain.h"

namespace {
// The serial port carries RTU and ASCII; every other mode number uses the socket.
bool UsesSocket(int16_t mode) { return modbus::IsSocketMode(modbus::ModeOf(mode)); }
}  // namespace

void frmMain::RefreshCmd() {
  const int16_t cmd = GetCmd();
  // The further commands lay out their own fields (commands.cpp).
  const bool further = RefreshCommandFields();

  // Reads (and "no command") ask for a quantity; writes for a value.
  if (further) {
  } else if (cmd <= 4) {
    lblLen.SetCaption("Quantity");
    txtQuantity.SetVisible(true);
    txtValue.SetVisible(false);
  } else {
    lblLen.SetCaption("Value");
    txtQuantity.SetVisible(false);
    txtValue.SetVisible(true);
  }

  if (cmd <= 2 || further) {
    // Bit reads (and the further commands, which take no format) show their
    // values as UINT16. The operator's format is taken
    // only while the list is still enabled: a second bit read in a row must
    // not overwrite it with the forced "UINT16".
    if (cmbFormat.Enabled()) FormatIndex = static_cast<int16_t>(cmbFormat.ListIndex());
    cmbFormat.SetEnabled(false);
    cmbFormat.SetListIndex(1);
  } else {
    // Restored while the list may still be disabled, so that its click
    // handling leaves FormatIndex alone. Refused (kept) when out of range.
    cmbFormat.SetListIndex(FormatIndex);
    cmbFormat.SetEnabled(true);
  }
}

void frmMain::RefreshMode() {
  AutoOFF();
  RefreshTimerAuto();

  // Refused for a mode number outside the list: the list keeps its selection.
  // A changed selection runs cmbMode_Click, whose nested RefreshMode finds
  // Mode unchanged.
  cmbMode.SetListIndex(Mode);

  pctRTU.SetVisible(!UsesSocket(Mode));
  pctTCP.SetVisible(UsesSocket(Mode));

  if (UsesSocket(Mode)) {
    CloseRtuPort();
  } else {
    DisconnectTCP();
    RefreshComPorts();
  }
}

void frmMain::RefreshHexView() {
  AutoOFF();
  RefreshTimerAuto();

  pctHEX.SetVisible(HexView);

  // Turning an option on raises its click handler, which runs this procedure
  // once more with HexView already set: the nested run changes nothing.
  optHEX.SetValue(HexView);
  optFORM.SetValue(!HexView);
}

void frmMain::cmbMode_Click() {
  const int16_t oldMode = Mode;
  Mode = static_cast<int16_t>(cmbMode.ListIndex());
  // Moving between the serial port and the socket closes the transport that
  // may be carrying a request: its answer can no longer arrive, so the
  // transaction ends here instead of waiting for a time-out (or, with no
  // time-out armed, suspending polling for good). Requests still queued for
  // the old transport are dropped with it: their framing belongs to the old
  // mode. On the same transport (TCP and RTU over TCP on a kept connection,
  // RTU and ASCII on the port) the request in flight keeps its own framing
  // for its answer, but the frames still waiting would go out in the old
  // one: they are dropped.
  if (UsesSocket(oldMode) != UsesSocket(Mode)) {
    EndTransaction();
  } else if (Mode != oldMode) {
    session_->DropQueued();
    SyncFromSession();
  }
  // The statistics describe one mode's session.
  if (Mode != oldMode) ResetStats();
  RefreshMode();
}

void frmMain::cmbCmd_Click() { RefreshCmd(); }

void frmMain::cmbFormat_Click() {
  // While a bit read forces "UINT16" the list is disabled, and its selection
  // is not the operator's format.
  if (cmbFormat.Enabled()) FormatIndex = static_cast<int16_t>(cmbFormat.ListIndex());
}

void frmMain::optFORM_Click() {
  HexView = false;
  RefreshHexView();
}

void frmMain::optHEX_Click() {
  HexView = true;
  RefreshHexView();
}
