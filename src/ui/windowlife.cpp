#include "ui/windowlife.h"

#include <QAction>
#include <QApplication>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTimer>

#include "app/lifecycle.h"
#include "app/mainwiring.h"
#include "app/mb.h"
#include "app/preferences.h"
#include "app/settingsfiles.h"
#include "app/startupseams.h"
#include "archive/arczip.h"
#include "automation/stealth.h"
#include "backup/backupcore.h"
#include "backup/backuphosts.h"
#include "backup/backuprun.h"
#include "backup/burncommands.h"
#include "disc/discburner.h"
#include "platform/programdir.h"
#include "restore/archivesearch.h"
#include "ui/mainform.h"
#include "ui/reportview.h"
#include "ui/windowautomation.h"
#include "ui/windowhosts.h"
#include "ui/windownames.h"
#include "ui/windowstealth.h"
#include "ui/x11hotkey.h"

namespace {

QString S(const char* s) {
  return QString::fromLatin1(s);
}

}  // namespace

struct TWindowLife::TGrabForwarder : IHotkeyGrab {
  IHotkeyGrab* target = nullptr;
  bool Available() const override { return target->Available(); }
  bool Grab(int modifiers, int key) override { return target->Grab(modifiers, key); }
  void Release() override { target->Release(); }
};

struct TWindowLife::TDialogForwarder : IHotkeyDialog {
  IHotkeyDialog* target = nullptr;
  Result Run(const QString& name, THotkey& captured) override {
    return target->Run(name, captured);
  }
};

TWindowLife::TWindowLife(TMainform& form, IStartupSeams& startup)
    : QObject(&form),
      form_(form),
      startup_(startup),
      tray_(std::make_unique<TTrayLife>(*form.automation(), *this, form.automation()->scheduler())),
      logon_(std::make_unique<TLogonStart>(form.controls(), form.fileDialogs(),
                                           QApplication::applicationFilePath())),
      x11_(std::make_unique<TX11HotkeyGrab>()),
      qtDialog_(&form),
      grab_(std::make_unique<TGrabForwarder>()),
      dialog_(std::make_unique<TDialogForwarder>()) {
  grab_->target = x11_.get();
  dialog_->target = &qtDialog_;
  MainContext& ctx = form.context();
  hotkeys_ = std::make_unique<THotkeyDefine>(*ctx.Prefs, *grab_, *dialog_);
  hotkeys_->store = [&ctx](const QString& name, int modifiers, int key) {
    ctx.Settings->HotkeyDefined(name, modifiers, key);
  };
  logon_->toggleStartMinimised = [&ctx] {
    ctx.Settings->ToggleMenuPreference(QStringLiteral("StartMinimised"));
  };
  logon_->jobFolder = [this, &ctx] {
    return ctx.Prefs->Bool(QStringLiteral("CatDIR")) ? QString::fromStdString(ProgramDir())
                                                     : form_.mainWindow().ExplorerCurrentFolder();
  };
}

TWindowLife::~TWindowLife() {
  MainContext& ctx = form_.context();
  ctx.OnRunStateChanged = nullptr;
  if (ctx.ArcZip1) ctx.ArcZip1->OnBusyChanged = nullptr;
  form_.lifecycle().onStealthNow = nullptr;
  // The grab goes before the hotkey logic that may still name it.
  grab_->target->Release();
}

void TWindowLife::SetHotkeyGrab(IHotkeyGrab* grab) {
  grab_->target = grab ? grab : x11_.get();
}

void TWindowLife::SetHotkeyDialog(IHotkeyDialog* dialog) {
  dialog_->target = dialog ? dialog : &qtDialog_;
}

void TWindowLife::StartPowerEvents(QDBusConnection bus) {
  power_ = std::make_unique<TPwrSave>(*this, std::move(bus));
  // A scheduled run missed while the machine slept is caught up after the wake-up.
  power_->OnResumed = [this] {
    if (form_.automation()) form_.automation()->scheduler().Resumed();
  };
  power_->OperationChanged();
}

