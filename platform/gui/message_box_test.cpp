#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>

#include <cstdio>
#include <string>

#include "app/fatal_error.h"
#include "platform/gui/controls.h"
#include "platform/gui/gui_test_support.h"
#include "platform/gui/qt_access.h"
#include "platform/gui/runtime.h"
#include "text/gbk_literal.h"

namespace qelvaro::gui {
namespace {

// What the last box looked like when it was shown.
struct SeenBox {
  int shown = 0;
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QList<QMessageBox::StandardButton> buttons;
  Qt::WindowModality modality = Qt::NonModal;
  bool owned = true;
  bool waitCursor = true;
};
SeenBox g_seen;

void Record(QMessageBox& box) {
  ++g_seen.shown;
  g_seen.title = box.windowTitle();
  g_seen.text = box.text();
  g_seen.icon = box.icon();
  g_seen.buttons.clear();
  for (QAbstractButton* b : box.buttons()) g_seen.buttons.append(box.standardButton(b));
  g_seen.modality = box.windowModality();
  g_seen.owned = box.parent() != nullptr;
  const QCursor* cursor = QGuiApplication::overrideCursor();
  g_seen.waitCursor = cursor != nullptr && cursor->shape() == Qt::WaitCursor;
}

class MessageBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_seen = {};
    previous_ = SetMessageBoxRunner(Record);
  }
  void TearDown() override { SetMessageBoxRunner(previous_); }
  MessageBoxRunner previous_ = nullptr;
};

TEST_F(MessageBoxTest, IsTaskModalWithoutOwnerOkOnlyNoIconUnderTheTitleGiven) {
  ShowMessage("请点击列表中的歌曲名字选择歌曲"_gbk, "提示"_gbk);
  EXPECT_EQ(g_seen.shown, 1);
  EXPECT_EQ(g_seen.title, QStringLiteral("提示"));
  EXPECT_EQ(g_seen.text, QStringLiteral("请点击列表中的歌曲名字选择歌曲"));
  EXPECT_EQ(g_seen.icon, QMessageBox::NoIcon);
  EXPECT_EQ(g_seen.buttons, QList<QMessageBox::StandardButton>{QMessageBox::Ok});
  EXPECT_EQ(g_seen.modality, Qt::ApplicationModal);
  EXPECT_FALSE(g_seen.owned);
}

TEST_F(MessageBoxTest, ShowsItsTextAsPlainTextWithCrLfAndBareBreaks) {
  ShowMessage("<b>a</b>\r\nb\nc\rd", "t");
  EXPECT_EQ(g_seen.text, QStringLiteral("<b>a</b>\nb\nc\nd"));
}

TEST_F(MessageBoxTest, TheFatalReportHasTheErrorIconAndItsTitle) {
  ShowFatalReport(FatalReportText(0, "载入启动窗口失败"_gbk), "错误"_gbk);
  EXPECT_EQ(g_seen.title, QStringLiteral("错误"));
  EXPECT_EQ(g_seen.text, QStringLiteral("运行时出错!\n\n错误信息：载入启动窗口失败\n"));
  EXPECT_EQ(g_seen.icon, QMessageBox::Critical);
  EXPECT_EQ(g_seen.buttons, QList<QMessageBox::StandardButton>{QMessageBox::Ok});
}

TEST_F(MessageBoxTest, ABoxShownByAHandlerHasTheArrowAndTheHandlerWaitsForIt) {
  窗口 window("窗口", testing::TestWindow());
  Button button(window, "按钮1", {195, 12, 64, 32}, {.caption = "x"});
  bool afterBox = false;
  button.OnClicked([&] {
    ShowMessage("m", "提示"_gbk);
    afterBox = g_seen.shown == 1;
  });
  ASSERT_TRUE(window.Load());
  QTest::mouseClick(NativeWidget(button), Qt::LeftButton);
  EXPECT_EQ(g_seen.shown, 1);
  EXPECT_FALSE(g_seen.waitCursor);
  EXPECT_TRUE(afterBox);
}

void PrintBox(QMessageBox& box) {
  const std::string line = "box title=[" + box.windowTitle().toStdString() + "] icon=" +
                           std::to_string(box.icon()) + " text=[" + box.text().toStdString() + "]";
  std::fputs(line.c_str(), stderr);
}

TEST(FatalReportDeathTest, ShowsTheBoxThenEndsWith255) {
  EXPECT_EXIT(
      {
        SetMessageBoxRunner(PrintBox);
        SetFatalPresenter(ShowFatalReport);
        FatalError(1, "数组成员引用下标超出定义范围"_gbk);
      },
      ::testing::ExitedWithCode(255),
      ::testing::HasSubstr("box title=[错误] icon=" + std::to_string(QMessageBox::Critical) +
                           " text=[运行时出错!\n\n错误代码：1\n\n错误信息：数组成员引用下标超出定义范围\n]"));
}

}  // namespace
}  // namespace qelvaro::gui
