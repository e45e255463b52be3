// Drive kinds and labels over a mount table and sysfs tree of the test's own, the clearing of a
// disk's folder, and the desktop's disk service (a mock on a private bus).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QThread>
#include <cstdlib>

#include "backup/eject.h"
#include "backup/removable.h"
#include "backup/spanning.h"
#include "backup/udisks.h"
#include "platform/mounts.h"
#include "simremovabledrive.h"
#include "testutil.h"
#include "udisksmock.h"

using testutil::ReadFile;
using testutil::WriteFile;

namespace {

void Folder(const std::string& path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    ::mkdir(path.substr(0, slash).c_str(), 0755);
    if (slash == std::string::npos) break;
  }
}

void Link(const std::string& target, const std::string& at) {
  Folder(at.substr(0, at.rfind('/')));
  ASSERT_EQ(::symlink(target.c_str(), at.c_str()), 0) << at;
}

// A machine with an nvme system disk, a USB stick holding a fixed disk's mount inside it, a disc
// drive mounted twice (a pressed disc read-only, a rewritable one read-write), tmpfs, fuse and a
// bind mount.
struct FakeMachine {
  testutil::TempDir dir;
  TLinuxVolumeService::Roots roots{dir / "proc", dir / "sys", dir / "dev"};
  FakeMachine() {
    Folder(roots.proc + "/self");
    WriteFile(roots.proc + "/self/mountinfo",
              "22 1 259:2 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw\n"
              "40 22 0:35 / /run/user/1000 rw,nosuid shared:3 - tmpfs tmpfs rw,mode=700\n"
              "88 40 0:49 / /run/user/1000/doc rw,nosuid shared:4 - fuse.portal portal rw\n"
              "95 22 8:17 / /media/ann/MY\\040STICK rw,nosuid shared:5 - vfat /dev/sdb1 rw\n"
              "97 95 8:33 / /media/ann/MY\\040STICK/inner rw shared:6 - ext4 /dev/sdc1 rw\n"
              "98 22 11:0 / /media/ann/DISC ro,nosuid shared:7 - iso9660 /dev/sr0 ro\n"
              "99 22 11:0 / /media/ann/DVD rw,nosuid shared:8 - udf /dev/sr0 rw\n"
              "100 22 259:2 /home/ann/shared /srv/bind rw shared:1 - ext4 /dev/nvme0n1p2 rw\n");
    const std::string devices = roots.sys + "/devices/pci0";
    struct Disk {
      const char* number;
      const char* path;  // below devices
      bool partition;
      const char* removable;
    };
    for (const Disk& d : {Disk{"259:2", "/nvme/block/nvme0n1/nvme0n1p2", true, "0\n"},
                          Disk{"8:17", "/usb1/block/sdb/sdb1", true, "1\n"},
                          Disk{"8:33", "/ata2/block/sdc/sdc1", true, "0\n"},
                          Disk{"11:0", "/ata1/block/sr0", false, "1\n"}}) {
      const std::string at = devices + d.path;
      Folder(at);
      const std::string disk = d.partition ? at.substr(0, at.rfind('/')) : at;
      WriteFile(disk + "/removable", d.removable);
      if (d.partition) WriteFile(at + "/partition", "1\n");
      Link(at, roots.sys + "/dev/block/" + d.number);
    }
    Link("../../sdb1", roots.dev + "/disk/by-label/MY\\x20STICK");
    Link("../../nvme0n1p2", roots.dev + "/disk/by-label/system");
  }
};

}  // namespace

TEST(VolumeService, DriveKindsAndLabelsFromTheMountTableAndSysfs) {
  FakeMachine machine;
  TLinuxVolumeService volumes(machine.roots);
  struct Row {
    const char* path;
    int kind;
    const char* label;
    const char* device;
  } rows[] = {
      {"/media/ann/MY STICK/backup/data.zip", 3, "MY STICK", "sdb1"},
      {"/media/ann/MY STICK", 3, "MY STICK", "sdb1"},
      {"/media/ann/MY STICK/inner/x.zip", 0, "", "sdc1"},  // a fixed disk mounted inside
      {"/media/ann/MY STICK/./inner/../x.zip", 3, "MY STICK", "sdb1"},
      {"/media/ann/DISC/x.zip", 1, "", "sr0"},
      {"/media/ann/DVD/x.zip", 2, "", "sr0"},
      {"/var/backup/x.zip", 0, "system", "nvme0n1p2"},
      {"/run/user/1000/x.zip", 0, "", ""},      // tmpfs
      {"/run/user/1000/doc/x.zip", 0, "", ""},  // fuse
      {"/srv/bind/x.zip", 0, "system", "nvme0n1p2"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.path);
    EXPECT_EQ(GetDriveTypeEx(volumes, r.path), r.kind);
    EXPECT_EQ(GetVolumeName(volumes, r.path), r.label);
    EXPECT_EQ(volumes.Drive(r.path).device, r.device);
    EXPECT_EQ(IsRemovable(volumes, r.path), r.kind != 0);
  }
  // Media on one drive are told by the drive's device folder.
  EXPECT_EQ(volumes.Drive("/media/ann/DISC").drivePath, volumes.Drive("/media/ann/DVD").drivePath);
  // No mount table: nothing is known, nothing is removable.
  TLinuxVolumeService nothing({machine.dir / "none", machine.dir / "none", machine.dir / "none"});
  EXPECT_EQ(GetDriveTypeEx(nothing, "/media/ann/MY STICK/x"), 0);
}

