#include "text/primitives.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "text/gbk_literal.h"

namespace qelvaro {

namespace {

using u8 = unsigned char;
constexpr std::size_t npos = static_cast<std::size_t>(-1);

const u8* U(const char* p) { return reinterpret_cast<const u8*>(p); }

bool IsLead(u8 c) { return c >= 0x80; }

// A copy of s with every ASCII capital mapped to its small letter. Every byte
// is mapped, trail bytes included: that is how the searches ignore case.
std::string LowerAllBytes(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// The character starts of a walk over a text: a byte from 0x80 up steps two
// bytes, any other byte one. Positions are queried in ascending order; the
// walk can be restarted at any position (after a match, say).
class CharWalk {
 public:
  CharWalk(const u8* p, std::size_t start) : p_(p), next_(start) {}

  void RestartAt(std::size_t pos) { next_ = pos; }

  // Whether pos is a character start of the walk. pos must not lie before the
  // previous query and must be inside the text.
  bool IsStart(std::size_t pos) {
    while (next_ < pos) {
      // Skip eight ASCII bytes at a time.
      while (next_ + 8 <= pos) {
        std::uint64_t w;
        std::memcpy(&w, p_ + next_, 8);
        if (w & 0x8080808080808080ull) break;
        next_ += 8;
      }
      if (next_ >= pos) break;
      next_ += IsLead(p_[next_]) ? 2 : 1;
    }
    return next_ == pos;
  }

 private:
  const u8* p_;
  std::size_t next_;
};

// Finds the occurrences of a needle that begin at character starts of a walk.
// memmem finds candidates; a candidate that begins on a trail byte costs a
// fresh search from the byte after it. Should such misses pile up (a long
// needle over a text full of near-matches on trail bytes), the finder turns
// to a Knuth-Morris-Pratt scan that never reads a byte twice, so every search
// stays linear in the text plus the needle.
class AlignedFinder {
 public:
  AlignedFinder(std::string_view hay, std::string_view needle, std::size_t walkStart)
      : hay_(hay), needle_(needle), walk_(U(hay.data()), walkStart),
        budget_(2 * hay.size() + 65536) {}

  // The first occurrence at a character start at or after from, or npos.
  // The walk must already have reached no further than from.
  std::size_t Next(std::size_t from) {
    const std::size_t n = hay_.size();
    const std::size_t m = needle_.size();
    while (from + m <= n) {
      std::size_t p;
      if (kmp_) {
        p = KmpNext(from);
      } else {
        // Each call may look at the needle afresh; calls that advance by
        // less than the needle's length are what the budget guards against.
        spent_ += m;
        if (spent_ > budget_) {
          StartKmp();
          continue;
        }
        const void* r = ::memmem(hay_.data() + from, n - from, needle_.data(), m);
        p = r == nullptr ? npos : static_cast<std::size_t>(static_cast<const char*>(r) - hay_.data());
      }
      if (p == npos) return npos;
      if (walk_.IsStart(p)) return p;
      from = p + 1;
    }
    return npos;
  }

  // After a match: the walk starts afresh at pos.
  void RestartAt(std::size_t pos) { walk_.RestartAt(pos); }

 private:
  void StartKmp() {
    kmp_ = true;
    const std::size_t m = needle_.size();
    fail_.assign(m, 0);
    for (std::uint32_t i = 1, k = 0; i < m; ++i) {
      while (k > 0 && needle_[i] != needle_[k]) k = fail_[k - 1];
      if (needle_[i] == needle_[k]) ++k;
      fail_[i] = k;
    }
    scan_ = 0;
    matched_ = 0;
  }

  // The next occurrence beginning at or after from (any alignment).
  std::size_t KmpNext(std::size_t from) {
    const std::size_t n = hay_.size();
    const std::size_t m = needle_.size();
    if (scan_ < from) {
      scan_ = from;
      matched_ = 0;
    }
    // Drop partial matches that began before from.
    while (matched_ > 0 && scan_ - matched_ < from) matched_ = fail_[matched_ - 1];
    while (scan_ < n) {
      const char c = hay_[scan_++];
      while (matched_ > 0 && c != needle_[matched_]) matched_ = fail_[matched_ - 1];
      if (c == needle_[matched_]) ++matched_;
      if (matched_ == m) {
        matched_ = fail_[m - 1];
        return scan_ - m;
      }
    }
    return npos;
  }

  std::string_view hay_;
  std::string_view needle_;
  CharWalk walk_;
  std::size_t budget_;
  std::size_t spent_ = 0;
  bool kmp_ = false;
  std::vector<std::uint32_t> fail_;  // longest proper border of each prefix
  std::size_t scan_ = 0;
  std::size_t matched_ = 0;
};

std::int32_t Pos(std::size_t p) { return static_cast<std::int32_t>(p + 1); }

std::string& Reserve(std::string& s, std::int64_t n) {
  text_internal::CheckCount(n);
  s.reserve(static_cast<std::size_t>(n));
  return s;
}

const Text& QuoteMarker() {
  static const Text marker = "#引号"_gbk;
  return marker;
}

}  // namespace

// ---- Measuring and cutting --------------------------------------------------

std::int32_t TextLength(const Text& t) { return t.size(); }

Text TextLeft(const Text& t, std::int32_t n) {
  if (n <= 0) return Text();
  return Text::FromTrusted(std::string(t.view().substr(0, static_cast<std::size_t>(n))));
}

Text TextRight(const Text& t, std::int32_t n) {
  if (n <= 0) return Text();
  const std::size_t k = std::min<std::size_t>(static_cast<std::size_t>(n), t.view().size());
  return Text::FromTrusted(std::string(t.view().substr(t.view().size() - k)));
}

Text TextMid(const Text& t, std::int32_t start, std::int32_t n) {
  if (start < 1 || start > t.size() || n <= 0) return Text();
  return Text::FromTrusted(
      std::string(t.view().substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(n))));
}

Text CharFromCode(int c) {
  const char b = static_cast<char>(static_cast<u8>(c));
  return b == 0 ? Text() : Text::FromTrusted(std::string(1, b));
}

int CharCode(const Text& t, std::int32_t p) {
  if (p < 1 || p > t.size()) return 0;
  return static_cast<signed char>(t.data()[p - 1]);
}

Text BlankText(std::int32_t n) {
  if (n <= 0) return Text();
  return Text::FromTrusted(std::string(static_cast<std::size_t>(n), ' '));
}

// ---- Searching --------------------------------------------------------------

namespace {

std::int32_t FindExact(std::string_view hay, std::string_view needle, std::size_t s0) {
  AlignedFinder finder(hay, needle, s0);
  const std::size_t p = finder.Next(s0);
  return p == npos ? -1 : Pos(p);
}

std::int32_t FindLastExact(std::string_view hay, std::string_view needle, std::size_t window) {
  if (needle.size() > window) return -1;
  // Candidates must fit wholly in the window; the walk runs over the text.
  AlignedFinder finder(hay.substr(0, window), needle, 0);
  std::size_t last = npos;
  for (std::size_t p = finder.Next(0); p != npos; p = finder.Next(p + 1)) last = p;
  return last == npos ? -1 : Pos(last);
}

}  // namespace

std::int32_t FindText(const Text& t, const Text& needle, std::int32_t start, int caseInsensitive) {
  const std::size_t len = t.view().size();
  const std::size_t s0 = start < 1 ? 0 : static_cast<std::size_t>(start - 1);
  if (s0 >= len) return -1;
  if (needle.empty()) return 1;
  if (caseInsensitive == 1) {
    return FindExact(LowerAllBytes(t.view()), LowerAllBytes(needle.view()), s0);
  }
  return FindExact(t.view(), needle.view(), s0);
}

std::int32_t FindTextReverse(const Text& t, const Text& needle, std::optional<std::int32_t> start,
                             int caseInsensitive) {
  const std::size_t len = t.view().size();
  std::size_t w = len;
  if (start.has_value()) {
    const std::int64_t s = static_cast<std::int64_t>(*start) - 1;
    w = s < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(s), len);
  }
  if (needle.empty()) return w > 0 ? 1 : -1;
  if (caseInsensitive == 1) {
    return FindLastExact(LowerAllBytes(t.view()), LowerAllBytes(needle.view()), w);
  }
  return FindLastExact(t.view(), needle.view(), w);
}

