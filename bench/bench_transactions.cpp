// Back-to-back transactions per second of the panel's engine, headless on the
// real Qt platform (QTcpSocket, QSerialPort), with the log and the response
// view at work, against the libmodbus test slave: n read requests are queued
// (500 at a time) and each answer sends the next. In the same run, with the
// same slave, a plain client does the same reads one after the other:
//   TCP           libmodbus modbus_read_registers over modbus_new_tcp;
//   RTU-OVER-TCP  libmodbus has no RTU framing over a socket, so a minimal
//                 blocking RTU-over-TCP client of this file goes through the
//                 very same socat bridge and pseudo-terminal as the engine;
//   RTU           libmodbus modbus_read_registers over modbus_new_rtu on the
//                 same pseudo-terminal pair as the engine.
// Engine and client take turns, several rounds each; the medians and their
// ratio are printed.
//
//   bench_transactions [--n 5000] [--rounds 5] [--only tcp|rtu-over-tcp|rtu]
#include <arpa/inet.h>
#include <modbus.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <optional>

#include "bench_rig.h"
#include "peer_harness.h"
#include "qt/QtPlatform.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

bool RegistersAsExpected(const uint16_t* regs) {
  // The slave's holding register i holds i below address 100.
  for (int i = 0; i < bench::kReadCount; ++i)
    if (regs[i] != bench::kReadAddress + i) return false;
  return true;
}

// ---- plain clients -------------------------------------------------------

// n reads with libmodbus on a connected context; seconds, or negative on a
// failed read.
double LibmodbusReads(modbus_t* ctx, long n) {
  uint16_t regs[bench::kReadCount];
  const auto t0 = Clock::now();
  for (long i = 0; i < n; ++i) {
    std::memset(regs, 0, sizeof regs);
    if (modbus_read_registers(ctx, bench::kReadAddress, bench::kReadCount, regs) != bench::kReadCount ||
        !RegistersAsExpected(regs)) {
      std::fprintf(stderr, "libmodbus read %ld failed: %s\n", i, modbus_strerror(errno));
      return -1;
    }
  }
  return Seconds(t0);
}

double LibmodbusTcp(int port, long n) {
  modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
  if (ctx == nullptr) return -1;
  modbus_set_slave(ctx, 1);
  double s = -1;
  if (modbus_connect(ctx) == 0) {
    s = LibmodbusReads(ctx, n);
    modbus_close(ctx);
  }
  modbus_free(ctx);
  return s;
}

double LibmodbusRtu(const std::string& device, int baud, long n) {
  modbus_t* ctx = modbus_new_rtu(device.c_str(), baud, 'N', 8, 1);
  if (ctx == nullptr) return -1;
  modbus_set_slave(ctx, 1);
  double s = -1;
  if (modbus_connect(ctx) == 0) {
    s = LibmodbusReads(ctx, n);
    modbus_close(ctx);
  }
  modbus_free(ctx);
  return s;
}

uint16_t Crc16(const uint8_t* p, size_t n) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int b = 0; b < 8; ++b) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
  }
  return crc;
}

// Reads exactly n bytes, each wait at most timeoutMs.
bool RecvExact(int fd, uint8_t* buf, size_t n, int timeoutMs) {
  size_t got = 0;
  while (got < n) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return false;
    const ssize_t r = recv(fd, buf + got, n - got, 0);
    if (r <= 0) return false;
    got += static_cast<size_t>(r);
  }
  return true;
}

// A minimal blocking RTU-over-TCP client: one request written, the whole
// answer read (its length is known), checksum and values checked.
double RtuOverTcpClient(int port, long n) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  uint8_t req[8] = {1, 3, 0, bench::kReadAddress, 0, bench::kReadCount, 0, 0};
  const uint16_t crc = Crc16(req, 6);
  req[6] = static_cast<uint8_t>(crc & 0xFF);
  req[7] = static_cast<uint8_t>(crc >> 8);
  constexpr size_t kAnswer = 5 + 2 * bench::kReadCount;
  uint8_t rsp[kAnswer];
  double s = -1;
  const auto t0 = Clock::now();
  long i = 0;
  for (; i < n; ++i) {
    if (send(fd, req, sizeof req, 0) != static_cast<ssize_t>(sizeof req)) break;
    if (!RecvExact(fd, rsp, kAnswer, 2000)) break;
    const uint16_t c = Crc16(rsp, kAnswer - 2);
    if (rsp[0] != 1 || rsp[1] != 3 || rsp[2] != 2 * bench::kReadCount || rsp[kAnswer - 2] != (c & 0xFF) ||
        rsp[kAnswer - 1] != (c >> 8))
      break;
    uint16_t regs[bench::kReadCount];
    for (int k = 0; k < bench::kReadCount; ++k) regs[k] = static_cast<uint16_t>(rsp[3 + 2 * k] << 8 | rsp[4 + 2 * k]);
    if (!RegistersAsExpected(regs)) break;
  }
  if (i == n) s = Seconds(t0);
  if (s < 0) std::fprintf(stderr, "RTU-over-TCP client: read %ld failed\n", i);
  close(fd);
  return s;
}

