// Life in the tray: going to the tray when the window is minimised, coming back on a click of the
// icon or "Restore", and the tray menu's "Pause" and "Resume". Without a tray on the desktop the
// window is minimised normally with the same bookkeeping, and bringing it back counts as the
// click on the icon.
#pragma once

#include <QString>

class ITrayHost;
class TScheduler;

// The window's side of the tray.
class ITrayWindow {
 public:
  virtual ~ITrayWindow() = default;
  // "Minimise To Tray" is checked.
  virtual bool MinimiseToTrayChecked() const = 0;
  // The desktop shows tray icons.
  virtual bool TrayAvailable() const = 0;
  // Hides the window (it lives in the tray), shows it again.
  virtual void HideWindow() = 0;
  virtual void ShowWindow() = 0;
  virtual QString TrayTitle() const = 0;
  // An archive is open for restore ("ZIPtest" enabled).
  virtual bool ArchiveOpenForRestore() const = 0;
  virtual QString ArchiveName() const = 0;
  // An archive operation runs, and it is paused.
  virtual bool OperationRunning() const = 0;
  virtual bool OperationPaused() const = 0;
  // The stealth folder monitors: whether there are any, and stopping or starting them.
  virtual bool MonitorsExist() const = 0;
  virtual void MonitorsStopStart(bool start) = 0;
  // The folder verb of the file managers.
  virtual void RegisterApp() = 0;
  virtual void UNRegisterApp() = 0;
  virtual void StopDiscAnimation() = 0;
  // The "Pause" button's operation (pauses, or continues a paused operation).
  virtual void PauseOperation() = 0;
};

class TTrayLife {
 public:
  TTrayLife(ITrayHost& tray, ITrayWindow& window, TScheduler& scheduler)
      : tray_(tray), window_(window), scheduler_(scheduler) {}

  // The window was minimised: it goes to the tray with "Minimise To Tray", else it stays
  // minimised. Either way the tray stealth bookkeeping is done. Returns true when the window went
  // to the tray.
  bool GoToTray();
  // A click on the icon, "Restore", or the window brought back from the taskbar.
  void Restore();
  // The tray menu's "Pause" and "Resume". "Pause" reads "Abort" while a scheduled run is due:
  // it then cancels that run.
  void PauseItem();
  void ResumeItem();
  // A click on a balloon tip.
  void BalloonClicked();

  // The window is away (in the tray, or minimised with the tray bookkeeping done).
  bool Away() const { return away_; }
  // The tray stealth flag: 1 while the window is away with a stealth archive current.
  int TrayStealth() const { return trayStealth_; }
  // The window mode reset clears the flag.
  void ResetTrayStealth() { trayStealth_ = 0; }

 private:
  ITrayHost& tray_;
  ITrayWindow& window_;
  TScheduler& scheduler_;
  int trayStealth_ = 0;
  bool away_ = false;
};
