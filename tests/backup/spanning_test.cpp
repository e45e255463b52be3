// Backups spanned over simulated floppies with the disk prompts answered by the scripted host,
// split backups with the program's part names, and a spanned set read back disk by disk.
#include <gtest/gtest.h>

#include <QDir>
#include <random>

#include "app/filedialoghost.h"
#include "app/pathbytes.h"

#include "archive/zipmedia.h"
#include "backup/spanning.h"
#include "backup/udisks.h"
#include "run_fixture.h"
#include "simremovabledrive.h"
#include "udisksmock.h"

using testutil::Quote;
using testutil::ReadFile;
using testutil::WriteFile;

namespace {

std::string Noise(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(gen());
  return s;
}

// The names in a folder (hidden ones too), sorted.
QStringList Listing(const std::string& folder) {
  QStringList names = QDir(QString::fromStdString(folder))
                          .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
  names.sort();
  return names;
}

struct ScriptedFiles : IFileDialogHost {
  std::function<QString(const FileDialogSpec&)> open;
  QStringList titles;
  QString OpenFile(const FileDialogSpec& spec) override {
    titles << spec.title;
    return open ? open(spec) : QString();
  }
  QString SaveFile(const FileDialogSpec&) override { return {}; }
};

std::string Made(const std::string& folder) {
  ::mkdir(folder.c_str(), 0755);
  return folder;
}

const QString kPrompt = "     Please insert disk #%1\r     of the multi-disk set.";
const QString kPromptErase = kPrompt + "\r\nDisk will be erased with no prompt";

}  // namespace

struct SpanRun : RunFixture {
  SimRemovableDrive drive{Made(dir / "sim")};
  TSpanning spanning{zip, *run, lists, prefs, display, drive};
  ScriptedFiles files;
  std::string data = dir / "big";
  QStringList prompts;

  SpanRun() {
    zip.Media = &drive;
    zip.MultiZipInfo.CheckDiskLabels = false;
    spanning.Attach();
    spanning.fileDialogs = &files;
    run->onFileNameForSplitPart = [this](std::string& f, int part, int type) {
      spanning.ArcZip1FileNameForSplitPart(f, part, type);
    };
    run->diskSpaceKb = [this](const QString& p) {
      const int64_t free = drive.FreeBytes(PathBytes(p));
      return static_cast<uint32_t>(free > 0 ? (free + 500) / 1000 : 0);
    };
    seams.driveKind = 3;
    ::mkdir(data.c_str(), 0755);
    for (int i = 0; i < 3; ++i)
      WriteFile(data + "/part" + std::to_string(i) + ".bin", Noise(1100000, 7 + i));
    ticks.SetChecked(src, false);
    ticks.SetChecked(data, true);
    lists.compressionList.SetChecked(opt::kCompNone, true);
    lists.directoryList.SetChecked(opt::kDirSpan, true);
    lists.directoryList.SetChecked(opt::kDirErase, true);
    lists.directoryList.SetChecked(opt::kDirSpanNoVolume, false);  // media get labels
    // A prompt for disk n inserts medium n - 1 unless the test says otherwise.
    boxes.onBox = [this](const MbBox& box) {
      if (!box.text.startsWith("     Please insert disk #")) return;
      prompts << box.text;
      const int n = box.text.mid(25).section('\r', 0, 0).toInt();
      if (swapOnPrompt) drive.SwapTo(n - 1);
    };
  }
  ~SpanRun() override { spanning.Detach(); }
  bool swapOnPrompt = true;

  int AddFloppy(std::map<std::string, std::string> files) {
    TSimMedium m;
    m.files = std::move(files);
    return drive.AddMedium(m);
  }
  void NameArchive() {
    archive = drive.DriveFolder() + "/data.zip";
    run->SetArchiveName(QString::fromStdString(archive), true);
  }
  // The three volumes copied out under the names of a split set, tested by 7-Zip.
  void CheckWithPeers() {
    const std::string set = dir / "set";
    ::mkdir(set.c_str(), 0755);
    for (int k = 0; k < 3; ++k)
      WriteFile(set + (k == 2 ? "/data.zip" : "/data.z0" + std::to_string(k + 1)),
                drive.ReadFile(k, "data.zip"));
    if (testutil::HaveTool("7zz")) {
      const auto r = testutil::Run("7zz t " + Quote(set + "/data.zip"));
      EXPECT_EQ(r.status, 0) << r.out;
    }
    if (testutil::HaveTool("zip") && testutil::HaveTool("unzip")) {
      const auto r =
          testutil::Run("cd " + Quote(set) + " && zip -q -s 0 data.zip --out joined.zip" +
                        " && unzip -tq joined.zip");
      EXPECT_EQ(r.status, 0) << r.out;
    }
  }
};

