#include "archive/zippack.h"

#include <fcntl.h>
#include <libdeflate.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <new>
#include <stdexcept>

#include "archive/zipcrypt.h"

bool TPackIdentity::Matches(const struct stat& st) const {
  int64_t mt = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return Opened && Dev == st.st_dev && Ino == st.st_ino && Size == st.st_size && MTimeNs == mt;
}

TDeflatePlan DeflatePlanFor(int level) {
  // Measured on the bench corpora (bench_deflate_levels, one core): libdeflate's 5 makes smaller
  // archives than zlib's 1-5 (by 1-29 %) and is no slower than zlib's 3 and 5; its 12 is 3-35 %
  // smaller than zlib's 9 at 0.9-1.2 times its time. For 6-8 no libdeflate level is both no
  // larger and no slower than zlib's on every corpus (its 6 is larger, its 7 and 10 far slower
  // on some data), so they stay with zlib.
  TDeflatePlan p;
  level = std::clamp(level, 1, 9);
  if (level >= 6 && level <= 8) {
    p.EngineLevel = level;
    p.ChunkSize = size_t{1} << 20;
    return p;
  }
  p.Whole = true;
  p.EngineLevel = level == 9 ? 12 : 5;
  p.ChunkSize = size_t{4} << 20;
  return p;
}

void MakeDeflateJoinable(std::vector<uint8_t>& data, size_t from) {
  if (from >= data.size()) throw std::runtime_error("empty deflate stream");
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) throw std::bad_alloc();
  struct TEnd {
    z_stream& z;
    ~TEnd() { inflateEnd(&z); }
  } end{z};
  // The first block's header starts the stream; every other one follows a block boundary.
  size_t headerByte = from;
  int headerBit = 0;
  int padding = -1;  // unused bits in the stream's last byte, once the final block ended
  uint8_t sink[32768];
  z.next_in = data.data() + from;
  z.avail_in = static_cast<uInt>(std::min<size_t>(data.size() - from, UINT_MAX));
  if (data.size() - from > UINT_MAX) throw std::runtime_error("deflate stream too long");
  for (;;) {
    z.next_out = sink;
    z.avail_out = sizeof sink;
    int r = inflate(&z, Z_BLOCK);
    if (r == Z_STREAM_END) break;
    if (r != Z_OK) throw std::runtime_error("invalid deflate stream");
    // data_type: the unused bits of the last byte taken, +64 in the final block, +128 at a
    // block boundary.
    if (z.data_type & 128) {
      int unused = z.data_type & 7;
      if (z.data_type & 64) {
        padding = unused;
        continue;  // the final block ended; the next call reports the stream's end
      }
      size_t taken = static_cast<size_t>(z.next_in - data.data());
      headerByte = unused ? taken - 1 : taken;
      headerBit = unused ? 8 - unused : 0;
    } else if (z.avail_in == 0 && z.avail_out != 0) {
      throw std::runtime_error("truncated deflate stream");
    }
  }
  if (z.avail_in != 0 || padding < 0) throw std::runtime_error("bytes after the deflate stream");
  data[headerByte] &= static_cast<uint8_t>(~(1u << headerBit));
  // The stored block's three header bits (no final bit, type 00) follow the end-of-block code,
  // then padding to the byte: zero bits in the last byte's unused part and, when fewer than three
  // were unused, one more byte. LEN and NLEN follow.
  data.back() &= static_cast<uint8_t>((1u << (8 - padding)) - 1);
  if (padding < 3) data.push_back(0);
  for (uint8_t b : {0x00, 0x00, 0xFF, 0xFF}) data.push_back(b);
}

struct TDeflater::Impl {
  z_stream z{};
  bool zInit = false;
  libdeflate_compressor* ld = nullptr;
  TDeflatePlan plan;
  std::vector<uint8_t> scratch;  // libdeflate's output, copied out at its true size
};

TDeflater::TDeflater(int level) : impl_(std::make_unique<Impl>()) {
  impl_->plan = DeflatePlanFor(level);
  if (impl_->plan.Whole) {
    impl_->ld = libdeflate_alloc_compressor(impl_->plan.EngineLevel);
    if (!impl_->ld) throw std::bad_alloc();
    return;
  }
  if (deflateInit2(&impl_->z, impl_->plan.EngineLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) !=
      Z_OK)
    throw std::bad_alloc();
  impl_->zInit = true;
}

const TDeflatePlan& TDeflater::Plan() const {
  return impl_->plan;
}

