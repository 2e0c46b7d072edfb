// A restart, in one process: the operator changes the fields of a first
// window with the keyboard and the mouse and closes it; a second panel and
// window on the same settings store come up as the first was left. And the
// real program's command line, decided before any window is made.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRadioButton>
#include <QScreen>
#include <QTemporaryDir>
#include <string>
#include <vector>

#include "panel/command_line.h"
#include "window_test_env.h"

using windowtest::Focused;
using windowtest::Retype;
using windowtest::Rig;
using windowtest::RunUntil;

namespace {

// Two serial ports, whatever the machine has.
class TwoPorts : public platform::PortList {
 public:
  std::vector<platform::PortInfo> Ports() override {
    return {{"ttyVT0", "", "", "", {}, {}}, {"ttyVT1", "", "", "", {}, {}}};
  }
};

// Chooses a list's item with the keyboard: Down or Up until it is current.
void PickByKeys(Rig& rig, const ListField& list, int index) {
  auto* w = rig.Widget<QComboBox>(list);
  w->setFocus(Qt::OtherFocusReason);
  RunUntil([&] { return w->hasFocus(); }, 2000);
  for (int i = 0; i < 16 && w->currentIndex() != index; ++i)
    QTest::keyClick(w, w->currentIndex() < index ? Qt::Key_Down : Qt::Key_Up);
}

// Chooses a list's item with the mouse: opens the list, clicks the item.
void PickByMouse(Rig& rig, const ListField& list, int index) {
  auto* w = rig.Widget<QComboBox>(list);
  QTest::mouseClick(w, Qt::LeftButton);
  QAbstractItemView* popup = w->view();
  ASSERT_TRUE(RunUntil([&] { return popup->isVisible(); }));
  // The list ignores a release that follows its opening within a double click.
  windowtest::RunFor(QApplication::doubleClickInterval() + 50);
  const QRect item = popup->visualRect(popup->model()->index(index, 0));
  QTest::mouseClick(popup->viewport(), Qt::LeftButton, Qt::NoModifier,
                    QPoint(popup->viewport()->width() / 2, item.center().y()));
  ASSERT_TRUE(RunUntil([&] { return !popup->isVisible(); }));
}

void ClickOption(Rig& rig, const OptionButton& o) { QTest::mouseClick(rig.Widget(o), Qt::LeftButton); }

// What a field's widget shows.
std::string Shown(Rig& rig, const Field& f) {
  QWidget* w = rig.window->WidgetOf(f);
  if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text().toStdString();
  if (auto* c = qobject_cast<QComboBox*>(w)) return c->currentText().toStdString();
  if (auto* t = qobject_cast<QPlainTextEdit*>(w)) return t->toPlainText().toStdString();
  if (auto* o = qobject_cast<QRadioButton*>(w)) return o->isChecked() ? "chosen" : "not chosen";
  return "?";
}

}  // namespace

