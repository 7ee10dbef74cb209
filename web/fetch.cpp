#include "web/fetch.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/inet/inet.h"
#include "text/primitives.h"
#include "web/body_reader.h"
#include "web/fetch_testing.h"
#include "web/internet_handle.h"

namespace qelvaro {
namespace {

namespace inet = platform;
using web_internal::InternetHandle;

constexpr char kFetchAgent[] = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";
// Part buffers of the address split, zero byte included.
constexpr inet::DWORD kHostBuffer = 256;
constexpr inet::DWORD kPathBuffer = 2048;
constexpr inet::DWORD kCredentialBuffer = 128;
// Read pieces: the announced length and one byte more, up to this; without
// an announcement the default.
constexpr std::int64_t kLargestPiece = 102400;
constexpr std::int32_t kDefaultPiece = 10240;

// The root handle every fetch shares, from the first call that needs it to
// ReleaseFetchRoot (or the end of the program).
struct SharedRoot {
  std::mutex mutex;
  InternetHandle handle;
  bool failNext = false;  // testing: the next creation fails
};

SharedRoot& Root() {
  static SharedRoot root;
  return root;
}

std::atomic<std::int32_t> g_lastPiece{0};

inet::HINTERNET RootHandle() {
  SharedRoot& root = Root();
  std::lock_guard lock(root.mutex);
  if (!root.handle) {
    if (std::exchange(root.failNext, false)) return nullptr;
    root.handle = InternetHandle(
        inet::InternetOpenA(kFetchAgent, inet::INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
  }
  return root.handle.get();
}

// The address canonicalised without percent-encoding; empty when it has no
// scheme.
std::string Canonical(const Text& url) {
  std::string out(static_cast<std::size_t>(url.size()) + 16, '\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    inet::DWORD length = static_cast<inet::DWORD>(out.size());
    if (inet::InternetCanonicalizeUrlA(url.c_str(), out.data(), &length, inet::ICU_NO_ENCODE)) {
      out.resize(length);
      return out;
    }
    if (length <= out.size()) break;  // failed for another reason than room
    out.assign(length, '\0');
  }
  return std::string();
}

}  // namespace

Bytes FetchResource(const Text& url) {
  // 1. Nothing to fetch.
  if (url.empty()) return Bytes();

  // 2. Canonicalise and split.
  const std::string canonical = Canonical(url);
  if (canonical.empty()) return Bytes();
  char host[kHostBuffer] = {};
  char user[kCredentialBuffer] = {};
  char password[kCredentialBuffer] = {};
  char path[kPathBuffer] = {};
  inet::URL_COMPONENTSA parts{};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = kHostBuffer;
  parts.lpszUserName = user;
  parts.dwUserNameLength = kCredentialBuffer;
  parts.lpszPassword = password;
  parts.dwPasswordLength = kCredentialBuffer;
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = kPathBuffer;
  if (!inet::InternetCrackUrlA(canonical.c_str(), static_cast<inet::DWORD>(canonical.size()), 0,
                               &parts)) {
    return Bytes();
  }

  // 3. The flags; only http and https go on.
  inet::DWORD flags = inet::INTERNET_FLAG_RELOAD | inet::INTERNET_FLAG_DONT_CACHE;
  if (parts.nScheme == inet::INTERNET_SCHEME_HTTPS) {
    flags |= inet::INTERNET_FLAG_SECURE;
  } else if (parts.nScheme != inet::INTERNET_SCHEME_HTTP) {
    return Bytes();
  }

  // 4. The shared root handle.
  const inet::HINTERNET root = RootHandle();
  if (root == nullptr) return Bytes();

  // 5. The connection, then the desktop's proxy setting for the root and no
  // proxy credentials for the connection.
  InternetHandle connection(inet::InternetConnectA(root, host, parts.nPort, user, password,
                                                   inet::INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection) return Bytes();
  const inet::INTERNET_PROXY_INFO preconfigured{inet::INTERNET_OPEN_TYPE_PRECONFIG, nullptr,
                                                nullptr};
  inet::InternetSetOptionA(root, inet::INTERNET_OPTION_PROXY, &preconfigured,
                           sizeof preconfigured);
  inet::InternetSetOptionA(connection.get(), inet::INTERNET_OPTION_PROXY_USERNAME, "", 1);
  inet::InternetSetOptionA(connection.get(), inet::INTERNET_OPTION_PROXY_PASSWORD, "", 1);

  // 6. No fragment is sent.
  Text object(path);
  const std::int32_t hash = FindText(object, "#");
  if (hash != -1) object = TextLeft(object, hash - 1);

  // 7. The request and its sending.
  const char* const acceptTypes[] = {"Accept: */* \r\n", nullptr};
  InternetHandle request(inet::HttpOpenRequestA(connection.get(), "GET", object.c_str(),
                                                "HTTP/1.0", nullptr, acceptTypes, flags, 0));
  if (!request) return Bytes();
  static constexpr char kHeaders[] = "Accept: */*\r\n\r\n";
  if (!inet::HttpSendRequestA(request.get(), kHeaders, sizeof kHeaders - 1, nullptr, 0)) {
    return Bytes();
  }

  // 8. The piece size.
  const std::int64_t announced = web_internal::AnnouncedLength(request.get());
  const std::int32_t piece = announced >= 1
                                 ? static_cast<std::int32_t>(std::min(announced + 1, kLargestPiece))
                                 : kDefaultPiece;
  g_lastPiece.store(piece, std::memory_order_relaxed);

  // 9. The body.
  Bytes body =
      web_internal::ReadBody(request.get(), static_cast<inet::DWORD>(piece), announced);

  // 10. The root handle stays for the next call.
  request.Close();
  connection.Close();
  return body;
}

void ReleaseFetchRoot() {
  SharedRoot& root = Root();
  std::lock_guard lock(root.mutex);
  root.handle.Close();
}

inet::HINTERNET FetchRootForTesting() {
  SharedRoot& root = Root();
  std::lock_guard lock(root.mutex);
  return root.handle.get();
}

std::int32_t LastFetchPieceSizeForTesting() { return g_lastPiece.load(std::memory_order_relaxed); }

void FailNextFetchRootForTesting() {
  SharedRoot& root = Root();
  std::lock_guard lock(root.mutex);
  root.failNext = true;
}

}  // namespace qelvaro
