// Self-test of the test peers and the harness: the slave's contents over TCP and over a pty pair,
// its options, the fault peer's script steps read with a plain socket, and the TCP-to-pty bridge.
#include <errno.h>
#include <gtest/gtest.h>
#include <modbus.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "peer_harness.h"
#include "slave_contents.h"

namespace vesk::test {
namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

Bytes Hex(const std::string& text) {
  Bytes out;
  std::istringstream in(text);
  std::string word;
  while (in >> word) out.push_back(static_cast<uint8_t>(std::stoul(word, nullptr, 16)));
  return out;
}

std::string ToHex(const Bytes& b) {
  std::string s;
  char buf[4];
  for (uint8_t v : b) {
    std::snprintf(buf, sizeof buf, s.empty() ? "%02X" : " %02X", v);
    s += buf;
  }
  return s;
}

long ElapsedMs(Clock::time_point since) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

// A plain TCP client on 127.0.0.1 for byte-exact exchanges.
class RawClient {
 public:
  explicit RawClient(int port) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (fd_ >= 0 && connect(fd_, reinterpret_cast<struct sockaddr*>(&addr), sizeof addr) != 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~RawClient() { Close(); }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool Connected() const { return fd_ >= 0; }
  bool Send(const Bytes& b) { return fd_ >= 0 && send(fd_, b.data(), b.size(), MSG_NOSIGNAL) == ssize_t(b.size()); }

  // Reads until n bytes are in or the time is up; returns what arrived.
  Bytes Read(size_t n, int timeout_ms = 2000) {
    Bytes got;
    const auto start = Clock::now();
    while (got.size() < n && fd_ >= 0) {
      int left = timeout_ms - static_cast<int>(ElapsedMs(start));
      if (left <= 0) break;
      struct pollfd p = {fd_, POLLIN, 0};
      if (poll(&p, 1, left) <= 0) break;
      uint8_t buf[512];
      ssize_t r = recv(fd_, buf, std::min(sizeof buf, n - got.size()), 0);
      if (r <= 0) {
        last_recv_ = r;
        last_errno_ = errno;
        break;
      }
      got.insert(got.end(), buf, buf + r);
    }
    return got;
  }

  // Waits for the peer to end the connection: 0 for an orderly close, ECONNRESET for a reset,
  // -1 when the connection is still up after the time-out (or data arrived instead).
  int WaitEnd(int timeout_ms = 2000) {
    last_recv_ = 1;
    Bytes extra = Read(1, timeout_ms);
    if (!extra.empty() || last_recv_ > 0) return -1;
    return last_recv_ == 0 ? 0 : last_errno_;
  }

  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  void Reset() {
    struct linger lg = {1, 0};
    if (fd_ >= 0) setsockopt(fd_, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    Close();
  }

 private:
  int fd_ = -1;
  ssize_t last_recv_ = 1;
  int last_errno_ = 0;
};

struct ModbusDeleter {
  void operator()(modbus_t* ctx) const {
    modbus_close(ctx);
    modbus_free(ctx);
  }
};
using ModbusPtr = std::unique_ptr<modbus_t, ModbusDeleter>;

// A started peer with its temp dir (for logs and scripts).
class PeerFixture : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = MakeTempDir("vesk-peers-test-"); }
  void TearDown() override {
    slave_.Stop();
    peer_.Stop();
    RemoveTempDir(dir_);
  }

  int StartSlaveTcp(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--tcp", "0"};
    args.insert(args.end(), extra.begin(), extra.end());
    if (!slave_.Start(VESK_MODBUS_SLAVE_PATH, args)) return 0;
    auto ready = slave_.WaitReady();
    return ready ? std::stoi(*ready) : 0;
  }

  int StartFaultPeer(const std::string& script, std::vector<std::string> extra = {}) {
    const std::string path = dir_ + "/script.txt";
    std::ofstream(path) << script;
    std::vector<std::string> args = {"--port", "0", "--script", path};
    args.insert(args.end(), extra.begin(), extra.end());
    if (!peer_.Start(VESK_FAULT_PEER_PATH, args)) return 0;
    auto ready = peer_.WaitReady();
    return ready ? std::stoi(*ready) : 0;
  }

