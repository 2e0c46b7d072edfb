// The window on a real panel: every field shown where and as the model says,
// the log pane following the model change by change, the key filters and
// value checks routed to the model, the Auto buttons acting on a mouse press
// only. Writes screenshots for a look. The operator aids: aids_test.cpp; the
// close and the restart: restart_test.cpp.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <cmath>
#include <vector>

#include "qt/window/text_map.h"
#include "window_test_env.h"

using windowtest::Focused;
using windowtest::Retype;
using windowtest::Rig;
using windowtest::RunFor;
using windowtest::RunUntil;

namespace {

int Px(int twips) { return static_cast<int>(std::lround(twips / 15.0)); }

// Columns line up: narrow and wide glyphs take the same room.
bool FixedPitch(const QFont& f) {
  const QFontMetrics fm(f);
  return fm.horizontalAdvance(QStringLiteral("iiii")) == fm.horizontalAdvance(QStringLiteral("WWWW")) &&
         fm.horizontalAdvance(QStringLiteral("0000")) == fm.horizontalAdvance(QStringLiteral("...."));
}

std::vector<Field*> AllFields(frmMain& p) {
  return {&p.lblProtocol,     &p.cmbMode,          &p.pctHEXOpt,   &p.optFORM,         &p.optHEX,
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
          &p.Label8,          &p.lblScada};
}

bool EnabledInModel(const Field& f) {
  for (const Field* x = &f; x != nullptr; x = x->Parent())
    if (!x->Enabled()) return false;
  return true;
}

// Every field: a widget, visible exactly when the model shows it, at the
// model's place, enabled as the model says, with the model's texts.
void ExpectWindowMirrorsPanel(Rig& rig) {
  frmMain& p = *rig.panel;
  for (Field* f : AllFields(p)) {
    SCOPED_TRACE(f->Name());
    QWidget* w = rig.window->WidgetOf(*f);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->isVisible(), f->Shown());
    EXPECT_EQ(w->geometry(), QRect(Px(f->Left()), Px(f->Top()), Px(f->Width()), Px(f->Height())));
    EXPECT_EQ(w->isEnabled(), EnabledInModel(*f));
    EXPECT_EQ(w->toolTip().toStdString(), f->ToolTipText());
    if (auto* c = dynamic_cast<CaptionField*>(f)) {
      if (auto* l = qobject_cast<QLabel*>(w)) {
        EXPECT_EQ(l->text().toStdString(), c->Caption());
      }
      if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        EXPECT_EQ(b->text().toStdString(), c->Caption());
      }
    }
    if (auto* o = dynamic_cast<OptionButton*>(f)) {
      EXPECT_EQ(qobject_cast<QRadioButton*>(w)->isChecked(), o->Value());
    }
    if (auto* t = dynamic_cast<TextField*>(f)) {
      if (auto* le = qobject_cast<QLineEdit*>(w)) {
        EXPECT_EQ(le->text().toStdString(), t->Text());
      }
      if (auto* pe = qobject_cast<QPlainTextEdit*>(w)) {
        EXPECT_EQ(qt::FromWidgetText(pe->toPlainText()), t->Text());
      }
    }
    if (auto* l = dynamic_cast<ListField*>(f)) {
      auto* cb = qobject_cast<QComboBox*>(w);
      ASSERT_NE(cb, nullptr);
      ASSERT_EQ(cb->count(), l->ListCount());
      for (int i = 0; i < l->ListCount(); ++i) EXPECT_EQ(cb->itemText(i).toStdString(), l->List(i));
      EXPECT_EQ(cb->currentIndex(), l->ListIndex());
      EXPECT_EQ(cb->currentText().toStdString(), l->Text());
    }
  }
  EXPECT_EQ(rig.window->windowTitle().toStdString(), p.Caption());
  // The panel's area, with the aids beside and below it.
  EXPECT_TRUE(rig.window->rect().contains(QRect(0, 0, Px(p.Width()), Px(p.Height()))));
  EXPECT_EQ(rig.window->minimumSize(), rig.window->maximumSize());
}

