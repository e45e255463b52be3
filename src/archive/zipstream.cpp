#include "archive/zipstream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "archive/zipexceptions.h"

namespace {

[[noreturn]] void ThrowErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

int64_t THugeStream::Seek(int64_t offset, int origin) {
  int64_t base;
  switch (origin) {
    case 0:
      base = 0;
      break;
    case 1:
      base = pos_;
      break;
    case 2:
      base = Size();
      break;
    default:
      throw EArcZipException("Invalid seek origin (" + std::to_string(origin) + ")");
  }
  if ((offset < 0 && base < -offset) || (offset > 0 && base > INT64_MAX - offset))
    throw EArcZipException("\nSeek error");
  pos_ = base + offset;
  return pos_;
}

size_t THugeStream::Read(void* buffer, size_t n) {
  size_t got = ReadAt(pos_, buffer, n);
  pos_ += static_cast<int64_t>(got);
  return got;
}

size_t THugeStream::Write(const void* buffer, size_t n) {
  size_t put = WriteAt(pos_, buffer, n);
  pos_ += static_cast<int64_t>(put);
  return put;
}

void THugeStream::ReadExactAt(int64_t pos, void* buffer, size_t n) {
  if (pos < 0 || ReadAt(pos, buffer, n) != n) throw EFatalUnzipError();
}

TFileStream::TFileStream(const std::string& path, TOpenMode mode) : path_(path) {
  int flags = O_CLOEXEC;
  switch (mode) {
    case omRead:
      flags |= O_RDONLY;
      break;
    case omReadWrite:
      flags |= O_RDWR;
      break;
    case omCreate:
      flags |= O_RDWR | O_CREAT | O_TRUNC;
      break;
  }
  // A FIFO opened for reading would wait for a writer: it is opened without waiting, and
  // anything but a regular file is refused for reading (a device or FIFO is not an archive).
  if (mode == omRead) flags |= O_NONBLOCK;
  fd_ = ::open(path.c_str(), flags, 0666);
  if (fd_ < 0) ThrowErrno(path);
  struct stat st;
  if (mode == omRead && (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode))) {
    ::close(fd_);
    fd_ = -1;
    throw std::system_error(EINVAL, std::generic_category(), path + ": not a regular file");
  }
}

TFileStream::~TFileStream() {
  if (fd_ >= 0) ::close(fd_);
}

int64_t TFileStream::Size() {
  struct stat st;
  if (::fstat(fd_, &st) != 0) ThrowErrno(path_);
  return st.st_size;
}

size_t TFileStream::ReadAt(int64_t pos, void* buffer, size_t n) {
  size_t done = 0;
  auto* p = static_cast<char*>(buffer);
  while (done < n) {
    ssize_t r = ::pread(fd_, p + done, n - done, pos + static_cast<int64_t>(done));
    if (r < 0) {
      if (errno == EINTR) continue;
      ThrowErrno(path_);
    }
    if (r == 0) break;
    done += static_cast<size_t>(r);
  }
  return done;
}

size_t TFileStream::WriteAt(int64_t pos, const void* buffer, size_t n) {
  size_t done = 0;
  auto* p = static_cast<const char*>(buffer);
  while (done < n) {
    ssize_t r = ::pwrite(fd_, p + done, n - done, pos + static_cast<int64_t>(done));
    if (r < 0) {
      if (errno == EINTR) continue;
      if (errno == ENOSPC || errno == EFBIG || errno == EDQUOT) break;
      ThrowErrno(path_);
    }
    if (r == 0) break;
    done += static_cast<size_t>(r);
  }
  return done;
}

void TFileStream::SetSize(int64_t size) {
  if (::ftruncate(fd_, size) != 0) ThrowErrno(path_);
}

int64_t TFileStream::ModTimeNs() {
  struct stat st;
  if (::fstat(fd_, &st) != 0) return -1;
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

void TFileStream::Flush() {
  if (::fsync(fd_) != 0) ThrowErrno(path_);
}

TMemoryStream::TMemoryStream(const void* bytes, size_t n)
    : data_(static_cast<const uint8_t*>(bytes), static_cast<const uint8_t*>(bytes) + n) {}

size_t TMemoryStream::ReadAt(int64_t pos, void* buffer, size_t n) {
  if (pos < 0 || pos >= Size()) return 0;
  size_t avail = data_.size() - static_cast<size_t>(pos);
  size_t k = std::min(n, avail);
  if (k) std::memcpy(buffer, data_.data() + pos, k);
  return k;
}

size_t TMemoryStream::WriteAt(int64_t pos, const void* buffer, size_t n) {
  if (pos < 0) return 0;
  size_t end = static_cast<size_t>(pos) + n;
  if (end > data_.size()) data_.resize(end);
  if (n) std::memcpy(data_.data() + pos, buffer, n);
  return n;
}

void TMemoryStream::SetSize(int64_t size) {
  data_.resize(static_cast<size_t>(size));
}

int64_t FileModTimeNs(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}
