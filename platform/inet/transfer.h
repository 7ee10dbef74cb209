// One HTTP transfer over libcurl, driven by the calling thread: the easy
// handle in a multi handle of its own, the response's header blocks, and a
// bounded buffer of body bytes that the reader drains. Internal to
// platform/inet.
//
// Owns: curl options of a request, driving (curl_multi_perform/poll), the
// idle watchdog, pausing, the blocking hook calls, the shared cookie store.
// Does not own: handles, request text (request_text.h).
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/inet/curl_handles.h"

namespace qelvaro::platform::inet_internal {

struct Limits {
  std::chrono::milliseconds connectTimeout{15000};
  std::chrono::milliseconds idleTimeout{30000};
  std::uint64_t maxBodyBytes = std::uint64_t{256} << 20;
  std::size_t holdBytes = std::size_t{1} << 20;          // body held ahead of the reader
  std::size_t maxHeaderBlockBytes = std::size_t{1} << 20;  // kept of one header block
  std::size_t maxHeaderTotalBytes = std::size_t{4} << 20;  // all header blocks together
};

enum class ProxyMode { kEnvironment, kNone, kExplicit };

struct TransferSetup {
  std::string url;  // scheme://host:port/path, already escaped
  bool http10 = false;
  std::string verb;
  bool hasBody = false;
  std::string body;
  std::vector<std::string> headerEntries;  // curl list entries
  std::optional<std::string> userAgent;
  ProxyMode proxyMode = ProxyMode::kNone;
  std::string proxy;  // host:port, for kExplicit
  std::string proxyUser, proxyPassword;
  std::string user, password;
  bool followRedirects = true;
  std::string redirectProtocols = "http";
  bool useCookieStore = true;
  std::vector<std::string> connectTo;
  Limits limits;
};

// One response header block as the queries report it.
struct HeaderBlock {
  std::string text;          // lines ended by CR LF, then CR LF (cut when overflow)
  std::uint64_t needed = 0;  // the size of the whole block
  bool overflow = false;
  int status = 0;
  bool hasLocation = false;
};

// Grows on demand, compacts when that is cheap; Take copies straight out.
class BodyBuffer {
 public:
  std::size_t size() const { return tail_ - head_; }
  void Append(const char* p, std::size_t n);
  std::size_t Take(char* dst, std::size_t n);

 private:
  std::vector<char> buf_;
  std::size_t head_ = 0, tail_ = 0;
};

// Why a transfer failed, in the layer's own terms.
enum class Failure {
  kNone,
  kTimeout,          // nothing arrived for the idle time, or no connection in time
  kNameNotResolved,  // the host (or the proxy) has no address
  kCannotConnect,    // the connection was refused or could not be made
  kCancelled,        // the request handle was closed meanwhile
  kConnectionLost,   // the connection ended before the answer was whole
  kBadReply,         // not an HTTP/1.x answer, or a header block beyond the limits
  kRedirect,         // too many redirects, or one to a scheme not allowed
  kTooLarge,         // a body beyond the body limit
  kOther,
};

class Transfer {
 public:
  // nullptr when curl could not set the transfer up.
  static std::unique_ptr<Transfer> Start(TransferSetup setup);
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;
  ~Transfer();

  // Drives the transfer until the final header block is known or the
  // transfer has ended. True when the final response's headers are there.
  bool AwaitHeaders(const std::atomic<bool>& abort);

  enum class ReadResult { kData, kEnd, kFailed };
  // Up to n bytes of body into dst; waits only while none are held.
  ReadResult Read(char* dst, std::size_t n, std::size_t* got,
                  const std::atomic<bool>& abort);

  // The block the queries report, or nullptr when none arrived.
  const HeaderBlock* Reported() const { return complete_ ? &*complete_ : nullptr; }
  std::size_t Held() const { return body_.size(); }
  // kNone unless the transfer has ended in failure.
  Failure failure() const { return failed_ ? failure_ : Failure::kNone; }

 private:
  explicit Transfer(TransferSetup setup);
  bool Configure();
  void Drive(bool wantHeaders, const std::atomic<bool>& abort);
  void Finish(CURLcode code);
  void CollectDone();
  void Unpause();
  bool IsFollowedRedirect(const HeaderBlock& b) const;

  static std::size_t OnHeader(char* p, std::size_t size, std::size_t n, void* self);
  static std::size_t OnBody(char* p, std::size_t size, std::size_t n, void* self);
  std::size_t Header(const char* p, std::size_t n);
  std::size_t Body(const char* p, std::size_t n);

  TransferSetup setup_;
  StringList headerList_;
  StringList connectToList_;
  MultiHandle multi_;
  EasyHandle easy_;
  bool added_ = false;

  HeaderBlock pending_;
  bool pendingStarted_ = false;
  std::optional<HeaderBlock> complete_;
  bool final_ = false;

  BodyBuffer body_;
  std::uint64_t bodyTotal_ = 0;
  bool paused_ = false;

  bool finished_ = false;
  bool failed_ = false;
  Failure failure_ = Failure::kNone;
  bool tooLarge_ = false;  // the body limit cut the body
  std::uint64_t seen_ = 0;  // bytes of any kind received, for the watchdog
  std::uint64_t headerTotal_ = 0;
};

// Forgets the session cookies of the shared store.
void EndCookieSession();

// The blocking hook (process-wide) and its calling on the blocked thread.
void SetHook(void (*hook)());

}  // namespace qelvaro::platform::inet_internal
