#include "backup/naming.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <map>

#include "run_fixture.h"

using testutil::WriteFile;

TEST(VersionFolder, ValueOfAMoment) {
  const QDateTime t(QDate(2003, 1, 3), QTime(15, 35));
  EXPECT_EQ(VersionFolderName(VersionFolderValue(t)), "#1F2E5ED3#/");
  // One step every ten seconds; within ten seconds (or one tick) the value is the same.
  EXPECT_EQ(VersionFolderValue(t.addSecs(10)), VersionFolderValue(t) + 1);
  EXPECT_EQ(VersionFolderValue(t.addMSecs(4999)), VersionFolderValue(t));
  EXPECT_EQ(VersionFolderValue(t.addMSecs(10)), VersionFolderValue(t));
  // About 429,497 from one day to the next.
  const uint32_t day = VersionFolderValue(t.addDays(1)) - VersionFolderValue(t);
  EXPECT_TRUE(day == 429496u || day == 429497u) << day;
  EXPECT_EQ(VersionFolderName(0x1A), "#0000001A#/");
}

TEST_F(RunFixture, MakeVerDIRMovesCurrentEntriesToAFreshFolder) {
  RunExpecting("");
  zip.SetZipName(archive);
  std::map<int, std::string> moved;
  auto record = [&](int i, const std::string& p) { moved[i] = p; };
  const QDateTime now(QDate(2003, 1, 3), QTime(15, 35));
  EXPECT_EQ(MakeVerDIR(zip, now, record), "#1F2E5ED3#/");
  ASSERT_EQ(static_cast<int>(moved.size()), zip.EntryCount());
  for (const auto& [i, p] : moved) EXPECT_EQ(p, zip.EntryPath(i) + "#1F2E5ED3#/");
}

TEST_F(RunFixture, VersionedRunsNeverShareAFolder) {
  // An archive that already holds the folder of now (a run within the same ten seconds).
  const std::string stamped = out + "/#1F2E5ED3#";
  ::mkdir(stamped.c_str(), 0755);
  WriteFile(stamped + "/old.txt", "old");
  ticks.Clear();
  ticks.SetChecked(stamped, true);
  RunExpecting("");
  std::vector<std::string> paths;
  zip.SetZipName(archive);
  MakeVerDIR(zip, QDateTime(QDate(2003, 1, 3), QTime(15, 35, 5)),
             [&](int, const std::string& p) { paths.push_back(p); });
  // Entries inside a version folder stay; none here is outside one.
  EXPECT_TRUE(paths.empty());
  // The next value is taken instead of the one in use.
  EXPECT_EQ(MakeVerDIR(zip, QDateTime(QDate(2003, 1, 3), QTime(15, 35, 5)),
                       [](int, const std::string&) {}),
            "#1F2E5ED4#/");
}

TEST_F(RunFixture, VersionedRunsKeepThePreviousCopiesInVersionFolders) {
  if (!testutil::HaveTool("unzip")) GTEST_SKIP() << "unzip missing";
  RunExpecting("    Backup successful    \r4 file/DIRs were added");
  lists.functionsList.SetChecked(opt::kFnVersioning, true);
  WriteFile(src + "/a.txt", "second");
  // No question: versioning takes care of the existing archive.
  RunExpecting("    Backup successful    \r4 file/DIRs were added");
  WriteFile(src + "/a.txt", "third");
  RunExpecting("    Backup successful    \r4 file/DIRs were added");
  EXPECT_EQ(boxes.transcript().size(), 3);

  // Both runs fall on the same moment of the clock: the second takes the next value.
  const auto e = Entries(archive);
  EXPECT_EQ(e.size(), 18u);
  for (const char* v : {"", "#1F2E5ED3#/", "#1F2E5ED4#/"}) {
    EXPECT_EQ(e.count("src/" + std::string(v) + "a.txt"), 1u) << v;
    EXPECT_EQ(e.count("src/sub/" + std::string(v) + "c.jpg"), 1u) << v;
  }
  const std::string root = dir.path().substr(1) + "/src/";
  auto text = [&](const std::string& name) {
    return testutil::Run("unzip -p " + testutil::Quote(archive) + " " +
                         testutil::Quote(root + name))
        .out;
  };
  EXPECT_EQ(text("#1F2E5ED3#/a.txt"), std::string(5000, 'a'));
  EXPECT_EQ(text("#1F2E5ED4#/a.txt"), "second");
  EXPECT_EQ(text("a.txt"), "third");
  EXPECT_EQ(testutil::Run("unzip -tq " + testutil::Quote(archive)).status, 0);
}

