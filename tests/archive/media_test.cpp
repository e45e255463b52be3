// Names of volumes and parts, the room a medium offers, and the simulated removable drive that
// spanned archives are tested over.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "archive/zipmedia.h"
#include "platform/volumeservice.h"
#include "simremovabledrive.h"
#include "testutil.h"

using testutil::TempDir;

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

}  // namespace
