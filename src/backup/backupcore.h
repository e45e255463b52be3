// The backup run and the naming joined to the wired main window: the zip engine of the run, the
// run and the naming over MainContext's option lists, preferences, ticks and inclusion grid.
//
// The window owns one and supplies the screen through the host interfaces; tests and unattended
// runs use it without a window. Everything here is QtCore.
#pragma once

#include <QObject>
#include <memory>

#include "archive/arczip.h"

struct MainContext;
class IBackupDialogs;
class IBackupDisplay;
class IBackupSeams;
class IControlHost;
class INamingHost;
class IProgressHost;
class IReportBox;
class TBackupRun;
class TBurnCommands;
class TMoveBlocks;
class TNaming;
class TRunReport;
class TSpanning;

class TBackupCore : public QObject {
  Q_OBJECT
 public:
  // ctx must have its subsystems wired (WireSubsystems). Sets ctx.WriteZbtnClick and the size
  // calculator's counter to the run.
  TBackupCore(MainContext& ctx, IControlHost& controls, IBackupDisplay& display,
              IBackupDialogs& dialogs, INamingHost& namingHost, IBackupSeams& seams,
              QObject* parent = nullptr);
  ~TBackupCore() override;

  // The program's one engine (MainContext::ArcZip1): the archive the view opened is the one the
  // run adds to and extraction reads.
  TArcZip& ArcZip1;

  TBackupRun& run() { return *run_; }
  TNaming& naming() { return *naming_; }

  // Puts the progress and report handlers on the run: the engine's events, the counters and
  // comment of each run, the process time and the report file. host and box are the window's
  // (or doubles) and must outlive this object. Returns the report for the window's commands.
  TRunReport& AttachReport(IProgressHost& host, IReportBox& box);
  // Null until AttachReport.
  TRunReport* report() { return report_.get(); }
  // The disk prompts, part names and disk markers (the engine's standing handlers).
  TSpanning& spanning() { return *spanning_; }
  // Disc writing over MainContext::Burner: the run's disc checks and the burning of staged
  // parts, and the window's burn commands.
  TBurnCommands& burn() { return *burn_; }
  // "Move Blocks": the parts of a split set onto disks or discs.
  TMoveBlocks& moveBlocks() { return *moveBlocks_; }
  // An archive at path goes straight onto a removable disk, or onto a disc the file system
  // writes itself ("Native"): no burner stages it.
  bool OnDirectRemovable(const QString& path);

 private:
  struct Program;
  struct Naming;
  struct ReportState;
  struct Media;
  struct DiscSeams;
  struct BurnDisplay;
  MainContext& ctx_;
  IControlHost& controls_;
  IBackupDialogs& dialogs_;
  std::unique_ptr<Program> program_;
  std::unique_ptr<Naming> namingHost_;
  std::unique_ptr<Media> media_;
  std::unique_ptr<BurnDisplay> burnDisplay_;
  std::unique_ptr<TBurnCommands> burn_;
  std::unique_ptr<DiscSeams> seams_;
  std::unique_ptr<TBackupRun> run_;
  std::unique_ptr<TSpanning> spanning_;
  std::unique_ptr<TNaming> naming_;
  std::unique_ptr<TMoveBlocks> moveBlocks_;
  std::unique_ptr<ReportState> reportState_;
  std::unique_ptr<TRunReport> report_;
};
