#include "app/program.h"

#include "app/fatal_error.h"
#include "app/main_window.h"
#include "platform/gui/runtime.h"
#include "text/gbk_literal.h"
#include "web/fetch.h"

namespace qelvaro {

Text PageText;

Text WindowLoadFailure() { return "载入启动窗口失败"_gbk; }

int StartProgram() {
  // SHARED REGEX: SharedRegex is constructed here, before any window exists.
  RegisterExitHook(ReleaseGlobals);
  MainWindow window;
  if (!window.Load()) FatalError(0, WindowLoadFailure());
  gui::RunMessageLoop();
  return 0;
}

void ReleaseGlobals() {
  if (!PageText.empty()) PageText = Text();
  // SHARED REGEX: SharedRegex is destroyed here, after PageText.
  // The whole-resource fetch keeps its root handle until the program ends.
  ReleaseFetchRoot();
}

}  // namespace qelvaro
