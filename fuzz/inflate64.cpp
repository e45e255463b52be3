// Fuzz target: arbitrary bytes decoded as Deflate64 data, handed over in uneven pieces. The
// decoder must end (its last block or an error) within the 4 MiB the reader takes at most.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "archive/entrydecoder.h"
#include "archive/zipexceptions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint8_t* in = data;
  size_t left = size;
  size_t piece = 7;
  std::vector<uint8_t> out(70000);
  uint64_t total = 0;
  try {
    auto dec = MakeInflate64Decoder([&](uint8_t* buf, size_t cap) {
      size_t n = std::min({cap, left, piece});
      std::memcpy(buf, in, n);
      in += n;
      left -= n;
      piece = piece * 5 % 8191 + 1;
      return n;
    });
    while (size_t n = dec->Read(out.data(), 1 + total * 7 % out.size())) {
      total += n;
      if (total > (4u << 20)) break;
    }
  } catch (const EDamagedData&) {
  } catch (const EFatalUnzipError&) {
  }
  return 0;
}
