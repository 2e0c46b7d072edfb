// The real window polling a slave that answers every request with a flood of
// garbage (the fault peer's `flood` step, 50 MB by default) over TCP, polling
// at 100 ms. Over a bounded time (default 60 s) it prints the requests sent
// per second, the spread of the time stamps of the rows logged for one answer
// (from its response row to the last error row right after it), the longest time
// the event loop did not come round, and the peak resident memory. Needs a
// display: run it under xvfb-run (or with QT_QPA_PLATFORM=offscreen).
//
//   bench_flood [--seconds 60] [--mb 50] [--interval 100] [--log FILE] [--shot FILE]
#include <QApplication>
#include <QElapsedTimer>
#include <QStyleFactory>
#include <QTimer>
#include <QWindow>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "bench_rig.h"
#include "peer_harness.h"
#include "qt/window/MainWindow.h"
#include "qt/window/beep_gate.h"
#include "qt/window/gui_platform.h"

namespace {

long StatusKb(const char* key) {
  std::FILE* f = std::fopen("/proc/self/status", "r");
  if (f == nullptr) return -1;
  char line[256];
  long kb = -1;
  const size_t n = std::strlen(key);
  while (std::fgets(line, sizeof line, f) != nullptr)
    if (std::strncmp(line, key, n) == 0) kb = std::strtol(line + n, nullptr, 10);
  std::fclose(f);
  return kb;
}

long MsOfDay(const LocalTime& t) { return ((t.hour * 60L + t.minute) * 60L + t.second) * 1000L + t.millisecond; }

// Follows the log records as they come (the log keeps the last thousand):
// counts request rows and, for each answer, the spread of its rows' stamps:
// the response row and the error rows right after it (exception, protocol
// errors, time-out). The next request's own rows (a dropped-bytes row, a
// reconnect) are not the answer's.
struct RowWatch {
  size_t seen = 0;  // records up to this start position have been taken
  bool any = false;
  long requests = 0;
  bool inAnswer = false;
  long first = 0, last = 0;
  std::vector<double> spreads;

  void Take(const frmMain& f) {
    for (const LogRecord& r : f.LogRecords()) {
      if (any && r.start <= seen) continue;
      any = true;
      seen = r.start;
      const long t = MsOfDay(r.time);
      if (r.kind == LogRecord::Kind::Error && inAnswer) {
        last = t;
        continue;
      }
      Close();
      if (r.kind == LogRecord::Kind::Request) ++requests;
      if (r.kind == LogRecord::Kind::Response) {
        inAnswer = true;
        first = last = t;
      }
    }
  }
  void Close() {
    if (inAnswer) {
      long spread = last - first;
      if (spread < 0) spread += 24L * 3600 * 1000;  // past midnight
      spreads.push_back(static_cast<double>(spread));
    }
    inAnswer = false;
  }
};

}  // namespace

int main(int argc, char** argv) {
  bench::PrivateConfig config;
  QApplication app(argc, argv);
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  int seconds = 60, mb = 50, interval = 100;
  std::string logPath;   // --log FILE: the log pane's text at the end, to see what the rows say
  std::string shotPath;  // --shot FILE: a PNG of the window at the end
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--log") == 0) logPath = argv[i + 1];
    if (std::strcmp(argv[i], "--shot") == 0) shotPath = argv[i + 1];
    if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--mb") == 0) mb = std::clamp(std::atoi(argv[i + 1]), 1, 4096);
    if (std::strcmp(argv[i], "--interval") == 0) interval = std::clamp(std::atoi(argv[i + 1]), 100, 65535);
  }

  const std::string dir = vesk::test::MakeTempDir("bench-flood");
  const std::string script = dir + "/flood.txt";
  std::ofstream(script) << "flood " << mb << "\n";
  vesk::test::PeerProcess peer;
  std::optional<std::string> port;
  if (peer.Start(VESK_FAULT_PEER_PATH, {"--port", "0", "--script", script}, dir + "/peer.log")) port = peer.WaitReady();
  if (!port) {
    std::printf("flood: FAILED (the fault peer did not start)\n");
    vesk::test::RemoveTempDir(dir);
    return 1;
  }

  platform::Platform p = qt::MakeGuiPlatform();
  qt::BeepGate::Install(p);
  frmMain f(p);
  f.Form_Load();
  qt::MainWindow window(f);
  window.show();
  if (!bench::RunUntil([&] { return window.windowHandle() != nullptr && window.windowHandle()->isExposed(); }, 5000)) {
    std::printf("flood: FAILED (the window was not shown)\n");
    return 1;
  }
  bench::SetupSocket(f, 1, std::stoi(*port));
  f.txtPollInterval.SetText(std::to_string(interval));
  if (!bench::Connect(f)) {
    std::printf("flood: FAILED (no connection to the fault peer)\n");
    return 1;
  }
  const long rssStart = StatusKb("VmRSS:");

  RowWatch rows;
  // The longest time between two turns of the event loop, seen by a 10 ms timer.
  QElapsedTimer sinceTick;
  sinceTick.start();
  qint64 longestStall = 0;
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    longestStall = std::max(longestStall, sinceTick.restart());
    rows.Take(f);
  });
  tick.start(10);
  f.cmdAuto1_MouseDown();  // polling on
  QElapsedTimer clock;
  clock.start();
  bench::RunUntil([&] { return clock.elapsed() >= seconds * 1000LL; }, seconds * 1000 + 1000);
  f.cmdAuto0_MouseDown();
  rows.Take(f);
  rows.Close();
  if (!logPath.empty()) std::ofstream(logPath) << f.txtLog.Text();
  if (!shotPath.empty()) {
    window.ApplyPending();
    window.grab().save(QString::fromStdString(shotPath));
  }
  const double elapsed = static_cast<double>(clock.elapsed()) / 1000.0;
  const long rssEnd = StatusKb("VmRSS:");
  const long rssPeak = StatusKb("VmHWM:");
  peer.Stop();
  vesk::test::RemoveTempDir(dir);

  std::vector<double> spreads = rows.spreads;
  std::sort(spreads.begin(), spreads.end());
  const double median = bench::Median(spreads);
  const double worst = spreads.empty() ? 0 : spreads.back();
  const double rate = static_cast<double>(rows.requests) / elapsed;
  std::printf("flood of %d MB per answer, polling every %d ms, %.0f s:\n", mb, interval, elapsed);
  std::printf("  requests sent: %ld (%.2f per second; polling asks for %.2f)\n", rows.requests, rate,
              1000.0 / interval);
  std::printf("  spread of one answer's row stamps: median %.0f ms, worst %.0f ms over %zu answers\n", median, worst,
              spreads.size());
  std::printf("  longest time the event loop did not come round: %lld ms\n", static_cast<long long>(longestStall));
  std::printf("  resident memory: %.1f MB at the start, %.1f MB at the end, peak %.1f MB\n", rssStart / 1024.0,
              rssEnd / 1024.0, rssPeak / 1024.0);
  std::printf(
      "TABLE | Flood of %d MB per answer, polling at %d ms, %.0f s: requests/s, row stamp spread (worst), peak RSS | "
      "%.2f /s, %.0f ms, %.1f MB | target >= 9 /s, <= 50 ms, < 100 MB | |\n",
      mb, interval, elapsed, rate, worst, rssPeak / 1024.0);
  return 0;
}
