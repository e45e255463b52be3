// Extracting and testing entries: which entries are taken, where each one goes, its data found
// and checked, the password and overwrite questions, and the decompression. What is written to
// disk and where is decided by the sandboxed writer (extractwriter.h).
//
// A stored name with a ".." segment, or that is empty, "." or "..", is never written (reason
// CreateError); absolute stored folders go below DestDir when it is set. Device entries are not
// created; setuid/setgid bits are restored only for root. Decompressed data never exceeds the
// entry's stated size.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "archive/arcunzip.h"
#include "archive/entrydecoder.h"
#include "archive/extractwriter.h"
#include "archive/zipaes.h"
#include "archive/zipcrypt.h"
#include "archive/zipexceptions.h"
#include "archive/zipextra.h"
#include "archive/zipvolumes.h"
#include "platform/atomicfile.h"
#include "platform/wildcard.h"

namespace {

constexpr size_t kInBufSize = 65536;   // compressed data read per step
constexpr size_t kOutBufSize = 65536;  // decompressed data written per step

// True for a name made of "." segments only ("./", as bsdtar stores the folder it archived):
// the extraction folder itself.
bool NamesTheFolderItself(const std::string& full) {
  if (full.empty()) return false;
  size_t start = 0;
  while (start <= full.size()) {
    size_t end = full.find('/', start);
    if (end == std::string::npos) end = full.size();
    std::string_view seg(full.data() + start, end - start);
    if (!seg.empty() && seg != ".") return false;
    start = end + 1;
  }
  return true;
}

// A stored name that may be written: not empty, no NUL, no ".." segment, and naming something
// other than "." itself.
bool SafeStoredName(const std::string& full) {
  if (full.empty() || full.find('\0') != std::string::npos) return false;
  bool any = false;
  size_t start = 0;
  while (start <= full.size()) {
    size_t end = full.find('/', start);
    if (end == std::string::npos) end = full.size();
    std::string seg = full.substr(start, end - start);
    if (seg == "..") return false;
    if (!seg.empty() && seg != ".") any = true;
    start = end + 1;
  }
  return any;
}

bool HasDrive(const std::string& s) {
  return s.size() >= 2 && s[1] == ':' &&
         ((s[0] >= 'a' && s[0] <= 'z') || (s[0] >= 'A' && s[0] <= 'Z'));
}

std::string Join(const std::string& a, const std::string& b) {
  if (a.empty()) return b;
  if (a.back() == '/') return b.size() && b[0] == '/' ? a + b.substr(1) : a + b;
  return b.size() && b[0] == '/' ? a + b : a + "/" + b;
}

bool StartsWithNoCase(const std::string& s, const std::string& prefix) {
  if (prefix.size() > s.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char a = s[i], b = prefix[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a + 32);
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b + 32);
    if (a != b) return false;
  }
  return true;
}

// The mode an entry is restored with. A Unix entry gets its permission bits as stored, as unzip
// restores them: the sticky bit too, the set-user-ID and set-group-ID bits only for root. Other
// entries get the default under the umask, read-only when their DOS attribute says so.
mode_t RestoredMode(const TZipHeaderInfo& h, bool folder, bool retain, mode_t umask) {
  if (retain && h.HostByte() == 3 && (h.ExtFileAttrib >> 16) != 0) {
    mode_t m = static_cast<mode_t>(h.ExtFileAttrib >> 16) & 07777;
    if (::geteuid() != 0) m &= static_cast<mode_t>(~(S_ISUID | S_ISGID));
    return m;
  }
  mode_t m = folder ? 0777 : (retain && (h.ExtFileAttrib & 0x01)) ? 0444 : 0666;
  return m & ~umask;
}

// The owner an entry is restored with: only root gives files away, as tar does; others keep
// their own files.
bool RestoredOwner(const TZipHeaderInfo& h, TFileOwner& owner) {
  return ::geteuid() == 0 && EntryOwner(h, owner.Uid, owner.Gid);
}

// File type bits of a Unix-made entry, 0 when the entry carries none.
mode_t StoredType(const TZipHeaderInfo& h) {
  if (h.HostByte() != 3) return 0;
  return static_cast<mode_t>(h.ExtFileAttrib >> 16) & S_IFMT;
}

// The box for a method without a decoder. PPMd is named: its model has no public description
// exact enough to decode it, so it stays unavailable rather than unknown.
std::string UnknownMethodText(int method) {
  if (method == 98)
    return std::string(zipmsg::kUnknownMethod) + ": PPMd (method 98) is not available";
  return zipmsg::kUnknownMethod;
}

constexpr size_t kLinkTextMax = 4095;  // PATH_MAX less the NUL

