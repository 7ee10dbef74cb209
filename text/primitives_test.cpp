#include "text/primitives.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text/gbk_literal.h"

namespace qelvaro {
namespace {

using ::testing::ElementsAreArray;

// Code page 936 characters whose trail byte looks like ASCII.
const char kBackslashTrail[] = "\x95\x5C";  // trail byte is '\'
const char kPipeTrail[] = "\x95\x7C";       // trail byte is '|'
const char kLetterTrail[] = "\xB0\x41";     // trail byte is 'A'

std::vector<std::string> Items(const TextArray& a) {
  std::vector<std::string> out;
  for (const Text& t : a) out.push_back(t.str());
  return out;
}

TEST(TextTypes, ConstructionStopsAtTheFirstZeroByte) {
  EXPECT_EQ(Text(std::string_view("ab\0cd", 5)).str(), "ab");
  EXPECT_EQ(Text(std::string("ab\0cd", 5)).str(), "ab");
  EXPECT_EQ(Text(static_cast<const char*>(nullptr)), Text());
  EXPECT_EQ(Text(std::string_view()), Text());
  EXPECT_EQ(Bytes(std::string_view("ab\0cd", 5)).size(), 5);
}

TEST(TextTypes, ComparisonIsUnsignedBytesWithPrefixFirst) {
  EXPECT_EQ(Text(), Text(""));
  EXPECT_LT(Text("ab"), Text("abc"));
  EXPECT_LT(Text("a"), Text("\xB0"));
  EXPECT_EQ(Bytes(), Bytes(std::string_view()));
  EXPECT_NE(Bytes(std::string_view("a\0", 2)), Bytes(std::string_view("a")));
}

TEST(Cutting, EdgesOfLeftRightMid) {
  struct Case {
    Text got;
    const char* want;
  } cases[] = {
      {TextMid("abc", 0, 2), ""},     {TextMid("abc", 2, 5), "bc"},
      {TextMid("abc", 4, 1), ""},     {TextMid("abc", 1, 0), ""},
      {TextMid("abc", 3, 1), "c"},    {TextMid("abc", 2, INT32_MAX), "bc"},
      {TextLeft("abc", 5), "abc"},    {TextLeft("abc", -1), ""},
      {TextRight("abc", 0), ""},      {TextRight("abc", 2), "bc"},
      {TextRight("abc", 9), "abc"},   {TextLeft("\xCE\xD2", 1), "\xCE"},
      {BlankText(3), "   "},          {BlankText(0), ""},
      {CharFromCode(65), "A"},        {CharFromCode(0), ""},
      {CharFromCode(0x1C4), "\xC4"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, Text(c.want));
}

TEST(Cutting, CharCodeIsSignedAndZeroOutOfRange) {
  EXPECT_EQ(CharCode("\xC4"), -60);
  EXPECT_EQ(CharCode("ab", 2), 'b');
  EXPECT_EQ(CharCode("ab", 0), 0);
  EXPECT_EQ(CharCode("ab", 3), 0);
  EXPECT_EQ(CharCode(""), 0);
}

TEST(FindText, PositionsAndStarts) {
  struct Case {
    const char* text;
    const char* needle;
    std::int32_t start;
    int ci;
    std::int32_t want;
  } cases[] = {
      {"abcabc", "bc", 1, 0, 2},
      {"abcabc", "bc", 3, 0, 5},
      {"abcabc", "bc", 0, 0, 2},
      {"abcabc", "bc", -7, 0, 2},
      {"abcabc", "bc", 7, 0, -1},
      {"abcabc", "bc", 6, 0, -1},
      {"abc", "", 1, 0, 1},
      {"abc", "", 3, 0, 1},
      {"abc", "", 4, 0, -1},
      {"", "", 1, 0, -1},
      {"", "a", 1, 0, -1},
      {"ab", "abc", 1, 0, -1},
      {"user-agent: x", "User-Agent:", 1, 1, 1},
      {"user-agent: x", "User-Agent:", 1, 0, -1},
      {"user-agent: x", "User-Agent:", 1, 2, -1},  // only exactly 1 ignores case
      {"xABC", "abc", 1, 1, 2},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FindText(c.text, c.needle, c.start, c.ci), c.want)
        << c.text << " / " << c.needle << " from " << c.start;
  }
}

TEST(FindText, NeverMatchesAtATrailByte) {
  // The bytes "A" and "\\" and "|" are trail bytes here, not characters.
  EXPECT_EQ(FindText(kLetterTrail, "A"), -1);
  EXPECT_EQ(FindText(ConcatText(kBackslashTrail, "\\"), "\\"), 3);
  EXPECT_EQ(FindText(ConcatText(kPipeTrail, "x|"), "|"), 4);
  EXPECT_EQ(FindText("\xB0\xB0\xB0", "\xB0\xB0"), 1);
  EXPECT_EQ(FindText("a\xB0\xB0\xB0", "\xB0\xB0", 3), 3);  // the walk begins at the start
  EXPECT_EQ(FindText("\xB0\xB0" "a\xB0", "\xB0" "a"), -1);
  EXPECT_EQ(FindText("a\xB0", "\xB0"), 2);  // a dangling lead byte is still a candidate
  // Case-insensitive: the trail byte 'A' is still not a character start.
  EXPECT_EQ(FindText(kLetterTrail, "a", 1, 1), -1);
}

TEST(FindText, StaysLinearWhenNearMatchesSitOnTrailBytes) {
  // Every odd byte is a trail byte equal to the needle's first byte; every
  // occurrence of the long needle begins on a trail byte.
  std::string hay;
  for (int i = 0; i < 200000; ++i) hay += "\xB0" "A";
  std::string needle = "A";
  for (int i = 0; i < 50000; ++i) needle += "\xB0" "A";
  EXPECT_EQ(FindText(Text(hay), Text(needle)), -1);
  EXPECT_EQ(FindTextReverse(Text(hay), Text(needle)), -1);
  EXPECT_EQ(ArraySize(SplitText(Text(hay), Text(needle))), 1);
  EXPECT_EQ(ReplaceText(Text(hay), Text(needle), "x"), Text(hay));
}

TEST(FindTextReverse, WindowsAndEdges) {
  struct Case {
    const char* text;
    const char* needle;
    std::optional<std::int32_t> start;
    std::int32_t want;
  } cases[] = {
      {"abcabc", "bc", std::nullopt, 5},
      {"abcabc", "bc", 6, 2},
      {"abcabc", "bc", 7, 5},
      {"abcabc", "bc", 1, -1},
      {"abcabc", "bc", 0, -1},
      {"abcabc", "bc", -3, -1},
      {"abcabc", "bc", 100, 5},
      {"abc", "", std::nullopt, 1},
      {"abc", "", 1, -1},
      {"", "", std::nullopt, -1},
      {"aaaa", "aa", std::nullopt, 3},
      {"a.b.c.", ".", 6, 4},
      {"\xB0\x41" "A", "A", std::nullopt, 3},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FindTextReverse(c.text, c.needle, c.start), c.want) << c.text << " / " << c.needle;
  }
  EXPECT_EQ(FindTextReverse("xABCabc", "abc", std::nullopt, 1), 5);
  EXPECT_EQ(FindTextReverse("xABCab", "abc", std::nullopt, 1), 2);
}

TEST(CaseChanges, OnlyAsciiLettersAtCharacterStarts) {
  EXPECT_EQ(ToUpper(ConcatText("ab", kLetterTrail, "\xB0" "a", "z")),
            ConcatText("AB", kLetterTrail, "\xB0" "a", "Z"));
  EXPECT_EQ(ToLower(ConcatText("AB", kLetterTrail, "Z")), ConcatText("ab", kLetterTrail, "z"));
  EXPECT_EQ(ToUpper("a\xB0"), Text("A\xB0"));  // a dangling lead byte stays
  EXPECT_EQ(ToLower(""), Text());
}

TEST(TrimBoth, SpacesAndFullWidthSpaces) {
  struct Case {
    const char* in;
    const char* want;
  } cases[] = {
      {"  a b  ", "a b"},
      {"\ta\r\n", "\ta\r\n"},
      {"\xA1\xA1" "a\xA1\xA1", "a"},
      {" \xA1\xA1 a \xA1\xA1 ", "a"},
      {"    ", ""},
      {"", ""},
      {"a \xB0", "a "},  // a dangling lead byte is cut instead; the space stays
      {"\xB0\xA1\xA1", "\xB0\xA1"},  // A1 is first a trail byte, then a dangling lead
      {"a\xA1\xA1\xA1", "a\xA1\xA1"},  // the last A1 dangles
  };
  for (const Case& c : cases) EXPECT_EQ(TrimBoth(c.in), Text(c.want)) << c.in;
}

TEST(RemoveSpaces, EverySpaceAndDanglingLeadByte) {
  EXPECT_EQ(RemoveSpaces(" a b "), Text("ab"));
  EXPECT_EQ(RemoveSpaces("s=p q"), Text("s=pq"));
  EXPECT_EQ(RemoveSpaces("a\xA1\xA1" "b"), Text("ab"));
  EXPECT_EQ(RemoveSpaces("\xB0\xA1\xA1" "b"), Text("\xB0\xA1\xA1" "b"));  // no A1 A1 at a start
  EXPECT_EQ(RemoveSpaces("ab\xB0"), Text("ab"));
  EXPECT_EQ(RemoveSpaces("\xB0 "), Text("\xB0 "));  // the space is the trail byte
}

TEST(ReplaceText, CasesAndLimits) {
  struct Case {
    Text got;
    Text want;
  } cases[] = {
      {ReplaceText(ConcatText("a", "#引号"_gbk, "b"), "#引号"_gbk, "\""), "a\"b"},
      {ReplaceText("", "a", "b"), ""},
      {ReplaceText("abc", "", "x"), "abc"},
      {ReplaceText("a.a.a", ".", "--"), "a--a--a"},
      {ReplaceText("a.a.a", "."), "aaa"},
      {ReplaceText("a.a.a", ".", "-", 3), "a.a-a"},
      {ReplaceText("a.a.a", ".", "-", 0), "a-a-a"},
      {ReplaceText("a.a.a", ".", "-", 6), "a.a.a"},
      {ReplaceText("a.a.a", ".", "-", 1, 1), "a-a.a"},
      {ReplaceText("a.a.a", ".", "-", 1, 0), "a.a.a"},
      {ReplaceText("a.a.a", ".", "-", 1, -1), "a-a-a"},
      {ReplaceText("aXax", "x", "y", 1, std::nullopt, false), "ayay"},
      {ReplaceText("aXax", "x", "y", 1, std::nullopt, true), "aXay"},
      {ReplaceText("aaa", "aa", "b"), "ba"},
      // Trail bytes are never replaced; the bytes after a match start a new walk.
      {ReplaceText(ConcatText(kBackslashTrail, "\\"), "\\", "/"), ConcatText(kBackslashTrail, "/")},
      {ReplaceText(ConcatText(kLetterTrail, "a"), "a", "b", 1, std::nullopt, false),
       ConcatText(kLetterTrail, "b")},
      {ReplaceText("\xB0\xB0\xB0", "\xB0", "x"), "xxx"},
      {ReplaceText("\xB0\xB0" "a", "\xB0" "a", "x"), "\xB0\xB0" "a"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want) << c.want.str();
}

TEST(SplitText, PiecesAndLimits) {
  struct Case {
    TextArray got;
    std::vector<std::string> want;
  } cases[] = {
      {SplitText("a\r\nb\r\n", "\r\n"), {"a", "b"}},
      {SplitText("", "\r\n"), {}},
      {SplitText("a;;b", ";"), {"a", "", "b"}},
      {SplitText(";a", ";"), {"", "a"}},
      {SplitText("a;b;", ";"), {"a", "b"}},
      {SplitText(";", ";"), {""}},
      {SplitText("abc", ";"), {"abc"}},
      {SplitText("a,b"), {"a", "b"}},
      {SplitText("a;b", ""), {"a;b"}},
      {SplitText("a;b;c", ";", 2), {"a", "b"}},
      {SplitText("a;b;c", ";", 0), {}},
      {SplitText("a;b;c", ";", -1), {}},
      {SplitText("a;b", ";", 5), {"a", "b"}},
      // A delimiter that is a trail byte does not split; a dangling lead byte
      // ends the scan and stays in the last piece.
      {SplitText(ConcatText("x", kPipeTrail, "|y"), "|"), {std::string("x") + kPipeTrail, "y"}},
      {SplitText("a|\xB0", "|"), {"a", "\xB0"}},
      {SplitText("a\xB0|b", "|"), {"a\xB0|b"}},
  };
  for (const Case& c : cases) EXPECT_THAT(Items(c.got), ElementsAreArray(c.want));
}

TEST(TextBetween, MarkersAndQuotes) {
  EXPECT_EQ(TextBetween("<name>abc</name>", "<name>", "</name>"), Text("abc"));
  EXPECT_EQ(TextBetween("<name>abc", "<name>", "</name>"), Text());
  EXPECT_EQ(TextBetween("abc</name>", "<name>", "</name>"), Text());
  EXPECT_EQ(TextBetween("<name></name>", "<name>", "</name>"), Text());
  EXPECT_EQ(TextBetween("<a>1</a><a>2</a>", "<a>", "</a>"), Text("1"));
  EXPECT_EQ(TextBetween("x=\"v\";", ConcatText("x=", "#引号"_gbk), "#引号"_gbk), Text("v"));
  EXPECT_EQ(TextBetween("<A>b</A>", "<a>", "</a>", 1, true), Text("b"));
  EXPECT_EQ(TextBetween("<A>b</A>", "<a>", "</a>"), Text());
  // The right marker is searched after the left one.
  EXPECT_EQ(TextBetween("</b><b>x</b>", "<b>", "</b>"), Text("x"));
  EXPECT_EQ(TextBetween("<b>1</b><b>2</b>", "<b>", "</b>", 2), Text("2"));
}

TEST(TextToInt, DigitsSignsAndFullWidth) {
  struct Case {
    Text in;
    std::int32_t want;
  } cases[] = {
      {"", 0},
      {"abc", 0},
      {"42", 42},
      {" \t\r\n-12x", -12},
      {"+7", 7},
      {"- 7", 0},
      {"８０"_gbk, 80},
      {"－５"_gbk, -5},
      {"　１２"_gbk, 12},
      {"99999999999", INT32_MAX},
      {"-99999999999", INT32_MIN},
      {"-2147483648", INT32_MIN},
      {"12\xB0\x31", 12},
      {"\xB0\x31", 0},
      {"\xA3", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(TextToInt(c.in), c.want) << c.in.str();
}

TEST(Converting, HexBytesAndIntegers) {
  EXPECT_EQ(ToHexText(10), Text("A"));
  EXPECT_EQ(ToHexText(255), Text("FF"));
  EXPECT_EQ(ToHexText(0), Text("0"));
  EXPECT_EQ(ToHexText(-60), Text("FFFFFFC4"));
  EXPECT_EQ(TextToBytes("ab"), Bytes(std::string_view("ab")));
  EXPECT_EQ(TextToBytes(""), Bytes());
  EXPECT_EQ(BytesToText(Bytes(std::string_view("ab\0c", 4))), Text("ab"));
  EXPECT_EQ(BytesToInt(Bytes(std::string_view("\x7f"))), 127);
  EXPECT_EQ(BytesToInt(Bytes(std::string_view("\x01\x02\x03\x04\x05"))), 0x04030201);
  EXPECT_EQ(BytesToInt(Bytes(std::string_view("\xff\xff\xff\xff"))), -1);
  EXPECT_EQ(BytesToInt(Bytes()), 0);
  EXPECT_EQ(BitOr(0x80000000, 0x10), static_cast<std::int32_t>(0x80000010));
  EXPECT_EQ(ToText("x"), Text("x"));
}

TEST(Concatenation, TextsAndBytes) {
  EXPECT_EQ(ConcatText("", ""), Text());
  EXPECT_EQ(ConcatText("a", Text(), "b"), Text("ab"));
  EXPECT_EQ(ConcatText(std::string("a\0b", 3), "c"), Text("a"));  // never a zero byte
  EXPECT_EQ(ConcatBytes(Bytes(std::string_view("a\0", 2)), Bytes(), Bytes(std::string_view("b"))),
            Bytes(std::string_view("a\0b", 3)));
}

TEST(ByteStrings, CuttingAndSearching) {
  const Bytes b(std::string_view("ab\0ab", 5));
  EXPECT_EQ(BytesLength(b), 5);
  EXPECT_EQ(BytesLeft(b, 3), Bytes(std::string_view("ab\0", 3)));
  EXPECT_EQ(BytesLeft(b, 0), Bytes());
  EXPECT_EQ(BytesRight(b, 2), Bytes(std::string_view("ab")));
  EXPECT_EQ(BytesRight(b, 9), b);
  EXPECT_EQ(BlankBytes(2), Bytes(std::string_view("\0\0", 2)));
  EXPECT_EQ(BlankBytes(-2), Bytes());
  EXPECT_EQ(FindBytes(b, Bytes(std::string_view("\0a", 2))), 3);
  EXPECT_EQ(FindBytes(b, Bytes(std::string_view("ab")), 2), 4);
  EXPECT_EQ(FindBytes(b, Bytes(std::string_view("ab")), -5), 1);
  EXPECT_EQ(FindBytes(b, Bytes(std::string_view("ab")), 5), -1);
  EXPECT_EQ(FindBytes(b, Bytes()), -1);
  EXPECT_EQ(FindBytes(Bytes(), Bytes(std::string_view("a"))), -1);
}

TEST(ElementAccess, InRange) {
  const TextArray a = SplitText("x,y");
  EXPECT_EQ(ArraySize(a), 2);
  EXPECT_EQ(Element(a, 1), Text("x"));
  EXPECT_EQ(Element(a, 2), Text("y"));
  EXPECT_EQ(Element(Bytes(std::string_view("\x7f\xff")), 2), 0xFF);
}

// The fatal report is written to standard error in UTF-8 until a window
// exists; the process ends with status 255.
std::string ReportFor(const char* codeLine, const char* message) {
  return std::string("运行时出错!\r\n\r\n") + codeLine + "错误信息：" + message + "\r\n";
}

TEST(ElementAccessDeathTest, IndexBelowOneIsCodeFour) {
  const TextArray a = SplitText("x,y");
  EXPECT_EXIT(Element(a, 0), ::testing::ExitedWithCode(255),
              ::testing::HasSubstr(ReportFor("错误代码：4\r\n\r\n", "数组成员引用下标必须大于等于1")));
  EXPECT_EXIT(Element(TextArray(), -1), ::testing::ExitedWithCode(255),
              ::testing::HasSubstr("错误代码：4\r\n"));
}

TEST(ElementAccessDeathTest, IndexAboveCountIsCodeOne) {
  const TextArray a = SplitText("x,y");
  EXPECT_EXIT(Element(a, 3), ::testing::ExitedWithCode(255),
              ::testing::HasSubstr(ReportFor("错误代码：1\r\n\r\n", "数组成员引用下标超出定义范围")));
  EXPECT_EXIT(Element(TextArray(), 1), ::testing::ExitedWithCode(255),
              ::testing::HasSubstr("错误代码：1\r\n"));
  EXPECT_EXIT(Element(Bytes(), 1), ::testing::ExitedWithCode(255),
              ::testing::HasSubstr("错误代码：1\r\n"));
}

}  // namespace
}  // namespace qelvaro
