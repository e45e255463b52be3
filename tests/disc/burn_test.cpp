// Burning built images to emulated drives on virtual time: the disc read back by isoinfo holds
// the files, each medium gets its write and close sequence, and failures, busy drives and aborts
// end the burn with one OnWriteDone carrying the error.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>
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
  std::unique_ptr<TDiscBurner> owned = std::make_unique<TDiscBurner>();
  TDiscBurner& burner = *owned;
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

// A directory record as a disc holds it: a Joliet (UCS-2) or primary (ASCII) identifier.
std::vector<uint8_t> Record(const std::string& name, uint32_t extent, uint32_t size, uint8_t flags,
                            bool joliet = true) {
  std::vector<uint8_t> id;
  for (char c : name) {
    if (joliet) id.push_back(0);
    id.push_back(static_cast<uint8_t>(c));
  }
  std::vector<uint8_t> r(33 + id.size() + (id.size() % 2 == 0 ? 1 : 0), 0);
  r[0] = static_cast<uint8_t>(r.size());
  for (int i = 0; i < 4; ++i) {
    r[2 + i] = static_cast<uint8_t>(extent >> (8 * i));
    r[10 + i] = static_cast<uint8_t>(size >> (8 * i));
  }
  r[18] = 120, r[19] = 6, r[20] = 1;  // 2020-06-01
  r[25] = flags;
  r[32] = static_cast<uint8_t>(id.size());
  std::copy(id.begin(), id.end(), r.begin() + 33);
  return r;
}

// A volume made by hand on a formatted DVD+RW: a Joliet (or only a primary) descriptor at 16
// whose root directory is sector 20, and the directory sectors given.
struct TFakeVolume {
  bool Joliet = true;
  uint32_t End = 1000;  // the volume space size
  uint32_t RootSize = 2048;
  std::map<uint32_t, std::vector<uint8_t>> Sectors;
  // Puts "." and ".." and then the records into the sector at lba, one after the other.
  void Dir(uint32_t lba, const std::vector<std::vector<uint8_t>>& records) {
    std::vector<uint8_t> s = Record(std::string(1, '\0'), lba, 2048, 2, false);
    const auto dotdot = Record(std::string(1, '\1'), 20, 2048, 2, false);
    s.insert(s.end(), dotdot.begin(), dotdot.end());
    for (const auto& r : records) s.insert(s.end(), r.begin(), r.end());
    s.resize(2048, 0);
    Sectors[lba] = s;
  }
  void WriteTo(const std::string& image) {
    std::vector<uint8_t> d(2048, 0);
    d[0] = Joliet ? 2 : 1;
    std::memcpy(d.data() + 1, "CD001", 5);
    d[6] = 1;
    for (int i = 0; i < 4; ++i) d[80 + i] = static_cast<uint8_t>(End >> (8 * i));
    if (Joliet) d[88] = 0x25, d[89] = 0x2F, d[90] = 0x45;
    const auto root = Record(std::string(1, '\0'), 20, RootSize, 2, false);
    std::copy(root.begin(), root.end(), d.begin() + 156);
    Sectors[16] = d;
    std::vector<uint8_t> t(2048, 0);
    t[0] = 255;
    std::memcpy(t.data() + 1, "CD001", 5);
    Sectors[17] = t;
    std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
    for (const auto& [lba, bytes] : Sectors) {
      f.seekp(std::streamoff{lba} * 2048);
      f.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    }
  }
};

// Every path of the tree, directories with a trailing "/", read-back files with "*".
std::set<std::string> TreePaths(const TDiscBurner& burner) {
  std::set<std::string> out;
  std::function<void(const TDEntry*)> walk = [&](const TDEntry* d) {
    for (const TFEntry* e = d->FirstChild; e; e = e->Next) {
      const std::string path = (d->FullPath == "/" ? "" : d->FullPath) + "/" + e->Key;
      if (e->Directory) {
        out.insert(path + "/");
        walk(e->Directory);
      } else {
        out.insert(path + (e->Imported ? "*" : ""));
      }
    }
  };
  walk(burner.Root());
  return out;
}