TEST_F(SpanRun, ThreeFloppiesErasedWithoutAQuestion) {
  prefs.Write("ClrDisk", 1);  // "No Prompt Erase Files"
  AddFloppy({{"old.txt", "stays on disk 1"}});
  AddFloppy({{".hidden", "h"}, {"junk.txt", "j"}, {"dir/f.txt", "f"}});
  AddFloppy({{".keep", "k"}, {".dotdir/y", "y"}, {"more/w", "w"}, {"z.txt", "z"}});
  drive.SwapTo(0);
  NameArchive();
  boxes.Answer(IDOK, kPrompt.arg(1))
      .Answer(IDOK, kPromptErase.arg(2))
      .Answer(IDOK, kPromptErase.arg(3));
  RunExpecting("");
  ASSERT_TRUE(run->LastRunSucceeded()) << run->ResultText().toStdString();
  EXPECT_EQ(run->ResultText(),
            QString("    Backup successful    \r%1 file/DIRs were added").arg(run->LastCount()));
  EXPECT_EQ(prompts, QStringList({kPrompt.arg(1), kPromptErase.arg(2), kPromptErase.arg(3)}));
  drive.SwapTo(-1);
  EXPECT_EQ(Listing(dir / "sim/media/0"), QStringList({"data.zip", "dataDisk#1", "old.txt"}));
  EXPECT_EQ(Listing(dir / "sim/media/1"), QStringList({".hidden", "data.zip", "dataDisk#2"}));
  EXPECT_EQ(Listing(dir / "sim/media/2"),
            QStringList({".dotdir", ".keep", "data.zip", "dataDisk#3"}));
  CheckWithPeers();

  // Read back by the engine, disk by disk through the open dialog, with every medium mounted
  // under its label: a name without extension is refused for 4 s, a wrong disk asked about
  // (Retry), then the right ones taken.
  drive.RemountUnderLabel(true);
  drive.SwapTo(2);
  EXPECT_EQ(drive.DriveFolder(), dir / "sim/mnt/PKBACK# 003");
  zip.SetZipName(drive.DriveFolder() + "/data.zip");
  QStringList picks = {"noext", "wrong", "right"};
  files.open = [&](const FileDialogSpec& spec) -> QString {
    const int n = spec.title.mid(12).section(' ', 0, 0).toInt();
    const QString pick = picks.isEmpty() ? "right" : picks.takeFirst();
    if (pick == "noext") return QString::fromStdString(drive.DriveFolder() + "/dataDisk#3");
    drive.SwapTo(pick == "wrong" ? 1 : n - 1);
    return QString::fromStdString(drive.DriveFolder() + "/data.zip");
  };
  boxes.Press("Retry",
              "Possible wrong disk - replace with Disk#1\rOr click SKIP to bypass this test");
  const int64_t waited = clock.waited();
  EXPECT_TRUE(zip.TestArchive());
  EXPECT_GE(clock.waited() - waited, 4000);
  EXPECT_EQ(boxes.lastNotice().text, "Incorrect File");
  EXPECT_EQ(files.titles.first(), "Insert disk#1 then press [F5], select & Open File");
  EXPECT_EQ(boxes.PendingAnswers(), 0);

  // "Skip" is remembered: later readings take any disk without the test.
  files.open = [&](const FileDialogSpec&) {
    drive.SwapTo(1);
    return QString::fromStdString(drive.DriveFolder() + "/data.zip");
  };
  for (int i = 0; i < 2; ++i) {
    if (i == 0) boxes.Press("Skip");
    std::string fname = archive;
    spanning.ArcZip1GetNextDisk(1, fname);
    EXPECT_EQ(fname, drive.DriveFolder() + "/data.zip");
    EXPECT_EQ(spanning.SkipDiskTest, 12);
  }
  EXPECT_EQ(boxes.PendingAnswers(), 0);
}

TEST_F(SpanRun, TheDiskServiceLabelsEachDiskAndUnmountsItBeforeEachPrompt) {
  if (!HaveUdisksMock()) GTEST_SKIP() << "dbus-daemon or python3-dbusmock missing";
  UdisksMock mock(dir.path(), "sim0", drive.DriveFolder());
  ASSERT_TRUE(mock.ready()) << ReadFile(dir / "mock.out");
  TUdisks2 disks(mock.Bus());
  TLabellingVolumeService labels(drive, disks);
  drive.onLabel = [&](const std::string& path, const std::string& label) {
    labels.WriteLabel(path, label);
  };
  TDiskServiceSwap swap(drive, disks);
  spanning.swap = &swap;
  prefs.Write("ClrDisk", 1);
  for (int i = 0; i < 3; ++i) AddFloppy({});
  drive.SwapTo(0);
  NameArchive();
  boxes.Answer(IDOK).Answer(IDOK).Answer(IDOK);
  RunExpecting("");
  ASSERT_TRUE(run->LastRunSucceeded()) << run->ResultText().toStdString();
  EXPECT_EQ(mock.Log(),
            "Unmount\nMount\n"
            "SetLabel \nSetLabel PKBACK# 001\nUnmount\nMount\n"
            "SetLabel \nSetLabel PKBACK# 002\nUnmount\nMount\n"
            "SetLabel \nSetLabel PKBACK# 003\n");
}

