#include "web/headers.h"

#include <gtest/gtest.h>

#include <string>

#include "text/primitives.h"

namespace qelvaro {
namespace {

TEST(HeaderValue, AfterTheFirstColonTrimmed) {
  struct Case {
    const char* line;
    const char* want;
  } cases[] = {
      {"Location: /next", "/next"},
      {"Location:/next", "/next"},
      {"Content-Location:  /x  ", "/x"},
      {"Location: http://h.example:81/a", "http://h.example:81/a"},
      {"Date: Mon: x", "Mon: x"},
      {"X:", ""},
      {"no colon", ""},
      {"", ""},
      {"X: \t1\r", "\t1\r"},            // only spaces are trimmed
      {"X:\xA1\xA1v\xA1\xA1", "v"},      // full-width spaces too
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(HeaderValue(c.line), Text(c.want));
  }
}

TEST(AgentFor, ChoiceOfAgent) {
  struct Case {
    const char* headers;
    const char* want;
  } cases[] = {
      {"", kDefaultUserAgent},
      {"Accept: */*", kDefaultUserAgent},
      // Alone, without a line end: TextBetween finds nothing, HeaderValue A1.
      {"User-Agent: A1", "A1"},
      {"User-Agent: A1\r\nX: y", "A1"},
      {"X: y\r\nUser-Agent:  A1 \r\nZ: z", "A1"},
      // Lower case is recognised, but only HeaderValue of the whole text
      // reads it: the line break and the next line come along.
      {"user-agent: A1\r\nX: y", "A1\r\nX: y"},
      // An empty value between the marker and the line end falls back too.
      {"User-Agent: \r\nX: y", "\r\nX: y"},
      {"X: y\r\nuser-agent: A1", "y\r\nuser-agent: A1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.headers);
    EXPECT_EQ(AgentFor(c.headers), Text(c.want));
  }
}

TEST(CompleteRequestHeaders, DefaultLines) {
  const Text url = "http://host.example/a?b=1";
  const std::string defaults =
      "\r\nAccept: */*\r\nAccept-Language: zh-cn"
      "\r\nContent-Type: application/x-www-form-urlencoded";
  struct Case {
    const char* headers;
    std::optional<Text> cookies;
    std::string want;
  } cases[] = {
      // Empty header text: the Referer line comes first, without a line break.
      {"", std::nullopt, "Referer: http://host.example/a?b=1" + defaults},
      {"", Text(""), "Referer: http://host.example/a?b=1" + defaults},
      {"", Text("a=1; b=2"),
       "Referer: http://host.example/a?b=1" + defaults + "\r\nCookie: a=1; b=2"},
      // "Accept-Language:" is not "Accept:".
      {"Accept-Language: en", std::nullopt,
       "Accept-Language: en\r\nReferer: http://host.example/a?b=1\r\nAccept: */*"
       "\r\nContent-Type: application/x-www-form-urlencoded"},
      // "X-Referer:" counts as a Referer line.
      {"X-Referer: y", std::nullopt, "X-Referer: y" + defaults},
      {"Referer: r\r\nAccept: text/html\r\nAccept-Language: en\r\nContent-Type: t",
       std::nullopt, "Referer: r\r\nAccept: text/html\r\nAccept-Language: en\r\nContent-Type: t"},
      // Case matters: "accept:" is no Accept line.
      {"accept: x", std::nullopt,
       "accept: x\r\nReferer: http://host.example/a?b=1" + defaults},
      {"Cookie: z=9", Text("a=1"),
       "Cookie: z=9\r\nReferer: http://host.example/a?b=1" + defaults + "\r\nCookie: a=1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.headers);
    Text headers = c.headers;
    CompleteRequestHeaders(headers, url, c.cookies);
    EXPECT_EQ(headers, Text(c.want));
  }
}

TEST(CompleteRequestHeaders, EachTestSeesTheLinesAddedBeforeIt) {
  // The Referer line brings the address, which here spells "Accept:".
  Text headers;
  CompleteRequestHeaders(headers, "http://h/?Accept:", std::nullopt);
  EXPECT_EQ(headers,
            Text("Referer: http://h/?Accept:\r\nAccept-Language: zh-cn"
                 "\r\nContent-Type: application/x-www-form-urlencoded"));
}

TEST(ScanResponseHeaders, LocationAndSetCookieLines) {
  struct Case {
    const char* raw;
    const char* redirectBefore;
    const char* redirect;  // nullptr: a copy of raw
    const char* cookies;
  } cases[] = {
      {"HTTP/1.1 200 OK\r\nSet-Cookie: a=1; path=/\r\nSet-Cookie: b=2; HttpOnly\r\n\r\n", "",
       nullptr, "a=1; b=2"},
      {"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n", "", nullptr, ""},
      {"HTTP/1.1 302 Found\r\nLocation: /next\r\n\r\n", "", "/next", ""},
      {"HTTP/1.1 200 OK\r\nContent-Location: /x\r\n\r\n", "", "/x", ""},
      // The last Location line wins.
      {"HTTP/1.1 302 Found\r\nLocation: /a\r\nLocation: /b\r\n\r\n", "", "/b", ""},
      // A value from before stays when nothing sets it; it is not cleared.
      {"HTTP/1.1 200 OK\r\n\r\n", "/kept", "/kept", ""},
      {"HTTP/1.1 302 Found\r\nLocation: /new\r\n\r\n", "/old", "/new", ""},
      // "Set-Cookie" anywhere, no colon needed; the pair needs a ";" after it.
      {"HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\nSet-Cookie: b=2;\r\n\r\n", "", nullptr, "; b=2"},
      {"HTTP/1.1 200 OK\r\nX-Set-Cookie-Note: yes\r\nSet-Cookie:  c = 3 ; x\r\n\r\n", "",
       nullptr, "; c = 3"},
      {"HTTP/1.1 200 OK\r\nset-cookie: a=1; path=/\r\n\r\n", "", nullptr, ""},
      {"", "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.raw);
    Text redirect = c.redirectBefore;
    Text cookies = "left over";
    ScanResponseHeaders(c.raw, redirect, cookies);
    EXPECT_EQ(redirect, Text(c.redirect == nullptr ? c.raw : c.redirect));
    EXPECT_EQ(cookies, Text(c.cookies));
  }
}

TEST(ScanResponseHeaders, FailedHeaderQueryLeavesFiveThousandSpaces) {
  const Text raw = BlankText(5000);
  Text redirect;
  Text cookies;
  ScanResponseHeaders(raw, redirect, cookies);
  EXPECT_EQ(redirect, raw);
  EXPECT_EQ(cookies, Text());
}

TEST(ScanResponseHeaders, TenThousandSetCookieLines) {
  std::string raw = "HTTP/1.1 200 OK\r\n";
  for (int i = 0; i < 10000; ++i) raw += "Set-Cookie: k" + std::to_string(i) + "=v; path=/\r\n";
  raw += "Location: /end\r\n\r\n";
  Text redirect;
  Text cookies;
  ScanResponseHeaders(Text(raw), redirect, cookies);
  EXPECT_EQ(redirect, Text("/end"));
  const TextArray pairs = SplitText(cookies, "; ");
  ASSERT_EQ(ArraySize(pairs), 10000);
  EXPECT_EQ(Element(pairs, 1), Text("k0=v"));
  EXPECT_EQ(Element(pairs, 10000), Text("k9999=v"));
}

}  // namespace
}  // namespace qelvaro
