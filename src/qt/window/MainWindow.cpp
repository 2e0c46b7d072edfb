#include "qt/window/MainWindow.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QFrame>
#include <QGuiApplication>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QTableWidget>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <algorithm>
#include <cmath>

#include "modbus/formats.h"
#include "qt/window/beep_gate.h"
#include "qt/window/text_map.h"
#include "qt/window/widgets.h"

namespace qt {
namespace {

// Design positions are in twips; 15 twips make one logical pixel.
int Px(int twips) { return static_cast<int>(std::lround(twips / 15.0)); }

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
constexpr int kInspectorHeaderHeight = 20 * 15;
constexpr int kInspectorRowHeight = 18 * 15;
constexpr int kSaveLogWidth = 100 * 15;
constexpr int kStatusHeight = 26 * 15;
// Text colour of a preview that is a refusal rather than bytes.
const QColor kRefusalColor(176, 24, 24);

// The window's inner size for a panel of the given size: the panel, the aids
// column on its right and the status bar below.
QSize WindowSizeFor(const Field& form) {
  return {Px(form.Width() + kColumnGap + kColumnWidth + kColumnMargin), Px(form.Height() + kStatusHeight)};
}

// The preview holds bytes as hex text ("01 03 00 00 | ...") unless the form
// refuses to make a frame, when it holds the reason in words.
bool IsHexText(const QString& text) {
  return std::all_of(text.begin(), text.end(), [](QChar c) {
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || c == u' ' || c == u'|';
  });
}

// Point sizes of the fixed-pitch fonts: the input fields and lists, the
// response view, the log pane.
constexpr qreal kInputPt = 9.0;
constexpr qreal kResponsePt = 9.0;
constexpr qreal kLogPt = 9.75;
// Background of the log pane, RGB(21,25,34).
const QColor kLogBackground(21, 25, 34);

QFont FixedFont(qreal pointSize) {
  QFont f = QFontDatabase::hasFamily(QStringLiteral("Courier New"))
                ? QFont(QStringLiteral("Courier New"))
                : QFontDatabase::systemFont(QFontDatabase::FixedFont);
  f.setStyleHint(QFont::TypeWriter);
  f.setPointSizeF(pointSize);
  return f;
}

// A colour of the model (&H00BBGGRR, or &H800000nn for system colour nn).
QColor ToQColor(uint32_t c) {
  const QPalette pal = QApplication::palette();
  if ((c & 0x80000000u) != 0) {
    switch (c & 0xFFu) {
      case 0x11:  // grey (disabled) text
        return pal.color(QPalette::Disabled, QPalette::WindowText);
      case 0x12:  // button text
        return pal.color(QPalette::Active, QPalette::ButtonText);
      case 0x08:  // window text
        return pal.color(QPalette::Active, QPalette::Text);
      default:
        return pal.color(QPalette::Active, QPalette::WindowText);
    }
  }
  return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF), static_cast<int>((c >> 16) & 0xFF));
}

// A locked text pane is read-only and keeps its caret: the keyboard moves it
// and selects with it (read-only alone leaves selecting to the mouse).
void SetPaneLocked(QPlainTextEdit* w, bool locked) {
  w->setReadOnly(locked);
  if (locked) w->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
}

QTextCharFormat LogFormat(uint32_t color) {
  QTextCharFormat f;
  f.setForeground(ToQColor(color));
  return f;
}

// The character code a key press types, as a 16-bit key code: printable
// characters, Backspace 8, Enter 13, Escape 27 and Ctrl+letter 1..26. -1 for
// keys that type nothing (navigation, Delete, Tab, function keys), which the
// widget handles on its own.
int KeyAsciiOf(const QKeyEvent* e) {
  const int key = e->key();
  const Qt::KeyboardModifiers mods = e->modifiers();
  if (key == Qt::Key_Tab || key == Qt::Key_Backtab || key == Qt::Key_Delete) return -1;
  if ((mods & Qt::ControlModifier) && !(mods & Qt::AltModifier)) {
    if (key >= Qt::Key_A && key <= Qt::Key_Z) return key - Qt::Key_A + 1;
    return -1;
  }
  if (mods & (Qt::ControlModifier | Qt::MetaModifier)) return -1;
  if (key == Qt::Key_Backspace) return 8;
  if (key == Qt::Key_Return || key == Qt::Key_Enter) return 13;
  if (key == Qt::Key_Escape) return 27;
  const QString t = e->text();
  if (t.isEmpty()) return -1;
  const char16_t u = t.at(0).unicode();
  if (u < 32 || u == 127) return -1;
  return u;
}

// A character as a 16-bit key code. Codes beyond the signed 16-bit range are
// handed in as 0x7FFF, which no key filter accepts.
int16_t KeyCodeOfChar(char32_t c) { return static_cast<int16_t>(c > 0x7FFF ? 0x7FFF : c); }

bool IsClipboardKey(int key) { return key == Qt::Key_A || key == Qt::Key_C || key == Qt::Key_X || key == Qt::Key_V; }

class Guard {
 public:
  explicit Guard(int& counter) : counter_(counter) { ++counter_; }
  ~Guard() { --counter_; }
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;

 private:
  int& counter_;
};

}  // namespace

MainWindow::MainWindow(frmMain& panel, QWidget* parent) : QWidget(parent), panel_(panel) {
  // A paste into a filtered field beeps once, however many characters the
  // field's filter refuses (see FilterThroughKeyPress).
  gate_ = std::dynamic_pointer_cast<BeepGate>(panel_.Platform().beeper);

  BuildWidgets();
  for (auto& b : bindings_) {
    ConnectActions(*b);
    ApplyAll(*b);
    Binding* raw = b.get();
    b->field->SetObserver([this, raw](Field&, Prop p) { Apply(*raw, p); });
  }
  panel_.txtLog.SetChangeObserver([this](const RichTextField::Change& c) { ApplyLogChange(c); });
  // The model's placement rules put these groups over other fields.
  WidgetOf(panel_.pctHEX)->raise();
  WidgetOf(panel_.pctAuto)->raise();
  BuildAids();
  SetTabOrder();

  connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { RaiseQueryUnload(2); });
}

MainWindow::~MainWindow() {
  StopSwallowingMouse();
  for (auto& b : bindings_) b->field->SetObserver(nullptr);
  panel_.txtLog.SetChangeObserver(nullptr);
  panel_.onStatsChanged = nullptr;
}

QWidget* MainWindow::WidgetOf(const Field& field) const {
  auto it = byField_.find(&field);
  return it == byField_.end() ? nullptr : it->second->widget;
}

