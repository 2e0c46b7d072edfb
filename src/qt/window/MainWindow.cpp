#include "qt/window/MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QIcon>
#include <QPushButton>
#include <QScreen>
#include <algorithm>

#include "qt/window/beep_gate.h"
#include "qt/window/field_binding.h"
#include "qt/window/input_guards.h"
#include "qt/window/log_save_dialog.h"
#include "qt/window/request_preview.h"
#include "qt/window/stats_bar.h"
#include "qt/window/value_inspector.h"
#include "qt/window/widget_factory.h"
#include "qt/window/widgets.h"
#include "qt/window/window_look.h"

namespace qt {
namespace {

// The operator aids have fixed places too, in twips. The request preview sits
// in the request group, left of the poll interval's caption. The aids column
// lies right of the panel, its inspector level with the response view and its
// save button level with the log's bottom row; the status bar spans the
// window under the panel and the column.
constexpr int kPreviewLeft = 0;
constexpr int kPreviewTop = 106 * 15;
constexpr int kPreviewWidth = 280 * 15;
constexpr int kPreviewHeight = 26 * 15;
constexpr int kColumnGap = 4 * 15;  // the panel keeps 8 more on its right
constexpr int kColumnWidth = 350 * 15;
constexpr int kColumnMargin = 8 * 15;
constexpr int kSaveLogWidth = 100 * 15;
constexpr int kStatusHeight = 26 * 15;

// The window's inner size for a panel of the given size: the panel, the aids
// column on its right and the status bar below.
QSize WindowSizeFor(const Field& form) {
  return {Px(form.Width() + kColumnGap + kColumnWidth + kColumnMargin), Px(form.Height() + kStatusHeight)};
}

}  // namespace

MainWindow::MainWindow(frmMain& panel, QWidget* parent) : QWidget(parent), panel_(panel) {
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

  // Decoration: a rule between the connection bar and the request and
  // response areas, under every field in the drawing order.
  auto* rule = new QFrame(this);
  rule->setFrameShape(QFrame::HLine);
  rule->setFrameShadow(QFrame::Sunken);
  rule->setGeometry(8, Px(panel_.Label10.Top()) - 6, WindowSizeFor(panel_).width() - 16, 2);

  BuildFieldWidgets(*binding_, *guards_, this);
  binding_->Attach();
  // The model's placement rules put these groups over other fields.
  WidgetOf(panel_.pctHEX)->raise();
  WidgetOf(panel_.pctAuto)->raise();
  BuildAids();
  SetFieldTabOrder(*binding_);
  // The aids' buttons last; the preview and the inspector are read by eye.
  QWidget::setTabOrder(WidgetOf(panel_.txtLog), saveLog_);
  QWidget::setTabOrder(saveLog_, stats_->ResetButton());

  connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { RaiseQueryUnload(2); });
}

MainWindow::~MainWindow() {
  // The parts follow the panel through its observers: detached before the
  // widgets they set go.
  delete guards_;
  delete binding_;
  delete stats_;
}

QWidget* MainWindow::WidgetOf(const Field& field) const { return binding_->WidgetOf(field); }

void MainWindow::ApplyPending() { binding_->ApplyPending(); }

void MainWindow::PlaceWindow(const Field& f) {
  // The panel's size with the aids around it is the window's inner size.
  // A position of 0,0 means none was given: the window manager places the
  // window.
  setFixedSize(WindowSizeFor(f));
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
  QWidget::moveEvent(e);
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
  int16_t cancel = 0;
  // Closing is never refused, whatever the handler leaves in Cancel.
  panel_.Form_QueryUnload(cancel, unloadMode);
}

void MainWindow::BuildAids() {
  frmMain& p = panel_;
  const int columnLeft = p.Width() + kColumnGap;

  preview_ = new RequestPreview(WidgetOf(p.pctRequest));
  preview_->setGeometry(Px(kPreviewLeft), Px(kPreviewTop), Px(kPreviewWidth), Px(kPreviewHeight));

  // The inspector: its heading level with the response view's, its table
  // level with the view.
  inspector_ = new ValueInspector(p, static_cast<QPlainTextEdit*>(WidgetOf(p.txtResponse)), binding_->Updating(), this);
  inspector_->setGeometry(Px(columnLeft), Px(p.lblResponse.Top()), Px(kColumnWidth),
                          Px(p.pctResponseForm.Top() - p.lblResponse.Top()) + inspector_->TableHeight());

  // Saving the log, at the foot of the column beside the log's bottom row.
  saveLog_ = new QPushButton(QStringLiteral("Save log\u2026"), this);
  saveLog_->setObjectName(QStringLiteral("saveLog"));
  saveLog_->setAutoDefault(false);
  saveLog_->setToolTip(QStringLiteral("Save the log as text or CSV"));
  saveLog_->setGeometry(Px(columnLeft), Px(p.pctLog.Top() + p.pctLogo.Top()), Px(kSaveLogWidth),
                        Px(p.pctLogo.Height()));
  connect(saveLog_, &QPushButton::clicked, this, [this] { ChooseLogFile(); });

  // The session statistics in the status bar, with their reset.
  const int windowWidth = WindowSizeFor(p).width();
  auto* rule = new QFrame(this);
  rule->setFrameShape(QFrame::HLine);
  rule->setFrameShadow(QFrame::Sunken);
  rule->setGeometry(0, Px(p.Height()), windowWidth, 2);
  stats_ = new StatsBar(
      p, [this] { ApplyPending(); }, this);
  stats_->setContentsMargins(Px(kColumnMargin) - 4, 0, Px(kColumnMargin) - 4, 0);
  stats_->setGeometry(0, Px(p.Height()) + 2, windowWidth, Px(kStatusHeight) - 2);
  stats_->ResetButton()->setFixedHeight(Px(kStatusHeight) - 6);

  RefreshPreview();
  inspector_->Refresh();
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
