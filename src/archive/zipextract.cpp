// Extracting and testing entries.
//
// Safety rules of extraction: a stored name with a ".." segment, or that is empty, "." or "..",
// is never written (reason CreateError); absolute stored folders go below DestDir when it is set.
// Folders below DestDir are opened without following symbolic links (with FollowOwnLinks, only
// links of the user or of root are followed), targets are written into a
// temporary file beside them and renamed over the target only once the CRC matched (an existing
// file is never lost to a bad entry, and a symbolic link at the target is replaced, not
// followed). Symbolic links and device entries are not created; setuid/setgid bits are dropped.
// Decompressed data never exceeds the entry's stated size.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <string_view>

#include "archive/arcunzip.h"
#include "archive/wildcard.h"
#include "archive/zipcrypt.h"
#include "archive/zipexceptions.h"

namespace {

constexpr size_t kInBufSize = 65536;   // compressed data read per step
constexpr size_t kOutBufSize = 65536;  // decompressed data written per step

class TFd {
 public:
  explicit TFd(int fd = -1) : fd_(fd) {}
  ~TFd() { Reset(); }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  TFd(TFd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  TFd& operator=(TFd&& o) noexcept {
    if (this != &o) {
      Reset();
      fd_ = o.fd_;
      o.fd_ = -1;
    }
    return *this;
  }
  int Get() const { return fd_; }
  void Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

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

void SplitTarget(const std::string& target, std::string& folder, std::string& base) {
  size_t slash = target.rfind('/');
  if (slash == std::string::npos) {
    folder.clear();
    base = target;
  } else {
    folder = target.substr(0, slash + 1);
    base = target.substr(slash + 1);
  }
}

TFd OpenFolderStep(int dirFd, const std::string& seg, bool followOwnLinks, int& linkBudget);

// Follows the symbolic link `seg` in dirFd to the folder it names, when the link belongs to the
// user running the program or to root. The link's text is read and walked here, step by step
// under the same rule, instead of letting the kernel follow it, so a link swapped in after its
// owner was checked is never taken. Returns an invalid TFd when the link is not followed.
TFd FollowOwnLink(int dirFd, const std::string& seg, int& linkBudget) {
  if (--linkBudget < 0) return TFd();
  struct stat before;
  if (::fstatat(dirFd, seg.c_str(), &before, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(before.st_mode))
    return TFd();
  if (before.st_uid != ::geteuid() && before.st_uid != 0) return TFd();
  std::string text(4096, '\0');
  ssize_t n = ::readlinkat(dirFd, seg.c_str(), text.data(), text.size());
  if (n <= 0 || static_cast<size_t>(n) >= text.size()) return TFd();
  text.resize(static_cast<size_t>(n));
  // A link's text never changes; the same inode afterwards means the text read is the checked
  // link's.
  struct stat after;
  if (::fstatat(dirFd, seg.c_str(), &after, AT_SYMLINK_NOFOLLOW) != 0 ||
      after.st_ino != before.st_ino || after.st_dev != before.st_dev)
    return TFd();
  TFd fd(text[0] == '/' ? ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                        : ::fcntl(dirFd, F_DUPFD_CLOEXEC, 0));
  size_t start = 0;
  while (fd.Get() >= 0 && start < text.size()) {
    size_t end = text.find('/', start);
    if (end == std::string::npos) end = text.size();
    std::string part = text.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    fd = OpenFolderStep(fd.Get(), part, true, linkBudget);
  }
  return fd;
}

// Opens one level below dirFd without letting the kernel follow a symbolic link; the user's own
// links are followed by FollowOwnLink when allowed.
TFd OpenFolderStep(int dirFd, const std::string& seg, bool followOwnLinks, int& linkBudget) {
  int next = ::openat(dirFd, seg.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (next < 0 && followOwnLinks && (errno == ELOOP || errno == ENOTDIR))
    return FollowOwnLink(dirFd, seg, linkBudget);
  return TFd(next);
}

// Opens a folder, creating missing levels when asked. Levels below `trusted` (the folder the
// user chose) are opened one by one without following symbolic links, except, with
// followOwnLinks, links owned by the user or by root (FollowOwnLink). Returns an invalid TFd on
// failure.
TFd OpenFolder(const std::string& path, const std::string& trusted, bool create,
               bool followOwnLinks = false) {
  std::string p = path.empty() ? "." : path;
  std::string rest;
  TFd fd;
  bool below = false;
  if (!trusted.empty()) {
    if (trusted == "/" && p[0] == '/') {
      below = true;
      rest = p.substr(1);
    } else if (trusted == "." && p[0] != '/') {
      below = true;
      rest = p;
    } else if (p == trusted || StartsWithNoCase(p, trusted + "/")) {
      below = p.compare(0, trusted.size(), trusted) == 0;
      rest = p.substr(trusted.size());
    }
  }
  if (!below) {
    if (create) {
      std::error_code ec;
      std::filesystem::create_directories(p, ec);
    }
    return TFd(::open(p.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  }
  std::string root = trusted == "." ? "." : trusted;
  if (create) {
    std::error_code ec;
    std::filesystem::create_directories(root, ec);
  }
  fd = TFd(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  size_t start = 0;
  while (fd.Get() >= 0 && start < rest.size()) {
    size_t end = rest.find('/', start);
    if (end == std::string::npos) end = rest.size();
    std::string seg = rest.substr(start, end - start);
    start = end + 1;
    if (seg.empty() || seg == ".") continue;
    if (seg == "..") return TFd();
    int linkBudget = 40;
    TFd next = OpenFolderStep(fd.Get(), seg, followOwnLinks, linkBudget);
    if (next.Get() < 0 && errno == ENOENT && create) {
      if (::mkdirat(fd.Get(), seg.c_str(), 0777) != 0 && errno != EEXIST) return TFd();
      next = OpenFolderStep(fd.Get(), seg, false, linkBudget);
    }
    fd = std::move(next);
  }
  return fd;
}

std::string TempName() {
  static std::mt19937_64 rng{std::random_device{}()};
  static const char* hex = "0123456789abcdef";
  std::string s = ".arcavo-";
  uint64_t v = rng();
  for (int i = 0; i < 12; ++i, v >>= 4) s.push_back(hex[v & 15]);
  return s + ".tmp";
}

mode_t CurrentUmask() {
  mode_t m = ::umask(022);
  ::umask(m);
  return m;
}

// File type bits of a Unix-made entry, 0 when the entry carries none.
mode_t StoredType(const TZipHeaderInfo& h) {
  if (h.HostByte() != 3) return 0;
  return static_cast<mode_t>(h.ExtFileAttrib >> 16) & S_IFMT;
}

}  // namespace

struct TArcUnZip::TExtractRun {
  mode_t umask = 022;
  std::string trusted;  // folder below which symbolic links are never followed
  struct TFolder {
    std::string path;
    mode_t mode;
    uint32_t dosTime;
  };
  std::vector<TFolder> folders;  // folder entries: modes and times set after their contents
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
  return good == EntryCount();
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

bool TArcUnZip::AskNewPassword(int index) {
  if (!OnBadPassword) return false;
  std::string np = Password;
  OnBadPassword(this, index, np);
  if (np == Password) return false;
  Password = np;
  return true;
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
      run.trusted = ".";
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
      }
      if (good) h.Problem = TEntryProblem::None;
      if (testing) h.TestState = good ? TZipTestState::Good : TZipTestState::Bad;
      if (good) ++count;
    }
  }

  // Folder entries get their modes and times once their contents are written, deepest first.
  std::sort(run.folders.begin(), run.folders.end(),
            [](const auto& a, const auto& b) { return a.path.size() > b.path.size(); });
  for (const auto& f : run.folders) {
    TFd fd = OpenFolder(f.path, run.trusted, false, FollowOwnLinks);
    if (fd.Get() < 0) continue;
    if (RetainAttributes) ::fchmod(fd.Get(), f.mode);
    std::time_t t;
    if (DosDateTimeToTime(f.dosTime, t)) {
      struct timespec ts[2] = {{t, 0}, {t, 0}};
      ::futimens(fd.Get(), ts);
    }
  }

  if (OnTotalPercentDone && run.lastPercent != 100) OnTotalPercentDone(this, 100);
  if (OnUnZipComplete) OnUnZipComplete(this, count);
  return count;
}

bool TArcUnZip::ExtractOne(size_t phys, int index, bool testing, TExtractRun& run) {
  TZipHeaderInfo& h = entries_[phys];
  const std::string stored = h.FullName();
  std::string target = stored;
  mode_t type = StoredType(h);
  if (!testing) {
    // The extraction folder itself ("./") is there already: nothing to write, nothing to report.
    if (h.IsFolder() && NamesTheFolderItself(stored)) return false;
    // Names that could lead outside the target folder, links and devices are never written. A
    // FIFO entry with data (what "zip -" stores for a pipe) is written as a regular file, as
    // other extractors do.
    bool special = type != 0 && type != S_IFREG && type != S_IFDIR && type != S_IFIFO;
    if (!SafeStoredName(stored) || special) {
      Skip(srCreateError, stored, index);
      return false;
    }
    target = TargetName(h);
  }
  bool skip = false;
  if (OnStartUnZip) OnStartUnZip(this, index, target, skip);
  if (skip) return false;

  mode_t storedMode = static_cast<mode_t>(h.ExtFileAttrib >> 16) & 0777;
  bool unixMode = h.HostByte() == 3 && (h.ExtFileAttrib >> 16) != 0;

  if (h.IsFolder()) {
    if (testing) return true;
    std::string path = target;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    TFd fd = OpenFolder(path, run.trusted, true, FollowOwnLinks);
    if (fd.Get() < 0) {
      Skip(srCreateError, stored, index);
      return false;
    }
    mode_t mode = (unixMode ? storedMode : 0777) & ~run.umask;
    run.folders.push_back({path, mode, h.ModifDateTime});
    if (OnEndUnZip) OnEndUnZip(this, index, target);
    return true;
  }

  // Where the data starts: after the local header, its name and its extra field. The local
  // header must name this entry, and the data must end before the next entry begins: entries
  // that share their data are refused, whatever the directory says.
  THugeStream& s = ArchiveStream();
  uint8_t local[kLocalHeaderSize];
  uint64_t lho = h.LocalHeaderOffset();
  h.Problem = TEntryProblem::LocalHeader;
  if (lho > static_cast<uint64_t>(INT64_MAX) - 0x30000) throw EFatalUnzipError();
  s.ReadExactAt(static_cast<int64_t>(lho), local, sizeof local);
  if (GetU32(local) != zipsig::kLocalHeader) throw EFatalUnzipError();
  std::string localName(GetU16(local + 26), '\0');
  s.ReadExactAt(static_cast<int64_t>(lho + kLocalHeaderSize), localName.data(), localName.size());
  if (localName != h.StoredName() && localName != StoredCentralName(s, h)) throw EFatalUnzipError();
  int64_t dataPos = static_cast<int64_t>(lho) + static_cast<int64_t>(kLocalHeaderSize) +
                    GetU16(local + 26) + GetU16(local + 28);
  h.Problem = TEntryProblem::Overlap;
  if (h.CompressedSize() > h.NextOffset || static_cast<uint64_t>(dataPos) > h.NextOffset ||
      h.NextOffset - static_cast<uint64_t>(dataPos) < h.CompressedSize())
    throw EFatalUnzipError();
  h.Problem = TEntryProblem::None;

  bool strong = (h.Flag & 0x0040) != 0;
  if ((h.ComprMethod != 0 && h.ComprMethod != 8) || strong) {
    h.Problem = TEntryProblem::UnknownMethod;
    if (!testing)
      ShowMessage(zmUnknownMethod, zipmsg::kZipErrorTitle, zipmsg::kUnknownMethod,
                  zbOK | zbIconError);
    return false;
  }

  std::string folder, base;
  TFd dir;
  bool overwriteDecided = false;
  for (;;) {
    std::unique_ptr<TZipCrypt> crypt;
    if (h.IsEncrypted()) {
      uint8_t head[12];
      if (h.CompressedSize() < 12) throw EFatalUnzipError();
      s.ReadExactAt(dataPos, head, sizeof head);
      crypt = std::make_unique<TZipCrypt>(Password);
      crypt->Decrypt(head, sizeof head);
      uint8_t expected = (h.Flag & 0x0008) ? static_cast<uint8_t>(h.ModifDateTime >> 8)
                                           : static_cast<uint8_t>(h.CRC32 >> 24);
      if (head[11] != expected) {
        if (AskNewPassword(index)) continue;
        h.Problem = TEntryProblem::BadPassword;
        Skip(srBadPassword, stored, index);
        return false;
      }
    }

    if (!testing && !overwriteDecided) {
      overwriteDecided = true;
      SplitTarget(target, folder, base);
      dir = OpenFolder(folder, run.trusted, true, FollowOwnLinks);
      if (dir.Get() < 0 || base.empty()) {
        Skip(srCreateError, stored, index);
        return false;
      }
      struct stat st;
      if (::fstatat(dir.Get(), base.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISDIR(st.st_mode)) {
          Skip(srCreateError, stored, index);
          return false;
        }
        bool overwrite = false;
        std::time_t entryTime = 0;
        bool validTime = DosDateTimeToTime(h.ModifDateTime, entryTime);
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
                SplitTarget(target, folder, base);
                dir = OpenFolder(folder, run.trusted, true, FollowOwnLinks);
                if (dir.Get() < 0 || base.empty()) {
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
      }
    }

    // The data goes into a temporary file beside the target, renamed over it once good.
    std::string tempName;
    TFd out;
    struct TTempGuard {
      int dirFd = -1;
      std::string name;
      ~TTempGuard() {
        if (dirFd >= 0 && !name.empty()) ::unlinkat(dirFd, name.c_str(), 0);
      }
    } guard;
    if (!testing) {
      for (int attempt = 0; attempt < 8 && out.Get() < 0; ++attempt) {
        tempName = TempName();
        out = TFd(::openat(dir.Get(), tempName.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
      }
      if (out.Get() < 0) {
        Skip(srCreateError, stored, index);
        return false;
      }
      guard.dirFd = dir.Get();
      guard.name = tempName;
    }

    uint32_t crc = 0;
    uint64_t written = 0;
    bool dataError = false;
    Decompress(h, dataPos + (crypt ? 12 : 0), crypt.get(), out.Get(), crc, written, dataError, run);
    bool good = !dataError && crc == h.CRC32 && written == h.UncompressedSize();
    if (good) {
      if (!testing) {
        mode_t mode = 0666;
        if (RetainAttributes) {
          if (unixMode)
            mode = storedMode;
          else if (h.ExtFileAttrib & 0x01)
            mode = 0444;
        }
        ::fchmod(out.Get(), mode & ~run.umask);
        std::time_t t;
        if (DosDateTimeToTime(h.ModifDateTime, t)) {
          struct timespec ts[2] = {{t, 0}, {t, 0}};
          ::futimens(out.Get(), ts);
        }
        if (FlushFilesOnClose) ::fsync(out.Get());
        out.Reset();
        if (::renameat(dir.Get(), tempName.c_str(), dir.Get(), base.c_str()) != 0) {
          Skip(srCreateError, stored, index);
          return false;
        }
        guard.name.clear();
      }
      if (OnEndUnZip) OnEndUnZip(this, index, target);
      return true;
    }
    out.Reset();
    if (guard.dirFd >= 0) {
      ::unlinkat(guard.dirFd, guard.name.c_str(), 0);
      guard.name.clear();
    }
    if (h.IsEncrypted()) {
      if (AskNewPassword(index)) continue;
      h.Problem = TEntryProblem::BadPassword;
      Skip(srBadPassword, stored, index);
      return false;
    }
    h.Problem = dataError ? TEntryProblem::DamagedData : TEntryProblem::BadCRC;
    if (OnBadCRC) OnBadCRC(this, crc, h.CRC32, index);
    return false;
  }
}

void TArcUnZip::Decompress(const TZipHeaderInfo& h, int64_t dataPos, TZipCrypt* crypt, int outFd,
                           uint32_t& crc, uint64_t& written, bool& dataError, TExtractRun& run) {
  THugeStream& s = ArchiveStream();
  uint64_t remaining = h.CompressedSize() - (crypt ? 12 : 0);
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

  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) throw EFatalUnzipError(zipmsg::kInflateOutOfMemory);
  struct TEnd {
    z_stream& z;
    ~TEnd() { inflateEnd(&z); }
  } end{z};
  for (;;) {
    if (z.avail_in == 0) {
      size_t n = fetch(run.in.size());
      z.next_in = run.in.data();
      z.avail_in = static_cast<uInt>(n);
    }
    z.next_out = run.out.data();
    z.avail_out = static_cast<uInt>(run.out.size());
    int rc = inflate(&z, Z_NO_FLUSH);
    size_t produced = run.out.size() - z.avail_out;
    if (rc == Z_MEM_ERROR) {
      ShowMessage(zmInflateOutOfMemory, zipmsg::kZipErrorTitle, zipmsg::kInflateOutOfMemory,
                  zbOK | zbIconError);
      throw EFatalUnzipError(zipmsg::kInflateOutOfMemory);
    }
    if (rc == Z_DATA_ERROR || rc == Z_NEED_DICT || rc == Z_STREAM_ERROR) {
      dataError = true;
      return;
    }
    emit(run.out.data(), produced);
    if (rc == Z_STREAM_END) return;
    if (rc == Z_BUF_ERROR && z.avail_in == 0 && remaining == 0) throw EFatalUnzipError();
    if (z.avail_in == 0 && remaining == 0 && produced == 0) throw EFatalUnzipError();
  }
}
