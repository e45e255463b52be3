// Trees archived by peer tools come back identical (contents, modes, times to the DOS 2-second
// resolution); encrypted peer archives open with the right password; a hostile archive written
// by Python cannot reach outside the sandbox.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "archive/arczip.h"
#include "archive/zipcrypt.h"
#include "archive/zipexceptions.h"
#include "testutil.h"
#include "zipbuilder.h"

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

// Extracts archive below out with the engine and compares out + sub with the tree root (the
// files named exclude, a shell pattern, left out of the comparison).
void ExpectRoundTrip(const std::string& archive, const std::string& root, const std::string& out,
                     const std::string& sub, const std::string& password = "",
                     const std::string& exclude = "") {
  const std::string dest = out + sub;
  TArcZip z;
  z.SetZipName(archive);
  z.SetDestDir(out);
  z.RecreateDirs = true;
  z.DoAll = true;
  z.Password = password;
  int skips = 0;
  z.OnSkippingFile = [&](TArcUnZip*, TSkipReason, const std::string&, int, bool&) { ++skips; };
  z.ReadArchive();
  z.Extract();
  EXPECT_EQ(skips, 0) << archive;
  std::string x = exclude.empty() ? "" : " -x " + Quote(exclude);
  auto d = Sh("diff -r" + x + " " + Quote(root) + " " + Quote(dest));
  EXPECT_EQ(d.status, 0) << archive << "\n" << d.out;
  auto want = Stats(root);
  auto got = Stats(dest);
  if (!exclude.empty())
    std::erase_if(want, [&](const auto& e) { return e.first.find("latin-") != std::string::npos; });
  ASSERT_EQ(want.size(), got.size()) << archive;
  for (auto& [name, w] : want) {
    auto& g = got[name];
    EXPECT_EQ(w.mode & 07777, g.mode & 07777) << archive << " " << name;
    EXPECT_LE(std::llabs(static_cast<long long>(w.mtime - g.mtime)), 2) << archive << " " << name;
  }
}

// The names as the engine lists them, one per line, and as unzip -Z1 lists them.
void ExpectNamesOfUnzip(const std::string& archive) {
  TArcZip z;
  z.SetZipName(archive);
  z.ReadArchive();
  std::string ours;
  for (int i = 0; i < z.EntryCount(); ++i) ours += z.EntryFullName(i) + "\n";
  auto theirs = Sh("unzip -Z1 " + Quote(archive));
  ASSERT_EQ(theirs.status, 0) << theirs.out;
  EXPECT_EQ(ours, theirs.out) << archive;
}

}  // namespace

