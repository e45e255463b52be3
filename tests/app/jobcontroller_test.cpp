#include "app/jobcontroller.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFileInfo>

#include "app/checkstore.h"
#include "app/filedialoghost.h"
#include "app/filemenuhandler.h"
#include "app/jobhosts.h"
#include "app/sourcelists.h"
#include "platform/inifile.h"
#include "platform/programdir.h"
#include "qt_controlhost.h"
#include "qt_scriptedhost.h"
#include "testutil.h"

using testutil::TempDir;
using testutil::WriteFile;
using Paths = std::vector<std::string>;

namespace {

// Settings: NAME.INI carries the archive name ("ZIPFILE"/"Fname") and the rest is set by tests.
struct FakeSettings : IJobSettings {
  IJobWindow* window = nullptr;
  QStringList loaded, written;
  bool programDir = false, stamp = false, autoRename = false, minimize = false, span = false;
  bool basic = false, unattended = false;
  int format = 1, rulesApplied = 0;
  QString maxSize = "MaxSizeMb";
  bool LoadSettings(const QString& ini) override {
    loaded << ini;
    const IniFile f(PathBytes(ini));
    const QString name = PathText(f.ReadString("ZIPFILE", "Fname", ""));
    if (name.isEmpty()) return false;
    window->SetArchiveName(name);
    return true;
  }
  void WriteSettings(const QString& ini) override {
    written << ini;
    IniFile f(PathBytes(ini));
    f.WriteString("ZIPFILE", "Fname", PathBytes(window->ArchiveName()));
    f.WriteInteger("Options", "ClrDisk", 0);
    f.Save();
  }
  bool ProgramDirMode() const override { return programDir; }
  bool DateTimeStampChecked() const override { return stamp; }
  int DateTimeFormat() const override { return format; }
  bool AutoRenameOnSize() const override { return autoRename; }
  bool MinimizeOnLoad() const override { return minimize; }
  bool SpanDisks() const override { return span; }
  QString MaxSizeText() const override { return maxSize; }
  void SetUnattended(bool on) override { unattended = on; }
  bool BasicView() const override { return basic; }
  void ReapplyDirectoryRules() override { ++rulesApplied; }
};

struct FakeWindow : IJobWindow {
  QString archive, autoRun, schedulerFile, burnerRoot, temp;
  QStringList log, burned, archivesOpened;
  bool ctrl = false, scheduled = false, visible = true;
  int state = -1;
  QString ArchiveName() const override { return archive; }
  void SetArchiveName(const QString& n) override {
    archive = n;
    if (!n.isEmpty() && !QFileInfo(n).fileName().contains('.')) archive += ".zip";
  }
  QString AutoRunFile() const override { return autoRun; }
  void SetAutoRunFile(const QString& f) override { autoRun = f; }
  void Setstate(int m) override {
    state = m;
    log << QString("Setstate %1").arg(m);
  }
  QString ExplorerCurrentFolder() const override { return {}; }
  void RefreshExplorer() override { log << "refresh"; }
  void PrepareJobOpening() override { log << "prepare"; }
  bool CtrlHeld() const override { return ctrl; }
  bool ScheduledRunInProgress() const override { return scheduled; }
  void SetSchedulerJobFile(const QString& f) override { schedulerFile = f; }
  void ShowZipTab() override { log << "zip tab"; }
  void RunBackup() override { log << "run"; }
  void StartStealth() override { log << "stealth"; }
  void TerminateApplication() override { log << "terminate"; }
  bool WindowVisible() const override { return visible; }
  void OpenArchive(const QString& f) override { archivesOpened << f; }
  void ModifyJobNaming() override { log << "naming"; }
  bool IsBurnerRoot(const QString& folder) const override { return folder == burnerRoot; }
  QString TempFolder() const override { return temp; }
  void BurnFiles(const QStringList& files) override {
    for (const QString& f : files) burned << f + "=" + QString::number(QFileInfo(f).size() > 0);
  }
};

struct ScriptedDialogs : IFileDialogHost {
  QStringList openAnswers, saveAnswers;
  int opens = 0, saves = 0;
  FileDialogSpec lastSave, lastOpen;
  QString OpenFile(const FileDialogSpec& s) override {
    ++opens;
    lastOpen = s;
    return openAnswers.isEmpty() ? QString() : openAnswers.takeFirst();
  }
  QString SaveFile(const FileDialogSpec& s) override {
    ++saves;
    lastSave = s;
    return saveAnswers.isEmpty() ? QString() : saveAnswers.takeFirst();
  }
};

// One window's worth of job handling over a scratch folder with some files to tick.
struct Jobs {
  TCheckStore store;
  TFileMenuHandler history;
  FakeSettings settings;
  FakeWindow window;
  ScriptedDialogs dialogs;
  RecordingControlHost controls;
  TJobController jobs{store, history, settings, window, dialogs, controls};
  Jobs() {
    settings.window = &window;
    history.IniFileName = "fmhistory.ini";
    history.OpenDialog = &dialogs;
    history.OnNewFormCaption = [this](TFileMenuHandler*, const QString& f) {
      jobs.FileMenuNewFormCaption(f);
    };
  }
};

struct JobFixture : ::testing::Test {
  TempDir dir;
  testutil::IsolatedXdg xdg{dir.path()};
  ScriptedHost host;
  FakeClock clock{QDateTime(QDate(2006, 5, 4), QTime(12, 0))};
  std::string data = dir / "data";
  std::string backup = dir / "backup-2024";
  JobFixture() {
    ResetProgramDirForTest();
    for (const std::string& d : {data, data + "/keep", data + "/skip", data + "/.hidden", backup}) {
      ::mkdir(d.c_str(), 0700);
    }
    WriteFile(data + "/keep/a.txt", "a");
    WriteFile(data + "/.hidden/h", "h");
    WriteFile(data + "/top.txt", "t");
  }
  ~JobFixture() override { ResetProgramDirForTest(); }
  QString Q(const std::string& s) { return QString::fromStdString(s); }
};

}  // namespace