// ---- the engine ------------------------------------------------------------

struct Engine {
  platform::Platform platform;
  std::unique_ptr<frmMain> panel;
  bench::LogCounter log;

  explicit Engine(std::shared_ptr<platform::PortList> ports = nullptr) {
    platform = qt::MakePlatform();
    if (ports) platform.ports = std::move(ports);
    panel = std::make_unique<frmMain>(platform);
    panel->Form_Load();
    log.Attach(*panel);
    // Each queued frame is run as a Send runs its own: the previous answer is
    // greyed when the request goes out (its row is the first thing a
    // transaction logs), so that the new answer replaces it. Left alone, the
    // answers of one queue are appended to one another in the view (a
    // two-frame write shows both answers), and the view would grow with every
    // transaction of the benchmark.
    log.onRequest = [p = panel.get()] {
      p->lblDT.SetForeColor(kColorGrayText);
      p->txtResponse.SetEnabled(false);
    };
  }

  // n queued reads; seconds, or negative when an answer was missing or wrong.
  double Run(long n) {
    log.Reset();
    const double s = bench::RunQueued(*panel, n, 500, static_cast<int>(10000 + n * 20));
    if (s < 0 || log.responses != n || log.errors != 0) {
      std::fprintf(stderr, "engine: %ld of %ld answers, %ld errors%s%s\n", log.responses, n, log.errors,
                   log.errors ? ", last: " : "", log.lastError.c_str());
      const std::string& text = panel->txtLog.Text();
      std::fprintf(stderr, "the end of the log:\n%s\n", text.substr(0, 1500).c_str());
      return -1;
    }
    return s;
  }
};

struct Outcome {
  std::vector<double> engine;  // transactions per second, one per round
  std::vector<double> peer;
  bool ok = true;
};

// Rounds of engine and peer taking turns, after a short warm-up of each.
template <class EngineRound, class PeerRound>
Outcome Alternate(long n, int rounds, EngineRound engineRound, PeerRound peerRound) {
  Outcome o;
  const long warm = std::max(20L, n / 10);
  if (engineRound(warm) < 0 || peerRound(warm) < 0) {
    o.ok = false;
    return o;
  }
  for (int r = 0; r < rounds; ++r) {
    const double e = engineRound(n);
    const double p = peerRound(n);
    if (e <= 0 || p <= 0) {
      o.ok = false;
      return o;
    }
    o.engine.push_back(static_cast<double>(n) / e);
    o.peer.push_back(static_cast<double>(n) / p);
  }
  return o;
}

std::string RoundsText(const std::vector<double>& v) {
  std::string s;
  for (double x : v) {
    if (!s.empty()) s += ' ';
    s += bench::Grouped(x);
  }
  return s;
}

void Report(const std::string& name, const std::string& peerName, const Outcome& o, long n) {
  if (!o.ok) {
    std::printf("%s: FAILED (see the messages above)\n", name.c_str());
    std::printf("TABLE | Transactions/s, %s | FAILED | | |\n", name.c_str());
    return;
  }
  const double e = bench::Median(o.engine);
  const double p = bench::Median(o.peer);
  std::printf("%s: engine %s transactions/s (rounds of %ld: %s)\n", name.c_str(), bench::Grouped(e).c_str(), n,
              RoundsText(o.engine).c_str());
  std::printf("%s: %s %s transactions/s (rounds of %ld: %s)\n", name.c_str(), peerName.c_str(),
              bench::Grouped(p).c_str(), n, RoundsText(o.peer).c_str());
  std::printf("%s: ratio engine / %s = %.2f\n", name.c_str(), peerName.c_str(), e / p);
  std::printf("TABLE | Transactions/s, %s (median of %zu rounds of %ld) | %s /s | %s: %s /s | %.2f |\n", name.c_str(),
              o.engine.size(), n, bench::Grouped(e).c_str(), peerName.c_str(), bench::Grouped(p).c_str(), e / p);
  std::fflush(stdout);
}

std::optional<int> StartTcpSlave(vesk::test::PeerProcess& slave, const std::vector<std::string>& extra = {}) {
  std::vector<std::string> args{"--tcp", "0"};
  args.insert(args.end(), extra.begin(), extra.end());
  if (!slave.Start(VESK_MODBUS_SLAVE_PATH, args)) return std::nullopt;
  const auto ready = slave.WaitReady();
  if (!ready) return std::nullopt;
  return std::atoi(ready->c_str());
}

