#pragma once
// The real platform bundle for the program and the integration tests, built on
// QtCore, QtNetwork and QtSerialPort only, so it runs headless under a
// QCoreApplication. Clipboard, beeper and desktop need QtGui; this bundle has
// headless stand-ins for them (see adapters/headless_parts.h), and
// qt::MakeGuiPlatform() in window/gui_platform.h swaps in the real ones.
#include "platform/platform.h"

namespace qt {

// A QCoreApplication (or QApplication) must exist before this is called and
// for as long as the parts live; every part belongs to the thread that makes
// it and delivers its events from that thread's event loop.
platform::Platform MakePlatform();

}  // namespace qt
