#include "backup/backupcore.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include "app/controlhost.h"
#include "app/explorer.h"
#include "app/maincontext.h"
#include "app/optionnames.h"
#include "app/optionscontroller.h"
#include "app/pathbytes.h"
#include "app/preferences.h"
#include "app/settingsfiles.h"
#include "app/sizecalculator.h"
#include "archive/zipmedia.h"
#include "backup/backuphosts.h"
#include "backup/backuprun.h"
#include "backup/burncommands.h"
#include "backup/moveblocks.h"
#include "backup/naming.h"
#include "backup/runreport.h"
#include "backup/spanning.h"
#include "backup/udisks.h"
#include "disc/discburner.h"
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

// The run's subsystems as the window gives them, with the disc group answered by the burn
// commands: a "/dev/srN/" target is a disc, its checks and staged parts go to the writer.
struct TBackupCore::DiscSeams : IBackupSeams {
  IBackupSeams& base;
  TBurnCommands& burn;
  DiscSeams(IBackupSeams& b, TBurnCommands& c) : base(b), burn(c) {}
  int GetDriveTypeEx(const QString& path) override {
    const int kind = TBurnCommands::DiscTargetKind(path);
    return kind >= 0 ? kind : base.GetDriveTypeEx(path);
  }
  bool BurnerConfigured() const override { return burn.Configured(); }
  // The settings dialog belongs to the window.
  void CDBurner1Click() override { base.CDBurner1Click(); }
  TCDtypes GetCDDetails() override { return burn.GetCDDetails(); }
  int64_t CheckCDHasSize(const TCDtypes& disc) override { return burn.CheckCDHasSize(disc); }
  bool BurnerNative() const override { return burn.Settings().native; }
  bool BurnerSizingAuto() const override { return burn.Settings().sizingAuto; }
  QString BurnerDriveRoot() const override { return burn.Settings().drive; }
  void AbortWrite() override { burn.AbortWrite(); }
  void ReleaseTransport() override { burn.ReleaseTransport(); }
  bool OpenCD(const QString& root, QString* why) override { return base.OpenCD(root, why); }
  void WriteReportFile(const QString& requested) override { base.WriteReportFile(requested); }
  bool Hibernate(bool interactive, QString& reason) override {
    return base.Hibernate(interactive, reason);
  }
  bool Shutdown(bool interactive, QString& reason) override {
    return base.Shutdown(interactive, reason);
  }
  QString SetRestorePoint(const QString& name, bool& set) override {
    return base.SetRestorePoint(name, set);
  }
  TVerifyResult VerifyArchive(const QString& name, const std::string& password) override {
    return base.VerifyArchive(name, password);
  }
};

// The burn's progress on the run's display and controls (and the report's gauge once attached).
struct TBackupCore::BurnDisplay : IBurnDisplay {
  MainContext& ctx;
  IBackupDisplay& display;
  IControlHost& controls;
  IProgressHost* progress = nullptr;
  int gauge = 0;
  BurnDisplay(MainContext& c, IBackupDisplay& d, IControlHost& h)
      : ctx(c), display(d), controls(h) {}
  void SetGaugePosition(int percent) override {
    gauge = percent;
    if (progress) progress->SetGaugePosition(percent);
  }
  int GaugePosition() const override { return gauge; }
  void SetActivity(const QString& text) override {
    controls.SetControlCaption(QString::fromLatin1(rctl::kActiveFilePanel), text);
  }
  void SetTrayHint(const QString& hint) override {
    if (progress) progress->SetTrayHint(hint);
  }
  QString TrayTitle() const override {
    return ctx.TrayTitle.isEmpty() ? IBurnDisplay::TrayTitle() : ctx.TrayTitle;
  }
  void DiscAnimation(bool on) override { display.DiscAnimation(on); }
  void TrayAnimation(bool on) override {
    if (display.TrayIconShown()) display.TrayAnimation(on);
  }
  void SetPauseCaption(const QString& caption) override {
    controls.SetControlCaption(QString::fromLatin1(ctl::kPauseButton), caption);
    // "Abort" works during any burn, one started from the menu too; "Pause" only during a run.
    controls.SetControlEnabled(QString::fromLatin1(ctl::kPauseButton),
                               caption == QStringLiteral("Abort") || ctx.RunInProgress);
  }
  void ClearStatusBar() override {
    gauge = 0;
    display.GaugeClear();
  }
  void SetBurnerBusy(bool busy) override {
    for (const char* item : bctl::kWriterItems)
      controls.SetControlEnabled(QString::fromLatin1(item), !busy);
  }
  // "Copy2Burner" onto a folder (a removable drive, a disc mounted for writing): each path under
  // its own name, folders with what they hold; nothing that is there already is replaced.
  bool CopyInto(const QStringList& paths, const QString& folder) override {
    const QDir into(folder);
    if (!into.exists()) return false;
    bool all = true;
    for (const QString& path : paths) {
      const QFileInfo from(path);
      const QString to = into.filePath(from.fileName());
      if (!from.isDir()) {
        all = QFile::copy(path, to) && all;
        continue;
      }
      all = QDir().mkpath(to) && all;
      QDirIterator it(path, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                      QDirIterator::Subdirectories);
      while (it.hasNext()) {
        const QString entry = it.next();
        const QString target = to + QLatin1Char('/') + QDir(path).relativeFilePath(entry);
        all = (it.fileInfo().isDir() ? QDir().mkpath(target) : QFile::copy(entry, target)) && all;
      }
    }
    return all;
  }
};

