#pragma once
// Request frames from values. Every builder starts from a 256-byte work
// buffer of zeros, writes the MBAP header when the mode uses one or appends
// the CRC-16 in RTU framing, and returns the buffer cut to the frame's length;
// in ASCII framing the frame is the characters of slave byte and PDU with
// their LRC (':' ... CR LF), one byte a character.
// Slave, function and the byte count of function 16 are written only when
// they fit in a byte (0 otherwise); addresses, counts, values and the
// transaction identifier are cut to their low 16 bits.
//
// The transaction identifier is an input: the builders never count it on.
// A caller that numbers its requests takes NextTransactionId for each frame
// it builds in a mode that uses the MBAP header.
#include <cstdint>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "modbus/types.h"

namespace modbus {

// The identifier after `id`: one more, saturating at 2147483647 (the wire then
// carries FF FF for good).
int32_t NextTransactionId(int32_t id);

// Function 1..4 (any code in fact): address and count.
Frame ReadRequest(Mode mode, int32_t slave, int32_t function, int32_t address, int32_t count, int32_t transactionId);
// Function 5: FF 00 for on, 00 00 for off.
Frame WriteSingleCoilRequest(Mode mode, int32_t slave, int32_t function, int32_t address, bool on,
                             int32_t transactionId);
// Function 6: one register value.
Frame WriteSingleRegisterRequest(Mode mode, int32_t slave, int32_t function, int32_t address, int32_t value,
                                 int32_t transactionId);
// Function 16 with `count` registers, of which the first two carry value1 and
// value2 (the program writes one or two). A count that would not fit in the
// work buffer (or a negative one) is laid out with as many data bytes as fit;
// the count, byte count and MBAP length fields are written as given.
Frame WriteMultipleRegistersRequest(Mode mode, int32_t slave, int32_t function, int32_t address, int32_t count,
                                    int32_t value1, int32_t value2, int32_t transactionId);
// Function 16 with one register per value (at most 123 are laid out).
Frame WriteRegistersRequest(Mode mode, int32_t slave, int32_t address, const std::vector<int32_t>& values,
                            int32_t transactionId);

// A frame around a PDU (function code and data): the MBAP header or the CRC
// as the mode needs. The PDU is cut to kMaxPduSize bytes.
Frame PduRequest(Mode mode, int32_t slave, const std::vector<uint8_t>& pdu, int32_t transactionId);

// A request as the form describes it, in values.
struct RequestValues {
  Mode mode = Mode::Rtu;
  int32_t slave = 0;
  int32_t function = 0;
  int32_t address = 0;
  // Reads: the number of values (a 32-bit format reads two registers each).
  int32_t quantity = 0;
  // Writes: the value typed.
  double value = 0.0;
  Format format = Format::Int16;
  // Writes in a 64-bit format or a register view: the value as typed (a
  // double cannot hold every 64-bit integer).
  std::string valueText;
  // The functions beyond the seven basic ones:
  std::vector<uint8_t> coils;   // 15: one 0 or 1 per coil, the first coil first
  std::vector<uint16_t> words;  // 23: the registers written; 08: the query data
  int32_t writeAddress = 0;     // 23: where the write block starts (address: the read block)
  int32_t andMask = 0;          // 22
  int32_t orMask = 0;           // 22
  int32_t readCode = 1;         // 43/14: 1 basic, 2 regular, 3 extended, 4 one object
  int32_t objectId = 0;         // 43/14: the first object asked for
};

enum class BuildResult {
  Built,  // the frames (none for a function the form does not compose)
  // A 32- or 64-bit value written with function 06 or 16 whose last
  // register would lie beyond 65535.
  SecondRegisterOutOfRange,
  // The typed text is no value of a 64-bit format or register view.
  ValueRefused,
  // A value of the functions beyond the seven basic ones out of its range:
  // the refusal says which.
  Refused,
};

// The frames of one transaction: one frame, or one single-register write per
// register for a 32- or 64-bit value written with function 06 (two or four
// frames at address, address + 1, ...); function 16 writes all the value's
// registers in one frame. `transactionId` holds the last identifier used
// afterwards (moved on only in MBAP framing). Nothing is appended, and the
// identifier is left alone, when it is refused; `refusal` (when given) then
// says why a typed value or a value of the further functions was refused.
BuildResult BuildRequestFrames(const RequestValues& request, int32_t& transactionId, std::vector<Frame>& out,
                               std::string* refusal = nullptr);

// The value rounded half to even, as a Long; beyond the Long range the whole
// number wraps like two's complement arithmetic.
int32_t WholeValue(double value);

}  // namespace modbus
