#include "qt/window/MainWindow.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QBoxLayout>
#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSplitter>
#include <QTabBar>
#include <QTableWidget>
#include <QTimer>
#include <algorithm>

#include "presentation/log_file.h"
#include "qt/window/beep_gate.h"
#include "qt/window/field_binding.h"
#include "qt/window/input_guards.h"
#include "qt/window/log_save_dialog.h"
#include "qt/window/register_decoding_pane.h"
#include "qt/window/request_preview.h"
#include "qt/window/response_grid.h"
#include "qt/window/stats_bar.h"
#include "qt/window/watch_pane.h"
#include "qt/window/watch_plot.h"
#include "qt/window/widget_factory.h"
#include "qt/window/widgets.h"
#include "qt/window/window_layout.h"
#include "qt/window/window_look.h"
#include "qt/window/window_menus.h"
#include "qt/window/window_state.h"

namespace qt {
namespace {

// The size a first start opens with (within the screen's room).
constexpr QSize kFirstSize(1280, 760);
// The inspector's width at a first start: room for all its columns, and not
// more than a fraction of a small window (a narrow inspector cuts its Bytes
// column before any value). From 1280 pixels on the share holds every column;
// the response grid beside it keeps room for a 32-bit value and its bytes (the
// inspector shows a 64-bit value's bytes whole).
constexpr double kInspectorShare = 0.4;
// The height the watch area is given, where the screen has room, when it is
// shown: the list's strip, a few rows of each table and a readable plot.
constexpr int kWatchWantedHeight = 380;

}  // namespace

MainWindow::MainWindow(frmMain& panel, QWidget* parent) : QMainWindow(parent), panel_(panel) {
  setWindowIcon(QIcon(LogoWidget::RenderMark(64)));
  binding_ = new FieldBinding(panel_, this);
  // A paste into a filtered field beeps once, however many characters the
  // field's filter refuses.
  guards_ = new InputGuards(*binding_, this, std::dynamic_pointer_cast<BeepGate>(panel_.Platform().beeper));
  binding_->onWindowGeometry = [this](const Field& form) { PlaceWindow(form); };
  binding_->onRequestChanged = [this] { RefreshPreview(); };
  binding_->onResponseShown = [this] {
    if (inspector_ != nullptr) inspector_->Refresh();
  };
  binding_->onResponseEnabled = [this](bool enabled) {
    // The inspector reads the response view's answer: greyed with it.
    if (inspector_ != nullptr) inspector_->SetReadable(enabled);
  };

  BuildFieldWidgets(*binding_, *guards_, this);
  // The buttons' tool tips name the keys that do the same.
  binding_->BindingOf(WidgetOf(panel_.cmdSend))->toolTipKey = QKeySequence(Qt::Key_Enter);
  binding_->BindingOf(WidgetOf(panel_.cmdAuto1))->toolTipKey = QKeySequence(Qt::Key_F5);
  binding_->BindingOf(WidgetOf(panel_.cmdAuto0))->toolTipKey = QKeySequence(Qt::Key_F5);
  BuildAids();
  panel_.onRefusalChanged = [this](const TextBox& field, const std::string& reason) { ShowRefusal(field, reason); };
  // The widgets show the model's state before they are laid out, so that the
  // lists are as wide as their items.
  binding_->Attach();
  const WindowPanes panes = ArrangeWindow(*binding_, this, preview_, inspector_, saveLog_);
  columns_ = panes.columns;
  rows_ = panes.rows;
  BuildWatch();
  BuildMenuBar();
  RestoreState();
  // A workspace opened before the window (from the command line) shows its watch list.
  if (!panel_.Watch().Model().Blocks().empty()) ShowWatch(true);
  PlaceWindow(panel_);  // again, now that the window has its size
  SetFieldTabOrder(*binding_);
  // After the response view, in reading order: the inspector beside it, the
  // watch list and its plot under them, the log, and the aids' buttons last.
  // The preview is read by eye.
  QList<QWidget*> order{WidgetOf(panel_.txtResponse),
                        inspector_->findChild<QTableWidget*>(QStringLiteral("inspector"))};
  for (QWidget* w = watchBox_->nextInFocusChain(); w != watchBox_; w = w->nextInFocusChain())
    if (watchBox_->isAncestorOf(w) && (w->focusPolicy() & Qt::TabFocus) && w->focusProxy() == nullptr) order << w;
  order << WidgetOf(panel_.txtLog) << saveLog_ << stats_->ResetButton();
  for (qsizetype i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
  RefreshPreview();
  inspector_->Refresh();

  connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { RaiseQueryUnload(2); });
}

MainWindow::~MainWindow() {
  // The parts follow the panel through its observers: detached before the
  // widgets they set go.
  panel_.onRefusalChanged = nullptr;
  panel_.onWorkspaceOpened = nullptr;
  panel_.Watch().onFinished = nullptr;
  delete guards_;
  delete binding_;
  delete stats_;
}

QWidget* MainWindow::WidgetOf(const Field& field) const { return binding_->WidgetOf(field); }

void MainWindow::ApplyPending() {
  binding_->ApplyPending();
  if (stats_ != nullptr) stats_->Refresh();
}

void MainWindow::ShowRefusal(const TextBox& field, const std::string& reason) {
  QWidget* w = WidgetOf(field);
  if (w == nullptr) return;
  const bool refused = !reason.empty();
  w->setProperty("refused", refused);
  w->setStyleSheet(refused ? QStringLiteral("border: 2px solid #d00000; background: #ffe8e8;") : QString());
  w->setToolTip(refused ? QString::fromStdString(reason) : QString());
  if (refused)
    stats_->showMessage(QString::fromStdString(reason));
  else
    stats_->clearMessage();
}

void MainWindow::BuildAids() {
  frmMain& p = panel_;
  preview_ = new RequestPreview(WidgetOf(p.pctRequest));
  inspector_ = new ValueInspector(p, static_cast<ResponseGrid*>(WidgetOf(p.txtResponse)), binding_->Updating(), this);
  inspector_->setObjectName(QStringLiteral("inspectorPane"));

  saveLog_ = new QPushButton(QStringLiteral("Save log\u2026"), this);
  saveLog_->setObjectName(QStringLiteral("saveLog"));
  saveLog_->setAutoDefault(true);  // Enter on the focused button presses it
  saveLog_->setToolTip(WithKey(QStringLiteral("Save the log as text or CSV"), QKeySequence::Save));
  connect(saveLog_, &QPushButton::clicked, this, [this] { ChooseLogFile(); });

  stats_ = new StatsBar(
      p, [this] { ApplyPending(); }, this);
  setStatusBar(stats_);

  // What the log pane holds, refreshed a few times a second (the pane itself
  // follows the log once a frame).
  logHolding_ = new QLabel(stats_);
  logHolding_->setObjectName(QStringLiteral("logHolding"));
  logHolding_->setTextFormat(Qt::PlainText);
  // The pane holds at most 1000 entries: room for the widest count, so that
  // the count's growth does not move the status bar's Reset button.
  logHolding_->setMinimumWidth(logHolding_->fontMetrics().horizontalAdvance(QStringLiteral("1000 entries shown")));
  stats_->addPermanentWidget(logHolding_);
  auto* holdingTimer = new QTimer(this);
  connect(holdingTimer, &QTimer::timeout, this, [this] { RefreshLogHolding(); });
  holdingTimer->start(250);
  RefreshLogHolding();
}

void MainWindow::RefreshLogHolding() {
  // Once older entries have left the pane the text names the log file, whose
  // path may be longer than the screen is wide: cut in the middle to a third
  // of the window, so that it never makes the window wider (the tool tip
  // holds the path).
  const QString text = logHolding_->fontMetrics().elidedText(QString::fromStdString(panel_.LogHoldingText()),
                                                             Qt::ElideMiddle, std::max(160, width() / 3));
  if (logHolding_->text() != text) logHolding_->setText(text);
  const QString file = QString::fromStdString(panel_.LogFilePath());
  logHolding_->setToolTip(file.isEmpty() ? QStringLiteral("No log file: File, Log to file") : file);
  if (stopLogFile_ != nullptr) stopLogFile_->setEnabled(!file.isEmpty());
}

void MainWindow::LogToFile(const QString& path, bool csvFilter) {
  if (!path.isEmpty()) logFolder_ = QFileInfo(path).absolutePath();
  panel_.SetLogFile(QFile::encodeName(path).toStdString(), !path.isEmpty() && SavesAsCsv(path, csvFilter));
  RefreshLogHolding();
}

void MainWindow::BuildMenuBar() {
  const WindowMenus m = BuildMenus(menuBar());
  connect(m.saveLog, &QAction::triggered, this, [this] { ChooseLogFile(); });
  connect(m.logToFile, &QAction::triggered, this, [this] {
    if (const auto choice = qt::ChooseLogFile(this, logFolder_, true)) LogToFile(choice->path, choice->csvFilter);
  });
  stopLogFile_ = m.stopLogFile;
  connect(m.stopLogFile, &QAction::triggered, this, [this] { LogToFile(QString(), false); });
  logFileSize_ = m.logFileSize;
  connect(m.logFileSize, &QActionGroup::triggered, this, [this](QAction* a) { SetLogFileSize(a->data().toInt()); });
  RefreshLogHolding();
  connect(m.quit, &QAction::triggered, this, [this] { close(); });
  connect(m.send, &QAction::triggered, this, [this] {
    if (panel_.cmdSend.Enabled() && panel_.cmdSend.onClick) panel_.cmdSend.onClick();
    ApplyPending();
  });
  connect(m.polling, &QAction::triggered, this, [this] { TogglePolling(); });
  inspectorAction_ = m.inspector;
  connect(m.inspector, &QAction::toggled, this, [this](bool shown) {
    // The splitter gives a hidden inspector no width: the width it had is
    // kept to be stored (it comes back when the inspector is shown again).
    const QList<int> columns = columns_->sizes();
    if (!shown && columns.size() == 2 && columns[1] > 0) inspectorWidth_ = columns[1];
    inspector_->setVisible(shown);
  });
  watchAction_ = m.watch;
  connect(m.watch, &QAction::toggled, this, [this](bool on) { ShowWatch(on); });
  connect(m.addToWatch, &QAction::triggered, this, [this] {
    ShowWatch(true);
    if (auto* add = watchPane_->findChild<QPushButton*>(QStringLiteral("watchAdd"))) add->click();
    ApplyPending();
  });
  connect(m.openWorkspace, &QAction::triggered, this, [this] { ChooseWorkspace(false); });
  connect(m.saveWorkspace, &QAction::triggered, this, [this] { ChooseWorkspace(true); });
  connect(m.readme, &QAction::triggered, this, [this] {
    if (panel_.Platform().desktop) panel_.Platform().desktop->OpenUrl(kReadmeUrl);
  });
  connect(m.about, &QAction::triggered, this, [this] { ShowAbout(); });
}

void MainWindow::SetLogFileSize(int mb) {
  // A size stored by hand that the menu does not offer is kept and applied;
  // the menu then shows no choice.
  logFileMb_ = mb;
  panel_.SetLogFileRotation(static_cast<uint64_t>(mb) * 1024 * 1024, LogFileOptions{}.keepFiles);
  for (QAction* a : logFileSize_->actions()) a->setChecked(a->data().toInt() == mb);
}

void MainWindow::BuildWatch() {
  watchArea_ = new QSplitter(Qt::Horizontal);
  watchArea_->setObjectName(QStringLiteral("watchArea"));
  watchArea_->setChildrenCollapsible(false);
  watchPane_ = new WatchPane(panel_, watchArea_);
  watchPane_->setObjectName(QStringLiteral("watchPane"));
  plot_ = new WatchPlot(panel_, watchArea_);
  plot_->setObjectName(QStringLiteral("watchPlot"));
  watchArea_->addWidget(watchPane_);
  watchArea_->addWidget(plot_);
  // Between the request and response and the log: beside what the operator
  // sends, above the record of it. Where the window is too narrow for the
  // list and the plot side by side, they take turns under a tab bar; where
  // it is too low for the list and the log one above the other, the log
  // takes its turn there too. What is still missing scrolls.
  watchRoom_ = new QScrollArea;
  watchRoom_->setObjectName(QStringLiteral("watchRoom"));
  watchRoom_->setFrameShape(QFrame::NoFrame);
  watchRoom_->setFocusPolicy(Qt::NoFocus);  // its fields and tables take the focus, it does not
  watchRoom_->setWidgetResizable(true);
  watchRoom_->setWidget(watchArea_);
  watchTabs_ = new QTabBar;
  watchTabs_->setObjectName(QStringLiteral("watchTabs"));
  watchTabs_->setDocumentMode(true);
  watchTabs_->setExpanding(false);
  watchTabs_->hide();
  watchBox_ = new QWidget;
  watchBox_->setObjectName(QStringLiteral("watchBox"));
  auto* box = new QVBoxLayout(watchBox_);
  box->setContentsMargins(0, 0, 0, 0);
  box->setSpacing(2);
  box->addWidget(watchTabs_);
  box->addWidget(watchRoom_, 1);
  rows_->insertWidget(1, watchBox_);
  rows_->setStretchFactor(1, 1);
  watchBox_->hide();
  rows_->installEventFilter(this);
  connect(watchTabs_, &QTabBar::currentChanged, this, [this] { ShowWatchTab(); });
  auto message = [this](const QString& text) { stats_->showMessage(text, 5000); };
  watchPane_->onMessage = message;
  plot_->onMessage = message;
  watchPane_->onPlottedChanged = [this] { plot_->Sync(); };
  panel_.Watch().onFinished = [this](engine::WatchBlockId id) { plot_->AddPoints(id); };
  panel_.onWorkspaceOpened = [this] {
    watchPane_->Refresh();
    plot_->Sync();
    if (!panel_.Watch().Model().Blocks().empty()) ShowWatch(true);
  };
}

void MainWindow::ShowWatch(bool shown) {
  if (watchAction_ != nullptr && watchAction_->isChecked() != shown) {
    watchAction_->setChecked(shown);  // comes back here through the action
    return;
  }
  if (watchBox_->isHidden() != shown) return;
  if (!shown && !logInTabs_) watchHeight_ = rows_->sizes().value(1);
  watchBox_->setVisible(shown);
  FitWatch();
  if (shown) {
    WidenForWatch();
    // Too little room left for the list and the plot (a first showing): the
    // request and response, the watch area and the log share the height
    // 35 : 40 : 25.
    const QList<int> rows = rows_->sizes();
    int total = 0;
    for (int r : rows) total += r;
    if (!logInTabs_ && rows.size() == 3 && rows[1] < std::max(150, watchHeight_ / 2))
      rows_->setSizes({total * 35 / 100, total * 40 / 100, total * 25 / 100});
    watchPane_->Refresh();
  }
}

int MainWindow::SideBySideWidth() const {
  return watchPane_->OneLineWidth() + plot_->minimumSizeHint().width() + watchArea_->handleWidth();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* e) {
  if (watched == rows_ && e->type() == QEvent::Resize) FitWatch();
  return QMainWindow::eventFilter(watched, e);
}

void MainWindow::FitWatch() {
  if (watchTabs_ == nullptr || fitting_) return;
  fitting_ = true;
  const bool shown = !watchBox_->isHidden();
  const bool narrow = shown && rows_->width() < SideBySideWidth();
  // The least height for the list with three rows of each table, with the
  // request and response and the log at their least.
  const int handles = 2 * rows_->handleWidth();
  const int least = rows_->widget(0)->minimumSizeHint().height() + WidgetOf(panel_.pctLog)->minimumSizeHint().height() +
                    handles + watchPane_->LeastHeight(rows_->width());
  const bool low = shown && rows_->height() < least;
  enum Tab { kList, kPlot, kLog };
  QList<int> tabs;
  if (narrow || low) tabs << kList;
  if (narrow) tabs << kPlot;
  if (low) tabs << kLog;
  QList<int> had;
  for (int i = 0; i < watchTabs_->count(); ++i) had << watchTabs_->tabData(i).toInt();
  if (tabs != had) {
    const int current =
        watchTabs_->currentIndex() >= 0 ? watchTabs_->tabData(watchTabs_->currentIndex()).toInt() : kList;
    if (low && !logInTabs_) logHeight_ = rows_->sizes().value(2);
    QSignalBlocker quiet(watchTabs_);
    while (watchTabs_->count() > 0) watchTabs_->removeTab(0);
    for (int tab : tabs) {
      const int i = watchTabs_->addTab(
          tab == kList   ? (narrow ? QStringLiteral("Watch list") : QStringLiteral("Watch list and plot"))
          : tab == kPlot ? QStringLiteral("Plot")
                         : QStringLiteral("Log"));
      watchTabs_->setTabData(i, tab);
      if (tab == current) watchTabs_->setCurrentIndex(i);
    }
    watchTabs_->setVisible(!tabs.isEmpty());
    const bool wasLow = logInTabs_;
    logInTabs_ = low;
    ShowWatchTab();
    if (low && !wasLow) {
      // The request and response at their least: the rest is the list's.
      const QList<int> rows = rows_->sizes();
      const int total = rows.value(0) + rows.value(1) + rows.value(2);
      const int upper = rows_->widget(0)->minimumSizeHint().height();
      rows_->setSizes({upper, total - upper, 0});
    }
    if (!low && shown && logHeight_ > 0) {
      // The log back under the list, as high as it was.
      const QList<int> rows = rows_->sizes();
      if (rows.size() == 3 && rows[2] < logHeight_) {
        const int take = std::min(logHeight_ - rows[2], rows[1] - watchBox_->minimumSizeHint().height());
        if (take > 0) rows_->setSizes({rows[0], rows[1] - take, rows[2] + take});
      }
    }
  }
  fitting_ = false;
}

void MainWindow::ShowWatchTab() {
  const int tab = watchTabs_->currentIndex() >= 0 ? watchTabs_->tabData(watchTabs_->currentIndex()).toInt() : 0;
  const bool tabbed = watchTabs_->count() > 0;
  const bool plotTab = watchTabs_->count() > 0 && watchTabs_->tabData(1).toInt() == 1;
  // The list and the plot: both, or the one whose tab is chosen.
  watchPane_->setVisible(!plotTab || tab == 0);
  plot_->setVisible(!plotTab || tab == 1);
  watchRoom_->setVisible(!tabbed || tab != 2);
  WidgetOf(panel_.pctLog)->setVisible(!logInTabs_ || tab == 2);
  if (logInTabs_) {
    // The log's turn: the tab bar alone stays over it, the rest is the log's.
    const QList<int> rows = rows_->sizes();
    const int total = rows.value(1) + rows.value(2);
    const int bar = tab == 2 ? watchTabs_->sizeHint().height() : total;
    if (rows.size() == 3) rows_->setSizes({rows[0], bar, total - bar});
  }
}

void MainWindow::WidenForWatch() {
  // Room for the list and the plot side by side: the window grows as far as
  // the screen has room, then the inspector gives up to its least width. A
  // maximized window keeps its width, and what is still missing scrolls.
  // A watch list shown before the window (a workspace opened from the
  // command line) makes its room when the window is first shown.
  widenOnShow_ = !isVisible();
  if (!isVisible() || isMaximized() || isFullScreen() || screen() == nullptr) return;
  const int missing = SideBySideWidth() - rows_->width();
  const QList<int> columns = columns_->sizes();
  if (missing <= 0 || columns.size() != 2) return;
  const int room = screen()->availableGeometry().width() - (frameGeometry().width() - width());
  const int grow = std::clamp(room - width(), 0, missing);
  if (inspector_->isVisible()) {
    const int give = std::clamp(missing - grow, 0, columns[1] - inspector_->minimumWidth());
    if (give > 0) columns_->setSizes({columns[0] + give, columns[1] - give});
  }
  if (grow > 0) {
    // Grown, the window stays on its screen: it moves left by as much as it
    // would reach past the right edge.
    const QRect avail = screen()->availableGeometry();
    const int past = frameGeometry().right() + grow - avail.right();
    if (past > 0) move(x() - std::clamp(past, 0, std::max(0, x() - avail.left())), y());
    resize(width() + grow, height());
  }
  // Room for the list's rows: a watch area lower than the list wants (three
  // rows of each table, the plot readable) takes height the screen has to
  // spare, then what the log and the request and response have above their
  // least. A window at its first size would otherwise leave it a row or two.
  QList<int> rows = rows_->sizes();
  if (logInTabs_ || rows.size() != 3) return;
  int lacking = std::max(watchPane_->LeastHeight(rows_->width()), kWatchWantedHeight) - rows[1];
  if (lacking <= 0) return;
  const QRect avail = screen()->availableGeometry();
  const int taller = std::clamp(avail.height() - frameGeometry().height(), 0, lacking);
  if (taller >= kWatchWantedHeight / 8) {  // else not worth a move of the window
    const int past = frameGeometry().bottom() + taller - avail.bottom();
    if (past > 0) move(x(), y() - std::clamp(past, 0, std::max(0, y() - avail.top())));
    resize(width(), height() + taller);
    rows[1] += taller;
    lacking -= taller;
  }
  for (const int from : {2, 0}) {
    const int give = std::clamp(rows[from] - rows_->widget(from)->minimumSizeHint().height(), 0, lacking);
    rows[from] -= give;
    rows[1] += give;
    lacking -= give;
  }
  rows_->setSizes(rows);
}

void MainWindow::showEvent(QShowEvent* e) {
  QMainWindow::showEvent(e);
  if (widenOnShow_ && !watchBox_->isHidden()) WidenForWatch();
  FitWatch();
}

bool MainWindow::OpenWorkspace(const QString& path) {
  if (path.isEmpty()) return false;
  workspaceFolder_ = QFileInfo(path).absolutePath();
  const bool ok = panel_.OpenWorkspace(QFile::encodeName(path).toStdString());
  ApplyPending();
  return ok;
}

bool MainWindow::SaveWorkspaceAs(const QString& path) {
  if (path.isEmpty()) return false;
  workspaceFolder_ = QFileInfo(path).absolutePath();
  const bool ok = panel_.SaveWorkspace(QFile::encodeName(path).toStdString());
  if (ok) stats_->showMessage(QStringLiteral("Workspace saved to %1").arg(path), 5000);
  ApplyPending();
  return ok;
}

void MainWindow::ChooseWorkspace(bool save) {
  const QString filter = QStringLiteral("VeskTarvelo workspace (*.json);;All files (*)");
  if (save) {
    const QString path =
        ChooseSaveFile(this, QStringLiteral("Save workspace"), workspaceFolder_, filter, QStringLiteral("json"));
    if (!path.isEmpty()) SaveWorkspaceAs(path);
  } else {
    OpenWorkspace(QFileDialog::getOpenFileName(this, QStringLiteral("Open workspace"), workspaceFolder_, filter));
  }
}

void MainWindow::TogglePolling() {
  // As a press of the Auto button that shows.
  Button& button = panel_.AutoPolling ? panel_.cmdAuto0 : panel_.cmdAuto1;
  if (button.onMouseDown) button.onMouseDown();
  ApplyPending();
}

void MainWindow::ShowAbout() {
  auto* box = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("About VeskTarvelo"),
                              AboutText(QString::fromStdString(frmMain::VersionText())), QMessageBox::Close, this);
  box->setObjectName(QStringLiteral("aboutBox"));
  box->setIconPixmap(LogoWidget::RenderMark(64));
  box->setTextFormat(Qt::RichText);
  box->setTextInteractionFlags(Qt::TextBrowserInteraction);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

void MainWindow::RestoreState() {
  WindowState s;
  if (panel_.Platform().settings) s = WindowState::Read(*panel_.Platform().settings);
  const QScreen* screen = QGuiApplication::primaryScreen();
  const QRect room = screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1920, 1080);
  QSize size = s.size.isValid() ? s.size : kFirstSize;
  resize(size.boundedTo(room.size()).expandedTo(minimumSizeHint()));
  if (s.columns.size() == 2) {
    columns_->setSizes(s.columns);
    inspectorWidth_ = s.columns[1];
  } else {
    const int inspector = std::clamp(static_cast<int>(width() * kInspectorShare), inspector_->minimumWidth(),
                                     inspector_->sizeHint().width());
    columns_->setSizes({std::max(1, width() - inspector), inspector});
  }
  // The row splitter holds the request and response, the watch area and the
  // log; the watch area's height is kept apart, as it is hidden at times.
  watchHeight_ = s.watchHeight > 0 ? s.watchHeight : height() * 2 / 5;
  if (s.rows.size() == 2) {
    rows_->setSizes({s.rows[0], watchHeight_, s.rows[1]});
  } else {
    rows_->setSizes({45 * height() / 100, watchHeight_, 25 * height() / 100});
  }
  if (s.watchColumns.size() == 2) {
    watchArea_->setSizes(s.watchColumns);
  } else {
    watchArea_->setSizes({width() / 2, width() / 2});
  }
  watchBox_->setVisible(s.watch);
  watchAction_->setChecked(s.watch);
  inspectorAction_->setChecked(s.inspector);
  inspector_->setVisible(s.inspector);
  SetLogFileSize(s.logFileMb);
  if (s.maximized) setWindowState(windowState() | Qt::WindowMaximized);
}

