// Encoders for the legacy zip methods, for tests only (no tool at hand writes them): shrink
// (method 1), reduce with factor 1-4 (methods 2-5) and implode (method 6), laid out as APPNOTE
// describes. They aim at covering the decoders' paths, not at good compression.
#pragma once

#include <cstdint>
#include <string>

namespace legacyenc {

struct ShrinkOptions {
  // Besides the clear when the code table is full, a partial clear after every this many codes
  // (0: none).
  int clearEvery = 0;
};
std::string Shrink(const std::string& data, const ShrinkOptions& options = {});

// factor 1-4 (method = factor + 1).
std::string Reduce(const std::string& data, int factor);

// Flag bit 1 (8K dictionary) and bit 2 (literal tree, three trees) of the entry.
std::string Implode(const std::string& data, bool dict8k, bool literalTree);
inline uint16_t ImplodeFlags(bool dict8k, bool literalTree) {
  return static_cast<uint16_t>((dict8k ? 2 : 0) | (literalTree ? 4 : 0));
}

}  // namespace legacyenc
