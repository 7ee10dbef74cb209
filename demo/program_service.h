// The demo music service set up for the program: it answers for the hosts the
// program's build names (app/service_hosts.h) and the hosts its records name,
// and every one of them is routed to it for this process.
//
// Owns: starting the service on a free loopback port and routing the hosts;
// undoing the routes when it stops. Does not own: the service itself
// (demo/music_service.h) or the routes' mechanism (platform/inet).
//
// Example (qelvaro-demo, or a test of the whole window):
//   demo::ProgramService service;
//   if (!service.Start()) return 1;
//   // FetchResource(NoticeAddress) now reaches service.service()
#pragma once

#include "demo/music_service.h"

namespace qelvaro::demo {

class ProgramService {
 public:
  ProgramService();
  ~ProgramService();
  ProgramService(const ProgramService&) = delete;
  ProgramService& operator=(const ProgramService&) = delete;

  // Starts the service and routes every host to it; false when it cannot
  // listen on 127.0.0.1.
  bool Start();
  // Stops the service and clears the routes.
  void Stop();

  MusicService& service() { return service_; }

 private:
  MusicService service_;
};

// The service's options with the program's hosts.
ServiceOptions ProgramServiceOptions();

}  // namespace qelvaro::demo
