// The integration tests' main: a QCoreApplication for the adapters' event loop, and the settings in
// a temporary configuration folder (set before the process's first QSettings reads it).
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>

int main(int argc, char** argv) {
  QTemporaryDir configHome;
  if (!configHome.isValid()) return 2;
  qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());
  QCoreApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