void TDeflater::Chunk(const uint8_t* in, size_t n, bool last, std::vector<uint8_t>& out) {
  size_t base = out.size();
  std::vector<uint8_t>& buf = impl_->scratch;
  buf.resize(libdeflate_deflate_compress_bound(impl_->ld, n));
  size_t made = libdeflate_deflate_compress(impl_->ld, n ? in : nullptr, n, buf.data(), buf.size());
  if (made == 0) throw std::runtime_error("deflate failed");
  out.insert(out.end(), buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(made));
  if (!last) MakeDeflateJoinable(out, base);
  // A large scratch buffer is not kept between chunks of a whole-file size.
  if (buf.capacity() > (size_t{8} << 20)) std::vector<uint8_t>().swap(buf);
}

TDeflater::~TDeflater() {
  if (impl_->zInit) deflateEnd(&impl_->z);
  if (impl_->ld) libdeflate_free_compressor(impl_->ld);
}

void TDeflater::Reset(const uint8_t* dict, size_t dictLen) {
  if (!impl_->zInit) throw std::logic_error("a whole-chunk deflater does not stream");
  deflateReset(&impl_->z);
  if (dictLen > 0) deflateSetDictionary(&impl_->z, dict, static_cast<uInt>(dictLen));
}

void TDeflater::Deflate(const uint8_t* in, size_t n, bool flush, bool finish,
                        std::vector<uint8_t>& out) {
  z_stream& z = impl_->z;
  int mode = finish ? Z_FINISH : flush ? Z_SYNC_FLUSH : Z_NO_FLUSH;
  size_t base = out.size();
  size_t want = deflateBound(&z, static_cast<uLong>(std::min<size_t>(n, ULONG_MAX))) + 64;
  out.resize(base + want);
  z.next_in = const_cast<Bytef*>(in);
  z.avail_in = 0;
  size_t left = n;
  size_t used = base;
  for (;;) {
    if (z.avail_in == 0 && left > 0) {
      uInt k = static_cast<uInt>(std::min<size_t>(left, 1u << 30));
      z.avail_in = k;
      left -= k;
    }
    if (out.size() - used < 64) out.resize(out.size() + std::max<size_t>(out.size() / 2, 65536));
    z.next_out = out.data() + used;
    z.avail_out = static_cast<uInt>(std::min<size_t>(out.size() - used, 1u << 30));
    size_t before = z.avail_out;
    int r = deflate(&z, left > 0 ? Z_NO_FLUSH : mode);
    used += before - z.avail_out;
    if (r == Z_STREAM_END) break;
    if (r != Z_OK && r != Z_BUF_ERROR) throw std::runtime_error("deflate failed");
    // Done when all input is taken and the flush completed (room left over in the output).
    if (left == 0 && z.avail_in == 0 && z.avail_out > 0 && mode != Z_FINISH) break;
  }
  out.resize(used);
}

TPackPipeline::TPackPipeline(std::vector<TPackSource> sources, int level, int workers,
                             size_t chunkSize, size_t budget)
    : sources_(std::move(sources)),
      level_(level),
      whole_(DeflatePlanFor(level).Whole),
      chunkSize_(std::max(chunkSize ? chunkSize : DeflatePlanFor(level).ChunkSize, kDictSize)),
      budget_(budget) {
  if (workers < 0) {
    unsigned hw = std::thread::hardware_concurrency();
    workers = static_cast<int>(std::clamp(hw > 1 ? hw - 1 : 1u, 1u, 3u));
  }
  callerDeflater_ = std::make_unique<TDeflater>(level_);
  for (int i = 0; i < workers; ++i) workers_.emplace_back([this] { WorkerLoop(); });
}

TPackPipeline::~TPackPipeline() {
  {
    std::lock_guard lock(mu_);
    stop_ = true;
  }
  cv_.notify_all();
  for (auto& t : workers_) t.join();
  for (auto& f : files_)
    if (f.Fd >= 0) ::close(f.Fd);
}

size_t TPackPipeline::PlannedLocked(const TFileState& f, size_t chunk) const {
  int64_t start = static_cast<int64_t>(chunk) * static_cast<int64_t>(chunkSize_);
  int64_t left = f.Id.Size - start;
  return left <= 0 ? 0 : static_cast<size_t>(std::min<int64_t>(left, chunkSize_));
}

TPackPipeline::TFileState& TPackPipeline::StateLocked(size_t i) {
  while (base_ + files_.size() <= i) files_.emplace_back();
  return files_[i - base_];
}

