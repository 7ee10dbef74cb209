#include "platform/inet/inet.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/inet/inet_test_servers.h"
#include "platform/inet/inet_testing.h"
#include "testing/loopback_server.h"

namespace qelvaro::platform {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;
using qelvaro::testing::ClosedLoopbackPort;
using qelvaro::testing::LoopbackServer;
using qelvaro::testing::Reply;
using testing::HttpServer;

constexpr DWORD kGetFlags =
    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NEED_FILE | INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS;

const std::string kOk = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: close\r\n\r\nhello";

struct Options {
  const char* verb = "GET";
  const char* path = "/";
  const char* version = "HTTP/1.1";
  const char* const* accept = nullptr;
  DWORD flags = kGetFlags;
  DWORD access = INTERNET_OPEN_TYPE_DIRECT;
  const char* proxy = nullptr;
  const char* agent = "Agent/1";
};

// The three handles of one request, closed in order at the end.
struct Call {
  HINTERNET root = nullptr, conn = nullptr, req = nullptr;
  Call(const std::string& host, std::uint16_t port, const Options& o = {}) {
    root = InternetOpenA(o.agent, o.access, o.proxy, o.access == INTERNET_OPEN_TYPE_PROXY ? "" : nullptr, 0);
    conn = InternetConnectA(root, host.c_str(), port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    req = HttpOpenRequestA(conn, o.verb, o.path, o.version, nullptr, o.accept, o.flags, 0);
  }
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;
  ~Call() {
    InternetCloseHandle(req);
    InternetCloseHandle(conn);
    InternetCloseHandle(root);
  }
  BOOL Send(const std::string& headers = "", const std::string& body = "") const {
    return HttpSendRequestA(req, headers.c_str(), static_cast<DWORD>(headers.size()),
                            body.empty() ? nullptr : body.data(), static_cast<DWORD>(body.size()));
  }
};

struct ReadOutcome {
  std::string body;
  bool failed = false;  // the last read returned FALSE
};

ReadOutcome ReadAll(HINTERNET req, DWORD piece = 1024) {
  ReadOutcome out;
  std::vector<char> buf(piece);
  for (;;) {
    DWORD got = 12345;
    const BOOL ok = InternetReadFile(req, buf.data(), piece, &got);
    if (!ok) {
      EXPECT_EQ(got, 0u);
      out.failed = true;
      return out;
    }
    if (got == 0) return out;
    EXPECT_LE(got, piece);
    out.body.append(buf.data(), got);
  }
}

std::string RawHeaders(HINTERNET req) {
  std::string buf(1 << 21, '\0');
  DWORD len = static_cast<DWORD>(buf.size());
  if (!HttpQueryInfoA(req, HTTP_QUERY_RAW_HEADERS_CRLF, buf.data(), &len, nullptr)) return {};
  buf.resize(len);
  return buf;
}

class InetTest : public ::testing::Test {
 protected:
  void SetUp() override { qelvaro::testing::ClearProxyEnvironment(); }
  void TearDown() override {
    ClearRoutes();
    ResetLimitsForTesting();
    SetBlockingHook(nullptr);
    unsetenv("http_proxy");
  }
};

// --------------------------------------------------------------- request bytes

TEST_F(InetTest, GetSendsExactlyTheGivenHeaderLines) {
  LoopbackServer server(kOk);
  ASSERT_TRUE(RouteHost("search.music.example", "127.0.0.1", server.port()));
  Options o;
  o.path = "/ws/NSearch?type=all&key=%E6%88%91";
  Call call("search.music.example", 80, o);
  ASSERT_TRUE(call.Send("Referer: http://search.music.example/x\r\nAccept: */*\r\n"
                        "Accept-Language: zh-cn\r\nContent-Type: application/x-www-form-urlencoded"));
  EXPECT_EQ(ReadAll(call.req).body, "hello");
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0],
            "GET /ws/NSearch?type=all&key=%E6%88%91 HTTP/1.1\r\n"
            "Host: search.music.example\r\n"
            "User-Agent: Agent/1\r\n"
            "Referer: http://search.music.example/x\r\n"
            "Accept: */*\r\n"
            "Accept-Language: zh-cn\r\n"
            "Content-Type: application/x-www-form-urlencoded\r\n"
            "\r\n");
}

TEST_F(InetTest, HeaderTextShapesTheRequest) {
  struct Case {
    const char* name;
    std::vector<const char*> accept;  // empty: no accept types
    std::string headers;
    std::string expectedLines;  // after the request line and Host
  };
  const std::vector<Case> cases = {
      {"user agent line replaces the agent", {}, "User-Agent: Mine\r\nX-A: 1",
       "User-Agent: Mine\r\nX-A: 1\r\n"},
      {"no accept at all", {}, "X-A: 1", "User-Agent: Agent/1\r\nX-A: 1\r\n"},
      {"accept types become one line", {"text/html", " Accept: image/* \r\n"}, "",
       "User-Agent: Agent/1\r\nAccept: text/html, image/*\r\n"},
      {"header text accept wins", {"Accept: */* \r\n"}, "Accept: */*\r\n\r\n",
       "User-Agent: Agent/1\r\nAccept: */*\r\n"},
      {"lone CR and LF dropped, blank lines dropped", {}, "A: 1\rB\n: 2\r\n\r\n  \r\nC: 3\r\n",
       "User-Agent: Agent/1\r\nA: 1B: 2\r\nC: 3\r\n"},
      {"empty value sent", {}, "X-Empty:", "User-Agent: Agent/1\r\nX-Empty:\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LoopbackServer server(kOk);
    std::vector<const char*> accept = c.accept;
    accept.push_back(nullptr);
    Options o;
    o.accept = c.accept.empty() ? nullptr : accept.data();
    Call call("127.0.0.1", server.port(), o);
    ASSERT_TRUE(call.Send(c.headers));
    ReadAll(call.req);
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0], "GET / HTTP/1.1\r\nHost: 127.0.0.1:" +
                                        std::to_string(server.port()) + "\r\n" +
                                        c.expectedLines + "\r\n");
  }
}

