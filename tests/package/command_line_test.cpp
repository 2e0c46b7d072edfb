// The program's command line: the arguments the toolkit takes for itself, and the built program
// started with an empty environment (no display, no platform), answering help, the version and a
// usage error on its own.
#include "panel/command_line.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <tuple>

#include "common/version.h"

namespace {

using Args = std::vector<std::string>;

TEST(ToolkitOptions, AreSetAsideWithTheirValues) {
  const std::pair<Args, Args> cases[] = {
      {{}, {}},
      {{"-platform", "offscreen", "--version"}, {"--version"}},
      {{"--platform", "offscreen", "-V"}, {"-V"}},  // two dashes as well
      {{"-style", "Fusion", "-reverse", "--help"}, {"--help"}},
      {{"-style=Fusion", "--stylesheet=a.qss", "-h"}, {"-h"}},
      {{"-qmljsdebugger=port:1234", "-widgetcount"}, {}},
      {{"-display", ":1", "-name", "x", "-title", "t", "-geometry", "10x10"}, {}},
      {{"-qwindowtitle", "--bogus", "-V"}, {"-V"}},                // a value that looks like an option
      {{"--version", "-style"}, {"--version", "-style"}},          // without its value: left, to be refused
      {{"--bogus", "-V"}, {"--bogus", "-V"}},                      // not the toolkit's: ours, unknown ones,
      {{"-platformx", "offscreen"}, {"-platformx", "offscreen"}},  // and near misses
      {{"---platform", "offscreen"}, {"---platform", "offscreen"}},
      {{"style", "Fusion"}, {"style", "Fusion"}},
      {{"--", "-h"}, {"--", "-h"}},
  };
  for (const auto& [in, left] : cases) EXPECT_EQ(WithoutToolkitOptions(in), left) << ::testing::PrintToString(in);
}

// The built program with `args` and no environment, killed after 15 s (one that waited for a
// display would hang): its status (128 + the signal), standard output and standard error.
std::tuple<int, std::string, std::string> RunProgram(const Args& args) {
  const std::string base = ::testing::TempDir() + "vesk-cl-" + std::to_string(getpid());
  std::string command = "timeout -s KILL 15 env -i '" VESK_PROGRAM "'";
  for (const std::string& a : args) command += " '" + a + "'";
  const int status = std::system((command + " >'" + base + ".out' 2>'" + base + ".err'").c_str());
  std::ostringstream out, err;
  out << std::ifstream(base + ".out").rdbuf();
  err << std::ifstream(base + ".err").rdbuf();
  std::remove((base + ".out").c_str());
  std::remove((base + ".err").c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), out.str(), err.str()};
}

TEST(Program, AnswersItsCommandLineWithoutADisplay) {
  const std::string usage = CommandLineUsage();
  const std::string version = std::string("VeskTarvelo ") + VESKTARVELO_VERSION_TEXT + "\n";
  const auto refused = [&](const std::string& arg) { return "VeskTarvelo: unknown argument '" + arg + "'\n" + usage; };
  const std::tuple<Args, int, std::string, std::string> cases[] = {
      {{"--help"}, 0, usage, ""},
      {{"-V", "--help"}, 0, version, ""},  // the first decides
      {{"-platform", "xcb", "--version"}, 0, version, ""},
      {{"-style=Fusion", "-reverse", "-h"}, 0, usage, ""},
      {{"--version", "--bogus"}, 2, "", refused("--bogus")},
      {{"-v"}, 2, "", refused("-v")},
      {{"-platform", "xcb", "one.json", "extra"}, 2, "", refused("extra")},
  };
  for (const auto& [args, status, out, err] : cases)
    EXPECT_EQ(RunProgram(args), std::make_tuple(status, out, err)) << ::testing::PrintToString(args);
}

}  // namespace
