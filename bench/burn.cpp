// One burn of a folder to an emulated drive, as the program runs it: the main thread runs the
// posted completion event as it comes and ticks every 250 ms (reading the progress) while the
// cache and writer threads work. Prints the figures bench/burn.py compares.
//
//   bench_burn DRIVE_FOLDER SOURCE_FOLDER
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "disc/discburner.h"
#include "discemu/emulateddrive.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: bench_burn DRIVE_FOLDER SOURCE_FOLDER\n");
    return 2;
  }
  using TClock = std::chrono::steady_clock;
  TDiscBurner burner;
  burner.SetTransport(std::make_unique<TEmulatedTransport>(argv[1]));
  if (!burner.InitTransport() || burner.DeviceList.empty()) {
    std::fprintf(stderr, "bench_burn: no emulated drive in %s\n", argv[1]);
    return 1;
  }
  burner.SelectDevice(burner.DeviceList[0]);
  if (burner.AddDir("/", argv[2], false, false, true) != 1) {
    std::fprintf(stderr, "bench_burn: cannot add %s\n", argv[2]);
    return 1;
  }

  // The main thread's event loop: posted calls run as soon as they come, the tick every 250 ms.
  std::mutex lock;
  std::condition_variable wake;
  std::deque<std::function<void()>> posted;
  burner.PostToMain = [&](std::function<void()> call) {
    std::lock_guard<std::mutex> l(lock);
    posted.push_back(std::move(call));
    wake.notify_one();
  };
  auto runPosted = [&] {
    std::deque<std::function<void()>> calls;
    {
      std::lock_guard<std::mutex> l(lock);
      calls.swap(posted);
    }
    for (auto& c : calls) c();
  };
  bool done = false;
  std::string error;
  burner.OnWriteDone = [&](TDiscBurner*, const std::string& e) {
    error = e;
    done = true;
  };

  // The 250 ms tick, also while BurnImage waits for the cache to fill.
  const auto start = TClock::now();
  auto due = start + std::chrono::milliseconds(250);
  double lateMs = 0;
  int64_t lastBytes = 0;
  auto tick = [&] {
    const auto now = TClock::now();
    if (now < due) return;
    lateMs = std::max(lateMs, std::chrono::duration<double, std::milli>(now - due).count());
    while (due <= now) due += std::chrono::milliseconds(250);
    lastBytes = burner.WrittenBytes();
  };
  burner.ProcessMessages = tick;
  // When the first block went out and when the last one had (polled every millisecond).
  std::atomic<bool> watching{true};
  double firstWrite = 0, lastWrite = 0;
  std::thread watch([&] {
    while (watching) {
      const int64_t bytes = burner.WrittenBytes();
      const double at = std::chrono::duration<double>(TClock::now() - start).count();
      if (bytes > 0 && firstWrite == 0) firstWrite = at;
      if (bytes > 0 && bytes == int64_t{burner.ImageSize()} * 2048 && lastWrite == 0)
        lastWrite = at;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  if (burner.BurnImage()) {
    while (!done) {
      {
        std::unique_lock<std::mutex> l(lock);
        wake.wait_until(l, due, [&] { return !posted.empty(); });
      }
      runPosted();
      tick();
    }
  }
  const double seconds = std::chrono::duration<double>(TClock::now() - start).count();
  watching = false;
  watch.join();
  burner.WaitForWorkers();
  if (!error.empty()) {
    std::fprintf(stderr, "bench_burn: %s\n", error.c_str());
    return 1;
  }
  std::printf(
      "seconds=%.3f first_write=%.3f last_write=%.3f sectors=%u files=%u waited_ms=%lld "
      "late_ms=%.1f cache=%u\n",
      seconds, firstWrite, lastWrite, burner.ImageSize(), burner.FileCount(),
      static_cast<long long>(burner.WriterWaitedMs()), lateMs, burner.CacheSize());
  return lastBytes >= 0 ? 0 : 1;
}
