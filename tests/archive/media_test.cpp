// Names of volumes and parts, the room a medium offers, and the simulated removable drive that
// spanned archives are tested over.
#include <gtest/gtest.h>

#include <cerrno>
#include <deque>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "archive/arczip.h"
#include "archive/zipexceptions.h"
#include "archive/zipmedia.h"
#include "platform/volumeservice.h"
#include "simremovabledrive.h"
#include "testutil.h"

using testutil::ReadFile;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

TEST(VolumeNames, BaseNamesPartNamesAndLabels) {
  struct {
    const char* zip;
    const char* base;
  } bases[] = {{"/b/week.zip", "/b/week"},   {"/b/week.1.zip", "/b/week.1"},
               {"/a.b/noext", "/a.b/noext"}, {"/b/.hidden", "/b/.hidden"},
               {"rel.ZIP", "rel"},           {"/b/x.", "/b/x"}};
  for (const auto& b : bases) EXPECT_EQ(VolumeBaseName(b.zip), b.base) << b.zip;

  using T = TSplitPartType;
  struct {
    int part;
    T type;
    TBlockMode mode;
    const char* name;
  } parts[] = {{1, T::FirstPart, TBlockMode::bmClassic, "w.001"},
               {12, T::MiddlePart, TBlockMode::bmClassic, "w.012"},
               {13, T::LastPart, TBlockMode::bmClassic, "w.013"},
               {1, T::FirstPart, TBlockMode::bmStandard, "w.zip.z01"},
               {3, T::LastPart, TBlockMode::bmStandard, "w.zip"}};
  for (const auto& p : parts)
    EXPECT_EQ(DefaultPartName("w", p.part, p.type, p.mode), p.name) << p.name;
  EXPECT_EQ(ProgramPartName("/b/week.1", 1, T::FirstPart), "/b/week.1.z01");
  EXPECT_EQ(ProgramPartName("/b/week.1", 100, T::MiddlePart), "/b/week.1.z100");
  EXPECT_EQ(ProgramPartName("/b/week.1", 7, T::LastPart), "/b/week.1.zip");

  EXPECT_EQ(SpanVolumeLabel(1), "PKBACK# 001");
  EXPECT_EQ(SpanVolumeLabel(42), "PKBACK# 042");
  EXPECT_TRUE(SpanLabelMatches("PKBACK# 003", 3));
  EXPECT_FALSE(SpanLabelMatches("PKBACK# 002", 3));
  EXPECT_FALSE(SpanLabelMatches("", 3));
}

TEST(VolumeFacts, StatServiceMeasuresFoldersAndFilesNotYetMade) {
  TempDir tmp;
  TStatVolumeService svc;
  const std::string later = tmp / "not/yet/made.z01";
  EXPECT_GT(svc.FreeBytes(later), 0);
  EXPECT_GT(svc.FreeBytes(tmp.path()), 0);
  EXPECT_GT(svc.ClusterSize(later), 0);
  EXPECT_FALSE(svc.IsRemovable(later));
  EXPECT_EQ(svc.ReadLabel(later), "");
  EXPECT_FALSE(svc.WriteLabel(later, "X"));
  EXPECT_EQ(LargestFileForFsType(0x4d44), kFatLargestFile);
  EXPECT_EQ(LargestFileForFsType(0xEF53), kNoFileSizeLimit);  // ext4

  // The room of a FAT medium stops at the largest file however much is free.
  struct FatLike : TStatVolumeService {
    int64_t LargestFile(const std::string&) override { return kFatLargestFile; }
    int64_t FreeBytes(const std::string&) override { return 8LL << 30; }
  } fat;
  EXPECT_EQ(TZipMedia(&fat).Room(later), kFatLargestFile);
  EXPECT_GT(TZipMedia(&svc).Room(later), 0);
}

