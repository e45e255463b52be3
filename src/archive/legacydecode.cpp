#include "archive/legacydecode.h"

#include <algorithm>
#include <array>
#include <vector>

size_t TLegacyDecoder::Read(uint8_t* out, size_t cap) {
  size_t n = 0;
  while (n < cap && done_ < size_) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(cap - n, size_ - done_));
    size_t got = Produce(out + n, want);
    n += got;
    done_ += got;
  }
  return n;
}

void TLegacyDecoder::Fill(int n) {
  while (count_ < n) {
    uint8_t b = 0;
    if (pos_ == len_ && !eof_) {
      len_ = std::min(fetch_(buf_, sizeof buf_), sizeof buf_);
      pos_ = 0;
      eof_ = len_ == 0;
    }
    if (pos_ < len_) {
      b = buf_[pos_++];
    } else {
      pad_ += 8;
    }
    bits_ |= uint64_t{b} << count_;
    count_ += 8;
  }
}

namespace {

// The last 8 KB of output; positions never written read as zeros.
class TWindow {
 public:
  uint8_t Back(uint32_t distance) const { return ring_[(pos_ - distance) & kMask]; }
  void Put(uint8_t b) { ring_[pos_++ & kMask] = b; }

 private:
  static constexpr uint32_t kMask = 8191;
  std::array<uint8_t, 8192> ring_{};
  uint32_t pos_ = 0;
};

// Method 1. Codes of 9 to 13 bits; 256 is the control code (then 1: one bit more per code, 2: free
// every code that no other code extends). New strings take the lowest free code, from 257 up.
class TUnshrink final : public TLegacyDecoder {
 public:
  TUnshrink(uint64_t size, TFetch fetch)
      : TLegacyDecoder(size, std::move(fetch)),
        prefix_(kCodes),
        suffix_(kCodes),
        length_(kCodes, 0),
        used_(kCodes, 0),
        stack_(kCodes) {
    for (int c = 0; c < 256; ++c) {
      prefix_[c] = static_cast<uint16_t>(c);
      suffix_[c] = static_cast<uint8_t>(c);
      length_[c] = 1;
      used_[c] = 1;
    }
  }

 protected:
  size_t Produce(uint8_t* out, size_t cap) override {
    if (stackPos_ == stackLen_) NextCode();
    size_t n = std::min(cap, stackLen_ - stackPos_);
    std::copy_n(stack_.begin() + static_cast<ptrdiff_t>(stackPos_), n, out);
    stackPos_ += n;
    return n;
  }

 private:
  static constexpr int kCodes = 8192;
  static constexpr int kFirstFree = 257;

  void NextCode() {
    uint32_t code;
    for (;;) {
      code = Get(codeSize_);
      if (code != 256) break;
      uint32_t sub = Get(codeSize_);
      if (sub == 1) {
        if (codeSize_ == 13) throw EBadLegacyData("shrink: code size above 13 bits");
        ++codeSize_;
      } else if (sub == 2) {
        PartialClear();
      } else {
        throw EBadLegacyData("shrink: unknown control code");
      }
    }
    if (prev_ < 0) {
      if (code > 255) throw EBadLegacyData("shrink: first code is not a byte");
    } else if (!used_[code]) {
      // The string being defined right now: the previous one plus its own first byte.
      if (static_cast<int>(code) != free_) throw EBadLegacyData("shrink: unknown code");
      Add(static_cast<uint16_t>(prev_), FirstByte(static_cast<uint16_t>(prev_)));
    } else {
      Add(static_cast<uint16_t>(prev_), FirstByte(static_cast<uint16_t>(code)));
    }
    Spell(static_cast<uint16_t>(code));
    prev_ = static_cast<int>(code);
  }

  uint8_t FirstByte(uint16_t code) const {
    // Walks the prefix chain a bounded number of steps (stale chains after a clear stay bounded).
    for (uint16_t i = length_[code]; i > 1; --i) code = prefix_[code];
    return suffix_[code];
  }

  void Spell(uint16_t code) {
    size_t len = length_[code];
    for (size_t i = len; i-- > 0;) {
      stack_[i] = suffix_[code];
      code = prefix_[code];
    }
    stackPos_ = 0;
    stackLen_ = len;
  }

