// Reading archive directories: end record search, Zip64, names, failures and their texts,
// cancel and pause, sorting, selection and re-reading.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>

#include <memory>
#include <string>

#include "archive/arczip.h"
#include "archive/zipcrypt.h"
#include "archive/zipexceptions.h"
#include "testhost.h"
#include "testutil.h"
#include "zipbuilder.h"

using testutil::TempDir;

namespace {

void OpenBytes(TArcUnZip& z, const std::string& bytes) {
  z.OpenArchiveStream(std::make_unique<TMemoryStream>(bytes.data(), bytes.size()));
}

// Runs f and returns the message of the EArcZipException-family exception E it raises.
template <typename E, typename F>
std::string MessageOf(F f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  }
  return "(no exception)";
}

std::string ThreeEntries() {
  ZipBuilder b;
  b.Add("a.txt", "hello");
  b.Add("dir/", "");
  b.Add("dir/b.bin", std::string(5000, 'x'), 8);
  b.comment = "the comment";
  return b.Build();
}

void SetMTime(const std::string& path, time_t sec) {
  struct timespec ts[2] = {{sec, 0}, {sec, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), ts, 0), 0);
}

}  // namespace

TEST(ReadArchive, ListsEntriesWithFoldersSizesDatesAndComment) {
  TArcZip z;
  OpenBytes(z, ThreeEntries());
  z.ReadArchive();
  ASSERT_EQ(z.EntryCount(), 3);
  EXPECT_EQ(z.EntryName(0), "a.txt");
  EXPECT_EQ(z.EntryPath(0), "");
  EXPECT_EQ(z.EntryName(1), "");
  EXPECT_EQ(z.EntryPath(1), "dir/");
  EXPECT_EQ(z.EntryFullName(2), "dir/b.bin");
  EXPECT_EQ(z.EntrySize(2), 5000);
  EXPECT_LT(z.EntryHeader(2).CompressedSize(), 100u);
  EXPECT_EQ(z.EntryHeader(2).ComprMethod, 8);
  EXPECT_EQ(z.EntryDiskNumber(2), 1);
  struct tm tm {};
  tm.tm_year = 125, tm.tm_mon = 3, tm.tm_mday = 10, tm.tm_hour = 12, tm.tm_isdst = -1;
  EXPECT_EQ(z.EntryDateTime(0), mktime(&tm));
  EXPECT_EQ(z.ArchiveComment(), "the comment");
  EXPECT_FALSE(z.NeedsZip64());
  EXPECT_EQ(z.MultiZipInfo.MultiMode, TMultiMode::mmNone);
  EXPECT_FALSE(z.Busy());
  EXPECT_EQ(MessageOf<std::out_of_range>([&] { z.EntryName(3); }), "Index 3 is out of range");
  EXPECT_EQ(MessageOf<std::out_of_range>([&] { z.SetEntrySelected(-1, true); }),
            "Index -1 is out of range");
}

TEST(ReadArchive, InvalidDosDateGivesTheTimeNow) {
  ZipBuilder b;
  BuildEntry e;
  e.name = "x";
  e.dosDateTime = 0x00000000;  // month 0
  b.Add(e);
  TArcUnZip z;
  OpenBytes(z, b.Build());
  z.ReadArchive();
  EXPECT_LE(std::llabs(static_cast<long long>(z.EntryDateTime(0) - time(nullptr))), 5);
}

TEST(ReadArchive, EmptyFileIsAnArchiveWithoutEntriesShortFilesHaveNoEndRecord) {
  TempDir dir;
  testutil::WriteFile(dir / "empty.zip", "");
  TArcUnZip z;
  int incomplete = 0;
  z.OnInCompleteZip = [&](TArcUnZip*, TIncompleteZipMode&) { ++incomplete; };
  z.SetZipName(dir / "empty.zip");
  z.ReadArchive();
  EXPECT_EQ(z.EntryCount(), 0);
  EXPECT_EQ(incomplete, 0);

  std::string eocd = ZipBuilder().Build();  // 22 bytes
  for (size_t n = 1; n <= 21; ++n) {
    TArcUnZip y;
    int fired = 0;
    y.OnInCompleteZip = [&](TArcUnZip*, TIncompleteZipMode& m) {
      ++fired;
      m = TIncompleteZipMode::izAssumeNotAZip;
    };
    OpenBytes(y, eocd.substr(0, n));
    EXPECT_EQ(MessageOf<ENotAZipFile>([&] { y.ReadArchive(); }), "Not a valid zip file!") << n;
    EXPECT_EQ(fired, 1);
  }
}

