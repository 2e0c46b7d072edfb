// The watch list's pure parts at the rates the watch list must sustain:
//   - the plot: 8 values over 60 minutes at 10 points a second. Prints the
//     cost of appending a point, the cost of one redraw (the points of all 8
//     series for a 1,000-pixel-wide plot) and the points and bytes held;
//   - the scheduler: 20 blocks each at 100 ms on a link whose answers take
//     2 ms, on a scripted clock for 10 minutes. Prints the share of due
//     periods served, and the cost of one scheduling decision.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>

#include "engine/plot_series.h"
#include "engine/watch_scheduler.h"

namespace {

using Clock = std::chrono::steady_clock;
double NsSince(Clock::time_point t0) { return std::chrono::duration<double, std::nano>(Clock::now() - t0).count(); }

void Plot() {
  constexpr int kSeries = 8;
  constexpr int64_t kRunMs = 60 * 60'000;
  constexpr int64_t kStepMs = 100;
  engine::PlotData plot(60);
  for (int s = 0; s < kSeries; ++s) plot.AddSeries("value " + std::to_string(s));
  long appended = 0;
  size_t most = 0;
  const auto t0 = Clock::now();
  for (int64_t t = 0; t <= kRunMs; t += kStepMs) {
    for (int s = 0; s < kSeries; ++s) {
      plot.Append(static_cast<size_t>(s), t, std::sin(static_cast<double>(t) / 10'000.0 + s) * 100.0);
      ++appended;
    }
  }
  const double appendNs = NsSince(t0) / static_cast<double>(appended);
  for (int s = 0; s < kSeries; ++s) most += plot.Stored(static_cast<size_t>(s));

  constexpr int kRedraws = 200;
  size_t drawn = 0;
  const auto t1 = Clock::now();
  for (int r = 0; r < kRedraws; ++r) {
    for (int s = 0; s < kSeries; ++s)
      drawn += plot.Points(static_cast<size_t>(s), kRunMs - 60 * 60'000, kRunMs, 1000).size();
  }
  const double redrawUs = NsSince(t1) / 1000.0 / kRedraws;
  std::printf(
      "plot, 8 values x 60 min x 10 points/s (%ld points): append %.0f ns/point; redraw of 8 series at 1000 px "
      "%.0f us (%zu points drawn); held %zu points (%.0f KiB)\n",
      appended, appendNs, redrawUs, drawn / kRedraws, most,
      static_cast<double>(most * sizeof(engine::PlotPoint)) / 1024.0);
  std::printf(
      "TABLE | Watch plot, 8 values x 60 min at 10 points/s: append per point; redraw of the 8 series at 1000 px | "
      "%.0f ns; %.0f us | | |\n",
      appendNs, redrawUs);
}

void Scheduler() {
  constexpr int kBlocks = 20;
  constexpr int64_t kRunMs = 10 * 60'000;
  constexpr int64_t kAnswerMs = 2;
  engine::WatchScheduler s;
  for (int b = 1; b <= kBlocks; ++b) s.Add(static_cast<engine::WatchBlockId>(b), 100, false, 0);
  long decisions = 0;
  int64_t now = 0;
  const auto t0 = Clock::now();
  while (now < kRunMs) {
    ++decisions;
    if (const auto id = s.Next(now)) {
      s.Started(*id, now);
      now += kAnswerMs;
      s.Finished(*id, now, engine::WatchOutcome::Good);
    } else if (const auto wake = s.NextWakeUp(now)) {
      now = std::max(*wake, now + 1);
    } else {
      break;
    }
  }
  const double decisionNs = NsSince(t0) / static_cast<double>(decisions);
  uint64_t started = 0, skipped = 0;
  for (int b = 1; b <= kBlocks; ++b) {
    const auto c = s.CountersOf(static_cast<engine::WatchBlockId>(b));
    started += c->started;
    skipped += c->skipped;
  }
  std::printf(
      "scheduler, 20 blocks x 100 ms, answers in 2 ms, 10 min scripted: %llu started, %llu periods skipped "
      "(%.1f %% of due periods served); %.0f ns per decision\n",
      static_cast<unsigned long long>(started), static_cast<unsigned long long>(skipped),
      100.0 * static_cast<double>(started) / static_cast<double>(started + skipped), decisionNs);
  std::printf(
      "TABLE | Watch scheduler, 20 blocks every 100 ms, answers in 2 ms: due periods served; time per decision | "
      "%.1f %%; %.0f ns | | |\n",
      100.0 * static_cast<double>(started) / static_cast<double>(started + skipped), decisionNs);
}

}  // namespace

int main() {
  Plot();
  Scheduler();
  return 0;
}
