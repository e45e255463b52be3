#include "archive/arczip.h"

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <system_error>

#include "archive/arczip_run.h"
#include "archive/filelist.h"
#include "archive/zipaes.h"
#include "archive/zipcrypt.h"
#include "archive/zipexceptions.h"
#include "archive/zipextra.h"
#include "archive/zippack.h"
#include "archive/zipwriter.h"
#include "platform/archiveattr.h"
#include "platform/archivelock.h"
#include "platform/wildcard.h"

namespace {

constexpr size_t kWritePiece = 65535;    // output handed to the stream between message checks
constexpr size_t kCopyPiece = 32768;     // stored data read per call in the sequential path
constexpr size_t kDeflatePiece = 65535;  // deflate input per call in the sequential path
constexpr size_t kCrcPiece = 8192;       // CRC pre-pass read size

// A source this large may end up with a compressed size that needs Zip64 (stored or deflated
// data can grow slightly, and encryption adds at most 28 bytes); its local header gets room for
// the Zip64 field before the sizes are known.
bool NeedsZip64Room(int64_t size) {
  uint64_t u = static_cast<uint64_t>(size);
  return u + u / 128 + 65536 >= 0xFFFFFFFFull;
}

uint16_t LevelFlags(int level) {
  if (level <= 2) return 0x0004;
  if (level >= 8) return 0x0002;
  return 0;
}

int32_t Clamp32(uint64_t v) {
  return static_cast<int32_t>(std::min<uint64_t>(v, INT32_MAX));
}

struct TFd {
  int fd = -1;
  ~TFd() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

TArcZip::TArcZip() = default;
TArcZip::~TArcZip() = default;

int TArcZip::OpenSourceFile(const std::string& path) {
  // Non-blocking: a name replaced by a FIFO since it was listed must not stop the run (a
  // regular file reads the same either way).
  return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
}

TArchiveAttributes& TArcZip::Attributes() {
  if (ArchiveAttributes) return *ArchiveAttributes;
  if (!ownAttributes_) ownAttributes_ = std::make_unique<TArchiveAttributes>();
  return *ownAttributes_;
}

int TArcZip::ZipFiles() {
  TBusyGuard busy(*this);
  cancel_ = false;
  // The attribute store is read afresh for each run: another run may have changed it meanwhile.
  ownAttributes_.reset();
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

  std::string zipName = ZipName();
  if (zipName.find_first_not_of(" \t") == std::string::npos)
    throw EArcZipException("No archive name given");
  if (FilesList.empty()) {
    if (OnZipComplete) OnZipComplete(this, 0);
    return 0;
  }
  // From the look at the archive to the rename, no other writer changes it. (A set of volumes is
  // always written anew, a spanned one on media that are changed meanwhile: no lock file there.)
  TArchiveLock lock;
  if (MultiZipInfo.MultiMode == TMultiMode::mmNone)
    LockArchive(lock, zipName);
  else
    LeftoversRemoved.clear();
  struct stat ast;
  std::string target;
  bool archiveExists = ArchiveTarget(zipName, target, ast);
  // An existing single-volume archive is rewritten with its entries kept, replaced or added to.
  if (archiveExists && ast.st_size > 0 && MultiZipInfo.MultiMode == TMultiMode::mmNone &&
      !ReplaceArchive) {
    TRewriteTarget rewrite;
    rewrite.Source = zipName;
    rewrite.Output = zipName;
    rewrite.Head = TRewriteTarget::hdKeep;
    int count = UpdateArchive(rewrite);
    if (OnZipComplete) OnZipComplete(this, count);
    return count;
  }

  // 1. The list of names to store.
  TExpandOptions xo;
  SetupExpansion(xo, target);
  if (archiveExists) {
    xo.HaveArchive = true;
    xo.ArchiveDev = ast.st_dev;
    xo.ArchiveIno = ast.st_ino;
  }
  if (ZipAction == TZipAction::zaFreshen)
    xo.InArchive = [](const std::string&) { return false; };  // a new archive has no entries
  TFileItems items;
  TRun run;
  run.totalBytes = ExpandFileList(FilesList, xo, items);
  if (items.empty()) {
    if (OnZipComplete) OnZipComplete(this, 0);
    return 0;
  }
  TEndCentral ec = endCentral_;
  if (OnStartZipInfo) {
    bool stop = false;
    OnStartZipInfo(this, static_cast<int>(items.size()), run.totalBytes, ec, stop);
    if (stop) throw EUserCanceled(zipmsg::kUserCanceledZip);
  }

  // 2. Compression runs ahead of the writing on worker threads.
  std::vector<TPackSource> sources;
  std::vector<uint32_t> packIndex(items.size(), UINT32_MAX);
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].IsFolder || items[i].IsLink) continue;
    bool store =
        PackLevel <= 0 || items[i].Size == 0 || MatchesPatternList(NoCompressList, items[i].Path);
    packIndex[i] = static_cast<uint32_t>(sources.size());
    sources.push_back({items[i].Path, store});
  }
  run.keepStored = Dispose || ResetArchiveBitOnZip;
  run.entries.reserve(items.size());
  StartKeys(run, sources.size());
  if (MultiZipInfo.MultiMode != TMultiMode::mmNone) {
    run.pack = std::make_unique<TPackPipeline>(std::move(sources), std::clamp(PackLevel, 1, 9),
                                               PackThreads);
    int count = WriteVolumes(run, items, packIndex, ec);
    if (OnTotalPercentDone) OnTotalPercentDone(this, 100);
    FilesList.clear();
    // The completion handler may still carry the last volume away (burn it to a disc): sources
    // are deleted and attributes cleared only when it did not cancel the operation.
    if (OnZipComplete) OnZipComplete(this, count);
    if (cancel_)
      cancel_ = false;
    else if (!run.stored.empty())
      AfterArchiveComplete(run);
    return count;
  }
  // The new archive is written beside its name and takes it once complete; a replaced archive
  // keeps its permissions.
  TAtomicFile file(target, kTempBesideInfix);
  file.SetMode(ModeForReplacing(target));
  try {
    run.stream = std::make_unique<TFileStream>(file.TempPath(), TFileStream::omReadWrite);
    run.out = std::make_unique<TZipOutput>(*run.stream);
    run.pack = std::make_unique<TPackPipeline>(std::move(sources), std::clamp(PackLevel, 1, 9),
                                               PackThreads);
    const bool replacing = archiveExists && ast.st_size > 0;
    for (size_t i = 0; i < items.size(); ++i) {
      CheckCancel();
      if (items[i].IsFolder) {
        WriteFolderEntry(run, items[i]);
      } else if (StoreFile(run, items[i], packIndex[i])) {
        ++run.files;
      } else if (run.readFailed && replacing) {
        // A file on a failing disk: the archive being replaced keeps its last good copy.
        KeepPreviousCopy(run, target, items[i]);
      }
    }
    std::vector<uint32_t>().swap(packIndex);
    if (run.entries.empty()) {
      run.ReleaseEntries();
      file.Discard();
    } else {
      // 3. The central directory and the end records; the archive replaces whatever empty file
      // had its name once it reads back.
      if (!run.keepStored) TFileItems().swap(items);
      Complete(run, file.TempPath(), ec, ec.Comment, [&] { CommitArchive(file); });
      AdoptDirectory(zipName);
    }
  } catch (...) {
    run.ReleaseEntries();
    throw;
  }

  // 4. The archive is complete: only now are sources deleted and attributes cleared.
  if (!run.stored.empty()) AfterArchiveComplete(run);
  if (OnTotalPercentDone) OnTotalPercentDone(this, 100);
  int count = run.files;
  FilesList.clear();
  if (OnZipComplete) OnZipComplete(this, count);
  return count;
}

