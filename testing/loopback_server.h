// A raw HTTP server on 127.0.0.1 for the network tests and benchmarks: it
// records the exact bytes of every request and answers each connection with
// canned bytes, then closes, stalls or sends filler without end. Test and
// benchmark support only; the program never links it.
//
// Owns: the listening socket (127.0.0.1, a free port), one thread per
// connection (a stalled connection never holds up the next; finished ones
// are joined as new ones arrive), the record of requests and the count of
// connections. Every wait is bounded and watches the stop signal, so the
// destructor returns promptly even while clients stall or hold connections
// open. Does not own: any HTTP logic beyond finding the end of a request
// (the head up to the empty line and a body of its Content-Length; or what
// came before the client closed or went quiet for half a second), nor what a
// request is answered with (the handler's Reply).
//
// Example:
//   LoopbackServer server(OkReply("hello"));
//   Bytes body = WebRequest(server.Url("/a"));
//   server.requests()[0]   // "GET /a HTTP/1.1\r\nHost: 127.0.0.1:..."
//
//   LoopbackServer silent([](const std::string&) {
//     return Reply{"", Reply::Then::kStall};
//   });
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qelvaro::testing {

// What the server does with one connection once it has read the request.
struct Reply {
  enum class Then {
    kClose,    // close after the bytes
    kStall,    // keep the connection open, silent, until the client goes
    kEndless,  // keep sending filler bytes ('x') until the client goes
  };
  std::string bytes;                   // sent as they are
  Then then = Then::kClose;
  std::chrono::milliseconds delay{0};  // waited before the bytes
  // Sent right after bytes, without a copy: for large canned bodies. What it
  // views must outlive the server.
  std::string_view borrowed;
};

// "HTTP/1.1 200 OK" with Content-Length, extraLines (each ending in CR LF)
// and "Connection: close", then body.
//   OkReply("hi")  // "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nhi"
std::string OkReply(std::string_view body, std::string_view extraLines = "");

// A port on 127.0.0.1 that nothing listens on.
std::uint16_t ClosedLoopbackPort();

// Unsets the proxy variables of the environment (http_proxy, HTTPS_PROXY,
// no_proxy, ... in both cases), so that requests to 127.0.0.1 go straight
// to the test's own server.
void ClearProxyEnvironment();

class LoopbackServer {
 public:
  // Called with the bytes of each request; one call at a time, never two at
  // once, so a handler may keep state without a lock of its own.
  using Handler = std::function<Reply(const std::string& request)>;

  // Listens at once; a server that cannot listen ends the process with a
  // message.
  explicit LoopbackServer(Handler handler);
  // Answers every connection with the same bytes, then closes.
  explicit LoopbackServer(std::string reply);

  // A moved-from server may only be assigned to or destroyed.
  LoopbackServer(LoopbackServer&&) noexcept;
  LoopbackServer& operator=(LoopbackServer&&) noexcept;
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;
  // Stops accepting, ends every connection and joins every thread.
  ~LoopbackServer();

  std::uint16_t port() const;
  // "http://127.0.0.1:PORT" followed by path.
  //   server.Url("/x")  // "http://127.0.0.1:40123/x"
  std::string Url(std::string_view path = "/") const;
  // The requests read so far, in the order they were read.
  std::vector<std::string> requests() const;
  // The connections accepted so far.
  int connections() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace qelvaro::testing
