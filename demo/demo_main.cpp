// qelvaro-demo: the program, unchanged, against the demo music service. The
// service runs on a free loopback port and every host the program and the
// service's records name is routed to it, so the window searches, shows and
// downloads without a network.
#include <cstdio>

#include "app/fatal_error.h"
#include "app/program.h"
#include "app/service_hosts.h"
#include "demo/music_service.h"
#include "platform/gui/runtime.h"
#include "platform/inet/inet.h"

int main(int argc, char** argv) {
  using namespace qelvaro;
  demo::ServiceOptions options;
  options.search_host = kSearchHost;
  options.site_host = kServiceSiteHost;
  options.record_host = kRecordHost;
  options.maker_host = kMakerHost;
  demo::MusicService service(options);
  if (!service.Start()) {
    std::fputs("qelvaro-demo: the demo music service could not start on 127.0.0.1\n", stderr);
    return 1;
  }
  for (const std::string& host : {options.search_host, options.site_host, options.record_host,
                                  options.maker_host, options.download_host,
                                  options.picture_host}) {
    platform::RouteHost(host.c_str(), "127.0.0.1", static_cast<unsigned short>(service.port()));
  }
  SetFatalPresenter(gui::ShowFatalReport);
  return gui::RunProgram(argc, argv, StartProgram, WindowLoadFailure());
}
