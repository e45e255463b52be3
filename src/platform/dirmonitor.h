// Folder monitoring over inotify. Every monitor of the process shares one inotify instance and one
// reader thread; watches are shared and counted per folder, so two monitors of the same folder
// cost one watch. The reader turns the kernel's events into (action, path) changes for each
// monitor and hands them to the main thread in batches through a dispatcher that never blocks the
// reader. A batch carries the monitor's generation: one for a monitor stopped (or restarted)
// since it was read is dropped, so an inactive monitor delivers nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

// Which kinds of change a monitor listens for (bits; combine with |).
enum TNotifyFilter : unsigned {
  nfFILE_NAME = 1,     // files created, deleted, moved
  nfDIR_NAME = 2,      // folders created, deleted, moved
  nfATTRIBUTES = 4,    // attribute changes (modes, times set explicitly)
  nfSIZE = 8,          // writes
  nfLAST_WRITE = 16,   // writes
  nfLAST_ACCESS = 32,  // reads
  nfCREATION = 64,     // anything created
  nfSECURITY = 256,    // ownership and permissions
};

enum class TFileAction : int {
  faADDED = 1,
  faREMOVED = 2,
  faMODIFIED = 3,
  faRENAMED_OLD_NAME = 4,
  faRENAMED_NEW_NAME = 5,
};

// A set of actions as bits: ActionBit(a) | ActionBit(b).
constexpr unsigned ActionBit(TFileAction a) {
  return 1u << static_cast<int>(a);
}
constexpr unsigned kAllFileActions =
    ActionBit(TFileAction::faADDED) | ActionBit(TFileAction::faREMOVED) |
    ActionBit(TFileAction::faMODIFIED) | ActionBit(TFileAction::faRENAMED_OLD_NAME) |
    ActionBit(TFileAction::faRENAMED_NEW_NAME);

// Raised when a monitor cannot start. The text is the failing step's message, then "\r" and the
// system's reason.
class TDirMonitorError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TDirMonitor {
 public:
  using ChangeHandler =
      std::function<void(TDirMonitor& sender, TFileAction action, const std::string& path)>;
  // Runs a batch on the main thread. It must queue the call and return at once.
  using Dispatcher = std::function<void(std::function<void()>)>;

  TDirMonitor();
  ~TDirMonitor();  // stops watching; batches still queued for it are dropped
  TDirMonitor(const TDirMonitor&) = delete;
  TDirMonitor& operator=(const TDirMonitor&) = delete;

  // The folder, the sub-tree flag and the filters are read when the monitor starts; change them
  // while it is inactive.
  std::string Directory = "/";
  bool WatchSubtree = false;
  unsigned FilterNotification = nfFILE_NAME;
  unsigned FilterAction = kAllFileActions;
  // Called on the main thread with Directory + "/" + the name relative to it. When the kernel
  // drops events (its queue overflowed), every active monitor gets one faMODIFIED with its
  // Directory, whatever FilterAction says, so that a lost change is never silent.
  ChangeHandler OnChange;

  bool Active() const { return active_; }
  // Starting raises TDirMonitorError: "No directory found" when Directory is not a readable
  // folder, Error in "CreateIoCompletionPort" when no inotify instance can be had, Error in
  // "ReadDirectoryChanges" when a watch cannot be added (also at the system's watch limit).
  // A monitor that failed to start stays inactive and holds no watch.
  void SetActive(bool active);

  // Where batches go. Without one they wait in a queue of the process that DeliverPending runs.
  static void SetDispatcher(Dispatcher dispatcher);
  // Runs the queued batches on the calling thread, waiting up to timeoutMs for the first one.
  // Returns how many batches ran.
  static int DeliverPending(int timeoutMs);
  // Test seam: while held, the reader leaves the kernel's queue alone (so that it can overflow).
  static void HoldReader(bool held);

  struct Core;

 private:
  void Start();
  void Stop();
  std::shared_ptr<Core> core_;
  bool active_ = false;
};
