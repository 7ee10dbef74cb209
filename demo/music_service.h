// The demo music service: one small HTTP/1.x server on 127.0.0.1, built on
// cpp-httplib, that plays the music service (search page, track records,
// singer pictures, MP3 files) and the maker's web site (start page, notice)
// for the tests and the demo program.
//
// Owns: the server (demo/loopback_server.h), the built-in pages, the test
// routes and misbehaviours, and the record of the requests received. Does
// not own: routing the hosts to it (the client's business: every service
// host is pointed at the one port), or the song table (demo/catalogue.h).
//
// Every host is served from the same port; requests are told apart by the
// Host header (its port ignored) or by an absolute target
// ("GET http://host/path", as a proxy sees it), and by the path.
//
// Example:
//   MusicService service;
//   if (!service.Start()) return;                  // a free loopback port
//   // GET /ws/NSearch?type=all&key=%E6%88%91 with "Host: search.music.example"
//   service.SetMisbehaviour("dl.music.example", "*", Misbehaviour::Truncate(100));
//   service.AddRoute("*", "/hello", [](const Request&) { return Response::Text("hi"); });
//   auto seen = service.Requests();                // what arrived, in order
//
// All waits are bounded (ServiceOptions::max_wait) and Stop() (also the
// destructor) returns promptly even while clients stall: every socket wait
// also watches a stop signal.
//
// What it cannot do: answer with bytes that are not HTTP (httplib writes
// every status line), or with a reason phrase of its own. Request bodies
// come by Content-Length only; a chunked one is refused with 411. Range
// headers are ignored: every answer carries its whole body.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "demo/catalogue.h"

namespace qelvaro::demo {

using Milliseconds = std::chrono::milliseconds;

struct ServiceOptions {
  // The hosts the service answers for (as the program's build names them).
  std::string search_host = "search.music.example";
  std::string site_host = "www.music.example";
  std::string record_host = "record.music.example";
  std::string maker_host = "www.qelvaro.example";
  std::string download_host = "dl.music.example";
  std::string picture_host = "img.music.example";
  // 0: any free port.
  int port = 0;
  // Upper bound of every delay, stall and endless body.
  Milliseconds max_wait{60000};
  // How long a connection may sit idle (between or inside requests) and how
  // long a response may wait for the client to take more bytes.
  Milliseconds idle_timeout{15000};
  // Connections served at once (one thread each); more wait their turn.
  std::size_t max_connections = 16;
  // Requests kept for Requests(); the oldest go first.
  std::size_t max_recorded = 10000;
};

struct Header {
  std::string name;
  std::string value;
  bool operator==(const Header&) const = default;
};

// A request as it arrived. Everything but the body is read from the head
// bytes the connection received, not from httplib's parse (which sorts the
// headers by name, percent-decodes their values and drops empty ones).
struct Request {
  std::string method;           // "GET"
  std::string target;           // "/ws/NSearch?type=all&key=%E6%88%91", as sent
  std::string version;          // "HTTP/1.1"
  std::vector<Header> headers;  // in order; names as sent, values trimmed
  std::string body;             // the Content-Length bytes
  std::string head;             // request line, header lines and the empty line, raw
  std::string host;             // from the target or Host, lower case, no port
  std::string path;             // the target's path, before "?"
  std::string query;            // after "?", raw

  // The first header of that name (any case), or empty.
  std::string HeaderValue(std::string_view name) const;
  // The first query parameter of that name, percent-decoded ("+" is a
  // space), or empty.
  std::string Param(std::string_view name) const;
};
using RecordedRequest = Request;

// A body made piece by piece as it is sent, for bodies too big to hold:
// fill(offset, n, out) appends exactly the n bytes from offset to out (fewer
// ends the response there, as a cut connection).
struct BodySource {
  std::size_t length = 0;
  std::function<void(std::size_t offset, std::size_t n, std::string& out)> fill;
};

struct Response {
  int status = 200;             // sent with its usual reason phrase
  // Content-Length, Transfer-Encoding and Connection are the server's: a
  // handler's own are left out, but "Connection: close" closes the
  // connection after the answer. Names with the same spelling keep their
  // order (many Set-Cookie lines); other names go out in alphabetical order.
  std::vector<Header> headers;
  std::string body;
  std::optional<BodySource> source;  // when set, the body instead of `body`

