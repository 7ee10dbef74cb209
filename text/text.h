// The value types every routine of Qelvaro works on: Text, Bytes, TextArray.
//
// Owns: the three types, their comparison, and checked 1-based element
// access. Does not own: the primitives over them (text/primitives.h), the
// code-page conversions (text/encodings.h), the literal helper
// (text/gbk_literal.h).
//
// Text is a byte sequence in code page 936 that never holds a zero byte: every
// way of building one stops at the first zero. A default-constructed Text is
// the empty text, and a "missing" text is simply the empty one. Bytes is a
// counted byte string that may hold zero bytes. Both count in signed 32 bits;
// a value that would exceed that is a failed allocation (FatalError code 0).
//
// Example:
//   Text t("ab\0cd");          // "ab": cut at the zero byte
//   Bytes b(std::string_view("ab\0cd", 5));  // all five bytes
//   TextArray parts = SplitText("a;b", ";");
//   Element(parts, 2) == Text("b");          // index 0 or 3 is fatal
#pragma once

#include <compare>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qelvaro {

// The largest byte count a Text or Bytes can hold.
inline constexpr std::int64_t kMaxCount = INT32_MAX;

namespace text_internal {
// Raises FatalError(0, "分配 N 字节内存失败!") when n exceeds kMaxCount.
void CheckCount(std::int64_t n);
}  // namespace text_internal

class Text {
 public:
  Text() = default;
  // The bytes up to the first zero byte; a null pointer is the empty text.
  Text(const char* s);  // NOLINT: implicit, so that ASCII literals read as texts
  // The bytes of s up to its first zero byte.
  explicit Text(std::string_view s);
  // Takes the bytes of s, cut at its first zero byte.
  explicit Text(std::string&& s);

  std::int32_t size() const { return static_cast<std::int32_t>(bytes_.size()); }
  bool empty() const { return bytes_.empty(); }
  const char* c_str() const { return bytes_.c_str(); }
  const char* data() const { return bytes_.data(); }
  std::string_view view() const { return bytes_; }
  operator std::string_view() const { return bytes_; }  // NOLINT
  const std::string& str() const { return bytes_; }

  // Equal when byte for byte equal; ordered by unsigned bytes, a proper
  // prefix first.
  friend bool operator==(const Text&, const Text&) = default;
  friend std::strong_ordering operator<=>(const Text& a, const Text& b) {
    return a.view().compare(b.view()) <=> 0;
  }

  // Builds a Text from bytes already known to hold no zero byte.
  static Text FromTrusted(std::string s) {
    Text t;
    t.bytes_ = std::move(s);
    return t;
  }

 private:
  std::string bytes_;
};

class Bytes {
 public:
  Bytes() = default;
  explicit Bytes(std::string_view s);
  explicit Bytes(std::string&& s);
  Bytes(const unsigned char* p, std::int32_t n);

  std::int32_t size() const { return static_cast<std::int32_t>(bytes_.size()); }
  bool empty() const { return bytes_.empty(); }
  const char* data() const { return bytes_.data(); }
  char* data() { return bytes_.data(); }
  const unsigned char* udata() const {
    return reinterpret_cast<const unsigned char*>(bytes_.data());
  }
  std::string_view view() const { return bytes_; }
  const std::string& str() const { return bytes_; }
  std::string& str() { return bytes_; }

  friend bool operator==(const Bytes&, const Bytes&) = default;

 private:
  std::string bytes_;
};

class TextArray {
 public:
  TextArray() = default;
  explicit TextArray(std::vector<Text> items) : items_(std::move(items)) {}

  std::int32_t size() const { return static_cast<std::int32_t>(items_.size()); }
  bool empty() const { return items_.empty(); }
  void push_back(Text t) { items_.push_back(std::move(t)); }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }
  const std::vector<Text>& items() const { return items_; }

  friend bool operator==(const TextArray&, const TextArray&) = default;

 private:
  std::vector<Text> items_;
};

// The element count of an array.
std::int32_t ArraySize(const TextArray& a);

// Checked 1-based element access. An index below 1 raises FatalError code 4
// "数组成员引用下标必须大于等于1"; above the count (any index into an empty
// array) code 1 "数组成员引用下标超出定义范围". The lower bound is checked
// first.
//   Element(SplitText("a,b"), 1) == "a"
const Text& Element(const TextArray& a, std::int32_t index);
//   Element(Bytes("\x7f"), 1) == 0x7F   (the byte as 0..255)
int Element(const Bytes& b, std::int32_t index);

}  // namespace qelvaro
