// The recovery scan of damaged archives: entries found from their local headers (cut
// directories, cut data, data descriptors, stubs in front, duplicate names), central records that
// survived merged in, and cancel during the search. The repair that writes what was found into a
// new archive, in both of its forms.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "archive/arczip.h"
#include "archive/zipexceptions.h"
#include "testhost.h"
#include "testutil.h"
#include "zipbuilder.h"

using testutil::TempDir;

namespace {

BuildEntry Entry(const std::string& name, const std::string& data, uint16_t method = 8,
                 uint32_t mode = 0100600) {
  BuildEntry e;
  e.name = name;
  e.data = data;
  e.method = method;
  e.extAttr = mode << 16;
  e.dosDateTime = 0x5A8A6000 + static_cast<uint32_t>(name.size());
  return e;
}

std::string Text(int i) {
  std::string s;
  for (int k = 0; k < 300 + 50 * i; ++k) s += "line " + std::to_string(k * i) + "\n";
  return s;
}

struct Found {
  std::string name;
  uint32_t mode;
  uint32_t dosTime;
  std::string data;  // "<bad>" when the entry does not test good
};

// Reads bytes in assume-bad mode; every entry's name, mode, date and extracted content.
std::vector<Found> Scan(const std::string& bytes) {
  TArcUnZip z;
  z.DoProcessMessages = false;
  z.IncompleteZipMode = TIncompleteZipMode::izAssumeBad;
  z.Password = "secret";
  z.OpenArchiveStream(std::make_unique<TMemoryStream>(bytes.data(), bytes.size()));
  z.ReadArchive();
  EXPECT_TRUE(z.RecoveryMode());
  TempDir dir;
  z.SetDestDir(dir.path());
  z.RecreateDirs = true;
  z.DoAll = true;
  z.OverwriteMode = TUZOverwriteMode::Always;
  std::vector<Found> out;
  for (int i = 0; i < z.EntryCount(); ++i) {
    const auto& h = z.EntryHeader(i);
    out.push_back({z.EntryFullName(i), h.ExtFileAttrib >> 16, h.ModifDateTime, "<bad>"});
  }
  z.Extract();
  for (auto& f : out)
    if (testutil::Exists(dir / f.name)) f.data = testutil::ReadFile(dir / f.name);
  return out;
}

std::string CutDirectory(const std::string& bytes, size_t into) {
  return bytes.substr(0, bytes.find("PK\x01\x02") + into);
}

TEST(RecoveryScan, RebuildsTheEntriesOfDamagedArchives) {
  ZipBuilder six;
  for (int i = 0; i < 6; ++i) six.Add(Entry("dir/f" + std::to_string(i) + ".txt", Text(i)));
  const std::string intact = six.Build();

  ZipBuilder described;  // bit 3: the local headers state no sizes
  for (int i = 0; i < 4; ++i) {
    BuildEntry e = Entry("d" + std::to_string(i), Text(i), i % 2 ? 0 : 8);
    e.dataDescriptor = true;
    e.password = i == 3 ? "secret" : "";
    described.Add(e);
  }
  std::string descriptors = CutDirectory(described.Build(), 0);
  // The same without descriptor signatures (12-byte descriptors).
  std::string bare = descriptors;
  for (size_t at; (at = bare.find("PK\x07\x08")) != std::string::npos;) bare.erase(at, 4);

  ZipBuilder twice;  // a name repeated: the directory does not read, the scan keeps both
  twice.Add(Entry("a.txt", "first"));
  twice.Add(Entry("b", "other"));
  twice.Add(Entry("a.txt", "second"));
  twice.Add(Entry("a (2).txt", "third"));

  // An ELF image whose data holds a header-like signature, then an archive without its end.
  std::string elf(64, '\0');
  elf.replace(0, 7,
              "\x7f"
              "ELF\x02\x01\x01",
              7);
  std::string body = std::string("PK\x03\x04\x14\x00", 6) + std::string(20, '\0') + "\x01" +
                     std::string(3, '\0') + "x" + std::string(200, 'y');
  const uint64_t shoff = 64 + body.size();
  for (int b = 0; b < 8; ++b) elf[0x28 + b] = static_cast<char>(shoff >> (8 * b));
  elf[0x3A] = 64;  // one 64-byte section header
  elf[0x3C] = 1;
  elf += body + std::string(64, '\0');
  ZipBuilder sfx;
  sfx.prefix = elf;
  sfx.Add(Entry("in/sfx.txt", Text(2)));

  // Bytes before the archive with a signature that is no header (no name).
  ZipBuilder junk;
  junk.prefix = std::string("PK\x03\x04\x14\x00", 6) + std::string(40, '\0');
  junk.Add(Entry("j.txt", Text(3)));

  struct Case {
    const char* what;
    std::string bytes;
    std::vector<std::pair<std::string, std::string>> expected;  // name, content ("<bad>")
  };
  std::vector<std::pair<std::string, std::string>> all6;
  for (int i = 0; i < 6; ++i) all6.push_back({"dir/f" + std::to_string(i) + ".txt", Text(i)});
  std::vector<std::pair<std::string, std::string>> descriptorEntries;
  for (int i = 0; i < 4; ++i) descriptorEntries.push_back({"d" + std::to_string(i), Text(i)});
  const Case cases[] = {
      {"directory cut 100 bytes in", CutDirectory(intact, 100), all6},
      {"directory cut at its start", CutDirectory(intact, 0), all6},
      {"data descriptors with signature", descriptors, descriptorEntries},
      {"data descriptors without signature", bare, descriptorEntries},
      {"repeated name",
       twice.Build(),
       {{"a.txt", "first"}, {"b", "other"}, {"a (3).txt", "second"}, {"a (2).txt", "third"}}},
      {"elf stub", CutDirectory(sfx.Build(), 10), {{"in/sfx.txt", Text(2)}}},
      {"signature before the archive", CutDirectory(junk.Build(), 0), {{"j.txt", Text(3)}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<Found> found = Scan(c.bytes);
    ASSERT_EQ(found.size(), c.expected.size());
    for (size_t i = 0; i < found.size(); ++i) {
      EXPECT_EQ(found[i].name, c.expected[i].first);
      EXPECT_TRUE(found[i].data == c.expected[i].second) << found[i].name;
    }
  }

  // Modes: from the central records that survived, 0644 for the others; dates from the headers.
  std::vector<Found> cut = Scan(CutDirectory(intact, 100));
  ASSERT_EQ(cut.size(), 6u);
  EXPECT_EQ(cut[0].mode, 0100600u);
  EXPECT_EQ(cut[5].mode, 0100644u);
  for (const auto& f : cut) EXPECT_EQ(f.dosTime, 0x5A8A6000u + f.name.size());

  // Cut inside the data of the fourth entry: the three before it, and the cut one, which tests
  // bad.
  std::vector<Found> dataCut = Scan(intact.substr(0, intact.find("dir/f3.txt") + 30));
  ASSERT_EQ(dataCut.size(), 4u);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(dataCut[i].data == Text(i));
  EXPECT_EQ(dataCut[3].name, "dir/f3.txt");
  EXPECT_EQ(dataCut[3].data, "<bad>");
  // The same with the old directory and end record appended: the records do not read where the
  // end record says, and the scan's list (cut entry included) stands.
  const std::string cutPiece = intact.substr(0, intact.find("dir/f3.txt") + 30);
  for (const std::string& tail :
       {intact.substr(intact.find("PK\x01\x02")), intact.substr(intact.rfind("PK\x05\x06"))}) {
    std::vector<Found> again = Scan(cutPiece + tail);
    ASSERT_EQ(again.size(), 4u);
    EXPECT_EQ(again[3].data, "<bad>");
  }
}

TEST(RecoveryScan, FindsNothingOrStopsOnCancel) {
  TArcUnZip z;
  z.IncompleteZipMode = TIncompleteZipMode::izAssumeBad;
  const std::string noise(3 << 20, 'x');
  z.OpenArchiveStream(std::make_unique<TMemoryStream>(noise.data(), noise.size()));
  z.DoProcessMessages = false;
  EXPECT_THROW(z.ReadArchive(), EBadZipFile);

  ScriptedHost host;
  int calls = 0;
  host.onProcessMessages = [&] {
    if (++calls == 20) z.CancelOperation();
  };
  z.Host = &host;
  z.DoProcessMessages = true;
  z.OpenArchiveStream(std::make_unique<TMemoryStream>(noise.data(), noise.size()));
  try {
    z.ReadArchive();
    ADD_FAILURE() << "no cancel";
  } catch (const EUserCanceled& e) {
    EXPECT_STREQ(e.what(), "User Aborted Operation");
  }
  // Messages are dispatched every 10240 bytes of the search.
  EXPECT_EQ(calls, 20);
  z.OpenArchiveStream(std::make_unique<TMemoryStream>(noise.data(), noise.size()));
  calls = 0;
  host.onProcessMessages = [&] { ++calls; };
  EXPECT_THROW(z.ReadArchive(), EBadZipFile);
  EXPECT_NEAR(calls, static_cast<int>(noise.size() / 10240), 5);
}

// Name and content ("<bad>" when it does not extract) of every entry of an archive that must read
// as written: no recovery scan.
std::map<std::string, std::string> ReadBack(const std::string& path) {
  TArcUnZip z;
  z.DoProcessMessages = false;
  z.IncompleteZipMode = TIncompleteZipMode::izAssumeNotAZip;
  z.SetZipName(path);
  z.ReadArchive();
  EXPECT_FALSE(z.RecoveryMode()) << path;
  TempDir dir;
  z.SetDestDir(dir.path());
  z.RecreateDirs = true;
  z.DoAll = true;
  std::map<std::string, std::string> out;
  z.Extract();
  for (int i = 0; i < z.EntryCount(); ++i) {
    const std::string file = dir / z.EntryFullName(i);
    out[z.EntryFullName(i)] = testutil::Exists(file) ? testutil::ReadFile(file) : "<bad>";
  }
  return out;
}

TEST(RepairArchive, WritesWhatIsWholeIntoTheNewArchiveAndLeavesTheDamagedOneAlone) {
  ZipBuilder six;
  for (int i = 0; i < 6; ++i) six.Add(Entry("dir/f" + std::to_string(i) + ".txt", Text(i)));
  const std::string intact = six.Build();
  ZipBuilder twice;
  twice.Add(Entry("a.txt", "first"));
  twice.Add(Entry("b", "other"));
  twice.Add(Entry("a.txt", "second"));
  ZipBuilder damagedData;  // whole, but one entry's data does not give its CRC
  damagedData.Add(Entry("good.txt", Text(1), 0));
  BuildEntry wrong = Entry("wrong.txt", Text(2), 0);
  wrong.crcOverride = 0x12345678;
  damagedData.Add(wrong);

  std::map<std::string, std::string> all6;
  for (int i = 0; i < 6; ++i) all6["dir/f" + std::to_string(i) + ".txt"] = Text(i);
  std::map<std::string, std::string> first3(all6.begin(), std::next(all6.begin(), 3));
  struct Case {
    const char* what;
    std::string bytes;
    bool assumeBad;  // the form without a damaged name, chosen in the engine's dialog
    int read;
    std::map<std::string, std::string> written;
  };
  const Case cases[] = {
      {"directory cut", CutDirectory(intact, 100), false, 6, all6},
      {"directory cut, tested", CutDirectory(intact, 100), true, 6, all6},
      // The entry cut short is read but not written; the others are salvaged.
      {"data cut", intact.substr(0, intact.find("dir/f3.txt") + 30), false, 4, first3},
      {"data cut, tested", intact.substr(0, intact.find("dir/f3.txt") + 30), true, 4, first3},
      // Both contents of a repeated name are kept, the later one under a numbered name.
      {"repeated name",
       twice.Build(),
       false,
       3,
       {{"a.txt", "first"}, {"b", "other"}, {"a (2).txt", "second"}}},
      {"intact", intact, false, 6, all6},
      // Either way every entry is tested: the one whose data does not give its CRC is left out.
      {"bad CRC, named", damagedData.Build(), false, 2, {{"good.txt", Text(1)}}},
      {"bad CRC, chosen", damagedData.Build(), true, 2, {{"good.txt", Text(1)}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string bad = dir / "week.zip", fixed = dir / "week_fixed.zip";
    testutil::WriteFile(bad, c.bytes);
    ScriptedHost host;
    TArcZip z;
    z.Host = &host;
    z.DoProcessMessages = false;
    z.IncompleteZipMode = TIncompleteZipMode::izAssumeBad;
    z.TempPath = dir / "tmp";
    std::filesystem::create_directory(z.TempPath);
    z.FilesList = {"kept.txt"};
    int written;
    if (c.assumeBad) {
      // The archive and the new name are chosen in the engine's dialogs.
      z.SetZipName(dir / "current/open.zip");
      host.files = {bad, fixed};
      written = z.RepairArchive("", "");
      ASSERT_EQ(host.dialogs.size(), 2u);
      EXPECT_EQ(host.dialogs[0].Title, "Open a Zip File");
      EXPECT_EQ(host.dialogs[0].Filter,
                "Zip Files (*.ZIP)|*.zip|SFX Files (*.EXE)|*.exe|Jar Files (*.JAR)|*.jar|All "
                "Files (*.*)|*.*");
      EXPECT_EQ(host.dialogs[0].Folder, dir / "current");
      EXPECT_EQ(host.dialogs[1].Title, "Select a new name for the fixed file.");
      EXPECT_EQ(host.dialogs[1].Filter, "Zip Files (*.ZIP)");
      EXPECT_EQ(host.dialogs[1].Folder, dir.path());
    } else {
      written = z.RepairArchive(bad, fixed);
      EXPECT_TRUE(host.dialogs.empty());
    }
    EXPECT_EQ(written, static_cast<int>(c.written.size()));
    EXPECT_EQ(z.RepairEntriesRead(), c.read);
    EXPECT_EQ(z.ZipName(), fixed);
    EXPECT_EQ(z.FilesList, std::vector<std::string>{"kept.txt"});
    EXPECT_EQ(testutil::ReadFile(bad), c.bytes);
    EXPECT_TRUE(std::filesystem::is_empty(z.TempPath));
    EXPECT_TRUE(ReadBack(fixed) == c.written);
  }
}

TEST(RepairArchive, RefusesToReplaceTheDamagedFileAndStopsOnCancel) {
  ZipBuilder six;
  for (int i = 0; i < 6; ++i) six.Add(Entry("f" + std::to_string(i), Text(i)));
  const std::string bytes = CutDirectory(six.Build(), 10);
  TempDir dir;
  const std::string bad = dir / "cut.zip", fixed = dir / "fixed.zip";
  testutil::WriteFile(bad, bytes);
  ASSERT_EQ(::symlink(bad.c_str(), (dir / "link.zip").c_str()), 0);
  ScriptedHost host;
  TArcZip z;
  z.Host = &host;
  z.IncompleteZipMode = TIncompleteZipMode::izAssumeBad;
  z.TempPath = dir / "tmp";
  std::filesystem::create_directory(z.TempPath);

  // The new name is the damaged file, or a link to it.
  for (const std::string& target : {bad, dir / "link.zip"}) {
    try {
      z.RepairArchive(bad, target);
      ADD_FAILURE() << "no refusal";
    } catch (const EArcZipException& e) {
      EXPECT_EQ(std::string(e.what()), "Error: Could not copy from " + bad + " -> " + target);
    }
  }
  EXPECT_EQ(testutil::ReadFile(bad), bytes);

  // A dialog cancelled: nothing read or written.
  host.files = {""};
  EXPECT_EQ(z.RepairArchive("", fixed), 0);
  host.files = {""};
  EXPECT_EQ(z.RepairArchive(bad, ""), 0);
  EXPECT_FALSE(testutil::Exists(fixed));

  // Cancel during the rewrite: no new archive, no temporary file.
  int updates = 0;
  z.OnUpdate = [&](TZipSender, TUpdateAction, int) {
    if (++updates == 3) z.CancelOperation();
  };
  try {
    z.RepairArchive(bad, fixed);
    ADD_FAILURE() << "no cancel";
  } catch (const EUserCanceled& e) {
    EXPECT_STREQ(e.what(), "User Aborted Operation");
  }
  EXPECT_EQ(updates, 3);
  EXPECT_FALSE(testutil::Exists(fixed));
  EXPECT_TRUE(std::filesystem::is_empty(z.TempPath));
  EXPECT_EQ(testutil::ReadFile(bad), bytes);
  // Without the cancel the same repair writes all six.
  z.OnUpdate = nullptr;
  EXPECT_EQ(z.RepairArchive(bad, fixed), 6);
}

}  // namespace
