// The window's side of disc writing: the burner settings, checking the disc in the writer for
// room, erasing rewritable discs, burning a list of files and folders as one new session, the
// progress of a burn, and the commands of the "&CD/CDRW properties", "EraseCDRW" and
// "Copy2Burner" menu items.
//
// Everything runs on the main thread over the program's one burner (MainContext::Burner). The
// burner's threads report back through OnWriteDone/OnEraseDone, posted to the event loop; the
// waiting loops here process events until they have come. Questions go through the message
// boxes, so every command runs headless against the scripted host and an emulated drive.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <string>

#include "backup/backuphosts.h"

class IDiskService;
class TDiscBurner;
class TPreferences;
struct TDisc;

namespace burnmsg {
inline constexpr const char* kNotFound =
    "Burner Device not found\rIf CDwriter exists, please set under Options";
inline constexpr const char* kNoDisk = "Invalid or no disk";
inline constexpr const char* kOnlyFree = "Burner has only ";
inline constexpr const char* kOnlyFreeTail = " Mb free\r\nOK to continue, RETRY, or CANCEL";
inline constexpr const char* kDiskHas = "Disk has ";
inline constexpr const char* kDiskHasTail = "Mb free: ";
inline constexpr const char* kNoSpace = "Disk has no space: ";
inline constexpr const char* kEraseAsk = "CONTINUE as is, ERASE CDRW, or CANCEL";
inline constexpr const char* kNotErasableReplace = "Disk not Erasable\rreplace with another";
inline constexpr const char* kNotReady = "Disc not ready";
inline constexpr const char* kNotErasable = "Disc not erasable";
inline constexpr const char* kProceed =
    "Erasure clears CDRW of all data;\rincluding format - Proceed?";
inline constexpr const char* kErased = "Erased Successfully";
inline constexpr const char* kEraseFailed = "Erase failed";
inline constexpr const char* kExistsErase = " already exists\rEraseDisc=OK or CANCEL";
inline constexpr const char* kExistsReplace = " already exists\rreplace disk=OK or CANCEL";
inline constexpr const char* kInsufficient = "INSUFFICIENT Disc space. Need:";
inline constexpr const char* kAvailable = "KB ,  AVAILABLE ";
inline constexpr const char* kAction = "\r Action: ERASE or RETRY(Replace disk)?";
inline constexpr const char* kUndefined = "Undefined Burner Error";
inline constexpr const char* kMounted = "DISC IS MOUNTED AND COULD NOT BE UNMOUNTED";
// A path that could not be put on the disc in full (the burn is not started).
inline constexpr const char* kNotAdded = "NOT PUT ON THE DISC: ";
inline constexpr const char* kErasing = "          Erasing Disk.........";
inline constexpr const char* kBurning = "          Burning Disk.........";
inline constexpr const char* kFinalizing = "          Finalizing Disk.........";
inline constexpr const char* kClosing = "          Closing Disk.........";
inline constexpr const char* kJobNotSaved = "Job not saved to disc: ";
inline constexpr const char* kBusy =
    "The disc writer is busy: wait until the burn, the erase or the backup to disc has ended";
inline constexpr const char* kAborting = "          Aborting Burn.........";
// A rewritable disc holding another file system: overwrite it or keep it.
inline constexpr const char* kForeign = "The disc holds another file system (";
inline constexpr const char* kForeignTail =
    ").\rBurning overwrites all of it: what it holds is lost.";
inline constexpr const char* kForeignKept = "THE DISC HOLDS ANOTHER FILE SYSTEM: NOT OVERWRITTEN";
inline constexpr const char* kCopyFailed = "Not copied to the disc: ";
// What a burn recorded otherwise than it was given (names, links left out).
inline constexpr const char* kNotices = "Burnt, with these changes:";
}  // namespace burnmsg

