#include "platform/gui/browser/part_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <utility>

namespace qelvaro::gui::browser {
namespace {

constexpr std::size_t kNameMax = 255;
// The file is handed to the disk in steps of this size while it is written,
// so that the final flush has little left to do.
constexpr std::uint64_t kWriteBackStep = std::uint64_t{8} << 20;

std::atomic<WriteFunction> g_write{nullptr};

ssize_t WriteSome(int fd, const void* data, std::size_t n) {
  if (WriteFunction w = g_write.load(std::memory_order_relaxed)) return w(fd, data, n);
  return ::write(fd, data, n);
}

FileError ErrorOf(int error) {
  return error == ENOSPC || error == EDQUOT ? FileError::kDiskFull : FileError::kCannotWrite;
}

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

void SyncDirectory(const std::string& path) {
  const int dir = ::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return;
  ::fsync(dir);
  ::close(dir);
}

// Renames without ever replacing an existing file.
int RenameNoReplace(const char* from, const char* to) {
  if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  // A file system without the flag: a hard link fails when `to` exists.
  if (::link(from, to) != 0) return -1;
  ::unlink(from);
  return 0;
}

}  // namespace

std::string PartPathFor(const std::string& target) {
  const std::size_t slash = target.rfind('/');
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  std::string path = target;
  if (target.size() - nameStart + 5 > kNameMax) path.resize(nameStart + kNameMax - 5);
  return path + ".part";
}

PartFile PartFile::Create(const std::string& target, bool mayReplace, FileError* error) {
  PartFile file;
  *error = FileError::kCannotWrite;
  if (target.empty() || target.back() == '/') return file;
  struct stat st {};
  if (!mayReplace && ::lstat(target.c_str(), &st) == 0) {
    *error = FileError::kExists;
    return file;
  }
  const std::string part = PartPathFor(target);
  for (int attempt = 0; attempt < 4; ++attempt) {
    const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) {
      *error = ErrorOf(errno);
      return file;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd);
      *error = errno == EWOULDBLOCK ? FileError::kInUse : FileError::kCannotWrite;
      return file;
    }
    // The name may have been renamed or removed by the download that held it
    // before the lock was ours: then this is not the file of that name.
    struct stat held {};
    struct stat named {};
    if (::fstat(fd, &held) != 0) {
      ::close(fd);
      return file;
    }
    if (::lstat(part.c_str(), &named) != 0 || named.st_ino != held.st_ino ||
        named.st_dev != held.st_dev) {
      ::close(fd);
      continue;
    }
    if (!S_ISREG(held.st_mode) || ::ftruncate(fd, 0) != 0) {
      ::close(fd);
      return file;
    }
    file.fd_ = fd;
    file.target_ = target;
    file.part_ = part;
    file.mayReplace_ = mayReplace;
    *error = FileError::kNone;
    return file;
  }
  return file;
}

PartFile::PartFile(PartFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      target_(std::move(other.target_)),
      part_(std::move(other.part_)),
      mayReplace_(other.mayReplace_),
      written_(other.written_),
      flushedTo_(other.flushedTo_) {}

PartFile& PartFile::operator=(PartFile&& other) noexcept {
  if (this != &other) {
    Discard();
    fd_ = std::exchange(other.fd_, -1);
    target_ = std::move(other.target_);
    part_ = std::move(other.part_);
    mayReplace_ = other.mayReplace_;
    written_ = other.written_;
    flushedTo_ = other.flushedTo_;
  }
  return *this;
}

PartFile::~PartFile() { Discard(); }

FileError PartFile::Write(const char* data, std::size_t n) {
  if (fd_ < 0) return FileError::kCannotWrite;
  while (n > 0) {
    const ssize_t w = WriteSome(fd_, data, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      const FileError error = w < 0 ? ErrorOf(errno) : FileError::kCannotWrite;
      Discard();
      return error;
    }
    data += w;
    n -= static_cast<std::size_t>(w);
    written_ += static_cast<std::uint64_t>(w);
  }
  if (written_ - flushedTo_ >= kWriteBackStep) {
    // Starts the write-back of what is written so far; does not wait for it.
    ::sync_file_range(fd_, static_cast<off_t>(flushedTo_), static_cast<off_t>(written_ - flushedTo_),
                      SYNC_FILE_RANGE_WRITE);
    flushedTo_ = written_;
  }
  return FileError::kNone;
}

FileError PartFile::Commit() {
  if (fd_ < 0) return FileError::kCannotWrite;
  if (::fsync(fd_) != 0) {
    const FileError error = ErrorOf(errno);
    Discard();
    return error;
  }
  // Renamed while the lock is still held, so that no other download takes
  // the name over in between.
  const int renamed = mayReplace_ ? ::rename(part_.c_str(), target_.c_str())
                                  : RenameNoReplace(part_.c_str(), target_.c_str());
  if (renamed != 0) {
    const FileError error = errno == EEXIST ? FileError::kExists : ErrorOf(errno);
    Discard();
    return error;
  }
  Close();
  SyncDirectory(target_);
  return FileError::kNone;
}

void PartFile::Discard() {
  if (fd_ < 0) return;
  ::unlink(part_.c_str());
  Close();
}

void PartFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

WriteFunction SetWriteFunctionForTesting(WriteFunction write) { return g_write.exchange(write); }

}  // namespace qelvaro::gui::browser
