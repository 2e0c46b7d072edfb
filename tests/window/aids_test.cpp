// The operator aids in the window, used the way the operator uses them: the
// lines of a real answer picked in the response view and read in the
// inspector, the session statistics and their reset, the request preview
// following typed fields, the poll interval typed, the log saved to a file.
#include <gtest/gtest.h>

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextBlock>
#include <string>
#include <utility>

#include "window_test_env.h"

using windowtest::Focused;
using windowtest::Retype;
using windowtest::Rig;
using windowtest::RunFor;
using windowtest::RunUntil;

namespace {

template <class W>
W* Aid(Rig& rig, const char* name) {
  W* w = rig.window->findChild<W*>(QLatin1String(name));
  EXPECT_NE(w, nullptr) << name;
  return w;
}

// Clicks line `line` of the response view.
void ClickLine(Rig& rig, int line) {
  auto* view = rig.Widget<QPlainTextEdit>(rig.panel->txtResponse);
  const QRect r = view->cursorRect(QTextCursor(view->document()->findBlockByNumber(line)));
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(r.left() + 24, r.center().y()));
}

// The inspector's bytes and value for a format, as shown.
std::pair<std::string, std::string> Shown(const QTableWidget* t, const std::string& format) {
  for (int r = 0; r < t->rowCount(); ++r)
    if (t->item(r, 0)->text().toStdString() == format)
      return {t->item(r, 1)->text().toStdString(), t->item(r, 2)->text().toStdString()};
  ADD_FAILURE() << "no row " << format;
  return {};
}

// Clicks Send and waits for the answer to be shown.
bool SendAndWait(Rig& rig) {
  frmMain& p = *rig.panel;
  QTest::mouseClick(rig.Widget(p.cmdSend), Qt::LeftButton);
  const bool answered = RunUntil([&] { return p.txtResponse.Enabled() && !p.AwaitingResponse; }, 5000);
  rig.window->ApplyPending();
  return answered;
}

}  // namespace

TEST(WindowAids, InspectorAndStatisticsFollowRealAnswers) {
  windowtest::Answerer slave;
  slave.registers = {0x41AC, 0x0000, 0xFFFF, 0xFFFE, 0x04D2, 0x162E};
  Rig rig([&](frmMain& p) {
    p.cmbMode.SetListIndex(1);
    p.txtTcpHost.SetText("127.0.0.1");
    p.txtTcpPort.SetText(slave.Port());
    p.cmbCmd.SetListIndex(2);  // 03 Read HR
    p.txtAddr.SetText("0");
    p.txtQuantity.SetText("6");
    p.cmbFormat.SetListIndex(0);  // INT16: one register a line
  });
  ASSERT_TRUE(rig.shown);
  frmMain& p = *rig.panel;
  auto* inspector = Aid<QTableWidget>(rig, "inspector");
  auto* address = Aid<QLabel>(rig, "inspectorAddress");
  auto* stats = Aid<QLabel>(rig, "sessionStats");
  auto* preview = Aid<QLineEdit>(rig, "requestPreview");
  const QString previewBefore = preview->text();

  ASSERT_TRUE(SendAndWait(rig)) << p.txtLog.Text();
  ASSERT_EQ(rig.Widget<QPlainTextEdit>(p.txtResponse)->document()->blockCount(), 6);
  EXPECT_EQ(stats->text().toStdString(), p.StatsText());
  EXPECT_TRUE(stats->text().startsWith(QStringLiteral("Sent 1 \u00B7 OK 1 \u00B7"))) << stats->text().toStdString();
  // The transaction identifier was used: the preview shows the next one.
  EXPECT_NE(preview->text(), previewBefore);
  EXPECT_EQ(preview->text().toStdString(), p.PreviewRequest());
  // Nothing picked yet: names without values.
  EXPECT_EQ(Shown(inspector, "INT16"), std::make_pair(std::string(), std::string()));

  struct Case {
    int line;
    bool byKey;  // moved to with the Down key, else clicked
    const char* format;
    const char* bytes;
    const char* value;
  };
  const Case cases[] = {
      {0, false, "INT16", "41 AC", "16812"},
      {0, false, "FLOAT_ABCD", "41 AC 00 00", "21.5"},
      {2, false, "INT16", "FF FF", "-1"},
      {2, false, "UINT16", "FF FF", "65535"},
      {2, false, "INT32_CDAB", "FF FF FF FE", "-65537"},
      {5, true, "UINT32_ABCD", "16 2E -- --", "\u2014"},  // the last register has no next one
  };
  auto* view = rig.Widget<QPlainTextEdit>(p.txtResponse);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.line) + " " + c.format);
    if (c.byKey) {
      for (int i = 0; i < 8 && view->textCursor().blockNumber() < c.line; ++i) QTest::keyClick(view, Qt::Key_Down);
    } else {
      ClickLine(rig, c.line);
    }
    EXPECT_EQ(Shown(inspector, c.format), std::make_pair(std::string(c.bytes), std::string(c.value)));
    EXPECT_TRUE(address->text().startsWith(QStringLiteral("Address %1 ").arg(c.line))) << address->text().toStdString();
  }

  // A new answer is read on the line picked, without picking it again.
  slave.registers[5] = 7;
  ASSERT_TRUE(SendAndWait(rig));
  EXPECT_EQ(Shown(inspector, "INT16"), std::make_pair(std::string("00 07"), std::string("7")));
  EXPECT_TRUE(stats->text().startsWith(QStringLiteral("Sent 2 \u00B7 OK 2 \u00B7"))) << stats->text().toStdString();
  ClickLine(rig, 0);
  windowtest::Shoot(*rig.window, "window-extras");

  QTest::mouseClick(Aid<QPushButton>(rig, "resetStats"), Qt::LeftButton);
  EXPECT_TRUE(stats->text().startsWith(QStringLiteral("Sent 0 \u00B7 OK 0 \u00B7"))) << stats->text().toStdString();

  // A write's line shows no register.
  p.cmbCmd.SetListIndex(5);  // 06 Write Sngl HR
  p.txtValue.SetText("9");
  ASSERT_TRUE(SendAndWait(rig));
  ASSERT_EQ(p.txtResponse.Text(), "HR 00000 <- 9");
  ClickLine(rig, 0);
  for (const char* format : {"INT16", "FLOAT_ABCD"})
    EXPECT_EQ(Shown(inspector, format), std::make_pair(std::string(), std::string())) << format;
  EXPECT_EQ(address->text(), QStringLiteral("No register on this line"));
}