// The six program-wide burner settings (section "Options" of "default.ini"), and the Rock Ridge
// switch, which only the file sets.
struct TBurnerSettings {
  QString burner;  // the writer's device id
  QString drive;   // the writer's root, "/dev/srN/"
  int speed = 0;   // kB/s as the drive reports it; 0 the maximum
  bool finalise = false;
  bool native = true;
  bool sizingAuto = true;
  // "BurnerRockRidge" (read when present, default on): Rock Ridge in the discs' ISO tree, off for
  // readers that choke on it.
  bool rockRidge = true;

  static TBurnerSettings Read(const TPreferences& prefs);
};

// Writes the six keys into the default settings file in one atomic save and takes them into
// memory; false (told in a box) when the file could not be written, memory unchanged then.
bool SaveBurnerSettings(TPreferences& prefs, const TBurnerSettings& settings);

// The number at the start of a speed entry ("7056X (1,058,400 KB/s)" gives 7056; "Max" 0).
int SpeedOfEntry(const QString& entry);
// The speed entry of a drive speed in kB/s: "7056X (1,058,400 KB/s)", "08X (1,200 KB/s)".
QString SpeedEntry(int kbs);
// The entries a drive settles on, highest first, after "Max": the drive is set to s and its
// current speed V read back; the next try is min(s, V) - 1. Gives the same set as trying every
// speed from the maximum down to 1.
QStringList ProbeSpeeds(int maxSpeed, const std::function<int(int)>& setAndRead);

// The screen's part of burning; every operation has a default that does nothing.
class IBurnDisplay {
 public:
  virtual ~IBurnDisplay() = default;
  virtual void SetGaugePosition(int) {}
  virtual int GaugePosition() const { return 0; }
  // The gauge in the burning colour (green) or back in its own.
  virtual void SetGaugeGreen(bool) {}
  // The activity panel (upper bar, active file).
  virtual void SetActivity(const QString&) {}
  virtual void SetTrayHint(const QString&) {}
  virtual QString TrayTitle() const { return QStringLiteral("Arcavo"); }
  virtual void DiscAnimation(bool) {}
  virtual void TrayAnimation(bool) {}
  // The "Pause" menu item's caption ("Abort" while a burn runs).
  virtual void SetPauseCaption(const QString&) {}
  virtual void ClearStatusBar() {}
  // The drive kind of a mounted folder (0 other, 2 writable disc, 3 removable), for
  // "Copy2Burner" onto a drive that is a folder; and the shell copy into it.
  virtual bool CopyInto(const QStringList& /*paths*/, const QString& /*folder*/) { return false; }
  // The commands that reach the writer: disabled (true) while a burn or an erase runs.
  virtual void SetBurnerBusy(bool) {}
};

class TBurnCommands {
 public:
  TBurnCommands(TDiscBurner& burner, TPreferences& prefs, IBurnDisplay& display);
  ~TBurnCommands();
  TBurnCommands(const TBurnCommands&) = delete;
  TBurnCommands& operator=(const TBurnCommands&) = delete;

  TDiscBurner& Burner() { return burner_; }
  TBurnerSettings Settings() const;
  // A writer and its drive are set.
  bool Configured() const;

  // ---- The settings dialog ----
  // The drives of the last enumeration, each once.
  QStringList Devices();
  // The speed entries of a drive ("Max" first).
  QStringList SpeedList(const QString& device);
  // "Save": the writer, its root, the speed of the chosen entry and the switches, stored
  // together. An empty device stores an empty writer and root.
  bool SaveChoice(const QString& device, const QString& speedEntry, bool finalise, bool native,
                  bool sizingAuto);
  // The first-run scan: the first drive that writes CD-R becomes the writer and the six keys
  // are written; false (and the writer left unset) when there is none.
  bool ScanForWriter(TBurnerSettings& found);

  // ---- Transport ----
  bool EnsureTransport();
  void ReleaseTransport();
  // Selects the stored writer; false when it is not among the drives found.
  bool SelectStored();

