// The further commands of the form (07, 08, 15, 17, 22, 23 and 43/14): which
// fields each shows and how they are captioned, the key filters and value
// checks of their fields, reading those fields into the request's values, and
// following a device identification answer that says more objects follow.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/module1.h"
#include "common/number_text.h"
#include "modbus/address_notation.h"
#include "modbus/ascii_framing.h"
#include "modbus/convert.h"
#include "modbus/pdu_ext.h"
#include "modbus/requests.h"
#include "panel/frmMain.h"

using namespace modbus;

namespace {

// Backspace, Ctrl+C, Ctrl+V and Ctrl+X pass every filter.
constexpr std::string_view kControlKeys{"\x08\x03\x16\x18"};
constexpr std::string_view kWordChars = "0123456789ABCDEFabcdefxX";  // decimal, or 0x and hex digits
constexpr std::string_view kDigitChars = "0123456789";
constexpr std::string_view kCoilListChars = "01 ,;";
constexpr std::string_view kHexListChars = "0123456789ABCDEFabcdefxX ,;";
constexpr std::string_view kRegisterListChars = "0123456789ABCDEFabcdefxX-+ ,;";

// The index of cmbValuesAs: how the coils of 15 are typed.
constexpr int kCoilsAsList = 0;
constexpr int kCoilsAsHexBytes = 1;

bool IsFurther(int32_t cmd) {
  return cmd == 7 || cmd == 8 || cmd == 15 || cmd == 17 || cmd == 22 || cmd == 23 || cmd == 43;
}

bool IsSeparator(char c) { return c == ' ' || c == '\t' || c == ',' || c == ';'; }

// The value of a hexadecimal digit, -1 for any other character.
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// A 16-bit number as typed: decimal digits (a leading "-" when `lowest` is
// below 0) from `lowest` to 65535, or "0x" and 1 to 4 hexadecimal digits.
std::optional<int32_t> WordOf(std::string_view t, int32_t lowest = 0) {
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    if (t.size() > 6) return std::nullopt;
    int32_t v = 0;
    for (char c : t.substr(2)) {
      if (HexDigit(c) < 0) return std::nullopt;
      v = v * 16 + HexDigit(c);
    }
    return v;
  }
  const bool negative = !t.empty() && t[0] == '-';
  const std::string_view digits = negative ? t.substr(1) : t;
  if (digits.empty() || digits.size() > 6) return std::nullopt;
  int32_t v = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  if (negative) v = -v;
  if (v < lowest || v > 0xFFFF) return std::nullopt;
  return v;
}

// The items of a list typed with blanks, commas or semicolons between them.
std::vector<std::string> Items(std::string_view text) {
  std::vector<std::string> items;
  std::string item;
  for (char c : text) {
    if (IsSeparator(c) || c == '\r' || c == '\n') {
      if (!item.empty()) items.push_back(std::move(item));
      item.clear();
    } else {
      item += c;
    }
  }
  if (!item.empty()) items.push_back(std::move(item));
  return items;
}

// The registers of 23's write block: decimal -32768 to 65535 (a negative
// value is its two's complement) or "0x" and hex digits, one per item.
std::optional<std::vector<uint16_t>> RegisterList(std::string_view text, std::string& refusal) {
  std::vector<uint16_t> words;
  const std::vector<std::string> items = Items(text);
  for (size_t i = 0; i < items.size(); ++i) {
    const std::optional<int32_t> v = WordOf(items[i], -32768);
    if (!v) {
      refusal = "Invalid write value \"" + items[i] + "\" at position " + std::to_string(i + 1) +
                ": a register value is a number from -32768 to 65535 or 0x and 1 to 4 hexadecimal digits";
      return std::nullopt;
    }
    words.push_back(static_cast<uint16_t>(*v & 0xFFFF));
  }
  if (words.empty()) refusal = "Invalid write values: no register value typed";
  if (words.empty()) return std::nullopt;
  return words;
}

