// Settings persistence: the panel's settings are read once at start-up and
// written once at close, as texts under the section "main" of the per-user
// settings store.
#include <optional>
#include <string>
#include <string_view>

#include "common/module1.h"
#include "common/number_text.h"
#include "panel/frmMain.h"

namespace {

constexpr const char* kSection = "main";

// The slave host a first start connects to: the bundled test slave listens
// on the loopback address.
constexpr const char* kDefaultHost = "127.0.0.1";

// A stored whole number; nothing when the text is not one.
std::optional<int32_t> ToLong(const std::string& text) { return ParseLong(TrimBlank(text)); }

// A stored Boolean: "True" or "False" in any case, or a number (0 is False,
// any other number True); nothing for any other text.
std::optional<bool> ToBool(const std::string& text) {
  const std::string t = TrimBlank(text);
  if (EqualsIgnoreCase(t, "True")) return true;
  if (EqualsIgnoreCase(t, "False")) return false;
  if (auto n = ParseNumber(t)) return *n != 0.0;
  return std::nullopt;
}

const char* BoolText(bool v) { return v ? "True" : "False"; }

}  // namespace

void frmMain::LoadSett() {
  platform::SettingsStore* store = Platform().settings.get();
  // The stored text, or the default when the key is absent.
  auto get = [&](const char* key, const std::string& def) {
    std::optional<std::string> v = store != nullptr ? store->Read(kSection, key) : std::nullopt;
    return v ? *v : def;
  };
  // A list index; a text that is not a number, or an index the list refuses,
  // leaves the list as it was.
  auto applyIndex = [&](ListField& list, const char* key) {
    if (auto i = ToLong(get(key, "0"))) list.SetListIndex(*i);
  };

  if (auto v = ToLong(get("left", std::to_string(Left())))) SetLeft(*v);
  if (auto v = ToLong(get("top", std::to_string(Top())))) SetTop(*v);
  txtTcpHost.SetText(TrimBlank(get("host", kDefaultHost)));
  txtTcpPort.SetText(TrimBlank(get("port", "502")));
  txtTcpTimeout.SetText(TrimBlank(get("timeout", "1000")));
  txtUnitID.SetText(TrimBlank(get("unitid", "1")));
  applyIndex(cmbCmd, "cmd");  // raises cmbCmd_Click
  txtAddr.SetText(TrimBlank(get("addr", "1")));
  txtQuantity.SetText(TrimBlank(get("len", "1")));
  txtValue.SetText(TrimBlank(get("value", "0")));
  applyIndex(cmbFormat, "format");  // raises cmbFormat_Click
  txtHEX.SetText(get("hexvalue", ""));
  cmbRtuSpeed.SetText(get("speed", "9600"));
  applyIndex(cmbRtuParity, "parity");
  applyIndex(cmbRtuStopBit, "stopbit");
  txtRtuTimeout.SetText(TrimBlank(get("rtutimeout", "1000")));
  if (auto v = ToBool(get("hexview", "0"))) HexView = *v;
  // A mode number outside the list is kept: it selects the socket with RTU
  // framing, and the mode list shows no selection.
  if (auto v = ParseInteger(TrimBlank(get("mode", "0")))) Mode = *v;
  ComPortName = get("comport", "");
  {
    // Only an interval in range is taken; anything else restores the default.
    const std::optional<int32_t> v = ToLong(get("pollinterval", kDefaultPollText));
    txtPollInterval.SetText(v && *v >= kMinPollMs && *v <= kMaxPollMs ? std::to_string(*v) : kDefaultPollText);
    ApplyPollInterval();
  }
  {
    // The address notation: a missing or bad stored value gives protocol addresses.
    const std::optional<int32_t> v = ToLong(get("addresses", "0"));
    cmbAddresses.SetListIndex(static_cast<int32_t>(modbus::AddressNotationOf(v.value_or(0))));
  }

  SetLogFile(get("logfile", ""), ToBool(get("logfilecsv", "0")).value_or(false));
  {
    // The further commands' fields: a missing value, or one its field would
    // refuse, gives the default.
    auto applyText = [&](TextField& field, const char* key, const char* def) {
      field.SetText(TrimBlank(get(key, def)));
      if (!RefusalOf(field).empty()) field.SetText(def);
    };
    applyText(txtWriteAddr, "writeaddr", "1");
    applyText(txtAndMask, "andmask", "0xFFFF");
    applyText(txtOrMask, "ormask", "0x0000");
    applyText(txtObjectId, "objectid", "0");
    // The values are checked against the command when sent; only characters
    // no values field takes make the stored text bad.
    const std::string values = TrimBlank(get("values", "0"));
    txtValues.SetText(values.find_first_not_of("0123456789ABCDEFabcdefxX-+ ,;") == std::string::npos ? values : "0");
    auto applyList = [&](ListField& list, const char* key) {
      const std::optional<int32_t> v = ToLong(get(key, "0"));
      list.SetListIndex(v && *v >= 0 && *v < list.ListCount() ? *v : 0);
    };
    applyList(cmbValuesAs, "valuesas");
    applyList(cmbReadCode, "readcode");
  }

  // The clicks raised above ran with intermediate states; the format just
  // restored is the operator's, and the refresh procedures lay the panel out
  // for the restored command, input kind and mode.
  FormatIndex = static_cast<int16_t>(cmbFormat.ListIndex());
  RefreshCmd();
  RefreshHexView();
  RefreshMode();
}

void frmMain::SaveSett() {
  platform::SettingsStore* store = Platform().settings.get();
  if (store == nullptr) return;
  // A write that fails skips that key only.
  auto put = [&](const char* key, const std::string& value) { store->Write(kSection, key, value); };

  put("left", std::to_string(Left()));
  put("top", std::to_string(Top()));
  put("host", TrimBlank(txtTcpHost.Text()));
  put("port", TrimBlank(txtTcpPort.Text()));
  put("timeout", TrimBlank(txtTcpTimeout.Text()));
  put("unitid", TrimBlank(txtUnitID.Text()));
  put("cmd", std::to_string(cmbCmd.ListIndex()));
  // The operator's format, not the "UINT16" a bit read forces on the list.
  put("format", std::to_string(FormatIndex));
  put("addr", TrimBlank(txtAddr.Text()));
  put("len", TrimBlank(txtQuantity.Text()));
  put("value", TrimBlank(txtValue.Text()));
  put("hexvalue", TrimBlank(txtHEX.Text()));
  put("speed", cmbRtuSpeed.Text());
  put("parity", std::to_string(cmbRtuParity.ListIndex()));
  put("stopbit", std::to_string(cmbRtuStopBit.ListIndex()));
  put("rtutimeout", TrimBlank(txtRtuTimeout.Text()));
  put("hexview", BoolText(HexView));
  put("mode", std::to_string(Mode));
  put("comport", ComPortName);
  put("pollinterval", TrimBlank(txtPollInterval.Text()));
  put("addresses", std::to_string(static_cast<int32_t>(Addresses())));
  put("logfile", LogFilePath());
  put("logfilecsv", BoolText(LogFileCsv()));
  put("values", TrimBlank(txtValues.Text()));
  put("valuesas", std::to_string(cmbValuesAs.ListIndex()));
  put("writeaddr", TrimBlank(txtWriteAddr.Text()));
  put("andmask", TrimBlank(txtAndMask.Text()));
  put("ormask", TrimBlank(txtOrMask.Text()));
  put("readcode", std::to_string(cmbReadCode.ListIndex()));
  put("objectid", TrimBlank(txtObjectId.Text()));
  store->Flush();
}
