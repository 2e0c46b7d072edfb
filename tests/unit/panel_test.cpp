// The panel: start-up, the field model's rules, switching, settings, input checks, clipboard keys and links.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <tuple>

#include "fakes/fake_platform.h"
#include "panel/frmMain.h"

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

// A panel on the fakes started on these stored settings, the window at 705, 405 before.
struct Panel {
  explicit Panel(const Pairs& stored = {}) {
    for (const auto& [key, value] : stored) fp.settings->values["main/" + key] = value;
    f.Move(705, 405, f.Width(), f.Height());
    f.Form_Load();
  }
  // Closes the panel; the keys written in order, each with its stored text.
  Pairs Close() {
    int16_t cancel = 0;
    f.Form_QueryUnload(cancel, 0);
    Pairs written;
    for (const auto& key : fp.settings->writeOrder) written.emplace_back(key, fp.settings->values.at("main/" + key));
    return written;
  }
  fakes::FakePlatform fp;
  frmMain f{fp.Bundle()};
};

std::string Join(const std::vector<std::string>& items) {
  std::string s;
  for (const auto& item : items) s += (s.empty() ? "" : "|") + item;
  return s;
}

TEST(PanelStartup, CaptionListsLogRowsAndPlacement) {
  Panel p;
  EXPECT_EQ(p.f.Caption(), "VeskTarvelo 2.1.96 Beta");
  std::string lists;
  for (const ListField* l :
       {&p.f.cmbMode, &p.f.cmbRtuParity, &p.f.cmbRtuStopBit, &p.f.cmbRtuSpeed, &p.f.cmbCmd, &p.f.cmbFormat})
    lists += Join(l->Items()) + "\n";
  EXPECT_EQ(lists,
            "RTU|TCP|RTU-OVER-TCP|ASCII|ASCII-OVER-TCP\nNone|Odd|Even\n1 |2 \n"
            "1200|2400|4800|9600|19200|38400|57600|115200\n01 Read CL|"
            "02 Read DI|03 Read HR|04 Read IR|05 Write CL|06 Write Sngl HR|16 Write Mltp HR|15 Write Mltp CL|"
            "22 Mask Write HR|23 Read/Write HR|43/14 Read Device ID|17 Report Server ID|07 Read Excp Status|"
            "08 Diagnostics\nINT16|UINT16|FLOAT_ABCD|"
            "FLOAT_CDAB|FLOAT_BADC|FLOAT_DCBA|INT32_ABCD|INT32_CDAB|INT32_BADC|INT32_DCBA|UINT32_ABCD|UINT32_CDAB|"
            "UINT32_BADC|UINT32_DCBA|INT64_ABCDEFGH|INT64_GHEFCDAB|INT64_BADCFEHG|INT64_HGFEDCBA|UINT64_ABCDEFGH|"
            "UINT64_GHEFCDAB|UINT64_BADCFEHG|UINT64_HGFEDCBA|DOUBLE_ABCDEFGH|DOUBLE_GHEFCDAB|DOUBLE_BADCFEHG|"
            "DOUBLE_HGFEDCBA|HEX|BINARY|ASCII\n");
  EXPECT_EQ(p.f.txtLog.Text(), "\r\n05.12.26  06:04:09.045  Run Tarvelo\r\n");  // an empty row, then the start row
  EXPECT_EQ(p.f.txtLog.ColorAt(2), LogColorInfo);
  auto at = [](const Field& c) { return std::make_pair(c.Left(), c.Top()); };
  auto size = [](const Field& c) { return std::make_pair(c.Width(), c.Height()); };
  EXPECT_EQ(at(p.f.pctRTU), at(p.f.pctTCP));
  EXPECT_EQ(at(p.f.pctHEX), at(p.f.pctRequest));
  EXPECT_EQ(size(p.f.txtHEX),
            std::make_pair(p.f.pctHEX.Width() - 2 * p.f.txtHEX.Left(), p.f.pctHEX.Height() - 2 * p.f.txtHEX.Top()));
  EXPECT_EQ(at(p.f.pctAuto), at(p.f.cmdAuto1));
  EXPECT_EQ(size(p.f.pctAuto), size(p.f.cmdAuto1));
  EXPECT_EQ(size(p.f.cmdAuto0), std::make_pair(p.f.pctAuto.ScaleWidth(), p.f.pctAuto.ScaleHeight()));
}

