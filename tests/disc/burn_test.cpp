// Burning built images to emulated drives on virtual time: the disc read back by isoinfo holds
// the files, each medium gets its write and close sequence, and failures, busy drives and aborts
// end the burn with one OnWriteDone carrying the error.
#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <functional>
#include <random>
#include <thread>

#include "disc/discburner.h"
#include "discemu/emulateddrive.h"
#include "testutil.h"

using testutil::Quote;
using testutil::TempDir;

namespace {

// A burner on one emulated drive; completion events are queued and run by Pump on this thread.
struct TBurnRig {
  TempDir dir;
  TVirtualDiscClock clock{5000};
  TDiscBurner burner;
  TEmulatedDrive* drive = nullptr;
  std::deque<std::function<void()>> posted;
  std::mutex postedLock;
  std::vector<std::string> done;  // OnWriteDone errors, in order
  std::vector<bool> erased;       // OnEraseDone's WithError, in order
  bool onMainThread = true;

  explicit TBurnRig(const std::string& profile) {
    EXPECT_TRUE(TEmulatedDrive::Create(dir / "sr0", profile, 1));
    burner.SetClock(&clock);
    auto* transport = new TEmulatedTransport(dir.path(), &clock);
    burner.SetTransport(std::unique_ptr<IScsiTransport>(transport));
    EXPECT_TRUE(burner.InitTransport());
    if (!burner.DeviceList.empty()) burner.SelectDevice(burner.DeviceList[0]);
    drive = transport->DriveByNode("sr0");
    const auto main = std::this_thread::get_id();
    burner.PostToMain = [this](std::function<void()> call) {
      std::lock_guard<std::mutex> l(postedLock);
      posted.push_back(std::move(call));
    };
    burner.OnWriteDone = [this, main](TDiscBurner*, const std::string& error) {
      onMainThread = onMainThread && std::this_thread::get_id() == main;
      done.push_back(error);
    };
    burner.OnEraseDone = [this, main](TDiscBurner*, bool withError) {
      onMainThread = onMainThread && std::this_thread::get_id() == main;
      erased.push_back(withError);
    };
  }
  // Runs posted events until a burn or an erase has reported (at most 60 s).
  void Pump() {
    for (int i = 0; i < 60000 && done.empty() && erased.empty(); ++i) {
      std::function<void()> call;
      {
        std::lock_guard<std::mutex> l(postedLock);
        if (!posted.empty()) {
          call = std::move(posted.front());
          posted.pop_front();
        }
      }
      if (call)
        call();
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  std::vector<std::string> Log(const std::string& opcode) {
    std::vector<std::string> out;
    for (const auto& c : drive->CommandLog())
      if (c.compare(0, 2, opcode) == 0) out.push_back(c);
    return out;
  }
};

// A small tree: two files in the root and one in a folder, one of them over a block long.
std::string MakeTree(const TempDir& dir) {
  const std::string src = dir / "src";
  std::filesystem::create_directories(src + "/docs");
  testutil::WriteFile(src + "/readme.txt", "hello disc\n");
  std::string big;
  for (int i = 0; i < 150000; ++i) big += static_cast<char>('a' + i % 23);
  testutil::WriteFile(src + "/docs/big.bin", big);
  testutil::WriteFile(src + "/odd name.dat", std::string(3000, 'z'));
  return src;
}

}  // namespace

TEST(Burn, ImagesBurntToEachMediumReadBackWhole) {
  const struct {
    const char* Profile;
    const char* FirstWrite;            // the first WRITE(10)
    std::vector<std::string> Closing;  // CLOSE TRACK/SESSION commands
  } rows[] = {
      {"CD-R", "2A 00 00 00 00 00 00 00 1B 00", {"5B 01 02 00 00 00 00 00 00 00"}},
      {"DVD-R",
       "2A 00 00 00 00 00 00 00 20 00",
       {"5B 00 01 00 00 01 00 00 00 00", "5B 00 01 00 00 02 00 00 00 00",
        "5B 00 02 00 00 03 00 00 00 00"}},
      {"DVD+R",
       "2A 00 00 00 00 00 00 00 20 00",
       {"5B 00 01 00 00 01 00 00 00 00", "5B 00 02 00 00 FF 00 00 00 00"}},
      // Never formatted: the refused first write formats it, then the same write is sent again.
      {"DVD+RW", "2A 00 00 00 00 00 00 00 20 00", {"5B 00 03 00 00 FF 00 00 00 00"}},
      // The session starts at sector 0: it is written once, without a separate head.
      {"DVD-RW-SEQ", "2A 00 00 00 00 00 00 00 20 00", {"5B 01 02 00 00 00 00 00 00 00"}},
  };
  const bool tools = testutil::HaveTool("isoinfo");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Profile);
    TBurnRig rig(row.Profile);
    const std::string src = MakeTree(rig.dir);
    ASSERT_EQ(rig.burner.AddDir("/", src, false, false, true), 1);
    ASSERT_TRUE(rig.burner.BurnImage());
    rig.Pump();
    rig.burner.AbortWrite();  // joins the finished writer
    ASSERT_EQ(rig.done, std::vector<std::string>{""});
    EXPECT_TRUE(rig.onMainThread);
    EXPECT_EQ(rig.burner.WrittenBytes(), int64_t{rig.burner.ImageSize()} * 2048);
    const auto writes = rig.Log("2A");
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.front(), row.FirstWrite);
    EXPECT_EQ(rig.Log("5B"), row.Closing);
    // Overwritable media keep no sessions; the others hold one closed session over the image.
    const TEmuState state = rig.drive->State();
    if (std::string(row.Profile) != "DVD+RW") {
      ASSERT_EQ(state.Sessions.size(), 1u);
      EXPECT_GE(state.Sessions[0].End, rig.burner.ImageSize());
    }
    if (!tools) continue;
    const std::string img = rig.dir / "sr0.img";
    for (const char* f : {"readme.txt", "docs/big.bin", "odd name.dat"}) {
      const auto got = testutil::Run("isoinfo -J -i " + Quote(img) + " -x " +
                                     Quote("/" + std::string(f) + ";1"));
      EXPECT_TRUE(got.out == testutil::ReadFile(src + "/" + f)) << f;
    }
  }
  if (!tools) GTEST_SKIP() << "isoinfo missing: contents not compared";
}

