// Extracting and testing: target folders, overwrite rules, passwords, damaged data, and the
// safety rules against hostile names, links, set-id bits and bombs.
#include <bzlib.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <lzma.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>
#include <zstd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "archive/arczip.h"
#include "archive/zipcrypt.h"
#include "archive/zipexceptions.h"
#include "legacyencode.h"
#include "testhost.h"
#include "testutil.h"
#include "zipbuilder.h"

using testutil::Exists;
using testutil::ReadFile;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

struct Skipped {
  TSkipReason reason;
  std::string name;
};

// An engine on an in-memory archive that records skips.
struct Fixture {
  TArcZip z;
  std::vector<Skipped> skips;
  explicit Fixture(const std::string& bytes) {
    z.OpenArchiveStream(std::make_unique<TMemoryStream>(bytes.data(), bytes.size()));
    z.OnSkippingFile = [this](TArcUnZip*, TSkipReason r, const std::string& n, int, bool&) {
      skips.push_back({r, n});
    };
    z.ReadArchive();
  }
};

mode_t ModeOf(const std::string& path) {
  struct stat st;
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  return st.st_mode;
}

time_t MTimeOf(const std::string& path) {
  struct stat st;
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  return st.st_mtime;
}

BuildEntry Entry(const std::string& name, const std::string& data, mode_t mode = 0100644,
                 uint16_t method = 8) {
  BuildEntry e;
  e.name = name;
  e.data = data;
  e.method = method;
  e.extAttr = static_cast<uint32_t>(mode) << 16;
  return e;
}

// Names of everything below root (relative), sorted.
std::vector<std::string> Tree(const std::string& root) {
  std::vector<std::string> out;
  for (auto& e : std::filesystem::recursive_directory_iterator(root))
    out.push_back(std::filesystem::relative(e.path(), root).string());
  std::sort(out.begin(), out.end());
  return out;
}

class ExtractTest : public ::testing::Test {
 protected:
  void SetUp() override { oldMask_ = umask(022); }
  void TearDown() override { umask(oldMask_); }
  mode_t oldMask_ = 0;
};

}  // namespace

TEST_F(ExtractTest, RecreatesFoldersWithContentsModesAndTimes) {
  ZipBuilder b;
  BuildEntry folder = Entry("docs/", "", 040750, 0);
  folder.dosDateTime = 0x4A8A6000;  // 2017-04-10 12:00:00
  b.Add(folder);
  b.Add(Entry("docs/a.txt", "alpha", 0100640));
  b.Add(Entry("docs/run.sh", std::string(10000, 'r'), 0104755));  // setuid kept for root only
  b.Add(Entry("top.bin", std::string(3, '\0'), 0100666, 0));
  BuildEntry dos = Entry("readonly.txt", "ro");
  dos.versionMadeBy = 0x0014;  // MS-DOS host
  dos.extAttr = 0x21;          // archive + read-only
  b.Add(dos);
  Fixture f(b.Build());
  TempDir dir;
  f.z.SetDestDir(dir / "out");
  f.z.RecreateDirs = true;
  f.z.DoAll = true;
  int ends = 0, total = -1;
  f.z.OnEndUnZip = [&](TArcUnZip*, int, const std::string&) { ++ends; };
  f.z.OnUnZipComplete = [&](TArcUnZip*, int n) { total = n; };
  EXPECT_EQ(f.z.Extract(), 5);
  EXPECT_EQ(ends, 5);
  EXPECT_EQ(total, 5);
  EXPECT_TRUE(f.skips.empty());
  EXPECT_EQ(ReadFile(dir / "out/docs/a.txt"), "alpha");
  EXPECT_EQ(ReadFile(dir / "out/docs/run.sh"), std::string(10000, 'r'));
  EXPECT_EQ(ReadFile(dir / "out/top.bin"), std::string(3, '\0'));
  EXPECT_EQ(ModeOf(dir / "out/docs/a.txt") & 07777, 0640u);
  EXPECT_EQ(ModeOf(dir / "out/docs/run.sh") & 07777, ::geteuid() == 0 ? 04755u : 0755u);
  EXPECT_EQ(ModeOf(dir / "out/top.bin") & 07777, 0666u);  // as stored, whatever the umask
  EXPECT_EQ(ModeOf(dir / "out/readonly.txt") & 07777, 0444u);
  EXPECT_EQ(ModeOf(dir / "out/docs") & 07777, 0750u);
  time_t t;
  ASSERT_TRUE(DosDateTimeToTime(0x5A8A6000, t));
  EXPECT_EQ(MTimeOf(dir / "out/docs/a.txt"), t);
  ASSERT_TRUE(DosDateTimeToTime(0x4A8A6000, t));
  EXPECT_EQ(MTimeOf(dir / "out/docs"), t);  // set after its contents were written
  EXPECT_EQ(Tree(dir / "out"), (std::vector<std::string>{"docs", "docs/a.txt", "docs/run.sh",
                                                         "readonly.txt", "top.bin"}));
  EXPECT_TRUE(f.z.FilesList.empty());
}

