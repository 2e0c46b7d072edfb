// Start-up state of the panel and the field model's event rules.
#include <gtest/gtest.h>

#include "fakes/fake_platform.h"
#include "panel/frmMain.h"

namespace {

struct Panel {
  fakes::FakePlatform fp;
  frmMain f{fp.Bundle()};
};

TEST(PanelStartup, CaptionListsAndLogStartRows) {
  Panel p;
  p.f.Form_Load();
  EXPECT_EQ(p.f.Caption(), "VeskTarvelo 2.1.96 Beta");
  EXPECT_EQ(p.f.cmbRtuSpeed.Items(),
            (std::vector<std::string>{"1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"}));
  ASSERT_EQ(p.f.cmbFormat.ListCount(), 14);
  EXPECT_EQ(p.f.cmbFormat.List(0), "INT16");
  EXPECT_EQ(p.f.cmbFormat.List(5), "FLOAT_DCBA");
  EXPECT_EQ(p.f.cmbFormat.List(13), "UINT32_DCBA");
  EXPECT_EQ(p.f.cmbCmd.List(6), "16 Write Mltp HR");
  EXPECT_EQ(p.f.cmbRtuStopBit.List(1), "2 ");
  EXPECT_EQ(p.f.ExceptionText[2], "Illegal Data Address");
  EXPECT_EQ(p.f.ExceptionText[11], "Gateway Target Device Failed to Respond");
  // An empty row without a time stamp, then the start row.
  EXPECT_EQ(p.f.txtLog.Text(), "\r\n05.12.26  06:04:09.045  Run Tarvelo\r\n");
  EXPECT_EQ(p.f.txtLog.ColorAt(2), LogColorInfo);
  EXPECT_EQ(p.f.lblDT.Caption(), "");
  EXPECT_EQ(p.f.txtLog.RightMargin(), 999999);
}

TEST(PanelStartup, PlacementRules) {
  Panel p;
  p.f.Form_Load();
  EXPECT_EQ(p.f.pctRTU.Top(), p.f.pctTCP.Top());
  EXPECT_EQ(p.f.pctRTU.Left(), p.f.pctTCP.Left());
  EXPECT_EQ(p.f.pctHEX.Top(), p.f.pctRequest.Top());
  EXPECT_EQ(p.f.pctHEX.Left(), p.f.pctRequest.Left());
  EXPECT_EQ(p.f.txtHEX.Width(), p.f.pctHEX.Width() - 2 * p.f.txtHEX.Left());
  EXPECT_EQ(p.f.txtHEX.Height(), p.f.pctHEX.Height() - 2 * p.f.txtHEX.Top());
  EXPECT_EQ(p.f.pctAuto.Left(), p.f.cmdAuto1.Left());
  EXPECT_EQ(p.f.pctAuto.Top(), p.f.cmdAuto1.Top());
  EXPECT_EQ(p.f.pctAuto.Width(), p.f.cmdAuto1.Width());
  EXPECT_EQ(p.f.pctAuto.Height(), p.f.cmdAuto1.Height());
  EXPECT_EQ(p.f.cmdAuto0.Width(), p.f.pctAuto.ScaleWidth());
  EXPECT_EQ(p.f.cmdAuto0.Height(), p.f.pctAuto.ScaleHeight());
}

TEST(PanelStartup, DesignTextsAreExact) {
  Panel p;
  EXPECT_EQ(p.f.lblDT.Caption(), "00000 ms");
  EXPECT_EQ(p.f.txtAddr.ToolTipText(), "Address of first Register (0-65535, Dec,  Hex)");
  EXPECT_EQ(p.f.txtQuantity.ToolTipText(), "Number of registers (1-127) or coils (1-1016) to return ");
  EXPECT_EQ(p.f.cmdSend.ToolTipText(), "Send request to ModbusTCP host");
  EXPECT_EQ(p.f.Label8.Caption(), "Public Modbus-TCP Test Server");
  EXPECT_EQ(p.f.tmrRefreshComPorts.Interval(), 1000);
  EXPECT_TRUE(p.f.tmrRefreshComPorts.Enabled());
  EXPECT_FALSE(p.f.tmrAuto.Enabled());
  EXPECT_EQ(p.f.tmrAuto.Interval(), 1000);
  EXPECT_EQ(p.f.tmrTimeout.Interval(), 0);
  EXPECT_TRUE(p.f.Requests.empty());
  EXPECT_FALSE(p.f.AwaitingResponse);
}

TEST(PanelStartup, GetCmdReadsTheLeadingNumber) {
  Panel p;
  const std::pair<int, int> cases[] = {{-1, 0}, {0, 1}, {3, 4}, {5, 6}, {6, 16}};
  for (auto [index, code] : cases) {
    p.f.cmbCmd.SetListIndex(index);
    EXPECT_EQ(p.f.GetCmd(), code) << "index " << index;
  }
}

TEST(FieldModel, ListClickOnlyOnChangedSelection) {
  ListField list("l", nullptr);
  int clicks = 0;
  list.onClick = [&] { ++clicks; };
  list.AddItem("a");
  list.AddItem("b");
  EXPECT_TRUE(list.SetListIndex(1));
  EXPECT_TRUE(list.SetListIndex(1));   // unchanged: no click
  EXPECT_FALSE(list.SetListIndex(2));  // outside the list: refused
  EXPECT_FALSE(list.SetListIndex(-2));
  EXPECT_EQ(list.ListIndex(), 1);
  EXPECT_EQ(list.Text(), "b");
  EXPECT_TRUE(list.SetListIndex(-1));
  EXPECT_EQ(list.Text(), "");
  EXPECT_EQ(clicks, 2);
  EXPECT_FALSE(list.SetText("zzz"));  // a plain list only takes its items
  EXPECT_TRUE(list.SetText("a"));
  EXPECT_EQ(list.ListIndex(), 0);
  EXPECT_EQ(clicks, 3);
}

TEST(FieldModel, EditableListKeepsTypedText) {
  ListField speed("s", nullptr, true);
  speed.AddItem("9600");
  int clicks = 0;
  speed.onClick = [&] { ++clicks; };
  EXPECT_TRUE(speed.SetText("12345"));
  EXPECT_EQ(speed.Text(), "12345");
  EXPECT_EQ(speed.ListIndex(), -1);
  EXPECT_TRUE(speed.SetText("9600"));
  EXPECT_EQ(speed.ListIndex(), 0);
  EXPECT_EQ(clicks, 0);
}

TEST(FieldModel, OptionClickOnlyWhenTurningOn) {
  OptionButton a("a"), b("b");
  a.SetPartner(&b);
  b.SetPartner(&a);
  int ca = 0, cb = 0;
  a.onClick = [&] { ++ca; };
  b.onClick = [&] { ++cb; };
  a.SetValue(true);
  a.SetValue(true);
  EXPECT_EQ(ca, 1);
  b.SetValue(true);
  EXPECT_FALSE(a.Value());
  EXPECT_EQ(cb, 1);
  b.SetValue(false);  // turning off raises nothing
  EXPECT_EQ(cb, 1);
  EXPECT_EQ(ca, 1);
}

TEST(FieldModel, HiddenGroupHidesItsFields) {
  Panel p;
  EXPECT_TRUE(p.f.txtUnitID.Shown());
  p.f.pctRequest.SetVisible(false);
  EXPECT_TRUE(p.f.txtUnitID.Visible());
  EXPECT_FALSE(p.f.txtUnitID.Shown());
  EXPECT_FALSE(p.f.pctForm.Shown());
}

TEST(FieldModel, TimerRefusesIntervalsOutOfRange) {
  fakes::FakePlatform fp;
  TimerField t("t", *fp.timers, 0, false);
  int ticks = 0;
  t.onTimer = [&] { ++ticks; };
  EXPECT_FALSE(t.SetInterval(65536));
  EXPECT_FALSE(t.SetInterval(-1));
  EXPECT_EQ(t.Interval(), 0);
  t.SetEnabled(true);
  fp.clock->Advance(100000);  // interval 0 never fires
  EXPECT_EQ(ticks, 0);
  EXPECT_TRUE(t.SetInterval(250));
  fp.clock->Advance(1000);
  EXPECT_EQ(ticks, 4);
  t.SetEnabled(false);
  fp.clock->Advance(1000);
  EXPECT_EQ(ticks, 4);
}

TEST(FieldModel, TextSelection) {
  TextField t("t", nullptr);
  t.SetText("hello world");
  t.Select(6, 99);
  EXPECT_EQ(t.SelLength(), 5);
  EXPECT_EQ(t.SelText(), "world");
  t.SetSelText("there");
  EXPECT_EQ(t.Text(), "hello there");
  EXPECT_EQ(t.SelStart(), 11);
  t.SetSelStart(3);
  EXPECT_EQ(t.SelLength(), 0);
}

}  // namespace

