#include "disc/discburner.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>

#include "disc/cachethread.h"
#include "platform/archiveattr.h"
#include "platform/filesearch.h"
#include "platform/wildcard.h"

namespace {

constexpr uint32_t kSector = 2048;
constexpr int64_t kMaxFileSize = 0xFFFFFFFFLL;  // data lengths are 32-bit
constexpr size_t kMaxLinkTarget = 1024;         // bytes of a link's target in Rock Ridge

int64_t RoundUpToSector(int64_t bytes) {
  return (bytes + kSector - 1) / kSector * kSector;
}

uint32_t SectorsOf(int64_t bytes) {
  return static_cast<uint32_t>((bytes + kSector - 1) / kSector);
}

void Le16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Be16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
void Le32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void Be32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}
void Both16(uint8_t* p, uint32_t v) {
  Le16(p, v);
  Be16(p + 2, v);
}
void Both32(uint8_t* p, uint32_t v) {
  Le32(p, v);
  Be32(p + 4, v);
}

// The 17-byte volume descriptor date of a day number counted from 30 December 1899: year, month,
// day, hour, minute, second and hundredths as digits, then a zero offset byte.
void PutVolumeDate(uint8_t* p, double value) {
  double days = std::floor(value);
  int64_t ms = std::llround((value - days) * 86400000.0);
  if (ms >= 86400000) ms = 86400000 - 1;
  // Civil date of a day count (days since 1970-01-01) in the proleptic Gregorian calendar.
  int64_t z = static_cast<int64_t>(days) - 25569 + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t y = yoe + era * 400;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
  y = std::clamp<int64_t>(y, 0, 9999);
  char text[40];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d%02d", static_cast<int>(y),
                static_cast<int>(m), static_cast<int>(d), static_cast<int>(ms / 3600000),
                static_cast<int>(ms / 60000 % 60), static_cast<int>(ms / 1000 % 60),
                static_cast<int>(ms % 1000 / 10));
  std::memcpy(p, text, 16);
  p[16] = 0;
}

void PutUnsetDate(uint8_t* p) {
  std::memset(p, '0', 16);
  p[16] = 0;
}

// A text field of the primary descriptor: upper case, blank padded, cut to width.
void PutText(uint8_t* p, size_t width, const std::string& text) {
  std::memset(p, ' ', width);
  for (size_t i = 0; i < width && i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    p[i] = static_cast<uint8_t>(c);
  }
}

// A text field of the Joliet descriptor: UCS-2 big-endian, padded with UCS-2 blanks, filling
// width bytes (an odd byte left over stays zero).
void PutText16(uint8_t* p, size_t width, const std::string& text) {
  const std::u16string u = JolietFromUtf8(text);
  for (size_t i = 0; i + 1 < width; i += 2) {
    const char16_t c = i / 2 < u.size() ? u[i / 2] : u' ';
    Be16(p + i, c);
  }
}

std::vector<uint8_t> Ucs2Be(const std::u16string& s) {
  std::vector<uint8_t> out(s.size() * 2);
  for (size_t i = 0; i < s.size(); ++i) Be16(&out[2 * i], s[i]);
  return out;
}

// The identifier bytes of a child record: ISO (ShortName, ";1" for a file) or Joliet (UCS-2
// big-endian, ";1" for a file).
std::vector<uint8_t> Identifier(const TFEntry& e, bool joliet) {
  const bool file = e.Directory == nullptr;
  if (joliet) return Ucs2Be(file ? e.JolietName + u";1" : e.JolietName);
  const std::string id = file ? e.ShortName + ";1" : e.ShortName;
  return std::vector<uint8_t>(id.begin(), id.end());
}

// The absolute, lexically normal form of a local path, without a trailing "/" (but "/" itself).
std::string AbsoluteFolder(const std::string& path) {
  std::error_code ec;
  std::string abs = std::filesystem::absolute(path, ec).lexically_normal().string();
  if (ec) abs = path;
  while (abs.size() > 1 && abs.back() == '/') abs.pop_back();
  return abs;
}

bool HasWildcard(const std::string& name) {
  return name.find_first_of("*?") != std::string::npos;
}

}  // namespace

TDiscBurner::TDiscBurner() {
  ClearImage(65535, 8191);
}

TDiscBurner::~TDiscBurner() {
  // Work still running is stopped and joined before the image it reads goes away; its completion
  // events, and any still queued for the main thread, no longer run.
  *alive_ = false;
  stop_ = true;
  aborted_ = true;
  {
    std::lock_guard<std::mutex> l(stateMutex_);
    if (cache_) cache_->Abort();
  }
  JoinWorkers();
  cache_.reset();
  for (TFEntry* f : files_) delete f;
}

bool TDiscBurner::ImageLocked() {
  if (!burning_) return false;
  DebugMessage(">>> BURNER BUSY: THE IMAGE IS BEING WRITTEN", dmError);
  return true;
}

void TDiscBurner::ClearImage(uint32_t maxFiles, uint32_t maxDirs) {
  if (ImageLocked()) return;
  for (TFEntry* f : files_) delete f;
  files_.clear();
  dirs_.clear();
  dirIndex_.clear();
  pathOrder_.clear();
  jolietPathOrder_.clear();
  moved_.reset();
  movedDirs_.clear();
  skipped_.clear();
  notices_.clear();
  ReleaseMetaStream();
  imageHead_.clear();
  dataBytes_ = 0;
  imageEnd_ = trackSize_ = 0;
  nwa_ = firstFile_ = 0;
  imageBuilt_ = false;
  prepared_ = false;
  maxFiles_ = maxFiles;
  maxDirs_ = std::max<uint32_t>(maxDirs, 1);
  // The offset now; each recorded date carries the offset in force at its own instant.
  const time_t now = time(nullptr);
  struct tm tm {};
  gmtOffset_ = localtime_r(&now, &tm) ? static_cast<int8_t>(tm.tm_gmtoff / 900) : 0;

  auto root = std::make_unique<TDEntry>();
  root->ShortName = "CD_ROOT";
  root->LongName = "CD Root Directory";
  root->JolietName = JolietFromUtf8(root->LongName);
  root->FullPath = "/";
  root->Level = 1;
  root->Number = root->JolietNumber = 1;
  root->Parent = root.get();
  dirIndex_["/"] = root.get();
  dirs_.push_back(std::move(root));
}

