// The mounts of this process and the block devices under them, read from /proc/self/mountinfo,
// /sys/dev/block and /dev/disk/by-label. The three roots can be moved so that tests read a tree
// of their own instead of the machine's.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/volumeservice.h"

struct TMountEntry {
  unsigned major = 0;
  unsigned minor = 0;
  std::string root;        // the folder of the file system mounted here (a bind mount's source)
  std::string mountPoint;  // escapes decoded
  std::string options;     // per-mount options ("rw,nosuid")
  std::string fsType;
  std::string source;
  std::string superOptions;
  // "ro" among the per-mount or the file system's options.
  bool ReadOnly() const;
};

// Decodes the octal escapes the kernel writes for blanks, tabs, line feeds and backslashes
// ("\040" is a blank). A backslash not followed by three octal digits stays as it is.
std::string DecodeMountField(std::string_view field);
// Decodes udev's "\xHH" escapes in the names under /dev/disk/by-label.
std::string DecodeUdevName(std::string_view name);
// The lines of a mountinfo text; lines that do not have its shape are left out.
std::vector<TMountEntry> ParseMountInfo(std::string_view text);
// The mount holding the absolute, normalised path: the longest mount point that contains it, the
// one mounted last when several are mounted on the same point. Null when none does.
const TMountEntry* MountOfPath(const std::vector<TMountEntry>& mounts, const std::string& path);
// path made absolute and free of ".", ".." and doubled slashes; the part that exists has its
// links resolved.
std::string NormalisedPath(const std::string& path);

// The volume service of this system: free space as TStatVolumeService, and the drive facts and
// labels from the mount table, sysfs and udev's label links. It cannot write labels (the backup's
// disk service does that through udisks).
class TLinuxVolumeService : public TStatVolumeService {
 public:
  struct Roots {
    std::string proc = "/proc";
    std::string sys = "/sys";
    std::string dev = "/dev";
  };
  TLinuxVolumeService() = default;
  explicit TLinuxVolumeService(Roots roots) : roots_(std::move(roots)) {}

  bool IsRemovable(const std::string& path) override { return Drive(path).removable; }
  std::string ReadLabel(const std::string& path) override;
  TDriveFacts Drive(const std::string& path) override;
  // The label udev lists for a block device; "" when it has none.
  std::string LabelOfDevice(const std::string& device);

 private:
  Roots roots_;
};
