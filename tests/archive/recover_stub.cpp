// A stand-in self-extractor stub for the recovery tests: an ELF program whose data holds a
// local-header signature with a plausible version (20), as real stubs may.
#include <cstdio>

int main(int argc, char**) {
  static const char kLooksLikeAHeader[] = "PK\x03\x04\x14\x00\x00\x00\x08\x00stub data";
  if (argc > 99) std::puts(kLooksLikeAHeader);
  return 0;
}
