// The value inspector's rows, from the decoders of the display formats.
#include "presentation/register_decoding.h"

#include <initializer_list>

#include "modbus/formats.h"

using namespace modbus;

namespace {

std::string HexBytes(std::initializer_list<uint8_t> bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string s;
  for (uint8_t b : bytes) {
    if (!s.empty()) s += ' ';
    s += kDigits[b >> 4];
    s += kDigits[b & 0x0F];
  }
  return s;
}

}  // namespace

std::vector<InspectorRow> InspectRegisters(const RegisterBytes& selected, const std::optional<RegisterBytes>& next,
                                           const std::string& decimalSeparator) {
  std::vector<InspectorRow> rows;
  rows.reserve(kFormatNames.size());
  const int32_t word = selected[0] * 256 + selected[1];
  const std::string bytes16 = HexBytes({selected[0], selected[1]});
  rows.push_back({std::string(kFormatNames[0]), std::to_string(word > 32767 ? word - 65536 : word), bytes16});
  rows.push_back({std::string(kFormatNames[1]), std::to_string(word), bytes16});
  for (int index = 2; index < static_cast<int>(kFormatNames.size()); ++index) {
    InspectorRow row{std::string(kFormatNames[static_cast<size_t>(index)]), "\u2014", bytes16 + " -- --"};
    if (next) {
      const uint8_t d0 = selected[0], d1 = selected[1], d2 = (*next)[0], d3 = (*next)[1];
      row.value = FormatValueText(DecodeFormat32(index, d0, d1, d2, d3), decimalSeparator);
      row.bytes = HexBytes({d0, d1, d2, d3});
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

std::vector<InspectorRow> InspectRegisters(const RegisterBytes& selected, std::span<const RegisterBytes> following,
                                           const std::string& decimalSeparator) {
  std::optional<RegisterBytes> next;
  if (!following.empty()) next = following[0];
  std::vector<InspectorRow> rows = InspectRegisters(selected, next, decimalSeparator);
  uint8_t wire[8] = {selected[0], selected[1]};
  for (size_t i = 0; i < 3 && i < following.size(); ++i) {
    wire[2 * i + 2] = following[i][0];
    wire[2 * i + 3] = following[i][1];
  }
  const bool whole = following.size() >= 3;
  std::string bytes = HexBytes({wire[0], wire[1]});
  for (size_t i = 0; i < 3; ++i) {
    bytes += i < following.size() ? " " + HexBytes({wire[2 * i + 2], wire[2 * i + 3]}) : std::string(" -- --");
  }
  for (int index = kFormatCount; index < kAllFormatCount; ++index) {
    const auto format = static_cast<Format>(index);
    InspectorRow row{std::string(FormatName(index)), "\u2014", bytes};
    if (Is64Bit(format)) {
      if (whole) row.value = WideValueText(format, wire, 8, decimalSeparator);
    } else {
      row.value = WideValueText(format, wire, 2, decimalSeparator);
      row.bytes = HexBytes({wire[0], wire[1]});
    }
    rows.push_back(std::move(row));
  }
  return rows;
}
