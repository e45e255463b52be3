#include "archive/arcunzip.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <system_error>
#include <thread>
#include <tuple>

#include "archive/zipbytesplit.h"
#include "archive/zipcrypt.h"
#include "archive/zipexceptions.h"
#include "archive/zipextra.h"
#include "archive/zipmedia.h"
#include "archive/zipvolumes.h"
#include "archive/zipwriter.h"

namespace {

const char* const kSkipLabels[] = {"Bad Password",    "NoOverwrite",      "FileOpenError",
                                   "CreateError",     "ExcludeList",      "ArchiveBitNotSet",
                                   "NoFileToFreshen", "SkippedInStartZip"};

// Sequential reading of the central directory in large blocks.
class TBufferedReader {
 public:
  TBufferedReader(THugeStream& s, int64_t pos) : s_(s), pos_(pos) {}
  int64_t Pos() const { return pos_; }
  void SetPos(int64_t pos) { pos_ = pos; }
  bool Read(void* out, size_t n) {
    auto* dst = static_cast<uint8_t*>(out);
    while (n > 0) {
      if (pos_ < bufStart_ || pos_ >= bufStart_ + static_cast<int64_t>(bufLen_)) {
        if (pos_ < 0) return false;
        bufStart_ = pos_;
        bufLen_ = s_.ReadAt(pos_, buf_.data(), buf_.size());
        if (bufLen_ == 0) return false;
      }
      size_t off = static_cast<size_t>(pos_ - bufStart_);
      size_t k = std::min(n, bufLen_ - off);
      std::memcpy(dst, buf_.data() + off, k);
      dst += k;
      n -= k;
      pos_ += static_cast<int64_t>(k);
    }
    return true;
  }
  bool ReadString(std::string& out, size_t n) {
    out.resize(n);
    return n == 0 || Read(out.data(), n);
  }

