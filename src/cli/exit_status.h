#pragma once
// The exit status of a run: that of its most severe outcome.
//
// Severity, least to most: Ok (0) < Exception (5) < ProtocolError (6) <
// Timeout (4) < ConnectionFailure (3). The further a transaction got from a
// valid answer, the more severe: an exception is a valid answer that refuses,
// a protocol error an answer that cannot be trusted, a time-out no answer at
// all, and a connection failure means nothing could even be asked. A usage
// error (2) ends the run before anything is sent, so it never mixes with these.
#include "cli/record.h"

namespace cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitConnection = 3;
inline constexpr int kExitTimeout = 4;
inline constexpr int kExitException = 5;
inline constexpr int kExitProtocol = 6;

int ExitStatusOf(Outcome outcome);
// 0 for Ok up to 4 for ConnectionFailure.
int Severity(Outcome outcome);
Outcome MoreSevere(Outcome a, Outcome b);

// Collects the outcomes of a run.
class RunOutcome {
 public:
  void Add(Outcome outcome) { worst_ = MoreSevere(worst_, outcome); }
  Outcome Worst() const { return worst_; }
  int ExitStatus() const { return ExitStatusOf(worst_); }

 private:
  Outcome worst_ = Outcome::Ok;
};

}  // namespace cli
