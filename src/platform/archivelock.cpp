#include "platform/archivelock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

TArchiveLock::~TArchiveLock() {
  Release();
}

TArchiveLock::TResult TArchiveLock::TryLock(const std::string& lockPath) {
  if (fd_ >= 0) return TResult::Held;
  // A few rounds: each time the file locked was removed by its holder in between, try the new
  // one.
  for (int round = 0; round < 16; ++round) {
    // Read-only is enough for flock, so another user who may read the file can lock it too.
    int fd = ::open(lockPath.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) return TResult::Unavailable;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int err = errno;
      ::close(fd);
      return err == EWOULDBLOCK ? TResult::Busy : TResult::Unavailable;
    }
    struct stat held, named;
    if (::fstat(fd, &held) == 0 && ::lstat(lockPath.c_str(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
      fd_ = fd;
      path_ = lockPath;
      return TResult::Held;
    }
    ::close(fd);
  }
  return TResult::Busy;
}

void TArchiveLock::Release() {
  if (fd_ < 0) return;
  // Removed while still held, and only when the name is still this file.
  struct stat held, named;
  if (::fstat(fd_, &held) == 0 && ::lstat(path_.c_str(), &named) == 0 &&
      held.st_dev == named.st_dev && held.st_ino == named.st_ino)
    ::unlink(path_.c_str());
  ::close(fd_);
  fd_ = -1;
  path_.clear();
}