TEST_F(ExtractTest, WithoutRecreateDirsFilesLandInDestDirAndFoldersAreNotTaken) {
  ZipBuilder b;
  b.Add(Entry("a/", "", 040755, 0));
  b.Add(Entry("a/one.txt", "1"));
  b.Add(Entry("b/two.txt", "2"));
  Fixture f(b.Build());
  TempDir dir;
  f.z.SetDestDir(dir.path());
  f.z.DoAll = true;
  f.z.RetainAttributes = false;
  EXPECT_EQ(f.z.Extract(), 2);
  EXPECT_EQ(Tree(dir.path()), (std::vector<std::string>{"one.txt", "two.txt"}));
}

TEST_F(ExtractTest, TargetFoldersFromStoredFolders) {
  TempDir dir;
  // An absolute stored folder goes below DestDir; with DestDir empty, to the folder itself.
  std::string abs = dir / "abs";
  ZipBuilder b;
  b.Add(Entry("/docs/a.txt", "under dest"));
  b.Add(Entry(abs.substr(1) + "/skip.txt", "x"));
  b.Add(Entry(abs + "/b.txt", "absolute"));
  b.Add(Entry("C:/Docs/c.txt", "drive"));
  b.Add(Entry("base/keep/d.txt", "stripped"));
  std::string bytes = b.Build();

  Fixture f(bytes);
  f.z.SetDestDir(dir / "restore");
  f.z.RecreateDirs = true;
  f.z.FilesList = {"*/a.txt", "*c.txt", "BASE/*"};
  f.z.RelativePathList = {"Base/"};
  EXPECT_EQ(f.z.Extract(), 3);
  EXPECT_EQ(ReadFile(dir / "restore/docs/a.txt"), "under dest");
  EXPECT_EQ(ReadFile(dir / "restore/Docs/c.txt"), "drive");
  EXPECT_EQ(ReadFile(dir / "restore/keep/d.txt"), "stripped");
  EXPECT_TRUE(f.z.FilesList.empty());

  Fixture g(bytes);
  g.z.RecreateDirs = true;
  g.z.FilesList = {abs + "/b.txt"};
  EXPECT_EQ(g.z.Extract(), 1);
  EXPECT_EQ(ReadFile(abs + "/b.txt"), "absolute");
}

TEST_F(ExtractTest, SelectionStartEventsAndStopNow) {
  ZipBuilder b;
  b.Add(Entry("one", "1"));
  b.Add(Entry("two", "22"));
  b.Add(Entry("three", "333"));
  Fixture f(b.Build());
  TempDir dir;
  f.z.SetDestDir(dir.path());
  f.z.SetEntrySelected(0, true);
  f.z.SetEntrySelected(2, true);
  int infoFiles = 0;
  int64_t infoBytes = 0;
  f.z.OnStartUnZipInfo = [&](TArcUnZip*, int n, int64_t bytes, bool&) {
    infoFiles = n;
    infoBytes = bytes;
  };
  f.z.OnStartUnZip = [&](TArcUnZip*, int index, std::string& name, bool& skip) {
    if (index == 2) name = dir / "renamed";
    if (index == 0) skip = true;
  };
  EXPECT_EQ(f.z.ExtractSelected(), 1);
  EXPECT_EQ(infoFiles, 2);
  EXPECT_EQ(infoBytes, 4);
  EXPECT_EQ(f.z.SelectedCount(), 0);
  EXPECT_FALSE(f.z.EntrySelected(2));
  EXPECT_EQ(Tree(dir.path()), (std::vector<std::string>{"renamed"}));

  f.z.OnStartUnZip = nullptr;
  f.z.OnStartUnZipInfo = [](TArcUnZip*, int, int64_t, bool& stop) { stop = true; };
  f.z.DoAll = true;
  EXPECT_EQ(f.z.Extract(), 0);
  EXPECT_EQ(Tree(dir.path()), (std::vector<std::string>{"renamed"}));
}