// The files isoinfo lists in the Joliet tree of the volume whose descriptors start at
// session + 16: path and extent.
std::map<std::string, uint32_t> JolietListing(const std::string& image, uint32_t session) {
  const auto got = testutil::Run("isoinfo -i " + testutil::Quote(image) + " -T " +
                                 std::to_string(session) + " -J -l 2>/dev/null");
  std::map<std::string, uint32_t> out;
  std::istringstream in(got.out);
  std::string line, dir;
  while (std::getline(in, line)) {
    if (line.rfind("Directory listing of ", 0) == 0) dir = line.substr(21);
    const size_t open = line.find('['), close = line.find("]  ");
    if (line.empty() || line[0] != '-' || open == std::string::npos || close == std::string::npos)
      continue;
    std::string name = line.substr(close + 3);
    while (!name.empty() && name.back() == ' ') name.pop_back();
    name = name.substr(0, name.rfind(";1") == name.size() - 2 ? name.size() - 2 : name.size());
    out[dir + name] = static_cast<uint32_t>(std::stoul(line.substr(open + 1)));
  }
  return out;
}

}  // namespace

// Damaged or hostile sessions are read as far as they go: what cannot be read is left out with a
// message and the rest of the tree is kept.
TEST(Burn, ReadBackOfDamagedSessionsKeepsWhatItCan) {
  using S = std::set<std::string>;
  const std::string deepName = std::string(108, 'n');
  const struct {
    const char* Name;
    std::function<void(TFakeVolume&)> Make;
    S Paths;
    std::string Message;  // part of one kind-4 message
  } rows[] = {
      {"a folder pointing back at the root",
       [](TFakeVolume& v) {
         v.Dir(20, {Record("a.txt", 100, 10, 0), Record("sub", 21, 2048, 2)});
         v.Dir(21, {Record("back", 20, 2048, 2), Record("b.txt", 101, 5, 1)});
       },
       S{"/a.txt*", "/sub/", "/sub/b.txt*"}, "DIRECTORY LOOP\n\r/sub/back"},
      {"a record crossing the end of its sector",
       [](TFakeVolume& v) {
         v.RootSize = 4096;
         // Records that take the sector up to byte 1984 (left out: their data lies off the
         // volume), then one whose length runs past the sector's end.
         std::vector<std::vector<uint8_t>> records{Record("a.txt", 100, 10, 0)};
         for (char c = '0'; c < '8'; ++c)
           records.push_back(Record(std::string(100, c), 5000, 1, 0));
         auto bad = Record("x.txt", 100, 10, 0);
         bad[0] = 100;
         records.push_back(bad);
         v.Dir(20, records);
         v.Sectors[21] = Record("c.txt", 102, 10, 0);
         v.Sectors[21].resize(2048);
       },
       S{"/a.txt*", "/c.txt*"}, "DIRECTORY RECORD OVERRUNS ITS SECTOR"},
      {"extents outside the volume",
       [](TFakeVolume& v) {
         v.Dir(20, {Record("far.bin", 5000, 2048, 0), Record("huge", 21, 0xFFFFF800u, 2),
                    Record("empty.txt", 0xFFFFFFF0u, 0, 0), Record("ok.txt", 990, 20480, 0)});
       },
       S{"/empty.txt*", "/ok.txt*"}, "EXTENT OUTSIDE THE DISC\n\r/huge"},
      {"a name too long",
       [&](TFakeVolume& v) {
         v.Dir(20, {Record(deepName, 100, 1, 0), Record("ok.txt", 100, 1, 0)});
       },
       S{"/ok.txt*"}, "ERROR IMPORTING SESSION, FILE NAME LENGTH EXCEEDS 120 CHARS\n\r" + deepName},
      {"a primary tree only",
       [](TFakeVolume& v) {
         v.Joliet = false;
         v.Dir(20, {Record("README.TXT;1", 100, 3, 0, false), Record("NOEXT.;1", 101, 3, 0, false),
                    Record("DIR", 21, 2048, 2, false)});
         v.Dir(21, {Record("IN.DAT;1", 102, 3, 0, false)});
       },
       S{"/README.TXT*", "/NOEXT*", "/DIR/", "/DIR/IN.DAT*"}, ""},
      {"folders nested 300 deep",
       [](TFakeVolume& v) {
         for (uint32_t i = 0; i < 300; ++i) v.Dir(20 + i, {Record("d", 21 + i, 2048, 2)});
       },
       S{}, "DIRECTORIES NESTED TOO DEEPLY"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Name);
    TBurnRig rig("DVD+RW");
    TEmuState state = rig.drive->State();
    state.Formatted = true;
    rig.drive->SetState(state);
    TFakeVolume volume;
    row.Make(volume);
    volume.WriteTo(rig.dir / "sr0.img");
    std::vector<std::string> messages;
    rig.burner.OnDebugMessage = [&](TSCSIDevice*, const std::string& m, uint8_t kind) {
      if (kind == dmPath) messages.push_back(m);
    };
    rig.burner.ImportSession = -1;
    ASSERT_TRUE(rig.burner.PrepareImage());
    if (std::string(row.Name).find("300") != std::string::npos) {
      // The root is level 1: folders go down to level 255.
      EXPECT_EQ(rig.burner.DirCount(), 254u);
      EXPECT_EQ(rig.burner.Dirs().back()->Level, 255u);
    } else {
      EXPECT_EQ(TreePaths(rig.burner), row.Paths);
    }
    const bool said = std::any_of(messages.begin(), messages.end(), [&](const std::string& m) {
      return !row.Message.empty() && m.find(row.Message) != std::string::npos;
    });
    EXPECT_EQ(said, !row.Message.empty()) << testing::PrintToString(messages);
    // The read-back entries serialise without trouble.
    rig.burner.WriteImageMetadata();
    EXPECT_TRUE(rig.burner.ImageBuilt());
  }
}