  void Add(uint16_t prefix, uint8_t byte) {
    if (free_ >= kCodes) return;  // table full: nothing is added until a clear
    if (length_[prefix] >= kCodes) throw EBadLegacyData("shrink: string too long");
    prefix_[free_] = prefix;
    suffix_[free_] = byte;
    length_[free_] = static_cast<uint16_t>(length_[prefix] + 1);
    used_[free_] = 1;
    while (free_ < kCodes && used_[free_]) ++free_;
  }

  void PartialClear() {
    std::vector<uint8_t>& hasChild = stack_;  // reused as scratch: no string is pending here
    std::fill(hasChild.begin(), hasChild.end(), 0);
    for (int c = kFirstFree; c < kCodes; ++c)
      if (used_[c]) hasChild[prefix_[c]] = 1;
    free_ = kCodes;
    for (int c = kCodes - 1; c >= kFirstFree; --c) {
      if (used_[c] && hasChild[c]) continue;
      used_[c] = 0;
      free_ = c;
    }
  }

  std::vector<uint16_t> prefix_;
  std::vector<uint8_t> suffix_;
  std::vector<uint16_t> length_;
  std::vector<uint8_t> used_;
  std::vector<uint8_t> stack_;
  size_t stackPos_ = 0, stackLen_ = 0;
  int codeSize_ = 9;
  int free_ = kFirstFree;
  int prev_ = -1;
};

// Methods 2-5 (factor 1-4): a byte stream coded with follower sets, in which DLE (144) introduces
// a match (length and distance packed by the factor) or, followed by 0, stands for itself.
class TUnreduce final : public TLegacyDecoder {
 public:
  TUnreduce(int factor, uint64_t size, TFetch fetch)
      : TLegacyDecoder(size, std::move(fetch)), factor_(factor) {}

 protected:
  size_t Produce(uint8_t* out, size_t cap) override {
    if (!setsRead_) ReadSets();
    size_t n = 0;
    while (n < cap) {
      if (copyLeft_ > 0) {
        uint8_t b = window_.Back(distance_);
        window_.Put(b);
        out[n++] = b;
        --copyLeft_;
        continue;
      }
      uint8_t c = NextByte();
      const uint32_t lengthMask = 0x7Fu >> (factor_ - 1);
      switch (state_) {
        case 0:
          if (c == kDLE) {
            state_ = 1;
          } else {
            window_.Put(c);
            out[n++] = c;
          }
          break;
        case 1:
          if (c == 0) {
            window_.Put(kDLE);
            out[n++] = kDLE;
            state_ = 0;
          } else {
            v_ = c;
            length_ = c & lengthMask;
            state_ = length_ == lengthMask ? 2 : 3;
          }
          break;
        case 2:
          length_ += c;
          state_ = 3;
          break;
        default:
          distance_ = (v_ >> (8 - factor_)) * 256 + c + 1;
          copyLeft_ = length_ + 3;
          state_ = 0;
          break;
      }
    }
    return n;
  }

 private:
  static constexpr uint8_t kDLE = 144;

  void ReadSets() {
    for (int j = 255; j >= 0; --j) {
      uint32_t count = Get(6);
      if (count > 32) throw EBadLegacyData("reduce: follower set larger than 32");
      count_[j] = static_cast<uint8_t>(count);
      for (uint32_t i = 0; i < count; ++i) sets_[j][i] = static_cast<uint8_t>(Get(8));
      // Bits for an index below count: at least one.
      int bits = 1;
      while ((1u << bits) < count) ++bits;
      bits_[j] = static_cast<uint8_t>(bits);
    }
    setsRead_ = true;
  }

  uint8_t NextByte() {
    uint8_t c;
    if (count_[last_] == 0 || Get(1)) {
      c = static_cast<uint8_t>(Get(8));
    } else {
      uint32_t i = Get(bits_[last_]);
      if (i >= count_[last_]) throw EBadLegacyData("reduce: follower index out of range");
      c = sets_[last_][i];
    }
    last_ = c;
    return c;
  }

  int factor_;
  bool setsRead_ = false;
  uint8_t sets_[256][32] = {};
  uint8_t count_[256] = {};
  uint8_t bits_[256] = {};
  uint8_t last_ = 0;
  int state_ = 0;
  uint32_t v_ = 0, length_ = 0, distance_ = 0, copyLeft_ = 0;
  TWindow window_;
};

// Method 6: literals (raw or through a 256-value tree) and matches whose distance (4K or 8K) and
// length come through 64-value trees. Each tree is decoded through a table indexed by the next 16
// bits of input.
class TExplode final : public TLegacyDecoder {
 public:
  TExplode(uint16_t flags, uint64_t size, TFetch fetch)
      : TLegacyDecoder(size, std::move(fetch)),
        dictBits_((flags & 2) ? 7 : 6),
        literalTree_((flags & 4) != 0),
        minMatch_(literalTree_ ? 3 : 2),
        literal_(literalTree_ ? 65536 : 0),
        length_(65536),
        distance_(65536) {}

