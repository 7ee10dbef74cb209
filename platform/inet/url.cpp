// InternetCanonicalizeUrlA and InternetCrackUrlA: pure text work on an
// address, no network.
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/inet/inet.h"
#include "platform/inet/request_text.h"

namespace qelvaro::platform {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";

bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Length of the scheme of "scheme:...", or 0 when there is none.
std::size_t SchemeLength(std::string_view url) {
  if (url.empty() || !IsAlpha(url[0])) return 0;
  std::size_t i = 1;
  while (i < url.size() &&
         (IsAlpha(url[i]) || IsDigit(url[i]) || url[i] == '+' || url[i] == '-' || url[i] == '.')) {
    ++i;
  }
  return (i < url.size() && url[i] == ':') ? i : 0;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// Removes "." and ".." segments (RFC 3986, 5.2.4).
std::string RemoveDotSegments(std::string_view in) {
  std::string out;
  while (!in.empty()) {
    if (in.substr(0, 3) == "../") {
      in.remove_prefix(3);
    } else if (in.substr(0, 2) == "./") {
      in.remove_prefix(2);
    } else if (in.substr(0, 3) == "/./") {
      in.remove_prefix(2);
    } else if (in == "/.") {
      in = "/";
    } else if (in.substr(0, 4) == "/../" || in == "/..") {
      in = in.size() == 3 ? std::string_view("/") : in.substr(3);
      const std::size_t slash = out.rfind('/');
      out.erase(slash == std::string::npos ? 0 : slash);
    } else if (in == "." || in == "..") {
      in = {};
    } else {
      const std::size_t next = in.find('/', 1);
      const std::size_t n = next == std::string_view::npos ? in.size() : next;
      out.append(in.substr(0, n));
      in.remove_prefix(n);
    }
  }
  return out;
}

std::string Encode(std::string_view s, bool spacesOnly) {
  std::string out;
  out.reserve(s.size());
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    const bool escape = spacesOnly ? c == ' ' : (c <= 0x20 || c >= 0x7F);
    if (escape) {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    } else {
      out.push_back(ch);
    }
  }
  return out;
}

INTERNET_SCHEME SchemeNumber(std::string_view scheme) {
  using inet_internal::EqualsNoCase;
  if (EqualsNoCase(scheme, "http")) return INTERNET_SCHEME_HTTP;
  if (EqualsNoCase(scheme, "https")) return INTERNET_SCHEME_HTTPS;
  if (EqualsNoCase(scheme, "ftp")) return INTERNET_SCHEME_FTP;
  if (EqualsNoCase(scheme, "gopher")) return INTERNET_SCHEME_GOPHER;
  if (EqualsNoCase(scheme, "file")) return INTERNET_SCHEME_FILE;
  return INTERNET_SCHEME_UNKNOWN;
}

INTERNET_PORT DefaultPort(INTERNET_SCHEME scheme) {
  switch (scheme) {
    case INTERNET_SCHEME_HTTP: return 80;
    case INTERNET_SCHEME_HTTPS: return 443;
    case INTERNET_SCHEME_FTP: return 21;
    case INTERNET_SCHEME_GOPHER: return 70;
    default: return 0;
  }
}

// One part of a cracked address and where its answer goes.
struct Part {
  std::string_view text;
  char** buffer;
  DWORD* length;
  bool Wanted() const { return *length != 0; }
  bool Copies() const { return *buffer != nullptr && *length != 0; }
  bool Fits() const { return !Copies() || std::uint64_t{text.size()} + 1 <= *length; }
  void Write() const {
    if (!Wanted()) return;
    if (Copies()) {
      std::memcpy(*buffer, text.data(), text.size());
      (*buffer)[text.size()] = '\0';
    } else {
      *buffer = const_cast<char*>(text.data());  // points into the caller's address
    }
    *length = static_cast<DWORD>(text.size());
  }
};

}  // namespace

