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

// Exit statuses of the process.
enum ExitStatus : int {
  kExitOk = 0,
  kExitRunFailed = 1,    // an unattended run (or the start-up itself) failed
  kExitBadArgument = 2,  // a missing file or an argument that is not accepted
};

struct MainContext {
  // Folder of the settings, jobs and reports, with a trailing "/".
  QString ProgramDir;
  // The file to run without the user; empty in interactive use.
  QString AutoRunFile;
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
  // The current archive name ("" when none).
  QString ZipName;

  // The three work text lists of the backup run and the instant backup (freed at close).
  std::unique_ptr<QStringList> WorkList1;
  std::unique_ptr<QStringList> WorkList2;
  std::unique_ptr<QStringList> InstantList;

  // Set up at window creation unless the second argument is "close".
  bool ListLinkedToTree = false;
  bool ChangeNotifyOn = false;

  // Termination requested (by a bad argument, an automatic run, ...): the process ends with
  // ExitCode as soon as control is back in main() or the event loop.
  bool TerminateRequested = false;
  int ExitCode = kExitOk;
  // Ends the event loop with the status (the program sets QCoreApplication::exit; tests leave it
  // empty and read TerminateRequested).
  std::function<void(int)> OnTerminate;

  // The second command-line argument, lower-cased ("" when absent).
  QString ActionArg() const { return CmdArgs.size() > 1 ? CmdArgs.at(1).toLower() : QString(); }
};

// Ends the application with the given exit status: at once when the event loop runs, and, when
// it does not run yet, as soon as main() checks TerminateRequested. Later requests never lower a
// failure status to success.
void RequestTerminate(MainContext& ctx, int exitCode);
