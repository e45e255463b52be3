// Updated, shortened, commented and self-extracting archives as peer tools see them: unzip, 7zz
// and Python's zipfile read what arczip rewrote; kept entries are byte-identical in Python's raw
// reads; entries of an Info-ZIP "zip -P" archive stay decryptable after deletes; the
// self-extractor extracts itself; a full temporary folder (a real tmpfs where one can be
// mounted) leaves the archive as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>

#include "archive/arczip.h"
#include "archive/zipexceptions.h"
#include "platform/archivelock.h"
#include "testutil.h"

using testutil::Quote;
using testutil::ReadFile;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

const std::string kArczip = ARCZIP_PATH;

testutil::CommandResult Sh(const std::string& cmd) {
  return testutil::Run(cmd);
}

bool HavePeers() {
  for (const char* tool : {"zip", "unzip", "7zz", "python3"})
    if (!testutil::HaveTool(tool)) return false;
  return true;
}

// Five files under dir/src dated 2023-06-15.
void MakeTree(const std::string& dir) {
  auto r = Sh("set -e; cd " + Quote(dir) +
              "; mkdir -p src/sub; for i in 1 2 3 4; do seq 1 $((i*3000)) > src/f$i.txt; done;"
              " head -c 50000 /dev/urandom > src/sub/r.bin;"
              " find src -exec touch -d '2023-06-15 10:20:30' {} +");
  ASSERT_EQ(r.status, 0) << r.out;
}

// name -> sha256 of the entry's raw (compressed) bytes, read by Python from the local header on.
std::map<std::string, std::string> PythonRaw(const std::string& archive) {
  auto r = Sh("python3 - " + Quote(archive) + R"( <<'EOF'
import sys, zipfile, struct, hashlib
z = zipfile.ZipFile(sys.argv[1])
f = open(sys.argv[1], 'rb')
for i in z.infolist():
    f.seek(i.header_offset)
    h = f.read(30)
    n, m = struct.unpack('<HH', h[26:30])
    f.seek(i.header_offset + 30 + n + m)
    print(i.filename, hashlib.sha256(f.read(i.compress_size)).hexdigest())
EOF
)");
  EXPECT_EQ(r.status, 0) << r.out;
  std::map<std::string, std::string> out;
  std::istringstream in(r.out);
  std::string name, hash;
  while (in >> name >> hash) out[name] = hash;
  return out;
}

std::string Sha(const std::string& path) {
  return Sh("sha256sum < " + Quote(path)).out;
}

}  // namespace

