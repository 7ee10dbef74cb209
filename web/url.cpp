#include "web/url.h"

#include "text/primitives.h"

namespace qelvaro {
namespace {

// Everything from the first ":" on goes, unless the port is wanted.
Text DropPort(const Text& host, bool keepPort) {
  if (keepPort) return host;
  const std::int32_t colon = FindText(host, ":");
  return colon == -1 ? host : TextLeft(host, colon - 1);
}

Text StandardHost(const Text& url, bool registrableDomain, bool keepPort) {
  Text s = ToLower(url);
  if (TextRight(s, 1) != Text("/")) s = ConcatText(s, "/");
  if (TextLeft(s, 8) == Text("https://")) {
    s = TextBetween(s, "https://", "/");
  } else {
    if (FindText(s, "http://") == -1) s = ConcatText("http://", s);
    s = TextBetween(s, "http://", "/");
  }
  if (registrableDomain) {
    const TextArray labels = SplitText(s, ".");
    const std::int32_t n = ArraySize(labels);
    if (n >= 2) s = ConcatText(Element(labels, n - 1), ".", Element(labels, n));
  }
  return DropPort(s, keepPort);
}

Text LevelHost(const Text& url, bool registrableDomain, bool keepPort, std::int32_t levels) {
  Text s = ToLower(url);
  s = ReplaceText(s, "http://");
  s = ReplaceText(s, "https://");
  const std::int32_t slash = FindText(s, "/");
  if (slash != -1) s = TextLeft(s, slash - 1);
  const std::int32_t length = TextLength(s);
  // Each step moves to the dot before the current one; once nothing is found
  // every further search starts at -1 and finds nothing either, so the walk
  // can stop there. That bounds it by the number of dots, whatever levels is.
  std::int32_t p = length;
  for (std::int32_t i = 0; i < levels && p != -1; ++i) p = FindTextReverse(s, ".", p);
  const std::int32_t q = FindTextReverse(s, ".", p);
  if (registrableDomain) {
    s = TextRight(s, length - q);
  } else if (q != -1) {
    const std::int32_t r = FindTextReverse(s, ".", q);
    if (r != -1) s = TextRight(s, length - r);
  }
  return DropPort(s, keepPort);
}

// The position in url just after the scheme text UrlHost reads the host
// after: the leading "https://", else the first "http://", else 1 (UrlHost
// then puts "http://" in front itself).
std::int32_t HostStart(const Text& url) {
  const Text lower = ToLower(url);
  if (TextLeft(lower, 8) == Text("https://")) return 9;
  const std::int32_t http = FindText(lower, "http://");
  return http == -1 ? 1 : http + 7;
}

}  // namespace

Text UrlHost(const Text& url, bool registrableDomain, bool keepPort,
             std::optional<std::int32_t> levels) {
  if (levels.has_value()) return LevelHost(url, registrableDomain, keepPort, *levels);
  return StandardHost(url, registrableDomain, keepPort);
}

std::int32_t UrlPort(const Text& url) {
  const Text host = UrlHost(url, false, true);
  if (FindText(host, ":") != -1) {
    const std::int32_t last = FindTextReverse(host, ":");
    return TextToInt(TextRight(host, TextLength(host) - last));
  }
  return TextLeft(ToLower(url), 5) == Text("https") ? 443 : 80;
}

Text UrlPath(const Text& url) {
  const Text host = UrlHost(url);
  // Searching for the host from position 1 would find a host such as "h",
  // "t" or "ps" inside the scheme text itself and take the path from the
  // "//" there; the host is looked for where UrlHost found it instead.
  const std::int32_t a = FindText(url, host, HostStart(url), 1);
  if (a == -1) return "/";
  const std::int32_t b = FindText(url, "/", a, 1);
  if (b <= 0) return "/";
  return TextRight(url, TextLength(url) - b + 1);
}

}  // namespace qelvaro
