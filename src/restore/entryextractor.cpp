#include "restore/entryextractor.h"

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <QDir>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <system_error>
#include <vector>

#include "archive/arcunzip.h"
#include "archive/zipcrypt.h"
#include "archive/zipexceptions.h"

namespace restore {

// ---- private folder ------------------------------------------------------------------------

namespace {

bool IsOurPrivateFolder(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
         (st.st_mode & 0777) == 0700;
}

int RemoveOne(const char* path, const struct stat*, int flag, struct FTW*) {
  if (flag == FTW_DP)
    ::rmdir(path);
  else
    ::unlink(path);
  return 0;
}

}  // namespace

TPrivateFolder::TPrivateFolder(std::string prefix) : prefix_(std::move(prefix)) {}

TPrivateFolder::~TPrivateFolder() {
  // Depth first, never following links.
  if (!path_.empty() && IsOurPrivateFolder(path_))
    ::nftw(path_.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
}

const std::string& TPrivateFolder::Path() {
  if (!path_.empty() && IsOurPrivateFolder(path_)) return path_;
  std::string templ = QDir::tempPath().toStdString() + "/" + prefix_ + "XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  if (!::mkdtemp(buf.data())) throw std::system_error(errno, std::generic_category(), "mkdtemp");
  path_ = buf.data();
  return path_;
}

// ---- extraction ----------------------------------------------------------------------------

namespace {

// A file name that stays inside the destination folder.
bool SafeName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

// Writes all of data to fd.
bool WriteAll(int fd, const uint8_t* data, size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, data, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// Decodes one entry's data into fd; true when the CRC matches.
bool DecodeEntry(THugeStream& s, const TZipHeaderInfo& h, const std::string& password, int fd) {
  uint8_t local[kLocalHeaderSize];
  const auto off = static_cast<int64_t>(h.LocalHeaderOffset());
  if (off < 0 || s.ReadAt(off, local, sizeof local) != sizeof local) return false;
  if (GetU32(local) != zipsig::kLocalHeader) return false;
  int64_t pos =
      off + static_cast<int64_t>(kLocalHeaderSize) + GetU16(local + 26) + GetU16(local + 28);
  uint64_t remaining = h.CompressedSize();

  std::unique_ptr<TZipCrypt> crypt;
  if (h.IsEncrypted()) {
    if (remaining < 12) return false;
    uint8_t head[12];
    if (s.ReadAt(pos, head, sizeof head) != sizeof head) return false;
    crypt = std::make_unique<TZipCrypt>(password);
    crypt->Decrypt(head, sizeof head);
    const uint8_t check = (h.Flag & 0x0008) ? static_cast<uint8_t>((h.ModifDateTime >> 8) & 0xFF)
                                            : static_cast<uint8_t>(h.CRC32 >> 24);
    if (head[11] != check) return false;  // wrong password
    pos += 12;
    remaining -= 12;
  }
  if (h.ComprMethod != 0 && h.ComprMethod != 8) return false;

  z_stream z{};
  const bool inflating = h.ComprMethod == 8;
  if (inflating && inflateInit2(&z, -MAX_WBITS) != Z_OK) return false;
  struct ZEnd {
    z_stream* z;
    bool on;
    ~ZEnd() {
      if (on) inflateEnd(z);
    }
  } zend{&z, inflating};

  std::vector<uint8_t> in(1 << 16), out(1 << 16);
  uint32_t crc = 0;
  uint64_t written = 0;
  bool streamEnd = !inflating;
  while (remaining > 0) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(remaining, in.size()));
    if (s.ReadAt(pos, in.data(), n) != n) return false;
    pos += static_cast<int64_t>(n);
    remaining -= n;
    if (crypt) crypt->Decrypt(in.data(), n);
    if (!inflating) {
      crc = ZipCrc32(crc, in.data(), n);
      written += n;
      if (!WriteAll(fd, in.data(), n)) return false;
      continue;
    }
    z.next_in = in.data();
    z.avail_in = static_cast<uInt>(n);
    while (z.avail_in > 0 && !streamEnd) {
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      const int r = inflate(&z, Z_NO_FLUSH);
      if (r != Z_OK && r != Z_STREAM_END) return false;
      const size_t got = out.size() - z.avail_out;
      crc = ZipCrc32(crc, out.data(), got);
      written += got;
      if (!WriteAll(fd, out.data(), got)) return false;
      if (r == Z_STREAM_END) streamEnd = true;
    }
  }
  return streamEnd && crc == h.CRC32 && written == h.UncompressedSize();
}

}  // namespace

int TEntryExtractor::ExtractSelected(TArcUnZip& zip) {
  if (zip.MultiZipInfo.MultiMode != TMultiMode::mmNone || zip.ZipName().empty()) return 0;
  const std::string dest = zip.DestDir();
  if (!DirectoryExists(dest)) return 0;
  std::unique_ptr<TFileStream> stream;
  int count = 0;
  for (int i = 0; i < zip.EntryCount(); ++i) {
    if (!zip.EntrySelected(i)) continue;
    const TZipHeaderInfo& h = zip.EntryHeader(i);
    if (!SafeName(h.FileName)) continue;
    const std::string target = dest + "/" + h.FileName;
    struct stat st;
    if (zip.OverwriteMode != TUZOverwriteMode::Always && ::lstat(target.c_str(), &st) == 0)
      continue;
    if (!stream) stream = std::make_unique<TFileStream>(zip.ZipName(), TFileStream::omRead);
    std::string tmpl = dest + "/.arcavo-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    const int fd = ::mkstemp(buf.data());
    if (fd < 0) continue;
    bool ok = DecodeEntry(*stream, h, zip.Password, fd);
    ok = ::close(fd) == 0 && ok;
    if (ok) {
      // The entry's time as the file's modification time.
      const std::time_t t = zip.EntryDateTime(i);
      const struct timespec times[2] = {{t, 0}, {t, 0}};
      ::utimensat(AT_FDCWD, buf.data(), times, 0);
      // rename() replaces whatever is at the target, a link included, without following it.
      ok = ::rename(buf.data(), target.c_str()) == 0;
    }
    if (!ok) {
      ::unlink(buf.data());
      continue;
    }
    ++count;
  }
  return count;
}

}  // namespace restore
