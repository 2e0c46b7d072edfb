// The real window on a panel with the real Qt platform, under a virtual X server: every field
// mirrored, the log pane, the key filters, the Auto buttons, the operator aids, a restart and the
// program's command line. Screenshots go to the build folder. Settings go to a temporary folder.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRadioButton>
#include <QScreen>
#include <QSettings>
#include <QStyleFactory>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <cmath>

#include "panel/command_line.h"
#include "panel/frmMain.h"
#include "qt/adapters/headless_parts.h"
#include "qt/window/MainWindow.h"
#include "qt/window/beep_gate.h"
#include "qt/window/gui_platform.h"
#include "qt/window/text_map.h"

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

class TwoPorts : public platform::PortList {
 public:
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
  void Shoot(const char* name) const {  // <build folder>/<name>.png, <name>@2x.png when scaled
    const QPixmap pm = window->grab();
    const QString at2 = pm.devicePixelRatio() > 1.5 ? QStringLiteral("@2x") : QString();
    EXPECT_TRUE(pm.save(QStringLiteral(VESK_SHOT_DIR "/%1%2.png").arg(QLatin1String(name), at2))) << name;
  }

  std::shared_ptr<qt::CountingBeeper> beeper = std::make_shared<qt::CountingBeeper>();
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

// What a widget shows, and what the model says its field shows.
std::string Shows(const QWidget* w) {
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
  if (auto* t = dynamic_cast<const TextBox*>(&f)) return t->Text();
  return "";
}

int Px(int twips) { return static_cast<int>(std::lround(twips / 15.0)); }

// Every field: a widget, visible, enabled and placed as the model says, with the model's texts.
void ExpectWindowMirrorsPanel(Rig& rig) {
  frmMain& p = *rig.panel;
  for (Field* f : std::vector<Field*>{
           &p.lblProtocol,     &p.cmbMode,          &p.pctHEXOpt,   &p.optFORM,         &p.optHEX,
           &p.Label10,         &p.lblResponse,      &p.lblDT,       &p.pctRTU,          &p.Label3,
           &p.cmbRtuPort,      &p.Label4,           &p.cmbRtuSpeed, &p.Label11,         &p.cmbRtuParity,
           &p.Label12,         &p.cmbRtuStopBit,    &p.Label13,     &p.txtRtuTimeout,   &p.Label14,
           &p.cmdRtuOpenPort,  &p.cmdRtuClosePort,  &p.pctTCP,      &p.Label1,          &p.txtTcpHost,
           &p.Label2,          &p.txtTcpPort,       &p.Label5,      &p.txtTcpTimeout,   &p.Label6,
           &p.cmdTcpConnect,   &p.cmdTcpDisconnect, &p.pctRequest,  &p.pctForm,         &p.lblUnitID,
           &p.txtUnitID,       &p.lblCommand,       &p.cmbCmd,      &p.Label7,          &p.txtAddr,
           &p.lblLen,          &p.txtQuantity,      &p.txtValue,    &p.Label15,         &p.cmbFormat,
           &p.cmdSend,         &p.cmdAuto1,         &p.pctAuto,     &p.cmdAuto0,        &p.txtPollInterval,
           &p.lblPollInterval, &p.pctHEX,           &p.txtHEX,      &p.pctResponseForm, &p.pctResponseText,
           &p.txtResponse,     &p.pctLog,           &p.txtLog,      &p.pctLogo,         &p.imgLogo,
           &p.Label8,          &p.lblScada}) {
    SCOPED_TRACE(f->Name());
    QWidget* w = rig.window->WidgetOf(*f);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->isVisible(), f->Shown());
    EXPECT_EQ(w->geometry(), QRect(Px(f->Left()), Px(f->Top()), Px(f->Width()), Px(f->Height())));
    bool enabled = true;
    for (const Field* x = f; x != nullptr; x = x->Parent()) enabled = enabled && x->Enabled();
    EXPECT_EQ(w->isEnabled(), enabled);
    EXPECT_EQ(w->toolTip().toStdString(), f->ToolTipText());
    EXPECT_EQ(Shows(w), Says(*f));
    if (auto* l = dynamic_cast<ListField*>(f)) {
      auto* cb = qobject_cast<QComboBox*>(w);
      ASSERT_EQ(cb->count(), l->ListCount());
      for (int i = 0; i < l->ListCount(); ++i) EXPECT_EQ(cb->itemText(i).toStdString(), l->List(i));
      EXPECT_EQ(cb->currentIndex(), l->ListIndex());
    }
  }
  EXPECT_EQ(rig.window->windowTitle().toStdString(), p.Caption());
}

