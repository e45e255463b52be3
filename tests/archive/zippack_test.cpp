// The compression pipeline: chunks made on worker threads join into one deflate stream per file,
// in order, within the memory budget; a file changed between two chunks is detected.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "archive/zipcrypt.h"
#include "archive/zippack.h"
#include "testutil.h"

using testutil::TempDir;
using testutil::WriteFile;

namespace {

std::string Content(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < n) {
    s += "word" + std::to_string(rng() % 500) + ' ';
    if (rng() % 7 == 0) s += static_cast<char>(rng());
  }
  s.resize(n);
  return s;
}

std::string Inflate(const std::string& in) {
  z_stream z{};
  inflateInit2(&z, -15);
  std::string out(in.size() * 20 + 1024, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  int r = inflate(&z, Z_FINISH);
  EXPECT_EQ(r, Z_STREAM_END);
  out.resize(z.total_out);
  inflateEnd(&z);
  return out;
}

}  // namespace

TEST(PackPipeline, ChunksJoinIntoOneStreamPerFileInOrder) {
  TempDir t;
  std::vector<TPackSource> sources;
  std::vector<std::string> contents;
  std::vector<std::string> names;
  for (int i = 0; i < 12; ++i) names.push_back(t / std::to_string(i));
  names.push_back(t / "missing");
  for (int i = 0; i < 12; ++i) {
    size_t size = i % 4 == 0 ? 0 : static_cast<size_t>(i) * 37000 + 5;
    contents.push_back(Content(size, static_cast<unsigned>(i)));
    WriteFile(names[i], contents.back());
    sources.push_back({names[i], i % 5 == 3});
  }
  sources.push_back({names[12], false});
  // Small chunks and a budget of a few chunks: many joins, and workers that must wait.
  TPackPipeline pack(sources, 6, 2, 32768, 100000);
  for (size_t i = 0; i < sources.size(); ++i) {
    if (i == 7) {
      pack.Drop(i);
      continue;
    }
    TPackIdentity id = pack.Identity(i);
    EXPECT_EQ(id.Opened, i < 12);
    std::string joined;
    uint32_t crc = 0;
    uint64_t total = 0;
    TPackChunk c;
    int chunks = 0;
    while (pack.Next(i, c)) {
      EXPECT_FALSE(c.Torn);
      joined.append(c.Data.begin(), c.Data.end());
      crc = static_cast<uint32_t>(crc32_combine(crc, c.Crc, static_cast<z_off_t>(c.InSize)));
      total += c.InSize;
      ++chunks;
      if (c.Last) break;
    }
    if (i == 12) {
      EXPECT_EQ(chunks, 0);
      continue;
    }
    EXPECT_EQ(total, contents[i].size());
    EXPECT_EQ(crc, ZipCrc32(0, contents[i].data(), contents[i].size()));
    EXPECT_EQ(sources[i].Store ? joined : Inflate(joined), contents[i]) << i;
  }
}

TEST(PackPipeline, ChangeBetweenChunksIsReportedAsTorn) {
  TempDir t;
  std::string content = Content(200000, 9);
  const std::string name = t / "f";
  WriteFile(name, content);
  // No workers: every chunk is made when asked for, so the change lands between two chunks.
  TPackPipeline pack({{name, false}}, 6, 0, 65536);
  TPackChunk c;
  ASSERT_TRUE(pack.Next(0, c));
  EXPECT_FALSE(c.Torn);
  int fd = ::open((t / "f").c_str(), O_WRONLY);
  ASSERT_EQ(::pwrite(fd, "CHANGED", 7, 65536 - 100), 7);
  ::close(fd);
  ASSERT_TRUE(pack.Next(0, c));
  EXPECT_TRUE(c.Torn);
}
