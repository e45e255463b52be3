// Folder monitoring at scale: the time and resident memory to arm a sub-tree monitor over 20,000
// folders, the longest stall of the delivering (main) thread while 100,000 files are created in
// them, and the system's watch limit. Usage: bench_dir_monitor [scratch folder]
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/dirmonitor.h"

namespace {

using Clock = std::chrono::steady_clock;

long ResidentKb() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

std::string ReadLine(const char* path) {
  std::ifstream in(path);
  std::string s;
  std::getline(in, s);
  return s;
}

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
  std::string base =
      argc > 1 ? argv[1] : (std::filesystem::temp_directory_path() / "dirmon-XXXXXX");
  if (argc <= 1 && !::mkdtemp(base.data())) return 1;
  const int folders = 20000, files = 100000;
  // 100 top folders of 199 each, plus the top ones: 20,000 folders below base.
  for (int i = 0, made = 0; made < folders; ++i) {
    std::string top = base + "/t" + std::to_string(i);
    ::mkdir(top.c_str(), 0755);
    ++made;
    for (int j = 0; j < 199 && made < folders; ++j, ++made)
      ::mkdir((top + "/s" + std::to_string(j)).c_str(), 0755);
  }
  std::printf("max_user_watches: %s\n", ReadLine("/proc/sys/fs/inotify/max_user_watches").c_str());

  long rss0 = ResidentKb();
  TDirMonitor mon;
  mon.Directory = base;
  mon.WatchSubtree = true;
  mon.FilterNotification = nfFILE_NAME | nfSIZE | nfLAST_WRITE;
  std::atomic<long> changes{0};
  mon.OnChange = [&](TDirMonitor&, TFileAction, const std::string&) { ++changes; };
  auto t0 = Clock::now();
  try {
    mon.SetActive(true);
  } catch (const TDirMonitorError& e) {
    std::printf("arming failed: %s\n", e.what());
    return 1;
  }
  std::printf("arm WatchSubtree on %d folders: %.0f ms, resident +%ld KB\n", folders,
              Ms(Clock::now() - t0), ResidentKb() - rss0);

  // A writer thread creates the files while this thread delivers batches, timing each run.
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < files; ++i) {
      int f = i % folders;
      std::string dir = base + "/t" + std::to_string(f / 200);
      if (f % 200) dir += "/s" + std::to_string(f % 200 - 1);
      std::ofstream(dir + "/f" + std::to_string(i)) << 'x';
    }
    done = true;
  });
  double longest = 0;
  auto w0 = Clock::now();
  for (int idle = 0; !done || idle < 50;) {
    // Only the time spent running batches counts, not the waiting for them.
    auto s = Clock::now();
    if (TDirMonitor::DeliverPending(0) > 0) {
      longest = std::max(longest, Ms(Clock::now() - s));
      idle = 0;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      if (done) ++idle;
    }
  }
  writer.join();
  std::printf("%d files created in %.0f ms; %ld changes delivered; longest delivery %.1f ms\n",
              files, Ms(Clock::now() - w0), changes.load(), longest);
  mon.SetActive(false);
  if (argc <= 1) std::filesystem::remove_all(base);
  return 0;
}
