// The archive view's commands as they reach the window (restore::IArchiveWindow).
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>

#include "app/filemenuhandler.h"
#include "app/jobcontroller.h"
#include "backup/backupcore.h"
#include "backup/runreport.h"
#include "ui/explorerviews.h"
#include "ui/mainform.h"
#include "ui/windowhosts.h"
#include "ui/windownames.h"

namespace {

QString S(const char* text) {
  return QString::fromUtf8(text);
}

// Index of the "Archive" tab in the page control.
constexpr int kArchivePage = 2;

}  // namespace

void TArchiveWindow::Setstate(int mode) {
  startup_.Setstate(mode);
}

void TArchiveWindow::SetArchiveName(const QString& name) {
  startup_.SetArchiveName(name);
}

void TArchiveWindow::SetZip64Highlighted(bool on) {
  modes_.SetZip64Highlighted(on);
}

void TArchiveWindow::ShowArchiveNote(const QString& note) {
  if (auto* label = form_.findChild<QLabel*>(S(ctl::kArchiveNote))) {
    label->setText(note);
    label->setVisible(!note.isEmpty());
  }
}

bool TArchiveWindow::CtrlHeld() const {
  return form_.mainWindow().CtrlHeld();
}

void TArchiveWindow::Clearchecks() {
  form_.explorerTree()->Clearchecks();
}

void TArchiveWindow::GaugeStart() {
  if (auto* gauge = form_.findChild<QProgressBar*>(S(ctl::kGauge))) gauge->setRange(0, 0);
}

void TArchiveWindow::GaugeStop() {
  if (auto* gauge = form_.findChild<QProgressBar*>(S(ctl::kGauge))) {
    gauge->setRange(0, 100);
    gauge->setValue(0);
  }
}

void TArchiveWindow::SetCommentText(const QString& comment) {
  form_.context().CommentText = comment;
}

void TArchiveWindow::ResetSearchBox() {
  if (auto* combo = form_.findChild<QComboBox*>(S(ctl::kSearchBox)))
    combo->setEditText(S("File(wildcard*.*)"));
}

void TArchiveWindow::ShowArchivePage() {
  if (auto* pages = form_.findChild<QTabWidget*>(S(ctl::kPages)))
    pages->setCurrentIndex(kArchivePage);
}

void TArchiveWindow::FlashArchiveTab() {
  auto* pages = form_.findChild<QTabWidget*>(S(ctl::kPages));
  if (!pages) return;
  // Seven toggles of the tab's highlight 300 ms apart (on, off, ..., on), then off. A timer
  // rather than a wait: the window goes on working while the tab flashes.
  auto* timer = form_.findChild<QTimer*>(S(ctl::kArchiveTabFlash));
  if (!timer) {
    timer = new QTimer(&form_);
    timer->setObjectName(S(ctl::kArchiveTabFlash));
    timer->setInterval(300);
    QObject::connect(timer, &QTimer::timeout, &form_, [this, pages, timer] {
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

void TArchiveWindow::ShowZipspecs(const QString&, int count, uint64_t totalSize) {
  if (TRunReport* report = form_.backup() ? form_.backup()->report() : nullptr)
    report->ShowZipspecs(count, static_cast<int64_t>(totalSize));
}

bool TArchiveWindow::ProcessMessages() {
  QCoreApplication::processEvents();
  return !form_.context().TerminateRequested;
}

QString TArchiveWindow::ExplorerSelectedFolder() const {
  return form_.explorerTree()->CurrentFolder();
}

QString TArchiveWindow::TakePickedRecentFile() {
  // A pick from the recent list opens its archive at once (OpenArchive), so "&Restore" never
  // finds one waiting.
  return {};
}

QString TArchiveWindow::RecentFileOpen(const FileDialogSpec& spec) {
  TFileMenuHandler& history = *form_.context().History;
  history.DialogSpec = spec;
  // The archive view opens the chosen file itself: the tag keeps the handler's news of a new
  // current file from opening it a second time.
  history.Tag = 1;
  const QString file = history.Execute();
  history.Tag = 0;
  return file;
}

void TArchiveWindow::RecordRecentFile(const QString& file) {
  TFileMenuHandler& history = *form_.context().History;
  history.Tag = 1;  // as above: recorded only, the caller opens it
  history.SetCurrentFile(file);
  history.Tag = 0;
}

void TArchiveWindow::OpenJob(const QString& file) {
  form_.context().Jobs->ExplorerListFileActivated(file);
}
