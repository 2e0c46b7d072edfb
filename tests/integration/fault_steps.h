#pragma once
// The fault peer's script steps as the tests expect them: the bytes each sends, and the faults in
// answer to a read of one register in TCP with the rows they make.
#include <sstream>

#include "panel_rig.h"

namespace rig {

// The bytes a fault peer's script step sends ("reply ..." or "chunks <ms> ... | ..."), in answer to
// a request of unit 1, function code 03 and transaction id `tid`; plain hex pairs read alone too.
inline Frame Sent(const std::string& step, int tid) {
  std::istringstream in(step.rfind("chunks", 0) == 0 ? step.substr(step.find(' ', 7)) : step);  // not its pause
  Frame f;
  size_t len = 0;
  for (std::string t; in >> t;) {
    if (t == "TID") f.insert(f.end(), {static_cast<uint8_t>(tid >> 8), static_cast<uint8_t>(tid)});
    if (t == "LEN") len = f.size(), f.insert(f.end(), {0, 0});
    if (t == "UID" || t == "FC" || t == "EFC") f.push_back(t == "UID" ? 1 : t == "FC" ? 3 : 0x83);
    if (t == "CRC") f = WithCrc(f);
    if (t.size() == 2 && t != "FC" && std::isxdigit(t[0]) && std::isxdigit(t[1]))
      f.push_back(static_cast<uint8_t>(std::stoi(t, nullptr, 16)));
  }
  if (len) f[len + 1] = static_cast<uint8_t>(f.size() - len - 2);
  return f;
}
// Faults in answer to a read of one register (its value 7) in TCP: the step, the row after the
// response row ("TID": the request's id), the bytes painted in it, and whether the view shows it.
struct Fault {
  const char *step, *error;
  std::vector<size_t> painted;
  bool shown;
};
inline const Fault kTcpFaults[] = {
    {"reply 99 99 00 00 LEN UID FC 02 00 07", "Protocol Error: Wrong Transaction ID (expected TID)", {0, 1}, true},
    {"reply TID 00 01 LEN UID FC 02 00 07", "Protocol Error: Invalid protocol ID (expected 00 00)", {2, 3}, true},
    {"reply TID 00 00 00 02 UID FC 02 00 07", "Protocol Error: Invalid MBAP Length", {4, 5}, true},
    {"reply TID 00 00 LEN 09 FC 02 00 07", "Protocol Error: Wrong response slave (expected 01)", {6}, true},
    {"reply TID 00 00 LEN UID 04 02 00 07", "Protocol Error: Wrong response command (expected 03)", {7}, false},
    {"reply TID 00 00 LEN UID EFC 0C", "Modbus Exception: Unknown exception (Code 12)", {8}, false},
    {"chunks 60 TID 00 | 00 LEN UID FC | 02 00 07", "", {}, true},
};
// The rows a step makes after the request row.
inline Rows FaultRows(const std::string& step, std::string error, int tid) {
  if (const size_t at = error.find("TID"); at != std::string::npos) error.replace(at, 3, Hex(Sent("TID", tid)));
  return error.empty() ? Rows{Rsp(Sent(step, tid))} : Rows{Rsp(Sent(step, tid)), error};
}

}  // namespace rig
