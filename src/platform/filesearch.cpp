#include "platform/filesearch.h"

#include <dirent.h>

#include <algorithm>
#include <memory>

bool IsHiddenName(const std::string& name) {
  return !name.empty() && name[0] == '.';
}

std::string BaseNameOf(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  size_t slash = p.rfind('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

TFoundKind ClassifyWithMask(const std::string& path, bool includeHidden, struct stat& st) {
  if (!includeHidden && IsHiddenName(BaseNameOf(path))) return TFoundKind::None;
  if (::lstat(path.c_str(), &st) != 0) return TFoundKind::None;
  if (S_ISDIR(st.st_mode)) return TFoundKind::Folder;
  if (S_ISLNK(st.st_mode)) {
    // A link to a folder is not followed; a link to a file stands for the file.
    if (::stat(path.c_str(), &st) != 0) return TFoundKind::None;
    return S_ISREG(st.st_mode) ? TFoundKind::File : TFoundKind::None;
  }
  return S_ISREG(st.st_mode) ? TFoundKind::File : TFoundKind::None;
}

bool FindWithMask(const std::string& path, bool includeHidden, bool wantFolder, struct stat& st) {
  return ClassifyWithMask(path, includeHidden, st) ==
         (wantFolder ? TFoundKind::Folder : TFoundKind::File);
}

bool ListFolderSorted(const std::string& dir, std::vector<std::string>& names) {
  names.clear();
  std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(dir.empty() ? "." : dir.c_str()), ::closedir);
  if (!d) return false;
  while (dirent* e = ::readdir(d.get())) {
    std::string n = e->d_name;
    if (n == "." || n == "..") continue;
    names.push_back(std::move(n));
  }
  std::sort(names.begin(), names.end());
  return true;
}
