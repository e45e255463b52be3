// Replacing a file as a whole: the new content under the name, the old one kept on any failure,
// no temporary left behind, and the flushes in the order that makes the replacement durable.
#include "platform/atomicfile.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <system_error>
#include <vector>

#include "testutil.h"

using testutil::TempDir;

namespace {

// Started as a child of the flush-order test (under strace): one replacement of the target named
// in the environment, then out, before any test runs.
[[maybe_unused]] const bool kChildDone = [] {
  const char* target = std::getenv("ARCAVO_ATOMIC_CHILD_TARGET");
  if (!target) return false;
  const char* tmpl = std::getenv("ARCAVO_ATOMIC_CHILD_TEMPLATE");
  TAtomicFile file(target, tmpl ? tmpl : TempTemplateBeside(target, ".t-"), ".t-");
  file.Write("new", 3);
  file.Commit();
  ::_exit(0);
}();

std::string Listing(const std::string& dir) {
  std::string out;
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    names.insert(e.path().filename().string());
  for (const auto& n : names) out += n + " ";
  return out;
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

// A folder on another file system than the test's own, or "" when there is none.
std::string OtherFileSystem(const std::string& here) {
  struct stat a {
  }, b{};
  if (::stat("/dev/shm", &b) != 0 || ::stat(here.c_str(), &a) != 0 || a.st_dev == b.st_dev)
    return "";
  std::string dir = "/dev/shm/arcavo-atomic-test-XXXXXX";
  return ::mkdtemp(dir.data()) ? dir : "";
}

}  // namespace

TEST(AtomicFile, ReplacesOrCreatesTheTargetWithItsModeFromAnyTemporaryFolder) {
  TempDir dir;
  std::filesystem::create_directory(dir / "tmp");
  const std::string other = OtherFileSystem(dir.path());
  struct Case {
    const char* name;
    bool existing;
    std::string tempFolder;  // "" beside the target
  };
  std::vector<Case> cases = {
      {"new file beside", false, ""},
      {"replaced beside", true, ""},
      {"replaced from a temporary folder", true, dir / "tmp"},
  };
  if (!other.empty()) {
    cases.push_back({"new file from another file system", false, other});
    cases.push_back({"replaced from another file system", true, other});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string target = dir / "out.ini";
    std::filesystem::remove(target);
    if (c.existing) {
      testutil::WriteFile(target, "old content");
      ::chmod(target.c_str(), 0640);
    }
    const mode_t want = c.existing ? 0640 : (0666 & ~CurrentUmask());
    {
      std::unique_ptr<TAtomicFile> file =
          c.tempFolder.empty()
              ? std::make_unique<TAtomicFile>(target, ".arcavo-")
              : std::make_unique<TAtomicFile>(target, c.tempFolder + "/t-XXXXXX", ".arcavo-");
      file->SetMode(ModeForReplacing(target));
      const std::string big(300000, 'x');
      file->Write(big.data(), big.size());
      file->Write("end", 3);
      file->Commit();
    }
    EXPECT_EQ(testutil::ReadFile(target), std::string(300000, 'x') + "end");
    EXPECT_EQ(ModeOf(target), want);
    EXPECT_EQ(Listing(dir.path()), "out.ini tmp ");
    EXPECT_EQ(Listing(dir / "tmp"), "");
    if (!other.empty()) {
      EXPECT_EQ(Listing(other), "");
    }
  }
  if (!other.empty()) std::filesystem::remove_all(other);
}

TEST(AtomicFile, AFailureAnywhereLeavesTheTargetAsItWasAndNoTemporary) {
  TempDir dir;
  const std::string other = OtherFileSystem(dir.path());
  struct Case {
    const char* name;
    std::string target;
    std::string tempTemplate;  // "" beside the target
    const char* step;          // the failing step named in the error
    std::function<void(TAtomicFile&)> work;
  };
  const std::string big(1 << 20, 'n');
  auto writeBig = [&](TAtomicFile& f) {
    // A file size limit makes the write fail part way (EFBIG), as a full medium would.
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 4096;
    struct Restore {
      rlimit limit;
      void (*handler)(int);
      ~Restore() {
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::signal(SIGXFSZ, handler);
      }
    } restore{old, ::signal(SIGXFSZ, SIG_IGN)};
    ::setrlimit(RLIMIT_FSIZE, &small);
    f.Write(big.data(), big.size());
  };
  const std::string longName(250, 'l');
  std::vector<Case> cases = {
      {"write fails part way", dir / "a.ini", "", "cannot write", writeBig},
      {"target is a folder", dir / "folder", "", "cannot replace",
       [](TAtomicFile& f) { f.Write("new", 3); }},
      {"folder missing", dir / "none/a.ini", "", "cannot create a temporary file beside",
       [](TAtomicFile&) {}},
  };
  if (!other.empty())
    // Across file systems the copy beside the target cannot be made: its name is too long.
    cases.push_back({"copy beside fails", dir / longName, other + "/t-XXXXXX",
                     "cannot create a temporary file beside",
                     [](TAtomicFile& f) { f.Write("new", 3); }});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(dir.path());
    std::filesystem::create_directory(dir.path());
    if (c.target == dir / "folder") {
      std::filesystem::create_directory(c.target);
      testutil::WriteFile(c.target + "/keep", "old content");
    } else if (c.target.find("none/") == std::string::npos) {
      testutil::WriteFile(c.target, "old content");
    }
    const std::string before = Listing(dir.path());
    try {
      std::unique_ptr<TAtomicFile> file =
          c.tempTemplate.empty() ? std::make_unique<TAtomicFile>(c.target, ".arcavo-")
                                 : std::make_unique<TAtomicFile>(c.target, c.tempTemplate, ".a-");
      c.work(*file);
      file->Commit();
      ADD_FAILURE() << "no error";
    } catch (const std::system_error& e) {
      EXPECT_EQ(std::string(e.what()).rfind(std::string(c.step) + " " + c.target, 0), 0u)
          << e.what();
    }
    EXPECT_EQ(Listing(dir.path()), before);
    // The old file (or the folder's content) byte for byte.
    const std::string old = c.target == dir / "folder" ? c.target + "/keep" : c.target;
    EXPECT_EQ(testutil::Exists(old) ? testutil::ReadFile(old) : "",
              c.target.find("none/") == std::string::npos ? "old content" : "");
    if (!other.empty()) {
      EXPECT_EQ(Listing(other), "");
    }
  }
  if (!other.empty()) std::filesystem::remove_all(other);
}

