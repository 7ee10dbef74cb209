// The browser box as a control: its settings, loading when the address is
// written, the save dialog's seam and the downloads window.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/gui/controls.h"
#include "platform/gui/gui_test_support.h"
#include "platform/gui/qt_access.h"
#include "platform/gui/runtime.h"
#include "platform/inet/inet.h"
#include "platform/inet/inet_test_servers.h"
#include "testing/loopback_server.h"
#include "text/gbk_literal.h"

namespace qelvaro::gui {
namespace {

namespace fs = std::filesystem;
using qelvaro::testing::ClosedLoopbackPort;
using platform::testing::HttpServer;
using testing::TestWindow;

std::string Read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs the event loop until pred holds (at most 30 s).
template <typename Pred>
bool Until(Pred pred) {
  return QTest::qWaitFor(pred, 30000);
}

// Receives the "open folder" requests instead of the desktop.
class FolderOpener : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> opened;
 public slots:
  void Open(const QUrl& url) { opened.append(url); }
};

class BrowserBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) /
           ("browser_box_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    // Nothing of these tests reaches beyond this machine.
    platform::RouteHost("www.qelvaro.example", "127.0.0.1", ClosedLoopbackPort());
    http_.server.Get("/song.mp3", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(std::string(50000, 's'), "audio/mpeg");
    });
    http_.server.Get("/page.html", [this](const httplib::Request&, httplib::Response& res) {
      ++pages_;
      res.set_content("<html></html>", "text/html");
    });
    http_.server.Get("/slow.mp3", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content_provider(1 << 20, "audio/mpeg",
                               [this](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                 if (offset > 0) {
                                   std::unique_lock lock(mutex_);
                                   released_.wait_for(lock, std::chrono::seconds(20),
                                                      [this] { return release_; });
                                   if (!release_) return false;
                                 }
                                 static const std::string piece(64 * 1024, 'w');
                                 return sink.write(piece.data(), piece.size());
                               });
    });
    http_.Start();
    SetSaveDialogRunner([this](const SaveDialogQuestion& q) {
      questions_.push_back(q);
      return SaveDialogAnswer{answer_, QString::fromStdString((dir_ / q.fileName.toStdString()).string()),
                              false};
    });
  }
  void TearDown() override {
    {
      std::lock_guard lock(mutex_);
      release_ = true;
    }
    released_.notify_all();
    SetSaveDialogRunner({});
    platform::ClearRoutes();
    fs::remove_all(dir_);
  }
  std::string At(const char* path) const {
    return "http://127.0.0.1:" + std::to_string(http_.port()) + path;
  }

  fs::path dir_;
  bool answer_ = true;
  std::vector<SaveDialogQuestion> questions_;
  std::atomic<int> pages_{0};
  std::mutex mutex_;
  std::condition_variable released_;
  bool release_ = false;
  HttpServer http_;
};

TEST_F(BrowserBoxTest, IsCreatedWithItsSettingsAndLoadsItsAddressInTheBackground) {
  窗口 window("窗口", TestWindow());
  HtmlViewer box(window, "超文本浏览框1", {362, 8, 144, 48}, {.address = "http://www.qelvaro.example/"});
  EXPECT_FALSE(box.Offline());
  EXPECT_TRUE(box.Silent());
  EXPECT_EQ(box.GetFontSize(), HtmlViewer::FontSize::kMedium);
  EXPECT_EQ(box.Address(), "http://www.qelvaro.example/");
  EXPECT_FALSE(box.Visible());
  // The start page cannot be reached here: nothing is shown for it.
  QTest::qWait(200);
  EXPECT_EQ(DownloadsWindow(box), nullptr);

  box.SetAddress(At("/page.html").c_str());
  EXPECT_EQ(box.Address().str(), At("/page.html"));
  ASSERT_TRUE(Until([&] { return pages_ == 1; }));
  box.SetAddress(At("/song.mp3").c_str());
  ASSERT_TRUE(Until([&] { return !Downloads(box).empty() && Downloads(box)[0].finished; }));
  EXPECT_EQ(Downloads(box).size(), 1u);  // the page showed nothing
}

