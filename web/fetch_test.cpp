#include "web/fetch.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/inet/inet.h"
#include "platform/inet/inet_testing.h"
#include "testing/loopback_server.h"
#include "web/fetch_testing.h"
#include "web/testing/network_test.h"

namespace qelvaro {
namespace {

using ::testing::ElementsAre;
using testing::LoopbackServer;
using testing::OkReply;
using testing::Reply;

constexpr char kAgentLine[] = "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

std::vector<std::string> LinesStartingWith(const std::string& request, const std::string& prefix) {
  std::vector<std::string> out;
  std::size_t at = 0;
  while (true) {
    const std::size_t end = request.find("\r\n", at);
    if (end == std::string::npos || end == at) break;
    const std::string line = request.substr(at, end - at);
    if (line.rfind(prefix, 0) == 0) out.push_back(line);
    at = end + 2;
  }
  return out;
}

class FetchResourceTest : public WebNetworkTest {
 protected:
  void SetUp() override {
    WebNetworkTest::SetUp();
    ReleaseFetchRoot();
  }
  void TearDown() override {
    WebNetworkTest::TearDown();
    ReleaseFetchRoot();
  }
};

TEST_F(FetchResourceTest, EmptyAddressOpensNothing) {
  LoopbackServer server(OkReply("never"));
  EXPECT_TRUE(FetchResource(Text()).empty());
  EXPECT_EQ(FetchRootForTesting(), nullptr);
  EXPECT_EQ(server.connections(), 0);
}

TEST_F(FetchResourceTest, RequestAndObjectPath) {
  const struct Case {
    const char* path;  // after "http://127.0.0.1:PORT"
    const char* sent;
  } cases[] = {
      {"/pic/a.jpg?x=1#frag", "/pic/a.jpg?x=1"},
      {"/notice.txt#", "/notice.txt"},
      {"", "/"},
      {"/a/./b/../c.gif", "/a/c.gif"},
      {"/a\\b.gif", "/a/b.gif"},
      {"/a b.jpg", "/a%20b.jpg"},
      {"/\xB8\xE8.jpg", "/%B8%E8.jpg"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    LoopbackServer server(OkReply("bytes"));
    EXPECT_EQ(FetchResource(Text(server.Url(c.path))), Bytes(std::string("bytes")));
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0], std::string("GET ") + c.sent + " HTTP/1.0\r\nHost: 127.0.0.1:" +
                                        std::to_string(server.port()) + "\r\n" + kAgentLine +
                                        "\r\nAccept: */*\r\n\r\n");
  }
}

TEST_F(FetchResourceTest, ErrorPageComesBack) {
  LoopbackServer server("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found");
  EXPECT_EQ(FetchResource(Text(server.Url("/missing.jpg"))), Bytes(std::string("not found")));
}

TEST_F(FetchResourceTest, PieceSizeFollowsTheAnnouncedLength) {
  const auto body = [](std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i % 251);
    return s;
  };
  const struct Case {
    const char* name;
    std::string reply;
    std::string want;
    std::int32_t piece;
  } cases[] = {
      {"none", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body(30000), body(30000), 10240},
      {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n",
       "abc", 10240},
      {"zero", OkReply(""), "", 10240},
      {"one", OkReply("a"), "a", 2},
      {"five", OkReply("hello"), "hello", 6},
      {"just below", OkReply(body(102398)), body(102398), 102399},
      {"one short", OkReply(body(102399)), body(102399), 102400},
      {"at the cap", OkReply(body(102400)), body(102400), 102400},
      {"a megabyte", OkReply(body(1 << 20)), body(1 << 20), 102400},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LoopbackServer server(c.reply);
    EXPECT_EQ(FetchResource(Text(server.Url("/p"))), Bytes(c.want));
    EXPECT_EQ(LastFetchPieceSizeForTesting(), c.piece);
  }
}

TEST_F(FetchResourceTest, FetchesShareOneRootHandle) {
  LoopbackServer server(OkReply("x"));
  EXPECT_EQ(FetchResource(Text(server.Url("/1"))), Bytes(std::string("x")));
  const platform::HINTERNET root = FetchRootForTesting();
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(FetchResource(Text(server.Url("/2"))), Bytes(std::string("x")));
  EXPECT_EQ(FetchRootForTesting(), root);
  ASSERT_EQ(server.requests().size(), 2u);
  for (const std::string& request : server.requests()) {
    EXPECT_THAT(LinesStartingWith(request, "User-Agent"), ElementsAre(kAgentLine));
    EXPECT_THAT(LinesStartingWith(request, "Accept"), ElementsAre("Accept: */*"));
  }

  // Released at the end of the run; a later fetch makes a new one.
  ReleaseFetchRoot();
  EXPECT_EQ(FetchRootForTesting(), nullptr);
  EXPECT_EQ(FetchResource(Text(server.Url("/3"))), Bytes(std::string("x")));
  EXPECT_NE(FetchRootForTesting(), nullptr);
  EXPECT_NE(FetchRootForTesting(), root);
}

