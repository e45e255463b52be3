#include "archive/entrydecoder.h"

#include <bzlib.h>
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <new>
#include <vector>

#include "archive/legacydecode.h"
#include "archive/zipexceptions.h"

namespace {

constexpr uint64_t kMiB = uint64_t{1} << 20;
constexpr uint64_t kMemoryCeiling = uint64_t{1} << 30;
constexpr size_t kInSize = 65536;

std::string MiB(uint64_t bytes) {
  return std::to_string((bytes + kMiB - 1) / kMiB) + " MiB";
}

// Compressed bytes pulled through the fetch callback into a buffer the library reads from.
class TInput {
 public:
  explicit TInput(TEntryDecoder::TFetch fetch) : fetch_(std::move(fetch)), buf_(kInSize) {}
  // Makes sure some bytes are waiting; false at the end of the compressed data.
  bool Fill() {
    if (pos_ < len_) return true;
    if (eof_) return false;
    len_ = std::min(fetch_(buf_.data(), buf_.size()), buf_.size());
    pos_ = 0;
    eof_ = len_ == 0;
    return !eof_;
  }
  const uint8_t* Data() const { return buf_.data() + pos_; }
  size_t Left() const { return len_ - pos_; }
  void Take(size_t n) { pos_ += n; }
  bool AtEnd() { return !Fill(); }

 private:
  TEntryDecoder::TFetch fetch_;
  std::vector<uint8_t> buf_;
  size_t pos_ = 0, len_ = 0;
  bool eof_ = false;
};

// Method 8: zlib's raw inflate.
class TInflate final : public TEntryDecoder {
 public:
  explicit TInflate(TFetch fetch) : in_(std::move(fetch)) {
    if (inflateInit2(&z_, -MAX_WBITS) != Z_OK) throw std::bad_alloc();
  }
  ~TInflate() override { inflateEnd(&z_); }
  size_t Read(uint8_t* out, size_t cap) override {
    if (ended_) return 0;
    for (;;) {
      const bool more = in_.Fill();
      z_.next_in = const_cast<uint8_t*>(in_.Data());
      z_.avail_in = static_cast<uInt>(in_.Left());
      z_.next_out = out;
      z_.avail_out = static_cast<uInt>(std::min<size_t>(cap, UINT32_MAX));
      int rc = inflate(&z_, Z_NO_FLUSH);
      in_.Take(in_.Left() - z_.avail_in);
      size_t produced = static_cast<size_t>(z_.next_out - out);
      if (rc == Z_MEM_ERROR) throw std::bad_alloc();
      if (rc == Z_DATA_ERROR || rc == Z_NEED_DICT || rc == Z_STREAM_ERROR)
        throw EDamagedData("damaged deflate data");
      if (rc == Z_STREAM_END) ended_ = true;
      if (produced > 0 || ended_) return produced;
      if (!more) throw EFatalUnzipError();
    }
  }

 private:
  TInput in_;
  z_stream z_{};
  bool ended_ = false;
};

// Methods 1-6: the legacy decoders, which stop at the stated size.
class TLegacy final : public TEntryDecoder {
 public:
  explicit TLegacy(std::unique_ptr<TLegacyDecoder> d) : d_(std::move(d)) {}
  size_t Read(uint8_t* out, size_t cap) override {
    try {
      return d_->Read(out, cap);
    } catch (const EBadLegacyData& e) {
      throw EDamagedData(e.what());
    }
  }

 private:
  std::unique_ptr<TLegacyDecoder> d_;
};

// Method 12: bzip2, one stream after another while more data follows (parallel compressors
// write one stream per piece). Its memory is bounded by the format (at most 900 kB blocks).
class TBunzip final : public TEntryDecoder {
 public:
  explicit TBunzip(TFetch fetch) : in_(std::move(fetch)) { Start(); }
  ~TBunzip() override { BZ2_bzDecompressEnd(&s_); }
  size_t Read(uint8_t* out, size_t cap) override {
    for (;;) {
      if (trailing_) return 0;
      if (ended_) {
        // Another stream follows when more data does; anything else after a stream is ignored.
        if (in_.AtEnd() || in_.Data()[0] != 'B') return 0;
        BZ2_bzDecompressEnd(&s_);
        Start();
      }
      const bool more = in_.Fill();
      s_.next_in = const_cast<char*>(reinterpret_cast<const char*>(in_.Data()));
      s_.avail_in = static_cast<unsigned>(in_.Left());
      s_.next_out = reinterpret_cast<char*>(out);
      s_.avail_out = static_cast<unsigned>(std::min<size_t>(cap, UINT32_MAX));
      int rc = BZ2_bzDecompress(&s_);
      in_.Take(in_.Left() - s_.avail_in);
      size_t produced = static_cast<size_t>(reinterpret_cast<uint8_t*>(s_.next_out) - out);
      if (rc == BZ_MEM_ERROR) throw std::bad_alloc();
      if (rc == BZ_DATA_ERROR_MAGIC && streams_ > 1) {
        trailing_ = true;  // bytes after the last stream that are not a stream
        return 0;
      }
      if (rc != BZ_OK && rc != BZ_STREAM_END) throw EDamagedData("damaged bzip2 data");
      if (rc == BZ_STREAM_END) ended_ = true;
      if (produced > 0) return produced;
      if (ended_) continue;
      if (!more) throw EFatalUnzipError();
    }
  }

