#include "platform/codepage/codepage.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace qelvaro::platform {
namespace {

// Units as space-separated upper-case hex, so a failing case reads clearly.
std::string Hex(std::u16string_view units) {
  std::string out;
  char buf[8];
  for (char16_t u : units) {
    std::snprintf(buf, sizeof buf, "%s%04X", out.empty() ? "" : " ", static_cast<unsigned>(u));
    out += buf;
  }
  return out;
}
std::string Hex(std::string_view bytes) {
  std::string out;
  char buf[8];
  for (char b : bytes) {
    std::snprintf(buf, sizeof buf, "%s%02X", out.empty() ? "" : " ",
                  static_cast<unsigned>(static_cast<unsigned char>(b)));
    out += buf;
  }
  return out;
}

// Size query, then conversion into exactly that size. The source is copied
// to a heap block of its exact length, so that the sanitizer builds catch any
// read past it.
std::u16string ToWide(UINT cp, std::string_view s) {
  const std::vector<char> src(s.begin(), s.end());
  const int len = static_cast<int>(src.size());
  int n = MultiByteToWideChar(cp, 0, src.data(), len, nullptr, 0);
  EXPECT_GT(n, 0);
  std::u16string out(static_cast<std::size_t>(n), u'\0');
  EXPECT_EQ(MultiByteToWideChar(cp, 0, src.data(), len, out.data(), n), n);
  return out;
}
std::string ToMulti(UINT cp, std::u16string_view s, BOOL* used = nullptr) {
  const std::vector<char16_t> src(s.begin(), s.end());
  const int len = static_cast<int>(src.size());
  int n = WideCharToMultiByte(cp, 0, src.data(), len, nullptr, 0);
  EXPECT_GT(n, 0);
  std::string out(static_cast<std::size_t>(n), '\0');
  EXPECT_EQ(WideCharToMultiByte(cp, 0, src.data(), len, out.data(), n, nullptr, used), n);
  return out;
}

struct ToWideCase {
  std::string_view in;
  const char* want;
};

TEST(MultiByteToWideChar, Utf8) {
  const ToWideCase cases[] = {
      {"ab", "0061 0062"},
      {"\xC3\xA9", "00E9"},
      {"\xE6\x88\x91", "6211"},
      {"\xF0\x9F\x98\x80", "D83D DE00"},                  // 4 bytes: a surrogate pair
      {"\xF4\x8F\xBF\xBF", "DBFF DFFF"},                  // U+10FFFF
      {"a\xE6\x88\x91z", "0061 6211 007A"},
      {"\x80", "FFFD"},                                   // stray continuation byte
      {"\xC0\xAF", "FFFD FFFD"},                          // overlong, 2 bytes
      {"\xE0\x80\xAF", "FFFD FFFD FFFD"},                 // overlong, 3 bytes
      {"\xF0\x8F\xBF\xBF", "FFFD FFFD FFFD FFFD"},        // overlong, 4 bytes
      {"\xED\xA0\x80", "FFFD FFFD FFFD"},                 // a surrogate in UTF-8
      {"\xF4\x90\x80\x80", "FFFD FFFD FFFD FFFD"},        // above U+10FFFF
      {"\xF5\x80", "FFFD FFFD"},
      {"\xFF\xFE", "FFFD FFFD"},
      {"\xE6\x88", "FFFD"},                               // truncated at the end
      {"\xE6\x88x", "FFFD 0078"},                         // one U+FFFD for the subpart
      {"\xF0\x9F\x98" "a", "FFFD 0061"},
      {"\xC2", "FFFD"},
      {"\xE6\xE6\x88\x91", "FFFD 6211"},                  // the breaking byte starts anew
      {std::string_view("a\0b", 3), "0061 0000 0062"},    // a counted zero is a unit
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Hex(ToWide(CP_UTF8, c.in)), c.want) << Hex(c.in);
  }
}

