// Test programs run without a screen: Qt's offscreen platform, and Qt's test
// mode so that no user settings are read or written.
#include <gtest/gtest.h>

#include <QStandardPaths>

#include "toolkit/QtApplication.h"

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QStandardPaths::setTestModeEnabled(true);
  ::testing::InitGoogleTest(&argc, argv);
  TQtApplication App(argc, argv);
  return RUN_ALL_TESTS();
}
