#include "platform/gui/browser/engine.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/gui/browser/naming.h"
#include "platform/gui/browser/part_file.h"
#include "platform/inet/inet.h"
#include "text/gbk_literal.h"

namespace qelvaro::gui::browser {

namespace inet = platform;

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kAgent[] = "Mozilla/5.0 (X11; Linux x86_64) Qelvaro/0.1";
constexpr char kRequestHeaders[] = "Accept: */*\r\n";
constexpr int kMaxRedirects = 10;
// What a page may take before the rest of it is left unread.
constexpr std::uint64_t kMaxPageBytes = std::uint64_t{8} << 20;
constexpr std::size_t kReadBytes = 256 * 1024;
constexpr auto kProgressEvery = std::chrono::milliseconds(100);
// A connection left waiting this long for the save dialog may have been
// given up by the server; a body that then fails at once is asked for again.
constexpr auto kLongWait = std::chrono::seconds(5);

// Closes a handle of the internet layer when it goes.
class Handle {
 public:
  explicit Handle(inet::HINTERNET h = nullptr) : h_(h) {}
  Handle(Handle&& other) noexcept : h_(std::exchange(other.h_, nullptr)) {}
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      Reset();
      h_ = std::exchange(other.h_, nullptr);
    }
    return *this;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { Reset(); }
  inet::HINTERNET get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }
  void Reset() {
    if (h_ != nullptr) inet::InternetCloseHandle(h_);
    h_ = nullptr;
  }

 private:
  inet::HINTERNET h_;
};

// Where an address leads, as the internet layer's calls take it.
struct Target {
  bool secure = false;
  std::string host;
  inet::INTERNET_PORT port = 0;
  std::string user, password;
  std::string object;  // path and query, no fragment
};

std::optional<Target> Crack(const std::string& url) {
  if (url.size() > 0xFFFF) return std::nullopt;
  std::string scheme(16, '\0'), host(url.size() + 1, '\0'), user(url.size() + 1, '\0'),
      password(url.size() + 1, '\0'), path(url.size() + 1, '\0'), extra(url.size() + 1, '\0');
  inet::URL_COMPONENTSA uc{};
  uc.dwStructSize = sizeof uc;
  auto ask = [](std::string& buffer, char** p, inet::DWORD* n) {
    *p = buffer.data();
    *n = static_cast<inet::DWORD>(buffer.size());
  };
  ask(scheme, &uc.lpszScheme, &uc.dwSchemeLength);
  ask(host, &uc.lpszHostName, &uc.dwHostNameLength);
  ask(user, &uc.lpszUserName, &uc.dwUserNameLength);
  ask(password, &uc.lpszPassword, &uc.dwPasswordLength);
  ask(path, &uc.lpszUrlPath, &uc.dwUrlPathLength);
  ask(extra, &uc.lpszExtraInfo, &uc.dwExtraInfoLength);
  if (!inet::InternetCrackUrlA(url.c_str(), static_cast<inet::DWORD>(url.size()), 0, &uc)) {
    return std::nullopt;
  }
  if (uc.nScheme != inet::INTERNET_SCHEME_HTTP && uc.nScheme != inet::INTERNET_SCHEME_HTTPS) {
    return std::nullopt;
  }
  Target t;
  t.secure = uc.nScheme == inet::INTERNET_SCHEME_HTTPS;
  t.host.assign(host.data(), uc.dwHostNameLength);
  if (t.host.empty()) return std::nullopt;
  t.port = uc.nPort;
  t.user.assign(user.data(), uc.dwUserNameLength);
  t.password.assign(password.data(), uc.dwPasswordLength);
  t.object.assign(path.data(), uc.dwUrlPathLength);
  t.object.append(extra.data(), uc.dwExtraInfoLength);
  t.object = t.object.substr(0, t.object.find('#'));
  return t;
}

