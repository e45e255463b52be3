// Progress, skipped files and completion: the report lines of runs driven through the engine's
// events, the open-file question, the filters of the start of a file and the status bars.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <QFile>

#include "app/sourcelists.h"
#include "report_fixture.h"

using testutil::WriteFile;

namespace {

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

void SetMtime(const std::string& path, const QDateTime& t) {
  struct utimbuf times;
  times.actime = times.modtime = static_cast<time_t>(t.toSecsSinceEpoch());
  ASSERT_EQ(::utime(path.c_str(), &times), 0);
}

// Three files written by the engine with the handlers attached, as a backup run does.
struct ThreeFileRun : ReportFixture {
  QString name = Q(dir / "out.zip");
  QStringList files;
  ThreeFileRun() {
    for (const char* f : {"a.txt", "b.txt", "c.txt"}) {
      WriteFile(dir / f, std::string(1000, 'x'));
      files << Q(dir / f);
    }
    report.AttachRunEvents(zip);
  }
  int Run() {
    zip.SetZipName(name.toStdString());
    for (const QString& f : files) zip.FilesList.push_back(f.toStdString());
    StartRun(name);
    return zip.ZipFiles();
  }
};

}  // namespace

TEST(RunReport, ThreeFilesWithoutFullReportGiveTheShortReport) {
  ThreeFileRun t;
  ASSERT_EQ(t.Run(), 3);
  const QString when = ReportDateTime(t.clock.Now());
  EXPECT_EQ(t.box.Lines(), (QStringList{
                               "Beginning Add to " + t.name,
                               "Unfiltered files & DIRs to Archive: 3",
                               "Archive started @ " + when,
                               "",
                               "Filtered Files&DIRs to Archive: 3",
                               "Files&DIRs successfully Archived: 3",
                               "Archive ended @ " + when,
                               "Time taken: 00:00",
                           }));
  EXPECT_EQ(t.host.position, 100);
  EXPECT_EQ(t.host.trayHint, "Arcavo V100");
  EXPECT_TRUE(t.host.disc);
  EXPECT_EQ(t.Caption(rctl::kCountPanel), "3 DIR&files");
  EXPECT_EQ(t.Caption(rctl::kActiveFilePanel), t.files.last());
  EXPECT_TRUE(t.mb.transcript().isEmpty());
}

TEST(RunReport, FullReportListsFilesAndSummarisesAnUnreadableFile) {
  ThreeFileRun t;
  t.prefs.Set("FullReport", true);
  // The third file cannot be opened: the engine's skip event, answered "Skip".
  const QString locked = t.files.last();
  auto start = t.zip.OnStartZip;
  t.zip.OnStartZip = [&](TArcUnZip::TSender s, const std::string& f, TZipHeaderInfo& h,
                         bool& skip) {
    if (Q(f) != locked) return start(s, f, h, skip);
    bool retry = false;
    t.report.ArcZip1SkippingFile(srFileOpenError, f, -1, retry);
    EXPECT_FALSE(retry);
    skip = true;
  };
  // The engine's own reason-7 report for the skip is not part of this scenario.
  auto skipping = t.zip.OnSkippingFile;
  t.zip.OnSkippingFile = [&](TArcUnZip::TSender s, TSkipReason r, const std::string& f, int i,
                             bool& retry) {
    if (r != srSkippedInStartZip) skipping(s, r, f, i, retry);
  };
  t.mb.Press("Skip", "File " + locked +
                         " is open.  Close it and press REPEAT to backup \r"
                         "or SKIP it and continue backing up other files. Or, BYPASS all open "
                         "files");
  ASSERT_EQ(t.Run(), 2);
  const QString when = ReportDateTime(t.clock.Now());
  EXPECT_EQ(t.box.Lines(), (QStringList{
                               "Beginning Add to " + t.name,
                               "Unfiltered files & DIRs to Archive: 3",
                               "Archive started @ " + when,
                               "",
                               t.files[0],
                               t.files[1],
                               locked + ". Skipped because FileOpenError",
                               "Backup Error Summary follows:",
                               locked + ". Reason: FileOpenError",
                               "",
                               "Missing files count: 1",
                               "Backup Error Summary ends",
                               "Filtered Files&DIRs to Archive: 2",
                               "Files&DIRs successfully Archived: 2",
                               "Archive ended @ " + when,
                               "Time taken: 00:00",
                           }));
  ASSERT_EQ(t.mb.transcript().size(), 1);
  EXPECT_EQ(t.mb.transcript()[0].buttons, (QStringList{"Repeat", "Skip", "Bypass"}));
  EXPECT_EQ(t.mb.transcript()[0].defaultButton, 2);
  EXPECT_EQ(t.mb.transcript()[0].caption, "Arcavo");
}

