// The window's side of the archive view: the controller with its hosts, the bindings of the
// "Archive" tab, the archive popup and the archive menu items, and what the controller asks of
// the window (restore::IArchiveWindow).
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QProgressBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>

#include "app/filemenuhandler.h"
#include "app/jobcontroller.h"
#include "app/optionnames.h"
#include "app/optionscontroller.h"
#include "app/settingsfiles.h"
#include "archive/arczip.h"
#include "backup/backupcore.h"
#include "backup/runreport.h"
#include "restore/archiveviewcontroller.h"
#include "ui/archiveview.h"
#include "ui/explorerviews.h"
#include "ui/mainform.h"

namespace {

QString S(const char* text) {
  return QString::fromUtf8(text);
}

void DeleteArchiveView(restore::TArchiveViewController* controller) {
  delete controller;
}

// Index of the "Archive" tab in the page control.
constexpr int kArchivePage = 2;

}  // namespace

QWidget* TMainform::BuildArchiveView(QWidget* page) {
  qtDesktop_ = std::make_unique<TQtDesktopLauncher>();
  desktop_.target = qtDesktop_.get();
  using Controller = restore::TArchiveViewController;
  ctx_.ArchiveView = decltype(ctx_.ArchiveView)(
      new Controller(*ctx_.ArcZip1, *ctx_.Lists, *ctx_.Prefs,
                     Controller::Hosts{*this, *this, *this, *this, desktop_}),
      &DeleteArchiveView);
  // The view registers itself with the controller and names itself "ArchiveView".
  return new TArchiveView(*ctx_.ArchiveView, page);
}

void TMainform::ClearArchiveView() {
  if (ctx_.ArchiveView) ctx_.ArchiveView->ClearArchiveView();
}

void TMainform::BindArchiveCommands() {
  restore::TArchiveViewController& view = *ctx_.ArchiveView;
  // The controller is the context of every connection: none outlives it.
  auto onAction = [&](const char* name, auto fn) {
    if (auto* a = findChild<QAction*>(S(name))) connect(a, &QAction::triggered, &view, fn);
  };
  auto onButton = [&](const char* name, auto fn) {
    if (auto* b = findChild<QAbstractButton*>(S(name)))
      connect(b, &QAbstractButton::clicked, &view, fn);
  };

  onButton("ZipOpenBut", [&view] { view.ZipOpenButClick(); });
  // A double click on a file of the explorer list: archives open here, jobs go on to the job
  // controller (OpenJob), other files are ignored.
  connect(list_, &TExplorerList::FileActivated, &view,
          [&view](const QString& file) { view.VETlistDblClick(file); });
  onAction("Restore1", [&view] { view.ZipOpenButClick(); });

  // The archive view's popup.
  onAction("GotoFirst1", [&view] { view.GotoFirst1Click(); });
  onAction("GotoLast1", [&view] { view.GotoLast1Click(); });
  onAction("ClearSelected1", [&view] { view.ClearSelected1Click(); });
  onAction("Open1", [&view] { view.Open1Click(); });

  // "Views and Expedite" and "Large Fonts".
  connect(ctx_.Options.get(), &TOptionsController::viewModeChanged, &view,
          &restore::TArchiveViewController::CheckListBox11StateChange);
  onButton(ctl::kLargeFontsBox, [&view](bool checked) { view.LargeFonts1Click(checked); });
  // The box is set from the default file without a click: the view's font follows it then.
  connect(ctx_.Settings.get(), &TSettingsFiles::preferenceLoaded, &view,
          [&view](const QString& key) {
            if (key == QLatin1String("LargeFonts")) view.ApplyLargeFonts();
          });

  // "Archive SortBy": checks the item, saves it and sorts the view.
  for (int tag = 0; tag < 6; ++tag)
    onAction(ctl::kSortByItems[tag], [&view, tag] { view.SortBy1Click(tag); });
  // "Display Empty Dir" toggles its check mark itself: the toggle the action has just made is
  // taken back first.
  if (auto* a = findChild<QAction*>(S(ctl::kDisplayEmptyDirItem)))
    connect(a, &QAction::triggered, &view, [a, &view] {
      a->setChecked(!a->isChecked());
      view.DisplayEmptyDir1Click();
    });

  // Extraction works on the rows of this view, over the same engine.
  WireExtract(view, *this);
}

