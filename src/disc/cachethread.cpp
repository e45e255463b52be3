#include "disc/cachethread.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "disc/discburner.h"

namespace {
constexpr uint32_t kSector = 2048;
}

TCacheThread::TCacheThread(const TDiscBurner& burner, uint32_t cacheSize, uint32_t blockSize)
    : stream_(burner),
      blockSize_(blockSize),
      capacity_(std::max<size_t>(2, cacheSize / std::max<uint32_t>(blockSize, kSector))) {}

TCacheThread::~TCacheThread() {
  Abort();
  Join();
}

void TCacheThread::Start() {
  thread_ = std::thread(&TCacheThread::Run, this);
}

void TCacheThread::Join() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void TCacheThread::Abort() {
  std::lock_guard<std::mutex> l(m_);
  abort_ = true;
  cv_.notify_all();
}

bool TCacheThread::Primed() {
  std::lock_guard<std::mutex> l(m_);
  return primed_;
}

bool TCacheThread::Done() {
  std::lock_guard<std::mutex> l(m_);
  return done_;
}

std::string TCacheThread::Error() {
  std::lock_guard<std::mutex> l(m_);
  return error_;
}

std::string TCacheThread::CurrentFile() {
  std::lock_guard<std::mutex> l(m_);
  return file_;
}

int TCacheThread::Priority() {
  std::lock_guard<std::mutex> l(m_);
  return priority_;
}

void TCacheThread::WaitPrimed(uint32_t ms) {
  std::unique_lock<std::mutex> l(m_);
  cv_.wait_for(l, std::chrono::milliseconds(ms),
               [this] { return primed_ || done_ || !error_.empty(); });
}

int TCacheThread::GetBlock(uint8_t* destination) {
  std::lock_guard<std::mutex> l(m_);
  if (queue_.empty()) return (allQueued_ || done_) ? 0 : -1;
  const std::vector<uint8_t>& b = queue_.front();
  std::copy(b.begin(), b.end(), destination);
  const int size = static_cast<int>(b.size());
  queue_.pop_front();
  cv_.notify_all();
  return size;
}

void TCacheThread::Finish(const std::string& error) {
  std::lock_guard<std::mutex> l(m_);
  if (error_.empty()) error_ = error;
  done_ = true;
  cv_.notify_all();
}

void TCacheThread::Run() {
  // The writer must never starve behind disk reads: this thread runs at a lower priority. An
  // unprivileged process cannot raise a thread's priority again, so later levels are state only.
  setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 5);
  const uint32_t sectors = blockSize_ / kSector;
  std::vector<uint8_t> staging(size_t{sectors} * kSector);
  for (;;) {
    {
      std::unique_lock<std::mutex> l(m_);
      if (queue_.size() + 1 >= capacity_) {
        primed_ = true;
        priority_ = 0;
        cv_.notify_all();
        cv_.wait(l, [this] { return abort_ || queue_.size() + 1 < capacity_; });
      }
      if (abort_) {
        l.unlock();
        Finish("OPERATION ABORTED BY USER");
        return;
      }
      priority_ = queue_.size() < capacity_ / 4 ? 3 : queue_.size() < capacity_ / 2 ? 2 : 1;
    }
    const uint32_t got = stream_.Read(staging.data(), sectors);
    {
      std::lock_guard<std::mutex> l(m_);
      file_ = stream_.FilePath();
      if (got > 0) {
        queue_.emplace_back(staging.begin(), staging.begin() + size_t{got} * kSector);
        cv_.notify_all();
      }
    }
    if (got == 0) break;
  }
  if (!stream_.Error().empty()) {
    Finish(stream_.OpenFailed() ? "CAN'T OPEN FILE \"" + stream_.FilePath() +
                                      "\" OR FILE IS IN USES BY OTHER SOFTWARE"
                                : stream_.Error());
    return;
  }
  std::unique_lock<std::mutex> l(m_);
  allQueued_ = true;
  primed_ = true;
  cv_.notify_all();
  cv_.wait(l, [this] { return abort_ || queue_.empty(); });
  if (abort_ && !queue_.empty() && error_.empty()) error_ = "OPERATION ABORTED BY USER";
  done_ = true;
  cv_.notify_all();
}
