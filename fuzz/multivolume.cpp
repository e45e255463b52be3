// Fuzz target: up to 8 volumes of a split set, held in memory and reached through the media
// seam, read as an archive by its last part; every entry is tested. Input: a count byte (1 + its
// value mod 8 volumes), then each volume but the last as a 32-bit little-endian length and its
// bytes; the last volume is the rest.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <system_error>

#include "archive/arcunzip.h"
#include "archive/zipexceptions.h"
#include "archive/zipmedia.h"

namespace {

class MemoryMedia : public TZipMedia {
 public:
  std::map<std::string, std::string> files;
  bool IsRemovable(const std::string&) override { return false; }
  bool Exists(const std::string& path) override { return files.count(path) != 0; }
  std::unique_ptr<THugeStream> OpenVolume(const std::string& path) override {
    auto it = files.find(path);
    if (it == files.end()) throw std::system_error(ENOENT, std::generic_category(), path);
    return std::make_unique<TMemoryStream>(it->second.data(), it->second.size());
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int volumes = 1 + data[0] % 8;
  size_t pos = 1;
  MemoryMedia media;
  const std::string base = "/fuzz-volumes/set";
  for (int k = 1; k <= volumes; ++k) {
    const bool last = k == volumes;
    size_t len = size - pos;
    if (!last) {
      if (size - pos < 4) return 0;
      len = static_cast<size_t>(data[pos]) | static_cast<size_t>(data[pos + 1]) << 8 |
            static_cast<size_t>(data[pos + 2]) << 16 | static_cast<size_t>(data[pos + 3]) << 24;
      pos += 4;
      if (len > size - pos) return 0;
    }
    const TSplitPartType type = last ? TSplitPartType::LastPart : TSplitPartType::MiddlePart;
    media.files[ProgramPartName(base, k, type)] =
        std::string(reinterpret_cast<const char*>(data + pos), len);
    pos += len;
  }

  TArcUnZip zip;
  zip.DoProcessMessages = false;
  zip.IncompleteZipMode = TIncompleteZipMode::izAssumeNotAZip;
  zip.Password = "secret";
  zip.Media = &media;
  zip.OnFileNameForSplitPart = [](TArcUnZip::TSender, std::string& name, int part,
                                  TSplitPartType type) {
    name = ProgramPartName(name, part, type);
  };
  zip.SetZipName(base + ".zip");
  try {
    zip.ReadArchive();
    bool all = zip.TestArchive();
    int good = 0;
    for (int i = 0; i < zip.EntryCount(); ++i) good += zip.TestEntry(i) ? 1 : 0;
    // All good: every entry tests good and the directory was read as it is stated.
    if (all != (good == zip.EntryCount() && zip.DirectoryDamage().empty())) __builtin_trap();
  } catch (const EArcZipException&) {
  } catch (const std::system_error&) {
  }
  return 0;
}
