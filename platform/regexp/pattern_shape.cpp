#include "platform/regexp/internal/pattern_shape.h"

#include <algorithm>
#include <array>

namespace qelvaro::platform::regexp_internal {
namespace {

// Start-of-pattern settings; those ending in "=" take a number.
constexpr std::array<std::u16string_view, 20> kLeadingSettings = {
    u"UTF",         u"UCP",          u"NO_AUTO_POSSESS", u"NO_DOTSTAR_ANCHOR",
    u"NO_JIT",      u"NO_START_OPT", u"NOTEMPTY",        u"NOTEMPTY_ATSTART",
    u"LIMIT_HEAP=", u"LIMIT_MATCH=", u"LIMIT_DEPTH=",    u"LIMIT_RECURSION=",
    u"CR",          u"LF",           u"CRLF",            u"ANYCRLF",
    u"ANY",         u"NUL",          u"BSR_ANYCRLF",     u"BSR_UNICODE"};

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

bool IsKnownSetting(std::u16string_view body) {
  for (std::u16string_view name : kLeadingSettings) {
    if (name.back() == u'=') {
      if (body.size() > name.size() && body.substr(0, name.size()) == name &&
          std::all_of(body.begin() + static_cast<std::ptrdiff_t>(name.size()), body.end(),
                      IsDigit)) {
        return true;
      }
    } else if (body == name) {
      return true;
    }
  }
  return false;
}

bool StartsQuantifier(std::u16string_view p, std::size_t at) {
  return at < p.size() && (p[at] == u'*' || p[at] == u'+' || p[at] == u'?' || p[at] == u'{');
}

// Length of a `.*`, `.*?`, `.+` or `.+?` at `at` that is not itself followed
// by a quantifier (which would make it possessive, or quantify it again);
// 0 when there is none.
std::size_t DotRepeatLength(std::u16string_view p, std::size_t at) {
  if (at + 1 >= p.size() || p[at] != u'.' || (p[at + 1] != u'*' && p[at + 1] != u'+')) return 0;
  std::size_t length = 2;
  if (at + 2 < p.size() && p[at + 2] == u'?') length = 3;
  if (StartsQuantifier(p, at + length)) return 0;
  return length;
}

// Escapes after which the rest of the match could depend on more than the
// position, or whose text the scan below could misread.
bool IsUnsafeEscape(char16_t c) {
  return (c >= u'1' && c <= u'9') || c == u'g' || c == u'k' || c == u'G' || c == u'K' ||
         c == u'Q' || c == u'E' || c == u'c';
}

// The offset just past the character class opening at `at`, or npos when its
// text is not plainly understood. Mirrors the compile options in use: an
// immediate "]" closes an empty class.
std::size_t SkipClass(std::u16string_view p, std::size_t at) {
  std::size_t i = at + 1;
  if (i < p.size() && p[i] == u'^') ++i;
  if (i < p.size() && p[i] == u']') return i + 1;
  while (i < p.size()) {
    char16_t c = p[i];
    if (c == u'\\') {
      if (i + 1 >= p.size() || IsUnsafeEscape(p[i + 1])) return std::u16string_view::npos;
      i += 2;
    } else if (c == u'[' && i + 1 < p.size() && p[i + 1] == u':') {
      std::size_t close = p.find(u":]", i + 2);
      if (close == std::u16string_view::npos) return std::u16string_view::npos;
      i = close + 2;
    } else if (c == u']') {
      return i + 1;
    } else {
      ++i;
    }
  }
  return std::u16string_view::npos;
}

// Group openers that leave the match depending on the position only.
std::size_t SafeGroupOpenerLength(std::u16string_view p, std::size_t at) {
  std::u16string_view rest = p.substr(at);
  if (rest.size() < 2 || rest[1] != u'?') return (rest.size() >= 2 && rest[1] == u'*') ? 0 : 1;
  for (std::u16string_view opener : {std::u16string_view(u"(?:"), std::u16string_view(u"(?="),
                                     std::u16string_view(u"(?!"), std::u16string_view(u"(?<="),
                                     std::u16string_view(u"(?<!"), std::u16string_view(u"(?>")}) {
    if (rest.substr(0, opener.size()) == opener) return opener.size();
  }
  return 0;
}

}  // namespace

std::size_t LeadingSettingsLength(std::u16string_view pattern) {
  std::size_t at = 0;
  for (;;) {
    std::u16string_view rest = pattern.substr(at);
    if (rest.size() < 3 || rest[0] != u'(' || rest[1] != u'*') return at;
    std::size_t close = rest.find(u')');
    if (close == std::u16string_view::npos || !IsKnownSetting(rest.substr(2, close - 2))) {
      return at;
    }
    at += close + 1;
  }
}

std::vector<std::size_t> LineScanPoints(std::u16string_view p) {
  std::vector<std::size_t> points;
  int depth = 0;
  std::size_t i = 0;
  while (i < p.size()) {
    char16_t c = p[i];
    if (c == u'\\') {
      if (i + 1 >= p.size() || IsUnsafeEscape(p[i + 1])) return {};
      i += 2;
    } else if (c == u'[') {
      i = SkipClass(p, i);
      if (i == std::u16string_view::npos) return {};
    } else if (c == u'(') {
      std::size_t opener = SafeGroupOpenerLength(p, i);
      if (opener == 0) return {};
      if (depth == 0 && (opener == 1 || (opener == 3 && p[i + 2] == u':'))) {
        // A group whose only content is a dot repetition.
        std::size_t body = i + (opener == 1 ? 1 : 3);
        std::size_t repeat = DotRepeatLength(p, body);
        std::size_t close = body + repeat;
        if (repeat != 0 && close < p.size() && p[close] == u')' &&
            !StartsQuantifier(p, close + 1)) {
          points.push_back(i);
        }
      }
      ++depth;
      i += opener;
    } else if (c == u')') {
      if (--depth < 0) return {};
      ++i;
    } else if (c == u'|') {
      if (depth == 0) return {};
      ++i;
    } else {
      if (depth == 0 && DotRepeatLength(p, i) != 0) points.push_back(i);
      ++i;
    }
  }
  if (depth != 0) return {};
  return points;
}

}  // namespace qelvaro::platform::regexp_internal