TEST(ReadArchive, IncompleteModesRaiseTheirExceptions) {
  std::string junk(100, 'j');
  TArcUnZip z;
  z.IncompleteZipMode = TIncompleteZipMode::izAssumeBad;
  OpenBytes(z, junk);
  EXPECT_EQ(MessageOf<EBadZipFile>([&] { z.ReadArchive(); }), "Not a valid zip file!");

  // izAssumeMulti without a handler: the archive stays open with no entries.
  TempDir dir;
  testutil::WriteFile(dir / "junk.zip", junk);
  TArcUnZip m;
  m.SetZipName(dir / "junk.zip");
  EXPECT_NO_THROW(m.ReadArchive());
  EXPECT_EQ(m.EntryCount(), 0);
  EXPECT_EQ(m.ZipName(), dir / "junk.zip");
  EXPECT_EQ(EIncompleteZip().what(), std::string("Incomplete Zip File"));

  // A handler that leaves the name alone is not asked again and again.
  int fired = 0;
  m.OnInCompleteZip = [&](TArcUnZip*, TIncompleteZipMode&) { ++fired; };
  m.SetZipName(dir / "other.zip");
  m.SetZipName(dir / "junk.zip");
  EXPECT_NO_THROW(m.ReadArchive());
  EXPECT_EQ(fired, 1);

  // A handler that points at another file makes the engine read that one.
  testutil::WriteFile(dir / "last.zip", ThreeEntries());
  TArcUnZip h;
  h.OnInCompleteZip = [&](TArcUnZip* s, TIncompleteZipMode&) { s->SetZipName(dir / "last.zip"); };
  h.SetZipName(dir / "junk.zip");
  h.ReadArchive();
  EXPECT_EQ(h.EntryCount(), 3);
  EXPECT_EQ(h.ZipName(), dir / "last.zip");
}

TEST(ReadArchive, EndRecordFoundBehindLongestCommentAndNotInsideIt) {
  ZipBuilder b;
  b.Add("a", "1");
  b.comment = std::string(65535, 'c');
  TArcUnZip z;
  OpenBytes(z, b.Build());
  z.ReadArchive();
  EXPECT_EQ(z.EntryCount(), 1);
  EXPECT_EQ(z.ArchiveComment().size(), 65535u);

  // A comment that quotes an end record of an empty archive.
  ZipBuilder q;
  q.Add("a", "1");
  q.Add("b", "2");
  q.comment = ZipBuilder().Build() + "tail";
  TArcUnZip y;
  OpenBytes(y, q.Build());
  y.ReadArchive();
  EXPECT_EQ(y.EntryCount(), 2);
}

TEST(ReadArchive, DamagedDirectoryGoesToTheRecoveryScan) {
  TempDir dir;
  std::string bytes = ThreeEntries();
  size_t cd = bytes.find("PK\x01\x02");
  bytes[cd + 3] = 9;  // first central signature broken
  // The entries come from their local headers; without them the archive is closed.
  std::string noHeaders = bytes;
  for (size_t at; (at = noHeaders.find("PK\x03\x04")) != std::string::npos;) noHeaders[at] = 'p';
  testutil::WriteFile(dir / "bad.zip", noHeaders);
  TArcUnZip z;
  z.SetZipName(dir / "bad.zip");
  EXPECT_EQ(MessageOf<EBadZipFile>([&] { z.ReadArchive(); }),
            "Not a valid zip file! Central record 1 (at offset 135) is damaged.");
  EXPECT_EQ(z.EntryCount(), 0);
  EXPECT_EQ(z.ZipName(), "");

  // Directory offset beyond the file.
  std::string far = ThreeEntries();
  size_t eocd = far.rfind("PK\x05\x06");
  far[eocd + 19] = 0x7f;
  // Two entries of the same name: the later one is numbered.
  ZipBuilder d;
  d.Add("same", "1");
  d.Add("same", "2");
  // ... also far apart, in a folder.
  ZipBuilder far2;
  far2.Add("dir/same", "1");
  for (int i = 0; i < 300; ++i) far2.Add("f" + std::to_string(i), "");
  far2.Add("dir/same", "2");
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {bytes, {"a.txt", "dir/", "dir/b.bin"}},
      {far, {"a.txt", "dir/", "dir/b.bin"}},
      {d.Build(), {"same", "same (2)"}},
      {far2.Build(), {}},
  };
  for (const auto& [archive, names] : cases) {
    TArcUnZip y;
    OpenBytes(y, archive);
    y.ReadArchive();
    EXPECT_TRUE(y.RecoveryMode());
    // Every entry found tests good, yet the archive does not: its directory was rebuilt.
    EXPECT_FALSE(y.TestArchive());
    EXPECT_NE(y.DirectoryDamage().find("rebuilt from the local headers"), std::string::npos);
    for (int i = 0; i < y.EntryCount(); ++i) EXPECT_TRUE(y.TestEntry(i));
    if (names.empty()) {
      ASSERT_EQ(y.EntryCount(), 302);
      EXPECT_EQ(y.EntryFullName(301), "dir/same (2)");
      continue;
    }
    ASSERT_EQ(y.EntryCount(), static_cast<int>(names.size()));
    for (int i = 0; i < y.EntryCount(); ++i) EXPECT_EQ(y.EntryFullName(i), names[i]);
  }
  ZipBuilder distinct;
  for (const char* n : {"dir/Same", "dir/same", "dir/same/", "same", "dir2/same", "dirsame"})
    distinct.Add(n, "");
  TArcUnZip v;
  OpenBytes(v, distinct.Build());
  v.ReadArchive();
  EXPECT_EQ(v.EntryCount(), 6);
}

