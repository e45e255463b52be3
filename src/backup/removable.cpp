#include "backup/removable.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/mounts.h"
#include "platform/volumeservice.h"

int GetDriveTypeEx(IVolumeService& volumes, const std::string& path) {
  const TDriveFacts f = volumes.Drive(path);
  if (f.optical) return f.readOnly ? 1 : 2;
  return f.removable ? 3 : 0;
}

std::string GetVolumeName(IVolumeService& volumes, const std::string& path) {
  std::string label = volumes.ReadLabel(path);
  if (label.size() > 255) label.resize(255);
  return label;
}

bool IsRemovable(IVolumeService& volumes, const std::string& path) {
  return GetDriveTypeEx(volumes, path) != 0;
}

namespace {

struct TClearing {
  dev_t device;
  std::string error;
};

bool Fail(TClearing& c, const std::string& what, int err) {
  c.error = what + ": " + std::strerror(err);
  return false;
}

// Empties the open folder dirFd (named where, for messages). Takes ownership of dirFd.
bool EmptyFolder(int dirFd, const std::string& where, TClearing& c) {
  DIR* dir = ::fdopendir(dirFd);
  if (!dir) {
    const int err = errno;
    ::close(dirFd);
    return Fail(c, where, err);
  }
  bool ok = true;
  while (ok) {
    errno = 0;
    const dirent* e = ::readdir(dir);
    if (!e) {
      if (errno != 0) ok = Fail(c, where, errno);
      break;
    }
    const std::string name = e->d_name;
    if (name == "." || name == ".." || name[0] == '.') continue;  // hidden entries stay
    struct stat st {};
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    const std::string full = where + "/" + name;
    if (!S_ISDIR(st.st_mode)) {
      // Files, links and anything else go as themselves; one that will not go is passed over.
      ::unlinkat(dirFd, name.c_str(), 0);
      continue;
    }
    if (st.st_dev != c.device) {
      ok = Fail(c, full, EXDEV);
      break;
    }
    const int sub = ::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (sub < 0) {
      ok = Fail(c, full, errno);
      break;
    }
    // The folder opened must still be the one looked at (not swapped for a link meanwhile).
    struct stat opened {};
    if (::fstat(sub, &opened) != 0 || opened.st_ino != st.st_ino || opened.st_dev != st.st_dev) {
      ::close(sub);
      ok = Fail(c, full, ESTALE);
      break;
    }
    if (!EmptyFolder(sub, full, c)) {
      ok = false;
      break;
    }
    if (::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR) != 0) ok = Fail(c, full, errno);
  }
  ::closedir(dir);
  return ok;
}

bool Below(const std::string& folder, const std::string& path) {
  return folder == "/" || path == folder ||
         (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
          path[folder.size()] == '/');
}

}  // namespace

bool DelTree(const std::string& path, std::string* error) {
  auto refuse = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  const size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
  if (folder.empty()) folder = '/';
  folder = NormalisedPath(folder);
  if (folder == "/") return refuse("refused to clear /");
  if (const char* home = std::getenv("HOME"); home && *home) {
    const std::string h = NormalisedPath(home);
    if (Below(folder, h)) return refuse("refused to clear " + folder + ": it holds " + h);
  }
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return refuse(folder + ": " + std::strerror(errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return refuse(folder + ": " + std::strerror(errno));
  }
  TClearing c{st.st_dev, {}};
  const bool ok = EmptyFolder(fd, folder, c);
  if (!ok && error) *error = c.error;
  return ok;
}
