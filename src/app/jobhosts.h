// What opening, saving and modifying a job needs from the rest of the program. The settings
// side (option lists, settings files) and the window side (archive name, modes, runs) are kept
// apart so each can be implemented by the part that owns it; tests use fakes.
#pragma once

#include <QString>
#include <QStringList>

// The settings files and the option lists.
class IJobSettings {
 public:
  virtual ~IJobSettings() = default;
  // Loads a job's settings file (NAME.INI) into the window; may set the archive name. False
  // when the file names no archive ("Incorrect path" was shown and nothing was loaded).
  virtual bool LoadSettings(const QString& iniFile) = 0;
  // Writes the job part and "ZIPFILE" into iniFile. Throws std::system_error on failure.
  virtual void WriteSettings(const QString& iniFile) = 0;
  // "ProgramDIR" (true) or "BackupDIR" is checked in "JobDIR".
  virtual bool ProgramDirMode() const = 0;
  // Functions list item 0 "DateTimeStamp".
  virtual bool DateTimeStampChecked() const = 0;
  // The "DateTimeFormat" setting, 0-3.
  virtual int DateTimeFormat() const = 0;
  // "AutoRenameOnSize" is checked.
  virtual bool AutoRenameOnSize() const = 0;
  // "MinimizeOnLoad" is checked.
  virtual bool MinimizeOnLoad() const = 0;
  // Directory list item "Span Disks (use multiple disks)".
  virtual bool SpanDisks() const = 0;
  // The text of the maximum-size edit ("MaxSizeMb" or a number of MB).
  virtual QString MaxSizeText() const = 0;
  // Checks functions list item 2 "Unattended backup".
  virtual void SetUnattended(bool on) = 0;
  // The basic (not expert) view is on.
  virtual bool BasicView() const = 0;
  // Re-applies the directory list's rules.
  virtual void ReapplyDirectoryRules() = 0;
};

// The window's state and the operations of other subsystems.
class IJobWindow {
 public:
  virtual ~IJobWindow() = default;
  virtual QString ArchiveName() const = 0;
  // Part of the run's naming: appends ".zip" to a name without extension; "" clears it.
  virtual void SetArchiveName(const QString& name) = 0;
  virtual QString AutoRunFile() const = 0;
  virtual void SetAutoRunFile(const QString& file) = 0;
  virtual void Setstate(int mode) = 0;
  // The folder of the explorer tree's current item ("" when none).
  virtual QString ExplorerCurrentFolder() const = 0;
  // The explorer tree and list re-read the disk and show the store's ticks.
  virtual void RefreshExplorer() = 0;
  // Start of a job opening: enable the stealth list, reset the zip engine, remove the directory
  // monitors, clear the archive view.
  virtual void PrepareJobOpening() = 0;
  // The CTRL key is held (a plain open dialog instead of the recent-list one).
  virtual bool CtrlHeld() const = 0;
  // A run started by the scheduler is in progress.
  virtual bool ScheduledRunInProgress() const = 0;
  // The scheduler's job-file edit.
  virtual void SetSchedulerJobFile(const QString& file) = 0;
  // Shows the inner "ZIP" tab.
  virtual void ShowZipTab() = 0;
  // The backup run ("&WriteZIP") and stealth mode.
  virtual void RunBackup() = 0;
  virtual void StartStealth() = 0;
  // Ends the program (an automatic run that cannot go on).
  virtual void TerminateApplication() = 0;
  // The window is visible.
  virtual bool WindowVisible() const = 0;
  // Opens an archive in the archive view.
  virtual void OpenArchive(const QString& file) = 0;
  // The new-archive naming entered from "&Modify Job", keeping ticks and settings.
  virtual void ModifyJobNaming() = 0;
  // The burner: true when folder is the root of the disc in the burner; the engine's temporary
  // folder; burning a list of files as one new session.
  virtual bool IsBurnerRoot(const QString& folder) const {
    (void)folder;
    return false;
  }
  virtual QString TempFolder() const = 0;
  virtual void BurnFiles(const QStringList& files) { (void)files; }
};
