#include "backup/backuprun.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include "app/damagedarchive.h"
#include "app/sourcelists.h"
#include "archive/zipexceptions.h"
#include "platform/archiveattr.h"
#include "run_fixture.h"

using testutil::Exists;
using testutil::WriteFile;

namespace {

bool BitSet(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  TArchiveAttributes attrs;
  return attrs.IsSet(path, st);
}

// A clock whose waits run a step of the test (for the pause's blinking).
struct SteppingClock : FakeClock {
  std::function<void()> onWait;
  void Wait(int ms) override {
    FakeClock::Wait(ms);
    if (onWait) onWait();
  }
};

// What reading finds wrong with the archive's directory.
QString DamageOf(const std::string& path) {
  TArcUnZip reader;
  reader.SetZipName(path);
  reader.ReadArchive();
  return QString::fromStdString(reader.DirectoryDamage());
}

}  // namespace

TEST(RunTexts, ResultTextsAndSizes) {
  EXPECT_EQ(RunResultText("", 25), "    Backup successful    \r25 file/DIRs were added");
  EXPECT_EQ(RunResultText("", 1), "    Backup successful    \r1 file/DIR was added");
  EXPECT_EQ(RunResultText("User Aborted Operation ", 0),
            "User Aborted Operation \r0 file/DIRs were added");
  // Files left out are counted at the end, and the run is not called successful.
  EXPECT_EQ(RunResultText("", 4, 1),
            "    Backup incomplete    \r4 file/DIRs were added\r1 file/DIR was left out (see the "
            "report)");
  EXPECT_EQ(RunResultText("Disk full ", 0, 2),
            "Disk full \r0 file/DIRs were added\r2 file/DIRs were left out (see the report)");
  EXPECT_EQ(MaxSizeBytes("700"), 700000000);
  EXPECT_EQ(MaxSizeBytes("1.44"), 1440000);
  EXPECT_EQ(MaxSizeBytes("700MB"), 700000000);
  EXPECT_EQ(MaxSizeBytes("1.5GB"), 15000000);
  EXPECT_EQ(MaxSizeBytes("MaxSizeMb"), 0);
  EXPECT_EQ(MaxSizeBytes(""), 0);
  EXPECT_EQ(MaxSizeBytes("0000000000000700MB"), 700000000);
  // Thirteen digits would overflow 64 bits as bytes.
  EXPECT_EQ(MaxSizeBytes("9999999999999MB"), -1);
  EXPECT_EQ(MaxSizeBytes("12345678901234"), -1);
  EXPECT_TRUE(TPasswordCheck::MayClose("", ""));
  EXPECT_FALSE(TPasswordCheck::MayClose("a", "b"));
}

TEST(RunTexts, DiskSpaceAndFileSize) {
  testutil::TempDir dir;
  WriteFile(dir / "f", std::string(1499, 'x'));
  EXPECT_EQ(FileSizeKb(QString::fromStdString(dir / "f")), 1);
  WriteFile(dir / "g", std::string(1500, 'x'));
  EXPECT_EQ(FileSizeKb(QString::fromStdString(dir / "g")), 2);
  EXPECT_EQ(FileSizeKb(QString::fromStdString(dir / "missing")), 0);
  EXPECT_EQ(DiskSpaceKb(""), 0u);
  // A name not yet written is measured on its folder's file system.
  EXPECT_GT(DiskSpaceKb(QString::fromStdString(dir / "not/yet/there.zip")), 0u);
}

TEST_F(RunFixture, PreconditionsStopWithTheirMessages) {
  ticks.Clear();
  boxes.Answer(IDOK,
               "           No files checked/selected!\rOn the BROWSER tab, select the drive and "
               "check the directories you want to back up");
  run->WriteZbtnClick();
  EXPECT_EQ(boxes.transcript().back().caption, "Arcavo");
  EXPECT_EQ(boxes.transcript().back().icon, MB_ICONEXCLAMATION);

  ticks.SetChecked(src, true);
  grid.SetCell(TInclusionGrid::INCLUDE, 1, " ");
  boxes.Answer(IDOK,
               "    No files to INCLUDE in INCLUDE,EXCLUDE,NOCOMP box\rPlease click on the Make "
               "Tab, and fill in 'Inclusion Grid'\rFor example under INCLUDE should have *.* or "
               "similar (see hints/help)");
  run->WriteZbtnClick();

  grid.SetCell(TInclusionGrid::INCLUDE, 1, "*.*");
  run->SetArchiveName(QString::fromStdString(out + "/stealth_x.zip"), true);
  boxes.Answer(IDOK, "Don't use Stealth filename as standard ZIP");
  run->WriteZbtnClick();
  EXPECT_FALSE(Exists(out + "/stealth_x.zip"));
  EXPECT_FALSE(run->RunInProgress());
}

TEST_F(RunFixture, CopyRunStoresTheSelectionWithItsLists) {
  grid.SetCell(TInclusionGrid::EXCLUDE, 1, "*.TMP");
  grid.SetCell(TInclusionGrid::NOCOMP, 1, "*.JPG");
  display.highlighted = {"/nonexistent"};  // ticks win over highlighted items
  RunExpecting("    Backup successful    \r3 file/DIRs were added");
  const auto e = Entries(archive);
  EXPECT_EQ(e.count("src/a.txt"), 1u);
  EXPECT_EQ(e.count("src/b.TMP"), 0u);
  EXPECT_EQ(e.at("src/sub/c.jpg"), 0);
  EXPECT_EQ(e.at("src/sub/d.txt"), 8);
  EXPECT_EQ(e.count("src/empty/"), 1u);
  EXPECT_EQ(display.report.first(), "Beginning Add to " + QString::fromStdString(archive));
  EXPECT_EQ(controls.ControlCaption("WriteZbtn"), "&Write");
  EXPECT_TRUE(controls.ControlEnabled("WriteZbtn"));
  EXPECT_FALSE(display.busyCursor);
  EXPECT_TRUE(run->LastRunSucceeded());
  // Not unattended, no report asked for: no report file.
  EXPECT_FALSE(seams.calls.join(",").contains("report"));
}

