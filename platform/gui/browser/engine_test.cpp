#include "platform/gui/browser/engine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/inet/inet_test_servers.h"
#include "platform/inet/inet_testing.h"
#include "testing/loopback_server.h"
#include "text/gbk_literal.h"

namespace qelvaro::gui::browser {
namespace {

namespace fs = std::filesystem;
using platform::testing::HttpServer;
using qelvaro::testing::ClosedLoopbackPort;
using qelvaro::testing::LoopbackServer;
using qelvaro::testing::Reply;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr auto kPatience = std::chrono::seconds(30);

std::string Pattern(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return s;
}

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

// Records what the engine reports and answers its questions: with the folder
// (the proposed name in it), or with a refusal, at once or when told.
class Recorder final : public Client {
 public:
  struct Row {
    DownloadStart start;
    std::uint64_t received = 0;
    std::optional<Outcome> outcome;
    int progressCalls = 0;
  };

  // How the questions are answered from now on.
  void Answer(fs::path folder, bool refuse = false, bool hold = false) {
    std::lock_guard lock(mutex_);
    folder_ = std::move(folder);
    refuse_ = refuse;
    hold_ = hold;
  }

  void AskSave(const SaveQuestion& question,
               std::function<void(const SaveChoice&)> answer) override {
    std::unique_lock lock(mutex_);
    questions_.push_back(question);
    SaveChoice choice{!refuse_, (folder_ / question.proposedName).string(), false};
    if (hold_) {
      held_.push_back([answer, choice] { answer(choice); });
    } else {
      lock.unlock();
      answer(choice);
      lock.lock();
    }
    changed_.notify_all();
  }
  void Started(DownloadId id, const DownloadStart& start) override {
    std::lock_guard lock(mutex_);
    rows_[id].start = start;
    changed_.notify_all();
  }
  void Progress(DownloadId id, std::uint64_t received) override {
    std::lock_guard lock(mutex_);
    rows_[id].received = received;
    ++rows_[id].progressCalls;
    changed_.notify_all();
  }
  void Finished(DownloadId id, std::uint64_t received, const Outcome& outcome) override {
    std::lock_guard lock(mutex_);
    rows_[id].received = received;
    rows_[id].outcome = outcome;
    changed_.notify_all();
  }

  // Waits (bounded) until pred holds over the rows and questions.
  template <typename Pred>
  bool WaitFor(Pred pred) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kPatience, [&] { return pred(rows_, questions_); });
  }
  bool WaitForOutcomes(std::size_t n) {
    return WaitFor([n](const auto& rows, const auto&) {
      std::size_t done = 0;
      for (const auto& [id, row] : rows) done += row.outcome.has_value();
      return done >= n;
    });
  }
  bool WaitForQuestions(std::size_t n) {
    return WaitFor([n](const auto&, const auto& questions) { return questions.size() >= n; });
  }
  void ReleaseAnswers() {
    std::vector<std::function<void()>> held;
    {
      std::lock_guard lock(mutex_);
      held.swap(held_);
    }
    for (auto& a : held) a();
  }
  std::map<DownloadId, Row> Rows() const {
    std::lock_guard lock(mutex_);
    return rows_;
  }
  std::vector<SaveQuestion> Questions() const {
    std::lock_guard lock(mutex_);
    return questions_;
  }
  std::vector<Outcome> Outcomes() const {
    std::vector<Outcome> out;
    for (const auto& [id, row] : Rows()) {
      if (row.outcome) out.push_back(*row.outcome);
    }
    return out;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  fs::path folder_;
  bool refuse_ = false;
  bool hold_ = false;
  std::vector<SaveQuestion> questions_;
  std::vector<std::function<void()>> held_;
  std::map<DownloadId, Row> rows_;
};

// A body that sends its first piece and then waits until the gate opens (or
// the client goes).
class Gate {
 public:
  void Open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  // True once open; false after `limit` without it.
  bool Wait(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [this] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
};

class EngineTest : public ::testing::Test {
 protected:
  static constexpr std::size_t kSongBytes = 300 * 1024 + 17;

  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) /
           ("engine_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    client_.Answer(dir_);

    auto& s = http_.server;
    s.Get("/start", [](const httplib::Request&, httplib::Response& res) {
      res.status = 302;
      res.set_header("Location", "files/../music/song.mp3?v=1");
      res.set_header("Set-Cookie", "ticket=42; Path=/");
    });
    s.Get("/music/song.mp3", [this](const httplib::Request& req, httplib::Response& res) {
      {
        std::lock_guard lock(mutex_);
        songCookies_.push_back(req.get_header_value("Cookie"));
      }
      res.set_header("Content-Disposition", "attachment; filename*=UTF-8''%E6%AD%8C.mp3");
      res.set_content(Pattern(kSongBytes), "audio/mpeg");
    });
    s.Get("/plain.mp3", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(Pattern(1000), "audio/mpeg");
    });
    s.Get("/page", [this](const httplib::Request&, httplib::Response& res) {
      ++pages_;
      res.set_content(std::string(100000, 'p'), "text/html; charset=utf-8");
    });
    s.Get("/missing.mp3", [](const httplib::Request&, httplib::Response& res) {
      res.status = 404;
      res.set_content("<h1>404</h1>", "text/html");
    });
    s.Get("/gated.mp3", [this](const httplib::Request&, httplib::Response& res) {
      const std::size_t size = 4 * 1024 * 1024;
      res.set_content_provider(size, "application/octet-stream",
                               [this, size](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                 static const std::string piece = Pattern(64 * 1024);
                                 if (offset >= 64 * 1024 && !gate_.Wait(std::chrono::seconds(20))) {
                                   return false;
                                 }
                                 const std::size_t n = std::min(piece.size(), size - offset);
                                 return sink.write(piece.data(), n);
                               });
    });
    http_.Start();
  }
  void TearDown() override {
    gate_.Open();
    platform::ResetLimitsForTesting();
    fs::remove_all(dir_);
  }
  std::string At(const char* path) const {
    return "http://127.0.0.1:" + std::to_string(http_.port()) + path;
  }

