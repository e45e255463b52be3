// The ISO 9660/Joliet image builder: the layout and metadata of small images sector by sector,
// names, additions that leave files out, and generated trees read back by peer tools (isoinfo,
// xorriso, 7zz, bsdtar, pycdlib).
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "disc/discburner.h"
#include "disc/isonames.h"
#include "disc/sessionstream.h"
#include "platform/archiveattr.h"
#include "testutil.h"

using testutil::Quote;
using testutil::TempDir;

namespace {

constexpr size_t kSector = 2048;

struct TMessage {
  std::string Text;
  uint8_t Kind;
};

// A burner whose debug messages are kept.
struct TRecordingBurner : TDiscBurner {
  std::vector<TMessage> Messages;
  TRecordingBurner() {
    OnDebugMessage = [this](TSCSIDevice*, const std::string& m, uint8_t k) {
      Messages.push_back({m, k});
    };
  }
  bool Said(const std::string& text, uint8_t kind) const {
    for (const auto& m : Messages)
      if (m.Text == text && m.Kind == kind) return true;
    return false;
  }
};

std::string Bytes(const std::string& image, size_t sector, size_t offset, size_t n) {
  return image.substr(sector * kSector + offset, n);
}

std::string Hex(const std::string& s) {
  std::string out;
  char b[4];
  for (unsigned char c : s) {
    std::snprintf(b, sizeof b, "%02x", c);
    out += b;
  }
  return out;
}

void SetMtime(const std::string& path, time_t t) {
  const struct timeval tv[2] = {{t, 0}, {t, 0}};
  ASSERT_EQ(::utimes(path.c_str(), tv), 0) << path;
}

const std::string kArcdisc = ARCDISC_PATH;
std::string IsoCheck() {
  return std::string(std::getenv("ARCAVO_SOURCE_DIR")) + "/tests/disc/isocheck.py";
}

bool HavePeers() {
  for (const char* t : {"isoinfo", "xorriso", "osirrox", "7zz", "bsdtar"})
    if (!testutil::HaveTool(t)) return false;
  return testutil::Run("/usr/bin/python3 -c 'import pycdlib' 2>&1").status == 0;
}

TEST(IsoImage, SmallestImageSectorBySector) {
  TempDir dir;
  const std::string src = dir / "src";
  std::filesystem::create_directory(src);
  testutil::WriteFile(src + "/README", "hello\n");
  testutil::WriteFile(src + "/EMPTY.DAT", "");
  TRecordingBurner burner;
  ASSERT_EQ(burner.AddDir("/", src, false, false, true), 1);
  ASSERT_TRUE(burner.PrepareImage());
  EXPECT_EQ(burner.ImageEnd(), 151);
  EXPECT_EQ(burner.ImageSize(), 300u);
  burner.WritePostGap = false;
  EXPECT_EQ(burner.ImageSize(), 151u);
  burner.WritePostGap = true;
  burner.WriteImageMetadata();
  EXPECT_EQ(burner.MetaStream().size(), 150 * kSector);
  std::string error;
  ASSERT_TRUE(WriteSessionFile(burner, dir / "small.iso", error)) << error;
  const std::string image = testutil::ReadFile(dir / "small.iso");
  ASSERT_EQ(image.size(), 300 * kSector);

  const struct {
    size_t Sector, Offset;
    std::string Want;  // hex
  } rows[] = {
      {16, 0, "01434430303101"},          // primary descriptor
      {17, 0, "02434430303101"},          // Joliet descriptor
      {18, 0, "ff434430303101"},          // terminator
      {16, 80, "9700000000000097"},       // volume space size 151
      {16, 88, "000000"},                 // no escape sequence in the primary descriptor
      {17, 88, "252f40"},                 // Joliet escape sequence
      {16, 132, "0a0000000000000a"},      // ISO path table size
      {16, 140, "13000000"},              // L table at 19
      {16, 148, "00000014"},              // M table at 20
      {17, 140, "15000000"},              // Joliet L table at 21
      {17, 148, "00000016"},              // Joliet M table at 22
      {16, 156 + 2, "1700000000000017"},  // ISO root at 23
      {17, 156 + 2, "1900000000000019"},  // Joliet root at 25
      {23, 34, "53500701beef00"},         // SUSP "SP" in the root's "."
      {24, 0, "4552b9010a495e01"},        // Rock Ridge "ER" in the continuation area at 24
      {16, 813, "3138393931323330303030303030303000"},  // creation date of day 0
      {16, 847, "3030303030303030303030303030303000"},
      {19, 0, "01001700000001000000"},  // ISO L path table: the root
      {20, 0, "01000000001700010000"},  // ISO M path table
      {21, 0, "01001900000001000000"},
      {22, 0, "01000000001900010000"},
      {150, 0, Hex("hello\n") + "0000"},
  };
  for (const auto& r : rows)
    EXPECT_EQ(Hex(Bytes(image, r.Sector, r.Offset, r.Want.size() / 2)), r.Want)
        << "sector " << r.Sector << " offset " << r.Offset;
  EXPECT_EQ(image.find_first_not_of('\0', 26 * kSector), 150 * kSector) << "26-149 not zero";
  EXPECT_EQ(image.find_first_not_of('\0', 150 * kSector + 6), std::string::npos);
  // The image head: system area and descriptors, then FFh up to 65 537 bytes.
  const auto& head = burner.ImageHead();
  ASSERT_EQ(head.size(), 65537u);
  EXPECT_EQ(std::string(head.begin(), head.begin() + 19 * kSector), image.substr(0, 19 * kSector));
  EXPECT_EQ(head[19 * kSector], 0xFF);
  EXPECT_EQ(head.back(), 0xFF);

  if (!testutil::HaveTool("isoinfo")) GTEST_SKIP() << "isoinfo missing";
  const auto listing = testutil::Run("isoinfo -l -i " + Quote(dir / "small.iso"));
  EXPECT_NE(listing.out.find("   6 "), std::string::npos);
  EXPECT_NE(listing.out.find("[    150 00]  README.;1"), std::string::npos) << listing.out;
  EXPECT_NE(listing.out.find("0 Dec"), std::string::npos);
  EXPECT_NE(listing.out.find("[      0 00]  EMPTY.DAT;1"), std::string::npos) << listing.out;
  const auto joliet = testutil::Run("isoinfo -J -f -i " + Quote(dir / "small.iso"));
  EXPECT_EQ(joliet.out, "/EMPTY.DAT;1\n/README;1\n");
}

TEST(IsoImage, PathTableOfExactly4096BytesTakesTwoSectors) {
  // 10 (root) + 254 x (8 + 8) + (8 + 13 + 1) = 4096 bytes.
  TDiscBurner burner;
  char name[16];
  for (int i = 0; i < 254; ++i) {
    std::snprintf(name, sizeof name, "/D%07d", i);
    ASSERT_NE(burner.MakeDir(name), nullptr);
  }
  ASSERT_NE(burner.MakeDir("/ABCDEFGHIJKLM"), nullptr);
  // Paths are taken lexically: no directory named "." or "..", nothing above the root.
  EXPECT_EQ(burner.MakeDir("/../ABCDEFGHIJKLM/./..//D0000000/"), burner.FindDir("D0000000"));
  EXPECT_EQ(burner.DirCount(), 255u);
  ASSERT_TRUE(burner.PrepareImage());
  ASSERT_EQ(burner.IsoPathTableSize(), 4096u);
  burner.WriteImageMetadata();
  const auto& m = burner.MetaStream();
  const std::string meta(m.begin(), m.end());
  EXPECT_EQ(Hex(Bytes(meta, 16, 140, 4)), "13000000");
  EXPECT_EQ(Hex(Bytes(meta, 16, 148, 4)), "00000015");  // M table right after two sectors
  EXPECT_EQ(Hex(Bytes(meta, 17, 140, 4)), "17000000");  // Joliet L table at 23
  EXPECT_EQ(Hex(Bytes(meta, 21, 0, 2)), "0100");        // M table starts with the root record
  EXPECT_EQ(Bytes(meta, 20, 2048 - 8, 8), "D0000253");  // the last record, sorted by name
}

TEST(IsoImage, NamesAreValidUniqueAndFitTheirRecords) {
  const std::string l150a = std::string(146, 'x') + ".txt";
  const struct {
    const char* Kind;  // "f" file from disk, "d" folder from disk, "m" folder made from a path
    std::string Name, Iso;
    std::u16string Joliet;
  } rows[] = {
      {"f", "readme.txt", "README.TXT", u"readme.txt"},
      {"f", "Readme.txt", "README~1.TXT", u"Readme.txt"},  // names differing in case
      {"f", "README.", "README.", u"README."},
      {"f", "a long name.html", "ALONGN~1.HTM", u"a long name.html"},
      {"f", "a:b?c*;d", "ABCD~1.", u"a_b_c__d"},
      {"f", "a/b\\c*d;e", "ABCDE~1.", u"a_b_c_d_e"},
      {"f", "a_b_c__d", "A_B_C__D", u"a_b_c__d~1"},  // Joliet collision after replacement
      {"f", "caf\xc3\xa9.txt", "CAF~1.TXT", u"caf\u00e9.txt"},
      {"f", "\xe6\x97\xa5\xe6\x9c\xac.txt", "~1.TXT", u"\u65e5\u672c.txt"},
      {"f", "smile\xf0\x9f\x98\x80.txt", "SMILE~1.TXT", u"smile_.txt"},
      {"f", "bad\xff\xfe.txt", "BAD~1.TXT", u"bad__.txt"},
      {"f", "ctl\x01x", "CTLX~1.", u"ctl_x"},
      {"f", std::string(108, 'n'), "NNNNNN~1.", std::u16string(103, u'n')},
      {"f", std::string(109, 'n'), "NNNNNN~2.", std::u16string(101, u'n') + u"~1"},
      {"f", l150a, "XXXXXX~1.TXT", std::u16string(99, u'x') + u".txt"},
      {"f", l150a + "x", "XXXXXX~2.TXT", std::u16string(98, u'x') + u".txtx"},
      {"d", std::string(111, 'd'), "DDDDDD~1", std::u16string(103, u'd')},
      {"d", "Docs", "DOCS", u"Docs"},
      {"d", "docs", "DOCS~1", u"docs"},
      {"m", "Documents-Old-A", "DOCUMENTS-OLD", u"Documents-Old-A"},
      {"m", "Documents-Old-B", "DOCUMENTS-O~1", u"Documents-Old-B"},
      {"m", "caf\xc3\xa9 {x}", "CAF___X_", u"caf\u00e9 {x}"},
  };
  TNameScope scope;
  for (const auto& r : rows) {
    const bool file = r.Kind[0] == 'f';
    const std::string iso =
        r.Kind[0] == 'm' ? scope.ShortName13(r.Name) : scope.ShortName83(r.Name, file);
    // Cut to 103 characters, the 109-character name meets the 108-character one: "~1".
    const std::u16string joliet = scope.JolietName(r.Name, file);
    scope.Take(iso, joliet);
    EXPECT_EQ(joliet, r.Joliet) << r.Name;
    EXPECT_EQ(iso, r.Iso) << r.Name;
    EXPECT_LE(DirRecordLength(2 * joliet.size() + (file ? 4 : 0)), 255u) << r.Name;
  }
  // A second long name sharing the first 99 characters: unique with "~N", extension kept.
  EXPECT_EQ(scope.JolietName(std::string(146, 'x') + ".txt", true),
            std::u16string(97, u'x') + u"~1.txt");
}

TEST(IsoImage, AdditionsLeaveOutOnlyWhatCannotBeRecorded) {
  TempDir dir;
  const std::string src = dir / "src";
  for (const char* d : {"a", "b", "c/empty", "d"})
    std::filesystem::create_directories(src + "/" + d);
  testutil::WriteFile(src + "/a/a1.txt", std::string(5000, 'a'));
  // A sparse 4 GiB file ends folder "a": it alone is left out, "b" and the rest still come.
  testutil::WriteFile(src + "/a/zz-big", "");
  ASSERT_EQ(::truncate((src + "/a/zz-big").c_str(), 4LL << 30), 0);
  testutil::WriteFile(src + "/b/b1.txt", "b1");
  ASSERT_EQ(::mkfifo((src + "/d/fifo").c_str(), 0600), 0);
  std::filesystem::create_directory_symlink(src + "/b", src + "/d/link-to-b");
  std::filesystem::create_symlink(src + "/b/b1.txt", src + "/d/link-to-b1");

  TRecordingBurner burner;
  ASSERT_EQ(burner.AddDir("/", src, false, false, true), 1);
  const std::string big = src + "/a/zz-big";
  EXPECT_TRUE(burner.Said("FILE TOO LARGE FOR ISO 9660: " + big, dmCapacity));
  ASSERT_EQ(burner.SkippedFiles().size(), 1u);
  EXPECT_EQ(burner.SkippedFiles()[0].Path, big);
  EXPECT_NE(burner.FindDir("/a"), nullptr);
  ASSERT_NE(burner.FindDir("/b"), nullptr);
  EXPECT_EQ(burner.FindDir("/b")->FirstChild->LongName, "b1.txt");
  EXPECT_EQ(burner.FindDir("/c"), nullptr) << "folders without files stay off the disc";
  ASSERT_NE(burner.FindDir("/d"), nullptr);  // the link to a file only, no FIFO, link not followed
  EXPECT_EQ(burner.FindDir("/d")->FirstChild->LongName, "link-to-b1.");
  EXPECT_EQ(burner.FindDir("/d")->FirstChild->Next, nullptr);
  EXPECT_EQ(burner.FileCount(), 3u);
  EXPECT_EQ(burner.DataBytes(), 5 * 2048);
  EXPECT_EQ(burner.AddFile("/", big, false), 0);
  EXPECT_EQ(burner.AddFile("/", src + "/none*", false), 255);
  EXPECT_EQ(burner.AddFile("/nowhere", src + "/b/b1.txt", false), 0);
  EXPECT_TRUE(burner.Said("INVALID DESTINATION PATH", dmPath));
  // The same name again: left out without ReplaceFile, taken in place with it.
  EXPECT_EQ(burner.AddFile("/b", src + "/b/b1.txt", false), 0);
  burner.ReplaceFile = true;
  EXPECT_EQ(burner.AddFile("/b", src + "/b/b1.txt", false), 1);
  EXPECT_EQ(burner.FileCount(), 3u);

  // A file that shrinks after it was added fails the image with its path; the previous output
  // stays as it was and no temporary is left beside it.
  const std::string out = dir / "out/img.iso";
  std::filesystem::create_directory(dir / "out");
  testutil::WriteFile(out, "previous");
  ASSERT_EQ(::truncate((src + "/a/a1.txt").c_str(), 10), 0);
  std::string error;
  EXPECT_FALSE(WriteSessionFile(burner, out, error));
  EXPECT_EQ(error, "FILE IS SHORTER THAN WHEN IT WAS ADDED: " + src + "/a/a1.txt");
  EXPECT_EQ(testutil::ReadFile(out), "previous");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "out"), {}), 1);
  std::filesystem::remove(src + "/a/a1.txt");
  EXPECT_FALSE(WriteSessionFile(burner, out, error));
  EXPECT_EQ(error, "FILE NOT FOUND: " + src + "/a/a1.txt");

  // The command line refuses the whole image when anything was left out.
  const auto cli = testutil::Run(Quote(kArcdisc) + " image -o " + Quote(dir / "cli.iso") + " " +
                                 Quote(src + "/a") + " 2>&1");
  EXPECT_EQ(cli.status, 1);
  EXPECT_NE(cli.out.find(big + ": FILE TOO LARGE FOR ISO 9660"), std::string::npos) << cli.out;
  EXPECT_FALSE(testutil::Exists(dir / "cli.iso"));

  // ArchiveOnly passes over a file whose archive bit is clear.
  std::filesystem::create_directory(dir / "e");
  testutil::WriteFile(dir / "e/saved", "1");
  testutil::WriteFile(dir / "e/changed", "2");
  TArchiveAttributes attributes(TArchiveAttributes::TXattrUse::Refused, dir / "archived.state");
  struct stat st;
  ASSERT_EQ(::stat((dir / "e/saved").c_str(), &st), 0);
  attributes.Clear(dir / "e/saved", TFileStamp::Of(st));
  TDiscBurner changedOnly;
  changedOnly.ArchiveAttributes = &attributes;
  ASSERT_EQ(changedOnly.AddDir("/", dir / "e", true, false, true), 1);
  ASSERT_EQ(changedOnly.FileCount(), 1u);
  EXPECT_EQ(changedOnly.Entries()[0]->LongName, "changed.");
  EXPECT_EQ(changedOnly.Entries()[0]->ArchiveOnly, 1);

  // Capacities: the 65 536th file and the fourth directory.
  const std::string many = dir / "many";
  std::filesystem::create_directory(many);
  char name[32];
  for (int i = 0; i <= 65535; ++i) {
    std::snprintf(name, sizeof name, "/f%05d", i);
    const int fd = ::open((many + name).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ::close(fd);
  }
  burner.Messages.clear();
  burner.ClearImage(65535, 3);
  EXPECT_EQ(burner.AddDir("/", many, false, false, true), 0);
  EXPECT_EQ(burner.FileCount(), 65535u);
  EXPECT_TRUE(burner.Said("MAXIMUM FILES CAN BE 65535", dmCapacity));
  EXPECT_NE(burner.MakeDir("/x/y"), nullptr);
  EXPECT_EQ(burner.MakeDir("/x/z"), nullptr);
  EXPECT_TRUE(burner.Said(">>> MAXIMUM DIRECTORIES CAN BE 3", dmCapacity));
}

