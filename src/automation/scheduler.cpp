#include "automation/scheduler.h"

#include <QFileInfo>
#include <QLocale>
#include <QTimeZone>
#include <algorithm>
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

const char kSection[] = "Scheduled";

// Times are kept in UTC with their milliseconds, so that a time read back equals the one kept.
QDateTime ReadUtc(const IniFile& ini, const char* key) {
  const QDateTime t = QDateTime::fromString(
      QString::fromStdString(ini.ReadString(kSection, key, std::string())), Qt::ISODateWithMs);
  return t.isValid() ? t : QDateTime();
}

void WriteUtc(IniFile& ini, const char* key, const QDateTime& t) {
  ini.WriteString(
      kSection, key,
      t.isValid() ? t.toUTC().toString(Qt::ISODateWithMs).toStdString() : std::string());
}

}  // namespace

QDateTime MissedRun(const QDateTime& lastRun, const TScheduleSpec& schedule, const QDateTime& now) {
  if (!schedule.runMissed || !lastRun.isValid() || !schedule.time.isValid() ||
      (schedule.days & 127) == 0)
    return {};
  // The latest scheduled time at or before now; only that one can still be caught up.
  for (int back = 0; back <= 7; ++back) {
    const QDate day = now.date().addDays(-back);
    if (!(schedule.days & (1 << (SchedulerWeekday(day) - 1)))) continue;
    const QDateTime at(day, QTime(schedule.time.hour(), schedule.time.minute()), now.timeZone());
    if (at > now) continue;
    return at > lastRun ? at : QDateTime();
  }
  return {};
}

int ScheduleIntervalDays(int days) {
  days &= 127;
  int longest = 0;
  for (int d = 0; d < 7; ++d) {
    if (!(days & (1 << d))) continue;
    int gap = 1;
    while (!(days & (1 << ((d + gap) % 7)))) ++gap;
    longest = std::max(longest, gap);
  }
  return longest;
}

bool ScheduleStale(const QDateTime& since, int days, int limitDays, const QDateTime& now) {
  const int limit = limitDays > 0 ? limitDays : 2 * ScheduleIntervalDays(days);
  return since.isValid() && limit > 0 && since.addDays(limit) < now;
}

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
  CheckStale(now);
  // A run missed while the program was not running or the machine slept is due first.
  if (catchUpAt_ >= 0 && CurrentClock().TickMs() >= catchUpAt_ && stage_ != 2 && runState_ == 0) {
    catchUpAt_ = -1;
    if (StartCatchUp(now)) return;
  }
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
      QDateTime at = now;
      at.setTime(QTime(pick.hour(), pick.minute()));
      // Caught up already (the program started or woke within the hour): not a second time.
      if (!Claim(at)) {
        stage_ = 0;
        return;
      }
      catchUp_ = QDateTime();
      stage_ = 2;
      due_ = at;
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
    // A catch-up moves only itself; the schedule's time stays.
    if (!catchUp_.isValid()) window_.SetPickerTimeQuietly(due_.time());
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
  QString note;
  if (catchUp_.isValid())
    note = QStringLiteral(
               "Catch-up of the scheduled backup of %1, missed while Arcavo was not "
               "running or the computer was off or asleep")
               .arg(QLocale().toString(catchUp_, QLocale::ShortFormat));
  catchUp_ = QDateTime();
  bool good = false;
  {
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
    good = window_.OpenAutoRunJob(note);
  }
  if (good) {
    lastGood_ = CurrentClock().Now();
    SaveState();
    CheckStale(lastGood_);
  }
}

void TScheduler::Loaded(const QString& iniFile) {
  iniFile_ = iniFile;
  const IniFile ini(iniFile.toStdString());
  lastDue_ = ReadUtc(ini, "lastdue");
  lastGood_ = ReadUtc(ini, "lastgood");
  since_ = ReadUtc(ini, "since");
  staleTold_ = ReadUtc(ini, "staletold");
  window_.SetMissedAndStale(ini.ReadBool(kSection, "runmissed", true),
                            static_cast<int>(ini.ReadInteger(kSection, "stalelimit", 0)));
  const QDateTime now = CurrentClock().Now();
  // A schedule kept before runs were caught up counts from now: nothing was missed yet.
  if (!lastDue_.isValid() || !since_.isValid()) {
    if (!lastDue_.isValid()) lastDue_ = now;
    if (!since_.isValid()) since_ = now;
    SaveState();
  }
  ArmCatchUp();
  CheckStale(now);
}

