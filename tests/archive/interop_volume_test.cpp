// Split archives across tools: sets written by arczip checked by 7zz, Info-ZIP and the others;
// sets written by Info-ZIP zip read, listed and extracted by the engine.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <tuple>

#include "archive/arcunzip.h"
#include "archive/zipmedia.h"
#include "testutil.h"

using testutil::Quote;
using testutil::TempDir;

namespace {

bool HavePeers() {
  for (const char* t : {"zip", "unzip", "7zz", "bsdtar", "python3"})
    if (!testutil::HaveTool(t)) return false;
  return true;
}

std::string Arczip(const std::string& args) {
  return std::string(ARCZIP_PATH) + " " + args;
}

int Sh(const std::string& command, std::string* out = nullptr) {
  auto r = testutil::Run(command);
  if (out) *out = r.out;
  if (r.status != 0) ADD_FAILURE() << command << "\n" << r.out;
  return r.status;
}

using TFileFacts = std::set<std::tuple<std::string, uint64_t, uint32_t>>;  // name, size, CRC

// The files of a set as 7zz lists them.
TFileFacts PeerFacts(const std::string& archive) {
  std::string out;
  Sh("7zz l -slt " + Quote(archive), &out);
  TFileFacts facts;
  std::istringstream in(out);
  std::string line, path, crc;
  uint64_t size = 0;
  bool folder = false, inEntries = false;
  auto flush = [&] {
    if (!path.empty() && !folder)
      facts.emplace(path, size, static_cast<uint32_t>(std::stoul(crc.empty() ? "0" : crc, 0, 16)));
    path.clear();
    crc.clear();
    size = 0;
    folder = false;
  };
  while (std::getline(in, line)) {
    if (line.rfind("----------", 0) == 0) inEntries = true;
    if (!inEntries) continue;
    if (line.rfind("Path = ", 0) == 0) {
      flush();
      path = line.substr(7);
    } else if (line.rfind("Size = ", 0) == 0) {
      size = std::stoull(line.substr(7));
    } else if (line.rfind("CRC = ", 0) == 0) {
      crc = line.substr(6);
    } else if (line == "Folder = +") {
      folder = true;
    }
  }
  flush();
  return facts;
}

TEST(InteropVolumes, OurSplitSetsPassThePeers) {
  if (!HavePeers()) GTEST_SKIP() << "peer tools missing";
  TempDir t;
  const std::string d = Quote(t.path());
  Sh("set -e; cd " + d +
     "; mkdir -p src/sub; head -c 4000000 /dev/urandom > src/big.bin;"
     " head -c 600000 /dev/urandom > src/sub/r.bin; seq 1 200000 > src/sub/n.txt;"
     " for i in $(seq 1 40); do seq 1 $((i * 37)) > src/sub/f$i.txt; done");
  // A 4 MB file over parts of a floppy's size: each part within the size, the first marked as
  // the start of a set, parts named base.z01 ... base.zip.
  Sh("cd " + d + " && " + Arczip("split data.zip src -r -6 -b 1457600"));
  std::string first = testutil::ReadFile(t / "data.z01");
  EXPECT_EQ(first.substr(0, 4), "PK\x07\x08");
  for (const auto& n : {"data.z01", "data.z02", "data.z03", "data.zip"}) {
    ASSERT_TRUE(testutil::Exists(t / n)) << n;
    EXPECT_LE(std::filesystem::file_size(t / n), 1457600u) << n;
  }
  Sh("cd " + d + " && 7zz t data.zip");
  Sh("cd " + d + " && " + Arczip("t data.zip"));
  Sh("cd " + d + " && " + Arczip("x data.zip -d out") + " && diff -r src out/src");

  // Entries over at most two parts: Info-ZIP joins the set into one archive that tests clean.
  Sh("cd " + d + " && " + Arczip("split small.zip src/sub -r -b 700000 -f 500000"));
  EXPECT_LE(std::filesystem::file_size(t / "small.z01"), 500000u);
  Sh("cd " + d + " && zip -s 0 small.zip --out j.zip >/dev/null && unzip -tq j.zip");
  Sh("cd " + d + " && 7zz t small.zip");

  // A set of one part is an ordinary archive to every peer.
  Sh("cd " + d + " && " + Arczip("split one.zip src/sub -r -b 5000000"));
  EXPECT_FALSE(testutil::Exists(t / "one.z01"));
  Sh("cd " + d + " && unzip -tq one.zip && 7zz t one.zip && bsdtar -tf one.zip >/dev/null");
  Sh("cd " + d +
     " && python3 -c 'import zipfile,sys; sys.exit(zipfile.ZipFile(\"one.zip\").testzip() is not "
     "None)'");
}

TEST(InteropVolumes, PeerSplitSetsListAndExtractAsTheSource) {
  if (!HavePeers()) GTEST_SKIP() << "peer tools missing";
  TempDir t;
  const std::string d = Quote(t.path());
  // Many small files put the directory over the last parts; a random file crosses five parts.
  Sh("set -e; cd " + d +
     "; mkdir -p s1/many s2; for i in $(seq 1 1500); do echo \"file $i\" > s1/many/m$i.txt; done;"
     " head -c 2000 /dev/urandom > s1/r.bin; head -c 300000 /dev/urandom > s2/r.bin;"
     " (cd s1 && zip -qr -s 64k ../a.zip .) && (cd s2 && zip -qr -s 64k ../b.zip .)");
  for (const char* set : {"a", "b"}) {
    const std::string zip = t / (std::string(set) + ".zip");
    TArcUnZip r;
    std::vector<std::pair<int, int>> asked;
    r.OnFileNameForSplitPart = [&](TArcUnZip::TSender, std::string& n, int part,
                                   TSplitPartType type) {
      asked.emplace_back(part, static_cast<int>(type));
      n = ProgramPartName(n, part, type);
    };
    r.SetZipName(zip);
    r.ReadArchive();
    EXPECT_EQ(r.MultiZipInfo.MultiMode, TMultiMode::mmBlocks) << set;
    TFileFacts ours;
    for (int i = 0; i < r.EntryCount(); ++i)
      if (!r.EntryName(i).empty())
        ours.emplace(r.EntryFullName(i), r.EntrySize(i), r.EntryHeader(i).CRC32);
    EXPECT_EQ(ours, PeerFacts(zip)) << set;
    r.SetDestDir(t / (std::string("out-") + set));
    r.DoAll = true;
    r.RecreateDirs = true;
    EXPECT_EQ(r.Extract(), r.EntryCount()) << set;
    const std::string src = set == std::string("a") ? "s1" : "s2";
    Sh("cd " + d + " && diff -r " + src + " out-" + set);
    // The first part is asked as the first, the last as the last.
    EXPECT_NE(std::find(asked.begin(), asked.end(), std::pair(1, 0)), asked.end()) << set;
    const int parts = static_cast<int>(r.EndCentral().GetThisDiskNo()) + 1;
    EXPECT_NE(std::find(asked.begin(), asked.end(), std::pair(parts, 2)), asked.end()) << set;

    // Repaired, the whole set becomes one archive of the same files.
    const std::string fixed = std::string(set) + "-fixed.zip";
    auto repair =
        testutil::Run("cd " + d + " && " + Arczip(std::string("repair ") + set + ".zip " + fixed));
    EXPECT_EQ(repair.status, 0) << repair.out;
    Sh("cd " + d + " && unzip -tq " + fixed + " >/dev/null");
    EXPECT_EQ(PeerFacts(t / fixed), PeerFacts(zip)) << set;
  }

  // The part where the directory of a.zip starts is missing: the parts there are scanned, and
  // every entry whole on them is salvaged.
  const TFileFacts before = PeerFacts(t / "a.zip");
  TArcUnZip r;
  r.OnFileNameForSplitPart = [](TArcUnZip::TSender, std::string& n, int part, TSplitPartType type) {
    n = ProgramPartName(n, part, type);
  };
  r.SetZipName(t / "a.zip");
  r.ReadArchive();
  const uint32_t cdDisk = r.EndCentral().GetCentralDiskNo();
  ASSERT_LT(cdDisk, r.EndCentral().GetThisDiskNo());
  const std::string cdPart =
      ProgramPartName("a", static_cast<int>(cdDisk) + 1, TSplitPartType::MiddlePart);
  size_t ahead = 0;  // files whose header is on a part before the missing one
  for (int i = 0; i < r.EntryCount(); ++i)
    if (!r.EntryName(i).empty() && r.EntryDiskNumber(i) <= static_cast<int>(cdDisk)) ++ahead;
  r.CloseArchive();
  std::filesystem::remove(t / cdPart);
  auto repair = testutil::Run("cd " + d + " && " + Arczip("repair a.zip a-part.zip"));
  EXPECT_EQ(repair.status, 1) << repair.out;
  EXPECT_NE(repair.out.find("arczip: the central directory was on " + cdPart +
                            ", which is missing: the entries were found by a scan of the parts "
                            "present"),
            std::string::npos)
      << repair.out;
  Sh("cd " + d + " && unzip -tq a-part.zip >/dev/null");
  const TFileFacts salvaged = PeerFacts(t / "a-part.zip");
  EXPECT_TRUE(std::includes(before.begin(), before.end(), salvaged.begin(), salvaged.end()));
  EXPECT_GE(salvaged.size() + 1, ahead);
}

// A set with a middle part deleted: every entry whose data lies on the parts there is tested and
// extracted as it was stored; each entry that needed the lost part is named with it; status 1.
TEST(InteropVolumes, AMissingMiddlePartLosesOnlyTheEntriesOnIt) {
  if (!HavePeers()) GTEST_SKIP() << "peer tools missing";
  TempDir t;
  const std::string d = Quote(t.path());
  Sh("set -e; cd " + d +
     "; mkdir src; for i in $(seq 10 29); do head -c 60000 /dev/urandom > src/r$i.bin; done");
  Sh("cd " + d + " && " + Arczip("split s.zip src -r -0 -b 150000"));
  // Entries by the part their header is on, before the part goes.
  TArcUnZip z;
  z.OnFileNameForSplitPart = [](TArcUnZip::TSender, std::string& n, int part, TSplitPartType type) {
    n = ProgramPartName(n, part, type);
  };
  z.SetZipName(t / "s.zip");
  z.ReadArchive();
  ASSERT_GE(z.EndCentral().GetThisDiskNo(), 6u);
  std::set<std::string> onFifth, afterFifth;
  for (int i = 0; i < z.EntryCount(); ++i) {
    if (z.EntryName(i).empty()) continue;
    if (z.EntryDiskNumber(i) == 5) onFifth.insert(z.EntryFullName(i));
    if (z.EntryDiskNumber(i) > 5) afterFifth.insert(z.EntryFullName(i));
  }
  z.CloseArchive();
  ASSERT_FALSE(onFifth.empty());
  ASSERT_FALSE(afterFifth.empty());
  std::filesystem::remove(t / "s.z05");

  auto test = testutil::Run("cd " + d + " && " + Arczip("t s.zip"));
  EXPECT_EQ(test.status, 1) << test.out;
  auto extract = testutil::Run("cd " + d + " && " + Arczip("x s.zip -d out"));
  EXPECT_EQ(extract.status, 1) << extract.out;
  std::set<std::string> lost, extracted;
  std::istringstream in(test.out);
  for (std::string line; std::getline(in, line);) {
    const std::string bad = "BAD ", because = ": part s.z05 of the set is missing";
    if (line.rfind(bad, 0) == 0) {
      EXPECT_NE(line.find(because), std::string::npos) << line;
      lost.insert(line.substr(bad.size(), line.find(": ") - bad.size()));
    }
  }
  for (const auto& name : lost)
    EXPECT_NE(extract.out.find("lost (part s.z05 is missing): " + name), std::string::npos)
        << extract.out;
  for (int i = 10; i <= 29; ++i) {
    const std::string name = "src/r" + std::to_string(i) + ".bin";
    if (lost.count(name)) {
      EXPECT_FALSE(testutil::Exists(t / ("out/" + name))) << name;
      continue;
    }
    extracted.insert(name);
    EXPECT_EQ(testutil::ReadFile(t / ("out/" + name)), testutil::ReadFile(t / name)) << name;
  }
  // What lay on the lost part is lost; what starts after it is there.
  for (const auto& name : onFifth) EXPECT_TRUE(lost.count(name)) << name;
  for (const auto& name : afterFifth) EXPECT_TRUE(extracted.count(name)) << name;
  EXPECT_LE(lost.size(), onFifth.size() + 1);

  // Repaired into one archive: exactly the entries test and extract kept, each lost one named;
  // the new archive is never one of the set's parts.
  const std::string third = testutil::ReadFile(t / "s.z03");
  auto refused = testutil::Run("cd " + d + " && " + Arczip("repair s.zip s.z03"));
  EXPECT_EQ(refused.status, 2) << refused.out;
  EXPECT_NE(refused.out.find("is a part of the set being repaired"), std::string::npos)
      << refused.out;
  EXPECT_EQ(testutil::ReadFile(t / "s.z03"), third);
  auto files = [&](const std::string& archive) {
    std::string listing;
    Sh("unzip -Z1 " + Quote(t / archive), &listing);
    std::set<std::string> names;
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);)
      if (!line.empty() && line.back() != '/') names.insert(line);
    return names;
  };
  auto repair = testutil::Run("cd " + d + " && " + Arczip("repair s.zip fixed.zip"));
  EXPECT_EQ(repair.status, 1) << repair.out;
  for (const auto& name : lost)
    EXPECT_NE(repair.out.find("lost (part s.z05 is missing): " + name), std::string::npos)
        << repair.out;
  EXPECT_NE(repair.out.find("arczip: " + std::to_string(lost.size()) +
                            " entries were lost: their data is on a missing part"),
            std::string::npos)
      << repair.out;
  Sh("cd " + d + " && unzip -tq fixed.zip >/dev/null");
  EXPECT_EQ(files("fixed.zip"), extracted);

  // The last part gone too: its directory is lost, and the parts there are scanned in their two
  // runs. What is whole on them is salvaged, the entries before the gap among them.
  std::filesystem::remove(t / "s.zip");
  repair = testutil::Run("cd " + d + " && " + Arczip("repair s.zip scanned.zip"));
  EXPECT_EQ(repair.status, 1) << repair.out;
  EXPECT_NE(repair.out.find("arczip: the central directory was on s.zip, which is missing: the "
                            "entries were found by a scan of the parts present"),
            std::string::npos)
      << repair.out;
  Sh("cd " + d + " && unzip -tq scanned.zip >/dev/null");
  const std::set<std::string> scanned = files("scanned.zip");
  for (const auto& name : scanned) EXPECT_TRUE(extracted.count(name)) << name;
  for (const auto& name : extracted) {
    if (afterFifth.count(name)) continue;
    EXPECT_TRUE(scanned.count(name)) << name;
  }
  EXPECT_TRUE(std::any_of(afterFifth.begin(), afterFifth.end(),
                          [&](const std::string& n) { return scanned.count(n) > 0; }));
}

}  // namespace