  std::string dir_;
  PeerProcess slave_;
  PeerProcess peer_;
};

// ---- modbus_slave: contents over TCP and RTU ----------------------------------------------------

enum class Link { kTcp, kRtu };

class SlaveContentsTest : public ::testing::TestWithParam<Link> {
 protected:
  void SetUp() override {
    if (GetParam() == Link::kTcp) {
      ASSERT_TRUE(slave_.Start(VESK_MODBUS_SLAVE_PATH, {"--tcp", "0", "--id", "7"}));
      auto ready = slave_.WaitReady();
      ASSERT_TRUE(ready);
      ctx_.reset(modbus_new_tcp("127.0.0.1", std::stoi(*ready)));
    } else {
      ASSERT_TRUE(pty_.Open());
      ASSERT_TRUE(slave_.Start(VESK_MODBUS_SLAVE_PATH,
                               {"--rtu", pty_.B(), "--baud", "19200", "--parity", "E", "--stop", "1", "--id", "7"}));
      ASSERT_EQ(slave_.WaitReady(), pty_.B());
      ctx_.reset(modbus_new_rtu(pty_.A().c_str(), 19200, 'E', 8, 1));
    }
    ASSERT_TRUE(ctx_);
    modbus_set_slave(ctx_.get(), 7);
    modbus_set_response_timeout(ctx_.get(), 1, 0);
    ASSERT_EQ(modbus_connect(ctx_.get()), 0) << modbus_strerror(errno);
  }
  void TearDown() override {
    ctx_.reset();
    EXPECT_EQ(slave_.Stop(), 0) << "the slave ends cleanly on SIGTERM";
  }

