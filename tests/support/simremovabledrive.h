// A removable drive simulated in a folder: media with a label, a capacity, an allocation unit and
// files already on them (hidden ones and ones in sub-folders too), swapped in and out of one
// drive folder. Writes past a medium's capacity come out short with ENOSPC, as on a full floppy;
// a write-protected medium takes no new file. It is the engine's media and the volume service
// of the drive alike. Tests of spanned archives run over it.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "archive/zipmedia.h"
#include "platform/volumeservice.h"

struct TSimMedium {
  std::string label;
  int64_t capacity = 1457664;  // a 1.44 MB floppy's data area
  int64_t clusterSize = 512;
  int64_t largestFile = kFatLargestFile;
  // Files already on the medium: name in the drive folder ("sub/.hidden" in a sub-folder) ->
  // content.
  std::map<std::string, std::string> files;
  bool writeProtected = false;
  // When >= 0, the free space the medium reports instead of the true one (a medium that lies).
  int64_t reportedFree = -1;
};

class SimRemovableDrive : public TZipMedia, public IVolumeService {
 public:
  // The drive's folder is root + "/drive" (or the label's, see RemountUnderLabel); media not in the
  // drive are kept under root + "/media".
  explicit SimRemovableDrive(const std::string& root);

  // Adds a medium (not inserted); returns its number, from 0.
  int AddMedium(TSimMedium medium);
  // Puts medium k into the drive (the one there is taken out, its files kept with it); -1 empties
  // the drive.
  void SwapTo(int k);
  int Current() const { return current_; }
  // On: an inserted medium is mounted under its label (root + "/mnt/" + label, "disk" when it has
  // none), as the desktop mounts media under /media/$USER/LABEL; off: always the drive folder.
  void RemountUnderLabel(bool on);
  // Media to insert, one per ScriptedSwap().
  void ScriptSwaps(std::vector<int> order);
  // Inserts the next scripted medium; false when the script is used up (the drive stays as it is).
  bool ScriptedSwap();
  int Swaps() const { return swaps_; }

  const std::string& DriveFolder() const { return drive_; }
  TSimMedium& Medium(int k) { return media_.at(static_cast<size_t>(k)).facts; }
  // Bytes the inserted medium's files take, each rounded up to whole clusters.
  int64_t UsedBytes();
  // The content of file name on medium k (inserted or not); "" when it is missing.
  std::string ReadFile(int k, const std::string& name);

  int64_t FreeBytes(const std::string& path) override;
  int64_t ClusterSize(const std::string& path) override;
  int64_t LargestFile(const std::string& path) override;
  bool IsRemovable(const std::string& path) override;
  std::string ReadLabel(const std::string& path) override;
  bool WriteLabel(const std::string& path, const std::string& label) override;
  // Told every label written to a medium (after the medium has it).
  std::function<void(const std::string& path, const std::string& label)> onLabel;
  // The drive's device is "sim0"; paths elsewhere are the system's.
  TDriveFacts Drive(const std::string& path) override;
  std::unique_ptr<THugeStream> CreateVolume(const std::string& path) override;
  std::unique_ptr<THugeStream> OpenVolume(const std::string& path) override;

 private:
  struct TMediumState {
    TSimMedium facts;
    std::string store;  // where its files are while it is out of the drive
  };
  class TVolumeStream;
  bool OnDrive(const std::string& path) const;

  std::string root_;
  std::string drive_;
  bool byLabel_ = false;
  std::vector<TMediumState> media_;
  int current_ = -1;
  std::deque<int> script_;
  int swaps_ = 0;
};
