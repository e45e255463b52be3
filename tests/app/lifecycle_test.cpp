// Start-up, command line, hand-over receipt, hooks and the close sequence, headless.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QThread>
#include <QTimer>
#include <functional>
#include <stdexcept>

#include "app/commandline.h"
#include "app/lifecycle.h"
#include "app/mb.h"
#include "app/startupseams.h"
#include "platform/inifile.h"
#include "platform/programdir.h"
#include "qt_controlhost.h"
#include "qt_scriptedhost.h"
#include "testutil.h"

namespace {

using testutil::IsolatedXdg;
using testutil::TempDir;

// Records every call the controller makes; busy state and failures are set by the test.
class RecordingSeams : public IStartupSeams {
 public:
  QStringList calls;
  bool busy = false;
  bool paused = false;
  bool cancelStopsAtOnce = true;
  int screenWidth = 1280;
  int stage = 0;
  QString throwIn;  // the call that throws
  QVector<BurnerDeviceInfo> devices;
  bool scanFails = false;
  bool idle = true;                 // no dialog open, no handler running
  bool instant = true;              // an instant backup takes handed-over paths
  QMap<QString, QString> refusals;  // job -> why it cannot run
  std::function<void()> onOpen;     // runs inside OpenCbutton

  void Rec(const QString& c) {
    calls << c;
    if (c == throwIn) throw std::runtime_error("boom");
  }
  int ScreenWidth() const override { return screenWidth; }
  void Maximise() override { Rec("Maximise"); }
  void SetWindowCaption(const QString& c) override { Rec("Caption " + c); }
  void ShowBrowserTab() override { Rec("ShowBrowserTab"); }
  void SetTimePickerFormat(const QString& f) override { Rec("TimeFormat " + f); }
  void OpenHelp(int c) override { Rec(QString("Help %1").arg(c)); }
  void ShowStatusNote(const QString& n) override { Rec("Note " + n); }
  void HideToTrayMinimised() override { Rec("HideToTray"); }
  void SetHintsShown(bool on) override { Rec(QString("Hints %1").arg(on)); }
  void SetThemesReleased(bool r) override { Rec(QString("ThemesReleased %1").arg(r)); }
  void EnableExplorer() override { Rec("EnableExplorer"); }
  void LinkListToTree() override { Rec("LinkListToTree"); }
  void RegisterChangeNotify() override { Rec("RegisterChangeNotify"); }
  void StopChangeNotify() override { Rec("StopChangeNotify"); }
  void FillGridDefaults() override { Rec("FillGridDefaults"); }
  void ActivateExplorerTree() override { Rec("ActivateTree"); }
  void ActivateExplorerList() override { Rec("ActivateList"); }
  void ExpandTreeToStart() override { Rec("ExpandTree"); }
  void Setstate(int m) override { Rec(QString("Setstate %1").arg(m)); }
  void INIfileIO(const QString& f) override { Rec("INIfileIO " + f); }
  void OpenCbutton() override {
    Rec("OpenCbutton");
    if (onOpen) onOpen();
  }
  bool WindowIdle() const override { return idle; }
  QString JobRefusal(const QString& job) override { return refusals.value(job); }
  void ClearRecentSlot() override { Rec("ClearRecentSlot"); }
  void LoadRecentList() override { Rec("LoadRecentList"); }
  void OpenRecent(const QString& f) override { Rec("OpenRecent " + f); }
  void SetupEngine() override { Rec("SetupEngine"); }
  bool ArchiveBusy() const override { return busy; }
  bool OperationPaused() const override { return paused; }
  void ResumeOperation() override { Rec("Resume"); }
  void CancelOperation() override {
    Rec("Cancel");
    if (cancelStopsAtOnce) busy = false;
  }
  void SetArchiveName(const QString& n) override { Rec("SetArchiveName " + n); }
  void EnableArchiveView(bool on) override { Rec(QString("ArchiveView %1").arg(on)); }
  void PrepareArchiveView() override { Rec("PrepareArchiveView"); }
  void ClearSearchResults() override { Rec("ClearSearchResults"); }
  QVector<BurnerDeviceInfo> ScanBurners() override {
    Rec("ScanBurners");
    if (scanFails) throw std::runtime_error("no SCSI");
    return devices;
  }
  void StopBurner() override { Rec("StopBurner"); }
  bool AddInstantPath(const QString& p) override {
    Rec("AddInstantPath " + p);
    return instant;
  }
  void WriteInstantBackup() override { Rec("WriteInstantBackup"); }
  void IMgrTriggerCleanUp() override { Rec("IMgrTriggerCleanUp"); }
  void FreeDirMonitors() override { Rec("FreeDirMonitors"); }
  void StopGeneralTimer() override { Rec("StopGeneralTimer"); }
  void ResetGeneralTicks() override { Rec("ResetGeneralTicks"); }
  int SchedulerStage() const override { return stage; }
  void SetSchedulerStage(int s) override {
    stage = s;
    Rec(QString("SchedulerStage %1").arg(s));
  }
  void StopSchedulerTimer() override { Rec("StopSchedulerTimer"); }
  void SetTrayEnabled(bool on) override { Rec(QString("Tray %1").arg(on)); }
  void SetMinimiseToTray(bool on) override { Rec(QString("MinToTray %1").arg(on)); }
  void SetUpdateRevision(int r) override { Rec(QString("Revision %1").arg(r)); }
};

class LifecycleTest : public ::testing::Test {
 protected:
  LifecycleTest() : xdg_(tmp_.path()) {
    ResetProgramDirForTest();
    SetMbTerminating(false);
  }
  ~LifecycleTest() override {
    SetMbTerminating(false);
    ResetProgramDirForTest();
  }
  TAppLifecycle& Make(QStringList args = {}) {
    ctx_.CmdArgs = args;
    life_ = std::make_unique<TAppLifecycle>(ctx_, seams_, controls_);
    return *life_;
  }
  std::string File(const std::string& name) {
    testutil::WriteFile(tmp_ / name, "x");
    return tmp_ / name;
  }
  QString Q(const std::string& s) { return QString::fromStdString(s); }

