// Fuzz target: arbitrary bytes decoded as shrunk, reduced or imploded data. Input layout: method
// (1 byte, taken modulo 6 plus 1), general-purpose flags (2 bytes, little-endian), stated size
// (3 bytes, little-endian, at most 1 MiB), then the compressed data. The decoder must end (an
// error or the stated size) and never hand out more than the stated size.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "archive/legacydecode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 6) return 0;
  const int method = data[0] % 6 + 1;
  const uint16_t flags = static_cast<uint16_t>(data[1] | data[2] << 8);
  const uint64_t stated = (data[3] | data[4] << 8 | data[5] << 16) % ((1u << 20) + 1);
  const uint8_t* in = data + 6;
  size_t left = size - 6;
  // Hands the data over in uneven pieces, so refills happen mid-code.
  size_t piece = 1;
  auto dec = MakeLegacyDecoder(method, flags, stated, [&](uint8_t* buf, size_t cap) {
    size_t n = std::min({cap, left, piece});
    std::memcpy(buf, in, n);
    in += n;
    left -= n;
    piece = piece * 3 % 1021 + 1;
    return n;
  });
  if (!dec) __builtin_trap();
  std::vector<uint8_t> out(65536);
  uint64_t total = 0;
  try {
    for (;;) {
      size_t n = dec->Read(out.data(), out.size());
      if (n == 0) break;
      total += n;
      if (total > stated) __builtin_trap();
    }
    if (total != stated) __builtin_trap();
  } catch (const EBadLegacyData&) {
  }
  return 0;
}
