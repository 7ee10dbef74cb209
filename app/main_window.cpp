#include "app/main_window.h"

#include "app/service_hosts.h"
#include "platform/gui/runtime.h"
#include "text/gbk_literal.h"
#include "text/primitives.h"
#include "web/fetch.h"

namespace qelvaro {

namespace {

// The hidden scratch boxes: single line, sunken border, white.
gui::EditBox::Settings Scratch() { return {.visible = false}; }

}  // namespace

MainWindow::MainWindow()
    : 窗口("窗口", {.caption = "Qelvaro", .width = kClientWidth, .height = kClientHeight}),
      标签1(窗口, "标签1", {6, 16, 64, 24}, {.caption = "歌曲名字："_gbk}),
      编辑框1(窗口, "编辑框1", {68, 16, 122, 24}, {.text = "我的好兄弟"_gbk}),
      按钮1(窗口, "按钮1", {195, 12, 64, 32}, {.caption = "搜索"_gbk}),
      超级列表框1(窗口, "超级列表框1", {0, 56, 264, 416},
                  {.columns = {{"歌曲名称"_gbk, 160}, {"歌曲ID"_gbk, 100}}}),
      编辑框7(窗口, "编辑框7", {281, 9, 272, 47},
              {.multiLine = true, .border = false, .enabled = false,
               .buttonFaceBackground = true}),
      超文本浏览框1(窗口, "超文本浏览框1", {362, 8, 144, 48},
                    {.offline = false,
                     .silent = true,
                     .fontSize = gui::HtmlViewer::FontSize::kMedium,
                     .address = kBrowserStartAddress,
                     .visible = false}),
      编辑框2(窗口, "编辑框2", {288, 8, 80, 20}, Scratch()),
      编辑框3(窗口, "编辑框3", {376, 8, 80, 20}, Scratch()),
      编辑框5(窗口, "编辑框5", {288, 32, 80, 20}, Scratch()),
      编辑框6(窗口, "编辑框6", {376, 32, 80, 20}, Scratch()),
      分组框1(窗口, "分组框1", {273, 57, 295, 415}, {.caption = "歌曲信息"_gbk}),
      标签4(分组框1, "标签4", {7, 16, 168, 24}, {.caption = "歌曲名"_gbk}),
      标签5(分组框1, "标签5", {7, 35, 168, 24}, {.caption = "歌手"_gbk}),
      标签3(分组框1, "标签3", {7, 53, 168, 24}, {.caption = "歌曲大小"_gbk}),
      标签2(分组框1, "标签2", {7, 74, 80, 24}, {.caption = "歌曲下载地址："_gbk, .visible = false}),
      编辑框4(分组框1, "编辑框4", {7, 98, 232, 45},
              {.multiLine = true, .readOnly = true, .visible = false}),
      按钮2(分组框1, "按钮2", {241, 95, 48, 48}, {.caption = "下载"_gbk, .visible = false}),
      图片框1(分组框1, "图片框1", {30, 161, 240, 240}, {.visible = false}) {
  窗口.OnCreated([this] { ShowNotice(); });
  按钮1.OnClicked([this] { SearchSongs(); });
  超级列表框1.OnClicked([this] { ShowTrackDetails(); });
  按钮2.OnClicked([this] { StartDownload(); });
  // No other event is handled.
}

bool MainWindow::Load() { return 窗口.Load(); }

void MainWindow::ShowNotice() {
  gui::SetXpLook(1);
  // The notice is shown as the maker's site sends it: code page 936, cut at
  // a zero byte, nothing decoded. A failed fetch leaves the box empty.
  const Bytes bytes = FetchResource(NoticeAddress);
  const Text notice = BytesToText(bytes);
  编辑框7.SetText(notice);
}

}  // namespace qelvaro
