#pragma once
// Session statistics: how the transactions of this session ended, and the
// response times of the good answers. Constant memory: counters and running
// sums only, no history.
#include <cstdint>

namespace engine {

struct SessionStats {
  // Requests put on the wire (each frame of a two-frame write counts).
  uint64_t sent = 0;
  // Each complete answer counts in exactly one of these three: with at least
  // one protocol error, else as a Modbus exception, else as a good answer.
  uint64_t answers = 0;
  uint64_t protocolErrors = 0;
  uint64_t exceptions = 0;
  // Requests that got no complete answer in time ("Request Timeout").
  uint64_t timeouts = 0;
  // Socket error events, "Connect timeout", "Failed to open ...",
  // "COM port not selected" and "COM ports not found".
  uint64_t connectionErrors = 0;

  // Response times of the good answers in ms: the last one, the least, the
  // greatest and their sum (the mean is sum / answers). Meaningful once
  // answers > 0.
  int64_t lastMs = 0;
  int64_t minMs = 0;
  int64_t maxMs = 0;
  int64_t totalMs = 0;

  // A good answer that took `responseMs` (negative counts as 0).
  void CountAnswer(int64_t responseMs);
  // The mean response time in tenths of a millisecond, rounded half up; 0
  // without answers.
  int64_t MeanTenthsMs() const;
};

}  // namespace engine
