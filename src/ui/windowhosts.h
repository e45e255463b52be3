// The main window's answers to the host interfaces of the subsystems: one small adapter per
// interface, each over the window's widgets and MainContext. The window owns them and hands
// them to the subsystems it wires.
#pragma once

#include <QString>

#include "app/filedialoghost.h"
#include "app/helppages.h"
#include "app/mainwiring.h"
#include "app/optionhosts.h"
#include "app/startupseams.h"
#include "backup/backuphosts.h"
#include "restore/archiveviewhosts.h"

class TMainform;

// Start-up, hand-over and closing: the window's group, option lists, settings, jobs, recent
// jobs, the explorer and the archive engine of the run.
class TWindowStartup : public IStartupSeams {
 public:
  explicit TWindowStartup(TMainform& form) : form_(form) {}

  bool hintsShown() const { return hintsShown_; }

  int ScreenWidth() const override;
  void Maximise() override;
  bool WindowVisible() const override;
  void ShowWindow() override;
  void RaiseWindow() override;
  void SetWindowCaption(const QString& caption) override;
  void ShowBrowserTab() override;
  void SetTimePickerFormat(const QString& format) override;
  void OpenHelp(int context) override;
  QString TryOpenHelp(int context) override;
  void ShowStatusNote(const QString& note) override;
  void SetStartFolder(const QString& folder) override { startFolder_ = folder; }
  void HideToTrayMinimised() override;
  void SetHintsShown(bool on) override { hintsShown_ = on; }
  void SetThemesReleased(bool released) override;
  bool WindowIdle() const override;
  QString JobRefusal(const QString& job) override;
  void EnableExplorer() override;
  void FillGridDefaults() override;
  void ActivateExplorerTree() override;
  void ActivateExplorerList() override;
  void ExpandTreeToStart() override;
  void EnableArchiveView(bool on) override;
  void PrepareArchiveView() override;
  void SetArchiveName(const QString& name) override;
  void SetTrayEnabled(bool on) override;
  void StopGeneralTimer() override;
  // Stealth mode and the instant backup (TWindowStealth).
  bool AddInstantPath(const QString& path) override;
  void WriteInstantBackup() override;
  void IMgrTriggerCleanUp() override;
  void FreeDirMonitors() override;
  void ResetGeneralTicks() override;
  void StopSchedulerTimer() override;
  int SchedulerStage() const override;
  void SetSchedulerStage(int stage) override;
  void SetUpdateRevision(int revision) override;
  void Setstate(int mode) override;
  void INIfileIO(const QString& file) override;
  void INIcheckedMenuItem(const QString& key, bool checked) override;
  void OpenCbutton() override;
  void ClearRecentSlot() override;
  void LoadRecentList() override;
  void OpenRecent(const QString& file) override;
  void LinkListToTree() override;
  bool ArchiveBusy() const override;
  bool OperationPaused() const override;
  void ResumeOperation() override;
  void CancelOperation() override;
  void ClearSearchResults() override;
  QVector<BurnerDeviceInfo> ScanBurners() override;
  void StopBurner() override;

 private:
  TMainform& form_;
  QString startFolder_;
  bool hintsShown_ = true;
  THelpPages help_;
};

// What the subsystems ask of the window beyond controls and start-up. A feature that is not
// built yet (burning files) says so through a message box.
class TWindowMain : public IMainWindow {
 public:
  explicit TWindowMain(TMainform& form) : form_(form) {}

  QString ExplorerCurrentFolder() const override;
  bool CtrlHeld() const override;
  void ShowZipTab() override;
  void ShowSizeCount(const QString& count, const QString& total) override;
  void GaugeClear() override;
  bool ArchiveLoaded() const override;
  bool HasArchiveSearchResults() const override;
  bool ArchiveOnDirectRemovable() const override;
  void OpenArchive(const QString& file) override;
  bool ExeMode() const override;
  void SetAddToArchive(bool on) override;
  void StartStealth() override;
  int RunOnStartup() const override;
  void ModifyJobNaming() override;
  void BurnFiles(const QStringList& files) override;
  bool IsBurnerRoot(const QString& folder) const override;
  bool ScheduledRunInProgress() const override;

