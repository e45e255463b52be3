// Writing new archives: entries read back by the engine's reader and inflated here, headers and
// flags, Zip64 records, skip reasons, cancel, Dispose and the archive attribute.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "archive/arczip.h"
#include "archive/zipcrypt.h"
#include "archive/zipexceptions.h"
#include "archive/zipwriter.h"
#include "platform/archiveattr.h"
#include "testhost.h"
#include "testutil.h"

using testutil::ReadFile;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(rng());
  return s;
}

std::string TextBytes(size_t n) {
  std::string s;
  for (int i = 0; s.size() < n; ++i) s += "line " + std::to_string(i * 7919 % 10007) + " of text\n";
  s.resize(n);
  return s;
}

std::string Inflate(const std::string& in) {
  z_stream z{};
  inflateInit2(&z, -15);
  std::string out;
  char buf[65536];
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  z.avail_in = static_cast<uInt>(in.size());
  int r;
  do {
    z.next_out = reinterpret_cast<Bytef*>(buf);
    z.avail_out = sizeof buf;
    r = inflate(&z, Z_NO_FLUSH);
    out.append(buf, sizeof buf - z.avail_out);
  } while (r == Z_OK);
  inflateEnd(&z);
  EXPECT_EQ(r, Z_STREAM_END);
  return out;
}

// The data of entry h of the archive file, decrypted and inflated; checks the CRC.
std::string EntryData(const std::string& archive, const TZipHeaderInfo& h,
                      const std::string& password = "") {
  std::string a = ReadFile(archive);
  size_t off = h.LocalHeaderOffset();
  auto* p = reinterpret_cast<const uint8_t*>(a.data()) + off;
  EXPECT_EQ(GetU32(p), zipsig::kLocalHeader);
  size_t start = off + kLocalHeaderSize + GetU16(p + 26) + GetU16(p + 28);
  std::string data = a.substr(start, h.CompressedSize());
  if (h.IsEncrypted()) {
    TZipCrypt c(password);
    c.Decrypt(reinterpret_cast<uint8_t*>(data.data()), data.size());
    EXPECT_EQ(static_cast<uint8_t>(data[11]), static_cast<uint8_t>(h.CRC32 >> 24));
    data = data.substr(12);
  }
  std::string plain = h.ComprMethod == 8 ? Inflate(data) : data;
  EXPECT_EQ(ZipCrc32(0, plain.data(), plain.size()), h.CRC32) << h.FullName();
  EXPECT_EQ(plain.size(), h.UncompressedSize());
  return plain;
}

std::map<std::string, const TZipHeaderInfo*> ByName(TArcZip& z) {
  std::map<std::string, const TZipHeaderInfo*> m;
  for (int i = 0; i < z.EntryCount(); ++i) m[z.EntryFullName(i)] = &z.EntryHeader(i);
  return m;
}

std::vector<std::string> FolderFiles(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d))
      if (e->d_name[0] != '.' || std::string(e->d_name).size() > 2) names.push_back(e->d_name);
    ::closedir(d);
  }
  names.erase(std::remove_if(names.begin(), names.end(),
                             [](const std::string& n) { return n == "." || n == ".."; }),
              names.end());
  return names;
}

// An engine set up as the program uses it, in an isolated XDG environment.
struct Fixture {
  TempDir t;
  testutil::IsolatedXdg xdg{t.path()};
  std::string src = t / "src";
  std::string zipName = t / "out/test.zip";
  TArcZip z;
  std::vector<std::string> skips;
  Fixture() {
    testutil::Run("mkdir -p " + testutil::Quote(src) + " " + testutil::Quote(t / "out"));
    z.StorePaths = true;
    z.SetZipName(zipName);
    z.OnSkippingFile = [this](TArcUnZip::TSender, TSkipReason r, const std::string& n, int idx,
                              bool&) {
      EXPECT_EQ(idx, -1);
      skips.push_back(std::to_string(static_cast<int>(r)) + ":" + n);
    };
  }
};

// Wraps an engine so that opening a named source fails a number of times.
class FailingOpenZip : public TArcZip {
 public:
  std::map<std::string, int> failures;

 protected:
  int OpenSourceFile(const std::string& path) override {
    auto it = failures.find(path);
    if (it != failures.end() && it->second > 0) {
      --it->second;
      errno = EACCES;
      return -1;
    }
    return TArcZip::OpenSourceFile(path);
  }
};

}  // namespace

