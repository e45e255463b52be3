#include "backup/backupcore.h"

#include "app/explorer.h"
#include "app/maincontext.h"
#include "app/optionscontroller.h"
#include "app/pathbytes.h"
#include "app/preferences.h"
#include "app/settingsfiles.h"
#include "app/sizecalculator.h"
#include "archive/zipmedia.h"
#include "backup/backuphosts.h"
#include "backup/backuprun.h"
#include "backup/naming.h"
#include "backup/runreport.h"
#include "backup/spanning.h"
#include "backup/udisks.h"
#include "platform/mounts.h"

// The media of the program's volumes: the system's drives, with labels written through the
// desktop's disk service, and media swapped through it.
struct TBackupCore::Media {
  TLinuxVolumeService system;
  TUdisks2 disks;
  TLabellingVolumeService labels{system, disks};
  TZipMedia zipMedia{&labels};
  TDiskServiceSwap swap{system, disks};
};

// The program state the run reads and ends, kept in MainContext.
struct TBackupCore::Program : IBackupProgram {
  MainContext& ctx;
  explicit Program(MainContext& c) : ctx(c) {}
  QString AutoRunFile() const override { return ctx.AutoRunFile; }
  void SetAutoRunFile(const QString& file) override { ctx.AutoRunFile = file; }
  // The ACTION that goes with the automatic run (the command line's, or a later start's).
  QString ActionArg() const override { return ctx.AutoRunAction; }
  void RequestTerminate(int exitCode) override { ::RequestTerminate(ctx, exitCode); }
  void Setstate(int mode) override {
    if (ctx.Options) ctx.Options->Setstate(mode);
  }
  std::optional<QString> ArchiveName() const override { return ctx.ZipName; }
  void ArchiveNameChanged(const QString& name) override { ctx.ZipName = name; }
  void RunStateChanged(bool runInProgress, bool sizeCalcMode) override {
    ctx.RunInProgress = runInProgress;
    ctx.SizeCalcMode = sizeCalcMode;
    if (ctx.OnRunStateChanged) ctx.OnRunStateChanged();
  }
};

// The naming's host: the screen's dialogs and views, the program's settings.
struct TBackupCore::Naming : INamingHost {
  MainContext& ctx;
  INamingHost& screen;
  Naming(MainContext& c, INamingHost& s) : ctx(c), screen(s) {}
  void ResetDateFilter() override { screen.ResetDateFilter(); }
  QString FocusedTreePath() const override { return screen.FocusedTreePath(); }
  void LoadDefaultSettings() override {
    if (ctx.Settings) ctx.Settings->INIfileIO(QString());
  }
  void ClearDirMonitors() override { screen.ClearDirMonitors(); }
  bool BasicView() const override { return ctx.Options && !ctx.Options->Advanced(); }
  bool HintsOn() const override { return ctx.Prefs && ctx.Prefs->Bool(QStringLiteral("Hints")); }
  std::optional<QString> ShowSaveDialog(TSaveDlgForm& form) override {
    return screen.ShowSaveDialog(form);
  }
  QString FocusedArchiveEntryName() const override { return screen.FocusedArchiveEntryName(); }
  void SetSearchText(const QString& text) override { screen.SetSearchText(text); }
};

// The run's state and dialogs as the report asks for them.
struct TBackupCore::ReportState : IReportSeams {
  MainContext& ctx;
  TBackupRun& run;
  IBackupDialogs& dialogs;
  TSpanning& spanning;
  ReportState(MainContext& c, TBackupRun& r, IBackupDialogs& d, TSpanning& s)
      : ctx(c), run(r), dialogs(d), spanning(s) {}
  bool BurnPart(const QString& path) override { return spanning.BurnPart(PathBytes(path)); }
  void WriteSpanNo(int disk) override { spanning.WriteSpanNo(disk); }
  bool SizeCalcMode() const override { return run.SizeCalcMode(); }
  bool RunInProgress() const override { return run.RunInProgress(); }
  bool CdStaging() const override { return run.CdStaging(); }
  int PresetKind() const override { return run.PresetKind(); }
  // Cancel is a cancel, whatever was typed; OK with empty edits gives no password either.
  std::optional<QString> PasswordDialog() override {
    const std::optional<QString> password = dialogs.ShowPasswordDialog();
    if (!password || password->isEmpty()) return std::nullopt;
    return password;
  }
  bool AutoRun() const override { return !ctx.AutoRunFile.isEmpty(); }
  bool DeletingEntries() const override { return ctx.DeletingEntries && ctx.DeletingEntries(); }
  bool GlobalSearchRunning() const override {
    return ctx.GlobalSearchRunning && ctx.GlobalSearchRunning();
  }
  QString TrayTitle() const override {
    return ctx.TrayTitle.isEmpty() ? IReportSeams::TrayTitle() : ctx.TrayTitle;
  }
};

