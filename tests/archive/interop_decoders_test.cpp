// Other tools' compression methods: archives that 7-Zip (bzip2, LZMA, Deflate64) and Python's
// zipfile (bzip2, LZMA) make of one tree, plain, with the traditional cipher and with AES, and
// entries of methods 93 (Zstandard, two frames) and 95 (XZ, several blocks) made here with
// libzstd and liblzma, all test good with "arczip t" and extract identical to the tree with
// "arczip x"; a byte-split set of 7-Zip opens as one archive. 7-Zip tests the entries made here.
#include <gtest/gtest.h>
#include <lzma.h>
#include <zstd.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "archive/arczip.h"
#include "archive/zipaes.h"
#include "testutil.h"
#include "zipbuilder.h"

using testutil::Quote;
using testutil::TempDir;

namespace {

const std::string kArczip = ARCZIP_PATH;

// Text, noise, long runs (Deflate64 lengths past 258) and a block repeated 40 KB on (distances
// past 32 KiB), an empty file and a folder.
struct TTree {
  std::vector<std::pair<std::string, std::string>> files;
};

TTree MakeTree(const std::string& root) {
  TTree t;
  std::string text;
  for (int i = 0; i < 20000; ++i)
    text += "line " + std::to_string(i * 7919 % 10007) + " of the sample text\n";
  std::mt19937 rng(5);
  std::string noise(50000, '\0');
  for (auto& c : noise) c = static_cast<char>(rng());
  std::string block(40000, '\0');
  for (auto& c : block) c = static_cast<char>('a' + rng() % 26);
  std::string mixed = std::string(100000, '\0') + block + std::string(3000, 'z') + block + noise;
  t.files = {{"src/text.txt", text},
             {"src/sub/noise.bin", noise},
             {"src/sub/mixed.bin", mixed},
             {"src/empty.txt", ""}};
  std::filesystem::create_directories(root + "/src/sub");
  for (const auto& [name, data] : t.files) testutil::WriteFile(root + "/" + name, data);
  return t;
}

std::string ZstdFrames(const std::string& data) {
  // Two frames, the second compressed with a window of its own.
  std::string out;
  const size_t half = data.size() / 2;
  for (const std::string& part : {data.substr(0, half), data.substr(half)}) {
    std::string frame(ZSTD_compressBound(part.size()), '\0');
    size_t n = ZSTD_compress(frame.data(), frame.size(), part.data(), part.size(), 3);
    EXPECT_FALSE(ZSTD_isError(n));
    out += frame.substr(0, n);
  }
  return out;
}

std::string XzBlocks(const std::string& data) {
  // Blocks of 32 KiB, as a multi-threaded encoder writes them.
  lzma_mt mt{};
  mt.threads = 1;
  mt.block_size = 32768;
  mt.preset = 6;
  mt.check = LZMA_CHECK_CRC64;
  lzma_stream s = LZMA_STREAM_INIT;
  EXPECT_EQ(lzma_stream_encoder_mt(&s, &mt), LZMA_OK);
  std::string out(data.size() + data.size() / 2 + 4096, '\0');
  s.next_in = reinterpret_cast<const uint8_t*>(data.data());
  s.avail_in = data.size();
  s.next_out = reinterpret_cast<uint8_t*>(out.data());
  s.avail_out = out.size();
  EXPECT_EQ(lzma_code(&s, LZMA_FINISH), LZMA_STREAM_END);
  out.resize(out.size() - s.avail_out);
  lzma_end(&s);
  return out;
}

// Entries of the tree's files with data packed by pack under method; encrypted with the
// traditional cipher or AES-256 (AE-2) when asked.
std::string BuildArchive(const TTree& t, uint16_t method, std::string (*pack)(const std::string&),
                         const std::string& cipher) {
  ZipBuilder b;
  for (const auto& [name, data] : t.files) {
    BuildEntry e;
    e.name = name;
    e.data = data;
    // An empty file is stored, as zip tools do.
    e.method = data.empty() ? 0 : method;
    e.compressed = data.empty() ? "" : pack(data);
    if (cipher == "ZipCrypto") e.password = "Secret";
    if (cipher == "AES256") {
      TAesCipher aes("Secret", 3);
      std::string body = e.compressed;
      aes.Encrypt(reinterpret_cast<uint8_t*>(body.data()), body.size());
      uint8_t code[kAesCodeSize];
      aes.Code(code);
      e.compressed = std::string(reinterpret_cast<const char*>(aes.Salt()), 16) +
                     std::string(reinterpret_cast<const char*>(aes.Verifier()), 2) + body +
                     std::string(reinterpret_cast<const char*>(code), sizeof code);
      e.method = 99;
      e.flags = 1;
      e.crcOverride = 0;
      TAesField field;
      field.Version = 2;
      field.Strength = 3;
      field.Method = data.empty() ? 0 : method;
      e.centralExtra = e.localExtra = AesFieldBytes(field);
    }
    b.Add(e);
  }
  return b.Build();
}

// The methods the archive's entries are compressed with (under AES, the real one).
std::vector<int> DataMethods(const std::string& archive) {
  TArcZip z;
  z.SetZipName(archive);
  z.ReadArchive();
  std::vector<int> methods;
  for (int i = 0; i < z.EntryCount(); ++i) {
    const TZipHeaderInfo& h = z.EntryHeader(i);
    TAesField aes;
    methods.push_back(h.IsAes() && CheckAesEntry(h, aes).empty() ? aes.Method : h.ComprMethod);
  }
  return methods;
}

// Bits packed from the least significant end; Huffman codes go most significant bit first.
struct TBitWriter {
  std::string out;
  uint32_t acc = 0;
  int n = 0;
  void Put(uint32_t v, int bits) {
    for (int i = 0; i < bits; ++i) {
      acc |= ((v >> i) & 1u) << n;
      if (++n == 8) {
        out += static_cast<char>(acc);
        acc = 0;
        n = 0;
      }
    }
  }
  void Code(uint32_t code, int len) {
    for (int i = len - 1; i >= 0; --i) Put((code >> i) & 1u, 1);
  }
  // The fixed literal/length code of symbol sym.
  void Fixed(int sym) {
    if (sym < 144)
      Code(0x30 + sym, 8);
    else if (sym < 256)
      Code(0x190 + sym - 144, 9);
    else if (sym < 280)
      Code(sym - 256, 7);
    else
      Code(0xC0 + sym - 280, 8);
  }
};

}  // namespace

