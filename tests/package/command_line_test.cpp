// The program's command line: which arguments the toolkit takes for itself,
// and the built program started with an empty environment (no display, no
// platform chosen), which must answer help, the version and a usage error
// on its own.
#include "panel/command_line.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <string>
#include <vector>

#include "common/version.h"

namespace {

using Args = std::vector<std::string>;

TEST(ToolkitOptions, AreSetAsideWithTheirValues) {
  const struct {
    Args in;
    Args left;
  } cases[] = {
      {{}, {}},
      {{"--version"}, {"--version"}},
      {{"-platform", "offscreen", "--version"}, {"--version"}},
      {{"--platform", "offscreen", "-V"}, {"-V"}},  // two dashes as well
      {{"-style", "Fusion", "-reverse", "--help"}, {"--help"}},
      {{"-style=Fusion", "--stylesheet=a.qss", "-h"}, {"-h"}},
      {{"-qmljsdebugger=port:1234", "-widgetcount"}, {}},
      {{"-display", ":1", "-name", "x", "-title", "t", "-geometry", "10x10"}, {}},
      // A value that looks like an option is still the option's value.
      {{"-qwindowtitle", "--bogus", "-V"}, {"-V"}},
      {{"-style", "--help"}, {}},
      // Without its value the option is left, to be refused.
      {{"--version", "-style"}, {"--version", "-style"}},
      {{"-platform"}, {"-platform"}},
      // Not the toolkit's: ours, unknown ones, and near misses.
      {{"--bogus", "-V"}, {"--bogus", "-V"}},
      {{"-platformx", "offscreen"}, {"-platformx", "offscreen"}},
      {{"---platform", "offscreen"}, {"---platform", "offscreen"}},
      {{"style", "Fusion"}, {"style", "Fusion"}},
      {{"--", "-h"}, {"--", "-h"}},
      {{"-"}, {"-"}},
  };
  for (const auto& c : cases) {
    std::string shown;
    for (const std::string& a : c.in) shown += "[" + a + "]";
    EXPECT_EQ(WithoutToolkitOptions(c.in), c.left) << shown;
  }
}

// The built program, started with no environment at all.
struct Outcome {
  int status = -1;  // the exit code, or 128 + the signal that ended it
  std::string out, err;
};

std::string Drain(int fd) {
  std::string text;
  std::array<char, 4096> buffer{};
  for (ssize_t n; (n = read(fd, buffer.data(), buffer.size())) > 0;) text.append(buffer.data(), n);
  return text;
}

Outcome RunProgram(const Args& args) {
  Outcome run;
  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) return run;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addclose(&actions, err[0]);
  std::vector<std::string> all{VESK_PROGRAM};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  char* envp[] = {nullptr};
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, VESK_PROGRAM, &actions, nullptr, argv.data(), envp);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(err[1]);
  if (spawned == 0) {
    // A program that waits for a display instead of answering would hang
    // the test: it gets 15 s to end.
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open = 2;
    for (int rounds = 0; open > 0 && rounds < 150; ++rounds) {
      if (poll(fds, 2, 100) <= 0) continue;
      for (pollfd& f : fds) {
        if (f.fd < 0 || (f.revents & (POLLIN | POLLHUP)) == 0) continue;
        std::array<char, 4096> buffer{};
        const ssize_t n = read(f.fd, buffer.data(), buffer.size());
        if (n > 0) {
          (f.fd == out[0] ? run.out : run.err).append(buffer.data(), n);
        } else {
          f.fd = -1;
          --open;
        }
      }
    }
    if (open > 0) kill(pid, SIGKILL);
    run.out += Drain(out[0]);
    run.err += Drain(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  close(out[0]);
  close(err[0]);
  return run;
}

TEST(Program, AnswersItsCommandLineWithoutADisplay) {
  const std::string usage = CommandLineUsage();
  const std::string version = std::string("VeskTarvelo ") + VESKTARVELO_VERSION_TEXT + "\n";
  const auto refused = [&](const std::string& arg) { return "VeskTarvelo: unknown argument '" + arg + "'\n" + usage; };
  const struct {
    Args args;
    int status;
    std::string out, err;
  } cases[] = {
      {{"--help"}, 0, usage, ""},
      {{"-h"}, 0, usage, ""},
      {{"--version"}, 0, version, ""},
      {{"-V"}, 0, version, ""},
      {{"-V", "--help"}, 0, version, ""},  // the first decides
      {{"-platform", "xcb", "--version"}, 0, version, ""},
      {{"-style=Fusion", "-reverse", "-h"}, 0, usage, ""},
      {{"--bogus"}, 2, "", refused("--bogus")},
      {{"--version", "--bogus"}, 2, "", refused("--bogus")},
      {{"-v"}, 2, "", refused("-v")},
      {{"-H"}, 2, "", refused("-H")},
      {{"-platform", "xcb", "one.json", "extra"}, 2, "", refused("extra")},
      {{"one.json", "--version"}, 0, version, ""},  // an option still answers without a display
      {{"--help", "-style"}, 2, "", refused("-style")},
  };
  for (const auto& c : cases) {
    std::string shown;
    for (const std::string& a : c.args) shown += "[" + a + "]";
    const Outcome run = RunProgram(c.args);
    EXPECT_EQ(run.status, c.status) << shown;
    EXPECT_EQ(run.out, c.out) << shown;
    EXPECT_EQ(run.err, c.err) << shown;
  }
}

}  // namespace
