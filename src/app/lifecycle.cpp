#include "app/lifecycle.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <exception>
#include <fstream>
#include <sstream>

#include "app/archivename.h"
#include "app/clock.h"
#include "app/commandline.h"
#include "app/controlhost.h"
#include "app/folderverb.h"
#include "app/instancemanager.h"
#include "app/mb.h"
#include "app/optionnames.h"
#include "app/pathbytes.h"
#include "app/preferences.h"
#include "app/screensaver.h"
#include "app/startupseams.h"
#include "platform/inifile.h"
#include "platform/programdir.h"

namespace {

const QString kArcavo = QStringLiteral("Arcavo");

bool IsJobName(const QString& path) {
  const QString suffix = QFileInfo(path).suffix().toLower();
  return suffix == QStringLiteral("job") || suffix == QStringLiteral("cat");
}

QString FileNameOf(const QString& path) {
  return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

// Holds a flag set for as long as it lives.
struct Flag {
  bool& flag;
  explicit Flag(bool& f) : flag(f) { flag = true; }
  ~Flag() { flag = false; }
  Flag(const Flag&) = delete;
  Flag& operator=(const Flag&) = delete;
};

}  // namespace

TAppLifecycle::TAppLifecycle(MainContext& ctx, IStartupSeams& seams, IControlHost& controls,
                             QObject* parent)
    : QObject(parent), ctx_(ctx), seams_(seams), controls_(controls) {}

TAppLifecycle::~TAppLifecycle() {
  Unhook();
  // The sink refers to this object.
  if (unattendedOwner_) SetMbUnattended({});
}

QString TAppLifecycle::VersionDigitsOf(const QString& version) {
  QString digits = version;
  digits.remove(QLatin1Char('.'));
  return digits;
}

int TAppLifecycle::HintDisplayTime(const QString& hint) {
  return std::max(2500, 100 * static_cast<int>(hint.size()));
}

bool TAppLifecycle::Busy() const {
  return ctx_.RunInProgress || seams_.ArchiveBusy();
}

void TAppLifecycle::FormCreate() {
  // Hand-overs that arrive meanwhile wait until the window is up (or are refused while the
  // command line's job runs).
  Flag creating(creating_);
  // 1. Work lists.
  ctx_.WorkList1 = std::make_unique<QStringList>();
  ctx_.WorkList2 = std::make_unique<QStringList>();
  ctx_.InstantList = std::make_unique<QStringList>();

  // 2. Explorer; an unattended "close" start skips the list-to-tree link and change watching.
  seams_.EnableExplorer();
  if (ctx_.ActionArg() != QStringLiteral("close")) {
    seams_.LinkListToTree();
    seams_.RegisterChangeNotify();
    ctx_.ListLinkedToTree = true;
    ctx_.ChangeNotifyOn = true;
  }

  // 3. Hooks: posted events, hand-overs. (Exceptions and hints are hooked by the window.)
  if (QCoreApplication* app = QCoreApplication::instance(); app && !hooked_) {
    app->installEventFilter(this);
    hooked_ = true;
  }
  if (instance_)
    instance_->SetReceiver([this](const THandOver& handOver) { return HandOver(handOver); });

  // 4-6. Recent-job slot, program folder, help file.
  seams_.ClearRecentSlot();
  ctx_.ProgramDir = QString::fromStdString(ProgramDir());
  seams_.SetStartFolder(QDir::homePath());
  if (QFileInfo::exists(ctx_.ProgramDir + QStringLiteral("arcavo.hlp")))
    ctx_.HelpFile = ctx_.ProgramDir + QStringLiteral("arcavo.hlp");

  // 7-10. Engine, first tab, grid defaults, idle mode, default settings.
  seams_.SetupEngine();
  seams_.ShowBrowserTab();
  seams_.FillGridDefaults();
  seams_.Setstate(0);
  seams_.INIfileIO(QString());
  // Hints and themes switched off in the settings are off from the start, as their menu items
  // switch them.
  if (ctx_.Prefs) {
    seams_.SetHintsShown(ctx_.Prefs->Bool(QStringLiteral("Hints")));
    if (!ctx_.Prefs->Bool(QStringLiteral("Themes"))) seams_.SetThemesReleased(true);
  }

  // 11. Version, update revision, tray title, caption.
  ctx_.VersionDigits = VersionDigitsOf(QStringLiteral(ARCAVO_VERSION));
  seams_.SetUpdateRevision(ctx_.VersionDigits.toInt());
  QString base = QFileInfo(programPath_).completeBaseName();
  if (base.isEmpty()) base = QStringLiteral("arcavo");
  ctx_.TrayTitle = base + QStringLiteral(" V") + ctx_.VersionDigits;
  seams_.SetWindowCaption(QStringLiteral("Arcavo V") + ctx_.VersionDigits);

  // 12. Tray follows "Minimise To Tray".
  seams_.SetMinimiseToTray(controls_.ControlChecked(QString::fromLatin1(ctl::kMinToTrayItem)));

  // 13. Command line.
  ctx_.AutoRunFile.clear();
  if (!ctx_.CmdArgs.isEmpty()) {
    const QString file = ctx_.CmdArgs.at(0);
    // A job with an ACTION runs without a user from its first box on, the refusals of the
    // command line included.
    if (ctx_.CmdArgs.size() > 1 && KindOfFile(file) == FileKind::Job) BeginUnattended();
    const QString problem = CheckCommandLine(ctx_.CmdArgs);
    if (!problem.isEmpty()) {
      MbInfo(problem);
      WriteUnattendedReport(file);
      RequestTerminate(ctx_, kExitBadArgument);
      // A job with an ACTION was meant to run without the user, who is told it did not.
      if (ctx_.CmdArgs.size() > 1)
        TellAutomaticRunStopped(ctx_, file, ctx_.AutomaticRunsTold, problem);
      return;
    }
    switch (KindOfFile(file)) {
      case FileKind::Archive:
        ctx_.AutoRunFile = file;
        seams_.SetArchiveName(file);
        seams_.Setstate(1);
        break;
      case FileKind::Job:
        RunAutomaticJob(file, ctx_.CmdArgs.value(1), true);
        return;  // the job has run; steps 14-15 are skipped
      case FileKind::Other:
        ctx_.AutoRunFile = file;
        break;
    }
  }

  // 14 concerns an old platform family only. 15. The scheduler's time picker.
  seams_.SetTimePickerFormat(QStringLiteral("HH:mm"));
}

void TAppLifecycle::FormShow() {
  if (!ctx_.FirstShow) return;
  ctx_.FirstShow = false;
  seams_.ActivateExplorerTree();
  Delay(25);
  seams_.ActivateExplorerList();
  Delay(25);
  seams_.EnableArchiveView(true);
  Delay(25);
  seams_.PrepareArchiveView();
  Delay(25);
  seams_.ExpandTreeToStart();
  seams_.LoadRecentList();
  if (!ctx_.CmdArgs.isEmpty()) {
    const QString arg = ctx_.CmdArgs.at(0);
    if (PathExists(arg) && !PathIsDir(arg)) seams_.OpenRecent(arg);
    // An archive or other file of the command line has served the start now: left set, it
    // would stand for the job of every later "Open Job" and recent entry.
    if (ctx_.AutoRunFile == arg) ctx_.AutoRunFile.clear();
  }
}

void TAppLifecycle::FormActivate() {
  if (seams_.ScreenWidth() <= 800) seams_.Maximise();
}

void TAppLifecycle::FormPaint() {
  if (!ctx_.FirstPaint) return;
  ctx_.FirstPaint = false;
  // The window is up before anything else. What a first start cannot do (no disc writer, no
  // program to show the help) goes to the status bar: a box here would wait on an empty screen,
  // and every job handed over meanwhile would wait behind it.
  if (!seams_.WindowVisible()) seams_.ShowWindow();
  QStringList notes;
  const std::string iniPath = (ctx_.ProgramDir + QStringLiteral("default.ini")).toStdString();
  IniFile ini(iniPath);
  if (!ini.ValueExists("Options", "ClrDisk")) {
    // First run: find a disc writer once.
    try {
      const QVector<BurnerDeviceInfo> devices = seams_.ScanBurners();
      auto writer = std::find_if(devices.begin(), devices.end(),
                                 [](const BurnerDeviceInfo& d) { return d.canWrite; });
      if (writer != devices.end()) {
        const BurnerDeviceInfo& d = *writer;
        ini.WriteBool("Options", "BurnerSizingAuto", true);
        ini.WriteBool("Options", "Native", true);
        ini.WriteString("Options", "Burner", d.name.toStdString());
        ini.WriteString("Options", "BurnerDrive", d.drive.toStdString());
        ini.WriteInteger("Options", "BurnerSpeed", d.writeSpeed);
        ini.WriteBool("Options", "BurnerFinal", d.finalize);
        if (ctx_.Prefs) {
          ctx_.Prefs->Set(QStringLiteral("BurnerSizingAuto"), true);
          ctx_.Prefs->Set(QStringLiteral("Native"), true);
          ctx_.Prefs->Set(QStringLiteral("Burner"), d.name);
          ctx_.Prefs->Set(QStringLiteral("BurnerDrive"), d.drive);
          ctx_.Prefs->Set(QStringLiteral("BurnerSpeed"), d.writeSpeed);
          ctx_.Prefs->Set(QStringLiteral("BurnerFinal"), d.finalize);
        }
      }
    } catch (const std::exception&) {
      notes << QStringLiteral(
          "Burner Device not found - If CDwriter exists, please set under "
          "Options");
    }
    ini.WriteInteger("Options", "ClrDisk", 0);
    try {
      ini.Save();
    } catch (const std::exception& e) {
      notes << QString::fromLocal8Bit(e.what());
    }
    if (const QString problem = seams_.TryOpenHelp(39); !problem.isEmpty()) notes << problem;
  }
  if (!notes.isEmpty()) seams_.ShowStatusNote(notes.join(QStringLiteral("  |  ")));
  if (controls_.ControlChecked(QString::fromLatin1(ctl::kStartMinimisedItem))) {
    Delay(50);
    seams_.HideToTrayMinimised();
  }
}

THandOverAnswer TAppLifecycle::HandOver(const THandOver& handOver) {
  if (handOver.path == QLatin1String(kStealthNowArg)) {
    if (!onStealthNow) return {false, QStringLiteral("the hotkey backup is not available")};
    onStealthNow();
    return {};
  }
  // Started again by hand, without a file: the window the user looks for comes to the front.
  if (handOver.path.isEmpty() && handOver.action.isEmpty()) seams_.RaiseWindow();
  // An archive (the desktop's "Open with", the menu entry's file) is opened for restore, as a
  // first start with it would.
  if (handOver.action.isEmpty() && KindOfFile(handOver.path) == FileKind::Archive &&
      PathIsFile(handOver.path)) {
    if (Busy() || ctx_.TerminateRequested)
      return {false, QStringLiteral("an archive operation is running; '") + handOver.path +
                         QStringLiteral("' was not opened")};
    seams_.RaiseWindow();
    OpenArchiveWhenIdle(handOver.path);
    return {};
  }
  ctx_.HandedOverPath = handOver.path;
  return IMgrTrigger(handOver.action);
}

void TAppLifecycle::OpenArchiveWhenIdle(const QString& path) {
  // From the event loop once nothing else goes on, as a job handed over (never inside a box's
  // loop, nor while the window is being made).
  auto* timer = new QTimer(this);
  timer->setInterval(50);
  connect(timer, &QTimer::timeout, this, [this, timer, path] {
    if (!ctx_.TerminateRequested && !closeDone_ &&
        (creating_ || delivering_ || Busy() || !seams_.WindowIdle()))
      return;
    timer->stop();
    timer->deleteLater();
    if (ctx_.TerminateRequested || closeDone_) return;
    seams_.OpenRecent(path);
  });
  timer->start();
}

THandOverAnswer TAppLifecycle::IMgrTrigger(const QString& action) {
  seams_.ResetGeneralTicks();
  const QString path = ctx_.HandedOverPath;
  const bool job = IsJobName(path);
  if (job && !Busy()) {
    // The path keeps its case: file names are case-sensitive here.
    ctx_.HandedOverPath.clear();
    // A program that is ending runs nothing more.
    if (ctx_.TerminateRequested || (creating_ && ctx_.ActionArg() == QStringLiteral("close")) ||
        ctx_.AutoRunAction == QStringLiteral("close"))
      return {false, QStringLiteral("the running instance is closing; the job was not started")};
    const QString refusal = seams_.JobRefusal(path);
    if (!refusal.isEmpty()) {
      // The later start prints it on one line, as unattended boxes are.
      MbBox box;
      box.text = refusal;
      return {false, MbUnattendedText(box)};
    }
    pending_.append({{path, action}, CurrentClock().TickMs()});
    // Started from the event loop once nothing else is going on (never inside a dialog's or a
    // box's loop, nor inside another handler).
    if (!deliverTimer_) {
      deliverTimer_ = new QTimer(this);
      deliverTimer_->setInterval(50);
      connect(deliverTimer_, &QTimer::timeout, this, &TAppLifecycle::DeliverPending);
    }
    deliverTimer_->start();
    return {};
  }
  if (ctx_.ZipName.toUpper().contains(QStringLiteral("STEALTH"))) {
    if (ctx_.HandedOverPath.isEmpty()) {
      seams_.WriteInstantBackup();
    } else {
      // Consumed only when the instant backup took it: a path nobody collects is refused.
      if (!seams_.AddInstantPath(path))
        return {false, QStringLiteral("no instant backup can take '") + path +
                           QStringLiteral("'; it was not backed up")};
      ctx_.HandedOverPath.clear();
    }
    return {};
  }
  // Nothing happens; the path is not consumed.
  if (job)
    return {false, QStringLiteral("an archive operation is running; the job ") + path +
                       QStringLiteral(" was not started")};
  if (path.isEmpty()) return {};
  return {false, QStringLiteral("'") + path + QStringLiteral("' is not a job file")};
}

void TAppLifecycle::DeliverPending() {
  if (pending_.isEmpty()) {
    deliverTimer_->stop();
    return;
  }
  if (ctx_.TerminateRequested || closeDone_) {
    DropPending(QStringLiteral("the program ended first"));
    return;
  }
  // One at a time: a job being opened may turn the event loop before its run counts as busy.
  if (delivering_ || creating_ || Busy()) return;
  if (!seams_.WindowIdle()) {
    // A box or dialog waits for the user. A job with an ACTION was meant to run without anyone
    // (and may end with powering the machine down): after a bounded wait it is given up and
    // reported, rather than run at some later hour when someone answers. A job without an
    // ACTION came from a user at the desktop and waits for them.
    const int64_t now = CurrentClock().TickMs();
    for (qsizetype i = 0; i < pending_.size();) {
      const TPendingHandOver& p = pending_.at(i);
      if (!p.handOver.action.isEmpty() && now - p.since >= kUnattendedHandOverWaitMs) {
        const THandOver lost = pending_.takeAt(i).handOver;
        ReportNotStarted(lost, QStringLiteral("the window waited %1 s for an answer in a box")
                                   .arg(kUnattendedHandOverWaitMs / 1000));
      } else {
        ++i;
      }
    }
    if (pending_.isEmpty()) deliverTimer_->stop();
    return;
  }
  Flag delivering(delivering_);
  const THandOver next = pending_.takeFirst().handOver;
  if (pending_.isEmpty()) deliverTimer_->stop();
  RunAutomaticJob(next.path, next.action, false);
}

void TAppLifecycle::DropPending(const QString& why) {
  const auto lost = std::exchange(pending_, {});
  if (deliverTimer_) deliverTimer_->stop();
  for (const TPendingHandOver& p : lost) ReportNotStarted(p.handOver, why);
}

void TAppLifecycle::ReportNotStarted(const THandOver& job, const QString& why) {
  const QString text =
      QStringLiteral("The job ") + job.path + QStringLiteral(" was not started: ") + why;
  seams_.ShowStatusNote(text);
  if (!job.action.isEmpty()) {
    std::fprintf(stderr, "arcavo: %s\n", PathBytes(text).c_str());
    std::fflush(stderr);
    ctx_.HandOverLost = true;
  }
  // The job's own report file says it too, as for a run that stopped on the way.
  const QStringList others = std::exchange(ctx_.UnattendedLog, {text});
  const QString report = std::exchange(ctx_.ReportFile, {});
  WriteUnattendedReport(job.path, true);
  ctx_.UnattendedLog = others;
  ctx_.ReportFile = report;
}

void TAppLifecycle::RunAutomaticJob(const QString& file, const QString& action, bool commandLine) {
  const bool unattended = !action.isEmpty();
  const bool wasUnattended = MbUnattended();
  if (unattended && !wasUnattended) BeginUnattended();
  ctx_.AutoRunFile = file;
  ctx_.AutoRunAction = action.toLower();
  ctx_.AutoRunIsCommandLine = commandLine;
  ctx_.ReportFile.clear();
  const int told = ctx_.AutomaticRunsTold;
  seams_.OpenCbutton();
  // The run empties AutoRunFile at its end; still set, the run stopped on the way (a refusal,
  // a box) and the window goes back to interactive use.
  const bool stopped = !ctx_.AutoRunFile.isEmpty();
  ctx_.AutoRunFile.clear();
  ctx_.AutoRunAction.clear();
  ctx_.AutoRunIsCommandLine = false;
  if (!unattended) {
    if (stopped) TellAutomaticRunStopped(ctx_, file, told, QString());
    return;
  }
  if (stopped) ctx_.UnattendedFailure = true;
  const QString why = ctx_.UnattendedLog.isEmpty() ? QString() : ctx_.UnattendedLog.last();
  WriteUnattendedReport(file);
  // Nobody is there to go on with: the process started for this run ends with a failure.
  if (commandLine && stopped) RequestTerminate(ctx_, kExitRunFailed);
  if (stopped) TellAutomaticRunStopped(ctx_, file, told, why);
  if (!ctx_.TerminateRequested && !wasUnattended) EndUnattended();
}

void TAppLifecycle::BeginUnattended() {
  unattendedOwner_ = true;
  SetMbUnattended([this](const QString& text, bool failure) {
    // The name bytes as they are: a file name that is not UTF-8 reads as the user knows it.
    std::fprintf(stderr, "arcavo: %s\n", PathBytes(text).c_str());
    std::fflush(stderr);
    ctx_.UnattendedLog << text;
    if (failure) ctx_.UnattendedFailure = true;
  });
}

void TAppLifecycle::EndUnattended() {
  unattendedOwner_ = false;
  SetMbUnattended({});
  ctx_.UnattendedFailure = false;
}

void TAppLifecycle::WriteUnattendedReport(const QString& job, bool namedAfterJob) {
  if (ctx_.UnattendedLog.isEmpty()) return;
  const QStringList lines = std::exchange(ctx_.UnattendedLog, {});
  QString file = ctx_.ReportFile;
  std::string text;
  if (!file.isEmpty()) {
    std::ifstream in(PathBytes(file), std::ios::binary);
    std::ostringstream old;
    old << in.rdbuf();
    text = old.str();
    if (!text.empty() && text.back() != '\n') text += '\n';
  } else {
    QString dir = ctx_.ProgramDir;
    if (dir.isEmpty()) {
      try {
        dir = PathText(ProgramDir());
      } catch (const std::exception&) {
        return;
      }
    }
    const int format = ctx_.Prefs ? ctx_.Prefs->Int(QStringLiteral("DateTimeFormat")) : 0;
    const QString base = ctx_.ZipName.isEmpty() || namedAfterJob ? job : ctx_.ZipName;
    file = dir + EXTNdatetime(1, FileNameOf(base), format, CurrentClock().Now()) +
           QStringLiteral(".txt");
  }
  for (const QString& l : lines) text += PathBytes(l) + '\n';
  try {
    WriteFileAtomically(PathBytes(file), text);
    ctx_.ReportFile = file;
  } catch (const std::exception&) {
    // Standard error has the texts already.
  }
}

void TAppLifecycle::AppException(const QString& text) {
  MbMessage(text, kArcavo, false, MB_ICONERROR);
}

bool TAppLifecycle::CallGuarded(const std::function<bool()>& f,
                                const std::function<void(const QString&)>& onError) {
  try {
    return f();
  } catch (const std::exception& e) {
    if (onError) onError(QString::fromLocal8Bit(e.what()));
  } catch (...) {
    if (onError) onError(QStringLiteral("Unknown exception"));
  }
  return false;
}

void TAppLifecycle::WindowActiveChanged(bool active) {
  if (screenSaver_ && hooked_) screenSaver_->SetInhibited(active);
}

bool TAppLifecycle::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == static_cast<QEvent::Type>(kNoticeCancelEventType)) {
    AppMessageNoticeCancel();
    return true;
  }
  return QObject::eventFilter(watched, event);
}

