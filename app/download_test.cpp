// The whole journey, as a person makes it: search the initial text, click the
// first result, press 下载, answer the save dialog, and see in the downloads
// window what became of it; against the demo service working and
// misbehaving.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <errno.h>
#include <unistd.h>

#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/main_window.h"
#include "app/service_environment.h"
#include "app/service_hosts.h"
#include "platform/gui/browser/part_file.h"
#include "platform/gui/qt_access.h"
#include "platform/gui/runtime.h"
#include "platform/inet/inet_testing.h"
#include "regex/regex_object.h"
#include "text/gbk_literal.h"

namespace qelvaro {
namespace {

namespace fs = std::filesystem;
using demo::Misbehaviour;
using gui::DownloadStatus;
using gui::NativeWidget;

std::string Read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> Names(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

QString g_messageText, g_messageTitle;
int g_messages = 0;
void RecordMessage(QMessageBox& box) {
  ++g_messages;
  g_messageText = box.text();
  g_messageTitle = box.windowTitle();
}

ssize_t DiskFullAfterAKilobyte(int fd, const void* data, std::size_t n) {
  static std::atomic<std::size_t> written{0};
  if (written >= 1024) {
    errno = ENOSPC;
    return -1;
  }
  const std::size_t take = std::min<std::size_t>(n, 1024 - written);
  written += take;
  return ::write(fd, data, take);
}

class DownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) /
           ("download_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    gui::SetSaveDialogRunner([this](const gui::SaveDialogQuestion& q) {
      asked_.push_back(q.fileName);
      return gui::SaveDialogAnswer{true, QString::fromStdString(dir_.string()) + "/" + q.fileName,
                                   replace_};
    });
    gui::SetMessageBoxRunner(RecordMessage);
    g_messages = 0;
    CreateSharedRegex();  // as start-up does, for the search
  }
  void TearDown() override {
    gui::SetSaveDialogRunner({});
    gui::SetMessageBoxRunner(nullptr);
    gui::browser::SetWriteFunctionForTesting(nullptr);
    platform::ResetLimitsForTesting();
    TestService().service().ClearMisbehaviours();
    gui::SetXpLook(0);
    DestroySharedRegex();
    fs::remove_all(dir_);
  }

  // Search, click the first result, press 下载: what a person does.
  void ChooseTheFirstSong() {
    ASSERT_TRUE(window_.Load());
    QTest::mouseClick(NativeWidget(window_.按钮1), Qt::LeftButton);
    auto* list = static_cast<QTreeWidget*>(NativeWidget(window_.超级列表框1));
    ASSERT_GT(list->topLevelItemCount(), 0);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->topLevelItem(0)).center());
    ASSERT_TRUE(window_.按钮2.Visible());
    song_ = window_.超级列表框1.Cell(0, 1).str();
  }
  void PressDownload() { QTest::mouseClick(NativeWidget(window_.按钮2), Qt::LeftButton); }

  // The downloads window's rows once `count` of them have finished.
  std::vector<DownloadStatus> Finished(std::size_t count = 1) {
    const bool finished = QTest::qWaitFor(
        [&] {
          const auto rows = gui::Downloads(window_.超文本浏览框1);
          return static_cast<std::size_t>(std::count_if(rows.begin(), rows.end(), [](const auto& r) {
                   return r.finished;
                 })) >= count;
        },
        30000);
    EXPECT_TRUE(finished) << "downloads still running after 30 s";
    return gui::Downloads(window_.超文本浏览框1);
  }

  std::string Mp3() const { return TestService().service().Mp3Bytes(song_); }
  std::string FileName() const {
    return TestService().service().catalogue().Find(song_)->mp3_path.substr(
        TestService().service().catalogue().Find(song_)->mp3_path.rfind('/') + 1);
  }

  fs::path dir_;
  bool replace_ = false;
  std::vector<QString> asked_;
  std::string song_;
  MainWindow window_;
};

TEST_F(DownloadTest, TheChosenSongIsSavedWhereTheUserSaidAndListedAsDone) {
  ChooseTheFirstSong();
  PressDownload();
  const auto rows = Finished();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_TRUE(rows[0].succeeded);
  EXPECT_EQ(rows[0].outcome, QStringLiteral("完成"));
  EXPECT_EQ(rows[0].fileName.toStdString(), FileName());
  EXPECT_THAT(asked_, ::testing::ElementsAre(QString::fromStdString(FileName())));
  EXPECT_EQ(rows[0].received, static_cast<qint64>(Mp3().size()));
  EXPECT_THAT(Names(dir_), ::testing::ElementsAre(FileName()));
  EXPECT_EQ(Read(dir_ / FileName()), Mp3());
  EXPECT_EQ(g_messages, 0);
  QWidget* list = gui::DownloadsWindow(window_.超文本浏览框1);
  ASSERT_NE(list, nullptr);
  EXPECT_TRUE(list->isVisible());
}