  TempDir tmp_;
  IsolatedXdg xdg_;
  ScriptedHost host_;
  FakeClock clock_;
  MainContext ctx_;
  RecordingSeams seams_;
  RecordingControlHost controls_;
  std::unique_ptr<TAppLifecycle> life_;
};

TEST(CommandLine, ActionIsAcceptedWhenItOccursInsideTheThreeWords) {
  for (const char* ok : {"close", "CLOSE", "Hiber", "e", "shutdown", "hibernate", "eh", ""})
    EXPECT_TRUE(IsAcceptedAction(QString::fromLatin1(ok))) << ok;
  for (const char* bad : {"reboot", "closex", "shut down", "hibernateshutdownx"})
    EXPECT_FALSE(IsAcceptedAction(QString::fromLatin1(bad))) << bad;
  EXPECT_EQ(InvalidOptionMessage("reboot"), QStringLiteral("'REBOOT' invalid option"));
  EXPECT_EQ(MissingFileMessage("a b.job"), QStringLiteral("File 'a b.job' does not exist"));
  EXPECT_EQ(KindOfFile("/x/Y.Zip"), FileKind::Archive);
  EXPECT_EQ(KindOfFile("/x/y.cat"), FileKind::Job);
  EXPECT_EQ(KindOfFile("/x.job/y"), FileKind::Other);
}

TEST_F(LifecycleTest, NoArgumentsLoadsTheDefaultsAndStaysInteractive) {
  Make().FormCreate();
  EXPECT_FALSE(ctx_.TerminateRequested);
  EXPECT_TRUE(ctx_.AutoRunFile.isEmpty());
  EXPECT_EQ(ctx_.ProgramDir, Q(tmp_ / "config/arcavo/"));
  EXPECT_EQ(ctx_.VersionDigits, QString(ARCAVO_VERSION).remove('.'));
  const QStringList expected{"EnableExplorer",
                             "LinkListToTree",
                             "RegisterChangeNotify",
                             "ClearRecentSlot",
                             "SetupEngine",
                             "ShowBrowserTab",
                             "FillGridDefaults",
                             "Setstate 0",
                             "INIfileIO ",
                             QString("Revision %1").arg(ctx_.VersionDigits.toInt()),
                             "Caption Arcavo V" + ctx_.VersionDigits,
                             "MinToTray 0",
                             "TimeFormat HH:mm"};
  EXPECT_EQ(seams_.calls, expected);
  EXPECT_TRUE(host_.transcript().isEmpty());
  ASSERT_TRUE(ctx_.WorkList1 && ctx_.WorkList2 && ctx_.InstantList);
}

TEST_F(LifecycleTest, MissingFileShowsTheMessageAndTerminatesWithFailure) {
  host_.Answer(IDOK, QStringLiteral("File '/no/such/x.job' does not exist"));
  Make({"/no/such/x.job"}).FormCreate();
  EXPECT_TRUE(ctx_.TerminateRequested);
  EXPECT_EQ(ctx_.ExitCode, kExitBadArgument);
  EXPECT_FALSE(seams_.calls.contains("OpenCbutton"));
  EXPECT_FALSE(seams_.calls.contains("TimeFormat HH:mm"));
  EXPECT_TRUE(MbTerminating());
}

TEST_F(LifecycleTest, PiecesOfTheActionWordsAreAcceptedAndDoNothingAtStart) {
  const QString file = Q(File("notes.txt"));
  for (const char* action : {"Hiber", "e"}) {
    seams_.calls.clear();
    ctx_ = MainContext{};
    Make({file, action}).FormCreate();
    EXPECT_FALSE(ctx_.TerminateRequested) << action;
    EXPECT_EQ(ctx_.AutoRunFile, file);
    EXPECT_TRUE(seams_.calls.contains("LinkListToTree"));
    EXPECT_FALSE(seams_.calls.contains("OpenCbutton"));
    // Once the window has shown, the file no longer stands for the job of later commands.
    life_->FormShow();
    EXPECT_TRUE(ctx_.AutoRunFile.isEmpty()) << action;
  }
  EXPECT_TRUE(host_.transcript().isEmpty());
}

TEST_F(LifecycleTest, AnUnknownActionIsRefusedInUpperCase) {
  host_.Answer(IDOK, QStringLiteral("'REBOOT' invalid option"));
  Make({Q(File("notes.txt")), "reboot"}).FormCreate();
  EXPECT_TRUE(ctx_.TerminateRequested);
  EXPECT_EQ(ctx_.ExitCode, kExitBadArgument);
  EXPECT_FALSE(seams_.calls.contains("OpenCbutton"));
}

TEST_F(LifecycleTest, JobWithCloseRunsWithoutLinkOrWatchingAndSkipsTheLastSteps) {
  const QString job = Q(File("x.job"));
  QString runFile, runAction;
  seams_.onOpen = [&] {
    runFile = ctx_.AutoRunFile;
    runAction = ctx_.AutoRunAction;
  };
  Make({job, "CLOSE"}).FormCreate();
  EXPECT_FALSE(seams_.calls.contains("LinkListToTree"));
  EXPECT_FALSE(seams_.calls.contains("RegisterChangeNotify"));
  EXPECT_FALSE(ctx_.ListLinkedToTree || ctx_.ChangeNotifyOn);
  EXPECT_EQ(seams_.calls.last(), "OpenCbutton");
  EXPECT_EQ(runFile, job);
  EXPECT_EQ(runAction, QStringLiteral("close"));
  // A run that ends the program (the backup run's "close") ends it with the run's status.
  RequestTerminate(ctx_, kExitRunFailed);
  RequestTerminate(ctx_, kExitOk);
  EXPECT_EQ(ctx_.ExitCode, kExitRunFailed);
}

// A job with an ACTION runs without a user: no box waits, each box's text goes to the report
// file (and standard error), and the process ends by itself with a failure status.
TEST_F(LifecycleTest, AnUnattendedStartWaitsForNobody) {
  const QString job = Q(File("x.job"));
  auto reportText = [&] {
    const QDir dir(ctx_.ProgramDir);
    QString all;
    for (const QString& f : dir.entryList({"x-*.txt"}, QDir::Files)) {
      QFile in(dir.filePath(f));
      if (in.open(QIODevice::ReadOnly)) all += QString::fromUtf8(in.readAll());
      in.remove();
    }
    return all;
  };
  struct Case {
    QStringList args;
    QString box;  // shown by the run (empty: the command line's refusal)
    QString expected;
    int status;
  };
  const Case cases[] = {
      {{Q(tmp_ / "no/such/x.job"), "close"},
       {},
       "File '" + Q(tmp_ / "no/such/x.job") + "' does not exist",
       kExitBadArgument},
      {{job, "reboot"}, {}, "'REBOOT' invalid option", kExitBadArgument},
      // A run that stops on a box (nothing ticked) ends the process started for it.
      {{job, "shutdown"},
       "No files checked/selected!",
       "No files checked/selected!",
       kExitRunFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.join(' ').toStdString());
    SetMbTerminating(false);
    ctx_ = MainContext{};
    seams_.onOpen = [&] {
      if (!c.box.isEmpty()) MbMessage(c.box, "Arcavo", false, MB_ICONEXCLAMATION);
    };
    Make(c.args).FormCreate();
    EXPECT_TRUE(ctx_.TerminateRequested);
    EXPECT_EQ(ctx_.FinalExitCode(ctx_.ExitCode), c.status);
    EXPECT_EQ(reportText(), c.expected + "\n");
  }
  EXPECT_TRUE(host_.transcript().isEmpty()) << "no box waited for a user";
}

TEST_F(LifecycleTest, AnArchiveArgumentBecomesTheCurrentArchive) {
  const QString zip = Q(File("Back.ZIP"));
  Make({zip}).FormCreate();
  EXPECT_TRUE(seams_.calls.contains("SetArchiveName " + zip));
  EXPECT_LT(seams_.calls.indexOf("SetArchiveName " + zip), seams_.calls.indexOf("Setstate 1"));
  EXPECT_TRUE(seams_.calls.contains("TimeFormat HH:mm"));

  seams_.calls.clear();
  life_->FormShow();
  EXPECT_EQ(seams_.calls,
            (QStringList{"ActivateTree", "ActivateList", "ArchiveView 1", "PrepareArchiveView",
                         "ExpandTree", "LoadRecentList", "OpenRecent " + zip}));
  EXPECT_TRUE(ctx_.AutoRunFile.isEmpty()) << "a later Open Job would open the archive";
  EXPECT_EQ(clock_.waited(), 100);  // 4 x 25 ms between the steps
  seams_.calls.clear();
  life_->FormShow();
  EXPECT_TRUE(seams_.calls.isEmpty());
}

TEST_F(LifecycleTest, ActivationMaximisesOnScreensUpTo800Pixels) {
  Make();
  seams_.screenWidth = 800;
  life_->FormActivate();
  life_->FormActivate();
  EXPECT_EQ(seams_.calls.count("Maximise"), 2);
  seams_.calls.clear();
  seams_.screenWidth = 801;
  life_->FormActivate();
  EXPECT_TRUE(seams_.calls.isEmpty());
}

TEST_F(LifecycleTest, FirstPaintOnAFirstRunStoresTheFirstWriterOnce) {
  Make().FormCreate();
  seams_.devices = {{"CD-ROM reader", "/dev/sr1", 0, false, false},
                    {"HL-DT-ST DVDRAM", "/dev/sr0", 24, true, true}};
  seams_.calls.clear();
  life_->FormPaint();
  IniFile ini(tmp_ / "config/arcavo/default.ini");
  EXPECT_EQ(ini.ReadString("Options", "Burner", ""), "HL-DT-ST DVDRAM");
  EXPECT_EQ(ini.ReadString("Options", "BurnerDrive", ""), "/dev/sr0");
  EXPECT_EQ(ini.ReadInteger("Options", "BurnerSpeed", 0), 24);
  EXPECT_TRUE(ini.ReadBool("Options", "BurnerFinal", false));
  EXPECT_TRUE(ini.ReadBool("Options", "Native", false));
  EXPECT_TRUE(ini.ReadBool("Options", "BurnerSizingAuto", false));
  EXPECT_EQ(ini.ReadInteger("Options", "ClrDisk", -1), 0);
  EXPECT_EQ(seams_.calls, (QStringList{"ScanBurners", "Help 39"}));

  // Not again: neither on the next paint nor on the next start.
  life_->FormPaint();
  ctx_.FirstPaint = true;
  seams_.calls.clear();
  life_->FormPaint();
  EXPECT_FALSE(seams_.calls.contains("ScanBurners"));
}

// A first start without a disc writer says so in the status bar: no box waits before the window
// is up (the scripted host fails on any box).
TEST_F(LifecycleTest, AFailedScanIsReportedAndStartUpGoesOn) {
  Make().FormCreate();
  seams_.scanFails = true;
  controls_.SetControlChecked("StartMinimised1", true);
  seams_.calls.clear();
  life_->FormPaint();
  IniFile ini(tmp_ / "config/arcavo/default.ini");
  EXPECT_EQ(ini.ReadInteger("Options", "ClrDisk", -1), 0);
  EXPECT_FALSE(ini.ValueExists("Options", "Burner"));
  EXPECT_EQ(seams_.calls,
            (QStringList{"ScanBurners", "Help 39",
                         "Note Burner Device not found - If CDwriter exists, please set under "
                         "Options",
                         "HideToTray"}));
  EXPECT_TRUE(host_.transcript().isEmpty());
}

// Waits (turning the event loop) until cond holds or 2 s pass.
bool Eventually(const std::function<bool()>& cond) {
  QElapsedTimer t;
  t.start();
  while (!cond() && t.elapsed() < 2000) {
    QCoreApplication::processEvents();
    QThread::msleep(5);
  }
  return cond();
}

// A job handed over while a dialog is open (or any handler runs) waits: it runs once the window
// is idle again, with its path unchanged and its ACTION; the sender was told it was taken.
TEST_F(LifecycleTest, AHandedOverJobWaitsForTheIdleWindowAndRunsOnce) {
  Make().FormCreate();
  seams_.calls.clear();
  QString runFile, runAction;
  seams_.onOpen = [&] {
    runFile = ctx_.AutoRunFile;
    runAction = ctx_.AutoRunAction;
  };
  seams_.idle = false;  // a Save As dialog is open
  const THandOverAnswer a = life_->HandOver({"/home/u/Jobs/Weekly.JOB", "Hibernate"});
  EXPECT_TRUE(a.accepted);
  EXPECT_TRUE(ctx_.HandedOverPath.isEmpty());
  EXPECT_EQ(life_->PendingHandOvers(), 1);
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < 200) QCoreApplication::processEvents();
  EXPECT_FALSE(seams_.calls.contains("OpenCbutton")) << "nothing runs inside the dialog";

