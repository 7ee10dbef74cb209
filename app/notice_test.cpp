// The notice banner: what the maker's site sends is what 编辑框7 holds.
#include <gtest/gtest.h>

#include <string>

#include "app/main_window.h"
#include "app/service_environment.h"
#include "app/service_hosts.h"
#include "platform/inet/inet.h"

namespace qelvaro {
namespace {

using demo::Request;
using demo::Response;

class NoticeTest : public ::testing::Test {
 protected:
  void TearDown() override {
    // Back to the service's own notice, and its route.
    Serve(TestService().service().NoticeBytes());
    platform::RouteHost(kMakerHost, "127.0.0.1",
                        static_cast<std::uint16_t>(TestService().service().port()));
  }

  static void Serve(std::string body, int status = 200) {
    TestService().service().AddRoute(kMakerHost, "/tool/notice.txt",
                                     [body, status](const Request&) {
                                       return Response::Text(body, "text/plain", status);
                                     });
  }

  static Text NoticeShown() {
    MainWindow window;
    EXPECT_TRUE(window.Load());
    return window.编辑框7.GetText();
  }
};

TEST_F(NoticeTest, TheServicesNoticeIsShownAsItsBytes) {
  const std::string notice = TestService().service().NoticeBytes();
  ASSERT_NE(notice.find("\r\n"), std::string::npos);
  EXPECT_EQ(NoticeShown(), Text(notice));
}

TEST_F(NoticeTest, NothingIsDecodedAndAZeroByteEndsTheNotice) {
  struct Case {
    std::string body;
    int status;
    Text shown;
  } cases[] = {
      {"50%25 \xE6\x88\x91\r\nline", 200, Text("50%25 \xE6\x88\x91\r\nline")},
      {std::string("first\0second", 12), 200, Text("first")},
      {"<html>not here</html>", 404, Text("<html>not here</html>")},
      {"", 200, Text()},
  };
  for (const Case& c : cases) {
    Serve(c.body, c.status);
    EXPECT_EQ(NoticeShown(), c.shown);
  }
}

TEST_F(NoticeTest, WithoutTheSiteTheWindowOpensWithAnEmptyBox) {
  // A loopback port on which nothing listens: the fetch fails at once.
  platform::RouteHost(kMakerHost, "127.0.0.1", 9);
  EXPECT_EQ(NoticeShown(), Text());
}

}  // namespace
}  // namespace qelvaro
