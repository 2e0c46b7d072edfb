#include "transaction/serial_settings.h"

#include <vector>

#include "common/module1.h"

namespace {

std::vector<std::string> SplitAtCommas(std::string_view text) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t comma = text.find(',', start);
    parts.push_back(TrimBlank(text.substr(start, comma == std::string_view::npos ? comma : comma - start)));
    if (comma == std::string_view::npos) return parts;
    start = comma + 1;
  }
}

// A whole number written with decimal digits only, between lo and hi.
bool ReadCount(const std::string& text, long long lo, long long hi, long long& out) {
  if (text.empty() || text.size() > 10) return false;
  long long v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v < lo || v > hi) return false;
  out = v;
  return true;
}

}  // namespace

bool ParseSerialSettings(std::string_view text, platform::SerialSettings& settings, std::string& reason) {
  const std::vector<std::string> parts = SplitAtCommas(text);
  if (parts.size() != 4) {
    reason = "Invalid settings: " + std::string(text);
    return false;
  }
  long long baud = 0, dataBits = 0, stopBits = 0;
  if (!ReadCount(parts[0], 1, 2147483647LL, baud)) {
    reason = "Invalid baud rate: " + parts[0];
    return false;
  }
  char parity = parts[1].size() == 1 ? parts[1][0] : '\0';
  if (parity >= 'A' && parity <= 'Z') parity = static_cast<char>(parity - 'A' + 'a');
  if (parity != 'n' && parity != 'o' && parity != 'e') {
    reason = "Invalid parity: " + parts[1];
    return false;
  }
  if (!ReadCount(parts[2], 5, 8, dataBits)) {
    reason = "Invalid data bits: " + parts[2];
    return false;
  }
  if (!ReadCount(parts[3], 1, 2, stopBits)) {
    reason = "Invalid stop bits: " + parts[3];
    return false;
  }
  settings.baud = static_cast<int32_t>(baud);
  settings.parity = parity;
  settings.dataBits = static_cast<int>(dataBits);
  settings.stopBits = static_cast<int>(stopBits);
  return true;
}
