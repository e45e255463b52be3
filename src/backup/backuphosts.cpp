#include "backup/backuphosts.h"

#include "app/pathbytes.h"
#include "backup/removable.h"
#include "backup/restorepoint.h"
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

int IBackupSeams::GetDriveTypeEx(const QString& path) {
  return ::GetDriveTypeEx(DefaultVolumeService(), PathBytes(path));
}