TEST(DelTree, ClearsTheDisksFolderAndNothingElse) {
  testutil::TempDir dir;
  const std::string disk = dir / "disk";
  const std::string outside = dir / "outside";
  Folder(disk + "/sub/deeper");
  Folder(disk + "/.hidden-folder");
  Folder(outside);
  WriteFile(outside + "/keep.txt", "keep");
  WriteFile(disk + "/old.zip", "old");
  WriteFile(disk + "/.hidden", "h");
  WriteFile(disk + "/.hidden-folder/x", "x");
  WriteFile(disk + "/sub/deeper/y", "y");
  Link(outside, disk + "/sub/link-out");
  Link(outside + "/keep.txt", disk + "/file-link");
  ::chmod((disk + "/old.zip").c_str(), 0444);
  // A mount inside the disk's folder is not entered (where this test may mount one).
  Folder(disk + "/mnt");
  const bool mounted = ::mount("tmpfs", (disk + "/mnt").c_str(), "tmpfs", 0, "size=64k") == 0;
  if (mounted) WriteFile(disk + "/mnt/inside", "i");

  std::string why;
  EXPECT_EQ(DelTree(disk + "/data.zip", &why), !mounted) << why;
  if (mounted) {
    EXPECT_EQ(ReadFile(disk + "/mnt/inside"), "i");
    ::umount((disk + "/mnt").c_str());
    ::rmdir((disk + "/mnt").c_str());
    EXPECT_TRUE(DelTree(disk + "/data.zip", &why)) << why;
  }
  EXPECT_EQ(ReadFile(outside + "/keep.txt"), "keep");
  EXPECT_EQ(ReadFile(disk + "/.hidden"), "h");
  EXPECT_EQ(ReadFile(disk + "/.hidden-folder/x"), "x");
  for (const char* gone : {"/old.zip", "/sub", "/file-link"}) {
    struct stat st {};
    EXPECT_NE(::lstat((disk + gone).c_str(), &st), 0) << gone;
  }

  // A hidden file in a sub-folder keeps the folder: the clearing ends there, as an error.
  Folder(disk + "/sub");
  WriteFile(disk + "/sub/.secret", "s");
  EXPECT_FALSE(DelTree(disk + "/data.zip", &why));
  EXPECT_EQ(ReadFile(disk + "/sub/.secret"), "s");

  // The root, the home folder and the folders above it are refused.
  const char* oldHome = std::getenv("HOME");
  const std::string savedHome = oldHome ? oldHome : "";
  Folder(dir / "home/ann");
  WriteFile(dir / "home/ann/notes.txt", "n");
  ::setenv("HOME", (dir / "home/ann").c_str(), 1);
  for (const std::string& p : {dir / "home/ann/data.zip", dir / "home/data.zip",
                               dir.path() + "/data.zip", std::string("/data.zip")}) {
    EXPECT_FALSE(DelTree(p, &why)) << p;
  }
  if (oldHome)
    ::setenv("HOME", savedHome.c_str(), 1);
  else
    ::unsetenv("HOME");
  EXPECT_EQ(ReadFile(dir / "home/ann/notes.txt"), "n");
  EXPECT_EQ(ReadFile(outside + "/keep.txt"), "keep");
}

