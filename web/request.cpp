#include "web/request.h"

#include <string>
#include <utility>

#include "platform/inet/inet.h"
#include "text/primitives.h"
#include "web/body_reader.h"
#include "web/cookies.h"
#include "web/headers.h"
#include "web/internet_handle.h"
#include "web/url.h"

namespace qelvaro {
namespace {

namespace inet = platform;
using web_internal::InternetHandle;

constexpr inet::DWORD kReadPiece = 1024;
constexpr std::int32_t kRawHeaderBuffer = 5000;

// The address as the Referer line carries it: CR and LF percent-escaped, so
// that they cannot end the line (the request line escapes them too).
Text RefererAddress(const Text& url) {
  if (url.view().find_first_of("\r\n") == std::string_view::npos) return url;
  std::string out;
  out.reserve(static_cast<std::size_t>(url.size()) + 8);
  for (char c : url.view()) {
    if (c == '\r') {
      out += "%0D";
    } else if (c == '\n') {
      out += "%0A";
    } else {
      out += c;
    }
  }
  return Text::FromTrusted(std::move(out));
}

}  // namespace

Bytes WebRequest(const Text& url, std::int32_t method, const Text& bodyText, Text* cookies,
                 Text* receivedCookies, Text* headers, Text* redirectAddress, bool noRedirect,
                 Bytes* bodyBytes, const std::optional<Text>& proxy, Text* rawHeaders) {
  // 1. The verb.
  const char* const verb = method == 1 ? "POST" : "GET";

  // 2. The agent; the header text itself stays as it is.
  Text headerText = headers != nullptr ? *headers : Text();
  const Text agent = AgentFor(headerText);

  // 3. The root handle: direct, or through the proxy when one is supplied.
  InternetHandle root;
  if (proxy.has_value()) {
    const Text list = ConcatText("http=", *proxy);
    root = InternetHandle(
        inet::InternetOpenA(agent.c_str(), inet::INTERNET_OPEN_TYPE_PROXY, list.c_str(), "", 0));
  } else {
    root = InternetHandle(
        inet::InternetOpenA(agent.c_str(), inet::INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
  }
  if (!root) return Bytes();  // failure path A

  // 4. The connection. A port the layer cannot take is no connection: it is
  // never cut down to some other port.
  const std::int32_t port = UrlPort(url);
  if (port < 0 || port > 0xFFFF) return Bytes();  // failure path B
  const Text host = UrlHost(url);
  InternetHandle connection(inet::InternetConnectA(root.get(), host.c_str(),
                                                   static_cast<inet::INTERNET_PORT>(port), nullptr,
                                                   nullptr, inet::INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection) return Bytes();  // failure path B

  // 5. The request flags.
  inet::DWORD flags = inet::INTERNET_FLAG_RELOAD | inet::INTERNET_FLAG_NEED_FILE;
  if (cookies != nullptr) flags |= inet::INTERNET_FLAG_NO_COOKIES;
  if (noRedirect) flags |= inet::INTERNET_FLAG_NO_AUTO_REDIRECT;
  if (ToLower(TextLeft(url, 5)) == Text("https")) {
    flags |= inet::INTERNET_FLAG_SECURE;
  } else {
    flags |= inet::INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS;
  }

  // 6. The request.
  const Text path = UrlPath(url);
  InternetHandle request(inet::HttpOpenRequestA(connection.get(), verb, path.c_str(), "HTTP/1.1",
                                                nullptr, nullptr, flags, 0));
  if (!request) return Bytes();  // failure path C

  // 7. The default header lines.
  std::optional<Text> sentCookies;
  if (cookies != nullptr) sentCookies = *cookies;
  CompleteRequestHeaders(headerText, RefererAddress(url), sentCookies);

  // 8. Send; the outcome shows in the reads and the header query.
  Bytes body = bodyBytes != nullptr ? *bodyBytes : Bytes();
  if (method != 0) {
    if (body.empty()) body = TextToBytes(bodyText);
    inet::HttpSendRequestA(request.get(), headerText.data(),
                           static_cast<inet::DWORD>(headerText.size()),
                           body.empty() ? nullptr : body.data(),
                           static_cast<inet::DWORD>(body.size()));
  } else {
    inet::HttpSendRequestA(request.get(), headerText.data(),
                           static_cast<inet::DWORD>(headerText.size()), nullptr, 0);
  }

  // 9. The body, in pieces of 1024 bytes.
  Bytes result = web_internal::ReadBody(request.get(), kReadPiece,
                                        web_internal::AnnouncedLength(request.get()));

  // 10. The response header block, queried into 5000 spaces.
  std::string block = BlankText(kRawHeaderBuffer).str();
  inet::DWORD blockLength = kRawHeaderBuffer;
  inet::HttpQueryInfoA(request.get(), inet::HTTP_QUERY_RAW_HEADERS_CRLF, block.data(),
                       &blockLength, nullptr);
  const Text raw(std::move(block));  // up to the zero byte the query wrote

  // 11. Close the request, the connection and the root handle.
  request.Close();
  connection.Close();
  root.Close();

  // 12, 13 and 15. The Location and Set-Cookie lines; the raw block stands in
  // for a redirect address that is still empty.
  Text address = redirectAddress != nullptr ? *redirectAddress : Text();
  Text received;
  ScanResponseHeaders(raw, address, received);

  // 14. A supplied cookie text takes in what was received.
  if (cookies != nullptr) MergeCookies(*cookies, received);

  if (receivedCookies != nullptr) *receivedCookies = std::move(received);
  if (headers != nullptr) *headers = std::move(headerText);
  if (redirectAddress != nullptr) *redirectAddress = std::move(address);
  if (bodyBytes != nullptr && method != 0) *bodyBytes = std::move(body);
  if (rawHeaders != nullptr) *rawHeaders = raw;

  // 16.
  return result;
}

}  // namespace qelvaro
