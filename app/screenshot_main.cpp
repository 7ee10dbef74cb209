// qelvaro-screenshot PATH: loads the main window as the program does (the
// created event included), writes its client area to PATH as a PNG and ends.
// Meant for the offscreen platform: QT_QPA_PLATFORM=offscreen.
#include <cstdio>

#include "app/fatal_error.h"
#include "app/main_window.h"
#include "app/program.h"
#include "platform/gui/runtime.h"

namespace {

const char* g_path = "qelvaro.png";

int Screenshot() {
  qelvaro::MainWindow window;
  if (!window.Load()) qelvaro::FatalError(0, qelvaro::WindowLoadFailure());
  if (!qelvaro::gui::SaveWindowPicture(window.窗口, g_path)) {
    std::fprintf(stderr, "cannot write %s\n", g_path);
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) g_path = argv[1];
  qelvaro::SetFatalPresenter(qelvaro::gui::ShowFatalReport);
  return qelvaro::gui::RunProgram(argc, argv, Screenshot, qelvaro::WindowLoadFailure());
}
