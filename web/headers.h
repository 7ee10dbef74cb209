// The header text of the request routine: the agent it opens with, the
// default request lines it adds, and what it reads back out of the response
// header block.
//
// Owns: HeaderValue, AgentFor, CompleteRequestHeaders, ScanResponseHeaders
// and the default User-Agent. Does not own: sending or receiving anything
// (the request routine and platform/inet/), or folding received cookies into
// a kept cookie text (web/cookies.h).
//
// All tests here search the whole text or the whole line, case-sensitively
// and anywhere, not only at a line start (AgentFor's first test alone ignores
// case). Header lines are separated by CR LF.
#pragma once

#include <optional>

#include "text/text.h"

namespace qelvaro {

// The agent a request opens with when its header text names none.
inline constexpr char kDefaultUserAgent[] =
    "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1; MX7QZ; .NET CLR 2.0.50727; "
    ".NET CLR 3.0.04506.648; .NET CLR 3.5.21022)";

// The text after the first ":" of a line, trimmed at both ends (TrimBoth);
// empty when the line has no ":".
//   HeaderValue("Location:  /next ") == "/next"
//   HeaderValue("Content-Location: /x") == "/x"
//   HeaderValue("no colon") == ""
Text HeaderValue(const Text& line);

// The agent for a request with this header text. When the text contains
// "User-Agent:" in any case: the text between the first "User-Agent:"
// (exactly so spelt) and the next CR LF, trimmed; when that is empty (no such
// line end, or the spelling differs), HeaderValue of the whole header text,
// which is everything after its first ":", line breaks included. Otherwise
// kDefaultUserAgent.
//   AgentFor("User-Agent: A1") == "A1"
//   AgentFor("User-Agent: A1\r\nX: y") == "A1"
//   AgentFor("user-agent: A1\r\nX: y") == "A1\r\nX: y"
//   AgentFor("Accept: */*") == kDefaultUserAgent
Text AgentFor(const Text& headers);

// Appends the default request lines, each test seeing the lines added before
// it: "Referer: " + url (after a CR LF unless headers is empty) when headers
// lacks "Referer:"; "\r\nAccept: */*" when it lacks "Accept:";
// "\r\nAccept-Language: zh-cn" when it lacks "Accept-Language:";
// "\r\nContent-Type: application/x-www-form-urlencoded" when it lacks
// "Content-Type:"; "\r\nCookie: " + *cookies when cookies holds a non-empty
// text. The result never ends in CR LF.
//   Text h;  CompleteRequestHeaders(h, "http://a/", std::nullopt);
//   h == "Referer: http://a/\r\nAccept: */*\r\nAccept-Language: zh-cn"
//        "\r\nContent-Type: application/x-www-form-urlencoded"
//   Text h = "X-Referer: y";   // counts as a Referer line: none is added
//   Text h = "Accept-Language: en";   // still gets "\r\nAccept: */*"
void CompleteRequestHeaders(Text& headers, const Text& url, const std::optional<Text>& cookies);

// Reads the raw response header block (lines split at CR LF):
//   - a line containing "Location:" sets redirectAddress to its HeaderValue;
//     a later one overwrites an earlier one ("Content-Location:" counts);
//   - receivedCookies becomes, for every line containing "Set-Cookie", the
//     trimmed text between "Set-Cookie:" and the next ";" of that line
//     (empty when either is missing), joined by "; ";
//   - when redirectAddress is still empty at the end, it becomes a copy of
//     rawHeaders. It is not cleared at the start.
//   ScanResponseHeaders("HTTP/1.1 200 OK\r\nSet-Cookie: a=1; path=/\r\n"
//                       "Set-Cookie: b=2; HttpOnly\r\n\r\n", r, c);
//   c == "a=1; b=2"
void ScanResponseHeaders(const Text& rawHeaders, Text& redirectAddress, Text& receivedCookies);

}  // namespace qelvaro
