// The fatal error report: the one way the program stops on an error.
//
// Owns: FatalError, the text of its report, the seam through which the report
// is presented, the exit hook that a fatal error drops, and the global
// allocation functions (a failed allocation is fatal, never std::bad_alloc).
// Does not own: the message box itself (the GUI run time plugs it in through
// SetFatalPresenter) or the orderly shutdown.
//
// Example:
//   FatalError(4, "数组成员引用下标必须大于等于1"_gbk);   // never returns
#pragma once

#include <cstdint>

#include "text/text.h"

namespace qelvaro {

// Shows the report and ends the process with exit code -1 (status 255). The
// exit hook is dropped first, so it never runs after a fatal error.
[[noreturn]] void FatalError(int code, const Text& message);

// The report for memory that could not be obtained:
// FatalError(0, "分配 N 字节内存失败!") with the byte count asked for.
[[noreturn]] void AllocationFailed(std::uint64_t bytes);

// The report text in code page 936:
//   "运行时出错!\r\n\r\n" ["错误代码：" code "\r\n\r\n"] ["错误信息：" message "\r\n"]
// where the code line appears only when code is not 0 and the message line
// only when message is not empty.
Text FatalReportText(int code, const Text& message);

// Presents a report (code page 936) under a title (code page 936, "错误").
// The default writes the report to standard error in UTF-8.
using FatalPresenter = void (*)(const Text& report, const Text& title);
// Installs a presenter; null restores the default. Returns the previous one.
FatalPresenter SetFatalPresenter(FatalPresenter presenter);

// The exit hook: run once on orderly termination, never after a fatal error.
using ExitHook = void (*)();
void RegisterExitHook(ExitHook hook);
// Runs the registered hook, if any, and forgets it (so it runs at most once).
void RunExitHook();
// Forgets the hook without running it.
void DropExitHook();

}  // namespace qelvaro