TEST_F(JobFixture, SaveWritesBothFilesAtOnceThenAsksAndRoundTripsTheTicks) {
  Jobs a;
  host.Answer(IDOK, "No Files Selected");
  a.jobs.SaveCbtnClick();
  a.store.SetChecked(data, true);
  a.store.SetChecked(data + "/skip", false);
  host.Answer(IDOK, "No ZIPname (select [NewZIP] or [AddZip])");
  a.jobs.SaveCbtnClick();
  EXPECT_TRUE(a.settings.written.isEmpty());

  // The base name is cut inside the file name only: "-2024" of the folder stays.
  a.window.archive = Q(backup + "/docs-2006-May-01.zip");
  EXPECT_EQ(a.jobs.ProposedJobFile(), Q(backup + "/docs.JOB"));
  a.jobs.SaveCbtnClick();
  EXPECT_EQ(a.dialogs.saves, 0);
  EXPECT_TRUE(QFileInfo::exists(Q(backup + "/docs.JOB")));
  EXPECT_EQ(a.settings.written, QStringList{Q(backup + "/docs.INI")});

  a.dialogs.saveAnswers << Q(backup + "/other.cat");
  a.jobs.SaveCbtnClick();
  EXPECT_EQ(a.dialogs.saves, 1);
  EXPECT_EQ(a.dialogs.lastSave.fileName, Q(backup + "/docs.JOB"));
  EXPECT_EQ(a.dialogs.lastSave.filter, "Job files|*.job|Catalog files|*.cat");
  EXPECT_TRUE(QFileInfo::exists(Q(backup + "/other.JOB"))) << "saving always writes .JOB";
  a.jobs.SaveCbtnClick();  // cancelled: nothing more is written
  EXPECT_EQ(a.settings.written.size(), 2);
  // A name with a line break could not be kept in the recent list: refused where it is chosen.
  a.dialogs.saveAnswers << Q(backup + "/two\nlines.JOB");
  host.Answer(IDOK, QString::fromUtf8(kLineBreakInName));
  a.jobs.SaveCbtnClick();
  EXPECT_EQ(a.settings.written.size(), 2);

  // In a fresh window, opening the job selects the same paths, the hidden folder included.
  Jobs b;
  b.dialogs.openAnswers << Q(backup + "/docs.JOB");
  b.jobs.OpenCbutton(JobSender::Dialog);
  EXPECT_EQ(b.dialogs.lastOpen.title, "Open Job");
  EXPECT_EQ(b.dialogs.lastOpen.filter, "Job Files (*.job)|*.JOB;*.CAT");
  EXPECT_EQ(b.store.TickedPaths(), (Paths{data + "/.hidden", data + "/keep", data + "/top.txt"}));
  EXPECT_EQ(b.store.State(data), TickState::Mixed);
  EXPECT_EQ(b.window.archive, Q(backup + "/docs-2006-May-01.zip")) << "no stamp: kept as saved";
  EXPECT_EQ(b.history.List(), QStringList{Q(backup + "/docs.JOB")}) << "joined the recent list";
  EXPECT_EQ(b.window.state, 3);
  EXPECT_FALSE(b.window.log.contains("run"));
}

