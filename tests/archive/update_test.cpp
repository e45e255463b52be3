// Rewriting existing archives: update actions and their events, kept entries copied byte for
// byte, removing entries, comment and stored-folder changes, the old archive left intact by a
// cancel or a full temporary folder, self-extractor heads and conversions, and the configuration
// block of the self-extractor.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "archive/arczip.h"
#include "archive/sfxconfig.h"
#include "archive/zipexceptions.h"
#include "testhost.h"
#include "testutil.h"
#include "zipbuilder.h"

using testutil::Exists;
using testutil::ReadFile;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

void SetMTime(const std::string& path, time_t t) {
  struct timespec ts[2] = {{t, 0}, {t, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), ts, 0), 0) << path;
}

constexpr time_t kOld = 1700000000;  // 2023-11-14
constexpr time_t kNew = 1710000000;  // 2024-03-09

std::vector<std::string> FolderNames(const std::string& dir) {
  std::vector<std::string> out;
  for (auto& e : std::filesystem::directory_iterator(dir)) out.push_back(e.path().filename());
  std::sort(out.begin(), out.end());
  return out;
}

// Five files f1..f5 (f5 large enough to take several buffers) under dir/src, dated kOld.
std::vector<std::string> MakeFiles(const std::string& dir) {
  std::filesystem::create_directories(dir + "/src");
  std::vector<std::string> paths;
  for (int i = 1; i <= 5; ++i) {
    std::string p = dir + "/src/f" + std::to_string(i) + ".txt";
    std::string data;
    for (int k = 0; k < (i == 5 ? 60000 : 200 * i); ++k) data += std::to_string(k * i) + "\n";
    WriteFile(p, data);
    SetMTime(p, kOld);
    paths.push_back(p);
  }
  return paths;
}

// The stored bytes of every entry (local header fields after the signature excluded): what
// copying must leave unchanged.
std::map<std::string, std::string> RawData(const std::string& archive) {
  TArcZip z;
  z.SetZipName(archive);
  z.ReadArchive();
  std::string bytes = ReadFile(archive);
  std::map<std::string, std::string> out;
  for (int i = 0; i < z.EntryCount(); ++i) {
    const TZipHeaderInfo& h = z.EntryHeader(i);
    size_t lho = h.LocalHeaderOffset();
    auto* p = reinterpret_cast<const uint8_t*>(bytes.data() + lho);
    size_t data = lho + 30 + GetU16(p + 26) + GetU16(p + 28);
    out[h.FullName()] = bytes.substr(data, h.CompressedSize());
  }
  return out;
}

struct Events {
  std::vector<std::pair<TSkipReason, std::string>> skips;
  std::vector<std::pair<TUpdateAction, std::string>> updates;
  int completed = -1;
};

void Watch(TArcZip& z, Events& ev) {
  z.OnSkippingFile = [&ev](TArcUnZip*, TSkipReason r, const std::string& n, int, bool&) {
    ev.skips.push_back({r, n});
  };
  z.OnUpdate = [&ev](TArcUnZip* s, TUpdateAction a, int index) {
    ev.updates.push_back({a, s->EntryFullName(index)});
  };
  z.OnZipComplete = [&ev](TArcUnZip*, int n) { ev.completed = n; };
}

// An archive of the five files with stored folders relative to dir.
std::string MakeArchive(const TempDir& t, const std::string& name = "a.zip") {
  MakeFiles(t.path());
  TArcZip z;
  z.StorePaths = true;
  z.SetZipName(t / name);
  z.RootDir = t.path();
  std::string cwd = std::filesystem::current_path();
  std::filesystem::current_path(t.path());
  for (int i = 1; i <= 5; ++i) z.FilesList.push_back("src/f" + std::to_string(i) + ".txt");
  int n = z.ZipFiles();
  std::filesystem::current_path(cwd);
  EXPECT_EQ(n, 5);
  return t / name;
}

// Runs fn with the current folder set to dir (restored also when fn raises).
template <class F>
void InFolder(const std::string& dir, F fn) {
  struct TRestore {
    std::string cwd = std::filesystem::current_path();
    ~TRestore() { std::filesystem::current_path(cwd); }
  } restore;
  std::filesystem::current_path(dir);
  fn();
}

std::string ExtractOne(const std::string& archive, const std::string& name,
                       const std::string& password = "") {
  TArcZip z;
  z.SetZipName(archive);
  z.Password = password;
  z.ReadArchive();
  TempDir out;
  z.SetDestDir(out.path());
  z.FilesList = {name};
  EXPECT_EQ(z.Extract(), 1) << name;
  std::string base = name.substr(name.rfind('/') + 1);
  return Exists(out / base) ? ReadFile(out / base) : std::string();
}

}  // namespace