TEST_F(ExtractTest, OverwriteModes) {
  ZipBuilder b;
  BuildEntry e = Entry("f.txt", "from archive");
  e.dosDateTime = 0x5A8A6000;  // 2025-04-10
  b.Add(e);
  std::string bytes = b.Build();
  TempDir dir;
  std::string target = dir / "f.txt";
  time_t entryTime;
  ASSERT_TRUE(DosDateTimeToTime(e.dosDateTime, entryTime));
  auto reset = [&](time_t mtime) {
    WriteFile(target, "on disk");
    struct timespec ts[2] = {{mtime, 0}, {mtime, 0}};
    utimensat(AT_FDCWD, target.c_str(), ts, 0);
  };
  auto run = [&](TUZOverwriteMode mode, ScriptedHost* host = nullptr) {
    Fixture f(bytes);
    f.z.SetDestDir(dir.path());
    f.z.DoAll = true;
    f.z.OverwriteMode = mode;
    f.z.Host = host;
    f.z.Extract();
    return f.skips;
  };
  reset(entryTime - 100);
  EXPECT_EQ(run(TUZOverwriteMode::Never).at(0).reason, srNoOverwrite);
  EXPECT_EQ(ReadFile(target), "on disk");
  EXPECT_TRUE(run(TUZOverwriteMode::Always).empty());
  EXPECT_EQ(ReadFile(target), "from archive");

  reset(entryTime - 100);  // file older than the entry
  EXPECT_EQ(run(TUZOverwriteMode::ifOlder).size(), 1u);
  EXPECT_TRUE(run(TUZOverwriteMode::ifNewer).empty());
  EXPECT_EQ(ReadFile(target), "from archive");
  reset(entryTime + 100);  // file newer than the entry
  EXPECT_EQ(run(TUZOverwriteMode::ifNewer).size(), 1u);
  EXPECT_TRUE(run(TUZOverwriteMode::ifOlder).empty());

  // Prompt without a handler asks the host.
  reset(entryTime);
  ScriptedHost host;
  host.answers = {zrNo, zrYes};
  EXPECT_EQ(run(TUZOverwriteMode::Prompt, &host).size(), 1u);
  EXPECT_EQ(ReadFile(target), "on disk");
  EXPECT_TRUE(run(TUZOverwriteMode::Prompt, &host).empty());
  EXPECT_EQ(ReadFile(target), "from archive");
  ASSERT_EQ(host.boxes.size(), 2u);
  EXPECT_EQ(host.boxes[0].title, "File Exists Alert");
  EXPECT_EQ(host.boxes[0].text, "Replace existing file f.txt?");
  EXPECT_EQ(run(TUZOverwriteMode::Prompt).size(), 1u);  // nobody to ask: not replaced

  // A handler decides and may redirect.
  Fixture h(bytes);
  h.z.SetDestDir(dir.path());
  h.z.DoAll = true;
  h.z.OnPromptForOverwrite = [&](TArcUnZip*, bool& yes, int, std::string& name) {
    yes = true;
    name = dir / "other.txt";
  };
  EXPECT_EQ(h.z.Extract(), 1);
  EXPECT_EQ(ReadFile(dir / "other.txt"), "from archive");

  // A read-only target is replaced only with ReplaceReadOnly.
  reset(entryTime);
  chmod(target.c_str(), 0444);
  EXPECT_EQ(run(TUZOverwriteMode::Always).at(0).reason, srCreateError);
  EXPECT_EQ(ReadFile(target), "on disk");
  Fixture r(bytes);
  r.z.SetDestDir(dir.path());
  r.z.DoAll = true;
  r.z.OverwriteMode = TUZOverwriteMode::Always;
  r.z.ReplaceReadOnly = true;
  EXPECT_EQ(r.z.Extract(), 1);
  EXPECT_EQ(ReadFile(target), "from archive");
}

TEST_F(ExtractTest, PasswordsCheckByteRetryAndNoPartialFile) {
  ZipBuilder b;
  BuildEntry e = Entry("secret.txt", std::string(5000, 's'));
  e.password = "right";
  b.Add(e);
  BuildEntry d = Entry("descriptor.txt", "with bit 3");
  d.password = "right";
  d.dataDescriptor = true;
  b.Add(d);
  std::string bytes = b.Build();
  TempDir dir;

  Fixture ok(bytes);
  ok.z.SetDestDir(dir / "ok");
  ok.z.DoAll = true;
  ok.z.Password = "right";
  EXPECT_EQ(ok.z.Extract(), 2);
  EXPECT_EQ(ReadFile(dir / "ok/secret.txt"), std::string(5000, 's'));
  EXPECT_EQ(ReadFile(dir / "ok/descriptor.txt"), "with bit 3");

  // A handler returning the same password gives up with reason 0 for each entry.
  Fixture bad(bytes);
  bad.z.SetDestDir(dir / "bad");
  bad.z.DoAll = true;
  bad.z.Password = "wrong";
  int asked = 0;
  bad.z.OnBadPassword = [&](TArcUnZip*, int, std::string&) { ++asked; };
  EXPECT_EQ(bad.z.Extract(), 0);
  EXPECT_EQ(asked, 2);
  ASSERT_EQ(bad.skips.size(), 2u);
  EXPECT_EQ(bad.skips[0].reason, srBadPassword);
  EXPECT_EQ(bad.skips[1].reason, srBadPassword);
  EXPECT_TRUE(Tree(dir / "bad").empty());

  // A handler giving a new password retries the entry.
  Fixture retry(bytes);
  retry.z.SetDestDir(dir / "retry");
  retry.z.DoAll = true;
  retry.z.OnBadPassword = [](TArcUnZip*, int, std::string& pw) {
    pw = pw == "" ? "still wrong" : "right";
  };
  EXPECT_EQ(retry.z.Extract(), 2);
  EXPECT_EQ(retry.z.Password, "right");
}

