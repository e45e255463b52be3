#include "platform/atomicfile.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <system_error>
#include <utility>
#include <vector>

namespace {

int MakeTemp(std::string& tmpl) {
  return ::mkostemp(tmpl.data(), O_CLOEXEC);
}

// Writes all of data to fd; returns 0 or the error (ENOSPC for a write that makes no progress).
int WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return ENOSPC;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

}  // namespace

std::string TempTemplateBeside(const std::string& target, const std::string& infix) {
  size_t slash = target.rfind('/');
  std::string dir = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  return dir + "." + base + infix + "XXXXXX";
}

mode_t CurrentUmask() {
  unsigned mask = 022;
  if (FILE* f = std::fopen("/proc/self/status", "re")) {
    char line[256];
    while (std::fgets(line, sizeof line, f))
      if (std::sscanf(line, "Umask: %o", &mask) == 1) break;
    std::fclose(f);
  }
  return static_cast<mode_t>(mask);
}

mode_t ModeForReplacing(const std::string& target) {
  struct stat st;
  if (::stat(target.c_str(), &st) == 0) return st.st_mode & 07777;
  return 0666 & ~CurrentUmask();
}

int SyncFolderChecked(const std::string& path) {
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  // A folder that may be written but not read cannot be opened to be flushed.
  if (fd < 0) return errno == EACCES ? 0 : errno;
  int err = ::fsync(fd) == 0 ? 0 : errno;
  ::close(fd);
  // File systems that have nothing to flush for a folder say so with EINVAL.
  return err == EINVAL || err == ENOTSUP ? 0 : err;
}

void SyncFolderOf(const std::string& path) {
  (void)SyncFolderChecked(path);
}

TAtomicFile::TAtomicFile(std::string target, const std::string& infix)
    : TAtomicFile(target, TempTemplateBeside(target, infix), infix) {}

TAtomicFile::TAtomicFile(std::string target, std::string tempTemplate, std::string infix)
    : target_(std::move(target)), temp_(std::move(tempTemplate)), infix_(std::move(infix)) {
  fd_ = MakeTemp(temp_);
  if (fd_ < 0) {
    temp_.clear();
    Fail("cannot create a temporary file beside", errno);
  }
}

TAtomicFile::~TAtomicFile() {
  Discard();
}

void TAtomicFile::Discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!committed_ && !temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
}

void TAtomicFile::Fail(const char* what, int err) const {
  throw std::system_error(err, std::generic_category(), std::string(what) + " " + target_);
}

void TAtomicFile::Write(const void* data, size_t size) {
  if (int err = WriteAll(fd_, static_cast<const char*>(data), size)) Fail("cannot write", err);
}

void TAtomicFile::SetMode(mode_t mode) {
  ::fchmod(fd_, mode);
}

void TAtomicFile::Commit() {
  if (::fsync(fd_) != 0) Fail("cannot flush", errno);
  int rc = ::close(fd_);
  fd_ = -1;
  if (rc != 0) Fail("cannot close", errno);
  if (::rename(temp_.c_str(), target_.c_str()) != 0) {
    if (errno != EXDEV) Fail("cannot replace", errno);
    CopyBesideAndRename();
  }
  committed_ = true;
  // The rename is only durable once the folder is on the medium: a failure there fails the
  // write (the caller must not go on to delete what the new file holds).
  if (int err = SyncFolderChecked(target_)) Fail("cannot flush the folder of", err);
}

// The temporary lives on another file system: its content goes into a second temporary beside
// the target, which is flushed and renamed; the first one is removed by the destructor.
void TAtomicFile::CopyBesideAndRename() {
  int in = ::open(temp_.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) Fail("cannot replace", errno);
  std::string beside = TempTemplateBeside(target_, infix_);
  int out = MakeTemp(beside);
  if (out < 0) {
    int err = errno;
    ::close(in);
    Fail("cannot create a temporary file beside", err);
  }
  int err = 0;
  const char* step = "cannot write";
  std::vector<char> buf(1 << 20);
  while (err == 0) {
    ssize_t r = ::read(in, buf.data(), buf.size());
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) err = errno;
    if (r <= 0) break;
    err = WriteAll(out, buf.data(), static_cast<size_t>(r));
  }
  struct stat st;
  if (err == 0 && ::fstat(in, &st) == 0) ::fchmod(out, st.st_mode & 07777);
  if (err == 0 && ::fsync(out) != 0) {
    err = errno;
    step = "cannot flush";
  }
  ::close(in);
  if (::close(out) != 0 && err == 0) {
    err = errno;
    step = "cannot close";
  }
  if (err == 0 && ::rename(beside.c_str(), target_.c_str()) != 0) {
    err = errno;
    step = "cannot replace";
  }
  if (err != 0) {
    ::unlink(beside.c_str());
    Fail(step, err);
  }
  ::unlink(temp_.c_str());
  temp_.clear();
}