TEST(InteropUpdate, UpdateRoundTripKeepsEntriesByteForByte) {
  if (!HavePeers()) GTEST_SKIP() << "peer tools missing";
  TempDir t;
  MakeTree(t.path());
  std::string cd = "cd " + Quote(t.path()) + " && ";
  auto r = Sh(cd + Quote(kArczip) +
              " a a.zip src/f1.txt src/f2.txt src/f3.txt src/f4.txt src/sub/r.bin");
  ASSERT_EQ(r.status, 0) << r.out;
  auto before = PythonRaw(t / "a.zip");
  ASSERT_EQ(before.size(), 5u);

  // Two files change (one only in date); a sixth is new.
  r = Sh(cd +
         "echo changed >> src/f2.txt && touch -d '2024-01-01 08:00' src/f2.txt src/f4.txt"
         " && echo six > src/f5.txt && " +
         Quote(kArczip) +
         " a a.zip -u src/f1.txt src/f2.txt src/f3.txt src/f4.txt src/sub/r.bin"
         " src/f5.txt");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(Sh("unzip -tq " + Quote(t / "a.zip")).status, 0);
  auto after = PythonRaw(t / "a.zip");
  ASSERT_EQ(after.size(), 6u);
  for (const char* kept : {"src/f1.txt", "src/f3.txt", "src/sub/r.bin"})
    EXPECT_EQ(after[kept], before[kept]) << kept;
  EXPECT_EQ(Sh("unzip -p " + Quote(t / "a.zip") + " src/f2.txt | cmp - " + Quote(t / "src/f2.txt"))
                .status,
            0);
  r =
      Sh("python3 -c \"import zipfile,sys; z=zipfile.ZipFile(sys.argv[1]); "
         "print(' '.join(i.filename for i in z.infolist()))\" " +
         Quote(t / "a.zip"));
  EXPECT_EQ(r.out, "src/f1.txt src/f2.txt src/f3.txt src/f4.txt src/sub/r.bin src/f5.txt\n");

  // Freshen: a file not in the archive is not added and the archive is not rewritten.
  std::string sha = Sha(t / "a.zip");
  r = Sh(cd + "echo seven > src/f7.txt && " + Quote(kArczip) + " a a.zip -f src/f7.txt");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.out.find("NoFileToFreshen"), std::string::npos) << r.out;
  EXPECT_EQ(Sha(t / "a.zip"), sha);

  // A newer copy of a 20 MB file on a failing disk (its reads fail with EIO from the third on,
  // in each thread): it is not stored cut short; the good copy in the archive stays.
  if (!testutil::HaveTool("strace")) return;
  ASSERT_EQ(Sh(cd + "head -c 20000000 /dev/urandom > src/big.bin && " + Quote(kArczip) +
               " a a.zip src/big.bin")
                .status,
            0);
  const auto good = PythonRaw(t / "a.zip").at("src/big.bin");
  r = Sh(cd + "touch -d '+1 hour' src/big.bin && strace -f -o /dev/null -P " +
         Quote(t / "src/big.bin") + " -e trace=pread64 -e inject=pread64:error=EIO:when=3+ " +
         Quote(kArczip) + " a a.zip src/big.bin");
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("not stored (read error: Input/output error): src/big.bin"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(PythonRaw(t / "a.zip").at("src/big.bin"), good);
  EXPECT_EQ(Sh("unzip -tq " + Quote(t / "a.zip")).status, 0);
}

TEST(InteropUpdate, DeletingFromAZipPasswordArchive) {
  if (!HavePeers()) GTEST_SKIP() << "peer tools missing";
  TempDir t;
  MakeTree(t.path());
  std::string cd = "cd " + Quote(t.path()) + " && ";
  auto r =
      Sh(cd + "zip -q -P pw enc.zip src/f1.txt src/f2.txt src/f3.txt src/f4.txt src/sub/r.bin");
  ASSERT_EQ(r.status, 0) << r.out;
  // Info-ZIP writes these entries with a data descriptor (bit 3).
  r =
      Sh("python3 -c \"import zipfile,sys; print(all(i.flag_bits & 9 == 9 for i in "
         "zipfile.ZipFile(sys.argv[1]).infolist()))\" " +
         Quote(t / "enc.zip"));
  ASSERT_EQ(r.out, "True\n");
  r = Sh(cd + Quote(kArczip) + " d enc.zip src/f2.txt 'F4*'");
  ASSERT_EQ(r.status, 0) << r.out;
  r = Sh("unzip -tq -P pw " + Quote(t / "enc.zip"));
  EXPECT_EQ(r.status, 0) << r.out;
  r = Sh("unzip -Z1 " + Quote(t / "enc.zip"));
  EXPECT_EQ(r.out, "src/f1.txt\nsrc/f3.txt\nsrc/sub/r.bin\n");
  r = Sh("7zz t -ppw " + Quote(t / "enc.zip"));
  EXPECT_EQ(r.status, 0) << r.out;
  r = Sh("unzip -p -P pw " + Quote(t / "enc.zip") + " src/sub/r.bin | cmp - " +
         Quote(t / "src/sub/r.bin"));
  EXPECT_EQ(r.status, 0) << r.out;

  // Deleting every entry leaves an archive with none.
  r = Sh(cd + Quote(kArczip) + " d enc.zip '*'");
  ASSERT_EQ(r.status, 0) << r.out;
  r = Sh("python3 -c \"import zipfile,sys; print(len(zipfile.ZipFile(sys.argv[1]).infolist()))\" " +
         Quote(t / "enc.zip"));
  EXPECT_EQ(r.out, "0\n");
}