  seams_.idle = true;  // the dialog has closed
  ASSERT_TRUE(Eventually([&] { return seams_.calls.contains("OpenCbutton"); }));
  EXPECT_EQ(runFile, QStringLiteral("/home/u/Jobs/Weekly.JOB"));
  EXPECT_EQ(runAction, QStringLiteral("hibernate"));
  EXPECT_EQ(seams_.calls.count("OpenCbutton"), 1);
  EXPECT_EQ(life_->PendingHandOvers(), 0);
  // A run that stopped on the way leaves interactive use as it was: nothing automatic is left.
  EXPECT_TRUE(ctx_.AutoRunFile.isEmpty());
  EXPECT_TRUE(ctx_.AutoRunAction.isEmpty());
  EXPECT_FALSE(ctx_.TerminateRequested) << "the window stays for its user";
  EXPECT_FALSE(MbUnattended());

  // A job that cannot run is refused with its reason, and nothing waits.
  seams_.refusals["/j/ghost.JOB"] = "File '/j/ghost.JOB' does not exist";
  const THandOverAnswer r = life_->HandOver({"/j/ghost.JOB", {}});
  EXPECT_FALSE(r.accepted);
  EXPECT_EQ(r.reason, QStringLiteral("File '/j/ghost.JOB' does not exist"));
  EXPECT_EQ(life_->PendingHandOvers(), 0);
}