TEST(RunReport, OpenFileQuestionRepeatsThreeTimesThenSkipsAndBypassEndsIt) {
  ReportFixture t;
  t.report.BeginRun();
  bool retry = false;
  for (int i = 0; i < 3; ++i) {
    t.mb.Press("Repeat");
    retry = false;
    t.report.ArcZip1SkippingFile(srFileOpenError, "/data/open.doc", -1, retry);
    EXPECT_TRUE(retry);
    EXPECT_TRUE(t.box.Lines().isEmpty());
  }
  // The fourth failure is skipped without a question.
  retry = false;
  t.report.ArcZip1SkippingFile(srFileOpenError, "/data/open.doc", -1, retry);
  EXPECT_FALSE(retry);
  EXPECT_EQ(t.mb.transcript().size(), 3);
  EXPECT_EQ(t.box.Lines(), QStringList{"/data/open.doc. Skipped because FileOpenError"});
  // Bypass: no more questions in this run.
  t.mb.Press("Bypass");
  t.report.ArcZip1SkippingFile(srFileOpenError, "/data/b.doc", -1, retry);
  t.report.ArcZip1SkippingFile(srFileOpenError, "/data/c.doc", -1, retry);
  EXPECT_EQ(t.mb.transcript().size(), 4);
  EXPECT_EQ(t.box.Lines().size(), 3);
  // The next run asks again.
  t.report.BeginRun();
  t.mb.Press("Skip");
  t.report.ArcZip1SkippingFile(srFileOpenError, "/data/d.doc", -1, retry);
  EXPECT_EQ(t.mb.transcript().size(), 5);
}

TEST(RunReport, FilesLeftOutAreReportedCountedAndSummedUpWithoutAQuestion) {
  ReportFixture t;
  t.host.trayShown = true;
  t.StartRun("/b/x.zip");
  // Files in use, unattended or without prompting: skipped silently but for their line.
  t.lists.functionsList.SetChecked(opt::kFnUnattended, true);
  bool retry = false;
  t.report.ArcZip1SkippingFile(srFileOpenError, "/data/open.doc", -1, retry);
  t.lists.functionsList.SetChecked(opt::kFnUnattended, false);
  t.seams.autoRun = true;  // a job without the user
  t.report.ArcZip1SkippingFile(srFileOpenError, "/data/job.doc", -1, retry);
  t.seams.autoRun = false;
  t.prefs.Set("PromptSkipOpenFiles", false);
  t.report.ArcZip1SkippingFile(srFileOpenError, "/data/two.doc", -1, retry);
  EXPECT_FALSE(retry);
  // A folder that cannot be read: its line, no retry, no question.
  t.prefs.Set("PromptSkipOpenFiles", true);
  retry = true;
  t.report.ArcZip1SkippingFile(srFileOpenError, "/data/locked/", -1, retry);
  EXPECT_FALSE(retry);
  // A missing source (a folder once per INCLUDE pattern) and a file gone during the run.
  t.report.ArcZip1NoSuchFile("/data/gone/*.txt");
  t.report.ArcZip1NoSuchFile("/data/gone/*.doc");
  t.report.ArcZip1NoSuchFile("/data/vanished.txt");
  EXPECT_TRUE(t.mb.transcript().isEmpty());
  EXPECT_EQ(t.report.LeftOutCount, 6);
  // Without "FullBackupReport" they are summed up too.
  t.report.ArcZip1ZipComplete(2);
  const QStringList lines = t.box.Lines();
  const QStringList expected = {"Beginning Add to /b/x.zip",
                                "/data/open.doc. Skipped because FileOpenError",
                                "/data/job.doc. Skipped because FileOpenError",
                                "/data/two.doc. Skipped because FileOpenError",
                                "/data/locked/. Skipped because FileOpenError",
                                "/data/gone/. Skipped because NoSuchFile",
                                "/data/vanished.txt. Skipped because NoSuchFile",
                                "Backup Error Summary follows:",
                                "/data/open.doc. Reason: FileOpenError",
                                "/data/job.doc. Reason: FileOpenError",
                                "/data/two.doc. Reason: FileOpenError",
                                "/data/locked/. Reason: FileOpenError",
                                "/data/gone/. Reason: NoSuchFile",
                                "/data/vanished.txt. Reason: NoSuchFile",
                                "",
                                "Missing files count: 6",
                                "Backup Error Summary ends"};
  EXPECT_EQ(lines.mid(0, expected.size()), expected);
  // The next run starts counting again.
  t.StartRun("/b/x.zip");
  EXPECT_EQ(t.report.LeftOutCount, 0);
  EXPECT_TRUE(t.report.SkippedList.isEmpty());
}