// True when a link made at target (a path at or below trusted) with text as its target resolves
// inside trusted. The text must be relative; ".." is taken only at its start, and no further up
// than the folders target lies below trusted: after a name, ".." could climb out of wherever a
// link of that name leads. Names after it go down, through folders or through links that passed
// this same check.
bool LinkStaysInside(const std::string& target, const std::string& trusted,
                     const std::string& text) {
  if (text.empty() || text[0] == '/' || text.find('\0') != std::string::npos) return false;
  std::string rel;
  if (trusted == ".") {
    if (!target.empty() && target[0] == '/') return false;
    rel = target;
  } else if (target.compare(0, trusted.size() + 1, trusted + "/") == 0) {
    rel = target.substr(trusted.size() + 1);
  } else {
    return false;
  }
  long depth = -1;  // the link's own name is not a folder it lies in
  for (size_t start = 0; start <= rel.size();) {
    size_t end = rel.find('/', start);
    if (end == std::string::npos) end = rel.size();
    const std::string_view seg(rel.data() + start, end - start);
    if (!seg.empty() && seg != ".") ++depth;
    start = end + 1;
  }
  bool named = false;
  for (size_t start = 0; start <= text.size();) {
    size_t end = text.find('/', start);
    if (end == std::string::npos) end = text.size();
    const std::string_view seg(text.data() + start, end - start);
    start = end + 1;
    if (seg.empty() || seg == ".") continue;
    if (seg == "..") {
      if (named || --depth < 0) return false;
    } else {
      named = true;
    }
  }
  return true;
}

}  // namespace

struct TArcUnZip::TExtractRun {
  mode_t umask = 022;
  std::string trusted;  // folder below which symbolic links are never followed
  struct TFolder {
    std::string path;
    mode_t mode;
    bool hasTime;
    std::time_t time;
    bool hasOwner;
    TFileOwner owner;
  };
  std::vector<TFolder> folders;  // folder entries: modes and times set after their contents
  struct TLink {
    std::string target;
    std::string text;
    int index;
    bool hasTime;
    std::time_t time;
    bool hasOwner;
    TFileOwner owner;
  };
  std::vector<TLink> links;  // made after every file, deepest first
  uint64_t totalBytes = 0;
  uint64_t doneBytes = 0;
  int lastPercent = -1;
  std::vector<uint8_t> in = std::vector<uint8_t>(kInBufSize);
  std::vector<uint8_t> out = std::vector<uint8_t>(kOutBufSize);
};

int TArcUnZip::Extract() {
  return RunExtraction(DoAll ? TTake::All : TTake::Patterns, false);
}

int TArcUnZip::ExtractSelected() {
  return RunExtraction(TTake::Selected, false);
}

bool TArcUnZip::TestArchive() {
  RunExtraction(TTake::All, true);
  int good = 0;
  for (const auto& h : entries_) good += h.TestState == TZipTestState::Good;
  // A damaged directory may have lost entries that no test can see.
  return good == EntryCount() && damage_.empty();
}

bool TArcUnZip::TestEntry(int i) {
  size_t phys = PhysicalIndex(i);
  if (entries_[phys].TestState == TZipTestState::Untested) RunExtraction(TTake::All, true, i);
  if (phys >= entries_.size()) return false;  // the directory was read again meanwhile
  return entries_[phys].TestState == TZipTestState::Good;
}

void TArcUnZip::Skip(TSkipReason reason, const std::string& name, int index) {
  bool retry = false;
  if (OnSkippingFile) OnSkippingFile(this, reason, name, index, retry);
}

bool TArcUnZip::SkipBecause(TSkipReason reason, const std::string& name, int index,
                            const std::string& why, bool canRetry) {
  bool retry = false;
  skipText_ = why;
  skipCanRetry_ = canRetry;
  struct TClear {
    TArcUnZip& z;
    ~TClear() {
      z.skipText_.clear();
      z.skipCanRetry_ = true;
    }
  } clear{*this};
  if (OnSkippingFile) OnSkippingFile(this, reason, name, index, retry);
  return retry;
}

bool TArcUnZip::AskNewPassword(int index) {
  if (!OnBadPassword) return false;
  std::string np = Password;
  OnBadPassword(this, index, np);
  const bool changed = np != Password;
  if (changed) {
    WipeSecret(Password);
    Password = np;
  }
  WipeSecret(np);
  return changed;
}

std::string TArcUnZip::TargetName(const TZipHeaderInfo& h) const {
  const std::string& dest = destDir_;
  std::string folder;
  if (RecreateDirs && !h.FilePath.empty()) {
    std::string stored = h.FilePath;
    for (const auto& prefix : RelativePathList) {
      if (!prefix.empty() && StartsWithNoCase(stored, prefix)) {
        stored = stored.substr(prefix.size());
        break;
      }
    }
    if (!stored.empty() && stored[0] == '/')
      folder = dest.empty() ? stored : Join(dest, stored);
    else if (HasDrive(stored))
      folder = dest.empty() ? stored : Join(dest, stored.substr(2));
    else
      folder = dest.empty() ? stored : Join(dest, stored);
  } else {
    folder = dest.empty() ? "" : Join(dest, "");
  }
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder + h.FileName;
}

