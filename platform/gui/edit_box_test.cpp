#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>

#include "platform/gui/controls.h"
#include "platform/gui/gui_test_support.h"
#include "platform/gui/qt_access.h"
#include "text/gbk_literal.h"

namespace qelvaro::gui {
namespace {

using testing::ShowActive;
using testing::TestWindow;

QPlainTextEdit* Multi(const EditBox& box) { return qobject_cast<QPlainTextEdit*>(NativeWidget(box)); }
QLineEdit* Single(const EditBox& box) { return qobject_cast<QLineEdit*>(NativeWidget(box)); }

TEST(EditBox, GivesBackExactlyTheTextLastWritten) {
  窗口 window("窗口", TestWindow());
  EditBox single(window, "single", {0, 0, 80, 20}, {});
  EditBox multi(window, "multi", {0, 30, 200, 60}, {.multiLine = true});
  EditBox hidden(window, "hidden", {0, 100, 80, 20}, {.visible = false});
  ASSERT_TRUE(ShowActive(window));
  const Text cases[] = {
      Text(),
      "<Song>\n</Song>\n",  // the empty track record: bare line feeds
      "a\r\nb\r\n",
      "\r\r\n\n",
      "我的\n好兄弟"_gbk,
      Text(std::string(20000, 'x')),
  };
  for (EditBox* box : {&single, &multi, &hidden}) {
    for (const Text& text : cases) {
      box->SetText(text);
      EXPECT_EQ(box->GetText(), text) << NativeWidget(*box)->objectName().toStdString();
    }
  }
}

TEST(EditBox, AMultiLineBoxBreaksLinesAtCrLfOnly) {
  窗口 window("窗口", TestWindow());
  EditBox box(window, "box", {0, 0, 272, 47}, {.multiLine = true});
  ASSERT_TRUE(ShowActive(window));
  struct Case {
    Text written;
    QString shown;
    int lines;
  } cases[] = {
      {"one\ntwo", "onetwo", 1},          // a bare line feed: the lines run together
      {"one\r\ntwo", "one\ntwo", 2},
      {"one\rtwo", "onetwo", 1},
      {"a\r\n\r\nb\n", "a\n\nb", 3},
      {"行一\r\n行二"_gbk, QStringLiteral("行一\n行二"), 2},
  };
  for (const Case& c : cases) {
    box.SetText(c.written);
    EXPECT_EQ(Multi(box)->toPlainText(), c.shown);
    EXPECT_EQ(Multi(box)->document()->blockCount(), c.lines);
    EXPECT_EQ(box.GetText(), c.written);
  }
}

TEST(EditBox, AfterTheUserTypesItGivesWhatItShows) {
  窗口 window("窗口", TestWindow());
  EditBox single(window, "single", {0, 0, 120, 24}, {.text = "a\nb"});
  EditBox multi(window, "multi", {0, 30, 200, 60}, {.text = "x\ny", .multiLine = true});
  ASSERT_TRUE(ShowActive(window));

  Single(single)->setFocus();
  QTest::keyClick(Single(single), Qt::Key_End);
  QTest::keyClicks(Single(single), "c");
  EXPECT_EQ(single.GetText(), "abc");

  Multi(multi)->setFocus();
  QTest::keyClick(Multi(multi), Qt::Key_End, Qt::ControlModifier);
  QTest::keyClick(Multi(multi), Qt::Key_Return);
  QTest::keyClicks(Multi(multi), "z");
  EXPECT_EQ(multi.GetText(), "xy\r\nz");

  // Writing again makes the written text the truth once more.
  single.SetText("p\nq");
  multi.SetText("p\nq");
  EXPECT_EQ(single.GetText(), "p\nq");
  EXPECT_EQ(multi.GetText(), "p\nq");
}

TEST(EditBox, AHiddenBoxShowsWhatWasWrittenOnceItIsShown) {
  窗口 window("窗口", TestWindow());
  EditBox box(window, "box", {0, 0, 232, 45}, {.multiLine = true, .visible = false});
  ASSERT_TRUE(ShowActive(window));
  box.SetText("http://host.example/resource/x/y.mp3");
  box.SetVisible(true);
  EXPECT_EQ(Multi(box)->toPlainText(), "http://host.example/resource/x/y.mp3");
}

TEST(EditBox, AReadOnlyBoxCanBeSelectedAndCopiedButNotChanged) {
  窗口 window("窗口", TestWindow());
  EditBox box(window, "编辑框4", {7, 98, 232, 45},
              {.text = "http://h/resource/p", .multiLine = true, .readOnly = true});
  ASSERT_TRUE(ShowActive(window));
  QPlainTextEdit* w = Multi(box);
  w->setFocus();
  EXPECT_TRUE(w->hasFocus());
  QTest::keyClicks(w, "typed");
  QTest::keyClick(w, Qt::Key_Backspace);
  EXPECT_EQ(box.GetText(), "http://h/resource/p");
  EXPECT_EQ(w->toPlainText(), "http://h/resource/p");

  QGuiApplication::clipboard()->clear();
  QTest::keyClick(w, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(w, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "http://h/resource/p");
  EXPECT_EQ(w->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_NE(w->frameShape(), QFrame::NoFrame);
}

TEST(EditBox, ADisabledBoxTakesNoFocusSelectionOrTyping) {
  窗口 window("窗口", TestWindow());
  EditBox box(window, "编辑框7", {281, 9, 272, 47},
              {.text = "notice", .multiLine = true, .border = false, .enabled = false,
               .buttonFaceBackground = true});
  ASSERT_TRUE(ShowActive(window));
  QPlainTextEdit* w = Multi(box);
  EXPECT_FALSE(box.Enabled());
  w->setFocus();
  EXPECT_FALSE(w->hasFocus());
  QTest::keyClicks(w, "typed");
  QTest::mouseDClick(w->viewport(), Qt::LeftButton, {}, QPoint(10, 8));
  EXPECT_FALSE(w->textCursor().hasSelection());
  EXPECT_EQ(box.GetText(), "notice");
  EXPECT_EQ(w->toPlainText(), "notice");
  EXPECT_EQ(w->frameShape(), QFrame::NoFrame);
  EXPECT_EQ(w->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(w->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(w->lineWrapMode(), QPlainTextEdit::WidgetWidth);
  // The background blends with the window.
  EXPECT_EQ(w->palette().color(QPalette::Disabled, QPalette::Base),
            NativeWidget(window)->palette().color(QPalette::Window));
}

TEST(EditBox, ALongNoticeIsCutOffAtTheBottomWithoutScrolling) {
  窗口 window("窗口", TestWindow());
  EditBox box(window, "编辑框7", {281, 9, 272, 47},
              {.multiLine = true, .border = false, .enabled = false, .buttonFaceBackground = true});
  ASSERT_TRUE(ShowActive(window));
  box.SetText("1\r\n2\r\n3\r\n4\r\n5");
  QPlainTextEdit* w = Multi(box);
  EXPECT_EQ(w->document()->blockCount(), 5);
  EXPECT_FALSE(w->verticalScrollBar()->isVisible());
  EXPECT_EQ(w->verticalScrollBar()->value(), 0);
  // The first line is shown at the top; the bottom edge of the box lies
  // before the fifth line.
  EXPECT_EQ(w->cursorForPosition(QPoint(2, 2)).block().blockNumber(), 0);
  EXPECT_LT(w->cursorForPosition(QPoint(2, w->viewport()->height() - 1)).block().blockNumber(), 4);
}

}  // namespace
}  // namespace qelvaro::gui
