#include <gtest/gtest.h>

#include <filesystem>

#include "app/pathbytes.h"
#include "options_fixture.h"
#include "platform/inifile.h"

using namespace opt;
using testutil::ReadFile;
using testutil::WriteFile;

namespace {

using SettingsFiles = OptionsFixture;

// A second program instance over the same program folder, as after a restart.
struct Restarted {
  RecordingControlHost host;
  FakeEnv env;
  FakeModeHost modeHost;
  FakeScheduler scheduler;
  GridTable grid;
  TOptionLists lists;
  TPreferences prefs;
  TOptionsController options{lists, prefs, host, env, modeHost};
  TSettingsFiles settings{lists, prefs, options, host, env, scheduler, grid};
};

}  // namespace

TEST_F(SettingsFiles, WrittenJobFileReadsInConfigparserInOrder) {
  if (!testutil::HaveTool("python3")) GTEST_SKIP() << "python3 missing";
  env.archiveName = "/backup/docs.zip";
  {
    THandlersDetached d{&lists.modeList, &lists.directoryList, &lists.sizeList,
                        &lists.functionsList};
    lists.modeList.SetChecked(kModeCopyClear, true);
    lists.directoryList.SetMask(428 + 512);  // "Follow Symbolic Links" has a key of its own
    lists.sizeList.SetChecked(kSizeFloppy, true);
    lists.functionsList.SetMask(1 + 16);
  }
  lists.maxSizeEdit.SetText("1.44");
  grid.cells[0][1] = "*.doc";
  grid.cells[1][2] = "~*";
  grid.cells[2][3] = "*.zip";
  const std::string job = dir / "docs.ini";
  settings.WriteSettings(QString::fromStdString(job));

  const std::string script = R"(
import configparser, sys
c = configparser.ConfigParser()
c.optionxform = str
c.read(sys.argv[1])
print(",".join(c.sections()))
print(c["ZIPFILE"]["Fname"])
print(",".join(c["Options"].keys()))
print(",".join(c["Options"][k] for k in c["Options"]))
print(len(c["SGcol0"]), c["SGcol0"]["1"], repr(c["SGcol0"]["4"]), c["SGcol1"]["2"], c["SGcol2"]["3"])
)";
  WriteFile(dir / "check.py", script);
  auto r =
      testutil::Run("python3 " + testutil::Quote(dir / "check.py") + " " + testutil::Quote(job));
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out,
            "ZIPFILE,Options,SGcol0,SGcol1,SGcol2\n"
            "/backup/docs.zip\n"
            "ClrDisk,OptCheck1,OptCheck2,OptCheck3,ComboEdit1,ComboEdit2,OptCheck4,OptCheck6,"
            "EncryptionMethod,FollowLinks\n"
            "0,1,428,2,1.44,Disk#1Free,0,17,AES-256,1\n"
            "19 *.DOC '' ~* *.ZIP\n");
  EXPECT_NE(ReadFile(job).find("\n4=\n"), std::string::npos) << "an empty cell is a bare key";
}