TEST(MultiByteToWideChar, Gbk) {
  const ToWideCase cases[] = {
      {"ab", "0061 0062"},
      {"\xCE\xD2", "6211"},
      {"a\xCE\xD2z", "0061 6211 007A"},
      {"\x80", "20AC"},                          // the euro sign, as on Windows
      {"\x95\x5C", "661E"},                      // trail byte "\"
      {"\x81\x7C", "4E85"},                      // trail byte "|"
      {"\x81\x20", "FFFD 0020"},                 // no trail: only the lead is consumed
      {"\x81\x7F", "FFFD 007F"},
      {"\x81\xFF", "FFFD FFFD"},
      {"\xCE", "FFFD"},                          // lead byte at the very end
      {"a\xCE", "0061 FFFD"},
      {"\xFF", "FFFD"},
      {"\xFF\xCE\xD2", "FFFD 6211"},
      {"\xA1\x40", "FFFD"},                      // well-formed but unmapped: one U+FFFD
      {"\xA1\x40\xCE\xD2", "FFFD 6211"},
      {"\x80\x81\x41", "20AC 4E04"},             // 0x80 is a single byte
      {std::string_view("\xCE\0", 2), "FFFD 0000"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Hex(ToWide(CP_GBK, c.in)), c.want) << Hex(c.in);
    EXPECT_EQ(ToWide(CP_ACP, c.in), ToWide(CP_GBK, c.in)) << Hex(c.in);
  }
}

struct ToMultiCase {
  std::u16string_view in;
  const char* want;
  bool replaced;
};

TEST(WideCharToMultiByte, Utf8) {
  const ToMultiCase cases[] = {
      {u"ab", "61 62", false},
      {u"\u00E9", "C3 A9", false},
      {u"\u6211", "E6 88 91", false},
      {u"\xD83D\xDE00", "F0 9F 98 80", false},
      {u"\xD800", "EF BF BD", true},                       // lone high surrogate at the end
      {u"\xDC00" u"a", "EF BF BD 61", true},               // lone low surrogate
      {u"\xD800\xD800\xDC00", "EF BF BD F0 90 80 80", true},
      {std::u16string_view(u"a\0b", 3), "61 00 62", false},
  };
  for (const auto& c : cases) {
    BOOL used = -1;
    EXPECT_EQ(Hex(ToMulti(CP_UTF8, c.in, &used)), c.want) << Hex(c.in);
    EXPECT_EQ(used, c.replaced ? 1 : 0) << Hex(c.in);
  }
}

TEST(WideCharToMultiByte, Gbk) {
  const ToMultiCase cases[] = {
      {u"ab", "61 62", false},
      {u"\u6211", "CE D2", false},
      {u"\u20AC", "80", false},
      {u"\u661E\u4E85", "95 5C 81 7C", false},
      {u"\u00E9", "A8 A6", false},
      {u"\xD83D\xDE00", "3F", true},                    // one "?" for the pair
      {u"\xD800", "3F", true},
      {u"a\xD800", "61 3F", true},
      {u"\xDC00" u"a", "3F 61", true},
      {u"\u6211\xD800\u6211", "CE D2 3F CE D2", true},
      {u"\u0080\uFFFD", "3F 3F", true},                 // unmapped
      {u"\u6211\uFFFD\u6211", "CE D2 3F CE D2", true},
  };
  for (const auto& c : cases) {
    BOOL used = -1;
    EXPECT_EQ(Hex(ToMulti(CP_GBK, c.in, &used)), c.want) << Hex(c.in);
    EXPECT_EQ(used, c.replaced ? 1 : 0) << Hex(c.in);
    EXPECT_EQ(ToMulti(CP_ACP, c.in), ToMulti(CP_GBK, c.in)) << Hex(c.in);
  }
}

TEST(CodePage, MinusOneLengthIncludesTheZero) {
  char16_t wide[8] = {};
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "ab", -1, nullptr, 0), 3);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "ab", -1, wide, 8), 3);
  EXPECT_EQ(Hex(std::u16string_view(wide, 3)), "0061 0062 0000");
  EXPECT_EQ(MultiByteToWideChar(CP_GBK, 0, "\xCE\xD2", -1, wide, 8), 2);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "", -1, wide, 8), 1);

  char multi[8] = {};
  EXPECT_EQ(WideCharToMultiByte(CP_GBK, 0, u"\u6211", -1, nullptr, 0), 3);
  EXPECT_EQ(WideCharToMultiByte(CP_GBK, 0, u"\u6211", -1, multi, 8), 3);
  EXPECT_EQ(Hex(std::string_view(multi, 3)), "CE D2 00");
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u6211", -1, multi, 8), 4);
}

