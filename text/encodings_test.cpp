#include "text/encodings.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <random>
#include <string>
#include <string_view>

namespace qelvaro {
namespace {

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

struct TextCase {
  std::string_view in;
  std::string_view want;
};

TEST(UrlEncodeKeyword, Cases) {
  const TextCase cases[] = {
      {"", ""},
      {"ab 12", "ab 12"},                             // the space stays a space
      {"a+b", "a%2Bb"},
      {"50%", "50%25"},
      {"a-b_c.d~e", "a%2Db%5Fc%2Ed%7Ee"},
      {"\t\r\n", "%09%0D%0A"},
      {"\x01\x1F\x7F", "\x01\x1F\x7F"},               // other control bytes pass
      {"\xCE\xD2", "%E6%88%91"},
      {"\xCE\xD2x", "%E6%88%91x"},
      {"\xA8\xA6", "%C3%A9"},                         // upper-case hex digits
      {"\x80", "%E2%82%AC"},                          // the euro sign
      // Trail bytes in the ASCII range belong to their character.
      {"\x95\x5C", "%E6%98%9E"},                      // trail "\"
      {"a\x81\x7C|", "a%E4%BA%85%7C"},                // trail "|", then a real "|"
      {"\x95\x5C" "a", "%E6%98%9Ea"},
      // Half a character at the end is converted alone.
      {"a\xCE", "a%EF%BF%BD"},
      // A lead byte before a non-trail byte: the pair is converted together.
      {"\x81 x", "%EF%BF%BD%20x"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UrlEncodeKeyword(Text(c.in)).view(), c.want) << Hex(c.in);
  }
}

TEST(UrlEncodeKeyword, EscapesExactlyPunctuationTabCrLf) {
  int escaped = 0;
  for (int b = 1; b < 0x80; ++b) {
    const char c = static_cast<char>(b);
    const bool escape = std::ispunct(b) || c == '\t' || c == '\r' || c == '\n';
    char want[4];
    std::snprintf(want, sizeof want, "%%%02X", static_cast<unsigned>(b));
    EXPECT_EQ(UrlEncodeKeyword(Text(std::string_view(&c, 1))).view(),
              escape ? std::string_view(want) : std::string_view(&c, 1))
        << b;
    escaped += escape;
  }
  EXPECT_EQ(escaped, 35);
}

// Every mapped double-byte character survives the trip out and back, which
// also shows that no trail byte is ever taken for ASCII.
TEST(UrlEncodeKeyword, EveryCharacterRoundTripsThroughDecodePage) {
  int mapped = 0;
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) continue;
      const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
      const Text ch(std::string_view(pair, 2));
      if (AnsiToUtf16(ch).view() == std::string_view("\xFD\xFF\0\0", 4)) continue;  // unmapped
      ++mapped;
      const Text encoded = UrlEncodeKeyword(ch);
      ASSERT_EQ(encoded.view().find_first_not_of("%0123456789ABCDEF"), std::string::npos)
          << Hex(ch);
      ASSERT_EQ(DecodePage(encoded), ch) << Hex(ch);
    }
  }
  EXPECT_GT(mapped, 21000);
}

TEST(DecodePage, Cases) {
  const TextCase cases[] = {
      {"", ""},
      {"%E6%88%91", "\xCE\xD2"},
      {"%e6%88%91", "\xCE\xD2"},                 // either digit case
      {"\xE6\x88\x91", "\xCE\xD2"},              // raw UTF-8
      {"%E6\x88%91", "\xCE\xD2"},                // escaped and raw bytes side by side
      {"a%00b", "ab"},
      {"a%41b", "aAb"},
      {"a+b", "a+b"},
      {"%0a", "\n"},
      {"%2541", "%41"},                          // decoded once only
      // A "%" without two hex digits is an ordinary byte.
      {"100%", "100%"},
      {"%4", "%4"},
      {"%", "%"},
      {"50% off", "50% off"},
      {"%zz", "%zz"},
      {"%%41", "%A"},
      {"%4%41", "%4A"},
      {"\xE2\x82\xAC", "\x80"},                  // the euro sign
      // Malformed UTF-8 and characters 936 lacks become "?".
      {"\xFF", "?"},
      {"%FF", "?"},
      {"a\xE6\x88", "a?"},
      {"%C0%AF", "??"},
      {"\xF0\x9F\x98\x80!", "?!"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DecodePage(Text(c.in)).view(), c.want) << c.in;
  }
}

struct BytesCase {
  std::string_view in;
  const char* want;  // as hex
};

