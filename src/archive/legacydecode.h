// Decoders for the legacy zip methods: 1 shrunk (dynamic LZW with partial clearing), 2-5 reduced
// (follower sets and DLE-escaped matches, factors 1-4) and 6 imploded (sliding dictionary with
// Shannon-Fano trees), as APPNOTE describes them.
//
// A decoder pulls compressed bytes through a fetch callback (the same callback that feeds inflate,
// so decryption and volumes stay outside) and hands out decompressed bytes on request, never more
// than the stated uncompressed size. Its memory is fixed when it is made. A malformed stream raises
// EBadLegacyData; a stream that ends early too. Matches reaching before the start read zeros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>

class EBadLegacyData : public std::runtime_error {
 public:
  explicit EBadLegacyData(const char* what) : std::runtime_error(what) {}
};

class TLegacyDecoder {
 public:
  // Fills buf with up to cap compressed bytes; returns 0 at the end of the compressed data.
  using TFetch = std::function<size_t(uint8_t* buf, size_t cap)>;

  virtual ~TLegacyDecoder() = default;
  // Writes up to cap decompressed bytes to out and returns their number; 0 once the stated size has
  // been produced.
  size_t Read(uint8_t* out, size_t cap);
  uint64_t Produced() const { return done_; }

 protected:
  TLegacyDecoder(uint64_t size, TFetch fetch) : size_(size), fetch_(std::move(fetch)) {}
  // Produces between 1 and cap bytes (cap >= 1) or raises.
  virtual size_t Produce(uint8_t* out, size_t cap) = 0;

  // Bits are taken from the least significant end of each byte first.
  uint32_t Peek(int n) {
    Fill(n);
    return static_cast<uint32_t>(bits_ & ((uint64_t{1} << n) - 1));
  }
  void Drop(int n) {
    bits_ >>= n;
    count_ -= n;
    if (pad_ > count_) throw EBadLegacyData("compressed data ends early");
  }
  uint32_t Get(int n) {
    uint32_t v = Peek(n);
    Drop(n);
    return v;
  }

 private:
  void Fill(int n);

  uint64_t size_;
  uint64_t done_ = 0;
  TFetch fetch_;
  uint8_t buf_[4096];
  size_t pos_ = 0, len_ = 0;
  bool eof_ = false;
  uint64_t bits_ = 0;
  int count_ = 0;  // bits held in bits_
  int pad_ = 0;    // zero bits appended past the end of the data (the top of bits_)
};

// True for the methods these decoders handle (1-6).
bool IsLegacyMethod(int method);
// A decoder for method 1-6 with the entry's general-purpose flags (implode reads bits 1 and 2), or
// nullptr for any other method.
std::unique_ptr<TLegacyDecoder> MakeLegacyDecoder(int method, uint16_t flags, uint64_t size,
                                                  TLegacyDecoder::TFetch fetch);
