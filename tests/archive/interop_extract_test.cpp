// Trees archived by peer tools come back identical (contents, modes, times to the DOS 2-second
// resolution); encrypted peer archives open with the right password; a hostile archive written
// by Python cannot reach outside the sandbox.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "archive/arczip.h"
#include "archive/zipexceptions.h"
#include "testutil.h"

using testutil::Quote;
using testutil::TempDir;

namespace {

testutil::CommandResult Sh(const std::string& cmd) {
  return testutil::Run(cmd);
}

void MakeTree(const std::string& root) {
  auto r = Sh("set -e; cd " + Quote(root) +
              "; mkdir -p src/sub/deeper src/empty; printf 'hello\\n' > src/a.txt;"
              " : > src/sub/empty.dat; seq 1 20000 > src/sub/numbers.txt;"
              " head -c 70000 /dev/urandom > src/sub/deeper/random.bin;"
              " printf '#!/bin/sh\\n' > src/sub/run.sh; chmod 755 src/sub/run.sh;"
              " chmod 600 src/sub/numbers.txt; chmod 750 src/sub/deeper;"
              " find src -exec touch -d '2023-06-15 10:20:31' {} +");
  ASSERT_EQ(r.status, 0) << r.out;
}

struct Info {
  mode_t mode;
  time_t mtime;
};

std::map<std::string, Info> Stats(const std::string& root) {
  std::map<std::string, Info> out;
  for (auto& e : std::filesystem::recursive_directory_iterator(root)) {
    struct stat st;
    lstat(e.path().c_str(), &st);
    out[std::filesystem::relative(e.path(), root).string()] = {st.st_mode, st.st_mtime};
  }
  return out;
}

// Extracts archive below dest with the engine and compares the result with the source tree.
void ExpectRoundTrip(const std::string& archive, const std::string& source,
                     const std::string& dest) {
  TArcZip z;
  z.SetZipName(archive);
  z.SetDestDir(dest);
  z.RecreateDirs = true;
  z.DoAll = true;
  int skips = 0;
  z.OnSkippingFile = [&](TArcUnZip*, TSkipReason, const std::string&, int, bool&) { ++skips; };
  z.ReadArchive();
  EXPECT_EQ(z.Extract(), z.EntryCount()) << archive;
  EXPECT_EQ(skips, 0);
  auto d = Sh("diff -r " + Quote(source + "/src") + " " + Quote(dest + "/src"));
  EXPECT_EQ(d.status, 0) << archive << "\n" << d.out;
  auto want = Stats(source + "/src");
  auto got = Stats(dest + "/src");
  ASSERT_EQ(want.size(), got.size()) << archive;
  for (auto& [name, w] : want) {
    auto& g = got[name];
    EXPECT_EQ(w.mode & 07777, g.mode & 07777) << archive << " " << name;
    EXPECT_LE(std::llabs(static_cast<long long>(w.mtime - g.mtime)), 2) << archive << " " << name;
  }
}

}  // namespace

TEST(InteropExtract, RoundTripsOfPeerArchives) {
  for (const char* tool : {"zip", "7zz", "bsdtar", "python3"})
    if (!testutil::HaveTool(tool)) GTEST_SKIP() << tool;
  TempDir dir;
  MakeTree(dir.path());
  std::string py =
      "import zipfile,os\n"
      "with zipfile.ZipFile('py.zip','w',zipfile.ZIP_DEFLATED) as z:\n"
      "  for root,dirs,files in os.walk('src'):\n"
      "    for n in sorted(dirs)+sorted(files): z.write(os.path.join(root,n))\n";
  auto r = Sh("set -e; cd " + Quote(dir.path()) +
              "; zip -qr info.zip src; 7zz a -tzip -bd seven.zip src >/dev/null;"
              " bsdtar --format zip -cf tar.zip src; python3 -c " +
              Quote(py));
  ASSERT_EQ(r.status, 0) << r.out;
  for (std::string name : {"info", "seven", "tar", "py"})
    ExpectRoundTrip(dir / (name + ".zip"), dir.path(), dir / ("out-" + name));
}

