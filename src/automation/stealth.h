// Stealth mode, the hotkey backup and the instant backup.
//
// Stealth mode keeps a stealth archive up to date while the program sits in the tray: one folder
// monitor per watched folder reports added and modified files, and a few quiet seconds after the
// last change a pass adds what changed (files whose archive attribute is set). The instant backup
// collects folders handed over by a second instance and writes them together after a quiet spell.
// Both count down on the window's general timer; TStealth is given its ticks and talks to the
// window, the engine and the tray through IStealthHost, so tests drive it with a fake.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

#include "platform/dirmonitor.h"

// What the engine is set to for a stealth pass or an instant backup.
struct TStealthEngineSettings {
  // Only files whose archive attribute is set, cleared after storing (stealth); every file, the
  // attribute left alone (instant).
  bool archiveBitOnly = true;
  bool recurse = false;
  bool deleteSources = false;
  // The exclude lists are rebuilt from the grid; with this "*.zip" is added unless an EXCLUDE
  // cell already holds "*.ZIP".
  bool excludeZip = false;
  // Empty the exclude lists instead of building them from the grid.
  bool noExcludes = false;
};

class IStealthHost {
 public:
  virtual ~IStealthHost() = default;
  // Boxes go through the message-box module; the "Instant Backup" notice's Cancel is sent here.
  virtual QObject* NoticeCancelTarget() = 0;

  // --- Job and settings ---
  virtual QString ArchiveName() const = 0;
  // Refreshes the explorer tree and returns its ticked paths.
  virtual QStringList TickedPaths() = 0;
  virtual bool StealthExclZip() const = 0;
  virtual bool MonitorSubDirectories() const = 0;
  // The job's "Full Directories (recursion)": a ticked folder takes its sub-folders.
  virtual bool JobRecursion() const = 0;
  virtual bool MoveThenDelete() const = 0;
  virtual void SetStealthListEnabled(bool enabled) = 0;
  // The INCLUDE list of the engine.
  virtual void SetIncludeList(const QStringList& paths) = 0;
  // Checks "Add Versioning" in the functions list.
  virtual void CheckAddVersioning() = 0;
  virtual void SetAutoRunFile(const QString& file) = 0;
  virtual void SetArchiveName(const QString& name) = 0;

  // --- Engine ---
  // An archive operation is running (also an extraction or a test).
  virtual bool ArchiveBusy() const = 0;
  // The engine's archive exists and has entries.
  virtual bool ArchiveHasEntries() const = 0;
  virtual bool ArchiveExists() const = 0;
  virtual void ConfigureEngine(const TStealthEngineSettings& settings) = 0;
  // Opens the archive in the engine (it exists).
  virtual void OpenArchive() = 0;
  // Moves the archive's entries into a new version folder.
  virtual void MakeVersionFolder() = 0;
  // Adds files (paths or folder + "/*.*") to the archive. Returns "" or the error's text.
  virtual QString AddFiles(const QStringList& files) = 0;

  // --- Window, tray, timer ---
  virtual bool WindowHidden() const = 0;
  virtual void Minimise() = 0;
  // start: hint + " Stealth", icon 1, "Pause" shown, "Resume" hidden. stop: the window's hint,
  // icon 1, "Pause" hidden, "Resume" shown (only while the window is hidden).
  virtual void SetTrayStealth(bool running) = 0;
  virtual void TrayAnimation(bool on) = 0;
  virtual void ClearStatusBar() = 0;
  // Waits ms milliseconds while the event loop turns.
  virtual void Delay(int ms) = 0;
  virtual void StartGeneralTimer(int intervalMs) = 0;
  virtual void StopGeneralTimer() = 0;
  virtual bool GeneralTimerActive() const = 0;
  // The modifier keys held now; false for both where the platform cannot tell. They change only
  // what an instant backup says and whether it deletes, never what it stores.
  virtual bool ControlHeld() const = 0;
  virtual bool ShiftHeld() const = 0;
};

