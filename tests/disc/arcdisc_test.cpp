// arcdisc on emulated drives: creating them, listing them (by option and by the environment) and
// describing a drive and its disc, burning a folder to it and erasing it.
#include <gtest/gtest.h>

#include <filesystem>

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

}  // namespace
