// The program's command line: which arguments the toolkit takes for itself,
// and the built program started with an empty environment (no display, no
// platform chosen), which must answer help, the version and a usage error
// on its own.
#include "panel/command_line.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "common/version.h"

namespace {

using Args = std::vector<std::string>;

std::string Shown(const Args& args) {
  std::string shown;
  for (const std::string& a : args) shown += "[" + a + "]";
  return shown;
}

TEST(ToolkitOptions, AreSetAsideWithTheirValues) {
  const struct {
    Args in;
    Args left;
  } cases[] = {
      {{}, {}},
      {{"-platform", "offscreen", "--version"}, {"--version"}},
      {{"--platform", "offscreen", "-V"}, {"-V"}},  // two dashes as well
      {{"-style", "Fusion", "-reverse", "--help"}, {"--help"}},
      {{"-style=Fusion", "--stylesheet=a.qss", "-h"}, {"-h"}},
      {{"-qmljsdebugger=port:1234", "-widgetcount"}, {}},
      {{"-display", ":1", "-name", "x", "-title", "t", "-geometry", "10x10"}, {}},
      // A value that looks like an option is still the option's value.
      {{"-qwindowtitle", "--bogus", "-V"}, {"-V"}},
      // Without its value the option is left, to be refused.
      {{"--version", "-style"}, {"--version", "-style"}},
      // Not the toolkit's: ours, unknown ones, and near misses.
      {{"--bogus", "-V"}, {"--bogus", "-V"}},
      {{"-platformx", "offscreen"}, {"-platformx", "offscreen"}},
      {{"---platform", "offscreen"}, {"---platform", "offscreen"}},
      {{"style", "Fusion"}, {"style", "Fusion"}},
      {{"--", "-h"}, {"--", "-h"}},
  };
  for (const auto& c : cases) EXPECT_EQ(WithoutToolkitOptions(c.in), c.left) << Shown(c.in);
}

std::string Slurp(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

// The built program with `args` and no environment at all, given 15 s to end
// (one that waited for a display would hang the test): its status (128 + the
// signal, 124 for the time-out), standard output and standard error.
std::tuple<int, std::string, std::string> RunProgram(const Args& args) {
  const std::string base = ::testing::TempDir() + "vesk-cl-" + std::to_string(getpid());
  const std::string out = base + ".out", err = base + ".err";
  std::string command = "timeout -s KILL 15 env -i '" VESK_PROGRAM "'";
  for (const std::string& a : args) command += " '" + a + "'";
  const int status = std::system((command + " >'" + out + "' 2>'" + err + "'").c_str());
  std::tuple<int, std::string, std::string> run{WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
                                                Slurp(out), Slurp(err)};
  std::remove(out.c_str());
  std::remove(err.c_str());
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
      {{"-V", "--help"}, 0, version, ""},  // the first decides
      {{"-platform", "xcb", "--version"}, 0, version, ""},
      {{"-style=Fusion", "-reverse", "-h"}, 0, usage, ""},
      {{"--version", "--bogus"}, 2, "", refused("--bogus")},
      {{"-v"}, 2, "", refused("-v")},
      {{"-platform", "xcb", "one.json", "extra"}, 2, "", refused("extra")},
      {{"one.json", "--version"}, 0, version, ""},  // an option still answers without a display
      {{"--help", "-style"}, 2, "", refused("-style")},
  };
  for (const auto& c : cases) EXPECT_EQ(RunProgram(c.args), std::make_tuple(c.status, c.out, c.err)) << Shown(c.args);
}

}  // namespace