  PtyPair pty_;
  PeerProcess slave_;
  ModbusPtr ctx_;
};

TEST_P(SlaveContentsTest, ServesTheDocumentedTables) {
  modbus_t* ctx = ctx_.get();
  std::vector<uint8_t> bits(VESK_SLAVE_TABLE_SIZE);
  ASSERT_EQ(modbus_read_bits(ctx, 0, VESK_SLAVE_TABLE_SIZE, bits.data()), VESK_SLAVE_TABLE_SIZE);
  for (int i = 0; i < VESK_SLAVE_TABLE_SIZE; ++i) ASSERT_EQ(bits[i], vesk_slave_coil(i)) << "coil " << i;
  ASSERT_EQ(modbus_read_input_bits(ctx, 0, VESK_SLAVE_TABLE_SIZE, bits.data()), VESK_SLAVE_TABLE_SIZE);
  for (int i = 0; i < VESK_SLAVE_TABLE_SIZE; ++i) ASSERT_EQ(bits[i], vesk_slave_discrete_input(i)) << "input " << i;

  uint16_t regs[125];
  for (int start = 0; start < VESK_SLAVE_TABLE_SIZE; start += 125) {
    ASSERT_EQ(modbus_read_registers(ctx, start, 125, regs), 125);
    for (int i = 0; i < 125; ++i) ASSERT_EQ(regs[i], vesk_slave_holding_register(start + i)) << start + i;
    ASSERT_EQ(modbus_read_input_registers(ctx, start, 125, regs), 125);
    for (int i = 0; i < 125; ++i) ASSERT_EQ(regs[i], vesk_slave_input_register(start + i)) << start + i;
  }
  // The documented fixed values, read as a master would.
  ASSERT_EQ(modbus_read_registers(ctx, VESK_SLAVE_REG_FLOAT_ONE, 14, regs), 14);
  EXPECT_EQ(modbus_get_float_abcd(regs), 1.0f);
  EXPECT_EQ((uint32_t(regs[2]) << 16) | regs[3], 0x12345678u);
  EXPECT_EQ(int32_t((uint32_t(regs[4]) << 16) | regs[5]), -2);
  EXPECT_EQ(regs[6], 0x3FF0);
  EXPECT_EQ(int16_t(regs[10]), -32768);
  EXPECT_EQ(regs[11], 0xFFFF);
  EXPECT_EQ(modbus_get_float_cdab(regs + 12), 1.0f);
}

TEST_P(SlaveContentsTest, AddressesPastTheTablesGiveIllegalDataAddress) {
  modbus_t* ctx = ctx_.get();
  uint8_t bits[2];
  uint16_t regs[2];
  struct Case {
    const char* what;
    std::function<int()> call;
  };
  const Case cases[] = {
      {"coils 999-1000", [&] { return modbus_read_bits(ctx, 999, 2, bits); }},
      {"inputs 1000", [&] { return modbus_read_input_bits(ctx, 1000, 1, bits); }},
      {"holding 999-1000", [&] { return modbus_read_registers(ctx, 999, 2, regs); }},
      {"input registers 1000", [&] { return modbus_read_input_registers(ctx, 1000, 1, regs); }},
      {"write register 1000", [&] { return modbus_write_register(ctx, 1000, 1); }},
  };
  for (const Case& c : cases) {
    errno = 0;
    EXPECT_EQ(c.call(), -1) << c.what;
    EXPECT_EQ(errno, EMBXILADD) << c.what;
  }
  EXPECT_EQ(modbus_read_registers(ctx, 999, 1, regs), 1) << "the last address is served";
}

TEST_P(SlaveContentsTest, WritesAreKept) {
  modbus_t* ctx = ctx_.get();
  const uint16_t values[] = {0xABCD, 0x0102};
  ASSERT_EQ(modbus_write_register(ctx, 5, 0xBEEF), 1);
  ASSERT_EQ(modbus_write_registers(ctx, 6, 2, values), 2);
  ASSERT_EQ(modbus_write_bit(ctx, 1, 1), 1);
  uint16_t regs[3];
  uint8_t bit = 0;
  ASSERT_EQ(modbus_read_registers(ctx, 5, 3, regs), 3);
  EXPECT_EQ(regs[0], 0xBEEF);
  EXPECT_EQ(regs[1], 0xABCD);
  EXPECT_EQ(regs[2], 0x0102);
  ASSERT_EQ(modbus_read_bits(ctx, 1, 1, &bit), 1);
  EXPECT_EQ(bit, 1);
}

TEST_P(SlaveContentsTest, RequestsForAnotherIdAreNotAnswered) {
  modbus_set_slave(ctx_.get(), 8);
  modbus_set_response_timeout(ctx_.get(), 0, 300000);
  uint16_t reg;
  EXPECT_EQ(modbus_read_registers(ctx_.get(), 0, 1, &reg), -1);
  EXPECT_EQ(errno, ETIMEDOUT);
  modbus_set_slave(ctx_.get(), 7);
  modbus_flush(ctx_.get());
  EXPECT_EQ(modbus_read_registers(ctx_.get(), 3, 1, &reg), 1) << "its own id is still served";
  EXPECT_EQ(reg, 3);
}

INSTANTIATE_TEST_SUITE_P(Links, SlaveContentsTest, ::testing::Values(Link::kTcp, Link::kRtu),
                         [](const auto& info) { return info.param == Link::kTcp ? "Tcp" : "Rtu"; });

// ---- modbus_slave: options and robustness -------------------------------------------------------

using SlaveTest = PeerFixture;

TEST_F(SlaveTest, LogsEachRequestBeforeAnsweringIt) {
  const std::string log = dir_ + "/slave.log";
  int port = StartSlaveTcp({"--log", log});
  ASSERT_NE(port, 0);
  RawClient c(port);
  ASSERT_TRUE(c.Connected());
  ASSERT_TRUE(c.Send(Hex("00 07 00 00 00 06 01 03 00 64 00 02")));
  EXPECT_EQ(ToHex(c.Read(13)), "00 07 00 00 00 07 01 03 04 3F 80 00 00");
  ASSERT_TRUE(c.Send(Hex("00 08 00 00 00 06 09 03 00 00 00 01")));  // another unit id: logged, unanswered
  EXPECT_TRUE(c.Read(1, 300).empty());
  const std::vector<std::string> want = {"REQ 00 07 00 00 00 06 01 03 00 64 00 02",
                                         "REQ 00 08 00 00 00 06 09 03 00 00 00 01"};
  EXPECT_EQ(ReadLines(log), want);
}

TEST_F(SlaveTest, DelaysEachAnswer) {
  int port = StartSlaveTcp({"--delay-ms", "300"});
  ASSERT_NE(port, 0);
  RawClient c(port);
  const auto start = Clock::now();
  ASSERT_TRUE(c.Send(Hex("00 01 00 00 00 06 01 04 00 00 00 01")));
  EXPECT_EQ(ToHex(c.Read(11)), "00 01 00 00 00 05 01 04 02 03 E8");
  EXPECT_GE(ElapsedMs(start), 300);
}

TEST_F(SlaveTest, ClosesTheConnectionAfterTheGivenNumberOfAnswers) {
  int port = StartSlaveTcp({"--close-after", "2"});
  ASSERT_NE(port, 0);
  for (int round = 0; round < 2; ++round) {  // every new connection gets its own count
    RawClient c(port);
    for (int i = 0; i < 2; ++i) {
      ASSERT_TRUE(c.Send(Hex("00 01 00 00 00 06 01 03 00 00 00 01")));
      EXPECT_EQ(c.Read(11).size(), 11u) << "round " << round << " answer " << i;
    }
    EXPECT_EQ(c.WaitEnd(), 0);
  }
}

TEST_F(SlaveTest, SurvivesGarbageResetsAndIdleClients) {
  int port = StartSlaveTcp();
  ASSERT_NE(port, 0);
  RawClient idle(port);  // stays connected without sending: must not block the others
  ASSERT_TRUE(idle.Connected());
  {
    RawClient garbage(port);
    ASSERT_TRUE(garbage.Send(Hex("FF 13 37 00 00 00 09 01 9A 44 44 44 44 44 44")));
  }
  {
    RawClient half(port);
    ASSERT_TRUE(half.Send(Hex("00 01 00 00")));
    half.Reset();
  }
  for (int i = 0; i < 3; ++i) {
    RawClient c(port);
    ASSERT_TRUE(c.Send(Hex("00 02 00 00 00 06 01 02 00 00 00 08")));
    EXPECT_EQ(ToHex(c.Read(10)), "00 02 00 00 00 04 01 02 01 AA") << "client " << i;
  }
  EXPECT_TRUE(slave_.Running());
}

TEST_F(SlaveTest, RtuSlaveComesBackWhenThePtyIsRecreated) {
  PtyPair pty;
  ASSERT_TRUE(pty.Open());
  ASSERT_TRUE(slave_.Start(VESK_MODBUS_SLAVE_PATH, {"--rtu", pty.B()}));
  ASSERT_EQ(slave_.WaitReady(), pty.B());
  pty.Close();
  ASSERT_TRUE(pty.Open());
  ASSERT_EQ(slave_.WaitReady(), pty.B()) << "the slave reopens the path and says so";
  ModbusPtr ctx(modbus_new_rtu(pty.A().c_str(), 9600, 'N', 8, 1));
  modbus_set_slave(ctx.get(), 1);
  modbus_set_response_timeout(ctx.get(), 1, 0);
  ASSERT_EQ(modbus_connect(ctx.get()), 0);
  uint16_t reg = 0;
  EXPECT_EQ(modbus_read_input_registers(ctx.get(), 2, 1, &reg), 1);
  EXPECT_EQ(reg, 1002);
}

// ---- fault_peer ---------------------------------------------------------------------------------

struct ReplyCase {
  const char* name;
  const char* script;
  bool rtu;
  const char* request;
  const char* reply;
};

const ReplyCase kReplyCases[] = {
    {"placeholders", "reply TID 00 00 00 05 UID FC 02 00 07", false, "12 34 00 00 00 06 11 03 00 00 00 01",
     "12 34 00 00 00 05 11 03 02 00 07"},
    {"length_and_exception", "reply TID 00 00 LEN UID EFC 02", false, "12 34 00 00 00 06 11 03 00 00 00 01",
     "12 34 00 00 00 03 11 83 02"},
    {"rtu_crc", "reply 01 03 04 00 01 00 02 CRC", true, "01 03 00 00 00 02 C4 0B", "01 03 04 00 01 00 02 2A 32"},
    {"bad_crc_as_written", "reply 01 03 02 00 00 00 00", true, "01 03 00 00 00 01 84 0A", "01 03 02 00 00 00 00"},
    {"echo_read_registers", "echo", false, "00 05 00 00 00 06 01 03 00 00 00 02",
     "00 05 00 00 00 07 01 03 04 00 00 00 00"},
    {"echo_read_coils", "echo", false, "00 06 00 00 00 06 01 01 00 00 00 0A", "00 06 00 00 00 05 01 01 02 00 00"},
    {"echo_write_multiple", "echo", false, "00 07 00 00 00 0B 01 10 00 01 00 02 04 00 0A 01 02",
     "00 07 00 00 00 06 01 10 00 01 00 02"},
    {"echo_rtu_read", "echo", true, "01 03 00 00 00 01 84 0A", "01 03 02 00 00 B8 44"},
    {"echo_rtu_write_single", "echo", true, "01 06 00 01 00 03 98 0B", "01 06 00 01 00 03 98 0B"},
};

class FaultPeerReply : public PeerFixture, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(FaultPeerReply, AnswersAsScripted) {
  const ReplyCase& c = GetParam();
  int port = StartFaultPeer(c.script, c.rtu ? std::vector<std::string>{"--rtu"} : std::vector<std::string>{});
  ASSERT_NE(port, 0);
  RawClient client(port);
  const Bytes want = Hex(c.reply);
  ASSERT_TRUE(client.Send(Hex(c.request)));
  EXPECT_EQ(ToHex(client.Read(want.size() + 1, 200)), c.reply) << "and nothing more";
}

INSTANTIATE_TEST_SUITE_P(Steps, FaultPeerReply, ::testing::ValuesIn(kReplyCases),
                         [](const auto& info) { return std::string(info.param.name); });

using FaultPeerTest = PeerFixture;

TEST_F(FaultPeerTest, ChunksArriveWithThePauseBetweenThem) {
  int port = StartFaultPeer("chunks 150 TID 00 | 00 00 05 UID FC | 02 00 07\n");
  ASSERT_NE(port, 0);
  RawClient c(port);
  const auto start = Clock::now();
  ASSERT_TRUE(c.Send(Hex("AB CD 00 00 00 06 01 03 00 00 00 01")));
  EXPECT_EQ(ToHex(c.Read(11)), "AB CD 00 00 00 05 01 03 02 00 07");
  EXPECT_GE(ElapsedMs(start), 300) << "two pauses of 150 ms";
}

TEST_F(FaultPeerTest, DropAndDelayThenAnswer) {
  int port = StartFaultPeer("drop\ndelay 200 echo\n");
  ASSERT_NE(port, 0);
  RawClient c(port);
  ASSERT_TRUE(c.Send(Hex("00 01 00 00 00 06 01 03 00 00 00 01")));
  EXPECT_TRUE(c.Read(1, 300).empty()) << "drop answers nothing";
  const auto start = Clock::now();
  ASSERT_TRUE(c.Send(Hex("00 02 00 00 00 06 01 03 00 00 00 01")));
  EXPECT_EQ(ToHex(c.Read(11)), "00 02 00 00 00 05 01 03 02 00 00");
  EXPECT_GE(ElapsedMs(start), 200);
}

TEST_F(FaultPeerTest, CloseAndResetEndTheConnectionAndTheScriptGoesOn) {
  int port = StartFaultPeer("close\nreset\ngarbage 5\n");
  ASSERT_NE(port, 0);
  const Bytes request = Hex("00 01 00 00 00 06 01 03 00 00 00 01");
  {
    RawClient c(port);
    ASSERT_TRUE(c.Send(request));
    EXPECT_EQ(c.WaitEnd(), 0) << "close: orderly end";
  }
  {
    RawClient c(port);
    ASSERT_TRUE(c.Send(request));
    EXPECT_EQ(c.WaitEnd(), ECONNRESET) << "reset: RST";
  }
  RawClient c(port);
  ASSERT_TRUE(c.Send(request));
  EXPECT_EQ(c.Read(6, 200).size(), 5u) << "garbage: exactly the given number of bytes";
}

TEST_F(FaultPeerTest, PipelinedRequestsAreFramedByTheMbapLength) {
  int port = StartFaultPeer("reply 01\nreply 02\n");
  ASSERT_NE(port, 0);
  RawClient c(port);
  ASSERT_TRUE(c.Send(Hex("00 01 00 00 00 06 01 03 00 00 00 01 00 02 00 00 00 06 01 03 00 00 00 01")));
  EXPECT_EQ(ToHex(c.Read(2)), "01 02");
}

TEST_F(FaultPeerTest, RepeatsTheLastStepOrLoopsAndLogsEveryRequest) {
  struct Case {
    bool loop;
    const char* want;
  };
  for (const Case& k : {Case{false, "01 02 02 02"}, Case{true, "01 02 01 02"}}) {
    const std::string log = dir_ + (k.loop ? "/loop.log" : "/repeat.log");
    std::vector<std::string> extra = {"--log", log};
    if (k.loop) extra.push_back("--loop");
    int port = StartFaultPeer("# one byte per answer\nreply 01\n\nreply 02  # then this\n", extra);
    ASSERT_NE(port, 0);
    RawClient c(port);
    Bytes answers;
    for (int i = 0; i < 4; ++i) {
      ASSERT_TRUE(c.Send(Hex("00 0" + std::to_string(i) + " 00 00 00 02 01 07")));
      Bytes b = c.Read(1);
      answers.insert(answers.end(), b.begin(), b.end());
    }
    EXPECT_EQ(ToHex(answers), k.want) << (k.loop ? "--loop" : "repeat");
    std::vector<std::string> lines = ReadLines(log);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[3], "REQ 00 03 00 00 00 02 01 07");
    peer_.Stop();
  }
}

