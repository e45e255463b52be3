// Writing a new archive as volumes (split parts or spanned media): each entry is made complete in
// a scratch stream (memory, or a temporary file for large sources), then its local header is
// placed whole on a volume and its data copied after it, crossing volume ends where the room runs
// out.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <system_error>

#include "archive/arczip.h"
#include "archive/arczip_run.h"
#include "archive/filelist.h"
#include "archive/zipexceptions.h"
#include "archive/zipmedia.h"
#include "archive/zipvolumes.h"
#include "archive/zipwriter.h"

namespace {

// Sources up to this size are made in memory before they are placed; larger ones in a file.
constexpr int64_t kScratchInMemory = int64_t{64} << 20;

// The zip configuration file beside an archive: its extension replaced by ".zfc".
std::string ConfigFileFor(const std::string& zipName) {
  size_t slash = zipName.rfind('/');
  size_t dot = zipName.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
    return zipName + ".zfc";
  return zipName.substr(0, dot) + ".zfc";
}

// A temporary file in a folder, removed when it goes.
class TScratchFile {
 public:
  explicit TScratchFile(const std::string& folder) {
    std::string templ = folder + "/arcavo-part-XXXXXX";
    int fd = ::mkstemp(templ.data());
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "temporary file");
    ::close(fd);
    path_ = templ;
    try {
      stream_ = std::make_unique<TFileStream>(path_, TFileStream::omReadWrite);
    } catch (...) {
      ::unlink(path_.c_str());
      throw;
    }
  }
  ~TScratchFile() {
    stream_.reset();
    ::unlink(path_.c_str());
  }
  THugeStream& Stream() { return *stream_; }

 private:
  std::string path_;
  std::unique_ptr<TFileStream> stream_;
};

}  // namespace