TEST_F(SettingsFiles, JobFileRoundTripRestoresListsAndUpperCasedGrid) {
  env.archiveName = "/backup/docs.zip";
  {
    THandlersDetached d{&lists.modeList, &lists.compressionList, &lists.functionsList,
                        &lists.directoryList};
    lists.modeList.SetChecked(kModeMove, true);
    lists.directoryList.SetChecked(kDirFollowLinks, true);
    lists.compressionList.SetChecked(kCompNone, true);
    lists.functionsList.SetMask(2 + 4);  // stamp off, versioning on
  }
  lists.firstDiskEdit.SetText("3");
  grid.cells[1][19] = "tmp*";
  settings.WriteSettings(QString::fromStdString(dir / "docs.ini"));

  Restarted s;
  s.prefs.Set("CatDIR", false);
  ASSERT_TRUE(s.settings.INIfileIO(QString::fromStdString(dir / "docs.ini")));
  EXPECT_EQ(s.env.archiveName, "/backup/docs.zip");
  EXPECT_EQ(s.lists.modeList.CheckedIndex(), kModeMove);
  EXPECT_TRUE(s.lists.modeList.Marking()) << "the loader shows the marking";
  EXPECT_EQ(s.lists.compressionList.CheckedIndex(), kCompNone);
  EXPECT_EQ(s.lists.functionsList.Mask(), 6);
  EXPECT_TRUE(s.lists.directoryList.Checked(kDirFollowLinks));
  EXPECT_TRUE(s.lists.functionsList.Marking());
  EXPECT_FALSE(s.lists.basicStampList.Checked(0));
  EXPECT_FALSE(s.lists.stealthList.Checked(kStealthStamp));
  EXPECT_EQ(s.lists.maxSizeEdit.text(), "MaxSizeMb");
  EXPECT_EQ(s.lists.firstDiskEdit.text(), "3");
  EXPECT_EQ(s.grid.cells[1][19], "TMP*");
  EXPECT_TRUE(s.prefs.Bool("CatDIR")) << "a job file lacks CatDIR: ProgramDIR";
  EXPECT_TRUE(s.host.ControlChecked(ctl::kProgramDirItem));
  EXPECT_FALSE(s.host.ControlChecked(ctl::kBackupDirItem));
}

TEST_F(SettingsFiles, OptCheck2RestoresFiveItemsAndSpanTwinWithoutRules) {
  WriteFile(dir / "j.ini",
            "[ZIPFILE]\nFname=/b/j.zip\n[Options]\nClrDisk=0\nOptCheck1=3\nOptCheck2=428\n"
            "OptCheck3=1\nOptCheck6=0\n");
  env.archiveName = "/b/old-2002-Dec-01.zip";
  // No rule may run while loading: a rule would show boxes (failing the scripted host), rename
  // the archive or reset the size list.
  ASSERT_TRUE(settings.INIfileIO(QString::fromStdString(dir / "j.ini")));
  EXPECT_EQ(lists.directoryList.Mask(), 428);
  for (int i : {kDirHidden, kDirRecursion, kDirSpan, kDirSpanNoVolume, kDirDirectoryFirstDisk})
    EXPECT_TRUE(lists.directoryList.Checked(i)) << i;
  EXPECT_EQ(lists.basicSizeList.CheckedIndex(), kBasicSpan);
  EXPECT_EQ(lists.sizeList.CheckedIndex(), kSizeCdr650);
  EXPECT_EQ(lists.modeList.CheckedIndex(), kModeBitSetClear);
  EXPECT_EQ(lists.basicList.CheckedIndex(), kBasicChanged) << "basic twin agrees";
  EXPECT_FALSE(lists.functionsList.Checked(kFnStamp));
  EXPECT_FALSE(lists.basicStampList.Checked(0));
  EXPECT_FALSE(lists.stealthList.Checked(kStealthStamp));
  EXPECT_EQ(env.namesSet, QStringList{"/b/j.zip"});
  EXPECT_FALSE(env.hiddenShown.has_value());
}

TEST_F(SettingsFiles, FileWithoutClrDiskLoadsOnlyTheArchiveName) {
  WriteFile(dir / "j.ini",
            "[ZIPFILE]\nFname=/b/j.zip\n[Options]\nOptCheck1=6\nOptCheck2=0\nCatDIR=0\n"
            "[SGcol0]\n1=*.X\n");
  EXPECT_FALSE(settings.INIfileIO(QString::fromStdString(dir / "j.ini")));
  EXPECT_EQ(env.archiveName, "/b/j.zip");
  EXPECT_EQ(lists.modeList.CheckedIndex(), kModeCopy);
  EXPECT_EQ(lists.directoryList.Mask(), 4 + 8 + 16 + 128 + 256) << "links stored as links";
  EXPECT_TRUE(prefs.Bool("CatDIR"));
  EXPECT_EQ(grid.cells[0][1], "");
}