// A job taken while a box waits for nobody: with an ACTION it is given up after the wait and
// reported (status bar, standard error, its report file, the exit status); without one it waits
// for the user. Whatever still waits when the window closes is reported too.
TEST_F(LifecycleTest, AJobTakenButNeverRunIsReported) {
  Make().FormCreate();
  seams_.idle = false;
  ASSERT_TRUE(life_->HandOver({Q(tmp_ / "Nightly.JOB"), "close"}).accepted);
  ASSERT_TRUE(life_->HandOver({Q(tmp_ / "Mine.JOB"), {}}).accepted);
  const auto turn = [] {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 120) QCoreApplication::processEvents();
  };
  clock_.Advance(TAppLifecycle::kUnattendedHandOverWaitMs - 1);
  turn();
  EXPECT_EQ(life_->PendingHandOvers(), 2);
  EXPECT_FALSE(ctx_.HandOverLost);
  clock_.Advance(1);
  turn();
  EXPECT_EQ(life_->PendingHandOvers(), 1) << "the job without an ACTION waits for its user";
  EXPECT_FALSE(seams_.calls.contains("OpenCbutton"));
  const QString lost = "Note The job " + Q(tmp_ / "Nightly.JOB") +
                       " was not started: the window waited 60 s for an answer in a box";
  EXPECT_TRUE(seams_.calls.contains(lost)) << seams_.calls.join('\n').toStdString();
  EXPECT_TRUE(ctx_.HandOverLost);
  EXPECT_EQ(ctx_.FinalExitCode(kExitOk), kExitRunFailed);
  QString reports;
  for (const QFileInfo& f : QDir(Q(tmp_ / "config/arcavo")).entryInfoList({"*.txt"}))
    reports += Q(testutil::ReadFile(f.absoluteFilePath().toStdString()));
  EXPECT_TRUE(reports.contains(lost.mid(5))) << reports.toStdString();

  life_->RunCloseSequence();
  EXPECT_EQ(life_->PendingHandOvers(), 0);
  EXPECT_TRUE(seams_.calls.contains("Note The job " + Q(tmp_ / "Mine.JOB") +
                                    " was not started: the window was closed first"));
}

