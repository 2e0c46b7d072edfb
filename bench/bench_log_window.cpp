// Appending to a full log through the real window must cost the same however
// many entries were written before: the pane keeps 1000 entries, the window
// applies the model's changes incrementally (append, remove from the top).
// A panel on the real Qt platform is bound to its window, shown, filled with
// 1,000, in a second window 10,000 and in a third 100,000 entries; then
// entries are appended one pair at a time, the event loop running after each
// pair as the program's would: the pane follows the log once a frame, laying
// out and painting the rows of that frame together, and the rows left at the
// end are shown and painted inside the time measured. Prints the cost per entry
// at each point and the ratios. Needs a display: run it under xvfb-run.
//
//   bench_log_window [--measured 2000]
#include <QApplication>
#include <QPlainTextEdit>
#include <QStyleFactory>
#include <QTextDocument>
#include <QWindow>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench_rig.h"
#include "qt/window/MainWindow.h"
#include "qt/window/beep_gate.h"
#include "qt/window/gui_platform.h"

namespace {

Frame SampleFrame(long i) {
  Frame f;
  for (int k = 0; k < 25; ++k) f.push_back(static_cast<uint8_t>(i + k));  // two rows
  return f;
}

long VmRssKb() {
  std::FILE* f = std::fopen("/proc/self/status", "r");
  if (f == nullptr) return -1;
  char line[256];
  long kb = -1;
  while (std::fgets(line, sizeof line, f) != nullptr)
    if (std::strncmp(line, "VmRSS:", 6) == 0) kb = std::strtol(line + 6, nullptr, 10);
  std::fclose(f);
  return kb;
}

void Pump() { QApplication::processEvents(QEventLoop::AllEvents); }

// Microseconds per entry for `measured` appends after `written` entries;
// negative when the window was never shown.
double CostAfter(long written, long measured, bool report = true) {
  platform::Platform p = qt::MakeGuiPlatform();
  qt::BeepGate::Install(p);
  frmMain f(p);
  f.Form_Load();
  qt::MainWindow window(f);
  window.show();
  if (!bench::RunUntil([&] { return window.windowHandle() != nullptr && window.windowHandle()->isExposed(); }, 5000))
    return -1;
  Pump();

  // Written as the program writes them: a request, then its answer or an
  // error, with the events handled between bursts as the program would.
  for (long i = 0; i < written; i += 2) {
    f.LogRequest(SampleFrame(i));
    f.LogResponse(SampleFrame(i + 1));
    if (i % 100 == 0) Pump();
  }
  Pump();
  // What the pane's document keeps besides its text: each change the window
  // applies is an undo step unless the widget's undo is off.
  if (auto* pane = qobject_cast<QPlainTextEdit*>(window.WidgetOf(f.txtLog)); pane != nullptr && written >= 100000)
    std::printf("after %ld entries written: the log widget's document holds %d undo steps; VmRSS %.1f MB\n", written,
                pane->document()->availableUndoSteps(), static_cast<double>(VmRssKb()) / 1024.0);

  const auto t0 = std::chrono::steady_clock::now();
  std::chrono::steady_clock::duration inLoop{};
  for (long i = 0; i < measured; ++i) {
    f.LogResponse(SampleFrame(i));
    f.LogError("Protocol Error", "Bad Checksum (expected 00 00)", false, 2, 23);
    const auto p0 = std::chrono::steady_clock::now();
    Pump();
    inLoop += std::chrono::steady_clock::now() - p0;
  }
  // The rows still waiting for the pane's next frame are shown and painted
  // inside the time measured.
  const auto p0 = std::chrono::steady_clock::now();
  window.ApplyPending();
  window.repaint();
  Pump();
  inLoop += std::chrono::steady_clock::now() - p0;
  const auto t1 = std::chrono::steady_clock::now();
  if (report)
    std::printf("after %ld entries written, of the time per entry the event loop (layout, paint) took %.1f us\n",
                written, std::chrono::duration<double, std::micro>(inLoop).count() / static_cast<double>(2 * measured));
  return std::chrono::duration<double, std::micro>(t1 - t0).count() / static_cast<double>(2 * measured);
}

}  // namespace

int main(int argc, char** argv) {
  bench::PrivateConfig config;
  QApplication app(argc, argv);
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  long measured = 2000;
  for (int i = 1; i + 1 < argc; i += 2)
    if (std::strcmp(argv[i], "--measured") == 0) measured = std::max(10L, std::atol(argv[i + 1]));

  CostAfter(1000, measured / 10, false);  // warm up fonts, caches and the allocator
  const long points[] = {1000, 10000, 100000};
  double cost[3] = {};
  for (int i = 0; i < 3; ++i) {
    cost[i] = CostAfter(points[i], measured);
    if (cost[i] <= 0) {
      std::printf("log append through the window: FAILED (the window was not shown)\n");
      std::printf("TABLE | Log append, window under xvfb, per entry | FAILED | | |\n");
      return 1;
    }
    std::printf("log append through the window, full pane, after %ld entries written: %.1f us/entry\n", points[i],
                cost[i]);
  }
  std::printf("ratio (100,000 / 1,000): %.2f; (10,000 / 1,000): %.2f\n", cost[2] / cost[0], cost[1] / cost[0]);
  std::printf(
      "TABLE | Log append through the window (xvfb), per entry, after 1,000 / 10,000 / 100,000 entries written | "
      "%.1f / %.1f / %.1f us | target <= 100 us, flat | %.2f |\n",
      cost[0], cost[1], cost[2], cost[2] / cost[0]);
  return 0;
}
