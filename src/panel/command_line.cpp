#include "panel/command_line.h"

#include "common/version.h"

namespace {
constexpr int kUsageError = 2;
}  // namespace

std::string CommandLineUsage() {
  return "Usage: VeskTarvelo [--help | --version]\n"
         "Modbus master test tool: sends Modbus TCP, RTU and RTU-over-TCP requests\n"
         "and shows the answers. Without options it opens its window.\n"
         "\n"
         "  --help     show this help and exit\n"
         "  --version  show the version and exit\n";
}

CommandLineResult ParseCommandLine(const std::vector<std::string>& args) {
  CommandLineResult result;
  for (const std::string& arg : args) {
    if (arg != "--help" && arg != "--version") {
      result.start = false;
      result.exitCode = kUsageError;
      result.err = "VeskTarvelo: unknown argument '" + arg + "'\n" + CommandLineUsage();
      return result;
    }
  }
  if (args.empty()) return result;
  result.start = false;
  result.exitCode = 0;
  result.out = args.front() == "--help" ? CommandLineUsage() : "VeskTarvelo " VESKTARVELO_VERSION_TEXT "\n";
  return result;
}
