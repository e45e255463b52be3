// Fuzz target: archives read from files, as arczip l and t (and the window) open them, so that the
// volume set, the data put in front of an archive and the Zip64 locator are reached. Input: a
// mode byte, then each part but the last as a 16-bit little-endian length and its bytes; the last
// part is the rest. Mode: bits 0-1 give 1 + n parts (set.z01, set.z02, ... and set.zip); bit 2
// drops part 2 of a set of three or more (a missing middle part); bit 3 names a single file
// set.exe (a self-extractor); bit 4 reads as after "Attempt" (a file without an end record goes
// to the recovery scan).
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <system_error>
#include <vector>

#include "archive/arczip.h"
#include "archive/zipexceptions.h"
#include "archive/zipmedia.h"
#include "scratch.h"

namespace {

void WriteFile(const std::string& path, const uint8_t* p, size_t n) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) __builtin_trap();
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w <= 0) __builtin_trap();
    p += w;
    n -= static_cast<size_t>(w);
  }
  ::close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  const bool exe = (mode & 8) != 0;
  const int parts = exe ? 1 : 1 + (mode & 3);
  const bool dropSecond = (mode & 4) != 0 && parts >= 3;
  const std::string base = FuzzScratch() + "/set";
  static std::vector<std::string> written;
  for (const auto& name : written) ::unlink(name.c_str());
  written.clear();

  size_t pos = 1;
  for (int k = 1; k <= parts; ++k) {
    const bool last = k == parts;
    size_t len = size - pos;
    if (!last) {
      if (size - pos < 2) return 0;
      len = static_cast<size_t>(data[pos]) | static_cast<size_t>(data[pos + 1]) << 8;
      pos += 2;
      if (len > size - pos) return 0;
    }
    const std::string name =
        exe ? base + ".exe"
            : ProgramPartName(base, k,
                              last ? TSplitPartType::LastPart : TSplitPartType::MiddlePart);
    if (!(dropSecond && k == 2)) {
      WriteFile(name, data + pos, len);
      written.push_back(name);
    }
    pos += len;
  }

  TArcZip zip;
  zip.DoProcessMessages = false;
  zip.IncompleteZipMode =
      (mode & 16) ? TIncompleteZipMode::izAssumeBad : TIncompleteZipMode::izAssumeNotAZip;
  zip.Password = "secret";
  zip.OnFileNameForSplitPart = [](TArcUnZip::TSender, std::string& name, int part,
                                  TSplitPartType type) {
    name = ProgramPartName(name, part, type);
  };
  try {
    zip.SetZipName(written.empty() ? base + ".zip" : written.back());
    zip.ReadArchive();
    uint64_t total = 0;
    for (int i = 0; i < zip.EntryCount(); ++i) {
      total += zip.EntryHeader(i).UncompressedSize();
      (void)zip.EntryDiskNumber(i);
      (void)zip.EntryDateTime(i);
    }
    (void)total;
    (void)zip.ArchiveComment();
    (void)zip.NeedsZip64();
    const bool all = zip.TestArchive();
    // A damaged directory never tests good, and an entry lost with a part is never good.
    if (all && !zip.DirectoryDamage().empty()) __builtin_trap();
    for (int i = 0; i < zip.EntryCount(); ++i)
      if (!zip.EntryMissingPart(i).empty() && zip.EntryHeader(i).TestState == TZipTestState::Good)
        __builtin_trap();
  } catch (const EArcZipException&) {
  } catch (const std::system_error&) {
  }
  return 0;
}
