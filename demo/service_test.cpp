// The demo music service over loopback: its pages as a real client sees
// them (cpp-httplib's client), its misbehaviours and its request record as
// a raw socket sees them.

#include "demo/music_service.h"

#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <iconv.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <string>
#include <vector>

namespace qelvaro::demo {
namespace {

using std::chrono::seconds;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr char kSearchHost[] = "search.music.example";
constexpr char kRecordHost[] = "record.music.example";
constexpr char kMakerHost[] = "www.qelvaro.example";
constexpr char kBrothers[] = "%E6%88%91%E7%9A%84%E5%A5%BD%E5%85%84%E5%BC%9F";  // 我的好兄弟
constexpr char kEmptyRecord[] = "<Song>\n</Song>\n";

// A blocking loopback socket whose every read gives up after a few seconds,
// so a broken server fails a test instead of hanging it.
class RawClient {
 public:
  explicit RawClient(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    timeval tv{10, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  }
  ~RawClient() { Close(); }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool connected() const { return connected_; }
  bool Send(std::string_view data) {
    while (!data.empty()) {
      const ssize_t n = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
      if (n <= 0) return false;
      data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }
  // Reads until the server closes, `limit` bytes have come, or a read times out.
  std::string Read(std::size_t limit = std::string::npos) {
    std::string out;
    char buf[65536];
    while (out.size() < limit) {
      const ssize_t n = ::recv(fd_, buf, std::min(sizeof buf, limit - out.size()), 0);
      if (n <= 0) break;
      out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
  }
  // True when nothing arrives for `ms`.
  bool Quiet(int ms) {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, ms) == 0;
  }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
  bool connected_ = false;
};

std::string Get(std::string_view host, std::string_view target, std::string_view extra = "") {
  return "GET " + std::string(target) + " HTTP/1.1\r\nHost: " + std::string(host) + "\r\n" +
         std::string(extra) + "Connection: close\r\n\r\n";
}

struct RawResponse {
  std::string head;
  std::string body;
};
RawResponse Split(const std::string& raw) {
  const auto end = raw.find("\r\n\r\n");
  if (end == std::string::npos) return {raw, ""};
  return {raw.substr(0, end + 4), raw.substr(end + 4)};
}
int Count(std::string_view text, std::string_view what) {
  int n = 0;
  for (auto pos = text.find(what); pos != std::string_view::npos; pos = text.find(what, pos + 1)) ++n;
  return n;
}

// The result markup the program scans the search page with.
std::vector<std::pair<std::string, std::string>> Results(const std::string& page) {
  static const std::regex pattern(
      R"re(<p class="m_name"><a href="http://www.music.example/yinyue/(.*?)/" title="(.*?)" target="_blank">)re",
      std::regex::ECMAScript | std::regex::icase);
  std::vector<std::pair<std::string, std::string>> out;
  for (auto it = std::sregex_iterator(page.begin(), page.end(), pattern); it != std::sregex_iterator();
       ++it) {
    out.emplace_back((*it)[1], (*it)[2]);
  }
  return out;
}

std::string Gbk936ToUtf8(const std::string& gbk) {
  iconv_t cd = iconv_open("UTF-8", "CP936");
  std::string out(gbk.size() * 3 + 8, '\0');
  char* in = const_cast<char*>(gbk.data());
  std::size_t in_left = gbk.size();
  char* dst = out.data();
  std::size_t out_left = out.size();
  const std::size_t r = iconv(cd, &in, &in_left, &dst, &out_left);
  iconv_close(cd);
  if (r == static_cast<std::size_t>(-1)) return "(not 936)";
  out.resize(out.size() - out_left);
  return out;
}

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(service_.Start()); }

  httplib::Result Fetch(const std::string& host, const std::string& target) {
    httplib::Client client("127.0.0.1", service_.port());
    client.set_read_timeout(10, 0);
    return client.Get(target.c_str(), httplib::Headers{{"Host", host}});
  }
  std::string Exchange(const std::string& request) {
    RawClient client(service_.port());
    EXPECT_TRUE(client.connected());
    EXPECT_TRUE(client.Send(request));
    return client.Read();
  }

