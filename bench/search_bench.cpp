// The song search as one process runs it: DecodePage of the fetched page,
// Create with the result pattern, MatchCount and SubMatchText for every
// title and id, on search pages of 2 000 and 20 000 results (about 0.6 and
// 6 MB), next to DecodePage alone on the same page in the same run. Then the
// same pipeline over a page of unclosed result prefixes on one line (about
// 1 MB), and appending 20 000 rows to a result list that already holds
// 100 000, next to appending them to an empty one (offscreen).
//
// The stages of the pipeline are timed on their own as well (GbkToUtf16 of
// the decoded page, Create, the SubMatchText calls), to show where the time
// goes. Every benchmark warms up first: fresh memory is slow on small VMs.
// Ends with the ratios against the targets.
#include <benchmark/benchmark.h>

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/handlers.h"
#include "platform/gui/controls.h"
#include "platform/gui/qt_access.h"
#include "regex/regex_object.h"
#include "text/encodings.h"
#include "text/gbk_literal.h"

namespace {

using namespace qelvaro;

// Titles and singers of the page: some Chinese, some ASCII, some with
// character references, as a search page lists them.
const char* const kTitles[] = {"我的好兄弟", "Summer Rain", "后来的我们", "Rock &amp; Roll Tonight",
                               "月亮代表我的心", "Hello, World", "一路向北", "Café Lights"};
const char* const kSingers[] = {"高远", "Lily Chen", "苏晴", "Blue Harbor", "王一帆", "周子航"};

// The percent-escapes of a UTF-8 text, as the page's links carry names.
std::string Escaped(const std::string& s) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

// A search page in UTF-8 with `results` results, one list item per line,
// about 300 bytes each, about a tenth of the bytes Chinese.
std::string SearchPage(int results) {
  std::string page =
      "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\" />\n"
      "<title>我的好兄弟 - 歌曲搜索 - 音乐盒</title>\n</head>\n<body>\n"
      "<p class=\"tip\">共找到 <b>" + std::to_string(results) + "</b> 首相关的歌曲</p>\n"
      "<ul class=\"m_list\">\n";
  for (int i = 0; i < results; ++i) {
    const std::string id = std::to_string(1000000 + i * 7);
    const std::string title = kTitles[i % 8];
    const std::string singer = kSingers[i % 6];
    page += "<li><input type=\"checkbox\" name=\"musicid\" value=\"MUSIC_" + id + "\">"
            "<p class=\"m_name\"><a href=\"http://www.music.example/yinyue/" + id +
            "/\" title=\"" + title + "\" target=\"_blank\">" + title + "</a></p>"
            "<p class=\"s_name\"><a href=\"http://www.music.example/geshou/" + Escaped(singer) +
            "/\" title=\"" + singer + "\" target=\"_blank\">" + singer + "</a></p>"
            "<p class=\"m_play\"><a href=\"javascript:;\" onclick=\"play('MUSIC_" + id +
            "')\">试听</a></p></li>\n";
  }
  page += "</ul>\n<div class=\"page\"><span class=\"current\">1</span></div>\n</body>\n</html>\n";
  return page;
}

// About `bytes` of unclosed result prefixes on one line: every one of them
// starts a match that never finds its closing quote.
std::string BacktrackingPage(std::size_t bytes) {
  const std::string prefix =
      "<p class=\"m_name\"><a href=\"http://www.music.example/yinyue/123/\" title=\"ab";
  std::string page = "<html><body><ul><li>";
  while (page.size() < bytes) page += prefix;
  return page + "</li></ul></body></html>\n";
}

const Text& Page(int results) {
  static std::map<int, Text> pages;
  auto [it, added] = pages.try_emplace(results);
  if (added) it->second = results > 0 ? Text(SearchPage(results)) : Text(BacktrackingPage(1 << 20));
  return it->second;
}

// The search's own steps after the page has come in, as SearchSongs takes
// them with the program's two globals: the page text replaces the last one,
// the one regex object is created anew over it, and the rows' texts are made.
std::int32_t Pipeline(const Text& body) {
  static Text pageText;
  static RegexObject regex;
  Text page = DecodePage(body);
  pageText = Text();
  pageText = std::move(page);
  regex.Create(ResultPattern(), pageText);
  const std::int32_t n = regex.MatchCount();
  for (std::int32_t i = 1; i <= n; ++i) {
    benchmark::DoNotOptimize(regex.SubMatchText(i, 2));
    benchmark::DoNotOptimize(regex.SubMatchText(i, 1));
  }
  return n;
}

void Finish(benchmark::State& state, const Text& page) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
}

