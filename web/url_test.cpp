#include "web/url.h"

#include <gtest/gtest.h>

#include <optional>

namespace qelvaro {
namespace {

TEST(UrlDissection, AddressTable) {
  struct Case {
    const char* url;
    const char* host;
    const char* hostWithPort;
    std::int32_t port;
    const char* path;
  } cases[] = {
      {"http://Host.Example/X/y?Q=1", "host.example", "host.example", 80, "/X/y?Q=1"},
      {"HTTPS://Host.Example/x", "host.example", "host.example", 443, "/x"},
      {"http://host.example:81/x", "host.example", "host.example:81", 81, "/x"},
      {"https://host.example:444", "host.example", "host.example:444", 444, "/"},
      {"host.example/x", "host.example", "host.example", 80, "/x"},
      {"http://host.example", "host.example", "host.example", 80, "/"},
      {"http://host.example?q=1", "host.example?q=1", "host.example?q=1", 80, "/"},
      {"http://host.example:x/", "host.example", "host.example:x", 0, "/"},
      {"http://host.example/p#f", "host.example", "host.example", 80, "/p#f"},
      {"", "", "", 80, "/"},
      // A scheme other than http gets "http://" in front: the host reads ftp.
      {"ftp://host.example/x", "ftp", "ftp:", 0, "//host.example/x"},
      // Upper case survives in the path only.
      {"HTTP://WWW.Host.Example/A/B?C=D", "www.host.example", "www.host.example", 80,
       "/A/B?C=D"},
      // "http://" is looked for anywhere; "https://" only at the start.
      {"see http://host.example/x", "host.example", "host.example", 80, "/x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    EXPECT_EQ(UrlHost(c.url), Text(c.host));
    EXPECT_EQ(UrlHost(c.url, false, true), Text(c.hostWithPort));
    EXPECT_EQ(UrlPort(c.url), c.port);
    EXPECT_EQ(UrlPath(c.url), Text(c.path));
  }
}

// The host is looked for after the scheme text, not from the first byte of
// the address, where "h", "t", "p", "s" or "ttp" would also match.
TEST(UrlDissection, HostThatAlsoSpellsPartOfTheScheme) {
  struct Case {
    const char* url;
    const char* host;
    const char* path;
  } cases[] = {
      {"http://h/x", "h", "/x"},
      {"http://t:81/a?b", "t", "/a?b"},
      {"https://ps/x", "ps", "/x"},
      {"HTTPS://S/Y", "s", "/Y"},
      {"http://ttp", "ttp", "/"},
      {"http://", "", "/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    EXPECT_EQ(UrlHost(c.url), Text(c.host));
    EXPECT_EQ(UrlPath(c.url), Text(c.path));
  }
}

TEST(UrlDissection, RegistrableDomainInStandardMode) {
  struct Case {
    const char* url;
    bool keepPort;
    const char* want;
  } cases[] = {
      {"w.x.host.example", false, "host.example"},
      {"http://w.x.host.example/p", false, "host.example"},
      {"w.x.host.example:81", false, "host.example"},
      {"w.x.host.example:81", true, "host.example:81"},
      {"localhost", false, "localhost"},
      {"10.1.2.3", false, "2.3"},
      {"", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    EXPECT_EQ(UrlHost(c.url, true, c.keepPort), Text(c.want));
  }
}

TEST(UrlDissection, LevelMode) {
  struct Case {
    const char* url;
    bool registrableDomain;
    std::int32_t levels;
    const char* want;
  } cases[] = {
      {"a.b.c.d.e", false, 0, "d.e"},
      {"http://a.b.c.d.e", false, 0, "d.e"},
      {"https://a.b.c.d.e/x/y.z", false, 0, "d.e"},
      {"a.b.c.d.e", false, 1, "c.d.e"},
      {"http://a.b.c.d.e/p", false, 1, "c.d.e"},
      {"a.b.c.d.e", false, 3, "a.b.c.d.e"},
      {"a.b.c.d.e", false, INT32_MAX, "a.b.c.d.e"},
      {"a.b.c.d.e", true, 0, "e"},
      {"https://a.b.c.d.e/", true, 1, "d.e"},
      {"a.b.c.d.e.", false, 0, "d.e."},
      {"A.B.C.D.E:81/x", false, 0, "d.e"},
      {"host", false, 0, "host"},
      {"host.example", true, 0, "example"},
      {"a.b.c", false, -1, "b.c"},
      // The scheme texts go wherever they stand, "http://" first.
      {"x.http://y.https://z.w", false, 1, "y.z.w"},
      {"a.b.chttps://d.e", false, 0, "cd.e"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.url) + " levels " + std::to_string(c.levels));
    EXPECT_EQ(UrlHost(c.url, c.registrableDomain, false, c.levels), Text(c.want));
  }
  EXPECT_EQ(UrlHost("a.b.c.d.e:81", false, true, 0), Text("d.e:81"));
}

TEST(UrlDissection, LevelModeIsChosenByPresenceNotValue) {
  EXPECT_EQ(UrlHost("http://a.b.c.d.e/", false, false, std::nullopt), Text("a.b.c.d.e"));
  EXPECT_EQ(UrlHost("http://a.b.c.d.e/", false, false, 0), Text("d.e"));
}

TEST(UrlDissection, TrailBytesNeverCountAsSeparators) {
  // 0x95 0x2F: a two-byte character whose trail byte looks like "/".
  EXPECT_EQ(UrlHost("http://a\x95/b/c"), Text("a\x95/b"));
  EXPECT_EQ(UrlPath("http://a\x95/b/c"), Text("/c"));
  // 0x95 0x2E: trail byte ".".
  EXPECT_EQ(UrlHost("x.y\x95.z", false, false, 0), Text("x.y\x95.z"));
}

}  // namespace
}  // namespace qelvaro
