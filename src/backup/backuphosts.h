// What the backup run and the archive naming ask of the window and of the subsystems that are
// built around them (disc writing, spanning, post-backup actions, the archive test).
//
// Every operation has a default, so the run works headless and before those subsystems exist;
// a default never reports an action as done that was not done. The window overrides the display
// group, each subsystem its own group.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <string>
#include <vector>

// Names of the controls the run switches through IControlHost (the widgets' objectNames).
namespace bctl {
inline constexpr const char* kWriteButton = "WriteZbtn";            // button bar "&WriteZIP"
inline constexpr const char* kBasicWriteButton = "BasicWriteZbtn";  // "Basic" group "&WriteZIP"
inline constexpr const char* kSizeCalcButton = "SizeCalcBtn";
inline constexpr const char* kTrayPauseItem = "TrayPause1";
inline constexpr const char* kTrayResumeItem = "TrayResume1";
// The menu items that reach the disc writer, disabled while a burn or an erase runs.
inline constexpr const char* kWriterItems[] = {"BurnerSettings1", "MoveBlocks1", "EraseCDRW1",
                                               "Quick1",          "Full1",       "CDproperties1",
                                               "Burn1",           "SFTburn1"};
}  // namespace bctl

// The disc in the burner drive, as the disc layer reports it.
struct TCDtypes {
  int Kind = 0;          // 1 cannot be erased, 2 erasable
  QString Drive;         // the writer's root ("/dev/srN/")
  int64_t FreeK = 0;     // free megabytes x 1000
  int64_t Capacity = 0;  // in sectors
  bool Ready = false;
  QString TypeName;  // the medium's type name ("CD-R", "DVD+RW", ...)
};

// The window: status bars, gauge, cursor, tray, report box, run-time state it owns.
class IBackupDisplay {
 public:
  virtual ~IBackupDisplay() = default;

  // --- Status bars and gauge ---
  // Upper bar, archive panel ("ZipFile: " + name or "ZipFile: <none>").
  virtual void SetArchivePanel(const QString&) {}
  // Both bars back to their idle texts.
  virtual void ClearStatusBar() {}
  // A line for the user in the status bar (what a command did without asking).
  virtual void StatusNote(const QString&) {}
  virtual void GaugeClear() {}
  // The gauge's moving (indeterminate) style or its percentage style.
  virtual void GaugeMoving() {}
  virtual void GaugePercent() {}
  // The disc picture of the lower bar: animated, or still on picture 1.
  virtual void DiscAnimation(bool) {}
  // The hourglass cursor while a run prepares; false restores the normal cursor.
  virtual void SetBusyCursor(bool) {}
  // A button's caption in red bold (true) or in the window-text colour, regular (false).
  virtual void SetControlAlarm(const QString& /*control*/, bool) {}

  // --- Tray ---
  // The window is minimised to the tray (hidden).
  virtual bool WindowHidden() const { return false; }
  virtual bool TrayIconShown() const { return false; }
  virtual void TrayAnimation(bool) {}
  virtual void TrayIcon(int) {}

  // --- Report box (also the run's scratch list) ---
  virtual void ReportClear() {}
  virtual void ReportAdd(const QString&) {}
  virtual int ReportLineCount() const { return 0; }
  virtual void ReportSuspend(bool) {}

  // --- Selection ---
  // Full paths of the explorer tree's highlighted items.
  virtual std::vector<std::string> HighlightedPaths() const { return {}; }

  // --- Scheduler timer ---
  virtual void StopSchedulerTimer() {}
  virtual void StartSchedulerTimer() {}
};

