// Folding the cookies a response has just set into the cookie text a caller
// keeps from one request to the next.
//
// Owns: MergeCookies and its list routines CookieName, CookieNamePresent,
// JoinDistinct, IndexOfText. Does not own: reading Set-Cookie lines
// (web/headers.h) or any cookie store.
//
// A cookie text holds entries name=value separated by ";". The name of an
// entry is the text before its first "=", trimmed; an entry without "=" is
// all name. All comparisons are exact, byte for byte and case-sensitive.
#pragma once

#include <cstdint>

#include "text/text.h"

namespace qelvaro {

// Merges receivedCookies into cookies and returns a copy of the result.
// Both arguments are written back: first each loses every space (RemoveSpaces,
// so spaces inside values go too); then cookies receives the merged text:
// the received entries in the order they came, then the stored entries whose
// names were not received, in stored order (of several stored entries with
// one name only the first), without the entries ending in "=deleted", joined
// by "; ", each distinct entry once.
//   Text c = "a=1; b=2", r = "b=3; c=4";
//   MergeCookies(c, r) == "b=3; c=4; a=1";  c == "b=3; c=4; a=1";  r == "b=3;c=4"
//   Text c = "a=1; b=2", r = "a=deleted";
//   MergeCookies(c, r) == "b=2"   (a cookie the server deletes is gone)
Text MergeCookies(Text& cookies, Text& receivedCookies);

// The text before the first "=" of an entry (the whole entry without one),
// trimmed at both ends.
//   CookieName(" sid =x") == "sid";  CookieName("flag") == "flag"
Text CookieName(const Text& entry);

// Whether some entry of the list has exactly that name; false for an empty
// list.
//   CookieNamePresent(SplitText("a=1;b=2", ";"), "b") == true
bool CookieNamePresent(const TextArray& entries, const Text& name);

// The pieces of text (split at separator, as SplitText does) joined by the
// separator, each distinct piece once, in the order of first occurrence.
//   JoinDistinct("a; b; a", "; ") == "a; b"
//   JoinDistinct("b=2; ; c=3", "; ") == "b=2; ; c=3"
Text JoinDistinct(const Text& text, const Text& separator);

// The 1-based index of the first element equal to text; -1 when none is (an
// empty array included).
//   IndexOfText(SplitText("a,b,a"), "a") == 1;  IndexOfText({}, "a") == -1
std::int32_t IndexOfText(const TextArray& items, const Text& text);

}  // namespace qelvaro