TEST_F(SettingsFiles, EmptyArchiveNameIsAnIncorrectPath) {
  WriteFile(dir / "j.ini", "[Options]\nClrDisk=0\nOptCheck1=6\n");
  boxes.Answer(IDOK, "Incorrect path");
  EXPECT_FALSE(settings.INIfileIO(QString::fromStdString(dir / "j.ini")));
  EXPECT_EQ(lists.modeList.CheckedIndex(), kModeCopy);
  EXPECT_EQ(env.terminated, 0);
  // An automatic run cannot go on.
  env.autoRunFile = "/x/j.job";
  boxes.Answer(IDOK, "Incorrect path");
  settings.INIfileIO(QString::fromStdString(dir / "j.ini"));
  EXPECT_EQ(env.terminated, 1);
}

TEST_F(SettingsFiles, NamesWithoutFolderAreFoundByJobDirMode) {
  WriteFile(ProgramDir() + "p.ini", "[ZIPFILE]\nFname=/b/p.zip\n");
  WriteFile(dir / "q.ini", "[ZIPFILE]\nFname=/b/q.zip\n");
  settings.INIfileIO("p.ini");
  EXPECT_EQ(env.archiveName, "/b/p.zip");
  prefs.Set("CatDIR", false);  // "BackupDIR": beside the current archive
  env.archiveName = QString::fromStdString(dir / "cur.zip");
  settings.INIfileIO("q.ini");
  EXPECT_EQ(env.archiveName, "/b/q.zip");
}

TEST_F(SettingsFiles, DefaultFileAppliesPreferencesAndSchedule) {
  WriteFile(DefaultIni(),
            "[Options]\nClrDisk=1\nCatDIR=0\nExpert=1\nHints=0\nThemes=0\nVTreeDisplayMode=-3\n"
            "ArchiveSortBy=4\nDateTimeFormat=2\nTempDIR=/var/tmp\nMinToTray=1\nDirMon=1\n"
            "HotKeyNames=Ctrl+F9\nHotKeyFunc#=2\nHotKeyVK#=120\n"
            "[Scheduled]\ndays=65\ntime=21:30\nfile=/j/nightly.job\n");
  host.SetControlCaption(ctl::kContextHelpItem, "          For context Help");
  env.runOnStartup = 2;
  QStringList loaded;
  QObject::connect(&settings, &TSettingsFiles::preferenceLoaded,
                   [&](const QString& k) { loaded << k; });
  ASSERT_TRUE(settings.INIfileIO());
  EXPECT_TRUE(host.ControlChecked(ctl::kNoPromptEraseItem));
  EXPECT_FALSE(host.ControlChecked(ctl::kPromptEraseItem));
  EXPECT_TRUE(host.ControlChecked(ctl::kBackupDirItem));
  EXPECT_TRUE(host.ControlChecked(ctl::kAdvancedItem));
  EXPECT_TRUE(modeHost.groupHighlight.value(ctl::kAdvancedGroup));
  EXPECT_FALSE(host.ControlChecked(ctl::kHintsItem));
  EXPECT_EQ(host.ControlCaption(ctl::kContextHelpItem), "");
  EXPECT_FALSE(host.ControlChecked(ctl::kThemeManagerItem));
  EXPECT_EQ(lists.viewList.CheckedIndex(), kViewList) << "negative reads as 0";
  EXPECT_TRUE(host.ControlChecked(ctl::kSortByItems[4]));
  EXPECT_FALSE(host.ControlChecked(ctl::kSortByItems[0]));
  EXPECT_TRUE(host.ControlChecked(ctl::kDateTimeFormatItems[2]));
  EXPECT_TRUE(host.ControlChecked(ctl::kTempSelectItem));
  EXPECT_TRUE(host.ControlChecked(ctl::kMinToTrayItem));
  EXPECT_TRUE(host.ControlChecked(ctl::kStealthAtStartUpItem));
  EXPECT_FALSE(host.ControlChecked(ctl::kStartUpItem));
  EXPECT_TRUE(host.ControlChecked(ctl::kStealthExclZipItem)) << "missing keys give defaults";
  EXPECT_TRUE(lists.stealthList.Checked(kStealthMonitorSubDirs));
  EXPECT_EQ(prefs.Text("HotKeyNames"), "Ctrl+F9");
  EXPECT_EQ(prefs.Int("HotKeyVK#"), 120);
  EXPECT_EQ(scheduler.days, 65);
  EXPECT_EQ(scheduler.time, "21:30");
  EXPECT_EQ(scheduler.file, "/j/nightly.job");
  EXPECT_EQ(scheduler.timerStarts, 1);
  // Preferences arrive in the table's order, after "CatDIR".
  EXPECT_EQ(loaded.first(), "CatDIR");
  EXPECT_EQ(loaded.indexOf("MinToTray") + 1, loaded.indexOf("StealthARen"));
  EXPECT_EQ(loaded.last(), "ExtractLinksAsStored");
  EXPECT_EQ(env.namesSet.size(), 0) << "the default file names no archive";
}