void BM_DecodePage(benchmark::State& state) {
  const Text& page = Page(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(DecodePage(page));
  Finish(state, page);
}

void BM_Pipeline(benchmark::State& state) {
  const Text& page = Page(static_cast<int>(state.range(0)));
  std::int32_t n = 0;
  for (auto _ : state) n = Pipeline(page);
  state.counters["matches"] = n;
  Finish(state, page);
}

void BM_GbkToUtf16(benchmark::State& state) {
  const Text page = DecodePage(Page(static_cast<int>(state.range(0))));
  for (auto _ : state) benchmark::DoNotOptimize(GbkToUtf16(page));
  Finish(state, page);
}

void BM_Create(benchmark::State& state) {
  const Text page = DecodePage(Page(static_cast<int>(state.range(0))));
  RegexObject re;
  for (auto _ : state) benchmark::DoNotOptimize(re.Create(ResultPattern(), page));
  Finish(state, page);
}

void BM_SubMatchTexts(benchmark::State& state) {
  const Text page = DecodePage(Page(static_cast<int>(state.range(0))));
  RegexObject re;
  re.Create(ResultPattern(), page);
  const std::int32_t n = re.MatchCount();
  for (auto _ : state) {
    for (std::int32_t i = 1; i <= n; ++i) {
      benchmark::DoNotOptimize(re.SubMatchText(i, 2));
      benchmark::DoNotOptimize(re.SubMatchText(i, 1));
    }
  }
  state.counters["calls"] = 2.0 * n;
  Finish(state, page);
}

// 20 000 rows of two cells appended to a list like the result list that
// already holds range(0) rows; the deferred layout of the view is counted.
void BM_AppendRows(benchmark::State& state) {
  const int held = static_cast<int>(state.range(0));
  std::vector<Text> titles, ids;
  for (int i = 0; i < 20000; ++i) {
    titles.push_back(Gbk(kTitles[i % 8]));
    ids.push_back(Text(std::to_string(1000000 + i)));
  }
  for (auto _ : state) {
    state.PauseTiming();
    auto window = std::make_unique<gui::窗口>("窗口", gui::窗口::Settings{"bench", 569, 478});
    auto list = std::make_unique<gui::ListView>(
        *window, "超级列表框1", gui::Rect{0, 56, 264, 416},
        gui::ListView::Settings{{{"歌曲名称"_gbk, 160}, {"歌曲ID"_gbk, 100}}});
    window->Load();
    for (int i = 0; i < held; ++i) {
      const int row = list->AppendRow();
      list->SetCell(row, 0, titles[i % 20000]);
      list->SetCell(row, 1, ids[i % 20000]);
    }
    QCoreApplication::processEvents();
    state.ResumeTiming();
    for (int i = 0; i < 20000; ++i) {
      const int row = list->AppendRow();
      list->SetCell(row, 0, titles[i]);
      list->SetCell(row, 1, ids[i]);
    }
    QCoreApplication::processEvents();
    state.PauseTiming();
    list.reset();
    window.reset();
    QCoreApplication::processEvents();
    state.ResumeTiming();
  }
}

constexpr int kBacktracking = 0;  // the page argument of the backtracking page

BENCHMARK(BM_DecodePage)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond)->MinWarmUpTime(0.5);
BENCHMARK(BM_Pipeline)->Arg(2000)->Arg(20000)->Arg(kBacktracking)->Unit(benchmark::kMillisecond)
    ->MinWarmUpTime(0.5);
BENCHMARK(BM_GbkToUtf16)->Arg(20000)->Unit(benchmark::kMillisecond)->MinWarmUpTime(0.5);
BENCHMARK(BM_Create)->Arg(20000)->Unit(benchmark::kMillisecond)->MinWarmUpTime(0.5);
BENCHMARK(BM_SubMatchTexts)->Arg(20000)->Unit(benchmark::kMillisecond)->MinWarmUpTime(0.5);
BENCHMARK(BM_AppendRows)->Arg(0)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(5);

// Collects the real time per iteration by benchmark and argument, for the
// summary.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  SummaryReporter() : ConsoleReporter(OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
      const std::string name = run.benchmark_name();
      const std::size_t slash = name.find('/');
      if (slash == std::string::npos) continue;
      const double ms = run.real_accumulated_time * 1e3 / static_cast<double>(run.iterations);
      times_[name.substr(0, slash)][std::stoi(name.substr(slash + 1))] = ms;
    }
    ConsoleReporter::ReportRuns(runs);
  }

  double Ms(const char* name, int arg) { return times_[name][arg]; }

  void PrintRatio(const char* what, double top, double bottom, double target) {
    const double r = bottom > 0 ? top / bottom : 0;
    std::printf("%-52s %8.2f ms / %8.2f ms = %5.2f   target <= %.2f: %s\n", what, top, bottom, r,
                target, r > 0 && r <= target ? "met" : "MISSED");
  }

 private:
  std::map<std::string, std::map<int, double>> times_;
};

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  benchmark::Initialize(&argc, argv);
  QApplication app(argc, argv);
  gui::InitializeRuntime();
  for (int results : {2000, 20000, kBacktracking}) Page(results);
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  std::printf("\nSummary (real time per run):\n");
  for (int results : {2000, 20000}) {
    char what[80];
    std::snprintf(what, sizeof what, "pipeline / DecodePage, %d results (%.1f MB)", results,
                  static_cast<double>(Page(results).size()) / (1 << 20));
    reporter.PrintRatio(what, reporter.Ms("BM_Pipeline", results),
                        reporter.Ms("BM_DecodePage", results), 1.5);
  }
  const double perMb2k = reporter.Ms("BM_Pipeline", 2000) / (Page(2000).size() / double(1 << 20));
  const double perMb20k = reporter.Ms("BM_Pipeline", 20000) / (Page(20000).size() / double(1 << 20));
  reporter.PrintRatio("pipeline per MB, 20 000 vs 2 000 results (linear)", perMb20k, perMb2k, 1.25);
  reporter.PrintRatio("backtracking page (1 MB) / pipeline, 20 000 results",
                      reporter.Ms("BM_Pipeline", kBacktracking), reporter.Ms("BM_Pipeline", 20000),
                      1.0);
  reporter.PrintRatio("append 20 000 rows to 100 000 / to an empty list",
                      reporter.Ms("BM_AppendRows", 100000), reporter.Ms("BM_AppendRows", 0), 2.0);
  benchmark::Shutdown();
  return 0;
}