 private:
  TMainform& form_;
};

// The window modes' and expert view's changes beyond controls.
class TWindowModes : public IWindowModeHost {
 public:
  explicit TWindowModes(TMainform& form) : form_(form) {}

  void ShowExplorerCheckBoxes(bool show) override;
  void ClearArchiveSearchResults() override;
  void ResetGlobalSearchFlag() override;
  void ClearArchiveView() override;
  void ClearStatusBar() override;
  void ResetTrayStealthFlag() override;
  void SetTrayIconStatic() override;
  void SetZip64Highlighted(bool on) override;
  void SetGroupCaptionHighlighted(const QString& group, bool on) override;

 private:
  TMainform& form_;
};

// The scheduler's controls on the "Report /ZIP Comment && Scheduler" tab.
class TWindowScheduler : public ISchedulerControls {
 public:
  explicit TWindowScheduler(TMainform& form) : form_(form) {}

  void SetScheduleDays(int days) override;
  void SetScheduleTime(const QString& time) override;
  void SetScheduleFile(const QString& file) override;
  QString ScheduleFile() const override;
  void StartSchedulerTimer() override;

 private:
  TMainform& form_;
};

// The archive view's commands as they reach the window.
class TArchiveWindow : public restore::IArchiveWindow {
 public:
  // startup and modes answer what the archive view shares with start-up and the window modes.
  TArchiveWindow(TMainform& form, IStartupSeams& startup, IWindowModeHost& modes)
      : form_(form), startup_(startup), modes_(modes) {}

  void Setstate(int mode) override;
  void SetArchiveName(const QString& name) override;
  void Clearchecks() override;
  void GaugeStart() override;
  void GaugeStop() override;
  void SetZip64Highlighted(bool on) override;
  void ShowArchiveNote(const QString& note) override;
  void SetCommentText(const QString& comment) override;
  void ResetSearchBox() override;
  void ShowArchivePage() override;
  void FlashArchiveTab() override;
  void ShowZipspecs(const QString& name, int count, uint64_t totalSize) override;
  bool ProcessMessages() override;
  QString ExplorerSelectedFolder() const override;
  bool CtrlHeld() const override;
  QString TakePickedRecentFile() override;
  QString RecentFileOpen(const FileDialogSpec& spec) override;
  void RecordRecentFile(const QString& file) override;
  void OpenJob(const QString& file) override;

 private:
  TMainform& form_;
  IStartupSeams& startup_;
  IWindowModeHost& modes_;
  int tabFlashes_ = 0;
};

// Passes the view's questions on to the archive search (made after the view; until then, and
// after it is gone, the view shows no results).
class TSearchResultsForwarder : public restore::ISearchResultsView {
 public:
  restore::ISearchResultsView* target = nullptr;
  bool SearchResultsShown() const override { return target && target->SearchResultsShown(); }
  bool ResultEntry(int record, QString& archive, int& entry) const override {
    return target && target->ResultEntry(record, archive, entry);
  }
};

// The backup run's end: "Verify backup" runs the archive test of the window.
class TWindowBackupSeams : public IBackupSeams {
 public:
  explicit TWindowBackupSeams(TMainform& form) : form_(form) {}
  TVerifyResult VerifyArchive(const QString& name, const std::string& password) override;
  // The drive kind through the window's volume service.
  int GetDriveTypeEx(const QString& path) override;
  // The burner settings dialog, when a disc run finds no writer set.
  void CDBurner1Click() override;

 private:
  TMainform& form_;
};

// Passes the dialogs on to the current dialog host (Qt's unless a test replaced it).
class TDialogForwarder : public IFileDialogHost {
 public:
  IFileDialogHost* target = nullptr;
  QString OpenFile(const FileDialogSpec& spec) override { return target->OpenFile(spec); }
  QString SaveFile(const FileDialogSpec& spec) override { return target->SaveFile(spec); }
};

// Passes "Open" on to the current launcher (Qt's unless a test replaced it).
class TDesktopForwarder : public restore::IDesktopLauncher {
 public:
  restore::IDesktopLauncher* target = nullptr;
  bool OpenFile(const QString& path, const QString& dir) override {
    return target->OpenFile(path, dir);
  }
};
