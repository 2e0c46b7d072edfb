#include "cli/device_check.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace cli {

std::optional<std::string> CheckSerialDevice(const std::string& path) {
  const std::string head = "vesktarvelo-cli: invalid --device '" + path + "': ";
  // The port opened for a bare name ("ttyUSB0") is the device of that name
  // in /dev; a name with a slash is a path.
  const std::string device = path.find('/') == std::string::npos ? "/dev/" + path : path;
  struct stat info {};
  if (::stat(device.c_str(), &info) != 0) return head + std::strerror(errno);
  if (!S_ISCHR(info.st_mode)) return head + "not a serial port (not a character device)";
  if (::access(device.c_str(), R_OK | W_OK) != 0) return head + std::strerror(errno);
  return std::nullopt;
}

}  // namespace cli