TEST(InteropUpdate, CommentSetFromStdin) {
  if (!HavePeers()) GTEST_SKIP() << "peer tools missing";
  TempDir t;
  MakeTree(t.path());
  std::string cd = "cd " + Quote(t.path()) + " && ";
  ASSERT_EQ(Sh(cd + Quote(kArczip) + " a a.zip src/f1.txt src/f2.txt").status, 0);
  auto before = PythonRaw(t / "a.zip");
  const std::string comment = "Backup of Monday\nsecond line";
  WriteFile(t / "comment.txt", comment);
  auto r = Sh(cd + Quote(kArczip) + " c a.zip < comment.txt");
  ASSERT_EQ(r.status, 0) << r.out;
  r = Sh("unzip -z " + Quote(t / "a.zip"));
  EXPECT_NE(r.out.find(comment), std::string::npos) << r.out;
  r =
      Sh("python3 -c \"import zipfile,sys; sys.stdout.write(zipfile.ZipFile(sys.argv[1]).comment"
         ".decode())\" " +
         Quote(t / "a.zip"));
  EXPECT_EQ(r.out, comment);
  EXPECT_EQ(PythonRaw(t / "a.zip"), before);
  EXPECT_EQ(Sh("unzip -tq " + Quote(t / "a.zip")).status, 0);
}

TEST(InteropUpdate, SelfExtractorIsAnArchiveToPeersAndExtractsItself) {
  if (!HavePeers()) GTEST_SKIP() << "peer tools missing";
  TempDir t;
  MakeTree(t.path());
  std::string cd = "cd " + Quote(t.path()) + " && ";
  auto r = Sh(cd + Quote(kArczip) + " a backup.EXE src -r");
  ASSERT_EQ(r.status, 0) << r.out;

  r = Sh("unzip -tq " + Quote(t / "backup.EXE"));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.find("extra bytes"), std::string::npos) << r.out;
  r = Sh("7zz t " + Quote(t / "backup.EXE"));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("Type = zip"), std::string::npos) << r.out;
  // Python reads it; the configuration block lies right before the first local header.
  r = Sh("python3 - " + Quote(t / "backup.EXE") + R"( <<'EOF'
import sys, zipfile, struct
z = zipfile.ZipFile(sys.argv[1])
assert z.testzip() is None
first = min(i.header_offset for i in z.infolist())
data = open(sys.argv[1], 'rb').read()
length = struct.unpack('<H', data[first-2:first])[0]
block = data[first-length:first]
print(len(z.infolist()), block[:3].decode(), block[4], data[:4] == b'\x7fELF')
print(block[10:10+block[4]].decode())
EOF
)");
  EXPECT_EQ(r.out, "7 MPU 30 True\nArcavo Self Extracting Archive\n");

  // Run as a program, it extracts itself.
  r = Sh(cd + "./backup.EXE -d out -y");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("Arcavo Self Extracting Archive"), std::string::npos) << r.out;
  r = Sh("diff -r " + Quote(t / "src") + " " + Quote(t / "out/src"));
  EXPECT_EQ(r.status, 0) << r.out;
  r = Sh(cd + "./backup.EXE -t");
  EXPECT_EQ(r.status, 0) << r.out;
  // The block allows choosing files.
  r = Sh(cd + "./backup.EXE -d some -y 'src/f1*'");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(testutil::Exists(t / "some/src/f1.txt"));
  EXPECT_FALSE(testutil::Exists(t / "some/src/f2.txt"));

  // Every rewrite keeps the stub: adding, deleting, a comment, an update that changes nothing.
  testutil::WriteFile(t / "two.txt", "two\n");
  for (const char* step : {" a backup.EXE two.txt", " d backup.EXE two.txt",
                           " c backup.EXE < two.txt", " a -u backup.EXE src -r"}) {
    r = Sh(cd + Quote(kArczip) + step);
    ASSERT_EQ(r.status, 0) << step << r.out;
    r = Sh(cd + "./backup.EXE -t");
    EXPECT_EQ(r.status, 0) << step << r.out;
  }
  r = Sh("unzip -z " + Quote(t / "backup.EXE"));
  EXPECT_NE(r.out.find("two"), std::string::npos) << r.out;

  // Back to a plain archive: entries from offset 0.
  r = Sh(cd + Quote(kArczip) + " unsfx backup.EXE");
  ASSERT_EQ(r.status, 0) << r.out;
  r = Sh("unzip -tq " + Quote(t / "backup.zip"));
  EXPECT_EQ(r.status, 0) << r.out;
  r =
      Sh("python3 -c \"import zipfile,sys; print(min(i.header_offset for i in "
         "zipfile.ZipFile(sys.argv[1]).infolist()))\" " +
         Quote(t / "backup.zip"));
  EXPECT_EQ(r.out, "0\n");
  EXPECT_EQ(ReadFile(t / "backup.zip").substr(0, 4), "PK\x03\x04");

  // And converted again (no block: the stub uses its defaults).
  r = Sh(cd + "rm backup.EXE && " + Quote(kArczip) + " sfx backup.zip && ./backup.EXE -d again");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(Sh("diff -r " + Quote(t / "src") + " " + Quote(t / "again/src")).status, 0);
}

