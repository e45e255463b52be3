#include "legacyencode.h"

#include <algorithm>
#include <array>
#include <map>
#include <queue>
#include <stdexcept>
#include <unordered_map>
#include <vector>

namespace legacyenc {
namespace {

// Bits go to the least significant free end of each byte first.
class BitWriter {
 public:
  void Put(uint32_t value, int n) {
    for (int i = 0; i < n; ++i) {
      acc_ |= ((value >> i) & 1u) << count_;
      if (++count_ == 8) Flush();
    }
  }
  std::string Finish() {
    if (count_ > 0) Flush();
    return out_;
  }

 private:
  void Flush() {
    out_.push_back(static_cast<char>(acc_));
    acc_ = 0;
    count_ = 0;
  }
  std::string out_;
  uint32_t acc_ = 0;
  int count_ = 0;
};

uint8_t At(const std::string& s, size_t i) {
  return static_cast<uint8_t>(s[i]);
}

// A match (length >= 2) or a literal (length 0).
struct Token {
  uint32_t length = 0;
  uint32_t distance = 0;
  uint8_t literal = 0;
};

// Greedy parse: at each position the longest match within maxDist of minLen..maxLen bytes.
std::vector<Token> Parse(const std::string& data, uint32_t maxDist, uint32_t minLen,
                         uint32_t maxLen) {
  std::vector<Token> tokens;
  std::vector<int64_t> head(1 << 16, -1), prev(data.size(), -1), last2(1 << 16, -1);
  auto hash3 = [&](size_t i) {
    return ((At(data, i) * 2654435761u) ^ (At(data, i + 1) << 7) ^ At(data, i + 2) * 40503u) &
           0xFFFF;
  };
  auto insert = [&](size_t i) {
    if (i + 2 < data.size()) {
      uint32_t h = hash3(i);
      prev[i] = head[h];
      head[h] = static_cast<int64_t>(i);
    }
    if (i + 1 < data.size()) last2[At(data, i) << 8 | At(data, i + 1)] = static_cast<int64_t>(i);
  };
  size_t i = 0;
  while (i < data.size()) {
    uint32_t bestLen = 0, bestDist = 0;
    auto consider = [&](int64_t cand) {
      if (cand < 0 || i - static_cast<size_t>(cand) > maxDist) return;
      uint32_t len = 0;
      while (len < maxLen && i + len < data.size() && data[cand + len] == data[i + len]) ++len;
      if (len > bestLen) {
        bestLen = len;
        bestDist = static_cast<uint32_t>(i - static_cast<size_t>(cand));
      }
    };
    if (i + 2 < data.size()) {
      int64_t cand = head[hash3(i)];
      for (int steps = 0; cand >= 0 && steps < 48; ++steps, cand = prev[cand]) consider(cand);
    }
    if (bestLen < 3 && minLen <= 2 && i + 1 < data.size())
      consider(last2[At(data, i) << 8 | At(data, i + 1)]);
    Token t;
    if (bestLen >= minLen) {
      t.length = bestLen;
      t.distance = bestDist;
    } else {
      t.literal = At(data, i);
      bestLen = 1;
    }
    tokens.push_back(t);
    for (uint32_t k = 0; k < bestLen; ++k) insert(i + k);
    i += bestLen;
  }
  return tokens;
}

// Huffman code lengths of at most maxLen bits for every value (each counted at least once).
std::vector<int> CodeLengths(std::vector<uint64_t> freq, int maxLen) {
  for (auto& f : freq) ++f;
  const int n = static_cast<int>(freq.size());
  for (;;) {
    std::vector<int> parent(2 * n - 1, -1);
    using Node = std::pair<uint64_t, int>;
    std::priority_queue<Node, std::vector<Node>, std::greater<Node>> q;
    for (int i = 0; i < n; ++i) q.push({freq[i], i});
    int next = n;
    while (q.size() > 1) {
      Node a = q.top();
      q.pop();
      Node b = q.top();
      q.pop();
      parent[a.second] = parent[b.second] = next;
      q.push({a.first + b.first, next++});
    }
    std::vector<int> len(n, 0);
    int longest = 0;
    for (int i = 0; i < n; ++i) {
      for (int p = parent[i]; p >= 0; p = parent[p]) ++len[i];
      longest = std::max(longest, len[i]);
    }
    if (longest <= maxLen) return len;
    for (auto& f : freq) f = (f >> 1) + 1;
  }
}

// Shannon-Fano codes from bit lengths: values sorted by length (stable), codes handed out from
// the last one up, left-aligned in 16 bits.
std::vector<uint16_t> ShannonCodes(const std::vector<int>& lengths) {
  const int n = static_cast<int>(lengths.size());
  std::vector<int> order(n);
  for (int i = 0; i < n; ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return lengths[a] < lengths[b]; });
  std::vector<uint16_t> codes(n);
  uint32_t code = 0, increment = 0;
  int lastLength = 0;
  for (int i = n - 1; i >= 0; --i) {
    code += increment;
    if (lengths[order[i]] != lastLength) {
      lastLength = lengths[order[i]];
      increment = 1u << (16 - lastLength);
    }
    codes[order[i]] = static_cast<uint16_t>(code);
  }
  return codes;
}

struct Tree {
  std::vector<int> lengths;
  std::vector<uint16_t> codes;
  void Write(BitWriter& w, int value) const {
    for (int b = 15; b >= 16 - lengths[value]; --b) w.Put((codes[value] >> b) & 1u, 1);
  }
};

Tree MakeTree(const std::vector<uint64_t>& freq) {
  Tree t;
  t.lengths = CodeLengths(freq, 16);
  t.codes = ShannonCodes(t.lengths);
  return t;
}

void WriteTreeLengths(BitWriter& w, const Tree& t) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < t.lengths.size();) {
    size_t run = 1;
    while (run < 16 && i + run < t.lengths.size() && t.lengths[i + run] == t.lengths[i]) ++run;
    bytes.push_back(static_cast<uint8_t>((run - 1) << 4 | (t.lengths[i] - 1)));
    i += run;
  }
  w.Put(static_cast<uint32_t>(bytes.size() - 1), 8);
  for (uint8_t b : bytes) w.Put(b, 8);
}

}  // namespace

