// Start-up time and memory of the program against an empty Qt Widgets window
// started the same way. Each program is started `runs` times (after one
// untimed start of each, which warms the file cache), the two taking turns,
// with bench_startup_hook preloaded: the hook writes the milliseconds from
// just before the start to the first window exposed and drawn, and the
// resident memory (VmRSS) then, and ends the program. Every start gets a
// fresh empty HOME and XDG_CONFIG_HOME. Needs a display: run it under
// xvfb-run.
//
//   bench_startup [--runs 5] [--program PATH]
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

struct Start {
  double ms = -1;
  long rssKb = -1;
  std::string title;  // of the window that was shown
};

long long MonotonicNs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

// Starts program once with the hook; waits at most 30 s for it to end.
Start StartOnce(const std::string& program) {
  Start result;
  char dirTemplate[] = "/tmp/vesk-startup-XXXXXX";
  const char* dir = mkdtemp(dirTemplate);
  if (dir == nullptr) return result;
  const std::string home = dir;
  const std::string config = home + "/config";
  const std::string report = home + "/report";
  const std::string nullPath = "/dev/null";

  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string v = *e;
    if (v.rfind("HOME=", 0) == 0 || v.rfind("XDG_CONFIG_HOME=", 0) == 0 || v.rfind("LD_PRELOAD=", 0) == 0 ||
        v.rfind("VESK_STARTUP_", 0) == 0)
      continue;
    env.push_back(v);
  }
  env.push_back("HOME=" + home);
  env.push_back("XDG_CONFIG_HOME=" + config);
  env.push_back(std::string("LD_PRELOAD=") + VESK_STARTUP_HOOK_PATH);
  env.push_back("VESK_STARTUP_REPORT=" + report);
  const size_t t0Slot = env.size();
  env.push_back("");
  std::vector<char*> envp;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, nullPath.c_str(), O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, nullPath.c_str(), O_WRONLY, 0);
  std::string arg0 = program;
  char* argv[] = {arg0.data(), nullptr};

  env[t0Slot] = "VESK_STARTUP_T0_NS=" + std::to_string(MonotonicNs());
  for (std::string& v : env) envp.push_back(v.data());
  envp.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc == 0) {
    int status = 0;
    bool ended = false;
    for (int waited = 0; waited < 30000 && !ended; waited += 5) {
      if (waitpid(pid, &status, WNOHANG) == pid) {
        ended = true;
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    }
    if (!ended) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      std::fprintf(stderr, "%s: no window within 30 s\n", program.c_str());
    }
    std::ifstream in(report);
    if (in >> result.ms >> result.rssKb) {
      std::getline(in >> std::ws, result.title);
    } else {
      result = Start{};
    }
  }
  std::system(("rm -rf '" + home + "'").c_str());
  return result;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  if (v.empty()) return -1;
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

struct Series {
  std::vector<double> ms;
  std::vector<double> rssMb;
  bool ok = true;
  std::string Runs() const {
    std::string s;
    char buf[32];
    for (double x : ms) {
      std::snprintf(buf, sizeof buf, "%s%.0f", s.empty() ? "" : " ", x);
      s += buf;
    }
    return s;
  }
};

void Add(Series& s, const Start& r) {
  if (r.ms < 0 || r.rssKb < 0) {
    s.ok = false;
    return;
  }
  s.ms.push_back(r.ms);
  s.rssMb.push_back(static_cast<double>(r.rssKb) / 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 5;
  std::string program;
#ifdef VESK_PROGRAM_PATH
  program = VESK_PROGRAM_PATH;
#endif
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--program") == 0) program = argv[i + 1];
  }
  if (program.empty()) {
    std::printf("start-up: FAILED (no program to measure)\n");
    return 1;
  }
  const std::string empty = VESK_EMPTY_WINDOW_PATH;
  const Start firstEmpty = StartOnce(empty);
  const Start firstProgram = StartOnce(program);
  std::printf("windows measured: \"%s\" and \"%s\"\n", firstProgram.title.c_str(), firstEmpty.title.c_str());
  Series p;
  Series e;
  for (int r = 0; r < runs; ++r) {
    Add(e, StartOnce(empty));
    Add(p, StartOnce(program));
  }
  if (!p.ok || !e.ok) {
    std::printf("start-up: FAILED (a start gave no report; is there a display?)\n");
    std::printf("TABLE | Start-up to window shown | FAILED | | |\n");
    return 1;
  }
  const double pMs = Median(p.ms), eMs = Median(e.ms);
  const double pMb = Median(p.rssMb), eMb = Median(e.rssMb);
  std::printf("start-up to window shown: VeskTarvelo %.0f ms (runs: %s), empty Qt Widgets window %.0f ms (runs: %s)\n",
              pMs, p.Runs().c_str(), eMs, e.Runs().c_str());
  std::printf("ratio: %.2f\n", pMs / eMs);
  std::printf("resident memory at window shown: VeskTarvelo %.1f MB, empty Qt Widgets window %.1f MB, ratio %.2f\n",
              pMb, eMb, pMb / eMb);
  std::printf("TABLE | Start-up to window shown (median of %d) | %.0f ms | empty Qt Widgets window: %.0f ms | %.2f |\n",
              runs, pMs, eMs, pMs / eMs);
  std::printf(
      "TABLE | Resident memory (VmRSS) at window shown (median of %d) | %.1f MB | empty Qt Widgets window: %.1f MB | "
      "%.2f |\n",
      runs, pMb, eMb, pMb / eMb);
  return 0;
}