  MusicService service_;
};

// ---- pages ---------------------------------------------------------------------

TEST_F(ServiceTest, SearchForTheStartTextListsSeveralSongsInTheResultMarkup) {
  auto res = Fetch(kSearchHost, std::string("/ws/NSearch?type=all&key=") + kBrothers);
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->get_header_value("Content-Type"), "text/html; charset=utf-8");
  EXPECT_EQ(res->body, service_.SearchPage("我的好兄弟"));
  const auto results = Results(res->body);
  ASSERT_GE(results.size(), 2u);
  for (const auto& [id, title] : results) {
    const Song* song = service_.catalogue().Find(id);
    ASSERT_NE(song, nullptr) << id;
    EXPECT_EQ(title, song->title);
    EXPECT_THAT(title, HasSubstr("我的好兄弟"));
  }
  EXPECT_THAT(res->body, HasSubstr("%E9%AB%98%E8%BF%9C"));  // a singer link, percent-escaped
}

TEST_F(ServiceTest, SearchMatchesTitleOrSingerAndListsEachResultOnce) {
  struct Case {
    const char* key;  // as sent
    std::vector<std::string> ids;
  };
  const Case cases[] = {
      {"", {"3071527", "5502168", "3071530", "1189243", "2284611", "6620017", "4410952", "1023388",
            "3300714", "7719405", "2090866", "8801234"}},
      {"rock%20%26%20roll", {"6620017"}},  // the title with "&amp;" in the page
      {"%E9%99%88%E9%BB%98", {"5502168", "3300714"}},  // 陈默: a duet and a solo
      {"Summer%20Rain", {"4410952"}},
      {"%E6%B2%A1%E6%9C%89", {}},          // 没有
  };
  for (const Case& c : cases) {
    auto res = Fetch(kSearchHost, std::string("/ws/NSearch?type=all&key=") + c.key);
    ASSERT_TRUE(res) << c.key;
    std::vector<std::string> ids;
    for (const auto& r : Results(res->body)) ids.push_back(r.first);
    EXPECT_EQ(ids, c.ids) << c.key;
  }
  auto res = Fetch(kSearchHost, "/ws/NSearch?type=all&key=rock");
  ASSERT_TRUE(res);
  EXPECT_THAT(Results(res->body), ElementsAre(std::pair<std::string, std::string>(
                                      "6620017", "Rock &amp; Roll Tonight")));
}

TEST_F(ServiceTest, RecordOfAKnownSongCarriesEveryTagTheProgramReads) {
  const Song& song = *service_.catalogue().Find("5502168");
  auto res = Fetch(kRecordHost, "/webmusic/st/getNewMuiseByRid?rid=MUSIC_5502168");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->body, service_.TrackRecord("5502168"));
  for (const auto& [tag, value] : std::vector<std::pair<std::string, std::string>>{
           {"name", "我的好兄弟"},
           {"artist", "林小川、陈默"},
           {"mp3size", "11.8 KB"},
           {"mp3dl", "dl.music.example"},
           {"mp3path", song.mp3_path},
           {"artist_pic240", "http://img.music.example/star/240/2.jpg"}}) {
    EXPECT_THAT(res->body, HasSubstr("<" + tag + ">" + value + "</" + tag + ">\n")) << tag;
  }
  EXPECT_THAT(res->body, StartsWith("<Song>\n"));
}

TEST_F(ServiceTest, RecordOfAnUnknownOrEmptyIdIsExactlyTheEmptyRecord) {
  for (const char* query : {"rid=MUSIC_", "rid=MUSIC_999", "rid=3071527", "", "rid=MUSIC_%20",
                            "rid=MUSIC_3071527%0D%0AX:%20y"}) {
    auto res = Fetch(kRecordHost, std::string("/webmusic/st/getNewMuiseByRid?") + query);
    ASSERT_TRUE(res) << query;
    EXPECT_EQ(res->body, std::string(kEmptyRecord, 15)) << query;
  }
  EXPECT_EQ(service_.TrackRecord(""), kEmptyRecord);
}