TEST(RunReport, CountedReasonsWriteNoLineAndLeaveOutTheFilteredLine) {
  ReportFixture t;
  t.StartRun("/b/x.zip");
  bool stop = false;
  t.report.ArcZip1StartZipInfo(3, 3000, stop);
  bool retry = false;
  t.report.ArcZip1SkippingFile(srExcludeList, "/d/a.tmp", -1, retry);
  t.report.ArcZip1SkippingFile(srArchiveBitNotSet, "/d/b", -1, retry);
  t.report.ArcZip1SkippingFile(srNoOverwrite, "/d/c/", -1, retry);  // a folder entry
  t.report.ArcZip1SkippingFile(srCreateError, "/d/e", -1, retry);
  t.report.ArcZip1ZipComplete(0);
  const QStringList lines = t.box.Lines();
  const QStringList tail = lines.mid(5);
  EXPECT_EQ(lines[4], "/d/e. Skipped because CreateError");
  EXPECT_EQ(tail.mid(0, 4),
            (QStringList{"Files Skipped 'BitNotSet': 1", "Files Skipped 'Excluded': 1",
                         "Files Skipped 'NoOverwrite': 1", "Files&DIRs successfully Archived: 0"}));
  EXPECT_EQ(t.report.ExcludedCount, 0);
  EXPECT_EQ(t.report.BitNotSetCount, 0);
  EXPECT_EQ(t.report.NoOverwriteCount, 1);
  // Without FullBackupReport nothing is collected for a summary.
  EXPECT_TRUE(t.report.SkippedList.isEmpty());

  // A file whose stored name another selected file took first is not in the archive: it is
  // named and left out.
  t.StartRun("/b/x.zip");
  t.report.ArcZip1StartZipInfo(2, 2000, stop);
  t.report.ArcZip1SkippingFile(srNoOverwrite, "/e/c", -1, retry);
  EXPECT_EQ(t.report.LeftOutCount, 1);
  EXPECT_EQ(t.report.SkippedList, QStringList{"/e/c. Reason: NoOverwrite"});
  EXPECT_TRUE(t.box.Lines().contains("/e/c. Skipped because NoOverwrite"));
}

TEST(RunReport, DateFilterAllAfterSkipsAFileOneMinuteEarly) {
  ThreeFileRun t;
  const QDateTime picker(QDate(2006, 5, 4), QTime(20, 0));
  SetMtime(t.files[0].toStdString(), picker.addSecs(-60));  // 19:59
  SetMtime(t.files[1].toStdString(), picker);               // 20:00
  SetMtime(t.files[2].toStdString(), picker.addDays(1));
  t.controls.SetControlChecked(rctl::kDateFilterAfter, true);
  t.host.picker = picker;
  ASSERT_EQ(t.Run(), 2);
  const QStringList lines = t.box.Lines();
  EXPECT_EQ(lines[4], t.files[0] + ". Skipped because SkippedInStartZip");
  EXPECT_EQ(lines[5], "Filtered Files&DIRs to Archive: 2");
  // "All before" the same moment keeps only the early and the equal one.
  TZipHeaderInfo h;
  bool skip = false;
  t.controls.SetControlChecked(rctl::kDateFilterAfter, false);
  t.controls.SetControlChecked(rctl::kDateFilterBefore, true);
  h.ModifDateTime = 0x34A4A000;  // 2006-05-04 20:00:00
  t.report.ArcZip1StartZip("/x", h, skip);
  EXPECT_FALSE(skip);
  h.ModifDateTime = 0x34A4A020;  // 20:01
  t.report.ArcZip1StartZip("/x", h, skip);
  EXPECT_TRUE(skip);
}