QWidget* MainWindow::ContainerOf(const Field& field) const {
  if (field.Parent() == nullptr) return const_cast<MainWindow*>(this);
  QWidget* w = WidgetOf(*field.Parent());
  return w != nullptr ? w : const_cast<MainWindow*>(this);
}

MainWindow::Binding& MainWindow::Bind(Field& field, Binding::Kind kind, QWidget* widget) {
  auto b = std::make_unique<Binding>();
  b->kind = kind;
  b->field = &field;
  b->widget = widget;
  Binding& ref = *b;
  byField_[&field] = &ref;
  byWidget_[widget] = &ref;
  widget->setObjectName(QString::fromStdString(field.Name()));
  bindings_.push_back(std::move(b));
  return ref;
}

void MainWindow::BuildWidgets() {
  frmMain& p = panel_;
  Bind(p, Binding::Window, this);
  setWindowIcon(QIcon(LogoWidget::RenderMark(64)));

  // Decoration: a rule between the connection bar and the request and
  // response areas, under every field in the drawing order.
  auto* rule = new QFrame(this);
  rule->setFrameShape(QFrame::HLine);
  rule->setFrameShadow(QFrame::Sunken);
  rule->setGeometry(8, Px(p.Label10.Top()) - 6, WindowSizeFor(p).width() - 16, 2);

  auto group = [&](Group& g) {
    auto* w = new QWidget(ContainerOf(g));
    Bind(g, Binding::Group, w);
  };
  auto label = [&](Label& l, bool heading = false) {
    auto* w = new ClickLabel(ContainerOf(l));
    w->setTextFormat(Qt::PlainText);
    if (heading) {
      QFont f = w->font();
      f.setBold(true);
      w->setFont(f);
    }
    if (l.onClick) w->setCursor(Qt::PointingHandCursor);
    Bind(l, Binding::Label, w);
  };
  auto list = [&](ListField& l) {
    auto* w = new QComboBox(ContainerOf(l));
    w->setEditable(l.Editable());
    if (l.Editable()) w->setInsertPolicy(QComboBox::NoInsert);
    w->setFont(FixedFont(kInputPt));
    w->setMaxVisibleItems(16);
    Bind(l, Binding::List, w);
  };
  auto line = [&](TextField& t, KeyPressHandler kp = nullptr, ValidateHandler v = nullptr) {
    auto* w = new QLineEdit(ContainerOf(t));
    w->setFont(FixedFont(kInputPt));
    Binding& b = Bind(t, Binding::Line, w);
    b.keyPress = kp;
    b.validate = v;
    if (kp != nullptr) {
      // Dropped text would bypass the key filter; pasting is filtered instead.
      w->setAcceptDrops(false);
    }
    if (kp != nullptr || v != nullptr) w->installEventFilter(this);
  };
  auto button = [&](Button& btn) {
    auto* w = new QPushButton(ContainerOf(btn));
    w->setAutoDefault(false);
    Bind(btn, Binding::Button, w);
  };
  auto pressButton = [&](Button& btn) {
    auto* w = new PressButton(ContainerOf(btn));
    w->setAutoDefault(false);
    Bind(btn, Binding::Press, w);
  };
  auto option = [&](OptionButton& o) {
    auto* w = new QRadioButton(ContainerOf(o));
    // The model keeps the two options exclusive.
    w->setAutoExclusive(false);
    Bind(o, Binding::Option, w);
  };

  label(p.lblProtocol, true);
  list(p.cmbMode);
  group(p.pctHEXOpt);
  option(p.optFORM);
  option(p.optHEX);
  label(p.Label10, true);
  label(p.lblResponse, true);
  label(p.lblDT);
  static_cast<QLabel*>(WidgetOf(p.lblDT))->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

  group(p.pctRTU);
  label(p.Label3);
  list(p.cmbRtuPort);
  label(p.Label4);
  list(p.cmbRtuSpeed);
  label(p.Label11);
  list(p.cmbRtuParity);
  label(p.Label12);
  list(p.cmbRtuStopBit);
  label(p.Label13);
  line(p.txtRtuTimeout, &frmMain::txtRtuTimeout_KeyPress, &frmMain::txtRtuTimeout_Validate);
  label(p.Label14);
  button(p.cmdRtuOpenPort);
  button(p.cmdRtuClosePort);

  group(p.pctTCP);
  label(p.Label1);
  line(p.txtTcpHost);
  label(p.Label2);
  line(p.txtTcpPort, &frmMain::txtTcpPort_KeyPress, &frmMain::txtTcpPort_Validate);
  label(p.Label5);
  line(p.txtTcpTimeout, &frmMain::txtTcpTimeout_KeyPress, &frmMain::txtTcpTimeout_Validate);
  label(p.Label6);
  button(p.cmdTcpConnect);
  button(p.cmdTcpDisconnect);

  group(p.pctRequest);
  group(p.pctForm);
  label(p.lblUnitID);
  line(p.txtUnitID, &frmMain::txtUnitID_KeyPress, &frmMain::txtUnitID_Validate);
  label(p.lblCommand);
  list(p.cmbCmd);
  label(p.Label7);
  line(p.txtAddr, &frmMain::txtAddr_KeyPress, &frmMain::txtAddr_Validate);
  label(p.lblLen);
  line(p.txtQuantity, &frmMain::txtQuantity_KeyPress, &frmMain::txtQuantity_Validate);
  line(p.txtValue, &frmMain::txtValue_KeyPress);
  label(p.Label15);
  list(p.cmbFormat);
  button(p.cmdSend);
  pressButton(p.cmdAuto1);
  group(p.pctAuto);
  pressButton(p.cmdAuto0);
  {
    // The stop button shows latched down while polling is on.
    auto* stop = static_cast<QPushButton*>(WidgetOf(p.cmdAuto0));
    stop->setCheckable(true);
    stop->setChecked(true);
  }
  line(p.txtPollInterval, &frmMain::txtPollInterval_KeyPress, &frmMain::txtPollInterval_Validate);
  label(p.lblPollInterval);
  // The caption closes up to its field.
  static_cast<QLabel*>(WidgetOf(p.lblPollInterval))->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

  group(p.pctHEX);
  {
    auto* w = new FilteredTextEdit(ContainerOf(p.txtHEX));
    w->setFont(FixedFont(kInputPt));
    w->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    w->setTabChangesFocus(true);
    Binding& b = Bind(p.txtHEX, Binding::Multi, w);
    b.keyPress = &frmMain::txtHEX_KeyPress;
    b.keyDown = &frmMain::txtHEX_KeyDown;
    Binding* raw = &b;
    w->pasteFilter = [this, raw](const QString& s) { return FilterThroughKeyPress(*raw, s); };
    w->installEventFilter(this);
  }

  group(p.pctResponseForm);
  group(p.pctResponseText);
  {
    auto* w = new QPlainTextEdit(ContainerOf(p.txtResponse));
    w->setFont(FixedFont(kResponsePt));
    w->setLineWrapMode(QPlainTextEdit::NoWrap);
    w->setTabChangesFocus(true);
    w->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    w->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    w->setFocusPolicy(Qt::StrongFocus);
    w->document()->setUndoRedoEnabled(false);  // a view, rebuilt for every answer
    Binding& b = Bind(p.txtResponse, Binding::Multi, w);
    b.keyDown = &frmMain::txtResponse_KeyDown;
    b.clipboardKeys = true;
    w->installEventFilter(this);
  }

  group(p.pctLog);
  {
    auto* w = new QPlainTextEdit(ContainerOf(p.txtLog));
    w->setFont(FixedFont(kLogPt));
    w->setLineWrapMode(QPlainTextEdit::NoWrap);
    w->setTabChangesFocus(true);
    w->setReadOnly(true);
    w->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    w->setFocusPolicy(Qt::StrongFocus);
    // Every change the pane follows would otherwise stay as an undo step, for
    // as long as the program runs.
    w->document()->setUndoRedoEnabled(false);
    QPalette pal = w->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
      pal.setColor(group, QPalette::Base, kLogBackground);
      pal.setColor(group, QPalette::Text, ToQColor(LogColorInfo));
      // Scroll bars in the pane's dark tones.
      pal.setColor(group, QPalette::Window, kLogBackground.lighter(130));
      pal.setColor(group, QPalette::Button, kLogBackground.lighter(190));
      pal.setColor(group, QPalette::Dark, kLogBackground.lighter(110));
      pal.setColor(group, QPalette::ButtonText, ToQColor(LogColorInfo));
    }
    w->setPalette(pal);
    Binding& b = Bind(p.txtLog, Binding::Log, w);
    b.keyDown = &frmMain::txtLog_KeyDown;
    b.clipboardKeys = true;
    w->installEventFilter(this);
  }
  group(p.pctLogo);
  {
    auto* w = new LogoWidget(ContainerOf(p.imgLogo));
    if (p.imgLogo.onClick) w->setCursor(Qt::PointingHandCursor);
    Bind(p.imgLogo, Binding::Image, w);
  }
  label(p.Label8);
  label(p.lblScada);
  // The maker's link closes the row flush with the log pane's right edge.
  static_cast<QLabel*>(WidgetOf(p.lblScada))->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
}

