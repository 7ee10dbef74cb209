#include "regex/regex_object.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/regexp/com.h"
#include "platform/regexp/variant.h"
#include "text/gbk_literal.h"
#include "text/primitives.h"

namespace qelvaro {
namespace {

using platform::GetProperty;
using platform::Variant;
using ::testing::ElementsAreArray;

// The search page's result pattern, the host's dots left unescaped.
Text ResultPattern() {
  return ConcatText("<p class=\"m_name\"><a href=\"http://", "www.music.example",
                    "/yinyue/(.*?)/\" title=\"(.*?)\" target=\"_blank\">");
}

Text ResultMarkup(const Text& id, const Text& title, const char* classAttribute = "class") {
  return ConcatText("<li><p ", classAttribute, "=\"m_name\"><a href=\"http://www.music.example/yinyue/",
                    id, "/\" title=\"", title, "\" target=\"_blank\">", title, "</a></p></li>");
}

// Every match as (group 2, group 1), the way the search lists them.
std::vector<std::pair<std::string, std::string>> Rows(const RegexObject& re) {
  std::vector<std::pair<std::string, std::string>> rows;
  const std::int32_t n = re.MatchCount();
  for (std::int32_t i = 1; i <= n; ++i) {
    rows.emplace_back(re.SubMatchText(i, 2).str(), re.SubMatchText(i, 1).str());
  }
  return rows;
}

std::vector<std::uint8_t> VectorOf(const Bytes& b) {
  return std::vector<std::uint8_t>(b.udata(), b.udata() + b.size());
}

// Stands for a machine without the component while it lives.
class MissingComponent {
 public:
  MissingComponent() { platform::UnregisterProgId(u"VBScript.RegExp"); }
  ~MissingComponent() {
    platform::RegisterProgId(u"VBScript.RegExp", [] { return platform::NewRegExpObject(); });
  }
  MissingComponent(const MissingComponent&) = delete;
  MissingComponent& operator=(const MissingComponent&) = delete;
};

// ---- Create and its options ---------------------------------------------------

TEST(RegexObjectCreate, DefaultsAreIgnoreCaseMultilineGlobal) {
  RegexObject re;
  ASSERT_TRUE(re.Create("^ab", "ab\nAB\nx\nab"));
  EXPECT_EQ(GetProperty(re.GetEngine(), u"IgnoreCase"), Variant(true));
  EXPECT_EQ(GetProperty(re.GetEngine(), u"Multiline"), Variant(true));
  EXPECT_EQ(GetProperty(re.GetEngine(), u"Global"), Variant(true));
  EXPECT_EQ(re.MatchCount(), 3);
}

struct OptionCase {
  const char* name;
  bool caseSensitive;
  bool multiLine;
  bool global;
  std::int32_t count;
};

void PrintTo(const OptionCase& c, std::ostream* os) { *os << c.name; }

class RegexObjectOptions : public ::testing::TestWithParam<OptionCase> {};

TEST_P(RegexObjectOptions, SetTheComponentAndTheMatches) {
  const OptionCase& c = GetParam();
  RegexObject re;
  // Lines of "ab", one in capitals.
  ASSERT_TRUE(re.Create("^ab", "ab\nAB\nab", c.caseSensitive, c.multiLine, c.global));
  EXPECT_EQ(GetProperty(re.GetEngine(), u"IgnoreCase"), Variant(!c.caseSensitive));
  EXPECT_EQ(GetProperty(re.GetEngine(), u"Multiline"), Variant(c.multiLine));
  EXPECT_EQ(GetProperty(re.GetEngine(), u"Global"), Variant(c.global));
  EXPECT_EQ(re.MatchCount(), c.count);
}

INSTANTIATE_TEST_SUITE_P(Table, RegexObjectOptions,
                         ::testing::Values(OptionCase{"Defaults", false, true, true, 3},
                                           OptionCase{"CaseSensitive", true, true, true, 2},
                                           OptionCase{"SingleLine", false, false, true, 1},
                                           OptionCase{"FirstOnly", false, true, false, 1},
                                           OptionCase{"AllOff", true, false, false, 1}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(RegexObjectCreate, SubjectKeepsUtf16WithTheZeroUnit) {
  RegexObject re;
  EXPECT_EQ(re.GetSubject(), Variant(std::int32_t{0}));
  const Text subject = ConcatText("a", "歌"_gbk);
  re.Create("a", subject);
  EXPECT_EQ(re.GetSubject(), Variant(std::vector<std::uint8_t>{'a', 0, 0x4C, 0x6B, 0, 0}));
  re.Create("a", "");
  EXPECT_EQ(re.GetSubject(), Variant(std::vector<std::uint8_t>{0, 0}));
}

TEST(RegexObjectCreate, EmptySubjectGivesACollectionWithoutMatches) {
  RegexObject re;
  EXPECT_TRUE(re.Create("a", ""));
  EXPECT_NE(re.GetMatches(), nullptr);
  EXPECT_EQ(re.MatchCount(), 0);
  EXPECT_EQ(re.SubMatchCount(), 0);
  EXPECT_EQ(re.MatchText(1).str(), "");
}

TEST(RegexObjectCreate, RejectedPatternGivesNothing) {
  RegexObject re;
  EXPECT_FALSE(re.Create("a(b", "ab a(b"));
  EXPECT_EQ(re.GetMatches(), nullptr);
  EXPECT_EQ(re.MatchCount(), 0);
  EXPECT_EQ(re.SubMatchText(1, 1).str(), "");
  EXPECT_EQ(re.MatchText(1).str(), "");
  EXPECT_EQ(re.SubMatchCount(), 0);
  EXPECT_EQ(re.GetPattern().str(), "a(b");  // the component is there, with the pattern
}

TEST(RegexObjectCreate, ASecondCreateReplacesTheFirstCompletely) {
  RegexObject re;
  ASSERT_TRUE(re.Create("(\\d)(x)?", "1x 2x 3x"));
  ASSERT_EQ(re.MatchCount(), 3);
  ASSERT_TRUE(re.Create("(\\d)", "a9", true));
  EXPECT_EQ(re.MatchCount(), 1);
  EXPECT_EQ(re.SubMatchCount(), 1);
  EXPECT_EQ(re.MatchText(1).str(), "9");
  EXPECT_EQ(re.SubMatchText(1, 2).str(), "");
  EXPECT_EQ(re.SubMatchText(2, 1).str(), "");
  EXPECT_EQ(GetProperty(re.GetEngine(), u"IgnoreCase"), Variant(false));
  EXPECT_EQ(re.ReplaceMatches("-").str(), "a-");
  // A failing Create leaves nothing of the one before either.
  EXPECT_FALSE(re.Create("(", "a9"));
  EXPECT_EQ(re.MatchCount(), 0);
  EXPECT_EQ(re.MatchText(1).str(), "");
}

struct QuoteCase {
  const char* name;
  bool quoteMarkers;
  Text subject;
  std::vector<std::string> matches;
};

void PrintTo(const QuoteCase& c, std::ostream* os) { *os << c.name; }

class RegexObjectQuoteMarkers : public ::testing::TestWithParam<QuoteCase> {};

TEST_P(RegexObjectQuoteMarkers, StandForDoubleQuotesOnlyWhenAsked) {
  const QuoteCase& c = GetParam();
  RegexObject re;
  const Text pattern = "title=#引号(.*?)#引号"_gbk;
  ASSERT_TRUE(re.Create(pattern, c.subject, false, true, true, c.quoteMarkers));
  std::vector<std::string> found;
  for (std::int32_t i = 1; i <= re.MatchCount(); ++i) found.push_back(re.SubMatchText(i, 1).str());
  EXPECT_THAT(found, ElementsAreArray(c.matches));
  EXPECT_EQ(re.GetPattern(), c.quoteMarkers ? Text("title=\"(.*?)\"") : pattern);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RegexObjectQuoteMarkers,
    ::testing::Values(
        QuoteCase{"OnMatchesQuotes", true, "title=\"ab\" title=\"\"", {"ab", ""}},
        QuoteCase{"OnIgnoresTheMarkerText", true, "title=#引号ab#引号"_gbk, {}},
        QuoteCase{"OffIgnoresQuotes", false, "title=\"ab\"", {}},
        QuoteCase{"OffMatchesTheMarkerText", false, "title=#引号ab#引号"_gbk, {"ab"}}),
    [](const auto& p) { return std::string(p.param.name); });

// ---- The song search's use ---------------------------------------------------------

TEST(RegexObjectSearch, ResultPatternListsTitlesAndIdsInPageOrder) {
  const Text page = ConcatText(
      "<html><ul>\r\n", ResultMarkup("12345", "abc"), ResultMarkup("678", "我的好兄弟"_gbk),
      "\r\n", ResultMarkup("90", "", "CLASS"), ResultMarkup("x/y", "a&amp;b"),
      // The host's dots match any character.
      "<p class=\"m_name\"><a href=\"http://wwwXmusic-example/yinyue/5/\" title=\"t\" "
      "target=\"_blank\">",
      // A link of another kind, and an unclosed one at the end.
      "<p class=\"s_name\"><a href=\"http://www.music.example/yinyue/7/\" title=\"no\" "
      "target=\"_blank\">",
      "<p class=\"m_name\"><a href=\"http://www.music.example/yinyue/8/\" title=\"cut");
  RegexObject re;
  ASSERT_TRUE(re.Create(ResultPattern(), page));
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"abc", "12345"}, {("我的好兄弟"_gbk).str(), "678"}, {"", "90"}, {"a&amp;b", "x/y"},
      {"t", "5"}};
  EXPECT_EQ(Rows(re), expected);
  EXPECT_EQ(re.SubMatchCount(), 2);
}

TEST(RegexObjectSearch, APageWithoutResultsGivesNoRows) {
  RegexObject re;
  EXPECT_TRUE(re.Create(ResultPattern(), "<html>nothing found</html>"));
  EXPECT_EQ(re.MatchCount(), 0);
  EXPECT_TRUE(Rows(re).empty());
}

// ---- Reading matches ---------------------------------------------------------------

struct IndexCase {
  const char* name;
  std::int32_t i;
  std::int32_t j;
  std::string expected;
};

void PrintTo(const IndexCase& c, std::ostream* os) { *os << c.name; }

class RegexObjectIndexes : public ::testing::TestWithParam<IndexCase> {};

TEST_P(RegexObjectIndexes, OutOfRangeAndUnsetGroupsAreEmpty) {
  const IndexCase& c = GetParam();
  RegexObject re;
  ASSERT_TRUE(re.Create("(\\d)(x)?", "1x 2"));
  ASSERT_EQ(re.MatchCount(), 2);
  EXPECT_EQ(re.SubMatchText(c.i, c.j).str(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RegexObjectIndexes,
    ::testing::Values(IndexCase{"FirstGroup", 1, 1, "1"}, IndexCase{"SecondGroup", 1, 2, "x"},
                      IndexCase{"GroupTookNoPart", 2, 2, ""},
                      IndexCase{"MatchAfterTheLast", 3, 1, ""},
                      IndexCase{"GroupAboveTheCount", 1, 3, ""},
                      IndexCase{"MatchZero", 0, 1, ""}, IndexCase{"GroupZero", 1, 0, ""},
                      IndexCase{"Negative", -1, -1, ""},
                      IndexCase{"Extremes", INT32_MIN, INT32_MAX, ""}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(RegexObjectRead, MatchTextAndSubMatchCount) {
  RegexObject re;
  const Text subject = ConcatText("x <", "歌曲"_gbk, "> <b>");
  ASSERT_TRUE(re.Create("<(.*?)>", subject));
  EXPECT_EQ(re.MatchText(1), ConcatText("<", "歌曲"_gbk, ">"));
  EXPECT_EQ(re.MatchText(2).str(), "<b>");
  EXPECT_EQ(re.MatchText(3).str(), "");
  EXPECT_EQ(re.SubMatchCount(), 1);
  EXPECT_TRUE(re.Create("a", "a"));
  EXPECT_EQ(re.SubMatchCount(), 0);
}

TEST(RegexObjectRead, TheSubjectsZeroUnitEndsATextThatTakesIt) {
  RegexObject re;
  ASSERT_TRUE(re.Create("(b.)", "ab"));
  ASSERT_EQ(re.MatchCount(), 1);
  EXPECT_EQ(re.MatchText(1).str(), "b");
  EXPECT_EQ(re.SubMatchText(1, 1).str(), "b");
}

TEST(RegexObjectRead, NothingBeforeTheFirstCreate) {
  RegexObject re;
  std::int32_t position = 7;
  EXPECT_EQ(re.GetPattern().str(), "");
  EXPECT_EQ(re.MatchCount(), 0);
  EXPECT_EQ(re.SubMatchCount(), 0);
  EXPECT_EQ(re.MatchText(1, &position, true).str(), "");
  EXPECT_EQ(position, -2);  // nothing to find it in
  EXPECT_EQ(re.SubMatchText(1, 1).str(), "");
  EXPECT_EQ(re.ReplaceMatches("x").str(), "");
  re.Nop();
  EXPECT_EQ(re.GetSubject(), Variant(std::int32_t{0}));
}

TEST(RegexObjectRead, GetPatternGivesThePatternBack) {
  RegexObject re;
  const Text pattern = ConcatText("(", "歌曲"_gbk, ")\\d+");
  re.Create(pattern, "");
  EXPECT_EQ(re.GetPattern(), pattern);
}

// ---- Positions -----------------------------------------------------------------

TEST(RegexObjectPosition, WrittenOnlyWhenWanted) {
  RegexObject re;
  ASSERT_TRUE(re.Create("b(c)", "abc"));
  std::int32_t position = 1234;
  EXPECT_EQ(re.SubMatchText(1, 1, &position, false).str(), "c");
  EXPECT_EQ(re.MatchText(1, &position, false).str(), "bc");
  EXPECT_EQ(position, 1234);
  EXPECT_EQ(re.SubMatchText(1, 1, &position, true).str(), "c");
  EXPECT_EQ(position, 2);
  EXPECT_EQ(re.MatchText(1, nullptr, true).str(), "bc");  // nowhere to write: fine
}

struct PositionCase {
  const char* name;
  Text pattern;
  Text subject;
  bool caseSensitive;
  std::int32_t i;
  std::int32_t j;  // 0: MatchText
  Text text;
  std::int32_t position;
};

void PrintTo(const PositionCase& c, std::ostream* os) { *os << c.name; }

class RegexObjectPositions : public ::testing::TestWithParam<PositionCase> {};

TEST_P(RegexObjectPositions, AreFoundFromTheFirstIndexOn) {
  const PositionCase& c = GetParam();
  RegexObject re;
  ASSERT_TRUE(re.Create(c.pattern, c.subject, c.caseSensitive));
  std::int32_t position = 1234;
  const Text text =
      c.j == 0 ? re.MatchText(c.i, &position, true) : re.SubMatchText(c.i, c.j, &position, true);
  EXPECT_EQ(text, c.text);
  EXPECT_EQ(position, c.position);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RegexObjectPositions,
    ::testing::Values(
        PositionCase{"AsciiMatch", "id=(\\d+)", "x id=12", false, 1, 0, "id=12", 2},
        PositionCase{"AsciiGroup", "id=(\\d+)", "x id=12", false, 1, 1, "12", 5},
        PositionCase{"SecondMatch", "id=(\\d+)", "id=1 id=2", false, 2, 1, "2", 8},
        // FirstIndex 3 counts units; the group's bytes start at 0-based 8.
        PositionCase{"ChineseBefore", "id=(\\d+)", ConcatText("歌曲 id=12"_gbk), false, 1, 1,
                     "12", 8},
        PositionCase{"ChineseText", "=(.+)", ConcatText("歌=曲"_gbk), false, 1, 1, "曲"_gbk, 3},
        // FirstIndex 2 lands on the trail byte of the second character, and
        // the character walk from there steps over the match.
        PositionCase{"StartInsideACharacter", "x", ConcatText("歌曲x"_gbk), false, 1, 0, "x", -2},
        // A case-sensitive match is looked for without regard to case, and so
        // found earlier when the subject has it in other letters there.
        PositionCase{"CaseSensitiveMatchFoundInOtherCase", "AB", ConcatText("歌曲ab AB"_gbk),
                     true, 1, 0, "AB", 4},
        PositionCase{"IgnoreCaseMatchFoundExactly", "AB", ConcatText("歌曲ab AB"_gbk), false, 2,
                     0, "AB", 7},
        PositionCase{"EmptyGroup", "a()", "xa", false, 1, 1, "", 0}),
    [](const auto& p) { return std::string(p.param.name); });

// ---- ReplaceMatches ------------------------------------------------------------

struct ReplaceCase {
  const char* name;
  Text pattern;
  Text subject;
  Text replacement;
  Text expected;
};

void PrintTo(const ReplaceCase& c, std::ostream* os) { *os << c.name; }

class RegexObjectReplace : public ::testing::TestWithParam<ReplaceCase> {};

TEST_P(RegexObjectReplace, ReplacesEveryMatchOfTheSubject) {
  const ReplaceCase& c = GetParam();
  RegexObject re;
  ASSERT_TRUE(re.Create(c.pattern, c.subject));
  EXPECT_EQ(re.ReplaceMatches(c.replacement), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RegexObjectReplace,
    ::testing::Values(ReplaceCase{"Text", "\\d", "a1b2c", "#", "a#b#c"},
                      ReplaceCase{"Empty", "\\d", "a1b2c", "", "abc"},
                      ReplaceCase{"Group", "(\\w)=(\\d)", "a=1;b=2", "$2$1", "1a;2b"},
                      ReplaceCase{"IgnoresCase", "b", "aBb", "x", "axx"},
                      ReplaceCase{"Chinese", "<(.*?)>", ConcatText("<", "歌"_gbk, ">x"),
                                  ConcatText("[", "曲"_gbk, "$1]"),
                                  ConcatText("[", "曲歌"_gbk, "]x")},
                      ReplaceCase{"NoMatch", "z", "abc", "x", "abc"}),
    [](const auto& p) { return std::string(p.param.name); });

// ---- A missing component ----------------------------------------------------------

TEST(RegexObjectMissingComponent, EveryReadIsEmpty) {
  RegexObject re;
  {
    MissingComponent missing;
    EXPECT_FALSE(re.Create(ResultPattern(), ResultMarkup("1", "a")));
    EXPECT_EQ(re.GetEngine(), nullptr);
    EXPECT_EQ(re.GetMatches(), nullptr);
    EXPECT_EQ(re.MatchCount(), 0);
    EXPECT_EQ(re.SubMatchCount(), 0);
    EXPECT_EQ(re.SubMatchText(1, 1).str(), "");
    EXPECT_EQ(re.MatchText(1).str(), "");
    EXPECT_EQ(re.GetPattern().str(), "");
    EXPECT_EQ(re.ReplaceMatches("x").str(), "");
  }
  EXPECT_TRUE(re.Create(ResultPattern(), ResultMarkup("1", "a")));
  EXPECT_EQ(re.MatchCount(), 1);
}

// ---- Lifetime ----------------------------------------------------------------------

TEST(RegexObjectLifetime, ConstructionAndDestructionBracketTheApartment) {
  const int before = platform::CoInitializeCount();
  {
    RegexObject re;
    EXPECT_EQ(platform::CoInitializeCount(), before + 1);
    re.Create("a", "a");
    {
      RegexObject copy(re);
      EXPECT_EQ(platform::CoInitializeCount(), before + 2);
    }
    EXPECT_EQ(platform::CoInitializeCount(), before + 1);
  }
  EXPECT_EQ(platform::CoInitializeCount(), before);
}

TEST(RegexObjectLifetime, ACopySharesTheObjectsAndCopiesTheSubject) {
  RegexObject re;
  ASSERT_TRUE(re.Create("(\\d)", "1 2"));
  RegexObject copy(re);
  EXPECT_EQ(copy.GetEngine(), re.GetEngine());
  EXPECT_EQ(copy.GetMatches(), re.GetMatches());
  EXPECT_EQ(copy.GetSubject(), re.GetSubject());
  // The original starts over; the copy keeps the objects of the first Create.
  ASSERT_TRUE(re.Create("(\\d)", "3"));
  EXPECT_EQ(copy.MatchCount(), 2);
  EXPECT_EQ(copy.SubMatchText(2, 1).str(), "2");
  EXPECT_EQ(re.MatchCount(), 1);
  RegexObject assigned;
  assigned = re;
  EXPECT_EQ(assigned.SubMatchText(1, 1).str(), "3");
}

TEST(RegexObjectLifetime, SharedRegexIsMadeOnceAndDestroyed) {
  const int before = platform::CoInitializeCount();
  ASSERT_EQ(SharedRegex, nullptr);
  CreateSharedRegex();
  ASSERT_NE(SharedRegex, nullptr);
  RegexObject* first = SharedRegex.get();
  CreateSharedRegex();
  EXPECT_EQ(SharedRegex.get(), first);
  EXPECT_EQ(platform::CoInitializeCount(), before + 1);
  EXPECT_TRUE(SharedRegex->Create(ResultPattern(), ResultMarkup("1", "a")));
  EXPECT_EQ(SharedRegex->SubMatchText(1, 2).str(), "a");
  DestroySharedRegex();
  EXPECT_EQ(SharedRegex, nullptr);
  EXPECT_EQ(platform::CoInitializeCount(), before);
  DestroySharedRegex();
  EXPECT_EQ(platform::CoInitializeCount(), before);
}

// ---- The object's code-page conversions ----------------------------------------

TEST(RegexObjectConversions, GbkToUtf16AddsTheZeroUnit) {
  using Units = std::vector<std::uint8_t>;
  EXPECT_EQ(VectorOf(GbkToUtf16("")), (Units{0, 0}));
  EXPECT_EQ(VectorOf(GbkToUtf16("ab")), (Units{'a', 0, 'b', 0, 0, 0}));
  EXPECT_EQ(VectorOf(GbkToUtf16("歌"_gbk)), (Units{0x4C, 0x6B, 0, 0}));
}

TEST(RegexObjectConversions, Utf16ToGbkStopsAtTheFirstZero) {
  EXPECT_EQ(Utf16ToGbk(Bytes()).str(), "");
  EXPECT_EQ(Utf16ToGbk(Bytes(std::string_view("a", 1))).str(), "");        // odd byte dropped
  EXPECT_EQ(Utf16ToGbk(Bytes(std::string_view("a\0b", 3))).str(), "a");
  EXPECT_EQ(Utf16ToGbk(Bytes(std::string_view("a\0\0\0b\0", 6))).str(), "a");
  EXPECT_EQ(Utf16ToGbk(Bytes(std::string_view("\x4C\x6B", 2))), "歌"_gbk);
  EXPECT_EQ(Utf16ToGbk(Bytes(std::string_view("\x00\xD8x\0", 4))).str(), "?x");  // lone surrogate
  const Text mixed = ConcatText("a", "我的好兄弟"_gbk, "\xA1\xA1z");
  EXPECT_EQ(Utf16ToGbk(GbkToUtf16(mixed)), mixed);
}

}  // namespace
}  // namespace qelvaro
