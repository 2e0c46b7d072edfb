#include "qt/window/window_menus.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QtGlobal>

namespace qt {

WindowMenus BuildMenus(QMenuBar* bar) {
  WindowMenus m;
  QMenu* file = bar->addMenu(QStringLiteral("&File"));
  file->setObjectName(QStringLiteral("fileMenu"));
  // Opening and saving a workspace go here, above the log, in their own
  // section.
  m.saveLog = file->addAction(QStringLiteral("&Save log\u2026"));
  m.saveLog->setObjectName(QStringLiteral("saveLogAction"));
  m.saveLog->setShortcut(QKeySequence::Save);
  m.logToFile = file->addAction(QStringLiteral("&Log to file\u2026"));
  m.logToFile->setObjectName(QStringLiteral("logToFileAction"));
  m.logToFile->setToolTip(QStringLiteral("Append every log entry to a file as it is written, rotated by size"));
  m.stopLogFile = file->addAction(QStringLiteral("S&top logging to file"));
  m.stopLogFile->setObjectName(QStringLiteral("stopLogFileAction"));
  file->addSeparator();
  m.quit = file->addAction(QStringLiteral("&Quit"));
  m.quit->setObjectName(QStringLiteral("quitAction"));
  m.quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  m.quit->setMenuRole(QAction::QuitRole);

  QMenu* request = bar->addMenu(QStringLiteral("&Request"));
  request->setObjectName(QStringLiteral("requestMenu"));
  m.send = request->addAction(QStringLiteral("&Send"));
  m.send->setObjectName(QStringLiteral("sendAction"));
  m.send->setShortcut(QKeySequence(Qt::Key_Enter));
  m.send->setShortcutContext(Qt::WidgetShortcut);  // named here, acted on by the request's fields
  m.polling = request->addAction(QStringLiteral("Start or stop &polling"));
  m.polling->setObjectName(QStringLiteral("pollingAction"));
  m.polling->setShortcut(QKeySequence(Qt::Key_F5));

  QMenu* view = bar->addMenu(QStringLiteral("&View"));
  view->setObjectName(QStringLiteral("viewMenu"));
  m.inspector = view->addAction(QStringLiteral("&Inspector"));
  m.inspector->setObjectName(QStringLiteral("inspectorAction"));
  m.inspector->setCheckable(true);
  m.inspector->setChecked(true);
  // The watch list will have its entry here.

  QMenu* help = bar->addMenu(QStringLiteral("&Help"));
  help->setObjectName(QStringLiteral("helpMenu"));
  m.readme = help->addAction(QStringLiteral("&README online"));
  m.readme->setObjectName(QStringLiteral("readmeAction"));
  m.readme->setToolTip(QString::fromLatin1(kReadmeUrl));
  m.about = help->addAction(QStringLiteral("&About VeskTarvelo"));
  m.about->setObjectName(QStringLiteral("aboutAction"));
  m.about->setMenuRole(QAction::AboutRole);
  return m;
}

QString WithKey(const QString& tip, const QKeySequence& key) {
  const QString k = key.toString(QKeySequence::NativeText);
  if (k.isEmpty()) return tip;
  return tip.isEmpty() ? k : tip + QStringLiteral(" (") + k + QLatin1Char(')');
}

QString AboutText(const QString& version) {
  const QString url = QString::fromLatin1(kReadmeUrl);
  return QStringLiteral(
             "<p><b>VeskTarvelo %1</b><br>A Modbus master test tool: Modbus TCP, RTU and ASCII on a "
             "serial line, RTU and ASCII over TCP.</p>"
             "<p>Licence: MIT</p>"
             "<p>Built with Qt %2 (running on Qt %3): Qt Core, Gui, Widgets, Network and Serial "
             "Port.</p>"
             "<p>README: <a href=\"%4\">%4</a></p>")
      .arg(version.toHtmlEscaped(), QStringLiteral(QT_VERSION_STR), QString::fromLatin1(qVersion()), url);
}

}  // namespace qt