// Archives of Info-ZIP zip (plain, encrypted, forced Zip64), 7-Zip, bsdtar (of a folder and of
// ".") and Python (forced Zip64) list with unzip's names and extract to identical trees, non-ASCII
// names included: UTF-8 names that Info-ZIP stores without the UTF-8 flag, and a Latin-1 name
// kept as its bytes (Python cannot store that one).
TEST(InteropExtract, PeerArchivesListAsUnzipAndExtractIdentically) {
  for (const char* tool : {"zip", "unzip", "7zz", "bsdtar", "python3"})
    if (!testutil::HaveTool(tool)) GTEST_SKIP() << tool;
  TempDir dir;
  MakeTree(dir.path());
  auto r = Sh("set -e; cd " + Quote(dir.path()) +
              "; mkdir -p 'src/Grüße/sub'; printf 'hi\\n' > 'src/Grüße/naïve café.txt';"
              " printf 'latin\\n' > \"src/latin-$(printf '\\351').txt\";"
              " find src -exec touch -d '2023-06-15 10:20:31' {} +");
  ASSERT_EQ(r.status, 0) << r.out;
  std::string py =
      "import zipfile,os\n"
      "with zipfile.ZipFile('py.zip','w',zipfile.ZIP_DEFLATED) as z:\n"
      "  for root,dirs,files in os.walk('src'):\n"
      "    for n in sorted(dirs)+sorted(files):\n"
      "      p=os.path.join(root,n)\n"
      "      if n.startswith('latin-'): continue\n"
      "      if os.path.isdir(p): z.write(p); continue\n"
      "      i=zipfile.ZipInfo.from_file(p); i.compress_type=zipfile.ZIP_DEFLATED\n"
      "      with open(p,'rb') as f, z.open(i,'w',force_zip64=True) as o: o.write(f.read())\n";
  r = Sh("set -e; cd " + Quote(dir.path()) +
         "; zip -qr info.zip src; zip -qr -P secret enc.zip src; zip -qr -fz info64.zip src;"
         " 7zz a -tzip -bd seven.zip src >/dev/null; bsdtar --format zip -cf tar.zip src;"
         " bsdtar --format zip -cf dot.zip -C src .; python3 -c " +
         Quote(py));
  ASSERT_EQ(r.status, 0) << r.out;
  struct Case {
    std::string name, password, root, exclude;
  };
  const std::vector<Case> cases = {
      {"info", "", "src", ""},      {"enc", "secret", "src", ""}, {"info64", "", "src", ""},
      {"seven", "", "src", ""},     {"tar", "", "src", ""},       {"dot", "", "", ""},
      {"py", "", "src", "latin-*"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string archive = dir / (c.name + ".zip");
    ExpectNamesOfUnzip(archive);
    std::string out = dir / ("out-" + c.name);
    ExpectRoundTrip(archive, dir / "src", out, c.root.empty() ? "" : "/" + c.root, c.password,
                    c.exclude);
  }
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
  // Set-ID bits come back only for root, as unzip restores them.
  EXPECT_EQ(Sh("find " + Quote(dir.path()) + " -perm /6000").out,
            ::geteuid() == 0 ? dest + "/suid\n" : "");
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

TEST(InteropExtract, ArczipTestAndExtractWithReasonsAndExitCodes) {
  for (const char* tool : {"zip", "bsdtar", "python3"})
    if (!testutil::HaveTool(tool)) GTEST_SKIP() << tool;
  std::string arczip = ARCZIP_PATH;
  TempDir dir;
  MakeTree(dir.path());
  ASSERT_EQ(
      Sh("cd " + Quote(dir.path()) + " && zip -qr t.zip src && zip -qr -P pw e.zip src").status, 0);
  auto t = Sh(arczip + " t " + Quote(dir / "t.zip"));
  EXPECT_EQ(t.status, 0) << t.out;
  EXPECT_NE(t.out.find("9 entries tested, 0 bad"), std::string::npos) << t.out;
  t = Sh(arczip + " t -p wrong " + Quote(dir / "e.zip"));
  EXPECT_EQ(t.status, 1);
  EXPECT_NE(t.out.find("BAD src/a.txt: bad password"), std::string::npos) << t.out;
  EXPECT_EQ(Sh(arczip + " t " + Quote(dir / "e.zip") + " -p pw").status, 0);

  auto x = Sh(arczip + " x " + Quote(dir / "e.zip") + " -d " + Quote(dir / "out") + " -p pw");
  EXPECT_EQ(x.status, 0) << x.out;
  EXPECT_EQ(Sh("diff -r " + Quote(dir / "src") + " " + Quote(dir / "out/src")).status, 0);
  // Existing files: -n keeps them (and reports), -o replaces them.
  testutil::WriteFile(dir / "out/src/a.txt", "changed");
  x = Sh(arczip + " x " + Quote(dir / "t.zip") + " -d " + Quote(dir / "out") + " -n");
  EXPECT_EQ(x.status, 1);
  EXPECT_NE(x.out.find("skipped (NoOverwrite): src/a.txt"), std::string::npos) << x.out;
  EXPECT_EQ(testutil::ReadFile(dir / "out/src/a.txt"), "changed");
  x = Sh(arczip + " x -o " + Quote(dir / "t.zip") + " -d " + Quote(dir / "out"));
  EXPECT_EQ(x.status, 0) << x.out;
  EXPECT_EQ(testutil::ReadFile(dir / "out/src/a.txt"), "hello\n");
  // The files go below the folder named, so one must be named.
  for (const char* args : {" -d ''", ""}) {
    x = Sh("cd " + Quote(dir.path()) + " && " + arczip + " x t.zip" + args);
    EXPECT_EQ(x.status, 2) << args << x.out;
  }

  // Entries that peers extract: data piped through "zip -" (a FIFO mode) and bsdtar's "./".
  auto r = Sh("set -e; cd " + Quote(dir.path()) +
              "; printf 'piped\\n' | zip -q pipe.zip -; bsdtar --format zip -cf dot.zip -C src .");
  ASSERT_EQ(r.status, 0) << r.out;
  x = Sh(arczip + " x " + Quote(dir / "pipe.zip") + " -d " + Quote(dir / "piped"));
  EXPECT_EQ(x.status, 0) << x.out;
  EXPECT_EQ(testutil::ReadFile(dir / "piped/-"), "piped\n");
  x = Sh(arczip + " x " + Quote(dir / "dot.zip") + " -d " + Quote(dir / "dot"));
  EXPECT_EQ(x.status, 0) << x.out;
  EXPECT_EQ(Sh("diff -r " + Quote(dir / "src") + " " + Quote(dir / "dot")).status, 0);

  // Each bad entry with its reason; the others good.
  std::string py = R"(
import sys, zipfile, struct, os
d = sys.argv[1]
p = os.path.join(d, 'reasons.zip')
with zipfile.ZipFile(p, 'w') as z:
    z.writestr('ok.txt', 'fine')
    z.writestr('crc.txt', 'hello\n')
    z.writestr('ppmd.txt', 'b' * 1000, zipfile.ZIP_BZIP2)
    z.writestr('cut.bin', os.urandom(100000), zipfile.ZIP_DEFLATED)
    z.writestr('shifted.txt', '0123456789')
    z.writestr('last.txt', 'end')
b = bytearray(open(p, 'rb').read())
info = {i.filename: i for i in zipfile.ZipFile(p).infolist()}
o = info['crc.txt'].header_offset + 30 + len('crc.txt')
b[o] ^= 1
o = info['shifted.txt'].header_offset
b[o + 28:o + 30] = struct.pack('<H', struct.unpack('<H', b[o + 28:o + 30])[0] + 40)
o = info['ppmd.txt'].header_offset
b[o + 8:o + 10] = struct.pack('<H', 98)
c = b.find(b'PK\x01\x02')
while c >= 0:
    n = struct.unpack('<H', b[c + 28:c + 30])[0]
    if b[c + 46:c + 46 + n] == b'cut.bin':
        size = struct.unpack('<I', b[c + 20:c + 24])[0]
        b[c + 20:c + 24] = struct.pack('<I', size // 2)
    if b[c + 46:c + 46 + n] == b'ppmd.txt':
        b[c + 10:c + 12] = struct.pack('<H', 98)
    c = b.find(b'PK\x01\x02', c + 1)
open(p, 'wb').write(b)
# Two thousand directory entries on one local header.
q = os.path.join(d, 'bomb.zip')
with zipfile.ZipFile(q, 'w') as z:
    z.writestr('b0', b'z' * 1000000, zipfile.ZIP_DEFLATED)
b = open(q, 'rb').read()
cd = b.find(b'PK\x01\x02')
end = b.find(b'PK\x05\x06')
rec = b[cd:end]
recs = b''.join(rec[:28] + struct.pack('<H', 5) + rec[30:46] + b'x%04d' % i + rec[48:]
                for i in range(2000))
tail = b[end:end + 8] + struct.pack('<HHII', 2000, 2000, len(recs), cd) + b'\0\0'
open(q, 'wb').write(b[:cd] + recs + tail)
)";
  r = Sh("python3 -c " + Quote(py) + " " + Quote(dir.path()));
  ASSERT_EQ(r.status, 0) << r.out;
  t = Sh(arczip + " t " + Quote(dir / "reasons.zip"));
  EXPECT_EQ(t.status, 1);
  for (const char* line : {"OK  ok.txt\n", "BAD crc.txt: bad CRC\n",
                           "BAD ppmd.txt: compression method 98 (PPMd) is not available\n",
                           "BAD cut.bin: truncated data\n",
                           "BAD shifted.txt: overlaps another entry (possible zip bomb)\n",
                           "OK  last.txt\n", "6 entries tested, 4 bad\n"})
    EXPECT_NE(t.out.find(line), std::string::npos) << line << t.out;
  // 2000 records on one local header: the recovery scan lists that header's entry once, and the
  // damage is named (status 1).
  t = Sh(arczip + " t " + Quote(dir / "bomb.zip"));
  EXPECT_EQ(t.status, 1) << t.out;
  EXPECT_NE(t.out.find("OK  b0\n"), std::string::npos) << t.out;
  EXPECT_NE(t.out.find("damaged central directory: Entries \"x"), std::string::npos) << t.out;
  x = Sh(arczip + " x " + Quote(dir / "bomb.zip") + " -d " + Quote(dir / "bomb"));
  EXPECT_EQ(x.status, 1) << x.out;
  EXPECT_EQ(testutil::ReadFile(dir / "bomb/b0").size(), 1000000u);
  EXPECT_FALSE(testutil::Exists(dir / "bomb/x0001"));
  EXPECT_EQ(Sh(arczip + " t " + Quote(dir / "missing.zip")).status, 2);
}

namespace {

// An Info-ZIP Unicode path (0x7075) or comment (0x6375) field for the stored text raw.
std::string UnicodePathField(const std::string& raw, const std::string& utf8,
                             uint16_t id = 0x7075) {
  std::string f;
  auto put16 = [&f](uint16_t v) {
    f.push_back(static_cast<char>(v & 0xff));
    f.push_back(static_cast<char>(v >> 8));
  };
  put16(id);
  put16(static_cast<uint16_t>(5 + utf8.size()));
  f.push_back(1);
  const uint32_t crc = ZipCrc32(0, raw.data(), raw.size());
  for (int i = 0; i < 4; ++i) f.push_back(static_cast<char>((crc >> (8 * i)) & 0xff));
  return f + utf8;
}

}  // namespace

// Archives of other tools with what a Linux user keeps: links made by zip -y and bsdtar come back
// as links (one pointing outside only with --keep-links); an entry whose local header holds a
// legacy name beside its Unicode path field tests good and extracts under the Unicode name (and
// its comment lists from its Unicode comment field);
// folders marked only by their attributes are folders, and what lies below them extracts.
TEST(InteropExtract, PeerLinksUnicodeNamesAndAttributeFolders) {
  for (const char* tool : {"zip", "bsdtar"})
    if (!testutil::HaveTool(tool)) GTEST_SKIP() << tool;
  std::string arczip = ARCZIP_PATH;
  TempDir dir;
  auto r = Sh("set -e; cd " + Quote(dir.path()) +
              "; mkdir -p t/sub; echo hi > t/a.txt; ln -s a.txt t/lfile; ln -s sub t/ldir;"
              " ln -s nowhere t/dangling; ln -s /etc/passwd t/abs; zip -qry zipy.zip t;"
              " bsdtar --format zip -cf tar.zip t");
  ASSERT_EQ(r.status, 0) << r.out;
  const std::string inside = "dangling nowhere\nldir sub\nlfile a.txt\n";
  struct Case {
    const char* archive;
    const char* options;
    int status;
    std::string links;
  } cases[] = {{"zipy.zip", "", 1, inside},
               {"tar.zip", "", 1, inside},
               {"zipy.zip", " --keep-links", 0, "abs /etc/passwd\n" + inside},
               {"tar.zip", " --keep-links", 0, "abs /etc/passwd\n" + inside}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.archive) + c.options);
    Sh("rm -rf " + Quote(dir / "out"));
    auto x = Sh(arczip + " x " + Quote(dir / c.archive) + " -d " + Quote(dir / "out") + c.options);
    EXPECT_EQ(x.status, c.status) << x.out;
    if (c.status) {
      EXPECT_NE(x.out.find("skipped (link points outside the destination): t/abs"),
                std::string::npos)
          << x.out;
    }
    EXPECT_EQ(Sh("cd " + Quote(dir / "out/t") + " && find . -type l -printf '%P %l\\n' | sort").out,
              c.links);
    EXPECT_EQ(testutil::ReadFile(dir / "out/t/a.txt"), "hi\n");
  }

  ZipBuilder b;
  // The central record's name in code page 437 (DOS host), the local header's a plain ASCII
  // form, each with its own Unicode path field naming "café.txt".
  BuildEntry cafe;
  cafe.name = "caf\x82.txt";
  cafe.data = "unicode\n";
  cafe.versionMadeBy = 0x0014;
  cafe.extAttr = 0x20;
  cafe.comment = "caf\x82";
  cafe.centralExtra =
      UnicodePathField(cafe.name, "café.txt") + UnicodePathField(cafe.comment, "café", 0x6375);
  cafe.localName = "cafe.txt";
  cafe.localExtra = UnicodePathField(cafe.localName, "café.txt");
  b.Add(cafe);
  // Folders without a trailing "/": by the MS-DOS attribute, and by a Unix folder mode.
  BuildEntry dosFolder;
  dosFolder.name = "dosdir";
  dosFolder.versionMadeBy = 0x0014;
  dosFolder.extAttr = 0x10;
  b.Add(dosFolder);
  b.Add("dosdir/f.txt", "below dos\n");
  BuildEntry unixFolder;
  unixFolder.name = "unixdir";
  unixFolder.extAttr = (040750u << 16) | 0x10;
  b.Add(unixFolder);
  b.Add("unixdir/g.txt", "below unix\n");
  testutil::WriteFile(dir / "built.zip", b.Build());
  auto t = Sh(arczip + " t " + Quote(dir / "built.zip"));
  EXPECT_EQ(t.status, 0) << t.out;
  EXPECT_NE(t.out.find("OK  café.txt"), std::string::npos) << t.out;
  EXPECT_NE(Sh(arczip + " l " + Quote(dir / "built.zip")).out.find("    comment: café\n"),
            std::string::npos);
  auto x = Sh(arczip + " x " + Quote(dir / "built.zip") + " -d " + Quote(dir / "built"));
  EXPECT_EQ(x.status, 0) << x.out;
  EXPECT_EQ(testutil::ReadFile(dir / "built/café.txt"), "unicode\n");
  EXPECT_EQ(testutil::ReadFile(dir / "built/dosdir/f.txt"), "below dos\n");
  EXPECT_EQ(testutil::ReadFile(dir / "built/unixdir/g.txt"), "below unix\n");
  struct stat st;
  ASSERT_EQ(::stat((dir / "built/unixdir").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0750u);
}
