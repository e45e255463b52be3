// Backups to a disc target ("/dev/srN/NAME.zip") staged in the program folder and burnt part by
// part onto emulated writers, read back with isoinfo and tested with 7zz and unzip: in this
// process through the backup side of the window, and through the program itself.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <cstdlib>
#include <random>

#include "app/explorer.h"
#include "app/filedialoghost.h"
#include "app/inclusiongrid.h"
#include "app/jobcontroller.h"
#include "app/maincontext.h"
#include "app/mainwiring.h"
#include "app/optionscontroller.h"
#include "app/settingsfiles.h"
#include "app/startupseams.h"
#include "backup/backupcore.h"
#include "backup/backuprun.h"
#include "backup/burncommands.h"
#include "backup/moveblocks.h"
#include "backup/naming.h"
#include "backup/reporthosts.h"
#include "backup/runreport.h"
#include "backup/udisks.h"
#include "disc/discburner.h"
#include "discemu/emulateddrive.h"
#include "jobfiles.h"
#include "nullhosts.h"
#include "platform/archiveattr.h"
#include "platform/programdir.h"
#include "run_fixture.h"
#include "udisksmock.h"

using testutil::Quote;

using namespace nullhosts;

namespace {

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(random());
  return s;
}

// Folder browsers answered in turn.
struct FolderDialogs : FakeDialogs {
  QStringList folders;
  QString BrowseFolder(const QString&) override {
    return folders.isEmpty() ? QString() : folders.takeFirst();
  }
};

// The id the device layer lists for the emulated drive in folder.
std::string EmulatedId(const std::string& folder) {
  TSCSIDevice probe;
  probe.SetTransport(std::make_unique<TEmulatedTransport>(folder));
  probe.InitTransport();
  return probe.DeviceList.empty() ? std::string() : probe.DeviceList.front();
}

bool HaveDiscTools() {
  return testutil::HaveTool("isoinfo") && testutil::HaveTool("7zz") && testutil::HaveTool("unzip");
}

// The backup side of the window over one emulated CD-R writer, sr0, as the configured burner.
struct StagedRun : ::testing::Test {
  testutil::TempDir dir;
  testutil::IsolatedXdg xdg{dir.path()};
  ScriptedHost boxes;
  RecordingControlHost controls;
  FakeDisplay display;
  FolderDialogs dialogs;
  NoFiles files;
  NoNaming naming;
  FakeSeams seams;
  IStartupSeams startup;
  IMainWindow window;
  NoModes modes;
  NoScheduler scheduler;
  NoProgress progress;
  LinesBox box;
  MainContext ctx;
  std::unique_ptr<TBackupCore> core;
  std::string drives, src;

  StagedRun() {
    ResetProgramDirForTest();
    InstallEmulatedDrives();
    drives = dir / "drives";
    ::mkdir(drives.c_str(), 0755);
    EXPECT_TRUE(TEmulatedDrive::Create(drives + "/sr0", "CD-R", 0));
    ::setenv("ARCAVO_EMULATED_DRIVES", drives.c_str(), 1);
    WireSubsystems(ctx, controls, startup, window, modes, scheduler, files);
    core = std::make_unique<TBackupCore>(ctx, controls, display, dialogs, naming, seams);
    core->AttachReport(progress, box);
    TBurnerSettings burner;
    burner.burner = QString::fromStdString(EmulatedId(drives));
    burner.drive = "/dev/sr0/";
    EXPECT_TRUE(SaveBurnerSettings(*ctx.Prefs, burner));
    ctx.Prefs->Set("CheckTempSpace", false);
    ctx.Prefs->Set("FullReport", false);
    src = dir / "src";
    ::mkdir(src.c_str(), 0755);
    testutil::WriteFile(src + "/a.bin", RandomBytes(1200000, 1));
    testutil::WriteFile(src + "/b.bin", RandomBytes(1200000, 2));
    TOptionLists& l = *ctx.Lists;
    ctx.Grid->SetCell(TInclusionGrid::INCLUDE, 1, "*.*");
    ctx.Explorer->Store().SetChecked(src, true);
    l.functionsList.SetChecked(opt::kFnStamp, false);
    l.basicStampList.SetChecked(0, false);
    l.directoryList.SetChecked(opt::kDirRecursion, true);
    l.compressionList.SetChecked(opt::kCompNone, true);
    // Parts of 1,000,000 bytes: three discs for the 2.4 MB of sources.
    l.maxSizeEdit.SetText("1");
    core->run().SetArchiveName("/dev/sr0/docs.zip", true);
  }
  ~StagedRun() override {
    core.reset();
    ::unsetenv("ARCAVO_EMULATED_DRIVES");
    SetMbTerminating(false);
    ResetProgramDirForTest();
  }

