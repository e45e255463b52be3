#include "ui/windowstealth.h"

#include <sys/stat.h>

#include <QGuiApplication>
#include <QTimer>
#include <algorithm>
#include <exception>

#include "app/clock.h"
#include "app/explorer.h"
#include "app/maincontext.h"
#include "app/optionlist.h"
#include "app/optionnames.h"
#include "app/optionscontroller.h"
#include "app/pathbytes.h"
#include "app/settingsfiles.h"
#include "app/sourcelists.h"
#include "app/startupseams.h"
#include "archive/arczip.h"
#include "archive/zipsession.h"
#include "backup/backuphosts.h"
#include "backup/naming.h"
#include "ui/mainform.h"
#include "ui/reportview.h"
#include "ui/windowautomation.h"
#include "ui/windowhosts.h"
#include "ui/windownames.h"

namespace {

QString S(const char* text) {
  return QString::fromLatin1(text);
}

// The smallest zip file: its end record alone. Anything larger holds entries (or a comment).
constexpr off_t kEmptyZipSize = 22;

}  // namespace

TWindowStealth::TWindowStealth(TMainform& form, IStartupSeams& startup)
    : QObject(&form), form_(form), startup_(startup), stealth_(*this) {
  TStealth::DeliverOnMainThread();
}

TWindowStealth::~TWindowStealth() {
  stealth_.FreeDirMonitors();
}

TBindings TWindowStealth::Bindings() {
  auto toggle = [this](const char* item, const char* key, std::function<bool(bool)> decide) {
    return OnItem(
        item, "a stealth menu item (TStealth)",
        [this, item, key, decide](bool checked) { MenuToggle(item, key, !checked, decide); }, this);
  };
  return {
      toggle(ctl::kStealthEnableItem, "StealthEnabled",
             [this](bool was) { return stealth_.ToggleEnabled(was); }),
      toggle(ctl::kStealthExclZipItem, "StealthZIP",
             [this](bool was) { return stealth_.ToggleExclZip(was); }),
      toggle(ctl::kAutoRenameOnSizeItem, "StealthARen",
             [this](bool was) { return stealth_.ToggleAutoRename(was); }),
      toggle(ctl::kMinimizeOnLoadItem, "StealthMinimizeOnLoad", [](bool was) { return !was; }),
      // The general timer drives the stealth countdown and the instant backup's passes.
      OnTimer(
          ctl::kGeneralTimer, "the stealth tick (TStealth::Tick)", [this] { stealth_.Tick(); },
          this),
  };
}

void TWindowStealth::MenuToggle(const char* item, const char* key, bool wasChecked,
                                const std::function<bool(bool)>& decide) {
  // The item has toggled itself; the decision starts from the mark it had.
  form_.controls().SetControlChecked(S(item), wasChecked);
  if (decide(wasChecked) != wasChecked) form_.context().Settings->ToggleMenuPreference(S(key));
}

ITrayHost* TWindowStealth::Tray() const {
  return form_.automation();
}

Qt::KeyboardModifiers TWindowStealth::Modifiers() const {
  return modifiers ? modifiers() : QGuiApplication::queryKeyboardModifiers();
}

// --- Job and settings ---

QObject* TWindowStealth::NoticeCancelTarget() {
  return &form_;
}

QString TWindowStealth::ArchiveName() const {
  return form_.context().ZipName;
}

QStringList TWindowStealth::TickedPaths() {
  TExplorer& explorer = *form_.context().Explorer;
  explorer.Refresh();
  return explorer.Store().TickedPathList();
}

bool TWindowStealth::StealthExclZip() const {
  return form_.controls().ControlChecked(S(ctl::kStealthExclZipItem));
}

bool TWindowStealth::MonitorSubDirectories() const {
  return form_.context().Lists->stealthList.Checked(opt::kStealthMonitorSubDirs);
}

bool TWindowStealth::JobRecursion() const {
  return form_.context().Lists->directoryList.Checked(opt::kDirRecursion);
}

bool TWindowStealth::MoveThenDelete() const {
  return form_.context().Lists->modeList.Checked(opt::kModeMove);
}

void TWindowStealth::SetStealthListEnabled(bool enabled) {
  form_.controls().SetControlEnabled(S(ctl::kStealthList), enabled);
}

void TWindowStealth::CheckAddVersioning() {
  form_.context().Lists->functionsList.SetChecked(opt::kFnVersioning, true);
}

void TWindowStealth::SetAutoRunFile(const QString& file) {
  form_.context().AutoRunFile = file;
}

void TWindowStealth::SetArchiveName(const QString& name) {
  startup_.SetArchiveName(name);
}

// --- Engine ---

bool TWindowStealth::ArchiveBusy() const {
  const MainContext& ctx = form_.context();
  // An operation holds the engine (an extraction or a test included), a backup run is between
  // two engine calls, or the archive search runs.
  return startup_.ArchiveBusy() || ctx.ArcZip1->SessionOpen() || ctx.RunInProgress;
}