 private:
  void Start() {
    s_ = bz_stream{};
    if (BZ2_bzDecompressInit(&s_, 0, 0) != BZ_OK) throw std::bad_alloc();
    ended_ = false;
    ++streams_;
  }
  TInput in_;
  bz_stream s_{};
  bool ended_ = false;
  bool trailing_ = false;
  int streams_ = 0;
};

// liblzma's stream under methods 14 and 95.
class TLzmaBase : public TEntryDecoder {
 public:
  ~TLzmaBase() override { lzma_end(&s_); }
  size_t Read(uint8_t* out, size_t cap) override {
    if (ended_) return 0;
    if (produced_ >= outCap_) throw EBiggerThanUncompressed();
    cap = static_cast<size_t>(std::min<uint64_t>(cap, outCap_ - produced_));
    for (;;) {
      const bool more = in_.Fill();
      s_.next_in = in_.Data();
      s_.avail_in = in_.Left();
      s_.next_out = out;
      s_.avail_out = cap;
      lzma_ret rc = lzma_code(&s_, more ? LZMA_RUN : LZMA_FINISH);
      in_.Take(in_.Left() - s_.avail_in);
      size_t produced = static_cast<size_t>(s_.next_out - out);
      produced_ += produced;
      switch (rc) {
        case LZMA_OK:
          break;
        case LZMA_STREAM_END:
          ended_ = true;
          return produced;
        case LZMA_MEM_ERROR:
          throw std::bad_alloc();
        case LZMA_MEMLIMIT_ERROR:
          throw EDecoderMemory(lzma_memusage(&s_), limit_);
        case LZMA_BUF_ERROR:
          if (produced == 0) throw EFatalUnzipError();
          break;
        default:
          throw EDamagedData("damaged LZMA data");
      }
      if (produced > 0) return produced;
      if (!more) throw EFatalUnzipError();
    }
  }

 protected:
  TLzmaBase(TFetch fetch, uint64_t limit) : in_(std::move(fetch)), limit_(limit) {}
  TInput in_;
  lzma_stream s_ = LZMA_STREAM_INIT;
  uint64_t limit_;
  uint64_t outCap_ = UINT64_MAX;  // never more output than this is decoded
  uint64_t produced_ = 0;
  bool ended_ = false;
};

// Method 95: an XZ stream (or several), blocks and integrity checks as the format has them. The
// memory limit covers the decoder's dictionary and its own state.
class TUnxz final : public TLzmaBase {
 public:
  TUnxz(TFetch fetch, uint64_t limit) : TLzmaBase(std::move(fetch), limit) {
    lzma_ret rc = lzma_stream_decoder(&s_, limit + kMiB, LZMA_CONCATENATED);
    if (rc == LZMA_MEM_ERROR) throw std::bad_alloc();
    if (rc != LZMA_OK) throw EDamagedData("XZ decoder refused its options");
  }
};

// Method 14: a 4-byte header (the encoder's version, the properties' size), 5 properties bytes
// (lc/lp/pb and the dictionary size), then raw LZMA. With flag bit 1 the stream ends with an end
// marker; without it the stated size ends it. The memory limit applies to the dictionary the
// stream can use: the claimed one, no larger than the stated size.
class TUnlzma final : public TLzmaBase {
 public:
  TUnlzma(TFetch fetch, const TDecoderEntry& e, uint64_t limit)
      : TLzmaBase(std::move(fetch), limit) {
    uint8_t head[9];
    for (size_t got = 0; got < sizeof head;) {
      if (!in_.Fill()) throw EFatalUnzipError();
      size_t n = std::min(in_.Left(), sizeof head - got);
      std::copy_n(in_.Data(), n, head + got);
      in_.Take(n);
      got += n;
    }
    if ((head[2] | head[3] << 8) != 5) throw EDamagedData("LZMA properties of another size");
    unsigned d = head[4];
    if (d >= 9 * 5 * 5) throw EDamagedData("bad LZMA properties");
    lzma_options_lzma opt{};
    opt.lc = d % 9;
    opt.lp = d / 9 % 5;
    opt.pb = d / 45;
    opt.dict_size = static_cast<uint32_t>(head[5] | head[6] << 8 | head[7] << 16) |
                    static_cast<uint32_t>(head[8]) << 24;
    // No match reaches further back than the output: a dictionary larger than the stated size
    // (encoders write their preset's, whatever the file) is never needed. With an end marker
    // one byte more than stated is decoded, enough to tell that the data is longer.
    const bool marker = (e.Flags & 0x0002) != 0;
    const uint64_t stated = std::min<uint64_t>(e.UncompressedSize, UINT64_MAX - 1);
    const uint64_t need = std::min<uint64_t>(opt.dict_size, marker ? stated + 1 : stated);
    if (need > limit) throw EDecoderMemory(need, limit);
    opt.dict_size = std::max(static_cast<uint32_t>(need), LZMA_DICT_SIZE_MIN);
    if (marker) outCap_ = stated + 1;
    const uint64_t size = marker ? UINT64_MAX : e.UncompressedSize;
    opt.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
    opt.ext_size_low = static_cast<uint32_t>(size);
    opt.ext_size_high = static_cast<uint32_t>(size >> 32);
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &opt}, {LZMA_VLI_UNKNOWN, nullptr}};
    lzma_ret rc = lzma_raw_decoder(&s_, filters);
    if (rc == LZMA_MEM_ERROR) throw std::bad_alloc();
    if (rc != LZMA_OK) throw EDamagedData("bad LZMA properties");
    // Nothing to decode: a stream that ends at once (no marker) is still read to its end.
    if (size == 0) ended_ = true;
  }
};