TEST_F(RunFixture, OnlyHighlightedItemsAreArchivedWhenNothingIsTicked) {
  // A run without the user backs up its job's selection only: with nothing ticked it stops,
  // whatever is highlighted (the home folder at start).
  ticks.Clear();
  display.highlighted = {src + "/a.txt"};
  program.autoRun = "/jobs/header-only.JOB";
  boxes.Answer(IDOK, kNoFilesCheckedText);
  run->WriteZbtnClick();
  EXPECT_FALSE(testutil::Exists(archive));
  EXPECT_EQ(program.autoRun, "/jobs/header-only.JOB") << "the run did not reach its end";

  program.autoRun.clear();
  RunExpecting("    Backup successful    \r1 file/DIR was added");
  EXPECT_EQ(Entries(archive).size(), 1u);
}

TEST_F(RunFixture, ExistingArchiveCancelKeepsItAndReplaceReplacesIt) {
  WriteFile(src + "/only.txt", "x");
  ticks.Clear();
  ticks.SetChecked(src + "/only.txt", true);
  RunExpecting("");
  const std::string before = Sha256(archive);

  ticks.SetChecked(src, true);
  boxes.Press("Cancel", "ZIPfile exists. What do you want to do?");
  run->WriteZbtnClick();
  EXPECT_EQ(boxes.transcript().back().buttons, QStringList({"Replace", "Add", "Cancel"}));
  EXPECT_EQ(boxes.transcript().back().defaultButton, 2);
  EXPECT_EQ(Sha256(archive), before);
  EXPECT_FALSE(run->RunInProgress());

  boxes.Press("Replace");
  RunExpecting("    Backup successful    \r5 file/DIRs were added");
  EXPECT_NE(Sha256(archive), before);
  // Nothing of the old archive is left behind.
  EXPECT_EQ(QDir(QString::fromStdString(out)).entryList(QDir::Files | QDir::Hidden),
            QStringList({"docs.zip"}));

  // Adding to an archive whose directory is damaged asks first: No writes nothing and says why;
  // Yes rewrites it with the entries found and the new files, and it reads whole again.
  ASSERT_TRUE(testutil::DamageCentralSignature(archive, 1));
  const std::string damaged = Sha256(archive);
  const QString damage = DamageOf(archive);
  ASSERT_FALSE(damage.isEmpty());
  const QString name = QString::fromStdString(archive);
  const QString refused = QString(damagedmsg::kNotChanged).arg(name, damage);
  boxes.Press("Add");
  boxes.Answer(IDNO, QString(damagedmsg::kRewriteQuestion).arg(name, damage));
  RunExpecting(refused);
  EXPECT_EQ(Sha256(archive), damaged);
  EXPECT_FALSE(run->LastRunSucceeded());
  EXPECT_TRUE(display.report.contains(refused));
  boxes.Press("Add");
  boxes.Answer(IDYES, QString(damagedmsg::kRewriteQuestion).arg(name, damage));
  RunExpecting("    Backup successful    \r5 file/DIRs were added");
  EXPECT_TRUE(DamageOf(archive).isEmpty());
  EXPECT_EQ(Entries(archive).count("src/sub/c.jpg"), 1u);
}

TEST_F(RunFixture, ReplacedArchiveComesBackWhenTheRunIsCancelled) {
  WriteFile(src + "/only.txt", "x");
  RunExpecting("");
  const std::string before = Sha256(archive);

  // Cancel from a second click while the engine works, answered OK.
  lists.modeList.SetChecked(opt::kModeCopyClear, true);
  bool clicked = false;
  zip.OnTotalPercentDone = [&](TArcUnZip::TSender, int) {
    if (clicked) return;
    clicked = true;
    boxes.Answer(IDOK, "Abort && Cancel operation?");
    boxes.Answer(IDOK, "User Aborted Operation \r0 file/DIRs were added");
    run->WriteZbtnClick();
    // Further clicks while the cancel unwinds do nothing.
    run->WriteZbtnClick();
  };
  boxes.Press("Replace");
  run->WriteZbtnClick();
  EXPECT_TRUE(clicked);
  EXPECT_EQ(Sha256(archive), before);
  EXPECT_TRUE(BitSet(src + "/a.txt"));
  EXPECT_FALSE(run->LastRunSucceeded());
  EXPECT_EQ(QDir(QString::fromStdString(out)).entryList(QDir::Files | QDir::Hidden),
            QStringList({"docs.zip"}));
}

TEST_F(RunFixture, CancelledMoveDeletesNothing) {
  lists.modeList.SetChecked(opt::kModeMove, true);
  zip.OnTotalPercentDone = [&](TArcUnZip::TSender, int) {
    if (run->RunInProgress()) {
      boxes.Answer(IDOK);
      boxes.Answer(IDOK, "User Aborted Operation \r0 file/DIRs were added");
      run->WriteZbtnClick();
    }
  };
  run->WriteZbtnClick();
  EXPECT_TRUE(Exists(src + "/a.txt"));
  EXPECT_TRUE(Exists(src + "/sub/c.jpg"));
  // Reset to "Copy" also after a failed run.
  EXPECT_TRUE(lists.modeList.Checked(opt::kModeCopy));
  EXPECT_FALSE(zip.Dispose);
}

