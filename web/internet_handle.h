// An owning holder for one handle of the internet layer, so that every path
// out of the request routines closes what it opened. Internal to web/.
//
// Owns: closing one HINTERNET. Does not own: the order in which a routine
// closes its handles (it calls Close() where its steps say so).
#pragma once

#include <utility>

#include "platform/inet/inet.h"

namespace qelvaro::web_internal {

class InternetHandle {
 public:
  InternetHandle() = default;
  explicit InternetHandle(platform::HINTERNET h) : h_(h) {}
  InternetHandle(InternetHandle&& o) noexcept : h_(std::exchange(o.h_, nullptr)) {}
  InternetHandle& operator=(InternetHandle&& o) noexcept {
    if (this != &o) {
      Close();
      h_ = std::exchange(o.h_, nullptr);
    }
    return *this;
  }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  ~InternetHandle() { Close(); }

  platform::HINTERNET get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }
  void Close() {
    if (h_ != nullptr) platform::InternetCloseHandle(std::exchange(h_, nullptr));
  }

 private:
  platform::HINTERNET h_ = nullptr;
};

}  // namespace qelvaro::web_internal