  fs::path dir_;
  Recorder client_;
  Gate gate_;
  std::atomic<int> pages_{0};
  std::mutex mutex_;
  std::vector<std::string> songCookies_;
  HttpServer http_;
};

TEST_F(EngineTest, AFileAfterARedirectIsSavedUnderItsProposedNameWithTheCookie) {
  Engine engine(client_);
  engine.Navigate("  " + At("/start") + " ", Engine::kReported);
  ASSERT_TRUE(client_.WaitForOutcomes(1));
  const auto questions = client_.Questions();
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_EQ(questions[0].proposedName, "歌.mp3");
  EXPECT_EQ(questions[0].address, At("/music/song.mp3?v=1"));
  EXPECT_EQ(questions[0].contentType, "audio/mpeg");
  EXPECT_EQ(questions[0].total, kSongBytes);

  const auto rows = client_.Rows();
  ASSERT_EQ(rows.size(), 1u);
  const Recorder::Row& row = rows.begin()->second;
  EXPECT_EQ(row.start.fileName, "歌.mp3");
  EXPECT_EQ(row.start.path, (dir_ / "歌.mp3").string());
  EXPECT_EQ(row.outcome, Outcome{});
  EXPECT_EQ(row.received, kSongBytes);
  EXPECT_THAT(Names(dir_), ElementsAre("歌.mp3"));
  EXPECT_EQ(Read(dir_ / "歌.mp3"), Pattern(kSongBytes));
  std::lock_guard lock(mutex_);
  EXPECT_THAT(songCookies_, ElementsAre("ticket=42"));
}

