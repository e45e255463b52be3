// An advisory lock held by whoever rewrites an archive, so that two writers (two runs, a run and
// the command-line tool, two users on a shared folder) never both copy the same archive and
// rename their copies over it, one losing the other's change. The lock is a flock on a small
// file beside the archive; the holder removes that file when it lets go, and a taker checks that
// the file it locked is still the one under the name (the previous holder may have removed it
// meanwhile). A killed holder's lock ends with its process; its file is taken over by the next
// writer. Readers take no lock: they see the old archive or the new one, never a mix.
#pragma once

#include <string>

class TArchiveLock {
 public:
  enum class TResult {
    Held,        // the lock is ours
    Busy,        // another process holds it
    Unavailable  // no lock can be made here (read-only folder, no flock on this file system)
  };

  TArchiveLock() = default;
  ~TArchiveLock();
  TArchiveLock(const TArchiveLock&) = delete;
  TArchiveLock& operator=(const TArchiveLock&) = delete;

  // One attempt at the lock on the file lockPath, without waiting.
  TResult TryLock(const std::string& lockPath);
  // Lets go of the lock (removing its file); nothing when not held.
  void Release();
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
  std::string path_;
};
