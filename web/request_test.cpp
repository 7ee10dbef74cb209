#include "web/request.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/inet/inet.h"
#include "platform/inet/inet_testing.h"
#include "testing/loopback_server.h"
#include "text/primitives.h"
#include "web/headers.h"
#include "web/testing/network_test.h"

namespace qelvaro {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using testing::LoopbackServer;
using testing::OkReply;
using testing::Reply;

const std::string kDefaultLines =
    "Accept: */*\r\nAccept-Language: zh-cn\r\n"
    "Content-Type: application/x-www-form-urlencoded";

std::string DefaultAgentLine() { return std::string("User-Agent: ") + kDefaultUserAgent; }

// The head of a request: its lines up to the empty one.
std::vector<std::string> HeadLines(const std::string& request) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (true) {
    const std::size_t end = request.find("\r\n", at);
    if (end == std::string::npos || end == at) break;
    lines.push_back(request.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

// The lines of a head that start with prefix.
std::vector<std::string> LinesStartingWith(const std::string& request, const std::string& prefix) {
  std::vector<std::string> out;
  for (const std::string& line : HeadLines(request)) {
    if (line.rfind(prefix, 0) == 0) out.push_back(line);
  }
  return out;
}

std::string HostLine(const LoopbackServer& server) {
  return "Host: 127.0.0.1:" + std::to_string(server.port());
}

class WebRequestTest : public WebNetworkTest {
 protected:
  // Short time-outs for the servers that stall.
  static void ShortTimeouts() {
    platform::SetTimeoutsForTesting(std::chrono::milliseconds(2000),
                                    std::chrono::milliseconds(800));
  }
};

TEST_F(WebRequestTest, AddressAloneSendsTheDefaultRequest) {
  const std::string body("a\0b\xff", 4);
  LoopbackServer server(OkReply(body));
  const Text url(server.Url("/ws/NSearch?type=all&key=%E4%B8%AD"));

  EXPECT_EQ(WebRequest(url), Bytes(body));

  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0],
            "GET /ws/NSearch?type=all&key=%E4%B8%AD HTTP/1.1\r\n" + HostLine(server) + "\r\n" +
                DefaultAgentLine() + "\r\nReferer: " + url.str() + "\r\n" + kDefaultLines +
                "\r\n\r\n");
}

TEST_F(WebRequestTest, BodyArrivesWhole) {
  std::string big(300 * 1024 + 7, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 31 + i / 1024);
  const struct Case {
    const char* name;
    std::string reply;
    std::string want;
  } cases[] = {
      {"announced", OkReply(big), big},
      {"until the close", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + big, big},
      {"chunked",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n3\r\n!!!\r\n0\r\n\r\n",
       "hello!!!"},
      {"error status", "HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\ngone", "gone"},
      {"empty", OkReply(""), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LoopbackServer server(c.reply);
    EXPECT_EQ(WebRequest(Text(server.Url("/b"))), Bytes(c.want));
  }
}

TEST_F(WebRequestTest, DefaultHeaderLines) {
  // {header text, cookies (absent: nullopt), completed text with U for the
  // address, lines sent after Host}
  const struct Case {
    const char* headers;
    std::optional<Text> cookies;
    std::string completed;
    std::string sent;
  } cases[] = {
      {"", std::nullopt, "Referer: U\r\n" + kDefaultLines,
       DefaultAgentLine() + "\r\nReferer: U\r\n" + kDefaultLines},
      // "Accept-Language:" does not count as "Accept:".
      {"Accept-Language: en", std::nullopt,
       "Accept-Language: en\r\nReferer: U\r\nAccept: */*\r\n"
       "Content-Type: application/x-www-form-urlencoded",
       DefaultAgentLine() +
           "\r\nAccept-Language: en\r\nReferer: U\r\nAccept: */*\r\n"
           "Content-Type: application/x-www-form-urlencoded"},
      // "X-Referer:" counts as a Referer line.
      {"X-Referer: y", std::nullopt, "X-Referer: y\r\n" + kDefaultLines,
       DefaultAgentLine() + "\r\nX-Referer: y\r\n" + kDefaultLines},
      {"Referer: r\r\nAccept: text/html\r\nAccept-Language: en\r\nContent-Type: t", std::nullopt,
       "Referer: r\r\nAccept: text/html\r\nAccept-Language: en\r\nContent-Type: t",
       DefaultAgentLine() +
           "\r\nReferer: r\r\nAccept: text/html\r\nAccept-Language: en\r\nContent-Type: t"},
      // A User-Agent line of the header text is the only one sent.
      {"User-Agent: A1", std::nullopt, "User-Agent: A1\r\nReferer: U\r\n" + kDefaultLines,
       "User-Agent: A1\r\nReferer: U\r\n" + kDefaultLines},
      {"User-Agent: A1\r\nX: y", std::nullopt,
       "User-Agent: A1\r\nX: y\r\nReferer: U\r\n" + kDefaultLines,
       "User-Agent: A1\r\nX: y\r\nReferer: U\r\n" + kDefaultLines},
      {"user-agent: A1\r\nX: y", std::nullopt,
       "user-agent: A1\r\nX: y\r\nReferer: U\r\n" + kDefaultLines,
       "user-agent: A1\r\nX: y\r\nReferer: U\r\n" + kDefaultLines},
      // The agent is everything after the first colon, "A1\r\nX: y": its
      // line break is dropped, it never becomes a line of its own.
      {"x-user-agent: A1\r\nX: y", std::nullopt,
       "x-user-agent: A1\r\nX: y\r\nReferer: U\r\n" + kDefaultLines,
       "User-Agent: A1X: y\r\nx-user-agent: A1\r\nX: y\r\nReferer: U\r\n" + kDefaultLines},
      // The agent found between the marker and the line end.
      {"X-User-Agent: A2\r\nX: y", std::nullopt,
       "X-User-Agent: A2\r\nX: y\r\nReferer: U\r\n" + kDefaultLines,
       "User-Agent: A2\r\nX-User-Agent: A2\r\nX: y\r\nReferer: U\r\n" + kDefaultLines},
      {"", Text("a=1; b=2"), "Referer: U\r\n" + kDefaultLines + "\r\nCookie: a=1; b=2",
       DefaultAgentLine() + "\r\nReferer: U\r\n" + kDefaultLines + "\r\nCookie: a=1; b=2"},
      {"", Text(""), "Referer: U\r\n" + kDefaultLines,
       DefaultAgentLine() + "\r\nReferer: U\r\n" + kDefaultLines},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.headers);
    LoopbackServer server(OkReply("ok"));
    const std::string url = server.Url("/h");
    auto withUrl = [&](std::string s) {
      for (std::size_t at; (at = s.find("Referer: U")) != std::string::npos;) {
        s.replace(at + 9, 1, url);
      }
      return s;
    };
    Text headers(c.headers);
    std::optional<Text> cookies = c.cookies;
    EXPECT_EQ(WebRequest(Text(url), 0, Text(), cookies ? &*cookies : nullptr, nullptr, &headers),
              Bytes(std::string("ok")));
    EXPECT_EQ(headers.str(), withUrl(c.completed));
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0],
              "GET /h HTTP/1.1\r\n" + HostLine(server) + "\r\n" + withUrl(c.sent) + "\r\n\r\n");
  }
}

