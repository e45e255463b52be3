#include "platform/dirmonitor.h"

#include <dirent.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

struct TDirMonitor::Core {
  TDirMonitor* owner = nullptr;  // cleared when the monitor goes away (main thread only)
  std::string dir;
  bool subtree = false;
  unsigned filter = 0;
  unsigned actions = 0;
  uint32_t extraMask = 0;               // inotify bits beyond the shared ones (reads)
  std::atomic<uint64_t> generation{0};  // bumped at each start and stop
  bool active = false;                  // guarded by the hub's lock
  std::set<std::string> held;           // folders this monitor holds a watch on
};

namespace {

using Change = std::pair<TFileAction, std::string>;

// Events every watch listens for: the sub-tree bookkeeping needs creations and moves of folders
// whatever the monitors' filters are.
constexpr uint32_t kBaseMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY |
                               IN_CLOSE_WRITE | IN_ATTRIB | IN_EXCL_UNLINK | IN_ONLYDIR;

std::string Reason(int err) {
  return std::string("\r") + std::strerror(err);
}

bool IsUnder(const std::string& path, const std::string& dir) {
  if (dir == "/") return path.size() > 1 && path[0] == '/';
  return path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 &&
         path[dir.size()] == '/';
}

std::string Join(const std::string& dir, const std::string& name) {
  return dir == "/" ? "/" + name : dir + "/" + name;
}

// The queue batches wait in when no dispatcher is set.
struct PendingQueue {
  std::mutex m;
  std::condition_variable cv;
  std::deque<std::function<void()>> calls;
};

class Hub {
 public:
  static Hub& Get() {
    static Hub* hub = new Hub;  // lives to the end of the process; the reader may outlast main
    return *hub;
  }

  void SetDispatcher(TDirMonitor::Dispatcher d) {
    std::lock_guard lock(m_);
    dispatcher_ = std::move(d);
  }
  void Post(std::function<void()> call) {
    TDirMonitor::Dispatcher d;
    {
      std::lock_guard lock(m_);
      d = dispatcher_;
    }
    if (d) {
      d(std::move(call));
      return;
    }
    {
      std::lock_guard lock(queue_.m);
      queue_.calls.push_back(std::move(call));
    }
    queue_.cv.notify_all();
  }
  int DeliverPending(int timeoutMs) {
    std::deque<std::function<void()>> calls;
    {
      std::unique_lock lock(queue_.m);
      queue_.cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                         [&] { return !queue_.calls.empty(); });
      calls.swap(queue_.calls);
    }
    for (auto& c : calls) c();
    return static_cast<int>(calls.size());
  }
  void Hold(bool held) {
    held_ = held;
    Wake();
  }