TEST_F(RunFixture, SecondClickAnsweredCancelLetsTheRunGoOn) {
  zip.OnTotalPercentDone = [&](TArcUnZip::TSender, int) {
    if (!run->RunInProgress() || boxes.transcript().size() > 0) return;
    ticks.Clear();  // a click during a run only asks to cancel, whatever is ticked now
    EXPECT_EQ(controls.ControlCaption("WriteZbtn"), "&Abort");
    EXPECT_TRUE(display.alarm.value("WriteZbtn"));
    boxes.Answer(IDCANCEL, "Abort && Cancel operation?");
    boxes.Answer(IDOK, "    Backup successful    \r4 file/DIRs were added");
    run->WriteZbtnClick();
  };
  run->WriteZbtnClick();
}

TEST_F(RunFixture, ArchiveBitModesFromTheRun) {
  // Copy then Clear Bit: stored files have their bit cleared.
  lists.modeList.SetChecked(opt::kModeCopyClear, true);
  lists.functionsList.SetChecked(opt::kFnUnattended, true);
  RunExpecting("    Backup successful    \r4 file/DIRs were added");
  EXPECT_FALSE(BitSet(src + "/a.txt"));
  EXPECT_FALSE(BitSet(src + "/sub/d.txt"));

  // Copy Bit Set: only the changed file is taken, and bits stay as they are.
  WriteFile(src + "/sub/d.txt", "changed");
  lists.modeList.SetChecked(opt::kModeBitSet, true);
  RunExpecting("    Backup successful    \r1 file/DIR was added");
  EXPECT_TRUE(BitSet(src + "/sub/d.txt"));

  // Copy Bit Set then Clear Bit: the changed file is taken and its bit cleared.
  lists.modeList.SetChecked(opt::kModeBitSetClear, true);
  RunExpecting("    Backup successful    \r1 file/DIR was added");
  EXPECT_FALSE(BitSet(src + "/sub/d.txt"));

  // Copy after them: every file, nothing changed.
  WriteFile(src + "/a.txt", "changed too");
  lists.modeList.SetChecked(opt::kModeCopy, true);
  RunExpecting("    Backup successful    \r4 file/DIRs were added");
  EXPECT_EQ(Entries(archive).size(), 6u);  // 4 files and the folders sub/ and empty/
  EXPECT_TRUE(BitSet(src + "/a.txt"));
  EXPECT_FALSE(BitSet(src + "/sub/d.txt"));
  EXPECT_FALSE(zip.ResetArchiveBitOnZip);
  EXPECT_FALSE(zip.SkipIfArchiveBitNotSet);
}

TEST_F(RunFixture, MoveDeletesAfterTheArchiveIsCompleteAndResetsToCopy) {
  lists.modeList.SetChecked(opt::kModeMove, true);
  bool sourcesPresentWhileWriting = true;
  zip.OnEndZip = [&](TArcUnZip::TSender, const std::string&, int32_t, int32_t, int32_t) {
    sourcesPresentWhileWriting =
        sourcesPresentWhileWriting && Exists(src + "/a.txt") && Exists(src + "/sub/d.txt");
  };
  RunExpecting("    Backup successful    \r4 file/DIRs were added");
  EXPECT_TRUE(sourcesPresentWhileWriting);
  EXPECT_FALSE(Exists(src + "/a.txt"));
  EXPECT_FALSE(Exists(src + "/sub/c.jpg"));
  EXPECT_EQ(Entries(archive).count("src/a.txt"), 1u);
  EXPECT_TRUE(lists.modeList.Checked(opt::kModeCopy));
  EXPECT_FALSE(zip.Dispose);

  // A second Move adds to that archive without asking, in the window and unattended: the files
  // the first one deleted exist nowhere else.
  for (bool unattended : {false, true}) {
    const std::string name = unattended ? "later.txt" : "new.txt";
    WriteFile(src + "/" + name, name);
    lists.modeList.SetChecked(opt::kModeMove, true);
    lists.functionsList.SetChecked(opt::kFnUnattended, unattended);
    RunExpecting("    Backup successful    \r1 file/DIR was added");
    EXPECT_EQ(Entries(archive).count("src/a.txt"), 1u);
    EXPECT_EQ(Entries(archive).count("src/" + name), 1u);
    EXPECT_FALSE(Exists(src + "/" + name));
  }
  EXPECT_EQ(Entries(archive).count("src/new.txt"), 1u);
  for (const auto& box : boxes.transcript())
    EXPECT_NE(box.text, "ZIPfile exists. What do you want to do?");
}

