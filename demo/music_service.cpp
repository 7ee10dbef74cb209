// The server under MusicService: a plain socket loop of our own, because the
// tests need what a library server hides: the request head as it arrived
// (header order and spelling) and responses that break the protocol on
// purpose (a lying Content-Length, a connection cut mid-body, bytes that are
// not HTTP at all).
//
// One thread accepts; each connection has a thread of its own. Sockets are
// non-blocking and every wait is a poll() that also watches an eventfd, the
// stop signal, so Stop() ends all of them at once.

#include "demo/music_service.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <ctime>
#include <deque>
#include <list>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "demo/embedded_files.h"
#include "demo/pages.h"

namespace qelvaro::demo {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxHead = 64 * 1024;
constexpr std::size_t kMaxBody = 16 * 1024 * 1024;
constexpr std::size_t kEndlessChunk = 16 * 1024;
// How long a closing connection waits for the client's end of the stream, so
// that the last bytes are not lost to a reset.
constexpr Milliseconds kLinger{2000};

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

const char* Reason(int status) {
  switch (status) {
    case 100: return "Continue";
    case 200: return "OK";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 411: return "Length Required";
    case 413: return "Payload Too Large";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Unknown";
  }
}

std::string HttpDate() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  char buf[64];
  std::strftime(buf, sizeof buf, "%a, %d %b %Y %H:%M:%S GMT", &tm);
  return buf;
}