TEST_F(InetTest, WholeResourceStyleRequestUsesHttp10) {
  LoopbackServer server("HTTP/1.0 200 OK\r\n\r\npicture");
  ASSERT_TRUE(RouteHost("img.example", "127.0.0.1", server.port()));
  const char* accept[] = {"Accept: */* \r\n", nullptr};
  Options o;
  o.path = "/star/a.jpg";
  o.version = "HTTP/1.0";
  o.accept = accept;
  o.flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_DONT_CACHE;
  o.agent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";
  Call call("img.example", 80, o);
  ASSERT_TRUE(call.Send("Accept: */*\r\n\r\n"));
  EXPECT_EQ(ReadAll(call.req).body, "picture");
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0],
            "GET /star/a.jpg HTTP/1.0\r\n"
            "Host: img.example\r\n"
            "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)\r\n"
            "Accept: */*\r\n"
            "\r\n");
}

TEST_F(InetTest, BodiesAreSentWithTheirVerb) {
  struct Case {
    const char* verb;
    std::string body;
    std::string expected;
  };
  const std::string big(1536 * 1024, 'b');  // large enough for the transport's Expect
  const std::vector<Case> cases = {
      {"POST", "a=1", "POST / HTTP/1.1\r\nHost: H\r\nUser-Agent: Agent/1\r\nX-A: 1\r\n"
                      "Content-Length: 3\r\n\r\na=1"},
      {"GET", "a=1", "GET / HTTP/1.1\r\nHost: H\r\nUser-Agent: Agent/1\r\nX-A: 1\r\n"
                     "Content-Length: 3\r\n\r\na=1"},
      {"POST", "", "POST / HTTP/1.1\r\nHost: H\r\nUser-Agent: Agent/1\r\nX-A: 1\r\n"
                   "Content-Length: 0\r\n\r\n"},
      {"POST", big, "POST / HTTP/1.1\r\nHost: H\r\nUser-Agent: Agent/1\r\nX-A: 1\r\n"
                    "Content-Length: 1572864\r\n\r\n" + big},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.verb) + " with " + std::to_string(c.body.size()) + " bytes");
    LoopbackServer server(kOk);
    ASSERT_TRUE(RouteHost("H", "127.0.0.1", server.port()));
    Options o;
    o.verb = c.verb;
    Call call("H", 80, o);
    ASSERT_TRUE(call.Send("X-A: 1", c.body));
    EXPECT_EQ(ReadAll(call.req).body, "hello");
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0], c.expected);
  }
}

TEST_F(InetTest, ObjectPathNeverSplitsTheRequestLine) {
  LoopbackServer server(kOk);
  Options o;
  o.path = "/a b\r\nX-Injected: 1\x01\x7f\x80\xff?q=\"x y\"#frag";
  Call call("127.0.0.1", server.port(), o);
  ASSERT_TRUE(call.Send());
  ReadAll(call.req);
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_THAT(server.requests()[0],
              StartsWith("GET /a%20b%0D%0AX-Injected:%201%01%7F%80%FF?q=\"x%20y\" HTTP/1.1\r\n"));

  LoopbackServer server2(kOk);
  o.path = "relative";
  Call call2("127.0.0.1", server2.port(), o);
  ASSERT_TRUE(call2.Send());
  ReadAll(call2.req);
  EXPECT_THAT(server2.requests().at(0), StartsWith("GET /relative HTTP/1.1\r\n"));
}

TEST_F(InetTest, AgentAndReferrerCannotInjectLines) {
  LoopbackServer server(kOk);
  Options o;
  o.agent = "A\r\nX-Evil: 1";
  Call call("127.0.0.1", server.port(), o);
  ASSERT_TRUE(call.Send());
  ReadAll(call.req);
  EXPECT_THAT(server.requests().at(0), HasSubstr("\r\nUser-Agent: AX-Evil: 1\r\n"));
}

// ----------------------------------------------------------------- queries

