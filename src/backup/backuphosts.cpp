#include "backup/backuphosts.h"

#include "app/pathbytes.h"
#include "backup/eject.h"
#include "backup/removable.h"
#include "backup/restorepoint.h"
#include "backup/udisks.h"
#include "backup/xwinreboot.h"
#include "platform/volumeservice.h"

bool IBackupSeams::Hibernate(bool interactive, QString& reason) {
  if (hibernationFailed_) {
    reason = QStringLiteral("hibernation failed before");
    return false;
  }
  TXWinReboot reboot;
  reboot.Operation = roHibernate;
  reboot.Interactive = interactive;
  if (reboot.Execute()) return true;
  hibernationFailed_ = true;
  reason = reboot.Reason();
  return false;
}

bool IBackupSeams::Shutdown(bool interactive, QString& reason) {
  TXWinReboot reboot;
  reboot.Operation = roShutDown;
  reboot.PowerOff = true;
  reboot.Interactive = interactive;
  if (reboot.Execute()) return true;
  reason = reboot.Reason();
  return false;
}

QString IBackupSeams::SetRestorePoint(const QString& name, bool& set) {
  return ::SetRestorePoint(name, set);
}

bool IBackupSeams::OpenCD(const QString& root, QString* why) {
  TUdisks2 disks;
  std::string reason;
  if (EjectDisc(disks, DefaultVolumeService(), PathBytes(root), reason)) return true;
  if (why) *why = PathText(reason);
  return false;
}

int IBackupSeams::GetDriveTypeEx(const QString& path) {
  return ::GetDriveTypeEx(DefaultVolumeService(), PathBytes(path));
}