  TEmulatedDrive& Drive() {
    auto* transport = dynamic_cast<TEmulatedTransport*>(ctx.Burner->Transport());
    EXPECT_NE(transport, nullptr);
    return *transport->DriveByNode("sr0");
  }
  // Takes the burnt disc out (keeping its image as discN.img) and puts in a blank CD-R.
  void SwapDisc(int n) {
    testutil::WriteFile(dir / ("disc" + std::to_string(n) + ".img"),
                        testutil::ReadFile(drives + "/sr0.img"));
    Drive().SetState(TEmuState::ForProfile("CD-R"));
  }
  // "/NAME" per line as isoinfo lists the disc's Joliet tree.
  std::string Listing(const std::string& image) {
    return testutil::Run("isoinfo -J -f -i " + Quote(image)).out;
  }
  std::string Extract(const std::string& image, const std::string& name, const std::string& to) {
    const auto r =
        testutil::Run("isoinfo -J -i " + Quote(image) + " -x " + Quote(name) + " > " + Quote(to));
    EXPECT_EQ(r.status, 0) << r.out;
    return to;
  }
};

QString Prompt(int n) {
  return "     Please insert disk #" + QString::number(n) + "\r     of the multi-disk set.";
}

}  // namespace

TEST_F(StagedRun, ThreePartsGoToThreeDiscsAndReadBackAsOneSet) {
  if (!HaveDiscTools()) GTEST_SKIP() << "isoinfo, 7zz or unzip missing";
  boxes.onBox = [&](const MbBox& box) {
    // At the prompt for disc n the disc before it has been burnt.
    for (int n = 2; n <= 3; ++n)
      if (box.text == Prompt(n)) SwapDisc(n - 1);
  };
  boxes.Answer(IDOK, Prompt(1)).Answer(IDOK, Prompt(2)).Answer(IDOK, Prompt(3));
  boxes.Answer(IDOK, "    Backup successful    \r2 file/DIRs were added");
  core->run().WriteZbtnClick();
  EXPECT_EQ(boxes.PendingAnswers(), 0);
  EXPECT_EQ(core->run().LastExitStatus(), kExitOk);
  EXPECT_EQ(core->run().ZipName(), "/dev/sr0/docs.zip");
  testutil::WriteFile(dir / "disc3.img", testutil::ReadFile(drives + "/sr0.img"));

  // Nothing is left behind in the program folder.
  const QDir programDir(QString::fromStdString(ProgramDir()));
  EXPECT_TRUE(programDir.entryList({"docs*", "*.zfc"}, QDir::Files).isEmpty())
      << programDir.entryList().join(' ').toStdString();

  const std::string set = dir / "set";
  ::mkdir(set.c_str(), 0755);
  const char* parts[] = {"docs.z01", "docs.z02", "docs.zip"};
  for (int n = 1; n <= 3; ++n) {
    SCOPED_TRACE(n);
    const std::string image = dir / ("disc" + std::to_string(n) + ".img");
    const std::string listing = Listing(image);
    EXPECT_NE(listing.find("/docs.zip"), std::string::npos) << listing;
    EXPECT_NE(listing.find("/docsDisk#" + std::to_string(n)), std::string::npos) << listing;
    Extract(image, "/docs.zip;1", set + "/" + parts[n - 1]);
  }
  const auto tested = testutil::Run("cd " + Quote(set) + " && 7zz t docs.zip");
  EXPECT_EQ(tested.status, 0) << tested.out;
  EXPECT_NE(tested.out.find("Everything is Ok"), std::string::npos) << tested.out;
}

