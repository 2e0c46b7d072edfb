#pragma once
// Requests and answers of the function codes beyond the seven basic ones:
// 07 Read Exception Status, 08 Diagnostics (return query data), 15 Write
// Multiple Coils, 17 Report Server ID, 22 Mask Write Register, 23 Read/Write
// Multiple Registers and 43/14 Read Device Identification.
//
// Everything here works on PDUs: the function code and its data, without the
// slave byte, the MBAP header or the CRC/LRC; the framing adds those. Received
// bytes are read through bounds-checked access only, so any byte sequence is
// safe to pass.
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"
#include "modbus/pdu_fault.h"
#include "modbus/types.h"

namespace modbus {

using Pdu = std::vector<uint8_t>;

// The largest PDU: a 256-byte serial frame less the slave byte and the CRC.
inline constexpr int32_t kMaxPduSize = 253;

// Function codes handled here, by their names in FunctionCode (the basic ones
// are listed for the range table).
inline constexpr uint8_t kReadCoils = CodeOf(FunctionCode::ReadCoils);
inline constexpr uint8_t kReadDiscreteInputs = CodeOf(FunctionCode::ReadDiscreteInputs);
inline constexpr uint8_t kReadHoldingRegisters = CodeOf(FunctionCode::ReadHoldingRegisters);
inline constexpr uint8_t kReadInputRegisters = CodeOf(FunctionCode::ReadInputRegisters);
inline constexpr uint8_t kWriteSingleCoil = CodeOf(FunctionCode::WriteSingleCoil);
inline constexpr uint8_t kWriteSingleRegister = CodeOf(FunctionCode::WriteSingleRegister);
inline constexpr uint8_t kReadExceptionStatus = CodeOf(FunctionCode::ReadExceptionStatus);
inline constexpr uint8_t kDiagnostics = CodeOf(FunctionCode::Diagnostics);
inline constexpr uint8_t kWriteMultipleCoils = CodeOf(FunctionCode::WriteMultipleCoils);
inline constexpr uint8_t kWriteMultipleRegisters = CodeOf(FunctionCode::WriteMultipleRegisters);
inline constexpr uint8_t kReportServerId = CodeOf(FunctionCode::ReportServerId);
inline constexpr uint8_t kMaskWriteRegister = CodeOf(FunctionCode::MaskWriteRegister);
inline constexpr uint8_t kReadWriteMultipleRegisters = CodeOf(FunctionCode::ReadWriteMultipleRegisters);
inline constexpr uint8_t kEncapsulatedInterface = CodeOf(FunctionCode::EncapsulatedInterface);
// The MEI type of Read Device Identification within function 43.
inline constexpr uint8_t kMeiReadDeviceId = 14;
// The one Diagnostics sub-function built here: the server echoes the request.
inline constexpr uint16_t kDiagReturnQueryData = 0x0000;

// ---- quantity ranges ---------------------------------------------------------

// How many items one request may carry, and how to say so: "read 1 to 125
// registers". The bounds follow from the PDU size (a 253-byte PDU holds
// 2000 bits or 125 registers in an answer, 1968 coils or 123 registers in a
// write request, 121 registers beside a read block in function 23).
struct QuantityRange {
  int32_t min = 0;
  int32_t max = 0;
  std::string_view verb;  // "read" or "write"
  std::string_view unit;  // "coils", "discrete inputs", "registers", "data words"

  bool Contains(int32_t q) const { return q >= min && q <= max; }
  // "read 1 to 125 registers": the text for a field's label or tool tip.
  std::string Text() const;
};

// One function code's name and quantity ranges.
struct FunctionLimits {
  uint8_t function = 0;
  uint8_t meiType = 0;  // 14 for Read Device Identification, otherwise 0
  std::string_view name;
  std::optional<QuantityRange> quantity;       // the read block, or the write block of a write
  std::optional<QuantityRange> writeQuantity;  // function 23 only: its write block
};

// Every function code the program builds, in function-code order.
std::span<const FunctionLimits> FunctionTable();
// The row of a function code (43 means 43/14), or nothing.
const FunctionLimits* FindFunction(uint8_t function);

// Empty when q lies in the range; otherwise the refusal
// 'Invalid <field> "<q>": <range text>', e.g.
// 'Invalid quantity "2000": write 1 to 1968 coils'.
std::string CheckQuantity(const QuantityRange& range, int32_t q, std::string_view field = "quantity");

// ---- request builders ----------------------------------------------------------

// A built PDU, or the reason why the values cannot make one (then `pdu` is
// empty). Nothing is built from a value out of range: the operator is told.
struct PduResult {
  Pdu pdu;
  std::string refusal;
  bool Ok() const { return refusal.empty(); }
};

// 15: `bits` holds one 0 or 1 per coil, the first coil first; on the wire
// they are packed eight to a byte, the first coil in bit 0 of the first byte.
// Coils that would lie past 65535 are refused.
PduResult BuildWriteMultipleCoils(int32_t address, const std::vector<uint8_t>& bits);
// The coils of a 15 request as the operator types them, or the refusal.
struct CoilValues {
  std::vector<uint8_t> bits;  // one 0 or 1 per coil, the first coil first
  std::string refusal;
  bool Ok() const { return refusal.empty(); }
};
// A list of 0 and 1: "1 0 1 1", "1,0;1" or "1011" (blanks, commas and
// semicolons separate, or nothing does).
CoilValues CoilsFromList(std::string_view text);
// Hexadecimal bytes as they go on the wire ("CD 01", "CD01", "0xCD 0x01"),
// holding `quantity` coils: exactly (quantity + 7) / 8 bytes, the first coil
// in bit 0 of the first byte. Bits beyond the quantity are not sent as coils
// (the builder fills them with 0).
CoilValues CoilsFromHexBytes(std::string_view text, int32_t quantity);
// 22: the register becomes (current AND andMask) OR (orMask AND NOT andMask).
PduResult BuildMaskWriteRegister(int32_t address, int32_t andMask, int32_t orMask);
// 23: writes `values` at writeAddress, then reads readQuantity registers at
// readAddress, in one transaction. Either block running past 65535 is refused.
PduResult BuildReadWriteMultipleRegisters(int32_t readAddress, int32_t readQuantity, int32_t writeAddress,
                                          const std::vector<uint16_t>& values);
// 43/14: readCode 1 basic, 2 regular, 3 extended (a stream from objectId on),
// 4 one individual object.
PduResult BuildReadDeviceIdentification(int32_t readCode, int32_t objectId);
// 17 and 07 carry no data.
PduResult BuildReportServerId();
PduResult BuildReadExceptionStatus();
// 08 with sub-function 0000 (return query data) and 1 to 125 data words.
PduResult BuildDiagnostics(int32_t subFunction, const std::vector<uint16_t>& data);

// ---- response length --------------------------------------------------------------

// What the bytes received so far say about the answer's PDU length.
struct PduLength {
  enum class Kind {
    Known,    // `bytes` is the whole PDU's length
    NotYet,   // more bytes are needed before the length can be told
    Unknown,  // a function code or layout this code does not know
  };
  Kind kind = Kind::NotYet;
  int32_t bytes = 0;