void TMainform::SetDesktopLauncher(restore::IDesktopLauncher* launcher) {
  desktop_.target = launcher ? launcher : qtDesktop_.get();
}

// --- IMainWindow: the archive ---

bool TMainform::ArchiveLoaded() const {
  return !ctx_.ArcZip1->ZipName().empty();
}

void TMainform::OpenArchive(const QString& file) {
  ctx_.ArchiveView->ReadZipFile(file);
}

// --- restore::IArchiveWindow ---

void TMainform::Clearchecks() {
  tree_->Clearchecks();
}

void TMainform::GaugeStart() {
  if (auto* gauge = findChild<QProgressBar*>(QStringLiteral("Gauge"))) gauge->setRange(0, 0);
}

void TMainform::GaugeStop() {
  if (auto* gauge = findChild<QProgressBar*>(QStringLiteral("Gauge"))) {
    gauge->setRange(0, 100);
    gauge->setValue(0);
  }
}

void TMainform::SetCommentText(const QString& comment) {
  ctx_.CommentText = comment;
}

void TMainform::ResetSearchBox() {
  if (auto* combo = findChild<QComboBox*>(QStringLiteral("ComboBox1")))
    combo->setEditText(S("File(wildcard*.*)"));
}

void TMainform::ShowArchivePage() {
  if (auto* pages = findChild<QTabWidget*>(QStringLiteral("PageControl1")))
    pages->setCurrentIndex(kArchivePage);
}

void TMainform::FlashArchiveTab() {
  auto* pages = findChild<QTabWidget*>(QStringLiteral("PageControl1"));
  if (!pages) return;
  // Seven toggles of the tab's highlight 300 ms apart (on, off, ..., on), then off. A timer
  // rather than a wait: the window goes on working while the tab flashes.
  auto* timer = findChild<QTimer*>(QStringLiteral("ArchiveTabFlash"));
  if (!timer) {
    timer = new QTimer(this);
    timer->setObjectName(QStringLiteral("ArchiveTabFlash"));
    timer->setInterval(300);
    connect(timer, &QTimer::timeout, this, [this, pages, timer] {
      --tabFlashes_;
      const bool on = tabFlashes_ % 2 == 1;
      pages->tabBar()->setTabTextColor(kArchivePage, on ? QColor(Qt::red) : QColor());
      if (tabFlashes_ <= 0) timer->stop();
    });
  }
  tabFlashes_ = 7;
  pages->tabBar()->setTabTextColor(kArchivePage, QColor(Qt::red));
  timer->start();
}

void TMainform::ShowZipspecs(const QString&, int count, uint64_t totalSize) {
  if (TRunReport* report = backup_ ? backup_->report() : nullptr)
    report->ShowZipspecs(count, static_cast<int64_t>(totalSize));
}

bool TMainform::ProcessMessages() {
  QCoreApplication::processEvents();
  return !ctx_.TerminateRequested;
}

QString TMainform::ExplorerSelectedFolder() const {
  return tree_->CurrentFolder();
}

QString TMainform::TakePickedRecentFile() {
  // A pick from the recent list opens its archive at once (OpenArchive), so "&Restore" never
  // finds one waiting.
  return {};
}

QString TMainform::RecentFileOpen(const FileDialogSpec& spec) {
  TFileMenuHandler& history = *ctx_.History;
  history.DialogSpec = spec;
  // The archive view opens the chosen file itself: the tag keeps the handler's news of a new
  // current file from opening it a second time.
  history.Tag = 1;
  const QString file = history.Execute();
  history.Tag = 0;
  return file;
}

void TMainform::RecordRecentFile(const QString& file) {
  TFileMenuHandler& history = *ctx_.History;
  history.Tag = 1;  // as above: recorded only, the caller opens it
  history.SetCurrentFile(file);
  history.Tag = 0;
}

void TMainform::OpenJob(const QString& file) {
  ctx_.Jobs->ExplorerListFileActivated(file);
}
