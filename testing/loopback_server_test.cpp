#include "testing/loopback_server.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>

namespace qelvaro::testing {
namespace {

// A plain client socket to 127.0.0.1:port; every read is bounded.
class Client {
 public:
  explicit Client(std::uint16_t port) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;
  ~Client() { close(fd_); }

  bool connected() const { return connected_; }
  void Send(const std::string& bytes) const {
    ASSERT_EQ(send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
  }
  // Up to n bytes; fewer when the server closes first. nullopt when nothing
  // at all came for 30 s.
  std::optional<std::string> Read(std::size_t n) const {
    std::string got;
    while (got.size() < n) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 30000) <= 0) return std::nullopt;
      char buf[65536];
      const ssize_t r = recv(fd_, buf, std::min(sizeof buf, n - got.size()), 0);
      if (r <= 0) break;
      got.append(buf, static_cast<std::size_t>(r));
    }
    return got;
  }
  // Everything until the server closes.
  std::optional<std::string> ReadToEnd() const { return Read(std::size_t{1} << 30); }

 private:
  int fd_;
  bool connected_ = false;
};

TEST(LoopbackServerTest, RecordsTheExactRequestAndSendsTheReply) {
  static const std::string kBody(100000, 'b');
  LoopbackServer server([](const std::string& request) {
    return Reply{"HTTP/1.1 200 OK\r\n\r\n" + std::to_string(request.size()) + ":",
                 Reply::Then::kClose, {}, kBody};
  });
  const std::string head = "POST /a HTTP/1.1\r\nHost: h\r\ncontent-LENGTH:  7\r\n\r\n";
  Client client(server.port());
  ASSERT_TRUE(client.connected());
  client.Send(head + "a=1");
  client.Send("&b=2");  // the rest of the announced body, in a second piece
  EXPECT_EQ(client.ReadToEnd(), "HTTP/1.1 200 OK\r\n\r\n" + std::to_string(head.size() + 7) + ":" +
                                    kBody);
  EXPECT_EQ(server.requests(), std::vector<std::string>{head + "a=1&b=2"});
  EXPECT_EQ(server.connections(), 1);
  EXPECT_EQ(server.Url("/x"), "http://127.0.0.1:" + std::to_string(server.port()) + "/x");
}

TEST(LoopbackServerTest, OddRequestsAreRecordedAsTheyCame) {
  const std::string cases[] = {
      "GET / HTTP/1.1\r\nContent-Length: nonsense\r\n\r\n",
      "GET / HTTP/1.1\r\nContent-Length: 99999999999999999999999999\r\n\r\nabc",
      "GET / HTTP/1.1\r\nHost: no empty line",
  };
  for (const std::string& request : cases) {
    SCOPED_TRACE(request);
    LoopbackServer server(OkReply("ok"));
    Client client(server.port());
    ASSERT_TRUE(client.connected());
    client.Send(request);
    EXPECT_EQ(client.ReadToEnd(), OkReply("ok"));
    EXPECT_EQ(server.requests(), std::vector<std::string>{request});
  }
}

TEST(LoopbackServerTest, StalledAndEndlessConnectionsEndWithTheServer) {
  std::optional<LoopbackServer> stalling(std::in_place, [](const std::string&) {
    return Reply{"head", Reply::Then::kStall};
  });
  std::optional<LoopbackServer> endless(std::in_place, [](const std::string&) {
    return Reply{"head", Reply::Then::kEndless};
  });
  Client a(stalling->port()), b(stalling->port()), c(endless->port());
  for (const Client* client : {&a, &b, &c}) {
    ASSERT_TRUE(client->connected());
    client->Send("GET / HTTP/1.1\r\n\r\n");
  }
  // Both stalled connections are served at once.
  EXPECT_EQ(a.Read(4), "head");
  EXPECT_EQ(b.Read(4), "head");
  EXPECT_EQ(c.Read(4 + 300000), "head" + std::string(300000, 'x'));

  stalling.reset();  // returns although both clients still hold on
  EXPECT_EQ(a.ReadToEnd(), "");
  EXPECT_EQ(b.ReadToEnd(), "");
  endless.reset();  // returns although the client reads no more
}

TEST(LoopbackServerTest, ClosedPortRefusesAndMovedServerKeepsServing) {
  Client refused(ClosedLoopbackPort());
  EXPECT_FALSE(refused.connected());

  LoopbackServer first(OkReply("1"));
  const std::uint16_t port = first.port();
  LoopbackServer moved(std::move(first));
  EXPECT_EQ(moved.port(), port);
  Client client(port);
  ASSERT_TRUE(client.connected());
  client.Send("GET / HTTP/1.1\r\n\r\n");
  EXPECT_EQ(client.ReadToEnd(), OkReply("1"));
  EXPECT_EQ(moved.connections(), 1);
}

TEST(LoopbackServerTest, ClearProxyEnvironmentUnsetsEveryProxyVariable) {
  const char* const names[] = {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                               "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"};
  for (const char* name : names) setenv(name, "http://127.0.0.1:1", 1);
  ClearProxyEnvironment();
  for (const char* name : names) EXPECT_EQ(std::getenv(name), nullptr) << name;
}

}  // namespace
}  // namespace qelvaro::testing