TEST_F(RunFixture, LeftoversOfAnInterruptedRunAreRemovedOrPutBackAndReported) {
  RunExpecting("");
  const QString where = QString::fromStdString(out) + "/";
  // Ours: the writer's temporary file and the copy an earlier version kept aside. Not ours: other
  // names, a link, a temporary name of another length.
  WriteFile(out + "/.docs.zip.arcavo-Ab12Cd", "partial");
  WriteFile(out + "/.docs.zip.previous", "an older archive");
  WriteFile(out + "/.docs.zip.arcavo-keepme1", "x");
  WriteFile(out + "/.docs.zip.backup", "mine");
  ASSERT_EQ(::symlink((src + "/a.txt").c_str(), (out + "/.docs.zip.previous2").c_str()), 0);
  lists.functionsList.SetChecked(opt::kFnUnattended, true);
  RunExpecting("    Backup successful    \r4 file/DIRs were added");
  EXPECT_EQ(QDir(QString::fromStdString(out)).entryList(QDir::Files | QDir::Hidden | QDir::System),
            QStringList({".docs.zip.arcavo-keepme1", ".docs.zip.backup", ".docs.zip.previous2",
                         "docs.zip"}));
  EXPECT_TRUE(display.report.contains("Removed the leftover of an interrupted run: " + where +
                                      ".docs.zip.arcavo-Ab12Cd"));
  EXPECT_TRUE(display.report.contains("Removed the leftover of an interrupted run: " + where +
                                      ".docs.zip.previous"));
  EXPECT_TRUE(testutil::Exists(src + "/a.txt"));

  // The archive missing while a copy lies aside: the newest copy is the previous archive. It
  // comes back under its name before the run asks whether that name exists.
  const std::string second = Sha256(archive);
  ASSERT_EQ(::rename(archive.c_str(), (out + "/.docs.zip.previous7").c_str()), 0);
  WriteFile(out + "/.docs.zip.previous3", "older");
  struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (out + "/.docs.zip.previous3").c_str(), old, 0), 0);
  lists.functionsList.SetChecked(opt::kFnUnattended, false);
  display.report.clear();
  boxes.Press("Cancel", "ZIPfile exists. What do you want to do?");
  run->WriteZbtnClick();
  EXPECT_EQ(Sha256(archive), second);
  EXPECT_EQ(
      display.report,
      QStringList(
          {"Put back the archive an interrupted run left aside: " + where + ".docs.zip.previous7",
           "Removed the leftover of an interrupted run: " + where + ".docs.zip.previous3"}));
}

TEST_F(RunFixture, UnattendedRunReplacesAndAFailedOneKeepsThePreviousArchive) {
  lists.functionsList.SetChecked(opt::kFnUnattended, true);
  RunExpecting("");
  const std::string before = Sha256(archive);
  // A second unattended run asks nothing and replaces the archive.
  WriteFile(src + "/new.txt", "n");
  RunExpecting("    Backup successful    \r5 file/DIRs were added");
  EXPECT_NE(Sha256(archive), before);
  const std::string second = Sha256(archive);

  // An unattended run adding to an archive whose directory is damaged asks nobody: the archive
  // stays as it is, and the run fails and says why on standard error and in its report.
  const std::string whole = testutil::ReadFile(archive);
  ASSERT_TRUE(testutil::DamageCentralSignature(archive));
  const std::string damaged = Sha256(archive);
  const QString refused =
      QString(damagedmsg::kNotChanged).arg(QString::fromStdString(archive), DamageOf(archive));
  lists.modeList.SetChecked(opt::kModeUpdate, true);
  QStringList told;
  SetMbUnattended([&](const QString& text, bool failure) { told << text + (failure ? "!" : ""); });
  program.autoRun = "job.JOB";
  program.action = "close";
  run->WriteZbtnClick();
  SetMbUnattended({});
  SetMbTerminating(false);
  ASSERT_TRUE(program.exitCode.has_value());
  EXPECT_EQ(*program.exitCode, 1);
  EXPECT_EQ(told, QStringList({refused + "!"}));
  EXPECT_TRUE(display.report.contains(refused));
  EXPECT_EQ(Sha256(archive), damaged);
  program.exitCode.reset();
  lists.modeList.SetChecked(opt::kModeCopy, true);
  WriteFile(archive, whole);
  program.action.clear();

  // The folder becomes unwritable: the run fails and the archive stays.
  const bool root = ::geteuid() == 0;
  const std::string lock = root ? "chattr +i " + testutil::Quote(out) + " 2>/dev/null"
                                : "chmod 0555 " + testutil::Quote(out);
  if (testutil::Run(lock).status != 0) GTEST_SKIP() << "cannot make a folder unwritable";
  program.autoRun = "job.JOB";
  program.action = "close";
  run->WriteZbtnClick();  // the closing box returns by itself
  SetMbTerminating(false);
  testutil::Run(root ? "chattr -i " + testutil::Quote(out) : "chmod 0755 " + testutil::Quote(out));
  EXPECT_FALSE(run->LastRunSucceeded());
  EXPECT_FALSE(run->ErrorText().isEmpty());
  ASSERT_TRUE(program.exitCode.has_value());
  EXPECT_NE(*program.exitCode, 0);
  EXPECT_EQ(Sha256(archive), second);
  EXPECT_TRUE(program.autoRun.isEmpty());
}

TEST_F(RunFixture, CloseActionEndsTheProgramAndLaterBoxesReturnAtOnce) {
  program.autoRun = "job.JOB";
  program.action = "close";
  lists.functionsList.SetChecked(opt::kFnUnattended, true);
  run->WriteZbtnClick();  // the closing box returns by itself
  ASSERT_TRUE(program.exitCode.has_value());
  EXPECT_EQ(*program.exitCode, 0);
  EXPECT_TRUE(MbTerminating());
  EXPECT_EQ(boxes.transcript().size(), 0);
  EXPECT_EQ(seams.calls, QStringList({"report " + QString::fromStdString(archive)}));
  EXPECT_TRUE(program.autoRun.isEmpty());
  SetMbTerminating(false);
}

TEST_F(RunFixture, EndActionsBelongToTheAutomaticRunOnly) {
  // "hibernate" on the command line: the automatic run hibernates without asking anybody, a
  // later manual run does not.
  program.autoRun = "job.JOB";
  program.action = "hibernate";
  boxes.Answer(IDOK);  // the message after resuming
  RunExpecting("");
  EXPECT_EQ(seams.calls.count("hibernate"), 1);
  EXPECT_FALSE(seams.interactive);
  lists.functionsList.SetChecked(opt::kFnUnattended, true);
  RunExpecting("");
  EXPECT_EQ(seams.calls.count("hibernate"), 1);
}

