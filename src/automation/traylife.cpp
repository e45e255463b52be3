#include "automation/traylife.h"

#include "automation/scheduler.h"

bool TTrayLife::GoToTray() {
  const bool toTray = window_.MinimiseToTrayChecked() && window_.TrayAvailable();
  away_ = true;
  if (toTray) {
    tray_.ShowIcon(window_.TrayTitle());
    window_.HideWindow();
  }
  trayStealth_ = 0;
  if (!window_.ArchiveOpenForRestore() &&
      window_.ArchiveName().toUpper().contains(QStringLiteral("STEALTH"))) {
    trayStealth_ = 1;
    window_.RegisterApp();
  }
  if (window_.OperationRunning()) {
    tray_.TrayAnimation(true);
    tray_.SetPauseItemVisible(true);
    tray_.SetResumeItemVisible(false);
  } else if (window_.MonitorsExist() && trayStealth_ == 1) {
    window_.MonitorsStopStart(true);
    tray_.SetPauseItemVisible(true);
    tray_.SetResumeItemVisible(false);
  }
  if (window_.OperationPaused()) {
    tray_.TrayAnimation(false);
    tray_.SetIconImage(1);
    tray_.SetPauseItemVisible(false);
    tray_.SetResumeItemVisible(true);
  }
  return toTray;
}

void TTrayLife::Restore() {
  // A postponed scheduled run is cancelled by the click, and that is all the click does.
  if (scheduler_.TrayClicked()) return;
  if (window_.ArchiveName().toUpper().contains(QStringLiteral("STEALTH_"))) window_.UNRegisterApp();
  tray_.HideIcon();
  if (trayStealth_ == 1) window_.MonitorsStopStart(false);
  if (!window_.OperationRunning()) window_.StopDiscAnimation();
  away_ = false;
  window_.ShowWindow();
}

void TTrayLife::PauseItem() {
  // Qt shows "Abort" without an accelerator mark; the branch is taken on the caption either way.
  QString caption = tray_.PauseItemCaption();
  caption.remove(u'&');
  if (caption == QLatin1String("Abort")) {
    // Only the scheduler's countdown shows "Abort": it cancels that run and nothing else.
    scheduler_.AbortDue();
    tray_.TrayAnimation(false);
    return;
  }
  if (trayStealth_ == 1) window_.MonitorsStopStart(false);
  if (window_.OperationRunning() && !window_.OperationPaused()) window_.PauseOperation();
  scheduler_.SetTrayMark(1);
  tray_.SetPauseItemVisible(false);
  tray_.SetResumeItemVisible(true);
}

void TTrayLife::ResumeItem() {
  if (trayStealth_ == 1) {
    window_.MonitorsStopStart(true);
    tray_.SetIconImage(1);
  }
  if (window_.OperationPaused()) window_.PauseOperation();
  scheduler_.SetTrayMark(0);
  tray_.SetPauseItemVisible(true);
  tray_.SetResumeItemVisible(false);
}

void TTrayLife::BalloonClicked() {
  scheduler_.BalloonClicked();
}