void TPackPipeline::TrimLocked() {
  while (!files_.empty() && base_ < consumer_ && base_ < curFile_) {
    TFileState& f = files_.front();
    if (f.Running > 0) break;  // a worker still holds it
    if (f.Fd >= 0) ::close(f.Fd);
    files_.pop_front();
    ++base_;
  }
}

void TPackPipeline::OpenLocked(size_t i) {
  TFileState& f = StateLocked(i);
  if (f.Opened || f.Failed) return;
  const std::string path(sources_[i].Path);
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0) ::close(fd);
    f.Failed = true;
    return;
  }
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  f.Fd = fd;
  f.Opened = true;
  f.Id.Opened = true;
  f.Id.Dev = st.st_dev;
  f.Id.Ino = st.st_ino;
  f.Id.Size = st.st_size;
  f.Id.MTimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  int64_t n =
      (st.st_size + static_cast<int64_t>(chunkSize_) - 1) / static_cast<int64_t>(chunkSize_);
  f.Chunks = static_cast<size_t>(std::max<int64_t>(n, 1));
  f.Remaining = f.Chunks;
  f.State.assign(f.Chunks, TUnitState::Waiting);
  f.Results.resize(f.Chunks);
}

void TPackPipeline::AdvanceLocked() {
  while (curFile_ < sources_.size()) {
    TFileState& f = StateLocked(curFile_);
    if (!f.Dropped && !f.Failed) {
      if (!f.Opened) return;  // opened by whoever claims next
      if (curChunk_ < f.Chunks) return;
    }
    ++curFile_;
    curChunk_ = 0;
  }
}

bool TPackPipeline::ClaimLocked(size_t& file, size_t& chunk, bool ignoreBudget) {
  for (;;) {
    AdvanceLocked();
    if (curFile_ >= sources_.size()) return false;
    TFileState& f = StateLocked(curFile_);
    if (!f.Opened) {
      OpenLocked(curFile_);
      continue;
    }
    size_t cost = CostLocked(f, curChunk_);
    if (!ignoreBudget && inflight_ > 0 && inflight_ + cost > budget_) return false;
    file = curFile_;
    chunk = curChunk_;
    f.State[chunk] = TUnitState::Working;
    ++f.Running;
    inflight_ += cost;
    ++curChunk_;
    return true;
  }
}

void TPackPipeline::CloseIfIdleLocked(TFileState& f) {
  if (f.Fd >= 0 && f.Running == 0 && (f.Remaining == 0 || f.Dropped)) {
    ::close(f.Fd);
    f.Fd = -1;
  }
}

void TPackPipeline::RunUnit(std::unique_lock<std::mutex>& lock, size_t file, size_t chunk,
                            TDeflater& d) {
  // The state stays where it is while Running counts this unit (TrimLocked waits for it).
  TFileState& f = StateLocked(file);
  int fd = f.Fd;
  bool store = sources_[file].Store;
  bool finalChunk = chunk + 1 == f.Chunks;
  size_t planned = PlannedLocked(f, chunk);
  size_t cost = CostLocked(f, chunk);
  int64_t start = static_cast<int64_t>(chunk) * static_cast<int64_t>(chunkSize_);
  size_t dictLen = store || whole_ ? 0 : static_cast<size_t>(std::min<int64_t>(start, kDictSize));
  lock.unlock();

  auto result = std::make_unique<TPackChunk>();
  int readError = 0;
  try {
    std::vector<uint8_t> buf(dictLen + planned);
    size_t got = 0;
    while (got < buf.size()) {
      ssize_t r = ::pread(fd, buf.data() + got, buf.size() - got,
                          start - static_cast<int64_t>(dictLen) + static_cast<int64_t>(got));
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) {
        readError = errno;  // a failing medium: the file is not stored, never cut short
        break;
      }
      if (r == 0) break;  // end of file: the file became shorter
      got += static_cast<size_t>(r);
    }
    size_t dictGot = std::min(got, dictLen);
    size_t dataGot = got - dictGot;
    const uint8_t* data = buf.data() + dictGot;
    result->InSize = dataGot;
    result->Last = finalChunk || dataGot < planned;
    result->Crc = ZipCrc32(0, data, dataGot);
    result->DictLen = static_cast<uint32_t>(dictGot);
    result->DictCrc = ZipCrc32(0, buf.data(), dictGot);
    size_t tail = std::min(dataGot, kDictSize);
    result->TailLen = static_cast<uint32_t>(tail);
    result->TailCrc = ZipCrc32(0, data + dataGot - tail, tail);
    if (store) {
      result->Data.assign(data, data + dataGot);
    } else if (whole_) {
      d.Chunk(data, dataGot, result->Last, result->Data);
    } else {
      d.Reset(buf.data(), dictGot);
      result->Data.reserve(dataGot / 2 + 1024);
      d.Deflate(data, dataGot, !result->Last, result->Last, result->Data);
    }
  } catch (const std::exception&) {
    // Nothing may escape a worker thread: the failure is handed to the caller with the chunk.
    result = std::make_unique<TPackChunk>();
    result->Error = true;
    result->Last = true;
  }
  if (readError != 0) {
    result->ReadError = readError;
    result->Last = true;
  }

  lock.lock();
  --f.Running;
  --f.Remaining;
  if (f.Dropped) {
    inflight_ -= cost;
  } else {
    f.Results[chunk] = std::move(result);
    f.State[chunk] = TUnitState::Done;
  }
  CloseIfIdleLocked(f);
  cv_.notify_all();
}