// The temporary is on the medium before it takes the name, and the name (the folder) right after:
// a crash at any moment leaves the old file or the whole new one.
TEST(AtomicFile, FlushesTheFileBeforeTheRenameAndTheFolderAfterIt) {
  if (!testutil::HaveTool("strace")) GTEST_SKIP() << "strace missing";
  TempDir dir;
  const std::string other = OtherFileSystem(dir.path());
  char self[4096] = {};
  ASSERT_GT(::readlink("/proc/self/exe", self, sizeof self - 1), 0);
  std::vector<std::string> tempFolders = {""};
  if (!other.empty()) tempFolders.push_back(other);
  for (const std::string& tempFolder : tempFolders) {
    SCOPED_TRACE(tempFolder.empty() ? "beside" : "across file systems");
    const std::string target = dir / "state.txt";
    testutil::WriteFile(target, "old");
    const std::string log = dir / "trace.log";
    std::string env = "ARCAVO_ATOMIC_CHILD_TARGET=" + testutil::Quote(target);
    if (!tempFolder.empty())
      env += " ARCAVO_ATOMIC_CHILD_TEMPLATE=" + testutil::Quote(tempFolder + "/t-XXXXXX");
    const auto r = testutil::Run("ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" " +
                                 env + " strace -f -y -o " + testutil::Quote(log) +
                                 " -e trace=fsync,fdatasync,rename,renameat,renameat2 " +
                                 testutil::Quote(self));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(testutil::ReadFile(target), "new");
    std::vector<std::string> lines;
    std::istringstream in(testutil::ReadFile(log));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    auto first = [&](size_t from, const std::function<bool(const std::string&)>& pred) {
      for (size_t i = from; i < lines.size(); ++i)
        if (pred(lines[i])) return i;
      return std::string::npos;
    };
    const size_t rename = first(0, [&](const std::string& l) {
      return l.find("rename") != std::string::npos &&
             l.find("\"" + target + "\") = 0") != std::string::npos;
    });
    ASSERT_NE(rename, std::string::npos) << testutil::ReadFile(log);
    const std::string from = lines[rename].substr(lines[rename].find('"') + 1);
    const std::string temp = from.substr(0, from.find('"'));
    EXPECT_EQ(temp.rfind(dir / ".state.txt.t-", 0), 0u) << temp;
    const size_t fileSync = first(0, [&](const std::string& l) {
      return l.find("fsync(") != std::string::npos && l.find("<" + temp + ">") != std::string::npos;
    });
    const size_t folderSync = first(rename, [&](const std::string& l) {
      return l.find("fsync(") != std::string::npos &&
             l.find("<" + dir.path() + ">") != std::string::npos;
    });
    EXPECT_LT(fileSync, rename) << testutil::ReadFile(log);
    EXPECT_NE(folderSync, std::string::npos) << testutil::ReadFile(log);
  }
  if (!other.empty()) std::filesystem::remove_all(other);
}