void MainWindow::StoreState() {
  if (!panel_.Platform().settings) return;
  WindowState s;
  s.maximized = isMaximized();
  s.size = s.maximized ? normalGeometry().size() : size();
  s.columns = columns_->sizes();
  if (s.columns.size() == 2 && s.columns[1] == 0 && inspectorWidth_ > 0)
    s.columns = {std::max(1, s.columns[0] - inspectorWidth_), inspectorWidth_};
  const QList<int> rows = rows_->sizes();
  // A log that takes its turn with the watch list keeps the height it had.
  s.rows = {rows.value(0), logInTabs_ ? logHeight_ : rows.value(2)};
  s.watch = watchAction_->isChecked();
  if (s.watch && !logInTabs_) watchHeight_ = rows.value(1);
  s.watchHeight = watchHeight_;
  s.watchColumns = watchArea_->sizes();
  s.inspector = inspectorAction_->isChecked();
  s.logFileMb = logFileMb_;
  s.Write(*panel_.Platform().settings);
}

void MainWindow::PlaceWindow(const Field& f) {
  // The window opens where the panel's position says. A position of 0,0
  // means none was given: the window manager places the window.
  const QPoint pos(Px(f.Left()), Px(f.Top()));
  if (f.Left() == 0 && f.Top() == 0) return;
  if (QGuiApplication::screenAt(pos + QPoint(width() / 2, 10)) != nullptr) {
    if (pos != this->pos()) move(pos);
  } else if (!isVisible()) {
    // A stored position off every screen (a monitor gone since): the window
    // opens in the middle of the primary screen instead.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      const QRect room = screen->availableGeometry();
      move(room.topLeft() +
           QPoint(std::max(0, (room.width() - width()) / 2), std::max(0, (room.height() - height()) / 2)));
    }
  }
}

