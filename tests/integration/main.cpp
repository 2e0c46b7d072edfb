// The one main of the integration tests: a QCoreApplication for the real
// adapters' event loop, and the settings of the process in a temporary
// configuration folder, so that no test touches the user's own settings.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>

int main(int argc, char** argv) {
  // Set before the first QSettings of the process, which reads it once.
  QTemporaryDir configHome;
  if (!configHome.isValid()) return 2;
  qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());

  QCoreApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
