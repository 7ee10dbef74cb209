// The connections under httplib::Server are our own: httplib's stock loop
// waits on its sockets without regard to stop() (a silent client holds its
// thread for the keep-alive time-out) and drops requests a client sends
// ahead. Server::process_and_close_socket, the one hook for a connection,
// runs httplib's request parser and answer writer (process_request) over a
// Connection whose every wait is a poll() that also watches an eventfd, the
// stop signal.

#include "demo/loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <strings.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <utility>

namespace qelvaro::demo::internal {
namespace {

using Clock = std::chrono::steady_clock;

// How long a closing connection waits for the client's end of the stream, so
// that the last bytes are not lost to a reset.
constexpr Milliseconds kLinger{2000};

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

void Address(int fd, bool peer, std::string& ip, int& port) {
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  auto* sa = reinterpret_cast<sockaddr*>(&addr);
  if ((peer ? ::getpeername(fd, sa, &len) : ::getsockname(fd, sa, &len)) != 0) return;
  char text[INET6_ADDRSTRLEN] = {};
  if (addr.ss_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(&addr);
    ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
    port = ntohs(in->sin_port);
  } else if (addr.ss_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&addr);
    ::inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
    port = ntohs(in6->sin6_port);
  }
  ip = text;
}

void Reject(httplib::Response& res, int status, const char* text) {
  res.status = status;
  res.set_content(std::string(text) + "\n", "text/plain; charset=utf-8");
}

thread_local Connection* t_connection = nullptr;

// Every answer is the whole body: misbehaviours count body bytes from its
// start. (A Range header httplib cannot parse still gets its 416.)
void IgnoreRanges(httplib::Request& request) { request.ranges.clear(); }

}  // namespace

// ---- the connection ---------------------------------------------------------------

Connection::Connection(int fd, int stop_fd, const std::atomic<bool>& stopping,
                       const ServerLimits& limits)
    : fd_(fd), stop_fd_(stop_fd), stopping_(stopping), limits_(limits) {
  const int one = 1;
  ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

Connection::Waited Connection::Wait(short events, Milliseconds timeout) const {
  const auto deadline = Clock::now() + timeout;
  pollfd p[2] = {{fd_, events, 0}, {stop_fd_, POLLIN, 0}};
  for (;;) {
    if (stopping_) return Waited::kStopped;
    const auto left = std::chrono::ceil<Milliseconds>(deadline - Clock::now()).count();
    const int r = ::poll(p, 2, static_cast<int>(std::clamp<long long>(left, 0, 1 << 30)));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 || p[1].revents != 0) return Waited::kStopped;
    if (p[0].revents != 0) return Waited::kReady;  // or an error the next call reports
    if (Clock::now() >= deadline) return Waited::kTimeout;
  }
}

bool Connection::Pause(Milliseconds ms) const {
  if (ms.count() <= 0) return !Stopped();
  // Only the client's end of the stream or an error counts; bytes it sends
  // ahead wait in the socket.
  return Wait(POLLRDHUP, ms) == Waited::kTimeout;
}

bool Connection::is_readable() const {
  return pos_ < in_.size() || (!broken_ && Wait(POLLIN, limits_.idle_timeout) == Waited::kReady);
}

bool Connection::is_writable() const {
  return !broken_ && Wait(POLLOUT, limits_.idle_timeout) == Waited::kReady;
}

ssize_t Connection::read(char* ptr, std::size_t size) {
  if (broken_ || head_too_long_) return -1;
  if (pos_ == in_.size()) {
    in_.clear();
    pos_ = 0;
    char buf[16384];
    for (;;) {
      const ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
      if (n > 0) {
        in_.assign(buf, static_cast<std::size_t>(n));
        break;
      }
      if (n == 0) return 0;
      if (errno == EINTR) continue;
      if ((errno != EAGAIN && errno != EWOULDBLOCK) ||
          Wait(POLLIN, limits_.idle_timeout) != Waited::kReady) {
        return -1;
      }
    }
  }
  const std::size_t n = std::min(size, in_.size() - pos_);
  if (in_head_) {
    if (head_.size() + n > limits_.max_head) {
      head_too_long_ = true;
      return -1;
    }
    head_.append(in_, pos_, n);
  }
  std::memcpy(ptr, in_.data() + pos_, n);
  pos_ += n;
  return static_cast<ssize_t>(n);
}

