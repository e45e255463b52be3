// The window's answers to start-up, hand-over and closing.
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QScreen>
#include <QStyleFactory>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QThread>
#include <QTimeEdit>
#include <QTimer>
#include <QTreeView>

#include "app/explorer.h"
#include "app/filemenuhandler.h"
#include "app/inclusiongrid.h"
#include "app/jobcontroller.h"
#include "app/optionscontroller.h"
#include "app/preferences.h"
#include "app/settingsfiles.h"
#include "archive/arczip.h"
#include "backup/backupcore.h"
#include "backup/backuprun.h"
#include "backup/reporthosts.h"
#include "platform/programdir.h"
#include "restore/archivesearch.h"
#include "ui/desktopopener.h"
#include "ui/explorerviews.h"
#include "ui/mainform.h"
#include "ui/windowautomation.h"
#include "ui/windowcontrols.h"
#include "ui/windowhosts.h"
#include "ui/windownames.h"
#include "ui/windowstealth.h"

namespace {

QString S(const char* text) {
  return QString::fromUtf8(text);
}

}  // namespace

// --- The window ---

int TWindowStartup::ScreenWidth() const {
  QScreen* s = form_.screen() ? form_.screen() : QGuiApplication::primaryScreen();
  return s ? s->geometry().width() : 1280;
}

void TWindowStartup::Maximise() {
  form_.showMaximized();
}

bool TWindowStartup::WindowVisible() const {
  return form_.isVisible();
}

void TWindowStartup::ShowWindow() {
  form_.show();
}

void TWindowStartup::RaiseWindow() {
  if (!form_.isVisible()) return;
  if (form_.isMinimized()) form_.showNormal();
  form_.raise();
  form_.activateWindow();
}

void TWindowStartup::SetWindowCaption(const QString& caption) {
  form_.setWindowTitle(caption);
}

void TWindowStartup::ShowBrowserTab() {
  if (auto* pages = form_.findChild<QTabWidget*>(S(ctl::kPages))) pages->setCurrentIndex(0);
}

void TWindowStartup::SetTimePickerFormat(const QString& format) {
  if (auto* t = form_.findChild<QTimeEdit*>(S(ctl::kSchedTime))) t->setDisplayFormat(format);
}

void TWindowStartup::OpenHelp(int context) {
  help_.Open(context, CurrentUrlOpener());
}

QString TWindowStartup::TryOpenHelp(int context) {
  QString problem;
  help_.Open(context, CurrentUrlOpener(), &problem);
  return problem;
}

void TWindowStartup::ShowStatusNote(const QString& note) {
  // The active-file panel: the one panel wide enough, and free until an operation starts.
  if (auto* panel = form_.findChild<QLabel*>(S(rctl::kActiveFilePanel))) {
    panel->setText(note);
    panel->setToolTip(note);
  }
}

void TWindowStartup::HideToTrayMinimised() {
  // The window's state change takes it on to the tray ("Minimise To Tray"): TWindowLife.
  form_.showMinimized();
}

void TWindowStartup::SetThemesReleased(bool released) {
  if (released) {
    if (QStyle* plain = QStyleFactory::create(QStringLiteral("Windows"))) qApp->setStyle(plain);
    // A shown window is drawn again in the plain style; at start it is not shown yet.
    if (form_.isVisible()) {
      form_.hide();
      form_.show();
    }
  } else if (auto* tree = form_.findChild<QTreeView*>(S(ctl::kExplorerTree))) {
    tree->setAnimated(true);
  }
}

bool TWindowStartup::WindowIdle() const {
  // The main event loop alone turns (no dialog's or box's loop, no Delay) and nothing modal is
  // open.
  return QThread::currentThread()->loopLevel() <= 1 && !QApplication::activeModalWidget() &&
         !QApplication::activePopupWidget();
}

void TWindowStartup::SetTrayEnabled(bool on) {
  if (!on) form_.trayIcon()->hide();
}

void TWindowStartup::StopGeneralTimer() {
  form_.generalTimer()->stop();
}

void TWindowStartup::StopSchedulerTimer() {
  form_.schedulerTimer()->stop();
}

bool TWindowStartup::AddInstantPath(const QString& path) {
  if (!form_.stealth()) return false;
  form_.stealth()->logic().AddInstantPath(path);
  return true;
}

void TWindowStartup::WriteInstantBackup() {
  if (form_.stealth()) form_.stealth()->logic().WriteInstantBackup();
}

void TWindowStartup::IMgrTriggerCleanUp() {
  if (form_.stealth()) form_.stealth()->logic().IMgrTriggerCleanUp();
}

void TWindowStartup::FreeDirMonitors() {
  if (form_.stealth()) form_.stealth()->logic().FreeDirMonitors();
}

void TWindowStartup::ResetGeneralTicks() {
  if (form_.stealth()) form_.stealth()->logic().ResetGeneralTicks();
}

