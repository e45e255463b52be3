// Expanding the writer's file list on a real folder tree: prefixes, recursion, masks, folder
// levels with wildcards, the attribute mask, skip reasons and stored names.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "archive/filelist.h"
#include "testutil.h"

using testutil::TempDir;
using testutil::WriteFile;

namespace {

struct Recorder {
  std::vector<std::string> events;  // "skip4:path", "nosuch:path", "rec:path"
  TExpandOptions Options() {
    TExpandOptions o;
    o.Skipping = [this](TSkipReason r, const std::string& n) {
      events.push_back("skip" + std::to_string(static_cast<int>(r)) + ":" + n);
    };
    o.NoSuchFile = [this](const std::string& n) { events.push_back("nosuch:" + n); };
    o.RecursingFile = [this](const std::string& n) { events.push_back("rec:" + n); };
    o.LeftOut = [this](const std::string& n, const std::string& why) {
      events.push_back("out:" + n + ": " + why);
    };
    return o;
  }
};

std::vector<std::string> Paths(const TFileItems& items, const std::string& root) {
  std::vector<std::string> out;
  for (const auto& i : items) {
    std::string p = i.Path;
    if (p.compare(0, root.size() + 1, root + "/") == 0) p = p.substr(root.size() + 1);
    out.push_back(p);
  }
  return out;
}

// root/a.txt  root/b.dat  root/README  root/.hidden  root/sub/c.txt  root/sub/deep/d.txt
// root/sub/.hid/e.txt  root/other/f.txt
void MakeTree(const std::string& r) {
  for (const char* d : {"sub/deep", "sub/.hid", "other"})
    ASSERT_EQ(testutil::Run("mkdir -p " + testutil::Quote(r + "/" + d)).status, 0);
  WriteFile(r + "/a.txt", "aaaa");
  WriteFile(r + "/b.dat", "bb");
  WriteFile(r + "/README", "r");
  WriteFile(r + "/.hidden", "h");
  WriteFile(r + "/sub/c.txt", "ccc");
  WriteFile(r + "/sub/deep/d.txt", "d");
  WriteFile(r + "/sub/.hid/e.txt", "e");
  WriteFile(r + "/other/f.txt", "f");
}

}  // namespace

TEST(ExpandFileList, ExplicitNamesFolderItemsAndTotals) {
  TempDir t;
  MakeTree(t.path());
  Recorder rec;
  auto o = rec.Options();
  o.RootDir = t.path();
  TFileItems out;
  // "b.dat" has no folder: RootDir is put in front of it.
  int64_t total =
      ExpandFileList({t / "a.txt", "b.dat", t / "sub/", t / "missing.txt", t / ".hidden"}, o, out);
  EXPECT_EQ(Paths(out, t.path()), (std::vector<std::string>{"a.txt", "b.dat", "sub/"}));
  EXPECT_TRUE(out[2].IsFolder);
  EXPECT_EQ(total, 6);
  // The hidden file is not found with the attribute mask that leaves hidden files out.
  EXPECT_EQ(rec.events,
            (std::vector<std::string>{"nosuch:" + t / "missing.txt", "nosuch:" + t / ".hidden"}));
}

TEST(ExpandFileList, PrefixesOverrideRecurse) {
  TempDir t;
  MakeTree(t.path());
  Recorder rec;
  auto o = rec.Options();
  o.Recurse = true;
  TFileItems out;
  ExpandFileList({"|" + t / "*.*"}, o, out);
  EXPECT_EQ(Paths(out, t.path()), (std::vector<std::string>{"README", "a.txt", "b.dat"}));

  out.clear();
  o.Recurse = false;
  ExpandFileList({">" + t / "*.txt"}, o, out);
  EXPECT_EQ(Paths(out, t.path()),
            (std::vector<std::string>{"a.txt", "other/f.txt", "sub/c.txt", "sub/deep/d.txt"}));
}

