// What start-up, hand-over and closing ask of the other subsystems and of the window.
//
// Every operation has a harmless default, so start-up and close work before the subsystems
// exist; each subsystem overrides its own group (the window overrides the window group).
#pragma once

#include <QString>
#include <QVector>

// A disc writer found by the first-run scan.
struct BurnerDeviceInfo {
  QString name;
  QString drive;  // the device path, e.g. "/dev/sr0"
  int writeSpeed = 0;
  bool finalize = false;
  bool canWrite = true;
};

class IStartupSeams {
 public:
  virtual ~IStartupSeams() = default;

  // --- Window ---
  virtual int ScreenWidth() const { return 1280; }
  virtual void Maximise() {}
  virtual bool WindowVisible() const { return true; }
  virtual void ShowWindow() {}
  // A later start by hand: the window back from the task bar and in front (a window in the
  // tray stays there).
  virtual void RaiseWindow() {}
  virtual void SetWindowCaption(const QString&) {}
  virtual void ShowBrowserTab() {}
  virtual void SetTimePickerFormat(const QString&) {}
  virtual void OpenHelp(int /*context*/) {}
  // Opens the help at section context without a box: "" when it is shown, otherwise why not
  // and where the help is. For starts that must not wait for anyone.
  virtual QString TryOpenHelp(int context) {
    OpenHelp(context);
    return {};
  }
  // A line for the user in the status bar: what the start could not do, why a job handed over
  // did not run. Never a box: nothing waits for an answer.
  virtual void ShowStatusNote(const QString&) {}
  // The open dialog and the explorer tree start in this folder.
  virtual void SetStartFolder(const QString&) {}
  virtual void HideToTrayMinimised() {}
  // Switches the application-wide showing of hints.
  virtual void SetHintsShown(bool) {}
  // Themes off: plain drawing now; on: the tree draws theme-aware again.
  virtual void SetThemesReleased(bool) {}
  // True when nothing waits for the user and no handler is running: no modal dialog or box is
  // open and no nested event loop turns. A job handed over meanwhile waits for this.
  virtual bool WindowIdle() const { return true; }

  // --- Explorer tree and list, inclusion grid ---
  virtual void EnableExplorer() {}
  virtual void LinkListToTree() {}
  virtual void RegisterChangeNotify() {}
  virtual void StopChangeNotify() {}
  virtual void FillGridDefaults() {}
  // First show: refresh and activate the tree, then the list.
  virtual void ActivateExplorerTree() {}
  virtual void ActivateExplorerList() {}
  virtual void ExpandTreeToStart() {}

  // --- Option lists, window modes and settings ---
  virtual void Setstate(int /*mode*/) {}
  // Loads a settings file; "" loads ProgramDir + "default.ini".
  virtual void INIfileIO(const QString& /*file*/) {}
  // Saves one menu item's check mark under key in the default settings file.
  virtual void INIcheckedMenuItem(const QString& key, bool checked);

  // --- Jobs and recent jobs ---
  virtual void OpenCbutton() {}
  // Why a job handed over could not run ("" when it can): a missing file, a file that is not a
  // job, a job that ticks nothing, settings that name no archive.
  virtual QString JobRefusal(const QString& /*job*/) { return {}; }
  virtual void ClearRecentSlot() {}
  virtual void LoadRecentList() {}
  // Opens a file named on the command line through the recent-job handler.
  virtual void OpenRecent(const QString&) {}

  // --- Archive engine and archive view ---
  virtual void SetupEngine() {}
  virtual bool ArchiveBusy() const { return false; }
  virtual bool OperationPaused() const { return false; }
  virtual void ResumeOperation() {}
  virtual void CancelOperation() {}
  // Makes path the current archive (name and status bar).
  virtual void SetArchiveName(const QString&) {}
  virtual void EnableArchiveView(bool) {}
  // First show: automatic expansion, sorting, tri-state tracking and images.
  virtual void PrepareArchiveView() {}
  virtual void ClearSearchResults() {}

  // --- Disc writer ---
  // Scans for devices; throws std::exception when the scan fails.
  virtual QVector<BurnerDeviceInfo> ScanBurners() { return {}; }
  virtual void StopBurner() {}

  // --- Stealth and instant backup, general timer ---
  // Adds a handed-over path to the instant backup; false when there is no instant backup to
  // take it (the hand-over is then refused, not dropped).
  virtual bool AddInstantPath(const QString&) { return false; }
  virtual void WriteInstantBackup() {}
  virtual void IMgrTriggerCleanUp() {}
  virtual void FreeDirMonitors() {}
  virtual void StopGeneralTimer() {}
  virtual void ResetGeneralTicks() {}

  // --- Scheduler ---
  virtual int SchedulerStage() const { return 0; }
  virtual void SetSchedulerStage(int) {}
  virtual void StopSchedulerTimer() {}

  // --- Tray and update check ---
  virtual void SetTrayEnabled(bool) {}
  virtual void SetMinimiseToTray(bool) {}
  virtual void SetUpdateRevision(int) {}
};
