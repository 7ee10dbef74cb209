// Internal: what the search reads off a pattern's text before compiling it.
//
// Owns: the length of the leading start-of-pattern settings, and the
// line-scan points of a pattern. Does not own: compiling or matching
// (regexp.cpp).
//
// A line-scan point is a top-level `.*`, `.*?`, `.+` or `.+?` (bare, or the
// only content of a group such as `(.*?)`), not followed by a quantifier, in
// a pattern without top-level alternation and without anything that makes the
// rest of the match depend on more than the position it starts from
// (back-references, recursion, conditions, verbs, callouts, \G, \K, \Q,
// inline options). At such a point the dot cannot pass a line feed, so the
// repetition tries every end from the point's position x to the next line
// feed L. When everything after the point fails from x, it fails from any
// position in [x, L] as well; the search remembers that and stops later
// arrivals there at once. This is what keeps a page of unclosed result
// prefixes on one long line linear instead of quadratic.
//
// The analysis is conservative: whatever it does not recognise gives no
// points, and the pattern is then matched without the memo.
//
// Example:
//   LineScanPoints(u"<a href=\"(.*?)\" title=\"(.*?)\">");  // {9, 23}
//   LineScanPoints(u"a(.*?)|b");                           // {} (alternation)
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace qelvaro::platform::regexp_internal {

// Length of the run of start-of-pattern settings such as "(*LF)" or
// "(*LIMIT_MATCH=10)" that opens the pattern; 0 when there is none.
std::size_t LeadingSettingsLength(std::u16string_view pattern);

// Offsets, in increasing order, at which the line-scan points begin (the "("
// of a group form, the "." of a bare one). Empty when the pattern does not
// qualify or has none.
std::vector<std::size_t> LineScanPoints(std::u16string_view pattern);

}  // namespace qelvaro::platform::regexp_internal
