#include "platform/gui/browser/naming.h"

#include <vector>

#include "platform/codepage/codepage.h"

namespace qelvaro::gui::browser {
namespace {

constexpr std::size_t kMaxNameBytes = 200;
constexpr std::size_t kMaxExtensionBytes = 16;

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
  return s;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string PercentDecode(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && HexValue(s[i + 1]) >= 0 && HexValue(s[i + 2]) >= 0) {
      out.push_back(static_cast<char>(HexValue(s[i + 1]) * 16 + HexValue(s[i + 2])));
      i += 2;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

// The code point at s[i] and its length; -1 (length 1) for a byte that does
// not begin a well-formed UTF-8 sequence.
std::pair<long, std::size_t> NextCodePoint(std::string_view s, std::size_t i) {
  const auto b = static_cast<unsigned char>(s[i]);
  if (b < 0x80) return {b, 1};
  std::size_t n = 0;
  long cp = 0;
  long min = 0;
  if (b >= 0xC2 && b <= 0xDF) {
    n = 2, cp = b & 0x1F, min = 0x80;
  } else if (b >= 0xE0 && b <= 0xEF) {
    n = 3, cp = b & 0x0F, min = 0x800;
  } else if (b >= 0xF0 && b <= 0xF4) {
    n = 4, cp = b & 0x07, min = 0x10000;
  } else {
    return {-1, 1};
  }
  if (i + n > s.size()) return {-1, 1};
  for (std::size_t k = 1; k < n; ++k) {
    const auto c = static_cast<unsigned char>(s[i + k]);
    if ((c & 0xC0) != 0x80) return {-1, 1};
    cp = (cp << 6) | (c & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return {-1, 1};
  return {cp, n};
}

bool IsUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto [cp, n] = NextCodePoint(s, i);
    if (cp < 0) return false;
    i += n;
  }
  return true;
}

void AppendUtf8(std::string& out, long cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::string Latin1ToUtf8(std::string_view s) {
  std::string out;
  for (char c : s) AppendUtf8(out, static_cast<unsigned char>(c));
  return out;
}

// Bytes of a name as UTF-8: kept when they are UTF-8 already, else read as
// code page 936 (invalid pairs become U+FFFD).
std::string NameToUtf8(std::string_view bytes) {
  if (IsUtf8(bytes)) return std::string(bytes);
  // Names are short; anything beyond the limit is cut later anyway.
  const std::string_view head = bytes.substr(0, 4096);
  const int len = static_cast<int>(head.size());
  std::vector<char16_t> wide(head.size() + 1);
  const int n = platform::MultiByteToWideChar(platform::CP_GBK, 0, head.data(), len, wide.data(),
                                              static_cast<int>(wide.size()));
  if (n <= 0) return Latin1ToUtf8(head);
  std::string out(static_cast<std::size_t>(n) * 3, '\0');
  const int m = platform::WideCharToMultiByte(platform::CP_UTF8, 0, wide.data(), n, out.data(),
                                              static_cast<int>(out.size()));
  if (m <= 0) return Latin1ToUtf8(head);
  out.resize(static_cast<std::size_t>(m));
  return out;
}

// Characters a file name must not hold: controls, and format characters
// that would hide or reorder what the name shows (an extension spoofed by a
// right-to-left override, say).
bool IsDropped(long cp) {
  return cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp <= 0x9F) || cp == 0xAD ||
         (cp >= 0x200B && cp <= 0x200F) || (cp >= 0x202A && cp <= 0x202E) ||
         (cp >= 0x2060 && cp <= 0x2064) || (cp >= 0x2066 && cp <= 0x2069) || cp == 0xFEFF;
}

// The parameters of a header value such as Content-Disposition, in order:
// "type; name=token; name=\"quoted\\\"string\"".
struct Parameter {
  std::string name;
  std::string value;
};

std::vector<Parameter> Parameters(std::string_view value, std::string* type) {
  std::vector<Parameter> out;
  std::size_t i = 0;
  auto skipSpace = [&] {
    while (i < value.size() && IsSpace(value[i])) ++i;
  };
  const std::size_t firstSemicolon = value.find(';');
  if (type != nullptr) *type = std::string(Trim(value.substr(0, firstSemicolon)));
  if (firstSemicolon == std::string_view::npos) return out;
  i = firstSemicolon + 1;
  while (i < value.size()) {
    skipSpace();
    const std::size_t nameStart = i;
    while (i < value.size() && value[i] != '=' && value[i] != ';') ++i;
    Parameter p;
    p.name = std::string(Trim(value.substr(nameStart, i - nameStart)));
    if (i < value.size() && value[i] == '=') {
      ++i;
      skipSpace();
      if (i < value.size() && value[i] == '"') {
        ++i;
        while (i < value.size() && value[i] != '"') {
          if (value[i] == '\\' && i + 1 < value.size()) ++i;
          p.value.push_back(value[i]);
          ++i;
        }
        if (i < value.size()) ++i;  // the closing quote
        while (i < value.size() && value[i] != ';') ++i;
      } else {
        const std::size_t valueStart = i;
        while (i < value.size() && value[i] != ';') ++i;
        p.value = std::string(Trim(value.substr(valueStart, i - valueStart)));
      }
    }
    if (i < value.size() && value[i] == ';') ++i;
    for (char& c : p.name) c = Lower(c);
    if (!p.name.empty()) out.push_back(std::move(p));
  }
  return out;
}

// filename*=charset'language'percent-encoded; empty when the charset is not
// one we read.
std::string ExtendedValue(std::string_view v) {
  const std::size_t q1 = v.find('\'');
  if (q1 == std::string_view::npos) return {};
  const std::size_t q2 = v.find('\'', q1 + 1);
  if (q2 == std::string_view::npos) return {};
  const std::string_view charset = v.substr(0, q1);
  const std::string decoded = PercentDecode(v.substr(q2 + 1));
  if (EqualsNoCase(charset, "utf-8")) return IsUtf8(decoded) ? decoded : std::string();
  if (EqualsNoCase(charset, "iso-8859-1")) return Latin1ToUtf8(decoded);
  return {};
}

// The start of the authority part ("//") of an absolute address and the end
// of its scheme; npos when there is no scheme.
std::size_t SchemeEnd(std::string_view s) {
  if (s.empty() || !((s[0] >= 'a' && s[0] <= 'z') || (s[0] >= 'A' && s[0] <= 'Z'))) {
    return std::string_view::npos;
  }
  for (std::size_t i = 1; i < s.size(); ++i) {
    const char c = s[i];
    if (c == ':') return i;
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '+' || c == '-' || c == '.';
    if (!ok) return std::string_view::npos;
  }
  return std::string_view::npos;
}

// RFC 3986 5.2.4.
std::string RemoveDotSegments(std::string_view path) {
  std::vector<std::string_view> out;
  const bool absolute = !path.empty() && path.front() == '/';
  std::size_t i = absolute ? 1 : 0;
  bool trailingSlash = false;
  while (i <= path.size()) {
    const std::size_t slash = path.find('/', i);
    const std::size_t end = slash == std::string_view::npos ? path.size() : slash;
    const std::string_view seg = path.substr(i, end - i);
    const bool last = slash == std::string_view::npos;
    if (seg == ".") {
      trailingSlash = last;
    } else if (seg == "..") {
      if (!out.empty()) out.pop_back();
      trailingSlash = last;
    } else {
      out.push_back(seg);
      trailingSlash = false;
    }
    if (last) break;
    i = slash + 1;
  }
  std::string result = absolute ? "/" : "";
  for (std::size_t k = 0; k < out.size(); ++k) {
    if (k > 0) result += '/';
    result += out[k];
  }
  if (trailingSlash && !result.empty() && result.back() != '/') result += '/';
  return result;
}

struct SplitAddress {
  std::string scheme;     // "http"
  std::string authority;  // "host:81"
  std::string path;       // "/a/b"
  std::string query;      // "?x" or empty
};

std::optional<SplitAddress> Split(std::string_view address) {
  const std::size_t colon = SchemeEnd(address);
  if (colon == std::string_view::npos) return std::nullopt;
  SplitAddress a;
  a.scheme = std::string(address.substr(0, colon));
  for (char& c : a.scheme) c = Lower(c);
  std::string_view rest = address.substr(colon + 1);
  rest = rest.substr(0, rest.find('#'));
  if (!rest.starts_with("//")) return std::nullopt;
  rest.remove_prefix(2);
  const std::size_t authorityEnd = rest.find_first_of("/?");
  a.authority = std::string(rest.substr(0, authorityEnd));
  if (a.authority.empty()) return std::nullopt;
  rest = authorityEnd == std::string_view::npos ? std::string_view() : rest.substr(authorityEnd);
  const std::size_t q = rest.find('?');
  a.path = std::string(rest.substr(0, q));
  if (q != std::string_view::npos) a.query = std::string(rest.substr(q));
  if (a.path.empty()) a.path = "/";
  return a;
}

}  // namespace

bool IsPageAnswer(std::string_view contentType, std::string_view contentDisposition) {
  std::string disposition;
  Parameters(contentDisposition, &disposition);
  if (EqualsNoCase(disposition, "attachment")) return false;
  std::string type = std::string(Trim(contentType.substr(0, contentType.find(';'))));
  for (char& c : type) c = Lower(c);
  return type.starts_with("text/") && type.size() > 5;
}

std::string DispositionFileName(std::string_view contentDisposition) {
  std::string plain;
  bool hasPlain = false;
  for (const Parameter& p : Parameters(contentDisposition, nullptr)) {
    if (p.name == "filename*") {
      std::string extended = ExtendedValue(p.value);
      if (!extended.empty()) return extended;
    } else if (p.name == "filename" && !hasPlain) {
      plain = p.value;
      hasPlain = true;
    }
  }
  return NameToUtf8(plain);
}

std::string LastPathSegment(std::string_view address) {
  std::string_view path = address.substr(0, address.find_first_of("?#"));
  if (const std::size_t colon = SchemeEnd(path); colon != std::string_view::npos) {
    path.remove_prefix(colon + 1);
    if (path.starts_with("//")) {
      path.remove_prefix(2);
      const std::size_t slash = path.find('/');
      path = slash == std::string_view::npos ? std::string_view() : path.substr(slash);
    }
  }
  const std::size_t slash = path.rfind('/');
  const std::string_view segment = slash == std::string_view::npos ? path : path.substr(slash + 1);
  return NameToUtf8(PercentDecode(segment));
}

std::string SanitizeFileName(std::string_view name) {
  std::string cleaned;
  cleaned.reserve(name.size());
  for (std::size_t i = 0; i < name.size();) {
    auto [cp, n] = NextCodePoint(name, i);
    i += n;
    if (cp < 0) cp = 0xFFFD;
    if (IsDropped(cp)) continue;
    if (cp == '/' || cp == '\\') cp = '_';
    AppendUtf8(cleaned, cp);
  }
  std::string_view s = cleaned;
  while (!s.empty() && (s.front() == '.' || IsSpace(s.front()))) s.remove_prefix(1);
  while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
  if (s.size() <= kMaxNameBytes) return std::string(s);

  std::string_view extension;
  const std::size_t dot = s.rfind('.');
  if (dot != std::string_view::npos && dot > 0 && s.size() - dot <= kMaxExtensionBytes) {
    extension = s.substr(dot);
  }
  const std::size_t room = kMaxNameBytes - extension.size();
  std::size_t cut = 0;
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t n = NextCodePoint(s, i).second;
    if (i + n > room) break;
    i += n;
    cut = i;
  }
  std::string out(s.substr(0, cut));
  while (!out.empty() && IsSpace(out.back())) out.pop_back();
  out += extension;
  return out;
}

std::string ProposedFileName(std::string_view contentDisposition, std::string_view finalAddress) {
  std::string name = SanitizeFileName(DispositionFileName(contentDisposition));
  if (name.empty()) name = SanitizeFileName(LastPathSegment(finalAddress));
  if (name.empty()) name = "download";
  return name;
}

std::string ResolveAddress(std::string_view base, std::string_view reference) {
  const std::optional<SplitAddress> b = Split(base);
  if (!b) return {};
  reference = Trim(reference);
  reference = reference.substr(0, reference.find('#'));
  if (SchemeEnd(reference) != std::string_view::npos) {
    const std::optional<SplitAddress> r = Split(reference);
    if (!r) return {};
    return r->scheme + "://" + r->authority + RemoveDotSegments(r->path) + r->query;
  }
  if (reference.starts_with("//")) {
    const std::optional<SplitAddress> r = Split(b->scheme + ":" + std::string(reference));
    if (!r) return {};
    return r->scheme + "://" + r->authority + RemoveDotSegments(r->path) + r->query;
  }
  const std::string prefix = b->scheme + "://" + b->authority;
  if (reference.empty()) return prefix + b->path + b->query;
  const std::size_t q = reference.find('?');
  const std::string_view refPath = reference.substr(0, q);
  const std::string refQuery = q == std::string_view::npos ? "" : std::string(reference.substr(q));
  if (refPath.empty()) return prefix + b->path + refQuery;
  if (refPath.front() == '/') return prefix + RemoveDotSegments(refPath) + refQuery;
  const std::string merged = b->path.substr(0, b->path.rfind('/') + 1) + std::string(refPath);
  return prefix + RemoveDotSegments(merged) + refQuery;
}

std::optional<std::string> HeaderValue(std::string_view rawHeaders, std::string_view name) {
  bool statusLine = true;
  while (!rawHeaders.empty()) {
    const std::size_t end = rawHeaders.find("\r\n");
    const std::string_view line = rawHeaders.substr(0, end);
    rawHeaders.remove_prefix(end == std::string_view::npos ? rawHeaders.size() : end + 2);
    if (statusLine) {
      statusLine = false;
      continue;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    if (EqualsNoCase(Trim(line.substr(0, colon)), name)) {
      return std::string(Trim(line.substr(colon + 1)));
    }
  }
  return std::nullopt;
}

std::optional<std::uint64_t> ParseContentLength(std::string_view value) {
  value = Trim(value);
  if (value.empty() || value.size() > 18) return std::nullopt;
  std::uint64_t n = 0;
  for (char c : value) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return n;
}

}  // namespace qelvaro::gui::browser