TEST(ExpandFileList, DepthFirstWithFoldersReportedAsMet) {
  TempDir t;
  MakeTree(t.path());
  Recorder rec;
  auto o = rec.Options();
  o.Recurse = true;
  o.AddDirEntriesOnRecurse = true;
  o.IncludeHidden = true;
  TFileItems out;
  ExpandFileList({t / "sub/*"}, o, out);
  EXPECT_EQ(Paths(out, t.path()),
            (std::vector<std::string>{"sub/.hid/", "sub/.hid/e.txt", "sub/c.txt", "sub/deep/",
                                      "sub/deep/d.txt"}));
  std::vector<std::string> expected;
  for (const auto& p : Paths(out, t.path())) expected.push_back("rec:" + t / p);
  EXPECT_EQ(rec.events, expected);

  // Without AddDirEntriesOnRecurse folders are reported but not listed.
  out.clear();
  o.AddDirEntriesOnRecurse = false;
  ExpandFileList({t / "sub/*"}, o, out);
  EXPECT_EQ(out.size(), 3u);
}

TEST(ExpandFileList, MasksAndFolderLevelsWithWildcards) {
  TempDir t;
  MakeTree(t.path());
  Recorder rec;
  auto o = rec.Options();
  TFileItems out;
  // "*." finds the names without an extension.
  ExpandFileList({t / "*."}, o, out);
  EXPECT_EQ(Paths(out, t.path()), (std::vector<std::string>{"README"}));

  out.clear();
  ExpandFileList({t / "*/<a-d>.txt"}, o, out);
  EXPECT_EQ(Paths(out, t.path()), (std::vector<std::string>{"sub/c.txt"}));
  out.clear();
  ExpandFileList({t / "s?b/de*/*.TXT"}, o, out);
  EXPECT_EQ(Paths(out, t.path()), (std::vector<std::string>{"sub/deep/d.txt"}));

  // A folder part without wildcards that does not exist: OnNoSuchFile for the item.
  rec.events.clear();
  out.clear();
  ExpandFileList({t / "nothere/*.txt", t / "no*/*.txt"}, o, out);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(rec.events, (std::vector<std::string>{"nosuch:" + t / "nothere/*.txt"}));
}

TEST(ExpandFileList, FoldersAndFilesGoneWhileListedAreReported) {
  TempDir t;
  MakeTree(t.path());
  Recorder rec;
  auto o = rec.Options();
  o.Recurse = true;
  o.AddDirEntriesOnRecurse = true;
  // The folder "deep" goes after it was found and before it is read; "other/f.txt" goes after
  // its folder was listed.
  auto record = o.RecursingFile;
  bool inOther = false;
  o.RecursingFile = [&](const std::string& n) {
    record(n);
    if (n == t / "sub/deep/") testutil::Run("rm -r " + testutil::Quote(n));
    inOther = n == t / "other/";
  };
  o.Between = [&] {
    if (inOther) ::unlink((t / "other/f.txt").c_str());
  };
  TFileItems out;
  ExpandFileList({t / "*.txt"}, o, out);
  auto has = [&](const std::string& e) {
    return std::count(rec.events.begin(), rec.events.end(), e) == 1;
  };
  EXPECT_TRUE(has("skip2:" + t / "sub/deep/"));
  EXPECT_TRUE(has("nosuch:" + t / "other/f.txt"));
  EXPECT_EQ(Paths(out, t.path()),
            (std::vector<std::string>{"a.txt", "other/", "sub/", "sub/c.txt", "sub/deep/"}));
}

TEST(ExpandFileList, SkipReasonsAndTheArchiveItself) {
  TempDir t;
  MakeTree(t.path());
  Recorder rec;
  auto o = rec.Options();
  o.Recurse = true;
  std::vector<std::string> exclude = {"*.DAT", t.path() + "/other/*"};
  o.ExcludeList = &exclude;
  struct stat ast;
  ASSERT_EQ(::stat((t / "README").c_str(), &ast), 0);
  o.HaveArchive = true;  // README stands for the archive being written
  o.ArchiveDev = ast.st_dev;
  o.ArchiveIno = ast.st_ino;
  o.ArchiveBitSet = [](const std::string& p, const struct stat&) {
    return p.find("c.txt") == std::string::npos;
  };
  o.InArchive = [](const std::string& p) { return p.find("d.txt") == std::string::npos; };
  TFileItems out;
  ExpandFileList({t / "*", t / "b.dat"}, o, out);
  EXPECT_EQ(Paths(out, t.path()), (std::vector<std::string>{"a.txt"}));
  std::vector<std::string> skips;
  for (const auto& e : rec.events)
    if (e.rfind("skip", 0) == 0) skips.push_back(e);
  EXPECT_EQ(skips, (std::vector<std::string>{
                       "skip4:" + t / "b.dat", "skip4:" + t / "b.dat", "skip4:" + t / "other/f.txt",
                       "skip5:" + t / "sub/c.txt", "skip6:" + t / "sub/deep/d.txt"}));
}

