// Fuzz target: the extraction writer alone, against a hostile folder. The input is a script of
// steps: the writer creates folders and writes files at arbitrary names below the extraction
// folder, while between its steps (also between opening a target and renaming its file) someone
// else plants symbolic links to a folder outside, or moves a folder away and leaves such a link
// in its place. Unless the user's own links are to be followed, nothing may ever appear in or
// change in the outside folder, nothing may appear beside the extraction folder, and no temporary
// file may stay behind.
#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "archive/extractwriter.h"
#include "scratch.h"

namespace fs = std::filesystem;

namespace {

// Names made mostly of the characters that matter: letters, "/" and ".".
std::string PathOf(const uint8_t* p, size_t n) {
  static const char kChars[] = {'a', 'b', '/', '.', '/', '.', 'c', 'd'};
  std::string s;
  for (size_t i = 0; i < n; ++i) s.push_back(kChars[p[i] % sizeof kChars]);
  return s;
}

void SplitPath(const std::string& path, std::string& parent, std::string& name) {
  size_t slash = path.rfind('/');
  parent = slash == std::string::npos ? "" : path.substr(0, slash);
  name = slash == std::string::npos ? path : path.substr(slash + 1);
}

// Names directly inside a folder, in one string.
std::string Names(const std::string& dir) {
  std::string all;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name != "." && name != "..") all += name + "|";
    }
    closedir(d);
  }
  return all;
}

bool HasTemporary(const std::string& dir) {
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::end(it);
       it.increment(ec))
    if (it->path().filename().string().rfind(".arcavo-", 0) == 0) return true;
  return false;
}

struct TSlot {
  TExtractTarget where;
  TExtractFile file;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string root = FuzzScratch() + "/run";
  const std::string dest = root + "/dest";
  const std::string outside = root + "/outside";
  std::error_code ec;
  fs::remove_all(root, ec);
  fs::create_directories(dest, ec);
  fs::create_directories(outside, ec);
  {
    int fd = ::open((outside + "/bait").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, "bait", 4) != 4) __builtin_trap();
    ::close(fd);
  }
  const bool followOwnLinks = data[0] & 1;
  const std::array<std::string, 4> links = {outside, "../outside", "../../outside",
                                            outside + "/bait"};
  std::array<std::unique_ptr<TSlot>, 2> slots;
  int moved = 0;

  size_t pos = 1;
  while (pos + 3 <= size) {
    const uint8_t op = data[pos] % 6, arg = data[pos + 1];
    const size_t len = std::min<size_t>(data[pos + 2] % 48, size - pos - 3);
    const std::string path = PathOf(data + pos + 3, len);
    pos += 3 + len;
    std::string parent, name;
    SplitPath(path, parent, name);
    switch (op) {
      case 0: {  // the writer: a whole file
        TExtractTarget where;
        TExtractFile file;
        if (where.Open(dest + "/" + path, dest, followOwnLinks) && file.Create(where.Dir.Get())) {
          if (::write(file.Fd(), "data", 4) != 4) __builtin_trap();
          std::time_t t = 0;
          file.Finish(where.Base, 0644, arg & 1 ? &t : nullptr, false);
        }
        break;
      }
      case 1:  // the writer: a folder
        OpenFolderBelow(dest + "/" + path, dest, true, followOwnLinks);
        break;
      case 2:    // someone else: a link planted at the name
      case 3: {  // someone else: the folder at the name moved away, a link in its place
        TOwnedFd dir =
            OpenFolderBelow(parent.empty() ? dest : dest + "/" + parent, dest, true, false);
        if (dir.Get() < 0 || name.empty() || name == "." || name == "..") break;
        if (op == 3) {
          TOwnedFd top(::open(dest.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
          std::string aside = ".moved" + std::to_string(moved++);
          ::renameat(dir.Get(), name.c_str(), top.Get(), aside.c_str());
        }
        ::symlinkat(links[arg % links.size()].c_str(), dir.Get(), name.c_str());
        break;
      }
      case 4: {  // the writer: a file begun; the rename comes later
        auto slot = std::make_unique<TSlot>();
        if (slot->where.Open(dest + "/" + path, dest, followOwnLinks) &&
            slot->file.Create(slot->where.Dir.Get())) {
          if (::write(slot->file.Fd(), "part", 4) != 4) __builtin_trap();
          slots[arg % slots.size()] = std::move(slot);
        }
        break;
      }
      case 5: {  // the writer: a begun file finished (or given up)
        auto& slot = slots[arg % slots.size()];
        if (slot && (arg & 2)) slot->file.Finish(slot->where.Base, 0644, nullptr, false);
        slot.reset();
        break;
      }
    }
  }
  for (auto& slot : slots) slot.reset();

  if (HasTemporary(dest)) __builtin_trap();
  if (!followOwnLinks) {
    if (Names(root) != "dest|outside|" && Names(root) != "outside|dest|") __builtin_trap();
    if (Names(outside) != "bait|") __builtin_trap();
    struct stat st;
    if (::lstat((outside + "/bait").c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != 4)
      __builtin_trap();
  }
  fs::remove_all(root, ec);
  return 0;
}
