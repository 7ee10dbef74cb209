// qelvaro-demo: the program, unchanged, against the demo music service. The
// service runs on a free loopback port and every host the program and the
// service's records name is routed to it, so the window searches, shows and
// downloads without a network.
//
//   qelvaro-demo             the window, for a person to use
//   qelvaro-demo --tour DIR  the journey made on its own, pictures in DIR
//                            (demo/tour.h); exit status 0 when the MP3 arrived
#include <cstdio>
#include <cstring>
#include <string>

#include "app/fatal_error.h"
#include "app/program.h"
#include "demo/program_service.h"
#include "demo/tour.h"
#include "platform/gui/runtime.h"

namespace {

qelvaro::demo::ProgramService* g_service = nullptr;
std::string g_tourDir;

int Tour() { return qelvaro::demo::RunTour(*g_service, g_tourDir); }

}  // namespace

int main(int argc, char** argv) {
  using namespace qelvaro;
  bool tour = false;
  if (argc >= 2 && std::strcmp(argv[1], "--tour") == 0) {
    if (argc != 3 || argv[2][0] == '\0') {
      std::fputs("usage: qelvaro-demo [--tour DIR]\n", stderr);
      return 2;
    }
    tour = true;
    g_tourDir = argv[2];
  }
  demo::ProgramService service;
  if (!service.Start()) {
    std::fputs("qelvaro-demo: the demo music service could not start on 127.0.0.1\n", stderr);
    return 1;
  }
  g_service = &service;
  SetFatalPresenter(gui::ShowFatalReport);
  // The run time sees no options of ours.
  int runArgc = tour ? 1 : argc;
  return gui::RunProgram(runArgc, argv, tour ? Tour : StartProgram, WindowLoadFailure());
}
