#pragma once
// How the operator writes an address: the protocol address that goes on the
// wire (from 0), the register number device manuals count (from 1), or the
// reference number whose first digit names the table (0xxxx coils, 1xxxx
// discrete inputs, 3xxxx input registers, 4xxxx holding registers) in the
// 5-digit form (x0001..x9999) or the 6-digit form (x00001..x65536).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace modbus {

// The values are the indices of the "Addresses" list and the stored numbers.
enum class AddressNotation : int32_t { Protocol = 0, RegisterNumber = 1, Reference = 2 };
inline constexpr int kAddressNotationCount = 3;

// The notation of a stored number; anything outside the list is Protocol.
AddressNotation AddressNotationOf(int32_t stored);

// The four tables a reference number can name.
enum class Table : uint8_t { Coils, DiscreteInputs, InputRegisters, HoldingRegisters };

// The first digit of the table's reference numbers (0, 1, 3, 4).
int TableDigit(Table t);
// The table a function code reads or writes (01 05 15 coils, 02 discrete
// inputs, 04 input registers, 03 06 16 22 23 holding registers), if any.
std::optional<Table> TableOf(int32_t function);
// The function code that reads the table (01, 02, 04, 03).
int32_t ReadFunctionOf(Table t);
// "coil", "discrete input", "input register", "holding register".
std::string_view TableNoun(Table t);

// An address as typed, converted to the wire.
struct TypedAddress {
  int32_t protocol = 0;        // 0..65535 when accepted
  std::optional<Table> table;  // the table a reference number names
  std::string refusal;         // why the text is refused; empty when accepted
  bool Ok() const { return refusal.empty(); }
};

// Reads the address field's text in the notation. Protocol: decimal 0..65535
// or "0x" and hex digits (taken as its low 16 bits, as ever). Register
// number: decimal or "0x" hex, 1..65536, one more than the protocol address.
// Reference: decimal digits only, 5 or 6 of them, the first 0, 1, 3 or 4, the
// rest 1..9999 (5 digits) or 1..65536 (6 digits). Blanks, CR and LF around
// are ignored.
TypedAddress ParseAddress(AddressNotation n, std::string_view text);

// The address as the view writes it in the notation. Protocol and register
// numbers: 5 decimal digits, or "0x" and 4 hex digits when `hexStyle`.
// Reference: the table's digit and the register number in 4 digits up to
// 9999 ("40001"), in 5 beyond ("465536"); without a table the register
// number.
std::string AddressText(AddressNotation n, std::optional<Table> table, int32_t protocol, bool hexStyle);

}  // namespace modbus