TEST_F(WebRequestTest, RequestBodies) {
  const struct Case {
    std::int32_t method;
    const char* bodyText;
    std::string bodyBytes;
    std::string verb;
    std::string sent;  // the body on the wire
    bool hasLength;    // a Content-Length line is sent
    std::string bodyBytesAfter;
  } cases[] = {
      {1, "a=1", "", "POST", "a=1", true, "a=1"},
      {1, "", "", "POST", "", true, ""},  // no body: "Content-Length: 0"
      {2, "a=1", "", "GET", "a=1", true, "a=1"},
      {1, "a=1", std::string("x\0y", 3), "POST", std::string("x\0y", 3), true,
       std::string("x\0y", 3)},
      {0, "a=1", "", "GET", "", false, ""},
      {0, "a=1", "kept", "GET", "", false, "kept"},
      {-1, "q", "", "GET", "q", true, "q"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.method << " " << c.bodyText);
    LoopbackServer server(OkReply("done"));
    const std::string url = server.Url("/f");
    Bytes bodyBytes(c.bodyBytes);
    EXPECT_EQ(WebRequest(Text(url), c.method, c.bodyText, nullptr, nullptr, nullptr, nullptr,
                         false, &bodyBytes),
              Bytes(std::string("done")));
    EXPECT_EQ(bodyBytes, Bytes(c.bodyBytesAfter));
    ASSERT_EQ(server.requests().size(), 1u);
    const std::string length =
        c.hasLength ? "\r\nContent-Length: " + std::to_string(c.sent.size()) : "";
    EXPECT_EQ(server.requests()[0], c.verb + " /f HTTP/1.1\r\n" + HostLine(server) + "\r\n" +
                                        DefaultAgentLine() + "\r\nReferer: " + url + "\r\n" +
                                        kDefaultLines + length + "\r\n\r\n" + c.sent);
  }
}

