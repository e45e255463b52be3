// Powering the machine down, putting it to sleep or ending the session through systemd-logind
// (org.freedesktop.login1 on the system bus). Works for the user of the active session without
// root rights; the desktop's agent may ask for a password when the call is interactive.
#pragma once

#include <QDBusConnection>
#include <QString>
#include <optional>

class TSleepListener;

enum TRebootOperation { roLogOff, roReboot, roShutDown, roSuspend, roHibernate };

class TXWinReboot {
 public:
  // Without a connection, the system bus, connected when first needed.
  TXWinReboot() = default;
  explicit TXWinReboot(QDBusConnection bus) : bus_(std::move(bus)) {}

  TRebootOperation Operation = roReboot;
  // logind always switches the power off when shutting down; kept for the job files' setting.
  bool PowerOff = false;
  // logind ends the applications itself and does not wait for them either way.
  bool ForceTerminateProcesses = false;
  // True when a user is there to answer the desktop's authentication question. A call that is
  // not interactive is only made when logind allows it without asking ("yes").
  bool Interactive = true;
  // Sleeping: how long to wait for the machine to start going to sleep once logind accepted,
  // and how long (time awake only) for it to come back.
  int SleepStartLimitMs = 30000;
  int ResumeLimitMs = 120000;

  // Does the operation. Suspend and hibernation return after the machine has resumed; the others
  // as soon as logind accepted them. False with Reason() when it was not done.
  bool Execute();
  const QString& Reason() const { return reason_; }

 private:
  QDBusConnection& Bus();
  bool Fail(const QString& why);
  bool WaitForSleep(const TSleepListener& listener);

  std::optional<QDBusConnection> bus_;
  QString reason_;
};