TEST_F(ServiceTest, PicturesAndMp3sFromTheRecordComeBackIntact) {
  struct Case {
    const char* id;
    const char* type;
    std::string_view magic;
  };
  const Case cases[] = {{"3071527", "image/jpeg", "\xFF\xD8"}, {"6620017", "image/gif", "GIF89a"}};
  for (const Case& c : cases) {
    const Song& song = *service_.catalogue().Find(c.id);
    // The picture, by the address the record gives.
    const std::string url = song.picture_url;
    ASSERT_THAT(url, StartsWith("http://img.music.example/"));
    auto pic = Fetch("img.music.example", url.substr(std::string("http://img.music.example").size()));
    ASSERT_TRUE(pic);
    EXPECT_EQ(pic->get_header_value("Content-Type"), c.type);
    EXPECT_EQ(pic->get_header_value("Content-Length"), std::to_string(pic->body.size()));
    EXPECT_EQ(pic->body, service_.PictureBytes(c.id));
    EXPECT_THAT(pic->body, StartsWith(c.magic));
    // The MP3, at http:// + mp3dl + /resource/ + mp3path.
    auto mp3 = Fetch("dl.music.example", "/resource/" + song.mp3_path);
    ASSERT_TRUE(mp3);
    EXPECT_EQ(mp3->get_header_value("Content-Type"), "audio/mpeg");
    EXPECT_EQ(mp3->get_header_value("Content-Length"), std::to_string(mp3->body.size()));
    EXPECT_EQ(mp3->body, service_.Mp3Bytes(c.id));
    ASSERT_GT(mp3->body.size(), 4000u);
    EXPECT_THAT(mp3->body, StartsWith("\xFF\xFB"));  // MPEG-1 Layer III frame sync
  }
  // The animated picture has a loop extension and several frames.
  const std::string gif = service_.PictureBytes("6620017");
  EXPECT_THAT(gif, HasSubstr("NETSCAPE2.0"));
  EXPECT_GT(Count(gif, "\x21\xF9\x04"), 1);
}

TEST_F(ServiceTest, NoticeIsCodePage936WithCrLfLineEnds) {
  auto res = Fetch(kMakerHost, "/tool/notice.txt");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_THAT(res->get_header_value("Content-Type"), StartsWith("text/plain"));
  const std::string& notice = res->body;
  EXPECT_EQ(notice, service_.NoticeBytes());
  EXPECT_EQ(notice.find("欢迎"), std::string::npos);  // not UTF-8
  EXPECT_THAT(Gbk936ToUtf8(notice), StartsWith("欢迎使用 Qelvaro"));
  EXPECT_GE(Count(notice, "\r\n"), 2);
  EXPECT_EQ(Count(notice, "\n"), Count(notice, "\r\n"));  // no bare line feed
  EXPECT_EQ(notice.find('\0'), std::string::npos);
}

TEST_F(ServiceTest, StartPageSongPageAndUnknownAddresses) {
  auto start = Fetch(kMakerHost, "/");
  ASSERT_TRUE(start);
  EXPECT_EQ(start->status, 200);
  EXPECT_EQ(start->get_header_value("Content-Type"), "text/html; charset=utf-8");
  EXPECT_THAT(start->body, HasSubstr("<html>"));
  auto song = Fetch("www.music.example", "/yinyue/3071527/");
  ASSERT_TRUE(song);
  EXPECT_EQ(song->status, 200);
  for (const auto& [host, path] : std::vector<std::pair<std::string, std::string>>{
           {kMakerHost, "/tool/other.txt"},
           {"img.music.example", "/star/240/99.jpg"},
           {"dl.music.example", "/resource/none.mp3"},
           {"unknown.example", "/"},
           {kSearchHost, "/"}}) {
    auto res = Fetch(host, path);
    ASSERT_TRUE(res) << host << path;
    EXPECT_EQ(res->status, 404) << host << path;
  }
}

