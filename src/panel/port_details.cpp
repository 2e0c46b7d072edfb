#include "panel/port_details.h"

#include "common/module1.h"

namespace {

std::string Hex4(uint16_t v) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string s(4, '0');
  for (int i = 3; i >= 0; --i) {
    s[static_cast<size_t>(i)] = kDigits[v & 0x0F];
    v = static_cast<uint16_t>(v >> 4);
  }
  return s;
}

}  // namespace

std::string PortDetailsText(const platform::PortInfo& port) {
  std::string text;
  auto add = [&text](const char* label, const std::string& value) {
    if (value.empty()) return;
    if (!text.empty()) text += '\n';
    text += label;
    text += value;
  };
  add("Description: ", TrimBlank(port.description));
  add("Manufacturer: ", TrimBlank(port.manufacturer));
  add("Serial number: ", TrimBlank(port.serialNumber));
  if (port.vendorId) add("USB vendor ID: ", Hex4(*port.vendorId));
  if (port.productId) add("USB product ID: ", Hex4(*port.productId));
  return text.empty() ? "No details reported for " + TrimBlank(port.name) : text;
}
