// udisks2 as python3-dbusmock plays it (tests/support/dbusmock/udisks2.py) on a private bus.
#pragma once

#include <signal.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QThread>
#include <string>

#include "testutil.h"

inline bool HaveUdisksMock() {
  return testutil::HaveTool("dbus-daemon") && testutil::Exists("/usr/bin/python3") &&
         testutil::Run("/usr/bin/python3 -c 'import dbusmock'").status == 0;
}

// A private bus with udisks2 as python3-dbusmock plays it, its calls logged to a file.
class UdisksMock {
 public:
  UdisksMock(const std::string& scratch, const std::string& device, const std::string& mount)
      : log_(scratch + "/udisks.log") {
    auto r = testutil::Run("dbus-daemon --session --fork --print-address=1 --print-pid=1");
    if (r.status != 0) return;
    const size_t nl = r.out.find('\n');
    address_ = r.out.substr(0, nl);
    busPid_ = std::stoi(r.out.substr(nl + 1));
    mockPid_ = testutil::Spawn(
        {"/usr/bin/python3", "-m", "dbusmock", "--template", ARCAVO_UDISKS_TEMPLATE, "-p",
         "{\"devices\": \"" + device + "\", \"mount\": \"" + mount + "\", \"log\": \"" + log_ +
             "\"}"},
        {"DBUS_SYSTEM_BUS_ADDRESS=" + address_}, scratch + "/mock.out");
    QDBusConnection bus = Bus();
    for (int i = 0; i < 100 && !bus.interface()->isServiceRegistered("org.freedesktop.UDisks2");
         ++i)
      QThread::msleep(100);
    ready_ = bus.interface()->isServiceRegistered("org.freedesktop.UDisks2");
  }
  ~UdisksMock() {
    QDBusConnection::disconnectFromBus("udisks-test");
    if (mockPid_ > 0) ::kill(mockPid_, SIGTERM), testutil::WaitExit(mockPid_, 5000);
    if (busPid_ > 0) ::kill(busPid_, SIGTERM);
  }
  bool ready() const { return ready_; }
  QDBusConnection Bus() {
    return QDBusConnection::connectToBus(QString::fromStdString(address_), "udisks-test");
  }
  std::string Log() const { return testutil::ReadFile(log_); }
  // Replaces a method of one of the mock's objects with python code run by the mock.
  bool SetMethod(const QString& object, const QString& iface, const QString& name,
                 const QString& in, const QString& code) {
    QDBusMessage m = QDBusMessage::createMethodCall("org.freedesktop.UDisks2", object,
                                                    "org.freedesktop.DBus.Mock", "AddMethod");
    m.setArguments({iface, name, in, QString(), code});
    return Bus().call(m).type() == QDBusMessage::ReplyMessage;
  }

 private:
  std::string log_;
  std::string address_;
  pid_t busPid_ = 0;
  pid_t mockPid_ = 0;
  bool ready_ = false;
};