// Nothing visible is cut off or covered: each visible widget lies inside its
// group, no two visible widgets of one group overlap (the raw request input
// lies over the form fields by design, and covers nothing else), and texts
// fit their widgets.
void ExpectTidyLayout(Rig& rig) {
  frmMain& p = *rig.panel;
  QWidget* hex = rig.window->WidgetOf(p.pctHEX);
  QWidget* form = rig.window->WidgetOf(p.pctForm);
  std::vector<QWidget*> shown;
  for (Field* f : AllFields(p))
    if (rig.window->WidgetOf(*f)->isVisible()) shown.push_back(rig.window->WidgetOf(*f));
  for (QWidget* aid : windowtest::Aids(*rig.window)) {
    ASSERT_NE(aid, nullptr);
    EXPECT_TRUE(aid->isVisible()) << aid->objectName().toStdString();
    shown.push_back(aid);
  }
  for (QWidget* a : shown) {
    SCOPED_TRACE(a->objectName().toStdString());
    const QWidget* parent = a->parentWidget();
    EXPECT_TRUE(parent->rect().contains(a->geometry())) << "clipped by " << parent->objectName().toStdString();
    for (QWidget* b : shown) {
      if (a >= b || a->parentWidget() != b->parentWidget()) continue;
      const bool byDesign = (a == hex || b == hex) &&
                            (a == rig.window->WidgetOf(p.pctRequest) || b == rig.window->WidgetOf(p.pctRequest));
      if (!byDesign) {
        EXPECT_FALSE(a->geometry().intersects(b->geometry())) << "overlaps " << b->objectName().toStdString();
      }
    }
    if (hex->isVisible() && a != hex && a != form && !hex->isAncestorOf(a) && !form->isAncestorOf(a) &&
        a->parentWidget() != rig.window.get() && !a->isAncestorOf(hex)) {
      const QRect ra(a->mapTo(rig.window.get(), QPoint(0, 0)), a->size());
      EXPECT_FALSE(hex->geometry().intersects(ra)) << "covered by the raw request input";
    }
    const QFontMetrics fm = a->fontMetrics();
    if (auto* l = qobject_cast<QLabel*>(a)) {
      EXPECT_LE(fm.horizontalAdvance(l->text()), l->width());
      EXPECT_LE(fm.height(), l->height());
    }
    if (auto* b = qobject_cast<QAbstractButton*>(a)) {
      const int indicator = qobject_cast<QRadioButton*>(a) ? 24 : 8;
      EXPECT_LE(fm.horizontalAdvance(b->text()) + indicator, b->width());
    }
    if (auto* c = qobject_cast<QComboBox*>(a)) {
      EXPECT_GE(c->height(), c->minimumSizeHint().height());
      for (int i = 0; i < c->count(); ++i)
        EXPECT_LE(fm.horizontalAdvance(c->itemText(i)) + 28, c->width()) << c->itemText(i).toStdString();
    }
    if (auto* e = qobject_cast<QLineEdit*>(a)) {
      EXPECT_GE(e->height(), e->minimumSizeHint().height());
    }
  }
}

// Puts a panel in TCP mode against a closed loopback port, so that a send
// fails fast and touches no device.
void TcpToNowhere(frmMain& p) {
  p.cmbMode.SetListIndex(1);
  p.txtTcpHost.SetText("127.0.0.1");
  p.txtTcpPort.SetText("1");
}

}  // namespace

