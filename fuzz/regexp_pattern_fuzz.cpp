// Fuzzes patterns: the input after its first byte is a pattern (one unit per
// byte, so ASCII syntax and Latin-1 letters), run over a fixed subject with
// options and limits taken from the first byte, through Execute and Replace.
//
// Checks: a pattern either is rejected by both calls or gives a collection;
// matches lie inside the subject, in order and without overlap (an empty one
// may sit where the previous one ended); groups lie inside the subject; and
// where the pattern also compiles inside a group (which keeps the failure
// memo out) both find the same matches, unless one was cut short by the
// bounds. JIT and interpreter are not compared with each other: PCRE2 10.42
// itself differs between them for some possessive groups, e.g. the group
// captures of `a|()*+a|()`.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/regexp/regexp.h"

namespace {

using namespace qelvaro::platform;

const std::u16string& Subject() {
  static const std::u16string subject =
      u"<ul>\n<li><p class=\"m_name\"><a href=\"http://www.music.example/yinyue/123/\" "
      u"title=\"abc\" target=\"_blank\">abc</a></p></li>\n"
      u"<li><P CLASS=\"M_NAME\"><a href=\"http://www.music.example/yinyue/45\r\n"
      u"caf\u00e9 CAF\u00c9 \u6b4c\u66f2 \U0001F600 " + std::u16string(1, u'\xD800') +
      u"x aaaaaaaaaaaaaaaaaaaaaaaaaaaaab\n\n$1 (x) [y] {z}\\ end";
  return subject;
}

void Check(bool condition) {
  if (!condition) std::abort();
}

RegExp Make(std::u16string pattern, std::uint8_t control) {
  RegExp re;
  re.SetPattern(std::move(pattern));
  re.SetIgnoreCase((control & 0x04) != 0);
  re.SetMultiline((control & 0x08) != 0);
  re.SetGlobal((control & 0x10) == 0);
  ExecuteLimits limits;
  limits.allowJit = (control & 0x01) == 0;
  limits.baseSteps = (control & 0x02) != 0 ? 64 : 1 << 16;
  re.SetLimits(limits);
  return re;
}

void CheckMatches(const MatchCollection& matches) {
  const std::size_t n = Subject().size();
  std::int64_t previousEnd = 0;
  for (std::int32_t i = 0; i < matches.Count(); ++i) {
    Match m = *matches.Item(i);
    Check(m.FirstIndex() >= previousEnd && m.Length() >= 0);
    Check(static_cast<std::size_t>(m.FirstIndex()) + static_cast<std::size_t>(m.Length()) <= n);
    for (std::int32_t g = 0; g < m.SubMatchCount(); ++g) {
      Check(m.SubMatch(g).size() <= n);
    }
    previousEnd = m.FirstIndex() + m.Length();
  }
}

// Compares two searches of the same subject unless one is missing (the
// grouped pattern may not compile), has other groups, or was cut short.
void SameMatches(const MatchCollection& matches, const std::optional<MatchCollection>& other) {
  if (!other || other->GroupCount() != matches.GroupCount() || matches.Truncated() ||
      other->Truncated()) {
    return;
  }
  Check(matches.Count() == other->Count());
  for (std::int32_t i = 0; i < matches.Count(); ++i) {
    Match a = *matches.Item(i);
    Match b = *other->Item(i);
    Check(a.FirstIndex() == b.FirstIndex() && a.Length() == b.Length());
    for (std::int32_t g = 0; g < a.SubMatchCount(); ++g) {
      Check(a.SubMatchTookPart(g) == b.SubMatchTookPart(g) && a.SubMatch(g) == b.SubMatch(g));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > 4096) return 0;
  const std::uint8_t control = data[0];
  std::u16string pattern(data + 1, data + size);

  RegExp re = Make(pattern, control);
  std::optional<MatchCollection> matches = re.Execute(Subject());
  std::optional<std::u16string> replaced = re.Replace(Subject(), u"<$1|$&|$$|$'>");
  Check(matches.has_value() == re.PatternCompiles());
  Check(replaced.has_value() == re.PatternCompiles());
  if (!matches) return 0;
  CheckMatches(*matches);

  SameMatches(*matches, Make(u"(?:" + pattern + u")", control).Execute(Subject()));
  return 0;
}
