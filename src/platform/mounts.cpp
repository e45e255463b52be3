#include "platform/mounts.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace {

std::vector<std::string_view> SplitFields(std::string_view line) {
  std::vector<std::string_view> out;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    const size_t start = i;
    while (i < line.size() && line[i] != ' ') ++i;
    if (i > start) out.push_back(line.substr(start, i - start));
  }
  return out;
}

bool HasOption(const std::string& list, std::string_view option) {
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    if (std::string_view(list).substr(start, comma - start) == option) return true;
    start = comma + 1;
  }
  return false;
}

bool ParseNumber(std::string_view s, unsigned& out) {
  if (s.empty() || s.size() > 9) return false;
  unsigned v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<unsigned>(c - '0');
  }
  out = v;
  return true;
}

std::string ReadText(const std::string& path, size_t limit = size_t{1} << 24) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::string text;
  char buf[65536];
  while (in && text.size() < limit) {
    in.read(buf, sizeof buf);
    text.append(buf, static_cast<size_t>(in.gcount()));
  }
  return text;
}

std::string RealPath(const std::string& path) {
  char buf[PATH_MAX];
  if (!::realpath(path.c_str(), buf)) return {};
  return buf;
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

bool TMountEntry::ReadOnly() const {
  return HasOption(options, "ro") || HasOption(superOptions, "ro");
}

std::string DecodeMountField(std::string_view field) {
  const auto octal = [](char c) { return c >= '0' && c <= '7'; };
  std::string out;
  out.reserve(field.size());
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 4 <= field.size() && field[i + 1] >= '0' && field[i + 1] <= '3' &&
        octal(field[i + 2]) && octal(field[i + 3])) {
      out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                               (field[i + 3] - '0'));
      i += 3;
      continue;
    }
    out += field[i];
  }
  return out;
}

std::string DecodeUdevName(std::string_view name) {
  std::string out;
  const auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (size_t i = 0; i < name.size(); ++i) {
    if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x' && hex(name[i + 2]) >= 0 &&
        hex(name[i + 3]) >= 0) {
      out += static_cast<char>(hex(name[i + 2]) * 16 + hex(name[i + 3]));
      i += 3;
      continue;
    }
    out += name[i];
  }
  return out;
}

std::vector<TMountEntry> ParseMountInfo(std::string_view text) {
  std::vector<TMountEntry> out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::vector<std::string_view> f = SplitFields(text.substr(start, end - start));
    start = end + 1;
    // id parent major:minor root mount-point options [optional...] - type source super-options
    if (f.size() < 10) continue;
    size_t dash = 6;
    while (dash < f.size() && f[dash] != "-") ++dash;
    if (dash + 2 >= f.size()) continue;
    const size_t colon = f[2].find(':');
    TMountEntry e;
    if (colon == std::string_view::npos || !ParseNumber(f[2].substr(0, colon), e.major) ||
        !ParseNumber(f[2].substr(colon + 1), e.minor))
      continue;
    e.root = DecodeMountField(f[3]);
    e.mountPoint = DecodeMountField(f[4]);
    if (e.mountPoint.empty() || e.mountPoint[0] != '/') continue;
    e.options = std::string(f[5]);
    e.fsType = DecodeMountField(f[dash + 1]);
    e.source = DecodeMountField(f[dash + 2]);
    if (dash + 3 < f.size()) e.superOptions = std::string(f[dash + 3]);
    out.push_back(std::move(e));
  }
  return out;
}

const TMountEntry* MountOfPath(const std::vector<TMountEntry>& mounts, const std::string& path) {
  const TMountEntry* best = nullptr;
  for (const TMountEntry& m : mounts) {
    const std::string& mp = m.mountPoint;
    const bool inside =
        mp == "/" || path == mp ||
        (path.size() > mp.size() && path.compare(0, mp.size(), mp) == 0 && path[mp.size()] == '/');
    // A later mount on the same point hides the earlier one.
    if (inside && (!best || mp.size() >= best->mountPoint.size())) best = &m;
  }
  return best;
}

std::string NormalisedPath(const std::string& path) {
  std::string abs = path;
  if (abs.empty() || abs[0] != '/') {
    char cwd[PATH_MAX];
    abs = std::string(::getcwd(cwd, sizeof cwd) ? cwd : "/") + "/" + abs;
  }
  std::vector<std::string> parts;
  size_t i = 0;
  while (i < abs.size()) {
    size_t slash = abs.find('/', i);
    if (slash == std::string::npos) slash = abs.size();
    const std::string part = abs.substr(i, slash - i);
    i = slash + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  // The longest existing head has its links resolved; the rest is taken as written.
  for (size_t n = parts.size() + 1; n-- > 0;) {
    std::string head;
    for (size_t k = 0; k < n; ++k) head += "/" + parts[k];
    if (head.empty()) head = '/';
    const std::string real = RealPath(head);
    if (real.empty()) continue;
    std::string out = real == "/" ? std::string() : real;
    for (size_t k = n; k < parts.size(); ++k) out += "/" + parts[k];
    return out.empty() ? "/" : out;
  }
  return abs;
}

TDriveFacts TLinuxVolumeService::Drive(const std::string& path) {
  TDriveFacts f;
  const std::vector<TMountEntry> mounts = ParseMountInfo(ReadText(roots_.proc + "/self/mountinfo"));
  const TMountEntry* m = MountOfPath(mounts, NormalisedPath(path));
  if (!m) return f;
  f.mountPoint = m->mountPoint;
  f.fsType = m->fsType;
  f.readOnly = m->ReadOnly();
  // Network, fuse, tmpfs and other file systems without a block device have major 0.
  if (m->major == 0) return f;
  const std::string dev = RealPath(roots_.sys + "/dev/block/" + std::to_string(m->major) + ":" +
                                   std::to_string(m->minor));
  if (dev.empty()) return f;
  f.known = true;
  f.device = BaseName(dev);
  struct stat st {};
  // A partition's removable flag is its disk's.
  const bool partition = ::stat((dev + "/partition").c_str(), &st) == 0;
  const std::string disk = partition ? FolderOf(dev) : dev;
  f.drivePath = disk;
  f.optical = f.device.rfind("sr", 0) == 0;
  f.removable = ReadText(disk + "/removable", 16).rfind("1", 0) == 0 || f.optical;
  return f;
}

std::string TLinuxVolumeService::LabelOfDevice(const std::string& device) {
  if (device.empty()) return {};
  const std::string folder = roots_.dev + "/disk/by-label";
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return {};
  std::string label;
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    char target[PATH_MAX];
    const ssize_t n = ::readlink((folder + "/" + name).c_str(), target, sizeof target - 1);
    if (n <= 0) continue;
    target[n] = '\0';
    if (BaseName(target) == device) {
      label = DecodeUdevName(name);
      break;
    }
  }
  ::closedir(dir);
  return label;
}

std::string TLinuxVolumeService::ReadLabel(const std::string& path) {
  return LabelOfDevice(Drive(path).device);
}