TEST(ReadArchive, WrongExtraLengthOfPreviousRecordIsRetriedAsZero) {
  ZipBuilder b;
  BuildEntry e;
  e.name = "first";
  e.data = "1";
  e.comment = "c1";
  e.centralExtra = std::string("UT\x05\x00\x01\x00\x00\x00\x00", 9);
  b.Add(e);
  b.Add("second", "2");
  std::string bytes = b.Build();
  // Remove the extra bytes from the central record while its length still claims them.
  size_t cd = bytes.find("PK\x01\x02");
  size_t extraAt = cd + 46 + 5;
  bytes.erase(extraAt, 9);
  TArcUnZip z;
  OpenBytes(z, bytes);
  z.ReadArchive();
  ASSERT_EQ(z.EntryCount(), 2);
  EXPECT_EQ(z.EntryFullName(1), "second");
  EXPECT_EQ(z.EntryHeader(0).ExtraFieldLength, 0);
  EXPECT_EQ(z.EntryHeader(0).FileComment, "c1");
}

TEST(ReadArchive, Zip64FieldsAndRecords) {
  ZipBuilder b;
  BuildEntry e;
  e.name = "big";
  e.data = "0123456789";
  e.zip64 = true;
  b.Add(e);
  b.Add("small", "s");
  b.zip64End = true;
  b.prefix = "stub bytes in front";
  std::string bytes = b.Build();
  TArcUnZip z;
  OpenBytes(z, bytes);
  z.ReadArchive();
  ASSERT_EQ(z.EntryCount(), 2);
  EXPECT_TRUE(z.EndCentral().HasZip64);
  EXPECT_EQ(z.EndCentral().GetTotalEntries(), 2u);
  const auto& h = z.EntryHeader(0);
  EXPECT_TRUE(h.HasUnComprSize64 && h.HasComprSize64 && h.HasRelOffLocalHdr64);
  EXPECT_FALSE(h.HasDiskStart32);
  EXPECT_EQ(h.UncompressedSize(), 10u);
  EXPECT_EQ(h.LocalHeaderOffset(), b.prefix.size());
  EXPECT_TRUE(z.NeedsZip64());

  // A Zip64 field shorter than its saturated fields need is a damaged record: the entries come
  // from the recovery scan.
  size_t at = bytes.find(std::string("\x01\x00\x18\x00", 4));
  bytes[at + 2] = 8;
  TArcUnZip y;
  OpenBytes(y, bytes);
  y.ReadArchive();
  EXPECT_TRUE(y.RecoveryMode());
  EXPECT_EQ(y.EntryCount(), 2);
}

TEST(ReadArchive, NeedsZip64FromEntryCount) {
  for (int n : {65534, 65535}) {
    ZipBuilder b;
    for (int i = 0; i < n; ++i) b.Add("f" + std::to_string(i), "");
    TArcUnZip z;
    z.DoProcessMessages = false;
    OpenBytes(z, b.Build());
    z.ReadArchive();
    EXPECT_EQ(z.EntryCount(), n);
    EXPECT_EQ(z.NeedsZip64(), n == 65535);
  }
}

