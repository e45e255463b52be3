// The long-lived state of the main window, under the names the rest of the program uses.
//
// One MainContext lives from window creation to the end of the close sequence. Controllers of
// the subsystems work on it; the window only shows it.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>

class TArcZip;
class TDiscBurner;
class TExplorer;
class TFileMenuHandler;
class TInclusionGrid;
class TJobController;
class TMainWiring;
class TOptionLists;
class TOptionsController;
class TPreferences;
class TSettingsFiles;
class TSizeCalculator;
namespace restore {
class TArchiveViewController;
}

// Exit statuses of the process.
enum ExitStatus : int {
  kExitOk = 0,
  kExitRunFailed = 1,     // an unattended run (or the start-up itself) failed
  kExitBadArgument = 2,   // a missing file or an argument that is not accepted
  kExitFilesLeftOut = 3,  // an unattended run wrote its archive but left selected files out
};

// How a run nobody started by hand ended (a job from the command line or a later start, the
// scheduler's job, a stealth pass): its job (or archive), the exit status it would give
// (ExitStatus), its one-line result and its report file ("" when none).
struct TAutomaticRunEnd {
  QString job;
  int status = kExitOk;
  QString result;
  QString report;
};

struct MainContext {
  MainContext();
  ~MainContext();
  // Moving is for contexts without wired subsystems (their controllers refer to the context).
  MainContext(MainContext&&) noexcept;
  MainContext& operator=(MainContext&&) noexcept;

  // Folder of the settings, jobs and reports, with a trailing "/".
  QString ProgramDir;
  // The file to run without the user; empty in interactive use.
  QString AutoRunFile;
  // What to do when that run has ended (lower-cased ACTION: "close", "hibernate", "shutdown";
  // "" for none): the command line's ACTION for its job, a later start's for the job it handed
  // over.
  QString AutoRunAction;
  // The automatic run is the one the process was started for (the command line's job).
  bool AutoRunIsCommandLine = false;
  // A line the automatic run's report gives after its first ("" for none): the scheduler's
  // catch-up of a missed run says so.
  QString AutoRunNote;
  // The last path received from a later start; emptied once consumed.
  QString HandedOverPath;
  // The command-line arguments after the program name.
  QStringList CmdArgs;

  bool FirstShow = true;
  bool FirstPaint = true;
  // Counts the steps of the close sequence; shown when a step fails.
  uint8_t CloseStep = 0;

  // The version with the dots removed ("1.0.0" gives "100"), and the tray title
  // (program name, " V", digits).
  QString VersionDigits;
  QString TrayTitle;
  QString HelpFile = QStringLiteral("arcavo.hlp");

  // Run state shared with the backup run and the archive operations.
  bool RunInProgress = false;
  bool SizeCalcMode = false;
  // Called whenever the backup run sets RunInProgress or SizeCalcMode.
  std::function<void()> OnRunStateChanged;
  // The current archive name ("" when none).
  QString ZipName;
  // The current archive's comment: read when the archive is opened and when a run starts, set
  // by the comment commands of the report box. The only copy; the report works on it.
  QString CommentText;

  // The three work text lists of the backup run and the instant backup (freed at close).
  std::unique_ptr<QStringList> WorkList1;
  std::unique_ptr<QStringList> WorkList2;
  std::unique_ptr<QStringList> InstantList;

  // The archive commands' running marks, as the report's handlers ask for them: an entry
  // deletion is running; a search through a folder of archives set its mark (kept while its
  // results are shown). Empty: never.
  std::function<bool()> DeletingEntries;
  std::function<bool()> GlobalSearchRunning;

  // Set up at window creation unless the second argument is "close".
  bool ListLinkedToTree = false;
  bool ChangeNotifyOn = false;

