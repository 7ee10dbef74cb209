// Drives the cookie merge with fuzzed cookie texts and checks it against the
// merge written with the plain list walks (CookieNamePresent, IndexOfText),
// which the routine replaces by sets of the names and pieces seen.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "text/primitives.h"
#include "web/cookies.h"

namespace {

using namespace qelvaro;

void Check(bool ok) {
  if (!ok) std::abort();
}

Text WalkJoinDistinct(const Text& text, const Text& separator) {
  TextArray seen;
  Text acc;
  for (const Text& piece : SplitText(text, separator)) {
    if (IndexOfText(seen, piece) == -1) {
      seen.push_back(piece);
      acc = ConcatText(acc, piece, separator);
    }
  }
  return TextLeft(acc, TextLength(acc) - TextLength(separator));
}

Text WalkMerge(Text& cookies, Text& received) {
  cookies = RemoveSpaces(cookies);
  received = RemoveSpaces(received);
  const TextArray old = SplitText(cookies, ";");
  TextArray merged = SplitText(received, ";");
  for (const Text& e : old) {
    if (!CookieNamePresent(merged, CookieName(e))) merged.push_back(e);
  }
  Text acc;
  for (const Text& e : merged) {
    if (TextRight(e, 8) != Text("=deleted")) acc = ConcatText(acc, e, "; ");
  }
  cookies = WalkJoinDistinct(TextLeft(acc, TextLength(acc) - 2), "; ");
  return cookies;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  // First byte: where the stored text ends and the received one begins, and
  // the separator length for JoinDistinct (taken from the received text).
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::size_t cut = std::min<std::size_t>(data[0] * rest.size() / 256, rest.size());
  const Text stored(rest.substr(0, cut));
  const Text received(rest.substr(cut));

  Text cookies = stored, got = received;
  Text walkCookies = stored, walkGot = received;
  const Text merged = MergeCookies(cookies, got);
  Check(merged == WalkMerge(walkCookies, walkGot));
  Check(cookies == merged && cookies == walkCookies && got == walkGot);

  const Text separator = TextLeft(received, data[0] % 4);
  Check(JoinDistinct(stored, separator) == WalkJoinDistinct(stored, separator));
  return 0;
}