std::string TDiscBurner::NormalDiscPath(const std::string& path) {
  // Empty and "." components go, ".." takes one back (never above the root): no directory on
  // the disc is named "." or "..", which extracting readers would follow.
  std::string out;
  size_t i = 0;
  while (i < path.size()) {
    size_t j = path.find('/', i);
    if (j == std::string::npos) j = path.size();
    const std::string part = path.substr(i, j - i);
    if (part == "..") {
      out.resize(out.empty() ? 0 : out.rfind('/'));
    } else if (!part.empty() && part != ".") {
      out += "/" + part;
    }
    i = j + 1;
  }
  return out.empty() ? "/" : out;
}

TDEntry* TDiscBurner::FindDir(const std::string& path) const {
  const auto it = dirIndex_.find(NormalDiscPath(path));
  return it == dirIndex_.end() ? nullptr : it->second;
}

TDEntry* TDiscBurner::MakeDir(const std::string& path) {
  if (ImageLocked()) return nullptr;
  const std::string normal = NormalDiscPath(path);
  if (TDEntry* found = FindDir(normal)) return found;
  const size_t slash = normal.rfind('/');
  TDEntry* parent = MakeDir(slash == 0 ? "/" : normal.substr(0, slash));
  if (!parent) return nullptr;
  const std::string name = normal.substr(slash + 1);
  return NewDir(parent, name, parent->Names.ShortName13(name), time(nullptr), 0x10);
}

TDEntry* TDiscBurner::NewDir(TDEntry* parent, const std::string& name, std::string shortName,
                             int64_t dateTime, uint32_t attr) {
  if (dirs_.size() >= maxDirs_) {
    DebugMessage(">>> MAXIMUM DIRECTORIES CAN BE " + std::to_string(maxDirs_), dmCapacity);
    return nullptr;
  }
  auto dir = std::make_unique<TDEntry>();
  dir->ShortName = std::move(shortName);
  dir->LongName = name;
  TFEntry* displaced = nullptr;
  dir->JolietName = JolietNameIn(parent, name, false, displaced);
  parent->Names.Take(dir->ShortName, dir->JolietName,
                     dir->JolietName != TNameScope::ExactJolietName(name, false));
  dir->FullPath = (parent->FullPath == "/" ? "" : parent->FullPath) + "/" + name;
  dir->Level = parent->Level + 1;
  dir->Parent = parent;
  auto record = std::make_unique<TFEntry>();
  record->ShortName = dir->ShortName;
  record->LongName = dir->LongName;
  record->JolietName = dir->JolietName;
  record->Key = name;
  record->DateTime = dateTime;
  record->Attr = attr | 0x10;
  record->Directory = dir.get();
  dir->Record = std::move(record);
  AppendChild(parent, dir->Record.get());
  if (displaced) RenameJoliet(parent, displaced);
  TDEntry* raw = dir.get();
  dirIndex_[raw->FullPath] = raw;
  dirs_.push_back(std::move(dir));
  imageBuilt_ = false;
  prepared_ = false;
  return raw;
}

TFEntry* TDiscBurner::NewFile(TDEntry* dir, const std::string& name, const std::string& shortName,
                              const std::string& longName, const std::u16string& jolietName) {
  auto* entry = new TFEntry;
  files_.push_back(entry);
  entry->Key = name;
  entry->ShortName = shortName;
  entry->LongName = longName;
  // The Joliet tree records the name itself: readers disagree on a trailing "." (some drop it,
  // some keep it), so the dot appended for the ISO name stays out of it.
  TFEntry* displaced = nullptr;
  entry->JolietName = jolietName.empty() ? JolietNameIn(dir, name, true, displaced) : jolietName;
  dir->Names.Take(entry->ShortName, entry->JolietName,
                  entry->JolietName != TNameScope::ExactJolietName(name, true));
  dir->Files[name] = entry;
  AppendChild(dir, entry);
  if (displaced) RenameJoliet(dir, displaced);
  return entry;
}

std::u16string TDiscBurner::JolietNameIn(TDEntry* dir, const std::string& name, bool isFile,
                                         TFEntry*& displaced) {
  bool displaces = false;
  const std::u16string joliet = dir->Names.JolietName(name, isFile, &displaces);
  displaced = nullptr;
  if (!displaces) return joliet;
  // The entry that holds the name under a made one gives it up (and gets another).
  for (TFEntry* e = dir->FirstChild; e && !displaced; e = e->Next)
    if (e->JolietName == joliet) displaced = e;
  dir->Names.ReleaseJoliet(joliet);
  return joliet;
}

void TDiscBurner::RenameJoliet(TDEntry* dir, TFEntry* entry) {
  const std::u16string joliet = dir->Names.JolietName(entry->Key, entry->Directory == nullptr);
  dir->Names.Take(entry->ShortName, joliet, true);
  entry->JolietName = joliet;
  if (entry->Directory) entry->Directory->JolietName = joliet;
  imageBuilt_ = false;
  prepared_ = false;
}

void TDiscBurner::AppendChild(TDEntry* dir, TFEntry* entry) {
  entry->Next = nullptr;
  if (dir->LastChild)
    dir->LastChild->Next = entry;
  else
    dir->FirstChild = entry;
  dir->LastChild = entry;
}

void TDiscBurner::UnlinkChild(TDEntry* dir, TFEntry* entry) {
  TFEntry* prev = nullptr;
  for (TFEntry* e = dir->FirstChild; e; prev = e, e = e->Next) {
    if (e != entry) continue;
    (prev ? prev->Next : dir->FirstChild) = e->Next;
    if (dir->LastChild == e) dir->LastChild = prev;
    e->Next = nullptr;
    break;
  }
  dir->Names.Release(entry->ShortName, entry->JolietName);
  if (!entry->Directory) dir->Files.erase(entry->Key);
}

