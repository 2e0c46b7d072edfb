// The real window on a panel with the real Qt platform, under a virtual X server: every field
// mirrored, the log pane, the key filters, the Auto buttons, the operator aids, a restart, and the
// sizes it is used at (the inspector's columns, the log file's rotation size). Screenshots go to
// the build folder, settings to a temporary folder.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QStyleFactory>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

#include "panel/frmMain.h"
#include "qt/adapters/headless_parts.h"
#include "qt/window/MainWindow.h"
#include "qt/window/beep_gate.h"
#include "qt/window/gui_platform.h"
#include "qt/window/response_grid.h"
#include "qt/window/text_map.h"
#include "qt/window/window_menus.h"
#include "qt/window/window_state.h"

namespace {

QString g_configRoot;

// Forwards to the real store and counts the writes per key.
class CountingSettings : public platform::SettingsStore {
 public:
  explicit CountingSettings(std::shared_ptr<platform::SettingsStore> in) : in_(std::move(in)) {}
  std::optional<std::string> Read(const std::string& s, const std::string& k) override { return in_->Read(s, k); }
  bool Write(const std::string& s, const std::string& k, const std::string& v) override {
    ++writes[k];
    return in_->Write(s, k, v);
  }
  void Flush() override { in_->Flush(); }
  std::map<std::string, int> writes;

 private:
  std::shared_ptr<platform::SettingsStore> in_;
};

// Records the addresses the window asks the desktop to open (and opens none).
struct RecordingDesktop : platform::Desktop {
  bool OpenUrl(const std::string& url) override {
    opened.push_back(url);
    return true;
  }
  std::vector<std::string> opened;
};

struct TwoPorts : platform::PortList {
  std::vector<platform::PortInfo> Ports() override {
    return {{"ttyVT0", "", "", "", {}, {}}, {"ttyVT1", "", "", "", {}, {}}};
  }
};

// A panel (prepared by `prepare` after Form_Load) and its window, shown; beeps counted, two serial
// ports whatever the machine has. Each rig has a settings folder of its own unless given one.
struct Rig {
  explicit Rig(const std::function<void(frmMain&)>& prepare = nullptr, const QString& configDir = QString()) {
    static int serial = 0;
    dir = configDir.isEmpty() ? g_configRoot + QStringLiteral("/rig%1").arg(++serial) : configDir;
    QDir().mkpath(dir);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir);
    platform::Platform p = qt::MakeGuiPlatform();
    p.beeper = beeper;
    qt::BeepGate::Install(p);
    p.ports = std::make_shared<TwoPorts>();
    p.desktop = desktop;
    settings = std::make_shared<CountingSettings>(p.settings);
    p.settings = settings;
    panel = std::make_unique<frmMain>(p);
    panel->Form_Load();
    if (prepare) prepare(*panel);
    window = std::make_unique<qt::MainWindow>(*panel);
    window->show();
    window->activateWindow();
    shown = QTest::qWaitForWindowExposed(window.get()) && QTest::qWaitForWindowActive(window.get());
    QTest::qWait(50);
  }
  template <class W = QWidget>
  W* Widget(const Field& f) const {
    return qobject_cast<W*>(window->WidgetOf(f));
  }
  template <class W>
  W* Aid(const char* name) const {
    return window->findChild<W*>(QLatin1String(name));
  }
  int Beeps() const { return beeper->Count(); }
  void Shoot(const std::string& name, QWidget* w = nullptr) const {  // <build folder>/<name>[@2x].png
    QTest::qWait(10);                                                // the layouts follow what changed
    const QPixmap pm = (w ? w : window.get())->grab();
    const char* at2 = pm.devicePixelRatio() > 1.5 ? "@2x" : "";
    EXPECT_TRUE(pm.save(QString::fromStdString(VESK_SHOT_DIR "/" + name + at2 + ".png"))) << name;
  }

  std::shared_ptr<qt::CountingBeeper> beeper = std::make_shared<qt::CountingBeeper>();
  std::shared_ptr<RecordingDesktop> desktop = std::make_shared<RecordingDesktop>();
  std::shared_ptr<CountingSettings> settings;
  std::unique_ptr<frmMain> panel;
  std::unique_ptr<qt::MainWindow> window;
  bool shown = false;
  QString dir;
};

// Gives a widget the focus (as a program would, not the operator).
template <class W>
W* Focus(W* w) {
  w->setFocus(Qt::OtherFocusReason);
  EXPECT_TRUE(QTest::qWaitFor([&] { return w->hasFocus(); }, 2000));
  return w;
}

// Replaces a line field's text by typing.
void Retype(QLineEdit* w, const char* text) {
  w->selectAll();
  QTest::keyClick(w, Qt::Key_Backspace);
  QTest::keyClicks(w, text);
}

void TcpToNowhere(frmMain& p) {  // a send fails fast and touches no device
  p.cmbMode.SetListIndex(1);
  p.txtTcpHost.SetText("127.0.0.1");
  p.txtTcpPort.SetText("1");
}

// View lines as the grid shows them: "address: value" a line, without padding and format tags.
std::string GridLines(const std::vector<std::string>& lines) {
  std::string text;
  for (size_t n = 0; n < lines.size(); ++n) {
    const qt::ResponseLineParts parts = qt::SplitResponseLine(lines[n]);
    text += (n > 0 ? "\r\n" : "") + parts.address + ": " + parts.value;
  }
  return text;
}

// What a widget shows, and what the model says its field shows.
std::string Shows(const QWidget* w) {
  if (auto* g = qobject_cast<const qt::ResponseGrid*>(w)) {
    std::vector<std::string> lines;
    for (int r = 0; r < g->rowCount(); ++r)
      lines.push_back(g->item(r, 0)->text().toStdString() + ": " + g->item(r, 1)->text().toStdString());
    return GridLines(lines);
  }
  if (auto* e = qobject_cast<const QLineEdit*>(w)) return e->text().toStdString();
  if (auto* c = qobject_cast<const QComboBox*>(w)) return c->currentText().toStdString();
  if (auto* t = qobject_cast<const QPlainTextEdit*>(w)) return qt::FromWidgetText(t->toPlainText());
  if (auto* l = qobject_cast<const QLabel*>(w)) return l->text().toStdString();
  auto* r = qobject_cast<const QRadioButton*>(w);
  if (auto* b = qobject_cast<const QAbstractButton*>(w))
    return b->text().toStdString() + (r && r->isChecked() ? "*" : "");
  return "";
}
std::string Says(const Field& f) {
  if (auto* o = dynamic_cast<const OptionButton*>(&f)) return o->Caption() + (o->Value() ? "*" : "");
  if (auto* c = dynamic_cast<const CaptionField*>(&f)) return c->Caption();
  if (auto* l = dynamic_cast<const ListField*>(&f)) return l->Text();
  auto* t = dynamic_cast<const TextBox*>(&f);
  if (t == nullptr || t->Name() != "txtResponse") return t ? t->Text() : "";
  std::vector<std::string> lines;
  for (size_t from = 0, end; from < t->Text().size(); from = end + 2) {
    end = std::min(t->Text().find("\r\n", from), t->Text().size());
    lines.push_back(t->Text().substr(from, end - from));
  }
  return GridLines(lines);
}

// The key a button's tool tip names after the model's text.
std::string KeyHint(const Field& f) {
  return f.Name() == "cmdSend" ? " (Enter)" : f.Name() == "cmdAuto1" || f.Name() == "cmdAuto0" ? " (F5)" : "";
}