TEST_F(JobFixture, HandWrittenJobRunsUnattendedWithItsSettingsFoundInAnyCase) {
  const std::string job = dir / "Nightly.job";
  WriteFile(job,
            "ARCAVO-JOB 1\n"
            "M\tD\t" +
                data +
                "\n"
                "C\tD\t" +
                data +
                "/keep\n"
                "C\tF\t" +
                data +
                "/top.txt\n"
                "C\tF\t" +
                dir.path() + "/gone.txt\n");
  WriteFile(dir / "nightly.ini", "[ZIPFILE]\nFname=" + backup + "/n.zip\n");
  Jobs j;
  j.settings.stamp = true;
  j.window.autoRun = Q(job);
  j.jobs.OpenCbutton(JobSender::AutoRun);
  EXPECT_EQ(j.settings.loaded, QStringList{Q(dir / "nightly.ini")});
  EXPECT_EQ(j.store.TickedPaths(),
            (Paths{data + "/keep", data + "/top.txt", dir.path() + "/gone.txt"}));
  EXPECT_EQ(j.window.archive, Q(backup + "/n-2006-05-04.zip"));
  EXPECT_TRUE(j.settings.unattended);
  EXPECT_EQ(j.window.log.last(), "run");
  EXPECT_FALSE(j.controls.ControlEnabled(kSaveJobControl));
  EXPECT_EQ(j.dialogs.opens, 0);
}

TEST_F(JobFixture, MissingSettingsNameTheArchiveAfterTheJob) {
  const std::string job = dir / "plain.JOB";
  WriteFile(job, "ARCAVO-JOB 1\nC\tD\t" + data + "\n");
  Jobs j;
  j.dialogs.openAnswers << Q(job);
  j.window.ctrl = true;  // the plain dialog: the file does not join the recent list
  j.jobs.OpenCbutton(JobSender::Dialog);
  EXPECT_EQ(j.window.archive, Q(dir / "plain.zip"));
  EXPECT_TRUE(j.history.List().isEmpty());
  EXPECT_EQ(JobSettingsFile(Q(job)), "");
}