TEST_F(ExtractTest, BadCrcKeepsTheExistingFileAndLeavesNothingBehind) {
  ZipBuilder b;
  BuildEntry e = Entry("keep.txt", "damaged content");
  e.crcOverride = 0x12345678;
  b.Add(e);
  b.Add(Entry("next.txt", "fine"));
  TempDir dir;
  WriteFile(dir / "keep.txt", "the good old file");
  Fixture f(b.Build());
  f.z.SetDestDir(dir.path());
  f.z.DoAll = true;
  f.z.OverwriteMode = TUZOverwriteMode::Always;
  uint32_t calc = 0, stored = 0;
  f.z.OnBadCRC = [&](TArcUnZip*, uint32_t c, uint32_t s, int) {
    calc = c;
    stored = s;
  };
  EXPECT_EQ(f.z.Extract(), 1);
  EXPECT_EQ(stored, 0x12345678u);
  EXPECT_EQ(calc, ZipCrc32(0, "damaged content", 15));
  EXPECT_EQ(ReadFile(dir / "keep.txt"), "the good old file");
  EXPECT_EQ(Tree(dir.path()), (std::vector<std::string>{"keep.txt", "next.txt"}));
}

TEST_F(ExtractTest, BombsAndTruncatedDataAreBadAndExtractionGoesOn) {
  ZipBuilder b;
  BuildEntry bomb = Entry("bomb.bin", std::string(1 << 20, 'b'));
  bomb.declaredSize = 1000;
  b.Add(bomb);
  BuildEntry storedBomb = Entry("stored.bin", std::string(5000, 'c'), 0100644, 0);
  storedBomb.declaredSize = 10;
  b.Add(storedBomb);
  b.Add(Entry("after.txt", "still extracted"));
  std::string bytes = b.Build();
  TempDir dir;
  Fixture f(bytes);
  f.z.SetDestDir(dir.path());
  f.z.DoAll = true;
  EXPECT_EQ(f.z.Extract(), 1);
  EXPECT_EQ(f.skips.size(), 2u);
  EXPECT_EQ(Tree(dir.path()), (std::vector<std::string>{"after.txt"}));
  Fixture t(bytes);
  EXPECT_FALSE(t.z.TestArchive());
  EXPECT_EQ(t.z.EntryHeader(0).TestState, TZipTestState::Bad);
  EXPECT_EQ(t.z.EntryHeader(2).TestState, TZipTestState::Good);

  // Compressed data that ends before the deflate stream does.
  ZipBuilder c;
  c.Add(Entry("cut.bin", std::string(200000, 'x')));
  std::string cut = c.Build();
  size_t cd = cut.find("PK\x01\x02");
  cut[cd + 20] = 10, cut[cd + 21] = 0, cut[cd + 22] = 0, cut[cd + 23] = 0;
  Fixture g(cut);
  EXPECT_FALSE(g.z.TestArchive());
}

TEST_F(ExtractTest, OverlappingEntriesAndForeignLocalHeadersAreRefused) {
  const std::string data(100000, 'z');  // deflates to about 100 bytes
  // Many entries on one local header: a small archive that would expand without bound.
  ZipBuilder many;
  for (int i = 0; i < 2000; ++i) {
    BuildEntry e = Entry("b" + std::to_string(i), i == 0 ? data : std::string());
    if (i > 0) {
      e.offsetOverride = 0;
      e.crcOverride = ZipCrc32(0, data.data(), data.size());
      e.declaredSize = static_cast<int64_t>(data.size());
      e.method = 0;
    }
    many.Add(e);
  }
  // Each entry's stated data running on over the next ones (the quoted-overlap form).
  ZipBuilder quoted;
  quoted.Add(Entry("q1", "first"));
  quoted.Add(Entry("q2", "second"));
  std::string spans = quoted.Build();
  size_t cd = spans.find("PK\x01\x02");
  spans[cd + 20] = 60;  // q1's compressed size now covers q2's local header
  // Both go to the recovery scan, which lists every local header once, with the sizes it states:
  // the shared data is not read twice.
  for (const std::string& bytes : {many.Build(), spans}) {
    TArcZip z;
    z.OpenArchiveStream(std::make_unique<TMemoryStream>(bytes.data(), bytes.size()));
    z.ReadArchive();
    EXPECT_TRUE(z.RecoveryMode());
    uint64_t total = 0;
    for (int i = 0; i < z.EntryCount(); ++i) total += z.EntryHeader(i).CompressedSize();
    EXPECT_LT(total, bytes.size());
    EXPECT_TRUE(z.TestEntry(0));
  }

  // What only the local header shows: its extra field pushes the data into the next entry, or it
  // names another file. Those entries are bad; the others extract.
  ZipBuilder b;
  BuildEntry shifted = Entry("shifted.txt", "0123456789", 0100644, 0);
  shifted.localExtraLength = 40;
  b.Add(shifted);
  BuildEntry foreign = Entry("foreign.txt", "payload");
  foreign.localName = "evil/../x.t";
  b.Add(foreign);
  b.Add(Entry("good.txt", "fine"));
  std::string bytes = b.Build();
  Fixture t(bytes);
  EXPECT_FALSE(t.z.TestArchive());
  EXPECT_EQ(t.z.EntryHeader(0).Problem, TEntryProblem::Overlap);
  EXPECT_EQ(t.z.EntryHeader(1).Problem, TEntryProblem::LocalHeader);
  EXPECT_EQ(t.z.EntryHeader(2).TestState, TZipTestState::Good);
  TempDir dir;
  Fixture f(bytes);
  f.z.SetDestDir(dir.path());
  f.z.DoAll = true;
  EXPECT_EQ(f.z.Extract(), 1);
  EXPECT_EQ(f.skips.size(), 2u);
  EXPECT_EQ(Tree(dir.path()), (std::vector<std::string>{"good.txt"}));
}