// A widget shown whole: visible, of some size, inside the window and inside every widget it lies in,
// and (for a caption or a button) not narrower than its text.
void ExpectShownWhole(const QWidget* w, const QWidget* window) {
  ASSERT_NE(w, nullptr);
  const std::string name = w->objectName().toStdString();
  EXPECT_TRUE(w->isVisible()) << name;
  EXPECT_FALSE(w->visibleRegion().isEmpty()) << name;
  QRect r(w->mapTo(window, QPoint(0, 0)), w->size());
  EXPECT_TRUE(window->rect().contains(r))
      << name << " at " << r.x() << "," << r.y() << " " << r.width() << "x" << r.height();
  for (const QWidget* up = w->parentWidget(); up != nullptr && up != window; up = up->parentWidget()) {
    const QRect room(up->mapTo(window, QPoint(0, 0)), up->size());
    EXPECT_TRUE(room.contains(r)) << name << " cut off by " << up->objectName().toStdString();
  }
  if (qobject_cast<const QLabel*>(w) != nullptr || qobject_cast<const QAbstractButton*>(w) != nullptr) {
    EXPECT_GE(w->width(), w->minimumSizeHint().width()) << name;
    EXPECT_GE(w->height(), w->minimumSizeHint().height()) << name;
  }
}

// Every field: a widget, visible, enabled and placed as the model says, with the model's texts.
void ExpectWindowMirrorsPanel(Rig& rig) {
  frmMain& p = *rig.panel;
  QTest::qWait(10);  // the layouts follow the changed texts
  for (Field* f : std::vector<Field*>{
           &p.lblProtocol,     &p.cmbMode,          &p.pctHEXOpt,    &p.optFORM,         &p.optHEX,
           &p.Label10,         &p.lblResponse,      &p.lblDT,        &p.pctRTU,          &p.Label3,
           &p.cmbRtuPort,      &p.Label4,           &p.cmbRtuSpeed,  &p.Label11,         &p.cmbRtuParity,
           &p.Label12,         &p.cmbRtuStopBit,    &p.Label13,      &p.txtRtuTimeout,   &p.Label14,
           &p.cmdRtuOpenPort,  &p.cmdRtuClosePort,  &p.pctTCP,       &p.Label1,          &p.txtTcpHost,
           &p.Label2,          &p.txtTcpPort,       &p.Label5,       &p.txtTcpTimeout,   &p.Label6,
           &p.cmdTcpConnect,   &p.cmdTcpDisconnect, &p.pctRequest,   &p.pctForm,         &p.lblUnitID,
           &p.txtUnitID,       &p.lblCommand,       &p.cmbCmd,       &p.Label7,          &p.txtAddr,
           &p.lblLen,          &p.txtQuantity,      &p.txtValue,     &p.Label15,         &p.cmbFormat,
           &p.cmdSend,         &p.cmdAuto1,         &p.pctAuto,      &p.cmdAuto0,        &p.txtPollInterval,
           &p.lblPollInterval, &p.pctHEX,           &p.txtHEX,       &p.pctResponseForm, &p.pctResponseText,
           &p.txtResponse,     &p.pctLog,           &p.txtLog,       &p.pctLogo,         &p.imgLogo,
           &p.Label8,          &p.lblScada,         &p.lblValues,    &p.txtValues,       &p.lblValuesAs,
           &p.cmbValuesAs,     &p.lblWriteAddr,     &p.txtWriteAddr, &p.lblAndMask,      &p.txtAndMask,
           &p.lblOrMask,       &p.txtOrMask,        &p.lblReadCode,  &p.cmbReadCode,     &p.lblObjectId,
           &p.txtObjectId}) {
    SCOPED_TRACE(f->Name());
    QWidget* w = rig.window->WidgetOf(*f);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->isVisible(), f->Shown());
    // Placed by the window's layouts (the model's positions are its own), shown whole.
    const bool underHex = p.pctHEX.Shown() && (f == &p.pctForm || f->Parent() == &p.pctForm);
    if (f->Shown() && !underHex) ExpectShownWhole(w, rig.window.get());
    bool enabled = true;
    for (const Field* x = f; x != nullptr; x = x->Parent()) enabled = enabled && x->Enabled();
    EXPECT_EQ(w->isEnabled(), enabled);
    EXPECT_EQ(w->toolTip().toStdString(), f->ToolTipText() + (f->ToolTipText().empty() ? "" : KeyHint(*f)));
    EXPECT_EQ(Shows(w), Says(*f));
    if (auto* l = dynamic_cast<ListField*>(f)) {
      auto* cb = qobject_cast<QComboBox*>(w);
      ASSERT_EQ(cb->count(), l->ListCount());
      for (int i = 0; i < l->ListCount(); ++i) EXPECT_EQ(cb->itemText(i).toStdString(), l->List(i));
      EXPECT_EQ(cb->currentIndex(), l->ListIndex());
    }
  }
  EXPECT_EQ(rig.window->windowTitle().toStdString(), p.Caption());
  // The link's buttons: one width, each text with room on both sides.
  const QWidget* open = rig.window->WidgetOf(p.cmdRtuOpenPort);
  for (const Button* b : {&p.cmdRtuClosePort, &p.cmdTcpConnect, &p.cmdTcpDisconnect}) {
    const QWidget* w = rig.window->WidgetOf(*b);
    EXPECT_EQ(w->width(), open->width()) << b->Name();
    EXPECT_GE(w->width() - w->fontMetrics().horizontalAdvance(QString::fromStdString(b->Caption())),
              4 * w->fontMetrics().averageCharWidth())
        << b->Name();
  }
}

// The widget's colour of every character of the log is the model's (the rows are ASCII).
void ExpectLogColoursMatch(Rig& rig) {
  rig.window->ApplyPending();  // the pane applies the log's changes once the event is handled
  const RichTextField& log = rig.panel->txtLog;
  auto* w = rig.Widget<QPlainTextEdit>(log);
  ASSERT_EQ(qt::FromWidgetText(w->toPlainText()), log.Text());
  QTextCursor cur(w->document());
  int wrong = 0, pos = 0;
  for (size_t k = 0; k < log.Length(); ++k) {
    if (log.Text()[k] == '\r') continue;
    cur.setPosition(++pos);  // the format of the character before
    const uint32_t c = log.ColorAt(k);
    const QColor want(int(c & 0xFF), int(c >> 8 & 0xFF), int(c >> 16 & 0xFF));
    if (log.Text()[k] != '\n' && cur.charFormat().foreground().color() != want && ++wrong < 5)
      ADD_FAILURE() << "colour of character " << k;
  }
  EXPECT_EQ(wrong, 0);
}

// Chooses a list's item with the keyboard: Down or Up until it is current.
void PickByKeys(Rig& rig, const ListField& list, int index) {
  auto* w = Focus(rig.Widget<QComboBox>(list));
  for (int i = 0; i < 16 && w->currentIndex() != index; ++i)
    QTest::keyClick(w, w->currentIndex() < index ? Qt::Key_Down : Qt::Key_Up);
}
// An answer of `count` holding registers from address 0 in the response grid.
void ShowRegisters(Rig& rig, int count) {
  frmMain& p = *rig.panel;
  p.txtResponse.SetEnabled(false);  // as a Send leaves it: the answer replaces the view, not added to it
  p.LastRequest = {1, 3, 0, 0, 0, static_cast<uint8_t>(count), 0, 0};
  Frame answer = {1, 3, static_cast<uint8_t>(2 * count)};
  for (int i = 0; i < count; ++i) answer.insert(answer.end(), {static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)});
  answer.insert(answer.end(), {0, 0});
  p.ShowResponse(answer, 0);
  rig.window->ApplyPending();
}
}  // namespace