bool BenchTcp(long n, int rounds) {
  vesk::test::PeerProcess slave;
  const auto port = StartTcpSlave(slave);
  Outcome o;
  if (!port) {
    std::fprintf(stderr, "TCP: the slave did not start\n");
    o.ok = false;
  } else {
    Engine engine;
    bench::SetupSocket(*engine.panel, 1, *port);
    if (!bench::Connect(*engine.panel)) {
      std::fprintf(stderr, "TCP: the engine did not connect\n");
      o.ok = false;
    } else {
      o = Alternate(
          n, rounds, [&](long k) { return engine.Run(k); }, [&](long k) { return LibmodbusTcp(*port, k); });
    }
    engine.panel->cmdTcpDisconnect_Click();
  }
  Report("TCP", "libmodbus", o, n);
  slave.Stop();
  return o.ok;
}

bool BenchRtuOverTcp(long n, int rounds) {
  vesk::test::TcpToPtyBridge bridge;
  vesk::test::PeerProcess slave;
  Outcome o;
  if (!bridge.Open() || !slave.Start(VESK_MODBUS_SLAVE_PATH, {"--rtu", bridge.PtyPath(), "--baud", "115200"}) ||
      !slave.WaitReady()) {
    std::fprintf(stderr, "RTU-OVER-TCP: the bridge or the slave did not start\n");
    o.ok = false;
  } else {
    Engine engine;
    bench::SetupSocket(*engine.panel, 2, bridge.Port());
    // The bridge takes one client at a time: the engine connects for its
    // round and leaves before the client's.
    auto engineRound = [&](long k) {
      if (!bench::Connect(*engine.panel)) {
        std::fprintf(stderr, "RTU-OVER-TCP: the engine did not connect\n");
        return -1.0;
      }
      const double s = engine.Run(k);
      engine.panel->cmdTcpDisconnect_Click();
      bench::RunUntil([] { return false; }, 20);
      return s;
    };
    o = Alternate(n, rounds, engineRound, [&](long k) { return RtuOverTcpClient(bridge.Port(), k); });
  }
  Report("RTU-OVER-TCP", "RTU-over-TCP client (same bridge)", o, n);
  slave.Stop();
  bridge.Close();
  return o.ok;
}

bool BenchRtu(long n, int rounds) {
  vesk::test::PtyPair pair;
  vesk::test::PeerProcess slave;
  Outcome o;
  if (!pair.Open() || !slave.Start(VESK_MODBUS_SLAVE_PATH, {"--rtu", pair.B(), "--baud", "115200"}) ||
      !slave.WaitReady()) {
    std::fprintf(stderr, "RTU: the pseudo-terminal pair or the slave did not start\n");
    o.ok = false;
  } else {
    Engine engine(std::make_shared<bench::FixedPortList>(std::vector<std::string>{pair.A()}));
    bench::SetupSerial(*engine.panel, pair.A(), "115200");
    // The engine and the client open the same end of the pair in turn.
    auto engineRound = [&](long k) {
      engine.panel->cmdRtuOpenPort_Click();
      if (!engine.panel->comm1->IsOpen()) {
        std::fprintf(stderr, "RTU: the engine could not open %s\n", pair.A().c_str());
        return -1.0;
      }
      const double s = engine.Run(k);
      engine.panel->cmdRtuClosePort_Click();
      return s;
    };
    o = Alternate(n, rounds, engineRound, [&](long k) { return LibmodbusRtu(pair.A(), 115200, k); });
  }
  Report("RTU (pty pair, 115200 8N1)", "libmodbus", o, n);
  slave.Stop();
  pair.Close();
  return o.ok;
}

}  // namespace

int main(int argc, char** argv) {
  bench::PrivateConfig config;
  QCoreApplication app(argc, argv);
  long n = 5000;
  int rounds = 5;
  std::string only;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    if (a == "--n") n = std::max(10L, std::atol(argv[i + 1]));
    if (a == "--rounds") rounds = std::max(1, std::atoi(argv[i + 1]));
    if (a == "--only") only = argv[i + 1];
  }
  bool ok = true;
  if (only.empty() || only == "tcp") ok = BenchTcp(n, rounds) && ok;
  if (only.empty() || only == "rtu-over-tcp") ok = BenchRtuOverTcp(n, rounds) && ok;
  if (only.empty() || only == "rtu") ok = BenchRtu(n, rounds) && ok;
  return ok ? 0 : 1;
}
