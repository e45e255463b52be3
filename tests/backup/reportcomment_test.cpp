// The report as file, as RTF and as the archive's comment, checked with tools nobody here
// wrote (unzip, Python's zipfile, unrtf).
#include <gtest/gtest.h>

#include <QFile>

#include "app/archivename.h"
#include "backup/commentstore.h"
#include "backup/rtfwriter.h"
#include "report_fixture.h"

using testutil::HaveTool;
using testutil::Quote;
using testutil::ReadFile;
using testutil::WriteFile;

namespace {

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

// The comment as Python's zipfile reads it, hex-encoded.
std::string PyComment(const std::string& archive) {
  const auto r = testutil::Run(
      "python3 -c 'import sys,zipfile; "
      "z=zipfile.ZipFile(sys.argv[1]); print(z.comment.hex()); "
      "assert z.testzip() is None' " +
      Quote(archive));
  EXPECT_EQ(r.status, 0) << r.out;
  return QByteArray::fromHex(QByteArray::fromStdString(r.out).trimmed()).toStdString();
}

// A one-file archive written by the engine and read back.
struct CommentFixture : ReportFixture {
  std::string archive = dir / "docs.zip";
  CommentFixture() {
    WriteFile(dir / "a.txt", "hello");
    TArcZip writer;
    writer.SetZipName(archive);
    writer.FilesList.push_back(dir / "a.txt");
    EXPECT_EQ(writer.ZipFiles(), 1);
    zip.SetZipName(archive);
    zip.ReadArchive();
  }
};

}  // namespace

TEST(ReportBoxText, LinesSplitAsTheBoxAddsAndLoadsThem) {
  EXPECT_EQ(SplitBoxLines("A\r\nB\r", true), (QStringList{"A", "B", ""}));
  EXPECT_EQ(SplitBoxLines("A\nB\rC\r\n", false), (QStringList{"A", "B", "C"}));
  EXPECT_EQ(SplitBoxLines("", true), QStringList{""});
  EXPECT_TRUE(SplitBoxLines("", false).isEmpty());
  EXPECT_EQ(LinesToComment({"a b", ""}), "a b\r\n\r\n");
  // Bytes that are not UTF-8 come back unchanged through Latin-1.
  EXPECT_EQ(CommentText("caf\xe9").toLatin1().toStdString(), "caf\xe9");
}

TEST(ReportComment, LoadSaveLoadKeepsBlanksAndLineBreaks) {
  CommentFixture t;
  const std::string original = "first  line, with \"quotes\"\r\n\r\n   indented\tend  \r\n";
  SaveArchiveComment(t.zip, original);
  ASSERT_EQ(PyComment(t.archive), original);
  t.report.BeginRun();  // the comment is read at the start of a run
  t.report.Zipcomment1Click(true);
  const QStringList loaded{"first  line, with \"quotes\"", "", "   indented\tend  "};
  EXPECT_EQ(t.box.Lines(), loaded);
  EXPECT_FALSE(t.box.readOnly);
  EXPECT_TRUE(t.box.wantReturns);
  EXPECT_EQ(t.box.hint, "Enter your ZIPfile comment\r\r  then click SaveComment");
  EXPECT_TRUE(t.host.alarm.value(rctl::kSaveCommentButton));
  EXPECT_EQ(t.host.reportPageShown, 1);

  t.report.SaveCommentClick();
  EXPECT_EQ(PyComment(t.archive), original);
  EXPECT_TRUE(t.box.readOnly);
  EXPECT_EQ(t.box.hint, "Details of recent backup");
  EXPECT_FALSE(t.host.alarm.value(rctl::kSaveCommentButton));
  t.box.Clear();
  t.report.Zipcomment1Click(false);
  EXPECT_EQ(t.box.Lines(), loaded);

  // An edited comment is stored as edited.
  t.box.SetLines({"new  comment", "  second"});
  t.report.SaveCommentClick();
  EXPECT_EQ(PyComment(t.archive), "new  comment\r\n  second\r\n");
  EXPECT_TRUE(t.mb.transcript().isEmpty());

  // With its directory damaged the archive is rewritten for the comment only when the user says
  // so: No keeps it byte for byte and the comment in the box; Yes stores it, whole again.
  ASSERT_TRUE(testutil::DamageCentralSignature(t.archive));
  const std::string damaged = ReadFile(t.archive);
  t.box.SetLines({"third"});
  t.mb.Answer(IDNO);
  t.report.SaveCommentClick();
  ASSERT_EQ(t.mb.transcript().size(), 1);
  EXPECT_TRUE(t.mb.transcript().back().text.startsWith("The central directory of " + Q(t.archive)));
  EXPECT_TRUE(ReadFile(t.archive) == damaged);
  t.mb.Answer(IDYES);
  t.report.SaveCommentClick();
  EXPECT_EQ(PyComment(t.archive), "third\r\n");
}