// The start rows' look and the model's Ctrl+A and Ctrl+C; then the pane follows the model through
// painted bytes across row breaks, trims at the entry bound, recolours of ranges in the middle
// (inside one entry, across entries, at the top, to the end) made after those trims, trims of
// recoloured entries, and a selection in the middle.
TEST(Window, LogPaneLooksCopiesAndFollowsTrimsAndRecolours) {
  Rig rig;
  ASSERT_TRUE(rig.shown);
  frmMain& p = *rig.panel;
  RichTextField& log = p.txtLog;
  auto* pane = rig.Widget<QPlainTextEdit>(log);
  ExpectLogColoursMatch(rig);  // the start rows, shown with the window
  EXPECT_EQ(pane->palette().color(QPalette::Base), QColor(21, 25, 34));
  // Ctrl+A and Ctrl+C are the model's: all selected, copied with CR LF line ends.
  QTest::keyClick(Focus(pane), Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(std::pair(p.txtLog.SelStart(), p.txtLog.SelLength()), std::pair(0, static_cast<int>(p.txtLog.Length())));
  EXPECT_EQ(pane->textCursor().selectionEnd() - pane->textCursor().selectionStart(),
            pane->document()->characterCount() - 1);
  QApplication::clipboard()->clear();
  QTest::keyClick(pane, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text().toStdString(), p.txtLog.Text());
  // Painted bytes across a row break (16 bytes a row).
  Frame rx;
  for (uint8_t i = 0; i < 20; ++i) rx.push_back(static_cast<uint8_t>(0xA0 + i));
  p.LogResponse(rx);
  p.LogError("Protocol Error", "Wrong CRC", false, 2, 15);
  const auto fill = [&](int entries) {
    for (int i = 0; i < entries; ++i) {
      Frame rx;
      for (int k = 0; k < 12 + i % 30; ++k) rx.push_back(static_cast<uint8_t>(i + k));
      if (i % 3 == 0) {
        p.LogResponse(rx);
        p.LogError("Protocol Error", "Wrong CRC", false, i % 11, 5);
      } else {
        p.LogRequest(rx);
      }
    }
  };
  fill(1200);
  rig.window->ApplyPending();
  ExpectLogColoursMatch(rig);
  const size_t n = log.Length();
  const struct {
    const char* what;
    size_t pos, len;
    uint32_t color;
  } ranges[] = {
      {"across several entries", n / 3, 400, 0x00FF8000},
      {"at the top", 0, 30, 0x0000C0C0},
      {"to the end", n - 50, 50, LogColorError},
  };
  for (const auto& r : ranges) {
    SCOPED_TRACE(r.what);
    log.SetColor(r.pos, r.len, r.color);
    ExpectLogColoursMatch(rig);
  }
  // Within one event: rows appended, a range recoloured across old and new rows, a range at the
  // top recoloured and then trimmed, more rows than the pane keeps.
  const size_t before = log.Length();
  fill(40);
  log.SetColor(before - 100, 300, 0x00A0B0C0);
  log.SetColor(0, 200, 0x00203040);
  fill(300);
  ExpectLogColoursMatch(rig);
  fill(1500);
  log.SetColor(log.Length() - 500, 120, 0x00C0B0A0);
  fill(5);
  ExpectLogColoursMatch(rig);
  // The recoloured entries go off the top in turn.
  fill(600);
  ExpectLogColoursMatch(rig);
  log.SetColor(log.Length() / 2, 300, 0x00F0F0F0);
  ExpectLogColoursMatch(rig);
  const int start = static_cast<int>(log.Length() / 2) + 3;
  log.Select(start, 90);
  rig.window->ApplyPending();
  EXPECT_EQ(qt::FromWidgetText(pane->textCursor().selectedText().replace(QChar::ParagraphSeparator, u'\n')),
            log.Text().substr(static_cast<size_t>(start), 90));
  // Left to the event loop, the pane catches up by itself within a frame or so.
  p.Log("the last row", LogColorError);
  EXPECT_NE(qt::FromWidgetText(pane->toPlainText()), log.Text());
  EXPECT_TRUE(QTest::qWaitFor([&] { return qt::FromWidgetText(pane->toPlainText()) == log.Text(); }, 2000));
  // Scrolled back, the pane stays on the row being read and keeps the operator's selection while
  // rows are logged and the oldest go; back at the end (Ctrl+End), it follows the newest row again,
  // also once made smaller (the watch list takes room from it).
  QScrollBar* bar = pane->verticalScrollBar();
  bar->setValue(bar->maximum() / 2);
  QTextCursor reading = pane->cursorForPosition(QPoint(2, 2));
  reading.movePosition(QTextCursor::StartOfBlock);
  reading.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
  pane->setTextCursor(reading);
  const QString row = reading.selectedText();
  fill(30);
  rig.window->ApplyPending();
  EXPECT_EQ(pane->cursorForPosition(QPoint(2, 2)).block().text().toStdString(), row.toStdString());
  EXPECT_EQ(pane->textCursor().selectedText().toStdString(), row.toStdString());
  QTest::keyClick(Focus(pane), Qt::Key_End, Qt::ControlModifier);
  fill(3);
  rig.window->ApplyPending();
  rig.window->ShowWatch(true);
  QTest::qWait(20);
  fill(3);
  rig.window->ApplyPending();
  EXPECT_EQ(bar->value(), bar->maximum());
  rig.window->ShowWatch(false);
}

TEST(Window, AddressKeyFilterPasteAndValueCheck) {
  Rig rig(TcpToNowhere);
  ASSERT_TRUE(rig.shown);
  frmMain& p = *rig.panel;
  QLineEdit* addr = Focus(rig.Widget<QLineEdit>(p.txtAddr));
  Retype(addr, "");
  const int beeps = rig.Beeps();
  const auto typed = [&] { return std::tuple(addr->text().toStdString(), p.txtAddr.Text(), rig.Beeps() - beeps); };
  QTest::keyClick(addr, 'X');
  EXPECT_EQ(typed(), std::tuple("", "", 1));
  QTest::keyClicks(addr, "xa");
  EXPECT_EQ(typed(), std::tuple("xA", "xA", 1));
  // A paste is filtered character by character, with one beep for the lot.
  QApplication::clipboard()->setText(QStringLiteral("1Xz2 3"));
  Retype(addr, "");
  QTest::keyClick(addr, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(typed(), std::tuple("123", "123", 2));
  // A value out of range keeps the focus (with a beep) and says why: the field is framed, the status
  // bar and the preview name the field and its range; one in range lets it go.
  auto* status = rig.Aid<QStatusBar>("statusBar");
  const auto refusal = [&] {
    const std::string message = status->currentMessage().toStdString();
    rig.window->ApplyPending();
    return std::tuple(addr->property("refused").toBool(), addr->styleSheet().isEmpty(), message,
                      rig.Aid<QLineEdit>("requestPreview")->text().toStdString(), rig.Beeps() - beeps);
  };
  Retype(addr, "65536");
  QTest::keyClick(addr, Qt::Key_Tab);
  QTest::qWait(100);
  EXPECT_EQ(QApplication::focusWidget(), addr);
  const std::string reason = "Address: \"65536\" is outside 0 to 65535";
  EXPECT_EQ(refusal(), std::tuple(true, false, reason, reason, 3));
  Retype(addr, "100");
  QTest::keyClick(addr, Qt::Key_Tab);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !addr->hasFocus(); }, 1000));
  const auto [refused, plain, message, preview, beeped] = refusal();
  EXPECT_EQ(std::tuple(refused, plain, message, beeped), std::tuple(false, true, "", 3));
}

