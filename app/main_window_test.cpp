#include "app/main_window.h"

#include <gtest/gtest.h>

#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>

#include "app/service_environment.h"
#include "app/service_hosts.h"
#include "platform/inet/inet.h"
#include "platform/gui/qt_access.h"
#include "platform/gui/runtime.h"
#include "text/gbk_literal.h"

namespace qelvaro {
namespace {

using gui::NativeWidget;
using gui::Rect;

// What a control's widget shows as its text.
QString ShownText(QWidget* w) {
  if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
  if (auto* line = qobject_cast<QLineEdit*>(w)) return line->text();
  if (auto* multi = qobject_cast<QPlainTextEdit*>(w)) return multi->toPlainText();
  if (auto* button = qobject_cast<QPushButton*>(w)) return button->text();
  if (auto* group = qobject_cast<QGroupBox*>(w)) return group->title();
  return QString();
}

// The window as it is created. The maker's site is out of reach here, so
// the notice box keeps its empty initial text (the notice itself is
// notice_test.cpp's matter).
class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::RouteHost(kMakerHost, "127.0.0.1", 9);
    ASSERT_TRUE(window.Load());
  }
  void TearDown() override {
    gui::SetXpLook(0);
    platform::RouteHost(kMakerHost, "127.0.0.1",
                        static_cast<std::uint16_t>(TestService().service().port()));
  }
  MainWindow window;
};

TEST_F(MainWindowTest, EveryControlHasItsKindParentPlaceSizeTextAndVisibility) {
  struct Row {
    const char* name;
    const gui::Control* control;
    const char* kind;  // the widget class behind it
    const char* parent;
    Rect place;
    bool visible;
    QString text;
  } rows[] = {
      {"标签1", &window.标签1, "QLabel", "窗口", {6, 16, 64, 24}, true, "歌曲名字："},
      {"编辑框1", &window.编辑框1, "QLineEdit", "窗口", {68, 16, 122, 24}, true, "我的好兄弟"},
      {"按钮1", &window.按钮1, "QPushButton", "窗口", {195, 12, 64, 32}, true, "搜索"},
      {"超级列表框1", &window.超级列表框1, "QTreeWidget", "窗口", {0, 56, 264, 416}, true, ""},
      {"编辑框7", &window.编辑框7, "QPlainTextEdit", "窗口", {281, 9, 272, 47}, true, ""},
      {"超文本浏览框1", &window.超文本浏览框1, "QWidget", "窗口", {362, 8, 144, 48}, false, ""},
      {"编辑框2", &window.编辑框2, "QLineEdit", "窗口", {288, 8, 80, 20}, false, ""},
      {"编辑框3", &window.编辑框3, "QLineEdit", "窗口", {376, 8, 80, 20}, false, ""},
      {"编辑框5", &window.编辑框5, "QLineEdit", "窗口", {288, 32, 80, 20}, false, ""},
      {"编辑框6", &window.编辑框6, "QLineEdit", "窗口", {376, 32, 80, 20}, false, ""},
      {"分组框1", &window.分组框1, "QGroupBox", "窗口", {273, 57, 295, 415}, true, "歌曲信息"},
      {"标签4", &window.标签4, "QLabel", "分组框1", {7, 16, 168, 24}, true, "歌曲名"},
      {"标签5", &window.标签5, "QLabel", "分组框1", {7, 35, 168, 24}, true, "歌手"},
      {"标签3", &window.标签3, "QLabel", "分组框1", {7, 53, 168, 24}, true, "歌曲大小"},
      {"标签2", &window.标签2, "QLabel", "分组框1", {7, 74, 80, 24}, false, "歌曲下载地址："},
      {"编辑框4", &window.编辑框4, "QPlainTextEdit", "分组框1", {7, 98, 232, 45}, false, ""},
      {"按钮2", &window.按钮2, "QPushButton", "分组框1", {241, 95, 48, 48}, false, "下载"},
      {"图片框1", &window.图片框1, "QWidget", "分组框1", {30, 161, 240, 240}, false, ""},
  };
  QWidget* top = NativeWidget(window.窗口);
  EXPECT_EQ(top->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly).size() +
                NativeWidget(window.分组框1)->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly).size(),
            std::size(rows));
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    QWidget* w = top->findChild<QWidget*>(QString::fromUtf8(row.name));
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w, NativeWidget(*row.control));
    EXPECT_TRUE(w->inherits(row.kind));
    EXPECT_EQ(w->parentWidget()->objectName(), QString::fromUtf8(row.parent));
    EXPECT_EQ(row.control->Geometry(), row.place);
    EXPECT_EQ(row.control->Visible(), row.visible);
    EXPECT_EQ(w->isVisible(), row.visible);
    EXPECT_EQ(ShownText(w), row.text);
  }
}

