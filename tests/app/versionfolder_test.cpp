// Version folders as every part of the program reads them.
#include "app/versionfolder.h"

#include <gtest/gtest.h>

TEST(VersionFolder, NoSuffixValuesAndOrder) {
  const std::pair<std::string, std::string> cases[] = {
      {"data/a/#1F2E5ED3#/", "data/a/"},
      {"data/a/#1F2E5ED3#/b/deeper/", "data/a/"},
      {"#1F2E5ED3#/", ""},
      {"#1F2E5ED3#/x/", ""},
      {"a/#b/#1F2E5ED3#/", "a/#b/"},
      // Not a version folder: another length, not a whole component, no "/" after it.
      {"data/a/#123#/", "data/a/#123#/"},
      {"abcdefghi#/x", "abcdefghi#/x"},
      {"x12345678#/", "x12345678#/"},
      {"a/x#1F2E5ED3#/", "a/x#1F2E5ED3#/"},
      {"a/#1F2E5ED3#", "a/#1F2E5ED3#"},
      {"a/#1F2/5ED3#/", "a/#1F2/5ED3#/"},
      {"plain/folder/", "plain/folder/"},
      {"", ""},
  };
  for (const auto& [path, cut] : cases) {
    EXPECT_EQ(NoSuffix(path), cut) << path;
    EXPECT_EQ(NoSuffix(QString::fromStdString(path)), QString::fromStdString(cut)) << path;
  }
  EXPECT_EQ(VersionFolderValues("a/#1F2E5ED3#/b/#0000001A#/"),
            std::vector<uint32_t>({0x1F2E5ED3u, 0x1Au}));
  EXPECT_TRUE(VersionFolderValues("a/#123#/b#1F2E5ED3#/").empty());
  // Later folders have larger values, also across the wrap of the 32-bit count.
  EXPECT_TRUE(VersionNewer(0x1F2E5EE0u, 0x1F2E5ED3u));
  EXPECT_FALSE(VersionNewer(0x1F2E5ED3u, 0x1F2E5EE0u));
  EXPECT_TRUE(VersionNewer(0x00000010u, 0xFFFFFFF0u));
  EXPECT_FALSE(VersionNewer(7u, 7u));
}
