// Fuzz target for the input fields. The input chooses the mode, then a script
// of steps:
//   - any 16-bit key code into any field's key filter: the code comes back
//     as 0 (with one beep), unchanged, or upper-cased a..f, exactly as the
//     field's character set says; the field and the log are not touched;
//   - any text into any field with a value check: the text is never changed,
//     a refusal beeps once, and plain numbers are judged by the field's range;
//   - any raw text in HEX view through Send: exactly the bytes typed go out,
//     in every mode (in the ASCII ones as their characters, framed by ':' and
//     CR LF, no LRC added), and the request row shows what went out;
//   - the clipboard keys of the response view and the log pane with any key
//     code, shift state, selection, lock and clipboard content, while the
//     wait inside them lets events run (the log grows, the view changes,
//     bytes arrive): the selection, text and clipboard end as the key says.
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "common/module1.h"
#include "fakes/fake_platform.h"
#include "modbus/ascii_framing.h"
#include "modbus/types.h"
#include "panel/frmMain.h"

namespace {

void Require(bool ok) {
  if (!ok) __builtin_trap();
}

constexpr size_t kMaxInput = 4096;
constexpr int kMaxSteps = 200;
constexpr int kTimeoutMs = 50;

class Input {
 public:
  Input(const uint8_t* d, size_t n) : d_(d), n_(n) {}
  bool Empty() const { return i_ >= n_; }
  uint8_t Byte() { return i_ < n_ ? d_[i_++] : 0; }
  int16_t Int16() { return static_cast<int16_t>(static_cast<uint16_t>(Byte() << 8 | Byte())); }
  std::string Text(size_t maxLen) {
    const size_t len = Byte() % (maxLen + 1);
    std::string s;
    for (size_t k = 0; k < len && i_ < n_; ++k) s.push_back(static_cast<char>(d_[i_++]));
    return s;
  }

 private:
  const uint8_t* d_;
  size_t n_;
  size_t i_ = 0;
};

struct Session {
  fakes::FakePlatform fp;
  frmMain f{fp.Bundle()};
  int16_t mode = 0;

