#include "platform/programdir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "testutil.h"

TEST(ProgramDir, PerUserFolderUnderXdgConfigHome) {
  testutil::TempDir dir;
  testutil::IsolatedXdg xdg(dir.path());
  ResetProgramDirForTest();
  std::string pd = ProgramDir();
  EXPECT_EQ(pd, dir.path() + "/config/arcavo/");
  struct stat st;
  ASSERT_EQ(::stat(pd.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 077, 0u) << "the folder is private";
  ResetProgramDirForTest();
}

TEST(ProgramDir, MissingResourceGivesEmptyPath) {
  EXPECT_EQ(ResourcePath("no-such-resource.bin"), "");
  EXPECT_EQ(ExecutableDir().back(), '/');
}
