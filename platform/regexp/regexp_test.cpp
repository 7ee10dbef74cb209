#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/regexp/com.h"
#include "platform/regexp/internal/pattern_shape.h"
#include "platform/regexp/regexp.h"
#include "platform/regexp/variant.h"

namespace qelvaro::platform {
namespace {

using ::testing::ElementsAre;
using ::testing::Pair;

// The search page's result markup, with the host's dots left unescaped.
constexpr char16_t kResultPattern[] =
    u"<p class=\"m_name\"><a href=\"http://www.music.example/yinyue/(.*?)/\" "
    u"title=\"(.*?)\" target=\"_blank\">";
constexpr char16_t kUnclosedPrefix[] =
    u"<p class=\"m_name\"><a href=\"http://www.music.example/yinyue/123";

// What the pattern matches of one result.
std::u16string ResultLink(std::u16string_view id, std::u16string_view title) {
  return u"<p class=\"m_name\"><a href=\"http://www.music.example/yinyue/" + std::u16string(id) +
         u"/\" title=\"" + std::u16string(title) + u"\" target=\"_blank\">";
}

std::u16string ResultMarkup(std::u16string_view id, std::u16string_view title) {
  return ResultLink(id, title) + std::u16string(title) + u"</a></p>";
}

std::u16string Repeat(std::u16string_view piece, std::size_t units) {
  std::u16string out;
  while (out.size() < units) out += piece;
  return out;
}

using Found = std::vector<std::pair<int, std::u16string>>;

Found Matches(const MatchCollection& matches) {
  Found found;
  for (int i = 0; i < matches.Count(); ++i) {
    Match m = *matches.Item(i);
    EXPECT_EQ(m.Length(), static_cast<int>(m.Value().size()));
    found.emplace_back(m.FirstIndex(), m.Value());
  }
  return found;
}

RegExp Make(std::u16string pattern, bool ignoreCase, bool multiline, bool global,
            bool allowJit = true) {
  RegExp re;
  re.SetPattern(std::move(pattern));
  re.SetIgnoreCase(ignoreCase);
  re.SetMultiline(multiline);
  re.SetGlobal(global);
  ExecuteLimits limits;
  limits.allowJit = allowJit;
  re.SetLimits(limits);
  return re;
}

// --- Matching rules ------------------------------------------------------------

struct RuleCase {
  const char* name;
  std::u16string pattern;
  std::u16string subject;
  bool ignoreCase;
  bool multiline;
  bool global;
  Found expected;
};

void PrintTo(const RuleCase& c, std::ostream* os) { *os << c.name; }

class RuleTest : public ::testing::TestWithParam<std::tuple<RuleCase, bool>> {};

TEST_P(RuleTest, FindsTheExpectedMatches) {
  const auto& [c, jit] = GetParam();
  RegExp re = Make(c.pattern, c.ignoreCase, c.multiline, c.global, jit);
  std::optional<MatchCollection> matches = re.Execute(c.subject);
  ASSERT_TRUE(matches.has_value());
  EXPECT_EQ(Matches(*matches), c.expected);
  EXPECT_FALSE(matches->Truncated());
}

const RuleCase kRules[] = {
    {"DotStopsAtLineFeed", u"a.c", u"a\nc abc", false, false, true, {{4, u"abc"}}},
    {"DotTakesCarriageReturn", u"a.c", u"a\rc", false, false, true, {{0, u"a\rc"}}},
    {"CaretOnlyAtStart", u"^b", u"a\nb", false, false, true, {}},
    {"CaretAtLinesWhenMultiline", u"^b", u"a\nb\nb", false, true, true, {{2, u"b"}, {4, u"b"}}},
    {"DollarOnlyAtVeryEnd", u"a$", u"a\na", false, false, true, {{2, u"a"}}},
    {"DollarNotBeforeFinalLineFeed", u"a$", u"a\n", false, false, true, {}},
    {"DollarAtLinesWhenMultiline", u"a$", u"a\na", false, true, true, {{0, u"a"}, {2, u"a"}}},
    {"CaseMattersByDefault", u"ABC", u"xabc", false, false, true, {}},
    {"IgnoreCaseAscii", u"ABC", u"xabc", true, false, true, {{1, u"abc"}}},
    {"IgnoreCaseLatin1", u"\u00e9t\u00e9", u"\u00c9T\u00c9", true, false, true,
     {{0, u"\u00c9T\u00c9"}}},
    {"Latin1CaseMattersByDefault", u"\u00e9", u"\u00c9", false, false, true, {}},
    {"IgnoreCaseLatin1Range", u"[\u00e0-\u00f6]+", u"\u00c0\u00c9\u00d6", true, false, true,
     {{0, u"\u00c0\u00c9\u00d6"}}},
    {"MultiplicationSignIsNoLetter", u"\u00d7", u"\u00f7", true, false, true, {}},
    {"NoFoldingBeyondLatin1", u"\u03b1", u"\u0391", true, false, true, {}},
    {"GlobalTakesAll", u"a", u"banana", false, false, true, {{1, u"a"}, {3, u"a"}, {5, u"a"}}},
    {"FirstOnlyWithoutGlobal", u"a", u"banana", false, false, false, {{1, u"a"}}},
    {"EmptyMatchesAdvance", u"x*", u"abc", false, false, true,
     {{0, u""}, {1, u""}, {2, u""}, {3, u""}}},
    {"EmptyAfterNonEmpty", u"a*", u"baaac", false, false, true,
     {{0, u""}, {1, u"aaa"}, {4, u""}, {5, u""}}},
    {"LazyGroupTakesLeast", u"<(.*?)>", u"<a><bc>", false, false, true,
     {{0, u"<a>"}, {3, u"<bc>"}}},
    {"GreedyGroupTakesMost", u"<(.*)>", u"<a><bc>\n<d>", false, false, true,
     {{0, u"<a><bc>"}, {8, u"<d>"}}},
    {"UnsetBackReferenceMatchesEmpty", u"(a)?b\\1", u"b", false, false, true, {{0, u"b"}}},
    {"UnicodeAndHexEscapes", u"\\u0041\\x42", u"xAB", false, false, true, {{1, u"AB"}}},
    {"WordClassIsAscii", u"\\w+", u"\u00e9t\u00e91", false, false, true, {{1, u"t"}, {3, u"1"}}},
    {"EmptyClassMatchesNothing", u"a[]", u"a]", false, false, true, {}},
    {"NegatedEmptyClassMatchesAll", u"a[^]", u"a\n", false, false, true, {{0, u"a\n"}}},
    {"CountsUtf16Units", u"x", u"\U0001F600x", false, false, true, {{2, u"x"}}},
    {"DotTakesOneUnitOfAPair", u".x", u"\U0001F600x", false, false, true,
     {{1, std::u16string(u"\xDE00x")}}},
    {"LoneSurrogateIsAUnit", u"\\uD800a", std::u16string(u"b\xD800" u"a"), false, false, true,
     {{1, std::u16string(u"\xD800" u"a")}}},
    {"LeadingSettingStaysInFront", u"(*NOTEMPTY)a*", u"baa", false, false, true, {{1, u"aa"}}},
    {"OpenQuoteAtEnd", u"a\\Q.*", u"xa.*", false, false, true, {{1, u"a.*"}}},
    {"ExtendedCommentAtEnd", u"(?x)a b # c", u"xab", false, false, true, {{1, u"ab"}}},
    {"OwnCallouts", u"a(?C1)b(?C255)c", u"abc", false, false, true, {{0, u"abc"}}},
    {"Recursion", u"\\((?:[^()]|(?R))*\\)", u"x(a(b))", false, false, true, {{1, u"(a(b))"}}},
    {"ResultPatternOnOneLine", kResultPattern,
     u"<ul>" + ResultMarkup(u"12345", u"abc") + ResultMarkup(u"678", u"def") + u"</ul>", true,
     true, true,
     {{4, ResultLink(u"12345", u"abc")},
      {4 + static_cast<int>(ResultMarkup(u"12345", u"abc").size()), ResultLink(u"678", u"def")}}},
};

INSTANTIATE_TEST_SUITE_P(Rules, RuleTest,
                         ::testing::Combine(::testing::ValuesIn(kRules), ::testing::Bool()),
                         [](const auto& param) {
                           return std::string(std::get<0>(param.param).name) +
                                  (std::get<1>(param.param) ? "_Jit" : "_Interpreter");
                         });

TEST(RegExpTest, UnsetGroupsAreEmptyAndCounted) {
  RegExp re = Make(u"(a)|(b)", false, false, true);
  std::optional<MatchCollection> matches = re.Execute(u"ba");
  ASSERT_TRUE(matches);
  ASSERT_EQ(matches->Count(), 2);
  Match first = *matches->Item(0);
  EXPECT_EQ(first.SubMatchCount(), 2);
  EXPECT_FALSE(first.SubMatchTookPart(0));
  EXPECT_EQ(first.SubMatch(0), u"");
  EXPECT_EQ(first.SubMatch(1), u"b");
  EXPECT_EQ(matches->Item(1)->SubMatch(0), u"a");
  EXPECT_EQ(first.SubMatch(2), u"");
  EXPECT_EQ(first.SubMatch(-1), u"");
}

TEST(RegExpTest, ResultPatternGroupsAreIdAndTitle) {
  RegExp re = Make(kResultPattern, true, true, true);
  std::u16string page = u"<P CLASS=\"M_NAME\"><a href=\"http://www.music.example/yinyue/42/\" "
                        u"title=\"\" target=\"_blank\">x";
  std::optional<MatchCollection> matches = re.Execute(page);
  ASSERT_TRUE(matches);
  ASSERT_EQ(matches->Count(), 1);
  EXPECT_EQ(matches->Item(0)->SubMatch(0), u"42");
  EXPECT_TRUE(matches->Item(0)->SubMatchTookPart(1));
  EXPECT_EQ(matches->Item(0)->SubMatch(1), u"");
}

TEST(RegExpTest, RejectedPatternsMakeExecuteFail) {
  for (std::u16string pattern : {u"a(b", u"[", u"*a", u"a{2,1}", u"(?<n>a)(?<n>b)", u"\\"}) {
    RegExp re = Make(pattern, false, false, true);
    EXPECT_FALSE(re.PatternCompiles()) << std::string(pattern.begin(), pattern.end());
    EXPECT_FALSE(re.Execute(u"ab").has_value());
    EXPECT_FALSE(re.Replace(u"ab", u"x").has_value());
  }
  EXPECT_FALSE(Make(std::u16string(kMaxPatternUnits + 1, u'a'), false, false, true)
                   .Execute(u"a")
                   .has_value());
}

TEST(RegExpTest, ItemOutOfRangeIsNothing) {
  std::optional<MatchCollection> matches = Make(u"a", false, false, true).Execute(u"aa");
  ASSERT_TRUE(matches);
  EXPECT_TRUE(matches->Item(1).has_value());
  EXPECT_FALSE(matches->Item(2).has_value());
  EXPECT_FALSE(matches->Item(-1).has_value());
  EXPECT_EQ(MatchCollection().Count(), 0);
}

TEST(RegExpTest, AMatchOutlivesItsCollection) {
  std::optional<Match> kept;
  {
    std::optional<MatchCollection> matches = Make(u"b(c)", false, false, true).Execute(u"abcd");
    kept = matches->Item(0);
  }
  EXPECT_EQ(kept->Value(), u"bc");
  EXPECT_EQ(kept->SubMatch(0), u"c");
}

TEST(RegExpTest, SettingsChangeRecompiles) {
  RegExp re = Make(u"a", false, false, true);
  EXPECT_EQ(re.Execute(u"A")->Count(), 0);
  re.SetIgnoreCase(true);
  EXPECT_EQ(re.Execute(u"A")->Count(), 1);
  re.SetPattern(u"b");
  EXPECT_EQ(re.Execute(u"A")->Count(), 0);
}

TEST(RegExpTest, ReplaceExpandsReferences) {
  struct Case {
    std::u16string pattern, subject, replacement;
    bool global;
    std::u16string expected;
  } cases[] = {
      {u"(\\d+)-(x)?", u"a12-b3-x", u"[$1|$2]", true, u"a[12|]b[3|x]"},
      {u"(\\d+)", u"a12b3", u"<$1>", false, u"a<12>b3"},
      {u"b", u"abc", u"$$|$&|$`|$'", true, u"a$|b|a|cc"},
      {u"(a)", u"a", u"$0$2$9$", true, u"$0$2$9$"},
      {u"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)", u"abcdefghij", u"$10$11", true, u"ja1"},
      {u"x*", u"ab", u"-", true, u"-a-b-"},
      {u"z", u"abc", u"-", true, u"abc"},
  };
  for (const Case& c : cases) {
    RegExp re = Make(c.pattern, false, false, c.global);
    EXPECT_EQ(re.Replace(c.subject, c.replacement), c.expected)
        << std::string(c.pattern.begin(), c.pattern.end());
  }
}

// --- Bounds --------------------------------------------------------------------

TEST(RegExpBoundsTest, UnclosedPrefixesOnOneLineEndWithoutMatches) {
  // Every start position would scan the lazy group to the end of this line.
  for (bool jit : {true, false}) {
    RegExp re = Make(kResultPattern, true, true, true, jit);
    std::optional<MatchCollection> matches = re.Execute(Repeat(kUnclosedPrefix, 1 << 20));
    ASSERT_TRUE(matches);
    EXPECT_EQ(matches->Count(), 0);
    EXPECT_FALSE(matches->Truncated());
  }
}

TEST(RegExpBoundsTest, RealResultsAmongUnclosedPrefixesAreAllFound) {
  std::u16string page = ResultMarkup(u"1", u"first") + Repeat(kUnclosedPrefix, 200000) + u"\n" +
                        Repeat(u"<p class=\"m_name\"><a href=\"http://www.music.example/"
                               u"yinyue/9/\" title=\"t",
                               200000) +
                        u"\n" + ResultMarkup(u"2", u"second");
  for (bool jit : {true, false}) {
    std::optional<MatchCollection> matches =
        Make(kResultPattern, true, true, true, jit).Execute(page);
    ASSERT_TRUE(matches);
    ASSERT_EQ(matches->Count(), 2);
    EXPECT_EQ(matches->Item(0)->SubMatch(1), u"first");
    EXPECT_EQ(matches->Item(1)->SubMatch(1), u"second");
    EXPECT_FALSE(matches->Truncated());
  }
}

TEST(RegExpBoundsTest, LongMatchesAreRetriedAndFound) {
  const std::u16string title(100000, u'x');
  for (bool jit : {true, false}) {
    std::optional<MatchCollection> matches =
        Make(kResultPattern, true, true, true, jit).Execute(u"a" + ResultMarkup(u"5", title));
    ASSERT_TRUE(matches);
    ASSERT_EQ(matches->Count(), 1);
    EXPECT_EQ(matches->Item(0)->SubMatch(1), title);
    EXPECT_FALSE(matches->Truncated());
  }
}

TEST(RegExpBoundsTest, BudgetCutKeepsTheMatchesFoundSoFar) {
  // The alternation keeps the failure memo out, so every "a" of the long
  // line scans to its end; a small budget ends the search there.
  ExecuteLimits limits;
  limits.stepsPerUnit = 1;
  limits.baseSteps = 0;
  std::u16string subject = u"ab ab\n" + Repeat(u"ax", 20000) + u"\nab";
  for (bool jit : {true, false}) {
    limits.allowJit = jit;
    RegExp re = Make(u"a.*?b|c", false, true, true, jit);
    re.SetLimits(limits);
    std::optional<MatchCollection> matches = re.Execute(subject);
    ASSERT_TRUE(matches);
    EXPECT_TRUE(matches->Truncated());
    EXPECT_THAT(Matches(*matches), ElementsAre(Pair(0, u"ab"), Pair(3, u"ab")));
  }
}

TEST(RegExpBoundsTest, StorageBoundEndsTheCollection) {
  ExecuteLimits limits;
  limits.offsetsPerUnit = 0;
  limits.baseOffsets = 6;  // three matches without groups
  RegExp re = Make(u"a", false, false, true);
  re.SetLimits(limits);
  std::optional<MatchCollection> matches = re.Execute(u"aaaaa");
  ASSERT_TRUE(matches);
  EXPECT_EQ(matches->Count(), 3);
  EXPECT_TRUE(matches->Truncated());
}

TEST(RegExpBoundsTest, CatastrophicPatternEndsTruncated) {
  ExecuteLimits limits;
  limits.baseSteps = 1 << 16;
  RegExp re = Make(u"(a|aa)*(b|c)*$", false, false, true);
  re.SetLimits(limits);
  std::optional<MatchCollection> matches = re.Execute(std::u16string(64, u'a') + u"x");
  ASSERT_TRUE(matches);
  EXPECT_TRUE(matches->Truncated());
}

// The failure memo may only skip work: a pattern with line-scan points gives
// exactly the matches of the same pattern inside a group (which has none).
TEST(RegExpBoundsTest, FailureMemoChangesNoResult) {
  const std::u16string patterns[] = {u"<(.*?)/(.*?)>", u"a.*b.+?c", u"(.+?)x(.*)y",
                                     u"<.*?\"(?:.*?)\"", u"(.*?)b(?=c)(.+)$", u"^a(.*?)b"};
  const char16_t alphabet[] = u"ab<>/\"xyc\n";
  std::mt19937 random(12345);
  for (const std::u16string& pattern : patterns) {
    ASSERT_FALSE(regexp_internal::LineScanPoints(pattern).empty());
    for (bool multiline : {false, true}) {
      RegExp memo = Make(pattern, false, multiline, true);
      RegExp plain = Make(u"(?:" + pattern + u")", false, multiline, true);
      RegExp interpreted = Make(pattern, false, multiline, true, false);
      for (int round = 0; round < 300; ++round) {
        std::u16string subject(random() % 40, u'a');
        for (char16_t& c : subject) c = alphabet[random() % (sizeof alphabet / 2 - 1)];
        Found expected = Matches(*plain.Execute(subject));
        EXPECT_EQ(Matches(*memo.Execute(subject)), expected);
        EXPECT_EQ(Matches(*interpreted.Execute(subject)), expected);
      }
    }
  }
}

TEST(PatternShapeTest, FindsLineScanPoints) {
  using regexp_internal::LineScanPoints;
  EXPECT_THAT(LineScanPoints(u"<a href=\"(.*?)\" title=\"(.*?)\">"), ElementsAre(9, 23));
  EXPECT_THAT(LineScanPoints(kResultPattern), ElementsAre(59, 74));
  EXPECT_THAT(LineScanPoints(u"a.*b.+c(?:.*?)d"), ElementsAre(1, 4, 7));
  EXPECT_THAT(LineScanPoints(u"[(.*]x\\(.*"), ElementsAre(8));
  for (std::u16string none : {u"a(.*?)|b", u"(a)(.*?)\\1", u"a.*+b", u"a.*?{2}", u"(.*?)?",
                              u"(?i)a.*", u"(?:a.*b)", u"a(?=.*b)", u"(*LF)a.*", u"a\\Q.*",
                              u"a(?C1).*", u"\\Ga.*", u"a(.*b)", u"(?R).*"}) {
    EXPECT_THAT(LineScanPoints(none), ElementsAre()) << std::string(none.begin(), none.end());
  }
}

// --- Automation shape ------------------------------------------------------------

TEST(VariantTest, ConvertsAsTheLateBoundLayer) {
  EXPECT_EQ(Variant().ToString(), u"");
  EXPECT_EQ(Variant(true).ToString(), u"-1");
  EXPECT_EQ(Variant(false).ToString(), u"0");
  EXPECT_EQ(Variant(std::int32_t{-12}).ToString(), u"-12");
  EXPECT_EQ(Variant(0.5).ToString(), u"0.5");
  EXPECT_EQ(Variant(std::vector<std::uint8_t>{'a', 0, 'b', 0, 'c'}).ToString(), u"ab");
  EXPECT_FALSE(Variant(NewRegExpObject()).ToString().has_value());
  EXPECT_EQ(Variant(u"A\u4e2d").ToBytes(), (std::vector<std::uint8_t>{0x41, 0, 0x2D, 0x4E}));
  EXPECT_EQ(Variant(false).ToBytes(), (std::vector<std::uint8_t>{'0', 0}));
  EXPECT_EQ(Variant(u" 2.5").ToDouble(), 2.5);
  EXPECT_FALSE(Variant(u"2x").ToDouble().has_value());
  EXPECT_FALSE(Variant(u"nan").ToDouble().has_value());
  EXPECT_EQ(Variant(u"true").ToBool(), true);
  EXPECT_EQ(Variant(0.0).ToBool(), false);
  EXPECT_EQ(Variant(DispatchPtr()).Type(), VT_EMPTY);
  EXPECT_EQ(Variant(std::vector<std::uint8_t>{}).Type(), VT_ARRAY | VT_UI1);
}

TEST(ComTest, CoInitializeCountsPerThread) {
  ASSERT_EQ(CoInitializeCount(), 0);
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
  EXPECT_EQ(CoInitializeCount(), 2);
  std::thread other([] {
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    CoUninitialize();
  });
  other.join();
  CoUninitialize();
  CoUninitialize();
  CoUninitialize();  // one too many: stays at zero
  EXPECT_EQ(CoInitializeCount(), 0);
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  CoUninitialize();
}

TEST(ComTest, CreatesRegisteredObjectsOnly) {
  EXPECT_NE(CreateObject(u"VBScript.RegExp"), nullptr);
  EXPECT_NE(CreateObject(u"vbscript.regexp"), nullptr);
  EXPECT_EQ(CreateObject(u"VBScript.RegExp2"), nullptr);
  EXPECT_EQ(CreateObject(u""), nullptr);
  EXPECT_FALSE(RegisterProgId(u"", [] { return CreateObject(u"VBScript.RegExp"); }));
  EXPECT_FALSE(RegisterProgId(u"Test.Object", nullptr));
  ASSERT_TRUE(RegisterProgId(u"Test.Object", [] { return CreateObject(u"VBScript.RegExp"); }));
  EXPECT_NE(CreateObject(u"Test.Object"), nullptr);
  EXPECT_TRUE(UnregisterProgId(u"Test.Object"));
  EXPECT_FALSE(UnregisterProgId(u"Test.Object"));
  EXPECT_EQ(CreateObject(u"Test.Object"), nullptr);
}

TEST(ComTest, AMissingComponentCanBeSimulated) {
  ASSERT_TRUE(UnregisterProgId(u"VBScript.RegExp"));
  EXPECT_EQ(CreateObject(u"VBScript.RegExp"), nullptr);
  ASSERT_TRUE(RegisterProgId(u"VBScript.RegExp", NewRegExpObject));
  EXPECT_NE(CreateObject(u"VBScript.RegExp"), nullptr);
}

DispatchPtr NewRegExp() {
  DispatchPtr re = CreateObject(u"VBScript.RegExp");
  EXPECT_NE(re, nullptr);
  return re;
}

std::vector<std::uint8_t> Utf16WithTerminator(std::u16string_view text) {
  std::vector<std::uint8_t> bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

TEST(DispatchTest, PropertiesAreKeptAndReadBack) {
  DispatchPtr re = NewRegExp();
  EXPECT_EQ(GetProperty(re, u"Pattern"), Variant(u""));
  EXPECT_EQ(GetProperty(re, u"IgnoreCase"), Variant(false));
  EXPECT_TRUE(PutProperty(re, u"Pattern", Variant(u"a(b)")));
  EXPECT_TRUE(PutProperty(re, u"IgnoreCase", Variant(true)));
  EXPECT_TRUE(PutProperty(re, u"multiline", Variant(true)));
  EXPECT_TRUE(PutProperty(re, u"GLOBAL", Variant(std::int32_t{-1})));
  EXPECT_EQ(GetProperty(re, u"Pattern"), Variant(u"a(b)"));
  EXPECT_EQ(GetProperty(re, u"IgnoreCase"), Variant(true));
  EXPECT_EQ(GetProperty(re, u"Multiline"), Variant(true));
  EXPECT_EQ(GetProperty(re, u"Global"), Variant(true));
  EXPECT_FALSE(PutProperty(re, u"Global", Variant(DispatchPtr(NewRegExp()))));
  EXPECT_EQ(GetProperty(re, u"Global"), Variant(true));
}

TEST(DispatchTest, SinglelineIsNoMember) {
  DispatchPtr re = NewRegExp();
  PutProperty(re, u"Pattern", Variant(u"a.b"));
  Variant value(true);
  EXPECT_EQ(Invoke(re, u"Singleline", CallKind::kPropertyPut, std::span<Variant>(&value, 1),
                   nullptr),
            DISP_E_UNKNOWNNAME);
  Variant result(std::int32_t{7});
  EXPECT_EQ(Invoke(re, u"Singleline", CallKind::kPropertyGet, {}, &result), DISP_E_UNKNOWNNAME);
  EXPECT_TRUE(result.IsEmpty());
  // The dot still stops at a line feed.
  Variant matches = CallMethod(re, u"Execute", {Variant(u"a\nb")});
  EXPECT_EQ(GetProperty(matches.Object(), u"Count"), Variant(std::int32_t{0}));
}

TEST(DispatchTest, ExecuteGivesMatchesAndGroupsByName) {
  DispatchPtr re = NewRegExp();
  PutProperty(re, u"Pattern", Variant(u"(\\d+)(x)?"));
  PutProperty(re, u"Global", Variant(true));
  Variant matches = CallMethod(re, u"Execute", {Variant(u"a12x b3")});
  ASSERT_EQ(matches.Type(), VT_DISPATCH);
  DispatchPtr collection = matches.Object();
  EXPECT_EQ(GetProperty(collection, u"Count"), Variant(std::int32_t{2}));

  DispatchPtr second = GetProperty(collection, u"Item", {Variant(1.9)}).Object();
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(GetProperty(second, u"Value"), Variant(u"3"));
  EXPECT_EQ(GetProperty(second, u"FirstIndex"), Variant(std::int32_t{6}));
  EXPECT_EQ(GetProperty(second, u"Length"), Variant(std::int32_t{1}));
  DispatchPtr groups = GetProperty(second, u"SubMatches").Object();
  EXPECT_EQ(GetProperty(groups, u"Count"), Variant(std::int32_t{2}));
  EXPECT_EQ(GetProperty(groups, u"Item", {Variant(std::int32_t{0})}), Variant(u"3"));
  EXPECT_EQ(GetProperty(groups, u"Item", {Variant(1.0)}), Variant(u""));  // took no part
  EXPECT_TRUE(GetProperty(groups, u"Item", {Variant(2.0)}).IsEmpty());

  DispatchPtr first = GetProperty(collection, u"Item", {Variant(-0.5)}).Object();
  EXPECT_EQ(GetProperty(first, u"Value"), Variant(u"12x"));
  Variant result;
  Variant beyond(2.0);
  EXPECT_EQ(Invoke(collection, u"Item", CallKind::kPropertyGet, std::span<Variant>(&beyond, 1),
                   &result),
            DISP_E_BADINDEX);
  EXPECT_TRUE(GetProperty(collection, u"Item", {Variant(-1.0)}).IsEmpty());
  EXPECT_TRUE(GetProperty(collection, u"Item", {Variant(u"x")}).IsEmpty());
  EXPECT_TRUE(GetProperty(collection, u"Item").IsEmpty());
}

TEST(DispatchTest, ExecuteWithoutGlobalGivesTheFirstMatchOnly) {
  DispatchPtr re = NewRegExp();
  PutProperty(re, u"Pattern", Variant(u"a"));
  Variant matches = CallMethod(re, u"Execute", {Variant(u"aaa")});
  EXPECT_EQ(GetProperty(matches.Object(), u"Count"), Variant(std::int32_t{1}));
}

TEST(DispatchTest, ByteArraySubjectIsItsUnitsWithTheZeroUnit) {
  DispatchPtr re = NewRegExp();
  PutProperty(re, u"Pattern", Variant(u"."));
  PutProperty(re, u"Global", Variant(true));
  Variant subject(Utf16WithTerminator(u"\u4e2db"));
  Variant matches = CallMethod(re, u"Execute", std::span<Variant>(&subject, 1));
  EXPECT_EQ(GetProperty(matches.Object(), u"Count"), Variant(std::int32_t{3}));
  DispatchPtr last = GetProperty(matches.Object(), u"Item", {Variant(2.0)}).Object();
  EXPECT_EQ(GetProperty(last, u"FirstIndex"), Variant(std::int32_t{2}));
  EXPECT_EQ(GetProperty(last, u"Value"), Variant(std::u16string(1, u'\0')));

  // $ without Multiline is after the zero unit, not before it.
  PutProperty(re, u"Pattern", Variant(u"b$"));
  matches = CallMethod(re, u"Execute", std::span<Variant>(&subject, 1));
  EXPECT_EQ(GetProperty(matches.Object(), u"Count"), Variant(std::int32_t{0}));

  // An odd last byte is dropped.
  PutProperty(re, u"Pattern", Variant(u"b"));
  Variant odd(std::vector<std::uint8_t>{'b', 0, 'b'});
  matches = CallMethod(re, u"Execute", std::span<Variant>(&odd, 1));
  EXPECT_EQ(GetProperty(matches.Object(), u"Count"), Variant(std::int32_t{1}));
}

TEST(DispatchTest, FailedCallsYieldEmpty) {
  DispatchPtr re = NewRegExp();
  Variant result(std::int32_t{1});
  EXPECT_EQ(Invoke(nullptr, u"Pattern", CallKind::kPropertyGet, {}, &result), E_POINTER);
  EXPECT_TRUE(result.IsEmpty());
  EXPECT_TRUE(GetProperty(nullptr, u"Count").IsEmpty());
  EXPECT_FALSE(PutProperty(nullptr, u"Pattern", Variant(u"a")));
  EXPECT_TRUE(GetProperty(re, u"NoSuchMember").IsEmpty());
  EXPECT_TRUE(CallMethod(re, u"Execute").IsEmpty());                      // no subject
  EXPECT_TRUE(CallMethod(re, u"Execute", {Variant(re)}).IsEmpty());       // not a string
  EXPECT_TRUE(GetProperty(re, u"Execute", {Variant(u"a")}).IsEmpty());    // not a property
  EXPECT_FALSE(PutProperty(re, u"Execute", Variant(u"a")));

  PutProperty(re, u"Pattern", Variant(u"a("));
  Variant subject(u"a(");
  EXPECT_EQ(Invoke(re, u"Execute", CallKind::kMethod, std::span<Variant>(&subject, 1), &result),
            VBSE_REGEXP_SYNTAX);
  EXPECT_TRUE(result.IsEmpty());
  EXPECT_TRUE(CallMethod(re, u"Replace", {Variant(u"a"), Variant(u"b")}).IsEmpty());
}

TEST(DispatchTest, ReplaceTakesSubjectAndReplacement) {
  DispatchPtr re = NewRegExp();
  PutProperty(re, u"Pattern", Variant(u"(o)"));
  EXPECT_EQ(CallMethod(re, u"Replace", {Variant(u"foo"), Variant(u"[$1]")}), Variant(u"f[o]o"));
  PutProperty(re, u"Global", Variant(true));
  std::vector<Variant> args = {Variant(Utf16WithTerminator(u"foo")), Variant(u"0")};
  EXPECT_EQ(CallMethod(re, u"Replace", std::span<Variant>(args)),
            Variant(std::u16string(u"f00\0", 4)));
}

}  // namespace
}  // namespace qelvaro::platform
