#pragma once
// The window's menus and their keys. File: workspaces opened and saved, the
// log saved, quitting. Request: Send, polling on and off, adding to the watch
// list. View: the inspector and the watch list shown or hidden. Help: the README online and About.
// A key appears beside its action in the menu and in the tool tip of the
// button that does the same.
#include <QString>
#include <array>

class QAction;
class QActionGroup;
class QKeySequence;
class QMenuBar;

namespace qt {

// The README, online (a placeholder address under the reserved domain the
// panel's own links use).
inline constexpr const char* kReadmeUrl = "https://vesktarvelo.example/readme";

// The sizes, in MiB, at which the continuous log file may be rotated; the
// panel's default (10 MiB) among them.
inline constexpr std::array<int, 4> kLogFileSizesMb = {1, 10, 100, 1000};

struct WindowMenus {
  QAction* openWorkspace = nullptr;
  QAction* saveWorkspace = nullptr;
  QAction* saveLog = nullptr;
  QAction* logToFile = nullptr;    // every entry appended to a file from now on
  QAction* stopLogFile = nullptr;  // the file no longer written
  // One checkable action per size of kLogFileSizesMb, exclusive; its data is the size in MiB.
  QActionGroup* logFileSize = nullptr;
  QAction* quit = nullptr;
  QAction* send = nullptr;
  QAction* polling = nullptr;
  QAction* addToWatch = nullptr;  // the request's fields as a new watched block; shows the watch list
  QAction* inspector = nullptr;
  QAction* watch = nullptr;  // the watch list and its plot shown or hidden
  QAction* readme = nullptr;
  QAction* about = nullptr;
};

// Fills the menu bar. The actions' keys act in the whole window, except
// Send's: Enter sends from the request's fields only (elsewhere it keeps its
// own meaning), so the menu only names it.
WindowMenus BuildMenus(QMenuBar* bar);

// A button's tool tip with the key that does the same: "Start polling (F5)".
QString WithKey(const QString& tip, const QKeySequence& key);

// The About text (rich text): name, version, licence, the libraries linked
// and the README's address.
QString AboutText(const QString& version);

}  // namespace qt
