// Archives damaged at test time (cut directories, cut data, bsdtar's data descriptors, encrypted
// entries, repeated names, an end record that overstates, a self-extractor stub in front,
// overlapping entries) read through the recovery scan and repaired by arczip: every entry that
// zip -FF salvages and unzip tests good is found, and written, with the same bytes, date and
// (where its central record survived) mode; the repaired archives pass unzip -t.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "archive/arcunzip.h"
#include "testutil.h"

using testutil::Quote;
using testutil::TempDir;

namespace {

struct Item {
  bool good = false;
  std::string data;
  uint32_t mode = 0;
  uint32_t dosTime = 0;
};

std::map<std::string, Item> Read(const std::string& path, const std::string& password,
                                 bool assumeBad) {
  TArcUnZip z;
  z.DoProcessMessages = false;
  z.IncompleteZipMode =
      assumeBad ? TIncompleteZipMode::izAssumeBad : TIncompleteZipMode::izAssumeNotAZip;
  z.Password = password;
  z.SetZipName(path);
  z.ReadArchive();
  // Every damaged file is named as such (rebuilt by the scan, or a count that is wrong).
  EXPECT_EQ(!z.DirectoryDamage().empty(), assumeBad) << path;
  std::map<std::string, Item> out;
  TempDir dir;
  for (int i = 0; i < z.EntryCount(); ++i) {
    Item& it = out[z.EntryFullName(i)];
    it.good = z.TestEntry(i);
    it.mode = z.EntryHeader(i).ExtFileAttrib >> 16;
    it.dosTime = z.EntryHeader(i).ModifDateTime;
  }
  z.SetDestDir(dir.path());
  z.RecreateDirs = true;
  z.DoAll = true;
  z.Extract();
  for (auto& [name, it] : out)
    if (it.good && name.back() != '/') it.data = testutil::ReadFile(dir / name);
  return out;
}

// Names that unzip -t reports OK in an archive.
std::vector<std::string> TestedGood(const std::string& path, const std::string& password) {
  auto r =
      testutil::Run("unzip -t " + (password.empty() ? "" : "-P " + password + " ") + Quote(path));
  std::vector<std::string> names;
  size_t at = 0;
  while ((at = r.out.find("testing: ", at)) != std::string::npos) {
    at += 9;
    size_t end = r.out.find('\n', at);
    std::string line = r.out.substr(at, end - at);
    if (line.size() > 2 && line.compare(line.size() - 2, 2, "OK") == 0) {
      line.erase(line.size() - 2);
      while (!line.empty() && line.back() == ' ') line.pop_back();
      names.push_back(line);
    }
    at = end;
  }
  return names;
}

TEST(RecoveryInterop, SalvagesWhatZipFFSalvages) {
  for (const char* tool : {"zip", "unzip", "bsdtar", "python3"})
    if (!testutil::HaveTool(tool)) GTEST_SKIP() << tool;
  TempDir dir;
  auto sh = [&](const std::string& cmd) {
    auto r = testutil::Run("set -e; cd " + Quote(dir.path()) + "; " + cmd);
    EXPECT_EQ(r.status, 0) << cmd << "\n" << r.out;
    return r.out;
  };
  sh("mkdir src; for i in 1 2 3 4 5 6; do seq 1 $((i * 4000)) > src/f$i.txt; done;"
     " chmod 600 src/f1.txt; chmod 755 src/f6.txt; chmod 700 src; touch -d '2024-03-01 10:00:07' "
     "src/*;"
     " zip -qr six.zip src; bsdtar --format zip -cf bsd.zip src; zip -q -P secret enc.zip src/*;"
     " python3 -c \"import zipfile,warnings; warnings.simplefilter('ignore');"
     " z=zipfile.ZipFile('dup.zip','w'); z.writestr('a.txt','first'); z.writestr('b.txt','b');"
     " z.writestr('a.txt','second'); z.close()\"");
  // Cuts a copy of an archive at a point given by a Python expression over its bytes d.
  auto cut = [&](const std::string& from, const std::string& to, const std::string& expr) {
    sh("python3 -c \"d=open('" + from + "','rb').read(); open('" + to + "','wb').write(d[:" + expr +
       "])\"");
  };
  cut("six.zip", "a.zip", "d.find(b'PK\\\\x01\\\\x02') + 100");
  cut("six.zip", "b.zip", "len(d) // 2");
  cut("bsd.zip", "c.zip", "d.find(b'PK\\\\x01\\\\x02') + 60");
  cut("enc.zip", "d.zip", "d.find(b'PK\\\\x01\\\\x02') + 60");
  // (f) the end record claims 8 entries for the 6 records.
  sh("python3 -c \"d=bytearray(open('six.zip','rb').read()); e=d.rfind(b'PK\\\\x05\\\\x06');"
     " d[e+8]=8; d[e+10]=8; open('f.zip','wb').write(d)\"");
  // (g) an ELF stub holding a header-like signature, then the archive without its end record.
  sh("cat " + Quote(RECOVER_STUB_PATH) + " six.zip > g.EXE");
  ASSERT_NE(testutil::ReadFile(RECOVER_STUB_PATH).find(std::string("PK\x03\x04\x14\x00", 6)),
            std::string::npos);
  cut("g.EXE", "g.EXE", "d.rfind(b'PK\\\\x05\\\\x06')");
  // (h) the central record of the last file points at the header of the one before it.
  sh("python3 -c \"d=bytearray(open('six.zip','rb').read()); e=d.rfind(b'PK\\\\x05\\\\x06');"
     " c=int.from_bytes(d[e+16:e+20],'little'); r=[]; p=c;\n"
     "while d[p:p+4]==b'PK\\\\x01\\\\x02': r.append(p); p+=46+sum(int.from_bytes(d[p+k:p+k+2],"
     "'little') for k in (28,30,32))\n"
     "d[r[-1]+42:r[-1]+46]=d[r[-2]+42:r[-2]+46]; open('h.zip','wb').write(d)\"");

  struct Case {
    const char* file;
    const char* source;
    std::string password;
    bool directoryCut;  // some central records are gone: their modes are the default
    bool dataWhole;     // every entry's data is there: all are found good
  };
  const Case cases[] = {
      {"a.zip", "six.zip", "", true, true},  {"b.zip", "six.zip", "", true, false},
      {"c.zip", "bsd.zip", "", true, true},  {"d.zip", "enc.zip", "secret", true, true},
      {"f.zip", "six.zip", "", false, true}, {"g.EXE", "six.zip", "", true, true},
      {"h.zip", "six.zip", "", false, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::map<std::string, Item> original = Read(dir / c.source, c.password, false);
    const std::string bad = dir / c.file;
    const std::string before = testutil::ReadFile(bad);
    std::map<std::string, Item> ours = Read(bad, c.password, true);
    EXPECT_EQ(testutil::ReadFile(bad), before);  // the damaged file is left as it was
    sh("rm -f ff.zip; yes | zip -FF " + std::string(c.file) + " --out ff.zip > /dev/null || true");
    // What the peer salvaged and tests good (zip -FF salvages nothing behind a stub), or all.
    std::vector<std::string> expected = TestedGood(dir / "ff.zip", c.password);
    if (c.dataWhole) {
      expected.clear();
      for (const auto& [name, it] : original) expected.push_back(name);
    }
    EXPECT_FALSE(expected.empty());
    for (const std::string& name : expected) {
      SCOPED_TRACE(name);
      ASSERT_TRUE(ours.count(name));
      EXPECT_TRUE(ours[name].good);
      if (name.back() == '/') continue;
      EXPECT_TRUE(ours[name].data == testutil::ReadFile(dir / name));
      EXPECT_EQ(ours[name].dosTime, original.at(name).dosTime);
    }
    if (!c.directoryCut) {
      for (const auto& [name, it] : original) EXPECT_EQ(ours[name].mode, it.mode) << name;
    }

    // Repaired: a plain archive that unzip tests good, holding the same entries once each, with
    // the same bytes, dates and modes; the entry cut short is read but not written.
    const std::string fixed = dir / (std::string(c.file) + ".fixed.zip");
    auto repair = testutil::Run(Quote(ARCZIP_PATH) + " repair " + Quote(bad) + " " + Quote(fixed));
    EXPECT_EQ(repair.status, c.dataWhole ? 0 : 1) << repair.out;
    EXPECT_EQ(testutil::ReadFile(bad), before);
    auto tested = testutil::Run(
        "unzip -tq " + (c.password.empty() ? "" : "-P " + c.password + " ") + Quote(fixed));
    EXPECT_EQ(tested.status, 0) << tested.out;
    std::map<std::string, Item> written = Read(fixed, c.password, false);
    size_t salvaged = 0;
    for (const auto& [name, it] : ours) salvaged += it.good;
    EXPECT_EQ(written.size(), salvaged);
    EXPECT_NE(repair.out.find(std::to_string(salvaged) + " of " + std::to_string(ours.size())),
              std::string::npos)
        << repair.out;
    for (const std::string& name : expected) {
      SCOPED_TRACE("repaired " + name);
      ASSERT_TRUE(written.count(name));
      EXPECT_TRUE(written[name].good);
      EXPECT_TRUE(written[name].data == ours[name].data);
      EXPECT_EQ(written[name].dosTime, original.at(name).dosTime);
      EXPECT_EQ(written[name].mode, ours[name].mode);
    }
    // Where the directory survived up to the cut, the first entry keeps its mode.
    if (std::string(c.file) == "a.zip") {
      EXPECT_EQ(ours["src/"].mode, 040700u);
    }
  }

  // (e) a repeated name: both contents are kept.
  std::map<std::string, Item> dup = Read(dir / "dup.zip", "", true);
  EXPECT_EQ(dup["a.txt"].data, "first");
  EXPECT_EQ(dup["a (2).txt"].data, "second");
  EXPECT_EQ(dup["b.txt"].data, "b");
  // Repaired, both contents are kept under names our reader and unzip accept.
  auto repair = testutil::Run(Quote(ARCZIP_PATH) + " repair " + Quote(dir / "dup.zip") + " " +
                              Quote(dir / "dupfixed.zip"));
  EXPECT_EQ(repair.status, 0) << repair.out;
  EXPECT_EQ(testutil::Run("unzip -tq " + Quote(dir / "dupfixed.zip")).status, 0);
  std::map<std::string, Item> fixed = Read(dir / "dupfixed.zip", "", false);
  EXPECT_EQ(fixed.size(), 3u);
  EXPECT_EQ(fixed["a.txt"].data, "first");
  EXPECT_EQ(fixed["a (2).txt"].data, "second");
  EXPECT_EQ(fixed["b.txt"].data, "b");
  // (i) 4 KB of garbage inside one entry's data, the directory whole: every entry is tested, the
  // bad one is left out and counted, and the exit status says so.
  sh("python3 -c \"import zipfile; z=zipfile.ZipFile('six.zip'); i=z.getinfo('src/f6.txt');"
     " d=bytearray(open('six.zip','rb').read()); n,m=d[i.header_offset+26],d[i.header_offset+28];"
     " p=i.header_offset+30+n+m+200; d[p:p+4096]=bytes((k*7+3)%256 for k in range(4096));"
     " open('i.zip','wb').write(d)\"");
  repair = testutil::Run(Quote(ARCZIP_PATH) + " repair " + Quote(dir / "i.zip") + " " +
                         Quote(dir / "ifixed.zip"));
  EXPECT_EQ(repair.status, 1) << repair.out;
  EXPECT_NE(repair.out.find("6 of 7 entries read were written"), std::string::npos) << repair.out;
  EXPECT_NE(repair.out.find("1 damaged entries were left out"), std::string::npos) << repair.out;
  EXPECT_EQ(testutil::Run("unzip -tq " + Quote(dir / "ifixed.zip")).status, 0);
  EXPECT_EQ(testutil::Run("unzip -Z1 " + Quote(dir / "ifixed.zip") + " | grep -c f6").out, "0\n");
  // Nothing to read: exit status 2.
  testutil::WriteFile(dir / "noise.zip", std::string(5000, 'x'));
  EXPECT_EQ(testutil::Run(Quote(ARCZIP_PATH) + " repair " + Quote(dir / "noise.zip") + " " +
                          Quote(dir / "noisefixed.zip"))
                .status,
            2);
  EXPECT_FALSE(testutil::Exists(dir / "noisefixed.zip"));
}

}  // namespace
