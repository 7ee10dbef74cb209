#include "testing/loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <list>
#include <mutex>
#include <thread>
#include <utility>

namespace qelvaro::testing {
namespace {

using Clock = std::chrono::steady_clock;

// How long one poll waits before the stop signal is looked at again.
constexpr int kPollMs = 20;
// A request ends when the client has been quiet this long after sending
// something, and at the latest after kReadLimit.
constexpr auto kQuiet = std::chrono::milliseconds(500);
constexpr auto kReadLimit = std::chrono::seconds(10);

sockaddr_in LoopbackAddress() {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return addr;  // port 0: any free one
}

std::uint16_t BoundPort(int fd) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
  return ntohs(addr.sin_port);
}

bool Readable(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, ms) > 0;
}

enum class Room { kNone, kSome, kGone };
Room Writable(int fd, int ms) {
  pollfd p{fd, POLLOUT, 0};
  if (poll(&p, 1, ms) <= 0) return Room::kNone;
  return (p.revents & (POLLERR | POLLHUP)) != 0 ? Room::kGone : Room::kSome;
}

// The value of the head's Content-Length line; 0 when there is none or it
// does not start with a digit. Saturates instead of overflowing.
std::size_t ContentLength(std::string_view head) {
  std::string lower(head);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  constexpr std::string_view kName = "\r\ncontent-length:";
  const std::size_t at = lower.find(kName);
  if (at == std::string::npos) return 0;
  std::size_t i = at + kName.size();
  while (i < lower.size() && (lower[i] == ' ' || lower[i] == '\t')) ++i;
  std::size_t length = 0;
  constexpr std::size_t kMost = std::size_t{1} << 40;
  for (; i < lower.size() && std::isdigit(static_cast<unsigned char>(lower[i])) != 0; ++i) {
    length = std::min(kMost, length * 10 + static_cast<std::size_t>(lower[i] - '0'));
  }
  return length;
}

}  // namespace

std::string OkReply(std::string_view body, std::string_view extraLines) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
         std::string(extraLines) + "Connection: close\r\n\r\n" + std::string(body);
}

std::uint16_t ClosedLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr = LoopbackAddress();
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  const std::uint16_t port = BoundPort(fd);
  close(fd);
  return port;
}

void ClearProxyEnvironment() {
  for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy",
                           "ALL_PROXY", "no_proxy", "NO_PROXY"}) {
    unsetenv(name);
  }
}

struct LoopbackServer::State {
  struct Connection {
    std::thread thread;
    std::atomic<bool> done{false};
  };

  Handler handler;
  std::mutex handlerMutex;  // one handler call at a time
  int listener = -1;
  std::uint16_t port = 0;
  std::atomic<bool> stop{false};
  std::atomic<int> connections{0};
  mutable std::mutex mutex;  // guards requests and open
  std::vector<std::string> requests;
  std::list<Connection> open;
  std::thread acceptor;

  // The head up to the empty line and a body of the announced length; or
  // what came before the client closed or went quiet.
  std::string ReadRequest(int fd) const {
    std::string data;
    const auto start = Clock::now();
    auto lastData = start;
    while (!stop && Clock::now() - start < kReadLimit) {
      const std::size_t head = data.find("\r\n\r\n");
      if (head != std::string::npos &&
          data.size() - (head + 4) >= ContentLength(std::string_view(data).substr(0, head))) {
        break;
      }
      if (!Readable(fd, kPollMs)) {
        if (!data.empty() && Clock::now() - lastData > kQuiet) break;
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
  bool SendAll(int fd, std::string_view bytes) const {
    while (!bytes.empty() && !stop) {
      const Room room = Writable(fd, kPollMs);
      if (room == Room::kGone) return false;
      if (room == Room::kNone) continue;
      const ssize_t n = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) continue;
      if (n <= 0) return false;
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return !stop;
  }

  void Serve(int fd) {
    const std::string request = ReadRequest(fd);
    {
      std::lock_guard lock(mutex);
      requests.push_back(request);
    }
    Reply reply;
    {
      std::lock_guard lock(handlerMutex);
      reply = handler(request);
    }
    const auto until = Clock::now() + reply.delay;
    while (!stop && Clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    bool connected = SendAll(fd, reply.bytes) && SendAll(fd, reply.borrowed);
    if (reply.then == Reply::Then::kEndless) {
      const std::string filler(64 * 1024, 'x');
      while (connected) connected = SendAll(fd, filler);
    } else if (reply.then == Reply::Then::kStall) {
      while (!stop) {
        if (Readable(fd, kPollMs)) {
          char buf[4096];
          if (recv(fd, buf, sizeof buf, 0) <= 0) break;  // the client gave up
        }
      }
    }
    shutdown(fd, SHUT_RDWR);
    close(fd);
  }

  // Joins the connection threads that have finished.
  void Reap() {
    std::list<Connection> finished;
    {
      std::lock_guard lock(mutex);
      for (auto it = open.begin(); it != open.end();) {
        const auto next = std::next(it);
        if (it->done) finished.splice(finished.end(), open, it);
        it = next;
      }
    }
    for (Connection& c : finished) c.thread.join();
  }

  void Accept() {
    while (!stop) {
      if (!Readable(listener, kPollMs)) continue;
      const int fd = accept(listener, nullptr, nullptr);
      if (fd < 0) continue;
      ++connections;
      Reap();
      std::lock_guard lock(mutex);
      Connection& c = open.emplace_back();
      c.thread = std::thread([this, fd, &c] {
        Serve(fd);
        c.done = true;
      });
    }
  }

  void Stop() {
    stop = true;
    if (acceptor.joinable()) acceptor.join();
    std::list<Connection> rest;
    {
      std::lock_guard lock(mutex);
      rest = std::move(open);
    }
    for (Connection& c : rest) c.thread.join();
    if (listener >= 0) close(listener);
    listener = -1;
  }
};

LoopbackServer::LoopbackServer(Handler handler) : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.handler = std::move(handler);
  s.listener = socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  sockaddr_in addr = LoopbackAddress();
  if (s.listener < 0 ||
      setsockopt(s.listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
      bind(s.listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(s.listener, 64) != 0 || (s.port = BoundPort(s.listener)) == 0) {
    std::perror("loopback server: cannot listen on 127.0.0.1");
    std::abort();
  }
  s.acceptor = std::thread([&s] { s.Accept(); });
}

LoopbackServer::LoopbackServer(std::string reply)
    : LoopbackServer([reply = std::move(reply)](const std::string&) { return Reply{reply}; }) {}

LoopbackServer::LoopbackServer(LoopbackServer&&) noexcept = default;

LoopbackServer& LoopbackServer::operator=(LoopbackServer&& other) noexcept {
  if (this != &other) {
    if (state_) state_->Stop();
    state_ = std::move(other.state_);
  }
  return *this;
}

LoopbackServer::~LoopbackServer() {
  if (state_) state_->Stop();
}

std::uint16_t LoopbackServer::port() const { return state_->port; }

std::string LoopbackServer::Url(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(state_->port) + std::string(path);
}

std::vector<std::string> LoopbackServer::requests() const {
  std::lock_guard lock(state_->mutex);
  return state_->requests;
}

int LoopbackServer::connections() const { return state_->connections.load(); }

}  // namespace qelvaro::testing
