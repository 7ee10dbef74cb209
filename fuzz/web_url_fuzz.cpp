// Drives the address routines with fuzzed addresses in every mode, and checks
// what holds for any address: hosts are lower case, the port only adds to the
// host's end, and a path always starts with "/".
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "text/primitives.h"
#include "web/url.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// No ASCII capital at a character start.
bool IsLowerCase(const qelvaro::Text& t) { return qelvaro::ToLower(t) == t; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qelvaro;
  if (size < 1) return 0;
  // First byte: the level count (-2..13) for level mode; the rest: the address.
  const std::int32_t n = static_cast<std::int32_t>(data[0] % 16) - 2;
  const Text url(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));

  for (const std::optional<std::int32_t> levels :
       {std::optional<std::int32_t>(), std::optional<std::int32_t>(n),
        std::optional<std::int32_t>(INT32_MAX)}) {
    for (const bool registrable : {false, true}) {
      const Text host = UrlHost(url, registrable, false, levels);
      const Text withPort = UrlHost(url, registrable, true, levels);
      Check(IsLowerCase(host) && IsLowerCase(withPort));
      Check(TextLeft(withPort, TextLength(host)) == host);
      Check(FindText(host, ":") == -1);
    }
  }
  (void)UrlPort(url);
  const Text path = UrlPath(url);
  Check(TextLeft(path, 1) == Text("/"));
  Check(TextLength(path) <= TextLength(url) || path == Text("/"));
  return 0;
}