TEST(SimulatedDrive, MediaKeepTheirFilesLabelsAndCapacity) {
  TempDir tmp;
  SimRemovableDrive drive(tmp.path());
  TSimMedium small;
  small.label = "OLD";
  small.capacity = 4096;
  small.files["keep.txt"] = "kept";
  drive.AddMedium(small);
  TSimMedium big;
  big.capacity = 1 << 20;
  big.largestFile = 10000;  // the room never exceeds the largest file
  drive.AddMedium(big);

  const std::string vol = drive.DriveFolder() + "/arc.zip";
  EXPECT_EQ(drive.FreeBytes(vol), -1);  // no medium
  EXPECT_THROW(drive.CreateVolume(vol), std::system_error);

  drive.SwapTo(0);
  EXPECT_TRUE(drive.IsRemovable(vol));
  EXPECT_EQ(drive.ReadLabel(vol), "OLD");
  EXPECT_EQ(drive.FreeBytes(vol), 4096 - 512);  // keep.txt takes one cluster
  {
    auto out = drive.CreateVolume(vol);
    const std::string data(5000, 'x');
    errno = 0;
    EXPECT_EQ(out->WriteAt(0, data.data(), data.size()), 3584u);  // short: the medium is full
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(drive.FreeBytes(vol), 0);
  }
  EXPECT_TRUE(drive.WriteLabel(vol, "PKBACK# 001"));

  drive.ScriptSwaps({1, 0});
  ASSERT_TRUE(drive.ScriptedSwap());
  EXPECT_EQ(drive.Current(), 1);
  EXPECT_EQ(drive.ReadLabel(vol), "");
  EXPECT_FALSE(drive.Exists(vol));
  EXPECT_EQ(drive.Room(vol), 10000);
  EXPECT_EQ(drive.ReadFile(0, "keep.txt"), "kept");  // still on the medium taken out
  EXPECT_EQ(drive.ReadFile(0, "arc.zip").size(), 3584u);

  ASSERT_TRUE(drive.ScriptedSwap());
  EXPECT_FALSE(drive.ScriptedSwap());
  EXPECT_EQ(drive.ReadLabel(vol), "PKBACK# 001");
  auto in = drive.OpenVolume(vol);
  EXPECT_EQ(in->Size(), 3584);
  drive.SwapTo(1);
  char c = 'y';
  EXPECT_EQ(in->WriteAt(0, &c, 1), 0u);  // the medium was taken out
  EXPECT_EQ(drive.Swaps(), 4);

  small.reportedFree = 1 << 30;  // a medium that lies about its room
  const int liar = drive.AddMedium(small);
  drive.SwapTo(liar);
  EXPECT_EQ(drive.FreeBytes(vol), 1 << 30);
  auto out = drive.CreateVolume(vol);
  const std::string data(8192, 'z');
  EXPECT_LT(out->WriteAt(0, data.data(), data.size()), data.size());
}

