#pragma once
// What the window remembers between runs beside the panel's own settings:
// its size, whether it was maximised, where the operator left the splitters,
// whether the inspector shows, the watch list's place, and the size at which the
// continuous log file is rotated (the panel keeps the file's path). Kept in the settings store under section
// "window".
#include <QList>
#include <QSize>

#include "platform/platform.h"

namespace qt {

struct WindowState {
  QSize size;  // invalid when none was stored
  bool maximized = false;
  QList<int> columns;  // the splitter between the panel and the inspector
  QList<int> rows;     // the splitter between the request and response area and the log
  bool inspector = true;
  int logFileMb = 10;       // the log file is rotated at this many MiB
  bool watch = false;       // the watch list and its plot shown
  int watchHeight = 0;      // their height in the row splitter (0: none stored)
  QList<int> watchColumns;  // the splitter between the watch list and the plot

  // What the store holds; a value missing or malformed is left as above.
  static WindowState Read(platform::SettingsStore& store);
  void Write(platform::SettingsStore& store) const;
};

// "300,200" to {300, 200}; empty for a list that is not of positive whole
// numbers.
QList<int> ParseSizes(const std::string& text);
std::string SizesText(const QList<int>& sizes);

}  // namespace qt