TEST_F(RunFixture, VersionFoldersOfARunThatWroteNothingAreDropped) {
  lists.directoryList.SetChecked(opt::kDirEmptyDirs, false);  // files only, no folder entries
  RunExpecting("");
  lists.functionsList.SetChecked(opt::kFnVersioning, true);
  lists.modeList.SetChecked(opt::kModeBitSetClear, true);
  lists.basicList.SetChecked(opt::kBasicChanged, true);
  RunExpecting("    Backup successful    \r4 file/DIRs were added");  // and clears the bits
  const std::string versioned = Sha256(archive);
  // A versioned run that finds nothing to store leaves the archive as it is...
  RunExpecting("    Nothing was backed up    \r0 file/DIRs were added");
  EXPECT_EQ(Sha256(archive), versioned);
  // ...and a later run without versioning does not write the folders it gave in memory.
  lists.functionsList.SetChecked(opt::kFnVersioning, false);
  lists.modeList.SetChecked(opt::kModeCopy, true);
  lists.basicList.SetChecked(opt::kBasicAll, true);
  boxes.Press("Add", "ZIPfile exists. What do you want to do?");
  RunExpecting("    Backup successful    \r4 file/DIRs were added");
  const auto e = Entries(archive);
  EXPECT_EQ(e.size(), 8u);
  for (const auto& [name, method] : e)
    EXPECT_EQ(name.find("#1F2E5ED4#"), std::string::npos) << name;
}

