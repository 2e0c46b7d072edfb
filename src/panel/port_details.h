#pragma once
// What the system's port list tells about a serial port, as the port list's
// tool tip shows it.
#include <string>

#include "platform/platform.h"

// The information row that follows "Failed to open ..." when the system
// refused the port for lack of permission.
inline constexpr const char* kSerialPermissionHint =
    "Access denied: add your user to the group that owns the device (usually dialout: sudo usermod -aG dialout "
    "$USER), then log in again.";

// One line per detail the port list reports, in this order, lines without a
// value left out:
//   "Description: USB-Serial Controller"
//   "Manufacturer: FTDI"
//   "Serial number: A10KZ3"
//   "USB vendor ID: 0403"   (four upper-case hex digits)
//   "USB product ID: 6001"
// Lines are joined by "\n". A port without any detail gives
// "No details reported for <name>".
std::string PortDetailsText(const platform::PortInfo& port);
