// The program's frame: start-up, orderly shutdown and the program's globals.
//
// Owns: StartProgram, ReleaseGlobals (the exit hook) and the global PageText.
// Does not own: the run time around them (platform/gui/runtime.h), the fatal
// report (app/fatal_error.h), the window (app/main_window.h).
//
// Example (main):
//   SetFatalPresenter(gui::ShowFatalReport);
//   return gui::RunProgram(argc, argv, StartProgram, WindowLoadFailure());
#pragma once

#include "text/text.h"

namespace qelvaro {

// The decoded search page of the last search; empty until the first one.
// Only the search reads and replaces it.
extern Text PageText;

// The start-up routine the run time calls: constructs SharedRegex (the
// program's one regex object, regex/regex_object.h), registers ReleaseGlobals as the exit hook, loads MainWindow (whose created
// event runs ShowNotice before it is shown) and runs the message loop until
// the window is closed. Gives 0. A window that cannot be loaded ends the
// program through FatalError(0, "载入启动窗口失败").
int StartProgram();

// The exit hook: frees PageText, then destroys SharedRegex, then releases the
// whole-resource fetch's root handle. The run time calls it once after the
// message loop, never after a fatal error.
void ReleaseGlobals();

// "载入启动窗口失败": the report's message when the window cannot be loaded.
Text WindowLoadFailure();

}  // namespace qelvaro
