#include "web/cookies.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text/primitives.h"

namespace qelvaro {
namespace {

TEST(MergeCookies, Table) {
  struct Case {
    const char* cookies;
    const char* received;
    const char* cookiesAfter;
    const char* receivedAfter;
  } cases[] = {
      {"a=1; b=2", "b=3; c=4", "b=3; c=4; a=1", "b=3;c=4"},
      {"", "a=1; b=2", "a=1; b=2", "a=1;b=2"},
      {"a=1; b=2", "", "a=1; b=2", ""},
      {"a=1; b=2", "a=deleted", "b=2", "a=deleted"},
      {"a=1", "a=deleted", "", "a=deleted"},
      {"a=1;a=2", "", "a=1", ""},
      {"x=1", "a=1; a=2", "a=1; a=2; x=1", "a=1;a=2"},
      {"", "a=1; a=1", "a=1", "a=1;a=1"},
      {"s=p q", "", "s=pq", ""},
      {"a=1; b=2", "b=3", "b=3; a=1", "b=3"},
      // An empty entry stays an empty item between separators.
      {"b=2;;c=3", "", "b=2; ; c=3", ""},
      {"", "b=2;;c=3", "b=2; ; c=3", "b=2;;c=3"},
      // An entry without "=" is all name.
      {"flag", "flag=1", "flag=1", "flag=1"},
      // Full-width spaces go as well; names compare exactly.
      {"A=1\xA1\xA1", "a=2", "a=2; A=1", "a=2"},
      {"", "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.cookies) + " | " + c.received);
    Text cookies = c.cookies;
    Text received = c.received;
    const Text result = MergeCookies(cookies, received);
    EXPECT_EQ(result, Text(c.cookiesAfter));
    EXPECT_EQ(cookies, Text(c.cookiesAfter));
    EXPECT_EQ(received, Text(c.receivedAfter));
  }
}

TEST(CookieLists, NamesPresenceIndexAndDistinctJoin) {
  EXPECT_EQ(CookieName(" sid =x=y"), Text("sid"));
  EXPECT_EQ(CookieName("flag"), Text("flag"));
  EXPECT_EQ(CookieName("=x"), Text(""));
  EXPECT_EQ(CookieName(""), Text(""));

  const TextArray list = SplitText("a=1;b=2;;c", ";");
  EXPECT_TRUE(CookieNamePresent(list, "b"));
  EXPECT_TRUE(CookieNamePresent(list, ""));
  EXPECT_TRUE(CookieNamePresent(list, "c"));
  EXPECT_FALSE(CookieNamePresent(list, "B"));
  EXPECT_FALSE(CookieNamePresent(TextArray(), ""));

  EXPECT_EQ(IndexOfText(SplitText("a,b,a"), "a"), 1);
  EXPECT_EQ(IndexOfText(SplitText("a,b,a"), "b"), 2);
  EXPECT_EQ(IndexOfText(SplitText("a,b,a"), "A"), -1);
  EXPECT_EQ(IndexOfText(TextArray(), ""), -1);

  struct Case {
    const char* text;
    const char* separator;
    const char* want;
  } cases[] = {
      {"a; b; a", "; ", "a; b"},       {"b=2; ; c=3", "; ", "b=2; ; c=3"},
      {"a; ; b; ", "; ", "a; ; b"},    {"", "; ", ""},
      {"a", "", "a"},                  {"x--y--x--", "--", "x--y"},
      {"; ; a", "; ", "; a"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(JoinDistinct(c.text, c.separator), Text(c.want));
  }
}

// The merge written straight from its definition, with the list walks, for
// comparison with the routine that keeps the names in a set.
Text ReferenceMerge(Text& cookies, Text& received) {
  cookies = RemoveSpaces(cookies);
  received = RemoveSpaces(received);
  const TextArray old = SplitText(cookies, ";");
  TextArray merged = SplitText(received, ";");
  for (const Text& e : old) {
    if (!CookieNamePresent(merged, CookieName(e))) merged.push_back(e);
  }
  Text acc;
  for (const Text& e : merged) {
    if (TextRight(e, 8) != Text("=deleted")) acc = ConcatText(acc, e, "; ");
  }
  acc = TextLeft(acc, TextLength(acc) - 2);
  const TextArray pieces = SplitText(acc, "; ");
  TextArray seen;
  Text joined;
  for (const Text& piece : pieces) {
    if (IndexOfText(seen, piece) == -1) {
      seen.push_back(piece);
      joined = ConcatText(joined, piece, "; ");
    }
  }
  cookies = TextLeft(joined, TextLength(joined) - 2);
  return cookies;
}

TEST(MergeCookies, AgreesWithTheListWalksOnEveryShortCombination) {
  const char* entries[] = {"a=1", "a=2", "b=1", "a", "=x", "", "a=deleted", " b = 2 "};
  std::vector<std::string> texts = {""};
  for (const char* e : entries) texts.push_back(e);
  for (const char* e : entries) {
    for (const char* f : entries) texts.push_back(std::string(e) + ";" + f);
  }
  for (const std::string& c : texts) {
    for (const std::string& r : texts) {
      Text cookies(c), received(r), refCookies(c), refReceived(r);
      const Text got = MergeCookies(cookies, received);
      const Text want = ReferenceMerge(refCookies, refReceived);
      ASSERT_EQ(got, want) << c << " | " << r;
      ASSERT_EQ(cookies, refCookies);
      ASSERT_EQ(received, refReceived);
    }
  }
}

TEST(MergeCookies, TenThousandEntriesEachSide) {
  // Stored c0..c9999 (each twice), received c5000..c14999: the received ones
  // come first, then the stored c0..c4999 once each.
  std::string stored, received;
  for (int i = 0; i < 10000; ++i) {
    stored += "c" + std::to_string(i) + "=old; ";
    stored += "c" + std::to_string(i) + "=again; ";
    received += "c" + std::to_string(i + 5000) + "=new; ";
  }
  Text cookies(stored), got(received);
  const Text merged = MergeCookies(cookies, got);
  const TextArray pieces = SplitText(merged, "; ");
  ASSERT_EQ(ArraySize(pieces), 15000);
  EXPECT_EQ(Element(pieces, 1), Text("c5000=new"));
  EXPECT_EQ(Element(pieces, 10000), Text("c14999=new"));
  EXPECT_EQ(Element(pieces, 10001), Text("c0=old"));
  EXPECT_EQ(Element(pieces, 15000), Text("c4999=old"));

  std::string repeated;
  for (int i = 0; i < 20000; ++i) repeated += "p" + std::to_string(i % 7000) + "; ";
  EXPECT_EQ(ArraySize(SplitText(JoinDistinct(Text(repeated), "; "), "; ")), 7000);
}

}  // namespace
}  // namespace qelvaro
