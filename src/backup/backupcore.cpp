#include "backup/backupcore.h"

#include <QDir>
#include <QFileInfo>

#include "app/jobcontroller.h"
#include "app/jobhosts.h"
#include "app/maincontext.h"
#include "app/optionhosts.h"
#include "app/settingsfiles.h"
#include "backup/backuphosts.h"
#include "backup/backuprun.h"
#include "backup/naming.h"

// The adapters between the app's controllers and the run, over MainContext.
struct TBackupCore::Glue : IOptionEnvironment,
                           IWindowModeHost,
                           ISchedulerControls,
                           IGridCells,
                           IJobSettings,
                           IJobWindow,
                           IBackupProgram {
  TBackupCore& core;
  MainContext& ctx;
  IBackupDisplay& display;

  Glue(TBackupCore& c, MainContext& x, IBackupDisplay& d) : core(c), ctx(x), display(d) {}

  TBackupRun& Run() const { return *core.run_; }

  // --- IOptionEnvironment ---
  bool ArchiveLoaded() const override { return core.ArcZip1.EntryCount() > 0; }
  bool RunInProgress() const override { return core.run_ && Run().RunInProgress(); }
  bool HasArchiveSearchResults() const override { return false; }
  std::optional<double> MeasuredSizeMb() const override { return std::nullopt; }
  void SetSizeCalcText(const QString&) override {}
  bool WindowShown() const override { return !ctx.FirstShow; }
  bool ArchiveOnDirectRemovable() const override { return false; }
  void ShowHiddenItems(bool) override {}
  QString ArchiveName() const override { return core.run_ ? Run().ZipName() : ctx.ZipName; }
  void SetArchiveName(const QString& name) override {
    if (core.run_) Run().SetArchiveName(name, true);
  }
  bool ExeMode() const override { return core.run_ && Run().ExeMode(); }
  void SetAddToArchive(bool on) override {
    if (core.run_) Run().SetAddMode(on);
  }
  QString AutoRunFile() const override { return ctx.AutoRunFile; }
  void TerminateApplication() override { ::RequestTerminate(ctx, kExitRunFailed); }
  int RunOnStartup() const override { return 0; }

  // --- IWindowModeHost ---
  void ShowExplorerCheckBoxes(bool) override {}
  void ClearArchiveSearchResults() override {}
  void ResetGlobalSearchFlag() override {}
  void ClearArchiveView() override {}
  void ClearStatusBar() override { display.ClearStatusBar(); }
  void ResetTrayStealthFlag() override {}
  void SetTrayIconStatic() override {}
  void SetZip64Highlighted(bool) override {}
  void SetGroupCaptionHighlighted(const QString&, bool) override {}

  // --- ISchedulerControls ---
  void SetScheduleDays(int) override {}
  void SetScheduleTime(const QString&) override {}
  void SetScheduleFile(const QString& f) override { scheduleFile = f; }
  QString ScheduleFile() const override { return scheduleFile; }
  void StartSchedulerTimer() override {}
  QString scheduleFile = QStringLiteral("JOB Filename");

  // --- IGridCells ---
  int RowCount() const override { return core.grid.RowCount(); }
  QString Cell(int col, int row) const override { return core.grid.Cell(col, row); }
  void SetCell(int col, int row, const QString& text) override {
    core.grid.SetCell(col, row, text);
  }
  void BeginUpdate() override { core.grid.BeginUpdate(); }
  void EndUpdate() override { core.grid.EndUpdate(); }

  // --- IJobSettings ---
  // The settings file beside a job is a real path (a job named relative to the working folder
  // gives a relative one), never a name to look up in the settings folder.
  void LoadSettings(const QString& iniFile) override {
    core.settings_->INIfileIO(QFileInfo(iniFile).absoluteFilePath());
  }
  void WriteSettings(const QString& iniFile) override { core.settings_->WriteSettings(iniFile); }
  bool ProgramDirMode() const override { return core.prefs.Bool(QStringLiteral("CatDIR")); }
  bool DateTimeStampChecked() const override {
    return core.lists.functionsList.Checked(opt::kFnStamp);
  }
  int DateTimeFormat() const override { return core.prefs.Int(QStringLiteral("DateTimeFormat")); }
  bool AutoRenameOnSize() const override { return core.prefs.Bool(QStringLiteral("StealthARen")); }
  bool MinimizeOnLoad() const override {
    return core.prefs.Bool(QStringLiteral("StealthMinimizeOnLoad"));
  }
  bool SpanDisks() const override { return core.lists.directoryList.Checked(opt::kDirSpan); }
  QString MaxSizeText() const override { return core.lists.maxSizeEdit.text(); }
  void SetUnattended(bool on) override {
    THandlersDetached detached{&core.lists.functionsList};
    core.lists.functionsList.SetChecked(opt::kFnUnattended, on);
  }
  bool BasicView() const override { return !core.options_->Advanced(); }
  void ReapplyDirectoryRules() override { core.options_->SpanRule(); }

  // --- IJobWindow ---
  void Setstate(int mode) override { core.options_->Setstate(mode); }
  QString ExplorerCurrentFolder() const override { return {}; }
  void RefreshExplorer() override {}
  void PrepareJobOpening() override {
    core.ArcZip1.CloseArchive();
    core.lists.stealthList.SetItemEnabled(0, true);
  }
  bool CtrlHeld() const override { return false; }
  bool ScheduledRunInProgress() const override { return false; }
  void SetSchedulerJobFile(const QString& f) override { scheduleFile = f; }
  void ShowZipTab() override {}
  void RunBackup() override { Run().WriteZbtnClick(); }
  void StartStealth() override {}
  bool WindowVisible() const override { return !ctx.FirstShow; }
  void OpenArchive(const QString& file) override { Run().SetArchiveName(file, true); }
  void ModifyJobNaming() override { core.naming_->NewZipButClick(NamingSender::ModifyJob); }
  QString TempFolder() const override { return Run().TempPath(); }

  // --- IBackupProgram ---
  QString ActionArg() const override { return ctx.ActionArg(); }
  void SetAutoRunFile(const QString& file) override { ctx.AutoRunFile = file; }
  void RequestTerminate(int exitCode) override { ::RequestTerminate(ctx, exitCode); }
  void ArchiveNameChanged(const QString& name) override { ctx.ZipName = name; }
};

TBackupCore::TBackupCore(MainContext& ctx, IControlHost& controls, IBackupDisplay& display,
                         IBackupDialogs& dialogs, IFileDialogHost& files, INamingHost& namingHost,
                         IBackupSeams& seams, QObject* parent)
    : QObject(parent), glue_(std::make_unique<Glue>(*this, ctx, display)) {
  Glue& g = *glue_;
  history.IniFileName = QStringLiteral("fmhistory.ini");
  history.OpenDialog = &files;
  options_ = std::make_unique<TOptionsController>(lists, prefs, controls, g, g);
  settings_ = std::make_unique<TSettingsFiles>(lists, prefs, *options_, controls, g, g, g);
  run_ = std::make_unique<TBackupRun>(ArcZip1, lists, prefs, ticks, grid, controls, display, g,
                                      dialogs, seams);
  naming_ = std::make_unique<TNaming>(*run_, ArcZip1, lists, prefs, ticks, controls, display, g,
                                      namingHost);
  jobs_ = std::make_unique<TJobController>(ticks, history, g, g, files, controls);
  history.OnNewFormCaption = [this](TFileMenuHandler*, const QString& f) {
    jobs_->FileMenuNewFormCaption(f);
  };
}

TBackupCore::~TBackupCore() {
  history.OnNewFormCaption = nullptr;
}
