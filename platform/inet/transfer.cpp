#include "platform/inet/transfer.h"

#include <signal.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string_view>

#include "platform/inet/request_text.h"

namespace qelvaro::platform::inet_internal {
namespace {

using Clock = std::chrono::steady_clock;

// Body bytes curl hands over per receive call.
constexpr long kReceiveBufferBytes = 256 * 1024;
// Longest single wait inside a blocking call; the hook runs at about this pace.
constexpr std::chrono::milliseconds kWaitSlice{25};

// A share with real locks. Shares live for the whole process (never freed),
// so no transfer can outlive the share it uses.
struct Share {
  ShareHandle handle;
  std::mutex locks[CURL_LOCK_DATA_LAST];
};

void LockShare(CURL*, curl_lock_data data, curl_lock_access, void* user) {
  if (data >= 0 && data < CURL_LOCK_DATA_LAST) static_cast<Share*>(user)->locks[data].lock();
}
void UnlockShare(CURL*, curl_lock_data data, void* user) {
  if (data >= 0 && data < CURL_LOCK_DATA_LAST) static_cast<Share*>(user)->locks[data].unlock();
}

Share* MakeShare(bool cookies) {
  auto* s = new Share;
  s->handle = ShareHandle(curl_share_init());
  if (!s->handle) return s;
  CURLSH* h = s->handle.get();
  curl_share_setopt(h, CURLSHOPT_LOCKFUNC, LockShare);
  curl_share_setopt(h, CURLSHOPT_UNLOCKFUNC, UnlockShare);
  curl_share_setopt(h, CURLSHOPT_USERDATA, s);
  curl_share_setopt(h, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
  if (cookies) curl_share_setopt(h, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
  return s;
}

// The store every cookie-using request shares, and a DNS-only one.
CURLSH* SharedStore(bool cookies) {
  static Share* const withCookies = MakeShare(true);
  static Share* const dnsOnly = MakeShare(false);
  return (cookies ? withCookies : dnsOnly)->handle.get();
}

std::atomic<void (*)()> g_hook{nullptr};
thread_local bool t_inHook = false;
thread_local Clock::time_point t_lastHook{};

void CallHookIfDue(Clock::time_point now) {
  void (*hook)() = g_hook.load(std::memory_order_acquire);
  if (hook == nullptr || t_inHook || now - t_lastHook < kWaitSlice) return;
  t_inHook = true;
  hook();
  t_inHook = false;
  t_lastHook = Clock::now();
}

Failure FailureOf(CURLcode code, bool tooLarge, bool answered) {
  switch (code) {
    case CURLE_OK:
      return Failure::kBadReply;  // ended inside the header block
    case CURLE_OPERATION_TIMEDOUT:
      return Failure::kTimeout;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return Failure::kNameNotResolved;
    case CURLE_COULDNT_CONNECT:
      return Failure::kCannotConnect;
    case CURLE_ABORTED_BY_CALLBACK:
      return Failure::kCancelled;
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
      return Failure::kConnectionLost;
    case CURLE_WRITE_ERROR:
      // The body limit, or the header limits (which end the transfer too).
      return tooLarge ? Failure::kTooLarge : Failure::kBadReply;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
      return Failure::kBadReply;
    case CURLE_UNSUPPORTED_PROTOCOL:
      // After an answer: a redirect to a scheme that is not allowed.
      return answered ? Failure::kRedirect : Failure::kBadReply;
    case CURLE_TOO_MANY_REDIRECTS:
      return Failure::kRedirect;
    default:
      return Failure::kOther;
  }
}

std::string_view WithoutLineEnd(const char* p, std::size_t n) {
  while (n > 0 && (p[n - 1] == '\r' || p[n - 1] == '\n')) --n;
  return {p, n};
}

}  // namespace

bool EnsureCurlInitialised() {
  static std::once_flag once;
  static bool ok = false;
  std::call_once(once, [] {
    struct sigaction current {};
    if (sigaction(SIGPIPE, nullptr, &current) == 0 &&
        (current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == SIG_DFL) {
      struct sigaction ignore {};
      ignore.sa_handler = SIG_IGN;
      sigemptyset(&ignore.sa_mask);
      sigaction(SIGPIPE, &ignore, nullptr);
    }
    ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  });
  return ok;
}

void EndCookieSession() {
  if (!EnsureCurlInitialised()) return;
  EasyHandle easy(curl_easy_init());
  if (!easy) return;
  curl_easy_setopt(easy.get(), CURLOPT_SHARE, SharedStore(true));
  curl_easy_setopt(easy.get(), CURLOPT_COOKIELIST, "SESS");
}

void SetHook(void (*hook)()) { g_hook.store(hook, std::memory_order_release); }

// ---------------------------------------------------------------- BodyBuffer

void BodyBuffer::Append(const char* p, std::size_t n) {
  if (n == 0) return;
  if (tail_ + n > buf_.size()) {
    // Compact only when the live bytes are few compared with the space, so
    // that moving them stays cheap; otherwise grow.
    if (head_ > 0 && size() + n <= buf_.size() / 2) {
      std::memmove(buf_.data(), buf_.data() + head_, size());
      tail_ -= head_;
      head_ = 0;
    } else {
      buf_.resize(std::max({buf_.size() * 2, tail_ + n, std::size_t{64} * 1024}));
    }
  }
  std::memcpy(buf_.data() + tail_, p, n);
  tail_ += n;
}

std::size_t BodyBuffer::Take(char* dst, std::size_t n) {
  n = std::min(n, size());
  std::memcpy(dst, buf_.data() + head_, n);
  head_ += n;
  if (head_ == tail_) head_ = tail_ = 0;
  return n;
}

// ------------------------------------------------------------------ Transfer

Transfer::Transfer(TransferSetup setup) : setup_(std::move(setup)) {}

Transfer::~Transfer() {
  if (added_) curl_multi_remove_handle(multi_.get(), easy_.get());
  easy_.reset();
  multi_.reset();
}

std::unique_ptr<Transfer> Transfer::Start(TransferSetup setup) {
  if (!EnsureCurlInitialised()) return nullptr;
  std::unique_ptr<Transfer> t(new Transfer(std::move(setup)));
  if (!t->Configure()) return nullptr;
  if (curl_multi_add_handle(t->multi_.get(), t->easy_.get()) != CURLM_OK) return nullptr;
  t->added_ = true;
  return t;
}

bool Transfer::Configure() {
  multi_ = MultiHandle(curl_multi_init());
  easy_ = EasyHandle(curl_easy_init());
  if (!multi_ || !easy_) return false;
  CURL* e = easy_.get();
  const TransferSetup& s = setup_;
  bool ok = true;
  auto set = [&](CURLoption option, auto value) {
    if (curl_easy_setopt(e, option, value) != CURLE_OK) ok = false;
  };

  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_URL, s.url.c_str());
  set(CURLOPT_PATH_AS_IS, 1L);
  set(CURLOPT_PROTOCOLS_STR, "http,https");
  set(CURLOPT_HTTP_VERSION, s.http10 ? long{CURL_HTTP_VERSION_1_0} : long{CURL_HTTP_VERSION_1_1});
  set(CURLOPT_HTTP09_ALLOWED, 0L);
  set(CURLOPT_BUFFERSIZE, kReceiveBufferBytes);

  set(CURLOPT_FOLLOWLOCATION, s.followRedirects ? 1L : 0L);
  set(CURLOPT_MAXREDIRS, 10L);
  set(CURLOPT_REDIR_PROTOCOLS_STR, s.redirectProtocols.c_str());

  set(CURLOPT_SSL_VERIFYPEER, 1L);
  set(CURLOPT_SSL_VERIFYHOST, 2L);

  set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(s.limits.connectTimeout.count()));

  for (const std::string& entry : s.headerEntries) {
    if (!headerList_.Append(entry)) ok = false;
  }
  set(CURLOPT_HTTPHEADER, headerList_.get());
  if (s.userAgent) set(CURLOPT_USERAGENT, s.userAgent->c_str());

  switch (s.proxyMode) {
    case ProxyMode::kEnvironment:
      break;  // curl reads http_proxy, https_proxy, all_proxy, no_proxy
    case ProxyMode::kNone:
      set(CURLOPT_PROXY, "");
      break;
    case ProxyMode::kExplicit:
      set(CURLOPT_PROXY, ("http://" + s.proxy).c_str());
      set(CURLOPT_PROXYTYPE, long{CURLPROXY_HTTP});
      set(CURLOPT_NOPROXY, "");
      if (!s.proxyUser.empty()) {
        set(CURLOPT_PROXYUSERNAME, s.proxyUser.c_str());
        set(CURLOPT_PROXYPASSWORD, s.proxyPassword.c_str());
      }
      break;
  }
  set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  if (!s.user.empty()) {
    set(CURLOPT_HTTPAUTH, long{CURLAUTH_BASIC});
    set(CURLOPT_USERNAME, s.user.c_str());
    set(CURLOPT_PASSWORD, s.password.c_str());
  }

  for (const std::string& entry : s.connectTo) {
    if (!connectToList_.Append(entry)) ok = false;
  }
  if (connectToList_.get() != nullptr) set(CURLOPT_CONNECT_TO, connectToList_.get());

  set(CURLOPT_SHARE, SharedStore(s.useCookieStore));
  if (s.useCookieStore) set(CURLOPT_COOKIEFILE, "");  // the engine, in memory only

  if (s.verb == "POST") {
    set(CURLOPT_POSTFIELDS, s.body.data());
    set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(s.body.size()));
  } else if (s.hasBody) {
    set(CURLOPT_POSTFIELDS, s.body.data());
    set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(s.body.size()));
    set(CURLOPT_CUSTOMREQUEST, s.verb.c_str());
  } else if (s.verb == "GET") {
    set(CURLOPT_HTTPGET, 1L);
  } else if (s.verb == "HEAD") {
    set(CURLOPT_NOBODY, 1L);
  } else {
    set(CURLOPT_CUSTOMREQUEST, s.verb.c_str());
  }

