#include "ui/windowautomation.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QSystemTrayIcon>
#include <QTimeEdit>
#include <QTimer>

#include "app/jobcontroller.h"
#include "app/maincontext.h"
#include "app/mb.h"
#include "app/optionnames.h"
#include "app/preferences.h"
#include "app/settingsfiles.h"
#include "app/startupseams.h"
#include "backup/backuphosts.h"
#include "ui/desktopopener.h"
#include "ui/mainform.h"
#include "ui/reportview.h"
#include "ui/windowlife.h"
#include "ui/windownames.h"

namespace {

QString S(const char* s) {
  return QString::fromLatin1(s);
}

const QString kArcavo = QStringLiteral("Arcavo");

// The update's web page goes to the program's one desktop opener (which tests may replace).
class TDesktopUrlOpener : public IUrlOpener {
 public:
  bool OpenUrl(const QString& url) override { return CurrentUrlOpener().OpenUrl(url); }
};

}  // namespace

TWindowAutomation::TWindowAutomation(TMainform& form, IStartupSeams& startup)
    : QObject(&form),
      form_(form),
      startup_(startup),
      scheduler_(*this, *this, *this),
      update_(std::make_unique<TChkUpdate>(this)),
      desktop_(std::make_unique<TDesktopUrlOpener>()) {
  update_->URL = S(ARCAVO_UPDATE_URL);
  update_->Homepage = S(ARCAVO_HOMEPAGE);
  update_->SetUserAgent(QStringLiteral("Arcavo/") + S(ARCAVO_VERSION));
  update_->SetUrlOpener(desktop_.get());
  update_->OnFound = [] {
    return MbMessage(QStringLiteral("         Update Found.\r\nDo you want to visit webpage now?"),
                     kArcavo, true, MB_YESNO | MB_ICONQUESTION) == IDYES;
  };
  update_->OnNotFound = [] { MbMessage(QStringLiteral("No Update"), kArcavo, true, MB_OK); };
  update_->OnError = [](const QString& reason) {
    MbInfo(QStringLiteral("The update check got no answer") +
           (reason.isEmpty() ? QString() : QStringLiteral(" (") + reason + QLatin1Char(')')) +
           QStringLiteral(".\rNewer versions of Arcavo come with your system's package updates"));
  };
  update_->OnDone = [this] {
    if (auto* item = qobject_cast<QAction*>(form_.FindControl(S(ctl::kCheckUpdateItem))))
      item->setEnabled(true);
  };
}

TWindowAutomation::~TWindowAutomation() = default;

void TWindowAutomation::SetUrlOpener(IUrlOpener* opener) {
  update_->SetUrlOpener(opener ? opener : desktop_.get());
}

TBindings TWindowAutomation::Bindings() {
  return {
      OnButton(
          ctl::kSchedSetButton, "set the schedule (TScheduler::Set)",
          [this](bool) { scheduler_.Set(TPreferences::DefaultFile()); }, this),
      OnButton(
          ctl::kSchedForgetButton, "forget the schedule (TScheduler::Forget)",
          [this](bool) { scheduler_.Forget(TPreferences::DefaultFile()); }, this),
      OnItem(
          ctl::kCheckUpdateItem, "check for an update (TChkUpdate::Check)",
          [this](bool) { CheckForUpdate(); }, this),
      OnTimer(
          ctl::kSchedulerTimer, "the scheduler's minute (TScheduler::SchedulerTimerTimer)",
          [this] { scheduler_.SchedulerTimerTimer(); }, this),
  };
}

void TWindowAutomation::Connect() {
  for (const char* day : ctl::kSchedDays)
    if (auto* box = form_.findChild<QCheckBox*>(S(day)))
      connect(box, &QCheckBox::toggled, this, [this] { ControlChanged(); });
  if (auto* picker = form_.findChild<QTimeEdit*>(S(ctl::kSchedTime)))
    connect(picker, &QTimeEdit::timeChanged, this, [this] { ControlChanged(); });
  // Telling good unattended runs too is a preference, saved the moment it changes.
  if (auto* box = form_.findChild<QCheckBox*>(S(ctl::kNotifySuccess))) {
    MainContext& ctx = form_.context();
    connect(box, &QCheckBox::toggled, this, [&ctx](bool on) {
      if (ctx.Prefs && ctx.Prefs->Bool(QStringLiteral("NotifySuccess")) != on)
        ctx.Prefs->Write(QStringLiteral("NotifySuccess"), on);
    });
    if (ctx.Settings)
      connect(ctx.Settings.get(), &TSettingsFiles::preferenceLoaded, box,
              [box, &ctx](const QString& key) {
                if (key == QLatin1String("NotifySuccess"))
                  box->setChecked(ctx.Prefs->Bool(QStringLiteral("NotifySuccess")));
              });
  }
  if (auto* edit = form_.findChild<QLineEdit*>(S(ctl::kSchedJobFile))) {
    // The file comes from "Open JOB file" only.
    edit->setReadOnly(true);
    edit->installEventFilter(this);
    connect(edit, &QLineEdit::textChanged, this, [this] { ControlChanged(); });
  }
}

