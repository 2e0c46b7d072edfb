// The window at the sizes it is used at, under a virtual X server: the inspector's values readable
// from the smallest size up, its Bytes column giving way first; the log file's rotation size chosen
// in the File menu, applied and remembered. Screenshots go to the build folder.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QSettings>
#include <QSplitter>
#include <QStyleFactory>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include "panel/frmMain.h"
#include "qt/window/MainWindow.h"
#include "qt/window/beep_gate.h"
#include "qt/window/gui_platform.h"
#include "qt/window/response_grid.h"

namespace {

QString g_configRoot;

// A panel and its window on the real platform, settings in `dir`.
struct Shown {
  explicit Shown(const QString& dir) {
    QDir().mkpath(dir);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir);
    platform::Platform p = qt::MakeGuiPlatform();
    qt::BeepGate::Install(p);
    panel = std::make_unique<frmMain>(p);
    panel->Form_Load();
    window = std::make_unique<qt::MainWindow>(*panel);
    window->show();
    shown = QTest::qWaitForWindowExposed(window.get());
  }
  std::unique_ptr<frmMain> panel;
  std::unique_ptr<qt::MainWindow> window;
  bool shown = false;
};

// At each size the register picked in the response view is read in the inspector: every value
// shown whole, the table inside the window, the Bytes column cut before any value is.
TEST(WindowFit, InspectorValuesStayReadableAtEverySize) {
  const struct {
    int width, height;
    int inspector;    // the inspector's width set by its splitter (0: as the window lays it out)
    bool bytesWhole;  // room enough for the eight bytes of a 64-bit format beside the longest value
  } sizes[] = {{1024, 600, 0, false}, {1280, 800, 0, false}, {1920, 1080, 0, false}, {1920, 1080, 560, true}};
  int serial = 0;
  for (const auto& s : sizes) {
    const std::string at = std::to_string(s.width) + "x" + std::to_string(s.height) + "+" + std::to_string(s.inspector);
    // Each size as a first start at that size: its own settings, the window's default layout.
    Shown w(g_configRoot + QStringLiteral("/fit%1").arg(++serial));
    ASSERT_TRUE(w.shown) << at;
    w.window->resize(s.width, s.height);
    QTest::qWait(50);
    ASSERT_EQ(w.window->size(), QSize(s.width, s.height)) << at;
    if (s.inspector > 0) {  // widened by the operator
      auto* columns = w.window->findChild<QSplitter*>(QStringLiteral("columnSplitter"));
      ASSERT_NE(columns, nullptr);
      columns->setSizes({s.width - s.inspector, s.inspector});
      QTest::qWait(20);
    }
    frmMain& p = *w.panel;
    p.LastRequest = {1, 3, 0, 0, 0, 4, 0, 0};
    // Four registers whose 64-bit readings are long: a double with 17 digits, a 20-digit integer.
    p.ShowResponse({1, 3, 8, 0xC0, 0x09, 0x21, 0xFB, 0x54, 0x44, 0x2D, 0x18, 0, 0}, 0);
    w.window->ApplyPending();
    auto* view = w.window->findChild<qt::ResponseGrid*>();
    ASSERT_NE(view, nullptr);
    ASSERT_GT(view->rowCount(), 0) << at;
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier,
                      view->visualItemRect(view->item(0, 0)).center());
    QTest::qWait(20);
    auto* table = w.window->findChild<QTableWidget*>(QStringLiteral("inspector"));
    ASSERT_NE(table, nullptr);
    const QRect inWindow(table->mapTo(w.window.get(), QPoint(0, 0)), table->size());
    EXPECT_TRUE(w.window->rect().contains(inWindow)) << at;
    const QFontMetrics fm(table->font());
    int widest = 0;
    int longest = 0;
    for (int r = 0; r < table->rowCount(); ++r) {
      const QString value = table->item(r, 2)->text();
      widest = std::max(widest, fm.horizontalAdvance(value));
      longest = std::max(longest, static_cast<int>(value.size()));
    }
    EXPECT_GE(longest, 20) << at;  // the 64-bit rows were filled
    EXPECT_GE(table->horizontalHeader()->sectionSize(2), widest) << at << ": a value is cut";
    if (s.bytesWhole) {
      EXPECT_GE(table->horizontalHeader()->sectionSize(1),
                fm.horizontalAdvance(QStringLiteral("00 00 00 00 00 00 00 00")))
          << at;
    }
    const QPixmap shot = w.window->grab();
    EXPECT_TRUE(shot.save(QStringLiteral(VESK_SHOT_DIR "/window-fit-%1x%2%3.png")
                              .arg(s.width)
                              .arg(s.height)
                              .arg(s.inspector > 0 ? "-wide" : "")));
  }
}

// File, Log file size: the choice rotates the log file at that size from now on, and a restart
// shows and applies it again.
TEST(WindowFit, LogFileSizeChosenInTheMenuRotatesTheFileAndIsRemembered) {
  const QString dir = g_configRoot + QStringLiteral("/logsize");
  const QString file = dir + QStringLiteral("/session.log");
  {
    Shown w(dir);
    ASSERT_TRUE(w.shown);
    auto* ten = w.window->findChild<QAction*>(QStringLiteral("logFileSize10Action"));
    auto* one = w.window->findChild<QAction*>(QStringLiteral("logFileSize1Action"));
    ASSERT_TRUE(ten != nullptr && one != nullptr);
    EXPECT_TRUE(ten->isChecked() && !one->isChecked());  // the default
    w.window->LogToFile(file, false);
    one->trigger();
    EXPECT_TRUE(one->isChecked() && !ten->isChecked());
    const std::string row(200, 'x');
    for (int i = 0; i < 6000; ++i) w.panel->Log(row);  // about 1.2 MiB
    EXPECT_TRUE(QFile::exists(file + QStringLiteral(".1")));
    EXPECT_LE(QFile(file + QStringLiteral(".1")).size(), 1024 * 1024);
    w.window->close();
  }
  QFile::remove(file + QStringLiteral(".1"));
  QFile::remove(file);
  Shown again(dir);
  ASSERT_TRUE(again.shown);
  EXPECT_TRUE(again.window->findChild<QAction*>(QStringLiteral("logFileSize1Action"))->isChecked());
  EXPECT_EQ(again.panel->LogFilePath(), QFile::encodeName(file).toStdString());
  const std::string row(200, 'y');
  for (int i = 0; i < 6000; ++i) again.panel->Log(row);
  EXPECT_TRUE(QFile::exists(file + QStringLiteral(".1")));  // rotated at 1 MiB again, not at 10
  again.window->close();
}

}  // namespace

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
