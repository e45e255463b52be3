// A private D-Bus daemon with one python3-dbusmock service on it, standing in for the system bus.
// Nothing here ever reaches the machine's real system bus.
#pragma once

#include <signal.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QThread>
#include <string>
#include <vector>

#include "testutil.h"

inline bool HaveDbusMock() {
  return testutil::HaveTool("dbus-daemon") && testutil::Exists("/usr/bin/python3") &&
         testutil::Run("/usr/bin/python3 -c 'import dbusmock'").status == 0;
}

class DbusMockBus {
 public:
  // Starts the bus, then `python3 -m dbusmock mockArgs...` on it, and waits (10 s at most) until
  // `service` is registered. connection: the name of this process's connection to the bus.
  DbusMockBus(const std::string& scratch, const std::vector<std::string>& mockArgs,
              const char* service, const char* connection)
      : connection_(connection) {
    auto r = testutil::Run("dbus-daemon --session --fork --print-address=1 --print-pid=1");
    if (r.status != 0) return;
    const size_t nl = r.out.find('\n');
    address_ = r.out.substr(0, nl);
    busPid_ = std::stoi(r.out.substr(nl + 1));
    std::vector<std::string> argv = {"/usr/bin/python3", "-m", "dbusmock"};
    argv.insert(argv.end(), mockArgs.begin(), mockArgs.end());
    mockPid_ =
        testutil::Spawn(argv, {"DBUS_SYSTEM_BUS_ADDRESS=" + address_}, scratch + "/mock.out");
    QDBusConnection bus = Bus();
    const QString name = QString::fromLatin1(service);
    for (int i = 0; i < 100 && !bus.interface()->isServiceRegistered(name); ++i)
      QThread::msleep(100);
    ready_ = bus.interface()->isServiceRegistered(name);
  }
  ~DbusMockBus() {
    QDBusConnection::disconnectFromBus(connection_);
    if (mockPid_ > 0) ::kill(mockPid_, SIGTERM), testutil::WaitExit(mockPid_, 5000);
    if (busPid_ > 0) ::kill(busPid_, SIGTERM);
  }
  DbusMockBus(const DbusMockBus&) = delete;
  DbusMockBus& operator=(const DbusMockBus&) = delete;

  bool ready() const { return ready_; }
  const std::string& address() const { return address_; }
  QDBusConnection Bus() {
    return QDBusConnection::connectToBus(QString::fromStdString(address_), connection_);
  }

 private:
  QString connection_;
  std::string address_;
  pid_t busPid_ = 0;
  pid_t mockPid_ = 0;
  bool ready_ = false;
};