TEST(ReadArchive, NamesDecodedByTheirHostFlagAndUnicodePathField) {
  // name as stored, host byte, flags, then the name under oemAlways, oemFlexible and oemNever.
  struct Case {
    std::string stored;
    uint8_t host;
    uint16_t flags;
    std::string always, flexible, never;
  };
  const std::vector<Case> cases = {
      // DOS and Windows hosts write the OEM code page 437.
      {"caf\x82/\x84.txt", 0, 0, "café/ä.txt", "café/ä.txt", "caf\x82/\x84.txt"},
      {"\x94l.txt", 14, 0, "öl.txt", "öl.txt", "\x94l.txt"},
      {"\x81"
       "ber.txt",
       6, 0, "über.txt", "über.txt",
       "\x81"
       "ber.txt"},
      // Windows ANSI from host 11: code page 437 unless oemFlexible.
      {"\xe9t\xe9", 11, 0, "ΘtΘ", "\xe9t\xe9", "\xe9t\xe9"},
      // Unix and other hosts store the bytes of their locale: UTF-8 as Info-ZIP zip writes it
      // without bit 11, and a Latin-1 name that stays as its bytes.
      {"src/Grüße/naïve café.txt", 3, 0, "src/Grüße/naïve café.txt", "src/Grüße/naïve café.txt",
       "src/Grüße/naïve café.txt"},
      {"caf\xe9.txt", 3, 0, "caf\xe9.txt", "caf\xe9.txt", "caf\xe9.txt"},
      {"résumé", 19, 0, "résumé", "résumé", "résumé"},
      {"Grüße.txt", 0, 0x800, "Grüße.txt", "Grüße.txt", "Grüße.txt"},
  };
  ZipBuilder b;
  for (const auto& c : cases) {
    BuildEntry e;
    e.name = c.stored;
    e.versionMadeBy = static_cast<uint16_t>(c.host << 8 | 20);
    e.flags = c.flags;
    b.Add(e);
  }
  // A Unicode path field names the entry when its CRC matches the stored name, whatever the host.
  BuildEntry up;
  up.name = "old-name";
  std::string unicode = "новый";
  std::string field = "\x01";
  PutU32(field, ZipCrc32(0, up.name.data(), up.name.size()));
  field += unicode;
  PutU16(up.centralExtra, 0x7075);
  PutU16(up.centralExtra, static_cast<uint16_t>(field.size()));
  up.centralExtra += field;
  b.Add(up);
  std::string bytes = b.Build();

  for (TOEMConvert mode :
       {TOEMConvert::oemAlways, TOEMConvert::oemFlexible, TOEMConvert::oemNever}) {
    TArcUnZip z;
    z.OEMConvert = mode;
    OpenBytes(z, bytes);
    z.ReadArchive();
    ASSERT_EQ(z.EntryCount(), static_cast<int>(cases.size()) + 1);
    for (size_t i = 0; i < cases.size(); ++i) {
      const Case& c = cases[i];
      const std::string& want = mode == TOEMConvert::oemAlways     ? c.always
                                : mode == TOEMConvert::oemFlexible ? c.flexible
                                                                   : c.never;
      EXPECT_EQ(z.EntryFullName(static_cast<int>(i)), want) << i;
      EXPECT_EQ(z.EntryHeader(static_cast<int>(i)).StoredName(), c.stored) << i;
    }
    EXPECT_EQ(z.EntryName(static_cast<int>(cases.size())),
              mode == TOEMConvert::oemNever ? "old-name" : unicode);
  }
}

TEST(ReadArchive, CancelRaisesUserAbortedAndPauseWaitsInSteps) {
  ZipBuilder b;
  for (int i = 0; i < 10; ++i) b.Add("f" + std::to_string(i), "x");
  std::string bytes = b.Build();

  ScriptedHost host;
  TArcUnZip z;
  z.Host = &host;
  host.onProcessMessages = [&] {
    EXPECT_TRUE(z.Busy());
    if (host.processed == 3) z.CancelOperation();
  };
  OpenBytes(z, bytes);
  EXPECT_EQ(MessageOf<EUserCanceled>([&] { z.ReadArchive(); }), "User Aborted Operation");
  EXPECT_EQ(z.EntryCount(), 0);
  EXPECT_FALSE(z.Busy());

  // The cancel was consumed: the next read completes.
  host.onProcessMessages = nullptr;
  OpenBytes(z, bytes);
  z.ReadArchive();
  EXPECT_EQ(z.EntryCount(), 10);

  // Paused before the read: it sleeps in steps until resumed.
  ScriptedHost ph;
  TArcUnZip p;
  p.Host = &ph;
  ph.onProcessMessages = [&] {
    if (ph.slept == 3) p.ResumeOperation();
  };
  p.PauseOperation();
  OpenBytes(p, bytes);
  p.ReadArchive();
  EXPECT_EQ(p.EntryCount(), 10);
  EXPECT_EQ(ph.slept, 3);

  // Without DoProcessMessages nothing is dispatched and a cancel request waits.
  ScriptedHost nh;
  TArcUnZip n;
  n.Host = &nh;
  n.DoProcessMessages = false;
  n.CancelOperation();
  OpenBytes(n, bytes);
  n.ReadArchive();
  EXPECT_EQ(nh.processed, 0);
  EXPECT_EQ(n.EntryCount(), 10);
}