// A list clicks on a changed selection only; an option when turned on only. Without a panel: a list
// that clicks again on its own selection sends the mode list's handler round for ever.
TEST(FieldModel, ClickRules) {
  ListField list("l", nullptr);
  OptionButton a("a"), b("b");
  int clicks = 0;
  for (auto* onClick : {&list.onClick, &a.onClick, &b.onClick}) *onClick = [&] { ++clicks; };
  a.SetPartner(&b);
  b.SetPartner(&a);
  for (const char* item : {"a", "b"}) list.AddItem(item);
  EXPECT_TRUE(list.SetListIndex(1) && list.SetListIndex(1) && !list.SetListIndex(2) && !list.SetListIndex(-2));
  EXPECT_EQ(std::make_pair(list.Text(), clicks), std::make_pair(std::string("b"), 1));
  for (OptionButton* o : {&a, &a, &b}) o->SetValue(true);
  b.SetValue(false);
  EXPECT_EQ(std::make_tuple(clicks, a.Value(), b.Value()), std::make_tuple(3, false, false));
}

// A hidden group hides what is on it; a timer's interval 0 never fires.
TEST(FieldModel, HiddenGroupAndTimerRange) {
  Panel p;
  EXPECT_TRUE(p.f.txtUnitID.Shown());
  p.f.pctRequest.SetVisible(false);
  EXPECT_TRUE(p.f.txtUnitID.Visible());
  EXPECT_FALSE(p.f.txtUnitID.Shown() || p.f.pctForm.Shown());

  TimerField t("t", *p.fp.timers, 0, false);
  int ticks = 0;
  t.onTimer = [&] { ++ticks; };
  EXPECT_FALSE(t.SetInterval(65536) || t.SetInterval(-1));
  t.SetEnabled(true);
  p.fp.clock->Advance(100000);
  EXPECT_TRUE(t.SetInterval(65535));
  p.fp.clock->Advance(65535 * 2);
  EXPECT_EQ(ticks, 2);
}

// The log pane's colour runs against a colour per character, over a seeded series of appends, trims, recolourings.
TEST(FieldModel, RichTextColoursMatchAPerCharacterModel) {
  RichTextField pane("p", nullptr);
  std::vector<uint32_t> colors;
  uint32_t seed = 12345;
  auto next = [&](size_t n) { return (seed = seed * 1103515245u + 12345u, (seed >> 8) % n); };
  for (int step = 0; step < 3000; ++step) {
    const uint32_t color = 1 + next(3), op = next(4);
    if (op < 2) {
      const size_t n = 1 + next(40);
      pane.Append(std::string(n, 'x'), color);
      colors.insert(colors.end(), n, color);
    } else if (op == 2) {
      const size_t n = next(colors.size() / 3 + 1);
      pane.RemoveFront(n);
      colors.erase(colors.begin(), colors.begin() + static_cast<long>(n));
    } else {
      const size_t pos = next(colors.size() + 2), len = next(12);
      pane.SetColor(pos, len, color);
      for (size_t i = pos; i < std::min(pos + len, colors.size()); ++i) colors[i] = color;
    }
    ASSERT_EQ(pane.Text(), std::string(colors.size(), 'x'));
    for (size_t i = 0; i < colors.size(); ++i) ASSERT_EQ(pane.ColorAt(i), colors[i]) << "step " << step << " at " << i;
  }
}