std::string RawHeaders(inet::HINTERNET request) {
  std::string buffer(8192, '\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    inet::DWORD length = static_cast<inet::DWORD>(buffer.size());
    if (inet::HttpQueryInfoA(request, inet::HTTP_QUERY_RAW_HEADERS_CRLF, buffer.data(), &length,
                             nullptr)) {
      buffer.resize(length);
      return buffer;
    }
    if (length <= buffer.size()) break;
    buffer.assign(length, '\0');
  }
  return {};
}

int StatusOf(inet::HINTERNET request) {
  inet::DWORD status = 0;
  inet::DWORD length = sizeof status;
  if (!inet::HttpQueryInfoA(request, inet::HTTP_QUERY_STATUS_CODE | inet::HTTP_QUERY_FLAG_NUMBER,
                            &status, &length, nullptr)) {
    return 0;
  }
  return static_cast<int>(status);
}

Failure FailureOfError(inet::DWORD error) {
  switch (error) {
    case inet::ERROR_INTERNET_TIMEOUT:
      return Failure::kTimeout;
    case inet::ERROR_INTERNET_NAME_NOT_RESOLVED:
    case inet::ERROR_INTERNET_CANNOT_CONNECT:
      return Failure::kCannotConnect;
    case inet::ERROR_HTTP_INVALID_SERVER_RESPONSE:
      return Failure::kBadReply;
    case inet::ERROR_HTTP_REDIRECT_FAILED:
      return Failure::kRedirect;
    default:
      return Failure::kConnectionLost;
  }
}

Failure FailureOfFile(FileError error) {
  switch (error) {
    case FileError::kNone:
      return Failure::kNone;
    case FileError::kDiskFull:
      return Failure::kDiskFull;
    case FileError::kExists:
      return Failure::kExists;
    case FileError::kInUse:
      return Failure::kInUse;
    case FileError::kCannotWrite:
      break;
  }
  return Failure::kCannotWrite;
}

std::string_view TrimSpaces(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The save dialog's answer, shared with the callback the client holds, so
// that an answer after the load has gone lands somewhere harmless.
struct AnswerSlot {
  std::mutex mutex;
  std::condition_variable ready;
  std::optional<SaveChoice> choice;
};

struct Job {
  DownloadId id = 0;
  std::string address;
  Engine::Mode mode = Engine::kReported;
  std::thread thread;
  std::atomic<bool> done{false};
  std::atomic<bool> stop{false};  // superseded, cancelled or shut down
  std::shared_ptr<AnswerSlot> slot = std::make_shared<AnswerSlot>();

  std::mutex mutex;  // guards the two below
  inet::HINTERNET request = nullptr;  // the one in use, for Stop to close
  bool download = false;              // a file the user is asked about or gets

  // Ends the load promptly: its blocked call returns, its wait for an
  // answer ends.
  void Stop() {
    {
      std::lock_guard lock(mutex);
      stop = true;
      if (request != nullptr) inet::InternetCloseHandle(request);
      request = nullptr;
    }
    std::lock_guard lock(slot->mutex);
    slot->ready.notify_all();
  }
  // A new navigation drops a load that is not a download.
  void Supersede() {
    std::lock_guard lock(mutex);
    if (download) return;
    stop = true;
    if (request != nullptr) inet::InternetCloseHandle(request);
    request = nullptr;
  }
  // Makes the request the one Stop closes; false when the load is stopped.
  bool Use(inet::HINTERNET r) {
    std::lock_guard lock(mutex);
    if (stop) return false;
    request = r;
    return true;
  }
  void Release() {
    std::lock_guard lock(mutex);
    request = nullptr;
  }
  // From now on a new navigation leaves the load alone.
  bool BecomeDownload() {
    std::lock_guard lock(mutex);
    if (stop) return false;
    download = true;
    return true;
  }
};

}  // namespace

struct Engine::State {
  explicit State(Client& c) : client(c) {}

  Client& client;
  Handle root;
  mutable std::mutex mutex;
  std::vector<std::shared_ptr<Job>> jobs;
  bool shutDown = false;
  DownloadId nextId = 1;
};

