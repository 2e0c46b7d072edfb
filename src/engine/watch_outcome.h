#pragma once
// How one transaction of a watched block ended.
#include <cstdint>

namespace engine {

enum class WatchOutcome : uint8_t {
  Good,             // a complete, valid answer with the values
  Exception,        // the slave answered with a Modbus exception
  Timeout,          // no complete answer within the request time-out
  ProtocolError,    // an answer that failed a check (length, CRC, header, ...)
  ConnectionError,  // the link could not be opened or was lost
};

}  // namespace engine