TEST(SaveDlgForm, Checks) {
  ScriptedHost boxes;
  testutil::TempDir tmp;
  const QString data = QString::fromStdString(tmp.path());
  ASSERT_TRUE(QDir().mkpath(data + "/backup") && QDir().mkpath(data + "/locked"));
  QFile::setPermissions(data + "/locked", QFileDevice::ReadOwner | QFileDevice::ExeOwner);
  TSaveDlgForm f("New ZIPfile", data + "/backup/");
  EXPECT_TRUE(f.LabelVisible());
  EXPECT_EQ(f.Text(), data + "/backup/");
  f.SetText("docs.zip");
  boxes.Answer(IDOK, "Must include Drive/Directory");
  EXPECT_FALSE(f.OkClick());
  EXPECT_EQ(f.Text(), "");
  f.SetText(data + "/backup/");
  EXPECT_FALSE(f.OkClick());
  EXPECT_EQ(f.Text(), "Incorrect filename criteria");
  // A folder that is not there, or not the user's to write, is said at OK, not at Write.
  struct Case {
    QString typed, box;
  };
  const Case refused[] = {
      {data + "/gone/docs.zip",
       "The folder " + data + "/gone does not exist.\rChoose or make a folder first"},
      {data + "/locked/docs.zip",
       "The folder " + data + "/locked cannot be written to.\rChoose a folder of your own"},
  };
  for (const Case& c : refused) {
    if (::geteuid() == 0 && c.typed.contains("locked")) continue;  // root writes anywhere
    f.SetText(c.typed);
    boxes.Answer(IDOK, c.box);
    EXPECT_FALSE(f.OkClick());
  }
  // An absolute path typed after the proposed folder stands for itself.
  f.SetText(data + "/backup/" + data + "/docs.zip");
  EXPECT_TRUE(f.OkClick());
  EXPECT_EQ(f.Text(), data + "/docs.zip");

  TSaveDlgForm g("New ZIPfile", "");
  EXPECT_EQ(g.Text(), "Enter filename here");
  g.EditClicked();
  EXPECT_EQ(g.Text(), "");
  TSaveDlgForm h("New ZIPfile", "/a/docs");
  EXPECT_FALSE(h.LabelVisible());
  h.FolderClicked("/b");
  EXPECT_EQ(h.Text(), "/b/docs");
  h.FileClicked("/c/x.zip");
  EXPECT_EQ(h.Text(), "/c/x.zip");
  // A preset accepts any name with a folder that is there.
  TSaveDlgForm p("New ZIPfile", data + "/", true);
  EXPECT_TRUE(p.OkClick());
  QFile::setPermissions(data + "/locked",
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

namespace {

struct FakeNamingHost : INamingHost {
  QString focused;
  std::deque<std::optional<QString>> answers;
  QStringList proposals, titles, burnerRoots;
  int defaultsLoaded = 0;
  bool basic = false;
  bool hints = false;
  std::optional<QString> ShowSaveDialog(TSaveDlgForm& form) override {
    proposals << form.Text();
    titles << form.Title();
    burnerRoots << form.BurnerRoot();
    auto a = answers.front();
    answers.pop_front();
    if (a) form.SetText(*a);
    return a;
  }
  QString FocusedTreePath() const override { return focused; }
  void BrowseTreeTo(const QStringList& folders) override { browsed = folders; }
  QStringList browsed;
  void LoadDefaultSettings() override { ++defaultsLoaded; }
  bool BasicView() const override { return basic; }
  bool HintsOn() const override { return hints; }
};

struct NamingFixture : RunFixture {
  FakeNamingHost host;
  TNaming naming{*run, zip, lists, prefs, ticks, controls, display, program, host};
};

}  // namespace

TEST_F(NamingFixture, NewZipProposesTheLastAcceptedName) {
  // Never the folder focused for backup (an archive inside its own source): the folder of the
  // archive named last.
  host.focused = QString::fromStdString(src);
  host.answers = {QString("/B/docs"), std::nullopt, std::nullopt};
  naming.NewZipButClick(NamingSender::NewZip);
  EXPECT_EQ(host.proposals.at(0), QString::fromStdString(out) + "/");
  EXPECT_EQ(host.titles.at(0), "New ZIPfile");
  EXPECT_EQ(naming.LastNewName(), "/B/docs.zip");
  EXPECT_EQ(run->ZipName(), "/B/docs.zip");
  EXPECT_EQ(host.defaultsLoaded, 1);
  EXPECT_TRUE(ticks.Empty());
  EXPECT_EQ(lists.firstDiskEdit.text(), "Disk#1Free");
  EXPECT_EQ(program.states.last(), 3);

  // Whatever the focus, the next naming starts from the accepted name.
  host.focused = QString::fromStdString(src + "/a.txt");
  naming.NewZipButClick(NamingSender::NewZip);
  EXPECT_EQ(host.proposals.at(1), "/B/docs");
  EXPECT_TRUE(naming.LastNewName().isEmpty());
  // After a cancel, the last archive's folder again, or the home folder when that folder is gone;
  // a writer's root is offered once there is one.
  prefs.Set("BurnerDrive", "/dev/sr0/");
  naming.NewZipButClick(NamingSender::NewZip);
  EXPECT_EQ(host.proposals.at(2), QDir::homePath() + "/");
  EXPECT_EQ(host.burnerRoots, QStringList({"", "", "/dev/sr0/"}));
}

TEST_F(NamingFixture, StampedExeAndStealthNames) {
  lists.functionsList.SetChecked(opt::kFnStamp, true);
  prefs.Set("DateTimeFormat", 1);
  host.answers = {QString("/B/prog")};
  naming.NewZipButClick(NamingSender::NewExe);
  EXPECT_EQ(host.titles.at(0), "New EXEfile");
  EXPECT_TRUE(run->ExeMode());
  EXPECT_EQ(run->ZipName(), "/B/prog-2003-01-03.EXE");

  lists.functionsList.SetChecked(opt::kFnStamp, false);
  host.answers = {QString("/x.zip")};
  naming.NewZipButClick(NamingSender::Define);
  EXPECT_EQ(host.titles.at(1), "Define StealthFile");
  EXPECT_TRUE(naming.StealthDefineMode());
  EXPECT_FALSE(run->ExeMode());
  EXPECT_EQ(run->ZipName(), "/stealth_x.zip");

  host.answers = {QString("/D/B/stealth_y.zip")};
  naming.NewZipButClick(NamingSender::Define);
  EXPECT_EQ(run->ZipName(), "/D/B/stealth_y.zip");
}

TEST_F(NamingFixture, PresetsAndTheirQuestion) {
  // A home folder without profiles: the warning, the kind kept for a selection by hand.
  const QByteArray savedHome = qgetenv("HOME");
  const std::string home = dir / "home";
  qputenv("HOME", QByteArray::fromStdString(home));
  host.focused = QString::fromStdString(src + "/a.txt");
  host.answers = {QString::fromStdString(src + "/TBmail")};
  boxes.Answer(IDOK,
               "Mozilla directory cannot be found\rplease report to support\rmanual "
               "directory selection only");
  naming.NewZipButClick(NamingSender::Preset, 2);
  EXPECT_EQ(host.proposals.at(0), QString::fromStdString(out + "/TBmail"));
  EXPECT_EQ(run->PresetKind(), 2);
  EXPECT_EQ(run->ZipName(), QString::fromStdString(src + "/TBmail.zip"));

  // With a Thunderbird profile: its folder replaces the ticks, hidden files and the stamp are
  // switched on, and the hint comes once.
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(home + "/.thunderbird/x.default")));
  ticks.SetChecked(out, true);
  lists.functionsList.SetChecked(opt::kFnStamp, false);
  lists.directoryList.SetChecked(opt::kDirHidden, false);
  host.hints = true;
  for (int i = 0; i < 2; ++i) {
    host.answers = {QString::fromStdString(src + "/TBprofile")};
    if (i == 0)
      boxes.Answer(IDOK, "Verify your backup settings on 'Make' tab, then click [WriteZIP]");
    naming.NewZipButClick(NamingSender::Preset, 3);
    EXPECT_EQ(ticks.TickedPaths(), std::vector<std::string>({home + "/.thunderbird"}));
    EXPECT_EQ(host.browsed, QStringList({QString::fromStdString(home + "/.thunderbird")}));
    EXPECT_TRUE(lists.functionsList.Checked(opt::kFnStamp));
    EXPECT_TRUE(lists.directoryList.Checked(opt::kDirHidden));
  }
  host.hints = false;
  qputenv("HOME", savedHome);
  ticks.Clear();

  // A manual naming over a preset's ticks asks first; No keeps everything.
  ticks.SetChecked(src, true);
  boxes.Answer(IDNO, "Mozilla files already selected - do you want to manually select?");
  naming.NewZipButClick(NamingSender::NewZip);
  EXPECT_EQ(host.proposals.size(), 3);
  EXPECT_FALSE(ticks.Empty());
}

TEST_F(NamingFixture, ModifyJobKeepsTheArchiveFileName) {
  host.answers = {std::nullopt, std::nullopt};
  naming.NewZipButClick(NamingSender::ModifyJob);
  // No focused item: the archive itself, without extension.
  EXPECT_EQ(host.proposals.at(0), QString::fromStdString(out + "/docs"));
  EXPECT_EQ(host.defaultsLoaded, 0);
  EXPECT_FALSE(ticks.Empty());
  // A focused file: its folder with the archive's file name.
  host.focused = QString::fromStdString(src + "/a.txt");
  naming.NewZipButClick(NamingSender::ModifyJob);
  EXPECT_EQ(host.proposals.at(1), QString::fromStdString(src + "/docs"));
}