  bool OnSerial() const { return !modbus::IsSocketMode(modbus::ModeOf(mode)); }
};

// ---- key filters -----------------------------------------------------------------

constexpr std::string_view kControlKeys{"\x08\x03\x16\x18"};
constexpr std::string_view kDigits = "0123456789";
constexpr std::string_view kDecimal = "0123456789.,-";

struct Filter {
  void (frmMain::*handler)(int16_t&);
  TextField frmMain::*field;
  std::string_view accepted;
  bool upperHex;
};

const Filter kFilters[] = {
    {&frmMain::txtUnitID_KeyPress, &frmMain::txtUnitID, kDigits, false},
    {&frmMain::txtAddr_KeyPress, &frmMain::txtAddr, "0123456789ABCDEFabcdefx", true},
    {&frmMain::txtQuantity_KeyPress, &frmMain::txtQuantity, kDigits, false},
    {&frmMain::txtValue_KeyPress, &frmMain::txtValue, kDecimal, false},
    {&frmMain::txtHEX_KeyPress, &frmMain::txtHEX, "abcdefABCDEF0123456789 ", true},
    {&frmMain::txtTcpPort_KeyPress, &frmMain::txtTcpPort, kDigits, false},
    {&frmMain::txtTcpTimeout_KeyPress, &frmMain::txtTcpTimeout, kDigits, false},
    {&frmMain::txtRtuTimeout_KeyPress, &frmMain::txtRtuTimeout, kDecimal, false},
    {&frmMain::txtPollInterval_KeyPress, &frmMain::txtPollInterval, kDigits, false},
};

void KeyPress(Session& s, Input& in) {
  frmMain& f = s.f;
  const Filter& filter = kFilters[in.Byte() % std::size(kFilters)];
  // Mostly printable and control characters, sometimes any 16-bit code.
  const uint8_t pick = in.Byte();
  const int16_t key = pick < 224 ? static_cast<int16_t>(pick & 0x7F) : in.Int16();

  const TextBox& field = f.*filter.field;
  const std::string text = field.Text();
  const std::string log = f.txtLog.Text();
  const int beeps = s.fp.beeper->count;

  int16_t code = key;
  (f.*filter.handler)(code);

  const bool inSet = key > 0 && key < 128 &&
                     (filter.accepted.find(static_cast<char>(key)) != std::string_view::npos ||
                      kControlKeys.find(static_cast<char>(key)) != std::string_view::npos);
  int16_t expected = inSet ? key : 0;
  if (inSet && filter.upperHex && key >= 'a' && key <= 'f') expected = static_cast<int16_t>(key - 'a' + 'A');
  Require(code == expected);
  Require(code == 0 || code == key || (key >= 'a' && key <= 'f' && code == key - 'a' + 'A'));
  Require(s.fp.beeper->count == beeps + (code == 0 ? 1 : 0));
  Require(field.Text() == text && f.txtLog.Text() == log);
}

// ---- value checks -------------------------------------------------------------------

std::string Trim(std::string_view s) {
  const size_t first = s.find_first_not_of(" \r\n");
  if (first == std::string_view::npos) return {};
  return std::string(s.substr(first, s.find_last_not_of(" \r\n") - first + 1));
}

// Decimal digits only (at most nine): the value; anything else: nothing.
std::optional<int32_t> Digits(const std::string& t) {
  if (t.empty() || t.size() > 9 || t.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  return static_cast<int32_t>(std::stol(t));
}

bool IsHexAddress(const std::string& t) {
  return t.size() > 2 && t[0] == '0' && t[1] == 'x' &&
         t.find_first_not_of("0123456789ABCDEFabcdef", 2) == std::string::npos;
}

struct Check {
  void (frmMain::*handler)(bool&);
  TextField frmMain::*field;
};

const Check kChecks[] = {
    {&frmMain::txtUnitID_Validate, &frmMain::txtUnitID},
    {&frmMain::txtAddr_Validate, &frmMain::txtAddr},
    {&frmMain::txtQuantity_Validate, &frmMain::txtQuantity},
    {&frmMain::txtTcpPort_Validate, &frmMain::txtTcpPort},
    {&frmMain::txtTcpTimeout_Validate, &frmMain::txtTcpTimeout},
    {&frmMain::txtRtuTimeout_Validate, &frmMain::txtRtuTimeout},
    {&frmMain::txtPollInterval_Validate, &frmMain::txtPollInterval},
};

void Validate(Session& s, Input& in) {
  frmMain& f = s.f;
  const size_t which = in.Byte() % std::size(kChecks);
  const Check& check = kChecks[which];
  TextBox& field = f.*check.field;
  field.SetText(in.Text(24));
  if (&field == &f.txtQuantity) f.cmbCmd.SetListIndex(in.Byte() % 15 - 1);

  const std::string text = field.Text();
  const std::string log = f.txtLog.Text();
  const int beeps = s.fp.beeper->count;
  const int pollInterval = f.tmrAuto.Interval();
  bool cancel = false;
  (f.*check.handler)(cancel);

  Require(field.Text() == text && f.txtLog.Text() == log);
  Require(s.fp.beeper->count == beeps + (cancel ? 1 : 0));

  // Plain whole numbers (and the hexadecimal addresses) are judged here.
  const std::string t = Trim(text);
  const std::optional<int32_t> v = Digits(t);
  std::optional<bool> ok;
  if (&field == &f.txtAddr) {
    if (t.empty()) ok = false;
    if (IsHexAddress(t)) ok = true;
    if (v) ok = *v <= 65535;
  } else if (v) {
    if (&field == &f.txtUnitID) ok = *v >= 1 && *v <= 247;
    if (&field == &f.txtQuantity) {
      // Bits read: 2000; coils written (15): 1968; registers read: 125, counted in values of the
      // format for 03 and 04; any other command: 125.
      const int cmd = f.GetCmd();
      const int per = modbus::RegistersPerValue(static_cast<modbus::Format>(f.cmbFormat.ListIndex()));
      const int max = cmd == 1 || cmd == 2 ? 2000 : cmd == 15 ? 1968 : cmd == 3 || cmd == 4 ? 125 / per : 125;
      ok = *v >= 1 && *v <= max;
    }
    if (&field == &f.txtTcpPort || &field == &f.txtTcpTimeout || &field == &f.txtRtuTimeout)
      ok = *v >= 1 && *v <= 65535;
    if (&field == &f.txtPollInterval) ok = *v >= 100 && *v <= 65535;
  } else if (t.empty() && &field != &f.txtAddr) {
    ok = false;  // an empty text counts as 0
  }
  if (ok) Require(cancel == !*ok);
  // A poll interval that passes is taken at once; one refused changes nothing.
  if (&field == &f.txtPollInterval && v) Require(f.tmrAuto.Interval() == (cancel ? pollInterval : *v));
}

// ---- raw requests ---------------------------------------------------------------------

// The bytes of a raw hex text: pairs of hex digits, a lone digit before any
// other character is a byte of its own.
Frame BytesOf(std::string_view text) {
  Frame out;
  int value = 0, digits = 0;
  for (char c : text) {
    int d = -1;
    if (c >= '0' && c <= '9') d = c - '0';
    if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    if (d >= 0) {
      value = value * 16 + d;
      if (++digits < 2) continue;
    } else if (digits == 0) {
      continue;
    }
    out.push_back(static_cast<uint8_t>(value));
    value = digits = 0;
  }
  if (digits == 1) out.push_back(static_cast<uint8_t>(value));
  return out;
}

void HexSend(Session& s, Input& in) {
  frmMain& f = s.f;
  const std::string text = in.Text(64);
  f.txtHEX.SetText(text);
  f.optHEX.SetValue(true);
  // The value checks may have left anything in the time-out fields.
  f.txtTcpTimeout.SetText(std::to_string(kTimeoutMs));
  f.txtRtuTimeout.SetText(std::to_string(kTimeoutMs));
  const size_t wire = s.fp.socket->sent.size() + s.fp.serial->written.size();
  f.cmdSend_Click();
  if (!s.OnSerial() && s.fp.socket->state == platform::TcpSocket::kConnecting) s.fp.socket->AcceptConnect();

  // Exactly the bytes typed: no header, no checksum; in ASCII framing their
  // characters.
  const Frame typed = BytesOf(text);
  Frame bytes = typed;
  if (modbus::IsAscii(modbus::ModeOf(s.mode)) && !typed.empty()) {
    const std::string chars = modbus::AsciiCharacters(typed);
    bytes.assign(chars.begin(), chars.end());
  }
  Require(f.AwaitingResponse && f.LastRequest == bytes);
  const size_t now = s.fp.socket->sent.size() + s.fp.serial->written.size();
  Require(now == wire + (bytes.empty() ? 0 : 1));
  if (!bytes.empty()) Require((s.OnSerial() ? s.fp.serial->written.back() : s.fp.socket->sent.back()) == bytes);
  const std::string row = "Request  --> " + ToLogHexString(bytes) + "\r\n";
  const std::string& log = f.txtLog.Text();
  Require(log.size() >= row.size() && log.compare(log.size() - row.size(), row.size(), row) == 0);

  // No answer: the time-out ends it.
  s.fp.clock->Advance(kTimeoutMs + 1);
  Require(!f.AwaitingResponse);
}

// ---- clipboard keys --------------------------------------------------------------------

constexpr int16_t kCtrl = 2;
constexpr int16_t kKeys[] = {65, 67, 86, 88};  // A, C, V, X

void ClipboardKey(Session& s, Input& in) {
  frmMain& f = s.f;
  const bool onLog = in.Byte() & 1;
  TextBox& box = onLog ? static_cast<TextBox&>(f.txtLog) : static_cast<TextBox&>(f.txtResponse);
  const uint8_t setup = in.Byte();
  box.SetLocked(!(setup & 1));
  if (setup & 2) s.fp.clipboard->text = in.Text(16);
  // What runs while the key waits for the clipboard: nothing, a new log row,
  // a new view text, or bytes arriving.
  const int pumpAction = (setup >> 2) & 3;
  const std::string pumpText = in.Text(12);
  int pumps = 0;
  s.fp.events->onPump = [&] {
    if (++pumps > 4) return;
    if (pumpAction == 1) f.Log("pump " + pumpText, LogColorInfo);
    if (pumpAction == 2) f.txtResponse.SetText(pumpText);
    if (pumpAction == 3) {
      const Frame bytes(pumpText.begin(), pumpText.end());
      if (s.OnSerial())
        s.fp.serial->Deliver(bytes);
      else
        s.fp.socket->Deliver(bytes);
    }
  };

  const uint8_t k = in.Byte();
  const int16_t key = k < 192 ? kKeys[k % 4] : in.Int16();
  const uint8_t sh = in.Byte();
  const int16_t shift = sh < 192 ? kCtrl : in.Int16();
  box.Select(in.Int16(), in.Int16());

  const std::string text = box.Text();
  const int start = box.SelStart(), length = box.SelLength();
  Require(start >= 0 && length >= 0 && static_cast<size_t>(start) + static_cast<size_t>(length) <= text.size());
  const std::string selected = text.substr(static_cast<size_t>(start), static_cast<size_t>(length));
  const std::optional<std::string> clip = s.fp.clipboard->text;
  const int64_t t0 = s.fp.clock->MonotonicMs();

  if (onLog)
    f.txtLog_KeyDown(key, shift);
  else
    f.txtResponse_KeyDown(key, shift);
  s.fp.events->onPump = nullptr;

  const int64_t waited = s.fp.clock->MonotonicMs() - t0;
  const bool copyOrCut = shift == kCtrl && (key == 67 || (key == 88 && !box.Locked()));
  // The wait lets events run for a little over 100 ms, and only for copy and cut.
  Require(copyOrCut ? (waited > 100 && waited <= 200) : waited == 0);
  // Something else changed the field while it waited: only the bounds hold.
  const bool disturbed = copyOrCut && pumpAction != 0 && (onLog ? pumpAction == 1 || pumpAction == 3 : pumpAction == 2);
  if (disturbed) {
    Require(box.SelStart() >= 0 && box.SelLength() >= 0 &&
            static_cast<size_t>(box.SelStart() + box.SelLength()) <= box.Text().size());
    return;
  }

  if (shift != kCtrl || (key != 65 && key != 67 && key != 86 && key != 88) ||
      (box.Locked() && (key == 86 || key == 88))) {
    // Nothing happens.
    Require(box.Text() == text && s.fp.clipboard->text == clip);
    Require(box.SelStart() == start && box.SelLength() == length);
    return;
  }
  switch (key) {
    case 65:  // select all
      Require(box.Text() == text && s.fp.clipboard->text == clip);
      Require(box.SelStart() == 0 && static_cast<size_t>(box.SelLength()) == text.size());
      break;
    case 67:  // copy
      Require(box.Text() == text);
      Require(length > 0 ? s.fp.clipboard->text == selected : !s.fp.clipboard->text.has_value());
      break;
    case 88:  // cut
      Require(length > 0 ? s.fp.clipboard->text == selected : !s.fp.clipboard->text.has_value());
      Require(box.Text() == (length > 0 ? text.substr(0, static_cast<size_t>(start)) +
                                              text.substr(static_cast<size_t>(start + length))
                                        : text));
      break;
    default:  // paste
      Require(s.fp.clipboard->text == clip);
      if (clip)
        Require(box.Text() ==
                text.substr(0, static_cast<size_t>(start)) + *clip + text.substr(static_cast<size_t>(start + length)));
      else
        Require(box.Text() == text);
      break;
  }
}

// Every character of the log pane has its colour.
void CheckLogColours(const frmMain& f) {
  const size_t n = f.txtLog.Length();
  if (n > 0) Require(f.txtLog.ColorAt(n - 1) != 0);
  Require(f.txtLog.ColorAt(n) == 0);
  Require(f.LogLineCount <= 1000 && f.LogRecords().size() <= 1000);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return 0;
  Input in(data, size);
  Session s;
  frmMain& f = s.f;
  s.fp.ports->SetNames({"COM1"});
  f.Form_Load();
  s.mode = static_cast<int16_t>(in.Byte() % 5);
  f.cmbMode.SetListIndex(s.mode);
  f.txtTcpHost.SetText("127.0.0.1");
  f.txtTcpTimeout.SetText(std::to_string(kTimeoutMs));
  f.txtRtuTimeout.SetText(std::to_string(kTimeoutMs));

  for (int step = 0; step < kMaxSteps && !in.Empty(); ++step) {
    switch (in.Byte() % 8) {
      case 0:
      case 1:
        KeyPress(s, in);
        break;
      case 2:
      case 3:
        Validate(s, in);
        break;
      case 4:
        HexSend(s, in);
        break;
      case 5:
      case 6:
        ClipboardKey(s, in);
        break;
      default: {
        // The raw field keeps the toolkit's own keys: its handler changes nothing.
        f.txtResponse.SetText(in.Text(40));
        const std::string hex = f.txtHEX.Text();
        f.txtHEX_KeyDown(in.Int16(), in.Int16());
        Require(f.txtHEX.Text() == hex);
        break;
      }
    }
    CheckLogColours(f);
  }
  return 0;
}