// A run without the user that cannot go on stops before the backup: it never writes an archive
// of whatever the window happens to hold.
TEST_F(JobFixture, AnAutomaticRunThatCannotGoOnEndsBeforeTheBackup) {
  const std::string bad = dir / "bad.JOB";
  WriteFile(bad, "C\tD\t/\n");
  Jobs j;
  j.window.autoRun = Q(bad);
  host.Answer(IDOK);
  j.jobs.OpenCbutton(JobSender::AutoRun);
  EXPECT_TRUE(host.Texts().last().contains("is not a job file"));
  EXPECT_TRUE(j.store.Empty());
  EXPECT_EQ(j.window.log.last(), "terminate");
  EXPECT_FALSE(j.window.log.contains("run"));

  // A job that does not exist.
  const QString ghost = Q(dir / "Ghost.JOB");
  j.window.log.clear();
  j.window.autoRun = ghost;
  host.Answer(IDOK, "File '" + ghost + "' does not exist");
  j.jobs.OpenCbutton(JobSender::AutoRun);
  EXPECT_EQ(j.window.log.last(), "terminate");
  EXPECT_FALSE(j.window.log.contains("run"));

  // Settings that name no archive ("Incorrect path"): nothing is run with the leftovers.
  const std::string job = dir / "noname.JOB";
  WriteFile(job, "ARCAVO-JOB 1\nC\tD\t" + data + "\n");
  WriteFile(dir / "noname.INI", "[ZIPFILE]\nFname=\n[Options]\nClrDisk=0\n");
  j.window.log.clear();
  j.window.autoRun = Q(job);
  j.jobs.OpenCbutton(JobSender::AutoRun);
  EXPECT_FALSE(j.window.log.contains("run"));
  EXPECT_TRUE(j.window.archive.isEmpty());

  // The same reasons refuse a hand-over before anything starts; a sound job is taken.
  const std::string header = dir / "header.JOB";
  WriteFile(header, "ARCAVO-JOB 1\n");
  const std::string good = dir / "good.JOB";
  WriteFile(good, "ARCAVO-JOB 1\nC\tD\t" + data + "\n");
  EXPECT_EQ(j.jobs.AutoRunRefusal(ghost), "File '" + ghost + "' does not exist");
  EXPECT_TRUE(j.jobs.AutoRunRefusal(Q(bad)).contains("is not a job file"));
  EXPECT_EQ(j.jobs.AutoRunRefusal(Q(header)), kNoFilesCheckedText);
  EXPECT_EQ(j.jobs.AutoRunRefusal(Q(job)), "Incorrect path");
  EXPECT_EQ(j.jobs.AutoRunRefusal(Q(good)), "");
}

TEST_F(JobFixture, OversizedStealthArchiveIsRenamedAndStealthStarts) {
  const std::string zip = backup + "/STEALTH_x.zip";
  WriteFile(zip, "");
  ASSERT_EQ(::truncate(zip.c_str(), 25'000'001), 0);
  const std::string job = dir / "STEALTH_x.JOB";
  WriteFile(job, "ARCAVO-JOB 1\nC\tD\t" + data + "\n");
  WriteFile(dir / "STEALTH_x.INI", "[ZIPFILE]\nFname=" + zip + "\n");
  Jobs j;
  j.settings.autoRename = true;
  j.window.autoRun = Q(job);
  j.jobs.OpenCbutton(JobSender::AutoRun);
  EXPECT_TRUE(QFileInfo::exists(Q(backup + "/STEALTH_x-2006-05-04.ZIP")));
  EXPECT_FALSE(QFileInfo::exists(Q(zip)));
  EXPECT_TRUE(j.window.log.contains("zip tab"));
  EXPECT_EQ(j.window.log.last(), "stealth");
  EXPECT_EQ(j.window.autoRun, "");
}

TEST_F(JobFixture, SizeLimitRenamesOnlyWithoutSpanningAndNeverOverwrites) {
  const std::string zip = backup + "/big.zip";
  WriteFile(zip, std::string(3'000'000, 'x'));
  const std::string job = dir / "big.JOB";
  WriteFile(job, "ARCAVO-JOB 1\n");
  WriteFile(dir / "big.INI", "[ZIPFILE]\nFname=" + zip + "\n");
  {
    Jobs j;
    j.settings.maxSize = "3";
    j.settings.span = true;
    j.dialogs.openAnswers << Q(job);
    j.jobs.OpenCbutton(JobSender::Dialog);
    EXPECT_TRUE(QFileInfo::exists(Q(zip))) << "spanning: no limit";
  }
  WriteFile(backup + "/big-2006-05-04.ZIP", "older");
  {
    Jobs j;
    j.settings.maxSize = "3";
    j.dialogs.openAnswers << Q(job);
    j.jobs.OpenCbutton(JobSender::Dialog);
    EXPECT_TRUE(QFileInfo::exists(Q(zip))) << "the rename target exists";
  }
  std::remove((backup + "/big-2006-05-04.ZIP").c_str());
  Jobs j;
  j.settings.maxSize = "3";
  j.dialogs.openAnswers << Q(job);
  j.jobs.OpenCbutton(JobSender::Dialog);
  EXPECT_FALSE(QFileInfo::exists(Q(zip)));
  EXPECT_EQ(QFileInfo(Q(backup + "/big-2006-05-04.ZIP")).size(), 3'000'000);
}