// The widget's colour of every character of the log is the model's (the rows are ASCII).
void ExpectLogColoursMatch(Rig& rig) {
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

}  // namespace

TEST(Window, EveryFieldHasItsWidgetInRtuTcpAndHexViews) {
  Rig rig;
  ASSERT_TRUE(rig.shown);
  frmMain& p = *rig.panel;
  ASSERT_EQ(p.cmbMode.Text(), "RTU");
  ExpectWindowMirrorsPanel(rig);
  rig.Shoot("window-rtu");
  TcpToNowhere(p);
  p.cmbCmd.SetListIndex(5);
  p.optHEX.SetValue(true);
  p.txtHEX.SetText("01 03 00 00 00 0A");
  rig.window->ApplyPending();
  ASSERT_TRUE(p.pctTCP.Shown() && !p.pctRTU.Shown() && p.pctHEX.Shown());
  ExpectWindowMirrorsPanel(rig);
  rig.Shoot("window-hex");
  p.optFORM.SetValue(true);
  for (int i = 0; i < 3; ++i) p.AddResponseLine("HR 0000" + std::to_string(i) + ": " + std::to_string(i * 1111));
  p.lblDT.SetCaption("37 ms");
  p.LogRequest(Frame{0, 1, 0, 0, 0, 6, 1, 3, 0, 0, 0, 3});
  p.LogResponse(Frame{0, 1, 0, 0, 0, 9, 1, 3, 6, 0, 0, 4, 0x57, 8, 0xAE});
  rig.window->ApplyPending();
  ExpectWindowMirrorsPanel(rig);
  rig.Shoot("window-tcp");
}