int TArcUnZip::RunExtraction(TTake take, bool testing, int onlyIndex) {
  TBusyGuard busy(*this);
  struct TClearList {
    std::vector<std::string>& list;
    ~TClearList() { list.clear(); }
  } clearList{FilesList};
  struct TCloseFile {
    TArcUnZip& z;
    ~TCloseFile() { z.CloseFileUnlessKept(); }
  } closeFile{*this};
  cancel_ = false;

  EnsureDirectory();
  TExtractRun run;
  run.umask = CurrentUmask();
  if (!testing) {
    if (!destDir_.empty()) {
      std::error_code ec;
      std::filesystem::create_directories(destDir_, ec);
      run.trusted = destDir_;
    } else {
      run.trusted = '.';
    }
  }

  // Entries in presentation order; a multi-volume archive goes in physical order.
  std::vector<std::pair<size_t, int>> taken;
  bool physical = MultiZipInfo.MultiMode != TMultiMode::mmNone;
  std::vector<int> presentation(entries_.size());
  for (int i = 0; i < EntryCount(); ++i) presentation[order_[static_cast<size_t>(i)]] = i;
  for (int k = 0; k < EntryCount(); ++k) {
    size_t phys = physical ? static_cast<size_t>(k) : order_[static_cast<size_t>(k)];
    int index = presentation[phys];
    TZipHeaderInfo& h = entries_[phys];
    h.TakeMark = false;
    if (onlyIndex >= 0 && index != onlyIndex) continue;
    bool take1 = false;
    switch (take) {
      case TTake::All:
        take1 = true;
        break;
      case TTake::Selected:
        take1 = h.Selected;
        if (h.Selected) {
          h.Selected = false;
          --selectedCount_;
        }
        break;
      case TTake::Patterns:
        for (const auto& p : FilesList)
          if (WildcardMatch(p, h.FullName())) take1 = true;
        break;
    }
    if (take1 && h.IsFolder() && !RecreateDirs && !testing) take1 = false;
    if (!take1) continue;
    h.TakeMark = true;
    taken.emplace_back(phys, index);
    run.totalBytes += h.UncompressedSize();
  }

  bool stop = false;
  if (OnStartUnZipInfo)
    OnStartUnZipInfo(this, static_cast<int>(taken.size()), static_cast<int64_t>(run.totalBytes),
                     stop);
  int count = 0;
  if (!stop) {
    for (const auto& [phys, index] : taken) {
      CheckCancel();
      bool good = false;
      TZipHeaderInfo& h = entries_[phys];
      h.Problem = TEntryProblem::None;
      try {
        good = ExtractOne(phys, index, testing, run);
      } catch (const EBiggerThanUncompressed&) {
        h.Problem = TEntryProblem::TooLong;
        if (!testing) Skip(srCreateError, h.FullName(), index);
      } catch (const EFatalUnzipError&) {
        if (h.Problem == TEntryProblem::None) h.Problem = TEntryProblem::Truncated;
        if (!testing) Skip(srCreateError, h.FullName(), index);
      } catch (const ECanceledUnzipToBuffer&) {
      } catch (const EMissingVolume& e) {
        // The entries on the parts that are there are still taken.
        h.Problem = TEntryProblem::MissingVolume;
        missingParts_[phys] = e.Part;
        if (!testing) Skip(srCreateError, h.FullName(), index);
      }
      if (good) {
        h.Problem = TEntryProblem::None;
        missingParts_.erase(phys);
      }
      if (testing) h.TestState = good ? TZipTestState::Good : TZipTestState::Bad;
      if (good) ++count;
    }
  }

  if (!testing) count += MakeLinks(run);

  // Folder entries get their modes and times once their contents are written, deepest first.
  std::sort(run.folders.begin(), run.folders.end(),
            [](const auto& a, const auto& b) { return a.path.size() > b.path.size(); });
  for (const auto& f : run.folders) {
    TOwnedFd fd = OpenFolderBelow(f.path, run.trusted, false, FollowOwnLinks);
    if (fd.Get() < 0) continue;
    // The owner first: a change of owner clears the set-ID bits the mode then gives back.
    if (f.hasOwner) (void)::fchown(fd.Get(), f.owner.Uid, f.owner.Gid);
    if (RetainAttributes) ::fchmod(fd.Get(), f.mode);
    if (f.hasTime) {
      struct timespec ts[2] = {{f.time, 0}, {f.time, 0}};
      ::futimens(fd.Get(), ts);
    }
  }

  if (OnTotalPercentDone && run.lastPercent != 100) OnTotalPercentDone(this, 100);
  if (OnUnZipComplete) OnUnZipComplete(this, count);
  return count;
}