// The query data of 08: one data word of 1 to 4 hexadecimal digits per item
// ("A537 0001"), a "0x" before it allowed.
std::optional<std::vector<uint16_t>> QueryData(std::string_view text, std::string& refusal) {
  std::vector<uint16_t> words;
  const std::vector<std::string> items = Items(text);
  for (size_t i = 0; i < items.size(); ++i) {
    std::string_view t = items[i];
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) t.remove_prefix(2);
    int32_t v = 0;
    bool ok = !t.empty() && t.size() <= 4;
    for (char c : t) {
      ok = ok && HexDigit(c) >= 0;
      if (ok) v = v * 16 + HexDigit(c);
    }
    if (!ok) {
      refusal = "Invalid query data \"" + items[i] + "\" at position " + std::to_string(i + 1) +
                ": a data word is 1 to 4 hexadecimal digits";
      return std::nullopt;
    }
    words.push_back(static_cast<uint16_t>(v));
  }
  if (words.empty()) refusal = "Invalid query data: no data word typed";
  if (words.empty()) return std::nullopt;
  return words;
}

// Why 23's write address is refused when it is a reference number of another
// table than the holding registers ("" when it is not): the block written is
// always holding registers, so such a reference would write elsewhere than typed.
std::string WriteTableRefusal(const TypedAddress& typed) {
  if (!typed.table || *typed.table == Table::HoldingRegisters) return {};
  return "a reference of the " + std::string(TableNoun(*typed.table)) +
         "s; the registers written are holding registers, 4xxxx";
}

// The typed quantity: a whole number, 0 when not a number or outside the Long range.
int32_t QuantityOf(const std::string& text) { return ParseLong(TrimBlank(text)).value_or(0); }

void FilterKey(int16_t& KeyAscii, std::string_view chars, platform::Beeper* beeper) {
  const bool ok = KeyAscii > 0 && KeyAscii <= 127 &&
                  (chars.find(static_cast<char>(KeyAscii)) != std::string_view::npos ||
                   kControlKeys.find(static_cast<char>(KeyAscii)) != std::string_view::npos);
  if (ok) return;
  KeyAscii = 0;
  if (beeper != nullptr) beeper->Beep();
}

}  // namespace

bool frmMain::UsesAddress(int32_t function) {
  return function != 7 && function != 8 && function != 17 && function != 43;
}

int32_t frmMain::QuantityMax() {
  const int16_t cmd = GetCmd();
  const FunctionLimits* limits = FindFunction(static_cast<uint8_t>(cmd > 0 && cmd < 256 ? cmd : 0));
  if (cmd == 3 || cmd == 4) {
    // The quantity counts values of the format; all their registers must fit.
    const int per = RegistersPerValue(static_cast<Format>(cmbFormat.ListIndex()));
    return limits->quantity->max / per;
  }
  if (limits != nullptr && limits->quantity && (cmd == 1 || cmd == 2 || cmd == 15 || cmd == 23))
    return limits->quantity->max;
  // Commands that read no quantity (and no command): the register read's range.
  return FindFunction(kReadHoldingRegisters)->quantity->max;
}