TEST_F(SpanRun, PromptedErasingSkipAClearingErrorLowSpaceAndNoSwap) {
  prefs.Write("ClrDisk", 0);  // "Prompt Erase Files"
  AddFloppy({});
  AddFloppy({{"dir/.hidden", "h"}, {"junk.txt", "j"}});
  AddFloppy({{"keep.txt", "spared by Skip"}});
  drive.SwapTo(0);
  NameArchive();
  // Disk 2: OK without a swap first (asked again, nothing cleared), then the swap; "Erase" meets
  // a hidden file in a sub-folder; the free space looks low once ("OK": asked again, "No Erase").
  // Disk 3: "Skip" spares it.
  int lowOnce = 0;
  run->diskSpaceKb = [&](const QString& p) -> uint32_t {
    if (drive.Current() == 1 && lowOnce++ == 0) return 900;
    return static_cast<uint32_t>(drive.FreeBytes(PathBytes(p)) / 1000);
  };
  int disk2 = 0;
  boxes.onBox = [&](const MbBox& box) {
    if (!box.text.startsWith("     Please insert disk #")) return;
    prompts << box.text;
    const int n = box.text.mid(25).section('\r', 0, 0).toInt();
    if (n == 2 && disk2++ == 0) return;  // OK without swapping
    drive.SwapTo(n - 1);
  };
  boxes.Answer(IDOK, kPrompt.arg(1))
      .Answer(IDOK, kPrompt.arg(2))
      .Answer(IDOK, kPrompt.arg(2))
      .Press("Erase", "ERASE or NO ERASE this disk\ror SKIP erasing all disks")
      .Answer(IDOK, "Unable to Clear this disk")
      .Press("OK",
             "Destination has only 900 Kb free\r\nPossible NOT read/write: suggest "
             "replace\r\nPress OK to retry, or Skip (continues with risk)")
      .Press("No Erase")
      .Answer(IDOK, kPrompt.arg(3))
      .Press("Skip", "ERASE or NO ERASE this disk\ror SKIP erasing all disks");
  RunExpecting("");
  ASSERT_TRUE(run->LastRunSucceeded()) << run->ResultText().toStdString();
  EXPECT_FALSE(lists.directoryList.Checked(opt::kDirErase));
  drive.SwapTo(-1);
  EXPECT_EQ(Listing(dir / "sim/media/0"), QStringList({"data.zip", "dataDisk#1"}));
  // The clearing ended at the sub-folder it could not remove (whatever came after it stays).
  const QStringList second = Listing(dir / "sim/media/1");
  for (const char* name : {"data.zip", "dataDisk#2", "dir"}) EXPECT_TRUE(second.contains(name));
  EXPECT_EQ(drive.ReadFile(1, "dir/.hidden"), "h");
  EXPECT_EQ(drive.ReadFile(2, "keep.txt"), "spared by Skip");
  CheckWithPeers();
}

TEST_F(SpanRun, UnattendedOkWithoutASwapCancelsInsteadOfOverwriting) {
  prefs.Write("ClrDisk", 1);
  AddFloppy({});
  AddFloppy({});
  drive.SwapTo(0);
  NameArchive();
  swapOnPrompt = false;
  QStringList told;
  SetMbUnattended([&](const QString& text, bool) { told << text; });
  run->WriteZbtnClick();
  SetMbUnattended({});
  EXPECT_FALSE(run->LastRunSucceeded());
  EXPECT_TRUE(run->ResultText().startsWith("User canceled Zip operation"))
      << run->ResultText().toStdString();
  // Disk 1 keeps its volume: it was neither cleared nor written over.
  EXPECT_GT(ReadFile(drive.DriveFolder() + "/data.zip").size(), 1000000u);
  EXPECT_TRUE(testutil::Exists(drive.DriveFolder() + "/dataDisk#1"));
}

