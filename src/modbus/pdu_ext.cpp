// Requests and length rules of the function codes 07, 08, 15, 17, 22, 23
// and 43/14; their answer checks and view lines are in pdu_answers.cpp.
#include "modbus/pdu_ext.h"

#include <algorithm>
#include <array>

namespace modbus {

namespace {

constexpr std::array<FunctionLimits, 14> kFunctions = {{
    {kReadCoils, 0, "Read Coils", QuantityRange{1, 2000, "read", "coils"}, {}},
    {kReadDiscreteInputs, 0, "Read Discrete Inputs", QuantityRange{1, 2000, "read", "discrete inputs"}, {}},
    {kReadHoldingRegisters, 0, "Read Holding Registers", QuantityRange{1, 125, "read", "registers"}, {}},
    {kReadInputRegisters, 0, "Read Input Registers", QuantityRange{1, 125, "read", "registers"}, {}},
    {kWriteSingleCoil, 0, "Write Single Coil", {}, {}},
    {kWriteSingleRegister, 0, "Write Single Register", {}, {}},
    {kReadExceptionStatus, 0, "Read Exception Status", {}, {}},
    {kDiagnostics, 0, "Diagnostics", QuantityRange{1, 125, "send", "data words"}, {}},
    {kWriteMultipleCoils, 0, "Write Multiple Coils", QuantityRange{1, 1968, "write", "coils"}, {}},
    {kWriteMultipleRegisters, 0, "Write Multiple Registers", QuantityRange{1, 123, "write", "registers"}, {}},
    {kReportServerId, 0, "Report Server ID", {}, {}},
    {kMaskWriteRegister, 0, "Mask Write Register", {}, {}},
    {kReadWriteMultipleRegisters, 0, "Read/Write Multiple Registers", QuantityRange{1, 125, "read", "registers"},
     QuantityRange{1, 121, "write", "registers"}},
    {kEncapsulatedInterface, kMeiReadDeviceId, "Read Device Identification", {}, {}},
}};

const QuantityRange& RangeOf(uint8_t function, bool writeBlock = false) {
  const FunctionLimits* f = FindFunction(function);
  return writeBlock ? *f->writeQuantity : *f->quantity;
}

void Put16(Pdu& p, int32_t v) {
  p.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
  p.push_back(static_cast<uint8_t>(v & 0xFF));
}

PduResult Refuse(std::string why) { return {{}, std::move(why)}; }

// "" when v is a 16-bit address or value, else the refusal for `field`.
std::string Check16(int32_t v, std::string_view field, std::string_view what) {
  if (v >= 0 && v <= 0xFFFF) return {};
  return "Invalid " + std::string(field) + " \"" + std::to_string(v) + "\": " + std::string(what) +
         " is a number from 0 to 65535";
}
std::string CheckAddress(int32_t a, std::string_view field = "address") { return Check16(a, field, "an address"); }

// "" when `count` items from the address `a` (0 to 65535) all lie within
// 65535, else the refusal naming the items they would need: past 65535 the
// device's address would wrap to 0.
std::string CheckSpan(int32_t a, int32_t count, std::string_view verb, std::string_view unit) {
  const int64_t last = int64_t{a} + count - 1;
  if (last <= 0xFFFF) return {};
  const std::string items(unit);
  return "Address out of range: " + std::to_string(count) + " " + items + " " + std::string(verb) + " at " +
         std::to_string(a) + " need " + items + " " + std::to_string(a) + (count == 2 ? " and " : " to ") +
         std::to_string(last);
}

}  // namespace

std::string QuantityRange::Text() const {
  return std::string(verb) + " " + std::to_string(min) + " to " + std::to_string(max) + " " + std::string(unit);
}

std::span<const FunctionLimits> FunctionTable() { return kFunctions; }

const FunctionLimits* FindFunction(uint8_t function) {
  for (const FunctionLimits& f : kFunctions) {
    if (f.function == function) return &f;
  }
  return nullptr;
}

std::string CheckQuantity(const QuantityRange& range, int32_t q, std::string_view field) {
  if (range.Contains(q)) return {};
  return "Invalid " + std::string(field) + " \"" + std::to_string(q) + "\": " + range.Text();
}

// ---- builders --------------------------------------------------------------------

PduResult BuildWriteMultipleCoils(int32_t address, const std::vector<uint8_t>& bits) {
  if (std::string why = CheckAddress(address); !why.empty()) return Refuse(why);
  const auto n = static_cast<int32_t>(std::min<size_t>(bits.size(), 0x7FFFFFFF));
  if (std::string why = CheckQuantity(RangeOf(kWriteMultipleCoils), n); !why.empty()) return Refuse(why);
  if (std::string why = CheckSpan(address, n, "written", "coils"); !why.empty()) return Refuse(why);
  for (size_t i = 0; i < bits.size(); ++i) {
    if (bits[i] > 1) {
      return Refuse("Invalid coil value \"" + std::to_string(bits[i]) + "\" at position " + std::to_string(i + 1) +
                    ": a coil is 0 or 1");
    }
  }
  Pdu p{kWriteMultipleCoils};
  Put16(p, address);
  Put16(p, n);
  const size_t byteCount = (bits.size() + 7) / 8;
  p.push_back(static_cast<uint8_t>(byteCount));
  p.resize(p.size() + byteCount, 0);
  for (size_t i = 0; i < bits.size(); ++i) {
    if (bits[i]) p[6 + i / 8] |= static_cast<uint8_t>(1u << (i % 8));
  }
  return {p, {}};
}

CoilValues CoilsFromList(std::string_view text) {
  CoilValues c;
  for (char ch : text) {
    if (ch == '0' || ch == '1') {
      c.bits.push_back(static_cast<uint8_t>(ch - '0'));
    } else if (ch != ' ' && ch != '\t' && ch != ',' && ch != ';') {
      return {{}, "Invalid coil list \"" + std::string(text) + "\": a coil is 0 or 1"};
    }
  }
  if (c.bits.empty()) c.refusal = "Invalid coil list \"" + std::string(text) + "\": a coil is 0 or 1";
  return c;
}

CoilValues CoilsFromHexBytes(std::string_view text, int32_t quantity) {
  const std::string quoted = "Invalid coil bytes \"" + std::string(text) + "\": ";
  if (std::string why = CheckQuantity(RangeOf(kWriteMultipleCoils), quantity); !why.empty()) return {{}, why};
  std::vector<uint8_t> bytes;
  int high = -1;  // the first digit of a byte, -1 between bytes
  for (size_t i = 0; i < text.size(); ++i) {
    const char ch = text[i];
    if (ch == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X') && high < 0) {
      ++i;  // a "0x" before a byte
      continue;
    }
    int v = -1;
    if (ch >= '0' && ch <= '9') v = ch - '0';
    if (ch >= 'A' && ch <= 'F') v = ch - 'A' + 10;
    if (ch >= 'a' && ch <= 'f') v = ch - 'a' + 10;
    if (v < 0 && ch != ' ' && ch != '\t' && ch != ',') return {{}, quoted + "bytes are pairs of hexadecimal digits"};
    if (v < 0) {
      if (high >= 0) return {{}, quoted + "bytes are pairs of hexadecimal digits"};
    } else if (high < 0) {
      high = v;
    } else {
      bytes.push_back(static_cast<uint8_t>(high << 4 | v));
      high = -1;
    }
  }
  const size_t expected = (static_cast<size_t>(quantity) + 7) / 8;
  if (high >= 0) return {{}, quoted + "bytes are pairs of hexadecimal digits"};
  if (bytes.size() != expected) {
    return {{},
            quoted + std::to_string(quantity) + (quantity == 1 ? " coil takes " : " coils take ") +
                std::to_string(expected) + (expected == 1 ? " byte" : " bytes")};
  }
  CoilValues c;
  for (int32_t i = 0; i < quantity; ++i) c.bits.push_back((bytes[static_cast<size_t>(i) / 8] >> (i % 8)) & 1);
  return c;
}

PduResult BuildMaskWriteRegister(int32_t address, int32_t andMask, int32_t orMask) {
  if (std::string why = CheckAddress(address); !why.empty()) return Refuse(why);
  if (std::string why = Check16(andMask, "AND mask", "a mask"); !why.empty()) return Refuse(why);
  if (std::string why = Check16(orMask, "OR mask", "a mask"); !why.empty()) return Refuse(why);
  Pdu p{kMaskWriteRegister};
  Put16(p, address);
  Put16(p, andMask);
  Put16(p, orMask);
  return {p, {}};
}

PduResult BuildReadWriteMultipleRegisters(int32_t readAddress, int32_t readQuantity, int32_t writeAddress,
                                          const std::vector<uint16_t>& values) {
  if (std::string why = CheckAddress(readAddress, "read address"); !why.empty()) return Refuse(why);
  if (std::string why = CheckQuantity(RangeOf(kReadWriteMultipleRegisters), readQuantity, "read quantity");
      !why.empty())
    return Refuse(why);
  if (std::string why = CheckSpan(readAddress, readQuantity, "read", "registers"); !why.empty()) return Refuse(why);
  if (std::string why = CheckAddress(writeAddress, "write address"); !why.empty()) return Refuse(why);
  const auto n = static_cast<int32_t>(std::min<size_t>(values.size(), 0x7FFFFFFF));
  if (std::string why = CheckQuantity(RangeOf(kReadWriteMultipleRegisters, true), n, "write quantity"); !why.empty())
    return Refuse(why);
  if (std::string why = CheckSpan(writeAddress, n, "written", "registers"); !why.empty()) return Refuse(why);
  Pdu p{kReadWriteMultipleRegisters};
  Put16(p, readAddress);
  Put16(p, readQuantity);
  Put16(p, writeAddress);
  Put16(p, n);
  p.push_back(static_cast<uint8_t>(2 * n));
  for (uint16_t v : values) Put16(p, v);
  return {p, {}};
}

PduResult BuildReadDeviceIdentification(int32_t readCode, int32_t objectId) {
  if (readCode < 1 || readCode > 4) {
    return Refuse("Invalid read device ID code \"" + std::to_string(readCode) +
                  "\": 1 basic, 2 regular, 3 extended or 4 one object");
  }
  if (objectId < 0 || objectId > 255) {
    return Refuse("Invalid object ID \"" + std::to_string(objectId) + "\": an object ID is a number from 0 to 255");
  }
  return {{kEncapsulatedInterface, kMeiReadDeviceId, static_cast<uint8_t>(readCode), static_cast<uint8_t>(objectId)},
          {}};
}

PduResult BuildReportServerId() { return {{kReportServerId}, {}}; }

PduResult BuildReadExceptionStatus() { return {{kReadExceptionStatus}, {}}; }

PduResult BuildDiagnostics(int32_t subFunction, const std::vector<uint16_t>& data) {
  if (subFunction != kDiagReturnQueryData) {
    return Refuse("Invalid sub-function \"" + std::to_string(subFunction) +
                  "\": only 0 (return query data) is supported");
  }
  const auto n = static_cast<int32_t>(std::min<size_t>(data.size(), 0x7FFFFFFF));
  // 08 has no quantity field: the count is that of the data words typed.
  if (std::string why = CheckQuantity(RangeOf(kDiagnostics), n, "query data count"); !why.empty()) return Refuse(why);
  Pdu p{kDiagnostics};
  Put16(p, subFunction);
  for (uint16_t v : data) Put16(p, v);
  return {p, {}};
}

// ---- length ----------------------------------------------------------------------------

PduLength ExpectedResponsePduLength(std::span<const uint8_t> rx, int32_t requestPduSize, size_t* needed,
                                    ObjectWalk* walk) {
  // Not yet: the answer stays so until `n` bytes are held.
  const auto notYet = [needed](size_t n) {
    if (needed) *needed = n;
    return PduLength{};
  };
  if (rx.empty()) return notYet(1);
  const uint8_t fc = rx[0];
  if (fc & 0x80) return PduLength::Of(2);
  switch (fc) {
    case kReadCoils:
    case kReadDiscreteInputs:
    case kReadHoldingRegisters:
    case kReadInputRegisters:
    case kReportServerId:
    case kReadWriteMultipleRegisters:
      if (rx.size() < 2) return notYet(2);
      return PduLength::Of(2 + rx[1]);
    case kWriteSingleCoil:
    case kWriteSingleRegister:
    case kWriteMultipleCoils:
    case kWriteMultipleRegisters:
      return PduLength::Of(5);
    case kMaskWriteRegister:
      return PduLength::Of(7);
    case kReadExceptionStatus:
      return PduLength::Of(2);
    case kDiagnostics:
      if (requestPduSize <= 0) return {PduLength::Kind::Unknown, 0};
      return PduLength::Of(requestPduSize);
    case kEncapsulatedInterface: {
      if (rx.size() < 2) return notYet(2);
      if (rx[1] != kMeiReadDeviceId) return {PduLength::Kind::Unknown, 0};
      // Header: function, MEI type, read code, conformity, more follows,
      // next object id, number of objects; then per object id, length, value.
      if (rx.size() < 7) return notYet(7);
      ObjectWalk fresh;
      ObjectWalk& w = walk ? *walk : fresh;
      for (; w.walked < rx[6]; ++w.walked) {
        if (rx.size() < w.next + 2) return notYet(w.next + 2);
        w.next += 2 + static_cast<size_t>(rx[w.next + 1]);
      }
      return PduLength::Of(static_cast<int32_t>(w.next));
    }
    default:
      return {PduLength::Kind::Unknown, 0};
  }
}

}  // namespace modbus
