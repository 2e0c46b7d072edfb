// The watch list in the real window (log and watch pane shown), under xvfb-run:
//   - 20 blocks of 10 holding registers, each every 100 ms, against the
//     libmodbus slave over TCP on 127.0.0.1 for a bounded time (default 30 s).
//     Prints the share of due transactions that went out (due = run time /
//     interval per block), the overlaps (a frame put on the wire while
//     another was awaited), and the CPU the whole process used (user +
//     system) as a share of one core;
//   - the plot of 8 values over 60 minutes at 10 points a second: 36,000
//     points per value fed through the plot's own store, then the time of a
//     redraw of the full hour (the worst case) and the points held, with the
//     resident memory before and after.
//
//   bench_watch_window [--seconds 30] [--no-pane]
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QSpinBox>
#include <QStyleFactory>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench_rig.h"
#include "peer_harness.h"
#include "qt/window/MainWindow.h"
#include "qt/window/beep_gate.h"
#include "qt/window/gui_platform.h"
#include "qt/window/watch_plot.h"

namespace {

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long RssKb() {
  std::FILE* f = std::fopen("/proc/self/status", "r");
  if (f == nullptr) return -1;
  char line[256];
  long kb = -1;
  while (std::fgets(line, sizeof line, f) != nullptr)
    if (std::strncmp(line, "VmRSS:", 6) == 0) kb = std::strtol(line + 6, nullptr, 10);
  std::fclose(f);
  return kb;
}

}  // namespace