BOOL InternetCanonicalizeUrlA(const char* url, char* buffer, DWORD* bufferLength,
                              DWORD flags) {
  if (url == nullptr || bufferLength == nullptr) return 0;
  const std::string_view in(url);
  const std::size_t schemeLength = SchemeLength(in);
  if (schemeLength == 0) return 0;
  std::string out = Lower(in.substr(0, schemeLength)) + ":";
  std::string_view rest = in.substr(schemeLength + 1);
  std::string tail;  // what follows the authority
  if (rest.substr(0, 2) == "//") {
    std::size_t end = rest.find_first_of("/?#\\", 2);
    if (end == std::string_view::npos) end = rest.size();
    out.append(rest.substr(0, end));
    rest.remove_prefix(end);
    std::size_t pathEnd = rest.find_first_of("?#");
    if (pathEnd == std::string_view::npos) pathEnd = rest.size();
    std::string path(rest.substr(0, pathEnd));
    for (char& c : path) {
      if (c == '\\') c = '/';
    }
    if (path.empty()) path = "/";
    if ((flags & ICU_NO_META) == 0) path = RemoveDotSegments(path);
    if (path.empty()) path = "/";
    tail = path + std::string(rest.substr(pathEnd));
  } else {
    tail = std::string(rest);
  }
  if ((flags & ICU_NO_ENCODE) == 0) {
    tail = Encode(tail, (flags & ICU_ENCODE_SPACES_ONLY) != 0);
  }
  out += tail;

  const std::uint64_t needed = std::uint64_t{out.size()} + 1;
  if (buffer == nullptr || *bufferLength < needed) {
    *bufferLength = needed > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(needed);
    return 0;
  }
  std::memcpy(buffer, out.data(), out.size());
  buffer[out.size()] = '\0';
  *bufferLength = static_cast<DWORD>(out.size());
  return 1;
}

BOOL InternetCrackUrlA(const char* url, DWORD urlLength, DWORD /*flags*/,
                       URL_COMPONENTSA* c) {
  if (url == nullptr || c == nullptr || c->dwStructSize != sizeof(URL_COMPONENTSA)) return 0;
  const std::string_view in = urlLength == 0 ? std::string_view(url) : std::string_view(url, urlLength);
  const std::size_t schemeLength = SchemeLength(in);
  if (schemeLength == 0) return 0;
  const std::string_view scheme = in.substr(0, schemeLength);
  const INTERNET_SCHEME number = SchemeNumber(scheme);
  std::string_view rest = in.substr(schemeLength + 1);

  std::string_view user, password, host, path;
  std::string_view portText;
  // Empty parts point where they would stand in the address.
  user = password = host = rest.substr(0, 0);
  if (rest.substr(0, 2) == "//") {
    std::size_t end = rest.find_first_of("/?#", 2);
    if (end == std::string_view::npos) end = rest.size();
    std::string_view authority = rest.substr(2, end - 2);
    path = rest.substr(end);
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
      const std::string_view info = authority.substr(0, at);
      const std::size_t colon = info.find(':');
      user = info.substr(0, colon);
      password = colon == std::string_view::npos ? info.substr(info.size()) : info.substr(colon + 1);
      authority.remove_prefix(at + 1);
    } else {
      user = password = authority.substr(0, 0);
    }
    host = authority;
    if (!authority.empty() && authority.front() == '[') {
      const std::size_t close = authority.find(']');
      if (close == std::string_view::npos) return 0;
      host = authority.substr(0, close + 1);
      const std::string_view after = authority.substr(close + 1);
      if (!after.empty()) {
        if (after.front() != ':') return 0;
        portText = after.substr(1);
      }
    } else if (const std::size_t colon = authority.rfind(':'); colon != std::string_view::npos) {
      host = authority.substr(0, colon);
      portText = authority.substr(colon + 1);
    }
  } else {
    path = rest;
  }

  INTERNET_PORT port = DefaultPort(number);
  if (!portText.empty()) {
    std::uint32_t value = 0;
    for (char ch : portText) {
      if (!IsDigit(ch)) return 0;
      value = value * 10 + static_cast<std::uint32_t>(ch - '0');
      if (value > 65535) return 0;
    }
    port = static_cast<INTERNET_PORT>(value);
  }

  std::string_view extra = path.substr(path.size());
  if (c->dwExtraInfoLength != 0) {
    const std::size_t split = path.find_first_of("?#");
    if (split != std::string_view::npos) {
      extra = path.substr(split);
      path = path.substr(0, split);
    }
  }

  const Part parts[] = {
      {scheme, &c->lpszScheme, &c->dwSchemeLength},
      {host, &c->lpszHostName, &c->dwHostNameLength},
      {user, &c->lpszUserName, &c->dwUserNameLength},
      {password, &c->lpszPassword, &c->dwPasswordLength},
      {path, &c->lpszUrlPath, &c->dwUrlPathLength},
      {extra, &c->lpszExtraInfo, &c->dwExtraInfoLength},
  };
  for (const Part& p : parts) {
    if (!p.Fits()) return 0;
  }
  for (const Part& p : parts) p.Write();
  c->nScheme = number;
  c->nPort = port;
  return 1;
}

}  // namespace qelvaro::platform
