#include "web/headers.h"

#include <string>
#include <utility>

#include "text/primitives.h"

namespace qelvaro {

Text HeaderValue(const Text& line) {
  const std::int32_t colon = FindText(line, ":");
  if (colon == -1) return Text();
  return TrimBoth(TextRight(line, TextLength(line) - colon));
}

Text AgentFor(const Text& headers) {
  if (FindText(headers, "User-Agent:", 1, 1) == -1) return kDefaultUserAgent;
  const Text agent = TrimBoth(TextBetween(headers, "User-Agent:", "\r\n"));
  return agent.empty() ? HeaderValue(headers) : agent;
}

void CompleteRequestHeaders(Text& headers, const Text& url, const std::optional<Text>& cookies) {
  if (FindText(headers, "Referer:") == -1) {
    headers = headers.empty() ? ConcatText("Referer: ", url)
                              : ConcatText(headers, "\r\nReferer: ", url);
  }
  if (FindText(headers, "Accept:") == -1) headers = ConcatText(headers, "\r\nAccept: */*");
  if (FindText(headers, "Accept-Language:") == -1) {
    headers = ConcatText(headers, "\r\nAccept-Language: zh-cn");
  }
  if (FindText(headers, "Content-Type:") == -1) {
    headers = ConcatText(headers, "\r\nContent-Type: application/x-www-form-urlencoded");
  }
  if (cookies.has_value() && !cookies->empty()) {
    headers = ConcatText(headers, "\r\nCookie: ", *cookies);
  }
}

void ScanResponseHeaders(const Text& rawHeaders, Text& redirectAddress, Text& receivedCookies) {
  // The pairs gather in one buffer: a response may carry thousands of
  // Set-Cookie lines, and concatenating anew for each would copy the whole
  // text each time.
  std::string pairs;
  for (const Text& line : SplitText(rawHeaders, "\r\n")) {
    if (FindText(line, "Location:") != -1) redirectAddress = HeaderValue(line);
    if (FindText(line, "Set-Cookie") != -1) {
      pairs.append(TrimBoth(TextBetween(line, "Set-Cookie:", ";")).view());
      pairs.append("; ");
    }
  }
  const Text joined(std::move(pairs));
  receivedCookies = TextLeft(joined, TextLength(joined) - 2);
  if (redirectAddress.empty()) redirectAddress = rawHeaders;
}

}  // namespace qelvaro
