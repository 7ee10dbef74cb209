// The internet handle API of the platform, with the calling contract of its
// Windows namesake, built over libcurl: a root (session) handle, connection
// handles below it and HTTP request handles below those, plus the URL
// helpers InternetCanonicalizeUrlA and InternetCrackUrlA.
//
// Owns: the handles and their lifetime, the transfers (streamed, never
// buffered whole), the process-wide cookie store, proxy selection, time-outs,
// the host routes and the blocking hook. Does not own: any notion of Text or
// Bytes, request defaults of the program (User-Agent texts, default header
// lines: see web/), or the GUI's event handling.
//
// Handles
//   - HINTERNET values are opaque numbers, never pointers to memory; a closed,
//     unknown or wrong-kind handle makes a call fail (0 / nullptr), it never
//     crashes. Numbers are not reused within a run.
//   - A child keeps what it needs of its parent alive: closing a root handle
//     or a connection while requests below it are open is allowed, the
//     children keep working until they are closed themselves. Closing a
//     request that another thread is using ends that thread's call promptly.
//   - Any thread may call. One call at a time per request handle: a second
//     call on a handle that is in use (from another thread, or from the
//     blocking hook) fails.
//
// Transfers
//   - HttpSendRequestA drives the transfer until the final response's header
//     block has arrived (redirects and 1xx answers are passed over) and then
//     returns; the body streams through InternetReadFile, which hands back
//     what has arrived, at most the size asked for, and never holds more than
//     about 1 MiB of body ahead of the reader (the transfer is paused).
//   - InternetReadFile sets the count to 0 before any work. It delivers 0 with
//     TRUE at the end of the body, and FALSE (count 0) for a failed read: a
//     transfer that failed (connection lost mid-body, time-out, a body beyond
//     256 MiB unless the request's INTERNET_OPTION_BODY_LIMIT says otherwise),
//     or a request that was never sent. Bytes that arrived before a failure
//     are delivered first; every read after a failure fails again.
//   - After a call of HttpSendRequestA or InternetReadFile fails,
//     GetLastError on the same thread tells why (ERROR_INTERNET_TIMEOUT,
//     ERROR_INTERNET_CONNECTION_ABORTED, ...).
//   - Time-outs: 15 s to connect (name lookup included); a wait in which
//     nothing arrives for 30 s fails the transfer.
//   - Response header blocks of more than 300 KiB in all (the transport's
//     limit; 1xx and followed redirect answers count) and single header
//     lines beyond 100 KiB fail the request, as does a reply that is not
//     HTTP/1.x (no HTTP/0.9) or that ends inside its header block.
//   - Redirects are followed (at most 10, http and https only) unless the
//     request says INTERNET_FLAG_NO_AUTO_REDIRECT; when they are followed,
//     the headers, body and queries are those of the final response. An http address is redirected
//     to https only with INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS, an https
//     address to http only with INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP; other
//     such redirects fail the transfer. When a transfer fails after a
//     redirect answer arrived, the queries report that answer.
//   - There is no cache: INTERNET_FLAG_RELOAD, _DONT_CACHE and _NEED_FILE are
//     accepted and change nothing. Unknown flags are ignored.
//   - INTERNET_FLAG_SECURE selects TLS; certificates are always verified
//     against the system's store.
//
// Request text
//   - The object path is sent as given, except that control bytes, space,
//     DEL and bytes from 0x80 up are percent-escaped ("%0D", "%20", "%E4"), an
//     empty path becomes "/" and a path without a leading "/" gets one. A
//     fragment ("#" and what follows) is never sent.
//   - The header text of HttpSendRequestA loses every CR or LF that is not
//     part of a CR LF pair, is split at CR LF, and every line with a header
//     name and ":" is sent in order, as given ("Name:" with an empty value is
//     sent as such); blank lines and lines without ":" are dropped.
//   - The lines go in this order: the request line; Host (a Host line of the
//     header text replaces it); Proxy-Authorization and Authorization when
//     credentials are set; User-Agent (the root's agent, unless the header
//     text has a User-Agent line of its own, which is then the only one);
//     Proxy-Connection when a proxy serves the request; Cookie when the
//     shared store has cookies for the address; the Accept line made of
//     HttpOpenRequestA's accept types and the Referer line of its referrer
//     (each left out when the header text has that header); the header
//     text's lines; Content-Length when a body is sent. Nothing else: no
//     default Accept, Expect, Content-Type or Pragma lines of the transport.
//   - "HTTP/1.0" as version selects HTTP/1.0; anything else HTTP/1.1.
//   - The verb is sent as given (an HTTP token: no spaces, no control
//     bytes, otherwise HttpOpenRequestA fails); a body is
//     sent with any verb, "GET" included, whenever one is given. "POST"
//     without a body sends Content-Length: 0.
//
// Proxies (access type of InternetOpenA, or INTERNET_OPTION_PROXY later)
//   - INTERNET_OPEN_TYPE_DIRECT: never a proxy, whatever the environment says.
//   - INTERNET_OPEN_TYPE_PRECONFIG: the desktop's setting, which on Linux is
//     the environment (http_proxy, https_proxy, all_proxy, no_proxy).
//   - INTERNET_OPEN_TYPE_PROXY: a list of entries separated by spaces or ";":
//     "http=HOST:PORT" and "https=HOST:PORT" name the proxy for one scheme, a
//     bare "HOST:PORT" serves both; "http://" in front of HOST is allowed and
//     the port defaults to 80. A scheme without a usable entry (none, an empty
//     one such as "http=", or one that is not HOST[:PORT]) goes direct. A host
//     matching the bypass list (entries separated by spaces, ";" or ",";
//     "*" wildcards; "<local>" for names without a dot) goes direct.
//
// Cookies
//   One in-memory store for the whole process, used by every request that does
//   not say INTERNET_FLAG_NO_COOKIES (such a request neither sends nor stores
//   cookies of the store). Nothing is written to disk.
//   InternetSetOptionA(nullptr, INTERNET_OPTION_END_BROWSER_SESSION, ...)
//   forgets the session cookies.
//
// Example:
//   HINTERNET root = InternetOpenA("agent", INTERNET_OPEN_TYPE_DIRECT,
//                                  nullptr, nullptr, 0);
//   HINTERNET conn = InternetConnectA(root, "host.example", 80, nullptr,
//                                     nullptr, INTERNET_SERVICE_HTTP, 0, 0);
//   HINTERNET req = HttpOpenRequestA(conn, "GET", "/x?q=1", "HTTP/1.1",
//                                    nullptr, nullptr, INTERNET_FLAG_RELOAD, 0);
//   HttpSendRequestA(req, "Accept: */*", 11, nullptr, 0);
//   char buf[1024];
//   DWORD got = 0;
//   while (InternetReadFile(req, buf, sizeof buf, &got) && got > 0) { ... }
//   InternetCloseHandle(req);
//   InternetCloseHandle(conn);
//   InternetCloseHandle(root);
#pragma once