void TScheduler::ArmCatchUp() {
  catchUpAt_ = CurrentClock().TickMs() + kCatchUpDelayMs;
}

bool TScheduler::StartCatchUp(const QDateTime& now) {
  const QDateTime missed = MissedRun(
      lastDue_, {window_.ScheduleDays(), window_.PickerTime(), window_.RunMissedChecked()}, now);
  if (!missed.isValid() || !Claim(missed)) return false;
  // Due now, through the same question or balloon as a run on time. The weekday is not taken:
  // today's own scheduled time still runs later today.
  catchUp_ = missed;
  stage_ = 2;
  due_ = WholeMinute(now);
  timer_.Start(kDueMs);
  if (tray_.TrayShown()) tray_.TrayAnimation(true);
  return true;
}

bool TScheduler::Claim(const QDateTime& at) {
  if (lastDue_.isValid() && at <= lastDue_) return false;
  lastDue_ = at;
  SaveState();
  return true;
}

void TScheduler::CheckStale(const QDateTime& now) {
  if (iniFile_.isEmpty()) return;
  const QDateTime since = lastGood_.isValid() && lastGood_ > since_ ? lastGood_ : since_;
  QString warning;
  if (ScheduleStale(since, window_.ScheduleDays(), window_.StaleLimitDays(), now))
    warning =
        QStringLiteral("No backup of %1 since %2")
            .arg(QFileInfo(window_.ScheduleFile()).completeBaseName(),
                 QLocale().toString(since.toTimeZone(now.timeZone()).date(), QLocale::ShortFormat));
  if (warning != staleWarning_) {
    staleWarning_ = warning;
    window_.SetTrayWarning(warning);
  }
  // Told once for each last good run (or setting) that went stale, also across restarts.
  if (!warning.isEmpty() && staleTold_ != since) {
    staleTold_ = since;
    SaveState();
    window_.NotifyDesktop(kArcavo, warning);
  }
}

void TScheduler::SaveState() {
  if (iniFile_.isEmpty()) return;
  try {
    IniFile ini(iniFile_.toStdString());
    WriteUtc(ini, "lastdue", lastDue_);
    WriteUtc(ini, "lastgood", lastGood_);
    WriteUtc(ini, "since", since_);
    WriteUtc(ini, "staletold", staleTold_);
    ini.WriteBool(kSection, "runmissed", window_.RunMissedChecked());
    ini.WriteInteger(kSection, "stalelimit", window_.StaleLimitDays());
    ini.Save();
  } catch (const std::system_error&) {
    // The schedule itself is kept by "Set", which tells a failure; without this state a missed
    // run may be caught up once more, or a stale schedule told again.
  }
}

void TScheduler::RestorePauseItem() {
  tray_.SetPauseItemVisible(pauseWasVisible_);
}

void TScheduler::Set(const QString& iniFile) {
  stage_ = 0;
  timer_.Start(kWaitMs);
  const QDateTime now = CurrentClock().Now();
  // Times before the schedule was set are not missed; those of this hour still run, as the
  // timer takes them, unless one of them has run already.
  QDateTime hour = now;
  hour.setTime(QTime(now.time().hour(), 0));
  if (!lastDue_.isValid() || lastDue_ < hour.addSecs(-1)) lastDue_ = hour.addSecs(-1);
  since_ = now;
  catchUp_ = QDateTime();
  catchUpAt_ = -1;
  iniFile_ = iniFile;
  Save(iniFile);
  SaveState();
}

void TScheduler::Forget(const QString& iniFile) {
  window_.ClearScheduleControls();
  timer_.Stop();
  catchUpAt_ = -1;
  if (!staleWarning_.isEmpty()) {
    staleWarning_.clear();
    window_.SetTrayWarning(QString());
  }
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
