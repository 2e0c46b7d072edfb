#pragma once
// A fault found in a received frame: the message for the log and the bytes to
// highlight, counted from the start of the PDU (the function code) for the
// answer checks, or from the slave byte for the ASCII decoder. The code that
// logs it adds the offset of that start in the whole frame.
#include <cstdint>
#include <string>

namespace modbus {

struct PduFault {
  std::string message;
  int32_t offset = 0;
  int32_t length = 0;

  bool operator==(const PduFault&) const = default;
};

}  // namespace modbus
