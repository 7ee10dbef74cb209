// The tour of qelvaro-demo (--tour DIR): the whole journey of a person, made
// by the program on its own against the demo service, with a picture of
// every step.
//
// Owns: the steps (open the window, search the initial text, click the first
// result, press 下载, answer the save dialog with DIR, wait for the
// download), the pictures and the check that the saved file holds the bytes
// the service served. Does not own: the window or the service.
//
// Example (inside the run time, the service started):
//   return RunTour(service, "build/tour");   // 0 when the MP3 arrived whole
#pragma once

#include <string>

#include "demo/program_service.h"

namespace qelvaro::demo {

// Runs the tour and writes DIR/01-window.png, 02-search.png, 03-details.png,
// 04-downloads.png and the downloaded MP3 into dir (made when missing).
// Gives 0 when the saved file equals the MP3 the service served, 1
// otherwise (with the reason on standard error). Call inside the run time
// (gui::RunProgram), on the GUI thread.
int RunTour(ProgramService& service, const std::string& dir);

}  // namespace qelvaro::demo
