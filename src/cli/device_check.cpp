#include "cli/device_check.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/platform.h"

namespace cli {

std::optional<std::string> CheckSerialDevice(const std::string& path) {
  // The device the serial port opens for the name. A bare name stands for a
  // device in /dev, not for a file in the working folder: the message names
  // the path looked at, so "ttyX: No such file" is not read as about ./ttyX.
  const std::string device = platform::SerialDevicePath(path);
  const std::string head =
      "vesktarvelo-cli: invalid --device '" + path + "': " + (device != path ? device + ": " : std::string());
  struct stat info {};
  if (::stat(device.c_str(), &info) != 0) return head + std::strerror(errno);
  if (!S_ISCHR(info.st_mode)) return head + "not a serial port (not a character device)";
  if (::access(device.c_str(), R_OK | W_OK) != 0) return head + std::strerror(errno);
  return std::nullopt;
}

}  // namespace cli