void TArcZip::KeepPreviousCopy(TRun& run, const std::string& archive, const TFileItem& item) {
  const std::string stored =
      StoredNameOf(item.Path, false, StorePaths, RelativePaths, RelativePathList);
  if (run.names.Contains(stored)) return;
  if (!run.previousTried) {
    run.previousTried = true;
    // Read as the writer checks its own archives: quietly, without asking anybody. One that
    // does not read that way keeps nothing.
    try {
      ReadWrittenDirectory(archive);
      run.previous = std::make_unique<TFileStream>(archive, TFileStream::omRead);
    } catch (const std::exception&) {
      entries_.clear();
      order_.clear();
      loaded_ = false;
    }
  }
  if (!run.previous) return;
  for (const TZipHeaderInfo& h : entries_)
    if (h.StoredName() == stored && !h.IsFolder()) {
      CopyEntry(run, *run.previous, h, true);
      return;
    }
}

void TArcZip::RefuseVolumes() const {
  // Volumes are written only as a new archive: a rewrite asked for them must not come out as
  // one file.
  if (MultiZipInfo.MultiMode != TMultiMode::mmNone)
    throw EArcZipException(
        "Spanned and split archives are only written anew: nothing was written. Write a new "
        "archive instead.");
}

void TArcZip::Complete(TRun& run, const std::string& temp, TEndCentral ec,
                       const std::string& comment, const std::function<void()>& replace) {
  TZipOutput& out = *run.out;
  const int64_t cdStart = out.Pos();
  std::string record;
  for (const auto& e : run.entries) {
    record.clear();
    AppendCentralRecord(record, e);
    out.Append(record);
  }
  const int64_t cdEnd = out.Pos();
  const uint64_t written = run.entries.size();
  out.Append(EndRecordsBytes(ec, written, static_cast<uint64_t>(cdEnd - cdStart),
                             static_cast<uint64_t>(cdStart), comment));
  out.Flush();
  // The archive is on the medium before it takes the name, and the name before anything (a
  // moved source, a replaced archive) is deleted.
  run.stream->Flush();
  run.ReleaseEntries();
#ifdef __GLIBC__
  // What the writing freed goes back to the system before the directory is read into new
  // memory, so that a run's peak is that of the larger of the two, not of both.
  ::malloc_trim(0);
#endif
  CheckCancel();

  // The new archive must read back, with every entry, before it takes the old one's place: an
  // archive that does not read would lose the only copy of the files in it.
  std::string failure;
  try {
    ReadWrittenDirectory(temp);
    if (static_cast<uint64_t>(EntryCount()) != written)
      failure = "it read back with " + std::to_string(EntryCount()) + " of " +
                std::to_string(written) + " entries";
  } catch (const std::exception& e) {
    failure = e.what();
  }
  if (!failure.empty()) {
    entries_.clear();
    order_.clear();
    loaded_ = false;
    throw EBadZipFile(std::string(zipmsg::kNotAZip) + " The new archive does not read back (" +
                      failure + "); the archive was left as it was.");
  }
  replace();
}