TEST(Window, OperatorAidsFollowTheWidgets) {
  Rig rig([](frmMain& p) {
    p.cmbCmd.SetListIndex(2);  // 03 Read HR, in RTU
    p.txtUnitID.SetText("1");
    p.txtAddr.SetText("0");
    p.txtQuantity.SetText("6");
    p.cmbFormat.SetListIndex(0);  // INT16: one register a line
  });
  ASSERT_TRUE(rig.shown);
  frmMain& p = *rig.panel;
  // The request preview follows the typed address.
  auto* preview = rig.Aid<QLineEdit>("requestPreview");
  EXPECT_EQ(preview->text(), QStringLiteral("01 03 00 00 00 06 C5 C8"));
  Retype(Focus(rig.Widget<QLineEdit>(p.txtAddr)), "10");
  EXPECT_EQ(preview->text(), QStringLiteral("01 03 00 0A 00 06 E5 CA"));
  // A line picked with the mouse is read in the inspector.
  p.LastRequest = {1, 3, 0, 0, 0, 6, 0, 0};
  p.ShowResponse({1, 3, 12, 0x41, 0xAC, 0, 0, 0xFF, 0xFF, 0xFF, 0xFE, 0x04, 0xD2, 0x16, 0x2E, 0, 0}, 0);
  rig.window->ApplyPending();
  auto* view = rig.Widget<qt::ResponseGrid>(p.txtResponse);
  ASSERT_EQ(view->rowCount(), 6) << p.txtResponse.Text();
  auto* inspector = rig.Aid<QTableWidget>("inspector");
  const struct {
    int line;
    const char *format, *bytesAndValue, *gridRow;
  } cases[] = {{0, "INT16", "41 AC|16812", "HR 00000|16812|41 AC"},
               {2, "INT32_CDAB", "FF FF FF FE|-65537", "HR 00002|-1|FF FF"}};
  for (const auto& c : cases) {
    const QRect r = view->visualItemRect(view->item(c.line, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, r.center());
    std::string shown;
    for (int i = 0; i < inspector->rowCount(); ++i)
      if (inspector->item(i, 0)->text().toStdString() == c.format)
        shown = (inspector->item(i, 1)->text() + "|" + inspector->item(i, 2)->text()).toStdString();
    EXPECT_EQ(shown, c.bytesAndValue) << c.line << " " << c.format;
    EXPECT_EQ(
        (view->item(c.line, 0)->text() + "|" + view->item(c.line, 1)->text() + "|" + view->item(c.line, 2)->text())
            .toStdString(),
        c.gridRow);
    EXPECT_TRUE(rig.Aid<QLabel>("inspectorAddress")->text().startsWith(QStringLiteral("Address %1 ").arg(c.line)));
  }
  rig.Shoot("window-extras");
  // Rows selected in the grid are copied as the view's lines; Ctrl+A takes them all.
  const struct {
    int first, last;
    bool all;
    std::string copied;
  } copies[] = {{1, 2, false, "HR 00001: 0    \r\nHR 00002: -1   "}, {3, 3, true, p.txtResponse.Text()}};
  for (const auto& c : copies) {
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier,
                      view->visualItemRect(view->item(c.first, 0)).center());
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ShiftModifier,
                      view->visualItemRect(view->item(c.last, 0)).center());
    if (c.all) QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
    QApplication::clipboard()->clear();
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), c.copied) << c.first;
  }
  // The log saved and read back: the name's suffix wins over the dialog's filter.
  QTemporaryDir dir;
  for (const auto& [name, csvFilter, csv] : {std::tuple{"a.txt", true, false}, std::tuple{"b", true, true}}) {
    rig.window->SaveLogAs(dir.filePath(QLatin1String(name)), csvFilter);
    QFile file(dir.filePath(QLatin1String(name)));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    EXPECT_EQ(file.readAll().toStdString(), csv ? p.LogAsCsv() : p.txtLog.Text()) << name;
  }
  // The continuous log file: chosen in the File menu (here by its handler, the dialog being modal), every entry
  // from then on appended as text or CSV; the status bar says what the pane holds; stopping disables the item.
  auto* holding = rig.Aid<QLabel>("logHolding");
  auto* stop = rig.Aid<QAction>("stopLogFileAction");
  ASSERT_TRUE(holding != nullptr && stop != nullptr && rig.Aid<QAction>("logToFileAction") != nullptr);
  EXPECT_FALSE(stop->isEnabled());
  // The count's growth (here from two digits to three) does not move the statistics' Reset button.
  auto* reset = rig.Aid<QPushButton>("resetStats");
  const QPoint resetAt = reset->mapTo(rig.window.get(), QPoint());
  for (int n = 0; n < 900; ++n) p.Log("filler");
  ASSERT_TRUE(QTest::qWaitFor([&] { return holding->text() == QString::fromStdString(p.LogHoldingText()); }, 1000));
  QTest::qWait(10);
  EXPECT_EQ(reset->mapTo(rig.window.get(), QPoint()), resetAt);
  for (const auto& [name, csvFilter, csv] : {std::tuple{"c.txt", false, false}, std::tuple{"d", true, true}}) {
    const QString path = dir.filePath(QLatin1String(name)) + (csv ? QStringLiteral(".csv") : QString());
    rig.window->LogToFile(path, csvFilter);
    EXPECT_TRUE(stop->isEnabled());
    EXPECT_EQ(p.LogFileCsv(), csv) << name;
    p.Log(std::string("into the file ") + name);
    EXPECT_TRUE(QTest::qWaitFor([&] { return holding->text() == QString::fromStdString(p.LogHoldingText()); }, 1000));
  }
  stop->trigger();
  EXPECT_EQ(p.LogFilePath(), "");
  EXPECT_FALSE(stop->isEnabled());
}