TEST_F(InetTest, RawHeadersQueryHasTheWindowsShape) {
  const std::string expected =
      "HTTP/1.1 404 Not Found\r\nX-A: 1\r\nContent-Length: 2\r\nConnection: close\r\n\r\n";
  // Bare LF line ends come back as CR LF.
  LoopbackServer server(
      "HTTP/1.1 404 Not Found\nX-A: 1\nContent-Length: 2\nConnection: close\n\nok");
  Call call("127.0.0.1", server.port());
  ASSERT_TRUE(call.Send());

  std::string buf(expected.size(), 'x');  // one byte short of the zero byte
  DWORD len = static_cast<DWORD>(buf.size());
  EXPECT_FALSE(HttpQueryInfoA(call.req, HTTP_QUERY_RAW_HEADERS_CRLF, buf.data(), &len, nullptr));
  EXPECT_EQ(len, expected.size() + 1);
  EXPECT_EQ(buf, std::string(expected.size(), 'x'));  // untouched

  len = 0;
  EXPECT_FALSE(HttpQueryInfoA(call.req, HTTP_QUERY_RAW_HEADERS_CRLF, nullptr, &len, nullptr));
  EXPECT_EQ(len, expected.size() + 1);

  buf.assign(expected.size() + 1, 'x');
  len = static_cast<DWORD>(buf.size());
  ASSERT_TRUE(HttpQueryInfoA(call.req, HTTP_QUERY_RAW_HEADERS_CRLF, buf.data(), &len, nullptr));
  EXPECT_EQ(len, expected.size());
  EXPECT_EQ(buf, expected + '\0');
  EXPECT_EQ(ReadAll(call.req).body, "ok");
}

TEST_F(InetTest, ContentLengthAndStatusQueries) {
  LoopbackServer server("HTTP/1.1 200 OK\r\nContent-Length:  5 \r\nConnection: close\r\n\r\nhello");
  Call call("127.0.0.1", server.port());
  ASSERT_TRUE(call.Send());
  char text[32];
  DWORD len = sizeof text;
  ASSERT_TRUE(HttpQueryInfoA(call.req, HTTP_QUERY_CONTENT_LENGTH, text, &len, nullptr));
  EXPECT_EQ(std::string(text), "5");
  EXPECT_EQ(len, 1u);

  len = 1;  // no room for the zero byte
  EXPECT_FALSE(HttpQueryInfoA(call.req, HTTP_QUERY_CONTENT_LENGTH, text, &len, nullptr));
  EXPECT_EQ(len, 2u);

  DWORD number = 0;
  len = sizeof number;
  ASSERT_TRUE(HttpQueryInfoA(call.req, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER,
                             &number, &len, nullptr));
  EXPECT_EQ(number, 5u);
  len = sizeof number;
  ASSERT_TRUE(HttpQueryInfoA(call.req, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &number,
                             &len, nullptr));
  EXPECT_EQ(number, 200u);

  LoopbackServer chunked("HTTP/1.1 100 Continue\r\nX-Interim: 1\r\n\r\n"
                         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n"
                         "3\r\nabc\r\n0\r\nX-Trailer: t\r\n\r\n");
  Call call2("127.0.0.1", chunked.port());
  ASSERT_TRUE(call2.Send());
  len = sizeof text;
  EXPECT_FALSE(HttpQueryInfoA(call2.req, HTTP_QUERY_CONTENT_LENGTH, text, &len, nullptr));
  EXPECT_EQ(ReadAll(call2.req).body, "abc");
  EXPECT_EQ(RawHeaders(call2.req),
            "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n");
}

// --------------------------------------------------------------- streaming

TEST_F(InetTest, StreamsALargeBodyWithBoundedMemory) {
  constexpr std::size_t kSize = 5 * 1024 * 1024;
  HttpServer http;
  http.server.Get("/big", [](const httplib::Request&, httplib::Response& res) {
    res.set_content_provider(kSize, "application/octet-stream",
                             [](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                               std::string chunk(std::min<std::size_t>(length, 65536), '\0');
                               for (std::size_t i = 0; i < chunk.size(); ++i) {
                                 chunk[i] = static_cast<char>((offset + i) % 251);
                               }
                               return sink.write(chunk.data(), chunk.size());
                             });
  });
  http.Start();
  Options o;
  o.path = "/big";
  Call call("127.0.0.1", http.port(), o);
  ASSERT_TRUE(call.Send());
  std::size_t total = 0, maxHeld = 0;
  bool intact = true;
  char buf[1024];
  for (;;) {
    DWORD got = 0;
    ASSERT_TRUE(InternetReadFile(call.req, buf, sizeof buf, &got));
    if (got == 0) break;
    for (DWORD i = 0; i < got; ++i) {
      intact = intact && buf[i] == static_cast<char>((total + i) % 251);
    }
    total += got;
    maxHeld = std::max(maxHeld, HeldBodyBytesForTesting(call.req));
    ASSERT_LE(total, kSize);
  }
  EXPECT_EQ(total, kSize);
  EXPECT_TRUE(intact);
  EXPECT_LE(maxHeld, std::size_t{1536} * 1024);
  DWORD got = 7;
  EXPECT_TRUE(InternetReadFile(call.req, buf, sizeof buf, &got));  // after the end
  EXPECT_EQ(got, 0u);
}

