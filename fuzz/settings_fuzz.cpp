// Fuzz target for settings persistence. The input gives a presence mask for
// the keys of section "main", a choice of serial ports on the system's list,
// and the values of the present keys (split on the byte 0x1F); the panel
// starts on them (Form_Load runs LoadSett). Then:
//   - the panel is consistent: every list's selection inside the list, the
//     mode list and the visible group follow Mode, the format list is disabled
//     exactly for bit reads (and no command), the input kind follows HexView,
//     polling is off, nothing is in flight;
//   - each key went to its field as stored (trimmed where the texts are);
//   - Form_QueryUnload writes every key once, in order, from the right field;
//   - a second panel loading what was saved ends in the same state, and saves
//     exactly the same values (saving what was loaded is a fixed point).
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fakes/fake_platform.h"
#include "panel/frmMain.h"

namespace {

void Require(bool ok) {
  if (!ok) __builtin_trap();
}

constexpr size_t kMaxInput = 4096;
constexpr char kSeparator = '\x1f';

// Every key of the section, in the order the panel saves them.
constexpr const char* kKeys[] = {"left",    "top",        "host",    "port",  "timeout",  "unitid",       "cmd",
                                 "format",  "addr",       "len",     "value", "hexvalue", "speed",        "parity",
                                 "stopbit", "rtutimeout", "hexview", "mode",  "comport",  "pollinterval", "addresses"};
constexpr size_t kKeyCount = sizeof(kKeys) / sizeof(kKeys[0]);
// Written after kKeys on close, but never given a fuzzed stored value: a
// stored log file path would make the panel write files wherever it names.
constexpr const char* kWrittenOnlyKeys[] = {"logfile", "logfilecsv"};
// The further commands' fields, written last; given fuzzed stored values too.
constexpr const char* kCommandKeys[] = {"values", "valuesas", "writeaddr", "andmask", "ormask", "readcode", "objectid"};
constexpr size_t kCommandKeyCount = sizeof(kCommandKeys) / sizeof(kCommandKeys[0]);
constexpr size_t kWrittenCount = kKeyCount + sizeof(kWrittenOnlyKeys) / sizeof(kWrittenOnlyKeys[0]) + kCommandKeyCount;

constexpr const char* kPortNames[] = {"COM1", "COM3", "COM12", "/dev/ttyUSB0"};

using Stored = std::map<std::string, std::string>;  // key -> value, present keys only

// Blanks, carriage returns and line feeds off both ends.
std::string Trim(std::string_view s) {
  const size_t first = s.find_first_not_of(" \r\n");
  if (first == std::string_view::npos) return {};
  const size_t last = s.find_last_not_of(" \r\n");
  return std::string(s.substr(first, last - first + 1));
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// A plain whole number: an optional "-" and one to six decimal digits, nothing
// else. The cases where the stored value is unambiguous.
std::optional<int32_t> PlainNumber(const std::string& t) {
  const size_t digits = t.size() - (!t.empty() && t[0] == '-' ? 1 : 0);
  if (digits == 0 || digits > 6) return std::nullopt;
  int32_t v = 0;
  for (size_t i = t.size() - digits; i < t.size(); ++i) {
    if (t[i] < '0' || t[i] > '9') return std::nullopt;
    v = v * 10 + (t[i] - '0');
  }
  return t[0] == '-' ? -v : v;
}

std::optional<std::string> Get(const Stored& stored, const char* key) {
  const auto it = stored.find(key);
  if (it == stored.end()) return std::nullopt;
  return it->second;
}

// What a panel shows and holds after start-up, as comparable text.
using Snapshot = std::vector<std::pair<std::string, std::string>>;

void Add(Snapshot& s, const char* name, const std::string& v) { s.emplace_back(name, v); }
void Add(Snapshot& s, const char* name, long long v) { s.emplace_back(name, std::to_string(v)); }
void AddList(Snapshot& s, const char* name, const ListField& l) {
  s.emplace_back(name, std::to_string(l.ListIndex()) + "|" + std::to_string(l.ListCount()) + "|" + l.Text() + "|" +
                           (l.Enabled() ? "on" : "off"));
}

Snapshot Take(const frmMain& f) {
  Snapshot s;
  Add(s, "left", f.Left());
  Add(s, "top", f.Top());
  Add(s, "txtTcpHost", f.txtTcpHost.Text());
  Add(s, "txtTcpPort", f.txtTcpPort.Text());
  Add(s, "txtTcpTimeout", f.txtTcpTimeout.Text());
  Add(s, "txtUnitID", f.txtUnitID.Text());
  Add(s, "txtAddr", f.txtAddr.Text());
  Add(s, "txtQuantity", f.txtQuantity.Text());
  Add(s, "txtValue", f.txtValue.Text());
  // Stored trimmed: the first load may hold blanks at the ends, the second not.
  Add(s, "txtHEX", Trim(f.txtHEX.Text()));
  Add(s, "txtRtuTimeout", f.txtRtuTimeout.Text());
  Add(s, "txtPollInterval", f.txtPollInterval.Text());
  AddList(s, "cmbMode", f.cmbMode);
  AddList(s, "cmbCmd", f.cmbCmd);
  AddList(s, "cmbFormat", f.cmbFormat);
  AddList(s, "cmbRtuSpeed", f.cmbRtuSpeed);
  AddList(s, "cmbRtuParity", f.cmbRtuParity);
  AddList(s, "cmbRtuStopBit", f.cmbRtuStopBit);
  AddList(s, "cmbRtuPort", f.cmbRtuPort);
  Add(s, "Mode", f.Mode);
  Add(s, "HexView", f.HexView);
  Add(s, "FormatIndex", f.FormatIndex);
  Add(s, "ComPortName", f.ComPortName);
  Add(s, "lblLen", f.lblLen.Caption());
  Add(s, "visible",
      std::string() + (f.pctRTU.Visible() ? 'R' : '-') + (f.pctTCP.Visible() ? 'T' : '-') +
          (f.pctHEX.Visible() ? 'H' : '-') + (f.txtQuantity.Visible() ? 'Q' : '-') +
          (f.txtValue.Visible() ? 'V' : '-') + (f.pctAuto.Visible() ? 'A' : '-') + (f.cmdAuto1.Visible() ? 'a' : '-'));
  Add(s, "options", std::string() + (f.optFORM.Value() ? 'F' : '-') + (f.optHEX.Value() ? 'H' : '-'));
  Add(s, "tmrAuto", std::to_string(f.tmrAuto.Interval()) + (f.tmrAuto.Enabled() ? " on" : " off"));
  Add(s, "caption", f.Caption());
  return s;
}

void CheckConsistent(frmMain& f) {
  for (const ListField* l :
       {&f.cmbMode, &f.cmbCmd, &f.cmbFormat, &f.cmbRtuSpeed, &f.cmbRtuParity, &f.cmbRtuStopBit, &f.cmbRtuPort})
    Require(l->ListIndex() >= -1 && l->ListIndex() < l->ListCount());
  // Five modes; the serial ones (RTU 0, ASCII 3) show the serial settings, every other the socket's.
  Require(f.cmbMode.ListIndex() == (f.Mode >= 0 && f.Mode <= 4 ? f.Mode : -1));
  const bool serial = f.Mode == 0 || f.Mode == 3;
  Require(f.pctRTU.Visible() == serial);
  Require(f.pctTCP.Visible() == !serial);

  const int16_t cmd = f.GetCmd();
  // The further commands take no format (the list shows UINT16, as for a bit read) and show a
  // quantity only for 15 and 23.
  const bool further = cmd == 7 || cmd == 8 || cmd == 15 || cmd == 17 || cmd == 22 || cmd == 23 || cmd == 43;
  Require(f.cmbFormat.Enabled() == (cmd > 2 && !further));
  Require(f.FormatIndex >= -1 && f.FormatIndex < f.cmbFormat.ListCount());
  Require(f.cmbFormat.ListIndex() == (cmd <= 2 || further ? 1 : f.FormatIndex));
  if (further) {
    Require(f.lblLen.Caption() == (cmd == 23 ? "Read quantity" : "Quantity"));
    Require(f.txtQuantity.Visible() == (cmd == 15 || cmd == 23) && !f.txtValue.Visible());
  } else {
    Require(f.lblLen.Caption() == (cmd <= 4 ? "Quantity" : "Value"));
    Require(f.txtQuantity.Visible() == (cmd <= 4) && f.txtValue.Visible() == (cmd > 4));
  }

  Require(f.pctHEX.Visible() == f.HexView);
  Require(f.optHEX.Value() == f.HexView && f.optFORM.Value() == !f.HexView);

  Require(!f.AutoPolling && !f.tmrAuto.Enabled() && !f.pctAuto.Visible() && f.cmdAuto1.Visible());
  Require(!f.AwaitingResponse && f.Requests.empty());
  // Start-up writes its two rows and nothing else.
  Require(f.LogLineCount == 2 && f.txtLog.Text().size() >= 13 &&
          f.txtLog.Text().compare(f.txtLog.Text().size() - 13, 13, "Run Tarvelo\r\n") == 0);
}

// Each stored value reached its field as the settings table says.
void CheckApplied(frmMain& f, const Stored& stored) {
  const auto text = [&](const char* key, const TextBox& field, const char* def) {
    const std::optional<std::string> v = Get(stored, key);
    Require(field.Text() == (v ? Trim(*v) : std::string(def)));
  };
  if (Get(stored, "host")) text("host", f.txtTcpHost, "");
  text("port", f.txtTcpPort, "502");
  text("timeout", f.txtTcpTimeout, "1000");
  text("unitid", f.txtUnitID, "1");
  text("addr", f.txtAddr, "1");
  text("len", f.txtQuantity, "1");
  text("value", f.txtValue, "0");
  text("rtutimeout", f.txtRtuTimeout, "1000");
  // The further commands' fields: the stored text when the field takes it, else the default; their
  // lists always hold an item.
  const auto storedOrDefault = [&](const char* key, const TextBox& field, const char* def) {
    const std::optional<std::string> v = Get(stored, key);
    Require(field.Text() == def || (v && field.Text() == Trim(*v)));
  };
  storedOrDefault("values", f.txtValues, "0");
  storedOrDefault("writeaddr", f.txtWriteAddr, "1");
  storedOrDefault("andmask", f.txtAndMask, "0xFFFF");
  storedOrDefault("ormask", f.txtOrMask, "0x0000");
  storedOrDefault("objectid", f.txtObjectId, "0");
  Require(f.cmbValuesAs.ListIndex() >= 0 && f.cmbReadCode.ListIndex() >= 0);
  Require(f.txtHEX.Text() == Get(stored, "hexvalue").value_or(""));
  Require(f.cmbRtuSpeed.Text() == Get(stored, "speed").value_or("9600"));

  // A list index: a plain number inside the list selects that item; outside
  // the list the list keeps what it had (no selection at start-up). A missing
  // key selects the first item.
  const auto index = [&](const char* key, const ListField& list) {
    if (const std::optional<int32_t> n = PlainNumber(Trim(Get(stored, key).value_or("0"))))
      Require(list.ListIndex() == (*n >= -1 && *n < list.ListCount() ? *n : -1));
  };
  index("parity", f.cmbRtuParity);
  index("stopbit", f.cmbRtuStopBit);
  index("cmd", f.cmbCmd);
  if (const std::optional<int32_t> n = PlainNumber(Trim(Get(stored, "format").value_or("0"))))
    if (*n >= -1 && *n < f.cmbFormat.ListCount()) Require(f.FormatIndex == *n);

  if (const std::optional<int32_t> n = PlainNumber(Trim(Get(stored, "mode").value_or("0"))))
    Require(f.Mode == (*n >= -32768 && *n <= 32767 ? *n : 0));

  const std::string hexview = Lower(Trim(Get(stored, "hexview").value_or("0")));
  if (hexview == "true") Require(f.HexView);
  if (hexview == "false") Require(!f.HexView);
  if (const std::optional<int32_t> n = PlainNumber(hexview)) Require(f.HexView == (*n != 0));
  if (hexview.find_first_of("0123456789") == std::string::npos && hexview != "true" && hexview != "false")
    Require(!f.HexView);

  // The port last chosen: as stored, unless the list holds it under another
  // case, or the list's first port was taken because none was stored.
  const std::string comport = Get(stored, "comport").value_or("");
  if (f.cmbRtuPort.ListIndex() >= 0) {
    Require(Lower(f.ComPortName) == Lower(f.cmbRtuPort.Text()));
    if (!comport.empty()) Require(Lower(comport) == Lower(f.ComPortName));
  } else {
    Require(f.ComPortName == comport);
  }
}

// Form_QueryUnload writes every key once, in order, each from its field.
void CheckSaved(frmMain& f, const fakes::FakeSettings& settings) {
  Require(settings.writeOrder.size() == kWrittenCount);
  for (size_t i = 0; i < kKeyCount; ++i) Require(settings.writeOrder[i] == kKeys[i]);
  const size_t commandKeysAt = kWrittenCount - kCommandKeyCount;
  for (size_t i = kKeyCount; i < commandKeysAt; ++i) Require(settings.writeOrder[i] == kWrittenOnlyKeys[i - kKeyCount]);
  for (size_t i = commandKeysAt; i < kWrittenCount; ++i)
    Require(settings.writeOrder[i] == kCommandKeys[i - commandKeysAt]);
  const auto saved = [&](const char* key) { return settings.values.at(std::string("main/") + key); };
  Require(saved("cmd") == std::to_string(f.cmbCmd.ListIndex()));
  Require(saved("format") == std::to_string(f.FormatIndex));
  Require(saved("parity") == std::to_string(f.cmbRtuParity.ListIndex()));
  Require(saved("stopbit") == std::to_string(f.cmbRtuStopBit.ListIndex()));
  Require(saved("mode") == std::to_string(f.Mode));
  Require(saved("hexview") == (f.HexView ? "True" : "False"));
  Require(saved("hexvalue") == Trim(f.txtHEX.Text()));
  Require(saved("speed") == f.cmbRtuSpeed.Text());
  Require(saved("comport") == f.ComPortName);
  Require(saved("host") == Trim(f.txtTcpHost.Text()));
  Require(saved("left") == std::to_string(f.Left()) && saved("top") == std::to_string(f.Top()));
}

struct Panel {
  fakes::FakePlatform fp;
  frmMain f{fp.Bundle()};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return 0;
  size_t at = 0;
  auto byte = [&]() -> uint8_t { return at < size ? data[at++] : 0; };
  const uint32_t present = byte() | byte() << 8 | byte() << 16;
  const uint8_t portChoice = byte();
  std::vector<std::string> ports;
  for (size_t i = 0; i < 4; ++i)
    if (portChoice & (1u << i)) ports.emplace_back(kPortNames[i]);

  // The values of the present keys, in key order.
  Stored stored;
  std::string_view rest(reinterpret_cast<const char*>(data) + at, size - at);
  for (size_t k = 0; k < kKeyCount; ++k) {
    if (!(present & (1u << k))) continue;
    const size_t end = rest.find(kSeparator);
    stored[kKeys[k]] = std::string(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }
  // The further commands' keys take what is left, while there is any.
  for (size_t k = 0; k < kCommandKeyCount && !rest.empty(); ++k) {
    const size_t end = rest.find(kSeparator);
    stored[kCommandKeys[k]] = std::string(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }

  // First start, on the stored values.
  Panel first;
  first.fp.ports->SetNames(ports);
  for (const auto& [key, value] : stored) first.fp.settings->values["main/" + key] = value;
  first.f.Form_Load();
  CheckConsistent(first.f);
  CheckApplied(first.f, stored);
  const Snapshot loaded = Take(first.f);

  int16_t cancel = 1;
  first.f.Form_QueryUnload(cancel, 0);
  Require(cancel == 0);
  CheckSaved(first.f, *first.fp.settings);
  Require(Take(first.f) == loaded);  // saving changes nothing on the panel

  // Second start, on what the first saved.
  Panel second;
  second.fp.ports->SetNames(ports);
  second.fp.settings->values = first.fp.settings->values;
  second.f.Form_Load();
  CheckConsistent(second.f);
  Require(Take(second.f) == loaded);
  second.fp.settings->writeOrder.clear();
  second.f.Form_QueryUnload(cancel, 0);
  CheckSaved(second.f, *second.fp.settings);
  Require(second.fp.settings->values == first.fp.settings->values);
  return 0;
}