// Links are stored as links, or followed to the files they name; whatever cannot be stored (a
// FIFO, a link to a folder or to nothing while following) is told with its reason.
TEST(ExpandFileList, LinksAsLinksOrFollowedAndNothingLeftOutSilently) {
  TempDir t;
  MakeTree(t.path());
  ASSERT_EQ(::mkfifo((t / "pipe").c_str(), 0600), 0);
  ASSERT_EQ(::symlink((t / "sub").c_str(), (t / "linkdir").c_str()), 0);
  ASSERT_EQ(::symlink((t / "a.txt").c_str(), (t / "linkfile").c_str()), 0);
  ASSERT_EQ(::symlink("nowhere", (t / "dangling").c_str()), 0);
  for (bool follow : {false, true}) {
    SCOPED_TRACE(follow ? "following links" : "links as links");
    Recorder rec;
    auto o = rec.Options();
    o.Recurse = true;
    o.FollowLinks = follow;
    TFileItems out;
    ExpandFileList({t / "*", t / "pipe"}, o, out);
    std::vector<std::string> links, files, told;
    for (const auto& i : out)
      (i.IsLink ? links : files).push_back(i.Path.substr(t.path().size() + 1));
    for (const auto& e : rec.events)
      if (e.rfind("out:", 0) == 0) told.push_back(e.substr(5 + t.path().size()));
    std::sort(told.begin(), told.end());
    EXPECT_EQ(std::count(files.begin(), files.end(), "linkfile"), follow ? 1 : 0);
    EXPECT_EQ(std::count(files.begin(), files.end(), "pipe"), 0);
    for (const auto& s : files) EXPECT_EQ(s.rfind("linkdir", 0), std::string::npos) << s;
    if (follow) {
      EXPECT_TRUE(links.empty());
      EXPECT_EQ(told,
                (std::vector<std::string>{"dangling: the link's target is missing",
                                          "linkdir: a link to a folder, which is not followed",
                                          "pipe: a FIFO (named pipe), not a file",
                                          "pipe: a FIFO (named pipe), not a file"}));
    } else {
      EXPECT_EQ(links, (std::vector<std::string>{"dangling", "linkdir", "linkfile"}));
      EXPECT_EQ(told, (std::vector<std::string>{"pipe: a FIFO (named pipe), not a file",
                                                "pipe: a FIFO (named pipe), not a file"}));
    }
  }
}

TEST(StoredName, PathsFoldersAndClimbing) {
  std::vector<std::string> none;
  EXPECT_EQ(StoredNameOf("/home/u/a.txt", false, false, false, none), "a.txt");
  EXPECT_EQ(StoredNameOf("/home/u/a.txt", false, true, false, none), "home/u/a.txt");
  EXPECT_EQ(StoredNameOf("src//x/./a.txt", false, true, false, none), "src/x/a.txt");
  EXPECT_EQ(StoredNameOf("../../etc/passwd", false, true, false, none), "etc/passwd");
  EXPECT_EQ(StoredNameOf("a/../../b/c", false, true, false, none), "b/c");
  EXPECT_EQ(StoredNameOf("/home/u/src/", true, true, false, none), "home/u/src/");
  EXPECT_EQ(StoredNameOf("/home/u/src/", true, false, false, none), "src/");
  EXPECT_EQ(StoredNameOf("./", true, true, false, none), "");
  std::vector<std::string> rel = {"/nomatch/", "/HOME/u/"};
  EXPECT_EQ(StoredNameOf("/home/u/src/a.txt", false, true, true, rel), "src/a.txt");
  EXPECT_EQ(StoredNameOf("/home/u/src/a.txt", false, true, false, rel), "home/u/src/a.txt");
}
