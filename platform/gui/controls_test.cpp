#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTreeWidget>

#include "platform/gui/controls.h"
#include "platform/gui/gui_test_support.h"
#include "platform/gui/qt_access.h"
#include "platform/gui/widgets_internal.h"
#include "text/gbk_literal.h"
#include "text/primitives.h"

namespace qelvaro::gui {
namespace {

using testing::ShowActive;
using testing::TestWindow;

TEST(Window, IsAFixedSizeWindowWithACloseBoxOnlyCentredWhenLoaded) {
  窗口 window("窗口", {.caption = "Qelvaro", .width = 569, .height = 478});
  QWidget* w = NativeWidget(window);
  EXPECT_FALSE(w->isVisible());
  ASSERT_TRUE(window.Load());
  EXPECT_TRUE(w->isVisible());
  EXPECT_EQ(w->windowTitle(), "Qelvaro");
  EXPECT_EQ(window.Caption(), "Qelvaro");
  EXPECT_EQ(w->size(), QSize(569, 478));
  EXPECT_EQ(w->minimumSize(), w->maximumSize());
  const Qt::WindowFlags flags = w->windowFlags();
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
  EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowStaysOnTopHint);
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_LE(std::abs(w->frameGeometry().center().x() - screen.center().x()), 1);
  EXPECT_LE(std::abs(w->frameGeometry().center().y() - screen.center().y()), 1);
}

TEST(Window, TheCreatedEventRunsOnceWhileTheWindowIsStillInvisible) {
  窗口 window("窗口", TestWindow());
  Label label(window, "label", {6, 16, 64, 24}, {.caption = "x"});
  int runs = 0;
  bool windowShown = true;
  bool labelMarkedVisible = false;
  window.OnCreated([&] {
    ++runs;
    windowShown = NativeWidget(window)->isVisible();
    labelMarkedVisible = label.Visible();
  });
  ASSERT_TRUE(window.Load());
  EXPECT_EQ(runs, 1);
  EXPECT_FALSE(windowShown);
  EXPECT_TRUE(labelMarkedVisible);
  EXPECT_TRUE(NativeWidget(window)->isVisible());
}

TEST(Controls, KeepTheirPlaceSizeCaptionAndVisibility) {
  窗口 window("窗口", TestWindow());
  GroupBox group(window, "分组框1", {273, 57, 295, 415}, {.caption = "歌曲信息"_gbk});
  Label label(group, "标签2", {7, 74, 80, 24}, {.caption = "歌曲下载地址："_gbk, .visible = false});
  Button button(group, "按钮2", {241, 95, 48, 48}, {.caption = "下载"_gbk, .visible = false});
  ASSERT_TRUE(window.Load());

  // Children of the group box are placed relative to it.
  EXPECT_EQ(label.Geometry(), (Rect{7, 74, 80, 24}));
  EXPECT_EQ(NativeWidget(label)->parentWidget(), NativeWidget(group));
  EXPECT_EQ(NativeWidget(label)->mapTo(NativeWidget(window), QPoint(0, 0)), QPoint(280, 131));
  EXPECT_EQ(group.Caption(), "歌曲信息"_gbk);
  EXPECT_EQ(qobject_cast<QGroupBox*>(NativeWidget(group))->title(), QStringLiteral("歌曲信息"));
  EXPECT_EQ(qobject_cast<QLabel*>(NativeWidget(label))->text(), QStringLiteral("歌曲下载地址："));
  EXPECT_EQ(qobject_cast<QPushButton*>(NativeWidget(button))->text(), QStringLiteral("下载"));
  EXPECT_EQ(button.Caption(), "下载"_gbk);

  for (Control* c : std::initializer_list<Control*>{&label, &button}) {
    EXPECT_FALSE(c->Visible());
    c->SetVisible(true);
    EXPECT_TRUE(c->Visible());
    EXPECT_TRUE(NativeWidget(*c)->isVisible());
    c->SetVisible(false);
    EXPECT_FALSE(NativeWidget(*c)->isVisible());
  }
}

TEST(Label, ShowsOneLineLeftAlignedAndGivesBackItsCaption) {
  窗口 window("窗口", TestWindow());
  Label label(window, "标签4", {7, 16, 168, 24}, {.caption = "歌曲名"_gbk});
  auto* w = qobject_cast<QLabel*>(NativeWidget(label));
  EXPECT_EQ(w->alignment(), Qt::AlignLeft | Qt::AlignVCenter);
  EXPECT_EQ(w->textFormat(), Qt::PlainText);
  EXPECT_FALSE(w->wordWrap());
  label.SetCaption("歌手：<b>x</b>\n"_gbk);
  EXPECT_EQ(label.Caption(), "歌手：<b>x</b>\n"_gbk);
  EXPECT_EQ(w->text(), QStringLiteral("歌手：<b>x</b>"));
  EXPECT_EQ(w->focusPolicy(), Qt::NoFocus);
}

TEST(Controls, ShowAtMostTheDisplayLimitOfATextOfMegabytesAndGiveItBackWhole) {
  窗口 window("窗口", TestWindow());
  EditBox multi(window, "multi", {7, 98, 232, 45}, {.multiLine = true, .readOnly = true});
  EditBox single(window, "single", {0, 0, 80, 20}, {});
  Label label(window, "label", {7, 16, 168, 24}, {});
  ListView list(window, "list", {0, 56, 264, 200}, {.columns = {{"a", 160}, {"b", 100}}});
  ASSERT_TRUE(ShowActive(window));
  const int row = list.AppendRow();
  const qsizetype limit = internal::kDisplayLimit;
  struct Case {
    Text text;
    QString shown;
  } cases[] = {
      {Text(std::string(4 << 20, 'x')), QString(limit, u'x')},
      {Text(std::string(limit, 'z')), QString(limit, u'z')},
      {ConcatText(std::string(limit - 1, 'z'), "我的"_gbk), QString(limit - 1, u'z') + u'我'},
  };
  for (const Case& c : cases) {
    multi.SetText(c.text);
    single.SetText(c.text);
    label.SetCaption(c.text);
    list.SetCell(row, 0, c.text);
    EXPECT_EQ(multi.GetText(), c.text);
    EXPECT_EQ(single.GetText(), c.text);
    EXPECT_EQ(label.Caption(), c.text);
    EXPECT_EQ(list.Cell(row, 0), c.text);
    EXPECT_EQ(qobject_cast<QPlainTextEdit*>(NativeWidget(multi))->toPlainText(), c.shown);
    EXPECT_EQ(qobject_cast<QLineEdit*>(NativeWidget(single))->text(), c.shown);
    EXPECT_EQ(qobject_cast<QLabel*>(NativeWidget(label))->text(), c.shown);
    EXPECT_EQ(qobject_cast<QTreeWidget*>(NativeWidget(list))->topLevelItem(row)->text(0), c.shown);
  }
}

TEST(Button, IsPressedWithTheMouseSpaceOrEnterAndIsNoDefaultButton) {
  窗口 window("窗口", TestWindow());
  EditBox edit(window, "编辑框1", {68, 16, 122, 24}, {});
  Button button(window, "按钮1", {195, 12, 64, 32}, {.caption = "搜索"_gbk});
  int presses = 0;
  button.OnClicked([&] { ++presses; });
  ASSERT_TRUE(ShowActive(window));
  auto* w = qobject_cast<QPushButton*>(NativeWidget(button));

  QTest::mouseClick(w, Qt::LeftButton);
  EXPECT_EQ(presses, 1);
  w->setFocus();
  QTest::keyClick(w, Qt::Key_Space);
  QTest::keyClick(w, Qt::Key_Return);
  EXPECT_EQ(presses, 3);
  // Enter in the edit box does not press the button.
  NativeWidget(edit)->setFocus();
  QTest::keyClick(NativeWidget(edit), Qt::Key_Return);
  EXPECT_EQ(presses, 3);
  EXPECT_FALSE(w->isDefault());
  EXPECT_FALSE(w->autoDefault());
}

}  // namespace
}  // namespace qelvaro::gui