TEST_F(SettingsFiles, ScheduleWithoutDaysOrJobIsIgnored) {
  WriteFile(DefaultIni(), "[Options]\nClrDisk=0\n[Scheduled]\ndays=0\nfile=/j/x.job\n");
  settings.INIfileIO();
  EXPECT_EQ(scheduler.file, "JOB Filename");
  WriteFile(DefaultIni(), "[Options]\nClrDisk=0\n[Scheduled]\ndays=2\n");
  settings.INIfileIO();
  EXPECT_EQ(scheduler.days, 2);
  EXPECT_EQ(scheduler.time, "00:00");
  EXPECT_EQ(scheduler.timerStarts, 0) << "the placeholder names no job";
}

TEST_F(SettingsFiles, MyDefaultIniCountsAsTheDefaultFile) {
  const std::string text = "[ZIPFILE]\nFname=/b/m.zip\n[Options]\nClrDisk=0\nMinToTray=1\n";
  WriteFile(dir / "MYDEFAULT.INI", text);
  WriteFile(dir / "myjob.ini", text);
  settings.INIfileIO(QString::fromStdString(dir / "myjob.ini"));
  EXPECT_FALSE(host.ControlChecked(ctl::kMinToTrayItem)) << "a job file carries no preferences";
  settings.INIfileIO(QString::fromStdString(dir / "MYDEFAULT.INI"));
  EXPECT_TRUE(host.ControlChecked(ctl::kMinToTrayItem));
  EXPECT_TRUE(TPreferences::IsDefaultFile("/x/Default.INI"));
  EXPECT_FALSE(TPreferences::IsDefaultFile("/x/default.in"));

  // Saving leaves out the archive name for the default file itself only: a job named mydefault
  // (or kept in a folder named so) keeps it and can be opened again.
  env.archiveName = "/b/m.zip";
  for (const std::string& job : {dir / "mydefault.INI", dir / "default.ini.d/j.INI"}) {
    std::filesystem::create_directories(dir / "default.ini.d");
    settings.WriteSettings(QString::fromStdString(job));
    EXPECT_EQ(IniFile(job).ReadString("ZIPFILE", "Fname", ""), "/b/m.zip") << job;
  }
  settings.WriteSettings(TPreferences::DefaultFile());
  EXPECT_FALSE(IniFile(ProgramDir() + "default.ini").SectionExists("ZIPFILE"));
}

TEST_F(SettingsFiles, OpeningAJobUnchecksMonitorSubDirectoriesAndSelectsProgramDir) {
  WriteFile(DefaultIni(), "[Options]\nClrDisk=0\nCatDIR=0\nDirMon=1\n");
  settings.INIfileIO();
  ASSERT_TRUE(lists.stealthList.Checked(kStealthMonitorSubDirs));
  ASSERT_TRUE(host.ControlChecked(ctl::kBackupDirItem));
  WriteFile(dir / "j.ini", "[ZIPFILE]\nFname=/b/j.zip\n[Options]\nClrDisk=0\n");
  settings.INIfileIO(QString::fromStdString(dir / "j.ini"));
  EXPECT_FALSE(lists.stealthList.Checked(kStealthMonitorSubDirs));
  EXPECT_TRUE(host.ControlChecked(ctl::kProgramDirItem));
  EXPECT_FALSE(host.ControlChecked(ctl::kBackupDirItem));
}