// What no encoder at hand writes: length code 285 with its 16 extra bits (a match of 60003) and
// distance code 31, in one fixed-code block. 7-Zip's reader agrees with ours on it.
TEST(DecodersInterop, Deflate64LongestLengthCodeAndFarthestDistanceCode) {
  if (!testutil::HaveTool("7zz")) GTEST_SKIP() << "7zz";
  TBitWriter w;
  w.Put(1, 1);  // last block
  w.Put(1, 2);  // fixed codes
  std::string want = "abc";
  for (char c : want) w.Fixed(static_cast<unsigned char>(c));
  w.Fixed(285);
  w.Put(60000, 16);
  w.Code(2, 5);  // distance 3
  for (int i = 0; i < 60003; ++i) want += want[want.size() - 3];
  w.Fixed('X');
  want += 'X';
  w.Fixed(264);  // length 10
  w.Code(31, 5);
  w.Put(100, 14);  // distance 49153 + 100
  for (int i = 0; i < 10; ++i) want += want[want.size() - 49253];
  w.Fixed(256);
  w.Put(0, 7);
  BuildEntry e;
  e.name = "long.txt";
  e.data = want;
  e.method = 9;
  e.compressed = w.out;
  ZipBuilder b;
  b.Add(e);
  TempDir dir;
  testutil::WriteFile(dir / "long.zip", b.Build());
  auto p = testutil::Run("7zz t " + Quote(dir / "long.zip"));
  EXPECT_EQ(p.status, 0) << p.out;
  auto x =
      testutil::Run(Quote(kArczip) + " x " + Quote(dir / "long.zip") + " -d " + Quote(dir / "out"));
  EXPECT_EQ(x.status, 0) << x.out;
  EXPECT_TRUE(testutil::ReadFile(dir / "out/long.txt") == want);
}