TEST(Burn, FailuresAndAbortsEndWithOneReport) {
  const struct {
    const char* Name;
    std::function<void(TBurnRig&)> Arrange;
    bool Abort;
    std::string Error;
    bool Closed;  // the track was closed
  } rows[] = {
      {"medium error", [](TBurnRig& r) { r.drive->InjectSense(0x2A, 3, 0x0C, 0); }, false,
       "WRITER ERROR [MEDIUM ERROR (WRITE ERROR)]", false},
      {"busy three times", [](TBurnRig& r) { r.drive->InjectBusy(0x2A, 3); }, false, "", true},
      {"always busy", [](TBurnRig& r) { r.drive->InjectBusy(0x2A, 20000); }, false,
       "WRITER BUSY/BUFFER FULL", false},
      {"abort", [](TBurnRig& r) { r.drive->InjectBusy(0x2A, 20000); }, true,
       "OPERATION ABORTED BY USER", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Name);
    TBurnRig rig("CD-R");
    ASSERT_EQ(rig.burner.AddDir("/", MakeTree(rig.dir), false, false, true), 1);
    row.Arrange(rig);
    ASSERT_TRUE(rig.burner.BurnImage());
    if (row.Abort) rig.burner.AbortWrite();
    rig.Pump();
    rig.burner.AbortWrite();
    EXPECT_EQ(rig.done, std::vector<std::string>{row.Error});
    EXPECT_EQ(rig.burner.WriteError(), row.Error);
    EXPECT_FALSE(rig.burner.Writing());
    EXPECT_EQ(rig.Log("5B").empty(), !row.Closed);
    EXPECT_FALSE(rig.Log("35").empty()) << "the drive's cache is synchronised in every case";
  }

  // Aborts at random moments: one report, either success or the abort; after an abort the drive's
  // cache is synchronised and the track is left open.
  for (unsigned seed = 1; seed <= 20; ++seed) {
    SCOPED_TRACE(seed);
    TBurnRig rig("DVD+R");
    const std::string src = MakeTree(rig.dir);
    testutil::WriteFile(src + "/large.bin", std::string(3 << 20, 'L'));
    ASSERT_EQ(rig.burner.AddDir("/", src, false, false, true), 1);
    rig.burner.SetCacheSize(2 << 20);
    std::mt19937 random(seed);
    ASSERT_TRUE(rig.burner.BurnImage());
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
    rig.burner.AbortWrite();
    rig.Pump();
    ASSERT_EQ(rig.done.size(), 1u);
    EXPECT_FALSE(rig.burner.Writing());
    if (rig.done[0].empty()) continue;
    EXPECT_EQ(rig.done[0], "OPERATION ABORTED BY USER");
    EXPECT_TRUE(rig.Log("5B").empty());
    EXPECT_FALSE(rig.Log("35").empty());
  }

  // A source deleted after it was added fails before the writer starts.
  TBurnRig rig("CD-R");
  const std::string src = MakeTree(rig.dir);
  ASSERT_EQ(rig.burner.AddDir("/", src, false, false, true), 1);
  std::filesystem::remove(src + "/docs/big.bin");
  EXPECT_FALSE(rig.burner.BurnImage());
  const std::string want =
      "CAN'T OPEN FILE \"" + src + "/docs/big.bin\" OR FILE IS IN USES BY OTHER SOFTWARE";
  EXPECT_EQ(rig.done, std::vector<std::string>{want});
  EXPECT_EQ(rig.burner.CurrentFile(), src + "/docs/big.bin");
  EXPECT_TRUE(rig.Log("2A").empty());

  // A second session that should carry the first one's files is refused while sessions cannot
  // be read back; on a blank disc there is nothing to read and the burn goes ahead.
  TBurnRig multi("CD-R");
  ASSERT_EQ(multi.burner.AddDir("/", MakeTree(multi.dir), false, false, true), 1);
  multi.burner.ImportSession = -1;
  ASSERT_TRUE(multi.burner.BurnImage());
  multi.Pump();
  multi.burner.AbortWrite();
  ASSERT_EQ(multi.done, std::vector<std::string>{""});
  multi.done.clear();
  EXPECT_FALSE(multi.burner.BurnImage());
  EXPECT_EQ(multi.done, std::vector<std::string>{
                            "ERROR IMPORTING SESSION (READING BACK A SESSION IS NOT AVAILABLE)"});
  EXPECT_EQ(multi.drive->State().Sessions.size(), 1u);
}

