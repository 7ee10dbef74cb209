// Throughput and memory of WebRequest and FetchResource on bodies of 8 to
// 64 MiB from a loopback server, next to a plain curl_easy_perform into
// memory of the same body in the same run. Each size also runs once in a
// forked child process that reports how far its peak resident memory rose
// (getrusage ru_maxrss), as the counters peak_MiB and over_body_MiB. Ends
// with the throughput ratios against curl, how the time grows with the size
// and the largest peak above the body. BM_FreshMemory shows the floor: the
// cost of writing a body's worth of fresh pages, which on some machines
// (virtual ones especially) bounds every fetch.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "testing/loopback_server.h"
#include "text/text.h"
#include "web/fetch.h"
#include "web/request.h"

namespace {

using namespace qelvaro;

constexpr std::size_t kLargest = std::size_t{64} << 20;

// Serves "GET /N" with N bytes of body (Content-Length, then close), each
// connection on a thread of its own. Lives until the process ends.
class BodyServer {
 public:
  BodyServer()
      : body_(MakeBody()), server_([body = body_](const std::string& request) {
          std::size_t bytes = 0;
          if (request.size() > 5) bytes = std::strtoull(request.c_str() + 5, nullptr, 10);
          bytes = std::min(bytes, body->size());
          return testing::Reply{"HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(bytes) +
                                    "\r\nConnection: close\r\n\r\n",
                                testing::Reply::Then::kClose, {},
                                std::string_view(*body).substr(0, bytes)};
        }) {}

  std::string Url(std::size_t bytes) const { return server_.Url("/" + std::to_string(bytes)); }

 private:
  static const std::string* MakeBody() {
    auto* body = new std::string(kLargest, '\0');
    for (std::size_t i = 0; i < body->size(); ++i) (*body)[i] = static_cast<char>('a' + i % 26);
    return body;
  }

  const std::string* body_;  // never freed: server threads may outlive main
  testing::LoopbackServer server_;
};

BodyServer& Server() {
  static BodyServer* const server = new BodyServer;
  return *server;
}

std::size_t CurlAppend(char* p, std::size_t size, std::size_t n, void* out) {
  static_cast<std::string*>(out)->append(p, size * n);
  return size * n;
}

// The plain baseline: one easy handle per transfer, the body appended to a
// string.
std::size_t CurlFetch(const std::string& url) {
  CURL* curl = curl_easy_init();
  std::string body;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_PROXY, "");
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, CurlAppend);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  curl_easy_perform(curl);
  curl_easy_cleanup(curl);
  return body.size();
}

enum class Method { kCurl, kWebRequest, kFetchResource };

std::size_t Fetch(Method m, const std::string& url) {
  switch (m) {
    case Method::kCurl:
      return CurlFetch(url);
    case Method::kWebRequest:
      return static_cast<std::size_t>(WebRequest(Text(url)).size());
    case Method::kFetchResource:
      return static_cast<std::size_t>(FetchResource(Text(url)).size());
  }
  return 0;
}

long MaxRssKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// How far the peak resident memory of a fresh child rises during one fetch,
// in KiB; -1 when the child could not report.
long PeakGrowthKiB(Method m, const std::string& url, std::size_t bytes) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    const long before = MaxRssKiB();
    const std::size_t got = Fetch(m, url);
    long growth = MaxRssKiB() - before;
    if (got != bytes) growth = -1;
    (void)!write(fds[1], &growth, sizeof growth);
    _exit(0);
  }
  close(fds[1]);
  long growth = -1;
  if (pid < 0 || read(fds[0], &growth, sizeof growth) != sizeof growth) growth = -1;
  close(fds[0]);
  if (pid > 0) waitpid(pid, nullptr, 0);
  return growth;
}