void TAppLifecycle::AppMessageNoticeCancel() {
  MbNoticeClose();
  if (seams_.SchedulerStage() == 2) {
    seams_.StopSchedulerTimer();
    seams_.SetSchedulerStage(0);
  } else {
    seams_.IMgrTriggerCleanUp();
    seams_.StopGeneralTimer();
    seams_.ResetGeneralTicks();
  }
}

void TAppLifecycle::Unhook() {
  if (hooked_) {
    if (QCoreApplication* app = QCoreApplication::instance()) app->removeEventFilter(this);
    hooked_ = false;
  }
  if (screenSaver_) screenSaver_->SetInhibited(false);
}

CloseDecision TAppLifecycle::FormCloseQuery(bool ask) {
  if (closeDone_) return CloseDecision::Close;
  if (Busy()) {
    if (!closePending_) {
      if (ask) {
        const int r = MbMessage(QStringLiteral("CANCEL ZIP in progress? (OK cancels)"), kArcavo,
                                false, MB_OKCANCEL | MB_ICONEXCLAMATION);
        if (r != IDOK) return CloseDecision::Refuse;
      }
      ctx_.SizeCalcMode = true;
      if (seams_.OperationPaused()) seams_.ResumeOperation();
      seams_.CancelOperation();
    }
    if (Busy()) {
      // The running operation still uses the window's state: close once it has unwound.
      closePending_ = true;
      if (!closePoll_) {
        closePoll_ = new QTimer(this);
        closePoll_->setInterval(50);
        connect(closePoll_, &QTimer::timeout, this, [this] {
          if (Busy()) return;
          closePoll_->stop();
          emit closeReady();
        });
      }
      closePoll_->start();
      return CloseDecision::Deferred;
    }
  }
  RunCloseSequence();
  return CloseDecision::Close;
}