TEST(Update, NewerFilesReplaceTheirEntriesInPlaceAndTheRestIsCopiedByteForByte) {
  TempDir t;
  std::string zip = MakeArchive(t);
  auto before = RawData(zip);
  WriteFile(t / "src/f2.txt", "second, changed\n");
  SetMTime(t / "src/f2.txt", kNew);
  SetMTime(t / "src/f4.txt", kNew);  // same content, newer date
  WriteFile(t / "src/f6.txt", "new file\n");

  TArcZip z;
  Events ev;
  Watch(z, ev);
  z.StorePaths = true;
  z.SetZipName(zip);
  InFolder(t.path(), [&] {
    z.FilesList = {"src/f1.txt", "src/f2.txt", "src/f3.txt",
                   "src/f4.txt", "src/f5.txt", "src/f6.txt"};
    EXPECT_EQ(z.ZipFiles(), 3);
  });
  EXPECT_EQ(ev.completed, 3);
  EXPECT_TRUE(z.FilesList.empty());
  std::vector<std::pair<TUpdateAction, std::string>> want = {
      {TUpdateAction::upKeep, "src/f1.txt"},
      {TUpdateAction::upReplace, "src/f2.txt"},
      {TUpdateAction::upKeep, "src/f3.txt"},
      {TUpdateAction::upReplace, "src/f4.txt"},
      {TUpdateAction::upKeep, "src/f5.txt"}};
  EXPECT_EQ(ev.updates, want);

  // Replacements keep their places; the new file comes last.
  ASSERT_EQ(z.EntryCount(), 6);
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(z.EntryFullName(i), "src/f" + std::to_string(i + 1) + ".txt");
  auto after = RawData(zip);
  for (const char* kept : {"src/f1.txt", "src/f3.txt", "src/f5.txt"})
    EXPECT_EQ(after[kept], before[kept]) << kept;
  EXPECT_EQ(ExtractOne(zip, "src/f2.txt"), "second, changed\n");
  EXPECT_EQ(ExtractOne(zip, "src/f4.txt"), ReadFile(t / "src/f4.txt"));
  EXPECT_TRUE(z.TestArchive());
}

TEST(Update, DatesCompareToTheSecondAndActionsDecide) {
  TempDir t;
  std::string zip = MakeArchive(t);
  std::string original = ReadFile(zip);
  // The file as it was stored: the entry is as new as the file.
  TArcZip z;
  Events ev;
  Watch(z, ev);
  z.StorePaths = true;
  z.SetZipName(zip);
  InFolder(t.path(), [&] {
    z.FilesList = {"src/f1.txt"};
    EXPECT_EQ(z.ZipFiles(), 0);
  });
  ASSERT_EQ(ev.updates.size(), 5u);
  for (auto& u : ev.updates) EXPECT_EQ(u.first, TUpdateAction::upKeep) << u.second;
  EXPECT_EQ(ReadFile(zip), original);  // nothing changed: nothing rewritten

  // One second later is newer: the entry's UTC time is kept to the second (the DOS time alone
  // would be the same 2-second step).
  SetMTime(t / "src/f1.txt", kOld + 1);
  ev = Events();
  InFolder(t.path(), [&] {
    z.FilesList = {"src/f1.txt"};
    EXPECT_EQ(z.ZipFiles(), 1);
  });
  EXPECT_EQ(ev.updates.at(0).first, TUpdateAction::upReplace);

  // zaReplace stores the file whatever its date.
  ev = Events();
  z.ZipAction = TZipAction::zaReplace;
  InFolder(t.path(), [&] {
    z.FilesList = {"src/f1.txt"};
    EXPECT_EQ(z.ZipFiles(), 1);
  });
  EXPECT_EQ(ev.updates.at(0).first, TUpdateAction::upReplace);

  // zaFreshen: a file without an entry gives reason 6 and the archive is not touched at all.
  WriteFile(t / "src/new.txt", "x");
  std::string now = ReadFile(zip);
  ev = Events();
  z.ZipAction = TZipAction::zaFreshen;
  InFolder(t.path(), [&] {
    z.FilesList = {"src/new.txt"};
    EXPECT_EQ(z.ZipFiles(), 0);
  });
  ASSERT_EQ(ev.skips.size(), 1u);
  EXPECT_EQ(ev.skips[0].first, srNoFileToFreshen);
  EXPECT_EQ(ev.completed, 0);
  EXPECT_EQ(ReadFile(zip), now);
  EXPECT_EQ(z.EntryCount(), 5);
}