TEST_F(SettingsFiles, OutOfRangeValuesFallBackToDefaults) {
  WriteFile(dir / "j.ini",
            "[ZIPFILE]\nFname=/b/j.zip\n[Options]\nClrDisk=0\nOptCheck1=99\nOptCheck3=-1\n"
            "OptCheck4=3\nOptCheck2=100000\nOptCheck6=x\n");
  ASSERT_TRUE(settings.INIfileIO(QString::fromStdString(dir / "j.ini")));
  EXPECT_EQ(lists.modeList.CheckedIndex(), kModeCopy);
  EXPECT_EQ(lists.sizeList.CheckedIndex(), kSizeAutomatic);
  EXPECT_EQ(lists.compressionList.CheckedIndex(), kCompMax);
  EXPECT_EQ(lists.directoryList.Mask(), 100000 & 0x1FF);
  EXPECT_EQ(lists.functionsList.Mask(), lists.functionsList.DefaultMask());
}

// A key a job lacks reads as the new window's value, never as what the job before left.
TEST_F(SettingsFiles, AKeyTheJobLacksReadsAsTheNewWindowsDefault) {
  WriteFile(dir / "a.ini",
            "[ZIPFILE]\nFname=/b/a.zip\n[Options]\nClrDisk=0\nOptCheck1=6\nOptCheck2=1\n"
            "OptCheck3=1\nComboEdit1=650\nComboEdit2=12\nOptCheck4=2\nOptCheck6=2\n"
            "FollowLinks=1\n[SGcol0]\n1=*.DOC\n[SGcol1]\n1=*.BAK\n[SGcol2]\n1=*.PNG\n");
  WriteFile(dir / "b.ini", "[ZIPFILE]\nFname=/b/b.zip\n[Options]\nClrDisk=0\n");
  ASSERT_TRUE(settings.INIfileIO(QString::fromStdString(dir / "a.ini")));
  ASSERT_EQ(lists.compressionList.CheckedIndex(), kCompNone);
  ASSERT_TRUE(lists.directoryList.Checked(kDirFollowLinks));
  ASSERT_TRUE(settings.INIfileIO(QString::fromStdString(dir / "b.ini")));
  EXPECT_EQ(lists.compressionList.CheckedIndex(), kCompMax);
  EXPECT_EQ(lists.modeList.CheckedIndex(), kModeCopy);
  EXPECT_FALSE(lists.modeList.Marking());
  EXPECT_EQ(lists.sizeList.CheckedIndex(), kSizeAutomatic);
  EXPECT_EQ(lists.maxSizeEdit.text(), "MaxSizeMb");
  EXPECT_EQ(lists.firstDiskEdit.text(), "Disk#1Free");
  EXPECT_EQ(lists.directoryList.Mask(), 4 + 8 + 16 + 128 + 256) << "links stored as links";
  EXPECT_EQ(lists.functionsList.Mask(), 1);
  EXPECT_TRUE(lists.basicStampList.Checked(0));
  EXPECT_EQ(grid.cells[0][1], "*.*");
  EXPECT_EQ(grid.cells[1][1], "*.TMP");
  EXPECT_EQ(grid.cells[1][2], "*.SWP");
  EXPECT_EQ(grid.cells[2][6], "*.MP4");
}

