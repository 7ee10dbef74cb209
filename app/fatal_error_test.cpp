#include "app/fatal_error.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>
#include <thread>

#include "text/gbk_literal.h"
#include "text/primitives.h"

namespace qelvaro {
namespace {

using ::testing::ExitedWithCode;
using ::testing::HasSubstr;

TEST(FatalReportText, CodeAndMessageLinesAppearOnlyWhenGiven) {
  struct Case {
    int code;
    Text message;
    Text want;
  } cases[] = {
      {4, "数组成员引用下标必须大于等于1"_gbk,
       "运行时出错!\r\n\r\n错误代码：4\r\n\r\n错误信息：数组成员引用下标必须大于等于1\r\n"_gbk},
      {0, "载入启动窗口失败"_gbk, "运行时出错!\r\n\r\n错误信息：载入启动窗口失败\r\n"_gbk},
      {-7, Text(), "运行时出错!\r\n\r\n错误代码：-7\r\n\r\n"_gbk},
      {0, Text(), "运行时出错!\r\n\r\n"_gbk},
  };
  for (const Case& c : cases) EXPECT_EQ(FatalReportText(c.code, c.message), c.want);
}

// What a presenter saw, written out by the child process before it ends.
void RecordingPresenter(const Text& report, const Text& title) {
  std::string line = "title=[" + title.str() + "] report=[" + report.str() + "]";
  std::fputs(line.c_str(), stderr);
}

int g_hook_runs = 0;
void CountingHook() {
  ++g_hook_runs;
  std::fputs("exit hook ran\n", stderr);
}

TEST(FatalErrorDeathTest, PresentsTheReportWithTheTitleAndEndsWith255) {
  const std::string want = "title=[" + "错误"_gbk.str() + "] report=[" +
                           FatalReportText(1, "数组成员引用下标超出定义范围"_gbk).str() + "]";
  EXPECT_EXIT(
      {
        SetFatalPresenter(RecordingPresenter);
        FatalError(1, "数组成员引用下标超出定义范围"_gbk);
      },
      ExitedWithCode(255), HasSubstr(want));
}

TEST(FatalErrorDeathTest, TheDefaultPresenterWritesUtf8ToStandardError) {
  EXPECT_EXIT(FatalError(0, "载入启动窗口失败"_gbk), ExitedWithCode(255),
              HasSubstr("错误: 运行时出错!\r\n\r\n错误信息：载入启动窗口失败\r\n"));
}

TEST(FatalErrorDeathTest, TheExitHookNeverRunsAfterAFatalError) {
  EXPECT_EXIT(
      {
        RegisterExitHook(CountingHook);
        FatalError(4, "x");
      },
      ExitedWithCode(255), ::testing::Not(HasSubstr("exit hook ran")));
}

TEST(ExitHook, RunsAtMostOnce) {
  g_hook_runs = 0;
  RegisterExitHook(CountingHook);
  RunExitHook();
  RunExitHook();
  EXPECT_EQ(g_hook_runs, 1);
  RegisterExitHook(CountingHook);
  DropExitHook();
  RunExitHook();
  EXPECT_EQ(g_hook_runs, 1);
}

// Far more than any machine can give: the allocation fails at once, without
// touching memory.
constexpr std::size_t kImpossible = std::size_t{1} << 46;

TEST(AllocationDeathTest, AFailedAllocationReportsCodeZeroWithTheSize) {
  const std::string want = "错误信息：分配 " + std::to_string(kImpossible) + " 字节内存失败!\r\n";
  EXPECT_EXIT(
      {
        volatile std::size_t n = kImpossible;
        void* volatile p = ::operator new(n);
        (void)p;
      },
      ExitedWithCode(255), HasSubstr(want));
  EXPECT_EXIT(
      {
        std::string s;
        s.reserve(kImpossible);
      },
      ExitedWithCode(255), HasSubstr("字节内存失败!"));
}

TEST(AllocationDeathTest, BadAllocThrownByALibraryEndsInTheReport) {
  // Uncaught on a thread of its own, as an exception escaping a library would be.
  EXPECT_EXIT(std::thread([] { throw std::bad_alloc(); }).join(), ExitedWithCode(255),
              HasSubstr("运行时出错!"));
}

TEST(Allocation, NothrowFormsStillReturnNull) {
  volatile std::size_t n = kImpossible;
  void* p = ::operator new(n, std::nothrow);
  EXPECT_EQ(p, nullptr);
  ::operator delete(p);
}

}  // namespace
}  // namespace qelvaro
