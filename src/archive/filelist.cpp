#include "archive/filelist.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "platform/wildcard.h"

namespace {

// Joins a folder and a name; an empty folder is the current one.
std::string Join(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

std::string LowerAscii(std::string s) {
  for (auto& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return s;
}

// The entries of a folder, sorted by name, without "." and ".."; false when it cannot be read.
bool ListFolder(const std::string& dir, std::vector<std::string>& names) {
  return ListFolderSorted(dir, names);
}

std::vector<std::string> ListFolder(const std::string& dir) {
  std::vector<std::string> names;
  ListFolder(dir, names);
  return names;
}

class TExpander {
 public:
  TExpander(const TExpandOptions& o, TFileItems& out) : o_(o), out_(out) {}

  void ExplicitFile(std::string item) {
    if (item.find('/') == std::string::npos && !o_.RootDir.empty()) item = Join(o_.RootDir, item);
    if (o_.ExcludeList && MatchesPatternList(*o_.ExcludeList, item)) {
      Skip(srExcludeList, item);
      return;
    }
    struct stat st;
    if (!o_.FollowLinks && ::lstat(item.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
      TakeLink(item, st);
      return;
    }
    if (!FindWithMask(item, o_.IncludeHidden, false, st)) {
      // Found but not a file (a FIFO, a followed link to nothing): told why it is not stored.
      if ((o_.IncludeHidden || !IsHiddenName(BaseNameOf(item))) &&
          ::lstat(item.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode))
        LeaveOut(item, st);
      else if (o_.NoSuchFile)
        o_.NoSuchFile(item);
      return;
    }
    TakeFile(item, st);
  }

  void WildcardItem(std::string item) {
    bool recurse = o_.Recurse;
    if (!item.empty() && item[0] == '|') {
      recurse = false;
      item.erase(0, 1);
    } else if (!item.empty() && item[0] == '>') {
      recurse = true;
      item.erase(0, 1);
    }
    size_t slash = item.rfind('/');
    std::string folder, mask;
    if (slash == std::string::npos) {
      folder = o_.RootDir;
      mask = item;
    } else {
      folder = item.substr(0, slash + 1);
      mask = item.substr(slash + 1);
    }
    if (mask == "*.*") mask = "*";
    std::vector<std::string> bases;
    if (HasWildcardChars(folder)) {
      bases = MatchFolders(folder);
    } else {
      struct stat st;
      if (!folder.empty() && !(::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode))) {
        if (o_.NoSuchFile) o_.NoSuchFile(item);
        return;
      }
      bases.push_back(folder);
    }
    for (const auto& base : bases) Walk(base, mask, recurse);
  }

 private:
  void Skip(TSkipReason r, const std::string& name) {
    if (o_.Skipping) o_.Skipping(r, name);
  }

  // A name that is neither a regular file nor a folder, told with the reason it is not stored.
  void LeaveOut(const std::string& path, const struct stat& lst) {
    if (!o_.LeftOut) return;
    struct stat st;
    if (S_ISLNK(lst.st_mode)) {
      if (::stat(path.c_str(), &st) != 0)
        o_.LeftOut(path, "the link's target is missing");
      else if (S_ISDIR(st.st_mode))
        o_.LeftOut(path, "a link to a folder, which is not followed");
      else
        LeaveOut(path, st);
      return;
    }
    const mode_t type = lst.st_mode & S_IFMT;
    o_.LeftOut(path, type == S_IFIFO                      ? "a FIFO (named pipe), not a file"
                     : type == S_IFSOCK                   ? "a socket, not a file"
                     : type == S_IFCHR || type == S_IFBLK ? "a device, not a file"
                                                          : "not a regular file");
  }

  void TakeLink(const std::string& path, const struct stat& lst) {
    if (IsArchive(lst)) return;
    if (o_.ArchiveBitSet && !o_.ArchiveBitSet(path, lst)) {
      Skip(srArchiveBitNotSet, path);
      return;
    }
    if (o_.InArchive && !o_.InArchive(path)) {
      Skip(srNoFileToFreshen, path);
      return;
    }
    out_.push_back({path, false, static_cast<int64_t>(lst.st_size), true});
  }

  bool IsArchive(const struct stat& st) const {
    return (o_.HaveArchive && st.st_dev == o_.ArchiveDev && st.st_ino == o_.ArchiveIno) ||
           (o_.HaveLock && st.st_dev == o_.LockDev && st.st_ino == o_.LockIno);
  }

  // The checks every file goes through once found; appends it when it passes.
  void TakeFile(const std::string& path, const struct stat& st) {
    if (IsArchive(st)) return;
    if (o_.ArchiveBitSet && !o_.ArchiveBitSet(path, st)) {
      Skip(srArchiveBitNotSet, path);
      return;
    }
    if (o_.InArchive && !o_.InArchive(path)) {
      Skip(srNoFileToFreshen, path);
      return;
    }
    out_.push_back({path, false, static_cast<int64_t>(st.st_size)});
  }

  // The folders matching a folder part with wildcards, level by level.
  std::vector<std::string> MatchFolders(const std::string& folder) {
    std::vector<std::string> current;
    std::vector<std::string> parts;
    size_t start = 0;
    if (!folder.empty() && folder[0] == '/') {
      current.push_back("/");
      start = 1;
    } else {
      current.push_back(o_.RootDir);
    }
    while (start < folder.size()) {
      size_t end = folder.find('/', start);
      if (end == std::string::npos) end = folder.size();
      if (end > start) parts.push_back(folder.substr(start, end - start));
      start = end + 1;
    }
    for (const auto& part : parts) {
      std::vector<std::string> next;
      for (const auto& dir : current) {
        if (!HasWildcardChars(part)) {
          std::string p = Join(dir, part);
          struct stat st;
          if (::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) next.push_back(p);
          continue;
        }
        for (const auto& name : ListFolder(dir)) {
          if (o_.Between) o_.Between();
          if (!WildcardMatch(part, name)) continue;
          std::string p = Join(dir, name);
          struct stat st;
          if (FindWithMask(p, o_.IncludeHidden, true, st)) next.push_back(p);
        }
      }
      current.swap(next);
    }
    return current;
  }

  static bool MaskMatches(const std::string& mask, const std::string& name) {
    if (WildcardMatch(mask, name)) return true;
    // A name without extension also matches as name + "." (so "*." finds such files).
    return name.find('.') == std::string::npos && WildcardMatch(mask, name + ".");
  }

  void Walk(const std::string& dir, const std::string& mask, bool recurse) {
    std::vector<std::string> names;
    if (!ListFolder(dir, names)) {
      // A folder that cannot be read is reported, not passed over as if it were empty.
      Skip(srFileOpenError, dir.empty() || dir.back() == '/' ? dir : dir + "/");
      return;
    }
    for (const auto& name : names) {
      if (o_.Between) o_.Between();
      std::string path = Join(dir, name);
      struct stat st;
      if (::lstat(path.c_str(), &st) != 0) {
        // Listed a moment ago and gone now: a file that would have been taken is reported.
        if (o_.NoSuchFile && MaskMatches(mask, name) &&
            !(o_.ExcludeList && MatchesPatternList(*o_.ExcludeList, path)))
          o_.NoSuchFile(path);
        continue;
      }
      if (S_ISDIR(st.st_mode)) {
        if (!recurse || (!o_.IncludeHidden && IsHiddenName(name))) continue;
        std::string folderName = path + "/";
        if (o_.RecursingFile) o_.RecursingFile(folderName);
        if (o_.AddDirEntriesOnRecurse) out_.push_back({folderName, true, 0});
        Walk(path, mask, recurse);
        continue;
      }
      if (!MaskMatches(mask, name)) continue;
      if (!o_.IncludeHidden && IsHiddenName(name)) continue;
      if (o_.RecursingFile) o_.RecursingFile(path);
      if (o_.ExcludeList && MatchesPatternList(*o_.ExcludeList, path)) {
        Skip(srExcludeList, path);
        continue;
      }
      if (S_ISLNK(st.st_mode) && !o_.FollowLinks) {
        TakeLink(path, st);
        continue;
      }
      // As FindWithMask, on the lstat just made: a followed link stands for the file it points
      // to. Whatever cannot be stored is named with its reason.
      const struct stat lst = st;
      if ((S_ISLNK(st.st_mode) && ::stat(path.c_str(), &st) != 0) || !S_ISREG(st.st_mode)) {
        LeaveOut(path, lst);
        continue;
      }
      TakeFile(path, st);
    }
  }

  const TExpandOptions& o_;
  TFileItems& out_;
};

// Keeps the first of items naming the same path (a file two patterns or two ticked paths
// reach): it is one file to store, not a second file that the duplicate check would refuse.
void DropRepeatedPaths(TFileItems& items) {
  std::vector<std::pair<size_t, uint32_t>> hashed;
  hashed.reserve(items.size());
  for (size_t i = 0; i < items.size(); ++i)
    hashed.emplace_back(std::hash<std::string>{}(items[i].Path), static_cast<uint32_t>(i));
  std::sort(hashed.begin(), hashed.end());
  std::vector<bool> repeated(items.size(), false);
  bool any = false;
  for (size_t g = 0; g < hashed.size();) {
    size_t end = g + 1;
    while (end < hashed.size() && hashed[end].first == hashed[g].first) ++end;
    for (size_t a = g; a < end; ++a) {
      if (repeated[hashed[a].second]) continue;
      for (size_t b = a + 1; b < end; ++b)
        if (items[hashed[b].second].Path == items[hashed[a].second].Path)
          any = repeated[hashed[b].second] = true;
    }
    g = end;
  }
  if (!any) return;
  size_t kept = 0;
  for (size_t i = 0; i < items.size(); ++i) {
    if (repeated[i]) continue;
    if (kept != i) items[kept] = std::move(items[i]);
    ++kept;
  }
  items.resize(kept);
}

}  // namespace

bool HasWildcardChars(const std::string& s) {
  return s.find_first_of("*?<>|") != std::string::npos;
}

int64_t ExpandFileList(const std::vector<std::string>& items, const TExpandOptions& options,
                       TFileItems& out) {
  TExpander ex(options, out);
  std::vector<std::string> wild;
  for (const auto& item : items) {
    if (item.empty()) continue;
    if (item.back() == '/') {
      out.push_back({item, true, 0});
    } else if (HasWildcardChars(item)) {
      wild.push_back(item);
    } else {
      ex.ExplicitFile(item);
    }
    if (options.Between) options.Between();
  }
  for (const auto& item : wild) ex.WildcardItem(item);
  DropRepeatedPaths(out);
  int64_t total = 0;
  for (const auto& f : out) total += f.Size;
  return total;
}

std::string StoredNameOf(const std::string& path, bool isFolder, bool storePaths,
                         bool relativePaths, const std::vector<std::string>& relativePathList) {
  std::string p = path;
  while (isFolder && p.size() > 1 && p.back() == '/') p.pop_back();
  size_t slash = p.rfind('/');
  std::string folder = slash == std::string::npos ? "" : p.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? p : p.substr(slash + 1);
  if (isFolder) {
    folder = p + "/";
    name.clear();
  }
  if (!storePaths) {
    if (!isFolder) return name;
    // A folder entry without paths keeps its last component only.
    std::string last = BaseNameOf(p);
    return (last == "/" || last == "." || last == "..") ? "" : last + "/";
  }
  if (relativePaths) {
    std::string lower = LowerAscii(folder);
    for (const auto& prefix : relativePathList) {
      if (!prefix.empty() && lower.compare(0, prefix.size(), LowerAscii(prefix)) == 0) {
        folder.erase(0, prefix.size());
        break;
      }
    }
  }
  // Resolve "." and ".." lexically and drop empty components (a leading "/" among them).
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= folder.size()) {
    size_t end = folder.find('/', start);
    if (end == std::string::npos) end = folder.size();
    std::string c = folder.substr(start, end - start);
    if (c == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!c.empty() && c != ".") {
      parts.push_back(c);
    }
    start = end + 1;
  }
  std::string out;
  for (const auto& c : parts) out += c + "/";
  return out + name;
}

uint8_t DosAttributes(const std::string& path, const struct stat& st, bool archiveBit) {
  uint8_t a = 0;
  if (!(st.st_mode & S_IWUSR)) a |= 0x01;
  if (IsHiddenName(BaseNameOf(path))) a |= 0x02;
  if (S_ISDIR(st.st_mode)) a |= 0x10;
  if (archiveBit) a |= 0x20;
  return a;
}
