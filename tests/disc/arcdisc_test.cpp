// arcdisc on emulated drives: creating them, listing them (by option and by the environment) and
// describing a drive and its disc, burning a folder to it and erasing it; burns that meet the
// faults of the drive's fault file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "testutil.h"

using testutil::Quote;
using testutil::TempDir;

namespace {

TEST(Arcdisc, EmulateListAndDescribe) {
  TempDir dir;
  const std::string tool = ARCDISC_PATH;
  const std::string folder = dir / "drives";
  auto arcdisc = [&](const std::string& args) {
    return testutil::Run(Quote(tool) + " " + args + " 2>&1");
  };

  EXPECT_EQ(arcdisc("emulate new " + Quote(folder) + " --profile CD-R").out, "sr0\n");
  EXPECT_EQ(arcdisc("emulate new " + Quote(folder) + " --profile DVD+RW").out, "sr1\n");
  EXPECT_EQ(arcdisc("emulate new " + Quote(folder) + " --profile LP").status, 2);
  EXPECT_EQ(arcdisc("emulate new").status, 2);

  const std::string listing =
      "0:0:0,sr0: ARCAVO  EMULATED WRITER 1.00\n1:0:0,sr1: ARCAVO  EMULATED WRITER 1.00\n";
  auto devices = arcdisc("--emulated " + Quote(folder) + " devices");
  EXPECT_EQ(devices.status, 0);
  EXPECT_EQ(devices.out, listing);
  auto byEnv =
      testutil::Run("ARCAVO_EMULATED_DRIVES=" + Quote(folder) + " " + Quote(tool) + " devices");
  EXPECT_EQ(byEnv.out, listing);

  const struct {
    const char* Id;
    std::vector<const char*> Lines;
  } rows[] = {
      {"sr0",
       {"Node: sr0\n", "DiscType: 2 CD-R\n", "Capacity: 359847\n", "Used: 0\n",
        "FreeSectors: 359847\n", "DiscCapacity: 359847\n", "WriteModes: 7\n"}},
      {"'1:0:0,sr1: ARCAVO  EMULATED WRITER 1.00'",
       {"Node: sr1\n", "DiscType: 10 DVD+RW\n", "Erasable: 1\n", "Capacity: 2295104\n"}},
  };
  for (const auto& row : rows) {
    const auto info = arcdisc("--emulated " + Quote(folder) + " info " + row.Id);
    EXPECT_EQ(info.status, 0) << info.out;
    for (const char* line : row.Lines)
      EXPECT_NE(info.out.find(line), std::string::npos) << line << info.out;
  }
  EXPECT_EQ(arcdisc("--emulated " + Quote(folder) + " info sr7").status, 1);

  // An empty folder: no drive at all, never a real one.
  const auto none = arcdisc("--emulated " + Quote(dir / "empty") + " devices");
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.out, "");
  EXPECT_EQ(arcdisc("burn").status, 2);

  // Burning a folder, then erasing: a CD-R cannot be erased.
  const std::string src = dir / "src";
  std::filesystem::create_directories(src);
  testutil::WriteFile(src + "/notes.txt", "burnt by arcdisc\n");
  for (const char* node : {"sr0"}) {
    const auto burnt = arcdisc("--emulated " + Quote(folder) + " burn " + node + " " + Quote(src));
    EXPECT_EQ(burnt.status, 0) << burnt.out;
    if (!testutil::HaveTool("isoinfo")) continue;
    const auto read = testutil::Run("isoinfo -J -i " + Quote(folder + "/" + node + ".img") +
                                    " -x '/notes.txt;1'");
    EXPECT_EQ(read.out, "burnt by arcdisc\n") << node;
  }
  EXPECT_EQ(arcdisc("--emulated " + Quote(folder) + " burn sr0 " + Quote(dir / "none")).status, 1);
  EXPECT_EQ(arcdisc("--emulated " + Quote(folder) + " erase sr0").status, 1);
}

