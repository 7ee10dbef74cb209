// The Qt side of the GUI run time, for the rest of platform/gui and for tests:
// the text conversion at the Qt boundary, the widget behind a control, the
// message-box seam and the run time's set-up.
//
// Owns: these few entry points. Does not own: anything the program itself
// uses (platform/gui/controls.h, platform/gui/runtime.h); code above
// platform/ never includes this header.
//
// Example (a test answering every message box):
//   SetMessageBoxRunner([](QMessageBox& box) { g_seen = box.text(); });
//   ShowMessage("x", "提示"_gbk);   // returns at once; g_seen == "x"
#pragma once

#include <QString>

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

}  // namespace qelvaro::gui
