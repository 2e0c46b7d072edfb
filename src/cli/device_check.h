#pragma once
// The check of a serial device path before anything is opened: a device that
// does not exist or may not be opened is a usage error, reported before a
// byte goes anywhere.
#include <optional>
#include <string>

namespace cli {

// Nothing when `path` names a character device this process may read and
// write (a bare name such as "ttyUSB0" names the device in /dev, as the port
// opened for it does); otherwise the one-line error, e.g.
// "vesktarvelo-cli: invalid --device '/dev/ttyUSB9': No such file or directory"
// ("... 'ttyUSB9': /dev/ttyUSB9: No such file or directory" for a bare name).
std::optional<std::string> CheckSerialDevice(const std::string& path);

}  // namespace cli
