// Knobs of the internet layer for tests only: shorter time-outs and a smaller
// body limit, so that failure paths can be tried in a fraction of a second,
// and a look at how much body a request holds. The program never calls them.
//
// Owns: nothing but access to the layer's limits. Settings apply to requests
// sent afterwards.
//
// Example:
//   SetTimeoutsForTesting(std::chrono::milliseconds(500),
//                         std::chrono::milliseconds(200));
//   ...
//   ResetLimitsForTesting();
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "platform/inet/inet.h"

namespace qelvaro::platform {

// connect: to establish a connection, name lookup included (15 s normally);
// idle: the longest wait in which nothing arrives (30 s normally).
void SetTimeoutsForTesting(std::chrono::milliseconds connect,
                           std::chrono::milliseconds idle);
// The largest body a request delivers before its reads fail (256 MiB
// normally).
void SetBodyLimitForTesting(std::uint64_t maxBodyBytes);
// Back to the normal time-outs and limits.
void ResetLimitsForTesting();

// The body bytes a request handle holds for its reader now (0 for anything
// that is not a sent request).
std::size_t HeldBodyBytesForTesting(HINTERNET request);

}  // namespace qelvaro::platform
