// A hand-written job run without the user, checked with peer tools: through the backup side of
// the window (TBackupCore) in this process, and through the program itself (`arcavo JOB close`).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QStringList>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "app/archivename.h"
#include "app/filedialoghost.h"
#include "app/jobcontroller.h"
#include "app/maincontext.h"
#include "app/mainwiring.h"
#include "app/settingsfiles.h"
#include "app/startupseams.h"
#include "archive/arcunzip.h"
#include "archive/sfxconfig.h"
#include "archive/zipstream.h"
#include "backup/backupcore.h"
#include "backup/backuprun.h"
#include "backup/naming.h"
#include "backup/reportbox.h"
#include "backup/runreport.h"
#include "jobfiles.h"
#include "nullhosts.h"
#include "restore/archiveviewcontroller.h"
#include "restore/extractcontroller.h"
#include "run_fixture.h"

using testutil::Quote;

using namespace nullhosts;

namespace {

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
    scheduler.file = QStringLiteral("JOB Filename");  // the edit's caption before any job
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
    ctx.AutoRunAction = "close";
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

// A job saved before its cipher could be chosen keeps the traditional one, which unzip reads; a
// job choosing AES-256 writes a self-extractor whose stub restores it with the password only.
TEST_F(CoreRun, EncryptedJobsTakeThePasswordOfTheDialogAndTheirCipher) {
  if (!HaveTools() || !testutil::HaveTool("7zz")) GTEST_SKIP() << "unzip, python3 or 7zz missing";
  job.WriteIni(0, 25);
  dialogs.password = "s3cret";
  RunJob();
  EXPECT_EQ(ctx.ExitCode, 0);
  EXPECT_EQ(dialogs.passwordShown, 1);
  EXPECT_NE(testutil::Run("unzip -tq -P wrong " + Quote(job.archive)).status, 0);
  EXPECT_EQ(testutil::Run("unzip -tq -P s3cret " + Quote(job.archive)).status, 0);
  EXPECT_EQ(Lines(testutil::Run("unzip -Z1 " + Quote(job.archive)).out), job.ExpectedNames());
  EXPECT_NE(PythonMethods(job.archive, "s3cret").find("report.txt 8"), std::string::npos);

  job.archive = job.folder + "/docs.EXE";
  job.WriteIni(0, 25, 0, "EncryptionMethod=AES-256\n");
  core->run().sfxStub = SFXSTUB_PATH;
  RunJob();
  EXPECT_EQ(ctx.ExitCode, 0);
  EXPECT_EQ(dialogs.passwordShown, 2);
  auto r = testutil::Run("7zz l -slt " + Quote(job.archive));
  EXPECT_NE(r.out.find("Method = AES-256 Deflate"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("ZipCrypto"), std::string::npos) << r.out;
  EXPECT_EQ(Lines(testutil::Run("unzip -Z1 " + Quote(job.archive)).out), job.ExpectedNames());
  const std::string target = dir.path() + "/out";
  r = testutil::Run(Quote(job.archive) + " -y -p nope -d " + Quote(target) + " </dev/null");
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_EQ(testutil::Run("find " + Quote(target) + " -type f | grep -q .").status, 1);
  r = testutil::Run(Quote(job.archive) + " -y -p s3cret -d " + Quote(target) + " </dev/null");
  EXPECT_EQ(r.status, 0) << r.out;
  r = testutil::Run("diff -r -x '*.tmp' -x '*.TMP' " + Quote(target + job.data) + " " +
                    Quote(job.data));
  EXPECT_EQ(r.status, 0) << r.out;
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

// The report box as the run's display keeps it (the window shows both in one box).
struct DisplayBox : IReportBox {
  QStringList& lines;
  explicit DisplayBox(QStringList& l) : lines(l) {}
  void Clear() override { lines.clear(); }
  void Add(const QString& text) override { lines += SplitBoxLines(text, true); }
  QStringList Lines() const override { return lines; }
  void SetLines(const QStringList& l) override { lines = l; }
};

}  // namespace

TEST_F(CoreRun, UnattendedJobWritesItsReportFileAndReportToZipStoresIt) {
  if (!HaveTools()) GTEST_SKIP() << "unzip or python3 missing";
  DisplayBox box(display.report);
  NoProgress progress;
  TRunReport& report = core->AttachReport(progress, box);
  RunJob();
  ASSERT_EQ(ctx.ExitCode, 0);
  const QString file =
      QString::fromStdString(ProgramDir()) +
      EXTNdatetime(1, "docs.zip", ctx.Prefs->Int("DateTimeFormat"), QDateTime::currentDateTime()) +
      ".txt";
  const std::string text = testutil::ReadFile(file.toStdString());
  EXPECT_EQ(text.rfind("Beginning Add to " + job.archive + "\n", 0), 0u) << text;
  EXPECT_NE(text.find("\nFiles&DIRs successfully Archived: 4\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nTime taken: "), std::string::npos) << text;

  // The report as the archive's comment, as unzip shows it.
  report.ReportToZIP1Click();
  const auto z = testutil::Run("unzip -z " + Quote(job.archive));
  EXPECT_EQ(z.status, 0) << z.out;
  EXPECT_NE(z.out.find("Files&DIRs successfully Archived: 4"), std::string::npos) << z.out;
  EXPECT_EQ(testutil::Run("unzip -tq " + Quote(job.archive)).status, 0);

  // A counting-only run writes no report file.
  QFile::remove(file);
  ctx.Prefs->Set("FullReport", true);
  ASSERT_TRUE(core->run().CountingRun(QString::fromStdString(dir / "scratch.zip")));
  EXPECT_TRUE(QDir(QString::fromStdString(ProgramDir())).entryList({"*.txt"}).isEmpty());
  EXPECT_TRUE(boxes.transcript().isEmpty());
}

TEST_F(CoreRun, FilesLeftOutAreReportedAndEndTheJobWithStatusThree) {
  if (!HaveTools()) GTEST_SKIP() << "unzip or python3 missing";
  DisplayBox box(display.report);
  NoProgress progress;
  core->AttachReport(progress, box);
  const std::string gone = dir / "gone";
  testutil::WriteFile(job.job, "ARCAVO-JOB 1\nC\tD\t" + job.data + "\nC\tD\t" + gone + "\n");
  RunJob();
  EXPECT_EQ(ctx.ExitCode, kExitFilesLeftOut);
  EXPECT_EQ(core->run().ResultText(),
            "    Backup incomplete    \r4 file/DIRs were added\r1 file/DIR was left out (see the "
            "report)");
  CheckArchive(job, job.archive);
  const QString file =
      QString::fromStdString(ProgramDir()) +
      EXTNdatetime(1, "docs.zip", ctx.Prefs->Int("DateTimeFormat"), QDateTime::currentDateTime()) +
      ".txt";
  std::string text = testutil::ReadFile(file.toStdString());
  EXPECT_NE(text.find("\n" + gone + ". Skipped because NoSuchFile\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nMissing files count: 1\n"), std::string::npos) << text;

  // Not one source exists: no archive, the failure status, and the reason in the report file.
  ASSERT_EQ(::unlink(job.archive.c_str()), 0);
  testutil::WriteFile(job.job, "ARCAVO-JOB 1\nC\tD\t" + gone + "\n");
  ctx.TerminateRequested = false;
  ctx.ExitCode = kExitOk;
  SetMbTerminating(false);
  RunJob();
  EXPECT_EQ(ctx.ExitCode, kExitRunFailed);
  EXPECT_EQ(core->run().ResultText(), runmsg::kNothingExists);
  EXPECT_FALSE(testutil::Exists(job.archive));
  text = testutil::ReadFile(file.toStdString());
  EXPECT_NE(text.find(std::string("\n") + runmsg::kNothingExists + "\n"), std::string::npos)
      << text;
  EXPECT_TRUE(boxes.transcript().isEmpty());
}

// Every selected file the run does not store is named in the report and counted: a second file
// of a stored name already taken, a ticked file the INCLUDE patterns drop. A file two patterns
// reach is one file, stored once. A run that stored nothing is never "successful".
TEST_F(CoreRun, EveryTickedFileNotStoredIsNamedAndCounted) {
  if (!HaveTools()) GTEST_SKIP() << "unzip or python3 missing";
  DisplayBox box(display.report);
  NoProgress progress;
  core->AttachReport(progress, box);
  const std::string a = dir / "a", b = dir / "b";
  ::mkdir(a.c_str(), 0755);
  ::mkdir(b.c_str(), 0755);
  testutil::WriteFile(a + "/README", "first");
  testutil::WriteFile(b + "/README", "second");
  testutil::WriteFile(a + "/notes.txt", "notes");
  // What a backup cannot store is named with its reason: a FIFO, and (unless the test runs as
  // root, who reads every file; the engine's tests refuse one through a seam) an unreadable file.
  const std::string c = dir / "c";
  ::mkdir(c.c_str(), 0755);
  testutil::WriteFile(c + "/ok.txt", "ok");
  ASSERT_EQ(::mkfifo((c + "/fifo").c_str(), 0600), 0);
  const bool root = ::geteuid() == 0;
  if (!root) {
    testutil::WriteFile(c + "/unreadable", "secret");
    ::chmod((c + "/unreadable").c_str(), 0);
  }
  const std::string notIncluded = std::string(". Skipped because ") + rptmsg::kNotIncluded;
  struct Row {
    const char* name;
    std::string ticks;    // the job's lines
    const char* include;  // [SGcol0]
    int optCheck2;        // 0: names without folders, 24: folders and recursion
    int status;
    const char* result;
    std::string named;             // a report line
    std::set<std::string> stored;  // unzip -Z1
    std::string named2 = "";       // another report line
  };
  const Row rows[] = {
      {"two ticked files of one stored name",
       "C\tF\t" + a + "/README\nC\tF\t" + b + "/README\n",
       "1=*.*",
       0,
       kExitFilesLeftOut,
       "    Backup incomplete    \r1 file/DIR was added\r1 file/DIR was left out (see the report)",
       a + "/README. Skipped because NoOverwrite",
       {"README"}},
      {"one file reached by two patterns",
       "C\tD\t" + a + "\n",
       "1=*.txt\n2=notes*",
       24,
       kExitOk,
       "    Backup successful    \r1 file/DIR was added",
       "",
       {a.substr(1) + "/notes.txt"}},
      {"the pattern rule drops the only ticked file",
       "C\tF\t" + a + "/README\n",
       "1=*",
       24,
       kExitRunFailed,
       "    Backup incomplete    \r0 file/DIRs were added\r1 file/DIR was left out (see the "
       "report)",
       a + "/README" + notIncluded,
       {}},
      {"the pattern rule drops one of two",
       "C\tF\t" + a + "/README\nC\tF\t" + a + "/notes.txt\n",
       "1=*\n2=*.txt",
       24,
       kExitFilesLeftOut,
       "    Backup incomplete    \r1 file/DIR was added\r1 file/DIR was left out (see the report)",
       a + "/README" + notIncluded,
       {a.substr(1) + "/notes.txt"}},
      {"a FIFO and an unreadable file",
       "C\tD\t" + c + "\n",
       "1=*.*",
       24,
       kExitFilesLeftOut,
       root ? "    Backup incomplete    \r1 file/DIR was added\r1 file/DIR was left out (see the "
              "report)"
            : "    Backup incomplete    \r1 file/DIR was added\r2 file/DIRs were left out (see "
              "the report)",
       c + "/fifo. Skipped because a FIFO (named pipe), not a file",
       {c.substr(1) + "/ok.txt"},
       root ? "" : c + "/unreadable. Skipped because cannot be read: Permission denied"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ::unlink(job.archive.c_str());
    testutil::WriteFile(job.job, "ARCAVO-JOB 1\n" + r.ticks);
    testutil::WriteFile(dir / "docs.INI",
                        "[ZIPFILE]\nFname=" + job.archive +
                            "\n[Options]\nClrDisk=0\nOptCheck2=" + std::to_string(r.optCheck2) +
                            "\nOptCheck6=0\n" + "[SGcol0]\n" + r.include + "\n");
    ctx.TerminateRequested = false;
    ctx.ExitCode = kExitOk;
    SetMbTerminating(false);
    RunJob();
    EXPECT_EQ(ctx.ExitCode, r.status);
    EXPECT_EQ(core->run().ResultText(), r.result) << display.report.join('\n').toStdString();
    for (const std::string& named : {r.named, r.named2}) {
      if (named.empty()) continue;
      EXPECT_TRUE(display.report.contains(QString::fromStdString(named)))
          << display.report.join('\n').toStdString();
    }
    if (r.stored.empty()) {
      EXPECT_FALSE(testutil::Exists(job.archive));
    } else {
      EXPECT_EQ(Lines(testutil::Run("unzip -Z1 " + Quote(job.archive)).out), r.stored);
    }
  }
  EXPECT_TRUE(boxes.transcript().isEmpty());
}

TEST_F(CoreRun, ASourceThatShrinksWhileStoredNeverWaitsForAnAnswerUnattended) {
  if (!HaveTools()) GTEST_SKIP() << "unzip or python3 missing";
  DisplayBox box(display.report);
  NoProgress progress;
  core->AttachReport(progress, box);
  // The job runs without a user, as a job with an ACTION does: boxes go to the sink.
  QStringList told;
  SetMbUnattended([&](const QString& text, bool failure) { told << text + (failure ? "!" : ""); });
  // report.txt becomes shorter between the moment it is measured and the moment it is read.
  TArcZip& zip = *ctx.ArcZip1;
  zip.PackThreads = 0;
  auto startZip = zip.OnStartZip;
  zip.OnStartZip = [&](TArcUnZip::TSender s, const std::string& name, TZipHeaderInfo& h,
                       bool& skip) {
    if (name == job.data + "/report.txt") {
      ASSERT_EQ(::truncate(name.c_str(), 100), 0);
    }
    startZip(s, name, h, skip);
  };
  RunJob();
  SetMbUnattended({});
  EXPECT_TRUE(ctx.TerminateRequested);
  EXPECT_TRUE(boxes.transcript().isEmpty());
  // The box, then the closing message: the file is in the archive as it was read, and counted
  // as left out, so the job ends with status 3 and the next run stores it again.
  ASSERT_EQ(told.size(), 2) << told.join('\n').toStdString();
  EXPECT_TRUE(told[0].contains("The file became shorter while it was stored: 100 of 20000"))
      << told[0].toStdString();
  EXPECT_TRUE(told[0].endsWith("!"));
  EXPECT_TRUE(told[1].contains("1 file/DIR was left out")) << told[1].toStdString();
  EXPECT_EQ(ctx.ExitCode, kExitFilesLeftOut);
  EXPECT_EQ(testutil::Run("unzip -tq " + Quote(job.archive)).status, 0);
}

// The four mail and browser presets over a home folder named "mailroom" holding both profiles,
// with a dangling lock link and a FIFO in each: every preset writes its archive without a
// question, and leaves out exactly its folders below the profiles (and the FIFO).
TEST_F(CoreRun, PresetsArchiveTheProfilesWithoutTheirLeftOutFolders) {
  if (!HaveTools()) GTEST_SKIP() << "unzip or python3 missing";
  DisplayBox box(display.report);
  NoProgress progress;
  core->AttachReport(progress, box);
  const std::string home = dir / "mailroom";
  const std::string ff = home + "/.mozilla/firefox/p.default";
  const std::string tb = home + "/.thunderbird/x.default";
  for (const std::string& f : {ff + "/prefs.js", ff + "/cache2/entries/a", tb + "/prefs.js",
                               tb + "/Mail/Local Folders/Inbox", tb + "/ImapMail/x/INBOX",
                               tb + "/News/n", tb + "/cache2/c"}) {
    std::filesystem::create_directories(std::filesystem::path(f).parent_path());
    testutil::WriteFile(f, "profile data");
  }
  for (const std::string& p : {ff, tb}) {
    ASSERT_EQ(::symlink((p + "/gone").c_str(), (p + "/lock").c_str()), 0);
    ASSERT_EQ(::mkfifo((p + "/pipe").c_str(), 0600), 0);
  }
  const QByteArray savedHome = qgetenv("HOME");
  qputenv("HOME", QByteArray::fromStdString(home));
  naming.folder = QString::fromStdString(dir / "some/folder");
  // The program's start: the default settings, with hints on.
  ctx.Settings->INIfileIO(QString());
  ctx.Grid->SetCell(TInclusionGrid::INCLUDE, 1, "*.*");
  ctx.Prefs->Set("Hints", true);
  boxes.Answer(IDOK, "Verify your backup settings on 'Make' tab, then click [WriteZIP]");

  struct Case {
    int kind;
    std::set<std::string> kept;        // below home
    std::vector<std::string> leftOut;  // no file below home contains these
  };
  const std::vector<Case> cases = {
      {1,
       {"/.mozilla/firefox/p.default/prefs.js", "/.thunderbird/x.default/prefs.js",
        "/.thunderbird/x.default/ImapMail/x/INBOX"},
       {"/Mail/", "/News/", "/cache2/"}},
      {2,
       {"/.thunderbird/x.default/prefs.js", "/.thunderbird/x.default/ImapMail/x/INBOX"},
       {"/Mail/", "/News/", "/cache2/", "/.mozilla/"}},
      {3,
       {"/.thunderbird/x.default/prefs.js", "/.thunderbird/x.default/ImapMail/x/INBOX",
        "/.thunderbird/x.default/cache2/c"},
       {"/Mail/", "/News/", "/.mozilla/"}},
      {4, {"/.mozilla/firefox/p.default/prefs.js"}, {"/cache2/", "/.thunderbird/"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    core->naming().NewZipButClick(NamingSender::Preset, c.kind);
    const QString archive = core->run().ZipName();
    ASSERT_TRUE(archive.startsWith(naming.folder)) << archive.toStdString();
    boxes.Answer(IDOK);
    core->run().WriteZbtnClick();
    EXPECT_EQ(boxes.PendingAnswers(), 0);
    EXPECT_EQ(testutil::Run("unzip -tq " + Quote(archive.toStdString())).status, 0);
    std::set<std::string> files;
    const std::string stored = home.substr(1);
    for (const std::string& n :
         Lines(testutil::Run("unzip -Z1 " + Quote(archive.toStdString())).out))
      if (n.back() != '/' && n.rfind(stored, 0) == 0) files.insert(n.substr(stored.size()));
    for (const std::string& k : c.kept) EXPECT_EQ(files.count(k), 1u) << k;
    for (const std::string& f : files) {
      for (const std::string& out : c.leftOut) EXPECT_EQ(f.find(out), std::string::npos) << f;
      // The lock link is kept as the link it is; the FIFO is left out (and named).
      EXPECT_FALSE(f.ends_with("/pipe")) << f;
    }
  }
  qputenv("HOME", savedHome);
  // The hint once, then one closing box per run: nothing asked about the link or the FIFO.
  EXPECT_EQ(boxes.transcript().size(), 5) << boxes.Texts().join('\n').toStdString();
}

namespace {

// The window's archive view and extraction over an engine of their own, with quiet fakes of
// what is around them: "E&xtract" with "Extract ALL files" into a folder.
struct WindowRestore {
  struct Host : restore::IRestoreHost {
    QString folder;
    QStringList lines;
    QString ChooseFolder(const QString&, const QString&) override { return folder; }
    bool PasswordDialog(QString&) override { return false; }
    void SetHourglass(bool) override {}
    void GaugeStart() override {}
    void ClearStatusBar() override {}
    void GaugeClear() override {}
    void ClearReportBox() override {}
    void StartProcessClock() override {}
    void ProcessMessages() override {}
    void ReportLine(const QString& line) override { lines << line; }
  };
  nullhosts::NoArchiveWindow window;
  nullhosts::NoSearchResults search;
  nullhosts::NoLauncher launcher;
  NoFiles dialogs;
  Host host;
  TArcZip zip;
  restore::TArchiveViewController view;
  restore::TExtractController extract;

  WindowRestore(MainContext& ctx, IControlHost& controls)
      : view(zip, *ctx.Lists, *ctx.Prefs, {window, controls, dialogs, search, launcher}),
        extract(zip, *ctx.Lists, view, search, host) {}
  // Opens the archive in the view and extracts all of it into folder.
  void ExtractAll(const std::string& archive, const std::string& folder) {
    ASSERT_TRUE(view.ReadZipFile(QString::fromStdString(archive)));
    host.folder = QString::fromStdString(folder);
    extract.ExtractButClick(restore::TExtractPreset::AllNoOverwrite);
  }
};

// Sets the time zone of this process until it goes away.
struct TimeZone {
  std::optional<std::string> saved;
  TimeZone() {
    if (const char* tz = std::getenv("TZ")) saved = tz;
  }
  ~TimeZone() {
    if (saved)
      ::setenv("TZ", saved->c_str(), 1);
    else
      ::unsetenv("TZ");
    ::tzset();
  }
  void Set(const char* tz) {
    ::setenv("TZ", tz, 1);
    ::tzset();
  }
};

}  // namespace

// What a Linux user keeps comes back through a job and the window's extraction, written in one
// time zone and restored in another: names, types, modes, link targets and times to the second.
// A job following links stores the file a link points to in its place and leaves out, named in
// the report, the links to a folder and to nothing: the run ends with status 3.
TEST_F(CoreRun, UnixTreeComesBackThroughAJobAndTheWindowsExtraction) {
  DisplayBox box(display.report);
  NoProgress progress;
  core->AttachReport(progress, box);
  const std::string tree = dir / "tree";
  testutil::MakeUnixTree(tree);
  const std::string want = testutil::TreeManifest(tree);
  testutil::WriteFile(job.job, "ARCAVO-JOB 1\nC\tD\t" + tree + "\n");
  // Followed: the links to a folder and to nothing are gone, the link to a file is that file.
  std::string followed;
  {
    std::istringstream in(want);
    for (std::string line; std::getline(in, line);) {
      if (line.starts_with("dangling ") || line.starts_with("ldir ")) continue;
      followed += line.starts_with("lfile ") ? "lfile f 755 [] 1600000005" : line;
      followed += "\n";
    }
  }
  const struct {
    const char* name;
    const char* options;  // more lines of the job's [Options]
    int status;
    const std::string& manifest;
    const char* closing;             // of the extraction
    std::vector<std::string> named;  // report lines
  } rows[] = {
      {"links stored as links", "", kExitOk, want, "13 files were extracted", {}},
      {"links followed",
       "FollowLinks=1\n",
       kExitFilesLeftOut,
       followed,
       "11 files were extracted",
       {tree + "/dangling. Skipped because the link's target is missing",
        tree + "/ldir. Skipped because a link to a folder, which is not followed"}},
  };
  TimeZone zone;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ::unlink(job.archive.c_str());
    job.WriteIni(0, 24, 0, row.options);
    ctx.TerminateRequested = false;
    ctx.ExitCode = kExitOk;
    SetMbTerminating(false);
    zone.Set("NZST-12NZDT,M9.5.0,M4.1.0/3");
    RunJob();
    EXPECT_EQ(ctx.ExitCode, row.status) << core->run().ResultText().toStdString();
    for (const std::string& named : row.named)
      EXPECT_TRUE(display.report.contains(QString::fromStdString(named)))
          << display.report.join('\n').toStdString();

    SetMbTerminating(false);
    zone.Set("EST5EDT,M3.2.0,M11.1.0");
    WindowRestore window(ctx, controls);
    const std::string out = dir / (std::string("out-") + (row.named.empty() ? "links" : "files"));
    boxes.Answer(IDOK, row.closing);
    window.ExtractAll(job.archive, out);
    EXPECT_EQ(boxes.PendingAnswers(), 0);
    EXPECT_TRUE(window.host.lines.isEmpty()) << window.host.lines.join('\n').toStdString();
    EXPECT_EQ(testutil::TreeManifest(out + tree), row.manifest);
  }
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
  // The report file of the unattended run, under the program's settings folder.
  const QDir settings(QString::fromStdString(dir / "config/arcavo"));
  const QStringList reports = settings.entryList({"docs*.txt"}, QDir::Files);
  ASSERT_EQ(reports.size(), 1) << settings.entryList().join(' ').toStdString();
  const std::string text = testutil::ReadFile(settings.filePath(reports[0]).toStdString());
  EXPECT_NE(text.find("Beginning Add to "), std::string::npos) << text;
  EXPECT_NE(text.find("Files&DIRs successfully Archived: 4"), std::string::npos) << text;
  EXPECT_NE(text.find("Time taken: "), std::string::npos) << text;
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
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_EQ(Sha256(job.archive), before);
  // Why it failed: the report file's last line, also told on standard error.
  const QDir settings(QString::fromStdString(dir / "config/arcavo"));
  const QStringList reports = settings.entryList({"docs*.txt"}, QDir::Files);
  ASSERT_EQ(reports.size(), 1);
  const QStringList lines =
      QString::fromStdString(testutil::ReadFile(settings.filePath(reports[0]).toStdString()))
          .split('\n', Qt::SkipEmptyParts);
  ASSERT_FALSE(lines.isEmpty());
  EXPECT_TRUE(lines.last().contains(root ? "Operation not permitted" : "Permission denied"))
      << lines.join('\n').toStdString();
  EXPECT_NE(r.out.find("arcavo: " + lines.last().toStdString()), std::string::npos) << r.out;
}

namespace {

// The archive's names with every version folder ("#XXXXXXXX#/") taken out, and the version
// folders met.
std::multiset<std::string> WithoutVersionFolders(const std::set<std::string>& names,
                                                 std::set<std::string>& folders) {
  std::multiset<std::string> out;
  for (const std::string& n : names) {
    const QString q = QString::fromStdString(n);
    static const QRegularExpression re(QStringLiteral("#[0-9A-F]{8}#/"));
    const auto m = re.match(q);
    if (m.hasMatch()) folders.insert(m.captured().toStdString());
    out.insert(QString(q).remove(re).toStdString());
  }
  return out;
}

// The archive attribute's stamp of a file ("" when it has none).
std::string ArchivedStamp(const std::string& path) {
  const auto r = testutil::Run("getfattr --only-values -n user.arcavo.archived " + Quote(path) +
                               " 2>/dev/null");
  return r.status == 0 ? r.out : std::string();
}

}  // namespace

TEST_F(ProgramRun, VersionedJobKeepsThePreviousCopies) {
  if (!HaveTools() || !testutil::Exists(ProgramPath())) GTEST_SKIP() << "tools or program missing";
  job.WriteIni(2, 24);
  const std::string report = job.data + "/report.txt";
  for (const std::string content : {"first", "second", "third"}) {
    testutil::WriteFile(report, content);
    const auto r = RunProgram();
    ASSERT_EQ(r.status, 0) << r.out;
  }
  EXPECT_EQ(testutil::Run("unzip -tq " + Quote(job.archive)).status, 0);
  const std::set<std::string> names = Lines(testutil::Run("unzip -Z1 " + Quote(job.archive)).out);
  // Two versioned runs: the current entries, and the entries of each earlier run in a folder of
  // its own next to them.
  std::set<std::string> folders;
  const std::multiset<std::string> plain = WithoutVersionFolders(names, folders);
  ASSERT_EQ(folders.size(), 2u);
  EXPECT_EQ(names.size(), 3 * job.ExpectedNames().size());
  for (const std::string& n : job.ExpectedNames()) EXPECT_EQ(plain.count(n), 3u) << n;
  const std::string d = job.data.substr(1) + "/";
  auto text = [&](const std::string& entry) {
    return testutil::Run("unzip -p " + Quote(job.archive) + " " + Quote(entry)).out;
  };
  EXPECT_EQ(text(d + *folders.begin() + "report.txt"), "first");
  EXPECT_EQ(text(d + *folders.rbegin() + "report.txt"), "second");
  EXPECT_EQ(text(d + "report.txt"), "third");
  EXPECT_EQ(names.count(d + "pics/" + *folders.begin() + "photo.jpg"), 1u);
}

TEST_F(ProgramRun, SelfExtractingJobExtractsItself) {
  if (!HaveTools() || !testutil::Exists(ProgramPath())) GTEST_SKIP() << "tools or program missing";
  job.archive = job.folder + "/docs.EXE";
  job.WriteIni(0, 24);
  testutil::WriteFile(job.archive, "an older file of the name");
  const auto r = RunProgram();
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(testutil::Run("unzip -tq " + Quote(job.archive)).status, 0);
  EXPECT_EQ(Lines(testutil::Run("unzip -Z1 " + Quote(job.archive)).out), job.ExpectedNames());
  // Nothing is left beside it.
  EXPECT_EQ(QDir(QString::fromStdString(job.folder)).entryList(QDir::Files | QDir::Hidden),
            QStringList({"docs.EXE"}));

  // The block the stub reads: command line may be disabled, files chosen, overwrite changed.
  TArcUnZip reader;
  reader.SetZipName(job.archive);
  reader.ReadArchive();
  TFileStream s(job.archive, TFileStream::omRead);
  TSFXConfig cfg;
  ASSERT_TRUE(cfg.ReadConfigBefore(s, FirstEntryOffset(reader)));
  EXPECT_TRUE(cfg.UserCanDisableCmdLine);
  EXPECT_TRUE(cfg.UserCanChooseFiles);
  EXPECT_TRUE(cfg.UserCanChangeOverwrite);
  EXPECT_FALSE(cfg.AutoExtract);

  const std::string target = dir.path() + "/out";
  const auto x = testutil::Run("cd " + Quote(job.folder) + " && ./docs.EXE -d " + Quote(target) +
                               " </dev/null");
  EXPECT_EQ(x.status, 0) << x.out;
  const auto diff = testutil::Run("diff -r -x '*.tmp' -x '*.TMP' " + Quote(target + job.data) +
                                  " " + Quote(job.data));
  EXPECT_EQ(diff.status, 0) << diff.out;
}

TEST_F(ProgramRun, ArchiveBitModesFromJobs) {
  if (!HaveTools() || !testutil::HaveTool("getfattr") || !testutil::Exists(ProgramPath()))
    GTEST_SKIP() << "tools or program missing";
  const std::string d = job.data + "/";
  const std::vector<std::string> stored = {d + "report.txt", d + "pics/photo.jpg",
                                           d + "pics/Holiday.JPG", d + "notes/todo.md"};
  const std::vector<std::string> excluded = {d + "scratch.tmp", d + "notes/old.TMP"};
  auto stamps = [&] {
    std::map<std::string, std::string> m;
    for (const auto* list : {&stored, &excluded})
      for (const std::string& f : *list) m[f] = ArchivedStamp(f);
    return m;
  };
  auto files = [&] {
    std::set<std::string> out;
    for (const std::string& n : Lines(testutil::Run("unzip -Z1 " + Quote(job.archive)).out))
      if (n.back() != '/') out.insert(n);
    return out;
  };
  auto runMode = [&](int mode) {
    job.WriteIni(0, 24, mode);
    const auto r = RunProgram();
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(testutil::Run("unzip -tq " + Quote(job.archive)).status, 0);
  };

  // "Copy then Clear Bit": every stored file gets its stamp, the excluded ones none.
  runMode(1);
  auto s1 = stamps();
  if (s1[stored[0]].empty()) GTEST_SKIP() << "no user xattrs on this file system";
  for (const std::string& f : stored) EXPECT_FALSE(s1[f].empty()) << f;
  for (const std::string& f : excluded) EXPECT_TRUE(s1[f].empty()) << f;
  EXPECT_EQ(Lines(testutil::Run("unzip -Z1 " + Quote(job.archive)).out), job.ExpectedNames());

  // "Copy Bit Set": only the changed file, and no stamp changes.
  testutil::WriteFile(d + "notes/todo.md", "- backup\n- again\n");
  runMode(2);
  EXPECT_EQ(files(), std::set<std::string>({(d + "notes/todo.md").substr(1)}));
  EXPECT_EQ(stamps(), s1);

  // "Copy Bit Set then Clear Bit": the changed file is stored and gets a new stamp.
  runMode(3);
  EXPECT_EQ(files(), std::set<std::string>({(d + "notes/todo.md").substr(1)}));
  auto s3 = stamps();
  EXPECT_NE(s3[d + "notes/todo.md"], s1[d + "notes/todo.md"]);
  EXPECT_FALSE(s3[d + "notes/todo.md"].empty());
  s1[d + "notes/todo.md"] = s3[d + "notes/todo.md"];
  EXPECT_EQ(s3, s1);

  // "Copy" after them: every file, no stamp changed, nothing deleted.
  runMode(0);
  EXPECT_EQ(Lines(testutil::Run("unzip -Z1 " + Quote(job.archive)).out), job.ExpectedNames());
  EXPECT_EQ(stamps(), s3);
  for (const auto* list : {&stored, &excluded})
    for (const std::string& f : *list) EXPECT_TRUE(testutil::Exists(f)) << f;

  // "Move Files Then Delete (caution!)" into a new archive: the archive holds every file, then
  // they are deleted; the files it left out stay.
  ASSERT_EQ(::unlink(job.archive.c_str()), 0);
  runMode(6);
  EXPECT_EQ(Lines(testutil::Run("unzip -Z1 " + Quote(job.archive)).out), job.ExpectedNames());
  for (const std::string& f : stored) EXPECT_FALSE(testutil::Exists(f)) << f;
  for (const std::string& f : excluded) EXPECT_TRUE(testutil::Exists(f)) << f;
  const std::string extracted = dir.path() + "/moved";
  EXPECT_EQ(testutil::Run("unzip -q " + Quote(job.archive) + " -d " + Quote(extracted)).status, 0);
  EXPECT_EQ(testutil::ReadFile(extracted + d + "notes/todo.md"), "- backup\n- again\n");
  EXPECT_EQ(testutil::ReadFile(extracted + d + "report.txt"), std::string(20000, 'r'));
}

namespace {

// The lines of an strace log, and the index of the first one matching pred (npos when none).
std::vector<std::string> LogLines(const std::string& file) {
  std::vector<std::string> out;
  std::istringstream in(testutil::ReadFile(file));
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

template <class Pred>
size_t FirstLine(const std::vector<std::string>& lines, size_t from, Pred pred) {
  for (size_t i = from; i < lines.size(); ++i)
    if (pred(lines[i])) return i;
  return std::string::npos;
}

bool Has(const std::string& line, const std::string& part) {
  return line.find(part) != std::string::npos;
}

}  // namespace

TEST_F(ProgramRun, MoveAddsToTheArchiveOfEarlierMovesAndFlushesItBeforeDeleting) {
  if (!HaveTools() || !testutil::Exists(ProgramPath())) GTEST_SKIP() << "tools or program missing";
  if (!testutil::HaveTool("strace")) GTEST_SKIP() << "strace missing";
  job.WriteIni(0, 24, 6);
  const std::string d = job.data + "/";
  const std::string log = dir / "trace.log";
  // `arcavo docs.JOB close` under strace: the flushes, renames and deletions in their order.
  auto tracedRun = [&] {
    // (The leak checker of a sanitizer build cannot work under ptrace.)
    const auto r = testutil::Run(
        "cd " + Quote(dir.path()) +
        " && ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" "
        "QT_QPA_PLATFORM=offscreen timeout 120 strace -f -y -o " +
        Quote(log) + " -e trace=fsync,fdatasync,rename,renameat,renameat2,unlink,unlinkat " +
        Quote(ProgramPath()) + " docs.JOB close");
    EXPECT_EQ(r.status, 0) << r.out;
    // The new archive is flushed before it takes its name, the name (its folder) before the
    // first moved file is deleted.
    const std::vector<std::string> lines = LogLines(log);
    const size_t rename = FirstLine(lines, 0, [&](const std::string& l) {
      return Has(l, "rename") && Has(l, "\"" + job.archive + "\"") && Has(l, ") = 0");
    });
    ASSERT_NE(rename, std::string::npos);
    const std::string from = lines[rename].substr(lines[rename].find('"') + 1);
    const std::string temp = from.substr(0, from.find('"'));
    const size_t fileSync = FirstLine(lines, 0, [&](const std::string& l) {
      return Has(l, "sync(") && Has(l, "<" + temp + ">");
    });
    const size_t folderSync = FirstLine(lines, rename, [&](const std::string& l) {
      return Has(l, "fsync(") && Has(l, "<" + job.folder + ">");
    });
    const size_t firstDelete = FirstLine(
        lines, 0, [&](const std::string& l) { return Has(l, "unlink") && Has(l, "\"" + d); });
    ASSERT_NE(firstDelete, std::string::npos);
    EXPECT_LT(fileSync, rename);
    EXPECT_LT(folderSync, firstDelete);
    EXPECT_LT(rename, folderSync);
  };

  // Monday: a new archive; the stored files are deleted.
  tracedRun();
  EXPECT_EQ(Lines(testutil::Run("unzip -Z1 " + Quote(job.archive)).out), job.ExpectedNames());
  EXPECT_FALSE(testutil::Exists(d + "report.txt"));
  // Tuesday: a new file. The archive is added to, never replaced: Monday's files exist nowhere
  // else.
  testutil::WriteFile(d + "tuesday.txt", "tuesday");
  tracedRun();
  std::set<std::string> want = job.ExpectedNames();
  want.insert(d.substr(1) + "tuesday.txt");
  EXPECT_EQ(Lines(testutil::Run("unzip -Z1 " + Quote(job.archive)).out), want);
  const std::string moved =
      testutil::Run("unzip -p " + Quote(job.archive) + " " + Quote(d.substr(1) + "report.txt")).out;
  EXPECT_TRUE(moved == std::string(20000, 'r'));
  EXPECT_FALSE(testutil::Exists(d + "tuesday.txt"));
  EXPECT_EQ(testutil::Run("unzip -tq " + Quote(job.archive)).status, 0);

  // Wednesday: a 20 MB file on a failing disk (every read of it from the third on fails with
  // EIO, in each thread). It is never stored cut short: the run ends with status 3, names it in
  // its report and on standard error, the archive's good copy of it stays, and in Move mode the
  // file itself stays too.
  const std::string big = d + "big.bin";
  const std::string stored = big.substr(1);
  ASSERT_EQ(testutil::Run("head -c 20000000 /dev/urandom > " + Quote(big)).status, 0);
  job.WriteIni(0, 24, 0);  // Copy: the good copy goes in first
  ASSERT_EQ(RunProgram().status, 0);
  const std::string good = Sha256(big);
  auto entrySha = [&] {
    return testutil::Run("unzip -p " + Quote(job.archive) + " " + Quote(stored) + " | sha256sum")
        .out;
  };
  const std::string goodEntry = entrySha();
  ASSERT_EQ(testutil::Run("touch -d '+1 hour' " + Quote(big)).status, 0);
  const QDir settings(QString::fromStdString(dir / "config/arcavo"));
  for (int mode : {0, 6}) {
    job.WriteIni(0, 24, mode);
    for (const QString& f : settings.entryList({"docs*.txt"}, QDir::Files))
      QFile::remove(settings.filePath(f));
    const auto r =
        testutil::Run("cd " + Quote(dir.path()) +
                      " && ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" "
                      "QT_QPA_PLATFORM=offscreen timeout 120 strace -f -o /dev/null -P " +
                      Quote(big) + " -e trace=pread64 -e inject=pread64:error=EIO:when=3+ " +
                      Quote(ProgramPath()) + " docs.JOB close");
    EXPECT_EQ(r.status, 3) << mode << r.out;
    EXPECT_NE(r.out.find(big + ". Skipped because read error: Input/output error"),
              std::string::npos)
        << r.out;
    QString reports;
    for (const QString& f : settings.entryList({"docs*.txt"}, QDir::Files))
      reports += QString::fromStdString(testutil::ReadFile(settings.filePath(f).toStdString()));
    EXPECT_TRUE(reports.contains(QString::fromStdString(big) + ". Skipped because read error"))
        << reports.toStdString();
    EXPECT_EQ(entrySha(), goodEntry) << mode;
    EXPECT_EQ(Sha256(big), good) << mode;
    EXPECT_EQ(testutil::Run("unzip -tq " + Quote(job.archive)).status, 0);
  }
}

TEST_F(ProgramRun, AKilledReplacementLeavesTheOldArchiveAndTheNextRunClearsUp) {
  if (!HaveTools() || !testutil::Exists(ProgramPath())) GTEST_SKIP() << "tools or program missing";
  ASSERT_EQ(RunProgram().status, 0);
  const std::string before = Sha256(job.archive);
  // Enough data that the kill comes while the replacement is being written.
  ASSERT_EQ(testutil::Run("head -c 48000000 /dev/urandom > " + Quote(job.data + "/big.bin")).status,
            0);
  const auto killed = testutil::Run(
      "cd " + Quote(dir.path()) + " && (QT_QPA_PLATFORM=offscreen " + Quote(ProgramPath()) +
      " docs.JOB close & pid=$!; for i in $(seq 1 3000); do ls -a " + Quote(job.folder) +
      " | grep -q '^\\.docs\\.zip\\.arcavo-.\\{6\\}$' && break; sleep 0.01; done; kill -9 $pid; "
      "wait $pid;"
      " echo status=$?)");
  ASSERT_NE(killed.out.find("status=137"), std::string::npos) << killed.out;
  // The old archive is whole under its name; the killed run's temporary file lies beside it.
  EXPECT_EQ(Sha256(job.archive), before);
  const QDir folder(QString::fromStdString(job.folder));
  QStringList left = folder.entryList(QDir::Files | QDir::Hidden);
  // (The killed writer's lock file may stay too; the next writer takes it over.)
  left.removeAll(QStringLiteral(".docs.zip.arcavo-lock"));
  ASSERT_EQ(left.size(), 2) << left.join(' ').toStdString();
  EXPECT_TRUE(left[0].startsWith(".docs.zip.arcavo-")) << left[0].toStdString();

  // The next run on that archive removes it and says so in its report.
  const auto r = RunProgram();
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(folder.entryList(QDir::Files | QDir::Hidden), QStringList({"docs.zip"}));
  EXPECT_EQ(testutil::Run("unzip -tq " + Quote(job.archive)).status, 0);
  const QDir settings(QString::fromStdString(dir / "config/arcavo"));
  QString reports;
  for (const QString& f : settings.entryList({"docs*.txt"}, QDir::Files))
    reports += QString::fromStdString(testutil::ReadFile(settings.filePath(f).toStdString()));
  EXPECT_TRUE(reports.contains("Removed the leftover of an interrupted run: " +
                               QString::fromStdString(job.folder) + "/" + left[0]))
      << reports.toStdString();
}

TEST_F(ProgramRun, SpannedJobWithAMaximumSizeWritesProgramNamedParts) {
  if (!HaveTools() || !testutil::Exists(ProgramPath()) || !testutil::HaveTool("7zz"))
    GTEST_SKIP() << "tools or program missing";
  // 5 MB that do not compress, in parts of 2 MB: three parts.
  std::string noise(5000000, '\0');
  uint32_t x = 12345;
  for (char& c : noise) c = static_cast<char>((x = x * 1103515245 + 12345) >> 24);
  testutil::WriteFile(job.data + "/noise.bin", noise);
  job.WriteIni(0, 24 + 32);  // recursion, folders, "Span Disks (use multiple disks)"
  const std::string ini = job.root + "/docs.INI";
  std::string text = testutil::ReadFile(ini);
  text.replace(text.find("[Options]\n"), 10, "[Options]\nComboEdit1=2\n");
  testutil::WriteFile(ini, text);
  const auto r = RunProgram();
  EXPECT_EQ(r.status, 0) << r.out;
  QStringList parts =
      QDir(QString::fromStdString(job.folder)).entryList(QDir::Files | QDir::Hidden);
  parts.sort();
  EXPECT_EQ(parts, QStringList({"docs.z01", "docs.z02", "docs.zip"}));
  const auto t = testutil::Run("7zz t " + Quote(job.archive));
  EXPECT_EQ(t.status, 0) << t.out;
}