TEST(RunReport, StartOfFileShortensLongNamesAndAppliesReportFilters) {
  ReportFixture t;
  t.prefs.Set("FullReport", true);
  TZipHeaderInfo h;
  h.FileName = "f";
  bool skip = false;
  const QString n73 = "/" + QString(72, 'a');
  const QString n74 = "/" + QString(72, 'b') + "c";
  t.report.ArcZip1StartZip("/short", h, skip);
  t.report.ArcZip1StartZip(n73.toStdString(), h, skip);
  t.report.ArcZip1StartZip(n74.toStdString(), h, skip);
  EXPECT_EQ(t.box.Lines(), (QStringList{"/short", n73, n74.right(71)}));
  EXPECT_EQ(t.Caption(rctl::kActiveFilePanel), n74.right(71));
  // Versioning: an old version's name is not listed; presets skip mail folders but go on.
  t.box.Clear();
  t.lists.functionsList.SetChecked(opt::kFnVersioning, true);
  t.report.ArcZip1StartZip("/d/report.#~1", h, skip);
  t.seams.preset = 3;
  t.report.ArcZip1StartZip("/home/u/Mail/inbox", h, skip);
  EXPECT_TRUE(skip);
  EXPECT_EQ(t.box.Lines(), QStringList{"/home/u/Mail/inbox"});
  skip = false;
  t.report.ArcZip1StartZip("/home/u/Cache/x", h, skip);
  EXPECT_FALSE(skip);
  // No line per file while entries are deleted.
  t.seams.deleting = true;
  t.report.ArcZip1StartZip("/d/y", h, skip);
  EXPECT_EQ(t.box.Lines().size(), 2);
}

TEST(RunReport, CountingOnlyStopAndSpaceWarning) {
  ReportFixture t;
  bool stop = false;
  t.seams.sizeCalc = true;
  t.report.ArcZip1StartZipInfo(12, 1500000000, stop);
  EXPECT_TRUE(stop);
  EXPECT_EQ(t.seams.countedFiles, 12);
  EXPECT_EQ(t.seams.countedMb, 1500);
  EXPECT_EQ(t.Caption(rctl::kTotalSizePanel), "Total size: 1500 Mb");
  EXPECT_TRUE(t.box.Lines().isEmpty());
  // Nothing left to write stops as well.
  t.seams.sizeCalc = false;
  stop = false;
  t.report.ArcZip1StartZipInfo(0, 0, stop);
  EXPECT_TRUE(stop);

  // 10 GB against 3,000,000 thousand bytes free: the warning; Cancel stops the engine.
  t.report.DiskSpaceKb = [](const QString&) { return 3000000u; };
  t.mb.Press("Cancel",
             "Possible insufficient drive space allocation\r'Span Disks' is unchecked..Recommend "
             "CANCEL\r&& check 'Span Disks' or CONTINUE (with risk!!)");
  stop = false;
  t.report.ArcZip1StartZipInfo(5, 10000000000, stop);
  EXPECT_TRUE(stop);
  // Continue goes on and shows the size of the data (10 GB), not the 40 % guess.
  t.mb.Press("Continue");
  stop = false;
  t.report.ArcZip1StartZipInfo(5, 10000000000, stop);
  EXPECT_FALSE(stop);
  EXPECT_EQ(t.Caption(rctl::kTotalSizePanel), "Total size: 10000 Mb");
  // 2000 or less free, or Span Disks: no warning.
  t.report.DiskSpaceKb = [](const QString&) { return 2000u; };
  t.report.ArcZip1StartZipInfo(5, 10000000000, stop);
  t.report.DiskSpaceKb = [](const QString&) { return 3000000u; };
  t.lists.directoryList.SetChecked(opt::kDirSpan, true);
  t.report.ArcZip1StartZipInfo(5, 10000000000, stop);
  EXPECT_FALSE(stop);
  EXPECT_EQ(t.mb.transcript().size(), 2);
}