void MainWindow::SetTabOrder() {
  frmMain& p = panel_;
  // Mode, the connection, the input kind, the request, then the results.
  const std::vector<const Field*> order = {
      &p.cmbMode,         &p.txtTcpHost,      &p.txtTcpPort,   &p.txtTcpTimeout, &p.cmdTcpConnect, &p.cmdTcpDisconnect,
      &p.cmbRtuPort,      &p.cmbRtuSpeed,     &p.cmbRtuParity, &p.cmbRtuStopBit, &p.txtRtuTimeout, &p.cmdRtuOpenPort,
      &p.cmdRtuClosePort, &p.optFORM,         &p.optHEX,       &p.txtUnitID,     &p.cmbCmd,        &p.txtAddr,
      &p.txtQuantity,     &p.txtValue,        &p.txtHEX,       &p.cmbFormat,     &p.cmdSend,       &p.cmdAuto1,
      &p.cmdAuto0,        &p.txtPollInterval, &p.txtResponse,  &p.txtLog};
  for (size_t i = 1; i < order.size(); ++i) QWidget::setTabOrder(WidgetOf(*order[i - 1]), WidgetOf(*order[i]));
  // The aids' buttons last; the preview and the inspector are read by eye.
  QWidget::setTabOrder(WidgetOf(p.txtLog), saveLog_);
  QWidget::setTabOrder(saveLog_, resetStats_);
}

// ---- model to widget ---------------------------------------------------------

void MainWindow::ApplyAll(Binding& b) {
  Guard g(updating_);
  ApplyGeometry(b);
  if (b.kind == Binding::List) SyncList(b);
  ApplyCaption(b);
  ApplyText(b);
  if (b.kind == Binding::Option)
    static_cast<QRadioButton*>(b.widget)->setChecked(static_cast<OptionButton*>(b.field)->Value());
  if (b.kind != Binding::Window) {
    b.widget->setEnabled(b.field->Enabled());
    b.widget->setVisible(b.field->Visible());
  }
  ApplyForeColor(b);
  b.widget->setToolTip(QString::fromStdString(b.field->ToolTipText()));
  if (b.kind == Binding::Line) static_cast<QLineEdit*>(b.widget)->setReadOnly(static_cast<TextBox*>(b.field)->Locked());
  if (b.kind == Binding::Multi)
    SetPaneLocked(static_cast<QPlainTextEdit*>(b.widget), static_cast<TextBox*>(b.field)->Locked());
}

void MainWindow::Apply(Binding& b, Prop p) {
  Guard g(updating_);
  if (p == Prop::Text || p == Prop::Items || p == Prop::ListIndex || p == Prop::Value) {
    // The preview follows every field it may be made of; it is made again
    // once, after the current event.
    previewPending_ = true;
    QueueFlush();
  }
  switch (p) {
    case Prop::Caption:
      ApplyCaption(b);
      break;
    case Prop::Text:
      if (b.kind == Binding::Multi)
        Defer(b, true, false);
      else if (b.kind != Binding::Log)  // the log pane follows its changes instead
        ApplyText(b);
      break;
    case Prop::Items:
    case Prop::ListIndex:
      if (b.kind == Binding::List) SyncList(b);
      break;
    case Prop::Value:
      if (b.kind == Binding::Option)
        static_cast<QRadioButton*>(b.widget)->setChecked(static_cast<OptionButton*>(b.field)->Value());
      break;
    case Prop::Enabled:
      if (b.kind != Binding::Window) b.widget->setEnabled(b.field->Enabled());
      // The inspector reads the response view's answer: greyed with it.
      if (b.field == &panel_.txtResponse && inspector_ != nullptr) inspector_->setEnabled(b.field->Enabled());
      break;
    case Prop::Visible:
      if (b.kind != Binding::Window) b.widget->setVisible(b.field->Visible());
      break;
    case Prop::ForeColor:
      ApplyForeColor(b);
      break;
    case Prop::ToolTip:
      b.widget->setToolTip(QString::fromStdString(b.field->ToolTipText()));
      break;
    case Prop::Geometry:
      ApplyGeometry(b);
      break;
    case Prop::Selection:
      if (b.kind == Binding::Multi)
        Defer(b, false, true);
      else
        ApplySelection(b);
      break;
    case Prop::Locked:
      if (b.kind == Binding::Line)
        static_cast<QLineEdit*>(b.widget)->setReadOnly(static_cast<TextBox*>(b.field)->Locked());
      else if (b.kind == Binding::Multi || b.kind == Binding::Log)
        SetPaneLocked(static_cast<QPlainTextEdit*>(b.widget), static_cast<TextBox*>(b.field)->Locked());
      break;
    case Prop::Focus:
      FocusFromModel(b);
      break;
  }
}

