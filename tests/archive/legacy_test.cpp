// The shrink, reduce and implode decoders: round trips through the test encoders over data that
// drives every path (code-size steps, partial clears, DLE escapes, long and overlapping matches),
// streams worked out by hand, and damaged streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>

#include "archive/legacydecode.h"
#include "legacyencode.h"

namespace {

struct Method {
  const char* name;
  int method;
  uint16_t flags;
  std::string (*encode)(const std::string&);
};

const Method kMethods[] = {
    {"shrink", 1, 0, [](const std::string& d) { return legacyenc::Shrink(d); }},
    {"shrink_clears", 1, 0,
     [](const std::string& d) { return legacyenc::Shrink(d, {.clearEvery = 300}); }},
    {"reduce1", 2, 0, [](const std::string& d) { return legacyenc::Reduce(d, 1); }},
    {"reduce2", 3, 0, [](const std::string& d) { return legacyenc::Reduce(d, 2); }},
    {"reduce3", 4, 0, [](const std::string& d) { return legacyenc::Reduce(d, 3); }},
    {"reduce4", 5, 0, [](const std::string& d) { return legacyenc::Reduce(d, 4); }},
    {"implode4k2", 6, 0, [](const std::string& d) { return legacyenc::Implode(d, false, false); }},
    {"implode4k3", 6, 4, [](const std::string& d) { return legacyenc::Implode(d, false, true); }},
    {"implode8k2", 6, 2, [](const std::string& d) { return legacyenc::Implode(d, true, false); }},
    {"implode8k3", 6, 6, [](const std::string& d) { return legacyenc::Implode(d, true, true); }},
};

std::string Random(size_t n, uint32_t seed, int alphabet = 256) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(rng() % alphabet);
  return s;
}

// Text with repeats at every distance up to 8K, DLE bytes, runs and noise.
std::string Mixed() {
  std::string s;
  std::mt19937 rng(3);
  for (int i = 0; i < 1500; ++i) {
    switch (rng() % 5) {
      case 0:
        s += "The quick brown fox jumps over the lazy dog. ";
        break;
      case 1:
        s += std::string(rng() % 700, static_cast<char>(rng() % 4 == 0 ? 0x90 : 'z'));
        break;
      case 2:
        if (s.size() > 9000) s += s.substr(s.size() - 1 - rng() % 8500, 1 + rng() % 600);
        break;
      case 3:
        s += Random(1 + rng() % 40, static_cast<uint32_t>(i));
        break;
      default:
        s += std::to_string(rng());
    }
  }
  return s;
}

// Decodes with the compressed bytes handed over `chunk` at a time and output taken `cap` at a time.
std::string Decode(int method, uint16_t flags, const std::string& packed, uint64_t size,
                   size_t chunk = 7, size_t cap = 1000) {
  size_t at = 0;
  auto dec = MakeLegacyDecoder(method, flags, size, [&](uint8_t* buf, size_t want) {
    size_t n = std::min({want, chunk, packed.size() - at});
    std::memcpy(buf, packed.data() + at, n);
    at += n;
    return n;
  });
  std::string out;
  std::string piece(cap, '\0');
  for (;;) {
    size_t n = dec->Read(reinterpret_cast<uint8_t*>(piece.data()), cap);
    if (n == 0) break;
    out.append(piece, 0, n);
  }
  return out;
}

// Equal, or where the first difference is (long data is not printed).
testing::AssertionResult Same(const std::string& got, const std::string& want) {
  if (got == want) return testing::AssertionSuccess();
  size_t at = 0;
  while (at < got.size() && at < want.size() && got[at] == want[at]) ++at;
  return testing::AssertionFailure()
         << "sizes " << got.size() << " / " << want.size() << ", first difference at " << at;
}

TEST(LegacyDecoders, RoundTripEveryMethodOverEveryKindOfData) {
  const std::pair<const char*, std::string> inputs[] = {
      {"empty", ""},
      {"one byte", "a"},
      {"dle only", std::string(5, '\x90')},
      {"long run", std::string(100000, 'x')},   // longest matches, table filling
      {"random", Random(60000, 1)},             // 13-bit codes, clears on a full table
      {"small alphabet", Random(50000, 2, 3)},  // deep strings, overlapping matches
      {"mixed", Mixed()},
  };
  for (const auto& m : kMethods) {
    for (const auto& [label, data] : inputs) {
      SCOPED_TRACE(std::string(m.name) + " / " + label);
      std::string packed = m.encode(data);
      EXPECT_TRUE(Same(Decode(m.method, m.flags, packed, data.size()), data));
      EXPECT_TRUE(Same(Decode(m.method, m.flags, packed, data.size(), 4096, 1), data));
    }
  }
}

