// The life of the program around the main window: window creation, first show, activation and
// first paint, the hand-over receipt, the application hooks, the close query and close sequence,
// and the refusal of a session end while an archive operation runs.
//
// The controller works on MainContext and reaches the other subsystems and the window through
// IStartupSeams, the menu and control states through IControlHost and the user through the
// message boxes, so it runs headless in tests.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>

#include "app/instancemanager.h"
#include "app/maincontext.h"

class IControlHost;
class IStartupSeams;
class QTimer;
class ScreenSaverInhibitor;

// The answer of the close query.
enum class CloseDecision {
  Refuse,    // the window stays open
  Close,     // the close sequence has run; the window may close
  Deferred,  // an operation is being cancelled; closeReady() follows once it has unwound
};

class TAppLifecycle : public QObject {
  Q_OBJECT
 public:
  TAppLifecycle(MainContext& ctx, IStartupSeams& seams, IControlHost& controls,
                QObject* parent = nullptr);
  ~TAppLifecycle() override;

  // The single-instance guard of this process (may be null); released by the close sequence,
  // its hand-overs arrive at IMgrTrigger.
  void SetInstanceManager(TInstanceManager* manager) { instance_ = manager; }
  // Holds off the screen saver while the window is in front (may be null).
  void SetScreenSaverInhibitor(ScreenSaverInhibitor* inhibitor) { screenSaver_ = inhibitor; }
  // Path of the program file, for the folder verb.
  void SetProgramPath(const QString& path) { programPath_ = path; }

  // Window creation. Ends early (with TerminateRequested) on a bad argument, and after opening a
  // job named on the command line.
  void FormCreate();
  // The first show of the window (later calls do nothing).
  void FormShow();
  // Every activation of the window.
  void FormActivate();
  // The first paint (later calls do nothing).
  void FormPaint();

  // The hand-over receipt: decides on HandedOverPath at once. A job is started (when the
  // window is idle: see HandOver) unless an archive operation runs or the job cannot run; a path
  // that is not a job, or any path while an operation runs, joins the instant backup when a
  // stealth archive is current. The answer says whether it was taken, and if not, why. action
  // is the ACTION that goes with a handed-over job.
  THandOverAnswer IMgrTrigger(const QString& action = QString());
  // The argument a later start hands over to run the hotkey backup ("arcavo --stealth-now", for
  // desktops where the program cannot take the hotkey itself).
  static constexpr const char* kStealthNowArg = "--stealth-now";
  // Runs the hotkey backup; without it, the hand-over of kStealthNowArg is refused.
  std::function<void()> onStealthNow;
  // A path (and ACTION) received from a later start. A job taken while a dialog or box is open
  // or a handler runs waits, and runs once the window is idle again.
  THandOverAnswer HandOver(const THandOver& handOver);
  // Jobs taken and waiting for the window to be idle.
  int PendingHandOvers() const { return static_cast<int>(pending_.size()); }
  // How long a job handed over with an ACTION waits while a box or dialog waits for the user.
  static constexpr int kUnattendedHandOverWaitMs = 60000;

  // Runs a job without the user: AutoRunFile := file, opened and run (OpenCbutton). With an
  // action the run is unattended: no box waits, their texts go to standard error and the report
  // file. A run that stops before its end (a refusal, a box) leaves interactive use as it was;
  // the process started for it (commandLine with an action) then ends with a failure.
  void RunAutomaticJob(const QString& file, const QString& action, bool commandLine);
  // The exception hook: shows the error and lets the program go on.
  void AppException(const QString& text);
  // Runs f; an exception escaping it goes to onError (with its text) and the result is false.
  static bool CallGuarded(const std::function<bool()>& f,
                          const std::function<void(const QString&)>& onError);

  // The window came to the front or left it.
  void WindowActiveChanged(bool active);

  // ask: false when the close must happen (a termination signal): a running operation is then
  // cancelled without the question.
  CloseDecision FormCloseQuery(bool ask = true);
  // The close sequence on its own (the close query runs it).
  void RunCloseSequence();
  bool closeSequenceDone() const { return closeDone_; }
  // Whether the session may end now; refused (with a box) while an archive operation runs.
  bool WMQueryEndSession();

  void RegisterApp();
  void UNRegisterApp();

  // Commands of the window itself.
  void Hints1Click();
  void ThemeManager1Click();
  void Help1Click();

  // How long a hint stays up: 100 ms per character, at least 2500 ms.
  static int HintDisplayTime(const QString& hint);

  // True while an archive operation runs.
  bool Busy() const;

  static QString VersionDigitsOf(const QString& version);

 signals:
  // A deferred close may now go ahead: the window closes again.
  void closeReady();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void AppMessageNoticeCancel();
  void Unhook();
  // Starts the waiting hand-overs one by one while the window is idle.
  void DeliverPending();
  // Unattended mode on (boxes to standard error and the log) and off again.
  void BeginUnattended();
  void EndUnattended();
  // The box texts of an unattended run go into the run's report file, or, when the run wrote
  // none, into a report file of their own named after the archive (or the job).
  void WriteUnattendedReport(const QString& job, bool namedAfterJob = false);
  // A job taken from a later start that will not run: why, in the status bar and the job's
  // report file; with an ACTION also on standard error and in the exit status.
  void ReportNotStarted(const THandOver& job, const QString& why);
  // Opens an archive handed over once the window is idle.
  void OpenArchiveWhenIdle(const QString& path);
  void DropPending(const QString& why);

  MainContext& ctx_;
  IStartupSeams& seams_;
  IControlHost& controls_;
  TInstanceManager* instance_ = nullptr;
  ScreenSaverInhibitor* screenSaver_ = nullptr;
  QString programPath_;
  bool hooked_ = false;
  bool creating_ = false;
  bool delivering_ = false;
  bool unattendedOwner_ = false;
  struct TPendingHandOver {
    THandOver handOver;
    int64_t since = 0;  // the clock's tick when it was taken
  };
  QList<TPendingHandOver> pending_;
  QTimer* deliverTimer_ = nullptr;
  bool closePending_ = false;
  bool closeDone_ = false;
  QTimer* closePoll_ = nullptr;
};