TEST(ZipWrite, EntriesHeadersAndContent) {
  Fixture f;
  std::string big = TextBytes(3 * 1024 * 1024 + 12345);  // several compression chunks
  std::string rnd = RandomBytes(200000, 1);
  WriteFile(f.src + "/big.txt", big);
  WriteFile(f.src + "/random.bin", rnd);
  WriteFile(f.src + "/photo.jpg", TextBytes(5000));
  WriteFile(f.src + "/empty", "");
  WriteFile(f.src + "/grüße.txt", "hallo");
  WriteFile(f.src + "/latin1-\xe9.txt", "not UTF-8");
  ::chmod((f.src + "/random.bin").c_str(), 0640);
  f.z.PackLevel = 9;
  f.z.NoCompressList = {"*.JPG"};
  f.z.ArchiveComment();
  f.z.FilesList = {f.src + "/", f.src + "/*"};
  int completed = -1;
  f.z.OnZipComplete = [&](TArcUnZip::TSender, int n) { completed = n; };
  std::vector<int> totals, files;
  f.z.OnTotalPercentDone = [&](TArcUnZip::TSender, int p) { totals.push_back(p); };
  f.z.OnFilePercentDone = [&](TArcUnZip::TSender, int p) { files.push_back(p); };
  EXPECT_EQ(f.z.ZipFiles(), 6);
  EXPECT_TRUE(std::is_sorted(totals.begin(), totals.end()));
  ASSERT_FALSE(totals.empty());
  EXPECT_EQ(totals.back(), 100);
  EXPECT_GT(totals.size(), 3u);
  EXPECT_EQ(std::count(files.begin(), files.end(), 100), 5);  // every file with data
  EXPECT_EQ(completed, 6);
  EXPECT_TRUE(f.z.FilesList.empty());
  ASSERT_EQ(f.z.EntryCount(), 7);  // the directory was read back
  auto e = ByName(f.z);
  std::string s = f.src.substr(1) + "/";
  ASSERT_TRUE(e.count(s + "big.txt"));
  const auto& hb = *e[s + "big.txt"];
  EXPECT_EQ(EntryData(f.zipName, hb), big);
  EXPECT_EQ(hb.ComprMethod, 8);
  EXPECT_EQ(hb.Flag, 0x0002);  // level 9
  EXPECT_EQ(hb.VersionMadeBy, 0x032D);
  EXPECT_EQ(hb.VersionNeeded, 20);
  EXPECT_EQ(hb.ExtFileAttrib >> 16, 0100644u);
  EXPECT_EQ(hb.ExtFileAttrib & 0x20, 0x20u);  // archive bit: never cleared
  EXPECT_LT(hb.CompressedSize(), big.size() / 3);
  EXPECT_EQ(EntryData(f.zipName, *e[s + "random.bin"]), rnd);
  EXPECT_EQ(e[s + "random.bin"]->ExtFileAttrib >> 16, 0100640u);
  EXPECT_EQ(e[s + "photo.jpg"]->ComprMethod, 0);
  EXPECT_EQ(EntryData(f.zipName, *e[s + "photo.jpg"]), TextBytes(5000));
  EXPECT_EQ(e[s + "empty"]->UncompressedSize(), 0u);
  const auto& hu = *e[s + "grüße.txt"];
  EXPECT_EQ(hu.Flag & 0x0800, 0x0800);
  EXPECT_EQ(EntryData(f.zipName, hu), "hallo");
  // A name that is not UTF-8 is stored as it is, without claiming UTF-8.
  for (int i = 0; i < f.z.EntryCount(); ++i) {
    if (f.z.EntryHeader(i).StoredName().find("latin1-") != std::string::npos) {
      EXPECT_EQ(f.z.EntryHeader(i).Flag & 0x0800, 0);
    }
  }
  const auto& hd = *e[s];
  EXPECT_EQ(hd.ComprMethod, 0);
  EXPECT_EQ(hd.ExtFileAttrib & 0x10, 0x10u);
  EXPECT_EQ((hd.ExtFileAttrib >> 16) & S_IFMT, static_cast<unsigned>(S_IFDIR));
  EXPECT_FALSE(f.z.NeedsZip64());
  // No temporary file is left beside the archive.
  EXPECT_EQ(FolderFiles(f.t / "out"), std::vector<std::string>{"test.zip"});
}