void TDiscBurner::RemoveSubtree(TDEntry* dir) {
  while (TFEntry* child = dir->FirstChild) {
    UnlinkChild(dir, child);
    if (child->Directory) {
      RemoveSubtree(child->Directory);
      continue;
    }
    if (!child->Imported) dataBytes_ -= RoundUpToSector(child->DataSize);
    files_.erase(std::find(files_.begin(), files_.end(), child));
    delete child;
  }
  TDEntry* parent = dir->Parent;
  if (parent == dir) return;  // the root stays
  UnlinkChild(parent, dir->Record.get());
  prepared_ = false;
  dirIndex_.erase(dir->FullPath);
  dirs_.erase(std::find_if(dirs_.begin(), dirs_.end(),
                           [dir](const std::unique_ptr<TDEntry>& d) { return d.get() == dir; }));
}

void TDiscBurner::Skip(const std::string& path, const std::string& reason) {
  skipped_.push_back({path, reason});
}

int TDiscBurner::AddFile(const std::string& destDir, const std::string& sourceFile, bool savePath) {
  if (ImageLocked()) return 0;
  TDEntry* dest = nullptr;
  if (savePath) {
    std::string folder = std::filesystem::path(sourceFile).parent_path().string();
    dest = MakeDir(AbsoluteFolder(folder.empty() ? "." : folder));
  } else {
    dest = FindDir(destDir);
  }
  if (!dest) {
    DebugMessage("INVALID DESTINATION PATH", dmPath);
    return 0;
  }
  // The first regular file (or link to one) that matches, in byte order of the names.
  std::string found;
  struct stat st;
  const std::string name = BaseNameOf(sourceFile);
  if (HasWildcard(name)) {
    const size_t slash = sourceFile.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : sourceFile.substr(0, slash + 1);
    std::vector<std::string> names;
    ListFolderSorted(folder.empty() ? "." : folder, names);
    const std::string mask = name == "*.*" ? "*" : name;
    for (const auto& n : names) {
      if (WildcardMatch(mask, n) && FindWithMask(folder + n, true, false, st)) {
        found = folder + n;
        break;
      }
    }
  } else if (FindWithMask(sourceFile, true, false, st)) {
    found = sourceFile;
  }
  if (found.empty()) return 255;
  return AddEntry(dest, found, BaseNameOf(found), st, false) == TEntryResult::Added ? 1 : 0;
}

TDiscBurner::TEntryResult TDiscBurner::AddEntry(TDEntry* dir, const std::string& sourcePath,
                                                const std::string& name, const struct stat& st,
                                                bool archiveOnly, const std::string* linkTarget) {
  const int64_t size = linkTarget ? 0 : st.st_size;
  if (size > kMaxFileSize) {
    DebugMessage("FILE TOO LARGE FOR ISO 9660: " + sourcePath, dmCapacity);
    Skip(sourcePath, "FILE TOO LARGE FOR ISO 9660");
    return TEntryResult::Refused;
  }
  std::string longName = name.find('.') == std::string::npos ? name + "." : name;
  const auto existingIt = dir->Files.find(name);
  TFEntry* existing = existingIt == dir->Files.end() ? nullptr : existingIt->second;
  std::string shortName = existing ? existing->ShortName : dir->Names.ShortName83(longName, true);
  int64_t dateTime = st.st_mtim.tv_sec;
  const uint32_t attr = (IsHiddenName(name) ? 0x02u : 0u) | (archiveOnly ? 0x20u : 0u);
  std::u16string jolietName;
  if (OnAddFile) {
    bool skip = false;
    const std::string givenLong = longName, givenShort = shortName;
    OnAddFile(this, sourcePath, longName, shortName, dateTime, attr, size, skip);
    if (skip) return TEntryResult::Refused;
    if (!existing && shortName != givenShort) shortName = dir->Names.FixShortName(shortName, true);
    if (!existing && longName != givenLong) jolietName = dir->Names.JolietName(longName, true);
  }
  if (existing && !ReplaceFile) {
    Skip(sourcePath, "A FILE OF THAT NAME IS ALREADY ON THE DISC");
    return TEntryResult::Refused;
  }
  TFEntry* entry = existing;
  if (entry) {
    if (!entry->Imported) dataBytes_ -= RoundUpToSector(entry->DataSize);
  } else {
    if (files_.size() >= maxFiles_) {
      DebugMessage("MAXIMUM FILES CAN BE " + std::to_string(maxFiles_), dmCapacity);
      Skip(sourcePath, "MAXIMUM FILES CAN BE " + std::to_string(maxFiles_));
      return TEntryResult::Full;
    }
    entry = NewFile(dir, name, shortName, longName, jolietName);
  }
  entry->SourcePath = sourcePath;
  entry->DataSize = entry->RecordedSize = size;
  entry->Attr = attr;
  entry->DateTime = dateTime;
  entry->ArchiveOnly = archiveOnly ? 1 : 0;
  entry->Imported = 0;
  entry->IsoLocation = entry->JolietLocation = 0;
  entry->Mode = st.st_mode;
  entry->Uid = st.st_uid;
  entry->Gid = st.st_gid;
  entry->ATime = st.st_atim.tv_sec;
  entry->CTime = st.st_ctim.tv_sec;
  entry->IsLink = linkTarget != nullptr;
  entry->LinkTarget = linkTarget ? *linkTarget : std::string();
  dataBytes_ += RoundUpToSector(size);
  imageBuilt_ = false;
  prepared_ = false;
  return TEntryResult::Added;
}

