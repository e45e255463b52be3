#include "app/archivename.h"

#include <gtest/gtest.h>

namespace {
const QDateTime kNow(QDate(2003, 1, 3), QTime(15, 35, 20));
const QLocale kEnglish(QLocale::English, QLocale::UnitedStates);
}  // namespace

TEST(ArchiveName, StampFormats) {
  EXPECT_EQ(DateTimeStamp(0, kNow, kEnglish), "-2003-Jan-03");
  EXPECT_EQ(DateTimeStamp(1, kNow, kEnglish), "-2003-01-03");
  EXPECT_EQ(DateTimeStamp(2, kNow, kEnglish), "-2003-Jan-03_1535");
  EXPECT_EQ(DateTimeStamp(3, kNow, kEnglish), "-2003-01-03_1535");
  EXPECT_EQ(DateTimeStamp(0, kNow, QLocale(QLocale::German)), "-2003-Jan.-03")
      << "the month name follows the locale";
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
