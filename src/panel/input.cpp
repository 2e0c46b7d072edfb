// The input fields guard themselves: key filters that swallow every typed
// character outside the field's own set, value checks that keep the focus in
// a field whose value is out of range, and the clipboard keys of the response
// view and the log pane. A rejection is signalled by the beep alone.
#include <optional>
#include <string>
#include <string_view>

#include "common/module1.h"
#include "common/number_text.h"
#include "modbus/address_notation.h"
#include "modbus/convert.h"
#include "modbus/types.h"
#include "panel/frmMain.h"

using namespace modbus;

namespace {

// Backspace, Ctrl+C, Ctrl+V and Ctrl+X pass every filter.
constexpr std::string_view kControlKeys{"\x08\x03\x16\x18"};

constexpr std::string_view kDigits = "0123456789";
constexpr std::string_view kAddrChars = "0123456789ABCDEFabcdefx";
constexpr std::string_view kDecimalChars = "0123456789.,-";
constexpr std::string_view kHexChars = "abcdefABCDEF0123456789 ";

bool Accepted(int16_t key, std::string_view chars) {
  if (key <= 0 || key > 127) return false;
  const char c = static_cast<char>(key);
  return chars.find(c) != std::string_view::npos || kControlKeys.find(c) != std::string_view::npos;
}

// The field's text as a whole number: trimmed, converted with the decimal
// part rounded; 0 when it is not a number.
int32_t FieldValue(const TextBox& field) { return ParseLong(TrimBlank(field.Text())).value_or(0); }

bool InRange(int32_t v, int32_t lo, int32_t hi) { return v >= lo && v <= hi; }

// Shift state of the Ctrl key alone, and the key codes of the shortcuts.
constexpr int16_t kCtrlOnly = 2;
constexpr int16_t kKeyA = 65;
constexpr int16_t kKeyC = 67;
constexpr int16_t kKeyV = 86;
constexpr int16_t kKeyX = 88;

// Shared by the filters: drops a rejected key with a beep; upper-cases a..f
// where the field asks for it.
void FilterKey(int16_t& KeyAscii, std::string_view chars, bool upperHex, platform::Beeper* beeper) {
  if (!Accepted(KeyAscii, chars)) {
    KeyAscii = 0;
    if (beeper != nullptr) beeper->Beep();
    return;
  }
  if (upperHex && KeyAscii >= 'a' && KeyAscii <= 'f') KeyAscii = static_cast<int16_t>(KeyAscii - 'a' + 'A');
}

// Ends a value check: a refused value keeps the focus and beeps.
void Check(bool ok, bool& Cancel, platform::Beeper* beeper) {
  if (ok) return;
  Cancel = true;
  if (beeper != nullptr) beeper->Beep();
}

}  // namespace

void frmMain::txtUnitID_KeyPress(int16_t& KeyAscii) { FilterKey(KeyAscii, kDigits, false, Platform().beeper.get()); }
void frmMain::txtAddr_KeyPress(int16_t& KeyAscii) { FilterKey(KeyAscii, kAddrChars, true, Platform().beeper.get()); }
void frmMain::txtQuantity_KeyPress(int16_t& KeyAscii) { FilterKey(KeyAscii, kDigits, false, Platform().beeper.get()); }
void frmMain::txtValue_KeyPress(int16_t& KeyAscii) {
  // The characters a value of the chosen format can be written with.
  static constexpr std::string_view kWholeChars = "0123456789+-xXabcdefABCDEF";
  static constexpr std::string_view kDoubleChars = "0123456789.,+-eEnaNAifIF";
  static constexpr std::string_view kHexViewChars = "0123456789abcdefABCDEFxX";
  static constexpr std::string_view kBinaryChars = "01 ";
  static std::string printable;
  if (printable.empty()) {
    for (char c = ' '; c <= '~'; ++c) printable.push_back(c);
  }
  std::string_view chars = kDecimalChars;
  switch (KindOf(static_cast<Format>(cmbFormat.ListIndex()))) {
    case ValueKind::Int64:
    case ValueKind::Uint64:
      chars = kWholeChars;
      break;
    case ValueKind::Double:
      chars = kDoubleChars;
      break;
    case ValueKind::Hex:
      chars = kHexViewChars;
      break;
    case ValueKind::Binary:
      chars = kBinaryChars;
      break;
    case ValueKind::Ascii:
      chars = printable;
      break;
    default:
      break;
  }
  FilterKey(KeyAscii, chars, false, Platform().beeper.get());
}
void frmMain::txtHEX_KeyPress(int16_t& KeyAscii) { FilterKey(KeyAscii, kHexChars, true, Platform().beeper.get()); }
void frmMain::txtTcpPort_KeyPress(int16_t& KeyAscii) { FilterKey(KeyAscii, kDigits, false, Platform().beeper.get()); }
void frmMain::txtTcpTimeout_KeyPress(int16_t& KeyAscii) {
  FilterKey(KeyAscii, kDigits, false, Platform().beeper.get());
}
void frmMain::txtRtuTimeout_KeyPress(int16_t& KeyAscii) {
  FilterKey(KeyAscii, kDecimalChars, false, Platform().beeper.get());
}

