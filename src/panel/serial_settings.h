#pragma once
// The serial line settings from the panel's fields: speed text, parity letter
// and stop bits (always 8 data bits), checked and put into the port's
// settings struct.
#include <optional>
#include <string>

#include "platform/platform.h"

// `speed` as the speed field holds it with control characters dropped,
// `parity` the parity item's first letter in lower case (empty without a
// selection), `stopBits` 1 or 2 (0 without a selection). Nothing, with the
// reason naming the offending part (for example "Invalid baud rate: 0"),
// when the port cannot take them.
std::optional<platform::SerialSettings> LineSettings(const std::string& speed, const std::string& parity, int stopBits,
                                                     std::string& reason);

// The parity item's first letter in lower case; empty for an empty item.
std::string ParityLetter(const std::string& parityItem);

// The settings as one text, "9600,n,8,1", as the panel shows them.
std::string LineSettingsText(const std::string& speed, const std::string& parity, int stopBits);
