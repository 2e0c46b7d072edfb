// Settings restored at start-up and stored at close.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fakes/fake_platform.h"
#include "panel/frmMain.h"

namespace {

struct Panel {
  explicit Panel(const std::map<std::string, std::string>& stored = {}) {
    for (const auto& [key, value] : stored) fp.settings->values["main/" + key] = value;
    // The window's position before loading is the default of "left" and "top".
    f.Move(705, 405, f.Width(), f.Height());
    f.Form_Load();
  }
  void Close() {
    int16_t cancel = 1;
    f.Form_QueryUnload(cancel, 0);
    EXPECT_EQ(cancel, 0);
  }
  std::string Stored(const std::string& key) const { return fp.settings->values.at("main/" + key); }
  fakes::FakePlatform fp;
  frmMain f{fp.Bundle()};
};

using KeyValues = std::vector<std::pair<std::string, std::string>>;

// A first start shows the defaults, and closing stores them in this order.
const KeyValues kDefaultsAsStored = {
    {"left", "705"},        {"top", "405"},       {"host", "127.0.0.1"}, {"port", "502"}, {"timeout", "1000"},
    {"unitid", "1"},        {"cmd", "0"},         {"format", "0"},       {"addr", "1"},   {"len", "1"},
    {"value", "0"},         {"hexvalue", ""},     {"speed", "9600"},     {"parity", "0"}, {"stopbit", "0"},
    {"rtutimeout", "1000"}, {"hexview", "False"}, {"mode", "0"},         {"comport", ""}, {"pollinterval", "1000"},
};

TEST(PanelSettings, FirstStartShowsDefaultsAndStoresThemOnceInOrder) {
  Panel p;
  EXPECT_EQ(p.f.Mode, 0);
  EXPECT_EQ(p.f.cmbMode.Text(), "RTU");
  EXPECT_TRUE(p.f.pctRTU.Visible());
  EXPECT_EQ(p.f.cmbCmd.Text(), "01 Read CL");
  EXPECT_FALSE(p.f.cmbFormat.Enabled());
  EXPECT_EQ(p.f.cmbFormat.Text(), "UINT16");
  EXPECT_EQ(p.f.FormatIndex, 0);
  EXPECT_FALSE(p.f.HexView);
  EXPECT_TRUE(p.f.optFORM.Value());
  EXPECT_EQ(p.f.cmbRtuSpeed.Text(), "9600");
  EXPECT_EQ(p.f.cmbRtuParity.Text(), "None");
  EXPECT_EQ(p.f.cmbRtuStopBit.Text(), "1 ");
  EXPECT_EQ(p.fp.settings->writeOrder.size(), 0u);

  p.Close();
  KeyValues written;
  for (const auto& key : p.fp.settings->writeOrder) written.emplace_back(key, p.Stored(key));
  EXPECT_EQ(written, kDefaultsAsStored);
  EXPECT_EQ(p.fp.settings->flushCount, 1);
}

TEST(PanelSettings, AFailingWriteSkipsOnlyThatKey) {
  Panel p;
  p.fp.settings->failingKeys = {"format"};
  p.Close();
  std::vector<std::string> expected;
  for (const auto& [key, value] : kDefaultsAsStored)
    if (key != "format") expected.push_back(key);
  EXPECT_EQ(p.fp.settings->writeOrder, expected);
  EXPECT_EQ(p.fp.settings->flushCount, 1);
}

TEST(PanelSettings, OperatorStateRoundTrips) {
  Panel a;
  a.f.Move(1500, 300, a.f.Width(), a.f.Height());
  a.f.txtTcpHost.SetText(" 10.0.0.5 \r\n");
  a.f.cmbCmd.SetListIndex(2);
  a.f.cmbFormat.SetListIndex(3);
  a.f.cmbCmd.SetListIndex(1);  // a bit read shows UINT16; the chosen format is stored
  a.f.txtHEX.SetText("01 03 00 00\r\n");
  a.f.cmbRtuSpeed.SetText("14400");
  a.f.cmbRtuParity.SetListIndex(2);
  a.f.ComPortName = "/dev/ttyUSB0";
  a.f.optHEX.SetValue(true);
  a.f.cmbMode.SetListIndex(2);
  a.Close();
  EXPECT_EQ(a.Stored("host"), "10.0.0.5");
  EXPECT_EQ(a.Stored("format"), "3");
  EXPECT_EQ(a.Stored("hexvalue"), "01 03 00 00");
  EXPECT_EQ(a.Stored("hexview"), "True");

  std::map<std::string, std::string> stored;
  for (const auto& [key, value] : a.fp.settings->values) stored[key.substr(5)] = value;
  Panel b(stored);
  EXPECT_EQ(b.f.Left(), 1500);
  EXPECT_EQ(b.f.Top(), 300);
  EXPECT_EQ(b.f.txtTcpHost.Text(), "10.0.0.5");
  EXPECT_EQ(b.f.cmbCmd.Text(), "02 Read DI");
  EXPECT_EQ(b.f.cmbFormat.Text(), "UINT16");
  EXPECT_EQ(b.f.FormatIndex, 3);
  EXPECT_EQ(b.f.txtHEX.Text(), "01 03 00 00");  // the line break did not survive
  EXPECT_EQ(b.f.cmbRtuSpeed.Text(), "14400");
  EXPECT_EQ(b.f.cmbRtuParity.Text(), "Even");
  EXPECT_EQ(b.f.ComPortName, "/dev/ttyUSB0");
  EXPECT_TRUE(b.f.HexView);
  EXPECT_TRUE(b.f.pctHEX.Visible());
  EXPECT_TRUE(b.f.optHEX.Value());
  EXPECT_EQ(b.f.Mode, 2);
  EXPECT_EQ(b.f.cmbMode.Text(), "RTU-OVER-TCP");
  b.f.cmbCmd.SetListIndex(3);
  EXPECT_EQ(b.f.cmbFormat.Text(), "FLOAT_CDAB");
}

TEST(PanelSettings, StoredValuesAppliedOrSkipped) {
  struct Case {
    std::map<std::string, std::string> stored;
    std::function<void(frmMain&)> check;
  };
  const Case cases[] = {
      {{{"cmd", "20"}},
       [](frmMain& f) {
         EXPECT_EQ(f.cmbCmd.ListIndex(), -1);
         EXPECT_EQ(f.GetCmd(), 0);
         EXPECT_EQ(f.lblLen.Caption(), "Quantity");
         EXPECT_FALSE(f.cmbFormat.Enabled());
         EXPECT_EQ(f.cmbFormat.Text(), "UINT16");
       }},
      {{{"mode", "7"}},
       [](frmMain& f) {
         EXPECT_EQ(f.Mode, 7);
         EXPECT_EQ(f.cmbMode.ListIndex(), -1);
         EXPECT_TRUE(f.pctTCP.Visible());
         EXPECT_FALSE(f.pctRTU.Visible());
       }},
      {{{"format", "5"}, {"cmd", "0"}},
       [](frmMain& f) {
         EXPECT_FALSE(f.cmbFormat.Enabled());
         EXPECT_EQ(f.cmbFormat.Text(), "UINT16");
         f.cmbCmd.SetListIndex(2);
         EXPECT_TRUE(f.cmbFormat.Enabled());
         EXPECT_EQ(f.cmbFormat.Text(), "FLOAT_DCBA");
       }},
      {{{"format", "5"}, {"cmd", "6"}}, [](frmMain& f) { EXPECT_EQ(f.cmbFormat.Text(), "FLOAT_DCBA"); }},
      {{{"format", "14"}, {"cmd", "2"}}, [](frmMain& f) { EXPECT_EQ(f.cmbFormat.ListIndex(), 0); }},
      {{{"hexvalue", "AB CD\r\n"}}, [](frmMain& f) { EXPECT_EQ(f.txtHEX.Text(), "AB CD\r\n"); }},
      {{{"addr", " 0x10\r\n"}, {"port", "\t502"}},
       [](frmMain& f) {
         EXPECT_EQ(f.txtAddr.Text(), "0x10");
         EXPECT_EQ(f.txtTcpPort.Text(), "\t502");  // only blanks, CR and LF are trimmed
       }},
      {{{"left", "abc"}, {"top", "120.5"}},
       [](frmMain& f) {
         EXPECT_EQ(f.Left(), 705);
         EXPECT_EQ(f.Top(), 120);  // rounded half to even
       }},
      {{{"cmd", "x"}}, [](frmMain& f) { EXPECT_EQ(f.cmbCmd.ListIndex(), -1); }},
      {{{"cmd", "2.5"}, {"parity", "1.5"}, {"stopbit", "1.5"}},
       [](frmMain& f) {
         EXPECT_EQ(f.cmbCmd.Text(), "03 Read HR");
         EXPECT_EQ(f.cmbRtuParity.Text(), "Even");
         EXPECT_EQ(f.cmbRtuStopBit.ListIndex(), -1);  // 2 is outside the list
       }},
      {{{"hexview", "TRUE"}}, [](frmMain& f) { EXPECT_TRUE(f.HexView); }},
      {{{"hexview", "-1"}}, [](frmMain& f) { EXPECT_TRUE(f.HexView); }},
      {{{"hexview", "false"}}, [](frmMain& f) { EXPECT_FALSE(f.HexView); }},
      {{{"hexview", "yes"}}, [](frmMain& f) { EXPECT_FALSE(f.HexView); }},
      {{{"mode", "1.5"}}, [](frmMain& f) { EXPECT_EQ(f.cmbMode.Text(), "RTU-OVER-TCP"); }},
      {{{"mode", "70000"}}, [](frmMain& f) { EXPECT_EQ(f.Mode, 0); }},
      {{{"speed", " 19200 "}}, [](frmMain& f) { EXPECT_EQ(f.cmbRtuSpeed.Text(), " 19200 "); }},
  };
  for (const Case& c : cases) {
    std::string trace;
    for (const auto& [k, v] : c.stored) trace += k + "=" + v + " ";
    SCOPED_TRACE(trace);
    Panel p(c.stored);
    c.check(p.f);
  }
}

TEST(PanelSettings, OutOfListModeIsStoredBack) {
  Panel p(std::map<std::string, std::string>{{"mode", "7"}});
  p.Close();
  EXPECT_EQ(p.Stored("mode"), "7");
}

}  // namespace