TEST_F(InetTest, EndlessBodyEndsAsAFailedRead) {
  SetBodyLimitForTesting(3 * 1024 * 1024);
  HttpServer http;
  http.server.Get("/endless", [](const httplib::Request&, httplib::Response& res) {
    res.set_chunked_content_provider("text/plain", [](std::size_t, httplib::DataSink& sink) {
      static const std::string chunk(65536, 'e');
      return sink.write(chunk.data(), chunk.size());
    });
  });
  http.Start();
  Options o;
  o.path = "/endless";
  Call call("127.0.0.1", http.port(), o);
  ASSERT_TRUE(call.Send());
  const ReadOutcome out = ReadAll(call.req, 100 * 1024);
  EXPECT_TRUE(out.failed);
  EXPECT_EQ(GetLastError(), ERROR_INTERNET_BODY_TOO_LARGE);
  EXPECT_EQ(out.body.size(), 3u * 1024 * 1024);
  DWORD got = 9;
  char buf[16];
  EXPECT_FALSE(InternetReadFile(call.req, buf, sizeof buf, &got));
  EXPECT_EQ(got, 0u);
}

TEST_F(InetTest, ARequestsOwnBodyLimitReplacesTheLayersOrLiftsIt) {
  SetBodyLimitForTesting(1024 * 1024);
  HttpServer http;
  http.server.Get("/endless", [](const httplib::Request&, httplib::Response& res) {
    res.set_chunked_content_provider("text/plain", [](std::size_t, httplib::DataSink& sink) {
      static const std::string chunk(65536, 'e');
      return sink.write(chunk.data(), chunk.size());
    });
  });
  http.Start();
  Options o;
  o.path = "/endless";
  Call smaller("127.0.0.1", http.port(), o);
  const std::uint64_t limit = 100 * 1024;
  ASSERT_TRUE(InternetSetOptionA(smaller.req, INTERNET_OPTION_BODY_LIMIT, &limit, sizeof limit));
  ASSERT_TRUE(smaller.Send());
  const ReadOutcome cut = ReadAll(smaller.req, 64 * 1024);
  EXPECT_TRUE(cut.failed);
  EXPECT_EQ(cut.body.size(), limit);

  Call unlimited("127.0.0.1", http.port(), o);
  const std::uint64_t none = 0;
  EXPECT_FALSE(InternetSetOptionA(unlimited.req, INTERNET_OPTION_BODY_LIMIT, &none, 4));
  ASSERT_TRUE(InternetSetOptionA(unlimited.req, INTERNET_OPTION_BODY_LIMIT, &none, sizeof none));
  ASSERT_TRUE(unlimited.Send());
  std::vector<char> buf(256 * 1024);
  std::size_t total = 0;
  while (total < 4u * 1024 * 1024) {
    DWORD got = 0;
    ASSERT_TRUE(InternetReadFile(unlimited.req, buf.data(), static_cast<DWORD>(buf.size()), &got));
    ASSERT_GT(got, 0u);
    total += got;
  }
}

TEST_F(InetTest, ConnectionClosedMidBodyGivesTheBytesSoFar) {
  LoopbackServer server("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n0123456789");
  Call call("127.0.0.1", server.port());
  ASSERT_TRUE(call.Send());
  const ReadOutcome out = ReadAll(call.req);
  EXPECT_EQ(out.body, "0123456789");
  EXPECT_TRUE(out.failed);
  EXPECT_EQ(GetLastError(), ERROR_INTERNET_CONNECTION_ABORTED);
}

TEST_F(InetTest, IdleTransfersTimeOut) {
  SetTimeoutsForTesting(std::chrono::milliseconds(2000), std::chrono::milliseconds(400));
  LoopbackServer midBody([](const std::string&) {
    return Reply{"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n0123456789", Reply::Then::kStall};
  });
  Call call("127.0.0.1", midBody.port());
  ASSERT_TRUE(call.Send());
  const ReadOutcome out = ReadAll(call.req);
  EXPECT_EQ(out.body, "0123456789");
  EXPECT_TRUE(out.failed);
  EXPECT_EQ(GetLastError(), ERROR_INTERNET_TIMEOUT);

  LoopbackServer silent([](const std::string&) { return Reply{"", Reply::Then::kStall}; });
  Call call2("127.0.0.1", silent.port());
  EXPECT_FALSE(call2.Send());
  EXPECT_EQ(GetLastError(), ERROR_INTERNET_TIMEOUT);
  EXPECT_EQ(RawHeaders(call2.req), "");
  EXPECT_TRUE(ReadAll(call2.req).failed);
}

TEST_F(InetTest, RefusedConnectionFailsEveryStep) {
  Call call("127.0.0.1", ClosedLoopbackPort());
  EXPECT_FALSE(call.Send());
  EXPECT_EQ(GetLastError(), ERROR_INTERNET_CANNOT_CONNECT);
  char buf[64];
  DWORD len = sizeof buf;
  EXPECT_FALSE(HttpQueryInfoA(call.req, HTTP_QUERY_RAW_HEADERS_CRLF, buf, &len, nullptr));
  EXPECT_EQ(len, sizeof buf);
  DWORD got = 5;
  EXPECT_FALSE(InternetReadFile(call.req, buf, sizeof buf, &got));
  EXPECT_EQ(got, 0u);
}

// --------------------------------------------------------------- redirects