TEST_F(StagedRun, AFailedBurnFailsTheRunAndKeepsEverySourceEveryBitAndThePart) {
  // One part, no prompt before it (unattended); the drive's fault file fails the burn at one of
  // its steps. A move deletes nothing and a run that clears archive bits clears none while the
  // archive is on no disc; the staged part stays in the program folder, named in the report.
  ctx.Lists->maxSizeEdit.SetText("MaxSizeMb");
  ctx.Lists->functionsList.SetChecked(opt::kFnUnattended, true);
  ASSERT_TRUE(core->burn().EnsureTransport());
  const struct {
    int Mode;
    const char* Faults;
    QString Error;
  } rows[] = {
      {opt::kModeMove, "35 sense 3 0C 00 count=2", "WRITER ERROR [MEDIUM ERROR (WRITE ERROR)]"},
      {opt::kModeCopyClear, "5B sense 3 72 00 count=2",
       "WRITER ERROR [MEDIUM ERROR (SESSION FIXATION ERROR)]"},
      {opt::kModeMove, "remove-medium-at 5B",
       "WRITER ERROR [NOT READY (MEDIUM NOT PRESENT - TRAY CLOSED)]"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Faults);
    ctx.Lists->modeList.SetChecked(row.Mode, true);
    Drive().SetState(TEmuState::ForProfile("CD-R"));
    testutil::WriteFile(drives + "/sr0.faults", std::string(row.Faults) + "\n");
    boxes.Press("CANCEL", row.Error + "\r Action: ERASE or RETRY(Replace disk)?");
    boxes.Answer(IDOK, row.Error + " \r2 file/DIRs were added");
    core->run().WriteZbtnClick();
    EXPECT_EQ(boxes.PendingAnswers(), 0);
    EXPECT_FALSE(testutil::Exists(drives + "/sr0.faults"));
    EXPECT_EQ(core->run().LastExitStatus(), kExitRunFailed);
    TArchiveAttributes bits;
    for (const char* f : {"/a.bin", "/b.bin"}) {
      struct stat st;
      ASSERT_EQ(::stat((src + f).c_str(), &st), 0) << f;
      EXPECT_TRUE(bits.IsSet(src + f, st)) << f;
    }
    const QString kept = QString::fromStdString(ProgramDir()) + "docs.notburnt1.zip";
    EXPECT_TRUE(QFile::exists(kept));
    EXPECT_NE(display.report.join('\n').indexOf("Not burnt to disc, kept as " + kept), -1)
        << display.report.join('\n').toStdString();
    if (testutil::HaveTool("unzip")) {
      const auto t = testutil::Run("unzip -tq " + Quote(kept.toStdString()));
      EXPECT_EQ(t.status, 0) << t.out;
    }
    QFile::remove(kept);
    const QDir programDir(QString::fromStdString(ProgramDir()));
    EXPECT_TRUE(programDir.entryList({"docs.z*", "docsDisk*", "*.zfc"}, QDir::Files).isEmpty())
        << programDir.entryList().join(' ').toStdString();
  }
}

TEST_F(StagedRun, MoveBlocksBurnsTheSetPartByPartAndNamesWhatStayed) {
  if (!HaveDiscTools()) GTEST_SKIP() << "isoinfo, 7zz or unzip missing";
  const std::string blocks = dir / "blocks";
  ::mkdir(blocks.c_str(), 0755);
  for (const char* part : {"/data.z01", "/data.z02"})
    testutil::WriteFile(blocks + part, std::string(1457600, 'p'));
  testutil::WriteFile(blocks + "/data.zip", std::string(1000, 'z'));
  testutil::WriteFile(blocks + "/data.zfc", "configuration");
  testutil::WriteFile(blocks + "/other.zip", "another archive");
  dialogs.folders = {QString::fromStdString(blocks), "/dev/sr0/"};
  const QString insert = "Insert disk with at least 1.46Mb free";
  int shown = 0;
  boxes.onBox = [&](const MbBox&) {
    ++shown;
    if (shown == 2) {  // disc 1 is out, and no disc goes in for part 2
      SwapDisc(1);
      TEmuState none = Drive().State();
      none.Medium = false;
      none.Profile = "NONE";
      Drive().SetState(none);
    }
    if (shown == 4) Drive().SetState(TEmuState::ForProfile("CD-R"));
  };
  boxes.Answer(IDOK, insert).Answer(IDOK, insert);
  boxes.Answer(IDOK, "CD Writer checkout fails.\rPossibly no disk inserted");
  boxes.Answer(IDOK, "Insert disk with at least 0.001Mb free");
  boxes.Answer(IDOK, "These parts were not moved:\rdata.z02");
  core->moveBlocks().MoveBlocks1Click();
  EXPECT_EQ(boxes.PendingAnswers(), 0);
  const std::string first = Listing(dir / "disc1.img");
  EXPECT_NE(first.find("/data.z01"), std::string::npos) << first;
  EXPECT_NE(first.find("/data.zfc"), std::string::npos) << first;
  const std::string last = Listing(drives + "/sr0.img");
  EXPECT_NE(last.find("/data.zip"), std::string::npos) << last;
  EXPECT_EQ(QDir(QString::fromStdString(blocks)).entryList(QDir::Files),
            QStringList({"data.z02", "other.zip"}));
  EXPECT_EQ(SizeInMb(650000000), "650");
  EXPECT_EQ(SizeInMb(4482625000), "4483");
}

namespace {

// The burn commands over one emulated writer, sr0, with a disc of the row's making.
struct BurnRig {
  testutil::TempDir dir;
  testutil::IsolatedXdg xdg{dir.path()};
  TPreferences prefs;
  // The drive's waits (erasing, becoming ready) pass in virtual time.
  TVirtualDiscClock clock{5000};
  TDiscBurner burner;
  // Keeps the tray hints the burn's ticks set; a row may act on the activity and the hints.
  struct : IBurnDisplay {
    QStringList hints;
    std::function<void(const QString&)> onActivity, onHint;
    void SetActivity(const QString& text) override {
      if (onActivity) onActivity(text);
    }
    void SetTrayHint(const QString& hint) override {
      hints << hint;
      if (onHint) onHint(hint);
    }
  } display;
  std::unique_ptr<TBurnCommands> burn;
  TEmulatedDrive* drive = nullptr;

