#include "text/encodings.h"

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "platform/codepage/codepage.h"

namespace qelvaro {
namespace {

using platform::CP_ACP;
using platform::CP_UTF8;
using platform::MultiByteToWideChar;
using platform::WideCharToMultiByte;

constexpr char kHexDigits[] = "0123456789ABCDEF";

// The characters UrlEncodeKeyword escapes: the 32 ASCII punctuation
// characters, then CR and LF; TAB joins them when the table is built.
constexpr std::string_view kEscapeSetText = "!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~\r\n";

constexpr std::array<bool, 128> MakeEscapeSet() {
  std::array<bool, 128> set{};
  for (char c : kEscapeSetText) set[static_cast<unsigned char>(c)] = true;
  set['\t'] = true;
  return set;
}
constexpr std::array<bool, 128> kEscapeSet = MakeEscapeSet();

// Value of a hexadecimal digit of either case, or -1.
constexpr std::array<signed char, 256> MakeHexValues() {
  std::array<signed char, 256> values{};
  for (auto& v : values) v = -1;
  for (int i = 0; i < 16; ++i) {
    const auto digit = static_cast<unsigned char>(kHexDigits[i]);
    values[digit] = static_cast<signed char>(i);
    if (i >= 10) values[digit - 'A' + 'a'] = static_cast<signed char>(i);  // read upper-cased
  }
  return values;
}
constexpr std::array<signed char, 256> kHexValues = MakeHexValues();

void AppendEscape(std::string& out, unsigned char b) {
  const char escape[3] = {'%', kHexDigits[b >> 4], kHexDigits[b & 0x0F]};
  out.append(escape, 3);
}

// A byte count as the int the conversion calls take; counts that do not fit
// could never become a Text or Bytes, so they are a failed allocation.
int CallLength(std::size_t n) {
  text_internal::CheckCount(static_cast<std::int64_t>(n));
  return static_cast<int>(n);
}

// The units of an ANSI text followed by one zero unit (size query, then the
// conversion into a buffer of that many units plus the zero unit).
std::u16string AnsiUnits(std::string_view s) {
  std::u16string units;
  const int len = CallLength(s.size());
  const int n = len == 0 ? 0 : MultiByteToWideChar(CP_ACP, 0, s.data(), len, nullptr, 0);
  if (n > 0) {
    units.resize(static_cast<std::size_t>(n) + 1);
    const int got = MultiByteToWideChar(CP_ACP, 0, s.data(), len, units.data(), n);
    units.resize(static_cast<std::size_t>(got > 0 ? got : 0));
  }
  units.push_back(u'\0');
  return units;
}

void StoreLittleEndian(const char16_t* units, std::size_t n, char* out) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(out, units, n * sizeof(char16_t));
  } else {
    for (std::size_t i = 0; i < n; ++i) {
      out[2 * i] = static_cast<char>(units[i] & 0xFF);
      out[2 * i + 1] = static_cast<char>(units[i] >> 8);
    }
  }
}

void LoadLittleEndian(const unsigned char* bytes, std::size_t n, char16_t* units) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(units, bytes, n * sizeof(char16_t));
  } else {
    for (std::size_t i = 0; i < n; ++i) {
      units[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    }
  }
}

// The units up to and including the first zero unit (all of them when there
// is none) converted to ANSI into a buffer of `room` bytes, cut at the first
// zero byte.
Text UnitsToAnsi(const char16_t* units, std::size_t n, std::size_t room) {
  const char16_t* zero = std::char_traits<char16_t>::find(units, n, u'\0');
  const std::size_t convert = zero != nullptr ? static_cast<std::size_t>(zero - units) + 1 : n;
  // A unit takes at most two bytes, so room never needs to exceed what fits
  // in an int for a result that fits in a Text.
  const std::size_t cap = std::min(room, static_cast<std::size_t>(INT_MAX));
  if (convert == 0 || cap == 0) return Text();
  auto out = std::make_unique_for_overwrite<char[]>(cap);
  const int got = WideCharToMultiByte(CP_ACP, 0, units, CallLength(convert), out.get(),
                                      static_cast<int>(cap));
  return Text(std::string_view(out.get(), static_cast<std::size_t>(got > 0 ? got : 0)));
}

bool IsUtf8Continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// A cut in s[from, to) no earlier than to - 3 that no UTF-8 sequence spans, so
// that converting the two sides apart gives what converting them together
// gives: before a byte that is no continuation byte, or at `to` when none of
// the three bytes before it could open a sequence reaching that far.
std::size_t Utf8Cut(const char* s, std::size_t from, std::size_t to) {
  for (std::size_t k = 0; k < 4 && to - k > from; ++k) {
    if (!IsUtf8Continuation(s[to - k])) return to - k;
  }
  return to;
}

// How many UTF-8 bytes go through the units buffer at a time.
constexpr std::size_t kChunkBytes = 16384;