TEST(InteropUpdate, TheStubKeepsToItsBlockAndToTheExtractionRules) {
  if (!HavePeers()) GTEST_SKIP() << "peer tools missing";
  TempDir t;
  // A hostile archive from Python, then an encrypted one from zip -P.
  auto r = Sh("cd " + Quote(t.path()) + R"( && python3 - <<'EOF'
import zipfile
with zipfile.ZipFile('hostile.zip', 'w') as z:
    z.writestr('../escaped.txt', 'out')
    z.writestr('ok.txt', 'fine')
EOF
)");
  ASSERT_EQ(r.status, 0) << r.out;
  std::string cd = "cd " + Quote(t.path()) + " && ";
  r = Sh(cd + Quote(kArczip) + " sfx hostile.zip && mkdir -p box && cd box && ../hostile.EXE -d x");
  EXPECT_NE(r.status, 0) << r.out;  // the hostile entry is reported
  EXPECT_TRUE(testutil::Exists(t / "box/x/ok.txt"));
  EXPECT_FALSE(testutil::Exists(t / "box/escaped.txt"));
  EXPECT_FALSE(testutil::Exists(t / "escaped.txt"));

  r = Sh(cd + "echo secret > s.txt && zip -q -P pw enc.zip s.txt && " + Quote(kArczip) +
         " sfx enc.zip && ./enc.EXE -d e1 -p wrong");
  EXPECT_NE(r.status, 0) << r.out;
  EXPECT_FALSE(testutil::Exists(t / "e1/s.txt"));
  r = Sh(cd + "./enc.EXE -d e2 -p pw");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(ReadFile(t / "e2/s.txt"), "secret\n");

  // Without a block (a converted archive) the defaults hold: files cannot be chosen, the
  // overwrite mode is fixed to "always".
  r = Sh(cd + "./enc.EXE -d e2 -p pw -n");
  EXPECT_EQ(r.status, 2) << r.out;
  r = Sh(cd + "./enc.EXE -d e2 -p pw s.txt");
  EXPECT_EQ(r.status, 2) << r.out;
  // The bare stub has no archive.
  r = Sh(Quote(SFXSTUB_PATH));
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_NE(r.out.find("no archive attached"), std::string::npos) << r.out;
}

TEST(InteropUpdate, AFullMediumLeavesTheArchiveUnchanged) {
  if (!HavePeers()) GTEST_SKIP() << "peer tools missing";
  if (Sh("unshare -rm true").status != 0) GTEST_SKIP() << "no user namespaces for a tmpfs";
  TempDir t;
  MakeTree(t.path());
  std::string cd = "cd " + Quote(t.path()) + " && ";
  ASSERT_EQ(Sh(cd + Quote(kArczip) + " a a.zip src -r").status, 0);
  std::string sha = Sha(t / "a.zip");
  // The archive lies on a tmpfs of 128 KiB; the update needs more than is left there. The
  // temporary folder elsewhere is not used by a rewrite at all.
  auto r =
      Sh(cd + "mkdir tmp mnt && head -c 300000 /dev/urandom > src/big.bin && unshare -rm sh -c " +
         Quote("mount -t tmpfs -o size=128k tmpfs mnt && cp a.zip mnt/ && TMPDIR=$PWD/tmp " +
               Quote(kArczip) +
               " a mnt/a.zip src/big.bin; echo status=$?; ls -A mnt; sha256sum < mnt/a.zip;"
               " ls -A tmp | wc -l"));
  EXPECT_NE(r.out.find("status=2"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Not enough room to write archive"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\na.zip\n" + sha + "0\n"), std::string::npos)
      << "the archive changed or temporary files were left: " << r.out;
}

