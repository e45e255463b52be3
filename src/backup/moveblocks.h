// "&Tools" ▸ "Move Blocks": the parts of a split set (base.z01, base.z02, ..., base.zip and its
// configuration file base.zfc) carried from a folder to removable disks or burnt to discs, one
// disk per part, asking for each.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>

class IBackupDialogs;
class IBackupDisplay;
class TBurnCommands;

namespace movemsg {
inline constexpr const char* kSourceTitle = "Select BlockFiles Source Directory";
inline constexpr const char* kDestinationTitle =
    "Select Destination Drive/Directory\rMake sure enough free space";
inline constexpr const char* kInsert = "Insert disk with at least ";
inline constexpr const char* kMoving = "Moving files....";
// The parts left in the source folder (named after it, one per line).
inline constexpr const char* kNotMoved = "These parts were not moved:";
}  // namespace movemsg

// A size in millions of bytes with three significant digits ("1.46", "650"); whole numbers from
// 1000 on ("4483").
QString SizeInMb(int64_t bytes);
// Moves a file: a rename, or on another file system a copy that is flushed to the disk before
// the original is deleted. False (the original kept) when any step fails.
bool MoveFile(const QString& from, const QString& to);

class TMoveBlocks {
 public:
  TMoveBlocks(TBurnCommands& burn, IBackupDialogs& dialogs, IBackupDisplay& display);

  void MoveBlocks1Click();
  // Moves or burns one file of the source folder; true on success.
  bool WriteBlock(const QString& source, const QString& destination, const QString& name);

  // A configuration file waiting to be burnt with the next part (kept between commands).
  QString PendingConfig;
  // The drive kind of a destination (the run's classification); the burner settings dialog.
  std::function<int(const QString& path)> driveKind;
  std::function<void()> burnerSettings;
  std::function<uint32_t(const QString& path)> diskSpaceKb;

 private:
  TBurnCommands& burn_;
  IBackupDialogs& dialogs_;
  IBackupDisplay& display_;
};
