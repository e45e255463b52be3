// Fuzz target: the operating system's identification file as the bug report reads it. Every
// key that occurs is looked up; a value never holds a line break (a value ends at its line).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/osrelease.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (std::string_view key : {"PRETTY_NAME", "NAME", "ID", "VERSION_ID", ""}) {
    const std::string value = OsReleaseValue(text, key);
    if (value.find('\n') != std::string::npos) __builtin_trap();
  }
  size_t start = 0;
  while (start < text.size()) {
    const size_t eq = text.find('=', start);
    if (eq == std::string_view::npos) break;
    const size_t line = text.rfind('\n', eq);
    const size_t from = line == std::string_view::npos || line < start ? start : line + 1;
    (void)OsReleaseValue(text, text.substr(from, eq - from));
    start = eq + 1;
  }
  return 0;
}