ssize_t Connection::write(const char* ptr, std::size_t size) {
  for (std::size_t done = 0; done < size;) {
    if (broken_ || Stopped()) {
      broken_ = true;
      return -1;
    }
    const ssize_t n = ::send(fd_, ptr + done, size - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK) ||
               Wait(POLLOUT, limits_.idle_timeout) != Waited::kReady) {
      broken_ = true;
    }
  }
  return static_cast<ssize_t>(size);
}

void Connection::get_remote_ip_and_port(std::string& ip, int& port) const {
  Address(fd_, true, ip, port);
}

void Connection::get_local_ip_and_port(std::string& ip, int& port) const {
  Address(fd_, false, ip, port);
}

bool Connection::AwaitRequest() const {
  return pos_ < in_.size() || Wait(POLLIN, limits_.idle_timeout) == Waited::kReady;
}

void Connection::BeginRequest() {
  head_.clear();
  in_head_ = true;
  head_too_long_ = answered_ = finished_ = false;
  pad_to_ = 0;
}

std::string Connection::TakeHead() {
  in_head_ = false;
  return std::exchange(head_, {});
}

bool Connection::ReadBody(std::size_t n, std::string& out) {
  out.resize(n);
  for (std::size_t got = 0; got < n;) {
    const ssize_t r = read(out.data() + got, n - got);
    if (r <= 0) return false;
    got += static_cast<std::size_t>(r);
  }
  return true;
}

void Connection::Finish(const httplib::Request& request, httplib::Response& response) {
  finished_ = true;
  if (head_too_long_) response.status = 431;
  // httplib's own error answers end the connection: what follows is unread.
  if (!answered_) close_ = true;
  // The connection stays only when both sides want it.
  const std::string wanted = request.get_header_value("Connection");
  const bool keep = request.version == "HTTP/1.1" ? !EqualsNoCase(wanted, "close")
                                                  : EqualsNoCase(wanted, "keep-alive");
  if (!keep || response.get_header_value("Connection") == "close") close_ = true;
  response.headers.erase("Connection");
  response.headers.erase("Accept-Ranges");
  if (close_) {
    response.headers.erase("Keep-Alive");
    response.set_header("Connection", "close");
  } else {
    response.set_header("Connection", "keep-alive");
  }
  if (pad_to_ == 0) return;
  // "HTTP/1.1 200 " and the empty line; the reason phrase comes on top.
  std::size_t size = 15;
  for (const auto& [name, value] : response.headers) size += name.size() + value.size() + 4;
  for (int i = 1; size < pad_to_; ++i) {
    const std::string name = "X-Padding-" + std::to_string(i);
    const std::size_t line = std::clamp<std::size_t>(pad_to_ - size, name.size() + 5, 100);
    response.set_header(name, std::string(line - name.size() - 4, 'p'));
    size += line;
  }
}

void Connection::Linger() {
  ::shutdown(fd_, SHUT_WR);
  const auto deadline = Clock::now() + kLinger;
  char buf[4096];
  for (;;) {
    const ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
    if (n == 0) return;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return;
    const auto left = std::chrono::ceil<Milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return;
    if (n < 0 && Wait(POLLIN, left) != Waited::kReady) return;
  }
}

// ---- the server -------------------------------------------------------------------