std::string Shrink(const std::string& data, const ShrinkOptions& options) {
  constexpr int kCodes = 8192;
  BitWriter w;
  if (data.empty()) return w.Finish();
  std::vector<uint16_t> prefix(kCodes);
  std::vector<uint8_t> used(kCodes, 0);
  std::vector<int> children(kCodes, 0);
  std::unordered_map<uint32_t, uint16_t> dict;  // prefix << 8 | byte -> code
  int free = 257, codeSize = 9, sinceClear = 0;

  auto emit = [&](uint32_t code) {
    while (code >= (1u << codeSize)) {
      w.Put(256, codeSize);
      w.Put(1, codeSize);
      ++codeSize;
    }
    w.Put(code, codeSize);
  };
  auto clear = [&]() {
    w.Put(256, codeSize);
    w.Put(2, codeSize);
    std::vector<int> leaves;
    for (int c = 257; c < kCodes; ++c)
      if (used[c] && children[c] == 0) leaves.push_back(c);
    for (int c : leaves) {
      used[c] = 0;
      --children[prefix[c]];
    }
    for (auto it = dict.begin(); it != dict.end();) {
      it = used[it->second] ? std::next(it) : dict.erase(it);
    }
    free = 257;
    while (free < kCodes && used[free]) ++free;
    sinceClear = 0;
  };

  uint32_t cur = At(data, 0);
  bool wantClear = false, fullNow = false;
  for (size_t i = 1; i < data.size(); ++i) {
    uint8_t c = At(data, i);
    // Once the table is full the next code is a single byte, so that the clear can follow it at
    // once: a code read while the table is full is refused by some decoders (unzip).
    auto it = fullNow ? dict.end() : dict.find(cur << 8 | c);
    if (it != dict.end()) {
      cur = it->second;
      continue;
    }
    emit(cur);
    ++sinceClear;
    if (free >= kCodes || (options.clearEvery > 0 && sinceClear >= options.clearEvery))
      wantClear = true;
    // A clear goes right after a code that stays defined through it (a byte or a string that
    // others extend), as the string added next is built on that code.
    if (wantClear && (cur < 256 || children[cur] > 0)) {
      clear();
      wantClear = false;
    }
    if (free < kCodes) {
      prefix[free] = static_cast<uint16_t>(cur);
      used[free] = 1;
      ++children[cur];
      dict[cur << 8 | c] = static_cast<uint16_t>(free);
      while (free < kCodes && used[free]) ++free;
    }
    fullNow = free >= kCodes;
    cur = c;
  }
  emit(cur);
  return w.Finish();
}