 protected:
  size_t Produce(uint8_t* out, size_t cap) override {
    if (!treesRead_) {
      if (literalTree_) ReadTree(literal_, 256);
      ReadTree(length_, 64);
      ReadTree(distance_, 64);
      treesRead_ = true;
    }
    size_t n = 0;
    while (n < cap) {
      if (copyLeft_ > 0) {
        uint8_t b = window_.Back(matchDistance_);
        window_.Put(b);
        out[n++] = b;
        --copyLeft_;
        continue;
      }
      if (Get(1)) {
        uint8_t b = static_cast<uint8_t>(literalTree_ ? Decode(literal_) : Get(8));
        window_.Put(b);
        out[n++] = b;
        continue;
      }
      uint32_t low = Get(dictBits_);
      uint32_t high = Decode(distance_);
      matchDistance_ = ((high << dictBits_) | low) + 1;
      uint32_t sym = Decode(length_);
      copyLeft_ = sym + minMatch_;
      if (sym == 63) copyLeft_ += Get(8);
    }
    return n;
  }

 private:
  // Table entry: value << 5 | code length; 0 marks bit patterns no code starts with.
  using TTable = std::vector<uint16_t>;

  void ReadTree(TTable& table, int values) {
    std::array<uint8_t, 256> lengths{};
    int k = 0;
    int bytes = static_cast<int>(Get(8)) + 1;
    for (int i = 0; i < bytes; ++i) {
      uint32_t b = Get(8);
      int count = static_cast<int>(b >> 4) + 1;
      if (count > values - k) throw EBadLegacyData("implode: tree has too many values");
      for (int j = 0; j < count; ++j) lengths[k++] = static_cast<uint8_t>((b & 15) + 1);
    }
    if (k != values) throw EBadLegacyData("implode: tree has too few values");

    // Values sorted by length, keeping file order among equal lengths; codes are given from the
    // last (longest) up, each left-aligned in 16 bits, and read from the stream top bit first.
    std::array<uint16_t, 256> order{};
    int o = 0;
    for (int len = 1; len <= 16; ++len)
      for (int v = 0; v < values; ++v)
        if (lengths[v] == len) order[o++] = static_cast<uint16_t>(v);
    std::fill(table.begin(), table.end(), 0);
    uint32_t code = 0;
    for (int i = values - 1; i >= 0; --i) {
      int v = order[i];
      int len = lengths[v];
      uint32_t span = 1u << (16 - len);
      if (code + span > 65536) throw EBadLegacyData("implode: oversubscribed tree");
      uint32_t reversed = 0;
      for (int b = 0; b < 16; ++b)
        if (code & (1u << b)) reversed |= 1u << (15 - b);
      for (uint32_t rest = 0; rest < span; ++rest)
        table[reversed | (rest << len)] = static_cast<uint16_t>(v << 5 | len);
      code += span;
    }
  }

  uint32_t Decode(const TTable& table) {
    uint16_t e = table[Peek(16)];
    if (e == 0) throw EBadLegacyData("implode: unknown code");
    Drop(e & 31);
    return e >> 5;
  }

  int dictBits_;
  bool literalTree_;
  uint32_t minMatch_;
  bool treesRead_ = false;
  TTable literal_, length_, distance_;
  uint32_t matchDistance_ = 0, copyLeft_ = 0;
  TWindow window_;
};

}  // namespace

bool IsLegacyMethod(int method) {
  return method >= 1 && method <= 6;
}

std::unique_ptr<TLegacyDecoder> MakeLegacyDecoder(int method, uint16_t flags, uint64_t size,
                                                  TLegacyDecoder::TFetch fetch) {
  switch (method) {
    case 1:
      return std::make_unique<TUnshrink>(size, std::move(fetch));
    case 2:
    case 3:
    case 4:
    case 5:
      return std::make_unique<TUnreduce>(method - 1, size, std::move(fetch));
    case 6:
      return std::make_unique<TExplode>(flags, size, std::move(fetch));
    default:
      return nullptr;
  }
}
