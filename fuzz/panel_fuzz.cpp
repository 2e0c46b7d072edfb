// Fuzz target for the panel's composition and response view: arbitrary form
// texts to GetBytesOfForm, arbitrary raw hex to GetBytesOfHexInput, and an
// arbitrary request/response pair, in any of the five modes and any display
// format, to ShowResponse (in the ASCII modes the request in flight is its
// characters, the answer the binary frame they carry). The sanitizers prove
// that no byte outside a frame is read; the checks below that composition and
// the view keep their promises.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fakes/fake_platform.h"
#include "modbus/ascii_framing.h"
#include "modbus/crc16.h"
#include "modbus/types.h"
#include "panel/frmMain.h"

using namespace modbus;

namespace {

void Require(bool ok) {
  if (!ok) __builtin_trap();
}

// Reads the input front to back; past the end everything is 0 or empty.
class Input {
 public:
  Input(const uint8_t* d, size_t n) : d_(d), n_(n) {}
  uint8_t Byte() { return i_ < n_ ? d_[i_++] : 0; }
  std::string Text() {
    const size_t len = Byte() % 24;
    std::string s;
    for (size_t k = 0; k < len && i_ < n_; ++k) s.push_back(static_cast<char>(d_[i_++]));
    return s;
  }
  Frame Bytes(size_t len) {
    Frame f;
    for (size_t k = 0; k < len && i_ < n_; ++k) f.push_back(d_[i_++]);
    return f;
  }
  Frame Rest() { return Bytes(n_ - i_); }

 private:
  const uint8_t* d_;
  size_t n_;
  size_t i_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 2048) return 0;
  fakes::FakePlatform fp;
  frmMain f{fp.Bundle()};
  f.Form_Load();
  Input in(data, size);

  const int mode = in.Byte() % 5;
  const bool ascii = IsAscii(ModeOf(mode));
  f.cmbMode.SetListIndex(mode);
  f.Mode = static_cast<int16_t>(mode);
  f.cmbCmd.SetListIndex(static_cast<int>(in.Byte() % 15) - 1);  // -1: none
  f.cmbFormat.SetListIndex(in.Byte() % modbus::kAllFormatCount);
  f.cmbAddresses.SetListIndex(in.Byte() % modbus::kAddressNotationCount);
  f.txtUnitID.SetText(in.Text());
  f.txtAddr.SetText(in.Text());
  f.txtQuantity.SetText(in.Text());
  f.txtValue.SetText(in.Text());
  f.txtHEX.SetText(in.Text());
  // The further commands' fields.
  f.txtValues.SetText(in.Text());
  f.cmbValuesAs.SetListIndex(in.Byte() % 2);
  f.txtWriteAddr.SetText(in.Text());
  f.txtAndMask.SetText(in.Text());
  f.txtOrMask.SetText(in.Text());
  f.cmbReadCode.SetListIndex(in.Byte() % 4);
  f.txtObjectId.SetText(in.Text());

  // Composition: zero, one, two or four frames (a 64-bit value written with
  // 06); a refusal beeps once and builds none.
  f.Requests.clear();
  const int beeps = fp.beeper->count;
  f.GetBytesOfForm();
  Require(f.Requests.size() <= 4);
  if (fp.beeper->count != beeps) Require(f.Requests.empty() && fp.beeper->count == beeps + 1);
  for (const Frame& r : f.Requests) {
    if (ascii) {
      // The characters of one frame: ':', the slave byte, a PDU of at most
      // 253 bytes and a sound LRC as upper-case hex, CR LF.
      const Frame adu = AsciiFrameBytes(r);
      const std::string chars = AsciiCharacters(adu);
      Require(adu.size() >= 3 && adu.size() <= 255 && Lrc(adu) == 0 && Frame(chars.begin(), chars.end()) == r);
      continue;
    }
    // The largest PDU (253 bytes) behind an MBAP header and the slave byte.
    Require(r.size() <= 260);
    if (mode != 1) {
      std::array<uint8_t, 2> expected{};
      Require(CheckCRC(r, expected));
    }
  }
  f.GetBytesOfHexInput();

  // The view: an arbitrary request in flight and an arbitrary answer; in the
  // ASCII modes the request is mostly the characters of its bytes.
  const uint8_t view = in.Byte();
  f.HexView = (view & 1) != 0;
  f.LastRequest = in.Bytes(in.Byte() % 32);
  if (ascii && (view & 6) != 0) {
    const std::string chars = AsciiCharacters(f.LastRequest);
    f.LastRequest.assign(chars.begin(), chars.end());
  }
  const int16_t s = static_cast<int16_t>(static_cast<int8_t>(in.Byte()));
  const Frame response = in.Rest();
  f.txtResponse.SetEnabled(false);
  f.RequestStartMono = fp.clock->MonotonicMs() + static_cast<int8_t>(data[0]);
  f.ShowResponse(response, s);
  // The view holds at most one line per coil of a full frame (2040) and is
  // never longer than its widest possible rows; an answer of the further
  // commands makes fewer, longer lines (its bytes at most four characters each).
  Require(f.txtResponse.Text().size() <= 2040 * 64);
  // The view of an answer to 07, 08, 17, 22 or 43 grows with the answer only:
  // a byte takes at most four characters, an object's id and length at most
  // 24 more.
  const int fc = ByteAt(ascii ? AsciiFrameBytes(f.LastRequest) : f.LastRequest, mode == 1 ? 7 : 1);
  if (fc == 7 || fc == 8 || fc == 17 || fc == 22 || fc == 43)
    Require(f.txtResponse.Text().size() <= 256 + 12 * response.size());
  Require(f.lblDT.Caption().empty() || f.lblDT.Caption()[0] != '-');
  // The inspector reads every line the view shows without reading past its registers.
  for (int line = 0; line < 300; ++line) {
    const auto rows = f.InspectResponseLine(line);
    Require(rows.empty() || rows.size() == static_cast<size_t>(modbus::kAllFormatCount));
    if (!rows.empty()) Require(!f.ResponseLineAddressText(line).empty());
  }
  return 0;
}
