// Runs that write into an existing archive or replace it: "Add", update, refresh, versioning and
// self-extractors, with the real engine; and a cancel in each of them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <ctime>

#include "platform/archiveattr.h"
#include "run_fixture.h"

using testutil::Exists;
using testutil::Quote;
using testutil::WriteFile;

namespace {

bool BitSet(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  TArchiveAttributes attrs;
  return attrs.IsSet(path, st);
}

// Writes a file dated secondsAhead from now, so that it is newer than its archived copy.
void WriteNewer(const std::string& path, const std::string& bytes, int secondsAhead) {
  WriteFile(path, bytes);
  const timespec t[2] = {{std::time(nullptr) + secondsAhead, 0},
                         {std::time(nullptr) + secondsAhead, 0}};
  ::utimensat(AT_FDCWD, path.c_str(), t, 0);
}

struct RewriteRun : RunFixture {
  std::string root = dir.path().substr(1) + "/src/";

  std::string Text(const std::string& archivePath, const std::string& entry) {
    return testutil::Run("unzip -p " + Quote(archivePath) + " " + Quote(root + entry)).out;
  }
  QStringList FilesIn(const std::string& folder) {
    return QDir(QString::fromStdString(folder)).entryList(QDir::Files | QDir::Hidden);
  }
};

}  // namespace

TEST_F(RewriteRun, AddUpdateAndRefreshWriteIntoTheExistingArchive) {
  if (!testutil::HaveTool("unzip")) GTEST_SKIP() << "unzip missing";
  RunExpecting("    Backup successful    \r4 file/DIRs were added");

  // "Add": every selected file replaces its entry, new files join them.
  WriteFile(src + "/a.txt", "added");
  WriteFile(src + "/new.txt", "new");
  boxes.Press("Add", "ZIPfile exists. What do you want to do?");
  RunExpecting("    Backup successful    \r5 file/DIRs were added");
  EXPECT_EQ(Entries(archive).size(), 7u);
  EXPECT_EQ(Text(archive, "a.txt"), "added");

  // Update: only newer and new files, without a question.
  lists.modeList.SetChecked(opt::kModeUpdate, true);
  WriteNewer(src + "/sub/d.txt", "updated", 3600);
  WriteFile(src + "/new2.txt", "new too");
  RunExpecting("    Backup successful    \r2 file/DIRs were added");
  EXPECT_EQ(Entries(archive).size(), 8u);
  EXPECT_EQ(Text(archive, "sub/d.txt"), "updated");
  EXPECT_EQ(Text(archive, "new2.txt"), "new too");

  // Refresh: only newer files already in the archive.
  lists.modeList.SetChecked(opt::kModeRefresh, true);
  WriteNewer(src + "/sub/c.jpg", "refreshed", 7200);
  WriteFile(src + "/new3.txt", "not taken");
  RunExpecting("    Backup successful    \r1 file/DIR was added");
  const auto e = Entries(archive);
  EXPECT_EQ(e.size(), 8u);
  EXPECT_EQ(e.count("src/new3.txt"), 0u);
  EXPECT_EQ(Text(archive, "sub/c.jpg"), "refreshed");
  EXPECT_EQ(testutil::Run("unzip -tq " + Quote(archive)).status, 0);
  EXPECT_EQ(FilesIn(out), QStringList({"docs.zip"}));
}