TEST_F(InetTest, RedirectsFollowedOrReported) {
  HttpServer http;
  http.server.Get("/r1", [](const httplib::Request&, httplib::Response& res) {
    res.status = 302;
    res.set_header("Location", "/r2");
    res.set_content("redirect body", "text/plain");
  });
  http.server.Get("/r2", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("final", "text/plain");
  });
  http.Start();
  Options o;
  o.path = "/r1";
  {
    Call call("127.0.0.1", http.port(), o);
    ASSERT_TRUE(call.Send());
    EXPECT_THAT(RawHeaders(call.req), StartsWith("HTTP/1.1 200 OK\r\n"));
    EXPECT_EQ(ReadAll(call.req).body, "final");
  }
  o.flags |= INTERNET_FLAG_NO_AUTO_REDIRECT;
  {
    Call call("127.0.0.1", http.port(), o);
    ASSERT_TRUE(call.Send());
    const std::string headers = RawHeaders(call.req);
    EXPECT_THAT(headers, StartsWith("HTTP/1.1 302 Found\r\n"));
    EXPECT_THAT(headers, HasSubstr("\r\nLocation: /r2\r\n"));
    EXPECT_EQ(ReadAll(call.req).body, "redirect body");
  }
}

TEST_F(InetTest, RedirectLoopEnds) {
  std::atomic<int> hits{0};
  HttpServer http;
  http.server.Get("/loop", [&](const httplib::Request&, httplib::Response& res) {
    ++hits;
    res.status = 302;
    res.set_header("Location", "/loop");
  });
  http.Start();
  Options o;
  o.path = "/loop";
  Call call("127.0.0.1", http.port(), o);
  EXPECT_FALSE(call.Send());
  EXPECT_EQ(hits.load(), 11);  // the first request and ten redirects
  EXPECT_THAT(RawHeaders(call.req), StartsWith("HTTP/1.1 302"));
  EXPECT_TRUE(ReadAll(call.req).failed);
}

TEST_F(InetTest, RedirectToHttpsNeedsItsFlag) {
  for (const bool allowed : {false, true}) {
    SCOPED_TRACE(allowed);
    std::uint16_t port = 0;
    LoopbackServer server([&port](const std::string& request) {
      if (request.rfind("GET /start", 0) == 0) {
        return Reply{"HTTP/1.1 302 Found\r\nLocation: https://127.0.0.1:" + std::to_string(port) +
                     "/secure\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"};
      }
      return Reply{};  // a TLS greeting: just close
    });
    port = server.port();
    Options o;
    o.path = "/start";
    o.flags = INTERNET_FLAG_RELOAD | (allowed ? INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS : 0);
    Call call("127.0.0.1", server.port(), o);
    EXPECT_FALSE(call.Send());
    EXPECT_THAT(RawHeaders(call.req), StartsWith("HTTP/1.1 302"));
    const std::vector<std::string> requests = server.requests();
    ASSERT_EQ(requests.size(), allowed ? 2u : 1u);
    if (allowed) {
      EXPECT_EQ(requests[1].substr(0, 1), "\x16");  // a TLS handshake record
    }
  }
}

TEST_F(InetTest, SecureRequestsSpeakTlsAndVerify) {
  LoopbackServer server(kOk);  // not TLS: the handshake cannot succeed
  Options o;
  o.flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_SECURE;
  Call call("127.0.0.1", server.port(), o);
  EXPECT_FALSE(call.Send());
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0].substr(0, 2), std::string("\x16\x03", 2));
}

// A key and a self-signed certificate for 127.0.0.1, made for the test.
struct SelfSigned {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  X509* cert = X509_new();
  SelfSigned() {
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    X509_sign(cert, key, EVP_sha256());
  }
  SelfSigned(const SelfSigned&) = delete;
  SelfSigned& operator=(const SelfSigned&) = delete;
  ~SelfSigned() {
    X509_free(cert);
    EVP_PKEY_free(key);
  }
};

TEST_F(InetTest, CertificatesAreVerified) {
  SelfSigned identity;
  ASSERT_NE(identity.key, nullptr);
  std::atomic<int> hits{0};
  testing::BasicHttpServer<httplib::SSLServer> https(identity.cert, identity.key);
  ASSERT_TRUE(https.server.is_valid());
  https.server.Get("/", [&](const httplib::Request&, httplib::Response& res) {
    ++hits;
    res.set_content("secret", "text/plain");
  });
  https.Start();
  Options o;
  o.flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_SECURE;
  Call call("127.0.0.1", https.port(), o);
  EXPECT_FALSE(call.Send());  // a certificate no trusted authority signed
  EXPECT_EQ(hits.load(), 0);
  EXPECT_TRUE(ReadAll(call.req).failed);
}

// ----------------------------------------------------------------- cookies