  explicit BurnRig(const TEmuState& state) {
    ResetProgramDirForTest();
    const std::string drives = dir / "drives";
    ::mkdir(drives.c_str(), 0755);
    EXPECT_TRUE(TEmulatedDrive::Create(drives + "/sr0", "CD-R", 0));
    burner.SetClock(&clock);
    auto transport = std::make_unique<TEmulatedTransport>(drives, &clock);
    TEmulatedTransport* t = transport.get();
    burner.SetTransport(std::move(transport));
    EXPECT_TRUE(burner.InitTransport());
    drive = t->DriveByNode("sr0");
    drive->SetState(state);
    TBurnerSettings s;
    s.burner = QString::fromStdString(burner.DeviceList.at(0));
    s.drive = "/dev/sr0/";
    EXPECT_TRUE(SaveBurnerSettings(prefs, s));
    burn = std::make_unique<TBurnCommands>(burner, prefs, display);
    burn->waitSliceMs = 2;
  }
  ~BurnRig() {
    burn.reset();
    ResetProgramDirForTest();
  }
};

// Burns a.txt holding text.
bool BurnText(BurnRig& r, const std::string& text) {
  testutil::WriteFile(r.dir / "a.txt", text);
  return r.burn->BurnFiles({QString::fromStdString(r.dir / "a.txt")});
}

// The size of a file in the root of the disc's last session; -1 when it is not there.
int64_t SizeInLastSession(BurnRig& r, const std::string& name) {
  r.burner.ImportSession = -1;
  r.burner.ClearImage(65535, 8191);
  r.burner.ImportSessionTree();
  for (TFEntry* e = r.burner.Root()->FirstChild; e; e = e->Next)
    if (e->LongName == name) return e->DataSize;
  return -1;
}

// Another program's UDF volume on the rig's formatted DVD+RW: its descriptors from sector 16.
void WriteUdf(BurnRig& r) {
  TEmuState s = r.drive->State();
  s.Formatted = true;
  r.drive->SetState(s);
  std::string area(20 * 2048, 'Z');
  const char* ids[] = {"BEA01", "NSR02", "TEA01"};
  for (int i = 0; i < 3; ++i) area.replace(size_t(16 + i) * 2048, 6, std::string(1, '\0') + ids[i]);
  testutil::WriteFile(r.dir / "drives/sr0.img", area);
}

TEmuState Disc(const char* profile, uint32_t capacity = 0, bool medium = true) {
  TEmuState s = TEmuState::ForProfile(profile);
  if (capacity) s.Capacity = capacity;
  s.Medium = medium;
  if (!medium) s.Profile = "NONE";
  return s;
}

}  // namespace