void frmMain::txtPollInterval_KeyPress(int16_t& KeyAscii) {
  FilterKey(KeyAscii, kDigits, false, Platform().beeper.get());
}

namespace {

// "Address: 99999 is outside 0 to 65535"; an empty text is named as such,
// and so is a text that is no number at all (a decimal comma, letters): it
// is not outside the range, and saying so would send the operator looking
// for a range problem.
std::string OutsideText(const char* field, const std::string& text, int32_t lo, int32_t hi) {
  const std::string range = std::to_string(lo) + " to " + std::to_string(hi);
  if (text.empty()) return std::string(field) + ": empty is outside " + range;
  if (!ParseNumber(text)) return std::string(field) + ": \"" + text + "\" is not a whole number from " + range;
  return std::string(field) + ": \"" + text + "\" is outside " + range;
}

// The range check shared by the whole-number fields: empty when `field` holds a number in lo..hi.
std::string RangeRefusal(const char* name, const TextBox& field, int32_t lo, int32_t hi) {
  return InRange(FieldValue(field), lo, hi) ? std::string() : OutsideText(name, TrimBlank(field.Text()), lo, hi);
}

}  // namespace

std::string frmMain::RefusalOf(const TextBox& field) {
  const std::string t = TrimBlank(field.Text());
  if (&field == &txtUnitID) {
    // Taken as an unsigned 8-bit number: outside 0..255 it counts as 0.
    int32_t v = FieldValue(txtUnitID);
    if (!InRange(v, 0, 255)) v = 0;
    return InRange(v, 1, 247) ? std::string() : OutsideText("Slave ID", t, 1, 247);
  }
  if (&field == &txtAddr) {
    // Register numbers and reference numbers have their own ranges.
    if (Addresses() != AddressNotation::Protocol) {
      const auto typed = ParseAddress(Addresses(), txtAddr.Text());
      return typed.Ok() ? std::string() : "Address: " + typed.refusal;
    }
    // Empty text, and text that is neither a decimal number nor "0x" with
    // hexadecimal digits, is refused. A decimal address must lie in 0..65535
    // (compared before any conversion to Long, so that a number beyond the
    // Long range is refused rather than read as 0); a hexadecimal entry is
    // taken as its low 16 bits and has no range.
    if (t.empty() || !IsValidAddressText(t))
      return t.empty() ? std::string("Address: empty, a number from 0 to 65535 or 0x and hexadecimal digits")
                       : "Address: \"" + t + "\" is neither a number from 0 to 65535 nor 0x and hexadecimal digits";
    if (auto d = ParseNumber(t)) {
      const double r = RoundHalfEven(*d);
      if (r < 0.0 || r > 65535.0) return OutsideText("Address", t, 0, 65535);
    }
    return {};
  }
  if (&field == &txtQuantity) {
    // The range follows the command (and a register read's format).
    return RangeRefusal("Quantity", txtQuantity, 1, QuantityMax());
  }
  if (&field == &txtTcpPort) return RangeRefusal("Port", txtTcpPort, 1, 65535);
  if (&field == &txtTcpTimeout) return RangeRefusal("Timeout", txtTcpTimeout, 1, 65535);
  if (&field == &txtRtuTimeout) return RangeRefusal("Timeout", txtRtuTimeout, 1, 65535);
  if (&field == &txtPollInterval) return RangeRefusal("Poll ms", txtPollInterval, kMinPollMs, kMaxPollMs);
  return CommandFieldRefusal(field);
}