bool TArcUnZip::ExtractOne(size_t phys, int index, bool testing, TExtractRun& run) {
  TZipHeaderInfo& h = entries_[phys];
  std::string target;
  if (!ChooseTarget(h, index, testing, target)) return false;
  if (h.IsFolder()) return testing || ExtractFolder(h, index, target, run);
  const int64_t dataPos = FindEntryData(h);
  if (!MethodKnown(h, testing)) return false;
  const bool link = StoredType(h) == S_IFLNK;

  TExtractTarget where;
  bool overwriteDecided = false;
  for (;;) {
    std::unique_ptr<TEntryCipher> crypt;
    if (h.IsEncrypted() || h.IsAes()) {
      TPasswordCheck check = CheckPassword(h, index, dataPos, crypt);
      if (check == TPasswordCheck::Retry) continue;
      if (check == TPasswordCheck::Refused) return false;
    }
    if (!testing && !link && !overwriteDecided) {
      overwriteDecided = true;
      if (!DecideOverwrite(h, index, target, where, run)) return false;
    }
    uint32_t crc = 0;
    bool dataError = false;
    std::string text;
    TDataOutcome outcome;
    try {
      outcome = link ? ReadLinkText(h, index, dataPos, crypt.get(), text, crc, dataError, run)
                     : WriteEntryData(h, index, dataPos, crypt.get(), testing ? nullptr : &where,
                                      crc, dataError, run);
    } catch (const EDecoderMemory& e) {
      // Refused before the memory was taken: a header that asks for that much is not trusted.
      h.Problem = TEntryProblem::DecoderMemory;
      if (!testing)
        ShowMessage(zmDecoderMemory, zipmsg::kZipErrorTitle, h.FullName() + ": " + e.what(),
                    zbOK | zbIconError);
      return false;
    }
    if (outcome == TDataOutcome::Written) {
      if (link && !testing) {
        QueueLink(h, index, target, text, run);
        return false;  // counted when made
      }
      if (OnEndUnZip) OnEndUnZip(this, index, target);
      return true;
    }
    if (outcome == TDataOutcome::NotCreated) return false;
    if (outcome == TDataOutcome::Unauthentic) {
      // The keys are right (the verifier matched) but the data is not what was encrypted.
      h.Problem = TEntryProblem::BadAuthentication;
      if (OnBadCRC) OnBadCRC(this, crc, h.CRC32, index);
      return false;
    }
    // Bad data: a wrong password shows only here for an entry whose check byte matched (an AES
    // entry's code vouches for its password, so its bad data is damage).
    if (h.IsEncrypted() && !h.IsAes()) {
      if (AskNewPassword(index)) continue;
      h.Problem = TEntryProblem::BadPassword;
      Skip(srBadPassword, h.FullName(), index);
      return false;
    }
    h.Problem = dataError ? TEntryProblem::DamagedData : TEntryProblem::BadCRC;
    if (OnBadCRC) OnBadCRC(this, crc, h.CRC32, index);
    return false;
  }
}

bool TArcUnZip::ChooseTarget(const TZipHeaderInfo& h, int index, bool testing,
                             std::string& target) {
  const std::string stored = h.FullName();
  target = stored;
  if (!testing) {
    // The extraction folder itself ("./") is there already: nothing to write, nothing to report.
    if (h.IsFolder() && NamesTheFolderItself(stored)) return false;
    // Names that could lead outside the target folder and devices are never written; links are
    // made at the end (MakeLinks). A FIFO entry with data (what "zip -" stores for a pipe) is
    // written as a regular file, as other extractors do.
    mode_t type = StoredType(h);
    bool special =
        type != 0 && type != S_IFREG && type != S_IFDIR && type != S_IFIFO && type != S_IFLNK;
    if (!SafeStoredName(stored)) {
      SkipBecause(srCreateError, stored, index, "its name leads outside the destination");
      return false;
    }
    if (special) {
      SkipBecause(srCreateError, stored, index, "a device entry, which is never created");
      return false;
    }
    target = TargetName(h);
  }
  bool skip = false;
  if (OnStartUnZip) OnStartUnZip(this, index, target, skip);
  return !skip;
}