TEST_F(FetchResourceTest, FailedRootIsTriedAgainByTheNextCall) {
  LoopbackServer server(OkReply("x"));
  FailNextFetchRootForTesting();
  EXPECT_TRUE(FetchResource(Text(server.Url("/1"))).empty());
  EXPECT_EQ(FetchRootForTesting(), nullptr);
  EXPECT_EQ(server.connections(), 0);
  EXPECT_EQ(FetchResource(Text(server.Url("/2"))), Bytes(std::string("x")));
  EXPECT_NE(FetchRootForTesting(), nullptr);
}

TEST_F(FetchResourceTest, AddressesThatGiveNothing) {
  LoopbackServer server(OkReply("never"));
  const std::string at = "127.0.0.1:" + std::to_string(server.port());
  const std::string cases[] = {
      "ftp://" + at + "/x",             // neither http nor https
      "file:///etc/hostname",
      "mailto:someone@127.0.0.1",
      at + "/x",                        // no scheme
      "no address at all",
      "http://127.0.0.1:" + std::to_string(server.port() + 65536) + "/x",
      "http://" + at + ":x/",
      "http://" + std::string(256, 'h') + "/x",   // host beyond its buffer
      "http://" + at + "/" + std::string(2047, 'p'),  // path beyond its buffer
      "http://" + at + "/p#" + std::string(2045, 'f'),  // the fragment counts
  };
  for (const std::string& url : cases) {
    SCOPED_TRACE(url.substr(0, 60));
    EXPECT_TRUE(FetchResource(Text(url)).empty());
  }
  EXPECT_EQ(server.connections(), 0);
  // The longest path that fits its buffer goes out.
  EXPECT_EQ(FetchResource(Text(server.Url("/" + std::string(2046, 'p')))),
            Bytes(std::string("never")));
}

TEST_F(FetchResourceTest, UsesTheDesktopProxySetting) {
  LoopbackServer proxy(OkReply("via proxy"));
  setenv("http_proxy", proxy.Url("").c_str(), 1);
  EXPECT_EQ(FetchResource("http://img.music.example/star/a.jpg"), Bytes(std::string("via proxy")));
  ASSERT_EQ(proxy.requests().size(), 1u);
  EXPECT_EQ(proxy.requests()[0].substr(0, 50), "GET http://img.music.example/star/a.jpg HTTP/1.0\r\n");
}

Reply RedirectingCookieServer(const std::string& request) {
  if (request.rfind("GET /old ", 0) == 0) {
    return Reply{"HTTP/1.1 301 Moved\r\nLocation: /new\r\nSet-Cookie: s=1; path=/\r\n"
                 "Content-Length: 0\r\nConnection: close\r\n\r\n"};
  }
  return Reply{OkReply("new")};
}

TEST_F(FetchResourceTest, RedirectsAndCookiesAreLeftToTheLayer) {
  LoopbackServer server(RedirectingCookieServer);
  EXPECT_EQ(FetchResource(Text(server.Url("/old"))), Bytes(std::string("new")));
  ASSERT_EQ(server.requests().size(), 2u);
  EXPECT_THAT(LinesStartingWith(server.requests()[1], "Cookie"), ElementsAre("Cookie: s=1"));
}

TEST_F(FetchResourceTest, MisbehavingServers) {
  platform::SetTimeoutsForTesting(std::chrono::milliseconds(2000), std::chrono::milliseconds(800));
  platform::SetBodyLimitForTesting(300 * 1024);
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n";
  const struct Case {
    const char* name;
    Reply reply;
    std::string want;
  } cases[] = {
      {"stalls mid-body", {head + "0123456789", Reply::Then::kStall}, "0123456789"},
      {"closes mid-body", {head + std::string(20000, 'c')}, std::string(20000, 'c')},
      {"silent", {"", Reply::Then::kStall}, ""},
      {"not http", {"SPAM 200 OK\r\n\r\nbody"}, ""},
      {"endless", {"HTTP/1.1 200 OK\r\n\r\n", Reply::Then::kEndless}, std::string(300 * 1024, 'x')},
      {"redirect loop",
       {"HTTP/1.1 302 Found\r\nLocation: /loop\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"},
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LoopbackServer server([&](const std::string&) { return c.reply; });
    EXPECT_EQ(FetchResource(Text(server.Url("/loop"))), Bytes(c.want));
  }
}

}  // namespace
}  // namespace qelvaro