  // ---- Drives ----
  // "/dev/srN/..." names a path on the disc in drive srN: kind 1, or 2 when the disc is mounted
  // for writing; -1 for any other path.
  static int DiscTargetKind(const QString& path);
  // The folder is the writer's root.
  bool IsBurnerRoot(const QString& folder) const;
  // The type name of the disc in the writer ("CD-R", "DVD+RW", ...).
  QString DiscTypeName();

  // ---- Disc checks ----
  // Fills disc for the stored writer; "Invalid or no disk" when there is none.
  bool DiskCheck(TDisc& disc);
  TCDtypes GetCDDetails(const QString& drive = QString());
  // Free space when the disc may be written (megabytes x 1000), 0 drive not ready, 13 the user
  // cancelled.
  int64_t CheckCDHasSize(const TCDtypes& disc);

  // ---- Erasing ----
  enum class TErase { Continued, Erased, Failed, Cancelled };
  // With ask the user chooses between going on, erasing and cancelling; without, the disc is
  // erased. Failed: the erase was refused or ended with an error.
  TErase EraseDisk(bool ask, bool quick);

  // ---- Burning ----
  // Burns files and folders as one new session; true on success. LastBurnError says why not
  // (empty when the drive never became ready or the user cancelled). Refused while another
  // burn or an erase runs.
  bool BurnFiles(const QStringList& paths);
  QString LastBurnError;
  // What the last burn recorded otherwise than given: "path: what happened" (names changed or
  // shortened on the disc, links to nothing left out).
  QStringList BurnNotices;

  // ---- One user of the writer at a time ----
  // A burn or an erase runs, or a backup to disc (runBusy) is on.
  bool Busy() const;
  // Tells the user the writer is busy and returns true when it is; menu commands call it first.
  bool RefusedWhileBusy() const;
  std::function<bool()> runBusy;

  // ---- Menu commands ----
  void EraseCDRW1Click(bool quick);
  void CDproperties1Click();
  // "Copy2Burner": the selection onto the writer's drive.
  void SFTburn1Click(const QStringList& selection);

  // ---- Completion and progress ----
  void BurnerWriteDone(const std::string& error);
  void BurnerEraseDone(bool withError);
  // The 250 ms tick while a burn or erase runs: gauge and tray hint.
  void Timer1Tick();
  bool Timer1Running() const { return timer1_; }
  // Esc, the "Abort" button, the run's cancel: a running burn stops at its next block. Returns
  // at once; the burn winds down while the window shows it.
  void AbortWrite();
  bool Burning() const { return burning_; }
  // Closing: abort, wait for the writer to end and release.
  void StopBurner();

  // The desktop's disk service that unmounts a mounted disc before a burn or erase; null: none
  // (a mounted disc is then refused).
  IDiskService* disks = nullptr;
  // Where the mount table is read (tests give a folder of their own).
  std::string procRoot = "/proc";
  // How long one wait step may take; tests shorten it.
  int waitSliceMs = 20;

 private:
  // Unmounts the disc of the writer when it is mounted; false when it stays mounted.
  bool Unmount();
  // Waits for up to rounds TEST UNIT READY; true once the drive answers.
  bool WaitUnitReady(int rounds);
  // Processes events until Timer1 stops, ticking it every 250 ms.
  void WaitForTimer();
  // Adds the paths to the image from the last to the first; false when stopped.
  bool AddPaths(const QStringList& paths);
  bool SizeCheck();
  // A rewritable disc with another file system: true when it may be overwritten (asked).
  bool ForeignAgreed();
  // Burner and erase running (not the run).
  bool WriterBusy() const;
  void SetBusy(bool busy);
  QString Drive() const;

  TDiscBurner& burner_;
  TPreferences& prefs_;
  IBurnDisplay& display_;
  bool timer1_ = false;
  bool burning_ = false;
  bool eraseError_ = false;
  bool finishing_ = false;
};