TEST(PanelSwitching, FormatRoundTripThroughTheBitCommands) {
  Panel p;
  p.f.cmbCmd.SetListIndex(2);
  p.f.cmbFormat.SetListIndex(2);  // FLOAT_ABCD: shown for every command but the bit reads, which show UINT16
  const std::tuple<int, int, const char*> steps[] = {{0, 1, "Quantity"}, {1, 1, "Quantity"}, {2, 2, "Quantity"},
                                                     {5, 2, "Value"},    {0, 1, "Quantity"}, {6, 2, "Value"},
                                                     {3, 2, "Quantity"}};
  for (const auto& [cmd, shown, len] : steps) {
    p.f.cmbCmd.SetListIndex(cmd);
    EXPECT_EQ(
        std::make_tuple(p.f.cmbFormat.ListIndex(), p.f.cmbFormat.Enabled(), p.f.FormatIndex, p.f.lblLen.Caption()),
        std::make_tuple(shown, shown == 2, 2, len))
        << "command " << cmd;
    EXPECT_EQ(std::make_pair(p.f.txtValue.Visible(), p.f.txtQuantity.Visible()),
              std::make_pair(len[0] == 'V', len[0] == 'Q'));
    if (shown == 1) p.f.cmbFormat.SetListIndex(0);
  }
}

// A frame still waiting is dropped on any change of framing: it was built in the old one.
TEST(PanelSwitching, ModeSwitchClosesTheOldTransportStopsPollingAndEndsTheTransactionOnlyWhenItChanges) {
  const std::tuple<int, int, bool> cases[] = {{1, 2, true}, {1, 0, false}, {0, 1, false}};
  for (const auto& [from, to, kept] : cases) {
    SCOPED_TRACE(std::to_string(from) + " -> " + std::to_string(to));
    Panel p;
    p.f.cmbMode.SetListIndex(from);
    p.fp.serial->open_ = true;  // both transports up; polling on sends a request at once, which stays in flight
    p.fp.socket->state = platform::TcpSocket::kConnected;
    p.f.AutoON();
    ASSERT_TRUE(p.f.AwaitingResponse && p.f.tmrTimeout.Enabled());
    p.f.Requests.push_back({1, 3, 0, 0, 0, 1, 0x84, 0x0A});
    p.f.cmbMode.SetListIndex(to);
    EXPECT_EQ(std::make_pair(p.f.Mode, p.f.cmbMode.ListIndex()), std::make_pair(int16_t(to), to));
    EXPECT_EQ(std::make_pair(p.f.pctRTU.Visible(), p.f.pctTCP.Visible()), std::make_pair(to == 0, to != 0));
    EXPECT_FALSE(p.f.AutoPolling || p.f.tmrAuto.Enabled());
    EXPECT_EQ(std::make_pair(p.fp.serial->IsOpen(), p.fp.socket->state == 7), std::make_pair(to == 0, to != 0));
    EXPECT_EQ(std::make_tuple(p.f.AwaitingResponse, p.f.tmrTimeout.Enabled(), p.f.Requests.size()),
              std::make_tuple(kept, kept, 0u));
  }
}

const Pairs kDefaultsAsStored = {
    {"left", "705"},        {"top", "405"},        {"host", "127.0.0.1"},   {"port", "502"},   {"timeout", "1000"},
    {"unitid", "1"},        {"cmd", "0"},          {"format", "0"},         {"addr", "1"},     {"len", "1"},
    {"value", "0"},         {"hexvalue", ""},      {"speed", "9600"},       {"parity", "0"},   {"stopbit", "0"},
    {"rtutimeout", "1000"}, {"hexview", "False"},  {"mode", "0"},           {"comport", ""},   {"pollinterval", "1000"},
    {"addresses", "0"},     {"logfile", ""},       {"logfilecsv", "False"}, {"values", "0"},   {"valuesas", "0"},
    {"writeaddr", "1"},     {"andmask", "0xFFFF"}, {"ormask", "0x0000"},    {"readcode", "0"}, {"objectid", "0"},
};

