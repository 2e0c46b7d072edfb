// Key filters, value checks and clipboard keys of the input fields.
#include <gtest/gtest.h>

#include <string>

#include "fakes/fake_platform.h"
#include "panel/frmMain.h"

namespace {

struct Panel {
  Panel() { f.Form_Load(); }
  fakes::FakePlatform fp;
  frmMain f{fp.Bundle()};
};

using KeyPress = void (frmMain::*)(int16_t&);
using Validate = void (frmMain::*)(bool&);

TEST(PanelInput, KeyFilters) {
  const std::string control = "\b\x03\x16\x18";  // Backspace, Ctrl+C, Ctrl+V, Ctrl+X
  const std::string digits = "0123456789" + control;
  const std::string decimal = "0123456789.,-" + control;
  struct Case {
    const char* field;
    KeyPress handler;
    std::string passed;
    std::string dropped;  // with a beep each
    bool upperHex;        // a..f come out as A..F
  };
  const Case cases[] = {
      {"txtAddr", &frmMain::txtAddr_KeyPress, "0123456789ABCDEFabcdefx" + control, "XgG -.,\r\t", true},
      {"txtHEX", &frmMain::txtHEX_KeyPress, "0123456789abcdefABCDEF " + control, "xXgG-.\r\t", true},
      {"txtUnitID", &frmMain::txtUnitID_KeyPress, digits, "aA-., \r\t", false},
      {"txtQuantity", &frmMain::txtQuantity_KeyPress, digits, "aA-., \r\t", false},
      {"txtTcpPort", &frmMain::txtTcpPort_KeyPress, digits, "aA-., \r\t", false},
      {"txtTcpTimeout", &frmMain::txtTcpTimeout_KeyPress, digits, "aA-., \r\t", false},
      {"txtValue", &frmMain::txtValue_KeyPress, decimal, "aeE+ \r\t", false},
      {"txtRtuTimeout", &frmMain::txtRtuTimeout_KeyPress, decimal, "aeE+ \r\t", false},
  };
  Panel p;
  auto type = [&](KeyPress handler, int16_t typed, int16_t expected, int beeps) {
    SCOPED_TRACE("typed " + std::to_string(typed));
    const int before = p.fp.beeper->count;
    int16_t key = typed;
    (p.f.*handler)(key);
    EXPECT_EQ(key, expected);
    EXPECT_EQ(p.fp.beeper->count - before, beeps);
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    for (char ch : c.passed) {
      const bool upper = c.upperHex && ch >= 'a' && ch <= 'f';
      type(c.handler, ch, static_cast<int16_t>(upper ? ch - 'a' + 'A' : ch), 0);
    }
    for (char ch : c.dropped) type(c.handler, ch, 0, 1);
    // Codes outside plain ASCII never match a set.
    type(c.handler, 0xE4, 0, 1);
    type(c.handler, -200, 0, 1);
  }
}

TEST(PanelInput, ValueChecks) {
  struct Case {
    Validate handler;
    TextField frmMain::*field;
    const char* text;
    bool refused;
    int cmd = 0;  // the command list's index while the check runs
  };
  const Case cases[] = {
      {&frmMain::txtUnitID_Validate, &frmMain::txtUnitID, "0", true},
      {&frmMain::txtUnitID_Validate, &frmMain::txtUnitID, "248", true},
      {&frmMain::txtUnitID_Validate, &frmMain::txtUnitID, "300", true},
      {&frmMain::txtUnitID_Validate, &frmMain::txtUnitID, "257", true},  // not taken modulo 256
      {&frmMain::txtUnitID_Validate, &frmMain::txtUnitID, "1", false},
      {&frmMain::txtUnitID_Validate, &frmMain::txtUnitID, " 247\r\n", false},
      {&frmMain::txtUnitID_Validate, &frmMain::txtUnitID, "abc", true},
      {&frmMain::txtUnitID_Validate, &frmMain::txtUnitID, "", true},
      {&frmMain::txtAddr_Validate, &frmMain::txtAddr, "65536", true},
      {&frmMain::txtAddr_Validate, &frmMain::txtAddr, "65535", false},
      {&frmMain::txtAddr_Validate, &frmMain::txtAddr, "0", false},
      {&frmMain::txtAddr_Validate, &frmMain::txtAddr, "-1", true},
      {&frmMain::txtAddr_Validate, &frmMain::txtAddr, "0xFFFFF", false},
      {&frmMain::txtAddr_Validate, &frmMain::txtAddr, " 0x1f ", false},
      {&frmMain::txtAddr_Validate, &frmMain::txtAddr, "", true},
      {&frmMain::txtAddr_Validate, &frmMain::txtAddr, " \r\n", true},
      {&frmMain::txtAddr_Validate, &frmMain::txtAddr, "1F", true},
      {&frmMain::txtAddr_Validate, &frmMain::txtAddr, "ABC", true},
      {&frmMain::txtAddr_Validate, &frmMain::txtAddr, "0x", true},
      {&frmMain::txtAddr_Validate, &frmMain::txtAddr, "0X10", true},
      {&frmMain::txtAddr_Validate, &frmMain::txtAddr, "1E20", true},  // beyond Long: not read as 0
      {&frmMain::txtAddr_Validate, &frmMain::txtAddr, "1E3", true},  // exponent form is no address
      {&frmMain::txtQuantity_Validate, &frmMain::txtQuantity, "200", false, 0},
      {&frmMain::txtQuantity_Validate, &frmMain::txtQuantity, "200", false, 1},
      {&frmMain::txtQuantity_Validate, &frmMain::txtQuantity, "200", true, 2},
      {&frmMain::txtQuantity_Validate, &frmMain::txtQuantity, "127", false, 3},
      {&frmMain::txtQuantity_Validate, &frmMain::txtQuantity, "128", true, 6},
      {&frmMain::txtQuantity_Validate, &frmMain::txtQuantity, "1016", false, 1},
      {&frmMain::txtQuantity_Validate, &frmMain::txtQuantity, "1017", true, 0},
      {&frmMain::txtQuantity_Validate, &frmMain::txtQuantity, "0", true, 0},
      {&frmMain::txtQuantity_Validate, &frmMain::txtQuantity, "200", true, -1},  // no command
      {&frmMain::txtTcpPort_Validate, &frmMain::txtTcpPort, "0", true},
      {&frmMain::txtTcpPort_Validate, &frmMain::txtTcpPort, "1", false},
      {&frmMain::txtTcpPort_Validate, &frmMain::txtTcpPort, "65535", false},
      {&frmMain::txtTcpPort_Validate, &frmMain::txtTcpPort, "65536", true},
      {&frmMain::txtTcpTimeout_Validate, &frmMain::txtTcpTimeout, "1000", false},
      {&frmMain::txtTcpTimeout_Validate, &frmMain::txtTcpTimeout, "70000", true},
      {&frmMain::txtRtuTimeout_Validate, &frmMain::txtRtuTimeout, "-5", true},
      {&frmMain::txtRtuTimeout_Validate, &frmMain::txtRtuTimeout, "-", true},
      {&frmMain::txtRtuTimeout_Validate, &frmMain::txtRtuTimeout, "0.4", true},
      {&frmMain::txtRtuTimeout_Validate, &frmMain::txtRtuTimeout, "1.4", false},
      {&frmMain::txtRtuTimeout_Validate, &frmMain::txtRtuTimeout, "65535", false},
  };
  Panel p;
  for (const Case& c : cases) {
    TextField& field = p.f.*c.field;
    SCOPED_TRACE(field.Name() + " \"" + c.text + "\" command index " + std::to_string(c.cmd));
    p.f.cmbCmd.SetListIndex(c.cmd);
    field.SetText(c.text);
    const int beeps = p.fp.beeper->count;
    bool cancel = false;
    (p.f.*c.handler)(cancel);
    EXPECT_EQ(cancel, c.refused);
    EXPECT_EQ(p.fp.beeper->count - beeps, c.refused ? 1 : 0);
    EXPECT_EQ(field.Text(), c.text);  // never corrected
  }
}

constexpr int16_t kKeyA = 65, kKeyC = 67, kKeyV = 86, kKeyX = 88, kCtrl = 2;

TEST(PanelClipboard, CtrlASelectsTheWholeResponse) {
  Panel p;
  p.f.txtResponse.SetText("1: 5\r\n2: 7\r\n");
  p.f.txtResponse.Select(3, 1);
  for (int16_t shift : {0, 1, 3, 4, 6}) {
    p.f.txtResponse_KeyDown(kKeyA, shift);
    EXPECT_EQ(p.f.txtResponse.SelStart(), 3) << "shift " << shift;
    EXPECT_EQ(p.f.txtResponse.SelLength(), 1) << "shift " << shift;
  }
  p.f.txtResponse_KeyDown(kKeyA, kCtrl);
  EXPECT_EQ(p.f.txtResponse.SelStart(), 0);
  EXPECT_EQ(p.f.txtResponse.SelText(), "1: 5\r\n2: 7\r\n");
}

TEST(PanelClipboard, CopyFromTheReadOnlyLog) {
  Panel p;
  const std::string log = p.f.txtLog.Text();
  ASSERT_TRUE(p.f.txtLog.Locked());
  p.fp.clipboard->text = "old";
  p.f.txtLog.Select(2, 8);
  const int64_t start = p.fp.clock->MonotonicMs();

  p.f.txtLog_KeyDown(kKeyC, kCtrl);
  EXPECT_EQ(p.fp.clipboard->text, log.substr(2, 8));
  EXPECT_EQ(p.fp.clipboard->clearCount, 1);
  // The wait lets events run for a little over 100 ms.
  EXPECT_GE(p.fp.events->count, 10);
  EXPECT_GT(p.fp.clock->MonotonicMs() - start, 100);
  EXPECT_LT(p.fp.clock->MonotonicMs() - start, 200);

  // Cut and paste do nothing in a read-only pane.
  p.fp.clipboard->text = "pasted";
  p.f.txtLog_KeyDown(kKeyX, kCtrl);
  p.f.txtLog_KeyDown(kKeyV, kCtrl);
  EXPECT_EQ(p.f.txtLog.Text(), log);
  EXPECT_EQ(p.fp.clipboard->text, "pasted");
  EXPECT_EQ(p.fp.clipboard->clearCount, 1);

  // Copy with nothing selected only empties the clipboard; Shift+Ctrl+C does nothing.
  p.f.txtLog_KeyDown(kKeyC, 3);
  EXPECT_EQ(p.fp.clipboard->text, "pasted");
  p.f.txtLog.SetSelStart(0);
  p.f.txtLog_KeyDown(kKeyC, kCtrl);
  EXPECT_FALSE(p.fp.clipboard->HasText());
}

TEST(PanelClipboard, CutAndPasteInAnEditableField) {
  Panel p;
  TextField& t = p.f.txtResponse;
  t.SetLocked(false);
  t.SetText("0123456789");
  t.Select(2, 3);
  p.f.ProcessClipBoard(t, kKeyX, kCtrl);
  EXPECT_EQ(p.fp.clipboard->text, "234");
  EXPECT_EQ(t.Text(), "0156789");
  t.Select(0, 2);
  p.f.ProcessClipBoard(t, kKeyV, kCtrl);
  EXPECT_EQ(t.Text(), "23456789");
  p.fp.clipboard->Clear();
  p.f.ProcessClipBoard(t, kKeyV, kCtrl);  // an empty clipboard pastes nothing
  EXPECT_EQ(t.Text(), "23456789");
}

}  // namespace
