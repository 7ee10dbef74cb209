// The demo music service that every test of the program's window runs
// against (started once per test binary; its hosts are routed to it).
#pragma once

#include "demo/program_service.h"

namespace qelvaro {

demo::ProgramService& TestService();

}  // namespace qelvaro
