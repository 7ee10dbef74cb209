// RAII holders for the libcurl handles the internet layer uses: one holder
// per curl handle kind, movable, never copyable. Internal to platform/inet.
//
// Owns: the lifetime of CURL, CURLM, CURLSH and curl_slist objects.
// Does not own: any transfer logic (transfer.h) or handle bookkeeping.
#pragma once

#include <curl/curl.h>

#include <string>
#include <utility>

namespace qelvaro::platform::inet_internal {

// Initialises libcurl for the process once (thread-safe) and ignores SIGPIPE
// unless the program has its own handler for it. Returns false when libcurl
// could not be initialised; every later call returns the same answer.
bool EnsureCurlInitialised();

template <typename T, void (*Release)(T*)>
class CurlHolder {
 public:
  CurlHolder() = default;
  explicit CurlHolder(T* p) : p_(p) {}
  CurlHolder(CurlHolder&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  CurlHolder& operator=(CurlHolder&& o) noexcept {
    if (this != &o) {
      reset();
      p_ = std::exchange(o.p_, nullptr);
    }
    return *this;
  }
  CurlHolder(const CurlHolder&) = delete;
  CurlHolder& operator=(const CurlHolder&) = delete;
  ~CurlHolder() { reset(); }

  T* get() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  void reset() {
    if (p_ != nullptr) Release(std::exchange(p_, nullptr));
  }

 private:
  T* p_ = nullptr;
};

inline void ReleaseEasy(CURL* h) { curl_easy_cleanup(h); }
inline void ReleaseMulti(CURLM* h) { curl_multi_cleanup(h); }
inline void ReleaseShare(CURLSH* h) { curl_share_cleanup(h); }
inline void ReleaseSlist(curl_slist* h) { curl_slist_free_all(h); }

using EasyHandle = CurlHolder<CURL, ReleaseEasy>;
using MultiHandle = CurlHolder<CURLM, ReleaseMulti>;
using ShareHandle = CurlHolder<CURLSH, ReleaseShare>;

// A curl string list built line by line.
class StringList {
 public:
  StringList() = default;
  StringList(StringList&&) noexcept = default;
  StringList& operator=(StringList&&) noexcept = default;

  // Appends a copy of line; false when curl could not allocate.
  bool Append(const std::string& line) {
    curl_slist* n = curl_slist_append(list_.get(), line.c_str());
    if (n == nullptr) return false;
    if (list_.get() == nullptr) list_ = Holder(n);
    return true;
  }
  curl_slist* get() const { return list_.get(); }

 private:
  using Holder = CurlHolder<curl_slist, ReleaseSlist>;
  Holder list_;
};

}  // namespace qelvaro::platform::inet_internal
