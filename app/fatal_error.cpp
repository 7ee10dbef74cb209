#include "app/fatal_error.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <exception>
#include <new>
#include <string>
#include <typeinfo>

#include "platform/codepage/codepage.h"
#include "text/gbk_literal.h"
#include "text/primitives.h"

namespace qelvaro {

namespace {

void WriteAll(int fd, std::string_view s) {
  while (!s.empty()) {
    ssize_t n = ::write(fd, s.data(), s.size());
    if (n <= 0) return;
    s.remove_prefix(static_cast<std::size_t>(n));
  }
}

// Code page 936 to UTF-8, for the terminal.
std::string ToUtf8(const Text& t) {
  using namespace platform;
  if (t.empty()) return {};
  std::u16string wide(static_cast<std::size_t>(t.size()), u'\0');
  int units = MultiByteToWideChar(CP_GBK, 0, t.data(), t.size(), wide.data(), t.size());
  if (units <= 0) return std::string(t.view());
  std::string out(static_cast<std::size_t>(units) * 3, '\0');
  int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, out.data(),
                              static_cast<int>(out.size()));
  out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return out;
}

void PresentOnStderr(const Text& report, const Text& title) {
  WriteAll(STDERR_FILENO, ToUtf8(title) + ": " + ToUtf8(report));
}

std::atomic<FatalPresenter> g_presenter{nullptr};
std::atomic<ExitHook> g_exit_hook{nullptr};
std::atomic<bool> g_failing{false};

[[noreturn]] void EndProcess() { std::_Exit(-1); }

}  // namespace

Text FatalReportText(int code, const Text& message) {
  Text report = "运行时出错!\r\n\r\n"_gbk;
  if (code != 0) {
    report = ConcatText(report, "错误代码："_gbk, std::to_string(code), "\r\n\r\n");
  }
  if (!message.empty()) report = ConcatText(report, "错误信息："_gbk, message, "\r\n");
  return report;
}

FatalPresenter SetFatalPresenter(FatalPresenter presenter) {
  return g_presenter.exchange(presenter);
}

void RegisterExitHook(ExitHook hook) { g_exit_hook.store(hook); }

void RunExitHook() {
  if (ExitHook hook = g_exit_hook.exchange(nullptr)) hook();
}

void DropExitHook() { g_exit_hook.store(nullptr); }

void FatalError(int code, const Text& message) {
  DropExitHook();
  if (g_failing.exchange(true)) {
    // A second failure while the first is being reported (say, memory ran
    // out while building the report): end at once.
    WriteAll(STDERR_FILENO, "fatal error while reporting a fatal error\n");
    EndProcess();
  }
  Text report = FatalReportText(code, message);
  FatalPresenter presenter = g_presenter.load();
  (presenter != nullptr ? presenter : PresentOnStderr)(report, "错误"_gbk);
  EndProcess();
}

void AllocationFailed(std::uint64_t bytes) {
  FatalError(0, ConcatText("分配 "_gbk, std::to_string(bytes), " 字节内存失败!"_gbk));
}

namespace {

// Memory that a library (Qt, the C++ library) failed to get and reported as
// std::bad_alloc ends in the same report instead of an abort.
[[noreturn]] void OnTerminate();

const std::terminate_handler g_previous_terminate = std::set_terminate(OnTerminate);

void OnTerminate() {
  if (std::exception_ptr e = std::current_exception()) {
    try {
      std::rethrow_exception(e);
    } catch (const std::bad_alloc&) {
      FatalError(0, "内存不足"_gbk);
    } catch (...) {
    }
  }
  if (g_previous_terminate != nullptr) g_previous_terminate();
  std::abort();
}

}  // namespace

}  // namespace qelvaro

// The global allocation functions: a failed allocation is reported through
// FatalError with the size asked for, so std::bad_alloc never escapes.
namespace {

void* Allocate(std::size_t n) {
  if (n == 0) n = 1;
  void* p = std::malloc(n);
  if (p == nullptr) qelvaro::AllocationFailed(n);
  return p;
}

void* AllocateAligned(std::size_t n, std::align_val_t al) {
  const std::size_t a = static_cast<std::size_t>(al);
  if (n == 0) n = 1;
  const std::size_t rounded = (n + a - 1) / a * a;
  void* p = rounded >= n ? std::aligned_alloc(a, rounded) : nullptr;
  if (p == nullptr) qelvaro::AllocationFailed(n);
  return p;
}

}  // namespace

void* operator new(std::size_t n) { return Allocate(n); }
void* operator new[](std::size_t n) { return Allocate(n); }
void* operator new(std::size_t n, std::align_val_t a) { return AllocateAligned(n, a); }
void* operator new[](std::size_t n, std::align_val_t a) { return AllocateAligned(n, a); }
// The nothrow forms ask for a null result instead; their callers cope with it.
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return std::malloc(n ? n : 1); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return std::malloc(n ? n : 1); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
