// Internal to demo/: the cpp-httplib server under MusicService, on 127.0.0.1.
//
// Owns: the httplib::Server and its listening thread, the connections (each
// served on a thread of httplib's pool through a stream of our own, so that
// every wait also watches the stop signal), the keep-alive loop, the request
// limits (head size, body size, body framing) and the head of each request as
// it arrived. Does not own: what a request is answered with
// (music_service.cpp); every request that passes the limits goes to one
// handler.
//
// httplib parses the request line and the headers, writes the status line,
// the headers and the body (from a content provider) and sends its own error
// answers (400 for a bad request line, 414, 416). Any answer the handler did
// not make closes the connection afterwards. Range headers are ignored:
// every answer carries the whole body.
#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>
#include <thread>

namespace qelvaro::demo::internal {

using Milliseconds = std::chrono::milliseconds;

struct ServerLimits {
  // How long a connection may sit idle between or inside requests, and how
  // long an answer may wait for the client to take more bytes.
  Milliseconds idle_timeout{15000};
  std::size_t max_head = 64 * 1024;         // request line and headers; more: 431
  std::size_t max_body = 16 * 1024 * 1024;  // Content-Length; more: 413
  std::size_t threads = 16;                 // connections served at once
  std::size_t max_requests = 1000;          // on one connection
};

class LoopbackServerImpl;

// The connection a request came on. Handlers and the content providers they
// set run on the connection's own thread, while the connection lives.
class Connection final : public httplib::Stream {
 public:
  Connection(int fd, int stop_fd, const std::atomic<bool>& stopping, const ServerLimits& limits);
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Waits `ms`. False when the service stops or the client goes meanwhile.
  bool Pause(Milliseconds ms) const;
  bool Stopped() const { return stopping_.load(); }
  // The connection closes after this answer.
  void CloseAfterResponse() { close_ = true; }
  // Nothing more is sent; the connection closes.
  void Abandon() { broken_ = true; }
  // Pads the answer's header block (status line to the empty line) with
  // X-Padding lines to at least `bytes`.
  void PadHeadTo(std::size_t bytes) { pad_to_ = bytes; }

  // httplib::Stream. Reads and writes wait at most the idle time-out and end
  // at once when the service stops.
  bool is_readable() const override;
  bool is_writable() const override;
  ssize_t read(char* ptr, std::size_t size) override;
  ssize_t write(const char* ptr, std::size_t size) override;
  void get_remote_ip_and_port(std::string& ip, int& port) const override;
  void get_local_ip_and_port(std::string& ip, int& port) const override;
  socket_t socket() const override { return fd_; }

 private:
  friend class LoopbackServerImpl;
  enum class Waited { kReady, kTimeout, kStopped };
  Waited Wait(short events, Milliseconds timeout) const;

  // For the server: the keep-alive loop and the answer's last touches.
  bool AwaitRequest() const;
  void BeginRequest();
  std::string TakeHead();
  bool ReadBody(std::size_t n, std::string& out);
  void Finish(const httplib::Request& request, httplib::Response& response);
  bool closing() const { return close_ || broken_ || !finished_; }
  void Linger();

  const int fd_;
  const int stop_fd_;
  const std::atomic<bool>& stopping_;
  const ServerLimits& limits_;
  std::string in_;  // received, not yet read from pos_ on
  std::size_t pos_ = 0;
  // The current request.
  std::string head_;
  bool in_head_ = true;
  bool head_too_long_ = false;
  bool answered_ = false;  // by the handler
  bool finished_ = false;  // an answer went out
  bool close_ = false;
  bool broken_ = false;
  std::size_t pad_to_ = 0;
};

class LoopbackServer {
 public:
  // Answers one request: `head` is the request line and the header lines as
  // received, through the empty line; `body` the Content-Length bytes after
  // it. Sets status, headers and body (or content provider) of `response`.
  using Handler = std::function<void(std::string head, std::string body,
                                     httplib::Response& response, Connection& connection)>;

  LoopbackServer(ServerLimits limits, Handler handler);
  ~LoopbackServer();  // Stop()
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  // Listens on 127.0.0.1:port (0: a free port). False when it cannot or runs.
  bool Start(int port);
  // Ends every connection and wait, joins the threads. Idempotent.
  void Stop();
  int port() const { return port_; }

 private:
  const ServerLimits limits_;
  const Handler handler_;
  std::atomic<bool> stopping_{false};
  int stop_fd_ = -1;
  std::unique_ptr<LoopbackServerImpl> server_;
  std::thread listener_;
  int port_ = 0;
};

}  // namespace qelvaro::demo::internal