TEST_F(LifecycleTest, AJobHandedOverDuringAnOperationIsNotStarted) {
  Make().FormCreate();
  seams_.busy = true;
  seams_.calls.clear();
  const THandOverAnswer a = life_->HandOver({"/j/a.job", {}});
  EXPECT_FALSE(a.accepted);
  EXPECT_TRUE(a.reason.contains("archive operation is running")) << a.reason.toStdString();
  EXPECT_FALSE(seams_.calls.contains("OpenCbutton"));
  EXPECT_EQ(ctx_.HandedOverPath, QStringLiteral("/j/a.job"));  // not consumed
  EXPECT_TRUE(ctx_.AutoRunFile.isEmpty());
  EXPECT_EQ(life_->PendingHandOvers(), 0);

  // With a stealth archive current it joins the instant backup instead; where no instant backup
  // takes it, it is refused and kept, never dropped as if taken.
  ctx_.ZipName = "/b/Stealth_docs.zip";
  seams_.instant = false;
  const THandOverAnswer refused = life_->HandOver({"/j/a.job", {}});
  EXPECT_FALSE(refused.accepted);
  EXPECT_TRUE(refused.reason.contains("/j/a.job")) << refused.reason.toStdString();
  EXPECT_EQ(ctx_.HandedOverPath, QStringLiteral("/j/a.job"));
  seams_.instant = true;
  EXPECT_TRUE(life_->HandOver({"/j/a.job", {}}).accepted);
  EXPECT_EQ(seams_.calls.last(), "AddInstantPath /j/a.job");
  EXPECT_TRUE(ctx_.HandedOverPath.isEmpty());
  seams_.busy = false;
  life_->HandOver({"/some/folder", {}});
  EXPECT_EQ(seams_.calls.last(), "AddInstantPath /some/folder");
  // The general timer's call with nothing handed over writes the collection.
  life_->IMgrTrigger();
  EXPECT_EQ(seams_.calls.last(), "WriteInstantBackup");
}