TEST(DiskService, LabelsAndSwapsGoThroughUdisks) {
  if (!HaveUdisksMock()) GTEST_SKIP() << "dbus-daemon or python3-dbusmock missing";
  testutil::TempDir dir;
  Folder(dir / "sim");
  SimRemovableDrive drive(dir / "sim");
  drive.SwapTo(drive.AddMedium({}));
  UdisksMock mock(dir.path(), "sim0", drive.DriveFolder());
  ASSERT_TRUE(mock.ready()) << ReadFile(dir / "mock.out");
  TUdisks2 disks(mock.Bus());
  const std::string volume = drive.DriveFolder() + "/data.zip";

  // The engine's labels of spanned media; a device the service does not know refuses quietly.
  TLabellingVolumeService labels(drive, disks);
  EXPECT_TRUE(labels.WriteLabel(volume, "PKBACK# 001"));
  EXPECT_EQ(disks.IdLabel("sim0"), "PKBACK# 001");
  EXPECT_FALSE(disks.Manages("nosuch"));
  EXPECT_FALSE(disks.SetLabel("nosuch", "X"));
  EXPECT_FALSE(labels.WriteLabel(dir / "fixed/data.zip", "PKBACK# 001"));

  // Before a prompt the medium is unmounted; after it, mounted again and the name found there.
  TDiskServiceSwap swap(drive, disks);
  swap.Release(volume);
  EXPECT_EQ(disks.MountPoint("sim0"), "");
  EXPECT_EQ(swap.Take(volume), volume);
  EXPECT_EQ(mock.Log(), "SetLabel PKBACK# 001\nUnmount\nMount\n");
}

// The door of a disc drive: the disc unmounted and ejected through udisks when it knows the drive,
// the kernel's eject request on the device node otherwise; every refusal says why.
TEST(DiskService, EjectUnmountsThroughUdisksElseAsksTheKernel) {
  if (!HaveUdisksMock()) GTEST_SKIP() << "dbus-daemon or python3-dbusmock missing";
  FakeMachine machine;
  TLinuxVolumeService volumes(machine.roots);
  testutil::TempDir dir;
  UdisksMock mock(dir.path(), "sr0", "/media/ann/DISC");
  ASSERT_TRUE(mock.ready()) << ReadFile(dir / "mock.out");
  TUdisks2 disks(mock.Bus());
  WriteFile(dir / "udisks.log", "");
  const QString fs = "org.freedesktop.UDisks2.Filesystem";
  const QString drive = "org.freedesktop.UDisks2.Drive";
  const QString block = "/org/freedesktop/UDisks2/block_devices/sr0";
  const QString drivePath = "/org/freedesktop/UDisks2/drives/sr0";
  const QString refuse =
      "raise dbus.exceptions.DBusException('Target is busy', "
      "name='org.freedesktop.UDisks2.Error.DeviceBusy')";
  const QString note =
      QString::fromStdString("open('" + (dir / "udisks.log") + "', 'a').write('%1\\n')");
  const QString unmounts = note.arg("Unmount") +
                           "; self.Set('org.freedesktop.UDisks2.Filesystem', 'MountPoints', "
                           "dbus.Array([], signature='ay'))";
  struct Case {
    const char* name;
    std::string root;
    QString unmount;  // the mock's Unmount ("" keeps the last)
    QString eject;    // the mock's Eject
    bool ok;
    std::string calls;  // logged by the mock
    std::string why;    // part of the reason
  };
  const std::vector<Case> cases = {
      {"device node", "/dev/sr0/", unmounts, note.arg("Eject"), true, "Unmount\nEject\n", ""},
      {"folder on the mounted disc", "/media/ann/DISC/backup", unmounts, note.arg("Eject"), true,
       "Unmount\nEject\n", ""},
      {"disc in use", "/dev/sr0", refuse, note.arg("Eject"), false, "",
       "the disc at /media/ann/DISC could not be unmounted: Target is busy"},
      {"drive refuses", "/dev/sr0", unmounts, refuse, false, "Unmount\n",
       "the drive did not eject the disc: Target is busy"},
      // udisks does not know the device: the kernel is asked, and /dev/null is no disc drive.
      {"not a disc drive", "/dev/null/", unmounts, note.arg("Eject"), false, "",
       "cannot eject /dev/null: "},
      {"no device node", "/dev/arcavo-none", unmounts, note.arg("Eject"), false, "",
       "cannot open /dev/arcavo-none: "},
      {"nowhere", dir / "fixed", unmounts, note.arg("Eject"), false, "",
       "no disc drive found for " + (dir / "fixed")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(mock.SetMethod(block, fs, "Unmount", "a{sv}", c.unmount));
    ASSERT_TRUE(mock.SetMethod(drivePath, drive, "Eject", "a{sv}", c.eject));
    // The disc is mounted again before each case.
    ASSERT_TRUE(disks.Manages("sr0"));
    if (disks.MountPoint("sr0").empty()) {
      ASSERT_FALSE(disks.Mount("sr0").empty());
    }
    const size_t before = ReadFile(dir / "udisks.log").size();
    std::string why;
    EXPECT_EQ(EjectDisc(disks, volumes, c.root, why), c.ok) << why;
    EXPECT_EQ(ReadFile(dir / "udisks.log").substr(before), c.calls);
    if (c.ok) {
      EXPECT_EQ(why, "");
    } else {
      EXPECT_NE(why.find(c.why), std::string::npos) << why;
    }
  }
}
