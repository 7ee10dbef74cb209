// MusicService over internal::LoopbackServer: every request that passes the
// server's limits comes here with its head as received, is recorded, goes to
// a test route or a built-in page, and its answer is handed to httplib with
// the route's misbehaviour built in (waits on the connection, content
// providers that stall, cut or never end, padded and repeated headers).

#include "demo/music_service.h"

#include <algorithm>
#include <ctime>
#include <deque>
#include <map>
#include <mutex>
#include <utility>

#include "demo/embedded_files.h"
#include "demo/loopback_server.h"
#include "demo/pages.h"

namespace qelvaro::demo {
namespace {

using Clock = std::chrono::steady_clock;

// Body bytes handed to httplib at a time.
constexpr std::size_t kPiece = 256 * 1024;
constexpr std::size_t kEndlessChunk = 16 * 1024;

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

// The request line and header lines of r.head into r, in the order they
// came (httplib has checked the request line already). False for a header
// line without a name.
bool ParseHead(Request& r) {
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

namespace {

bool IsDefault(const Misbehaviour& m) {
  return m.delay.count() == 0 && !m.stall_after && !m.truncate_after && m.header_bytes == 0 &&
         m.set_cookies == 0 && !m.redirect_to && !m.endless && !m.not_found;
}

// The body httplib asks for piece by piece, cut or paused as `m` says. The
// connection outlives the provider: both end with the request.
httplib::ContentProvider BodyProvider(BodySource source, const Misbehaviour& m,
                                      internal::Connection& connection, Milliseconds max_wait) {
  struct State {
    BodySource source;
    std::optional<std::size_t> stall_after;
    Milliseconds stall_for{0};
    std::optional<std::size_t> truncate_after;
    bool stalled = false;
    std::string piece;
  };
  auto s = std::make_shared<State>();
  s->source = std::move(source);
  s->stall_after = m.stall_after;
  s->stall_for = std::clamp(m.stall_for, Milliseconds(0), max_wait);
  s->truncate_after = m.truncate_after;
  return [s, &connection](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
    if (connection.Stopped()) return false;
    if (s->truncate_after && offset >= *s->truncate_after) return false;
    if (s->stall_after && !s->stalled && offset >= *s->stall_after) {
      s->stalled = true;
      if (!connection.Pause(s->stall_for)) return false;
    }
    std::size_t n = std::min(kPiece, length);
    if (s->truncate_after) n = std::min(n, *s->truncate_after - offset);
    if (s->stall_after && !s->stalled) n = std::min(n, *s->stall_after - offset);
    s->piece.clear();
    try {
      if (s->source.fill) s->source.fill(offset, n, s->piece);
    } catch (...) {
      return false;
    }
    if (s->piece.size() > n) s->piece.resize(n);
    if (!s->piece.empty() && !sink.write(s->piece.data(), s->piece.size())) return false;
    return s->piece.size() == n;  // fewer: the body ends there, as a cut connection
  };
}

// Filler until the client goes, the service stops or `at_most` has passed;
// then the connection closes without the body's end.
httplib::ContentProviderWithoutLength EndlessProvider(Milliseconds at_most,
                                                      internal::Connection& connection) {
  static constexpr std::string_view kFiller = "endless body... ";
  auto piece = std::make_shared<std::string>();
  while (piece->size() < kEndlessChunk) piece->append(kFiller);
  piece->resize(kEndlessChunk);
  const auto deadline = Clock::now() + at_most;
  return [piece, deadline, &connection](std::size_t, httplib::DataSink& sink) {
    if (connection.Stopped() || Clock::now() >= deadline) return false;
    return sink.write(piece->data(), piece->size());
  };
}

}  // namespace

// ---- the service ---------------------------------------------------------------

struct MusicService::State {
  explicit State(ServiceOptions o)
      : options(std::move(o)),
        catalogue(options.picture_host),
        notice(internal::NoticeText()),
        server(internal::ServerLimits{.idle_timeout = options.idle_timeout,
                                      .threads = options.max_connections},
               [this](std::string head, std::string body, httplib::Response& res,
                      internal::Connection& connection) {
                 Answer(std::move(head), std::move(body), res, connection);
               }) {}

  const ServiceOptions options;
  const Catalogue catalogue;
  const std::string notice;

  mutable std::mutex mu;  // routes, misbehaviours, requests
  std::map<Key, Handler> routes;
  std::map<Key, Misbehaviour> misbehaviours;
  std::deque<Request> requests;

  internal::LoopbackServer server;  // last: stopped before the rest goes

  void Record(const Request& r) {
    std::lock_guard lock(mu);
    requests.push_back(r);
    while (requests.size() > std::max<std::size_t>(1, options.max_recorded)) requests.pop_front();
  }
  Response Dispatch(const Request& r, Misbehaviour& m);
  void Answer(std::string head, std::string body, httplib::Response& res,
              internal::Connection& connection);
};

Response MusicService::State::Dispatch(const Request& r, Misbehaviour& m) {
  Handler handler;
  {
    std::lock_guard lock(mu);
    if (const Handler* h = Lookup(routes, r.host, r.path)) handler = *h;
    if (const Misbehaviour* found = Lookup(misbehaviours, r.host, r.path)) m = *found;
  }
  if (m.not_found) return Response::Html(internal::NotFoundHtml(r.host, r.path), 404);
  if (m.redirect_to) {
    Response response = Response::Html("<html><body><a href=\"" +
                                           internal::HtmlEscape(*m.redirect_to) +
                                           "\">moved</a></body></html>\n",
                                       m.redirect_status);
    response.headers.push_back({"Location", *m.redirect_to});
    return response;
  }
  if (handler) {
    try {
      return handler(r);
    } catch (...) {
      return Response::Text("handler failed\n", "text/plain; charset=utf-8", 500);
    }
  }
  return internal::BuiltInResponse(r, catalogue, options, notice);
}

void MusicService::State::Answer(std::string head, std::string body, httplib::Response& res,
                                 internal::Connection& connection) {
  Request r;
  r.head = std::move(head);
  if (!ParseHead(r)) {
    res.status = 400;
    res.set_content("Bad Request\n", "text/plain; charset=utf-8");
    connection.CloseAfterResponse();
    return;
  }
  r.body = std::move(body);
  Record(r);
  Misbehaviour m;
  Response response = Dispatch(r, m);
  if (!IsDefault(m)) connection.CloseAfterResponse();
  if (m.delay.count() > 0 &&
      !connection.Pause(std::clamp(m.delay, Milliseconds(0), options.max_wait))) {
    connection.Abandon();
    return;
  }

  res.status = response.status;
  res.set_header("Server", "music-demo/1.0");
  res.set_header("Date", HttpDate());
  std::string content_type;
  for (Header& h : response.headers) {
    if (EqualsNoCase(h.name, "Connection")) {
      if (EqualsNoCase(h.value, "close")) connection.CloseAfterResponse();
    } else if (EqualsNoCase(h.name, "Content-Type") && content_type.empty()) {
      content_type = std::move(h.value);
    } else if (!EqualsNoCase(h.name, "Content-Length") &&
               !EqualsNoCase(h.name, "Transfer-Encoding")) {
      res.set_header(h.name, h.value);
    }
  }
  for (int i = 1; i <= m.set_cookies; ++i) {
    res.set_header("Set-Cookie", "demo" + std::to_string(i) + "=v" + std::to_string(i) + "; path=/");
  }
  connection.PadHeadTo(m.header_bytes);
  if (content_type.empty()) content_type = "application/octet-stream";

  if (m.endless) {
    auto provider = EndlessProvider(std::clamp(m.endless_for, Milliseconds(0), options.max_wait),
                                    connection);
    if (r.version == "HTTP/1.1") {
      res.set_chunked_content_provider(content_type, std::move(provider));
    } else {
      res.set_content_provider(content_type, std::move(provider));
    }
    return;
  }
  // Every body goes through a provider with its length: the bytes go out as
  // they are (never compressed), and a stall or cut applies to any of them.
  BodySource source = response.source ? std::move(*response.source)
                                      : BodySource{response.body.size(), nullptr};
  if (!response.source) {
    source.fill = [body = std::move(response.body)](std::size_t offset, std::size_t n,
                                                    std::string& out) {
      out.append(body, offset, n);
    };
  }
  if (source.length == 0) {
    res.set_header("Content-Type", content_type);
    return;
  }
  res.set_content_provider(source.length, content_type,
                           BodyProvider(std::move(source), m, connection, options.max_wait));
}

MusicService::MusicService(ServiceOptions options)
    : state_(std::make_unique<State>(std::move(options))) {}

MusicService::~MusicService() { Stop(); }

bool MusicService::Start() { return state_->server.Start(state_->options.port); }

void MusicService::Stop() { state_->server.Stop(); }

int MusicService::port() const { return state_->server.port(); }

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
