// The weekly scheduler: runs one saved job on chosen weekdays at a chosen time of day.
//
// One call of SchedulerTimerTimer() is one tick of the scheduler timer. The scheduler reads the
// time only through CurrentClock() and drives its timer, the tray icon and the window through
// the small interfaces below, so tests tick it by hand with fakes.
#pragma once

#include <QDateTime>
#include <QString>
#include <QTime>
#include <cstdint>

// The scheduler's timer: one minute while waiting, ten seconds while a run is due.
class ISchedulerTimer {
 public:
  virtual ~ISchedulerTimer() = default;
  virtual void Start(int intervalMs) = 0;
  virtual void Stop() = 0;
  virtual bool Active() const = 0;
  virtual int Interval() const = 0;
};

// The tray icon as the scheduler and the tray life (traylife.h) use it. Without a tray (none
// available on the desktop) the icon is never shown and the window's question is asked instead.
class ITrayHost {
 public:
  virtual ~ITrayHost() = default;
  virtual bool TrayShown() const = 0;
  virtual void TrayAnimation(bool on) = 0;
  virtual void ShowBalloon(const QString& title, const QString& text, int timeoutMs) = 0;
  virtual void HideBalloon() = 0;
  // The tray menu's "Pause" item.
  virtual QString PauseItemCaption() const = 0;
  virtual void SetPauseItemCaption(const QString& caption) = 0;
  virtual bool PauseItemVisible() const = 0;
  virtual void SetPauseItemVisible(bool visible) = 0;
  // The icon itself: shown with a hint, hidden, its picture (0 idle grey, 1 the program's), the
  // hint, and the "Resume" item.
  virtual void ShowIcon(const QString& hint) = 0;
  virtual void HideIcon() = 0;
  virtual void SetIconImage(int picture) = 0;
  virtual void SetHint(const QString& hint) = 0;
  virtual bool ResumeItemVisible() const = 0;
  virtual void SetResumeItemVisible(bool visible) = 0;
};

// The window's side: the scheduler's controls and the run of the job.
class ISchedulerWindow {
 public:
  virtual ~ISchedulerWindow() = default;
  // Day boxes as a mask: Sunday 1, Monday 2, ..., Saturday 64.
  virtual int ScheduleDays() const = 0;
  virtual QTime PickerTime() const = 0;
  // Moves the picker without the change handling of the controls.
  virtual void SetPickerTimeQuietly(const QTime& time) = 0;
  virtual QString ScheduleFile() const = 0;
  // An archive operation is running.
  virtual bool ArchiveBusy() const = 0;
  // No modal dialog or box is open and no nested event loop turns.
  virtual bool WindowIdle() const = 0;
  virtual void MinimiseToTray() = 0;
  // Before the run: the report box is enabled and the zip engine reset.
  virtual void PrepareScheduledRun() = 0;
  virtual QString ArchiveName() const = 0;
  virtual void SetAutoRunFile(const QString& file) = 0;
  // Stops every directory monitor (the current archive is a stealth archive).
  virtual void StopDirMonitors() = 0;
  // Opens and runs the job named by the auto-run file; note ("" for none) is a line its report
  // gives after the first. True when the job ran and its backup succeeded.
  virtual bool OpenAutoRunJob(const QString& note) = 0;
  // "Forget": every day box unticked, "Set" disabled, the edit back to "JOB Filename" and the
  // picker at 12:00:00.
  virtual void ClearScheduleControls() = 0;
  // A modeless notice (caption "Arcavo") that closes by itself after ms milliseconds.
  virtual void ShowNoticeFor(const QString& text, int ms) = 0;
  // "Run missed backups" and the limit (days, 0: twice the schedule's interval) after which a
  // schedule without a good run is told as stale; set from the stored schedule.
  virtual bool RunMissedChecked() const { return true; }
  virtual int StaleLimitDays() const { return 0; }
  virtual void SetMissedAndStale(bool /*runMissed*/, int /*limitDays*/) {}
  // A desktop notification; the tray icon's hint adds warning ("" for none).
  virtual void NotifyDesktop(const QString& /*summary*/, const QString& /*body*/) {}
  virtual void SetTrayWarning(const QString& /*warning*/) {}
};

// The schedule as the catch-up decision sees it.
struct TScheduleSpec {
  int days = 0;  // Sunday 1 ... Saturday 64
  QTime time;
  bool runMissed = true;
};
// The scheduled time a catch-up run is for: the latest time of the schedule after lastRun and
// at or before now (one run, however many were missed), in now's time zone. Invalid when none
// passed, catching up is off, or there is no last run to count from.
QDateTime MissedRun(const QDateTime& lastRun, const TScheduleSpec& schedule, const QDateTime& now);
// The longest time between two scheduled runs in days (7 for one day a week); 0 for no day.
int ScheduleIntervalDays(int days);
// A schedule whose last good run (or, before the first, its setting) at since is older than the
// limit (limitDays; 0: twice the interval) at now is stale.
bool ScheduleStale(const QDateTime& since, int days, int limitDays, const QDateTime& now);

