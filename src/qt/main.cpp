// VeskTarvelo: the panel model on the real platform, shown in its window.
#include <QApplication>
#include <QStringList>
#include <QStyleFactory>
#include <cstdio>
#include <string>
#include <vector>

#include "panel/command_line.h"
#include "panel/frmMain.h"
#include "qt/window/MainWindow.h"
#include "qt/window/beep_gate.h"
#include "qt/window/gui_platform.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);

  // The arguments the toolkit left (it takes its own, such as -style) decide
  // whether the window opens at all; help, the version and a usage error are
  // printed before anything else is made.
  std::vector<std::string> args;
  const QStringList arguments = QCoreApplication::arguments();
  for (qsizetype i = 1; i < arguments.size(); ++i) args.push_back(arguments.at(i).toStdString());
  const CommandLineResult command = ParseCommandLine(args);
  if (!command.start) {
    std::fputs(command.out.c_str(), stdout);
    std::fputs(command.err.c_str(), stderr);
    std::fflush(stdout);
    std::fflush(stderr);
    return command.exitCode;
  }

  // The panel places its fields at fixed positions; Fusion's metrics fit
  // them on every desktop.
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

  auto platform = qt::MakeGuiPlatform();
  qt::BeepGate::Install(platform);
  frmMain f(platform);
  f.Form_Load();

  qt::MainWindow window(f);
  window.show();
  return QApplication::exec();
}
