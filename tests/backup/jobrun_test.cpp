// A hand-written job run without the user, checked with peer tools: through the backup side of
// the window (TBackupCore) in this process, and through the program itself (`arcavo JOB close`).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDate>
#include <QDir>
#include <QLocale>
#include <QStringList>
#include <cstdlib>
#include <set>
#include <sstream>

#include "app/archivename.h"
#include "app/filedialoghost.h"
#include "app/jobcontroller.h"
#include "app/maincontext.h"
#include "app/mainwiring.h"
#include "app/settingsfiles.h"
#include "app/startupseams.h"
#include "backup/backupcore.h"
#include "backup/backuprun.h"
#include "backup/naming.h"
#include "jobfiles.h"
#include "run_fixture.h"

using testutil::Quote;

namespace {

struct NoFiles : IFileDialogHost {
  QString OpenFile(const FileDialogSpec&) override { return {}; }
  QString SaveFile(const FileDialogSpec&) override { return {}; }
};

struct NoNaming : INamingHost {
  std::optional<QString> ShowSaveDialog(TSaveDlgForm&) override { return std::nullopt; }
};

struct NoModes : IWindowModeHost {
  void ShowExplorerCheckBoxes(bool) override {}
  void ClearArchiveSearchResults() override {}
  void ResetGlobalSearchFlag() override {}
  void ClearArchiveView() override {}
  void ClearStatusBar() override {}
  void ResetTrayStealthFlag() override {}
  void SetTrayIconStatic() override {}
  void SetZip64Highlighted(bool) override {}
  void SetGroupCaptionHighlighted(const QString&, bool) override {}
};

struct NoScheduler : ISchedulerControls {
  void SetScheduleDays(int) override {}
  void SetScheduleTime(const QString&) override {}
  void SetScheduleFile(const QString&) override {}
  QString ScheduleFile() const override { return QStringLiteral("JOB Filename"); }
  void StartSchedulerTimer() override {}
};

std::set<std::string> Lines(const std::string& text) {
  std::set<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) out.insert(line);
  return out;
}

bool HaveTools() {
  return testutil::HaveTool("unzip") && testutil::HaveTool("python3");
}

// Python's view of the archive: "name method" per line, and whether it reads with pwd.
std::string PythonMethods(const std::string& archive, const std::string& password = "") {
  const std::string script =
      "import sys, zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1])\n"
      "pwd = sys.argv[2].encode() if len(sys.argv) > 2 else None\n"
      "for i in z.infolist():\n"
      "    if not i.is_dir(): z.read(i, pwd=pwd)\n"
      "    print(i.filename, i.compress_type)\n";
  return testutil::Run("python3 -c " + Quote(script) + " " + Quote(archive) +
                       (password.empty() ? "" : " " + Quote(password)))
      .out;
}

void CheckArchive(const HandWrittenJob& job, const std::string& archive) {
  EXPECT_EQ(testutil::Run("unzip -tq " + Quote(archive)).status, 0);
  EXPECT_EQ(Lines(testutil::Run("unzip -Z1 " + Quote(archive)).out), job.ExpectedNames());
  for (const std::string& line : Lines(PythonMethods(archive))) {
    const std::string name = line.substr(0, line.rfind(' '));
    const int method = std::stoi(line.substr(line.rfind(' ') + 1));
    if (name.back() == '/') continue;
    const bool jpg = QString::fromStdString(name).endsWith(".jpg", Qt::CaseInsensitive);
    EXPECT_EQ(method, jpg ? 0 : 8) << name;
  }
}

struct CoreRun : ::testing::Test {
  testutil::TempDir dir;
  testutil::IsolatedXdg xdg{dir.path()};
  ScriptedHost boxes;
  HandWrittenJob job{dir.path()};
  RecordingControlHost controls;
  FakeDisplay display;
  FakeDialogs dialogs;
  NoFiles files;
  NoNaming naming;
  FakeSeams seams;
  IStartupSeams startup;
  IMainWindow window;
  NoModes modes;
  NoScheduler scheduler;
  MainContext ctx;
  std::unique_ptr<TBackupCore> core;

  CoreRun() {
    ResetProgramDirForTest();
    WireSubsystems(ctx, controls, startup, window, modes, scheduler, files);
    core = std::make_unique<TBackupCore>(ctx, controls, display, dialogs, naming, seams);
  }
  ~CoreRun() override {
    core.reset();
    SetMbTerminating(false);
    ResetProgramDirForTest();
  }

  // The start-up's part for `arcavo JOB close`: defaults, then the job as AutoRunFile, named
  // relative to the working folder as on a command line.
  void RunJob() {
    QDir::setCurrent(QString::fromStdString(dir.path()));
    ctx.CmdArgs = {"docs.JOB", "close"};
    ctx.AutoRunFile = "docs.JOB";
    ctx.Settings->INIfileIO(QString());
    ctx.Jobs->OpenCbutton(JobSender::AutoRun);
    QDir::setCurrent(QDir::rootPath());
  }
};

}  // namespace

