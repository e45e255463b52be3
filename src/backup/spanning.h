// The window's side of volumes and parts: the disk prompts while a spanned archive is written or
// read, the names of split parts, the disk marker files and the clearing of a disk before it is
// written.
//
// The handlers are the program's own on the engine (they stay for every operation): writing or
// reading is told apart by whether a backup run is in progress.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

class IBackupDisplay;
class IDiskService;
class IFileDialogHost;
class IVolumeService;
class TArcZip;
class TBackupRun;
class TOptionLists;
class TPreferences;

namespace spanmsg {
inline constexpr const char* kInsert = "     Please insert disk #";
inline constexpr const char* kOfSet = "     of the multi-disk set.";
inline constexpr const char* kErasedNoPrompt = "Disk will be erased with no prompt";
inline constexpr const char* kEraseQuestion =
    "ERASE or NO ERASE this disk\ror SKIP erasing all disks";
inline constexpr const char* kUnableToClear = "Unable to Clear this disk";
inline constexpr const char* kOnlyFree = "Destination has only ";
inline constexpr const char* kIncorrectFile = "Incorrect File";
inline constexpr const char* kWrongDisk = "Possible wrong disk - replace with Disk#";
inline constexpr const char* kSkipTest = "Or click SKIP to bypass this test";
inline constexpr const char* kDiskFilter =
    "Zip or Spanned Files|*disk#*.*;*.z*;*.0*;*.1*;*.2*;*.3*;*.4*;*.5*;*.6*;*.7*;*.8*;*.9*";
// Told instead of clearing when the medium in the drive is the one just written.
inline constexpr const char* kSameDisk =
    "The disk in the drive is the one just written: insert the next disk";
}  // namespace spanmsg

// The operating system's side of a medium swap. Before a writing prompt the medium in the drive
// is released (written out, unmounted); after OK the next medium of the same drive is waited
// for and made available, and the volume's name on it returned.
class IMediumSwap {
 public:
  virtual ~IMediumSwap() = default;
  virtual void Release(const std::string& /*path*/) {}
  // The name path has on the medium now in the drive; "" when no medium came.
  virtual std::string Take(const std::string& path) { return path; }
};

// Swaps of media the desktop's disk service manages: sync and unmount before the prompt; after
// it, a bounded wait for a medium on the same drive (its sysfs device path), mounted if needed.
// The mount point may change with the medium's label (/media/$USER/LABEL).
class TDiskServiceSwap : public IMediumSwap {
 public:
  TDiskServiceSwap(IVolumeService& volumes, IDiskService& disks)
      : volumes_(volumes), disks_(disks) {}
  void Release(const std::string& path) override;
  std::string Take(const std::string& path) override;
  int waitMs = 30000;

 private:
  IVolumeService& volumes_;
  IDiskService& disks_;
  std::string device_;    // the device released, "" when none
  std::string relative_;  // the path's part below its mount point
};

class TSpanning {
 public:
  TSpanning(TArcZip& zip, TBackupRun& run, TOptionLists& lists, TPreferences& prefs,
            IBackupDisplay& display, IVolumeService& volumes);

  // Puts the disk prompts on the engine as its standing handlers (and takes them off again).
  void Attach();
  void Detach();

  // ---- Engine events ----
  void ArcZip1GetNextDisk(int NextDisk, std::string& FName);
  void ArcZip1PrepareNextDisk(int DiskNum);
  void ArcZip1FileNameForSplitPart(std::string& FName, int PartNum, int SplitType);

  // ---- Routines ----
  // The prompt for disk n; false after Cancel (FName emptied, the engine cancelled).
  bool GetNextSpanDisk(int n, std::string& FName);
  // Creates the marker file of disk n beside the archive (a staged part's in the program folder)
  // and returns its name.
  QString WriteSpanNo(int n);
  void ClearFilesOnDisk();
  int GetDriveTypeEx(const QString& path);
  // Burns a staged part and the marker of disk LastPartNumber, then deletes both; false when
  // the part is empty or the burn failed (or disc writing is not available). A part that was
  // not burnt may be the only copy of what it holds: it is kept in the program folder under a
  // name of its own (partKept tells which), only the marker goes.
  bool BurnPart(const std::string& part);
  QString GetVolumeName(const QString& path);
  bool IsRemovable(const QString& path);

  // ---- State ----
  int LastPartNumber = 0;
  int SkipDiskTest = 0;

  // ---- What the handlers reach ----
  IFileDialogHost* fileDialogs = nullptr;
  IMediumSwap* swap = nullptr;
  // Burns a staged part with its marker as one session; unset: disc writing is not available.
  std::function<bool(const QStringList& files)> burnFiles;
  // A staged part was not burnt (why, when the burn itself did not say).
  std::function<void(const QString& why)> burnFailed;
  // A staged part that was not burnt was kept as path.
  std::function<void(const QString& path)> partKept;
  // The disc in the burner drive, for the size of the next staged part: megabytes x 1000, 0 not
  // ready, 13 cancelled, -1 a DVD (the part size stays). Unset: not measured.
  std::function<int64_t()> nextDiscFree;

 private:
  QString ZipName() const;
  bool NoPromptErase() const;
  bool Unattended() const;
  // The medium in the drive still holds the marker this run wrote for disk n.
  bool HoldsMarkerOf(int n, const std::string& fname);
  QString WriteSpanNoBeside(int n, const std::string& volume);
  void ReadNextDisk(int n, std::string& FName);
  // The wrong-disk test of the reading side; false: pick again.
  bool DiskTestPasses(int n, const std::string& picked);
  bool ClearDisk(std::string& why);
  void AnimationsRun();

  TArcZip& zip_;
  TBackupRun& run_;
  TOptionLists& l_;
  TPreferences& prefs_;
  IBackupDisplay& display_;
  IVolumeService& volumes_;
  IMediumSwap defaultSwap_;
  // The markers written in this program's life: disk -> (device, inode, time).
  struct TMarker {
    uint64_t dev = 0, ino = 0;
    int64_t mtime = 0;
  };
  std::map<int, TMarker> markers_;
  // The volume on the medium to clear ("": the archive's own name).
  std::string clearTarget_;
};
