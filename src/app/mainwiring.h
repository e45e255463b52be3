// The subsystems of the main window put together: option lists and settings, the explorer and
// the inclusion grid, recent jobs, jobs and the size calculator, built into MainContext and
// joined by the adapters below.
//
// The adapters answer the subsystems' host interfaces from MainContext, from the other
// subsystems and from the window (IMainWindow), so every subsystem sees one program.
#pragma once

#include <QString>
#include <optional>

#include "app/jobhosts.h"
#include "app/optionhosts.h"
#include "app/sizecalculator.h"

class IControlHost;
class IFileDialogHost;
class IStartupSeams;
struct MainContext;

// The window's part that the subsystems need beyond IControlHost and IStartupSeams. Operations
// of subsystems that are not wired yet (archive view, stealth, scheduler, tray, naming) have
// harmless defaults; the window or those subsystems override them.
class IMainWindow {
 public:
  virtual ~IMainWindow() = default;

  // Explorer views.
  virtual QString ExplorerCurrentFolder() const { return {}; }
  // The views re-read the disk (after the store's ticks were replaced).
  virtual void RefreshExplorerViews() {}
  // Keyboard state.
  virtual bool CtrlHeld() const { return false; }
  // The inner "ZIP" tab of "Make".
  virtual void ShowZipTab() {}
  // Status bar: the size calculator's measurement and the gauge.
  virtual void ShowSizeCount(const QString& /*count*/, const QString& /*total*/) {}
  virtual void GaugeClear() {}

  // Archive view and archive engine.
  virtual bool ArchiveLoaded() const { return false; }
  virtual bool HasArchiveSearchResults() const { return false; }
  virtual bool ArchiveOnDirectRemovable() const { return false; }
  virtual void OpenArchive(const QString& /*file*/) {}
  // Self-extracting mode ("&NewEXE").
  virtual bool ExeMode() const { return false; }
  // The add-to-archive flag of the backup run.
  virtual void SetAddToArchive(bool) {}

  // Start-up registration (0 none, 1 ordinary, 2 stealth), scheduler, stealth.
  virtual int RunOnStartup() const { return 0; }
  virtual bool ScheduledRunInProgress() const { return false; }
  virtual void StartStealth() {}

  // The new-archive naming that "&Modify Job" enters (keeping ticks and settings).
  virtual void ModifyJobNaming() {}
  // The burner: whether folder is the disc's root, and burning files as one session.
  virtual bool IsBurnerRoot(const QString& /*folder*/) const { return false; }
  virtual void BurnFiles(const QStringList& /*files*/) {}
};

// Joins the subsystems: the host interfaces of the option rules, the settings files, the jobs
// and the size calculator, over MainContext and the window.
class TMainWiring : public IOptionEnvironment,
                    public IJobSettings,
                    public IJobWindow,
                    public ISizeCalcHost {
 public:
  TMainWiring(MainContext& ctx, IControlHost& controls, IStartupSeams& seams, IMainWindow& window,
              IWindowModeHost& modes, ISchedulerControls& scheduler);

  // IOptionEnvironment
  bool ArchiveLoaded() const override;
  bool RunInProgress() const override;
  bool HasArchiveSearchResults() const override;
  std::optional<double> MeasuredSizeMb() const override;
  void SetSizeCalcText(const QString& text) override;
  bool WindowShown() const override;
  bool ArchiveOnDirectRemovable() const override;
  void ShowHiddenItems(bool show) override;
  QString ArchiveName() const override;
  void SetArchiveName(const QString& name) override;
  bool ExeMode() const override;
  void SetAddToArchive(bool on) override;
  QString AutoRunFile() const override;
  void TerminateApplication() override;
  int RunOnStartup() const override;

  // IJobSettings
  bool LoadSettings(const QString& iniFile) override;
  void WriteSettings(const QString& iniFile) override;
  bool ProgramDirMode() const override;
  bool DateTimeStampChecked() const override;
  int DateTimeFormat() const override;
  bool AutoRenameOnSize() const override;
  bool MinimizeOnLoad() const override;
  bool SpanDisks() const override;
  QString MaxSizeText() const override;
  void SetUnattended(bool on) override;
  bool BasicView() const override;
  void ReapplyDirectoryRules() override;

  // IJobWindow
  void SetAutoRunFile(const QString& file) override;
  void Setstate(int mode) override;
  QString ExplorerCurrentFolder() const override;
  void RefreshExplorer() override;
  void PrepareJobOpening() override;
  bool CtrlHeld() const override;
  bool ScheduledRunInProgress() const override;
  void SetSchedulerJobFile(const QString& file) override;
  void ShowZipTab() override;
  void RunBackup() override;
  void StartStealth() override;
  bool WindowVisible() const override;
  void OpenArchive(const QString& file) override;
  void ModifyJobNaming() override;
  bool IsBurnerRoot(const QString& folder) const override;
  QString TempFolder() const override;
  void BurnFiles(const QStringList& files) override;

  // ISizeCalcHost
  void SetSizeEditText(const QString& text) override;
  void SetSizeButtonEnabled(bool enabled) override;
  void ClearStatusBar() override;
  void ShowSizeCount(const QString& countText, const QString& totalText) override;
  void GaugeClear() override;
  int CompressionIndex() const override;

 private:
  MainContext& ctx_;
  IControlHost& controls_;
  IStartupSeams& seams_;
  IMainWindow& window_;
  IWindowModeHost& modes_;
  ISchedulerControls& scheduler_;
};

// Builds the subsystems into ctx and joins them. The hosts must outlive ctx's subsystems.
void WireSubsystems(MainContext& ctx, IControlHost& controls, IStartupSeams& seams,
                    IMainWindow& window, IWindowModeHost& modes, ISchedulerControls& scheduler,
                    IFileDialogHost& dialogs);

// The archive name as the window keeps it: a name without an extension gets ".zip".
QString WithZipExtension(const QString& name);
