// The browser box's engine: a small browser without a view. It loads
// addresses over the internet layer (platform/inet, so it shares the
// process-wide cookie store), each load on a thread of its own, follows
// redirects, drops pages (the box shows none) and saves files.
//
// Owns: the loads and their threads, redirects, the page-or-file decision in
// use (platform/gui/browser/naming.h), asking where to save, streaming the
// body into the .part file (platform/gui/browser/part_file.h), cancelling,
// and the outcome of every download. Does not own: any window or dialog; the
// Client shows them, on whatever thread it likes.
//
// How a load goes:
//   1. Navigate(address) returns at once; a thread sends GET and follows up
//      to 10 redirects (http and https). A new navigation drops the load
//      before it, unless that one has become a download already.
//   2. A page (naming.h's IsPageAnswer) is read and dropped, at most 8 MiB.
//   3. A file: Client::AskSave with the proposed name; the answer comes
//      through the callback it is handed. No answer wanted (or a refusal)
//      drops the load.
//   4. The body streams into NAME.part (256 KiB reads, nothing else held),
//      which becomes NAME when the whole body has arrived and matches its
//      Content-Length. Client::Started, Progress (at most every 100 ms) and
//      Finished report it.
//   5. A reported load that fails before it became a download (status 400 or
//      more, no connection, a bad address, ...) is reported as a failed
//      download, without asking anything. A background load reports nothing.
//
// The client's calls come from the load threads; Shutdown (and the
// destructor) stops every load, removes the .part files and joins the
// threads before it returns.
//
// Example:
//   Engine engine(client);
//   engine.Navigate("http://www.qelvaro.example/", Engine::kBackground);
//   engine.Navigate("http://dl.music.example/resource/a.mp3", Engine::kReported);
//   engine.Cancel(id);   // an id the client was told in Started
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "text/text.h"

namespace qelvaro::gui::browser {

using DownloadId = std::uint64_t;

enum class Failure {
  kNone,
  kStatus,          // the server answered with status 400 or more
  kConnectionLost,  // the connection ended before the body was whole
  kTimeout,         // nothing arrived for the idle time
  kDiskFull,
  kCancelled,
  kCannotConnect,   // name not resolved, connection refused
  kBadAddress,      // not an http or https address
  kBadReply,        // not an HTTP answer
  kRedirect,        // too many redirects, or one that leads nowhere usable
  kIncomplete,      // the body ended short of its Content-Length
  kCannotWrite,     // the file could not be created, written or renamed
  kExists,          // the file exists and may not be replaced
  kInUse,           // another download writes the same file
};

struct Outcome {
  Failure failure = Failure::kNone;
  int status = 0;  // for kStatus
  bool operator==(const Outcome&) const = default;
};

// The words a downloads list shows for an outcome (code page 936):
// "完成", or "失败：" and the reason: "失败：服务器返回 404", "失败：连接中断",
// "失败：超时", "失败：磁盘已满", "失败：已取消", ...
Text OutcomeText(const Outcome& outcome);

struct SaveQuestion {
  std::string proposedName;  // UTF-8, sanitised
  std::string address;       // the final address
  std::string contentType;
  std::optional<std::uint64_t> total;  // Content-Length
};

struct SaveChoice {
  bool accepted = false;
  std::string path;         // the file to write (local encoding)
  bool mayReplace = false;  // the user agreed to replace an existing file
};

struct DownloadStart {
  std::string fileName;  // UTF-8, what the list shows
  std::string path;      // empty for a load that failed before it was saved
  std::optional<std::uint64_t> total;
};

class Client {
 public:
  virtual ~Client() = default;
  // Asks where to save a file. `answer` may be called once, from any thread,
  // now or later; calling it after the load has gone does nothing.
  virtual void AskSave(const SaveQuestion& question,
                       std::function<void(const SaveChoice&)> answer) = 0;
  virtual void Started(DownloadId id, const DownloadStart& start) = 0;
  virtual void Progress(DownloadId id, std::uint64_t received) = 0;
  virtual void Finished(DownloadId id, std::uint64_t received, const Outcome& outcome) = 0;
};

class Engine {
 public:
  enum Mode { kBackground, kReported };

  // The client must outlive the engine.
  explicit Engine(Client& client);
  ~Engine();  // Shutdown()
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // Starts loading address (code page 936 bytes; surrounding spaces are
  // ignored) and returns at once. Does nothing after Shutdown.
  void Navigate(const std::string& address, Mode mode);
  // Stops a download; it finishes as kCancelled. Unknown ids do nothing.
  void Cancel(DownloadId id);
  // Stops every load, removes their .part files, joins their threads.
  // Downloads that were running finish as kCancelled.
  void Shutdown();

  // Loads whose threads have not ended yet.
  int ActiveLoads() const;

  struct State;  // private to engine.cpp

 private:
  std::shared_ptr<State> state_;
};

}  // namespace qelvaro::gui::browser