// Every fault a burn can meet, scripted through the drive's fault file: the burn fails with the
// drive's text (or is refused before any WRITE, the faults left unconsumed), and a DVD+RW keeps
// its earlier session readable, every file whole, by isoinfo, xorriso and pycdlib; so does one
// whose burn is killed mid-write.
TEST(Arcdisc, BurnsMeetingTheFaultsOfTheFaultFile) {
  for (const char* t : {"isoinfo", "xorriso", "osirrox"})
    if (!testutil::HaveTool(t)) GTEST_SKIP() << t << " missing";
  if (testutil::Run("/usr/bin/python3 -c 'import pycdlib' 2>&1").status != 0)
    GTEST_SKIP() << "pycdlib missing";
  const std::string tool = ARCDISC_PATH;
  const std::string isocheck =
      std::string(std::getenv("ARCAVO_SOURCE_DIR")) + "/tests/disc/isocheck.py";
  // {S} stands for the sector 64 past the start of the second session (the end of the first
  // volume). A fault that must not fire stands for "no WRITE was sent".
  const std::string tripwire = "2A busy";
  const struct {
    const char* Name;
    const char* Profile;
    bool FirstSession;       // a session burnt before the faults
    std::string Faults;      // the fault file
    std::string Told;        // part of the error on standard error ("" : success)
    bool Kill = false;       // the burn is killed once the faults are taken
    bool Untouched = false;  // refused before anything was written: disc and faults as they were
    const char* State = "";  // state lines added before the burn
    const char* Options = "";
  } rows[] = {
      {"a write error in the second session", "DVD+RW", true, "2A lba>={S} sense 3 0C 00",
       "WRITER ERROR [MEDIUM ERROR (WRITE ERROR)]"},
      {"the disc taken out mid-write", "DVD+RW", true, "remove-medium-at 2A lba>={S}",
       "WRITER ERROR [NOT READY (MEDIUM NOT PRESENT - TRAY CLOSED)]"},
      {"the burn killed mid-write", "DVD+RW", true, "2A lba>={S} stall", "", true},
      {"every cache flush fails", "CD-R", false, "35 sense 3 0C 00 count=2",
       "WRITER ERROR [MEDIUM ERROR (WRITE ERROR)]"},
      {"the session is not closed", "CD-R", false, "5B sense 3 72 00 count=2",
       "WRITER ERROR [MEDIUM ERROR (SESSION FIXATION ERROR)]"},
      {"the disc taken out at the close", "CD-R", false, "remove-medium-at 5B",
       "WRITER ERROR [NOT READY (MEDIUM NOT PRESENT - TRAY CLOSED)]"},
      {"a CD-R too small", "CD-R", false, tripwire,
       "NOT ENOUGH ROOM ON THE DISC: THE SESSION NEEDS 313 SECTORS, 300 ARE FREE", false, true,
       "capacity=300\n"},
      {"a DVD-R too small", "DVD-R", false, tripwire,
       "NOT ENOUGH ROOM ON THE DISC: THE SESSION NEEDS 320 SECTORS, 300 ARE FREE", false, true,
       "capacity=300\n"},
      {"a DVD+RW with UDF", "DVD+RW", false, tripwire,
       "THE DISC HOLDS ANOTHER FILE SYSTEM (UDF): NOT OVERWRITTEN", false, true, "formatted=1\n"},
      {"a DVD+RW with UDF, overwritten", "DVD+RW", false, "", "", false, false, "formatted=1\n",
       "--overwrite"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Name);
    TempDir dir;
    const std::string folder = dir / "drives", img = folder + "/sr0.img";
    auto arcdisc = [&](const std::string& args) {
      return testutil::Run(Quote(tool) + " --emulated " + Quote(folder) + " " + args + " 2>&1");
    };
    ASSERT_EQ(arcdisc("emulate new " + Quote(folder) + " --profile " + row.Profile).status, 0);
    {
      std::ofstream state(folder + "/sr0.state", std::ios::app);
      state << row.State << (row.FirstSession ? "formatted=1\n" : "");
    }
    const std::string first = dir / "first", second = dir / "second";
    std::filesystem::create_directories(first + "/docs");
    std::filesystem::create_directories(second);
    testutil::WriteFile(first + "/notes.txt", "the first session\n");
    testutil::WriteFile(first + "/docs/big.bin", std::string(300000, 'b'));
    // 163 sectors of data after the 150 of the metadata area: 313 sectors.
    testutil::WriteFile(second + "/more.bin", std::string(333000, 'm'));
    if (row.FirstSession) {
      ASSERT_EQ(arcdisc("burn sr0 " + Quote(first)).status, 0);
    }
    if (std::string(row.Name).find("UDF") != std::string::npos) {
      // Another program's UDF volume: its descriptors from sector 16 on, data around them.
      std::string area(20 * 2048, 'Z');
      const char* ids[] = {"BEA01", "NSR02", "TEA01"};
      for (int i = 0; i < 3; ++i)
        area.replace(size_t(16 + i) * 2048, 6, std::string(1, '\0') + ids[i]);
      testutil::WriteFile(img, area);
    }
    std::string faults = row.Faults;
    if (const size_t at = faults.find("{S}"); at != std::string::npos) {
      const std::string pvd = testutil::ReadFile(img).substr(16 * 2048, 2048);
      uint32_t end = 0;
      std::memcpy(&end, pvd.data() + 80, 4);  // the volume space size, little-endian copy
      faults.replace(at, 3, std::to_string(end + 64));
    }
    if (!faults.empty()) testutil::WriteFile(folder + "/sr0.faults", faults + "\n");
    const std::string before = testutil::ReadFile(img);
    // Without --import: a new tree that took the disc early would hide the first session.
    const std::string burn = "burn sr0 " + std::string(row.Options) + " " + Quote(second);
    testutil::CommandResult r;
    if (row.Kill) {
      // The burn stands still in the stalled WRITE: killed once the fault is taken.
      r = testutil::Run("(" + Quote(tool) + " --emulated " + Quote(folder) + " " + burn +
                        " & p=$!; for i in $(seq 300); do [ -e " + Quote(folder + "/sr0.faults") +
                        " ] || break; sleep 0.1; done; kill -9 $p; wait $p) 2>&1");
      EXPECT_EQ(r.status, 137) << r.out;
    } else {
      r = arcdisc(burn);
      EXPECT_EQ(r.status, row.Told.empty() ? 0 : 1) << r.out;
      EXPECT_NE(r.out.find(row.Told), std::string::npos) << r.out;
    }
    if (row.Untouched) {
      EXPECT_TRUE(testutil::ReadFile(img) == before) << "the disc was written to";
      EXPECT_EQ(testutil::ReadFile(folder + "/sr0.faults"), faults + "\n") << "a WRITE was sent";
    } else if (!faults.empty()) {
      EXPECT_FALSE(testutil::Exists(folder + "/sr0.faults")) << "the faults did not all fire";
    }
    // What the disc holds reads back whole: the first session after a failure, both after a
    // success.
    const std::string expected = row.FirstSession ? first : row.Told.empty() ? second : "";
    if (expected.empty()) continue;
    const auto check = testutil::Run("/usr/bin/python3 " + Quote(isocheck) + " same " + Quote(img) +
                                     " " + Quote(expected) + " 2>&1");
    EXPECT_EQ(check.status, 0) << check.out;
  }
}

