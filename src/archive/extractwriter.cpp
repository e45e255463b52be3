#include "archive/extractwriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <random>
#include <system_error>

namespace {

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

TOwnedFd OpenFolderStep(int dirFd, const std::string& seg, bool followOwnLinks, int& linkBudget);

// Follows the symbolic link `seg` in dirFd to the folder it names, when the link belongs to the
// user running the program or to root. The link's text is read and walked here, step by step
// under the same rule, instead of letting the kernel follow it, so a link swapped in after its
// owner was checked is never taken. Returns an invalid descriptor when the link is not followed.
TOwnedFd FollowOwnLink(int dirFd, const std::string& seg, int& linkBudget) {
  if (--linkBudget < 0) return TOwnedFd();
  struct stat before;
  if (::fstatat(dirFd, seg.c_str(), &before, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(before.st_mode))
    return TOwnedFd();
  if (before.st_uid != ::geteuid() && before.st_uid != 0) return TOwnedFd();
  std::string text(4096, '\0');
  ssize_t n = ::readlinkat(dirFd, seg.c_str(), text.data(), text.size());
  if (n <= 0 || static_cast<size_t>(n) >= text.size()) return TOwnedFd();
  text.resize(static_cast<size_t>(n));
  // A link's text never changes; the same inode afterwards means the text read is the checked
  // link's.
  struct stat after;
  if (::fstatat(dirFd, seg.c_str(), &after, AT_SYMLINK_NOFOLLOW) != 0 ||
      after.st_ino != before.st_ino || after.st_dev != before.st_dev)
    return TOwnedFd();
  TOwnedFd fd(text[0] == '/' ? ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC)
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
TOwnedFd OpenFolderStep(int dirFd, const std::string& seg, bool followOwnLinks, int& linkBudget) {
  int next = ::openat(dirFd, seg.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (next < 0 && followOwnLinks && (errno == ELOOP || errno == ENOTDIR))
    return FollowOwnLink(dirFd, seg, linkBudget);
  return TOwnedFd(next);
}

std::string TempName() {
  static std::mt19937_64 rng{std::random_device{}()};
  static const char* hex = "0123456789abcdef";
  std::string s = ".arcavo-";
  uint64_t v = rng();
  for (int i = 0; i < 12; ++i, v >>= 4) s.push_back(hex[v & 15]);
  return s + ".tmp";
}

}  // namespace

TOwnedFd& TOwnedFd::operator=(TOwnedFd&& o) noexcept {
  if (this != &o) {
    Reset();
    fd_ = o.fd_;
    o.fd_ = -1;
  }
  return *this;
}

void TOwnedFd::Reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

TOwnedFd OpenFolderBelow(const std::string& path, const std::string& trusted, bool create,
                         bool followOwnLinks) {
  std::string p = path.empty() ? "." : path;
  std::string rest;
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
    return TOwnedFd(::open(p.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  }
  std::string root = trusted == "." ? "." : trusted;
  if (create) {
    std::error_code ec;
    std::filesystem::create_directories(root, ec);
  }
  TOwnedFd fd(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  size_t start = 0;
  while (fd.Get() >= 0 && start < rest.size()) {
    size_t end = rest.find('/', start);
    if (end == std::string::npos) end = rest.size();
    std::string seg = rest.substr(start, end - start);
    start = end + 1;
    if (seg.empty() || seg == ".") continue;
    if (seg == "..") return TOwnedFd();
    int linkBudget = 40;
    TOwnedFd next = OpenFolderStep(fd.Get(), seg, followOwnLinks, linkBudget);
    if (next.Get() < 0 && errno == ENOENT && create) {
      if (::mkdirat(fd.Get(), seg.c_str(), 0777) != 0 && errno != EEXIST) return TOwnedFd();
      next = OpenFolderStep(fd.Get(), seg, false, linkBudget);
    }
    fd = std::move(next);
  }
  return fd;
}

bool TExtractTarget::Open(const std::string& target, const std::string& trusted,
                          bool followOwnLinks) {
  size_t slash = target.rfind('/');
  Folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  Base = slash == std::string::npos ? target : target.substr(slash + 1);
  Dir = OpenFolderBelow(Folder, trusted, true, followOwnLinks);
  return Dir.Get() >= 0 && !Base.empty();
}

bool TExtractFile::Create(int dirFd) {
  Discard();
  for (int attempt = 0; attempt < 8 && fd_.Get() < 0; ++attempt) {
    temp_ = TempName();
    fd_ = TOwnedFd(
        ::openat(dirFd, temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  }
  if (fd_.Get() < 0) {
    temp_.clear();
    return false;
  }
  dirFd_ = dirFd;
  return true;
}

bool TExtractFile::Finish(const std::string& name, mode_t mode, const std::time_t* mtime,
                          bool flush, const TFileOwner* owner) {
  // The owner first: a change of owner clears the set-ID bits the mode then gives back.
  if (owner) (void)::fchown(fd_.Get(), owner->Uid, owner->Gid);
  ::fchmod(fd_.Get(), mode);
  if (mtime) {
    struct timespec ts[2] = {{*mtime, 0}, {*mtime, 0}};
    ::futimens(fd_.Get(), ts);
  }
  if (flush) ::fsync(fd_.Get());
  fd_.Reset();
  if (::renameat(dirFd_, temp_.c_str(), dirFd_, name.c_str()) != 0) {
    Discard();
    return false;
  }
  temp_.clear();
  return true;
}

void TExtractFile::Discard() {
  fd_.Reset();
  if (dirFd_ >= 0 && !temp_.empty()) ::unlinkat(dirFd_, temp_.c_str(), 0);
  temp_.clear();
}
