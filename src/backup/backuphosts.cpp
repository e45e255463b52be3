#include "backup/backuphosts.h"

#include "app/mb.h"
#include "app/pathbytes.h"
#include "backup/removable.h"
#include "platform/volumeservice.h"

namespace {
const QString kArcavo = QStringLiteral("Arcavo");
}  // namespace

bool IBackupSeams::Hibernate() {
  MbMessage(QStringLiteral("Hibernation is not available: the computer was not hibernated"),
            kArcavo, false, MB_ICONEXCLAMATION);
  return false;
}

bool IBackupSeams::Shutdown() {
  MbMessage(QStringLiteral("Shutting down is not available: the computer was not shut down"),
            kArcavo, false, MB_ICONEXCLAMATION);
  return false;
}

int IBackupSeams::GetDriveTypeEx(const QString& path) {
  return ::GetDriveTypeEx(DefaultVolumeService(), PathBytes(path));
}
