#pragma once
// A fault found in a received frame: what is wrong and which bytes it
// concerns (offset and length; length 0 paints none). The assembler counts
// offsets in the whole frame; the answer checks of the PDU count them from the
// function code and the ASCII decoder from the slave byte, and the code that
// logs their faults adds the offset of that start in the whole frame.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace modbus {

struct Fault {
  std::string message;
  int32_t offset = 0;
  int32_t length = 0;

  bool operator==(const Fault&) const = default;
};

// A hash of a fault, for looking one up among many.
inline size_t HashOf(const Fault& f) {
  return std::hash<std::string>{}(f.message) ^ (static_cast<size_t>(static_cast<uint32_t>(f.offset)) << 32) ^
         static_cast<uint32_t>(f.length);
}

// The same fault, named for the checks that count offsets within the PDU.
using PduFault = Fault;

}  // namespace modbus