void MainWindow::ApplyCaption(Binding& b) {
  auto* f = dynamic_cast<CaptionField*>(b.field);
  if (f == nullptr) return;
  const QString c = QString::fromStdString(f->Caption());
  switch (b.kind) {
    case Binding::Window:
      setWindowTitle(c);
      break;
    case Binding::Label:
      static_cast<QLabel*>(b.widget)->setText(c);
      break;
    case Binding::Button:
    case Binding::Press:
    case Binding::Option:
      static_cast<QAbstractButton*>(b.widget)->setText(c);
      break;
    default:
      break;
  }
}

void MainWindow::ApplyText(Binding& b) {
  switch (b.kind) {
    case Binding::Line: {
      auto* w = static_cast<QLineEdit*>(b.widget);
      const QString t = ToLineText(static_cast<TextBox*>(b.field)->Text());
      if (w->text() != t) w->setText(t);
      break;
    }
    case Binding::Multi: {
      auto* w = static_cast<QPlainTextEdit*>(b.widget);
      const QString t = ToWidgetText(static_cast<TextBox*>(b.field)->Text());
      if (w->toPlainText() != t) w->setPlainText(t);
      if (b.field == &panel_.txtResponse && inspector_ != nullptr) RefreshInspector();
      break;
    }
    case Binding::List:
      SyncList(b);
      break;
    case Binding::Log: {
      // The whole pane, drawn once: when the window is made, and when the
      // model replaces its text.
      auto& log = panel_.txtLog;
      auto* w = static_cast<QPlainTextEdit*>(b.widget);
      logMirror_ = log.Text();
      w->clear();
      QTextCursor cur(w->document());
      size_t run = 0;
      for (size_t i = 1; i <= logMirror_.size(); ++i) {
        if (i == logMirror_.size() || log.ColorAt(i) != log.ColorAt(run)) {
          cur.insertText(ToWidgetText(std::string_view(logMirror_).substr(run, i - run)), LogFormat(log.ColorAt(run)));
          run = i;
        }
      }
      ApplyLogSelection();
      break;
    }
    default:
      break;
  }
}

void MainWindow::ApplySelection(Binding& b) {
  switch (b.kind) {
    case Binding::Line: {
      auto* w = static_cast<QLineEdit*>(b.widget);
      auto* t = static_cast<TextBox*>(b.field);
      const int start = LineWidgetPos(t->Text(), t->SelStart());
      const int end = LineWidgetPos(t->Text(), t->SelStart() + t->SelLength());
      if (end > start)
        w->setSelection(start, end - start);
      else
        w->setCursorPosition(start);
      break;
    }
    case Binding::Multi: {
      auto* w = static_cast<QPlainTextEdit*>(b.widget);
      auto* t = static_cast<TextBox*>(b.field);
      const int start = WidgetPos(t->Text(), t->SelStart());
      const int end = WidgetPos(t->Text(), t->SelStart() + t->SelLength());
      QTextCursor cur = w->textCursor();
      if (cur.selectionStart() == start && cur.selectionEnd() == end) break;
      cur.setPosition(start);
      cur.setPosition(end, QTextCursor::KeepAnchor);
      w->setTextCursor(cur);
      break;
    }
    case Binding::Log:
      ApplyLogSelection();
      break;
    default:
      break;
  }
}

void MainWindow::ApplyForeColor(Binding& b) {
  if (b.kind != Binding::Label) return;
  QPalette pal = b.widget->palette();
  pal.setColor(QPalette::WindowText, ToQColor(b.field->ForeColor()));
  b.widget->setPalette(pal);
}

void MainWindow::ApplyGeometry(Binding& b) {
  const Field& f = *b.field;
  if (b.kind == Binding::Window) {
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
    return;
  }
  b.widget->setGeometry(Px(f.Left()), Px(f.Top()), Px(f.Width()), Px(f.Height()));
}

void MainWindow::SyncList(Binding& b) {
  auto& l = *static_cast<ListField*>(b.field);
  auto* w = static_cast<QComboBox*>(b.widget);
  QStringList items;
  for (const std::string& s : l.Items()) items << QString::fromStdString(s);
  QStringList shown;
  for (int i = 0; i < w->count(); ++i) shown << w->itemText(i);
  if (shown != items) {
    w->clear();
    w->addItems(items);
    // Let the drop-down list show its longest item in full.
    int widest = 0;
    for (const QString& s : items) widest = std::max(widest, w->fontMetrics().horizontalAdvance(s));
    w->view()->setMinimumWidth(widest + 2 * w->fontMetrics().averageCharWidth() + 8);
  }
  if (w->currentIndex() != l.ListIndex()) w->setCurrentIndex(l.ListIndex());
  if (l.Editable()) {
    const QString t = QString::fromStdString(l.Text());
    if (w->currentText() != t) w->setEditText(t);
  }
}

void MainWindow::Defer(Binding& b, bool text, bool selection) {
  b.pendingText = b.pendingText || text;
  b.pendingSelection = b.pendingSelection || selection;
  QueueFlush();
}

void MainWindow::QueueFlush() {
  if (flushQueued_) return;
  flushQueued_ = true;
  QMetaObject::invokeMethod(
      this, [this] { ApplyPending(); }, Qt::QueuedConnection);
}

void MainWindow::ApplyPending() {
  flushQueued_ = false;
  Guard g(updating_);
  for (auto& b : bindings_) {
    if (b->pendingText) {
      b->pendingText = false;
      ApplyText(*b);
    }
    if (b->pendingSelection) {
      b->pendingSelection = false;
      ApplySelection(*b);
    }
  }
  if (previewPending_ && preview_ != nullptr) {
    previewPending_ = false;
    RefreshPreview();
  }
}