  // Unattended runs (a job with an ACTION): the text of every box answered without a user, for
  // the report file; whether one of them means the run did not go as asked (the exit status then
  // says failure); the report file the last run wrote ("" when none).
  QStringList UnattendedLog;
  bool UnattendedFailure = false;
  QString ReportFile;
  // Told how every run nobody started by hand ended (TellAutomaticRunEnd); empty: nobody
  // listens. The count says how many were told, so that a run that stopped on its way without
  // telling anything is told by whoever started it.
  std::function<void(const TAutomaticRunEnd&)> OnAutomaticRunEnd;
  int AutomaticRunsTold = 0;
  TAutomaticRunEnd LastAutomaticRun;
  // Shows a desktop notification (summary, body); empty: the desktop is not told.
  std::function<void(const QString& summary, const QString& body)> NotifyDesktop;
  // A job handed over with an ACTION was taken and then never run (the window waited for an
  // answer too long, or closed first): the process ends with a failure status however it ends.
  bool HandOverLost = false;

  // Termination requested (by a bad argument, an automatic run, ...): the process ends with
  // ExitCode as soon as control is back in main() or the event loop.
  bool TerminateRequested = false;
  int ExitCode = kExitOk;
  // Ends the event loop with the status (the program sets QCoreApplication::exit; tests leave it
  // empty and read TerminateRequested).
  std::function<void(int)> OnTerminate;

  // The zip engine: every archive operation of the window goes through it. Made with the
  // context; it outlives every controller below.
  std::unique_ptr<TArcZip> ArcZip1;
  // The disc writer ("Burner"): made with the context, its completion events posted to the main
  // thread. It goes after the controllers below; its destructor stops and joins its threads and
  // drops the events still queued.
  std::unique_ptr<TDiscBurner> Burner;

  // --- Subsystems (built by WireSubsystems in app/mainwiring.h; null when not wired) ---
  // Option lists of "Make" and "Archive", the preferences and the inclusion grid.
  std::unique_ptr<TOptionLists> Lists;
  std::unique_ptr<TPreferences> Prefs;
  std::unique_ptr<TInclusionGrid> Grid;
  // The explorer's tick store with its tree and list models.
  std::unique_ptr<TExplorer> Explorer;
  // The recent-job list ("fmhistory.ini").
  std::unique_ptr<TFileMenuHandler> History;
  // The adapters joining the subsystems below to each other and to the window.
  std::unique_ptr<TMainWiring> Wiring;
  // Window modes and option rules; settings files; jobs; the size calculator.
  std::unique_ptr<TOptionsController> Options;
  std::unique_ptr<TSettingsFiles> Settings;
  std::unique_ptr<TJobController> Jobs;
  std::unique_ptr<TSizeCalculator> SizeCalc;
  // The archive view's commands. The window builds it, as it supplies the view's hosts; the
  // deleter comes with the object, so this layer needs no more than the name.
  using ArchiveViewDeleter = void (*)(restore::TArchiveViewController*);
  std::unique_ptr<restore::TArchiveViewController, ArchiveViewDeleter> ArchiveView{nullptr,
                                                                                   nullptr};

  // The backup run ("&WriteZIP"): set by the backup run's controller. A job opened without the
  // user (command line, hand-over, scheduler) calls it to run the job.
  std::function<void()> WriteZbtnClick;

  // The second command-line argument, lower-cased ("" when absent).
  QString ActionArg() const { return CmdArgs.size() > 1 ? CmdArgs.at(1).toLower() : QString(); }
  // The exit status of the process: a failure status, or a failure of an unattended run that
  // would otherwise end with success.
  int FinalExitCode(int status) const {
    return status == kExitOk && (UnattendedFailure || HandOverLost) ? kExitRunFailed : status;
  }
};

// Tells OnAutomaticRunEnd how a run nobody started by hand ended.
void TellAutomaticRunEnd(MainContext& ctx, const TAutomaticRunEnd& end);
// After the automatic run of job that began when told runs had been told: when that run stopped
// on its way (a refusal, a box answered without a user) and told nothing, tells its failure with
// the last text a box gave without a user (why, when not empty).
void TellAutomaticRunStopped(MainContext& ctx, const QString& job, int told, const QString& why);

// Ends the application with the given exit status: at once when the event loop runs, and, when
// it does not run yet, as soon as main() checks TerminateRequested. Later requests never lower a
// failure status to success.
void RequestTerminate(MainContext& ctx, int exitCode);
