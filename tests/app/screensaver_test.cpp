// The screen saver is held off through the freedesktop ScreenSaver service on a private bus.
#include <gtest/gtest.h>
#include <signal.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QThread>

#include "app/screensaver.h"
#include "testutil.h"

namespace {

// The service, living on its own thread so the window thread's blocking call is answered.
class FakeScreenSaver : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
 public:
  std::atomic<int> inhibits{0};
  std::atomic<int> releases{0};
  std::atomic<uint> lastReleased{0};
 public slots:
  uint Inhibit(const QString& app, const QString& reason) {
    if (app.isEmpty() || reason.isEmpty()) return 0;
    return 40 + ++inhibits;
  }
  void UnInhibit(uint cookie) {
    lastReleased = cookie;
    ++releases;
  }
};

class PrivateBus {
 public:
  PrivateBus() {
    auto r = testutil::Run("dbus-daemon --session --fork --print-address=1 --print-pid=1");
    if (r.status != 0) return;
    auto nl = r.out.find('\n');
    address_ = QString::fromStdString(r.out.substr(0, nl));
    pid_ = std::stoi(r.out.substr(nl + 1));
  }
  ~PrivateBus() {
    if (pid_ > 0) ::kill(pid_, SIGTERM);
  }
  bool ok() const { return pid_ > 0; }
  QString address() const { return address_; }

 private:
  QString address_;
  int pid_ = 0;
};

TEST(ScreenSaver, InhibitedWhileInFrontAndReleasedAfter) {
  if (!testutil::HaveTool("dbus-daemon")) GTEST_SKIP() << "dbus-daemon not installed";
  PrivateBus bus;
  ASSERT_TRUE(bus.ok());
  QDBusConnection client = QDBusConnection::connectToBus(bus.address(), "ss-client");
  ASSERT_TRUE(client.isConnected());

  // Without the service nothing happens and nothing waits.
  {
    ScreenSaverInhibitor none(client);
    none.SetInhibited(true);
    EXPECT_FALSE(none.inhibited());
  }

  QThread serviceThread;
  serviceThread.start();
  FakeScreenSaver service;
  service.moveToThread(&serviceThread);
  QDBusConnection server = QDBusConnection::connectToBus(bus.address(), "ss-service");
  ASSERT_TRUE(server.registerService(ScreenSaverInhibitor::kService));
  ASSERT_TRUE(server.registerObject(ScreenSaverInhibitor::kPath, &service,
                                    QDBusConnection::ExportAllSlots));
  {
    ScreenSaverInhibitor inhibitor(client);
    inhibitor.SetInhibited(true);
    inhibitor.SetInhibited(true);  // once only
    EXPECT_TRUE(inhibitor.inhibited());
    EXPECT_EQ(service.inhibits, 1);
    inhibitor.SetInhibited(false);
    EXPECT_FALSE(inhibitor.inhibited());
    for (int i = 0; i < 100 && service.releases == 0; ++i) QThread::msleep(10);
    EXPECT_EQ(service.releases, 1);
    EXPECT_EQ(service.lastReleased, 41u);
    inhibitor.SetInhibited(true);
  }
  // Going away releases a held inhibition.
  for (int i = 0; i < 100 && service.releases < 2; ++i) QThread::msleep(10);
  EXPECT_EQ(service.releases, 2);
  server.unregisterObject(ScreenSaverInhibitor::kPath);
  serviceThread.quit();
  serviceThread.wait();
  QDBusConnection::disconnectFromBus("ss-client");
  QDBusConnection::disconnectFromBus("ss-service");
}

}  // namespace

#include "screensaver_test.moc"