class TStealth {
 public:
  static constexpr const char* kNothingDefined =
      "You either have not clicked Define button and set filename\rand/or have not selected "
      "directories or files";
  static constexpr const char* kNoSuchDirectory =
      "No such directory exists. What do you want to do?";
  static constexpr const char* kFileMissing = "Above File does not exist";
  static constexpr const char* kSameDirectory =
      "Cannot monitor same directory as ZIP filename\r  When StealthExclZIP is unchecked";
  static constexpr const char* kExclZipQuestion = "Recommend leave checked (YES)";
  static constexpr const char* kAutoRenameQuestion =
      "AutoRenames to DateTimeFormat when filesize > 25Mb\r   Recommend leave checked (YES)";
  static constexpr int kTickMs = 1000;
  static constexpr int kQuietTicks = 5;  // the pass runs on the tick after these

  explicit TStealth(IStealthHost& host);
  ~TStealth();

  // Sends the monitors' batches to the Qt main thread as queued calls (the reader never waits
  // for them). The window installs this once at start.
  static void DeliverOnMainThread();

  // "Start": checks, builds the monitors, sets the engine up, minimises and starts watching.
  void StartStealth();
  void DirMonArrayStopStart(bool start);
  // Stops and removes every monitor (a new job, "Enable" off, closing).
  void FreeDirMonitors();
  // A monitor's report (main thread).
  void OnChange(const QString& path);
  // One tick of the general timer at 1000 ms.
  void Tick();
  void ResetGeneralTicks() { count_ = 0; }
  // One stealth pass; skipped (and the countdown started again) while an operation runs.
  void StealthNow();
  // The hotkey backup: inTray, the window sits in the tray; trayStealth, the tray stealth flag.
  void HotkeyBackup(bool inTray, bool trayStealth);
  // Instant backup: a handed-over path, the write when the countdown ran out, the clean-up.
  void AddInstantPath(const QString& path);
  void WriteInstantBackup();
  void IMgrTriggerCleanUp();

  // Menu items: each returns the new check mark (save it when it changed).
  bool ToggleEnabled(bool checked);
  bool ToggleExclZip(bool checked);
  bool ToggleAutoRename(bool checked);

  // True when path contains folder by whole components ("/data" contains "/data/bak", not
  // "/data2").
  static bool PathContains(const QString& path, const QString& folder);

  // State, for the window and tests.
  bool Running() const { return running_; }
  int MonitorCount() const { return static_cast<int>(monitors_.size()); }
  const TDirMonitor& Monitor(int i) const { return *monitors_[i]; }
  const QStringList& SavedList() const { return saved_; }
  const QStringList& InstantList() const { return instant_; }
  bool InstantFlag() const { return instantFlag_; }
  int ChangeCount() const { return count_; }
  int Passes() const { return passes_; }

 private:
  void CreateMonitor(const QString& path);
  void PrepareEngine(bool withMonitors, QStringList& fileList, const QStringList& ticked);
  void StealthExcludes(TStealthEngineSettings& s) const;
  // Whether stealth and hotkey passes descend into sub-folders: as the job selects, or as
  // "Monitor Sub Directories" watches.
  bool Recursion() const;
  void ArmCountdown();
  // A change of the stealth archive itself or of the engine's temporary beside it.
  bool OwnFile(const QString& path) const;
  void WriteFirst();

  IStealthHost& host_;
  std::vector<std::unique_ptr<TDirMonitor>> monitors_;
  bool running_ = false;
  QStringList saved_;
  QStringList instant_;
  bool instantFlag_ = false;
  QString instantArchive_;
  bool instantWasRunning_ = false;  // stealth ran when the collection began
  bool instantDelete_ = false;
  int count_ = 0;
  int passes_ = 0;
  bool inPass_ = false;
  bool changedInPass_ = false;
  bool firstWriteDue_ = false;
  bool writing_ = false;
};