// "host:port", "[::1]:port", "Host." -> the lower-case host alone.
std::string HostOnly(std::string_view authority) {
  authority = Trim(authority);
  if (auto at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
  if (!authority.empty() && authority.front() == '[') {
    auto close = authority.find(']');
    return Lower(authority.substr(0, close == std::string_view::npos ? authority.size() : close + 1));
  }
  return Lower(authority.substr(0, authority.find(':')));
}

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(Fd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
  Fd& operator=(Fd&& o) noexcept {
    if (this != &o) {
      Reset();
      fd_ = std::exchange(o.fd_, -1);
    }
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }
  void Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

enum class Waited { kReady, kTimeout, kStopped, kGone };

// Waits for `events` on fd, the stop signal or the time-out, whichever
// comes first. With events == 0 it only watches for the client going away
// (kGone) and otherwise sleeps the whole time (kTimeout).
Waited WaitFor(int fd, short events, int stop_fd, Milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  pollfd p[2] = {{fd, static_cast<short>(events | POLLRDHUP), 0}, {stop_fd, POLLIN, 0}};
  for (;;) {
    const auto left = std::chrono::ceil<Milliseconds>(deadline - Clock::now()).count();
    const int r = ::poll(p, 2, static_cast<int>(std::max<long long>(0, left)));
    if (r < 0) {
      if (errno == EINTR) continue;
      return Waited::kGone;
    }
    if (p[1].revents != 0) return Waited::kStopped;
    if (r == 0) {
      if (Clock::now() >= deadline) return Waited::kTimeout;
      continue;
    }
    if ((p[0].revents & events) != 0) return Waited::kReady;
    if ((p[0].revents & (POLLHUP | POLLERR | POLLNVAL | POLLRDHUP)) != 0) {
      // A half-closed client may still take our answer.
      if ((events & POLLOUT) != 0 && (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) == 0) {
        p[0].events = POLLOUT;
        continue;
      }
      return Waited::kGone;
    }
  }
}

struct Key {
  std::string host;
  std::string path;
  auto operator<=>(const Key&) const = default;
};

template <typename Map>
const typename Map::mapped_type* Lookup(const Map& map, const std::string& host,
                                        const std::string& path) {
  for (const Key& k : {Key{host, path}, Key{host, "*"}, Key{"*", path}, Key{"*", "*"}}) {
    auto it = map.find(k);
    if (it != map.end()) return &it->second;
  }
  return nullptr;
}

}  // namespace

// ---- value types ---------------------------------------------------------------

std::string Request::HeaderValue(std::string_view name) const {
  for (const Header& h : headers) {
    if (EqualsNoCase(h.name, name)) return h.value;
  }
  return {};
}

std::string Request::Param(std::string_view name) const {
  std::string_view q = query;
  while (!q.empty()) {
    const auto amp = q.find('&');
    const std::string_view pair = q.substr(0, amp);
    q = amp == std::string_view::npos ? std::string_view() : q.substr(amp + 1);
    const auto eq = pair.find('=');
    if (internal::PercentDecode(pair.substr(0, eq), true) != name) continue;
    return eq == std::string_view::npos ? std::string()
                                        : internal::PercentDecode(pair.substr(eq + 1), true);
  }
  return {};
}

Response Response::Text(std::string body, std::string content_type, int status) {
  Response r;
  r.status = status;
  r.headers.push_back({"Content-Type", std::move(content_type)});
  r.body = std::move(body);
  return r;
}

Response Response::Stream(std::size_t length,
                          std::function<void(std::size_t, std::size_t, std::string&)> fill,
                          std::string content_type) {
  Response r = Text({}, std::move(content_type));
  r.source = BodySource{length, std::move(fill)};
  return r;
}

Response Response::Html(std::string body, int status) {
  return Text(std::move(body), "text/html; charset=utf-8", status);
}

Misbehaviour Misbehaviour::Delay(Milliseconds ms) {
  Misbehaviour m;
  m.delay = ms;
  return m;
}
Misbehaviour Misbehaviour::Stall(std::size_t after_bytes, Milliseconds ms) {
  Misbehaviour m;
  m.stall_after = after_bytes;
  m.stall_for = ms;
  return m;
}
Misbehaviour Misbehaviour::Truncate(std::size_t after_bytes) {
  Misbehaviour m;
  m.truncate_after = after_bytes;
  return m;
}
Misbehaviour Misbehaviour::HugeHeaders(std::size_t bytes) {
  Misbehaviour m;
  m.header_bytes = bytes;
  return m;
}
Misbehaviour Misbehaviour::Redirect(std::string location, int status) {
  Misbehaviour m;
  m.redirect_to = std::move(location);
  m.redirect_status = status;
  return m;
}
Misbehaviour Misbehaviour::SetCookies(int count) {
  Misbehaviour m;
  m.set_cookies = count;
  return m;
}
Misbehaviour Misbehaviour::Endless(Milliseconds at_most) {
  Misbehaviour m;
  m.endless = true;
  m.endless_for = at_most;
  return m;
}
Misbehaviour Misbehaviour::NotFound() {
  Misbehaviour m;
  m.not_found = true;
  return m;
}
Misbehaviour Misbehaviour::Raw(std::string bytes) {
  Misbehaviour m;
  m.raw = std::move(bytes);
  return m;
}

namespace {
bool IsDefault(const Misbehaviour& m) {
  return m.delay.count() == 0 && !m.stall_after && !m.truncate_after && m.header_bytes == 0 &&
         m.set_cookies == 0 && !m.redirect_to && !m.endless && !m.not_found && !m.raw;
}
}  // namespace

// ---- the service ---------------------------------------------------------------

struct MusicService::State {
  explicit State(ServiceOptions o)
      : options(std::move(o)), catalogue(options.picture_host), notice(internal::NoticeText()) {}

  const ServiceOptions options;
  const Catalogue catalogue;
  const std::string notice;

  mutable std::mutex mu;  // routes, misbehaviours, requests
  std::map<Key, Handler> routes;
  std::map<Key, Misbehaviour> misbehaviours;
  std::deque<Request> requests;

  // While running.
  Fd listener;
  Fd stop;
  int port = 0;
  std::thread acceptor;
  struct Worker {
    std::thread thread;
    std::atomic<bool> done{false};
  };
  std::mutex conn_mu;
  std::condition_variable conn_cv;  // a connection finished
  std::list<Worker> connections;

  void Accept();
  void Serve(Fd fd);
  void Record(const Request& r) {
    std::lock_guard lock(mu);
    requests.push_back(r);
    while (requests.size() > std::max<std::size_t>(1, options.max_recorded)) requests.pop_front();
  }
  void ReapLocked() {
    for (auto it = connections.begin(); it != connections.end();) {
      if (it->done) {
        it->thread.join();
        it = connections.erase(it);
      } else {
        ++it;
      }
    }
  }
};

namespace {

// One client connection: reads requests, answers them, keeps the
// connection while the client asks for it and nothing misbehaves.
class Connection {
 public:
  Connection(int fd, int stop_fd, const ServiceOptions& options)
      : fd_(fd), stop_(stop_fd), options_(options) {}

  void Run(const std::function<Response(const Request&, Misbehaviour*)>& dispatch) {
    for (;;) {
      Request request;
      int error = 0;
      if (!ReadRequest(request, error)) {
        if (error != 0) {
          Answer(request, Response::Text(std::string(Reason(error)) + "\n",
                                         "text/plain; charset=utf-8", error),
                 Misbehaviour{}, true);
        }
        break;
      }
      Misbehaviour m;
      Response response = dispatch(request, &m);
      bool close = !IsDefault(m) || request.version != "HTTP/1.1" ||
                   EqualsNoCase(request.HeaderValue("Connection"), "close");
      if (!Answer(request, std::move(response), m, close) || close) break;
    }
    Linger();
  }

 private:
  bool RecvSome() {
    char tmp[16384];
    for (;;) {
      const ssize_t n = ::recv(fd_, tmp, sizeof tmp, 0);
      if (n > 0) {
        buf_.append(tmp, static_cast<std::size_t>(n));
        return true;
      }
      if (n == 0) return false;
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
      if (WaitFor(fd_, POLLIN, stop_, options_.idle_timeout) != Waited::kReady) return false;
    }
  }

  // All of data, or false when the client goes, stops taking bytes for the
  // idle time-out, the deadline passes or the service stops.
  bool Send(std::string_view data, std::optional<Clock::time_point> deadline = std::nullopt) {
    while (!data.empty()) {
      const ssize_t n = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
      if (n > 0) {
        data.remove_prefix(static_cast<std::size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
      Milliseconds wait = options_.idle_timeout;
      if (deadline) {
        wait = std::min(wait, std::chrono::ceil<Milliseconds>(*deadline - Clock::now()));
        if (wait.count() <= 0) return false;
      }
      if (WaitFor(fd_, POLLOUT, stop_, wait) != Waited::kReady) return false;
    }
    return true;
  }

  // Sleeps up to `ms` (capped by max_wait); false when the service stops or
  // the client goes away meanwhile.
  bool Pause(Milliseconds ms) {
    ms = std::clamp(ms, Milliseconds(0), options_.max_wait);
    if (ms.count() == 0) return true;
    return WaitFor(fd_, 0, stop_, ms) == Waited::kTimeout;
  }

  // The next request, or false at the end of the connection; error is then
  // set to the status to answer with, if any.
  bool ReadRequest(Request& r, int& error) {
    std::size_t end = 0;
    for (;;) {
      // Empty lines before a request line are skipped.
      while (buf_.starts_with("\r\n") || buf_.starts_with("\n")) buf_.erase(0, buf_[0] == '\r' ? 2 : 1);
      const auto crlf = buf_.find("\r\n\r\n");
      const auto lf = buf_.find("\n\n");
      end = std::min(crlf == std::string::npos ? crlf : crlf + 4, lf == std::string::npos ? lf : lf + 2);
      if (end != std::string::npos) break;
      if (buf_.size() > kMaxHead) {
        error = 431;
        return false;
      }
      if (!RecvSome()) return false;
    }
    if (end > kMaxHead) {
      error = 431;
      return false;
    }
    r.head = buf_.substr(0, end);
    buf_.erase(0, end);
    if (!ParseHead(r)) {
      error = 400;
      return false;
    }
    if (!r.HeaderValue("Transfer-Encoding").empty()) {
      error = 411;
      return false;
    }
    std::size_t length = 0;
    const std::string cl = r.HeaderValue("Content-Length");
    if (!cl.empty()) {
      if (cl.size() > 9 || cl.find_first_not_of("0123456789") != std::string::npos) {
        error = 400;
        return false;
      }
      length = std::stoul(cl);
      if (length > kMaxBody) {
        error = 413;
        return false;
      }
    }
    if (length > buf_.size() && EqualsNoCase(r.HeaderValue("Expect"), "100-continue")) {
      if (!Send("HTTP/1.1 100 Continue\r\n\r\n")) return false;
    }
    while (buf_.size() < length) {
      if (!RecvSome()) return false;
    }
    r.body = buf_.substr(0, length);
    buf_.erase(0, length);
    return true;
  }

  static bool ParseHead(Request& r) {
    std::string_view head = r.head;
    auto next_line = [&head]() {
      const auto nl = head.find('\n');
      std::string_view line = head.substr(0, nl);
      head.remove_prefix(nl == std::string_view::npos ? head.size() : nl + 1);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      return line;
    };
    const std::string_view request_line = next_line();
    const auto first = request_line.find(' ');
    const auto last = request_line.rfind(' ');
    if (first == std::string_view::npos || last == first) return false;
    r.method = request_line.substr(0, first);
    r.version = request_line.substr(last + 1);
    r.target = Trim(request_line.substr(first + 1, last - first - 1));
    if (r.method.empty() || r.target.empty() || !r.version.starts_with("HTTP/")) return false;
    for (std::string_view line = next_line(); !line.empty(); line = next_line()) {
      if ((line.front() == ' ' || line.front() == '\t') && !r.headers.empty()) {
        r.headers.back().value += ' ';
        r.headers.back().value += Trim(line);
        continue;
      }
      const auto colon = line.find(':');
      if (colon == std::string_view::npos || colon == 0) return false;
      r.headers.push_back({std::string(line.substr(0, colon)), std::string(Trim(line.substr(colon + 1)))});
    }
    std::string_view target = r.target;
    if (target.size() > 7 && EqualsNoCase(target.substr(0, 7), "http://")) {
      target.remove_prefix(7);
      const auto slash = target.find_first_of("/?");
      r.host = HostOnly(target.substr(0, slash));
      target = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
    } else {
      r.host = HostOnly(r.HeaderValue("Host"));
    }
    target = target.substr(0, target.find('#'));
    const auto q = target.find('?');
    r.path = target.substr(0, q);
    if (r.path.empty()) r.path = "/";
    if (q != std::string_view::npos) r.query = target.substr(q + 1);
    return true;
  }

  // Writes the response as the misbehaviour says. False when the connection
  // cannot go on.
  bool Answer(const Request& request, Response response, const Misbehaviour& m, bool close) {
    if (m.delay.count() > 0 && !Pause(m.delay)) return false;
    if (m.raw) {
      Send(*m.raw);
      return false;
    }
    if (response.reason.empty()) response.reason = Reason(response.status);
    const bool head_only = request.method == "HEAD";
    const bool chunked = m.endless && request.version == "HTTP/1.1";

    std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " + response.reason + "\r\n";
    head += "Server: music-demo/1.0\r\nDate: " + HttpDate() + "\r\n";
    bool has_length = false;
    bool has_connection = false;
    for (const Header& h : response.headers) {
      has_length |= EqualsNoCase(h.name, "Content-Length") || EqualsNoCase(h.name, "Transfer-Encoding");
      if (EqualsNoCase(h.name, "Connection")) {
        has_connection = true;
        close |= EqualsNoCase(h.value, "close");
      }
      head += h.name + ": " + h.value + "\r\n";
    }
    for (int i = 1; i <= m.set_cookies; ++i) {
      head += "Set-Cookie: demo" + std::to_string(i) + "=v" + std::to_string(i) + "; path=/\r\n";
    }
    if (m.endless) {
      if (chunked) head += "Transfer-Encoding: chunked\r\n";
    } else if (!has_length) {
      head += "Content-Length: " + std::to_string(BodyLength(response)) + "\r\n";
    }
    if (!has_connection) head += close ? "Connection: close\r\n" : "Connection: keep-alive\r\n";
    for (int i = 1; head.size() + 2 < m.header_bytes; ++i) {
      std::string line = "X-Padding-" + std::to_string(i) + ": ";
      const std::size_t want = std::min<std::size_t>(100, m.header_bytes - head.size() - 2);
      line.append(want > line.size() + 2 ? want - line.size() - 2 : 1, 'p');
      head += line + "\r\n";
    }
    head += "\r\n";
    if (!Send(head)) return false;
    if (head_only) return !close;

    if (m.endless) return SendEndless(chunked, m.endless_for);

    const std::size_t total = BodyLength(response);
    std::size_t limit = total;
    if (m.truncate_after) limit = std::min(limit, *m.truncate_after);
    std::size_t sent = 0;
    if (m.stall_after) {
      sent = std::min(limit, *m.stall_after);
      if (!SendBody(response, 0, sent)) return false;
      if (!Pause(m.stall_for)) return false;
    }
    if (!SendBody(response, sent, limit)) return false;
    return limit == total && !close;
  }

  static std::size_t BodyLength(const Response& r) {
    return r.source ? r.source->length : r.body.size();
  }

  // Body bytes [from, to).
  bool SendBody(const Response& r, std::size_t from, std::size_t to) {
    if (!r.source) return Send(std::string_view(r.body).substr(from, to - from));
    constexpr std::size_t kPiece = 256 * 1024;
    std::string piece;
    for (std::size_t at = from; at < to;) {
      const std::size_t n = std::min(kPiece, to - at);
      piece.clear();
      try {
        if (r.source->fill) r.source->fill(at, n, piece);
      } catch (...) {
        return false;
      }
      if (piece.size() > n) piece.resize(n);
      if (!Send(piece)) return false;
      if (piece.size() < n) return false;
      at += n;
    }
    return true;
  }

  bool SendEndless(bool chunked, Milliseconds at_most) {
    const auto deadline = Clock::now() + std::clamp(at_most, Milliseconds(0), options_.max_wait);
    std::string piece;
    if (chunked) {
      char size[16];
      std::snprintf(size, sizeof size, "%zx\r\n", kEndlessChunk);
      piece = size;
    }
    static constexpr std::string_view kFiller = "endless body... ";
    while (piece.size() < kEndlessChunk + 8) piece += kFiller;
    piece.resize((chunked ? piece.find('\n') + 1 : 0) + kEndlessChunk);
    if (chunked) piece += "\r\n";
    while (Clock::now() < deadline) {
      if (!Send(piece, deadline)) break;
    }
    return false;
  }

  // Ends the stream, then waits briefly for the client's end so that it
  // reads everything sent before the socket closes.
  void Linger() {
    ::shutdown(fd_, SHUT_WR);
    const auto deadline = Clock::now() + kLinger;
    char tmp[4096];
    for (;;) {
      const ssize_t n = ::recv(fd_, tmp, sizeof tmp, 0);
      if (n == 0) return;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return;
      const auto left = std::chrono::ceil<Milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return;
      if (n < 0 && WaitFor(fd_, POLLIN, stop_, left) != Waited::kReady) return;
    }
  }

  int fd_;
  int stop_;
  const ServiceOptions& options_;
  std::string buf_;
};

}  // namespace

void MusicService::State::Serve(Fd fd) {
  const int one = 1;
  ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  Connection connection(fd.get(), stop.get(), options);
  connection.Run([this](const Request& r, Misbehaviour* m) {
    Record(r);
    Handler handler;
    {
      std::lock_guard lock(mu);
      if (const Handler* h = Lookup(routes, r.host, r.path)) handler = *h;
      if (const Misbehaviour* found = Lookup(misbehaviours, r.host, r.path)) *m = *found;
    }
    Response response;
    if (m->not_found) {
      response = Response::Html(internal::NotFoundHtml(r.host, r.path), 404);
    } else if (m->redirect_to) {
      response = Response::Html("<html><body><a href=\"" + internal::HtmlEscape(*m->redirect_to) +
                                    "\">moved</a></body></html>\n",
                                m->redirect_status);
      response.headers.push_back({"Location", *m->redirect_to});
    } else if (handler) {
      try {
        response = handler(r);
      } catch (...) {
        response = Response::Text("handler failed\n", "text/plain; charset=utf-8", 500);
      }
    } else {
      response = internal::BuiltInResponse(r, catalogue, options, notice);
    }
    return response;
  });
}

void MusicService::State::Accept() {
  for (;;) {
    {
      std::unique_lock lock(conn_mu);
      ReapLocked();
      while (connections.size() >= std::max<std::size_t>(1, options.max_connections)) {
        conn_cv.wait_for(lock, Milliseconds(50));
        ReapLocked();
        pollfd p{stop.get(), POLLIN, 0};
        if (::poll(&p, 1, 0) > 0) return;
      }
    }
    pollfd p[2] = {{listener.get(), POLLIN, 0}, {stop.get(), POLLIN, 0}};
    if (::poll(p, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (p[1].revents != 0) return;
    const int client = ::accept4(listener.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (client < 0) {
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        pollfd s{stop.get(), POLLIN, 0};
        if (::poll(&s, 1, 50) > 0) return;
      }
      continue;
    }
    Fd fd(client);
    std::lock_guard lock(conn_mu);
    Worker& c = connections.emplace_back();
    try {
      c.thread = std::thread([this, &c, fd = std::move(fd)]() mutable {
        Serve(std::move(fd));
        std::lock_guard done_lock(conn_mu);
        c.done = true;
        conn_cv.notify_all();
      });
    } catch (const std::system_error&) {
      connections.pop_back();  // no thread to be had: the client is turned away
    }
  }
}

MusicService::MusicService(ServiceOptions options)
    : state_(std::make_unique<State>(std::move(options))) {}

MusicService::~MusicService() { Stop(); }

bool MusicService::Start() {
  State& s = *state_;
  if (s.listener.ok()) return false;
  Fd listener(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  Fd stop(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  if (!listener.ok() || !stop.ok()) return false;
  const int one = 1;
  ::setsockopt(listener.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<std::uint16_t>(s.options.port));
  socklen_t len = sizeof addr;
  if (::bind(listener.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listener.get(), 128) != 0 ||
      ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    return false;
  }
  s.port = ntohs(addr.sin_port);
  s.listener = std::move(listener);
  s.stop = std::move(stop);
  s.acceptor = std::thread([&s] { s.Accept(); });
  return true;
}

void MusicService::Stop() {
  State& s = *state_;
  if (!s.listener.ok()) return;
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(s.stop.get(), &one, sizeof one);
  s.acceptor.join();
  s.listener.Reset();
  std::list<State::Worker> connections;
  {
    std::lock_guard lock(s.conn_mu);
    connections.swap(s.connections);
  }
  for (State::Worker& c : connections) c.thread.join();
  s.stop.Reset();
  s.port = 0;
}

int MusicService::port() const { return state_->port; }

void MusicService::AddRoute(std::string host, std::string path, Handler handler) {
  std::lock_guard lock(state_->mu);
  state_->routes[Key{host == "*" ? host : Lower(host), std::move(path)}] = std::move(handler);
}

void MusicService::SetMisbehaviour(std::string host, std::string path, Misbehaviour misbehaviour) {
  std::lock_guard lock(state_->mu);
  Key key{host == "*" ? host : Lower(host), std::move(path)};
  if (IsDefault(misbehaviour)) {
    state_->misbehaviours.erase(key);
  } else {
    state_->misbehaviours[std::move(key)] = std::move(misbehaviour);
  }
}

void MusicService::ClearMisbehaviours() {
  std::lock_guard lock(state_->mu);
  state_->misbehaviours.clear();
}

std::vector<RecordedRequest> MusicService::Requests() const {
  std::lock_guard lock(state_->mu);
  return {state_->requests.begin(), state_->requests.end()};
}

void MusicService::ClearRequests() {
  std::lock_guard lock(state_->mu);
  state_->requests.clear();
}

const ServiceOptions& MusicService::options() const { return state_->options; }
const Catalogue& MusicService::catalogue() const { return state_->catalogue; }

std::string MusicService::Mp3Bytes(std::string_view id) const {
  const Song* s = state_->catalogue.Find(id);
  return s == nullptr ? std::string() : std::string(internal::FindEmbeddedFile(s->mp3_asset));
}

std::string MusicService::PictureBytes(std::string_view id) const {
  const Song* s = state_->catalogue.Find(id);
  return s == nullptr ? std::string() : std::string(internal::FindEmbeddedFile(s->picture_asset));
}

std::string MusicService::SearchPage(std::string_view key_utf8) const {
  return internal::SearchPageHtml(state_->catalogue, state_->options, key_utf8);
}

std::string MusicService::TrackRecord(std::string_view id) const {
  return internal::TrackRecordText(state_->catalogue, state_->options, id);
}

std::string MusicService::NoticeBytes() const { return state_->notice; }

}  // namespace qelvaro::demo