TEST(BurnCommands, EveryQuestionAndMessageOfTheCommands) {
  const QString action = "\r Action: ERASE or RETRY(Replace disk)?";
  const struct {
    const char* Name;
    TEmuState State;
    std::function<void(BurnRig&)> Arrange;
    std::function<int(BurnRig&)> Act;
    std::vector<std::pair<QString, QString>> Boxes;  // the text shown, the button pressed
    int Result;
    size_t Sessions;  // sessions on the disc afterwards
  } rows[] = {
      {"properties of a blank CD-R",
       Disc("CD-R", 51200),
       {},
       [](BurnRig& r) { return r.burn->CDproperties1Click(), 0; },
       {{"Medium:        CD-R\rDisc Size:     100.00 MB\rUsed Space:   0.00 MB\rFree Space:   "
         "100.00 MB",
         "Exit"}},
       0,
       0},
      {"properties without a disc",
       Disc("CD-R", 0, false),
       {},
       [](BurnRig& r) { return r.burn->CDproperties1Click(), 0; },
       {{"Invalid or no disk", "OK"}},
       0,
       0},
      {"erase a CD-RW",
       Disc("CD-RW"),
       {},
       [](BurnRig& r) { return r.burn->EraseCDRW1Click(true), 0; },
       {{"Erasure clears CDRW of all data;\rincluding format - Proceed?", "Yes"},
        {"Erased Successfully", "Exit"}},
       0,
       0},
      {"erase refused by the drive",
       Disc("CD-RW"),
       [](BurnRig& r) { r.drive->InjectSense(0xA1, 5, 0x24, 0, 10); },
       [](BurnRig& r) { return r.burn->EraseCDRW1Click(true), 0; },
       {{"Erasure clears CDRW of all data;\rincluding format - Proceed?", "Yes"},
        {"Erase failed", "OK"}},
       0,
       0},
      {"erase a CD-R",
       Disc("CD-R"),
       {},
       [](BurnRig& r) { return r.burn->EraseCDRW1Click(true), 0; },
       {{"Disc not erasable", "OK"}},
       0,
       0},
      {"erase without a disc",
       Disc("CD-R", 0, false),
       {},
       [](BurnRig& r) { return r.burn->EraseCDRW1Click(true), 0; },
       {{"Disc not ready", "OK"}},
       0,
       0},
      {"little room on a CD-R",
       Disc("CD-R", 102400),
       {},
       [](BurnRig& r) { return static_cast<int>(r.burn->CheckCDHasSize(r.burn->GetCDDetails())); },
       {{"Burner has only 200 Mb free\r\nOK to continue, RETRY, or CANCEL", "CANCEL"}},
       13,
       0},
      {"little room on a CD-RW",
       Disc("CD-RW", 102400),
       {},
       [](BurnRig& r) { return static_cast<int>(r.burn->CheckCDHasSize(r.burn->GetCDDetails())); },
       {{"Disk has 200Mb free: CONTINUE as is, ERASE CDRW, or CANCEL", "CANCEL"}},
       13,
       0},
      {"image larger than the disc",
       Disc("CD-R", 300),
       {},
       [](BurnRig& r) {
         testutil::WriteFile(r.dir / "big.bin", std::string(1 << 20, 'b'));
         return static_cast<int>(r.burn->BurnFiles({QString::fromStdString(r.dir / "big.bin")}));
       },
       {{"INSUFFICIENT Disc space. Need:1324KB ,  AVAILABLE 600KB" + action, "CANCEL"}},
       0,
       0},
      {"image larger than a DVD-R: DVDs are measured too",
       Disc("DVD-R", 300),
       {},
       [](BurnRig& r) {
         testutil::WriteFile(r.dir / "big.bin", std::string(1 << 20, 'b'));
         return static_cast<int>(r.burn->BurnFiles({QString::fromStdString(r.dir / "big.bin")}));
       },
       {{"INSUFFICIENT Disc space. Need:1344KB ,  AVAILABLE 600KB" + action, "CANCEL"}},
       0,
       0},
      {"a DVD+RW holding UDF, kept",
       Disc("DVD+RW"),
       [](BurnRig& r) { WriteUdf(r); },
       [](BurnRig& r) {
         const std::string before = testutil::ReadFile(r.dir / "drives/sr0.img");
         const bool burnt = BurnText(r, "a");
         EXPECT_EQ(r.burn->LastBurnError, "THE DISC HOLDS ANOTHER FILE SYSTEM: NOT OVERWRITTEN");
         EXPECT_TRUE(testutil::ReadFile(r.dir / "drives/sr0.img") == before);
         return static_cast<int>(burnt);
       },
       {{"The disc holds another file system (UDF).\rBurning overwrites all of it: what it holds "
         "is lost.",
         "Cancel"}},
       0,
       0},
      {"a DVD+RW holding UDF, overwritten",
       Disc("DVD+RW"),
       [](BurnRig& r) { WriteUdf(r); },
       [](BurnRig& r) {
         return BurnText(r, "new") * 10 + static_cast<int>(SizeInLastSession(r, "a.txt"));
       },
       {{"The disc holds another file system (UDF).\rBurning overwrites all of it: what it holds "
         "is lost.",
         "Overwrite"}},
       13,
       0},
      {"one burn at a time: the writer's commands wait while it writes",
       Disc("CD-R"),
       {},
       [](BurnRig& r) {
         // The drive holds the second WRITE until a burn and a look at the disc were refused.
         bool once = false;
         r.display.onActivity = [&r](const QString& text) {
           if (text.trimmed().startsWith("Burning")) r.drive->HoldCommand(0x2A, 27);
         };
         r.display.onHint = [&](const QString&) {
           if (std::exchange(once, true)) return;
           EXPECT_TRUE(r.burn->Busy());
           testutil::WriteFile(r.dir / "b.txt", "second");
           EXPECT_FALSE(r.burn->BurnFiles({QString::fromStdString(r.dir / "b.txt")}));
           r.burn->CDproperties1Click();
           r.drive->ReleaseHold();
         };
         return static_cast<int>(BurnText(r, "first"));
       },
       {{"The disc writer is busy: wait until the burn, the erase or the backup to disc has ended",
         "OK"},
        {"The disc writer is busy: wait until the burn, the erase or the backup to disc has ended",
         "OK"}},
       1,
       1},
      {"full CD-R",
       Disc("CD-R", 300),
       [](BurnRig& r) {
         TEmuState s = r.drive->State();
         s.Complete = true;
         s.Sessions = {{0, 300}};
         s.Nwa = 300;
         r.drive->SetState(s);
       },
       [](BurnRig& r) { return static_cast<int>(r.burn->BurnFiles({"/etc/hostname"})); },
       {{"Disk has no space: CONTINUE as is, ERASE CDRW, or CANCEL", "ERASE"},
        {"Disk not Erasable\rreplace with another", "OK"},
        {"Disk has no space: CONTINUE as is, ERASE CDRW, or CANCEL", "CANCEL"}},
       0,
       1},
      {"write error",
       Disc("CD-R"),
       [](BurnRig& r) { r.drive->InjectSense(0x2A, 3, 0x0C, 0, 100); },
       [](BurnRig& r) {
         testutil::WriteFile(r.dir / "a.txt", "a");
         return static_cast<int>(r.burn->BurnFiles({QString::fromStdString(r.dir / "a.txt")}));
       },
       {{"WRITER ERROR [MEDIUM ERROR (WRITE ERROR)]" + action, "CANCEL"}},
       0,
       0},
      {"a path that is not there",
       Disc("CD-R"),
       {},
       [](BurnRig& r) {
         return static_cast<int>(r.burn->BurnFiles({QString::fromStdString(r.dir / "gone")}));
       },
       {{"NOT PUT ON THE DISC: " + QString::fromStdString("") + "", "OK"}},
       0,
       0},
      {"a name already on a CD-R: the new file goes on",
       Disc("CD-R"),
       [](BurnRig& r) { EXPECT_TRUE(BurnText(r, "old")); },
       [](BurnRig& r) {
         return BurnText(r, "newer") * 10 + static_cast<int>(SizeInLastSession(r, "a.txt"));
       },
       {{"/dev/sr0/a.txt already exists\rreplace disk=OK or CANCEL", "OK"}},
       15,
       2},
      {"a name already on a CD-R, cancelled",
       Disc("CD-R"),
       [](BurnRig& r) { EXPECT_TRUE(BurnText(r, "old")); },
       [](BurnRig& r) {
         return BurnText(r, "newer") * 10 + static_cast<int>(SizeInLastSession(r, "a.txt"));
       },
       {{"/dev/sr0/a.txt already exists\rreplace disk=OK or CANCEL", "Cancel"}},
       3,
       1},
      {"a name already on a CD-RW: the disc is erased first",
       Disc("CD-RW"),
       [](BurnRig& r) { EXPECT_TRUE(BurnText(r, "old")); },
       [](BurnRig& r) {
         return BurnText(r, "newer") * 10 + static_cast<int>(SizeInLastSession(r, "a.txt"));
       },
       {{"/dev/sr0/a.txt already exists\rEraseDisc=OK or CANCEL", "OK"}},
       15,
       1},
      {"the tray tells the burn halfway and at its end",
       Disc("DVD+R"),
       {},
       [](BurnRig& r) {
         // The drive holds the write that starts the image's second half until the tray has
         // told it, then the closing cache flush until the tray has told the end.
         r.display.onActivity = [&r](const QString& text) {
           if (text.trimmed().startsWith("Burning"))
             r.drive->HoldCommand(0x2A, r.drive->State().Nwa + (r.burner.ImageSize() + 1) / 2);
         };
         r.display.onHint = [&r](const QString& hint) {
           if (hint == "Arcavo BurnCD: 50% done") r.drive->HoldCommand(0x35);
           if (hint.endsWith(" 50% done") || hint.endsWith(" 100% done")) r.drive->ReleaseHold();
         };
         testutil::WriteFile(r.dir / "a.bin", RandomBytes(8 << 20, 3));
         const bool burnt = r.burn->BurnFiles({QString::fromStdString(r.dir / "a.bin")});
         EXPECT_TRUE(r.display.hints.contains("Arcavo BurnCD: 50% done"))
             << r.display.hints.join('|').toStdString();
         EXPECT_EQ(r.display.hints.last(), "Arcavo BurnCD: 100% done");
         return static_cast<int>(burnt);
       },
       {},
       1,
       1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Name);
    ScriptedHost boxes;
    BurnRig rig(row.State);
    if (row.Arrange) row.Arrange(rig);
    for (const auto& [text, button] : row.Boxes) {
      if (text.startsWith("NOT PUT ON THE DISC: "))
        boxes.Answer(IDOK, "NOT PUT ON THE DISC: " + QString::fromStdString(rig.dir / "gone") +
                               " (no such file)");
      else if (button == "Yes")
        boxes.Answer(IDYES, text);
      else if (button == "OK")
        boxes.Answer(IDOK, text);
      else if (button == "Cancel")
        boxes.Answer(IDCANCEL, text);
      else
        boxes.Press(button, text);
    }
    EXPECT_EQ(row.Act(rig), row.Result);
    EXPECT_EQ(boxes.PendingAnswers(), 0);
    EXPECT_EQ(rig.drive->State().Sessions.size(), row.Sessions);
  }
}

