// Throughput of the text primitives and encodings on HTML-like pages from
// 4 KB to 16 MB, next to baselines over the same bytes in the same run:
// memmem for the searches and splits, one plain iconv call (UTF-8 to CP936)
// for DecodePage. Ends with the ratios against the baselines.
#include <benchmark/benchmark.h>
#include <iconv.h>
#include <string.h>

#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "bench/bench_pages.h"
#include "text/encodings.h"
#include "text/primitives.h"

namespace {

using namespace qelvaro;

constexpr char kAbsent[] = "<qelvaro-never-here>";

const std::string& Utf8Page(std::size_t n) {
  static std::map<std::size_t, std::string> pages;
  auto [it, added] = pages.try_emplace(n);
  if (added) it->second = bench::MakeUtf8Page(n);
  return it->second;
}

const Text& GbkPage(std::size_t n) {
  static std::map<std::size_t, Text> pages;
  auto [it, added] = pages.try_emplace(n);
  if (added) it->second = Text(bench::MakeGbkPage(n));
  return it->second;
}

void Finish(benchmark::State& state, std::size_t bytes) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
  state.SetComplexityN(static_cast<std::int64_t>(bytes));
}

void BM_Memmem(benchmark::State& state) {
  const Text& page = GbkPage(state.range(0));
  for (auto _ : state) {
    benchmark::DoNotOptimize(memmem(page.data(), page.size(), kAbsent, sizeof kAbsent - 1));
  }
  Finish(state, page.size());
}

void BM_FindText(benchmark::State& state) {
  const Text& page = GbkPage(state.range(0));
  const Text needle(kAbsent);
  for (auto _ : state) benchmark::DoNotOptimize(FindText(page, needle));
  Finish(state, page.size());
}

void BM_FindTextReverse(benchmark::State& state) {
  const Text& page = GbkPage(state.range(0));
  const Text needle(kAbsent);
  for (auto _ : state) benchmark::DoNotOptimize(FindTextReverse(page, needle));
  Finish(state, page.size());
}

void BM_MemmemSplit(benchmark::State& state) {
  const Text& page = GbkPage(state.range(0));
  for (auto _ : state) {
    std::vector<std::string> pieces;
    std::string_view rest = page.view();
    while (const void* hit = memmem(rest.data(), rest.size(), "\r\n", 2)) {
      const std::size_t k = static_cast<const char*>(hit) - rest.data();
      pieces.emplace_back(rest.substr(0, k));
      rest.remove_prefix(k + 2);
    }
    if (!rest.empty()) pieces.emplace_back(rest);
    benchmark::DoNotOptimize(pieces.data());
  }
  Finish(state, page.size());
}

void BM_SplitText(benchmark::State& state) {
  const Text& page = GbkPage(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(SplitText(page, "\r\n"));
  Finish(state, page.size());
}

void BM_ReplaceText(benchmark::State& state) {
  const Text& page = GbkPage(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(ReplaceText(page, "http://", "https://"));
  Finish(state, page.size());
}

void BM_TrimBoth(benchmark::State& state) {
  const Text page = ConcatText("   ", GbkPage(state.range(0)), "   ");
  for (auto _ : state) benchmark::DoNotOptimize(TrimBoth(page));
  Finish(state, page.size());
}

void BM_IconvUtf8ToGbk(benchmark::State& state) {
  const std::string& page = Utf8Page(state.range(0));
  iconv_t cd = iconv_open("CP936", "UTF-8");
  std::string out(page.size() + 16, '\0');
  for (auto _ : state) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(page.data());
    std::size_t inLeft = page.size();
    char* o = out.data();
    std::size_t outLeft = out.size();
    // The page ends at a cut made by size: an incomplete character at the end
    // stops the call, which is all the baseline needs.
    iconv(cd, &in, &inLeft, &o, &outLeft);
    benchmark::DoNotOptimize(out.data());
  }
  iconv_close(cd);
  Finish(state, page.size());
}

void BM_DecodePage(benchmark::State& state) {
  const Text page(Utf8Page(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(DecodePage(page));
  Finish(state, page.size());
}

void BM_UrlEncodeKeyword(benchmark::State& state) {
  const Text& page = GbkPage(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(UrlEncodeKeyword(page));
  Finish(state, page.size());
}

void BM_AnsiToUtf16(benchmark::State& state) {
  const Text& page = GbkPage(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(AnsiToUtf16(page));
  Finish(state, page.size());
}

void BM_Utf16ToAnsi(benchmark::State& state) {
  const Text& page = GbkPage(state.range(0));
  const Bytes wide = AnsiToUtf16(page);
  for (auto _ : state) benchmark::DoNotOptimize(Utf16ToAnsi(wide));
  Finish(state, page.size());
}

#define PAGE_SIZES RangeMultiplier(4)->Range(4 << 10, 16 << 20)->Complexity(benchmark::oN)

BENCHMARK(BM_Memmem)->PAGE_SIZES;
BENCHMARK(BM_FindText)->PAGE_SIZES;
BENCHMARK(BM_FindTextReverse)->PAGE_SIZES;
BENCHMARK(BM_MemmemSplit)->PAGE_SIZES;
BENCHMARK(BM_SplitText)->PAGE_SIZES;
BENCHMARK(BM_ReplaceText)->PAGE_SIZES;
BENCHMARK(BM_TrimBoth)->PAGE_SIZES;
BENCHMARK(BM_IconvUtf8ToGbk)->PAGE_SIZES;
BENCHMARK(BM_DecodePage)->PAGE_SIZES;
BENCHMARK(BM_UrlEncodeKeyword)->PAGE_SIZES;
BENCHMARK(BM_AnsiToUtf16)->PAGE_SIZES;
BENCHMARK(BM_Utf16ToAnsi)->PAGE_SIZES;

// Collects bytes per second by benchmark and size, to print the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration) continue;
      auto it = run.counters.find("bytes_per_second");
      if (it == run.counters.end()) continue;
      const std::string name = run.benchmark_name();
      const std::size_t slash = name.find('/');
      if (slash == std::string::npos) continue;
      rates_[name.substr(0, slash)][std::stoll(name.substr(slash + 1))] = it->second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void PrintRatio(const char* name, const char* base, double target) {
    std::printf("%-20s / %-18s", name, base);
    bool ok = true;
    for (const auto& [size, rate] : rates_[name]) {
      const double b = rates_[base][size];
      const double r = b > 0 ? rate / b : 0;
      ok = ok && r >= target;
      std::printf(" %5lldK:%6.2f", static_cast<long long>(size >> 10), r);
    }
    std::printf("   target >= %.2f: %s\n", target, ok ? "met" : "MISSED");
  }

 private:
  std::map<std::string, std::map<long long, double>> rates_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nThroughput ratios against the baselines, by page size:\n");
  reporter.PrintRatio("BM_FindText", "BM_Memmem", 0.1);
  reporter.PrintRatio("BM_FindTextReverse", "BM_Memmem", 0.1);
  reporter.PrintRatio("BM_SplitText", "BM_MemmemSplit", 0.1);
  reporter.PrintRatio("BM_DecodePage", "BM_IconvUtf8ToGbk", 0.5);
  benchmark::Shutdown();
  return 0;
}
