// Taking an address apart for the request routine: the host to connect to,
// the port and the object path.
//
// Owns: UrlHost, UrlPort, UrlPath. Does not own: percent-decoding, validation
// or name resolution; the routines read the address purely as text and a
// malformed address gives whatever their steps produce. None of them fails.
//
// Searches compare case-sensitively (UrlHost lower-cases the address first);
// the two searches of UrlPath ignore ASCII case. All searches walk characters
// (text/primitives.h), so a byte such as "/" or "." that is the trail byte of
// a two-byte character never counts.
#pragma once

#include <cstdint>
#include <optional>

#include "text/text.h"

namespace qelvaro {

// The host of an address, always in lower case.
//
// Standard mode (levels absent): the text between the leading "https://" (or
// else the first "http://" anywhere, which is put in front when the address
// has none) and the next "/". With registrableDomain only the last two
// dot-separated labels are kept (the port travels with the last one).
// Unless keepPort, everything from the first ":" on is dropped.
//   UrlHost("http://Host.Example/X") == "host.example"
//   UrlHost("http://host.example:81/x", false, true) == "host.example:81"
//   UrlHost("w.x.host.example", true) == "host.example"
//   UrlHost("ftp://host.example/x") == "ftp"   (the scheme is not http)
//
// Level mode (levels supplied, value n, even 0): every "http://" and then
// every "https://" is removed wherever it stands, the text is cut at the
// first "/", and the last n + 2 dot-separated labels are kept (n + 1 with
// registrableDomain); a "." in the very last position does not count, and a
// host with too few dots comes back whole.
//   UrlHost("http://a.b.c.d.e/x", false, false, 0) == "d.e"
//   UrlHost("a.b.c.d.e", false, false, 1) == "c.d.e"
//   UrlHost("a.b.c.d.e", true, false, 0) == "e"
//   UrlHost("a.b.c.d.e.", false, false, 0) == "d.e."
Text UrlHost(const Text& url, bool registrableDomain = false, bool keepPort = false,
             std::optional<std::int32_t> levels = std::nullopt);

// The port: the number after the last ":" of UrlHost(url, keepPort = true)
// (TextToInt: a missing or non-numeric number gives 0), else 443 when the
// address starts with "https" in any case, else 80.
//   UrlPort("https://host.example:444") == 444
//   UrlPort("HTTPS://host.example/x") == 443
//   UrlPort("http://host.example:x/") == 0
std::int32_t UrlPort(const Text& url);

// The object path: the address from the first "/" after its host to the end,
// query and fragment included, letters in their given case; "/" when there is
// none. The host is looked for from where UrlHost took it (just after the
// scheme text), so a host that also spells part of the scheme, such as "h"
// or "ps", does not pull the path forward.
//   UrlPath("http://Host.Example/X/y?Q=1") == "/X/y?Q=1"
//   UrlPath("http://host.example?q=1") == "/"
//   UrlPath("http://h/x") == "/x"
Text UrlPath(const Text& url);

}  // namespace qelvaro
