// Folder monitoring against a real temporary tree: the (action, path) sets each kind of change
// gives, sub-tree bookkeeping across creations and moves, overflow, and descriptors after many
// start/stop cycles.
#include "platform/dirmonitor.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "testutil.h"

using testutil::TempDir;

namespace {

using A = TFileAction;
using Seen = std::set<std::pair<A, std::string>>;

void Write(const std::string& path, const std::string& text, bool append = false) {
  std::ofstream(path, append ? std::ios::app : std::ios::trunc) << text;
}
void MkDir(const std::string& path) {
  ASSERT_EQ(::mkdir(path.c_str(), 0755), 0) << path;
}
void Move(const std::string& from, const std::string& to) {
  ASSERT_EQ(::rename(from.c_str(), to.c_str()), 0) << from;
}

int OpenDescriptors() {
  int n = 0;
  DIR* d = ::opendir("/proc/self/fd");
  while (d && ::readdir(d)) ++n;
  if (d) ::closedir(d);
  return n;
}

// Runs batches until every expected change has come (or 3 s have passed), then a little longer
// so that unexpected extras show too.
void Collect(Seen& seen, const Seen& expected) {
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  auto done = [&] {
    for (const auto& e : expected)
      if (!seen.count(e)) return false;
    return true;
  };
  while (!done() && std::chrono::steady_clock::now() < until) TDirMonitor::DeliverPending(50);
  TDirMonitor::DeliverPending(80);
  while (TDirMonitor::DeliverPending(0) > 0) {
  }
}

struct Step {
  std::function<void(const std::string& root, const std::string& outside)> act;
  Seen expected;  // paths relative to the watched root, "-" for none expected
};

struct Case {
  const char* name;
  bool subtree;
  unsigned filter;
  unsigned actions;
  std::function<void(const std::string& root, const std::string& outside)> setup;
  std::vector<Step> steps;
};

constexpr unsigned kNames = nfFILE_NAME | nfDIR_NAME;
constexpr unsigned kWrites = nfFILE_NAME | nfSIZE | nfLAST_WRITE;
constexpr unsigned kStealthActions = ActionBit(A::faADDED) | ActionBit(A::faMODIFIED);

TEST(DirMonitorTest, ReportsEachKindOfChange) {
  auto none = [](const std::string&, const std::string&) {};
  const std::vector<Case> cases = {
      {"create",
       false,
       kWrites,
       kAllFileActions,
       none,
       {{[](auto& r, auto&) { Write(r + "/a.txt", "x"); },
         {{A::faADDED, "a.txt"}, {A::faMODIFIED, "a.txt"}}}}},
      {"append",
       false,
       kWrites,
       kAllFileActions,
       [](auto& r, auto&) { Write(r + "/a.txt", "x"); },
       {{[](auto& r, auto&) { Write(r + "/a.txt", "y", true); }, {{A::faMODIFIED, "a.txt"}}}}},
      {"save via temporary and rename",
       false,
       kWrites,
       kAllFileActions,
       [](auto& r, auto&) { Write(r + "/a.txt", "x"); },
       {{[](auto& r, auto&) {
           Write(r + "/a.tmp", "new");
           Move(r + "/a.tmp", r + "/a.txt");
         },
         {{A::faADDED, "a.tmp"},
          {A::faMODIFIED, "a.tmp"},
          {A::faRENAMED_OLD_NAME, "a.tmp"},
          {A::faRENAMED_NEW_NAME, "a.txt"}}}}},
      {"stealth filter: save via temporary, delete",
       false,
       kWrites,
       kStealthActions,
       [](auto& r, auto&) { Write(r + "/a.txt", "x"); },
       {{[](auto& r, auto&) {
           Write(r + "/a.tmp", "new");
           Move(r + "/a.tmp", r + "/a.txt");
         },
         {{A::faADDED, "a.tmp"}, {A::faMODIFIED, "a.tmp"}}},
        {[](auto& r, auto&) { ::unlink((r + "/a.txt").c_str()); }, {}}}},
      {"delete",
       false,
       kWrites,
       kAllFileActions,
       [](auto& r, auto&) { Write(r + "/a.txt", "x"); },
       {{[](auto& r, auto&) { ::unlink((r + "/a.txt").c_str()); }, {{A::faREMOVED, "a.txt"}}}}},
      {"mkdir and write at once",
       true,
       kNames,
       kAllFileActions,
       none,
       {{[](auto& r, auto&) {
           MkDir(r + "/d");
           Write(r + "/d/f", "x");
         },
         {{A::faADDED, "d"}, {A::faADDED, "d/f"}}},
        {[](auto& r, auto&) { Write(r + "/d/g", "x"); }, {{A::faADDED, "d/g"}}}}},
      {"filled folder moved in",
       true,
       kNames,
       kAllFileActions,
       [](auto&, auto& o) {
         MkDir(o + "/x");
         MkDir(o + "/x/y");
         Write(o + "/x/f1", "1");
         Write(o + "/x/y/f2", "2");
       },
       {{[](auto& r, auto& o) { Move(o + "/x", r + "/x"); },
         {{A::faADDED, "x"}, {A::faADDED, "x/f1"}, {A::faADDED, "x/y"}, {A::faADDED, "x/y/f2"}}},
        {[](auto& r, auto&) { Write(r + "/x/y/f3", "3"); }, {{A::faADDED, "x/y/f3"}}}}},
      {"filled folder moved out",
       true,
       kNames,
       kAllFileActions,
       [](auto& r, auto&) {
         MkDir(r + "/x");
         MkDir(r + "/x/y");
         Write(r + "/x/y/f2", "2");
       },
       {{[](auto& r, auto& o) { Move(r + "/x", o + "/x"); }, {{A::faREMOVED, "x"}}},
        {[](auto&, auto& o) { Write(o + "/x/y/f3", "3"); }, {}}}},
      {"folder moved within",
       true,
       kNames,
       kAllFileActions,
       [](auto& r, auto&) {
         MkDir(r + "/x");
         MkDir(r + "/x/y");
       },
       {{[](auto& r, auto&) { Move(r + "/x", r + "/z"); },
         {{A::faRENAMED_OLD_NAME, "x"}, {A::faRENAMED_NEW_NAME, "z"}}},
        {[](auto& r, auto&) { Write(r + "/z/y/f", "1"); }, {{A::faADDED, "z/y/f"}}}}},
      {"without sub-tree only the folder itself",
       false,
       kNames,
       kAllFileActions,
       [](auto& r, auto&) { MkDir(r + "/sub"); },
       {{[](auto& r, auto&) {
           Write(r + "/sub/f", "1");
           Write(r + "/top", "1");
         },
         {{A::faADDED, "top"}}}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir tmp;
    std::string root = tmp / "root", outside = tmp / "outside";
    MkDir(root);
    MkDir(outside);
    c.setup(root, outside);
    Seen seen;
    TDirMonitor mon;
    mon.Directory = root + "/";  // a trailing slash does not double in the paths
    mon.WatchSubtree = c.subtree;
    mon.FilterNotification = c.filter;
    mon.FilterAction = c.actions;
    mon.OnChange = [&](TDirMonitor& sender, A a, const std::string& path) {
      EXPECT_EQ(&sender, &mon);
      ASSERT_EQ(path.rfind(root + "/", 0), 0u) << path;
      seen.emplace(a, path.substr(root.size() + 1));
    };
    mon.SetActive(true);
    for (size_t i = 0; i < c.steps.size(); ++i) {
      SCOPED_TRACE(i);
      seen.clear();
      c.steps[i].act(root, outside);
      Collect(seen, c.steps[i].expected);
      EXPECT_EQ(seen, c.steps[i].expected);
    }
    // Stopped, it delivers nothing more.
    mon.SetActive(false);
    seen.clear();
    Write(root + "/after", "1");
    Collect(seen, {});
    EXPECT_TRUE(seen.empty());
  }
}

TEST(DirMonitorTest, OverflowStartFailuresAndDescriptors) {
  TempDir tmp;
  const int before = OpenDescriptors();

  // Two monitors of one folder share its watch; 20,000 creations while the reader is held
  // overflow the kernel's queue: each monitor hears of it once, as a change of its folder.
  {
    std::vector<std::pair<int, std::string>> seen;
    TDirMonitor a, b;
    for (TDirMonitor* m : {&a, &b}) {
      m->Directory = tmp.path();
      m->FilterAction = ActionBit(A::faADDED);  // the overflow comes through anyway
      m->OnChange = [&, m](TDirMonitor&, A act, const std::string& p) {
        if (act == A::faMODIFIED) seen.emplace_back(m == &a ? 0 : 1, p);
      };
      m->SetActive(true);
    }
    TDirMonitor::HoldReader(true);
    for (int i = 0; i < 20000; ++i) Write(tmp / ("f" + std::to_string(i)), "");
    TDirMonitor::HoldReader(false);
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (seen.size() < 2 && std::chrono::steady_clock::now() < until)
      TDirMonitor::DeliverPending(100);
    while (TDirMonitor::DeliverPending(200) > 0) {
    }
    std::vector<std::pair<int, std::string>> want = {{0, tmp.path()}, {1, tmp.path()}};
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, want);
  }

  // A folder that is not there, or a file, does not start; the system's reason follows "\r".
  for (std::string dir : {tmp / "missing", tmp / "f0"}) {
    TDirMonitor m;
    m.Directory = dir;
    try {
      m.SetActive(true);
      ADD_FAILURE() << dir << " started";
    } catch (const TDirMonitorError& e) {
      EXPECT_EQ(std::string(e.what()).rfind("No directory found\r", 0), 0u) << e.what();
    }
    EXPECT_FALSE(m.Active());
  }

  for (int i = 0; i < 100; ++i) {
    TDirMonitor m;
    m.Directory = tmp.path();
    m.WatchSubtree = i % 2;
    m.SetActive(true);
    m.SetActive(false);
    m.SetActive(true);  // the destructor stops it
  }
  while (TDirMonitor::DeliverPending(0) > 0) {
  }
  EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
