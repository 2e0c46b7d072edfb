// VeskTarvelo: the panel model on the real platform, shown in its window.
#include <QApplication>
#include <QStyleFactory>
#include <cstdio>
#include <string>
#include <vector>

#include "panel/command_line.h"
#include "panel/frmMain.h"
#include "qt/adapters/qt_port_list.h"
#include "qt/window/MainWindow.h"
#include "qt/window/beep_gate.h"
#include "qt/window/gui_platform.h"

namespace {
// The id the desktop entry, the AppStream metadata and the icon are named
// by; desktops match the running window to its entry through it.
constexpr const char* kDesktopId = "example.vesktarvelo.VeskTarvelo";
}  // namespace

int main(int argc, char* argv[]) {
  // The command line is decided before the application object is made: that
  // object needs a display, and help, the version and a usage error must
  // work without one (over ssh, in a build, for a manual generator). The
  // toolkit's own options (-platform, -style, ...) are set aside here and
  // taken by the application object below.
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  const CommandLineResult command = ParseCommandLine(WithoutToolkitOptions(args));
  if (!command.start) {
    std::fputs(command.out.c_str(), stdout);
    std::fputs(command.err.c_str(), stderr);
    std::fflush(stdout);
    std::fflush(stderr);
    return command.exitCode;
  }

  // The window class (StartupWMClass) is the application name; set, it stays
  // "VeskTarvelo" whether the program is started as VeskTarvelo or through
  // the lower-case vesktarvelo link. The settings file is named for the
  // executable itself (the link resolves to it), so it does not move.
  QCoreApplication::setApplicationName(QStringLiteral("VeskTarvelo"));
  QGuiApplication::setDesktopFileName(QString::fromLatin1(kDesktopId));
  QApplication app(argc, argv);

  // The panel places its fields at fixed positions; Fusion's metrics fit
  // them on every desktop.
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

  auto platform = qt::MakeGuiPlatform();
  qt::BeepGate::Install(platform);
  // Listed before the panel loads, so that a port chosen last time among them
  // is chosen again.
  if (auto* ports = dynamic_cast<qt::QtPortList*>(platform.ports.get()))
    for (const std::string& port : command.serialPorts) ports->AddExtraPort(port);
  frmMain f(platform);
  f.Form_Load();
  // A workspace that cannot be opened says why in the log; the window opens anyway.
  if (!command.workspace.empty()) f.OpenWorkspace(command.workspace);

  qt::MainWindow window(f);
  window.show();
  return QApplication::exec();
}
