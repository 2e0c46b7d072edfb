#pragma once
// The platform bundle of the window: the headless bundle with the system
// clipboard, the system beep and the desktop's address handler.
#include "platform/platform.h"

namespace qt {

// A QApplication must exist before this is called and while the parts live.
platform::Platform MakeGuiPlatform();

}  // namespace qt