TEST_F(LifecycleTest, NoticeCancelStopsTheDueScheduledRunOrThePendingInstantBackup) {
  Make().FormCreate();
  QObject target;
  seams_.stage = 2;
  seams_.calls.clear();
  QCoreApplication::postEvent(&target, new QEvent(QEvent::Type(kNoticeCancelEventType)));
  QCoreApplication::processEvents();
  EXPECT_EQ(seams_.calls, (QStringList{"StopSchedulerTimer", "SchedulerStage 0"}));

  seams_.calls.clear();
  QCoreApplication::postEvent(&target, new QEvent(QEvent::Type(kNoticeCancelEventType)));
  QCoreApplication::processEvents();
  EXPECT_EQ(seams_.calls,
            (QStringList{"IMgrTriggerCleanUp", "StopGeneralTimer", "ResetGeneralTicks"}));

  // After the close sequence the hook is gone.
  life_->RunCloseSequence();
  seams_.calls.clear();
  QCoreApplication::postEvent(&target, new QEvent(QEvent::Type(kNoticeCancelEventType)));
  QCoreApplication::processEvents();
  EXPECT_TRUE(seams_.calls.isEmpty());
}

TEST_F(LifecycleTest, ExceptionsAreShownAndTheProgramGoesOn) {
  Make();
  host_.Answer(IDOK, QStringLiteral("disk on fire"));
  bool r = TAppLifecycle::CallGuarded([]() -> bool { throw std::runtime_error("disk on fire"); },
                                      [&](const QString& t) { life_->AppException(t); });
  EXPECT_FALSE(r);
  ASSERT_EQ(host_.transcript().size(), 1);
  EXPECT_EQ(host_.transcript()[0].caption, QStringLiteral("Arcavo"));
  EXPECT_EQ(host_.transcript()[0].icon, MB_ICONERROR);
  EXPECT_TRUE(TAppLifecycle::CallGuarded([] { return true; }, nullptr));
  EXPECT_FALSE(TAppLifecycle::CallGuarded([]() -> bool { throw 42; }, nullptr));
}