TEST(LegacyDecoders, DamagedStreamsFailOrStayWithinTheStatedSize) {
  const std::string data = Mixed().substr(0, 60000);
  for (const auto& m : kMethods) {
    SCOPED_TRACE(m.name);
    std::string packed = m.encode(data);
    // Cut short: the data ends before the stated size.
    EXPECT_THROW(Decode(m.method, m.flags, packed.substr(0, packed.size() / 2), data.size()),
                 EBadLegacyData);
    // A stated size beyond the stream.
    EXPECT_THROW(Decode(m.method, m.flags, packed, data.size() + 5000), EBadLegacyData);
    // A smaller stated size stops there.
    EXPECT_TRUE(Same(Decode(m.method, m.flags, packed, 1234), data.substr(0, 1234)));
    // Flipped bits and garbage: an error or at most the stated size, never a hang or a crash.
    std::mt19937 rng(11);
    for (int round = 0; round < 40; ++round) {
      std::string bad = round < 20 ? packed : Random(packed.size(), round);
      for (int k = 0; k < 1 + round % 4; ++k)
        bad[rng() % bad.size()] ^= static_cast<char>(1 << rng() % 8);
      try {
        EXPECT_LE(Decode(m.method, m.flags, bad, data.size()).size(), data.size());
      } catch (const EBadLegacyData&) {
      }
    }
  }
}

// Streams written out by hand from the format description.
TEST(LegacyDecoders, HandMadeStreams) {
  // Reduce: 256 empty follower sets (6 zero bits each), then plain bytes.
  const std::string noSets(192, '\0');
  struct Case {
    const char* name;
    int method;
    uint16_t flags;
    std::string packed;
    std::string expected;  // empty: the stream is refused
  };
  const Case cases[] = {
      // Factor 1: DLE, V=0x81 (length 1+3, distance 256+0+1 reaching before the start: zeros),
      // 'A', DLE, V=2 (length 5, distance 1), DLE 0 (a literal 144).
      {"reduce before start", 2, 0,
       noSets + std::string("\x90\x81\x00"
                            "A"
                            "\x90\x02\x00"
                            "\x90\x00",
                            9),
       std::string(4, '\0') + "AAAAAA" + "\x90"},
      // Factor 4: V=0x0F is the longest short length, so a byte more of length follows (10):
      // 15 + 10 + 3 bytes from distance 1.
      {"reduce long length", 5, 0, noSets + std::string("B\x90\x0F\x0A\x00", 5),
       std::string(29, 'B')},
      // Follower set of byte 0 = {'q'} (the set read last): index bit 0 then 1 index bit.
      {"reduce follower", 2, 0, std::string(191, '\0') + std::string("\x04\x71\x00", 3), "q"},
      // Implode without literal tree: every tree lists 64 values of length 6 (4 bytes of 16 each);
      // all-zero bits then give a match of 65 bytes from distance 4033, all before the start:
      // zeros.
      {"implode zeros before start", 6, 0,
       std::string("\x03\xF5\xF5\xF5\xF5\x03\xF5\xF5\xF5\xF5", 10) + std::string(4, '\0'),
       std::string(2, '\0')},
      // A tree whose 64 codes of one bit cannot all exist.
      {"implode oversubscribed", 6, 0,
       std::string("\x03\xF0\xF0\xF0\xF0", 5) + std::string(20, '\0'), ""},
      // A tree listing 65 values.
      {"implode too many values", 6, 0, std::string("\x04\xF5\xF5\xF5\xF5\x00", 6), ""},
      // Shrink: a first code above 255; the unknown control sequence 256,3.
      {"shrink first code", 1, 0, std::string("\x01\x01\x00", 3), ""},
      {"shrink control 3", 1, 0, std::string("\x00\x07\x00", 3), ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.expected.empty()) {
      EXPECT_THROW(Decode(c.method, c.flags, c.packed, 10), EBadLegacyData);
    } else {
      EXPECT_EQ(Decode(c.method, c.flags, c.packed, c.expected.size()), c.expected);
    }
  }
  EXPECT_EQ(MakeLegacyDecoder(9, 0, 1, nullptr), nullptr);
}

}  // namespace
