// Panel-to-request composition (the frames themselves come from the Modbus
// layer's builders), with these mends: composition
// refuses, with a beep and one red log row and without pushing any frame,
//   - a slave (txtUnitID) that is not a number from 0 to 255 (empty is slave 0),
//   - an address (txtAddr) that is neither decimal nor "0x" and hex digits,
//   - a 32- or 64-bit value written with function 06 or 16 whose last
//     register would lie beyond 65535 (the address would wrap to 0),
//   - a write or read of 15 or 23 running past address 65535 (the builder's
//     refusal).
// Send and the request preview share one composition (ComposeForm); only Send
// pushes, beeps, logs and moves TransactionID on.
#include <optional>
#include <string>
#include <vector>

#include "common/module1.h"
#include "common/number_text.h"
#include "modbus/address_notation.h"
#include "modbus/ascii_framing.h"
#include "modbus/convert.h"
#include "modbus/formats.h"
#include "modbus/requests.h"
#include "panel/frmMain.h"
#include "presentation/log_record.h"

using namespace modbus;

namespace {

constexpr const char* kErrorClass = "Communication Error";

// The typed quantity: a whole number, 0 when not a number or outside the Long range.
int32_t QuantityOf(const std::string& text) { return ParseLong(TrimBlank(text)).value_or(0); }

}  // namespace

bool frmMain::Format2B() { return modbus::Format2B(cmbFormat.ListIndex()); }

bool frmMain::ComposeForm(std::vector<Frame>& out, std::string& refusal, int32_t& transactionId) {
  modbus::RequestValues rq;
  rq.mode = modbus::ModeOf(Mode);
  rq.function = GetCmd();
  if (!modbus::IsComposable(rq.function)) return true;

  // Slave: empty is slave 0; otherwise a whole number from 0 to 255.
  {
    const std::string text = TrimBlank(txtUnitID.Text());
    if (!text.empty()) {
      const std::optional<int32_t> v = ParseLong(text);
      if (!v || *v < 0 || *v > 255) {
        refusal = "Invalid slave address \"" + text + "\": a slave address is a number from 0 to 255";
        return false;
      }
      rq.slave = *v;
    }
  }

  // Address in the register-number or reference notation: converted to the
  // protocol address; a reference of another table than the command's reads
  // that table (Send also selects its command).
  if (!UsesAddress(rq.function)) {
    // 07, 08, 17 and 43/14 carry no address: the field is not read.
  } else if (Addresses() != modbus::AddressNotation::Protocol) {
    const modbus::TypedAddress typed = modbus::ParseAddress(Addresses(), txtAddr.Text());
    if (!typed.Ok()) {
      const std::string text = TrimBlank(txtAddr.Text());
      refusal = text.empty() ? std::string("Invalid address: the start address is empty")
                             : "Invalid address \"" + text + "\": " + typed.refusal;
      return false;
    }
    rq.address = typed.protocol;
    if (typed.table && modbus::TableOf(rq.function) != typed.table) {
      rq.function = modbus::ReadFunctionOf(*typed.table);
    }
  } else if (!modbus::IsValidAddressText(txtAddr.Text())) {
    // Address: decimal, or "0x" and hexadecimal digits.
    const std::string text = TrimBlank(txtAddr.Text());
    refusal = text.empty() ? std::string("Invalid address: the start address is empty")
                           : "Invalid address \"" + text +
                                 "\": an address is a decimal number or 0x followed by hexadecimal digits";
    return false;
  } else {
    rq.address = modbus::StringToLong(txtAddr.Text());
  }
  rq.value = modbus::StringToDouble(txtValue.Text());
  rq.valueText = txtValue.Text();
  rq.quantity = QuantityOf(txtQuantity.Text());
  rq.format = static_cast<modbus::Format>(cmbFormat.ListIndex());
  if (!ReadCommandFields(rq, refusal)) return false;

  std::string valueRefusal;
  switch (modbus::BuildRequestFrames(rq, transactionId, out, &valueRefusal)) {
    case modbus::BuildResult::SecondRegisterOutOfRange:
      if (modbus::Is64Bit(rq.format)) {
        const int32_t a = rq.address & 0xFFFF;
        refusal = "Address out of range: a 64-bit value at " + std::to_string(a) + " needs registers " +
                  std::to_string(a) + " to " + std::to_string(a + 3);
      } else {
        refusal = "Address out of range: a 32-bit value at 65535 needs registers 65535 and 65536";
      }
      return false;
    case modbus::BuildResult::ValueRefused:
    case modbus::BuildResult::Refused:
      refusal = valueRefusal;
      return false;
    case modbus::BuildResult::Built:
      break;
  }
  return true;
}