// The job's cipher: written and read back as the item's text; a job saved before the choice
// existed keeps Traditional, while the default file (new jobs) without it gives AES-256.
TEST_F(SettingsFiles, EncryptionMethodRoundTripsAndOlderJobsKeepTraditional) {
  const std::string job = dir / "job.ini";
  const std::string older = "[ZIPFILE]\nFname=/b/job.zip\n[Options]\nClrDisk=0\nOptCheck2=1\n";
  const struct {
    const char* what;
    int written;       // the item written by WriteSettings, or -1 for the file below
    std::string file;  // the settings file as it is on disk
    bool defaultFile;
    const char* stored;  // "EncryptionMethod" in the file
    int read;
  } rows[] = {
      {"AES-256 saved", kEncAes256, "", false, "AES-256", kEncAes256},
      {"Traditional saved", kEncTraditional, "", false, "Traditional", kEncTraditional},
      {"a job saved before the choice", -1, older, false, "", kEncTraditional},
      {"the default file before the choice", -1, "[Options]\nClrDisk=0\n", true, "", kEncAes256},
      {"typed in another case", -1, older + "EncryptionMethod=aes-256\n", false, "aes-256",
       kEncAes256},
  };
  env.archiveName = "/b/job.zip";
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const std::string path = row.defaultFile ? DefaultIni() : job;
    if (row.written >= 0) {
      THandlersDetached d{&lists.encryptionList};
      lists.encryptionList.SetChecked(row.written, true);
      settings.WriteSettings(QString::fromStdString(path));
    } else {
      WriteFile(path, row.file);
    }
    EXPECT_EQ(IniFile(path).ReadString("Options", "EncryptionMethod", ""), row.stored);
    Restarted s;
    {
      // Whatever the window showed before, the file decides.
      THandlersDetached d{&s.lists.encryptionList};
      s.lists.encryptionList.SetChecked(row.read == kEncAes256 ? kEncTraditional : kEncAes256,
                                        true);
    }
    ASSERT_TRUE(s.settings.INIfileIO(row.defaultFile ? QString() : QString::fromStdString(path)));
    EXPECT_EQ(s.lists.encryptionList.CheckedIndex(), row.read);
  }
}

TEST_F(SettingsFiles, SetDefaultWritesTheJobPartAndKeepsPreferences) {
  WriteFile(DefaultIni(), "[Options]\nClrDisk=1\nMinToTray=1\n[Scheduled]\ndays=3\n");
  settings.INIfileIO();
  env.archiveName = "/b/never.zip";
  env.exeMode = true;
  {
    THandlersDetached d{&lists.compressionList};
    lists.compressionList.SetChecked(kCompLow, true);
  }
  settings.SetDefaultClick();
  IniFile ini(DefaultIni());
  EXPECT_FALSE(ini.SectionExists("ZIPFILE"));
  EXPECT_EQ(ini.ReadInteger("Options", "ClrDisk", -1), 1);
  EXPECT_EQ(ini.ReadInteger("Options", "OptCheck4", -1), 1);
  EXPECT_TRUE(ini.ReadBool("Options", "MinToTray", false));
  EXPECT_EQ(ini.ReadInteger("Scheduled", "days", 0), 3);
  EXPECT_FALSE(ini.ValueExists("Options", "DirMon")) << "DirMon is saved by its own change";
  EXPECT_EQ(ini.Keys("SGcol2").size(), 19u);
}

TEST_F(SettingsFiles, ArchiveNamesAreStoredAsTheyAreOrNotAtAll) {
  env.archiveName = "/b/docs-2003-Jan-03.zip";
  env.exeMode = true;
  settings.WriteSettings(QString::fromStdString(dir / "docs.ini"));
  EXPECT_EQ(IniFile(dir / "docs.ini").ReadString("ZIPFILE", "Fname", ""),
            "/b/docs-2003-Jan-03.EXE");
  env.exeMode = false;

  // A name that is not UTF-8 keeps its bytes, both ways.
  const std::string cafe = "/b/caf\xe9.zip";
  env.archiveName = PathText(cafe);
  settings.WriteSettings(QString::fromStdString(dir / "cafe.ini"));
  EXPECT_EQ(IniFile(dir / "cafe.ini").ReadString("ZIPFILE", "Fname", ""), cafe);
  env.archiveName.clear();
  settings.INIfileIO(QString::fromStdString(dir / "cafe.ini"));
  EXPECT_EQ(PathBytes(env.archiveName), cafe);

  // A line break would turn into another name when read back: the file is not written.
  env.archiveName = "/b/two\nlines.zip";
  EXPECT_THROW(settings.WriteSettings(QString::fromStdString(dir / "nl.ini")), std::system_error);
  EXPECT_FALSE(testutil::Exists(dir / "nl.ini"));

  // Every byte string comes back from the text form as it was.
  for (const std::string& b :
       {std::string("plain/ascii"), std::string("\xc3\xa9t\xc3\xa9"), std::string("caf\xe9"),
        std::string("\xc0\xaf overlong"), std::string("\xed\xa0\x80 surrogate"),
        std::string("\xf0\x9f\x98\x80 \xff\xfe"), std::string("cut \xe2\x82")}) {
    EXPECT_EQ(PathBytes(PathText(b)), b);
  }
  EXPECT_EQ(PathText("\xc3\xa9"), QStringLiteral("\u00e9"));
}