TEST_F(RunFixture, SplitPartsKeepTheEarlierSetUntilTheNewOneIsComplete) {
  TSpanning spanning{zip, *run, lists, prefs, display, DefaultVolumeService()};
  run->onFileNameForSplitPart = [&](std::string& f, int part, int type) {
    spanning.ArcZip1FileNameForSplitPart(f, part, type);
  };
  const std::string big = dir / "big";
  ::mkdir(big.c_str(), 0755);
  WriteFile(big + "/noise.bin", Noise(2500000, 3));
  ticks.SetChecked(big, true);
  lists.compressionList.SetChecked(opt::kCompNone, true);
  lists.directoryList.SetChecked(opt::kDirSpan, true);
  lists.functionsList.SetChecked(opt::kFnUnattended, true);
  archive = out + "/data.zip";
  run->SetArchiveName(QString::fromStdString(archive), true);
  // Sizes that give no part: 0.01 MB is below the smallest part, 14 digits beyond 64 bits.
  for (const char* size : {"0.01", "0.00001", "12345678901234", "12345678901234MB"}) {
    lists.maxSizeEdit.SetText(size);
    boxes.Answer(IDOK, "Disk space allocation error");
    run->WriteZbtnClick();
    EXPECT_FALSE(testutil::Exists(archive)) << size;
  }
  lists.maxSizeEdit.SetText("1");
  RunExpecting("");
  ASSERT_TRUE(run->LastRunSucceeded()) << run->ResultText().toStdString();
  EXPECT_EQ(Listing(out), QStringList({"data.z01", "data.z02", "data.zip"}));
  std::map<QString, std::string> before;
  for (const QString& name : Listing(out)) before[name] = Sha256(out + "/" + name.toStdString());
  if (testutil::HaveTool("7zz")) {
    EXPECT_EQ(testutil::Run("7zz t " + Quote(archive)).status, 0);
  }

  // A run cancelled in its second part leaves the earlier set as it was.
  zip.OnTotalPercentDone = [&](TArcUnZip::TSender, int) {
    if (testutil::Exists(out + "/data.z02")) zip.CancelOperation();
  };
  ticks.SetChecked(src, true);
  RunExpecting("");
  EXPECT_FALSE(run->LastRunSucceeded());
  EXPECT_EQ(Listing(out), QStringList({"data.z01", "data.z02", "data.zip"}));
  for (const auto& [name, sha] : before) EXPECT_EQ(Sha256(out + "/" + name.toStdString()), sha);

  // A run killed while it wrote leaves the old parts aside; the next run puts them back first.
  for (const auto& [name, sha] : before)
    ::rename((out + "/" + name.toStdString()).c_str(),
             (out + "/." + name.toStdString() + ".previous").c_str());
  WriteFile(out + "/data.z01", "half a new part");
  EXPECT_EQ(RestoreSplitPartsAside(QString::fromStdString(archive)).size(), 3);
  for (const auto& [name, sha] : before) EXPECT_EQ(Sha256(out + "/" + name.toStdString()), sha);
  EXPECT_EQ(Listing(out), QStringList({"data.z01", "data.z02", "data.zip"}));
}

TEST_F(RunFixture, StagedPartsStopWhereNoDiscCanBeBurnt) {
  TSpanning spanning{zip, *run, lists, prefs, display, DefaultVolumeService()};
  run->onFileNameForSplitPart = [&](std::string& f, int part, int type) {
    spanning.ArcZip1FileNameForSplitPart(f, part, type);
  };
  // Without staging: the program's names.
  const struct {
    int part, type;
    const char* name;
  } names[] = {
      {1, 0, "/b/data.z01"}, {2, 1, "/b/data.z02"}, {12, 1, "/b/data.z12"}, {3, 2, "/b/data.zip"}};
  for (const auto& n : names) {
    std::string f = "/b/data";
    spanning.ArcZip1FileNameForSplitPart(f, n.part, n.type);
    EXPECT_EQ(f, n.name);
  }
  // A disc target is staged in the program folder part by part; the second part would have the
  // first burnt, which cannot be done here: the run stops, and the part that was not burnt is
  // kept aside under a name of its own (no other staged file stays behind).
  const std::string big = dir / "big";
  ::mkdir(big.c_str(), 0755);
  WriteFile(big + "/noise.bin", Noise(2500000, 5));
  ticks.SetChecked(big, true);
  lists.compressionList.SetChecked(opt::kCompNone, true);
  lists.maxSizeEdit.SetText("1");
  seams.driveKind = 1;
  seams.disc.Ready = true;
  seams.discFree = 700000;
  boxes.Answer(IDOK, "     Please insert disk #1\r     of the multi-disk set.");
  RunExpecting("");
  EXPECT_FALSE(run->LastRunSucceeded());
  EXPECT_EQ(spanning.LastPartNumber, 1);
  EXPECT_TRUE(run->ResultText().startsWith("User canceled Zip operation"))
      << run->ResultText().toStdString();
  const QStringList staged =
      QDir(PathText(ProgramDir())).entryList({"docs*"}, QDir::Files | QDir::Hidden);
  EXPECT_EQ(staged, QStringList{"docs.notburnt1.zip"});
}