TEST_F(RunFixture, PowerDownAtTheEndFallsBackToShutdownAndTellsWhenBothFail) {
  struct Case {
    const char* name;
    const char* action;  // the command line's, for an automatic run; "" for "O/C shut down PC"
    bool unattended, hibernates, shutsDown;
    QStringList calls;
    bool closingBox;  // the run went on to its closing message
    bool headed;      // which starts with why the machine is still up
  };
  const Case cases[] = {
      {"ticked by hand, hibernated", "", false, true, true, {"hibernate"}, true, false},
      {"ticked, shut down instead",
       "",
       false,
       false,
       true,
       {"hibernate", "shutdown"},
       false,
       false},
      {"ticked, neither", "", true, false, false, {"hibernate", "shutdown"}, true, true},
      {"action hibernate, neither",
       "hibernate",
       true,
       false,
       false,
       {"hibernate", "shutdown"},
       true,
       true},
      {"action shutdown refused", "shutdown", true, true, false, {"shutdown"}, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    seams.calls.clear();
    ::unlink(archive.c_str());
    seams.hibernates = c.hibernates;
    seams.shutsDown = c.shutsDown;
    program.autoRun = *c.action ? "job.JOB" : "";
    program.action = c.action;
    lists.functionsList.SetChecked(opt::kFnUnattended, c.unattended);
    lists.functionsList.SetChecked(opt::kFnShutdown, !*c.action);
    const qsizetype before = boxes.Texts().size();
    boxes.AnswerDefaults(true);
    run->WriteZbtnClick();
    boxes.AnswerDefaults(false);
    EXPECT_EQ(seams.calls.filter(QRegularExpression("^(hibernate|shutdown)$")), c.calls);
    EXPECT_EQ(seams.interactive, !*c.action && !c.unattended);
    EXPECT_FALSE(lists.functionsList.Checked(opt::kFnShutdown));
    const QStringList texts = boxes.Texts().mid(before);
    EXPECT_EQ(!texts.isEmpty(), c.closingBox) << texts.join("|").toStdString();
    if (c.closingBox) {
      EXPECT_EQ(texts.last().startsWith("Couldn't shut down: refused\r"), c.headed)
          << texts.last().toStdString();
    }
  }
}

TEST_F(RunFixture, RestorePointMessageReplacesTheResult) {
  lists.functionsList.SetChecked(opt::kFnRestore, true);
  boxes.Answer(IDOK, "Restore point set");
  RunExpecting("Restore point set");
  EXPECT_EQ(seams.calls, QStringList({"restore point docs"}));
  EXPECT_FALSE(boxes.noticeOpen());
}

TEST_F(RunFixture, VerifyReplacesTheClosingBoxAndAFailedTestFailsTheRun) {
  lists.functionsList.SetChecked(opt::kFnVerify, true);
  // The command line's "close" ends the program only after the test, with its outcome.
  struct Case {
    TVerifyResult::Outcome outcome;
    const char* action;
    const char* result;  // "" : the run's own text, saying nothing was verified
    bool succeeded;
    int exitCode;  // -1: the program is not ended
  };
  const Case cases[] = {
      {TVerifyResult::Passed, "", "verified", true, -1},
      {TVerifyResult::Failed, "", "found bad", false, -1},
      {TVerifyResult::Passed, "close", "verified", true, 0},
      {TVerifyResult::Failed, "close", "found bad", false, 1},
      {TVerifyResult::Unavailable, "", "", true, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.result) + " " + c.action);
    ::unlink(archive.c_str());
    seams.calls.clear();
    seams.verifyOutcome = c.outcome;
    program.exitCode.reset();
    program.action = c.action;
    if (*c.action) program.autoRun = "job.JOB";
    if (*c.result)
      boxes.Answer(IDOK, c.result);
    else
      boxes.Answer(IDOK);
    run->WriteZbtnClick();
    SetMbTerminating(false);
    EXPECT_EQ(run->LastRunSucceeded(), c.succeeded);
    EXPECT_EQ(program.exitCode.value_or(-1), c.exitCode);
    if (*c.result) {
      EXPECT_EQ(run->ResultText(), c.result);
      EXPECT_TRUE(seams.calls.contains("verify " + QString::fromStdString(archive)));
    } else {
      EXPECT_TRUE(run->ResultText().startsWith(runmsg::kSuccess))
          << run->ResultText().toStdString();
      EXPECT_TRUE(run->ResultText().endsWith(runmsg::kVerifyUnavailable));
      EXPECT_EQ(boxes.transcript().back().icon, MB_ICONEXCLAMATION);
    }
    EXPECT_EQ(boxes.transcript().back().text, run->ResultText());
  }
}