// Weekday as the scheduler counts it: 1 Sunday ... 7 Saturday.
int SchedulerWeekday(const QDate& date);
// The job file's extension, lower-cased, is one the scheduler runs (".job" or ".cat").
bool ScheduleFileRunnable(const QString& file);
// Writes "days", "time" (24-hour "HH:mm:ss") and "file" into section "Scheduled" of iniFile, in
// one atomic save. A failure is told in a box; returns false then.
bool SaveSchedule(const QString& iniFile, int days, const QTime& time, const QString& file);

class TScheduler {
 public:
  TScheduler(ISchedulerTimer& timer, ITrayHost& tray, ISchedulerWindow& window)
      : timer_(timer), tray_(tray), window_(window) {}

  static constexpr int kWaitMs = 60000;
  static constexpr int kDueMs = 10000;
  static constexpr int kCancelNoticeMs = 4000;

  // One tick of the scheduler timer.
  void SchedulerTimerTimer();

  // "Set": stage 0, the timer runs and the schedule is written to iniFile.
  void Set(const QString& iniFile);
  // "Forget": the controls are cleared, the timer stops and the empty schedule is written.
  void Forget(const QString& iniFile);
  // Any change of a day box, the picker or the job-file edit: today is examined again.
  void ControlsChanged() { lastDay_ = 0; }
  // The balloon was clicked: the due run does not happen (the stage stays 2 until "Set").
  void BalloonClicked();
  // The tray icon (or its "Restore" item) was clicked. True when that cancelled a postponed run
  // (the click does nothing else then); the notice is shown for kCancelNoticeMs.
  bool TrayClicked();
  // The tray's "Abort" while a run is due (counting down, postponed, or stopped by a balloon
  // click): that run does not happen, the tray item pauses again and the scheduler waits for
  // the next ticked day. False when no run was due (the item is only set back).
  bool AbortDue();

  int Stage() const { return stage_; }
  void SetStage(int stage) { stage_ = stage; }
  int LastDay() const { return lastDay_; }
  int RunState() const { return runState_; }
  int TrayMark() const { return trayMark_; }
  // The tray's "Pause" sets 1 and "Resume" clears it.
  void SetTrayMark(int mark) { trayMark_ = mark; }
  // When the due run starts at the earliest (valid while the stage is 2).
  QDateTime Due() const { return due_; }
  // Runs started.
  int Runs() const { return runs_; }

  // The stored schedule was loaded from iniFile (where its state is kept from now on): a run
  // missed since the last one is caught up after kCatchUpDelayMs.
  void Loaded(const QString& iniFile);
  // The machine woke from sleep: a run missed meanwhile is caught up after kCatchUpDelayMs.
  void Resumed() { ArmCatchUp(); }
  static constexpr int kCatchUpDelayMs = 30000;
  // The last scheduled time dealt with (run, refused or caught up) and the last good run.
  QDateTime LastDue() const { return lastDue_; }
  QDateTime LastGood() const { return lastGood_; }
  // The tray's warning that the schedule is stale ("" while it is not).
  QString StaleWarning() const { return staleWarning_; }

 private:
  void OnDue(const QDateTime& now);
  void StartCheck(const QDateTime& now);
  void Run();
  void RestorePauseItem();
  void Save(const QString& iniFile);
  void ArmCatchUp();
  bool StartCatchUp(const QDateTime& now);
  // Marks the scheduled time at as dealt with; false when it was already (caught up).
  bool Claim(const QDateTime& at);
  void CheckStale(const QDateTime& now);
  void SaveState();

  ISchedulerTimer& timer_;
  ITrayHost& tray_;
  ISchedulerWindow& window_;
  int stage_ = 0;
  int lastDay_ = 0;
  int runState_ = 0;
  int trayMark_ = 0;
  bool pauseWasVisible_ = false;
  QDateTime due_;
  int runs_ = 0;
  // Kept in section "Scheduled" of iniFile_ (times in UTC): the last scheduled time dealt
  // with, the last good run, when the schedule was set, and the stale state already told.
  QString iniFile_;
  QDateTime lastDue_;
  QDateTime lastGood_;
  QDateTime since_;
  QDateTime staleTold_;
  // The missed time the due run catches up (invalid for a run on time).
  QDateTime catchUp_;
  // The clock's tick from which a catch-up is looked for; -1 when none is pending.
  int64_t catchUpAt_ = -1;
  QString staleWarning_;
};