#include <cstdint>
#include <string_view>

namespace qelvaro::platform {

using BOOL = int;
using DWORD = std::uint32_t;
using DWORD_PTR = std::uintptr_t;
using INTERNET_PORT = std::uint16_t;
using INTERNET_SCHEME = int;

// Never defined: a HINTERNET only names a handle.
struct InternetHandleName;
using HINTERNET = InternetHandleName*;

// Access types of InternetOpenA and INTERNET_PROXY_INFO.
inline constexpr DWORD INTERNET_OPEN_TYPE_PRECONFIG = 0;
inline constexpr DWORD INTERNET_OPEN_TYPE_DIRECT = 1;
inline constexpr DWORD INTERNET_OPEN_TYPE_PROXY = 3;
inline constexpr DWORD INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY = 4;

// Services of InternetConnectA: only HTTP is offered.
inline constexpr DWORD INTERNET_SERVICE_HTTP = 3;

// Ports.
inline constexpr INTERNET_PORT INTERNET_INVALID_PORT_NUMBER = 0;  // the scheme's
inline constexpr INTERNET_PORT INTERNET_DEFAULT_HTTP_PORT = 80;
inline constexpr INTERNET_PORT INTERNET_DEFAULT_HTTPS_PORT = 443;

// Request flags of HttpOpenRequestA.
inline constexpr DWORD INTERNET_FLAG_RELOAD = 0x80000000;
inline constexpr DWORD INTERNET_FLAG_DONT_CACHE = 0x04000000;
inline constexpr DWORD INTERNET_FLAG_NO_CACHE_WRITE = 0x04000000;
inline constexpr DWORD INTERNET_FLAG_SECURE = 0x00800000;
inline constexpr DWORD INTERNET_FLAG_NO_AUTO_REDIRECT = 0x00200000;
inline constexpr DWORD INTERNET_FLAG_NO_COOKIES = 0x00080000;
inline constexpr DWORD INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP = 0x00008000;
inline constexpr DWORD INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS = 0x00004000;
inline constexpr DWORD INTERNET_FLAG_NEED_FILE = 0x00000010;

// Queries of HttpQueryInfoA; HTTP_QUERY_FLAG_NUMBER asks for a DWORD.
inline constexpr DWORD HTTP_QUERY_CONTENT_LENGTH = 5;
inline constexpr DWORD HTTP_QUERY_STATUS_CODE = 19;
inline constexpr DWORD HTTP_QUERY_RAW_HEADERS_CRLF = 22;
inline constexpr DWORD HTTP_QUERY_LOCATION = 33;
inline constexpr DWORD HTTP_QUERY_FLAG_NUMBER = 0x20000000;

// Options of InternetSetOptionA.
inline constexpr DWORD INTERNET_OPTION_PROXY = 38;
inline constexpr DWORD INTERNET_OPTION_END_BROWSER_SESSION = 42;
inline constexpr DWORD INTERNET_OPTION_PROXY_USERNAME = 43;
inline constexpr DWORD INTERNET_OPTION_PROXY_PASSWORD = 44;
// This layer's own: the largest body a request delivers (see
// InternetSetOptionA). Outside the numbers of the Windows options.
inline constexpr DWORD INTERNET_OPTION_BODY_LIMIT = 0x7F000001;

// Reasons GetLastError gives after a failed call.
inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_INTERNET_TIMEOUT = 12002;
inline constexpr DWORD ERROR_INTERNET_INTERNAL_ERROR = 12004;
inline constexpr DWORD ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
inline constexpr DWORD ERROR_INTERNET_OPERATION_CANCELLED = 12017;
inline constexpr DWORD ERROR_INTERNET_INCORRECT_HANDLE_STATE = 12019;
inline constexpr DWORD ERROR_INTERNET_CANNOT_CONNECT = 12029;
inline constexpr DWORD ERROR_INTERNET_CONNECTION_ABORTED = 12030;
inline constexpr DWORD ERROR_HTTP_INVALID_SERVER_RESPONSE = 12152;
inline constexpr DWORD ERROR_HTTP_REDIRECT_FAILED = 12156;
// This layer's own: the body went beyond the request's body limit.
inline constexpr DWORD ERROR_INTERNET_BODY_TOO_LARGE = 0x7F000001;

// Flags of InternetCanonicalizeUrlA and InternetCrackUrlA.
inline constexpr DWORD ICU_ESCAPE = 0x80000000;
inline constexpr DWORD ICU_NO_ENCODE = 0x20000000;
inline constexpr DWORD ICU_DECODE = 0x10000000;
inline constexpr DWORD ICU_NO_META = 0x08000000;
inline constexpr DWORD ICU_ENCODE_SPACES_ONLY = 0x04000000;
inline constexpr DWORD ICU_BROWSER_MODE = 0x02000000;

// Schemes reported by InternetCrackUrlA.
inline constexpr INTERNET_SCHEME INTERNET_SCHEME_UNKNOWN = -1;
inline constexpr INTERNET_SCHEME INTERNET_SCHEME_FTP = 1;
inline constexpr INTERNET_SCHEME INTERNET_SCHEME_GOPHER = 2;
inline constexpr INTERNET_SCHEME INTERNET_SCHEME_HTTP = 3;
inline constexpr INTERNET_SCHEME INTERNET_SCHEME_HTTPS = 4;
inline constexpr INTERNET_SCHEME INTERNET_SCHEME_FILE = 5;

// The buffer of INTERNET_OPTION_PROXY.
struct INTERNET_PROXY_INFO {
  DWORD dwAccessType;
  const char* lpszProxy;
  const char* lpszProxyBypass;
};

// The parts InternetCrackUrlA reports; see there.
struct URL_COMPONENTSA {
  DWORD dwStructSize;  // must be sizeof(URL_COMPONENTSA)
  char* lpszScheme;
  DWORD dwSchemeLength;
  INTERNET_SCHEME nScheme;
  char* lpszHostName;
  DWORD dwHostNameLength;
  INTERNET_PORT nPort;
  char* lpszUserName;
  DWORD dwUserNameLength;
  char* lpszPassword;
  DWORD dwPasswordLength;
  char* lpszUrlPath;
  DWORD dwUrlPathLength;
  char* lpszExtraInfo;
  DWORD dwExtraInfoLength;
};

// A root handle. agent (may be null: no User-Agent line) is the User-Agent of
// every request below it; CR and LF in it are dropped. accessType is
// INTERNET_OPEN_TYPE_DIRECT, _PRECONFIG (_WITH_NO_AUTOPROXY) or _PROXY with
// the proxy list and bypass list described above. flags are ignored.
// Failure: nullptr (unknown access type, libcurl unavailable).
HINTERNET InternetOpenA(const char* agent, DWORD accessType, const char* proxy,
                        const char* proxyBypass, DWORD flags);

// A connection handle for serverName:serverPort (port 0: 80, or 443 for
// secure requests). Nothing touches the network here; an unusable host name
// makes the send fail. userName and password (may be null or empty) are sent
// as basic authentication to that server. Failure: nullptr (not a root
// handle, null or empty server name, a service other than HTTP).
HINTERNET InternetConnectA(HINTERNET internet, const char* serverName,
                           INTERNET_PORT serverPort, const char* userName,
                           const char* password, DWORD service, DWORD flags,
                           DWORD_PTR context);

// A request handle: verb (null: "GET"), objectName (null: "/"), version
// (null: HTTP/1.1), referrer (may be null), acceptTypes (null, or a
// null-terminated list; an entry written as a whole "Accept: ..." line counts
// as its value; the values, trimmed, are joined by ", " into one Accept line)
// and the request flags. Nothing is sent yet. Failure: nullptr (not a
// connection handle, a verb that is not a token).
HINTERNET HttpOpenRequestA(HINTERNET connect, const char* verb,
                           const char* objectName, const char* version,
                           const char* referrer, const char* const* acceptTypes,
                           DWORD flags, DWORD_PTR context);

// Sends the request: headers (may be null; headersLength (DWORD)-1 means "up
// to the zero byte") and the body optional/optionalLength (may be null/0),
// then waits for the final response's header block. TRUE when it arrived.
// FALSE when the request could not be made or answered (bad handle, name not
// resolved, connection refused, time-out, a reply that is not HTTP, too many
// redirects). Sending again on the same handle starts a new request.
BOOL HttpSendRequestA(HINTERNET request, const char* headers,
                      DWORD headersLength, const void* optional,
                      DWORD optionalLength);

// Reads the next body bytes of a sent request into buffer: at most
// numberOfBytesToRead, as many as have arrived, waiting only while none have.
// See "Transfers" above for the end and for failures.
BOOL InternetReadFile(HINTERNET file, void* buffer, DWORD numberOfBytesToRead,
                      DWORD* numberOfBytesRead);

// Queries the final response of a sent request (or the last answer of a
// transfer that failed after it). Levels: HTTP_QUERY_RAW_HEADERS_CRLF (the
// status line and the header lines, each ended by CR LF, then an empty line
// "\r\n"), HTTP_QUERY_CONTENT_LENGTH, HTTP_QUERY_STATUS_CODE,
// HTTP_QUERY_LOCATION (the header's value, trimmed; index, when given,
// selects the index-th such header and is advanced on success); with
// HTTP_QUERY_FLAG_NUMBER the value as a DWORD (4 bytes).
// Text results end with a zero byte. On success *bufferLength is the length
// without the zero byte. When the result with its zero byte does not fit, the
// call fails, leaves the buffer untouched and sets *bufferLength to the
// length needed, zero byte included. A request never answered, a header that
// is absent, a header block beyond 1 MiB (for the raw query): failure.
BOOL HttpQueryInfoA(HINTERNET request, DWORD infoLevel, void* buffer,
                    DWORD* bufferLength, DWORD* index);

// Releases a handle (see "Handles" above). FALSE for an unknown handle.
BOOL InternetCloseHandle(HINTERNET internet);

// INTERNET_OPTION_PROXY on a root handle: buffer is an INTERNET_PROXY_INFO
// (bufferLength at least its size); applies to requests sent from then on.
// INTERNET_OPTION_PROXY_USERNAME / _PASSWORD on a connection or request
// handle: buffer holds bufferLength bytes of text (cut at a zero byte); an
// empty text means none. INTERNET_OPTION_END_BROWSER_SESSION with a null
// handle: forgets the store's session cookies. INTERNET_OPTION_BODY_LIMIT on
// a request handle: buffer holds a std::uint64_t (bufferLength its size), the
// largest body the request delivers from its next send on; 0 means no limit
// (a download of any size, streamed). Anything else fails.
//
// Example (a file of any size):
//   const std::uint64_t none = 0;
//   InternetSetOptionA(req, INTERNET_OPTION_BODY_LIMIT, &none, sizeof none);
BOOL InternetSetOptionA(HINTERNET internet, DWORD option, const void* buffer,
                        DWORD bufferLength);

// Canonicalises an absolute address "scheme:rest": the scheme is lower-cased;
// for "scheme://authority..." an empty path becomes "/", "\" in the path
// becomes "/", and "." and ".." segments of the path are resolved (not with
// ICU_NO_META). Unless ICU_NO_ENCODE is given, control bytes, space, DEL and
// bytes from 0x80 up in the path, query and fragment are percent-escaped
// (only spaces with ICU_ENCODE_SPACES_ONLY). The host, the query, the fragment
// and existing escapes are kept as they are; other flags are ignored.
// *bufferLength holds the buffer's size; on success it is the length written
// without the zero byte; when the result does not fit, the call fails and sets
// it to the size needed, zero byte included. An address without a scheme fails.
//
// Example:
//   "HTTP://Host.Example/a/./b/../c?x=1#f" -> "http://Host.Example/a/c?x=1#f"
BOOL InternetCanonicalizeUrlA(const char* url, char* buffer,
                              DWORD* bufferLength, DWORD flags);

// Splits an address (urlLength bytes, or up to its zero byte when 0) into
// scheme, host, port, user name, password, path and extra info (from the
// first "?" or "#" on). For each part: a buffer and its size (zero byte
// included) asks for a copy, and the length becomes the part's length; a null
// buffer with a non-zero length asks for a pointer into url and the part's
// length; a zero length asks for nothing. When the extra info is not asked
// for, the path keeps the query and the fragment. nPort is the address's port
// or the scheme's default (80 http, 443 https, 21 ftp, else 0); nScheme names
// the scheme. Fails, writing nothing, for a wrong dwStructSize, an address
// without a scheme, a port that is not a number up to 65535, or a part that
// does not fit its buffer. flags are ignored (nothing is decoded).
//
// Example:
//   "http://u:p@host.example:81/a/b?q=1#f" -> scheme "http", host
//   "host.example", port 81, user "u", password "p", path "/a/b" and extra
//   "?q=1#f" (or path "/a/b?q=1#f" when the extra info is not asked for).
BOOL InternetCrackUrlA(const char* url, DWORD urlLength, DWORD flags,
                       URL_COMPONENTSA* urlComponents);

// Why the last call of HttpSendRequestA or InternetReadFile on this thread
// failed: ERROR_INVALID_HANDLE (not a request handle, or in use by another
// call), ERROR_INTERNET_INCORRECT_HANDLE_STATE (a read before a send),
// ERROR_INTERNET_NAME_NOT_RESOLVED, ERROR_INTERNET_CANNOT_CONNECT,
// ERROR_INTERNET_TIMEOUT (no connection in time, or nothing arrived for the
// idle time), ERROR_INTERNET_CONNECTION_ABORTED (the connection ended before
// the answer was whole), ERROR_INTERNET_OPERATION_CANCELLED (the handle was
// closed meanwhile), ERROR_HTTP_INVALID_SERVER_RESPONSE, ERROR_HTTP_REDIRECT_FAILED,
// ERROR_INTERNET_BODY_TOO_LARGE or ERROR_INTERNET_INTERNAL_ERROR. A call that
// succeeds leaves it as it was.
//
// Example:
//   if (!InternetReadFile(req, buf, sizeof buf, &got) &&
//       GetLastError() == ERROR_INTERNET_TIMEOUT) { ... }
DWORD GetLastError();

// A process-wide host route, like a hosts file for this process: every new
// connection to host (any port; name compared without regard to case) goes to
// address:port instead. Requests keep the host in the URL and the Host line.
// address is an IPv4 or IPv6 literal or a host name. Returns false (and
// changes nothing) for an empty or malformed host or address, or port 0. A
// later route for the same host replaces the earlier one.
//
// Example:
//   RouteHost("search.music.example", "127.0.0.1", 45678);
bool RouteHost(std::string_view host, std::string_view address,
               std::uint16_t port);
// Removes every route.
void ClearRoutes();

// While a call blocks (HttpSendRequestA, or InternetReadFile waiting for
// data), the hook is called at least every 50 ms or so, on the blocked thread,
// so that a window can repaint. The hook must not call back into this layer
// for the blocked request (such calls fail) and must not run other handlers.
// nullptr removes the hook.
void SetBlockingHook(void (*hook)());

}  // namespace qelvaro::platform