TEST(ReportComment, ZipCommentItemNeedsAComment) {
  CommentFixture t;
  t.mb.Answer(IDOK, QStringLiteral("No Zip comment in this zip file"));
  t.report.Zipcomment1Click(true);
  EXPECT_EQ(t.host.reportPageShown, 0);
}

TEST(ReportComment, ReportToZipAppendsTheReportForUnzipAndPython) {
  CommentFixture t;
  SaveArchiveComment(t.zip, "old comment\r\n");
  t.report.BeginRun();
  t.box.SetLines({"Beginning Add to " + Q(t.archive), "Files&DIRs successfully Archived: 1",
                  "Time taken: 00:01"});
  t.report.ReportToZIP1Click();
  const std::string report = "Beginning Add to " + t.archive +
                             "\r\nFiles&DIRs successfully Archived: 1\r\nTime taken: 00:01\r\n";
  EXPECT_EQ(PyComment(t.archive), "old comment\r\n" + report);
  EXPECT_TRUE(t.report.CommentText.isEmpty());
  if (HaveTool("unzip")) {
    const auto r = testutil::Run("unzip -z " + Quote(t.archive));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Files&DIRs successfully Archived: 1"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("old comment"), std::string::npos) << r.out;
  }
  // A second time the comment read before is gone: only the box's text.
  t.report.ReportToZIP1Click();
  EXPECT_EQ(PyComment(t.archive), report);
  // "Clear Comments" leaves an archive without comment.
  t.report.ClearComments1Click();
  EXPECT_EQ(PyComment(t.archive), "");
  EXPECT_TRUE(t.box.Lines().isEmpty());
}

TEST(ReportComment, SpannedAndSplitArchivesAreRefusedUntouched) {
  CommentFixture t;
  const std::string before = ReadFile(t.archive);
  t.box.SetLines({"report"});
  for (TMultiMode m : {TMultiMode::mmBlocks, TMultiMode::mmSpan}) {
    t.zip.MultiZipInfo.MultiMode = m;
    t.mb.Answer(IDOK, QStringLiteral("Spanned Archive cannot be commented"));
    t.report.ReportToZIP1Click();
    t.mb.Answer(IDOK, QStringLiteral("Commenting Spanned not permitted"));
    t.report.SaveCommentClick();
    t.report.ClearComments1Click();
  }
  EXPECT_EQ(t.mb.transcript()[1].icon, MB_ICONEXCLAMATION);
  EXPECT_EQ(ReadFile(t.archive), before);
  // No archive named: said, and nothing written.
  t.zip.MultiZipInfo.MultiMode = TMultiMode::mmNone;
  t.zip.SetZipName("");
  t.mb.Answer(IDOK, QStringLiteral("Open or name a ZIP file first"));
  t.report.ReportToZIP1Click();
  t.mb.Answer(IDOK, QStringLiteral("Open or name a ZIP file first"));
  t.report.SaveCommentClick();
  EXPECT_EQ(t.mb.transcript().size(), 6);
  EXPECT_EQ(ReadFile(t.archive), before);
}

