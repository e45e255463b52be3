// Facts about the medium a path lives on: free space, allocation unit, the largest file its file
// system can hold, whether it is removable, and its label.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

// What is known of the drive and medium holding a path.
struct TDriveFacts {
  bool known = false;      // the path's mount and its block device were found
  bool removable = false;  // the medium can be taken out of its drive
  bool optical = false;    // a disc drive (sr*)
  bool readOnly = false;   // mounted read-only
  std::string mountPoint;  // the mount holding the path
  std::string fsType;
  std::string device;     // the kernel's name of the block device ("sdb1", "sr0")
  std::string drivePath;  // the drive's device folder under sysfs: the same drive after a swap
};

class IVolumeService {
 public:
  virtual ~IVolumeService() = default;

  // Bytes this user may still write on the file system holding path (a path that does not exist
  // yet is measured at its nearest existing folder); -1 when it cannot be told.
  virtual int64_t FreeBytes(const std::string& path) = 0;
  // The allocation unit of that file system; 4096 when it cannot be told.
  virtual int64_t ClusterSize(const std::string& path) = 0;
  // The largest single file that file system can hold.
  virtual int64_t LargestFile(const std::string& path) = 0;
  // True when the medium can be taken out (floppy, memory stick, card, disc).
  virtual bool IsRemovable(const std::string& path) = 0;
  // The medium's label; "" when it has none or it cannot be read.
  virtual std::string ReadLabel(const std::string& path) = 0;
  // Gives the medium a label ("" clears it); false when labels cannot be written there.
  virtual bool WriteLabel(const std::string& path, const std::string& label) = 0;
  // The drive and medium holding path. Services that know no more than IsRemovable say that.
  virtual TDriveFacts Drive(const std::string& path) {
    TDriveFacts f;
    f.removable = IsRemovable(path);
    return f;
  }
};

inline constexpr int64_t kUnknownClusterSize = 4096;
inline constexpr int64_t kNoFileSizeLimit = std::numeric_limits<int64_t>::max();
// FAT keeps a file's size in 32 bits.
inline constexpr int64_t kFatLargestFile = 4294967295LL;

// Free space and allocation unit from statvfs, the largest file from the file-system type
// (statfs). It knows nothing of removable media or labels: every medium is fixed and unlabelled.
class TStatVolumeService : public IVolumeService {
 public:
  int64_t FreeBytes(const std::string& path) override;
  int64_t ClusterSize(const std::string& path) override;
  int64_t LargestFile(const std::string& path) override;
  bool IsRemovable(const std::string&) override { return false; }
  std::string ReadLabel(const std::string&) override { return {}; }
  bool WriteLabel(const std::string&, const std::string&) override { return false; }
};

// The service the engine's media use unless they are given another.
IVolumeService& DefaultVolumeService();

// The largest file a file system of the given statfs type can hold.
int64_t LargestFileForFsType(int64_t fsType);