TEST(Update, EntryIdentityIsTheStoredNameAndAFileGivenTwiceIsStoredOnce) {
  TempDir t;
  std::string zip = MakeArchive(t);
  WriteFile(t / "src/F1.txt", "upper case twin\n");  // another file on this system
  TArcZip z;
  Events ev;
  Watch(z, ev);
  z.StorePaths = true;
  z.SetZipName(zip);
  InFolder(t.path(), [&] {
    z.FilesList = {"src/F1.txt", "src/F1.txt"};
    EXPECT_EQ(z.ZipFiles(), 1);
  });
  // One file given twice is one file: nothing was refused.
  EXPECT_TRUE(ev.skips.empty());
  ASSERT_EQ(z.EntryCount(), 6);
  EXPECT_EQ(z.EntryFullName(0), "src/f1.txt");
  EXPECT_EQ(z.EntryFullName(5), "src/F1.txt");
  EXPECT_EQ(ev.updates.at(0).first, TUpdateAction::upKeep);

  // A name that is not UTF-8 (Latin-1 "café") is the same entry on every update.
  const std::string latin = "src/caf\xe9.txt";
  WriteFile(t / latin, "first\n");
  for (const char* content : {"first\n", "second\n"}) {
    WriteFile(t / latin, content);
    TArcZip u;
    u.StorePaths = true;
    u.ZipAction = TZipAction::zaReplace;
    u.SetZipName(zip);
    InFolder(t.path(), [&] {
      u.FilesList = {latin};
      EXPECT_EQ(u.ZipFiles(), 1);
    });
    ASSERT_EQ(u.EntryCount(), 7);
    EXPECT_EQ(u.EntryFullName(6), latin);
    EXPECT_TRUE(u.TestArchive());
  }
  EXPECT_EQ(ExtractOne(zip, latin), "second\n");

  // An entry from a DOS host named in code page 437 ("caf\x82.txt") is the file "café.txt" here:
  // the file replaces it instead of joining it under a second name.
  ZipBuilder b;
  BuildEntry dos;
  dos.name = "caf\x82.txt";
  dos.data = "old\n";
  dos.versionMadeBy = 20;
  b.Add(dos);
  WriteFile(t / "dos.zip", b.Build());
  WriteFile(t / "café.txt", "new\n");
  TArcZip d;
  d.ZipAction = TZipAction::zaReplace;
  d.SetZipName(t / "dos.zip");
  d.FilesList = {t / "café.txt"};
  EXPECT_EQ(d.ZipFiles(), 1);
  ASSERT_EQ(d.EntryCount(), 1);
  EXPECT_EQ(d.EntryFullName(0), "café.txt");
  EXPECT_EQ(ExtractOne(t / "dos.zip", "café.txt"), "new\n");
}

TEST(Update, ARewriteThatWouldNotReadBackLeavesTheArchiveAsItWas) {
  TempDir t;
  std::string zip = MakeArchive(t);
  std::filesystem::create_directories(t / "tmp");
  std::string original = ReadFile(zip);
  TArcZip z;
  z.TempPath = t / "tmp";
  z.SetZipName(zip);
  z.ReadArchive();
  // A comment that ends like an end record with no entries: written as it is, the archive
  // would read back as an empty one.
  std::string fake = "PK\x05\x06";
  fake.append(18, '\0');
  z.SetArchiveComment("note" + fake);
  try {
    z.SaveArchiveChanges();
    ADD_FAILURE() << "saved";
  } catch (const EBadZipFile& e) {
    EXPECT_NE(std::string(e.what()).find("does not read back"), std::string::npos) << e.what();
  }
  EXPECT_EQ(ReadFile(zip), original);
  EXPECT_TRUE(FolderNames(t / "tmp").empty());
  TArcZip r;
  r.SetZipName(zip);
  r.ReadArchive();
  EXPECT_EQ(r.EntryCount(), 5);
}