TEST(ReportComment, SplitArchiveMadeByZipIsRefused) {
  if (!HaveTool("zip")) GTEST_SKIP() << "zip not installed";
  CommentFixture t;
  const std::string split = t.dir / "split.zip";
  const auto r = testutil::Run("cd " + Quote(t.dir.path()) +
                               " && head -c 300000 /dev/urandom > rnd && zip -q -s 64k " +
                               Quote(split) + " rnd");
  ASSERT_EQ(r.status, 0) << r.out;
  const std::string before = ReadFile(split);
  t.zip.SetZipName(split);
  try {
    t.zip.ReadArchive();
  } catch (const std::exception&) {
  }
  ASSERT_EQ(t.zip.MultiZipInfo.MultiMode, TMultiMode::mmBlocks);
  t.box.SetLines({"report"});
  t.mb.Answer(IDOK, QStringLiteral("Spanned Archive cannot be commented"));
  t.report.ReportToZIP1Click();
  EXPECT_EQ(ReadFile(split), before);
}

TEST(ReportComment, CommentBeyond65535BytesIsCutOrRefusedNeverBroken) {
  CommentFixture t;
  // Exactly the limit is stored.
  t.box.SetLines({QString(65533, 'x')});  // + CR LF = 65,535 bytes
  t.report.SaveCommentClick();
  EXPECT_EQ(PyComment(t.archive).size(), 65535u);
  const std::string before = ReadFile(t.archive);

  // Longer: the question; Cancel keeps the archive and the box in editing.
  t.report.Zipcomment1Click(false);
  t.box.SetLines({QString(65534, 'y') + QString::fromUtf8("\xc3\xa9")});  // 65,538 bytes
  t.mb.Press("Cancel",
             "The comment is 65,538 bytes long; a zip archive holds at most 65,535.\rCUT stores "
             "its first 65,535 bytes, CANCEL leaves the archive unchanged.");
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  t.report.SaveCommentClick();
  EXPECT_TRUE(ReadFile(t.archive) == before);
  EXPECT_FALSE(t.box.readOnly);
  // Cut: never inside the two bytes of "é".
  t.mb.Press("Cut");
  t.report.SaveCommentClick();
  QLocale::setDefault(QLocale::system());
  EXPECT_TRUE(PyComment(t.archive) == std::string(65534, 'y'));
  EXPECT_EQ(CutComment("ab\xc3\xa9", 3), "ab");
  EXPECT_EQ(CutComment("ab\xc3\xa9", 4), "ab\xc3\xa9");
}

TEST(ReportFile, WrittenForUnattendedOrFullReportRunsUnderProgramDir) {
  ReportFixture t;
  const QString zipName = Q(t.dir / "docs-2003-Jan-03.zip");
  t.StartRun(zipName);
  bool stop = false;
  t.report.ArcZip1StartZipInfo(1, 10, stop);
  t.report.ArcZip1ZipComplete(1);
  // Neither automatic, unattended nor full report: no file.
  EXPECT_EQ(t.report.WriteReportFile(zipName, ""), "");
  t.lists.functionsList.SetChecked(opt::kFnUnattended, true);
  // A counting-only run writes none.
  t.seams.sizeCalc = true;
  EXPECT_EQ(t.report.WriteReportFile(zipName, ""), "");
  t.seams.sizeCalc = false;
  t.prefs.Set("DateTimeFormat", 2);
  const QString expected = Q(ProgramDir()) + "docs" + DateTimeStamp(2, t.clock.Now()) + ".txt";
  ASSERT_EQ(t.report.WriteReportFile(zipName, ""), expected);
  EXPECT_TRUE(t.box.plainText);
  const QString text =
      QString::fromUtf8(QByteArray::fromStdString(ReadFile(expected.toStdString())));
  EXPECT_TRUE(text.startsWith("Beginning Add to " + zipName + "\n")) << text.toStdString();
  EXPECT_TRUE(text.contains("\nFiles&DIRs successfully Archived: 1\n"));
  EXPECT_TRUE(text.contains("\nTime taken: 00:00\n"));
  // The automatic run's job alone is enough; an empty box writes nothing.
  t.lists.functionsList.SetChecked(opt::kFnUnattended, false);
  EXPECT_EQ(t.report.WriteReportFile(zipName, "/jobs/a.job"), expected);
  t.box.Clear();
  QFile::remove(expected);
  t.prefs.Set("FullReport", true);
  EXPECT_EQ(t.report.WriteReportFile(zipName, ""), "");
  EXPECT_FALSE(QFile::exists(expected));
  t.report.FinishReport();
  EXPECT_EQ(t.box.Lines(), QStringList{"No files missed"});
}