Reply RedirectOrFinal(const std::string& request) {
  if (request.rfind("GET /start ", 0) == 0) {
    return Reply{"HTTP/1.1 302 Found\r\nLocation: /next\r\nContent-Length: 5\r\n"
                 "Connection: close\r\n\r\nmoved"};
  }
  return Reply{OkReply("final")};
}

TEST_F(WebRequestTest, NoRedirectReturnsTheRedirectAnswer) {
  LoopbackServer server(RedirectOrFinal);
  Text where, raw;
  const Bytes body = WebRequest(Text(server.Url("/start")), 0, Text(), nullptr, nullptr, nullptr,
                                &where, true, nullptr, std::nullopt, &raw);
  EXPECT_EQ(body, Bytes(std::string("moved")));
  EXPECT_EQ(where, Text("/next"));
  EXPECT_EQ(raw, Text("HTTP/1.1 302 Found\r\nLocation: /next\r\nContent-Length: 5\r\n"
                      "Connection: close\r\n\r\n"));
  EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(WebRequestTest, RedirectsAreFollowedOtherwise) {
  LoopbackServer server(RedirectOrFinal);
  Text where, raw;
  const Bytes body = WebRequest(Text(server.Url("/start")), 0, Text(), nullptr, nullptr, nullptr,
                                &where, false, nullptr, std::nullopt, &raw);
  EXPECT_EQ(body, Bytes(std::string("final")));
  ASSERT_EQ(server.requests().size(), 2u);
  EXPECT_EQ(server.requests()[1].substr(0, 20), "GET /next HTTP/1.1\r\n");
  // The final answer carries no Location line: the block stands in for it.
  EXPECT_EQ(raw, Text("HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: close\r\n\r\n"));
  EXPECT_EQ(where, raw);
}

TEST_F(WebRequestTest, RedirectAddressAndReceivedCookies) {
  const struct Case {
    std::string lines;    // header lines of a 200 answer
    const char* before;   // redirectAddress on entry
    const char* where;    // nullptr: the raw block
    const char* received;
  } cases[] = {
      {"Content-Location: /x\r\n", "", "/x", ""},
      {"Location: /a\r\nContent-Location: /b\r\n", "", "/b", ""},
      {"Location:  /a  \r\n", "old", "/a", ""},
      {"", "kept", "kept", ""},  // not cleared at the start
      {"", "", nullptr, ""},
      {"Set-Cookie: a=1; path=/\r\nSet-Cookie: b=2; HttpOnly\r\n", "", nullptr, "a=1; b=2"},
      {"Set-Cookie:  c=3 ;\r\nX-Set-Cookie-Note: none\r\n", "", nullptr, "c=3; "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines);
    const std::string head =
        "HTTP/1.1 200 OK\r\n" + c.lines + "Content-Length: 2\r\nConnection: close\r\n\r\n";
    LoopbackServer server(head + "ok");
    Text where(c.before), received("stale"), raw;
    EXPECT_EQ(WebRequest(Text(server.Url("/r")), 0, Text(), nullptr, &received, nullptr, &where,
                         false, nullptr, std::nullopt, &raw),
              Bytes(std::string("ok")));
    EXPECT_EQ(raw.str(), head);
    EXPECT_EQ(where, c.where != nullptr ? Text(c.where) : raw);
    EXPECT_EQ(received, Text(c.received));
  }
}

Reply CookieServer(const std::string& request) {
  if (request.rfind("GET /set ", 0) == 0) return Reply{OkReply("", "Set-Cookie: s=store; path=/\r\n")};
  if (request.rfind("GET /merge ", 0) == 0) return Reply{OkReply("", "Set-Cookie: b=3; path=/\r\n")};
  return Reply{OkReply("")};
}

TEST_F(WebRequestTest, SuppliedCookiesLeaveTheSharedStoreAlone) {
  LoopbackServer server(CookieServer);
  WebRequest(Text(server.Url("/set")));
  WebRequest(Text(server.Url("/look")));
  ASSERT_EQ(server.requests().size(), 2u);
  EXPECT_THAT(LinesStartingWith(server.requests()[1], "Cookie"), ElementsAre("Cookie: s=store"));

  Text cookies("a=1; b=2"), received;
  WebRequest(Text(server.Url("/merge")), 0, Text(), &cookies, &received);
  ASSERT_EQ(server.requests().size(), 3u);
  EXPECT_THAT(LinesStartingWith(server.requests()[2], "Cookie"), ElementsAre("Cookie: a=1; b=2"));
  EXPECT_EQ(cookies, Text("b=3; a=1"));
  EXPECT_EQ(received, Text("b=3"));

  // b=3 went to the caller's text only.
  WebRequest(Text(server.Url("/look")));
  EXPECT_THAT(LinesStartingWith(server.requests()[3], "Cookie"), ElementsAre("Cookie: s=store"));

  // Supplied but empty: no Cookie line at all.
  Text none;
  WebRequest(Text(server.Url("/look")), 0, Text(), &none);
  EXPECT_THAT(LinesStartingWith(server.requests()[4], "Cookie"), IsEmpty());
  EXPECT_EQ(none, Text());
}

TEST_F(WebRequestTest, ProxyListNamesTheHttpProxy) {
  LoopbackServer proxy(OkReply("via proxy"));
  const Text list(std::string("127.0.0.1:") + std::to_string(proxy.port()));
  EXPECT_EQ(WebRequest("http://origin.example/x?y=1", 0, Text(), nullptr, nullptr, nullptr,
                       nullptr, false, nullptr, list),
            Bytes(std::string("via proxy")));
  ASSERT_EQ(proxy.requests().size(), 1u);
  const std::vector<std::string> head = HeadLines(proxy.requests()[0]);
  ASSERT_GE(head.size(), 3u);
  EXPECT_EQ(head[0], "GET http://origin.example/x?y=1 HTTP/1.1");
  EXPECT_EQ(head[1], "Host: origin.example");
  EXPECT_THAT(head, ::testing::Contains("Referer: http://origin.example/x?y=1"));
}

TEST_F(WebRequestTest, DirectUnlessAProxyIsNamed) {
  // The environment names a proxy; neither an absent proxy nor a supplied
  // empty one ("http=", no usable entry) goes through it.
  LoopbackServer proxy(OkReply("via proxy"));
  LoopbackServer origin(OkReply("direct"));
  setenv("http_proxy", proxy.Url("").c_str(), 1);
  for (const std::optional<Text>& p : {std::optional<Text>(), std::optional<Text>(Text(""))}) {
    SCOPED_TRACE(p.has_value() ? "empty" : "absent");
    EXPECT_EQ(WebRequest(Text(origin.Url("/d")), 0, Text(), nullptr, nullptr, nullptr, nullptr,
                         false, nullptr, p),
              Bytes(std::string("direct")));
  }
  EXPECT_EQ(proxy.connections(), 0);
  ASSERT_EQ(origin.requests().size(), 2u);
  EXPECT_EQ(origin.requests()[1].substr(0, 17), "GET /d HTTP/1.1\r\n");
}

TEST_F(WebRequestTest, RefusedConnectionStillWritesTheOutParameters) {
  const std::string url = "http://127.0.0.1:" + std::to_string(testing::ClosedLoopbackPort()) + "/x";
  Text cookies("a=1; b=2"), received("stale"), headers("X: y"), where, raw("stale");
  Bytes bodyBytes;
  const Bytes body = WebRequest(Text(url), 1, "a=1", &cookies, &received, &headers, &where, false,
                                &bodyBytes, std::nullopt, &raw);
  EXPECT_TRUE(body.empty());
  EXPECT_EQ(raw, BlankText(5000));
  EXPECT_EQ(where, raw);
  EXPECT_EQ(received, Text());
  EXPECT_EQ(headers.str(), "X: y\r\nReferer: " + url + "\r\n" + kDefaultLines + "\r\nCookie: a=1; b=2");
  EXPECT_EQ(cookies, Text("a=1; b=2"));
  EXPECT_EQ(bodyBytes, Bytes(std::string("a=1")));
}

TEST_F(WebRequestTest, NoConnectionWritesNothing) {
  LoopbackServer server(OkReply("never"));
  const std::string port = std::to_string(server.port());
  const std::string cases[] = {
      // A port beyond 16 bits is never cut down to the server's port.
      "http://127.0.0.1:" + std::to_string(server.port() + 65536) + "/x",
      "http://127.0.0.1:" + std::to_string(server.port() + 65536 * 3) + "/x",
      "http://127.0.0.1:-" + port + "/x",
      "http:///x",  // no host
  };
  for (const std::string& url : cases) {
    SCOPED_TRACE(url);
    Text cookies("c"), received("r"), headers("h: 1"), where("w"), raw("raw");
    Bytes bodyBytes;
    EXPECT_TRUE(WebRequest(Text(url), 1, "a=1", &cookies, &received, &headers, &where, false,
                           &bodyBytes, std::nullopt, &raw)
                    .empty());
    EXPECT_EQ(cookies, Text("c"));
    EXPECT_EQ(received, Text("r"));
    EXPECT_EQ(headers, Text("h: 1"));
    EXPECT_EQ(where, Text("w"));
    EXPECT_EQ(raw, Text("raw"));
    EXPECT_TRUE(bodyBytes.empty());
  }
  EXPECT_EQ(server.connections(), 0);
}

// A 200 answer whose header block (the empty line included) is exactly n
// bytes, with a Location and a Set-Cookie line, and the body "body".
std::string AnswerWithBlockOf(std::size_t n) {
  const std::string start =
      "HTTP/1.1 200 OK\r\nLocation: /seen\r\nSet-Cookie: k=v; path=/\r\nContent-Length: 4\r\n"
      "Connection: close\r\nX-Pad: ";
  const std::string end = "\r\n\r\n";
  return start + std::string(n - start.size() - end.size(), 'p') + end + "body";
}

TEST_F(WebRequestTest, HeaderBlockMustFitFiveThousandBytes) {
  const struct Case {
    std::size_t block;
    bool fits;
  } cases[] = {{4999, true}, {5000, false}, {20000, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.block);
    const std::string answer = AnswerWithBlockOf(c.block);
    LoopbackServer server(answer);
    Text cookies, received, where, raw;
    const Bytes body = WebRequest(Text(server.Url("/big")), 0, Text(), &cookies, &received,
                                  nullptr, &where, false, nullptr, std::nullopt, &raw);
    EXPECT_EQ(body, Bytes(std::string("body")));
    if (c.fits) {
      EXPECT_EQ(raw.str(), answer.substr(0, c.block));
      EXPECT_EQ(where, Text("/seen"));
      EXPECT_EQ(received, Text("k=v"));
      EXPECT_EQ(cookies, Text("k=v"));
    } else {
      EXPECT_EQ(raw, BlankText(5000));
      EXPECT_EQ(where, raw);
      EXPECT_EQ(received, Text());
      EXPECT_EQ(cookies, Text());
    }
  }
}

// ---- Servers that misbehave -------------------------------------------------

TEST_F(WebRequestTest, StalledAnswerEndsWithTheBytesSoFar) {
  ShortTimeouts();
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n";
  LoopbackServer server([&](const std::string&) {
    return Reply{head + "0123456789", Reply::Then::kStall};
  });
  Text raw;
  EXPECT_EQ(WebRequest(Text(server.Url("/s")), 0, Text(), nullptr, nullptr, nullptr, nullptr,
                       false, nullptr, std::nullopt, &raw),
            Bytes(std::string("0123456789")));
  EXPECT_EQ(raw.str(), head);
}

TEST_F(WebRequestTest, SilentServerGivesNothing) {
  ShortTimeouts();
  LoopbackServer server([](const std::string&) { return Reply{"", Reply::Then::kStall}; });
  Text raw;
  EXPECT_TRUE(WebRequest(Text(server.Url("/s")), 0, Text(), nullptr, nullptr, nullptr, nullptr,
                         false, nullptr, std::nullopt, &raw)
                  .empty());
  EXPECT_EQ(raw, BlankText(5000));
}

TEST_F(WebRequestTest, ConnectionClosedMidBodyGivesTheBytesSoFar) {
  LoopbackServer server("HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n" + std::string(1500, 'z'));
  EXPECT_EQ(WebRequest(Text(server.Url("/c"))), Bytes(std::string(1500, 'z')));
}

TEST_F(WebRequestTest, RedirectLoopEnds) {
  LoopbackServer server(
      "HTTP/1.1 302 Found\r\nLocation: /loop\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
  Text raw;
  EXPECT_TRUE(WebRequest(Text(server.Url("/loop")), 0, Text(), nullptr, nullptr, nullptr, nullptr,
                         false, nullptr, std::nullopt, &raw)
                  .empty());
  EXPECT_LE(server.requests().size(), 12u);
  EXPECT_EQ(raw.str().substr(0, 19), "HTTP/1.1 302 Found\r");
}

TEST_F(WebRequestTest, EndlessBodyEndsAtTheBodyLimit) {
  constexpr std::uint64_t kLimit = 256 * 1024;
  platform::SetBodyLimitForTesting(kLimit);
  LoopbackServer server([](const std::string&) {
    return Reply{"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n", Reply::Then::kEndless};
  });
  EXPECT_EQ(WebRequest(Text(server.Url("/e"))), Bytes(std::string(kLimit, 'x')));
}

TEST_F(WebRequestTest, TenThousandSetCookieLines) {
  std::string head = "HTTP/1.1 200 OK\r\n";
  for (int i = 0; i < 10000; ++i) head += "Set-Cookie: c" + std::to_string(i) + "=v;\r\n";
  LoopbackServer server(head + "Content-Length: 2\r\nConnection: close\r\n\r\nok");
  Text cookies("a=1"), received("stale"), raw;
  EXPECT_EQ(WebRequest(Text(server.Url("/many")), 0, Text(), &cookies, &received, nullptr,
                       nullptr, false, nullptr, std::nullopt, &raw),
            Bytes(std::string("ok")));
  // The block is far beyond the 5000-byte buffer: no line of it is read.
  EXPECT_EQ(raw, BlankText(5000));
  EXPECT_EQ(received, Text());
  EXPECT_EQ(cookies, Text("a=1"));
}

TEST_F(WebRequestTest, AnswerThatIsNotHttpGivesNothing) {
  for (const char* answer : {"FOO 200 OK\r\nContent-Length: 2\r\n\r\nok", "ok\n",
                             "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n"}) {
    SCOPED_TRACE(answer);
    LoopbackServer server(answer);
    Text raw;
    EXPECT_TRUE(WebRequest(Text(server.Url("/n")), 0, Text(), nullptr, nullptr, nullptr, nullptr,
                           false, nullptr, std::nullopt, &raw)
                    .empty());
    EXPECT_EQ(raw, BlankText(5000));
  }
}

TEST_F(WebRequestTest, LineBreaksInTheAddressSplitNothing) {
  LoopbackServer server(OkReply("record"));
  const std::string url =
      server.Url("/webmusic/st/getNewMuiseByRid?rid=MUSIC_1 2\r\nX-Injected: 1");
  Text headers;
  EXPECT_EQ(WebRequest(Text(url), 0, Text(), nullptr, nullptr, &headers),
            Bytes(std::string("record")));
  ASSERT_EQ(server.requests().size(), 1u);
  const std::vector<std::string> head = HeadLines(server.requests()[0]);
  EXPECT_EQ(head[0], "GET /webmusic/st/getNewMuiseByRid?rid=MUSIC_1%202%0D%0AX-Injected:%201 HTTP/1.1");
  EXPECT_THAT(LinesStartingWith(server.requests()[0], "X-Injected"), IsEmpty());
  const std::string referer = "Referer: " + server.Url("/webmusic/st/getNewMuiseByRid?rid=MUSIC_1 2%0D%0AX-Injected: 1");
  EXPECT_THAT(head, ::testing::Contains(referer));
  EXPECT_EQ(headers.str(), referer + "\r\n" + kDefaultLines);
}

}  // namespace
}  // namespace qelvaro
