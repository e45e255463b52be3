// The archive attribute of a file on Linux.
//
// A file's archive bit is "set" when the file changed since the bit was last cleared. Clearing
// records a stamp (inode, size, mtime in nanoseconds) in the user extended attribute
// "user.arcavo.archived"; the bit reads as set whenever that stamp is missing or differs from the
// file's current one. Where the file system refuses user xattrs (or the file refuses them), the
// stamp goes to a state file under $XDG_STATE_HOME/arcavo/ instead, keyed by the absolute path.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <map>
#include <string>

struct TFileStamp {
  uint64_t Inode = 0;
  int64_t Size = 0;
  int64_t MTimeNs = 0;

  static TFileStamp Of(const struct stat& st);
  bool operator==(const TFileStamp&) const = default;
  // "inode size mtime_ns", the form stored in the xattr.
  std::string Text() const;
  static bool Parse(const std::string& text, TFileStamp& out);
};

inline constexpr const char* kArchivedXattr = "user.arcavo.archived";

class TArchiveAttributes {
 public:
  enum class TXattrUse {
    Auto,     // xattrs where the file system takes them, the state file elsewhere
    Refused,  // behave as on a file system without user xattrs (tests)
  };
  // stateFile empty: DefaultStateFile().
  explicit TArchiveAttributes(TXattrUse use = TXattrUse::Auto, std::string stateFile = "");
  ~TArchiveAttributes();
  TArchiveAttributes(const TArchiveAttributes&) = delete;
  TArchiveAttributes& operator=(const TArchiveAttributes&) = delete;

  // True when the file's archive bit is set: it changed (or was never recorded) since the bit
  // was last cleared. st is the file's current status.
  bool IsSet(const std::string& path, const struct stat& st);
  // Clears the bit: records stamp, normally the file's status when it was stored. A stamp that no
  // longer matches the file leaves the bit set. State file records are written by Commit.
  void Clear(const std::string& path, const TFileStamp& stamp);
  // Writes pending state file records (atomically). Raises std::system_error on failure.
  void Commit();

  const std::string& StateFile() const { return stateFile_; }
  // $XDG_STATE_HOME/arcavo/archived.state (default ~/.local/state/arcavo/archived.state).
  static std::string DefaultStateFile();

 private:
  void LoadState();
  static std::string Key(const std::string& path);

  TXattrUse use_;
  std::string stateFile_;
  bool loaded_ = false;
  bool dirty_ = false;
  std::map<std::string, TFileStamp> state_;
};
