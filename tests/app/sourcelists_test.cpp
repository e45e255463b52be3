#include "app/sourcelists.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "testutil.h"

using testutil::TempDir;
using Strings = std::vector<std::string>;

namespace {

struct Fixture {
  TempDir dir;
  std::string D = dir / "D";
  std::string E = dir / "E";
  std::string notes = dir / "notes.txt";
  std::string report = dir / "report.doc.bak";
  Fixture() {
    ::mkdir(D.c_str(), 0700);
    ::mkdir(E.c_str(), 0700);
    testutil::WriteFile(notes, "n");
    testutil::WriteFile(report, "r");
  }
};

}  // namespace

TEST(SourceLists, AllFilesGivesOneEntryPerFolderAndKeepsEveryFile) {
  Fixture f;
  TInclusionGrid g;
  g.SetCell(0, 1, "*.DOC");
  g.SetCell(0, 3, " *.* ");
  g.SetCell(1, 2, " *.TMP");
  g.SetCell(2, 5, "*.JPG");
  const EngineLists l = BuildEngineLists(g, {f.D, f.notes, f.E}, {}, false);
  EXPECT_TRUE(l.allFiles);
  EXPECT_EQ(l.files, (Strings{f.E + "/*.*", f.notes, f.D + "/*.*"}));
  EXPECT_EQ(l.exclude, Strings{"*.TMP"});
  EXPECT_EQ(l.noCompress, Strings{"*.JPG"});
  EXPECT_EQ(l.include, (QStringList{"*.DOC", "*.*"}));
}

TEST(SourceLists, PatternsPerFolderLastFirstAndTickedFilesFiltered) {
  Fixture f;
  TInclusionGrid g;
  g.SetCell(0, 1, "*.DOC");
  g.SetCell(0, 2, "*.XLS");
  const EngineLists l =
      BuildEngineLists(g, {f.D, f.notes, f.report, f.dir / "gone/x.doc"}, {f.E}, false);
  // Sources from the last to the first; notes.txt is dropped; a missing path is passed on.
  EXPECT_EQ(l.files, (Strings{f.dir / "gone/x.doc", f.report, f.D + "/*.XLS", f.D + "/*.DOC"}));
}

TEST(SourceLists, HighlightedOnlyWhenNothingTickedAndNoRestorePoint) {
  Fixture f;
  TInclusionGrid g;
  g.SetCell(0, 1, "*.*");
  EXPECT_EQ(BuildEngineLists(g, {}, {f.E}, false).files, Strings{f.E + "/*.*"});
  EXPECT_TRUE(BuildEngineLists(g, {}, {f.E}, true).files.empty());
  EXPECT_EQ(BuildEngineLists(g, {f.D + "/"}, {f.E}, false).files, Strings{f.D + "/*.*"});

  EXPECT_EQ(SelectionPrecondition(g, {}, {}), kNoFilesCheckedText);
  EXPECT_EQ(SelectionPrecondition(g, {}, {f.E}), "");
  g.Clear();
  g.SetCell(0, 2, "*.*");
  EXPECT_EQ(SelectionPrecondition(g, {f.D}, {}), kNoIncludeText) << "row 1 decides";
}

TEST(SourceLists, ParseAddFilesComparesExtensionParts) {
  const QStringList doc{"*.doc"};
  EXPECT_EQ(ParseAddFiles("/x/a.DOC", doc), "/x/a.DOC");
  EXPECT_EQ(ParseAddFiles("/x/a.docx", doc), "/x/a.docx");
  EXPECT_EQ(ParseAddFiles("/x/a.doc.bak", doc), "/x/a.doc.bak");
  EXPECT_EQ(ParseAddFiles("/x.doc/a.txt", doc), "") << "only the file name, for a plain pattern";
  EXPECT_EQ(ParseAddFiles("/x.doc/a.txt", {"/x.doc/*.txt"}), "/x.doc/a.txt");
  EXPECT_EQ(ParseAddFiles("/x/report1", {"report*"}), "") << "a pattern without a dot is skipped";
  EXPECT_EQ(ParseAddFiles("/x/a.txt", {"data.*"}), "/x/a.txt");
  EXPECT_EQ(ParseAddFiles("/x/a.txt", {}), "/x/a.txt");
}

TEST(SourceLists, ZipExcludeListForStealthRuns) {
  TInclusionGrid g;
  g.SetCell(1, 1, "*.TMP");
  g.SetCell(2, 3, " *.MP3");
  Strings exc, noc;
  EXPECT_FALSE(DoZipExcludeList(g, true, exc, noc));
  EXPECT_EQ(exc, (Strings{"*.TMP", "*.zip"}));
  EXPECT_EQ(noc, Strings{" *.MP3"}) << "cells are passed untrimmed";
  g.SetCell(1, 4, "*.zip");
  exc.clear();
  noc.clear();
  EXPECT_TRUE(DoZipExcludeList(g, true, exc, noc));
  EXPECT_EQ(exc, (Strings{"*.TMP", "*.zip"})) << "the cell itself, nothing added";
  exc.clear();
  g.Clear();
  EXPECT_FALSE(DoZipExcludeList(g, false, exc, noc));
  EXPECT_TRUE(exc.empty());
}

TEST(SourceLists, DateFilterAgainstThePickersFullValue) {
  auto dos = [](int y, int mo, int d, int h, int mi, int s) {
    return static_cast<uint32_t>(((y - 1980) << 25) | (mo << 21) | (d << 16) | (h << 11) |
                                 (mi << 5) | (s / 2));
  };
  const QDateTime picker(QDate(2006, 5, 4), QTime(20, 0));
  EXPECT_TRUE(DateFilterSkips(AllAfter, dos(2006, 5, 4, 19, 59, 0), picker));
  EXPECT_FALSE(DateFilterSkips(AllAfter, dos(2006, 5, 4, 20, 0, 0), picker)) << "at is kept";
  EXPECT_FALSE(DateFilterSkips(AllBefore, dos(2006, 5, 4, 19, 59, 0), picker));
  EXPECT_TRUE(DateFilterSkips(AllBefore, dos(2006, 5, 4, 20, 0, 2), picker));
  EXPECT_FALSE(DateFilterSkips(NoDateFilter, dos(1990, 1, 1, 0, 0, 0), picker));
  EXPECT_FALSE(DateFilterSkips(AllAfter, 0, picker)) << "an impossible DOS time is kept";
  EXPECT_EQ(DosDateTimeToQt(dos(2006, 5, 4, 19, 59, 58)),
            QDateTime(QDate(2006, 5, 4), QTime(19, 59, 58)));
}

TEST(SourceLists, SizeCalculatorTexts) {
  EXPECT_EQ(ExpectedSizeText(1000, 0), "556zMb");
  EXPECT_EQ(ExpectedSizeText(1000, 1), "714zMb");
  EXPECT_EQ(ExpectedSizeText(1000, 2), "1000zMb");
  EXPECT_EQ(BytesToMb(1'499'999), 1);
  EXPECT_EQ(BytesToMb(2'600'000), 3);
  EXPECT_EQ(SizeCountText(12), "12 DIR&files");
  EXPECT_EQ(SizeTotalText(3), "Total size: 3 Mb");
}