TEST_F(LifecycleTest, CloseSequenceRunsItsStepsInOrder) {
  Make().FormCreate();
  // The folder verb of a stay in the tray is gone after the close.
  QDir().mkpath(Q(tmp_ / "data/nemo"));
  life_->SetProgramPath("/usr/bin/arcavo");
  life_->RegisterApp();
  ASSERT_TRUE(testutil::Exists(tmp_ / "data/nemo/actions/arcavo-folder.nemo_action"));
  seams_.calls.clear();
  EXPECT_EQ(life_->FormCloseQuery(), CloseDecision::Close);
  EXPECT_EQ(seams_.calls, (QStringList{"Tray 0", "StopGeneralTimer", "StopSchedulerTimer",
                                       "StopChangeNotify", "StopBurner", "ArchiveView 0",
                                       "Setstate 0", "ClearSearchResults", "FreeDirMonitors"}));
  EXPECT_EQ(ctx_.CloseStep, 9);
  EXPECT_FALSE(ctx_.WorkList1 || ctx_.WorkList2 || ctx_.InstantList);
  EXPECT_FALSE(testutil::Exists(tmp_ / "data/nemo/actions/arcavo-folder.nemo_action"));
  EXPECT_TRUE(host_.transcript().isEmpty());
}

TEST_F(LifecycleTest, AFailingCloseStepIsReportedWithItsCounterAndTheWindowStillCloses) {
  Make().FormCreate();
  seams_.throwIn = "StopBurner";
  host_.Answer(IDOK, QStringLiteral("boom @ line 3"));
  EXPECT_EQ(life_->FormCloseQuery(), CloseDecision::Close);
  ASSERT_EQ(host_.transcript().size(), 1);
  EXPECT_EQ(host_.transcript()[0].icon, MB_ICONERROR);
  EXPECT_EQ(host_.transcript()[0].caption, QStringLiteral("Arcavo"));
  EXPECT_FALSE(seams_.calls.contains("Setstate 0") &&
               seams_.calls.lastIndexOf("Setstate 0") > seams_.calls.indexOf("StopBurner"));
  EXPECT_FALSE(seams_.calls.contains("FreeDirMonitors"));
}

TEST_F(LifecycleTest, ClosingDuringAnOperationAsksAndCancelOnTheQuestionKeepsItOpen) {
  Make().FormCreate();
  seams_.busy = true;
  seams_.calls.clear();
  host_.Answer(IDCANCEL, QStringLiteral("CANCEL ZIP in progress? (OK cancels)"));
  EXPECT_EQ(life_->FormCloseQuery(), CloseDecision::Refuse);
  EXPECT_TRUE(seams_.calls.isEmpty());
  EXPECT_EQ(host_.transcript()[0].icon, MB_ICONEXCLAMATION);

  // OK: a paused operation is resumed, then cancelled; it stops at once here.
  seams_.paused = true;
  host_.Answer(IDOK);
  EXPECT_EQ(life_->FormCloseQuery(), CloseDecision::Close);
  EXPECT_TRUE(ctx_.SizeCalcMode);
  EXPECT_EQ(seams_.calls.mid(0, 3), (QStringList{"Resume", "Cancel", "Tray 0"}));
}

TEST_F(LifecycleTest, SessionEndIsRefusedWhileAnOperationRuns) {
  Make();
  EXPECT_TRUE(life_->WMQueryEndSession());
  ctx_.RunInProgress = true;
  host_.Answer(IDOK, QStringLiteral("Arcavo busy, Cancel ZIP and close"));
  EXPECT_FALSE(life_->WMQueryEndSession());
}

