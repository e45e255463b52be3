// Writes an archive of shrunk or imploded entries for timing the legacy decoders:
//   bench_legacy_fixture OUT.zip shrink|implode MEBIBYTES
// The entries are 1 MiB of mixed text, runs and repeats each (the same bytes on every machine),
// made by the test encoders (no tool at hand writes these methods).
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

#include "legacyencode.h"
#include "zipbuilder.h"

namespace {

std::string Sample(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < size) {
    switch (rng() % 4) {
      case 0:
        s += "Backups are copies of data kept elsewhere, numbered " + std::to_string(rng() % 1000);
        break;
      case 1:
        s += std::string(rng() % 300, static_cast<char>('a' + rng() % 26));
        break;
      case 2:
        if (s.size() > 9000) s += s.substr(s.size() - 1 - rng() % 8000, 1 + rng() % 300);
        break;
      default:
        for (int i = rng() % 40; i > 0; --i) s += static_cast<char>(rng());
    }
  }
  s.resize(size);
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: bench_legacy_fixture OUT.zip shrink|implode MEBIBYTES\n");
    return 2;
  }
  const std::string method = argv[2];
  const int mib = std::atoi(argv[3]);
  if ((method != "shrink" && method != "implode") || mib <= 0) {
    std::fprintf(stderr, "bench_legacy_fixture: shrink or implode, and a size in MiB\n");
    return 2;
  }
  ZipBuilder zip;
  for (int i = 0; i < mib; ++i) {
    BuildEntry e;
    e.name = "part" + std::to_string(i) + ".txt";
    e.data = Sample(1 << 20, static_cast<uint32_t>(i + 1));
    if (method == "shrink") {
      e.method = 1;
      e.compressed = legacyenc::Shrink(e.data);
    } else {
      // Both dictionary sizes and both tree counts, by turns.
      const bool dict8k = i % 2 == 0, literalTree = i % 4 < 2;
      e.method = 6;
      e.flags = legacyenc::ImplodeFlags(dict8k, literalTree);
      e.compressed = legacyenc::Implode(e.data, dict8k, literalTree);
    }
    zip.Add(e);
  }
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  const std::string bytes = zip.Build();
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return out ? 0 : 1;
}