TEST(DecodersInterop, OtherToolsMethodsTestGoodAndExtractIdentically) {
  for (const char* tool : {"7zz", "python3"})
    if (!testutil::HaveTool(tool)) GTEST_SKIP() << tool;
  TempDir dir;
  const TTree tree = MakeTree(dir.path());
  struct TCase {
    std::string archive;
    int method;
    std::string make;  // shell command run in dir; empty for archives built here
    bool peerTests = false;
  };
  std::vector<TCase> cases;
  const std::pair<const char*, int> sevenZip[] = {{"BZip2", 12}, {"LZMA", 14}, {"Deflate64", 9}};
  for (const auto& [name, method] : sevenZip)
    for (const std::string cipher : {"", "ZipCrypto", "AES256"}) {
      const std::string archive = std::string(name) + cipher + ".zip";
      const std::string crypt = cipher.empty() ? "" : " -pSecret -mem=" + cipher;
      cases.push_back({archive, method,
                       "7zz a -tzip -mm=" + std::string(name) + crypt + " " + archive + " src"});
    }
  for (const auto& [archive, method] :
       {std::pair<std::string, int>{"pybz2.zip", 12}, {"pylzma.zip", 14}}) {
    const std::string type = method == 12 ? "ZIP_BZIP2" : "ZIP_LZMA";
    cases.push_back({archive, method,
                     "python3 -c \"import zipfile,os\nwith zipfile.ZipFile('" + archive +
                         "','w',zipfile." + type +
                         ") as z:\n  for r,d,f in os.walk('src'):\n    for n in f: "
                         "z.write(os.path.join(r,n))\""});
  }
  // A byte-split set: the first piece names the archive.
  cases.push_back({"split.zip.001", 9, "7zz a -tzip -mm=Deflate64 -pSecret -v60k split.zip src"});
  for (const std::string cipher : {"", "ZipCrypto", "AES256"}) {
    const std::string zstd = "zstd" + cipher + ".zip", xz = "xz" + cipher + ".zip";
    testutil::WriteFile(dir / zstd, BuildArchive(tree, 93, ZstdFrames, cipher));
    testutil::WriteFile(dir / xz, BuildArchive(tree, 95, XzBlocks, cipher));
    cases.push_back({zstd, 93, "", true});
    cases.push_back({xz, 95, "", true});
  }

  for (const TCase& c : cases) {
    SCOPED_TRACE(c.archive);
    if (!c.make.empty()) {
      auto r = testutil::Run("cd " + Quote(dir.path()) + " && " + c.make);
      ASSERT_EQ(r.status, 0) << r.out;
    }
    const std::string archive = dir / c.archive;
    // The text at least is stored with the method asked for.
    const std::vector<int> methods = DataMethods(archive);
    EXPECT_NE(std::find(methods.begin(), methods.end(), c.method), methods.end());
    if (c.peerTests) {
      auto p = testutil::Run("7zz t -pSecret " + Quote(archive));
      EXPECT_EQ(p.status, 0) << p.out;
    }
    auto t = testutil::Run(Quote(kArczip) + " t " + Quote(archive) + " -p Secret");
    EXPECT_EQ(t.status, 0) << t.out;
    EXPECT_NE(t.out.find(" 0 bad"), std::string::npos) << t.out;
    const std::string out = dir / ("out-" + c.archive);
    auto x =
        testutil::Run(Quote(kArczip) + " x " + Quote(archive) + " -d " + Quote(out) + " -p Secret");
    EXPECT_EQ(x.status, 0) << x.out;
    auto d = testutil::Run("diff -r " + Quote(dir / "src") + " " + Quote(out + "/src"));
    EXPECT_EQ(d.status, 0) << d.out;
  }
}