TEST_F(InetTest, CookieStoreIsSharedUnlessNoCookies) {
  HttpServer http;
  http.server.Get("/set", [](const httplib::Request& req, httplib::Response& res) {
    res.set_header("Set-Cookie",
                   req.get_param_value("n") + "=" + req.get_param_value("v") + "; path=/");
  });
  http.server.Get("/echo", [](const httplib::Request& req, httplib::Response& res) {
    res.set_content(req.get_header_value("Cookie"), "text/plain");
  });
  http.Start();
  ASSERT_TRUE(RouteHost("cookies.example", "127.0.0.1", http.port()));
  auto get = [](const char* path, DWORD extra) {
    Options o;
    o.path = path;
    o.flags = kGetFlags | extra;
    Call call("cookies.example", 80, o);
    EXPECT_TRUE(call.Send());
    return ReadAll(call.req).body;
  };
  get("/set?n=inet_shared&v=1", 0);
  EXPECT_THAT(get("/echo", 0), HasSubstr("inet_shared=1"));
  EXPECT_EQ(get("/echo", INTERNET_FLAG_NO_COOKIES), "");
  get("/set?n=inet_private&v=2", INTERNET_FLAG_NO_COOKIES);
  const std::string sent = get("/echo", 0);
  EXPECT_THAT(sent, HasSubstr("inet_shared=1"));
  EXPECT_THAT(sent, Not(HasSubstr("inet_private")));

  ASSERT_TRUE(InternetSetOptionA(nullptr, INTERNET_OPTION_END_BROWSER_SESSION, nullptr, 0));
  EXPECT_EQ(get("/echo", 0), "");
}

TEST_F(InetTest, TenThousandSetCookieLinesAreHarmless) {
  std::string reply = "HTTP/1.1 200 OK\r\n";
  for (int i = 0; i < 10000; ++i) reply += "Set-Cookie: f" + std::to_string(i) + "=v\r\n";
  reply += "Content-Length: 2\r\nConnection: close\r\n\r\nok";
  LoopbackServer server(reply);
  ASSERT_TRUE(RouteHost("flood.example", "127.0.0.1", server.port()));
  {
    Call call("flood.example", 80);
    ASSERT_TRUE(call.Send());
    EXPECT_EQ(ReadAll(call.req).body, "ok");
    EXPECT_THAT(RawHeaders(call.req), HasSubstr("\r\nSet-Cookie: f9999=v\r\n"));
  }
  {
    Call call("flood.example", 80);
    ASSERT_TRUE(call.Send());
    ReadAll(call.req);
  }
  // The store keeps what it keeps, but the next request stays of modest size.
  ASSERT_EQ(server.requests().size(), 2u);
  EXPECT_THAT(server.requests()[1], HasSubstr("\r\nCookie: "));
  EXPECT_LT(server.requests()[1].size(), 16u * 1024);
}

TEST_F(InetTest, StoreCookiesFollowTheAgent) {
  LoopbackServer server("HTTP/1.1 200 OK\r\nSet-Cookie: k=v; path=/\r\nContent-Length: 0\r\n"
                        "Connection: close\r\n\r\n");
  ASSERT_TRUE(RouteHost("order.example", "127.0.0.1", server.port()));
  for (int i = 0; i < 2; ++i) {
    Call call("order.example", 80);
    ASSERT_TRUE(call.Send("X-A: 1"));
    ReadAll(call.req);
  }
  ASSERT_EQ(server.requests().size(), 2u);
  EXPECT_EQ(server.requests()[1],
            "GET / HTTP/1.1\r\nHost: order.example\r\nUser-Agent: Agent/1\r\nCookie: k=v\r\n"
            "X-A: 1\r\n\r\n");
}

// ---------------------------------------------------------- misbehaving servers

TEST_F(InetTest, BrokenAnswersFailCleanly) {
  std::string manyHeaders = "HTTP/1.1 200 OK\r\n";
  for (int i = 0; i < 20000; ++i) manyHeaders += "Set-Cookie: flood" + std::to_string(i) + "=v\r\n";
  const std::vector<std::string> answers = {
      "SSH-2.0-OpenSSH_9.0\r\n\r\n",
      manyHeaders + "\r\n",
      "HTTP/1.1 200 OK\r\nX-Huge: " + std::string(2 * 1024 * 1024, 'h') + "\r\n\r\n",
      "HTTP/1.1 200 OK\r\nContent-Le",
      "",
  };
  for (const std::string& answer : answers) {
    SCOPED_TRACE(answer.substr(0, 20));
    LoopbackServer server(answer);
    Call call("127.0.0.1", server.port());
    EXPECT_FALSE(call.Send());
    EXPECT_EQ(GetLastError(), answer.empty() ? ERROR_INTERNET_CONNECTION_ABORTED
                                             : ERROR_HTTP_INVALID_SERVER_RESPONSE);
    EXPECT_EQ(RawHeaders(call.req), "");
    EXPECT_TRUE(ReadAll(call.req).failed);
  }
}

TEST_F(InetTest, ManyHeaderBlocksStayBounded) {
  std::string reply;
  for (int i = 0; i < 3000; ++i) reply += "HTTP/1.1 100 Continue\r\nX-Pad: " + std::string(2000, 'p') + "\r\n\r\n";
  reply += kOk;
  LoopbackServer server(reply);
  Call call("127.0.0.1", server.port());
  EXPECT_FALSE(call.Send());  // beyond the header allowance: the transfer ends
  EXPECT_TRUE(ReadAll(call.req).failed);
}

// ------------------------------------------------------------------ proxies