int TWindowStartup::SchedulerStage() const {
  return form_.automation() ? form_.automation()->scheduler().Stage() : 0;
}

void TWindowStartup::SetSchedulerStage(int stage) {
  if (form_.automation()) form_.automation()->scheduler().SetStage(stage);
}

void TWindowStartup::SetUpdateRevision(int revision) {
  if (form_.automation()) form_.automation()->updateCheck().Revision = revision;
}

// --- Explorer, grid and archive view ---

void TWindowStartup::EnableExplorer() {
  for (const char* n : {ctl::kExplorerTree, ctl::kExplorerList})
    if (auto* w = form_.findChild<QWidget*>(S(n))) w->setEnabled(true);
}

void TWindowStartup::FillGridDefaults() {
  TInclusionGrid& grid = *form_.context().Grid;
  grid.BeginUpdate();
  grid.Clear();
  for (int col = 0; col < TInclusionGrid::kColCount; ++col) {
    const QStringList& cells = TInclusionGrid::DefaultColumn(col);
    for (int i = 0; i < cells.size(); ++i) grid.SetCell(col, i + 1, cells[i]);
  }
  grid.EndUpdate();
}

void TWindowStartup::ActivateExplorerTree() {
  form_.explorerTree()->SetWindowShown();
  form_.context().Explorer->TreeModel().Refresh();
}

void TWindowStartup::ActivateExplorerList() {
  form_.context().Explorer->ListModel().Refresh();
}

void TWindowStartup::ExpandTreeToStart() {
  form_.explorerTree()->BrowseTo(startFolder_.isEmpty() ? QDir::homePath() : startFolder_);
}

void TWindowStartup::LinkListToTree() {
  form_.context().Explorer->SetLinked(true);
}

void TWindowStartup::EnableArchiveView(bool on) {
  if (auto* v = form_.findChild<QTreeView*>(S(ctl::kArchiveView))) v->setEnabled(on);
}

void TWindowStartup::PrepareArchiveView() {
  // The archive view's controller sorts; the view only animates its folders.
  if (auto* v = form_.findChild<QTreeView*>(S(ctl::kArchiveView))) v->setAnimated(true);
}

void TWindowStartup::SetArchiveName(const QString& name) {
  form_.context().ZipName = name;
  form_.controls().SetControlCaption(S(rctl::kZipFilePanel),
                                     name.isEmpty() ? S("ZipFile: <none>") : S("ZipFile: ") + name);
}

// --- Option lists, settings, jobs and recent jobs ---

void TWindowStartup::Setstate(int mode) {
  form_.context().Options->Setstate(mode);
}

void TWindowStartup::INIfileIO(const QString& file) {
  form_.context().Settings->INIfileIO(file);
}

void TWindowStartup::INIcheckedMenuItem(const QString& key, bool checked) {
  form_.context().Prefs->Write(key, checked);
}

QString TWindowStartup::JobRefusal(const QString& job) {
  return form_.context().Jobs->AutoRunRefusal(job);
}

void TWindowStartup::OpenCbutton() {
  form_.context().Jobs->OpenCbutton(JobSender::AutoRun);
}

void TWindowStartup::ClearRecentSlot() {
  form_.context().History->FileChangedCaption.clear();
}

void TWindowStartup::LoadRecentList() {
  form_.context().History->Load();
}

void TWindowStartup::OpenRecent(const QString& file) {
  TFileMenuHandler& history = *form_.context().History;
  // A job named on the command line was opened, and run, by window creation: here it only
  // joins the recent list. Opening it again would reload it and, while AutoRunFile is still
  // set, run it a second time. (The tag makes the window's reaction to the new current file do
  // nothing, as for a file chosen in "o&PenJob".)
  if (HasExtension(file, {QStringLiteral(".JOB"), QStringLiteral(".CAT")})) history.Tag = 1;
  history.SetCurrentFile(file);
  history.Tag = 0;
}

// --- The archive engine of the run ---

bool TWindowStartup::ArchiveBusy() const {
  const restore::TArchiveSearch* search = form_.archiveSearch();
  return (form_.backup() && form_.backup()->ArcZip1.Busy()) || (search && search->Running());
}

bool TWindowStartup::OperationPaused() const {
  return form_.backup() && form_.backup()->run().PauseMode();
}

void TWindowStartup::ResumeOperation() {
  if (form_.backup() && form_.backup()->run().PauseMode()) form_.backup()->run().PauseBtnClick();
}

void TWindowStartup::CancelOperation() {
  if (restore::TArchiveSearch* search = form_.archiveSearch()) search->Abort();
  TBackupCore* backup = form_.backup();
  if (!backup) return;
  if (backup->run().RunInProgress())
    backup->run().CancelZIP();
  else
    backup->ArcZip1.CancelOperation();
}

void TWindowStartup::ClearSearchResults() {
  if (restore::TArchiveSearch* search = form_.archiveSearch()) search->ClearResults();
}