namespace {

class Load {
 public:
  Load(Engine::State& state, Job& job) : state_(state), job_(job) {}
  void Run();

 private:
  // A load that fails before it became a download: a failed row, for a
  // reported load that nothing stopped.
  void ReportEarly(Outcome outcome) {
    if (job_.mode != Engine::kReported || job_.stop) return;
    state_.client.Started(job_.id, {ProposedFileName("", url_), "", std::nullopt});
    state_.client.Finished(job_.id, 0, outcome);
  }
  bool Send();
  void DropPage();
  void Save(const std::string& contentType, const std::string& disposition,
            std::optional<std::uint64_t> total);

  Engine::State& state_;
  Job& job_;
  std::string url_;
  Handle connection_;
  Handle request_;
};

// Opens and sends the request for url_; false (reported) when it fails.
bool Load::Send() {
  const std::optional<Target> target = Crack(url_);
  if (!target) {
    ReportEarly({Failure::kBadAddress});
    return false;
  }
  request_.Reset();
  connection_ = Handle(inet::InternetConnectA(
      state_.root.get(), target->host.c_str(), target->port,
      target->user.empty() ? nullptr : target->user.c_str(),
      target->password.empty() ? nullptr : target->password.c_str(), inet::INTERNET_SERVICE_HTTP,
      0, 0));
  inet::DWORD flags = inet::INTERNET_FLAG_RELOAD | inet::INTERNET_FLAG_NO_CACHE_WRITE |
                      inet::INTERNET_FLAG_NO_AUTO_REDIRECT;
  if (target->secure) flags |= inet::INTERNET_FLAG_SECURE;
  if (connection_) {
    request_ = Handle(inet::HttpOpenRequestA(connection_.get(), "GET", target->object.c_str(),
                                             "HTTP/1.1", nullptr, nullptr, flags, 0));
  }
  if (!request_) {
    ReportEarly({Failure::kCannotConnect});
    return false;
  }
  // Files of any size stream through; a page is cut by DropPage.
  const std::uint64_t noLimit = 0;
  inet::InternetSetOptionA(request_.get(), inet::INTERNET_OPTION_BODY_LIMIT, &noLimit,
                           sizeof noLimit);
  if (!job_.Use(request_.get())) return false;
  const bool sent = inet::HttpSendRequestA(request_.get(), kRequestHeaders,
                                           sizeof kRequestHeaders - 1, nullptr, 0) != 0;
  const inet::DWORD error = inet::GetLastError();
  job_.Release();
  if (!sent) {
    ReportEarly({FailureOfError(error)});
    return false;
  }
  return true;
}

void Load::Run() {
  url_ = std::string(TrimSpaces(job_.address));
  if (!state_.root) {
    ReportEarly({Failure::kCannotConnect});
    return;
  }
  for (int hop = 0;; ++hop) {
    if (!Send()) return;
    const int status = StatusOf(request_.get());
    const bool redirect =
        status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
    const std::optional<std::string> location =
        redirect ? HeaderValue(RawHeaders(request_.get()), "Location") : std::nullopt;
    if (!location || location->empty()) break;
    if (hop == kMaxRedirects) {
      ReportEarly({Failure::kRedirect});
      return;
    }
    const std::string next = ResolveAddress(url_, *location);
    if (next.empty()) {
      ReportEarly({Failure::kRedirect});
      return;
    }
    url_ = next;
  }

  const int status = StatusOf(request_.get());
  if (status >= 400) {
    ReportEarly({Failure::kStatus, status});
    return;
  }
  const std::string raw = RawHeaders(request_.get());
  const std::string contentType = HeaderValue(raw, "Content-Type").value_or("");
  const std::string disposition = HeaderValue(raw, "Content-Disposition").value_or("");
  if (IsPageAnswer(contentType, disposition)) {
    DropPage();
    return;
  }
  // A background load never asks anything.
  if (job_.mode != Engine::kReported) return;
  std::optional<std::uint64_t> total;
  if (const std::optional<std::string> length = HeaderValue(raw, "Content-Length")) {
    total = ParseContentLength(*length);
  }
  Save(contentType, disposition, total);
}

void Load::DropPage() {
  std::vector<char> buffer(64 * 1024);
  std::uint64_t seen = 0;
  if (!job_.Use(request_.get())) return;
  while (seen < kMaxPageBytes) {
    inet::DWORD got = 0;
    if (!inet::InternetReadFile(request_.get(), buffer.data(),
                                static_cast<inet::DWORD>(buffer.size()), &got) ||
        got == 0) {
      break;
    }
    seen += got;
  }
  job_.Release();
}

void Load::Save(const std::string& contentType, const std::string& disposition,
                std::optional<std::uint64_t> total) {
  if (!job_.BecomeDownload()) return;
  const std::string name = ProposedFileName(disposition, url_);

  // 1. Where to save: the load waits for the answer (or for the end).
  const Clock::time_point asked = Clock::now();
  std::shared_ptr<AnswerSlot> slot = job_.slot;
  state_.client.AskSave({name, url_, contentType, total}, [slot](const SaveChoice& choice) {
    std::lock_guard lock(slot->mutex);
    if (slot->choice) return;
    slot->choice = choice;
    slot->ready.notify_all();
  });
  SaveChoice choice;
  {
    std::unique_lock lock(slot->mutex);
    slot->ready.wait(lock, [&] { return slot->choice.has_value() || job_.stop.load(); });
    if (job_.stop || !slot->choice->accepted || slot->choice->path.empty()) return;
    choice = *slot->choice;
  }
  const bool waitedLong = Clock::now() - asked >= kLongWait;

  // 2. The file.
  const DownloadStart start{BaseName(choice.path), choice.path, total};
  FileError fileError = FileError::kNone;
  PartFile file = PartFile::Create(choice.path, choice.mayReplace, &fileError);
  state_.client.Started(job_.id, start);
  if (!file.IsOpen()) {
    state_.client.Finished(job_.id, 0, {FailureOfFile(fileError)});
    return;
  }

  // 3. The body.
  std::vector<char> buffer(kReadBytes);
  std::uint64_t received = 0;
  Clock::time_point lastReport{};  // the first bytes are reported at once
  bool askedAgain = false;
  Outcome outcome;
  if (!job_.Use(request_.get())) outcome = {Failure::kCancelled};
  while (outcome.failure == Failure::kNone) {
    inet::DWORD got = 0;
    if (!inet::InternetReadFile(request_.get(), buffer.data(),
                                static_cast<inet::DWORD>(buffer.size()), &got)) {
      const inet::DWORD error = inet::GetLastError();
      if (job_.stop) {
        outcome = {Failure::kCancelled};
      } else if (received == 0 && waitedLong && !askedAgain) {
        // The server gave up while the dialog was open: ask once more.
        askedAgain = true;
        const bool sent = inet::HttpSendRequestA(request_.get(), kRequestHeaders,
                                                 sizeof kRequestHeaders - 1, nullptr, 0) != 0;
        const int status = sent ? StatusOf(request_.get()) : 0;
        if (status < 200 || status >= 300) {
          outcome = status >= 400 ? Outcome{Failure::kStatus, status}
                                  : Outcome{FailureOfError(inet::GetLastError())};
        }
      } else {
        outcome = {FailureOfError(error)};
      }
      continue;
    }
    if (got == 0) break;  // the end of the body
    if (const FileError e = file.Write(buffer.data(), got); e != FileError::kNone) {
      outcome = {FailureOfFile(e)};
      break;
    }
    received += got;
    if (job_.stop) outcome = {Failure::kCancelled};
    const Clock::time_point now = Clock::now();
    if (now - lastReport >= kProgressEvery) {
      lastReport = now;
      state_.client.Progress(job_.id, received);
    }
  }
  job_.Release();
  request_.Reset();
  connection_.Reset();

  // 4. Whole, or nothing.
  if (outcome.failure == Failure::kNone && total && received != *total) {
    outcome = {Failure::kIncomplete};
  }
  if (outcome.failure == Failure::kNone && job_.stop) outcome = {Failure::kCancelled};
  if (outcome.failure == Failure::kNone) {
    outcome = {FailureOfFile(file.Commit())};
  } else {
    file.Discard();
  }
  state_.client.Finished(job_.id, received, outcome);
}

}  // namespace