TEST(Window, EveryFieldHasItsWidgetInFormAndHexViewAndBothModes) {
  Rig rig;
  ASSERT_TRUE(rig.shown);
  {
    SCOPED_TRACE("start-up");
    ASSERT_EQ(rig.panel->cmbMode.Text(), "RTU");
    ExpectWindowMirrorsPanel(rig);
    ExpectTidyLayout(rig);
  }
  windowtest::Shoot(*rig.window, "window-rtu");

  frmMain& p = *rig.panel;
  TcpToNowhere(p);
  p.cmbCmd.SetListIndex(5);
  p.optHEX.SetValue(true);
  p.txtHEX.SetText("01 03 00 00 00 0A");
  rig.window->ApplyPending();
  {
    SCOPED_TRACE("TCP, HEX view");
    EXPECT_TRUE(p.pctTCP.Shown());
    EXPECT_FALSE(p.pctRTU.Shown());
    ExpectWindowMirrorsPanel(rig);
    ExpectTidyLayout(rig);
  }
  windowtest::Shoot(*rig.window, "window-hex");
  p.optFORM.SetValue(true);
  for (int i = 0; i < 3; ++i) p.AddResponseLine("HR 0000" + std::to_string(i) + ": " + std::to_string(i * 1111));
  p.lblDT.SetCaption("37 ms");
  p.LogRequest(Frame{0, 1, 0, 0, 0, 6, 1, 3, 0, 0, 0, 3});
  p.LogResponse(Frame{0, 1, 0, 0, 0, 9, 1, 3, 6, 0, 0, 4, 0x57, 8, 0xAE});
  p.LogError("Protocol Error", "Wrong byte count", false, 1, 8);
  rig.window->ApplyPending();
  {
    SCOPED_TRACE("TCP, form view, a response");
    ExpectWindowMirrorsPanel(rig);
    ExpectTidyLayout(rig);
  }
  windowtest::Shoot(*rig.window, "window-tcp");
}