TEST(CodePage, SizeQueryLeavesTheBufferAlone) {
  char16_t wide[4] = {u'x', u'x', u'x', u'x'};
  EXPECT_EQ(MultiByteToWideChar(CP_GBK, 0, "a\xCE\xD2", 3, wide, 0), 2);
  EXPECT_EQ(Hex(std::u16string_view(wide, 4)), "0078 0078 0078 0078");
  char multi[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u6211", 1, multi, 0), 3);
  EXPECT_EQ(std::string_view(multi, 4), "xxxx");
}

TEST(CodePage, TooSmallBufferFailsWithoutWritingPastIt) {
  for (UINT cp : {CP_GBK, CP_UTF8}) {
    char16_t wide[4] = {u'x', u'x', u'x', u'x'};
    EXPECT_EQ(MultiByteToWideChar(cp, 0, "abc", 3, wide, 2), 0) << cp;
    EXPECT_EQ(wide[2], u'x') << cp;
    EXPECT_EQ(MultiByteToWideChar(cp, 0, "abc", 3, wide, 3), 3) << cp;
    EXPECT_EQ(wide[3], u'x') << cp;

    char multi[8] = {'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x'};
    EXPECT_EQ(WideCharToMultiByte(cp, 0, u"a\u6211", 2, multi, 2), 0) << cp;
    EXPECT_EQ(multi[2], 'x') << cp;
    EXPECT_EQ(WideCharToMultiByte(cp, 0, u"a\u6211\u6211", 3, multi, 4), 0) << cp;
    EXPECT_EQ(multi[4], 'x') << cp;
  }
  char16_t pair[2] = {u'x', u'x'};
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xF0\x9F\x98\x80", 4, pair, 1), 0);
  EXPECT_EQ(pair[1], u'x');
}

TEST(CodePage, BadParametersFail) {
  char16_t wide[4];
  char multi[4];
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "ab", 0, wide, 4), 0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "ab", -2, wide, 4), 0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, nullptr, 2, wide, 4), 0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "ab", 2, nullptr, 4), 0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "ab", 2, wide, -1), 0);
  EXPECT_EQ(MultiByteToWideChar(1252, 0, "ab", 2, wide, 4), 0);
  EXPECT_EQ(MultiByteToWideChar(CP_GBK, 8, "ab", 2, wide, 4), 0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"ab", 0, multi, 4), 0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, nullptr, 2, multi, 4), 0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"ab", 2, nullptr, 4), 0);
  EXPECT_EQ(WideCharToMultiByte(437, 0, u"ab", 2, multi, 4), 0);
  EXPECT_EQ(WideCharToMultiByte(CP_GBK, 0x400, u"ab", 2, multi, 4), 0);
  EXPECT_EQ(WideCharToMultiByte(CP_GBK, WC_COMPOSITECHECK, u"ab", 2, multi, 4), 2);
}

// Long runs cross the internal scratch area of the size query and the
// boundaries between ASCII and double-byte stretches; query and conversion
// must agree, and the two directions must round-trip.
TEST(CodePage, LongMixedInputRoundTrips) {
  std::string gbk;
  for (int i = 0; i < 20000; ++i) {
    gbk += (i % 7 == 0) ? "<a href=\"x\">" : "\xCE\xD2\x95\x5C";
    if (i % 1000 == 0) gbk += "\x80";
  }
  std::u16string wide = ToWide(CP_GBK, gbk);
  EXPECT_EQ(ToMulti(CP_GBK, wide), gbk);
  std::string utf8 = ToMulti(CP_UTF8, wide);
  EXPECT_EQ(ToWide(CP_UTF8, utf8), wide);
}

TEST(CodePage, ThreadsConvertIndependently) {
  std::vector<std::thread> threads;
  std::vector<int> ok(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &ok] {
      int good = 1;
      for (int i = 0; i < 200; ++i) {
        char16_t wide[4];
        char multi[8];
        int n = MultiByteToWideChar(CP_GBK, 0, "\xCE\xD2\xA1\x40", 4, wide, 4);
        int m = WideCharToMultiByte(CP_GBK, 0, u"\u6211\uFFFD", 2, multi, 8);
        good &= (n == 2 && wide[0] == 0x6211 && wide[1] == 0xFFFD && m == 3 &&
                 std::string_view(multi, 3) == "\xCE\xD2?");
      }
      ok[static_cast<std::size_t>(t)] = good;
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(ok, std::vector<int>(4, 1));
}

}  // namespace
}  // namespace qelvaro::platform
