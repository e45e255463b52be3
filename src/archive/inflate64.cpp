// Deflate64 ("enhanced deflate", zip method 9): the deflate format of RFC 1951 with three
// changes: a 64 KiB window (distance codes 30 and 31, base 32769 and 49153 with 14 extra bits
// each), and length code 285 meaning base 3 with 16 extra bits (lengths 3 to 65538) instead of
// the fixed length 258. Block types, code-length codes and the fixed codes are those of deflate.
//
// Output is decoded into a buffer that keeps the last 64 KiB as history; Read hands out what has
// been decoded and decodes more when it runs out. Huffman codes are looked up in two levels:
// a 10-bit first table and, for longer codes, a second table per 10-bit prefix.
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "archive/entrydecoder.h"
#include "archive/zipexceptions.h"

namespace {

constexpr size_t kWindow = 65536;
constexpr size_t kMaxMatch = 65538;
constexpr size_t kBufSize = kWindow + 4 * 65536 + kMaxMatch + 16;  // history + room + a match
constexpr size_t kDecodeLimit = kBufSize - kMaxMatch - 16;         // decoding stops past this
constexpr int kMaxBits = 15;
constexpr int kRootBits = 10;

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                      15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                      67, 83, 99, 115, 131, 163, 195, 227, 3};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 16};
constexpr uint32_t kDistBase[32] = {1,    2,    3,    4,     5,     7,     9,     13,
                                    17,   25,   33,   49,    65,    97,    129,   193,
                                    257,  385,  513,  769,   1025,  1537,  2049,  3073,
                                    4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
constexpr uint8_t kDistExtra[32] = {0, 0, 0, 0, 1, 1, 2,  2,  3,  3,  4,  4,  5,  5,  6,  6,
                                    7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
constexpr uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                          11, 4,  12, 3, 13, 2, 14, 1, 15};

// One table entry: a symbol and the bits its code takes, or (sub != 0) where the second-level
// table of a long code's prefix starts and how many more bits index it. bits == 0: no code.
struct TEntry {
  uint16_t value = 0;
  uint8_t bits = 0;
  uint8_t sub = 0;
};

class THuffman {
 public:
  // Builds the code from code lengths (0: symbol unused). Over-subscribed codes are refused;
  // incomplete ones are accepted, their missing codes failing only when met.
  void Build(const uint8_t* lengths, int n) {
    std::array<int, kMaxBits + 1> count{};
    for (int i = 0; i < n; ++i) ++count[lengths[i]];
    count[0] = 0;
    int left = 1;
    for (int len = 1; len <= kMaxBits; ++len) {
      left = (left << 1) - count[len];
      if (left < 0) throw EDamagedData("over-subscribed Deflate64 code");
    }
    // Canonical codes: consecutive values within a length, lengths in increasing order.
    std::array<uint32_t, kMaxBits + 2> next{};
    uint32_t code = 0;
    for (int len = 1; len <= kMaxBits; ++len) {
      code = (code + static_cast<uint32_t>(count[len - 1])) << 1;
      next[len] = code;
    }
    // The longest code below each 10-bit prefix sizes that prefix's second-level table.
    table_.assign(size_t{1} << kRootBits, TEntry{});
    std::array<uint8_t, size_t{1} << kRootBits> longest{};
    std::vector<uint32_t> codes(static_cast<size_t>(n));
    for (int s = 0; s < n; ++s) {
      const int len = lengths[s];
      if (len == 0) continue;
      codes[s] = Reverse(next[len]++, len);
      if (len > kRootBits) {
        uint8_t& l = longest[codes[s] & ((1u << kRootBits) - 1)];
        l = std::max<uint8_t>(l, static_cast<uint8_t>(len));
      }
    }
    for (uint32_t p = 0; p < longest.size(); ++p) {
      if (longest[p] == 0) continue;
      const int subBits = longest[p] - kRootBits;
      table_[p] = {static_cast<uint16_t>(table_.size()), kRootBits, static_cast<uint8_t>(subBits)};
      table_.resize(table_.size() + (size_t{1} << subBits));
    }
    for (int s = 0; s < n; ++s) {
      const int len = lengths[s];
      if (len == 0) continue;
      const uint32_t c = codes[s];
      if (len <= kRootBits) {
        for (uint32_t i = c; i < (1u << kRootBits); i += 1u << len)
          table_[i] = {static_cast<uint16_t>(s), static_cast<uint8_t>(len), 0};
      } else {
        const TEntry& root = table_[c & ((1u << kRootBits) - 1)];
        const int rest = len - kRootBits;
        const size_t base = root.value;
        for (uint32_t i = c >> kRootBits; i < (1u << root.sub); i += 1u << rest)
          table_[base + i] = {static_cast<uint16_t>(s), static_cast<uint8_t>(rest), 0};
      }
    }
  }
  const TEntry* Table() const { return table_.data(); }

 private:
  static uint32_t Reverse(uint32_t code, int len) {
    uint32_t r = 0;
    for (int i = 0; i < len; ++i, code >>= 1) r = (r << 1) | (code & 1);
    return r;
  }
  std::vector<TEntry> table_;
};

class TInflate64 final : public TEntryDecoder {
 public:
  explicit TInflate64(TFetch fetch) : fetch_(std::move(fetch)), in_(65536), out_(kBufSize) {}

  size_t Read(uint8_t* out, size_t cap) override {
    if (readPos_ == outPos_) {
      if (done_) return 0;
      if (outPos_ >= kDecodeLimit) {
        // Keep the window as history at the start of the buffer.
        std::memmove(out_.data(), out_.data() + outPos_ - kWindow, kWindow);
        readPos_ = outPos_ = kWindow;
      }
      Decode();
    }
    const size_t n = std::min(cap, outPos_ - readPos_);
    std::memcpy(out, out_.data() + readPos_, n);
    readPos_ += n;
    return n;
  }

 private:
  enum class TState { Header, Stored, Codes, End };

  // Bits are taken from the least significant end of each byte first. Past the end of the data
  // zero bits are supplied; taking one of them means the data ended early.
  void Refill() {
    if (count_ > 56) return;
    if (inLen_ - inPos_ >= 8) {
      uint64_t v;
      std::memcpy(&v, in_.data() + inPos_, 8);
      bits_ |= v << count_;
      inPos_ += (63 - count_) >> 3;
      count_ |= 56;
      return;
    }
    while (count_ <= 56) {
      if (inPos_ == inLen_ && !eof_) {
        inLen_ = std::min(fetch_(in_.data(), in_.size()), in_.size());
        inPos_ = 0;
        eof_ = inLen_ == 0;
        if (inLen_ >= 8) return Refill();
      }
      uint64_t b = 0;
      if (inPos_ < inLen_)
        b = in_[inPos_++];
      else
        pad_ += 8;
      bits_ |= b << count_;
      count_ += 8;
    }
  }
  uint32_t Bits(int n) {
    if (count_ < n) Refill();
    return static_cast<uint32_t>(bits_ & ((uint64_t{1} << n) - 1));
  }
  void Drop(int n) {
    bits_ >>= n;
    count_ -= n;
    if (pad_ > count_) throw EFatalUnzipError();
  }
  uint32_t Take(int n) {
    uint32_t v = Bits(n);
    Drop(n);
    return v;
  }
  int Symbol(const THuffman& h) {
    if (count_ < kMaxBits) Refill();
    const TEntry* t = h.Table();
    TEntry e = t[bits_ & ((1u << kRootBits) - 1)];
    if (e.sub) {
      Drop(kRootBits);
      e = t[e.value + (bits_ & ((1u << e.sub) - 1))];
    }
    if (e.bits == 0) throw EDamagedData("invalid Deflate64 code");
    Drop(e.bits);
    return e.value;
  }

  void Decode() {
    while (outPos_ < kDecodeLimit && !done_) {
      switch (state_) {
        case TState::Header:
          BlockHeader();
          break;
        case TState::Stored:
          StoredData();
          break;
        case TState::Codes:
          Codes();
          break;
        case TState::End:
          done_ = true;
          break;
      }
    }
  }

  void BlockHeader() {
    if (last_) {
      state_ = TState::End;
      return;
    }
    last_ = Take(1) != 0;
    switch (Take(2)) {
      case 0: {
        Drop(count_ & 7);  // to a byte boundary
        const uint32_t len = Take(16), nlen = Take(16);
        if ((len ^ 0xFFFF) != nlen) throw EDamagedData("stored Deflate64 block length mismatch");
        stored_ = len;
        state_ = TState::Stored;
        break;
      }
      case 1:
        FixedCodes();
        state_ = TState::Codes;
        break;
      case 2:
        DynamicCodes();
        state_ = TState::Codes;
        break;
      default:
        throw EDamagedData("invalid Deflate64 block type");
    }
  }

  void StoredData() {
    // Whole bytes still in the bit buffer first, then straight from the input.
    while (stored_ > 0 && outPos_ < kDecodeLimit) {
      if (count_ >= 8) {
        out_[outPos_++] = static_cast<uint8_t>(Take(8));
        --stored_;
      } else if (inPos_ < inLen_) {
        bits_ = 0;  // what a wide refill loaded ahead is taken here byte by byte
        size_t n =
            std::min({static_cast<size_t>(stored_), inLen_ - inPos_, kDecodeLimit - outPos_});
        std::memcpy(out_.data() + outPos_, in_.data() + inPos_, n);
        inPos_ += n;
        outPos_ += n;
        stored_ -= static_cast<uint32_t>(n);
      } else {
        Refill();
      }
    }
    if (stored_ == 0) state_ = TState::Header;
  }

  void FixedCodes() {
    if (!fixedBuilt_) {
      uint8_t l[288];
      std::fill(l, l + 144, 8);
      std::fill(l + 144, l + 256, 9);
      std::fill(l + 256, l + 280, 7);
      std::fill(l + 280, l + 288, 8);
      fixedLit_.Build(l, 288);
      uint8_t d[32];
      std::fill(d, d + 32, 5);
      fixedDist_.Build(d, 32);
      fixedBuilt_ = true;
    }
    lit_ = &fixedLit_;
    dist_ = &fixedDist_;
  }

  void DynamicCodes() {
    const int nlit = static_cast<int>(Take(5)) + 257;
    const int ndist = static_cast<int>(Take(5)) + 1;
    const int nclen = static_cast<int>(Take(4)) + 4;
    if (nlit > 286) throw EDamagedData("too many Deflate64 length codes");
    uint8_t clen[19] = {};
    for (int i = 0; i < nclen; ++i) clen[kCodeLengthOrder[i]] = static_cast<uint8_t>(Take(3));
    THuffman lengthsCode;
    lengthsCode.Build(clen, 19);
    uint8_t lens[286 + 32] = {};
    for (int i = 0; i < nlit + ndist;) {
      const int sym = Symbol(lengthsCode);
      if (sym < 16) {
        lens[i++] = static_cast<uint8_t>(sym);
        continue;
      }
      uint8_t value = 0;
      int repeat;
      if (sym == 16) {
        if (i == 0) throw EDamagedData("Deflate64 length repeat without a length");
        value = lens[i - 1];
        repeat = 3 + static_cast<int>(Take(2));
      } else if (sym == 17) {
        repeat = 3 + static_cast<int>(Take(3));
      } else {
        repeat = 11 + static_cast<int>(Take(7));
      }
      if (i + repeat > nlit + ndist) throw EDamagedData("Deflate64 code lengths overrun");
      std::fill(lens + i, lens + i + repeat, value);
      i += repeat;
    }
    if (lens[256] == 0) throw EDamagedData("Deflate64 block without an end code");
    dynLit_.Build(lens, nlit);
    dynDist_.Build(lens + nlit, ndist);
    lit_ = &dynLit_;
    dist_ = &dynDist_;
  }

  void Codes() {
    uint8_t* const buf = out_.data();
    size_t pos = outPos_;
    while (pos < kDecodeLimit) {
      const int sym = Symbol(*lit_);
      if (sym < 256) {
        buf[pos++] = static_cast<uint8_t>(sym);
        continue;
      }
      if (sym == 256) {
        state_ = TState::Header;
        break;
      }
      const int li = sym - 257;
      if (li >= 29) throw EDamagedData("invalid Deflate64 length code");
      const size_t length = kLengthBase[li] + Take(kLengthExtra[li]);
      const int di = Symbol(*dist_);
      if (di >= 32) throw EDamagedData("invalid Deflate64 distance code");
      const size_t distance = kDistBase[di] + Take(kDistExtra[di]);
      if (distance > pos) throw EDamagedData("Deflate64 distance too far back");
      const uint8_t* from = buf + pos - distance;
      uint8_t* to = buf + pos;
      if (distance >= 8) {
        // Eight bytes at a time; the buffer has slack past every match.
        for (size_t k = 0; k < length; k += 8) std::memcpy(to + k, from + k, 8);
      } else {
        for (size_t k = 0; k < length; ++k) to[k] = from[k];
      }
      pos += length;
    }
    outPos_ = pos;
  }

  TFetch fetch_;
  std::vector<uint8_t> in_;
  size_t inPos_ = 0, inLen_ = 0;
  bool eof_ = false;
  uint64_t bits_ = 0;
  int count_ = 0;
  int pad_ = 0;

  std::vector<uint8_t> out_;
  size_t outPos_ = 0, readPos_ = 0;
  TState state_ = TState::Header;
  bool last_ = false, done_ = false;
  uint32_t stored_ = 0;
  THuffman fixedLit_, fixedDist_, dynLit_, dynDist_;
  bool fixedBuilt_ = false;
  const THuffman* lit_ = nullptr;
  const THuffman* dist_ = nullptr;
};

}  // namespace

std::unique_ptr<TEntryDecoder> MakeInflate64Decoder(TEntryDecoder::TFetch fetch) {
  return std::make_unique<TInflate64>(std::move(fetch));
}