TEST_F(JobFixture, RecentListExplorerListAndSchedulerSenders) {
  const std::string job = dir / "r.job";
  WriteFile(job, "ARCAVO-JOB 1\nC\tF\t" + data + "/top.txt\n");
  Jobs j;
  // A job chosen from the recent list opens through the window's reaction.
  j.history.SetCurrentFile(Q(job));
  EXPECT_EQ(j.store.TickedPaths(), Paths{data + "/top.txt"});
  EXPECT_EQ(j.dialogs.opens, 0);
  // An archive is opened in the archive view; a hidden window opens nothing.
  WriteFile(dir / "a.z01", "");
  j.history.SetCurrentFile(Q(dir / "a.z01"));
  EXPECT_TRUE(j.window.archivesOpened.isEmpty()) << ".z01 is not a split part";
  WriteFile(dir / "a.001", "");
  j.history.SetCurrentFile(Q(dir / "a.001"));
  EXPECT_EQ(j.window.archivesOpened, QStringList{Q(dir / "a.001")});
  j.window.visible = false;
  j.store.Clear();
  j.history.SetCurrentFile(Q(job));
  EXPECT_TRUE(j.store.Empty());

  // A double-click on a job in the explorer list keeps its path as it is.
  j.jobs.ExplorerListFileActivated(Q(job));
  EXPECT_EQ(j.jobs.JobFile(), Q(job));
  EXPECT_EQ(j.store.TickedPaths(), Paths{data + "/top.txt"});

  // The scheduler's button only fills its edit; the ticks stay.
  j.dialogs.openAnswers << "r.job";
  j.window.ctrl = true;
  j.jobs.OpenCbutton(JobSender::SchedulerOpen);
  EXPECT_EQ(j.window.schedulerFile, PathText(ProgramDir()) + "r.job");
  EXPECT_FALSE(j.store.Empty());
}

TEST_F(JobFixture, ModifyJobOnlyWithAnArchive) {
  Jobs j;
  host.Answer(IDOK, "Open a job first, then modify it");
  j.jobs.ModifyJobClick();
  EXPECT_FALSE(j.window.log.contains("naming"));
  j.window.archive = "/b/x.zip";
  j.settings.basic = true;
  host.Answer(IDOK, "Modify settings, then click [SaveJob]");
  j.jobs.ModifyJobClick();
  EXPECT_TRUE(j.window.log.contains("naming"));
  EXPECT_EQ(j.settings.rulesApplied, 1);
}

TEST_F(JobFixture, SavingOntoTheDiscInTheBurnerGoesThroughTheTemporaryFolder) {
  Jobs j;
  j.store.SetChecked(data, true);
  j.window.archive = Q(backup + "/d.zip");
  j.window.burnerRoot = Q(backup);
  j.window.temp = Q(dir / "tmp");
  ::mkdir((dir / "tmp").c_str(), 0700);
  j.jobs.SaveCbtnClick();
  EXPECT_EQ(j.window.burned, (QStringList{Q(dir / "tmp/d.INI=1"), Q(dir / "tmp/d.JOB=1")}));
  EXPECT_FALSE(QFileInfo::exists(Q(dir / "tmp/d.JOB"))) << "staged files are removed";
  EXPECT_FALSE(QFileInfo::exists(Q(backup + "/d.JOB")));
  j.settings.programDir = true;
  j.jobs.SaveCbtnClick();
  EXPECT_TRUE(QFileInfo::exists(PathText(ProgramDir()) + "d.JOB"));
}

TEST_F(JobFixture, AFailedSaveIsReportedNotSilent) {
  Jobs j;
  j.store.SetChecked(data, true);
  j.window.archive = Q(dir / "no-such-folder/x.zip");
  host.Answer(IDOK);
  j.jobs.SaveCbtnClick();
  ASSERT_EQ(host.Texts().size(), 1);
  EXPECT_TRUE(host.Texts().first().startsWith("Cannot write " + Q(dir / "no-such-folder/x.JOB")));
  EXPECT_EQ(host.transcript().first().icon, MB_ICONEXCLAMATION);
}
