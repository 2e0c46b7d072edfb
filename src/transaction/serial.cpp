// The serial transport of RTU mode: the machine's port list, opening the
// chosen port with the panel's line settings, sending queued requests and
// feeding received bytes to reception.
#include "common/module1.h"
#include "common/number_text.h"
#include "panel/frmMain.h"
#include "transaction/port_details.h"
#include "transaction/serial_settings.h"

namespace {

char ToLowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string ToLowerAscii(std::string s) {
  for (char& c : s) c = ToLowerAscii(c);
  return s;
}

// The items trimmed and joined with one TAB between them, trimmed once more.
std::string JoinTrimmed(const std::vector<std::string>& items) {
  std::string joined;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) joined += '\t';
    joined += TrimBlank(items[i]);
  }
  return TrimBlank(joined);
}

}  // namespace

void frmMain::OpenRtuPort() {
  if (cmbRtuPort.ListIndex() < 0) {
    LogError("Communication Error", cmbRtuPort.ListCount() > 0 ? "COM port not selected" : "COM ports not found", true,
             0, 0);
    ++Stats.connectionErrors;
    StatsChanged();
    return;
  }
  if (comm1->IsOpen()) return;

  const std::string name = cmbRtuPort.Text();
  Log("", LogColorInfo);
  Log("Open " + name + "...", LogColorInfo);

  // The line settings are those on the panel now: speed (stray control
  // characters dropped), parity letter, 8 data bits, stop bits.
  const std::string& parityItem = cmbRtuParity.Text();
  const std::string parity = parityItem.empty() ? std::string() : std::string(1, ToLowerAscii(parityItem[0]));
  CommSettings = CleanString(cmbRtuSpeed.Text()) + "," + parity + ",8," + std::to_string(cmbRtuStopBit.ListIndex() + 1);

  platform::SerialSettings settings;
  std::string reason;
  // The port is opened by its list name; the number in the name plays no part.
  const bool settingsValid = ParseSerialSettings(CommSettings, settings, reason);
  if (!settingsValid || !comm1->Open(name, settings, reason)) {
    // Only a refusal of this very opening tells of missing permission.
    const bool denied = settingsValid && comm1->LastOpenDeniedPermission();
    LogError("Communication Error", "Failed to open " + name + ": " + reason, true, 0, 0);
    if (denied) Log(kSerialPermissionHint, LogColorInfo);
    comm1->Close();
    ++Stats.connectionErrors;
    StatsChanged();
    return;
  }
  OpenPortName = name;
  Log(name + " opened", LogColorInfo);
  // The settings cannot change while the port is open.
  cmbRtuPort.SetEnabled(false);
  cmbRtuSpeed.SetEnabled(false);
  cmbRtuParity.SetEnabled(false);
  cmbRtuStopBit.SetEnabled(false);
}

void frmMain::CloseRtuPort() {
  if (!comm1->IsOpen()) return;
  comm1->Close();
  Log((OpenPortName.empty() ? cmbRtuPort.Text() : OpenPortName) + " closed", LogColorInfo);
  OpenPortName.clear();
  cmbRtuPort.SetEnabled(true);
  cmbRtuSpeed.SetEnabled(true);
  cmbRtuParity.SetEnabled(true);
  cmbRtuStopBit.SetEnabled(true);
}

void frmMain::SendRtuRequest() {
  // Not open (opening failed): the frame stays queued until the next Send.
  if (!comm1->IsOpen() || !TakeNextRequest()) return;
  PutRequestOnWire([this](const Frame& bytes) { comm1->Write(bytes); });
}