void TAppLifecycle::RunCloseSequence() {
  if (closeDone_) return;
  closeDone_ = true;
  DropPending(QStringLiteral("the window was closed first"));
  closePending_ = false;
  seams_.SetTrayEnabled(false);
  seams_.StopGeneralTimer();
  seams_.StopSchedulerTimer();
  Unhook();
  ctx_.CloseStep = 0;
  try {
    ++ctx_.CloseStep;
    seams_.StopChangeNotify();
    ctx_.ChangeNotifyOn = false;
    ++ctx_.CloseStep;
    if (instance_) instance_->Release();
    ++ctx_.CloseStep;
    seams_.StopBurner();
    ++ctx_.CloseStep;
    UNRegisterApp();
    ++ctx_.CloseStep;
    seams_.EnableArchiveView(false);
    ++ctx_.CloseStep;
    seams_.Setstate(0);
    ++ctx_.CloseStep;
    ctx_.WorkList1.reset();
    ctx_.WorkList2.reset();
    ctx_.InstantList.reset();
    ++ctx_.CloseStep;
    seams_.ClearSearchResults();
    ++ctx_.CloseStep;
    seams_.FreeDirMonitors();
  } catch (const std::exception& e) {
    MbMessage(QString::fromLocal8Bit(e.what()) + QStringLiteral(" @ line ") +
                  QString::number(ctx_.CloseStep),
              kArcavo, true, MB_ICONERROR);
  } catch (...) {
    MbMessage(QStringLiteral("Unknown exception @ line ") + QString::number(ctx_.CloseStep),
              kArcavo, true, MB_ICONERROR);
  }
}

