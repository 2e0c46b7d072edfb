// The address notation of the panel: what the operator types in txtAddr is
// read in the notation chosen in cmbAddresses and converted to the protocol
// address the frame carries; the response view and the inspector write the
// addresses back in the same notation.
#include <string>

#include "common/module1.h"
#include "modbus/address_notation.h"
#include "panel/frmMain.h"

using namespace modbus;

modbus::AddressNotation frmMain::Addresses() const { return AddressNotationOf(cmbAddresses.ListIndex()); }

std::string frmMain::NotationAddressText(int32_t function, int32_t protocol, bool hexStyle) const {
  return AddressText(Addresses(), TableOf(function), protocol, hexStyle);
}

std::string frmMain::ResponseLineAddressText(int line) const {
  const std::optional<int32_t> a = ResponseLineAddress(line);
  if (!a) return {};
  return AddressText(Addresses(), TableOf(ResponseRegistersFunction), *a, false);
}

bool frmMain::ApplyReferenceCommand() {
  if (Addresses() != AddressNotation::Reference || HexView) return false;
  const TypedAddress typed = ParseAddress(AddressNotation::Reference, txtAddr.Text());
  if (!typed.Ok() || !typed.table) return false;
  const int16_t cmd = GetCmd();
  // A command that carries no address leaves a reference in the field alone.
  if (!UsesAddress(cmd) || TableOf(cmd) == typed.table) return false;
  const int32_t read = ReadFunctionOf(*typed.table);
  for (int i = 0; i < cmbCmd.ListCount(); ++i) {
    const std::string item = cmbCmd.List(i);
    if (item.size() >= 2 && (item[0] - '0') * 10 + (item[1] - '0') == read) {
      cmbCmd.SetListIndex(i);
      Log("Reference " + TrimBlank(txtAddr.Text()) + " is " + std::string(TableNoun(*typed.table)) + " " +
          std::to_string(typed.protocol) + ": command \"" + item + "\" chosen");
      return true;
    }
  }
  return false;
}

void frmMain::cmbAddresses_Click() {}