TEST_F(InetTest, ProxyListServesHttpAddresses) {
  LoopbackServer proxy(kOk);
  const std::string list = "http=127.0.0.1:" + std::to_string(proxy.port());
  Options o;
  o.access = INTERNET_OPEN_TYPE_PROXY;
  o.proxy = list.c_str();
  o.path = "/x?y=1";
  Call call("target.example", 8080, o);
  ASSERT_TRUE(call.Send("Accept: */*"));
  EXPECT_EQ(ReadAll(call.req).body, "hello");
  ASSERT_EQ(proxy.requests().size(), 1u);
  EXPECT_THAT(proxy.requests()[0], StartsWith("GET http://target.example:8080/x?y=1 HTTP/1.1\r\n"
                                              "Host: target.example:8080\r\n"));
}

TEST_F(InetTest, SchemesWithoutAProxyGoDirect) {
  LoopbackServer proxy(kOk);
  LoopbackServer target(kOk);
  ASSERT_TRUE(RouteHost("direct.example", "127.0.0.1", target.port()));
  const std::string p = "127.0.0.1:" + std::to_string(proxy.port());
  for (const std::string& list : {std::string("http="), "https=" + p, "http=bad/host:1 " + p}) {
    SCOPED_TRACE(list);
    Options o;
    o.access = INTERNET_OPEN_TYPE_PROXY;
    o.proxy = list.c_str();
    Call call("direct.example", 80, o);
    ASSERT_TRUE(call.Send());
    EXPECT_EQ(ReadAll(call.req).body, "hello");
  }
  EXPECT_EQ(proxy.requests().size(), 0u);
  EXPECT_EQ(target.requests().size(), 3u);
}

TEST_F(InetTest, DirectIgnoresTheEnvironmentAndPreconfigUsesIt) {
  LoopbackServer proxy(kOk);
  LoopbackServer target(kOk);
  setenv("http_proxy", ("http://127.0.0.1:" + std::to_string(proxy.port())).c_str(), 1);
  {
    ASSERT_TRUE(RouteHost("plain.example", "127.0.0.1", target.port()));
    Call call("plain.example", 80);
    ASSERT_TRUE(call.Send());
    ReadAll(call.req);
    EXPECT_EQ(target.requests().size(), 1u);
    EXPECT_EQ(proxy.requests().size(), 0u);
    ClearRoutes();
  }
  {
    Call call("preconfig.example", 80);
    INTERNET_PROXY_INFO info{INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr};
    ASSERT_TRUE(InternetSetOptionA(call.root, INTERNET_OPTION_PROXY, &info, sizeof info));
    ASSERT_TRUE(InternetSetOptionA(call.conn, INTERNET_OPTION_PROXY_USERNAME, "", 0));
    ASSERT_TRUE(InternetSetOptionA(call.conn, INTERNET_OPTION_PROXY_PASSWORD, "", 0));
    ASSERT_TRUE(call.Send());
    EXPECT_EQ(ReadAll(call.req).body, "hello");
    ASSERT_EQ(proxy.requests().size(), 1u);
    EXPECT_THAT(proxy.requests()[0], StartsWith("GET http://preconfig.example/ HTTP/1.1\r\n"));
  }
}

// ------------------------------------------------------------------ handles

