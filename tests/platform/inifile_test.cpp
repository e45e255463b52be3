#include "platform/inifile.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "testutil.h"

using testutil::TempDir;

namespace {

// Reads a file with Python's configparser (keys kept as written) and prints
// "section|key|value" per line in file order.
std::string ReadWithConfigParser(const std::string& path) {
  std::string py =
      "import configparser,sys\n"
      "c=configparser.RawConfigParser(strict=False,interpolation=None)\n"
      "c.optionxform=str\n"
      "c.read(sys.argv[1],encoding='utf-8')\n"
      "for s in c.sections():\n"
      "  for k,v in c.items(s): print(s+'|'+k+'|'+v)\n";
  auto r = testutil::Run("python3 -c " + testutil::Quote(py) + " " + testutil::Quote(path));
  EXPECT_EQ(r.status, 0) << r.out;
  return r.out;
}

}  // namespace

TEST(IniFile, WrittenFileReadsBackInConfigParserInOrder) {
  TempDir dir;
  IniFile ini(dir / "default.ini");
  ini.WriteString("Options", "ClrDisk", "1");
  ini.WriteInteger("Options", "OptCheck2", 428);
  ini.WriteString("Options", "ComboEdit1", "MaxSizeMb");
  ini.WriteString("Options", "HotKeyFunc#", "3");
  ini.WriteString("Options", "TempPath", "/tmp/with,comma/and space");
  ini.WriteString("SGcol0", "1", "*.*");
  ini.WriteString("SGcol0", "4", "");
  ini.WriteBool("Options", "Hints", true);
  ini.Save();

  std::string text = testutil::ReadFile(dir / "default.ini");
  EXPECT_NE(text.find("HotKeyFunc#=3\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\n4=\n"), std::string::npos) << text;

  EXPECT_EQ(ReadWithConfigParser(dir / "default.ini"),
            "Options|ClrDisk|1\n"
            "Options|OptCheck2|428\n"
            "Options|ComboEdit1|MaxSizeMb\n"
            "Options|HotKeyFunc#|3\n"
            "Options|TempPath|/tmp/with,comma/and space\n"
            "Options|Hints|1\n"
            "SGcol0|1|*.*\n"
            "SGcol0|4|\n");
}

TEST(IniFile, SectionsAndKeysMatchWithoutCase) {
  IniFile ini;
  ini.Parse("[options]\nclrdisk=1\noptcheck2 = 24 \n[SGCOL0]\n1=*.DOC\n");
  EXPECT_EQ(ini.ReadInteger("Options", "ClrDisk", -1), 1);
  EXPECT_EQ(ini.ReadInteger("OPTIONS", "OptCheck2", 0), 24);
  EXPECT_EQ(ini.ReadString("SGcol0", "1", ""), "*.DOC");
  // Writing an existing key under other case replaces its value in place.
  ini.WriteString("Options", "CLRDISK", "0");
  EXPECT_EQ(ini.Keys("options"), (std::vector<std::string>{"clrdisk", "optcheck2"}));
  EXPECT_EQ(ini.ReadString("Options", "ClrDisk", ""), "0");
}

TEST(IniFile, DefaultsForMissingOrMalformedValues) {
  IniFile ini;
  ini.Parse("; a comment\n[Options]\nA=12x\nB=\nC=-5\nD=0\nE=+7\n");
  EXPECT_EQ(ini.ReadInteger("Options", "A", -1), -1);
  EXPECT_EQ(ini.ReadInteger("Options", "B", 9), 9);
  EXPECT_EQ(ini.ReadInteger("Options", "C", 0), -5);
  EXPECT_EQ(ini.ReadInteger("Options", "E", 0), 7);
  EXPECT_FALSE(ini.ReadBool("Options", "D", true));
  EXPECT_TRUE(ini.ReadBool("Options", "Missing", true));
  EXPECT_EQ(ini.ReadString("Nowhere", "x", "dflt"), "dflt");
  EXPECT_EQ(ini.Text().rfind("; a comment\n", 0), 0u) << "comments before the first section stay";
}

TEST(IniFile, EraseSectionAndDeleteKey) {
  IniFile ini;
  ini.Parse("[SGcol0]\n1=A\n2=B\n[SGcol1]\n1=C\n");
  ini.EraseSection("sgcol0");
  EXPECT_FALSE(ini.SectionExists("SGcol0"));
  ini.WriteString("SGcol0", "1", "Z");  // re-created at the end
  EXPECT_EQ(ini.Sections(), (std::vector<std::string>{"SGcol1", "SGcol0"}));
  ini.DeleteKey("SGcol1", "1");
  EXPECT_FALSE(ini.ValueExists("SGcol1", "1"));
}

TEST(IniFile, CrLfFilesAndByteOrderMark) {
  IniFile ini;
  ini.Parse("\xEF\xBB\xBF[ZIPFILE]\r\nFname=/a b/docs.zip\r\n");
  EXPECT_EQ(ini.ReadString("ZIPFILE", "Fname", ""), "/a b/docs.zip");
}

TEST(IniFile, FailedSaveLeavesPreviousFileIntact) {
  TempDir dir;
  std::string path = dir / "job.ini";
  testutil::WriteFile(path, "[Options]\nClrDisk=1\n");
  IniFile ini(path);
  ini.WriteString("Options", "ClrDisk", "0");
  IniFile::beforeRenameHook = [](const std::string&) { throw std::runtime_error("disk gone"); };
  EXPECT_THROW(ini.Save(), std::runtime_error);
  IniFile::beforeRenameHook = nullptr;
  EXPECT_EQ(testutil::ReadFile(path), "[Options]\nClrDisk=1\n");
  // No temporary file is left behind.
  auto r = testutil::Run("ls -A " + testutil::Quote(dir.path()));
  EXPECT_EQ(r.out, "job.ini\n");
  ini.Save();
  EXPECT_EQ(IniFile(path).ReadString("Options", "ClrDisk", ""), "0");
}

TEST(IniFile, SaveIntoMissingFolderThrows) {
  TempDir dir;
  IniFile ini(dir / "no/such/folder.ini");
  ini.WriteString("A", "b", "c");
  EXPECT_THROW(ini.Save(), std::system_error);
}
