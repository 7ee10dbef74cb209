#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/inet/inet.h"
#include "platform/inet/request_text.h"

namespace qelvaro::platform {
namespace {

struct Cracked {
  bool ok = false;
  std::string scheme, host, user, password, path, extra;
  INTERNET_SCHEME nScheme = 0;
  INTERNET_PORT port = 0;
};

// Copy mode with the buffer sizes the whole-resource fetch uses.
Cracked Crack(const std::string& url, bool wantExtra) {
  char scheme[32], host[256], user[128], password[128], path[2048], extra[2048];
  URL_COMPONENTSA c{};
  c.dwStructSize = sizeof c;
  c.lpszScheme = scheme;
  c.dwSchemeLength = sizeof scheme;
  c.lpszHostName = host;
  c.dwHostNameLength = sizeof host;
  c.lpszUserName = user;
  c.dwUserNameLength = sizeof user;
  c.lpszPassword = password;
  c.dwPasswordLength = sizeof password;
  c.lpszUrlPath = path;
  c.dwUrlPathLength = sizeof path;
  if (wantExtra) {
    c.lpszExtraInfo = extra;
    c.dwExtraInfoLength = sizeof extra;
  }
  Cracked out;
  out.ok = InternetCrackUrlA(url.c_str(), 0, 0, &c) != 0;
  if (!out.ok) return out;
  out.scheme.assign(scheme, c.dwSchemeLength);
  out.host.assign(host, c.dwHostNameLength);
  out.user.assign(user, c.dwUserNameLength);
  out.password.assign(password, c.dwPasswordLength);
  out.path.assign(path, c.dwUrlPathLength);
  if (wantExtra) out.extra.assign(extra, c.dwExtraInfoLength);
  out.nScheme = c.nScheme;
  out.port = c.nPort;
  EXPECT_EQ(std::string(host), out.host);  // zero-terminated too
  return out;
}

TEST(CrackUrlTest, SplitsAddresses) {
  struct Case {
    std::string url, scheme;
    INTERNET_SCHEME nScheme;
    std::string host;
    INTERNET_PORT port;
    std::string user, password, wholePath, path, extra;
  };
  const std::vector<Case> cases = {
      {"http://host.example/a/b?q=1#f", "http", INTERNET_SCHEME_HTTP, "host.example", 80, "", "",
       "/a/b?q=1#f", "/a/b", "?q=1#f"},
      {"HTTPS://Host.Example:8443/x", "HTTPS", INTERNET_SCHEME_HTTPS, "Host.Example", 8443, "", "",
       "/x", "/x", ""},
      {"https://h.example", "https", INTERNET_SCHEME_HTTPS, "h.example", 443, "", "", "", "", ""},
      {"http://u:p:q@h.example:81/", "http", INTERNET_SCHEME_HTTP, "h.example", 81, "u", "p:q", "/",
       "/", ""},
      {"http://u@h.example:/z", "http", INTERNET_SCHEME_HTTP, "h.example", 80, "u", "", "/z", "/z", ""},
      {"http://[::1]:8080/p", "http", INTERNET_SCHEME_HTTP, "[::1]", 8080, "", "", "/p", "/p", ""},
      {"http://h.example#frag", "http", INTERNET_SCHEME_HTTP, "h.example", 80, "", "", "#frag", "",
       "#frag"},
      {"ftp://f.example/file", "ftp", INTERNET_SCHEME_FTP, "f.example", 21, "", "", "/file", "/file",
       ""},
      {"mailto:someone@x.example", "mailto", INTERNET_SCHEME_UNKNOWN, "", 0, "", "",
       "someone@x.example", "someone@x.example", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    const Cracked whole = Crack(c.url, false);
    ASSERT_TRUE(whole.ok);
    EXPECT_EQ(whole.scheme, c.scheme);
    EXPECT_EQ(whole.nScheme, c.nScheme);
    EXPECT_EQ(whole.host, c.host);
    EXPECT_EQ(whole.port, c.port);
    EXPECT_EQ(whole.user, c.user);
    EXPECT_EQ(whole.password, c.password);
    EXPECT_EQ(whole.path, c.wholePath);
    const Cracked split = Crack(c.url, true);
    ASSERT_TRUE(split.ok);
    EXPECT_EQ(split.path, c.path);
    EXPECT_EQ(split.extra, c.extra);
  }
}

TEST(CrackUrlTest, RefusesWhatItCannotSplit) {
  for (const std::string url : {"host.example/x", "", "://x", "1http://x", "http://h:99999/",
                                "http://h:8a/", "http://[::1/"}) {
    SCOPED_TRACE(url);
    EXPECT_FALSE(Crack(url, true).ok);
  }
}

TEST(CrackUrlTest, BufferRulesAndPointerMode) {
  const std::string url = "http://host.example/path?q";
  char scheme[8] = "unset";
  char host[12];  // "host.example" needs 13 with its zero byte
  URL_COMPONENTSA c{};
  c.dwStructSize = sizeof c;
  c.lpszScheme = scheme;
  c.dwSchemeLength = sizeof scheme;
  c.lpszHostName = host;
  c.dwHostNameLength = sizeof host;
  EXPECT_FALSE(InternetCrackUrlA(url.c_str(), 0, 0, &c));
  EXPECT_STREQ(scheme, "unset");  // nothing written

  URL_COMPONENTSA p{};
  p.dwStructSize = sizeof p;
  p.dwHostNameLength = 1;  // a pointer into the address, please
  p.dwUrlPathLength = 1;
  ASSERT_TRUE(InternetCrackUrlA(url.c_str(), 0, 0, &p));
  EXPECT_EQ(p.lpszHostName, url.c_str() + 7);
  EXPECT_EQ(p.dwHostNameLength, 12u);
  EXPECT_EQ(std::string(p.lpszUrlPath, p.dwUrlPathLength), "/path?q");
  EXPECT_EQ(p.lpszScheme, nullptr);  // not asked for

  URL_COMPONENTSA limited{};
  limited.dwStructSize = sizeof limited;
  limited.dwUrlPathLength = 1;
  ASSERT_TRUE(InternetCrackUrlA(url.c_str(), 21, 0, &limited));  // "http://host.example/p"
  EXPECT_EQ(std::string(limited.lpszUrlPath, limited.dwUrlPathLength), "/p");

  URL_COMPONENTSA wrong{};
  wrong.dwStructSize = sizeof wrong - 1;
  EXPECT_FALSE(InternetCrackUrlA(url.c_str(), 0, 0, &wrong));
}

std::string Canonical(const std::string& url, DWORD flags, bool* ok = nullptr) {
  char buf[512];
  DWORD len = sizeof buf;
  const bool good = InternetCanonicalizeUrlA(url.c_str(), buf, &len, flags) != 0;
  if (ok) *ok = good;
  return good ? std::string(buf, len) : std::string();
}

TEST(CanonicalizeUrlTest, Table) {
  struct Case {
    std::string url;
    DWORD flags;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"HTTP://Host.Example/a/./b/../c?x=1#f", ICU_NO_ENCODE, "http://Host.Example/a/c?x=1#f"},
      {"http://h.example", ICU_NO_ENCODE, "http://h.example/"},
      {"http://h.example?q=1", ICU_NO_ENCODE, "http://h.example/?q=1"},
      {"http://h.example/a/../../b", ICU_NO_ENCODE, "http://h.example/b"},
      {"http://h.example/x/..", ICU_NO_ENCODE, "http://h.example/"},
      {"http://h.example/?q=/../", ICU_NO_ENCODE, "http://h.example/?q=/../"},
      {"http://h.example\\a\\b", ICU_NO_ENCODE, "http://h.example/a/b"},
      {"http://h.example/a b/%41\xe4", ICU_NO_ENCODE, "http://h.example/a b/%41\xe4"},
      {"http://h.example/a b/%41\xe4", 0, "http://h.example/a%20b/%41%E4"},
      {"http://h.example/a b/\xe4", ICU_ENCODE_SPACES_ONLY, "http://h.example/a%20b/\xe4"},
      {"http://h.example/a/../b", ICU_NO_ENCODE | ICU_NO_META, "http://h.example/a/../b"},
      {"Mailto:A@B", ICU_NO_ENCODE, "mailto:A@B"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    bool ok = false;
    EXPECT_EQ(Canonical(c.url, c.flags, &ok), c.expected);
    EXPECT_TRUE(ok);
  }
  bool ok = true;
  Canonical("h.example/x", ICU_NO_ENCODE, &ok);
  EXPECT_FALSE(ok);
}

TEST(CanonicalizeUrlTest, ShortBufferReportsTheSizeNeeded) {
  const char* url = "http://h.example/abc";  // 20 bytes
  char buf[20];
  DWORD len = sizeof buf;
  EXPECT_FALSE(InternetCanonicalizeUrlA(url, buf, &len, ICU_NO_ENCODE));
  EXPECT_EQ(len, 21u);
  len = 0;
  EXPECT_FALSE(InternetCanonicalizeUrlA(url, nullptr, &len, ICU_NO_ENCODE));
  EXPECT_EQ(len, 21u);
  char big[21];
  len = sizeof big;
  ASSERT_TRUE(InternetCanonicalizeUrlA(url, big, &len, ICU_NO_ENCODE));
  EXPECT_EQ(len, 20u);
  EXPECT_STREQ(big, url);
}

TEST(ProxyListTest, Table) {
  struct Case {
    std::string list, http, https;
  };
  const std::vector<Case> cases = {
      {"http=127.0.0.1:8080", "127.0.0.1:8080", ""},
      {"http=", "", ""},
      {"proxy.example", "proxy.example:80", "proxy.example:80"},
      {"http=a.example:1 https=b.example:2", "a.example:1", "b.example:2"},
      {"http://p.example:3128/", "p.example:3128", "p.example:3128"},
      {"https=b:2;p:3", "p:3", "b:2"},
      {"http=h:0", "", ""},
      {"http=h:70000", "", ""},
      {"socks=s:1080", "", ""},
      {"HTTP=[::1]:8080", "[::1]:8080", ""},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.list);
    const inet_internal::ProxyChoice choice = inet_internal::ParseProxyList(c.list);
    EXPECT_EQ(choice.http, c.http);
    EXPECT_EQ(choice.https, c.https);
  }
}

TEST(ProxyListTest, Bypass) {
  using inet_internal::BypassMatches;
  EXPECT_TRUE(BypassMatches("<local>", "intranet"));
  EXPECT_FALSE(BypassMatches("<local>", "a.example"));
  EXPECT_TRUE(BypassMatches("*.example.com", "X.Example.com"));
  EXPECT_FALSE(BypassMatches("*.example.com", "example.com"));
  EXPECT_TRUE(BypassMatches("a.com; b.com", "B.COM"));
  EXPECT_TRUE(BypassMatches("10.*", "10.1.2.3"));
  EXPECT_FALSE(BypassMatches("", "x"));
}

}  // namespace
}  // namespace qelvaro::platform