TEST(RunReport, StagedPartBurnFailureEndsWithoutSummary) {
  ReportFixture t;
  const std::string part = t.dir / "docs-2006-May-04.zip";
  WriteFile(part, "part");
  WriteFile(t.dir / "docs.zfc", "zfc");
  t.zip.SetZipName(part);
  t.seams.staging = true;
  t.seams.burnOk = false;
  t.report.ArcZip1ZipComplete(3);
  EXPECT_EQ(t.seams.burnt, QStringList{Q(part)});
  EXPECT_TRUE(t.box.Lines().isEmpty());
  EXPECT_FALSE(testutil::Exists(part));
  EXPECT_FALSE(testutil::Exists(t.dir / "docs.zfc"));
  t.seams.burnOk = true;
  t.report.ArcZip1ZipComplete(3);
  EXPECT_EQ(t.box.Lines().last(), "Time taken: 00:00");
}

TEST(RunReport, BadPasswordAsksOnceAndCancelDetaches) {
  ReportFixture t;
  t.report.AttachRunEvents(t.zip);
  std::string np;
  t.seams.password = "secret";
  t.zip.OnBadPassword(&t.zip, 0, np);
  EXPECT_EQ(np, "secret");
  t.zip.Password = "secret";
  np = "secret";
  t.zip.OnBadPassword(&t.zip, 1, np);
  EXPECT_EQ(t.seams.passwordAsked, 1);
  t.zip.Password.clear();
  t.seams.password.reset();
  t.zip.OnBadPassword(&t.zip, 2, np);
  EXPECT_FALSE(t.zip.OnBadPassword);
}

TEST(RunReport, IncompleteArchiveChoices) {
  ReportFixture t;
  TIncompleteZipMode mode = TIncompleteZipMode::izAssumeMulti;
  t.seams.searching = true;
  t.report.ArcZip1InCompleteZip(&t.zip, mode);
  EXPECT_EQ(mode, TIncompleteZipMode::izAssumeBad);
  t.seams.searching = false;

  const QString text =
      "Incomplete zip file.  It may be a multi-part zip\r\nIf so, insert the LAST_DISK of the "
      "disk set\r\nIf it could be a corrupted file, press ATTEMPT\r\n            Otherwise, "
      "press CANCEL";
  t.zip.SetZipName(t.dir / "set.z01");
  t.mb.Press("Last_Disk", text);
  t.report.ArcZip1InCompleteZip(&t.zip, mode);  // the open dialog is cancelled
  EXPECT_EQ(mode, TIncompleteZipMode::izAssumeNotAZip);
  ASSERT_EQ(t.seams.openDialogs.size(), 1);
  EXPECT_EQ(t.seams.openDialogs[0],
            Q(t.dir.path()) + "|Open Existing ZIP File|" + rptmsg::kOpenLastFilter);
  t.seams.lastPart = Q(t.dir / "set.zip");
  t.mb.Press("Last_Disk");
  t.report.ArcZip1InCompleteZip(&t.zip, mode);
  EXPECT_EQ(mode, TIncompleteZipMode::izAssumeMulti);
  EXPECT_EQ(t.zip.ZipName(), t.dir / "set.zip");
  EXPECT_TRUE(t.host.moving);
  t.mb.Press("Attempt");
  t.report.ArcZip1InCompleteZip(&t.zip, mode);
  EXPECT_EQ(mode, TIncompleteZipMode::izAssumeBad);
  t.mb.Press("Cancel");
  t.report.ArcZip1InCompleteZip(&t.zip, mode);
  EXPECT_EQ(mode, TIncompleteZipMode::izAssumeNotAZip);
  EXPECT_FALSE(t.host.moving);
  EXPECT_EQ(t.host.position, 0);
  // A job without the user is never asked: not an archive.
  t.seams.autoRun = true;
  mode = TIncompleteZipMode::izAssumeMulti;
  t.report.ArcZip1InCompleteZip(&t.zip, mode);
  EXPECT_EQ(mode, TIncompleteZipMode::izAssumeNotAZip);
  EXPECT_EQ(t.mb.transcript().size(), 4);
}

