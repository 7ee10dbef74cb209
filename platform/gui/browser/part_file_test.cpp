#include "platform/gui/browser/part_file.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace qelvaro::gui::browser {
namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Put(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

// The names in the folder, sorted.
std::vector<std::string> Names(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class PartFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) /
           ("part_file_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    SetWriteFunctionForTesting(nullptr);
    fs::remove_all(dir_);
  }
  std::string Path(const char* name) const { return (dir_ / name).string(); }
  fs::path dir_;
};

TEST_F(PartFileTest, WritesThePartFileAndRenamesItWhenCommitted) {
  FileError error = FileError::kCannotWrite;
  PartFile file = PartFile::Create(Path("歌.mp3"), false, &error);
  ASSERT_TRUE(file.IsOpen());
  EXPECT_EQ(error, FileError::kNone);
  EXPECT_EQ(file.partPath(), Path("歌.mp3") + ".part");
  EXPECT_EQ(file.Write("ID3", 3), FileError::kNone);
  EXPECT_EQ(file.Write("tone", 4), FileError::kNone);
  EXPECT_EQ(file.size(), 7u);
  EXPECT_EQ(Names(dir_), std::vector<std::string>{"歌.mp3.part"});
  EXPECT_EQ(file.Commit(), FileError::kNone);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(Names(dir_), std::vector<std::string>{"歌.mp3"});
  EXPECT_EQ(Read(dir_ / "歌.mp3"), "ID3tone");
}

TEST_F(PartFileTest, DiscardingOrDroppingLeavesNothing) {
  FileError error;
  {
    PartFile dropped = PartFile::Create(Path("a.mp3"), false, &error);
    ASSERT_TRUE(dropped.IsOpen());
    dropped.Write("xyz", 3);
  }
  EXPECT_TRUE(Names(dir_).empty());
  PartFile file = PartFile::Create(Path("a.mp3"), false, &error);
  file.Write("xyz", 3);
  PartFile moved = std::move(file);
  EXPECT_FALSE(file.IsOpen());
  moved.Discard();
  EXPECT_TRUE(Names(dir_).empty());
  moved.Discard();  // twice is harmless
}

TEST_F(PartFileTest, AnExistingFileIsReplacedOnlyWithConsent) {
  Put(dir_ / "a.mp3", "old");
  FileError error;
  PartFile refused = PartFile::Create(Path("a.mp3"), false, &error);
  EXPECT_FALSE(refused.IsOpen());
  EXPECT_EQ(error, FileError::kExists);
  EXPECT_EQ(Names(dir_), std::vector<std::string>{"a.mp3"});

  PartFile agreed = PartFile::Create(Path("a.mp3"), true, &error);
  ASSERT_TRUE(agreed.IsOpen());
  agreed.Write("new", 3);
  EXPECT_EQ(Read(dir_ / "a.mp3"), "old");  // untouched until the commit
  EXPECT_EQ(agreed.Commit(), FileError::kNone);
  EXPECT_EQ(Read(dir_ / "a.mp3"), "new");
}

TEST_F(PartFileTest, AFileThatAppearsMeanwhileIsNeverReplaced) {
  FileError error;
  PartFile file = PartFile::Create(Path("a.mp3"), false, &error);
  ASSERT_TRUE(file.IsOpen());
  file.Write("mine", 4);
  Put(dir_ / "a.mp3", "theirs");
  EXPECT_EQ(file.Commit(), FileError::kExists);
  EXPECT_EQ(Names(dir_), std::vector<std::string>{"a.mp3"});
  EXPECT_EQ(Read(dir_ / "a.mp3"), "theirs");
}

TEST_F(PartFileTest, ASecondDownloadToTheSameNameIsRefusedAndAStalePartTakenOver) {
  FileError error;
  PartFile first = PartFile::Create(Path("a.mp3"), false, &error);
  ASSERT_TRUE(first.IsOpen());
  first.Write("first", 5);
  PartFile second = PartFile::Create(Path("a.mp3"), false, &error);
  EXPECT_FALSE(second.IsOpen());
  EXPECT_EQ(error, FileError::kInUse);
  EXPECT_EQ(first.Commit(), FileError::kNone);
  EXPECT_EQ(Read(dir_ / "a.mp3"), "first");

  // A .part file nobody holds, left by a run that ended abruptly.
  Put(dir_ / "b.mp3.part", "stale bytes");
  PartFile taken = PartFile::Create(Path("b.mp3"), false, &error);
  ASSERT_TRUE(taken.IsOpen());
  taken.Write("ok", 2);
  EXPECT_EQ(taken.Commit(), FileError::kNone);
  EXPECT_EQ(Read(dir_ / "b.mp3"), "ok");
}

TEST_F(PartFileTest, APartNameThatIsALinkIsNotFollowed) {
  Put(dir_ / "victim", "keep");
  fs::create_symlink(dir_ / "victim", dir_ / "a.mp3.part");
  FileError error;
  PartFile file = PartFile::Create(Path("a.mp3"), false, &error);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(error, FileError::kCannotWrite);
  EXPECT_EQ(Read(dir_ / "victim"), "keep");
}

TEST_F(PartFileTest, PlacesThatCannotBeWrittenFail) {
  FileError error;
  EXPECT_FALSE(PartFile::Create(Path("no/such/folder/a.mp3"), false, &error).IsOpen());
  EXPECT_EQ(error, FileError::kCannotWrite);
  EXPECT_FALSE(PartFile::Create(Path(""), false, &error).IsOpen());
  // A folder of the chosen name is not replaced either.
  fs::create_directory(dir_ / "folder.mp3");
  PartFile file = PartFile::Create(Path("folder.mp3"), true, &error);
  ASSERT_TRUE(file.IsOpen());
  file.Write("x", 1);
  EXPECT_EQ(file.Commit(), FileError::kCannotWrite);
  EXPECT_EQ(Names(dir_), std::vector<std::string>{"folder.mp3"});
  EXPECT_TRUE(fs::is_directory(dir_ / "folder.mp3"));
}

ssize_t FullDiskAfterFourBytes(int fd, const void* data, std::size_t n) {
  static thread_local std::size_t written = 0;
  if (written >= 4) {
    errno = ENOSPC;
    return -1;
  }
  const std::size_t take = std::min<std::size_t>(n, 4 - written);
  written += take;
  return ::write(fd, data, take);  // a short write first
}

TEST_F(PartFileTest, AFullDiskRemovesThePartFile) {
  SetWriteFunctionForTesting(FullDiskAfterFourBytes);
  FileError error;
  PartFile file = PartFile::Create(Path("a.mp3"), false, &error);
  ASSERT_TRUE(file.IsOpen());
  EXPECT_EQ(file.Write("0123456789", 10), FileError::kDiskFull);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_TRUE(Names(dir_).empty());
  EXPECT_EQ(file.Commit(), FileError::kCannotWrite);
  EXPECT_TRUE(Names(dir_).empty());
}

TEST(PartPathFor, StaysWithinTheNameLimit) {
  EXPECT_EQ(PartPathFor("/d/a.mp3"), "/d/a.mp3.part");
  const std::string longName(255, 'n');
  const std::string part = PartPathFor("/d/" + longName);
  EXPECT_EQ(part, "/d/" + std::string(250, 'n') + ".part");
}

}  // namespace
}  // namespace qelvaro::gui::browser