// A disc made elsewhere with Rock Ridge and no Joliet, appended to with --import: the new
// session keeps every old name, mode, time and link (read from its Rock Ridge fields), beside the
// new file, as bsdtar, xorriso, isoinfo -R and pycdlib see them. (xorriso records a link with a
// time of its own, not the link's: link times are not compared.)
TEST(Arcdisc, ImportOfARockRidgeDiscKeepsEveryOldName) {
  for (const char* t : {"isoinfo", "xorriso", "bsdtar"})
    if (!testutil::HaveTool(t)) GTEST_SKIP() << t << " missing";
  if (testutil::Run("/usr/bin/python3 -c 'import pycdlib' 2>&1").status != 0)
    GTEST_SKIP() << "pycdlib missing";
  TempDir dir;
  const std::string tool = ARCDISC_PATH, folder = dir / "drives", img = folder + "/sr0.img";
  auto arcdisc = [&](const std::string& args) {
    return testutil::Run("TZ=America/New_York " + Quote(tool) + " --emulated " + Quote(folder) +
                         " " + args + " 2>&1");
  };
  ASSERT_EQ(arcdisc("emulate new " + Quote(folder) + " --profile DVD+RW").status, 0);
  const std::string old = dir / "old", add = dir / "new", all = dir / "all";
  std::filesystem::create_directories(old + "/Sub Folder With Spaces");
  std::filesystem::create_directories(add);
  // Past Joliet's 103 characters, and short enough to stay in its record: bsdtar refuses a
  // continuation area that lies after its file's data, as an old file's data does.
  const std::string longName = std::string(110, 'L') + " mixed Case.txt";
  for (const auto& [path, mode] : {std::pair<std::string, mode_t>{"Mixed Case Name.txt", 0644},
                                   {longName, 0640},
                                   {"tool.sh", 0755},
                                   {"Sub Folder With Spaces/notes.md", 0600}}) {
    testutil::WriteFile(old + "/" + path, "old " + path + "\n");
    ASSERT_EQ(::chmod((old + "/" + path).c_str(), mode), 0);
  }
  std::filesystem::create_symlink("tool.sh", old + "/latest");
  testutil::WriteFile(add + "/added later.txt", "new\n");
  ASSERT_EQ(testutil::Run("touch -h -d @1700000000 " + Quote(old) + "/* " + Quote(old) + "/*/* " +
                          Quote(add) + "/*")
                .status,
            0);
  const auto made =
      testutil::Run("xorriso -as mkisofs -R -quiet -o " + Quote(img) + " " + Quote(old) + " 2>&1");
  ASSERT_EQ(made.status, 0) << made.out;
  {
    std::ofstream state(folder + "/sr0.state", std::ios::app);
    state << "formatted=1\n";
  }
  const auto burnt = arcdisc("burn sr0 --import " + Quote(add));
  ASSERT_EQ(burnt.status, 0) << burnt.out;
  ASSERT_EQ(testutil::Run("cp -a " + Quote(old) + " " + Quote(all) + " && cp -a " +
                          Quote(add + "/added later.txt") + " " + Quote(all))
                .status,
            0);
  std::filesystem::create_directory(dir / "x");
  const auto check = testutil::Run(
      "/usr/bin/python3 " +
      Quote(std::string(std::getenv("ARCAVO_SOURCE_DIR")) + "/tests/disc/isocheck.py") + " rr " +
      Quote(img) + " " + Quote(all) + " " + Quote(dir / "x") + " --no-link-times 2>&1");
  EXPECT_EQ(check.status, 0) << check.out;
}

}  // namespace
