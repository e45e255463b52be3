#include "platform/wildcard.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

TEST(WildcardMatch, SetsRangesAndNegation) {
  EXPECT_TRUE(WildcardMatch("*.<!t>xt", "a.bxt"));
  EXPECT_FALSE(WildcardMatch("*.<!t>xt", "a.txt"));
  EXPECT_TRUE(WildcardMatch("*.<^t>xt", "a.bxt"));
  EXPECT_TRUE(WildcardMatch("data<0-9>.bak", "data7.bak"));
  EXPECT_FALSE(WildcardMatch("data<0-9>.bak", "datax.bak"));
  EXPECT_FALSE(WildcardMatch("data<0-9>.bak", "data77.bak"));
  EXPECT_TRUE(WildcardMatch("<abc-e>", "d"));
  EXPECT_FALSE(WildcardMatch("<abc-e>", "f"));
  // "-" at the end of a set is literal.
  EXPECT_TRUE(WildcardMatch("x<a->", "x-"));
  // A star may be followed by a set.
  EXPECT_TRUE(WildcardMatch("*<0-9>", "file9"));
  EXPECT_FALSE(WildcardMatch("*<0-9>", "file"));
}

TEST(WildcardMatch, CaseInsensitiveWholeStringMatch) {
  EXPECT_TRUE(WildcardMatch("*.txt", "Readme.TXT"));
  EXPECT_TRUE(WildcardMatch("*.TXT", "readme.txt"));
  EXPECT_TRUE(WildcardMatch("ÄBC?", "äbcd"));
  EXPECT_FALSE(WildcardMatch("*.txt", "readme.txt.bak"));
  EXPECT_FALSE(WildcardMatch("readme", "readme.txt"));
  EXPECT_TRUE(WildcardMatch("*", ""));
  EXPECT_TRUE(WildcardMatch("*", "anything/at/all"));
  EXPECT_TRUE(WildcardMatch("", ""));
  EXPECT_FALSE(WildcardMatch("", "a"));
  EXPECT_FALSE(WildcardMatch("?", ""));
  // "?" is one character, also when it is encoded in several bytes.
  EXPECT_TRUE(WildcardMatch("a?c", "aéc"));
  EXPECT_TRUE(WildcardMatch("a**b", "ab"));
  EXPECT_TRUE(WildcardMatch("*a*b*", "xxaxxbxx"));
  EXPECT_FALSE(WildcardMatch("*a*b*", "xxbxxaxx"));
  // "*" and a literal tail, as list patterns are: the tail in any case, after any characters.
  EXPECT_TRUE(WildcardMatch("*.JPG", "été.jpg"));
  EXPECT_TRUE(WildcardMatch("*.jpg", ".JPG"));
  EXPECT_FALSE(WildcardMatch("*.jpg", "jpg"));
  EXPECT_FALSE(WildcardMatch("*.jpg", "a.jpgé"));
  EXPECT_FALSE(WildcardMatch("*É", "aÉ.x"));
  EXPECT_TRUE(WildcardMatch("*É", "aé"));
  EXPECT_TRUE(WildcardMatch("*[1].txt", "x[1].TXT"));
  EXPECT_TRUE(WildcardMatch("*>", "a>"));
}

TEST(WildcardMatch, SquareBracketsAreLiteralAndMalformedSetsFail) {
  EXPECT_TRUE(WildcardMatch("file[1].txt", "file[1].txt"));
  EXPECT_FALSE(WildcardMatch("file[1].txt", "file1.txt"));
  EXPECT_FALSE(WildcardMatch("file[0-9].txt", "file5.txt"));
  EXPECT_FALSE(WildcardMatch("a<bc", "ab"));
  EXPECT_FALSE(WildcardMatch("a<bc", "a<bc"));
  EXPECT_TRUE(WildcardMatch("a>b", "a>b"));
}

TEST(WildcardMatch, HostilePatternRunsInPolynomialTime) {
  std::string pattern(2000, '*');
  pattern += "b";
  std::string text(10000, 'a');
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(WildcardMatch(pattern, text));
  EXPECT_TRUE(WildcardMatch(std::string(2000, '*'), text));
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                  start)
                .count();
  EXPECT_LT(ms, 500);
  std::string alternating;
  for (int i = 0; i < 1000; ++i) alternating += "*a";
  EXPECT_FALSE(WildcardMatch(alternating + "b", text));
  EXPECT_TRUE(WildcardMatch(alternating, text));
}

TEST(MatchesPatternList, PatternWithSlashMatchesWholePathOtherwiseNameOnly) {
  std::vector<std::string> tmp{"*.tmp"};
  EXPECT_TRUE(MatchesPatternList(tmp, "/x/a.TMP"));
  EXPECT_FALSE(MatchesPatternList(tmp, "/x.tmp/a.txt"));
  std::vector<std::string> folder{"/temp/*"};
  EXPECT_TRUE(MatchesPatternList(folder, "/temp/a.txt"));
  EXPECT_TRUE(MatchesPatternList(folder, "/TEMP/sub/b.doc"));
  EXPECT_FALSE(MatchesPatternList(folder, "/home/temp/a.txt"));
  EXPECT_FALSE(MatchesPatternList(folder, "temp"));
  EXPECT_FALSE(MatchesPatternList({}, "a"));
}
