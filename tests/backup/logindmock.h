// systemd-logind as python3-dbusmock's own template plays it, on a private bus with its calls
// logged to a file. Nothing here ever reaches the machine's real system bus.
#pragma once

#include <QDBusMessage>
#include <string>

#include "dbusmockbus.h"

inline bool HaveLogindMock() {
  return HaveDbusMock();
}

class LogindMock : public DbusMockBus {
 public:
  explicit LogindMock(const std::string& scratch)
      : DbusMockBus(scratch, {"--system", "--template", "logind", "-l", scratch + "/logind.log"},
                    "org.freedesktop.login1", "logind-test"),
        log_(scratch + "/logind.log") {}
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
};