// Method 93: Zstandard frames one after another (skippable frames included). A frame whose
// window is larger than the limit is refused before its window is allocated.
class TUnzstd final : public TEntryDecoder {
 public:
  TUnzstd(TFetch fetch, uint64_t limit) : in_(std::move(fetch)), limit_(limit) {
    d_ = ZSTD_createDCtx();
    if (!d_) throw std::bad_alloc();
    int log = 10;
    while (log < 31 && (uint64_t{1} << (log + 1)) <= limit) ++log;
    ZSTD_DCtx_setParameter(d_, ZSTD_d_windowLogMax, log);
  }
  ~TUnzstd() override { ZSTD_freeDCtx(d_); }
  size_t Read(uint8_t* out, size_t cap) override {
    for (;;) {
      const bool more = in_.Fill();
      if (!more && frameDone_) return 0;
      ZSTD_inBuffer ib{in_.Data(), in_.Left(), 0};
      ZSTD_outBuffer ob{out, cap, 0};
      size_t rc = ZSTD_decompressStream(d_, &ob, &ib);
      in_.Take(ib.pos);
      if (ZSTD_isError(rc)) {
        const ZSTD_ErrorCode code = ZSTD_getErrorCode(rc);
        if (code == ZSTD_error_frameParameter_windowTooLarge)
          throw EDecoderMemory(WindowOf(static_cast<const uint8_t*>(ib.src), ib.size), limit_);
        if (code == ZSTD_error_memory_allocation) throw std::bad_alloc();
        throw EDamagedData("damaged Zstandard data");
      }
      // 0: a frame ended and everything of it has been handed out.
      frameDone_ = rc == 0;
      if (ob.pos > 0) return ob.pos;
      if (!more) throw EFatalUnzipError();
    }
  }

 private:
  // The window a frame header at p claims (its window descriptor: a power of two and eighths of
  // it); for a frame without one, just over the limit.
  uint64_t WindowOf(const uint8_t* p, size_t n) const {
    const bool frame = n >= 6 && p[0] == 0x28 && p[1] == 0xB5 && p[2] == 0x2F && p[3] == 0xFD;
    if (!frame || (p[4] & 0x20)) return limit_ + 1;
    const uint64_t base = uint64_t{1} << (10 + (p[5] >> 3));
    return base + base / 8 * (p[5] & 7);
  }
  TInput in_;
  ZSTD_DCtx* d_ = nullptr;
  uint64_t limit_;
  bool frameDone_ = false;
};

}  // namespace

EDecoderMemory::EDecoderMemory(uint64_t claimed, uint64_t limit)
    : std::runtime_error("the compressed data claims " + MiB(claimed) +
                         " of decoder memory, more than the " + MiB(limit) + " allowed for it"),
      claimed_(claimed),
      limit_(limit) {}

uint64_t DecoderMemoryLimit(uint64_t compressedSize) {
  const uint64_t scaled =
      compressedSize > kMemoryCeiling / 64 ? kMemoryCeiling : compressedSize * 64 + 16 * kMiB;
  return std::min(scaled, kMemoryCeiling);
}

bool DecodesMethod(int method) {
  switch (method) {
    case 8:
    case 9:
    case 12:
    case 14:
    case 93:
    case 95:
      return true;
    default:
      return IsLegacyMethod(method);
  }
}

std::unique_ptr<TEntryDecoder> MakeEntryDecoder(const TDecoderEntry& e,
                                                TEntryDecoder::TFetch fetch) {
  const uint64_t limit = DecoderMemoryLimit(e.CompressedSize);
  switch (e.Method) {
    case 8:
      return std::make_unique<TInflate>(std::move(fetch));
    case 9:
      return MakeInflate64Decoder(std::move(fetch));
    case 12:
      return std::make_unique<TBunzip>(std::move(fetch));
    case 14:
      return std::make_unique<TUnlzma>(std::move(fetch), e, limit);
    case 93:
      return std::make_unique<TUnzstd>(std::move(fetch), limit);
    case 95:
      return std::make_unique<TUnxz>(std::move(fetch), limit);
    default:
      if (auto legacy = MakeLegacyDecoder(e.Method, e.Flags, e.UncompressedSize, std::move(fetch)))
        return std::make_unique<TLegacy>(std::move(legacy));
      return nullptr;
  }
}
