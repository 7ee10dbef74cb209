// The handle table and the handle operations of the internet layer.
#include "platform/inet/inet.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "platform/inet/inet_testing.h"
#include "platform/inet/request_text.h"
#include "platform/inet/transfer.h"

namespace qelvaro::platform {
namespace {

using inet_internal::Limits;
using inet_internal::ProxyMode;
using inet_internal::Transfer;
using inet_internal::TransferSetup;

struct Session {
  std::mutex mutex;  // guards the proxy setting, which may change later
  std::optional<std::string> agent;
  DWORD accessType = INTERNET_OPEN_TYPE_DIRECT;
  std::string proxyList;
  std::string bypassList;
};

struct Connection {
  std::shared_ptr<Session> session;
  std::string host;
  INTERNET_PORT port = 0;
  std::string user, password;
  std::mutex mutex;  // guards the proxy credentials
  std::string proxyUser, proxyPassword;
};

struct Request {
  std::shared_ptr<Connection> connection;
  std::string verb;
  std::string path;
  bool http10 = false;
  std::vector<std::string> acceptTypes;
  std::string referrer;
  DWORD flags = 0;
  std::atomic<bool> busy{false};
  std::atomic<bool> closed{false};
  // Only touched by the call that holds busy.
  std::optional<std::string> proxyUser, proxyPassword;
  std::optional<std::uint64_t> bodyLimit;  // 0: none
  std::unique_ptr<Transfer> transfer;
};

using Object = std::variant<std::shared_ptr<Session>, std::shared_ptr<Connection>,
                            std::shared_ptr<Request>>;

struct Table {
  std::mutex mutex;
  std::unordered_map<std::uintptr_t, Object> objects;
  std::uintptr_t next = 0x1000;
};

Table& Handles() {
  static Table* const table = new Table;  // never freed: usable until exit
  return *table;
}

HINTERNET Insert(Object object) {
  Table& t = Handles();
  std::lock_guard lock(t.mutex);
  const std::uintptr_t id = t.next;
  t.next += 4;
  t.objects.emplace(id, std::move(object));
  return reinterpret_cast<HINTERNET>(id);
}

template <typename T>
std::shared_ptr<T> Find(HINTERNET h) {
  Table& t = Handles();
  std::lock_guard lock(t.mutex);
  auto it = t.objects.find(reinterpret_cast<std::uintptr_t>(h));
  if (it == t.objects.end()) return nullptr;
  if (auto* p = std::get_if<std::shared_ptr<T>>(&it->second)) return *p;
  return nullptr;
}

// Holds a request for one call; a request in use by another call is refused.
class RequestCall {
 public:
  explicit RequestCall(HINTERNET h) : request_(Find<Request>(h)) {
    if (request_ && request_->busy.exchange(true, std::memory_order_acquire)) request_ = nullptr;
    if (request_ && request_->closed.load()) Release();
  }
  RequestCall(const RequestCall&) = delete;
  RequestCall& operator=(const RequestCall&) = delete;
  ~RequestCall() { Release(); }
  Request* operator->() const { return request_.get(); }
  explicit operator bool() const { return request_ != nullptr; }

