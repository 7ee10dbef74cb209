// The search, the track details and the download end to end: the real window
// offscreen, its buttons and its list pressed with the mouse, against the demo
// music service on loopback (its own pages, or pages a test serves in their
// place). Message boxes are answered at once and written down.
#include "app/handlers.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QEvent>
#include <QImage>
#include <QMessageBox>
#include <QTest>
#include <QTreeWidget>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/main_window.h"
#include "app/program.h"
#include "app/service_environment.h"
#include "app/service_hosts.h"
#include "platform/gui/qt_access.h"
#include "platform/gui/runtime.h"
#include "platform/inet/inet.h"
#include "regex/regex_object.h"
#include "text/encodings.h"
#include "text/gbk_literal.h"
#include "text/primitives.h"

namespace qelvaro {
namespace {

using demo::Request;
using demo::Response;
using gui::NativeWidget;

constexpr char kSearchPath[] = "/ws/NSearch";
constexpr char kRecordPath[] = "/webmusic/st/getNewMuiseByRid";
constexpr char kPictureHost[] = "img.music.example";
constexpr char kSearchTarget[] = "/ws/NSearch?type=all&key=";
constexpr char kRecordTarget[] = "/webmusic/st/getNewMuiseByRid?rid=MUSIC_";

// The demo's first song, as its record and the list give it.
constexpr char kSongId[] = "3071527";
constexpr char kSongAddress[] = "http://dl.music.example/resource/n1/58/71/3071527.mp3";

struct Box {
  QString title, text;
  bool operator==(const Box&) const = default;
};
std::vector<Box> g_boxes;

void RecordBox(QMessageBox& box) { g_boxes.push_back({box.windowTitle(), box.text()}); }

// The order in which the download controls were shown and hidden.
class VisibilityLog : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show || event->type() == QEvent::Hide) {
      seen.push_back((event->type() == QEvent::Show ? "show " : "hide ") +
                     watched->objectName().toStdString());
    }
    return false;
  }
  std::vector<std::string> seen;
};

demo::MusicService& Service() { return TestService().service(); }

// One result as the service's search page writes it, all on one line.
std::string Result(std::string_view id, std::string_view title,
                   std::string_view open = "<p class=\"m_name\">") {
  return std::string(open) + "<a href=\"http://" + kServiceSiteHost + "/yinyue/" +
         std::string(id) + "/\" title=\"" + std::string(title) + "\" target=\"_blank\">" +
         std::string(title) + "</a></p>";
}

std::string Page(std::string_view results) {
  return "<html><body><ul class=\"m_list\">\n<li>" + std::string(results) +
         "</li>\n</ul></body></html>\n";
}

class HandlersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateSharedRegex();
    g_boxes.clear();
    previous_runner_ = gui::SetMessageBoxRunner(RecordBox);
    ASSERT_TRUE(window.Load());
    for (const gui::Control* c : DownloadControls()) NativeWidget(*c)->installEventFilter(&log);
    Service().ClearRequests();
  }

  void TearDown() override {
    gui::SetMessageBoxRunner(previous_runner_);
    gui::SetXpLook(0);
    // An empty handler gives the host and path back to the service's own pages.
    for (const char* host : {kSearchHost, kRecordHost, kPictureHost}) {
      for (const char* path : {kSearchPath, kRecordPath, "/test/picture"}) {
        Service().AddRoute(host, path, {});
      }
      platform::RouteHost(host, "127.0.0.1", static_cast<std::uint16_t>(Service().port()));
    }
  }

  static void ServeSearchPage(std::string html) {
    Service().AddRoute(kSearchHost, kSearchPath,
                       [html = std::move(html)](const Request&) { return Response::Html(html); });
  }
  static void ServeRecord(std::string record) {
    Service().AddRoute(kRecordHost, kRecordPath, [record = std::move(record)](const Request&) {
      return Response::Text(record);
    });
  }
  // Sends the host's requests to a loopback port on which nothing listens.
  static void Unreachable(const char* host) { platform::RouteHost(host, "127.0.0.1", 9); }

  static std::vector<std::string> TargetsOn(std::string_view host) {
    std::vector<std::string> targets;
    for (const Request& r : Service().Requests()) {
      if (r.host == host) targets.push_back(r.target);
    }
    return targets;
  }

  std::vector<const gui::Control*> DownloadControls() const {
    return {&window.标签2, &window.编辑框4, &window.按钮2, &window.图片框1};
  }
  // Whether all four download controls are shown (true), all hidden (false).
  ::testing::AssertionResult DownloadControlsShown(bool shown) const {
    for (const gui::Control* c : DownloadControls()) {
      if (c->Visible() != shown) {
        return ::testing::AssertionFailure()
               << NativeWidget(*c)->objectName().toStdString() << " is "
               << (shown ? "hidden" : "shown");
      }
    }
    return ::testing::AssertionSuccess();
  }

  void Search() { QTest::mouseClick(NativeWidget(window.按钮1), Qt::LeftButton); }
  void Search(const Text& name) {
    window.编辑框1.SetText(name);
    Search();
  }
  void Download() { QTest::mouseClick(NativeWidget(window.按钮2), Qt::LeftButton); }

  QTreeWidget* List() const { return qobject_cast<QTreeWidget*>(NativeWidget(window.超级列表框1)); }
  void ClickAt(QPoint at) { QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, at); }
  void ClickRow(int row) {
    ClickAt(QPoint(40, List()->visualItemRect(List()->topLevelItem(row)).center().y()));
  }
  void ClickEmptySpace() { ClickAt(QPoint(40, List()->viewport()->height() - 5)); }

  // The rows of the list: (column 0, column 1).
  std::vector<std::pair<Text, Text>> Rows() const {
    std::vector<std::pair<Text, Text>> rows;
    for (int r = 0; r < window.超级列表框1.RowCount(); ++r) {
      rows.emplace_back(window.超级列表框1.Cell(r, 0), window.超级列表框1.Cell(r, 1));
    }
    return rows;
  }

  // A list with one row (any id) and a click on it: the record route answers.
  void ShowRecord(std::string record) {
    if (window.超级列表框1.RowCount() == 0) {
      ServeSearchPage(Page(Result("1", "t")));
      Search();
      ASSERT_EQ(window.超级列表框1.RowCount(), 1);
    }
    ServeRecord(std::move(record));
    ClickRow(0);
  }

  // The demo's own search for the initial text, then a click on its first song.
  void ShowTheFirstSong() {
    Search("我的好兄弟"_gbk);
    ASSERT_GE(window.超级列表框1.RowCount(), 1);
    ASSERT_EQ(window.超级列表框1.Cell(0, 1), Text(kSongId));
    ClickRow(0);
    ASSERT_EQ(window.编辑框4.GetText(), Text(kSongAddress));
  }

  MainWindow window;
  VisibilityLog log;
  gui::MessageBoxRunner previous_runner_ = nullptr;
};

// ---- the search ------------------------------------------------------------------

TEST_F(HandlersTest, TheInitialTextIsSearchedAsUtf8AndTheDemosSongsAreListedInPageOrder) {
  Search();
  EXPECT_EQ(TargetsOn(kSearchHost),
            std::vector<std::string>{std::string(kSearchTarget) +
                                     "%E6%88%91%E7%9A%84%E5%A5%BD%E5%85%84%E5%BC%9F"});
  const std::vector<std::pair<Text, Text>> expected = {
      {"我的好兄弟"_gbk, "3071527"}, {"我的好兄弟"_gbk, "5502168"}, {"我的好兄弟 (Live)"_gbk, "3071530"}};
  EXPECT_EQ(Rows(), expected);
  EXPECT_EQ(window.超级列表框1.CurrentSelection(), -1);  // nothing selected by a search
  EXPECT_TRUE(g_boxes.empty());
}

TEST_F(HandlersTest, AnEmptyNameIsSearchedForAndEverythingTheServiceSendsIsListed) {
  Search(Text());
  EXPECT_EQ(TargetsOn(kSearchHost), std::vector<std::string>{kSearchTarget});
  EXPECT_EQ(window.超级列表框1.RowCount(), static_cast<int>(Service().catalogue().songs().size()));
}

