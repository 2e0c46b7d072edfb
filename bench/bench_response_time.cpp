// How exact the response time the panel shows (lblDT) is: the libmodbus test
// slave is told to wait 0, 5, 37 and 250 ms before each answer; the panel
// sends single reads on the real Qt platform and the caption of lblDT is read
// after each. Printed per delay: the mean shown, its error against the delay
// the slave was told to add, and, measured in the same run against the same
// slave, the round trip a plain libmodbus client sees (what the delay really
// was, slave overshoot and loopback included). TCP and RTU over a
// pseudo-terminal pair.
//
//   bench_response_time [--samples 20]
#include <modbus.h>

#include <cmath>
#include <cstring>

#include "bench_rig.h"
#include "peer_harness.h"
#include "qt/QtPlatform.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Samples {
  std::vector<double> shown;      // lblDT, ms
  std::vector<double> libmodbus;  // the plain client's round trip, ms
  bool ok = true;
};

// One read per sample with the panel; the caption of lblDT after each.
bool PanelSamples(frmMain& f, bench::LogCounter& log, int count, std::vector<double>& out) {
  for (int i = 0; i < count; ++i) {
    log.Reset();
    f.cmdSend_Click();
    if (!bench::RunUntil([&] { return f.Requests.empty() && !f.AwaitingResponse; }, 5000) || log.responses != 1 ||
        log.errors != 0) {
      std::fprintf(stderr, "panel read %d failed%s%s\n", i, log.errors ? ": " : "", log.lastError.c_str());
      return false;
    }
    const std::string caption = f.lblDT.Caption();  // "37 ms"
    char* end = nullptr;
    const double ms = std::strtod(caption.c_str(), &end);
    if (end == caption.c_str()) {
      std::fprintf(stderr, "lblDT shows \"%s\"\n", caption.c_str());
      return false;
    }
    out.push_back(ms);
  }
  return true;
}

bool LibmodbusSamples(modbus_t* ctx, int count, std::vector<double>& out) {
  if (ctx == nullptr) return false;
  modbus_set_slave(ctx, 1);
  modbus_set_response_timeout(ctx, 5, 0);
  bool ok = modbus_connect(ctx) == 0;
  uint16_t regs[bench::kReadCount];
  for (int i = 0; ok && i < count; ++i) {
    const auto t0 = Clock::now();
    ok = modbus_read_registers(ctx, bench::kReadAddress, bench::kReadCount, regs) == bench::kReadCount;
    out.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
  }
  if (!ok) std::fprintf(stderr, "libmodbus read failed: %s\n", modbus_strerror(errno));
  modbus_close(ctx);
  modbus_free(ctx);
  return ok;
}

void Report(const char* transport, int delay, const Samples& s) {
  if (!s.ok) {
    std::printf("lblDT, %s, slave delay %d ms: FAILED\n", transport, delay);
    std::printf("TABLE | Response time shown (lblDT), %s, slave delay %d ms | FAILED | | |\n", transport, delay);
    return;
  }
  const double shown = bench::Mean(s.shown);
  const double lib = bench::Mean(s.libmodbus);
  const auto [lo, hi] = std::minmax_element(s.shown.begin(), s.shown.end());
  std::printf(
      "lblDT, %s, slave delay %3d ms: mean shown %7.2f ms (min %.0f, max %.0f, %zu samples), error %+.2f ms; "
      "libmodbus round trip %7.2f ms (shown - libmodbus %+.2f ms)\n",
      transport, delay, shown, *lo, *hi, s.shown.size(), shown - delay, lib, shown - lib);
  std::printf(
      "TABLE | Response time shown (lblDT), %s, slave delay %d ms | mean %.2f ms, error %+.2f ms | libmodbus round "
      "trip %.2f ms | %+.2f ms |\n",
      transport, delay, shown, shown - delay, lib, shown - lib);
  std::fflush(stdout);
}

Samples MeasureTcp(int delay, int count) {
  Samples s;
  vesk::test::PeerProcess slave;
  const std::string d = std::to_string(delay);
  std::optional<std::string> ready;
  if (slave.Start(VESK_MODBUS_SLAVE_PATH, {"--tcp", "0", "--delay-ms", d})) ready = slave.WaitReady();
  if (!ready) {
    s.ok = false;
    return s;
  }
  const int port = std::atoi(ready->c_str());
  {
    platform::Platform p = qt::MakePlatform();
    frmMain f(p);
    f.Form_Load();
    bench::LogCounter log;
    log.Attach(f);
    bench::SetupSocket(f, 1, port);
    s.ok = bench::Connect(f) && PanelSamples(f, log, 2, s.shown);  // warm-up
    s.shown.clear();
    s.ok = s.ok && PanelSamples(f, log, count, s.shown);
    f.cmdTcpDisconnect_Click();
  }
  s.ok = s.ok && LibmodbusSamples(modbus_new_tcp("127.0.0.1", port), count, s.libmodbus);
  slave.Stop();
  return s;
}

Samples MeasureRtu(int delay, int count) {
  Samples s;
  vesk::test::PtyPair pair;
  vesk::test::PeerProcess slave;
  const std::string d = std::to_string(delay);
  if (!pair.Open() || !slave.Start(VESK_MODBUS_SLAVE_PATH, {"--rtu", pair.B(), "--baud", "115200", "--delay-ms", d}) ||
      !slave.WaitReady()) {
    s.ok = false;
    return s;
  }
  {
    platform::Platform p = qt::MakePlatform();
    p.ports = std::make_shared<bench::FixedPortList>(std::vector<std::string>{pair.A()});
    frmMain f(p);
    f.Form_Load();
    bench::LogCounter log;
    log.Attach(f);
    bench::SetupSerial(f, pair.A(), "115200");
    s.ok = PanelSamples(f, log, 2, s.shown);  // warm-up; Send opens the port
    s.shown.clear();
    s.ok = s.ok && PanelSamples(f, log, count, s.shown);
    f.cmdRtuClosePort_Click();
  }
  s.ok = s.ok && LibmodbusSamples(modbus_new_rtu(pair.A().c_str(), 115200, 'N', 8, 1), count, s.libmodbus);
  slave.Stop();
  pair.Close();
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  bench::PrivateConfig config;
  QCoreApplication app(argc, argv);
  int count = 20;
  for (int i = 1; i + 1 < argc; i += 2)
    if (std::strcmp(argv[i], "--samples") == 0) count = std::max(1, std::atoi(argv[i + 1]));
  bool ok = true;
  for (int delay : {0, 5, 37, 250}) {
    const Samples s = MeasureTcp(delay, count);
    Report("TCP", delay, s);
    ok = ok && s.ok;
  }
  for (int delay : {0, 5, 37, 250}) {
    const Samples s = MeasureRtu(delay, count);
    Report("RTU (pty pair)", delay, s);
    ok = ok && s.ok;
  }
  return ok ? 0 : 1;
}
