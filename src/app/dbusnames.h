// Names of the system services the program talks to over D-Bus, in one place.
#pragma once

#include <QString>

namespace dbusname {

// systemd-logind: sleep, power-off and inhibitors.
inline const QString kLogin1 = QStringLiteral("org.freedesktop.login1");
inline const QString kLogin1Path = QStringLiteral("/org/freedesktop/login1");
inline const QString kLogin1Manager = QStringLiteral("org.freedesktop.login1.Manager");

// The standard properties interface every object offers.
inline const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

}  // namespace dbusname