TEST_F(EngineTest, PagesAndBackgroundLoadsShowNothing) {
  Engine engine(client_);
  engine.Navigate(At("/page"), Engine::kReported);
  for (int i = 0; i < 3000 && (pages_ < 1 || engine.ActiveLoads() > 0); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  engine.Navigate(At("/plain.mp3"), Engine::kBackground);
  engine.Navigate(At("/missing.mp3"), Engine::kBackground);
  engine.Navigate("http://127.0.0.1:" + std::to_string(ClosedLoopbackPort()) + "/", Engine::kBackground);
  for (int i = 0; i < 3000 && engine.ActiveLoads() > 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(engine.ActiveLoads(), 0);
  EXPECT_EQ(pages_.load(), 1);
  EXPECT_THAT(client_.Questions(), IsEmpty());
  EXPECT_THAT(client_.Rows(), IsEmpty());
  EXPECT_THAT(Names(dir_), IsEmpty());
}

TEST_F(EngineTest, ALoadThatFailsEndsAsAFailedDownloadAndLeavesNoFile) {
  platform::SetTimeoutsForTesting(std::chrono::milliseconds(5000), std::chrono::milliseconds(300));
  LoopbackServer cut("HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\nContent-Length: 100000\r\n\r\n0123456789");
  LoopbackServer stalled([](const std::string&) {
    return Reply{"HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\nContent-Length: 100000\r\n\r\n0123",
                 Reply::Then::kStall};
  });
  LoopbackServer garbage("SSH-2.0-OpenSSH_9.0\r\n\r\n");
  const auto raw = [](const LoopbackServer& s) { return s.Url("/a.mp3"); };
  const struct {
    std::string address;
    Outcome outcome;
    bool asked;
  } cases[] = {
      {At("/missing.mp3"), {Failure::kStatus, 404}, false},
      {"http://127.0.0.1:" + std::to_string(ClosedLoopbackPort()) + "/a.mp3", {Failure::kCannotConnect}, false},
      {"ftp://127.0.0.1/a.mp3", {Failure::kBadAddress}, false},
      {"   ", {Failure::kBadAddress}, false},
      {raw(garbage), {Failure::kBadReply}, false},
      {raw(cut), {Failure::kConnectionLost}, true},
      {raw(stalled), {Failure::kTimeout}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    Recorder client;
    client.Answer(dir_);
    Engine engine(client);
    engine.Navigate(c.address, Engine::kReported);
    ASSERT_TRUE(client.WaitForOutcomes(1));
    EXPECT_THAT(client.Outcomes(), ElementsAre(c.outcome));
    EXPECT_EQ(client.Questions().size(), c.asked ? 1u : 0u);
    EXPECT_EQ(client.Rows().begin()->second.start.path.empty(), !c.asked);
    EXPECT_THAT(Names(dir_), IsEmpty());
  }
}

TEST_F(EngineTest, ARefusedQuestionDropsTheLoad) {
  client_.Answer(dir_, /*refuse=*/true);
  Engine engine(client_);
  engine.Navigate(At("/plain.mp3"), Engine::kReported);
  ASSERT_TRUE(client_.WaitForQuestions(1));
  for (int i = 0; i < 3000 && engine.ActiveLoads() > 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_THAT(client_.Rows(), IsEmpty());
  EXPECT_THAT(Names(dir_), IsEmpty());
}

TEST_F(EngineTest, DownloadsRunTogetherAndANewNavigationLeavesThemAlone) {
  Engine engine(client_);
  engine.Navigate(At("/gated.mp3"), Engine::kReported);
  ASSERT_TRUE(client_.WaitForQuestions(1));
  fs::create_directory(dir_ / "second");
  client_.Answer(dir_ / "second");
  engine.Navigate(At("/gated.mp3"), Engine::kReported);
  ASSERT_TRUE(client_.WaitForQuestions(2));
  engine.Navigate(At("/page"), Engine::kReported);
  // Both are under way, held at the gate.
  ASSERT_TRUE(client_.WaitFor([](const auto& rows, const auto&) {
    int partway = 0;
    for (const auto& [id, row] : rows) partway += row.received >= 64 * 1024;
    return partway == 2;
  }));
  EXPECT_THAT(Names(dir_), ElementsAre("gated.mp3.part", "second"));
  gate_.Open();
  ASSERT_TRUE(client_.WaitForOutcomes(2));
  EXPECT_THAT(client_.Outcomes(), ElementsAre(Outcome{}, Outcome{}));
  EXPECT_EQ(Read(dir_ / "gated.mp3").size(), 4u * 1024 * 1024);
  EXPECT_EQ(Read(dir_ / "second" / "gated.mp3"), Read(dir_ / "gated.mp3"));
}

TEST_F(EngineTest, CancelAndShutdownRemoveThePartFiles) {
  Engine engine(client_);
  engine.Navigate(At("/gated.mp3"), Engine::kReported);
  ASSERT_TRUE(client_.WaitFor([](const auto& rows, const auto&) {
    return !rows.empty() && rows.begin()->second.received >= 64 * 1024;
  }));
  const DownloadId first = client_.Rows().begin()->first;
  engine.Cancel(first);
  ASSERT_TRUE(client_.WaitForOutcomes(1));
  EXPECT_EQ(client_.Rows()[first].outcome, Outcome{Failure::kCancelled});
  EXPECT_THAT(Names(dir_), IsEmpty());

  // One running, one waiting for its answer: shutting down ends both.
  engine.Navigate(At("/gated.mp3"), Engine::kReported);
  ASSERT_TRUE(client_.WaitFor([](const auto& rows, const auto&) { return rows.size() == 2; }));
  fs::create_directory(dir_ / "later");
  client_.Answer(dir_ / "later", false, /*hold=*/true);
  engine.Navigate(At("/plain.mp3"), Engine::kReported);
  ASSERT_TRUE(client_.WaitForQuestions(3));
  engine.Shutdown();
  EXPECT_EQ(engine.ActiveLoads(), 0);
  client_.ReleaseAnswers();  // too late: nothing happens
  EXPECT_THAT(Names(dir_), ElementsAre("later"));
  EXPECT_THAT(Names(dir_ / "later"), IsEmpty());
  engine.Navigate(At("/plain.mp3"), Engine::kReported);  // after the end: nothing
  EXPECT_EQ(client_.Questions().size(), 3u);
}

TEST(OutcomeText, SaysDoneOrWhyNot) {
  EXPECT_EQ(OutcomeText({}), "完成"_gbk);
  EXPECT_EQ(OutcomeText({Failure::kStatus, 404}), "失败：服务器返回 404"_gbk);
  EXPECT_EQ(OutcomeText({Failure::kConnectionLost}), "失败：连接中断"_gbk);
  EXPECT_EQ(OutcomeText({Failure::kTimeout}), "失败：超时"_gbk);
  EXPECT_EQ(OutcomeText({Failure::kDiskFull}), "失败：磁盘已满"_gbk);
  EXPECT_EQ(OutcomeText({Failure::kCancelled}), "失败：已取消"_gbk);
}

}  // namespace
}  // namespace qelvaro::gui::browser
