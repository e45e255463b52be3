// Listing of one folder of the local file system for the explorer and the tick store.
//
// Names and paths are raw bytes (Linux file names need not be UTF-8). Symbolic links to folders
// are listed as files and never entered, so a listing cannot loop; FIFOs, sockets and devices
// are left out as nothing of them is archived. Hidden means the name starts with ".".
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

struct FsEntry {
  std::string name;
  std::string path;
  bool folder = false;
  bool hidden = false;
  uint64_t size = 0;
  int64_t mtime = 0;  // seconds since the epoch
};

// Folders first, then files; each group by name, case-insensitively (ASCII) and then bytewise.
// A folder that cannot be read lists as empty.
std::vector<FsEntry> ListFolder(const std::string& folder, bool withHidden, bool foldersOnly);
// True when the folder holds at least one entry that ListFolder would list (stops at the first).
bool FolderHasEntries(const std::string& folder, bool withHidden, bool foldersOnly);
// A path joined with a name ("/" + "a" gives "/a").
std::string JoinPath(const std::string& folder, const std::string& name);
// The parent folder ("/a/b" gives "/a", "/a" gives "/", "/" gives "").
std::string ParentPath(const std::string& path);
// True when path is a folder (not a link to one).
bool IsRealFolder(const std::string& path);

// The top-level folders of the explorer: the home folder, "/" and the mount points of removable
// and extra volumes (below /media, /run/media and /mnt) named in mountinfo, the text of
// /proc/self/mountinfo ("" reads the running system's).
std::vector<std::string> ExplorerRoots(const std::string& home, const std::string& mountinfo = "");