TEST_F(ExtractTest, HostileNamesLinksAndSetIdBitsStayInsideTheSandbox) {
  ZipBuilder b;
  for (std::string name : {"../evil", "a/../../evil", "..", ".", "", "x/.."})
    b.Add(Entry(name, "evil"));
  b.Add(Entry("/abs/evil", "inside"));
  b.Add(Entry("C:\\x\\evil", "literal backslashes"));
  b.Add(Entry("link", "/tmp", 0120777, 0));
  b.Add(Entry("link/payload", "payload"));
  b.Add(Entry("device", "", 020644, 0));
  // What "zip -" stores for a pipe: data with a FIFO mode. It is a regular file once extracted.
  b.Add(Entry("fifo", "piped data", 010600, 0));
  // bsdtar's entry for the folder it archived: the extraction folder itself, passed over quietly.
  b.Add(Entry("./", "", 040755, 0));
  b.Add(Entry("suid", "#!/bin/sh\n", 0106755));
  TempDir dir;
  std::string dest = dir / "sand/box";
  Fixture f(b.Build());
  f.z.SetDestDir(dest);
  f.z.RecreateDirs = true;
  f.z.DoAll = true;
  f.z.Extract();
  EXPECT_EQ(Tree(dir.path()),
            (std::vector<std::string>{"sand", "sand/box", "sand/box/C:\\x\\evil", "sand/box/abs",
                                      "sand/box/abs/evil", "sand/box/fifo", "sand/box/link",
                                      "sand/box/link/payload", "sand/box/suid"}));
  EXPECT_EQ(ModeOf(dest + "/suid") & 07777, ::geteuid() == 0 ? 06755u : 0755u);
  EXPECT_TRUE(S_ISREG(ModeOf(dest + "/fifo")));
  EXPECT_EQ(ModeOf(dest + "/fifo") & 07777, 0600u);
  EXPECT_EQ(ReadFile(dest + "/fifo"), "piped data");
  std::vector<std::string> skipped;
  for (auto& s : f.skips) {
    EXPECT_EQ(s.reason, srCreateError) << s.name;
    skipped.push_back(s.name);
  }
  EXPECT_EQ(skipped, (std::vector<std::string>{"../evil", "a/../../evil", "..", ".", "", "x/..",
                                               "link", "device"}));
}

TEST_F(ExtractTest, ExistingLinksInTheTargetTreeAreNeverFollowed) {
  TempDir dir;
  std::string dest = dir / "dest";
  std::string outside = dir / "outside";
  std::filesystem::create_directories(dest);
  std::filesystem::create_directories(outside);
  WriteFile(outside + "/victim.txt", "untouched");
  ASSERT_EQ(symlink((outside + "/victim.txt").c_str(), (dest + "/file.txt").c_str()), 0);
  ASSERT_EQ(symlink(outside.c_str(), (dest + "/dir").c_str()), 0);
  ZipBuilder b;
  b.Add(Entry("file.txt", "replaces the link"));
  b.Add(Entry("dir/planted.txt", "must not go through"));
  Fixture f(b.Build());
  f.z.SetDestDir(dest);
  f.z.RecreateDirs = true;
  f.z.DoAll = true;
  f.z.OverwriteMode = TUZOverwriteMode::Always;
  EXPECT_EQ(f.z.Extract(), 1);
  EXPECT_EQ(ReadFile(outside + "/victim.txt"), "untouched");
  EXPECT_FALSE(S_ISLNK(ModeOf(dest + "/file.txt")));
  EXPECT_EQ(ReadFile(dest + "/file.txt"), "replaces the link");
  EXPECT_FALSE(Exists(outside + "/planted.txt"));
  ASSERT_EQ(f.skips.size(), 1u);
  EXPECT_EQ(f.skips[0].reason, srCreateError);
}

TEST_F(ExtractTest, OwnFolderLinksAreFollowedOnlyWhenAskedAndLoopsEnd) {
  TempDir dir;
  std::string dest = dir / "dest";
  std::filesystem::create_directories(dest);
  std::filesystem::create_directories(dir / "real/data");
  // dest/a -> b -> ../real/data (a chain, one step with ".."); dest/loop1 <-> dest/loop2.
  ASSERT_EQ(symlink("b", (dest + "/a").c_str()), 0);
  ASSERT_EQ(symlink("../real/data", (dest + "/b").c_str()), 0);
  ASSERT_EQ(symlink("loop2", (dest + "/loop1").c_str()), 0);
  ASSERT_EQ(symlink("loop1", (dest + "/loop2").c_str()), 0);
  ZipBuilder b;
  b.Add(Entry("a/x/file.txt", "through the chain"));
  b.Add(Entry("loop1/file.txt", "never"));
  std::string bytes = b.Build();
  for (bool follow : {false, true}) {
    Fixture f(bytes);
    f.z.SetDestDir(dest);
    f.z.RecreateDirs = true;
    f.z.DoAll = true;
    f.z.FollowOwnLinks = follow;
    EXPECT_EQ(f.z.Extract(), follow ? 1 : 0);
    EXPECT_EQ(Exists(dir / "real/data/x/file.txt"), follow);
    EXPECT_EQ(f.skips.size(), follow ? 1u : 2u);
  }
}