 private:
  THugeStream& s_;
  int64_t pos_;
  std::vector<uint8_t> buf_ = std::vector<uint8_t>(65536);
  int64_t bufStart_ = -1;
  size_t bufLen_ = 0;
};

// The text with its first letter in upper case, to begin a sentence.
std::string Capitalised(std::string s) {
  if (!s.empty() && s[0] >= 'a' && s[0] <= 'z') s[0] = static_cast<char>(s[0] - 32);
  return s;
}

std::string LowerAscii(std::string s) {
  for (auto& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return s;
}

// The name of the zip configuration file beside an archive: its extension replaced by ".zfc".
std::string ConfigFileName(const std::string& zipName) {
  size_t slash = zipName.rfind('/');
  size_t dot = zipName.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
    return zipName + ".zfc";
  return zipName.substr(0, dot) + ".zfc";
}

uint32_t Crc32Of(const std::string& s) {
  return ZipCrc32(0, s.data(), s.size());
}

// True for the hosts whose programs write names in a DOS/Windows OEM code page: FAT (0), VFAT
// (14), HPFS (6) and NTFS (11).
bool IsDosHost(uint8_t host) {
  return host == 0 || host == 6 || host == 11 || host == 14;
}

// The name of an entry as this system sees it. With the UTF-8 flag (bit 11) the stored bytes are
// the name. Otherwise a valid Info-ZIP Unicode path field names the entry; names from DOS and
// Windows hosts are read in code page 437; names from Unix-like and all other hosts are their
// bytes (as Unix programs store them: in the writer's locale, nowadays UTF-8). A name that is not
// valid UTF-8 keeps its bytes, so it is written to disk and compared exactly as stored.
std::string DecodeName(const TZipHeaderInfo& h, const std::string& raw, TOEMConvert mode) {
  if (h.Flag & 0x0800) return raw;
  if (mode == TOEMConvert::oemNever) return raw;
  // Info-ZIP Unicode path field: version 1, CRC-32 of the stored name, then the UTF-8 name.
  size_t n = 0;
  const auto* extra = reinterpret_cast<const uint8_t*>(h.CentralExtra.data());
  if (const uint8_t* d = FindExtraField(extra, h.CentralExtra.size(), kUnicodePathExtraId, n)) {
    if (n > 5 && d[0] == 1 && GetU32(d + 1) == Crc32Of(raw)) {
      std::string name(reinterpret_cast<const char*>(d + 5), n - 5);
      if (IsValidUtf8(name) && name.find('\0') == std::string::npos) return name;
    }
  }
  if (IsPlainAscii(raw) || !IsDosHost(h.HostByte())) return raw;
  if (mode == TOEMConvert::oemFlexible && h.HostByte() == 11) return raw;
  return Cp437ToUtf8(raw);
}

}  // namespace

const char* SkipReasonLabel(TSkipReason reason) {
  int r = static_cast<int>(reason);
  return (r >= 0 && r < 8) ? kSkipLabels[r] : "";
}

void TZipHost::Sleep(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::string StoredCentralName(THugeStream& s, const TZipHeaderInfo& h) {
  uint8_t fixed[kCentralHeaderSize];
  if (s.ReadAt(h.CentralOffset, fixed, sizeof fixed) != sizeof fixed ||
      GetU32(fixed) != zipsig::kCentralHeader)
    return "";
  std::string name(GetU16(fixed + 28), '\0');
  if (s.ReadAt(h.CentralOffset + static_cast<int64_t>(sizeof fixed), name.data(), name.size()) !=
      name.size())
    return "";
  return name;
}

bool DirectoryExists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TArcUnZip::TArcUnZip() = default;
TArcUnZip::~TArcUnZip() = default;

void TArcUnZip::SetZipName(const std::string& name) {
  std::string value = name;
  if (!value.empty() && value.back() == '?') {
    value.pop_back();
    if (!Host || !Host->ChooseArchiveFile(value)) throw EUserCanceled(zipmsg::kUserCanceledZipName);
  }
  // Names are compared exactly: file names on this system are case-sensitive.
  if (value != zipName_ || memoryArchive_) ForgetArchive();
  zipName_ = value;
}

void TArcUnZip::SetDestDir(const std::string& dir) {
  std::string value = dir;
  if (value == "?") {
    value = destDir_;
    if (!Host || !Host->ChooseFolder(value)) throw EUserCanceled(zipmsg::kUserCanceledDestDir);
  }
  while (value.size() > 1 && value.back() == '/') value.pop_back();
  destDir_ = value;
}

void TArcUnZip::SetSortMode(TZipSortMode mode) {
  sortMode_ = mode;
  Resort();
}

const TZipHeaderInfo& TArcUnZip::EntryHeader(int i) const {
  return entries_[PhysicalIndex(i)];
}

size_t TArcUnZip::PhysicalIndex(int i) const {
  if (i < 0 || i >= EntryCount()) throw EListIndexError(i);
  return order_[static_cast<size_t>(i)];
}

std::time_t TArcUnZip::EntryDateTime(int i) const {
  std::time_t t;
  if (!EntryModTime(EntryHeader(i), t)) t = std::time(nullptr);
  return t;
}

int64_t TArcUnZip::EntrySize(int i) const {
  return static_cast<int64_t>(EntryHeader(i).UncompressedSize());
}

void TArcUnZip::SetEntrySelected(int i, bool selected) {
  auto& h = entries_[PhysicalIndex(i)];
  if (h.Selected == selected) return;
  h.Selected = selected;
  selectedCount_ += selected ? 1 : -1;
}

void TArcUnZip::ClearSelection() {
  for (auto& h : entries_) h.Selected = false;
  selectedCount_ = 0;
}

void TArcUnZip::SetArchiveComment(const std::string& comment) {
  if (comment == endCentral_.Comment) return;
  endCentral_.Comment = comment;
  endCentral_.CommentLen = static_cast<uint16_t>(std::min<size_t>(comment.size(), 0xFFFF));
  endCentral_.Modified = true;
}

bool TArcUnZip::NeedsZip64() const {
  if (endCentral_.GetCentralOffset() >= 0xFFFFFFFFull) return true;
  if (entries_.size() >= 0xFFFF || endCentral_.GetTotalEntries() >= 0xFFFF) return true;
  for (const auto& h : entries_)
    if (h.HasZip64()) return true;
  return false;
}

void TArcUnZip::CancelOperation() {
  cancel_ = true;
  pause_ = false;
}

void TArcUnZip::PauseOperation() {
  pause_ = true;
  cancel_ = false;
}

void TArcUnZip::ResumeOperation() {
  pause_ = false;
}

bool TArcUnZip::ProcessMessages() {
  return Host ? Host->ProcessMessages() : false;
}

void TArcUnZip::CheckCancel() {
  if (!DoProcessMessages) return;
  ProcessMessages();
  while (pause_ && !cancel_) {
    if (Host)
      Host->Sleep(1000);
    else
      std::this_thread::sleep_for(std::chrono::seconds(1));
    ProcessMessages();
  }
  if (cancel_) {
    cancel_ = false;
    throw EUserCanceled(zipmsg::kUserAborted);
  }
}

int TArcUnZip::ShowMessage(int messageId, const std::string& title, const std::string& text,
                           uint32_t flags) {
  int answer = (flags & zbYesNo) ? zrNo : (flags & zbOKCancel) ? zrCancel : zrOK;
  if (OnHandleMessage) {
    OnHandleMessage(this, messageId, text, title, flags, answer);
  } else if (Host) {
    answer = Host->MessageBox(messageId, title, text, flags);
  }
  return answer;
}

void TArcUnZip::OpenArchiveStream(std::unique_ptr<THugeStream> stream) {
  ForgetArchive();
  zipName_.clear();
  stream_ = std::move(stream);
  memoryArchive_ = true;
}

void TArcUnZip::ForgetArchive() {
  stream_.reset();
  memoryArchive_ = false;
  entries_.clear();
  order_.clear();
  recoveryMode_ = false;
  offsetShift_ = 0;
  damage_.clear();
  missingParts_.clear();
  endCentral_ = TEndCentral();
  loaded_ = false;
  fromZfc_ = false;
  volumeSet_ = false;
  lastVolume_ = 0;
  selectedCount_ = 0;
  archiveTimeNs_ = 0;
  MultiZipInfo.MultiMode = TMultiMode::mmNone;
}

void TArcUnZip::CloseArchive() {
  ForgetArchive();
  zipName_.clear();
}

void TArcUnZip::CloseFileUnlessKept() {
  if (!KeepZipOpen && !memoryArchive_) stream_.reset();
}

THugeStream& TArcUnZip::ArchiveStream() {
  if (!stream_) {
    if (memoryArchive_) throw EBadZipFile();
    if (volumeSet_) {
      stream_ = std::make_unique<TVolumeSetStream>(lastVolume_, [this](uint32_t disk) {
        if (MultiZipInfo.MultiMode == TMultiMode::mmSpan)
          return OpenSpannedVolume(static_cast<int>(disk) + 1);
        const std::string name = VolumeFileName(disk, lastVolume_);
        try {
          return VolumeMedia().OpenVolume(name);
        } catch (const std::system_error& e) {
          if (e.code() == std::errc::no_such_file_or_directory) throw EMissingVolume(name);
          throw;
        }
      });
    } else if (auto pieces = ByteSplitPieces(VolumeMedia(), zipName_); !pieces.empty()) {
      stream_ = std::make_unique<TByteSplitStream>(VolumeMedia(), std::move(pieces));
    } else if (Media) {
      stream_ = Media->OpenVolume(zipName_);
    } else {
      stream_ = std::make_unique<TFileStream>(zipName_, TFileStream::omRead);
    }
  }
  return *stream_;
}

TZipMedia& TArcUnZip::VolumeMedia() {
  if (Media) return *Media;
  if (!ownMedia_) ownMedia_ = std::make_unique<TZipMedia>();
  return *ownMedia_;
}

std::string TArcUnZip::VolumeFileName(uint32_t disk, uint32_t last) {
  const int part = static_cast<int>(disk) + 1;
  const TSplitPartType type = disk == 0      ? TSplitPartType::FirstPart
                              : disk == last ? TSplitPartType::LastPart
                                             : TSplitPartType::MiddlePart;
  std::string name = VolumeBaseName(zipName_);
  if (OnFileNameForSplitPart)
    OnFileNameForSplitPart(this, name, part, type);
  else
    name = DefaultPartName(name, part, type, BlockMode);
  if (name.empty()) throw EUserCanceled(zipmsg::kUserCanceledNewDisk);
  return name;
}

std::string TArcUnZip::AskForVolume(int volume, const char* cancelText) {
  std::string name = zipName_;
  if (OnGetNextDisk) {
    OnGetNextDisk(this, volume, name);
  } else if (ShowMessage(zmInsertDisk, "",
                         "Please insert disk " + std::to_string(volume) + " of the multi-disk set.",
                         zbOKCancel | zbIconQuestion) != zrOK) {
    name.clear();
  }
  if (name.empty()) throw EUserCanceled(cancelText);
  return name;
}

std::unique_ptr<THugeStream> TArcUnZip::OpenSpannedVolume(int volume) {
  // A medium with another volume's label, or without the file, is asked for again.
  for (;;) {
    const std::string name = AskForVolume(volume, zipmsg::kUserCanceledNewDisk);
    TZipMedia& media = VolumeMedia();
    if (MultiZipInfo.CheckDiskLabels && !SpanLabelMatches(media.ReadLabel(name), volume)) continue;
    if (!media.Exists(name)) continue;
    return media.OpenVolume(name);
  }
}

void TArcUnZip::LoadVolume(uint32_t disk) {
  if (!volumeSet_ || disk > lastVolume_) throw EBadZipFile();
  static_cast<TVolumeSetStream&>(ArchiveStream()).Volume(disk);
}

void TArcUnZip::ReadArchive() {
  TBusyGuard busy(*this);
  EnsureDirectory();
  CloseFileUnlessKept();
}

void TArcUnZip::EnsureDirectory() {
  if (loaded_) {
    if (memoryArchive_) return;
    int64_t now = FileModTimeNs(zipName_);
    if (now == archiveTimeNs_ && now != -1) return;
  }
  // A handler of OnInCompleteZip may point ZipName at another file (the last volume of a set);
  // the read is repeated then, a bounded number of times.
  for (int attempt = 0;; ++attempt) {
    std::string tried = zipName_;
    try {
      ReadDirectory();
      return;
    } catch (const EIncompleteZip&) {
      if (!memoryArchive_) stream_.reset();
      if (OnInCompleteZip && zipName_ != tried && !zipName_.empty() && attempt < 16) continue;
      // Without a new name the archive stays open with no entries.
      entries_.clear();
      order_.clear();
      loaded_ = true;
      if (!memoryArchive_) archiveTimeNs_ = FileModTimeNs(zipName_);
      return;
    } catch (...) {
      CloseArchive();
      throw;
    }
  }
}

void TArcUnZip::ReadDirectory() {
  volumeSet_ = false;
  if (!memoryArchive_) stream_.reset();
  ReadDirectoryOf(ArchiveStream(), false);
}

void TArcUnZip::ReadWrittenDirectory(const std::string& path) {
  struct TQuiet {
    TArcUnZip& z;
    bool dispatch;
    explicit TQuiet(TArcUnZip& zip) : z(zip), dispatch(zip.DoProcessMessages) {
      z.DoProcessMessages = false;
    }
    ~TQuiet() { z.DoProcessMessages = dispatch; }
  } quiet(*this);
  volumeSet_ = false;
  if (!memoryArchive_) stream_.reset();
  try {
    TFileStream s(path, TFileStream::omRead);
    ReadDirectoryOf(s, true);
  } catch (...) {
    entries_.clear();
    order_.clear();
    endCentral_ = TEndCentral();
    loaded_ = false;
    throw;
  }
}

void TArcUnZip::AdoptDirectory(const std::string& name) {
  stream_.reset();
  memoryArchive_ = false;
  zipName_ = name;
  archiveTimeNs_ = FileModTimeNs(name);
  loaded_ = true;
}

std::string TArcUnZip::DecodedName(const TZipHeaderInfo& h, const std::string& raw) const {
  return DecodeName(h, raw, OEMConvert);
}

std::string TArcUnZip::EntryMissingPart(int i) const {
  auto it = missingParts_.find(PhysicalIndex(i));
  return it == missingParts_.end() ? std::string() : it->second;
}

void TArcUnZip::NoteDamage(const std::string& what) {
  if (damage_.find(what) != std::string::npos) return;
  damage_ += (damage_.empty() ? "" : "; ") + what;
}

void TArcUnZip::RefuseDamagedRewrite(bool forced) const {
  if (damage_.empty() || forced) return;
  throw EBadZipFile("The central directory of " + zipName_ + " is damaged (" + damage_ +
                    "): rewriting it would keep only the entries that could be found. Repair "
                    "it into a new archive, or force the update.");
}

void TArcUnZip::ReadDirectoryOf(THugeStream& s, bool strict) {
  scanned_ = false;
  recoveryMode_ = false;
  offsetShift_ = 0;
  damage_.clear();
  missingParts_.clear();
  entries_.clear();
  order_.clear();
  selectedCount_ = 0;
  endCentral_ = TEndCentral();
  fromZfc_ = false;
  loaded_ = false;

  archiveTimeNs_ = s.ModTimeNs();
  if (s.Size() == 0) {
    // An empty file is a valid archive without entries.
    MultiZipInfo.MultiMode = TMultiMode::mmNone;
    loaded_ = true;
    return;
  }

  THugeStream* dir = &s;
  std::unique_ptr<THugeStream> zfc;
  bool found = FindEndCentral(s, endCentral_);
  if (strict && !found) throw EBadZipFile();
  if (!found && !memoryArchive_) {
    std::string zfcName = ConfigFileName(zipName_);
    struct stat st;
    if (::stat(zfcName.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      zfc = std::make_unique<TFileStream>(zfcName, TFileStream::omRead);
      TEndCentral ec;
      if (FindEndCentral(*zfc, ec)) {
        endCentral_ = ec;
        found = true;
        fromZfc_ = true;
        dir = zfc.get();
      }
    }
  }
  if (!found) {
    // A repair in assume-bad mode goes straight to the recovery scan, without asking.
    TIncompleteZipMode mode = repairing_ ? TIncompleteZipMode::izAssumeBad : IncompleteZipMode;
    if (OnInCompleteZip && !repairing_) OnInCompleteZip(this, mode);
    switch (mode) {
      case TIncompleteZipMode::izAssumeNotAZip:
        throw ENotAZipFile();
      case TIncompleteZipMode::izAssumeMulti:
        throw EIncompleteZip();
      case TIncompleteZipMode::izAssumeBad:
        if (!RecoveryScan()) throw EBadZipFile();
        NoteDamage("no end record: the entries were rebuilt from the local headers");
        loaded_ = true;
        Resort();
        return;
    }
  }

  uint32_t thisDisk = endCentral_.GetThisDiskNo();
  if (strict && (thisDisk != 0 || endCentral_.GetCentralDiskNo() != 0)) throw EBadZipFile();
  if (thisDisk != 0) {
    // A set on a removable medium is spanned; anywhere else its volumes are split parts.
    if (MultiZipInfo.MultiMode == TMultiMode::mmNone)
      MultiZipInfo.MultiMode = !memoryArchive_ && VolumeMedia().IsRemovable(zipName_)
                                   ? TMultiMode::mmSpan
                                   : TMultiMode::mmBlocks;
  } else {
    MultiZipInfo.MultiMode = TMultiMode::mmNone;
  }
  // The volumes of a set are read as one stream in which each volume keeps its own offsets.
  const bool volumes = thisDisk != 0 && !memoryArchive_;
  if (volumes) {
    if (thisDisk > TVolumeSetStream::kMaxDisk)
      throw EBadZipFile(std::string(zipmsg::kNotAZip) + " Its end record names disk " +
                        std::to_string(thisDisk) + ", beyond any set of volumes.");
    volumeSet_ = true;
    lastVolume_ = thisDisk;
  }
  // Where the end records begin: the directory ends there at the latest. (A Zip64 end record
  // before the directory is no bound of it.)
  auto endRecordsAfter = [this](int64_t directoryStart) {
    const int64_t z64 = endCentral_.Zip64EndPos;
    const bool bounds = endCentral_.HasZip64 && z64 >= directoryStart;
    return bounds && z64 < endCentral_.EndCentralPos ? z64 : endCentral_.EndCentralPos;
  };
  int64_t endRecords = endRecordsAfter(0);
  int64_t start = 0;
  if (!fromZfc_) {
    uint64_t off = endCentral_.GetCentralOffset();
    if (off > static_cast<uint64_t>(INT64_MAX)) throw EBadZipFile();
    start = static_cast<int64_t>(off);
    if (volumes) {
      // The directory may start on an earlier volume and run on over volume ends. A spanned set
      // keeps the medium in the drive as its last volume.
      const uint32_t cdDisk = endCentral_.GetCentralDiskNo();
      if (off >> TVolumeSetStream::kShift || cdDisk > thisDisk) throw EBadZipFile();
      std::unique_ptr<THugeStream> last = stream_.get() == &s ? std::move(stream_) : nullptr;
      stream_.reset();
      auto& set = static_cast<TVolumeSetStream&>(ArchiveStream());
      if (last && MultiZipInfo.MultiMode == TMultiMode::mmSpan) set.Seed(thisDisk, std::move(last));
      LoadVolume(cdDisk);
      dir = &set;
      start = TVolumeSetStream::Address(cdDisk, off);
      // A directory that starts on an earlier volume ends at an address of that volume.
      endRecords =
          cdDisk == thisDisk
              ? TVolumeSetStream::Address(
                    thisDisk, static_cast<uint64_t>(endRecordsAfter(static_cast<int64_t>(off))))
              : INT64_MAX;
    } else if (endCentral_.GetCentralDiskNo() != thisDisk) {
      throw EBadZipFile();
    } else if (!strict) {
      // An archive written by this engine always has its directory where it says.
      offsetShift_ = FindOffsetShift(s, off);
      start += offsetShift_;
      endRecords = endRecordsAfter(start);
    }
  } else if (volumes) {
    stream_.reset();
  }
  ReadCentralRecords(*dir, start, endRecords, strict);
  // The recovery scan's entries carry the positions where it found them.
  if (recoveryMode_) offsetShift_ = 0;
  CheckDataRanges(strict);
  if (recoveryMode_) NoteDamage("the entries were rebuilt from the local headers");
  if (recoveryMode_) offsetShift_ = 0;
  loaded_ = true;
  Resort();
}

bool TArcUnZip::FindEndCentral(THugeStream& s, TEndCentral& ec) {
  int64_t size = s.Size();
  if (size < static_cast<int64_t>(kEndCentralSize)) return false;
  size_t n = static_cast<size_t>(std::min<int64_t>(size, kEndCentralSearch));
  int64_t base = size - static_cast<int64_t>(n);
  std::vector<uint8_t> tail(n);
  s.ReadExactAt(base, tail.data(), n);

  // Scan backwards for the signature. A candidate whose comment would run past the end is not an
  // end record; one whose comment ends exactly at the end of the file is preferred, so that an
  // end record quoted inside a comment is not taken for the real one.
  int64_t chosen = -1;
  for (int64_t p = static_cast<int64_t>(n - kEndCentralSize); p >= 0; --p) {
    const uint8_t* q = tail.data() + p;
    if (GetU32(q) != zipsig::kEndCentral) continue;
    uint16_t thisDisk = GetU16(q + 4), cdDisk = GetU16(q + 6), clen = GetU16(q + 20);
    if (thisDisk < cdDisk) continue;
    size_t end = static_cast<size_t>(p) + kEndCentralSize + clen;
    if (end > n) continue;
    if (end == n) {
      chosen = p;
      break;
    }
    if (chosen < 0) chosen = p;
  }
  if (chosen < 0) return false;

  ec = TEndCentral();
  const uint8_t* q = tail.data() + chosen;
  ec.ParseEndRecord(q);
  ec.EndCentralPos = base + chosen;
  ec.CommentPos = ec.EndCentralPos + static_cast<int64_t>(kEndCentralSize);
  ec.Comment.assign(reinterpret_cast<const char*>(q + kEndCentralSize), ec.CommentLen);

  // Zip64 locator right before the end record, and the Zip64 end record it points to.
  if (ec.EndCentralPos >= static_cast<int64_t>(kZip64LocatorSize)) {
    uint8_t loc[kZip64LocatorSize];
    int64_t locPos = ec.EndCentralPos - static_cast<int64_t>(kZip64LocatorSize);
    if (s.ReadAt(locPos, loc, sizeof loc) == sizeof loc && ec.ParseZip64Locator(loc)) {
      uint8_t rec[kZip64EndCentralSize];
      bool ok = false;
      if (ec.LocZip64EndOffset <= static_cast<uint64_t>(INT64_MAX)) {
        int64_t at = static_cast<int64_t>(ec.LocZip64EndOffset);
        ok = s.ReadAt(at, rec, sizeof rec) == sizeof rec && ec.ParseZip64EndRecord(rec);
        ec.Zip64EndPos = at;
      }
      // Data in front of the archive shifts every offset; the record then lies right before the
      // locator.
      if (!ok && locPos >= static_cast<int64_t>(kZip64EndCentralSize)) {
        int64_t at = locPos - static_cast<int64_t>(kZip64EndCentralSize);
        ok = s.ReadAt(at, rec, sizeof rec) == sizeof rec && ec.ParseZip64EndRecord(rec);
        ec.Zip64EndPos = at;
      }
      ec.HasZip64 = ok;
    }
  }
  return true;
}

int64_t TArcUnZip::FindOffsetShift(THugeStream& s, uint64_t start) {
  auto centralAt = [&s](uint64_t pos) {
    uint8_t sig[4];
    return pos <= static_cast<uint64_t>(INT64_MAX) &&
           s.ReadAt(static_cast<int64_t>(pos), sig, sizeof sig) == sizeof sig &&
           GetU32(sig) == zipsig::kCentralHeader;
  };
  if (endCentral_.GetTotalEntries() == 0 || centralAt(start)) return 0;
  // The directory ends where the Zip64 end record, or else the end record, begins.
  const int64_t end = endCentral_.HasZip64 ? endCentral_.Zip64EndPos : endCentral_.EndCentralPos;
  const uint64_t size = endCentral_.GetCentralSize();
  if (start > static_cast<uint64_t>(INT64_MAX) || size > static_cast<uint64_t>(INT64_MAX) - start)
    return 0;
  const int64_t shift = end - static_cast<int64_t>(start + size);
  if (shift <= 0 || !centralAt(start + static_cast<uint64_t>(shift))) return 0;
  return shift;
}

namespace {

// True when the directory's digital signature record stands at the reader's position and ends
// where the directory does (the stated size counts it).
bool SignatureFills(TBufferedReader& r, int64_t end) {
  constexpr uint32_t kDigitalSignature = 0x05054b50;
  uint8_t head[6];
  return r.Read(head, sizeof head) && GetU32(head) == kDigitalSignature &&
         r.Pos() + GetU16(head + 4) == end;
}

}  // namespace

void TArcUnZip::ReadCentralRecords(THugeStream& s, int64_t start, int64_t end, bool strict) {
  TBufferedReader r(s, start);
  const uint64_t total = endCentral_.GetTotalEntries();
  const uint64_t size = endCentral_.GetCentralSize();
  // The directory ends where its stated size says, unless that runs past the end records: then
  // it ends where they begin.
  int64_t statedEnd = end;
  if (start >= 0 && size <= static_cast<uint64_t>(end - std::min(end, start)))
    statedEnd = start + static_cast<int64_t>(size);
  else if (end != INT64_MAX && start < end)
    NoteDamage("the central directory's stated size (" + std::to_string(size) +
               " bytes) runs past its end");
  const uint64_t room =
      statedEnd > start ? static_cast<uint64_t>(statedEnd - start) / kCentralHeaderSize : 0;
  // Duplicate names are looked for once every record is in: a hash of each name with its entry,
  // sorted, so names are compared only where hashes meet. (A set holding a copy of every name
  // was most of the reading time.) The room reserved is bounded by the records of the smallest
  // size that fit in the directory, whatever a damaged end record counts.
  std::vector<std::pair<size_t, size_t>> byHash;  // (hash of the stored name, entry)
  byHash.reserve(static_cast<size_t>(std::min({total, room, uint64_t{1} << 22})));
  entries_.reserve(byHash.capacity());
  int64_t prevNameEnd = -1;  // where the previous record's name ended
  bool retried = false;

  auto fail = [&](const std::string& why) {
    NoteDamage(why);
    if (!strict && RecoveryScan()) return;
    throw EBadZipFile(std::string(zipmsg::kNotAZip) + " " + Capitalised(why) + ".");
  };
  auto centralHere = [&]() {
    uint8_t sig[4];
    const int64_t at = r.Pos();
    const bool yes = r.Read(sig, sizeof sig) && GetU32(sig) == zipsig::kCentralHeader;
    r.SetPos(at);
    return yes;
  };

  std::string raw;
  uint64_t i = 0;
  for (;; ++i) {
    // Records are read while the count or the stated size asks for more; where only one of
    // them does, a record is taken only when one stands there. None is looked for among the end
    // records.
    const bool countWants = i < total, sizeWants = r.Pos() < statedEnd;
    if (!countWants && !sizeWants) break;
    if (!countWants || !sizeWants) {
      if (r.Pos() >= end || !centralHere()) break;
    }
    CheckCancel();
    TZipHeaderInfo h;
    int64_t recPos = r.Pos();
    uint8_t fixed[kCentralHeaderSize];
    bool ok = r.Read(fixed, sizeof fixed) && GetU32(fixed) == zipsig::kCentralHeader;
    int64_t nameEnd = -1;
    if (ok) {
      ParseCentralFixed(fixed, h);
      ok = r.ReadString(raw, h.FileNameLength);
      nameEnd = r.Pos();
      ok = ok && r.ReadString(h.CentralExtra, h.ExtraFieldLength) &&
           r.ReadString(h.FileComment, h.FileCommentLen);
      ok = ok && ParseZip64Extra(reinterpret_cast<const uint8_t*>(h.CentralExtra.data()),
                                 h.CentralExtra.size(), h);
    }
    if (!ok) {
      // A record that fails right after one with an extra field: that extra length was wrong.
      // Take it as 0, re-read the previous comment from where its name ended, and try again.
      if (!retried && !entries_.empty() && entries_.back().ExtraFieldLength > 0 &&
          prevNameEnd >= 0) {
        retried = true;
        TZipHeaderInfo& prev = entries_.back();
        prev.ExtraFieldLength = 0;
        prev.CentralExtra.clear();
        ParseZip64Extra(nullptr, 0, prev);
        r.SetPos(prevNameEnd);
        if (!r.ReadString(prev.FileComment, prev.FileCommentLen))
          return fail("central record " + std::to_string(i) + " is damaged");
        --i;
        continue;
      }
      return fail("central record " + std::to_string(i + 1) + " (at offset " +
                  std::to_string(recPos) + ") is damaged");
    }
    retried = false;
    prevNameEnd = nameEnd;
    h.CentralOffset = recPos;
    h.OEMMode = OEMConvert;
    std::string full = DecodeName(h, raw, OEMConvert);
    // A folder marked only by its attributes (no trailing "/") is shown, listed and extracted as
    // the folder it is; its stored bytes stay as they are.
    if (!full.empty() && full.back() != '/' && FolderByAttribute(h)) full += '/';
    h.SetNames(raw, full);
    byHash.emplace_back(std::hash<std::string>{}(full), entries_.size());
    entries_.push_back(std::move(h));
  }
  // No record where the directory should start: its offset is wrong.
  if (i == 0 && total > 0)
    return fail("no central record at the directory's stated offset " + std::to_string(start));
  // The count and the size must both describe the records there: an end record that counts
  // fewer would hide the rest of the directory from every later rewrite.
  // (Writers without Zip64 store the count of a larger directory modulo 65536: all its records
  // are read, which is no damage.)
  const bool wrapped = !endCentral_.HasZip64 && i > 0xFFFF && (i & 0xFFFF) == total;
  if (i != total && !wrapped)
    NoteDamage("the end record counts " + std::to_string(total) +
               " entries, the central directory holds " + std::to_string(i));
  else if (r.Pos() != statedEnd && !SignatureFills(r, statedEnd))
    NoteDamage("the central directory's stated size (" + std::to_string(size) +
               " bytes) differs from its records (" + std::to_string(r.Pos() - start) + " bytes)");
  if (strict && !damage_.empty()) throw EBadZipFile();

  // Equal names (the split into folder and name is the same for both) end up side by side.
  auto names = [this](const std::pair<size_t, size_t>& e) {
    const TZipHeaderInfo& h = entries_[e.second];
    return std::tie(e.first, h.FilePath, h.FileName);
  };
  std::sort(byHash.begin(), byHash.end(),
            [&](const auto& a, const auto& b) { return names(a) < names(b); });
  for (size_t i = 1; i < byHash.size(); ++i)
    if (names(byHash[i - 1]) == names(byHash[i]))
      return fail("two central records name \"" + entries_[byHash[i].second].FullName() + "\"");
}

void TArcUnZip::CheckDataRanges(bool strict) {
  // An entry's local header, name and data lie between its offset and the next entry's (or the
  // central directory). Entries that share bytes let a small archive expand without bound (many
  // entries on one header, or each entry's data holding the next ones), so such an archive is
  // refused. The local extra field is only known from the local header: the bound checked here
  // counts the central name length, and extraction checks the whole range against NextOffset.
  if (entries_.empty()) return;
  std::vector<size_t> byOffset(entries_.size());
  for (size_t i = 0; i < byOffset.size(); ++i) byOffset[i] = i;
  auto key = [this](size_t i) {
    return std::pair(entries_[i].DiskNumber(), entries_[i].LocalHeaderOffset());
  };
  std::sort(byOffset.begin(), byOffset.end(), [&](size_t a, size_t b) { return key(a) < key(b); });
  const bool haveDirectory = !fromZfc_;
  const uint32_t directoryDisk = endCentral_.GetCentralDiskNo();
  const uint64_t directoryStart = endCentral_.GetCentralOffset();
  auto plus = [](uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; };
  for (size_t k = 0; k < byOffset.size(); ++k) {
    TZipHeaderInfo& h = entries_[byOffset[k]];
    const uint32_t disk = h.DiskNumber();
    const uint64_t offset = h.LocalHeaderOffset();
    uint64_t next = UINT64_MAX;
    if (k + 1 < byOffset.size() && entries_[byOffset[k + 1]].DiskNumber() == disk)
      next = entries_[byOffset[k + 1]].LocalHeaderOffset();
    else if (haveDirectory && disk == directoryDisk && offset < directoryStart)
      next = directoryStart;
    // Offsets compare as stated; the bound kept is the position in the file.
    h.NextOffset = next == UINT64_MAX ? next : plus(next, static_cast<uint64_t>(offsetShift_));
    uint64_t end = plus(plus(offset, kLocalHeaderSize + h.FileNameLength), h.CompressedSize());
    if (end > next) {
      const TZipHeaderInfo& other =
          k + 1 < byOffset.size() && entries_[byOffset[k + 1]].DiskNumber() == disk
              ? entries_[byOffset[k + 1]]
              : h;
      std::string what =
          &other == &h
              ? "Entry \"" + h.FullName() + "\" runs into the central directory"
              : "Entries \"" + h.FullName() + "\" and \"" + other.FullName() + "\" overlap";
      NoteDamage(what);
      if (!strict && RecoveryScan()) return;
      throw EBadZipFile(std::string(zipmsg::kNotAZip) + " " + what + " (possible zip bomb).");
    }
  }
}

void TArcUnZip::Resort() {
  order_.resize(entries_.size());
  for (size_t i = 0; i < order_.size(); ++i) order_[i] = i;
  if (sortMode_ == TZipSortMode::ByNone) return;
  auto key = [this](size_t i) -> const TZipHeaderInfo& { return entries_[i]; };
  auto rate = [](const TZipHeaderInfo& h) {
    uint64_t u = h.UncompressedSize();
    return u == 0 ? 0.0 : 1.0 - static_cast<double>(h.CompressedSize()) / static_cast<double>(u);
  };
  std::stable_sort(order_.begin(), order_.end(), [&](size_t a, size_t b) {
    const auto& x = key(a);
    const auto& y = key(b);
    switch (sortMode_) {
      case TZipSortMode::ByName:
        return LowerAscii(x.FullName()) < LowerAscii(y.FullName());
      case TZipSortMode::ByFileName: {
        auto xa = LowerAscii(x.FileName), ya = LowerAscii(y.FileName);
        if (xa != ya) return xa < ya;
        return LowerAscii(x.FilePath) < LowerAscii(y.FilePath);
      }
      case TZipSortMode::ByDirectoryName: {
        auto xa = LowerAscii(x.FilePath), ya = LowerAscii(y.FilePath);
        if (xa != ya) return xa < ya;
        return LowerAscii(x.FileName) < LowerAscii(y.FileName);
      }
      case TZipSortMode::ByDate:
        return x.ModifDateTime < y.ModifDateTime;
      case TZipSortMode::ByCompressedSize:
        return x.CompressedSize() < y.CompressedSize();
      case TZipSortMode::ByUnCompressedSize:
        return x.UncompressedSize() < y.UncompressedSize();
      case TZipSortMode::ByRate:
        return rate(x) < rate(y);
      case TZipSortMode::ByNone:
        return false;
    }
    return false;
  });
}
