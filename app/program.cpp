#include "app/program.h"

#include "app/fatal_error.h"
#include "app/main_window.h"
#include "platform/gui/runtime.h"
#include "regex/regex_object.h"
#include "text/gbk_literal.h"
#include "web/fetch.h"

namespace qelvaro {

Text PageText;

Text WindowLoadFailure() { return "载入启动窗口失败"_gbk; }

int StartProgram() {
  CreateSharedRegex();
  RegisterExitHook(ReleaseGlobals);
  MainWindow window;
  if (!window.Load()) FatalError(0, WindowLoadFailure());
  gui::RunMessageLoop();
  return 0;
}

void ReleaseGlobals() {
  if (!PageText.empty()) PageText = Text();
  DestroySharedRegex();
  // The whole-resource fetch keeps its root handle until the program ends.
  ReleaseFetchRoot();
}

}  // namespace qelvaro