// ---- Transforming -----------------------------------------------------------

namespace {

template <char From, char To>
Text MapAsciiLetters(const Text& t) {
  std::string out(t.view());
  const std::size_t n = out.size();
  for (std::size_t i = 0; i < n;) {
    const char c = out[i];
    if (IsLead(static_cast<u8>(c))) {
      i += 2;
      continue;
    }
    if (c >= From && c <= static_cast<char>(From + 25)) out[i] = static_cast<char>(c - From + To);
    ++i;
  }
  return Text::FromTrusted(std::move(out));
}

bool FullWidthSpaceAt(const u8* p, std::size_t i, std::size_t n) {
  return i + 1 < n && p[i] == 0xA1 && p[i + 1] == 0xA1;
}

}  // namespace

Text ToUpper(const Text& t) { return MapAsciiLetters<'a', 'A'>(t); }
Text ToLower(const Text& t) { return MapAsciiLetters<'A', 'a'>(t); }

Text TrimBoth(const Text& t) {
  const u8* p = U(t.data());
  const std::size_t n = t.view().size();
  std::size_t begin = 0;
  while (begin < n) {
    if (p[begin] == 0x20) {
      begin += 1;
    } else if (FullWidthSpaceAt(p, begin, n)) {
      begin += 2;
    } else {
      break;
    }
  }
  std::size_t end = n;
  std::size_t run = npos;  // where the last run of spaces began
  for (std::size_t i = begin; i < n;) {
    if (p[i] == 0x20) {
      if (run == npos) run = i;
      i += 1;
    } else if (IsLead(p[i])) {
      if (i + 1 >= n) {  // a dangling lead byte is cut off instead
        run = i;
        break;
      }
      if (p[i] == 0xA1 && p[i + 1] == 0xA1) {
        if (run == npos) run = i;
      } else {
        run = npos;
      }
      i += 2;
    } else {
      run = npos;
      i += 1;
    }
  }
  if (run != npos) end = run;
  return Text::FromTrusted(std::string(t.view().substr(begin, end - begin)));
}