TEST(ReadArchive, SortModesAndSelection) {
  ZipBuilder b;
  BuildEntry e;
  e.name = "b/zeta.txt", e.data = std::string(300, 'z'), e.dosDateTime = 0x5A8A6000;
  b.Add(e);
  e.name = "A/alpha.txt", e.data = "short", e.dosDateTime = 0x4A8A6000;
  b.Add(e);
  e.name = "c/Beta.txt", e.data = std::string(40, 'q'), e.dosDateTime = 0x6A8A6000;
  b.Add(e);
  TArcUnZip z;
  OpenBytes(z, b.Build());
  z.ReadArchive();
  auto names = [&] {
    std::string s;
    for (int i = 0; i < z.EntryCount(); ++i) s += z.EntryName(i) + " ";
    return s;
  };
  EXPECT_EQ(names(), "zeta.txt alpha.txt Beta.txt ");
  z.SetSortMode(TZipSortMode::ByName);
  EXPECT_EQ(names(), "alpha.txt zeta.txt Beta.txt ");
  z.SetSortMode(TZipSortMode::ByFileName);
  EXPECT_EQ(names(), "alpha.txt Beta.txt zeta.txt ");
  z.SetSortMode(TZipSortMode::ByDate);
  EXPECT_EQ(names(), "alpha.txt zeta.txt Beta.txt ");
  z.SetSortMode(TZipSortMode::ByUnCompressedSize);
  EXPECT_EQ(names(), "alpha.txt Beta.txt zeta.txt ");

  z.SetEntrySelected(0, true);
  z.SetEntrySelected(2, true);
  z.SetEntrySelected(2, true);
  EXPECT_EQ(z.SelectedCount(), 2);
  EXPECT_TRUE(z.EntrySelected(2));
  z.SetEntrySelected(0, false);
  EXPECT_EQ(z.SelectedCount(), 1);
  z.ClearSelection();
  EXPECT_EQ(z.SelectedCount(), 0);
  EXPECT_FALSE(z.EntrySelected(2));
}

TEST(ReadArchive, KeepsListUntilTheFileChangesAndForgetsItForANewName) {
  TempDir dir;
  std::string path = dir / "a.zip";
  ZipBuilder one;
  one.Add("only", "1");
  testutil::WriteFile(path, one.Build());
  SetMTime(path, 1700000000);
  TArcUnZip z;
  z.SetZipName(path);
  z.ReadArchive();
  ASSERT_EQ(z.EntryCount(), 1);
  z.SetEntrySelected(0, true);

  // Same last-write time: the list (and its selection) is kept.
  testutil::WriteFile(path, ThreeEntries());
  SetMTime(path, 1700000000);
  z.ReadArchive();
  EXPECT_EQ(z.EntryCount(), 1);
  EXPECT_EQ(z.SelectedCount(), 1);

  // Changed by someone else: read again.
  SetMTime(path, 1700000100);
  z.ReadArchive();
  EXPECT_EQ(z.EntryCount(), 3);
  EXPECT_EQ(z.SelectedCount(), 0);

  z.SetZipName(path);
  EXPECT_EQ(z.EntryCount(), 3);
  z.SetZipName(dir / "A.zip");
  EXPECT_EQ(z.EntryCount(), 0);
  z.SetZipName(path);
  z.ReadArchive();
  z.CloseArchive();
  EXPECT_EQ(z.EntryCount(), 0);
  EXPECT_EQ(z.ZipName(), "");
  EXPECT_EQ(z.ArchiveComment(), "");
}