void MainWindow::ApplyLogChange(const RichTextField::Change& c) {
  Binding& b = *byField_.at(&panel_.txtLog);
  auto* w = static_cast<QPlainTextEdit*>(b.widget);
  Guard g(updating_);
  // A request logged has used up its transaction identifier: the preview
  // shows the next one.
  previewPending_ = true;
  QueueFlush();
  switch (c.kind) {
    case RichTextField::Change::Reset:
      ApplyText(b);
      break;
    case RichTextField::Change::Append: {
      logMirror_ += c.text;
      QTextCursor cur(w->document());
      cur.movePosition(QTextCursor::End);
      cur.insertText(ToWidgetText(c.text), LogFormat(c.color));
      // The newest row stays in view.
      w->verticalScrollBar()->setValue(w->verticalScrollBar()->maximum());
      break;
    }
    case RichTextField::Change::RemoveFront: {
      const size_t n = std::min(c.pos, logMirror_.size());
      const int units = WidgetPos(logMirror_, static_cast<int>(n));
      logMirror_.erase(0, n);
      QTextCursor cur(w->document());
      cur.setPosition(units, QTextCursor::KeepAnchor);
      cur.removeSelectedText();
      break;
    }
    case RichTextField::Change::Recolor: {
      const int from = WidgetPos(logMirror_, static_cast<int>(c.pos));
      const int to = WidgetPos(logMirror_, static_cast<int>(c.pos + c.len));
      QTextCursor cur(w->document());
      cur.setPosition(from);
      cur.setPosition(to, QTextCursor::KeepAnchor);
      QTextCharFormat f;
      f.setForeground(ToQColor(c.color));
      cur.mergeCharFormat(f);
      break;
    }
  }
}

void MainWindow::ApplyLogSelection() {
  auto& log = panel_.txtLog;
  auto* w = static_cast<QPlainTextEdit*>(WidgetOf(log));
  int start = 0, end = 0;
  if (log.SelLength() == 0 && static_cast<size_t>(log.SelStart()) >= logMirror_.size()) {
    // The caret at the end, after every entry: no need to walk the text.
    start = end = w->document()->characterCount() - 1;
  } else {
    start = WidgetPos(logMirror_, log.SelStart());
    end = WidgetPos(logMirror_, log.SelStart() + log.SelLength());
  }
  QTextCursor cur = w->textCursor();
  if (cur.selectionStart() == start && cur.selectionEnd() == end && cur.position() == end) return;
  cur.setPosition(start);
  cur.setPosition(end, QTextCursor::KeepAnchor);
  w->setTextCursor(cur);
}

void MainWindow::FocusFromModel(Binding& b) {
  // A focus move by the model is not the operator leaving a field: it does
  // not run the field's value check.
  modelFocusMove_ = true;
  b.widget->setFocus(Qt::OtherFocusReason);
  modelFocusMove_ = false;
}

// ---- widget to model ------------------------------------------------------

void MainWindow::ConnectActions(Binding& b) {
  switch (b.kind) {
    case Binding::List: {
      auto* w = static_cast<QComboBox*>(b.widget);
      auto* l = static_cast<ListField*>(b.field);
      connect(w, &QComboBox::activated, this, [this, &b, l](int i) {
        if (updating_ > 0) return;
        l->SetListIndex(i);
        ApplyPending();
        // The model may refuse or change the choice; show what it holds.
        Guard g(updating_);
        SyncList(b);
      });
      if (l->Editable()) {
        connect(w->lineEdit(), &QLineEdit::textEdited, this, [this, l](const QString& t) {
          if (updating_ > 0) return;
          l->SetText(t.toStdString());
          ApplyPending();
        });
      }
      break;
    }
    case Binding::Line: {
      auto* w = static_cast<QLineEdit*>(b.widget);
      connect(w, &QLineEdit::textEdited, this, [this, &b](const QString&) {
        if (updating_ > 0) return;
        SyncTextToModel(b);
      });
      break;
    }
    case Binding::Multi: {
      auto* w = static_cast<QPlainTextEdit*>(b.widget);
      connect(w, &QPlainTextEdit::textChanged, this, [this, &b] {
        if (updating_ > 0) return;
        SyncTextToModel(b);
      });
      break;
    }
    case Binding::Option: {
      auto* w = static_cast<QRadioButton*>(b.widget);
      auto* o = static_cast<OptionButton*>(b.field);
      connect(w, &QRadioButton::clicked, this, [this, w, o](bool checked) {
        if (checked) o->SetValue(true);
        ApplyPending();
        // Clicking a chosen option does not clear it: show what the model holds.
        Guard g(updating_);
        w->setChecked(o->Value());
      });
      break;
    }
    case Binding::Button: {
      auto* btn = static_cast<Button*>(b.field);
      connect(static_cast<QPushButton*>(b.widget), &QPushButton::clicked, this, [this, btn] {
        if (btn->onClick) btn->onClick();
        ApplyPending();
      });
      break;
    }
    case Binding::Press: {
      auto* btn = static_cast<Button*>(b.field);
      connect(static_cast<PressButton*>(b.widget), &PressButton::mouseDown, this, [this, btn] {
        if (btn->onMouseDown) btn->onMouseDown();
        ApplyPending();
      });
      break;
    }
    case Binding::Label: {
      auto* l = static_cast<Label*>(b.field);
      connect(static_cast<ClickLabel*>(b.widget), &ClickLabel::clicked, this, [this, l] {
        if (l->onClick) l->onClick();
        ApplyPending();
      });
      break;
    }
    case Binding::Image: {
      auto* img = static_cast<Image*>(b.field);
      connect(static_cast<LogoWidget*>(b.widget), &LogoWidget::clicked, this, [this, img] {
        if (img->onClick) img->onClick();
        ApplyPending();
      });
      break;
    }
    default:
      break;
  }
}