namespace {

std::string Bzip2Of(const std::string& data) {
  std::string out(data.size() + data.size() / 100 + 600, '\0');
  unsigned n = static_cast<unsigned>(out.size());
  EXPECT_EQ(BZ2_bzBuffToBuffCompress(out.data(), &n, const_cast<char*>(data.data()),
                                     static_cast<unsigned>(data.size()), 9, 0, 0),
            BZ_OK);
  out.resize(n);
  return out;
}

// Runs one liblzma encoder over data.
std::string LzmaRun(lzma_stream& s, const std::string& data) {
  std::string out(data.size() + 65536, '\0');
  s.next_in = reinterpret_cast<const uint8_t*>(data.data());
  s.avail_in = data.size();
  s.next_out = reinterpret_cast<uint8_t*>(out.data());
  s.avail_out = out.size();
  EXPECT_EQ(lzma_code(&s, LZMA_FINISH), LZMA_STREAM_END);
  out.resize(out.size() - s.avail_out);
  lzma_end(&s);
  return out;
}

// Zip's LZMA data: version, properties size, properties (the dictionary size as given), then
// raw LZMA1, which ends with an end marker (flag bit 1 says so).
std::string ZipLzmaOf(const std::string& data, uint32_t claimedDict) {
  lzma_options_lzma opt;
  lzma_lzma_preset(&opt, 6);
  opt.dict_size = 1 << 20;
  lzma_filter f[2] = {{LZMA_FILTER_LZMA1, &opt}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream s = LZMA_STREAM_INIT;
  EXPECT_EQ(lzma_raw_encoder(&s, f), LZMA_OK);
  std::string body = LzmaRun(s, data);
  uint8_t props[5];
  EXPECT_EQ(lzma_properties_encode(f, props), LZMA_OK);
  for (int i = 0; i < 4; ++i) props[1 + i] = static_cast<uint8_t>(claimedDict >> (8 * i));
  return std::string("\x10\x02\x05\x00", 4) + std::string(reinterpret_cast<char*>(props), 5) + body;
}

// An XZ stream; with hugeDict its block header claims a 4 GiB dictionary (CRC made good).
std::string XzOf(const std::string& data, bool hugeDict = false) {
  lzma_stream s = LZMA_STREAM_INIT;
  EXPECT_EQ(lzma_easy_encoder(&s, 6, LZMA_CHECK_CRC32), LZMA_OK);
  std::string xz = LzmaRun(s, data);
  if (hugeDict) {
    // Block header: size, flags (sizes present?), sizes, then filter id 0x21, 1, dictionary.
    const size_t start = 12, size = (static_cast<uint8_t>(xz[start]) + 1u) * 4;
    const uint8_t flags = static_cast<uint8_t>(xz[start + 1]);
    size_t p = start + 2;
    for (int field = 0; field < ((flags >> 6) & 1) + ((flags >> 7) & 1); ++field)
      while (static_cast<uint8_t>(xz[p++]) & 0x80) {
      }
    EXPECT_EQ(xz[p], 0x21);
    xz[p + 2] = 40;
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(xz.data() + start), size - 4);
    for (int i = 0; i < 4; ++i) xz[start + size - 4 + i] = static_cast<char>(crc >> (8 * i));
  }
  return xz;
}

// A Zstandard frame with a window descriptor; hugeWindow claims 1 GiB.
std::string ZstdOf(const std::string& data, bool hugeWindow = false) {
  ZSTD_CCtx* c = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(c, ZSTD_c_contentSizeFlag, 0);
  std::string out(ZSTD_compressBound(data.size()), '\0');
  size_t n = ZSTD_compress2(c, out.data(), out.size(), data.data(), data.size());
  ZSTD_freeCCtx(c);
  EXPECT_FALSE(ZSTD_isError(n));
  out.resize(n);
  EXPECT_EQ(out[4] & 0x20, 0);  // not a single segment: the window descriptor follows
  if (hugeWindow) out[5] = static_cast<char>((30 - 10) << 3);
  return out;
}

// Deflate data of zlib without matches of length 258 is Deflate64 data too.
std::string StoredDeflateOf(const std::string& data) {
  return RawDeflate(data, 0);
}

}  // namespace

