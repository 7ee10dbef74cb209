// The GUI run time around the controls: running the program, the message
// loop, the busy state while a handler runs, message boxes, the fatal report
// box and the XP look.
//
// Owns: the application object and its look (palette, the application font,
// the plain and XP styles), the exit-hook call on orderly termination, the
// wait cursor and the input block while a handler runs, message boxes.
// Does not own: the controls (platform/gui/controls.h), the fatal report's
// text or the exit hook's registration (app/fatal_error.h).
//
// Example:
//   int StartProgram() { ...; window.Load(); gui::RunMessageLoop(); return 0; }
//   int main(int argc, char** argv) {
//     SetFatalPresenter(gui::ShowFatalReport);
//     return gui::RunProgram(argc, argv, StartProgram, "载入启动窗口失败"_gbk);
//   }
#pragma once

#include "platform/gui/controls.h"
#include "text/text.h"

namespace qelvaro::gui {

// Starts the run time (the application object, unless one exists already),
// calls start, then runs the exit hook once (RunExitHook) and cleans up.
// Gives start's result. When the window system cannot be opened (no
// display), the program ends through FatalError(0, startFailure).
int RunProgram(int argc, char** argv, int (*start)(), const Text& startFailure);

// Dispatches events until the last window of the program has been closed;
// gives 0 then.
int RunMessageLoop();

// For blocking work inside a handler (a web request waiting on the network):
// repaints the windows and lets timers run, without delivering input and
// without starting another handler. Does nothing outside a handler.
void KeepPainting();

// Whether a handler is running now.
bool HandlerRunning();

// A task-modal message box without an owner window, with an OK button only,
// no icon and the given title; returns when the box is closed. Only CR LF,
// a bare CR or a bare LF break its lines.
//   ShowMessage("请点击列表中的歌曲名字选择歌曲"_gbk, "提示"_gbk);
void ShowMessage(const Text& text, const Text& title);

// The fatal report box, for SetFatalPresenter: the report under the title
// with the error icon, OK only; returns when it is closed. Without a running
// run time (before it starts, or called from another thread) it writes the
// title and report to standard error in UTF-8 instead.
void ShowFatalReport(const Text& report, const Text& title);

// The XP look for push buttons, edit boxes and group boxes, those that exist
// and those made later (message boxes included): scheme 1 blue, 2 olive green,
// 3 silver. Any other number switches it off. Switching it on again replaces
// the previous scheme. List views, labels, picture boxes and the browser box
// keep their own look.
//   SetXpLook(1);   // blue: edit frames in RGB 123, 158, 189
//   SetXpLook(0);   // the plain look
void SetXpLook(int scheme);
// The scheme in use, 0 when the look is off.
int XpLookScheme();

// Writes the client area of the window, as it would be drawn now, to a PNG
// file. False when it cannot be written.
bool SaveWindowPicture(const 窗口& window, const char* path);

// The same for the browser box's downloads window. False before its first
// download (there is no window yet) or when the file cannot be written.
bool SaveDownloadsWindowPicture(const HtmlViewer& box, const char* path);

}  // namespace qelvaro::gui
