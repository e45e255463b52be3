// Compression of the files to store, ahead of the writer, on worker threads.
//
// Every file is cut into chunks of ChunkSize bytes (a smaller file is one chunk, whole), and the
// chunks of a file concatenate into one valid deflate stream. Two engines make them, chosen per
// level (DeflatePlanFor):
//  - zlib: a chunk is primed with the 32 KiB before it as the dictionary and ended with a sync
//    flush (the last one with the final block);
//  - libdeflate, which compresses smaller and faster but only whole buffers with no dictionary:
//    a chunk is compressed on its own, and every chunk but the last is then made joinable (its
//    final-block bit cleared, an empty stored block appended, as a sync flush ends).
// Workers take chunks strictly in list order within a memory budget; the caller consumes them in
// the same order and, while its next chunk is still being made, helps by compressing later ones.
// No callback ever runs on a worker: the caller does all events and writing.
#pragma once

#include <sys/stat.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// One file to compress. The name is not copied: it must outlive the pipeline (the writer's file
// list holds it), so a run of a million files keeps one copy of each name.
struct TPackSource {
  std::string_view Path;
  bool Store = false;  // method 0: the data is copied as it is
};

struct TPackChunk {
  std::vector<uint8_t> Data;  // compressed (or stored) bytes
  uint32_t Crc = 0;           // CRC-32 of the chunk's input
  uint64_t InSize = 0;        // input bytes of the chunk
  bool Last = false;          // the last chunk of the file (also when the file ended early)
  uint32_t DictCrc = 0;       // CRC-32 of the dictionary the chunk was primed with
  uint32_t TailCrc = 0;       // CRC-32 of the last 32 KiB (or less) of its input
  uint32_t TailLen = 0;
  uint32_t DictLen = 0;
  // The dictionary differs from the end of the chunk before: the file changed while it was being
  // read, and the chunks do not form one consistent stream.
  bool Torn = false;
  // Compressing the chunk failed on a worker (out of memory); the caller redoes the file itself.
  bool Error = false;
  // Reading the source failed (errno; 0: it did not). The chunk is the file's last: what was
  // read must not be stored as if the file ended there.
  int ReadError = 0;
};

// The identity of a source as the workers opened it.
struct TPackIdentity {
  bool Opened = false;
  dev_t Dev = 0;
  ino_t Ino = 0;
  int64_t Size = 0;
  int64_t MTimeNs = 0;
  bool Matches(const struct stat& st) const;
};

// How one of the engine's levels (1-9) is deflated.
struct TDeflatePlan {
  bool Whole = false;    // libdeflate on whole chunks; otherwise zlib, streaming
  int EngineLevel = 6;   // the level given to that engine
  size_t ChunkSize = 0;  // the pipeline's chunk size for it
};
TDeflatePlan DeflatePlanFor(int level);

// Turns the complete raw deflate stream in data[from..] into one that another stream may follow:
// the final block's BFINAL bit is cleared, and an empty stored block (LEN 0, NLEN 0xFFFF) ends it
// on a byte boundary. The block headers are found by inflating the stream with zlib, which stops
// at each block boundary. Throws std::runtime_error when the stream is not valid deflate or has
// bytes after its final block.
void MakeDeflateJoinable(std::vector<uint8_t>& data, size_t from = 0);

// A raw deflater kept between chunks (deflateReset, or one libdeflate compressor, instead of a
// new state each time), for one level of the engine.
class TDeflater {
 public:
  explicit TDeflater(int level);
  ~TDeflater();
  TDeflater(const TDeflater&) = delete;
  TDeflater& operator=(const TDeflater&) = delete;
  // The level's plan: Whole deflaters take Chunk, the others Reset and Deflate.
  const TDeflatePlan& Plan() const;
  // Starts a new stream, primed with dict when not empty.
  void Reset(const uint8_t* dict, size_t dictLen);
  // Compresses in; finish ends the stream with the final block, otherwise with a sync flush
  // (flush false and finish false: no flush at all, for streaming).
  void Deflate(const uint8_t* in, size_t n, bool flush, bool finish, std::vector<uint8_t>& out);
  // Appends in, compressed as a stream of its own; unless last, that stream is made joinable so
  // that the next chunk's stream can follow it.
  void Chunk(const uint8_t* in, size_t n, bool last, std::vector<uint8_t>& out);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

class TPackPipeline {
 public:
  static constexpr size_t kDictSize = 32768;

