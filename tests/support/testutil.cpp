#include "testutil.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace testutil {

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/arcavo-test-XXXXXX";
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Tests may leave read-only folders behind; make everything writable before removal.
  for (auto it = std::filesystem::recursive_directory_iterator(
           path_, std::filesystem::directory_options::skip_permission_denied, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec)) ::chmod(it->path().c_str(), 0700);
  }
  ::chmod(path_.c_str(), 0700);
  std::filesystem::remove_all(path_, ec);
}

CommandResult Run(const std::string& command) {
  CommandResult r;
  std::string full = "( " + command + " ) 2>&1";
  FILE* p = ::popen(full.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  int st = ::pclose(p);
  if (WIFEXITED(st))
    r.status = WEXITSTATUS(st);
  else if (WIFSIGNALED(st))
    r.status = 128 + WTERMSIG(st);
  return r;
}

pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env,
            const std::string& logFile) {
  pid_t pid = ::fork();
  if (pid == 0) {
    for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
    if (!logFile.empty()) {
      const int fd = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (fd >= 0) {
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        ::close(fd);
      }
    }
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    std::perror(argv[0]);
    ::_exit(127);
  }
  return pid;
}

int WaitExit(pid_t pid, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int st = 0;
    if (::waitpid(pid, &st, WNOHANG) == pid)
      return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    if (std::chrono::steady_clock::now() > end) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

std::string Quote(const std::string& text) {
  std::string q = "'";
  for (char c : text) {
    if (c == '\'')
      q += "'\\''";
    else
      q += c;
  }
  return q + "'";
}

bool HaveTool(const std::string& name) {
  return Run("command -v " + Quote(name)).status == 0;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path);
  out << bytes;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

bool DamageCentralSignature(const std::string& path, int which) {
  std::string bytes = ReadFile(path);
  size_t at = bytes.find("PK\x01\x02");
  for (int k = 0; k < which && at != std::string::npos; ++k) at = bytes.find("PK\x01\x02", at + 4);
  if (at == std::string::npos) return false;
  bytes[at + 2] = '\x07';
  WriteFile(path, bytes);
  return true;
}

void MakeUnixTree(const std::string& dir) {
  auto r =
      Run("set -e; mkdir -p " + Quote(dir) + "; cd " + Quote(dir) +
          "; mkdir -p sticky empty; for m in 755 600 444 666 777; do echo $m > x$m; chmod $m x$m;"
          " done; chmod 1777 sticky; echo sticky > sticky/in.txt; ln -s x755 lfile;"
          " ln -s sticky ldir; ln -s nowhere dangling;"
          " echo odd > odd.txt; touch -d @1700000001 odd.txt;"
          " echo old > old.txt; touch -d @304300801 old.txt;"
          " echo y2030 > y2030.txt; touch -d @1900000001 y2030.txt;"
          " echo y2100 > y2100.txt; touch -d @4102444801 y2100.txt;"
          " for l in lfile ldir dangling; do touch -h -d @1600000003 $l; done;"
          " touch -d @1600000005 x755 x600 x444 x666 x777 sticky/in.txt;"
          " touch -d @1500000001 sticky empty .");
  ASSERT_EQ(r.status, 0) << r.out;
}

std::string TreeManifest(const std::string& dir) {
  auto r = Run("cd " + Quote(dir) +
               " && find . -mindepth 1 -printf '%P %y %m [%l] %T@\\n' | sed "
               "'s/\\.[0-9]* *$//' | LC_ALL=C sort");
  EXPECT_EQ(r.status, 0) << r.out;
  return r.out;
}

IsolatedXdg::IsolatedXdg(const std::string& root) {
  const char* names[] = {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"};
  const char* subs[] = {"config", "state", "data", "runtime"};
  for (int i = 0; i < 4; ++i) {
    const char* old = std::getenv(names[i]);
    had_.push_back(old != nullptr);
    saved_.emplace_back(names[i], old ? old : "");
    std::string dir = root + "/" + subs[i];
    std::filesystem::create_directories(dir);
    ::chmod(dir.c_str(), 0700);
    ::setenv(names[i], dir.c_str(), 1);
  }
}

IsolatedXdg::~IsolatedXdg() {
  for (size_t i = 0; i < saved_.size(); ++i) {
    if (had_[i])
      ::setenv(saved_[i].first.c_str(), saved_[i].second.c_str(), 1);
    else
      ::unsetenv(saved_[i].first.c_str());
  }
}

}  // namespace testutil

namespace {

// Every test process starts on a machine of its own, whatever the developer's or an earlier run
// left: a fresh, empty home folder; none of the user's XDG folders, session bus or display (a
// test that needs one makes its own); and programs under test that find their read-only files
// (the self-extractor stub, the help) beside them in the build, never an installed copy's.
class PrivateMachine : public ::testing::Environment {
 public:
  void SetUp() override {
    home_ = std::make_unique<testutil::TempDir>();
    ::setenv("HOME", home_->path().c_str(), 1);
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME",
                             "XDG_RUNTIME_DIR", "DBUS_SESSION_BUS_ADDRESS"})
      ::unsetenv(name);
    const char* bin = std::getenv("ARCAVO_BINARY_DIR");
    if (bin && testutil::Exists(std::string(bin) + "/src/arcavo")) {
      for (const char* own : {"/src/ArcSFX32.bin", "/src/help/arcavo-help.html"})
        EXPECT_TRUE(testutil::Exists(bin + std::string(own)))
            << bin << own << " is missing: the program under test would take an installed copy";
    }
  }
  void TearDown() override { home_.reset(); }

 private:
  std::unique_ptr<testutil::TempDir> home_;
};

const auto* const kPrivateMachine = ::testing::AddGlobalTestEnvironment(new PrivateMachine);

}  // namespace
