// The serial port list's tool tip and the hint after a refused opening.
#include "transaction/port_details.h"

#include "transaction_rig.h"

namespace {

using namespace txrig;

const platform::PortInfo kFtdi = {"ttyUSB0", "FT232R USB UART", "FTDI", "A10KZ3", 0x0403, 0x6001};
const platform::PortInfo kBare = {"ttyS0", "", "", "", std::nullopt, std::nullopt};

TEST(PortDetails, TextOfEachDetailThatIsKnown) {
  EXPECT_EQ(PortDetailsText(kFtdi),
            "Description: FT232R USB UART\nManufacturer: FTDI\nSerial number: A10KZ3\n"
            "USB vendor ID: 0403\nUSB product ID: 6001");
  EXPECT_EQ(PortDetailsText({"ttyACM0", " ", "Arduino ", "", std::nullopt, 0x00AB}),
            "Manufacturer: Arduino\nUSB product ID: 00AB");
  EXPECT_EQ(PortDetailsText(kBare), "No details reported for ttyS0");
}

TEST(PortDetails, ToolTipFollowsSelectionAndRefresh) {
  Rig r(kRtu);
  r.fp.ports->ports = {kBare, kFtdi};
  r.f.ComPortName.clear();
  r.f.RefreshComPorts();  // selects the first
  EXPECT_EQ(r.f.cmbRtuPort.ToolTipText(), "No details reported for ttyS0");
  r.f.cmbRtuPort.SetListIndex(1);
  EXPECT_EQ(r.f.cmbRtuPort.ToolTipText(), PortDetailsText(kFtdi));

  // Same names, new details: the tool tip follows the refresh.
  platform::PortInfo replugged = kFtdi;
  replugged.serialNumber = "B77";
  r.fp.ports->ports = {kBare, replugged};
  r.f.tmrRefreshComPorts_Timer();
  EXPECT_EQ(r.f.cmbRtuPort.ToolTipText(), PortDetailsText(replugged));

  // The chosen port is gone: no selection, no tool tip.
  r.fp.ports->ports = {kBare};
  r.f.RefreshComPorts();
  EXPECT_EQ(r.f.cmbRtuPort.ListIndex(), -1);
  EXPECT_EQ(r.f.cmbRtuPort.ToolTipText(), "");
  r.fp.ports->ports = {};
  r.f.RefreshComPorts();
  EXPECT_EQ(r.f.cmbRtuPort.ToolTipText(), "");
}

TEST(PortDetails, RefusedForLackOfPermissionAddsOneHintRow) {
  for (bool denied : {true, false}) {
    Rig r(kRtu);
    r.UsePorts({"ttyUSB0"});
    r.fp.serial->failOpenWith = "Permission denied";
    r.fp.serial->failOpenDeniesPermission = denied;
    r.Mark();
    r.f.cmdRtuOpenPort.onClick();
    std::string expected =
        "\r\n" + r.Row("Open ttyUSB0...") + r.Row("Communication Error: Failed to open ttyUSB0: Permission denied");
    const size_t hintAt = r.mark + expected.size() + 22 + 2;  // past the hint row's time stamp
    if (denied)
      expected += r.Row(
          "Access denied: add your user to the group that owns the device (usually dialout: sudo usermod -aG "
          "dialout $USER), then log in again.");
    EXPECT_EQ(r.NewLog(), expected) << denied;
    if (denied) {
      EXPECT_EQ(r.f.txtLog.ColorAt(hintAt), LogColorInfo);
    }
    EXPECT_EQ(r.f.Stats.connectionErrors, 1u);

    // The next failure for another reason has no hint.
    r.fp.serial->failOpenDeniesPermission = false;
    r.Mark();
    r.f.cmdRtuOpenPort.onClick();
    EXPECT_EQ(r.Count("Access denied"), denied ? 1 : 0);
  }
}

}  // namespace
