// The watch list and the plot in the real window under a virtual X server, against the libmodbus
// slave on 127.0.0.1: blocks added, edited, paused, reordered and plotted through widget events, a
// workspace saved and opened in a second window, a bad one refused; the plot's saves whole or not
// at all. Screenshots of the watch pane, the plot and the window go to the build folder.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QSettings>
#include <QSpinBox>
#include <QStyleFactory>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "panel/frmMain.h"
#include "peer_harness.h"
#include "qt/window/MainWindow.h"
#include "qt/window/gui_platform.h"
#include "qt/window/watch_pane.h"
#include "qt/window/watch_plot.h"

namespace {

QString g_root;

struct Rig {
  // `workspace`: opened on the panel before the window is made, as from the command line.
  explicit Rig(int port, const QString& workspace = {}, int width = 1400, int height = 900) {
    static int serial = 0;
    const QString dir = g_root + QStringLiteral("/rig%1").arg(++serial);
    QDir().mkpath(dir);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir);
    panel = std::make_unique<frmMain>(qt::MakeGuiPlatform());
    panel->Form_Load();
    panel->cmbMode.SetListIndex(1);
    panel->txtTcpHost.SetText("127.0.0.1");
    panel->txtTcpPort.SetText(std::to_string(port));
    if (!workspace.isEmpty()) panel->OpenWorkspace(workspace.toStdString());
    window = std::make_unique<qt::MainWindow>(*panel);
    window->resize(QSize(width, height).boundedTo(QGuiApplication::primaryScreen()->availableSize()));
    window->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  }
  template <class W>
  W* Find(const char* name) const {
    W* w = window->findChild<W*>(QLatin1String(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  void Click(const char* button) { QTest::mouseClick(Find<QPushButton>(button), Qt::LeftButton); }
  // The request's fields as the operator leaves them, then "Add to watch".
  void Add(int cmdIndex, const char* address, const char* quantity, int format) {
    panel->cmbCmd.SetListIndex(cmdIndex);
    panel->txtAddr.SetText(address);
    panel->txtQuantity.SetText(quantity);
    panel->cmbFormat.SetListIndex(format);
    panel->txtPollInterval.SetText("200");
    Click("watchAdd");
  }
  void Type(const char* spinBox, const char* text) {
    Find<QSpinBox>(spinBox)->selectAll();
    QTest::keyClicks(Find<QSpinBox>(spinBox), text);
  }
  void ClickBlock(int row) {  // selects its row
    auto* t = Find<QTableWidget>("watchBlocks");
    QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, t->visualItemRect(t->item(row, 0)).center());
  }
  // Ticks or unticks the Plot box of a value row with the keyboard.
  void TogglePlot(int row) {
    auto* t = Find<QTableWidget>("watchValues");
    t->setFocus();
    t->setCurrentCell(row, 0);
    QTest::keyClick(t, Qt::Key_Space);
  }
  QString Cell(const char* table, int row, int column) {
    QTableWidgetItem* item = Find<QTableWidget>(table)->item(row, column);
    return item != nullptr ? item->text() : QString();
  }
  const std::vector<engine::WatchBlock>& Blocks() const { return panel->Watch().Model().Blocks(); }
  void Shoot(QWidget* w, const char* name) const {
    QTest::qWait(20);
    EXPECT_TRUE(w->grab().save(QStringLiteral(VESK_SHOT_DIR "/%1.png").arg(QLatin1String(name)))) << name;
  }

  std::unique_ptr<frmMain> panel;
  std::unique_ptr<qt::MainWindow> window;
};

TEST(WatchWindowTest, AddEditPausePlotSaveAndReopen) {
  vesk::test::Peer slave;
  const int port = slave.TcpSlave();
  QTemporaryDir files;
  ASSERT_TRUE(port > 0 && files.isValid());
  Rig a(port);
  QAction* show = a.Find<QAction>("watchAction");
  EXPECT_FALSE(show->isChecked() || a.Find<QWidget>("watchArea")->isVisible());
  show->trigger();
  EXPECT_TRUE(a.Find<QWidget>("watchArea")->isVisible());
  EXPECT_GE(a.Find<QWidget>("watchArea")->height(), 150) << "the watch list gets room when shown";
  EXPECT_FALSE(a.Find<QComboBox>("watchFormat")->isEnabled()) << "coils, the editor's first function, have no format";

  // Three blocks from the request's fields: INT16 of 110-111, FLOAT_ABCD of 100-101, UINT16 of
  // input registers 5-7; a write is refused with its reason in the log.
  a.Add(2, "110", "2", 0);
  a.Add(2, "100", "2", 2);
  a.Add(3, "5", "3", 1);
  a.Add(5, "1", "1", 0);
  EXPECT_NE(a.panel->txtLog.Text().find("Not added to watch: only the reads 01 to 04 can be watched"),
            std::string::npos);
  ASSERT_EQ(a.Blocks().size(), 3u);
  auto* values = a.Find<QTableWidget>("watchValues");
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        return values->rowCount() == 6 && a.Cell("watchValues", 5, 4).endsWith(" s") &&
               !a.Cell("watchValues", 0, 4).startsWith("stale");
      },
      5000));
  EXPECT_EQ((QStringList{a.Cell("watchValues", 0, 3), a.Cell("watchValues", 3, 3), a.Cell("watchBlocks", 0, 8)}),
            (QStringList{"-32768", "1005", "good"}));
  {  // under a locale with a decimal comma the ages read as the values do
    const QLocale was;
    QLocale::setDefault(QLocale(QLocale::German));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return a.Cell("watchValues", 5, 4).contains(QRegularExpression("^\\d+,\\d s$")); }, 2000))
        << a.Cell("watchValues", 5, 4).toStdString();
    QLocale::setDefault(was);
  }

  // Edit the third block through the editor strip: two registers at 1000 ms.
  a.ClickBlock(2);
  EXPECT_EQ(a.Find<QSpinBox>("watchQuantity")->value(), 3);
  a.Type("watchQuantity", "2");
  a.Type("watchInterval", "1000");
  QTest::keyClick(a.Find<QSpinBox>("watchInterval"), Qt::Key_Return);  // as Apply
  EXPECT_EQ(a.Blocks()[2].config.quantity, 2);
  EXPECT_EQ(a.Blocks()[2].config.intervalMs, 1000u);
  EXPECT_EQ(values->rowCount(), 5);

  // Tab walks the whole window in reading order (the socket's fields are greyed while it is
  // connected; the request is the refused write's), each stop named for a screen reader, and gets
  // out of every table.
  a.window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(a.window.get()));
  QWidget* first = a.window->WidgetOf(a.panel->cmbMode);
  first->setFocus();
  QStringList stops;
  for (int i = 0; i < 60 && (i == 0 || QApplication::focusWidget() != first); ++i) {
    QWidget* w = QApplication::focusWidget();
    QAccessibleInterface* named = QAccessible::queryAccessibleInterface(w);
    EXPECT_TRUE(named != nullptr && !named->text(QAccessible::Name).isEmpty()) << w->objectName().toStdString();
    stops << w->objectName();
    QTest::keyClick(w, Qt::Key_Tab);
  }
  EXPECT_EQ(stops.join(' ').toStdString(),
            "cmbMode txtTcpTimeout cmdTcpConnect cmdTcpDisconnect optFORM optHEX txtUnitID "  // connected
            "cmbCmd txtAddr txtValue cmbFormat cmdSend cmdAuto1 cmbAddresses txtPollInterval txtResponse "
            "inspector watchSlave watchFunction watchAddress watchQuantity watchFormat watchInterval watchApply "
            "watchAdd watchRemove watchPause watchUp watchDown watchHideGood watchBlocks watchValues plotWindow "
            "plotPause plotZoomIn plotZoomOut plotFollow plotSaveCsv plotSavePng txtLog saveLog resetStats");
  const QHeaderView* header = values->horizontalHeader();
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return header->sectionViewportPosition(4) + header->sectionSize(4) >= values->viewport()->width(); }, 1000))
      << "the last column reaches the table's edge after an edit";

  // Pause the first block: the block and its state cell say so.
  a.ClickBlock(0);
  a.Click("watchPause");
  EXPECT_TRUE(a.Blocks()[0].config.paused);
  EXPECT_EQ(a.Find<QPushButton>("watchPause")->text(), QStringLiteral("Resume"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return a.Cell("watchBlocks", 0, 8) == QStringLiteral("paused"); }, 1000));

  // Plot three values of sizes far apart: -32768 (paused, so no new points), 1.0 and 1005.
  for (int row : {0, 2, 3}) a.TogglePlot(row);
  ASSERT_EQ(a.panel->Plotted.size(), 3u);
  a.ClickBlock(0);
  a.Click("watchPause");  // resumed
  EXPECT_FALSE(a.Blocks()[0].config.paused);
  auto* plot = a.window->Plot();
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        plot->Redraw();
        const std::vector<int> drawn = plot->DrawnPoints();
        return drawn.size() == 3 && drawn[0] >= 3 && drawn[1] >= 3 && drawn[2] >= 2;
      },
      5000));
  EXPECT_EQ(plot->AxisCount(), 2) << "1.0 apart from -32768 and 1005";

  // The window spin box shortens the plot; pause holds the picture.
  a.Type("plotWindow", "5");
  EXPECT_EQ(std::pair(plot->Data().WindowMinutes(), a.panel->PlotWindowMinutes), std::pair(5, 5));
  a.Click("plotPause");
  const std::vector<int> held = plot->DrawnPoints();
  QTest::qWait(1200);
  EXPECT_EQ(plot->DrawnPoints(), held);
  a.Click("plotPause");
  a.Click("plotZoomIn");
  EXPECT_TRUE(plot->View()->chart()->isZoomed());
  a.Click("plotFollow");
  EXPECT_FALSE(plot->View()->chart()->isZoomed());

  // Good watch reads hidden from the log.
  QTest::mouseClick(a.Find<QCheckBox>("watchHideGood"), Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_TRUE(a.panel->HideWatchGoodInLog);

  // Move the third block to the top.
  const engine::WatchBlockId third = a.Blocks()[2].id;
  a.ClickBlock(2);
  a.Click("watchUp");
  a.Click("watchUp");
  EXPECT_EQ(a.Blocks()[0].id, third);
  EXPECT_EQ(a.Find<QWidget>("watchPane")->findChild<QTableWidget*>("watchBlocks")->currentRow(), 0);
  // It now reads holding registers: its plotted value starts a series of its own.
  a.Find<QComboBox>("watchFunction")->setCurrentIndex(2);
  a.Click("watchApply");

  // The plot's data: a time column and one per plotted value, named by what it reads.
  const QString csv = files.filePath("plot.csv");
  QFile csvFile(csv);
  ASSERT_TRUE(plot->SaveCsv(csv) && csvFile.open(QIODevice::ReadOnly));
  const QList<QByteArray> lines = csvFile.readAll().split('\n');
  ASSERT_GE(lines.size(), 4);
  EXPECT_EQ(lines[0].trimmed(), "time,S1 HR 110,S1 HR 100 FLOAT_ABCD,S1 HR 5 UINT16");

  // A block past the slave's table: its exception shown, its values stale and never read.
  a.Add(2, "998", "4", 0);
  ASSERT_EQ(a.Blocks().size(), 4u);
  ASSERT_TRUE(QTest::qWaitFor([&] { return a.Cell("watchBlocks", 3, 8).startsWith("exception 2"); }, 3000));
  EXPECT_EQ(a.Cell("watchValues", values->rowCount() - 1, 4), QStringLiteral("stale: never read"));
  EXPECT_TRUE(values->item(values->rowCount() - 1, 3)->font().italic());
  // Delete in the list removes the selected block.
  a.ClickBlock(3);
  QTest::keyClick(a.Find<QTableWidget>("watchBlocks"), Qt::Key_Delete);
  ASSERT_EQ(a.Blocks().size(), 3u);
  // A value and a time longer than the "-" a block shows before its first read are not cut.
  a.Add(2, "102", "2", 2);
  ASSERT_TRUE(QTest::qWaitFor([&] { return a.Cell("watchValues", values->rowCount() - 1, 3).contains('E'); }, 3000))
      << a.Cell("watchValues", values->rowCount() - 1, 3).toStdString() << " " << a.Blocks().size();
  for (const auto& [table, column] : {std::pair{"watchValues", 3}, std::pair{"watchBlocks", 6}}) {
    auto* t = a.Find<QTableWidget>(table);
    const QString text = a.Cell(table, t->rowCount() - 1, column);
    EXPECT_GT(t->columnWidth(column), t->fontMetrics().horizontalAdvance(text)) << table << " " << text.toStdString();
  }
  a.Shoot(a.Find<QWidget>("watchPane"), "watch_pane");
  a.Shoot(plot, "watch_plot");
  a.Shoot(a.window.get(), "watch_window");

  // The workspace, saved and opened in a second window: the window shows what the panel opened.
  const QString path = files.filePath("bench.json");
  ASSERT_TRUE(a.window->SaveWorkspaceAs(path));
  a.panel->Watch().Stop();
  Rig b(1);
  ASSERT_TRUE(b.window->OpenWorkspace(path));
  EXPECT_EQ(b.Find<QSpinBox>("plotWindow")->value(), 5);
  EXPECT_TRUE(b.Find<QWidget>("watchArea")->isVisible());
  EXPECT_EQ(b.window->Plot()->DrawnPoints().size(), 3u);
  int ticked = 0;  // in the opened values table as they were
  auto* openedValues = b.Find<QTableWidget>("watchValues");
  for (int r = 0; r < openedValues->rowCount(); ++r) ticked += openedValues->item(r, 0)->checkState() == Qt::Checked;
  EXPECT_EQ(ticked, 3);

  // Opened before the window is made, the watch list gets its room when the window is shown: all it
  // needs, or all the screen has. The window starts narrower than the screen, whatever its size, and as low as a
  // first start makes it.
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  const int narrow = std::min(1280, screen.width() - 300);
  Rig c(1, path, narrow, 760);
  auto* room = c.Find<QScrollArea>("watchRoom");
  EXPECT_TRUE(room->isVisible());
  // On a screen with room the list shows its blocks (up to five) and three values without scrolling.
  const int blocks = static_cast<int>(c.panel->Watch().Model().Blocks().size());
  ASSERT_GE(blocks, 4);
  for (const auto& [table, rows] : {std::pair{"watchBlocks", std::min(blocks, 5)}, std::pair{"watchValues", 3}}) {
    auto* t = c.Find<QTableView>(table);
    if (screen.height() >= 1000) {
      EXPECT_GE(t->viewport()->height() / t->verticalHeader()->defaultSectionSize(), rows) << table;
    }
  }
  // Shown again near the screen's right edge, the window grows and stays on the screen.
  QAction* showC = c.Find<QAction>("watchAction");
  showC->trigger();
  c.window->resize(narrow, c.window->height());
  const int before = c.window->width();
  c.window->move(std::max(screen.left(), screen.right() - before - 20), screen.top());
  QTest::qWait(50);
  showC->trigger();
  if (before < screen.width()) {  // a screen narrower than the window's least width leaves no room to grow
    EXPECT_TRUE(QTest::qWaitFor([&] { return c.window->width() > before; }, 2000)) << before;
    EXPECT_TRUE(QTest::qWaitFor([&] { return screen.contains(c.window->frameGeometry()); }, 2000))
        << c.window->frameGeometry().right();
  }
  c.panel->Watch().Stop();

  // A file that is not a workspace changes nothing and says why.
  QFile bad(files.filePath("bad.json"));
  ASSERT_TRUE(bad.open(QIODevice::WriteOnly) && bad.write("{\"type\": \"something else\"}") > 0);
  bad.close();
  EXPECT_FALSE(b.window->OpenWorkspace(bad.fileName()));
  EXPECT_NE(b.panel->txtLog.Text().find("Workspace not opened: not a workspace file"), std::string::npos);
  b.panel->Watch().Stop();
}

