// The decoders of entry data, one interface for every compression method the engine reads:
// 8 deflate (zlib), 9 Deflate64 (our own, inflate64.cpp), 12 bzip2 (libbz2), 14 LZMA and 95 XZ
// (liblzma), 93 Zstandard (libzstd) and the legacy methods 1-6 (legacydecode.h). Stored data
// (method 0) needs no decoder.
//
// A decoder pulls compressed bytes through a fetch callback (decryption and volumes stay outside
// it) and hands out decompressed bytes on request until its stream ends. It never checks the
// stated size itself, except where the format needs it to find the end (LZMA without an end
// marker, the legacy methods): the caller refuses output beyond the stated size.
//
// Failures: compressed data that does not decode raises EDamagedData; data that ends before the
// stream does raises EFatalUnzipError; a header claiming more dictionary or model memory than
// DecoderMemoryLimit allows raises EDecoderMemory before anything of that size is allocated;
// memory the system refuses raises std::bad_alloc.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

class EDamagedData : public std::runtime_error {
 public:
  explicit EDamagedData(const std::string& what) : std::runtime_error(what) {}
};

class EDecoderMemory : public std::runtime_error {
 public:
  EDecoderMemory(uint64_t claimed, uint64_t limit);
  uint64_t Claimed() const { return claimed_; }
  uint64_t Limit() const { return limit_; }

 private:
  uint64_t claimed_, limit_;
};

class TEntryDecoder {
 public:
  // Fills buf with up to cap compressed bytes; returns 0 at the end of the compressed data.
  using TFetch = std::function<size_t(uint8_t* buf, size_t cap)>;

  virtual ~TEntryDecoder() = default;
  // Writes up to cap (>= 1) decompressed bytes to out and returns their number; 0 once the stream
  // has ended.
  virtual size_t Read(uint8_t* out, size_t cap) = 0;
};

// What a decoder is made for: the entry's method (the real one under AES encryption), its
// general-purpose flags, and its compressed (without encryption headers) and stated sizes.
struct TDecoderEntry {
  int Method = 8;
  uint16_t Flags = 0;
  uint64_t CompressedSize = 0;
  uint64_t UncompressedSize = 0;
};

// True for every method MakeEntryDecoder makes a decoder for.
bool DecodesMethod(int method);
// A decoder for the entry's method, or nullptr for a method without one.
std::unique_ptr<TEntryDecoder> MakeEntryDecoder(const TDecoderEntry& entry,
                                                TEntryDecoder::TFetch fetch);
// The most dictionary or model memory an entry may claim: 1 GiB, and no more than 64 times its
// compressed size plus 16 MiB (a small entry cannot need a huge dictionary).
uint64_t DecoderMemoryLimit(uint64_t compressedSize);

// Deflate64 (inflate64.cpp).
std::unique_ptr<TEntryDecoder> MakeInflate64Decoder(TEntryDecoder::TFetch fetch);
