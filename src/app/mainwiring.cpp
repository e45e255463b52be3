#include "app/mainwiring.h"

#include <QDir>
#include <QFileInfo>

#include "app/controlhost.h"
#include "app/explorer.h"
#include "app/filedialoghost.h"
#include "app/filemenuhandler.h"
#include "app/inclusiongrid.h"
#include "app/jobcontroller.h"
#include "app/maincontext.h"
#include "app/optionnames.h"
#include "app/optionscontroller.h"
#include "app/pathbytes.h"
#include "app/preferences.h"
#include "app/settingsfiles.h"
#include "app/sourcelists.h"
#include "app/startupseams.h"
#include "archive/arczip.h"

using namespace opt;

namespace {

QString S(const char* s) {
  return QString::fromLatin1(s);
}

}  // namespace

QString WithZipExtension(const QString& name) {
  if (name.isEmpty() || !QFileInfo(name).suffix().isEmpty()) return name;
  return name + QStringLiteral(".zip");
}

TMainWiring::TMainWiring(MainContext& ctx, IControlHost& controls, IStartupSeams& seams,
                         IMainWindow& window, IWindowModeHost& modes, ISchedulerControls& scheduler)
    : ctx_(ctx),
      controls_(controls),
      seams_(seams),
      window_(window),
      modes_(modes),
      scheduler_(scheduler) {}

// --- IOptionEnvironment -------------------------------------------------------------------------

bool TMainWiring::ArchiveLoaded() const {
  return window_.ArchiveLoaded();
}

bool TMainWiring::RunInProgress() const {
  return ctx_.RunInProgress;
}

bool TMainWiring::HasArchiveSearchResults() const {
  return window_.HasArchiveSearchResults();
}

std::optional<double> TMainWiring::MeasuredSizeMb() const {
  if (!ctx_.SizeCalc || ctx_.SizeCalc->SizeResultMb() <= 0) return std::nullopt;
  return static_cast<double>(ctx_.SizeCalc->SizeResultMb());
}

void TMainWiring::SetSizeCalcText(const QString& text) {
  controls_.SetControlCaption(S(ctl::kSizeCalcEdit), text);
}

bool TMainWiring::WindowShown() const {
  return !ctx_.FirstShow;
}

bool TMainWiring::ArchiveOnDirectRemovable() const {
  return window_.ArchiveOnDirectRemovable();
}

void TMainWiring::ShowHiddenItems(bool show) {
  ctx_.Explorer->SetShowHidden(show);
}

QString TMainWiring::ArchiveName() const {
  return ctx_.ZipName;
}

void TMainWiring::SetArchiveName(const QString& name) {
  ctx_.ZipName = WithZipExtension(name);
  seams_.SetArchiveName(ctx_.ZipName);
}

bool TMainWiring::ExeMode() const {
  return window_.ExeMode();
}

void TMainWiring::SetAddToArchive(bool on) {
  window_.SetAddToArchive(on);
}

QString TMainWiring::AutoRunFile() const {
  return ctx_.AutoRunFile;
}

void TMainWiring::TerminateApplication() {
  // The process started for the job ends with a failure. A job handed over to a running window
  // (or started by the scheduler) only ends its own run: the window stays for its user.
  if (ctx_.AutoRunIsCommandLine) RequestTerminate(ctx_, kExitRunFailed);
}

int TMainWiring::RunOnStartup() const {
  return window_.RunOnStartup();
}

// --- IJobSettings -------------------------------------------------------------------------------

bool TMainWiring::LoadSettings(const QString& iniFile) {
  // The settings file beside a job is a real path (a job named relative to the working folder
  // gives a relative one), never a name to look up in the settings folder.
  ctx_.Settings->INIfileIO(AbsolutePath(iniFile));
  return !ctx_.Settings->NamedNoArchive();
}

void TMainWiring::WriteSettings(const QString& iniFile) {
  ctx_.Settings->WriteSettings(iniFile);
}

