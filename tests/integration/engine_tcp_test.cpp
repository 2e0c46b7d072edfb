// The whole transaction in TCP mode on the real Qt socket against the
// libmodbus slave on 127.0.0.1: connect on demand, every function code with
// the slave's known contents, writes read back, a Modbus exception, a refused
// connection, a slave that closes the connection, a request time-out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "panel_rig.h"

namespace {

using rig::Adu;
using rig::kTcp;
using rig::Req;
using rig::Rsp;

std::string ConnectRow(int port) { return "Connect to 127.0.0.1:" + std::to_string(port) + "..."; }

// The slave's request log as it should read for these frames.
std::vector<std::string> LoggedAs(const std::vector<Frame>& frames) {
  std::vector<std::string> out;
  for (const Frame& f : frames) out.push_back("REQ " + rig::Hex(f));
  return out;
}

TEST(EngineTcpTest, FirstSendConnectsAndEveryReadShowsTheSlavesContents) {
  rig::Peer slave;
  const int port = slave.StartTcpSlave();
  ASSERT_GT(port, 0);
  rig::Panel p;
  p.UseSocket(kTcp, port);
  p.SetRequest(3, "0", "1");
  ASSERT_TRUE(p.Send());
  const Frame first = Adu(kTcp, 1, {1, 3, 0, 0, 0, 1});
  EXPECT_EQ(p.Rows(), (std::vector<std::string>{"", ConnectRow(port), "Connected", Req(first),
                                                Rsp(Adu(kTcp, 1, {1, 3, 2, 0, 0}))}));
  EXPECT_EQ(p.f().txtResponse.Text(), "HR 00000: 0");
  // Host and port cannot change while the connection is up.
  EXPECT_FALSE(p.f().txtTcpHost.Enabled());
  EXPECT_FALSE(p.f().txtTcpPort.Enabled());

  const std::vector<rig::Exchange> reads = rig::ReadExchanges();
  rig::RunExchanges(p, kTcp, reads);

  // What reached the slave is byte for byte what the log shows as sent.
  std::vector<Frame> sent = {first};
  int tid = 1;
  for (const rig::Exchange& e : reads)
    for (const Frame& pdu : e.requests) sent.push_back(Adu(kTcp, ++tid, pdu));
  EXPECT_EQ(slave.Requests(), LoggedAs(sent));
}

TEST(EngineTcpTest, WritesOfEveryWriteFunctionLandOnTheSlave) {
  rig::Peer slave;
  const int port = slave.StartTcpSlave();
  ASSERT_GT(port, 0);
  rig::Panel p;
  p.UseSocket(kTcp, port);
  ASSERT_EQ(p.f().cmdTcpConnect.Caption(), "Connect");
  p.f().cmdTcpConnect_Click();
  ASSERT_TRUE(p.WaitRow("Connected", 3000));
  rig::RunExchanges(p, kTcp, rig::WriteExchanges(p.f().Platform().locale->DecimalSeparator()));
}

TEST(EngineTcpTest, RefusedAddressIsLoggedAsModbusExceptionWithoutHighlight) {
  rig::Peer slave;
  const int port = slave.StartTcpSlave();
  ASSERT_GT(port, 0);
  rig::Panel p;
  p.UseSocket(kTcp, port);
  p.SetRequest(3, "0", "1");
  ASSERT_TRUE(p.Send());
  const std::string shown = p.f().txtResponse.Text();

  p.SetRequest(3, "1000", "1");
  p.Mark();
  ASSERT_TRUE(p.Send());
  EXPECT_EQ(p.Rows(),
            (std::vector<std::string>{Req(Adu(kTcp, 2, {1, 3, 0x03, 0xE8, 0, 1})), Rsp(Adu(kTcp, 2, {1, 0x83, 2})),
                                      "Modbus Exception: Illegal Data Address (Code 2)"}));
  EXPECT_EQ(p.RowColors(), (std::vector<uint32_t>{LogColorInfo, LogColorInfo, LogColorError}));
  EXPECT_EQ(p.ResponseByteColors(), std::vector<uint32_t>(9, LogColorInfo));
  // The view keeps the last answer, greyed.
  EXPECT_EQ(p.f().txtResponse.Text(), shown);
  EXPECT_FALSE(p.f().txtResponse.Enabled());
  EXPECT_EQ(p.f().lblDT.ForeColor(), 0x80000011u);
}

TEST(EngineTcpTest, RefusedConnectionLogsTheSocketErrorThenConnectTimeout) {
  const int port = vesk::test::FreeTcpPort();  // nothing listens there
  ASSERT_GT(port, 0);
  rig::Panel p;
  p.UseSocket(kTcp, port, "400");
  p.SetRequest(3, "0", "1");
  ASSERT_TRUE(p.Send(3000));
  EXPECT_EQ(p.Rows(),
            (std::vector<std::string>{"", ConnectRow(port), "Communication Error: Connection refused (Code 0)",
                                      "Communication Error: Connect timeout"}));
  EXPECT_EQ(p.RowColors(), (std::vector<uint32_t>{LogColorInfo, LogColorError, LogColorError}));
  // The time-out counts from the connect, not from the error.
  const auto stamped = p.StampedRows();
  ASSERT_EQ(stamped.size(), 3u);
  EXPECT_GE(stamped[2].second - stamped[0].second, 380);
  EXPECT_LT(stamped[2].second - stamped[0].second, 1500);
  EXPECT_TRUE(p.f().Requests.empty());
  EXPECT_EQ(p.f().ws->State(), 0);
  EXPECT_TRUE(p.f().txtTcpHost.Enabled());
  EXPECT_TRUE(p.f().txtTcpPort.Enabled());
  // Nothing follows.
  p.Mark();
  testutil::RunFor(600);
  EXPECT_TRUE(p.Rows().empty());
}

TEST(EngineTcpTest, ConnectionClosedBySlaveIsReopenedByTheNextSend) {
  rig::Peer slave;
  const int port = slave.StartTcpSlave({"--close-after", "1"});
  ASSERT_GT(port, 0);
  rig::Panel p;
  p.UseSocket(kTcp, port);
  p.SetRequest(4, "3", "1", 1);
  ASSERT_TRUE(p.Send());
  // The slave closes after its answer; the socket notices without an event.
  ASSERT_TRUE(testutil::RunUntil([&] { return p.f().ws->State() == 9; }, 3000));
  p.Mark();
  testutil::RunFor(100);
  EXPECT_TRUE(p.Rows().empty());

  ASSERT_TRUE(p.Send());
  EXPECT_EQ(p.Rows(), (std::vector<std::string>{"Disconnected", "", ConnectRow(port), "Connected",
                                                Req(Adu(kTcp, 2, {1, 4, 0, 3, 0, 1})),
                                                Rsp(Adu(kTcp, 2, {1, 4, 2, 0x03, 0xEB}))}));
  EXPECT_EQ(p.f().txtResponse.Text(), "IR 00003: 1003");
}

TEST(EngineTcpTest, RequestTimeoutClosesTheConnectionAndTheNextSendReconnects) {
  rig::Peer slave;
  const int port = slave.StartTcpSlave();
  ASSERT_GT(port, 0);
  rig::Panel p;
  p.UseSocket(kTcp, port, "400");
  p.SetRequest(3, "0", "1", 0, "7");  // a slave id the slave does not serve
  ASSERT_TRUE(p.Send(3000));
  const Frame unanswered = Adu(kTcp, 1, {7, 3, 0, 0, 0, 1});
  EXPECT_EQ(p.Rows(), (std::vector<std::string>{"", ConnectRow(port), "Connected", Req(unanswered),
                                                "Communication Error: Request Timeout", "Disconnected"}));
  const auto stamped = p.StampedRows();
  ASSERT_EQ(stamped.size(), 5u);
  EXPECT_GE(stamped[3].second - stamped[2].second, 390);
  EXPECT_LT(stamped[3].second - stamped[2].second, 1000);
  EXPECT_EQ(p.f().ws->State(), 0);
  EXPECT_EQ(p.f().lblDT.Caption(), "");
  EXPECT_EQ(slave.Requests(), LoggedAs({unanswered}));

  p.f().txtUnitID.SetText("1");
  p.Mark();
  ASSERT_TRUE(p.Send());
  EXPECT_EQ(p.Rows(),
            (std::vector<std::string>{"", ConnectRow(port), "Connected", Req(Adu(kTcp, 2, {1, 3, 0, 0, 0, 1})),
                                      Rsp(Adu(kTcp, 2, {1, 3, 2, 0, 0}))}));
}

TEST(EngineTcpTest, ResponseTimeLabelShowsHowLongTheSlaveTook) {
  rig::Peer slave;
  const int port = slave.StartTcpSlave({"--delay-ms", "150"});
  ASSERT_GT(port, 0);
  rig::Panel p;
  p.UseSocket(kTcp, port, "2000");
  p.SetRequest(3, "1", "1");
  ASSERT_TRUE(p.Send());
  ASSERT_EQ(p.f().txtResponse.Text(), "HR 00001: 1");
  const std::string dt = p.f().lblDT.Caption();
  ASSERT_GT(dt.size(), 3u);
  ASSERT_EQ(dt.substr(dt.size() - 3), " ms");
  const int ms = std::stoi(dt.substr(0, dt.size() - 3));
  EXPECT_GE(ms, 150);
  EXPECT_LT(ms, 1000);
  EXPECT_EQ(p.f().lblDT.ForeColor(), 0x80000012u);
}

}  // namespace