TEST(Window, LogStartRowsLookClipboardKeysAndColours) {
  Rig rig;
  ASSERT_TRUE(rig.shown);
  frmMain& p = *rig.panel;
  auto* log = rig.Widget<QPlainTextEdit>(p.txtLog);
  const QTextBlock run = log->document()->findBlockByNumber(1);
  EXPECT_EQ(log->document()->findBlockByNumber(0).text(), QString());
  EXPECT_TRUE(run.text().endsWith(QStringLiteral("  Run Tarvelo"))) << run.text().toStdString();
  EXPECT_EQ(run.text().size(), 22 + 2 + 11);
  EXPECT_EQ(run.begin().fragment().charFormat().foreground().color(), QColor(161, 163, 167));
  EXPECT_EQ(log->palette().color(QPalette::Base), QColor(21, 25, 34));
  // Ctrl+A and Ctrl+C are the model's: all selected, copied with CR LF line ends.
  QTest::keyClick(Focus(log), Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(p.txtLog.SelStart(), 0);
  EXPECT_EQ(p.txtLog.SelLength(), static_cast<int>(p.txtLog.Length()));
  EXPECT_EQ(log->textCursor().selectionEnd() - log->textCursor().selectionStart(),
            log->document()->characterCount() - 1);
  QApplication::clipboard()->clear();
  QTest::keyClick(log, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text().toStdString(), p.txtLog.Text());
  // Painted bytes across a row break, then rows taken off the top past the entry limit.
  Frame rx;
  for (uint8_t i = 0; i < 20; ++i) rx.push_back(static_cast<uint8_t>(0xA0 + i));
  p.LogResponse(rx);
  p.LogError("Protocol Error", "Wrong CRC", false, 2, 15);
  ExpectLogColoursMatch(rig);
  for (int i = 0; i < 1005; ++i) p.Log("entry " + std::to_string(i), i % 7 == 0 ? LogColorError : LogColorInfo);
  ExpectLogColoursMatch(rig);
}

TEST(Window, AddressKeyFilterPasteAndValueCheck) {
  Rig rig(TcpToNowhere);
  ASSERT_TRUE(rig.shown);
  frmMain& p = *rig.panel;
  QLineEdit* addr = Focus(rig.Widget<QLineEdit>(p.txtAddr));
  Retype(addr, "");
  const int beeps = rig.Beeps();
  QTest::keyClick(addr, 'X');
  EXPECT_EQ(addr->text(), QString());
  EXPECT_EQ(rig.Beeps(), beeps + 1);
  QTest::keyClicks(addr, "xa");
  EXPECT_EQ(addr->text(), QStringLiteral("xA"));
  EXPECT_EQ(p.txtAddr.Text(), "xA");
  EXPECT_EQ(rig.Beeps(), beeps + 1);
  // A paste is filtered character by character, with one beep for the lot.
  QApplication::clipboard()->setText(QStringLiteral("1Xz2 3"));
  Retype(addr, "");
  QTest::keyClick(addr, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(p.txtAddr.Text(), "123");
  EXPECT_EQ(addr->text(), QStringLiteral("123"));
  EXPECT_EQ(rig.Beeps(), beeps + 2);
  // A value out of range keeps the focus (with a beep); one in range lets it go.
  Retype(addr, "65536");
  QTest::keyClick(addr, Qt::Key_Tab);
  QTest::qWait(100);
  EXPECT_EQ(QApplication::focusWidget(), addr);
  EXPECT_EQ(rig.Beeps(), beeps + 3);
  Retype(addr, "100");
  QTest::keyClick(addr, Qt::Key_Tab);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !addr->hasFocus(); }, 1000));
  EXPECT_EQ(rig.Beeps(), beeps + 3);
}

TEST(Window, AutoButtonsActOnAMousePressNotOnSpace) {
  Rig rig(TcpToNowhere);
  ASSERT_TRUE(rig.shown);
  frmMain& p = *rig.panel;
  auto* start = rig.Widget(p.cmdAuto1);
  auto* stop = rig.Widget(p.cmdAuto0);
  QTest::keyClick(Focus(start), Qt::Key_Space);
  EXPECT_FALSE(p.AutoPolling);
  QTest::mousePress(start, Qt::LeftButton);
  EXPECT_TRUE(p.AutoPolling);
  EXPECT_TRUE(stop->isVisible() && !start->isVisible());
  QTest::mouseRelease(stop, Qt::LeftButton);
  QTest::keyClick(Focus(stop), Qt::Key_Space);
  EXPECT_TRUE(p.AutoPolling);
  QTest::mousePress(stop, Qt::LeftButton);
  EXPECT_FALSE(p.AutoPolling);
  EXPECT_TRUE(start->isVisible());
  QTest::mouseRelease(start, Qt::LeftButton);
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
  auto* view = rig.Widget<QPlainTextEdit>(p.txtResponse);
  ASSERT_EQ(view->document()->blockCount(), 6) << p.txtResponse.Text();
  auto* inspector = rig.Aid<QTableWidget>("inspector");
  const struct {
    int line;
    const char *format, *bytesAndValue;
  } cases[] = {{0, "INT16", "41 AC|16812"},
               {0, "FLOAT_ABCD", "41 AC 00 00|21.5"},
               {2, "INT32_CDAB", "FF FF FF FE|-65537"},
               {5, "UINT32_ABCD", "16 2E -- --|\u2014"}};  // the last register has no next one
  for (const auto& c : cases) {
    const QRect r = view->cursorRect(QTextCursor(view->document()->findBlockByNumber(c.line)));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(r.left() + 24, r.center().y()));
    std::string shown;
    for (int i = 0; i < inspector->rowCount(); ++i)
      if (inspector->item(i, 0)->text().toStdString() == c.format)
        shown = (inspector->item(i, 1)->text() + "|" + inspector->item(i, 2)->text()).toStdString();
    EXPECT_EQ(shown, c.bytesAndValue) << c.line << " " << c.format;
    EXPECT_TRUE(rig.Aid<QLabel>("inspectorAddress")->text().startsWith(QStringLiteral("Address %1 ").arg(c.line)));
  }
  rig.Shoot("window-extras");
  // The poll interval typed: taken when valid; a refused key and a refused value beep and keep the focus.
  const struct {
    const char *typed, *text;
    bool leaves;
    int beeps;
  } polls[] = {{"2500", "2500", true, 0}, {"5x0", "50", false, 2}};
  for (const auto& c : polls) {
    auto* poll = Focus(rig.Widget<QLineEdit>(p.txtPollInterval));
    const int beeps = rig.Beeps();
    Retype(poll, c.typed);
    QTest::keyClick(poll, Qt::Key_Tab);
    QTest::qWait(100);
    EXPECT_EQ(p.txtPollInterval.Text(), c.text);
    EXPECT_EQ(poll->hasFocus(), !c.leaves) << c.typed;
    EXPECT_EQ(p.tmrAuto.Interval(), 2500);
    EXPECT_EQ(rig.Beeps() - beeps, c.beeps) << c.typed;
  }
  // The log saved and read back: the name's suffix wins over the dialog's filter.
  QTemporaryDir dir;
  for (const auto& [name, csvFilter, csv] : {std::tuple{"a.txt", true, false}, std::tuple{"b", true, true}}) {
    rig.window->SaveLogAs(dir.filePath(QLatin1String(name)), csvFilter);
    QFile file(dir.filePath(QLatin1String(name)));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    EXPECT_EQ(file.readAll().toStdString(), csv ? p.LogAsCsv() : p.txtLog.Text()) << name;
  }
}