// The program state the run reads and ends, kept in MainContext.
struct TBackupCore::Program : IBackupProgram {
  MainContext& ctx;
  explicit Program(MainContext& c) : ctx(c) {}
  QString AutoRunFile() const override { return ctx.AutoRunFile; }
  void SetAutoRunFile(const QString& file) override { ctx.AutoRunFile = file; }
  QString AutoRunNote() const override { return ctx.AutoRunNote; }
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
  TBurnCommands* burn = nullptr;
  bool BurnPart(const QString& path) override { return spanning.BurnPart(PathBytes(path)); }
  QString DiscTypeName() const override { return burn ? burn->DiscTypeName() : QString(); }
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
  if (!ctx.Burner) ctx.Burner = std::make_unique<TDiscBurner>();
  burnDisplay_ = std::make_unique<BurnDisplay>(ctx, display, controls);
  burn_ = std::make_unique<TBurnCommands>(*ctx.Burner, *ctx.Prefs, *burnDisplay_);
  seams_ = std::make_unique<DiscSeams>(seams, *burn_);
  run_ = std::make_unique<TBackupRun>(ArcZip1, *ctx.Lists, *ctx.Prefs, ticks, *ctx.Grid, controls,
                                      display, *program_, dialogs, *seams_);
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
  // A mounted disc is unmounted through the desktop's disk service before a burn or erase.
  burn_->disks = &media_->disks;
  // A backup to disc holds the writer from its start to its end: the menu's burn commands wait.
  burn_->runBusy = [this] { return run_->CdStaging(); };
  spanning_->burnFiles = [this](const QStringList& files) {
    const bool burnt = burn_->BurnFiles(files);
    if (!burnt)
      run_->StagedBurnFailed(burn_->LastBurnError.isEmpty()
                                 ? QStringLiteral("The disc was not written (no disc ready)")
                                 : burn_->LastBurnError);
    return burnt;
  };
  spanning_->burnFailed = [this](const QString& why) { run_->StagedBurnFailed(why); };
  spanning_->partKept = [this](const QString& path) { run_->StagedPartKept(path); };
  spanning_->nextDiscFree = [this]() -> int64_t {
    const TCDtypes disc = burn_->GetCDDetails();
    if (!disc.Ready) return 0;
    if (disc.TypeName.contains(QLatin1String("DVD"))) return -1;
    return burn_->CheckCDHasSize(disc);
  };
  spanning_->Attach();
  moveBlocks_ = std::make_unique<TMoveBlocks>(*burn_, dialogs, display);
  moveBlocks_->driveKind = [this](const QString& path) { return seams_->GetDriveTypeEx(path); };
  moveBlocks_->burnerSettings = [this] { seams_->CDBurner1Click(); };
  moveBlocks_->diskSpaceKb = [this](const QString& path) { return run_->diskSpaceKb(path); };
  run_->onFileNameForSplitPart = [this](std::string& fname, int part, int type) {
    spanning_->ArcZip1FileNameForSplitPart(fname, part, type);
  };
  ctx.WriteZbtnClick = [this] { run_->WriteZbtnClick(); };
  // A run nobody started by hand tells how it ended (the desktop's notifications listen).
  connect(run_.get(), &TBackupRun::runResult, this, [this] {
    if (run_->LastRunJob().isEmpty()) return;
    TellAutomaticRunEnd(ctx_, {run_->LastRunJob(), ctx_.FinalExitCode(run_->LastExitStatus()),
                               run_->ResultText(), ctx_.ReportFile});
  });
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
  reportState_->burn = burn_.get();
  burnDisplay_->progress = &host;
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
  run->onNotIncluded = [r](const QString& path) { r->NotIncluded(path); };
  run->onEngineStart = [r] { r->StartClock(); };
  run->onReportFile = [this, r](const QString& requested) {
    ctx_.ReportFile = r->WriteReportFile(requested, ctx_.AutoRunFile);
  };
  return *report_;
}

bool TBackupCore::OnDirectRemovable(const QString& path) {
  const int kind = seams_->GetDriveTypeEx(path);
  return kind == 3 || (kind == 2 && seams_->BurnerNative());
}

TBackupCore::~TBackupCore() {
  if (report_) report_->DetachRunEvents(ArcZip1);
  spanning_->Detach();
  if (ArcZip1.Media == &media_->zipMedia) ArcZip1.Media = nullptr;
  ctx_.WriteZbtnClick = nullptr;
  if (ctx_.SizeCalc) ctx_.SizeCalc->Counter = nullptr;
}
