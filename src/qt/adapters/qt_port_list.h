#pragma once
// The system's serial ports from QSerialPortInfo.
#include <string>
#include <vector>

#include "platform/platform.h"

namespace qt {

// The ports QSerialPortInfo::availablePorts() finds, in its order, followed
// by the extra entries added here (a pseudo-terminal link of a test, say),
// each once: an extra entry whose name the system already lists is left out.
class QtPortList : public platform::PortList {
 public:
  std::vector<platform::PortInfo> Ports() override;

  // Appends an entry by the name (or path) it is opened with.
  void AddExtraPort(const std::string& name);
  void ClearExtraPorts() { extra_.clear(); }

 private:
  std::vector<platform::PortInfo> extra_;
};

}  // namespace qt