TEST(Window, FieldChangesFromTheModelReachTheWidgets) {
  Rig rig;
  frmMain& p = *rig.panel;
  p.lblDT.SetForeColor(kColorGrayText);
  EXPECT_EQ(rig.Widget<QLabel>(p.lblDT)->palette().color(QPalette::WindowText),
            QApplication::palette().color(QPalette::Disabled, QPalette::WindowText));
  p.lblDT.SetForeColor(kColorButtonText);
  EXPECT_EQ(rig.Widget<QLabel>(p.lblDT)->palette().color(QPalette::WindowText),
            QApplication::palette().color(QPalette::ButtonText));
  EXPECT_EQ(rig.Widget<QLabel>(p.Label8)->palette().color(QPalette::WindowText), QColor(95, 97, 103));
  EXPECT_EQ(rig.Widget<QLabel>(p.Label8)->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(rig.Widget<QLabel>(p.lblScada)->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(rig.Widget(p.imgLogo)->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_NE(rig.Widget(p.lblUnitID)->cursor().shape(), Qt::PointingHandCursor);
  // The links: a click on the logo, the test server label, the maker's label.
  for (const Field* link : std::vector<const Field*>{&p.imgLogo, &p.Label8, &p.lblScada})
    QTest::mouseClick(rig.window->WidgetOf(*link), Qt::LeftButton);
  EXPECT_EQ(rig.desktop->opened, (std::vector<std::string>{kSiteUrl, kTestServerUrl, kSiteUrl}));

  // A view rebuilt line by line, greyed while a request is out.
  p.txtResponse.SetEnabled(false);
  EXPECT_FALSE(rig.Widget(p.txtResponse)->isEnabled());
  p.txtResponse.SetText("");
  p.txtResponse.SetEnabled(true);
  for (int i = 0; i < 200; ++i) p.AddResponseLine("CL " + std::to_string(i) + ": 1");
  RunFor(20);
  EXPECT_EQ(qt::FromWidgetText(rig.Widget<QPlainTextEdit>(p.txtResponse)->toPlainText()), p.txtResponse.Text());

  // Fonts: fixed pitch for the inputs, lists and panes; bold headings.
  for (const Field* f : std::vector<const Field*>{&p.txtAddr, &p.cmbCmd, &p.txtResponse, &p.txtLog, &p.txtHEX})
    EXPECT_TRUE(FixedPitch(rig.window->WidgetOf(*f)->font())) << f->Name();
  for (const Field* f : std::vector<const Field*>{&p.lblProtocol, &p.Label10, &p.lblResponse})
    EXPECT_TRUE(rig.window->WidgetOf(*f)->font().bold()) << f->Name();
  EXPECT_FALSE(rig.Widget(p.lblUnitID)->font().bold());

  // The window's position is the panel's, both ways (it is stored at close).
  rig.window->move(120, 80);
  EXPECT_TRUE(RunUntil([&] { return p.Left() == 120 * 15 && p.Top() == 80 * 15; }))
      << p.Left() << "," << p.Top() << " window " << rig.window->pos().x() << "," << rig.window->pos().y();
  p.SetLeft(200 * 15);
  EXPECT_TRUE(RunUntil([&] { return rig.window->pos() == QPoint(200, 80); }));
  EXPECT_EQ(p.Left(), 200 * 15);
}

TEST(Window, OptionsForwardTheChoiceAndStayChosen) {
  Rig rig;
  frmMain& p = *rig.panel;
  auto* hex = rig.Widget<QRadioButton>(p.optHEX);
  auto* form = rig.Widget<QRadioButton>(p.optFORM);
  QTest::mouseClick(hex, Qt::LeftButton);
  EXPECT_TRUE(p.optHEX.Value());
  EXPECT_FALSE(p.optFORM.Value());
  EXPECT_TRUE(hex->isChecked());
  EXPECT_FALSE(form->isChecked());
  // Clicking the chosen option again leaves it chosen.
  QTest::mouseClick(hex, Qt::LeftButton);
  EXPECT_TRUE(p.optHEX.Value());
  EXPECT_TRUE(hex->isChecked());
  EXPECT_EQ(rig.Widget(p.pctHEX)->isVisible(), p.pctHEX.Shown());
}

TEST(Window, TabVisitsTheFieldsInWorkingOrder) {
  Rig rig(TcpToNowhere);
  ASSERT_TRUE(rig.shown);
  frmMain& p = *rig.panel;
  ASSERT_FALSE(p.cmbFormat.Enabled()) << "a bit read at start-up: the format list is skipped";
  std::vector<QWidget*> want;
  for (const Field* f : std::vector<const Field*>{&p.cmbMode, &p.txtTcpHost, &p.txtTcpPort, &p.txtTcpTimeout,
                                                  &p.cmdTcpConnect, &p.cmdTcpDisconnect, &p.optFORM, &p.optHEX,
                                                  &p.txtUnitID, &p.cmbCmd, &p.txtAddr, &p.txtQuantity, &p.cmdSend,
                                                  &p.cmdAuto1, &p.txtPollInterval, &p.txtResponse, &p.txtLog})
    want.push_back(rig.window->WidgetOf(*f));
  // The aids' buttons close the round.
  for (const char* name : {"saveLog", "resetStats"}) want.push_back(rig.window->findChild<QWidget*>(name));
  want.push_back(want.front());
  want.front()->setFocus(Qt::TabFocusReason);
  ASSERT_TRUE(RunUntil([&] { return want.front()->hasFocus(); }));
  for (size_t i = 1; i < want.size(); ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    RunFor(5);
    ASSERT_EQ(QApplication::focusWidget(), want[i])
        << "after " << want[i - 1]->objectName().toStdString() << " came "
        << (QApplication::focusWidget() ? QApplication::focusWidget()->objectName().toStdString() : "nothing");
  }
}

TEST(Window, LogShowsTheStartRowsInItsOwnLook) {
  Rig rig;
  frmMain& p = *rig.panel;
  auto* log = rig.Widget<QPlainTextEdit>(p.txtLog);
  ASSERT_NE(log, nullptr);
  QTextDocument* doc = log->document();
  ASSERT_GE(doc->blockCount(), 3);
  EXPECT_EQ(doc->findBlockByNumber(0).text(), QString());
  const QString run = doc->findBlockByNumber(1).text();
  EXPECT_TRUE(run.endsWith(QStringLiteral("  Run Tarvelo"))) << run.toStdString();
  EXPECT_EQ(run.size(), 22 + 2 + 11);
  EXPECT_EQ(doc->findBlockByNumber(1).begin().fragment().charFormat().foreground().color(), QColor(161, 163, 167));
  EXPECT_EQ(log->palette().color(QPalette::Base), QColor(21, 25, 34));
  EXPECT_TRUE(FixedPitch(log->font()));
  EXPECT_NEAR(log->font().pointSizeF(), 9.75, 0.01);
  EXPECT_EQ(log->lineWrapMode(), QPlainTextEdit::NoWrap);
  EXPECT_TRUE(log->isReadOnly());
}

namespace {
// The widget's colour of each character against the model's, row by row
// (the rows written here are ASCII: one byte is one character).
void ExpectLogColoursMatch(Rig& rig) {
  const RichTextField& log = rig.panel->txtLog;
  auto* w = rig.Widget<QPlainTextEdit>(log);
  ASSERT_EQ(qt::FromWidgetText(w->toPlainText()), log.Text());
  const std::string& text = log.Text();
  QTextCursor cur(w->document());
  int mismatches = 0;
  size_t rowStart = 0;
  for (QTextBlock block = w->document()->begin(); block.isValid() && rowStart < text.size(); block = block.next()) {
    const size_t rowEnd = text.find("\r\n", rowStart);
    ASSERT_NE(rowEnd, std::string::npos);
    ASSERT_EQ(block.text().toStdString(), text.substr(rowStart, rowEnd - rowStart));
    for (size_t k = rowStart; k < rowEnd; ++k) {
      cur.setPosition(block.position() + static_cast<int>(k - rowStart) + 1);  // format of the character before
      const uint32_t c = log.ColorAt(k);
      const QColor want(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                        static_cast<int>((c >> 16) & 0xFF));
      if (cur.charFormat().foreground().color() != want && ++mismatches < 5) {
        ADD_FAILURE() << "colour of character " << k << " ('" << text[k] << "')";
      }
    }
    rowStart = rowEnd + 2;
  }
  EXPECT_EQ(mismatches, 0);
}
}  // namespace

TEST(Window, LogFollowsAppendsTrimsAndHighlightsIncrementally) {
  Rig rig;
  frmMain& p = *rig.panel;
  auto* log = rig.Widget<QPlainTextEdit>(p.txtLog);
  struct Edit {
    int pos, removed, added;
  };
  std::vector<Edit> edits;
  QObject::connect(log->document(), &QTextDocument::contentsChange, [&](int pos, int removed, int added) {
    edits.push_back({pos, removed, added});
  });

  // An append changes only the end of the pane.
  int end = log->document()->characterCount() - 1;
  p.Log("Connected to 127.0.0.1:502", LogColorInfo);
  ASSERT_FALSE(edits.empty());
  for (const Edit& e : edits) {
    EXPECT_EQ(e.removed, 0);
    EXPECT_GE(e.pos, end);
  }
  // A 20-byte response with bytes 15 and 16 painted: across the row break.
  Frame rx;
  for (uint8_t i = 0; i < 20; ++i) rx.push_back(static_cast<uint8_t>(0xA0 + i));
  p.LogResponse(rx);
  edits.clear();
  p.LogError("Protocol Error", "Wrong CRC", false, 2, 15);
  for (const Edit& e : edits) EXPECT_LE(e.removed, 80) << "a recolour or an append, not a redraw";
  ExpectLogColoursMatch(rig);
  EXPECT_TRUE(log->toPlainText().contains(QStringLiteral("Protocol Error: Wrong CRC")));

  // Past the entry limit every new entry takes rows off the top, in place.
  edits.clear();
  for (int i = 0; i < 1005; ++i) p.Log("entry " + std::to_string(i), i % 7 == 0 ? LogColorError : LogColorInfo);
  bool trimmedAtTop = false;
  for (const Edit& e : edits) {
    EXPECT_LE(e.removed, 300);  // the oldest entry, of one or two rows
    trimmedAtTop = trimmedAtTop || (e.pos == 0 && e.removed > 0);
  }
  EXPECT_TRUE(trimmedAtTop);
  ExpectLogColoursMatch(rig);
  RunFor(50);
  windowtest::Shoot(*rig.window, "window-log");
  // The pane keeps no history of the changes it followed.
  EXPECT_EQ(log->document()->availableUndoSteps(), 0);
  // The newest row is in view.
  EXPECT_EQ(log->verticalScrollBar()->value(), log->verticalScrollBar()->maximum());
}

TEST(Window, KeyFilterOfTheAddressRefusesReplacesAndAccepts) {
  Rig rig;
  ASSERT_TRUE(rig.shown);
  frmMain& p = *rig.panel;
  QLineEdit* addr = Focused(rig, p.txtAddr);
  ASSERT_TRUE(addr->hasFocus());
  addr->selectAll();
  QTest::keyClick(addr, Qt::Key_Backspace);  // Backspace passes every filter
  EXPECT_EQ(addr->text(), QString());
  int beeps = rig.Beeps();

  QTest::keyClick(addr, 'X');
  EXPECT_EQ(addr->text(), QString());
  EXPECT_EQ(rig.Beeps(), beeps + 1);
  QTest::keyClick(addr, 'x');
  EXPECT_EQ(addr->text(), QStringLiteral("x"));
  QTest::keyClick(addr, 'a');
  EXPECT_EQ(addr->text(), QStringLiteral("xA"));
  QTest::keyClick(addr, ' ');
  EXPECT_EQ(addr->text(), QStringLiteral("xA"));
  EXPECT_EQ(rig.Beeps(), beeps + 2);
  EXPECT_EQ(p.txtAddr.Text(), "xA");

  // Pasting: filtered character by character, one beep for the lot.
  QApplication::clipboard()->setText(QStringLiteral("1Xz2 3"));
  Retype(addr, "");
  QTest::keyClick(addr, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(addr->text(), QStringLiteral("123"));
  EXPECT_EQ(p.txtAddr.Text(), "123");
  EXPECT_EQ(rig.Beeps(), beeps + 3);
  QApplication::clipboard()->setText(QStringLiteral("ff"));
  QTest::keyClick(addr, Qt::Key_Insert, Qt::ShiftModifier);
  EXPECT_EQ(addr->text(), QStringLiteral("123FF"));
  EXPECT_EQ(rig.Beeps(), beeps + 3);
  if (QApplication::clipboard()->supportsSelection()) {  // the middle button pastes the selection
    QApplication::clipboard()->setText(QStringLiteral("9z9"), QClipboard::Selection);
    addr->end(false);
    QTest::mouseClick(addr, Qt::MiddleButton, Qt::NoModifier, QPoint(addr->width() - 4, addr->height() / 2));
    EXPECT_EQ(addr->text(), QStringLiteral("123FF99"));
    EXPECT_EQ(rig.Beeps(), beeps + 4);
  }

  // The raw request input pastes through its own filter.
  p.optHEX.SetValue(true);
  auto* hex = rig.Widget<QPlainTextEdit>(p.txtHEX);
  hex->setFocus();
  ASSERT_TRUE(RunUntil([&] { return hex->hasFocus(); }));
  hex->clear();
  beeps = rig.Beeps();
  QApplication::clipboard()->setText(QStringLiteral("0a 0b\r\nzz"));
  QTest::keyClick(hex, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(hex->toPlainText(), QStringLiteral("0A 0B"));
  EXPECT_EQ(p.txtHEX.Text(), "0A 0B");
  EXPECT_EQ(rig.Beeps(), beeps + 1);
  QTest::keyClick(hex, Qt::Key_Return);  // Enter is no hex digit
  EXPECT_EQ(hex->toPlainText(), QStringLiteral("0A 0B"));
  EXPECT_EQ(rig.Beeps(), beeps + 2);
}

TEST(Window, RefusedValueKeepsTheFocusAndTheClick) {
  Rig rig(TcpToNowhere);
  ASSERT_TRUE(rig.shown);
  frmMain& p = *rig.panel;
  QLineEdit* addr = Focused(rig, p.txtAddr);
  Retype(addr, "65536");
  ASSERT_EQ(p.txtAddr.Text(), "65536");
  int beeps = rig.Beeps();
  QTest::keyClick(addr, Qt::Key_Tab);
  RunFor(100);
  EXPECT_TRUE(addr->hasFocus());
  EXPECT_EQ(QApplication::focusWidget(), addr);
  EXPECT_EQ(rig.Beeps(), beeps + 1);

  // A click on Send does not get past the refused field.
  const size_t logLength = p.txtLog.Length();
  QTest::mouseClick(rig.Widget(p.cmdSend), Qt::LeftButton);
  RunFor(300);
  EXPECT_EQ(QApplication::focusWidget(), addr);
  EXPECT_EQ(p.txtLog.Length(), logLength) << "Send ran: " << p.txtLog.Text();

  // A value in range lets the focus go.
  Retype(addr, "100");
  beeps = rig.Beeps();
  QTest::keyClick(addr, Qt::Key_Tab);
  RunFor(100);
  EXPECT_FALSE(addr->hasFocus());
  EXPECT_EQ(rig.Beeps(), beeps);
}

TEST(Window, AutoButtonsActOnAMousePressOnly) {
  Rig rig(TcpToNowhere);
  ASSERT_TRUE(rig.shown);
  frmMain& p = *rig.panel;
  auto* start = rig.Widget<QPushButton>(p.cmdAuto1);
  auto* stop = rig.Widget<QPushButton>(p.cmdAuto0);
  ASSERT_TRUE(start->isVisible());
  ASSERT_FALSE(stop->isVisible());

  start->setFocus();
  ASSERT_TRUE(RunUntil([&] { return start->hasFocus(); }));
  QTest::keyClick(start, Qt::Key_Space);
  QTest::keyClick(start, Qt::Key_Return);
  EXPECT_FALSE(p.AutoPolling);

  QTest::mousePress(start, Qt::LeftButton);
  EXPECT_TRUE(p.AutoPolling);
  EXPECT_TRUE(stop->isVisible());
  EXPECT_FALSE(start->isVisible());
  EXPECT_EQ(stop->geometry().translated(stop->parentWidget()->pos()), start->geometry());
  QTest::mouseRelease(stop, Qt::LeftButton);
  EXPECT_TRUE(p.AutoPolling) << "the release does nothing";
  EXPECT_TRUE(RunUntil([&] { return stop->hasFocus(); }));
  windowtest::Shoot(*rig.window, "window-polling");

  QTest::keyClick(stop, Qt::Key_Space);
  QTest::keyClick(stop, Qt::Key_Enter);
  EXPECT_TRUE(p.AutoPolling);
  QTest::mousePress(stop, Qt::LeftButton);
  EXPECT_FALSE(p.AutoPolling);
  EXPECT_TRUE(start->isVisible());
  QTest::mouseRelease(start, Qt::LeftButton);
}

TEST(Window, ClipboardKeysOfTheLogAreTheModelsAlone) {
  Rig rig;
  ASSERT_TRUE(rig.shown);
  frmMain& p = *rig.panel;
  p.Log("second row", LogColorInfo);
  auto* log = rig.Widget<QPlainTextEdit>(p.txtLog);
  log->setFocus();
  ASSERT_TRUE(RunUntil([&] { return log->hasFocus(); }));

  QTest::keyClick(log, Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(p.txtLog.SelStart(), 0);
  EXPECT_EQ(p.txtLog.SelLength(), static_cast<int>(p.txtLog.Length()));
  EXPECT_EQ(log->textCursor().selectionStart(), 0);
  EXPECT_EQ(log->textCursor().selectionEnd(), log->document()->characterCount() - 1);

  // The model copies with CR LF line ends; the widget's own copy would not.
  QApplication::clipboard()->clear();
  QTest::keyClick(log, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text().toStdString(), p.txtLog.Text());

  // A selection made in the widget is the one the model copies.
  QTextCursor cur = log->textCursor();
  const int rowStart = log->document()->findBlockByNumber(1).position();
  cur.setPosition(rowStart);
  cur.setPosition(rowStart + 8, QTextCursor::KeepAnchor);
  log->setTextCursor(cur);
  QTest::keyClick(log, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), log->document()->findBlockByNumber(1).text().left(8));
  const std::string before = p.txtLog.Text();
  QTest::keyClick(log, Qt::Key_X, Qt::ControlModifier);
  QTest::keyClick(log, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(p.txtLog.Text(), before) << "read-only pane";

  // Ctrl+A selects the whole response view, in the model and on screen.
  p.txtResponse.SetText("HR 00000: 1\r\nHR 00001: 2");
  auto* response = rig.Widget<QPlainTextEdit>(p.txtResponse);
  response->setFocus();
  ASSERT_TRUE(RunUntil([&] { return response->hasFocus(); }));
  QTest::keyClick(response, Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(p.txtResponse.SelLength(), static_cast<int>(p.txtResponse.Text().size()));
  EXPECT_EQ(response->textCursor().selectedText().size(), response->toPlainText().size());
}