// A generated tree of awkward names, read back by every peer tool.
TEST(IsoImage, GeneratedTreeReadByPeerTools) {
  if (!HavePeers()) GTEST_SKIP() << "isoinfo, xorriso, 7zz, bsdtar or pycdlib missing";
  TempDir dir;
  const std::string main = dir / "main";
  std::mt19937 rng(30);
  auto file = [&](const std::string& rel, size_t size) {
    const std::string path = main + "/" + rel;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::string data(size, '\0');
    for (auto& c : data) c = static_cast<char>(rng());
    testutil::WriteFile(path, data);
  };
  const std::vector<std::string> names = {"my file.txt",
                                          " leading space.txt",
                                          "caf\xc3\xa9.txt",
                                          "na\xc3\xafve r\xc3\xa9sum\xc3\xa9.doc",
                                          "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e.txt",
                                          "smile\xf0\x9f\x98\x80.txt",
                                          "a:b?c*;d",
                                          "a_b_c__d",
                                          "back\\slash",
                                          "Case.txt",
                                          "case.txt",
                                          "CASE.TXT",
                                          ".hidden",
                                          "README",
                                          "empty.bin",
                                          std::string(108, 'm'),
                                          std::string(109, 'n'),
                                          std::string(146, 'x') + ".txt",
                                          std::string(146, 'x') + ".dat",
                                          std::string(140, 'x') + "-other.txt",
                                          "ctl\x01name.txt",
                                          "bad\xff\xfename.txt",
                                          "semi;colon.txt",
                                          "percent%&'()-@^_`{}~.txt"};
  for (size_t i = 0; i < names.size(); ++i) file(names[i], names[i] == "empty.bin" ? 0 : i * 700);
  for (int i = 0; i < 160; ++i) {
    char n[64];
    std::snprintf(n, sizeof n, "folder %d/document-%03d.txt", i % 7, i);
    file(n, static_cast<size_t>(rng() % 9000));
  }
  file(".config/settings.ini", 300);
  file("\xe4\xb8\xad\xe6\x96\x87\xe7\x9b\xae\xe5\xbd\x95/\xe6\x96\x87\xe4\xbb\xb6.txt", 2049);
  file(std::string(111, 'D') + "/inside.txt", 4096);
  file("l1/l2/l3/l4/l5/l6/l7/l8/l9/deep.txt", 123);
  file("l1/l2/l3/l4/l5/l6/l7/l8/l9/empty", 0);
  std::filesystem::create_directories(main + "/empty folder/also empty");
  std::filesystem::create_symlink(main + "/gone", main + "/nowhere");
  file("Documents-Old-A/a.txt", 10);
  file("Documents-Old-B/b.txt", 20);

  const std::string img = dir / "tree.iso", list = dir / "list.txt", told = dir / "told.txt";
  // The two 13-character twins go in by their paths, the rest as contents of "main".
  const auto made = testutil::Run(Quote(kArcdisc) + " image --list -o " + Quote(img) +
                                  " --save-path " + Quote(main + "/Documents-Old-A") + " " +
                                  Quote(main + "/Documents-Old-B") + " > " + Quote(list) + " && " +
                                  Quote(kArcdisc) + " image --list -o " + Quote(img + "2") + " " +
                                  Quote(main) + " > " + Quote(list) + "2 2> " + Quote(told));
  ASSERT_EQ(made.status, 0) << testutil::ReadFile(told);
  EXPECT_NE(testutil::ReadFile(list).find("/DOCUMENTS-O~1/B.TXT;1"), std::string::npos);
  // Every name recorded otherwise is told, and why; so is the link that points nowhere.
  const std::string notes = testutil::ReadFile(told);
  EXPECT_NE(notes.find(main + "/" + std::string(108, 'm') +
                       ": NAME TOO LONG: RECORDED ON THE DISC AS " + std::string(103, 'm')),
            std::string::npos)
      << notes;
  EXPECT_NE(notes.find(main + "/a:b?c*;d: RECORDED ON THE DISC AS a_b_c__d~1"), std::string::npos)
      << notes;
  EXPECT_NE(notes.find(main + "/nowhere: LINK TO NOTHING: LEFT OUT"), std::string::npos) << notes;
  for (const auto& [image, listing] : {std::pair{img, list}, std::pair{img + "2", list + "2"}}) {
    std::filesystem::create_directory(dir / "x");
    const auto check =
        testutil::Run("/usr/bin/python3 " + Quote(IsoCheck()) + " tree " + Quote(image) + " " +
                      Quote(listing) + " " + Quote(dir / "x") + " 2>&1");
    EXPECT_EQ(check.status, 0) << check.out;
    std::filesystem::remove_all(dir / "x");
  }
  const std::string listed = testutil::ReadFile(list + "2");
  EXPECT_GE(std::count(listed.begin(), listed.end(), '\n'), 190);
}