bool frmMain::RefreshCommandFields() {
  const int16_t cmd = GetCmd();
  const bool further = IsFurther(cmd);
  const bool coils = cmd == 15, mask = cmd == 22, readWrite = cmd == 23, deviceId = cmd == 43, diag = cmd == 8;

  // The start address: its caption names the read block of 23; the commands
  // that carry no address hide it.
  Label7.SetCaption(readWrite ? "Read address" : "Address");
  Label7.SetVisible(UsesAddress(cmd));
  txtAddr.SetVisible(UsesAddress(cmd));

  // The quantity (15: coils written; 23: registers read) and its range.
  const int32_t max = QuantityMax();
  std::string quantityTip;
  switch (cmd) {
    case 1:
      quantityTip = "Number of coils to read (1-" + std::to_string(max) + ")";
      break;
    case 2:
      quantityTip = "Number of discrete inputs to read (1-" + std::to_string(max) + ")";
      break;
    case 3:
    case 4:
      quantityTip = "Number of values to read (1-" + std::to_string(max) + ")";
      break;
    case 15:
      quantityTip = "Number of coils to write (1-" + std::to_string(max) + ")";
      break;
    case 23:
      quantityTip = "Number of registers to read (1-" + std::to_string(max) + ")";
      break;
    default:
      quantityTip = "Number of registers (1-125) or coils (1-2000) to return";
      break;
  }
  txtQuantity.SetToolTipText(quantityTip);
  if (further) {
    const bool quantity = coils || readWrite;
    lblLen.SetCaption(readWrite ? "Read quantity" : "Quantity");
    lblLen.SetVisible(quantity);
    txtQuantity.SetVisible(quantity);
    txtValue.SetVisible(false);
  } else {
    lblLen.SetVisible(true);
  }

  // The second row.
  const bool values = coils || readWrite || diag;
  lblValues.SetCaption(coils ? "Coil values" : diag ? "Query data (hex words)" : "Write values");
  txtValues.SetToolTipText(coils  ? "The coils to write, the first coil first: 0 and 1 (\"1 0 1 1\"), or the bytes "
                                    "as sent, in hexadecimal (\"CD 01\")"
                           : diag ? "Data words the device returns unchanged, in hexadecimal (\"A537 0001\")"
                                  : "Register values to write from the write address on (\"1 -2 0x00FF\")");
  lblValues.SetVisible(values);
  txtValues.SetVisible(values);
  lblValuesAs.SetVisible(coils);
  cmbValuesAs.SetVisible(coils);
  lblWriteAddr.SetVisible(readWrite);
  txtWriteAddr.SetVisible(readWrite);
  lblAndMask.SetVisible(mask);
  txtAndMask.SetVisible(mask);
  lblOrMask.SetVisible(mask);
  txtOrMask.SetVisible(mask);
  lblReadCode.SetVisible(deviceId);
  cmbReadCode.SetVisible(deviceId);
  lblObjectId.SetVisible(deviceId);
  txtObjectId.SetVisible(deviceId);
  return further;
}

bool frmMain::ReadCommandFields(RequestValues& rq, std::string& refusal) {
  rq.quantity = QuantityOf(txtQuantity.Text());
  switch (rq.function) {
    case 15: {
      const std::string text = TrimBlank(txtValues.Text());
      if (cmbValuesAs.ListIndex() == kCoilsAsHexBytes) {
        CoilValues c = CoilsFromHexBytes(text, rq.quantity);
        if (!c.Ok()) {
          refusal = c.refusal;
          return false;
        }
        rq.coils = std::move(c.bits);
        return true;
      }
      CoilValues c = CoilsFromList(text);
      if (!c.Ok()) {
        refusal = c.refusal;
        return false;
      }
      if (static_cast<int64_t>(c.bits.size()) != rq.quantity) {
        refusal = "Invalid coil list \"" + text + "\": " + std::to_string(c.bits.size()) +
                  (c.bits.size() == 1 ? " coil" : " coils") + " typed for a quantity of " + std::to_string(rq.quantity);
        return false;
      }
      rq.coils = std::move(c.bits);
      return true;
    }
    case 22: {
      const std::string andText = TrimBlank(txtAndMask.Text()), orText = TrimBlank(txtOrMask.Text());
      const std::optional<int32_t> andMask = WordOf(andText), orMask = WordOf(orText);
      if (!andMask || !orMask) {
        refusal = "Invalid " + std::string(andMask ? "OR mask \"" + orText : "AND mask \"" + andText) +
                  "\": a mask is a number from 0 to 65535 or 0x and 1 to 4 hexadecimal digits";
        return false;
      }
      rq.andMask = *andMask;
      rq.orMask = *orMask;
      return true;
    }
    case 23: {
      const std::string text = TrimBlank(txtWriteAddr.Text());
      const TypedAddress typed = ParseAddress(Addresses(), text);
      if (!typed.Ok() || (Addresses() == AddressNotation::Protocol && !IsValidAddressText(text))) {
        refusal = "Invalid write address \"" + text + "\": " +
                  (typed.Ok() ? std::string("an address is a decimal number or 0x followed by hexadecimal digits")
                              : typed.refusal);
        return false;
      }
      if (const std::string why = WriteTableRefusal(typed); !why.empty()) {
        refusal = "Invalid write address \"" + text + "\": " + why;
        return false;
      }
      rq.writeAddress = typed.protocol;
      std::optional<std::vector<uint16_t>> words = RegisterList(txtValues.Text(), refusal);
      if (!words) return false;
      rq.words = std::move(*words);
      return true;
    }
    case 43: {
      const std::string text = TrimBlank(txtObjectId.Text());
      const std::optional<int32_t> id = WordOf(text);
      if (!id || *id > 255) {
        refusal = "Invalid object ID \"" + text +
                  "\": an object ID is a number from 0 to 255 or 0x and 2 "
                  "hexadecimal digits";
        return false;
      }
      rq.readCode = cmbReadCode.ListIndex() + 1;
      rq.objectId = *id;
      return true;
    }
    case 8: {
      std::optional<std::vector<uint16_t>> words = QueryData(txtValues.Text(), refusal);
      if (!words) return false;
      rq.words = std::move(*words);
      return true;
    }
    default:
      return true;
  }
}

