// What a file search takes from a folder: regular files and real folders, by name mask and by
// whether hidden (dot) names are wanted. Shared by the zip engine and the disc image builder so
// that both decide alike which names on disk are files and which are folders.
#pragma once

#include <sys/stat.h>

#include <string>
#include <vector>

// True when the name (the last component of a path) starts with ".".
bool IsHiddenName(const std::string& name);

// The last component of a path, trailing "/" ignored.
std::string BaseNameOf(const std::string& path);

// True when a name passes the attribute mask: only regular files (symbolic links to files
// included) and, for folders, real folders (links to folders are not followed); FIFOs, sockets
// and devices never. Hidden names need includeHidden. On success st holds the target's status.
bool FindWithMask(const std::string& path, bool includeHidden, bool wantFolder, struct stat& st);

// What FindWithMask finds at path, with one look: a regular file (or a link to one), a real
// folder, or nothing it takes. st holds the status of what was found.
enum class TFoundKind { None, File, Folder };
TFoundKind ClassifyWithMask(const std::string& path, bool includeHidden, struct stat& st);

// The entries of a folder, sorted by name in byte order, without "." and ".."; false when the
// folder cannot be read.
bool ListFolderSorted(const std::string& dir, std::vector<std::string>& names);