  static PduLength Of(int32_t n) { return {Kind::Known, n}; }
  bool operator==(const PduLength&) const = default;
};

// The expected PDU length of an answer from the bytes received so far
// (`received` starts at the function code). An exception answer is 2 bytes.
// Functions 1-4, 17 and 23 are counted by their byte count, 5, 6, 15, 16 and
// 22 are fixed echoes, 07 is 2 bytes, 08 echoes the request (so it needs
// `requestPduSize`, the request PDU's length; 0 gives Unknown), and 43/14 is
// walked object by object. A 43 answer with another MEI type is Unknown.
// When the answer is NotYet and `needed` is given, it is set to the number of
// bytes that must be held before the answer can change (the bytes before
// that only lengthen a value being walked over).
//
// `walk`, when given, carries the 43/14 walk from one call to the next: the
// caller passes the same one while the bytes received only lengthen (never
// change), and each object is walked once instead of again from the first on
// every call (an answer of 255 short objects would cost their number squared).
struct ObjectWalk {
  size_t next = 7;  // offset of the next object's id
  int32_t walked = 0;
};
PduLength ExpectedResponsePduLength(std::span<const uint8_t> received, int32_t requestPduSize = 0,
                                    size_t* needed = nullptr, ObjectWalk* walk = nullptr);

// ---- answer checks ---------------------------------------------------------------

// The checks of a complete normal answer (function code without bit 7) to
// `request`, both PDUs: echoes of address, quantity and masks (15, 22),
// the echo of sub-function and data (08), the byte count against the
// quantity asked (23), the byte count's minimum (17), and the header and
// objects of 43/14. Offsets count from the function code. The function code
// itself is the framing's check; an answer to another function is not checked.
std::vector<PduFault> CheckResponsePdu(std::span<const uint8_t> request, std::span<const uint8_t> response);

// ---- view lines ------------------------------------------------------------------------

// The name of a device identification object: "VendorName", "ProductCode",
// "MajorMinorRevision", "VendorUrl", "ProductName", "ModelName",
// "UserApplicationName"; empty for reserved and private ids.
std::string_view DeviceObjectName(uint8_t id);

// Bytes shown as text: printable ASCII as is, anything else (a backslash
// too, so that the text "\xFF" never reads as the byte 0xFF) as \xNN.
std::string Printable(std::span<const uint8_t> bytes);

struct DeviceObject {
  uint8_t id = 0;
  std::string value;  // the object's bytes as received
};

// A Read Device Identification answer, as far as its bytes are present.
struct DeviceIdAnswer {
  uint8_t readCode = 0;
  uint8_t conformity = 0;
  bool moreFollows = false;  // the server has more objects: ask again from nextObjectId
  uint8_t nextObjectId = 0;
  uint8_t objectCount = 0;            // as the answer announces it
  std::vector<DeviceObject> objects;  // the objects whose bytes are all present
};
// Nothing when the PDU is not a 43/14 answer with its 7 header bytes.
std::optional<DeviceIdAnswer> ParseDeviceId(std::span<const uint8_t> response);

// The lines the response view shows for an answer of the functions of this
// file (nothing for others). Addresses are 5 decimal digits, or "0x" and 4
// hex digits when `hexAddresses` is set, as in the rest of the view.
// Device identification: "00 VendorName: text" per object (bytes outside
// printable ASCII as \xNN), then "More follows: next object ID 03" when the
// server has more. Report server ID: its id, run indicator and further data.
// Exception status: the status byte and its eight bits. Read/write: the
// written registers and the registers read. Diagnostics: the echoed data.
std::vector<std::string> ResponseLines(std::span<const uint8_t> request, std::span<const uint8_t> response,
                                       bool hexAddresses = false);
// The same lines with each address written by `addressText` (a caller that
// writes addresses in another notation).
std::vector<std::string> ResponseLines(std::span<const uint8_t> request, std::span<const uint8_t> response,
                                       const std::function<std::string(int32_t)>& addressText);

}  // namespace modbus
