#include "disc/sessionstream.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <vector>

#include "disc/discburner.h"
#include "platform/atomicfile.h"

namespace {
constexpr uint32_t kSector = 2048;
}

TSessionStream::TSessionStream(const TDiscBurner& burner) : burner_(burner) {
  total_ = burner.ImageSize();
  metaSectors_ = burner.MetaStream().size() / kSector;
  if (!burner.ImageBuilt()) Fail("IMAGE NOT BUILT");
}

TSessionStream::~TSessionStream() {
  if (fd_ >= 0) ::close(fd_);
}

void TSessionStream::Fail(const std::string& text) {
  failed_ = true;
  error_ = text;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool TSessionStream::OpenNextFile() {
  const auto& files = burner_.Entries();
  while (nextFile_ < files.size()) {
    const TFEntry* f = files[nextFile_++];
    if (f->Imported || f->DataSize == 0) continue;
    path_ = f->SourcePath;
    left_ = f->DataSize;
    fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
      openFailed_ = true;
      Fail((errno == ENOENT ? "FILE NOT FOUND: " : "CANNOT OPEN FILE: ") + path_);
      return false;
    }
    return true;
  }
  return false;
}

uint32_t TSessionStream::Read(uint8_t* buffer, uint32_t maxSectors) {
  if (failed_) return 0;
  uint32_t got = 0;
  while (got < maxSectors && done_ < total_) {
    uint8_t* out = buffer + size_t{got} * kSector;
    const uint32_t room = maxSectors - got;
    if (done_ < metaSectors_) {
      const uint64_t n = std::min<uint64_t>(room, metaSectors_ - done_);
      std::memcpy(out, burner_.MetaStream().data() + done_ * kSector, n * kSector);
      got += static_cast<uint32_t>(n);
      done_ += n;
      continue;
    }
    if (fd_ < 0 && !OpenNextFile()) {
      if (failed_) return 0;
      // All file data is out: zeros up to the end of the session.
      const uint64_t n = std::min<uint64_t>(room, total_ - done_);
      std::memset(out, 0, n * kSector);
      got += static_cast<uint32_t>(n);
      done_ += n;
      continue;
    }
    // Whole sectors of the open file, the last one padded with zeros.
    const uint64_t want = std::min<uint64_t>(uint64_t{room} * kSector, left_);
    size_t have = 0;
    while (have < want) {
      const ssize_t r = ::read(fd_, out + have, want - have);
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) {
        Fail("CANNOT READ FILE: " + path_);
        return 0;
      }
      if (r == 0) {
        Fail("FILE IS SHORTER THAN WHEN IT WAS ADDED: " + path_);
        return 0;
      }
      have += static_cast<size_t>(r);
    }
    left_ -= static_cast<int64_t>(want);
    const uint32_t sectors = static_cast<uint32_t>((want + kSector - 1) / kSector);
    std::memset(out + want, 0, size_t{sectors} * kSector - want);
    got += sectors;
    done_ += sectors;
    if (left_ == 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  return got;
}

bool WriteSessionFile(TDiscBurner& burner, const std::string& path, std::string& error,
                      const std::function<bool(uint64_t done, uint64_t total)>& progress) {
  // A stale layout, or metadata a writer has already taken, is made again.
  if (!burner.ImageBuilt() || burner.MetaStream().empty()) {
    if (!burner.PrepareImage()) {
      error = "IMAGE TOO LARGE FOR ISO 9660";
      return false;
    }
    burner.WriteImageMetadata();
  }
  try {
    TAtomicFile out(path);
    out.SetMode(ModeForReplacing(path));
    TSessionStream stream(burner);
    constexpr uint32_t kBlock = 512;  // 1 MiB
    std::vector<uint8_t> buffer(size_t{kBlock} * kSector);
    for (;;) {
      const uint32_t n = stream.Read(buffer.data(), kBlock);
      if (n == 0) break;
      out.Write(buffer.data(), size_t{n} * kSector);
      if (progress && !progress(stream.SectorsRead(), stream.TotalSectors())) {
        error = "OPERATION ABORTED BY USER";
        return false;
      }
    }
    if (!stream.Error().empty()) {
      error = stream.Error();
      return false;
    }
    out.Commit();
  } catch (const std::system_error& e) {
    error = e.what();
    return false;
  }
  return true;
}
