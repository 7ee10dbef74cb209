// The cpp-httplib server of the internet layer's tests, on 127.0.0.1 and a
// free port (plain, or SSLServer for TLS). The raw server that records the
// exact request bytes is testing/loopback_server.h.
//
// Owns: the httplib server and its listening thread. Does not own: the
// routes (the test sets them on `server` before Start).
//
// Example:
//   HttpServer http;
//   http.server.Get("/", [](const httplib::Request&, httplib::Response& res) {
//     res.set_content("hi", "text/plain");
//   });
//   http.Start();
//   Call call("127.0.0.1", http.port());
#pragma once

#include <httplib.h>

#include <chrono>
#include <cstdint>
#include <thread>
#include <utility>

namespace qelvaro::platform::testing {

// A cpp-httplib server (plain, or SSLServer) run on a thread of its own.
template <typename Server = httplib::Server>
class BasicHttpServer {
 public:
  template <typename... Args>
  explicit BasicHttpServer(Args&&... args) : server(std::forward<Args>(args)...) {}
  BasicHttpServer(const BasicHttpServer&) = delete;
  BasicHttpServer& operator=(const BasicHttpServer&) = delete;
  ~BasicHttpServer() {
    server.stop();
    if (thread_.joinable()) thread_.join();
  }
  // Call after the routes are set.
  void Start() {
    port_ = server.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server.listen_after_bind(); });
    while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::uint16_t port() const { return static_cast<std::uint16_t>(port_); }

  Server server;

 private:
  int port_ = 0;
  std::thread thread_;
};
using HttpServer = BasicHttpServer<>;

}  // namespace qelvaro::platform::testing
