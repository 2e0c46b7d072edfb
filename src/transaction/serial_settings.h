#pragma once
// The serial line settings text ("9600,n,8,1": baud, parity letter, data
// bits, stop bits) read into the port's settings.
#include <string>
#include <string_view>

#include "platform/platform.h"

// Reads `text` into `settings`. On a text the port cannot take returns false,
// leaves `settings` unchanged and sets `reason` to a short description naming
// the offending part (for example "Invalid baud rate: 0").
bool ParseSerialSettings(std::string_view text, platform::SerialSettings& settings, std::string& reason);