TEST_F(FaultPeerTest, RejectsABadScript) {
  for (const char* script : {"reply 0G\n", "chunks x 01\n", "wobble\n", "drop 3\n", "garbage\n"}) {
    const std::string path = dir_ + "/bad.txt";
    std::ofstream(path) << script;
    ASSERT_TRUE(peer_.Start(VESK_FAULT_PEER_PATH, {"--port", "0", "--script", path}, dir_ + "/stderr.txt"));
    EXPECT_FALSE(peer_.WaitReady());
    EXPECT_EQ(peer_.Stop(), 2) << script;
  }
}

TEST_F(FaultPeerTest, ServesASerialDeviceForAnRtuMaster) {
  PtyPair pty;
  ASSERT_TRUE(pty.Open());
  const std::string script = dir_ + "/serial.txt";
  std::ofstream(script) << "chunks 100 01 03 | 02 00 07 CRC\nreply 01 03 02 00 07 00 00\n";
  ASSERT_TRUE(peer_.Start(VESK_FAULT_PEER_PATH, {"--device", pty.B(), "--script", script}));
  ASSERT_EQ(peer_.WaitReady(), pty.B());
  ModbusPtr ctx(modbus_new_rtu(pty.A().c_str(), 9600, 'N', 8, 1));
  modbus_set_slave(ctx.get(), 1);
  modbus_set_response_timeout(ctx.get(), 1, 0);
  ASSERT_EQ(modbus_connect(ctx.get()), 0);
  uint16_t reg = 0;
  EXPECT_EQ(modbus_read_registers(ctx.get(), 0, 1, &reg), 1) << "a split answer with a good checksum";
  EXPECT_EQ(reg, 7);
  EXPECT_EQ(modbus_read_registers(ctx.get(), 0, 1, &reg), -1);
  EXPECT_EQ(errno, EMBBADCRC) << "the second answer's checksum is wrong as scripted";
}

// ---- TCP-to-pty bridge ---------------------------------------------------------------------------

TEST(TcpToPtyBridgeTest, CarriesRtuFramesToTheSlaveAcrossReconnects) {
  TcpToPtyBridge bridge;
  ASSERT_TRUE(bridge.Open());
  PeerProcess slave;
  ASSERT_TRUE(slave.Start(VESK_MODBUS_SLAVE_PATH, {"--rtu", bridge.PtyPath()}));
  ASSERT_TRUE(slave.WaitReady());
  // Each client leaves and the next one connects at once: the answer must reach the new client.
  for (int round = 0; round < 3; ++round) {
    RawClient c(bridge.Port());
    ASSERT_TRUE(c.Connected()) << "round " << round;
    ASSERT_TRUE(c.Send(Hex("01 03 00 64 00 02 85 D4")));
    EXPECT_EQ(ToHex(c.Read(9)), "01 03 04 3F 80 00 00 F7 CF") << "round " << round;
  }
}

}  // namespace
}  // namespace vesk::test