TEST(Window, EverySettingAndThePositionComeBackInTheNextWindow) {
  QString dir;
  QList<int> rows;
  int inspector = 0;  // its width before it was hidden
  {
    Rig first;
    ASSERT_TRUE(first.shown);
    frmMain& p = *first.panel;
    dir = first.dir;
    ASSERT_TRUE(QTest::qWaitFor([&] { return p.cmbRtuPort.ListCount() == 2; }));
    PickByKeys(first, p.cmbRtuPort, 1);
    Retype(first.Widget<QComboBox>(p.cmbRtuSpeed)->lineEdit(), "250000");
    Retype(Focus(first.Widget<QLineEdit>(p.txtRtuTimeout)), "1500");
    PickByKeys(first, p.cmbMode, 2);  // RTU-OVER-TCP: the socket settings
    Retype(Focus(first.Widget<QLineEdit>(p.txtTcpHost)), "10.0.0.7");
    PickByKeys(first, p.cmbCmd, 3);
    Retype(Focus(first.Widget<QLineEdit>(p.txtAddr)), "40");
    QTest::mouseClick(first.Widget(p.optHEX), Qt::LeftButton);
    QTest::keyClicks(Focus(first.Widget<QPlainTextEdit>(p.txtHEX)), "01 03 00 00 00 01");
    first.window->move(150, 90);
    ASSERT_TRUE(QTest::qWaitFor([&] { return first.window->pos() == QPoint(150, 90); }));
    // The window's size, a splitter moved, the inspector hidden from the View menu.
    first.window->resize(1100, 700);
    ASSERT_TRUE(QTest::qWaitFor([&] { return first.window->size() == QSize(1100, 700); }));
    auto* split = first.Aid<QSplitter>("rowSplitter");
    split->setSizes({split->sizes()[0] + split->sizes()[1] - 150, 150});
    rows = split->sizes();
    auto* columns = first.Aid<QSplitter>("columnSplitter");
    inspector = first.Aid<QWidget>("inspectorPane")->minimumWidth() + 7;  // not the width a first start gives
    columns->setSizes({columns->sizes()[0] + columns->sizes()[1] - inspector, inspector});
    first.Aid<QAction>("inspectorAction")->trigger();
    QTest::qWait(20);       // the splitter has given the inspector's width to the left column
    first.window->close();  // then the program quits, as it does when its last window closes
    ASSERT_TRUE(QMetaObject::invokeMethod(qApp, "aboutToQuit"));
    EXPECT_EQ(first.settings->writes.size(), 40u);  // every setting written, once: the panel's 30, the window's 10
    for (const auto& [key, count] : first.settings->writes) EXPECT_EQ(count, 1) << key;
  }
  Rig second(nullptr, dir);
  ASSERT_TRUE(second.shown);
  frmMain& p = *second.panel;
  ASSERT_TRUE(QTest::qWaitFor([&] { return p.cmbRtuPort.ListCount() == 2; }));
  // Typed, picked with the keys or clicked in each kind of widget (the panel's own round trip of
  // the settings is a unit test, which leaves the serial time-out at its default).
  const std::pair<const Field*, const char*> restored[] = {
      {&p.txtTcpHost, "10.0.0.7"},  {&p.cmbCmd, "04 Read IR"},  {&p.txtAddr, "40"},
      {&p.txtRtuTimeout, "1500"},   {&p.cmbRtuSpeed, "250000"}, {&p.optHEX, "HEX*"},
      {&p.cmbMode, "RTU-OVER-TCP"}, {&p.cmbRtuPort, "ttyVT1"},  {&p.txtHEX, "01 03 00 00 00 01"}};
  for (const auto& [field, text] : restored) EXPECT_EQ(Shows(second.window->WidgetOf(*field)), text) << field->Name();
  EXPECT_EQ(second.window->pos(), QPoint(150, 90));
  EXPECT_EQ(second.window->size(), QSize(1100, 700));
  EXPECT_EQ(second.Aid<QSplitter>("rowSplitter")->sizes(), rows);
  EXPECT_FALSE(second.Aid<QWidget>("inspectorPane")->isVisible());
  EXPECT_FALSE(second.Aid<QAction>("inspectorAction")->isChecked());
  second.Aid<QAction>("inspectorAction")->trigger();  // shown again, as wide as it was
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return second.Aid<QSplitter>("columnSplitter")->sizes().value(1) == inspector; }, 1000))
      << second.Aid<QSplitter>("columnSplitter")->sizes().value(1);
  // A position stored for a screen that is gone opens on the primary screen.
  second.window->close();
  second.settings->Write("main", "left", "750000");
  second.settings->Write("main", "top", "-750000");
  second.settings->Flush();
  Rig third(nullptr, dir);
  ASSERT_TRUE(third.shown);
  EXPECT_TRUE(QGuiApplication::primaryScreen()->availableGeometry().contains(third.window->geometry()));
}

// From a netbook's screen to a large monitor: every field inside the window and shown whole, in
// the serial form view and in the socket hex view; the response grid shows more rows as the
// window grows. A screenshot of each size goes to the build folder.
TEST(Window, FitsEveryScreenSizeFromANetbookUp) {
  Rig rig([](frmMain& p) {
    p.cmbCmd.SetListIndex(2);
    p.txtQuantity.SetText("100");
  });
  ASSERT_TRUE(rig.shown);
  frmMain& p = *rig.panel;
  ShowRegisters(rig, 100);
  auto* grid = rig.Widget<qt::ResponseGrid>(p.txtResponse);
  ASSERT_EQ(grid->rowCount(), 100);
  // A netbook's 600 lines less a title bar and a desktop panel still hold the window.
  EXPECT_LE(rig.window->minimumSizeHint().width(), 1024);
  EXPECT_LE(rig.window->minimumSizeHint().height(), 600 - 60);
  const QSize sizes[] = {{1024, 600}, {1366, 768}, {1920, 1200}};
  int rowsBefore = 0;
  for (const QSize& size : sizes) {
    const std::string tag = std::to_string(size.width()) + "x" + std::to_string(size.height());
    SCOPED_TRACE(tag);
    rig.window->resize(size);
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.window->size() == size; }, 2000))
        << rig.window->width() << "x" << rig.window->height();
    // The socket view first: the switch back to the serial settings must not widen the window.
    for (const bool socketHex : {true, false}) {
      p.cmbMode.SetListIndex(socketHex ? 1 : 0);
      p.optHEX.SetValue(socketHex);
      p.optFORM.SetValue(!socketHex);
      rig.window->ApplyPending();
      QTest::qWait(20);
      EXPECT_EQ(rig.window->size(), size) << "the window had to grow for this view";
      ExpectWindowMirrorsPanel(rig);
      for (const char* aid :
           {"requestPreview", "inspector", "inspectorAddress", "saveLog", "resetStats", "sessionStats"})
        ExpectShownWhole(rig.Aid<QWidget>(aid), rig.window.get());
      rig.Shoot("window-" + tag + (socketHex ? "-tcp-hex" : "-rtu"));
    }
    ShowRegisters(rig, 100);  // the mode change emptied nothing, but show a fresh answer all the same
    const int rows = grid->RowsInView();
    EXPECT_GT(rows, rowsBefore) << "rows in view";
    EXPECT_GE(rows, 8);
    rowsBefore = rows;
    // With the watch list shown the window still fits a netbook, and after a mode switch (which
    // lays the window out at once) it can still be brought back to this size.
    auto* watch = rig.Aid<QAction>("watchAction");
    watch->setChecked(true);
    QTest::qWait(20);
    EXPECT_LE(rig.window->minimumSizeHint().width(), 1024) << "with the watch list";
    EXPECT_LE(rig.window->minimumSizeHint().height(), 600 - 60) << "with the watch list";
    // The list fits the window's width and shows three rows of each table.
    EXPECT_FALSE(rig.Aid<QScrollArea>("watchRoom")->horizontalScrollBar()->isVisible());
    for (const char* table : {"watchBlocks", "watchValues"}) {
      auto* t = rig.Aid<QTableWidget>(table);
      EXPECT_TRUE(t->isVisible()) << table;
      EXPECT_GE(t->viewport()->height() / t->verticalHeader()->defaultSectionSize(), 3) << table;
    }
    p.cmbMode.SetListIndex(1);
    p.cmbMode.SetListIndex(0);
    rig.window->resize(size);
    EXPECT_TRUE(QTest::qWaitFor([&] { return rig.window->size() == size; }, 2000))
        << "with the watch list " << rig.window->width() << "x" << rig.window->height();
    watch->setChecked(false);
  }
}

