#pragma once
// One transaction as the command-line client reports it: what was asked,
// what came back, how long it took and what was wrong with it. Filled from
// the engine's events; the writers of output.h turn it into text.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/local_time.h"

namespace cli {

// How a transaction ended. The exit status of a run is that of its most
// severe outcome (exit_status.h).
enum class Outcome {
  Ok,                 // answered without fault (or a broadcast, which gets no answer)
  Exception,          // the slave answered with a Modbus exception
  ProtocolError,      // an answer with at least one fault
  Timeout,            // no complete answer in time
  ConnectionFailure,  // the link could not be opened or broke
};

struct RecordFault {
  std::string message;  // e.g. "Wrong Transaction ID (expected 00 2A)"
  int32_t offset = 0;   // of the first painted byte in `response`
  int32_t length = 0;   // painted bytes
};

struct RecordException {
  int code = 0;
  // The exception's name, e.g. "Illegal Data Address"; "Unknown exception"
  // for a code without one.
  std::string text;
  // An unknown code's byte in `response`, painted in the traffic rows as the
  // window's log paints it; no bytes (length 0) for a known code.
  int32_t offset = 0;
  int32_t length = 0;
};

struct RecordValue {
  uint32_t address = 0;  // protocol address of the value's first item
  std::string text;      // in the chosen type, e.g. "-1", "1.5", "0x00FF"
  // The value as a number literal (exact, e.g. "18446744073709551615", "1.5");
  // none when the value is not a number (NaN, text, an identification object).
  std::optional<std::string> number;
  // Shown instead of the address when set (device identification objects,
  // e.g. "VendorName").
  std::string label;
};

struct TransactionRecord {
  LocalTime requestTime;   // when the request went out
  LocalTime responseTime;  // when the answer completed, the time-out fired or the link failed
  Outcome outcome = Outcome::Ok;
  int slave = 1;
  int function = 3;
  uint32_t address = 0;
  bool bits = false;  // values are coils or inputs (0/1)
  std::vector<RecordValue> values;
  std::optional<int64_t> responseMs;  // none without a complete answer
  // The exception code of an exception answer; with faults it is shown in
  // the traffic rows only, the outcome being a protocol error.
  std::optional<RecordException> exception;
  std::vector<RecordFault> faults;
  // Time-out or connection failure: the reason, e.g. "Request Timeout",
  // "Connection refused". Empty otherwise.
  std::string error;
  std::vector<uint8_t> request;
  std::vector<uint8_t> response;  // what arrived, complete or not
};

}  // namespace cli
