// Repairing a split set whose central directory cannot be read: its last part is missing, or the
// part the directory lies on is. The entries are found by the recovery scan, run over each run
// of consecutive parts that are there as over one file; an entry whose data runs on past the end
// of its run lies partly on the missing part after it and is lost.
#include <system_error>
#include <utility>

#include "archive/arczip.h"
#include "archive/zipbytesplit.h"
#include "archive/zipexceptions.h"
#include "archive/zipmedia.h"
#include "archive/zipvolumes.h"

namespace {

// Part names are looked for this far past the last one found: a set may lack some in a row.
constexpr uint32_t kProbeGap = 100;

// The runs of a set read as one stream: run r starts at address r << kShift, as volumes do in a
// set, and a read ends at the end of its run (what follows it is missing).
class TRunsStream : public THugeStream {
 public:
  explicit TRunsStream(std::vector<std::unique_ptr<THugeStream>> runs) : runs_(std::move(runs)) {}
  int64_t Size() override {
    if (runs_.empty()) return 0;
    return TVolumeSetStream::Address(static_cast<uint32_t>(runs_.size() - 1),
                                     static_cast<uint64_t>(runs_.back()->Size()));
  }
  size_t ReadAt(int64_t pos, void* buffer, size_t n) override {
    if (pos < 0) return 0;
    const uint64_t run = static_cast<uint64_t>(pos) >> TVolumeSetStream::kShift;
    const uint64_t off =
        static_cast<uint64_t>(pos) & ((uint64_t{1} << TVolumeSetStream::kShift) - 1);
    if (run >= runs_.size()) return 0;
    return runs_[run]->ReadAt(static_cast<int64_t>(off), buffer, n);
  }
  size_t WriteAt(int64_t, const void*, size_t) override { return 0; }
  void SetSize(int64_t) override {
    throw std::system_error(std::make_error_code(std::errc::read_only_file_system), "split set");
  }

 private:
  std::vector<std::unique_ptr<THugeStream>> runs_;
};

}  // namespace

bool TArcZip::ScanSetWithoutEnd(const std::string& damaged) {
  TZipMedia& media = VolumeMedia();
  // Spanned volumes all carry one name; a set cut into pieces knows nothing of parts.
  if (media.IsRemovable(damaged) || !ByteSplitPieces(media, damaged).empty()) return false;
  auto hasEndRecord = [&](const std::string& name) {
    try {
      auto s = media.OpenVolume(name);
      TEndCentral ec;
      return FindEndCentral(*s, ec);
    } catch (const std::system_error&) {
      return false;
    }
  };
  if (media.Exists(damaged) && hasEndRecord(damaged)) return false;

  // The parts there, as far as any are found; the part after the last one found would be the
  // set's last part.
  constexpr uint32_t kAny = TVolumeSetStream::kMaxDisk;
  std::vector<std::string> names;
  std::vector<bool> present;
  for (uint32_t k = 0, gap = 0; k < kAny && gap < kProbeGap; ++k) {
    const std::string name = VolumeFileName(k, kAny);
    if (!media.Exists(name)) {
      ++gap;
      continue;
    }
    gap = 0;
    for (uint32_t m = static_cast<uint32_t>(names.size()); m < k; ++m) {
      names.push_back(VolumeFileName(m, kAny));
      present.push_back(false);
    }
    names.push_back(name);
    present.push_back(true);
  }
  if (names.empty()) return false;
  const uint32_t next = static_cast<uint32_t>(names.size());
  const std::string last = VolumeFileName(next, next);
  const bool lastNamed = last != VolumeFileName(next, kAny);
  bool isPart = damaged == last;
  for (const std::string& n : names) isPart = isPart || n == damaged;
  if (!isPart) return false;
  if (lastNamed) {
    if (media.Exists(last) && hasEndRecord(last)) {
      // The last part is there and whole: the set is read by it.
      SetZipName(last);
      return false;
    }
    if (!media.Exists(last)) repairDirectoryPart_ = last;
    names.push_back(last);
    present.push_back(media.Exists(last));
  } else if (hasEndRecord(names.back())) {
    // Parts named alike to the end: the last one found holds the end record.
    SetZipName(names.back());
    return false;
  } else {
    // The end record would be on the part after the last one found.
    repairDirectoryPart_ = last;
    names.push_back(last);
    present.push_back(false);
  }
  ScanSetParts(names, present);
  return true;
}

