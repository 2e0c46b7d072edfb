#include "panel/command_line.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "common/version.h"

namespace {
constexpr int kUsageError = 2;

// The options Qt 6 (QCoreApplication, QGuiApplication, QApplication and the
// xcb platform) removes from the command line, named with one dash.
constexpr std::array<std::string_view, 16> kToolkitOptionsWithValue = {"-platform",
                                                                       "-platformpluginpath",
                                                                       "-platformtheme",
                                                                       "-plugin",
                                                                       "-qwindowgeometry",
                                                                       "-qwindowicon",
                                                                       "-qwindowtitle",
                                                                       "-geometry",
                                                                       "-title",
                                                                       "-icon",
                                                                       "-session",
                                                                       "-display",
                                                                       "-name",
                                                                       "-visual",
                                                                       "-style",
                                                                       "-stylesheet"};
constexpr std::array<std::string_view, 7> kToolkitFlags = {"-reverse", "-widgetcount", "-testability", "-dograb",
                                                           "-nograb",  "-qdevel",      "-qdebug"};
// Options whose value is joined to them: -style=NAME.
constexpr std::array<std::string_view, 3> kToolkitOptionsWithJoinedValue = {
    "-style=", "-stylesheet=", "-qmljsdebugger="};

template <std::size_t N>
bool Contains(const std::array<std::string_view, N>& names, std::string_view name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}
}  // namespace

std::string CommandLineUsage() {
  return "Usage: vesktarvelo [-h | --help | -V | --version]\n"
         "       vesktarvelo [--serial-port PATH ...] [WORKSPACE]\n"
         "Modbus master test tool: sends Modbus TCP, RTU and ASCII requests, on a\n"
         "serial line or over TCP, and shows the answers. Without options it opens\n"
         "its window, with the workspace file WORKSPACE opened when one is named.\n"
         "\n"
         "  -h, --help            show this help and exit\n"
         "  -V, --version         show the version and exit\n"
         "  --serial-port PATH    list the serial device PATH (a pseudo-terminal,\n"
         "                        for example) beside the system's ports; repeatable\n"
         "\n"
         "The options of the Qt toolkit, such as -platform NAME or -style NAME,\n"
         "are accepted as well.\n";
}

CommandLineResult ParseCommandLine(const std::vector<std::string>& args) {
  const auto isHelp = [](const std::string& a) { return a == "--help" || a == "-h"; };
  const auto isVersion = [](const std::string& a) { return a == "--version" || a == "-V"; };
  CommandLineResult result;
  std::vector<std::string> options;
  constexpr std::string_view kSerialPort = "--serial-port";
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const std::string_view name = arg;
    if (isHelp(arg) || isVersion(arg)) {
      options.push_back(arg);
    } else if (name == kSerialPort && i + 1 < args.size() && !args[i + 1].empty()) {
      result.serialPorts.push_back(args[++i]);
    } else if (name.starts_with(kSerialPort) && name.size() > kSerialPort.size() + 1 &&
               name[kSerialPort.size()] == '=') {
      result.serialPorts.emplace_back(name.substr(kSerialPort.size() + 1));
    } else if (!arg.empty() && arg.front() != '-' && result.workspace.empty()) {
      result.workspace = arg;  // the one workspace file
    } else {
      result = CommandLineResult{};
      result.start = false;
      result.exitCode = kUsageError;
      result.err = "VeskTarvelo: unknown argument '" + arg + "'\n" + CommandLineUsage();
      return result;
    }
  }
  if (options.empty()) return result;
  result.start = false;
  result.exitCode = 0;
  result.workspace.clear();
  result.serialPorts.clear();
  result.out = isHelp(options.front()) ? CommandLineUsage() : "VeskTarvelo " VESKTARVELO_VERSION_TEXT "\n";
  return result;
}

std::vector<std::string> WithoutToolkitOptions(const std::vector<std::string>& args) {
  std::vector<std::string> left;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string_view name = args[i];
    // The toolkit reads --platform as -platform.
    if (name.size() > 2 && name.substr(0, 2) == "--") name.remove_prefix(1);
    if (Contains(kToolkitOptionsWithValue, name) && i + 1 < args.size()) {
      ++i;  // its value too
      continue;
    }
    const auto joined = [&](std::string_view prefix) { return name.starts_with(prefix); };
    if (Contains(kToolkitFlags, name) ||
        std::any_of(kToolkitOptionsWithJoinedValue.begin(), kToolkitOptionsWithJoinedValue.end(), joined)) {
      continue;
    }
    left.push_back(args[i]);
  }
  return left;
}
