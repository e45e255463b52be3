// The window's side of the archive view and extraction: the controller with its hosts, the
// extraction over the window's engine, and the bindings of the "Archive" tab, the archive popup
// and the archive menu items.
#include <QAction>

#include "app/optionnames.h"
#include "archive/arczip.h"
#include "backup/backupcore.h"
#include "backup/runreport.h"
#include "restore/archivesearch.h"
#include "restore/archiveviewcontroller.h"
#include "restore/extractcontroller.h"
#include "restore/maintenance.h"
#include "restore/repaircontroller.h"
#include "ui/archiveview.h"
#include "ui/backupwindow.h"
#include "ui/explorerviews.h"
#include "ui/mainform.h"
#include "ui/restorewindow.h"
#include "ui/widgetkit.h"
#include "ui/windowcontrols.h"
#include "ui/windowhosts.h"
#include "ui/windownames.h"

using ui::S;

namespace {

void DeleteArchiveView(restore::TArchiveViewController* controller) {
  delete controller;
}

}  // namespace

QWidget* TMainform::BuildArchiveView(QWidget* page) {
  qtDesktop_ = std::make_unique<TQtDesktopLauncher>();
  desktop_->target = qtDesktop_.get();
  using Controller = restore::TArchiveViewController;
  ctx_.ArchiveView = decltype(ctx_.ArchiveView)(
      new Controller(
          *ctx_.ArcZip1, *ctx_.Lists, *ctx_.Prefs,
          Controller::Hosts{*archiveWindow_, *controls_, *dialogs_, *searchResults_, *desktop_}),
      &DeleteArchiveView);
  // The view registers itself with the controller and names itself "ArchiveView".
  return new TArchiveView(*ctx_.ArchiveView, page);
}

void TMainform::SetDesktopLauncher(restore::IDesktopLauncher* launcher) {
  desktop_->target = launcher ? launcher : qtDesktop_.get();
}

void TMainform::WireExtract() {
  restore::TArchiveViewController& view = *ctx_.ArchiveView;
  restoreHost_ = std::make_unique<TRestoreWindow>(this);
  TBackupWindowHost* screen = backupHost_.get();
  restoreHost_->gaugeStart = [screen] { screen->GaugeMoving(); };
  restoreHost_->discAnimation = [screen](bool on) { screen->DiscAnimation(on); };
  restoreHost_->clearStatusBar = [screen] { screen->ClearStatusBar(); };
  restoreHost_->gaugeClear = [screen] { screen->GaugeClear(); };
  restoreHost_->clearReportBox = [screen] { screen->ReportClear(); };
  restoreHost_->reportLine = [screen](const QString& line) { screen->ReportAdd(line); };
  // The process time of an extraction counts from its start, as a backup's does.
  restoreHost_->startProcessClock = [this] {
    if (TRunReport* report = backup_ ? backup_->report() : nullptr) report->StartClock();
  };
  extract_ = std::make_unique<restore::TExtractController>(backup_->ArcZip1, *ctx_.Lists, view,
                                                           *searchResults_, *restoreHost_);
  repair_ = std::make_unique<restore::TRepairController>(backup_->ArcZip1, view, *archiveWindow_,
                                                         *dialogs_, *restoreHost_);
  PrepareRestoreControls(this);

  // Archive maintenance and the archive search, over the same engine and view.
  restoreHost_->trayCycling = [screen](bool on) {
    if (on) {
      if (screen->TrayIconShown()) screen->TrayAnimation(true);
    } else {
      screen->TrayAnimation(false);
      screen->TrayIcon(1);
    }
  };
  maintenance_ = std::make_unique<restore::TMaintenanceController>(
      backup_->ArcZip1, view, *archiveWindow_, *controls_, *restoreHost_);
  search_ = std::make_unique<restore::TArchiveSearch>(backup_->ArcZip1, view, *archiveWindow_,
                                                      *controls_, *ctx_.Prefs, *restoreHost_);
  searchResults_->target = search_.get();
  restore::TMaintenanceController* maintenance = maintenance_.get();
  restore::TArchiveSearch* search = search_.get();
  ctx_.DeletingEntries = [maintenance] { return maintenance->DeletingEntries(); };
  ctx_.GlobalSearchRunning = [search] { return search->GlobalMark(); };
}