TEST(BurnCommands, ShortSpeedProbeFindsWhatTheFullLoopFinds) {
  const std::vector<int> supported = {7056, 5645, 4234, 2822, 1411, 706};
  // A drive rounds an asked speed down to one it has (the slowest when below all), or up.
  const std::function<int(int)> drives[] = {
      [&](int s) {
        for (int v : supported)
          if (v <= s) return v;
        return supported.back();
      },
      [&](int s) {
        for (auto it = supported.rbegin(); it != supported.rend(); ++it)
          if (*it >= s) return *it;
        return supported.front();
      },
  };
  for (const auto& drive : drives) {
    QStringList full{"Max"};
    for (int s = 7056; s >= 1; --s)
      if (!full.contains(SpeedEntry(drive(s)))) full << SpeedEntry(drive(s));
    int asked = 0;
    const QStringList shortList = ProbeSpeeds(7056, [&](int s) {
      ++asked;
      return drive(s);
    });
    EXPECT_EQ(shortList, full);
    EXPECT_LE(asked, 7056);
  }
  EXPECT_EQ(SpeedEntry(7056), "7056X (1,058,400 KB/s)");
  EXPECT_EQ(SpeedEntry(8), "08X (1,200 KB/s)");
  EXPECT_EQ(SpeedOfEntry("7056X (1,058,400 KB/s)"), 7056);
  EXPECT_EQ(SpeedOfEntry("Max"), 0);
}

