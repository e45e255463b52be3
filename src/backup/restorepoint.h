// Restore points of the system: snapper's snapshots of the root file system, and its program
// for rolling back to one.
#pragma once

#include <QString>

// The platform family the restore facilities are for: 2, the one with restore points.
int PlatformFamily();

// Sets a restore point described by name (cut to 63 characters) with snapper from PATH. Returns
// the message to show: what the point is for when set, else why not.
QString SetRestorePoint(const QString& name, bool& set);

// Starts snapper's own window (snapper-gui from PATH) detached; false when it could not start.
bool StartSystemRestore();

// The warning shown when the restore window cannot start.
QString SystemRestoreUnavailableText();