// Every decoder's bad input fails its entry alone: a dictionary or window beyond the entry's
// limit is refused (with a box when extracting) before it is allocated, a cut stream is truncated
// data, output past the stated size is refused, damaged data is damage; good entries of every
// method around them extract.
TEST_F(ExtractTest, HostileStreamsOfEveryDecoderFailTheirEntryAlone) {
  std::string text;
  for (int i = 0; i < 9000; ++i) text += "row " + std::to_string(i * 31 % 997) + " of a table\n";
  const std::string lzma = ZipLzmaOf(text, 1 << 20), bz = Bzip2Of(text), xz = XzOf(text),
                    zs = ZstdOf(text), d64 = StoredDeflateOf(text);
  std::string damagedBz = bz;
  damagedBz[bz.size() / 2] ^= 0x55;
  struct TRow {
    const char* name;
    uint16_t method, flags;
    std::string packed;
    int64_t declared;  // -1: the real size
    TEntryProblem problem;
  };
  const TRow rows[] = {
      {"good.lzma", 14, 2, lzma, -1, TEntryProblem::None},
      {"good.bz2", 12, 0, bz + bz, static_cast<int64_t>(2 * text.size()), TEntryProblem::None},
      {"good.xz", 95, 0, xz, -1, TEntryProblem::None},
      {"good.zst", 93, 0, zs + zs, static_cast<int64_t>(2 * text.size()), TEntryProblem::None},
      {"good.d64", 9, 0, d64, -1, TEntryProblem::None},
      // An encoder's preset dictionary on a small file: no more than the file is needed.
      {"preset.lzma", 14, 2, ZipLzmaOf("tiny", 64 << 20), 4, TEntryProblem::None},
      {"dict4g.lzma", 14, 2, ZipLzmaOf(text, 0xFFFFFFFF), int64_t{1} << 31,
       TEntryProblem::DecoderMemory},
      {"dict64m.lzma", 14, 0, ZipLzmaOf("tiny", 64 << 20), int64_t{1} << 30,
       TEntryProblem::DecoderMemory},
      {"dict4g.xz", 95, 0, XzOf(text, true), -1, TEntryProblem::DecoderMemory},
      {"window1g.zst", 93, 0, ZstdOf(text, true), -1, TEntryProblem::DecoderMemory},
      {"cut.lzma", 14, 2, lzma.substr(0, lzma.size() / 2), -1, TEntryProblem::Truncated},
      {"cut.bz2", 12, 0, bz.substr(0, bz.size() / 2), -1, TEntryProblem::Truncated},
      {"cut.xz", 95, 0, xz.substr(0, xz.size() / 2), -1, TEntryProblem::Truncated},
      {"cut.zst", 93, 0, zs.substr(0, zs.size() / 2), -1, TEntryProblem::Truncated},
      {"cut.d64", 9, 0, d64.substr(0, d64.size() / 2), -1, TEntryProblem::Truncated},
      {"long.lzma", 14, 2, lzma, 1000, TEntryProblem::TooLong},
      {"long.bz2", 12, 0, bz, 1000, TEntryProblem::TooLong},
      {"long.xz", 95, 0, xz, 1000, TEntryProblem::TooLong},
      {"long.zst", 93, 0, zs, 1000, TEntryProblem::TooLong},
      {"long.d64", 9, 0, d64, 1000, TEntryProblem::TooLong},
      {"damaged.bz2", 12, 0, damagedBz, -1, TEntryProblem::DamagedData},
  };
  ZipBuilder b;
  for (const auto& r : rows) {
    BuildEntry e = Entry(r.name, r.declared == 4 ? "tiny" : text, 0100644, r.method);
    if (r.name == std::string("good.bz2") || r.name == std::string("good.zst")) e.data += text;
    e.flags = r.flags;
    e.compressed = r.packed;
    e.declaredSize = r.declared;
    b.Add(e);
  }
  const std::string bytes = b.Build();
  Fixture t(bytes);
  EXPECT_FALSE(t.z.TestArchive());
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(rows[i].name);
    EXPECT_EQ(t.z.EntryHeader(static_cast<int>(i)).Problem, rows[i].problem);
  }

  TempDir dir;
  ScriptedHost host;
  Fixture f(bytes);
  f.z.Host = &host;
  f.z.SetDestDir(dir.path());
  f.z.DoAll = true;
  EXPECT_EQ(f.z.Extract(), 6);
  EXPECT_EQ(Tree(dir.path()), (std::vector<std::string>{"good.bz2", "good.d64", "good.lzma",
                                                        "good.xz", "good.zst", "preset.lzma"}));
  EXPECT_TRUE(ReadFile(dir / "good.xz") == text);
  int memoryBoxes = 0;
  for (const auto& box : host.boxes) memoryBoxes += box.id == zmDecoderMemory;
  EXPECT_EQ(memoryBoxes, 4);
  EXPECT_EQ(host.boxes.size(), 4u);
}

TEST_F(ExtractTest, UnknownMethodShowsZipErrorWhenExtractingAndIsSilentWhenTesting) {
  ZipBuilder b;
  BuildEntry e = Entry("odd.bin", "data", 0100644, 0);
  b.Add(e);
  std::string bytes = b.Build();
  // Methods 97 (WavPack) and 98 (PPMd) in both headers; PPMd is named as not available.
  for (char method : {97, 98}) {
    for (size_t at = bytes.find("PK\x03\x04"); at != std::string::npos;
         at = bytes.find("PK\x03\x04", at + 1))
      bytes[at + 8] = method;
    size_t cd = bytes.find("PK\x01\x02");
    bytes[cd + 10] = method;
    TempDir dir;
    ScriptedHost host;
    Fixture f(bytes);
    f.z.Host = &host;
    f.z.SetDestDir(dir.path());
    f.z.DoAll = true;
    EXPECT_EQ(f.z.Extract(), 0);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].title, "Zip Error");
    EXPECT_EQ(host.boxes[0].text,
              method == 98 ? "Unknown Compression Method: PPMd (method 98) is not available"
                           : "Unknown Compression Method");
    EXPECT_TRUE(Tree(dir.path()).empty());
    EXPECT_FALSE(f.z.TestArchive());
    EXPECT_EQ(host.boxes.size(), 1u);
  }
}

