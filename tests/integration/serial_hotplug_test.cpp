// A serial port that goes away while it is open and comes back under the same
// name: the open port is closed and logged once, the transaction in flight
// ends, the process stays idle, the port-list refresh drops the port and
// selects it again by name when it returns, and the next Send works.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <string>
#include <vector>

#include "panel_rig.h"

namespace {

using rig::Req;
using rig::Rsp;
using rig::WithCrc;

TEST(SerialHotplugTest, VanishedPortIsDroppedAndRegainedByName) {
  vesk::test::PtyPair pair;
  ASSERT_TRUE(pair.Open());
  rig::Peer slave;
  ASSERT_TRUE(slave.StartSlave({"--rtu", pair.B()}));
  const std::string port = pair.A();

  rig::Panel p;
  p.UseSerial(port, "9600", 0, 0, "1500");
  p.SetRequest(3, "4", "1");
  ASSERT_TRUE(p.Send());
  ASSERT_EQ(p.f().txtResponse.Text(), "HR 00004: 4");

  // A request the slave leaves unanswered is in flight when the port goes.
  p.SetRequest(3, "4", "1", 0, "9");
  p.Mark();
  QElapsedTimer sinceSend;
  sinceSend.start();
  p.f().cmdSend_Click();
  ASSERT_TRUE(p.f().AwaitingResponse);
  pair.Close();

  const std::string closedHead = port + " closed: ";
  ASSERT_TRUE(testutil::RunUntil([&] { return p.CountPrefix(closedHead) > 0; }, 3000));
  EXPECT_FALSE(p.f().comm1->IsOpen());
  EXPECT_FALSE(p.f().AwaitingResponse);
  EXPECT_TRUE(p.f().cmbRtuPort.Enabled());
  EXPECT_TRUE(p.f().cmbRtuSpeed.Enabled());

  // The next refresh drops the port and clears the selection.
  ASSERT_TRUE(testutil::RunUntil([&] { return p.f().cmbRtuPort.ListCount() == 0; }, 2500));
  EXPECT_EQ(p.f().cmbRtuPort.ListIndex(), -1);

  // Idle: no busy loop on the vanished port.
  const double cpuBefore = rig::CpuSeconds();
  testutil::RunFor(1000);
  const double cpu = rig::CpuSeconds() - cpuBefore;
  EXPECT_LT(cpu, 0.15) << "CPU seconds spent in one idle second";
  // Past the request time-out of the request that was in flight.
  testutil::RunUntil([&] { return sinceSend.elapsed() > 1800; }, 2000);

  // One closed row; the request in flight ended with the port, no time-out.
  const std::vector<std::string> rows = p.Rows();
  ASSERT_EQ(rows.size(), 2u) << ::testing::PrintToString(rows);
  EXPECT_EQ(rows[0], Req(WithCrc({9, 3, 0, 4, 0, 1})));
  EXPECT_EQ(rows[1].rfind(closedHead, 0), 0u);
  EXPECT_GT(rows[1].size(), closedHead.size()) << "the reason is missing";

  // Plugged back under the same name: selected again by name.
  ASSERT_TRUE(pair.Open());
  ASSERT_TRUE(slave.WaitReady());  // the slave reopened its end
  ASSERT_TRUE(testutil::RunUntil([&] { return p.f().cmbRtuPort.ListIndex() == 0; }, 2500));
  EXPECT_EQ(p.f().cmbRtuPort.Text(), port);
  EXPECT_EQ(p.f().ComPortName, port);

  p.SetRequest(3, "4", "1");
  p.Mark();
  ASSERT_TRUE(p.Send());
  EXPECT_EQ(p.Rows(), (std::vector<std::string>{"", "Open " + port + "...", port + " opened",
                                                Req(WithCrc({1, 3, 0, 4, 0, 1})), Rsp(WithCrc({1, 3, 2, 0, 4}))}));
  EXPECT_EQ(p.f().txtResponse.Text(), "HR 00004: 4");
}

}  // namespace