// Program state the run reads and ends: the automatic run and the program's end.
class IBackupProgram {
 public:
  virtual ~IBackupProgram() = default;
  virtual QString AutoRunFile() const { return {}; }
  virtual void SetAutoRunFile(const QString&) {}
  // A line the automatic run's report gives after its first (a scheduled run caught up after
  // its time was missed says so); "" for none.
  virtual QString AutoRunNote() const { return {}; }
  // The end-of-run action of the automatic run, lower-cased ("close", "hibernate", "shutdown";
  // "").
  virtual QString ActionArg() const { return {}; }
  // Ends the program with exitCode once the run has finished its remaining steps.
  virtual void RequestTerminate(int /*exitCode*/) {}
  // Window modes (Setstate 0-3).
  virtual void Setstate(int) {}
  // The archive name the rest of the program set (nullopt: none kept outside the run); a run
  // starts from it.
  virtual std::optional<QString> ArchiveName() const { return std::nullopt; }
  // The archive name changed (the window's copy follows the engine's ZipName).
  virtual void ArchiveNameChanged(const QString&) {}
  // A run started or ended (RunInProgress) or counting-only mode changed.
  virtual void RunStateChanged(bool /*runInProgress*/, bool /*sizeCalcMode*/) {}
};

// The dialogs of the run and of the naming.
class IBackupDialogs {
 public:
  virtual ~IBackupDialogs() = default;
  // The password dialog ("Password Dialog"), modal: the text of its first edit when closed by
  // OK, nullopt when cancelled, closed otherwise or never shown (nobody there to answer). It
  // closes only when both edits agree (see TPasswordCheck).
  virtual std::optional<QString> ShowPasswordDialog() = 0;
  // A folder browser with that title; "" when cancelled.
  virtual QString BrowseFolder(const QString& title) = 0;
};

// The outcome of the archive test a run asks for ("Verify backup").
struct TVerifyResult {
  enum Outcome { Unavailable, Passed, Failed };
  Outcome outcome = Unavailable;
  QString text;  // the test's closing message, as shown
};

// Subsystems built by later work; the defaults are what the run does without them.
class IBackupSeams {
 public:
  virtual ~IBackupSeams() = default;

  // --- Drives (removable media) ---
  // 0 fixed/network/other, 1 optical not writable by the file system, 2 optical writable,
  // 3 removable.
  // The drive of the path as the system's mount table and block devices tell it.
  virtual int GetDriveTypeEx(const QString& path);

  // --- Disc writing (staging of a disc backup) ---
  virtual bool BurnerConfigured() const { return false; }
  virtual void CDBurner1Click() {}
  virtual TCDtypes GetCDDetails() { return {}; }
  // Free megabytes x 1000 when the disc may be written; 0 not ready, 13 cancelled.
  virtual int64_t CheckCDHasSize(const TCDtypes&) { return 0; }
  virtual bool BurnerNative() const { return false; }
  virtual bool BurnerSizingAuto() const { return true; }
  // The burner drive's root (mount point) and whether the archive is on it.
  virtual QString BurnerDriveRoot() const { return {}; }
  virtual void AbortWrite() {}
  virtual void ReleaseTransport() {}
  // Opens the door of the burner drive at root (its device node "/dev/sr0/" or a folder on the
  // mounted disc), unmounting the disc first. True when the door opened; false, with the reason
  // in why when asked for, when it did not.
  virtual bool OpenCD(const QString& root, QString* why = nullptr);

  // --- Post-backup actions ---
  // The report file of a finished run (written when the run is unattended or
  // "FullBackupReport" is checked). requested is the archive name the run was started with.
  virtual void WriteReportFile(const QString& /*requested*/) {}
  // Hibernates the machine through logind; true once it came back, false with the reason when it
  // was not hibernated. After one failed hibernation later ones fail at once (the caller shuts
  // down instead). interactive: a user is there to answer the desktop's password question.
  virtual bool Hibernate(bool interactive, QString& reason);
  // Powers the machine off through logind; true when the shutdown is under way, false with the
  // reason when it is not.
  virtual bool Shutdown(bool interactive, QString& reason);
  // Sets a restore point (snapper); returns its message, and whether the point was set.
  virtual QString SetRestorePoint(const QString& name, bool& set);
  // The archive test of the new archive, with the password it was written with; shows the
  // test's closing message and returns it with the outcome. Unavailable: no archive test (the
  // run's own closing message then says that nothing was verified).
  virtual TVerifyResult VerifyArchive(const QString& /*name*/, const std::string& /*password*/) {
    return {};
  }

 private:
  bool hibernationFailed_ = false;
};
