// Fuzz target: arbitrary bytes decoded as the entry data of one of the methods read through the
// entry-decoder interface (deflate, Deflate64, bzip2, LZMA, Zstandard, XZ). Input layout: method
// (1 byte, chosen among those six), general-purpose flags (2 bytes, little-endian), stated size
// (3 bytes, little-endian, at most 1 MiB), then the compressed data. The decoder must end (its
// stream's end or an error) and hand out data only while the reader asks for it; the reader stops
// once more than the stated size has come, as the engine does.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "archive/entrydecoder.h"
#include "archive/zipexceptions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 6) return 0;
  static const int kMethods[] = {8, 9, 12, 14, 93, 95};
  TDecoderEntry e;
  e.Method = kMethods[data[0] % 6];
  e.Flags = static_cast<uint16_t>(data[1] | data[2] << 8);
  e.UncompressedSize = (data[3] | data[4] << 8 | data[5] << 16) % ((1u << 20) + 1);
  e.CompressedSize = size - 6;
  const uint8_t* in = data + 6;
  size_t left = size - 6;
  // Hands the data over in uneven pieces, so refills happen mid-code.
  size_t piece = 1;
  std::vector<uint8_t> out(65536);
  uint64_t total = 0;
  try {
    auto dec = MakeEntryDecoder(e, [&](uint8_t* buf, size_t cap) {
      size_t n = std::min({cap, left, piece});
      std::memcpy(buf, in, n);
      in += n;
      left -= n;
      piece = piece * 3 % 4099 + 1;
      return n;
    });
    if (!dec) __builtin_trap();
    while (size_t n = dec->Read(out.data(), 1 + total % out.size())) {
      if (n > out.size()) __builtin_trap();
      total += n;
      if (total > e.UncompressedSize) break;
    }
  } catch (const EDamagedData&) {
  } catch (const EDecoderMemory& m) {
    if (m.Claimed() <= m.Limit() && e.Method != 95) __builtin_trap();
  } catch (const EFatalUnzipError&) {
  } catch (const std::bad_alloc&) {
  }
  return 0;
}