// A long operation that uses the window's state while it keeps the window alive; the close
// arrives from inside it, as a click would.
TEST_F(LifecycleTest, CloseDuringALongOperationWaitsUntilItHasUnwound) {
  SetClock(nullptr);  // real Delay: the close comes from a timer
  Make().FormCreate();
  seams_.cancelStopsAtOnce = false;
  bool cancelled = false;
  bool closeReady = false;
  QObject::connect(life_.get(), &TAppLifecycle::closeReady, [&] { closeReady = true; });
  CloseDecision decision = CloseDecision::Refuse;
  host_.Answer(IDOK, QStringLiteral("CANCEL ZIP in progress? (OK cancels)"));
  QTimer::singleShot(20, [&] { decision = life_->FormCloseQuery(); });

  seams_.busy = true;
  QStringList* list = ctx_.WorkList1.get();
  for (int i = 0; i < 200 && !cancelled; ++i) {
    list->append(QString::number(i));  // freed state here would be a use after free
    Delay(2);
    cancelled = seams_.calls.contains("Cancel");
  }
  EXPECT_TRUE(cancelled);
  EXPECT_EQ(decision, CloseDecision::Deferred);
  EXPECT_TRUE(ctx_.WorkList1 != nullptr);
  EXPECT_FALSE(seams_.calls.contains("StopBurner"));
  list->append(QStringLiteral("unwinding"));
  seams_.busy = false;  // the operation has returned

  QElapsedTimer t;
  t.start();
  while (!closeReady && t.elapsed() < 2000) Delay(10);
  ASSERT_TRUE(closeReady);
  // The window closes again: no second question, the sequence runs now.
  EXPECT_EQ(life_->FormCloseQuery(), CloseDecision::Close);
  EXPECT_EQ(host_.transcript().size(), 1);
  EXPECT_FALSE(ctx_.WorkList1);
  SetClock(&clock_);
}

TEST_F(LifecycleTest, HintsSwitchEmptiesTheLastMenuCaptionAndSavesAtOnce) {
  Make();
  controls_.SetControlChecked("Hints1", true);
  controls_.SetControlCaption("ContextHelp1", "          For context Help");
  life_->Hints1Click();
  EXPECT_FALSE(controls_.ControlChecked("Hints1"));
  EXPECT_TRUE(controls_.ControlCaption("ContextHelp1").isEmpty());
  EXPECT_TRUE(seams_.calls.contains("Hints 0"));
  IniFile ini(tmp_ / "config/arcavo/default.ini");
  EXPECT_EQ(ini.ReadString("Options", "Hints", ""), "0");

  life_->Hints1Click();
  EXPECT_TRUE(controls_.ControlChecked("Hints1"));
  EXPECT_TRUE(controls_.ControlCaption("ContextHelp1").isEmpty());  // not restored
  EXPECT_EQ(IniFile(tmp_ / "config/arcavo/default.ini").ReadString("Options", "Hints", ""), "1");
  EXPECT_EQ(TAppLifecycle::HintDisplayTime("short"), 2500);
  EXPECT_EQ(TAppLifecycle::HintDisplayTime(QString(40, 'x')), 4000);
}

TEST_F(LifecycleTest, ThemeManagerAsksBeforeReleasingAndTellsWhenItReturns) {
  Make();
  controls_.SetControlChecked("ThemeManager1", true);
  host_.Answer(IDCANCEL);
  life_->ThemeManager1Click();
  EXPECT_TRUE(controls_.ControlChecked("ThemeManager1"));
  EXPECT_TRUE(seams_.calls.isEmpty());

  host_.Answer(IDOK, QStringLiteral("OK this option only if having display problems with "
                                    "Arcavo\r               Click OK to continue or CANCEL"));
  life_->ThemeManager1Click();
  EXPECT_FALSE(controls_.ControlChecked("ThemeManager1"));
  EXPECT_EQ(seams_.calls, QStringList{"ThemesReleased 1"});
  EXPECT_EQ(IniFile(tmp_ / "config/arcavo/default.ini").ReadString("Options", "Themes", ""), "0");

  host_.Answer(IDOK, QStringLiteral("ThemeManager re-instates next time you open Arcavo"));
  life_->ThemeManager1Click();
  EXPECT_TRUE(controls_.ControlChecked("ThemeManager1"));
  EXPECT_EQ(IniFile(tmp_ / "config/arcavo/default.ini").ReadString("Options", "Themes", ""), "1");
}

TEST_F(LifecycleTest, HelpAsksTwiceTenMillisecondsApart) {
  Make().Help1Click();
  EXPECT_EQ(seams_.calls, (QStringList{"Help 1", "Help 1"}));
  EXPECT_EQ(clock_.waited(), 10);
}

}  // namespace
