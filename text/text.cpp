#include "text/text.h"

#include <cstring>

#include "app/fatal_error.h"
#include "text/gbk_literal.h"

namespace qelvaro {

namespace text_internal {

void CheckCount(std::int64_t n) {
  if (n > kMaxCount) {
    AllocationFailed(static_cast<std::uint64_t>(n));
  }
}

}  // namespace text_internal

namespace {

std::string_view UpToZero(std::string_view s) {
  if (s.empty()) return s;  // its data may be null, which memchr must not see
  const void* zero = std::memchr(s.data(), 0, s.size());
  return zero == nullptr ? s : s.substr(0, static_cast<const char*>(zero) - s.data());
}

}  // namespace

Text::Text(const char* s) {
  if (s != nullptr) {
    std::size_t n = std::strlen(s);
    text_internal::CheckCount(static_cast<std::int64_t>(n));
    bytes_.assign(s, n);
  }
}

Text::Text(std::string_view s) {
  s = UpToZero(s);
  text_internal::CheckCount(static_cast<std::int64_t>(s.size()));
  bytes_.assign(s);
}

Text::Text(std::string&& s) : bytes_(std::move(s)) {
  std::string_view kept = UpToZero(bytes_);
  if (kept.size() != bytes_.size()) bytes_.resize(kept.size());
  text_internal::CheckCount(static_cast<std::int64_t>(bytes_.size()));
}

Bytes::Bytes(std::string_view s) {
  text_internal::CheckCount(static_cast<std::int64_t>(s.size()));
  bytes_.assign(s);
}

Bytes::Bytes(std::string&& s) : bytes_(std::move(s)) {
  text_internal::CheckCount(static_cast<std::int64_t>(bytes_.size()));
}

Bytes::Bytes(const unsigned char* p, std::int32_t n) {
  if (p != nullptr && n > 0) bytes_.assign(reinterpret_cast<const char*>(p), n);
}

std::int32_t ArraySize(const TextArray& a) { return a.size(); }

namespace {

void CheckIndex(std::int32_t index, std::int32_t count) {
  if (index < 1) FatalError(4, "数组成员引用下标必须大于等于1"_gbk);
  if (index > count) FatalError(1, "数组成员引用下标超出定义范围"_gbk);
}

}  // namespace

const Text& Element(const TextArray& a, std::int32_t index) {
  CheckIndex(index, a.size());
  return a.items()[static_cast<std::size_t>(index - 1)];
}

int Element(const Bytes& b, std::int32_t index) {
  CheckIndex(index, b.size());
  return b.udata()[index - 1];
}

}  // namespace qelvaro