namespace {
// Chooses a list's item with the keyboard: Down or Up until it is current.
void PickByKeys(Rig& rig, const ListField& list, int index) {
  auto* w = Focus(rig.Widget<QComboBox>(list));
  for (int i = 0; i < 16 && w->currentIndex() != index; ++i)
    QTest::keyClick(w, w->currentIndex() < index ? Qt::Key_Down : Qt::Key_Up);
}
}  // namespace

TEST(Window, EverySettingAndThePositionComeBackInTheNextWindow) {
  QString dir;
  {
    Rig first;
    ASSERT_TRUE(first.shown);
    frmMain& p = *first.panel;
    dir = first.dir;
    ASSERT_TRUE(QTest::qWaitFor([&] { return p.cmbRtuPort.ListCount() == 2; }));
    PickByKeys(first, p.cmbRtuPort, 1);
    Retype(first.Widget<QComboBox>(p.cmbRtuSpeed)->lineEdit(), "250000");
    PickByKeys(first, p.cmbRtuParity, 2);
    PickByKeys(first, p.cmbRtuStopBit, 1);
    Retype(Focus(first.Widget<QLineEdit>(p.txtRtuTimeout)), "1500");
    PickByKeys(first, p.cmbMode, 2);  // RTU-OVER-TCP: the socket settings
    const std::pair<const Field*, const char*> typed[] = {
        {&p.txtTcpHost, "10.0.0.7"}, {&p.txtTcpPort, "1502"}, {&p.txtTcpTimeout, "900"}, {&p.txtUnitID, "17"}};
    for (const auto& [field, text] : typed) Retype(Focus(first.Widget<QLineEdit>(*field)), text);
    PickByKeys(first, p.cmbCmd, 5);
    Retype(Focus(first.Widget<QLineEdit>(p.txtValue)), "77");
    PickByKeys(first, p.cmbCmd, 3);
    Retype(Focus(first.Widget<QLineEdit>(p.txtAddr)), "40");
    Retype(Focus(first.Widget<QLineEdit>(p.txtQuantity)), "8");
    PickByKeys(first, p.cmbFormat, 7);
    Retype(Focus(first.Widget<QLineEdit>(p.txtPollInterval)), "2500");
    QTest::mouseClick(first.Widget(p.optHEX), Qt::LeftButton);
    QTest::keyClicks(Focus(first.Widget<QPlainTextEdit>(p.txtHEX)), "01 03 00 00 00 01");
    first.window->move(150, 90);
    ASSERT_TRUE(QTest::qWaitFor([&] { return first.window->pos() == QPoint(150, 90); }));
    first.window->close();  // then the program quits, as it does when its last window closes
    ASSERT_TRUE(QMetaObject::invokeMethod(qApp, "aboutToQuit"));
    EXPECT_EQ(first.settings->writes.size(), 20u);  // every setting written, once
    for (const auto& [key, count] : first.settings->writes) EXPECT_EQ(count, 1) << key;
  }
  Rig second(nullptr, dir);
  ASSERT_TRUE(second.shown);
  frmMain& p = *second.panel;
  ASSERT_TRUE(QTest::qWaitFor([&] { return p.cmbRtuPort.ListCount() == 2; }));
  const std::pair<const Field*, const char*> restored[] = {
      {&p.txtTcpHost, "10.0.0.7"}, {&p.txtTcpPort, "1502"},
      {&p.txtTcpTimeout, "900"},   {&p.txtUnitID, "17"},
      {&p.cmbCmd, "04 Read IR"},   {&p.cmbFormat, "INT32_CDAB"},
      {&p.txtAddr, "40"},          {&p.txtQuantity, "8"},
      {&p.txtValue, "77"},         {&p.txtHEX, "01 03 00 00 00 01"},
      {&p.cmbRtuSpeed, "250000"},  {&p.cmbRtuParity, "Even"},
      {&p.cmbRtuStopBit, "2 "},    {&p.txtRtuTimeout, "1500"},
      {&p.optHEX, "HEX*"},         {&p.cmbMode, "RTU-OVER-TCP"},
      {&p.cmbRtuPort, "ttyVT1"},   {&p.txtPollInterval, "2500"}};
  for (const auto& [field, text] : restored) EXPECT_EQ(Shows(second.window->WidgetOf(*field)), text) << field->Name();
  EXPECT_EQ(p.ComPortName, "ttyVT1");
  EXPECT_EQ(p.tmrAuto.Interval(), 2500);
  EXPECT_EQ(second.window->pos(), QPoint(150, 90));
  // A position stored for a screen that is gone opens on the primary screen.
  second.window->close();
  second.settings->Write("main", "left", "750000");
  second.settings->Write("main", "top", "-750000");
  second.settings->Flush();
  Rig third(nullptr, dir);
  ASSERT_TRUE(third.shown);
  EXPECT_TRUE(QGuiApplication::primaryScreen()->availableGeometry().contains(third.window->geometry()));
}

TEST(Program, CommandLineIsDecidedBeforeTheWindow) {
  QTemporaryDir home;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
  env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());  // else the toolkit warns on standard error
  const std::string usage = CommandLineUsage();
  const struct {
    const char* arg;
    int exitCode;
    std::string out, err;
  } cases[] = {{"--version", 0, "VeskTarvelo " + frmMain::VersionText() + "\n", ""},
               {"--help", 0, usage, ""},
               {"--bogus", 2, "", "VeskTarvelo: unknown argument '--bogus'\n" + usage}};
  for (const auto& c : cases) {
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(VESK_PROGRAM), {QString::fromLatin1(c.arg)});
    ASSERT_TRUE(program.waitForFinished(15000)) << c.arg;
    EXPECT_EQ(program.exitCode(), c.exitCode) << c.arg;
    EXPECT_EQ(program.readAllStandardOutput().toStdString(), c.out) << c.arg;
    EXPECT_EQ(program.readAllStandardError().toStdString(), c.err) << c.arg;
  }
}

// Positions and texts between the panel (UTF-8 bytes, CR LF) and a Qt text widget (UTF-16 units).
TEST(TextMap, PositionsAndTextsAcrossLineBreaksAndWideCharacters) {
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
