// The scratch folder of a fuzz target: made once under $TMPDIR (or /tmp) and removed with what it
// holds when the process ends, so neither fuzzing nor the seed replays leave folders behind.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

inline const std::string& FuzzScratch() {
  static const std::string base = [] {
    const char* tmp = getenv("TMPDIR");
    std::string t = std::string(tmp && *tmp ? tmp : "/tmp") + "/arcavo-fuzz-XXXXXX";
    if (!mkdtemp(t.data())) __builtin_trap();
    return t;
  }();
  static const bool cleanup = [] {
    atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(base, ec);
    });
    return true;
  }();
  (void)cleanup;
  return base;
}