TEST(ReadArchive, ConfigFileBesideAVolumeHoldsTheDirectory) {
  TempDir dir;
  std::string bytes = ThreeEntries();
  size_t cd = bytes.find("PK\x01\x02");
  std::string directory = bytes.substr(cd);
  // The configuration file's end record gives offset 0: the directory starts the file.
  size_t eocd = directory.rfind("PK\x05\x06");
  for (int i = 0; i < 4; ++i) directory[eocd + 16 + i] = 0;
  testutil::WriteFile(dir / "set.zip", bytes.substr(0, cd));
  testutil::WriteFile(dir / "set.zfc", directory);
  TArcUnZip z;
  z.IncompleteZipMode = TIncompleteZipMode::izAssumeNotAZip;
  z.SetZipName(dir / "set.zip");
  z.ReadArchive();
  EXPECT_EQ(z.EntryCount(), 3);
  EXPECT_TRUE(z.ReadFromConfigFile());
  EXPECT_EQ(z.ArchiveComment(), "the comment");
}

TEST(ReadArchive, DiskNumbersMakeAMultiVolumeSetAndTheSanityRuleRejects) {
  std::string bytes = ThreeEntries();
  size_t eocd = bytes.rfind("PK\x05\x06");
  std::string last = bytes;
  last[eocd + 4] = 2;  // this disk
  last[eocd + 6] = 2;  // directory start disk
  TArcUnZip z;
  OpenBytes(z, last);
  z.ReadArchive();
  EXPECT_EQ(z.MultiZipInfo.MultiMode, TMultiMode::mmBlocks);
  EXPECT_EQ(z.EntryCount(), 3);

  std::string insane = bytes;
  insane[eocd + 6] = 1;  // directory starts on a later disk than this one
  TArcUnZip y;
  y.IncompleteZipMode = TIncompleteZipMode::izAssumeNotAZip;
  OpenBytes(y, insane);
  EXPECT_THROW(y.ReadArchive(), ENotAZipFile);
}

TEST(EngineProperties, DefaultsDialogsAndTexts) {
  TArcZip z;
  EXPECT_EQ(z.SortMode(), TZipSortMode::ByNone);
  EXPECT_EQ(z.OverwriteMode, TUZOverwriteMode::Prompt);
  EXPECT_EQ(z.IncompleteZipMode, TIncompleteZipMode::izAssumeMulti);
  EXPECT_TRUE(z.DoProcessMessages && z.RetainAttributes && z.IncludeReadOnlyFiles);
  EXPECT_EQ(z.PackLevel, 6);
  EXPECT_EQ(z.MultiZipInfo.BlockSize, 1457600);
  EXPECT_EQ(TArcZip::ThisVersion, 306);
  EXPECT_STREQ(SkipReasonLabel(srBadPassword), "Bad Password");
  EXPECT_STREQ(SkipReasonLabel(srSkippedInStartZip), "SkippedInStartZip");

  z.SetDestDir("/restore/here/");
  EXPECT_EQ(z.DestDir(), "/restore/here");
  z.SetDestDir("/");
  EXPECT_EQ(z.DestDir(), "/");

  ScriptedHost host;
  z.Host = &host;
  host.files = {"/tmp/chosen.zip", ""};
  host.folders = {"/tmp/out/", ""};
  z.SetZipName("?");
  EXPECT_EQ(z.ZipName(), "/tmp/chosen.zip");
  EXPECT_EQ(MessageOf<EUserCanceled>([&] { z.SetZipName("/tmp/x?"); }),
            "User canceled setting zip file name.");
  z.SetDestDir("?");
  EXPECT_EQ(z.DestDir(), "/tmp/out");
  EXPECT_EQ(MessageOf<EUserCanceled>([&] { z.SetDestDir("?"); }),
            "User canceled Set Desination Directory");
  z.Host = nullptr;
  EXPECT_THROW(z.SetDestDir("?"), EUserCanceled);

  EXPECT_STREQ(EFatalUnzipError().what(), "Premature end of file reached");
  EXPECT_STREQ(EBiggerThanUncompressed().what(), "File is larger than uncompressed size!");
  EXPECT_STREQ(ENotEnoughRoom().what(), "Not enough room to write archive");
  EXPECT_STREQ(ECantWriteUCF().what(), "Cant write uncompressed file");
  EXPECT_STREQ(EConfigFileSaveError().what(), "Unable to save Zip Configuration File to disk");
  TMemoryStream s;
  EXPECT_EQ(MessageOf<EArcZipException>([&] { s.Seek(0, 3); }), "Invalid seek origin (3)");
  EXPECT_EQ(MessageOf<EArcZipException>([&] { s.Seek(-1, 0); }), "\nSeek error");
}