void frmMain::GetBytesOfForm() {
  DeviceIdRounds = 0;
  ApplyReferenceCommand();
  std::vector<Frame> frames;
  std::string refusal;
  int32_t id = TransactionID;
  if (!ComposeForm(frames, refusal, id)) {
    // Refused: a beep and one red row, no frame, the identifier unchanged.
    if (platform_.beeper) platform_.beeper->Beep();
    LogError(kErrorClass, refusal);
    return;
  }
  TransactionID = id;
  for (const Frame& frame : frames) PushRequest(frame);
}

namespace {
std::string PreviewText(const std::vector<Frame>& frames, bool ascii) {
  // ASCII frames are shown as their characters (CR and LF named), the
  // others as hex bytes.
  std::string text;
  for (const Frame& frame : frames) {
    if (!text.empty()) text += " | ";
    if (!ascii) {
      text += PlainHex(frame);
      continue;
    }
    for (uint8_t c : frame) {
      if (c == '\r') {
        text += "<CR>";
      } else if (c == '\n') {
        text += "<LF>";
      } else {
        text += static_cast<char>(c);
      }
    }
  }
  return text;
}

// Why a raw request of `text` is refused, or "" when it is not.
std::string RawRequestRefusal(const std::string& text) {
  const size_t length = modbus::CodePointCount(text);
  if (length <= modbus::kMaxHexTextChars) return {};
  return "Raw request too long: " + std::to_string(length) + " characters, at most " +
         std::to_string(modbus::kMaxHexTextChars);
}
}  // namespace

void frmMain::GetBytesOfHexInput() {
  DeviceIdRounds = 0;
  if (const std::string refusal = RawRequestRefusal(txtHEX.Text()); !refusal.empty()) {
    // Refused as the form's refusals are: a beep and one red row, no frame.
    if (platform_.beeper) platform_.beeper->Beep();
    LogError(kErrorClass, refusal);
    return;
  }
  // In ASCII framing the bytes typed (slave to LRC) go out as characters;
  // none typed put nothing on the wire, as in the other framings.
  const Frame bytes = modbus::HexToBytes(txtHEX.Text());
  if (modbus::IsAscii(modbus::ModeOf(Mode)) && !bytes.empty()) {
    const std::string chars = modbus::AsciiCharacters(bytes);
    PushRequest(Frame(chars.begin(), chars.end()));
    return;
  }
  PushRequest(bytes);
}

std::string frmMain::PreviewRequest() {
  const bool ascii = modbus::IsAscii(modbus::ModeOf(Mode));
  std::vector<Frame> frames;
  if (HexView) {
    if (std::string refusal = RawRequestRefusal(txtHEX.Text()); !refusal.empty()) return refusal;
    const Frame typed = modbus::HexToBytes(txtHEX.Text());
    if (!ascii || typed.empty()) return PlainHex(typed);
    const std::string chars = modbus::AsciiCharacters(typed);
    frames.emplace_back(chars.begin(), chars.end());
    return PreviewText(frames, true);
  }
  // A value its field would refuse is named with its range, rather than shown
  // as the wrapped value the frame would carry.
  // (Address text that is no number at all gets composition's own refusal.)
  const int16_t cmd = GetCmd();
  if (modbus::IsComposable(cmd) && UsesAddress(cmd) && modbus::IsValidAddressText(txtAddr.Text()))
    if (std::string reason = RefusalOf(txtAddr); !reason.empty()) return reason;
  // The quantity is read by the reads, 15 and 23 only.
  if ((cmd >= 1 && cmd <= 4) || cmd == 15 || cmd == 23)
    if (std::string reason = RefusalOf(txtQuantity); !reason.empty()) return reason;
  std::string refusal;
  int32_t id = TransactionID;
  if (!ComposeForm(frames, refusal, id)) return refusal;
  return PreviewText(frames, ascii);
}
