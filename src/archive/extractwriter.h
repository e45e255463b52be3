// The disk side of extraction: where an extracted file may be written and how. Kept apart from
// the archive reading so that this security-critical part can be read, tested and fuzzed alone.
//
// Rules:
// - Folders below the trusted folder (the extraction folder the user chose) are opened one level
//   at a time with openat(O_NOFOLLOW | O_DIRECTORY): a symbolic link met on the way is never
//   followed by the kernel, so nothing is written outside the trusted folder whatever links an
//   archive's names or another process put there, before or during the extraction. With
//   followOwnLinks, links owned by the user or by root are followed, each step under the same
//   rule. A ".." level is refused.
// - A file is written into a new temporary (O_CREAT | O_EXCL | O_NOFOLLOW) in its opened folder
//   and renamed over its name only when the caller found the data good; otherwise the temporary
//   is removed. A symbolic link or hard link at the name is replaced, never written through.
#pragma once

#include <sys/types.h>

#include <ctime>
#include <string>

// An owned file descriptor, closed on destruction.
class TOwnedFd {
 public:
  explicit TOwnedFd(int fd = -1) : fd_(fd) {}
  ~TOwnedFd() { Reset(); }
  TOwnedFd(const TOwnedFd&) = delete;
  TOwnedFd& operator=(const TOwnedFd&) = delete;
  TOwnedFd(TOwnedFd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  TOwnedFd& operator=(TOwnedFd&& o) noexcept;
  int Get() const { return fd_; }
  void Reset();

 private:
  int fd_;
};

// Opens the folder path, creating missing levels when create is set. A path at or below trusted
// is walked level by level under the rules above; any other path (one the user named, or an
// absolute stored folder extracted without an extraction folder) is opened as it is. trusted "."
// stands for the current folder (relative paths). Returns an invalid descriptor on failure.
TOwnedFd OpenFolderBelow(const std::string& path, const std::string& trusted, bool create,
                         bool followOwnLinks);

// The folder and name a file is extracted to, with the folder open.
struct TExtractTarget {
  TOwnedFd Dir;
  std::string Folder;  // with its final "/", or "" for the current folder
  std::string Base;    // the name within Folder
  // Splits target and opens (creating) its folder; false when that fails or the name is empty.
  bool Open(const std::string& target, const std::string& trusted, bool followOwnLinks);
};

// The owner a restored file or folder is given.
struct TFileOwner {
  uid_t Uid = 0;
  gid_t Gid = 0;
};

// One file being written into an open folder.
class TExtractFile {
 public:
  TExtractFile() = default;
  // Removes the temporary unless Finish renamed it.
  ~TExtractFile() { Discard(); }
  TExtractFile(const TExtractFile&) = delete;
  TExtractFile& operator=(const TExtractFile&) = delete;

  // Creates a new temporary in the folder dirFd (kept open by the caller until Finish);
  // false when none could be made.
  bool Create(int dirFd);
  int Fd() const { return fd_.Get(); }
  // Gives the written file its owner (when given), mode and last-write time (when mtime is
  // given), flushes it when asked, and renames it over name in the folder. False when the rename
  // fails (the temporary is then removed).
  bool Finish(const std::string& name, mode_t mode, const std::time_t* mtime, bool flush,
              const TFileOwner* owner = nullptr);
  // Closes and removes the temporary.
  void Discard();

 private:
  TOwnedFd fd_;
  int dirFd_ = -1;
  std::string temp_;
};
