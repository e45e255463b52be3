// The disk service of the desktop (udisks2 on the system bus): labels, mounting and unmounting of
// removable media for the user without root rights. A refusal (not authorised, not supported,
// busy) is an answer, not an error: the caller goes on without.
#pragma once

#include <QDBusConnection>
#include <QString>
#include <memory>
#include <optional>
#include <string>

#include "platform/volumeservice.h"

class IDiskService {
 public:
  virtual ~IDiskService() = default;
  // True when the service manages the block device ("sdb1") and it holds a file system.
  virtual bool Manages(const std::string& device) = 0;
  virtual bool SetLabel(const std::string& device, const std::string& label) = 0;
  virtual bool Unmount(const std::string& device) = 0;
  // Mounts the device; its mount point, "" when refused.
  virtual std::string Mount(const std::string& device) = 0;
  // Where the device is mounted; "" when it is not.
  virtual std::string MountPoint(const std::string& device) = 0;
  // The file system's label as the service read it.
  virtual std::string IdLabel(const std::string& device) = 0;
};

// udisks2 over D-Bus.
class TUdisks2 : public IDiskService {
 public:
  // Without a connection, the system bus, connected when first needed.
  TUdisks2() = default;
  explicit TUdisks2(QDBusConnection bus) : bus_(std::move(bus)) {}
  bool Manages(const std::string& device) override;
  bool SetLabel(const std::string& device, const std::string& label) override;
  bool Unmount(const std::string& device) override;
  std::string Mount(const std::string& device) override;
  std::string MountPoint(const std::string& device) override;
  std::string IdLabel(const std::string& device) override;
  // The object path of a block device.
  static QString ObjectPath(const std::string& device);

  // The drive object of a block device; "" when the service does not know the device.
  QString DriveOf(const std::string& device);
  // Ejects the medium of that drive (a mounted file system must be unmounted first).
  bool Eject(const QString& drive);
  // The service's message for the last call it refused.
  const std::string& LastError() const { return lastError_; }

 private:
  QDBusConnection& Bus();
  // Keeps the error of a refused call; true for a reply.
  bool Answered(const QDBusMessage& reply);
  std::optional<QDBusConnection> bus_;
  std::string lastError_;
};

// A volume service that writes labels through the disk service: the engine's labels of spanned
// media. Everything else is the underlying service's.
class TLabellingVolumeService : public IVolumeService {
 public:
  TLabellingVolumeService(IVolumeService& base, IDiskService& disks) : base_(base), disks_(disks) {}
  int64_t FreeBytes(const std::string& p) override { return base_.FreeBytes(p); }
  int64_t ClusterSize(const std::string& p) override { return base_.ClusterSize(p); }
  int64_t LargestFile(const std::string& p) override { return base_.LargestFile(p); }
  bool IsRemovable(const std::string& p) override { return base_.IsRemovable(p); }
  std::string ReadLabel(const std::string& p) override;
  bool WriteLabel(const std::string& path, const std::string& label) override;
  TDriveFacts Drive(const std::string& p) override { return base_.Drive(p); }

 private:
  IVolumeService& base_;
  IDiskService& disks_;
};
