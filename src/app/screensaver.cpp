#include "app/screensaver.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>

namespace {
// The bus must answer quickly; the window never waits long for a screen saver.
constexpr int kCallTimeoutMs = 1000;
}  // namespace

ScreenSaverInhibitor::ScreenSaverInhibitor(QDBusConnection bus) : bus_(std::move(bus)) {}

ScreenSaverInhibitor::~ScreenSaverInhibitor() {
  SetInhibited(false);
}

void ScreenSaverInhibitor::SetInhibited(bool on) {
  if (on == (cookie_ != 0) || !bus_.isConnected()) return;
  const QString service = QString::fromLatin1(kService);
  if (on) {
    QDBusConnectionInterface* iface = bus_.interface();
    if (!iface || !iface->isServiceRegistered(service).value()) return;
    QDBusMessage m = QDBusMessage::createMethodCall(service, QString::fromLatin1(kPath), service,
                                                    QStringLiteral("Inhibit"));
    m << QStringLiteral("arcavo") << QStringLiteral("Arcavo is in front");
    QDBusReply<uint> reply = bus_.call(m, QDBus::Block, kCallTimeoutMs);
    if (reply.isValid()) cookie_ = reply.value();
  } else {
    QDBusMessage m = QDBusMessage::createMethodCall(service, QString::fromLatin1(kPath), service,
                                                    QStringLiteral("UnInhibit"));
    m << cookie_;
    cookie_ = 0;
    bus_.call(m, QDBus::NoBlock);
  }
}
