// zlib's and libdeflate's raw deflate side by side on the files of a folder, one core: the
// compressed size and CPU time per level, with every file cut into independent chunks of the
// given size (0: each file whole) for libdeflate, and zlib streaming each file whole. This is
// what the encoder's choice of engine per level and its chunk size rest on.
//
//   bench_deflate_levels FOLDER [CHUNKS [LIBDEFLATE-LEVELS [ZLIB-LEVELS]]]
// each a comma-separated list ("-" for none); defaults 0,1,4,16, 1-12 and 1-9.
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

double Cpu() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

size_t ZlibSize(const std::vector<uint8_t>& in, int level, std::vector<uint8_t>& out) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  out.resize(deflateBound(&z, in.size()) + 64);
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  size_t n = z.total_out;
  deflateEnd(&z);
  return n;
}

size_t LibdeflateSize(libdeflate_compressor* c, const std::vector<uint8_t>& in, size_t chunk,
                      std::vector<uint8_t>& out) {
  size_t total = 0;
  size_t step = chunk == 0 ? std::max<size_t>(in.size(), 1) : chunk;
  for (size_t off = 0; off < in.size() || off == 0; off += step) {
    size_t n = std::min(step, in.size() - off);
    out.resize(libdeflate_deflate_compress_bound(c, n));
    total += libdeflate_deflate_compress(c, in.data() + off, n, out.data(), out.size());
    if (off + n < in.size()) total += 5;  // the empty stored block that joins two chunks
    if (n == 0) break;
  }
  return total;
}

std::vector<int> List(int argc, char** argv, int i, const std::vector<int>& fallback) {
  if (argc <= i) return fallback;
  std::vector<int> v;
  std::string s = argv[i];
  for (size_t p = 0; p < s.size();) {
    size_t q = s.find(',', p);
    if (q == std::string::npos) q = s.size();
    if (s.compare(p, q - p, "-") != 0) v.push_back(std::stoi(s.substr(p, q - p)));
    p = q + 1;
  }
  return v;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FOLDER [CHUNKS [LIBDEFLATE-LEVELS [ZLIB-LEVELS]]]\n", argv[0]);
    return 2;
  }
  std::vector<std::vector<uint8_t>> files;
  uint64_t total = 0;
  for (const auto& e : std::filesystem::recursive_directory_iterator(argv[1])) {
    if (!e.is_regular_file()) continue;
    std::ifstream f(e.path(), std::ios::binary);
    files.emplace_back(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    total += files.back().size();
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::vector<int> chunks = List(argc, argv, 2, {0, 1, 4, 16});
  std::vector<int> ldLevels = List(argc, argv, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
  std::vector<int> zLevels = List(argc, argv, 4, {1, 2, 3, 4, 5, 6, 7, 8, 9});
  std::printf("%zu files, %llu bytes\n", files.size(), static_cast<unsigned long long>(total));
  std::printf("%-16s %6s %14s %8s %8s\n", "engine", "level", "size", "ratio", "cpu s");
  std::vector<uint8_t> out;
  for (int level : zLevels) {
    double t = Cpu();
    uint64_t sz = 0;
    for (const auto& f : files) sz += ZlibSize(f, level, out);
    std::printf("%-16s %6d %14llu %8.4f %8.2f\n", "zlib", level,
                static_cast<unsigned long long>(sz), static_cast<double>(sz) / total, Cpu() - t);
  }
  for (int mib : chunks) {
    const size_t chunk = static_cast<size_t>(mib) << 20;
    for (int level : ldLevels) {
      libdeflate_compressor* c = libdeflate_alloc_compressor(level);
      double t = Cpu();
      uint64_t sz = 0;
      for (const auto& f : files) sz += LibdeflateSize(c, f, chunk, out);
      libdeflate_free_compressor(c);
      std::string name = "libdeflate/" + (chunk ? std::to_string(chunk >> 20) + "M" : "whole");
      std::printf("%-16s %6d %14llu %8.4f %8.2f\n", name.c_str(), level,
                  static_cast<unsigned long long>(sz), static_cast<double>(sz) / total, Cpu() - t);
    }
  }
  return 0;
}