bool TWindowAutomation::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonPress && watched->objectName() == S(ctl::kSchedJobFile)) {
    MbInfo(QStringLiteral("You can't type file here"));
    return true;
  }
  return QObject::eventFilter(watched, event);
}

void TWindowAutomation::ControlChanged() {
  if (quiet_) return;
  if (ScheduleFileRunnable(ScheduleFile())) EnableSet(true);
  scheduler_.ControlsChanged();
}

void TWindowAutomation::EnableSet(bool on) {
  if (auto* set = form_.findChild<QPushButton*>(S(ctl::kSchedSetButton))) set->setEnabled(on);
}

void TWindowAutomation::JobFileChosen() {
  const QString suffix = QFileInfo(ScheduleFile()).suffix().toUpper();
  EnableSet(suffix == QLatin1String("CAT") || (suffix == QLatin1String("JOB") && ScheduleDays()));
}

void TWindowAutomation::TrayRestore() {
  form_.life()->tray().Restore();
}

void TWindowAutomation::CheckForUpdate() {
  if (update_->Busy()) return;
  if (auto* item = qobject_cast<QAction*>(form_.FindControl(S(ctl::kCheckUpdateItem))))
    item->setEnabled(false);
  update_->Check();
}

// --- ISchedulerTimer ---

void TWindowAutomation::Start(int intervalMs) {
  form_.schedulerTimer()->start(intervalMs);
}

void TWindowAutomation::Stop() {
  form_.schedulerTimer()->stop();
}

bool TWindowAutomation::Active() const {
  return form_.schedulerTimer()->isActive();
}

int TWindowAutomation::Interval() const {
  return form_.schedulerTimer()->interval();
}

// --- ITrayHost ---

bool TWindowAutomation::TrayShown() const {
  const QSystemTrayIcon* tray = form_.trayIcon();
  return tray && tray->isVisible();
}

void TWindowAutomation::TrayAnimation(bool on) {
  if (TWindowReport* report = form_.reportView()) report->TrayAnimation(on);
}

void TWindowAutomation::ShowBalloon(const QString& title, const QString& text, int timeoutMs) {
  if (QSystemTrayIcon* tray = form_.trayIcon())
    tray->showMessage(title, text, QSystemTrayIcon::Information, timeoutMs);
}

void TWindowAutomation::HideBalloon() {
  // A shown tray message cannot be withdrawn (an empty one would show as a blank popup on some
  // desktops); it goes away after its own time.
}

QString TWindowAutomation::PauseItemCaption() const {
  auto* item = qobject_cast<QAction*>(form_.FindControl(S(bctl::kTrayPauseItem)));
  return item ? item->text() : QString();
}

void TWindowAutomation::SetPauseItemCaption(const QString& caption) {
  if (auto* item = qobject_cast<QAction*>(form_.FindControl(S(bctl::kTrayPauseItem))))
    item->setText(caption);
}

bool TWindowAutomation::PauseItemVisible() const {
  auto* item = qobject_cast<QAction*>(form_.FindControl(S(bctl::kTrayPauseItem)));
  return item && item->isVisible();
}

void TWindowAutomation::SetPauseItemVisible(bool visible) {
  if (auto* item = qobject_cast<QAction*>(form_.FindControl(S(bctl::kTrayPauseItem))))
    item->setVisible(visible);
}

void TWindowAutomation::ShowIcon(const QString& hint) {
  SetHint(hint);
  if (QSystemTrayIcon* tray = form_.trayIcon()) tray->show();
}

void TWindowAutomation::HideIcon() {
  if (QSystemTrayIcon* tray = form_.trayIcon()) tray->hide();
}

void TWindowAutomation::SetIconImage(int picture) {
  if (TWindowReport* report = form_.reportView()) report->TrayIcon(picture);
}

void TWindowAutomation::SetHint(const QString& hint) {
  hint_ = hint;
  if (QSystemTrayIcon* tray = form_.trayIcon())
    tray->setToolTip(trayWarning_.isEmpty() || hint.isEmpty()
                         ? hint + trayWarning_
                         : hint + QLatin1Char('\n') + trayWarning_);
}

bool TWindowAutomation::ResumeItemVisible() const {
  auto* item = qobject_cast<QAction*>(form_.FindControl(S(bctl::kTrayResumeItem)));
  return item && item->isVisible();
}

