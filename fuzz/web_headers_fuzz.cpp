// Drives the header routines with fuzzed header blocks: the response scan,
// HeaderValue, the agent choice and the default request lines.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "text/primitives.h"
#include "web/headers.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qelvaro;
  if (size < 1) return 0;
  // First byte: which redirect address the scan starts from; the rest: the
  // header block.
  const Text raw(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));

  Text redirect = (data[0] & 1) != 0 ? Text("/before") : Text();
  Text cookies = "left over";
  ScanResponseHeaders(raw, redirect, cookies);
  const bool anyLocation = FindText(raw, "Location:") != -1;
  if (!anyLocation) Check(redirect == ((data[0] & 1) != 0 ? Text("/before") : raw));
  if (FindText(raw, "Set-Cookie") == -1) Check(cookies.empty());
  Check(TextLength(cookies) <= 2 * TextLength(raw));

  const Text value = HeaderValue(raw);
  Check(TextLength(value) < TextLength(raw) || value.empty());
  (void)AgentFor(raw);

  Text headers = raw;
  const std::optional<Text> supplied =
      (data[0] & 2) != 0 ? std::optional<Text>(TextLeft(raw, 8)) : std::nullopt;
  CompleteRequestHeaders(headers, "http://h.example/", supplied);
  Check(TextLeft(headers, TextLength(raw)) == raw);
  Check(FindText(headers, "Referer:") != -1 && FindText(headers, "Accept:") != -1);
  return 0;
}
