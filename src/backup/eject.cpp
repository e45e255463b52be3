#include "backup/eject.h"

#include <fcntl.h>
#include <linux/cdrom.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "backup/udisks.h"
#include "platform/volumeservice.h"

namespace {

// The kernel's eject request on a device node.
bool EjectByKernel(const std::string& node, std::string& why) {
  const int fd = ::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    why = "cannot open " + node + ": " + std::strerror(errno);
    return false;
  }
  const bool ok = ::ioctl(fd, CDROMEJECT, 0) == 0;
  const int error = errno;
  ::close(fd);
  if (ok) return true;
  why = "cannot eject " + node + ": " + std::strerror(error);
  if (error == EBUSY) why += " (the disc is in use or still mounted)";
  return false;
}

}  // namespace

bool EjectDisc(TUdisks2& disks, IVolumeService& volumes, const std::string& root,
               std::string& why) {
  // The device: named by its node, or the one holding the mounted disc.
  std::string node = root;
  while (node.size() > 1 && node.back() == '/') node.pop_back();
  std::string device;
  if (node.rfind("/dev/", 0) == 0) {
    device = node.substr(node.rfind('/') + 1);
  } else {
    const TDriveFacts facts = volumes.Drive(root);
    if (!facts.known || !facts.optical || facts.device.empty()) {
      why = "no disc drive found for " + root;
      return false;
    }
    device = facts.device;
    node = "/dev/" + device;
  }

  const QString drive = disks.DriveOf(device);
  if (drive.isEmpty()) return EjectByKernel(node, why);
  if (disks.Manages(device)) {
    const std::string mounted = disks.MountPoint(device);
    if (!mounted.empty() && !disks.Unmount(device)) {
      why = "the disc at " + mounted + " could not be unmounted: " + disks.LastError();
      return false;
    }
  }
  if (disks.Eject(drive)) return true;
  why = "the drive did not eject the disc: " + disks.LastError();
  return false;
}
