#include "app/program.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "app/fatal_error.h"
#include "platform/gui/runtime.h"

namespace qelvaro {
namespace {

// Closes the main window as soon as it is shown, as a user would with its
// close box.
void CloseTheWindowOnceShown() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->objectName() == QStringLiteral("窗口") && w->isVisible()) {
      w->close();
      return;
    }
  }
  QTimer::singleShot(10, qApp, CloseTheWindowOnceShown);
}

TEST(StartProgram, ClosingTheWindowEndsTheProgramWithZeroAndFreesPageText) {
  PageText = Text("<html>the last search page</html>");
  QTimer::singleShot(0, qApp, CloseTheWindowOnceShown);
  char name[] = "qelvaro";
  char* argv[] = {name, nullptr};
  EXPECT_EQ(gui::RunProgram(1, argv, StartProgram, WindowLoadFailure()), 0);
  EXPECT_TRUE(PageText.empty());
  EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty() ||
              !QApplication::topLevelWidgets().front()->isVisible());
}

TEST(ReleaseGlobals, FreesNothingWhenNoSearchRan) {
  PageText = Text();
  ReleaseGlobals();
  EXPECT_TRUE(PageText.empty());
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(Program, WithoutADisplayItReportsThatTheWindowCannotBeLoadedAndEndsWith255) {
  const std::string errors = ::testing::TempDir() + "qelvaro_no_display.txt";
  const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb '" +
                              std::string(QELVARO_PROGRAM) + "' 2>'" + errors + "'";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 255);
  EXPECT_THAT(ReadFile(errors), ::testing::HasSubstr("错误: 运行时出错!\r\n\r\n错误信息：载入启动窗口失败\r\n"));
  std::remove(errors.c_str());
}

}  // namespace
}  // namespace qelvaro