TEST_F(ServiceTest, HostIsTakenFromTheHostHeaderWithoutPortOrFromAnAbsoluteTarget) {
  const std::string rid = "/webmusic/st/getNewMuiseByRid?rid=MUSIC_3071527";
  const std::string record = service_.TrackRecord("3071527");
  for (const std::string& request : {
           Get("record.music.example:80", rid),
           Get("RECORD.music.example:" + std::to_string(service_.port()), rid),
           "GET http://record.music.example" + rid + " HTTP/1.0\r\nHost: other.example\r\n\r\n",
       }) {
    EXPECT_EQ(Split(Exchange(request)).body, record) << request;
  }
}

TEST_F(ServiceTest, APortInUseCannotBeTakenAgain) {
  ServiceOptions options;
  options.port = service_.port();
  MusicService other(options);
  EXPECT_FALSE(other.Start());
  EXPECT_FALSE(service_.Start());  // already running
  EXPECT_THAT(Exchange(Get(kMakerHost, "/")), StartsWith("HTTP/1.1 200 OK\r\n"));
}

// ---- routes and the request record ------------------------------------------------

TEST_F(ServiceTest, RoutesAnswerByHostAndPathAndExactHostWins) {
  service_.AddRoute("*", "/hello", [](const Request& r) {
    return Response::Text("any " + r.method + " " + r.Param("x"));
  });
  service_.AddRoute("a.example", "/hello", [](const Request& r) {
    return Response::Text("a " + r.body, "text/plain", 201);
  });
  service_.AddRoute(kMakerHost, "/tool/notice.txt",
                    [](const Request&) { return Response::Text("replaced"); });
  EXPECT_EQ(Split(Exchange(Get("b.example", "/hello?x=%E6%88%91"))).body, "any GET 我");
  const RawResponse posted = Split(Exchange(
      "POST /hello HTTP/1.1\r\nHost: a.example\r\nContent-Length: 4\r\nConnection: close\r\n\r\nbody"));
  EXPECT_THAT(posted.head, StartsWith("HTTP/1.1 201 "));
  EXPECT_EQ(posted.body, "a body");
  EXPECT_EQ(Split(Exchange(Get(kMakerHost, "/tool/notice.txt"))).body, "replaced");
}

TEST_F(ServiceTest, StreamedBodiesAreMadePieceByPiece) {
  auto byte_at = [](std::size_t i) { return static_cast<char>('a' + (i * 7 + i / 4093) % 26); };
  const std::size_t length = 3 * 1024 * 1024 + 17;
  service_.AddRoute("*", "/big", [&](const Request&) {
    return Response::Stream(length, [&](std::size_t offset, std::size_t n, std::string& out) {
      for (std::size_t i = 0; i < n; ++i) out += byte_at(offset + i);
    });
  });
  service_.AddRoute("*", "/short", [](const Request&) {
    return Response::Stream(1000, [](std::size_t, std::size_t, std::string& out) { out = "only"; });
  });
  const RawResponse big = Split(Exchange(Get("x.example", "/big")));
  EXPECT_THAT(big.head, HasSubstr("Content-Length: " + std::to_string(length) + "\r\n"));
  ASSERT_EQ(big.body.size(), length);
  for (std::size_t i = 0; i < length; i += 4099) ASSERT_EQ(big.body[i], byte_at(i)) << i;
  EXPECT_EQ(big.body.back(), byte_at(length - 1));
  const RawResponse cut = Split(Exchange(Get("x.example", "/short")));
  EXPECT_THAT(cut.head, HasSubstr("Content-Length: 1000\r\n"));
  EXPECT_EQ(cut.body, "only");
}