bool TArcUnZip::ExtractFolder(const TZipHeaderInfo& h, int index, const std::string& target,
                              TExtractRun& run) {
  std::string path = target;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  TOwnedFd fd = OpenFolderBelow(path, run.trusted, true, FollowOwnLinks);
  if (fd.Get() < 0) {
    Skip(srCreateError, h.FullName(), index);
    return false;
  }
  TExtractRun::TFolder folder{path, RestoredMode(h, true, true, run.umask), false, 0, false, {}};
  folder.hasTime = EntryModTime(h, folder.time);
  folder.hasOwner = RestoredOwner(h, folder.owner);
  run.folders.push_back(std::move(folder));
  if (OnEndUnZip) OnEndUnZip(this, index, target);
  return true;
}

// Where the data starts: after the local header, its name and its extra field. The local header
// must name this entry, and the data must end before the next entry begins: entries that share
// their data are refused, whatever the directory says.
int64_t TArcUnZip::FindEntryData(TZipHeaderInfo& h) {
  THugeStream& s = ArchiveStream();
  uint8_t local[kLocalHeaderSize];
  // Leading bytes the offsets do not count come before the header.
  uint64_t lho = h.LocalHeaderOffset();
  const uint64_t shift = static_cast<uint64_t>(offsetShift_);
  lho = lho > UINT64_MAX - shift ? UINT64_MAX : lho + shift;
  h.Problem = TEntryProblem::LocalHeader;
  // In a set of volumes the header lies on volume EntryDiskNumber at its offset there; the data
  // may run on over the ends of the volumes after it.
  uint64_t base = 0;
  if (volumeSet_) {
    if (lho >> TVolumeSetStream::kShift || h.DiskNumber() > lastVolume_) throw EFatalUnzipError();
    base = static_cast<uint64_t>(TVolumeSetStream::Address(h.DiskNumber(), 0));
    lho += base;
  }
  const uint64_t nextOffset = h.NextOffset == UINT64_MAX ? UINT64_MAX : base + h.NextOffset;
  if (lho > static_cast<uint64_t>(INT64_MAX) - 0x30000) throw EFatalUnzipError();
  s.ReadExactAt(static_cast<int64_t>(lho), local, sizeof local);
  if (GetU32(local) != zipsig::kLocalHeader) throw EFatalUnzipError();
  std::string localName(GetU16(local + 26), '\0');
  s.ReadExactAt(static_cast<int64_t>(lho + kLocalHeaderSize), localName.data(), localName.size());
  std::string localExtra(GetU16(local + 28), '\0');
  s.ReadExactAt(static_cast<int64_t>(lho + kLocalHeaderSize + localName.size()), localExtra.data(),
                localExtra.size());
  if (!LocalNameMatches(h, localName, localExtra) && localName != StoredCentralName(s, h))
    throw EFatalUnzipError();
  int64_t dataPos = static_cast<int64_t>(lho) + static_cast<int64_t>(kLocalHeaderSize) +
                    GetU16(local + 26) + GetU16(local + 28);
  h.Problem = TEntryProblem::Overlap;
  if (h.CompressedSize() > nextOffset || static_cast<uint64_t>(dataPos) > nextOffset ||
      nextOffset - static_cast<uint64_t>(dataPos) < h.CompressedSize())
    throw EFatalUnzipError();
  h.Problem = TEntryProblem::None;
  return dataPos;
}

bool TArcUnZip::MethodKnown(TZipHeaderInfo& h, bool testing) {
  bool strong = (h.Flag & 0x0040) != 0;
  uint16_t method = h.ComprMethod;
  if (h.IsAes()) {
    // Encryption is a layer of its own: the data under it may be of any method.
    TAesField aes;
    const std::string problem = CheckAesEntry(h, aes);
    if (!problem.empty()) {
      h.Problem = TEntryProblem::BadAesHeader;
      if (!testing)
        ShowMessage(zmBadAesHeader, zipmsg::kZipErrorTitle,
                    std::string(zipmsg::kBadAesHeader) + " (" + problem + "): " + h.FullName(),
                    zbOK | zbIconError);
      return false;
    }
    method = aes.Method;
  }
  if ((method == 0 || DecodesMethod(method)) && !strong) return true;
  h.Problem = TEntryProblem::UnknownMethod;
  if (!testing)
    ShowMessage(zmUnknownMethod, zipmsg::kZipErrorTitle, UnknownMethodText(method),
                zbOK | zbIconError);
  return false;
}

