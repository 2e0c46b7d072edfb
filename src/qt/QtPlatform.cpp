#include "qt/QtPlatform.h"

#include <memory>

#include "qt/adapters/headless_parts.h"
#include "qt/adapters/qt_port_list.h"
#include "qt/adapters/qt_serial_port.h"
#include "qt/adapters/qt_settings_store.h"
#include "qt/adapters/qt_system_parts.h"
#include "qt/adapters/qt_tcp_socket.h"
#include "qt/adapters/qt_timer.h"

namespace qt {

platform::Platform MakePlatform() {
  platform::Platform p;
  p.clock = std::make_shared<QtClock>();
  p.timers = std::make_shared<QtTimerFactory>();
  p.serial = std::make_shared<QtSerialPort>();
  p.ports = std::make_shared<QtPortList>();
  p.socket = std::make_shared<QtTcpSocket>();
  p.settings = std::make_shared<QtSettingsStore>();
  p.clipboard = std::make_shared<MemoryClipboard>();
  p.beeper = std::make_shared<CountingBeeper>();
  p.events = std::make_shared<QtEventPump>();
  p.desktop = std::make_shared<NoDesktop>();
  p.locale = std::make_shared<QtLocale>();
  return p;
}

}  // namespace qt
