#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QGroupBox>
#include <QMessageBox>
#include <QPushButton>

#include "platform/gui/controls.h"
#include "platform/gui/gui_test_support.h"
#include "platform/gui/qt_access.h"
#include "platform/gui/runtime.h"

namespace qelvaro::gui {
namespace {

using testing::PixelAt;

struct SchemeColours {
  int scheme;
  QColor frame;   // edit boxes and group boxes
  QColor border;  // push buttons
};

const SchemeColours kSchemes[] = {
    {1, QColor(123, 158, 189), QColor(0, 60, 116)},
    {2, QColor(164, 185, 127), QColor(55, 98, 6)},
    {3, QColor(198, 197, 215), QColor(118, 116, 151)},
};

class XpLookTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(window.Load()); }
  void TearDown() override { SetXpLook(0); }

  QWidget* W(const Control& c) { return NativeWidget(c); }
  // The left edge of a control, half-way down.
  QColor LeftEdge(const Control& c) { return PixelAt(W(c), 0, W(c)->height() / 2); }
  // The top edge of the group box's frame, right of its caption.
  QColor GroupTop() {
    const int y = QFontMetrics(W(group)->font()).height() / 2;
    return PixelAt(W(group), W(group)->width() - 20, y);
  }

  窗口 window{"窗口", testing::TestWindow()};
  EditBox line{window, "编辑框1", {68, 16, 122, 24}, {.text = "x"}};
  EditBox multi{window, "编辑框4", {7, 98, 232, 45}, {.multiLine = true, .readOnly = true}};
  Button button{window, "按钮1", {195, 12, 64, 32}, {.caption = "b"}};
  GroupBox group{window, "分组框1", {273, 57, 295, 415}, {.caption = "g"}};
  ListView list{window, "超级列表框1", {0, 150, 264, 200}, {.columns = {{"h", 160}}}};
  Label label{window, "标签1", {6, 400, 64, 24}, {.caption = "l"}};
};

TEST_F(XpLookTest, EachSchemeDrawsFramesAndButtonsInItsColours) {
  for (const SchemeColours& s : kSchemes) {
    SCOPED_TRACE(s.scheme);
    SetXpLook(s.scheme);
    EXPECT_EQ(XpLookScheme(), s.scheme);
    EXPECT_EQ(LeftEdge(line), s.frame);
    EXPECT_EQ(PixelAt(W(line), 1, W(line)->height() / 2), QColor(Qt::white));
    EXPECT_EQ(LeftEdge(multi), s.frame);
    EXPECT_EQ(LeftEdge(group), s.frame);
    EXPECT_EQ(GroupTop(), s.frame);
    EXPECT_EQ(LeftEdge(button), s.border);
    // Rounded: the corner pixel is not the border.
    EXPECT_NE(PixelAt(W(button), 0, 0), s.border);
    // A light gradient from the top down.
    EXPECT_GT(PixelAt(W(button), 5, 3).lightness(),
              PixelAt(W(button), 5, W(button)->height() - 3).lightness());
  }
}

TEST_F(XpLookTest, AnyOtherNumberSwitchesItOff) {
  for (int off : {0, 4, -1}) {
    SetXpLook(1);
    SetXpLook(off);
    EXPECT_EQ(XpLookScheme(), 0);
    for (const SchemeColours& s : kSchemes) {
      EXPECT_NE(LeftEdge(line), s.frame) << off;
      EXPECT_NE(LeftEdge(button), s.border) << off;
    }
  }
}

TEST_F(XpLookTest, ListsAndLabelsKeepTheirOwnLook) {
  SetXpLook(0);
  // The list's sunken border in the system colours.
  const QPalette& system = W(list)->palette();
  EXPECT_EQ(LeftEdge(list), system.color(QPalette::Dark));
  EXPECT_EQ(PixelAt(W(list), 1, W(list)->height() / 2), system.color(QPalette::Shadow));
  EXPECT_EQ(PixelAt(W(list), W(list)->width() - 1, W(list)->height() / 2),
            system.color(QPalette::Light));
  const QImage plainList = testing::Picture(W(list));
  const QImage plainLabel = testing::Picture(W(label));
  for (const SchemeColours& s : kSchemes) {
    SetXpLook(s.scheme);
    EXPECT_EQ(testing::Picture(W(list)), plainList) << s.scheme;
    EXPECT_EQ(testing::Picture(W(label)), plainLabel) << s.scheme;
  }
}

TEST_F(XpLookTest, ControlsMadeLaterGetIt) {
  SetXpLook(2);
  EditBox later(window, "later", {300, 10, 80, 20}, {});
  Button laterButton(window, "laterButton", {400, 10, 60, 24}, {.caption = "c"});
  EXPECT_EQ(LeftEdge(later), kSchemes[1].frame);
  EXPECT_EQ(LeftEdge(laterButton), kSchemes[1].border);
}

QColor g_okEdge;
void GrabOkButton(QMessageBox& box) {
  box.show();
  QAbstractButton* ok = box.button(QMessageBox::Ok);
  g_okEdge = ok == nullptr ? QColor() : PixelAt(ok, 0, ok->height() / 2);
  box.hide();
}

TEST_F(XpLookTest, AMessageBoxShownAfterwardsGetsIt) {
  SetXpLook(3);
  const MessageBoxRunner previous = SetMessageBoxRunner(GrabOkButton);
  ShowMessage("m", "t");
  EXPECT_EQ(g_okEdge, kSchemes[2].border);
  SetXpLook(1);
  ShowMessage("m", "t");
  EXPECT_EQ(g_okEdge, kSchemes[0].border);
  SetMessageBoxRunner(previous);
}

}  // namespace
}  // namespace qelvaro::gui