TEST_F(BrowserBoxTest, AFileIsSavedWhereTheDialogSaysAndListedAsDone) {
  FolderOpener opener;
  QDesktopServices::setUrlHandler(QStringLiteral("file"), &opener, "Open");
  窗口 window("窗口", TestWindow());
  HtmlViewer box(window, "超文本浏览框1", {362, 8, 144, 48}, {});
  ASSERT_TRUE(window.Load());
  box.SetAddress(At("/song.mp3").c_str());
  ASSERT_TRUE(Until([&] { return !Downloads(box).empty() && Downloads(box)[0].finished; }));
  QDesktopServices::unsetUrlHandler(QStringLiteral("file"));

  ASSERT_EQ(questions_.size(), 1u);
  EXPECT_EQ(questions_[0].fileName, QStringLiteral("song.mp3"));
  EXPECT_EQ(questions_[0].folder, QStandardPaths::writableLocation(QStandardPaths::DownloadLocation));
  EXPECT_EQ(questions_[0].parent, NativeWidget(window));
  const DownloadStatus row = Downloads(box)[0];
  EXPECT_TRUE(row.succeeded);
  EXPECT_EQ(row.outcome, QStringLiteral("完成"));
  EXPECT_EQ(row.fileName, QStringLiteral("song.mp3"));
  EXPECT_EQ(row.received, 50000);
  EXPECT_EQ(row.total, 50000);
  EXPECT_EQ(Read(dir_ / "song.mp3"), std::string(50000, 's'));

  QWidget* list = DownloadsWindow(box);
  ASSERT_NE(list, nullptr);
  EXPECT_TRUE(list->isVisible());
  EXPECT_TRUE(list->isWindow());
  EXPECT_FALSE(list->isModal());
  EXPECT_FALSE(list->testAttribute(Qt::WA_QuitOnClose));
  EXPECT_EQ(list->windowTitle(), QStringLiteral("下载"));
  EXPECT_EQ(list->findChild<QLabel*>("outcome")->text(), QStringLiteral("完成"));
  EXPECT_EQ(list->findChild<QLabel*>("bytes")->text(), QStringLiteral("48.8 KB / 48.8 KB"));
  EXPECT_EQ(list->findChild<QProgressBar*>("progress")->value(), 1000);
  EXPECT_TRUE(list->findChild<QPushButton*>("cancel")->isHidden());
  auto* open = list->findChild<QPushButton*>("openFolder");
  ASSERT_FALSE(open->isHidden());
  EXPECT_EQ(open->text(), QStringLiteral("打开文件夹"));
  QDesktopServices::setUrlHandler(QStringLiteral("file"), &opener, "Open");
  QTest::mouseClick(open, Qt::LeftButton);
  QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
  ASSERT_EQ(opener.opened.size(), 1);
  EXPECT_EQ(fs::path(opener.opened[0].toLocalFile().toStdString()), fs::canonical(dir_));

  const std::string picture = (dir_ / "downloads.png").string();
  EXPECT_TRUE(SaveDownloadsWindowPicture(box, picture.c_str()));
  EXPECT_GT(fs::file_size(picture), 0u);
}

TEST_F(BrowserBoxTest, TheRealDialogIsAFileDialogProposingTheName) {
  SetSaveDialogRunner({});
  窗口 window("窗口", TestWindow());
  HtmlViewer box(window, "超文本浏览框1", {362, 8, 144, 48}, {});
  ASSERT_TRUE(window.Load());
  QString proposed;
  const QString target = QString::fromStdString((dir_ / "chosen.mp3").string());
  QTimer answer;
  answer.setInterval(20);
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    answer.stop();
    proposed = dialog->selectedFiles().value(0);
    dialog->selectFile(target);
    static_cast<QDialog*>(dialog)->accept();  // public in QDialog
  });
  answer.start();
  box.SetAddress(At("/song.mp3").c_str());
  ASSERT_TRUE(Until([&] { return !Downloads(box).empty() && Downloads(box)[0].finished; }));
  EXPECT_TRUE(proposed.endsWith(QStringLiteral("/song.mp3"))) << proposed.toStdString();
  EXPECT_TRUE(Downloads(box)[0].succeeded);
  EXPECT_EQ(Read(dir_ / "chosen.mp3"), std::string(50000, 's'));
}

