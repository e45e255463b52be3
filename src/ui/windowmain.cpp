// The window as the subsystems see it (IMainWindow), its window-mode changes and the
// scheduler's controls.
#include <QCheckBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTabWidget>
#include <QTime>
#include <QTimeEdit>
#include <QTimer>

#include "app/explorer.h"
#include "app/mb.h"
#include "app/pathbytes.h"
#include "app/preferences.h"
#include "archive/arczip.h"
#include "backup/backupcore.h"
#include "backup/backuprun.h"
#include "backup/naming.h"
#include "backup/removable.h"
#include "backup/reporthosts.h"
#include "restore/archivesearch.h"
#include "restore/archiveviewcontroller.h"
#include "restore/maintenance.h"
#include "ui/explorerviews.h"
#include "ui/mainform.h"
#include "ui/optionlistview.h"
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

// --- IMainWindow ---

QString TWindowMain::ExplorerCurrentFolder() const {
  return form_.explorerTree()->CurrentFolder();
}

bool TWindowMain::CtrlHeld() const {
  return QGuiApplication::queryKeyboardModifiers() & Qt::ControlModifier;
}

void TWindowMain::ShowZipTab() {
  if (auto* inner = form_.findChild<QTabWidget*>(S(ctl::kMakePages))) inner->setCurrentIndex(0);
}

void TWindowMain::ShowSizeCount(const QString& count, const QString& total) {
  form_.controls().SetControlCaption(S(rctl::kCountPanel), count);
  form_.controls().SetControlCaption(S(rctl::kTotalSizePanel), total);
}

void TWindowMain::GaugeClear() {
  if (auto* gauge = form_.findChild<QProgressBar*>(S(ctl::kGauge))) gauge->setValue(0);
}

bool TWindowMain::ArchiveLoaded() const {
  return !form_.context().ArcZip1->ZipName().empty();
}

bool TWindowMain::HasArchiveSearchResults() const {
  return form_.archiveSearch() && form_.archiveSearch()->SearchResultsShown();
}

bool TWindowMain::ArchiveOnDirectRemovable() const {
  const QString& name = form_.context().ZipName;
  return !name.isEmpty() && form_.backup() && form_.backup()->OnDirectRemovable(name);
}

void TWindowMain::OpenArchive(const QString& file) {
  form_.context().ArchiveView->ReadZipFile(file);
}

bool TWindowMain::ExeMode() const {
  return form_.backup()->run().ExeMode();
}

void TWindowMain::SetAddToArchive(bool on) {
  form_.backup()->run().SetAddMode(on);
}

void TWindowMain::StartStealth() {
  form_.stealth()->logic().StartStealth();
}

void TWindowMain::ModifyJobNaming() {
  form_.backup()->naming().NewZipButClick(NamingSender::ModifyJob);
}

bool TWindowMain::ScheduledRunInProgress() const {
  return form_.automation() && form_.automation()->scheduler().RunState() == 2;
}

// --- IWindowModeHost ---

void TWindowModes::ShowExplorerCheckBoxes(bool show) {
  form_.context().Explorer->SetMakeMode(show);
}

void TWindowModes::ClearArchiveView() {
  if (form_.context().ArchiveView) form_.context().ArchiveView->ClearArchiveView();
}

void TWindowModes::ClearArchiveSearchResults() {
  if (restore::TArchiveSearch* search = form_.archiveSearch()) search->ClearResults();
}

void TWindowModes::ResetGlobalSearchFlag() {
  if (restore::TArchiveSearch* search = form_.archiveSearch()) search->ResetGlobalMark();
}

void TWindowModes::ClearStatusBar() {
  IControlHost& controls = form_.controls();
  controls.SetControlCaption(S(rctl::kCountPanel), S("DIR&files count"));
  controls.SetControlCaption(S(rctl::kTotalSizePanel), S("Total size (Kb)"));
  controls.SetControlCaption(S(rctl::kActiveFilePanel), S("ActiveFile: <none>"));
}

void TWindowModes::SetZip64Highlighted(bool on) {
  if (auto* label = form_.findChild<QLabel*>(S(ctl::kZip64Label)))
    label->setStyleSheet(on ? QStringLiteral("color: red; font-weight: bold;")
                            : QStringLiteral("color: silver;"));
}

void TWindowModes::SetGroupCaptionHighlighted(const QString& group, bool on) {
  if (auto* g = form_.findChild<QGroupBox*>(group)) ::SetGroupCaptionHighlighted(g, on);
}

// --- ISchedulerControls ---

void TWindowScheduler::SetScheduleDays(int days) {
  for (int i = 0; i < 7; ++i)
    if (auto* box = form_.findChild<QCheckBox*>(S(ctl::kSchedDays[i])))
      box->setChecked(days & (1 << i));
}

void TWindowScheduler::SetScheduleTime(const QString& time) {
  auto* picker = form_.findChild<QTimeEdit*>(S(ctl::kSchedTime));
  if (!picker) return;
  for (const char* format : {"HH:mm", "H:mm", "HH:mm:ss", "H:mm:ss"}) {
    const QTime t = QTime::fromString(time.trimmed(), S(format));
    if (t.isValid()) {
      picker->setTime(t);
      return;
    }
  }
}

void TWindowScheduler::SetScheduleFile(const QString& file) {
  if (auto* edit = form_.findChild<QLineEdit*>(S(ctl::kSchedJobFile))) edit->setText(file);
  if (form_.automation()) form_.automation()->JobFileChosen();
}

QString TWindowScheduler::ScheduleFile() const {
  auto* edit = form_.findChild<QLineEdit*>(S(ctl::kSchedJobFile));
  return edit ? edit->text() : QString();
}

void TWindowScheduler::StartSchedulerTimer() {
  form_.schedulerTimer()->start(TScheduler::kWaitMs);
  // The stored schedule's state: a run missed meanwhile is caught up, a stale one told.
  if (form_.automation()) form_.automation()->scheduler().Loaded(TPreferences::DefaultFile());
}

// --- IBackupSeams ---

int TWindowBackupSeams::GetDriveTypeEx(const QString& path) {
  IVolumeService* volumes = form_.volumeService();
  return volumes ? ::GetDriveTypeEx(*volumes, PathBytes(path)) : IBackupSeams::GetDriveTypeEx(path);
}

TVerifyResult TWindowBackupSeams::VerifyArchive(const QString& name, const std::string& password) {
  restore::TMaintenanceController* maintenance = form_.maintenance();
  if (!maintenance) return {};
  const auto tested = maintenance->VerifyArchive(name, password);
  // A test that could not start (the engine held by another operation) verified nothing.
  if (!tested.tested) return {TVerifyResult::Failed, S(restore::maintmsg::kTestedBad)};
  return {tested.passed ? TVerifyResult::Passed : TVerifyResult::Failed, tested.text};
}
