#include "modbus/address_notation.h"

#include "common/module1.h"
#include "modbus/convert.h"

namespace modbus {

namespace {

std::string_view TrimAround(std::string_view t) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!t.empty() && blank(t.front())) t.remove_prefix(1);
  while (!t.empty() && blank(t.back())) t.remove_suffix(1);
  return t;
}

bool AllDigits(std::string_view t) {
  if (t.empty()) return false;
  for (char c : t) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// Decimal digits as a number; digits beyond nine make it "too large" (-1).
int64_t DigitsValue(std::string_view t) {
  if (t.size() > 9) return -1;
  int64_t v = 0;
  for (char c : t) v = v * 10 + (c - '0');
  return v;
}

std::optional<Table> TableOfDigit(char d) {
  switch (d) {
    case '0':
      return Table::Coils;
    case '1':
      return Table::DiscreteInputs;
    case '3':
      return Table::InputRegisters;
    case '4':
      return Table::HoldingRegisters;
    default:
      return std::nullopt;
  }
}

TypedAddress Refused(std::string reason) {
  TypedAddress a;
  a.refusal = std::move(reason);
  return a;
}

}  // namespace

AddressNotation AddressNotationOf(int32_t stored) {
  if (stored == 1) return AddressNotation::RegisterNumber;
  if (stored == 2) return AddressNotation::Reference;
  return AddressNotation::Protocol;
}

int TableDigit(Table t) {
  switch (t) {
    case Table::Coils:
      return 0;
    case Table::DiscreteInputs:
      return 1;
    case Table::InputRegisters:
      return 3;
    case Table::HoldingRegisters:
      break;
  }
  return 4;
}

std::optional<Table> TableOf(int32_t function) {
  switch (function) {
    case 1:
    case 5:
    case 15:
      return Table::Coils;
    case 2:
      return Table::DiscreteInputs;
    case 4:
      return Table::InputRegisters;
    case 3:
    case 6:
    case 16:
    case 22:
    case 23:
      return Table::HoldingRegisters;
    default:
      return std::nullopt;
  }
}

int32_t ReadFunctionOf(Table t) {
  switch (t) {
    case Table::Coils:
      return 1;
    case Table::DiscreteInputs:
      return 2;
    case Table::InputRegisters:
      return 4;
    case Table::HoldingRegisters:
      break;
  }
  return 3;
}

std::string_view TableNoun(Table t) {
  switch (t) {
    case Table::Coils:
      return "coil";
    case Table::DiscreteInputs:
      return "discrete input";
    case Table::InputRegisters:
      return "input register";
    case Table::HoldingRegisters:
      break;
  }
  return "holding register";
}

TypedAddress ParseAddress(AddressNotation n, std::string_view text) {
  const std::string_view t = TrimAround(text);
  if (t.empty()) return Refused("the start address is empty");
  if (n == AddressNotation::Reference) {
    if (!AllDigits(t) || (t.size() != 5 && t.size() != 6) || !TableOfDigit(t[0])) {
      return Refused(
          "a reference number is 5 or 6 digits: 0xxxx coils, 1xxxx discrete inputs, "
          "3xxxx input registers, 4xxxx holding registers");
    }
    const int64_t number = DigitsValue(t.substr(1));
    const int64_t top = t.size() == 5 ? 9999 : 65536;
    if (number < 1 || number > top) {
      return Refused(t.size() == 5 ? "a 5-digit reference number ends in 0001 to 9999"
                                   : "a 6-digit reference number ends in 00001 to 65536");
    }
    TypedAddress a;
    a.protocol = static_cast<int32_t>(number - 1);
    a.table = TableOfDigit(t[0]);
    return a;
  }
  if (!IsValidAddressText(t)) return Refused("an address is a decimal number or 0x followed by hexadecimal digits");
  int64_t value = 0;
  if (IsHex(t)) {
    value = StringToLong(t) & 0xFFFF;  // hex entries keep their low 16 bits
  } else {
    value = DigitsValue(t);
    if (value < 0) value = 1LL << 40;
  }
  if (n == AddressNotation::RegisterNumber) {
    if (IsHex(t)) {
      // The whole hexadecimal number: a register number has no low bits to
      // keep, and one beyond 65536 is refused however many digits it has.
      value = 0;
      for (const char c : t.substr(2)) {
        value = value * 16 + (c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
        if (value > 65536) break;
      }
    }
    if (value < 1 || value > 65536) return Refused("a register number is from 1 to 65536");
    TypedAddress a;
    a.protocol = static_cast<int32_t>(value - 1);
    return a;
  }
  if (value > 65535) return Refused("an address is from 0 to 65535");
  TypedAddress a;
  a.protocol = static_cast<int32_t>(value);
  return a;
}

std::string AddressText(AddressNotation n, std::optional<Table> table, int32_t protocol, bool hexStyle) {
  // Not cut to 16 bits: a view line past 65535 shows where the count went.
  const int32_t p = protocol;
  switch (n) {
    case AddressNotation::Protocol:
      return hexStyle ? PadNumber(p, 4, true) : PadNumber(p, 5, false);
    case AddressNotation::RegisterNumber:
      // Register 65536 is in range: written whole, not as its low 16 bits.
      if (hexStyle) return PadNumber(p + 1, p + 1 > 0xFFFF ? 5 : 4, true);
      return PadNumber(p + 1, 5, false);
    case AddressNotation::Reference:
      break;
  }
  const int32_t number = p + 1;
  if (!table) return PadNumber(number, 5, false);
  const std::string digits = std::to_string(number);
  const size_t width = number <= 9999 ? 4 : 5;
  return std::to_string(TableDigit(*table)) + std::string(width - digits.size(), '0') + digits;
}

}  // namespace modbus
