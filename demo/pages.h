// Internal to demo/: the built-in pages of the music service and the maker's
// web site, and the small text helpers they share with the server.
//
// Owns: the search page, track records, the start page, the notice, the
// song and error pages, and the routing of a request to one of them. Does
// not own: sockets, test routes or misbehaviours (music_service.cpp).
#pragma once

#include <string>
#include <string_view>

#include "demo/catalogue.h"
#include "demo/music_service.h"

namespace qelvaro::demo::internal {

// The answer for an unknown or empty track id: 15 bytes, bare line feeds.
inline constexpr std::string_view kEmptyRecord = "<Song>\n</Song>\n";

// Percent-decoding of raw bytes: either digit case, a "%" without two hex
// digits stays; "+" becomes a space when asked.
//   PercentDecode("%E6%88%91+x", true) == "我 x"
std::string PercentDecode(std::string_view s, bool plus_is_space);
// Every byte outside A-Z a-z 0-9 - _ . ~ as "%" and two upper-case digits.
//   PercentEncode("高 a") == "%E9%AB%98%20a"
std::string PercentEncode(std::string_view s);
// & < > " as character references.
std::string HtmlEscape(std::string_view s);
// "11.8 KB" below a MiB, "1.25 MB" from there.
std::string FormatSize(std::size_t bytes);
// UTF-8 to code page 936 through iconv; "" when iconv cannot.
std::string Utf8ToGbk(std::string_view utf8);

std::string SearchPageHtml(const Catalogue& catalogue, const ServiceOptions& options,
                           std::string_view key);
std::string TrackRecordText(const Catalogue& catalogue, const ServiceOptions& options,
                            std::string_view id);
std::string NoticeText();  // code page 936, CR LF line ends
std::string NotFoundHtml(std::string_view host, std::string_view path);

// The built-in answer for a request: the pages above by host and path, a
// 404 page for anything else.
Response BuiltInResponse(const Request& request, const Catalogue& catalogue,
                         const ServiceOptions& options, const std::string& notice);

}  // namespace qelvaro::demo::internal