bool TAppLifecycle::WMQueryEndSession() {
  if (!Busy()) return true;
  MbInfo(QStringLiteral("Arcavo busy, Cancel ZIP and close"));
  return false;
}

void TAppLifecycle::RegisterApp() {
  ::RegisterApp(programPath_);
}

void TAppLifecycle::UNRegisterApp() {
  ::UNRegisterApp();
}

void TAppLifecycle::Hints1Click() {
  const bool on = !controls_.ControlChecked(QString::fromLatin1(ctl::kHintsItem));
  controls_.SetControlChecked(QString::fromLatin1(ctl::kHintsItem), on);
  seams_.SetHintsShown(on);
  if (!on) controls_.SetControlCaption(QString::fromLatin1(ctl::kContextHelpItem), QString());
  seams_.INIcheckedMenuItem(QStringLiteral("Hints"), on);
}

void TAppLifecycle::ThemeManager1Click() {
  const QString item = QString::fromLatin1(ctl::kThemeManagerItem);
  const bool on = controls_.ControlChecked(item);
  if (on) {
    const int r =
        MbMessage(QStringLiteral("OK this option only if having display problems with Arcavo\r"
                                 "               Click OK to continue or CANCEL"),
                  kArcavo, false, MB_OKCANCEL | MB_ICONINFORMATION);
    if (r != IDOK) return;
    seams_.SetThemesReleased(true);
  } else {
    MbInfo(QStringLiteral("ThemeManager re-instates next time you open Arcavo"));
    seams_.SetThemesReleased(false);
  }
  controls_.SetControlChecked(item, !on);
  seams_.INIcheckedMenuItem(QStringLiteral("Themes"), !on);
}

void TAppLifecycle::Help1Click() {
  seams_.OpenHelp(1);
  Delay(10);
  seams_.OpenHelp(1);
}

void IStartupSeams::INIcheckedMenuItem(const QString& key, bool checked) {
  IniFile ini(ProgramDir() + "default.ini");
  ini.WriteBool("Options", key.toStdString(), checked);
  try {
    ini.Save();
  } catch (const std::exception& e) {
    MbMessage(QString::fromLocal8Bit(e.what()), kArcavo, false, MB_ICONERROR);
  }
}