// ---- key filters and value checks ------------------------------------------------------------

void frmMain::txtValues_KeyPress(int16_t& KeyAscii) {
  const int16_t cmd = GetCmd();
  std::string_view chars = kRegisterListChars;
  if (cmd == 15) chars = cmbValuesAs.ListIndex() == kCoilsAsHexBytes ? kHexListChars : kCoilListChars;
  if (cmd == 8) chars = kHexListChars;
  FilterKey(KeyAscii, chars, Platform().beeper.get());
}
void frmMain::txtWriteAddr_KeyPress(int16_t& KeyAscii) { txtAddr_KeyPress(KeyAscii); }
void frmMain::txtAndMask_KeyPress(int16_t& KeyAscii) { FilterKey(KeyAscii, kWordChars, Platform().beeper.get()); }
void frmMain::txtOrMask_KeyPress(int16_t& KeyAscii) { FilterKey(KeyAscii, kWordChars, Platform().beeper.get()); }
void frmMain::txtObjectId_KeyPress(int16_t& KeyAscii) { FilterKey(KeyAscii, kWordChars, Platform().beeper.get()); }

std::string frmMain::CommandFieldRefusal(const TextBox& field) {
  const std::string t = TrimBlank(field.Text());
  const std::string shown = t.empty() ? std::string("empty") : "\"" + t + "\"";
  if (&field == &txtAndMask || &field == &txtOrMask) {
    if (WordOf(t)) return {};
    return std::string(&field == &txtAndMask ? "AND mask" : "OR mask") + ": " + shown +
           " is neither a number from 0 to 65535 nor 0x and 1 to 4 hexadecimal digits";
  }
  if (&field == &txtObjectId) {
    const std::optional<int32_t> v = WordOf(t);
    if (v && *v <= 255) return {};
    return "Object ID: " + shown + " is neither a number from 0 to 255 nor 0x and 2 hexadecimal digits";
  }
  if (&field == &txtWriteAddr) {
    const TypedAddress typed = ParseAddress(Addresses(), t);
    if (!typed.Ok()) return "Write address: " + typed.refusal;
    if (const std::string why = WriteTableRefusal(typed); !why.empty()) return "Write address: " + shown + " is " + why;
    if (Addresses() == AddressNotation::Protocol && !IsValidAddressText(t))
      return "Write address: " + shown + " is neither a number from 0 to 65535 nor 0x and hexadecimal digits";
    if (Addresses() == AddressNotation::Protocol) {
      if (const std::optional<int32_t> v = ParseLong(t); v && (*v < 0 || *v > 65535))
        return "Write address: " + shown + " is outside 0 to 65535";
    }
    return {};
  }
  if (&field == &txtValues) {
    // The values as the command reads them; the quantity is the quantity field's concern.
    RequestValues rq;
    rq.function = GetCmd();
    std::string refusal;
    if (rq.function == 15) {
      const CoilValues c = cmbValuesAs.ListIndex() == kCoilsAsHexBytes
                               ? CoilsFromHexBytes(t, QuantityOf(txtQuantity.Text()))
                               : CoilsFromList(t);
      return c.Ok() ? std::string() : c.refusal;
    }
    if (rq.function == 23 && !RegisterList(t, refusal)) return refusal;
    if (rq.function == 8 && !QueryData(t, refusal)) return refusal;
    return {};
  }
  return {};
}

