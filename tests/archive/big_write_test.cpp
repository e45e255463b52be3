// Sources beyond 4 GiB: sparse files, so only the archive's few megabytes are really written.
#include <gtest/gtest.h>

#include <string>

#include "archive/arczip.h"
#include "testutil.h"

using testutil::Quote;
using Sh = testutil::CommandResult;
using testutil::TempDir;

TEST(BigWrite, SparseSourcesNeedingZip64) {
  for (const char* t : {"unzip", "7zz", "truncate", "cmp"})
    if (!testutil::HaveTool(t)) GTEST_SKIP() << t << " missing";
  TempDir t;
  testutil::IsolatedXdg xdg(t.path());
  // 4500 MiB needs Zip64 sizes; 0xFFFF0000 bytes fits 32 bits but gets the Zip64 room reserved.
  ASSERT_EQ(
      testutil::Run("cd " + Quote(t.path()) + " && truncate -s 4500M big.dat && truncate -s " +
                    std::to_string(0xFFFF0000ull) + " edge.dat && echo tail > small.txt")
          .status,
      0);
  TArcZip z;
  z.SetZipName(t / "big.zip");
  z.PackLevel = 1;
  z.FilesList = {t / "big.dat", t / "edge.dat", t / "small.txt"};
  ASSERT_EQ(z.ZipFiles(), 3);
  ASSERT_EQ(z.EntryCount(), 3);
  EXPECT_EQ(z.EntrySize(0), 4500ll * 1024 * 1024);
  EXPECT_TRUE(z.EntryHeader(0).HasUnComprSize64);
  EXPECT_EQ(z.EntrySize(1), static_cast<int64_t>(0xFFFF0000ull));
  EXPECT_FALSE(z.EntryHeader(1).HasZip64());
  EXPECT_TRUE(z.NeedsZip64());

  // Both big entries carry a Zip64 field in their local header.
  std::string bytes = testutil::ReadFile(t / "big.zip");
  for (int i = 0; i < 2; ++i) {
    size_t off = z.EntryHeader(i).LocalHeaderOffset();
    auto* p = reinterpret_cast<const uint8_t*>(bytes.data()) + off;
    // The Zip64 field (both sizes) comes first; the time and owner fields follow it.
    EXPECT_GE(GetU16(p + 28), 20) << i;
    EXPECT_EQ(GetU16(p + 30 + GetU16(p + 26)), kZip64ExtraId) << i;
    EXPECT_EQ(GetU16(p + 32 + GetU16(p + 26)), 16) << i;
  }
  auto r = testutil::Run("unzip -tq " + Quote(t / "big.zip"));
  EXPECT_EQ(r.status, 0) << r.out;
  r = testutil::Run("7zz t " + Quote(t / "big.zip"));
  EXPECT_EQ(r.status, 0) << r.out;
  r = testutil::Run("unzip -p " + Quote(t / "big.zip") + " big.dat | cmp - " +
                    Quote(t / "big.dat"));
  EXPECT_EQ(r.status, 0) << r.out;
}
