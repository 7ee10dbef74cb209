// Every test of the program's window runs against the demo music service on
// loopback: the service's hosts are routed to it for the whole test binary,
// so no test reaches out to the network.
#include "app/service_environment.h"

#include <gtest/gtest.h>

namespace qelvaro {
namespace {

class ServiceEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_TRUE(TestService().Start()); }
  void TearDown() override { TestService().Stop(); }
};

[[maybe_unused]] ::testing::Environment* const g_service =
    ::testing::AddGlobalTestEnvironment(new ServiceEnvironment);

}  // namespace

demo::ProgramService& TestService() {
  static demo::ProgramService service;
  return service;
}

}  // namespace qelvaro