void TWindowAutomation::SetResumeItemVisible(bool visible) {
  if (auto* item = qobject_cast<QAction*>(form_.FindControl(S(bctl::kTrayResumeItem))))
    item->setVisible(visible);
}

// --- ISchedulerWindow ---

int TWindowAutomation::ScheduleDays() const {
  int days = 0;
  for (int i = 0; i < 7; ++i)
    if (auto* box = form_.findChild<QCheckBox*>(S(ctl::kSchedDays[i])); box && box->isChecked())
      days |= 1 << i;
  return days;
}

QTime TWindowAutomation::PickerTime() const {
  auto* picker = form_.findChild<QTimeEdit*>(S(ctl::kSchedTime));
  return picker ? picker->time() : QTime(0, 0);
}

void TWindowAutomation::SetPickerTimeQuietly(const QTime& time) {
  auto* picker = form_.findChild<QTimeEdit*>(S(ctl::kSchedTime));
  if (!picker) return;
  quiet_ = true;
  picker->setTime(time);
  quiet_ = false;
}

QString TWindowAutomation::ScheduleFile() const {
  auto* edit = form_.findChild<QLineEdit*>(S(ctl::kSchedJobFile));
  return edit ? edit->text() : QString();
}

bool TWindowAutomation::ArchiveBusy() const {
  return startup_.ArchiveBusy();
}

bool TWindowAutomation::WindowIdle() const {
  return startup_.WindowIdle();
}

void TWindowAutomation::MinimiseToTray() {
  form_.life()->MinimiseToTray();
}

void TWindowAutomation::PrepareScheduledRun() {
  // (The job opening resets the zip engine.)
  if (auto* box = form_.findChild<QWidget*>(S(ctl::kReportBox))) box->setEnabled(true);
}

QString TWindowAutomation::ArchiveName() const {
  return form_.context().ZipName;
}

void TWindowAutomation::SetAutoRunFile(const QString& file) {
  form_.context().AutoRunFile = file;
}

void TWindowAutomation::StopDirMonitors() {
  startup_.FreeDirMonitors();
}

bool TWindowAutomation::OpenAutoRunJob(const QString& note) {
  MainContext& ctx = form_.context();
  const QString job = ctx.AutoRunFile;
  const int told = ctx.AutomaticRunsTold;
  ctx.AutoRunNote = note;
  // The report a stopped job names is its own, never an earlier run's.
  ctx.ReportFile.clear();
  ctx.Jobs->OpenCbutton(JobSender::AutoRun);
  ctx.AutoRunNote.clear();
  // Still set, the job stopped on its way (a refusal, a box) without a backup run.
  if (!ctx.AutoRunFile.isEmpty()) TellAutomaticRunStopped(ctx, job, told, QString());
  // Nothing told: a stealth job, which started stealth mode (its passes back up from now on).
  if (ctx.AutomaticRunsTold == told) return true;
  return ctx.LastAutomaticRun.status == kExitOk && ctx.LastAutomaticRun.job == job;
}

void TWindowAutomation::ClearScheduleControls() {
  for (const char* day : ctl::kSchedDays)
    if (auto* box = form_.findChild<QCheckBox*>(S(day))) box->setChecked(false);
  if (auto* edit = form_.findChild<QLineEdit*>(S(ctl::kSchedJobFile)))
    edit->setText(QStringLiteral("JOB Filename"));
  if (auto* picker = form_.findChild<QTimeEdit*>(S(ctl::kSchedTime))) picker->setTime(QTime(12, 0));
  EnableSet(false);
}

bool TWindowAutomation::RunMissedChecked() const {
  auto* box = form_.findChild<QCheckBox*>(S(ctl::kSchedRunMissed));
  return !box || box->isChecked();
}

int TWindowAutomation::StaleLimitDays() const {
  auto* limit = form_.findChild<QSpinBox*>(S(ctl::kSchedStaleDays));
  return limit ? limit->value() : 0;
}

void TWindowAutomation::SetMissedAndStale(bool runMissed, int limitDays) {
  if (auto* box = form_.findChild<QCheckBox*>(S(ctl::kSchedRunMissed))) box->setChecked(runMissed);
  if (auto* limit = form_.findChild<QSpinBox*>(S(ctl::kSchedStaleDays))) limit->setValue(limitDays);
}

void TWindowAutomation::NotifyDesktop(const QString& summary, const QString& body) {
  if (form_.context().NotifyDesktop) form_.context().NotifyDesktop(summary, body);
}

void TWindowAutomation::SetTrayWarning(const QString& warning) {
  trayWarning_ = warning;
  SetHint(hint_.isEmpty() ? form_.context().TrayTitle : hint_);
}

void TWindowAutomation::ShowNoticeFor(const QString& text, int ms) {
  MbNoticeText(text, kArcavo);
  QTimer::singleShot(ms, this, [] { MbNoticeClose(); });
}