TEST(WatchWindowTest, PlotSavesAreWholeOrNothingAndSayWhy) {
  QTemporaryDir files;
  const QString dir = files.path();
  QFile old(dir + "/old.png"), plain(dir + "/plain");
  ASSERT_TRUE(old.open(QIODevice::WriteOnly) && old.write("old") == 3 && plain.open(QIODevice::WriteOnly));
  old.close();
  plain.close();
  ASSERT_TRUE(QFile::link(dir + "/old.png", dir + "/link.png"));
  Rig a(1);
  qt::WatchPlot* plot = a.window->Plot();
  QStringList messages;
  plot->onMessage = [&](const QString& m) { messages << m; };
  // Saved to `name`; the file that then holds it (empty: the save fails).
  const std::tuple<bool, QString, QString> cases[] = {
      {true, "old.png", "old.png"}, {true, "link.png", "old.png"}, {false, "link.png", "old.png"},
      {true, "plain/x.png", ""},    {false, "plain/x.csv", ""},    {false, "new.csv", "new.csv"},
  };
  for (const auto& [png, name, written] : cases) {
    SCOPED_TRACE((png ? "PNG to " : "CSV to ") + name.toStdString());
    messages.clear();
    const QString path = dir + "/" + name;
    const bool saved = png ? plot->SavePng(path) : plot->SaveCsv(path);
    EXPECT_EQ(saved, !written.isEmpty());
    if (saved) {
      EXPECT_TRUE(messages.isEmpty());
      QFile f(dir + "/" + written);
      ASSERT_TRUE(f.open(QIODevice::ReadOnly));
      const QByteArray bytes = f.readAll();
      EXPECT_TRUE(png ? !QImage::fromData(bytes, "PNG").isNull() : bytes.startsWith("time")) << bytes.left(40).data();
    } else {
      // The system's reason after the file's name; nothing left behind.
      ASSERT_EQ(messages.size(), 1);
      const QString lead = (png ? QStringLiteral("The plot's picture was not saved to %1: ").arg(path)
                                : QStringLiteral("The plot's data was not saved: "));
      EXPECT_TRUE(messages[0].startsWith(lead) && messages[0].size() > lead.size()) << messages[0].toStdString();
    }
  }
  // A name typed in the save dialogs without a suffix gets the file's.
  for (const auto& [button, typed, written] :
       {std::tuple{"plotSaveCsv", "data", "data.csv"}, std::tuple{"plotSavePng", "picture", "picture.png"}}) {
    QTimer::singleShot(200, [&, typed = typed] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<QFileDialog*>(w);
        if (dialog == nullptr || !dialog->isVisible()) continue;
        dialog->setDirectory(dir + "/sub");
        dialog->findChild<QLineEdit*>("fileNameEdit")->setText(typed);  // as the operator types it
        QMetaObject::invokeMethod(dialog, "accept");
        if (dialog->isVisible()) dialog->reject();  // the name was not taken: closed all the same
      }
    });
    QDir(dir).mkdir("sub");
    a.Click(button);
    EXPECT_TRUE(QFileInfo::exists(dir + "/sub/" + written)) << written;
  }
  EXPECT_TRUE(QFileInfo(dir + "/link.png").isSymLink()) << "the link stays a link";
  EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::NoDotAndDotDot | QDir::System).size(), 4)
      << QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).join(' ').toStdString();
}

}  // namespace

int main(int argc, char** argv) {
  QTemporaryDir root;
  if (!root.isValid()) return 2;
  g_root = root.path();
  qputenv("XDG_CONFIG_HOME", root.path().toUtf8());
  QApplication app(argc, argv);
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
