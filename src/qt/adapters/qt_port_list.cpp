#include "qt/adapters/qt_port_list.h"

#include <QSerialPortInfo>
#include <algorithm>

namespace qt {

std::vector<platform::PortInfo> QtPortList::Ports() {
  std::vector<platform::PortInfo> ports;
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
    platform::PortInfo p;
    p.name = info.portName().toStdString();
    p.description = info.description().toStdString();
    p.manufacturer = info.manufacturer().toStdString();
    p.serialNumber = info.serialNumber().toStdString();
    if (info.hasVendorIdentifier()) p.vendorId = info.vendorIdentifier();
    if (info.hasProductIdentifier()) p.productId = info.productIdentifier();
    ports.push_back(std::move(p));
  }
  for (const platform::PortInfo& extra : extra_) {
    const bool listed =
        std::any_of(ports.begin(), ports.end(), [&](const platform::PortInfo& p) { return p.name == extra.name; });
    if (!listed) ports.push_back(extra);
  }
  return ports;
}

void QtPortList::AddExtraPort(const std::string& name) {
  platform::PortInfo p;
  p.name = name;
  extra_.push_back(std::move(p));
}

}  // namespace qt