void TArcZip::SetupExpansion(TExpandOptions& xo, const std::string& archive) {
  struct stat lst;
  if (::lstat(ArchiveLockPath(archive).c_str(), &lst) == 0) {
    xo.HaveLock = true;
    xo.LockDev = lst.st_dev;
    xo.LockIno = lst.st_ino;
  }
  xo.RootDir = RootDir;
  xo.Recurse = Recurse;
  xo.AddDirEntriesOnRecurse = AddDirEntriesOnRecurse;
  xo.IncludeHidden = IncludeHiddenFiles;
  xo.FollowLinks = FollowLinks;
  xo.ExcludeList = &ExcludeList;
  if (SkipIfArchiveBitNotSet)
    xo.ArchiveBitSet = [this](const std::string& p, const struct stat& st) {
      return Attributes().IsSet(p, st);
    };
  xo.Skipping = [this](TSkipReason r, const std::string& name) {
    bool retry = false;
    if (OnSkippingFile) OnSkippingFile(this, r, name, -1, retry);
  };
  xo.LeftOut = [this](const std::string& name, const std::string& why) {
    SkipBecause(srFileOpenError, name, -1, why);
  };
  xo.NoSuchFile = [this](const std::string& name) {
    if (OnNoSuchFile) OnNoSuchFile(this, name);
  };
  xo.RecursingFile = [this](const std::string& name) {
    if (OnRecursingFile) OnRecursingFile(this, name);
  };
  xo.Between = [this] { CheckCancel(); };
}

void TArcZip::StartKeys(TRun& run, size_t sources) {
  const uint8_t strength = AesStrengthOf(Encryption);
  if (strength && !Password.empty() && sources > 0)
    run.keys = std::make_unique<TAesKeyPool>(Password, strength, sources, PackThreads);
}

