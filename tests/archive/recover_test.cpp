// The recovery scan of damaged archives: entries found from their local headers (cut
// directories, cut data, data descriptors, stubs in front, duplicate names), central records that
// survived merged in, and cancel during the search.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "archive/arcunzip.h"
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

}  // namespace
