// The main of a GUI test binary: one QApplication on the offscreen platform,
// set up as the run time sets it up, for every test of the binary.
#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>

#include "platform/gui/qt_access.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::testing::InitGoogleTest(&argc, argv);
  // Death tests start a fresh process: Qt's threads do not survive a fork.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  QApplication app(argc, argv);
  qelvaro::gui::InitializeRuntime();
  return RUN_ALL_TESTS();
}
