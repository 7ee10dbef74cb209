// The Qt side of the GUI run time, for the rest of platform/gui and for tests:
// the text conversion at the Qt boundary, the widget behind a control, the
// message-box seam and the run time's set-up.
//
// Owns: these few entry points, the browser box's save-dialog seam and a look
// at its downloads. Does not own: anything the program itself
// uses (platform/gui/controls.h, platform/gui/runtime.h); code above
// platform/ never includes this header.
//
// Example (a test answering every message box):
//   SetMessageBoxRunner([](QMessageBox& box) { g_seen = box.text(); });
//   ShowMessage("x", "提示"_gbk);   // returns at once; g_seen == "x"
//
// Example (a test saving every download in a folder of its own):
//   SetSaveDialogRunner([dir](const SaveDialogQuestion& q) {
//     return SaveDialogAnswer{true, dir + "/" + q.fileName, false};
//   });
#pragma once

#include <QString>

#include <functional>
#include <vector>

#include "platform/gui/controls.h"
#include "text/text.h"

class QMessageBox;
class QWidget;

namespace qelvaro::gui {

// Code page 936 to UTF-16 and back. Invalid byte pairs become U+FFFD;
// characters 936 cannot hold become "?".
QString ToQString(const Text& text);
Text FromQString(const QString& text);

// The widget behind a control (a QLineEdit or QPlainTextEdit for an edit box,
// a QPushButton, QLabel, QGroupBox, QTreeWidget; the window's top-level
// widget). Its object name is the control's name.
QWidget* NativeWidget(const Control& control);

// Sets the application object up as the run time needs it: the plain style,
// the palette, the application font, the input block. RunProgram calls it; a
// test that makes its own QApplication calls it once after that.
void InitializeRuntime();

// Shows a message box the run time has built and returns when it is closed.
// The default runs the box modally (QMessageBox::exec).
using MessageBoxRunner = void (*)(QMessageBox& box);
// Installs a runner; null restores the default. Returns the previous one.
MessageBoxRunner SetMessageBoxRunner(MessageBoxRunner runner);

// The browser box's save dialog: the question it asks when an answer is a
// file, and what the user said.
struct SaveDialogQuestion {
  QWidget* parent = nullptr;  // the window the box is in
  QString folder;             // the user's download folder
  QString fileName;           // the proposed, sanitised name
  QString address;            // where the file comes from
};
struct SaveDialogAnswer {
  bool accepted = false;  // false: cancelled, the load is dropped
  QString path;           // the chosen file
  bool replace = false;   // the file exists and the user agreed to replace it
};
// Runs on the GUI thread, one question at a time, never while a handler
// runs. The default is a modal QFileDialog, which asks before replacing.
using SaveDialogRunner = std::function<SaveDialogAnswer(const SaveDialogQuestion&)>;
// Installs a runner; an empty one restores the default. Returns the previous
// one.
SaveDialogRunner SetSaveDialogRunner(SaveDialogRunner runner);

// One row of a browser box's downloads window.
struct DownloadStatus {
  QString fileName;
  QString path;            // empty for a load that failed before it was saved
  qint64 received = 0;
  qint64 total = -1;       // -1: unknown
  bool finished = false;
  bool succeeded = false;
  QString outcome;         // "完成", "失败：..." once finished, else empty
};
// The rows of the box's downloads window, oldest first.
std::vector<DownloadStatus> Downloads(const HtmlViewer& box);
// The box's downloads window; null until its first download.
QWidget* DownloadsWindow(const HtmlViewer& box);

}  // namespace qelvaro::gui
