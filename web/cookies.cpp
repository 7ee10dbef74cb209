#include "web/cookies.h"

#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "text/primitives.h"

namespace qelvaro {
namespace {

// The names, or pieces, met so far, for the "is it already there?" tests.
// A server may set thousands of cookies in one response; asking the list
// itself each time (CookieNamePresent, IndexOfText) would cost a walk of the
// whole list per entry. An ordered set keeps every test logarithmic whatever
// names a server chooses (no hash a sender could aim collisions at), and the
// results are exactly those of the list walks: an entry's name is present in
// the list exactly when it is in the set, because every entry added to the
// list has its name added to the set at the same time.
using SeenSet = std::set<std::string, std::less<>>;

}  // namespace

Text CookieName(const Text& entry) {
  const std::int32_t equals = FindText(entry, "=");
  return TrimBoth(equals == -1 ? entry : TextLeft(entry, equals - 1));
}

bool CookieNamePresent(const TextArray& entries, const Text& name) {
  for (const Text& entry : entries) {
    if (CookieName(entry) == name) return true;
  }
  return false;
}

std::int32_t IndexOfText(const TextArray& items, const Text& text) {
  std::int32_t index = 1;
  for (const Text& item : items) {
    if (item == text) return index;
    ++index;
  }
  return -1;
}

Text JoinDistinct(const Text& text, const Text& separator) {
  // Same result as keeping the seen pieces in an array and asking
  // IndexOfText for each piece; see SeenSet.
  SeenSet seen;
  std::string acc;
  for (const Text& piece : SplitText(text, separator)) {
    if (seen.insert(piece.str()).second) {
      acc.append(piece.view());
      acc.append(separator.view());
    }
  }
  const Text joined = Text(std::move(acc));
  return TextLeft(joined, TextLength(joined) - TextLength(separator));
}

Text MergeCookies(Text& cookies, Text& receivedCookies) {
  cookies = RemoveSpaces(cookies);
  receivedCookies = RemoveSpaces(receivedCookies);
  const TextArray stored = SplitText(cookies, ";");
  const TextArray received = SplitText(receivedCookies, ";");

  // The received entries, then each stored entry whose name is not yet among
  // them. An entry taken over joins the names at once, so of several stored
  // entries with one name only the first comes along. The names live in a set
  // beside the list (see SeenSet) instead of CookieNamePresent walking it.
  TextArray merged = received;
  SeenSet names;
  for (const Text& entry : received) names.insert(CookieName(entry).str());
  for (const Text& entry : stored) {
    if (names.insert(CookieName(entry).str()).second) merged.push_back(entry);
  }

  std::string acc;
  for (const Text& entry : merged) {
    if (TextRight(entry, 8) == Text("=deleted")) continue;
    acc.append(entry.view());
    acc.append("; ");
  }
  const Text kept = Text(std::move(acc));
  cookies = JoinDistinct(TextLeft(kept, TextLength(kept) - 2), "; ");
  return cookies;
}

}  // namespace qelvaro