TEST(PanelSettings, FirstStartShowsDefaultsAndClosingWritesEachKeyOnceInOrder) {
  Panel p;
  EXPECT_EQ(Join({p.f.cmbMode.Text(), p.f.cmbCmd.Text(), p.f.cmbFormat.Text(), p.f.cmbRtuParity.Text()}),
            "RTU|01 Read CL|UINT16|None");
  EXPECT_TRUE(p.f.pctRTU.Visible() && p.f.optFORM.Value() && !p.f.cmbFormat.Enabled() &&
              p.fp.settings->writeOrder.empty());
  EXPECT_EQ(p.Close(), kDefaultsAsStored);
  EXPECT_EQ(p.fp.settings->flushCount, 1);
  Panel failing;
  failing.fp.settings->failingKeys = {"format"};
  Pairs expected = kDefaultsAsStored;
  expected.erase(expected.begin() + 7);
  EXPECT_EQ(failing.Close(), expected);
}

TEST(PanelSettings, StoredValuesAndARoundTrip) {
  Panel cmd20(Pairs{{"cmd", "20"}}), mode7(Pairs{{"mode", "7"}}), format5(Pairs{{"format", "5"}, {"cmd", "0"}}),
      hex(Pairs{{"hexvalue", "AB CD\r\n"}});
  EXPECT_EQ(std::make_tuple(cmd20.f.cmbCmd.ListIndex(), cmd20.f.GetCmd(), cmd20.f.lblLen.Caption(),
                            cmd20.f.cmbFormat.Enabled(), cmd20.f.cmbFormat.Text()),
            std::make_tuple(-1, 0, "Quantity", false, "UINT16"));
  EXPECT_EQ(std::make_tuple(mode7.f.Mode, mode7.f.cmbMode.ListIndex(), mode7.f.pctTCP.Visible()),
            std::make_tuple(7, -1, true));
  EXPECT_EQ(mode7.Close()[17], Pairs::value_type("mode", "7"));
  EXPECT_EQ(format5.f.cmbFormat.Text(), "UINT16");
  format5.f.cmbCmd.SetListIndex(2);
  EXPECT_EQ(format5.f.cmbFormat.Text(), "FLOAT_DCBA");
  EXPECT_EQ(hex.f.txtHEX.Text(), "AB CD\r\n");
  for (const char* bad : {"abc", "99", "65536", "", "99.4"}) {
    Panel p(Pairs{{"pollinterval", bad}});
    EXPECT_EQ(std::make_pair(p.f.txtPollInterval.Text(), p.f.tmrAuto.Interval()),
              std::make_pair(std::string("1000"), 1000))
        << bad;
  }
  for (const auto& [stored, index] : std::vector<std::pair<std::string, int>>{{"2", 2}, {"1", 1}, {"7", 0}, {"ab", 0}})
    EXPECT_EQ(Panel(Pairs{{"addresses", stored}}).f.cmbAddresses.ListIndex(), index) << stored;
  Panel a;
  a.f.Move(1500, 300, a.f.Width(), a.f.Height());
  a.f.txtTcpHost.SetText(" 10.0.0.5 \r\n");
  a.f.cmbCmd.SetListIndex(2);
  a.f.cmbFormat.SetListIndex(3);
  a.f.cmbCmd.SetListIndex(1);
  a.f.txtHEX.SetText("01 03 00 00\r\n");
  a.f.cmbRtuParity.SetListIndex(2);
  a.f.ComPortName = "/dev/ttyUSB0";
  a.f.optHEX.SetValue(true);
  a.f.cmbMode.SetListIndex(2);
  a.f.txtPollInterval.SetText("250");
  a.f.cmbAddresses.SetListIndex(1);
  const std::string logFile = testing::TempDir() + "vesk_settings_roundtrip.csv";
  a.f.SetLogFile(logFile, true);
  const Pairs stored = a.Close();
  Panel b(stored);
  EXPECT_EQ(b.f.tmrAuto.Interval(), 250);
  EXPECT_EQ(std::make_pair(b.f.LogFilePath(), b.f.LogFileCsv()), std::make_pair(logFile, true));
  EXPECT_EQ(b.Close(), stored);
  std::remove(logFile.c_str());
  const std::map<std::string, std::string> m(stored.begin(), stored.end());
  EXPECT_EQ(Join({m.at("left"), m.at("host"), m.at("format"), m.at("hexvalue"), m.at("parity"), m.at("hexview"),
                  m.at("mode"), m.at("comport"), m.at("pollinterval"), m.at("logfilecsv"), m.at("addresses")}),
            "1500|10.0.0.5|3|01 03 00 00|2|True|2|/dev/ttyUSB0|250|True|1");
}