namespace {

// The log pane keeps its colours as runs; checked against a colour per
// character over a seeded series of appends, trims and recolourings.
TEST(FieldModel, RichTextColoursMatchAPerCharacterModel) {
  RichTextField pane("p", nullptr);
  std::string text;
  std::vector<uint32_t> colors;
  uint32_t seed = 12345;
  auto next = [&](uint32_t n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % n;
  };
  for (int step = 0; step < 3000; ++step) {
    const uint32_t color = 1 + next(3);
    switch (next(4)) {
      case 0:
      case 1: {
        const std::string t(1 + next(40), 'x');
        pane.Append(t, color);
        text += t;
        colors.insert(colors.end(), t.size(), color);
        break;
      }
      case 2: {
        const size_t n = next(static_cast<uint32_t>(text.size() / 3 + 1));
        pane.RemoveFront(n);
        text.erase(0, n);
        colors.erase(colors.begin(), colors.begin() + static_cast<long>(n));
        break;
      }
      default: {
        const size_t pos = next(static_cast<uint32_t>(text.size() + 2)), len = next(12);
        pane.SetColor(pos, len, color);
        for (size_t i = pos; i < std::min(pos + len, colors.size()); ++i) colors[i] = color;
      }
    }
    ASSERT_EQ(pane.Text(), text);
    for (size_t i = 0; i < colors.size(); ++i) ASSERT_EQ(pane.ColorAt(i), colors[i]) << "step " << step << " at " << i;
  }
}

}  // namespace
