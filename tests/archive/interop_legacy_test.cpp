// Shrunk and imploded entries written by the test encoders pass the peers' own tests (unzip -t,
// 7zz t), plain and encrypted: the encoders, and with them the decoders' round trips, agree with
// tools nobody here wrote. (Neither peer decodes reduced entries.)
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "legacyencode.h"
#include "testutil.h"
#include "zipbuilder.h"

using testutil::Quote;
using testutil::TempDir;

namespace {

std::string Sample(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < size) {
    switch (rng() % 4) {
      case 0:
        s += "Backups are copies of data kept elsewhere. ";
        break;
      case 1:
        s += std::string(rng() % 500, static_cast<char>(rng() % 3 == 0 ? 0x90 : 'q'));
        break;
      case 2:
        if (s.size() > 9000) s += s.substr(s.size() - 1 - rng() % 8500, 1 + rng() % 400);
        break;
      default:
        for (int i = rng() % 60; i > 0; --i) s += static_cast<char>(rng());
    }
  }
  s.resize(size);
  return s;
}

BuildEntry Legacy(const std::string& name, const std::string& data, uint16_t method, uint16_t flags,
                  const std::string& packed, const std::string& password) {
  BuildEntry e;
  e.name = name;
  e.data = data;
  e.method = method;
  e.flags = flags;
  e.compressed = packed;
  e.password = password;
  return e;
}

TEST(LegacyInterop, PeersTestShrunkAndImplodedEntries) {
  if (!testutil::HaveTool("unzip") || !testutil::HaveTool("7zz")) GTEST_SKIP() << "unzip, 7zz";
  const std::string text = Sample(300000, 1);
  const std::string longText = Sample(1500000, 4);
  std::string noise(90000, '\0');
  std::mt19937 rng(2);
  for (auto& c : noise) c = static_cast<char>(rng());
  TempDir dir;
  for (const std::string password : {"", "secret"}) {
    SCOPED_TRACE("password '" + password + "'");
    ZipBuilder b;
    b.Add(Legacy("shrink.txt", text, 1, 0, legacyenc::Shrink(text), password));
    b.Add(Legacy("shrink-full.bin", noise, 1, 0, legacyenc::Shrink(noise), password));
    // Long enough for the table to fill many times over varied data.
    b.Add(Legacy("shrink-long.txt", longText, 1, 0, legacyenc::Shrink(longText), password));
    for (bool dict8k : {false, true}) {
      for (bool literalTree : {false, true}) {
        std::string tag = std::string(dict8k ? "8k" : "4k") + (literalTree ? "3" : "2");
        b.Add(Legacy("implode" + tag + ".txt", text, 6,
                     legacyenc::ImplodeFlags(dict8k, literalTree),
                     legacyenc::Implode(text, dict8k, literalTree), password));
        b.Add(Legacy("implode" + tag + ".bin", noise, 6,
                     legacyenc::ImplodeFlags(dict8k, literalTree),
                     legacyenc::Implode(noise, dict8k, literalTree), password));
      }
    }
    const std::string zip = dir / (password.empty() ? "plain.zip" : "secret.zip");
    testutil::WriteFile(zip, b.Build());
    const std::string pw = password.empty() ? "" : " -P " + password;
    auto u = testutil::Run("unzip -tq" + pw + " " + Quote(zip));
    EXPECT_EQ(u.status, 0) << u.out;
    EXPECT_NE(u.out.find("No errors detected"), std::string::npos) << u.out;
    auto s = testutil::Run("7zz t -p" + Quote(password) + " " + Quote(zip));
    EXPECT_EQ(s.status, 0) << s.out;
    EXPECT_NE(s.out.find("Everything is Ok"), std::string::npos) << s.out;
  }
}

// Partial clears before the code table is full: 7zz reads them as this decoder does (only leaves
// are freed, the lowest free code is taken next); unzip refuses some such streams, which no
// encoder at hand writes (they clear on a full table only).
TEST(LegacyInterop, SevenZipTestsEarlyPartialClears) {
  if (!testutil::HaveTool("7zz")) GTEST_SKIP() << "7zz";
  const std::string text = Sample(300000, 3);
  ZipBuilder b;
  for (int every : {5, 50, 500})
    b.Add(Legacy("clears" + std::to_string(every) + ".txt", text, 1, 0,
                 legacyenc::Shrink(text, {.clearEvery = every}), ""));
  TempDir dir;
  testutil::WriteFile(dir / "clears.zip", b.Build());
  auto s = testutil::Run("7zz t " + Quote(dir / "clears.zip"));
  EXPECT_EQ(s.status, 0) << s.out;
  EXPECT_NE(s.out.find("Everything is Ok"), std::string::npos) << s.out;
}

}  // namespace