#define KEYS(name) &frmMain::name##_KeyPress, nullptr, &frmMain::name
#define FIELD(name) &frmMain::name##_KeyPress, &frmMain::name##_Validate, &frmMain::name

// Each typed key as it comes out ('_': dropped with a beep), then the texts accepted and refused ('|' between): a
// refused text keeps its reason per field (the last one's given) until the field passes its check again, and each
// change of reason is told once.
TEST(PanelInput, KeyFiltersAndValueChecksOfEachField) {
  struct Case {
    void (frmMain::*key)(int16_t&);
    void (frmMain::*check)(bool&);
    TextField frmMain::*field;
    const char *typed, *passed, *accepted, *refused;
    int cmd = 0;
    std::string reason = "";
  };
  const Case cases[] = {
      {FIELD(txtAddr), "09afAFxXg ", "09AFAFx___", "0|65535|0xFFFFF| 0x1f |0x1FFFF",
       "| \r\n|65536|-1|1F|ABC|0x|0X10|1E3|1E20|99999", 0, "Address: \"99999\" is outside 0 to 65535"},
      {FIELD(txtAddr), "", "", "0", "|", 0, "Address: empty, a number from 0 to 65535 or 0x and hexadecimal digits"},
      {KEYS(txtHEX), "09afAF xX-.", "09AFAF ____", "", ""},
      {FIELD(txtUnitID), "09a-. ", "09____", "1| 247\r\n", "|0|300|257|abc|248", 0,
       "Slave ID: \"248\" is outside 1 to 247"},
      {FIELD(txtQuantity), "09a-", "09__", "200|2000", "0|2001"},
      {FIELD(txtQuantity), "", "", "125", "200|126", 2, "Quantity: \"126\" is outside 1 to 125"},
      {FIELD(txtQuantity), "", "", "", "200", -1},
      {FIELD(txtTcpPort), "09a-", "09__", "1|65535", "0|65536", 0, "Port: \"65536\" is outside 1 to 65535"},
      {FIELD(txtTcpTimeout), "09-.a", "09___", "1000", "70000||", 0, "Timeout: empty is outside 1 to 65535"},
      {FIELD(txtRtuTimeout), "09.,-aeE+", "09.,-____", "1.4|65535", "-5|-|0.4|1000,5", 0,
       "Timeout: \"1000,5\" is not a whole number from 1 to 65535"},
      {KEYS(txtValue), "09.,-aeE+", "09.,-____", "", ""},
      {FIELD(txtPollInterval), "09-.a", "09___", "100| 65535 ", "|65536|0|abc|99", 0,
       "Poll ms: \"99\" is outside 100 to 65535"},
  };
  Panel p;
  std::vector<std::string> told;
  p.f.onRefusalChanged = [&](const TextBox& field, const std::string& reason) {
    told.push_back(field.Name() + "=" + reason);
  };
  int seen = 0;
  auto beeps = [&] { return p.fp.beeper->count - std::exchange(seen, p.fp.beeper->count); };
  for (const Case& c : cases) {
    TextField& field = p.f.*c.field;
    SCOPED_TRACE(field.Name() + " command " + std::to_string(c.cmd));
    const bool keys = *c.typed != 0;
    const std::string typed = c.typed + std::string(keys ? "\b\x03\x16\x18\r\t\xE4" : ""),
                      passed = c.passed + std::string(keys ? "\b\x03\x16\x18___" : "");
    for (size_t i = 0; i < typed.size(); ++i) {
      int16_t key = static_cast<uint8_t>(typed[i]);
      (p.f.*c.key)(key);
      EXPECT_EQ(std::make_pair(key, beeps()),
                std::make_pair(int16_t(passed[i] == '_' ? 0 : passed[i]), passed[i] == '_' ? 1 : 0))
          << int(typed[i]);
    }
    p.f.cmbCmd.SetListIndex(c.cmd);
    for (bool refused : {false, true}) {
      std::istringstream texts(refused ? c.refused : c.accepted);
      for (std::string text; std::getline(texts, text, '|');) {
        field.SetText(text);
        bool cancel = false;
        (p.f.*c.check)(cancel);
        EXPECT_EQ(std::make_tuple(cancel, beeps(), field.Text(), p.f.Refusal(field).empty()),
                  std::make_tuple(refused, refused ? 1 : 0, text, !refused));
      }
    }
    if (c.reason.empty()) continue;
    const size_t tellings = told.size();
    bool cancel = false;
    (p.f.*c.check)(cancel);  // the same outcome again is not told twice
    EXPECT_EQ(std::make_pair(p.f.Refusal(field), told.size()), std::make_pair(c.reason, tellings));
    EXPECT_EQ(told.back(), field.Name() + "=" + c.reason);
    beeps();
    field.SetText(std::string(c.accepted).substr(0, std::string(c.accepted).find('|')));
    (p.f.*c.check)(cancel);
    EXPECT_EQ(told.back(), field.Name() + "=");
  }
}