  // Starts watching for core; throws TDirMonitorError and leaves nothing behind on failure.
  void Start(const std::shared_ptr<TDirMonitor::Core>& core) {
    std::lock_guard life(lifecycle_);
    struct stat st {};
    if (::stat(core->dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        ::access(core->dir.c_str(), R_OK | X_OK) != 0) {
      int err = errno ? errno : ENOTDIR;
      throw TDirMonitorError("No directory found" + Reason(err));
    }
    bool started = EnsureReader();
    std::unique_lock lock(m_);
    int err = 0;
    if (core->subtree)
      err = AcquireTree(*core, core->dir, nullptr);
    else
      err = Acquire(*core, core->dir);
    if (err != 0) {
      ReleaseAll(*core);
      lock.unlock();
      if (started && monitors_.empty()) StopReader();
      throw TDirMonitorError("Error in \"ReadDirectoryChanges\"" + Reason(err));
    }
    core->active = true;
    ++core->generation;
    monitors_.push_back(core);
  }

  void Stop(const std::shared_ptr<TDirMonitor::Core>& core) {
    std::lock_guard life(lifecycle_);
    bool last = false;
    {
      std::lock_guard lock(m_);
      ReleaseAll(*core);
      core->active = false;
      ++core->generation;
      std::erase(monitors_, core);
      last = monitors_.empty();
    }
    if (last) StopReader();
  }

 private:
  struct Watch {
    int wd = -1;
    int refs = 0;
    uint32_t mask = 0;
  };

  // Opens the inotify instance and starts the reader when the first monitor starts. Returns true
  // when it did so now.
  bool EnsureReader() {
    if (ifd_ >= 0) return false;
    int ifd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (ifd < 0) throw TDirMonitorError("Error in \"CreateIoCompletionPort\"" + Reason(errno));
    int efd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (efd < 0) {
      int err = errno;
      ::close(ifd);
      throw TDirMonitorError("Error in \"CreateIoCompletionPort\"" + Reason(err));
    }
    ifd_ = ifd;
    efd_ = efd;
    stopping_ = false;
    reader_ = std::thread([this] { Run(); });
    return true;
  }
  // Ends the reader and closes both descriptors when the last monitor stops, so that a process
  // that stops monitoring holds nothing.
  void StopReader() {
    if (ifd_ < 0) return;
    stopping_ = true;
    Wake();
    reader_.join();
    ::close(ifd_);
    ::close(efd_);
    ifd_ = efd_ = -1;
    std::lock_guard lock(m_);
    byPath_.clear();
    byWd_.clear();
  }
  void Wake() {
    if (efd_ < 0) return;
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(efd_, &one, sizeof one);
  }

  // The watch on dir for core: shared with other monitors, added to the kernel when new.
  int Acquire(TDirMonitor::Core& core, const std::string& dir) {
    if (core.held.count(dir)) return 0;
    uint32_t want = kBaseMask | core.extraMask;
    auto it = byPath_.find(dir);
    if (it == byPath_.end() || (want & ~it->second.mask) != 0) {
      int wd = ::inotify_add_watch(ifd_, dir.c_str(), want | IN_MASK_ADD | IN_DONT_FOLLOW);
      if (wd < 0) return errno;
      if (it == byPath_.end()) {
        // A second path to the same folder (a bind mount) gives back the watch it already has.
        auto known = byWd_.find(wd);
        if (known != byWd_.end()) {
          it = byPath_.find(known->second);
        } else {
          it = byPath_.emplace(dir, Watch{wd, 0, 0}).first;
          byWd_[wd] = dir;
        }
      }
      it->second.mask |= want;
    }
    ++it->second.refs;
    core.held.insert(it->first);
    return 0;
  }
  // Watches dir and every folder below it. With found, every file and folder met below dir is
  // appended (the contents of a folder that has just appeared).
  int AcquireTree(TDirMonitor::Core& core, const std::string& dir,
                  std::vector<std::pair<std::string, bool>>* found) {
    int err = Acquire(core, dir);
    if (err != 0) return err;
    DIR* d = ::opendir(dir.c_str());
    if (!d) return 0;  // gone or unreadable meanwhile: nothing below to watch
    std::vector<std::string> subdirs;
    while (dirent* e = ::readdir(d)) {
      if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
      std::string path = Join(dir, e->d_name);
      bool isDir = e->d_type == DT_DIR;
      if (e->d_type == DT_UNKNOWN) {
        struct stat st {};
        isDir = ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
      }
      if (found) found->emplace_back(path, isDir);
      if (isDir) subdirs.push_back(std::move(path));
    }
    ::closedir(d);
    for (const auto& sub : subdirs) {
      err = AcquireTree(core, sub, found);
      // A folder removed between listing and watching is no failure.
      if (err != 0 && err != ENOENT && err != ENOTDIR) return err;
    }
    return 0;
  }
  void Release(TDirMonitor::Core& core, const std::string& dir) {
    if (!core.held.erase(dir)) return;
    auto it = byPath_.find(dir);
    if (it == byPath_.end()) return;
    if (--it->second.refs > 0) return;
    ::inotify_rm_watch(ifd_, it->second.wd);
    byWd_.erase(it->second.wd);
    byPath_.erase(it);
  }
  void ReleaseTree(TDirMonitor::Core& core, const std::string& dir) {
    std::vector<std::string> gone;
    for (const auto& p : core.held)
      if (p == dir || IsUnder(p, dir)) gone.push_back(p);
    for (const auto& p : gone) Release(core, p);
  }
  void ReleaseAll(TDirMonitor::Core& core) {
    std::vector<std::string> all(core.held.begin(), core.held.end());
    for (const auto& p : all) Release(core, p);
    core.held.clear();
  }
  // A folder moved within the watched space keeps its watches; their paths follow it.
  void RenameWatches(const std::string& from, const std::string& to) {
    auto rewrite = [&](const std::string& p) { return to + p.substr(from.size()); };
    std::vector<std::string> moved;
    for (const auto& [p, w] : byPath_)
      if (p == from || IsUnder(p, from)) moved.push_back(p);
    for (const auto& p : moved) {
      auto node = byPath_.extract(p);
      node.key() = rewrite(p);
      byWd_[node.mapped().wd] = node.key();
      byPath_.insert(std::move(node));
    }
    for (auto& core : monitors_) {
      std::vector<std::string> held;
      for (const auto& p : core->held)
        if (p == from || IsUnder(p, from)) held.push_back(p);
      for (const auto& p : held) {
        core->held.erase(p);
        core->held.insert(rewrite(p));
      }
    }
  }

  static bool InScope(const TDirMonitor::Core& core, const std::string& folder) {
    return folder == core.dir || (core.subtree && IsUnder(folder, core.dir));
  }

  struct Event {
    int wd;
    uint32_t mask;
    uint32_t cookie;
    std::string name;
  };

  void Run() {
    std::vector<char> buf(64 * 1024);
    while (!stopping_) {
      pollfd fds[2] = {{efd_, POLLIN, 0}, {ifd_, POLLIN, 0}};
      int n = ::poll(fds, held_ ? 1 : 2, -1);
      if (n < 0) {
        if (errno == EINTR) continue;
        break;
      }
      if (fds[0].revents & POLLIN) {
        uint64_t v;
        [[maybe_unused]] ssize_t r = ::read(efd_, &v, sizeof v);
        continue;  // re-check stopping_ and held_
      }
      if (held_ || !(fds[1].revents & POLLIN)) continue;
      std::vector<Event> events;
      ReadEvents(buf, events);
      // A move out of a folder is reported as its "moved from" half alone; its "moved to" half
      // may come in the next read, so an unmatched half waits briefly for it.
      for (int tries = 0; tries < 2 && HasUnmatchedMove(events); ++tries) {
        pollfd p{ifd_, POLLIN, 0};
        if (::poll(&p, 1, 5) <= 0) break;
        ReadEvents(buf, events);
      }
      Handle(events);
    }
  }
  void ReadEvents(std::vector<char>& buf, std::vector<Event>& out) {
    for (;;) {
      ssize_t len = ::read(ifd_, buf.data(), buf.size());
      if (len <= 0) return;
      for (ssize_t off = 0; off + static_cast<ssize_t>(sizeof(inotify_event)) <= len;) {
        const auto* ev = reinterpret_cast<const inotify_event*>(buf.data() + off);
        out.push_back({ev->wd, ev->mask, ev->cookie, ev->len ? std::string(ev->name) : ""});
        off += sizeof(inotify_event) + ev->len;
      }
    }
  }
  static bool HasUnmatchedMove(const std::vector<Event>& events) {
    std::set<uint32_t> from;
    for (const auto& e : events) {
      if (e.mask & IN_MOVED_FROM) from.insert(e.cookie);
      if (e.mask & IN_MOVED_TO) from.erase(e.cookie);
    }
    return !from.empty();
  }

  void Handle(std::vector<Event>& events) {
    std::map<std::shared_ptr<TDirMonitor::Core>, std::vector<Change>> batches;
    std::map<std::shared_ptr<TDirMonitor::Core>, uint64_t> generations;
    {
      std::lock_guard lock(m_);
      for (auto& core : monitors_) generations[core] = core->generation;
      auto report = [&](const std::shared_ptr<TDirMonitor::Core>& core, TFileAction a,
                        const std::string& path, bool isDir, bool isName) {
        if (isName && !(core->filter & (isDir ? nfDIR_NAME : nfFILE_NAME))) return;
        if (!(core->actions & ActionBit(a))) return;
        batches[core].emplace_back(a, path);
      };
      // Watches a folder that appeared in a sub-tree monitor's space and reports its contents.
      auto arrived = [&](const std::shared_ptr<TDirMonitor::Core>& core, const std::string& dir) {
        std::vector<std::pair<std::string, bool>> found;
        AcquireTree(*core, dir, &found);
        for (const auto& [p, d] : found) report(core, TFileAction::faADDED, p, d, true);
      };
      std::map<uint32_t, size_t> movedTo;  // cookie -> index of the "moved to" half
      for (size_t i = 0; i < events.size(); ++i)
        if (events[i].mask & IN_MOVED_TO) movedTo[events[i].cookie] = i;
      std::set<size_t> consumed;
      for (size_t i = 0; i < events.size(); ++i) {
        const Event& e = events[i];
        if (e.mask & IN_Q_OVERFLOW) {
          for (auto& core : monitors_)
            batches[core].emplace_back(TFileAction::faMODIFIED, core->dir);
          continue;
        }
        if (e.mask & IN_IGNORED) {
          auto it = byWd_.find(e.wd);
          if (it != byWd_.end()) {
            byPath_.erase(it->second);
            for (auto& core : monitors_) core->held.erase(it->second);
            byWd_.erase(it);
          }
          continue;
        }
        if (consumed.count(i) || e.name.empty()) continue;
        auto wit = byWd_.find(e.wd);
        if (wit == byWd_.end()) continue;
        const std::string folder = wit->second;
        const std::string path = Join(folder, e.name);
        const bool isDir = e.mask & IN_ISDIR;

        if (e.mask & IN_MOVED_FROM) {
          auto to = movedTo.find(e.cookie);
          std::string newPath, newFolder;
          if (to != movedTo.end() && to->second > i) {
            consumed.insert(to->second);
            auto nit = byWd_.find(events[to->second].wd);
            if (nit != byWd_.end()) {
              newFolder = nit->second;
              newPath = Join(newFolder, events[to->second].name);
            }
          }
          if (newPath.empty()) {  // moved out of every watched folder
            for (auto& core : monitors_) {
              if (!InScope(*core, folder)) continue;
              report(core, TFileAction::faREMOVED, path, isDir, true);
              if (isDir) ReleaseTree(*core, path);
            }
            continue;
          }
          if (isDir) RenameWatches(path, newPath);
          for (auto& core : monitors_) {
            bool inOld = InScope(*core, folder), inNew = InScope(*core, newFolder);
            if (inOld && inNew) {
              report(core, TFileAction::faRENAMED_OLD_NAME, path, isDir, true);
              report(core, TFileAction::faRENAMED_NEW_NAME, newPath, isDir, true);
            } else if (inOld) {
              report(core, TFileAction::faREMOVED, path, isDir, true);
              if (isDir) ReleaseTree(*core, newPath);
            } else if (inNew) {
              report(core, TFileAction::faADDED, newPath, isDir, true);
              if (isDir && core->subtree) arrived(core, newPath);
            }
          }
          continue;
        }
        for (auto& core : monitors_) {
          if (!InScope(*core, folder)) continue;
          if (e.mask & (IN_CREATE | IN_MOVED_TO)) {
            if ((e.mask & IN_CREATE) && (core->filter & nfCREATION))
              report(core, TFileAction::faADDED, path, isDir, false);
            else
              report(core, TFileAction::faADDED, path, isDir, true);
            if (isDir && core->subtree) arrived(core, path);
          } else if (e.mask & IN_DELETE) {
            report(core, TFileAction::faREMOVED, path, isDir, true);
            if (isDir) ReleaseTree(*core, path);
          } else if (e.mask & (IN_MODIFY | IN_CLOSE_WRITE)) {
            if (core->filter & (nfSIZE | nfLAST_WRITE))
              report(core, TFileAction::faMODIFIED, path, isDir, false);
          } else if (e.mask & IN_ATTRIB) {
            if (core->filter & (nfATTRIBUTES | nfSECURITY))
              report(core, TFileAction::faMODIFIED, path, isDir, false);
          } else if (e.mask & IN_ACCESS) {
            if (core->filter & nfLAST_ACCESS)
              report(core, TFileAction::faMODIFIED, path, isDir, false);
          }
        }
      }
    }
    for (auto& [core, changes] : batches) {
      // Consecutive repeats (a write and its close) reach the handler once.
      std::vector<Change> unique;
      for (auto& c : changes)
        if (unique.empty() || unique.back() != c) unique.push_back(std::move(c));
      uint64_t generation = generations[core];
      Post([core = core, generation, changes = std::move(unique)] {
        for (const auto& [action, path] : changes) {
          // Checked before each call: a handler may stop its own monitor.
          if (core->generation != generation || !core->owner || !core->owner->OnChange) return;
          core->owner->OnChange(*core->owner, action, path);
        }
      });
    }
  }

  std::mutex lifecycle_;  // starts and stops, one at a time
  std::mutex m_;          // everything below
  int ifd_ = -1;
  int efd_ = -1;
  std::thread reader_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> held_{false};
  std::map<std::string, Watch> byPath_;
  std::map<int, std::string> byWd_;
  std::vector<std::shared_ptr<TDirMonitor::Core>> monitors_;
  TDirMonitor::Dispatcher dispatcher_;
  PendingQueue queue_;
};

std::string Normalised(std::string dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

}  // namespace

TDirMonitor::TDirMonitor() : core_(std::make_shared<Core>()) {
  core_->owner = this;
}

TDirMonitor::~TDirMonitor() {
  if (active_) Stop();
  core_->owner = nullptr;
}

void TDirMonitor::SetActive(bool active) {
  if (active == active_) return;
  if (active)
    Start();
  else
    Stop();
}

void TDirMonitor::Start() {
  core_->dir = Normalised(Directory);
  core_->subtree = WatchSubtree;
  core_->filter = FilterNotification;
  core_->actions = FilterAction;
  core_->extraMask = (FilterNotification & nfLAST_ACCESS) ? IN_ACCESS : 0;
  Hub::Get().Start(core_);
  active_ = true;
}

void TDirMonitor::Stop() {
  Hub::Get().Stop(core_);
  active_ = false;
}

void TDirMonitor::SetDispatcher(Dispatcher dispatcher) {
  Hub::Get().SetDispatcher(std::move(dispatcher));
}

int TDirMonitor::DeliverPending(int timeoutMs) {
  return Hub::Get().DeliverPending(timeoutMs);
}

void TDirMonitor::HoldReader(bool held) {
  Hub::Get().Hold(held);
}