TEST(ZipWrite, LevelFlagsAndStoredLevelZero) {
  for (int level : {0, 1, 2, 5, 8}) {
    Fixture f;
    WriteFile(f.src + "/a.txt", TextBytes(10000));
    f.z.PackLevel = level;
    f.z.StorePaths = false;
    f.z.FilesList = {f.src + "/a.txt"};
    ASSERT_EQ(f.z.ZipFiles(), 1);
    const auto& h = f.z.EntryHeader(0);
    EXPECT_EQ(h.FullName(), "a.txt");
    EXPECT_EQ(h.Flag, level <= 2 ? 0x0004 : level >= 8 ? 0x0002 : 0) << level;
    EXPECT_EQ(h.ComprMethod, level == 0 ? 0 : 8);
    EXPECT_EQ(EntryData(f.zipName, h), TextBytes(10000));
  }
}

TEST(ZipWrite, TraditionallyEncryptedEntries) {
  Fixture f;
  WriteFile(f.src + "/a.txt", TextBytes(2 * 1024 * 1024));
  WriteFile(f.src + "/b.bin", RandomBytes(1000, 2));
  f.z.Password = "secret";
  f.z.Encryption = TZipEncryption::zeTraditional;
  f.z.FilesList = {f.src + "/*"};
  ASSERT_EQ(f.z.ZipFiles(), 2);
  for (int i = 0; i < 2; ++i) {
    const auto& h = f.z.EntryHeader(i);
    EXPECT_TRUE(h.IsEncrypted());
    EXPECT_EQ(EntryData(f.zipName, h, "secret"), ReadFile(f.src + "/" + h.FileName));
  }
}