TEST_F(ServiceTest, RecordsEachRequestAsItArrived) {
  const std::string head =
      "POST /ws/NSearch?type=all&key=a%20b HTTP/1.1\r\nHost: search.music.example\r\n"
      "User-Agent: Test/1.0\r\naccept: */*\r\nX-Empty:\r\nContent-Length: 3\r\nConnection: close\r\n\r\n";
  Exchange(head + "a=b");
  const auto requests = service_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const Request& r = requests[0];
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.target, "/ws/NSearch?type=all&key=a%20b");
  EXPECT_EQ(r.version, "HTTP/1.1");
  EXPECT_EQ(r.head, head);
  EXPECT_THAT(r.headers, ElementsAre(Header{"Host", "search.music.example"}, Header{"User-Agent", "Test/1.0"},
                                     Header{"accept", "*/*"}, Header{"X-Empty", ""},
                                     Header{"Content-Length", "3"}, Header{"Connection", "close"}));
  EXPECT_EQ(r.body, "a=b");
  EXPECT_EQ(r.host, "search.music.example");
  EXPECT_EQ(r.path, "/ws/NSearch");
  EXPECT_EQ(r.Param("key"), "a b");
  service_.ClearRequests();
  EXPECT_TRUE(service_.Requests().empty());
}

TEST_F(ServiceTest, KeepsTheConnectionForHttp11AndClosesItForHttp10) {
  RawClient client(service_.port());
  const std::string one = "GET / HTTP/1.1\r\nHost: www.qelvaro.example\r\n\r\n";
  // Two at once; the first one's body looks like a request but is not one.
  ASSERT_TRUE(client.Send(
      "GET / HTTP/1.1\r\nHost: www.qelvaro.example\r\nContent-Length: 4\r\n\r\nGET " + one));
  std::string got;
  while (Count(got, "<h1>Qelvaro</h1>") < 2) {
    const std::string more = client.Read(1);
    if (more.empty()) break;
    got += more;
  }
  EXPECT_EQ(Count(got, "HTTP/1.1 200 OK\r\n"), 2);
  EXPECT_EQ(Count(got, "Connection: keep-alive\r\n"), 2);
  const auto requests = service_.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].body, "GET ");

  const RawResponse old = Split(Exchange("GET / HTTP/1.0\r\nHost: www.qelvaro.example\r\n\r\n"));
  EXPECT_THAT(old.head, HasSubstr("Connection: close\r\n"));
  EXPECT_THAT(old.body, HasSubstr("<h1>Qelvaro</h1>"));
}

TEST_F(ServiceTest, AHandlersConnectionCloseEndsTheConnectionAfterItsAnswer) {
  service_.AddRoute("*", "/bye", [](const Request&) {
    Response r = Response::Text("bye");
    r.headers.push_back({"Connection", "close"});
    return r;
  });
  const std::string got = Exchange("GET /bye HTTP/1.1\r\nHost: x.example\r\n\r\n"
                                   "GET / HTTP/1.1\r\nHost: www.qelvaro.example\r\n\r\n");
  EXPECT_EQ(Count(got, "HTTP/1.1 "), 1);
  EXPECT_EQ(Count(got, "Connection: close\r\n"), 1);
  EXPECT_EQ(Split(got).body, "bye");
}

TEST_F(ServiceTest, RangeIsIgnoredAndTheWholeBodyComes) {
  const RawResponse res =
      Split(Exchange(Get(kMakerHost, "/tool/notice.txt", "Range: bytes=0-9\r\n")));
  EXPECT_THAT(res.head, StartsWith("HTTP/1.1 200 OK\r\n"));
  EXPECT_EQ(res.body, service_.NoticeBytes());
}

TEST_F(ServiceTest, MalformedRequestsGetAnErrorAndTheConnectionCloses) {
  struct Case {
    std::string request;
    const char* status;
  };
  const Case cases[] = {
      {"GARBAGE\r\n\r\n", "400"},
      {"GET / FTP/1.0\r\n\r\n", "400"},
      {"GET / HTTP/1.1\r\nno colon here\r\n\r\n", "400"},
      {"GET / HTTP/1.1\r\nHost: a\r\nContent-Length: x\r\n\r\n", "400"},
      {"POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\n\r\n", "411"},
      {"GET / HTTP/1.1\r\nHost: a\r\nContent-Length: 999999999\r\n\r\n", "413"},
      {"GET / HTTP/1.1\r\nX: " + std::string(70000, 'x') + "\r\n\r\n", "431"},
  };
  for (const Case& c : cases) {
    EXPECT_THAT(Exchange(c.request), StartsWith(std::string("HTTP/1.1 ") + c.status))
        << c.request.substr(0, 60);
  }
  EXPECT_TRUE(service_.Requests().empty());
}