void TArcZip::AfterArchiveComplete(TRun& run) {
  if (ResetArchiveBitOnZip) {
    TArchiveAttributes& attrs = Attributes();
    for (const auto& f : run.stored) attrs.Clear(*f.Path, f.Stamp);
    try {
      attrs.Commit();
    } catch (const std::system_error&) {
      // The bits stay set: the files are simply taken again by the next run.
    }
  }
  if (Dispose) {
    for (const auto& f : run.stored) {
      bool skip = false;
      if (OnDisposeFile) OnDisposeFile(this, *f.Path, skip);
      if (skip) continue;
      // A file that changed after it was stored is kept: deleting it would lose the change.
      struct stat st;
      if (::stat(f.Path->c_str(), &st) != 0 || !(TFileStamp::Of(st) == f.Stamp)) continue;
      ::unlink(f.Path->c_str());
    }
  }
}

namespace {

void SetName(TZipHeaderInfo& h, const std::string& stored) {
  h.SetNames(stored, stored);
  h.FileNameLength = static_cast<uint16_t>(std::min<size_t>(stored.size(), 0xFFFF));
  if (!IsPlainAscii(stored) && IsValidUtf8(stored)) h.Flag |= 0x0800;
}

}  // namespace

bool TArcZip::WriteFolderEntry(TRun& run, const TFileItem& item) {
  std::string stored = StoredNameOf(item.Path, true, StorePaths, RelativePaths, RelativePathList);
  if (stored.empty() || stored.size() > 0xFFFF) return false;
  if (run.names.Contains(stored)) {
    bool retry = false;
    if (OnSkippingFile) OnSkippingFile(this, srNoOverwrite, item.Path, -1, retry);
    return false;
  }
  TZipHeaderInfo h;
  h.VersionMadeBy = 0x032D;
  h.ComprMethod = 0;
  h.CRC32 = 0;
  h.IntFileAttrib = 0;
  SetName(h, stored);
  struct stat st;
  std::string dir = item.Path;
  if (::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    h.ModifDateTime = TimeToDosDateTime(st.st_mtime);
    h.ExtFileAttrib = (static_cast<uint32_t>(st.st_mode) << 16) | DosAttributes(dir, st, false);
    h.CentralExtra = UnixExtraFields(st.st_mtime, st.st_uid, st.st_gid);
  } else {
    const std::time_t now = std::time(nullptr);
    h.ModifDateTime = TimeToDosDateTime(now);
    h.ExtFileAttrib = (static_cast<uint32_t>(S_IFDIR | 0755) << 16) | 0x10;
    h.CentralExtra = UnixExtraFields(now, ::geteuid(), ::getegid());
  }
  uint64_t offset = static_cast<uint64_t>(run.out->Pos());
  SetEntrySizes(h, 0, 0, offset);
  run.out->Append(LocalHeaderBytes(h, false));
  run.Add(h);
  return true;
}

// A symbolic link as Unix zip tools store it: host Unix, S_IFLNK and its mode in the external
// attributes, the link's text as the entry's data (stored, never encrypted: it is no more secret
// than a name).
bool TArcZip::StoreLink(TRun& run, const TFileItem& item) {
  const std::string& path = item.Path;
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) {
    if (OnNoSuchFile) OnNoSuchFile(this, path);
    return false;
  }
  std::string target(4096, '\0');
  const ssize_t n =
      S_ISLNK(st.st_mode) ? ::readlink(path.c_str(), target.data(), target.size()) : -1;
  if (n <= 0 || static_cast<size_t>(n) >= target.size()) {
    SkipBecause(srFileOpenError, path, -1,
                S_ISLNK(st.st_mode) ? "the link cannot be read" : "no longer a symbolic link");
    return false;
  }
  target.resize(static_cast<size_t>(n));
  std::string stored = StoredNameOf(path, false, StorePaths, RelativePaths, RelativePathList);
  if (stored.empty() || stored.size() > 0xFFFF || run.names.Contains(stored)) {
    bool retry = false;
    if (OnSkippingFile) OnSkippingFile(this, srNoOverwrite, path, -1, retry);
    return false;
  }
  TZipHeaderInfo h;
  h.VersionMadeBy = 0x032D;
  h.ComprMethod = 0;
  h.IntFileAttrib = 0;
  SetName(h, stored);
  h.ModifDateTime = TimeToDosDateTime(st.st_mtime);
  h.CentralExtra = UnixExtraFields(st.st_mtime, st.st_uid, st.st_gid);
  h.ExtFileAttrib = (static_cast<uint32_t>(st.st_mode) << 16) |
                    DosAttributes(path, st, Attributes().IsSet(path, st));
  h.CRC32 = ZipCrc32(0, target.data(), target.size());
  SetEntrySizes(h, target.size(), target.size(), 0);
  if (OnStartZip) {
    bool skip = false;
    OnStartZip(this, path, h, skip);
    if (skip) {
      bool retry = false;
      if (OnSkippingFile) OnSkippingFile(this, srSkippedInStartZip, path, -1, retry);
      return false;
    }
  }
  SetEntrySizes(h, target.size(), target.size(), static_cast<uint64_t>(run.out->Pos()));
  run.out->Append(LocalHeaderBytes(h, false));
  run.out->Append(target);
  run.doneBytes += static_cast<int64_t>(target.size());
  if (OnEndZip)
    OnEndZip(this, path, Clamp32(h.UncompressedSize()), Clamp32(h.CompressedSize()),
             Clamp32(static_cast<uint64_t>(run.out->Pos())));
  // A link is neither deleted by a move nor given an archive attribute: both would act on the
  // file it points to.
  run.Add(h);
  return true;
}

