// A look into FetchResource for tests only: the root handle it holds, the
// piece size of its last read loop, and a way to make the creation of the
// root handle fail once. The program never calls them.
//
// Owns: nothing but access to FetchResource's state.
//
// Example:
//   FetchResource(url);
//   EXPECT_EQ(LastFetchPieceSizeForTesting(), 6);   // Content-Length: 5
#pragma once

#include <cstdint>

#include "platform/inet/inet.h"

namespace qelvaro {

// The root handle FetchResource holds now; nullptr before the first call
// that made one, and after ReleaseFetchRoot.
platform::HINTERNET FetchRootForTesting();

// The piece size the last FetchResource that read a body asked for; 0 before
// any.
std::int32_t LastFetchPieceSizeForTesting();

// The next creation of the root handle fails, as a failing InternetOpenA
// would.
void FailNextFetchRootForTesting();

}  // namespace qelvaro
