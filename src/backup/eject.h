// Opening the door of a disc drive at the end of a backup or after a burnt part.
#pragma once

#include <string>

class IVolumeService;
class TUdisks2;

// Ejects the disc of the drive at root: its device node ("/dev/sr0", a trailing "/" allowed) or
// a folder on the mounted disc. Through the desktop's disk service when it knows the drive (a
// mounted disc is unmounted first, and the user needs no rights on the device node); otherwise
// by the kernel's eject request on the device node, which refuses a disc still mounted. True
// when the door opened; false with why it did not.
bool EjectDisc(TUdisks2& disks, IVolumeService& volumes, const std::string& root, std::string& why);