TEST_F(RewriteRun, CancelFromTheSecondClickKeepsTheArchiveOnEveryPath) {
  const std::string exe = out + "/prog.EXE";
  run->sfxStub = SFXSTUB_PATH;
  run->SetArchiveName(QString::fromStdString(exe), true);
  RunExpecting("    Backup successful    \r4 file/DIRs were added");
  run->SetArchiveName(QString::fromStdString(archive), true);
  RunExpecting("    Backup successful    \r4 file/DIRs were added");
  const std::vector<std::string> sources = {src + "/a.txt", src + "/b.TMP", src + "/sub/c.jpg",
                                            src + "/sub/d.txt"};

  struct Case {
    const char* what;
    std::function<void()> setUp;
    std::string target;
  };
  const std::vector<Case> cases = {
      {"Add, then clear bits",
       [&] {
         lists.modeList.SetChecked(opt::kModeCopyClear, true);
         boxes.Press("Add", "ZIPfile exists. What do you want to do?");
       },
       archive},
      {"Update",
       [&] {
         lists.modeList.SetChecked(opt::kModeUpdate, true);
         WriteNewer(src + "/a.txt", "newer", 3600);
       },
       archive},
      {"Self-extractor, bit set then clear",
       [&] {
         lists.modeList.SetChecked(opt::kModeBitSetClear, true);
         lists.basicList.SetChecked(opt::kBasicChanged, true);
         run->SetArchiveName(QString::fromStdString(exe), true);
       },
       exe},
      {"Versioning, then move",
       [&] {
         lists.modeList.SetChecked(opt::kModeMove, true);
         lists.functionsList.SetChecked(opt::kFnVersioning, true);
       },
       archive},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    lists.modeList.SetChecked(opt::kModeCopy, true);
    lists.basicList.SetChecked(opt::kBasicAll, true);
    lists.functionsList.SetChecked(opt::kFnVersioning, false);
    run->SetArchiveName(QString::fromStdString(archive), true);
    c.setUp();
    const std::string before = Sha256(c.target);
    bool clicked = false;
    zip.OnTotalPercentDone = [&](TArcUnZip::TSender, int) {
      if (clicked) return;
      clicked = true;
      boxes.Answer(IDOK, "Abort && Cancel operation?");
      boxes.Answer(IDOK, "User Aborted Operation \r0 file/DIRs were added");
      run->WriteZbtnClick();
    };
    run->WriteZbtnClick();
    zip.OnTotalPercentDone = nullptr;
    EXPECT_TRUE(clicked);
    EXPECT_EQ(run->ResultText(), "User Aborted Operation \r0 file/DIRs were added");
    EXPECT_FALSE(run->LastRunSucceeded());
    EXPECT_EQ(Sha256(c.target), before);
    for (const std::string& s : sources) {
      EXPECT_TRUE(Exists(s)) << s;
      EXPECT_TRUE(BitSet(s)) << s;
    }
    EXPECT_EQ(FilesIn(out), QStringList({"docs.zip", "prog.EXE"}));
    EXPECT_EQ(boxes.PendingAnswers(), 0);
  }

  // The version folders of the cancelled run (the last case) are not written by a later one.
  run->SetArchiveName(QString::fromStdString(archive), true);
  lists.modeList.SetChecked(opt::kModeCopy, true);
  lists.basicList.SetChecked(opt::kBasicAll, true);
  lists.functionsList.SetChecked(opt::kFnVersioning, false);
  boxes.Press("Add", "ZIPfile exists. What do you want to do?");
  RunExpecting("    Backup successful    \r4 file/DIRs were added");
  for (const auto& [name, method] : Entries(archive))
    EXPECT_EQ(name.find('#'), std::string::npos) << name;
}

TEST_F(RewriteRun, SelfExtractorTheRunKeepsIsRewrittenWithItsEntries) {
  if (!testutil::HaveTool("unzip")) GTEST_SKIP() << "unzip missing";
  const std::string exe = out + "/prog.EXE";
  run->sfxStub = SFXSTUB_PATH;
  run->SetArchiveName(QString::fromStdString(exe), true);
  RunExpecting("    Backup successful    \r4 file/DIRs were added");

  // Versioning: the previous copies stay in their version folder.
  lists.functionsList.SetChecked(opt::kFnVersioning, true);
  WriteFile(src + "/a.txt", "second");
  RunExpecting("    Backup successful    \r4 file/DIRs were added");
  EXPECT_EQ(Entries(exe).size(), 12u);
  EXPECT_EQ(Text(exe, "#1F2E5ED3#/a.txt"), std::string(5000, 'a'));
  EXPECT_EQ(Text(exe, "a.txt"), "second");

  // Update: the entries it does not store are kept.
  lists.functionsList.SetChecked(opt::kFnVersioning, false);
  lists.modeList.SetChecked(opt::kModeUpdate, true);
  WriteNewer(src + "/sub/d.txt", "updated", 3600);
  RunExpecting("    Backup successful    \r1 file/DIR was added");
  EXPECT_EQ(Entries(exe).size(), 12u);
  EXPECT_EQ(Text(exe, "sub/d.txt"), "updated");
  EXPECT_EQ(Text(exe, "sub/#1F2E5ED3#/d.txt"), "d");

  EXPECT_EQ(testutil::Run("unzip -tq " + Quote(exe)).status, 0);
  const auto t = testutil::Run(Quote(exe) + " -t </dev/null");
  EXPECT_EQ(t.status, 0) << t.out;
  EXPECT_EQ(FilesIn(out), QStringList({"prog.EXE"}));
}