bool TArcZip::StoreFile(TRun& run, const TFileItem& item, size_t packIndex) {
  if (item.IsLink) return StoreLink(run, item);
  const std::string& path = item.Path;
  run.readFailed = false;
  // The file is looked at once, through the handle it is read from.
  struct stat st;
  TFd fd;
  for (;;) {
    fd.fd = OpenSourceFile(path);
    if (fd.fd >= 0) break;
    if (errno == ENOENT || errno == ENOTDIR) {
      run.pack->Drop(packIndex);
      if (OnNoSuchFile) OnNoSuchFile(this, path);
      return false;
    }
    const bool retry = SkipBecause(srFileOpenError, path, -1,
                                   std::string("cannot be read: ") + std::strerror(errno), true);
    if (!retry) {
      run.pack->Drop(packIndex);
      return false;
    }
  }
  if (::fstat(fd.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    run.pack->Drop(packIndex);
    if (OnNoSuchFile) OnNoSuchFile(this, path);
    return false;
  }
  std::string stored = StoredNameOf(path, false, StorePaths, RelativePaths, RelativePathList);
  if (stored.empty() || stored.size() > 0xFFFF || run.names.Contains(stored)) {
    run.pack->Drop(packIndex);
    bool retry = false;
    if (OnSkippingFile) OnSkippingFile(this, srNoOverwrite, path, -1, retry);
    return false;
  }

  TZipHeaderInfo h;
  h.VersionMadeBy = 0x032D;
  h.ComprMethod = run.pack->Stored(packIndex) ? 0 : 8;
  h.Flag = LevelFlags(PackLevel);
  if (!Password.empty()) h.Flag |= 0x0001;
  h.IntFileAttrib = 0;
  SetName(h, stored);
  h.ModifDateTime = TimeToDosDateTime(st.st_mtime);
  h.CentralExtra = UnixExtraFields(st.st_mtime, st.st_uid, st.st_gid);
  bool archiveBit = Attributes().IsSet(path, st);
  h.ExtFileAttrib = (static_cast<uint32_t>(st.st_mode) << 16) | DosAttributes(path, st, archiveBit);
  if (const uint8_t strength = AesStrengthOf(Encryption); strength && !Password.empty()) {
    // The method the data is compressed with moves into the AES field (AE-1 or AE-2 is settled
    // once the size is known).
    SetAesField(h, {1, strength, h.ComprMethod});
    h.ComprMethod = kAesMethod;
  }
  SetEntrySizes(h, static_cast<uint64_t>(st.st_size), 0, 0);
  if (OnStartZip) {
    bool skip = false;
    OnStartZip(this, path, h, skip);
    if (skip) {
      run.pack->Drop(packIndex);
      bool retry = false;
      if (OnSkippingFile) OnSkippingFile(this, srSkippedInStartZip, path, -1, retry);
      return false;
    }
  }

  bool done = false;
  WriteFileData(run, h, path, fd.fd, st, packIndex, done);
  if (!done) return false;
  // A file written to while it was read is in the archive as it was read: maybe half old, half
  // new, or cut at the size it had when it was measured. The run tells and counts it, so that
  // the next run stores it again.
  struct stat now;
  if (::fstat(fd.fd, &now) == 0 &&
      (now.st_size != st.st_size || now.st_mtim.tv_sec != st.st_mtim.tv_sec ||
       now.st_mtim.tv_nsec != st.st_mtim.tv_nsec)) {
    const std::string what =
        now.st_size > st.st_size
            ? "it grew while it was stored: " + std::to_string(h.UncompressedSize()) + " of " +
                  std::to_string(now.st_size) + " bytes were stored"
        : now.st_size < st.st_size
            ? "it became shorter while it was stored: " + std::to_string(h.UncompressedSize()) +
                  " of " + std::to_string(st.st_size) + " bytes were stored"
            : "it changed while it was stored; the stored copy may mix old "
              "and new data";
    SkipBecause(srFileOpenError, path, -1, what, false);
  }
  if (OnEndZip)
    OnEndZip(this, path, Clamp32(h.UncompressedSize()), Clamp32(h.CompressedSize()),
             Clamp32(static_cast<uint64_t>(run.out->Pos())));
  if (run.keepStored) run.stored.push_back({&item.Path, TFileStamp::Of(st)});
  run.Add(h);
  return true;
}

// One attempt at writing a file's entry: its local header, the data and where they stand.
struct TArcZip::TDataPass {
  int64_t headerPos = 0;
  uint64_t read = 0;     // source bytes taken
  uint64_t written = 0;  // bytes after the local header, the encryption header included
  uint32_t crc = 0;
  int readError = 0;  // errno of a failed read of the source; the data is not to be kept
  int lastFilePercent = -1;
  std::unique_ptr<TEntryCipher> crypt;
};

namespace {

// The CRC of the first size bytes of fd, read in the pre-pass that encryption needs; err gets
// the errno of a failed read.
uint32_t CrcOfFile(int fd, int64_t size, int& err) {
  uint32_t crc = 0;
  std::vector<uint8_t> buf(kCrcPiece);
  int64_t pos = 0;
  while (pos < size) {
    ssize_t r = ::pread(fd, buf.data(), std::min<int64_t>(kCrcPiece, size - pos), pos);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) err = errno;
    if (r <= 0) break;
    crc = ZipCrc32(crc, buf.data(), static_cast<size_t>(r));
    pos += r;
  }
  return crc;
}

}  // namespace