// ---- misbehaviours -------------------------------------------------------------------

TEST_F(ServiceTest, DelayStillDeliversTheWholeResponse) {
  service_.SetMisbehaviour(kMakerHost, "/tool/notice.txt", Misbehaviour::Delay(std::chrono::milliseconds(200)));
  EXPECT_EQ(Split(Exchange(Get(kMakerHost, "/tool/notice.txt"))).body, service_.NoticeBytes());
}

TEST_F(ServiceTest, StallSendsPartOfTheBodyThenWaitsThenTheRest) {
  const std::string mp3 = service_.Mp3Bytes("3071527");
  const std::string path = "/resource/" + service_.catalogue().Find("3071527")->mp3_path;
  service_.SetMisbehaviour("dl.music.example", path,
                           Misbehaviour::Stall(1000, std::chrono::milliseconds(100)));
  const RawResponse res = Split(Exchange(Get("dl.music.example", path)));
  EXPECT_THAT(res.head, HasSubstr("Content-Length: " + std::to_string(mp3.size()) + "\r\n"));
  EXPECT_EQ(res.body, mp3);

  // A long stall: the first part comes, then nothing until the service stops.
  service_.SetMisbehaviour("dl.music.example", path, Misbehaviour::Stall(1000, seconds(600)));
  RawClient client(service_.port());
  ASSERT_TRUE(client.Send(Get("dl.music.example", path)));
  std::string got = client.Read(1);
  while (got.find("\r\n\r\n") == std::string::npos || Split(got).body.size() < 1000) {
    const std::string more = client.Read(1);
    ASSERT_FALSE(more.empty());
    got += more;
  }
  EXPECT_TRUE(client.Quiet(50));
  service_.Stop();
  EXPECT_EQ(Split(got + client.Read()).body, mp3.substr(0, 1000));
}

TEST_F(ServiceTest, TruncateClosesMidBodyAfterAnnouncingTheFullLength) {
  const std::string record = service_.TrackRecord("3071527");
  service_.SetMisbehaviour(kRecordHost, "*", Misbehaviour::Truncate(20));
  const RawResponse res =
      Split(Exchange(Get(kRecordHost, "/webmusic/st/getNewMuiseByRid?rid=MUSIC_3071527")));
  EXPECT_THAT(res.head, HasSubstr("Content-Length: " + std::to_string(record.size()) + "\r\n"));
  EXPECT_EQ(res.body, record.substr(0, 20));
}

TEST_F(ServiceTest, HugeHeadersPadTheHeaderBlock) {
  service_.SetMisbehaviour("*", "/", Misbehaviour::HugeHeaders(6000));
  const RawResponse res = Split(Exchange(Get(kMakerHost, "/")));
  EXPECT_GE(res.head.size(), 6000u);
  EXPECT_LT(res.head.size(), 6200u);
  EXPECT_THAT(res.body, HasSubstr("<h1>Qelvaro</h1>"));
}

TEST_F(ServiceTest, RedirectsPointElsewhereOrAtThemselves) {
  service_.SetMisbehaviour(kMakerHost, "/old", Misbehaviour::Redirect("http://www.qelvaro.example/"));
  service_.SetMisbehaviour(kMakerHost, "/loop", Misbehaviour::Redirect("/loop", 301));
  EXPECT_THAT(Split(Exchange(Get(kMakerHost, "/old"))).head,
              AllOf(StartsWith("HTTP/1.1 302 Found\r\n"), HasSubstr("\r\nLocation: http://www.qelvaro.example/\r\n")));
  EXPECT_THAT(Split(Exchange(Get(kMakerHost, "/loop"))).head,
              AllOf(StartsWith("HTTP/1.1 301 "), HasSubstr("\r\nLocation: /loop\r\n")));
  // A client that follows redirects gives up on the loop.
  httplib::Client client("127.0.0.1", service_.port());
  client.set_follow_location(true);
  auto res = client.Get("/loop", httplib::Headers{{"Host", kMakerHost}});
  EXPECT_FALSE(res && res->status == 200);
}

