#include "platform/archiveattr.h"

#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/atomicfile.h"

namespace {

std::string Escape(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

std::string Unescape(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      ++i;
      out += s[i] == 'n' ? '\n' : s[i];
    } else {
      out += s[i];
    }
  }
  return out;
}

constexpr const char* kStateHeader = "arcavo-archived 1";

}  // namespace

TFileStamp TFileStamp::Of(const struct stat& st) {
  TFileStamp s;
  s.Inode = static_cast<uint64_t>(st.st_ino);
  s.Size = static_cast<int64_t>(st.st_size);
  s.MTimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return s;
}

std::string TFileStamp::Text() const {
  return std::to_string(Inode) + " " + std::to_string(Size) + " " + std::to_string(MTimeNs);
}

bool TFileStamp::Parse(const std::string& text, TFileStamp& out) {
  unsigned long long ino = 0;
  long long size = 0, mtime = 0;
  int used = 0;
  if (std::sscanf(text.c_str(), "%llu %lld %lld%n", &ino, &size, &mtime, &used) != 3) return false;
  if (static_cast<size_t>(used) != text.size()) return false;
  out.Inode = ino;
  out.Size = size;
  out.MTimeNs = mtime;
  return true;
}

TArchiveAttributes::TArchiveAttributes(TXattrUse use, std::string stateFile)
    : use_(use), stateFile_(stateFile.empty() ? DefaultStateFile() : std::move(stateFile)) {}

TArchiveAttributes::~TArchiveAttributes() = default;

std::string TArchiveAttributes::DefaultStateFile() {
  std::string base;
  if (const char* x = std::getenv("XDG_STATE_HOME"); x && *x == '/') {
    base = x;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home && *home ? home : "/tmp") + "/.local/state";
  }
  return base + "/arcavo/archived.state";
}

std::string TArchiveAttributes::Key(const std::string& path) {
  std::error_code ec;
  auto abs = std::filesystem::absolute(path, ec);
  return ec ? path : abs.lexically_normal().string();
}

void TArchiveAttributes::LoadState() {
  if (loaded_) return;
  loaded_ = true;
  std::ifstream in(stateFile_);
  std::string line;
  if (!std::getline(in, line) || line != kStateHeader) return;
  while (std::getline(in, line)) {
    // inode size mtime_ns path
    size_t a = line.find(' ');
    size_t b = a == std::string::npos ? a : line.find(' ', a + 1);
    size_t c = b == std::string::npos ? b : line.find(' ', b + 1);
    if (c == std::string::npos) continue;
    TFileStamp s;
    if (!TFileStamp::Parse(line.substr(0, c), s)) continue;
    state_[Unescape(line.substr(c + 1))] = s;
  }
}

bool TArchiveAttributes::IsSet(const std::string& path, const struct stat& st) {
  TFileStamp now = TFileStamp::Of(st);
  if (use_ == TXattrUse::Auto) {
    char buf[96];
    ssize_t n = ::getxattr(path.c_str(), kArchivedXattr, buf, sizeof buf - 1);
    if (n >= 0) {
      TFileStamp s;
      return !(TFileStamp::Parse(std::string(buf, static_cast<size_t>(n)), s) && s == now);
    }
    // No stamp in the xattr: the state file may hold one for a file that refused the xattr.
  }
  LoadState();
  // Most systems keep every stamp in xattrs: an empty state file needs no key built.
  if (state_.empty()) return true;
  auto it = state_.find(Key(path));
  return it == state_.end() || !(it->second == now);
}

void TArchiveAttributes::Clear(const std::string& path, const TFileStamp& stamp) {
  if (use_ == TXattrUse::Auto) {
    std::string text = stamp.Text();
    if (::setxattr(path.c_str(), kArchivedXattr, text.data(), text.size(), 0) == 0) {
      // A record left in the state file from a time the xattr was refused is now stale.
      LoadState();
      if (state_.erase(Key(path))) dirty_ = true;
      return;
    }
  }
  LoadState();
  state_[Key(path)] = stamp;
  dirty_ = true;
}

void TArchiveAttributes::Commit() {
  if (!dirty_) return;
  std::filesystem::path file(stateFile_);
  std::error_code ec;
  std::filesystem::create_directories(file.parent_path(), ec);
  if (ec) throw std::system_error(ec, "cannot create " + file.parent_path().string());
  std::ostringstream out;
  out << kStateHeader << '\n';
  for (const auto& [path, s] : state_) out << s.Text() << ' ' << Escape(path) << '\n';
  std::string text = out.str();
  try {
    // The state file is private to the user: it keeps the temporary's 0600.
    TAtomicFile atomic(stateFile_, stateFile_ + ".XXXXXX", ".");
    atomic.Write(text.data(), text.size());
    atomic.Commit();
  } catch (const std::system_error& e) {
    throw std::system_error(e.code(), stateFile_);
  }
  dirty_ = false;
}
