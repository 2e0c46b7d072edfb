// Smoke test of the test peers and their harness (the integration suite exercises them end to end):
// the slave serves its known contents over TCP and RTU, the fault peer answers as scripted.
#include <errno.h>
#include <gtest/gtest.h>
#include <modbus.h>

#include <fstream>
#include <memory>
#include <string>

#include "peer_harness.h"
#include "slave_contents.h"

namespace vesk::test {
namespace {

void Close(modbus_t* c) {
  modbus_close(c);
  modbus_free(c);
}
using Client = std::unique_ptr<modbus_t, decltype(&Close)>;

// A libmodbus client for slave `id`, connected, with a 1 s answer time-out.
Client Connect(modbus_t* ctx, int id) {
  modbus_set_slave(ctx, id);
  modbus_set_response_timeout(ctx, 1, 0);
  EXPECT_EQ(modbus_connect(ctx), 0) << modbus_strerror(errno);
  return Client(ctx, &Close);
}

// Every entry of the four tables, as slave_contents.h documents them.
void ExpectContents(modbus_t* ctx) {
  constexpr int n = VESK_SLAVE_TABLE_SIZE;
  uint8_t bits[n];
  ASSERT_EQ(modbus_read_bits(ctx, 0, n, bits), n);
  for (int i = 0; i < n; ++i) ASSERT_EQ(bits[i], vesk_slave_coil(i)) << "coil " << i;
  ASSERT_EQ(modbus_read_input_bits(ctx, 0, n, bits), n);
  for (int i = 0; i < n; ++i) ASSERT_EQ(bits[i], vesk_slave_discrete_input(i)) << "input " << i;
  uint16_t regs[125];
  for (int start = 0; start < n; start += 125) {
    ASSERT_EQ(modbus_read_registers(ctx, start, 125, regs), 125);
    for (int i = 0; i < 125; ++i) ASSERT_EQ(regs[i], vesk_slave_holding_register(start + i)) << start + i;
    ASSERT_EQ(modbus_read_input_registers(ctx, start, 125, regs), 125);
    for (int i = 0; i < 125; ++i) ASSERT_EQ(regs[i], vesk_slave_input_register(start + i)) << start + i;
  }
}

TEST(Peers, SlaveServesItsContentsOverTcpAndRtu) {
  PtyPair pty;
  ASSERT_TRUE(pty.Open());
  PeerProcess tcp, rtu;
  ASSERT_TRUE(tcp.Start(VESK_MODBUS_SLAVE_PATH, {"--tcp", "0", "--id", "7"}));
  ASSERT_TRUE(rtu.Start(VESK_MODBUS_SLAVE_PATH, {"--rtu", pty.B(), "--baud", "19200", "--parity", "E", "--id", "7"}));
  const std::optional<std::string> port = tcp.WaitReady();
  ASSERT_TRUE(port);
  ASSERT_EQ(rtu.WaitReady(), pty.B());
  ExpectContents(Connect(modbus_new_tcp("127.0.0.1", std::stoi(*port)), 7).get());
  ExpectContents(Connect(modbus_new_rtu(pty.A().c_str(), 19200, 'E', 8, 1), 7).get());
  EXPECT_EQ(tcp.Stop(), 0) << "the slave ends cleanly on SIGTERM";
}

TEST(Peers, FaultPeerAnswersAsScripted) {
  const std::string dir = MakeTempDir("vesk-peers-");
  std::ofstream(dir + "/script.txt") << "reply TID 00 00 00 05 UID FC 02 00 07\nreply TID 00 00 LEN UID EFC 02\n";
  PeerProcess peer;
  ASSERT_TRUE(peer.Start(VESK_FAULT_PEER_PATH, {"--port", "0", "--script", dir + "/script.txt"}));
  const std::optional<std::string> port = peer.WaitReady();
  ASSERT_TRUE(port);
  Client ctx = Connect(modbus_new_tcp("127.0.0.1", std::stoi(*port)), 17);
  uint16_t reg = 0;
  EXPECT_EQ(modbus_read_registers(ctx.get(), 0, 1, &reg), 1);
  EXPECT_EQ(reg, 7);
  EXPECT_EQ(modbus_read_registers(ctx.get(), 0, 1, &reg), -1);
  EXPECT_EQ(errno, EMBXILADD) << "the scripted exception 2";
  RemoveTempDir(dir);
}

}  // namespace
}  // namespace vesk::test
