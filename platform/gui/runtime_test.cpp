#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QAbstractScrollArea>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstdio>

#include "app/fatal_error.h"
#include "platform/gui/controls.h"
#include "platform/gui/gui_test_support.h"
#include "platform/gui/qt_access.h"
#include "platform/gui/runtime.h"

namespace qelvaro::gui {
namespace {

using testing::ShowActive;
using testing::TestWindow;

int g_hookRuns = 0;
void CountingHook() {
  ++g_hookRuns;
  std::fputs("exit hook ran\n", stderr);
}

// Loads a window, closes it from the message loop, and returns the loop's
// result.
int CloseRightAfterStart() {
  RegisterExitHook(CountingHook);
  窗口 window("窗口", TestWindow());
  if (!window.Load()) return -5;
  QWidget* w = NativeWidget(window);
  QTimer::singleShot(0, w, [w] { w->close(); });
  // Only a safety net against a hang; the close above ends the loop.
  QTimer::singleShot(60000, qApp, [] { QCoreApplication::exit(-9); });
  return RunMessageLoop();
}

TEST(RunProgram, ClosingTheWindowEndsTheLoopWithZeroAndRunsTheExitHookOnce) {
  g_hookRuns = 0;
  char name[] = "gui_test";
  char* argv[] = {name, nullptr};
  EXPECT_EQ(RunProgram(1, argv, CloseRightAfterStart, "x"), 0);
  EXPECT_EQ(g_hookRuns, 1);
  RunExitHook();  // it was forgotten once run
  EXPECT_EQ(g_hookRuns, 1);
}

int FailInTheCreatedEvent() {
  RegisterExitHook(CountingHook);
  窗口 window("窗口", TestWindow());
  window.OnCreated([] { FatalError(0, "x"); });
  window.Load();
  return RunMessageLoop();
}

TEST(RunProgramDeathTest, TheExitHookNeverRunsAfterAFatalError) {
  char name[] = "gui_test";
  char* argv[] = {name, nullptr};
  EXPECT_EXIT(RunProgram(1, argv, FailInTheCreatedEvent, "x"), ::testing::ExitedWithCode(255),
              ::testing::Not(::testing::HasSubstr("exit hook ran")));
}

// Counts the paint events a widget gets.
class PaintCounter final : public QObject {
 public:
  int paints = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

class BusyTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(ShowActive(window)); }

  QLineEdit* Edit() { return qobject_cast<QLineEdit*>(NativeWidget(edit)); }

  窗口 window{"窗口", TestWindow()};
  EditBox edit{window, "编辑框1", {68, 16, 122, 24}, {.text = "start"}};
  Button first{window, "按钮1", {195, 12, 64, 32}, {.caption = "1"}};
  Button second{window, "按钮2", {300, 12, 64, 32}, {.caption = "2"}};
  ListView list{window, "超级列表框1", {0, 56, 264, 416}, {.columns = {{"a", 160}}}};
};

TEST_F(BusyTest, AHandlerRunsUnderTheWaitCursorAndTakesNoInput) {
  int secondRuns = 0;
  int listRuns = 0;
  bool waitCursor = false;
  bool closed = true;
  second.OnClicked([&] { ++secondRuns; });
  list.OnClicked([&] { ++listRuns; });
  first.OnClicked([&] {
    const QCursor* cursor = QGuiApplication::overrideCursor();
    waitCursor = cursor != nullptr && cursor->shape() == Qt::WaitCursor;
    QTest::keyClicks(Edit(), "typed");
    QTest::mouseClick(NativeWidget(second), Qt::LeftButton);
    QTest::mouseClick(qobject_cast<QAbstractScrollArea*>(NativeWidget(list))->viewport(),
                      Qt::LeftButton, {}, QPoint(20, 100));
    qobject_cast<QPushButton*>(NativeWidget(second))->click();  // not input, still no handler
    closed = NativeWidget(window)->close();
  });
  QTest::mouseClick(NativeWidget(first), Qt::LeftButton);
  EXPECT_TRUE(waitCursor);
  EXPECT_EQ(Edit()->text(), "start");
  EXPECT_EQ(secondRuns, 0);
  EXPECT_EQ(listRuns, 0);
  EXPECT_FALSE(closed);
  EXPECT_TRUE(NativeWidget(window)->isVisible());

  // Afterwards everything is as before.
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_FALSE(HandlerRunning());
  QTest::mouseClick(NativeWidget(second), Qt::LeftButton);
  EXPECT_EQ(secondRuns, 1);
}

TEST_F(BusyTest, KeepPaintingRepaintsButDeliversNoInputNowOrLater) {
  PaintCounter counter;
  Edit()->installEventFilter(&counter);
  int paintsSeen = 0;
  first.OnClicked([&] {
    EXPECT_TRUE(HandlerRunning());
    counter.paints = 0;
    edit.SetText("fetched");
    QCoreApplication::postEvent(Edit(), new QKeyEvent(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, "x"));
    KeepPainting();
    paintsSeen = counter.paints;
  });
  QTest::mouseClick(NativeWidget(first), Qt::LeftButton);
  EXPECT_GT(paintsSeen, 0);
  QCoreApplication::processEvents();
  EXPECT_EQ(Edit()->text(), "fetched");
  EXPECT_EQ(edit.GetText(), "fetched");
  Edit()->removeEventFilter(&counter);
}

TEST(KeepPainting, DoesNothingOutsideAHandler) {
  EXPECT_FALSE(HandlerRunning());
  KeepPainting();
  EXPECT_FALSE(HandlerRunning());
}

}  // namespace
}  // namespace qelvaro::gui
