// MultiByteToWideChar and WideCharToMultiByte over glibc iconv (code page
// 936) and a hand-written UTF-8 codec.
//
// Every conversion runs through an Output that either writes into the
// caller's buffer (and fails as soon as the buffer is full) or only counts,
// so the size query and the real conversion take the same path and always
// agree. ASCII runs never reach iconv: they are found a word at a time and
// widened or narrowed in a plain loop. iconv sees only the runs between them,
// in small pieces, as code points: glibc's "WCHAR_T" is its internal UCS-4,
// so CP936 <-> WCHAR_T is one conversion step. (Through UTF-16 it would be
// two, and every unmappable character would make glibc convert its whole
// intermediate buffer again to find the position: microseconds per error.)

#include "platform/codepage/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstring>
#include <string>
#include <utility>

namespace qelvaro::platform {
namespace {

constexpr char16_t kReplacementChar = 0xFFFD;
constexpr char kDefaultChar = '?';

constexpr const char* kIconvGbk = "CP936";
constexpr const char* kIconvCodePoints = "WCHAR_T";  // native UCS-4
static_assert(sizeof(wchar_t) == sizeof(char32_t), "glibc's WCHAR_T is 32-bit UCS-4");

// Code points handed to or taken from iconv in one call.
constexpr std::size_t kPiece = 256;

// ---- iconv descriptor -------------------------------------------------------

class Iconv {
 public:
  Iconv() = default;
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() { Close(); }
  Iconv(Iconv&& other) noexcept : cd_(std::exchange(other.cd_, Invalid())) {}
  Iconv& operator=(Iconv&& other) noexcept {
    if (this != &other) {
      Close();
      cd_ = std::exchange(other.cd_, Invalid());
    }
    return *this;
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;

  bool ok() const { return cd_ != Invalid(); }
  // Back to the initial shift state, forgetting any partial input.
  void Reset() { iconv(cd_, nullptr, nullptr, nullptr, nullptr); }
  std::size_t Convert(char** in, std::size_t* inLeft, char** out, std::size_t* outLeft) {
    return iconv(cd_, in, inLeft, out, outLeft);
  }

 private:
  static iconv_t Invalid() { return reinterpret_cast<iconv_t>(-1); }
  void Close() {
    if (ok()) iconv_close(std::exchange(cd_, Invalid()));
  }

  iconv_t cd_ = Invalid();
};

// One pair of descriptors per thread, opened on first use and reused.
Iconv& GbkToCodePoints() {
  thread_local Iconv cd(kIconvCodePoints, kIconvGbk);
  return cd;
}
Iconv& CodePointsToGbk() {
  thread_local Iconv cd(kIconvGbk, kIconvCodePoints);
  return cd;
}

// ---- output ----------------------------------------------------------------

// Where converted units go: the caller's buffer, or nowhere (size query).
template <class Unit>
class Output {
 public:
  Output(Unit* dst, int capacity) : dst_(capacity > 0 ? dst : nullptr), capacity_(capacity) {}

  bool failed() const { return failed_; }
  void Fail() { failed_ = true; }

  void Put(Unit u) {
    if (dst_ != nullptr) {
      if (count_ >= capacity_) {
        failed_ = true;
        return;
      }
      dst_[count_] = u;
    }
    ++count_;
  }

  // Copies n units (ASCII when the types differ), widening or narrowing them.
  template <class Src>
  void PutRun(const Src* s, std::size_t n) {
    if (dst_ != nullptr) {
      if (static_cast<long long>(n) > capacity_ - count_) {
        failed_ = true;
        return;
      }
      Unit* d = dst_ + count_;
      for (std::size_t i = 0; i < n; ++i) d[i] = static_cast<Unit>(s[i]);
    }
    count_ += static_cast<long long>(n);
  }

  int Result() const {
    if (failed_ || count_ > INT_MAX) return 0;
    return static_cast<int>(count_);
  }