// Each further command shows its fields captioned and whole at the smallest size the window takes;
// screenshots of 15, 22, 23 and 43/14 (with an answer each) go to the build folder.
TEST(Window, FurtherCommandsShowTheirFields) {
  Rig rig(TcpToNowhere);
  ASSERT_TRUE(rig.shown);
  frmMain& p = *rig.panel;
  const struct {
    int item;
    const char* shot;
    std::vector<const Field*> shown;
    std::vector<std::string> view;
  } cases[] = {
      {7,
       "window-cmd15",
       {&p.txtAddr, &p.txtQuantity, &p.txtValues, &p.cmbValuesAs},
       {"CL 00019 <- 1", "CL 00020 <- 0", "CL 00021 <- 1"}},
      {8, "window-cmd22", {&p.txtAddr, &p.txtAndMask, &p.txtOrMask}, {"HR 00004 <- AND 00F2, OR 0025"}},
      {9,
       "window-cmd23",
       {&p.txtAddr, &p.txtQuantity, &p.txtValues, &p.txtWriteAddr},
       {"HR 00014 <- 7", "HR 00015 <- 65534", "HR 00014: 7    ", "HR 00015: 65534"}},
      {10,
       "window-cmd43",
       {&p.cmbReadCode, &p.txtObjectId},
       {"Read device ID code 02, conformity level 83", "00 VendorName: VeskTarvelo", "01 ProductCode: VT-SLAVE",
        "More follows: next object ID 06"}},
      {13, "", {&p.txtValues}, {}},
  };
  // The smallest size: what the window accepts when asked for its minimum.
  rig.window->resize(rig.window->minimumSizeHint());
  QTest::qWait(50);
  const QSize size = rig.window->size();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.item);
    p.cmbCmd.SetListIndex(c.item);
    p.txtResponse.SetText("");
    rig.window->ApplyPending();
    ExpectWindowMirrorsPanel(rig);  // the further commands' fields as every field
    // An answer in the view for the screenshot (the grid marks the written lines with an arrow).
    for (const std::string& line : c.view) p.AddResponseLine(line);
    rig.window->ApplyPending();
    for (const Field* f : c.shown) {
      EXPECT_TRUE(f->Shown()) << f->Name();
      ExpectShownWhole(rig.window->WidgetOf(*f), rig.window.get());
    }
    EXPECT_EQ(rig.window->size(), size) << "the window had to grow for this command";
    if (*c.shot) rig.Shoot(c.shot);
  }
}

// The menus name every action with its key, and each key does what its menu entry says, pressed
// as the operator would, in the field that has the focus; the Auto buttons act on a mouse press.
TEST(Window, MenusAndTheirKeys) {
  Rig rig(TcpToNowhere);
  ASSERT_TRUE(rig.shown);
  frmMain& p = *rig.panel;
  std::string entries;  // "menu: entry=key ..." a menu a line
  for (QAction* menu : rig.window->menuBar()->actions()) {
    entries += menu->text().toStdString() + ":";
    for (QAction* a : menu->menu()->actions())
      if (!a->isSeparator()) entries += " " + (a->text() + "=" + a->shortcut().toString()).toStdString();
    entries += "\n";
  }
  EXPECT_EQ(entries,
            "&File: &Open workspace\u2026=Ctrl+O Save &workspace\u2026=Ctrl+Shift+S &Save log\u2026=Ctrl+S "
            "&Log to file\u2026= S&top logging to file= Log file si&ze= &Quit=Ctrl+Q\n"
            "&Request: &Send=Enter Start or stop &polling=F5 &Add to watch=Ctrl+W\n"
            "&View: &Inspector= &Watch list and plot=\n"
            "&Help: &README online= &About VeskTarvelo=\n");
  EXPECT_EQ(rig.Aid<QPushButton>("saveLog")->toolTip(), QStringLiteral("Save the log as text or CSV (Ctrl+S)"));

  // F5 starts and stops polling from any field.
  auto* addr = Focus(rig.Widget<QLineEdit>(p.txtAddr));
  for (const bool polling : {true, false}) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F5);
    EXPECT_EQ(p.AutoPolling, polling);
  }
  // Enter in a field of the request (or on the Send button) sends it, once the field's value passes
  // its check; a refused value beeps and sends nothing. The editing keys are the field's own: no
  // beep, no filter.
  const std::tuple<const Field*, const char*, bool> enters[] = {
      {&p.txtAddr, "100", true},    {&p.txtAddr, "70000", false}, {&p.txtUnitID, "1", true},
      {&p.txtQuantity, "0", false}, {&p.cmbCmd, nullptr, true},   {&p.cmdSend, nullptr, true}};
  for (const auto& [field, text, sends] : enters) {
    SCOPED_TRACE(field->Name() + " " + (text ? text : ""));
    QWidget* w = Focus(rig.window->WidgetOf(*field));
    if (text != nullptr) Retype(qobject_cast<QLineEdit*>(w), text);
    p.txtResponse.SetEnabled(true);  // a send greys it
    const int beeps = rig.Beeps();
    QTest::keyClick(w, Qt::Key_Return);
    EXPECT_EQ(std::pair(!p.txtResponse.Enabled(), rig.Beeps() - beeps), std::pair(sends, sends ? 0 : 1));
    if (!sends) Retype(qobject_cast<QLineEdit*>(w), "1");
  }
  // In the raw request too (Enter types no line break there).
  p.optHEX.SetValue(true);
  rig.window->ApplyPending();
  auto* hex = Focus(rig.Widget<QPlainTextEdit>(p.txtHEX));
  QTest::keyClicks(hex, "01 03 00 00 00 01");
  p.txtResponse.SetEnabled(true);
  QTest::keyClick(hex, Qt::Key_Return);
  EXPECT_EQ(std::pair(p.txtResponse.Enabled(), p.txtHEX.Text()), std::pair(false, std::string("01 03 00 00 00 01")));
  p.optFORM.SetValue(true);
  rig.window->ApplyPending();

  Retype(Focus(addr), "1234");
  const int beeps = rig.Beeps();
  QTest::keyClick(addr, Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(addr->selectedText(), QStringLiteral("1234"));
  QTest::keyClicks(addr, "77");
  QTest::keyClick(addr, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(std::tuple(addr->text().toStdString(), p.txtAddr.Text(), rig.Beeps()), std::tuple("1234", "1234", beeps));

  // Ctrl+S opens the save dialog (closed again unsaved).
  bool dialogSeen = false;
  QTimer::singleShot(300, [&] {
    if (auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
      dialogSeen = d->windowTitle() == QStringLiteral("Save log");
      d->reject();
    }
  });
  QTest::keyClick(addr, Qt::Key_S, Qt::ControlModifier);
  EXPECT_TRUE(dialogSeen);
  // Saving a workspace asks before it replaces one, also one named without ".json" (and, told no,
  // leaves it as it was).
  QTemporaryDir folder;
  QFile station(folder.filePath("station.json"));
  ASSERT_TRUE(station.open(QIODevice::WriteOnly) && station.write("old") == 3);
  station.close();
  bool asked = false;
  QTimer::singleShot(300, [&] {
    auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (d == nullptr) return;
    QTimer::singleShot(300, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      asked = box != nullptr;
      if (box != nullptr) box->reject();
    });
    d->setDirectory(folder.path());
    auto* name = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (name != nullptr) QTest::keyClicks(name, "station");
    static_cast<QDialog*>(d)->accept();  // as the Save button does
    if (d->isVisible()) d->reject();
  });
  rig.Aid<QAction>("saveWorkspaceAction")->trigger();
  EXPECT_TRUE(asked);
  ASSERT_TRUE(station.open(QIODevice::ReadOnly));
  EXPECT_EQ(station.readAll(), QByteArray("old"));
  station.close();

  // View > Inspector hides the column; the response grid takes its room.
  auto* grid = rig.Widget(p.txtResponse);
  const int narrow = grid->width();
  rig.Aid<QAction>("inspectorAction")->trigger();
  EXPECT_TRUE(QTest::qWaitFor([&] { return grid->width() > narrow; }, 1000));

  // Help > README online: the README's address, to the desktop.
  rig.Aid<QAction>("readmeAction")->trigger();
  EXPECT_EQ(rig.desktop->opened, std::vector<std::string>{qt::kReadmeUrl});

  // Help > About: the version, the licence, the toolkit and the README's address.
  rig.Aid<QAction>("aboutAction")->trigger();
  auto* about = rig.Aid<QMessageBox>("aboutBox");
  ASSERT_NE(about, nullptr);
  for (const QString& part :
       {QString::fromStdString("VeskTarvelo " + frmMain::VersionText()), QStringLiteral("Licence: MIT"),
        QStringLiteral("Qt " QT_VERSION_STR), QString::fromLatin1(qt::kReadmeUrl)})
    EXPECT_TRUE(about->text().contains(part)) << part.toStdString();
  EXPECT_FALSE(about->text().contains(QStringLiteral("libmodbus")));
  rig.Shoot("window-about", about);
  about->close();
  rig.window->activateWindow();  // a window manager would give the focus back; Xvfb has none
  ASSERT_TRUE(QTest::qWaitForWindowActive(rig.window.get()));

  // The Auto buttons act on a mouse press, not on Space.
  for (const bool polling : {false, true}) {
    QWidget* shown = rig.Widget(polling ? p.cmdAuto0 : p.cmdAuto1);
    QWidget* other = rig.Widget(polling ? p.cmdAuto1 : p.cmdAuto0);
    QTest::keyClick(Focus(shown), Qt::Key_Space);
    EXPECT_EQ(p.AutoPolling, polling);
    QTest::mousePress(shown, Qt::LeftButton);
    EXPECT_EQ(p.AutoPolling, !polling);
    EXPECT_TRUE(other->isVisible() && !shown->isVisible());
    QTest::mouseRelease(other, Qt::LeftButton);
  }
  // Ctrl+Q closes the window (its settings stored as at any close).
  QTest::keyClick(addr, Qt::Key_Q, Qt::ControlModifier);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !rig.window->isVisible(); }, 1000));
  EXPECT_EQ(rig.settings->writes.count("rows"), 1u);
}

