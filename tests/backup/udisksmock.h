// udisks2 as python3-dbusmock plays it (tests/support/dbusmock/udisks2.py) on a private bus.
#pragma once

#include <QDBusMessage>
#include <string>

#include "dbusmockbus.h"

inline bool HaveUdisksMock() {
  return HaveDbusMock();
}

class UdisksMock : public DbusMockBus {
 public:
  UdisksMock(const std::string& scratch, const std::string& device, const std::string& mount)
      : DbusMockBus(scratch,
                    {"--template", ARCAVO_UDISKS_TEMPLATE, "-p",
                     "{\"devices\": \"" + device + "\", \"mount\": \"" + mount + "\", \"log\": \"" +
                         scratch + "/udisks.log\"}"},
                    "org.freedesktop.UDisks2", "udisks-test"),
        log_(scratch + "/udisks.log") {}
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
};
