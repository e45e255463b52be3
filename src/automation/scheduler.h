// The weekly scheduler: runs one saved job on chosen weekdays at a chosen time of day.
//
// One call of SchedulerTimerTimer() is one tick of the scheduler timer. The scheduler reads the
// time only through CurrentClock() and drives its timer, the tray icon and the window through
// the small interfaces below, so tests tick it by hand with fakes.
#pragma once

#include <QDateTime>
#include <QString>
#include <QTime>

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
  // Opens and runs the job named by the auto-run file.
  virtual void OpenAutoRunJob() = 0;
  // "Forget": every day box unticked, "Set" disabled, the edit back to "JOB Filename" and the
  // picker at 12:00:00.
  virtual void ClearScheduleControls() = 0;
  // A modeless notice (caption "Arcavo") that closes by itself after ms milliseconds.
  virtual void ShowNoticeFor(const QString& text, int ms) = 0;
};

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

 private:
  void OnDue(const QDateTime& now);
  void StartCheck(const QDateTime& now);
  void Run();
  void RestorePauseItem();
  void Save(const QString& iniFile);

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
};