void Run(benchmark::State& state, Method m) {
  const auto bytes = static_cast<std::size_t>(state.range(0));
  const std::string url = Server().Url(bytes);
  for (auto _ : state) {
    const std::size_t got = Fetch(m, url);
    if (got != bytes) {
      state.SkipWithError("short body");
      return;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
  state.SetComplexityN(static_cast<std::int64_t>(bytes));
  const long growth = PeakGrowthKiB(m, url, bytes);
  if (growth < 0) {
    state.SkipWithError("the child process measuring the peak failed");
    return;
  }
  state.counters["peak_MiB"] = static_cast<double>(growth) / 1024.0;
  state.counters["over_body_MiB"] =
      (static_cast<double>(growth) * 1024.0 - static_cast<double>(bytes)) / 1048576.0;
}

// The floor under every fetch here: writing a body's worth of fresh pages.
void BM_FreshMemory(benchmark::State& state) {
  const auto bytes = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    std::string body(bytes, 'x');
    benchmark::DoNotOptimize(body.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
  state.SetComplexityN(static_cast<std::int64_t>(bytes));
}

void BM_CurlEasyPerform(benchmark::State& state) { Run(state, Method::kCurl); }
void BM_WebRequest(benchmark::State& state) { Run(state, Method::kWebRequest); }
void BM_FetchResource(benchmark::State& state) { Run(state, Method::kFetchResource); }

#define BODY_SIZES \
  RangeMultiplier(2)->Range(8 << 20, 64 << 20)->UseRealTime()->Complexity(benchmark::oN)

BENCHMARK(BM_FreshMemory)->BODY_SIZES;
BENCHMARK(BM_CurlEasyPerform)->BODY_SIZES;
BENCHMARK(BM_WebRequest)->BODY_SIZES;
BENCHMARK(BM_FetchResource)->BODY_SIZES;

// Collects throughput, time per run and the peak counters by benchmark and
// size for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
      const std::string name = run.benchmark_name();
      const std::size_t slash = name.find('/');
      if (slash == std::string::npos) continue;
      Figures& f = figures_[name.substr(0, slash)][std::stoll(name.substr(slash + 1))];
      if (auto it = run.counters.find("bytes_per_second"); it != run.counters.end()) {
        f.rate = it->second.value;
      }
      if (auto it = run.counters.find("over_body_MiB"); it != run.counters.end()) {
        f.overBody = it->second.value;
      }
      if (run.error_occurred) f.failed = true;
      f.seconds = run.real_accumulated_time / static_cast<double>(run.iterations);
    }
    ConsoleReporter::ReportRuns(runs);
  }

  // Returns whether every target was met.
  bool PrintSummary(const char* name) {
    const auto& mine = figures_[name];
    const auto& curl = figures_["BM_CurlEasyPerform"];
    bool ok = !mine.empty();
    std::printf("%-17s vs curl:", name);
    double worstOver = 0;
    for (const auto& [size, f] : mine) {
      const auto base = curl.find(size);
      const double r = base != curl.end() && base->second.rate > 0 ? f.rate / base->second.rate : 0;
      ok = ok && r >= 0.5 && !f.failed && f.overBody.has_value();
      worstOver = std::max(worstOver, f.overBody.value_or(0));
      std::printf(" %3lldM:%5.2f", size >> 20, r);
    }
    ok = ok && worstOver <= 8.0;
    double growth = 0;
    if (mine.size() >= 2 && mine.begin()->second.seconds > 0) {
      const double sizeRatio = static_cast<double>(mine.rbegin()->first) /
                               static_cast<double>(mine.begin()->first);
      growth = mine.rbegin()->second.seconds / mine.begin()->second.seconds / sizeRatio;
      ok = ok && growth <= 1.5;
    }
    std::printf("  (>= 0.50)  time per byte 64M/8M: %4.2f (<= 1.5)  peak over body: %5.2f MiB"
                " (<= 8)  %s\n",
                growth, worstOver, ok ? "met" : "MISSED");
    return ok;
  }

  void PrintBaseline(const char* name) {
    const auto& base = figures_[name];
    std::printf("%-17s        ", name);
    for (const auto& [size, f] : base) std::printf(" %3lldM:%4.0fMB/s", size >> 20, f.rate / 1e6);
    std::optional<double> worstOver;
    for (const auto& [size, f] : base) {
      if (f.overBody) worstOver = std::max(worstOver.value_or(*f.overBody), *f.overBody);
    }
    if (worstOver) std::printf("  peak over body: %5.2f MiB", *worstOver);
    std::printf("\n");
  }

 private:
  struct Figures {
    double rate = 0;
    double seconds = 0;
    std::optional<double> overBody;
    bool failed = false;
  };
  std::map<std::string, std::map<long long, Figures>> figures_;
};

}  // namespace

int main(int argc, char** argv) {
  // Every large block comes fresh from mmap and goes back on free, for every
  // size alike. Left alone, glibc raises its threshold after each free of a
  // mapped block (up to 32 MiB): bodies below that would then reuse resident
  // memory while larger ones never could, and a child process would count
  // only pages it did not share with its parent.
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
  // Loopback only: a proxy of the environment must not serve these requests.
  testing::ClearProxyEnvironment();
  curl_global_init(CURL_GLOBAL_DEFAULT);
  benchmark::Initialize(&argc, argv);
  Server();
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nThroughput against curl_easy_perform, by body size; growth and peak memory:\n");
  reporter.PrintBaseline("BM_FreshMemory");
  reporter.PrintBaseline("BM_CurlEasyPerform");
  reporter.PrintSummary("BM_WebRequest");
  reporter.PrintSummary("BM_FetchResource");
  benchmark::Shutdown();
  ReleaseFetchRoot();
  return 0;
}
