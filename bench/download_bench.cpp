// The browser box's engine saving a 1 GiB file from a loopback server, next
// to `curl -o` of the same file from the same server in the same run.
//
// The server is the demo music service with a streamed route (Response::
// Stream), in this process. Each round fetches the file once with curl (a
// child process) and once with the engine (NAME.part, flushed, renamed),
// into a temporary folder that is removed afterwards; the best of the rounds
// counts. The engine's time runs from Navigate to the end of the rename, its
// flush to the disk included; curl's from its start to its exit, and once
// more with a flush of its file afterwards, for the like-for-like figure.
// The process's peak resident memory (getrusage ru_maxrss) covers the
// server and the engine together.
//
// It runs in two places: a memory file system (/dev/shm), where a flush
// costs nothing and the figures compare the two transfers alone, and the
// temporary folder on the disk ($TMPDIR or /tmp), where the engine's flush
// waits for the disk while curl's file may still sit in the page cache, so
// that there the flushed curl figure is the fair one.
//
// Targets: the engine at least 0.8 of curl's throughput; peak memory below
// 64 MiB.
//
//   download_bench [ROUNDS] [DIR...]   (3 rounds; /dev/shm and $TMPDIR or /tmp)
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "demo/music_service.h"
#include "platform/gui/browser/engine.h"

extern char** environ;

namespace {

using namespace qelvaro;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr std::size_t kFileBytes = std::size_t{1} << 30;
constexpr std::size_t kPatternBytes = std::size_t{1} << 20;

// The byte at every offset is known, so the saved files can be checked
// without holding the whole body.
const std::string& Pattern() {
  static const std::string p = [] {
    std::string s(kPatternBytes, '\0');
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char>((i * 131 + i / 4093) & 0xFF);
    return s;
  }();
  return p;
}

void Fill(std::size_t offset, std::size_t n, std::string& out) {
  const std::string& p = Pattern();
  while (n > 0) {
    const std::size_t at = offset % p.size();
    const std::size_t take = std::min(n, p.size() - at);
    out.append(p, at, take);
    offset += take;
    n -= take;
  }
}

bool HoldsThePattern(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::string buffer(kPatternBytes, '\0');
  std::size_t total = 0;
  bool same = true;
  for (;;) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n <= 0) break;
    same = same && std::memcmp(buffer.data(), Pattern().data(), static_cast<std::size_t>(n)) == 0;
    total += static_cast<std::size_t>(n);
  }
  ::close(fd);
  return same && total == kFileBytes;
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }
double MiBPerSecond(double seconds) { return static_cast<double>(kFileBytes) / (1 << 20) / seconds; }

void Flush(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// curl -s -o path url; the seconds it took, or a negative number.
double Curl(const std::string& url, const fs::path& path) {
  const std::string out = path.string();
  const char* argv[] = {"curl", "-s", "-f", "-o", out.c_str(), url.c_str(), nullptr};
  const Clock::time_point start = Clock::now();
  pid_t pid = 0;
  if (posix_spawnp(&pid, "curl", nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0) {
    return -1;
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return Seconds(Clock::now() - start);
}

// Answers every question with the folder and waits for the outcome.
class SavingClient final : public gui::browser::Client {
 public:
  explicit SavingClient(fs::path folder) : folder_(std::move(folder)) {}
  void AskSave(const gui::browser::SaveQuestion& q,
               std::function<void(const gui::browser::SaveChoice&)> answer) override {
    answer({true, (folder_ / q.proposedName).string(), false});
  }
  void Started(gui::browser::DownloadId, const gui::browser::DownloadStart&) override {}
  void Progress(gui::browser::DownloadId, std::uint64_t) override {}
  void Finished(gui::browser::DownloadId, std::uint64_t received,
                const gui::browser::Outcome& outcome) override {
    std::lock_guard lock(mutex_);
    done_ = true;
    ok_ = outcome.failure == gui::browser::Failure::kNone && received == kFileBytes;
    changed_.notify_all();
  }
  bool Wait() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return done_; });
    done_ = false;
    return ok_;
  }

 private:
  fs::path folder_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool done_ = false;
  bool ok_ = false;
};

long PeakKiB() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

struct Figures {
  double curl = 1e30;         // best seconds of curl -o
  double curlFlushed = 1e30;  // and with its file flushed afterwards
  double engine = 1e30;       // best seconds of the engine, flush and rename included
};

