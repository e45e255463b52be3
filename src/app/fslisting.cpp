#include "app/fslisting.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// Classifies one directory entry; false when it is not listed.
bool Classify(const std::string& path, FsEntry& e) {
  struct stat ls;
  if (::lstat(path.c_str(), &ls) != 0) return false;
  if (S_ISDIR(ls.st_mode)) {
    e.folder = true;
    e.mtime = ls.st_mtime;
    return true;
  }
  struct stat st = ls;
  if (S_ISLNK(ls.st_mode) && ::stat(path.c_str(), &st) != 0) {
    st = ls;  // a dangling link is still shown, as the file it was
  }
  if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode) && !S_ISDIR(st.st_mode)) return false;
  e.folder = false;
  e.size = S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
  e.mtime = st.st_mtime;
  return true;
}

std::string Lower(const std::string& s) {
  std::string out = s;
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

template <typename Fn>
void ForEachEntry(const std::string& folder, bool withHidden, bool foldersOnly, Fn fn) {
  DIR* d = ::opendir(folder.c_str());
  if (!d) return;
  while (dirent* de = ::readdir(d)) {
    const char* n = de->d_name;
    if (std::strcmp(n, ".") == 0 || std::strcmp(n, "..") == 0) continue;
    FsEntry e;
    e.name = n;
    e.hidden = n[0] == '.';
    if (e.hidden && !withHidden) continue;
    e.path = JoinPath(folder, e.name);
    if (!Classify(e.path, e)) continue;
    if (foldersOnly && !e.folder) continue;
    if (!fn(std::move(e))) break;
  }
  ::closedir(d);
}

}  // namespace

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::string ParentPath(const std::string& path) {
  if (path.empty() || path == "/") return {};
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool IsRealFolder(const std::string& path) {
  struct stat ls;
  return ::lstat(path.c_str(), &ls) == 0 && S_ISDIR(ls.st_mode);
}

std::vector<FsEntry> ListFolder(const std::string& folder, bool withHidden, bool foldersOnly) {
  std::vector<FsEntry> out;
  ForEachEntry(folder, withHidden, foldersOnly, [&](FsEntry e) {
    out.push_back(std::move(e));
    return true;
  });
  std::sort(out.begin(), out.end(), [](const FsEntry& a, const FsEntry& b) {
    if (a.folder != b.folder) return a.folder;
    const std::string la = Lower(a.name), lb = Lower(b.name);
    if (la != lb) return la < lb;
    return a.name < b.name;
  });
  return out;
}

bool FolderHasEntries(const std::string& folder, bool withHidden, bool foldersOnly) {
  bool any = false;
  ForEachEntry(folder, withHidden, foldersOnly, [&](FsEntry) {
    any = true;
    return false;
  });
  return any;
}

namespace {

// Undoes the octal escapes of mountinfo fields ("\040" for a blank).
std::string UnescapeMountField(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '7') {
      out += static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

bool Below(const std::string& path, const std::string& folder) {
  return path.size() > folder.size() + 1 && path.compare(0, folder.size(), folder) == 0 &&
         path[folder.size()] == '/';
}

}  // namespace

std::vector<std::string> ExplorerRoots(const std::string& home, const std::string& mountinfo) {
  std::vector<std::string> roots;
  if (!home.empty() && home != "/") roots.push_back(home);
  roots.push_back("/");
  std::string text = mountinfo;
  if (text.empty()) {
    if (FILE* f = std::fopen("/proc/self/mountinfo", "r")) {
      char buf[4096];
      size_t n;
      while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
      std::fclose(f);
    }
  }
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    // Fields: id, parent, major:minor, root, mount point, ...
    size_t a = 0;
    for (int field = 0; field < 4 && a != std::string::npos; ++field) {
      a = line.find(' ', a);
      if (a != std::string::npos) ++a;
    }
    if (a == std::string::npos) continue;
    const size_t b = line.find(' ', a);
    const std::string mount = UnescapeMountField(line.substr(a, b - a));
    if (Below(mount, "/media") || Below(mount, "/run/media") || Below(mount, "/mnt")) {
      if (std::find(roots.begin(), roots.end(), mount) == roots.end()) roots.push_back(mount);
    }
  }
  return roots;
}
