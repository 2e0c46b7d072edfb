#include "cli/exit_status.h"

namespace cli {

int ExitStatusOf(Outcome outcome) {
  switch (outcome) {
    case Outcome::Ok:
      return kExitOk;
    case Outcome::Exception:
      return kExitException;
    case Outcome::ProtocolError:
      return kExitProtocol;
    case Outcome::Timeout:
      return kExitTimeout;
    case Outcome::ConnectionFailure:
      return kExitConnection;
  }
  return kExitConnection;
}

int Severity(Outcome outcome) {
  switch (outcome) {
    case Outcome::Ok:
      return 0;
    case Outcome::Exception:
      return 1;
    case Outcome::ProtocolError:
      return 2;
    case Outcome::Timeout:
      return 3;
    case Outcome::ConnectionFailure:
      return 4;
  }
  return 4;
}

Outcome MoreSevere(Outcome a, Outcome b) { return Severity(b) > Severity(a) ? b : a; }

}  // namespace cli