Text OutcomeText(const Outcome& outcome) {
  auto failed = [](const Text& reason) {
    return Text::FromTrusted("失败："_gbk.str() + reason.str());
  };
  switch (outcome.failure) {
    case Failure::kNone:
      return "完成"_gbk;
    case Failure::kStatus:
      return failed(Text::FromTrusted("服务器返回 "_gbk.str() + std::to_string(outcome.status)));
    case Failure::kConnectionLost:
      return failed("连接中断"_gbk);
    case Failure::kTimeout:
      return failed("超时"_gbk);
    case Failure::kDiskFull:
      return failed("磁盘已满"_gbk);
    case Failure::kCancelled:
      return failed("已取消"_gbk);
    case Failure::kCannotConnect:
      return failed("无法连接服务器"_gbk);
    case Failure::kBadAddress:
      return failed("地址无效"_gbk);
    case Failure::kBadReply:
      return failed("服务器回答有误"_gbk);
    case Failure::kRedirect:
      return failed("重定向失败"_gbk);
    case Failure::kIncomplete:
      return failed("文件不完整"_gbk);
    case Failure::kCannotWrite:
      return failed("无法写入文件"_gbk);
    case Failure::kExists:
      return failed("文件已存在"_gbk);
    case Failure::kInUse:
      return failed("同名文件正在下载"_gbk);
  }
  return failed(Text());
}