TEST(RunReport, StatusBarsTrayAndSummaries) {
  ReportFixture t;
  t.report.StartClock();
  t.clock.Advance(125000);
  t.report.ArcZip1TotalPercentDone(42);
  EXPECT_EQ(t.Caption(rctl::kProcessTimePanel), "02:05");
  EXPECT_EQ(t.host.trayHint, "Arcavo V100 42% done");
  EXPECT_EQ(t.host.position, 42);
  EXPECT_EQ(ElapsedText(125 * 60000 + 40000), "125:40");
  EXPECT_EQ(ElapsedText(3 * 60000 + 7999), "03:07");

  t.report.GaugeTickler();
  EXPECT_TRUE(t.host.moving);
  t.report.ClearStatusBar();
  EXPECT_FALSE(t.host.moving);
  EXPECT_EQ(t.host.position, 0);
  EXPECT_EQ(t.Caption(rctl::kCountPanel), "DIR&files count");
  EXPECT_EQ(t.Caption(rctl::kTotalSizePanel), "Total size (Mb)");
  EXPECT_EQ(t.Caption(rctl::kProcessTimePanel), "Process Time");
  EXPECT_EQ(t.Caption(rctl::kZipFilePanel), "ZipFile: <none>");
  EXPECT_EQ(t.Caption(rctl::kActiveFilePanel), "ActiveFile: <none>");

  // The tray icon only when shown.
  t.report.TrayIconState(2);
  EXPECT_FALSE(t.host.trayAnimating);
  t.host.trayShown = true;
  t.report.TrayIconState(2);
  EXPECT_TRUE(t.host.trayAnimating);
  t.report.TrayIconState(1);
  EXPECT_FALSE(t.host.trayAnimating);
  EXPECT_EQ(t.host.trayIcon, 1);

  // A tab flashes on, off, ... on, then off: 7 waits of 300 ms.
  const int64_t waited = t.clock.waited();
  t.report.pagetabflash(true, 1);
  EXPECT_EQ(t.host.tabs,
            (QStringList{"1/1/1", "1/1/0", "1/1/1", "1/1/0", "1/1/1", "1/1/0", "1/1/1", "1/1/0"}));
  EXPECT_EQ(t.clock.waited() - waited, 2100);

  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  t.report.ShowZipspecs(7, 1234567890);
  EXPECT_EQ(t.Caption(rctl::kCountPanel), "7 DIR&files");
  EXPECT_EQ(t.Caption(rctl::kTotalSizePanel), "Total size: 1,235 Mb");
  EXPECT_EQ(t.Caption(rctl::kActiveFilePanel), "");
  t.report.ShowZipspecs(1, 5000000);
  EXPECT_EQ(t.Caption(rctl::kTotalSizePanel), "Total size:   5 Mb");
  QLocale::setDefault(QLocale::system());
  bool stop = false;
  t.report.ArcZip1StartUnZipInfo(4, 2048000, stop);
  EXPECT_EQ(t.Caption(rctl::kTotalSizePanel), "Total size: 2 Mb");
  EXPECT_FALSE(stop);
}

TEST(DiskSpace, KbRoundsAndSaturatesInsteadOfWrapping) {
  EXPECT_EQ(KbFromBytes(1499), 1u);
  EXPECT_EQ(KbFromBytes(1500), 2u);
  EXPECT_EQ(KbFromBytes(4294967294499ull), 4294967294u);
  // 5 TB and the largest value: no wrap-around to a small number.
  EXPECT_EQ(KbFromBytes(5000000000000000ull), 0xFFFFFFFFu);
  EXPECT_EQ(KbFromBytes(UINT64_MAX), 0xFFFFFFFFu);
  testutil::TempDir dir;
  EXPECT_GT(FreeSpaceKb(Q(dir / "not/yet/here.zip")), 0u);
  EXPECT_EQ(FreeSpaceKb(""), 0u);
}