void TArcZip::ScanSetWithMissingDirectory(const std::string& damaged, const std::string& missing) {
  SetZipName(damaged);
  TZipMedia& media = VolumeMedia();
  TEndCentral ec;
  {
    auto s = media.OpenVolume(damaged);
    if (!FindEndCentral(*s, ec)) throw EBadZipFile();
  }
  const uint32_t last = ec.GetThisDiskNo();
  if (last == 0 || last > TVolumeSetStream::kMaxDisk) throw EBadZipFile();
  std::vector<std::string> names;
  std::vector<bool> present;
  // The disk number comes from the damaged file: the parts before it are looked for only as far
  // as any are found, so a number in the millions costs no more than the parts that are there.
  for (uint32_t k = 0, gap = 0; k < last && gap < kProbeGap; ++k) {
    names.push_back(VolumeFileName(k, last));
    present.push_back(media.Exists(names.back()));
    gap = present.back() ? 0 : gap + 1;
  }
  names.push_back(VolumeFileName(last, last));
  present.push_back(media.Exists(names.back()));
  repairDirectoryPart_ = missing;
  ScanSetParts(names, present);
}

void TArcZip::ScanSetParts(const std::vector<std::string>& names,
                           const std::vector<bool>& present) {
  TZipMedia& media = VolumeMedia();
  std::vector<std::unique_ptr<THugeStream>> runs;
  std::vector<TZipHeaderInfo> found;
  std::vector<std::string> lostOn;
  for (size_t k = 0; k < names.size();) {
    if (!present[k]) {
      ++k;
      continue;
    }
    size_t end = k;
    while (end + 1 < names.size() && present[end + 1]) ++end;
    const std::vector<std::string> parts(names.begin() + static_cast<std::ptrdiff_t>(k),
                                         names.begin() + static_cast<std::ptrdiff_t>(end) + 1);
    // The missing part after the run, "" when the run ends the set.
    const std::string after = end + 1 < names.size() ? names[end + 1] : std::string();
    k = end + 1;

    stream_ = std::make_unique<TByteSplitStream>(media, parts);
    const uint64_t size = static_cast<uint64_t>(stream_->Size());
    const uint64_t base =
        static_cast<uint64_t>(TVolumeSetStream::Address(static_cast<uint32_t>(runs.size()), 0));
    scanned_ = false;
    const bool any = RecoveryScan();
    runs.push_back(std::move(stream_));
    if (!any) continue;
    for (TZipHeaderInfo& h : entries_) {
      const uint64_t pos = h.LocalHeaderOffset();
      const uint64_t head = pos + kLocalHeaderSize + h.FileNameLength + h.LocalExtraFieldLength;
      const bool cut = head > size || h.CompressedSize() > size - head;
      lostOn.push_back(cut ? after : std::string());
      // Positions in the stream of all runs.
      if (base > 0) {
        h.RelOffLocalHdr = 0xFFFFFFFF;
        h.RelOffLocalHdr64 = base + pos;
        h.HasRelOffLocalHdr64 = true;
        if (h.NextOffset != UINT64_MAX) h.NextOffset += base;
        h.CentralOffset += static_cast<int64_t>(base);
      }
      found.push_back(std::move(h));
    }
  }

  stream_ = std::make_unique<TRunsStream>(std::move(runs));
  memoryArchive_ = true;
  scannedSet_ = true;
  entries_ = std::move(found);
  scanLost_ = std::move(lostOn);
  repairParts_ = names;
  volumeSet_ = false;
  lastVolume_ = 0;
  recoveryMode_ = true;
  offsetShift_ = 0;
  fromZfc_ = false;
  missingParts_.clear();
  endCentral_ = TEndCentral();
  endCentral_.SetTotalEntries(entries_.size());
  endCentral_.SetEntriesThisDisk(entries_.size());
  MultiZipInfo.MultiMode = TMultiMode::mmNone;
  NoteDamage("the entries were rebuilt from the local headers of the parts present");
  loaded_ = true;
  Resort();
}
