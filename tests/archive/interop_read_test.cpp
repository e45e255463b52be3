// Archives made by peer tools read entry by entry like zipinfo reads them; hostile and damaged
// headers through arczip.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "archive/arczip.h"
#include "archive/zipexceptions.h"
#include "listing.h"
#include "testutil.h"
#include "zipbuilder.h"

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

namespace {

// Writes v little-endian over the bytes of b at at.
template <typename T>
void Patch(std::string& b, size_t at, T v) {
  for (size_t i = 0; i < sizeof v; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
}

// The 98 bytes of a Zip64 end record, its locator and an end record, for an archive without
// entries whose last volume is disk and whose directory starts on dirDisk.
std::string Zip64EndOnDisk(uint32_t disk, uint32_t dirDisk) {
  std::string b(98, '\0');
  Patch<uint32_t>(b, 0, 0x06064b50);
  Patch<uint64_t>(b, 4, 44);
  Patch<uint16_t>(b, 12, 45);
  Patch<uint16_t>(b, 14, 45);
  Patch<uint32_t>(b, 16, disk);  // this disk
  Patch<uint32_t>(b, 20, dirDisk);
  Patch<uint32_t>(b, 56, 0x07064b50);
  Patch<uint32_t>(b, 60, disk);
  Patch<uint64_t>(b, 64, 0);
  Patch<uint32_t>(b, 72, disk + 1);
  Patch<uint32_t>(b, 76, 0x06054b50);
  for (size_t at : {80u, 82u, 84u, 86u}) Patch<uint16_t>(b, at, 0xFFFF);
  Patch<uint32_t>(b, 88, 0xFFFFFFFF);
  Patch<uint32_t>(b, 92, 0xFFFFFFFF);
  return b;
}

}  // namespace

// Hostile and damaged headers through every command that reads them: a clear message and exit
// status 2 where nothing can be read, a named damage and status 1 where the entries there were
// read; updates refuse a damaged directory unless forced; each run quick and small.
TEST(InteropRead, HostileHeadersAreRefusedOrNamedQuicklyInBoundedMemory) {
  TempDir dir;
  ZipBuilder fourteen;
  for (int i = 0; i < 14; ++i)
    fourteen.Add("f" + std::to_string(i) + ".txt", std::string(50 + i, 'a' + i), i % 2 ? 8 : 0);
  const std::string good = fourteen.Build();
  const size_t eocd = good.rfind("PK\x05\x06");
  const size_t firstCentral = good.find("PK\x01\x02");
  const size_t lastCentral = good.rfind("PK\x01\x02");
  ZipBuilder big;
  big.Add("x.txt", "data");
  big.zip64End = true;
  const std::string z64 = big.Build();
  const size_t z64rec = z64.rfind("PK\x06\x06");

  struct TCase {
    const char* name;
    std::string bytes;
    int status;             // of l, t and x; a refuses with 2 either way
    const char* message;    // on every command
    int entriesAfterForce;  // -1: a --force fails too
  };
  std::vector<TCase> cases;
  cases.push_back(
      {"disk-ffffffff", Zip64EndOnDisk(0xFFFFFFFF, 0xFFFFFFFF), 2, "disk 4294967295", -1});
  cases.push_back(
      {"disk-fffffff0", Zip64EndOnDisk(0xFFFFFFF0, 0xFFFFFFF0), 2, "disk 4294967280", -1});
  // A disk number the volume code accepts, the directory on the part before it, which is missing.
  cases.push_back({"directory-missing", Zip64EndOnDisk(8000000, 7999999), 2,
                   ".z8000000 of the split set is missing", -1});
  std::string b = good;
  Patch<uint16_t>(b, eocd + 8, 3);
  Patch<uint16_t>(b, eocd + 10, 3);
  cases.push_back({"count-3-of-14", b, 1, "counts 3 entries, the central directory holds 14", 15});
  b = good;
  Patch<uint32_t>(b, eocd + 12, 0x7FFFFFFF);
  cases.push_back({"size-past-end", b, 1, "stated size (2147483647 bytes) runs past", 15});
  b = good;
  Patch<uint32_t>(b, eocd + 16, 0x7F000000);
  cases.push_back({"offset-past-end", b, 1, "rebuilt from the local headers", 15});
  b = good;
  Patch<uint16_t>(b, lastCentral + 28, 0xFFFF);
  cases.push_back({"name-past-end", b, 1, "central record 14", 15});
  b = good;
  b[firstCentral + 3] = 9;
  cases.push_back({"central-signature", b, 1, "central record 1 (at offset", 15});
  b = z64;
  Patch<uint64_t>(b, z64rec + 24, uint64_t{1} << 63);
  Patch<uint64_t>(b, z64rec + 32, uint64_t{1} << 63);
  cases.push_back({"count-2-63", b, 1, "counts 9223372036854775808 entries", 2});

  testutil::WriteFile(dir / "new.txt", "new");
  const std::string arczip = ARCZIP_PATH;
  const std::string timing = dir / "time.txt";
  // Runs one command under /usr/bin/time: its result, and its seconds and peak kilobytes.
  auto run = [&](const std::string& args, double& seconds, long& kilobytes) {
    auto r = testutil::Run("cd " + Quote(dir.path()) + " && /usr/bin/time -o " + Quote(timing) +
                           " -f '%e %M' " + arczip + " " + args);
    std::istringstream in(testutil::ReadFile(timing));
    in >> seconds >> kilobytes;
    return r;
  };
  for (const auto& c : cases) {
    const std::string file = std::string(c.name) + ".zip";
    testutil::WriteFile(dir / file, c.bytes);
    for (const std::string cmd : {"l", "t", "x", "a"}) {
      const std::string args = cmd == "x"   ? "x " + file + " -d out-" + c.name
                               : cmd == "a" ? "a " + file + " new.txt"
                                            : cmd + " " + file;
      double seconds = 0;
      long kb = 0;
      auto r = run(args, seconds, kb);
      const int status = cmd == "a" ? 2 : cmd == "l" && c.status == 1 ? 0 : c.status;
      EXPECT_EQ(r.status, status) << c.name << ": " << args << "\n" << r.out;
      EXPECT_NE(r.out.find(c.message), std::string::npos) << c.name << ": " << args << "\n"
                                                          << r.out;
      EXPECT_EQ(r.out.find("bad_alloc"), std::string::npos) << r.out;
      EXPECT_LT(seconds, 1.0) << c.name << ": " << args;
#if !defined(__SANITIZE_ADDRESS__)
      EXPECT_LT(kb, 100000) << c.name << ": " << args;
#endif
    }
    // The refused update left the archive as it was; forced, it keeps what reading found.
    EXPECT_EQ(testutil::ReadFile(dir / file), c.bytes) << c.name;
    if (c.entriesAfterForce < 0) {
      // Nothing to salvage either: the repair looks only for the parts there, whatever the disk.
      double seconds = 0;
      long kb = 0;
      auto r = run("repair " + file + " fixed-" + file, seconds, kb);
      EXPECT_EQ(r.status, 2) << c.name << "\n" << r.out;
      EXPECT_FALSE(testutil::Exists(dir / ("fixed-" + file))) << c.name;
      EXPECT_LT(seconds, 1.0) << c.name << ": repair";
#if !defined(__SANITIZE_ADDRESS__)
      EXPECT_LT(kb, 100000) << c.name << ": repair";
#endif
      continue;
    }
    auto r = testutil::Run("cd " + Quote(dir.path()) + " && " + arczip + " a " + file +
                           " new.txt --force && " + arczip + " l " + file);
    EXPECT_EQ(r.status, 0) << c.name << "\n" << r.out;
    EXPECT_NE(r.out.find(" " + std::to_string(c.entriesAfterForce) + " entries\n"),
              std::string::npos)
        << c.name << "\n"
        << r.out;
  }
}
