// Panel-to-request composition, with three mends: composition
// refuses, with a beep and one red log row and without pushing any frame,
//   - a slave (txtUnitID) that is not a number from 0 to 255 (empty is slave 0),
//   - an address (txtAddr) that is neither decimal nor "0x" and hex digits,
//   - a 32-bit value written with function 06 at register 65535, whose second
//     register would lie beyond 65535 (the text as written wraps it to 0).
// Send and the request preview share one composition (ComposeForm); only Send
// pushes, beeps, logs and moves TransactionID on.
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "codec/convert.h"
#include "common/module1.h"
#include "common/number_text.h"
#include "panel/frmMain.h"
#include "presentation/formats.h"

namespace {

constexpr const char* kErrorClass = "Communication Error";

// The value rounded half to even, as a Long. Beyond the Long range (left to the
// implementer) the whole number wraps like two's complement arithmetic, so a
// register gets the low 16 bits of the typed whole number, as inside the range.
int32_t WholeValue(double value) {
  const double r = RoundHalfEven(value);
  if (!std::isfinite(r)) return 0;
  if (r >= -2147483648.0 && r <= 2147483647.0) return static_cast<int32_t>(r);
  double m = std::fmod(r, 4294967296.0);
  if (m < 0) m += 4294967296.0;
  return static_cast<int32_t>(static_cast<uint32_t>(m));
}

// The four bytes (index 0 = D ... 3 = A) of a value in a 32-bit format, or
// nothing for an index that is not one.
std::optional<std::array<uint8_t, 4>> Encode32(int formatIndex, double value) {
  if (formatIndex >= 2 && formatIndex <= 5) return BytesOfFloat(value);
  if (formatIndex >= 10 && formatIndex <= 13) return BytesOfLong(value);
  if (formatIndex >= 6 && formatIndex <= 9) {
    if (value >= 0) return BytesOfLong(value);
    if (value >= -2147483648.0) return BytesOfLong(value + 4294967296.0);
    return std::array<uint8_t, 4>{0, 0, 0, 0};
  }
  return std::nullopt;
}

// The two registers of a 32-bit value by the byte order of the format's name.
std::pair<int32_t, int32_t> Registers(int formatIndex, const std::array<uint8_t, 4>& bytes) {
  const uint8_t A = bytes[3], B = bytes[2], C = bytes[1], D = bytes[0];
  switch ((formatIndex - 2) % 4) {
    case 0:  // ABCD
      return {Uint16(A, B), Uint16(C, D)};
    case 1:  // CDAB
      return {Uint16(C, D), Uint16(A, B)};
    case 2:  // BADC
      return {Uint16(B, A), Uint16(D, C)};
    default:  // DCBA
      return {Uint16(D, C), Uint16(B, A)};
  }
}

// The typed quantity: a whole number, 0 when not a number or outside the Long range.
int32_t QuantityOf(const std::string& text) { return ParseLong(TrimBlank(text)).value_or(0); }

// The frames of the form, built with the panel's builders (which count
// f.TransactionID on). False with the reason when a field stops them.
bool BuildFormFrames(frmMain& f, std::vector<Frame>& out, std::string& refusal) {
  const int16_t cmd = f.GetCmd();
  if (cmd != 1 && cmd != 2 && cmd != 3 && cmd != 4 && cmd != 5 && cmd != 6 && cmd != 16) return true;

  auto refuse = [&refusal](const std::string& message) {
    refusal = message;
    return false;
  };

  // Slave: empty is slave 0; otherwise a whole number from 0 to 255.
  int16_t slave = 0;
  {
    const std::string text = TrimBlank(f.txtUnitID.Text());
    if (!text.empty()) {
      const std::optional<int32_t> v = ParseLong(text);
      if (!v || *v < 0 || *v > 255)
        return refuse("Invalid slave address \"" + text + "\": a slave address is a number from 0 to 255");
      slave = static_cast<int16_t>(*v);
    }
  }

  // Address: decimal, or "0x" and hexadecimal digits.
  if (!IsValidAddressText(f.txtAddr.Text())) {
    const std::string text = TrimBlank(f.txtAddr.Text());
    return refuse(text.empty() ? std::string("Invalid address: the start address is empty")
                               : "Invalid address \"" + text +
                                     "\": an address is a decimal number or 0x followed by hexadecimal digits");
  }
  const int32_t addr = StringToLong(f.txtAddr.Text());

  const double value = StringToDouble(f.txtValue.Text());
  const int32_t quantity = QuantityOf(f.txtQuantity.Text());
  const bool oneRegister = f.Format2B();
  const int formatIndex = f.cmbFormat.ListIndex();
  // The quantity counts values; a 32-bit value takes two registers. Wraps like
  // the Long it is (only its low 16 bits reach the wire).
  const int32_t registerCount = oneRegister ? quantity : static_cast<int32_t>(static_cast<uint32_t>(quantity) * 2u);

  switch (cmd) {
    case 1:
    case 2:
      out.push_back(f.GetReadRequestData(slave, cmd, addr, quantity));
      return true;
    case 3:
    case 4:
      out.push_back(f.GetReadRequestData(slave, cmd, addr, registerCount));
      return true;
    case 5:
      // On for any value whose whole number is not 0 (even beyond the Long range).
      out.push_back(f.GetWriteSingleCoilRequestData(slave, 5, addr, RoundHalfEven(value) != 0.0 ? 1 : 0));
      return true;
    default:
      break;
  }

  if (oneRegister) {
    if (cmd == 6) {
      out.push_back(f.GetWriteSingleRegisterRequestData(slave, 6, addr, WholeValue(value)));
    } else {
      out.push_back(f.GetWriteMultipleRegisterRequestData(slave, 16, addr, 1, WholeValue(value), 0));
    }
    return true;
  }

  const std::optional<std::array<uint8_t, 4>> bytes = Encode32(formatIndex, value);
  if (!bytes) return true;
  const auto [first, second] = Registers(formatIndex, *bytes);
  if (cmd == 6) {
    // Two single-register writes at Addr and Addr + 1: both must be registers.
    if ((addr & 0xFFFF) == 0xFFFF)
      return refuse("Address out of range: a 32-bit value at 65535 needs registers 65535 and 65536");
    out.push_back(f.GetWriteSingleRegisterRequestData(slave, 6, addr, first));
    out.push_back(f.GetWriteSingleRegisterRequestData(slave, 6, addr + 1, second));
  } else {
    out.push_back(f.GetWriteMultipleRegisterRequestData(slave, 16, addr, 2, first, second));
  }
  return true;
}

}  // namespace

bool frmMain::Format2B() { return ::Format2B(cmbFormat.ListIndex()); }

bool frmMain::ComposeForm(std::vector<Frame>& out, std::string& refusal, int32_t& transactionId) {
  // The builders count TransactionID on: they count the caller's copy here.
  const int32_t saved = TransactionID;
  TransactionID = transactionId;
  std::vector<Frame> frames;
  const bool built = BuildFormFrames(*this, frames, refusal);
  transactionId = TransactionID;
  TransactionID = saved;
  if (!built) return false;
  out.insert(out.end(), frames.begin(), frames.end());
  return true;
}

void frmMain::GetBytesOfForm() {
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

void frmMain::GetBytesOfHexInput() { PushRequest(HexToBytes(txtHEX.Text())); }

std::string frmMain::PreviewRequest() {
  if (HexView) return PlainHex(HexToBytes(txtHEX.Text()));
  std::vector<Frame> frames;
  std::string refusal;
  int32_t id = TransactionID;
  if (!ComposeForm(frames, refusal, id)) return refusal;
  std::string text;
  for (const Frame& frame : frames) {
    if (!text.empty()) text += " | ";
    text += PlainHex(frame);
  }
  return text;
}