Engine::Engine(Client& client) : state_(std::make_shared<State>(client)) {
  state_->root = Handle(inet::InternetOpenA(kAgent, inet::INTERNET_OPEN_TYPE_PRECONFIG, nullptr,
                                            nullptr, 0));
}

Engine::~Engine() { Shutdown(); }

void Engine::Navigate(const std::string& address, Mode mode) {
  std::vector<std::shared_ptr<Job>> finished;
  {
    std::lock_guard lock(state_->mutex);
    if (state_->shutDown) return;
    auto& jobs = state_->jobs;
    for (auto it = jobs.begin(); it != jobs.end();) {
      if ((*it)->done) {
        finished.push_back(std::move(*it));
        it = jobs.erase(it);
      } else {
        (*it)->Supersede();
        ++it;
      }
    }
    auto job = std::make_shared<Job>();
    job->id = state_->nextId++;
    job->address = address;
    job->mode = mode;
    std::shared_ptr<State> state = state_;
    job->thread = std::thread([state, raw = job.get()] {
      Load(*state, *raw).Run();
      raw->done = true;
    });
    jobs.push_back(std::move(job));
  }
  for (auto& job : finished) job->thread.join();
}

void Engine::Cancel(DownloadId id) {
  std::lock_guard lock(state_->mutex);
  for (auto& job : state_->jobs) {
    if (job->id == id) job->Stop();
  }
}

void Engine::Shutdown() {
  std::vector<std::shared_ptr<Job>> jobs;
  {
    std::lock_guard lock(state_->mutex);
    state_->shutDown = true;
    jobs = std::move(state_->jobs);
    state_->jobs.clear();
  }
  for (auto& job : jobs) job->Stop();
  for (auto& job : jobs) {
    if (job->thread.joinable()) job->thread.join();
  }
  std::lock_guard lock(state_->mutex);
  state_->root.Reset();
}

int Engine::ActiveLoads() const {
  std::lock_guard lock(state_->mutex);
  return static_cast<int>(std::count_if(state_->jobs.begin(), state_->jobs.end(),
                                        [](const auto& job) { return !job->done; }));
}

}  // namespace qelvaro::gui::browser