TEST_F(HandlersTest, EachMatchOfTheServedPageBecomesARowTitleThenId) {
  struct Case {
    const char* what;
    std::string page;
    std::vector<std::pair<Text, Text>> rows;
  } cases[] = {
      {"two results on one line, in page order",
       Page(Result("12345", "abc") + Result("678", "def")), {{"abc", "12345"}, {"def", "678"}}},
      {"the class attribute in capitals", Page(Result("9", "up", "<P CLASS=\"M_NAME\">")),
       {{"up", "9"}}},
      {"an empty title", Page(Result("42", "")), {{"", "42"}}},
      {"character references stay as they are", Page(Result("7", "Rock &amp; Roll &#39;n&#39;")),
       {{"Rock &amp; Roll &#39;n&#39;", "7"}}},
      {"percent-escapes and UTF-8 are decoded", Page(Result("%31%32", "%E6%88%91的歌")),
       {{"我的歌"_gbk, "12"}}},
      {"malformed UTF-8 becomes question marks", Page(Result("5", "a\xFF" "b\xC0")),
       {{"a?b?", "5"}}},
      {"a zero byte ends the page", Page(Result("1", "x") + std::string(1, '\0') + Result("2", "y")),
       {{"x", "1"}}},
      {"another class, or a line break inside, is no result",
       Page(Result("1", "x", "<p class=\"s_name\">") + Result("2", "a\nb")), {}},
      {"a page without results", "<html><body>404</body></html>", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ServeSearchPage(c.page);
    const int before = window.超级列表框1.RowCount();
    Search();
    const std::vector<std::pair<Text, Text>> all = Rows();
    EXPECT_EQ(std::vector(all.begin() + before, all.end()), c.rows);
  }
  EXPECT_TRUE(g_boxes.empty());
}

TEST_F(HandlersTest, SearchingTwiceListsTheResultsTwiceTheSecondSetBelow) {
  ServeSearchPage(Page(Result("12345", "abc") + Result("678", "def")));
  Search();
  Search();
  const std::vector<std::pair<Text, Text>> expected = {
      {"abc", "12345"}, {"def", "678"}, {"abc", "12345"}, {"def", "678"}};
  EXPECT_EQ(Rows(), expected);
  EXPECT_EQ(TargetsOn(kSearchHost).size(), 2u);
}

TEST_F(HandlersTest, AFailedRequestAddsNoRowKeepsTheEarlierOnesAndEmptiesThePageText) {
  Search();
  const std::vector<std::pair<Text, Text>> earlier = Rows();
  ASSERT_EQ(earlier.size(), 3u);
  ASSERT_FALSE(PageText.empty());
  Unreachable(kSearchHost);
  Search();
  EXPECT_EQ(Rows(), earlier);
  EXPECT_TRUE(PageText.empty());
  EXPECT_TRUE(g_boxes.empty());
}

TEST_F(HandlersTest, APageThatMakesTheLazyGroupsBacktrackEndsTheSearch) {
  // One good result, then one line of unclosed result prefixes.
  std::string prefixes;
  const std::string prefix = "<p class=\"m_name\"><a href=\"http://" + std::string(kServiceSiteHost) +
                             "/yinyue/1/\" title=\"";
  while (prefixes.size() < (1u << 20)) prefixes += prefix;
  ServeSearchPage(Page(Result("5", "first") + prefixes));
  Search();
  ASSERT_GE(window.超级列表框1.RowCount(), 1);
  EXPECT_EQ(Rows().front(), (std::pair<Text, Text>("first", "5")));
}

// ---- the track details -------------------------------------------------------------

TEST_F(HandlersTest, AClickOnASongShowsItsNameSingerSizeAddressAndPicture) {
  ShowTheFirstSong();
  EXPECT_EQ(TargetsOn(kRecordHost), std::vector<std::string>{kRecordTarget + std::string(kSongId)});
  const std::string record = Service().TrackRecord(kSongId);
  const std::size_t size_at = record.find("<mp3size>") + 9;
  const std::string size = record.substr(size_at, record.find("</mp3size>") - size_at);
  EXPECT_EQ(window.标签4.Caption(), "歌曲名：我的好兄弟"_gbk);
  EXPECT_EQ(window.标签5.Caption(), "歌手：高远"_gbk);
  EXPECT_EQ(window.标签3.Caption(), ConcatText("歌曲大小："_gbk, size));
  EXPECT_EQ(window.编辑框2.GetText(), "dl.music.example");
  EXPECT_EQ(window.编辑框3.GetText(), "n1/58/71/3071527.mp3");
  EXPECT_EQ(window.编辑框5.GetText(), "http://img.music.example/star/240/1.jpg");
  EXPECT_EQ(window.编辑框6.GetText(), DecodePage(Text(record)));  // the whole record
  EXPECT_TRUE(window.图片框1.HasPicture());
  EXPECT_TRUE(DownloadControlsShown(true));
  EXPECT_EQ(log.seen, (std::vector<std::string>{"show 标签2", "show 编辑框4", "show 按钮2",
                                                "show 图片框1"}));
  EXPECT_EQ(TargetsOn(kPictureHost), std::vector<std::string>{"/star/240/1.jpg"});
  EXPECT_TRUE(g_boxes.empty());
}

TEST_F(HandlersTest, AClickOnEmptySpaceAsksForTheEmptyIdAndTheEmptyRecordHidesTheControls) {
  ShowTheFirstSong();
  Service().ClearRequests();
  log.seen.clear();
  ClickEmptySpace();
  EXPECT_EQ(window.超级列表框1.CurrentSelection(), -1);
  EXPECT_EQ(TargetsOn(kRecordHost), std::vector<std::string>{kRecordTarget});
  EXPECT_TRUE(TargetsOn(kPictureHost).empty());
  EXPECT_TRUE(DownloadControlsShown(false));
  EXPECT_EQ(log.seen, (std::vector<std::string>{"hide 标签2", "hide 编辑框4", "hide 按钮2",
                                                "hide 图片框1"}));
  EXPECT_EQ(g_boxes, (std::vector<Box>{{"提示", "请点击列表中的歌曲名字选择歌曲"}}));
  // The labels show their prefixes alone; the hidden boxes keep the last song.
  EXPECT_EQ(window.标签4.Caption(), "歌曲名："_gbk);
  EXPECT_EQ(window.标签5.Caption(), "歌手："_gbk);
  EXPECT_EQ(window.标签3.Caption(), "歌曲大小："_gbk);
  EXPECT_EQ(window.编辑框4.GetText(), Text(kSongAddress));
  EXPECT_EQ(window.编辑框2.GetText(), "dl.music.example");
  EXPECT_EQ(window.编辑框6.GetText(), EmptyRecord());
}

TEST_F(HandlersTest, TheEmptyRecordServedForARowHidesTheControlsButKeepsTheOldAddress) {
  ShowTheFirstSong();
  ServeRecord(std::string(EmptyRecord().view()));
  ClickRow(1);
  EXPECT_TRUE(DownloadControlsShown(false));
  EXPECT_EQ(window.编辑框4.GetText(), Text(kSongAddress));
  EXPECT_EQ(g_boxes.size(), 1u);
}

TEST_F(HandlersTest, EveryOtherAnswerIsARecordEachMissingFieldEmpty) {
  struct Case {
    const char* what;
    std::string record;
    Text name, singer, size, address;
  } cases[] = {
      {"download host and path", "<mp3dl>host.example</mp3dl><mp3path>x/y.mp3</mp3path>", "", "",
       "", "http://host.example/resource/x/y.mp3"},
      {"no artist", "<name>n</name><mp3size>3 MB</mp3size>", "n", "", "3 MB", "http:///resource/"},
      {"two name fields: the first", "<name>one</name><name>two</name>", "one", "", "", "http:///resource/"},
      {"the empty record with CR LF", "<Song>\r\n</Song>\r\n", "", "", "", "http:///resource/"},
      {"the empty record without its last line feed", "<Song>\n</Song>", "", "", "", "http:///resource/"},
      {"an error page", "<html><body>502 Bad Gateway</body></html>", "", "", "", "http:///resource/"},
      {"tags in the wrong order", "</name>x<name>y</artist>z<artist>", "", "", "", "http:///resource/"},
      {"an opening tag twice", "<name>a<name>b</name>", "a<name>b", "", "", "http:///resource/"},
      {"a zero byte ends the record", std::string("<artist>s</artist><name>a\0b</name>", 34), "", "s",
       "", "http:///resource/"},
      {"malformed UTF-8", "<name>a\xFF" "b\xC0</name>", "a?b?", "", "", "http:///resource/"},
      {"percent-escapes and UTF-8", "<name>%E6%88%91</name><artist>高远</artist>", "我"_gbk,
       "高远"_gbk, "", "http:///resource/"},
      {"the tags' case counts", "<NAME>n</NAME><Mp3dl>h</Mp3dl>", "", "", "", "http:///resource/"},
      {"a space and CR LF in the path", "<mp3dl>h</mp3dl><mp3path>a b\r\nc</mp3path>", "", "", "",
       "http://h/resource/a b\r\nc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    g_boxes.clear();
    ShowRecord(c.record);
    EXPECT_EQ(window.标签4.Caption(), ConcatText("歌曲名："_gbk, c.name));
    EXPECT_EQ(window.标签5.Caption(), ConcatText("歌手："_gbk, c.singer));
    EXPECT_EQ(window.标签3.Caption(), ConcatText("歌曲大小："_gbk, c.size));
    EXPECT_EQ(window.编辑框4.GetText(), c.address);
    EXPECT_FALSE(window.图片框1.HasPicture());
    EXPECT_TRUE(DownloadControlsShown(true));
    EXPECT_TRUE(g_boxes.empty());
  }
}

TEST_F(HandlersTest, AnUnreachableRecordServerGivesTheBareAddressAnEmptyPictureAndShownControls) {
  ShowTheFirstSong();
  ASSERT_TRUE(window.图片框1.HasPicture());
  Unreachable(kRecordHost);
  Service().ClearRequests();
  ClickRow(1);
  EXPECT_EQ(window.标签4.Caption(), "歌曲名："_gbk);
  EXPECT_EQ(window.编辑框4.GetText(), "http:///resource/");
  EXPECT_EQ(window.编辑框5.GetText(), Text());
  EXPECT_FALSE(window.图片框1.HasPicture());
  EXPECT_TRUE(DownloadControlsShown(true));
  EXPECT_TRUE(Service().Requests().empty());  // not even a picture request
  EXPECT_TRUE(g_boxes.empty());
}

std::string Png() {
  QImage image(8, 8, QImage::Format_RGB32);
  image.fill(Qt::red);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return bytes.toStdString();
}

TEST_F(HandlersTest, OnlyAPictureTheBoxKnowsIsShown) {
  struct Case {
    const char* what;
    std::string bytes;
    bool shown;
  } cases[] = {
      {"a PNG file", Png(), false},
      {"an HTML page", "<html><body>not here</body></html>", false},
      {"nothing", "", false},
      {"the service's JPEG", Service().PictureBytes(kSongId), true},
      {"the service's GIF", Service().PictureBytes("6620017"), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_FALSE(c.bytes.empty() && c.shown);
    Service().AddRoute(kPictureHost, "/test/picture", [bytes = c.bytes](const Request&) {
      return Response::Text(bytes, "application/octet-stream");
    });
    ShowRecord("<name>n</name><artist_pic240>http://img.music.example/test/picture</artist_pic240>");
    EXPECT_EQ(window.图片框1.HasPicture(), c.shown);
    EXPECT_EQ(window.标签4.Caption(), "歌曲名：n"_gbk);
    EXPECT_TRUE(DownloadControlsShown(true));
  }
}

TEST_F(HandlersTest, AFieldOfMegabytesIsShownWhole) {
  const std::string big(4 << 20, 'x');
  ShowRecord("<name>" + big + "</name><mp3dl>h</mp3dl><mp3path>" + big + "</mp3path>");
  EXPECT_EQ(window.标签4.Caption(), ConcatText("歌曲名："_gbk, big));
  EXPECT_EQ(window.编辑框4.GetText(), ConcatText("http://h/resource/", big));
  EXPECT_TRUE(DownloadControlsShown(true));
}

TEST_F(HandlersTest, AnIdWithSpacesOrLineBreaksIsRequestedEscapedOnOneLine) {
  // A result's id cannot hold a line feed (the pattern's dot stops there), so
  // the last row gets its id straight into the cell.
  ServeSearchPage(Page(Result("12 34", "a") + Result("5\r6", "b")));
  Search();
  ASSERT_EQ(window.超级列表框1.RowCount(), 2);
  EXPECT_EQ(window.超级列表框1.Cell(1, 1), "5\r6");
  const int row = window.超级列表框1.AppendRow();
  window.超级列表框1.SetCell(row, 1, "7\r\nX-Injected: 1");
  ServeRecord(std::string(EmptyRecord().view()) + "x");
  Service().ClearRequests();
  for (int r = 0; r < 3; ++r) ClickRow(r);
  EXPECT_EQ(TargetsOn(kRecordHost),
            (std::vector<std::string>{kRecordTarget + std::string("12%2034"),
                                      kRecordTarget + std::string("5%0D6"),
                                      kRecordTarget + std::string("7%0D%0AX-Injected:%201")}));
  for (const Request& r : Service().Requests()) EXPECT_EQ(r.HeaderValue("X-Injected"), "");
}

// ---- the download -------------------------------------------------------------------

TEST_F(HandlersTest, WithoutAnAddressTheDownloadAsksForASongAndLeavesTheBrowserBoxAlone) {
  window.按钮2.SetVisible(true);  // ordinary use never shows it this early
  Download();
  EXPECT_EQ(g_boxes, (std::vector<Box>{{"提示", "你没选择歌曲，无法下载，请先在列表选择歌曲。"}}));
  EXPECT_EQ(window.超文本浏览框1.Address(), Text(kBrowserStartAddress));
}

TEST_F(HandlersTest, TheDownloadHandsTheComposedAddressToTheBrowserBoxAtEveryPress) {
  ShowTheFirstSong();
  Download();
  EXPECT_EQ(window.超文本浏览框1.Address(), Text(kSongAddress));
  window.超文本浏览框1.SetAddress(Text(kBrowserStartAddress));
  Download();
  EXPECT_EQ(window.超文本浏览框1.Address(), Text(kSongAddress));
  EXPECT_TRUE(g_boxes.empty());
}

}  // namespace
}  // namespace qelvaro