int TDiscBurner::AddDir(const std::string& destDir, const std::string& sourceDir, bool archiveOnly,
                        bool savePath, bool recursive, uint32_t attr, const std::string& mask) {
  if (ImageLocked()) return 0;
  struct stat st;
  if (::stat(sourceDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    Skip(sourceDir, "NO SUCH FOLDER");
    return 1;
  }
  TDEntry* dest = nullptr;
  if (savePath) {
    TDEntry* base = FindDir(destDir);
    if (base) {
      const std::string prefix = base->FullPath == "/" ? "" : base->FullPath;
      dest = MakeDir(prefix + AbsoluteFolder(sourceDir));
    }
  } else {
    dest = FindDir(destDir);
  }
  if (!dest) {
    DebugMessage("INVALID DESTINATION PATH", dmPath);
    return 0;
  }
  const int result = AddDirInto(dest, sourceDir, archiveOnly, recursive, attr, mask);
  imageBuilt_ = false;
  prepared_ = false;
  return result;
}

int TDiscBurner::AddDirInto(TDEntry* dest, const std::string& sourceDir, bool archiveOnly,
                            bool recursive, uint32_t attr, const std::string& mask) {
  std::vector<std::string> names;
  if (!ListFolderSorted(sourceDir, names)) {
    Skip(sourceDir, "CANNOT READ FOLDER");
    return 1;
  }
  const std::string folder =
      sourceDir.empty() || sourceDir.back() == '/' ? sourceDir : sourceDir + "/";
  const bool hidden = (attr & 0x02) != 0;
  // One look at each name: what it is and its status.
  struct TFound {
    const std::string* Name;
    TFoundKind Kind;
    struct stat St;
  };
  std::vector<TFound> found;
  found.reserve(names.size());
  const std::string fileMask = mask == "*.*" || mask.empty() ? "*" : mask;
  auto maskTakes = [&](const std::string& name) {
    return WildcardMatch(fileMask, name) ||
           (name.find('.') == std::string::npos && WildcardMatch(fileMask, name + "."));
  };
  // Links stored as links are taken as they are, whatever they point to (or nothing).
  const bool links = LinksAsLinks && RockRidge;
  std::vector<std::pair<const std::string*, struct stat>> linksFound;
  for (const auto& name : names) {
    TFound f{&name, TFoundKind::None, {}};
    if (links && (hidden || !IsHiddenName(name)) && ::lstat((folder + name).c_str(), &f.St) == 0 &&
        S_ISLNK(f.St.st_mode)) {
      linksFound.emplace_back(&name, f.St);
      continue;
    }
    f.Kind = ClassifyWithMask(folder + name, hidden, f.St);
    if (f.Kind != TFoundKind::None) {
      found.push_back(f);
      continue;
    }
    // A link that points nowhere has nothing to burn; it is left out, and said so.
    struct stat link;
    if ((hidden || !IsHiddenName(name)) && maskTakes(name) &&
        ::lstat((folder + name).c_str(), &link) == 0 && S_ISLNK(link.st_mode) &&
        ::stat((folder + name).c_str(), &link) != 0)
      notices_.push_back({folder + name, "LINK TO NOTHING: LEFT OUT"});
  }
  if (recursive) {
    for (const auto& f : found) {
      if (f.Kind != TFoundKind::Folder) continue;
      const std::string& name = *f.Name;
      std::string shortName;
      TDEntry* sub = FindDir((dest->FullPath == "/" ? "" : dest->FullPath) + "/" + name);
      if (!sub) shortName = dest->Names.ShortName83(name, false);
      if (OnAddDir) {
        bool skip = false;
        const std::string given = shortName;
        OnAddDir(this, name, shortName, skip);
        if (skip) continue;
        if (!sub && shortName != given) shortName = dest->Names.FixShortName(shortName, false);
      }
      const bool made = sub == nullptr;
      if (made) {
        sub =
            NewDir(dest, name, shortName, f.St.st_mtim.tv_sec, 0x10 | (IsHiddenName(name) ? 2 : 0));
        if (!sub) return 0;
        TFEntry* r = sub->Record.get();
        r->Mode = f.St.st_mode;
        r->Uid = f.St.st_uid;
        r->Gid = f.St.st_gid;
        r->ATime = f.St.st_atim.tv_sec;
        r->CTime = f.St.st_ctim.tv_sec;
      }
      if (AddDirInto(sub, folder + name, archiveOnly, recursive, attr, mask) == 0) return 0;
      // Empty folders never reach the disc.
      if (made && !sub->FirstChild) RemoveSubtree(sub);
    }
  }
  for (const auto& f : found) {
    if (f.Kind != TFoundKind::File) continue;
    const std::string& name = *f.Name;
    if (!maskTakes(name)) continue;
    const std::string path = folder + name;
    if (archiveOnly) {
      if (!ArchiveAttributes) {
        if (!ownAttributes_) ownAttributes_ = std::make_unique<TArchiveAttributes>();
        ArchiveAttributes = ownAttributes_.get();
      }
      if (!ArchiveAttributes->IsSet(path, f.St)) continue;
    }
    if (AddEntry(dest, path, name, f.St, archiveOnly) == TEntryResult::Full) return 0;
  }
  for (const auto& [name, st] : linksFound) {
    if (!maskTakes(*name)) continue;
    const std::string path = folder + *name;
    std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 4095) + 1, '\0');
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n < 0 || static_cast<size_t>(n) >= target.size()) {
      Skip(path, "CANNOT READ LINK");
      continue;
    }
    target.resize(static_cast<size_t>(n));
    // Longer targets need more than one continuation area, which libisofs and pycdlib refuse.
    if (target.size() > kMaxLinkTarget) {
      Skip(path, "LINK TARGET LONGER THAN " + std::to_string(kMaxLinkTarget) + " BYTES");
      continue;
    }
    if (AddEntry(dest, path, *name, st, false, &target) == TEntryResult::Full) return 0;
  }
  return 1;
}

