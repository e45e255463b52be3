#include "backup/backuphosts.h"

#include "app/mb.h"

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
