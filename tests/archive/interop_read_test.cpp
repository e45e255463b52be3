// Archives made by peer tools read entry by entry like zipinfo reads them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "archive/arczip.h"
#include "archive/zipexceptions.h"
#include "listing.h"
#include "testutil.h"

using testutil::Quote;
using Sh = testutil::CommandResult;
using testutil::TempDir;

namespace {

// A small tree: nested folders, an empty folder, an empty file, text and incompressible data.
void MakeTree(const std::string& root) {
  auto r = testutil::Run("set -e; cd " + Quote(root) +
                         "; mkdir -p src/sub/deeper src/empty; printf 'hello\\n' > src/a.txt;"
                         " : > src/sub/empty.dat; seq 1 20000 > src/sub/numbers.txt;"
                         " head -c 70000 /dev/urandom > src/sub/deeper/random.bin;"
                         " touch -d '2024-02-29 13:14:15' src/a.txt");
  ASSERT_EQ(r.status, 0) << r.out;
}

void ExpectSameAsZipInfo(const std::string& archive, int expectedEntries) {
  TArcZip z;
  z.IncompleteZipMode = TIncompleteZipMode::izAssumeNotAZip;
  z.SetZipName(archive);
  z.ReadArchive();
  auto ours = EngineListing(z);
  auto theirs = ZipInfoListing(archive);
  EXPECT_EQ(ours, theirs);
  EXPECT_EQ(static_cast<int>(ours.size()), expectedEntries);
}

}  // namespace

TEST(InteropRead, InfoZipPlainAndEncrypted) {
  if (!testutil::HaveTool("zip")) GTEST_SKIP() << "zip missing";
  TempDir dir;
  MakeTree(dir.path());
  ASSERT_EQ(testutil::Run("cd " + Quote(dir.path()) + " && zip -qr plain.zip src").status, 0);
  ASSERT_EQ(testutil::Run("cd " + Quote(dir.path()) + " && zip -qr -P secret enc.zip src").status,
            0);
  ExpectSameAsZipInfo(dir / "plain.zip", 8);
  ExpectSameAsZipInfo(dir / "enc.zip", 8);
  TArcZip z;
  z.SetZipName(dir / "enc.zip");
  z.ReadArchive();
  int encrypted = 0;
  for (int i = 0; i < z.EntryCount(); ++i) encrypted += z.EntryHeader(i).IsEncrypted();
  EXPECT_EQ(encrypted, 4);  // every file; folders are not encrypted
}

TEST(InteropRead, SevenZipAndBsdtarWithDataDescriptors) {
  if (!testutil::HaveTool("7zz") || !testutil::HaveTool("bsdtar")) GTEST_SKIP();
  TempDir dir;
  MakeTree(dir.path());
  ASSERT_EQ(
      testutil::Run("cd " + Quote(dir.path()) + " && 7zz a -tzip -bd -bb0 seven.zip src >/dev/null")
          .status,
      0);
  ASSERT_EQ(
      testutil::Run("cd " + Quote(dir.path()) + " && bsdtar --format zip -cf tar.zip src").status,
      0);
  ExpectSameAsZipInfo(dir / "seven.zip", 8);
  ExpectSameAsZipInfo(dir / "tar.zip", 8);
  TArcZip z;
  z.SetZipName(dir / "tar.zip");
  z.ReadArchive();
  bool descriptor = false;
  for (int i = 0; i < z.EntryCount(); ++i) descriptor |= (z.EntryHeader(i).Flag & 8) != 0;
  EXPECT_TRUE(descriptor);
}

TEST(InteropRead, PythonZip64EntriesAndNonAsciiNames) {
  TempDir dir;
  std::string py =
      "import zipfile,sys\n"
      "with zipfile.ZipFile(sys.argv[1],'w',zipfile.ZIP_DEFLATED) as z:\n"
      "  z.writestr('plain.txt','x'*1000)\n"
      "  z.writestr('folder/','')\n"
      "  z.writestr('Grüße/straße.txt','ü'*50)\n"
      "  with z.open('forced64.bin','w',force_zip64=True) as f: f.write(b'abc'*5000)\n"
      "  z.writestr(zipfile.ZipInfo('stored.txt',(2019,12,31,23,59,58)),'s')\n"
      "  z.comment=b'python comment'\n";
  auto r = testutil::Run("python3 -c " + Quote(py) + " " + Quote(dir / "py.zip"));
  ASSERT_EQ(r.status, 0) << r.out;
  ExpectSameAsZipInfo(dir / "py.zip", 5);
  TArcZip z;
  z.SetZipName(dir / "py.zip");
  z.ReadArchive();
  EXPECT_EQ(z.EntryFullName(2), "Grüße/straße.txt");
  EXPECT_EQ(z.EntryName(1), "");
  EXPECT_EQ(z.ArchiveComment(), "python comment");
  EXPECT_EQ(z.EntrySize(3), 15000);
}

TEST(InteropRead, ArczipListsAndReportsErrors) {
  if (!testutil::HaveTool("zip")) GTEST_SKIP();
  std::string arczip = ARCZIP_PATH;
  TempDir dir;
  MakeTree(dir.path());
  ASSERT_EQ(testutil::Run("cd " + Quote(dir.path()) +
                          " && zip -qr t.zip src && echo 'a comment' | zip -qz t.zip")
                .status,
            0);
  auto r = testutil::Run(arczip + " l " + Quote(dir / "t.zip"));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("2024-02-29 13:14:1"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("src/sub/deeper/random.bin"), std::string::npos);
  EXPECT_NE(r.out.find("Deflated"), std::string::npos);
  EXPECT_NE(r.out.find("8 entries"), std::string::npos);
  EXPECT_NE(r.out.find("Comment:\na comment"), std::string::npos);
  EXPECT_EQ(r.out.find("leading bytes"), std::string::npos);
  // Bytes put in front without adjusting the offsets are named once, before the listing; the
  // test says nothing of them.
  ASSERT_EQ(
      testutil::Run("cd " + Quote(dir.path()) + " && printf XY | cat - t.zip > pre.zip").status, 0);
  r = testutil::Run(arczip + " l " + Quote(dir / "pre.zip"));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.rfind("2 leading bytes (offsets adjusted)\n      Length", 0), 0u) << r.out;
  r = testutil::Run(arczip + " t " + Quote(dir / "pre.zip"));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.find("leading"), std::string::npos) << r.out;

  testutil::WriteFile(dir / "junk.zip", std::string(100, 'x'));
  r = testutil::Run(arczip + " l " + Quote(dir / "junk.zip"));
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(r.out, "arczip: Not a valid zip file!\n");
  r = testutil::Run(arczip + " l " + Quote(dir / "missing.zip"));
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.out.find("missing.zip"), std::string::npos);
}
