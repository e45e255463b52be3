// Hosts that answer as nobody at the screen would: no dialog taken, nothing shown. Header-only,
// so the benches (built without the test libraries) share them with the tests.
#pragma once

#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <optional>

#include "app/filedialoghost.h"
#include "app/optionhosts.h"
#include "backup/naming.h"
#include "backup/reporthosts.h"
#include "restore/archiveviewhosts.h"

namespace nullhosts {

struct NoFiles : IFileDialogHost {
  QString OpenFile(const FileDialogSpec&) override { return {}; }
  QString SaveFile(const FileDialogSpec&) override { return {}; }
};

// The new-name dialog: cancelled, or (with folder set) answered with the proposed file name in
// that folder.
struct NoNaming : INamingHost {
  QString folder;
  std::optional<QString> ShowSaveDialog(TSaveDlgForm& form) override {
    if (folder.isEmpty()) return std::nullopt;
    return folder + "/" + QFileInfo(form.Text()).fileName();
  }
};

struct NoModes : IWindowModeHost {
  void ShowExplorerCheckBoxes(bool) override {}
  void ClearArchiveSearchResults() override {}
  void ResetGlobalSearchFlag() override {}
  void ClearArchiveView() override {}
  void ClearStatusBar() override {}
  void ResetTrayStealthFlag() override {}
  void SetTrayIconStatic() override {}
  void SetZip64Highlighted(bool) override {}
  void SetGroupCaptionHighlighted(const QString&, bool) override {}
};

// The scheduler's controls; the job file edit shows file.
struct NoScheduler : ISchedulerControls {
  QString file;
  void SetScheduleDays(int) override {}
  void SetScheduleTime(const QString&) override {}
  void SetScheduleFile(const QString&) override {}
  QString ScheduleFile() const override { return file; }
  void StartSchedulerTimer() override {}
};

struct NoProgress : IProgressHost {
  void SetGaugeMoving(bool) override {}
  void SetGaugePosition(int) override {}
};

// The report box as a plain list of what was added.
struct LinesBox : IReportBox {
  QStringList lines;
  void Clear() override { lines.clear(); }
  void Add(const QString& text) override { lines << text; }
  QStringList Lines() const override { return lines; }
  void SetLines(const QStringList& l) override { lines = l; }
};

// The archive view's window, its search results and the desktop: nothing shown, nothing open.
struct NoArchiveWindow : restore::IArchiveWindow {
  void Setstate(int) override {}
  void SetArchiveName(const QString&) override {}
  void Clearchecks() override {}
  void GaugeStart() override {}
  void GaugeStop() override {}
  void SetZip64Highlighted(bool) override {}
  void SetCommentText(const QString&) override {}
  void ResetSearchBox() override {}
  void ShowArchivePage() override {}
  void FlashArchiveTab() override {}
  void ShowZipspecs(const QString&, int, uint64_t) override {}
  bool ProcessMessages() override { return true; }
  QString ExplorerSelectedFolder() const override { return {}; }
  bool CtrlHeld() const override { return false; }
  QString TakePickedRecentFile() override { return {}; }
  QString RecentFileOpen(const FileDialogSpec&) override { return {}; }
  void RecordRecentFile(const QString&) override {}
  void OpenJob(const QString&) override {}
};
struct NoSearchResults : restore::ISearchResultsView {
  bool SearchResultsShown() const override { return false; }
  bool ResultEntry(int, QString&, int&) const override { return false; }
};
struct NoLauncher : restore::IDesktopLauncher {
  bool OpenFile(const QString&, const QString&) override { return false; }
};

}  // namespace nullhosts
