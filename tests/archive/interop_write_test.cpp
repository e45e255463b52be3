// Archives written by the engine (through arczip a, or in-process) read by tools nobody here
// wrote: unzip, 7zz, Python's zipfile and bsdtar.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/arczip.h"
#include "archive/zipaes.h"
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

// At the levels of both deflate engines, with a file of several chunks (joined streams at 9).
TEST(InteropWrite, TreeRoundTripsThroughEveryPeer) {
  if (!HavePeers()) GTEST_SKIP() << "peer tools missing";
  TempDir t;
  MakeTree(t.path());
  ASSERT_EQ(testutil::Run("seq 1 1500000 > " + Quote(t / "src/sub/long.txt")).status, 0);
  for (const char* level : {"1", "5", "9"}) {
    SCOPED_TRACE(std::string("level ") + level);
    auto r = testutil::Run("cd " + Quote(t.path()) + " && rm -f out.zip && " +
                           Arczip(std::string("a out.zip src -r -") + level + " -n '*.bin'"));
    ASSERT_EQ(r.status, 0) << r.out;
    ExpectPeersAccept(t / "out.zip");
    // Every peer extracts the same tree.
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
  }
  // ... and lists the same names.
  auto unzipNames = testutil::Run("unzip -Z1 " + Quote(t / "out.zip"));
  auto tarNames = testutil::Run("bsdtar -tf " + Quote(t / "out.zip"));
  auto pyNames = testutil::Run(
      "python3 -c 'import sys,zipfile; "
      "print(\"\\n\".join(zipfile.ZipFile(sys.argv[1]).namelist()))' " +
      Quote(t / "out.zip"));
  EXPECT_EQ(unzipNames.out, tarNames.out);
  EXPECT_EQ(unzipNames.out, pyNames.out);
  auto r = testutil::Run("cd " + Quote(t.path()) + " && LC_ALL=C.UTF-8 unzip -l out.zip");
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

// AES entries of every key strength, stored and deflated, as AE-1 (100 KB) and AE-2 (a few
// bytes): written here and read by 7zz and bsdtar; 7zz's AES archives read back here.
TEST(InteropWrite, AesEntriesOfEveryStrengthAndMethodReadBothWays) {
  if (!HavePeers()) GTEST_SKIP() << "peer tools missing";
  TempDir t;
  MakeTree(t.path());
  const std::string tiny = "tiny\n";
  ASSERT_EQ(testutil::Run("mkdir " + Quote(t / "two")).status, 0);
  WriteFile(t / "two/big.txt", testutil::ReadFile(t / "src/numbers.txt").substr(0, 100000));
  WriteFile(t / "two/tiny.txt", tiny);
  const struct {
    TZipEncryption encryption;
    const char* peerName;  // as 7zz names the method
    const char* sevenZip;  // 7zz -mem=
  } strengths[] = {{TZipEncryption::zeAES128, "AES-128", "AES128"},
                   {TZipEncryption::zeAES192, "AES-192", "AES192"},
                   {TZipEncryption::zeAES256, "AES-256", "AES256"}};
  for (const auto& s : strengths) {
    for (int level : {0, 6}) {
      SCOPED_TRACE(std::string(s.peerName) + " level " + std::to_string(level));
      const std::string name = t / "ours.zip";
      ::unlink(name.c_str());
      TArcZip z;
      z.SetZipName(name);
      z.Password = "pass word";
      z.Encryption = s.encryption;
      z.PackLevel = level;
      z.FilesList = {t / "two/big.txt", t / "two/tiny.txt"};
      ASSERT_EQ(z.ZipFiles(), 2);
      for (int i = 0; i < 2; ++i) {
        const TZipHeaderInfo& h = z.EntryHeader(i);
        TAesField f;
        ASSERT_EQ(CheckAesEntry(h, f), "");
        const bool small = h.FileName == "tiny.txt";
        EXPECT_EQ(f.Version, small ? 2 : 1);
        EXPECT_EQ(h.CRC32 == 0, small);
        EXPECT_EQ(f.Method, level == 0 ? 0 : 8);
        EXPECT_EQ(f.Strength, AesStrengthOf(s.encryption));
      }
      auto r = testutil::Run("7zz t '-ppass word' " + Quote(name));
      EXPECT_EQ(r.status, 0) << r.out;
      r = testutil::Run("7zz l -slt " + Quote(name));
      EXPECT_NE(r.out.find(std::string("Method = ") + s.peerName), std::string::npos) << r.out;
      r = testutil::Run("cd " + Quote(t.path()) +
                        " && rm -rf b && mkdir b && bsdtar -x --passphrase 'pass word' -C b -f "
                        "ours.zip && diff -r two b");
      EXPECT_EQ(r.status, 0) << r.out;

      // The peer's archive of the tree, read back here.
      r = testutil::Run("cd " + Quote(t.path()) + " && rm -rf peer.zip out && 7zz a -tzip -mx=" +
                        std::to_string(level == 0 ? 0 : 5) + " -mem=" + s.sevenZip +
                        " '-ppass word' peer.zip src >/dev/null && " +
                        Arczip("x peer.zip -d out -p 'pass word'") + " && diff -r src out/src");
      EXPECT_EQ(r.status, 0) << r.out;
      r = testutil::Run(Arczip("l " + Quote(t / "peer.zip")));
      EXPECT_NE(r.out.find(std::string(" ") + s.peerName + " "), std::string::npos) << r.out;
    }
  }

  // The archive arczip writes with a password alone: AES-256 that both peers read whole.
  auto r = testutil::Run("cd " + Quote(t.path()) + " && " + Arczip("a out.zip src -r -p pw"));
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(testutil::Run("7zz t -ppw " + Quote(t / "out.zip")).status, 0);
  r = testutil::Run("7zz l -slt " + Quote(t / "out.zip"));
  EXPECT_NE(r.out.find("Method = AES-256 Deflate"), std::string::npos) << r.out;
  r = testutil::Run(
      "cd " + Quote(t.path()) +
      " && mkdir x && bsdtar -x --passphrase pw -C x -f out.zip && diff -r src x/src");
  EXPECT_EQ(r.status, 0) << r.out;
}

// What must never be restored: an entry under a wrong password, one whose encrypted data or
// authentication code changed, one whose AES header is damaged. Each is reported, the run ends
// with status 1, and no file of it is left.
TEST(InteropWrite, WrongPasswordTamperingAndDamagedAesHeadersLeaveNoFile) {
  if (!HavePeers()) GTEST_SKIP() << "peer tools missing";
  TempDir t;
  MakeTree(t.path());
  auto r =
      testutil::Run("cd " + Quote(t.path()) + " && " + Arczip("a good.zip src/numbers.txt -p pw"));
  ASSERT_EQ(r.status, 0) << r.out;
  const std::string good = testutil::ReadFile(t / "good.zip");
  // The entry's AES field in both headers, its data after the salt and verifier, its code last.
  const std::string field("\x01\x99\x07\x00", 4);
  const size_t local = good.find(field);
  const size_t central = good.find(field, local + 1);
  ASSERT_NE(central, std::string::npos);
  const size_t data = local + 11 + 16 + 2;
  const size_t code = good.find("PK\x01\x02") - 1;
  auto patched = [&](const std::function<void(std::string&)>& change) {
    std::string b = good;
    change(b);
    return b;
  };
  auto bothFields = [&](size_t offset, char value) {
    return patched([=](std::string& b) { b[local + offset] = b[central + offset] = value; });
  };
  auto sizes = [&](uint32_t compressed) {
    return patched([&](std::string& b) {
      std::string v;
      PutU32(v, compressed);
      b.replace(18, 4, v);
      b.replace(good.find("PK\x01\x02") + 20, 4, v);
    });
  };
  const struct {
    const char* what;
    std::string bytes;
    const char* password;
    const char* said;  // on standard error by x, or by t
  } rows[] = {
      {"wrong password", good, "nope", "skipped (Bad Password)"},
      {"changed data", patched([&](std::string& b) { b[data + 500] ^= 0x20; }), "pw",
       "AES authentication code does not match"},
      {"changed code", patched([&](std::string& b) { b[code] ^= 1; }), "pw",
       "AES authentication code does not match"},
      {"key strength 0", bothFields(8, 0), "pw", "AES key strength 0"},
      {"key strength 4", bothFields(8, 4), "pw", "AES key strength 4"},
      {"field of 6 bytes", bothFields(2, 6), "pw", "AES extra field of 6 bytes"},
      {"method 99 without the field", bothFields(1, '\x98'), "pw", "no AES extra field"},
      {"salt cut off", sizes(10), "pw", "too short for its AES salt"},
      {"code cut off", sizes(16 + 2 + 4), "pw", "too short for its AES salt"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    WriteFile(t / "case.zip", row.bytes);
    const std::string pw = std::string(" -p ") + row.password;
    r = testutil::Run("cd " + Quote(t.path()) + " && rm -rf out && " +
                      Arczip("x case.zip -d out" + pw) + " 2>&1");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("0 entries extracted"), std::string::npos) << r.out;
    const auto t1 = testutil::Run(Arczip("t " + Quote(t / "case.zip") + pw) + " 2>&1");
    EXPECT_EQ(t1.status, 1) << t1.out;
    EXPECT_NE((r.out + t1.out).find(row.said), std::string::npos) << r.out << t1.out;
    EXPECT_EQ(testutil::Run("find " + Quote(t / "out") + " -type f | grep -q .").status, 1)
        << testutil::Run("find " + Quote(t / "out")).out;
  }
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

// What a Linux user had comes back: written in one time zone, restored in another, through our
// own extraction and through unzip and bsdtar; and an update across zones stores the change.
TEST(InteropWrite, UnixTreeRoundTripsAcrossTimeZones) {
  if (!HavePeers() || !testutil::HaveTool("zipinfo")) GTEST_SKIP() << "peer tools missing";
  TempDir t;
  testutil::MakeUnixTree(t / "t");
  const std::string want = testutil::TreeManifest(t / "t");
  auto r = testutil::Run("cd " + Quote(t.path()) + " && TZ=UTC " + Arczip("a a.zip t -r"));
  ASSERT_EQ(r.status, 0) << r.out;

  struct Extractor {
    const char* name;
    std::string command;  // run in the folder "out" with umask 022 and TZ=Asia/Tokyo
    bool times;           // restores every time (unzip and bsdtar keep no link times)
  } extractors[] = {{"arczip", Arczip("x ../a.zip -d ."), true},
                    {"unzip", "unzip -q ../a.zip", false},
                    {"bsdtar", "bsdtar -xf ../a.zip", false}};
  for (const auto& x : extractors) {
    SCOPED_TRACE(x.name);
    r = testutil::Run("cd " + Quote(t.path()) +
                      " && rm -rf out && mkdir out && cd out && umask 022 && TZ=Asia/Tokyo " +
                      x.command);
    ASSERT_EQ(r.status, 0) << r.out;
    if (x.times) {
      EXPECT_EQ(testutil::TreeManifest(t / "out/t"), want);
    } else {
      auto links = [](const std::string& d) {
        return testutil::Run("cd " + Quote(d) + " && find . -type l -printf '%P %l\\n' | sort").out;
      };
      EXPECT_EQ(links(t / "out/t"), links(t / "t"));
      EXPECT_EQ(links(t / "t"), "dangling nowhere\nldir sticky\nlfile x755\n");
    }
  }

  r = testutil::Run("zipinfo -v " + Quote(t / "a.zip"));
  EXPECT_NE(r.out.find("0x5455"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("0x7875"), std::string::npos);

  // Written in Tokyo, updated in UTC after a change of the same size a minute later: stored.
  r = testutil::Run("cd " + Quote(t.path()) + " && TZ=Asia/Tokyo " + Arczip("a b.zip t -r") +
                    " && echo ODD > t/odd.txt && touch -d @1700000061 t/odd.txt && TZ=UTC " +
                    Arczip("a b.zip t -r -u") + " && unzip -p b.zip t/odd.txt");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "ODD\n");
}

namespace {

// A source that cannot be read whoever runs the test (root reads a mode 000 file).
class TUnreadableSource : public TArcZip {
 protected:
  int OpenSourceFile(const std::string& path) override {
    if (path.find("unreadable") != std::string::npos) {
      errno = EACCES;
      return -1;
    }
    return TArcZip::OpenSourceFile(path);
  }
};

}  // namespace

// Nothing is left out silently: a FIFO and an unreadable file are named with their reasons, the
// other files are stored; arczip ends with status 1 (some files skipped).
TEST(InteropWrite, FifoAndUnreadableFileAreToldAndCounted) {
  TempDir t;
  auto r = testutil::Run("set -e; cd " + Quote(t.path()) +
                         "; mkdir t; echo ok > t/ok.txt; mkfifo t/fifo; echo secret > "
                         "t/unreadable; chmod 000 t/unreadable");
  ASSERT_EQ(r.status, 0) << r.out;
  r = testutil::Run("cd " + Quote(t.path()) + " && " + Arczip("a a.zip t -r"));
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("skipped (a FIFO (named pipe), not a file): t/fifo"), std::string::npos)
      << r.out;
  if (::geteuid() != 0) {
    EXPECT_NE(r.out.find("skipped (cannot be read: Permission denied): t/unreadable"),
              std::string::npos)
        << r.out;
  } else {
    std::printf(
        "running as root, who reads a mode 000 file: the unreadable file is refused by "
        "the engine's source seam below\n");
  }

  TUnreadableSource z;
  z.SetZipName(t / "b.zip");
  z.StorePaths = true;
  z.Recurse = true;
  std::vector<std::string> told;
  z.OnSkippingFile = [&](TArcUnZip* s, TSkipReason reason, const std::string& name, int, bool&) {
    told.push_back(name.substr(t.path().size() + 1) + " " + std::to_string(reason) + " " +
                   s->SkipText());
  };
  z.FilesList = {t / "t/*"};
  EXPECT_EQ(z.ZipFiles(), 1);
  EXPECT_EQ(told, (std::vector<std::string>{"t/fifo 2 a FIFO (named pipe), not a file",
                                            "t/unreadable 2 cannot be read: Permission denied"}));
}