// Rewrites that overlap or are cut off. Two `arczip a` on one archive at once: the second waits
// for the first, and every addition reported good is in the archive (five pairs). A `d` killed
// before it commits leaves the archive as it was and nothing in the temporary folder; its
// temporary lies beside the archive, and the next run on the archive removes it and says so.
TEST(InteropUpdate, ConcurrentAndInterruptedRewritesLoseNothing) {
  if (!HavePeers()) GTEST_SKIP() << "peer tools missing";
  TempDir t;
  const std::string cd = "cd " + Quote(t.path()) + " && ";
  const std::string az = Quote(kArczip);
  // An archive large enough that each rewrite takes a while.
  ASSERT_EQ(Sh(cd + "mkdir tmp && head -c 20000000 /dev/urandom > base.bin && " + az +
               " a -0 w.zip base.bin")
                .status,
            0);
  for (int pair = 0; pair < 5; ++pair) {
    const std::string a = "p" + std::to_string(pair) + "a.txt";
    const std::string b = "p" + std::to_string(pair) + "b.txt";
    auto r =
        Sh(cd + "echo " + a + " > " + a + " && echo " + b + " > " + b + "; (" + az + " a w.zip " +
           a + "; echo " + a + "=$?) & (" + az + " a w.zip " + b + "; echo " + b + "=$?) & wait");
    auto names = Sh("unzip -Z1 " + Quote(t / "w.zip")).out;
    for (const std::string& f : {a, b}) {
      // Both wait their turn: neither fails, and neither is lost.
      EXPECT_NE(r.out.find(f + "=0"), std::string::npos) << r.out;
      if (r.out.find(f + "=0") != std::string::npos) {
        EXPECT_NE(names.find(f + "\n"), std::string::npos) << f << " lost:\n" << names;
      }
    }
  }
  EXPECT_EQ(Sh("unzip -tq " + Quote(t / "w.zip")).status, 0);

  // A writer that holds the lock longer than the other waits makes the other fail clearly,
  // with the archive as it was.
  {
    const std::string before = Sha(t / "w.zip");
    TArchiveLock held;
    ASSERT_EQ(held.TryLock(ArchiveLockPath(t / "w.zip")), TArchiveLock::TResult::Held);
    TArcZip zip;
    zip.LockWaitMs = 300;
    zip.SetZipName(t / "w.zip");
    zip.FilesList = {"p0a.txt"};
    try {
      zip.RemoveEntries();
      ADD_FAILURE() << "removed while another writer held the archive";
    } catch (const EArcZipException& e) {
      EXPECT_NE(std::string(e.what()).find(kArchiveBusy), std::string::npos) << e.what();
    }
    EXPECT_EQ(Sha(t / "w.zip"), before);
  }

  // 200 MB, killed while the copy without one entry is being written.
  ASSERT_EQ(Sh(cd + "head -c 200000000 /dev/urandom > big.bin && " + az +
               " a -0 big.zip big.bin p0a.txt && rm big.bin")
                .status,
            0);
  const std::string sha = Sha(t / "big.zip");
  auto r =
      Sh(cd + "(TMPDIR=$PWD/tmp " + az +
         " d big.zip p0a.txt & pid=$!; for i in $(seq 1 3000); do ls -A | grep -q "
         "'^\\.big\\.zip\\.arcavo-.\\{6\\}$' && break; sleep 0.01; done; kill -9 $pid; wait $pid;"
         " echo status=$?)");
  ASSERT_NE(r.out.find("status=137"), std::string::npos) << r.out;
  EXPECT_EQ(Sha(t / "big.zip"), sha);
  EXPECT_EQ(Sh(cd + "ls -A tmp").out, "");
  const std::string left = Sh(cd + "ls -A | grep '^\\.big\\.zip\\.arcavo-.\\{6\\}$'").out;
  ASSERT_FALSE(left.empty());
  // The next run on that archive.
  r = Sh(cd + "TMPDIR=$PWD/tmp " + az + " d big.zip p0a.txt");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("removed the leftover of an interrupted run: " + t.path() + "/" +
                       left.substr(0, left.size() - 1)),
            std::string::npos)
      << r.out;
  EXPECT_EQ(Sh(cd + "ls -A tmp; ls -A | grep '^\\.'").out, "");
  EXPECT_EQ(Sh("unzip -Z1 " + Quote(t / "big.zip")).out, "big.bin\n");
}

