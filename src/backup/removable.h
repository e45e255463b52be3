// Removable media as the backup sees them: the drive kind of a path, the medium's label, and the
// clearing of a disk's folder before a volume is written onto it.
#pragma once

#include <string>

class IVolumeService;

// The kind of drive holding path: 3 removable (stick, card, floppy), 2 a disc drive whose medium
// is mounted for writing, 1 a disc drive whose medium is not, 0 anything else (fixed, network,
// fuse, tmpfs, not determinable).
int GetDriveTypeEx(IVolumeService& volumes, const std::string& path);
// The label of the medium holding path, at most 255 characters; "" when it has none or it cannot
// be read.
std::string GetVolumeName(IVolumeService& volumes, const std::string& path);
// True for removable and disc drives.
bool IsRemovable(IVolumeService& volumes, const std::string& path);

// Deletes the contents of the folder of path (the text up to its last "/"): every file except
// the hidden ones (names starting with "."), and every sub-folder, emptied the same way and then
// removed. Hidden sub-folders are left whole. Links are removed as links, never followed; a
// folder of another file system (a mount inside) is not entered; "/" and the home folder or any
// folder above it are refused. A file that cannot be deleted is passed over; a sub-folder that
// cannot be emptied or removed ends the clearing. Returns false, with the reason in error, when
// the clearing was refused or ended early.
bool DelTree(const std::string& path, std::string* error = nullptr);
