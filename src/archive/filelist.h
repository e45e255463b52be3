// Turning the writer's FilesList into the files and folders to store: explicit names, folder
// items, and wildcard items walked on disk; and the stored name and attributes of a file.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "archive/arcunzip.h"
#include "platform/filesearch.h"

// One name to store, in the order it will be stored.
struct TFileItem {
  std::string Path;       // the file's name on disk; a folder's name ends in "/"
  bool IsFolder = false;  // a folder entry
  int64_t Size = 0;       // size when the list was made
  bool IsLink = false;    // a symbolic link, stored as a link (its target as the entry's data)
};
// A deque: it grows without moving what it holds (no copy of a million names at twice the size
// while it grows), and the names stay where they are for those who refer to them.
using TFileItems = std::deque<TFileItem>;

struct TExpandOptions {
  std::string RootDir;  // folder of names without a folder, and of wildcard items without one
  bool Recurse = false;
  bool AddDirEntriesOnRecurse = false;
  bool IncludeHidden = false;  // names starting with "." are found only with this
  // Symbolic links stand for what they point to (a file is stored in their place); otherwise
  // they are stored as links.
  bool FollowLinks = false;
  const std::vector<std::string>* ExcludeList = nullptr;
  // The archive being written, left out of the list (by device and inode).
  bool HaveArchive = false;
  dev_t ArchiveDev = 0;
  ino_t ArchiveIno = 0;
  // The archive's lock file (a writer's, or one a killed writer left), left out the same way.
  bool HaveLock = false;
  dev_t LockDev = 0;
  ino_t LockIno = 0;
  // With SkipIfArchiveBitNotSet: true when the file's archive bit is set.
  std::function<bool(const std::string& path, const struct stat& st)> ArchiveBitSet;
  // With zaFreshen: true when the archive holds an entry for the file.
  std::function<bool(const std::string& path)> InArchive;

  std::function<void(TSkipReason reason, const std::string& name)> Skipping;
  std::function<void(const std::string& name)> NoSuchFile;
  // A name found that cannot be stored (a FIFO, a socket, a device, a link whose target is
  // missing or a folder while links are followed), with the reason in words.
  std::function<void(const std::string& name, const std::string& why)> LeftOut;
  std::function<void(const std::string& name)> RecursingFile;
  // Called between names; may raise to cancel.
  std::function<void()> Between;
};

// True when the item holds a character that makes it a wildcard item: * ? < > |
bool HasWildcardChars(const std::string& s);

// Expands items into out (explicit names and folder items in order, then the names found for
// each wildcard item in order); a path reached twice is listed once, where it came first.
// Returns the total size of the files.
int64_t ExpandFileList(const std::vector<std::string>& items, const TExpandOptions& options,
                       TFileItems& out);

// The stored name of a file or folder (folders end in "/"), "/"-separated and without a leading
// "/": without storePaths the name alone; with it, the folder too, "." and ".." components
// resolved so that no stored name climbs out of the extraction folder. With relativePaths, the
// first prefix of relativePathList that begins the folder (compared case-insensitively) is cut.
std::string StoredNameOf(const std::string& path, bool isFolder, bool storePaths,
                         bool relativePaths, const std::vector<std::string>& relativePathList);

// The DOS attribute byte of a file: read-only (no owner write), hidden (name starts with "."),
// directory, archive.
uint8_t DosAttributes(const std::string& path, const struct stat& st, bool archiveBit);