TEST_F(MainWindowTest, TheWindowIsFixedWithItsCaptionAndCloseBoxOnly) {
  QWidget* w = NativeWidget(window.窗口);
  EXPECT_EQ(window.窗口.Caption(), "Qelvaro");
  EXPECT_EQ(w->windowTitle(), "Qelvaro");
  EXPECT_EQ(w->size(), QSize(569, 478));
  EXPECT_EQ(w->minimumSize(), QSize(569, 478));
  EXPECT_EQ(w->maximumSize(), QSize(569, 478));
  EXPECT_TRUE(w->windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(w->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
}

TEST_F(MainWindowTest, AtStartTheListIsEmptyAndTheBoxesHoldTheirTexts) {
  EXPECT_EQ(window.超级列表框1.RowCount(), 0);
  EXPECT_EQ(window.超级列表框1.CurrentSelection(), -1);
  auto* list = qobject_cast<QTreeWidget*>(NativeWidget(window.超级列表框1));
  EXPECT_EQ(list->columnCount(), 2);
  EXPECT_EQ(list->headerItem()->text(0), QStringLiteral("歌曲名称"));
  EXPECT_EQ(list->headerItem()->text(1), QStringLiteral("歌曲ID"));
  EXPECT_EQ(list->columnWidth(0), 160);
  EXPECT_EQ(list->columnWidth(1), 100);
  EXPECT_FALSE(list->isSortingEnabled());
  EXPECT_EQ(list->selectionMode(), QAbstractItemView::SingleSelection);

  EXPECT_EQ(window.编辑框1.GetText(), "我的好兄弟"_gbk);
  EXPECT_EQ(window.标签4.Caption(), "歌曲名"_gbk);
  EXPECT_EQ(window.标签5.Caption(), "歌手"_gbk);
  EXPECT_EQ(window.标签3.Caption(), "歌曲大小"_gbk);
  for (const gui::EditBox* box : {&window.编辑框7, &window.编辑框2, &window.编辑框3, &window.编辑框4,
                             &window.编辑框5, &window.编辑框6}) {
    EXPECT_EQ(box->GetText(), Text());
  }
  EXPECT_FALSE(window.图片框1.HasPicture());
}

TEST_F(MainWindowTest, TheNoticeBoxIsDisabledBorderlessAndTheAddressBoxReadOnly) {
  auto* notice = qobject_cast<QPlainTextEdit*>(NativeWidget(window.编辑框7));
  EXPECT_FALSE(notice->isEnabled());
  EXPECT_EQ(notice->frameShape(), QFrame::NoFrame);
  EXPECT_EQ(notice->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(notice->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(notice->lineWrapMode(), QPlainTextEdit::WidgetWidth);
  EXPECT_EQ(notice->palette().color(QPalette::Disabled, QPalette::Base),
            NativeWidget(window.窗口)->palette().color(QPalette::Window));

  auto* address = qobject_cast<QPlainTextEdit*>(NativeWidget(window.编辑框4));
  EXPECT_TRUE(address->isEnabled());
  EXPECT_TRUE(address->isReadOnly());
  EXPECT_TRUE(address->textInteractionFlags() & Qt::TextSelectableByMouse);
  EXPECT_NE(address->frameShape(), QFrame::NoFrame);
  EXPECT_EQ(address->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(address->palette().color(QPalette::Base), QColor(Qt::white));

  for (const gui::EditBox* box : {&window.编辑框1, &window.编辑框2, &window.编辑框3, &window.编辑框5,
                             &window.编辑框6}) {
    auto* line = qobject_cast<QLineEdit*>(NativeWidget(*box));
    EXPECT_TRUE(line->hasFrame());
    EXPECT_FALSE(line->isReadOnly());
    EXPECT_EQ(line->echoMode(), QLineEdit::Normal);
  }
}

TEST_F(MainWindowTest, TheBrowserBoxHasItsSettingsAndTheMakersSite) {
  EXPECT_FALSE(window.超文本浏览框1.Offline());
  EXPECT_TRUE(window.超文本浏览框1.Silent());
  EXPECT_EQ(window.超文本浏览框1.GetFontSize(), gui::HtmlViewer::FontSize::kMedium);
  EXPECT_EQ(window.超文本浏览框1.Address(), kBrowserStartAddress);
  EXPECT_EQ(std::string_view(kBrowserStartAddress), "http://" + std::string(kMakerHost) + "/");
  EXPECT_EQ(std::string_view(NoticeAddress),
            "http://" + std::string(kMakerHost) + "/tool/notice.txt");
}

TEST_F(MainWindowTest, EditBoxesButtonsAndTheListAreTabStopsTheRestNot) {
  for (const gui::Control* c : std::initializer_list<const gui::Control*>{
           &window.编辑框1, &window.按钮1, &window.超级列表框1, &window.编辑框4, &window.按钮2}) {
    EXPECT_NE(NativeWidget(*c)->focusPolicy() & Qt::TabFocus, 0) << NativeWidget(*c)->objectName().toStdString();
  }
  for (const gui::Control* c : std::initializer_list<const gui::Control*>{
           &window.标签1, &window.标签4, &window.分组框1, &window.图片框1}) {
    EXPECT_EQ(NativeWidget(*c)->focusPolicy(), Qt::NoFocus) << NativeWidget(*c)->objectName().toStdString();
  }
}

TEST_F(MainWindowTest, TheFontIsTwelvePixelsWithChineseGlyphsAndTheCaptionsFit) {
  const QFont font = NativeWidget(window.标签1)->font();
  EXPECT_EQ(font.pixelSize(), 12);
  EXPECT_TRUE(QFontInfo(font).family().contains("WenQuanYi")) << QFontInfo(font).family().toStdString();
  const QFontMetrics metrics(font);
  EXPECT_TRUE(metrics.inFont(QChar(u'歌')));
  EXPECT_LE(metrics.horizontalAdvance(QStringLiteral("歌曲名字：")), 64);
  EXPECT_LE(metrics.horizontalAdvance(QStringLiteral("我的好兄弟")), 122 - 6);
}

TEST_F(MainWindowTest, ShowNoticeSwitchesTheXpLookOnInTheBlueScheme) {
  EXPECT_EQ(gui::XpLookScheme(), 1);
  QWidget* edit = NativeWidget(window.编辑框1);
  EXPECT_EQ(edit->grab().toImage().pixelColor(0, edit->height() / 2), QColor(123, 158, 189));
}

}  // namespace
}  // namespace qelvaro
