// What the archive view's commands ask of the rest of the program: the main window, the view
// widget, the open dialog, the archive search, the desktop and extraction. The window and the
// widgets implement these; tests use fakes.
#pragma once

#include <QString>
#include <cstdint>

#include "app/filedialoghost.h"

class TArcUnZip;

namespace restore {

// Names of the window's controls the archive view switches (objectNames, as in ctl::).
namespace ctlnames {
inline constexpr const char* kKillZipButton = "DeleteZipBut";  // "&KillZIP"
inline constexpr const char* kViewsGroup = "GroupViews";       // "Views and Expedite"
}  // namespace ctlnames

// The main window as the archive view's commands see it.
class IArchiveWindow {
 public:
  virtual ~IArchiveWindow() = default;
  // Window modes (0 idle, 1 archive open, 3 make).
  virtual void Setstate(int mode) = 0;
  // The archive name shown in the status bar ("ZipFile: " + name).
  virtual void SetArchiveName(const QString& name) = 0;
  // Clears every tick of the explorer tree.
  virtual void Clearchecks() = 0;
  // The busy gauge of the status bar.
  virtual void GaugeStart() = 0;
  virtual void GaugeStop() = 0;
  virtual void RestoreCursor() {}
  // The "ZIP64" label: red and bold, or silver and regular.
  virtual void SetZip64Highlighted(bool on) = 0;
  // A note about the open archive on the archive page ("" removes it): its directory was
  // damaged and the entries shown are those a scan found.
  virtual void ShowArchiveNote(const QString& /*note*/) {}
  // The archive comment kept for the report.
  virtual void SetCommentText(const QString& comment) = 0;
  // The search box back to "File(wildcard*.*)".
  virtual void ResetSearchBox() = 0;
  // Switches the page control to the "Archive" tab / flashes that tab.
  virtual void ShowArchivePage() = 0;
  virtual void FlashArchiveTab() = 0;
  // The archive summary in the status bars: name, number of entries, total uncompressed size.
  virtual void ShowZipspecs(const QString& name, int count, uint64_t totalSize) = 0;
  // Dispatches pending events; false when the program is quitting.
  virtual bool ProcessMessages() = 0;
  // The explorer tree's selected folder ("" when none).
  virtual QString ExplorerSelectedFolder() const = 0;
  // Ctrl is held down.
  virtual bool CtrlHeld() const = 0;
  // The archive just picked from the recent-file list, once ("" when none).
  virtual QString TakePickedRecentFile() = 0;
  // The recent-file handler: shows the open dialog and records the chosen file ("" cancelled).
  virtual QString RecentFileOpen(const FileDialogSpec& spec) = 0;
  // Records a file in the recent-file list.
  virtual void RecordRecentFile(const QString& file) = 0;
  // Opens a job (".CAT" / ".JOB") with the explorer tree rooted at its folder.
  virtual void OpenJob(const QString& file) = 0;
};

// Column layout of the view for a presentation.
struct TColumnLayout {
  int fileNameWidth = 480;
  bool pathnameVisible = false;
  bool diskVisible = false;
};

// The view widget.
class IArchiveViewDisplay {
 public:
  virtual ~IArchiveViewDisplay() = default;
  virtual void ApplyColumnLayout(const TColumnLayout& layout) = 0;
  virtual void SetFontSize(int points) = 0;
  virtual void ShowSortIndicator(int column, bool descending) = 0;
  // Brings the focused row into sight.
  virtual void ScrollToCurrent() = 0;
};

// The results of an archive search, when they are what the view shows.
class ISearchResultsView {
 public:
  virtual ~ISearchResultsView() = default;
  virtual bool SearchResultsShown() const = 0;
  // The archive and entry number of result record (its slot in the entries the view was given,
  // see TArchiveViewController::ShowSearchResults); false when it has none.
  virtual bool ResultEntry(int record, QString& archive, int& entry) const = 0;
};

// Opens a file with the desktop's default application.
class IDesktopLauncher {
 public:
  virtual ~IDesktopLauncher() = default;
  virtual bool OpenFile(const QString& path, const QString& workingDir) = 0;
};

// Extracts the engine's selected entries into its DestDir; returns how many were extracted.
// Raises the engine's exceptions on whole-archive failures. The program uses the engine's own
// ExtractSelected; tests may replace it.
class IEntryExtractor {
 public:
  virtual ~IEntryExtractor() = default;
  virtual int ExtractSelected(TArcUnZip& zip) = 0;
};

}  // namespace restore
