#include <gtest/gtest.h>

#include <QHeaderView>
#include <QMouseEvent>
#include <QTest>
#include <QTreeWidget>

#include <vector>

#include "platform/gui/controls.h"
#include "platform/gui/gui_test_support.h"
#include "platform/gui/qt_access.h"
#include "text/gbk_literal.h"

namespace qelvaro::gui {
namespace {

using testing::ShowActive;
using testing::TestWindow;

// A list like the result list, with three rows, and a record of the current
// selection at every click event.
class ListViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 3; ++i) {
      const int row = list.AppendRow();
      list.SetCell(row, 0, Text("song " + std::to_string(i)));
      list.SetCell(row, 1, Text(std::to_string(100 + i)));
    }
    list.OnClicked([this] { clicks.push_back(list.CurrentSelection()); });
    ASSERT_TRUE(ShowActive(window));
    view()->setFocus();
  }

  QTreeWidget* view() { return qobject_cast<QTreeWidget*>(NativeWidget(list)); }
  // A point in the row's cell of the column (0: 0 to 159, 1: 160 to 259).
  QPoint RowPoint(int row, int column = 0) {
    return QPoint(column == 0 ? 40 : 200,
                  view()->visualItemRect(view()->topLevelItem(row)).center().y());
  }
  QPoint EmptySpace() { return QPoint(40, view()->viewport()->height() - 5); }
  void Click(QPoint at) { QTest::mouseClick(view()->viewport(), Qt::LeftButton, {}, at); }

  窗口 window{"窗口", TestWindow()};
  ListView list{window, "超级列表框1", {0, 56, 264, 416},
                {.columns = {{"歌曲名称"_gbk, 160}, {"歌曲ID"_gbk, 100}}}};
  std::vector<int> clicks;
};

TEST_F(ListViewTest, AClickOnARowRaisesTheEventWithThatRowSelected) {
  Click(RowPoint(1));
  Click(RowPoint(2, 1));  // the second column belongs to the row too
  Click(RowPoint(0));
  EXPECT_EQ(clicks, (std::vector<int>{1, 2, 0}));
}

TEST_F(ListViewTest, AClickOnEmptySpaceRaisesTheEventWithNoRowSelected) {
  Click(RowPoint(2));
  Click(EmptySpace());
  EXPECT_EQ(clicks, (std::vector<int>{2, -1}));
  EXPECT_EQ(list.CurrentSelection(), -1);
}

TEST_F(ListViewTest, ArrowKeysMoveTheSelectionAndRaiseNothing) {
  Click(RowPoint(0));
  QTest::keyClick(view(), Qt::Key_Down);
  QTest::keyClick(view(), Qt::Key_Down);
  EXPECT_EQ(list.CurrentSelection(), 2);
  QTest::keyClick(view(), Qt::Key_Up);
  EXPECT_EQ(list.CurrentSelection(), 1);
  EXPECT_EQ(clicks, (std::vector<int>{0}));
}

TEST_F(ListViewTest, TheHeaderSortsNothingAndRaisesNothing) {
  QHeaderView* header = view()->header();
  const QPoint second(header->sectionViewportPosition(1) + 10, header->height() / 2);
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, second);
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, second);
  EXPECT_TRUE(clicks.empty());
  EXPECT_EQ(list.Cell(0, 0), "song 0");
  EXPECT_EQ(list.Cell(2, 1), "102");
}

TEST_F(ListViewTest, ADoubleClickRaisesTheEventOnce) {
  // What the window system delivers for a double click.
  QWidget* viewport = view()->viewport();
  QTest::mousePress(viewport, Qt::LeftButton, {}, RowPoint(1));
  QTest::mouseRelease(viewport, Qt::LeftButton, {}, RowPoint(1));
  QMouseEvent second(QEvent::MouseButtonDblClick, RowPoint(1), viewport->mapToGlobal(RowPoint(1)),
                     Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(viewport, &second);
  QTest::mouseRelease(viewport, Qt::LeftButton, {}, RowPoint(1));
  EXPECT_EQ(clicks, (std::vector<int>{1}));
}

TEST_F(ListViewTest, OnlyTheFirstColumnOfTheSelectedRowIsHighlightedWhileFocused) {
  Click(RowPoint(1));
  ASSERT_TRUE(view()->hasFocus());
  const QColor highlight = view()->palette().color(QPalette::Active, QPalette::Highlight);
  const QColor base = view()->palette().color(QPalette::Active, QPalette::Base);
  QImage shown = view()->viewport()->grab().toImage();
  const QPoint first = RowPoint(1) + QPoint(80, 0);  // right of the text, same cell
  const QPoint second = RowPoint(1, 1) + QPoint(40, 0);
  EXPECT_TRUE(testing::Near(shown.pixelColor(first), highlight)) << shown.pixelColor(first).name().toStdString();
  EXPECT_EQ(shown.pixelColor(second), base);

  // Without the focus the selection is not drawn, though it stays.
  QWidget other(NativeWidget(window));
  other.setFocusPolicy(Qt::StrongFocus);
  other.show();
  other.setFocus();
  ASSERT_FALSE(view()->hasFocus());
  shown = view()->viewport()->grab().toImage();
  EXPECT_EQ(shown.pixelColor(first), base);
  EXPECT_EQ(list.CurrentSelection(), 1);
}

TEST(ListView, CellsGiveBackTheirTextAndNothingOutsideTheRows) {
  窗口 window("窗口", TestWindow());
  ListView list(window, "list", {0, 0, 264, 200}, {.columns = {{"a", 160}, {"b", 100}}});
  EXPECT_EQ(list.RowCount(), 0);
  EXPECT_EQ(list.CurrentSelection(), -1);
  EXPECT_EQ(list.AppendRow(), 0);
  EXPECT_EQ(list.AppendRow(), 1);
  EXPECT_EQ(list.Cell(1, 0), Text());  // new rows have empty cells
  list.SetCell(1, 0, "我的好兄弟"_gbk);
  list.SetCell(1, 1, "MUSIC\n1");
  list.SetCell(5, 0, "ignored");
  list.SetCell(0, 2, "ignored");
  EXPECT_EQ(list.Cell(1, 0), "我的好兄弟"_gbk);
  EXPECT_EQ(list.Cell(1, 1), "MUSIC\n1");
  for (auto [row, column] : {std::pair{-1, 0}, {2, 0}, {0, -1}, {0, 2}, {5, 0}}) {
    EXPECT_EQ(list.Cell(row, column), Text()) << row << "," << column;
  }
  EXPECT_EQ(list.RowCount(), 2);

  auto* view = qobject_cast<QTreeWidget*>(NativeWidget(list));
  EXPECT_EQ(view->headerItem()->text(0), QStringLiteral("a"));
  EXPECT_EQ(view->columnWidth(0), 160);
  EXPECT_EQ(view->columnWidth(1), 100);
  EXPECT_FALSE(view->isSortingEnabled());
  EXPECT_EQ(view->selectionMode(), QAbstractItemView::SingleSelection);
  EXPECT_EQ(view->editTriggers(), QAbstractItemView::NoEditTriggers);
}

}  // namespace
}  // namespace qelvaro::gui
