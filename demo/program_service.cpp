#include "demo/program_service.h"

#include "app/service_hosts.h"
#include "platform/inet/inet.h"

namespace qelvaro::demo {

ServiceOptions ProgramServiceOptions() {
  ServiceOptions options;
  options.search_host = kSearchHost;
  options.site_host = kServiceSiteHost;
  options.record_host = kRecordHost;
  options.maker_host = kMakerHost;
  return options;
}

ProgramService::ProgramService() : service_(ProgramServiceOptions()) {}

ProgramService::~ProgramService() { Stop(); }

bool ProgramService::Start() {
  if (!service_.Start()) return false;
  const ServiceOptions options = ProgramServiceOptions();
  const auto port = static_cast<unsigned short>(service_.port());
  for (const std::string& host : {options.search_host, options.site_host, options.record_host,
                                  options.maker_host, options.download_host,
                                  options.picture_host}) {
    platform::RouteHost(host, "127.0.0.1", port);
  }
  return true;
}

void ProgramService::Stop() {
  platform::ClearRoutes();
  service_.Stop();
}

}  // namespace qelvaro::demo
