// The machine's serial port list on the panel: the port list field, its
// selection by name and its tool tip.
#include "common/module1.h"
#include "common/number_text.h"
#include "panel/frmMain.h"
#include "panel/port_details.h"

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

void frmMain::tmrRefreshComPorts_Timer() { RefreshComPorts(); }

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