TEST(IsoImage, RecordingDatesCarryTheOffsetOfTheirInstant) {
  if (!HavePeers()) GTEST_SKIP() << "pycdlib missing";
  TempDir dir;
  std::filesystem::create_directory(dir / "src");
  const time_t winter = 1704112496, summer = 1720000000;  // 2024-01-01, 2024-07-03 (UTC)
  testutil::WriteFile(dir / "src/winter.txt", "w");
  testutil::WriteFile(dir / "src/summer.txt", "s");
  SetMtime(dir / "src/winter.txt", winter);
  SetMtime(dir / "src/summer.txt", summer);
  const auto made = testutil::Run("TZ=Europe/Berlin " + Quote(kArcdisc) + " image -o " +
                                  Quote(dir / "d.iso") + " " + Quote(dir / "src") + " 2>&1");
  ASSERT_EQ(made.status, 0) << made.out;
  const auto check = testutil::Run("/usr/bin/python3 " + Quote(IsoCheck()) + " dates " +
                                   Quote(dir / "d.iso") + " /winter.txt " + std::to_string(winter) +
                                   " /summer.txt " + std::to_string(summer) + " 2>&1");
  EXPECT_EQ(check.status, 0) << check.out;
}

}  // namespace

namespace {

// The Rock Ridge tree read by peers, one image per row: the source tree comes back exactly
// (names up to 255 bytes, modes, modification times to the second, links) in bsdtar, xorriso,
// isoinfo -R and pycdlib, and bsdtar restores it; the ISO tree stays within eight levels (the
// 12-level folder relocated) and Joliet as before. Made under a zone with daylight saving.
TEST(IsoImage, RockRidgeTreeReadByPeers) {
  if (!HavePeers()) GTEST_SKIP() << "isoinfo, xorriso, 7zz, bsdtar or pycdlib missing";
  const struct {
    const char* Name;
    const char* Options;
    bool Links;  // links stored as links (else followed, the dangling one left out)
  } rows[] = {
      {"links stored as links", "--links", true},
      {"links followed", "", false},
      {"no Joliet", "--links --no-joliet", true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Name);
    TempDir dir;
    const std::string src = dir / "src";
    std::string deep = src;
    for (int i = 1; i <= 12; ++i) deep += "/level" + std::to_string(i);
    std::filesystem::create_directories(deep);
    std::filesystem::create_directories(src + "/Mixed Case Folder");
    const std::string longName = std::string(196, 'n') + ".txt";
    const struct {
      std::string Path;
      mode_t Mode;
    } files[] = {{longName, 0644},
                 {"run.sh", 0755},
                 {"Mixed Case Folder/secret.key", 0600},
                 {"Mixed Case Folder/read-only.txt", 0444},
                 {deep.substr(src.size() + 1) + "/bottom.txt", 0644}};
    time_t t = 1700000003;
    for (const auto& f : files) {
      testutil::WriteFile(src + "/" + f.Path, "content of " + f.Path + "\n");
      ASSERT_EQ(::chmod((src + "/" + f.Path).c_str(), f.Mode), 0);
      SetMtime(src + "/" + f.Path, t += 3601);
    }
    std::filesystem::create_symlink("run.sh", src + "/link-to-run");
    std::filesystem::create_symlink("missing/target", src + "/dangling");
    const struct timespec times[2] = {{1710000001, 0}, {1710000001, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (src + "/link-to-run").c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    ASSERT_EQ(::utimensat(AT_FDCWD, (src + "/dangling").c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    for (std::string d = deep; d.size() > src.size(); d = d.substr(0, d.rfind('/')))
      SetMtime(d, t += 7);
    SetMtime(src + "/Mixed Case Folder", t += 7);

    const std::string img = dir / "rr.iso", list = dir / "list.txt", told = dir / "told.txt";
    const auto made = testutil::Run("TZ=America/New_York " + Quote(kArcdisc) + " image --list " +
                                    row.Options + " -o " + Quote(img) + " " + Quote(src) + " > " +
                                    Quote(list) + " 2> " + Quote(told));
    ASSERT_EQ(made.status, 0) << testutil::ReadFile(told);
    const std::string notes = testutil::ReadFile(told);
    const bool joliet = std::string(row.Options).find("--no-joliet") == std::string::npos;
    EXPECT_EQ(notes.find(src + "/link-to-run: SYMBOLIC LINK: IN THE ROCK RIDGE TREE ONLY") !=
                  std::string::npos,
              row.Links && joliet)
        << notes;
    // What the readers must see: the source itself, or with links followed the link as a copy
    // of its file and the dangling one left out.
    std::string expected = src;
    if (!row.Links) {
      expected = dir / "expected";
      ASSERT_EQ(testutil::Run("cp -a " + Quote(src) + " " + Quote(expected) + " && rm " +
                              Quote(expected + "/dangling") + " && cp -p " +
                              Quote(src + "/run.sh") + " " + Quote(dir / "copy") + " && mv -f " +
                              Quote(dir / "copy") + " " + Quote(expected + "/link-to-run"))
                    .status,
                0);
    }
    std::filesystem::create_directory(dir / "x");
    std::filesystem::create_directory(dir / "y");
    if (joliet) {
      const auto tree =
          testutil::Run("/usr/bin/python3 " + Quote(IsoCheck()) + " tree " + Quote(img) + " " +
                        Quote(list) + " " + Quote(dir / "x") + " 2>&1");
      EXPECT_EQ(tree.status, 0) << tree.out;
    }
    const auto rr =
        testutil::Run("TZ=America/New_York /usr/bin/python3 " + Quote(IsoCheck()) + " rr " +
                      Quote(img) + " " + Quote(expected) + " " + Quote(dir / "y") + " 2>&1");
    EXPECT_EQ(rr.status, 0) << rr.out;
  }
}

}  // namespace
