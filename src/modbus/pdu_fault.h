#pragma once
// A fault found in a received frame: what is wrong and which bytes it
// concerns (offset and length; length 0 paints none). The assembler counts
// offsets in the whole frame; the answer checks of the PDU count them from the
// function code and the ASCII decoder from the slave byte, and the code that
// logs their faults adds the offset of that start in the whole frame.
#include <cstdint>
#include <string>

namespace modbus {

struct Fault {
  std::string message;
  int32_t offset = 0;
  int32_t length = 0;

  bool operator==(const Fault&) const = default;
};

// The same fault, named for the checks that count offsets within the PDU.
using PduFault = Fault;

}  // namespace modbus