void MainWindow::moveEvent(QMoveEvent* e) {
  QMainWindow::moveEvent(e);
  if (binding_->Updating() == 0 && isVisible()) PushPosition();
}

void MainWindow::PushPosition() {
  // The panel's position is the window's, in twips; it is stored at close.
  // One change, so that the model's echo sees the whole new position.
  UpdateGuard g(binding_->Updating());
  panel_.Move(pos().x() * 15, pos().y() * 15, panel_.Width(), panel_.Height());
}

void MainWindow::closeEvent(QCloseEvent* e) {
  if (isVisible()) PushPosition();
  RaiseQueryUnload(e->spontaneous() ? 0 : 1);
  e->accept();
}

void MainWindow::RaiseQueryUnload(int16_t unloadMode) {
  if (unloaded_) return;
  unloaded_ = true;
  // The window's own state first: the panel's settings end with the store
  // made durable.
  StoreState();
  int16_t cancel = 0;
  // Closing is never refused, whatever the handler leaves in Cancel.
  panel_.Form_QueryUnload(cancel, unloadMode);
}

void MainWindow::RefreshPreview() {
  if (preview_ != nullptr) preview_->Show(QString::fromStdString(panel_.PreviewRequest()));
}

void MainWindow::ChooseLogFile() {
  if (const auto choice = qt::ChooseLogFile(this, logFolder_)) SaveLogAs(choice->path, choice->csvFilter);
}

void MainWindow::SaveLogAs(const QString& path, bool csvFilter) {
  if (path.isEmpty()) return;
  logFolder_ = QFileInfo(path).absolutePath();
  panel_.SaveLog(QFile::encodeName(path).toStdString(), SavesAsCsv(path, csvFilter));
  ApplyPending();
}

}  // namespace qt
