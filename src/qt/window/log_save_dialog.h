#pragma once
// The dialogs in which the operator chooses where a file is saved, and the
// rule that decides a saved log's kind: CSV for a name ending in ".csv", text
// for one ending in ".txt", otherwise as the dialog's filter said.
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

// The file a save goes to, opening in `folder` (when not empty); empty when
// the operator cancels. A name typed without a suffix gets `suffix` before the
// dialog asks whether to replace an existing file, so it asks about the file
// written.
QString ChooseSaveFile(QWidget* parent, const QString& title, const QString& folder, const QString& filter,
                       const QString& suffix);

// Whether the log saved to `path` is CSV (else text).
bool SavesAsCsv(const QString& path, bool csvFilter);

}  // namespace qt