// UTF-8 data without zero bytes converted to ANSI in place: a chunk at a time
// is widened into a small buffer of units (MultiByteToWideChar with CP_UTF8)
// and narrowed back (WideCharToMultiByte with CP_ACP) behind the read
// position. That is safe because no character takes more bytes in 936 than in
// UTF-8, and a malformed sequence becomes one "?" for at least one byte; so a
// page is never held as UTF-16 in full.
Text Utf8ToAnsiInPlace(std::string&& data) {
  const std::size_t n = data.size();
  if (n == 0) return Text();
  const std::size_t chunk = std::min(n, kChunkBytes);
  auto units = std::make_unique_for_overwrite<char16_t[]>(chunk);
  char* s = data.data();
  std::size_t read = 0, written = 0;
  while (read < n) {
    const std::size_t end = read + chunk >= n ? n : Utf8Cut(s, read, read + chunk);
    const int c = MultiByteToWideChar(CP_UTF8, 0, s + read, static_cast<int>(end - read),
                                      units.get(), static_cast<int>(chunk));
    const int got = c <= 0 ? 0
                           : WideCharToMultiByte(CP_ACP, 0, units.get(), c, s + written,
                                                 static_cast<int>(end - written));
    written += static_cast<std::size_t>(got > 0 ? got : 0);
    read = end;
  }
  data.resize(written);
  return Text::FromTrusted(std::move(data));
}

}  // namespace

Text UrlEncodeKeyword(const Text& keyword) {
  const std::string_view k = keyword.view();
  std::string out;
  out.reserve(k.size() + k.size() / 2);
  std::size_t i = 0;
  while (i < k.size()) {
    const auto b = static_cast<unsigned char>(k[i]);
    if (b >= 0x80) {
      // A double-byte character, converted as a whole: its trail byte may
      // look like ASCII punctuation and must not be judged on its own.
      const std::size_t len = i + 1 < k.size() ? 2 : 1;
      const Bytes utf8 = AnsiToUtf8(Text(k.substr(i, len)));
      for (unsigned char u : utf8.view()) {
        if (u != 0) AppendEscape(out, u);
      }
      i += 2;
    } else {
      if (kEscapeSet[b]) {
        AppendEscape(out, b);
      } else {
        out.push_back(static_cast<char>(b));
      }
      ++i;
    }
  }
  text_internal::CheckCount(static_cast<std::int64_t>(out.size()));
  return Text::FromTrusted(std::move(out));
}

Bytes AnsiToUtf16(const Text& t) {
  const std::u16string units = AnsiUnits(t.view());
  text_internal::CheckCount(static_cast<std::int64_t>(units.size()) * 2);
  std::string bytes(units.size() * 2, '\0');
  StoreLittleEndian(units.data(), units.size(), bytes.data());
  return Bytes(std::move(bytes));
}

Bytes AnsiToUtf8(const Text& t) {
  const std::u16string units = AnsiUnits(t.view());  // n units and the zero unit
  const int n = CallLength(units.size());
  const int size = WideCharToMultiByte(CP_UTF8, 0, units.data(), n, nullptr, 0);
  // Only a result beyond the largest count makes the size query fail.
  if (size <= 0) text_internal::CheckCount(kMaxCount + 1);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  const int got = WideCharToMultiByte(CP_UTF8, 0, units.data(), n, bytes.data(), size);
  bytes.resize(static_cast<std::size_t>(got > 0 ? got : 0));
  // Up to and including the converted zero unit.
  const std::size_t zero = bytes.find('\0');
  if (zero == std::string::npos) {
    bytes.push_back('\0');
  } else {
    bytes.resize(zero + 1);
  }
  return Bytes(std::move(bytes));
}

Text DecodePage(const Text& page) {
  const std::string_view s = page.view();
  std::string decoded;
  decoded.reserve(s.size());  // decoding never grows a page
  std::size_t i = 0;
  while (i < s.size()) {
    const void* percent = std::memchr(s.data() + i, '%', s.size() - i);
    const std::size_t p = percent == nullptr ? s.size()
                                             : static_cast<std::size_t>(
                                                   static_cast<const char*>(percent) - s.data());
    decoded.append(s.data() + i, p - i);
    if (percent == nullptr) break;
    const int hi = p + 2 < s.size() ? kHexValues[static_cast<unsigned char>(s[p + 1])] : -1;
    const int lo = hi >= 0 ? kHexValues[static_cast<unsigned char>(s[p + 2])] : -1;
    if (lo >= 0) {
      const auto value = static_cast<char>(hi * 16 + lo);
      if (value != '\0') decoded.push_back(value);  // a Text cannot hold %00
      i = p + 3;
    } else {
      decoded.push_back('%');  // not an escape: an ordinary percent sign
      i = p + 1;
    }
  }
  return Utf8ToAnsiInPlace(std::move(decoded));
}

Text Utf8ToAnsi(const Bytes& data) {
  // The text ends at the first zero byte of the data.
  std::string_view s = data.view();
  if (const void* zero = std::memchr(s.data(), 0, s.size()); zero != nullptr) {
    s = s.substr(0, static_cast<std::size_t>(static_cast<const char*>(zero) - s.data()));
  }
  return Utf8ToAnsiInPlace(std::string(s));
}

Text Utf16ToAnsi(const Bytes& data) {
  const auto m = static_cast<std::size_t>(data.size());
  const std::size_t n = m / 2;  // an odd last byte is no unit
  if (n == 0) return Text();
  auto units = std::make_unique_for_overwrite<char16_t[]>(n);
  LoadLittleEndian(data.udata(), n, units.get());
  return UnitsToAnsi(units.get(), n, m);
}

}  // namespace qelvaro