TBackupCore::TBackupCore(MainContext& ctx, IControlHost& controls, IBackupDisplay& display,
                         IBackupDialogs& dialogs, INamingHost& namingHost, IBackupSeams& seams,
                         QObject* parent)
    : QObject(parent),
      ArcZip1(*ctx.ArcZip1),
      ctx_(ctx),
      controls_(controls),
      dialogs_(dialogs),
      program_(std::make_unique<Program>(ctx)),
      namingHost_(std::make_unique<Naming>(ctx, namingHost)) {
  TCheckStore& ticks = ctx.Explorer->Store();
  run_ = std::make_unique<TBackupRun>(ArcZip1, *ctx.Lists, *ctx.Prefs, ticks, *ctx.Grid, controls,
                                      display, *program_, dialogs, seams);
  naming_ = std::make_unique<TNaming>(*run_, ArcZip1, *ctx.Lists, *ctx.Prefs, ticks, controls,
                                      display, *program_, *namingHost_);
  // The engine's design-time settings: no labels checked or written unless a run asks, parts of
  // a floppy's size.
  ArcZip1.MultiZipInfo.CheckDiskLabels = false;
  ArcZip1.MultiZipInfo.WriteDiskLabels = false;
  ArcZip1.MultiZipInfo.BlockSize = 1457600;
  media_ = std::make_unique<Media>();
  if (!ArcZip1.Media) ArcZip1.Media = &media_->zipMedia;
  spanning_ =
      std::make_unique<TSpanning>(ArcZip1, *run_, *ctx.Lists, *ctx.Prefs, display, media_->labels);
  spanning_->swap = &media_->swap;
  spanning_->Attach();
  run_->onFileNameForSplitPart = [this](std::string& fname, int part, int type) {
    spanning_->ArcZip1FileNameForSplitPart(fname, part, type);
  };
  ctx.WriteZbtnClick = [this] { run_->WriteZbtnClick(); };
  if (ctx.SizeCalc) {
    ctx.SizeCalc->Counter = [this](const QString& scratch) -> std::optional<SizeCount> {
      const auto counted = run_->CountingRun(scratch);
      if (!counted) return std::nullopt;
      return SizeCount{counted->files, static_cast<uint64_t>(counted->bytes)};
    };
  }
}

TRunReport& TBackupCore::AttachReport(IProgressHost& host, IReportBox& box) {
  if (report_) return *report_;
  reportState_ = std::make_unique<ReportState>(ctx_, *run_, dialogs_, *spanning_);
  report_ = std::make_unique<TRunReport>(ArcZip1, *ctx_.Lists, *ctx_.Prefs, controls_, host, box,
                                         *reportState_, &ctx_.CommentText);
  // The report's handlers are the program's own on the engine: every operation's session finds
  // them there (the run puts its counting-only stop in front of the report's start-of-writing
  // handler).
  report_->AttachRunEvents(ArcZip1);
  TRunReport* r = report_.get();
  TBackupRun* run = run_.get();
  r->DiskSpaceKb = [run](const QString& path) { return run->diskSpaceKb(path); };
  run->onBadPassword = [this, r](int index, std::string& password) {
    r->ArcZip1BadPassword(&ArcZip1, index, password);
  };
  run->onRunStart = [r] { r->BeginRun(); };
  run->leftOutCount = [r] { return r->LeftOutCount; };
  run->onEngineStart = [r] { r->StartClock(); };
  run->onReportFile = [this, r](const QString& requested) {
    ctx_.ReportFile = r->WriteReportFile(requested, ctx_.AutoRunFile);
  };
  return *report_;
}

TBackupCore::~TBackupCore() {
  if (report_) report_->DetachRunEvents(ArcZip1);
  spanning_->Detach();
  if (ArcZip1.Media == &media_->zipMedia) ArcZip1.Media = nullptr;
  ctx_.WriteZbtnClick = nullptr;
  if (ctx_.SizeCalc) ctx_.SizeCalc->Counter = nullptr;
}