TEST_F(RunFixture, AnUnexpectedExceptionLeavesTheWindowIdle) {
  struct Unexpected {};
  struct Case {
    const char* name;
    std::function<void()> run;
  };
  const std::vector<Case> cases = {
      {"backup", [&] { run->WriteZbtnClick(); }},
      {"counting run", [&] { run->CountingRun(QString()); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    run->onEngineStart = [] { throw Unexpected{}; };
    EXPECT_THROW(c.run(), Unexpected);
    EXPECT_FALSE(run->RunInProgress());
    EXPECT_FALSE(run->SizeCalcMode());
    EXPECT_TRUE(controls.ControlEnabled(bctl::kWriteButton));
    EXPECT_TRUE(controls.ControlEnabled(bctl::kSizeCalcButton));
    EXPECT_FALSE(display.busyCursor);
    EXPECT_EQ(run->ZipName(), QString::fromStdString(archive));
    EXPECT_FALSE(zip.SessionOpen());
    EXPECT_TRUE(zip.FilesList.empty());
    // The next run goes as usual.
    run->onEngineStart = nullptr;
    ::unlink(archive.c_str());
    RunExpecting("");
    EXPECT_TRUE(run->LastRunSucceeded());
  }
}

TEST_F(RunFixture, CountingOnlyRunCountsAndSkipsTheEndOfRunActions) {
  program.autoRun = "job.JOB";
  program.action = "close";
  lists.functionsList.SetChecked(opt::kFnUnattended, true);
  lists.functionsList.SetChecked(opt::kFnShutdown, true);
  lists.functionsList.SetChecked(opt::kFnRestore, true);
  lists.directoryList.SetChecked(opt::kDirEncrypt, true);
  const std::string scratch = dir / "$docs.zip";
  const auto count = run->CountingRun(QString::fromStdString(scratch));
  ASSERT_TRUE(count.has_value());
  EXPECT_EQ(count->files, 6);  // 4 files, 2 folders
  EXPECT_EQ(count->bytes, 5000 + 9 + 3000 + 1);
  EXPECT_FALSE(Exists(scratch));
  EXPECT_TRUE(seams.calls.isEmpty());
  EXPECT_FALSE(program.exitCode.has_value());
  EXPECT_EQ(dialogs.passwordShown, 0);
  EXPECT_TRUE(lists.functionsList.Checked(opt::kFnShutdown));
  EXPECT_FALSE(run->SizeCalcMode());
  EXPECT_EQ(run->ZipName(), QString::fromStdString(archive));

  // Without a scratch name, and without any archive name, counting still works.
  run->SetArchiveName("", true);
  ASSERT_TRUE(run->CountingRun("").has_value());
  EXPECT_TRUE(run->ZipName().isEmpty());
  // Only the size is shown: the user cancelled nothing.
  EXPECT_TRUE(boxes.transcript().isEmpty()) << boxes.Texts().join('|').toStdString();
}

TEST_F(RunFixture, EncryptedRunTakesThePasswordOfTheDialogOrWritesNothing) {
  lists.directoryList.SetChecked(opt::kDirEncrypt, true);
  dialogs.password = "secret";
  RunExpecting("");
  EXPECT_EQ(dialogs.passwordShown, 1);
  // A new window's job encrypts with AES-256 (method 99).
  EXPECT_EQ(Entries(archive).at("src/a.txt"), 0x100 | 99);
  EXPECT_TRUE(zip.Password.empty());
  if (testutil::HaveTool("7zz")) {
    EXPECT_EQ(testutil::Run("7zz t -psecret " + testutil::Quote(archive)).status, 0);
  }
  // No password (OK with empty edits, Cancel with or without text typed, the dialog closed by
  // the program's end): nothing is written, neither replacing nor adding, and no plain archive.
  const std::string before = Sha256(archive);
  lists.functionsList.SetChecked(opt::kFnUnattended, true);
  for (const std::optional<QString>& answer :
       {std::optional<QString>(QString()), std::optional<QString>(std::nullopt)}) {
    dialogs.password = answer;
    RunExpecting(runmsg::kNoPassword);
    EXPECT_EQ(Sha256(archive), before);
    EXPECT_FALSE(run->LastRunSucceeded());
    EXPECT_EQ(display.report, QStringList({"Beginning Add to " + QString::fromStdString(archive),
                                           runmsg::kNoPassword}));
  }
  EXPECT_EQ(QDir(QString::fromStdString(out)).entryList(QDir::Files | QDir::Hidden),
            QStringList({"docs.zip"}));
  // An unattended run ends with the failure status and says why as its boxes do.
  QStringList told;
  SetMbUnattended([&](const QString& text, bool failure) { told << text + (failure ? "!" : ""); });
  program.autoRun = "job.JOB";
  program.action = "close";
  run->WriteZbtnClick();
  SetMbUnattended({});
  SetMbTerminating(false);
  ASSERT_TRUE(program.exitCode.has_value());
  EXPECT_EQ(*program.exitCode, 1);
  EXPECT_EQ(told, QStringList({QString(runmsg::kNoPassword) + "!"}));
  EXPECT_EQ(Sha256(archive), before);
}

TEST_F(RunFixture, AllocationErrorRestoresButtonAndCursor) {
  seams.driveKind = 1;
  seams.disc.Ready = true;
  seams.discFree = -1;  // a disc layer reporting nonsense gives no part size
  boxes.Answer(IDOK, "Disk space allocation error");
  run->WriteZbtnClick();
  EXPECT_EQ(boxes.transcript().back().icon, MB_ICONERROR);
  EXPECT_TRUE(controls.ControlEnabled("WriteZbtn"));
  EXPECT_FALSE(display.busyCursor);
  EXPECT_FALSE(run->RunInProgress());
  // Name and spanning are as before; the engine is not left with a pending cancel.
  EXPECT_EQ(run->ZipName(), QString::fromStdString(archive));
  EXPECT_FALSE(lists.directoryList.Checked(opt::kDirSpan));
  EXPECT_TRUE(lists.directoryList.ItemEnabled(opt::kDirSpan));
  seams.driveKind = 0;
  RunExpecting("    Backup successful    \r4 file/DIRs were added");
}

TEST_F(RunFixture, DiscTargetStopsAndMessages) {
  seams.driveKind = 1;
  boxes.Answer(IDOK, "CD Writer checkout fails.\rPossibly no disk inserted");
  run->WriteZbtnClick();
  seams.disc.Ready = true;
  seams.discFree = 13;  // the user cancelled the disc check
  run->WriteZbtnClick();
  seams.discFree = 650000;
  prefs.Set("CheckTempSpace", true);
  uint32_t free = 1199999;
  QString asked;
  run->diskSpaceKb = [&](const QString& p) {
    asked = p;
    return free;
  };
  boxes.Answer(IDOK, "Insufficient Space on temporary drive for CDR backup");
  run->WriteZbtnClick();
  EXPECT_EQ(asked, QString::fromStdString(ProgramDir()));  // where the parts are staged
  EXPECT_EQ(run->ZipName(), QString::fromStdString(archive));
  // A DVD needs more.
  seams.disc.TypeName = "DVD+RW";
  free = 1200000;
  boxes.Answer(IDOK, "Insufficient Space on temporary drive for CDR backup");
  run->WriteZbtnClick();
  EXPECT_FALSE(Exists(archive));
  EXPECT_FALSE(run->CdStaging());

  // A staged run stopped at the existing-archive question is undone.
  free = 7000000;
  WriteFile(ProgramDir() + "docs.zip", "staged before");
  boxes.Press("Cancel", "ZIPfile exists. What do you want to do?");
  run->WriteZbtnClick();
  EXPECT_FALSE(run->CdStaging());
  EXPECT_EQ(run->ZipName(), QString::fromStdString(archive));
  EXPECT_FALSE(lists.directoryList.Checked(opt::kDirSpan));
  EXPECT_TRUE(lists.directoryList.ItemEnabled(opt::kDirSpan));
}

TEST_F(RunFixture, DiscStagingWritesIntoTheProgramFolderAndEjectsBeforeShutdown) {
  seams.ejectRefusal = "the drive did not eject the disc: busy";
  seams.driveKind = 1;
  seams.disc.Ready = true;
  seams.disc.Kind = 2;
  seams.discFree = 540000;
  prefs.Set("CheckTempSpace", true);
  run->diskSpaceKb = [](const QString&) { return 1200000u; };
  lists.functionsList.SetChecked(opt::kFnShutdown, true);
  TMultiZipInfo seen;
  bool staging = false;
  run->onStartZipInfo = [&](int, int64_t, bool&) {
    seen = zip.MultiZipInfo;
    staging = run->CdStaging();
    EXPECT_EQ(run->ZipName(), QString::fromStdString(ProgramDir()) + "docs.zip");
    EXPECT_TRUE(lists.directoryList.Checked(opt::kDirSpan));
    EXPECT_FALSE(lists.directoryList.ItemEnabled(opt::kDirSpan));
  };
  seams.sizingAuto = false;
  const int64_t waitedBefore = clock.waited();
  // The run asks for parts of the disc's size; the small backup fits in one part. A disc the
  // drive kept is told in the closing message and in the report.
  RunExpecting(
      "    Backup successful    \r4 file/DIRs were added\rCouldn't eject the disc: the drive did "
      "not eject the disc: busy");
  EXPECT_EQ(display.report.last(),
            "Couldn't eject the disc: the drive did not eject the disc: busy");
  EXPECT_TRUE(staging);
  EXPECT_EQ(seen.MultiMode, TMultiMode::mmBlocks);
  EXPECT_EQ(seen.BlockSize, 540000000);
  // The size list shows the rewritable disc's size.
  EXPECT_TRUE(lists.sizeList.Checked(opt::kSizeCdrw540));
  EXPECT_EQ(clock.waited() - waitedBefore, 20000);
  EXPECT_EQ(boxes.lastNotice().text, "Please wait - Finishing before eject");
  EXPECT_FALSE(boxes.noticeOpen());
  EXPECT_EQ(seams.calls, QStringList({"open /media/cdrom", "hibernate", "release"}));
  EXPECT_EQ(run->ZipName(), QString::fromStdString(archive));
  EXPECT_FALSE(run->CdStaging());
  EXPECT_FALSE(lists.directoryList.Checked(opt::kDirSpan));

  // A blank DVD's free space as bytes is more than one ISO 9660 file can hold: parts stop
  // 2048 bytes short of 4 GiB.
  seams.disc.TypeName = "DVD+R";
  seams.discFree = 4482625;
  run->diskSpaceKb = [](const QString&) { return 6200000u; };
  QFile::remove(QString::fromStdString(ProgramDir()) + "docs.zip");  // nothing burns it here
  RunExpecting("    Backup successful    \r4 file/DIRs were added");
  EXPECT_EQ(seen.BlockSize, 4294965248);
}

TEST_F(RunFixture, VolumeSettingsFollowTheListsOnEveryRun) {
  lists.directoryList.SetChecked(opt::kDirSpan, true);
  lists.directoryList.SetChecked(opt::kDirDirectoryFirstDisk, true);
  lists.firstDiskEdit.SetText("2");
  lists.maxSizeEdit.SetText("700");
  // What the writer makes of the volume settings is its own; the run's settings are checked
  // when the engine announces its work.
  TMultiZipInfo seen;
  run->onStartZipInfo = [&](int, int64_t, bool& stop) {
    seen = zip.MultiZipInfo;
    stop = true;
  };
  RunExpecting("User canceled Zip operation \r0 file/DIRs were added");
  EXPECT_EQ(seen.MultiMode, TMultiMode::mmBlocks);
  EXPECT_EQ(seen.BlockSize, 700000000);
  EXPECT_EQ(seen.FirstBlockSize, 698000000);
  EXPECT_EQ(seen.SaveOnFirstDisk, 0);
  EXPECT_TRUE(seen.SaveZipInfoOnFirstDisk);

  lists.directoryList.SetChecked(opt::kDirDirectoryFirstDisk, false);
  lists.maxSizeEdit.SetText("MaxSizeMb");
  RunExpecting("User canceled Zip operation \r0 file/DIRs were added");
  EXPECT_EQ(seen.MultiMode, TMultiMode::mmSpan);
  EXPECT_EQ(seen.SaveOnFirstDisk, 2000000);
  EXPECT_FALSE(seen.SaveZipInfoOnFirstDisk);
}

TEST_F(RunFixture, PauseBlinksUntilResumed) {
  SteppingClock stepping;
  QStringList captions;
  int waits = 0;
  stepping.onWait = [&] {
    captions << controls.ControlCaption(ctl::kPauseButton);
    if (++waits == 3) run->PauseBtnClick();  // resume
  };
  bool paused = false;
  zip.OnTotalPercentDone = [&](TArcUnZip::TSender, int) {
    if (paused) return;
    paused = true;
    run->PauseBtnClick();
    EXPECT_FALSE(run->PauseMode());
  };
  RunExpecting("    Backup successful    \r4 file/DIRs were added");
  EXPECT_EQ(captions, QStringList({"", "Continue", ""}));
  EXPECT_EQ(controls.ControlCaption(ctl::kPauseButton), "Pause");
  // Not busy: nothing happens.
  run->PauseBtnClick();
  EXPECT_FALSE(run->PauseMode());
}

TEST_F(RunFixture, AddToZipNeedsAnArchiveAndSkipsTheQuestion) {
  run->SetArchiveName("", true);
  boxes.Answer(IDOK, "Error - open a zip file first");
  run->AddButClick();
  EXPECT_FALSE(run->AddMode());
  EXPECT_EQ(display.archivePanel, "ZipFile: <none>");

  run->SetArchiveName(QString::fromStdString(out + "/noext"), true);
  EXPECT_EQ(run->ZipName(), QString::fromStdString(out + "/noext.zip"));
  EXPECT_EQ(display.archivePanel, "ZipFile: " + QString::fromStdString(out + "/noext.zip"));
  WriteFile(out + "/noext.zip", "old");
  run->AddButClick();
  EXPECT_TRUE(run->AddMode());
  EXPECT_EQ(program.states, QVector<int>({0, 3}));
  EXPECT_FALSE(run->FileExisted(QString::fromStdString(out + "/noext.zip")));  // no question
  EXPECT_FALSE(run->AddMode());
}

TEST_F(RunFixture, TemporaryFolderMenu) {
  boxes.Press("Remain");
  run->SetTempDIR1Click();
  EXPECT_TRUE(controls.ControlChecked(ctl::kTempDefaultItem));
  EXPECT_TRUE(prefs.Text("TempDIR").isEmpty());

  dialogs.folder = QString::fromStdString(dir.path());
  boxes.Press("Change");
  run->SetTempDIR1Click();
  EXPECT_TRUE(controls.ControlChecked(ctl::kTempSelectItem));
  EXPECT_EQ(prefs.Text("TempDIR"), dialogs.folder);
  EXPECT_EQ(run->TempPath(), dialogs.folder);

  run->TempDefault1Click();
  EXPECT_TRUE(prefs.Text("TempDIR").isEmpty());
  EXPECT_EQ(run->TempPath(), QDir::tempPath());

  run->CheckSpace1Click();
  EXPECT_TRUE(prefs.Bool("CheckTempSpace"));
  run->CheckSpace1Click();
  EXPECT_FALSE(prefs.Bool("CheckTempSpace"));
}

TEST_F(RunFixture, SelfExtractorReplacesAnOldExeOnlyWhenComplete) {
  const std::string exe = out + "/prog.EXE";
  WriteFile(exe, "old exe");
  WriteFile(dir / "ArcSFX32.bin", "stub");
  run->sfxStub = dir / "ArcSFX32.bin";
  run->SetArchiveName(QString::fromStdString(exe), true);
  std::string stubSeen;
  run->makeSelfExtractor = [&](const std::string& stub, const std::string& name) -> int {
    stubSeen = stub;
    // The old file stays under its name; the engine replaces it once the new one is complete.
    EXPECT_EQ(testutil::ReadFile(name), "old exe");
    EXPECT_TRUE(zip.ReplaceArchive);
    throw EArcZipException("Disk full");
  };
  boxes.Press("Replace");
  RunExpecting("Disk full \r0 file/DIRs were added");
  EXPECT_EQ(stubSeen, dir / "ArcSFX32.bin");
  EXPECT_EQ(testutil::ReadFile(exe), "old exe");

  run->makeSelfExtractor = [&](const std::string&, const std::string& name) {
    WriteFile(name, "new exe");
    return 4;
  };
  lists.functionsList.SetChecked(opt::kFnUnattended, true);
  RunExpecting("    Backup successful    \r4 file/DIRs were added");
  EXPECT_EQ(testutil::ReadFile(exe), "new exe");
  EXPECT_EQ(QDir(QString::fromStdString(out)).entryList(QDir::Files | QDir::Hidden),
            QStringList({"prog.EXE"}));
  EXPECT_FALSE(run->ExeMode());

  // A stub that is nowhere fails the run with every place it was looked for, and the old file
  // stays: the stub given, or the resource folders when none was given (unless a system-wide
  // installation holds one, which the lookup rightly finds).
  run->makeSelfExtractor = nullptr;
  run->sfxStub = dir / "missing.bin";
  run->SetArchiveName(QString::fromStdString(exe), true);
  RunExpecting(QString::fromStdString("stub not found: " + (dir / "missing.bin")) +
               " \r0 file/DIRs were added");
  if (ResourcePath("ArcSFX32.bin").empty()) {
    run->sfxStub.clear();
    run->SetArchiveName(QString::fromStdString(exe), true);
    std::string tried;
    for (const std::string& c : ResourceCandidates("ArcSFX32.bin"))
      tried += (tried.empty() ? "" : ", ") + c;
    EXPECT_NE(tried.find("/share/arcavo/ArcSFX32.bin"), std::string::npos);
    RunExpecting(QString::fromStdString("stub not found: " + tried) + " \r0 file/DIRs were added");
  }
  EXPECT_EQ(testutil::ReadFile(exe), "new exe");
}
