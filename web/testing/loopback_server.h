// A raw HTTP server on 127.0.0.1 for the web routines' tests: it records the
// exact bytes of every request and answers each connection with canned bytes,
// then closes, stalls or sends without end. Each connection is served on a
// thread of its own, so a stalled one never holds up the next.
//
// Owns: the listening socket, the connection threads and the record of
// requests. Does not own: any HTTP logic beyond finding the end of a request
// (the head and a body of its Content-Length).
//
// Example:
//   LoopbackServer server(OkReply("hello"));
//   Bytes body = WebRequest(server.Url("/a"));
//   server.requests()[0]   // "GET /a HTTP/1.1\r\nHost: 127.0.0.1:..."
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace qelvaro::testing {

// What the server does with one connection once it has read the request.
struct Reply {
  enum class Then {
    kClose,    // close after the bytes
    kStall,    // keep the connection open, silent, until the client goes
    kEndless,  // keep sending filler bytes until the client goes
  };
  std::string bytes;
  Then then = Then::kClose;
  std::chrono::milliseconds delay{0};  // waited before the bytes
};

// "HTTP/1.1 200 OK" with Content-Length and "Connection: close".
inline std::string OkReply(std::string_view body, std::string_view extraLines = "") {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
         std::string(extraLines) + "Connection: close\r\n\r\n" + std::string(body);
}

// A port on 127.0.0.1 that nothing listens on.
inline std::uint16_t ClosedLoopbackPort() {
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

class LoopbackServer {
 public:
  using Handler = std::function<Reply(const std::string& request)>;

  explicit LoopbackServer(Handler handler) : handler_(std::move(handler)) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(listener_, 64);
    socklen_t len = sizeof addr;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] { Accept(); });
  }
  // Answers every connection with the same bytes, then closes.
  explicit LoopbackServer(std::string reply)
      : LoopbackServer([reply = std::move(reply)](const std::string&) { return Reply{reply}; }) {}

  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;
  ~LoopbackServer() {
    stop_ = true;
    acceptor_.join();
    std::vector<std::thread> threads;
    {
      std::lock_guard lock(mutex_);
      threads = std::move(threads_);
    }
    for (std::thread& t : threads) t.join();
    close(listener_);
  }

  std::uint16_t port() const { return port_; }
  // "http://127.0.0.1:PORT" followed by path.
  std::string Url(std::string_view path = "/") const {
    return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
  }
  // The requests read so far, in the order they were read.
  std::vector<std::string> requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  // The connections accepted so far.
  int connections() const { return connections_.load(); }

 private:
  static bool Readable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, ms) > 0;
  }
  static bool Writable(int fd, int ms) {
    pollfd p{fd, POLLOUT, 0};
    return poll(&p, 1, ms) > 0 && (p.revents & (POLLERR | POLLHUP)) == 0;
  }

  // The head up to the empty line and a body of the announced length; or
  // what came before the client closed or went quiet.
  std::string ReadRequest(int fd) {
    std::string data;
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    auto lastData = Clock::now();
    while (!stop_ && Clock::now() - start < std::chrono::seconds(10)) {
      const std::size_t head = data.find("\r\n\r\n");
      if (head != std::string::npos) {
        std::string lower = data.substr(0, head);
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::size_t length = 0;
        const std::size_t cl = lower.find("\r\ncontent-length:");
        if (cl != std::string::npos) length = std::stoul(lower.substr(cl + 17));
        if (data.size() >= head + 4 + length) break;
      }
      if (!Readable(fd, 20)) {
        if (!data.empty() && Clock::now() - lastData > std::chrono::milliseconds(500)) break;
        continue;
      }
      char buf[65536];
      const ssize_t n = recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      data.append(buf, static_cast<std::size_t>(n));
      lastData = Clock::now();
    }
    return data;
  }

  // Sends all of bytes unless the client goes or the server stops.
  bool SendAll(int fd, std::string_view bytes) {
    while (!bytes.empty() && !stop_) {
      if (!Writable(fd, 20)) continue;
      const ssize_t n = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) continue;
      if (n <= 0) return false;
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return !stop_;
  }

  void Serve(int fd) {
    const std::string request = ReadRequest(fd);
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(request);
    }
    const Reply reply = handler_(request);
    const auto until = std::chrono::steady_clock::now() + reply.delay;
    while (!stop_ && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    bool open = SendAll(fd, reply.bytes);
    if (reply.then == Reply::Then::kEndless) {
      const std::string filler(64 * 1024, 'x');
      while (open) open = SendAll(fd, filler);
    } else if (reply.then == Reply::Then::kStall) {
      while (!stop_) {
        if (Readable(fd, 20)) {
          char buf[4096];
          if (recv(fd, buf, sizeof buf, 0) <= 0) break;  // the client gave up
        }
      }
    }
    shutdown(fd, SHUT_RDWR);
    close(fd);
  }

  void Accept() {
    while (!stop_) {
      if (!Readable(listener_, 20)) continue;
      const int fd = accept(listener_, nullptr, nullptr);
      if (fd < 0) continue;
      ++connections_;
      std::lock_guard lock(mutex_);
      threads_.emplace_back([this, fd] { Serve(fd); });
    }
  }

  Handler handler_;
  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::vector<std::thread> threads_;
  std::thread acceptor_;
};

}  // namespace qelvaro::testing
