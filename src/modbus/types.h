#pragma once
// The vocabulary of the Modbus layer: the framing (mode), the function codes
// the program builds and reads, and the register formats. Each rule
// about them ("which modes travel on a socket", "which formats take two
// registers", "what an answer to this function looks like") lives here, once.
#include <cstdint>

namespace modbus {

// The framing and the link it travels on. The values are the indices of the
// mode list and the numbers the settings store. A stored number outside the
// list is possible and is kept: it travels on the socket with RTU framing.
// ASCII frames (':' then hex characters, LRC, CR LF) go on the serial port
// (Ascii) or on the socket (AsciiOverTcp), as RTU frames do.
enum class Mode : int16_t { Rtu = 0, Tcp = 1, RtuOverTcp = 2, Ascii = 3, AsciiOverTcp = 4 };

// Any 16-bit mode number as a Mode (values outside the list included).
constexpr Mode ModeOf(int32_t number) { return static_cast<Mode>(static_cast<int16_t>(number)); }
// True for the two ASCII framings.
constexpr bool IsAscii(Mode m) { return m == Mode::Ascii || m == Mode::AsciiOverTcp; }
// True when the mode travels on the TCP socket (every mode but the serial
// RTU and ASCII ones).
constexpr bool IsSocketMode(Mode m) { return m != Mode::Rtu && m != Mode::Ascii; }
// True when frames carry the MBAP header (and no CRC): TCP only.
constexpr bool UsesMbap(Mode m) { return m == Mode::Tcp; }
// True when frames end with the CRC-16: the RTU framings.
constexpr bool UsesCrc(Mode m) { return !UsesMbap(m) && !IsAscii(m); }
// Where the slave byte of a frame of this mode stands (in ASCII framing: of
// the binary frame the characters carry).
constexpr int32_t SlaveOffset(Mode m) { return UsesMbap(m) ? 6 : 0; }
// Bytes after the PDU: the CRC in the RTU framings, the LRC of the binary
// frame in the ASCII ones.
constexpr int32_t TrailerSize(Mode m) { return UsesCrc(m) ? 2 : IsAscii(m) ? 1 : 0; }

// The function codes of the command list (and the two of writes the answer
// rules know).
enum class FunctionCode : uint8_t {
  ReadCoils = 1,
  ReadDiscreteInputs = 2,
  ReadHoldingRegisters = 3,
  ReadInputRegisters = 4,
  WriteSingleCoil = 5,
  WriteSingleRegister = 6,
  ReadExceptionStatus = 7,
  Diagnostics = 8,
  WriteMultipleCoils = 15,
  WriteMultipleRegisters = 16,
  ReportServerId = 17,
  MaskWriteRegister = 22,
  ReadWriteMultipleRegisters = 23,
  EncapsulatedInterface = 43,
};
// The number of a function code, as it goes on the wire.
constexpr uint8_t CodeOf(FunctionCode f) { return static_cast<uint8_t>(f); }

// How long a normal answer to a function is, from the slave byte on.
enum class AnswerShape {
  ByteCount,  // slave, function, byte count n, n data bytes
  Echo,       // slave, function, four bytes (address and value or quantity)
  Pdu,        // the PDU's own rule (ExpectedResponsePduLength in pdu_ext.h)
  Unknown,    // no rule: the MBAP length or the chunk tells
};
constexpr AnswerShape AnswerShapeOf(int32_t function) {
  switch (function) {
    case 1:
    case 2:
    case 3:
    case 4:
      return AnswerShape::ByteCount;
    case 5:
    case 6:
    case 15:
    case 16:
      return AnswerShape::Echo;
    case 7:
    case 8:
    case 17:
    case 22:
    case 23:
    case 43:
      return AnswerShape::Pdu;
    default:
      return AnswerShape::Unknown;
  }
}
// True for the functions the request form composes (01 to 08, 15, 16, 17,
// 22, 23 and 43/14).
constexpr bool IsComposable(int32_t function) {
  return (function >= 1 && function <= 8) || function == 15 || function == 16 || function == 17 || function == 22 ||
         function == 23 || function == 43;
}

// The register formats, in the order of the format list (the settings store
// the index, so the order is fixed). Any int converts; the helpers say what
// an index outside 0..28 means.
enum class Format : int32_t {
  Int16 = 0,
  Uint16 = 1,
  FloatAbcd = 2,
  FloatCdab = 3,
  FloatBadc = 4,
  FloatDcba = 5,
  Int32Abcd = 6,
  Int32Cdab = 7,
  Int32Badc = 8,
  Int32Dcba = 9,
  Uint32Abcd = 10,
  Uint32Cdab = 11,
  Uint32Badc = 12,
  Uint32Dcba = 13,
  // The 64-bit formats, kind-major, orders ABCDEFGH GHEFCDAB BADCFEHG HGFEDCBA.
  Int64Abcdefgh = 14,
  Int64Ghefcdab = 15,
  Int64Badcfehg = 16,
  Int64Hgfedcba = 17,
  Uint64Abcdefgh = 18,
  Uint64Ghefcdab = 19,
  Uint64Badcfehg = 20,
  Uint64Hgfedcba = 21,
  DoubleAbcdefgh = 22,
  DoubleGhefcdab = 23,
  DoubleBadcfehg = 24,
  DoubleHgfedcba = 25,
  // Views of one register.
  Hex = 26,
  Binary = 27,
  Ascii = 28,
};
// The fourteen 16- and 32-bit formats (the list before the wide ones).
inline constexpr int kFormatCount = 14;
// Every format of the format list.
inline constexpr int kAllFormatCount = 29;

// The kind of value a format reads; None for an index outside the list.
enum class ValueKind { None, Int16, Uint16, Float, Int32, Uint32, Int64, Uint64, Double, Hex, Binary, Ascii };
constexpr ValueKind KindOf(Format f) {
  const auto i = static_cast<int32_t>(f);
  if (i == 0) return ValueKind::Int16;
  if (i == 1) return ValueKind::Uint16;
  if (i >= 2 && i <= 5) return ValueKind::Float;
  if (i >= 6 && i <= 9) return ValueKind::Int32;
  if (i >= 10 && i <= 13) return ValueKind::Uint32;
  if (i >= 14 && i <= 17) return ValueKind::Int64;
  if (i >= 18 && i <= 21) return ValueKind::Uint64;
  if (i >= 22 && i <= 25) return ValueKind::Double;
  if (i == 26) return ValueKind::Hex;
  if (i == 27) return ValueKind::Binary;
  if (i == 28) return ValueKind::Ascii;
  return ValueKind::None;
}
// True for the HEX, BINARY and ASCII views of one register.
constexpr bool IsRegisterView(Format f) {
  const ValueKind k = KindOf(f);
  return k == ValueKind::Hex || k == ValueKind::Binary || k == ValueKind::Ascii;
}
// True for the twelve formats whose value takes four registers.
constexpr bool Is64Bit(Format f) {
  const ValueKind k = KindOf(f);
  return k == ValueKind::Int64 || k == ValueKind::Uint64 || k == ValueKind::Double;
}
// How many registers one value of the format takes: 1 (16-bit formats and
// the register views), 2 (32-bit) or 4 (64-bit). An index outside the list
// counts two, as the 32-bit formats it was always read like.
constexpr int RegistersPerValue(Format f) {
  const ValueKind k = KindOf(f);
  if (k == ValueKind::Int16 || k == ValueKind::Uint16 || IsRegisterView(f)) return 1;
  if (Is64Bit(f)) return 4;
  return 2;
}
// True when a value of the format takes one register.
constexpr bool IsOneRegister(Format f) { return RegistersPerValue(f) == 1; }
// True for the twelve formats whose value takes two registers.
constexpr bool Is32Bit(Format f) {
  const ValueKind k = KindOf(f);
  return k == ValueKind::Float || k == ValueKind::Int32 || k == ValueKind::Uint32;
}

// The order of the bytes A (most significant) .. D of a 32-bit value on the
// wire, by the suffix of the format's name.
enum class WordOrder { Abcd, Cdab, Badc, Dcba };
// Meaningful for the 32-bit formats only.
constexpr WordOrder OrderOf(Format f) { return static_cast<WordOrder>((static_cast<int32_t>(f) - 2) % 4); }

}  // namespace modbus
