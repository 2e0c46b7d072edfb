#include "cli/device_check.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/platform.h"

namespace cli {

std::optional<std::string> CheckSerialDevice(const std::string& path) {
  const std::string head = "vesktarvelo-cli: invalid --device '" + path + "': ";
  // The device the serial port opens for the name.
  const std::string device = platform::SerialDevicePath(path);
  struct stat info {};
  if (::stat(device.c_str(), &info) != 0) return head + std::strerror(errno);
  if (!S_ISCHR(info.st_mode)) return head + "not a serial port (not a character device)";
  if (::access(device.c_str(), R_OK | W_OK) != 0) return head + std::strerror(errno);
  return std::nullopt;
}

}  // namespace cli