// arczip takes options anywhere, "--" before a name beginning with "-"; a plain name given to
// "d" is one stored path; a file whose name is not UTF-8 stays one entry through updates.
TEST(InteropUpdate, ArczipCommandLineAndUpdatesOfAnyName) {
  if (!HavePeers()) GTEST_SKIP() << "peer tools missing";
  TempDir t;
  std::string cd = "cd " + Quote(t.path()) + " && " + Quote(kArczip);
  auto r = Sh("set -e; cd " + Quote(t.path()) +
              "; mkdir -p dir/a dir/b; for f in dir/x.txt dir/a/x.txt dir/b/x.txt; do"
              " echo $f > $f; done");
  ASSERT_EQ(r.status, 0) << r.out;
  for (const char* args :
       {" a -r -9 one.zip dir", " a two.zip dir -r -9", " a -r -- -odd.zip dir"}) {
    r = Sh(cd + args);
    EXPECT_EQ(r.status, 0) << args << r.out;
  }
  const std::string names = "dir/\ndir/a/\ndir/a/x.txt\ndir/b/\ndir/b/x.txt\ndir/x.txt\n";
  for (const char* archive : {"one.zip", "two.zip", "./-odd.zip"}) {
    r = Sh("cd " + Quote(t.path()) + " && unzip -Z1 " + archive + " | sort");
    EXPECT_EQ(r.out, names) << archive;
  }
  EXPECT_EQ(Sh("cd " + Quote(t.path()) + " && unzip -Z -v one.zip | grep -c 'maximum'").out,
            "3\n");  // level 9 on every file
  // Without "--" a name beginning with "-" is an unknown option: nothing is written.
  r = Sh(cd + " a -new.zip dir");
  EXPECT_EQ(r.status, 2);
  EXPECT_FALSE(testutil::Exists(t / "-new.zip"));
  EXPECT_EQ(Sh(cd + " q one.zip").status, 2);

  r = Sh(cd + " d one.zip dir/x.txt");
  EXPECT_EQ(r.status, 0) << r.out;
  r = Sh(cd + " d one.zip x.txt");
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_EQ(Sh("cd " + Quote(t.path()) + " && unzip -Z1 one.zip | sort").out,
            "dir/\ndir/a/\ndir/a/x.txt\ndir/b/\ndir/b/x.txt\n");
  r = Sh(cd + " d one.zip '*.txt'");
  EXPECT_EQ(r.out, "2 entries deleted\n");

  // A Latin-1 name: added twice, still one entry; listed, tested and extracted as its bytes.
  r = Sh("set -e; cd " + Quote(t.path()) +
         "; mkdir in; printf 'x' > \"in/caf$(printf '\\351').txt\"");
  ASSERT_EQ(r.status, 0) << r.out;
  for (int i = 0; i < 2; ++i) {
    r = Sh(cd + " a latin.zip in -r");
    ASSERT_EQ(r.status, 0) << r.out;
  }
  EXPECT_EQ(Sh("cd " + Quote(t.path()) + " && unzip -Z1 latin.zip").out, "in/\nin/caf\xe9.txt\n");
  EXPECT_EQ(Sh(cd + " t latin.zip").status, 0);
  r = Sh(cd + " x latin.zip -d out && diff -r in out/in");
  EXPECT_EQ(r.status, 0) << r.out;
}