#define VESK_CHECK_COMMAND_FIELD(field)                 \
  void frmMain::field##_Validate(bool& Cancel) {        \
    std::string reason = RefusalOf(field);              \
    if (!reason.empty()) {                              \
      Cancel = true;                                    \
      if (Platform().beeper) Platform().beeper->Beep(); \
    }                                                   \
    SetRefusal(field, std::move(reason));               \
  }
VESK_CHECK_COMMAND_FIELD(txtValues)
VESK_CHECK_COMMAND_FIELD(txtWriteAddr)
VESK_CHECK_COMMAND_FIELD(txtAndMask)
VESK_CHECK_COMMAND_FIELD(txtOrMask)
VESK_CHECK_COMMAND_FIELD(txtObjectId)
#undef VESK_CHECK_COMMAND_FIELD

// ---- device identification: more follows --------------------------------------------------------

void frmMain::FollowDeviceId(const Frame& answer, int16_t s, modbus::Mode framing) {
  const size_t r = static_cast<size_t>(SlaveOffset(framing));
  const size_t trailer = static_cast<size_t>(TrailerSize(framing));
  // In ASCII framing the request is read as the binary frame its characters carry, as the answer is.
  const Frame request = IsAscii(framing) ? AsciiFrameBytes(LastRequest) : LastRequest;
  if (request.size() < r + 5 + trailer || request[r + 1] != kEncapsulatedInterface ||
      request[r + 2] != kMeiReadDeviceId)
    return;
  const auto start = static_cast<size_t>(s) + 1;
  if (s < 0 || answer.size() < start + trailer) return;
  const std::span<const uint8_t> pdu(answer.data() + start, answer.size() - start - trailer);
  const std::optional<DeviceIdAnswer> parsed = ParseDeviceId(pdu);
  const int32_t readCode = request[r + 3];
  // An individual object never follows on; a stream follows from the next object.
  if (!parsed || !parsed->moreFollows || readCode == 4) return;
  if (DeviceIdRounds + 1 >= kMaxDeviceIdRounds) {
    Log("Device identification stopped after " + std::to_string(kMaxDeviceIdRounds) +
            " requests: the device still says more follows (next object ID " +
            PadNumber(parsed->nextObjectId, 2, true) + ")",
        LogColorInfo);
    return;
  }
  RequestValues rq;
  // The next request goes out in the mode of the panel now.
  rq.mode = ModeOf(Mode);
  rq.slave = request[r];
  rq.function = kEncapsulatedInterface;
  rq.readCode = readCode;
  rq.objectId = parsed->nextObjectId;
  std::vector<Frame> frames;
  int32_t id = TransactionID;
  if (BuildRequestFrames(rq, id, frames) != BuildResult::Built) return;
  TransactionID = id;
  ++DeviceIdRounds;
  for (const Frame& frame : frames) PushRequest(frame);
}