TEST(Burn, ImagesBurntToEachMediumReadBackWhole) {
  const struct {
    const char* Profile;
    const char* FirstWrite;            // the first WRITE(10)
    std::vector<std::string> Closing;  // CLOSE TRACK/SESSION commands
    const char* Format = "";           // the FORMAT UNIT sent before the burn
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
      // The session starts at sector 0: it is written once, without a separate head. Both
      // DVD-RW modes are quick-formatted first, the drive polled until the format is done.
      {"DVD-RW-SEQ",
       "2A 00 00 00 00 00 00 00 20 00",
       {"5B 01 02 00 00 00 00 00 00 00"},
       "04 11 00 00 00 00"},
      {"DVD-RW-RO",
       "2A 00 00 00 00 00 00 00 20 00",
       {"5B 01 02 00 00 00 00 00 00 00"},
       "04 11 00 00 00 00"},
      // Written in place and never closed.
      {"DVD-RAM", "2A 00 00 00 00 00 00 00 20 00", {}},
  };
  const bool tools = testutil::HaveTool("isoinfo");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Profile);
    TBurnRig rig(row.Profile);
    const std::string src = MakeTree(rig.dir);
    ASSERT_EQ(rig.burner.AddDir("/", src, false, false, true), 1);
    std::vector<size_t> finalizing;  // where in the command log the event came
    rig.burner.OnFinalizingTrack = [&](TDiscBurner*) {
      finalizing.push_back(rig.drive->CommandLog().size());
    };
    ASSERT_TRUE(rig.burner.BurnImage());
    rig.Pump();
    rig.burner.WaitForWorkers();
    ASSERT_EQ(rig.done, std::vector<std::string>{""});
    EXPECT_TRUE(rig.onMainThread);
    EXPECT_EQ(rig.burner.WrittenBytes(), int64_t{rig.burner.ImageSize()} * 2048);
    const auto log = rig.drive->CommandLog();
    const auto writes = rig.Log("2A");
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.front(), row.FirstWrite);
    EXPECT_EQ(rig.Log("5B"), row.Closing);
    // The event comes once, after the last write and before the track is closed.
    ASSERT_EQ(finalizing.size(), 1u);
    for (size_t i = 0; i < log.size(); ++i) {
      const std::string op = log[i].substr(0, 2);
      EXPECT_TRUE(op != "2A" || i < finalizing[0]) << i;
      EXPECT_TRUE(op != "5B" || i >= finalizing[0]) << i;
    }
    // A format is waited for: disc information is asked until the drive is no longer busy
    // (10 s of formatting in 5 s steps) before the next writable address is.
    if (*row.Format) {
      const auto format = std::find(log.begin(), log.end(), row.Format);
      ASSERT_NE(format, log.end());
      const auto address = std::find_if(
          format, log.end(), [](const std::string& c) { return c.compare(0, 2, "52") == 0; });
      EXPECT_GE(std::count_if(format, address,
                              [](const std::string& c) { return c.compare(0, 2, "51") == 0; }),
                3);
    } else {
      EXPECT_TRUE(rig.Log("04").empty() || std::string(row.Profile) == "DVD+RW");
    }
    // Overwritable media keep no sessions; the others hold one closed session over the image.
    const TEmuState state = rig.drive->State();
    const std::string profile = row.Profile;
    if (profile != "DVD+RW" && profile != "DVD-RW-RO" && profile != "DVD-RAM") {
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
      // The drive holds the third WRITE: the abort returns while the writer still waits in it.
      {"abort", [](TBurnRig& r) { r.drive->HoldCommand(0x2A, 50); }, true,
       "OPERATION ABORTED BY USER", false},
      {"session not closed", [](TBurnRig& r) { r.drive->InjectSense(0x5B, 5, 0x2C, 0, 2); }, false,
       "WRITER ERROR [ILLEGAL REQUEST (COMMAND SEQUENCE ERROR)]", true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Name);
    TBurnRig rig("CD-R");
    ASSERT_EQ(rig.burner.AddDir("/", MakeTree(rig.dir), false, false, true), 1);
    row.Arrange(rig);
    ASSERT_TRUE(rig.burner.BurnImage());
    if (row.Abort) {
      for (int i = 0; i < 5000 && !rig.drive->Holding(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      rig.burner.AbortWrite();
      EXPECT_TRUE(rig.burner.Writing());
      rig.drive->ReleaseHold();
    }
    rig.Pump();
    rig.burner.WaitForWorkers();
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
}

// A second burn with the last session read back lists the earlier files and the new ones; a file
// burnt again under the same name holds the new data. The earlier volume is one of ours or one
// genisoimage made; the disc images are read by isoinfo, xorriso, 7zz, bsdtar and pycdlib.
TEST(Burn, LaterSessionsListTheEarlierFiles) {
  for (const char* t : {"isoinfo", "xorriso", "genisoimage", "7zz", "bsdtar"})
    if (!testutil::HaveTool(t)) GTEST_SKIP() << t << " missing";
  const bool pycdlib = testutil::Run("/usr/bin/python3 -c 'import pycdlib' 2>&1").status == 0;
  // pycdlib puts file data right after the descriptors and tables (from sector 30 on), where
  // the new descriptors go on a DVD+RW.
  const std::string pycdlibVolume =
      "/usr/bin/python3 -c 'import pycdlib,os,sys\n"
      "i=pycdlib.PyCdlib(); i.new(interchange_level=4,joliet=3); iso={\"\":\"\"}; n=0\n"
      "for r,ds,fs in os.walk(sys.argv[1]):\n"
      "  rel=os.path.relpath(r,sys.argv[1]); rel=\"\" if rel==\".\" else \"/\"+rel\n"
      "  for d in sorted(ds):\n"
      "    n+=1; iso[rel+\"/\"+d]=iso[rel]+\"/D%d\"%n; i.add_directory(iso[rel+\"/\"+d],"
      "joliet_path=rel+\"/\"+d)\n"
      "  for f in sorted(fs,reverse=True):\n"
      "    n+=1; i.add_file(os.path.join(r,f),iso[rel]+\"/F%d.;1\"%n,joliet_path=rel+\"/\"+f)\n"
      "i.write(sys.argv[2])' ";
  const struct {
    const char* Profile;
    const char* Maker;  // what made the first volume: a command, or nullptr for a burn of ours
  } rows[] = {{"CD-R", nullptr},
              {"CD-RW", nullptr},
              {"DVD-R", nullptr},
              {"DVD-RW-SEQ", nullptr},
              {"DVD-RW-RO", nullptr},
              {"DVD+RW", nullptr},
              {"CD-R", "genisoimage -J -quiet -o "},
              {"DVD+RW", pycdlib ? pycdlibVolume.c_str() : "genisoimage -J -quiet -o "}};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.Profile) + (row.Maker ? " after " + std::string(row.Maker) : ""));
    TBurnRig rig(row.Profile);
    // Overwritable media hold one growing volume; the others a session per burn.
    const bool sessions =
        std::string(row.Profile) != "DVD+RW" && std::string(row.Profile) != "DVD-RW-RO";
    const std::string img = rig.dir / "sr0.img";
    const std::string a = MakeTree(rig.dir), b = rig.dir / "b";
    testutil::WriteFile(a + "/docs.zip", "the backup of Monday");
    std::filesystem::create_directories(b + "/docs");
    testutil::WriteFile(b + "/docs.zip", "the backup of Tuesday, longer");
    testutil::WriteFile(b + "/docs/new.txt", "new in B");
    // pycdlib gets the root files only, so that its data starts right after its tables.
    const bool py = row.Maker && std::string(row.Maker).find("python") != std::string::npos;
    if (py) std::filesystem::rename(a + "/docs", rig.dir / "docs-aside");
    std::vector<std::string> earlier = {"/readme.txt", "/odd name.dat"};
    if (!py) earlier.push_back("/docs/big.bin");
    std::map<std::string, std::string> want;  // disc path -> content
    std::set<std::string> tree = {"/docs/", "/docs/new.txt", "/docs.zip"};
    for (const auto& f : earlier) {
      want[f] = testutil::ReadFile(a + f);
      tree.insert(f + "*");
    }
    want["/docs.zip"] = testutil::ReadFile(b + "/docs.zip");
    want["/docs/new.txt"] = "new in B";

    if (row.Maker) {
      const auto made = testutil::Run(
          row.Maker + (py ? Quote(a) + " " + Quote(img) : Quote(img) + " " + Quote(a)));
      ASSERT_EQ(made.status, 0) << made.out;
      TEmuState state = rig.drive->State();
      const uint32_t end = static_cast<uint32_t>(std::filesystem::file_size(img) / 2048);
      state.Formatted = true;
      if (sessions) {
        state.Sessions = {{0, end}};
        state.SessionStart = state.Nwa = end + 11400;
      }
      rig.drive->SetState(state);
    } else {
      rig.burner.ImportSession = -1;  // nothing to read on a blank disc
      ASSERT_EQ(rig.burner.AddDir("/", a, false, false, true), 1);
      ASSERT_TRUE(rig.burner.BurnImage());
      rig.Pump();
      rig.burner.WaitForWorkers();
      ASSERT_EQ(rig.done, std::vector<std::string>{""});
      rig.done.clear();
    }
    const auto first = JolietListing(img, 0);
    ASSERT_EQ(first.size(), earlier.size() + 1);
    if (py) {
      ASSERT_LT(first.at("/readme.txt"), 32u);
    }

    TDiscBurner& burner = rig.burner;
    burner.ClearImage(65535, 8191);
    burner.ImportSession = -1;
    burner.ReplaceFile = true;
    ASSERT_EQ(burner.AddDir("/", b, false, false, true), 1);
    // The size pass and the burn pass read the same tree.
    ASSERT_TRUE(burner.PrepareImage());
    const std::set<std::string> sized = TreePaths(burner);
    EXPECT_EQ(sized, tree);
    ASSERT_TRUE(burner.BurnImage());
    rig.Pump();
    burner.WaitForWorkers();
    ASSERT_EQ(rig.done, std::vector<std::string>{""});
    EXPECT_EQ(TreePaths(burner), sized);

    const TEmuState state = rig.drive->State();
    uint32_t s2 = 0;
    if (sessions) {
      ASSERT_EQ(state.Sessions.size(), 2u);
      s2 = state.Sessions[1].Start;
      EXPECT_EQ(s2, state.Sessions[0].End + 11400);
    }
    // Earlier files keep their extents; every file reads back with its content.
    const auto second = JolietListing(img, s2);
    std::set<std::string> names;
    for (const auto& [path, extent] : second) names.insert(path);
    std::set<std::string> wanted;
    for (const auto& [path, content] : want) wanted.insert(path);
    EXPECT_EQ(names, wanted);
    for (const auto& f : earlier)
      EXPECT_EQ(second.count(f) ? second.at(f) : 0, first.count(f) ? first.at(f) : 1) << f;
    for (const auto& [path, content] : want) {
      const auto got = testutil::Run("isoinfo -i " + Quote(img) + " -T " + std::to_string(s2) +
                                     " -J -x " + Quote(path + ";1") + " 2>/dev/null");
      EXPECT_TRUE(got.out == content) << path;
    }
    const auto xorriso = testutil::Run("xorriso -indev " + Quote(img) + " -load sbsector " +
                                       std::to_string(s2) + " -find / -type f 2>/dev/null");
    for (const auto& path : wanted)
      EXPECT_NE(xorriso.out.find("'" + path + "'"), std::string::npos) << path << xorriso.out;
    if (!sessions) {
      // One volume from sector 0: any reader sees the merged tree.
      const auto sevenZip = testutil::Run("7zz l -ba " + Quote(img) + " 2>&1");
      const auto bsdtar = testutil::Run("bsdtar -tf " + Quote(img) + " 2>&1");
      for (const auto& path : wanted) {
        EXPECT_NE(sevenZip.out.find(path.substr(1)), std::string::npos) << path;
        EXPECT_NE(bsdtar.out.find(path.substr(1)), std::string::npos) << path;
      }
      if (pycdlib) {
        const auto py = testutil::Run(
            "/usr/bin/python3 -c 'import pycdlib,sys\n"
            "i=pycdlib.PyCdlib(); i.open(sys.argv[1])\n"
            "for p,d,f in i.walk(joliet_path=\"/\"):\n"
            "  for n in f: print(p.rstrip(\"/\")+\"/\"+n.split(\";\")[0])' " +
            Quote(img));
        std::set<std::string> seen;
        std::istringstream in(py.out);
        for (std::string line; std::getline(in, line);) seen.insert(line);
        EXPECT_EQ(seen, wanted) << py.out;
      }
    }

    // A third session comes 6 900 sectors after the second and still lists everything.
    if (!sessions || row.Maker) continue;
    testutil::WriteFile(rig.dir / "c.txt", "third");
    burner.ClearImage(65535, 8191);
    ASSERT_EQ(burner.AddFile("/", rig.dir / "c.txt", false), 1);
    rig.done.clear();
    ASSERT_TRUE(burner.BurnImage());
    rig.Pump();
    burner.WaitForWorkers();
    ASSERT_EQ(rig.done, std::vector<std::string>{""});
    const TEmuState third = rig.drive->State();
    ASSERT_EQ(third.Sessions.size(), 3u);
    EXPECT_EQ(third.Sessions[2].Start, third.Sessions[1].End + 6900);
    EXPECT_EQ(JolietListing(img, third.Sessions[2].Start).size(), want.size() + 1);
  }
}

