// The file a download is written to: NAME.part beside the chosen NAME, every
// write checked, flushed to the disk and renamed to NAME only when the whole
// body is there; removed on any failure.
//
// Owns: creating, writing, committing and removing the .part file. Does not
// own: what is written or when the body is whole (the engine decides,
// platform/gui/browser/engine.h).
//
// The rules:
//   - An existing NAME is replaced only when the caller says the user agreed
//     (mayReplace); otherwise Create fails with kExists, and so does Commit
//     should NAME have appeared meanwhile (the rename never replaces it).
//   - The .part file is locked while it is written: a second download to the
//     same NAME (in this process or another) fails with kInUse. A .part file
//     nobody holds (left by a run that ended abruptly) is taken over.
//   - Nothing but NAME.part and, on success, NAME is ever touched.
//
// Example:
//   FileError error;
//   PartFile file = PartFile::Create("/home/u/Downloads/a.mp3", false, &error);
//   if (!file.IsOpen()) return error;          // kExists, kInUse, ...
//   if (file.Write(data, n) != FileError::kNone) return ...;  // .part removed
//   return file.Commit();                      // a.mp3 is there, or nothing
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace qelvaro::gui::browser {

enum class FileError {
  kNone,
  kDiskFull,     // no space left (or the quota is used up)
  kExists,       // NAME exists and may not be replaced
  kInUse,        // another download writes NAME.part now
  kCannotWrite,  // any other failure to create, write or rename
};

// The .part file's path for a target: target + ".part", its name cut so that
// it stays within the file-name limit of 255 bytes.
std::string PartPathFor(const std::string& target);

class PartFile {
 public:
  PartFile() = default;
  // Creates (or takes over) the .part file for target. Not open on failure,
  // with *error saying why; nothing is left behind then.
  static PartFile Create(const std::string& target, bool mayReplace, FileError* error);

  PartFile(PartFile&& other) noexcept;
  PartFile& operator=(PartFile&& other) noexcept;
  PartFile(const PartFile&) = delete;
  PartFile& operator=(const PartFile&) = delete;
  ~PartFile();  // Discard()

  bool IsOpen() const { return fd_ >= 0; }
  const std::string& target() const { return target_; }
  const std::string& partPath() const { return part_; }
  std::uint64_t size() const { return written_; }

  // Appends n bytes. On failure the .part file is removed and the object is
  // closed.
  FileError Write(const char* data, std::size_t n);
  // Flushes the file to the disk and renames it to the target. Closed
  // afterwards, successful or not; on failure nothing is left.
  FileError Commit();
  // Removes the .part file and closes. Does nothing when closed.
  void Discard();

 private:
  void Close();

  int fd_ = -1;
  std::string target_;
  std::string part_;
  bool mayReplace_ = false;
  std::uint64_t written_ = 0;
  std::uint64_t flushedTo_ = 0;  // written back to the disk up to here
};

// For tests: the write call PartFile uses (::write by default), so that a
// full disk can be played. nullptr restores ::write. Returns the previous one.
using WriteFunction = ssize_t (*)(int fd, const void* data, std::size_t n);
WriteFunction SetWriteFunctionForTesting(WriteFunction write);

}  // namespace qelvaro::gui::browser