// The traditional 12-byte encryption header, decrypted, ends with the high byte of the CRC (with
// flag bit 3, of the DOS time); an AES entry's salt is followed by the verifier its keys must
// give. A mismatch asks for another password.
TArcUnZip::TPasswordCheck TArcUnZip::CheckPassword(TZipHeaderInfo& h, int index, int64_t dataPos,
                                                   std::unique_ptr<TEntryCipher>& crypt) {
  bool good = false;
  if (h.IsAes()) {
    TAesField aes;
    CheckAesEntry(h, aes);  // known to be sound (MethodKnown)
    const size_t saltSize = AesSaltSize(aes.Strength);
    uint8_t head[16 + kAesVerifierSize];
    ArchiveStream().ReadExactAt(dataPos, head, saltSize + kAesVerifierSize);
    auto cipher = std::make_unique<TAesCipher>(Password, aes.Strength, head);
    good = std::memcmp(cipher->Verifier(), head + saltSize, kAesVerifierSize) == 0;
    crypt = std::move(cipher);
  } else {
    uint8_t head[12];
    if (h.CompressedSize() < 12) throw EFatalUnzipError();
    ArchiveStream().ReadExactAt(dataPos, head, sizeof head);
    crypt = std::make_unique<TZipCrypt>(Password);
    crypt->Decrypt(head, sizeof head);
    uint8_t expected = (h.Flag & 0x0008) ? static_cast<uint8_t>(h.ModifDateTime >> 8)
                                         : static_cast<uint8_t>(h.CRC32 >> 24);
    good = head[11] == expected;
  }
  if (good) return TPasswordCheck::Good;
  crypt.reset();
  if (AskNewPassword(index)) return TPasswordCheck::Retry;
  h.Problem = TEntryProblem::BadPassword;
  Skip(srBadPassword, h.FullName(), index);
  return TPasswordCheck::Refused;
}

