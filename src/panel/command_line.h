#pragma once
// The program's command line on Linux.
#include <string>
#include <vector>

struct CommandLineResult {
  bool start = true;  // true: open the window; false: print and exit
  int exitCode = 0;   // the process's exit status when !start
  std::string out;    // text for standard output (may be empty)
  std::string err;    // text for standard error (may be empty)
};

// The usage text, ending with a line feed.
std::string CommandLineUsage();

// `args`: the arguments after the program name (argv[1] ...), as the toolkit
// left them.
//   no argument        start
//   --help             usage on standard output, exit 0
//   --version          "VeskTarvelo <major.minor.patch>\n" on standard output, exit 0
//   anything else      "VeskTarvelo: unknown argument '<arg>'\n" and the usage on
//                      standard error, exit 2
// An unknown argument anywhere wins; otherwise the first argument decides.
CommandLineResult ParseCommandLine(const std::vector<std::string>& args);