TBindings TMainform::ArchiveBindings() {
  restore::TArchiveViewController& view = *ctx_.ArchiveView;
  // The controller is the context of every connection: none outlives it.
  auto item = [&view](const char* name, const char* operation, std::function<void(bool)> fn) {
    return OnItem(name, operation, std::move(fn), &view);
  };
  auto open = [&view](bool) { view.ZipOpenButClick(); };
  TBindings rows = {
      OnButton(ctl::kOpenArchiveButton, "open an archive (TArchiveViewController::ZipOpenButClick)",
               open, &view),
      item(ctl::kRestoreItem, "open an archive (TArchiveViewController::ZipOpenButClick)", open),
      // The archive view's popup.
      item(ctl::kGotoFirstItem, "first row (TArchiveViewController::GotoFirst1Click)",
           [&view](bool) { view.GotoFirst1Click(); }),
      item(ctl::kGotoLastItem, "last row (TArchiveViewController::GotoLast1Click)",
           [&view](bool) { view.GotoLast1Click(); }),
      item(ctl::kClearSelectedItem, "clear the ticks (TArchiveViewController::ClearSelected1Click)",
           [&view](bool) { view.ClearSelected1Click(); }),
      item(ctl::kOpenEntryItem, "open an entry (TArchiveViewController::Open1Click)",
           [&view](bool) { view.Open1Click(); }),
      // "&Tools" > "ZIPfix".
      OnItem(
          ctl::kZipFixItem, "repair a damaged archive (TRepairController::fixzipbtnClick)",
          [this](bool) { repair_->fixzipbtnClick(); }, repair_.get()),
      // "Large Fonts".
      OnButton(
          ctl::kLargeFontsBox, "font size (TArchiveViewController::LargeFonts1Click)",
          [&view](bool checked) { view.LargeFonts1Click(checked); }, &view),
      // "Display Empty Dir" toggles its check mark itself: the toggle the action has just made
      // is taken back first.
      item(ctl::kDisplayEmptyDirItem,
           "empty folders (TArchiveViewController::DisplayEmptyDir1Click)",
           [this, &view](bool checked) {
             controls_->SetControlChecked(S(ctl::kDisplayEmptyDirItem), !checked);
             view.DisplayEmptyDir1Click();
           }),
  };
  // Archive maintenance.
  restore::TMaintenanceController& m = *maintenance_;
  auto removeEntries = [&m](bool) { m.DeleteButClick(); };
  auto test = [&m](bool) { m.TestButClick(); };
  Append(rows,
         {
             OnButton(ctl::kDeleteButton, "remove entries (TMaintenanceController::DeleteButClick)",
                      removeEntries, &m),
             OnItem(ctl::kDeleteSelectedItem,
                    "remove entries (TMaintenanceController::DeleteButClick)", removeEntries, &m),
             OnButton(
                 restore::ctlnames::kKillZipButton,
                 "delete the archive file (TMaintenanceController::DeleteZipButClick)",
                 [&m](bool) { m.DeleteZipButClick(); }, &m),
             OnItem(ctl::kZipTestItem,
                    "test or stop testing (TMaintenanceController::TestButClick)", test, &m),
             OnItem(
                 ctl::kConvertItem,
                 "zip to self-extractor and back (TMaintenanceController::"
                 "ConvertButClick)",
                 [&m](bool) { m.ConvertButClick(); }, &m),
         });
  // The archive search.
  restore::TArchiveSearch& s = *search_;
  auto getZip = [&s](bool) { s.GetZBtn1Click(); };
  Append(rows,
         {
             OnButton(
                 ctl::kGlobalButton, "global search (TArchiveSearch::Gdir1Click)",
                 [&s](bool) { s.Gdir1Click(); }, &s),
             OnButton(
                 ctl::kRepeatButton, "repeat the global search (TArchiveSearch::GrepeatClick)",
                 [&s](bool) { s.GrepeatClick(); }, &s),
             OnButton(ctl::kGetZipButton, "open a result's archive (TArchiveSearch::GetZBtn1Click)",
                      getZip, &s),
             OnItem(ctl::kGetZipItem, "open a result's archive (TArchiveSearch::GetZBtn1Click)",
                    getZip, &s),
             SwitchedBy(ctl::kSearchBox, "search box (TArchiveSearch::ComboBox1KeyDown)"),
         });
  // "Archive SortBy": checks the item, saves it and sorts the view.
  for (int tag = 0; tag < 6; ++tag)
    rows.push_back(item(ctl::kSortByItems[tag], "sort order (TArchiveViewController::SortBy1Click)",
                        [&view, tag](bool) { view.SortBy1Click(tag); }));
  return rows;
}
