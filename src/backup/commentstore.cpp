#include "backup/commentstore.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "archive/arcunzip.h"
#include "archive/zipexceptions.h"

namespace {

struct TFd {
  int fd = -1;
  ~TFd() {
    if (fd >= 0) ::close(fd);
  }
};

bool WriteAll(int fd, const char* p, size_t n, off_t pos) {
  while (n > 0) {
    const ssize_t w = ::pwrite(fd, p, n, pos);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
    pos += w;
  }
  return true;
}

}  // namespace

void WriteEndRecordComment(TArcUnZip& zip, const std::string& comment) {
  if (comment.size() > 0xFFFF) throw EArcZipException("Comment too long for the end record");
  const std::string& name = zip.ZipName();
  const TEndCentral& ec = zip.EndCentral();
  const std::string failure = "Could not write the comment of " + name;
  TFd f;
  f.fd = ::open(name.c_str(), O_RDWR | O_CLOEXEC);
  if (f.fd < 0) throw EArcZipException(failure + ": " + std::strerror(errno));
  // The end record must be where the engine read it.
  char sig[4];
  const off_t pos = static_cast<off_t>(ec.EndCentralPos);
  if (::pread(f.fd, sig, 4, pos) != 4 || std::memcmp(sig, "PK\x05\x06", 4) != 0)
    throw EArcZipException(failure + ": the archive has changed since it was read");
  const uint16_t len = static_cast<uint16_t>(comment.size());
  const char lenBytes[2] = {static_cast<char>(len & 0xFF), static_cast<char>(len >> 8)};
  // Comment, length, then the file's end: everything before the comment stays as it was.
  if (!WriteAll(f.fd, comment.data(), comment.size(), pos + 22) ||
      !WriteAll(f.fd, lenBytes, 2, pos + 20) ||
      ::ftruncate(f.fd, pos + 22 + static_cast<off_t>(comment.size())) != 0 || ::fsync(f.fd) != 0)
    throw EArcZipException(failure + ": " + std::strerror(errno));
  zip.SetArchiveComment(comment);
}
