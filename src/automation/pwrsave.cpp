#include "automation/pwrsave.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QTimer>

#include "app/dbusnames.h"

namespace {

const QString kUPower = QStringLiteral("org.freedesktop.UPower");
const QString kDisplayDevice = QStringLiteral("/org/freedesktop/UPower/devices/DisplayDevice");
const QString kDevice = QStringLiteral("org.freedesktop.UPower.Device");
// A bus that does not answer must not hold the window up.
constexpr int kCallTimeoutMs = 3000;

}  // namespace

TPwrSave::TPwrSave(IPwrSaveHost& host, QObject* parent)
    : TPwrSave(host, QDBusConnection::systemBus(), parent) {}

TPwrSave::TPwrSave(IPwrSaveHost& host, QDBusConnection bus, QObject* parent)
    : QObject(parent), host_(host), bus_(std::move(bus)) {
  Connect();
}

TPwrSave::~TPwrSave() {
  if (!bus_.isConnected()) return;
  bus_.disconnect(dbusname::kLogin1, dbusname::kLogin1Path, dbusname::kLogin1Manager,
                  QStringLiteral("PrepareForSleep"), this, SLOT(PrepareForSleep(bool)));
  bus_.disconnect(kUPower, kDisplayDevice, dbusname::kProperties,
                  QStringLiteral("PropertiesChanged"), this,
                  SLOT(DevicePropertiesChanged(QString, QVariantMap, QStringList)));
}

void TPwrSave::Connect() {
  if (!bus_.isConnected()) return;
  bus_.connect(dbusname::kLogin1, dbusname::kLogin1Path, dbusname::kLogin1Manager,
               QStringLiteral("PrepareForSleep"), this, SLOT(PrepareForSleep(bool)));
  bus_.connect(kUPower, kDisplayDevice, dbusname::kProperties, QStringLiteral("PropertiesChanged"),
               this, SLOT(DevicePropertiesChanged(QString, QVariantMap, QStringList)));
  // The level now, so that only a change to low counts.
  QDBusMessage get = QDBusMessage::createMethodCall(kUPower, kDisplayDevice, dbusname::kProperties,
                                                    QStringLiteral("Get"));
  get.setArguments({kDevice, QStringLiteral("WarningLevel")});
  const QDBusMessage r = bus_.call(get, QDBus::Block, kCallTimeoutMs);
  if (r.type() == QDBusMessage::ReplyMessage && !r.arguments().isEmpty())
    warningLevel_ = qvariant_cast<QDBusVariant>(r.arguments().first()).variant().toUInt();
}

QDBusUnixFileDescriptor TPwrSave::Inhibit(const char* mode) {
  if (!bus_.isConnected()) return {};
  QDBusMessage call =
      QDBusMessage::createMethodCall(dbusname::kLogin1, dbusname::kLogin1Path,
                                     dbusname::kLogin1Manager, QStringLiteral("Inhibit"));
  call.setArguments({QStringLiteral("sleep"), QStringLiteral("Arcavo"),
                     QStringLiteral("An archive is being written"), QString::fromLatin1(mode)});
  const QDBusReply<QDBusUnixFileDescriptor> reply = bus_.call(call, QDBus::Block, kCallTimeoutMs);
  return reply.isValid() ? reply.value() : QDBusUnixFileDescriptor();
}

void TPwrSave::OperationChanged() {
  if (host_.OperationRunning()) {
    if (!block_.isValid()) block_ = Inhibit("block");
    // During a sleep the delay is taken again when the machine is back.
    if (!delay_.isValid() && !pausedForSleep_) delay_ = Inhibit("delay");
  } else {
    // Closing the descriptors gives the inhibitors back.
    block_ = QDBusUnixFileDescriptor();
    delay_ = QDBusUnixFileDescriptor();
    pausedForSleep_ = false;
  }
}

void TPwrSave::PauseNow() {
  ++pauses_;
  host_.PauseOperation();
}

void TPwrSave::PrepareForSleep(bool start) {
  if (start) {
    if (!host_.OperationRunning()) return;
    if (!host_.OperationPaused()) {
      pausedForSleep_ = true;
      // The pause may keep the event loop turning here until the operation continues; the delay
      // is given back from that loop, once the operation has stopped.
      QTimer::singleShot(0, this, [this] { delay_ = QDBusUnixFileDescriptor(); });
      PauseNow();
    } else {
      delay_ = QDBusUnixFileDescriptor();
    }
    return;
  }
  if (OnResumed) OnResumed();
  const bool resume = pausedForSleep_;
  pausedForSleep_ = false;
  if (!host_.OperationRunning()) return;
  if (!delay_.isValid()) delay_ = Inhibit("delay");
  if (resume && host_.OperationPaused()) host_.PauseOperation();
}

void TPwrSave::DevicePropertiesChanged(const QString& iface, const QVariantMap& changed,
                                       const QStringList& /*invalidated*/) {
  if (iface != kDevice) return;
  const auto it = changed.find(QStringLiteral("WarningLevel"));
  if (it == changed.end()) return;
  // A sender may wrap the value in one variant more than the signature asks for.
  QVariant level = *it;
  if (level.metaType() == QMetaType::fromType<QDBusVariant>())
    level = qvariant_cast<QDBusVariant>(level).variant();
  WarningLevel(level.toUInt());
}

void TPwrSave::WarningLevel(uint level) {
  const bool wasLow = warningLevel_ >= kLowWarningLevel;
  warningLevel_ = level;
  // Once when the battery becomes low; a backup the user already paused stays paused.
  if (!wasLow && level >= kLowWarningLevel && host_.BackupRunning() && !host_.OperationPaused())
    PauseNow();
}
