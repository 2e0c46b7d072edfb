// The serial transport: opening with the panel's line settings, its log rows
// and failures, the port list refresh, a port that vanishes, and the helpers.
#include "transaction/serial_settings.h"
#include "transaction_rig.h"

namespace {

using namespace txrig;

const std::string kReadHex = "01 03 00 00 00 0A C5 CD";
const Frame kRead = {1, 3, 0, 0, 0, 10, 0xC5, 0xCD};

bool SameSettings(const platform::SerialSettings& a, const platform::SerialSettings& b) {
  return a.baud == b.baud && a.parity == b.parity && a.dataBits == b.dataBits && a.stopBits == b.stopBits;
}

TEST(SerialTransport, FirstSendOpensThePortWithItsRowsAndTheSecondDoesNot) {
  Rig r(kRtu);
  r.UsePorts({"COM1", "COM3"});
  r.f.cmbRtuPort.SetListIndex(1);
  r.TypeHex(kReadHex);
  r.Mark();
  r.f.cmdSend_Click();
  EXPECT_EQ(r.NewLog(), "\r\n" + r.Row("Open COM3...") + r.Row("COM3 opened") + r.Row("Request  --> " + kReadHex));
  EXPECT_EQ(r.fp.serial->openedNames, std::vector<std::string>{"COM3"});
  EXPECT_TRUE(SameSettings(r.fp.serial->openedSettings.at(0), {9600, 'n', 8, 1}));
  EXPECT_EQ(r.f.CommSettings, "9600,n,8,1");
  EXPECT_EQ(r.fp.serial->written, std::vector<Frame>{kRead});
  for (const ListField* l : {&r.f.cmbRtuPort, &r.f.cmbRtuSpeed, &r.f.cmbRtuParity, &r.f.cmbRtuStopBit})
    EXPECT_FALSE(l->Enabled()) << l->Name();

  // A second Send, even while the answer is awaited, opens nothing.
  r.Mark();
  r.f.cmdSend_Click();
  EXPECT_EQ(r.NewLog(), r.Row("Request  --> " + kReadHex));
  EXPECT_EQ(r.fp.serial->openedNames.size(), 1u);
}

TEST(SerialTransport, LineSettingsAreTakenFromThePanelWhenThePortOpens) {
  Rig r(kRtu);
  r.UsePorts({"COM3"});
  ASSERT_EQ(r.f.CommSettings, "9600,N,8,2");  // recorded by the selection only
  r.f.cmbRtuSpeed.SetText(std::string("19200") + '\x01');
  r.f.cmbRtuParity.SetListIndex(2);
  r.f.cmbRtuStopBit.SetListIndex(1);
  r.f.cmdRtuOpenPort.onClick();
  ASSERT_TRUE(r.fp.serial->IsOpen());
  EXPECT_TRUE(SameSettings(r.fp.serial->openedSettings.at(0), {19200, 'e', 8, 2}));
}

TEST(SerialTransport, OpenFailuresAreLoggedWithTheirReason) {
  struct Case {
    std::string speed;
    std::string portFails;
    std::string row;
  };
  const Case cases[] = {
      {"abc", "", "Failed to open COM3: Invalid baud rate: abc"},
      {"0", "", "Failed to open COM3: Invalid baud rate: 0"},
      {"", "", "Failed to open COM3: Invalid baud rate: "},
      {"9600", "Permission denied", "Failed to open COM3: Permission denied"},
  };
  for (const Case& c : cases) {
    Rig r(kRtu);
    r.UsePorts({"COM3"});
    r.f.cmbRtuSpeed.SetText(c.speed);
    r.fp.serial->failOpenWith = c.portFails;
    r.TypeHex(kReadHex);
    r.Mark();
    r.f.cmdSend_Click();
    EXPECT_EQ(r.NewLog(), "\r\n" + r.Row("Open COM3...") + r.Row("Communication Error: " + c.row)) << c.row;
    EXPECT_FALSE(r.fp.serial->IsOpen());
    EXPECT_TRUE(r.f.cmbRtuPort.Enabled());
    EXPECT_EQ(r.f.Requests.size(), 1u) << "the request stays queued";
    EXPECT_FALSE(r.f.AwaitingResponse);
    EXPECT_FALSE(r.f.tmrTimeout.Enabled());
  }
}

TEST(SerialTransport, NoPortSelectedOrNoPortsAtAll) {
  for (bool havePorts : {true, false}) {
    Rig r(kRtu);
    r.UsePorts(havePorts ? std::vector<std::string>{"COM1"} : std::vector<std::string>{});
    r.f.cmbRtuPort.SetListIndex(-1);
    r.TypeHex(kReadHex);
    r.Mark();
    r.f.cmdSend_Click();
    EXPECT_EQ(r.NewLog(), r.Row(std::string("Communication Error: ") +
                                (havePorts ? "COM port not selected" : "COM ports not found")));
    EXPECT_TRUE(r.fp.serial->openedNames.empty());
  }
}

TEST(SerialTransport, TimeOutClosesThePortAndTheNextSendOpensItAgain) {
  Rig r(kRtu);
  r.UsePorts({"COM3"});
  r.TypeHex(kReadHex);
  r.f.cmdSend_Click();
  r.Mark();
  r.fp.clock->Advance(1000);
  EXPECT_EQ(r.NewLog(), r.Row("Communication Error: Request Timeout") + r.Row("COM3 closed"));
  EXPECT_TRUE(r.f.cmbRtuSpeed.Enabled());
  r.Mark();
  r.f.cmdSend_Click();
  EXPECT_EQ(r.NewLog(), "\r\n" + r.Row("Open COM3...") + r.Row("COM3 opened") + r.Row("Request  --> " + kReadHex));
}

TEST(SerialTransport, SecondFrameGoesOutOnTheCompletingByteAndTheRestOfTheChunkIsDropped) {
  Rig r(kRtu);
  r.UsePorts({"COM3"});
  r.f.OpenRtuPort();
  const Frame q1 = WithCrc({1, 6, 0, 1, 0, 7}), q2 = WithCrc({1, 6, 0, 2, 0, 8});
  r.f.PushRequest(q1);
  r.f.PushRequest(q2);
  r.f.SendRtuRequest();
  Frame chunk = q1;  // the echo of a write, then stray bytes
  chunk.insert(chunk.end(), {1, 6, 0});
  r.fp.serial->Deliver(chunk);
  EXPECT_EQ(r.fp.serial->written, (std::vector<Frame>{q1, q2}));
  EXPECT_EQ(r.f.RxCount, 0);
  r.fp.serial->Deliver(q2);
  EXPECT_FALSE(r.f.AwaitingResponse);
  EXPECT_EQ(r.Count("Protocol Error"), 0);
}

TEST(SerialTransport, CloseButtonEndsTheTransactionInFlight) {
  Rig r(kRtu);
  r.UsePorts({"COM3"});
  r.f.OpenRtuPort();
  r.Send(kRead);
  r.Mark();
  r.f.cmdRtuClosePort.onClick();
  EXPECT_EQ(r.NewLog(), r.Row("COM3 closed"));
  EXPECT_FALSE(r.f.AwaitingResponse);
  EXPECT_FALSE(r.f.tmrTimeout.Enabled());
  r.Mark();
  r.f.cmdRtuClosePort.onClick();  // closed already: nothing
  EXPECT_EQ(r.NewLog(), "");
}

TEST(SerialTransport, RefreshLeavesAnUnchangedListAndAnOpenPortAlone) {
  Rig r(kRtu);
  r.UsePorts({"COM1", "COM3"});
  r.f.cmbRtuPort.SetListIndex(1);
  r.f.cmbRtuSpeed.SetText("19200");
  r.f.OpenRtuPort();
  r.f.CommSettings = "marker";

  r.fp.ports->SetNames({" COM1 ", "COM3\r\n"});  // the same list once trimmed
  r.fp.clock->Advance(1000);
  EXPECT_EQ(r.f.CommSettings, "marker") << "an unchanged list is not rebuilt";

  // A new port: the list is rebuilt and COM3 reselected, but the open port is
  // neither reopened nor reconfigured.
  r.fp.ports->SetNames({"COM1", "COM3", "COM4"});
  r.Mark();
  r.fp.clock->Advance(1000);
  EXPECT_EQ(r.f.cmbRtuPort.Items(), (std::vector<std::string>{"COM1", "COM3", "COM4"}));
  EXPECT_EQ(r.f.cmbRtuPort.Text(), "COM3");
  EXPECT_TRUE(r.fp.serial->IsOpen());
  EXPECT_EQ(r.fp.serial->openedSettings.size(), 1u);
  EXPECT_EQ(r.fp.serial->closeCount, 0);
  EXPECT_EQ(r.NewLog(), "");

  // Even with its name gone from the list the open port keeps its name.
  r.fp.ports->SetNames({"COM1"});
  r.fp.clock->Advance(1000);
  EXPECT_EQ(r.f.cmbRtuPort.ListIndex(), -1);
  r.f.CloseRtuPort();
  EXPECT_EQ(r.NewLog(), r.Row("COM3 closed"));
}

TEST(SerialTransport, ListFollowsThePortsAndReselectsByNameIgnoringCase) {
  Rig r(kRtu);
  r.f.ComPortName = "com3";
  r.fp.ports->SetNames({"COM1", "COM3"});
  r.f.RefreshComPorts();
  EXPECT_EQ(r.f.cmbRtuPort.ListIndex(), 1);
  EXPECT_EQ(r.f.ComPortName, "COM3");
  r.fp.ports->SetNames({"COM1"});  // unplugged
  r.f.RefreshComPorts();
  EXPECT_EQ(r.f.cmbRtuPort.ListIndex(), -1);
  EXPECT_EQ(r.f.ComPortName, "COM3");
  r.fp.ports->SetNames({"COM3", "COM1"});  // back, in the system's order
  r.f.RefreshComPorts();
  EXPECT_EQ(r.f.cmbRtuPort.Items(), (std::vector<std::string>{"COM3", "COM1"}));
  EXPECT_EQ(r.f.cmbRtuPort.ListIndex(), 0);
  EXPECT_EQ(r.f.CommPort, 3);
}

TEST(SerialTransport, VanishedPortIsClosedOnceWithOneRowAndEndsTheTransaction) {
  Rig r(kRtu);
  r.UsePorts({"COM3"});
  r.f.OpenRtuPort();
  r.Send(kRead);
  r.Mark();
  r.fp.serial->Vanish("Inappropriate ioctl for device");
  r.f.comm1_Gone("Inappropriate ioctl for device");  // a second report changes nothing
  EXPECT_EQ(r.NewLog(), r.Row("COM3 closed: Inappropriate ioctl for device"));
  EXPECT_LE(r.fp.serial->closeCount, 1);
  EXPECT_FALSE(r.f.AwaitingResponse);
  EXPECT_FALSE(r.f.tmrTimeout.Enabled());
  EXPECT_TRUE(r.f.cmbRtuPort.Enabled());
  EXPECT_TRUE(r.f.cmbRtuStopBit.Enabled());
  r.fp.ports->SetNames({});
  r.fp.clock->Advance(1000);
  EXPECT_EQ(r.f.cmbRtuPort.ListCount(), 0);
  EXPECT_EQ(r.Count("Request Timeout"), 0);
}

TEST(SerialTransport, Helpers) {
  EXPECT_EQ(CleanString("19200\t"), "19200");
  EXPECT_EQ(CleanString("96\x7F"
                        "00\xC3\xA9"),
            "9600");

  ListField list("l", nullptr);
  EXPECT_FALSE(SetComboIndexByText(list, "com3"));
  list.AddItem("COM1");
  list.AddItem("COM3");
  list.SetListIndex(0);
  EXPECT_TRUE(SetComboIndexByText(list, "com3"));
  EXPECT_EQ(list.ListIndex(), 1);
  EXPECT_FALSE(SetComboIndexByText(list, "com1", true));
  EXPECT_EQ(list.ListIndex(), -1);

  struct Case {
    const char* text;
    bool ok;
    platform::SerialSettings settings;
    const char* reason;
  };
  const Case cases[] = {
      {"9600,n,8,1", true, {9600, 'n', 8, 1}, ""},
      {"115200,E,8,2", true, {115200, 'e', 8, 2}, ""},
      {" 19200 ,o,7,1", true, {19200, 'o', 7, 1}, ""},
      {"9600,,8,1", false, {}, "Invalid parity: "},
      {"9600,n,8,0", false, {}, "Invalid stop bits: 0"},
      {"9600,n,9,1", false, {}, "Invalid data bits: 9"},
      {"-9600,n,8,1", false, {}, "Invalid baud rate: -9600"},
      {"99999999999,n,8,1", false, {}, "Invalid baud rate: 99999999999"},
      {"9600,n,8", false, {}, "Invalid settings: 9600,n,8"},
  };
  for (const Case& c : cases) {
    platform::SerialSettings s{1, 'x', 0, 0};
    std::string reason;
    EXPECT_EQ(ParseSerialSettings(c.text, s, reason), c.ok) << c.text;
    if (c.ok) {
      EXPECT_TRUE(SameSettings(s, c.settings)) << c.text;
    } else {
      EXPECT_EQ(reason, c.reason) << c.text;
    }
  }
}

}  // namespace