TEST_F(DownloadTest, AFailedDownloadSaysWhyAndLeavesNoFile) {
  const std::string dl = TestService().service().options().download_host;
  const struct {
    const char* what;
    Misbehaviour misbehaviour;
    QString outcome;
    bool asked;
  } cases[] = {
      {"fails mid-body", Misbehaviour::Truncate(5000), QStringLiteral("失败：连接中断"), true},
      {"answers 404", Misbehaviour::NotFound(), QStringLiteral("失败：服务器返回 404"), false},
      {"stalls", Misbehaviour::Stall(4096, std::chrono::seconds(20)), QStringLiteral("失败：超时"),
       true},
  };
  ChooseTheFirstSong();
  // Waits for data give up in a fraction of a second here, not 30 s.
  platform::SetTimeoutsForTesting(std::chrono::milliseconds(5000), std::chrono::milliseconds(300));
  std::size_t expectedRows = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TestService().service().SetMisbehaviour(dl, "*", c.misbehaviour);
    asked_.clear();
    PressDownload();
    const auto rows = Finished(++expectedRows);
    ASSERT_EQ(rows.size(), expectedRows);
    EXPECT_FALSE(rows.back().succeeded);
    EXPECT_EQ(rows.back().outcome, c.outcome);
    EXPECT_EQ(asked_.size(), c.asked ? 1u : 0u);
    EXPECT_THAT(Names(dir_), ::testing::IsEmpty());
  }
  EXPECT_EQ(g_messages, 0);
}

TEST_F(DownloadTest, AFullDiskEndsTheDownloadAndLeavesNoFile) {
  ChooseTheFirstSong();
  gui::browser::SetWriteFunctionForTesting(DiskFullAfterAKilobyte);
  PressDownload();
  const auto rows = Finished();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].outcome, QStringLiteral("失败：磁盘已满"));
  EXPECT_THAT(Names(dir_), ::testing::IsEmpty());
}

TEST_F(DownloadTest, EachPressNavigatesAgainToTheSameAddress) {
  replace_ = true;  // the user agrees to replace the first file
  ChooseTheFirstSong();
  const std::size_t before = TestService().service().Requests().size();
  PressDownload();
  ASSERT_EQ(Finished(1).size(), 1u);
  PressDownload();
  const auto rows = Finished(2);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_TRUE(rows[0].succeeded && rows[1].succeeded);
  EXPECT_EQ(Read(dir_ / FileName()), Mp3());
  const auto requests = TestService().service().Requests();
  const std::string address = window_.编辑框4.GetText().str();
  int fetched = 0;
  for (std::size_t i = before; i < requests.size(); ++i) {
    if (address == "http://" + requests[i].host + requests[i].target) ++fetched;
  }
  EXPECT_EQ(fetched, 2);
  EXPECT_EQ(window_.超文本浏览框1.Address().str(), address);
}

TEST_F(DownloadTest, WithoutAnAddressTheUserIsAskedToChooseASongFirst) {
  ASSERT_TRUE(window_.Load());
  window_.按钮2.SetVisible(true);  // not reachable by hand: the guard itself
  PressDownload();
  EXPECT_EQ(g_messages, 1);
  EXPECT_EQ(g_messageText, QStringLiteral("你没选择歌曲，无法下载，请先在列表选择歌曲。"));
  EXPECT_EQ(g_messageTitle, QStringLiteral("提示"));
  EXPECT_EQ(window_.超文本浏览框1.Address(), Text(kBrowserStartAddress));
  QTest::qWait(100);
  EXPECT_EQ(gui::DownloadsWindow(window_.超文本浏览框1), nullptr);
}

TEST_F(DownloadTest, AnAddressOfSpacesIsHandedOverUnchanged) {
  ASSERT_TRUE(window_.Load());
  window_.编辑框4.SetText("   ");
  window_.按钮2.SetVisible(true);
  PressDownload();
  EXPECT_EQ(g_messages, 0);
  EXPECT_EQ(window_.超文本浏览框1.Address(), Text("   "));
  const auto rows = Finished();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].outcome, QStringLiteral("失败：地址无效"));
  EXPECT_TRUE(asked_.empty());
}

}  // namespace
}  // namespace qelvaro