void TArcZip::WriteFileData(TRun& run, TZipHeaderInfo& h, const std::string& path, int fd,
                            const struct stat& st, size_t packIndex, bool& done) {
  const int64_t size = st.st_size;
  // Only the traditional header carries the CRC; AES needs no pass over the file beforehand.
  const bool encrypt = !Password.empty() && !h.IsAes();
  bool zip64Room = NeedsZip64Room(size);
  bool usePipeline = true;
  int crcMismatches = 0;

  for (;;) {
    // The 12-byte encryption header carries the CRC, so the data is read once beforehand.
    int preError = 0;
    const uint32_t preCrc = encrypt ? CrcOfFile(fd, size, preError) : 0;
    TDataPass pass;
    BeginEntryData(run, h, packIndex, size, preCrc, zip64Room, pass);
    TPackIdentity id = usePipeline ? run.pack->Identity(packIndex) : TPackIdentity();
    bool torn = false;
    if (preError != 0) {
      pass.readError = preError;
    } else if (usePipeline && id.Matches(st)) {
      torn = !PipelineData(run, packIndex, size, pass);
    } else {
      // The file is not the one the workers read (replaced or changed in between), or the
      // entry is being redone: compress it here from the open handle, reading every byte once.
      run.pack->Drop(packIndex);
      CompressHere(run, fd, run.pack->Stored(packIndex), size, pass);
    }

    // An attempt that cannot stand is taken back and the entry written again, from the file.
    auto redo = [&] {
      run.doneBytes -= static_cast<int64_t>(pass.read);
      run.out->Truncate(pass.headerPos);
      usePipeline = false;
    };
    if (pass.readError != 0) {
      // The source could not be read (a failing disk): what was read is not stored as if the
      // file ended there. The file is left out (an entry it was to replace stays) and named.
      run.pack->Drop(packIndex);
      redo();
      SourceError = std::string("read error: ") + std::strerror(pass.readError);
      bool retry = false;
      if (OnSkippingFile) OnSkippingFile(this, srFileOpenError, path, -1, retry);
      SourceError.clear();
      if (retry) continue;
      run.readFailed = true;
      return;
    }
    if (torn) {
      // The file changed while the workers read it: the chunks do not fit together.
      run.pack->Drop(packIndex);
      redo();
      continue;
    }
    if (encrypt && pass.crc != preCrc) {
      // The file changed between the CRC pass and the encrypted write: the header's check bytes
      // would not match, so the entry is written again.
      redo();
      if (++crcMismatches < 3) continue;
      bool retry = false;
      if (OnSkippingFile) OnSkippingFile(this, srFileOpenError, h.FullName(), -1, retry);
      if (retry) {
        crcMismatches = 0;
        continue;
      }
      return;
    }
    if (!zip64Room && (pass.read >= kSat32Value || pass.written >= kSat32Value)) {
      // Cannot happen with the margin NeedsZip64Room keeps, but a header must never grow: redo.
      redo();
      zip64Room = true;
      continue;
    }
    FinishEntryData(run, h, size, zip64Room, pass);
    done = true;
    return;
  }
}

