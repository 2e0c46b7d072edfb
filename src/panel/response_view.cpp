// The response view, with its mends:
//   - a response whose function code (bit 7 removed) differs from the
//     request's shows nothing new: the view, its grey state and lblDT stay;
//   - a line is shown only when every byte it is made of is present: in the
//     response (in RTU framing the last two bytes are the CRC, never data)
//     and, for the request's fields it uses, in LastRequest. No missing byte is
//     ever shown as 0, whatever the byte count claims;
//   - the response time is measured on the monotonic clock from
//     RequestStartMono, and is never negative.
#include <algorithm>
#include <string>
#include <vector>

#include "common/module1.h"
#include "modbus/ascii_framing.h"
#include "modbus/convert.h"
#include "modbus/formats.h"
#include "modbus/pdu_ext.h"
#include "panel/frmMain.h"
#include "presentation/register_decoding.h"

using namespace modbus;

namespace {

// The most registers one read answer carries (a byte count of 255).
constexpr size_t kMaxInspectedRegisters = 127;

// The number of lines of the view's text.
int32_t LineCount(const std::string& text) {
  if (text.empty()) return 0;
  int32_t n = 1;
  for (size_t p = text.find("\r\n"); p != std::string::npos; p = text.find("\r\n", p + 2)) ++n;
  return n;
}

struct Row {
  int32_t address;
  std::string value;
};

// The table tag of a function code, "" for any other.
std::string TableTag(int fc) {
  switch (fc) {
    case 1:
    case 5:
      return "CL";
    case 2:
      return "DI";
    case 3:
    case 6:
    case 16:
      return "HR";
    case 4:
      return "IR";
    default:
      return "";
  }
}

// The bytes of a frame that are present, with a bounds check on every read.
class Bytes {
 public:
  // `end`: one past the last index that counts (the CRC excluded).
  Bytes(const Frame& f, long long end) : f_(f), end_(std::clamp<long long>(end, 0, static_cast<long long>(f.size()))) {}
  // True when indexes first .. first + count - 1 are all present.
  bool Has(long long first, long long count = 1) const { return first >= 0 && count >= 0 && first + count <= end_; }
  uint8_t operator[](long long i) const { return i < end_ ? ByteAt(f_, i) : 0; }
  int32_t Word(long long i) const { return Uint16((*this)[i], (*this)[i + 1]); }
  long long End() const { return end_; }

 private:
  const Frame& f_;
  long long end_;
};

}  // namespace

void frmMain::AddResponseLine(const std::string& text) {
  std::string t = txtResponse.Text();
  if (!t.empty()) t += "\r\n";
  t += text;
  txtResponse.SetText(t);
}

int64_t frmMain::ResponseElapsedMs() const {
  if (!platform_.clock) return 0;
  return std::max<int64_t>(0, platform_.clock->MonotonicMs() - RequestStartMono);
}

int32_t frmMain::ResponseRegisterIndex(int line) const {
  if (ResponseRegisters.empty() || line < ResponseRegistersFirstLine) return -1;
  const long long index = static_cast<long long>(line - ResponseRegistersFirstLine) * ResponseRegistersPerLine;
  // A 32-bit line shows two registers: both must be there.
  const long long last = index + ResponseRegistersPerLine - 1;
  if (last >= static_cast<long long>(ResponseRegisters.size())) return -1;
  return static_cast<int32_t>(index);
}

std::vector<InspectorRow> frmMain::InspectResponseLine(int line) const {
  const int32_t i = ResponseRegisterIndex(line);
  if (i < 0) return {};
  const auto k = static_cast<size_t>(i);
  // The clicked register and up to three after it (the 64-bit rows read four).
  std::vector<RegisterBytes> following;
  for (size_t j = k + 1; j < ResponseRegisters.size() && following.size() < 3; ++j) {
    following.push_back(ResponseRegisters[j].bytes);
  }
  return InspectRegisters(ResponseRegisters[k].bytes, following,
                          platform_.locale ? platform_.locale->DecimalSeparator() : std::string("."));
}

