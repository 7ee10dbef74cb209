// Servers for the internet layer's tests, all on 127.0.0.1 and a free port:
// RawServer records the exact bytes of each request and answers canned bytes
// (or stalls, or closes early); HttpServer runs a cpp-httplib server.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <httplib.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qelvaro::platform::testing {

// What a RawServer does for one connection.
struct RawReply {
  std::string bytes;                          // sent as they are
  std::chrono::milliseconds delay{0};         // waited before sending
  bool stall = false;                         // keep the connection open afterwards
};

class RawServer {
 public:
  using Handler = std::function<RawReply(const std::string& request)>;

  explicit RawServer(Handler handler) : handler_(std::move(handler)) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(listener_, 16);
    socklen_t len = sizeof addr;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  // Answers every request with the same bytes.
  explicit RawServer(std::string reply)
      : RawServer([reply](const std::string&) { return RawReply{reply}; }) {}

  RawServer(const RawServer&) = delete;
  RawServer& operator=(const RawServer&) = delete;
  ~RawServer() {
    stop_ = true;
    thread_.join();
    close(listener_);
  }

  std::uint16_t port() const { return port_; }
  std::vector<std::string> requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  bool Wait(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, ms) > 0;
  }

  // Reads one request: the head up to the empty line and a body of the
  // announced Content-Length; or what came before the peer paused or closed.
  std::string ReadRequest(int fd) {
    std::string data;
    const auto start = std::chrono::steady_clock::now();
    auto quiet = std::chrono::steady_clock::now();
    while (!stop_ && std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) {
      const std::size_t head = data.find("\r\n\r\n");
      if (head != std::string::npos) {
        std::size_t length = 0;
        std::string lower = data.substr(0, head);
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const std::size_t cl = lower.find("\r\ncontent-length:");
        if (cl != std::string::npos) length = std::stoul(lower.substr(cl + 17));
        if (data.size() >= head + 4 + length) break;
      }
      if (!Wait(fd, 20)) {
        if (!data.empty() && std::chrono::steady_clock::now() - quiet > std::chrono::milliseconds(300)) break;
        continue;
      }
      char buf[65536];
      const ssize_t n = recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      data.append(buf, static_cast<std::size_t>(n));
      quiet = std::chrono::steady_clock::now();
    }
    return data;
  }

  void Serve(int fd) {
    const std::string request = ReadRequest(fd);
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(request);
    }
    const RawReply reply = handler_(request);
    const auto until = std::chrono::steady_clock::now() + reply.delay;
    while (!stop_ && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::size_t sent = 0;
    while (!stop_ && sent < reply.bytes.size()) {
      const ssize_t n = send(fd, reply.bytes.data() + sent, reply.bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<std::size_t>(n);
    }
    while (reply.stall && !stop_) {
      if (Wait(fd, 20)) {
        char buf[4096];
        if (recv(fd, buf, sizeof buf, 0) <= 0) break;  // the client gave up
      }
    }
    shutdown(fd, SHUT_RDWR);
    close(fd);
  }

  void Run() {
    while (!stop_) {
      if (!Wait(listener_, 20)) continue;
      const int fd = accept(listener_, nullptr, nullptr);
      if (fd >= 0) Serve(fd);
    }
  }

  Handler handler_;
  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

// A cpp-httplib server (plain, or SSLServer) run on a thread of its own.
template <typename Server = httplib::Server>
class BasicHttpServer {
 public:
  template <typename... Args>
  explicit BasicHttpServer(Args&&... args) : server(std::forward<Args>(args)...) {}
  BasicHttpServer(const BasicHttpServer&) = delete;
  BasicHttpServer& operator=(const BasicHttpServer&) = delete;
  ~BasicHttpServer() {
    server.stop();
    if (thread_.joinable()) thread_.join();
  }
  // Call after the routes are set.
  void Start() {
    port_ = server.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server.listen_after_bind(); });
    while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::uint16_t port() const { return static_cast<std::uint16_t>(port_); }

  Server server;

 private:
  int port_ = 0;
  std::thread thread_;
};
using HttpServer = BasicHttpServer<>;

// A port on 127.0.0.1 that nothing listens on.
inline std::uint16_t ClosedPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}

}  // namespace qelvaro::platform::testing
