// Execute with the result pattern, case-insensitive, multi-line and global,
// as the song search runs it: over a normal page of 20 000 results, over a
// page of unclosed result prefixes on one line (each start would scan to the
// end of the line), and over the same page with a pattern the failure memo
// does not cover (alternation), where the work budget ends the search.

#include <benchmark/benchmark.h>

#include <string>

#include "platform/regexp/regexp.h"

namespace {

using qelvaro::platform::ExecuteLimits;
using qelvaro::platform::RegExp;

constexpr char16_t kResultPattern[] =
    u"<p class=\"m_name\"><a href=\"http://www.music.example/yinyue/(.*?)/\" "
    u"title=\"(.*?)\" target=\"_blank\">";

std::u16string Number(std::size_t i) {
  std::string digits = std::to_string(1000000 + i);
  return std::u16string(digits.begin(), digits.end());
}

// About 300 units per result, every result on its own line.
std::u16string NormalPage(std::size_t results) {
  std::u16string page = u"<html><body><ul>\n";
  for (std::size_t i = 0; i < results; ++i) {
    std::u16string id = Number(i);
    std::u16string block =
        u"<li><p class=\"m_name\"><a href=\"http://www.music.example/yinyue/" + id +
        u"/\" title=\"\u6b4c\u66f2" + id + u"\" target=\"_blank\">\u6b4c\u66f2</a></p>"
        u"<p class=\"s_name\"><a href=\"http://www.music.example/geshou/" + id +
        u"/\" title=\"\u6b4c\u624b\" target=\"_blank\">\u6b4c\u624b</a></p>";
    while (block.size() < 299) block += u"<span class=\"i\"><b>x</b></span>";
    block.resize(299);
    page += block + u"\n";
  }
  return page;
}

std::u16string UnclosedPrefixes(std::size_t units) {
  std::u16string page;
  while (page.size() < units) {
    page += u"<p class=\"m_name\"><a href=\"http://www.music.example/yinyue/123";
  }
  return page;
}

void Run(benchmark::State& state, const std::u16string& pattern, const std::u16string& page) {
  RegExp re;
  re.SetPattern(pattern);
  re.SetIgnoreCase(true);
  re.SetMultiline(true);
  re.SetGlobal(true);
  ExecuteLimits limits;
  limits.allowJit = state.range(0) != 0;
  re.SetLimits(limits);
  int count = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::u16string subject = page;
    state.ResumeTiming();
    count = re.Execute(std::move(subject))->Count();
    benchmark::DoNotOptimize(count);
  }
  state.counters["matches"] = count;
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size() * 2));
}

void BM_NormalPage6M(benchmark::State& state) {
  static const std::u16string page = NormalPage(20000);
  Run(state, kResultPattern, page);
}

void BM_UnclosedPrefixes1M(benchmark::State& state) {
  static const std::u16string page = UnclosedPrefixes(1 << 20);
  Run(state, kResultPattern, page);
}

void BM_UnclosedPrefixes1MWithoutMemo(benchmark::State& state) {
  static const std::u16string page = UnclosedPrefixes(1 << 20);
  Run(state, u"(?:" + std::u16string(kResultPattern) + u"|\\n\\n)", page);
}

}  // namespace

BENCHMARK(BM_NormalPage6M)->ArgName("jit")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnclosedPrefixes1M)->ArgName("jit")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnclosedPrefixes1MWithoutMemo)
    ->ArgName("jit")
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