std::optional<int32_t> frmMain::ResponseLineAddress(int line) const {
  const int32_t i = ResponseRegisterIndex(line);
  if (i < 0) return std::nullopt;
  return ResponseRegisters[static_cast<size_t>(i)].address;
}

void frmMain::ShowResponse(const Frame& frame, int16_t s) { ShowResponse(frame, s, modbus::ModeOf(Mode)); }

void frmMain::ShowResponse(const Frame& frame, int16_t s, modbus::Mode mode) {
  const long long r = modbus::SlaveOffset(mode);
  // The CRC (RTU) or LRC (ASCII) at the end is not data. In ASCII framing the
  // request is read as the binary frame its characters carry, as the answer is.
  const long long t = modbus::TrailerSize(mode);
  const Frame request = modbus::IsAscii(mode) ? modbus::AsciiFrameBytes(LastRequest) : LastRequest;
  const Bytes rsp(frame, static_cast<long long>(frame.size()) - t);
  const Bytes req(request, static_cast<long long>(request.size()) - t);

  // A response to another function shows nothing new.
  if (s < 0 || !rsp.Has(s + 1) || !req.Has(r + 1)) return;
  const int fc = req[r + 1];
  if ((rsp[s + 1] & 0x7F) != fc) return;

  // 1. A greyed view is emptied; the view shows the latest answer.
  if (!txtResponse.Enabled()) {
    txtResponse.SetText("");
    ResponseRegisters.clear();
  }
  txtResponse.SetEnabled(true);

  // 2. The response time on the monotonic clock, never negative.
  lblDT.SetCaption(std::to_string(ResponseElapsedMs()) + " ms");
  lblDT.SetForeColor(kColorButtonText);

  // 3./4. Address style and text.
  // Written in the chosen notation (reference numbers name the function's table).
  const bool hexStyle = (HexView || IsHex(txtAddr.Text())) && Addresses() != AddressNotation::Reference;
  auto addressText = [this, hexStyle, fc](int32_t a) { return NotationAddressText(fc, a, hexStyle); };
  const std::string tag = TableTag(fc);

  // 5. The lines.
  std::vector<Row> rows;
  std::vector<ResponseRegister> registers;
  switch (fc) {
    case 5:
      if (rsp.Has(s + 2, 4)) {
        const bool on = rsp[s + 4] == 255 && rsp[s + 5] == 0;
        AddResponseLine("CL " + addressText(rsp.Word(s + 2)) + " <- " + (on ? "1" : "0"));
      }
      return;
    case 6:
      if (rsp.Has(s + 2, 4)) {
        AddResponseLine("HR " + addressText(rsp.Word(s + 2)) + " <- " + std::to_string(rsp.Word(s + 4)));
      }
      return;
    case 16: {
      if (!rsp.Has(s + 2, 4)) return;
      const int32_t n = rsp.Word(s + 4);
      const int32_t a = rsp.Word(s + 2);
      // A line per register the slave confirms whose value the request
      // carried: the first two, and all four of a 64-bit value written in a
      // 64-bit format (a raw request writing more still shows its first two).
      const bool wide = n == 4 && Is64Bit(static_cast<Format>(cmbFormat.ListIndex()));
      const int32_t lines = wide ? 4 : std::min<int32_t>(n, 2);
      for (int32_t i = 0; i < lines && req.Has(r + 7 + 2LL * i, 2); ++i) {
        AddResponseLine("HR " + addressText(a + i) + " <- " + std::to_string(req.Word(r + 7 + 2LL * i)));
      }
      return;
    }
    case 3:
    case 4: {
      if (!rsp.Has(s + 2) || !req.Has(r + 2, 2)) break;
      const int32_t start = req.Word(r + 2);
      // The values the byte count announces, as far as their bytes are present.
      const long long b = std::min<long long>(rsp[s + 2], rsp.End() - (s + 3));
      // The inspector reads the registers of the lines about to be added.
      registers.clear();
      for (long long i = 0; 2 * i + 1 < b && registers.size() < kMaxInspectedRegisters; ++i) {
        const long long g = s + 3 + 2 * i;
        registers.push_back({start + static_cast<int32_t>(i), {rsp[g], rsp[g + 1]}});
      }
      const auto format = static_cast<Format>(cmbFormat.ListIndex());
      const std::string separator = platform_.locale ? platform_.locale->DecimalSeparator() : std::string(".");
      if (Is32Bit(format)) {
        const int formatIndex = cmbFormat.ListIndex();
        for (long long i = 0; 4 * i + 3 < b; ++i) {
          const long long g = s + 3 + 4 * i;
          const double v = DecodeFormat32(formatIndex, rsp[g], rsp[g + 1], rsp[g + 2], rsp[g + 3]);
          rows.push_back({start + 2 * static_cast<int32_t>(i), FormatValueText(v, separator)});
        }
      } else if (KindOf(format) != ValueKind::None) {
        // One value per RegistersPerValue registers, all of whose bytes are present.
        const long long size = 2LL * RegistersPerValue(format);
        for (long long i = 0; size * (i + 1) <= b; ++i) {
          uint8_t wire[8] = {};
          for (long long j = 0; j < size; ++j) wire[j] = rsp[s + 3 + size * i + j];
          rows.push_back({start + static_cast<int32_t>(i * (size / 2)),
                          WideValueText(format, wire, static_cast<size_t>(size), separator)});
        }
      }
      break;
    }
    case 1:
    case 2: {
      if (!rsp.Has(s + 2) || !req.Has(r + 2, 4)) break;
      const int32_t start = req.Word(r + 2);
      const size_t quantity = static_cast<size_t>(req.Word(r + 4));
      const long long b = std::min<long long>(rsp[s + 2], rsp.End() - (s + 3));
      for (long long i = 0; i < b && rows.size() < quantity; ++i) {
        const uint8_t data = rsp[s + 3 + i];
        for (int j = 0; j < 8 && rows.size() < quantity; ++j) {
          rows.push_back({start + static_cast<int32_t>(8 * i + j), ((data >> j) & 1) ? "1" : "0"});
        }
      }
      break;
    }
    case 7:
    case 8:
    case 15:
    case 17:
    case 22:
    case 23:
    case 43: {
      // The further commands: the lines of the answer's PDU (and the request's),
      // only the bytes present, the CRC or LRC excluded.
      if (!rsp.Has(s + 1) || !req.Has(r + 1)) return;
      const std::span<const uint8_t> rspPdu(frame.data() + s + 1, static_cast<size_t>(rsp.End() - (s + 1)));
      const std::span<const uint8_t> reqPdu(request.data() + r + 1, static_cast<size_t>(req.End() - (r + 1)));
      for (const std::string& line : ResponseLines(reqPdu, rspPdu, addressText)) AddResponseLine(line);
      return;
    }
    default:
      break;
  }

  // 6. One line per row, the values padded to the longest.
  if (rows.empty()) return;
  if (!registers.empty()) {
    ResponseRegisters = std::move(registers);
    ResponseRegistersFirstLine = LineCount(txtResponse.Text());
    ResponseRegistersFunction = fc;
    ResponseRegistersPerLine = RegistersPerValue(static_cast<Format>(cmbFormat.ListIndex()));
  }
  size_t width = 0;
  for (const Row& row : rows) width = std::max(width, row.value.size());
  // Plain 16-bit numbers carry no format tag.
  const ValueKind kind = KindOf(static_cast<Format>(cmbFormat.ListIndex()));
  const bool oneRegister = kind == ValueKind::Int16 || kind == ValueKind::Uint16;
  const std::string formatTag(FormatTag(cmbFormat.ListIndex()));
  for (const Row& row : rows) {
    const std::string body = addressText(row.address) + ": " + PadRight(row.value, static_cast<int16_t>(width));
    AddResponseLine(oneRegister ? tag + " " + body : formatTag + " " + tag + " " + body);
  }
}