TEST(InteropExtract, EncryptedPeerArchivesAndWrongPasswords) {
  if (!testutil::HaveTool("zip") || !testutil::HaveTool("7zz")) GTEST_SKIP();
  TempDir dir;
  MakeTree(dir.path());
  auto r = Sh("set -e; cd " + Quote(dir.path()) +
              "; zip -qr -P secret info.zip src;"
              " 7zz a -tzip -mem=ZipCrypto -psecret -bd seven.zip src >/dev/null");
  ASSERT_EQ(r.status, 0) << r.out;
  for (std::string name : {"info", "seven"}) {
    TArcZip z;
    z.SetZipName(dir / (name + ".zip"));
    z.SetDestDir(dir / ("out-" + name));
    z.RecreateDirs = true;
    z.DoAll = true;
    z.Password = "secret";
    z.ReadArchive();
    EXPECT_EQ(z.Extract(), z.EntryCount()) << name;
    EXPECT_EQ(
        Sh("diff -r " + Quote(dir / "src") + " " + Quote(dir / ("out-" + name) + "/src")).status,
        0);

    TArcZip w;
    w.SetZipName(dir / (name + ".zip"));
    w.SetDestDir(dir / ("wrong-" + name));
    w.DoAll = true;
    w.Password = "guess";
    w.OverwriteMode = TUZOverwriteMode::Always;
    std::vector<std::string> bad;
    w.OnBadPassword = [](TArcUnZip*, int, std::string&) {};
    w.OnSkippingFile = [&](TArcUnZip*, TSkipReason r, const std::string& n, int, bool&) {
      EXPECT_EQ(r, srBadPassword);
      bad.push_back(n);
    };
    w.ReadArchive();
    int encrypted = 0;
    for (int i = 0; i < w.EntryCount(); ++i) encrypted += w.EntryHeader(i).IsEncrypted();
    int extracted = w.Extract();
    EXPECT_EQ(static_cast<int>(bad.size()), encrypted) << name;
    // Only the unencrypted empty file may appear; nothing partial is left behind.
    auto left = Sh("find " + Quote(dir / ("wrong-" + name)) + " -type f");
    EXPECT_EQ(static_cast<int>(bad.size()) + extracted, w.EntryCount() - 4) << left.out;
    EXPECT_EQ(left.out.find(".arcavo-"), std::string::npos) << left.out;
    EXPECT_EQ(left.out.find("a.txt"), std::string::npos) << left.out;
  }
}

TEST(InteropExtract, HostilePythonArchiveStaysInTheSandbox) {
  TempDir dir;
  std::string py =
      "import zipfile,sys,struct\n"
      "p=sys.argv[1]\n"
      "def info(name,mode=0o100644):\n"
      "  i=zipfile.ZipInfo(name,(2020,1,1,0,0,0)); i.create_system=3;"
      " i.external_attr=mode<<16; return i\n"
      "with zipfile.ZipFile(p,'w',zipfile.ZIP_DEFLATED) as z:\n"
      "  for n in ['../evil','a/../../evil','/abs/evil','C:\\\\x\\\\evil']:\n"
      "    z.writestr(info(n),'evil')\n"
      "  z.writestr(info('link',0o120777),'/tmp')\n"
      "  z.writestr(info('link/payload'),'payload')\n"
      "  z.writestr(info('suid',0o104755),'#!/bin/sh\\n')\n"
      "  z.writestr(info('bomb'),'B'*(1<<22))\n"
      "  z.writestr(info('good.txt'),'fine')\n"
      "b=bytearray(open(p,'rb').read())\n"
      "i=b.find(b'PK\\x01\\x02'+b'\\x00'*0)\n"
      "while i>=0:\n"
      "  n=struct.unpack('<H',b[i+28:i+30])[0]\n"
      "  if b[i+46:i+46+n]==b'bomb': b[i+24:i+28]=struct.pack('<I',1000)\n"
      "  i=b.find(b'PK\\x01\\x02',i+1)\n"
      "open(p,'wb').write(b)\n";
  auto r = Sh("python3 -c " + Quote(py) + " " + Quote(dir / "hostile.zip"));
  ASSERT_EQ(r.status, 0) << r.out;
  std::string sandbox = dir / "sandbox";
  std::string dest = sandbox + "/out";
  TArcZip z;
  z.SetZipName(dir / "hostile.zip");
  z.SetDestDir(dest);
  z.RecreateDirs = true;
  z.DoAll = true;
  std::map<std::string, TSkipReason> skipped;
  z.OnSkippingFile = [&](TArcUnZip*, TSkipReason r, const std::string& n, int, bool&) {
    skipped[n] = r;
  };
  z.ReadArchive();
  z.Extract();
  auto all = Sh("cd " + Quote(dir.path()) + " && find . | sort");
  auto outside =
      Sh("cd " + Quote(dir.path()) + " && find . -path ./sandbox/out -prune -o -print | sort");
  EXPECT_EQ(outside.out, ".\n./hostile.zip\n./sandbox\n") << all.out;
  EXPECT_EQ(Sh("find " + Quote(dir.path()) + " -type l").out, "");
  EXPECT_EQ(Sh("find " + Quote(dir.path()) + " -perm /6000").out, "");
  EXPECT_EQ(testutil::ReadFile(dest + "/abs/evil"), "evil");
  EXPECT_EQ(testutil::ReadFile(dest + "/link/payload"), "payload");
  EXPECT_EQ(testutil::ReadFile(dest + "/good.txt"), "fine");
  EXPECT_FALSE(testutil::Exists(dest + "/bomb"));
  std::map<std::string, TSkipReason> expected{{"../evil", srCreateError},
                                              {"a/../../evil", srCreateError},
                                              {"link", srCreateError},
                                              {"bomb", srCreateError}};
  EXPECT_EQ(skipped, expected);
}

