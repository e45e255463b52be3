// What the option rules, window modes and settings files need from the rest of the program.
// Each subsystem that owns one of these states implements its part; tests use fakes.
#pragma once

#include <QString>
#include <optional>

// State and actions of other subsystems that the option rules and the settings loader use.
class IOptionEnvironment {
 public:
  virtual ~IOptionEnvironment() = default;
  // The zip engine has an archive loaded (update/refresh need one).
  virtual bool ArchiveLoaded() const = 0;
  // A backup run is active.
  virtual bool RunInProgress() const = 0;
  // The archive search has results.
  virtual bool HasArchiveSearchResults() const = 0;
  // The selection's measured size in MB when one is shown in the size calculator.
  virtual std::optional<double> MeasuredSizeMb() const = 0;
  virtual void SetSizeCalcText(const QString& text) = 0;
  // The main window has been shown once.
  virtual bool WindowShown() const = 0;
  // The current archive lies on a removable disk or CD drive that can be written directly.
  virtual bool ArchiveOnDirectRemovable() const = 0;
  // The explorer tree and list show hidden items.
  virtual void ShowHiddenItems(bool show) = 0;
  // The current archive name ("" when none) and its setter (appends ".zip" when the name has no
  // extension and updates the status bar).
  virtual QString ArchiveName() const = 0;
  virtual void SetArchiveName(const QString& name) = 0;
  // Self-extracting mode ("&NewEXE").
  virtual bool ExeMode() const = 0;
  // The add-to-archive flag of the backup run.
  virtual void SetAddToArchive(bool on) = 0;
  // The file the program runs without the user ("" when interactive).
  virtual QString AutoRunFile() const = 0;
  // Ends the application (an automatic run that cannot go on).
  virtual void TerminateApplication() = 0;
  // The start-up registration: 0 none, 1 ordinary start with the log-on, 2 stealth start.
  virtual int RunOnStartup() const = 0;
};

// What the window modes and the expert view change beyond enabling, showing and captions.
class IWindowModeHost {
 public:
  virtual ~IWindowModeHost() = default;
  virtual void ShowExplorerCheckBoxes(bool show) = 0;
  virtual void ClearArchiveSearchResults() = 0;
  virtual void ResetGlobalSearchFlag() = 0;
  virtual void ClearArchiveView() = 0;
  virtual void ClearStatusBar() = 0;
  virtual void ResetTrayStealthFlag() = 0;
  virtual void SetTrayIconStatic() = 0;
  // The "ZIP64" label: highlighted (as when an open archive needs it) or grey and not bold.
  virtual void SetZip64Highlighted(bool on) = 0;
  // A group's caption: bold red (the chosen view) or in the plain window-text colour.
  virtual void SetGroupCaptionHighlighted(const QString& group, bool on) = 0;
};

// The scheduler's controls, filled from section "Scheduled" of the default file.
class ISchedulerControls {
 public:
  virtual ~ISchedulerControls() = default;
  // days: Sunday 1, Monday 2, ..., Saturday 64.
  virtual void SetScheduleDays(int days) = 0;
  virtual void SetScheduleTime(const QString& time) = 0;
  virtual void SetScheduleFile(const QString& file) = 0;
  virtual QString ScheduleFile() const = 0;
  virtual void StartSchedulerTimer() = 0;
};

// The inclusion grid's cells as the settings files store them: columns 0-2 (INCLUDE, EXCLUDE,
// NOCOMP), rows 1 to RowCount()-1 (row 0 is the header).
class IGridCells {
 public:
  virtual ~IGridCells() = default;
  virtual int RowCount() const = 0;
  virtual QString Cell(int col, int row) const = 0;
  virtual void SetCell(int col, int row, const QString& text) = 0;
  // Repainting is suspended between these while many cells change.
  virtual void BeginUpdate() {}
  virtual void EndUpdate() {}
};