std::vector<TSkippedFile> TDiscBurner::Notices() const {
  std::vector<TSkippedFile> out = notices_;
  if (JolietFileSystem)
    for (const TFEntry* f : files_)
      if (f->IsLink && !f->Imported)
        out.push_back({f->SourcePath, "SYMBOLIC LINK: IN THE ROCK RIDGE TREE ONLY, NOT IN JOLIET"});
  // Names recorded otherwise than they are: characters the Joliet tree cannot hold, names too
  // long for it, and names that had to be numbered to stay unique.
  for (const auto& d : dirs_) {
    for (const TFEntry* e = d->FirstChild; e; e = e->Next) {
      if (e->Imported || (e->Directory && e->Directory->Imported) || e->IsLink) continue;
      const std::u16string own = JolietFromUtf8(e->Key);
      if (e->JolietName == own) continue;
      const size_t max = e->Directory ? kMaxJolietDirChars : kMaxJolietFileChars;
      const std::string path =
          e->Directory ? e->Directory->FullPath : (e->SourcePath.empty() ? e->Key : e->SourcePath);
      out.push_back({path, std::string(own.size() > max ? "NAME TOO LONG: " : "") +
                               "RECORDED ON THE DISC AS " + Utf8FromUcs2(e->JolietName)});
    }
  }
  return out;
}

std::vector<TDEntry*> TDiscBurner::Dirs() const {
  std::vector<TDEntry*> out;
  out.reserve(dirs_.size());
  for (const auto& d : dirs_) out.push_back(d.get());
  return out;
}

void TDiscBurner::PlaceIsoTree() {
  moved_.reset();
  movedDirs_.clear();
  if (!RockRidge) {
    // ECMA-119 allows eight levels of directories, the root the first: deeper folders stay out
    // of the ISO tree (their files are in the Joliet tree, which has no such limit), and so do
    // the folders above them that would show nothing else. Children come after their parents.
    for (size_t i = dirs_.size(); i-- > 0;) {
      TDEntry* d = dirs_[i].get();
      bool shows = d->FirstChild == nullptr || d == Root();
      for (const TFEntry* e = d->FirstChild; e && !shows; e = e->Next)
        shows = !e->Directory || e->Directory->IsoRecorded;
      d->IsoRecorded = d->Level <= kMaxIsoLevels && shows;
      d->IsoParent = d->Parent;
      d->IsoLevel = d->Level;
      d->Relocated = false;
    }
    return;
  }
  // Rock Ridge readers see the real tree; in the ISO tree a folder that would lie on the ninth
  // level is relocated into the relocation folder (on the second), its subtree with it, and so
  // again for folders deeper still (RRIP 4.1.5). The folder is named "rr_moved", which common
  // readers (libarchive, libisofs) then leave out of their listings.
  TNameScope movedNames;
  for (const auto& up : dirs_) {
    TDEntry* d = up.get();
    d->IsoRecorded = true;
    d->Relocated = false;
    if (d == Root()) {
      d->IsoParent = d;
      d->IsoLevel = 1;
      continue;
    }
    TDEntry* p = d->Parent;
    if (p->IsoLevel < kMaxIsoLevels) {
      d->IsoParent = p;
      d->IsoLevel = p->IsoLevel + 1;
      continue;
    }
    if (!moved_) {
      moved_ = std::make_unique<TDEntry>();
      std::string shortName = "RR_MOVED", key = "rr_moved";
      for (unsigned n = 1; Root()->Names.HasShort(shortName); ++n)
        shortName = "RR_MOVED~" + std::to_string(n);
      for (unsigned n = 1; FindDir("/" + key) || Root()->Files.count(key); ++n)
        key = "rr_moved~" + std::to_string(n);
      moved_->ShortName = shortName;
      moved_->LongName = key;
      moved_->FullPath = "/" + key;
      moved_->Level = moved_->IsoLevel = 2;
      moved_->Parent = moved_->IsoParent = Root();
      auto record = std::make_unique<TFEntry>();
      record->ShortName = shortName;
      record->LongName = record->Key = key;
      record->DateTime = record->ATime = record->CTime = time(nullptr);
      record->Attr = 0x10;
      record->Mode = S_IFDIR | 0755;
      record->Directory = moved_.get();
      moved_->Record = std::move(record);
    }
    d->Relocated = true;
    d->IsoParent = moved_.get();
    d->IsoLevel = 3;
    d->MovedName = movedNames.HasShort(d->ShortName) ? movedNames.FixShortName(d->ShortName, false)
                                                     : d->ShortName;
    movedNames.Take(d->MovedName, u"");
    movedDirs_.push_back(d);
  }
  // Serial numbers and link counts as the Rock Ridge records give them.
  uint32_t serial = 0;
  for (TFEntry* f : files_) f->Serial = ++serial;
  for (const auto& d : dirs_) {
    d->Serial = ++serial;
    d->Links = 2;
    for (const TFEntry* e = d->FirstChild; e; e = e->Next)
      if (e->Directory) ++d->Links;
  }
  if (moved_) {
    moved_->Serial = ++serial;
    moved_->Links = 2;
    ++Root()->Links;
  }
}

std::vector<TDEntry*> TDiscBurner::IsoDirs() const {
  // The relocation folder right after the root: every folder's extent then lies after its ISO
  // parent's, which sequential readers rely on.
  std::vector<TDEntry*> out = Dirs();
  if (moved_) out.insert(out.begin() + 1, moved_.get());
  return out;
}

void TDiscBurner::NumberDirectories() {
  // ECMA-119 6.9.1: by level, then by the parent's number, then by identifier (9.3), each tree
  // by its own identifiers and with its own numbers.
  for (int joliet = 0; joliet < 2; ++joliet) {
    std::vector<TDEntry*>& order = joliet ? jolietPathOrder_ : pathOrder_;
    order.clear();
    order.push_back(Root());
    (joliet ? Root()->JolietNumber : Root()->Number) = 1;
    std::vector<TDEntry*> subs;
    for (size_t i = 0; i < order.size(); ++i) {
      subs.clear();
      for (const TFEntry* e : Records(order[i], joliet))
        if (e->Directory && (joliet || e->Directory->IsoParent == order[i]))
          subs.push_back(e->Directory);
      for (TDEntry* sub : subs) {
        (joliet ? sub->JolietNumber : sub->Number) = static_cast<uint32_t>(order.size() + 1);
        order.push_back(sub);
      }
    }
  }
}

