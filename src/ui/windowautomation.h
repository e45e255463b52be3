// The window's side of the weekly scheduler and the update check: the scheduler's timer, the
// tray icon and the scheduler's controls as the scheduler sees them, the change handlers of those
// controls, and the "&Check4Update" command with its boxes.
#pragma once

#include <QObject>
#include <memory>

#include "automation/chkupdate.h"
#include "automation/scheduler.h"
#include "ui/bindings.h"

class IStartupSeams;
class TMainform;

class TWindowAutomation : public QObject,
                          public ISchedulerTimer,
                          public ITrayHost,
                          public ISchedulerWindow {
  Q_OBJECT
 public:
  TWindowAutomation(TMainform& form, IStartupSeams& startup);
  ~TWindowAutomation() override;

  TScheduler& scheduler() { return scheduler_; }
  TChkUpdate& updateCheck() { return *update_; }
  // Where "Yes" to a found update opens the home page (null: the desktop).
  void SetUrlOpener(IUrlOpener* opener);

  // "Set", "Forget" and "&Check4Update".
  TBindings Bindings();
  // The controls' change handlers, the click into the job-file edit and the scheduler timer's
  // tick. (The tray icon's clicks go to the tray life: TWindowLife.)
  void Connect();
  // The job-file edit got a file from "Open JOB file" (or the default settings).
  void JobFileChosen();
  // The tray icon or its "Restore" item: a postponed run is cancelled, else the window comes back.
  void TrayRestore();
  void CheckForUpdate();

  // ISchedulerTimer over the window's scheduler timer.
  void Start(int intervalMs) override;
  void Stop() override;
  bool Active() const override;
  int Interval() const override;

  // ITrayHost over the window's tray icon.
  bool TrayShown() const override;
  void TrayAnimation(bool on) override;
  void ShowBalloon(const QString& title, const QString& text, int timeoutMs) override;
  void HideBalloon() override;
  QString PauseItemCaption() const override;
  void SetPauseItemCaption(const QString& caption) override;
  bool PauseItemVisible() const override;
  void SetPauseItemVisible(bool visible) override;
  void ShowIcon(const QString& hint) override;
  void HideIcon() override;
  void SetIconImage(int picture) override;
  void SetHint(const QString& hint) override;
  bool ResumeItemVisible() const override;
  void SetResumeItemVisible(bool visible) override;

  // ISchedulerWindow over the scheduler's controls and the window.
  int ScheduleDays() const override;
  QTime PickerTime() const override;
  void SetPickerTimeQuietly(const QTime& time) override;
  QString ScheduleFile() const override;
  bool ArchiveBusy() const override;
  bool WindowIdle() const override;
  void MinimiseToTray() override;
  void PrepareScheduledRun() override;
  QString ArchiveName() const override;
  void SetAutoRunFile(const QString& file) override;
  void StopDirMonitors() override;
  bool OpenAutoRunJob(const QString& note) override;
  void ClearScheduleControls() override;
  void ShowNoticeFor(const QString& text, int ms) override;
  bool RunMissedChecked() const override;
  int StaleLimitDays() const override;
  void SetMissedAndStale(bool runMissed, int limitDays) override;
  void NotifyDesktop(const QString& summary, const QString& body) override;
  void SetTrayWarning(const QString& warning) override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ControlChanged();
  void EnableSet(bool on);

  TMainform& form_;
  IStartupSeams& startup_;
  TScheduler scheduler_;
  std::unique_ptr<TChkUpdate> update_;
  std::unique_ptr<IUrlOpener> desktop_;
  bool quiet_ = false;
  // The tray icon's hint as last set, and the stale schedule's warning it adds.
  QString hint_;
  QString trayWarning_;
};