  // Every chunk made ahead counts against the budget with this much besides its input, so many
  // small files cannot pile up results (and open states) beyond a bounded number.
  static constexpr size_t kUnitCost = 16384;

  // workers < 0: one less than the processors (at most 3); chunkSize 0: the level's plan's.
  TPackPipeline(std::vector<TPackSource> sources, int level, int workers = -1, size_t chunkSize = 0,
                size_t budget = size_t{64} << 20);
  ~TPackPipeline();
  TPackPipeline(const TPackPipeline&) = delete;
  TPackPipeline& operator=(const TPackPipeline&) = delete;

  // The identity of source i as opened for compression (opens it when nobody has yet).
  TPackIdentity Identity(size_t i);
  // The next chunk of source i, in order. False when the file has no more chunks (after the
  // last, or when it could not be opened).
  bool Next(size_t i, TPackChunk& out);
  // Source i will not be consumed (any further); its pending work is abandoned.
  void Drop(size_t i);
  bool Stored(size_t i) const { return sources_[i].Store; }

 private:
  enum class TUnitState : uint8_t { Waiting, Working, Done };
  struct TFileState {
    bool Opened = false;
    bool Failed = false;
    bool Dropped = false;
    int Fd = -1;
    TPackIdentity Id;
    size_t Chunks = 0;
    size_t Consumed = 0;
    size_t Running = 0;    // chunks being compressed
    size_t Remaining = 0;  // chunks not yet compressed
    uint32_t LastTailCrc = 0;
    std::vector<TUnitState> State;
    std::vector<std::unique_ptr<TPackChunk>> Results;
  };

  void WorkerLoop();
  // The state of file i (lock held). States exist only for the files between the caller's
  // position and the workers' cursor; the files before them are finished.
  TFileState& StateLocked(size_t i);
  // Forgets the states of finished files in front of both the caller and the workers.
  void TrimLocked();
  // Opens file i and fills its state (lock held).
  void OpenLocked(size_t i);
  // Claims the unit at the cursor when there is one and the budget allows (lock held).
  bool ClaimLocked(size_t& file, size_t& chunk, bool ignoreBudget);
  void AdvanceLocked();
  void DropLocked(size_t i);
  // Treats every source before i that the caller never consumed as dropped (lock held).
  void CatchUpLocked(size_t i);
  size_t PlannedLocked(const TFileState& f, size_t chunk) const;
  size_t CostLocked(const TFileState& f, size_t chunk) const {
    return PlannedLocked(f, chunk) + kUnitCost;
  }
  // Compresses one unit without the lock, then stores it.
  void RunUnit(std::unique_lock<std::mutex>& lock, size_t file, size_t chunk, TDeflater& d);
  void CloseIfIdleLocked(TFileState& f);

  std::vector<TPackSource> sources_;
  std::deque<TFileState> files_;  // states of files base_, base_ + 1, ...
  size_t base_ = 0;
  size_t consumer_ = 0;  // the file the caller asked for last
  int level_;
  bool whole_;  // chunks are compressed on their own, without a dictionary
  size_t chunkSize_;
  size_t budget_;
  size_t inflight_ = 0;
  size_t curFile_ = 0, curChunk_ = 0;
  bool stop_ = false;
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<std::thread> workers_;
  std::unique_ptr<TDeflater> callerDeflater_;
};