int main(int argc, char** argv) {
  bench::PrivateConfig config;
  QApplication app(argc, argv);
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  int seconds = 30;
  bool paneShown = true;  // --no-pane: the watch list runs with its pane hidden, for comparison
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) seconds = std::clamp(std::atoi(argv[++i]), 5, 600);
    if (std::strcmp(argv[i], "--no-pane") == 0) paneShown = false;
  }

  vesk::test::PeerProcess slave;
  std::optional<std::string> port;
  if (slave.Start(VESK_MODBUS_SLAVE_PATH, {"--tcp", "0"})) port = slave.WaitReady();
  if (!port) {
    std::printf("watch: FAILED (the slave did not start)\n");
    return 1;
  }
  platform::Platform p = qt::MakeGuiPlatform();
  qt::BeepGate::Install(p);
  frmMain f(p);
  f.Form_Load();
  qt::MainWindow window(f);
  window.resize(1400, 900);
  window.show();
  window.ShowWatch(paneShown);
  if (!bench::RunUntil([&] { return window.windowHandle() != nullptr && window.windowHandle()->isExposed(); }, 5000)) {
    std::printf("watch: FAILED (the window was not shown)\n");
    return 1;
  }
  bench::SetupSocket(f, 1, std::stoi(*port));
  if (!bench::Connect(f)) {
    std::printf("watch: FAILED (no connection to the slave)\n");
    return 1;
  }

  // ---- 20 blocks x 10 registers at 100 ms -----------------------------------
  constexpr int kBlocks = 20, kIntervalMs = 100;
  for (int b = 0; b < kBlocks; ++b) f.Watch().Add({1, 3, static_cast<uint16_t>(b * 10), 10, 0, kIntervalMs, false});
  // The plot shows some of them as an operator would.
  for (int b = 0; b < 4; ++b) f.SetPlotted(f.Watch().Model().Blocks()[static_cast<size_t>(b)].id, b * 10u, true);
  window.Plot()->Sync();
  const uint64_t answersBefore = f.Stats.answers;
  const double cpu0 = CpuSeconds();
  QElapsedTimer wall;
  wall.start();
  bench::RunUntil([] { return false; }, seconds * 1000);
  const double cpu = CpuSeconds() - cpu0;
  const double elapsed = static_cast<double>(wall.elapsed()) / 1000.0;
  f.Watch().Stop();
  uint64_t started = 0;
  for (const engine::WatchBlock& b : f.Watch().Model().Blocks())
    started += f.Watch().Scheduler().CountersOf(b.id).value_or(engine::WatchScheduler::Counters{}).started;
  const double due = elapsed * 1000.0 / kIntervalMs * kBlocks;
  std::printf(
      "watch 20x10 @100ms: %.1f s, due %.0f, went out %llu (%.1f %%), answers %llu, overlaps %llu, "
      "time-outs %llu\n",
      elapsed, due, static_cast<unsigned long long>(started), 100.0 * static_cast<double>(started) / due,
      static_cast<unsigned long long>(f.Stats.answers - answersBefore),
      static_cast<unsigned long long>(f.Watch().Overlaps()), static_cast<unsigned long long>(f.Stats.timeouts));
  const double served = 100.0 * static_cast<double>(started) / due, cpuShare = 100.0 * cpu / elapsed;
  std::printf("watch 20x10 @100ms: CPU %.1f %% of one core (user+system, window and log shown, watch pane %s)\n",
              cpuShare, paneShown ? "shown" : "hidden");
  std::printf(
      "TABLE | Watch list in the window, 20 blocks x 10 registers at 100 ms, %.0f s (pane %s): due reads that went "
      "out, overlaps | %.1f %%, %llu | target >= 95 %%, 0 | |\n",
      elapsed, paneShown ? "shown" : "hidden", served, static_cast<unsigned long long>(f.Watch().Overlaps()));
  std::printf(
      "TABLE | Watch list in the window, the same run: CPU of the process (user + system) | %.1f %% of one core | "
      "target < 25 %% | |\n",
      cpuShare);

  // ---- the plot: 8 values x 60 minutes x 10 points a second -------------------
  const long rss0 = RssKb();
  engine::PlotData data(60);
  for (int s = 0; s < 8; ++s) data.AddSeries("v" + std::to_string(s));
  QElapsedTimer feed;
  feed.start();
  for (int64_t t = 0; t <= 3'600'000; t += 100)
    for (size_t s = 0; s < 8; ++s)
      data.Append(s, t, std::sin(static_cast<double>(t) / 7000.0 + static_cast<double>(s)) * 100.0);
  const double feedMs = static_cast<double>(feed.nsecsElapsed()) / 1e6;
  size_t held = 0, drawn = 0;
  for (size_t s = 0; s < 8; ++s) held += data.Stored(s);
  // A redraw of the hour for a 1,000-pixel plot, as the window's timer does it.
  constexpr int kRedraws = 50;
  QElapsedTimer draw;
  draw.start();
  for (int i = 0; i < kRedraws; ++i) {
    drawn = 0;
    for (size_t s = 0; s < 8; ++s) drawn += data.Points(s, 0, 3'600'000, 2000).size();
  }
  const double pointsMs = static_cast<double>(draw.nsecsElapsed()) / 1e6 / kRedraws;
  // The same through the window's chart: 8 values of the last block plotted,
  // fed the hour up to now, redrawn as its timer does.
  qt::WatchPlot& plot = *window.Plot();
  f.Plotted.clear();
  plot.Sync();
  const engine::WatchBlock& last = f.Watch().Model().Blocks().back();
  for (uint32_t a = 0; a < 8; ++a) f.SetPlotted(last.id, last.config.address + a, true);
  plot.Sync();
  const long rssChart0 = RssKb();
  const int64_t now = f.Platform().clock->MonotonicMs();
  for (int64_t t = now - 3'600'000; t <= now; t += 100)
    for (size_t s = 0; s < 8; ++s)
      plot.AppendPoint(s, t,
                       std::sin(static_cast<double>(t) / 7000.0 + static_cast<double>(s)) * 100.0 * (s < 4 ? 1 : 1000));
  // Set the plot's window to the hour and time its redraws.
  plot.findChild<QSpinBox*>(QStringLiteral("plotWindow"))->setValue(60);
  QElapsedTimer chart;
  chart.start();
  constexpr int kChartRedraws = 10;
  for (int i = 0; i < kChartRedraws; ++i) {
    plot.Redraw();
    QApplication::processEvents();
  }
  const double chartMs = static_cast<double>(chart.nsecsElapsed()) / 1e6 / kChartRedraws;
  int chartPoints = 0;
  for (int n : plot.DrawnPoints()) chartPoints += n;
  std::printf(
      "plot 8x60min@10/s: %.0f points fed in %.0f ms, %zu held (bound %zu), %zu drawn per redraw, "
      "points of a redraw %.2f ms, RSS %+ld kB\n",
      8 * 36001.0, feedMs, held, 8 * engine::PlotData::kCompactAt, drawn, pointsMs, RssKb() - rss0);
  std::printf(
      "plot in the window, 8 values over the hour: redraw %.1f ms (every 500 ms, %d points drawn, %d axes), "
      "RSS %+ld kB\n",
      chartMs, chartPoints, plot.AxisCount(), RssKb() - rssChart0);
  std::printf(
      "TABLE | Plot of 8 values over 60 minutes at 10 points/s in the window: one redraw, points drawn | %.1f ms, "
      "%d points | target < 500 ms (redrawn every 500 ms) | |\n",
      chartMs, chartPoints);
  return 0;
}