TEST_F(CoreRun, HandWrittenJobRunsUnattendedAndEnds) {
  if (!HaveTools()) GTEST_SKIP() << "unzip or python3 missing";
  RunJob();
  EXPECT_TRUE(ctx.TerminateRequested);
  EXPECT_EQ(ctx.ExitCode, 0);
  EXPECT_TRUE(ctx.AutoRunFile.isEmpty());
  EXPECT_EQ(core->run().ResultText(), "    Backup successful    \r4 file/DIRs were added");
  CheckArchive(job, job.archive);
  EXPECT_TRUE(boxes.transcript().isEmpty());
}

TEST_F(CoreRun, StampedJobCarriesTodaysStamp) {
  if (!HaveTools()) GTEST_SKIP() << "unzip or python3 missing";
  job.WriteIni(1, 24);
  RunJob();
  EXPECT_EQ(ctx.ExitCode, 0);
  const QString stamped =
      EXTNdatetime(1, QString::fromStdString(job.archive), 0, QDateTime::currentDateTime()) +
      ".zip";
  EXPECT_EQ(core->run().ZipName(), stamped);
  CheckArchive(job, stamped.toStdString());
  EXPECT_FALSE(testutil::Exists(job.archive));
}

TEST_F(CoreRun, EncryptedJobTakesThePasswordOfTheDialog) {
  if (!HaveTools()) GTEST_SKIP() << "unzip or python3 missing";
  job.WriteIni(0, 25);
  dialogs.password = "s3cret";
  RunJob();
  EXPECT_EQ(ctx.ExitCode, 0);
  EXPECT_EQ(dialogs.passwordShown, 1);
  EXPECT_NE(testutil::Run("unzip -tq -P wrong " + Quote(job.archive)).status, 0);
  EXPECT_EQ(testutil::Run("unzip -tq -P s3cret " + Quote(job.archive)).status, 0);
  EXPECT_EQ(Lines(testutil::Run("unzip -Z1 " + Quote(job.archive)).out), job.ExpectedNames());
  EXPECT_NE(PythonMethods(job.archive, "s3cret").find("report.txt 8"), std::string::npos);
}

TEST_F(CoreRun, FailingJobEndsWithAFailureAndKeepsThePreviousArchive) {
  testutil::WriteFile(job.archive, "previous archive");
  const std::string before = Sha256(job.archive);
  const bool root = ::geteuid() == 0;
  const std::string folder = Quote(job.folder);
  if (testutil::Run(root ? "chattr +i " + folder + " 2>/dev/null" : "chmod 0555 " + folder)
          .status != 0)
    GTEST_SKIP() << "cannot make a folder unwritable";
  RunJob();
  testutil::Run(root ? "chattr -i " + folder : "chmod 0755 " + folder);
  EXPECT_TRUE(ctx.TerminateRequested);
  EXPECT_NE(ctx.ExitCode, 0);
  EXPECT_EQ(Sha256(job.archive), before);
}

namespace {

std::string ProgramPath() {
  const char* bin = std::getenv("ARCAVO_BINARY_DIR");
  return bin ? std::string(bin) + "/src/arcavo" : std::string();
}

struct ProgramRun : ::testing::Test {
  testutil::TempDir dir;
  testutil::IsolatedXdg xdg{dir.path()};
  HandWrittenJob job{dir.path()};

  // `arcavo docs.JOB close` in the job's folder, as a user would type it.
  testutil::CommandResult RunProgram() {
    return testutil::Run("cd " + Quote(dir.path()) + " && QT_QPA_PLATFORM=offscreen timeout 120 " +
                         Quote(ProgramPath()) + " docs.JOB close");
  }
};

}  // namespace

TEST_F(ProgramRun, UnattendedJobFromTheCommandLine) {
  if (!HaveTools() || !testutil::Exists(ProgramPath())) GTEST_SKIP() << "tools or program missing";
  const auto r = RunProgram();
  EXPECT_EQ(r.status, 0) << r.out;
  CheckArchive(job, job.archive);
}

TEST_F(ProgramRun, FailingUnattendedJobExitsNonZeroAndKeepsThePreviousArchive) {
  if (!testutil::Exists(ProgramPath())) GTEST_SKIP() << "program missing";
  testutil::WriteFile(job.archive, "previous archive");
  const std::string before = Sha256(job.archive);
  const bool root = ::geteuid() == 0;
  const std::string folder = Quote(job.folder);
  if (testutil::Run(root ? "chattr +i " + folder + " 2>/dev/null" : "chmod 0555 " + folder)
          .status != 0)
    GTEST_SKIP() << "cannot make a folder unwritable";
  const auto r = RunProgram();
  testutil::Run(root ? "chattr -i " + folder : "chmod 0755 " + folder);
  EXPECT_NE(r.status, 0) << r.out;
  EXPECT_NE(r.status, 124) << "the run did not end by itself";
  EXPECT_EQ(Sha256(job.archive), before);
}
