#pragma once
// The dialog in which the operator chooses where the log is saved, and the
// rule that decides its kind: CSV for a name ending in ".csv", text for one
// ending in ".txt", otherwise as the dialog's filter said.
#include <QString>
#include <optional>

class QWidget;

namespace qt {

struct LogFileChoice {
  QString path;
  bool csvFilter = false;  // the CSV filter was chosen
};

// Asks for the file, opening in `folder` (when not empty). Empty when the
// operator cancels. `appending`: the file chosen is the continuous log file,
// which is appended to, so an existing file is taken without asking.
std::optional<LogFileChoice> ChooseLogFile(QWidget* parent, const QString& folder, bool appending = false);

// Whether the log saved to `path` is CSV (else text).
bool SavesAsCsv(const QString& path, bool csvFilter);

}  // namespace qt
