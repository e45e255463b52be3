// Clears a disk's folder as the spanned backup does before it writes a volume:
// bench_deltree FOLDER. Prints the seconds taken.
#include <chrono>
#include <cstdio>
#include <string>

#include "backup/removable.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_deltree FOLDER\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  std::string why;
  const bool ok = DelTree(std::string(argv[1]) + "/data.zip", &why);
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%.3f\n", s);
  if (!ok) std::fprintf(stderr, "%s\n", why.c_str());
  return ok ? 0 : 1;
}