void frmMain::RefreshComPorts() {
  std::vector<std::string> names;
  // No port list at all reads as a list without ports. The details are kept
  // for the tool tip, which follows them even when the names stay the same.
  PortInfos = Platform().ports ? Platform().ports->Ports() : std::vector<platform::PortInfo>{};
  for (const platform::PortInfo& port : PortInfos) names.push_back(port.name);
  const std::string oldList = JoinTrimmed(cmbRtuPort.Items());
  const std::string newList = JoinTrimmed(names);
  // An unchanged list is left alone, and with it the selection.
  if (oldList == newList) {
    RefreshPortToolTip();
    return;
  }

  cmbRtuPort.Clear();
  for (const std::string& name : names) {
    const std::string trimmed = TrimBlank(name);
    if (!trimmed.empty()) cmbRtuPort.AddItem(trimmed);
  }
  // The selection follows the port last chosen, by name; it stays empty when
  // that port is gone. A changed selection raises cmbRtuPort_Click, which
  // never touches an open port.
  if (ComPortName.empty()) {
    if (cmbRtuPort.ListCount() > 0) cmbRtuPort.SetListIndex(0);
  } else {
    SetComboIndexByText(cmbRtuPort, ComPortName);
  }
  RefreshPortToolTip();
}

void frmMain::RefreshPortToolTip() {
  std::string tip;
  const std::string& selected = cmbRtuPort.Text();
  if (cmbRtuPort.ListIndex() >= 0 && !selected.empty()) {
    // The list holds the names trimmed.
    for (const platform::PortInfo& port : PortInfos) {
      if (TrimBlank(port.name) == selected) {
        tip = PortDetailsText(port);
        break;
      }
    }
  }
  cmbRtuPort.SetToolTipText(tip);
}

void frmMain::cmbRtuPort_Click() {
  const std::string name = cmbRtuPort.Text();
  // COM12 gives 12; a name whose tail is no number gives 0.
  const int16_t n = name.size() > 3 ? ParseInteger(name.substr(3)).value_or(0) : 0;
  if (!name.empty()) ComPortName = name;
  SetComPort(n);
  RefreshPortToolTip();
}

void frmMain::SetComPort(int16_t n) {
  // Only recorded: the line settings are taken from the panel when the port
  // is opened, and an open port is never reconfigured.
  CommPort = n;
  CommSettings = "9600,N,8,2";
}

void frmMain::comm1_OnComm() {
  const Frame data = comm1->ReadAll();
  if (ReceiveChunk(data)) {
    // The answer is complete. The next queued request goes out at once;
    // the rest of this chunk belongs to no request and is dropped.
    SendRtuRequest();
  }
}

void frmMain::comm1_Gone(const std::string& reason) {
  // Reported once per opening; a report for a port no longer ours is ignored.
  if (OpenPortName.empty()) return;
  comm1->Close();
  Log(OpenPortName + " closed: " + (reason.empty() ? std::string("port gone") : reason), LogColorInfo);
  OpenPortName.clear();
  cmbRtuPort.SetEnabled(true);
  cmbRtuSpeed.SetEnabled(true);
  cmbRtuParity.SetEnabled(true);
  cmbRtuStopBit.SetEnabled(true);
  // The answer can no longer arrive on this port.
  if (Mode == 0) EndTransaction();
}

void frmMain::tmrRefreshComPorts_Timer() { RefreshComPorts(); }

void frmMain::cmdRtuOpenPort_Click() { OpenRtuPort(); }

void frmMain::cmdRtuClosePort_Click() {
  if (Mode == 0) EndTransaction();
  CloseRtuPort();
}

std::string CleanString(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    const auto code = static_cast<unsigned char>(c);
    if (code >= 32 && code <= 126) out += c;
  }
  return out;
}

bool SetComboIndexByText(ListField& cbo, const std::string& searchText, bool caseSensitive) {
  if (cbo.ListCount() == 0) return false;
  const std::string wanted = caseSensitive ? searchText : ToLowerAscii(searchText);
  for (int i = 0; i < cbo.ListCount(); ++i) {
    const std::string item = caseSensitive ? cbo.List(i) : ToLowerAscii(cbo.List(i));
    if (item == wanted) {
      cbo.SetListIndex(i);
      return true;
    }
  }
  cbo.SetListIndex(-1);
  return false;
}
