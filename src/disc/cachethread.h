// The read-ahead cache of a burn: a thread of its own reads the session (metadata, file data,
// zero padding) into a queue of fixed-size blocks that the writer takes one at a time. The queue
// holds at most CacheSize / BlockSize blocks, so the files are read ahead of the drive without
// holding the whole image in memory.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "disc/sessionstream.h"

class TDiscBurner;

class TCacheThread {
 public:
  // The burner's image must be built and stay unchanged until the thread has ended.
  TCacheThread(const TDiscBurner& burner, uint32_t cacheSize, uint32_t blockSize);
  ~TCacheThread();  // stops and joins the thread
  TCacheThread(const TCacheThread&) = delete;
  TCacheThread& operator=(const TCacheThread&) = delete;

  void Start();
  // Copies the oldest block to destination (room for BlockSize bytes) and drops it. Returns its
  // size, -1 when the queue is empty but more will come, 0 when everything has been delivered or
  // the thread has ended.
  int GetBlock(uint8_t* destination);
  // Waits up to ms (real time) for the cache to be primed or to fail.
  void WaitPrimed(uint32_t ms);
  bool Primed();
  bool Done();
  std::string Error();
  std::string CurrentFile();
  void Abort();
  void Join();
  uint32_t BlockSize() const { return blockSize_; }
  // The adaptive priority state: 0 idle, 1 lowest, 2 lower, 3 normal.
  int Priority();

 private:
  void Run();
  void Finish(const std::string& error);

  TSessionStream stream_;
  const uint32_t blockSize_;
  const size_t capacity_;
  std::mutex m_;
  std::condition_variable cv_;
  std::deque<std::vector<uint8_t>> queue_;
  bool primed_ = false, allQueued_ = false, done_ = false, abort_ = false;
  int priority_ = 2;
  std::string error_, file_;
  std::thread thread_;
};
