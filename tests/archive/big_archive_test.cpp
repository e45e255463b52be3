// Archives beyond 4 GiB and with 65535 entries, made by Python's zipfile. The big one is a
// sparse file: only a few kilobytes are really written.
#include <gtest/gtest.h>

#include <string>

#include "archive/arczip.h"
#include "listing.h"
#include "testutil.h"

using testutil::Quote;
using Sh = testutil::CommandResult;
using testutil::TempDir;

TEST(BigArchive, SparseArchiveAbove4GiBListsWithZip64Offsets) {
  TempDir dir;
  std::string big = dir / "big.zip";
  ASSERT_EQ(testutil::Run("truncate -s 4600M " + Quote(big)).status, 0);
  std::string py =
      "import zipfile,sys\n"
      "with zipfile.ZipFile(sys.argv[1],'a') as z:\n"
      "  z.writestr('after/one.txt','one'*100)\n"
      "  z.writestr('after/two.txt','two')\n"
      "  z.writestr('after/','')\n";
  auto r = testutil::Run("python3 -c " + Quote(py) + " " + Quote(big));
  ASSERT_EQ(r.status, 0) << r.out;
  TArcZip z;
  z.SetZipName(big);
  z.ReadArchive();
  ASSERT_EQ(z.EntryCount(), 3);
  EXPECT_EQ(EngineListing(z), ZipInfoListing(big));
  EXPECT_EQ(z.EntryHeader(0).LocalHeaderOffset(), 4600ull * 1024 * 1024);
  EXPECT_TRUE(z.EntryHeader(0).HasRelOffLocalHdr64);
  EXPECT_TRUE(z.EndCentral().HasZip64);
  EXPECT_TRUE(z.NeedsZip64());
}

TEST(BigArchive, NeedsZip64FromPythonEntryCounts) {
  TempDir dir;
  std::string py =
      "import zipfile,sys\n"
      "for n in (65534,65535):\n"
      "  with zipfile.ZipFile(sys.argv[1]+'/n%d.zip'%n,'w') as z:\n"
      "    for i in range(n): z.writestr('f%d'%i,'')\n";
  auto r = testutil::Run("python3 -c " + Quote(py) + " " + Quote(dir.path()));
  ASSERT_EQ(r.status, 0) << r.out;
  for (int n : {65534, 65535}) {
    TArcZip z;
    z.SetZipName(dir / ("n" + std::to_string(n) + ".zip"));
    z.ReadArchive();
    EXPECT_EQ(z.EntryCount(), n);
    EXPECT_EQ(z.NeedsZip64(), n == 65535);
  }
}