void TPackPipeline::WorkerLoop() {
  TDeflater d(level_);
  std::unique_lock lock(mu_);
  while (!stop_) {
    size_t file, chunk;
    if (ClaimLocked(file, chunk, false)) {
      RunUnit(lock, file, chunk, d);
    } else {
      cv_.wait(lock);
    }
  }
}

void TPackPipeline::CatchUpLocked(size_t i) {
  // Every file the caller passed over without consuming it all is dropped, so its results and
  // its share of the budget are freed.
  for (size_t j = std::max(consumer_, base_); j < i && j < sources_.size(); ++j) {
    TFileState& f = StateLocked(j);
    if (!f.Dropped && (!f.Opened || f.Consumed < f.Chunks)) DropLocked(j);
  }
  consumer_ = std::max(consumer_, i);
  AdvanceLocked();
  TrimLocked();
}

TPackIdentity TPackPipeline::Identity(size_t i) {
  std::unique_lock lock(mu_);
  CatchUpLocked(i);
  TFileState& f = StateLocked(i);
  if (!f.Opened && !f.Failed && !f.Dropped) OpenLocked(i);
  return f.Id;
}

bool TPackPipeline::Next(size_t i, TPackChunk& out) {
  std::unique_lock lock(mu_);
  CatchUpLocked(i);
  TFileState& f = StateLocked(i);
  if (!f.Opened && !f.Failed && !f.Dropped) OpenLocked(i);
  for (;;) {
    if (f.Failed || f.Dropped || f.Consumed >= f.Chunks) return false;
    size_t k = f.Consumed;
    if (f.State[k] == TUnitState::Done) {
      out = std::move(*f.Results[k]);
      f.Results[k].reset();
      inflight_ -= CostLocked(f, k);
      ++f.Consumed;
      // Stored chunks use no dictionary; deflated ones must be primed with the bytes before them.
      out.Torn = out.Error || (k > 0 && out.DictLen > 0 && out.DictCrc != f.LastTailCrc);
      f.LastTailCrc = out.TailCrc;
      if (out.Last && f.Consumed < f.Chunks) DropLocked(i);
      cv_.notify_all();
      return true;
    }
    size_t file, chunk;
    if (f.State[k] == TUnitState::Waiting) {
      // Nobody has it: it is at the cursor, since everything before it was claimed.
      if (!ClaimLocked(file, chunk, true)) return false;
      RunUnit(lock, file, chunk, *callerDeflater_);
      continue;
    }
    // A worker is on it: help with later work meanwhile, or wait.
    if (ClaimLocked(file, chunk, false)) {
      RunUnit(lock, file, chunk, *callerDeflater_);
    } else {
      cv_.wait(lock);
    }
  }
}

void TPackPipeline::DropLocked(size_t i) {
  TFileState& f = StateLocked(i);
  if (f.Dropped) return;
  f.Dropped = true;
  for (size_t k = 0; k < f.Results.size(); ++k) {
    if (f.State[k] == TUnitState::Done && f.Results[k]) {
      inflight_ -= CostLocked(f, k);
      f.Results[k].reset();
    }
  }
  CloseIfIdleLocked(f);
  if (curFile_ == i) AdvanceLocked();
  cv_.notify_all();
}

void TPackPipeline::Drop(size_t i) {
  std::lock_guard lock(mu_);
  if (i < sources_.size() && i >= base_) DropLocked(i);
}