void MainWindow::SyncTextToModel(Binding& b) {
  auto* t = static_cast<TextBox*>(b.field);
  std::string text;
  if (b.kind == Binding::Line)
    text = static_cast<QLineEdit*>(b.widget)->text().toStdString();
  else
    text = FromWidgetText(static_cast<QPlainTextEdit*>(b.widget)->toPlainText());
  t->SetText(text);
  ApplyPending();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* e) {
  if (swallowMouse_) {
    const QEvent::Type type = e->type();
    if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease || type == QEvent::MouseButtonDblClick) {
      auto* w = qobject_cast<QWidget*>(watched);
      const bool stale = QDateTime::currentMSecsSinceEpoch() - swallowSince_ > 3000;
      if (type == QEvent::MouseButtonRelease || stale) StopSwallowingMouse();
      // The click that tried to take the focus from a refused field does not
      // reach its target.
      if (!stale && w != nullptr && w->window() == this && (refocus_ == nullptr || w != refocus_->widget)) return true;
    }
  }

  auto it = byWidget_.find(watched);
  if (it == byWidget_.end()) return QWidget::eventFilter(watched, e);
  Binding& b = *it->second;
  switch (e->type()) {
    case QEvent::KeyPress:
      return OnKeyPress(b, static_cast<QKeyEvent*>(e));
    case QEvent::FocusOut:
      OnFocusOut(b, static_cast<QFocusEvent*>(e));
      break;
    case QEvent::ContextMenu:
      if (b.kind == Binding::Line && b.keyPress != nullptr) return LineContextMenu(b, e);
      break;
    case QEvent::MouseButtonRelease:
      // The middle button pastes the X11 selection: filtered like any paste.
      if (b.kind == Binding::Line && b.keyPress != nullptr &&
          static_cast<QMouseEvent*>(e)->button() == Qt::MiddleButton) {
        if (QApplication::clipboard()->supportsSelection())
          PasteFiltered(b, QApplication::clipboard()->text(QClipboard::Selection));
        return true;
      }
      break;
    default:
      break;
  }
  return false;
}

bool MainWindow::OnKeyPress(Binding& b, QKeyEvent* e) {
  if (b.keyDown != nullptr) {
    const int key = e->key();
    if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9)) {
      const Qt::KeyboardModifiers mods = e->modifiers();
      const auto shift =
          static_cast<int16_t>(((mods & Qt::ShiftModifier) ? 1 : 0) | ((mods & Qt::ControlModifier) ? 2 : 0) |
                               ((mods & Qt::AltModifier) ? 4 : 0));
      ApplyPending();
      PushSelection(b);
      (panel_.*b.keyDown)(static_cast<int16_t>(key), shift);
      ApplyPending();
      if (b.clipboardKeys && (mods & Qt::ControlModifier) && IsClipboardKey(key)) return true;
    }
  }
  if (b.keyPress == nullptr) return false;

  const int code = KeyAsciiOf(e);
  if (code < 0) {
    if (e->matches(QKeySequence::Paste)) {  // Shift+Insert
      Paste(b);
      return true;
    }
    return false;
  }
  if (e->text().size() > 1) {  // several characters at once (an input method): a paste
    PasteFiltered(b, e->text());
    return true;
  }
  auto k = static_cast<int16_t>(code);
  (panel_.*b.keyPress)(k);
  ApplyPending();
  if (k == 0) return true;  // refused
  if (k != code) {          // replaced (upper-cased)
    InsertTyped(b, QString(QChar(static_cast<char16_t>(k))));
    return true;
  }
  if (k == 22) {  // Ctrl+V: the pasted text goes through the filter too
    Paste(b);
    return true;
  }
  return false;  // the widget types the character (or copies, cuts, erases)
}

void MainWindow::OnFocusOut(Binding& b, QFocusEvent* e) {
  if (b.validate == nullptr) return;
  const Qt::FocusReason why = e->reason();
  // Only the operator moving to another field of this window checks the
  // value; switching windows, menus and the model's own focus moves do not.
  if (why == Qt::ActiveWindowFocusReason || why == Qt::PopupFocusReason || why == Qt::MenuBarFocusReason) return;
  if (modelFocusMove_ || restoringFocus_) return;
  if (refocus_ != nullptr && refocus_ != &b) return;
  bool cancel = false;
  (panel_.*b.validate)(cancel);
  ApplyPending();
  if (cancel) RestoreFocusLater(b, why == Qt::MouseFocusReason);
}

void MainWindow::RestoreFocusLater(Binding& b, bool swallowClick) {
  refocus_ = &b;
  if (swallowClick && !swallowMouse_) {
    swallowMouse_ = true;
    swallowSince_ = QDateTime::currentMSecsSinceEpoch();
    qApp->installEventFilter(this);
  }
  // The focus has already moved on when the field hears of it; it is put
  // back once the move is complete.
  QPointer<QWidget> w = b.widget;
  QTimer::singleShot(0, this, [this, w] {
    if (w && w->isVisible() && w->isEnabled()) {
      restoringFocus_ = true;
      w->setFocus(Qt::OtherFocusReason);
      restoringFocus_ = false;
    }
    refocus_ = nullptr;
  });
}

void MainWindow::StopSwallowingMouse() {
  if (!swallowMouse_) return;
  swallowMouse_ = false;
  qApp->removeEventFilter(this);
}

void MainWindow::PushSelection(Binding& b) {
  auto* w = static_cast<QPlainTextEdit*>(b.widget);
  if (b.kind != Binding::Multi && b.kind != Binding::Log) return;
  const std::string& text = b.kind == Binding::Log ? logMirror_ : static_cast<TextBox*>(b.field)->Text();
  const QTextCursor cur = w->textCursor();
  const int start = PanelPos(text, cur.selectionStart());
  const int end = PanelPos(text, cur.selectionEnd());
  Guard g(updating_);
  static_cast<TextBox*>(b.field)->Select(start, end - start);
}

QString MainWindow::FilterThroughKeyPress(Binding& b, const QString& text) {
  if (gate_) gate_->Hold();
  QString allowed;
  for (qsizetype i = 0; i < text.size(); ++i) {
    char32_t c = text.at(i).unicode();
    qsizetype units = 1;
    if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
      c = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
      units = 2;
    }
    const int16_t code = KeyCodeOfChar(c);
    int16_t k = code;
    (panel_.*b.keyPress)(k);
    if (k == code)
      allowed += text.mid(i, units);
    else if (k != 0)
      allowed += QChar(static_cast<char16_t>(k));
    i += units - 1;
  }
  if (gate_) gate_->Release();
  ApplyPending();
  return allowed;
}

void MainWindow::InsertTyped(Binding& b, const QString& text) {
  if (b.kind == Binding::Line) {
    auto* w = static_cast<QLineEdit*>(b.widget);
    if (w->isReadOnly()) return;
    w->insert(text);
  } else if (b.kind == Binding::Multi) {
    auto* w = static_cast<QPlainTextEdit*>(b.widget);
    if (w->isReadOnly()) return;
    w->textCursor().insertText(text);
    w->ensureCursorVisible();
  }
  SyncTextToModel(b);
}

