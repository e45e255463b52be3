// Replacing a file as a whole. The new content goes into a temporary file; only when it is
// complete and on the medium does it take the target's name, by a rename, so that whoever looks
// at the target sees either the old file or the complete new one, even after a crash. A
// temporary made on another file system than the target (a temporary folder on tmpfs) is copied
// into a second temporary beside the target, which is then renamed. On any failure the target
// stays as it was and no temporary remains.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

class TAtomicFile {
 public:
  // The temporary is made beside target, named "." + target's name + infix + six random
  // characters (mkstemp), so a later run can recognise it by that mark.
  explicit TAtomicFile(std::string target, const std::string& infix = ".");
  // The temporary is made from tempTemplate, a path ending in "XXXXXX" (for instance in a
  // temporary folder); when that is on another file system than target, Commit copies it
  // beside target under the name the first constructor would give, with infix.
  TAtomicFile(std::string target, std::string tempTemplate, std::string infix);
  // Removes the temporary unless Commit succeeded.
  ~TAtomicFile();
  TAtomicFile(const TAtomicFile&) = delete;
  TAtomicFile& operator=(const TAtomicFile&) = delete;

  const std::string& Target() const { return target_; }
  const std::string& TempPath() const { return temp_; }
  // The temporary's descriptor, open for reading and writing until Commit.
  int Fd() const { return fd_; }

  // Appends bytes at the descriptor's position.
  void Write(const void* data, size_t size);
  // The permissions the target will have (the temporary is created with 0600).
  void SetMode(mode_t mode);
  // Flushes the temporary, renames it over the target (or copies it across file systems) and
  // flushes the target's folder so that the rename is durable too.
  void Commit();
  // Gives up: closes and removes the temporary now; the target stays as it was.
  void Discard();

 private:
  [[noreturn]] void Fail(const char* what, int err) const;
  void CopyBesideAndRename();

  std::string target_;
  std::string temp_;
  std::string infix_;
  int fd_ = -1;
  bool committed_ = false;
};

// Every failure of TAtomicFile is a std::system_error whose text is "<step> <target>", the step
// one of: "cannot create a temporary file beside", "cannot write", "cannot flush", "cannot
// close", "cannot replace", "cannot flush the folder of".

// "<folder>/.<name><infix>XXXXXX" for target "<folder>/<name>".
std::string TempTemplateBeside(const std::string& target, const std::string& infix);

// The permissions a file replacing target should get: target's own when it exists, otherwise
// those of a new file (0666 less the umask).
mode_t ModeForReplacing(const std::string& target);

// The process's umask, read without changing it (umask(2) would race with other threads).
mode_t CurrentUmask();

// Flushes the folder holding path, so that a rename into it is on the medium.
void SyncFolderOf(const std::string& path);
// The same, returning 0 or the error of the flush.
int SyncFolderChecked(const std::string& path);