// Positions and texts between the panel (UTF-8 bytes, CR LF) and a Qt text widget (UTF-16 units).
TEST(TextMap, PositionsAndTextsAcrossLineBreaksWideCharactersAndAppends) {
  const std::string t = "ab\r\n\xC3\xA9x\r\n\xF0\x9D\x84\x9Ez";  // 2 bytes, 1 unit; 4 bytes, 2 units
  ASSERT_EQ(qt::ToWidgetText(t), QStringLiteral("ab\n\u00e9x\n") + QString::fromUcs4(U"\U0001D11E") + "z");
  EXPECT_EQ(qt::FromWidgetText(qt::ToWidgetText(t)), t);
  for (const auto& [byte, unit] : {std::pair{0, 0}, {2, 2}, {4, 3}, {6, 4}, {7, 5}, {9, 6}, {13, 8}, {14, 9}}) {
    EXPECT_EQ(qt::WidgetPos(t, byte), unit) << byte;
    EXPECT_EQ(qt::PanelPos(t, unit), byte) << unit;
  }
  EXPECT_EQ(qt::WidgetPos(t, 3), 2);  // between CR and LF: the start of the pair
  EXPECT_EQ(qt::WidgetPos(t, 99), 9);
  EXPECT_EQ(qt::LineWidgetPos("a\r\nb", 3), 3);  // one line: CR and LF are two characters
  EXPECT_EQ(qt::LinePanelPos("\xC3\xA9z", 1), 2);
  // A CR that ends one append and an LF that starts the next are two line breaks in the pane (each
  // append is inserted on its own); the log pane's map counts them as the pane does.
  qt::LogTextMap map;
  map.Append("a\r");
  map.Append("\nb");
  EXPECT_EQ(map.Units(), (qt::ToWidgetText("a\r") + qt::ToWidgetText("\nb")).size());
  for (const int at : {1, 2, 3, 4}) {
    EXPECT_EQ(map.WidgetPos(at), at) << at;
    EXPECT_EQ(map.PanelPos(at), static_cast<size_t>(at)) << at;
  }
  EXPECT_EQ(map.RemoveFront(2), 2);
  EXPECT_EQ(map.Units(), 2);
}

// The log pane's position map against the whole-text functions, through appends and trims: trims
// of whole entries, across entries, inside a long line (past its first piece), between CR and LF,
// of everything; lines with wide characters and lines longer than a piece.
TEST(TextMap, LogMapFollowsAppendsAndTrims) {
  const std::string longWide = [] {
    std::string t = "x";                             // a piece's end falls inside a character
    for (int i = 0; i < 2100; ++i) t += "\xC3\xA9";  // 4201 bytes, 2101 units
    return t + "\xF0\x9D\x84\x9E\r\n";
  }();
  struct Op {
    const char* what;
    std::string append;  // appended when not empty
    size_t remove = 0;   // else this many bytes taken off the top
  };
  const std::vector<Op> ops = {
      {"first entry", "12:00:00.000  Run Tarvelo\r\n"},
      {"a two-row entry", "Tx: 01 03 00 00\r\n    00 0A C5 CD\r\n"},
      {"wide characters", "temp\xC3\xA9rature \xF0\x9D\x84\x9E ok\r\n"},
      {"a long line of wide characters", longWide},
      {"a long line whose CR ends a piece", std::string(4095, '-') + "\r\n"},
      {"a row without its line end", "partial"},
      {"its line end", "\r\n"},
      {"the first entry taken", "", 27},
      {"an entry and a half taken", "", 33},
      {"into the long line of wide characters, past its first piece", "", 4150},
      {"to between CR and LF", "", 0},  // set below: the offset of the next CR plus one
      {"more after the trims", "Rx: 01 03 14\r\n"},
      {"everything and more", "", 1u << 20},
      {"a fresh start", "again\r\n"},
  };
  qt::LogTextMap map;
  std::string model;
  QString widget;  // what the pane holds: each append converted on its own
  for (Op op : ops) {
    SCOPED_TRACE(op.what);
    if (std::string(op.what) == "to between CR and LF") op.remove = model.find("\r\n") + 1;
    if (!op.append.empty()) {
      map.Append(op.append);
      model += op.append;
      widget += qt::ToWidgetText(op.append);
    } else {
      const size_t n = std::min(op.remove, model.size());
      const int units = map.RemoveFront(op.remove);
      EXPECT_EQ(units, qt::WidgetPos(model, static_cast<int>(n)));
      model.erase(0, n);
      widget.remove(0, units);
    }
    ASSERT_EQ(map.Text(), model);
    ASSERT_EQ(map.Bytes(), model.size());
    ASSERT_EQ(map.Units(), widget.size());
    ASSERT_EQ(widget, qt::ToWidgetText(model));
    int wrong = 0;
    for (size_t k = 0; k <= model.size() + 1; ++k)
      if (map.WidgetPos(k) != qt::WidgetPos(model, static_cast<int>(k)) && ++wrong < 4)
        ADD_FAILURE() << "byte " << k << ": " << map.WidgetPos(k);
    for (int u = 0; u <= map.Units() + 1; ++u)
      if (map.PanelPos(u) != static_cast<size_t>(qt::PanelPos(model, u)) && ++wrong < 4)
        ADD_FAILURE() << "unit " << u << ": " << map.PanelPos(u);
    EXPECT_EQ(wrong, 0);
  }
}