std::string Reduce(const std::string& data, int factor) {
  if (factor < 1 || factor > 4) throw std::invalid_argument("reduce factor");
  const uint32_t mask = 0x7Fu >> (factor - 1);
  const uint32_t maxDist = 256u << factor;
  std::vector<Token> tokens = Parse(data, maxDist, 3, mask + 255 + 3);

  // First stage: bytes with DLE (144) escapes and matches.
  constexpr uint8_t kDLE = 144;
  std::vector<uint8_t> mid;
  size_t pos = 0;
  for (const Token& t : tokens) {
    if (t.length == 0) {
      mid.push_back(t.literal);
      if (t.literal == kDLE) mid.push_back(0);
      ++pos;
      continue;
    }
    uint32_t len = t.length - 3, upper = (t.distance - 1) >> 8, low = (t.distance - 1) & 255;
    uint32_t v = upper << (8 - factor) | std::min(len, mask);
    if (v == 0) {  // a 3-byte match within 256 bytes has no code: its bytes go as they are
      for (uint32_t k = 0; k < 3; ++k) {
        uint8_t b = At(data, pos + k);
        mid.push_back(b);
        if (b == kDLE) mid.push_back(0);
      }
    } else {
      mid.push_back(kDLE);
      mid.push_back(static_cast<uint8_t>(v));
      if (len >= mask) mid.push_back(static_cast<uint8_t>(len - mask));
      mid.push_back(static_cast<uint8_t>(low));
    }
    pos += t.length;
  }

  // Second stage: follower sets of the most frequent successors of each byte.
  std::vector<std::map<uint8_t, uint64_t>> follow(256);
  uint8_t last = 0;
  for (uint8_t c : mid) {
    ++follow[last][c];
    last = c;
  }
  std::vector<std::vector<uint8_t>> sets(256);
  for (int j = 0; j < 256; ++j) {
    std::vector<std::pair<uint64_t, uint8_t>> byCount;
    for (auto [c, n] : follow[j]) byCount.push_back({n, c});
    std::stable_sort(byCount.begin(), byCount.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    for (size_t k = 0; k < byCount.size() && k < 32; ++k) sets[j].push_back(byCount[k].second);
  }
  BitWriter w;
  for (int j = 255; j >= 0; --j) {
    w.Put(static_cast<uint32_t>(sets[j].size()), 6);
    for (uint8_t c : sets[j]) w.Put(c, 8);
  }
  last = 0;
  for (uint8_t c : mid) {
    const auto& s = sets[last];
    if (s.empty()) {
      w.Put(c, 8);
    } else {
      auto it = std::find(s.begin(), s.end(), c);
      if (it == s.end()) {
        w.Put(1, 1);
        w.Put(c, 8);
      } else {
        int bits = 1;
        while ((1u << bits) < s.size()) ++bits;
        w.Put(0, 1);
        w.Put(static_cast<uint32_t>(it - s.begin()), bits);
      }
    }
    last = c;
  }
  return w.Finish();
}

std::string Implode(const std::string& data, bool dict8k, bool literalTree) {
  const int dictBits = dict8k ? 7 : 6;
  const uint32_t minMatch = literalTree ? 3 : 2;
  std::vector<Token> tokens = Parse(data, dict8k ? 8192 : 4096, minMatch, minMatch + 63 + 255);
  std::vector<uint64_t> litFreq(256, 0), lenFreq(64, 0), distFreq(64, 0);
  for (const Token& t : tokens) {
    if (t.length == 0) {
      ++litFreq[t.literal];
    } else {
      ++lenFreq[std::min<uint32_t>(t.length - minMatch, 63)];
      ++distFreq[(t.distance - 1) >> dictBits];
    }
  }
  Tree lit = MakeTree(litFreq), len = MakeTree(lenFreq), dist = MakeTree(distFreq);
  BitWriter w;
  if (literalTree) WriteTreeLengths(w, lit);
  WriteTreeLengths(w, len);
  WriteTreeLengths(w, dist);
  for (const Token& t : tokens) {
    if (t.length == 0) {
      w.Put(1, 1);
      if (literalTree) {
        lit.Write(w, t.literal);
      } else {
        w.Put(t.literal, 8);
      }
      continue;
    }
    w.Put(0, 1);
    uint32_t d = t.distance - 1;
    w.Put(d & ((1u << dictBits) - 1), dictBits);
    dist.Write(w, static_cast<int>(d >> dictBits));
    uint32_t l = t.length - minMatch;
    len.Write(w, static_cast<int>(std::min<uint32_t>(l, 63)));
    if (l >= 63) w.Put(l - 63, 8);
  }
  return w.Finish();
}

}  // namespace legacyenc