TBindings TWindowLife::Bindings() {
  auto untoggled = [this](const char* item, bool checked) {
    form_.controls().SetControlChecked(S(item), !checked);
  };
  return {
      OnItem(
          ctl::kStartUpItem, "start at log-on (TLogonStart::StartUpClick)",
          [this, untoggled](bool checked) {
            untoggled(ctl::kStartUpItem, checked);
            logon_->StartUpClick();
          },
          this),
      OnItem(
          ctl::kStealthAtStartUpItem,
          "stealth start at log-on (TLogonStart::StealthAtStartUpClick)",
          [this, untoggled](bool checked) {
            untoggled(ctl::kStealthAtStartUpItem, checked);
            logon_->StealthAtStartUpClick();
          },
          this),
      OnItem(
          ctl::kDefineHotKeyItem, "define the hotkey (THotkeyDefine::DefineHotKeyClick)",
          [this](bool) { hotkeys_->DefineHotKeyClick(); }, this),
      OnItem(
          bctl::kTrayPauseItem, "pause from the tray (TTrayLife::PauseItem)",
          [this](bool) { tray_->PauseItem(); }, this),
      OnItem(
          bctl::kTrayResumeItem, "resume from the tray (TTrayLife::ResumeItem)",
          [this](bool) { tray_->ResumeItem(); }, this),
      OnTrayClick(
          ctl::kTrayIcon, "bring the window back (TTrayLife::Restore)",
          [this] { tray_->Restore(); }, this),
      // Escape asks before it stops the running operation; without one it goes on to the control.
      OnKey(
          "Esc", "stop the running operation (TWindowLife::EscapePressed)",
          [this] { EscapePressed(); }, [this] { return OperationRunning(); }, this),
      // F3 repeats the global search while the "Archive" tab is shown.
      OnKey(
          "F3", "repeat the global search (TArchiveSearch::GrepeatClick)",
          [this] {
            if (restore::TArchiveSearch* search = form_.archiveSearch()) search->GrepeatClick();
          },
          [this] { return ArchivePageShown(); }, this),
  };
}

void TWindowLife::Connect() {
  MainContext& ctx = form_.context();
  if (QSystemTrayIcon* icon = form_.trayIcon())
    connect(icon, &QSystemTrayIcon::messageClicked, this, [this] { tray_->BalloonClicked(); });
  connect(x11_.get(), &TX11HotkeyGrab::pressed, this, [this] { HotkeyPressed(); });
  form_.lifecycle().onStealthNow = [this] { HotkeyPressed(); };
  // The hotkey is taken once the default file has given its three keys.
  connect(ctx.Settings.get(), &TSettingsFiles::preferenceLoaded, this, [this](const QString& key) {
    if (key == QLatin1String("HotKeyVK#")) hotkeys_->Load();
  });
  ctx.OnRunStateChanged = [this] { OperationChanged(); };
  ctx.ArcZip1->OnBusyChanged = [this] { OperationChanged(); };
}

void TWindowLife::OperationChanged() {
  if (power_) power_->OperationChanged();
}

void TWindowLife::WindowStateChanged(bool minimised) {
  if (minimised) {
    if (!tray_->Away()) tray_->GoToTray();
  } else if (tray_->Away() && form_.isVisible()) {
    // Back from the taskbar (no tray): as a click on the icon.
    tray_->Restore();
  }
}

void TWindowLife::MinimiseToTray() {
  if (tray_->Away()) return;
  forcedToTray_ = true;
  form_.showMinimized();
  forcedToTray_ = false;
}