Text RemoveSpaces(const Text& t) {
  const u8* p = U(t.data());
  const std::size_t n = t.view().size();
  std::string out;
  out.reserve(n);
  for (std::size_t i = 0; i < n;) {
    if (p[i] == 0x20) {
      i += 1;
    } else if (IsLead(p[i])) {
      if (i + 1 >= n) break;  // a dangling lead byte is left out
      if (!(p[i] == 0xA1 && p[i + 1] == 0xA1)) out.append(t.data() + i, 2);
      i += 2;
    } else {
      // Copy the run of ordinary bytes up to the next space or lead byte.
      std::size_t j = i + 1;
      while (j < n && p[j] != 0x20 && !IsLead(p[j])) ++j;
      out.append(t.data() + i, j - i);
      i = j;
    }
  }
  return Text::FromTrusted(std::move(out));
}

Text ReplaceText(const Text& t, const Text& sub, const Text& replacement, std::int32_t start,
                 std::optional<std::int32_t> count, bool caseSensitive) {
  const std::string_view text = t.view();
  const std::size_t len = text.size();
  const std::size_t s0 = start < 1 ? 0 : static_cast<std::size_t>(start - 1);
  if (text.empty() || sub.empty() || s0 >= len || (count.has_value() && *count == 0)) return t;

  std::string loweredText, loweredSub;
  std::string_view hay = text, needle = sub.view();
  if (!caseSensitive) {
    loweredText = LowerAllBytes(text);
    loweredSub = LowerAllBytes(sub.view());
    hay = loweredText;
    needle = loweredSub;
  }
  const std::size_t m = needle.size();
  std::int64_t remaining = count.value_or(-1);

  std::string out;
  out.reserve(len);
  out.append(text.substr(0, s0));
  AlignedFinder finder(hay, needle, s0);
  std::size_t cur = s0;
  while (remaining != 0) {
    const std::size_t p = finder.Next(cur);
    if (p == npos) break;
    text_internal::CheckCount(static_cast<std::int64_t>(out.size()) + (p - cur) +
                              replacement.view().size());
    out.append(text.substr(cur, p - cur));
    out.append(replacement.view());
    cur = p + m;
    finder.RestartAt(cur);
    if (remaining > 0) --remaining;
  }
  text_internal::CheckCount(static_cast<std::int64_t>(out.size()) + (len - cur));
  out.append(text.substr(cur));
  return Text::FromTrusted(std::move(out));
}

TextArray SplitText(const Text& t, const Text& delimiter, std::optional<std::int32_t> maximum) {
  const std::int64_t max = maximum.has_value() ? std::max<std::int32_t>(*maximum, 0) : -1;
  std::vector<Text> items;
  if (t.empty() || max == 0) return TextArray();
  if (delimiter.empty()) {
    items.push_back(t);
    return TextArray(std::move(items));
  }
  const std::string_view text = t.view();
  const std::size_t m = delimiter.view().size();
  AlignedFinder finder(text, delimiter.view(), 0);
  std::size_t last = 0;
  for (std::size_t p = finder.Next(0); p != npos; p = finder.Next(last)) {
    items.push_back(Text::FromTrusted(std::string(text.substr(last, p - last))));
    last = p + m;
    finder.RestartAt(last);
    if (max > 0 && static_cast<std::int64_t>(items.size()) >= max) return TextArray(std::move(items));
  }
  if (last < text.size()) items.push_back(Text::FromTrusted(std::string(text.substr(last))));
  return TextArray(std::move(items));
}