TEST(Update, AnArchiveNameMustBeARegularFileOrALinkToOne) {
  TempDir t;
  MakeFiles(t.path());
  ASSERT_EQ(mkfifo((t / "fifo.zip").c_str(), 0644), 0);
  std::filesystem::create_directories(t / "folder.zip");
  ASSERT_EQ(symlink("nowhere", (t / "dangling.zip").c_str()), 0);
  for (const char* name : {"fifo.zip", "folder.zip", "dangling.zip"}) {
    TArcZip z;
    z.SetZipName(t / name);
    z.FilesList = {t / "src/f1.txt"};
    EXPECT_THROW(z.ZipFiles(), EArcZipException) << name;
  }
  struct stat st;
  ASSERT_EQ(lstat((t / "fifo.zip").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  // Nor is a FIFO read as an archive (opening it would wait for a writer).
  TArcZip r;
  r.SetZipName(t / "fifo.zip");
  EXPECT_THROW(r.ReadArchive(), std::system_error);
  ASSERT_EQ(lstat((t / "dangling.zip").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_FALSE(Exists(t / "nowhere"));

  // A link to an empty file: the archive is written where the link points, as an update would.
  WriteFile(t / "empty.zip", "");
  ASSERT_EQ(symlink("empty.zip", (t / "link.zip").c_str()), 0);
  TArcZip z;
  z.SetZipName(t / "link.zip");
  z.FilesList = {t / "src/f1.txt"};
  EXPECT_EQ(z.ZipFiles(), 1);
  ASSERT_EQ(lstat((t / "link.zip").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ExtractOne(t / "empty.zip", "f1.txt"), ReadFile(t / "src/f1.txt"));
}

TEST(Update, AFileThatCannotBeStoredLeavesItsEntry) {
  TempDir t;
  std::string zip = MakeArchive(t);
  SetMTime(t / "src/f3.txt", kNew);
  TArcZip z;
  Events ev;
  Watch(z, ev);
  z.StorePaths = true;
  z.SetZipName(zip);
  z.OnStartZip = [](TArcUnZip*, const std::string&, TZipHeaderInfo&, bool& skip) { skip = true; };
  InFolder(t.path(), [&] {
    z.FilesList = {"src/f3.txt"};
    EXPECT_EQ(z.ZipFiles(), 0);
  });
  EXPECT_EQ(z.EntryCount(), 5);
  EXPECT_EQ(ExtractOne(zip, "src/f3.txt"), ReadFile(t / "src/f3.txt"));
}

TEST(Update, AnArchiveReachedThroughALinkIsUpdatedWhereItLies) {
  TempDir t;
  std::string zip = MakeArchive(t);
  ASSERT_EQ(symlink("a.zip", (t / "link.zip").c_str()), 0);
  SetMTime(t / "src/f1.txt", kNew);
  TArcZip z;
  z.StorePaths = true;
  z.SetZipName(t / "link.zip");
  InFolder(t.path(), [&] {
    z.FilesList = {"src/f1.txt"};
    EXPECT_EQ(z.ZipFiles(), 1);
  });
  struct stat st;
  ASSERT_EQ(lstat((t / "link.zip").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  TArcZip r;
  r.SetZipName(zip);
  r.ReadArchive();
  EXPECT_EQ(r.EntryHeader(0).ModifDateTime, TimeToDosDateTime(kNew));
}

TEST(Update, AFileThatIsNotAnArchiveIsNeverReplaced) {
  TempDir t;
  MakeFiles(t.path());
  WriteFile(t / "notes.zip", "these are my notes, not an archive");
  TArcZip z;
  z.SetZipName(t / "notes.zip");
  z.IncompleteZipMode = TIncompleteZipMode::izAssumeMulti;
  z.FilesList = {t / "src/f1.txt"};
  EXPECT_THROW(z.ZipFiles(), EArcZipException);
  EXPECT_EQ(ReadFile(t / "notes.zip"), "these are my notes, not an archive");
}

TEST(Update, CancelAtAnyPointLeavesTheArchiveAndNoTemporaryFile) {
  TempDir t;
  std::string zip = MakeArchive(t);
  std::filesystem::create_directories(t / "tmp");
  SetMTime(t / "src/f2.txt", kNew);
  SetMTime(t / "src/f5.txt", kNew);
  WriteFile(t / "src/f6.txt", std::string(300000, 'x'));
  std::string original = ReadFile(zip);
  // Cancel at the n-th message check, for every n until a run gets through.
  bool finished = false;
  for (int n = 1; n < 400 && !finished; ++n) {
    TArcZip z;
    ScriptedHost host;
    z.Host = &host;
    z.StorePaths = true;
    z.TempPath = t / "tmp";
    z.SetZipName(zip);
    host.onProcessMessages = [&] {
      if (host.processed == n) z.CancelOperation();
    };
    bool canceled = false;
    InFolder(t.path(), [&] {
      z.FilesList = {"src/f2.txt", "src/f5.txt", "src/f6.txt"};
      try {
        z.ZipFiles();
        finished = true;
      } catch (const EUserCanceled& e) {
        canceled = true;
        EXPECT_STREQ(e.what(), "User Aborted Operation");
      }
    });
    EXPECT_TRUE(z.FilesList.empty());
    EXPECT_TRUE(FolderNames(t / "tmp").empty()) << n;
    if (canceled) {
      ASSERT_EQ(ReadFile(zip), original) << "cancelled at check " << n;
      EXPECT_EQ(FolderNames(t.path()), (std::vector<std::string>{"a.zip", "src", "tmp"}));
    }
  }
  EXPECT_TRUE(finished);
  EXPECT_NE(ReadFile(zip), original);
}

TEST(Update, AReplacedArchiveStaysUnderItsNameUntilTheNewOneIsComplete) {
  TempDir t;
  std::string zip = MakeArchive(t);
  ASSERT_EQ(::chmod(zip.c_str(), 0600), 0);
  WriteFile(t / "src/f6.txt", std::string(300000, 'x'));
  std::string original = ReadFile(zip);
  // A cancel at every message check: the old archive is whole under its name, nothing is left.
  bool finished = false;
  for (int n = 1; n < 400 && !finished; ++n) {
    TArcZip z;
    ScriptedHost host;
    z.Host = &host;
    z.StorePaths = true;
    z.ReplaceArchive = true;
    z.SetZipName(zip);
    host.onProcessMessages = [&] {
      if (host.processed == n) z.CancelOperation();
      // While the new archive is written, its temporary file carries the writer's mark.
      for (const std::string& f : FolderNames(t.path()))
        EXPECT_TRUE(f == "a.zip" || f == "src" || f.rfind(".a.zip.arcavo-", 0) == 0) << f;
    };
    InFolder(t.path(), [&] {
      z.FilesList = {"src/f6.txt"};
      try {
        EXPECT_EQ(z.ZipFiles(), 1);
        finished = true;
      } catch (const EUserCanceled&) {
      }
    });
    if (!finished) {
      ASSERT_EQ(ReadFile(zip), original) << "cancelled at check " << n;
    }
    EXPECT_EQ(FolderNames(t.path()), (std::vector<std::string>{"a.zip", "src"})) << n;
  }
  ASSERT_TRUE(finished);
  // Only the new file; the archive keeps its permissions.
  TArcZip r;
  r.SetZipName(zip);
  r.ReadArchive();
  ASSERT_EQ(r.EntryCount(), 1);
  EXPECT_EQ(r.EntryFullName(0), "src/f6.txt");
  struct stat st;
  ASSERT_EQ(::stat(zip.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST(Update, ACancelSeenWhileTheNewDirectoryIsReadBackIsNotAFailure) {
  TempDir t;
  MakeFiles(t.path());
  // Cancel at the n-th message check; a run that raised must have left no archive behind, and
  // one that wrote its archive must report success.
  for (int n = 1; n < 200; ++n) {
    std::filesystem::remove(t / "new.zip");
    TArcZip z;
    ScriptedHost host;
    z.Host = &host;
    z.SetZipName(t / "new.zip");
    host.onProcessMessages = [&] {
      if (host.processed == n) z.CancelOperation();
    };
    z.FilesList = {t / "src/f1.txt", t / "src/f2.txt"};
    bool canceled = false;
    try {
      z.ZipFiles();
    } catch (const EUserCanceled&) {
      canceled = true;
    }
    EXPECT_EQ(canceled, !Exists(t / "new.zip")) << n;
    if (!canceled) break;
  }
}

TEST(Update, StopNowAtTheStartLeavesTheArchiveUntouched) {
  TempDir t;
  std::string zip = MakeArchive(t);
  std::string original = ReadFile(zip);
  SetMTime(t / "src/f1.txt", kNew);
  TArcZip z;
  Events ev;
  Watch(z, ev);
  z.StorePaths = true;
  z.SetZipName(zip);
  int infoFiles = -1;
  z.OnStartZipInfo = [&](TArcUnZip*, int n, int64_t, TEndCentral&, bool& stop) {
    infoFiles = n;
    stop = true;
  };
  InFolder(t.path(), [&] {
    z.FilesList = {"src/f1.txt", "src/f2.txt"};
    EXPECT_THROW(z.ZipFiles(), EUserCanceled);
  });
  EXPECT_EQ(infoFiles, 2);
  EXPECT_EQ(ev.completed, -1);
  EXPECT_TRUE(ev.updates.empty());
  EXPECT_TRUE(z.FilesList.empty());
  EXPECT_EQ(ReadFile(zip), original);
}

TEST(Update, AFullTemporaryFolderLeavesTheArchiveAndNoTemporaryFile) {
  TempDir t;
  std::string zip = MakeArchive(t);
  std::filesystem::create_directories(t / "tmp");
  // Random data does not compress: the new archive cannot fit under the limit below.
  std::string noise;
  uint32_t x = 12345;
  for (int i = 0; i < 400000; ++i)
    noise.push_back(static_cast<char>((x = x * 1103515245 + 12345) >> 24));
  WriteFile(t / "src/big.bin", noise);
  std::string original = ReadFile(zip);

  // The write quota: no file of this process may grow beyond 256 KiB while the update runs.
  struct rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  struct rlimit quota = old;
  quota.rlim_cur = 256 * 1024;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &quota), 0);
  TArcZip z;
  z.StorePaths = true;
  z.TempPath = t / "tmp";
  z.SetZipName(zip);
  bool threw = false;
  InFolder(t.path(), [&] {
    z.FilesList = {"src/big.bin"};
    try {
      z.ZipFiles();
    } catch (const ENotEnoughRoom& e) {
      threw = true;
      EXPECT_STREQ(e.what(), "Not enough room to write archive");
    }
  });
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldHandler);
  EXPECT_TRUE(threw);
  EXPECT_EQ(ReadFile(zip), original);
  EXPECT_TRUE(FolderNames(t / "tmp").empty());
  EXPECT_EQ(FolderNames(t.path()), (std::vector<std::string>{"a.zip", "src", "tmp"}));
}

TEST(Update, ATemporaryFolderOnAnotherFileSystemIsCopiedBesideAndRenamed) {
  TempDir t;
  struct stat a, b;
  if (stat("/dev/shm", &b) != 0 || stat(t.path().c_str(), &a) != 0 || a.st_dev == b.st_dev)
    GTEST_SKIP() << "no second file system for temporary files";
  std::string tmp = "/dev/shm/arcavo-update-test-" + std::to_string(getpid());
  std::filesystem::create_directories(tmp);
  std::string zip = MakeArchive(t);
  chmod(zip.c_str(), 0640);
  SetMTime(t / "src/f1.txt", kNew);
  TArcZip z;
  z.StorePaths = true;
  z.TempPath = tmp;
  z.SetZipName(zip);
  InFolder(t.path(), [&] {
    z.FilesList = {"src/f1.txt"};
    EXPECT_EQ(z.ZipFiles(), 1);
  });
  EXPECT_TRUE(FolderNames(tmp).empty());
  std::filesystem::remove_all(tmp);
  EXPECT_EQ(FolderNames(t.path()), (std::vector<std::string>{"a.zip", "src"}));
  struct stat st;
  ASSERT_EQ(stat(zip.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_TRUE(z.TestArchive());
}

TEST(Remove, PatternsNamesAndSelectionWithOnDeleteEntry) {
  TempDir t;
  std::string zip = MakeArchive(t);
  auto before = RawData(zip);
  TArcZip z;
  z.SetZipName(zip);
  z.ReadArchive();
  std::vector<std::string> asked;
  z.OnDeleteEntry = [&](TArcUnZip*, const std::string& name, bool& skip) {
    asked.push_back(name);
    skip = name == "src/f4.txt";
  };
  // A pattern without a folder matches names, case-insensitively; f4 is kept by the handler.
  z.FilesList = {"F<14>.TXT"};
  EXPECT_EQ(z.RemoveEntries(), 1);
  EXPECT_EQ(asked, (std::vector<std::string>{"src/f1.txt", "src/f4.txt"}));
  EXPECT_TRUE(z.FilesList.empty());
  ASSERT_EQ(z.EntryCount(), 4);
  EXPECT_EQ(z.EntryFullName(0), "src/f2.txt");

  // A plain name is the whole stored name, exactly: another case, or the name without its
  // folder, removes nothing.
  z.FilesList = {"src/F2.txt", "f2.txt"};
  EXPECT_EQ(z.RemoveEntries(), 0);
  z.FilesList = {"src/f2.txt"};
  EXPECT_EQ(z.RemoveEntries(), 1);

  // A selection wins over the list.
  z.SetEntrySelected(0, true);  // f3
  z.FilesList = {"*"};
  EXPECT_EQ(z.RemoveEntries(), 1);
  ASSERT_EQ(z.EntryCount(), 2);
  auto after = RawData(zip);
  EXPECT_EQ(after["src/f4.txt"], before["src/f4.txt"]);
  EXPECT_EQ(after["src/f5.txt"], before["src/f5.txt"]);
  EXPECT_TRUE(z.TestArchive());

  // Removing everything leaves an empty archive (a lone end record) that still reads.
  z.OnDeleteEntry = nullptr;
  z.FilesList = {"*"};
  EXPECT_EQ(z.RemoveEntries(), 2);
  EXPECT_EQ(z.EntryCount(), 0);
  EXPECT_EQ(ReadFile(zip).substr(0, 4), "PK\x05\x06");
  TArcZip again;
  again.SetZipName(zip);
  again.ReadArchive();
  EXPECT_EQ(again.EntryCount(), 0);
}

TEST(Remove, EncryptedEntriesWithADataDescriptorStayDecryptable) {
  TempDir t;
  ZipBuilder b;
  for (int i = 1; i <= 3; ++i) {
    BuildEntry e;
    e.name = "e" + std::to_string(i) + ".txt";
    e.data = std::string(1000 * i, static_cast<char>('a' + i));
    e.method = 8;
    e.password = "secret";
    e.dataDescriptor = true;
    e.dosDateTime = 0x5A8A6000 + static_cast<uint32_t>(i) * 0x0100;  // distinct time bytes
    b.Add(e);
  }
  WriteFile(t / "enc.zip", b.Build());
  TArcZip z;
  z.SetZipName(t / "enc.zip");
  z.ReadArchive();
  z.FilesList = {"e2.txt"};
  EXPECT_EQ(z.RemoveEntries(), 1);
  ASSERT_EQ(z.EntryCount(), 2);
  for (int i = 0; i < 2; ++i) EXPECT_TRUE(z.EntryHeader(i).Flag & 0x0008);
  z.Password = "secret";
  EXPECT_TRUE(z.TestArchive());
  EXPECT_EQ(ExtractOne(t / "enc.zip", "e3.txt", "secret"), std::string(3000, 'd'));
}

TEST(Remove, CopiedEntriesGetPlainHeadersWithTheirOtherFieldsKept) {
  TempDir t;
  ZipBuilder b;
  b.Add("gone.txt", "x");
  BuildEntry desc;  // a streamed entry: sizes and CRC only in the data descriptor
  desc.name = "desc.txt";
  desc.data = std::string(5000, 'q');
  desc.method = 8;
  desc.dataDescriptor = true;
  b.Add(desc);
  BuildEntry z64;  // small values written through Zip64 fields, plus a field of another kind
  z64.name = "z64.txt";
  z64.data = "zip64 written";
  z64.zip64 = true;
  z64.centralExtra = std::string("UT\x05\x00\x01\x00\x00\x00\x00", 9);
  b.Add(z64);
  WriteFile(t / "m.zip", b.Build());
  TArcZip z;
  z.SetZipName(t / "m.zip");
  z.ReadArchive();
  z.FilesList = {"gone.txt"};
  ASSERT_EQ(z.RemoveEntries(), 1);
  ASSERT_EQ(z.EntryCount(), 2);
  const TZipHeaderInfo& d = z.EntryHeader(0);
  EXPECT_EQ(d.Flag & 0x0008, 0);
  std::string bytes = ReadFile(t / "m.zip");
  auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  // The local header now carries CRC and sizes, and no descriptor follows the data.
  EXPECT_EQ(GetU32(p + 14), d.CRC32);
  EXPECT_EQ(GetU32(p + 18), d.CompressedSize());
  EXPECT_EQ(GetU32(p + 22), 5000u);
  size_t next = 30 + GetU16(p + 26) + GetU16(p + 28) + d.CompressedSize();
  EXPECT_EQ(GetU32(p + next), zipsig::kLocalHeader);
  const TZipHeaderInfo& e = z.EntryHeader(1);
  EXPECT_EQ(e.LocalHeaderOffset(), next);
  EXPECT_FALSE(e.HasZip64());
  EXPECT_EQ(e.CentralExtra, std::string("UT\x05\x00\x01\x00\x00\x00\x00", 9));
  EXPECT_EQ(GetU16(p + next + 28), 0);  // the local Zip64 field is gone with nothing to hold
  EXPECT_TRUE(z.TestArchive());
}

TEST(Changes, SavedChangesReadBack) {
  TempDir t;
  std::string zip = MakeArchive(t);
  auto before = RawData(zip);
  TArcZip z;
  z.SetZipName(zip);
  z.ReadArchive();
  z.SetArchiveComment("Backup of Monday\r\nline two");
  z.SetEntryPath(0, "moved\\deeper");
  z.SetEntryPath(1, "");
  std::string unsaved = ReadFile(zip);
  EXPECT_EQ(unsaved, ReadFile(zip));
  z.SaveArchiveChanges();
  EXPECT_FALSE(z.EndCentral().Modified);

  TArcZip r;
  r.SetZipName(zip);
  r.ReadArchive();
  EXPECT_EQ(r.ArchiveComment(), "Backup of Monday\r\nline two");
  EXPECT_EQ(r.EntryFullName(0), "moved/deeper/f1.txt");
  EXPECT_EQ(r.EntryFullName(1), "f2.txt");
  EXPECT_EQ(RawData(zip)["moved/deeper/f1.txt"], before["src/f1.txt"]);
  EXPECT_TRUE(r.TestArchive());
}

TEST(Changes, AStoredFolderThatWouldDuplicateANameIsRefused) {
  TempDir t;
  ZipBuilder b;
  b.Add("a/x.txt", "one");
  b.Add("b/x.txt", "two");
  WriteFile(t / "d.zip", b.Build());
  TArcZip z;
  z.SetZipName(t / "d.zip");
  z.ReadArchive();
  EXPECT_THROW(z.SetEntryPath(1, "a"), EArcZipException);
  EXPECT_EQ(z.EntryFullName(1), "b/x.txt");
  EXPECT_FALSE(z.EndCentral().Modified);
  z.SetEntryPath(1, "c/");
  z.SaveArchiveChanges();
  EXPECT_EQ(ExtractOne(t / "d.zip", "c/x.txt"), "two");
}

TEST(SelfExtractor, HeadBlockAndEntriesAndConversions) {
  TempDir t;
  MakeFiles(t.path());
  std::filesystem::create_directories(t / "tmp");
  WriteFile(t / "tmp/tmpstub.exe", "someone else's file");
  std::string stub =
      "\x7f"
      "ELF fake stub bytes";
  WriteFile(t / "stub.bin", stub);
  TSFXConfig cfg;
  cfg.InfoText = "Restores the documents.";
  auto block = cfg.BuildConfigBlock();

  TArcZip z;
  Events ev;
  Watch(z, ev);
  z.TempPath = t / "tmp";
  z.StorePaths = true;
  InFolder(t.path(), [&] {
    z.FilesList = {"src/f1.txt", "src/f2.txt"};
    EXPECT_EQ(z.MakeSelfExtractor(t / "stub.bin", t / "backup.EXE", static_cast<int>(block.size()),
                                  block.data()),
              2);
  });
  EXPECT_EQ(ev.completed, 2);
  EXPECT_EQ(z.ZipName(), t / "backup.EXE");
  std::string exe = ReadFile(t / "backup.EXE");
  size_t first = stub.size() + block.size();
  EXPECT_EQ(exe.substr(0, stub.size()), stub);
  EXPECT_EQ(exe.substr(stub.size(), block.size()), std::string(block.begin(), block.end()));
  EXPECT_EQ(exe.substr(first, 4), "PK\x03\x04");
  EXPECT_EQ(z.EntryHeader(0).LocalHeaderOffset(), first);
  EXPECT_TRUE(z.TestArchive());
  struct stat st;
  ASSERT_EQ(stat((t / "backup.EXE").c_str(), &st), 0);
  EXPECT_TRUE(st.st_mode & S_IXUSR);
  // No copy of the stub was made in the temporary folder, and a file there is left alone.
  EXPECT_EQ(FolderNames(t / "tmp"), std::vector<std::string>{"tmpstub.exe"});
  EXPECT_EQ(ReadFile(t / "tmp/tmpstub.exe"), "someone else's file");

  // Every rewrite keeps the stub and the execute permission: adding, removing, a comment.
  InFolder(t.path(), [&] {
    z.FilesList = {"src/f3.txt"};
    EXPECT_EQ(z.ZipFiles(), 1);
  });
  z.FilesList = {"src/f2.txt"};
  EXPECT_EQ(z.RemoveEntries(), 1);
  z.SetArchiveComment("kept");
  z.SaveArchiveChanges();
  EXPECT_EQ(ReadFile(t / "backup.EXE").substr(0, first), exe.substr(0, first));
  ASSERT_EQ(stat((t / "backup.EXE").c_str(), &st), 0);
  EXPECT_TRUE(st.st_mode & S_IXUSR);
  ASSERT_EQ(z.EntryCount(), 2);
  EXPECT_EQ(z.EntryFullName(1), "src/f3.txt");
  EXPECT_TRUE(z.TestArchive());
  z.FilesList = {"src/f3.txt"};
  EXPECT_EQ(z.RemoveEntries(), 1);

  // To a plain archive: entries from offset 0, the source deleted, the new archive open.
  z.ConvertToPlainZip(true);
  EXPECT_EQ(z.ZipName(), t / "backup.zip");
  EXPECT_FALSE(Exists(t / "backup.EXE"));
  EXPECT_EQ(ReadFile(t / "backup.zip").substr(0, 4), "PK\x03\x04");
  ASSERT_EQ(z.EntryCount(), 1);
  EXPECT_EQ(z.EntryHeader(0).LocalHeaderOffset(), 0u);
  EXPECT_TRUE(z.TestArchive());

  // And back: the stub in front, the plain archive stays as it is and stays open.
  std::string plain = ReadFile(t / "backup.zip");
  z.ConvertToSelfExtractor(t / "stub.bin");
  EXPECT_EQ(ReadFile(t / "backup.zip"), plain);
  EXPECT_EQ(z.ZipName(), t / "backup.zip");
  EXPECT_EQ(ReadFile(t / "backup.EXE").substr(0, stub.size() + 4), stub + "PK\x03\x04");
  TArcZip x;
  x.SetZipName(t / "backup.EXE");
  x.ReadArchive();
  EXPECT_EQ(x.EntryHeader(0).LocalHeaderOffset(), stub.size());
  EXPECT_TRUE(x.TestArchive());

  // An existing .zip given to MakeSelfExtractor becomes NAME.exe; the .zip stays.
  TArcZip m;
  EXPECT_EQ(m.MakeSelfExtractor(t / "stub.bin", t / "backup.zip", static_cast<int>(block.size()),
                                block.data()),
            0);
  EXPECT_EQ(m.ZipName(), t / "backup.exe");
  EXPECT_EQ(ReadFile(t / "backup.zip"), plain);
  EXPECT_EQ(m.EntryCount(), 1);
  EXPECT_TRUE(m.TestArchive());
  EXPECT_THROW(m.MakeSelfExtractor(t / "missing.bin", t / "other.exe", 0, nullptr),
               std::system_error);
  EXPECT_FALSE(Exists(t / "other.exe"));
}

TEST(SFXConfig, BlockLayoutAndRoundTrip) {
  TSFXConfig c;
  auto b = c.BuildConfigBlock();
  const std::string caption = "Arcavo Self Extracting Archive";
  ASSERT_EQ(b.size(), 12 + caption.size());
  EXPECT_EQ(std::string(b.begin(), b.begin() + 3), "MPU");
  EXPECT_EQ(b[3], sfxOverwriteFixed | sfxOverwriteAlways);
  EXPECT_EQ(b[4], caption.size());
  EXPECT_EQ(std::string(b.begin() + 10, b.begin() + 10 + caption.size()), caption);
  EXPECT_EQ(b[b.size() - 2] | (b[b.size() - 1] << 8), static_cast<int>(b.size()));

  TSFXConfig d;
  d.UserCanDisableCmdLine = d.UserCanChooseFiles = d.UserCanChangeOverwrite = d.AutoExtract = true;
  d.OverwriteMode = TSFXOverwriteMode::omPrompt;
  d.Caption = "Cap";
  d.DefaultPath = "/srv/restore";
  d.CmdLine = "./install.sh";
  d.InfoText = std::string(300, 'i');
  d.InfoTitle = "Title";
  b = d.BuildConfigBlock();
  EXPECT_EQ(b[3], sfxUserCanDisableCmdLine | sfxUserCanChooseFiles | sfxAutoExtract);
  EXPECT_EQ(b[7] | (b[8] << 8), 300);
  // Read back from the end of a longer head (a stub in front).
  std::vector<uint8_t> head(1000, 0x90);
  head.insert(head.end(), b.begin(), b.end());
  TSFXConfig r;
  r.Caption.clear();
  ASSERT_TRUE(r.ReadConfigBlock(head.data(), head.size()));
  EXPECT_TRUE(r.UserCanDisableCmdLine && r.UserCanChooseFiles && r.UserCanChangeOverwrite &&
              r.AutoExtract);
  EXPECT_EQ(r.OverwriteMode, TSFXOverwriteMode::omPrompt);
  EXPECT_EQ(r.Caption, "Cap");
  EXPECT_EQ(r.DefaultPath, "/srv/restore");
  EXPECT_EQ(r.CmdLine, "./install.sh");
  EXPECT_EQ(r.InfoText, d.InfoText);
  EXPECT_EQ(r.InfoTitle, "Title");

  // Strings longer than their fields are cut; the trailing length stays exact.
  TSFXConfig big;
  big.Caption = std::string(400, 'c');
  big.InfoText = std::string(70000, 't');
  b = big.BuildConfigBlock();
  EXPECT_EQ(b.size(), 0xFFFFu);
  EXPECT_EQ(b[4], 255);
  TSFXConfig rb;
  ASSERT_TRUE(rb.ReadConfigBlock(b.data(), b.size()));
  EXPECT_EQ(rb.Caption.size(), 255u);
}

TEST(SFXConfig, InconsistentBlocksAreRefused) {
  TSFXConfig d;
  auto good = d.BuildConfigBlock();
  TSFXConfig r;
  EXPECT_FALSE(r.ReadConfigBlock(good.data(), 11));  // too short
  auto bad = good;
  bad[0] = 'X';
  EXPECT_FALSE(r.ReadConfigBlock(bad.data(), bad.size()));
  bad = good;
  bad[4] += 1;  // lengths no longer add up
  EXPECT_FALSE(r.ReadConfigBlock(bad.data(), bad.size()));
  bad = good;
  bad[bad.size() - 2] += 1;  // claims more than is there
  EXPECT_FALSE(r.ReadConfigBlock(bad.data(), bad.size()));
  std::vector<uint8_t> zeros(64, 0);
  EXPECT_FALSE(r.ReadConfigBlock(zeros.data(), zeros.size()));
  EXPECT_EQ(r.Caption, "Arcavo Self Extracting Archive");
}