TEST_F(InetTest, BadHandlesFailWithoutHarm) {
  const auto bogus = reinterpret_cast<HINTERNET>(std::uintptr_t{0xdead0});
  char buf[16];
  DWORD n = 3;
  EXPECT_FALSE(InternetReadFile(bogus, buf, sizeof buf, &n));
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(InternetReadFile(nullptr, buf, sizeof buf, &n));
  EXPECT_FALSE(HttpSendRequestA(bogus, nullptr, 0, nullptr, 0));
  n = sizeof buf;
  EXPECT_FALSE(HttpQueryInfoA(bogus, HTTP_QUERY_RAW_HEADERS_CRLF, buf, &n, nullptr));
  EXPECT_FALSE(InternetCloseHandle(bogus));
  EXPECT_FALSE(InternetCloseHandle(nullptr));

  HINTERNET root = InternetOpenA("a", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(InternetOpenA("a", 2, nullptr, nullptr, 0), nullptr);
  EXPECT_EQ(InternetConnectA(root, "", 80, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0), nullptr);
  EXPECT_EQ(InternetConnectA(root, "h", 80, nullptr, nullptr, 1, 0, 0), nullptr);
  HINTERNET conn = InternetConnectA(root, "h", 80, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
  ASSERT_NE(conn, nullptr);
  EXPECT_EQ(InternetConnectA(conn, "h", 80, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0), nullptr);
  EXPECT_EQ(HttpOpenRequestA(root, "GET", "/", nullptr, nullptr, nullptr, 0, 0), nullptr);
  EXPECT_EQ(HttpOpenRequestA(conn, "G T", "/", nullptr, nullptr, nullptr, 0, 0), nullptr);
  HINTERNET req = HttpOpenRequestA(conn, "GET", "/", nullptr, nullptr, nullptr, 0, 0);
  ASSERT_NE(req, nullptr);
  EXPECT_FALSE(InternetReadFile(req, buf, sizeof buf, &n));  // not sent
  EXPECT_EQ(GetLastError(), ERROR_INTERNET_INCORRECT_HANDLE_STATE);
  n = sizeof buf;
  EXPECT_FALSE(HttpQueryInfoA(req, HTTP_QUERY_RAW_HEADERS_CRLF, buf, &n, nullptr));
  EXPECT_TRUE(InternetCloseHandle(req));
  EXPECT_FALSE(InternetCloseHandle(req));
  EXPECT_FALSE(HttpSendRequestA(req, nullptr, 0, nullptr, 0));
  EXPECT_TRUE(InternetCloseHandle(conn));
  EXPECT_TRUE(InternetCloseHandle(root));
}

TEST_F(InetTest, ChildrenOutliveTheirParents) {
  LoopbackServer server(kOk);
  HINTERNET root = InternetOpenA("a", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  HINTERNET conn = InternetConnectA(root, "127.0.0.1", server.port(), nullptr, nullptr,
                                    INTERNET_SERVICE_HTTP, 0, 0);
  HINTERNET req = HttpOpenRequestA(conn, "GET", "/", nullptr, nullptr, nullptr, 0, 0);
  EXPECT_TRUE(InternetCloseHandle(root));
  EXPECT_TRUE(InternetCloseHandle(conn));
  ASSERT_TRUE(HttpSendRequestA(req, nullptr, 0, nullptr, 0));
  EXPECT_EQ(ReadAll(req).body, "hello");
  EXPECT_TRUE(InternetCloseHandle(req));
}

TEST_F(InetTest, SendingAgainStartsANewRequest) {
  int n = 0;
  LoopbackServer server([&n](const std::string&) {
    const std::string body = "answer" + std::to_string(++n);
    return Reply{"HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                 "\r\nConnection: close\r\n\r\n" + body};
  });
  Call call("127.0.0.1", server.port());
  ASSERT_TRUE(call.Send());
  char b[3];
  DWORD got = 0;
  ASSERT_TRUE(InternetReadFile(call.req, b, sizeof b, &got));
  EXPECT_EQ(got, 3u);
  ASSERT_TRUE(call.Send());
  EXPECT_EQ(ReadAll(call.req).body, "answer2");
}

TEST_F(InetTest, ClosingFromAnotherThreadEndsABlockedRead) {
  LoopbackServer server([](const std::string&) {
    return Reply{"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n", Reply::Then::kStall};
  });
  Call call("127.0.0.1", server.port());
  ASSERT_TRUE(call.Send());
  std::atomic<int> result{-1};
  std::atomic<DWORD> error{0};
  std::thread reader([&] {
    char buf[16];
    DWORD got = 0;
    const BOOL ok = InternetReadFile(call.req, buf, sizeof buf, &got);
    error = GetLastError();
    result = ok;
  });
  // Wait until the reader is inside its call (a second call is refused then).
  for (int i = 0; i < 5000 && result.load() == -1; ++i) {
    char buf[1];
    DWORD got = 0;
    if (!InternetReadFile(call.req, buf, 0, &got)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_TRUE(InternetCloseHandle(call.req));
  reader.join();
  EXPECT_EQ(result.load(), 0);
  EXPECT_EQ(error.load(), ERROR_INTERNET_OPERATION_CANCELLED);
}

// ---------------------------------------------------------- hook and routes

std::atomic<int> g_hookCalls{0};
HINTERNET g_hookRequest = nullptr;
std::atomic<int> g_hookReentryRefused{0};

void CountingHook() {
  ++g_hookCalls;
  char b[4];
  DWORD got = 1;
  if (!InternetReadFile(g_hookRequest, b, sizeof b, &got)) ++g_hookReentryRefused;
}

TEST_F(InetTest, BlockingHookRunsWhileWaiting) {
  LoopbackServer server([](const std::string&) {
    return Reply{kOk, Reply::Then::kClose, std::chrono::milliseconds(300)};
  });
  Call call("127.0.0.1", server.port());
  g_hookCalls = 0;
  g_hookReentryRefused = 0;
  g_hookRequest = call.req;
  SetBlockingHook(&CountingHook);
  ASSERT_TRUE(call.Send());
  SetBlockingHook(nullptr);
  EXPECT_GE(g_hookCalls.load(), 2);
  EXPECT_EQ(g_hookReentryRefused.load(), g_hookCalls.load());
  EXPECT_EQ(ReadAll(call.req).body, "hello");
}

TEST_F(InetTest, RoutesAreCheckedAndReplaceable) {
  EXPECT_FALSE(RouteHost("", "127.0.0.1", 80));
  EXPECT_FALSE(RouteHost("a b", "127.0.0.1", 80));
  EXPECT_FALSE(RouteHost("h.example", "127.0.0.1:80", 80));
  EXPECT_FALSE(RouteHost("h.example", "127.0.0.1", 0));
  LoopbackServer first("HTTP/1.1 200 OK\r\nContent-Length: 1\r\nConnection: close\r\n\r\n1");
  LoopbackServer second("HTTP/1.1 200 OK\r\nContent-Length: 1\r\nConnection: close\r\n\r\n2");
  ASSERT_TRUE(RouteHost("Route.Example", "127.0.0.1", first.port()));
  ASSERT_TRUE(RouteHost("route.example", "127.0.0.1", second.port()));
  Call call("ROUTE.example", 1234);
  ASSERT_TRUE(call.Send());
  EXPECT_EQ(ReadAll(call.req).body, "2");
  EXPECT_THAT(second.requests().at(0), HasSubstr("\r\nHost: ROUTE.example:1234\r\n"));
}

}  // namespace
}  // namespace qelvaro::platform