void MainWindow::PasteFiltered(Binding& b, const QString& text) {
  if (text.isEmpty()) return;
  if (b.kind == Binding::Line && static_cast<QLineEdit*>(b.widget)->isReadOnly()) return;
  const QString allowed = FilterThroughKeyPress(b, text);
  if (!allowed.isEmpty()) InsertTyped(b, allowed);
}

void MainWindow::Paste(Binding& b) {
  if (b.kind == Binding::Multi) {
    // FilteredTextEdit filters every paste and drop on its own.
    static_cast<QPlainTextEdit*>(b.widget)->paste();
    return;
  }
  PasteFiltered(b, QApplication::clipboard()->text());
}

bool MainWindow::LineContextMenu(Binding& b, QEvent* e) {
  auto* w = static_cast<QLineEdit*>(b.widget);
  std::unique_ptr<QMenu> menu(w->createStandardContextMenu());
  for (QAction* a : menu->actions()) {
    if (a->objectName() != QLatin1String("edit-paste")) continue;
    // The menu's Paste goes through the key filter like Ctrl+V.
    auto* filtered = new QAction(a->icon(), a->text(), menu.get());
    filtered->setEnabled(a->isEnabled());
    filtered->setShortcut(a->shortcut());
    connect(filtered, &QAction::triggered, this, [this, &b] { Paste(b); });
    menu->insertAction(a, filtered);
    menu->removeAction(a);
    break;
  }
  menu->exec(static_cast<QContextMenuEvent*>(e)->globalPos());
  return true;
}

void MainWindow::moveEvent(QMoveEvent* e) {
  QWidget::moveEvent(e);
  if (updating_ == 0 && isVisible()) PushPosition();
}

void MainWindow::PushPosition() {
  // The panel's position is the window's, in twips; it is stored at close.
  // One change, so that the model's echo sees the whole new position.
  Guard g(updating_);
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

// ---- operator aids ------------------------------------------------------------

void MainWindow::BuildAids() {
  frmMain& p = panel_;
  const int columnLeft = p.Width() + kColumnGap;

  // The request preview: the bytes the next Send puts on the wire, shown as
  // a display rather than an input.
  preview_ = new QLineEdit(WidgetOf(p.pctRequest));
  preview_->setObjectName(QStringLiteral("requestPreview"));
  preview_->setGeometry(Px(kPreviewLeft), Px(kPreviewTop), Px(kPreviewWidth), Px(kPreviewHeight));
  preview_->setFont(FixedFont(kInputPt));
  preview_->setReadOnly(true);
  preview_->setFocusPolicy(Qt::ClickFocus);  // to select and copy; not a stop for Tab
  preview_->setPlaceholderText(QStringLiteral("Request preview"));
  {
    // An arrow before the bytes, as the log marks a request.
    auto* arrow = new QLabel(QStringLiteral("\u2192"), preview_);
    {
      QFont f = font();
      f.setPointSizeF(f.pointSizeF() * 1.3);
      arrow->setFont(f);
    }
    const int room = arrow->fontMetrics().horizontalAdvance(arrow->text()) + 6;
    arrow->setGeometry(3, 0, room, preview_->height());
    arrow->setAlignment(Qt::AlignCenter);
    QPalette pal = arrow->palette();
    pal.setColor(QPalette::WindowText, palette().color(QPalette::PlaceholderText));
    arrow->setPalette(pal);
    preview_->setTextMargins(room, 0, 0, 0);
  }
  {
    QPalette pal = preview_->palette();
    pal.setColor(QPalette::Base, pal.color(QPalette::Window));
    preview_->setPalette(pal);
  }

  // The value inspector: a heading level with the response view's, the
  // selected register's address on its right, then one row per format.
  auto* heading = new QLabel(QStringLiteral("INSPECTOR"), this);
  heading->setObjectName(QStringLiteral("inspectorHeading"));
  {
    QFont f = heading->font();
    f.setBold(true);
    heading->setFont(f);
  }
  heading->setGeometry(Px(columnLeft), Px(p.lblResponse.Top()), Px(kColumnWidth) / 3, Px(p.lblResponse.Height()));
  inspectorAddress_ = new QLabel(this);
  inspectorAddress_->setObjectName(QStringLiteral("inspectorAddress"));
  inspectorAddress_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  inspectorAddress_->setGeometry(Px(columnLeft) + Px(kColumnWidth) / 3, Px(p.lblResponse.Top()),
                                 Px(kColumnWidth) - Px(kColumnWidth) / 3, Px(p.lblResponse.Height()));

  inspector_ = new QTableWidget(static_cast<int>(modbus::kFormatNames.size()), 3, this);
  inspector_->setObjectName(QStringLiteral("inspector"));
  inspector_->setHorizontalHeaderLabels({QStringLiteral("Format"), QStringLiteral("Bytes"), QStringLiteral("Value")});
  inspector_->verticalHeader()->hide();
  inspector_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  inspector_->verticalHeader()->setDefaultSectionSize(Px(kInspectorRowHeight));
  inspector_->horizontalHeader()->setFixedHeight(Px(kInspectorHeaderHeight));
  inspector_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  inspector_->horizontalHeader()->setSectionsClickable(false);
  inspector_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  inspector_->setSelectionMode(QAbstractItemView::NoSelection);
  inspector_->setFocusPolicy(Qt::NoFocus);
  inspector_->setWordWrap(false);  // a long value is cut at its end, never broken
  inspector_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  inspector_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  inspector_->setFont(FixedFont(kResponsePt));
  inspector_->horizontalHeader()->setFont(font());
  {
    const QFontMetrics fm(inspector_->font());
    const int pad = fm.averageCharWidth() + 4;
    inspector_->setColumnWidth(0, fm.horizontalAdvance(QStringLiteral("UINT32_DCBA")) + pad);
    inspector_->setColumnWidth(1, fm.horizontalAdvance(QStringLiteral("00 00 00 00")) + pad);
    inspector_->horizontalHeader()->setStretchLastSection(true);
  }
  for (int r = 0; r < inspector_->rowCount(); ++r) {
    const std::string_view name = modbus::kFormatNames[static_cast<size_t>(r)];
    inspector_->setItem(r, 0,
                        new QTableWidgetItem(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()))));
    inspector_->setItem(r, 1, new QTableWidgetItem);
    inspector_->setItem(r, 2, new QTableWidgetItem);
  }
  const int frame = 2 * inspector_->frameWidth();
  inspector_->setGeometry(Px(columnLeft), Px(p.pctResponseForm.Top()), Px(kColumnWidth),
                          Px(kInspectorHeaderHeight) + inspector_->rowCount() * Px(kInspectorRowHeight) + frame);
  auto* response = static_cast<QPlainTextEdit*>(WidgetOf(p.txtResponse));
  connect(response, &QPlainTextEdit::cursorPositionChanged, this, [this, response] {
    // The operator's choice of line only; the model's rebuilding of the view
    // keeps the line chosen, so that polling updates its values.
    if (updating_ > 0) return;
    inspectedLine_ = response->textCursor().blockNumber();
    RefreshInspector();
  });
  inspector_->setEnabled(p.txtResponse.Enabled());

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
  auto* bar = new QStatusBar(this);
  bar->setObjectName(QStringLiteral("statusBar"));
  bar->setSizeGripEnabled(false);
  bar->setContentsMargins(Px(kColumnMargin) - 4, 0, Px(kColumnMargin) - 4, 0);
  bar->setGeometry(0, Px(p.Height()) + 2, windowWidth, Px(kStatusHeight) - 2);
  stats_ = new QLabel(bar);
  stats_->setObjectName(QStringLiteral("sessionStats"));
  stats_->setTextFormat(Qt::PlainText);
  bar->addWidget(stats_, 1);
  resetStats_ = new QPushButton(QStringLiteral("Reset"), bar);
  resetStats_->setObjectName(QStringLiteral("resetStats"));
  resetStats_->setAutoDefault(false);
  resetStats_->setToolTip(QStringLiteral("Reset the session statistics"));
  resetStats_->setFixedHeight(Px(kStatusHeight) - 6);
  bar->addPermanentWidget(resetStats_);
  connect(resetStats_, &QPushButton::clicked, this, [this] {
    panel_.ResetStats();
    ApplyPending();
  });
  panel_.onStatsChanged = [this] { RefreshStats(); };

  RefreshPreview();
  RefreshInspector();
  RefreshStats();
}

