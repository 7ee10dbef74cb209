#include "web/body_reader.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "text/primitives.h"

namespace qelvaro::web_internal {
namespace {

using platform::DWORD;

// The internet layer fails a body beyond 256 MiB, so a larger announcement
// is not believed when storage is sized up front.
constexpr std::int64_t kLargestReservation = std::int64_t{256} << 20;

}  // namespace

std::int64_t AnnouncedLength(platform::HINTERNET request) {
  char buffer[32] = {};
  DWORD length = sizeof buffer;
  if (!platform::HttpQueryInfoA(request, platform::HTTP_QUERY_CONTENT_LENGTH, buffer, &length,
                                nullptr)) {
    return 0;
  }
  const std::int32_t n = TextToInt(Text(std::string_view(buffer, sizeof buffer)));
  return n >= 1 ? n : 0;
}

Bytes ReadBody(platform::HINTERNET request, DWORD pieceSize, std::int64_t expected) {
  std::string body;
  // Sized for the announced body, the storage never moves while a body of
  // that length arrives; without an announcement it grows by doubling.
  if (expected > 0) body.reserve(static_cast<std::size_t>(std::min(expected, kLargestReservation)));
  std::vector<char> piece(pieceSize);
  for (;;) {
    DWORD got = 0;
    platform::InternetReadFile(request, piece.data(), pieceSize, &got);
    if (got == 0) break;
    body.append(piece.data(), std::min(got, pieceSize));
  }
  return Bytes(std::move(body));
}

}  // namespace qelvaro::web_internal