// The rounds in one folder; false when a transfer failed or a file was wrong.
bool RunIn(const fs::path& base, int rounds, const std::string& url, Figures* f) {
  std::error_code ec;
  const fs::path dir = base / ("qelvaro_download_bench_" + std::to_string(::getpid()));
  fs::create_directories(dir, ec);
  const fs::space_info room = fs::space(dir, ec);
  if (ec || room.available < 2 * kFileBytes + (std::uintmax_t{256} << 20)) {
    std::fprintf(stderr, "download_bench: %s needs 2.25 GiB free\n", base.c_str());
    fs::remove_all(dir, ec);
    return false;
  }
  std::printf("%s:\n", base.c_str());
  bool intact = true;
  SavingClient client(dir);
  gui::browser::Engine engine(client);
  for (int round = 1; round <= rounds && intact; ++round) {
    const fs::path curlFile = dir / "curl.bin";
    const double curl = Curl(url, curlFile);
    if (curl < 0) {
      std::fputs("download_bench: curl failed\n", stderr);
      intact = false;
      break;
    }
    const Clock::time_point flushStart = Clock::now();
    Flush(curlFile);
    const double curlFlushed = curl + Seconds(Clock::now() - flushStart);
    intact = intact && HoldsThePattern(curlFile);
    fs::remove(curlFile, ec);

    const Clock::time_point start = Clock::now();
    engine.Navigate(url, gui::browser::Engine::kReported);
    const bool saved = client.Wait();
    const double seconds = Seconds(Clock::now() - start);
    intact = intact && saved && HoldsThePattern(dir / "big.bin");
    fs::remove(dir / "big.bin", ec);

    std::printf("  round %d: curl -o %.2f s (%.2f s with a flush), engine %.2f s\n", round, curl,
                curlFlushed, seconds);
    std::fflush(stdout);
    f->curl = std::min(f->curl, curl);
    f->curlFlushed = std::min(f->curlFlushed, curlFlushed);
    f->engine = std::min(f->engine, seconds);
  }
  engine.Shutdown();
  fs::remove_all(dir, ec);
  if (!intact) return false;
  const double ratio = f->curl / f->engine;
  std::printf("  curl -o %.0f MiB/s, curl -o + flush %.0f MiB/s, engine %.0f MiB/s\n",
              MiBPerSecond(f->curl), MiBPerSecond(f->curlFlushed), MiBPerSecond(f->engine));
  std::printf("  engine / curl -o %.2f (target >= 0.80: %s), engine / curl -o + flush %.2f\n", ratio,
              ratio >= 0.8 ? "met" : "missed", f->curlFlushed / f->engine);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  std::vector<fs::path> places;
  for (int i = 2; i < argc; ++i) places.emplace_back(argv[i]);
  if (places.empty()) {
    std::error_code ec;
    if (fs::is_directory("/dev/shm", ec)) places.emplace_back("/dev/shm");
    const char* tmp = std::getenv("TMPDIR");
    places.emplace_back(tmp != nullptr && *tmp ? tmp : "/tmp");
  }

  demo::ServiceOptions options;
  options.max_wait = std::chrono::milliseconds(600000);
  demo::MusicService service(options);
  service.AddRoute("*", "/big.bin", [](const demo::Request&) {
    return demo::Response::Stream(kFileBytes, Fill);
  });
  if (!service.Start()) {
    std::fputs("download_bench: the loopback server did not start\n", stderr);
    return 1;
  }
  const std::string url = "http://127.0.0.1:" + std::to_string(service.port()) + "/big.bin";
  std::printf("download_bench: 1 GiB from %s, best of %d rounds\n", url.c_str(), rounds);
  bool ok = true;
  for (const fs::path& place : places) {
    Figures f;
    ok = RunIn(place, rounds, url, &f) && ok;
  }
  service.Stop();
  const double peakMiB = static_cast<double>(PeakKiB()) / 1024;
  std::printf("peak memory of the process (ru_maxrss): %.1f MiB (target < 64: %s)\n", peakMiB,
              peakMiB < 64 ? "met" : "missed");
  if (!ok) std::fputs("download_bench: a transfer failed or a saved file did not hold the body\n", stderr);
  return ok ? 0 : 1;
}
