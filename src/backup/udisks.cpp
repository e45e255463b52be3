#include "backup/udisks.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QVariantMap>

#include "app/dbusnames.h"

namespace {

const QString kService = QStringLiteral("org.freedesktop.UDisks2");
const QString kBlock = QStringLiteral("org.freedesktop.UDisks2.Block");
const QString kFilesystem = QStringLiteral("org.freedesktop.UDisks2.Filesystem");
const QString kDrive = QStringLiteral("org.freedesktop.UDisks2.Drive");
// Questions about rights may be asked of the user by the desktop's agent; a call waits for it.
constexpr int kCallTimeoutMs = 60000;

}  // namespace

QDBusConnection& TUdisks2::Bus() {
  if (!bus_) bus_.emplace(QDBusConnection::systemBus());
  return *bus_;
}

QString TUdisks2::ObjectPath(const std::string& device) {
  // udisks writes every character other than a letter or a digit as "_" and two hex digits.
  QString path = QStringLiteral("/org/freedesktop/UDisks2/block_devices/");
  for (const unsigned char c : device) {
    if (std::isalnum(c))
      path += QLatin1Char(static_cast<char>(c));
    else
      path += QStringLiteral("_%1").arg(c, 2, 16, QLatin1Char('0'));
  }
  return path;
}

namespace {

QDBusMessage CallObject(QDBusConnection& bus, const QString& object, const QString& iface,
                        const QString& method, const QVariantList& args) {
  QDBusMessage m = QDBusMessage::createMethodCall(kService, object, iface, method);
  m.setArguments(args);
  m.setInteractiveAuthorizationAllowed(true);
  return bus.call(m, QDBus::Block, kCallTimeoutMs);
}

QDBusMessage Call(QDBusConnection& bus, const std::string& device, const QString& iface,
                  const QString& method, const QVariantList& args) {
  return CallObject(bus, TUdisks2::ObjectPath(device), iface, method, args);
}

QVariant Property(QDBusConnection& bus, const std::string& device, const QString& iface,
                  const QString& name) {
  const QDBusMessage r =
      Call(bus, device, dbusname::kProperties, QStringLiteral("Get"), {iface, name});
  if (r.type() != QDBusMessage::ReplyMessage || r.arguments().isEmpty()) return {};
  return qvariant_cast<QDBusVariant>(r.arguments().first()).variant();
}

// The mount points of a file system: an array of NUL-terminated byte strings.
QList<QByteArray> MountPoints(QDBusConnection& bus, const std::string& device) {
  QList<QByteArray> out;
  const QVariant v = Property(bus, device, kFilesystem, QStringLiteral("MountPoints"));
  if (!v.isValid()) return out;
  if (v.canConvert<QDBusArgument>()) {
    const QDBusArgument arg = qvariant_cast<QDBusArgument>(v);
    arg.beginArray();
    while (!arg.atEnd()) {
      QByteArray point;
      arg >> point;
      out << point;
    }
    arg.endArray();
  } else if (v.canConvert<QList<QByteArray>>()) {
    out = v.value<QList<QByteArray>>();
  }
  for (QByteArray& p : out)
    if (p.endsWith('\0')) p.chop(1);
  return out;
}

}  // namespace

bool TUdisks2::Manages(const std::string& device) {
  if (device.empty() || !Bus().isConnected()) return false;
  return Property(Bus(), device, kFilesystem, QStringLiteral("MountPoints")).isValid();
}

bool TUdisks2::SetLabel(const std::string& device, const std::string& label) {
  const QDBusMessage r = Call(Bus(), device, kFilesystem, QStringLiteral("SetLabel"),
                              {QString::fromStdString(label), QVariantMap()});
  return r.type() == QDBusMessage::ReplyMessage;
}

bool TUdisks2::Unmount(const std::string& device) {
  return Answered(Call(Bus(), device, kFilesystem, QStringLiteral("Unmount"),
                       {QVariant::fromValue(QVariantMap())}));
}

bool TUdisks2::Answered(const QDBusMessage& reply) {
  if (reply.type() == QDBusMessage::ReplyMessage) return true;
  lastError_ = reply.errorMessage().isEmpty() ? reply.errorName().toStdString()
                                              : reply.errorMessage().toStdString();
  return false;
}

QString TUdisks2::DriveOf(const std::string& device) {
  if (device.empty() || !Bus().isConnected()) return {};
  const QString drive =
      qvariant_cast<QDBusObjectPath>(Property(Bus(), device, kBlock, QStringLiteral("Drive")))
          .path();
  // A block device without a drive (a loop device, a partition of nothing) answers "/".
  return drive == QLatin1String("/") ? QString() : drive;
}

bool TUdisks2::Eject(const QString& drive) {
  return Answered(CallObject(Bus(), drive, kDrive, QStringLiteral("Eject"),
                             {QVariant::fromValue(QVariantMap())}));
}

std::string TUdisks2::Mount(const std::string& device) {
  const QDBusMessage r = Call(Bus(), device, kFilesystem, QStringLiteral("Mount"),
                              {QVariant::fromValue(QVariantMap())});
  if (r.type() != QDBusMessage::ReplyMessage || r.arguments().isEmpty()) return {};
  return r.arguments().first().toString().toStdString();
}

std::string TUdisks2::MountPoint(const std::string& device) {
  const QList<QByteArray> points = MountPoints(Bus(), device);
  return points.isEmpty() ? std::string() : points.first().toStdString();
}

std::string TUdisks2::IdLabel(const std::string& device) {
  return Property(Bus(), device, kBlock, QStringLiteral("IdLabel")).toString().toStdString();
}

std::string TLabellingVolumeService::ReadLabel(const std::string& p) {
  const std::string label = base_.ReadLabel(p);
  if (!label.empty()) return label;
  const TDriveFacts f = base_.Drive(p);
  return f.device.empty() || !disks_.Manages(f.device) ? std::string() : disks_.IdLabel(f.device);
}

bool TLabellingVolumeService::WriteLabel(const std::string& path, const std::string& label) {
  const TDriveFacts f = base_.Drive(path);
  if (!f.removable || f.device.empty()) return base_.WriteLabel(path, label);
  // A medium the service does not manage, or a label it refuses, stays as it is.
  return disks_.Manages(f.device) && disks_.SetLabel(f.device, label);
}
