#include "app/jobfile.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "testutil.h"

using testutil::TempDir;

TEST(JobFile, EscapesOnlyWhatWouldBreakALineOrIsNotUtf8) {
  const std::string name = "/h/a%b\tc\rd\ne/\xC3\xA9t\xC3\xA9/\xFF\xC3/x";
  const std::string esc = JobEscape(name);
  EXPECT_EQ(esc, "/h/a%25b%09c%0Dd%0Ae/\xC3\xA9t\xC3\xA9/%FF%C3/x");
  EXPECT_EQ(JobUnescape(esc), name);
  // Overlong and surrogate encodings are not UTF-8 either.
  EXPECT_EQ(JobEscape("\xC0\xAF"), "%C0%AF");
  EXPECT_EQ(JobEscape("\xED\xA0\x80"), "%ED%A0%80");
  EXPECT_EQ(JobEscape("\xF0\x9F\x98\x80"), "\xF0\x9F\x98\x80");
  // A lone "%" written by hand reads as itself.
  EXPECT_EQ(JobUnescape("/a/100%"), "/a/100%");
  EXPECT_EQ(JobUnescape("/a/%zz%4"), "/a/%zz%4");
}

TEST(JobFile, HandWrittenFileAndTopmostTickedPaths) {
  const std::string text =
      "ARCAVO-JOB 1\r\n"
      "C\tD\t/home/ann/Documents\r\n"
      "M\tD\t/home/ann/Projects/\n"
      "C\tF\t/home/ann/Projects/plan.txt\n"
      "\n"
      "C\tF\t/home/ann/Documents/inside.txt\n"
      "C\tF\t/gone/missing%20file\n";
  std::vector<JobEntry> e;
  std::string err;
  ASSERT_TRUE(ParseJob(text, e, &err)) << err;
  ASSERT_EQ(e.size(), 5u);
  EXPECT_FALSE(e[1].checked);
  EXPECT_TRUE(e[1].folder);
  EXPECT_EQ(e[1].path, "/home/ann/Projects") << "trailing slash dropped";
  EXPECT_EQ(JobTickedPaths(e),
            (std::vector<std::string>{"/home/ann/Documents", "/home/ann/Projects/plan.txt",
                                      "/gone/missing file"}));
}

TEST(JobFile, RefusesWhatIsNotAJob) {
  std::vector<JobEntry> e;
  std::string err;
  EXPECT_FALSE(ParseJob("", e, &err));
  EXPECT_EQ(err, "not a job");
  EXPECT_FALSE(ParseJob("C\tD\t/home\n", e, &err)) << "first line missing";
  EXPECT_FALSE(ParseJob("ARCAVO-JOB 2\nC\tD\t/home\n", e, &err));
  EXPECT_FALSE(ParseJob("ARCAVO-JOB 1\nX\tD\t/home\n", e, &err));
  EXPECT_EQ(err, "line 2 is not a job entry");
  EXPECT_FALSE(ParseJob("ARCAVO-JOB 1\nC\tD\trelative\n", e, &err));
  EXPECT_TRUE(e.empty());
  EXPECT_TRUE(
      ParseJob("\xEF\xBB\xBF"
               "ARCAVO-JOB 1\n",
               e, &err))
      << "an editor's BOM is fine";
}

TEST(JobFile, WriteReadRoundTripIsAtomic) {
  TempDir dir;
  const std::string path = dir / "x.JOB";
  const std::vector<JobEntry> entries{
      {false, true, "/a"}, {true, true, "/a/b\tc"}, {true, false, "/a/\x80.txt"}};
  WriteJobFile(path, entries);
  EXPECT_EQ(testutil::ReadFile(path), "ARCAVO-JOB 1\nM\tD\t/a\nC\tD\t/a/b%09c\nC\tF\t/a/%80.txt\n");
  std::vector<JobEntry> back;
  ASSERT_TRUE(ReadJobFile(path, back, nullptr));
  EXPECT_EQ(back, entries);
  // The desktop knows a job by its first line: the installed MIME type's magic is that line.
  if (const char* source = std::getenv("ARCAVO_SOURCE_DIR")) {
    const std::string first =
        testutil::ReadFile(path).substr(0, testutil::ReadFile(path).find('\n'));
    EXPECT_NE(testutil::ReadFile(std::string(source) + "/data/arcavo.xml")
                  .find("<match type=\"string\" offset=\"0\" value=\"" + first + "\"/>"),
              std::string::npos);
  }
  std::string err;
  EXPECT_FALSE(ReadJobFile(dir / "none.JOB", back, &err));
  // A folder that cannot exist is reported, not ignored.
  testutil::WriteFile(dir / "ro", "");
  EXPECT_THROW(WriteJobFile(dir / "ro/sub.JOB", entries), std::system_error);
}

TEST(JobFile, PathBelow) {
  EXPECT_TRUE(IsPathBelow("/a/b", "/a"));
  EXPECT_TRUE(IsPathBelow("/a", "/"));
  EXPECT_FALSE(IsPathBelow("/ab", "/a"));
  EXPECT_FALSE(IsPathBelow("/a", "/a"));
  EXPECT_FALSE(IsPathBelow("/", "/"));
}