TEST_F(ExtractTest, ShrunkReducedAndImplodedEntriesExtract) {
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "row " + std::to_string(i % 97) + " \x90 of the table\n";
  struct Legacy {
    const char* name;
    uint16_t method, flags;
    std::string packed;
    std::string password;
  };
  const Legacy entries[] = {
      {"shrink.txt", 1, 0, legacyenc::Shrink(text), ""},
      {"reduce1.txt", 2, 0, legacyenc::Reduce(text, 1), ""},
      {"reduce2.txt", 3, 0, legacyenc::Reduce(text, 2), ""},
      {"reduce3.txt", 4, 0, legacyenc::Reduce(text, 3), ""},
      {"reduce4.txt", 5, 0, legacyenc::Reduce(text, 4), ""},
      {"implode4k2.txt", 6, 0, legacyenc::Implode(text, false, false), ""},
      {"implode4k3.txt", 6, 4, legacyenc::Implode(text, false, true), ""},
      {"implode8k2.txt", 6, 2, legacyenc::Implode(text, true, false), ""},
      {"implode8k3.txt", 6, 6, legacyenc::Implode(text, true, true), ""},
      {"secret.txt", 1, 0, legacyenc::Shrink(text), "secret"},
      // Damaged: the stream cut to half its length.
      {"cut.txt", 6, 6, legacyenc::Implode(text, true, true).substr(0, 300), ""},
  };
  ZipBuilder b;
  for (const auto& l : entries) {
    BuildEntry e = Entry(l.name, text, 0100644, l.method);
    e.flags = l.flags;
    e.compressed = l.packed;
    e.password = l.password;
    b.Add(e);
  }
  TempDir dir;
  Fixture f(b.Build());
  f.z.Password = "secret";
  f.z.SetDestDir(dir.path());
  f.z.DoAll = true;
  EXPECT_EQ(f.z.Extract(), 10);
  for (const auto& l : entries) {
    SCOPED_TRACE(l.name);
    const bool cut = std::string(l.name) == "cut.txt";
    EXPECT_EQ(Exists(dir / l.name), !cut);
    if (!cut) {
      EXPECT_TRUE(ReadFile(dir / l.name) == text);
    }
  }
  EXPECT_FALSE(f.z.TestArchive());
  EXPECT_EQ(f.z.EntryHeader(10).Problem, TEntryProblem::DamagedData);
}

TEST_F(ExtractTest, TestingWritesNothingAndRemembersResults) {
  ZipBuilder b;
  b.Add(Entry("dir/", "", 040755, 0));
  b.Add(Entry("dir/good.txt", "good"));
  BuildEntry bad = Entry("dir/bad.txt", "bad");
  bad.crcOverride = 1;
  b.Add(bad);
  TempDir dir;
  std::string cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  Fixture f(b.Build());
  int crcEvents = 0;
  f.z.OnBadCRC = [&](TArcUnZip*, uint32_t, uint32_t, int) { ++crcEvents; };
  EXPECT_FALSE(f.z.TestArchive());
  EXPECT_TRUE(Tree(dir.path()).empty());
  EXPECT_EQ(crcEvents, 1);
  EXPECT_TRUE(f.z.TestEntry(0));
  EXPECT_TRUE(f.z.TestEntry(1));
  EXPECT_FALSE(f.z.TestEntry(2));
  EXPECT_EQ(crcEvents, 1);  // remembered, not tested again

  ZipBuilder g;
  g.Add(Entry("a", "1"));
  Fixture one(g.Build());
  EXPECT_TRUE(one.z.TestEntry(0));
  EXPECT_EQ(one.z.EntryHeader(0).TestState, TZipTestState::Good);
  EXPECT_TRUE(one.z.TestArchive());
  std::filesystem::current_path(cwd);
}

TEST_F(ExtractTest, CancelDuringExtractionLeavesNoTemporaryFile) {
  ZipBuilder b;
  b.Add(Entry("big.bin", std::string(1 << 20, 'q'), 0100644, 0));
  b.Add(Entry("second", "2"));
  TempDir dir;
  ScriptedHost host;
  Fixture f(b.Build());
  f.z.Host = &host;
  f.z.SetDestDir(dir.path());
  f.z.DoAll = true;
  f.z.FilesList = {"ignored"};
  host.onProcessMessages = [&] {
    if (host.processed == 5) f.z.CancelOperation();
  };
  EXPECT_THROW(f.z.Extract(), EUserCanceled);
  EXPECT_TRUE(Tree(dir.path()).empty());
  EXPECT_TRUE(f.z.FilesList.empty());
  EXPECT_FALSE(f.z.Busy());
  host.onProcessMessages = nullptr;
  f.z.DoAll = true;
  EXPECT_EQ(f.z.Extract(), 2);
}
