// The command line: help, version, anything else refused.
#include "panel/command_line.h"

#include <gtest/gtest.h>

#include "panel/frmMain.h"

namespace {

TEST(CommandLine, Arguments) {
  const std::string usage = CommandLineUsage();
  const std::string version = "VeskTarvelo " + frmMain::VersionText() + "\n";
  struct Case {
    std::vector<std::string> args;
    bool start;
    int exitCode;
    std::string out, err;
  };
  const Case cases[] = {
      {{}, true, 0, "", ""},
      {{"--help"}, false, 0, usage, ""},
      {{"--version"}, false, 0, version, ""},
      {{"--version", "--help"}, false, 0, version, ""},
      {{"-h"}, false, 2, "", "VeskTarvelo: unknown argument '-h'\n" + usage},
      {{"--help", "x"}, false, 2, "", "VeskTarvelo: unknown argument 'x'\n" + usage},
      {{""}, false, 2, "", "VeskTarvelo: unknown argument ''\n" + usage},
      {{"--HELP"}, false, 2, "", "VeskTarvelo: unknown argument '--HELP'\n" + usage},
  };
  for (const Case& c : cases) {
    const CommandLineResult r = ParseCommandLine(c.args);
    const std::string what = c.args.empty() ? "(none)" : c.args.front();
    EXPECT_EQ(r.start, c.start) << what;
    EXPECT_EQ(r.exitCode, c.exitCode) << what;
    EXPECT_EQ(r.out, c.out) << what;
    EXPECT_EQ(r.err, c.err) << what;
  }
  EXPECT_EQ(usage.rfind("Usage: VeskTarvelo", 0), 0u);
  EXPECT_NE(usage.find("--version"), std::string::npos);
}

}  // namespace
