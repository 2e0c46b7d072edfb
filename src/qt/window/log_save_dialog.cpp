#include "qt/window/log_save_dialog.h"

#include <QFileDialog>
#include <QFileInfo>

namespace qt {

std::optional<LogFileChoice> ChooseLogFile(QWidget* parent, const QString& folder, bool appending) {
  const QString textFilter = QStringLiteral("Text (*.txt)");
  const QString csvFilter = QStringLiteral("CSV (*.csv)");
  QFileDialog dialog(parent, appending ? QStringLiteral("Log to file") : QStringLiteral("Save log"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  if (appending) dialog.setOption(QFileDialog::DontConfirmOverwrite);
  dialog.setNameFilters({textFilter, csvFilter});
  dialog.setDefaultSuffix(QStringLiteral("txt"));
  QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, csvFilter](const QString& filter) {
    const QString suffix = filter == csvFilter ? QStringLiteral("csv") : QStringLiteral("txt");
    dialog.setDefaultSuffix(suffix);
    // The name's suffix follows the filter, so that the kind saved (chosen
    // by the suffix) is the one the filter shows.
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) return;
    const QFileInfo name(chosen.constFirst());
    const QString old = name.suffix().toLower();
    if (old == QLatin1String("txt") || old == QLatin1String("csv"))
      dialog.selectFile(name.completeBaseName() + QLatin1Char('.') + suffix);
  });
  if (!folder.isEmpty()) dialog.setDirectory(folder);
  dialog.selectFile(QStringLiteral("vesktarvelo-log.txt"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return LogFileChoice{dialog.selectedFiles().constFirst(), dialog.selectedNameFilter() == csvFilter};
}

QString ChooseSaveFile(QWidget* parent, const QString& title, const QString& folder, const QString& filter,
                       const QString& suffix) {
  QFileDialog dialog(parent, title, folder, filter);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(suffix);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().constFirst();
}

bool SavesAsCsv(const QString& path, bool csvFilter) {
  const QString suffix = QFileInfo(path).suffix().toLower();
  return suffix == QLatin1String("csv") || (suffix != QLatin1String("txt") && csvFilter);
}

}  // namespace qt