TEST(Burn, ErasesEndEmptyOrReportTheError) {
  const struct {
    const char* Profile;
    bool Quick;
    bool Started;
    bool WithError;
    const char* Opcode;                 // the erase's own command
    std::vector<std::string> Commands;  // sent with that opcode: the first ones, then how many
    size_t Count;
    std::vector<std::string> Closing = {};  // CLOSE TRACK/SESSION commands
  } rows[] = {
      {"CD-RW", true, true, false, "A1", {"A1 11 00 00 00 00 00 00 00 00 00 00"}, 1},
      {"CD-RW", false, true, false, "A1", {"A1 10 00 00 00 00 00 00 00 00 00 00"}, 1},
      {"CD-R", true, false, true, "A1", {}, 0},  // not erasable: the command is refused
      // Formatted, then its start overwritten with zeros and closed.
      {"DVD+RW",
       true,
       true,
       false,
       "2A",
       {"2A 00 00 00 00 00 00 00 20 00", "2A 00 00 00 00 20 00 00 20 00"},
       65,
       {"5B 00 03 00 00 FF 00 00 00 00"}},
      // Quick: eleven writes of zeros to accept the erase, 65 more by the thread.
      {"DVD-RAM", true, true, false, "2A", {"2A 00 00 00 00 00 00 00 20 00"}, 76},
      {"DVD-RAM", false, true, false, "04", {"04 11 00 00 00 00"}, 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.Profile) + (row.Quick ? " quick" : " full"));
    TBurnRig rig(row.Profile);
    // A session on the disc first.
    ASSERT_EQ(rig.burner.AddDir("/", MakeTree(rig.dir), false, false, true), 1);
    if (row.Started) {
      ASSERT_TRUE(rig.burner.BurnImage());
      rig.Pump();
      rig.burner.WaitForWorkers();
      ASSERT_EQ(rig.done, std::vector<std::string>{""});
      rig.done.clear();
    }
    const size_t mark = rig.drive->CommandLog().size();
    EXPECT_EQ(rig.burner.EraseDisc(row.Quick), row.Started);
    rig.Pump();
    EXPECT_EQ(rig.erased, std::vector<bool>{row.WithError});
    EXPECT_TRUE(rig.onMainThread);
    EXPECT_FALSE(rig.burner.Erasing());
    EXPECT_EQ(rig.burner.EraseProgress(), 0);
    if (!row.Started) continue;
    std::vector<std::string> sent, closing;
    const auto log = rig.drive->CommandLog();
    for (size_t i = mark; i < log.size(); ++i) {
      if (log[i].compare(0, 2, row.Opcode) == 0) sent.push_back(log[i]);
      if (log[i].compare(0, 2, "5B") == 0) closing.push_back(log[i]);
    }
    EXPECT_EQ(sent.size(), row.Count);
    sent.resize(std::min(sent.size(), row.Commands.size()));
    EXPECT_EQ(sent, row.Commands);
    EXPECT_EQ(closing, row.Closing);
    EXPECT_TRUE(rig.drive->State().Sessions.empty());
    // The disc reads as empty: no volume at its start (blanked media have nothing to read).
    std::vector<uint8_t> sector(2048, 0);
    if (rig.burner.ReadSectors(16, 1, sector.data()) == SS_COMP) {
      EXPECT_EQ(std::count(sector.begin(), sector.end(), 0), 2048);
    }
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

  // Closing the program during a long erase: the burner goes within a second (on real time, with
  // a drive that stays busy), and the erase's report, still to come, never runs.
  TBurnRig rig("CD-RW");
  rig.burner.SetClock(nullptr);
  ASSERT_TRUE(rig.burner.EraseDisc(false));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(rig.burner.Erasing());
  const auto started = std::chrono::steady_clock::now();
  rig.owned.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
  for (auto& call : rig.posted) call();
  EXPECT_TRUE(rig.erased.empty());
}