namespace {

// ECMA-119 9.3: two identifiers compare by name, then by extension (a directory has none), the
// shorter of each padded with blanks. The same rule orders the Joliet tree, in UCS-2.
template <class S>
int ComparePadded(const S& a, const S& b) {
  using U = std::make_unsigned_t<typename S::value_type>;
  for (size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
    const U ca = i < a.size() ? static_cast<U>(a[i]) : U{' '};
    const U cb = i < b.size() ? static_cast<U>(b[i]) : U{' '};
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return 0;
}

template <class S>
bool IdentifierLess(const S& a, bool aDir, const S& b, bool bDir) {
  const size_t da = aDir ? S::npos : a.rfind('.'), db = bDir ? S::npos : b.rfind('.');
  const S na = a.substr(0, da), nb = b.substr(0, db);
  if (const int c = ComparePadded(na, nb)) return c < 0;
  const S ea = da == S::npos ? S() : a.substr(da + 1), eb = db == S::npos ? S() : b.substr(db + 1);
  if (const int c = ComparePadded(ea, eb)) return c < 0;
  return a < b;
}

}  // namespace

std::vector<const TFEntry*> TDiscBurner::Records(const TDEntry* dir, bool joliet) const {
  std::vector<const TFEntry*> out;
  const bool moved = !joliet && dir == moved_.get();
  if (moved) {
    for (const TDEntry* d : movedDirs_) out.push_back(d->Record.get());
  } else {
    // Links stored as links have no place in Joliet (nor without Rock Ridge).
    for (const TFEntry* e = dir->FirstChild; e; e = e->Next)
      if (joliet ? !e->IsLink
                 : (!e->IsLink || RockRidge) && (!e->Directory || e->Directory->IsoRecorded))
        out.push_back(e);
    if (!joliet && moved_ && dir == Root()) out.push_back(moved_->Record.get());
  }
  std::sort(out.begin(), out.end(), [joliet, moved](const TFEntry* a, const TFEntry* b) {
    const bool ad = a->Directory != nullptr, bd = b->Directory != nullptr;
    if (joliet) return IdentifierLess(a->JolietName, ad, b->JolietName, bd);
    return moved ? IdentifierLess(a->Directory->MovedName, true, b->Directory->MovedName, true)
                 : IdentifierLess(a->ShortName, ad, b->ShortName, bd);
  });
  return out;
}

void TDiscBurner::SizeExtents() {
  uint32_t isoOffset = 0, jolietOffset = 0;
  rr::TContinuation ce;
  for (TDEntry* d : IsoDirs()) {
    d->IsoDirSize = 0;
    d->IsoDirOffset = isoOffset;
    if (d->IsoRecorded) {
      const uint32_t sectors = WriteExtent(d, false, nullptr, 0, &ce);
      d->IsoDirSize = int64_t{sectors} * kSector;
      isoOffset += sectors;
    }
  }
  ceSectors_ = ce.Sectors();
  for (const auto& d : dirs_) {
    const uint32_t sectors = WriteExtent(d.get(), true, nullptr, 0, nullptr);
    d->JolietDirSize = int64_t{sectors} * kSector;
    d->JolietDirOffset = jolietOffset;
    jolietOffset += sectors;
  }
  for (TDEntry* d : IsoDirs()) {
    if (d->Record) {
      d->Record->DataSize = d->IsoDirSize;
      d->Record->RecordedSize = d->JolietDirSize;
      d->Record->IsoLocation = d->IsoDirOffset;
      d->Record->JolietLocation = d->JolietDirOffset;
    }
  }
}

bool TDiscBurner::PrepareImage() {
  if (ImageLocked()) return false;
  ImportSessionTree();
  nwa_ = AskNextWritableAddress ? NextWritableAddress() : 0;
  if (AskNextWritableAddress) DropOverwritten();
  PlaceIsoTree();
  NumberDirectories();
  SizeExtents();
  prepared_ = true;

  isoPtSize_ = 10;
  jolietPtSize_ = 10;
  for (size_t i = 1; i < pathOrder_.size(); ++i) {
    const size_t n = IsoIdOf(pathOrder_[i]).size();
    isoPtSize_ += static_cast<uint32_t>(8 + n + (n % 2));
  }
  for (size_t i = 1; i < jolietPathOrder_.size(); ++i)
    jolietPtSize_ += static_cast<uint32_t>(8 + 2 * jolietPathOrder_[i]->JolietName.size());
  uint64_t next = uint64_t{nwa_} + 16 + 1 + (JolietFileSystem ? 1 : 0) + 1;
  isoPtL_ = static_cast<uint32_t>(next);
  isoPtM_ = isoPtL_ + SectorsOf(isoPtSize_);
  next = isoPtM_ + SectorsOf(isoPtSize_);
  if (JolietFileSystem) {
    jolietPtL_ = static_cast<uint32_t>(next);
    jolietPtM_ = jolietPtL_ + SectorsOf(jolietPtSize_);
    next = jolietPtM_ + SectorsOf(jolietPtSize_);
  }
  uint64_t isoSectors = 0, jolietSectors = 0;
  for (const TDEntry* d : IsoDirs()) isoSectors += SectorsOf(d->IsoDirSize);
  for (const auto& d : dirs_) jolietSectors += SectorsOf(d->JolietDirSize);
  isoDirStart_ = static_cast<uint32_t>(next);
  next += isoSectors;
  // The Rock Ridge continuation areas right after the ISO directories they belong to.
  ceStart_ = static_cast<uint32_t>(next);
  next += ceSectors_;
  jolietDirStart_ = static_cast<uint32_t>(next);
  if (JolietFileSystem) next += jolietSectors;
  metaEnd_ = static_cast<uint32_t>(next);
  next = std::max<uint64_t>(next, 150);
  firstFile_ = static_cast<uint32_t>(next);

  uint64_t offset = 0;
  for (TFEntry* f : files_) {
    if (f->Imported) continue;
    if (f->DataSize == 0) {
      f->IsoLocation = f->JolietLocation = 0;
      continue;
    }
    f->IsoLocation = f->JolietLocation = static_cast<uint32_t>(offset);
    offset += SectorsOf(f->DataSize);
  }
  const uint64_t end = next + offset;
  imageEnd_ = static_cast<int64_t>(end);
  trackSize_ = imageEnd_ - nwa_;
  if (end > 0xFFFFFFFFull) {
    DebugMessage(">>> IMAGE TOO LARGE FOR ISO 9660", dmCapacity);
    return false;
  }
  return true;
}

uint32_t TDiscBurner::ImageSize() const {
  const int64_t size = WritePostGap ? std::max<int64_t>(trackSize_, 300) : trackSize_;
  return static_cast<uint32_t>(std::min<int64_t>(size, 0xFFFFFFFFLL));
}

std::vector<rr::TField> TDiscBurner::SystemUse(const TDEntry* dir, const TFEntry* e, int dots,
                                               int64_t now) const {
  std::vector<rr::TField> f;
  auto modeOf = [](const TFEntry* r, bool isDir, bool link) -> uint32_t {
    const uint32_t perms = r && r->Mode ? (r->Mode & 07777) : isDir || link ? 0755 : 0644;
    if (link) return S_IFLNK | (r && r->Mode ? perms : 0777);
    return (isDir ? S_IFDIR : S_IFREG) | perms;
  };
  auto times = [&](const TFEntry* r) {
    if (!r) return rr::TF(now, now, now);
    return rr::TF(r->DateTime, r->ATime ? r->ATime : r->DateTime,
                  r->CTime ? r->CTime : r->DateTime);
  };
  if (dots) {
    // "." and "..": the folder and its real parent as Rock Ridge sees them.
    const TDEntry* d = dots == 1 ? dir : dir->Parent;
    const TFEntry* r = d->Record.get();
    if (dots == 1 && dir == Root()) f.push_back(rr::SP());
    f.push_back(
        rr::PX(modeOf(r, true, false), d->Links, r ? r->Uid : 0, r ? r->Gid : 0, d->Serial));
    f.push_back(times(r));
    if (dots == 2 && dir->Relocated) f.push_back(rr::PL(isoDirStart_ + dir->Parent->IsoDirOffset));
    if (dots == 1 && dir == Root()) f.push_back(rr::ER());
    return f;
  }
  const TDEntry* sub = e->Directory;
  const bool moved = dir == moved_.get();
  f.push_back(rr::PX(modeOf(e, sub != nullptr, e->IsLink), sub ? sub->Links : 1, e->Uid, e->Gid,
                     sub ? sub->Serial : e->Serial));
  f.push_back(times(e));
  if (sub && sub->Relocated && !moved) f.push_back(rr::CL(isoDirStart_ + sub->IsoDirOffset));
  if (moved) f.push_back(rr::RE());
  for (auto& nm : rr::NM(e->Key)) f.push_back(std::move(nm));
  if (e->IsLink)
    for (auto& sl : rr::SL(e->LinkTarget)) f.push_back(std::move(sl));
  return f;
}

uint32_t TDiscBurner::WriteExtent(const TDEntry* dir, bool joliet, uint8_t* out, int64_t now,
                                  rr::TContinuation* ce) const {
  // The one place directory records are laid out: sizing passes no buffer and gets the sectors
  // the extent takes; serialising writes the records where the sizing put them. Rock Ridge
  // continuation areas are taken from ce in the same order in both passes.
  const bool rock = !joliet && RockRidge;
  const uint32_t area = joliet ? jolietDirStart_ : isoDirStart_;
  auto extentOf = [&](const TDEntry* d) {
    return area + (joliet ? d->JolietDirOffset : d->IsoDirOffset);
  };
  auto sizeOf = [&](const TDEntry* d) {
    return static_cast<uint32_t>(joliet ? d->JolietDirSize : d->IsoDirSize);
  };
  // A record's length with its System Use area, which is made (and its continuation taken) here.
  auto systemUse = [&](size_t idLen, const TFEntry* e, int dots) {
    if (!rock) return std::vector<uint8_t>();
    return rr::Place(SystemUse(dir, e, dots, now), 254 - DirRecordLength(idLen), *ce);
  };
  auto put = [&](uint8_t* p, uint32_t extent, uint32_t size, int64_t date, uint8_t flags,
                 const uint8_t* id, size_t idLen, const std::vector<uint8_t>& su) {
    const size_t base = DirRecordLength(idLen);
    p[0] = static_cast<uint8_t>(base + su.size());
    Both32(p + 2, extent);
    Both32(p + 10, size);
    rr::PutRecordDate(p + 18, date);
    p[25] = flags;
    Both16(p + 28, 1);
    p[32] = static_cast<uint8_t>(idLen);
    std::memcpy(p + 33, id, idLen);
    if (!su.empty()) std::memcpy(p + base, su.data(), su.size());
  };
  const uint8_t dot = 0, dotdot = 1;
  const TDEntry* up = joliet ? dir->Parent : dir->IsoParent;
  const std::vector<uint8_t> suDot = systemUse(1, nullptr, 1), suDotDot = systemUse(1, nullptr, 2);
  if (out) {
    put(out, extentOf(dir), sizeOf(dir), now, 2, &dot, 1, suDot);
    put(out + 34 + suDot.size(), extentOf(up), sizeOf(up), now, 2, &dotdot, 1, suDotDot);
  }
  size_t sector = 0, used = 68 + suDot.size() + suDotDot.size();
  const bool moved = !joliet && dir == moved_.get();
  std::vector<uint8_t> id;
  for (const TFEntry* e : Records(dir, joliet)) {
    if (joliet) {
      id = Identifier(*e, true);
    } else {
      const std::string& name = moved ? e->Directory->MovedName : e->ShortName;
      id.assign(name.begin(), name.end());
      if (!e->Directory) id.insert(id.end(), {';', '1'});
    }
    const std::vector<uint8_t> su = systemUse(id.size(), e, 0);
    const size_t len = DirRecordLength(id.size()) + su.size();
    if (used + len > kSector) {
      ++sector;
      used = 0;
    }
    if (out) {
      uint32_t extent, size;
      uint8_t flags = (e->Attr & 0x02) ? 1 : 0;
      if (e->Directory && !joliet && e->Directory->Relocated && !moved) {
        // The place of a relocated folder: a file record, its "CL" points to the folder.
        extent = size = 0;
      } else if (e->Directory) {
        extent = extentOf(e->Directory);
        size = sizeOf(e->Directory);
        flags |= 2;
      } else {
        const uint32_t location = joliet ? e->JolietLocation : e->IsoLocation;
        size = static_cast<uint32_t>(joliet ? e->RecordedSize : e->DataSize);
        extent = e->Imported ? location : size == 0 ? 0 : firstFile_ + location;
      }
      put(out + sector * kSector + used, extent, size, e->DateTime, flags, id.data(), id.size(),
          su);
    }
    used += len;
  }
  return static_cast<uint32_t>(sector + 1);
}

void TDiscBurner::WriteImageMetadata() {
  if (ImageLocked()) return;
  if (!prepared_) PrepareImage();
  metaStream_.clear();
  const uint32_t s0 = nwa_;
  const size_t total = size_t{firstFile_ - s0} * kSector;
  metaStream_.assign(total, 0);
  auto at = [&](uint32_t sector) { return metaStream_.data() + size_t{sector - s0} * kSector; };
  const int64_t now = time(nullptr);

  // Volume descriptors.
  for (int joliet = 0; joliet < (JolietFileSystem ? 2 : 1); ++joliet) {
    uint8_t* p = at(s0 + 16 + joliet);
    p[0] = joliet ? 2 : 1;
    std::memcpy(p + 1, "CD001", 5);
    p[6] = 1;
    auto text = [&](size_t off, size_t width, const std::string& value) {
      if (joliet)
        PutText16(p + off, width, value);
      else
        PutText(p + off, width, value);
    };
    text(8, 32, IdSystem);
    text(40, 32, IdVolume);
    Both32(p + 80, static_cast<uint32_t>(imageEnd_));
    // The escape sequence marks the Joliet descriptor only; in the primary one these bytes are
    // unused and must stay zero.
    if (joliet) std::memcpy(p + 88, "\x25\x2F\x40", 3);
    Both16(p + 120, 1);
    Both16(p + 124, 1);
    Both16(p + 128, kSector);
    Both32(p + 132, joliet ? jolietPtSize_ : isoPtSize_);
    Le32(p + 140, joliet ? jolietPtL_ : isoPtL_);
    Be32(p + 148, joliet ? jolietPtM_ : isoPtM_);
    uint8_t* r = p + 156;
    r[0] = 34;
    Both32(r + 2, joliet ? jolietDirStart_ : isoDirStart_);
    Both32(r + 10, static_cast<uint32_t>(joliet ? Root()->JolietDirSize : Root()->IsoDirSize));
    r[25] = 2;
    Both16(r + 28, 1);
    r[32] = 1;
    text(190, 128, IdVolumeSet);
    text(318, 128, IdPublisher);
    text(446, 128, IdPreparer);
    text(574, 128, IdApplication);
    text(702, joliet ? 36 : 37, FileCopyright);
    text(739, joliet ? 36 : 37, FileAbstract);
    text(776, joliet ? 36 : 37, FileBibliographic);
    PutVolumeDate(p + 813, DateCreation);
    PutVolumeDate(p + 830, DateModification);
    PutUnsetDate(p + 847);
    PutUnsetDate(p + 864);
    p[881] = 1;
    std::memset(p + 1024, ' ', 8);
  }
  uint8_t* term = at(s0 + 17 + (JolietFileSystem ? 1 : 0));
  term[0] = 255;
  std::memcpy(term + 1, "CD001", 5);
  term[6] = 1;
  // System area, primary and Joliet descriptors and the terminator.
  const size_t headBytes = size_t{18 + (JolietFileSystem ? 1u : 0u)} * kSector;
  imageHead_.assign(65537, 0xFF);
  std::memcpy(imageHead_.data(), metaStream_.data(), std::min(headBytes, imageHead_.size()));

  // Path tables.
  for (int joliet = 0; joliet < (JolietFileSystem ? 2 : 1); ++joliet) {
    const uint32_t area = joliet ? jolietDirStart_ : isoDirStart_;
    for (int msb = 0; msb < 2; ++msb) {
      uint8_t* p = at(joliet ? (msb ? jolietPtM_ : jolietPtL_) : (msb ? isoPtM_ : isoPtL_));
      for (TDEntry* d : joliet ? jolietPathOrder_ : pathOrder_) {
        const uint32_t parent = joliet ? d->Parent->JolietNumber : d->IsoParent->Number;
        std::vector<uint8_t> id;
        if (d == Root())
          id.push_back(0);
        else if (joliet)
          id = Ucs2Be(d->JolietName);
        else
          id.assign(IsoIdOf(d).begin(), IsoIdOf(d).end());
        p[0] = static_cast<uint8_t>(id.size());
        const uint32_t extent = area + (joliet ? d->JolietDirOffset : d->IsoDirOffset);
        if (msb) {
          Be32(p + 2, extent);
          Be16(p + 6, parent);
        } else {
          Le32(p + 2, extent);
          Le16(p + 6, parent);
        }
        std::memcpy(p + 8, id.data(), id.size());
        p += 8 + id.size() + (id.size() % 2);
      }
    }
  }

  // Directory extents.
  rr::TContinuation ce;
  ce.Start = ceStart_;
  ce.Out = at(ceStart_);
  for (const TDEntry* d : IsoDirs())
    if (d->IsoRecorded) WriteExtent(d, false, at(isoDirStart_ + d->IsoDirOffset), now, &ce);
  if (JolietFileSystem)
    for (const auto& d : dirs_)
      WriteExtent(d.get(), true, at(jolietDirStart_ + d->JolietDirOffset), now, nullptr);
  imageBuilt_ = true;
}