bool TMainWiring::ProgramDirMode() const {
  return ctx_.Prefs->Bool(QStringLiteral("CatDIR"));
}

bool TMainWiring::DateTimeStampChecked() const {
  return ctx_.Lists->functionsList.Checked(kFnStamp);
}

int TMainWiring::DateTimeFormat() const {
  return ctx_.Prefs->Int(QStringLiteral("DateTimeFormat"));
}

bool TMainWiring::AutoRenameOnSize() const {
  return ctx_.Prefs->Bool(QStringLiteral("StealthARen"));
}

bool TMainWiring::MinimizeOnLoad() const {
  return ctx_.Prefs->Bool(QStringLiteral("StealthMinimizeOnLoad"));
}

bool TMainWiring::SpanDisks() const {
  return ctx_.Lists->directoryList.Checked(kDirSpan);
}

QString TMainWiring::MaxSizeText() const {
  return ctx_.Lists->maxSizeEdit.text();
}

void TMainWiring::SetUnattended(bool on) {
  THandlersDetached detached{&ctx_.Lists->functionsList};
  ctx_.Lists->functionsList.SetChecked(kFnUnattended, on);
}

bool TMainWiring::BasicView() const {
  return !ctx_.Options->Advanced();
}

void TMainWiring::ReapplyDirectoryRules() {
  ctx_.Options->SpanRule();
}

// --- IJobWindow ---------------------------------------------------------------------------------

void TMainWiring::SetAutoRunFile(const QString& file) {
  ctx_.AutoRunFile = file;
}

void TMainWiring::Setstate(int mode) {
  ctx_.Options->Setstate(mode);
}

QString TMainWiring::ExplorerCurrentFolder() const {
  return window_.ExplorerCurrentFolder();
}

void TMainWiring::RefreshExplorer() {
  ctx_.Explorer->Refresh();
  window_.RefreshExplorerViews();
}

void TMainWiring::PrepareJobOpening() {
  controls_.SetControlEnabled(S(ctl::kStealthList), true);
  // The engine starts afresh: an archive opened before is no longer the loaded one (so
  // "Refresh/Update Existing ZIP" cannot act on it by mistake).
  if (!ctx_.ArcZip1->Busy()) ctx_.ArcZip1->CloseArchive();
  seams_.FreeDirMonitors();
  modes_.ClearArchiveView();
}

bool TMainWiring::CtrlHeld() const {
  return window_.CtrlHeld();
}

bool TMainWiring::ScheduledRunInProgress() const {
  return window_.ScheduledRunInProgress();
}

void TMainWiring::SetSchedulerJobFile(const QString& file) {
  scheduler_.SetScheduleFile(file);
}

void TMainWiring::ShowZipTab() {
  window_.ShowZipTab();
}

void TMainWiring::RunBackup() {
  if (ctx_.WriteZbtnClick) ctx_.WriteZbtnClick();
}

void TMainWiring::StartStealth() {
  window_.StartStealth();
}

bool TMainWiring::WindowVisible() const {
  return seams_.WindowVisible();
}

void TMainWiring::OpenArchive(const QString& file) {
  window_.OpenArchive(file);
}

void TMainWiring::ModifyJobNaming() {
  window_.ModifyJobNaming();
}

bool TMainWiring::IsBurnerRoot(const QString& folder) const {
  return window_.IsBurnerRoot(folder);
}

QString TMainWiring::TempFolder() const {
  const QString chosen = ctx_.Prefs->Text(QStringLiteral("TempDIR"));
  return chosen.isEmpty() ? QDir::tempPath() : chosen;
}

void TMainWiring::BurnFiles(const QStringList& files) {
  window_.BurnFiles(files);
}

// --- ISizeCalcHost ------------------------------------------------------------------------------

