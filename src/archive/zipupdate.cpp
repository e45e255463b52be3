// Rewriting existing archives: updating with new files, removing entries, saving a changed
// comment or stored folder, and building or converting self-extracting archives.
//
// Every rewrite holds the archive's writer lock from reading its directory to the rename, writes
// the complete new archive into a temporary file beside it (named with the mark a later run
// recognises and removes, should this one be killed), flushes it, and only then renames it over
// the target. Until that moment the old archive is untouched, so a failure, a cancel or a full
// disk leaves it byte for byte as it was, and the temporary file is removed.
//
// Kept entries are copied byte for byte (never recompressed) behind a rebuilt local header that
// carries the CRC and sizes; bit 3 and the data descriptor are dropped. The exception is an
// encrypted entry written with bit 3: its password check byte is the high byte of the DOS time
// only while bit 3 is set, so such an entry keeps bit 3 and its data descriptor.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "archive/arczip.h"
#include "archive/arczip_run.h"
#include "archive/filelist.h"
#include "archive/sfxconfig.h"
#include "archive/zipbytesplit.h"
#include "archive/zipexceptions.h"
#include "archive/zipextra.h"
#include "archive/zipvolumes.h"
#include "platform/archivelock.h"
#include "platform/wildcard.h"

namespace {

constexpr size_t kCopyPiece = 65536;

enum TFate : uint8_t { fKeepEntry, fDropEntry, fReplaceEntry };

std::string LowerAscii(std::string s) {
  for (auto& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return s;
}

std::string ExtensionOf(const std::string& name) {
  size_t slash = name.rfind('/');
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  return name.substr(dot);
}

bool SameFile(const std::string& a, const std::string& b) {
  if (a == b) return true;
  struct stat sa, sb;
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

std::string ReadWholeFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), path);
  std::string out;
  char buf[65536];
  for (;;) {
    ssize_t r = ::read(fd, buf, sizeof buf);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      int e = errno;
      ::close(fd);
      throw std::system_error(e, std::generic_category(), path);
    }
    if (r == 0) break;
    out.append(buf, static_cast<size_t>(r));
  }
  ::close(fd);
  return out;
}

[[noreturn]] void ThrowCopyError(const std::string& from, const std::string& to, int err,
                                 const std::string& what = "") {
  if (err == ENOSPC || err == EDQUOT || err == EFBIG) throw ENotEnoughRoom();
  throw EArcZipException("Error: Could not copy from " + from + " -> " + to +
                         (what.empty() ? std::string() : " (" + what + ")"));
}

// The file-name part and the folder (with its "/", or empty) of a path.
void SplitName(const std::string& path, std::string& folder, std::string& base) {
  size_t slash = path.rfind('/');
  folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  base = slash == std::string::npos ? path : path.substr(slash + 1);
}

// Extra data without the fields of one id (a malformed tail is dropped).
std::string WithoutExtraField(const std::string& extra, uint16_t id) {
  std::string out;
  size_t p = 0;
  const auto* b = reinterpret_cast<const uint8_t*>(extra.data());
  while (p + 4 <= extra.size()) {
    uint16_t fid = GetU16(b + p), len = GetU16(b + p + 2);
    if (p + 4 + len > extra.size()) break;
    if (fid != id) out.append(extra, p, 4 + len);
    p += 4 + len;
  }
  return out;
}

// Length of the data descriptor at pos (with or without its signature, 32- or 64-bit sizes),
// recognised by the CRC and sizes it must repeat.
size_t DescriptorLength(THugeStream& s, int64_t pos, const TZipHeaderInfo& h, bool zip64First) {
  uint8_t b[24] = {};
  size_t n = s.ReadAt(pos, b, sizeof b);
  const uint64_t comp = h.CompressedSize(), unc = h.UncompressedSize();
  for (int sig = 1; sig >= 0; --sig) {
    for (int k = 0; k < 2; ++k) {
      bool wide = (k == 0) == zip64First;
      size_t base = sig ? 4 : 0;
      size_t len = base + 4 + (wide ? 16 : 8);
      if (n < len) continue;
      if (sig && GetU32(b) != zipsig::kDataDescriptor) continue;
      if (GetU32(b + base) != h.CRC32) continue;
      uint64_t c = wide ? GetU64(b + base + 4) : GetU32(b + base + 4);
      uint64_t u = wide ? GetU64(b + base + 12) : GetU32(b + base + 8);
      if (c == comp && u == unc) return len;
    }
  }
  throw EBadZipFile();
}

}  // namespace

std::string WithExtension(const std::string& name, const std::string& ext) {
  size_t slash = name.rfind('/');
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return name + ext;
  return name.substr(0, dot) + ext;
}

std::string TArcZip::ConvertedName(const std::string& name, bool toSelfExtractor) {
  return WithExtension(name, toSelfExtractor ? ".EXE" : ".zip");
}

bool ArchiveTarget(const std::string& name, std::string& target, struct stat& st) {
  struct stat lst;
  if (::lstat(name.c_str(), &lst) != 0) {
    if (errno != ENOENT) throw std::system_error(errno, std::generic_category(), name);
    target = name;
    return false;
  }
  target = name;
  st = lst;
  if (S_ISLNK(lst.st_mode)) {
    char* real = ::stat(name.c_str(), &st) == 0 ? ::realpath(name.c_str(), nullptr) : nullptr;
    if (real) {
      target = real;
      std::free(real);
    } else {
      st.st_mode = 0;  // a dangling link or a loop
    }
  }
  if (!S_ISREG(st.st_mode))
    throw EArcZipException(name + " is not a regular file; it is left as it is.");
  return true;
}