 private:
  Unit* dst_;
  long long capacity_;
  long long count_ = 0;
  bool failed_ = false;
};

// ---- ASCII runs --------------------------------------------------------------

// Length of the run of bytes below 0x80 at the start of s[0, n).
std::size_t AsciiRun(const unsigned char* s, std::size_t n) {
  std::size_t i = 0;
  while (n - i >= 8) {
    std::uint64_t w;
    std::memcpy(&w, s + i, 8);
    if ((w & 0x8080808080808080ULL) != 0) break;
    i += 8;
  }
  while (i < n && s[i] < 0x80) ++i;
  return i;
}

// Length of the run of units below 0x80 at the start of s[0, n).
std::size_t AsciiRun(const char16_t* s, std::size_t n) {
  std::size_t i = 0;
  while (n - i >= 4) {
    std::uint64_t w;
    std::memcpy(&w, s + i, 8);
    if ((w & 0xFF80FF80FF80FF80ULL) != 0) break;
    i += 4;
  }
  while (i < n && s[i] < 0x80) ++i;
  return i;
}

// ---- UTF-8 -> UTF-16 ----------------------------------------------------------

// Malformed input becomes one U+FFFD per maximal invalid subpart: a byte that
// cannot start a sequence, or the longest prefix of a well-formed sequence
// that breaks off (overlongs, UTF-8-encoded surrogates and values above
// U+10FFFF break off at their second byte).
void DecodeUtf8(const unsigned char* s, std::size_t n, Output<WCHAR>& out) {
  std::size_t i = 0;
  while (i < n && !out.failed()) {
    if (s[i] < 0x80) {
      std::size_t run = AsciiRun(s + i, n - i);
      out.PutRun(s + i, run);
      i += run;
      continue;
    }
    unsigned b = s[i];
    unsigned need;
    unsigned lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    char32_t cp;
    if (b >= 0xC2 && b <= 0xDF) {
      need = 1;
      cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      need = 2;
      cp = b & 0x0F;
      if (b == 0xE0) lo = 0xA0;       // overlong
      else if (b == 0xED) hi = 0x9F;  // surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
      need = 3;
      cp = b & 0x07;
      if (b == 0xF0) lo = 0x90;       // overlong
      else if (b == 0xF4) hi = 0x8F;  // above U+10FFFF
    } else {
      out.Put(kReplacementChar);
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    bool complete = true;
    for (unsigned k = 0; k < need; ++k, ++j) {
      if (j >= n || s[j] < lo || s[j] > hi) {
        complete = false;
        break;
      }
      cp = (cp << 6) | (s[j] & 0x3F);
      lo = 0x80;
      hi = 0xBF;
    }
    i = j;
    if (!complete) {
      out.Put(kReplacementChar);
    } else if (cp >= 0x10000) {
      cp -= 0x10000;
      out.Put(static_cast<WCHAR>(0xD800 + (cp >> 10)));
      out.Put(static_cast<WCHAR>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.Put(static_cast<WCHAR>(cp));
    }
  }
}

// ---- UTF-16 -> UTF-8 ----------------------------------------------------------

bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Lone surrogates become U+FFFD.
void EncodeUtf8(const WCHAR* s, std::size_t n, Output<char>& out, bool& replaced) {
  std::size_t i = 0;
  while (i < n && !out.failed()) {
    char32_t u = s[i];
    if (u < 0x80) {
      std::size_t run = AsciiRun(s + i, n - i);
      out.PutRun(s + i, run);
      i += run;
      continue;
    }
    ++i;
    if (u < 0x800) {
      out.Put(static_cast<char>(0xC0 | (u >> 6)));
      out.Put(static_cast<char>(0x80 | (u & 0x3F)));
      continue;
    }
    if (IsHighSurrogate(static_cast<char16_t>(u)) && i < n && IsLowSurrogate(s[i])) {
      char32_t cp = 0x10000 + ((u - 0xD800) << 10) + (s[i] - 0xDC00);
      ++i;
      out.Put(static_cast<char>(0xF0 | (cp >> 18)));
      out.Put(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.Put(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.Put(static_cast<char>(0x80 | (cp & 0x3F)));
      continue;
    }
    if (u >= 0xD800 && u <= 0xDFFF) {
      u = kReplacementChar;
      replaced = true;
    }
    out.Put(static_cast<char>(0xE0 | (u >> 12)));
    out.Put(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
    out.Put(static_cast<char>(0x80 | (u & 0x3F)));
  }
}

// ---- 936 -> UTF-16 ----------------------------------------------------------

bool IsGbkLead(unsigned char b) { return b >= 0x81 && b <= 0xFE; }
bool IsGbkTrail(unsigned char b) { return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFE); }

void PutCodePoint(char32_t cp, Output<WCHAR>& out) {
  if (cp < 0x10000) {
    out.Put(static_cast<WCHAR>(cp));
  } else {
    cp -= 0x10000;
    out.Put(static_cast<WCHAR>(0xD800 + (cp >> 10)));
    out.Put(static_cast<WCHAR>(0xDC00 + (cp & 0x3FF)));
  }
}

// One stretch of 936 text that starts with a byte >= 0x80 and ends at a
// character boundary. Invalid input becomes U+FFFD: an unmapped pair of lead
// and trail byte as a whole, a lead byte without a trail byte alone, and a
// single 0x80 or 0xFF alone.
void DecodeGbkStretch(Iconv& cd, const unsigned char* s, std::size_t n, Output<WCHAR>& out) {
  // iconv does not write through its input pointer.
  char* in = const_cast<char*>(reinterpret_cast<const char*>(s));
  std::size_t inLeft = n;
  char32_t piece[kPiece];
  while (inLeft > 0 && !out.failed()) {
    char* o = reinterpret_cast<char*>(piece);
    std::size_t oLeft = sizeof piece;
    const std::size_t r = cd.Convert(&in, &inLeft, &o, &oLeft);
    const int error = errno;
    const auto* end = reinterpret_cast<const char32_t*>(o);
    for (const char32_t* p = piece; p < end; ++p) PutCodePoint(*p, out);
    if (r != static_cast<std::size_t>(-1) || error == E2BIG) continue;
    if (error != EILSEQ && error != EINVAL) {
      out.Fail();
      return;
    }
    const auto* bad = reinterpret_cast<const unsigned char*>(in);
    const std::size_t skip = (inLeft >= 2 && IsGbkLead(bad[0]) && IsGbkTrail(bad[1])) ? 2 : 1;
    in += skip;
    inLeft -= skip;
    out.Put(kReplacementChar);
    cd.Reset();
  }
}

void DecodeGbk(const unsigned char* s, std::size_t n, Output<WCHAR>& out) {
  Iconv& cd = GbkToCodePoints();
  if (!cd.ok()) {
    out.Fail();
    return;
  }
  cd.Reset();
  std::size_t i = 0;
  while (i < n && !out.failed()) {
    if (s[i] < 0x80) {
      std::size_t run = AsciiRun(s + i, n - i);
      out.PutRun(s + i, run);
      i += run;
      continue;
    }
    // Up to the next byte below 0x80 that starts a character: a lead byte
    // takes the byte after it along, whatever that byte is (a trail byte may
    // lie in the ASCII range), so no stretch ends between lead and trail.
    std::size_t j = i;
    while (j < n && s[j] >= 0x80) j += IsGbkLead(s[j]) ? 2 : 1;
    if (j > n) j = n;
    DecodeGbkStretch(cd, s + i, j - i, out);
    i = j;
  }
}

// ---- UTF-16 -> 936 ----------------------------------------------------------

bool IsSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDFFF; }

// Code points without surrogates, all of them >= 0x80. What 936 cannot hold
// becomes "?".
void EncodeGbkPiece(Iconv& cd, char32_t* cps, std::size_t n, Output<char>& out, bool& replaced) {
  char* in = reinterpret_cast<char*>(cps);
  std::size_t inLeft = n * sizeof(char32_t);
  char bytes[2 * kPiece];
  while (inLeft > 0 && !out.failed()) {
    char* o = bytes;
    std::size_t oLeft = sizeof bytes;
    const std::size_t r = cd.Convert(&in, &inLeft, &o, &oLeft);
    const int error = errno;
    out.PutRun(bytes, static_cast<std::size_t>(o - bytes));
    if (r != static_cast<std::size_t>(-1) || error == E2BIG) continue;
    if (error != EILSEQ && error != EINVAL) {
      out.Fail();
      return;
    }
    in += sizeof(char32_t);
    inLeft -= sizeof(char32_t);
    out.Put(kDefaultChar);
    replaced = true;
    cd.Reset();
  }
}

// One stretch of units >= 0x80. Surrogates never reach iconv: a pair (a
// character beyond the BMP, which 936 lacks) becomes one "?", and so does a
// lone surrogate.
void EncodeGbkStretch(Iconv& cd, const WCHAR* s, std::size_t n, Output<char>& out,
                      bool& replaced) {
  char32_t piece[kPiece];
  std::size_t i = 0;
  while (i < n && !out.failed()) {
    if (IsSurrogate(s[i])) {
      i += (IsHighSurrogate(s[i]) && i + 1 < n && IsLowSurrogate(s[i + 1])) ? 2 : 1;
      out.Put(kDefaultChar);
      replaced = true;
      continue;
    }
    std::size_t k = 0;
    while (i < n && k < kPiece && !IsSurrogate(s[i])) piece[k++] = s[i++];
    EncodeGbkPiece(cd, piece, k, out, replaced);
  }
}

void EncodeGbk(const WCHAR* s, std::size_t n, Output<char>& out, bool& replaced) {
  Iconv& cd = CodePointsToGbk();
  if (!cd.ok()) {
    out.Fail();
    return;
  }
  cd.Reset();
  std::size_t i = 0;
  while (i < n && !out.failed()) {
    if (s[i] < 0x80) {
      std::size_t run = AsciiRun(s + i, n - i);
      out.PutRun(s + i, run);
      i += run;
      continue;
    }
    std::size_t j = i;
    while (j < n && s[j] >= 0x80) ++j;
    EncodeGbkStretch(cd, s + i, j - i, out, replaced);
    i = j;
  }
}

// ---- parameters --------------------------------------------------------------

enum class Page { kGbk, kUtf8, kUnknown };

Page PageOf(UINT codePage) {
  switch (codePage) {
    case CP_ACP:
    case CP_GBK:
      return Page::kGbk;
    case CP_UTF8:
      return Page::kUtf8;
    default:
      return Page::kUnknown;
  }
}

// The source length, resolving -1; -1 when the arguments are bad.
template <class Src, class Dst>
long long SourceLength(const Src* src, int srcLen, const Dst* dst, int dstLen) {
  if (src == nullptr || srcLen == 0 || srcLen < -1 || dstLen < 0) return -1;
  if (dstLen > 0 && dst == nullptr) return -1;
  if (dstLen > 0 && static_cast<const void*>(src) == static_cast<const void*>(dst)) return -1;
  if (srcLen > 0) return srcLen;
  std::size_t len = std::char_traits<Src>::length(src) + 1;  // with the zero
  if (len > static_cast<std::size_t>(INT_MAX)) return -1;
  return static_cast<long long>(len);
}

}  // namespace

int MultiByteToWideChar(UINT codePage, DWORD flags, const char* src, int srcLen, WCHAR* dst,
                        int dstLen) {
  Page page = PageOf(codePage);
  long long n = SourceLength(src, srcLen, dst, dstLen);
  if (page == Page::kUnknown || flags != 0 || n < 0) return 0;
  const auto* s = reinterpret_cast<const unsigned char*>(src);
  Output<WCHAR> out(dst, dstLen);
  if (page == Page::kUtf8) {
    DecodeUtf8(s, static_cast<std::size_t>(n), out);
  } else {
    DecodeGbk(s, static_cast<std::size_t>(n), out);
  }
  return out.Result();
}

int WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR* src, int srcLen, char* dst,
                        int dstLen, const char* /*defaultChar*/, BOOL* usedDefaultChar) {
  Page page = PageOf(codePage);
  long long n = SourceLength(src, srcLen, dst, dstLen);
  if (page == Page::kUnknown || (flags & ~WC_COMPOSITECHECK) != 0 || n < 0) return 0;
  Output<char> out(dst, dstLen);
  bool replaced = false;
  if (page == Page::kUtf8) {
    EncodeUtf8(src, static_cast<std::size_t>(n), out, replaced);
  } else {
    EncodeGbk(src, static_cast<std::size_t>(n), out, replaced);
  }
  if (usedDefaultChar != nullptr) *usedDefaultChar = replaced ? 1 : 0;
  return out.Result();
}

}  // namespace qelvaro::platform
