// Helpers shared by every test: scratch folders, files and running outside tools.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace testutil {

// A fresh folder under $TMPDIR (or /tmp), removed with everything inside when it goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

struct CommandResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out;  // stdout and stderr together
};

// Runs a shell command line and captures its output.
CommandResult Run(const std::string& command);
// Quotes a text for the shell.
std::string Quote(const std::string& text);
// True when an executable of that name is on PATH.
bool HaveTool(const std::string& name);

// Starts args[0] with args (no shell). env holds "NAME=value" settings added to its environment;
// with logFile its standard output and error go there. Returns the pid.
pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
            const std::string& logFile = "");
// The exit status of a started process (128 + signal when a signal ended it), or -1 when it has
// not ended within timeoutMs.
int WaitExit(pid_t pid, int timeoutMs);

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
// Damages the central directory of the archive at path: one byte of the signature of its
// central record number which (0-based) is changed, so reading has to rebuild the entry list.
// False when the archive has no such record.
bool DamageCentralSignature(const std::string& path, int which = 0);

// Fills dir (made when missing) with what a Linux user keeps: files of modes 755, 600, 444, 666
// and 777, a sticky folder, an empty folder, links to a file, a folder and nothing, and times at
// odd seconds, before 1980, in 2030 and past 2038 (2100). Fails the test when it cannot.
void MakeUnixTree(const std::string& dir);
// One line per name below dir, sorted by its bytes: name, type (f, d, l), mode, link target and
// modification time in whole seconds (of the link itself for a link).
std::string TreeManifest(const std::string& dir);

// Points the XDG folders (config, state, data, runtime) at sub-folders of root, so a test never
// touches the real user's files. Restores the previous values on destruction.
class IsolatedXdg {
 public:
  explicit IsolatedXdg(const std::string& root);
  ~IsolatedXdg();

 private:
  std::vector<std::pair<std::string, std::string>> saved_;
  std::vector<bool> had_;
};

}  // namespace testutil
