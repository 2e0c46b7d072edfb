// Nothing unintended reaches a real slave: a request the panel refuses to
// compose puts no byte on the wire (the slave's own request log stays empty),
// and an open serial port keeps the line settings it was opened with when the
// port list is rebuilt around it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "panel_rig.h"

namespace {

using rig::kRtu;
using rig::kTcp;
using rig::Req;
using rig::Rsp;
using rig::WithCrc;

struct Refused {
  const char* name;
  std::string addr;
  std::string value;
  int format;
  std::string unit;
};

const Refused kRefused[] = {
    {"32-bit value with 06 at register 65535", "65535", "1", 2, "1"},
    {"32-bit value with 06 at register 0xFFFF", "0xFFFF", "-1", 6, "1"},
    {"slave 300", "5", "1", 0, "300"},
    {"slave -1", "5", "1", 0, "-1"},
};

// A refused request: one red row, a beep, nothing queued or awaited; the
// transport is made ready as for any Send. `ready` are the rows of that.
void ExpectRefused(rig::Panel& p, const std::vector<std::string>& ready) {
  const std::vector<std::string> rows = p.Rows();
  ASSERT_EQ(rows.size(), 1 + ready.size()) << ::testing::PrintToString(rows);
  EXPECT_EQ(rows[0].rfind("Communication Error: ", 0), 0u) << rows[0];
  EXPECT_EQ(std::vector<std::string>(rows.begin() + 1, rows.end()), ready);
  EXPECT_EQ(p.RowColors().front(), LogColorError);
  EXPECT_TRUE(p.f().Requests.empty());
  EXPECT_FALSE(p.f().AwaitingResponse);
}

TEST(WireSafetyTest, RefusedRequestsPutNothingOnTheSocket) {
  for (const Refused& c : kRefused) {
    SCOPED_TRACE(c.name);
    rig::Peer slave;
    const int port = slave.StartTcpSlave();
    ASSERT_GT(port, 0);
    rig::Panel p;
    p.UseSocket(kTcp, port);
    p.SetRequest(6, c.addr, c.value, c.format, c.unit);
    const int beeps = p.Beeps();
    ASSERT_TRUE(p.Send());
    ExpectRefused(p, {"", "Connect to 127.0.0.1:" + std::to_string(port) + "...", "Connected"});
    EXPECT_EQ(p.Beeps(), beeps + 1);
    testutil::RunFor(200);
    EXPECT_TRUE(slave.Requests().empty()) << ::testing::PrintToString(slave.Requests());

    // The slave logs what does reach it.
    p.SetRequest(3, "0", "1");
    p.Mark();
    ASSERT_TRUE(p.Send());
    EXPECT_EQ(p.Rows().size(), 2u);
    EXPECT_EQ(slave.Requests().size(), 1u);
  }
}

TEST(WireSafetyTest, RefusedRequestsPutNothingOnTheSerialLine) {
  vesk::test::PtyPair pair;
  ASSERT_TRUE(pair.Open());
  rig::Peer slave;
  ASSERT_TRUE(slave.StartSlave({"--rtu", pair.B()}));
  const std::string port = pair.A();
  for (const Refused& c : kRefused) {
    SCOPED_TRACE(c.name);
    rig::Panel p;
    p.UseSerial(port);
    p.SetRequest(6, c.addr, c.value, c.format, c.unit);
    ASSERT_TRUE(p.Send());
    ExpectRefused(p, {"", "Open " + port + "...", port + " opened"});
  }
  testutil::RunFor(200);
  EXPECT_TRUE(slave.Requests().empty()) << ::testing::PrintToString(slave.Requests());
}

// Reads the settings of a terminal through a descriptor of our own, opened
// before the panel's port takes the terminal exclusively.
termios SettingsOf(int fd) {
  termios t{};
  ::tcgetattr(fd, &t);
  return t;
}

TEST(WireSafetyTest, OpenPortKeepsItsLineSettingsWhenTheListIsRebuilt) {
  struct Case {
    const char* name;
    bool newPortFirst;
  };
  for (const Case& c : {Case{"new port listed after it", false}, Case{"new port listed before it", true}}) {
    SCOPED_TRACE(c.name);
    vesk::test::PtyPair pair;
    ASSERT_TRUE(pair.Open());
    rig::Peer slave;
    ASSERT_TRUE(slave.StartSlave({"--rtu", pair.B(), "--baud", "19200", "--parity", "E", "--stop", "2"}));
    const std::string port = pair.A();
    const int probe = ::open(port.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(probe, 0);

    rig::Panel p;
    p.UseSerial(port, "19200", 2, 1);
    p.SetRequest(3, "8", "1");
    ASSERT_TRUE(p.Send());
    ASSERT_EQ(p.f().txtResponse.Text(), "HR 00008: 8");
    const termios before = SettingsOf(probe);
    ASSERT_EQ(cfgetospeed(&before), B19200);

    // Another adapter appears; the refresh rebuilds the list around the open
    // port and keeps it selected by name.
    vesk::test::PtyPair other;
    ASSERT_TRUE(other.Open());
    p.ports().Set(c.newPortFirst ? std::vector<std::string>{other.A(), port}
                                 : std::vector<std::string>{port, other.A()});
    ASSERT_TRUE(testutil::RunUntil([&] { return p.f().cmbRtuPort.ListCount() == 2; }, 2500));
    EXPECT_EQ(p.f().cmbRtuPort.Text(), port);
    EXPECT_EQ(p.f().cmbRtuPort.ListIndex(), c.newPortFirst ? 1 : 0);
    EXPECT_TRUE(p.f().comm1->IsOpen());

    const termios t = SettingsOf(probe);
    ::close(probe);
    EXPECT_EQ(cfgetospeed(&t), B19200);
    EXPECT_NE(t.c_cflag & CSTOPB, 0u);

    p.Mark();
    ASSERT_TRUE(p.Send());
    EXPECT_EQ(p.Rows(), (std::vector<std::string>{Req(WithCrc({1, 3, 0, 8, 0, 1})), Rsp(WithCrc({1, 3, 2, 0, 8}))}));
    EXPECT_EQ(slave.Requests().size(), 2u);
  }
}

}  // namespace
