#pragma once
// The program's command line on Linux.
#include <string>
#include <vector>

struct CommandLineResult {
  bool start = true;      // true: open the window; false: print and exit
  int exitCode = 0;       // the process's exit status when !start
  std::string out;        // text for standard output (may be empty)
  std::string err;        // text for standard error (may be empty)
  std::string workspace;  // the workspace file to open when starting (may be empty)
  // Serial devices listed beside the system's ports (--serial-port PATH, a
  // pseudo-terminal or a device the system does not enumerate).
  std::vector<std::string> serialPorts;
};

// The usage text, ending with a line feed.
std::string CommandLineUsage();

// `args`: the arguments after the program name (argv[1] ...), without the
// toolkit's own options (see WithoutToolkitOptions).
//   no argument        start
//   FILE               start and open the workspace FILE (one at most)
//   --serial-port PATH, --serial-port=PATH
//                      start with PATH in the serial port list (repeatable);
//                      without a PATH it is an unknown argument
//   --help, -h         usage on standard output, exit 0
//   --version, -V      "VeskTarvelo <major.minor.patch>\n" on standard output, exit 0
//   anything else      (a dash option, a second file)
//                      "VeskTarvelo: unknown argument '<arg>'\n" and the usage on
//                      standard error, exit 2
// An unknown argument anywhere wins; otherwise the first argument decides.
CommandLineResult ParseCommandLine(const std::vector<std::string>& args);

// `args` without the options the window toolkit takes for itself when the
// application object is made (-platform NAME, -style NAME or -style=NAME,
// -reverse, -display NAME, ..., each also with two dashes), so that the
// command line can be decided before that object exists: without a display,
// help, the version and a usage error still work. An option that needs a
// value but comes last stays in the list (the toolkit leaves it too), and is
// then refused as unknown.
std::vector<std::string> WithoutToolkitOptions(const std::vector<std::string>& args);