std::string frmMain::Refusal(const TextBox& field) const {
  for (const auto& [f, reason] : refusals_)
    if (f == &field) return reason;
  return {};
}

void frmMain::SetRefusal(const TextBox& field, std::string reason) {
  for (auto& [f, old] : refusals_) {
    if (f != &field) continue;
    if (old == reason) return;
    old = std::move(reason);
    if (onRefusalChanged) onRefusalChanged(field, old);
    return;
  }
  if (reason.empty()) return;
  refusals_.emplace_back(&field, std::move(reason));
  if (onRefusalChanged) onRefusalChanged(field, refusals_.back().second);
}

// Each check: a refused value keeps the focus, beeps and leaves its reason in Refusal().
#define VESK_CHECK_FIELD(field)                             \
  void frmMain::field##_Validate(bool& Cancel) {            \
    std::string reason = RefusalOf(field);                  \
    Check(reason.empty(), Cancel, Platform().beeper.get()); \
    SetRefusal(field, std::move(reason));                   \
  }
VESK_CHECK_FIELD(txtUnitID)
VESK_CHECK_FIELD(txtAddr)
VESK_CHECK_FIELD(txtQuantity)
VESK_CHECK_FIELD(txtTcpPort)
VESK_CHECK_FIELD(txtTcpTimeout)
VESK_CHECK_FIELD(txtRtuTimeout)
#undef VESK_CHECK_FIELD

void frmMain::txtPollInterval_Validate(bool& Cancel) {
  std::string reason = RefusalOf(txtPollInterval);
  const bool ok = reason.empty();
  Check(ok, Cancel, Platform().beeper.get());
  SetRefusal(txtPollInterval, std::move(reason));
  // A running poll takes the new period at once.
  if (ok) ApplyPollInterval();
}

void frmMain::txtResponse_KeyDown(int16_t KeyCode, int16_t Shift) { ProcessClipBoard(txtResponse, KeyCode, Shift); }

void frmMain::txtLog_KeyDown(int16_t KeyCode, int16_t Shift) { ProcessClipBoard(txtLog, KeyCode, Shift); }

void frmMain::txtHEX_KeyDown(int16_t /*KeyCode*/, int16_t /*Shift*/) {
  // The raw request field keeps the toolkit's own editing keys.
}

void frmMain::ProcessClipBoard(TextBox& Ctrl, int16_t KeyCode, int16_t Shift) {
  if (Shift != kCtrlOnly) return;
  platform::Clipboard* clipboard = Platform().clipboard.get();
  const bool stop = false;

  switch (KeyCode) {
    case kKeyA:
      Ctrl.Select(0, static_cast<int>(Ctrl.Text().size()));
      break;
    case kKeyC: {
      if (clipboard == nullptr) break;
      // The selection as the key was pressed: a row logged while the
      // clipboard settles (polling) moves the log's selection to its end.
      const std::string selected = Ctrl.SelLength() > 0 ? Ctrl.SelText() : std::string();
      clipboard->Clear();
      // Gives the system clipboard time to settle after clearing it.
      WaitWithEvents(0.1, stop, 10);
      if (!selected.empty()) clipboard->SetText(selected);
      break;
    }
    case kKeyX:
      if (Ctrl.Locked() || clipboard == nullptr) break;
      clipboard->Clear();
      WaitWithEvents(0.1, stop, 10);
      if (Ctrl.SelLength() > 0) {
        clipboard->SetText(Ctrl.SelText());
        Ctrl.SetSelText("");
      }
      break;
    case kKeyV:
      if (Ctrl.Locked() || clipboard == nullptr) break;
      if (clipboard->HasText()) Ctrl.SetSelText(clipboard->GetText());
      break;
    default:
      break;
  }
}

void frmMain::WaitWithEvents(double seconds, const bool& stop, int stepMs) {
  platform::Clock* clock = Platform().clock.get();
  platform::EventPump* events = Platform().events.get();
  if (clock == nullptr) return;
  ::WaitWithEvents(
      seconds, stop, stepMs, [clock] { return clock->MonotonicMs(); }, [clock](int ms) { clock->Sleep(ms); },
      [events] {
        if (events != nullptr) events->ProcessEvents();
      });
}