  set(CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
  set(CURLOPT_HEADERDATA, static_cast<void*>(this));
  set(CURLOPT_WRITEFUNCTION, &Transfer::OnBody);
  set(CURLOPT_WRITEDATA, static_cast<void*>(this));
  return ok;
}

bool Transfer::IsFollowedRedirect(const HeaderBlock& b) const {
  return setup_.followRedirects && b.status >= 300 && b.status < 400 && b.hasLocation;
}

std::size_t Transfer::OnHeader(char* p, std::size_t size, std::size_t n, void* self) {
  return static_cast<Transfer*>(self)->Header(p, size * n);
}

std::size_t Transfer::OnBody(char* p, std::size_t size, std::size_t n, void* self) {
  return static_cast<Transfer*>(self)->Body(p, size * n);
}

std::size_t Transfer::Header(const char* p, std::size_t n) {
  seen_ += n;
  headerTotal_ += n;
  if (headerTotal_ > setup_.limits.maxHeaderTotalBytes) return 0;  // ends the transfer
  if (final_) return n;  // trailers of a chunked body: not reported
  const std::string_view raw = WithoutLineEnd(p, n);
  if (raw.empty()) {
    if (pendingStarted_) {
      pending_.text += "\r\n";
      pending_.needed += 2;
      complete_ = std::move(pending_);
      pending_ = HeaderBlock{};
      pendingStarted_ = false;
      if (complete_->status >= 200 && !IsFollowedRedirect(*complete_)) final_ = true;
    }
    return n;
  }
  std::string line;
  line.reserve(raw.size());
  for (char c : raw) {
    if (c != '\0' && c != '\r' && c != '\n') line.push_back(c);
  }
  if (!pendingStarted_) {
    pendingStarted_ = true;
    pending_.status = StatusCode(line);
  } else if (line.size() > 9 && EqualsNoCase(std::string_view(line).substr(0, 9), "Location:") &&
             !TrimSpace(std::string_view(line).substr(9)).empty()) {
    pending_.hasLocation = true;
  }
  pending_.needed += line.size() + 2;
  if (!pending_.overflow &&
      pending_.text.size() + line.size() + 4 <= setup_.limits.maxHeaderBlockBytes) {
    pending_.text += line;
    pending_.text += "\r\n";
  } else {
    pending_.overflow = true;
  }
  return n;
}

std::size_t Transfer::Body(const char* p, std::size_t n) {
  seen_ += n;
  if (!final_) {
    // curl passes over the body of a redirect it follows; should it hand one
    // over all the same, it is not the final response's.
    if (complete_ && IsFollowedRedirect(*complete_)) return n;
    final_ = true;
  }
  if (body_.size() >= setup_.limits.holdBytes) {
    paused_ = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  const std::uint64_t room = setup_.limits.maxBodyBytes - bodyTotal_;
  const std::size_t take = n > room ? static_cast<std::size_t>(room) : n;
  if (take < n) tooLarge_ = true;
  body_.Append(p, take);
  bodyTotal_ += take;
  return take;  // short of n: the body is too large and the transfer fails
}

void Transfer::Finish(CURLcode code) {
  if (finished_) return;
  finished_ = true;
  // A transfer that ended without a complete header block did not succeed,
  // whatever curl says of it.
  failed_ = code != CURLE_OK || !complete_;
  failure_ = FailureOf(code, tooLarge_, complete_.has_value());
  // Bytes came but never a whole header block of the final answer: whatever
  // curl calls it, the reply was not HTTP as it should be.
  if (!final_ && seen_ > 0 &&
      (failure_ == Failure::kConnectionLost || failure_ == Failure::kOther)) {
    failure_ = Failure::kBadReply;
  }
  if (!failed_) final_ = true;
  if (added_) {
    curl_multi_remove_handle(multi_.get(), easy_.get());
    added_ = false;
  }
}

void Transfer::CollectDone() {
  int left = 0;
  while (CURLMsg* m = curl_multi_info_read(multi_.get(), &left)) {
    if (m->msg == CURLMSG_DONE && m->easy_handle == easy_.get()) Finish(m->data.result);
  }
}

void Transfer::Unpause() {
  paused_ = false;
  // May hand held-back bytes to Body() at once, which may pause again.
  if (curl_easy_pause(easy_.get(), CURLPAUSE_CONT) != CURLE_OK) Finish(CURLE_RECV_ERROR);
}

void Transfer::Drive(bool wantHeaders, const std::atomic<bool>& abort) {
  auto satisfied = [&] { return wantHeaders ? final_ : body_.size() > 0; };
  Clock::time_point lastProgress = Clock::now();
  std::uint64_t lastSeen = seen_;
  while (!finished_ && !satisfied()) {
    if (abort.load(std::memory_order_relaxed)) {
      Finish(CURLE_ABORTED_BY_CALLBACK);
      break;
    }
    if (paused_) {
      Unpause();
      lastProgress = Clock::now();
      continue;
    }
    int running = 0;
    if (curl_multi_perform(multi_.get(), &running) != CURLM_OK) {
      Finish(CURLE_OUT_OF_MEMORY);
      break;
    }
    CollectDone();
    if (finished_ || satisfied()) break;
    const Clock::time_point now = Clock::now();
    if (seen_ != lastSeen) {
      lastSeen = seen_;
      lastProgress = now;
    } else if (now - lastProgress >= setup_.limits.idleTimeout) {
      Finish(CURLE_OPERATION_TIMEDOUT);
      break;
    }
    CallHookIfDue(now);
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        setup_.limits.idleTimeout - (Clock::now() - lastProgress));
    const int waitMs = static_cast<int>(std::clamp(left.count() + 1, std::int64_t{1},
                                                   std::int64_t{kWaitSlice.count()}));
    curl_multi_poll(multi_.get(), nullptr, 0, waitMs, nullptr);
  }
}

bool Transfer::AwaitHeaders(const std::atomic<bool>& abort) {
  Drive(true, abort);
  return final_;
}

Transfer::ReadResult Transfer::Read(char* dst, std::size_t n, std::size_t* got,
                                    const std::atomic<bool>& abort) {
  *got = 0;
  if (body_.size() == 0 && !finished_) Drive(false, abort);
  if (body_.size() > 0) {
    *got = body_.Take(dst, n);
    if (paused_ && body_.size() <= setup_.limits.holdBytes / 2) Unpause();
    return ReadResult::kData;
  }
  return failed_ ? ReadResult::kFailed : ReadResult::kEnd;
}

}  // namespace qelvaro::platform::inet_internal