TEST(Burn, ErasesEndEmptyOrReportTheError) {
  const struct {
    const char* Profile;
    bool Quick;
    bool Started;
    bool WithError;
    std::vector<std::string> Commands;  // the erase's own commands, by opcode, in order
  } rows[] = {
      {"CD-RW", true, true, false, {"A1 11 00 00 00 00 00 00 00 00 00 00"}},
      {"CD-RW", false, true, false, {"A1 10 00 00 00 00 00 00 00 00 00 00"}},
      {"CD-R", true, false, true, {}},  // not erasable: the command is refused
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.Profile) + (row.Quick ? " quick" : " full"));
    TBurnRig rig(row.Profile);
    // A session on the disc first.
    ASSERT_EQ(rig.burner.AddDir("/", MakeTree(rig.dir), false, false, true), 1);
    if (row.Started) {
      ASSERT_TRUE(rig.burner.BurnImage());
      rig.Pump();
      rig.burner.AbortWrite();
      ASSERT_EQ(rig.done, std::vector<std::string>{""});
      ASSERT_EQ(rig.drive->State().Sessions.size(), 1u);
      rig.done.clear();
    }
    EXPECT_EQ(rig.burner.EraseDisc(row.Quick), row.Started);
    rig.Pump();
    EXPECT_EQ(rig.erased, std::vector<bool>{row.WithError});
    EXPECT_TRUE(rig.onMainThread);
    EXPECT_FALSE(rig.burner.Erasing());
    EXPECT_EQ(rig.burner.EraseProgress(), 0);
    if (!row.Started) continue;
    EXPECT_EQ(rig.Log("A1"), row.Commands);
    EXPECT_TRUE(rig.drive->State().Sessions.empty());
  }

  {
    // A blank whose result cannot be confirmed (the disc reports a medium error afterwards) is
    // a failed erase, not a success.
    TBurnRig rig("CD-RW");
    rig.drive->InjectSense(0x51, 3, 0x0C, 0, 100000);
    EXPECT_TRUE(rig.burner.EraseDisc(true));
    rig.Pump();
    EXPECT_EQ(rig.erased, std::vector<bool>{true});
  }

  // A DVD+RW is formatted, then its start overwritten with zeros and closed.
  TBurnRig rig("DVD+RW");
  EXPECT_TRUE(rig.burner.EraseDisc(true));
  rig.Pump();
  EXPECT_EQ(rig.erased, std::vector<bool>{false});
  EXPECT_EQ(rig.Log("04").size(), 1u);
  EXPECT_EQ(rig.Log("2A").size(), 65u);
  EXPECT_EQ(rig.Log("5B"), std::vector<std::string>{"5B 00 03 00 00 FF 00 00 00 00"});
}
