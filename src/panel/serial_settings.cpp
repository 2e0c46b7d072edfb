#include "panel/serial_settings.h"

#include "common/module1.h"

namespace {

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

std::string ParityLetter(const std::string& parityItem) {
  if (parityItem.empty()) return {};
  const char c = parityItem[0];
  return std::string(1, (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c);
}

std::string LineSettingsText(const std::string& speed, const std::string& parity, int stopBits) {
  return speed + "," + parity + ",8," + std::to_string(stopBits);
}

std::optional<platform::SerialSettings> LineSettings(const std::string& speed, const std::string& parity, int stopBits,
                                                     std::string& reason) {
  // A speed typed with a comma does not split into the four parts.
  if (speed.find(',') != std::string::npos) {
    reason = "Invalid settings: " + LineSettingsText(speed, parity, stopBits);
    return std::nullopt;
  }
  const std::string baudText = TrimBlank(speed);
  long long baud = 0, stop = 0;
  if (!ReadCount(baudText, 1, 2147483647LL, baud)) {
    reason = "Invalid baud rate: " + baudText;
    return std::nullopt;
  }
  const std::string parityText = TrimBlank(parity);
  char p = parityText.size() == 1 ? parityText[0] : '\0';
  if (p >= 'A' && p <= 'Z') p = static_cast<char>(p - 'A' + 'a');
  if (p != 'n' && p != 'o' && p != 'e') {
    reason = "Invalid parity: " + parityText;
    return std::nullopt;
  }
  const std::string stopText = std::to_string(stopBits);
  if (!ReadCount(stopText, 1, 2, stop)) {
    reason = "Invalid stop bits: " + stopText;
    return std::nullopt;
  }
  platform::SerialSettings settings;
  settings.baud = static_cast<int32_t>(baud);
  settings.parity = p;
  settings.dataBits = 8;
  settings.stopBits = static_cast<int>(stop);
  return settings;
}
