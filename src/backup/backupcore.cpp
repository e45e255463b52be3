#include "backup/backupcore.h"

#include "app/explorer.h"
#include "app/maincontext.h"
#include "app/optionscontroller.h"
#include "app/preferences.h"
#include "app/settingsfiles.h"
#include "app/sizecalculator.h"
#include "backup/backuphosts.h"
#include "backup/backuprun.h"
#include "backup/naming.h"

// The program state the run reads and ends, kept in MainContext.
struct TBackupCore::Program : IBackupProgram {
  MainContext& ctx;
  explicit Program(MainContext& c) : ctx(c) {}
  QString AutoRunFile() const override { return ctx.AutoRunFile; }
  void SetAutoRunFile(const QString& file) override { ctx.AutoRunFile = file; }
  QString ActionArg() const override { return ctx.ActionArg(); }
  void RequestTerminate(int exitCode) override { ::RequestTerminate(ctx, exitCode); }
  void Setstate(int mode) override {
    if (ctx.Options) ctx.Options->Setstate(mode);
  }
  std::optional<QString> ArchiveName() const override { return ctx.ZipName; }
  void ArchiveNameChanged(const QString& name) override { ctx.ZipName = name; }
  void RunStateChanged(bool runInProgress, bool sizeCalcMode) override {
    ctx.RunInProgress = runInProgress;
    ctx.SizeCalcMode = sizeCalcMode;
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

TBackupCore::TBackupCore(MainContext& ctx, IControlHost& controls, IBackupDisplay& display,
                         IBackupDialogs& dialogs, INamingHost& namingHost, IBackupSeams& seams,
                         QObject* parent)
    : QObject(parent),
      ArcZip1(*ctx.ArcZip1),
      ctx_(ctx),
      program_(std::make_unique<Program>(ctx)),
      namingHost_(std::make_unique<Naming>(ctx, namingHost)) {
  TCheckStore& ticks = ctx.Explorer->Store();
  run_ = std::make_unique<TBackupRun>(ArcZip1, *ctx.Lists, *ctx.Prefs, ticks, *ctx.Grid, controls,
                                      display, *program_, dialogs, seams);
  naming_ = std::make_unique<TNaming>(*run_, ArcZip1, *ctx.Lists, *ctx.Prefs, ticks, controls,
                                      display, *program_, *namingHost_);
  ctx.WriteZbtnClick = [this] { run_->WriteZbtnClick(); };
  if (ctx.SizeCalc) {
    ctx.SizeCalc->Counter = [this](const QString& scratch) -> std::optional<SizeCount> {
      const auto counted = run_->CountingRun(scratch);
      if (!counted) return std::nullopt;
      return SizeCount{counted->files, static_cast<uint64_t>(counted->bytes)};
    };
  }
}

TBackupCore::~TBackupCore() {
  ctx_.WriteZbtnClick = nullptr;
  if (ctx_.SizeCalc) ctx_.SizeCalc->Counter = nullptr;
}
