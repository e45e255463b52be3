// Replays a fuzz target's seed corpus as an ordinary test: every file of the folder named by
// ARCAVO_CORPUS is fed to LLVMFuzzerTestOneInput once.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

TEST(FuzzCorpus, ReplaysEverySeed) {
  const char* dir = std::getenv("ARCAVO_CORPUS");
  ASSERT_NE(dir, nullptr);
  ASSERT_TRUE(std::filesystem::is_directory(dir)) << dir;
  int count = 0;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) {
    if (!e.is_regular_file()) continue;
    std::ifstream in(e.path(), std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    SCOPED_TRACE(e.path().string());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    ++count;
  }
  EXPECT_GT(count, 0) << "empty corpus " << dir;
}