// The local header with the sizes known so far, and for an encrypted entry the encryption
// header: for AES a new random salt and the password verifier, for the traditional cipher 10
// random bytes and the CRC's two high bytes.
void TArcZip::BeginEntryData(TRun& run, TZipHeaderInfo& h, size_t packIndex, int64_t size,
                             uint32_t preCrc, bool zip64Room, TDataPass& pass) {
  pass.headerPos = run.out->Pos();
  SetEntrySizes(h, static_cast<uint64_t>(size), 0, static_cast<uint64_t>(pass.headerPos));
  h.CRC32 = preCrc;
  run.out->Append(LocalHeaderBytes(h, zip64Room));
  if (Password.empty()) return;
  if (h.IsAes()) {
    TAesField field;
    ParseAesField(h.CentralExtra, field);
    std::unique_ptr<TAesCipher> aes = run.keys && AesStrengthOf(Encryption) == field.Strength
                                          ? run.keys->Take(packIndex)
                                          : std::make_unique<TAesCipher>(Password, field.Strength);
    run.out->Append(aes->Salt(), aes->HeaderSize() - kAesVerifierSize);
    run.out->Append(aes->Verifier(), kAesVerifierSize);
    pass.written += aes->HeaderSize();
    pass.crypt = std::move(aes);
    return;
  }
  pass.crypt = std::make_unique<TZipCrypt>(Password);
  uint8_t head[12];
  ZipRandomBytes(head, 10);
  head[10] = static_cast<uint8_t>(preCrc >> 16);
  head[11] = static_cast<uint8_t>(preCrc >> 24);
  pass.crypt->Encrypt(head, sizeof head);
  run.out->Append(head, sizeof head);
  pass.written += sizeof head;
}

// Writes compressed bytes in pieces, encrypted when asked, with a message check after each.
void TArcZip::EmitData(TRun& run, std::vector<uint8_t>& data, TDataPass& pass) {
  size_t off = 0;
  while (off < data.size()) {
    size_t k = std::min(kWritePiece, data.size() - off);
    if (pass.crypt) pass.crypt->Encrypt(data.data() + off, k);
    run.out->Append(data.data() + off, k);
    off += k;
    pass.written += k;
    CheckCancel();
  }
}

// Counts n more source bytes taken and reports the file's and the run's progress.
void TArcZip::CountRead(TRun& run, uint64_t n, int64_t size, TDataPass& pass) {
  pass.read += n;
  run.doneBytes += static_cast<int64_t>(n);
  if (OnFilePercentDone && size > 0) {
    int p =
        static_cast<int>(std::min<uint64_t>(100, pass.read * 100 / static_cast<uint64_t>(size)));
    if (p != pass.lastFilePercent) OnFilePercentDone(this, pass.lastFilePercent = p);
  }
  if (OnTotalPercentDone && run.totalBytes > 0) {
    int p = static_cast<int>(std::min<int64_t>(100, run.doneBytes * 100 / run.totalBytes));
    if (p != run.lastTotalPercent) OnTotalPercentDone(this, run.lastTotalPercent = p);
  }
}

