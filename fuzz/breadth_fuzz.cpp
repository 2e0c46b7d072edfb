// Fuzz target for the ASCII framing, the answer length rules, checks and view
// lines of functions 07, 08, 15, 17, 22, 23 and 43/14, and the 64-bit
// formats. The first byte picks the part; the rest is its input. Besides the
// sanitizers, properties that must hold for every input are checked; a
// violation traps, and libFuzzer reports it as a crash.
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "modbus/ascii_framing.h"
#include "modbus/formats64.h"
#include "modbus/pdu_ext.h"

namespace {

void Require(bool ok) {
  if (!ok) __builtin_trap();
}

void CheckFaults(const std::vector<modbus::PduFault>& faults, size_t size) {
  for (const modbus::PduFault& f : faults) {
    Require(!f.message.empty());
    Require(f.offset >= 0 && f.length >= 0);
    Require(static_cast<size_t>(f.offset) + static_cast<size_t>(f.length) <= size);
  }
}

// Characters in chunks whose sizes come from the data itself.
void FuzzAscii(std::span<const uint8_t> data) {
  modbus::AsciiDecoder d;
  const std::string_view chars(reinterpret_cast<const char*>(data.data()), data.size());
  std::vector<modbus::AsciiFrame> frames;
  for (size_t pos = 0; pos < chars.size();) {
    const size_t chunk = 1 + static_cast<uint8_t>(chars[pos]) % 17;
    for (modbus::AsciiFrame& f : d.Feed(chars.substr(pos, chunk))) frames.push_back(std::move(f));
    pos += chunk;
  }
  if (std::optional<modbus::AsciiFrame> last = d.Finish()) frames.push_back(std::move(*last));
  Require(!d.InFrame());
  for (const modbus::AsciiFrame& f : frames) {
    Require(f.adu.size() <= modbus::AsciiDecoder::kMaxAdu);
    CheckFaults(f.faults, f.adu.size());
    // A frame without faults is a good frame: 3 bytes or more, sum 0.
    if (f.faults.empty()) Require(f.adu.size() >= 3 && modbus::Lrc(f.adu) == 0);
  }
  // Any ADU that fits, encoded, decodes to itself plus its LRC without fault.
  const auto adu = data.first(std::min<size_t>(data.size(), modbus::AsciiDecoder::kMaxAdu - 1));
  if (adu.size() >= 2) {
    modbus::AsciiDecoder e;
    const std::vector<modbus::AsciiFrame> back = e.Feed(modbus::EncodeAscii(adu));
    Require(back.size() == 1 && back[0].faults.empty() && back[0].adu.size() == adu.size() + 1);
    Require(std::equal(adu.begin(), adu.end(), back[0].adu.begin()));
  }
}

// The first bytes are the request PDU (its length in the first byte), the
// rest the answer.
void FuzzAnswer(std::span<const uint8_t> data) {
  if (data.empty()) return;
  const size_t requestSize = std::min<size_t>(data[0], data.size() - 1);
  const auto request = data.subspan(1, requestSize);
  const auto response = data.subspan(1 + requestSize);
  // Once the length is known, or known to be unknown, more bytes never change it.
  modbus::PduLength settled;
  bool isSettled = false;
  for (size_t n = 0; n <= response.size(); ++n) {
    const modbus::PduLength l =
        modbus::ExpectedResponsePduLength(response.first(n), static_cast<int32_t>(request.size()));
    if (isSettled) Require(l == settled);
    if (l.kind != modbus::PduLength::Kind::NotYet) {
      Require(l.kind == modbus::PduLength::Kind::Unknown || l.bytes >= 1);
      settled = l;
      isSettled = true;
    }
    Require(n > 0 || l.kind == modbus::PduLength::Kind::NotYet);
  }
  CheckFaults(modbus::CheckResponsePdu(request, response), response.size());
  const std::vector<std::string> lines = modbus::ResponseLines(request, response, (data[0] & 1) != 0);
  Require(lines.size() <= 2 * 1968 + 1);
  if (const auto a = modbus::ParseDeviceId(response)) {
    size_t total = 7;
    for (const modbus::DeviceObject& o : a->objects) total += 2 + o.value.size();
    Require(total <= response.size() && a->objects.size() <= a->objectCount);
  }
}

// Eight bytes in every 64-bit format: the text reads back as the same bytes
// (a NaN as the quiet NaN). The rest of the data as typed text.
void FuzzFormats(std::span<const uint8_t> data) {
  if (data.size() < 8) return;
  modbus::Wire8 wire{};
  std::memcpy(wire.data(), data.data(), 8);
  for (std::string_view name : modbus::kWideFormatNames) {
    const std::optional<modbus::Format64> f = modbus::Format64Named(name);
    if (!f) continue;
    const std::string text = modbus::Decode64(*f, wire);
    const modbus::Encoded64 back = modbus::Encode64(*f, text);
    Require(back.Ok());
    const bool nan =
        f->kind == modbus::Kind64::Double && std::isnan(std::bit_cast<double>(modbus::BitsOfWire(f->order, wire)));
    if (nan) {
      Require(text == "NaN");
    } else {
      Require(back.wire == wire);
    }
    const std::string_view typed(reinterpret_cast<const char*>(data.data() + 8), data.size() - 8);
    const modbus::Encoded64 e = modbus::Encode64(*f, typed);
    if (e.Ok()) {
      const modbus::Encoded64 again = modbus::Encode64(*f, modbus::Decode64(*f, e.wire));
      Require(again.Ok() && (again.wire == e.wire || modbus::Decode64(*f, e.wire) == "NaN"));
    }
  }
  for (modbus::RegisterView v :
       {modbus::RegisterView::Hex, modbus::RegisterView::Binary, modbus::RegisterView::Ascii}) {
    const std::string text = modbus::RegisterViewText(v, data[0], data[1]);
    const modbus::EncodedRegister r = modbus::EncodeRegisterView(v, text);
    if (v != modbus::RegisterView::Ascii) Require(r.Ok() && r.bytes[0] == data[0] && r.bytes[1] == data[1]);
    modbus::EncodeRegisterView(v, std::string_view(reinterpret_cast<const char*>(data.data() + 2), data.size() - 2));
  }
}

// The builders with arbitrary values: a PDU that fits, or a refusal.
void FuzzBuilders(std::span<const uint8_t> data) {
  auto word = [&](size_t i) {
    return i + 3 < data.size() ? static_cast<int32_t>(data[i] << 16 | data[i + 1] << 8 | data[i + 2]) - 0x10000 : 0;
  };
  std::vector<uint8_t> bits(data.size() > 4 ? data.begin() + 4 : data.end(), data.end());
  for (uint8_t& b : bits) b = b > 250 ? b : b & 1;  // a few values out of range
  std::vector<uint16_t> values(bits.size() / 2);
  const modbus::PduResult results[] = {
      modbus::BuildWriteMultipleCoils(word(0), bits),
      modbus::BuildMaskWriteRegister(word(0), word(1), word(2)),
      modbus::BuildReadWriteMultipleRegisters(word(0), word(1) & 0xFF, word(2), values),
      modbus::BuildReadDeviceIdentification(word(0) & 7, word(1) & 0x1FF),
      modbus::BuildDiagnostics(word(0) & 1, values),
  };
  // Typed coils: accepted ones make a request of that many coils.
  const std::string_view typed(reinterpret_cast<const char*>(data.data()), data.size());
  const int32_t quantity = 1 + static_cast<int32_t>(data.size() % 40);
  for (const modbus::CoilValues& c : {modbus::CoilsFromList(typed), modbus::CoilsFromHexBytes(typed, quantity)}) {
    if (!c.Ok()) continue;
    const modbus::PduResult r = modbus::BuildWriteMultipleCoils(0, c.bits);
    Require(r.Ok() == (c.bits.size() <= 1968));
    if (r.Ok()) Require(static_cast<size_t>(r.pdu[3] << 8 | r.pdu[4]) == c.bits.size());
  }
  for (const modbus::PduResult& r : results) {
    Require(r.Ok() != r.pdu.empty());
    Require(static_cast<int32_t>(r.pdu.size()) <= modbus::kMaxPduSize);
    if (r.Ok()) {
      // The answer a server would echo is as long as the rules expect.
      const modbus::PduLength l = modbus::ExpectedResponsePduLength(r.pdu, static_cast<int32_t>(r.pdu.size()));
      if (r.pdu[0] == modbus::kWriteMultipleCoils || r.pdu[0] == modbus::kMaskWriteRegister) {
        Require(l.kind == modbus::PduLength::Kind::Known && l.bytes <= static_cast<int32_t>(r.pdu.size()));
      }
      if (r.pdu[0] == modbus::kDiagnostics) Require(l == modbus::PduLength::Of(static_cast<int32_t>(r.pdu.size())));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::span<const uint8_t> rest(data + 1, size - 1);
  switch (data[0] % 4) {
    case 0:
      FuzzAscii(rest);
      break;
    case 1:
      FuzzAnswer(rest);
      break;
    case 2:
      FuzzFormats(rest);
      break;
    default:
      FuzzBuilders(rest);
      break;
  }
  return 0;
}