// Bytes that do not compress.
std::string Noise(size_t n, unsigned seed) {
  std::mt19937 g(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(g());
  return s;
}

std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// An engine writing split parts with the program's part names, in an isolated environment.
struct SplitFixture {
  TempDir t;
  testutil::IsolatedXdg xdg{t.path()};
  std::string src = t / "src";
  std::string out = t / "out";
  TArcZip z;
  std::vector<std::string> asked;  // "part:type" of every part name asked for
  SplitFixture() {
    std::filesystem::create_directories(src + "/sub");
    std::filesystem::create_directories(out);
    WriteFile(src + "/big.bin", Noise(300000, 1));
    for (int i = 0; i < 20; ++i)
      WriteFile(src + "/sub/f" + std::to_string(i), std::string(static_cast<size_t>(i) * 50, 'a'));
    Namer(z);
  }
  void Namer(TArcUnZip& e) {
    e.OnFileNameForSplitPart = [this](TArcUnZip::TSender, std::string& n, int part,
                                      TSplitPartType type) {
      asked.push_back(std::to_string(part) + ":" + std::to_string(static_cast<int>(type)));
      n = ProgramPartName(n, part, type);
    };
  }
  int Write(const std::string& name) {
    z.SetZipName(name);
    z.MultiZipInfo.MultiMode = TMultiMode::mmBlocks;  // a new name forgets the last archive's mode
    z.Recurse = true;
    z.FilesList = {src + "/*"};
    return z.ZipFiles();
  }
};

TEST(SplitArchive, PartsKeepTheirSizesAndReadBackAcrossPartEnds) {
  struct {
    int64_t block, first;
    size_t parts;
  } cases[] = {{100000, 0, 4}, {100000, 40000, 4}, {5000000, 0, 1}};
  for (const auto& c : cases) {
    SplitFixture f;
    f.z.MultiZipInfo.BlockSize = c.block;
    f.z.MultiZipInfo.FirstBlockSize = c.first;
    const std::string zipName = f.out + "/set.zip";
    ASSERT_EQ(f.Write(zipName), 21) << c.block << "/" << c.first;
    EXPECT_EQ(f.z.ZipName(), zipName);
    const auto parts = FilesIn(f.out);
    ASSERT_EQ(parts.size(), c.parts) << c.first;
    for (size_t k = 0; k < parts.size(); ++k) {
      const bool last = k + 1 == parts.size();
      char want[16];
      std::snprintf(want, sizeof want, "set.z%02zu", k + 1);
      EXPECT_EQ(parts[k], last ? "set.zip" : want);
      const std::string bytes = ReadFile(f.out + "/" + (last ? "set.zip" : want));
      const int64_t limit = k == 0 && c.first > 0 ? c.first : c.block;
      EXPECT_LE(static_cast<int64_t>(bytes.size()), limit) << k;
      // A part ends short only where a header or record that must stay whole did not fit.
      if (!last) {
        EXPECT_LT(limit - static_cast<int64_t>(bytes.size()), 200) << k;
      }
      if (k == 0) {
        EXPECT_EQ(bytes.substr(0, 4), parts.size() > 1 ? "PK\x07\x08" : "PK00");
      }
    }
    // A fresh engine reads the set by its last part: part 1 is asked as the first, the last as
    // the last, and the large entry is read across the part ends it crosses.
    TArcUnZip r;
    f.asked.clear();
    f.Namer(r);
    r.SetZipName(zipName);
    r.ReadArchive();
    ASSERT_EQ(r.EntryCount(), 21);
    EXPECT_EQ(r.MultiZipInfo.MultiMode, c.parts > 1 ? TMultiMode::mmBlocks : TMultiMode::mmNone);
    r.SetDestDir(f.t / "x");
    r.RecreateDirs = false;
    r.DoAll = true;
    EXPECT_EQ(r.Extract(), 21);
    EXPECT_EQ(ReadFile(f.t / "x/big.bin"), ReadFile(f.src + "/big.bin"));
    if (c.parts > 1) {
      EXPECT_NE(std::find(f.asked.begin(), f.asked.end(), "1:0"), f.asked.end());
      EXPECT_NE(std::find(f.asked.begin(), f.asked.end(), std::to_string(c.parts) + ":2"),
                f.asked.end());
    }
  }
}

// A media whose file system holds files of at most 30000 bytes.
struct SmallFiles : TZipMedia {
  int64_t LargestFile(const std::string&) override { return 30000; }
};

TEST(SplitArchive, FaultsEndInOnePartAtMostAndTouchNothingElse) {
  {
    // Parts too small for any header: an error after one part, not parts without end.
    SplitFixture f;
    f.z.MultiZipInfo.BlockSize = 10;
    EXPECT_THROW(f.Write(f.out + "/set.zip"), ENotEnoughRoom);
    EXPECT_LE(FilesIn(f.out).size(), 1u);
  }
  {
    // The base name ends at the last dot: an archive named after the first one stays as it is.
    SplitFixture f;
    WriteFile(f.out + "/week.zip", "unrelated");
    f.z.MultiZipInfo.BlockSize = 100000;
    ASSERT_EQ(f.Write(f.out + "/week.1.zip"), 21);
    EXPECT_EQ(ReadFile(f.out + "/week.zip"), "unrelated");
    EXPECT_TRUE(testutil::Exists(f.out + "/week.1.z01"));
    EXPECT_EQ(f.z.ZipName(), f.out + "/week.1.zip");
  }
  {
    // Parts never outgrow the largest file of their file system.
    SplitFixture f;
    SmallFiles media;
    f.z.Media = &media;
    f.z.MultiZipInfo.BlockSize = 1 << 20;
    ASSERT_EQ(f.Write(f.out + "/set.zip"), 21);
    for (const auto& n : FilesIn(f.out))
      EXPECT_LE(std::filesystem::file_size(f.out + "/" + n), 30000u) << n;
  }
  {
    // A medium that takes less than it said: the write stops with the engine's error.
    SplitFixture f;
    std::filesystem::create_directories(f.t / "sim");
    SimRemovableDrive drive(f.t / "sim");
    TSimMedium m;
    m.capacity = 50000;
    m.reportedFree = 1 << 30;
    drive.SwapTo(drive.AddMedium(m));
    f.z.Media = &drive;
    f.z.TempPath = f.t / "tmp";
    std::filesystem::create_directories(f.z.TempPath);
    f.z.MultiZipInfo.BlockSize = 1 << 20;
    try {
      f.Write(drive.DriveFolder() + "/set.zip");
      ADD_FAILURE() << "written";
    } catch (const ENotEnoughRoom& e) {
      EXPECT_STREQ(e.what(), "Not enough room to write archive");
    }
    EXPECT_TRUE(FilesIn(f.z.TempPath).empty());
  }
}

TEST(SplitArchive, ConfigFileHoldsTheDirectoryAndListsTheSetFromItsFirstPart) {
  SplitFixture f;
  f.z.MultiZipInfo.BlockSize = 100000;
  f.z.MultiZipInfo.SaveZipInfoOnFirstDisk = true;
  ASSERT_EQ(f.Write(f.out + "/set.zip"), 21);
  const std::string zfc = ReadFile(f.out + "/set.zfc");
  const std::string last = ReadFile(f.out + "/set.zip");
  ASSERT_GT(zfc.size(), 22u);
  // The end records close both the configuration file and the last part.
  const size_t endAt = last.rfind("PK\x05\x06");
  ASSERT_NE(endAt, std::string::npos);
  EXPECT_EQ(zfc.substr(zfc.size() - (last.size() - endAt)), last.substr(endAt));
  TArcUnZip r;
  r.SetZipName(f.out + "/set.z01");
  r.ReadArchive();
  EXPECT_TRUE(r.ReadFromConfigFile());
  EXPECT_EQ(r.EntryCount(), 21);
  // A folder the file cannot be written to fails the run with the engine's text.
  SplitFixture g;
  g.z.MultiZipInfo.BlockSize = 100000;
  g.z.MultiZipInfo.SaveZipInfoOnFirstDisk = true;
  struct NoConfig : TZipMedia {
    std::unique_ptr<THugeStream> CreateVolume(const std::string& path) override {
      if (path.size() > 4 && path.substr(path.size() - 4) == ".zfc")
        throw std::system_error(EACCES, std::generic_category(), path);
      return TZipMedia::CreateVolume(path);
    }
  } media;
  g.z.Media = &media;
  try {
    g.Write(g.out + "/set.zip");
    ADD_FAILURE() << "written";
  } catch (const EConfigFileSaveError& e) {
    EXPECT_STREQ(e.what(), "Unable to save Zip Configuration File to disk");
  }
}

// Three floppies in a simulated drive, and an engine spanning onto them; the host's answers to
// the engine's requests for disks come from a script (or, by default, the medium asked for).
struct SpanFixture {
  TempDir t;
  testutil::IsolatedXdg xdg{t.path()};
  std::string src = t / "src";
  SimRemovableDrive drive{MakeRoot(t / "sim")};
  std::string vol = drive.DriveFolder() + "/arc.zip";
  TArcZip z;
  std::vector<std::string> events;
  // For each request in turn, the medium to insert (-1: leave the drive as it is, -2: cancel);
  // when used up, the medium with the number asked for.
  std::deque<int> answers;
  SpanFixture() {
    for (int k = 0; k < 3; ++k) drive.AddMedium(TSimMedium{});
    std::filesystem::create_directories(src);
    WriteFile(src + "/a.bin", Noise(2000000, 2));
    WriteFile(src + "/b.bin", Noise(1300000, 3));
    WriteFile(src + "/c.txt", std::string(5000, 'c'));
    z.Media = &drive;
    Host(z);
    z.OnPrepareNextDisk = [this](TArcUnZip::TSender, int n) {
      events.push_back("prepare " + std::to_string(n));
    };
    z.OnStartSpanCopy = [this](TArcUnZip::TSender, const std::string& n, int64_t) {
      events.push_back("copy " + std::filesystem::path(n).filename().string());
    };
  }
  static std::string MakeRoot(const std::string& root) {
    std::filesystem::create_directories(root);
    return root;
  }
  void Host(TArcUnZip& e) {
    e.OnGetNextDisk = [this](TArcUnZip::TSender, int n, std::string& name) {
      events.push_back("disk " + std::to_string(n));
      int k = n - 1;
      if (!answers.empty()) {
        k = answers.front();
        answers.pop_front();
      }
      if (k == -2) name.clear();
      if (k >= 0) drive.SwapTo(k);
    };
  }
  int Write() {
    z.SetZipName(vol);
    z.MultiZipInfo.MultiMode = TMultiMode::mmSpan;
    z.MultiZipInfo.WriteDiskLabels = true;
    z.MultiZipInfo.SaveZipInfoOnFirstDisk = true;
    z.FilesList = {src + "/*"};
    return z.ZipFiles();
  }
};

TEST(SpannedArchive, FloppiesGetLabelsAConfigFileAndReadBackOneMediumAtATime) {
  SpanFixture f;
  ASSERT_EQ(f.Write(), 3);
  // Each medium is asked for and prepared before it is written, in order; the last read back,
  // and the first asked again for the configuration file.
  const std::vector<std::string> start = {"disk 1", "prepare 1", "copy a.bin", "disk 2",
                                          "prepare 2"};
  ASSERT_GE(f.events.size(), start.size());
  EXPECT_EQ(std::vector<std::string>(f.events.begin(), f.events.begin() + 5), start);
  EXPECT_EQ(f.events.back(), "disk 1");
  for (int k = 0; k < 3; ++k) {
    f.drive.SwapTo(k);
    EXPECT_EQ(f.drive.ReadLabel(f.vol), SpanVolumeLabel(k + 1));
    EXPECT_LE(f.drive.UsedBytes(), 1457664);
  }
  const std::string zfc = f.drive.ReadFile(0, "arc.zfc");
  const std::string last = f.drive.ReadFile(2, "arc.zip");
  const size_t endAt = last.rfind("PK\x05\x06");
  ASSERT_NE(endAt, std::string::npos);
  EXPECT_EQ(zfc.substr(zfc.size() - (last.size() - endAt)), last.substr(endAt));
  EXPECT_EQ(f.drive.ReadFile(0, "arc.zip").substr(0, 4), "PK\x07\x08");
  if (testutil::HaveTool("7zz")) {
    // The volumes copied off their media under the part names read as one set.
    for (int k = 0; k < 3; ++k)
      WriteFile(f.t / (k < 2 ? "set.z0" + std::to_string(k + 1) : std::string("set.zip")),
                f.drive.ReadFile(k, "arc.zip"));
    auto r = testutil::Run("7zz t " + testutil::Quote(f.t / "set.zip"));
    EXPECT_EQ(r.status, 0) << r.out;
  }

  // Medium 1 alone lists every entry; extraction asks for each medium once, in order.
  TArcUnZip r;
  r.Media = &f.drive;
  f.Host(r);
  f.drive.SwapTo(0);
  r.SetZipName(f.vol);
  r.ReadArchive();
  EXPECT_TRUE(r.ReadFromConfigFile());
  EXPECT_EQ(r.EntryCount(), 3);
  f.events.clear();
  // Medium 2 (labelled PKBACK# 002) offered for disk 3 is asked for again.
  f.answers = {0, 1, 1, 2};
  r.MultiZipInfo.CheckDiskLabels = true;
  r.SetDestDir(f.t / "x");
  r.DoAll = true;
  EXPECT_EQ(r.Extract(), 3);
  EXPECT_EQ(f.events, (std::vector<std::string>{"disk 1", "disk 2", "disk 3", "disk 3"}));
  EXPECT_EQ(ReadFile(f.t / "x/a.bin"), ReadFile(f.src + "/a.bin"));
  EXPECT_EQ(ReadFile(f.t / "x/b.bin"), ReadFile(f.src + "/b.bin"));

  // Repaired from the last medium, the set becomes one archive off the media, every entry tested
  // good; each medium is asked for as the test and then the copy reach it.
  TArcZip fix;
  fix.Media = &f.drive;
  f.Host(fix);
  f.drive.SwapTo(2);
  f.events.clear();
  const std::string fixed = f.t / "fixed.zip";
  EXPECT_EQ(fix.RepairArchive(f.vol, fixed), 3);
  EXPECT_EQ(fix.RepairEntriesRead(), 3);
  EXPECT_TRUE(fix.RepairEntriesLost().empty());
  EXPECT_EQ(f.events,
            (std::vector<std::string>{"disk 1", "disk 2", "disk 3", "disk 1", "disk 2", "disk 3"}));
  TArcUnZip check;
  check.SetZipName(fixed);
  check.ReadArchive();
  EXPECT_EQ(check.MultiZipInfo.MultiMode, TMultiMode::mmNone);
  EXPECT_EQ(check.EntryCount(), 3);
  EXPECT_TRUE(check.TestArchive());
  if (testutil::HaveTool("unzip")) {
    auto r = testutil::Run("unzip -tq " + testutil::Quote(fixed));
    EXPECT_EQ(r.status, 0) << r.out;
  }
}

TEST(SpannedArchive, WrongMediaAreAskedForAgainAndCancelsSayWhichOperation) {
  {
    // The medium just written, still in the drive, and then a full one: both asked for again;
    // volume 1 keeps its data.
    SpanFixture f;
    TSimMedium full;
    full.files["filler"] = std::string(1457664, 'f');
    const int fullMedium = f.drive.AddMedium(full);
    f.answers = {0, -1, fullMedium, 1};
    ASSERT_EQ(f.Write(), 3);
    EXPECT_EQ(std::count(f.events.begin(), f.events.end(), "disk 2"), 3);
    EXPECT_GT(f.drive.ReadFile(0, "arc.zip").size(), 1400000u);
    f.drive.SwapTo(0);
    EXPECT_EQ(f.drive.ReadLabel(f.vol), "PKBACK# 001");
    EXPECT_EQ(f.drive.ReadFile(fullMedium, "arc.zip"), "");
  }
  {
    SpanFixture f;
    f.answers = {0, -2};
    try {
      f.Write();
      ADD_FAILURE() << "written";
    } catch (const EUserCanceled& e) {
      EXPECT_STREQ(e.what(), "User canceled Zip operation");
    }
  }
  {
    // Without a handler the engine asks in its own box; Cancel there cancels too.
    SpanFixture f;
    f.z.OnGetNextDisk = nullptr;
    std::vector<std::string> boxes;
    f.z.OnHandleMessage = [&](TArcUnZip::TSender, int id, const std::string& text,
                              const std::string&, uint32_t, int& answer) {
      boxes.push_back(std::to_string(id) + " " + text);
      answer = zrCancel;
    };
    EXPECT_THROW(f.Write(), EUserCanceled);
    EXPECT_EQ(boxes, std::vector<std::string>{std::to_string(zmInsertDisk) +
                                              " Please insert disk 1 of the multi-disk set."});
  }
  {
    SpanFixture f;
    ASSERT_EQ(f.Write(), 3);
    TArcUnZip r;
    r.Media = &f.drive;
    f.Host(r);
    f.drive.SwapTo(2);
    f.answers = {-2};
    r.SetZipName(f.vol);
    r.ReadArchive();
    r.SetDestDir(f.t / "x");
    r.DoAll = true;
    try {
      r.Extract();
      ADD_FAILURE() << "extracted";
    } catch (const EUserCanceled& e) {
      EXPECT_STREQ(e.what(), "User canceled loading new disk.");
    }
  }
}

}  // namespace