TEST_F(SettingsFiles, EachPreferenceIsWrittenAtOnceAndRestoredAfterRestart) {
  // As after the first run: the file carries the "ClrDisk" marker.
  const std::string base = "[Options]\nClrDisk=0\n";
  struct Case {
    const char* key;
    std::function<void(TSettingsFiles&, OptionsFixture&)> change;
    std::function<void(Restarted&)> check;
  };
  const std::vector<Case> cases = {
      {"CatDIR", [](auto& s, auto&) { s.JobDirClick(false); },
       [](Restarted& r) { EXPECT_TRUE(r.host.ControlChecked(ctl::kBackupDirItem)); }},
      {"ClrDisk", [](auto& s, auto&) { s.ClearDiskMethodClick(true); },
       [](Restarted& r) { EXPECT_TRUE(r.host.ControlChecked(ctl::kNoPromptEraseItem)); }},
      {"TempDIR", [](auto& s, auto&) { s.TempDirChosen("/var/tmp"); },
       [](Restarted& r) {
         EXPECT_TRUE(r.host.ControlChecked(ctl::kTempSelectItem));
         EXPECT_EQ(r.prefs.Text("TempDIR"), "/var/tmp");
       }},
      {"DateTimeFormat", [](auto& s, auto&) { s.DateTimeFormatClick(3); },
       [](Restarted& r) { EXPECT_TRUE(r.host.ControlChecked(ctl::kDateTimeFormatItems[3])); }},
      {"ArchiveSortBy", [](auto& s, auto&) { s.SortByClick(5); },
       [](Restarted& r) { EXPECT_TRUE(r.host.ControlChecked(ctl::kSortByItems[5])); }},
      {"GFindDIR", [](auto& s, auto&) { s.GlobalFindDirChosen("/srv/zips"); },
       [](Restarted& r) { EXPECT_EQ(r.prefs.Text("GFindDIR"), "/srv/zips"); }},
      {"LargeFonts", [](auto& s, auto&) { s.CheckBoxPreference("LargeFonts", true); },
       [](Restarted& r) { EXPECT_TRUE(r.host.ControlChecked(ctl::kLargeFontsBox)); }},
      {"QuickSearch", [](auto& s, auto&) { s.CheckBoxPreference("QuickSearch", false); },
       [](Restarted& r) { EXPECT_FALSE(r.host.ControlChecked(ctl::kQuickSearchBox)); }},
      {"Expert", [](auto&, auto& f) { f.options.ExpertModeClick(true); },
       [](Restarted& r) { EXPECT_TRUE(r.host.ControlChecked(ctl::kAdvancedItem)); }},
      {"VTreeDisplayMode", [](auto&, auto& f) { f.lists.viewList.Click(kViewListDir); },
       [](Restarted& r) { EXPECT_EQ(r.lists.viewList.CheckedIndex(), kViewListDir); }},
      {"DirMon", [](auto&, auto& f) { f.lists.stealthList.Click(kStealthMonitorSubDirs); },
       [](Restarted& r) { EXPECT_TRUE(r.lists.stealthList.Checked(kStealthMonitorSubDirs)); }},
      {"ExtractLinksAsStored",
       [](auto&, auto& f) { f.lists.extractOptionList.Click(kExtractLinksAsStored); },
       [](Restarted& r) { EXPECT_TRUE(r.lists.extractOptionList.Checked(kExtractLinksAsStored)); }},
  };
  auto keysOf = [&] { return IniFile(DefaultIni()).Keys("Options"); };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    WriteFile(DefaultIni(), base);
    c.change(settings, *this);
    const std::vector<std::string> want = c.key == std::string("ClrDisk")
                                              ? std::vector<std::string>{"ClrDisk"}
                                              : std::vector<std::string>{"ClrDisk", c.key};
    EXPECT_EQ(keysOf(), want);
    Restarted r;
    ASSERT_TRUE(r.settings.INIfileIO());
    c.check(r);
  }

  // Menu toggles: each writes its key with the new check mark.
  for (const TPreferences::KeyInfo& s : TPreferences::Table()) {
    const QString key = s.key;
    const QString item = TSettingsFiles::MenuItemOf(key);
    if (item.isEmpty() || key == "LargeFonts" || key == "QuickSearch") continue;
    SCOPED_TRACE(s.key);
    WriteFile(DefaultIni(), base);
    host.SetControlChecked(item, s.def.toBool());
    settings.ToggleMenuPreference(key);
    EXPECT_EQ(keysOf(), (std::vector<std::string>{"ClrDisk", s.key}));
    EXPECT_EQ(IniFile(DefaultIni()).ReadBool("Options", s.key, s.def.toBool()), !s.def.toBool());
    Restarted r;
    r.host.SetControlChecked(item, s.def.toBool());
    ASSERT_TRUE(r.settings.INIfileIO());
    EXPECT_EQ(r.host.ControlChecked(item), !s.def.toBool());
  }
}