void TWindowLife::EscapePressed() {
  if (MbMessage(S(kAbortQuestion), QStringLiteral("Arcavo"), false, MB_YESNO | MB_ICONQUESTION) !=
      IDYES)
    return;
  TBackupRun& run = form_.backup()->run();
  if (run.RunInProgress()) {
    run.WriteZbtnClick();
  } else {
    // Only the burn stops: the burn command that waits for it goes on with the writer (its
    // message and retry), so the writer is not released here.
    if (TBackupCore* backup = form_.backup()) backup->burn().AbortWrite();
    form_.mainWindow().GaugeClear();
    startup_.CancelOperation();
  }
}

bool TWindowLife::ArchivePageShown() const {
  auto* pages = form_.findChild<QTabWidget*>(S(ctl::kPages));
  return pages && pages->currentWidget()->objectName() == S(ctl::kArchivePage);
}

void TWindowLife::HotkeyPressed() {
  // Never inside the native event or the hand-over: the pass runs from the event loop.
  QTimer::singleShot(0, this,
                     [this] { form_.HotkeyBackup(tray_->Away(), tray_->TrayStealth() == 1); });
}

// --- ITrayWindow ---

bool TWindowLife::MinimiseToTrayChecked() const {
  return forcedToTray_ || form_.controls().ControlChecked(S(ctl::kMinToTrayItem));
}

bool TWindowLife::TrayAvailable() const {
  return form_.trayIcon() && QSystemTrayIcon::isSystemTrayAvailable();
}

void TWindowLife::HideWindow() {
  form_.hide();
}

void TWindowLife::ShowWindow() {
  form_.showNormal();
  form_.raise();
  form_.activateWindow();
}

QString TWindowLife::TrayTitle() const {
  return form_.context().TrayTitle;
}

bool TWindowLife::ArchiveOpenForRestore() const {
  return form_.controls().ControlEnabled(S(ctl::kZipTestItem));
}

QString TWindowLife::ArchiveName() const {
  return form_.context().ZipName;
}

bool TWindowLife::OperationRunning() const {
  TBackupCore* backup = form_.backup();
  const restore::TArchiveSearch* search = form_.archiveSearch();
  return (backup && (backup->run().RunInProgress() || backup->ArcZip1.Busy() ||
                     backup->burn().Burner().Writing())) ||
         (search && search->Running());
}

bool TWindowLife::OperationPaused() const {
  return form_.backup() && form_.backup()->run().PauseMode();
}

bool TWindowLife::BackupRunning() const {
  return form_.backup() && form_.backup()->run().RunInProgress();
}

bool TWindowLife::MonitorsExist() const {
  return form_.StealthMonitorCount() > 0;
}

void TWindowLife::MonitorsStopStart(bool start) {
  form_.StealthMonitorsStopStart(start);
}

void TWindowLife::RegisterApp() {
  form_.lifecycle().RegisterApp();
}

void TWindowLife::UNRegisterApp() {
  form_.lifecycle().UNRegisterApp();
}

void TWindowLife::StopDiscAnimation() {
  if (TWindowReport* report = form_.reportView()) report->DiscAnimation(false);
}

void TWindowLife::PauseOperation() {
  if (form_.backup()) form_.backup()->run().PauseBtnClick();
}

// --- What the window modes and the settings ask of the tray and the log-on start ---

void TWindowModes::ResetTrayStealthFlag() {
  if (form_.life()) form_.life()->tray().ResetTrayStealth();
}

void TWindowModes::SetTrayIconStatic() {
  if (TWindowReport* report = form_.reportView()) report->TrayAnimation(false);
}

int TWindowMain::RunOnStartup() const {
  return TLogonStart::Registration();
}

// --- The stealth side of the window ---

void TMainform::HotkeyBackup(bool inTray, bool trayStealth) {
  stealth_->logic().HotkeyBackup(inTray, trayStealth);
}

int TMainform::StealthMonitorCount() const {
  return stealth_->logic().MonitorCount();
}

void TMainform::StealthMonitorsStopStart(bool start) {
  stealth_->MonitorsStopStart(start);
}
