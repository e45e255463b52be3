// Fuzz target: arbitrary bytes as a raw deflate stream made joinable. Either the stream is
// refused (an exception), or the result, followed by another stream, inflates to exactly the
// bytes the input alone inflates to, then the other stream's, with nothing left over.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "archive/zippack.h"

namespace {

// Inflates all of in; false when it is not one complete stream with nothing after it.
bool InflateAll(const std::vector<uint8_t>& in, std::vector<uint8_t>& out) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return false;
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  uint8_t buf[16384];
  int r;
  do {
    z.next_out = buf;
    z.avail_out = sizeof buf;
    r = inflate(&z, Z_NO_FLUSH);
    out.insert(out.end(), buf, buf + (sizeof buf - z.avail_out));
    if (out.size() > (size_t{64} << 20)) r = Z_DATA_ERROR;
  } while (r == Z_OK);
  bool whole = r == Z_STREAM_END && z.avail_in == 0;
  inflateEnd(&z);
  return whole;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> stream(data, data + size);
  std::vector<uint8_t> plain;
  const bool whole = InflateAll(stream, plain);
  try {
    MakeDeflateJoinable(stream);
  } catch (const std::runtime_error&) {
    if (whole) __builtin_trap();  // a complete stream must be accepted
    return 0;
  }
  if (!whole) __builtin_trap();
  // A fixed-Huffman final block holding one 'A': bits 1, 01, the literal 0x41, end of block.
  const uint8_t next[] = {0x73, 0x04, 0x00};
  stream.insert(stream.end(), next, next + sizeof next);
  std::vector<uint8_t> joined;
  if (!InflateAll(stream, joined)) __builtin_trap();
  plain.push_back('A');
  if (joined != plain) __builtin_trap();
  return 0;
}
