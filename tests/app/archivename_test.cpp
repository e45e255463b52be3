#include "app/archivename.h"

#include <gtest/gtest.h>

#include "app/optionscontroller.h"

namespace {
const QDateTime kNow(QDate(2003, 1, 3), QTime(15, 35, 20));
const QLocale kEnglish(QLocale::English, QLocale::UnitedStates);
}  // namespace

TEST(ArchiveName, StampFormats) {
  EXPECT_EQ(DateTimeStamp(0, kNow, kEnglish), "-2003-Jan-03");
  EXPECT_EQ(DateTimeStamp(1, kNow, kEnglish), "-2003-01-03");
  EXPECT_EQ(DateTimeStamp(2, kNow, kEnglish), "-2003-Jan-03_1535");
  EXPECT_EQ(DateTimeStamp(3, kNow, kEnglish), "-2003-01-03_1535");
}

// One rule for every stamp: the month of the program's locale, without the dots some languages
// abbreviate with (a dot would start the name's extension).
TEST(ArchiveName, EveryStampTakesTheMonthOfTheProgramsLocale) {
  struct Row {
    QLocale locale;
    QDate date;
    const char* stamp;  // format 2
  };
  const Row rows[] = {
      {kEnglish, QDate(2003, 1, 3), "-2003-Jan-03_1535"},
      {QLocale(QLocale::German, QLocale::Germany), QDate(2003, 3, 3), "-2003-März-03_1535"},
      {QLocale(QLocale::German, QLocale::Germany), QDate(2003, 1, 3), "-2003-Jan-03_1535"},
      {QLocale(QLocale::French, QLocale::France), QDate(2003, 2, 3), "-2003-févr-03_1535"},
  };
  const QLocale before;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.locale.name().toStdString());
    QLocale::setDefault(r.locale);
    const QDateTime when(r.date, kNow.time());
    EXPECT_EQ(DateTimeStamp(2, when), QString::fromUtf8(r.stamp));
    // The option rule that re-stamps a named archive, and the naming of a job's archive.
    EXPECT_EQ(TOptionsController::DateTimeStamp(2, when), QString::fromUtf8(r.stamp));
    EXPECT_EQ(EXTNdatetime(1, "/b/docs.zip", 2, when) + ".zip",
              "/b/docs" + QString::fromUtf8(r.stamp) + ".zip");
    EXPECT_EQ(FileExtension(EXTNdatetime(1, "/b/docs", 0, when)), "");
  }
  QLocale::setDefault(before);
}

TEST(ArchiveName, StampReplacedOrStrippedInsideTheFileNameOnly) {
  EXPECT_EQ(EXTNdatetime(1, "/b/docs.zip", 2, kNow, kEnglish), "/b/docs-2003-Jan-03_1535");
  EXPECT_EQ(EXTNdatetime(1, "/b/docs-2002-Dec-30_0910.zip", 2, kNow, kEnglish),
            "/b/docs-2003-Jan-03_1535");
  EXPECT_EQ(EXTNdatetime(0, "/b/docs-2002-Dec-30_0910.zip", 2, kNow, kEnglish), "/b/docs");
  EXPECT_EQ(EXTNdatetime(0, "/b/docs.zip", 2, kNow, kEnglish), "/b/docs");
  EXPECT_EQ(EXTNdatetime(0, "/b/docs", 2, kNow, kEnglish), "/b/docs");
  // A folder holding "-20" or a dot stays as it is.
  EXPECT_EQ(EXTNdatetime(0, "/data-2005/docs.zip", 0, kNow, kEnglish), "/data-2005/docs");
  EXPECT_EQ(EXTNdatetime(1, "/backup-2024/x.v1/docs", 1, kNow, kEnglish),
            "/backup-2024/x.v1/docs-2003-01-03");
  EXPECT_EQ(FileExtension("/a.b/c"), "");
  EXPECT_EQ(FileExtension("/a/c.Zip"), ".Zip");
}
