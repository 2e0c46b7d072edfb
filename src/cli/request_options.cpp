// The request half of the option parser: function, addresses, quantities,
// values to write, masks and device identification.
#include <string>

#include "cli/option_parsing.h"

namespace cli {
namespace detail {
namespace {

enum class FunctionKind {
  ReadBits,
  ReadRegisters,
  WriteCoil,
  WriteRegister,
  WriteCoils,
  WriteRegisters,
  NoData,
  Diagnostics,
  MaskWrite,
  ReadWrite,
  DeviceId
};

std::optional<FunctionKind> KindOf(int function) {
  switch (function) {
    case 1:
    case 2:
      return FunctionKind::ReadBits;
    case 3:
    case 4:
      return FunctionKind::ReadRegisters;
    case 5:
      return FunctionKind::WriteCoil;
    case 6:
      return FunctionKind::WriteRegister;
    case 7:
    case 17:
      return FunctionKind::NoData;
    case 8:
      return FunctionKind::Diagnostics;
    case 15:
      return FunctionKind::WriteCoils;
    case 16:
      return FunctionKind::WriteRegisters;
    case 22:
      return FunctionKind::MaskWrite;
    case 23:
      return FunctionKind::ReadWrite;
    case 43:
      return FunctionKind::DeviceId;
    default:
      return std::nullopt;
  }
}

int ReadFunctionOfTable(int digit) {
  switch (digit) {
    case 0:
      return 1;
    case 1:
      return 2;
    case 3:
      return 4;
    default:
      return 3;
  }
}

std::string RangeReason(std::string_view verb, uint32_t max, std::string_view what) {
  return std::string(verb) + " 1 to " + std::to_string(max) + " " + std::string(what);
}

// The register values of --values for the function, or false.
bool ConvertWriteValues(Converter& c, FunctionKind kind) {
  const Given& g = c.given;
  CliOptions& o = c.o;
  const std::string& text = g.Get("values");
  if (kind == FunctionKind::WriteCoil || kind == FunctionKind::WriteCoils) {
    EncodedCoils coils = EncodeCoils(text);
    if (!coils.error.empty()) {
      c.error = Invalid("values", text, coils.error);
      return false;
    }
    if (kind == FunctionKind::WriteCoil && coils.coils.size() != 1) {
      c.error = Invalid("values", text, "function 5 writes one coil (0 or 1)");
      return false;
    }
    if (coils.coils.size() > 1968) {
      c.error = Invalid("values", text, "write 1 to 1968 coils (" + std::to_string(coils.coils.size()) + " given)");
      return false;
    }
    o.coils = std::move(coils.coils);
    return true;
  }
  const ValueType type = kind == FunctionKind::Diagnostics ? ValueType::Uint16 : o.type;
  EncodedValues values = EncodeValues(type, text);
  if (!values.error.empty()) {
    c.error = Invalid("values", text, values.error);
    return false;
  }
  const size_t n = values.registers.size();
  if (kind == FunctionKind::WriteRegister) {
    const bool oneValue = type == ValueType::Ascii || text.find(',') == std::string::npos;
    if (!oneValue || n > 2) {
      c.error = Invalid("values", text, "function 6 writes one 16- or 32-bit value (use 16 for more)");
      return false;
    }
  }
  const uint32_t max = kind == FunctionKind::WriteRegisters ? 123 : kind == FunctionKind::ReadWrite ? 121 : 125;
  if (n > max) {
    c.error =
        Invalid("values", text, "write 1 to " + std::to_string(max) + " registers (" + std::to_string(n) + " given)");
    return false;
  }
  o.registers = std::move(values.registers);
  return true;
}

}  // namespace

bool ConvertRequest(Converter& c) {
  const Given& g = c.given;
  CliOptions& o = c.o;
  if (g.Has("type")) {
    const auto t = ValueTypeOfName(g.Get("type"));
    if (!t) {
      c.error = Invalid("type", g.Get("type"), "not a known type (INT16, UINT16, FLOAT_ABCD, ... see --help)");
      return false;
    }
    o.type = *t;
    o.typeGiven = true;
  }
  std::optional<AddressValue> address;
  if (g.Has("address")) {
    std::string reason;
    address = ParseAddress(g.Get("address"), o.addresses, reason);
    if (!address) {
      c.error = Invalid("address", g.Get("address"), reason);
      return false;
    }
  }
  if (g.Has("function")) {
    const std::string& text = g.Get("function");
    const auto f = ParseUnsigned(text, 255);
    if (!f || text.find_first_of("xX") != std::string::npos || !KindOf(static_cast<int>(*f))) {
      c.error = Invalid("function", text,
                        "the function codes are 1, 2, 3, 4, 5, 6, 7, 8, 15, 16, 17, 22, 23 and 43 (in decimal)");
      return false;
    }
    o.function = static_cast<int>(*f);
  } else if (address && address->table >= 0) {
    o.function = ReadFunctionOfTable(address->table);
  }
  const FunctionKind kind = *KindOf(o.function);
  const std::string fn = "function " + std::to_string(o.function);

  // Which options the function takes.
  const bool takesAddress =
      kind != FunctionKind::NoData && kind != FunctionKind::Diagnostics && kind != FunctionKind::DeviceId;
  const bool readsRegisters = kind == FunctionKind::ReadRegisters || kind == FunctionKind::ReadWrite;
  const bool writesRegisters =
      kind == FunctionKind::WriteRegister || kind == FunctionKind::WriteRegisters || kind == FunctionKind::ReadWrite;
  if (!takesAddress && !c.NotWith("address", "does not apply to " + fn)) return false;
  if (!(readsRegisters || writesRegisters) && !c.NotWith("type", "applies to register functions (3, 4, 6, 16, 23)"))
    return false;
  const bool takesValues = kind == FunctionKind::WriteCoil || kind == FunctionKind::WriteCoils || writesRegisters ||
                           kind == FunctionKind::Diagnostics;
  if (!takesValues && !c.NotWith("values", "does not apply to " + fn)) return false;
  const bool readsSomething = kind == FunctionKind::ReadBits || readsRegisters;
  const bool countsWrites = kind == FunctionKind::WriteCoils || kind == FunctionKind::WriteRegisters;
  if (!readsSomething && !countsWrites && !c.NotWith("quantity", "does not apply to " + fn)) return false;
  if (kind != FunctionKind::MaskWrite) {
    if (!c.NotWith("and-mask", "applies to function 22")) return false;
    if (!c.NotWith("or-mask", "applies to function 22")) return false;
  }
  if (kind != FunctionKind::ReadWrite && !c.NotWith("write-address", "applies to function 23")) return false;
  if (kind != FunctionKind::DeviceId) {
    if (!c.NotWith("read-code", "applies to function 43")) return false;
    if (!c.NotWith("object-id", "applies to function 43")) return false;
  }

  if (address) {
    if (address->table >= 0 && address->table != ReferenceTable(o.function)) {
      c.error = Invalid("address", g.Get("address"),
                        "reference " + std::to_string(address->table) + "xxxx does not go with " + fn);
      return false;
    }
    o.address = address->address;
    o.hexAddresses = address->hex;
    o.sixDigitReference = address->sixDigits;
  }

  uint32_t slave = o.slave;
  if (!c.Number("slave", 0, 255, "a slave address is 0 to 255", slave)) return false;
  if (slave == 0 && !IsWriteOnlyFunction(o.function)) {
    c.error = Invalid("slave", g.Get("slave"), "slave 0 (broadcast) is for writes (5, 6, 15, 16, 22) only");
    return false;
  }
  o.slave = static_cast<uint8_t>(slave);

  if (takesValues && !g.Has("values") && kind != FunctionKind::Diagnostics) {
    c.error = Fail("--values is needed for " + fn);
    return false;
  }
  if (g.Has("values") && !ConvertWriteValues(c, kind)) return false;
  if (kind == FunctionKind::Diagnostics && !g.Has("values")) o.registers = {0};

  // Quantities.
  uint32_t span = 1;  // protocol addresses the request covers from o.address
  if (readsSomething) {
    const bool bits = kind == FunctionKind::ReadBits;
    const uint32_t max = bits ? 2000 : 125;
    const uint32_t perValue = bits ? 1 : static_cast<uint32_t>(RegistersPerValue(o.type));
    uint32_t q = perValue;
    if (!c.Number("quantity", 1, max, RangeReason("read", max, bits ? "bits" : "registers"), q)) return false;
    if (q < perValue) {
      c.error =
          Invalid("quantity", g.Get("quantity"),
                  std::string(ValueTypeName(o.type)) + " takes " + std::to_string(perValue) + " registers a value");
      return false;
    }
    o.quantity = static_cast<uint16_t>(q);
    span = q;
  }
  if (kind == FunctionKind::WriteCoils || kind == FunctionKind::WriteRegisters) {
    const size_t n = kind == FunctionKind::WriteCoils ? o.coils.size() : o.registers.size();
    uint32_t q = static_cast<uint32_t>(n);
    const uint32_t max = kind == FunctionKind::WriteCoils ? 1968 : 123;
    if (!c.Number("quantity", 1, max,
                  RangeReason("write", max, kind == FunctionKind::WriteCoils ? "coils" : "registers"), q))
      return false;
    if (q != n) {
      c.error =
          Invalid("quantity", g.Get("quantity"),
                  "--values gives " + std::to_string(n) + (kind == FunctionKind::WriteCoils ? " coils" : " registers"));
      return false;
    }
    o.quantity = static_cast<uint16_t>(q);
    span = q;
  }
  if (kind == FunctionKind::WriteRegister) span = static_cast<uint32_t>(o.registers.size());
  if (takesAddress && o.address + span - 1 > 65535) {
    c.error = Fail("--address " + std::to_string(o.address) + " and " + std::to_string(span) +
                   (span == 1 ? " item go" : " items go") + " past address 65535");
    return false;
  }

  if (kind == FunctionKind::MaskWrite) {
    if (!g.Has("and-mask") || !g.Has("or-mask")) {
      c.error = Fail("--and-mask and --or-mask are needed for function 22");
      return false;
    }
    uint32_t andMask = 0, orMask = 0;
    if (!c.Number("and-mask", 0, 65535, "a mask is 0 to 65535 or 0x0000 to 0xFFFF", andMask)) return false;
    if (!c.Number("or-mask", 0, 65535, "a mask is 0 to 65535 or 0x0000 to 0xFFFF", orMask)) return false;
    o.andMask = static_cast<uint16_t>(andMask);
    o.orMask = static_cast<uint16_t>(orMask);
  }
  if (kind == FunctionKind::ReadWrite) {
    if (!g.Has("write-address")) {
      c.error = Fail("--write-address is needed for function 23");
      return false;
    }
    std::string reason;
    const auto w = ParseAddress(g.Get("write-address"), o.addresses, reason);
    if (!w || (w->table >= 0 && w->table != 4)) {
      c.error =
          Invalid("write-address", g.Get("write-address"), w ? "function 23 writes holding registers (4xxxx)" : reason);
      return false;
    }
    if (w->address + o.registers.size() - 1 > 65535) {
      c.error = Fail("--write-address " + std::to_string(w->address) + " and " + std::to_string(o.registers.size()) +
                     " registers go past address 65535");
      return false;
    }
    o.writeAddress = w->address;
  }
  if (kind == FunctionKind::DeviceId) {
    uint32_t code = 1, object = 0;
    if (!c.Number("read-code", 1, 4, "the read codes are 1 basic, 2 regular, 3 extended and 4 one object", code))
      return false;
    if (!c.Number("object-id", 0, 255, "an object id is 0 to 255 or 0x00 to 0xFF", object)) return false;
    o.readCode = static_cast<int>(code);
    o.objectId = static_cast<uint8_t>(object);
  }
  return true;
}

std::string Lower(std::string_view t) {
  std::string s(t);
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string Fail(std::string_view text) { return std::string(kProgram) + ": " + std::string(text); }
std::string Invalid(std::string_view option, std::string_view value, std::string_view reason) {
  // A long value (a list of a thousand coils) is cut so the line stays readable.
  constexpr size_t kShown = 40;
  const std::string shown =
      value.size() > kShown ? std::string(value.substr(0, kShown - 3)) + "..." : std::string(value);
  return Fail("invalid --" + std::string(option) + " '" + shown + "': " + std::string(reason));
}

// An address typed in the chosen notation, or the reason it is refused.
std::optional<AddressValue> ParseAddress(std::string_view text, AddressNotation notation, std::string& reason) {
  AddressValue a;
  a.hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  switch (notation) {
    case AddressNotation::Protocol: {
      const auto v = ParseUnsigned(text, 65535);
      if (!v) {
        reason = "an address is 0 to 65535";
        return std::nullopt;
      }
      a.address = static_cast<uint16_t>(*v);
      return a;
    }
    case AddressNotation::FromOne: {
      const auto v = ParseUnsigned(text, 65536);
      if (!v || *v == 0) {
        reason = "a register number is 1 to 65536";
        return std::nullopt;
      }
      a.address = static_cast<uint16_t>(*v - 1);
      return a;
    }
    case AddressNotation::Reference: {
      reason =
          "a reference number is 0xxxx, 1xxxx, 3xxxx or 4xxxx (00001 to 09999, ...) or the 6-digit form (400001 to "
          "465536, ...)";
      a.hex = false;
      if (text.size() != 5 && text.size() != 6) return std::nullopt;
      for (char c : text)
        if (c < '0' || c > '9') return std::nullopt;
      const int digit = text[0] - '0';
      if (digit != 0 && digit != 1 && digit != 3 && digit != 4) return std::nullopt;
      const auto number = ParseUnsigned(text.substr(1), 99999);
      const uint32_t max = text.size() == 5 ? 9999 : 65536;
      if (!number || *number == 0 || *number > max) return std::nullopt;
      a.address = static_cast<uint16_t>(*number - 1);
      a.table = digit;
      a.sixDigits = text.size() == 6;
      return a;
    }
  }
  return std::nullopt;
}

}  // namespace detail

int ReferenceTable(int function) {
  switch (function) {
    case 1:
    case 5:
    case 15:
      return 0;
    case 2:
      return 1;
    case 4:
      return 3;
    case 3:
    case 6:
    case 16:
    case 22:
    case 23:
      return 4;
    default:
      return -1;
  }
}

}  // namespace cli
