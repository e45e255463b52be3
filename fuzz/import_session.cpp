// Fuzz target: arbitrary bytes as the sectors of a disc whose last session is read back into the
// tree. The first 8 bytes choose the session count, the session asked for, the session's start
// and what the tree holds before the read-back; the rest are the disc's sectors from sector 16
// on (an address past them wraps around, so any extent lands on input bytes). The tree is then laid
// out and serialised twice: the second read-back must give the same tree.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "disc/discburner.h"
#include "scratch.h"

namespace {

class TSectorTransport : public IScsiTransport {
 public:
  TSectorTransport(const uint8_t* data, size_t size, uint8_t sessions, uint32_t start)
      : data_(data), size_(size), sessions_(sessions), start_(start) {}

  std::vector<TScsiDriveEntry> Discover() override { return {{1, 0, 0, 5, "sr0", "", "", ""}}; }

  void Send(TScsiRequest& r, uint32_t) override {
    r.Status = SS_COMP;
    r.Transferred = 0;
    std::vector<uint8_t> reply;
    switch (r.Cdb[0]) {
      case 0x51:  // READ DISC INFORMATION: a complete disc of that many sessions
        reply.assign(34, 0);
        reply[1] = 32;
        reply[2] = 0x0E;
        reply[4] = sessions_;
        break;
      case 0x52: {  // READ TRACK INFORMATION: every track starts at the same place
        reply.assign(40, 0);
        reply[1] = 38;
        for (int i = 0; i < 4; ++i) reply[8 + i] = static_cast<uint8_t>(start_ >> (24 - 8 * i));
        break;
      }
      case 0x28: {  // READ(10)
        const uint32_t lba =
            static_cast<uint32_t>(r.Cdb[2]) << 24 | r.Cdb[3] << 16 | r.Cdb[4] << 8 | r.Cdb[5];
        const uint32_t count = static_cast<uint32_t>(r.Cdb[7]) << 8 | r.Cdb[8];
        if (!r.BufferPointer || r.BufferLength < count * 2048u) {
          r.Status = SS_ERR;
          return;
        }
        const size_t sectors = (size_ + 2047) / 2048;
        for (uint32_t i = 0; i < count; ++i) {
          uint8_t* out = r.BufferPointer + size_t{i} * 2048;
          std::memset(out, 0, 2048);
          if (sectors == 0) continue;
          // The input starts at sector 16, where the descriptors are (the system area before
          // them is never read).
          const size_t at = (uint64_t{lba} + i + (uint64_t{1} << 32) - 16) % sectors * 2048;
          std::memcpy(out, data_ + at, std::min<size_t>(2048, size_ - at));
        }
        r.Transferred = count * 2048u;
        return;
      }
      default:
        break;
    }
    const uint32_t n = std::min<uint32_t>(static_cast<uint32_t>(reply.size()), r.BufferLength);
    if (n && r.BufferPointer) std::memcpy(r.BufferPointer, reply.data(), n);
    r.Transferred = n;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  uint8_t sessions_;
  uint32_t start_;
};

// What the tree looks like: every path with what it points at.
void Describe(const TDEntry* dir, std::string& out) {
  for (const TFEntry* e = dir->FirstChild; e; e = e->Next) {
    out += dir->FullPath + "|" + e->Key + "|" + std::to_string(e->Imported) + "|" +
           std::to_string(e->DataSize) + "|" + std::to_string(e->IsoLocation) + "\n";
    if (e->Directory) Describe(e->Directory, out);
  }
}

const std::string& LocalFile() {
  static const std::string path = [] {
    const std::string p = FuzzScratch() + "/docs.zip";
    if (FILE* f = std::fopen(p.c_str(), "wb")) {
      std::fputs("new data", f);
      std::fclose(f);
    }
    return p;
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  const uint8_t sessions = data[0] % 5;
  const uint32_t start = static_cast<uint32_t>(data[2]) | data[3] << 8 | data[4] << 16 |
                         static_cast<uint32_t>(data[5]) << 24;
  TVirtualDiscClock clock;
  TDiscBurner burner;
  burner.SetClock(&clock);
  burner.SetTransport(std::make_unique<TSectorTransport>(data + 8, size - 8, sessions, start));
  burner.Adapter = 1, burner.Target = 0, burner.Lun = 0;
  burner.OnDebugMessage = [](TSCSIDevice*, const std::string& m, uint8_t) {
    if (m.empty()) __builtin_trap();
  };
  burner.ImportSession = static_cast<int16_t>(static_cast<int8_t>(data[1]));
  if (burner.ImportSession == 0) burner.ImportSession = -1;
  burner.ReplaceFile = (data[6] & 1) != 0;
  burner.JolietFileSystem = (data[6] & 2) == 0;
  if (data[7] & 1) burner.ClearImage(16, 4);  // small capacities run out
  // Folders and a file already in the tree, as a burn adds them before the read-back.
  if (data[6] & 4) {
    burner.MakeDir("/docs/old");
    if (burner.AddFile("/", LocalFile(), false) != 1) __builtin_trap();
  }

  std::string first, second;
  if (burner.PrepareImage()) burner.WriteImageMetadata();
  Describe(burner.Root(), first);
  if (burner.PrepareImage()) burner.WriteImageMetadata();
  Describe(burner.Root(), second);
  if (first != second) __builtin_trap();
  // Nothing the disc said takes the place of the file added for this session.
  if (data[6] & 4) {
    const TFEntry* added = nullptr;
    for (const TFEntry* e : burner.Entries())
      if (e->SourcePath == LocalFile()) added = e;
    if (!added || added->Imported) __builtin_trap();
  }
  if (burner.DirCount() > 8191 || burner.FileCount() > 65535) __builtin_trap();
  return 0;
}
