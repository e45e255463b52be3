#include "backup/xwinreboot.h"

#include <time.h>

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include "app/dbusnames.h"

namespace {

// An interactive call waits for the user to answer the desktop's authentication question.
constexpr int kInteractiveTimeoutMs = 300000;
constexpr int kTimeoutMs = 25000;

int64_t MonotonicMs() {
  timespec ts{};
  // CLOCK_MONOTONIC stands still while the machine sleeps: a limit measured with it counts
  // only the time the machine is awake.
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

// Receives logind's PrepareForSleep: true before the machine goes to sleep, false after it
// resumed.
class TSleepListener : public QObject {
  Q_OBJECT
 public:
  bool started = false;
  bool resumed = false;
 public slots:
  void PrepareForSleep(bool start) {
    if (start)
      started = true;
    else if (started)
      resumed = true;
  }
};

QDBusConnection& TXWinReboot::Bus() {
  if (!bus_) bus_.emplace(QDBusConnection::systemBus());
  return *bus_;
}

bool TXWinReboot::Fail(const QString& why) {
  reason_ = why;
  return false;
}

bool TXWinReboot::Execute() {
  reason_.clear();
  QDBusConnection& bus = Bus();
  if (!bus.isConnected() || !bus.interface() ||
      !bus.interface()->isServiceRegistered(dbusname::kLogin1).value())
    return Fail(QStringLiteral("logind not available"));

  QString method, can;
  switch (Operation) {
    case roHibernate:
      method = QStringLiteral("Hibernate"), can = QStringLiteral("CanHibernate");
      break;
    case roSuspend:
      method = QStringLiteral("Suspend"), can = QStringLiteral("CanSuspend");
      break;
    case roShutDown:
      method = QStringLiteral("PowerOff"), can = QStringLiteral("CanPowerOff");
      break;
    case roReboot:
      method = QStringLiteral("Reboot"), can = QStringLiteral("CanReboot");
      break;
    case roLogOff:
      method = QStringLiteral("TerminateSession");
      break;
  }

  if (!can.isEmpty()) {
    const QDBusMessage r =
        bus.call(QDBusMessage::createMethodCall(dbusname::kLogin1, dbusname::kLogin1Path,
                                                dbusname::kLogin1Manager, can),
                 QDBus::Block, kTimeoutMs);
    if (r.type() != QDBusMessage::ReplyMessage || r.arguments().isEmpty())
      return Fail(r.errorMessage().isEmpty() ? can + QStringLiteral(" failed") : r.errorMessage());
    const QString answer = r.arguments().first().toString();
    // "challenge": allowed once the user authenticates, which needs a user.
    const bool allowed =
        answer == QLatin1String("yes") || (Interactive && answer == QLatin1String("challenge"));
    if (!allowed) return Fail(can + QStringLiteral(": ") + answer);
  }

  const bool sleeping = Operation == roHibernate || Operation == roSuspend;
  TSleepListener listener;
  if (sleeping &&
      !bus.connect(dbusname::kLogin1, dbusname::kLogin1Path, dbusname::kLogin1Manager,
                   QStringLiteral("PrepareForSleep"), &listener, SLOT(PrepareForSleep(bool))))
    return Fail(QStringLiteral("cannot follow logind's sleep signal"));

  QDBusMessage call = QDBusMessage::createMethodCall(dbusname::kLogin1, dbusname::kLogin1Path,
                                                     dbusname::kLogin1Manager, method);
  if (Operation == roLogOff) {
    // The session this program runs in; logind resolves "auto" to the caller's session.
    QString session = qEnvironmentVariable("XDG_SESSION_ID");
    if (session.isEmpty()) session = QStringLiteral("auto");
    call.setArguments({session});
  } else {
    call.setArguments({Interactive});
  }
  call.setInteractiveAuthorizationAllowed(Interactive);
  const QDBusMessage r =
      bus.call(call, QDBus::Block, Interactive ? kInteractiveTimeoutMs : kTimeoutMs);
  bool ok = r.type() == QDBusMessage::ReplyMessage;
  if (!ok)
    reason_ = r.errorMessage().isEmpty() ? method + QStringLiteral(" failed") : r.errorMessage();
  else if (sleeping)
    ok = WaitForSleep(listener);
  if (sleeping) {
    // Signals already queued are delivered (and dropped) before the listener goes away.
    bus.disconnect(dbusname::kLogin1, dbusname::kLogin1Path, dbusname::kLogin1Manager,
                   QStringLiteral("PrepareForSleep"), &listener, SLOT(PrepareForSleep(bool)));
  }
  return ok;
}

// Runs the program's events until the listener saw the machine go to sleep and come back.
bool TXWinReboot::WaitForSleep(const TSleepListener& listener) {
  auto waitFor = [](const bool& flag, int limitMs) {
    const int64_t end = MonotonicMs() + limitMs;
    while (!flag && MonotonicMs() < end) {
      QEventLoop loop;
      QTimer::singleShot(50, &loop, &QEventLoop::quit);
      loop.exec();
    }
    return flag;
  };
  if (!waitFor(listener.started, SleepStartLimitMs))
    return Fail(QStringLiteral("the machine did not go to sleep"));
  if (!waitFor(listener.resumed, ResumeLimitMs))
    return Fail(QStringLiteral("no word from logind that the machine resumed"));
  return true;
}

#include "xwinreboot.moc"
