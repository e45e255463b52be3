// Archives written by the engine (through arczip a, or in-process) read by tools nobody here
// wrote: unzip, 7zz, Python's zipfile and bsdtar.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "archive/arczip.h"
#include "platform/archiveattr.h"
#include "testutil.h"

using testutil::Quote;
using Sh = testutil::CommandResult;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

bool HavePeers() {
  for (const char* t : {"unzip", "7zz", "bsdtar", "python3"})
    if (!testutil::HaveTool(t)) return false;
  return true;
}

// Text, random data, empty files, empty folders, a non-ASCII name and a name with spaces.
void MakeTree(const std::string& dir) {
  auto r = testutil::Run(
      "set -e; cd " + Quote(dir) +
      "; mkdir -p src/sub/deeper src/empty 'src/with space/x';"
      " seq 1 50000 > src/numbers.txt; printf 'hi\\n' > src/sub/a.txt;"
      " : > src/sub/empty.dat; head -c 300000 /dev/urandom > src/sub/deeper/random.bin;"
      " printf 'grüß\\n' > 'src/with space/Größe – ünïcödé.txt';"
      " cp src/numbers.txt 'src/with space/copy of numbers.txt'; : > src/.hidden");
  ASSERT_EQ(r.status, 0) << r.out;
}

std::string Arczip(const std::string& args) {
  return std::string(ARCZIP_PATH) + " " + args;
}

// "name method" per entry, as Python's zipfile sees them.
std::string PyMethods(const std::string& archive) {
  auto r = testutil::Run("python3 -c " +
                         Quote("import zipfile,sys\n"
                               "for i in zipfile.ZipFile(sys.argv[1]).infolist():\n"
                               "  print(i.filename, i.compress_type)\n") +
                         " " + Quote(archive));
  EXPECT_EQ(r.status, 0) << r.out;
  return r.out;
}

void ExpectPeersAccept(const std::string& archive, const std::string& password = "") {
  std::string p = password.empty() ? "" : " -P " + Quote(password);
  auto r = testutil::Run("unzip -tq" + p + " " + Quote(archive));
  EXPECT_EQ(r.status, 0) << r.out;
  r = testutil::Run("7zz t" + (password.empty() ? std::string() : " -p" + Quote(password)) + " " +
                    Quote(archive));
  EXPECT_EQ(r.status, 0) << r.out;
  r = testutil::Run("python3 -c " +
                    Quote("import zipfile,sys\n"
                          "z=zipfile.ZipFile(sys.argv[1])\n"
                          "if len(sys.argv)>2: z.setpassword(sys.argv[2].encode())\n"
                          "bad=z.testzip()\n"
                          "sys.exit(1 if bad else 0)\n") +
                    " " + Quote(archive) + (password.empty() ? "" : " " + Quote(password)));
  EXPECT_EQ(r.status, 0) << r.out;
  r = testutil::Run("bsdtar -tf " + Quote(archive));
  EXPECT_EQ(r.status, 0) << r.out;
}

}  // namespace

TEST(InteropWrite, TreeRoundTripsThroughEveryPeer) {
  if (!HavePeers()) GTEST_SKIP() << "peer tools missing";
  TempDir t;
  MakeTree(t.path());
  auto r =
      testutil::Run("cd " + Quote(t.path()) + " && " + Arczip("a out.zip src -r -9 -n '*.bin'"));
  ASSERT_EQ(r.status, 0) << r.out;
  ExpectPeersAccept(t / "out.zip");
  // Every peer extracts the same tree, and lists the same names.
  const std::vector<std::pair<std::string, std::string>> extractors = {
      {"unzip", "unzip -q -d restored out.zip"},
      {"7zz", "7zz x -bd -orestored out.zip >/dev/null"},
      {"bsdtar", "mkdir restored && bsdtar -C restored -xf out.zip"},
      {"python",
       "python3 -c 'import zipfile; zipfile.ZipFile(\"out.zip\").extractall(\"restored\")'"},
  };
  for (const auto& [peer, command] : extractors) {
    r = testutil::Run("cd " + Quote(t.path()) + " && rm -rf restored && " + command +
                      " && diff -r src restored/src");
    EXPECT_EQ(r.status, 0) << peer << "\n" << r.out;
  }
  auto unzipNames = testutil::Run("unzip -Z1 " + Quote(t / "out.zip"));
  auto tarNames = testutil::Run("bsdtar -tf " + Quote(t / "out.zip"));
  auto pyNames = testutil::Run(
      "python3 -c 'import sys,zipfile; "
      "print(\"\\n\".join(zipfile.ZipFile(sys.argv[1]).namelist()))' " +
      Quote(t / "out.zip"));
  EXPECT_EQ(unzipNames.out, tarNames.out);
  EXPECT_EQ(unzipNames.out, pyNames.out);
  r = testutil::Run("cd " + Quote(t.path()) + " && LC_ALL=C.UTF-8 unzip -l out.zip");
  EXPECT_NE(r.out.find("src/with space/Größe – ünïcödé.txt"), std::string::npos) << r.out;
  std::string methods = PyMethods(t / "out.zip");
  EXPECT_NE(methods.find("src/sub/deeper/random.bin 0\n"), std::string::npos) << methods;
  EXPECT_NE(methods.find("src/numbers.txt 8\n"), std::string::npos) << methods;
  EXPECT_NE(methods.find("src/with space/copy of numbers.txt 8\n"), std::string::npos);
  EXPECT_NE(methods.find("src/empty/ 0\n"), std::string::npos);

  r = testutil::Run("cd " + Quote(t.path()) + " && " + Arczip("a stored.zip src -r -0"));
  ASSERT_EQ(r.status, 0) << r.out;
  ExpectPeersAccept(t / "stored.zip");
  methods = PyMethods(t / "stored.zip");
  EXPECT_EQ(methods.find(" 8\n"), std::string::npos) << methods;
  r = testutil::Run("cd " + Quote(t.path()) + " && unzip -q -d s stored.zip && diff -r src s/src");
  EXPECT_EQ(r.status, 0) << r.out;
}

