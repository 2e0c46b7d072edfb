// Command, format, mode and input-kind switching of the panel.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/fake_platform.h"
#include "panel/frmMain.h"

namespace {

struct Panel {
  Panel() { f.Form_Load(); }
  fakes::FakePlatform fp;
  frmMain f{fp.Bundle()};
};

constexpr int kCmd01 = 0, kCmd02 = 1, kCmd03 = 2, kCmd04 = 3, kCmd06 = 5, kCmd16 = 6;
constexpr int kUint16 = 1, kFloatAbcd = 2, kInt32Dcba = 9;

TEST(PanelSwitching, FormatIsRememberedAcrossBitCommands) {
  Panel p;
  p.f.txtQuantity.SetText("12");
  p.f.cmbCmd.SetListIndex(kCmd03);
  p.f.cmbFormat.SetListIndex(kFloatAbcd);  // the operator's choice
  ASSERT_EQ(p.f.FormatIndex, kFloatAbcd);

  struct Step {
    int cmd;
    const char* len;
    bool valueShown;
    bool formatEnabled;
    int formatShown;
  };
  const Step steps[] = {
      {kCmd01, "Quantity", false, false, kUint16},   {kCmd02, "Quantity", false, false, kUint16},
      {kCmd03, "Quantity", false, true, kFloatAbcd}, {kCmd06, "Value", true, true, kFloatAbcd},
      {kCmd01, "Quantity", false, false, kUint16},   {kCmd16, "Value", true, true, kFloatAbcd},
      {kCmd04, "Quantity", false, true, kFloatAbcd},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(p.f.cmbCmd.List(s.cmd));
    p.f.cmbCmd.SetListIndex(s.cmd);
    EXPECT_EQ(p.f.lblLen.Caption(), s.len);
    EXPECT_EQ(p.f.txtValue.Visible(), s.valueShown);
    EXPECT_EQ(p.f.txtQuantity.Visible(), !s.valueShown);
    EXPECT_EQ(p.f.cmbFormat.Enabled(), s.formatEnabled);
    EXPECT_EQ(p.f.cmbFormat.ListIndex(), s.formatShown);
    EXPECT_EQ(p.f.FormatIndex, kFloatAbcd);
  }
  EXPECT_EQ(p.f.txtQuantity.Text(), "12");  // the hidden field keeps its text
}

TEST(PanelSwitching, FormatChosenOnlyWhileTheListIsEnabled) {
  Panel p;
  p.f.cmbCmd.SetListIndex(kCmd03);
  p.f.cmbFormat.SetListIndex(kInt32Dcba);
  EXPECT_EQ(p.f.FormatIndex, kInt32Dcba);
  p.f.cmbCmd.SetListIndex(kCmd01);
  p.f.cmbFormat.SetListIndex(0);  // a click on the disabled list
  EXPECT_EQ(p.f.FormatIndex, kInt32Dcba);
  p.f.cmbCmd.SetListIndex(kCmd04);
  EXPECT_EQ(p.f.cmbFormat.ListIndex(), kInt32Dcba);
}

TEST(PanelSwitching, ModeLayoutAndTransports) {
  struct Case {
    int from, to;
    bool rtuShown;
    bool socketKept;  // an open connection survives the switch
    bool serialKept;  // an open serial port survives the switch
  };
  const Case cases[] = {
      {1, 2, false, true, false},  // TCP -> RTU-OVER-TCP keeps the connection
      {2, 1, false, true, false},  {1, 0, true, false, true},
      {2, 0, true, false, true},   {0, 1, false, false, false},  // the serial port closes
      {0, 2, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.from) + " -> " + std::to_string(c.to));
    Panel p;
    p.f.cmbMode.SetListIndex(c.from);
    ASSERT_EQ(p.f.Mode, c.from);
    // The transport of the old mode is up; polling is on.
    if (c.from == 0) {
      std::string error;
      ASSERT_TRUE(p.fp.serial->Open("/dev/ttyS9", {}, error));
    } else {
      p.fp.socket->state = platform::TcpSocket::kConnected;
    }
    p.f.AutoPolling = true;
    p.f.tmrAuto.SetEnabled(true);

    p.f.cmbMode.SetListIndex(c.to);

    EXPECT_EQ(p.f.Mode, c.to);
    EXPECT_EQ(p.f.cmbMode.ListIndex(), c.to);
    EXPECT_EQ(p.f.pctRTU.Visible(), c.rtuShown);
    EXPECT_EQ(p.f.pctTCP.Visible(), !c.rtuShown);
    EXPECT_FALSE(p.f.AutoPolling);
    EXPECT_FALSE(p.f.tmrAuto.Enabled());
    if (c.from != 0) {
      EXPECT_EQ(p.fp.socket->state == platform::TcpSocket::kConnected, c.socketKept);
    } else {
      EXPECT_EQ(p.fp.serial->IsOpen(), c.serialKept);
    }
  }
}

TEST(PanelSwitching, LeavingTheTransportEndsTheTransactionInFlight) {
  struct Case {
    int from, to;
    bool ended;
  };
  const Case cases[] = {{0, 1, true}, {0, 2, true}, {1, 0, true}, {2, 0, true}, {1, 2, false}, {2, 1, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.from) + " -> " + std::to_string(c.to));
    Panel p;
    p.f.cmbMode.SetListIndex(c.from);
    p.f.AwaitingResponse = true;
    p.f.Requests.push_back({0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A});
    p.f.tmrTimeout.SetInterval(1000);
    p.f.tmrTimeout.SetEnabled(true);

    p.f.cmbMode.SetListIndex(c.to);

    EXPECT_EQ(p.f.AwaitingResponse, !c.ended);
    EXPECT_EQ(p.f.Requests.empty(), c.ended);
    if (c.ended) {
      EXPECT_FALSE(p.f.tmrTimeout.Enabled() && p.f.tmrTimeout.Interval() > 0);
    }
  }
}

TEST(PanelSwitching, InputKindOptions) {
  Panel p;
  ASSERT_FALSE(p.f.HexView);
  ASSERT_TRUE(p.f.optFORM.Value());
  p.f.AutoPolling = true;
  p.f.tmrAuto.SetEnabled(true);
  p.f.txtUnitID.SetText("17");

  p.f.optHEX.SetValue(true);
  EXPECT_TRUE(p.f.HexView);
  EXPECT_TRUE(p.f.pctHEX.Visible());
  EXPECT_FALSE(p.f.optFORM.Value());
  EXPECT_FALSE(p.f.AutoPolling);
  EXPECT_FALSE(p.f.tmrAuto.Enabled());

  p.f.optFORM.SetValue(true);
  EXPECT_FALSE(p.f.HexView);
  EXPECT_FALSE(p.f.pctHEX.Visible());
  EXPECT_FALSE(p.f.optHEX.Value());
  EXPECT_EQ(p.f.txtUnitID.Text(), "17");
}

}  // namespace
