#include "automation/scheduler.h"

#include <QFileInfo>
#include <system_error>

#include "app/clock.h"
#include "app/mb.h"
#include "platform/inifile.h"

namespace {

const QString kArcavo = QStringLiteral("Arcavo");
const QString kQuestion =
    QStringLiteral("     Scheduled backup due\rClick YES if you want to proceed");
const QString kBalloon = QStringLiteral("Scheduled backup due\rClick balloon to abort");
constexpr int kBalloonMs = 15000;
constexpr int kPostponeSecs = 10 * 60;

// The start of the minute t falls in.
QDateTime WholeMinute(const QDateTime& t) {
  QDateTime minute = t;
  minute.setTime(QTime(t.time().hour(), t.time().minute()));
  return minute;
}

}  // namespace

int SchedulerWeekday(const QDate& date) {
  // Qt counts Monday 1 ... Sunday 7.
  return date.dayOfWeek() % 7 + 1;
}

bool ScheduleFileRunnable(const QString& file) {
  const QString suffix = QFileInfo(file).suffix().toLower();
  // The whole extension: a part of one (".jo", ".c") is no job.
  return suffix == QLatin1String("job") || suffix == QLatin1String("cat");
}

bool SaveSchedule(const QString& iniFile, int days, const QTime& time, const QString& file) {
  try {
    IniFile ini(iniFile.toStdString());
    ini.WriteInteger("Scheduled", "days", days);
    ini.WriteString("Scheduled", "time", time.toString(QStringLiteral("HH:mm:ss")).toStdString());
    ini.WriteString("Scheduled", "file", file.toStdString());
    ini.Save();
    return true;
  } catch (const std::system_error& e) {
    MbMessage(QStringLiteral("Settings not saved: ") + QString::fromLocal8Bit(e.what()), kArcavo,
              false, MB_ICONEXCLAMATION);
    return false;
  }
}

void TScheduler::SchedulerTimerTimer() {
  if (!ScheduleFileRunnable(window_.ScheduleFile())) return;
  const QDateTime now = CurrentClock().Now();
  const int today = SchedulerWeekday(now.date());
  // Waiting for the time belongs to the day that was examined: on another weekday the days are
  // examined again, so a day nobody ticked never runs.
  if (stage_ == 1 && today != lastDay_) stage_ = 0;
  if (stage_ == 0) {
    if (today == lastDay_) return;
    lastDay_ = today;
    if (window_.ScheduleDays() & (1 << (today - 1))) stage_ = 1;
    return;
  }
  if (stage_ == 1) {
    const QTime pick = window_.PickerTime();
    if (now.time().hour() == pick.hour() && now.time().minute() >= pick.minute()) {
      stage_ = 2;
      due_ = now;
      due_.setTime(QTime(pick.hour(), pick.minute()));
      timer_.Start(kDueMs);
      if (tray_.TrayShown()) tray_.TrayAnimation(true);
    }
    return;
  }
  OnDue(now);
}

void TScheduler::OnDue(const QDateTime& now) {
  // A dialog or box the user is answering comes first: the run waits for the next tick.
  if (!window_.WindowIdle()) return;
  // A postponed run (run state 1) was confirmed already: no second question or balloon.
  if (!tray_.TrayShown() && runState_ == 0) {
    timer_.Stop();
    if (MbMessage(kQuestion, kArcavo, true, MB_YESNO | MB_ICONQUESTION) != IDYES) {
      tray_.TrayAnimation(false);
      stage_ = 0;
      return;
    }
    window_.MinimiseToTray();
    // The answer may have taken a while.
    StartCheck(std::max(now, CurrentClock().Now()));
    return;
  }
  if (trayMark_ == 0 && runState_ == 0) {
    trayMark_ = 2;
    tray_.ShowBalloon(kArcavo, kBalloon, kBalloonMs);
    tray_.SetPauseItemCaption(QStringLiteral("Abort"));
    tray_.TrayAnimation(true);
    return;
  }
  StartCheck(now);
}