TEST(InteropWrite, TraditionallyEncryptedArchivesOpenWithThePassword) {
  if (!HavePeers()) GTEST_SKIP() << "peer tools missing";
  TempDir t;
  MakeTree(t.path());
  auto r = testutil::Run("cd " + Quote(t.path()) + " && " +
                         Arczip("a enc.zip src -r -p secret --traditional"));
  ASSERT_EQ(r.status, 0) << r.out;
  ExpectPeersAccept(t / "enc.zip", "secret");
  r = testutil::Run("unzip -tq -P wrong " + Quote(t / "enc.zip"));
  EXPECT_NE(r.status, 0) << r.out;
  r = testutil::Run(
      "cd " + Quote(t.path()) +
      " && mkdir b && bsdtar --passphrase secret -C b -xf enc.zip && diff -r src b/src");
  EXPECT_EQ(r.status, 0) << r.out;
}

TEST(InteropWrite, Zip64EndRecordFromTheEntryCount) {
  if (!HavePeers()) GTEST_SKIP() << "peer tools missing";
  TempDir t;
  testutil::IsolatedXdg xdg(t.path());
  ASSERT_EQ(testutil::Run("mkdir " + Quote(t / "f")).status, 0);
  int made = 0;
  for (int n : {65534, 65535, 70000}) {
    for (; made < n; ++made) WriteFile(t / ("f/" + std::to_string(made)), "");
    TArcZip z;
    std::string name = t / ("n" + std::to_string(n) + ".zip");
    z.SetZipName(name);
    z.FilesList = {t / "f/*"};
    ASSERT_EQ(z.ZipFiles(), n);
    std::string bytes = testutil::ReadFile(name);
    bool zip64 = bytes.find(std::string("PK\x06\x06", 4)) != std::string::npos &&
                 bytes.find(std::string("PK\x06\x07", 4)) != std::string::npos;
    EXPECT_EQ(zip64, n >= 65535) << n;
    auto r = testutil::Run("unzip -l " + Quote(name) + " | tail -1");
    EXPECT_NE(r.out.find(" " + std::to_string(n) + " files"), std::string::npos) << r.out;
    r = testutil::Run("7zz t " + Quote(name));
    EXPECT_EQ(r.status, 0) << r.out.substr(0, 2000);
  }
}

namespace {

// Runs the engine over dir/* with the archive attribute options; returns the stored names.
std::vector<std::string> AttributeRun(const std::string& dir, const std::string& zipName,
                                      TArchiveAttributes* attrs, bool skipClear, bool reset) {
  ::unlink(zipName.c_str());
  TArcZip z;
  z.ArchiveAttributes = attrs;
  z.SetZipName(zipName);
  z.SkipIfArchiveBitNotSet = skipClear;
  z.ResetArchiveBitOnZip = reset;
  z.FilesList = {dir + "/*"};
  z.ZipFiles();
  std::vector<std::string> names;
  for (int i = 0; i < z.EntryCount(); ++i) names.push_back(z.EntryFullName(i));
  return names;
}

void AttributeScenario(bool refuseXattrs) {
  TempDir t;
  testutil::IsolatedXdg xdg(t.path());
  bool expectXattrs = !refuseXattrs;
  std::unique_ptr<TArchiveAttributes> refused;
  if (refuseXattrs)
    refused = std::make_unique<TArchiveAttributes>(TArchiveAttributes::TXattrUse::Refused);
  TArchiveAttributes* attrs = refused.get();
  std::string d = t / "files";
  ASSERT_EQ(testutil::Run("mkdir " + Quote(d)).status, 0);
  for (const char* n : {"a", "b", "c"}) WriteFile(d + "/" + n, n);
  std::string zipName = t / "a.zip";
  EXPECT_EQ(AttributeRun(d, zipName, attrs, false, true).size(), 3u);
  for (const char* n : {"a", "b", "c"}) {
    auto r = testutil::Run("getfattr --only-values -n user.arcavo.archived " + Quote(d + "/" + n) +
                           " 2>/dev/null");
    struct stat st;
    ::stat((d + "/" + n).c_str(), &st);
    if (expectXattrs)
      EXPECT_EQ(r.out, TFileStamp::Of(st).Text()) << n;
    else
      EXPECT_NE(r.status, 0) << r.out;
  }
  EXPECT_EQ(testutil::Exists(t / "state/arcavo/archived.state"), !expectXattrs);
  EXPECT_TRUE(AttributeRun(d, zipName, attrs, true, false).empty());
  auto r =
      testutil::Run("cd " + Quote(d) + " && echo x >> a && touch -d '+2 seconds' b && cp -a c c2");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(AttributeRun(d, zipName, attrs, true, true),
            (std::vector<std::string>{"a", "b", "c2"}));
  EXPECT_TRUE(AttributeRun(d, zipName, attrs, true, false).empty());
}

}  // namespace

TEST(InteropWrite, ArchiveAttributeInUserXattr) {
  if (!testutil::HaveTool("getfattr")) GTEST_SKIP() << "getfattr missing";
  AttributeScenario(false);
}

TEST(InteropWrite, ArchiveAttributeInStateFileWhenXattrsAreRefused) {
  if (!testutil::HaveTool("getfattr")) GTEST_SKIP() << "getfattr missing";
  AttributeScenario(true);
}