TEST(ReportRtf, SavedReportOpensInAnRtfReader) {
  CommentFixture t;
  t.box.SetLines(
      {"Beginning Add to /b/{x}\\y.zip", "Grüße aus Köln — 日本", "", "Time taken: 02:05"});
  const QString rtf = Q(t.dir / "docs.rtf");
  t.mb.Answer(IDOK, "Report/Comment saved as " + rtf);
  t.report.SaveReport1Click();
  EXPECT_FALSE(t.box.wordWrap);
  const std::string doc = ReadFile(rtf.toStdString());
  EXPECT_EQ(doc.rfind("{\\rtf1", 0), 0u);
  EXPECT_NE(doc.find("\\{x\\}\\\\y.zip"), std::string::npos);
  if (!HaveTool("unrtf")) GTEST_SKIP() << "unrtf not installed";
  const auto r = testutil::Run("unrtf --text " + Quote(rtf.toStdString()) + " 2>&1");
  ASSERT_EQ(r.status, 0) << r.out;
  const QString out = QString::fromUtf8(QByteArray::fromStdString(r.out));
  EXPECT_TRUE(out.contains("Beginning Add to /b/{x}\\y.zip")) << r.out;
  EXPECT_TRUE(out.contains("Time taken: 02:05")) << r.out;
  EXPECT_TRUE(out.contains("Gr")) << r.out;

  // A folder that does not exist: "Report Save Error", the box unchanged.
  t.zip.SetZipName(t.dir / "missing/x.zip");
  t.mb.Answer(IDOK, QStringLiteral("Report Save Error"));
  t.report.SaveReport1Click();
  EXPECT_EQ(t.box.Lines().size(), 4);
}

TEST(ReportRtf, EscapesControlWordsAndUnicode) {
  EXPECT_EQ(RtfEscape("a{b}\\c\td"), "a\\{b\\}\\\\c\\tab d");
  EXPECT_EQ(RtfEscape(QString::fromUtf8("é€")), "\\u233?\\u8364?");
  EXPECT_EQ(RtfEscape(QString::fromUtf8("\xf0\x9f\x98\x80")), "\\u-10179?\\u-8704?");
}

TEST(ReportMenu, WordWrapAndFullReportToggle) {
  ReportFixture t;
  t.report.WordWrap1Click();
  EXPECT_FALSE(t.box.wordWrap);
  EXPECT_FALSE(t.controls.ControlChecked(rctl::kWordWrapItem));
  t.report.WordWrap1Click();
  EXPECT_TRUE(t.box.wordWrap);
  EXPECT_TRUE(t.controls.ControlChecked(rctl::kWordWrapItem));
  t.report.FullReport1Click();
  EXPECT_TRUE(t.report.FullBackupReport());
  EXPECT_TRUE(t.controls.ControlChecked(ctl::kFullReportItem));
  EXPECT_NE(ReadFile(ProgramDir() + "default.ini").find("FullReport=1"), std::string::npos);
}
