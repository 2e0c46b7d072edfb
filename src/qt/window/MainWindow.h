#pragma once
// The program's window: a thin view of the panel model. Every field of the
// panel has one widget showing what the model holds; the operator's actions
// go to the model's handlers, and the model's changes come back through the
// fields' observers. The window itself decides nothing about the behaviour of
// the panel.
//
// Beside the panel's fields the window shows the operator aids the panel
// offers: the request preview (in the request area), the value inspector (a
// column of its own) and the session statistics (the status bar), and it has
// menus with the keys of the common actions. Its layouts fit it to any size
// from 1024 by 600 up; its size and splitters are remembered.
#include <QMainWindow>
#include <QString>

#include "panel/frmMain.h"

class QActionGroup;
class QLabel;
class QPushButton;
class QScrollArea;
class QTabBar;
class QSplitter;

namespace qt {

class FieldBinding;
class InputGuards;
class RequestPreview;
class StatsBar;
class ValueInspector;
class WatchPane;
class WatchPlot;
struct WindowMenus;

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  // Binds to a panel on which Form_Load has run. The panel must outlive the
  // window; the window detaches itself from the panel when destroyed.
  explicit MainWindow(frmMain& panel, QWidget* parent = nullptr);
  ~MainWindow() override;

  frmMain& Panel() { return panel_; }
  // The widget that shows a field (the window for the panel itself), or
  // nullptr for a field the window does not show.
  QWidget* WidgetOf(const Field& field) const;
  // Applies the model's changes of the multi-line texts now. They are
  // otherwise applied once the current event has been handled, so that a view
  // built line by line is drawn once.
  void ApplyPending();

  // Saves the log to `path` once the operator has chosen it in the save
  // dialog: as CSV when the name ends in ".csv", as text when it ends in
  // ".txt", otherwise as the dialog's filter says (`csvFilter`). A failure is
  // reported in the log by the panel.
  void SaveLogAs(const QString& path, bool csvFilter);
  // Appends every log entry from now on to `path` (CSV for a ".csv" name or the
  // CSV filter, else text); an empty path stops the file.
  void LogToFile(const QString& path, bool csvFilter);

  // Workspaces, once the operator has chosen the file: the panel opens or
  // saves it and reports a failure in the log; the watch list and the plot
  // follow what was opened.
  bool OpenWorkspace(const QString& path);
  bool SaveWorkspaceAs(const QString& path);
  // Shows or hides the watch list and its plot (as the View menu does).
  void ShowWatch(bool shown);
  WatchPane* Watch() const { return watchPane_; }
  WatchPlot* Plot() const { return plot_; }

 protected:
  void closeEvent(QCloseEvent* e) override;
  void moveEvent(QMoveEvent* e) override;
  void showEvent(QShowEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  void PlaceWindow(const Field& form);
  void BuildAids();
  void BuildMenuBar();
  void RestoreState();
  void StoreState();
  void RefreshPreview();
  void ChooseLogFile();
  void TogglePolling();
  void ShowAbout();
  // Frames a refused field in red and shows the reason in the status bar; clears both when it passes.
  void ShowRefusal(const TextBox& field, const std::string& reason);
  void RaiseQueryUnload(int16_t unloadMode);
  void PushPosition();

  frmMain& panel_;
  FieldBinding* binding_ = nullptr;
  InputGuards* guards_ = nullptr;
  bool unloaded_ = false;

  RequestPreview* preview_ = nullptr;
  ValueInspector* inspector_ = nullptr;
  StatsBar* stats_ = nullptr;
  QPushButton* saveLog_ = nullptr;
  QSplitter* columns_ = nullptr;
  QSplitter* rows_ = nullptr;
  QAction* inspectorAction_ = nullptr;
  int inspectorWidth_ = 0;        // the inspector's width when it was last shown
  QString logFolder_;             // where the save dialog opens
  QLabel* logHolding_ = nullptr;  // how many entries the pane holds and where older ones went
  QAction* stopLogFile_ = nullptr;
  QActionGroup* logFileSize_ = nullptr;  // File, Log file size
  int logFileMb_ = 10;                   // the size the log file is rotated at, in MiB
  void RefreshLogHolding();
  // The log file is rotated at `mb` MiB from now on; the menu shows the choice.
  void SetLogFileSize(int mb);

  void BuildWatch();
  void ChooseWorkspace(bool save);
  WatchPane* watchPane_ = nullptr;
  WatchPlot* plot_ = nullptr;
  QSplitter* watchArea_ = nullptr;    // the watch list | the plot
  QScrollArea* watchRoom_ = nullptr;  // holds the watch area, scrolled where the window is too small for it
  QTabBar* watchTabs_ = nullptr;      // the list, the plot and the log in turn, where the window is small
  QWidget* watchBox_ = nullptr;       // the tab bar over the watch room
  bool logInTabs_ = false;            // the log takes its turn under the tab bar
  int logHeight_ = 0;                 // the log's height before it did
  bool fitting_ = false;
  void WidenForWatch();
  // Where the window is small: the tabs the watch list, the plot and the log
  // take turns under, and which of them shows.
  void FitWatch();
  void ShowWatchTab();
  // The width the list and the plot need side by side.
  int SideBySideWidth() const;
  bool widenOnShow_ = false;  // the watch area was shown before the window was
  QAction* watchAction_ = nullptr;
  int watchHeight_ = 0;  // the watch area's height when it was last shown
  QString workspaceFolder_;
};

}  // namespace qt