TEST_F(SettingsFiles, HotkeyAndBurnerKeysAreSavedWhenDefined) {
  WriteFile(DefaultIni(), "[Options]\nClrDisk=0\n");
  settings.HotkeyDefined("Ctrl+Alt+B", 3, 66);
  settings.BurnerSettingsConfirmed("/dev/sr0", "HL-DT-ST", 16, true, false, false);
  IniFile ini(DefaultIni());
  EXPECT_EQ(ini.Keys("Options"),
            (std::vector<std::string>{"ClrDisk", "HotKeyNames", "HotKeyFunc#", "HotKeyVK#",
                                      "BurnerDrive", "Burner", "BurnerSpeed", "BurnerFinal",
                                      "Native", "BurnerSizingAuto"}));
  Restarted r;
  ASSERT_TRUE(r.settings.INIfileIO());
  EXPECT_EQ(r.prefs.Int("HotKeyFunc#"), 3);
  EXPECT_EQ(r.prefs.Text("Burner"), "HL-DT-ST");
  EXPECT_FALSE(r.prefs.Bool("Native"));
}

TEST_F(SettingsFiles, APreferenceThatCannotBeSavedIsReportedAndKept) {
  WriteFile(DefaultIni(), "[Options]\nClrDisk=0\n");
  IniFile::beforeRenameHook = [](const std::string&) {
    throw std::system_error(ENOSPC, std::generic_category(), "default.ini");
  };
  boxes.Answer(IDOK);
  settings.ToggleMenuPreference("MinToTray");
  IniFile::beforeRenameHook = nullptr;
  ASSERT_EQ(boxes.transcript().size(), 1);
  EXPECT_TRUE(boxes.transcript()[0].text.startsWith("Settings not saved: "));
  EXPECT_EQ(boxes.transcript()[0].icon, MB_ICONEXCLAMATION);
  EXPECT_TRUE(prefs.Bool("MinToTray"));
  EXPECT_EQ(ReadFile(DefaultIni()), "[Options]\nClrDisk=0\n") << "the old file is intact";
  // "Set Default" reports the same way.
  IniFile::beforeRenameHook = [](const std::string&) {
    throw std::system_error(EIO, std::generic_category(), "default.ini");
  };
  boxes.Answer(IDOK);
  settings.SetDefaultClick();
  IniFile::beforeRenameHook = nullptr;
  EXPECT_EQ(boxes.transcript().size(), 2);
}
