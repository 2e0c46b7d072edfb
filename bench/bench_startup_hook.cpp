// Preloaded (LD_PRELOAD) into a Qt program by bench_startup; inert unless
// VESK_STARTUP_REPORT is set. When the application object is made it watches
// every event for the first window being exposed; once that expose has been
// handled (the window drawn), it writes to the file VESK_STARTUP_REPORT
//   <ms since VESK_STARTUP_T0_NS> <VmRSS in kB> <the window's title>
// and ends the event loop. VESK_STARTUP_T0_NS is CLOCK_MONOTONIC in
// nanoseconds, taken by the launcher just before it started the program, so
// the time covers loading, start-up and the first paint. The program under
// test needs no change of its own for this.
#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QWindow>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

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

QString g_title;  // the title of the window that was exposed

void Report() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const long long nowNs = static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
  const long long t0 = std::atoll(qgetenv("VESK_STARTUP_T0_NS").constData());
  const long rss = VmRssKb();
  if (std::FILE* out = std::fopen(qgetenv("VESK_STARTUP_REPORT").constData(), "w")) {
    std::fprintf(out, "%.3f %ld %s\n", static_cast<double>(nowNs - t0) / 1e6, rss, g_title.toUtf8().constData());
    std::fclose(out);
  }
  QCoreApplication::exit(0);
}

class ExposeWatch : public QObject {
 public:
  explicit ExposeWatch(QObject* parent) : QObject(parent) {}
  bool eventFilter(QObject* watched, QEvent* e) override {
    if (!fired_ && e->type() == QEvent::Expose) {
      auto* w = qobject_cast<QWindow*>(watched);
      if (w != nullptr && w->isExposed()) {
        fired_ = true;
        g_title = w->title();
        // Queued: runs once the expose (and the paint it asks for) is done.
        QTimer::singleShot(0, qApp, &Report);
      }
    }
    return false;
  }

 private:
  bool fired_ = false;
};

void InstallWatch() {
  if (qEnvironmentVariableIsEmpty("VESK_STARTUP_REPORT")) return;
  QCoreApplication::instance()->installEventFilter(new ExposeWatch(QCoreApplication::instance()));
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(InstallWatch)
