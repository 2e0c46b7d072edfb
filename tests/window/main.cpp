// The window tests need a QApplication (and a display: run under xvfb-run).
// Settings go to a temporary configuration folder, never the user's.
#include <gtest/gtest.h>

#include <QApplication>
#include <QStyleFactory>
#include <QTemporaryDir>

#include "window_test_env.h"

namespace windowtest {
QString g_configRoot;
}

int main(int argc, char** argv) {
  QTemporaryDir configRoot;
  if (!configRoot.isValid()) return 2;
  windowtest::g_configRoot = configRoot.path();
  qputenv("XDG_CONFIG_HOME", configRoot.path().toUtf8());

  QApplication app(argc, argv);
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