int TArcZip::WriteVolumes(TRun& run, std::deque<TFileItem>& items,
                          const std::vector<uint32_t>& packIndex, TEndCentral ec) {
  const std::string zipName = ZipName();
  const std::string base = VolumeBaseName(zipName);
  auto partName = [&](int part, TSplitPartType type) {
    std::string name = base;
    if (OnFileNameForSplitPart)
      OnFileNameForSplitPart(this, name, part, type);
    else
      name = DefaultPartName(base, part, type, BlockMode);
    if (name.empty()) throw EUserCanceled(zipmsg::kUserCanceledZip);
    return name;
  };

  // Room kept free on the first part: asked for, and for the configuration file's copy of the
  // directory when one is written.
  int64_t reserve = std::max<int64_t>(0, MultiZipInfo.SaveOnFirstDisk);
  if (MultiZipInfo.SaveZipInfoOnFirstDisk) {
    int64_t names = 0;
    for (const auto& it : items) names += static_cast<int64_t>(it.Path.size());
    const int64_t n = static_cast<int64_t>(items.size());
    const int64_t average = std::max<int64_t>(0, names / std::max<int64_t>(1, n) - 2);
    reserve += n * (average + 46) + static_cast<int64_t>(ec.Comment.size()) + 22 + 2048;
  }
  const int64_t first =
      MultiZipInfo.FirstBlockSize > 0 ? MultiZipInfo.FirstBlockSize : MultiZipInfo.BlockSize;
  const bool span = MultiZipInfo.MultiMode == TMultiMode::mmSpan;

  TVolumeWriter::TSettings vs;
  vs.Media = &VolumeMedia();
  vs.Between = [this] { CheckCancel(); };
  if (span) {
    vs.Span = true;
    vs.Ask = [this](int volume) { return AskForVolume(volume, zipmsg::kUserCanceledZip); };
    vs.Prepare = [this](int volume) {
      if (OnPrepareNextDisk) OnPrepareNextDisk(this, volume);
    };
    vs.WriteLabels = MultiZipInfo.WriteDiskLabels;
    // The configuration file takes at least one allocation unit of the first medium.
    int64_t cluster = 0;
    if (MultiZipInfo.SaveZipInfoOnFirstDisk) {
      cluster = vs.Media->ClusterSize(zipName);
      if (cluster <= 0) cluster = 4096;
    }
    vs.FirstReserve = reserve + cluster;
  } else {
    vs.Name = partName;
    vs.BlockSize = [this] { return MultiZipInfo.BlockSize; };
    vs.FirstRoom = first - reserve;
  }
  TVolumeWriter vw(vs);
  vw.Start();

  // Every file is handled twice, made and then copied: the totals count both.
  run.totalBytes *= 2;
  TMemoryStream memory;
  std::unique_ptr<TScratchFile> file;
  std::string zfc;
  for (size_t i = 0; i < items.size(); ++i) {
    CheckCancel();
    const TFileItem& item = items[i];
    THugeStream* scratch = &memory;
    if (!item.IsFolder && item.Size > kScratchInMemory) {
      if (!file) file = std::make_unique<TScratchFile>(TempFolder());
      scratch = &file->Stream();
    }
    scratch->SetSize(0);
    run.out = std::make_unique<TZipOutput>(*scratch, 0);
    const size_t before = run.entries.size();
    if (item.IsFolder)
      WriteFolderEntry(run, item);
    else if (StoreFile(run, item, packIndex[i]))
      ++run.files;
    if (run.entries.size() == before) continue;
    run.out->Flush();
    run.out.reset();

    // The local header goes whole onto a part with room for at least one byte after it when data
    // follows; the data is copied on from there.
    TCentralEntry& e = run.entries.back();
    const int64_t total = scratch->Size();
    uint8_t fixed[kLocalHeaderSize];
    scratch->ReadExactAt(0, fixed, sizeof fixed);
    const int64_t headerLen =
        static_cast<int64_t>(kLocalHeaderSize) + GetU16(fixed + 26) + GetU16(fixed + 28);
    std::string header(static_cast<size_t>(headerLen), '\0');
    scratch->ReadExactAt(0, header.data(), header.size());
    e.Offset =
        static_cast<uint64_t>(vw.PlaceWhole(header.data(), header.size(), total > headerLen));
    e.Disk = vw.Disk();
    if (total > headerLen) {
      if (OnStartSpanCopy) OnStartSpanCopy(this, item.Path, total - headerLen);
      vw.Copy(*scratch, headerLen, total - headerLen);
    }
    run.doneBytes += static_cast<int64_t>(e.Uncompressed);
    if (OnTotalPercentDone && run.totalBytes > 0) {
      int p = static_cast<int>(std::min<int64_t>(100, run.doneBytes * 100 / run.totalBytes));
      if (p != run.lastTotalPercent) OnTotalPercentDone(this, run.lastTotalPercent = p);
    }
    if (file) file->Stream().SetSize(0);
  }
  file.reset();
  memory.SetSize(0);
  run.pack.reset();
  if (run.entries.empty()) {
    // Nothing was stored (every file went missing or was skipped): no set of empty volumes.
    vw.Discard();
    return 0;
  }

  // The central directory: no record is split; the directory starts where its first record
  // lands.
  const bool saveZfc = MultiZipInfo.SaveZipInfoOnFirstDisk;
  uint32_t cdDisk = 0, recordDisk = 0;
  int64_t cdOffset = -1;
  uint64_t onDisk = 0, cdSize = 0;
  std::string record;
  for (const auto& e : run.entries) {
    record.clear();
    AppendCentralRecord(record, e);
    const int64_t at = vw.PlaceWhole(record.data(), record.size());
    if (cdOffset < 0) {
      cdDisk = recordDisk = vw.Disk();
      cdOffset = at;
    }
    if (vw.Disk() != recordDisk) {
      recordDisk = vw.Disk();
      onDisk = 0;
    }
    ++onDisk;
    cdSize += record.size();
    if (saveZfc) zfc += record;
  }
  const uint64_t written = run.entries.size();
  run.ReleaseEntries();

  // The end records, whole, on the last part.
  auto endBytes = [&] {
    TEndPlacement at;
    at.ThisDisk = vw.Disk();
    at.CentralDisk = cdDisk;
    at.EntriesThisDisk = vw.Disk() == recordDisk ? onDisk : 0;
    at.Pos = static_cast<uint64_t>(vw.Pos());
    return EndRecordsBytes(ec, written, cdSize, static_cast<uint64_t>(cdOffset), ec.Comment, at);
  };
  std::string end = endBytes();
  if (vw.Room() < static_cast<int64_t>(end.size())) {
    vw.NextVolume(static_cast<int64_t>(end.size()) + 20 + 56);
    end = endBytes();
  }
  vw.PlaceWhole(end.data(), end.size());
  const bool several = vw.Disk() > 0;
  const std::string last = vw.Finish();

  // The set is read back from its last part; ZipName follows it there.
  SetZipName(last);
  loaded_ = false;
  EnsureDirectory();
  if (static_cast<uint64_t>(EntryCount()) != written)
    throw EBadZipFile(std::string(zipmsg::kNotAZip) + " The new split archive read back with " +
                      std::to_string(EntryCount()) + " of " + std::to_string(written) +
                      " entries.");

  if (saveZfc && several) {
    zfc += end;
    // Beside the first volume: a spanned set asks for its first medium again.
    const std::string beside = span ? AskForVolume(1, zipmsg::kUserCanceledZip) : last;
    try {
      std::unique_ptr<THugeStream> out = VolumeMedia().CreateVolume(ConfigFileFor(beside));
      if (out->WriteAt(0, zfc.data(), zfc.size()) != zfc.size()) throw EConfigFileSaveError();
    } catch (...) {
      throw EConfigFileSaveError();
    }
  }
  return run.files;
}