TEST_F(ServiceTest, SetCookiesSendsThatManyLines) {
  service_.SetMisbehaviour(kSearchHost, "/ws/NSearch", Misbehaviour::SetCookies(10000));
  const RawResponse res = Split(Exchange(Get(kSearchHost, "/ws/NSearch?type=all&key=")));
  EXPECT_EQ(Count(res.head, "\r\nSet-Cookie: "), 10000);
  EXPECT_EQ(Results(res.body).size(), 12u);
}

TEST_F(ServiceTest, EndlessBodyFlowsUntilTheClientLeaves) {
  service_.SetMisbehaviour("*", "/endless", Misbehaviour::Endless(seconds(60)));
  {
    RawClient client(service_.port());
    ASSERT_TRUE(client.Send(Get("x.example", "/endless")));
    const std::string got = client.Read(4 * 1024 * 1024);
    EXPECT_EQ(got.size(), 4u * 1024 * 1024);
    EXPECT_THAT(Split(got).head, HasSubstr("Transfer-Encoding: chunked\r\n"));
  }
  // The service goes on serving, and stops although that body never ended.
  EXPECT_THAT(Exchange(Get(kMakerHost, "/")), StartsWith("HTTP/1.1 200 OK\r\n"));
}

TEST_F(ServiceTest, NotFoundReplacesTheResponseUntilRemoved) {
  service_.SetMisbehaviour(kMakerHost, "/", Misbehaviour::NotFound());
  EXPECT_THAT(Exchange(Get(kMakerHost, "/")), StartsWith("HTTP/1.1 404 Not Found\r\n"));
  service_.SetMisbehaviour(kMakerHost, "/", Misbehaviour{});
  EXPECT_THAT(Exchange(Get(kMakerHost, "/")), StartsWith("HTTP/1.1 200 OK\r\n"));
}

TEST_F(ServiceTest, StopReturnsPromptlyWithStalledAndSilentClients) {
  service_.SetMisbehaviour("*", "/slow", Misbehaviour::Delay(seconds(600)));
  service_.SetMisbehaviour("*", "/endless", Misbehaviour::Endless(seconds(600)));
  RawClient delayed(service_.port());
  ASSERT_TRUE(delayed.Send(Get("x.example", "/slow")));
  RawClient reader_that_never_reads(service_.port());
  ASSERT_TRUE(reader_that_never_reads.Send(Get("x.example", "/endless")));
  RawClient silent(service_.port());  // connected, sends nothing
  RawClient half(service_.port());
  ASSERT_TRUE(half.Send("GET / HTTP/1.1\r\nHost: a"));
  // Wait until the service has taken both requests.
  for (int i = 0; i < 1000 && service_.Requests().size() < 2; ++i) {
    EXPECT_TRUE(silent.Quiet(10));
  }
  ASSERT_EQ(service_.Requests().size(), 2u);
  const auto start = std::chrono::steady_clock::now();
  service_.Stop();
  // Far below every wait the clients asked for.
  EXPECT_LT(std::chrono::steady_clock::now() - start, seconds(30));
  EXPECT_EQ(service_.port(), 0);
  EXPECT_EQ(delayed.Read(), "");
  EXPECT_EQ(silent.Read(), "");
  // And it starts again.
  ASSERT_TRUE(service_.Start());
  EXPECT_THAT(Exchange(Get(kMakerHost, "/")), StartsWith("HTTP/1.1 200 OK\r\n"));
}

}  // namespace
}  // namespace qelvaro::demo
