// The compression pipeline: chunks made on worker threads join into one deflate stream per file,
// in order, within the memory budget; a file changed between two chunks is detected.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <random>
#include <set>
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

// The level deflated in whole chunks: chunks compressed on their own join into one stream, also
// where a match would cross the boundary (the bytes right after it repeat the bytes before it),
// and whatever number of bits the final block leaves unused in its last byte.
TEST(PackPipeline, WholeChunksJoinAcrossABoundaryAMatchWouldCross) {
  ASSERT_TRUE(DeflatePlanFor(9).Whole);
  TempDir t;
  const size_t chunk = 65536;
  std::mt19937 rng(3);
  std::string block(12000, '\0');
  for (char& c : block) c = static_cast<char>(rng());
  // Random bytes, then the same 12,000 random bytes twice, the second copy straddling the end of
  // the first chunk, then more of the same.
  std::string content = Content(chunk - 20000, 1) + block + block;
  while (content.size() < 3 * chunk + 777) content += block;
  const std::string name = t / "f";
  WriteFile(name, content);
  TPackPipeline pack({{name, false}}, 9, 1, chunk);
  std::string joined;
  TPackChunk c;
  int chunks = 0;
  while (pack.Next(0, c)) {
    ++chunks;
    joined.append(c.Data.begin(), c.Data.end());
    // Every chunk but the last ends on the empty stored block.
    EXPECT_EQ(joined.substr(joined.size() - 4) == std::string("\0\0\xff\xff", 4), !c.Last);
    if (c.Last) break;
  }
  EXPECT_EQ(chunks, 4);
  EXPECT_EQ(Inflate(joined), content);

  // Streams of many lengths, joined one after the other: the stored block takes 4 bytes when at
  // least three bits were unused in the last byte, else 5; both occur.
  TDeflater d(9);
  std::vector<uint8_t> all;
  std::string expect;
  std::set<size_t> added;
  for (size_t n = 0; n < 300; n += 7) {
    std::string s = Content(n, static_cast<unsigned>(n));
    std::vector<uint8_t> alone;
    d.Chunk(reinterpret_cast<const uint8_t*>(s.data()), n, true, alone);
    size_t before = all.size();
    d.Chunk(reinterpret_cast<const uint8_t*>(s.data()), n, false, all);
    added.insert(all.size() - before - alone.size());
    expect += s;
  }
  d.Chunk(nullptr, 0, true, all);
  EXPECT_EQ(added, (std::set<size_t>{4, 5}));
  EXPECT_EQ(Inflate(std::string(all.begin(), all.end())), expect);

  // Anything but one whole stream is refused.
  std::vector<uint8_t> bad = {0xff, 0xff, 0xff};
  EXPECT_THROW(MakeDeflateJoinable(bad), std::runtime_error);
  std::vector<uint8_t> two;
  d.Chunk(nullptr, 0, true, two);
  std::vector<uint8_t> truncated(two.begin(), two.end() - 1);
  EXPECT_THROW(MakeDeflateJoinable(truncated), std::runtime_error);
  two.push_back(0);
  EXPECT_THROW(MakeDeflateJoinable(two), std::runtime_error);
}