// Opens the target's folder and decides what happens to a file already at the target's name.
bool TArcUnZip::DecideOverwrite(const TZipHeaderInfo& h, int index, std::string& target,
                                TExtractTarget& where, const TExtractRun& run) {
  const std::string stored = h.FullName();
  if (!where.Open(target, run.trusted, FollowOwnLinks)) {
    Skip(srCreateError, stored, index);
    return false;
  }
  struct stat st;
  if (::fstatat(where.Dir.Get(), where.Base.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return true;
  if (S_ISDIR(st.st_mode)) {
    Skip(srCreateError, stored, index);
    return false;
  }
  bool overwrite = false;
  std::time_t entryTime = 0;
  bool validTime = EntryModTime(h, entryTime);
  switch (OverwriteMode) {
    case TUZOverwriteMode::Always:
      overwrite = true;
      break;
    case TUZOverwriteMode::Never:
      overwrite = false;
      break;
    case TUZOverwriteMode::ifNewer:
      overwrite = validTime && entryTime > st.st_mtime;
      break;
    case TUZOverwriteMode::ifOlder:
      overwrite = validTime && entryTime < st.st_mtime;
      break;
    case TUZOverwriteMode::Prompt:
      if (OnPromptForOverwrite) {
        std::string name = target;
        OnPromptForOverwrite(this, overwrite, index, name);
        if (overwrite && name != target) {
          target = name;
          if (!where.Open(target, run.trusted, FollowOwnLinks)) {
            Skip(srCreateError, stored, index);
            return false;
          }
        }
      } else {
        overwrite = ShowMessage(zmFileExists, zipmsg::kFileExistsTitle,
                                "Replace existing file " + h.FileName + "?",
                                zbYesNo | zbIconQuestion) == zrYes;
      }
      break;
  }
  if (!overwrite) {
    Skip(srNoOverwrite, stored, index);
    return false;
  }
  if (S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR) && !ReplaceReadOnly) {
    Skip(srCreateError, stored, index);
    return false;
  }
  return true;
}

// The data goes into a temporary file beside the target, renamed over it once good; when
// testing (where is null) it goes nowhere.
TArcUnZip::TDataOutcome TArcUnZip::WriteEntryData(TZipHeaderInfo& h, int index, int64_t dataPos,
                                                  TEntryCipher* crypt, TExtractTarget* where,
                                                  uint32_t& crc, bool& dataError, TExtractRun& run,
                                                  int sinkFd) {
  TExtractFile file;
  if (where && !file.Create(where->Dir.Get())) {
    Skip(srCreateError, h.FullName(), index);
    return TDataOutcome::NotCreated;
  }
  uint64_t written = 0;
  const int64_t start = dataPos + static_cast<int64_t>(crypt ? crypt->HeaderSize() : 0);
  // The decoder sees the data as the cipher hands it on: an AES entry's under the method its AES
  // field names. An AE-2 entry stores no CRC; its authentication code stands for it.
  bool crcStored = true;
  auto* aes = dynamic_cast<TAesCipher*>(crypt);
  if (aes) {
    TZipHeaderInfo inner = h;
    TAesField field;
    CheckAesEntry(h, field);
    inner.ComprMethod = field.Method;
    crcStored = field.Version != 2;
    Decompress(inner, start, crypt, where ? file.Fd() : sinkFd, crc, written, dataError, run);
    // Nothing is kept of data that is not what was encrypted.
    if (!Authentic(h, start, *aes, run)) return TDataOutcome::Unauthentic;
  } else {
    Decompress(h, start, crypt, where ? file.Fd() : sinkFd, crc, written, dataError, run);
  }
  if (dataError || (crcStored && crc != h.CRC32) || written != h.UncompressedSize())
    return TDataOutcome::Bad;
  if (!where) return TDataOutcome::Written;
  const mode_t mode = RestoredMode(h, false, RetainAttributes, run.umask);
  std::time_t t;
  const bool validTime = EntryModTime(h, t);
  TFileOwner owner;
  const bool hasOwner = RestoredOwner(h, owner);
  if (!file.Finish(where->Base, mode, validTime ? &t : nullptr, FlushFilesOnClose,
                   hasOwner ? &owner : nullptr)) {
    Skip(srCreateError, h.FullName(), index);
    return TDataOutcome::NotCreated;
  }
  return TDataOutcome::Written;
}

// A link's target is its entry's data, decompressed (and checked) in memory.
TArcUnZip::TDataOutcome TArcUnZip::ReadLinkText(TZipHeaderInfo& h, int index, int64_t dataPos,
                                                TEntryCipher* crypt, std::string& text,
                                                uint32_t& crc, bool& dataError, TExtractRun& run) {
  if (h.UncompressedSize() > kLinkTextMax) {
    dataError = true;
    return TDataOutcome::Bad;
  }
  TOwnedFd mem(::memfd_create("arcavo-link", MFD_CLOEXEC));
  if (mem.Get() < 0) {
    SkipBecause(srCreateError, h.FullName(), index, "no memory for the link's target");
    return TDataOutcome::NotCreated;
  }
  const TDataOutcome outcome =
      WriteEntryData(h, index, dataPos, crypt, nullptr, crc, dataError, run, mem.Get());
  if (outcome != TDataOutcome::Written) return outcome;
  text.assign(static_cast<size_t>(h.UncompressedSize()), '\0');
  if (::pread(mem.Get(), text.data(), text.size(), 0) != static_cast<ssize_t>(text.size()))
    return TDataOutcome::Bad;
  return TDataOutcome::Written;
}

void TArcUnZip::QueueLink(const TZipHeaderInfo& h, int index, const std::string& target,
                          const std::string& text, TExtractRun& run) {
  if (text.empty() || text.find('\0') != std::string::npos) {
    SkipBecause(srCreateError, h.FullName(), index, "the link has no valid target");
    return;
  }
  if (!KeepLinks && !LinkStaysInside(target, run.trusted, text)) {
    SkipBecause(srCreateError, h.FullName(), index, "link points outside the destination");
    return;
  }
  TExtractRun::TLink link{target, text, index, false, 0, false, {}};
  link.hasTime = EntryModTime(h, link.time);
  link.hasOwner = RestoredOwner(h, link.owner);
  run.links.push_back(std::move(link));
}

// Makes the links of the extraction, deepest first: no link is made before one below it, so no
// link is ever made (or anything written) through another this extraction made. Returns the
// number made.
int TArcUnZip::MakeLinks(TExtractRun& run) {
  std::stable_sort(run.links.begin(), run.links.end(),
                   [](const auto& a, const auto& b) { return a.target.size() > b.target.size(); });
  int made = 0;
  for (const auto& l : run.links) {
    CheckCancel();
    const size_t phys = PhysicalIndex(l.index);
    const TZipHeaderInfo& h = entries_[phys];
    TExtractTarget where;
    std::string target = l.target;
    if (!DecideOverwrite(h, l.index, target, where, run)) continue;
    // Made under a new name and renamed over the target: what had the name goes at once.
    std::string temp;
    for (int attempt = 0; attempt < 8; ++attempt) {
      temp = ".arcavo-link-" + std::to_string(::getpid()) + "-" + std::to_string(made) + "-" +
             std::to_string(attempt);
      if (::symlinkat(l.text.c_str(), where.Dir.Get(), temp.c_str()) == 0) break;
      if (errno != EEXIST) {
        temp.clear();
        break;
      }
      temp.clear();
    }
    if (temp.empty() ||
        ::renameat(where.Dir.Get(), temp.c_str(), where.Dir.Get(), where.Base.c_str()) != 0) {
      const int error = errno;
      if (!temp.empty()) ::unlinkat(where.Dir.Get(), temp.c_str(), 0);
      SkipBecause(srCreateError, h.FullName(), l.index,
                  std::string("the link cannot be made: ") + std::strerror(error));
      continue;
    }
    if (l.hasOwner)
      (void)::fchownat(where.Dir.Get(), where.Base.c_str(), l.owner.Uid, l.owner.Gid,
                       AT_SYMLINK_NOFOLLOW);
    if (l.hasTime) {
      struct timespec ts[2] = {{l.time, 0}, {l.time, 0}};
      ::utimensat(where.Dir.Get(), where.Base.c_str(), ts, AT_SYMLINK_NOFOLLOW);
    }
    ++made;
    if (OnEndUnZip) OnEndUnZip(this, l.index, target);
  }
  return made;
}

// An AES entry's authentication code covers all its encrypted data: what the decoder left unread
// is taken into the code as well before the stored code is compared.
bool TArcUnZip::Authentic(const TZipHeaderInfo& h, int64_t dataStart, TAesCipher& aes,
                          TExtractRun& run) {
  THugeStream& s = ArchiveStream();
  const uint64_t length = h.CompressedSize() - aes.HeaderSize() - aes.TrailerSize();
  while (aes.Processed() < length) {
    const size_t n =
        static_cast<size_t>(std::min<uint64_t>(run.in.size(), length - aes.Processed()));
    s.ReadExactAt(dataStart + static_cast<int64_t>(aes.Processed()), run.in.data(), n);
    aes.Absorb(run.in.data(), n);
    CheckCancel();
  }
  uint8_t code[kAesCodeSize];
  s.ReadExactAt(dataStart + static_cast<int64_t>(length), code, sizeof code);
  return aes.CodeMatches(code);
}

void TArcUnZip::Decompress(const TZipHeaderInfo& h, int64_t dataPos, TEntryCipher* crypt, int outFd,
                           uint32_t& crc, uint64_t& written, bool& dataError, TExtractRun& run) {
  THugeStream& s = ArchiveStream();
  uint64_t remaining =
      h.CompressedSize() - (crypt ? crypt->HeaderSize() + crypt->TrailerSize() : 0);
  const uint64_t limit = h.UncompressedSize();
  int64_t pos = dataPos;
  crc = 0;
  written = 0;
  dataError = false;
  int lastFilePercent = -1;

  // Hands decompressed bytes on: checks the stated size first, then CRC, file and progress.
  auto emit = [&](const uint8_t* data, size_t n) {
    if (n == 0) return;
    if (n > limit - written) throw EBiggerThanUncompressed();
    crc = ZipCrc32(crc, data, n);
    if (outFd >= 0) {
      size_t done = 0;
      while (done < n) {
        ssize_t w = ::write(outFd, data + done, n - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) throw ECantWriteUCF();
        done += static_cast<size_t>(w);
      }
    }
    written += n;
    run.doneBytes += n;
    if (OnFilePercentDone && limit > 0) {
      int pct = static_cast<int>(written * 100 / limit);
      if (pct != lastFilePercent) OnFilePercentDone(this, lastFilePercent = pct);
    }
    if (OnTotalPercentDone && run.totalBytes > 0) {
      int pct = static_cast<int>(std::min<uint64_t>(run.doneBytes * 100 / run.totalBytes, 100));
      if (pct != run.lastPercent) OnTotalPercentDone(this, run.lastPercent = pct);
    }
    CheckCancel();
  };
  // Reads the next piece of compressed data, decrypted; raises at a premature end.
  auto fetch = [&](size_t want) -> size_t {
    size_t n = static_cast<size_t>(std::min<uint64_t>(want, remaining));
    if (n == 0) return 0;
    if (s.ReadAt(pos, run.in.data(), n) != n) throw EFatalUnzipError();
    if (crypt) crypt->Decrypt(run.in.data(), n);
    pos += static_cast<int64_t>(n);
    remaining -= n;
    return n;
  };

  if (h.ComprMethod == 0) {
    while (remaining > 0) {
      size_t n = fetch(run.in.size());
      emit(run.in.data(), n);
    }
    return;
  }

  // Every other method through its decoder: a stream that does not decode is damaged data; one
  // that ends early, or claims more memory than the entry may have, fails the entry.
  try {
    TDecoderEntry what{h.ComprMethod, h.Flag, remaining, limit};
    auto decoder = MakeEntryDecoder(what, [&](uint8_t* buf, size_t cap) {
      size_t n = static_cast<size_t>(std::min<uint64_t>(cap, remaining));
      if (n == 0) return size_t{0};
      if (s.ReadAt(pos, buf, n) != n) throw EFatalUnzipError();
      if (crypt) crypt->Decrypt(buf, n);
      pos += static_cast<int64_t>(n);
      remaining -= n;
      return n;
    });
    if (!decoder) throw EFatalUnzipError();
    while (size_t n = decoder->Read(run.out.data(), run.out.size())) emit(run.out.data(), n);
  } catch (const EDamagedData&) {
    dataError = true;
  } catch (const std::bad_alloc&) {
    ShowMessage(zmInflateOutOfMemory, zipmsg::kZipErrorTitle, zipmsg::kInflateOutOfMemory,
                zbOK | zbIconError);
    throw EFatalUnzipError(zipmsg::kInflateOutOfMemory);
  }
}