TEST_F(BrowserBoxTest, CancellingTheDialogDropsTheLoadAndTheCancelButtonStopsADownload) {
  窗口 window("窗口", TestWindow());
  HtmlViewer box(window, "超文本浏览框1", {362, 8, 144, 48}, {});
  ASSERT_TRUE(window.Load());
  answer_ = false;
  box.SetAddress(At("/song.mp3").c_str());
  ASSERT_TRUE(Until([&] { return questions_.size() == 1; }));
  QTest::qWait(100);
  EXPECT_EQ(DownloadsWindow(box), nullptr);
  EXPECT_TRUE(fs::is_empty(dir_));

  answer_ = true;
  box.SetAddress(At("/slow.mp3").c_str());
  ASSERT_TRUE(Until([&] { return !Downloads(box).empty() && Downloads(box)[0].received > 0; }));
  EXPECT_EQ(DownloadsWindow(box)->findChild<QLabel*>("outcome")->text(), QString());
  EXPECT_TRUE(fs::exists(dir_ / "slow.mp3.part"));
  auto* cancel = DownloadsWindow(box)->findChild<QPushButton*>("cancel");
  ASSERT_FALSE(cancel->isHidden());
  QTest::mouseClick(cancel, Qt::LeftButton);
  ASSERT_TRUE(Until([&] { return Downloads(box)[0].finished; }));
  EXPECT_EQ(Downloads(box)[0].outcome, QStringLiteral("失败：已取消"));
  EXPECT_TRUE(DownloadsWindow(box)->findChild<QPushButton*>("openFolder")->isHidden());
  EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_F(BrowserBoxTest, ClosingTheWindowStopsRunningDownloadsAndRemovesTheirParts) {
  {
    窗口 window("窗口", TestWindow());
    HtmlViewer box(window, "超文本浏览框1", {362, 8, 144, 48}, {});
    ASSERT_TRUE(window.Load());
    box.SetAddress(At("/slow.mp3").c_str());
    ASSERT_TRUE(Until([&] { return !Downloads(box).empty() && Downloads(box)[0].received > 0; }));
    EXPECT_TRUE(fs::exists(dir_ / "slow.mp3.part"));
  }
  EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_F(BrowserBoxTest, ClosingTheMainWindowEndsTheLoopThoughTheDownloadsWindowIsOpen) {
  窗口 window("窗口", TestWindow());
  HtmlViewer box(window, "超文本浏览框1", {362, 8, 144, 48}, {});
  ASSERT_TRUE(window.Load());
  box.SetAddress(At("/slow.mp3").c_str());
  ASSERT_TRUE(Until([&] { return !Downloads(box).empty() && Downloads(box)[0].received > 0; }));
  ASSERT_TRUE(DownloadsWindow(box)->isVisible());
  QWidget* main = NativeWidget(window);
  QTimer::singleShot(0, main, [main] { main->close(); });
  EXPECT_EQ(RunMessageLoop(), 0);
  EXPECT_FALSE(DownloadsWindow(box)->isVisible());
}

TEST_F(BrowserBoxTest, TheDialogWaitsUntilTheHandlerHasReturned) {
  窗口 window("窗口", TestWindow());
  HtmlViewer box(window, "超文本浏览框1", {362, 8, 144, 48}, {});
  Button button(window, "按钮2", {241, 95, 48, 48}, {.caption = "下载"_gbk});
  std::size_t askedDuringHandler = 99;
  button.OnClicked([&] {
    box.SetAddress(At("/song.mp3").c_str());
    // A handler that blocks a while, repainting as a web request does.
    for (int i = 0; i < 30; ++i) {
      QTest::qSleep(10);
      KeepPainting();
    }
    askedDuringHandler = questions_.size();
  });
  ASSERT_TRUE(window.Load());
  QTest::mouseClick(NativeWidget(button), Qt::LeftButton);
  EXPECT_EQ(askedDuringHandler, 0u);
  ASSERT_TRUE(Until([&] { return questions_.size() == 1; }));
}

TEST_F(BrowserBoxTest, AnOfflineBoxLoadsNothing) {
  窗口 window("窗口", TestWindow());
  HtmlViewer box(window, "超文本浏览框1", {362, 8, 144, 48}, {.offline = true});
  box.SetAddress(At("/song.mp3").c_str());
  QTest::qWait(200);
  EXPECT_TRUE(questions_.empty());
  EXPECT_EQ(DownloadsWindow(box), nullptr);
}

}  // namespace
}  // namespace qelvaro::gui

#include "browser_box_test.moc"
