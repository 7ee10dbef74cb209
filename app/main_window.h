// The program's one window, MainWindow, with every control in it.
//
// Owns: the window and its controls as they are when the window has been
// created (kind, name, parent, place, size, text, visibility and settings),
// which handler each event runs, and the created event's handler ShowNotice.
// Does not own: the other handlers' work (the search, the track details, the
// download), the run time (platform/gui), start-up and shutdown
// (app/program.h).
//
// The members keep the names of the window's form; the handlers address the
// controls by them. The seven controls made with `分组框1` as their parent
// are placed relative to it.
//
// Example:
//   MainWindow window;                 // created, invisible
//   if (!window.Load()) FatalError(0, "载入启动窗口失败"_gbk);
//   window.编辑框1.GetText();           // "我的好兄弟"
#pragma once

#include "platform/gui/controls.h"

namespace qelvaro {

class MainWindow {
 public:
  // The size of the client area: the outer 575 x 507 of the form less a
  // 3-pixel frame and a 26-pixel title bar.
  static constexpr int kClientWidth = 569;
  static constexpr int kClientHeight = 478;

  // Creates the window invisible with all its controls; the browser box gets
  // its settings and its start address.
  MainWindow();
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Raises the created event (ShowNotice) while the window is still
  // invisible, then shows it centred. False when the platform refused to
  // create the window.
  bool Load();

  // The created event: switches the XP look on (scheme 1) and shows the
  // notice in 编辑框7.
  void ShowNotice();

  // 按钮1 clicked: searches the service for the text of 编辑框1 and appends a
  // row (title, track id) to 超级列表框1 for every result, in page order.
  // The list is never cleared; nothing is reported.
  void SearchSongs();
  // 超级列表框1 clicked: fetches the selected row's track record, shows its
  // name, singer and size, composes the download address into 编辑框4 and
  // shows the singer picture and the download controls; for the empty record
  // it hides them and asks the user to pick a song.
  void ShowTrackDetails();
  // 按钮2 clicked: hands the address in 编辑框4 to the browser box, or asks
  // for a song when there is none.
  void StartDownload();

  gui::窗口 窗口;
  gui::Label 标签1;
  gui::EditBox 编辑框1;
  gui::Button 按钮1;
  gui::ListView 超级列表框1;
  gui::EditBox 编辑框7;
  gui::HtmlViewer 超文本浏览框1;
  gui::EditBox 编辑框2;
  gui::EditBox 编辑框3;
  gui::EditBox 编辑框5;
  gui::EditBox 编辑框6;
  gui::GroupBox 分组框1;
  gui::Label 标签4;
  gui::Label 标签5;
  gui::Label 标签3;
  gui::Label 标签2;
  gui::EditBox 编辑框4;
  gui::Button 按钮2;
  gui::PicBox 图片框1;
};

}  // namespace qelvaro