void CommitArchive(TAtomicFile& file) {
  const std::string temp = file.TempPath();
  try {
    file.Commit();
  } catch (const std::system_error& e) {
    // What failed is said: the flush, the close, the rename or the flush of the folder.
    ThrowCopyError(temp, file.Target(), e.code().value(), e.what());
  }
}

std::string ArchiveLockPath(const std::string& archive) {
  std::string folder, base;
  SplitName(archive, folder, base);
  return folder + "." + base + kTempBesideInfix + "lock";
}

void TArcZip::LockArchive(TArchiveLock& lock, const std::string& name) {
  LeftoversRemoved.clear();
  if (name.empty()) return;  // nothing is written without a name
  std::string where;
  struct stat st;
  ArchiveTarget(name, where, st);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(LockWaitMs);
  for (;;) {
    const TArchiveLock::TResult r = lock.TryLock(ArchiveLockPath(where));
    // Where no lock can be made (a read-only folder), the write itself fails or goes on alone.
    if (r == TArchiveLock::TResult::Unavailable) return;
    if (r == TArchiveLock::TResult::Held) break;
    if (std::chrono::steady_clock::now() >= deadline)
      throw EArcZipException(kArchiveBusy + name +
                             ". It was left as it is; try again when the other program is done.");
    CheckCancel();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  // Under the lock nobody else writes this archive: a temporary of ours beside it is the
  // leftover of a run that was killed before it could remove it.
  std::string folder, base;
  SplitName(where, folder, base);
  const std::string prefix = "." + base + kTempBesideInfix;
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return;
  std::vector<std::string> stale;
  while (const dirent* e = ::readdir(dir)) {
    const std::string n = e->d_name;
    if (n.size() != prefix.size() + 6 || n.compare(0, prefix.size(), prefix) != 0) continue;
    if (!std::all_of(n.begin() + static_cast<std::ptrdiff_t>(prefix.size()), n.end(),
                     [](unsigned char c) { return std::isalnum(c) != 0; }))
      continue;
    struct stat fst;
    const std::string full = folder + n;
    if (::lstat(full.c_str(), &fst) == 0 && S_ISREG(fst.st_mode) && fst.st_uid == ::geteuid())
      stale.push_back(full);
  }
  ::closedir(dir);
  // They are named in full, wherever the archive was named from.
  std::string here;
  if (folder.empty() || folder[0] != '/') {
    if (char* cwd = ::getcwd(nullptr, 0)) {
      here = std::string(cwd) + "/";
      std::free(cwd);
    }
  }
  for (const std::string& f : stale)
    if (::unlink(f.c_str()) == 0) LeftoversRemoved.push_back(here + f);
}

bool TArcZip::ChangedSinceRead() const {
  return loaded_ && !memoryArchive_ && FileModTimeNs(ZipName()) != archiveTimeNs_;
}

// What a rewrite does with each entry of the source archive and which files it stores.
struct TArcZip::TRewritePlan {
  std::vector<uint8_t> fate;        // per physical entry: TFate
  std::vector<uint32_t> item;       // per physical entry: the item replacing it
  TFileItems items;                 // files and folders to store
  std::vector<uint32_t> leftovers;  // items stored after the entries, in order
  std::vector<uint32_t> packIndex;  // per item: its source in the pack pipeline
  bool haveSource = false;
};

std::string TArcZip::TempFolder() const {
  if (DirectoryExists(TempPath)) return TempPath;
  const char* t = std::getenv("TMPDIR");
  if (t && DirectoryExists(t)) return t;
  return "/tmp";
}

// Refuses what cannot be rewritten.
static void CheckRewritable(const TEndCentral& ec, size_t entries, TMultiMode mode, bool fromZfc,
                            THugeStream& s) {
  if (mode != TMultiMode::mmNone || fromZfc || ec.GetThisDiskNo() != 0)
    throw EArcZipException("A multi-volume archive cannot be rewritten");
  if (entries == 0 && ec.EndCentralPos == 0) {
    // Either a lone end record or a file without one (not an archive: it must not be replaced).
    uint8_t sig[4] = {};
    if (s.Size() < static_cast<int64_t>(kEndCentralSize) || s.ReadAt(0, sig, 4) != 4 ||
        GetU32(sig) != zipsig::kEndCentral)
      throw ENotAZipFile();
  }
}

namespace {

// The entries of an archive by name, for finding the entry a file replaces. A file's stored name
// is compared with the bytes each entry's name has in the archive; failing that, with the name
// as the entry is shown (a code page 437 name from a DOS host shown as the UTF-8 name the file
// has here), so that the file replaces that entry instead of joining it under a second name.
// Kept as sorted (hash, entry) pairs: no copy of the names.
class TEntryLookup {
 public:
  explicit TEntryLookup(const std::vector<TZipHeaderInfo>& entries) : entries_(entries) {
    for (size_t k = 0; k < entries.size(); ++k) {
      raw_.emplace_back(Hash(entries[k].StoredName()), static_cast<uint32_t>(k));
      if (!entries[k].RawName.empty())
        shown_.emplace_back(Hash(entries[k].FullName()), static_cast<uint32_t>(k));
    }
    std::sort(raw_.begin(), raw_.end());
    std::sort(shown_.begin(), shown_.end());
  }
  // The entry named name, or SIZE_MAX.
  size_t Find(const std::string& name) const {
    const size_t h = Hash(name);
    for (auto it = std::lower_bound(raw_.begin(), raw_.end(), std::pair(h, uint32_t{0}));
         it != raw_.end() && it->first == h; ++it)
      if (entries_[it->second].StoredName() == name) return it->second;
    for (auto it = std::lower_bound(shown_.begin(), shown_.end(), std::pair(h, uint32_t{0}));
         it != shown_.end() && it->first == h; ++it)
      if (entries_[it->second].FullName() == name) return it->second;
    return SIZE_MAX;
  }

 private:
  static size_t Hash(const std::string& s) { return std::hash<std::string>{}(s); }
  const std::vector<TZipHeaderInfo>& entries_;
  std::vector<std::pair<size_t, uint32_t>> raw_, shown_;
};

// True when the file on disk is to replace the entry of its name: it has another size, or it was
// modified later. The entry's UTC time field is compared to the second, so that a change of time
// zone or of daylight saving time between two runs changes nothing; an entry with the DOS time
// alone is compared at its resolution, in local time, and an entry as new as the file is kept.
bool FileIsNewer(const TZipHeaderInfo& entry, const struct stat& st) {
  if (static_cast<uint64_t>(st.st_size) != entry.UncompressedSize()) return true;
  std::time_t t = 0;
  bool exact = false;
  if (EntryModTime(entry, t, &exact) && exact) return st.st_mtime > t;
  return entry.ModifDateTime < TimeToDosDateTime(st.st_mtime);
}

}  // namespace

int TArcZip::UpdateArchive(const TRewriteTarget& target) {
  TRun run;
  TRewritePlan plan;
  struct stat sst;
  plan.haveSource = ::stat(target.Source.c_str(), &sst) == 0 && sst.st_size > 0;
  if (plan.haveSource) {
    if (ZipName() != target.Source) SetZipName(target.Source);
    EnsureDirectory();
    CheckRewritable(endCentral_, entries_.size(), MultiZipInfo.MultiMode, fromZfc_,
                    ArchiveStream());
    RefuseDamagedRewrite(RewriteDamaged);
  } else {
    entries_.clear();
    order_.clear();
    endCentral_ = TEndCentral();
  }

  // The files to store; the archive written is never among them.
  TExpandOptions xo;
  std::string where = target.Output;
  struct stat wst;
  ArchiveTarget(target.Output, where, wst);
  SetupExpansion(xo, where);
  struct stat ost;
  if (::stat(target.Output.c_str(), &ost) == 0) {
    xo.HaveArchive = true;
    xo.ArchiveDev = ost.st_dev;
    xo.ArchiveIno = ost.st_ino;
  }
  auto storedName = [this](const std::string& path, bool folder) {
    return StoredNameOf(path, folder, StorePaths, RelativePaths, RelativePathList);
  };
  auto lookup = std::make_unique<TEntryLookup>(entries_);
  if (ZipAction == TZipAction::zaFreshen)
    xo.InArchive = [&](const std::string& path) {
      return lookup->Find(storedName(path, false)) != SIZE_MAX;
    };
  int64_t listed = ExpandFileList(FilesList, xo, plan.items);
  if (plan.items.empty() && !target.Always) return 0;
  TEndCentral ec = endCentral_;
  if (!plan.items.empty() && OnStartZipInfo) {
    bool stop = false;
    OnStartZipInfo(this, static_cast<int>(plan.items.size()), listed, ec, stop);
    if (stop) throw EUserCanceled(zipmsg::kUserCanceledZip);
  }
  RefuseVolumes();

  // Each entry is kept, or replaced by the file of the same stored name. A second file of a name
  // already taken is left over, and refused (reason 1) when its turn comes.
  plan.fate.assign(entries_.size(), fKeepEntry);
  plan.item.assign(entries_.size(), UINT32_MAX);
  std::vector<bool> claimed(entries_.size(), false);
  for (size_t i = 0; i < plan.items.size(); ++i) {
    const TFileItem& f = plan.items[i];
    size_t k = lookup->Find(storedName(f.Path, f.IsFolder));
    if (k == SIZE_MAX || claimed[k]) {
      plan.leftovers.push_back(static_cast<uint32_t>(i));
      continue;
    }
    claimed[k] = true;
    bool replace = ZipAction == TZipAction::zaReplace;
    if (!replace && !f.IsFolder) {
      struct stat st;
      replace = (f.IsLink ? ::lstat(f.Path.c_str(), &st) : ::stat(f.Path.c_str(), &st)) == 0 &&
                FileIsNewer(entries_[k], st);
    }
    if (replace) {
      plan.fate[k] = fReplaceEntry;
      plan.item[k] = static_cast<uint32_t>(i);
    }
  }
  std::vector<bool>().swap(claimed);
  lookup.reset();

  // Compression runs ahead in the order the files will be stored.
  std::vector<TPackSource> sources;
  plan.packIndex.assign(plan.items.size(), UINT32_MAX);
  auto addSource = [&](size_t i) {
    const TFileItem& f = plan.items[i];
    if (f.IsFolder || f.IsLink) return;
    bool store = PackLevel <= 0 || f.Size == 0 || MatchesPatternList(NoCompressList, f.Path);
    plan.packIndex[i] = static_cast<uint32_t>(sources.size());
    sources.push_back({f.Path, store});
    run.totalBytes += f.Size;
  };
  for (size_t k = 0; k < entries_.size(); ++k) {
    if (plan.fate[k] == fReplaceEntry)
      addSource(plan.item[k]);
    else
      run.totalBytes += static_cast<int64_t>(entries_[k].CompressedSize());
  }
  for (size_t i : plan.leftovers) addSource(i);

  // Every entry stays as it is and nothing is added: the archive is not rewritten at all.
  bool replacing = std::find(plan.fate.begin(), plan.fate.end(), fReplaceEntry) != plan.fate.end();
  if (!replacing && plan.leftovers.empty() && target.Head == TRewriteTarget::hdKeep &&
      !target.Always && !endCentral_.Modified && target.Output == target.Source) {
    for (int i = 0; i < EntryCount(); ++i)
      if (OnUpdate) OnUpdate(this, TUpdateAction::upKeep, i);
    if (OnTotalPercentDone) OnTotalPercentDone(this, 100);
    return 0;
  }
  run.keepStored = Dispose || ResetArchiveBitOnZip;
  StartKeys(run, sources.size());
  run.pack =
      std::make_unique<TPackPipeline>(std::move(sources), std::clamp(PackLevel, 1, 9), PackThreads);

  Rewrite(target, plan, run);
  AdoptDirectory(target.Output);

  if (!run.stored.empty()) AfterArchiveComplete(run);
  if (OnTotalPercentDone) OnTotalPercentDone(this, 100);
  return run.files;
}

void TArcZip::Rewrite(const TRewriteTarget& target, TRewritePlan& plan, TRun& run) {
  THugeStream* src = plan.haveSource ? &ArchiveStream() : nullptr;
  // A set of pieces cannot be replaced by one file: the other pieces would stay behind.
  if (src && dynamic_cast<TByteSplitStream*>(src) && SameFile(target.Output, ZipName()))
    throw EArcZipException(kByteSplitRewrite);
  std::vector<int> presentation(entries_.size(), -1);
  for (size_t i = 0; i < order_.size(); ++i) presentation[order_[i]] = static_cast<int>(i);
  run.entries.reserve(entries_.size() + plan.leftovers.size());

  // The new archive is written beside the output and replaces it once complete; an archive
  // reached through a symbolic link is replaced where the link points, and the link stays.
  std::string where;
  struct stat wst;
  ArchiveTarget(target.Output, where, wst);
  TAtomicFile file(where, kTempBesideInfix);
  try {
    run.stream = std::make_unique<TFileStream>(file.TempPath(), TFileStream::omReadWrite);
    run.out = std::make_unique<TZipOutput>(*run.stream);

    // What goes in front of the first entry: a self-extractor's stub (and any other bytes there)
    // stays on every rewrite unless a plain archive is asked for.
    if (target.Head == TRewriteTarget::hdBytes) {
      run.out->Append(target.HeadBytes);
    } else if (target.Head == TRewriteTarget::hdKeep && src) {
      uint64_t first =
          std::min<uint64_t>(FirstEntryOffset(*this), static_cast<uint64_t>(src->Size()));
      std::vector<uint8_t> buf(kCopyPiece);
      for (uint64_t pos = 0; pos < first;) {
        size_t k = static_cast<size_t>(std::min<uint64_t>(buf.size(), first - pos));
        src->ReadExactAt(static_cast<int64_t>(pos), buf.data(), k);
        run.out->Append(buf.data(), k);
        pos += k;
      }
    }

    for (size_t k = 0; k < entries_.size(); ++k) {
      CheckCancel();
      if (plan.fate[k] == fDropEntry) continue;
      if (plan.fate[k] == fReplaceEntry) {
        if (OnUpdate) OnUpdate(this, TUpdateAction::upReplace, presentation[k]);
        const TFileItem& f = plan.items[plan.item[k]];
        bool stored =
            f.IsFolder ? WriteFolderEntry(run, f) : StoreFile(run, f, plan.packIndex[plan.item[k]]);
        if (stored) {
          if (!f.IsFolder) ++run.files;
          continue;
        }
        // The file could not be stored: the entry it was to replace stays.
      }
      if (OnUpdate) OnUpdate(this, TUpdateAction::upKeep, presentation[k]);
      CopyEntry(run, *src, entries_[k], target.Salvage);
    }
    for (size_t i : plan.leftovers) {
      CheckCancel();
      const TFileItem& f = plan.items[i];
      if (f.IsFolder)
        WriteFolderEntry(run, f);
      else if (StoreFile(run, f, plan.packIndex[i]))
        ++run.files;
    }
    std::vector<uint32_t>().swap(plan.packIndex);
    if (!run.keepStored) TFileItems().swap(plan.items);

    const std::string comment = endCentral_.Comment;
    Complete(run, file.TempPath(), endCentral_, comment, [&] {
      // The replaced file's permissions; a self-extractor may also be run by whoever may read it.
      mode_t mode = ModeForReplacing(where);
      if (target.Head == TRewriteTarget::hdBytes) mode |= (mode & 0444) >> 2;
      file.SetMode(mode);
      CommitArchive(file);
    });
  } catch (...) {
    run.ReleaseEntries();
    throw;
  }
}

bool TArcZip::CopyEntry(TRun& run, THugeStream& src, const TZipHeaderInfo& entry, bool salvage) {
  TZipHeaderInfo h = entry;
  // The copy's header gets its position in the new file, so leading bytes that the source's
  // offsets did not count are counted from here on. In a set of volumes the header lies on the
  // entry's volume at its offset there, and the data may run on over the volumes after it.
  uint64_t lho = h.LocalHeaderOffset() + static_cast<uint64_t>(offsetShift_);
  uint64_t volumeBase = 0;
  const bool inVolumes = volumeSet_ && &src == stream_.get();
  if (inVolumes) {
    if (lho >> TVolumeSetStream::kShift || h.DiskNumber() > lastVolume_) {
      if (salvage) return false;
      throw EBadZipFile();
    }
    volumeBase = static_cast<uint64_t>(TVolumeSetStream::Address(h.DiskNumber(), 0));
    lho += volumeBase;
  }
  const uint64_t nextOffset = h.NextOffset == UINT64_MAX ? UINT64_MAX : volumeBase + h.NextOffset;
  uint8_t fixed[kLocalHeaderSize];
  std::string localName, localExtra;
  const std::string storedName = h.StoredName();
  int64_t dataPos = 0;
  uint64_t comp = 0, unc = 0;
  uint16_t localFlag = 0;
  bool keepDescriptor = false;
  size_t descLen = 0;
  // Everything is checked before the first byte is written, so that a salvage can leave the
  // entry out.
  try {
    if (lho < h.LocalHeaderOffset() || lho > static_cast<uint64_t>(INT64_MAX) - 0x30000)
      throw EBadZipFile();
    src.ReadExactAt(static_cast<int64_t>(lho), fixed, sizeof fixed);
    if (GetU32(fixed) != zipsig::kLocalHeader) throw EBadZipFile();
    const uint16_t nameLen = GetU16(fixed + 26), extraLen = GetU16(fixed + 28);
    localName.assign(nameLen, '\0');
    localExtra.assign(extraLen, '\0');
    int64_t pos = static_cast<int64_t>(lho + kLocalHeaderSize);
    if (nameLen) src.ReadExactAt(pos, localName.data(), nameLen);
    if (extraLen) src.ReadExactAt(pos + nameLen, localExtra.data(), extraLen);
    // A local header that names another entry is not copied under the directory's name.
    if (!LocalNameMatches(h, localName, localExtra) && localName != StoredCentralName(src, h))
      throw EBadZipFile(std::string(zipmsg::kNotAZip) + " The local header of \"" + h.FullName() +
                        "\" names another entry.");
    dataPos = pos + nameLen + extraLen;
    comp = h.CompressedSize();
    unc = h.UncompressedSize();
    if (comp > static_cast<uint64_t>(INT64_MAX - dataPos)) throw EBadZipFile();
    localFlag = GetU16(fixed + 6);

    keepDescriptor = ((h.Flag | localFlag) & 0x0008) && h.IsEncrypted();
    if (keepDescriptor) {
      size_t n = 0;
      bool z64 = FindExtraField(reinterpret_cast<const uint8_t*>(localExtra.data()),
                                localExtra.size(), kZip64ExtraId, n) != nullptr ||
                 h.HasZip64();
      descLen = DescriptorLength(src, dataPos + static_cast<int64_t>(comp), h, z64);
    }
    // The data (and its descriptor) must end before the next entry begins.
    if (static_cast<uint64_t>(dataPos) + comp + descLen > nextOffset)
      throw EBadZipFile(std::string(zipmsg::kNotAZip) + " Entry \"" + h.FullName() +
                        "\" overlaps the next one (possible zip bomb).");
    // An archive cut inside the entry's data. (The size of a set of volumes is known only from
    // its last volume, which may be a medium to insert: a set that ends early fails the copy.)
    if (!inVolumes &&
        static_cast<uint64_t>(dataPos) + comp + descLen > static_cast<uint64_t>(src.Size()))
      throw EFatalUnzipError();
  } catch (const EBadZipFile&) {
    if (salvage) return false;
    throw;
  } catch (const EFatalUnzipError&) {
    if (salvage) return false;
    throw;
  } catch (const EMissingVolume& e) {
    if (!salvage) throw;
    repairLost_.push_back({h.FullName(), e.Part});
    return false;
  }

  // An entry the recovery scan numbered (a name that occurred twice) is written under its new
  // name, so that the archive written reads like any other.
  std::string writeName = storedName;
  if (recoveryMode_ && h.FullName() != DecodedName(h, storedName)) {
    writeName = h.FullName();
    h.SetNames(writeName, writeName);
    h.FileNameLength = static_cast<uint16_t>(writeName.size());
    h.Flag &= static_cast<uint16_t>(~0x0800);
    if (!IsPlainAscii(writeName) && IsValidUtf8(writeName)) h.Flag |= 0x0800;
    h.CentralExtra = WithoutExtraField(h.CentralExtra, kUnicodePathExtraId);
    h.ExtraFieldLength = static_cast<uint16_t>(h.CentralExtra.size());
    localExtra = WithoutExtraField(localExtra, kUnicodePathExtraId);
  }

  std::string header;
  if (keepDescriptor) {
    // The header as it was, but for the name (and the UTF-8 flag that goes with it).
    const uint16_t flag = static_cast<uint16_t>((localFlag & ~0x0800) | (h.Flag & 0x0800));
    header.assign(reinterpret_cast<const char*>(fixed), 6);
    PutU16(header, flag);
    header.append(reinterpret_cast<const char*>(fixed) + 8, 18);
    PutU16(header, static_cast<uint16_t>(writeName.size()));
    PutU16(header, static_cast<uint16_t>(localExtra.size()));
    header += writeName;
    header += localExtra;
  } else {
    uint16_t flag = static_cast<uint16_t>((localFlag & ~0x0808) | (h.Flag & 0x0800));
    std::string extra = WithoutExtraField(localExtra, kZip64ExtraId);
    uint16_t needed = GetU16(fixed + 4);
    if (comp >= kSat32Value || unc >= kSat32Value) {
      std::string z;
      PutU16(z, kZip64ExtraId);
      PutU16(z, 16);
      PutU64(z, unc);
      PutU64(z, comp);
      extra = z + (extra.size() + z.size() <= 0xFFFF ? extra : std::string());
      needed = std::max<uint16_t>(needed, 45);
    }
    PutU32(header, zipsig::kLocalHeader);
    PutU16(header, needed);
    PutU16(header, flag);
    PutU16(header, GetU16(fixed + 8));   // method
    PutU32(header, GetU32(fixed + 10));  // DOS time and date
    PutU32(header, h.CRC32);
    PutU32(header,
           comp >= kSat32Value || unc >= kSat32Value ? kSat32Value : static_cast<uint32_t>(comp));
    PutU32(header,
           comp >= kSat32Value || unc >= kSat32Value ? kSat32Value : static_cast<uint32_t>(unc));
    PutU16(header, static_cast<uint16_t>(writeName.size()));
    PutU16(header, static_cast<uint16_t>(extra.size()));
    header += writeName;
    header += extra;
  }

  const int64_t newPos = run.out->Pos();
  run.out->Append(header);
  std::vector<uint8_t> buf(kCopyPiece);
  const uint64_t total = comp + descLen;
  for (uint64_t done = 0; done < total;) {
    size_t k = static_cast<size_t>(std::min<uint64_t>(buf.size(), total - done));
    try {
      src.ReadExactAt(dataPos + static_cast<int64_t>(done), buf.data(), k);
    } catch (const EMissingVolume& e) {
      // Data that runs on into a missing part of a set (an entry copied untested): a salvage
      // takes back what it wrote of the entry and leaves it out.
      if (!salvage) throw;
      run.out->Truncate(newPos);
      repairLost_.push_back({h.FullName(), e.Part});
      return false;
    } catch (const EFatalUnzipError&) {
      if (!salvage) throw;
      run.out->Truncate(newPos);
      return false;
    }
    run.out->Append(buf.data(), k);
    done += k;
    run.doneBytes += static_cast<int64_t>(k);
    if (OnTotalPercentDone && run.totalBytes > 0) {
      int p = static_cast<int>(std::min<int64_t>(100, run.doneBytes * 100 / run.totalBytes));
      if (p != run.lastTotalPercent) OnTotalPercentDone(this, run.lastTotalPercent = p);
    }
    CheckCancel();
  }

  if (keepDescriptor)
    h.Flag |= 0x0008;
  else
    h.Flag &= static_cast<uint16_t>(~0x0008);
  // The central record gets the new offset; its Zip64 field is rebuilt when it is written, its
  // other extra fields and its version stay as they were.
  h.RelOffLocalHdr64 = static_cast<uint64_t>(newPos);
  h.HasRelOffLocalHdr64 = true;
  run.Add(h);
  return true;
}

void TArcZip::CopyArchive(const TRewriteTarget& target) {
  TRun run;
  TRewritePlan plan;
  plan.haveSource = true;
  CheckRewritable(endCentral_, entries_.size(), MultiZipInfo.MultiMode, fromZfc_, ArchiveStream());
  plan.fate.assign(entries_.size(), fKeepEntry);
  plan.item.assign(entries_.size(), UINT32_MAX);
  for (const auto& h : entries_) run.totalBytes += static_cast<int64_t>(h.CompressedSize());
  Rewrite(target, plan, run);
}

int TArcZip::RemoveEntries() {
  TBusyGuard busy(*this);
  cancel_ = false;
  struct TEndOfRun {
    TArcZip& z;
    ~TEndOfRun() {
      z.FilesList.clear();
      z.CloseFileUnlessKept();
    }
  } endOfRun{*this};

  TArchiveLock lock;
  LockArchive(lock, ZipName());
  // Entries chosen in a directory that another program has since replaced are not the entries
  // of the archive now there.
  if (SelectedCount() > 0 && ChangedSinceRead())
    throw EArcZipException(kChangedSinceRead + ZipName() + "; open it again.");
  EnsureDirectory();
  RefuseDamagedRewrite(RewriteDamaged);
  const bool bySelection = SelectedCount() > 0;
  if (bySelection) FilesList.clear();
  TRewritePlan plan;
  plan.haveSource = true;
  plan.fate.assign(entries_.size(), fKeepEntry);
  plan.item.assign(entries_.size(), UINT32_MAX);
  int removed = 0;
  for (size_t k = 0; k < entries_.size(); ++k) {
    const TZipHeaderInfo& h = entries_[k];
    bool hit = bySelection && h.Selected;
    for (size_t p = 0; !bySelection && !hit && p < FilesList.size(); ++p) {
      const std::string& item = FilesList[p];
      if (item.find_first_of("*?<") != std::string::npos) {
        // A pattern matches case-insensitively, against the name alone when it has no folder.
        bool hasFolder = item.find('/') != std::string::npos;
        hit = WildcardMatch(item, hasFolder ? h.FullName() : h.FileName);
      } else {
        // A plain name identifies one entry: its whole stored path, exactly.
        hit = item == h.FullName() || (!h.RawName.empty() && item == h.RawName);
      }
    }
    if (!hit) continue;
    bool skip = false;
    if (OnDeleteEntry) OnDeleteEntry(this, h.FullName(), skip);
    if (skip) continue;
    plan.fate[k] = fDropEntry;
    ++removed;
  }
  if (removed == 0) return 0;

  CheckRewritable(endCentral_, entries_.size(), MultiZipInfo.MultiMode, fromZfc_, ArchiveStream());
  TRun run;
  for (size_t k = 0; k < entries_.size(); ++k)
    if (plan.fate[k] == fKeepEntry)
      run.totalBytes += static_cast<int64_t>(entries_[k].CompressedSize());
  TRewriteTarget target;
  target.Source = target.Output = ZipName();
  target.Head = TRewriteTarget::hdKeep;
  Rewrite(target, plan, run);
  AdoptDirectory(target.Output);
  return removed;
}

void TArcZip::SaveArchiveChanges() {
  TBusyGuard busy(*this);
  cancel_ = false;
  struct TCloseFile {
    TArcZip& z;
    ~TCloseFile() { z.CloseFileUnlessKept(); }
  } closeFile{*this};
  if (!loaded_ || !endCentral_.Modified) return;
  TArchiveLock lock;
  LockArchive(lock, ZipName());
  if (ChangedSinceRead())
    throw EArcZipException(kChangedSinceRead + ZipName() + "; open it again.");
  RefuseDamagedRewrite(RewriteDamaged);
  TRewriteTarget target;
  target.Source = target.Output = ZipName();
  target.Head = TRewriteTarget::hdKeep;
  CopyArchive(target);
  AdoptDirectory(target.Output);
}

void TArcZip::SetEntryPath(int index, const std::string& folder) {
  TZipHeaderInfo& h = entries_[PhysicalIndex(index)];
  std::string path = folder;
  std::replace(path.begin(), path.end(), '\\', '/');
  if (!path.empty() && path.back() != '/') path += '/';
  if (path == h.FilePath) return;
  std::string full = path + h.FileName;
  if (full.empty() || full.size() > 0xFFFF) throw EArcZipException("Invalid entry name: " + full);
  // Two entries of one name would make the archive unreadable.
  for (const auto& other : entries_)
    if (&other != &h && other.FullName() == full)
      throw EArcZipException("The archive already holds an entry named " + full);
  h.SetNames(full, full);
  h.FileNameLength = static_cast<uint16_t>(full.size());
  h.Flag &= static_cast<uint16_t>(~0x0800);
  if (!IsPlainAscii(full) && IsValidUtf8(full)) h.Flag |= 0x0800;
  // A Unicode path field would still name the old path.
  h.CentralExtra = WithoutExtraField(h.CentralExtra, kUnicodePathExtraId);
  h.ExtraFieldLength = static_cast<uint16_t>(h.CentralExtra.size());
  endCentral_.Modified = true;
}

int TArcZip::MakeSelfExtractor(const std::string& stub, const std::string& archive,
                               int configLength, const uint8_t* config) {
  TBusyGuard busy(*this);
  cancel_ = false;
  bool keep = KeepZipOpen;
  struct TEndOfRun {
    TArcZip& z;
    bool keep;
    ~TEndOfRun() {
      z.FilesList.clear();
      z.KeepZipOpen = keep;
      z.CloseFileUnlessKept();
    }
  } endOfRun{*this, keep};

  ownAttributes_.reset();  // read afresh, as for ZipFiles
  // The stub and the block are written straight to the head of the new archive: no temporary
  // copy of the stub is made.
  std::string head = ReadWholeFile(stub);
  if (configLength > 0 && config)
    head.append(reinterpret_cast<const char*>(config), static_cast<size_t>(configLength));
  struct stat st;
  std::string where;
  bool exists = ArchiveTarget(archive, where, st) && st.st_size > 0;
  TRewriteTarget target;
  target.Source = archive;
  target.Output = archive;
  if (exists && LowerAscii(ExtensionOf(archive)) == ".zip")
    target.Output = WithExtension(archive, ".exe");
  ArchiveTarget(target.Output, where, st);
  TArchiveLock lock;
  LockArchive(lock, target.Output);
  target.Head = TRewriteTarget::hdBytes;
  target.HeadBytes = std::move(head);
  target.Always = exists;
  if (ReplaceArchive) {
    // Nothing of the old file is kept; it is replaced once the new one is complete.
    target.Source.clear();
    target.Always = false;
  }
  SetZipName(archive);
  int count = UpdateArchive(target);
  if (OnZipComplete) OnZipComplete(this, count);
  return count;
}

void TArcZip::ConvertToSelfExtractor(const std::string& stub) {
  TBusyGuard busy(*this);
  cancel_ = false;
  struct TCloseFile {
    TArcZip& z;
    ~TCloseFile() { z.CloseFileUnlessKept(); }
  } closeFile{*this};
  EnsureDirectory();
  RefuseDamagedRewrite(RewriteDamaged);
  TRewriteTarget target;
  target.Source = ZipName();
  target.Output = ConvertedName(ZipName(), true);
  target.Head = TRewriteTarget::hdBytes;
  target.HeadBytes = ReadWholeFile(stub);
  bool inPlace = SameFile(target.Source, target.Output);
  TArchiveLock lock;
  LockArchive(lock, target.Output);
  if (inPlace) EnsureDirectory();
  CopyArchive(target);
  if (inPlace) {
    AdoptDirectory(target.Output);
  } else {
    // The list read back describes the new file: the open archive is read again.
    loaded_ = false;
    EnsureDirectory();
  }
}

void TArcZip::ConvertToPlainZip(bool deleteSource) {
  TBusyGuard busy(*this);
  cancel_ = false;
  struct TCloseFile {
    TArcZip& z;
    ~TCloseFile() { z.CloseFileUnlessKept(); }
  } closeFile{*this};
  EnsureDirectory();
  RefuseDamagedRewrite(RewriteDamaged);
  TRewriteTarget target;
  target.Source = ZipName();
  target.Output = ConvertedName(ZipName(), false);
  target.Head = TRewriteTarget::hdNone;
  bool inPlace = SameFile(target.Source, target.Output);
  TArchiveLock lock;
  LockArchive(lock, target.Output);
  if (inPlace) EnsureDirectory();
  CopyArchive(target);
  AdoptDirectory(target.Output);
  if (deleteSource && !inPlace) ::unlink(target.Source.c_str());
}

namespace {

// The folder of a file name ("" when it has none).
std::string FolderOf(const std::string& name) {
  size_t slash = name.rfind('/');
  if (slash == std::string::npos) return "";
  return slash == 0 ? "/" : name.substr(0, slash);
}

}  // namespace

int TArcZip::RepairArchive(const std::string& damaged, const std::string& newName) {
  repairRead_ = 0;
  repairUntested_ = 0;
  repairLost_.clear();
  repairDirectoryPart_.clear();
  // FilesList holds afterwards what it held before, whatever happens.
  struct TKeepList {
    TArcZip& z;
    std::vector<std::string> files;
    ~TKeepList() { z.FilesList = std::move(files); }
  } keep{*this, FilesList};

  std::string source = damaged;
  bool assumeBad = source.empty();
  if (assumeBad && !(loaded_ && recoveryMode_ && !ZipName().empty())) {
    TZipFileDialog open;
    open.Title = "Open a Zip File";
    open.Filter =
        "Zip Files (*.ZIP)|*.zip|SFX Files (*.EXE)|*.exe|Jar Files (*.JAR)|*.jar|All Files "
        "(*.*)|*.*";
    open.Folder = FolderOf(ZipName());
    if (!Host || !Host->OpenFileDialog(open, source) || source.empty()) return 0;
  } else if (assumeBad) {
    source = ZipName();  // the archive just read in recovery mode
  }

  std::string target = newName;
  if (target.empty()) {
    TZipFileDialog save;
    save.Title = "Select a new name for the fixed file.";
    save.Filter = "Zip Files (*.ZIP)";
    save.Folder = FolderOf(source);
    if (!DirectoryExists(save.Folder)) {
      const char* home = std::getenv("HOME");
      save.Folder = home && *home ? home : "/";
    }
    if (!Host || !Host->OpenFileDialog(save, target) || target.empty()) return 0;
  }
  return RepairInto(source, target, assumeBad);
}

void TArcZip::RefuseRepairOverPart(const std::string& newName) {
  for (const std::string& part : repairParts_)
    if (part == newName || SameFile(part, newName))
      throw EArcZipException("The new archive " + newName +
                             " is a part of the set being repaired (" + part +
                             "); choose another name: nothing was written.");
}

int TArcZip::RepairInto(const std::string& damaged, const std::string& newName, bool assumeBad) {
  TBusyGuard busy(*this);
  cancel_ = false;
  repairLost_.clear();
  repairDirectoryPart_.clear();
  repairParts_.clear();
  scanLost_.clear();
  struct TEndOfRun {
    TArcZip& z;
    ~TEndOfRun() {
      z.repairing_ = false;
      // The scanned parts are read through a stream of the repair's own: it ends with the run
      // (the new archive, when written, has taken its place).
      if (z.scannedSet_ && z.memoryArchive_) {
        z.stream_.reset();
        z.memoryArchive_ = false;
        z.loaded_ = false;
      }
      z.scannedSet_ = false;
      z.CloseFileUnlessKept();
    }
  } endOfRun{*this};

  // The copy would replace the damaged file, which a repair never changes.
  if (SameFile(damaged, newName))
    throw EArcZipException("Error: Could not copy from " + damaged + " -> " + newName);
  TArchiveLock lock;
  LockArchive(lock, newName);

  if (!(assumeBad && loaded_ && recoveryMode_ && ZipName() == damaged)) {
    SetZipName(damaged);
    loaded_ = false;
    // A part of a split set whose end record cannot be read is salvaged from the parts there;
    // a set whose last part is named instead may be read by the usual rules.
    if (!ScanSetWithoutEnd(damaged)) {
      const std::string source = ZipName();
      repairing_ = assumeBad;
      try {
        EnsureDirectory();
      } catch (const EMissingVolume& e) {
        // The central directory lies on the part that is missing.
        repairing_ = false;
        ScanSetWithMissingDirectory(source, e.Part);
      }
      repairing_ = false;
    }
  }
  if (!scannedSet_ && volumeSet_ && MultiZipInfo.MultiMode == TMultiMode::mmBlocks)
    for (uint32_t k = 0; k <= lastVolume_; ++k)
      repairParts_.push_back(VolumeFileName(k, lastVolume_));
  RefuseRepairOverPart(newName);
  repairRead_ = static_cast<int>(entries_.size());
  repairUntested_ = 0;
  if (entries_.empty()) return 0;
  // A set of volumes is salvaged into one single-file archive.
  if (!volumeSet_ && !scannedSet_)
    CheckRewritable(endCentral_, entries_.size(), MultiZipInfo.MultiMode, fromZfc_,
                    ArchiveStream());

  TRewritePlan plan;
  plan.haveSource = true;
  plan.fate.assign(entries_.size(), fKeepEntry);
  plan.item.assign(entries_.size(), UINT32_MAX);
  // Every entry salvaged is tested first: one whose data does not give its CRC (or does not
  // decompress) is left out, never copied and counted as good. An entry that cannot be judged
  // here (encrypted without the password, a method this engine does not decode) is copied as
  // it is and counted apart.
  // An entry whose data lies on a missing part of a set is lost, and named with the part.
  TestArchive();
  for (size_t k = 0; k < entries_.size(); ++k) {
    const TZipHeaderInfo& h = entries_[k];
    std::string part = k < scanLost_.size() ? scanLost_[k] : std::string();
    if (part.empty() && h.Problem == TEntryProblem::MissingVolume)
      if (auto it = missingParts_.find(k); it != missingParts_.end()) part = it->second;
    if (!part.empty()) {
      plan.fate[k] = fDropEntry;
      repairLost_.push_back({h.FullName(), part});
      continue;
    }
    if (h.TestState == TZipTestState::Good) continue;
    if (h.Problem == TEntryProblem::BadPassword || h.Problem == TEntryProblem::UnknownMethod)
      ++repairUntested_;
    else
      plan.fate[k] = fDropEntry;
  }
  if (std::find(plan.fate.begin(), plan.fate.end(), fKeepEntry) == plan.fate.end()) return 0;

  TRun run;
  for (size_t k = 0; k < entries_.size(); ++k)
    if (plan.fate[k] == fKeepEntry)
      run.totalBytes += static_cast<int64_t>(entries_[k].CompressedSize());
  TRewriteTarget target;
  target.Source = damaged;
  target.Output = newName;
  target.Head = TRewriteTarget::hdNone;
  target.Salvage = true;
  Rewrite(target, plan, run);
  AdoptDirectory(newName);
  if (OnTotalPercentDone) OnTotalPercentDone(this, 100);
  return EntryCount();
}
