// systemd-logind as python3-dbusmock's own template plays it, on a private bus with its calls
// logged to a file. Nothing here ever reaches the machine's real system bus.
#pragma once

#include <signal.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QThread>
#include <string>

#include "testutil.h"

inline bool HaveLogindMock() {
  return testutil::HaveTool("dbus-daemon") && testutil::Exists("/usr/bin/python3") &&
         testutil::Run("/usr/bin/python3 -c 'import dbusmock'").status == 0;
}

class LogindMock {
 public:
  explicit LogindMock(const std::string& scratch) : log_(scratch + "/logind.log") {
    auto r = testutil::Run("dbus-daemon --session --fork --print-address=1 --print-pid=1");
    if (r.status != 0) return;
    const size_t nl = r.out.find('\n');
    address_ = r.out.substr(0, nl);
    busPid_ = std::stoi(r.out.substr(nl + 1));
    mockPid_ = testutil::Spawn(
        {"/usr/bin/python3", "-m", "dbusmock", "--system", "--template", "logind", "-l", log_},
        {"DBUS_SYSTEM_BUS_ADDRESS=" + address_}, scratch + "/mock.out");
    QDBusConnection bus = Bus();
    for (int i = 0; i < 100 && !bus.interface()->isServiceRegistered("org.freedesktop.login1"); ++i)
      QThread::msleep(100);
    ready_ = bus.interface()->isServiceRegistered("org.freedesktop.login1");
  }
  ~LogindMock() {
    QDBusConnection::disconnectFromBus("logind-test");
    if (mockPid_ > 0) ::kill(mockPid_, SIGTERM), testutil::WaitExit(mockPid_, 5000);
    if (busPid_ > 0) ::kill(busPid_, SIGTERM);
  }
  bool ready() const { return ready_; }
  const std::string& address() const { return address_; }
  QDBusConnection Bus() {
    return QDBusConnection::connectToBus(QString::fromStdString(address_), "logind-test");
  }
  // The calls logged so far, one a line ("<time> Hibernate False").
  std::string Log() const { return testutil::ReadFile(log_); }
  // Replaces a method of the manager with python code run by the mock.
  bool SetMethod(const QString& name, const QString& in, const QString& out, const QString& code) {
    QDBusMessage m =
        QDBusMessage::createMethodCall("org.freedesktop.login1", "/org/freedesktop/login1",
                                       "org.freedesktop.DBus.Mock", "AddMethod");
    m.setArguments({QStringLiteral("org.freedesktop.login1.Manager"), name, in, out, code});
    return Bus().call(m).type() == QDBusMessage::ReplyMessage;
  }

 private:
  std::string log_;
  std::string address_;
  pid_t busPid_ = 0;
  pid_t mockPid_ = 0;
  bool ready_ = false;
};
