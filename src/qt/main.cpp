// VeskTarvelo: the panel model on the real platform, shown in its window.
#include <QApplication>
#include <QStyleFactory>

#include "panel/frmMain.h"
#include "qt/window/MainWindow.h"
#include "qt/window/beep_gate.h"
#include "qt/window/gui_platform.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
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
