// The self-extractor stub.
#include <cstdio>

int main() {
  std::fprintf(stderr, "ArcSFX32: no archive attached\n");
  return 2;
}
