// qelvaro-demo: the program, unchanged, against the demo music service. The
// service runs on a free loopback port and every host the program and the
// service's records name is routed to it, so the window searches, shows and
// downloads without a network.
#include <cstdio>

#include "app/fatal_error.h"
#include "app/program.h"
#include "demo/program_service.h"
#include "platform/gui/runtime.h"

int main(int argc, char** argv) {
  using namespace qelvaro;
  demo::ProgramService service;
  if (!service.Start()) {
    std::fputs("qelvaro-demo: the demo music service could not start on 127.0.0.1\n", stderr);
    return 1;
  }
  SetFatalPresenter(gui::ShowFatalReport);
  return gui::RunProgram(argc, argv, StartProgram, WindowLoadFailure());
}