void TMainWiring::SetSizeEditText(const QString& text) {
  controls_.SetControlCaption(S(ctl::kSizeCalcEdit), text);
}

void TMainWiring::SetSizeButtonEnabled(bool enabled) {
  controls_.SetControlEnabled(QString::fromLatin1(ctl::kSizeCalcButton), enabled);
}

void TMainWiring::ClearStatusBar() {
  modes_.ClearStatusBar();
}

void TMainWiring::ShowSizeCount(const QString& countText, const QString& totalText) {
  window_.ShowSizeCount(countText, totalText);
}

void TMainWiring::GaugeClear() {
  window_.GaugeClear();
}

int TMainWiring::CompressionIndex() const {
  return std::max(0, ctx_.Lists->compressionList.CheckedIndex());
}

// --- building -----------------------------------------------------------------------------------

void WireSubsystems(MainContext& ctx, IControlHost& controls, IStartupSeams& seams,
                    IMainWindow& window, IWindowModeHost& modes, ISchedulerControls& scheduler,
                    IFileDialogHost& dialogs) {
  ctx.Lists = std::make_unique<TOptionLists>();
  ctx.Prefs = std::make_unique<TPreferences>();
  ctx.Grid = std::make_unique<TInclusionGrid>();
  ctx.Explorer = std::make_unique<TExplorer>();
  // Window creation links the list's ticks to the tree's, unless started with "close".
  ctx.Explorer->SetLinked(false);

  ctx.History = std::make_unique<TFileMenuHandler>();
  TFileMenuHandler& history = *ctx.History;
  history.IniFileName = QStringLiteral("fmhistory.ini");
  history.SetMaxList(12);
  history.OpenDialog = &dialogs;
  // The command-line argument is opened by the first show (TAppLifecycle::FormShow), not by
  // the handler's loading, so it is opened once.
  history.ParamCountLook = 0;

  ctx.Wiring = std::make_unique<TMainWiring>(ctx, controls, seams, window, modes, scheduler);
  TMainWiring& w = *ctx.Wiring;
  ctx.Options = std::make_unique<TOptionsController>(*ctx.Lists, *ctx.Prefs, controls, w, modes);
  ctx.Settings = std::make_unique<TSettingsFiles>(*ctx.Lists, *ctx.Prefs, *ctx.Options, controls, w,
                                                  scheduler, *ctx.Grid);
  TCheckStore& store = ctx.Explorer->Store();
  ctx.Jobs = std::make_unique<TJobController>(store, history, w, w, dialogs, controls);
  ctx.SizeCalc = std::make_unique<TSizeCalculator>(w, store);

  history.OnNewFormCaption = [&ctx](TFileMenuHandler*, const QString& file) {
    ctx.Jobs->FileMenuNewFormCaption(file);
  };

  // Until the backup run counts in its counting mode, the engine's file list is walked.
  ctx.SizeCalc->Counter = [&ctx](const QString&) -> std::optional<SizeCount> {
    const EngineLists lists =
        BuildEngineLists(*ctx.Grid, ctx.Explorer->Store().TickedPaths(), {}, false);
    return CountEngineLists(lists, ctx.Lists->directoryList.Checked(kDirRecursion));
  };
  QObject::connect(&store, &TCheckStore::Changed, ctx.SizeCalc.get(),
                   &TSizeCalculator::TicksChanged);

  // Hidden items are listed exactly while "Include System & Hidden Files" is ticked, however
  // it got ticked (by the user or by loading settings).
  TOptionList& dirs = ctx.Lists->directoryList;
  QObject::connect(&dirs, &TOptionList::itemChanged, ctx.Explorer.get(),
                   [&ctx](int i, ChangeOrigin) {
                     if (i == kDirHidden)
                       ctx.Explorer->SetShowHidden(ctx.Lists->directoryList.Checked(kDirHidden));
                   });
  ctx.Explorer->SetShowHidden(dirs.Checked(kDirHidden));
}
