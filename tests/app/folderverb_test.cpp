// The folder verb as file-manager action files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFileInfo>

#include "app/folderverb.h"
#include "platform/inifile.h"
#include "testutil.h"

namespace {

using testutil::IsolatedXdg;
using testutil::TempDir;

class FolderVerbTest : public ::testing::Test {
 protected:
  FolderVerbTest() : xdg_(tmp_.path()) {}
  std::string Data(const std::string& rel) { return tmp_ / ("data/" + rel); }
  void Mkdir(const std::string& rel) { QDir().mkpath(QString::fromStdString(Data(rel))); }
  TempDir tmp_;
  IsolatedXdg xdg_;
};

TEST_F(FolderVerbTest, WrittenOnlyWhereTheFileManagerIsPresentAndRemovedExactly) {
  const QString program = QStringLiteral("/opt/my apps/arcavo");
  EXPECT_EQ(RegisterApp(program), 0);  // no file manager folders: nothing written
  EXPECT_TRUE(QDir(QString::fromStdString(Data("")))
                  .entryList(QDir::NoDotAndDotDot | QDir::AllEntries)
                  .isEmpty());

  Mkdir("kio");
  Mkdir("nemo");
  Mkdir("nemo/actions");
  testutil::WriteFile(Data("nemo/actions/other.nemo_action"), "[Nemo Action]\n");
  EXPECT_EQ(RegisterApp(program), 2);

  IniFile kde(Data("kio/servicemenus/arcavo-folder.desktop"));
  EXPECT_EQ(kde.ReadString("Desktop Entry", "MimeType", ""), "inode/directory;");
  EXPECT_EQ(kde.ReadString("Desktop Action arcavoFolder", "Name", ""), ">Arcavo");
  EXPECT_EQ(kde.ReadString("Desktop Action arcavoFolder", "Exec", ""),
            "\"/opt/my apps/arcavo\" %f");
  IniFile nemo(Data("nemo/actions/arcavo-folder.nemo_action"));
  EXPECT_EQ(nemo.ReadString("Nemo Action", "Exec", ""), "\"/opt/my apps/arcavo\" %F");
  EXPECT_EQ(nemo.ReadString("Nemo Action", "Extensions", ""), "dir;");
  struct stat st;
  ASSERT_EQ(::stat(Data("kio/servicemenus/arcavo-folder.desktop").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
  EXPECT_FALSE(testutil::Exists(Data("nautilus")));
  // Never the default opener of folders.
  EXPECT_FALSE(testutil::Exists(tmp_ / "config/mimeapps.list"));
  EXPECT_FALSE(testutil::Exists(Data("applications/mimeapps.list")));

  EXPECT_EQ(UNRegisterApp(), 2);
  EXPECT_FALSE(testutil::Exists(Data("kio/servicemenus/arcavo-folder.desktop")));
  EXPECT_FALSE(testutil::Exists(Data("nemo/actions/arcavo-folder.nemo_action")));
  EXPECT_TRUE(testutil::Exists(Data("nemo/actions/other.nemo_action")));
  EXPECT_TRUE(testutil::Exists(Data("kio/servicemenus")));
  EXPECT_EQ(UNRegisterApp(), 0);
}

TEST_F(FolderVerbTest, NautilusScriptPassesTheFolderQuoted) {
  Mkdir("nautilus");
  EXPECT_EQ(RegisterApp(QStringLiteral("/opt/it's/arcavo")), 1);
  const std::string script = testutil::ReadFile(Data("nautilus/scripts/Arcavo"));
  EXPECT_NE(script.find("exec '/opt/it'\\''s/arcavo' \"$1\""), std::string::npos) << script;
  if (testutil::HaveTool("sh")) {
    // Running it with a stand-in program shows what the program would receive.
    const std::string fake = tmp_ / "fake";
    testutil::WriteFile(fake, "#!/bin/sh\nprintf '%s|' \"$@\"\n");
    ::chmod(fake.c_str(), 0755);
    ASSERT_EQ(RegisterApp(QString::fromStdString(fake)), 1);
    auto r = testutil::Run(testutil::Quote(Data("nautilus/scripts/Arcavo")) + " '/a b/c'");
    EXPECT_EQ(r.out, "/a b/c|");
  }
}

TEST(FolderVerb, ExecArgumentsAreQuotedForDesktopEntries) {
  EXPECT_EQ(QuoteExecArg("/usr/bin/arcavo"), "\"/usr/bin/arcavo\"");
  EXPECT_EQ(QuoteExecArg("/a \"b\"/$x`y`\\z%"), "\"/a \\\"b\\\"/\\$x\\`y\\`\\\\z%%\"");
}

}  // namespace
