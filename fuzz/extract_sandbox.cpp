// Fuzz target: arbitrary bytes extracted as an archive into a fresh folder. Whatever the names,
// modes and data, everything created must lie inside the target folder, every symbolic link must
// lead inside it, and set-id bits are there only for root.
#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "archive/arcunzip.h"
#include "archive/zipexceptions.h"
#include "scratch.h"

namespace fs = std::filesystem;

namespace {

// Names directly inside a folder.
int CountEntries(const std::string& dir, std::string& only) {
  int n = 0;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      only = name;
      ++n;
    }
    closedir(d);
  }
  return n;
}

void CheckTree(const std::string& dir) {
  std::error_code ec;
  const fs::path inside = fs::weakly_canonical(dir, ec);
  for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    struct stat st;
    if (lstat(it->path().c_str(), &st) != 0) __builtin_trap();
    if (S_ISLNK(st.st_mode)) {
      // Where the link leads (as far as it exists) lies inside the folder.
      std::error_code lec;
      const fs::path to = fs::weakly_canonical(it->path(), lec);
      const std::string a = to.string(), b = inside.string() + "/";
      // A loop of links, or one through a file, leads nowhere at all.
      if (lec == std::errc::too_many_symbolic_link_levels || lec == std::errc::not_a_directory)
        continue;
      if (lec || (a + "/").compare(0, b.size(), b) != 0) __builtin_trap();
      continue;
    }
    if ((st.st_mode & (S_ISUID | S_ISGID)) && geteuid() != 0) __builtin_trap();
    if (S_ISDIR(st.st_mode)) chmod(it->path().c_str(), 0700);  // so it can be removed
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string root = FuzzScratch() + "/run";
  const std::string dest = root + "/a/b";
  std::error_code ec;
  fs::remove_all(root, ec);
  fs::create_directories(root, ec);

  TArcUnZip zip;
  zip.DoProcessMessages = false;
  zip.IncompleteZipMode = TIncompleteZipMode::izAssumeNotAZip;
  zip.Password = "secret";
  zip.OverwriteMode = TUZOverwriteMode::Always;
  zip.RecreateDirs = true;
  zip.DoAll = true;
  zip.OpenArchiveStream(std::make_unique<TMemoryStream>(data, size));
  zip.SetDestDir(dest);
  try {
    zip.ReadArchive();
    zip.Extract();
  } catch (const EArcZipException&) {
  } catch (const std::system_error&) {
  }

  // Nothing beside the target folder or its parents.
  std::string only;
  int n = CountEntries(root, only);
  if (n > 1 || (n == 1 && only != "a")) __builtin_trap();
  n = CountEntries(root + "/a", only);
  if (n > 1 || (n == 1 && only != "b")) __builtin_trap();
  CheckTree(root);
  fs::remove_all(root, ec);
  return 0;
}