// The data the compression workers made ahead. False when the file changed while they read it.
bool TArcZip::PipelineData(TRun& run, size_t packIndex, int64_t size, TDataPass& pass) {
  TPackChunk chunk;
  while (run.pack->Next(packIndex, chunk)) {
    if (chunk.ReadError != 0) {
      pass.readError = chunk.ReadError;
      return true;
    }
    if (chunk.Torn) return false;
    pass.crc = static_cast<uint32_t>(
        crc32_combine(pass.crc, chunk.Crc, static_cast<z_off_t>(chunk.InSize)));
    EmitData(run, chunk.Data, pass);
    CountRead(run, chunk.InSize, size, pass);
    if (chunk.Last) break;
  }
  return true;
}

// The data stored or deflated here, from the open file. A level deflated in whole chunks reads
// a chunk at a time and joins the chunks' streams as the workers' are joined.
void TArcZip::CompressHere(TRun& run, int fd, bool store, int64_t size, TDataPass& pass) {
  std::unique_ptr<TDeflater> d;
  if (!store) d = std::make_unique<TDeflater>(std::clamp(PackLevel, 1, 9));
  const bool whole = d && d->Plan().Whole;
  std::vector<uint8_t> buf(store ? kCopyPiece : whole ? d->Plan().ChunkSize : kDeflatePiece);
  std::vector<uint8_t> piece;
  if (d && !whole) d->Reset(nullptr, 0);
  int64_t pos = 0;
  bool ended = false;  // a whole-chunk stream ended with its final block
  while (pos < size) {
    // A whole chunk is read in full (up to the size), so that only the last one is short.
    size_t want = static_cast<size_t>(std::min<int64_t>(buf.size(), size - pos));
    size_t got = 0;
    while (got < want) {
      ssize_t r = ::pread(fd, buf.data() + got, want - got, pos + static_cast<int64_t>(got));
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) {
        pass.readError = errno;
        return;
      }
      if (r == 0) break;
      got += static_cast<size_t>(r);
      if (!whole) break;
    }
    if (got == 0) break;
    pass.crc = ZipCrc32(pass.crc, buf.data(), got);
    pos += static_cast<int64_t>(got);
    piece.clear();
    if (store) {
      piece.assign(buf.data(), buf.data() + got);
    } else if (whole) {
      ended = got < want || pos >= size;
      d->Chunk(buf.data(), got, ended, piece);
    } else {
      d->Deflate(buf.data(), got, false, false, piece);
    }
    EmitData(run, piece, pass);
    CountRead(run, got, size, pass);
    if (whole && ended) break;
  }
  if (d && !ended) {
    piece.clear();
    if (whole)
      d->Chunk(nullptr, 0, true, piece);
    else
      d->Deflate(nullptr, 0, false, true, piece);
    EmitData(run, piece, pass);
  }
}

// The local header rewritten in place with the final CRC and sizes; a file that became shorter
// while it was stored is told about.
void TArcZip::FinishEntryData(TRun& run, TZipHeaderInfo& h, int64_t size, bool zip64Room,
                              TDataPass& pass) {
  h.CRC32 = pass.crc;
  if (auto* aes = dynamic_cast<TAesCipher*>(pass.crypt.get())) {
    // The authentication code ends the data. A short entry is written as AE-2, without its
    // CRC, which would tell too much of so few bytes.
    uint8_t code[kAesCodeSize];
    aes->Code(code);
    run.out->Append(code, sizeof code);
    pass.written += sizeof code;
    TAesField field;
    ParseAesField(h.CentralExtra, field);
    field.Version = pass.read < kAesAe2Below ? 2 : 1;
    SetAesField(h, field);
    if (field.Version == 2) h.CRC32 = 0;
  }
  SetEntrySizes(h, pass.read, pass.written, static_cast<uint64_t>(pass.headerPos));
  std::string header = LocalHeaderBytes(h, zip64Room);
  run.out->PatchAt(pass.headerPos, header.data(), header.size());
  if (pass.read < static_cast<uint64_t>(size)) {
    ShowMessage(zmSourceShortRead, h.FullName(),
                "The file became shorter while it was stored: " + std::to_string(pass.read) +
                    " of " + std::to_string(size) + " bytes were stored.",
                zbOK | zbIconWarning);
  }
}