// A response view line taken apart for the grid, and lines of a text mapped to its bytes.
TEST(ResponseGrid, LinesTakenApartAndLineSpans) {
  const struct {
    const char *line, *format, *address, *value;
    bool written;
  } lines[] = {{"HR 00003: -2   ", "", "HR 00003", "-2", false},
               {"FLOAT_ABCD HR 0000: 21.5", "FLOAT_ABCD", "HR 0000", "21.5", false},
               {"HR 00005 <- 77", "", "HR 00005", "77", true},
               {"no register here", "", "", "no register here", false}};
  for (const auto& c : lines) {
    const qt::ResponseLineParts parts = qt::SplitResponseLine(c.line);
    EXPECT_EQ(parts.format, c.format) << c.line;
    EXPECT_EQ(parts.address, c.address) << c.line;
    EXPECT_EQ(parts.value, c.value) << c.line;
    EXPECT_EQ(parts.written, c.written) << c.line;
  }
  const std::string t = "ab\r\ncd\r\nef";  // lines at bytes 0-1, 4-5, 8-9
  const struct {
    int first, last, start, end;
  } spans[] = {{0, 0, 0, 2}, {1, 2, 4, 10}, {0, 2, 0, 10}, {2, 9, 8, 10}, {3, 3, 10, 10}, {1, 0, 0, 0}};
  for (const auto& c : spans)
    EXPECT_EQ(qt::LineSpan(t, c.first, c.last), (std::pair{c.start, c.end})) << c.first << "-" << c.last;
  const struct {
    int start, length, first, last;
  } touched[] = {{0, 10, 0, 2}, {4, 2, 1, 1}, {3, 1, 0, 0}, {4, 4, 1, 1}, {5, 4, 1, 2}, {2, 0, 0, -1}, {10, 3, 0, -1}};
  for (const auto& c : touched)
    EXPECT_EQ(qt::LinesTouched(t, c.start, c.length), (std::pair{c.first, c.last})) << c.start << "+" << c.length;
}

// The window's remembered splitter sizes: only lists of positive whole numbers are taken.
TEST(WindowState, SplitterSizesReadBackOrRefused) {
  const struct {
    const char* text;
    QList<int> sizes;
  } cases[] = {{"300,200", {300, 200}}, {" 5 , 7", {5, 7}},   {"", {}}, {"300,", {}}, {"0,10", {}}, {"-4,10", {}},
               {"1e3,2", {}},           {"99999999999,1", {}}};
  for (const auto& c : cases) {
    EXPECT_EQ(qt::ParseSizes(c.text), c.sizes) << c.text;
    if (!c.sizes.isEmpty()) {
      EXPECT_EQ(qt::ParseSizes(qt::SizesText(c.sizes)), c.sizes) << c.text;
    }
  }
}

// At each size the register picked in the response view is read in the inspector: every value
// shown whole, the table inside the window, the Bytes column cut before any value is. Each size
// as a first start at that size: its own settings, the window's default layout.
TEST(WindowFit, InspectorValuesStayReadableAtEverySize) {
  const struct {
    int width, height;
    int inspector;    // the inspector's width set by its splitter (0: as the window lays it out; 1: its least,
                      // as when the watch list takes its room)
    bool bytesWhole;  // room enough for the eight bytes of a 64-bit format beside the longest value
  } sizes[] = {{1024, 600, 0, false},
               {1280, 800, 0, true},
               {1920, 1080, 0, true},
               {1280, 800, 1, false},
               {1920, 1080, 560, true}};
  for (const auto& s : sizes) {
    const std::string at = std::to_string(s.width) + "x" + std::to_string(s.height);
    SCOPED_TRACE(at + "+" + std::to_string(s.inspector));
    Rig w;
    ASSERT_TRUE(w.shown);
    w.window->resize(s.width, s.height);
    QTest::qWait(50);
    ASSERT_EQ(w.window->size(), QSize(s.width, s.height));
    if (s.inspector > 0) {  // widened by the operator
      w.Aid<QSplitter>("columnSplitter")->setSizes({s.width - s.inspector, s.inspector});
      QTest::qWait(20);
    }
    // Four registers whose 64-bit readings are long: a double with 17 digits, a 20-digit integer;
    // shown as a 64-bit unsigned integer in the response grid.
    w.panel->cmbFormat.SetListIndex(18);
    w.panel->LastRequest = {1, 3, 0, 0, 0, 4, 0, 0};
    w.panel->ShowResponse({1, 3, 8, 0xC0, 0x09, 0x21, 0xFB, 0x54, 0x44, 0x2D, 0x18, 0, 0}, 0);
    w.window->ApplyPending();
    auto* view = w.Widget<qt::ResponseGrid>(w.panel->txtResponse);
    ASSERT_GT(view->rowCount(), 0);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier,
                      view->visualItemRect(view->item(0, 0)).center());
    QTest::qWait(20);
    auto* table = w.Aid<QTableWidget>("inspector");
    EXPECT_TRUE(w.window->rect().contains(QRect(table->mapTo(w.window.get(), QPoint(0, 0)), table->size())));
    const QFontMetrics fm(table->font());
    int widest = 0, longest = 0;
    for (int r = 0; r < table->rowCount(); ++r) {
      widest = std::max(widest, fm.horizontalAdvance(table->item(r, 2)->text()));
      longest = std::max(longest, static_cast<int>(table->item(r, 2)->text().size()));
    }
    EXPECT_GE(longest, 20);  // the 64-bit rows were filled
    EXPECT_GE(table->horizontalHeader()->sectionSize(2), widest) << "a value is cut";
    EXPECT_LE(table->horizontalHeader()->sectionViewportPosition(2) + table->horizontalHeader()->sectionSize(2),
              table->viewport()->width())
        << "the values run past the table's edge, cut without an ellipsis";
    if (s.bytesWhole) {
      EXPECT_GE(table->horizontalHeader()->sectionSize(1), fm.horizontalAdvance("00 00 00 00 00 00 00 00"));
      // Beside it the grid shows its 20-digit values and their bytes without a scroll bar.
      EXPECT_EQ(view->horizontalScrollBar()->maximum(), 0) << view->horizontalHeader()->length();
    }
    w.Shoot("window-fit-" + at + (s.inspector > 1 ? "-wide" : s.inspector == 1 ? "-least" : ""));
  }
}

// File, Log file size: the choice rotates the log file at that size from now on, and a restart
// shows and applies it again.
TEST(WindowFit, LogFileSizeChosenInTheMenuRotatesTheFileAndIsRemembered) {
  QString file;
  QString dir;
  const auto fill = [](frmMain& p, char c) {
    for (int i = 0; i < 6000; ++i) p.Log(std::string(200, c));  // about 1.2 MiB
  };
  {
    Rig w;
    ASSERT_TRUE(w.shown);
    dir = w.dir;
    file = dir + "/session.log";
    auto* ten = w.Aid<QAction>("logFileSize10Action");
    auto* one = w.Aid<QAction>("logFileSize1Action");
    EXPECT_TRUE(ten->isChecked() && !one->isChecked());  // the default
    w.window->LogToFile(file, false);
    one->trigger();
    EXPECT_TRUE(one->isChecked() && !ten->isChecked());
    fill(*w.panel, 'x');
    EXPECT_TRUE(QFile::exists(file + ".1"));
    QTest::qWait(300);  // the status bar names the log file that holds the entries dropped from the pane
    EXPECT_LE(w.window->minimumSizeHint().width(), 1024);
    EXPECT_LE(QFile(file + ".1").size(), 1024 * 1024);
    w.window->close();
  }
  QFile::remove(file + ".1");
  QFile::remove(file);
  Rig again(nullptr, dir);
  ASSERT_TRUE(again.shown);
  EXPECT_TRUE(again.Aid<QAction>("logFileSize1Action")->isChecked());
  EXPECT_EQ(again.panel->LogFilePath(), QFile::encodeName(file).toStdString());
  fill(*again.panel, 'y');
  EXPECT_TRUE(QFile::exists(file + ".1"));  // rotated at 1 MiB again, not at 10
  again.window->close();
}

int main(int argc, char** argv) {
  QTemporaryDir configRoot;
  if (!configRoot.isValid()) return 2;
  g_configRoot = configRoot.path();
  qputenv("XDG_CONFIG_HOME", configRoot.path().toUtf8());
  QApplication app(argc, argv);
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
