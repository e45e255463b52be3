// The archive attribute: a stamp in the xattr "user.arcavo.archived", or in the state file where
// xattrs are refused.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <string>

#include "platform/archiveattr.h"
#include "testutil.h"

using testutil::Quote;
using testutil::TempDir;

namespace {

bool IsSet(TArchiveAttributes& a, const std::string& p) {
  struct stat st;
  EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
  return a.IsSet(p, st);
}

void ClearNow(TArchiveAttributes& a, const std::string& p) {
  struct stat st;
  ASSERT_EQ(::stat(p.c_str(), &st), 0);
  a.Clear(p, TFileStamp::Of(st));
}

// a, b, c cleared; then a grows, b is touched, c is copied to c2: a, b and c2 read as set.
void ChangeScenario(TArchiveAttributes::TXattrUse use, const std::string& dir,
                    const std::string& state) {
  for (const char* n : {"a", "b", "c"}) testutil::WriteFile(dir + "/" + n, n);
  {
    TArchiveAttributes attrs(use, state);
    for (const char* n : {"a", "b", "c"}) {
      EXPECT_TRUE(IsSet(attrs, dir + "/" + n));
      ClearNow(attrs, dir + "/" + n);
    }
    attrs.Commit();
  }
  auto r = testutil::Run("cd " + Quote(dir) +
                         " && sleep 0.01 && echo x >> a && touch -d '+1 second' b && cp -a c c2");
  ASSERT_EQ(r.status, 0) << r.out;
  TArchiveAttributes attrs(use, state);
  EXPECT_TRUE(IsSet(attrs, dir + "/a"));
  EXPECT_TRUE(IsSet(attrs, dir + "/b"));
  EXPECT_FALSE(IsSet(attrs, dir + "/c"));
  EXPECT_TRUE(IsSet(attrs, dir + "/c2"));
}

}  // namespace

TEST(FileStamp, TextRoundTrip) {
  TFileStamp s{123, 456, 1700000000123456789};
  TFileStamp back;
  ASSERT_TRUE(TFileStamp::Parse(s.Text(), back));
  EXPECT_EQ(back, s);
  EXPECT_FALSE(TFileStamp::Parse("1 2", back));
  EXPECT_FALSE(TFileStamp::Parse("1 2 3 4", back));
}

TEST(ArchiveAttributes, XattrStampFollowsChanges) {
  TempDir t;
  std::string state = t / "state/archived.state";
  ChangeScenario(TArchiveAttributes::TXattrUse::Auto, t.path(), state);
  char buf[100];
  ssize_t n = ::getxattr((t / "c").c_str(), kArchivedXattr, buf, sizeof buf);
  ASSERT_GT(n, 0);
  struct stat st;
  ::stat((t / "c").c_str(), &st);
  EXPECT_EQ(std::string(buf, static_cast<size_t>(n)), TFileStamp::Of(st).Text());
  EXPECT_FALSE(testutil::Exists(state));  // nothing needed the state file
}

TEST(ArchiveAttributes, StateFileWhenXattrsAreRefused) {
  TempDir t;
  std::string state = t / "state/archived.state";
  ChangeScenario(TArchiveAttributes::TXattrUse::Refused, t.path(), state);
  EXPECT_TRUE(testutil::Exists(state));
  EXPECT_LT(::getxattr((t / "c").c_str(), kArchivedXattr, nullptr, 0), 0);
  EXPECT_NE(testutil::ReadFile(state).find(t / "c"), std::string::npos);
}

TEST(ArchiveAttributes, StaleStampLeavesTheBitSet) {
  TempDir t;
  testutil::WriteFile(t / "f", "one");
  struct stat st;
  ::stat((t / "f").c_str(), &st);
  TFileStamp old = TFileStamp::Of(st);
  testutil::WriteFile(t / "f", "changed");
  TArchiveAttributes attrs(TArchiveAttributes::TXattrUse::Auto, t / "s");
  attrs.Clear(t / "f", old);
  EXPECT_TRUE(IsSet(attrs, t / "f"));
}

TEST(ArchiveAttributes, DefaultStateFileFollowsXdgStateHome) {
  TempDir t;
  testutil::IsolatedXdg xdg(t.path());
  EXPECT_EQ(TArchiveAttributes::DefaultStateFile(), t / "state/arcavo/archived.state");
}