void TScheduler::StartCheck(const QDateTime& now) {
  if (now < due_) {
    timer_.Start(kDueMs);
    return;
  }
  // A pause from the tray is kept through a postponement and drops the run when it starts.
  const bool pausedFromTray = trayMark_ == 1;
  if (!pausedFromTray) trayMark_ = 0;
  tray_.HideBalloon();
  if (runState_ == 0) pauseWasVisible_ = tray_.PauseItemVisible();
  tray_.SetPauseItemVisible(true);
  runState_ = 1;
  if (window_.ArchiveBusy()) {
    // Postponed by ten minutes, carried across the hour and midnight. The timer keeps ticking
    // also when the question had stopped it, or the confirmed run would never happen.
    due_ = WholeMinute(now.addSecs(kPostponeSecs));
    window_.SetPickerTimeQuietly(due_.time());
    timer_.Start(kDueMs);
    return;
  }
  tray_.SetPauseItemCaption(QStringLiteral("Pause"));
  stage_ = 0;
  if (pausedFromTray) {
    trayMark_ = 0;
    RestorePauseItem();
    runState_ = 0;
    timer_.Start(kWaitMs);
    return;
  }
  Run();
}

void TScheduler::Run() {
  timer_.Stop();
  window_.PrepareScheduledRun();
  window_.SetAutoRunFile(window_.ScheduleFile());
  runState_ = 2;
  if (window_.ArchiveName().toUpper().contains(QLatin1String("STEALTH"))) window_.StopDirMonitors();
  ++runs_;
  // The state goes back to waiting also when the run throws.
  struct Done {
    TScheduler& s;
    ~Done() {
      s.runState_ = 0;
      s.RestorePauseItem();
      s.window_.SetAutoRunFile(QString());
      s.stage_ = 0;
      s.timer_.Start(kWaitMs);
    }
  } done{*this};
  window_.OpenAutoRunJob();
}

void TScheduler::RestorePauseItem() {
  tray_.SetPauseItemVisible(pauseWasVisible_);
}

void TScheduler::Set(const QString& iniFile) {
  stage_ = 0;
  timer_.Start(kWaitMs);
  Save(iniFile);
}

void TScheduler::Forget(const QString& iniFile) {
  window_.ClearScheduleControls();
  timer_.Stop();
  Save(iniFile);
}

void TScheduler::Save(const QString& iniFile) {
  SaveSchedule(iniFile, window_.ScheduleDays(), window_.PickerTime(), window_.ScheduleFile());
}

void TScheduler::BalloonClicked() {
  if (stage_ != 2) return;
  timer_.Stop();
  tray_.HideBalloon();
  tray_.TrayAnimation(false);
}

bool TScheduler::TrayClicked() {
  if (runState_ != 1) return false;
  runState_ = 0;
  stage_ = 0;
  timer_.Stop();
  // The postponed run is over: the tray item pauses again instead of aborting.
  tray_.SetPauseItemCaption(QStringLiteral("Pause"));
  RestorePauseItem();
  window_.ShowNoticeFor(QStringLiteral("Scheduled backup cancelled"), kCancelNoticeMs);
  return true;
}

bool TScheduler::AbortDue() {
  tray_.HideBalloon();
  tray_.TrayAnimation(false);
  tray_.SetPauseItemCaption(QStringLiteral("Pause"));
  if (stage_ != 2 && runState_ != 1) return false;
  if (runState_ == 1) RestorePauseItem();
  runState_ = 0;
  stage_ = 0;
  trayMark_ = 0;
  // Today has been examined: the next run is on the next ticked day.
  timer_.Start(kWaitMs);
  window_.ShowNoticeFor(QStringLiteral("Scheduled backup cancelled"), kCancelNoticeMs);
  return true;
}
