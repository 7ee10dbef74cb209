#include "platform/gui/browser/naming.h"

#include <gtest/gtest.h>

#include <string>

namespace qelvaro::gui::browser {
namespace {

TEST(IsPageAnswer, TextIsAPageUnlessItIsAnAttachment) {
  const struct {
    const char* type;
    const char* disposition;
    bool page;
  } cases[] = {
      {"text/html", "", true},
      {"text/html; charset=utf-8", "", true},
      {" TEXT/Plain ", "", true},
      {"text/css", "inline", true},
      {"text/html", "inline; filename=a.html", true},
      {"text/plain", "attachment", false},
      {"text/plain", "Attachment; filename=\"notes.txt\"", false},
      {"text/html", " attachment ;filename=x", false},
      {"audio/mpeg", "", false},
      {"application/octet-stream", "inline", false},
      {"application/xhtml+xml", "", false},
      {"", "", false},
      {"text/", "", false},
      {"texts/html", "", false},
      {"image/jpeg", "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.type) + " | " + c.disposition);
    EXPECT_EQ(IsPageAnswer(c.type, c.disposition), c.page);
  }
}

TEST(DispositionFileName, ExtendedNameFirstThenThePlainOne) {
  const struct {
    const char* disposition;
    std::string name;
  } cases[] = {
      {"attachment; filename=song.mp3", "song.mp3"},
      {"attachment; filename=\"a b.mp3\"", "a b.mp3"},
      {"attachment; filename=\"say \\\"hi\\\".mp3\"", "say \"hi\".mp3"},
      {"attachment; filename=\"semi;colon.mp3\"; size=3", "semi;colon.mp3"},
      {"attachment; FILENAME=Upper.mp3", "Upper.mp3"},
      {"attachment; filename*=UTF-8''%E6%88%91%E7%9A%84.mp3", "我的.mp3"},
      {"attachment; filename=plain.mp3; filename*=utf-8''%E6%AD%8C.mp3", "歌.mp3"},
      {"attachment; filename*=UTF-8'zh'%E6%AD%8C.mp3; filename=plain.mp3", "歌.mp3"},
      {"attachment; filename*=iso-8859-1'en'caf%E9.mp3", "caf\xC3\xA9.mp3"},
      // An extended name that cannot be read leaves the plain one.
      {"attachment; filename*=GBK''%CE%D2.mp3; filename=fallback.mp3", "fallback.mp3"},
      {"attachment; filename*=UTF-8''%FF%FE.mp3; filename=fallback.mp3", "fallback.mp3"},
      {"attachment; filename*=nonsense; filename=fallback.mp3", "fallback.mp3"},
      // A plain name in code page 936 bytes is read as such.
      {"attachment; filename=\"\xCE\xD2.mp3\"", "我.mp3"},
      {"attachment; filename=\"\xE6\x88\x91.mp3\"", "我.mp3"},
      {"attachment; filename=first.mp3; filename=second.mp3", "first.mp3"},
      {"attachment", ""},
      {"attachment; filename=", ""},
      {"attachment; filename=\"unterminated", "unterminated"},
      {"", ""},
      {";;;=;", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.disposition);
    EXPECT_EQ(DispositionFileName(c.disposition), c.name);
  }
}

TEST(LastPathSegment, DecodedFromTheAddressPath) {
  const struct {
    const char* address;
    std::string segment;
  } cases[] = {
      {"http://dl.music.example/resource/n1/58/71/3071527.mp3", "3071527.mp3"},
      {"http://h/a/%E6%AD%8C%20one.mp3?name=x.zip#frag", "歌 one.mp3"},
      {"http://h/a/b.mp3#part/2", "b.mp3"},
      {"http://h/dir/", ""},
      {"http://h", ""},
      {"http://h?x=/y.mp3", ""},
      {"http://h/%CE%D2.mp3", "我.mp3"},  // code page 936 escapes
      {"http://h/%zz.mp3", "%zz.mp3"},
      {"http://h/100%", "100%"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    EXPECT_EQ(LastPathSegment(c.address), c.segment);
  }
}

TEST(SanitizeFileName, OnlySafeNamesComeOut) {
  const std::string longStem(300, 'a');
  const std::string chineseStem = [] {
    std::string s;
    for (int i = 0; i < 100; ++i) s += "歌";  // 3 bytes each
    return s;
  }();
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"song.mp3", "song.mp3"},
      {"我的好兄弟.mp3", "我的好兄弟.mp3"},
      {"../../etc/passwd", "_.._etc_passwd"},
      {"a\\b/c.mp3", "a_b_c.mp3"},
      {".hidden", "hidden"},
      {" . .. x.mp3", "x.mp3"},
      {"..", ""},
      {"   ", ""},
      {"tab\there\r\n.mp3", "tabhere.mp3"},
      {std::string("nul\0byte.mp3", 12), "nulbyte.mp3"},
      {"del\x7F.mp3", "del.mp3"},
      {"c1\xC2\x85.mp3", "c1.mp3"},
      {"evil\xE2\x80\xAE" "3pm.exe", "evil3pm.exe"},  // right-to-left override
      {"zero\xE2\x80\x8Bwidth.mp3", "zerowidth.mp3"},
      {"trailing  ", "trailing"},
      {"bad\xFFutf8.mp3", "bad\xEF\xBF\xBDutf8.mp3"},
      {longStem + ".mp3", std::string(196, 'a') + ".mp3"},
      {longStem, std::string(200, 'a')},
      {longStem + "." + std::string(40, 'x'), (longStem + "." + std::string(40, 'x')).substr(0, 200)},
      // Cut at a character boundary: 65 characters of 3 bytes, then ".mp3".
      {chineseStem + ".mp3", chineseStem.substr(0, 195) + ".mp3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in.substr(0, 40));
    const std::string out = SanitizeFileName(c.in);
    EXPECT_EQ(out, c.out);
    EXPECT_LE(out.size(), 200u);
  }
}

TEST(ProposedFileName, DispositionThenAddressThenDownload) {
  const struct {
    const char* disposition;
    const char* address;
    const char* name;
  } cases[] = {
      {"attachment; filename=\"从头.mp3\"", "http://h/x/3071527.mp3", "从头.mp3"},
      {"attachment; filename=\"..\"", "http://h/x/3071527.mp3", "3071527.mp3"},
      {"", "http://h/x/3071527.mp3", "3071527.mp3"},
      {"inline", "http://h/x/.mp3", "mp3"},
      {"", "http://h/x/", "download"},
      {"attachment; filename=\"/\"", "http://h/", "_"},
      {"", "http://h/..", "download"},
      {"", "", "download"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.disposition) + " | " + c.address);
    EXPECT_EQ(ProposedFileName(c.disposition, c.address), c.name);
  }
}

TEST(ResolveAddress, RedirectTargets) {
  const char* base = "http://h.example:81/a/b/c?q=1#f";
  const struct {
    const char* reference;
    const char* resolved;
  } cases[] = {
      {"http://other.example/x", "http://other.example/x"},
      {"HTTPS://Other.example", "https://Other.example/"},
      {"//g.example/x/../y", "http://g.example/y"},
      {"/root/./p?z", "http://h.example:81/root/p?z"},
      {"d", "http://h.example:81/a/b/d"},
      {"./d/", "http://h.example:81/a/b/d/"},
      {"../d?x", "http://h.example:81/a/d?x"},
      {"../../../../d", "http://h.example:81/d"},
      {"..", "http://h.example:81/a/"},
      {"?other", "http://h.example:81/a/b/c?other"},
      {"#frag", "http://h.example:81/a/b/c?q=1"},
      {"  /spaced  ", "http://h.example:81/spaced"},
      {"http:no-authority", ""},
      {"http://", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reference);
    EXPECT_EQ(ResolveAddress(base, c.reference), c.resolved);
  }
  EXPECT_EQ(ResolveAddress("not an address", "/x"), "");
}

TEST(HeaderValue, FirstLineOfThatNameTrimmed) {
  const std::string raw =
      "HTTP/1.1 200 OK\r\nContent-Type:  audio/mpeg \r\ncontent-length: 12\r\n"
      "X-Empty:\r\nContent-Type: text/html\r\n\r\n";
  EXPECT_EQ(HeaderValue(raw, "content-type"), "audio/mpeg");
  EXPECT_EQ(HeaderValue(raw, "Content-Length"), "12");
  EXPECT_EQ(HeaderValue(raw, "X-Empty"), "");
  EXPECT_EQ(HeaderValue(raw, "Location"), std::nullopt);
  EXPECT_EQ(HeaderValue("Content-Type: text/html\r\n\r\n", "Content-Type"), std::nullopt);
}

TEST(ParseContentLength, DigitsOnly) {
  EXPECT_EQ(ParseContentLength("12096"), 12096u);
  EXPECT_EQ(ParseContentLength(" 0 "), 0u);
  EXPECT_EQ(ParseContentLength("1073741824"), 1073741824u);
  EXPECT_EQ(ParseContentLength("999999999999999999"), 999999999999999999u);
  for (const char* bad : {"", "-1", "1e3", "12,13", "0x10", "9999999999999999999999"}) {
    EXPECT_EQ(ParseContentLength(bad), std::nullopt) << bad;
  }
}

}  // namespace
}  // namespace qelvaro::gui::browser
