#include "platform/inet/request_text.h"

#include <arpa/inet.h>

#include <cstddef>

namespace qelvaro::platform::inet_internal {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";

unsigned char Lower(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

bool IsBlank(std::string_view s) {
  for (char c : s) {
    if (c != ' ' && c != '\t') return false;
  }
  return true;
}

bool IsIpv6Literal(std::string_view s) {
  if (s.empty() || s.size() > 45) return false;
  const std::string text(s);
  unsigned char address[16];
  return inet_pton(AF_INET6, text.c_str(), address) == 1;
}

// Splits s at any byte of separators, skipping empty pieces.
std::vector<std::string_view> SplitAny(std::string_view s,
                                       std::string_view separators) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  while (start <= s.size()) {
    std::size_t end = s.find_first_of(separators, start);
    if (end == std::string_view::npos) end = s.size();
    if (end > start) out.push_back(s.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

// "host[:port]" with an optional "http://" in front and "/" behind, as
// "host:port" (port 80 when absent); empty when it is not that.
std::string NormaliseProxy(std::string_view v) {
  if (StartsWithNoCase(v, "http://")) v.remove_prefix(7);
  while (!v.empty() && v.back() == '/') v.remove_suffix(1);
  if (v.empty()) return {};
  std::string_view host = v;
  std::string_view port;
  if (v.front() == '[') {
    const std::size_t close = v.find(']');
    if (close == std::string_view::npos) return {};
    host = v.substr(0, close + 1);
    std::string_view rest = v.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return {};
      port = rest.substr(1);
    }
  } else if (const std::size_t colon = v.rfind(':'); colon != std::string_view::npos) {
    host = v.substr(0, colon);
    port = v.substr(colon + 1);
  }
  std::optional<std::string> h = UrlHostText(host);
  if (!h) return {};
  unsigned long number = 80;
  if (!port.empty()) {
    if (port.size() > 5) return {};
    number = 0;
    for (char c : port) {
      if (c < '0' || c > '9') return {};
      number = number * 10 + static_cast<unsigned long>(c - '0');
    }
    if (number == 0 || number > 65535) return {};
  }
  return *h + ":" + std::to_string(number);
}

// Glob match with "*", ASCII case ignored.
bool GlobMatch(std::string_view pattern, std::string_view text) {
  std::size_t p = 0, t = 0, star = std::string_view::npos, mark = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = t;
    } else if (p < pattern.size() &&
               Lower(static_cast<unsigned char>(pattern[p])) ==
                   Lower(static_cast<unsigned char>(text[t]))) {
      ++p;
      ++t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

bool IsToken(std::string_view s) {
  if (s.empty()) return false;
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    const bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
                       (c >= 'A' && c <= 'Z');
    if (!alnum && std::string_view("!#$%&'*+-.^_`|~").find(ch) == std::string_view::npos) {
      return false;
    }
  }
  return true;
}

std::string EscapeObjectPath(std::string_view path) {
  if (const std::size_t hash = path.find('#'); hash != std::string_view::npos) {
    path = path.substr(0, hash);
  }
  std::string out;
  out.reserve(path.size() + 8);
  if (path.empty() || path.front() != '/') out.push_back('/');
  for (char ch : path) {
    const auto c = static_cast<unsigned char>(ch);
    if (c <= 0x20 || c >= 0x7F) {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    } else {
      out.push_back(ch);
    }
  }
  return out;
}

std::optional<std::string> UrlHostText(std::string_view host) {
  if (host.empty()) return std::nullopt;
  if (host.front() == '[') {
    if (host.size() < 3 || host.back() != ']' ||
        !IsIpv6Literal(host.substr(1, host.size() - 2))) {
      return std::nullopt;
    }
    return std::string(host);
  }
  if (host.find(':') != std::string_view::npos) {
    if (!IsIpv6Literal(host)) return std::nullopt;
    return "[" + std::string(host) + "]";
  }
  for (char ch : host) {
    const auto c = static_cast<unsigned char>(ch);
    const bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
                    (c >= 'A' && c <= 'Z') || c == '-' || c == '.' || c == '_' ||
                    c >= 0x80;
    if (!ok) return std::nullopt;
  }
  return std::string(host);
}

std::string DropLineBreaks(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    if (c != '\r' && c != '\n') out.push_back(c);
  }
  return out;
}

std::string_view TrimSpace(std::string_view s) {
  const std::string_view ws = " \t\r\n";
  const std::size_t b = s.find_first_not_of(ws);
  if (b == std::string_view::npos) return {};
  const std::size_t e = s.find_last_not_of(ws);
  return s.substr(b, e - b + 1);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(static_cast<unsigned char>(a[i])) != Lower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

std::vector<std::string> SplitHeaderText(std::string_view text) {
  std::vector<std::string> lines;
  std::string line;
  auto finish = [&] {
    if (!IsBlank(line)) lines.push_back(line);
    line.clear();
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      finish();
      ++i;
    } else if (c != '\r' && c != '\n') {
      line.push_back(c);
    }
  }
  finish();
  return lines;
}

std::string_view HeaderName(std::string_view line) {
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return {};
  return TrimSpace(line.substr(0, colon));
}

RequestHeaderPlan PlanRequestHeaders(const std::vector<std::string>& acceptTypes,
                                     std::string_view referrer,
                                     const std::vector<std::string>& lines) {
  RequestHeaderPlan plan;
  auto textHas = [&](std::string_view name) {
    for (const std::string& l : lines) {
      if (EqualsNoCase(HeaderName(l), name)) return true;
    }
    return false;
  };

  std::string accept;
  for (const std::string& entry : acceptTypes) {
    std::string_view v = TrimSpace(entry);
    if (StartsWithNoCase(v, "Accept:")) v = TrimSpace(v.substr(7));
    const std::string value = DropLineBreaks(v);
    if (value.empty()) continue;
    if (!accept.empty()) accept += ", ";
    accept += value;
  }
  const bool textAccept = textHas("Accept");
  if (!accept.empty() && !textAccept) plan.entries.push_back("Accept: " + accept);
  const std::string ref = DropLineBreaks(TrimSpace(referrer));
  if (!ref.empty() && !textHas("Referer")) plan.entries.push_back("Referer: " + ref);

  for (const std::string& l : lines) {
    const std::string_view name = HeaderName(l);
    if (name.empty()) continue;  // not a header line
    if (EqualsNoCase(name, "User-Agent")) plan.sendAgent = false;
    const std::size_t colon = l.find(':');
    if (TrimSpace(std::string_view(l).substr(colon + 1)).empty()) {
      plan.entries.push_back(l.substr(0, colon) + ";");  // sent as "Name:"
    } else {
      plan.entries.push_back(l);
    }
  }
  if (accept.empty() && !textAccept) plan.entries.push_back("Accept:");
  if (!textHas("Expect")) plan.entries.push_back("Expect:");
  if (!textHas("Content-Type")) plan.entries.push_back("Content-Type:");
  return plan;
}

ProxyChoice ParseProxyList(std::string_view list) {
  std::optional<std::string> http, https, any;
  for (std::string_view entry : SplitAny(list, " \t;")) {
    const std::size_t eq = entry.find('=');
    if (eq == std::string_view::npos) {
      if (!any) any = NormaliseProxy(entry);
      continue;
    }
    const std::string_view key = entry.substr(0, eq);
    const std::string value = NormaliseProxy(entry.substr(eq + 1));
    if (EqualsNoCase(key, "http")) {
      if (!http) http = value;
    } else if (EqualsNoCase(key, "https")) {
      if (!https) https = value;
    }
  }
  ProxyChoice choice;
  choice.http = http ? *http : any.value_or("");
  choice.https = https ? *https : any.value_or("");
  return choice;
}

bool BypassMatches(std::string_view bypass, std::string_view host) {
  for (std::string_view entry : SplitAny(bypass, " \t;,")) {
    if (EqualsNoCase(entry, "<local>")) {
      if (host.find('.') == std::string_view::npos &&
          host.find(':') == std::string_view::npos) {
        return true;
      }
    } else if (GlobMatch(entry, host)) {
      return true;
    }
  }
  return false;
}

int StatusCode(std::string_view line) {
  if (!StartsWithNoCase(line, "HTTP/")) return 0;
  std::size_t i = line.find(' ');
  if (i == std::string_view::npos) return 0;
  while (i < line.size() && line[i] == ' ') ++i;
  if (i + 3 > line.size()) return 0;
  int code = 0;
  for (std::size_t k = i; k < i + 3; ++k) {
    if (line[k] < '0' || line[k] > '9') return 0;
    code = code * 10 + (line[k] - '0');
  }
  if (i + 3 < line.size() && line[i + 3] != ' ') return 0;
  return code;
}

std::optional<std::string_view> FindHeader(std::string_view block,
                                           std::string_view name,
                                           std::uint32_t index) {
  std::size_t pos = block.find("\r\n");  // skip the status line
  while (pos != std::string_view::npos) {
    pos += 2;
    const std::size_t end = block.find("\r\n", pos);
    if (end == std::string_view::npos || end == pos) break;
    const std::string_view line = block.substr(pos, end - pos);
    if (EqualsNoCase(HeaderName(line), name)) {
      if (index == 0) return TrimSpace(line.substr(line.find(':') + 1));
      --index;
    }
    pos = end;
  }
  return std::nullopt;
}

}  // namespace qelvaro::platform::inet_internal