  static Response Text(std::string body, std::string content_type = "text/plain; charset=utf-8",
                       int status = 200);
  static Response Html(std::string body, int status = 200);
  //   Response::Stream(64 << 20, [](std::size_t, std::size_t n, std::string& out) {
  //     out.append(n, 'x');
  //   });
  static Response Stream(std::size_t length,
                         std::function<void(std::size_t, std::size_t, std::string&)> fill,
                         std::string content_type = "application/octet-stream");
};

using Handler = std::function<Response(const Request&)>;

// What a route does wrong. Fields combine; the default does nothing wrong.
// A misbehaving response always closes the connection afterwards.
struct Misbehaviour {
  Milliseconds delay{0};                // before anything is sent
  std::optional<std::size_t> stall_after;  // body bytes sent before the stall
  Milliseconds stall_for{0};            //   then this wait, then the rest
  std::optional<std::size_t> truncate_after;  // body bytes sent, then close (full Content-Length)
  std::size_t header_bytes = 0;         // pad the header block to at least this size
  int set_cookies = 0;                  // that many Set-Cookie lines
  std::optional<std::string> redirect_to;  // Location of a redirect instead of the page
  int redirect_status = 302;
  bool endless = false;                 // chunked body of filler (plain for HTTP/1.0)
  Milliseconds endless_for{10000};      //   until the client goes, at most this long, then close
  bool not_found = false;               // a 404 page instead of the page

  static Misbehaviour Delay(Milliseconds ms);
  static Misbehaviour Stall(std::size_t after_bytes, Milliseconds ms);
  static Misbehaviour Truncate(std::size_t after_bytes);
  static Misbehaviour HugeHeaders(std::size_t bytes);
  static Misbehaviour Redirect(std::string location, int status = 302);
  static Misbehaviour SetCookies(int count);
  static Misbehaviour Endless(Milliseconds at_most);
  static Misbehaviour NotFound();
};

class MusicService {
 public:
  explicit MusicService(ServiceOptions options = {});
  ~MusicService();  // Stop()
  MusicService(const MusicService&) = delete;
  MusicService& operator=(const MusicService&) = delete;

  // Listens on 127.0.0.1 (the port of the options, or a free one). False when
  // it cannot, or when it already runs.
  bool Start();
  // Closes the listening socket and every connection, ends every delay,
  // stall and endless body, joins the threads. Idempotent; the service may
  // be started again.
  void Stop();
  // The port listened on; 0 when not running.
  int port() const;

  // A handler for host + path (the path without the query). "*" as host
  // matches any host, "*" as path any path; exact entries win over "*".
  // Test routes win over the built-in pages. A later entry replaces one of
  // the same host and path.
  void AddRoute(std::string host, std::string path, Handler handler);
  // The misbehaviour of host + path (same matching), for built-in pages and
  // test routes alike. A default Misbehaviour{} removes it.
  void SetMisbehaviour(std::string host, std::string path, Misbehaviour misbehaviour);
  void ClearMisbehaviours();

  // Every request received so far (at most ServiceOptions::max_recorded),
  // oldest first. A request is recorded before its response is sent.
  std::vector<RecordedRequest> Requests() const;
  void ClearRequests();

  const ServiceOptions& options() const;
  const Catalogue& catalogue() const;

  // The bytes the service serves, for comparing with what a client got.
  // Empty for an unknown id.
  std::string Mp3Bytes(std::string_view id) const;
  std::string PictureBytes(std::string_view id) const;
  std::string SearchPage(std::string_view key_utf8) const;
  std::string TrackRecord(std::string_view id) const;  // the empty record for an unknown id
  std::string NoticeBytes() const;                      // code page 936, CR LF

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace qelvaro::demo
