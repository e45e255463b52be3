// arczip: a command-line driver of the zip engine.
#include <cstdio>

int main(int argc, char** argv) {
  (void)argv;
  if (argc < 2) {
    std::fprintf(stderr, "usage: arczip COMMAND ARCHIVE [ARGS...]\n");
    return 2;
  }
  std::fprintf(stderr, "arczip: unknown command\n");
  return 2;
}