 private:
  void Release() {
    if (request_) request_->busy.store(false, std::memory_order_release);
    request_ = nullptr;
  }
  std::shared_ptr<Request> request_;
};

struct Globals {
  std::mutex mutex;
  Limits limits;
  std::vector<std::pair<std::string, std::string>> routes;  // host, "host::addr:port"
};

Globals& State() {
  static Globals* const g = new Globals;
  return *g;
}

std::string Copy(const char* s) { return s ? std::string(s) : std::string(); }

thread_local DWORD t_lastError = ERROR_SUCCESS;

// Records why a call fails; gives FALSE for the caller to return.
BOOL Fail(DWORD error) {
  t_lastError = error;
  return 0;
}

DWORD ErrorOf(inet_internal::Failure failure) {
  using inet_internal::Failure;
  switch (failure) {
    case Failure::kTimeout:
      return ERROR_INTERNET_TIMEOUT;
    case Failure::kNameNotResolved:
      return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case Failure::kCannotConnect:
      return ERROR_INTERNET_CANNOT_CONNECT;
    case Failure::kCancelled:
      return ERROR_INTERNET_OPERATION_CANCELLED;
    case Failure::kConnectionLost:
      return ERROR_INTERNET_CONNECTION_ABORTED;
    case Failure::kBadReply:
      return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    case Failure::kRedirect:
      return ERROR_HTTP_REDIRECT_FAILED;
    case Failure::kTooLarge:
      return ERROR_INTERNET_BODY_TOO_LARGE;
    case Failure::kNone:
    case Failure::kOther:
      break;
  }
  return ERROR_INTERNET_INTERNAL_ERROR;
}

bool IsRouteHost(std::string_view host) {
  if (host.empty()) return false;
  for (char c : host) {
    const bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
                    (c >= 'A' && c <= 'Z') || c == '-' || c == '.' || c == '_';
    if (!ok) return false;
  }
  return true;
}

// Copies text and its zero byte into a caller's buffer the Windows way.
BOOL CopyOut(std::string_view text, void* buffer, DWORD* length) {
  const std::uint64_t needed = std::uint64_t{text.size()} + 1;
  if (buffer == nullptr || *length < needed) {
    *length = needed > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(needed);
    return 0;
  }
  std::memcpy(buffer, text.data(), text.size());
  static_cast<char*>(buffer)[text.size()] = '\0';
  *length = static_cast<DWORD>(text.size());
  return 1;
}

BOOL CopyNumber(std::string_view text, void* buffer, DWORD* length) {
  if (text.empty() || text.size() > 10) return 0;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (value > 0xFFFFFFFFu) return 0;
  if (buffer == nullptr || *length < sizeof(DWORD)) {
    *length = sizeof(DWORD);
    return 0;
  }
  const auto v = static_cast<DWORD>(value);
  std::memcpy(buffer, &v, sizeof v);
  *length = sizeof(DWORD);
  return 1;
}

}  // namespace

HINTERNET InternetOpenA(const char* agent, DWORD accessType, const char* proxy,
                        const char* proxyBypass, DWORD /*flags*/) {
  if (accessType != INTERNET_OPEN_TYPE_DIRECT && accessType != INTERNET_OPEN_TYPE_PRECONFIG &&
      accessType != INTERNET_OPEN_TYPE_PROXY &&
      accessType != INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY) {
    return nullptr;
  }
  if (!inet_internal::EnsureCurlInitialised()) return nullptr;
  auto s = std::make_shared<Session>();
  if (agent != nullptr) s->agent = inet_internal::DropLineBreaks(agent);
  s->accessType = accessType;
  if (accessType == INTERNET_OPEN_TYPE_PROXY) {
    s->proxyList = Copy(proxy);
    s->bypassList = Copy(proxyBypass);
  }
  return Insert(std::move(s));
}

HINTERNET InternetConnectA(HINTERNET internet, const char* serverName,
                           INTERNET_PORT serverPort, const char* userName,
                           const char* password, DWORD service, DWORD /*flags*/,
                           DWORD_PTR /*context*/) {
  std::shared_ptr<Session> session = Find<Session>(internet);
  if (!session || serverName == nullptr || *serverName == '\0' ||
      service != INTERNET_SERVICE_HTTP) {
    return nullptr;
  }
  auto c = std::make_shared<Connection>();
  c->session = std::move(session);
  c->host = serverName;
  c->port = serverPort;
  c->user = Copy(userName);
  c->password = Copy(password);
  return Insert(std::move(c));
}

HINTERNET HttpOpenRequestA(HINTERNET connect, const char* verb,
                           const char* objectName, const char* version,
                           const char* referrer, const char* const* acceptTypes,
                           DWORD flags, DWORD_PTR /*context*/) {
  std::shared_ptr<Connection> connection = Find<Connection>(connect);
  if (!connection) return nullptr;
  const std::string v = verb ? std::string(verb) : std::string("GET");
  if (!inet_internal::IsToken(v)) return nullptr;
  auto r = std::make_shared<Request>();
  r->connection = std::move(connection);
  r->verb = v;
  r->path = Copy(objectName);
  r->http10 = version != nullptr && inet_internal::EqualsNoCase(version, "HTTP/1.0");
  if (acceptTypes != nullptr) {
    for (const char* const* a = acceptTypes; *a != nullptr; ++a) r->acceptTypes.emplace_back(*a);
  }
  r->referrer = Copy(referrer);
  r->flags = flags;
  return Insert(std::move(r));
}

BOOL HttpSendRequestA(HINTERNET request, const char* headers, DWORD headersLength,
                      const void* optional, DWORD optionalLength) {
  RequestCall r(request);
  if (!r) return Fail(ERROR_INVALID_HANDLE);
  r->transfer.reset();

  const Connection& c = *r->connection;
  TransferSetup setup;
  const bool secure = (r->flags & INTERNET_FLAG_SECURE) != 0;
  const std::optional<std::string> host = inet_internal::UrlHostText(c.host);
  if (!host) return Fail(ERROR_INTERNET_NAME_NOT_RESOLVED);  // like a name that does not resolve
  const unsigned port = c.port != 0 ? c.port : (secure ? 443u : 80u);
  setup.url = (secure ? "https://" : "http://") + *host + ":" + std::to_string(port) +
              inet_internal::EscapeObjectPath(r->path);
  setup.http10 = r->http10;
  setup.verb = r->verb;

  std::string_view headerText;
  if (headers != nullptr) {
    headerText = headersLength == 0xFFFFFFFFu ? std::string_view(headers)
                                               : std::string_view(headers, headersLength);
  }
  inet_internal::RequestHeaderPlan plan = inet_internal::PlanRequestHeaders(
      r->acceptTypes, r->referrer, inet_internal::SplitHeaderText(headerText));
  setup.headerEntries = std::move(plan.entries);

  {
    Session& s = *c.session;
    std::lock_guard lock(s.mutex);
    if (plan.sendAgent && s.agent && !s.agent->empty()) setup.userAgent = *s.agent;
    switch (s.accessType) {
      case INTERNET_OPEN_TYPE_DIRECT:
        setup.proxyMode = ProxyMode::kNone;
        break;
      case INTERNET_OPEN_TYPE_PROXY: {
        const inet_internal::ProxyChoice choice = inet_internal::ParseProxyList(s.proxyList);
        const std::string& p = secure ? choice.https : choice.http;
        if (p.empty() || inet_internal::BypassMatches(s.bypassList, c.host)) {
          setup.proxyMode = ProxyMode::kNone;
        } else {
          setup.proxyMode = ProxyMode::kExplicit;
          setup.proxy = p;
        }
        break;
      }
      default:
        setup.proxyMode = ProxyMode::kEnvironment;
        break;
    }
  }
  {
    std::lock_guard lock(r->connection->mutex);
    setup.proxyUser = r->proxyUser.value_or(c.proxyUser);
    setup.proxyPassword = r->proxyPassword.value_or(c.proxyPassword);
  }
  setup.user = c.user;
  setup.password = c.password;

  setup.followRedirects = (r->flags & INTERNET_FLAG_NO_AUTO_REDIRECT) == 0;
  if (secure) {
    setup.redirectProtocols =
        (r->flags & INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP) ? "http,https" : "https";
  } else {
    setup.redirectProtocols =
        (r->flags & INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS) ? "http,https" : "http";
  }
  setup.useCookieStore = (r->flags & INTERNET_FLAG_NO_COOKIES) == 0;

  if (optional != nullptr && optionalLength > 0) {
    setup.hasBody = true;
    setup.body.assign(static_cast<const char*>(optional), optionalLength);
  }
  {
    Globals& g = State();
    std::lock_guard lock(g.mutex);
    setup.limits = g.limits;
    for (const auto& route : g.routes) setup.connectTo.push_back(route.second);
  }
  if (r->bodyLimit) {
    setup.limits.maxBodyBytes = *r->bodyLimit != 0 ? *r->bodyLimit : ~std::uint64_t{0};
  }

  r->transfer = Transfer::Start(std::move(setup));
  if (!r->transfer) return Fail(ERROR_INTERNET_INTERNAL_ERROR);
  if (r->transfer->AwaitHeaders(r->closed)) return 1;
  return Fail(ErrorOf(r->transfer->failure()));
}

BOOL InternetReadFile(HINTERNET file, void* buffer, DWORD numberOfBytesToRead,
                      DWORD* numberOfBytesRead) {
  if (numberOfBytesRead == nullptr) return Fail(ERROR_INTERNET_INTERNAL_ERROR);
  *numberOfBytesRead = 0;
  RequestCall r(file);
  if (!r) return Fail(ERROR_INVALID_HANDLE);
  if (!r->transfer) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
  if (numberOfBytesToRead == 0) return 1;
  if (buffer == nullptr) return Fail(ERROR_INTERNET_INTERNAL_ERROR);
  std::size_t got = 0;
  const Transfer::ReadResult result =
      r->transfer->Read(static_cast<char*>(buffer), numberOfBytesToRead, &got, r->closed);
  *numberOfBytesRead = static_cast<DWORD>(got);
  if (result != Transfer::ReadResult::kFailed) return 1;
  return Fail(ErrorOf(r->transfer->failure()));
}

BOOL HttpQueryInfoA(HINTERNET request, DWORD infoLevel, void* buffer,
                    DWORD* bufferLength, DWORD* index) {
  if (bufferLength == nullptr) return 0;
  RequestCall r(request);
  if (!r || !r->transfer) return 0;
  const inet_internal::HeaderBlock* block = r->transfer->Reported();
  if (block == nullptr) return 0;
  const bool number = (infoLevel & HTTP_QUERY_FLAG_NUMBER) != 0;
  const DWORD level = infoLevel & 0xFFFF;

  std::string value;
  switch (level) {
    case HTTP_QUERY_RAW_HEADERS_CRLF:
      if (number) return 0;
      if (block->overflow) {
        const std::uint64_t needed = block->needed + 1;
        *bufferLength = needed > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(needed);
        return 0;
      }
      return CopyOut(block->text, buffer, bufferLength);
    case HTTP_QUERY_STATUS_CODE:
      if (block->status == 0) return 0;
      value = std::to_string(block->status);
      break;
    case HTTP_QUERY_CONTENT_LENGTH:
    case HTTP_QUERY_LOCATION: {
      const std::optional<std::string_view> found = inet_internal::FindHeader(
          block->text, level == HTTP_QUERY_LOCATION ? "Location" : "Content-Length",
          index ? *index : 0);
      if (!found) return 0;
      value = std::string(*found);
      if (!(number ? CopyNumber(value, buffer, bufferLength)
                   : CopyOut(value, buffer, bufferLength))) {
        return 0;
      }
      if (index) ++*index;
      return 1;
    }
    default:
      return 0;
  }
  return number ? CopyNumber(value, buffer, bufferLength) : CopyOut(value, buffer, bufferLength);
}

BOOL InternetCloseHandle(HINTERNET internet) {
  Object object;
  {
    Table& t = Handles();
    std::lock_guard lock(t.mutex);
    auto it = t.objects.find(reinterpret_cast<std::uintptr_t>(internet));
    if (it == t.objects.end()) return 0;
    object = std::move(it->second);
    t.objects.erase(it);
  }
  if (auto* r = std::get_if<std::shared_ptr<Request>>(&object)) (*r)->closed.store(true);
  return 1;  // the object goes when its last user lets go, outside the lock
}

BOOL InternetSetOptionA(HINTERNET internet, DWORD option, const void* buffer,
                        DWORD bufferLength) {
  switch (option) {
    case INTERNET_OPTION_END_BROWSER_SESSION:
      if (internet != nullptr) return 0;
      inet_internal::EndCookieSession();
      return 1;
    case INTERNET_OPTION_PROXY: {
      std::shared_ptr<Session> s = Find<Session>(internet);
      if (!s || buffer == nullptr || bufferLength < sizeof(INTERNET_PROXY_INFO)) return 0;
      INTERNET_PROXY_INFO info;
      std::memcpy(&info, buffer, sizeof info);
      const DWORD a = info.dwAccessType;
      if (a != INTERNET_OPEN_TYPE_DIRECT && a != INTERNET_OPEN_TYPE_PRECONFIG &&
          a != INTERNET_OPEN_TYPE_PROXY && a != INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY) {
        return 0;
      }
      std::lock_guard lock(s->mutex);
      s->accessType = a;
      s->proxyList = a == INTERNET_OPEN_TYPE_PROXY ? Copy(info.lpszProxy) : std::string();
      s->bypassList = a == INTERNET_OPEN_TYPE_PROXY ? Copy(info.lpszProxyBypass) : std::string();
      return 1;
    }
    case INTERNET_OPTION_PROXY_USERNAME:
    case INTERNET_OPTION_PROXY_PASSWORD: {
      if (buffer == nullptr && bufferLength > 0) return 0;
      const char* p = static_cast<const char*>(buffer);
      const std::string text = p ? std::string(p, strnlen(p, bufferLength)) : std::string();
      const bool user = option == INTERNET_OPTION_PROXY_USERNAME;
      if (std::shared_ptr<Connection> c = Find<Connection>(internet)) {
        std::lock_guard lock(c->mutex);
        (user ? c->proxyUser : c->proxyPassword) = text;
        return 1;
      }
      RequestCall r(internet);
      if (!r) return 0;
      (user ? r->proxyUser : r->proxyPassword) = text;
      return 1;
    }
    case INTERNET_OPTION_BODY_LIMIT: {
      std::uint64_t limit = 0;
      if (buffer == nullptr || bufferLength != sizeof limit) return 0;
      std::memcpy(&limit, buffer, sizeof limit);
      RequestCall r(internet);
      if (!r) return 0;
      r->bodyLimit = limit;
      return 1;
    }
    default:
      return 0;
  }
}

DWORD GetLastError() { return t_lastError; }

bool RouteHost(std::string_view host, std::string_view address, std::uint16_t port) {
  if (!IsRouteHost(host) || port == 0) return false;
  const std::optional<std::string> target = inet_internal::UrlHostText(address);
  if (!target) return false;
  std::string lower(host);
  for (char& ch : lower) {
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  }
  std::string entry = lower + "::" + *target + ":" + std::to_string(port);
  Globals& g = State();
  std::lock_guard lock(g.mutex);
  for (auto& route : g.routes) {
    if (route.first == lower) {
      route.second = std::move(entry);
      return true;
    }
  }
  g.routes.emplace_back(std::move(lower), std::move(entry));
  return true;
}

void ClearRoutes() {
  Globals& g = State();
  std::lock_guard lock(g.mutex);
  g.routes.clear();
}

void SetBlockingHook(void (*hook)()) { inet_internal::SetHook(hook); }

void SetTimeoutsForTesting(std::chrono::milliseconds connect, std::chrono::milliseconds idle) {
  Globals& g = State();
  std::lock_guard lock(g.mutex);
  g.limits.connectTimeout = connect;
  g.limits.idleTimeout = idle;
}

void SetBodyLimitForTesting(std::uint64_t maxBodyBytes) {
  Globals& g = State();
  std::lock_guard lock(g.mutex);
  g.limits.maxBodyBytes = maxBodyBytes;
}

void ResetLimitsForTesting() {
  Globals& g = State();
  std::lock_guard lock(g.mutex);
  g.limits = Limits{};
}

std::size_t HeldBodyBytesForTesting(HINTERNET request) {
  RequestCall r(request);
  if (!r || !r->transfer) return 0;
  return r->transfer->Held();
}

}  // namespace qelvaro::platform