namespace {

std::string ProgramPath() {
  const char* bin = std::getenv("ARCAVO_BINARY_DIR");
  return bin ? std::string(bin) + "/src/arcavo" : std::string();
}

// `arcavo docs.JOB close` for a job whose archive is /dev/sr0/docs.zip, with one emulated CD-R
// writer configured in the program's default settings.
struct ProgramDiscRun : ::testing::Test {
  testutil::TempDir dir;
  testutil::IsolatedXdg xdg{dir.path()};
  HandWrittenJob job{dir.path()};
  std::string drives = dir / "drives";

  ProgramDiscRun() {
    ::mkdir(drives.c_str(), 0755);
    EXPECT_TRUE(TEmulatedDrive::Create(drives + "/sr0", "CD-R", 0));
    job.archive = "/dev/sr0/docs.zip";
    const std::string settings = dir / "config/arcavo";
    testutil::Run("mkdir -p " + Quote(settings));
    testutil::WriteFile(settings + "/default.ini",
                        "[Options]\nClrDisk=0\nCheckTempSpace=0\nBurner=" + EmulatedId(drives) +
                            "\nBurnerDrive=/dev/sr0/\n");
  }
  testutil::CommandResult RunProgram() {
    return testutil::Run("cd " + Quote(dir.path()) + " && ARCAVO_EMULATED_DRIVES=" + Quote(drives) +
                         " QT_QPA_PLATFORM=offscreen timeout 120 " + Quote(ProgramPath()) +
                         " docs.JOB close");
  }
};

}  // namespace

TEST_F(ProgramDiscRun, JobToADiscTargetIsBurntOrFailsWithTheWritersError) {
  if (!HaveDiscTools() || !testutil::Exists(ProgramPath())) GTEST_SKIP() << "tools missing";
  job.WriteIni(0, 24);
  auto r = RunProgram();
  EXPECT_EQ(r.status, 0) << r.out;
  const std::string read = dir / "read.zip";
  const auto x = testutil::Run("isoinfo -J -i " + Quote(drives + "/sr0.img") +
                               " -x '/docs.zip;1' > " + Quote(read));
  EXPECT_EQ(x.status, 0) << x.out;
  const auto t = testutil::Run("unzip -tq " + Quote(read));
  EXPECT_EQ(t.status, 0) << t.out;

  // A disc that refuses every write, in a move: the run fails with the writer's error and every
  // source is still there.
  EXPECT_TRUE(TEmulatedDrive::Create(drives + "/sr0", "CD-R", 0));
  TEmuState state;
  ASSERT_TRUE(TEmuState::Load(drives + "/sr0.state", state));
  state.WriteProtected = true;
  ASSERT_TRUE(state.Save(drives + "/sr0.state"));
  job.WriteIni(0, 24, 6);
  r = RunProgram();
  EXPECT_NE(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("arcavo: WRITER ERROR ["), std::string::npos) << r.out;
  for (const char* f : {"/report.txt", "/pics/photo.jpg", "/notes/todo.md"})
    EXPECT_TRUE(testutil::Exists(job.data + f)) << f;
}