// Ctrl+A selects the response, Ctrl+C copies from the read-only log; other keys and Shift states do nothing there.
TEST(PanelInput, ClipboardKeys) {
  constexpr int16_t kKeyA = 65, kKeyC = 67, kKeyV = 86, kKeyX = 88, kCtrl = 2;
  Panel p;
  p.f.txtResponse.SetText("1: 5\r\n2: 7\r\n");
  p.f.txtResponse.Select(3, 1);
  for (int16_t shift : {0, 1, 3, 4, 6}) p.f.txtResponse_KeyDown(kKeyA, shift);
  EXPECT_EQ(p.f.txtResponse.SelText(), "5");
  p.f.txtResponse_KeyDown(kKeyA, kCtrl);
  EXPECT_EQ(p.f.txtResponse.SelText(), "1: 5\r\n2: 7\r\n");

  const std::string log = p.f.txtLog.Text();
  p.f.txtLog.Select(2, 8);
  p.f.txtLog_KeyDown(kKeyC, 3);
  EXPECT_FALSE(p.fp.clipboard->HasText());
  // A row logged while the clipboard settles (polling) does not change what is copied.
  p.fp.events->onPump = [&] { p.f.Log("row"), p.fp.events->onPump = nullptr; };
  p.f.txtLog_KeyDown(kKeyC, kCtrl);
  EXPECT_EQ(p.fp.clipboard->text, log.substr(2, 8));
  p.fp.clipboard->text = "pasted";
  p.f.txtLog_KeyDown(kKeyX, kCtrl);
  p.f.txtLog_KeyDown(kKeyV, kCtrl);
  EXPECT_EQ(p.f.txtLog.Text().substr(0, log.size()), log);
  EXPECT_EQ(p.fp.clipboard->text, "pasted");
}

TEST(PanelLinks, LogoAndSiteLabelOpenOneAddressAndAFailedOpenChangesNothing) {
  Panel p;
  for (auto* onClick : {&p.f.imgLogo.onClick, &p.f.lblScada.onClick, &p.f.Label8.onClick}) (*onClick)();
  EXPECT_EQ(p.fp.desktop->opened, (std::vector<std::string>{kSiteUrl, kSiteUrl, kTestServerUrl}));
  EXPECT_NE(p.fp.desktop->opened[0].find("?referer=VeskTarvelo"), std::string::npos);
  p.fp.desktop->succeed = false;
  const std::string log = p.f.txtLog.Text();
  EXPECT_EQ(p.f.OpenDocument(kSiteUrl),
            "Windows не знает, что это за файл и чем его открывать. Выберите программу из списка или нажмите "
            "Отмена.");
  p.f.imgLogo_Click();
  EXPECT_EQ(p.f.txtLog.Text(), log);
  EXPECT_EQ(p.fp.beeper->count, 0);
}

}  // namespace
