#include <chrono>
#include <thread>

#include "disc/scsi.h"

namespace {

class TSystemDiscClock : public IDiscClock {
 public:
  uint64_t NowMs() override {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
  }
  void SleepMs(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};

}  // namespace

IDiscClock& SystemDiscClock() {
  static TSystemDiscClock clock;
  return clock;
}

uint64_t TVirtualDiscClock::NowMs() {
  return now_.load();
}

void TVirtualDiscClock::SleepMs(uint32_t ms) {
  now_.fetch_add(ms);
  // Let other threads run, as a real sleep would.
  std::this_thread::yield();
}