class LoopbackServerImpl final : public httplib::Server {
 public:
  LoopbackServerImpl(const ServerLimits& limits, const LoopbackServer::Handler& handler,
                     const std::atomic<bool>& stopping, int stop_fd)
      : limits_(limits), handler_(handler), stopping_(stopping), stop_fd_(stop_fd) {
    const std::size_t threads = std::max<std::size_t>(1, limits.threads);
    new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    set_socket_options([](socket_t sock) {
      const int one = 1;
      ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);  // not SO_REUSEPORT
    });
    set_keep_alive_max_count(std::max<std::size_t>(1, limits.max_requests));
    set_keep_alive_timeout(std::max<time_t>(1, std::chrono::ceil<std::chrono::seconds>(
                                                   limits.idle_timeout).count()));
    set_payload_max_length(limits.max_body);
    set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
      if (t_connection != nullptr) Answer(*t_connection, req, res);
      return HandlerResponse::Handled;
    });
    set_post_routing_handler([](const httplib::Request& req, httplib::Response& res) {
      if (t_connection != nullptr) t_connection->Finish(req, res);
    });
  }

 private:
  // The body by its Content-Length (a chunked request body is refused: it
  // has no bound known ahead), then the handler.
  void Answer(Connection& c, const httplib::Request& req, httplib::Response& res) {
    std::string head = c.TakeHead();
    std::string body;
    const std::string length = req.get_header_value("Content-Length");
    if (req.has_header("Transfer-Encoding")) {
      Reject(res, 411, "Length Required");
      return;
    }
    if (req.get_header_value_count("Content-Length") > 1 ||
        (req.has_header("Content-Length") &&
         (length.empty() || length.size() > 18 ||
          length.find_first_not_of("0123456789") != std::string::npos))) {
      Reject(res, 400, "Bad Request");
      return;
    }
    const std::size_t n = length.empty() ? 0 : std::stoull(length);
    if (n > limits_.max_body) {
      Reject(res, 413, "Payload Too Large");
      return;
    }
    if (n > 0 && !c.ReadBody(n, body)) {
      c.Abandon();
      return;
    }
    c.answered_ = true;
    handler_(std::move(head), std::move(body), res, c);
  }

  bool process_and_close_socket(socket_t sock) override {
    Connection c(sock, stop_fd_, stopping_, limits_);
    t_connection = &c;
    bool ok = true;
    for (std::size_t served = 0; ok && !stopping_ && c.AwaitRequest(); ++served) {
      c.BeginRequest();
      bool closed = false;
      const bool last = served + 1 >= keep_alive_max_count_;
      ok = process_request(c, last, closed, IgnoreRanges) && !last && !c.closing();
    }
    t_connection = nullptr;
    if (!stopping_) c.Linger();
    ::close(sock);
    return true;
  }

  const ServerLimits& limits_;
  const LoopbackServer::Handler& handler_;
  const std::atomic<bool>& stopping_;
  const int stop_fd_;
};

LoopbackServer::LoopbackServer(ServerLimits limits, Handler handler)
    : limits_(limits), handler_(std::move(handler)) {}

LoopbackServer::~LoopbackServer() { Stop(); }

bool LoopbackServer::Start(int port) {
  if (server_) return false;
  stop_fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (stop_fd_ < 0) return false;
  stopping_ = false;
  auto server = std::make_unique<LoopbackServerImpl>(limits_, handler_, stopping_, stop_fd_);
  const int bound = port == 0 ? server->bind_to_any_port("127.0.0.1")
                              : (server->bind_to_port("127.0.0.1", port) ? port : -1);
  if (bound <= 0) {
    ::close(stop_fd_);
    stop_fd_ = -1;
    return false;
  }
  auto done = std::make_shared<std::atomic<bool>>(false);
  listener_ = std::thread([s = server.get(), done] {
    s->listen_after_bind();
    *done = true;
  });
  // stop() does nothing until the loop runs.
  while (!server->is_running() && !*done) std::this_thread::sleep_for(Milliseconds(1));
  if (*done) {  // the loop ended at once
    listener_.join();
    ::close(stop_fd_);
    stop_fd_ = -1;
    return false;
  }
  server_ = std::move(server);
  port_ = bound;
  return true;
}

void LoopbackServer::Stop() {
  if (!server_) return;
  stopping_ = true;
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(stop_fd_, &one, sizeof one);
  server_->stop();
  listener_.join();  // the pool's threads are joined before listen returns
  server_.reset();
  ::close(stop_fd_);
  stop_fd_ = -1;
  port_ = 0;
}

}  // namespace qelvaro::demo::internal