Text ConcatText(std::initializer_list<std::string_view> parts) {
  std::int64_t total = 0;
  for (std::string_view s : parts) total += static_cast<std::int64_t>(s.size());
  std::string out;
  Reserve(out, total);
  for (std::string_view s : parts) out.append(s);
  return Text(std::move(out));
}

Text TextBetween(const Text& subject, const Text& left, const Text& right, std::int32_t start,
                 bool caseInsensitive) {
  const Text& quote = QuoteMarker();
  const Text l = ReplaceText(left, quote, "\"");
  const Text r = ReplaceText(right, quote, "\"");
  const int flag = caseInsensitive ? 1 : 0;
  std::int32_t p = FindText(subject, l, start, flag);
  if (p != -1) p += TextLength(l);
  const std::int32_t q = FindText(subject, r, p, flag);
  if (p == -1 || q == -1) return Text();
  return TextMid(subject, p, q - p);
}

// ---- Converting -------------------------------------------------------------

std::int32_t TextToInt(const Text& t) {
  const u8* p = U(t.data());
  const std::size_t n = t.view().size();
  std::size_t i = 0;
  // The next character with full-width digits, signs and spaces narrowed;
  // 0 at the end or at any other two-byte character.
  auto next = [&]() -> u8 {
    if (i >= n) return 0;
    const u8 b = p[i];
    if (!IsLead(b)) {
      ++i;
      return b;
    }
    if (i + 1 >= n) return 0;
    const u8 trail = p[i + 1];
    if (b == 0xA3 && trail >= 0xA1 && trail <= 0xFE) {
      i += 2;
      return static_cast<u8>(trail - 0x80);
    }
    if (b == 0xA1 && trail == 0xA1) {
      i += 2;
      return ' ';
    }
    return 0;
  };
  u8 c = next();
  while (c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r') c = next();
  bool negative = false;
  if (c == '+' || c == '-') {
    negative = c == '-';
    c = next();
  }
  std::int64_t value = 0;
  const std::int64_t limit = negative ? -static_cast<std::int64_t>(INT32_MIN) : INT32_MAX;
  while (c >= '0' && c <= '9') {
    value = std::min<std::int64_t>(value * 10 + (c - '0'), limit);
    c = next();
  }
  return static_cast<std::int32_t>(negative ? -value : value);
}

Text ToHexText(std::int32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%X", static_cast<unsigned>(v));
  return Text(buf);
}

Text ToText(const Text& t) { return t; }

Bytes TextToBytes(const Text& t) { return Bytes(t.view()); }

Text BytesToText(const Bytes& b) { return Text(b.view()); }

std::int32_t BytesToInt(const Bytes& b) {
  std::uint32_t v = 0;
  const std::size_t k = std::min<std::size_t>(4, b.view().size());
  for (std::size_t i = 0; i < k; ++i) v |= static_cast<std::uint32_t>(b.udata()[i]) << (8 * i);
  return static_cast<std::int32_t>(v);
}

std::int32_t BitOr(std::int32_t a, std::int32_t b) { return a | b; }

// ---- Byte strings -----------------------------------------------------------

std::int32_t BytesLength(const Bytes& b) { return b.size(); }

Bytes BytesLeft(const Bytes& b, std::int32_t n) {
  if (n <= 0) return Bytes();
  return Bytes(b.view().substr(0, static_cast<std::size_t>(n)));
}

Bytes BytesRight(const Bytes& b, std::int32_t n) {
  if (n <= 0) return Bytes();
  const std::size_t k = std::min<std::size_t>(static_cast<std::size_t>(n), b.view().size());
  return Bytes(b.view().substr(b.view().size() - k));
}

Bytes BlankBytes(std::int32_t n) {
  if (n <= 0) return Bytes();
  return Bytes(std::string(static_cast<std::size_t>(n), '\0'));
}

std::int32_t FindBytes(const Bytes& b, const Bytes& needle, std::int32_t start) {
  const std::size_t s0 = start < 1 ? 0 : static_cast<std::size_t>(start - 1);
  const std::string_view hay = b.view();
  if (needle.empty() || s0 >= hay.size()) return -1;
  const void* r = ::memmem(hay.data() + s0, hay.size() - s0, needle.data(), needle.view().size());
  return r == nullptr ? -1 : Pos(static_cast<std::size_t>(static_cast<const char*>(r) - hay.data()));
}

Bytes ConcatBytes(std::initializer_list<std::string_view> parts) {
  std::int64_t total = 0;
  for (std::string_view s : parts) total += static_cast<std::int64_t>(s.size());
  std::string out;
  Reserve(out, total);
  for (std::string_view s : parts) out.append(s);
  return Bytes(std::move(out));
}

}  // namespace qelvaro