// The file is rewritten once its CRC pass (which only the traditional cipher needs) is done: the
// chunks compressed ahead of time hold the old content, so the entry must be written again from the
// new one.
TEST(ZipWrite, EncryptedEntryRedoneWhenTheFileChangesAfterItsCrcPass) {
  Fixture f;
  std::string before = TextBytes(3 * 1024 * 1024), after = before;
  for (size_t i = 0; i < after.size(); i += 4096) after[i] = '#';
  WriteFile(f.src + "/0first.bin", RandomBytes(300000, 3));
  WriteFile(f.src + "/1changing.txt", before);
  f.z.Password = "pw";
  f.z.Encryption = TZipEncryption::zeTraditional;
  f.z.PackLevel = 1;
  ScriptedHost host;
  f.z.Host = &host;
  bool paused = false;
  host.onProcessMessages = [&] {
    if (!paused) {  // let the workers run ahead into the second file
      paused = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
  };
  f.z.OnStartZip = [&](TArcUnZip::TSender, const std::string& name, TZipHeaderInfo&, bool&) {
    if (name.find("changing") != std::string::npos) {
      int fd = ::open(name.c_str(), O_WRONLY);
      ASSERT_EQ(::pwrite(fd, after.data(), after.size(), 0), static_cast<ssize_t>(after.size()));
      ::close(fd);
    }
  };
  f.z.FilesList = {f.src + "/*"};
  ASSERT_EQ(f.z.ZipFiles(), 2);
  auto e = ByName(f.z);
  EXPECT_EQ(EntryData(f.zipName, *e[f.src.substr(1) + "/1changing.txt"], "pw"), after);
}

// At a streaming level and at one deflated in whole chunks, where the file ends inside a chunk
// and where it ends right after a full one. (The workers may read a file's first chunk before
// its OnStartZip: the whole chunks are cut after the first 4 MiB.)
TEST(ZipWrite, SourceShorterThanMeasuredRecordsWhatWasRead) {
  const std::string full = TextBytes(4600000);
  const struct {
    int level;
    size_t shrunk;
  } cases[] = {{6, 1500000}, {9, 4300000}, {9, size_t{4} << 20}};
  for (const auto& [level, shrunk] : cases) {
    SCOPED_TRACE("level " + std::to_string(level) + ", " + std::to_string(shrunk) + " bytes");
    Fixture f;
    WriteFile(f.src + "/shrinks.txt", full);
    WriteFile(f.src + "/z.txt", "after");
    f.z.PackLevel = level;
    std::vector<std::string> boxes;
    f.z.OnHandleMessage = [&](TArcUnZip::TSender, int id, const std::string&,
                              const std::string& title, uint32_t, int&) {
      EXPECT_EQ(id, zmSourceShortRead);
      boxes.push_back(title);
    };
    f.z.OnStartZip = [&](TArcUnZip::TSender, const std::string& name, TZipHeaderInfo&, bool&) {
      if (name.find("shrinks") != std::string::npos) {
        ASSERT_EQ(::truncate(name.c_str(), static_cast<off_t>(shrunk)), 0);
      }
    };
    f.z.FilesList = {f.src + "/*"};
    ASSERT_EQ(f.z.ZipFiles(), 2);
    auto e = ByName(f.z);
    std::string s = f.src.substr(1) + "/";
    const std::string got = EntryData(f.zipName, *e[s + "shrinks.txt"]);
    EXPECT_TRUE(got == full.substr(0, shrunk))
        << got.size() << " bytes, differing from byte "
        << std::mismatch(got.begin(), got.end(), full.begin()).first - got.begin();
    EXPECT_EQ(EntryData(f.zipName, *e[s + "z.txt"]), "after");
    EXPECT_EQ(boxes, std::vector<std::string>{s + "shrinks.txt"});
  }
}

// A source written to while it is stored is in the archive as it was read, and told: one that
// became shorter (also in a box), one that grew (cut at its measured size) and one changed in
// place; none of them can be tried again.
TEST(ZipWrite, SourcesThatChangeWhileStoredAreToldAndCounted) {
  Fixture f;
  WriteFile(f.src + "/shrinks.txt", TextBytes(3 * 1024 * 1024));
  WriteFile(f.src + "/grows.txt", TextBytes(1000));
  WriteFile(f.src + "/touched.txt", TextBytes(1000));
  WriteFile(f.src + "/z.txt", "after");
  std::vector<std::string> boxes, told;
  f.z.OnHandleMessage = [&](TArcUnZip::TSender, int id, const std::string&,
                            const std::string& title, uint32_t, int&) {
    EXPECT_EQ(id, zmSourceShortRead);
    boxes.push_back(title);
  };
  f.z.OnSkippingFile = [&](TArcUnZip::TSender z, TSkipReason r, const std::string& name, int,
                           bool&) {
    EXPECT_EQ(r, srFileOpenError);
    EXPECT_FALSE(z->SkipCanRetry());
    told.push_back(name.substr(f.src.size() + 1) + ": " + z->SkipText());
  };
  f.z.OnStartZip = [&](TArcUnZip::TSender, const std::string& name, TZipHeaderInfo&, bool&) {
    if (name.find("shrinks") != std::string::npos) ::truncate(name.c_str(), 1500000);
    if (name.find("grows") != std::string::npos) ::truncate(name.c_str(), 5000);
    if (name.find("touched") != std::string::npos) {
      struct timespec ts[2] = {{1600000000, 0}, {1600000000, 0}};
      ::utimensat(AT_FDCWD, name.c_str(), ts, 0);
    }
  };
  f.z.PackThreads = 0;
  f.z.FilesList = {f.src + "/*"};
  ASSERT_EQ(f.z.ZipFiles(), 4);
  auto e = ByName(f.z);
  std::string s = f.src.substr(1) + "/";
  EXPECT_EQ(EntryData(f.zipName, *e[s + "shrinks.txt"]),
            TextBytes(3 * 1024 * 1024).substr(0, 1500000));
  EXPECT_EQ(EntryData(f.zipName, *e[s + "grows.txt"]), TextBytes(1000));
  EXPECT_EQ(EntryData(f.zipName, *e[s + "z.txt"]), "after");
  EXPECT_EQ(boxes, std::vector<std::string>{s + "shrinks.txt"});
  EXPECT_EQ(told, (std::vector<std::string>{
                      "grows.txt: it grew while it was stored: 1000 of 5000 bytes were stored",
                      "shrinks.txt: it became shorter while it was stored: 1500000 of 3145728 "
                      "bytes were stored",
                      "touched.txt: it changed while it was stored; the stored copy may mix old "
                      "and new data"}));
}

TEST(ZipWrite, SkipReasonsDuringWriting) {
  TempDir t;
  testutil::IsolatedXdg xdg(t.path());
  ASSERT_EQ(testutil::Run("mkdir -p " + testutil::Quote(t / "src/sub")).status, 0);
  for (const char* n : {"a.txt", "b.txt", "c.txt", "d.txt", "sub/a.txt"})
    WriteFile(t / (std::string("src/") + n), n);
  FailingOpenZip z;
  z.SetZipName(t / "out.zip");
  z.failures[t / "src/b.txt"] = 1;  // fails once: the handler retries
  z.failures[t / "src/c.txt"] = 5;  // keeps failing: the handler gives up
  std::vector<std::string> events;
  int retries = 0;
  z.OnSkippingFile = [&](TArcUnZip::TSender, TSkipReason r, const std::string& n, int,
                         bool& retry) {
    events.push_back(std::to_string(static_cast<int>(r)) + ":" + n.substr(t.path().size() + 1));
    if (r == srFileOpenError && n.find("b.txt") != std::string::npos) retry = ++retries < 3;
  };
  z.OnNoSuchFile = [&](TArcUnZip::TSender, const std::string& n) {
    events.push_back("nosuch:" + n.substr(t.path().size() + 1));
  };
  z.OnStartZip = [&](TArcUnZip::TSender, const std::string& n, TZipHeaderInfo& h, bool& skip) {
    EXPECT_EQ(h.UncompressedSize(), 5u);
    skip = n.find("d.txt") != std::string::npos;
  };
  // A file that disappears between the listing and its turn.
  z.OnStartZipInfo = [&](TArcUnZip::TSender, int, int64_t, TEndCentral&, bool&) {
    ::unlink((t / "src/gone.txt").c_str());
  };
  WriteFile(t / "src/gone.txt", "x");
  // Without StorePaths src/a.txt and src/sub/a.txt have the same stored name.
  z.Recurse = true;
  z.FilesList = {t / "src/*.txt"};
  EXPECT_EQ(z.ZipFiles(), 2);
  EXPECT_EQ(events, (std::vector<std::string>{"2:src/b.txt", "2:src/c.txt", "7:src/d.txt",
                                              "nosuch:src/gone.txt", "1:src/sub/a.txt"}));
  EXPECT_EQ(retries, 1);
}

TEST(ZipWrite, FreshenOnANewArchiveAddsNothing) {
  Fixture f;
  WriteFile(f.src + "/a.txt", "a");
  f.z.ZipAction = TZipAction::zaFreshen;
  f.z.FilesList = {f.src + "/a.txt"};
  int completed = -1;
  f.z.OnZipComplete = [&](TArcUnZip::TSender, int n) { completed = n; };
  EXPECT_EQ(f.z.ZipFiles(), 0);
  EXPECT_EQ(completed, 0);
  EXPECT_EQ(f.skips, std::vector<std::string>{"6:" + f.src + "/a.txt"});
  EXPECT_FALSE(testutil::Exists(f.zipName));
}

TEST(ZipWrite, StopNowAndCancelLeaveNothingBehind) {
  Fixture f;
  for (int i = 0; i < 20; ++i) WriteFile(f.src + "/f" + std::to_string(i), TextBytes(200000));
  WriteFile(f.src + "/big", TextBytes(4 * 1024 * 1024));
  f.z.OnStartZipInfo = [](TArcUnZip::TSender, int n, int64_t total, TEndCentral&, bool& stop) {
    EXPECT_EQ(n, 21);
    EXPECT_EQ(total, 20 * 200000 + 4 * 1024 * 1024);
    stop = true;
  };
  f.z.FilesList = {f.src + "/*"};
  f.z.Dispose = true;
  bool completed = false;
  f.z.OnZipComplete = [&](TArcUnZip::TSender, int) { completed = true; };
  try {
    f.z.ZipFiles();
    ADD_FAILURE() << "no exception";
  } catch (const EUserCanceled& e) {
    EXPECT_STREQ(e.what(), "User canceled Zip operation");
  }
  EXPECT_TRUE(f.z.FilesList.empty());

  f.z.OnStartZipInfo = nullptr;
  f.z.ResetArchiveBitOnZip = true;
  ScriptedHost host;
  f.z.Host = &host;
  int calls = 0;
  host.onProcessMessages = [&] {
    if (++calls == 40) f.z.CancelOperation();
  };
  f.z.FilesList = {f.src + "/*"};
  try {
    f.z.ZipFiles();
    ADD_FAILURE() << "no exception";
  } catch (const EUserCanceled& e) {
    EXPECT_STREQ(e.what(), "User Aborted Operation");
  }
  EXPECT_FALSE(completed);
  EXPECT_TRUE(FolderFiles(f.t / "out").empty());
  EXPECT_EQ(FolderFiles(f.src).size(), 21u);  // Dispose deleted nothing
  EXPECT_FALSE(f.z.Busy());
  TArchiveAttributes attrs;
  struct stat st;
  ::stat((f.src + "/f0").c_str(), &st);
  EXPECT_TRUE(attrs.IsSet(f.src + "/f0", st));  // no attribute was cleared

}

TEST(ZipWrite, DisposeAfterCompletionKeepsChangedAndRefusedFiles) {
  Fixture f;
  for (const char* n : {"a", "b", "c", "d"}) WriteFile(f.src + "/" + n, n);
  f.z.Dispose = true;
  std::vector<std::string> disposed;
  f.z.OnDisposeFile = [&](TArcUnZip::TSender, const std::string& n, bool& skip) {
    disposed.push_back(n.substr(f.src.size() + 1));
    EXPECT_TRUE(testutil::Exists(f.zipName));  // the archive is complete first
    skip = n.find("/b") != std::string::npos;
  };
  // "c" changes after it was stored (while "d" is being stored): it must survive.
  f.z.OnEndZip = [&](TArcUnZip::TSender, const std::string& n, int32_t, int32_t, int32_t) {
    if (n == f.src + "/d") WriteFile(f.src + "/c", "c changed");
  };
  f.z.FilesList = {f.src + "/*"};
  ASSERT_EQ(f.z.ZipFiles(), 4);
  EXPECT_EQ(disposed, (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(FolderFiles(f.src).size(), 2u);
  EXPECT_TRUE(testutil::Exists(f.src + "/b"));
  EXPECT_EQ(ReadFile(f.src + "/c"), "c changed");
}

TEST(ZipWrite, ArchiveAttributeResetAndSkip) {
  Fixture f;
  for (const char* n : {"a", "b", "c"}) WriteFile(f.src + "/" + n, n);
  f.z.ResetArchiveBitOnZip = true;
  f.z.FilesList = {f.src + "/*"};
  ASSERT_EQ(f.z.ZipFiles(), 3);
  ::unlink(f.zipName.c_str());
  f.z.SkipIfArchiveBitNotSet = true;
  f.z.FilesList = {f.src + "/*"};
  EXPECT_EQ(f.z.ZipFiles(), 0);
  EXPECT_EQ(f.skips.size(), 3u);
  EXPECT_EQ(f.skips[0], "5:" + f.src + "/a");
}

namespace {

// A memory stream that takes no more than capacity bytes, as a full disk would.
class TFullStream : public TMemoryStream {
 public:
  explicit TFullStream(size_t capacity) : capacity_(capacity) {}
  size_t WriteAt(int64_t pos, const void* p, size_t n) override {
    size_t room = pos >= static_cast<int64_t>(capacity_) ? 0 : capacity_ - static_cast<size_t>(pos);
    return TMemoryStream::WriteAt(pos, p, std::min(n, room));
  }

 private:
  size_t capacity_;
};

}  // namespace

TEST(ZipOutput, PatchesBufferedAndWrittenBytesAndReportsAFullMedium) {
  TMemoryStream s;
  TZipOutput out(s);
  std::string big(300000, 'x');
  out.Append("head");
  out.Append(big);  // flushes "head" and writes the big block directly
  out.Append("tail");
  out.PatchAt(0, "HEAD", 4);              // already in the stream
  out.PatchAt(out.Pos() - 4, "TAIL", 4);  // still buffered
  out.Flush();
  std::string bytes(s.Bytes().begin(), s.Bytes().end());
  EXPECT_EQ(bytes, "HEAD" + big + "TAIL");
  out.Truncate(4);
  out.Append("!");
  out.Flush();
  EXPECT_EQ(std::string(s.Bytes().begin(), s.Bytes().end()), "HEAD!");

  TFullStream full(1000);
  TZipOutput o2(full);
  o2.Append(std::string(999, 'a'));
  o2.Append("bc");
  try {
    o2.Flush();
    ADD_FAILURE() << "no exception";
  } catch (const ENotEnoughRoom& e) {
    EXPECT_STREQ(e.what(), "Not enough room to write archive");
  }
}
