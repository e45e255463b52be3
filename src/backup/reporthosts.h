// What the progress and report handlers ask of the window and of the backup run.
//
// The status-bar panels are captions of named controls (IControlHost); the gauge, the disc
// picture, the tray icon and the report box have their own small interfaces here, so every
// handler runs headless: tests use TReportLines (reportbox.h) and a recording progress host.
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

// Names of the controls the handlers address through IControlHost (the widgets' objectNames).
namespace rctl {
// Upper status bar: 0 size calculator, 1 spacer, 2 process time, 3 archive name, 4 active file.
inline constexpr const char* kProcessTimePanel = "StatusProcessTime";
inline constexpr const char* kZipFilePanel = "StatusZipFile";
inline constexpr const char* kActiveFilePanel = "StatusActiveFile";
// Lower status bar: 0 disc picture, 1 file count, 2 total size, 3 gauge.
inline constexpr const char* kCountPanel = "StatusCount";
inline constexpr const char* kTotalSizePanel = "StatusTotalSize";
// The report box's buttons and popup items, the "FullBackupReport" item.
inline constexpr const char* kSaveCommentButton = "SaveCommentBtn";
inline constexpr const char* kReportToZipButton = "ReportToZIPBtn";
inline constexpr const char* kWordWrapItem = "WordWrap1";
// Tray menu items shown while an operation runs with the window hidden.
inline constexpr const char* kTrayPauseItem = "TrayPause1";
inline constexpr const char* kTrayResumeItem = "TrayResume1";
// The "Date Range" group's radio buttons.
inline constexpr const char* kDateFilterBefore = "DateFilterBefore";
inline constexpr const char* kDateFilterAfter = "DateFilterAfter";
}  // namespace rctl

// The rich-text box of "Report/ZIP comment" as a list of lines.
class IReportBox {
 public:
  virtual ~IReportBox() = default;
  virtual void Clear() = 0;
  // Appends text as new lines: every CR LF, CR or LF inside it starts a new line, so a text
  // ending in a line break leaves an empty line after it.
  virtual void Add(const QString& text) = 0;
  virtual QStringList Lines() const = 0;
  // Replaces the content with these lines.
  virtual void SetLines(const QStringList& lines) = 0;
  // Scrolls so that the caret (at the end) is visible.
  virtual void ScrollToCaret() {}
  // Rich-text mode (the start) or plain-text mode (after the first report file).
  virtual void SetPlainText(bool) {}
  virtual void SetWordWrap(bool) {}
  virtual void SetReadOnly(bool) {}
  // Whether Enter inserts a line break (while a comment is edited).
  virtual void SetWantReturns(bool) {}
  virtual void SetHint(const QString&) {}
};

// The gauge, the disc picture, the tray icon and the window's pages.
class IProgressHost {
 public:
  virtual ~IProgressHost() = default;
  // The gauge: percentage style (position 0..100, speed 0) or moving style (speed 4).
  virtual void SetGaugeMoving(bool moving) = 0;
  virtual void SetGaugePosition(int percent) = 0;
  // The disc picture of the lower bar: animated, or still on picture 1.
  virtual void DiscAnimation(bool) {}
  virtual void SetNormalCursor() {}
  // Tray icon: shown at all, its animation, a still picture (0 waiting, 1 idle), its hint.
  virtual bool TrayIconShown() const { return false; }
  virtual void TrayAnimation(bool) {}
  virtual void TrayIcon(int) {}
  virtual void SetTrayHint(const QString&) {}
  // The main window is hidden (minimised to the tray).
  virtual bool WindowHidden() const { return false; }
  // The "Make" tab and its inner tab "Report /ZIP Comment && Scheduler" become active.
  virtual void ShowReportPage() {}
  // A button's caption in red bold (true) or in the window-text colour, regular (false).
  virtual void SetControlAlarm(const QString& /*control*/, bool) {}
  // Highlights tab index of the inner page control ("Make": "ZIP", "Report ...") or of the main
  // page control ("Browser", "Make", "Archive").
  virtual void SetTabHighlight(bool /*inner*/, int /*index*/, bool /*on*/) {}
  // The date picker of the "Date Range" group.
  virtual QDateTime DatePickerValue() const { return {}; }
};

// The run's state and the operations of other subsystems the handlers call. The defaults are
// what happens without them.
class IReportSeams {
 public:
  virtual ~IReportSeams() = default;
  // --- Run state (the backup run) ---
  virtual bool SizeCalcMode() const { return false; }
  virtual bool RunInProgress() const { return false; }
  virtual bool CdStaging() const { return false; }
  // The mail/browser preset that selected the files (0 none, 1-4).
  virtual int PresetKind() const { return 0; }
  // An entry deletion (archive maintenance) is running: no report lines per file.
  virtual bool DeletingEntries() const { return false; }
  // A search through a folder of archives is running.
  virtual bool GlobalSearchRunning() const { return false; }
  // --- The size calculator ---
  // A counting-only run stopped: its count, bytes and size in MB (1,000,000 bytes).
  virtual void SizeCounted(int /*numFiles*/, int64_t /*totalBytes*/, int64_t /*mb*/) {}
  // --- Disc writing and spanning ---
  // The type name of the medium in the burner drive ("CD-R", "DVD+RW", ...).
  virtual QString DiscTypeName() const { return {}; }
  // Burns the last staged part with its disk marker; false when the burn failed or disc writing
  // is not available.
  virtual bool BurnPart(const QString& /*path*/) { return false; }
  // Writes the disk marker file of a spanned disk.
  virtual void WriteSpanNo(int /*disk*/) {}
  // --- Dialogs ---
  // The password dialog: the first edit's text on OK, nullopt on Cancel.
  virtual std::optional<QString> PasswordDialog() { return std::nullopt; }
  // An open dialog for the last part of an incomplete archive; "" when cancelled.
  virtual QString OpenLastPart(const QString& /*folder*/, const QString& /*title*/,
                               const QString& /*filter*/) {
    return {};
  }
  // --- Program ---
  // A job runs without the user (AutoRunFile is set): nobody is there to answer a question.
  virtual bool AutoRun() const { return false; }
  // The tray title (program name and version).
  virtual QString TrayTitle() const { return QStringLiteral("Arcavo"); }
};
