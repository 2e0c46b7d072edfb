#pragma once
// The value inspector: one register (and the ones after it) read in the
// display formats, with the bytes each format reads.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct InspectorRow {
  std::string format;  // the format's name, "INT16" ... "UINT32_DCBA"
  std::string value;   // the value as the response view writes it; "—" when the format lacks a register
  std::string bytes;   // the bytes read, wire order: "3F 80" or "3F 80 00 00"; "3F 80 -- --" without the next register
};

// The bytes of a register, high byte first.
using RegisterBytes = std::array<uint8_t, 2>;

// The fourteen rows, in the order of the format list: the 16-bit formats read
// `selected` alone (INT16 signed, UINT16 unsigned, in decimal); the 32-bit
// formats read `selected` then `next` and write the value as the response
// view does (FormatValueText with `decimalSeparator`). Without `next` the
// 32-bit rows say "—".
std::vector<InspectorRow> InspectRegisters(const RegisterBytes& selected, const std::optional<RegisterBytes>& next,
                                           const std::string& decimalSeparator);

// Every row of the format list: the fourteen above, then the 64-bit formats,
// which read `selected` and the three registers of `following` (their rows
// say "—" and show "--" for the missing bytes when fewer follow), and the
// HEX, BINARY and ASCII views of `selected`. Only the first register of
// `following` is used by the 32-bit rows.
std::vector<InspectorRow> InspectRegisters(const RegisterBytes& selected, std::span<const RegisterBytes> following,
                                           const std::string& decimalSeparator);
