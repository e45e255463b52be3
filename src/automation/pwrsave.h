// Power events: the machine does not go to sleep in the middle of an archive operation, a sleep
// that comes anyway pauses the operation first, and a low battery pauses a backup.
//
// Over systemd-logind on the system bus: while an archive operation runs the component holds a
// "block" inhibitor for sleep (a sleep asked for by the user is refused) and a "delay" inhibitor
// (a sleep that happens anyway, such as a forced one, waits until the operation is paused). On
// PrepareForSleep(true) the operation is paused and the delay given back so the machine can go;
// on PrepareForSleep(false) it continues and a new delay is taken. UPower's display device
// reports the battery: its WarningLevel rising to low (3) or worse during a backup pauses the
// backup once. Without a system bus, logind or UPower nothing of this happens.
#pragma once

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <functional>
#include <optional>

class IPwrSaveHost {
 public:
  virtual ~IPwrSaveHost() = default;
  // An archive operation runs (a backup from its start to the end of its writing, an
  // extraction, a test, ...), and whether it is a backup.
  virtual bool OperationRunning() const = 0;
  virtual bool BackupRunning() const = 0;
  virtual bool OperationPaused() const = 0;
  // The "Pause" button's operation: pauses a running operation, or continues a paused one.
  // Pausing may turn the event loop until the operation continues.
  virtual void PauseOperation() = 0;
};

class TPwrSave : public QObject {
  Q_OBJECT
 public:
  static constexpr int kLowWarningLevel = 3;

  // Without a connection, the system bus.
  explicit TPwrSave(IPwrSaveHost& host, QObject* parent = nullptr);
  TPwrSave(IPwrSaveHost& host, QDBusConnection bus, QObject* parent = nullptr);
  ~TPwrSave() override;

  // An archive operation started or ended: the inhibitors follow OperationRunning().
  void OperationChanged();

  // The machine woke from a sleep (PrepareForSleep(false)).
  std::function<void()> OnResumed;

  bool Blocking() const { return block_.isValid(); }
  bool Delaying() const { return delay_.isValid(); }
  // Pauses made for a sleep or a low battery.
  int Pauses() const { return pauses_; }

 private slots:
  void PrepareForSleep(bool start);
  void DevicePropertiesChanged(const QString& iface, const QVariantMap& changed,
                               const QStringList& invalidated);

 private:
  void Connect();
  QDBusUnixFileDescriptor Inhibit(const char* mode);
  void WarningLevel(uint level);
  void PauseNow();

  IPwrSaveHost& host_;
  QDBusConnection bus_;
  QDBusUnixFileDescriptor block_;
  QDBusUnixFileDescriptor delay_;
  // The operation was paused for the sleep now going on.
  bool pausedForSleep_ = false;
  uint warningLevel_ = 0;
  int pauses_ = 0;
};
