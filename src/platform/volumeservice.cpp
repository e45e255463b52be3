#include "platform/volumeservice.h"

#include "platform/mounts.h"

#include <sys/statfs.h>
#include <sys/statvfs.h>

#include <cerrno>

namespace {

// The path itself when it exists, else its nearest existing folder: a volume file is measured
// before it is created.
template <typename Stat, typename Fn>
bool StatNearest(std::string path, Stat& st, Fn fn) {
  for (int guard = 0; guard < 4096; ++guard) {
    if (path.empty()) path = '.';
    if (fn(path.c_str(), &st) == 0) return true;
    if (errno != ENOENT && errno != ENOTDIR) return false;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
      path = '.';
    } else if (slash == 0) {
      path = "/";
    } else {
      path.resize(slash);
    }
  }
  return false;
}

}  // namespace

int64_t LargestFileForFsType(int64_t fsType) {
  switch (static_cast<uint32_t>(fsType)) {
    case 0x4d44u:  // FAT12/16/32 (msdos, vfat)
      return kFatLargestFile;
    default:
      return kNoFileSizeLimit;
  }
}

int64_t TStatVolumeService::FreeBytes(const std::string& path) {
  struct statvfs st {};
  if (!StatNearest(path, st, [](const char* p, struct statvfs* s) { return statvfs(p, s); }))
    return -1;
  const unsigned long unit = st.f_frsize ? st.f_frsize : st.f_bsize;
  const __uint128_t bytes = static_cast<__uint128_t>(st.f_bavail) * unit;
  return bytes > static_cast<__uint128_t>(kNoFileSizeLimit) ? kNoFileSizeLimit
                                                            : static_cast<int64_t>(bytes);
}

int64_t TStatVolumeService::ClusterSize(const std::string& path) {
  struct statvfs st {};
  if (!StatNearest(path, st, [](const char* p, struct statvfs* s) { return statvfs(p, s); }) ||
      st.f_bsize == 0)
    return kUnknownClusterSize;
  return static_cast<int64_t>(st.f_bsize);
}

int64_t TStatVolumeService::LargestFile(const std::string& path) {
  struct statfs st {};
  if (!StatNearest(path, st, [](const char* p, struct statfs* s) { return statfs(p, s); }))
    return kNoFileSizeLimit;
  return LargestFileForFsType(static_cast<int64_t>(st.f_type));
}

IVolumeService& DefaultVolumeService() {
  static TLinuxVolumeService service;
  return service;
}
