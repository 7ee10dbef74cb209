// The fixture of the web routines' network tests: each test starts from a
// clean internet layer and talks only to its own loopback servers
// (testing/loopback_server.h).
//
// Owns: what is reset around each test: the proxy variables of the
// environment, the layer's test limits and host routes, and the shared
// cookie store. Does not own: the servers (each test starts its own).
//
// Example:
//   class WebRequestTest : public qelvaro::WebNetworkTest {};
//   TEST_F(WebRequestTest, ...) { LoopbackServer server(OkReply("hi")); ... }
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/inet/inet.h"
#include "platform/inet/inet_testing.h"
#include "testing/loopback_server.h"

namespace qelvaro {

class WebNetworkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ClearProxyEnvironment();
    platform::ResetLimitsForTesting();
    platform::ClearRoutes();
    // The shared store forgets what earlier tests of this run stored.
    platform::InternetSetOptionA(nullptr, platform::INTERNET_OPTION_END_BROWSER_SESSION, nullptr,
                                 0);
  }
  void TearDown() override {
    platform::ResetLimitsForTesting();
    unsetenv("http_proxy");
  }
};

}  // namespace qelvaro