TEST(InteropExtract, ArczipTestAndExtract) {
  if (!testutil::HaveTool("zip")) GTEST_SKIP();
  std::string arczip = ARCZIP_PATH;
  TempDir dir;
  MakeTree(dir.path());
  ASSERT_EQ(
      Sh("cd " + Quote(dir.path()) + " && zip -qr t.zip src && zip -qr -P pw e.zip src").status, 0);
  auto t = Sh(arczip + " t " + Quote(dir / "t.zip"));
  EXPECT_EQ(t.status, 0) << t.out;
  EXPECT_NE(t.out.find("9 entries tested, 0 bad"), std::string::npos) << t.out;
  EXPECT_NE(Sh(arczip + " t " + Quote(dir / "e.zip") + " -p wrong").status, 0);
  EXPECT_EQ(Sh(arczip + " t " + Quote(dir / "e.zip") + " -p pw").status, 0);

  auto x = Sh(arczip + " x " + Quote(dir / "e.zip") + " -d " + Quote(dir / "out") + " -p pw");
  EXPECT_EQ(x.status, 0) << x.out;
  EXPECT_EQ(Sh("diff -r " + Quote(dir / "src") + " " + Quote(dir / "out/src")).status, 0);
  // Existing files: -n keeps them (and reports), -o replaces them.
  testutil::WriteFile(dir / "out/src/a.txt", "changed");
  x = Sh(arczip + " x " + Quote(dir / "t.zip") + " -d " + Quote(dir / "out") + " -n");
  EXPECT_NE(x.status, 0);
  EXPECT_NE(x.out.find("skipped (NoOverwrite): src/a.txt"), std::string::npos) << x.out;
  EXPECT_EQ(testutil::ReadFile(dir / "out/src/a.txt"), "changed");
  x = Sh(arczip + " x " + Quote(dir / "t.zip") + " -d " + Quote(dir / "out") + " -o");
  EXPECT_EQ(x.status, 0) << x.out;
  EXPECT_EQ(testutil::ReadFile(dir / "out/src/a.txt"), "hello\n");

  // A damaged entry makes the test fail.
  std::string bytes = testutil::ReadFile(dir / "t.zip");
  size_t at = bytes.find("hello\n");
  ASSERT_NE(at, std::string::npos);
  bytes[at] = 'j';
  testutil::WriteFile(dir / "bad.zip", bytes);
  t = Sh(arczip + " t " + Quote(dir / "bad.zip"));
  EXPECT_NE(t.status, 0);
  EXPECT_NE(t.out.find("BAD src/a.txt"), std::string::npos) << t.out;
}
