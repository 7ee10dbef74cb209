// Pure text helpers of the internet layer: escaping the object path, the
// header lines of a request, proxy and bypass lists, host validation and
// reading a response's header block. Internal to platform/inet; no curl, no
// state.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qelvaro::platform::inet_internal {

// True for a token of RFC 9110 (verbs, header names): letters, digits and
// !#$%&'*+-.^_`|~. An empty text is no token.
bool IsToken(std::string_view s);

// The object path as it goes on the request line: cut at the first "#",
// "/" in front unless it starts with one, control bytes, space, DEL and bytes
// from 0x80 up as "%XX". An empty path is "/".
//   EscapeObjectPath("a b\r\n") == "/a%20b%0D%0A"
std::string EscapeObjectPath(std::string_view path);

// The host as it goes into a URL, or nullopt when it cannot be one: letters,
// digits, "-", ".", "_" and bytes from 0x80 up (international names), or an
// IPv6 literal with or without brackets (returned with them).
//   UrlHost("Host.Example") == "Host.Example"; UrlHost("::1") == "[::1]"
//   UrlHost("a b") == nullopt; UrlHost("a/b") == nullopt
std::optional<std::string> UrlHostText(std::string_view host);

// Drops CR and LF from a single header value (agent, referrer).
std::string DropLineBreaks(std::string_view s);

// Trims spaces, tabs, CR and LF at both ends.
std::string_view TrimSpace(std::string_view s);

// Case-insensitive ASCII comparison.
bool EqualsNoCase(std::string_view a, std::string_view b);

// The header lines a caller's header text stands for: a CR or LF that is not
// part of a CR LF pair is dropped, the text is split at CR LF, blank lines are
// dropped.
std::vector<std::string> SplitHeaderText(std::string_view text);

// The name of a header line (before its first ":", trimmed), or empty when
// the line has no ":".
std::string_view HeaderName(std::string_view line);

// What a request sends besides its request line and Host.
struct RequestHeaderPlan {
  // The header lines in order, as curl list entries: entries ending in ";"
  // stand for a header with an empty value, entries ending in ":" remove a
  // header of the transport's own.
  std::vector<std::string> entries;
  // True when the root's agent is sent (no User-Agent line in the text).
  bool sendAgent = true;
};

// acceptTypes: the entries given to the request (already copied); referrer:
// empty for none; lines: SplitHeaderText of the header text.
RequestHeaderPlan PlanRequestHeaders(const std::vector<std::string>& acceptTypes,
                                     std::string_view referrer,
                                     const std::vector<std::string>& lines);

// A parsed proxy list: for each scheme the proxy "host:port" to use, or empty
// for direct.
struct ProxyChoice {
  std::string http;
  std::string https;
};
ProxyChoice ParseProxyList(std::string_view list);

// True when host matches an entry of the bypass list.
bool BypassMatches(std::string_view bypass, std::string_view host);

// The status code of a status line "HTTP/x.y NNN ...", or 0 when the line is
// not one.
int StatusCode(std::string_view statusLine);

// The value (trimmed) of the index-th (0-based) header named name in a raw
// header block (lines ended by CR LF, the status line first), if any.
std::optional<std::string_view> FindHeader(std::string_view block,
                                           std::string_view name,
                                           std::uint32_t index);

}  // namespace qelvaro::platform::inet_internal