TEST(WindowAids, PreviewFollowsTheTypedRequest) {
  Rig rig([](frmMain& p) {
    p.cmbMode.SetListIndex(0);  // RTU: no transaction identifier in the way
    p.cmbCmd.SetListIndex(2);
    p.txtUnitID.SetText("1");
    p.txtAddr.SetText("0");
    p.txtQuantity.SetText("1");
  });
  ASSERT_TRUE(rig.shown);
  frmMain& p = *rig.panel;
  auto* preview = Aid<QLineEdit>(rig, "requestPreview");
  EXPECT_EQ(preview->text(), QStringLiteral("01 03 00 00 00 01 84 0A"));
  const QColor bytesColor = preview->palette().color(QPalette::Text);

  struct Case {
    const Field* field;
    const char* typed;
    const char* shownStart;
    bool refused;
  };
  const Case cases[] = {
      {&p.txtAddr, "10", "01 03 00 0A 00 01 ", false},
      {&p.txtUnitID, "17", "11 03 00 0A 00 01 ", false},
      {&p.txtUnitID, "300", "Invalid slave address", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    Retype(Focused(rig, *c.field), c.typed);
    EXPECT_TRUE(preview->text().startsWith(QLatin1String(c.shownStart))) << preview->text().toStdString();
    EXPECT_EQ(preview->text().toStdString(), p.PreviewRequest());
    EXPECT_EQ(preview->palette().color(QPalette::Text) != bytesColor, c.refused);
  }
}

TEST(WindowAids, PollIntervalIsTypedCheckedAndTaken) {
  Rig rig;
  ASSERT_TRUE(rig.shown);
  frmMain& p = *rig.panel;
  struct Case {
    const char* typed;
    const char* text;  // after the key filter
    bool leaves;       // the value check lets the focus go
    int interval;
  };
  const Case cases[] = {
      {"2500", "2500", true, 2500},
      {"5x0", "50", false, 2500},
      {"65535", "65535", true, 65535},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    QLineEdit* poll = Focused(rig, p.txtPollInterval);
    const int beeps = rig.Beeps();
    Retype(poll, c.typed);
    EXPECT_EQ(p.txtPollInterval.Text(), c.text);
    QTest::keyClick(poll, Qt::Key_Tab);
    RunFor(100);
    EXPECT_EQ(poll->hasFocus(), !c.leaves);
    EXPECT_EQ(p.tmrAuto.Interval(), c.interval);
    // One beep for a refused key, one for a refused value.
    EXPECT_EQ(rig.Beeps() - beeps, (c.leaves ? 0 : 1) + (std::string(c.typed) != c.text ? 1 : 0));
  }
}

TEST(WindowAids, SaveLogWritesTheKindChosen) {
  Rig rig;
  frmMain& p = *rig.panel;
  p.LogRequest(Frame{1, 3, 0, 0, 0, 1, 0x84, 0x0A});
  p.LogError("Protocol Error", "Wrong CRC, \"quoted\"", false, 2, 6);
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  struct Case {
    const char* name;
    bool csvFilter;
    bool csv;
  };
  // The name's suffix wins over the dialog's filter.
  const Case cases[] = {{"a.txt", true, false}, {"b.CSV", false, true}, {"c", true, true}, {"d.log", false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const QString path = dir.filePath(QLatin1String(c.name));
    rig.window->SaveLogAs(path, c.csvFilter);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().toStdString(), c.csv ? p.LogAsCsv() : p.txtLog.Text());
  }
  // A folder that is not there: nothing written, the failure in the log.
  const QString missing = dir.filePath(QStringLiteral("missing/e.txt"));
  rig.window->SaveLogAs(missing, false);
  EXPECT_FALSE(QFile::exists(missing));
  EXPECT_TRUE(
      rig.Widget<QPlainTextEdit>(p.txtLog)->toPlainText().contains(QStringLiteral("Failed to save the log to")));
}