bool TWindowStealth::ArchiveHasEntries() const {
  // Asked for every reported change, also while an operation runs: the file is looked at, the
  // engine is not.
  struct stat st;
  return ::stat(PathBytes(ArchiveName()).c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
         st.st_size > kEmptyZipSize;
}

bool TWindowStealth::ArchiveExists() const {
  return PathIsFile(ArchiveName());
}

void TWindowStealth::OpenArchive() {
  TArcZip& zip = *form_.context().ArcZip1;
  if (ArchiveBusy()) return;
  // The read takes the engine as every operation does: its handlers, then the idle state back.
  TZipSession session(zip);
  if (!session) return;
  try {
    zip.SetZipName(PathBytes(ArchiveName()));
    zip.ReadArchive();
  } catch (const std::exception&) {
    // A damaged archive is told by the first pass that writes to it.
  }
}

QString TWindowStealth::AddFiles(const QStringList& files) {
  MainContext& ctx = form_.context();
  TArcZip& zip = *ctx.ArcZip1;
  TZipSession session(zip);
  if (!session) return QStringLiteral("An archive operation is running");
  const std::string archive = PathBytes(ArchiveName());
  const bool versioning = std::exchange(versionDue_, false);
  bool versioned = false;
  int stored = 0;
  QString error;
  try {
    if (zip.ZipName() != archive) zip.SetZipName(archive);
    // The entries move into their version folder in memory; the write below stores the move
    // with the new files in one rewrite.
    if (versioning && PathIsFile(ArchiveName())) {
      MakeVerDIR(zip, CurrentClock().Now(),
                 [&zip](int index, const std::string& path) { zip.SetEntryPath(index, path); });
      versioned = true;
    }
    zip.StorePaths = true;
    zip.RelativePaths = false;
    zip.ZipAction = TZipAction::zaReplace;
    zip.ReplaceArchive = false;
    zip.KeepZipOpen = true;
    zip.IncludeHiddenFiles = true;
    zip.IncludeSysFiles = true;
    zip.Recurse = settings_.recurse;
    zip.Dispose = settings_.deleteSources;
    zip.SkipIfArchiveBitNotSet = settings_.archiveBitOnly;
    zip.ResetArchiveBitOnZip = settings_.archiveBitOnly;
    zip.ExcludeList.clear();
    zip.NoCompressList.clear();
    if (!settings_.noExcludes)
      DoZipExcludeList(*ctx.Grid, settings_.excludeZip, zip.ExcludeList, zip.NoCompressList);
    zip.FilesList.clear();
    for (const QString& f : files) zip.FilesList.push_back(PathBytes(f));
    stored = zip.ZipFiles();
  } catch (const std::exception& e) {
    error = QString::fromStdString(e.what());
    if (error.isEmpty()) error = QStringLiteral("The archive could not be written");
  }
  // A write that stored nothing leaves the archive as it was: the version folder given in
  // memory goes too, so that no later write stores an empty version.
  if (versioned && (stored == 0 || !error.isEmpty())) {
    zip.CloseArchive();
    zip.SetZipName(archive);
  }
  // Nobody watches a stealth pass: a failed one is told on the desktop too.
  if (!error.isEmpty()) TellAutomaticRunEnd(ctx, {ArchiveName(), kExitRunFailed, error, QString()});
  return error;
}

// --- Window, tray, timer ---

bool TWindowStealth::WindowHidden() const {
  return !form_.isVisible();
}

void TWindowStealth::Minimise() {
  startup_.HideToTrayMinimised();
}

void TWindowStealth::SetTrayStealth(bool running) {
  ITrayHost* tray = Tray();
  if (!tray) return;
  const QString title = form_.context().TrayTitle;
  tray->SetHint(running ? title + QStringLiteral(" Stealth") : title);
  tray->SetIconImage(1);
  tray->SetPauseItemVisible(running);
  tray->SetResumeItemVisible(!running);
}

void TWindowStealth::TrayAnimation(bool on) {
  if (ITrayHost* tray = Tray()) tray->TrayAnimation(on);
  if (!on)
    if (TWindowReport* report = form_.reportView()) report->TrayIcon(1);
}

void TWindowStealth::ClearStatusBar() {
  TWindowModes(form_).ClearStatusBar();
}

void TWindowStealth::Delay(int ms) {
  ::Delay(ms / std::max(1, speedUp));
}

void TWindowStealth::StartGeneralTimer(int intervalMs) {
  form_.generalTimer()->start(std::max(1, intervalMs / std::max(1, speedUp)));
}

void TWindowStealth::StopGeneralTimer() {
  form_.generalTimer()->stop();
}

bool TWindowStealth::GeneralTimerActive() const {
  return form_.generalTimer()->isActive();
}

bool TWindowStealth::ControlHeld() const {
  return Modifiers() & Qt::ControlModifier;
}

bool TWindowStealth::ShiftHeld() const {
  return Modifiers() & Qt::ShiftModifier;
}