TEST(WindowRestart, EverySettingComesBackInTheNextWindow) {
  auto ports = std::make_shared<TwoPorts>();
  QString dir;
  {
    Rig first(nullptr, QString(), ports);
    ASSERT_TRUE(first.shown);
    frmMain& p = *first.panel;
    dir = first.dir;
    // A first start is in RTU mode: the line settings first.
    ASSERT_EQ(p.cmbMode.ListIndex(), 0);
    ASSERT_TRUE(RunUntil([&] { return p.cmbRtuPort.ListCount() == 2; }));
    PickByKeys(first, p.cmbRtuPort, 1);
    QLineEdit* speed = first.Widget<QComboBox>(p.cmbRtuSpeed)->lineEdit();
    speed->selectAll();
    QTest::keyClicks(speed, "250000");
    PickByKeys(first, p.cmbRtuParity, 2);
    PickByMouse(first, p.cmbRtuStopBit, 1);
    Retype(Focused(first, p.txtRtuTimeout), "1500");
    // The socket settings in RTU-OVER-TCP.
    PickByKeys(first, p.cmbMode, 2);
    Retype(Focused(first, p.txtTcpHost), "10.0.0.7");
    Retype(Focused(first, p.txtTcpPort), "1502");
    Retype(Focused(first, p.txtTcpTimeout), "900");
    // The request: a value for a write, then a read with its format.
    Retype(Focused(first, p.txtUnitID), "17");
    PickByMouse(first, p.cmbCmd, 5);
    Retype(Focused(first, p.txtValue), "77");
    PickByMouse(first, p.cmbCmd, 3);
    Retype(Focused(first, p.txtAddr), "40");
    Retype(Focused(first, p.txtQuantity), "8");
    PickByMouse(first, p.cmbFormat, 7);
    Retype(Focused(first, p.txtPollInterval), "2500");
    // Raw input last: the panel is left in HEX view.
    ClickOption(first, p.optHEX);
    auto* hex = first.Widget<QPlainTextEdit>(p.txtHEX);
    hex->setFocus(Qt::OtherFocusReason);
    QTest::keyClicks(hex, "01 03 00 00 00 01");
    first.window->move(150, 90);
    ASSERT_TRUE(RunUntil([&] { return first.window->pos() == QPoint(150, 90); }));

    first.window->close();
    first.window->close();
    // Every setting written, once.
    EXPECT_EQ(first.settings->writes.size(), 20u);
    for (const auto& [key, count] : first.settings->writes) EXPECT_EQ(count, 1) << key;
  }

  Rig second(nullptr, dir, ports);
  ASSERT_TRUE(second.shown);
  frmMain& p = *second.panel;
  ASSERT_TRUE(RunUntil([&] { return p.cmbRtuPort.ListCount() == 2; }));
  struct Restored {
    const char* key;
    const Field* field;
    const char* shown;
  };
  const Restored restored[] = {
      {"host", &p.txtTcpHost, "10.0.0.7"},  {"port", &p.txtTcpPort, "1502"},
      {"timeout", &p.txtTcpTimeout, "900"}, {"unitid", &p.txtUnitID, "17"},
      {"cmd", &p.cmbCmd, "04 Read IR"},     {"format", &p.cmbFormat, "INT32_CDAB"},
      {"addr", &p.txtAddr, "40"},           {"len", &p.txtQuantity, "8"},
      {"value", &p.txtValue, "77"},         {"hexvalue", &p.txtHEX, "01 03 00 00 00 01"},
      {"speed", &p.cmbRtuSpeed, "250000"},  {"parity", &p.cmbRtuParity, "Even"},
      {"stopbit", &p.cmbRtuStopBit, "2 "},  {"rtutimeout", &p.txtRtuTimeout, "1500"},
      {"hexview", &p.optHEX, "chosen"},     {"mode", &p.cmbMode, "RTU-OVER-TCP"},
      {"comport", &p.cmbRtuPort, "ttyVT1"}, {"pollinterval", &p.txtPollInterval, "2500"},
  };
  for (const Restored& r : restored) EXPECT_EQ(Shown(second, *r.field), r.shown) << r.key;
  EXPECT_EQ(p.ComPortName, "ttyVT1");
  EXPECT_EQ(p.tmrAuto.Interval(), 2500);
  // "left" and "top".
  EXPECT_EQ(second.window->pos(), QPoint(150, 90));

  // A position stored for a screen that is gone opens on the primary screen.
  second.window->close();
  second.settings->Write("main", "left", "750000");
  second.settings->Write("main", "top", "-750000");
  second.settings->Flush();
  Rig third(nullptr, dir, ports);
  ASSERT_TRUE(third.shown);
  EXPECT_TRUE(QGuiApplication::primaryScreen()->availableGeometry().contains(third.window->geometry()))
      << third.window->x() << "," << third.window->y();
}

TEST(Program, CommandLineIsDecidedBeforeTheWindow) {
  QTemporaryDir home;
  ASSERT_TRUE(home.isValid());
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("HOME"), home.path());
  env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path() + QStringLiteral("/config"));
  const std::string version = "VeskTarvelo " + frmMain::VersionText() + "\n";
  const std::string usage = CommandLineUsage();
  struct Case {
    QStringList args;
    int exitCode;
    std::string out;
    std::string err;  // contained in the error output
  };
  const Case cases[] = {
      {{QStringLiteral("--version")}, 0, version, ""},
      {{QStringLiteral("--help")}, 0, usage, ""},
      // The toolkit's own arguments are the toolkit's.
      {{QStringLiteral("-style"), QStringLiteral("fusion"), QStringLiteral("--version")}, 0, version, ""},
      {{QStringLiteral("--bogus")}, 2, "", "VeskTarvelo: unknown argument '--bogus'\n" + usage},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(VESK_PROGRAM), c.args);
    ASSERT_TRUE(program.waitForFinished(15000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), c.exitCode);
    EXPECT_EQ(program.readAllStandardOutput().toStdString(), c.out);
    const std::string err = program.readAllStandardError().toStdString();
    EXPECT_NE(err.find(c.err), std::string::npos) << err;
    if (c.exitCode == 0) {
      EXPECT_EQ(err.find("VeskTarvelo:"), std::string::npos) << err;
    }
  }
  // Without arguments the window opens and stays.
  QProcess program;
  program.setProcessEnvironment(env);
  program.start(QStringLiteral(VESK_PROGRAM), {});
  ASSERT_TRUE(program.waitForStarted(5000));
  EXPECT_FALSE(program.waitForFinished(1500)) << program.readAllStandardError().toStdString();
  program.kill();
  program.waitForFinished(5000);
}