TEST(BurnCommands, FirstRunTakesTheFirstDriveThatWritesCdR) {
  const struct {
    std::vector<bool> Writers;  // per drive sr0, sr1, ...: whether it writes
    bool Found;
    QString Drive;
  } rows[] = {
      {{false, true}, true, "/dev/sr1/"},
      {{true, true}, true, "/dev/sr0/"},
      {{false}, false, ""},
  };
  for (const auto& row : rows) {
    testutil::TempDir dir;
    testutil::IsolatedXdg xdg{dir.path()};
    ResetProgramDirForTest();
    for (size_t i = 0; i < row.Writers.size(); ++i) {
      const std::string base = dir / ("sr" + std::to_string(i));
      ASSERT_TRUE(TEmulatedDrive::Create(base, "CD-R", static_cast<uint8_t>(i)));
      TEmuState state;
      ASSERT_TRUE(TEmuState::Load(base + ".state", state));
      state.Writer = row.Writers[i];
      ASSERT_TRUE(state.Save(base + ".state"));
    }
    TDiscBurner burner;
    burner.SetTransport(std::make_unique<TEmulatedTransport>(dir.path()));
    TPreferences prefs;
    IBurnDisplay display;
    TBurnCommands burn(burner, prefs, display);
    TBurnerSettings found;
    EXPECT_EQ(burn.ScanForWriter(found), row.Found);
    EXPECT_EQ(found.drive, row.Drive);
    EXPECT_EQ(found.native && found.sizingAuto, true);
    if (row.Found) {
      EXPECT_TRUE(found.burner.contains(row.Drive.mid(5, 3) + ":")) << found.burner.toStdString();
    }
    ResetProgramDirForTest();
  }
}

TEST(BurnCommands, AMountedDiscIsUnmountedThroughUdisksBeforeTheFirstWriteOrNothingIsWritten) {
  if (!HaveUdisksMock()) GTEST_SKIP() << "dbus-daemon or python3-dbusmock missing";
  testutil::TempDir bus;
  UdisksMock mock(bus.path(), "sr0", "/media/disc");
  ASSERT_TRUE(mock.ready()) << testutil::ReadFile(bus / "mock.out");
  TUdisks2 disks(mock.Bus());
  for (bool refuse : {false, true}) {
    SCOPED_TRACE(refuse ? "refused" : "unmounted");
    ScriptedHost boxes;
    BurnRig rig(Disc("CD-R"));
    const std::string proc = rig.dir / "proc";
    testutil::Run("mkdir -p " + Quote(proc + "/self"));
    const std::string mountinfo = proc + "/self/mountinfo";
    testutil::WriteFile(mountinfo, "36 25 11:0 / /media/disc ro,nosuid - iso9660 /dev/sr0 ro\n");
    const std::string log = rig.dir / "udisks.log";
    // The service notes how many bytes the drive had written to its disc when the call came; it
    // then takes the disc out of the mount table, or refuses as for a disc in use.
    const std::string note = "open('" + log + "', 'a').write('Unmount %d\\n' % os.path.getsize('" +
                             (rig.dir / "drives/sr0.img") + "'))";
    const std::string act = refuse ? "raise dbus.exceptions.DBusException('Target is busy', "
                                     "name='org.freedesktop.UDisks2.Error.DeviceBusy')"
                                   : "open('" + mountinfo + "', 'w').close()";
    ASSERT_TRUE(mock.SetMethod("/org/freedesktop/UDisks2/block_devices/sr0",
                               "org.freedesktop.UDisks2.Filesystem", "Unmount", "a{sv}",
                               QString::fromStdString("import os; " + note + "; " + act)));
    rig.burn->procRoot = proc;
    rig.burn->disks = &disks;
    testutil::WriteFile(rig.dir / "a.txt", "a");
    if (refuse)
      boxes.Press("CANCEL",
                  "DISC IS MOUNTED AND COULD NOT BE UNMOUNTED\r Action: ERASE or "
                  "RETRY(Replace disk)?");
    EXPECT_EQ(rig.burn->BurnFiles({QString::fromStdString(rig.dir / "a.txt")}), !refuse);
    EXPECT_EQ(boxes.PendingAnswers(), 0);
    EXPECT_EQ(testutil::ReadFile(log), "Unmount 0\n");
    EXPECT_EQ(rig.drive->State().Sessions.size(), refuse ? 0u : 1u);
    if (refuse) {
      EXPECT_EQ(rig.burn->LastBurnError, "DISC IS MOUNTED AND COULD NOT BE UNMOUNTED");
      for (const std::string& command : rig.drive->CommandLog())
        EXPECT_NE(command.substr(0, 2), "2A") << "a WRITE reached the drive";
    }
  }
}