TEST(AnsiToUtf16, Cases) {
  const BytesCase cases[] = {
      {"ab", "61 00 62 00 00 00"},
      {"", "00 00"},
      {"\xCE\xD2", "11 62 00 00"},
      {"\x80", "AC 20 00 00"},
      {"\xCE", "FD FF 00 00"},
  };
  for (const auto& c : cases) EXPECT_EQ(Hex(AnsiToUtf16(Text(c.in)).view()), c.want) << Hex(c.in);
}

TEST(AnsiToUtf8, Cases) {
  const BytesCase cases[] = {
      {"ab", "61 62 00"},
      {"", "00"},
      {"\xCE\xD2", "E6 88 91 00"},
      {"\x95\x5C", "E6 98 9E 00"},
      {"\xFF", "EF BF BD 00"},
  };
  for (const auto& c : cases) EXPECT_EQ(Hex(AnsiToUtf8(Text(c.in)).view()), c.want) << Hex(c.in);
}

TEST(Utf8ToAnsi, Cases) {
  const TextCase cases[] = {
      {"ab", "ab"},
      {"", ""},
      {std::string_view("a\0b", 3), "a"},        // ends at the first zero byte
      {"\xE6\x88\x91", "\xCE\xD2"},
      {"\xC3\xA9", "\xA8\xA6"},
      {"\xF0\x9F\x98\x80", "?"},
      {"\xED\xA0\x80", "???"},
  };
  for (const auto& c : cases) EXPECT_EQ(Utf8ToAnsi(Bytes(c.in)).view(), c.want) << Hex(c.in);
}

TEST(Utf16ToAnsi, Cases) {
  const TextCase cases[] = {
      {std::string_view("a\0b\0\0\0", 6), "ab"},
      {std::string_view("a\0\0\0b\0", 6), "a"},   // stops at the first zero unit
      {std::string_view("a\0b\0", 4), "ab"},      // no zero unit: all units
      {std::string_view("a\0b", 3), "a"},         // an odd last byte is no unit
      {"a", ""},
      {"", ""},
      {"\x11\x62", "\xCE\xD2"},
      {"\xAC\x20", "\x80"},
      {std::string_view("\x00\xD8" "a\0", 4), "?a"},  // lone surrogate
      {"\x3D\xD8\x00\xDE", "?"},                      // a pair 936 lacks
  };
  for (const auto& c : cases) EXPECT_EQ(Utf16ToAnsi(Bytes(c.in)).view(), c.want) << Hex(c.in);
}

// Long pages are converted piecewise; the pieces must join as if the page
// were converted at once, whatever sequence a piece boundary falls into.
TEST(DecodePage, LongPagesConvertLikeShortOnes) {
  const std::string_view raw = "\xE6\x88\x91" "\xF0\x9F\x98\x80" "\xC3\xA9" "\xE6\x88";
  const std::string_view want = "\xCE\xD2" "?" "\xA8\xA6" "?";
  for (int shift = 0; shift < 4; ++shift) {
    std::string page(static_cast<std::size_t>(shift), 'a');
    std::string expected = page;
    while (page.size() < 70000) {
      page += raw;
      expected += want;
    }
    EXPECT_EQ(Utf8ToAnsi(Bytes(page)).view(), expected) << shift;
    page += "%41";
    expected += "A";
    EXPECT_EQ(DecodePage(Text(page)).view(), expected) << shift;
  }
  const std::string strays(50000, '\x80');  // continuation bytes only
  EXPECT_EQ(Utf8ToAnsi(Bytes(strays)).view(), std::string(50000, '?'));
}

// Arbitrary bytes: every routine returns, stays inside its input (checked by
// the sanitizer builds) and gives a result of bounded size.
TEST(Encodings, ArbitraryBytesGiveBoundedResults) {
  std::mt19937 rng(12345);
  std::string noise(1 << 20, '\0');
  for (char& c : noise) c = static_cast<char>(rng() % 255 + 1);  // no zero byte
  const Text text(noise);
  const Bytes bytes(noise);
  ASSERT_EQ(text.size(), static_cast<std::int32_t>(noise.size()));

  EXPECT_LE(DecodePage(text).size(), text.size());
  EXPECT_LE(Utf8ToAnsi(bytes).size(), bytes.size());
  EXPECT_LE(Utf16ToAnsi(bytes).size(), bytes.size());
  const Text encoded = UrlEncodeKeyword(text);
  EXPECT_LE(encoded.size(), 6 * text.size());
  EXPECT_EQ(AnsiToUtf8(text).view().back(), '\0');
}

}  // namespace
}  // namespace qelvaro
