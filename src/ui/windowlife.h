// The window's life in the background: the tray, the start at log-on, the global hotkey, the
// window's own keys (Escape, F3) and the power events, with the menu items that drive them.
#pragma once

#include <QObject>
#include <memory>

#include "automation/hotkey.h"
#include "automation/logonstart.h"
#include "automation/pwrsave.h"
#include "automation/traylife.h"
#include "ui/bindings.h"
#include "ui/hotkeydialog.h"

class IStartupSeams;
class QTimer;
class TMainform;
class TX11HotkeyGrab;

class TWindowLife : public QObject, public ITrayWindow, public IPwrSaveHost {
  Q_OBJECT
 public:
  static constexpr const char* kAbortQuestion = "Do you wish to ABORT this operation?";

  TWindowLife(TMainform& form, IStartupSeams& startup);
  ~TWindowLife() override;

  TTrayLife& tray() { return *tray_; }
  TLogonStart& logonStart() { return *logon_; }
  THotkeyDefine& hotkeys() { return *hotkeys_; }
  TPwrSave* powerEvents() const { return power_.get(); }
  // The grab the hotkey uses (the X11 one by default; tests give their own). Null restores it.
  void SetHotkeyGrab(IHotkeyGrab* grab);
  // The hotkey dialog (Qt's by default; tests give their own). Null restores it.
  void SetHotkeyDialog(IHotkeyDialog* dialog);
  // Follows power events on bus (the program: the system bus; tests: a private one).
  void StartPowerEvents(QDBusConnection bus);

  // "StartUp", "Stealth@StartUp", "Define HotKey", the tray's "Pause" and "Resume", the tray
  // icon's click, and the window's keys Escape and F3.
  TBindings Bindings();
  // The balloon's click, the hotkey, the hand-over of "--stealth-now", loading the hotkey.
  void Connect();

  // The window was minimised, or came back from the taskbar.
  void WindowStateChanged(bool minimised);
  // Minimises the window to the tray whatever "Minimise To Tray" says (a scheduled run).
  void MinimiseToTray();
  // The hotkey (or "arcavo --stealth-now"): the stealth hotkey backup, from the event loop.
  void HotkeyPressed();
  // Escape while an operation runs: asks, then stops the backup run or the burn.
  void EscapePressed();
  // The "Archive" tab is the one shown.
  bool ArchivePageShown() const;

  // ITrayWindow
  bool MinimiseToTrayChecked() const override;
  bool TrayAvailable() const override;
  void HideWindow() override;
  void ShowWindow() override;
  QString TrayTitle() const override;
  bool ArchiveOpenForRestore() const override;
  QString ArchiveName() const override;
  bool OperationRunning() const override;
  bool OperationPaused() const override;
  bool MonitorsExist() const override;
  void MonitorsStopStart(bool start) override;
  void RegisterApp() override;
  void UNRegisterApp() override;
  void StopDiscAnimation() override;
  void PauseOperation() override;

  // IPwrSaveHost (OperationRunning, OperationPaused and PauseOperation above)
  bool BackupRunning() const override;

 private:
  void OperationChanged();

  TMainform& form_;
  IStartupSeams& startup_;
  std::unique_ptr<TTrayLife> tray_;
  std::unique_ptr<TLogonStart> logon_;
  std::unique_ptr<TX11HotkeyGrab> x11_;
  TQtHotkeyDialog qtDialog_;
  struct TGrabForwarder;
  struct TDialogForwarder;
  std::unique_ptr<TGrabForwarder> grab_;
  std::unique_ptr<TDialogForwarder> dialog_;
  std::unique_ptr<THotkeyDefine> hotkeys_;
  std::unique_ptr<TPwrSave> power_;
  bool forcedToTray_ = false;
};