void MainWindow::RefreshPreview() {
  const QString text = QString::fromStdString(panel_.PreviewRequest());
  if (preview_->text() != text) {
    preview_->setText(text);
    preview_->setCursorPosition(0);  // the start of a long preview in view
  }
  QPalette pal = preview_->palette();
  pal.setColor(QPalette::Text, IsHexText(text) ? palette().color(QPalette::Text) : kRefusalColor);
  preview_->setPalette(pal);
  // A long preview is cut off by the field; its tool tip shows it whole.
  preview_->setToolTip(QStringLiteral("The bytes the next Send puts on the wire") +
                       (text.isEmpty() ? QString() : QStringLiteral(":\n") + text));
}

void MainWindow::RefreshInspector() {
  const std::vector<InspectorRow> rows =
      inspectedLine_ >= 0 ? panel_.InspectResponseLine(inspectedLine_) : std::vector<InspectorRow>{};
  for (int r = 0; r < inspector_->rowCount(); ++r) {
    const InspectorRow* row = static_cast<size_t>(r) < rows.size() ? &rows[static_cast<size_t>(r)] : nullptr;
    if (row != nullptr) inspector_->item(r, 0)->setText(QString::fromStdString(row->format));
    inspector_->item(r, 1)->setText(row != nullptr ? QString::fromStdString(row->bytes) : QString());
    const QString value = row != nullptr ? QString::fromStdString(row->value) : QString();
    inspector_->item(r, 2)->setText(value);
    inspector_->item(r, 2)->setToolTip(value);
  }

  const std::optional<int32_t> address =
      inspectedLine_ >= 0 ? panel_.ResponseLineAddress(inspectedLine_) : std::nullopt;
  QString caption;
  if (address && !rows.empty())
    caption = QStringLiteral("Address %1 (0x%2)")
                  .arg(*address)
                  .arg(QString::number(*address, 16).toUpper().rightJustified(4, QLatin1Char('0')));
  else if (inspectedLine_ >= 0 && !panel_.txtResponse.Text().empty())
    caption = QStringLiteral("No register on this line");
  else
    caption = QStringLiteral("Click a register line");
  inspectorAddress_->setText(caption);
  {
    QPalette pal = inspectorAddress_->palette();
    // A hint while no register is picked; the address once one is.
    pal.setColor(QPalette::WindowText,
                 rows.empty() ? palette().color(QPalette::PlaceholderText) : palette().color(QPalette::WindowText));
    inspectorAddress_->setPalette(pal);
  }

  // The line inspected is marked in the response view.
  auto* response = static_cast<QPlainTextEdit*>(WidgetOf(panel_.txtResponse));
  QList<QTextEdit::ExtraSelection> marks;
  if (!rows.empty()) {
    QTextEdit::ExtraSelection mark;
    mark.cursor = QTextCursor(response->document()->findBlockByNumber(inspectedLine_));
    QColor tint = palette().color(QPalette::Highlight);
    tint.setAlpha(48);
    mark.format.setBackground(tint);
    mark.format.setProperty(QTextFormat::FullWidthSelection, true);
    marks << mark;
  }
  response->setExtraSelections(marks);
}

void MainWindow::RefreshStats() { stats_->setText(QString::fromStdString(panel_.StatsText())); }

void MainWindow::ChooseLogFile() {
  const QString textFilter = QStringLiteral("Text (*.txt)");
  const QString csvFilter = QStringLiteral("CSV (*.csv)");
  QFileDialog dialog(this, QStringLiteral("Save log"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setNameFilters({textFilter, csvFilter});
  dialog.setDefaultSuffix(QStringLiteral("txt"));
  connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, csvFilter](const QString& filter) {
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
  if (!logFolder_.isEmpty()) dialog.setDirectory(logFolder_);
  dialog.selectFile(QStringLiteral("vesktarvelo-log.txt"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  SaveLogAs(dialog.selectedFiles().constFirst(), dialog.selectedNameFilter() == csvFilter);
}

void MainWindow::SaveLogAs(const QString& path, bool csvFilter) {
  if (path.isEmpty()) return;
  const QFileInfo file(path);
  const QString suffix = file.suffix().toLower();
  const bool csv = suffix == QLatin1String("csv") || (suffix != QLatin1String("txt") && csvFilter);
  logFolder_ = file.absolutePath();
  panel_.SaveLog(QFile::encodeName(path).toStdString(), csv);
  ApplyPending();
}

}  // namespace qt
