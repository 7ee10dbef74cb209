// Drives the regex object the way the song search does: the result pattern
// (host www.music.example, its dots unescaped) over a fuzzed code-page-936
// page, then MatchCount and SubMatchText(i, 2) / (i, 1) for every match.
//
// The first byte steers: bit 0 takes a fuzzed pattern instead (the bytes up
// to the first zero byte; the page follows it), bits 1 to 4 flip the four
// options of Create. The rest is the page, up to its first zero byte, as a
// page text never holds one.
//
// Checks: Create succeeds for the result pattern and reports a collection
// exactly when it has one; reads past the last match or group are empty; the
// number of groups is the pattern's; positions lie in the subject text or are
// -2.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "regex/regex_object.h"
#include "text/primitives.h"

namespace {

using namespace qelvaro;

void Check(bool condition) {
  if (!condition) std::abort();
}

const Text& ResultPattern() {
  static const Text pattern =
      ConcatText("<p class=\"m_name\"><a href=\"http://", "www.music.example",
                 "/yinyue/(.*?)/\" title=\"(.*?)\" target=\"_blank\">");
  return pattern;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t control = data[0];
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  const bool fuzzedPattern = (control & 0x01) != 0;
  Text pattern = ResultPattern();
  if (fuzzedPattern) {
    const std::size_t zero = rest.find('\0');
    pattern = Text(rest.substr(0, zero));
    rest = zero == std::string_view::npos ? std::string_view() : rest.substr(zero + 1);
  }
  const Text page(rest);
  const bool caseSensitive = (control & 0x02) != 0;
  const bool multiLine = (control & 0x04) == 0;
  const bool global = (control & 0x08) == 0;
  const bool quoteMarkers = (control & 0x10) != 0;

  RegexObject re;
  const bool created = re.Create(pattern, page, caseSensitive, multiLine, global, quoteMarkers);
  Check(created == (re.GetMatches() != nullptr));
  if (!fuzzedPattern) Check(created);

  const std::int32_t count = re.MatchCount();
  Check(count >= 0);
  if (!global) Check(count <= 1);
  const std::int32_t groups = re.SubMatchCount();
  Check(count == 0 ? groups == 0 : groups >= 0);
  if (!fuzzedPattern) Check(groups == (count > 0 ? 2 : 0));

  for (std::int32_t i = 1; i <= count; ++i) {
    (void)re.SubMatchText(i, 2);
    (void)re.SubMatchText(i, 1);
    Check(re.SubMatchText(i, groups + 1).empty());
  }
  Check(re.SubMatchText(count + 1, 1).empty());
  Check(re.MatchText(count + 1).empty());

  // Positions convert the whole subject on every call: a few matches only.
  const std::int32_t subjectSize = Utf16ToGbk(GbkToUtf16(page)).size();
  for (std::int32_t i = 1; i <= count && i <= 3; ++i) {
    std::int32_t position = 0;
    (void)re.MatchText(i, &position, true);
    Check(position == -2 || (position >= 0 && position < subjectSize));
    (void)re.SubMatchText(i, 1, &position, true);
    Check(position == -2 || (position >= 0 && position < subjectSize));
  }

  if (page.size() <= 4096) (void)re.ReplaceMatches("[$1|$2]");
  (void)re.GetPattern();
  return 0;
}
